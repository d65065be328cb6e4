// 1D a trous transform: the smoothing against the spread B3 kernel under
// every border rule, the bands summing to the signal, exact inverses of the
// plain and modified transforms and the inexact adjoint of the plain one,
// the band norms and the refusal of scale counts that reach a zero norm, and
// the thresholding operations.
#include "filters/atrous_1d_wt.h"

#include <gtest/gtest.h>

#include "filter_test_util.h"
#include "support/death.h"
#include "support/tolerance.h"
#include "wt1d_test_banks.h"

namespace {

struct AtrousFixture {
  ATROUS_1D_WT wt;
  to_array<float, true>* bands = nullptr;
  AtrousFixture(int n, int scales) { wt.alloc(bands, n, scales); }
  ~AtrousFixture() { wt.free(bands, wt.NbrScale); }
};

}  // namespace

TEST(Atrous1DWT, SmoothingIsTheSpreadB3KernelUnderEveryBorder) {
  const int n = 12;
  to_array<float, true> x = random_signal_array(n, 21), out;
  std::vector<float> xv = pixels(x);
  ATROUS_1D_WT wt;
  for (type_border rule : {I_CONT, I_MIRROR, I_PERIOD, I_ZERO})
    for (int s : {0, 1, 2}) {
      wt.Border = rule;
      wt.b3spline_filtering(x, out, s);
      ASSERT_EQ(out.nx(), n);
      to_array<float, true> in_place(x);
      wt.b3spline_filtering(in_place, in_place, s);
      EXPECT_EQ(pixels(in_place), pixels(out));
      int d = 1 << s;
      auto r = [&](int i) { return filter_test::read(xv, i, rule); };
      for (int i = 0; i < n; i++)
        EXPECT_NEAR(out(i),
                    (r(i - 2 * d) + 4 * r(i - d) + 6 * r(i) + 4 * r(i + d) + r(i + 2 * d)) / 16,
                    1e-6)
            << "rule " << rule << " s " << s << " i " << i;
    }
}

TEST(Atrous1DWT, PlainAndModifiedTransformsReconstructTheAdjointDoesNot) {
  for (int n : {40, 33})
    for (int mode : {0, 1, 2}) {  // plain, modified, adjoint of the plain
      AtrousFixture f(n, 5);
      f.wt.Modified = Bool(mode == 1);
      f.wt.Adjoint = Bool(mode == 2);
      f.wt.Border = I_MIRROR;
      to_array<float, true> x = random_signal_array(n, 22), back, sum(n);
      f.wt.transform(x, f.bands);
      for (int b = 0; b < 5; b++) sum += f.bands[b];
      EXPECT_EQ(qz_test::max_abs_difference(sum, x) < 1e-5, mode != 1);
      f.wt.recons(f.bands, back);
      EXPECT_EQ(qz_test::max_abs_difference(back, x) < 1e-5, mode != 2) << n << " " << mode;
    }
}

TEST(Atrous1DWT, BandNormsAndScaleCountsThatReachAZeroNorm) {
  ATROUS_1D_WT wt;
  EXPECT_FLOAT_EQ(wt.norm_band(0), 0.721618f);
  EXPECT_FLOAT_EQ(wt.norm_band(8), 0.0177307f);
  for (int s : {9, 10, -1}) EXPECT_EQ(wt.norm_band(s), 0.f) << s;
  // Ten scales use the norms of bands 0 to 8; eleven would divide by 0.
  AtrousFixture ten(16, 10);
  ten.bands[8](3) = 1.f;
  EXPECT_FLOAT_EQ(ten.wt.getAbsMaxTransf(ten.bands), 1.f / 0.0177307f);
  EXPECT_EQ(ten.bands[9].name(), "band_10");
  to_array<float, true>* bands = nullptr;
  EXPECT_EXIT_STATUS(wt.alloc(bands, 16, 11), 255, "Error: bad number of scales: 11");
  // A signal of another length is refused instead of overrunning the bands.
  to_array<float, true> x(17);
  EXPECT_EXIT_STATUS(ten.wt.transform(x, ten.bands), 255, "signal of 17 samples");
}

TEST(Atrous1DWT, UpdateIsAHardThresholdWithAnOptionalSoftOne) {
  ATROUS_1D_WT wt;
  wt.SoftFactor = 0.5f;
  struct Case {
    int soft_mode;
    float coef, sigma, expected;
  };  // level 4
  const Case cases[] = {
      {0, 3.f, 1.f, 0.f},   {0, -4.f, 1.f, -4.f},
      {1, -3.f, 1.f, 0.f},  {1, 10.f, 1.f, 9.5f},  // soft level sigma * 0.5 below level / 2
      {1, 10.f, 10.f, 8.f},                        // soft level capped at level / 2
  };
  for (const Case& c : cases) {
    wt.SoftMode = c.soft_mode;
    EXPECT_EQ(wt.update(c.coef, 4.f, c.sigma), c.expected) << c.coef << " " << c.sigma;
    EXPECT_EQ(wt.is_on_support(c.coef, 4.f, c.sigma), c.expected != 0.f ? True : False);
  }
}

TEST(Atrous1DWT, ThresholdUsesTheBandNoiseAndSkipsUnusedAndSmoothBands) {
  AtrousFixture f(8, 3);
  f.wt.Noise = 2.f;
  const float n0 = 2.f * 0.721618f, n1 = 2.f * 0.286209f;
  // Band 0 at 3 + 1 sigma, band 1 at 3 sigma.
  f.bands[0].init(4 * n0 * 0.99f);
  f.bands[0](2) = 4 * n0 * 1.01f;
  f.bands[1].init(3 * n1 * 1.01f);
  f.bands[1](5) = -3 * n1 * 0.99f;
  f.bands[2].init(0.001f);
  f.wt.Threshold(f.bands, 3.f, 0);
  for (int i = 0; i < 8; i++) {
    EXPECT_EQ(f.bands[0](i) != 0.f, i == 2) << i;
    EXPECT_EQ(f.bands[1](i) != 0.f, i != 5) << i;
    EXPECT_EQ(f.bands[2](i), 0.001f);
  }
  // A level of 0 changes nothing but the positivity and isolation rules.
  f.bands[0].init(0.f);
  f.bands[0](3) = 1.f;
  f.bands[1].init(-0.5f);
  f.wt.PositiveOnly = True;
  f.wt.KillIsolated = True;
  f.wt.KillScaleNotUsed(f.bands, 1);
  EXPECT_EQ(f.bands[0](3), 0.f);
  f.bands[0](3) = 1.f;
  f.wt.Threshold(f.bands, 0.f, 0);
  EXPECT_EQ(f.bands[0](3), 1.f);  // band 0 is not used
  EXPECT_EQ(f.bands[1].total(), 0.);
  f.wt.FirstScale = 0;
  f.wt.Threshold(f.bands, 0.f, 0);
  EXPECT_EQ(f.bands[0](3), 0.f);  // isolated
}

TEST(Atrous1DWT, AbsMaxIsTheLargestLevelInBandNoiseUnits) {
  AtrousFixture f(8, 3);
  f.wt.Noise = 0.5f;
  EXPECT_EQ(f.wt.getAbsMaxTransf(f.bands), 0.f);
  f.bands[0](1) = -3.f;
  f.bands[1](4) = 1.f;
  f.bands[2](0) = 100.f;  // the smooth band does not count
  EXPECT_FLOAT_EQ(f.wt.getAbsMaxTransf(f.bands), 3.f / 0.721618f / 0.5f);
  f.wt.PositiveOnly = True;
  EXPECT_FLOAT_EQ(f.wt.getAbsMaxTransf(f.bands), 1.f / 0.286209f / 0.5f);
  EXPECT_EQ(f.bands[0](1), 0.f);  // raised in place
}
