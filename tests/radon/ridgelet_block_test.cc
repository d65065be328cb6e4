// The default ridgelet variant of one block against the one-line complex
// path (support/ridgelet_reference.h): the block transform and its inverse
// pair real lines in their FFTs, and must agree with full complex FFTs of
// every line within float rounding, for the curvelet's block sides and odd
// ones; the pyramid's padding stays zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "radon/ridgelet.h"
#include "support/ridgelet_reference.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

double max_abs(const Image& a) {
  double m = 0.;
  for (int k = 0; k < a.n_elem(); k++) m = std::max(m, double(std::fabs(a(k))));
  return m;
}

// Rounding bound of a chain of a 2D FFT, a few 1D FFTs and their inverses
// on lines of `side` values, relative to the largest value.
double chain_tolerance(int side) { return 16 * qz_test::transform_tolerance<float>(2 * side); }

}  // namespace

TEST(RidgeletBlock, DefaultVariantTransformMatchesTheOneLineComplexPath) {
  for (int side : {16, 32, 64, 17, 31}) {
    SCOPED_TRACE(testing::Message() << "block side " << side);
    Ridgelet rid;
    rid.alloc(side, side, side);
    Image block = random_image(side, side, 100u + unsigned(side)), coef;
    rid.transform_one_block(block, coef);
    const Image expect = qz_test::reference_block_transform(rid, block);
    ASSERT_EQ(coef.nl(), expect.nl());
    ASSERT_EQ(coef.nc(), expect.nc());
    EXPECT_LE(qz_test::max_abs_difference(coef, expect), chain_tolerance(side) * max_abs(expect));
    // Beyond the pyramid every line holds exact zeros.
    const int np = rid.rid_pos(0) + rid.rid_size(0);
    for (int p = 0; p < coef.nl(); p++)
      for (int k = np; k < coef.nc(); k++) ASSERT_EQ(coef(p, k), 0.f) << p << " " << k;
  }
}

TEST(RidgeletBlock, DefaultVariantReconstructionMatchesTheOneLineComplexPath) {
  for (int side : {16, 32, 64, 17, 31}) {
    SCOPED_TRACE(testing::Message() << "block side " << side);
    Ridgelet rid;
    rid.alloc(side, side, side);
    Image block = random_image(side, side, 200u + unsigned(side)), coef, rec;
    rid.transform_one_block(block, coef);
    // Coefficients as a thresholding leaves them: most lines partly zero,
    // so that the pairs of lines differ.
    for (int k = 0; k < coef.n_elem(); k++)
      if (std::fabs(coef(k)) < 0.5f * float(max_abs(coef)) * float(k % 3) / 3.f) coef(k) = 0.f;
    const Image expect = qz_test::reference_block_recons(rid, coef);
    Image input = coef;  // the reconstruction may work in its input
    rid.recons_one_block(input, rec);
    ASSERT_EQ(rec.nl(), expect.nl());
    ASSERT_EQ(rec.nc(), expect.nc());
    EXPECT_LE(qz_test::max_abs_difference(rec, expect), chain_tolerance(side) * max_abs(expect));
  }
}

// Whole images go through the blocks two by two, the first 1D scale of a
// pair taken straight from the 2D spectrum of both blocks: every block must
// still agree with the one-line complex path, for even and odd sides (odd
// lines have no sample of their own mirror) and with overlap.
TEST(RidgeletBlock, BlockPairsOfAWholeImageMatchTheOneLineComplexPath) {
  for (int side : {16, 17, 32}) {
    for (Bool overlap : {False, True}) {
      SCOPED_TRACE(testing::Message() << "block side " << side << " overlap " << overlap);
      Ridgelet rid;
      rid.BlockOverlap = overlap;
      rid.alloc(3 * side, 3 * side, side);
      Image ima = random_image(3 * side, 3 * side, 300u + unsigned(side)), trans;
      rid.transform(ima, trans);
      Image expect(rid.rid_nl(), rid.rid_nc()), block(rid.BlockSize, rid.BlockSize);
      for (int bi = 0; bi < rid.NbrBi; bi++)
        for (int bj = 0; bj < rid.NbrBj; bj++) {
          rid.get_block_ima(bi, bj, ima, block);
          Image ref = qz_test::reference_block_transform(rid, block);
          rid.put_block_trans(bi, bj, expect, ref);
        }
      ASSERT_GE(rid.NbrBj, 2);
      EXPECT_LE(qz_test::max_abs_difference(trans, expect),
                chain_tolerance(side) * max_abs(expect));
    }
  }
}
