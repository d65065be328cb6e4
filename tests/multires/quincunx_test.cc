// Quincunx transform: band sizes and places, perfect reconstruction over
// several filter banks and odd sizes, and the one-image layout.
#include "multires/quincunx.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "filters/sub_band_filter.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(QuincunxStep, SizesOfOneStep) {
  SubBandFilter filter(F_MALLAT_7_9, NORM_L2);
  Quincunx quinc(filter);
  EXPECT_EQ(quinc.get_subband_method(), &filter);
  Image ima = random_image(6, 5, 1u), band1, band2, smooth;
  quinc.transform_one_step(ima, band1, band2, smooth);
  EXPECT_EQ(band1.nl(), 6);
  EXPECT_EQ(band1.nc(), 2);
  EXPECT_EQ(band2.nl(), 3);
  EXPECT_EQ(band2.nc(), 3);
  EXPECT_EQ(smooth.nl(), 3);
  EXPECT_EQ(smooth.nc(), 3);
}

TEST(QuincunxLayout, IndexOfFirstBands) {
  Quincunx quinc;
  int I, J;
  quinc.ind_quinc(0, 0, 0, 6, 5, I, J);
  EXPECT_EQ(I, 0);
  EXPECT_EQ(J, 3);
  quinc.ind_quinc(1, 0, 0, 6, 5, I, J);
  EXPECT_EQ(I, 3);
  EXPECT_EQ(J, 0);
  // Scale 1 of a 6 x 5 image works on 3 x 3.
  quinc.ind_quinc(2, 1, 0, 6, 5, I, J);
  EXPECT_EQ(I, 1);
  EXPECT_EQ(J, 2);
}

TEST(QuincunxLayout, DetailBandsTileTheImageWithoutOverlap) {
  SubBandFilter filter(F_HAAR, NORM_L2);
  Quincunx quinc(filter);
  for (auto size : {std::pair<int, int>{16, 16}, {13, 11}, {6, 5}}) {
    Image ima = random_image(size.first, size.second, 2u);
    Image* bands = nullptr;
    quinc.transform(ima, bands, 3);
    Image layout(size.first, size.second);
    std::set<std::pair<int, int>> used;
    int count = 0;
    for (int b = 0; b < 4; b++)
      for (int i = 0; i < bands[b].nl(); i++)
        for (int j = 0; j < bands[b].nc(); j++) {
          int I, J;
          quinc.ind_quinc(b, i, j, size.first, size.second, I, J);
          ASSERT_GE(I, 0);
          ASSERT_LT(I, size.first);
          ASSERT_GE(J, 0);
          ASSERT_LT(J, size.second);
          used.insert({I, J});
          count++;
        }
    EXPECT_EQ(static_cast<int>(used.size()), count);
    // What is left is exactly the smooth band's corner.
    EXPECT_EQ(count + bands[4].n_elem(), size.first * size.second);
    quinc.band_to_ima(bands, layout, 5);
    int I, J;
    quinc.ind_quinc(2, 1, 0, size.first, size.second, I, J);
    EXPECT_EQ(layout(I, J), bands[2](1, 0));
    quinc.free(bands, 3);
  }
}

TEST(QuincunxTransform, ReconstructsOverFilterBanksAndOddSizes) {
  // Sizes at which each bank reconstructs its own 1D steps exactly: the 7/9
  // banks on every length from 5 up, Haar on even lengths.
  struct Case {
    type_sb_filter type;
    int nl, nc, nbr_scale;
  } cases[] = {{F_MALLAT_7_9, 32, 32, 3}, {F_MALLAT_7_9, 17, 23, 3}, {F_MALLAT_7_9, 21, 10, 2},
               {F_MALLAT_7_9, 6, 5, 2},   {F_MALLAT_9_7, 19, 19, 2}, {F_HAAR, 32, 32, 4},
               {F_HAAR, 16, 24, 3}};
  for (const Case& c : cases) {
    SubBandFilter filter(c.type, NORM_L2);
    Quincunx quinc(filter);
    Image ima = random_image(c.nl, c.nc, 4u);
    Image* bands = nullptr;
    quinc.transform(ima, bands, c.nbr_scale);
    Image rec;
    quinc.recons(bands, rec, c.nbr_scale);
    ASSERT_EQ(rec.nl(), c.nl);
    ASSERT_EQ(rec.nc(), c.nc);
    EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-5)
        << c.type << " " << c.nl << "x" << c.nc;
    quinc.free(bands, c.nbr_scale);
  }
}

TEST(QuincunxTransform, OddLinesAreShiftedBeforeFiltering) {
  // With Haar, a pair of samples (2k, 2k+1) of an even line and (2k-1, 2k)
  // of an odd line give one detail: a line constant on those pairs has none.
  SubBandFilter filter(F_HAAR, NORM_L2);
  Quincunx quinc(filter);
  Image ima(2, 8), band1, band2, smooth;
  const float even[8] = {1, 1, 2, 2, 3, 3, 4, 4};
  const float odd[8] = {5, 6, 6, 7, 7, 8, 8, 5};
  for (int j = 0; j < 8; j++) {
    ima(0, j) = even[j];
    ima(1, j) = odd[j];
  }
  quinc.transform_one_step(ima, band1, band2, smooth);
  EXPECT_LT(band1.maxfabs(), 1e-6f);
}

TEST(QuincunxTransform, WritesIntoAnAllocatedArray) {
  SubBandFilter filter(F_MALLAT_7_9, NORM_L2);
  Quincunx quinc(filter);
  Image* bands = nullptr;
  EXPECT_EQ(quinc.alloc(bands, 16, 16, 4), 7);
  Image* before = bands;
  Image ima = random_image(16, 16, 6u);
  quinc.transform(ima, bands, 4);
  EXPECT_EQ(bands, before);
  EXPECT_EQ(bands[6].nl(), 2);
  EXPECT_EQ(bands[6].nc(), 2);
  EXPECT_EQ(bands[6].name(), "band_7");
  quinc.free(bands, 4);
}

}  // namespace
