// Angular wedges: the window pair, the wedge sizes of worked examples, the
// cover of the plane by the squared wedge windows, and the cut/paste pair.
#include "curvelet/fcur_wedges.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Plane = to_array<std::complex<float>, false>;

TEST(WedgeWindow, EndsMiddleAndComplementarity) {
  double l, r;
  window(0., l, r);
  EXPECT_EQ(l, 0.);
  EXPECT_EQ(r, 1.);
  window(1., l, r);
  EXPECT_EQ(l, 1.);
  EXPECT_EQ(r, 0.);
  window(0.5, l, r);
  EXPECT_NEAR(l, 1. / std::sqrt(2.), 1e-15);
  EXPECT_NEAR(r, 1. / std::sqrt(2.), 1e-15);
  for (double x = -0.5; x < 1.5; x += 0.01) {
    window(x, l, r);
    EXPECT_NEAR(l * l + r * r, 1., 1e-14) << x;
  }
}

TEST(WedgeGeometry, RangeOfAPlane) {
  int nx, ny, mx, my;
  double xw, yw;
  rangecompute(65., 127., nx, ny, mx, my, xw, yw);
  EXPECT_EQ(nx, 65);
  EXPECT_EQ(ny, 127);
  EXPECT_EQ(mx, 32);
  EXPECT_EQ(my, 63);
  EXPECT_EQ(xw, 32.5);
}

struct SizeCase {
  double A, B;
  int nbr_dir;
  // lines and columns of: quadrant 0 corner, quadrant 0 regular (or corner
  // again when there is none), quadrant 1 corner
  int q0_lines, q0_corner, q0_regular, q1_lines, q1_corner;
};

TEST(WedgeGeometry, SizesOfTheWorkedExamples) {
  const SizeCase cases[] = {{65, 65, 32, 17, 26, 25, 17, 26},
                            {33, 33, 16, 17, 14, 13, 17, 14},
                            {127, 65, 32, 32, 26, 25, 17, 50},
                            {257, 257, 32, 65, 101, 97, 65, 101},
                            {255, 255, 32, 64, 100, 96, 64, 100}};
  for (const SizeCase& c : cases) {
    std::vector<int> lines(c.nbr_dir), columns(c.nbr_dir);
    wedge_sizes(c.A, c.B, c.nbr_dir, lines.data(), columns.data());
    const int nq = c.nbr_dir / 4;
    EXPECT_EQ(lines[0], c.q0_lines) << c.A;
    EXPECT_EQ(columns[0], c.q0_corner) << c.A;
    EXPECT_EQ(columns[1], c.q0_regular) << c.A;
    EXPECT_EQ(columns[nq - 1], c.q0_corner) << c.A;
    EXPECT_EQ(lines[nq], c.q1_lines) << c.A;
    EXPECT_EQ(columns[nq], c.q1_corner) << c.A;
    for (int k = 0; k < c.nbr_dir / 2; k++) {
      EXPECT_EQ(lines[k], lines[k + c.nbr_dir / 2]) << "opposite wedges " << k;
      EXPECT_EQ(columns[k], columns[k + c.nbr_dir / 2]) << "opposite wedges " << k;
    }
  }
}

TEST(WedgeGeometry, EightDirectionsGiveTwoCornerWedgesPerSide) {
  Plane plane = random_complex_image<float>(33, 33, 5);
  Plane* wedges = new Plane[8];
  scale_into_wedge(plane, wedges, 8, 33., 33.);
  std::vector<int> lines(8), columns(8);
  wedge_sizes(33., 33., 8, lines.data(), columns.data());
  for (int k = 0; k < 8; k++) {
    EXPECT_EQ(wedges[k].nl(), lines[k]);
    EXPECT_EQ(wedges[k].nc(), columns[k]);
    EXPECT_EQ(columns[k], columns[0]);  // corner wedges only
  }
  delete[] wedges;
}

struct CoverCase {
  int ny, nx, nbr_dir;
};

// Cutting a plane of ones and pasting it back gives at every frequency the
// sum of the squared windows that reach it: one outside the central
// rectangle of about a quarter of the half sizes, between 0 and 1 inside it,
// 0 at the centre.
TEST(WedgeCover, SquaredWindowsCoverThePlaneOutsideTheCentre) {
  const CoverCase cases[] = {{65, 65, 32}, {33, 33, 16}, {127, 65, 32}, {63, 81, 8}, {129, 129, 64}};
  for (const CoverCase& c : cases) {
    Plane plane(c.ny, c.nx);
    plane.init(std::complex<float>(1.f, 0.f));
    Plane* wedges = new Plane[c.nbr_dir];
    scale_into_wedge(plane, wedges, c.nbr_dir, c.ny, c.nx);
    Plane sum(c.ny, c.nx);
    wedge_into_scale(wedges, sum, c.nbr_dir, c.ny, c.nx);
    const int my = c.ny / 2, mx = c.nx / 2;
    const double yq = c.ny / 2. / 4., xq = c.nx / 2. / 4.;
    for (int i = 0; i < c.ny; i++)
      for (int j = 0; j < c.nx; j++) {
        const double v = sum(i, j).real();
        if (std::abs(i - my) > yq + 1 || std::abs(j - mx) > xq + 1) {
          ASSERT_NEAR(v, 1., 1e-6) << c.ny << "x" << c.nx << " at " << i << "," << j;
        } else {
          ASSERT_GE(v, -1e-7);
          ASSERT_LE(v, 1. + 1e-6);
        }
      }
    EXPECT_EQ(sum(my, mx).real(), 0.f);
    delete[] wedges;
  }
}

TEST(WedgeCover, CutAndPasteReturnsThePlaneOutsideTheCentre) {
  Plane plane = random_complex_image<float>(65, 81, 9);
  const Plane original = plane;
  Plane* wedges = new Plane[32];
  scale_into_wedge(plane, wedges, 32, 65., 81.);
  EXPECT_EQ(qz_test::max_abs_difference(plane, original), 0.) << "four quarter turns";
  Plane back(65, 81);
  wedge_into_scale(wedges, back, 32, 65., 81.);
  for (int i = 0; i < 65; i++)
    for (int j = 0; j < 81; j++)
      if (std::abs(i - 32) > 9 || std::abs(j - 40) > 11) {
        ASSERT_LT(std::abs(back(i, j) - original(i, j)), 1e-6) << i << "," << j;
      }
  delete[] wedges;
}

void cut_plane_of_wrong_size() {
  Plane plane(64, 65);
  Plane* wedges = new Plane[16];
  scale_into_wedge(plane, wedges, 16, 65., 65.);
}

void paste_into_plane_of_wrong_size() {
  Plane plane(65, 65);
  Plane* wedges = new Plane[16];
  scale_into_wedge(plane, wedges, 16, 65., 65.);
  Plane small(63, 65);
  wedge_into_scale(wedges, small, 16, 65., 65.);
}

TEST(WedgeDeathTest, PlanesOfTheWrongSizeAreRefused) {
  EXPECT_EXIT_STATUS(cut_plane_of_wrong_size(), 255, "scale_into_wedge expects a plane of 65 x 65");
  EXPECT_EXIT_STATUS(paste_into_plane_of_wrong_size(), 255, "wedge_into_scale expects");
}

}  // namespace
