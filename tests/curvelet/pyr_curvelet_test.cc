// Pyramidal curvelet transform: the block table of every layout family, the
// band mapping and its accessors, the round trip against the pyramid and the
// ridgelets run apart, and the refusals.
#include "curvelet/pyr_curvelet.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

// The MCA's settings: side-by-side blocks, even sides.
void alloc_mca_like(PyrCurvelet& c, int nl, int nc) {
  c.OddBlockSize = False;
  c.BlockOverlap = False;
  c.alloc(nl, nc, 16);
}

TEST(PyrCurveletBlocks, TableOfEveryFamily) {
  struct Case {
    type_transform t;
    type_ridgelet_WTtrans rid;
    bool odd;
    int bs;
    std::vector<int> sides;
  } cases[] = {
      {TO_PYR_BSPLINE, RID_PYR_FFT, false, 16, {16, 16, 8, 8, 8, 8, 8, 8, 8, 8}},
      {TO_PYR_BSPLINE, RID_PYR_FFT, true, 16, {17, 17, 9, 9, 9, 9, 9, 9, 9, 9}},
      // The first side is stored before the raise to 8.
      {TO_PYR_BSPLINE, RID_PYR_FFT, false, 4, {4, 8, 8, 8, 8, 8, 8, 8, 8, 8}},
      {TO_MALLAT, RID_PYR_FFT, false, 64, {32, 32, 16, 8, 8, 8, 8, 8, 8, 8}},
      // Half-pyramid: iround(v / sqrt(2)) from the second scale on.
      {TO_SEMI_PYR, RID_PYR_FFT, false, 64, {64, 64, 45, 32, 23, 16, 11, 8, 8, 8}},
      {TO_SEMI_PYR, RID_PYR_FFT, true, 64, {65, 65, 45, 33, 23, 17, 11, 9, 9, 9}},
      {TO_PAVE_BSPLINE, RID_PYR_FFT, false, 16, {16, 32, 32, 64, 64, 128, 128, 256, 256, 512}},
      // Finite ridgelets: the prime from the base size at every scale.
      {TO_PYR_BSPLINE, RID_FINITE, true, 20, {23, 23, 23, 23, 23, 23, 23, 23, 23, 23}},
      {TO_MALLAT, RID_FINITE, false, 20, {11, 23, 23, 23, 23, 23, 23, 23, 23, 23}},
  };
  for (const Case& c : cases) {
    PyrCurvelet p;
    p.TypeTransform = c.t;
    p.RidTrans = c.rid;
    p.OddBlockSize = c.odd ? True : False;
    p.tab_block_size_init(c.bs);
    for (int i = 0; i < 10; i++) EXPECT_EQ(p.TabBlockSize(i), c.sides[i]) << c.t << " " << i;
  }
}

// Blocks 16, 16, 8 give 3, 3 and 2 ridgelet scales, then the residual; each
// ridgelet has its band's own size and the curvelet bands are its scales.
TEST(PyrCurveletBands, WalkAndRidgeletScalesOfANonSquareImage) {
  PyrCurvelet c;
  alloc_mca_like(c, 48, 80);
  ASSERT_EQ(c.nbr_band(), 1 + max_scale_number(16) * 2 + max_scale_number(8));
  const int pairs[][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {2, 1}, {3, 0}};
  for (int k = 0; k < c.nbr_band(); k++) {
    int s2d, s1d;
    c.get_scale_number(k, s2d, s1d);
    EXPECT_TRUE(s2d == pairs[k][0] && s1d == pairs[k][1]) << k;
  }
  EXPECT_EQ(c.nbr_rid_scale(3), 1);
  EXPECT_EQ(c.ipos(3, 0) + c.jpos(3, 0), 0);
  EXPECT_EQ(c.size_band_nl(8) * 100 + c.size_band_nc(8), 610);  // 48 x 80 halved thrice
  Image ima = random_image(48, 80, 4), band, scale;
  c.transform(ima);
  for (int s2d = 0; s2d < c.NbrBand2D - 1; s2d++) {
    Ridgelet& rid = c.TabRidgelet[s2d];
    EXPECT_TRUE(rid.Nl == c.WT.size_band_nl(s2d) && rid.Nc == c.WT.size_band_nc(s2d));
    for (int s1d = 0; s1d < c.nbr_rid_scale(s2d); s1d++) {
      c.get_band(s2d, s1d, band);
      rid.get_scale(c.TabTrans[s2d], scale, s1d);
      EXPECT_TRUE(qz_test::same_bits(band, scale)) << s2d << " " << s1d;
    }
  }
}

// The pyramid and each band's ridgelet, run apart on the same smooth image:
// the round trip is the pyramid's reconstruction of ridgelet-reconstructed
// bands, and the ridgelets add less error than the pyramid itself.
TEST(PyrCurveletTransform, RoundTripIsThePyramidsWithRidgeletBands) {
  const int n = 48;
  Image ima = striped_bump_image(n, 5), rec, pyr_only, model;
  PyrCurvelet c;
  alloc_mca_like(c, n, n);
  c.transform(ima);
  c.recons(rec);
  MultiResol pyr;
  pyr.alloc(n, n, 4, TO_PYR_BSPLINE, nullptr, NORM_L2, -1, U_B3SPLINE_2);
  pyr.transform(ima);
  pyr.recons(pyr_only, I_CONT);
  for (int b = 0; b < 3; b++) {
    Ridgelet rid;
    rid.BlockOverlap = False;
    Image trans;
    rid.transform(pyr.band(b), trans, b < 2 ? 16 : 8);
    rid.recons(trans, pyr.band(b));
  }
  pyr.recons(model, I_CONT);
  EXPECT_LT(qz_test::max_abs_difference(rec, model), 1e-3);
  EXPECT_LT(qz_test::relative_l2_error(rec.buffer(), ima.buffer(), n * n),
            2 * qz_test::relative_l2_error(pyr_only.buffer(), ima.buffer(), n * n));
}

TEST(PyrCurveletDeathTest, Refusals) {
  PyrCurvelet c;
  Image small(8, 8);
  int s2d, s1d;
  EXPECT_EXIT_STATUS(c.transform(small), 255, "the curvelet class is not initialized \\.\\.\\.");
  alloc_mca_like(c, 32, 32);
  EXPECT_EXIT_STATUS(c.transform(small), 255, "for this given image size[^$]*Image size = 8 8");
  EXPECT_EXIT_STATUS(c.put_band(0, small), 255, "Error: bad image size: 8 8\n *Expected size:");
  EXPECT_EXIT_STATUS(c(0, 0, c.size_band_nc(0)), 255, "bad coordinated ==> i = 0 j = ");
  EXPECT_EXIT_STATUS(c.get_scale_number(c.nbr_band(), s2d, s1d), 255,
                     "bad number of band in get_scale_number: 9\n *0 <= NumBand < 9");
  EXPECT_EXIT_STATUS(c.get_scale_number(-1, s2d, s1d), 255, "get_scale_number: -1");
}

// The pyramid's blocks of 16 hold at most six 1D scales; twelve would
// overrun every ridgelet block of every band.
TEST(PyrCurveletDeathTest, OneDScalesBeyondTheBlocksAreRefused) {
  for (int scales : {7, 12}) {
    PyrCurvelet c;
    c.AutoScale1D = False;
    c.NbrScale1D = scales;
    EXPECT_EXIT_STATUS(alloc_mca_like(c, 64, 64), 255,
                       std::to_string(scales) + " 1D scales do not fit a ridgelet block of 16");
  }
}

}  // namespace

