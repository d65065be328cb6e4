// Lifting schemes: round trips (exact for the integer schemes), the 7/9
// scheme against the 9/7 filter bank, the rounding rule and the error stops.
#include "filters/lifting.h"

#include <gtest/gtest.h>

#include <cmath>

#include "filter_test_util.h"
#include "filters/sub_band_filter.h"
#include "support/death.h"

using filter_test::max_abs_diff;
using filter_test::random_signal;

namespace {

std::vector<float> decimated_round_trip(Lifting& l, const std::vector<float>& x,
                                        std::vector<float>* low = nullptr,
                                        std::vector<float>* high = nullptr) {
  int n = int(x.size());
  std::vector<float> in = x, lo((n + 1) / 2), hi(n / 2 + 1), back(n);
  l.transform(n, in.data(), lo.data(), hi.data());
  if (low) *low = lo;
  if (high) *high = hi;
  l.recons(n, lo.data(), hi.data(), back.data());
  return back;
}

bool all_integers(const std::vector<float>& v, int count) {
  for (int i = 0; i < count; i++)
    if (v[i] != std::trunc(v[i])) return false;
  return true;
}

}  // namespace

TEST(Lifting, DecimatedRoundTripsForEveryScheme) {
  for (int t = 1; t <= 7; t++) {
    for (type_border bord : {I_MIRROR, I_PERIOD}) {
      for (int n : {8, 31, 64}) {
        // A periodic odd length joins two even samples: the wide predictors
        // would then read odd ones.
        if (bord == I_PERIOD && n % 2 == 1) continue;
        Lifting l{type_lift(t)};
        l.Bord = bord;
        bool integer = t == 3 || t == 4 || t == 5 || t == 7;
        std::vector<float> x = random_signal(n, 100 + n, integer), low, high;
        std::vector<float> back = decimated_round_trip(l, x, &low, &high);
        std::string what = std::string(StringLSTransform(type_lift(t))) + " border " +
                           std::to_string(bord) + " N " + std::to_string(n);
        if (integer) {
          EXPECT_EQ(max_abs_diff(x, back), 0.) << what;
          EXPECT_TRUE(all_integers(low, (n + 1) / 2)) << what;
          EXPECT_TRUE(all_integers(high, n / 2)) << what;
        } else {
          EXPECT_LT(max_abs_diff(x, back), 1e-5) << what;
        }
      }
    }
  }
}

TEST(Lifting, SevenNineSchemeIsTheNineSevenFilterBank) {
  // Away from the borders the lifting factorisation computes the same bands
  // as the 9/7 filters in L2 normalisation.
  const int n = 40;
  std::vector<float> x = random_signal(n, 17);
  Lifting l(TL_F79);
  SubBandFilter f(F_MALLAT_9_7, NORM_L2);
  std::vector<float> lo(n), hi(n), flo(n), fhi(n);
  l.transform(n, x.data(), lo.data(), hi.data());
  f.transform(n, x.data(), flo.data(), fhi.data());
  EXPECT_LT(max_abs_diff(lo, flo, 3, n / 2 - 3), 2e-6);
  EXPECT_LT(max_abs_diff(hi, fhi, 3, n / 2 - 3), 2e-6);

  // A constant: no detail, and the low band carries sqrt(2) times it.
  for (int len : {9, 16}) {
    std::vector<float> c(len, 5.f), clo(len), chi(len);
    l.transform(len, c.data(), clo.data(), chi.data());
    for (int j = 0; j < len / 2; j++) EXPECT_NEAR(chi[j], 0., 1e-5);
    for (int j = 0; j < (len + 1) / 2; j++) EXPECT_NEAR(clo[j], 5. * std::sqrt(2.), 1e-5);
  }
}

TEST(Lifting, IntegerRoundingIsHalfUpByTruncation) {
  Lifting haar(TL_INT_HAAR);
  const float minus_one[2] = {-1.f, -1.f}, one[2] = {1.f, 1.f}, x[3] = {-1.2f, 0.f, 0.f};
  EXPECT_EQ(haar.lift_update(0, 2, minus_one, 1), 0.f);  // q(-0.5)
  EXPECT_EQ(haar.lift_update(0, 2, one, 1), 1.f);        // q(0.5)
  EXPECT_EQ(haar.lift_predict(1, 3, x, 1), 0.f);         // q(-1.2)
  // Integer Haar on 5, 3: detail 3 - 5, smooth 5 + q(-1) = 5 + 0.
  std::vector<float> low, high;
  Lifting h2(TL_INT_HAAR);
  decimated_round_trip(h2, {5.f, 3.f}, &low, &high);
  EXPECT_EQ(high[0], -2.f);
  EXPECT_EQ(low[0], 5.f);
}

TEST(Lifting, UndecimatedRoundTrips) {
  const int n = 32;
  for (int t = 1; t <= 5; t++) {
    for (int step : {1, 2}) {
      Lifting l{type_lift(t)};
      bool integer = t >= 3;
      std::vector<float> x = random_signal(n, 7, integer), low(n), high(n), back(n);
      l.transform(n, x.data(), low.data(), high.data(), step);
      l.recons(n, low.data(), high.data(), back.data(), step);
      EXPECT_LT(max_abs_diff(x, back), integer ? 0.5 : 1e-5)
          << StringLSTransform(type_lift(t)) << " step " << step;
      if (integer) {
        EXPECT_EQ(max_abs_diff(x, back), 0.);
      }
    }
  }
}

TEST(Lifting, TextsAndErrorStops) {
  EXPECT_STREQ(StringLSTransform(TL_INT_4_2), "Lifting scheme: integer (4,2) interpolating transform");
  EXPECT_STREQ(StringLSTransform(type_lift(0)), "Undefined transform");
  testing::internal::CaptureStderr();
  lifting_usage(TL_INT_HAAR);
  std::string text = testing::internal::GetCapturedStderr();
  EXPECT_NE(text.find("              7: Lifting scheme: integer 7/9 WT \n"), std::string::npos);

  std::vector<float> x(8, 1.f), a(8), b(8);
  Lifting f79(TL_F79), unknown{type_lift(0)};
  EXPECT_EXIT_STATUS(f79.transform(8, x.data(), a.data(), b.data(), 1), 255, "not implemented");
  EXPECT_EXIT_STATUS(f79.recons(8, a.data(), b.data(), x.data(), 1), 255,
                     "Error: unknown lifting transform");
  EXPECT_EXIT_STATUS(unknown.transform(8, x.data(), a.data(), b.data()), 255,
                     "Error: unknown lifting transform");
}
