// Undecimated spline/Haar filter bank: perfect reconstruction, brute-force
// spread convolutions under every border rule, and the texts.
#include "filters/undec_sub_band_filter.h"

#include <gtest/gtest.h>

#include "filter_test_util.h"

using filter_test::max_abs_diff;
using filter_test::random_signal;

// Ht*H + Gt*G = Id: exact with the periodic rule at every step, and with the
// mirror rule for the symmetric types 0 to 2.
TEST(UndecSubBandFilter, StepsReconstructWithPeriodicAndMirrorBorders) {
  const int n = 32;
  std::vector<float> x = random_signal(n, 21);
  for (int t = 0; t <= 4; t++)
    for (type_border rule : {I_PERIOD, I_MIRROR})
      for (int step : {1, 2, 4}) {
        UndecSubBandFilter f{type_undec_filter(t)};
        f.Bord = rule;
        std::vector<float> back = filter_test::round_trip(f, x, step).back;
        int margin = (rule == I_MIRROR && t >= 3) ? 4 * step : 0;
        EXPECT_LT(max_abs_diff(x, back, margin, n - margin), 2e-6)
            << "type " << t << " rule " << rule << " step " << step;
        EXPECT_TRUE(margin == 0 || max_abs_diff(x, back) > 1e-3) << "type " << t;
      }
}

TEST(UndecSubBandFilter, SplineStepIsTheSpreadB3Kernel) {
  const int n = 12;
  std::vector<float> x = random_signal(n, 31), c(n, 2.5f), low(n), high(n);
  UndecSubBandFilter f(U_B3SPLINE);
  // A constant: the smooth band is the constant, the detail zero.
  f.transform(n, c.data(), low.data(), high.data(), 2);
  for (int i = 0; i < n; i++) EXPECT_EQ(std::make_pair(low[i], high[i]), std::make_pair(2.5f, 0.f));
  // Taps four apart reach up to 8 samples outside a signal of 12.
  for (type_border rule : {I_CONT, I_MIRROR, I_PERIOD, I_ZERO}) {
    f.Bord = rule;
    f.transform(n, x.data(), low.data(), high.data(), 4);
    auto r = [&](int i) { return filter_test::read(x, i, rule); };
    for (int i = 0; i < n; i++) {
      double smooth = (r(i - 8) + 4 * r(i - 4) + 6 * r(i) + 4 * r(i + 4) + r(i + 8)) / 16;
      EXPECT_NEAR(low[i], smooth, 1e-6) << "rule " << rule << " sample " << i;
      EXPECT_NEAR(high[i], r(i) - smooth, 1e-6) << "rule " << rule << " sample " << i;
    }
  }
}

TEST(UndecSubBandFilter, DecimatedSlotsWriteNothingAndFourTypesAreOffered) {
  UndecSubBandFilter f(U_B3SPLINE_2);
  std::vector<float> x = random_signal(8, 1), low(8, 7.f), high(8, 7.f);
  f.transform(8, x.data(), low.data(), high.data());
  f.noise_transform(8, x.data(), low.data(), high.data());
  f.recons(8, low.data(), high.data(), x.data());
  for (int i = 0; i < 8; i++) EXPECT_EQ(low[i] + high[i], 14.f);
  EXPECT_EQ(std::vector<int>({f.Size_H, f.Size_G, f.Size_Ht, f.Size_Gt}),
            std::vector<int>({5, 9, 5, 3}));

  EXPECT_STREQ(StringUndecFilter(type_undec_filter(5)), "Undefined filters");
  testing::internal::CaptureStderr();
  usb_usage(U_B3SPLINE);
  std::string text = testing::internal::GetCapturedStderr();
  // Types 0 to 3 are offered, numbered from 1.
  EXPECT_NE(text.find("              4: Harr/Spline POS"), std::string::npos);
  EXPECT_EQ(text.find("5:"), std::string::npos);
}
