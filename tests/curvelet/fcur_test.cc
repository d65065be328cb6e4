// The fast curvelet transform: direction tables and band counts of the
// allocations, band sizes of the worked examples, Parseval and round trip
// for real and complex curvelets at odd, even and mixed sizes, band access.
#include "curvelet/fcur.h"

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

std::vector<int> directions(const FCUR& f) { return pixels(f.TabNbrDir); }
std::vector<int> bands(const FCUR& f) { return pixels(f.NbrBandPerScale); }

TEST(FcurAlloc, DirectionTablesFromFineAndCoarse) {
  FCUR complex_cur, real_cur, few, coarse;
  complex_cur.alloc_from_fine(5, 64, 64, 32);
  EXPECT_EQ(directions(complex_cur), (std::vector<int>{32, 32, 16, 16, 1}));
  EXPECT_EQ(bands(complex_cur), (std::vector<int>{64, 64, 32, 32, 1}));
  EXPECT_EQ(complex_cur.nbr_tot_band(), 193);
  real_cur.alloc_from_fine(5, 64, 64, 32, False, False, True);
  EXPECT_EQ(bands(real_cur), (std::vector<int>{32, 32, 16, 16, 1}));
  EXPECT_EQ(real_cur.nbr_tot_band(), 97);
  few.alloc_from_fine(4, 64, 64, 4);
  EXPECT_EQ(directions(few), (std::vector<int>{8, 8, 8, 1}));
  coarse.alloc_from_coarse(6, 128, 128, 8);
  EXPECT_EQ(directions(coarse), (std::vector<int>{32, 16, 16, 8, 8, 1}));
}

TEST(FcurAlloc, BandSizesOf256And255Images) {
  struct Case {
    int n, planes[4], wedges[3][3];  // per detail scale: lines, corner, regular columns
    int total;
  };
  const Case cases[] = {
      {256, {257, 129, 65, 33}, {{65, 101, 97}, {33, 51, 49}, {33, 27, 25}}, 161},
      {255, {255, 127, 63, 31}, {{64, 100, 96}, {32, 50, 48}, {32, 26, 24}}, 161}};
  for (const Case& c : cases) {
    FCUR f;
    f.alloc_from_fine(4, c.n, c.n, 32);
    EXPECT_EQ(f.ModifSize, c.n % 2 == 0 ? True : False);
    EXPECT_EQ(directions(f), (std::vector<int>{32, 32, 16, 1}));
    for (int s = 0; s < 4; s++) EXPECT_EQ(f.nls(s), c.planes[s]);
    for (int s = 0; s < 3; s++) {
      EXPECT_EQ(f.size_band_nl(s, 0), c.wedges[s][0]) << s;
      EXPECT_EQ(f.size_band_nc(s, 0), c.wedges[s][1]) << s;
      EXPECT_EQ(f.size_band_nc(s, 2), c.wedges[s][2]) << s;
      for (int b = 0; b < f.nbr_band(s); b += 2) {
        EXPECT_EQ(f.size_band_nl(s, b), f.size_band_nl(s, b + 1));
        EXPECT_EQ(f.size_band_nc(s, b), f.size_band_nc(s, b + 1));
      }
    }
    EXPECT_EQ(f.size_band_nl(3, 0), c.planes[3]);
    EXPECT_EQ(f.nbr_tot_band(), c.total);
  }
}

TEST(FcurAlloc, RealBandSizesWithoutAnObject) {
  FCUR f;
  f.alloc_from_fine(5, 100, 90, 16, False, False, True);
  to_array<int, true> nl, nc;
  const int total = fct_real_get_band_size(5, 100, 90, 16, nl, nc);
  ASSERT_EQ(total, f.nbr_tot_band());
  int k = 0;
  for (int s = 0; s < 5; s++)
    for (int b = 0; b < f.nbr_band(s); b++, k++) {
      EXPECT_EQ(nl(k), f.size_band_nl(s, b)) << s << " " << b;
      EXPECT_EQ(nc(k), f.size_band_nc(s, b)) << s << " " << b;
    }
}

double band_energy(const FCUR& f) {
  double e = 0.;
  to_array<float, false> band;
  for (int s = 0; s < f.nbr_scale(); s++)
    for (int b = 0; b < f.nbr_band(s); b++) {
      f.get_band(s, b, band);
      for (int k = 0; k < band.n_elem(); k++) e += double(band(k)) * band(k);
    }
  return e;
}

struct TripCase {
  int nl, nc, scales, nbr_dir;
  Bool real;
};

TEST(FcurTransform, RoundTripRealAndComplex) {
  const TripCase cases[] = {{64, 64, 4, 16, False}, {65, 65, 4, 16, False}, {63, 80, 3, 8, False},
                            {64, 64, 4, 16, True},  {65, 65, 4, 16, True},  {63, 80, 3, 8, True},
                            {65, 65, 2, 32, False}};
  for (const TripCase& c : cases) {
    FCUR f;
    f.alloc_from_fine(c.scales, c.nl, c.nc, c.nbr_dir, False, False, c.real);
    to_array<float, false> ima = random_image(c.nl, c.nc, 21);
    f.cur_trans(ima);
    to_array<float, false> rec;
    f.cur_recons(rec);
    ASSERT_EQ(rec.nl(), c.nl);
    ASSERT_EQ(rec.nc(), c.nc);
    EXPECT_LT(qz_test::relative_l2_error(rec.buffer(), ima.buffer(), ima.n_elem()), 1e-5)
        << c.nl << "x" << c.nc << " real " << c.real;
  }
}

// Complex curvelets are a tight frame of an odd-sized image: the band
// energies add up to the image's.
TEST(FcurTransform, ComplexCurveletsKeepTheEnergy) {
  const TripCase cases[] = {{65, 65, 4, 16, False}, {63, 81, 3, 32, False}, {33, 47, 3, 8, False}};
  for (const TripCase& c : cases) {
    FCUR f;
    f.alloc_from_fine(c.scales, c.nl, c.nc, c.nbr_dir);
    to_array<float, false> ima = random_image(c.nl, c.nc, 4);
    f.cur_trans(ima);
    double e = 0.;
    for (int k = 0; k < ima.n_elem(); k++) e += double(ima(k)) * ima(k);
    EXPECT_NEAR(band_energy(f) / e, 1., 1e-5) << c.nl << "x" << c.nc;
  }
}

// Wedges are cut in parallel: the bands must not depend on the thread count.
TEST(FcurTransform, BandsAreIdenticalForAnyThreadCount) {
  const int saved = omp_get_max_threads();
  to_array<float, false> ima = random_image(97, 90, 13);
  FCUR one, many;
  one.alloc_from_fine(4, 97, 90, 16);
  many.alloc_from_fine(4, 97, 90, 16);
  omp_set_num_threads(1);
  one.cur_trans(ima);
  omp_set_num_threads(5);
  many.cur_trans(ima);
  omp_set_num_threads(saved);
  for (int s = 0; s < one.nbr_scale(); s++)
    for (int k = 0; k < one.TabNbrDir(s); k++)
      ASSERT_EQ(qz_test::max_abs_difference(one.TabCurvelet[s][k], many.TabCurvelet[s][k]), 0.);
}

TEST(FcurTransform, EvenImageIsPaddedByItsLastLineAndColumn) {
  FCUR f;
  f.alloc_from_fine(3, 64, 64, 8);
  EXPECT_EQ(f.NewNl, 65);
  EXPECT_EQ(f.NewNc, 65);
  // An image constant along its lines pads to a 65 x 65 image constant
  // along its lines, whose spectrum lies on the zero-frequency column only.
  to_array<float, false> ima(64, 64);
  for (int i = 0; i < 64; i++)
    for (int j = 0; j < 64; j++) ima(i, j) = float(i % 7);
  f.cur_trans(ima);
  for (int k = 0; k < f.TabWT[0].n_elem(); k++)
    if (k % 65 != 32) {
      ASSERT_LT(std::abs(f.TabWT[0](k)), 1e-4) << k;
    }
}

TEST(FcurBands, AccessByPartAndPutBandOfGetBand) {
  FCUR f;
  f.alloc_from_fine(3, 33, 33, 8);
  to_array<float, false> ima = random_image(33, 33, 8);
  f.cur_trans(ima);
  to_array<float, false> re, im;
  f.get_band(0, 2, re);
  f.get_band(0, 3, im);
  EXPECT_EQ(re(1, 2), f.TabCurvelet[0][1](1, 2).real());
  EXPECT_EQ(im(1, 2), f.TabCurvelet[0][1](1, 2).imag());
  EXPECT_EQ(&f(0, 3, 1, 2), reinterpret_cast<float*>(&f.TabCurvelet[0][1](1, 2)) + 1);
  const std::complex<float> before = f.TabCurvelet[0][1](0, 0);
  im(0, 0) = 5.f;
  f.put_band(0, 3, im);
  EXPECT_EQ(f.TabCurvelet[0][1](0, 0), std::complex<float>(before.real(), 5.f));
  im(0, 0) = before.imag();
  f.put_band(0, 3, im);
  to_array<float, false> again;
  f.get_band(0, 3, again);
  EXPECT_EQ(qz_test::max_abs_difference(again, im), 0.);
}

void put_band_of_wrong_size() {
  FCUR f;
  f.alloc_from_fine(3, 33, 33, 8);
  to_array<float, false> band(3, 3);
  f.put_band(0, 0, band);
}

void transform_of_wrong_size() {
  FCUR f;
  f.alloc_from_fine(3, 33, 33, 8);
  to_array<float, false> ima(32, 33);
  f.cur_trans(ima);
}

// Allocated for an even size, the transform works on a padded copy; an
// image larger than the allocation must not lend it its top-left corner.
void transform_of_larger_image(int nl, int nc) {
  FCUR f;
  f.alloc_from_fine(3, 32, 32, 8);
  to_array<float, false> ima(nl, nc);
  f.cur_trans(ima);
}

void short_direction_table() {
  FCUR f;
  to_array<int, true> dirs(1);
  dirs(0) = 8;
  f.alloc_with_tab(4, 33, 33, dirs);
}

void too_many_scales() {
  FCUR f;
  f.alloc_from_fine(5, 48, 48, 16);  // planes 49, 25, 13, 7 and 3
}

TEST(FcurDeathTest, BadSizesAndTables) {
  EXPECT_EXIT_STATUS(too_many_scales(), 255, "too many scales \\(5\\) for an image of 48 x 48");
  EXPECT_EXIT_STATUS(put_band_of_wrong_size(), 255,
                     "incorrect image size in FCUR::put_band ... \n       Band size = 3 3");
  EXPECT_EXIT_STATUS(transform_of_wrong_size(), 255, "allocated for 33 x 33 images");
  for (const auto& size : {std::pair<int, int>{40, 40}, {33, 32}, {32, 33}, {33, 33}})
    EXPECT_EXIT_STATUS(transform_of_larger_image(size.first, size.second), 255,
                       "allocated for 32 x 32 images, not " + std::to_string(size.first) + " x " +
                           std::to_string(size.second))
        << size.first << " x " << size.second;
  EXPECT_EXIT_STATUS(short_direction_table(), 255, "TabDir size incorrect");
}

}  // namespace
