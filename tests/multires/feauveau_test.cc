// Feauveau transforms, the one-image layout and the diadic quadratic-spline
// transform: the mask tables, the placement of one step on an 8 x 8 image,
// the layout index maps both ways, round trips of the one-image types
// (Feauveau, lifting, G transform) and of the diadic transform, and the
// refusals of the layout conversions.
#include "multires/feauveau.h"

#include <gtest/gtest.h>

#include <cmath>

#include "multires/mallat_atrou.h"
#include "multires/multiresol.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(FeauveauMasks, TurnedMaskHoldsTheSameTaps) {
  double sum_u = 0, sum_diag = 0;
  int nonzero = 0;
  for (float v : Filtre_U) sum_u += v;
  for (float v : Filtre_Diag_U) {
    sum_diag += v;
    nonzero += v != 0.f;
  }
  EXPECT_EQ(nonzero, 49);
  EXPECT_NEAR(sum_u, sum_diag, 1e-7);
  EXPECT_FLOAT_EQ(Filtre_U[24], 0.6433908f);
  EXPECT_FLOAT_EQ(Filtre_Diag_U[6 * 13 + 6], 0.6433908f);
  EXPECT_FLOAT_EQ(Filtre_V[24], 0.6433908f);
  EXPECT_FLOAT_EQ(Filtre_V[23], -0.1433488f);
  EXPECT_FLOAT_EQ(Filtre_Diag_U[5 * 13 + 5], 0.1433488f);
  EXPECT_FLOAT_EQ(Filtre_Diag_U[6], -0.0004016f);
  // The turned V mask is the turned U mask with its odd rows negated.
  for (int r = 0; r < 13; r++)
    for (int c = 0; c < 13; c++)
      EXPECT_EQ(Filtre_Diag_V[r * 13 + c], (r % 2 ? -1.f : 1.f) * Filtre_Diag_U[r * 13 + c]);
}

TEST(FeauveauTransform, OneStepOfAnEightByEightImageFillsItsBlocks) {
  Image ima = random_image(8, 8, 31u), y(8, 8);
  y.init(1e6f);
  tr_feauveau_one_scale(ima, y, 8, 8);
  for (int k = 0; k < 64; k++) EXPECT_LT(std::fabs(y(k)), 100.f) << k;  // every pixel written
  // The smooth block is the low-pass: near the image mean for a flat image.
  Image flat(8, 8), yf(8, 8);
  flat.init(10.f);
  tr_feauveau_one_scale(flat, yf, 8, 8);
  EXPECT_NEAR(yf(1, 1), 10.f, 0.1f);
  EXPECT_NEAR(yf(1, 6), 0.f, 0.1f);  // first detail block, columns 4-7
  EXPECT_NEAR(yf(6, 1), 0.f, 0.1f);  // second detail block, rows 4-7
}

TEST(FeauveauTransform, OddSizesLeaveNoStaleSmoothValues) {
  Image flat(7, 9), y(7, 9);
  flat.init(10.f);
  y.init(-500.f);
  tr_feauveau_one_scale(flat, y, 7, 9);
  EXPECT_NEAR(y(3, 4), 10.f, 0.1f);  // last row and column of the 4 x 5 smooth block
}

TEST(OneImageLayout, IndexMaps) {
  int I, J;
  ind_orthog_transf(0, 0, 0, DetailDiag, 8, 8, I, J);
  EXPECT_EQ(I, 4);
  EXPECT_EQ(J, 4);
  ind_orthog_transf(0, 1, 2, DetailSmooth, 8, 8, I, J);
  EXPECT_EQ(I, 1);
  EXPECT_EQ(J, 2);
  ind_orthog_quinc(0, 1, 2, DetailFeauFirst, 8, 8, I, J);
  EXPECT_EQ(J, 6);
  int s, i, j;
  details d;
  pos_orthog_transf(0, s, i, j, d, 8, 8, 3);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(d, DetailFirst);
  pos_orthog_transf(63, s, i, j, d, 8, 8, 3);
  EXPECT_EQ(d, DetailSmooth);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(i, 1);
  EXPECT_EQ(j, 1);
  EXPECT_EXIT_STATUS(ind_orthog_transf(0, 0, 0, DetailNone, 8, 8, I, J), 255,
                     "Error: unknown detail");
}

TEST(OneImageLayout, BandsToImageAndBack) {
  MultiResol mr(9, 7, 3, TO_MALLAT, "layout");
  for (int b = 0; b < mr.nbr_band(); b++)
    for (int k = 0; k < mr.band(b).n_elem(); k++) mr.band(b)(k) = static_cast<float>(100 * b + k);
  Image one;
  ortho_trans_to_ima(mr, one, 0);
  ASSERT_EQ(one.nl(), 9);
  MultiResol copy(9, 7, 3, TO_MALLAT, "layout");
  ima_to_ortho_trans(copy, one, 0);
  for (int b = 0; b < mr.nbr_band(); b++)
    EXPECT_EQ(qz_test::max_abs_difference(copy.band(b), mr.band(b)), 0.) << b;
  Image wrong(4, 4);
  EXPECT_EXIT_STATUS(ima_to_ortho_trans(copy, wrong, 0), 255, "bad image size in  ima_to_ortho_trans");
  MultiResol cube(8, 8, 3, TO_PAVE_LINEAR, "cube");
  EXPECT_EXIT_STATUS(ortho_trans_to_ima(cube, one, 0), 255, "bad transformation type");
}

// The Feauveau masks are rounded to seven digits: their reconstruction is
// close (within 1% of the range), not exact.
TEST(OneImageTypes, RoundTrips) {
  const struct {
    type_transform type;
    double tolerance;
  } cases[] = {{TO_FEAUVEAU, 0.1}, {TO_PAVE_FEAUVEAU, 1e-4}, {TO_LIFTING, 1e-3}, {TM_MIN_MAX, 1e-3}};
  for (const auto& c : cases) {
    Image ima = random_image(32, 32, 32u, 0.f, 10.f), rec;
    MultiResol mr(32, 32, 3, c.type, "one image");
    mr.transform(ima);
    mr.recons(rec);
    EXPECT_LT(qz_test::max_abs_difference(rec, ima), c.tolerance) << StringTransform(c.type);
  }
}

TEST(DiadicSplines, ConstantImageAndRoundTrip) {
  Image flat(16, 16), rec;
  flat.init(4.f);
  MultiResol mr(16, 16, 3, TO_DIADIC_MALLAT, "diadic");
  mr.transform(flat, I_CONT, True);
  EXPECT_LT(mr.band(0).maxfabs(), 1e-6);
  EXPECT_LT(mr.band(3).maxfabs(), 1e-6);
  EXPECT_NEAR(mr.TabBand[4](5, 5), 4.f, 1e-5);
  EXPECT_NEAR(mr.TabBand[5](5, 5), 4.f, 1e-5);
  // Band 2s holds 2 (X(i, j + step) - X(i, j)).
  Image ima = random_image(32, 32, 33u);
  mr.alloc(32, 32, 3, TO_DIADIC_MALLAT, "diadic");
  mr.transform(ima, I_PERIOD, True);
  EXPECT_FLOAT_EQ(mr.band(0)(3, 4), 2 * (ima(3, 5) - ima(3, 4)));
  mr.recons(rec, I_PERIOD);
  EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-3);
  to_array<float, false> mod[2], pha[2];
  calc_mod_pha_wave_2d_mallat_atrou(mr.TabBand, mod, pha, 3);
  const float a = mr.band(2)(1, 1), b = mr.band(3)(1, 1);
  EXPECT_FLOAT_EQ(mod[1](1, 1), std::sqrt(a * a + b * b));
}

}  // namespace
