// Bi-orthogonal filter bank: taps, reconstruction where it holds and where it
// does not, brute-force convolutions, sample distances and noise variances.
#include "filters/sub_band_filter.h"

#include <gtest/gtest.h>

#include <cmath>

#include "filter_test_util.h"
#include "support/death.h"

using filter_test::Bands;
using filter_test::max_abs_diff;
using filter_test::random_signal;
using filter_test::round_trip;

namespace {

// sum over m of taps[m + size/2] * x[i - m * step]: the analysis convolution.
double convolve(const float* taps, int size, const std::vector<float>& x, int i, int step,
                type_border rule) {
  double sum = 0.;
  for (int m = -(size / 2); m <= size / 2; m++)
    sum += taps[m + size / 2] * filter_test::read(x, i - m * step, rule);
  return sum;
}

}  // namespace

TEST(SubBandFilter, SevenNineBankTapsStartsAndNormalisation) {
  SubBandFilter f(F_MALLAT_7_9, NORM_L2);
  EXPECT_EQ(std::vector<float>(f.G1, f.G1 + f.Size_G1),
            std::vector<float>({0.06453888f, -0.040689416f, -0.41809228f, 0.7884856f,
                                -0.41809228f, -0.040689416f, 0.06453888f}));
  EXPECT_EQ(std::vector<float>(f.G0, f.G0 + f.Size_G0),
            std::vector<float>({0.037828457f, 0.023849465f, -0.1106244f, -0.37740284f,
                                0.8526987f, -0.37740284f, -0.1106244f, 0.023849465f,
                                0.037828457f}));
  EXPECT_EQ(std::vector<int>({f.Start_H0, f.Start_H1, f.Start_G0, f.Start_G1, f.ReconsFactor}),
            std::vector<int>({-3, -4, -4, -3, 1}));
  SubBandFilter l1(F_MALLAT_7_9, NORM_L1);
  EXPECT_EQ(l1.ReconsFactor, 2);
  for (int k = 0; k < 7; k++) EXPECT_NEAR(l1.H0[k], f.H0[k] / std::sqrt(2.), 1e-7);
  SubBandFilter legall(F_5_3, NORM_L2);  // an L1 pair brought to L2
  EXPECT_EQ(legall.ReconsFactor, 1);
  EXPECT_NEAR(legall.H0[2], 0.75 * std::sqrt(2.), 1e-7);
}

// The bands are the reversed convolutions at the even (low) and odd (high)
// samples; the synthesis inverts them where the filters allow it.
TEST(SubBandFilter, DecimatedStepConvolvesAndReconstructsWhereTheFiltersAllowIt) {
  struct Case { type_sb_filter set; type_border rule; int n; bool exact; };
  const Case cases[] = {
      {F_MALLAT_7_9, I_MIRROR, 32, true},  {F_MALLAT_7_9, I_MIRROR, 33, true},
      {F_MALLAT_9_7, I_MIRROR, 32, true},  {F_MALLAT_9_7, I_MIRROR, 33, true},
      {F_MALLAT_7_9, I_PERIOD, 32, true},  {F_MALLAT_9_7, I_PERIOD, 32, true},
      {F_DAUBE_4, I_PERIOD, 32, true},     {F_5_3, I_MIRROR, 33, true},
      // Odd lengths do not wrap evenly, an asymmetric filter is not mirrored.
      {F_MALLAT_7_9, I_PERIOD, 33, false}, {F_DAUBE_4, I_MIRROR, 32, false},
      {F_MALLAT_7_9, I_CONT, 32, false},   {F_MALLAT_7_9, I_ZERO, 32, false},
  };
  for (const Case& c : cases)
    for (sb_type_norm norm : {NORM_L1, NORM_L2}) {
      SubBandFilter f(c.set, norm);
      f.Bord = c.rule;
      std::vector<float> x = random_signal(c.n, 11);
      Bands b = round_trip(f, x);
      SCOPED_TRACE(testing::Message() << StringSBFilter(c.set) << " norm " << norm << " rule "
                                      << c.rule << " N " << c.n);
      for (int j = 0; j < c.n / 2; j++) {
        EXPECT_NEAR(b.low[j], convolve(f.H0, f.Size_H0, x, 2 * j, 1, c.rule), 1e-6);
        EXPECT_NEAR(b.high[j], convolve(f.G0, f.Size_G0, x, 2 * j + 1, 1, c.rule), 1e-6);
      }
      EXPECT_LT(max_abs_diff(x, b.back, c.exact ? 0 : 10, c.exact ? c.n : c.n - 10), 1e-5);
      EXPECT_TRUE(c.exact || max_abs_diff(x, b.back) > 1e-2);
    }
}

TEST(SubBandFilter, OddLengthsAndTheOddLowPhase) {
  SubBandFilter f(F_MALLAT_7_9, NORM_L2);
  const int n = 9;
  to_array<float, true> signal(n), high(n / 2 + 1), low, back(n);
  std::vector<float> x = random_signal(n, 2);
  std::copy(x.begin(), x.end(), signal.buffer());
  high(n / 2) = 42.f;  // must stay: the high band has only n/2 values
  f.transform(signal, high, &low);
  EXPECT_EQ(low.nx(), 5);
  EXPECT_EQ(high(n / 2), 42.f);
  f.recons(back, high, low);
  for (int i = 0; i < n; i++) EXPECT_NEAR(back(i), x[i], 1e-5);
  // Bands too short for the signal stop instead of being overrun.
  to_array<float, true> short_band(n / 2 - 1);
  EXPECT_EXIT_STATUS(f.transform(signal, short_band, &low), 255, "Error: high band of 3 values");
  EXPECT_EXIT_STATUS(f.recons(back, high, short_band), 255, "Error: bands of 3 and 5 values");

  // With the odd phase the last low value is centred on the last sample.
  f.LowPhase = 0;
  std::vector<float> lo(5), hi(5);
  f.transform(n, x.data(), lo.data(), hi.data());
  EXPECT_NEAR(lo[4], convolve(f.H0, 7, x, n - 1, 1, I_MIRROR), 1e-6);
}

TEST(SubBandFilter, SampleDistanceSplitsInterleavedSubSignals) {
  SubBandFilter f(F_MALLAT_7_9, NORM_L2);
  std::vector<float> x = random_signal(8, 4), even(4), odd(4), lo_e(2), lo_o(2), hi(4), lo(4);
  for (int i = 0; i < 4; i++) even[i] = x[2 * i], odd[i] = x[2 * i + 1];
  f.transform(4, even.data(), lo_e.data(), hi.data());
  f.transform(4, odd.data(), lo_o.data(), hi.data());
  f.SampleDist = 2;
  f.transform(8, x.data(), lo.data(), hi.data());
  EXPECT_EQ(lo, std::vector<float>({lo_e[0], lo_o[0], lo_e[1], lo_o[1]}));

  // Round trips where every sub-signal's bands fit the interleaved layout.
  for (auto [dist, n] : {std::pair{2, 32}, {2, 33}, {4, 32}, {4, 40}}) {
    SubBandFilter g(F_MALLAT_9_7, NORM_L1);
    g.SampleDist = dist;
    std::vector<float> s = random_signal(n, 9);
    EXPECT_LT(max_abs_diff(s, round_trip(g, s).back), 1e-5) << dist << " " << n;
  }
}

TEST(SubBandFilter, UndecimatedStepsSpreadTheTapsAndReconstruct) {
  // Taps four apart reach up to 16 samples outside a signal of 20.
  const int n = 20;
  std::vector<float> x = random_signal(n, 8);
  for (sb_type_norm norm : {NORM_L1, NORM_L2})
    for (type_border rule : {I_PERIOD, I_ZERO, I_MIRROR})
      for (int step : {1, 2, 4}) {
        SubBandFilter f(F_MALLAT_7_9, norm);
        f.Bord = rule;
        Bands b = round_trip(f, x, step);
        SCOPED_TRACE(testing::Message() << "norm " << norm << " rule " << rule << " step " << step);
        for (int i = 0; i < n; i++) {
          EXPECT_NEAR(b.low[i], convolve(f.H0, 7, x, i, step, rule), 1e-6);
          EXPECT_NEAR(b.high[i], convolve(f.G0, 9, x, i, step, rule), 1e-6);
        }
        EXPECT_TRUE(rule != I_PERIOD || max_abs_diff(x, b.back) < 1e-5);
      }
}

TEST(SubBandFilter, NoiseTransformAddsVariancesWithSquaredTaps) {
  SubBandFilter f(F_MALLAT_7_9, NORM_L2);
  const int n = 24;
  std::vector<float> var(n), low(n), high(n), h0_sq(f.H0, f.H0 + 7), g0_sq(f.G0, f.G0 + 9);
  for (int i = 0; i < n; i++) var[i] = 1.f + 0.1f * i;
  for (float& v : h0_sq) v *= v;
  for (float& v : g0_sq) v *= v;
  for (int dist : {1, 2}) {
    f.SampleDist = dist;
    f.noise_transform(n, var.data(), low.data(), high.data());
    // Var = sum h[m]^2 v[i - m], the variances read by the border rule.
    for (int j = 0; j < n / 2; j++) {
      EXPECT_NEAR(low[j], convolve(h0_sq.data(), 7, var, 2 * j, dist, I_MIRROR), 1e-5);
      EXPECT_NEAR(high[j], convolve(g0_sq.data(), 9, var, 2 * j + 1, dist, I_MIRROR), 1e-5);
    }
  }
}

TEST(SubBandFilter, TwoAnalysisFiltersGiveTheBankOfTheirSet) {
  SubBandFilter l1(F_5_3, NORM_L1);
  testing::internal::CaptureStdout();
  SubBandFilter direct(l1.H0, l1.Size_H0, l1.G0, l1.Size_G0, NORM_L1);
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("H0 = 1.000000\n-0.125000\n0.250000\n"), 0u);
  EXPECT_TRUE(std::equal(l1.H1, l1.H1 + 3, direct.H1));
  EXPECT_TRUE(std::equal(l1.G1, l1.G1 + 5, direct.G1));
}
