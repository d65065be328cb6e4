// Decimated 1D transform over a bank: the band layout for even and odd
// lengths, exact reconstruction where the filters allow it and the border
// error where a level is too short, the one-scale identity.
#include "filters/ortho_1d_wt.h"

#include <gtest/gtest.h>

#include "filters/sub_band_filter.h"
#include "support/test_images.h"
#include "support/tolerance.h"
#include "wt1d_test_banks.h"

TEST(Ortho1DWT, LayoutPutsTheCoarsestBandFirstForEvenAndOddLengths) {
  struct Case {
    int n, scales;
    std::vector<float> expected;
  };
  // With the lazy bank every level keeps the even samples of the previous
  // one, so the bands hold the ramp's values at their decimation steps.
  const Case cases[] = {
      {16, 4, {0, 8, 4, 12, 2, 6, 10, 14, 1, 3, 5, 7, 9, 11, 13, 15}},
      {13, 3, {0, 4, 8, 12, 2, 6, 10, 1, 3, 5, 7, 9, 11}},
      {5, 1, {0, 1, 2, 3, 4}},  // one scale: the signal is its own smooth band
  };
  LazyBank bank;
  for (const Case& c : cases) {
    to_array<float, true> x = ramp(c.n), trans, back;
    Ortho_1D_WT wt(bank);
    wt.transform(x, trans, c.scales);
    EXPECT_EQ(pixels(trans), c.expected) << "N " << c.n;
    HALF_1D_WT half(bank);
    to_array<float, true> trans_half;
    half.transform(x, trans_half, c.scales);
    EXPECT_EQ(pixels(trans_half), c.expected);
    wt.recons(trans, back, c.scales);
    EXPECT_EQ(pixels(back), pixels(x));
  }
}

TEST(Ortho1DWT, ReconstructsWhenEverySplitLevelHasFiveSamples) {
  struct Case {
    type_sb_filter set;
    type_border rule;
    int n, scales;
  };
  const Case cases[] = {
      {F_MALLAT_7_9, I_MIRROR, 17, 4},  {F_MALLAT_7_9, I_MIRROR, 16, 3},
      {F_MALLAT_7_9, I_MIRROR, 101, 5}, {F_MALLAT_9_7, I_MIRROR, 33, 4},
      {F_5_3, I_MIRROR, 33, 4},         {F_DAUBE_4, I_PERIOD, 64, 4},
      {F_HAAR, I_PERIOD, 64, 6},
  };
  for (const Case& c : cases)
    for (sb_type_norm norm : {NORM_L1, NORM_L2}) {
      SubBandFilter bank(c.set, norm);
      bank.Bord = c.rule;
      to_array<float, true> x = random_signal_array(c.n, 5), trans, back;
      mallat_1d_transform(x, trans, c.scales, bank);
      ASSERT_EQ(trans.n_elem(), c.n);
      mallat_1d_reconstruct(trans, back, c.scales, bank);
      EXPECT_LT(qz_test::max_abs_difference(back, x), 1e-5)
          << StringSBFilter(c.set) << " N " << c.n << " norm " << norm;
    }
}

TEST(Ortho1DWT, ALevelOfFourSamplesDoesNotComeBackAtTheBorders) {
  SubBandFilter bank(F_MALLAT_7_9, NORM_L2);
  to_array<float, true> x = random_signal_array(16, 6), trans, back;
  Ortho_1D_WT wt(bank);
  wt.transform(x, trans, 4);  // levels 16, 8 and 4
  wt.recons(trans, back, 4);
  EXPECT_GT(qz_test::max_abs_difference(back, x), 1e-3);
}
