// 1D wavelet packets: every level splits every block in place, and the
// inverse merges them back.
#include "filters/wp1d_mallat.h"

#include <gtest/gtest.h>

#include "filters/sub_band_filter.h"
#include "support/tolerance.h"
#include "wt1d_test_banks.h"

TEST(WaveletPackets1D, EachLevelSplitsBothHalvesAgain) {
  struct Case {
    int n, levels;
    std::vector<float> expected;
  };
  const Case cases[] = {
      {8, 0, {0, 2, 4, 6, 1, 3, 5, 7}},
      {8, 1, {0, 2, 4, 6, 1, 3, 5, 7}},
      {8, 2, {0, 4, 2, 6, 1, 5, 3, 7}},
      {7, 2, {0, 4, 2, 6, 1, 5, 3}},
  };
  LazyBank bank;
  for (const Case& c : cases) {
    to_array<float, true> x = ramp(c.n), trans, back;
    wp1d_mallat_transform(x, trans, c.levels, bank);
    EXPECT_EQ(pixels(trans), c.expected) << c.n << " " << c.levels;
    wp1d_mallat_rec(trans, back, c.levels, bank);
    EXPECT_EQ(pixels(back), pixels(x));
  }
}

TEST(WaveletPackets1D, HaarPacketsReconstruct) {
  SubBandFilter bank(F_HAAR, NORM_L2);
  bank.Bord = I_PERIOD;
  to_array<float, true> x = random_signal_array(64, 3), trans, back;
  wp1d_mallat_transform(x, trans, 4, bank);
  wp1d_mallat_rec(trans, back, 4, bank);
  EXPECT_LT(qz_test::max_abs_difference(back, x), 1e-5);
  // Orthonormal packets keep the energy.
  EXPECT_NEAR(trans.energy(), x.energy(), 1e-4);
}
