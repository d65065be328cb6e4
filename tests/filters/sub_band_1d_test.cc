// The border rules every bank reads its neighbours through, in particular
// wrapping and zero padding far outside the signal.
#include "filters/sub_band_1d.h"

#include <gtest/gtest.h>

#include "filter_test_util.h"
#include "filters/lifting.h"
#include "filters/sub_band_filter.h"
#include "filters/undec_sub_band_filter.h"

using filter_test::random_signal;

TEST(SubBand1D, BorderRulesGiveIndicesInsideTheSignal) {
  SubBand1D b;
  EXPECT_EQ(b.Bord, I_MIRROR);
  EXPECT_EQ(b.test_index(-2, 5), 2);
  EXPECT_EQ(b.test_index(6, 5), 2);
  b.Bord = I_CONT;
  EXPECT_EQ(b.test_index(-7, 5), 0);
  EXPECT_EQ(b.test_index(9, 5), 4);
  b.Bord = I_PERIOD;
  EXPECT_EQ(b.test_index(-1, 5), 4);
  EXPECT_EQ(b.test_index(7, 5), 2);
  EXPECT_EQ(b.test_index(-12, 5), 3);  // more than one length outside
  EXPECT_EQ(b.test_index(17, 5), 2);
  b.Bord = I_ZERO;
  const float x[3] = {1.f, 2.f, 3.f};
  EXPECT_EQ(b.test_index(-1, 3), -1);
  EXPECT_EQ(b.sample(x, -1, 3), 0.f);
  EXPECT_EQ(b.sample(x, 3, 3), 0.f);
  EXPECT_EQ(b.sample(x, 2, 3), 3.f);
}

TEST(SubBand1D, ZeroAndPeriodicRulesReachTheFilters) {
  const int n = 12;
  std::vector<float> x = random_signal(n, 31);
  auto zero_padded = [&](int i) { return i < 0 || i >= n ? 0. : double(x[i]); };
  auto periodic = [&](int i) { return double(x[((i % n) + n) % n]); };

  for (type_border bord : {I_ZERO, I_PERIOD}) {
    auto read = [&](int i) { return bord == I_ZERO ? zero_padded(i) : periodic(i); };
    // Spread taps reach up to 12 samples outside a signal of 12.
    SubBandFilter f(F_MALLAT_9_7, NORM_L2);
    f.Bord = bord;
    std::vector<float> low(n), high(n);
    f.transform(n, x.data(), low.data(), high.data(), 3);
    for (int i = 0; i < n; i++) {
      double want = 0.;
      for (int m = -4; m <= 4; m++) want += f.H0[m + 4] * read(i - 3 * m);
      EXPECT_NEAR(low[i], want, 1e-6) << "border " << bord << " sample " << i;
    }
    UndecSubBandFilter u(U_B3SPLINE);
    u.Bord = bord;
    u.transform(n, x.data(), low.data(), high.data(), 4);
    for (int i = 0; i < n; i++) {
      double want = (read(i - 8) + 4 * read(i - 4) + 6 * read(i) + 4 * read(i + 4) + read(i + 8)) / 16;
      EXPECT_NEAR(low[i], want, 1e-6) << "border " << bord << " sample " << i;
    }
  }

  // Lifting reads the same zeros in both directions: still exact.
  Lifting l(TL_INT_4_2);
  l.Bord = I_ZERO;
  std::vector<float> s = random_signal(n, 4, true), lo(n), hi(n), back(n);
  l.transform(n, s.data(), lo.data(), hi.data());
  l.recons(n, lo.data(), hi.data(), back.data());
  EXPECT_EQ(filter_test::max_abs_diff(s, back), 0.);
}
