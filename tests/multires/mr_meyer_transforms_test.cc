// The Fourier-space Meyer types of the container: band layout on the
// planes' own sizes, the closed-form transform of a constant image, the
// square against the radial window, and ownership of the Meyer object.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "multires/meyer_wt.h"
#include "multires/multiresol.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

struct LayoutCase {
  int nl, nc, nbr_scale;
  std::vector<int> band_nl, band_nc;  // round(N / 2^s)
};

TEST(MeyerMultiResol, BandsTakeThePlaneSizes) {
  // 9 and 5 are where rounding N / 2^s parts from halving by (n + 1) / 2:
  // the pyramid would give 9, 5, 3 and 5, 3, 2.
  const LayoutCase cases[] = {
      {256, 255, 4, {256, 128, 64, 32}, {255, 128, 64, 32}},
      {9, 5, 3, {9, 5, 2}, {5, 3, 1}},
      {20, 37, 3, {20, 10, 5}, {37, 19, 9}},
  };
  for (type_transform type : {TO_PYR_MEYER, TO_PYR_MEYER_ISOTROP})
    for (const LayoutCase& c : cases) {
      MultiResol mr(c.nl, c.nc, c.nbr_scale, type, "layout");
      ASSERT_EQ(mr.nbr_band(), c.nbr_scale);
      EXPECT_EQ(mr.nbr_undec_scale(), 0);
      long detail = 0;
      for (int b = 0; b < c.nbr_scale; b++) {
        EXPECT_EQ(mr.size_band_nl(b), c.band_nl[b]) << c.nl << " band " << b;
        EXPECT_EQ(mr.size_band_nc(b), c.band_nc[b]) << c.nc << " band " << b;
        EXPECT_EQ(mr.band(b).nl(), c.band_nl[b]);
        EXPECT_EQ(mr.band(b).nc(), c.band_nc[b]);
        if (b < c.nbr_scale - 1) detail += c.band_nl[b] * c.band_nc[b];
      }
      EXPECT_EQ(mr.NbrCoeffDetail, detail);
    }
}

TEST(MeyerMultiResol, ConstantImageLeavesOnlyTheCoarsestPlane) {
  // The zero frequency lies where every low-pass window is 1, so the detail
  // bands are empty; the orthonormal spectrum c N at the centre, read back
  // on an n x n plane, gives c N / n at every pixel of the last band.
  for (type_transform type : {TO_PYR_MEYER, TO_PYR_MEYER_ISOTROP}) {
    Image ima(32, 32);
    ima.init(3.f);
    MultiResol mr(32, 32, 4, type, "constant");
    mr.transform(ima, I_CONT, True);
    for (int b = 0; b < 3; b++) EXPECT_LT(mr.band(b).maxfabs(), 1e-5) << b;
    const Image& last = mr.band(3);
    ASSERT_EQ(last.nl(), 4);
    for (int k = 0; k < last.n_elem(); k++) EXPECT_NEAR(last(k), 3.f * 32 / 4, 1e-4);
  }
}

TEST(MeyerMultiResol, RadialWindowCutsTheDiagonalFrequency) {
  // A cosine at frequency (4, 4) of a 32 x 32 image sits on the corner of
  // the square pass region of the first separable window (|u|, |v| <= 4),
  // but at radius 5.66, beyond the radial window's flat disc of radius 4.
  Image ima(32, 32);
  for (int i = 0; i < 32; i++)
    for (int j = 0; j < 32; j++) ima(i, j) = static_cast<float>(std::cos(2 * M_PI * 4 * (i + j) / 32.));
  MultiResol square(32, 32, 3, TO_PYR_MEYER, "square");
  MultiResol radial(32, 32, 3, TO_PYR_MEYER_ISOTROP, "radial");
  square.transform(ima, I_CONT, True);
  radial.transform(ima, I_CONT, True);
  EXPECT_LT(square.band(0).maxfabs(), 1e-5);
  EXPECT_GT(radial.band(0).maxfabs(), 0.1);
}

TEST(MeyerMultiResol, OwnsItsMeyerObject) {
  MultiResol mr(16, 16, 3, TO_PYR_MEYER_ISOTROP, "owned");
  ASSERT_NE(mr.get_meyer_wt(), nullptr);
  EXPECT_TRUE(mr.get_meyer_wt()->isotrop());
  mr.alloc(16, 16, 3, TO_PYR_BSPLINE, "other");
  EXPECT_EQ(mr.get_meyer_wt(), nullptr);
  mr.alloc(16, 16, 3, TO_PYR_MEYER, "again");
  EXPECT_FALSE(mr.get_meyer_wt()->isotrop());
  mr.free();
  EXPECT_EQ(mr.get_meyer_wt(), nullptr);
}

}  // namespace
