// The block-ridgelet curvelet transform: block-size tables, band numbering,
// the smooth band against a brute-force B3-spline smoothing, reconstruction
// of smooth images in both layouts, the ridgelet scales of a whole image
// against the one-line complex path block by block, and the refusals.
#include "curvelet/curvelet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "multires/atrous_2d_wt.h"
#include "support/death.h"
#include "support/ridgelet_reference.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

void allocated(Curvelet& c, int nl, int nc, int scales, Bool overlap = True) {
  c.NbrScale2D = scales;
  c.BlockOverlap = overlap;
  c.OddBlockSize = False;
  c.alloc(nl, nc, 16, False);
}

// Mirror index: reflect about the edge sample, which is not repeated.
int mirror(int k, int n) {
  while (k < 0 || k >= n) k = k < 0 ? -k : 2 * (n - 1) - k;
  return k;
}

// B3-spline smoothing with holes of 2^s along lines then columns, in double.
std::vector<double> brute_smooth(const std::vector<double>& in, int nl, int nc, int s) {
  const double w[5] = {0.0625, 0.25, 0.375, 0.25, 0.0625};
  std::vector<double> lines(in.size(), 0.), out(in.size(), 0.);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++)
      for (int t = -2; t <= 2; t++)
        lines[i * nc + j] += w[t + 2] * in[i * nc + mirror(j + t * (1 << s), nc)];
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++)
      for (int t = -2; t <= 2; t++)
        out[i * nc + j] += w[t + 2] * lines[mirror(i + t * (1 << s), nl) * nc + j];
  return out;
}

TEST(CurveletBlocks, TablesFollowTheRule) {
  const struct {
    type_curvelet_block rule;
    int first;
    Bool odd;
    std::vector<int> head;  // the first entries
  } cases[] = {
      {BL_UP2, 16, False, {16, 32, 32, 64, 64, 128, 128, 256, 256, 512}},
      {BL_UP2, 16, True, {17, 33, 33, 65, 65, 129, 129, 257, 257, 513}},
      {BL_UP2, 12, False, {16, 32, 32}},  // from the next power of two
      {BL_CONST, 32, False, {32, 32, 32}},
      {BL_UP, 8, False, {8, 16, 32, 64}},
      {BL_DOWN, 64, False, {64, 32, 16, 8, 8, 8}},
      {BL_DOWN2, 64, False, {64, 32, 32, 16, 16, 8, 8, 8}},
  };
  for (const auto& c : cases) {
    Curvelet cur;
    cur.TypeBlock = c.rule;
    cur.OddBlockSize = c.odd;
    cur.tab_block_size_init(c.first);
    for (size_t i = 0; i < c.head.size(); i++)
      EXPECT_EQ(cur.TabBlockSize(i), c.head[i]) << "rule " << c.rule << " entry " << i;
  }
  // The finite variant takes primes and never the odd increment.
  Curvelet finite;
  finite.RidTrans = RID_FINITE;
  finite.tab_block_size_init(16);
  EXPECT_EQ(
      std::vector<int>({finite.TabBlockSize(0), finite.TabBlockSize(1), finite.TabBlockSize(3)}),
      std::vector<int>({17, 37, 79}));
  EXPECT_STREQ(StringBlockType(type_curvelet_block(7)), "Undefined block type");
}

TEST(CurveletBands, CountsAndScaleNumbers) {
  Curvelet c;
  allocated(c, 64, 48, 4);
  // Blocks 16, 32, 32: 3, 4 and 4 ridgelet scales, then the smooth band.
  ASSERT_EQ(c.nbr_band(), 12);
  const int s2d_of[12] = {0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3};
  const int s1d_of[12] = {0, 1, 2, 0, 1, 2, 3, 0, 1, 2, 3, 0};
  for (int b = 0; b < 12; b++) {
    int s2d, s1d;
    c.get_scale_number(b, s2d, s1d);
    EXPECT_EQ(s2d * 10 + s1d, s2d_of[b] * 10 + s1d_of[b]) << b;
  }
  Curvelet two;
  allocated(two, 32, 32, 2, False);
  EXPECT_EQ(two.nbr_band(), 4);
}

TEST(CurveletTransform, SmoothBandIsTheRepeatedB3Smoothing) {
  const int nl = 37, nc = 29;
  Image ima = random_image(nl, nc, 5, 0.f, 10.f);
  Curvelet c;
  allocated(c, nl, nc, 4);
  Image* bands = nullptr;
  c.transform(ima, bands);
  std::vector<double> ref(ima.buffer(), ima.buffer() + ima.n_elem());
  for (int s = 0; s < 3; s++) ref = brute_smooth(ref, nl, nc, s);
  double err = 0;
  for (int k = 0; k < nl * nc; k++) err = std::max(err, std::fabs(bands[3](k) - ref[k]));
  EXPECT_LT(err, 100 * qz_test::round_off<float>() * 10.);
  delete[] bands;
}

// A bump on a slope comes back up to the ridgelets' error, the same from
// the band array and the cube, whose bands are the ridgelet scales.
TEST(CurveletTransform, SmoothImagesComeBackInBothLayouts) {
  const struct {
    int nl, nc, scales;
    Bool overlap;
  } cases[] = {{64, 64, 4, True}, {48, 40, 3, False}, {32, 32, 2, True}};
  for (const auto& k : cases) {
    Image ima(k.nl, k.nc), back, back_cube, scale;
    for (int i = 0; i < k.nl; i++)
      for (int j = 0; j < k.nc; j++)
        ima(i, j) = static_cast<float>(
            100. +
            30. * std::exp(-(std::pow(i - k.nl / 2., 2) + std::pow(j - k.nc / 3., 2)) / 200.) +
            0.1 * i);
    Curvelet c;
    allocated(c, k.nl, k.nc, k.scales, k.overlap);
    Image* bands = nullptr;
    to_array<float, true> cube, band;
    c.transform(ima, bands);
    c.recons(bands, back);
    c.transform(ima, cube);
    c.recons(cube, back_cube);
    EXPECT_LT(qz_test::max_abs_difference(back, ima), 0.3) << k.nl;
    EXPECT_TRUE(qz_test::same_bits(back, back_cube)) << k.nl;
    const int b = c.nbr_band() - 2;
    int s2d, s1d;
    c.get_scale_number(b, s2d, s1d);
    c.get_ridgelet(s2d)->get_scale(bands[s2d], scale, s1d);
    c.get_band(cube, b, band);
    ASSERT_EQ(band.n_elem(), scale.n_elem());
    for (int e = 0; e < band.n_elem(); e++) ASSERT_EQ(band(e), scale(e)) << k.nl;
    delete[] bands;
  }
}

namespace {

double max_abs(const Image& a) {
  double m = 0.;
  for (int k = 0; k < a.n_elem(); k++) m = std::max(m, double(std::fabs(a(k))));
  return m;
}

}  // namespace

// The same a trous split, then every block of every ridgelet scale through
// the one-line complex path and stored where the ridgelet puts it; back,
// every block rebuilt by that path and added with its overlap weight.
TEST(CurveletTransform, WholeImageMatchesTheOneLineComplexPathBlockByBlock) {
  const int side = 64, scales = 4;
  Curvelet cur;
  allocated(cur, side, side, scales);
  Image ima = random_image(side, side, 7), rec;
  Image* bands = nullptr;
  cur.transform(ima, bands);
  ATROUS_2D_WT atrous;
  atrous.Border = cur.Border;
  Image* split = nullptr;
  atrous.alloc(split, side, side, scales);
  atrous.transform(ima, split, scales);
  Image expect_rec = split[scales - 1];
  for (int s = 0; s < scales - 1; s++) {
    SCOPED_TRACE(testing::Message() << "scale " << s);
    Ridgelet& rid = *cur.get_ridgelet(s);
    Image expect(rid.rid_nl(), rid.rid_nc()), block(rid.BlockSize, rid.BlockSize),
        coef(rid.Nlb, rid.Ncb), scale_rec(side, side);
    for (int bi = 0; bi < rid.NbrBi; bi++)
      for (int bj = 0; bj < rid.NbrBj; bj++) {
        rid.get_block_ima(bi, bj, split[s], block);
        Image ref = qz_test::reference_block_transform(rid, block);
        rid.put_block_trans(bi, bj, expect, ref);
        rid.get_block_trans(bi, bj, bands[s], coef);
        Image piece = qz_test::reference_block_recons(rid, coef);
        rid.add_block_ima(bi, bj, scale_rec, piece);
      }
    const double tolerance = 16 * qz_test::transform_tolerance<float>(2 * rid.BlockSize);
    EXPECT_LE(qz_test::max_abs_difference(bands[s], expect), tolerance * max_abs(expect));
    expect_rec += scale_rec;
  }
  cur.recons(bands, rec);
  EXPECT_LE(qz_test::max_abs_difference(rec, expect_rec),
            16 * qz_test::transform_tolerance<float>(2 * side) * max_abs(expect_rec));
  atrous.free(split, scales);
  delete[] bands;
}

TEST(CurveletDeath, Refusals) {
  Curvelet c;
  allocated(c, 32, 32, 3);
  int s2d, s1d;
  for (int b : {-1, c.nbr_band()})
    EXPECT_EXIT_STATUS(c.get_scale_number(b, s2d, s1d), 255,
                       "bad number of band in get_scale_number: " + std::to_string(b));
  Image other(16, 32), ima(32, 32), out;
  Image* bands = nullptr;
  EXPECT_EXIT_STATUS(c.transform(other, bands), 255, "not initialized for this given image size");
  to_array<float, true> cube(5, 5, 3), wrong(3, 3);
  EXPECT_EXIT_STATUS(c.recons(cube, out), 255, "not initialized for this given transform size");
  c.transform(ima, cube);
  EXPECT_EXIT_STATUS(c.put_band(cube, 0, 0, wrong), 255, "Error: bad image size: 3 3");
  c.NbrScale2D = 4;
  EXPECT_EXIT_STATUS(c.transform(ima, bands), 255, "for this number of scales");
  Curvelet fresh;
  EXPECT_EXIT_STATUS(fresh.transform(ima, bands), 255, "the curvelet class is not initialized");
  fresh.NbrScale2D = 12;
  EXPECT_EXIT_STATUS(fresh.alloc(32, 32, 16, False), 255, "bad number of scales");
  // Blocks of 4 give ridgelets of a single 1D scale: no bands to address.
  Curvelet tiny;
  tiny.OddBlockSize = False;
  EXPECT_EXIT_STATUS(tiny.alloc(32, 32, 4, False), 255, "blocks of 4 pixels");
}

// Each ridgelet refuses 1D scales its blocks cannot hold: blocks of 16 take
// six, of 32 seven, before the pyramid of a projection overruns its block.
TEST(CurveletDeath, OneDScalesBeyondTheBlocksAreRefused) {
  struct Case {
    int block, scales, refused_block;
  } cases[] = {{16, 7, 16}, {32, 8, 32}, {16, 8, 16}};
  for (const Case& k : cases) {
    Curvelet c;
    c.NbrScale2D = 3;
    c.OddBlockSize = False;
    c.AutoScale1D = False;
    c.NbrScale1D = k.scales;
    EXPECT_EXIT_STATUS(c.alloc(64, 64, k.block, False), 255,
                       std::to_string(k.scales) + " 1D scales do not fit a ridgelet block of " +
                           std::to_string(k.refused_block) + " pixels")
        << k.block << " " << k.scales;
  }
  // The largest counts that fit still allocate and transform.
  for (int block : {16, 32}) {
    Curvelet c;
    c.NbrScale2D = 2;
    c.OddBlockSize = False;
    c.AutoScale1D = False;
    c.NbrScale1D = block == 16 ? 6 : 7;
    c.alloc(40, 40, block, False);
    Image ima = random_image(40, 40, 2), out;
    to_array<float, true> cube;
    c.transform(ima, cube);
    c.recons(cube, out);
    EXPECT_EQ(c.nbr_band(), c.NbrScale1D + 1);
  }
}

}  // namespace
