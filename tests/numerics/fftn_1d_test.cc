// FFTN_1D against direct DFT sums with and without centring, its centring
// and shift rules, the DCT against direct sums, and the convolution.
#include "numerics/fftn_1d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "numerics/dft_reference.h"
#include "numerics/fftn_2d.h"
#include "support/death.h"

using dft_ref::cplx;

namespace {

template <class T>
std::vector<std::complex<T>> to_buffer(const std::vector<cplx>& x) {
  std::vector<std::complex<T>> v(x.size());
  for (size_t k = 0; k < x.size(); k++) v[k] = std::complex<T>(x[k].real(), x[k].imag());
  return v;
}

template <class T>
std::vector<cplx> from_buffer(const std::vector<std::complex<T>>& v) {
  std::vector<cplx> x(v.size());
  for (size_t k = 0; k < v.size(); k++) x[k] = cplx(v[k].real(), v[k].imag());
  return x;
}

}  // namespace

TEST(Fftn1d, MatchesDirectSumsCentredAndNatural) {
  for (int n : {1, 2, 5, 7, 12, 101, 256}) {
    auto x = dft_ref::random_signal(n, n);
    for (int centred : {1, 0}) {
      FFTN_1D fft;
      fft.CenterZeroFreq = centred;
      auto ref = dft_ref::dft(x, 1, centred == 1);
      auto d = to_buffer<double>(x);
      fft.fftn1d(d.data(), n);
      EXPECT_LT(dft_ref::max_rel_error(from_buffer(d), ref), 1e-13) << n << " " << centred;
      fft.fftn1d(d.data(), n, True);
      EXPECT_LT(dft_ref::max_rel_error(from_buffer(d), x), 1e-13);
      to_array<std::complex<float>, true> sig(n);
      for (int k = 0; k < n; k++) sig(k) = std::complex<float>(x[k].real(), x[k].imag());
      fft.fftn1d(sig);
      std::vector<cplx> got(n);
      for (int k = 0; k < n; k++) got[k] = cplx(sig(k).real(), sig(k).imag());
      EXPECT_LT(dft_ref::max_rel_error(got, ref), 1e-5) << n << " " << centred;
    }
  }
}

TEST(Fftn1d, CentredImpulseGivesOnes) {
  for (int n : {1, 4, 5, 30}) {
    FFTN_1D fft;
    std::vector<std::complex<double>> v(n);
    v[n / 2] = 1.;
    fft.fftn1d(v.data(), n);
    for (auto c : v) EXPECT_NEAR(std::abs(c - std::complex<double>(1.)), 0., 1e-14);
    fft.CenterZeroFreq = 0;
    std::fill(v.begin(), v.end(), 0.);
    v[0] = 1.;
    fft.fftn1d(v.data(), n);
    for (auto c : v) EXPECT_NEAR(std::abs(c - std::complex<double>(1.)), 0., 1e-14);
  }
}

TEST(Fftn1d, CentringRule) {
  FFTN_1D fft;
  std::vector<std::complex<float>> v = {1.f, 2.f, 3.f, 4.f, 5.f};
  fft.center(v.data(), 5);
  EXPECT_EQ(v, (std::vector<std::complex<float>>{4.f, 5.f, 1.f, 2.f, 3.f}));
  fft.uncenter(v.data(), 5);
  EXPECT_EQ(v, (std::vector<std::complex<float>>{1.f, 2.f, 3.f, 4.f, 5.f}));
  // Centring is the circular shift by (n+1)/2 for every n.
  for (int n = 1; n <= 9; n++) {
    std::vector<std::complex<double>> a(n), shifted(n);
    for (int k = 0; k < n; k++) a[k] = k + 1;
    im1d_shift(a.data(), shifted.data(), n, (n + 1) / 2);
    auto b = a;
    fft.swap_buff(b.data(), n, False);
    EXPECT_EQ(b, shifted) << n;
    im1d_shift(a.data(), shifted.data(), n, -((n + 1) / 2));
    b = a;
    fft.swap_buff(b.data(), n, True);
    EXPECT_EQ(b, shifted) << n;
  }
}

TEST(Fftn1d, ShiftWrapsOnce) {
  to_array<float, true> in(6), out(6);
  for (int k = 0; k < 6; k++) in(k) = k + 1.f;
  im1d_shift(in, out, 6);
  for (int k = 0; k < 6; k++) EXPECT_EQ(out(k), in(k));
  im1d_shift(in, out, 7);
  for (int k = 0; k < 5; k++) EXPECT_EQ(out(k), in(k + 1));
  EXPECT_EQ(out(5), 0.f);
  im1d_shift(in, out, -2);
  im1d_shift(in, in, -2);
  for (int k = 0; k < 6; k++) EXPECT_EQ(in(k), out(k));
}

TEST(Fftn1d, DctMatchesDirectSumAndInverts) {
  const double pi = 3.14159265358979323846;
  for (int n : {2, 4, 16, 128}) {
    FFTN_1D fft;
    fft.CenterZeroFreq = 0;
    to_array<double, true> sig(n), orig(n);
    for (int j = 0; j < n; j++) orig(j) = sig(j) = std::cos(0.3 * j * j) + 0.1 * j;
    fft.dct1d(sig);
    for (int k = 0; k < n; k++) {
      double sum = 0;
      for (int j = 0; j < n; j++) sum += orig(j) * std::cos(pi * j * (k + 0.5) / n);
      EXPECT_NEAR(sig(k), sum, 1e-10) << n;
    }
    fft.dct1d(sig, True);
    for (int j = 0; j < n; j++) EXPECT_NEAR(sig(j), orig(j), 1e-13);
    // Centred: the same output with its halves exchanged; the inverse undoes it.
    to_array<double, true> natural(orig), centred(orig);
    fft.dct1d(natural);
    fft.CenterZeroFreq = 1;
    fft.dct1d(centred);
    for (int k = 0; k < n; k++) EXPECT_EQ(centred(k), natural((k + n / 2) % n));
    fft.dct1d(centred, True);
    for (int j = 0; j < n; j++) EXPECT_NEAR(centred(j), orig(j), 1e-13);
    to_array<float, true> fin(n), fout(n);
    for (int j = 0; j < n; j++) fin(j) = static_cast<float>(orig(j));
    fft.dct1d(fin, fout);
    fft.dct1d(fout, fin, True);
    for (int j = 0; j < n; j++) EXPECT_NEAR(fin(j), orig(j), 1e-5);
  }
}

TEST(Fftn1d, ConvolutionMatchesDirectCircularSum) {
  for (int n : {8, 9}) {
    to_array<float, true> a(n), b(n), result(3);
    for (int k = 0; k < n; k++) {
      a(k) = static_cast<float>(k % 4) - 1.5f;
      b(k) = std::sin(1.3f * k);
    }
    FFTN_1D fft;
    fft.convolve(a, b, result);
    ASSERT_EQ(result.nx(), n);
    for (int i = 0; i < n; i++) {
      double sum = 0;
      for (int k = 0; k < n; k++) sum += a(k) * b(((i - k + n / 2) % n + n) % n);
      EXPECT_NEAR(result(i), sum, 1e-5);
    }
    b.init();
    b(n / 2) = 1.f;
    fft.convolve(a, b, result);
    for (int i = 0; i < n; i++) EXPECT_NEAR(result(i), a(i), 1e-6);
  }
}

TEST(Fftn1d, SurvivesTheDestructionOfAnotherFftObject) {
  FFTN_1D fft;
  std::vector<std::complex<double>> v(12, 1.);
  fft.fftn1d(v.data(), 12);
  { FFTN_2D other; }
  EXPECT_EQ(SpaceAlloced, 0u);
  std::fill(v.begin(), v.end(), 0.);
  v[6] = 1.;
  fft.fftn1d(v.data(), 12);
  for (auto c : v) EXPECT_NEAR(c.real(), 1., 1e-14);
}

TEST(Fftn1dDeathTest, RefusesMismatchedSignalsAndBadDctLengths) {
  FFTN_1D fft;
  to_array<float, true> a(8), b(9), r;
  EXPECT_EXIT_STATUS(fft.convolve(a, b, r), 255,
                     "Error in FFTN_1D::convolve: arrays have not the same size ... \n"
                     "   Array 1: N = 8\n   Array 2: N = 9\n");
  to_array<double, true> odd(6);
  EXPECT_EXIT_STATUS(fft.dct1d(odd), 255, "power-of-two length");
}
