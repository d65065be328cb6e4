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
using dft_ref::max_rel_error;
using dft_ref::narrow;

TEST(Fftn1d, MatchesDirectSumsCentredAndNatural) {
  for (int n : {1, 2, 5, 7, 12, 101, 256}) {
    auto x = dft_ref::random_signal(n, n);
    for (int centred : {1, 0}) {
      FFTN_1D fft;
      fft.CenterZeroFreq = centred;
      auto ref = dft_ref::dft(x, 1, centred == 1);
      auto d = narrow<double>(x);
      fft.fftn1d(d.data(), n);
      EXPECT_LT(max_rel_error(d, ref), 1e-13) << n << " " << centred;
      fft.fftn1d(d.data(), n, True);
      EXPECT_LT(max_rel_error(d, x), 1e-13);
      to_array<std::complex<float>, true> sig(n), out(n);
      for (int k = 0; k < n; k++) sig(k) = std::complex<float>(x[k]);
      fft.fftn1d(sig, out);
      EXPECT_LT(max_rel_error(reinterpret_cast<float*>(out.buffer()), ref), 1e-5) << n;
      // Real input: the transform of the real parts.
      to_array<float, true> real(n);
      for (int k = 0; k < n; k++) real(k) = sig(k).real();
      std::vector<std::complex<double>> spectrum(n);
      fft.fftn1d(real, spectrum.data());
      std::vector<cplx> re(x);
      for (auto& v : re) v = static_cast<float>(v.real());
      EXPECT_LT(max_rel_error(spectrum, dft_ref::dft(re, 1, centred == 1)), 1e-13) << n;
    }
  }
}

TEST(Fftn1d, ImpulseAtTheOriginGivesOnes) {
  for (int n : {1, 4, 5, 30}) {
    FFTN_1D fft;
    for (int centred : {1, 0}) {
      fft.CenterZeroFreq = centred;
      std::vector<std::complex<double>> v(n);
      v[centred ? n / 2 : 0] = 1.;
      fft.fftn1d(v.data(), n);
      for (auto c : v) EXPECT_NEAR(std::abs(c - 1.), 0., 1e-14) << n;
    }
  }
}

TEST(Fftn1d, CentringIsTheHalfPeriodShift) {
  FFTN_1D fft;
  std::vector<std::complex<float>> v = {1.f, 2.f, 3.f, 4.f, 5.f};
  fft.center(v.data(), 5);
  EXPECT_EQ(v, (std::vector<std::complex<float>>{4.f, 5.f, 1.f, 2.f, 3.f}));
  fft.uncenter(v.data(), 5);
  EXPECT_EQ(v, (std::vector<std::complex<float>>{1.f, 2.f, 3.f, 4.f, 5.f}));
  for (int n = 1; n <= 9; n++) {
    for (int dir : {1, -1}) {
      std::vector<std::complex<double>> a(n), shifted(n);
      to_array<double, true> real(n);
      for (int k = 0; k < n; k++) a[k] = real(k) = k + 1;
      im1d_shift(a.data(), shifted.data(), n, dir * ((n + 1) / 2));
      auto b = a, c = a;
      fft.swap_buff(b.data(), n, dir == 1 ? False : True);
      fft.swap_buff(real, dir == 1 ? False : True);
      dir == 1 ? fft.center(c.data(), n) : fft.uncenter(c.data(), n);
      EXPECT_EQ(b, shifted) << n;
      EXPECT_EQ(c, shifted) << n;
      for (int k = 0; k < n; k++) EXPECT_EQ(real(k), shifted[k].real()) << n;
    }
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
  FFTN_1D fft;  // one object over several lengths: its tables follow n
  for (int n : {2, 4, 16, 128, 8}) {
    fft.CenterZeroFreq = 0;
    to_array<double, true> sig(n), orig(n);
    for (int j = 0; j < n; j++) orig(j) = sig(j) = std::cos(0.3 * j * j) + 0.1 * j;
    fft.dct1d(sig);
    for (int k = 0; k < n; k++) {
      double sum = 0;
      for (int j = 0; j < n; j++) sum += orig(j) * std::cos(pi * j * (k + 0.5) / n);
      EXPECT_NEAR(sig(k), sum, 1e-10) << n;
    }
    // Centred: the same output with its halves exchanged; the inverse undoes it.
    to_array<double, true> centred(orig);
    fft.CenterZeroFreq = 1;
    fft.dct1d(centred);
    for (int k = 0; k < n; k++) EXPECT_EQ(centred(k), sig((k + n / 2) % n));
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
  to_array<double, true> odd(6), one(1);
  EXPECT_EXIT_STATUS(fft.dct1d(odd), 255, "power-of-two length");
  EXPECT_EXIT_STATUS(fft.dct1d(one), 255, "at least 2");
  to_array<std::complex<float>, true> in(8), out(4);
  EXPECT_EXIT_STATUS(fft.fftn1d(in, out), 255, "output holds 4 values, 8 are needed");
  std::complex<double> value;
  EXPECT_EXIT_STATUS(fft.fftn1d(&value, -3), 255, "Error in FFT computation");
}
