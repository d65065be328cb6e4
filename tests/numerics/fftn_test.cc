// The mixed-radix engine and FFTN against direct DFT sums, its factor lists,
// scaling rules, the factor limit, the dimension checks and its work arrays.
#include "numerics/fftn.h"

#include <gtest/gtest.h>

#include <complex>
#include <memory>
#include <vector>

#include "numerics/dft_reference.h"
#include "support/death.h"

using dft_ref::cplx;
using dft_ref::max_rel_error;
using dft_ref::narrow;

namespace {

std::vector<int> factors_of(unsigned long n) {
  int f[FftMaxFactors + 1];
  int count = 0;
  fft_factorize(n, f, &count);
  return std::vector<int>(f, f + count);
}

template <class T>
T* flat(std::vector<std::complex<T>>& v) {
  return reinterpret_cast<T*>(v.data());
}

}  // namespace

TEST(FftFactors, FollowTheSquareThenSquareFreeOrder) {
  using F = std::vector<int>;
  EXPECT_EQ(factors_of(16), (F{4, 4}));
  EXPECT_EQ(factors_of(8), (F{2, 2, 2}));
  EXPECT_EQ(factors_of(32), (F{4, 2, 4}));
  EXPECT_EQ(factors_of(36), (F{3, 4, 3}));
  EXPECT_EQ(factors_of(12), (F{2, 3, 2}));
  EXPECT_EQ(factors_of(90), (F{3, 2, 5, 3}));
  EXPECT_EQ(factors_of(7), (F{7}));
  EXPECT_EQ(factors_of(101), (F{101}));
  EXPECT_EQ(factors_of(1UL << 19).size(), 11u);
  int f[FftMaxFactors + 1], count;
  EXPECT_FALSE(fft_factorize(1UL << 23, f, &count));
}

// Every kernel (2, 3, 4, 5, general primes, square and square-free factors),
// both signs, both precisions; FFTN's inverse returns the input.
TEST(MixedRadixFft, MatchesDirectSumsIn1dAndInverts) {
  FFTN fft;
  for (int n : {1, 2, 3, 4, 5, 7, 8, 12, 16, 30, 32, 36, 49, 90, 101, 121, 128, 243, 509, 1000}) {
    auto x = dft_ref::random_signal(n, n);
    for (int sign : {1, -1}) {
      auto ref = dft_ref::dft(x, sign);
      auto d = narrow<double>(x);
      ASSERT_EQ(fftn(1, &n, flat(d), flat(d) + 1, 2 * sign, 0.), 0);
      EXPECT_LT(max_rel_error(d, ref), 1e-13) << "n=" << n;
      auto f = narrow<float>(x);
      ASSERT_EQ(fftnf(1, &n, flat(f), flat(f) + 1, 2 * sign, 0.), 0);
      EXPECT_LT(max_rel_error(f, ref), 1e-5) << "n=" << n;
    }
    auto d = narrow<double>(x);
    fft.transform1d(flat(d), n, False);
    fft.transform1d(flat(d), n, True);
    EXPECT_LT(max_rel_error(d, x), 1e-14) << "n=" << n;
  }
  // Separate real and imaginary arrays, index step 1.
  int n = 15;
  auto x = dft_ref::random_signal(n, 3);
  std::vector<double> re(n), im(n);
  for (int k = 0; k < n; k++) {
    re[k] = static_cast<double>(x[k].real());
    im[k] = static_cast<double>(x[k].imag());
  }
  ASSERT_EQ(fftn(1, &n, re.data(), im.data(), 1, 0.), 0);
  auto ref = dft_ref::dft(x, 1);
  for (int k = 0; k < n; k++) EXPECT_LT(std::abs(cplx(re[k], im[k]) - ref[k]), 1e-12);
}

TEST(MixedRadixFft, MatchesDirectSumsIn2dAnd3d) {
  FFTN fft;
  // 67 and 101 are large primes, transformed by groups of lines at once
  // both along the fast axis and across it; a last axis of 1 must still
  // get the division of the inverse.
  for (auto [nc, nl] : {std::pair{12, 7}, {16, 16}, {5, 36}, {1, 9}, {64, 3}, {9, 1}, {67, 12},
                        {3, 101}}) {
    auto x = dft_ref::random_signal(nc * nl, nc + nl);
    auto d = narrow<double>(x);
    fft.transform2d(flat(d), nc, nl, False);
    EXPECT_LT(max_rel_error(d, dft_ref::dft2d(x, nl, nc, 1)), 1e-13) << nc << "x" << nl;
    fft.transform2d(flat(d), nc, nl, True);
    EXPECT_LT(max_rel_error(d, x), 1e-14) << nc << "x" << nl;
  }
  for (auto dims : {std::vector<int>{4, 3, 5}, {30, 14, 3}, {7, 61, 2}}) {
    auto x = dft_ref::random_signal(dims[0] * dims[1] * dims[2], dims[0]);
    auto f = narrow<float>(x);
    fft.transform3d(flat(f), dims[0], dims[1], dims[2], False);
    EXPECT_LT(max_rel_error(f, dft_ref::dftnd(x, dims, 1)), 2e-6) << dims[0];
    fft.transform3d(flat(f), dims[0], dims[1], dims[2], True);
    EXPECT_LT(max_rel_error(f, x), 2e-6) << dims[0];
  }
}

TEST(MixedRadixFft, ScalingRules) {
  // Transform of a constant: value n at frequency 0, divided per the rule.
  int dims[2] = {4, 3};
  for (auto [scaling, expected] : {std::pair{0., 12.}, {1., 12.}, {4., 3.}, {-1., 1.},
                                   {-2., 12. / std::sqrt(12.)}}) {
    std::vector<double> d(24, 0.);
    for (int k = 0; k < 12; k++) d[2 * k] = 1.;
    ASSERT_EQ(fftn(2, dims, d.data(), d.data() + 1, 2, scaling), 0);
    EXPECT_NEAR(d[0], expected, 1e-12) << scaling;
    EXPECT_NEAR(d[2], 0., 1e-12);
  }
}

TEST(MixedRadixFft, DimensionListsAndUnitLengths) {
  // A zero-ended list stands for the dimensions when ndim is 0.
  int list[3] = {6, 5, 0};
  auto a = narrow<double>(dft_ref::random_signal(30, 1)), b = a;
  ASSERT_EQ(fftn(0, list, flat(a), flat(a) + 1, 2, 0.), 0);
  ASSERT_EQ(fftn(2, list, flat(b), flat(b) + 1, 2, 0.), 0);
  EXPECT_EQ(a, b);
  int empty[1] = {0}, ones[3] = {1, 1, 1};
  std::vector<double> one = {3., 4.};
  EXPECT_EQ(fftn(0, empty, one.data(), one.data() + 1, 2, 0.), 0);
  EXPECT_EQ(fftn(3, ones, one.data(), one.data() + 1, 2, 0.), 0);
  EXPECT_EQ(one, (std::vector<double>{3., 4.}));
}

TEST(MixedRadixFft, RefusesBadDimensionsAndTooManyFactors) {
  std::vector<float> d(8, 0.f);
  int bad[2] = {4, -3}, zero[2] = {4, 0};
  testing::internal::CaptureStderr();
  EXPECT_EQ(fftnf(2, bad, d.data(), d.data() + 1, 2, 0.), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: fftnf() - dimension error\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(fftn(2, zero, reinterpret_cast<double*>(d.data()), nullptr, 2, 0.), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: fftn() - dimension error\n");
  // 2^23 needs 13 factors: refused before any data is touched.
  testing::internal::CaptureStderr();
  EXPECT_EQ(fftradixf(d.data(), d.data() + 1, 1UL << 23, 1UL << 23, 1UL << 23, 2, 1 << 23, 1 << 23),
            -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: fftradixf() - exceeded number of factors\n"
            "Error: fftradixf() - insufficient memory.\n");
  EXPECT_EQ(SpaceAlloced, 0u);
}

// The work space is no longer process-wide: objects destroyed between the
// calls of another, and fft_free itself, take nothing from its transforms.
TEST(MixedRadixFft, ObjectsAliveAtOnceKeepWorking) {
  auto x = dft_ref::random_signal(1000, 5);
  const auto ref = dft_ref::dft(x, 1);
  auto first = narrow<double>(x), second = narrow<double>(x);
  auto keeper = std::make_unique<FFTN>();
  {
    FFTN other;
    other.transform1d(flat(second), 1000, False);
  }
  keeper->transform1d(flat(first), 1000, False);
  EXPECT_LT(max_rel_error(first, ref), 1e-13);
  EXPECT_LT(max_rel_error(second, ref), 1e-13);
  fft_free();
  fft_free();
  keeper->transform1d(flat(first), 1000, True);
  EXPECT_LT(max_rel_error(first, x), 1e-14);
  EXPECT_EQ(SpaceAlloced, 0u);
  EXPECT_EQ(Tmp0, nullptr);
  EXPECT_EQ(Perm, nullptr);
}

TEST(FftnDeathTest, EngineFailureEndsTheProcess) {
  FFTN fft;
  std::vector<float> d(8, 0.f);
  EXPECT_EXIT_STATUS(fft.transform2d(d.data(), 4, -1, False), 255, "Error in FFT computation");
}
