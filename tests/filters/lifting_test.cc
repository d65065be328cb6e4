// Lifting schemes: round trips (exact for the integer schemes), the CDF and
// 7/9 schemes against their filter banks, the rounding rule and the stops.
#include "filters/lifting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "filter_test_util.h"
#include "filters/sub_band_filter.h"
#include "support/death.h"

using filter_test::max_abs_diff;
using filter_test::random_signal;

namespace {

bool integer_scheme(int t) { return t == 3 || t == 4 || t == 5 || t == 7; }

bool all_integers(const std::vector<float>& v) {
  return std::all_of(v.begin(), v.end(), [](float x) { return x == std::trunc(x); });
}

}  // namespace

TEST(Lifting, DecimatedRoundTripsForEveryScheme) {
  for (int t = 1; t <= 7; t++)
    for (type_border rule : {I_MIRROR, I_PERIOD})
      for (int n : {8, 31, 64}) {
        // A periodic odd length joins two even samples: the wide predictors
        // would then read odd ones.
        if (rule == I_PERIOD && n % 2 == 1) continue;
        Lifting l{type_lift(t)};
        l.Bord = rule;
        std::vector<float> x = random_signal(n, 100 + n, integer_scheme(t));
        SCOPED_TRACE(testing::Message() << StringLSTransform(l.TypeLift) << " rule " << rule
                                        << " N " << n);
        filter_test::Bands b = filter_test::round_trip(l, x);
        EXPECT_TRUE(!integer_scheme(t) || (all_integers(b.low) && all_integers(b.high)));
        EXPECT_LE(max_abs_diff(x, b.back), integer_scheme(t) ? 0. : 1e-5);
      }
}

TEST(Lifting, CdfAndSevenNineSchemesAreTheirFilterBanks) {
  // Away from the borders the CDF scheme is the L1 5/3 bank with twice its
  // high band, and the 7/9 scheme the L2 9/7 bank.
  const int n = 40;
  std::vector<float> x = random_signal(n, 17);
  struct Case { type_lift lift; type_sb_filter set; sb_type_norm norm; float high_gain; };
  for (const Case& c : {Case{TL_CDF, F_5_3, NORM_L1, 2.f}, Case{TL_F79, F_MALLAT_9_7, NORM_L2, 1.f}}) {
    Lifting l(c.lift);
    SubBandFilter f(c.set, c.norm);
    std::vector<float> lo(n), hi(n), flo(n), fhi(n);
    l.transform(n, x.data(), lo.data(), hi.data());
    f.transform(n, x.data(), flo.data(), fhi.data());
    for (float& v : fhi) v *= c.high_gain;
    EXPECT_LT(max_abs_diff(lo, flo, 3, n / 2 - 3), 2e-6) << StringLSTransform(c.lift);
    EXPECT_LT(max_abs_diff(hi, fhi, 3, n / 2 - 3), 2e-6) << StringLSTransform(c.lift);
  }
  // A constant of any length: no detail, sqrt(2) times it in the low band.
  Lifting l(TL_F79);
  for (int len : {9, 16}) {
    std::vector<float> c(len, 5.f), lo(len), hi(len);
    l.transform(len, c.data(), lo.data(), hi.data());
    for (int j = 0; j < len / 2; j++) EXPECT_NEAR(hi[j], 0., 1e-5);
    for (int j = 0; j < (len + 1) / 2; j++) EXPECT_NEAR(lo[j], 5. * std::sqrt(2.), 1e-5);
  }
}

TEST(Lifting, IntegerRoundingIsHalfUpByTruncation) {
  Lifting haar(TL_INT_HAAR);
  const float minus_one[2] = {-1.f, -1.f}, one[2] = {1.f, 1.f}, x[3] = {-1.2f, 0.f, 0.f};
  EXPECT_EQ(haar.lift_update(0, 2, minus_one, 1), 0.f);  // q(-0.5)
  EXPECT_EQ(haar.lift_update(0, 2, one, 1), 1.f);        // q(0.5)
  EXPECT_EQ(haar.lift_predict(1, 3, x, 1), 0.f);         // q(-1.2)
  // 5, 3: the detail 3 - 5 predicted from the left, the smooth 5 + q(-1).
  float pair[2] = {5.f, 3.f}, low, high;
  haar.transform(2, pair, &low, &high);
  EXPECT_EQ(high, -2.f);
  EXPECT_EQ(low, 5.f);
}

TEST(Lifting, UndecimatedRoundTrips) {
  const int n = 32;
  for (int t = 1; t <= 5; t++)
    for (int step : {1, 2}) {
      Lifting l{type_lift(t)};
      std::vector<float> x = random_signal(n, 7, t >= 3);
      EXPECT_LE(max_abs_diff(x, filter_test::round_trip(l, x, step).back), t >= 3 ? 0. : 1e-5)
          << StringLSTransform(type_lift(t)) << " step " << step;
    }
}

TEST(Lifting, TextsAndErrorStops) {
  EXPECT_STREQ(StringLSTransform(TL_INT_4_2),
               "Lifting scheme: integer (4,2) interpolating transform");
  EXPECT_STREQ(StringLSTransform(type_lift(0)), "Undefined transform");
  testing::internal::CaptureStderr();
  lifting_usage(TL_INT_HAAR);
  std::string text = testing::internal::GetCapturedStderr();
  EXPECT_NE(text.find("              7: Lifting scheme: integer 7/9 WT \n"), std::string::npos);

  std::vector<float> x(12, 1.f), a(12), b(12);
  Lifting f79(TL_F79), unknown{type_lift(0)}, zero(TL_INT_4_2);
  EXPECT_EXIT_STATUS(f79.transform(8, x.data(), a.data(), b.data(), 1), 255, "not implemented");
  EXPECT_EXIT_STATUS(f79.recons(8, a.data(), b.data(), x.data(), 1), 255,
                     "Error: unknown lifting transform");
  EXPECT_EXIT_STATUS(unknown.transform(8, x.data(), a.data(), b.data()), 255,
                     "Error: unknown lifting transform");
  // The zero rule has no neighbour past the last sample.
  zero.Bord = I_ZERO;
  EXPECT_EXIT_STATUS(zero.transform(12, x.data(), a.data(), b.data()), 255,
                     "PB IndHigh: 10 N = 12 i = 11 Step = 1");
}
