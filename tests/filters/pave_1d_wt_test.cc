// Undecimated 1D transform over a bank: the bands of the B3 bank sum to the
// signal, the inverse restores it, the one-step forms agree with the bank,
// short bands are refused, and the detection statistic.
#include "filters/pave_1d_wt.h"

#include <gtest/gtest.h>

#include "filters/sub_band_filter.h"
#include "filters/undec_sub_band_filter.h"
#include "support/death.h"
#include "support/tolerance.h"
#include "wt1d_test_banks.h"

TEST(Pave1DWT, B3BankColumnsSumToTheSignalAndTheInverseRestoresIt) {
  for (int n : {31, 64}) {
    UndecSubBandFilter bank(U_B3SPLINE);
    PAVE_1D_WT wt(bank);
    to_array<float, true> x = random_signal_array(n, 7), trans, back;
    wt.transform(x, trans, 5);
    ASSERT_EQ(trans.nx(), n);
    ASSERT_EQ(trans.ny(), 5);
    for (int i = 0; i < n; i++) {
      float sum = 0.f;
      for (int s = 0; s < 5; s++) sum += trans(i, s);
      EXPECT_NEAR(sum, x(i), 1e-5);
    }
    wt.recons(trans, back, 5);
    EXPECT_LT(qz_test::max_abs_difference(back, x), 1e-5);
  }
}

TEST(Pave1DWT, ScaleSUsesTheBankStepTwoToTheS) {
  SubBandFilter bank(F_MALLAT_7_9, NORM_L2);
  bank.Bord = I_PERIOD;
  PAVE_1D_WT wt(bank);
  const int n = 32;
  to_array<float, true> x = random_signal_array(n, 8), trans, back;
  wt.transform(x, trans, 4);
  std::vector<float> cur(x.buffer(), x.buffer() + n), low(n), high(n);
  for (int s = 0; s < 3; s++) {
    bank.transform(n, cur.data(), low.data(), high.data(), 1 << s);
    for (int i = 0; i < n; i++) EXPECT_EQ(trans(i, s), high[i]) << s << " " << i;
    cur = low;
  }
  for (int i = 0; i < n; i++) EXPECT_EQ(trans(i, 3), cur[i]);
  wt.recons(trans, back, 4);
  EXPECT_LT(qz_test::max_abs_difference(back, x), 1e-5);

  // The one-step forms are the bank's steps; short bands stop.
  to_array<float, true> hi(n), lo(n), rec(n), short_band(n - 1);
  wt.transform(x, hi, lo, 2);
  wt.recons(hi, lo, rec, 2);
  EXPECT_LT(qz_test::max_abs_difference(rec, x), 1e-5);
  EXPECT_EXIT_STATUS(wt.transform(x, short_band, lo, 2), 255, "band of 31 values");
  EXPECT_EXIT_STATUS(wt.recons(hi, short_band, rec, 2), 255, "band of 31 values");
}

TEST(Pave1DWT, AbsMaxDividesByTheBandNoiseAndSkipsTheSmoothBand) {
  UndecSubBandFilter bank(U_B3SPLINE);
  PAVE_1D_WT wt(bank);
  to_array<float, true> trans(4, 3);
  EXPECT_EQ(wt.getAbsMaxTransf(trans, 1.f, False, False), 0.f);
  trans(1, 0) = -0.72349f * 5;  // 5 sigma at scale 0, negative
  trans(2, 1) = 0.28545f * 3;   // 3 sigma at scale 1
  trans(0, 2) = 1000.f;         // smooth band: ignored
  EXPECT_NEAR(wt.getAbsMaxTransf(trans, 2.f, False, False), 2.5f, 1e-5);
  EXPECT_NEAR(wt.getAbsMaxTransf(trans, 2.f, True, False), 1.5f, 1e-5);
  // Scales beyond the factor table keep its last factor.
  to_array<float, true> deep(2, 12);
  deep(0, 10) = 0.017f;
  EXPECT_NEAR(wt.getAbsMaxTransf(deep, 1.f, False, False), 1.f, 1e-5);
}
