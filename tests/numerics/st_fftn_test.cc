// Short-time Fourier analysis: window shapes against their closed forms,
// frames against a direct DFT, the overlap-add and direct reconstructions,
// and the time-frequency distributions on signals with known lag products.
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
  std::vector<double> re;
  for (auto& v : dft_ref::dft(frame, +1, true)) re.push_back(static_cast<double>(v.real()));
  return re;
}

TEST(StdWindow, ShapesFollowTheirClosedForms) {
  const double pi = 3.141592653589793;
  auto cosine = [pi](double x, double p, double k) { return std::cos(k * pi / p * x); };
  for (float p : {0.5f, 0.3f})
    for (int type = 0; type <= 4; type++) {
      Signal1D win(20);
      STD_Window().make_win(win, static_cast<type_std_win>(type), p);
      for (int i = 0; i < 20; i++) {
        // The offset is a float: the edge x = -p falls outside.
        const float x = (static_cast<float>(i) - 10.f) / 20.f;
        const double shape[5] = {0.54 + 0.46 * cosine(x, p, 1), 0.5 + 0.5 * cosine(x, p, 1),
                                 std::exp(-4.5 * x * x / (double(p) * p)),
                                 0.42 + 0.5 * cosine(x, p, 1) + 0.08 * cosine(x, p, 2), 1.};
        EXPECT_NEAR(win(i), std::fabs(x) < p ? shape[type] : 0., 1e-6) << type << " " << i;
      }
    }
  Signal1D hamming(8), rect(8);
  STD_Window().hamming(hamming, 0.5f);
  EXPECT_EQ(hamming(0), 0.f);
  EXPECT_FLOAT_EQ(hamming(4), 1.f);
  STD_Window().rect(rect, 0.25f);
  for (int i = 0; i < 8; i++) EXPECT_EQ(rect(i), i >= 3 && i <= 5 ? 1.f : 0.f) << i;
}

TEST(StFftn, FrameCountsDefaultsAndWarning) {
  ST_FFTN stf;
  stf.alloc(10, W_HAMMING, 0.5f, 4, 3);
  EXPECT_EQ(stf.nc(), 4);
  stf.alloc(10, W_HAMMING, 0.5f, 4, 5);
  EXPECT_EQ(stf.nc(), 2);

  ST_FFTN fresh;
  Signal1D sig = random_signal(64, 1u);
  std::vector<cfloat> trans(32 * 64);
  fresh.transform(sig, trans.data());
  EXPECT_EQ(fresh.WinSize, 32);
  EXPECT_EQ(fresh.TypeWin, W_GAUSS);
  EXPECT_EQ(fresh.Step, 1);
  EXPECT_EQ(fresh.Nct, 64);

  for (int step : {9, 8}) {
    stf.alloc(64, W_HANNING, 0.5f, 16, step);
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
    std::vector<dft_ref::cplx> frame(W);
    for (int k = 0; k < W; k++) {
      int i = std::min(f * step, N - 1) - W / 2 + k;
      frame[k] = i >= 0 && i < N ? static_cast<long double>(sig(i)) * stf.Window(k) : 0.L;
    }
    auto ref = dft_ref::dft(frame, +1, true);
    for (int k = 0; k < W; k++)
      EXPECT_LT(std::abs(trans[k * stf.Nct + f] - cfloat(ref[k])), 1e-5) << f << " " << k;
  }
  // The spectrogram keeps the squared moduli of the lower half.
  Signal1D spec;
  stf.spectogram(sig, spec);
  ASSERT_EQ(spec.nx(), stf.Nct);
  ASSERT_EQ(spec.ny(), W / 2);
  for (int k = 0; k < W / 2; k++)
    for (int f = 0; f < stf.Nct; f++)
      EXPECT_NEAR(spec(f, k), std::norm(trans[k * stf.Nct + f]), 1e-5);
}

TEST(StFftn, OverlapAddReturnsTheSignal) {
  struct Case {
    type_std_win type;
    int window, step, n;
  } cases[] = {{W_GAUSS, 32, 1, 64}, {W_HAMMING, 16, 4, 50}, {W_HANNING, 16, 8, 45},
               {W_RECT, 8, 3, 31}};
  for (const Case& c : cases) {
    Signal1D sig = random_signal(c.n, 4u), rec(c.n), dct, rec_dct(c.n);
    ST_FFTN stf;
    stf.alloc(c.n, c.type, 0.5f, c.window, c.step);
    std::vector<cfloat> trans(c.window * stf.Nct);
    stf.transform(sig, trans.data());
    stf.recons_win(trans.data(), rec);
    EXPECT_LT(qz_test::max_abs_difference(rec, sig), 1e-5) << c.type;
    qz_test::stdout_of([&] { stf.dct_transform(sig, dct); });
    EXPECT_EQ(dct.nx(), stf.Nct);
    EXPECT_EQ(dct.ny(), c.window);
    stf.dct_recons(dct, rec_dct);
    EXPECT_LT(qz_test::max_abs_difference(rec_dct, sig), 1e-5) << c.type;
  }
}

TEST(StFftn, DirectReconstructionTakesTheFrameCentre) {
  const int N = 24;
  Signal1D sig = random_signal(N, 5u), rec(N);
  std::vector<cfloat> trans(N * N);
  for (type_std_win type : {W_HAMMING, W_BLACKMAN, W_GAUSS}) {
    ST_FFTN stf;
    stf.alloc(N, type, 0.5f, N, 1);
    stf.transform(sig, trans.data());
    stf.recons(trans.data(), rec, False);
    EXPECT_LT(qz_test::max_abs_difference(rec, sig), 1e-5) << type;
  }
  // Unallocated, the windowed form takes a Gaussian window as long as the
  // signal, which is the last analysis above.
  ST_FFTN synthesis;
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

TEST(WignerVille, LagProductsUpToHalfTheWindow) {
  const int N = 20, W = 8;
  Signal1D sig = random_signal(N, 8u), out;
  ST_FFTN stf;
  stf.alloc(N, W_RECT, 1.f, W, 1);
  stf.wigner_wille(sig, out);
  ASSERT_EQ(out.nx(), N);
  ASSERT_EQ(out.ny(), W / 2);
  // At both ends only lag 0 is left.
  for (int t : {0, 1, 10, N - 1}) {
    int L = std::min({t, N - t - 1, W / 2 - 1});
    std::vector<dft_ref::cplx> frame(W, 0.L);
    for (int tau = -L; tau <= L; tau++)
      frame[(tau + W) % W] = static_cast<long double>(sig(t + tau)) * sig(t - tau);
    auto ref = centred_dft_real(frame);
    for (int i = 0; i < W / 2; i++) EXPECT_NEAR(out(t, i), ref[i], 1e-5) << t << " " << i;
  }
}

TEST(ChoiWilliams, ConstantSignalKeepsTheLagWindow) {
  // With flat windows every lag of a constant c carries c^2, up to lag
  // (Lg - 1) / 2; a lag window size of 0 with W = 16 makes Lg = 5.
  const int N = 24, W = 16, step = 2;
  Signal1D sig(N), out;
  sig.init(1.5f);
  ST_FFTN stf;
  stf.alloc(N, W_RECT, 1.f, W, step);
  stf.choi_williams(sig, out, W_RECT, 0, 1.0, 1.f);
  ASSERT_EQ(out.nx(), N / step);
  ASSERT_EQ(out.ny(), W / 2);
  std::vector<dft_ref::cplx> frame(W, 0.L);
  for (int tau : {0, 1, 2, W - 1, W - 2}) frame[tau] = 2.25L;
  auto ref = centred_dft_real(frame);
  for (int t = 0; t < N / step; t++)
    for (int i = 0; i < W / 2; i++) EXPECT_NEAR(out(t, i), ref[i], 1e-5) << t << " " << i;

  // A last partial step has no row: 10 samples by 3 give 3 rows.
  Signal1D short_sig = random_signal(10, 9u);
  stf.alloc(10, W_HAMMING, 0.5f, 8, 3);
  stf.choi_williams(short_sig, out, W_HAMMING, 3, 1.0, 0.5f);
  EXPECT_EQ(out.nx(), 3);
}

}  // namespace
