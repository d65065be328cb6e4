// Pyramidal curvelet transform: the block table of every layout family, the
// band mapping and its accessors, the round trip against the pyramid and the
// ridgelets run apart, the refusals, and the debug files of recons.
#include "curvelet/pyr_curvelet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/capture.h"
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

TEST(PyrCurveletBands, WalkOfA64Image) {
  PyrCurvelet c;
  alloc_mca_like(c, 64, 64);
  ASSERT_EQ(c.NbrBand2D, 4);
  // Blocks 16, 16, 8: 3, 3 and 2 ridgelet scales, and the residual.
  ASSERT_EQ(c.nbr_band(), 1 + max_scale_number(16) * 2 + max_scale_number(8));
  const int pairs[][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {2, 1}, {3, 0}};
  for (int k = 0; k < c.nbr_band(); k++) {
    int s2d, s1d;
    c.get_scale_number(k, s2d, s1d);
    EXPECT_EQ(s2d, pairs[k][0]) << k;
    EXPECT_EQ(s1d, pairs[k][1]) << k;
  }
  EXPECT_EQ(c.nbr_rid_scale(3), 1);
  EXPECT_EQ(c.ipos(3, 0), 0);
  EXPECT_EQ(c.jpos(3, 0), 0);
  EXPECT_EQ(c.size_band_nl(8), 8);  // 64 halved three times
  EXPECT_EQ(c.size_band_nc(8), 8);
  EXPECT_EQ(c.block_size(0), 16);
  EXPECT_EQ(c.block_size(6), 8);
}

// Each ridgelet gets its band's own size, and the 1D scale bands are the
// ridgelet's own scales, side by side without overlap.
TEST(PyrCurveletBands, NonSquareBandsAreTheRidgeletsScales) {
  PyrCurvelet c;
  alloc_mca_like(c, 48, 80);
  Image ima = random_image(48, 80, 4), band, scale;
  c.transform(ima);
  for (int s2d = 0; s2d < c.NbrBand2D - 1; s2d++) {
    Ridgelet& rid = c.TabRidgelet[s2d];
    EXPECT_EQ(rid.Nl, c.WT.size_band_nl(s2d));
    EXPECT_EQ(rid.Nc, c.WT.size_band_nc(s2d));
    std::vector<int> hits(c.TabTrans[s2d].nc(), 0);
    for (int s1d = 0; s1d < c.nbr_rid_scale(s2d); s1d++) {
      c.get_band(s2d, s1d, band);
      rid.get_scale(c.TabTrans[s2d], scale, s1d);
      EXPECT_TRUE(qz_test::same_bits(band, scale)) << s2d << " " << s1d;
      for (int j = 0; j < c.size_nc(s2d, s1d); j++) hits[c.jpos(s2d, s1d) + j]++;
    }
    for (int h : hits) EXPECT_LE(h, 1) << s2d;
  }
}

// The pyramid and each band's ridgelet, run apart on the same image: the
// round trip is the pyramid's reconstruction of ridgelet-reconstructed bands
// and, on a smooth image, the ridgelets add less error than the pyramid.
TEST(PyrCurveletTransform, RoundTripIsThePyramidsWithRidgeletBands) {
  const Image images[] = {random_image(40, 56, 5, 0.f, 100.f), striped_bump_image(48, 5)};
  for (const Image& input : images) {
    const int nl = input.nl(), nc = input.nc();
    Image ima = input, rec;
    PyrCurvelet c;
    alloc_mca_like(c, nl, nc);
    c.transform(ima);
    c.recons(rec);

    MultiResol pyr;
    pyr.alloc(nl, nc, 4, TO_PYR_BSPLINE, nullptr, NORM_L2, -1, U_B3SPLINE_2);
    pyr.transform(ima);
    Image pyr_only;
    pyr.recons(pyr_only, I_CONT);
    const int sides[] = {16, 16, 8};
    for (int b = 0; b < 3; b++) {
      Ridgelet rid;
      rid.BlockOverlap = False;
      Image trans;
      rid.transform(pyr.band(b), trans, sides[b]);
      rid.recons(trans, pyr.band(b));
    }
    Image model;
    pyr.recons(model, I_CONT);
    EXPECT_LT(qz_test::max_abs_difference(rec, model), 1e-3) << nl;
    if (nl == nc) {
      const double err = qz_test::relative_l2_error(rec.buffer(), ima.buffer(), nl * nc);
      const double pyr_err = qz_test::relative_l2_error(pyr_only.buffer(), ima.buffer(), nl * nc);
      EXPECT_LT(err, 2 * pyr_err);
    }
  }
}

TEST(PyrCurveletBands, PutGetAndCoefficientAccessAgree) {
  PyrCurvelet c;
  alloc_mca_like(c, 32, 32);
  Image ima = random_image(32, 32, 2);
  c.transform(ima);
  for (int k = 0; k < c.nbr_band(); k++) {
    Image band = random_image(c.size_band_nl(k), c.size_band_nc(k), 10 + k), back;
    c.put_band(k, band);
    c.get_band(k, back);
    ASSERT_TRUE(qz_test::same_bits(band, back)) << k;
    c(k, band.nl() - 1, band.nc() - 1) = 7.f;
    c.get_band(k, back);
    EXPECT_EQ(back(band.nl() - 1, band.nc() - 1), 7.f);
  }
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

// The traces of recons: its size line and one statistics line per band
// always; the ridgelet files only with Verbose, in the working directory.
TEST(PyrCurveletTransform, DebugFilesOnlyWhenVerbose) {
  char dir[] = "/tmp/pyr_curvelet_testXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir), 0);
  PyrCurvelet c;
  alloc_mca_like(c, 32, 32);
  Image ima = random_image(32, 32, 3), rec;
  c.transform(ima);
  const std::string out = qz_test::stdout_of([&] { c.recons(rec); });
  EXPECT_NE(out.find("Reconstructed image size: Nl =  32 Nc = 32 NbrBand2D = 4"),
            std::string::npos);
  EXPECT_EQ(access("xx_rid_band_1.rid", F_OK), -1);
  c.Verbose = True;
  c.recons(rec);
  for (const char* name : {"xx_rid_band_1.rid", "xx_rid_band_2.rid", "xx_rid_band_3.rid"})
    EXPECT_EQ(access(name, F_OK), 0) << name;
  ASSERT_EQ(chdir(cwd), 0);
  std::system((std::string("rm -rf '") + dir + "'").c_str());
}

}  // namespace

namespace {

// A block of 4 has a single 1D scale: the ridgelet keeps the Radon images
// of its blocks, and the whole ridgelet image is that band.
TEST(PyrCurveletBands, SingleScaleRidgeletBandIsItsWholeImage) {
  PyrCurvelet c;
  c.OddBlockSize = False;
  c.BlockOverlap = False;
  c.alloc(32, 32, 4);
  ASSERT_EQ(c.nbr_rid_scale(0), 1);
  Image ima = random_image(32, 32, 6), band, rec;
  c.transform(ima);
  c.get_band(0, band);
  EXPECT_TRUE(qz_test::same_bits(band, c.TabTrans[0]));
  c.recons(rec);
  EXPECT_LT(qz_test::relative_l2_error(rec.buffer(), ima.buffer(), 32 * 32), 0.5);
}

}  // namespace
