// Bi-orthogonal filter bank: taps, reconstruction where it holds and where it
// does not, brute-force convolutions, sample distances and noise variances.
#include "filters/sub_band_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "filter_test_util.h"

using filter_test::max_abs_diff;
using filter_test::random_signal;

namespace {

struct Bands {
  std::vector<float> low, high, back;
};

// Decimated analysis then synthesis; the bands get room for either phase.
Bands round_trip(SubBandFilter& f, const std::vector<float>& x) {
  int n = int(x.size());
  Bands b{std::vector<float>(n / 2 + 1), std::vector<float>(n / 2 + 1), std::vector<float>(n)};
  std::vector<float> in = x;
  f.transform(n, in.data(), b.low.data(), b.high.data());
  f.recons(n, b.low.data(), b.high.data(), b.back.data());
  return b;
}

int wrap(int i, int n) { return ((i % n) + n) % n; }

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
  EXPECT_EQ(std::vector<int>({f.Start_H0, f.Start_H1, f.Start_G0, f.Start_G1}),
            std::vector<int>({-3, -4, -4, -3}));
  EXPECT_EQ(f.ReconsFactor, 1);
  SubBandFilter l1(F_MALLAT_7_9, NORM_L1);
  EXPECT_EQ(l1.ReconsFactor, 2);
  for (int k = 0; k < 7; k++) EXPECT_NEAR(l1.H0[k], f.H0[k] / std::sqrt(2.), 1e-7);
  SubBandFilter legall(F_5_3, NORM_L2);  // an L1 pair brought to L2
  EXPECT_EQ(legall.ReconsFactor, 1);
  EXPECT_NEAR(legall.H0[2], 0.75 * std::sqrt(2.), 1e-7);
}

TEST(SubBandFilter, DecimatedStepReconstructsWhereTheFiltersAllowIt) {
  struct Case { type_sb_filter set; type_border bord; int n; bool exact; };
  const Case cases[] = {
      {F_MALLAT_7_9, I_MIRROR, 32, true},  {F_MALLAT_7_9, I_MIRROR, 33, true},
      {F_MALLAT_9_7, I_MIRROR, 32, true},  {F_MALLAT_9_7, I_MIRROR, 33, true},
      {F_MALLAT_7_9, I_PERIOD, 32, true},  {F_MALLAT_9_7, I_PERIOD, 32, true},
      {F_DAUBE_4, I_PERIOD, 32, true},     {F_5_3, I_MIRROR, 33, true},
      // Odd lengths do not wrap evenly, an asymmetric filter is not mirrored.
      {F_MALLAT_7_9, I_PERIOD, 33, false}, {F_DAUBE_4, I_MIRROR, 32, false},
      {F_MALLAT_7_9, I_CONT, 32, false},
  };
  for (const Case& c : cases) {
    for (sb_type_norm norm : {NORM_L1, NORM_L2}) {
      SubBandFilter f(c.set, norm);
      f.Bord = c.bord;
      std::vector<float> x = random_signal(c.n, 11);
      Bands b = round_trip(f, x);
      std::string what = std::string(StringSBFilter(c.set)) + " border " +
                         std::to_string(c.bord) + " N " + std::to_string(c.n);
      if (c.exact) {
        EXPECT_LT(max_abs_diff(x, b.back), 1e-5) << what;
      } else {
        EXPECT_GT(max_abs_diff(x, b.back), 1e-2) << what;
        EXPECT_LT(max_abs_diff(x, b.back, 10, c.n - 10), 1e-5) << what << " (interior)";
      }
    }
  }
}

TEST(SubBandFilter, DaubechiesAnalysisIsAnOrthonormalConvolution) {
  SubBandFilter f(F_DAUBE_4, NORM_L2);
  f.Bord = I_PERIOD;
  const int n = 16;
  std::vector<float> x = random_signal(n, 5);
  Bands b = round_trip(f, x);
  // Low[j] = sum_m h[m] x[2j - m], h centred on its middle tap.
  FilterAnaSynt set(F_DAUBE_4);
  const float* h = set.analysis();
  double energy_x = 0., energy_bands = 0.;
  for (int j = 0; j < n / 2; j++) {
    double want = 0.;
    for (int m = -3; m <= 3; m++) want += h[m + 3] * x[wrap(2 * j - m, n)];
    EXPECT_NEAR(b.low[j], want, 1e-6) << j;
    energy_bands += double(b.low[j]) * b.low[j] + double(b.high[j]) * b.high[j];
  }
  for (float v : x) energy_x += double(v) * v;
  EXPECT_NEAR(energy_bands, energy_x, 1e-5 * energy_x);
}

TEST(SubBandFilter, ConstantSignalHasZeroHighBand) {
  const float c = 3.5f;
  for (type_sb_filter set : {F_MALLAT_7_9, F_DAUBE_4, F_ODEGARD_9_7, F_5_3, F_MALLAT_9_7}) {
    for (sb_type_norm norm : {NORM_L1, NORM_L2}) {
      SubBandFilter f(set, norm);
      std::vector<float> x(20, c), low(20), high(20);
      f.transform(20, x.data(), low.data(), high.data());
      double dc = norm == NORM_L2 ? std::sqrt(2.) : 1.;
      for (int j = 0; j < 10; j++) {
        EXPECT_NEAR(high[j], 0., 2e-6 * c) << StringSBFilter(set);
        EXPECT_NEAR(low[j], c * dc, 2e-4 * c) << StringSBFilter(set);
      }
      f.transform(20, x.data(), low.data(), high.data(), 4);
      for (int i = 0; i < 20; i++) EXPECT_NEAR(high[i], 0., 2e-6 * c) << StringSBFilter(set);
    }
  }
}

TEST(SubBandFilter, OddLengthsAndTheOddLowPhase) {
  SubBandFilter f(F_MALLAT_7_9, NORM_L2);
  const int n = 9;
  to_array<float, true> signal(n), high(n / 2 + 1), low;
  std::vector<float> x = random_signal(n, 2);
  std::copy(x.begin(), x.end(), signal.buffer());
  high(n / 2) = 42.f;  // must stay: the high band has only n/2 values
  f.transform(signal, high, &low);
  EXPECT_EQ(low.nx(), 5);
  EXPECT_EQ(high(n / 2), 42.f);
  to_array<float, true> back(n);
  f.recons(back, high, low);
  for (int i = 0; i < n; i++) EXPECT_NEAR(back(i), x[i], 1e-5);

  // With the odd phase the last low value is centred on the last sample.
  f.LowPhase = 0;
  std::vector<float> lo(5), hi(5);
  f.transform(n, x.data(), lo.data(), hi.data());
  auto mirror = [n](int i) { return i < 0 ? -i : (i >= n ? 2 * n - i - 2 : i); };
  double want = 0.;
  for (int m = -3; m <= 3; m++) want += f.H0[m + 3] * x[mirror(n - 1 - m)];
  EXPECT_NEAR(lo[4], want, 1e-6);
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

TEST(SubBandFilter, UndecimatedStepsReconstructAndSpreadTheTaps) {
  const int n = 32;
  std::vector<float> x = random_signal(n, 8);
  for (sb_type_norm norm : {NORM_L1, NORM_L2}) {
    for (int step : {1, 2, 4}) {
      SubBandFilter f(F_MALLAT_7_9, norm);
      f.Bord = I_PERIOD;
      std::vector<float> low(n), high(n), back(n);
      f.transform(n, x.data(), low.data(), high.data(), step);
      f.recons(n, low.data(), high.data(), back.data(), step);
      EXPECT_LT(max_abs_diff(x, back), 1e-5) << "step " << step;
      for (int i = 0; i < n; i++) {
        double want = 0.;
        for (int m = -3; m <= 3; m++) want += f.H0[m + 3] * x[wrap(i - m * step, n)];
        EXPECT_NEAR(low[i], want, 1e-6);
      }
    }
  }
}

TEST(SubBandFilter, NoiseTransformAddsVariancesWithSquaredTaps) {
  SubBandFilter f(F_MALLAT_7_9, NORM_L2);
  const int n = 24;
  std::vector<float> var(n), low(n), high(n);
  for (int i = 0; i < n; i++) var[i] = 1.f + 0.1f * i;
  for (int dist : {1, 2}) {
    f.SampleDist = dist;
    f.noise_transform(n, var.data(), low.data(), high.data());
    // Far from the borders every sample enters once: Var = sum h[m]^2 v[i - m].
    for (int j = 5; j < 7; j++) {
      double want_low = 0., want_high = 0.;
      for (int m = -3; m <= 3; m++) want_low += double(f.H0[m + 3]) * f.H0[m + 3] * var[2 * j - m * dist];
      for (int m = -4; m <= 4; m++)
        want_high += double(f.G0[m + 4]) * f.G0[m + 4] * var[2 * j + 1 - m * dist];
      EXPECT_NEAR(low[j], want_low, 1e-5);
      EXPECT_NEAR(high[j], want_high, 1e-5);
    }
  }
}

TEST(SubBandFilter, UserFileAndTwoFilterBanksEqualTheBuiltInSet) {
  std::string path = (std::filesystem::temp_directory_path() /
                      ("qz_legall_" + std::to_string(::getpid()) + ".wvf")).string();
  std::ofstream(path) << "-2 2\n-0.125 0.25 0.75 0.25 -0.125\n-1 1\n0.25 0.5 0.25\n";
  SubBandFilter from_file(path.c_str(), NORM_L2), builtin(F_5_3, NORM_L2);
  std::filesystem::remove(path);
  ASSERT_EQ(from_file.Size_H0, builtin.Size_H0);
  for (int k = 0; k < builtin.Size_H0; k++) EXPECT_EQ(from_file.H0[k], builtin.H0[k]);
  for (int k = 0; k < builtin.Size_G0; k++) EXPECT_EQ(from_file.G0[k], builtin.G0[k]);

  // The two analysis filters of the L1 5/3 set give the same bank.
  SubBandFilter l1(F_5_3, NORM_L1);
  testing::internal::CaptureStdout();
  SubBandFilter direct(l1.H0, l1.Size_H0, l1.G0, l1.Size_G0, NORM_L1);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed.find("H0 = 1.000000\n-0.125000\n0.250000\n0.750000\n"), 0u);
  for (int k = 0; k < 3; k++) EXPECT_EQ(direct.H1[k], l1.H1[k]);
  for (int k = 0; k < 5; k++) EXPECT_EQ(direct.G1[k], l1.G1[k]);

}
