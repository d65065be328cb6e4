// Reductions and element arithmetic of to_array, and the INFO summary line,
// against brute-force sums and hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "array/array_ops.h"
#include "array/to_array.h"
#include "support/death.h"
#include "support/test_images.h"

TEST(ArrayReductions, SumsAgreeWithBruteForce) {
  // Above the pool threshold and not a multiple of any unrolling width.
  to_array<float, false> img(251, 207);
  fill_random(img, 1, -3.f, 5.f);
  long double sum = 0, squares = 0;
  for (int k = 0; k < img.n_elem(); k++) sum += img(k);
  long double mean = sum / img.n_elem();
  for (int k = 0; k < img.n_elem(); k++) squares += (img(k) - mean) * (img(k) - mean);
  EXPECT_NEAR(img.total(), double(sum), 1e-9 * std::fabs(double(sum)));
  EXPECT_NEAR(img.mean(), double(mean), 1e-12);
  EXPECT_NEAR(img.sigma(), std::sqrt(double(squares / img.n_elem())), 1e-12);

  // energy accumulates in float: equal to a float loop, close to the double sum.
  float fsum = 0.f;
  double dsum = 0.;
  for (int k = 0; k < img.n_elem(); k++) {
    float sq = img(k) * img(k);
    fsum += sq;
    dsum += double(img(k)) * img(k);
  }
  EXPECT_EQ(img.energy(), fsum);
  EXPECT_NEAR(img.energy(), dsum, 1e-4 * dsum);

  to_array<int, true> counts(1000);
  long long isum = 0;
  for (int k = 0; k < 1000; k++) isum += counts(k) = 2000000 + k;  // past int range
  EXPECT_EQ(counts.total(), double(isum));
}

TEST(ArrayReductions, SigmaFloorsTheVariance) {
  to_array<float, true> flat(10);
  flat.init(3.7f);
  EXPECT_EQ(flat.sigma(), 0.0);
  EXPECT_EQ(signal({0, 0.0002f}).sigma(), 0.0);  // variance 1e-8
  EXPECT_NEAR(signal({0, 0.002f}).sigma(), 0.001, 1e-9);
}

TEST(ArrayReductions, ExtremesKeepTheFirstOccurrence) {
  int index = -1;
  EXPECT_EQ(signal({1, 5, 5, 2}).max(index), 5.f);
  EXPECT_EQ(index, 1);
  to_array<int, false> b(1, 3);
  b(0) = 3; b(1) = 1; b(2) = 1;
  EXPECT_EQ(b.min(index), 1);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(signal({2, -7, 7}).maxfabs(index), -7.f);
  EXPECT_EQ(index, 1);
  index = -1;
  EXPECT_EQ(signal({0, 0, 0}).maxfabs(index), 0.f);
  EXPECT_EQ(index, 0);

  to_array<float, false> img(60, 70);
  fill_random(img, 2, -100.f, 100.f);
  int lo = 0, hi = 0, mag = 0;
  for (int k = 1; k < img.n_elem(); k++) {
    if (img(k) < img(lo)) lo = k;
    if (img(k) > img(hi)) hi = k;
    if (std::fabs(img(k)) > std::fabs(img(mag))) mag = k;
  }
  EXPECT_EQ(img.min(index), img(lo));
  EXPECT_EQ(index, lo);
  EXPECT_EQ(img.max(index), img(hi));
  EXPECT_EQ(index, hi);
  EXPECT_EQ(img.maxfabs(index), img(mag));
  EXPECT_EQ(index, mag);
}

TEST(ArrayArithmetic, ElementwiseOperatorsRoundTrip) {
  fltarray low = signal({-1, 2, -3});
  low.inf_threshold(0.f);
  EXPECT_EQ(low(0), 0.f);
  EXPECT_EQ(low(1), 2.f);
  EXPECT_EQ(low(2), 0.f);

  to_array<float, false> a(300, 200), b(300, 200);
  fill_random(a, 3, -1.f, 1.f);
  fill_random(b, 4, -1.f, 1.f);
  to_array<float, false> d = a - b;
  EXPECT_EQ(d.nl() * 1000 + d.nc(), 300200);
  EXPECT_EQ(d.name(), "");
  for (int k = 0; k < a.n_elem(); k++) ASSERT_EQ(d(k), a(k) - b(k));
  d += b;
  for (int k = 0; k < a.n_elem(); k++) ASSERT_NEAR(d(k), a(k), 1e-6f);
  d -= a;
  EXPECT_LT(d.maxfabs(), 1e-6f);

  to_array<std::complex<float>, false> z(2, 2), w(2, 2);
  z(0) = {1, 2};
  w(0) = {3, -1};
  z(1) = {0, 1};
  w(1) = {0, 1};
  z *= w;
  EXPECT_EQ(z(0), std::complex<float>(5, 5));
  EXPECT_EQ(z(1), std::complex<float>(-1, 0));
  z += w;
  EXPECT_EQ(z(0), std::complex<float>(8, 4));

  to_array<float, false> small(2, 2);
  EXPECT_EXIT_STATUS(a += small, 255, "combined with one of 4 elements");
  EXPECT_EXIT_STATUS(a - small, 255, "combined");
}

TEST(Info, PrintsTheSummaryLine) {
  to_array<float, false> img(2, 2);
  img(0, 0) = 1; img(0, 1) = 2; img(1, 0) = 3; img(1, 1) = 4;
  testing::internal::CaptureStdout();
  INFO(img, "img");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "img: Min = 1    Max = 4    Flux = 10    Mean = 2.5     Sigma = 1.11803\n");

  // 0.3f squared in float rounds down, so E[x^2] - mean^2 falls below 0.
  to_array<float, false> flat(4, 4);
  flat.init(0.3f);
  testing::internal::CaptureStdout();
  INFO(flat, "flat");
  std::string line = testing::internal::GetCapturedStdout();
  EXPECT_NE(line.find("Sigma = 0\n"), std::string::npos) << line;

  to_array<float, false> one_d;
  one_d.alloc(4);
  EXPECT_EXIT_STATUS(INFO(one_d, "x"), 255, "Error: naxis = 1 and a two dim array is expected");
}
