// Fourier-space wavelet transforms: filter values at the zero frequency and
// beyond the cut-off, the perfect-reconstruction identities, the round trips
// of the three types, band 0 of the smoothing pyramid, and the refusals of
// sides the radix-2 grid does not fit.
#include "multires/mr_wave_cf.h"

#include <gtest/gtest.h>

#include <cmath>

#include "multires/multiresol.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(FourierWavelet, FilterValues) {
  EXPECT_FLOAT_EQ(pyr_2d_cf_scaling_function(0, 0, 0.5f, 64), 1.f);
  EXPECT_FLOAT_EQ(pyr_2d_cf_filter_h(0, 0, 0.5f, 64, 64), 1.f);
  EXPECT_FLOAT_EQ(pyr_2d_cf_filter_g(0, 0, 0.5f, 64, 64, TO_PAVE_FFT), 0.f);
  // Beyond the cut-off (r >= Fc N = 32) the scaling function vanishes.
  EXPECT_EQ(pyr_2d_cf_scaling_function(32, 0, 0.5f, 64), 0.f);
  EXPECT_EQ(pyr_2d_cf_filter_h(20, 0, 0.5f, 64, 64), 0.f);
  EXPECT_EQ(pyr_2d_cf_filter_g(20, 0, 0.5f, 64, 64, TO_PYR_FFT_DIFF_RESOL), 1.f);
  // Perfect-reconstruction identities at every frequency of the box.
  for (int u = -16; u < 16; u += 3)
    for (int v = -16; v < 16; v += 5) {
      const float h = pyr_2d_cf_filter_h(u, v, 0.5f, 64, 64);
      const float g2 = pyr_2d_cf_filter_g(u, v, 0.5f, 64, 64, TO_PYR_FFT_DIFF_SQUARE);
      EXPECT_NEAR(h * h + g2 * g2, 1.f, 1e-5);
      const float g = pyr_2d_cf_filter_g(u, v, 0.5f, 64, 64, TO_PAVE_FFT);
      const float ht = pyr_2d_cf_filter_h_tilde(u, v, 0.5f, 64, 64, TO_PAVE_FFT);
      const float gt = pyr_2d_cf_filter_g_tilde(u, v, 0.5f, 64, 64, TO_PAVE_FFT);
      EXPECT_NEAR(h * ht + g * gt, 1.f, 1e-5);
    }
}

TEST(FourierWavelet, RoundTripOfTheThreeTypes) {
  for (type_transform type : {TO_PAVE_FFT, TO_PYR_FFT_DIFF_RESOL, TO_PYR_FFT_DIFF_SQUARE}) {
    Image ima = random_image(64, 64, 12u, 0.f, 10.f), rec;
    MultiResol mr(64, 64, 4, type, "cf");
    mr.transform(ima);
    EXPECT_EQ(mr.band(1).nl(), type == TO_PAVE_FFT ? 64 : 32);
    mr.recons(rec);
    EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-3) << StringTransform(type);
  }
}

TEST(FourierWavelet, SmoothingPyramidStartsWithTheImage) {
  Image ima = random_image(32, 32, 13u), band0;
  MultiResol mr(32, 32, 3, TO_PYR_FFT_DIFF_RESOL, "cf");
  mr.transform(ima, I_CONT, False);
  EXPECT_LT(qz_test::max_abs_difference(mr.band(0), ima), 1e-5);
}

TEST(FourierWavelet, Refusals) {
  EXPECT_EXIT_STATUS(pyr_2d_cf_filter(7, 0, 0, 0.5f, 8, 8, TO_PAVE_FFT), 255,
                     "Error: bad filter in pyr_2d_cf_filter");
  EXPECT_EXIT_STATUS(pyr_2d_cf_filter_g(0, 0, 0.5f, 8, 8, TO_PAVE_BSPLINE), 255,
                     "Error: bad wave in pyr_2d_cf_filter_g");
  MultiResol mr(16, 32, 3, TO_PAVE_FFT, "cf");
  Image ima(16, 32);
  EXPECT_EXIT_STATUS(mr.transform(ima), 255, "needs a square image");
}

// A square side that is not a power of two used to run through the
// mixed-radix FFT and give wrong bands (or a short reconstruction) with
// status 0; each entry point must refuse it.
TEST(FourierWavelet, RefusesSidesThatAreNotPowersOfTwo) {
  for (type_transform type : {TO_PYR_FFT_DIFF_RESOL, TO_PYR_FFT_DIFF_SQUARE})
    for (int side : {100, 120, 6}) {
      SCOPED_TRACE(testing::Message() << StringTransform(type) << " side " << side);
      MultiResol mr(side, side, 3, type, "cf");
      Image ima = random_image(side, side, 14u), rec(side, side);
      EXPECT_EXIT_STATUS(mr.transform(ima), 255, "error: is not a power of two");
      EXPECT_EXIT_STATUS(mr.transform(ima, I_CONT, False), 255, "error: is not a power of two");
      EXPECT_EXIT_STATUS(wave_cf_recons(mr, rec), 255, "error: is not a power of two");
    }
}

}  // namespace
