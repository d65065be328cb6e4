// Short-time Fourier analysis: window shapes against their closed forms,
// frame counts, frames against a direct DFT, the overlap-add and direct
// reconstructions, and the time-frequency distributions on signals whose
// lag products are known.
#include "numerics/st_fftn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "numerics/dft_reference.h"
#include "support/capture.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Signal1D = to_array<float, true>;
using cfloat = std::complex<float>;

Signal1D random_signal(int n, unsigned seed) {
  Signal1D s(n);
  fill_random(s, seed);
  return s;
}

// Real parts of the centred forward DFT of a frame.
std::vector<double> centred_dft_real(const std::vector<dft_ref::cplx>& frame) {
  auto spectrum = dft_ref::dft(frame, +1, true);
  std::vector<double> re;
  for (auto& v : spectrum) re.push_back(static_cast<double>(v.real()));
  return re;
}

TEST(StdWindow, ShapesFollowTheirClosedForms) {
  struct Case {
    type_std_win type;
    double (*shape)(double x, double p);
  } cases[] = {
      {W_HAMMING, [](double x, double p) { return 0.54 + 0.46 * std::cos(3.141592653589793 / p * x); }},
      {W_HANNING, [](double x, double p) { return 0.5 + 0.5 * std::cos(3.141592653589793 / p * x); }},
      {W_GAUSS, [](double x, double p) { return std::exp(-4.5 * x * x / (p * p)); }},
      {W_BLACKMAN,
       [](double x, double p) {
         return 0.42 + 0.5 * std::cos(3.141592653589793 / p * x) +
                0.08 * std::cos(2 * 3.141592653589793 / p * x);
       }},
      {W_RECT, [](double, double) { return 1.; }},
  };
  for (const Case& c : cases)
    for (float p : {0.5f, 0.3f}) {
      Signal1D win(20);
      STD_Window().make_win(win, c.type, p);
      for (int i = 0; i < 20; i++) {
        // The offset is a float: the edge x = -p falls outside.
        float x = (static_cast<float>(i) - 10.f) / 20.f;
        double expected = std::fabs(x) < p ? c.shape(x, p) : 0.;
        EXPECT_NEAR(win(i), expected, 1e-6) << c.type << " " << p << " " << i;
      }
    }
}

TEST(StdWindow, StatedValues) {
  Signal1D hamming(8), rect(8);
  STD_Window().hamming(hamming, 0.5f);
  EXPECT_EQ(hamming(0), 0.f);
  EXPECT_FLOAT_EQ(hamming(4), 1.f);
  STD_Window().rect(rect, 0.25f);
  for (int i = 0; i < 8; i++) EXPECT_EQ(rect(i), i >= 3 && i <= 5 ? 1.f : 0.f) << i;
  // An unknown shape leaves the window alone.
  rect.init(7.f);
  STD_Window().make_win(rect, static_cast<type_std_win>(9), 0.5f);
  EXPECT_EQ(rect(0), 7.f);
}

TEST(StFftn, FrameCountsAndDefaultAllocation) {
  ST_FFTN stf;
  stf.alloc(10, W_HAMMING, 0.5f, 4, 3);
  EXPECT_EQ(stf.nc(), 4);
  EXPECT_EQ(stf.nl(), 4);
  stf.alloc(10, W_HAMMING, 0.5f, 4, 5);
  EXPECT_EQ(stf.nc(), 2);

  ST_FFTN fresh;
  EXPECT_EQ(fresh.WinSize, 0);
  Signal1D sig = random_signal(64, 1u);
  std::vector<cfloat> trans(32 * 64);
  fresh.transform(sig, trans.data());
  EXPECT_EQ(fresh.WinSize, 32);
  EXPECT_EQ(fresh.TypeWin, W_GAUSS);
  EXPECT_EQ(fresh.WinParam, 0.5f);
  EXPECT_EQ(fresh.Step, 1);
  EXPECT_EQ(fresh.Nct, 64);
}

TEST(StFftn, WarnsWhenTheStepExceedsHalfTheWindow) {
  Signal1D sig = random_signal(40, 2u);
  for (int step : {9, 8}) {
    ST_FFTN stf;
    stf.alloc(40, W_HANNING, 0.5f, 16, step);
    std::vector<cfloat> trans(16 * stf.Nct);
    std::string out = qz_test::stdout_of([&] { stf.transform(sig, trans.data()); });
    EXPECT_EQ(out.find("Warning: the reconstruction is impossible") != std::string::npos,
              step == 9);
  }
}

TEST(StFftn, FramesAreCentredDftsOfWindowedSegments) {
  const int N = 37, W = 16, step = 5;
  Signal1D sig = random_signal(N, 3u);
  ST_FFTN stf;
  stf.alloc(N, W_BLACKMAN, 0.5f, W, step);
  std::vector<cfloat> trans(W * stf.Nct);
  stf.transform(sig, trans.data());
  for (int f = 0; f < stf.Nct; f++) {
    int centre = std::min(f * step, N - 1);
    std::vector<dft_ref::cplx> frame(W);
    for (int k = 0; k < W; k++) {
      int i = centre - W / 2 + k;
      frame[k] = i >= 0 && i < N ? static_cast<long double>(sig(i)) * stf.Window(k) : 0.L;
    }
    auto ref = dft_ref::dft(frame, +1, true);
    for (int k = 0; k < W; k++) {
      cfloat v = trans[k * stf.Nct + f];
      EXPECT_NEAR(v.real(), static_cast<double>(ref[k].real()), 1e-5) << f << " " << k;
      EXPECT_NEAR(v.imag(), static_cast<double>(ref[k].imag()), 1e-5) << f << " " << k;
    }
  }
}

TEST(StFftn, OverlapAddReturnsTheSignal) {
  struct Case {
    type_std_win type;
    int window, step, n;
  } cases[] = {{W_GAUSS, 32, 1, 64}, {W_HAMMING, 16, 4, 50}, {W_HANNING, 16, 8, 45},
               {W_RECT, 8, 3, 31}};
  for (const Case& c : cases) {
    Signal1D sig = random_signal(c.n, 4u);
    ST_FFTN stf;
    stf.alloc(c.n, c.type, 0.5f, c.window, c.step);
    std::vector<cfloat> trans(c.window * stf.Nct);
    stf.transform(sig, trans.data());
    Signal1D rec(c.n);
    stf.recons_win(trans.data(), rec);
    EXPECT_LT(qz_test::max_abs_difference(rec, sig), 1e-5) << c.type;

    Signal1D dct, rec_dct(c.n);
    qz_test::stdout_of([&] { stf.dct_transform(sig, dct); });
    EXPECT_EQ(dct.nx(), stf.Nct);
    EXPECT_EQ(dct.ny(), c.window);
    stf.dct_recons(dct, rec_dct);
    EXPECT_LT(qz_test::max_abs_difference(rec_dct, sig), 1e-5) << c.type;
  }
}

TEST(StFftn, DirectReconstructionTakesTheFrameCentre) {
  for (type_std_win type : {W_HAMMING, W_GAUSS, W_BLACKMAN}) {
    const int N = 24;
    Signal1D sig = random_signal(N, 5u);
    ST_FFTN stf;
    stf.alloc(N, type, 0.5f, N, 1);
    std::vector<cfloat> trans(N * N);
    stf.transform(sig, trans.data());
    Signal1D rec(N);
    stf.recons(trans.data(), rec, False);
    EXPECT_LT(qz_test::max_abs_difference(rec, sig), 1e-5) << type;
  }
  // An unallocated object reconstructing with the window takes a window as
  // long as the signal.
  const int N = 16;
  Signal1D sig = random_signal(N, 6u);
  ST_FFTN analysis;
  analysis.alloc(N, W_GAUSS, 0.5f, N, 1);
  std::vector<cfloat> trans(N * N);
  analysis.transform(sig, trans.data());
  ST_FFTN synthesis;
  Signal1D rec(N);
  synthesis.recons(trans.data(), rec, True);
  EXPECT_EQ(synthesis.WinSize, N);
  EXPECT_LT(qz_test::max_abs_difference(rec, sig), 1e-5);
}

TEST(StFftnDeath, DirectReconstructionNeedsAUnitStep) {
  ST_FFTN stf;
  stf.alloc(16, W_GAUSS, 0.5f, 16, 2);
  std::vector<cfloat> trans(16 * 8);
  Signal1D rec(16);
  EXPECT_EXIT_STATUS(stf.recons(trans.data(), rec, False), 255,
                     "Errror: direct reconstruction requires a step equal to 1");
  EXPECT_EXIT_STATUS(stf.alloc(16, W_GAUSS, 0.5f, 16, 0), 255, "Error: bad window size");
}

TEST(StFftn, SpectrogramIsTheSquaredModulusOfTheLowerHalf) {
  const int N = 30;
  Signal1D sig = random_signal(N, 7u);
  ST_FFTN stf;
  stf.alloc(N, W_HANNING, 0.5f, 12, 2);
  std::vector<cfloat> trans(12 * stf.Nct);
  stf.transform(sig, trans.data());
  Signal1D spec;
  stf.spectogram(sig, spec);
  ASSERT_EQ(spec.nx(), stf.Nct);
  ASSERT_EQ(spec.ny(), 6);
  for (int k = 0; k < 6; k++)
    for (int f = 0; f < stf.Nct; f++)
      EXPECT_NEAR(spec(f, k), std::norm(trans[k * stf.Nct + f]), 1e-5);
}

TEST(WignerVille, LagProductsUpToHalfTheWindow) {
  const int N = 20, W = 8;
  Signal1D sig = random_signal(N, 8u);
  ST_FFTN stf;
  stf.alloc(N, W_RECT, 1.f, W, 1);
  Signal1D out;
  stf.wigner_wille(sig, out);
  ASSERT_EQ(out.nx(), N);
  ASSERT_EQ(out.ny(), W / 2);
  for (int t : {0, 1, 10, N - 1}) {
    int L = std::min({t, N - t - 1, W / 2 - 1});
    std::vector<dft_ref::cplx> frame(W, 0.L);
    for (int tau = -L; tau <= L; tau++)
      frame[(tau + W) % W] = static_cast<long double>(sig(t + tau)) * sig(t - tau);
    auto ref = centred_dft_real(frame);
    for (int i = 0; i < W / 2; i++) EXPECT_NEAR(out(t, i), ref[i], 1e-5) << t << " " << i;
  }
  // At both ends only lag 0 is left: every value has the modulus s(t)^2.
  for (int i = 0; i < W / 2; i++) {
    EXPECT_NEAR(std::fabs(out(0, i)), sig(0) * sig(0), 1e-6);
    EXPECT_NEAR(std::fabs(out(N - 1, i)), sig(N - 1) * sig(N - 1), 1e-6);
  }
}

TEST(ChoiWilliams, ConstantSignalKeepsTheLagWindow) {
  // With flat windows every lag of a constant c carries c^2 times the lag
  // window, up to lag (Lg - 1) / 2; a lag window size of 0 with W = 16 makes
  // Lg = 5, so lags up to 2.
  const int N = 24, W = 16, step = 2;
  Signal1D sig(N);
  sig.init(1.5f);
  ST_FFTN stf;
  stf.alloc(N, W_RECT, 1.f, W, step);
  Signal1D out;
  stf.choi_williams(sig, out, W_RECT, 0, 1.0, 1.f);
  ASSERT_EQ(out.nx(), N / step);
  ASSERT_EQ(out.ny(), W / 2);
  std::vector<dft_ref::cplx> frame(W, 0.L);
  for (int tau : {0, 1, 2, W - 1, W - 2}) frame[tau] = 2.25L;
  auto ref = centred_dft_real(frame);
  for (int t = 0; t < N / step; t++)
    for (int i = 0; i < W / 2; i++) EXPECT_NEAR(out(t, i), ref[i], 1e-5) << t << " " << i;
}

TEST(ChoiWilliams, LastPartialStepHasNoRow) {
  const int N = 10, W = 8, step = 3;
  Signal1D sig = random_signal(N, 9u);
  ST_FFTN stf;
  stf.alloc(N, W_HAMMING, 0.5f, W, step);
  Signal1D out;
  stf.choi_williams(sig, out, W_HAMMING, 3, 1.0, 0.5f);
  EXPECT_EQ(out.nx(), 3);
  EXPECT_EQ(out.ny(), 4);
  for (int k = 0; k < out.n_elem(); k++) EXPECT_TRUE(std::isfinite(out(k)));
}

}  // namespace
