// Quincunx transform: band sizes and places, the odd-line shift, and
// perfect reconstruction wherever the filter bank reconstructs its lines.
#include "multires/quincunx.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "filters/sub_band_filter.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(QuincunxStep, SizesAndPlacesOfOneStep) {
  SubBandFilter filter(F_MALLAT_7_9, NORM_L2);
  Quincunx quinc(filter);
  EXPECT_EQ(quinc.get_subband_method(), &filter);
  Image ima = random_image(6, 5, 1u), band1, band2, smooth;
  quinc.transform_one_step(ima, band1, band2, smooth);
  EXPECT_EQ(std::make_pair(band1.nl(), band1.nc()), std::make_pair(6, 2));
  EXPECT_EQ(std::make_pair(band2.nl(), band2.nc()), std::make_pair(3, 3));
  EXPECT_EQ(std::make_pair(smooth.nl(), smooth.nc()), std::make_pair(3, 3));
  int I, J;
  quinc.ind_quinc(0, 0, 0, 6, 5, I, J);
  EXPECT_EQ(std::make_pair(I, J), std::make_pair(0, 3));
  quinc.ind_quinc(1, 0, 0, 6, 5, I, J);
  EXPECT_EQ(std::make_pair(I, J), std::make_pair(3, 0));
}

TEST(QuincunxLayout, DetailBandsTileTheImageOutsideTheSmoothCorner) {
  SubBandFilter filter(F_HAAR, NORM_L2);
  Quincunx quinc(filter);
  for (auto size : {std::pair<int, int>{16, 16}, {13, 11}, {6, 5}}) {
    const int nl = size.first, nc = size.second;
    Image ima = random_image(nl, nc, 2u), layout(nl, nc);
    Image* bands = nullptr;
    quinc.transform(ima, bands, 3);
    quinc.band_to_ima(bands, layout, 5);
    std::set<std::pair<int, int>> used;
    for (int b = 0; b < 4; b++)
      for (int i = 0; i < bands[b].nl(); i++)
        for (int j = 0; j < bands[b].nc(); j++) {
          int I, J;
          quinc.ind_quinc(b, i, j, nl, nc, I, J);
          ASSERT_TRUE(I >= 0 && I < nl && J >= 0 && J < nc);
          ASSERT_TRUE(used.insert({I, J}).second) << "overlap at " << I << "," << J;
          ASSERT_EQ(layout(I, J), bands[b](i, j));
        }
    EXPECT_EQ(static_cast<int>(used.size()) + bands[4].n_elem(), nl * nc);
    quinc.free(bands, 3);
  }
}

TEST(QuincunxStep, OddLinesAreShiftedBeforeFiltering) {
  // Haar pairs samples (2k, 2k+1); shifted odd lines pair (2k-1, 2k), the
  // first with the last. Lines constant on those pairs have no detail.
  SubBandFilter filter(F_HAAR, NORM_L2);
  Quincunx quinc(filter);
  Image ima(2, 8), band1, band2, smooth;
  const float even[8] = {1, 1, 2, 2, 3, 3, 4, 4}, odd[8] = {5, 6, 6, 7, 7, 8, 8, 5};
  for (int j = 0; j < 8; j++) {
    ima(0, j) = even[j];
    ima(1, j) = odd[j];
  }
  quinc.transform_one_step(ima, band1, band2, smooth);
  EXPECT_LT(band1.maxfabs(), 1e-6f);
}

TEST(QuincunxTransform, ReconstructsOverFilterBanksAndOddSizes) {
  // Sizes at which each bank reconstructs its own 1D steps exactly: the 7/9
  // banks on every length from 5 up, Haar on even lengths. The first case
  // also writes into an array allocated beforehand.
  struct Case {
    type_sb_filter type;
    int nl, nc, nbr_scale;
  } cases[] = {{F_MALLAT_7_9, 32, 32, 4}, {F_MALLAT_7_9, 17, 23, 3}, {F_MALLAT_7_9, 21, 10, 2},
               {F_MALLAT_7_9, 6, 5, 2},   {F_MALLAT_9_7, 19, 19, 2}, {F_HAAR, 16, 24, 3}};
  for (const Case& c : cases) {
    SubBandFilter filter(c.type, NORM_L2);
    Quincunx quinc(filter);
    Image ima = random_image(c.nl, c.nc, 4u), rec;
    Image* bands = nullptr;
    if (c.nl == 32) {
      EXPECT_EQ(quinc.alloc(bands, 32, 32, 4), 7);
    }
    Image* allocated = bands;
    quinc.transform(ima, bands, c.nbr_scale);
    if (allocated != nullptr) {
      EXPECT_EQ(bands, allocated);
    }
    quinc.recons(bands, rec, c.nbr_scale);
    ASSERT_EQ(std::make_pair(rec.nl(), rec.nc()), std::make_pair(c.nl, c.nc));
    EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-5) << c.type << " " << c.nl;
    quinc.free(bands, c.nbr_scale);
  }
}

TEST(QuincunxDeathTest, NoFilterBankStops) {
  Image ima(4, 4), band1, band2, smooth;
  EXPECT_EXIT_STATUS(Quincunx().transform_one_step(ima, band1, band2, smooth), 255,
                     "no filter bank");
}

}  // namespace
