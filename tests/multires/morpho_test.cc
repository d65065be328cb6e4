// Morphological operators: constant images, single points, the tie rule
// (a strict comparison keeps the value already held, visible on signed
// zeros), every pixel of the cross dilation, the int operators' border, and
// the min-max transform types of the dispatch.
#include "multires/morpho.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "multires/multiresol.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;
using FloatOp = void (*)(const Image&, Image&, int);

struct FloatCase {
  const char* name;
  FloatOp op;
  bool erosion;
};

const FloatCase FloatOps[] = {
    {"square erosion", morpho_erosion, true},     {"square dilation", morpho_dilation, false},
    {"cross erosion", morpho4_erosion, true},     {"cross dilation", morpho4_dilation, false},
    {"disc erosion", morpho_cercle_erosion, true}, {"disc dilation", morpho_cercle_dilation, false},
};

TEST(Morphology, ConstantImageStaysConstantEverywhere) {
  for (const FloatCase& c : FloatOps) {
    Image in(9, 7), out(9, 7);
    in.init(3.5f);
    out.init(-99.f);  // every pixel must be written, edges included
    c.op(in, out, 2);
    for (int k = 0; k < out.n_elem(); k++) ASSERT_EQ(out(k), 3.5f) << c.name << " pixel " << k;
  }
}

TEST(Morphology, SinglePointGrowsToTheElement) {
  Image in(11, 11), out(11, 11);
  in(5, 5) = 1.f;
  morpho_dilation(in, out, 5);  // h = 2: a 5 x 5 square
  for (int i = 0; i < 11; i++)
    for (int j = 0; j < 11; j++)
      EXPECT_EQ(out(i, j), (std::abs(i - 5) <= 2 && std::abs(j - 5) <= 2) ? 1.f : 0.f);
  morpho_cercle_dilation(in, out, 5);  // the corners of the square are left out
  EXPECT_EQ(out(3, 3), 0.f);
  EXPECT_EQ(out(3, 4), 1.f);
  EXPECT_EQ(out(5, 7), 1.f);
  morpho4_dilation(in, out, 1);  // d = 2: the centre and four points
  EXPECT_EQ(out(7, 5), 1.f);
  EXPECT_EQ(out(5, 3), 1.f);
  EXPECT_EQ(out(6, 5), 0.f);
  morpho_erosion(in, out, 3);  // a lone point vanishes
  EXPECT_EQ(out(5, 5), 0.f);
  // W = 1 and W = 2 copy the image.
  Image ima = random_image(6, 5, 3u), copy(6, 5);
  morpho_erosion(ima, copy, 2);
  EXPECT_EQ(qz_test::max_abs_difference(copy, ima), 0.);
}

TEST(Morphology, TiesKeepTheValueAlreadyHeld) {
  // -0 and +0 compare equal: a strict comparison never replaces the centre.
  Image in(5, 5), out(5, 5);
  in.init(-0.f);
  in(2, 2) = 0.f;
  morpho_erosion(in, out, 3);
  EXPECT_FALSE(std::signbit(out(2, 2)));
  morpho_dilation(in, out, 3);
  EXPECT_FALSE(std::signbit(out(2, 2)));
  EXPECT_TRUE(std::signbit(out(0, 0)));
}

TEST(Morphology, CrossDilationComputesEveryPixel) {
  // The last n lines and columns used to keep whatever the output held.
  Image in = random_image(8, 9, 4u), out(8, 9), reference(8, 9);
  out.init(1e6f);
  morpho4_dilation(in, out, 1);
  for (int i = 0; i < 8; i++)
    for (int j = 0; j < 9; j++) {
      float m = in(i, j);
      for (auto [di, dj] : {std::pair{2, 0}, {-2, 0}, {0, 2}, {0, -2}})
        m = std::max(m, in(i + di, j + dj, I_CONT));
      EXPECT_EQ(out(i, j), m) << i << " " << j;
    }
}

TEST(Morphology, IntOperatorsComputeTheInteriorAndClearTheBorder) {
  const int nl = 7, nc = 8;
  std::vector<int> in(nl * nc), out(nl * nc, 5);
  for (int k = 0; k < nl * nc; k++) in[k] = (k * 37) % 11;
  morphoi_erosion(in.data(), out.data(), nl, nc, 3);  // a 1 x 1 element: a copy inside
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      const bool inside = i >= 2 && i < nl - 2 && j >= 2 && j < nc - 2;
      EXPECT_EQ(out[i * nc + j], inside ? in[i * nc + j] : 0) << i << " " << j;
    }
  // A border wider than the image clears it without writing outside.
  std::vector<int> small(3 * 2, 7);
  i_clean_border(small.data(), 3, 2, 5);
  for (int v : small) EXPECT_EQ(v, 0);
  std::vector<int> tiny_in(4 * 4, 1), tiny_out(4 * 4, 9);
  morphoi_cercle_dilation(tiny_in.data(), tiny_out.data(), 4, 4, 5);
  for (int v : tiny_out) EXPECT_EQ(v, 0);
}

TEST(Morphology, MinMaxTransformTypes) {
  Image ima = random_image(24, 20, 5u, 0.f, 10.f), rec;
  MultiResol cube(24, 20, 3, TM_PAVE_MINMAX, "minmax");
  cube.transform(ima);
  cube.recons(rec);
  EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-4);
  // Band 1 is an opening of the image: never above it.
  Image smooth(24, 20);
  MultiResol cube_smooth(24, 20, 3, TM_PAVE_MINMAX, "minmax");
  cube_smooth.transform(ima, I_CONT, False);
  for (int k = 0; k < ima.n_elem(); k++) EXPECT_LE(cube_smooth.band(1)(k), ima(k));
  MultiResol pyr(24, 20, 3, TM_PYR_MINMAX, "pyr minmax");
  pyr.transform(ima);
  EXPECT_EQ(pyr.band(1).nl(), 12);
  pyr.recons(rec);
  EXPECT_EQ(rec.nl(), 24);
  EXPECT_EQ(rec.nc(), 20);
}

}  // namespace
