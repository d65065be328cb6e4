// Undecimated spline/Haar filter bank: perfect reconstruction, the identity
// Ht*H + Gt*G = Id from the taps, constant signals and the texts.
#include "filters/undec_sub_band_filter.h"

#include <gtest/gtest.h>

#include <map>

#include "filter_test_util.h"

using filter_test::max_abs_diff;
using filter_test::random_signal;

TEST(UndecSubBandFilter, SynthesisTimesAnalysisIsTheIdentity) {
  // The composite filter, each tap applied at offset k - Size/2 (the
  // stored order, not reversed) in both steps, must be a unit impulse.
  for (int t = 0; t <= 4; t++) {
    UndecSubBandFilter f{type_undec_filter(t)};
    std::map<int, double> composite;
    auto add = [&](const float* a, int na, const float* s, int ns) {
      for (int k = 0; k < ns; k++)
        for (int l = 0; l < na; l++) composite[(k - ns / 2) + (l - na / 2)] += double(s[k]) * a[l];
    };
    add(f.H, f.Size_H, f.Ht, f.Size_Ht);
    add(f.G, f.Size_G, f.Gt, f.Size_Gt);
    for (auto [offset, value] : composite)
      EXPECT_NEAR(value, offset == 0 ? 1. : 0., 1e-7) << "type " << t << " offset " << offset;
  }
}

TEST(UndecSubBandFilter, StepsReconstructWithPeriodicAndMirrorBorders) {
  const int n = 32;
  std::vector<float> x = random_signal(n, 21);
  for (int t = 0; t <= 4; t++) {
    for (type_border bord : {I_PERIOD, I_MIRROR}) {
      for (int step : {1, 2, 4}) {
        UndecSubBandFilter f{type_undec_filter(t)};
        f.Bord = bord;
        std::vector<float> low(n), high(n), back(n);
        f.transform(n, x.data(), low.data(), high.data(), step);
        f.recons(n, low.data(), high.data(), back.data(), step);
        // The Haar types (3, 4) are not symmetric: mirrored borders break them.
        int margin = (bord == I_MIRROR && t >= 3) ? 4 * step : 0;
        EXPECT_LT(max_abs_diff(x, back, margin, n - margin), 2e-6)
            << "type " << t << " border " << bord << " step " << step;
      }
    }
  }
}

TEST(UndecSubBandFilter, ConstantSignalAndSpreadTaps) {
  UndecSubBandFilter f(U_B3SPLINE);
  const int n = 16;
  std::vector<float> c(n, 2.5f), low(n), high(n);
  f.transform(n, c.data(), low.data(), high.data(), 2);
  for (int i = 0; i < n; i++) {
    EXPECT_FLOAT_EQ(low[i], 2.5f);
    EXPECT_FLOAT_EQ(high[i], 0.f);
  }
  // B3 spline at distance 2: (1, 4, 6, 4, 1)/16 over samples i-4 .. i+4.
  std::vector<float> x = random_signal(n, 3), out(n);
  f.convol_filter(n, x.data(), out.data(), f.H, f.Size_H, 2);
  for (int i = 4; i < n - 4; i++)
    EXPECT_NEAR(out[i], (x[i - 4] + 4 * x[i - 2] + 6 * x[i] + 4 * x[i + 2] + x[i + 4]) / 16., 1e-6);
}

TEST(UndecSubBandFilter, DecimatedSlotsWriteNothingAndFourTypesAreOffered) {
  UndecSubBandFilter f(U_B3SPLINE_2);
  std::vector<float> x = random_signal(8, 1), low(8, 7.f), high(8, 7.f);
  f.transform(8, x.data(), low.data(), high.data());
  f.noise_transform(8, x.data(), low.data(), high.data());
  f.recons(8, low.data(), high.data(), x.data());
  for (int i = 0; i < 8; i++) EXPECT_EQ(low[i] + high[i], 14.f);
  EXPECT_EQ(f.Size_G, 9);
  EXPECT_EQ(f.Size_Gt, 3);

  EXPECT_STREQ(StringUndecFilter(type_undec_filter(5)), "Undefined filters");
  testing::internal::CaptureStderr();
  usb_usage(U_B3SPLINE);
  std::string text = testing::internal::GetCapturedStderr();
  // Types 0 to 3 are offered, numbered from 1.
  EXPECT_NE(text.find("              4: Harr/Spline POS"), std::string::npos);
  EXPECT_EQ(text.find("5:"), std::string::npos);
}
