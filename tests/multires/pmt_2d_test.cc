// Pyramidal median transform: band sizes, the first band against a
// brute-force median, the decimated smooth band, and reconstruction.
#include "multires/pmt_2d.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

// Median of the w x w neighbourhood of (i, j), indices clamped to the image.
float brute_median(const Image& ima, int i, int j, int w) {
  std::vector<float> values;
  for (int di = -w / 2; di <= w / 2; di++)
    for (int dj = -w / 2; dj <= w / 2; dj++) {
      int ii = std::clamp(i + di, 0, ima.nl() - 1), jj = std::clamp(j + dj, 0, ima.nc() - 1);
      values.push_back(ima(ii, jj));
    }
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

TEST(PmtTransform, BandSizesHalveRoundingUp) {
  PMT_2D pmt;
  Image* bands = nullptr;
  pmt.alloc(bands, 5, 7, 3);
  const int expected[3][2] = {{5, 7}, {3, 4}, {2, 2}};
  for (int s = 0; s < 3; s++) {
    EXPECT_EQ(bands[s].nl(), expected[s][0]);
    EXPECT_EQ(bands[s].nc(), expected[s][1]);
  }
  EXPECT_EQ(bands[1].name(), "band_2");
  pmt.free(bands, 3);
  EXPECT_EQ(bands, nullptr);
}

TEST(PmtTransform, BandsAreMedianResidualsAndDecimatedMedians) {
  for (int w : {3, 5}) {
    PMT_2D pmt;
    pmt.MedianWindowSize = w;
    Image ima = tied_image(11, 9, 7u);
    Image* bands = nullptr;
    pmt.alloc(bands, 11, 9, 3);
    pmt.transform(ima, bands, 3, I_CONT);
    for (int i = 0; i < 11; i++)
      for (int j = 0; j < 9; j++)
        ASSERT_FLOAT_EQ(bands[0](i, j), ima(i, j) - brute_median(ima, i, j, w)) << w;
    pmt.free(bands, 3);
  }
}

TEST(PmtTransform, SmoothBandIsDecimatedMedianOfPreviousScale) {
  PMT_2D pmt;
  pmt.MedianWindowSize = 3;
  Image ima = tied_image(12, 10, 9u);
  Image* bands = nullptr;
  pmt.alloc(bands, 12, 10, 2);
  pmt.transform(ima, bands, 2, I_CONT);
  ASSERT_EQ(bands[1].nl(), 6);
  ASSERT_EQ(bands[1].nc(), 5);
  for (int i = 0; i < 6; i++)
    for (int j = 0; j < 5; j++) EXPECT_FLOAT_EQ(bands[1](i, j), brute_median(ima, 2 * i, 2 * j, 3));
  pmt.free(bands, 2);
}

TEST(PmtRecons, OneScaleImageAndFlatCoarseGridComeBackExactly) {
  PMT_2D pmt;
  Image ima = random_image(9, 13, 3u);
  Image* bands = nullptr;
  pmt.alloc(bands, 9, 13, 1);
  pmt.transform(ima, bands, 1, I_MIRROR);
  Image rec;
  pmt.recons(bands, rec, 1, I_MIRROR);
  EXPECT_EQ(qz_test::max_abs_difference(rec, ima), 0.);
  pmt.free(bands, 1);

  // A flat image has zero details at every scale and a flat smooth band.
  Image flat(16, 12);
  flat.init(4.5f);
  pmt.alloc(bands, 16, 12, 4);
  pmt.transform(flat, bands, 4, I_MIRROR);
  for (int s = 0; s < 3; s++) EXPECT_EQ(bands[s].maxfabs(), 0.f);
  pmt.recons(bands, rec, 4, I_MIRROR);
  EXPECT_EQ(rec.nl(), 16);
  EXPECT_EQ(rec.nc(), 12);
  // The expansion copies the even samples and interpolates the others, so
  // the pixels on the coarsest grid come back exactly.
  for (int i = 0; i < 16; i += 8)
    for (int j = 0; j < 12; j += 8) EXPECT_EQ(rec(i, j), 4.5f) << i << " " << j;
  pmt.free(bands, 4);
}

TEST(PmtRecons, DetailsAddBackOnTopOfTheExpandedSmoothBand) {
  // Adding d to band 0 adds exactly d to the reconstruction.
  PMT_2D pmt;
  Image ima = random_image(10, 10, 5u);
  Image* bands = nullptr;
  pmt.alloc(bands, 10, 10, 3);
  pmt.transform(ima, bands, 3, I_CONT);
  Image rec1, rec2;
  pmt.recons(bands, rec1, 3, I_CONT);
  bands[0](4, 6) += 2.f;
  pmt.recons(bands, rec2, 3, I_CONT);
  for (int k = 0; k < rec1.n_elem(); k++)
    EXPECT_NEAR(rec2(k) - rec1(k), k == 4 * 10 + 6 ? 2.f : 0.f, 1e-6);
  pmt.free(bands, 3);
}

TEST(PmtNorms, TableThenZero) {
  PMT_2D pmt;
  EXPECT_DOUBLE_EQ(pmt.norm_band(0), 0.970291);
  EXPECT_DOUBLE_EQ(pmt.norm_band(7), 0.01365);
  EXPECT_EQ(pmt.norm_band(8), 0.);
  EXPECT_EQ(pmt.norm_band(10), 0.);
  EXPECT_EQ(pmt.norm_band(-1), 0.);
}

}  // namespace
