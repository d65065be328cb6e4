// The mixed-radix engine and FFTN against direct DFT sums, its factor lists,
// the factor limit and the dimension checks.
#include "numerics/fftn.h"

#include <gtest/gtest.h>

#include <complex>
#include <vector>

#include "numerics/dft_reference.h"
#include "support/death.h"

using dft_ref::cplx;

namespace {

template <class T>
std::vector<T> interleave(const std::vector<cplx>& x) {
  std::vector<T> v(2 * x.size());
  for (size_t k = 0; k < x.size(); k++) {
    v[2 * k] = static_cast<T>(x[k].real());
    v[2 * k + 1] = static_cast<T>(x[k].imag());
  }
  return v;
}

template <class T>
std::vector<cplx> deinterleave(const std::vector<T>& v) {
  std::vector<cplx> x(v.size() / 2);
  for (size_t k = 0; k < x.size(); k++) x[k] = cplx(v[2 * k], v[2 * k + 1]);
  return x;
}

std::vector<int> factors_of(unsigned long n) {
  int f[FftMaxFactors + 1];
  int count = 0;
  fft_factorize(n, f, &count);
  return std::vector<int>(f, f + count);
}

}  // namespace

TEST(FftFactors, FollowTheSquareThenSquareFreeOrder) {
  EXPECT_EQ(factors_of(16), (std::vector<int>{4, 4}));
  EXPECT_EQ(factors_of(8), (std::vector<int>{2, 2, 2}));
  EXPECT_EQ(factors_of(32), (std::vector<int>{4, 2, 4}));
  EXPECT_EQ(factors_of(36), (std::vector<int>{3, 4, 3}));
  EXPECT_EQ(factors_of(12), (std::vector<int>{2, 3, 2}));
  EXPECT_EQ(factors_of(90), (std::vector<int>{3, 2, 5, 3}));
  EXPECT_EQ(factors_of(7), (std::vector<int>{7}));
  EXPECT_EQ(factors_of(101), (std::vector<int>{101}));
  EXPECT_EQ(factors_of(1UL << 19).size(), 11u);
  int f[FftMaxFactors + 1], count;
  EXPECT_FALSE(fft_factorize(1UL << 23, f, &count));
}

// Every length the tests name, both signs, both precisions.
TEST(MixedRadixFft, MatchesDirectSumsIn1d) {
  for (int n : {1, 2, 3, 4, 5, 7, 8, 12, 16, 30, 32, 36, 49, 90, 101, 121, 128, 243, 509, 1000}) {
    auto x = dft_ref::random_signal(n, n);
    for (int sign : {1, -1}) {
      auto ref = dft_ref::dft(x, sign);
      auto d = interleave<double>(x);
      ASSERT_EQ(fftn(1, &n, d.data(), d.data() + 1, 2 * sign, 0.), 0);
      EXPECT_LT(dft_ref::max_rel_error(deinterleave(d), ref), 1e-13) << "n=" << n;
      auto f = interleave<float>(x);
      ASSERT_EQ(fftnf(1, &n, f.data(), f.data() + 1, 2 * sign, 0.), 0);
      EXPECT_LT(dft_ref::max_rel_error(deinterleave(f), ref), 1e-5) << "n=" << n;
    }
  }
}

TEST(MixedRadixFft, SeparateRealAndImaginaryArrays) {
  int n = 15;
  auto x = dft_ref::random_signal(n, 3);
  std::vector<double> re(n), im(n);
  for (int k = 0; k < n; k++) {
    re[k] = static_cast<double>(x[k].real());
    im[k] = static_cast<double>(x[k].imag());
  }
  ASSERT_EQ(fftn(1, &n, re.data(), im.data(), 1, 0.), 0);
  auto ref = dft_ref::dft(x, 1);
  for (int k = 0; k < n; k++) {
    EXPECT_NEAR(re[k], static_cast<double>(ref[k].real()), 1e-12);
    EXPECT_NEAR(im[k], static_cast<double>(ref[k].imag()), 1e-12);
  }
}

TEST(MixedRadixFft, MatchesDirectSumsIn2dAnd3d) {
  for (auto [nc, nl] : {std::pair{12, 7}, {16, 16}, {5, 36}, {1, 9}, {64, 3}}) {
    auto x = dft_ref::random_signal(nc * nl, nc + nl);
    auto ref = dft_ref::dft2d(x, nl, nc, 1);
    auto d = interleave<double>(x);
    FFTN fft;
    fft.transform2d(d.data(), nc, nl, False);
    EXPECT_LT(dft_ref::max_rel_error(deinterleave(d), ref), 1e-13) << nc << "x" << nl;
  }
  // 3D: the direct sum over all three axes for a small cube.
  const int n0 = 4, n1 = 3, n2 = 5;
  auto x = dft_ref::random_signal(n0 * n1 * n2, 9);
  std::vector<cplx> ref(x.size());
  const long double two_pi = 6.283185307179586476925286766559L;
  for (int k2 = 0; k2 < n2; k2++)
    for (int k1 = 0; k1 < n1; k1++)
      for (int k0 = 0; k0 < n0; k0++) {
        cplx sum = 0;
        for (int j2 = 0; j2 < n2; j2++)
          for (int j1 = 0; j1 < n1; j1++)
            for (int j0 = 0; j0 < n0; j0++) {
              long double a = two_pi * ((long double)(j0 * k0) / n0 + (long double)(j1 * k1) / n1 +
                                        (long double)(j2 * k2) / n2);
              sum += x[(j2 * n1 + j1) * n0 + j0] * cplx(std::cos(a), std::sin(a));
            }
        ref[(k2 * n1 + k1) * n0 + k0] = sum;
      }
  auto f = interleave<float>(x);
  FFTN fft;
  fft.transform3d(f.data(), n0, n1, n2, False);
  EXPECT_LT(dft_ref::max_rel_error(deinterleave(f), ref), 2e-6);
}

TEST(MixedRadixFft, ForwardThenInverseReturnsInput) {
  FFTN fft;
  for (int n : {2, 7, 36, 90, 101, 509, 1024}) {
    auto x = dft_ref::random_signal(n, 100 + n);
    auto d = interleave<double>(x);
    auto orig = d;
    fft.transform1d(d.data(), n, False);
    fft.transform1d(d.data(), n, True);
    for (int k = 0; k < 2 * n; k++) EXPECT_NEAR(d[k], orig[k], 1e-13);
  }
  auto x = dft_ref::random_signal(30 * 14 * 3, 5);
  auto f = interleave<float>(x);
  auto orig = f;
  fft.transform3d(f.data(), 30, 14, 3, False);
  fft.transform3d(f.data(), 30, 14, 3, True);
  for (size_t k = 0; k < f.size(); k++) EXPECT_NEAR(f[k], orig[k], 2e-6);
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
  auto x = dft_ref::random_signal(30, 1);
  auto a = interleave<double>(x), b = a;
  ASSERT_EQ(fftn(0, list, a.data(), a.data() + 1, 2, 0.), 0);
  ASSERT_EQ(fftn(2, list, b.data(), b.data() + 1, 2, 0.), 0);
  EXPECT_EQ(a, b);
  int empty[1] = {0};
  std::vector<double> one = {3., 4.};
  EXPECT_EQ(fftn(0, empty, one.data(), one.data() + 1, 2, 0.), 0);
  EXPECT_EQ(one, (std::vector<double>{3., 4.}));
  int ones[3] = {1, 1, 1};
  EXPECT_EQ(fftn(3, ones, one.data(), one.data() + 1, 2, 0.), 0);
  EXPECT_EQ(one, (std::vector<double>{3., 4.}));
}

TEST(MixedRadixFft, RefusesBadDimensionsAndTooManyFactors) {
  std::vector<float> d(8, 0.f);
  int bad[2] = {4, -3};
  testing::internal::CaptureStderr();
  EXPECT_EQ(fftnf(2, bad, d.data(), d.data() + 1, 2, 0.), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: fftnf() - dimension error\n");
  int zero[2] = {4, 0};
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

TEST(MixedRadixFft, WorkArraysGrowAndAreReleasedWithObjects) {
  {
    FFTN fft;
    std::vector<double> d(2 * 64, 1.);
    fft.transform1d(d.data(), 64, False);
    unsigned small = SpaceAlloced;
    EXPECT_GT(small, 0u);
    std::vector<double> e(2 * 1000, 1.);
    fft.transform1d(e.data(), 1000, False);
    EXPECT_GT(SpaceAlloced, small);
    unsigned large = SpaceAlloced;
    fft.transform1d(d.data(), 64, False);
    EXPECT_EQ(SpaceAlloced, large);
  }
  EXPECT_EQ(SpaceAlloced, 0u);
  EXPECT_EQ(Tmp0, nullptr);
  EXPECT_EQ(Perm, nullptr);
  // Transforming after a release allocates again and still works.
  FFTN fft;
  auto x = dft_ref::random_signal(10, 2);
  auto d = interleave<double>(x);
  fft.transform1d(d.data(), 10, False);
  EXPECT_LT(dft_ref::max_rel_error(deinterleave(d), dft_ref::dft(x, 1)), 1e-13);
}

TEST(FftnDeathTest, EngineFailureEndsTheProcess) {
  FFTN fft;
  std::vector<float> d(8, 0.f);
  EXPECT_EXIT_STATUS(fft.transform2d(d.data(), 4, -1, False), 255, "Error in FFT computation");
}
