// The block-ridgelet curvelet transform: block-size tables, band numbering
// and its refusal, the smooth band against a brute-force B3-spline
// smoothing, reconstruction of smooth images in both layouts, and band
// access on the cube.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "curvelet/curvelet.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

// A bump on a slope: what the curvelet split keeps almost whole.
Image smooth_image(int nl, int nc) {
  Image ima(nl, nc);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      const double r2 = (i - nl / 2.) * (i - nl / 2.) + (j - nc / 3.) * (j - nc / 3.);
      ima(i, j) = static_cast<float>(100. + 30. * std::exp(-r2 / 200.) + 0.1 * i);
    }
  return ima;
}

// Mirror index: reflect about the edge sample, which is not repeated.
int mirror(int k, int n) {
  while (k < 0 || k >= n) k = k < 0 ? -k : 2 * (n - 1) - k;
  return k;
}

// B3-spline smoothing with holes of 2^s, lines then columns, in double.
std::vector<double> brute_smooth(const std::vector<double>& in, int nl, int nc, int s) {
  const int d = 1 << s;
  const double w[5] = {0.0625, 0.25, 0.375, 0.25, 0.0625};
  std::vector<double> lines(in.size()), out(in.size());
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      double v = 0;
      for (int t = -2; t <= 2; t++) v += w[t + 2] * in[i * nc + mirror(j + t * d, nc)];
      lines[i * nc + j] = v;
    }
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      double v = 0;
      for (int t = -2; t <= 2; t++) v += w[t + 2] * lines[mirror(i + t * d, nl) * nc + j];
      out[i * nc + j] = v;
    }
  return out;
}

Curvelet& configured(Curvelet& c, int scales, Bool overlap, Bool odd) {
  c.NbrScale2D = scales;
  c.BlockOverlap = overlap;
  c.OddBlockSize = odd;
  return c;
}

TEST(CurveletBlocks, TablesFollowTheRule) {
  struct Case {
    type_curvelet_block rule;
    int first;
    Bool odd;
    std::vector<int> table;
  } cases[] = {
      {BL_UP2, 16, False, {16, 32, 32, 64, 64, 128, 128, 256, 256, 512}},
      {BL_UP2, 16, True, {17, 33, 33, 65, 65, 129, 129, 257, 257, 513}},
      {BL_UP2, 12, False, {16, 32, 32, 64, 64, 128, 128, 256, 256, 512}},  // next power of two
      {BL_CONST, 32, False, {32, 32, 32, 32, 32, 32, 32, 32, 32, 32}},
      {BL_UP, 8, False, {8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096}},
      {BL_DOWN, 64, False, {64, 32, 16, 8, 8, 8, 8, 8, 8, 8}},
      {BL_DOWN, 16, False, {16, 8, 8, 8, 8, 8, 8, 8, 8, 8}},
      {BL_DOWN2, 64, False, {64, 32, 32, 16, 16, 8, 8, 8, 8, 8}},
  };
  for (const Case& c : cases) {
    Curvelet cur;
    cur.TypeBlock = c.rule;
    cur.OddBlockSize = c.odd;
    cur.tab_block_size_init(c.first);
    for (int i = 0; i < CUR_TAB_BLOCK_SIZE; i++)
      EXPECT_EQ(cur.TabBlockSize(i), c.table[i]) << "rule " << c.rule << " entry " << i;
  }
  // The finite variant takes primes and never the odd increment.
  Curvelet finite;
  finite.RidTrans = RID_FINITE;
  finite.TypeBlock = BL_UP2;
  finite.tab_block_size_init(16);
  const int primes[4] = {17, 37, 37, 79};
  for (int i = 0; i < 4; i++) EXPECT_EQ(finite.TabBlockSize(i), primes[i]) << i;
  EXPECT_STREQ(StringBlockType(BL_UP2), "Block size is doubled at each two resolutions");
  EXPECT_STREQ(StringBlockType(type_curvelet_block(7)), "Undefined block type");
}

TEST(CurveletBands, CountsAndScaleNumbers) {
  Curvelet c;
  configured(c, 4, True, False).alloc(64, 48, 16, False);
  // Blocks 16, 32, 32: 3, 4 and 4 ridgelet scales, then the smooth band.
  ASSERT_EQ(c.nbr_band(), 12);
  const int expected[12][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2},
                               {1, 3}, {2, 0}, {2, 1}, {2, 2}, {2, 3}, {3, 0}};
  for (int b = 0; b < 12; b++) {
    int s2d, s1d;
    c.get_scale_number(b, s2d, s1d);
    EXPECT_EQ(s2d, expected[b][0]) << b;
    EXPECT_EQ(s1d, expected[b][1]) << b;
  }
  Curvelet two;
  configured(two, 2, False, False).alloc(32, 32, 16, False);
  EXPECT_EQ(two.nbr_band(), 4);
  EXPECT_EQ(two.size_nl(1, 0), 32);  // the smooth band is the image
}

TEST(CurveletBandsDeath, BandOutsideTheRangeIsRefused) {
  Curvelet c;
  configured(c, 3, True, False).alloc(32, 32, 16, False);
  int s2d, s1d;
  for (int b : {-1, c.nbr_band()})
    EXPECT_EXIT_STATUS(c.get_scale_number(b, s2d, s1d), 255,
                       "bad number of band in get_scale_number: " + std::to_string(b));
  Curvelet too_many;
  too_many.NbrScale2D = 12;
  EXPECT_EXIT_STATUS(too_many.alloc(32, 32, 16, False), 255, "bad number of scales");
}

TEST(CurveletTransform, SmoothBandIsTheRepeatedB3Smoothing) {
  const int nl = 37, nc = 29;
  Image ima = random_image(nl, nc, 5, 0.f, 10.f);
  Curvelet c;
  configured(c, 4, True, False).alloc(nl, nc, 16, False);
  Image* bands = nullptr;
  c.transform(ima, bands);
  std::vector<double> ref(ima.buffer(), ima.buffer() + ima.n_elem());
  for (int s = 0; s < 3; s++) ref = brute_smooth(ref, nl, nc, s);
  const Image& smooth = bands[3];
  ASSERT_EQ(smooth.nl(), nl);
  ASSERT_EQ(smooth.nc(), nc);
  double err = 0;
  for (int k = 0; k < nl * nc; k++) err = std::max(err, std::fabs(smooth(k) - ref[k]));
  EXPECT_LT(err, 20 * qz_test::round_off<float>() * 10.);
  delete[] bands;
}

TEST(CurveletTransform, SmoothImagesComeBackInBothLayouts) {
  struct Case {
    int nl, nc, scales;
    Bool overlap;
    double bound;  // of the largest error relative to the largest pixel
  } cases[] = {{64, 64, 4, True, 1e-3}, {48, 40, 3, False, 2e-3}, {32, 32, 2, True, 1e-3}};
  for (const Case& k : cases) {
    Image ima = smooth_image(k.nl, k.nc), back, back_cube;
    Curvelet c;
    configured(c, k.scales, k.overlap, False).alloc(k.nl, k.nc, 16, False);
    Image* bands = nullptr;
    c.transform(ima, bands);
    Image* first = bands;
    c.transform(ima, bands);  // a second transform re-uses the array
    EXPECT_EQ(bands, first);
    c.recons(bands, back);
    to_array<float, true> cube;
    c.transform(ima, cube);
    EXPECT_EQ(cube.nx(), c.NcTrans);
    EXPECT_EQ(cube.nz(), k.scales);
    c.recons(cube, back_cube);
    const double scale = 140.;
    EXPECT_LT(qz_test::max_abs_difference(back, ima), k.bound * scale) << k.nl;
    // The two layouts hold the same coefficients.
    EXPECT_TRUE(qz_test::same_bits(back, back_cube)) << k.nl;
    delete[] bands;
  }
}

TEST(CurveletTransform, CubeBandsMatchTheRidgeletScales) {
  Image ima = random_image(40, 40, 8);
  Curvelet c;
  configured(c, 3, True, False).alloc(40, 40, 16, False);
  Image* bands = nullptr;
  to_array<float, true> cube, band;
  c.transform(ima, bands);
  c.transform(ima, cube);
  Image scale;
  for (int b = 0; b < c.nbr_band() - 1; b++) {
    int s2d, s1d;
    c.get_scale_number(b, s2d, s1d);
    c.get_ridgelet(s2d)->get_scale(bands[s2d], scale, s1d);
    c.get_band(cube, b, band);
    ASSERT_EQ(band.nx(), scale.nc()) << b;
    ASSERT_EQ(band.ny(), scale.nl()) << b;
    for (int k = 0; k < band.n_elem(); k++) ASSERT_EQ(band(k), scale(k)) << b;
    // put_band writes back where get_band read.
    for (int k = 0; k < band.n_elem(); k++) band(k) = float(k);
    c.put_band(cube, b, band);
    to_array<float, true> again;
    c.get_band(cube, b, again);
    EXPECT_EQ(again(band.n_elem() - 1), float(band.n_elem() - 1));
  }
  // Without its borders a band loses one block of lines and columns a side.
  c.get_band_no_border(cube, 0, 0, band);
  const Ridgelet& r = *c.get_ridgelet(0);
  EXPECT_EQ(band.ny(), c.size_nl(0, 0) - 2 * r.rid_one_block_nl());
  to_array<float, true> wrong(3, 3);
  EXPECT_EXIT_STATUS(c.put_band(cube, 0, 0, wrong), 255, "Error: bad image size: 3 3");
  delete[] bands;
}

TEST(CurveletTransformDeath, SizesOtherThanAllocatedAreRefused) {
  Curvelet c;
  configured(c, 3, True, False).alloc(32, 32, 16, False);
  Image other(16, 32);
  Image* bands = nullptr;
  EXPECT_EXIT_STATUS(c.transform(other, bands), 255, "not initialized for this given image size");
  to_array<float, true> cube(5, 5, 3);
  Image out;
  EXPECT_EXIT_STATUS(c.recons(cube, out), 255, "not initialized for this given transform size");
  c.NbrScale2D = 4;
  Image ima(32, 32);
  EXPECT_EXIT_STATUS(c.transform(ima, bands), 255, "for this number of scales");
  Curvelet fresh;
  EXPECT_EXIT_STATUS(fresh.transform(ima, bands), 255, "the curvelet class is not initialized");
}

}  // namespace
