// Haar transforms: the odd-edge pairs of the decimated form on a 3 x 3
// image, exact round trips of every size, the diadic form with and without
// the 1D transform across its bands for both norms, the three-direction
// pair, and the 1D step on lengths whose last block is longer than the step.
#include "multires/haar_2d.h"

#include <gtest/gtest.h>

#include "multires/multiresol.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(Haar2D, OddEdgesOfAThreeByThreeImage) {
  Image ima = coded_image(3, 3);
  MultiResol mr(3, 3, 2, TO_HAAR, "haar");
  mr.transform(ima);
  ASSERT_EQ(mr.band(0).nl(), 2);
  ASSERT_EQ(mr.band(0).nc(), 1);
  EXPECT_EQ(mr.band(0)(1, 0), ima(2, 1) - ima(2, 0));  // b - a of the bottom pair
  const Image& smooth = mr.band(3);
  ASSERT_EQ(smooth.nl(), 2);
  EXPECT_EQ(smooth(1, 1), ima(2, 2));
  // The 2 x 2 block uses the orthonormal factor.
  EXPECT_FLOAT_EQ(smooth(0, 0), (ima(0, 0) + ima(0, 1) + ima(1, 0) + ima(1, 1)) / 2.f);
  Image rec;
  mr.recons(rec);
  EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-4);
}

TEST(Haar2D, DecimatedRoundTripOfEverySize) {
  for (int nl = 1; nl <= 12; nl += 1)
    for (int nc : {1, 2, 5, 8, 13}) {
      const int scales = 3;
      Image ima = random_image(nl, nc, 100u + nl * 16 + nc), rec;
      MultiResol mr(nl, nc, scales, TO_HAAR, "haar");
      mr.transform(ima);
      mr.recons(rec);
      EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-5) << nl << " x " << nc;
    }
}

TEST(Haar2D, DiadicRoundTripForBothNormsWithAndWithoutFlag) {
  for (sb_type_norm norm : {NORM_L1, NORM_L2})
    for (Bool flag : {False, True}) {
      Image ima = random_image(32, 32, 9u), rec;
      MultiResol mr;
      mr.alloc(32, 32, 4, TO_DIADIC_HAAR, nullptr, norm, -1, U_B3SPLINE_2);
      mr.HaarDir2Flag = flag;
      mr.transform(ima, I_CONT, True);
      mr.recons(rec, I_CONT);
      EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-4) << norm << " " << flag;
    }
  // Without the flag the bands are the raw differences times c.
  Image ima = random_image(16, 16, 10u);
  MultiResol mr;
  mr.alloc(16, 16, 3, TO_DIADIC_HAAR, nullptr, NORM_L1, -1, U_B3SPLINE_2);
  mr.transform(ima, I_CONT, True);
  EXPECT_FLOAT_EQ(mr.band(0)(4, 5), (ima(4, 5) - ima(4, 6)) * 0.5f);
  EXPECT_FLOAT_EQ(mr.band(1)(4, 5), (ima(4, 5) - ima(5, 5)) * 0.5f);
}

TEST(Haar2D, ThreeDirectionPairIsExact) {
  for (sb_type_norm norm : {NORM_L1, NORM_L2}) {
    MultiResol mr;
    mr.alloc(20, 24, 3, TO_UNDECIMATED_NON_ORTHO, nullptr, norm, -1, U_B3SPLINE_2);
    mr.TypeNorm = norm;
    mr.Border = I_CONT;
    Image ima = random_image(20, 24, 11u), rec;
    haar_2d_atrou_dir3_transform(ima, mr);
    haar_2d_atrou_dir3_recons(mr, rec);
    EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-4) << norm;
  }
}

TEST(Haar1D, LastBlockLongerThanTheStepStaysInItsBuffers) {
  // N = 10 with step 4: blocks [0, 8) and [8, 10) give 4 + 2 outputs, more
  // than (N+1)/2 = 5.
  EXPECT_EQ(haar_1d_atrou_nbr_out(10, 4), 6);
  EXPECT_EQ(haar_1d_atrou_nbr_out(16, 4), 8);
  to_array<float, true> sig(10), coef, back;
  for (int k = 0; k < 10; k++) sig(k) = static_cast<float>(k * k % 7);
  haar_1d_atrou_transform(sig, coef, 3, 0.5, 2);
  haar_1d_atrou_reconstruct(coef, back, 3, 1.0, 2);
  EXPECT_EQ(back.nx(), 10);
  // Power-of-two lengths come back exactly.
  to_array<float, true> sig16(16), coef16, back16;
  for (int k = 0; k < 16; k++) sig16(k) = static_cast<float>(k * k % 11);
  haar_1d_atrou_transform(sig16, coef16, 3, 0.5, 1);
  haar_1d_atrou_reconstruct(coef16, back16, 3, 1.0, 1);
  EXPECT_LT(qz_test::max_abs_difference(back16, sig16), 1e-5);
}

}  // namespace
