// Spatial Radon transform: where a pixel's weight lands on each projection,
// the back-projection's normalisation and ignored border, the ramp filter's
// gains, and the direct Fourier reconstruction of a point.
#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>

#include "radon/radon.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(SpatialRadon, CentrePixelFallsOnBinZeroOfEveryProjection) {
  Radon r;
  r.alloc(8, 8, RADON_PROJ_BACK, 0, 0);
  Image ima(8, 8), rad;
  ima(4, 4) = 1.f;
  r.transform(ima, rad);
  for (int i = 0; i < rad.nl(); i++)
    for (int k = 0; k < rad.nc(); k++) EXPECT_EQ(rad(i, k), k == 0 ? 1.f : 0.f) << i << " " << k;
}

TEST(SpatialRadon, NegativePositionsWrapToTheEnd) {
  Radon r;
  r.alloc(8, 8, RADON_PROJ_BACK, 0, 0);
  Image ima(8, 8), rad;
  ima(4, 3) = 1.f;  // x = -1, y = 0
  r.transform(ima, rad);
  EXPECT_EQ(rad(0, 7), 1.f);
  for (int k = 0; k < 7; k++) EXPECT_EQ(rad(0, k), 0.f) << k;
}

TEST(SpatialRadon, BackProjectionOfOnesAndIgnoredBorder) {
  Radon r;
  r.alloc(8, 8, RADON_PROJ_BACK, 0, 0);
  Image rad(16, 8), ima;
  rad.init(1.f);
  r.recons(rad, ima);
  // Every bin of the centre pixel lies inside the line.
  EXPECT_FLOAT_EQ(ima(4, 4), 16.f / 64.f);

  Radon odd;
  odd.alloc(7, 7, RADON_PROJ_BACK, 0, 0);
  Image im7(7, 7), rad7, back7;
  im7.init(1.f);
  odd.transform(im7, rad7);
  double total = 0;
  for (int k = 0; k < rad7.nc(); k++) total += rad7(0, k);
  EXPECT_NEAR(total, 36., 1e-4);  // the last line and column are not projected
  odd.recons(rad7, back7);
  for (int k = 0; k < 7; k++) {
    EXPECT_EQ(back7(6, k), 0.f);
    EXPECT_EQ(back7(k, 6), 0.f);
  }
}

TEST(SpatialRadon, FourierReconstructionPutsAPointBackAtTheCentre) {
  Radon r;
  r.alloc(16, 16, RADON_PROJ_FFT, 0, 0);
  Image ima(16, 16), rad, back;
  ima(8, 8) = 1.f;
  r.transform(ima, rad);
  r.recons(rad, back);
  int index = 0;
  back.max(index);
  EXPECT_EQ(index, 8 * 16 + 8);
}

TEST(SpatialRadon, RampFilterGains) {
  Radon r;
  r.alloc(64, 64, RADON_PROJ_BACK, 0, 0);
  // FilterWidth 100 on 64 samples: gain e below 32, 32 at the band edge.
  for (int e : {0, 1, 5, 20, 31, 32}) {
    Image rad(1, 64);
    for (int k = 0; k < 64; k++) rad(0, k) = static_cast<float>(std::cos(2 * M_PI * e * k / 64));
    Image want = rad;
    r.filter(rad);
    const float gain = e == 0 ? 1.f : static_cast<float>(e);
    for (int k = 0; k < 64; k++) EXPECT_NEAR(rad(0, k), gain * want(0, k), 2e-4 * gain) << e << " " << k;
  }
}

TEST(SpatialRadon, ThreadCountDoesNotChangeTheResult) {
  auto ima = random_image(32, 32, 12);
  Image rad[2], back[2];
  for (int t = 0; t < 2; t++) {
    omp_set_num_threads(t == 0 ? 1 : 4);
    Radon r;
    r.alloc(32, 32, RADON_PROJ_BACK, 0, 0);
    r.transform(ima, rad[t]);
    r.recons(rad[t], back[t]);
  }
  EXPECT_EQ(pixels(rad[0]), pixels(rad[1]));
  EXPECT_EQ(pixels(back[0]), pixels(back[1]));
}

}  // namespace
