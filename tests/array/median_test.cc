// Median networks, selection and heap-sort medians against sorted references.
#include "array/median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

template <class T>
T sorted_at(std::vector<T> v, int k) {
  std::nth_element(v.begin(), v.begin() + k, v.end());
  return v[k];
}

// Each network must select the median of every 0/1 input (which by the 0-1
// principle covers every input order of a comparator network) and of random
// inputs with many ties, which also show any step that is not an exchange.
template <class T>
void check_network(int n, T (*network)(T*)) {
  for (int bits = 0; bits < (1 << n); bits++) {
    std::vector<T> v(n);
    for (int i = 0; i < n; i++) v[i] = T((bits >> i) & 1);
    std::vector<T> work = v;
    ASSERT_EQ(network(work.data()), sorted_at(v, n / 2)) << "bits " << bits;
  }
  std::mt19937 gen(n);
  std::uniform_int_distribution<int> small(-3, 3);
  for (int t = 0; t < 2000; t++) {
    std::vector<T> v(n);
    for (auto& x : v) x = T(small(gen)) * T(1.5);
    std::vector<T> work = v;
    ASSERT_EQ(network(work.data()), sorted_at(v, n / 2));
    std::sort(work.begin(), work.end());
    std::sort(v.begin(), v.end());
    ASSERT_EQ(work, v) << "the network must only permute its input";
  }
}

}  // namespace

TEST(MedianNetworks, SelectTheMedianOfEveryInput) {
  check_network<int>(3, opt_med3);
  check_network<int>(5, opt_med5);
  check_network<int>(7, opt_med7);
  check_network<int>(9, opt_med9);
  check_network<float>(3, opt_med3);
  check_network<float>(5, opt_med5);
  check_network<float>(7, opt_med7);
  check_network<float>(9, opt_med9);
}

TEST(KthSmallest, AgreesWithNthElementAndPartitions) {
  std::mt19937 gen(11);
  for (int t = 0; t < 3000; t++) {
    int n = 1 + t % 97;
    std::uniform_int_distribution<int> value(-n / 4, n / 4);  // many ties
    std::vector<float> v(n);
    for (auto& x : v) x = value(gen) * 0.5f;
    int k = std::uniform_int_distribution<int>(0, n - 1)(gen);
    std::vector<float> work = v;
    float got = kth_smallest(work.data(), n, k);
    ASSERT_EQ(got, sorted_at(v, k));
    ASSERT_EQ(work[k], got);
    for (int i = 0; i < k; i++) ASSERT_LE(work[i], got);
    for (int i = k + 1; i < n; i++) ASSERT_GE(work[i], got);
    // get_median takes the lower middle value.
    std::vector<int> iv(v.size());
    for (int i = 0; i < n; i++) iv[i] = value(gen);
    std::vector<int> iwork = iv;
    ASSERT_EQ(get_median(iwork.data(), n), sorted_at(iv, (n - 1) / 2));
  }
  int a[4] = {4, 1, 3, 2};
  EXPECT_EQ(get_median(a, 4), 2);
}

TEST(AbsMedian, OrdersByMagnitudeAndKeepsSigns) {
  float a[3] = {-5, 1, -2};
  EXPECT_EQ(get_abs_median(a, 3), 2.f);
  std::vector<float> held(a, a + 3);
  std::sort(held.begin(), held.end());
  EXPECT_EQ(held, (std::vector<float>{-5, -2, 1}));

  std::mt19937 gen(9);
  for (int t = 0; t < 2000; t++) {
    int n = 1 + t % 64;
    std::vector<int> v(n);
    for (auto& x : v) x = std::uniform_int_distribution<int>(-6, 6)(gen);
    std::vector<int> mags(n);
    for (int i = 0; i < n; i++) mags[i] = std::abs(v[i]);
    int k = t % n;
    std::vector<int> work = v;
    int got = abs_kth_smallest(work.data(), n, k);
    ASSERT_EQ(got, sorted_at(mags, k));
    for (int i = 0; i < k; i++) ASSERT_LE(std::abs(work[i]), got);
    for (int i = k + 1; i < n; i++) ASSERT_GE(std::abs(work[i]), got);
    std::vector<float> fv(v.begin(), v.end());
    ASSERT_EQ(get_abs_median(fv.data(), n), float(sorted_at(mags, (n - 1) / 2)));
    std::sort(work.begin(), work.end());
    std::sort(v.begin(), v.end());
    ASSERT_EQ(work, v);
  }
}

TEST(HeapMedian, SortsAndAveragesTheMiddlePair) {
  int ai[4] = {4, 1, 3, 2};
  EXPECT_EQ(hmedian(ai, 4), 2);
  float af[4] = {4, 1, 3, 2};
  EXPECT_EQ(hmedian(af, 4), 2.5f);
  int neg[2] = {-3, -2};
  EXPECT_EQ(hmedian(neg, 2), -2);
  int big[2] = {2147483647, 2147483645};
  EXPECT_EQ(hmedian(big, 2), 2147483646);

  std::mt19937 gen(13);
  for (int n = 1; n < 300; n++) {
    std::vector<float> v(n);
    for (auto& x : v) x = std::uniform_int_distribution<int>(-50, 50)(gen) * 0.25f;
    std::vector<float> sorted = v;
    std::sort(sorted.begin(), sorted.end());
    float expected = n % 2 ? sorted[n / 2] : float((sorted[n / 2 - 1] + sorted[n / 2]) / 2.0);
    ASSERT_EQ(hmedian(v.data(), n), expected) << n;
    if (n > 1) {
      ASSERT_EQ(v, sorted) << n;
    }
  }
}
