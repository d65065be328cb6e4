// Pyramidal median transform: band sizes, the bands against a brute-force
// median, and reconstruction.
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
    for (int dj = -w / 2; dj <= w / 2; dj++)
      values.push_back(
          ima(std::clamp(i + di, 0, ima.nl() - 1), std::clamp(j + dj, 0, ima.nc() - 1)));
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

TEST(PmtTransform, BandSizesAndNorms) {
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
  EXPECT_DOUBLE_EQ(pmt.norm_band(7), 0.01365);
  EXPECT_EQ(pmt.norm_band(8), 0.);
  EXPECT_EQ(pmt.norm_band(10), 0.);
}

TEST(PmtTransform, BandsAreMedianResidualsOfDecimatedMedians) {
  for (int w : {3, 5}) {
    PMT_2D pmt;
    pmt.MedianWindowSize = w;
    Image ima = tied_image(12, 9, 7u);
    Image* bands = nullptr;
    pmt.alloc(bands, 12, 9, 2);
    pmt.transform(ima, bands, 2, I_CONT);
    for (int i = 0; i < 12; i++)
      for (int j = 0; j < 9; j++)
        ASSERT_FLOAT_EQ(bands[0](i, j), ima(i, j) - brute_median(ima, i, j, w)) << w;
    ASSERT_EQ(bands[1].nl(), 6);
    ASSERT_EQ(bands[1].nc(), 5);
    for (int i = 0; i < 6; i++)
      for (int j = 0; j < 5; j++)
        ASSERT_FLOAT_EQ(bands[1](i, j), brute_median(ima, 2 * i, 2 * j, w)) << w;
    pmt.free(bands, 2);
  }
}

TEST(PmtRecons, OneScaleImageAndFlatCoarseGridComeBackExactly) {
  PMT_2D pmt;
  Image ima = random_image(9, 13, 3u), rec;
  Image* bands = nullptr;
  pmt.alloc(bands, 9, 13, 1);
  pmt.transform(ima, bands, 1, I_MIRROR);
  pmt.recons(bands, rec, 1, I_MIRROR);
  EXPECT_EQ(qz_test::max_abs_difference(rec, ima), 0.);
  pmt.free(bands, 1);

  // A flat image has no details; the expansion copies the even samples, so
  // the pixels of the coarsest grid come back exactly.
  Image flat(16, 12);
  flat.init(4.5f);
  pmt.alloc(bands, 16, 12, 4);
  pmt.transform(flat, bands, 4, I_MIRROR);
  for (int s = 0; s < 3; s++) EXPECT_EQ(bands[s].maxfabs(), 0.f);
  bands[0](5, 6) = 2.f;  // a detail adds back where it stands
  pmt.recons(bands, rec, 4, I_MIRROR);
  ASSERT_EQ(rec.nl(), 16);
  ASSERT_EQ(rec.nc(), 12);
  for (int i = 0; i < 16; i += 8)
    for (int j = 0; j < 12; j += 8) EXPECT_EQ(rec(i, j), 4.5f) << i << " " << j;
  EXPECT_NEAR(rec(5, 6) - rec(5, 5), 2.f, 0.1f);
  pmt.free(bands, 4);
}

}  // namespace
