// Separable 2D steps and the transforms chained from them: band sizes of an
// odd image, the in-place quadrants, a direct separable filtering as the
// reference of the undecimated step, round trips of the PAVE, orthogonal and
// half-decimated transforms, and the Fisz stabilisation.
#include "multires/sub_band_2d.h"

#include <gtest/gtest.h>

#include <cmath>

#include "filters/sub_band_filter.h"
#include "filters/undec_sub_band_filter.h"
#include "multires/half_decimated_2d_wt.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(SubBand2D, DecimatedStepOfAnOddImage) {
  SubBandFilter filter(F_MALLAT_7_9, NORM_L2);
  SubBand2D step(filter);
  Image ima = random_image(5, 7, 1u), smooth;
  Image hl(3, 3), lh(2, 4), hh(2, 3);
  step.transform2d(ima, False, &hl, &lh, &hh, &smooth);
  EXPECT_EQ(smooth.nl(), 3);
  EXPECT_EQ(smooth.nc(), 4);
  // In place, the same numbers land in the quadrants.
  Image in_place = ima;
  step.transform2d(in_place, True, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(in_place(0, 0), smooth(0, 0));
  EXPECT_EQ(in_place(0, 4), hl(0, 0));
  EXPECT_EQ(in_place(3, 0), lh(0, 0));
  EXPECT_EQ(in_place(4, 6), hh(1, 2));
  Image rec(5, 7);
  step.recons2d(rec, False, &hl, &lh, &hh, &smooth);
  step.recons2d(in_place, True, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(qz_test::max_abs_difference(rec, in_place), 0.);
}

TEST(SubBand2D, OnePixelWideImageHasNoHighColumns) {
  SubBandFilter filter(F_HAAR, NORM_L2);
  SubBand2D step(filter);
  Image ima = random_image(8, 1, 2u), smooth, hl(4, 0), lh(4, 1), hh(4, 0);
  step.transform2d(ima, False, &hl, &lh, &hh, &smooth);
  ASSERT_EQ(smooth.nc(), 1);
  // A one-sample line passes through the L2 low-pass as sqrt(2) times
  // itself; Haar along the column then gives (a + b)/sqrt(2) of each pair.
  for (int i = 0; i < 4; i++)
    EXPECT_NEAR(smooth(i, 0), ima(2 * i, 0) + ima(2 * i + 1, 0), 1e-5);
}

// Undecimated step against a direct double sum over the 2D separable taps.
TEST(SubBand2D, UndecimatedStepIsTheSeparableFiltering) {
  UndecSubBandFilter filter(U_B3SPLINE);
  filter.Bord = I_PERIOD;
  SubBand2D step(filter);
  const int n = 12, spread = 2;
  Image ima = random_image(n, n, 3u), hl(n, n), lh(n, n), hh(n, n), ll(n, n);
  step.transform2d(ima, hl, lh, hh, ll, spread);
  auto at = [&](int i, int j) { return ima((i + 4 * n) % n, (j + 4 * n) % n); };
  const double h[5] = {1. / 16, 1. / 4, 3. / 8, 1. / 4, 1. / 16};
  const double g[5] = {-1. / 16, -1. / 4, 5. / 8, -1. / 4, -1. / 16};
  double worst = 0;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double s_ll = 0, s_hl = 0, s_lh = 0, s_hh = 0;
      for (int r = 0; r < 5; r++)
        for (int c = 0; c < 5; c++) {
          const double x = at(i + (r - 2) * spread, j + (c - 2) * spread);
          s_ll += h[r] * h[c] * x;
          s_hl += h[r] * g[c] * x;  // high along the lines, low along the columns
          s_lh += g[r] * h[c] * x;
          s_hh += g[r] * g[c] * x;
        }
      worst = std::max({worst, std::fabs(s_ll - ll(i, j)), std::fabs(s_hl - hl(i, j)),
                        std::fabs(s_lh - lh(i, j)), std::fabs(s_hh - hh(i, j))});
    }
  EXPECT_LT(worst, 1e-5);
}

TEST(PaveTransform, RoundTripWithPerfectReconstructionBanks) {
  for (type_undec_filter type : {U_B3SPLINE, U_B3SPLINE_2, U_B2SPLINE}) {
    UndecSubBandFilter filter(type);
    PAVE_2D_WT pave(filter);
    Image* bands = nullptr;
    Image ima = random_image(19, 24, 4u), rec(19, 24);
    ASSERT_EQ(pave.alloc(bands, 19, 24, 4), 10);
    pave.transform(ima, bands, 4);
    pave.recons(bands, rec, 4);
    EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-5) << type;
    pave.free(bands, 4);
    EXPECT_EQ(bands, nullptr);
  }
}

TEST(OrthoTransform, RoundTripAndSingleScale) {
  SubBandFilter filter(F_MALLAT_7_9, NORM_L2);
  Ortho_2D_WT ortho(filter);
  Image ima = random_image(40, 36, 5u), trans, rec;
  ortho.transform(ima, trans, 1);
  EXPECT_EQ(qz_test::max_abs_difference(trans, ima), 0.);
  ortho.transform(ima, trans, 4);
  EXPECT_GT(qz_test::max_abs_difference(trans, ima), 0.1);
  ortho.recons(trans, rec, 4);
  EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-5);
  // Integer form: an exact integer Haar pair comes back after rounding.
  SubBandFilter haar(F_HAAR, NORM_L1);
  Ortho_2D_WT ortho_int(haar);
  to_array<int, false> pixels(16, 16), coded;
  for (int k = 0; k < pixels.n_elem(); k++) pixels(k) = 4 * (k % 7);
  ortho_int.transform(pixels, coded, 2);
  to_array<int, false> back;
  ortho_int.recons(coded, back, 2);
  for (int k = 0; k < pixels.n_elem(); k++) EXPECT_EQ(back(k), pixels(k));
}

TEST(OrthoTransform, ToIntRoundsHalfAwayFromZero) {
  EXPECT_EQ(to_int(2.5f), 3);
  EXPECT_EQ(to_int(-2.5f), -3);
  EXPECT_EQ(to_int(-0.4f), 0);
}

TEST(HalfDecimated, BandSizesFollowTheDecimationTable) {
  SubBandFilter filter(F_MALLAT_7_9, NORM_L2);
  HALF_DECIMATED_2D_WT wt(filter);
  Image* bands = nullptr;
  ASSERT_EQ(wt.alloc(bands, 5, 7, 2, 0), 4);
  const int nl[] = {3, 2, 2, 3}, nc[] = {3, 4, 3, 4};
  for (int b = 0; b < 4; b++) {
    EXPECT_EQ(bands[b].nl(), nl[b]);
    EXPECT_EQ(bands[b].nc(), nc[b]);
  }
  EXPECT_EQ(bands[0].name(), "band_1");
  wt.free(bands, 2);
  for (int undec : {-1, 3, 7}) {
    wt.alloc(bands, 5, 7, 4, undec);
    for (int b = 0; b < 10; b++) EXPECT_EQ(bands[b].n_elem(), 35) << undec;
    wt.free(bands, 4);
  }
  EXPECT_EQ(half_decimated_nbr_scale(256), 7);
  EXPECT_EQ(half_decimated_nbr_scale(512), 8);
}

TEST(HalfDecimated, RoundTripForEveryNumberOfUndecimatedScales) {
  SubBandFilter filter(F_MALLAT_7_9, NORM_L2);
  HALF_DECIMATED_2D_WT wt(filter);
  // Sizes whose interleaved sub-signals split evenly at every decimated
  // scale (the bank's interleaved step loses a sample otherwise), and odd
  // sizes where no scale interleaves.
  const struct {
    int nl, nc;
    int undec[4];
  } cases[] = {{32, 64, {0, 1, 2, -1}}, {48, 48, {0, 1, 2, -1}}, {45, 51, {0, -1, 3, 0}}};
  for (const auto& c : cases)
    for (int undec : c.undec) {
      const int n = c.nl;
      Image* bands = nullptr;
      Image ima = random_image(n, c.nc, 6u), rec(n, c.nc);
      wt.alloc(bands, n, c.nc, 4, undec);
      wt.transform(ima, bands, 4, undec);
      wt.recons(bands, rec, 4, undec);
      EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-4) << n << " " << undec;
      EXPECT_EQ(filter.SampleDist, 1);  // left at the distance of scale 0
      wt.free(bands, 4);
    }
}

TEST(HalfDecimated, FiszStabilisationIsUndone) {
  SubBandFilter filter(F_MALLAT_7_9, NORM_L1);
  HALF_DECIMATED_2D_WT wt(filter);
  Image* bands = nullptr;
  Image ima = random_image(32, 32, 7u, 10.f, 50.f), rec(32, 32);
  wt.alloc(bands, 32, 32, 3, 1);
  wt.FiszAnalysis = True;
  wt.FiszSynthesis = True;
  wt.transform(ima, bands, 3, 1);
  wt.recons(bands, rec, 3, 1);
  EXPECT_LT(qz_test::max_abs_difference(rec, ima), 1e-3);
  wt.free(bands, 3);
  // A detail over a non-positive smooth value becomes 0.
  Image band = image_row<float>({4.f, 5.f}), smooth = image_row<float>({4.f, -1.f});
  wt.fisz_trans(band, smooth, False);
  EXPECT_FLOAT_EQ(band(0), 2.f);
  EXPECT_EQ(band(1), 0.f);
  // fisz2d with no scale count on a 64 x 100 image runs 5 scales and the
  // reverse transform undoes the forward one.
  Image img = random_image(64, 100, 8u, 20.f, 40.f), fwd, back;
  fisz2d(img, fwd, False, 0, F_HAAR, 1);
  EXPECT_GT(qz_test::max_abs_difference(fwd, img), 1.);
}

}  // namespace

#include <omp.h>

namespace {

// Large images run their passes in parallel: the result must not depend on
// the number of threads.
TEST(HalfDecimated, ResultsDoNotDependOnTheThreadCount) {
  SubBandFilter filter(F_MALLAT_7_9, NORM_L2);
  HALF_DECIMATED_2D_WT wt(filter);
  const int n = 1024;
  Image ima = random_image(n, n, 60u);
  Image* one = nullptr;
  Image* many = nullptr;
  wt.alloc(one, n, n, 3, 1);
  wt.alloc(many, n, n, 3, 1);
  const int threads = omp_get_max_threads();
  omp_set_num_threads(1);
  wt.transform(ima, one, 3, 1);
  omp_set_num_threads(4);
  wt.transform(ima, many, 3, 1);
  omp_set_num_threads(threads);
  for (int b = 0; b < 7; b++) EXPECT_EQ(qz_test::max_abs_difference(one[b], many[b]), 0.) << b;
  wt.free(one, 3);
  wt.free(many, 3);
}

}  // namespace
