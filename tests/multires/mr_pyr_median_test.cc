// Mixed median pyramids and the scaling-function refinement: the noise
// level given, estimated or floored, band sizes, and the non-negative
// bands after the back-projection.
#include "multires/mr_pyr_median.h"

#include <gtest/gtest.h>

#include "multires/multiresol.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(PyramidalMedian, NoiseLevelGivenOrEstimated) {
  Image ima = normal_image(32, 32, 21u, 3.f);
  MultiResol given(32, 32, 3, TM_TO_PYR, "wt-pmt");
  given.SigmaNoise = 2.f;
  given.transform(ima);
  EXPECT_EQ(given.SigmaNoise, 2.f);
  EXPECT_EQ(given.band(1).nl(), 16);
  MultiResol estimated(32, 32, 3, TM_TO_PYR, "wt-pmt");
  estimated.transform(ima);
  EXPECT_NEAR(estimated.SigmaNoise, 3.f, 0.6f);
  // A flat image has no noise: the half-pyramid floors the level.
  Image flat(32, 32);
  flat.init(5.f);
  MultiResol semi(32, 32, 3, TM_TO_SEMI_PYR, "wt-hpmt");
  semi.transform(flat);
  EXPECT_FLOAT_EQ(semi.SigmaNoise, 5.96047e-08f);
  EXPECT_EQ(semi.band(1).nl(), 32);
  Image rec;
  semi.recons(rec);
  EXPECT_LT(qz_test::max_abs_difference(rec, flat), 1e-4);
}

TEST(ScalingFunction, BackProjectionKeepsBandsNonNegative) {
  Image ima = random_image(32, 32, 22u, 0.f, 50.f);
  MultiResol mr(32, 32, 3, TM_PYR_SCALING_FUNCTION, "scaling");
  mr.NbrIter = 3;
  mr.transform(ima);
  for (int b = 0; b < mr.nbr_band(); b++)
    for (int k = 0; k < mr.band(b).n_elem(); k++) ASSERT_GE(mr.band(b)(k), 0.f) << b;
  // No iteration leaves the min-max pyramid as it was.
  MultiResol plain(32, 32, 3, TM_PYR_MINMAX, "minmax"), none(32, 32, 3, TM_PYR_MINMAX, "minmax");
  plain.transform(ima);
  none.transform(ima);
  mr_scaling_function(ima, none, 0);
  for (int b = 0; b < 3; b++) EXPECT_EQ(qz_test::max_abs_difference(none.band(b), plain.band(b)), 0.);
  // The correction brings the reconstruction closer to the image.
  Image before, after;
  plain.recons(before);
  mr_correct_pyr(ima, plain, 4);
  plain.recons(after);
  Image err_before = before - ima, err_after = after - ima;
  EXPECT_LT(err_after.sigma(), err_before.sigma());
}

}  // namespace
