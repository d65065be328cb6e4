// The multiscale local DCT: round trips with and without overlap, the band
// norm table, the geometry of the doubling blocks, hard thresholding at the
// level, and the order of the index checks.
#include "multires/mdct.h"

#include <gtest/gtest.h>

#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(MultiscaleDct, TransformThenReconsGivesTheImageBack) {
  struct Case {
    int nl, nc, nbr_plan, block;
    bool overlap;
  };
  for (const Case& c : {Case{64, 64, 4, 8, true}, Case{64, 64, 4, 8, false},
                        Case{32, 64, 3, 4, true}, Case{16, 16, 1, 16, false}}) {
    MDCT mdct;
    mdct.Overlap = c.overlap ? True : False;
    mdct.alloc(c.nl, c.nc, c.nbr_plan, c.block);
    Image ima = random_image(c.nl, c.nc, 11, 0.f, 100.f);
    Image rec;
    mdct.transform(ima);
    mdct.recons(rec);
    ASSERT_EQ(rec.nl(), c.nl);
    ASSERT_EQ(rec.nc(), c.nc);
    EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-3)
        << c.nl << "x" << c.nc << " overlap " << c.overlap;
  }
}

TEST(MultiscaleDct, BlockSidesDoubleAndStopAtTheImageSide) {
  MDCT mdct;
  mdct.alloc(32, 32, 4, 8);
  EXPECT_EQ(mdct.nbr_scale(), 4);
  const int want_block[4] = {8, 16, 32, 32};  // 64 is lowered to the side
  for (int s = 0; s < 4; s++) {
    EXPECT_EQ(mdct.TabBlockSize(s), s == 3 ? 64 : want_block[s]);
    EXPECT_EQ(mdct.TabLocalDCT[s].block_size(), want_block[s]);
    EXPECT_EQ(mdct.nl(s), 32);
    EXPECT_EQ(mdct.nc(s), 32);
  }
}

TEST(MultiscaleDct, BandNormsFollowTheTable) {
  MDCT mdct;
  const float want[12][2] = {{-1, 0},          {0, 0.892954f},  {1, 0.201288f},
                             {2, 0.0856941f},  {3, 0.0419776f}, {4, 0.0201896f},
                             {5, 0.0106804f},  {6, 0.00813682f}, {7, 0},
                             {8, 0},           {9, 0},          {10, 0}};
  for (const auto& row : want) EXPECT_FLOAT_EQ(mdct.norm_band(static_cast<int>(row[0])), row[1]);
}

TEST(MultiscaleDct, ThresholdKeepsACoefficientAtTheLevel) {
  MDCT mdct;
  mdct.alloc(16, 16, 2, 4);
  Image ima(16, 16);
  mdct.transform(ima);
  const float noise = 2.f, nsigma = 3.f;
  const float level0 = nsigma * noise * mdct.norm_band(0);
  mdct(0, 1, 2) = level0;                      // exactly at the level: kept
  mdct(0, 3, 3) = -level0;                     // same magnitude, negative: kept
  mdct(0, 5, 6) = std::nextafter(level0, 0.f);  // just below: cleared
  mdct(1, 0, 0) = 0.5f * nsigma * noise * mdct.norm_band(1);
  testing::internal::CaptureStdout();
  mdct.threshold(noise, nsigma);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("  Local DCT, band 1 Level = "), std::string::npos);
  EXPECT_EQ(mdct(0, 1, 2), level0);
  EXPECT_EQ(mdct(0, 3, 3), -level0);
  EXPECT_EQ(mdct(0, 5, 6), 0.f);
  EXPECT_EQ(mdct(1, 0, 0), 0.f);
}

TEST(MultiscaleDct, BandsWithoutNoiseAreNeverThresholded) {
  MDCT mdct;
  mdct.alloc(16, 16, 8, 2);
  Image ima(16, 16);
  mdct.transform(ima);
  mdct(7, 2, 2) = 1e-6f;
  testing::internal::CaptureStdout();
  mdct.threshold(100.f, 3.f);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(mdct(7, 2, 2), 1e-6f);
}

TEST(MultiscaleDctDeath, BadIndicesReportBandThenColumnThenLine) {
  MDCT mdct;
  mdct.alloc(16, 16, 2, 4);
  EXPECT_EXIT_STATUS(mdct(2, 99, 99), 255, "bad scale index. s = 2");
  EXPECT_EXIT_STATUS(mdct(1, 99, 99), 255, "bad j index. j = 99");
  EXPECT_EXIT_STATUS(mdct(1, 16, 0), 255, "bad i index. i = 16");
  EXPECT_EXIT_STATUS(mdct.nl(-1), 255, "bad scale index. s = -1");
}

}  // namespace
