// The line-column transform: exact round trips in every form, the Mallat
// layout of the decimated form checked with a bank whose bands tell where
// each sample came from, and the column-only use of the ridgelet transform.
#include "multires/line_col.h"

#include <gtest/gtest.h>

#include "filters/sub_band_filter.h"
#include "filters/undec_sub_band_filter.h"
#include "filters/wt1d_test_banks.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

struct DecCase {
  int nl, nc, line_scales, col_scales;
  Bool high_split;
};

class LineColDecimated : public ::testing::TestWithParam<DecCase> {};

TEST_P(LineColDecimated, ReconstructsTheImage) {
  const DecCase c = GetParam();
  SubBandFilter bank(F_MALLAT_7_9);
  LineCol lc;
  lc.alloc(bank, c.high_split);
  to_array<float, false> ima = random_image(c.nl, c.nc, 11), trans, back;
  lc.transform(ima, trans, c.line_scales, c.col_scales);
  ASSERT_EQ(trans.nl(), c.nl);
  ASSERT_EQ(trans.nc(), c.nc);
  EXPECT_GT(qz_test::max_abs_difference(ima, trans), 1e-2);  // something happened
  lc.recons(trans, back, c.line_scales, c.col_scales);
  EXPECT_LT(qz_test::max_abs_difference(ima, back), 1e-4);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LineColDecimated,
                         ::testing::Values(DecCase{16, 16, 3, -1, False},
                                           DecCase{17, 23, 3, 2, False},
                                           DecCase{9, 31, 4, 0, False},
                                           DecCase{32, 15, 0, 3, False},
                                           DecCase{21, 22, 3, -1, True}));

TEST(LineCol, DecimatedLayoutIsCoarseFirstMallat) {
  LazyBank bank;
  LineCol lc(bank);
  const int nc = 11;
  to_array<float, false> ima(1, nc);
  for (int j = 0; j < nc; j++) ima(0, j) = float(j);
  lc.transform(ima, 3, 0);
  // Step 0: evens 0 2 4 6 8 10 | odds 1 3 5 7 9; step 1 on the six evens:
  // 0 4 8 | 2 6 10.
  const float expected[nc] = {0, 4, 8, 2, 6, 10, 1, 3, 5, 7, 9};
  for (int j = 0; j < nc; j++) EXPECT_EQ(ima(0, j), expected[j]) << j;
}

TEST(LineCol, HighBandSplitRefinesTheDetail) {
  LazyBank bank;
  LineCol lc;
  lc.alloc(bank, True);
  const int nl = 9;
  to_array<float, false> ima(nl, 1);
  for (int i = 0; i < nl; i++) ima(i, 0) = float(i);
  lc.transform(ima, 0, 3);
  // Step 0: 0 2 4 6 8 | 1 3 5 7; step 1 on the detail 1 3 5 7: 1 5 | 3 7.
  const float expected[nl] = {0, 2, 4, 6, 8, 1, 5, 3, 7};
  for (int i = 0; i < nl; i++) EXPECT_EQ(ima(i, 0), expected[i]) << i;
}

TEST(LineCol, UndecimatedFlatBandsReconstruct) {
  UndecSubBandFilter bank(U_B3SPLINE);
  LineCol lc;
  lc.alloc(bank, False);
  const int L = 3, C = 2, nl = 13, nc = 20;
  to_array<float, false> ima = random_image(nl, nc, 5), back(nl, nc);
  std::vector<to_array<float, false>> bands(L * C);
  for (auto& b : bands) b.alloc(nl, nc);
  to_array<float, false>* tab = bands.data();
  lc.undec_transform(ima, tab, L, C);
  // With Id - H detail filters, the bands of one image sum back to it.
  to_array<float, false> sum(nl, nc);
  for (auto& b : bands) sum += b;
  EXPECT_LT(qz_test::max_abs_difference(ima, sum), 1e-5);
  lc.undec_recons(tab, back, L, C);
  EXPECT_LT(qz_test::max_abs_difference(ima, back), 1e-5);
}

TEST(LineCol, UndecimatedTwoLevelBandsReconstructWithEqualCounts) {
  UndecSubBandFilter bank(U_B3SPLINE);
  LineCol lc(bank);
  const int nl = 16, nc = 9;
  to_array<float, false> ima = random_image(nl, nc, 8), back(nl, nc);
  to_array<float, false>** tab = nullptr;
  lc.undec_transform(ima, tab, 3, -1);
  for (int l = 0; l < 3; l++)
    for (int c = 0; c < 3; c++) ASSERT_EQ(tab[l][c].n_elem(), nl * nc);
  lc.undec_recons(tab, back, 3, -1);
  EXPECT_LT(qz_test::max_abs_difference(ima, back), 1e-5);
  for (int l = 0; l < 3; l++) delete[] tab[l];
  delete[] tab;
}

TEST(LineCol, SingleScaleUndecimatedInverseReturnsTheImage) {
  UndecSubBandFilter bank(U_B3SPLINE);
  LineCol lc(bank);
  to_array<float, false> ima = random_image(5, 7, 2), back(5, 7);
  to_array<float, false> band;
  to_array<float, false>* tab = &band;
  lc.undec_transform(ima, tab, 1, 1);
  lc.undec_recons(tab, back, 1, 1);
  EXPECT_EQ(qz_test::max_abs_difference(ima, back), 0.);
}

}  // namespace
