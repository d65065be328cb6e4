// Reductions and element arithmetic of to_array, and the INFO summary line,
// against brute-force sums and hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "array/array_ops.h"
#include "array/to_array.h"
#include "support/death.h"

namespace {

template <class Array>
void fill_random(Array& a, unsigned seed, float lo, float hi) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> value(lo, hi);
  for (int k = 0; k < a.n_elem(); k++) a(k) = value(gen);
}

}  // namespace

TEST(ArrayReductions, SumsAgreeWithBruteForce) {
  // Above the pool threshold and not a multiple of any unrolling width.
  to_array<float, false> img(251, 207);
  fill_random(img, 1, -3.f, 5.f);
  long double sum = 0, squares = 0;
  for (int i = 0; i < img.nl(); i++)
    for (int j = 0; j < img.nc(); j++) sum += img(i, j);
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
  to_array<float, true> two(2);
  two(1) = 0.0002f;  // variance 1e-8
  EXPECT_EQ(two.sigma(), 0.0);
  two(1) = 0.002f;  // variance 1e-6
  EXPECT_NEAR(two.sigma(), 0.001, 1e-9);
}

TEST(ArrayReductions, ExtremesKeepTheFirstOccurrence) {
  to_array<float, true> a(4);
  a(0) = 1; a(1) = 5; a(2) = 5; a(3) = 2;
  int index = -1;
  EXPECT_EQ(a.max(index), 5.f);
  EXPECT_EQ(index, 1);
  to_array<int, false> b(1, 3);
  b(0) = 3; b(1) = 1; b(2) = 1;
  EXPECT_EQ(b.min(index), 1);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(b.max(), 3);

  to_array<float, true> c(3);
  c(0) = 2; c(1) = -7; c(2) = 7;
  EXPECT_EQ(c.maxfabs(index), -7.f);
  EXPECT_EQ(index, 1);
  to_array<float, true> zeros(3);
  index = -1;
  EXPECT_EQ(zeros.maxfabs(index), 0.f);
  EXPECT_EQ(index, 0);

  to_array<float, false> img(60, 70);
  fill_random(img, 2, -100.f, 100.f);
  int lo = 0, hi = 0, mag = 0;
  for (int k = 1; k < img.n_elem(); k++) {
    if (img(k) < img(lo)) lo = k;
    if (img(k) > img(hi)) hi = k;
  }
  for (int k = 0; k < img.n_elem(); k++)
    if (std::fabs(img(k)) > std::fabs(img(mag))) mag = k;
  EXPECT_EQ(img.min(index), img(lo));
  EXPECT_EQ(index, lo);
  EXPECT_EQ(img.max(index), img(hi));
  EXPECT_EQ(index, hi);
  EXPECT_EQ(img.maxfabs(index), img(mag));
  EXPECT_EQ(index, mag);
}

TEST(ArrayArithmetic, InfThresholdRaisesLowValues) {
  to_array<float, true> a(3);
  a(0) = -1; a(1) = 2; a(2) = -3;
  a.inf_threshold(0.f);
  EXPECT_EQ(a(0), 0.f);
  EXPECT_EQ(a(1), 2.f);
  EXPECT_EQ(a(2), 0.f);
}

TEST(ArrayArithmetic, ElementwiseOperatorsRoundTrip) {
  to_array<float, false> a(300, 200), b(300, 200);
  fill_random(a, 3, -1.f, 1.f);
  fill_random(b, 4, -1.f, 1.f);
  to_array<float, false> d = a - b;
  EXPECT_EQ(d.nl(), 300);
  EXPECT_EQ(d.nc(), 200);
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

  to_array<float, true> s(5), t(5);
  s.init(2.f);
  t.init(0.5f);
  s -= t;
  EXPECT_EQ(s.total(), 7.5);
}

TEST(ArrayArithmetic, ShorterOperandIsRefused) {
  to_array<float, false> a(4, 4), b(2, 2);
  EXPECT_EXIT_STATUS(a += b, 255, "combined with one of 4 elements");
  EXPECT_EXIT_STATUS(a - b, 255, "combined");
}

TEST(ArrayCopies, SignalsAndCubesKeepTheirShape) {
  to_array<float, true> sig(3, 5);
  sig(2, 4) = 1.f;
  to_array<float, true> copy(sig);
  EXPECT_EQ(copy.nx(), 3);
  EXPECT_EQ(copy.ny(), 5);
  EXPECT_EQ(copy(2, 4), 1.f);
  to_array<float, true> line(7);
  line(6) = 4.f;
  to_array<float, true> line_copy(line);
  EXPECT_EQ(line_copy.n_elem(), 7);
  EXPECT_EQ(line_copy.naxis(), 1);
  EXPECT_EQ(line_copy(6), 4.f);
  float data[4] = {1, 2, 3, 4};
  to_array<float, false> wrapped;
  wrapped.alloc(data, 4, 0, nullptr, False);
  EXPECT_EQ(wrapped.n_elem(), 0);  // 4 lines of no column
  wrapped.alloc(data, 2, 2, nullptr, False);
  EXPECT_EQ(wrapped.total(), 10.0);
  to_array<float, false> img(3, 5);
  to_array<float, false> shaped;
  shaped.init(img);
  EXPECT_EQ(shaped.nl(), 3);
  EXPECT_EQ(shaped.nc(), 5);
}

TEST(ArrayCopies, BufferKeptByAReformToZeroIsReleased) {
  float* pooled;
  {
    to_array<float, true> a(60007);
    pooled = a.buffer();
    a.reform(0);  // keeps the buffer with no elements
    a.alloc(10);  // must give the pool buffer back
    to_array<float, true> again(60007);
    EXPECT_EQ(again.buffer(), pooled);
  }
  to_array<float, true> b(60007);
  b.reform(0);
  b.free();
  to_array<float, true> third(60007);
  EXPECT_EQ(third.buffer(), pooled);
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
