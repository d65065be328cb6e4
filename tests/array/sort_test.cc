// Sorting and index tables against std::sort and the ascending-key property.
#include "array/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "support/death.h"

namespace {

// Samples with many ties, for lengths around the insertion/partition switch.
std::vector<float> tied_samples(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> level(0, 9);
  std::vector<float> v(n);
  for (auto& x : v) x = static_cast<float>(level(gen)) * 0.5f - 2.0f;
  return v;
}

const std::size_t kLengths[] = {1, 2, 3, 7, 8, 9, 15, 64, 1000, 4099};

}  // namespace

// Sorts a 1-based copy of v (element 0 a guard) and compares with std::sort.
template <class T>
void expect_sorted_like_std(std::vector<T> v) {
  std::vector<T> one_based(v.size() + 1, T(-99));
  std::copy(v.begin(), v.end(), one_based.begin() + 1);
  sort(static_cast<unsigned long>(v.size()), one_based.data());
  std::sort(v.begin(), v.end());
  EXPECT_EQ(one_based[0], T(-99)) << "n = " << v.size();
  EXPECT_TRUE(std::equal(v.begin(), v.end(), one_based.begin() + 1)) << "n = " << v.size();
}

TEST(Sort, OneBasedFormsAgreeWithStdSortIncludingTies) {
  for (std::size_t n : kLengths) {
    std::vector<float> v = tied_samples(n, 7 + n);
    expect_sorted_like_std(v);
    expect_sorted_like_std(std::vector<double>(v.rbegin(), v.rend()));
    std::vector<int> k(n);
    for (std::size_t i = 0; i < n; ++i) k[i] = static_cast<int>(v[i] * 2.0f);
    expect_sorted_like_std(k);
  }
}

TEST(Sort, ZeroBasedFormsAndDegenerateInputs) {
  std::vector<float> equal(1000, 3.0f);
  sort_from0(equal.size(), equal.data());  // must not exhaust the partition stack
  EXPECT_TRUE(std::all_of(equal.begin(), equal.end(), [](float x) { return x == 3.0f; }));

  // Reversed input is the slow case of the median-of-three partition.
  std::vector<int> descending(20000);
  std::iota(descending.rbegin(), descending.rend(), -5);
  sort_from0(descending.size(), descending.data());
  EXPECT_TRUE(std::is_sorted(descending.begin(), descending.end()));
  EXPECT_EQ(descending.front(), -5);

  std::vector<double> single = {4.0};
  sort_from0(1, single.data());
  EXPECT_EQ(single[0], 4.0);
  sort_from0(0, single.data());  // empty: nothing touched
  EXPECT_EQ(single[0], 4.0);
}

TEST(Indexx, OrdersByValueAndLeavesValues) {
  // The stated example: a = [3, 1, 2] gives [2, 3, 1].
  float small[4] = {0.0f, 3.0f, 1.0f, 2.0f};
  unsigned long idx[4] = {0, 0, 0, 0};
  indexx(3UL, small, idx);
  EXPECT_EQ(idx[1], 2UL);
  EXPECT_EQ(idx[2], 3UL);
  EXPECT_EQ(idx[3], 1UL);

  for (std::size_t n : kLengths) {
    std::vector<float> v = tied_samples(n, 100 + n);
    std::vector<float> one_based(n + 1, 0.0f);
    std::copy(v.begin(), v.end(), one_based.begin() + 1);
    std::vector<unsigned long> order(n + 1, 0);
    indexx(static_cast<unsigned long>(n), one_based.data(), order.data());
    std::vector<std::size_t> order0(n);
    indexx_from0(n, v.data(), order0.data());

    // Values unchanged, every label used once, keys ascending.
    EXPECT_TRUE(std::equal(v.begin(), v.end(), one_based.begin() + 1));
    std::vector<unsigned long> labels(order.begin() + 1, order.end());
    std::sort(labels.begin(), labels.end());
    for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(labels[k], k + 1);
    for (std::size_t k = 1; k < n; ++k) {
      EXPECT_LE(one_based[order[k]], one_based[order[k + 1]]);
      EXPECT_LE(v[order0[k - 1]], v[order0[k]]);
    }
    // Same permutation, shifted by one, from both forms.
    for (std::size_t k = 0; k < n; ++k) EXPECT_EQ(order[k + 1], order0[k] + 1);
  }

  double d[4] = {0.0, 0.5, -1.0, 0.5};
  int di[4] = {0, 0, 0, 0};
  indexx(3, d, di);
  EXPECT_EQ(di[1], 2);
  EXPECT_LE(d[di[2]], d[di[3]]);
}

TEST(Sortb, HeapsortAgreesWithStdSort) {
  float five[6] = {0.0f, 5.0f, 4.0f, 3.0f, 2.0f, 1.0f};
  sortb(5, five);
  for (int k = 1; k <= 5; ++k) EXPECT_EQ(five[k], static_cast<float>(k));

  for (std::size_t n : kLengths) {
    std::vector<float> v = tied_samples(n, 300 + n);
    std::vector<float> one_based(n + 1, 0.0f);
    std::copy(v.begin(), v.end(), one_based.begin() + 1);
    sortb(static_cast<int>(n), one_based.data());
    std::sort(v.begin(), v.end());
    EXPECT_TRUE(std::equal(v.begin(), v.end(), one_based.begin() + 1)) << "n = " << n;
  }
}
