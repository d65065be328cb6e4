// The multiresolution container and its dispatch: exact reconstruction of
// every invertible type on even and odd sizes, band layouts of the families,
// the band/scale maps, band norms against simulated white noise, the
// start-up tables against their closed forms, and the refusals.
#include "multires/multiresol.h"

#include <gtest/gtest.h>

#include <cmath>

#include "multires/mr_band_norms.h"
#include "multires/mr_dispatch.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

struct RoundTripCase {
  type_transform type;
  int nl, nc, nbr_scale;
  Bool exact_pyr;
};

class MultiResolRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(MultiResolRoundTrip, ReconstructsTheImage) {
  const RoundTripCase c = GetParam();
  Image ima = random_image(c.nl, c.nc, 7u + c.type, 0.f, 100.f);
  MultiResol mr;
  mr.ExactPyrRec = c.exact_pyr;
  mr.alloc(c.nl, c.nc, c.nbr_scale, c.type, "test");
  mr.ExactPyrRec = c.exact_pyr;
  mr.transform(ima, I_MIRROR, True);
  Image rec;
  mr.recons(rec, I_MIRROR);
  ASSERT_EQ(rec.nl(), c.nl);
  ASSERT_EQ(rec.nc(), c.nc);
  EXPECT_LT(qz_test::max_abs_difference(rec, ima), 2e-3) << StringTransform(c.type);
  // A transform that left every band zero would pass the sum only for a
  // zero image: the finest band must carry something.
  EXPECT_GT(mr.band(0).maxfabs() != 0.f, 0);
}

INSTANTIATE_TEST_SUITE_P(
    InvertibleTypes, MultiResolRoundTrip,
    ::testing::Values(RoundTripCase{TO_PAVE_LINEAR, 32, 32, 4, False},
                      RoundTripCase{TO_PAVE_BSPLINE, 33, 27, 4, False},
                      RoundTripCase{TM_PAVE_MEDIAN, 20, 17, 3, False},
                      RoundTripCase{TO_PAVE_HAAR, 31, 32, 4, False},
                      RoundTripCase{TM_PYR_LAPLACIAN, 64, 64, 4, False},
                      RoundTripCase{TM_PYR_LAPLACIAN, 37, 29, 3, False},
                      RoundTripCase{TM_PYR_MEDIAN, 33, 30, 3, True},
                      RoundTripCase{TO_MALLAT, 64, 64, 4, False},
                      RoundTripCase{TO_MALLAT, 37, 45, 3, False},
                      RoundTripCase{TO_UNDECIMATED_MALLAT, 64, 48, 4, False},
                      RoundTripCase{TO_UNDECIMATED_MALLAT, 35, 41, 3, False},
                      RoundTripCase{TO_UNDECIMATED_NON_ORTHO, 32, 32, 4, False},
                      RoundTripCase{TO_UNDECIMATED_NON_ORTHO, 27, 31, 3, False},
                      RoundTripCase{TO_PYR_MEYER, 32, 32, 4, False},
                      RoundTripCase{TO_PYR_MEYER, 37, 29, 3, False},
                      RoundTripCase{TO_PYR_MEYER_ISOTROP, 32, 48, 4, False},
                      RoundTripCase{TO_PYR_MEYER_ISOTROP, 33, 27, 3, False},
                      RoundTripCase{TO_LC, 32, 32, 3, False},
                      RoundTripCase{TO_LC, 33, 27, 3, False}));

TEST(MultiResolLayout, DefaultScaleCountFollowsTheNaturalLogarithmRule) {
  // ln(0.75 n / ln 2), so 256 x 512 gets 6 scales and 128 x 128 gets 5.
  const int sides[] = {4, 16, 32, 64, 128, 256, 512, 1024};
  const int scales[] = {1, 3, 4, 4, 5, 6, 6, 7};
  for (int k = 0; k < 8; k++) EXPECT_EQ(get_nbr_scale(sides[k]), scales[k]) << sides[k];
  MultiResol mr(256, 512, 0, TO_PAVE_BSPLINE, "default");
  EXPECT_EQ(mr.nbr_scale(), 6);
}

TEST(MultiResolLayout, MallatBandsOfAnOddImage) {
  MultiResol mr(5, 7, 2, TO_MALLAT, "mallat");
  ASSERT_EQ(mr.nbr_band(), 4);
  const int nl[] = {3, 2, 2, 3}, nc[] = {3, 4, 3, 4};
  for (int b = 0; b < 4; b++) {
    EXPECT_EQ(mr.size_band_nl(b), nl[b]) << b;
    EXPECT_EQ(mr.size_band_nc(b), nc[b]) << b;
  }
  EXPECT_EQ(mr.NbrCoeffDetail, 9 + 8 + 6);
}

// Line-column: line scales from the column count and column scales from the
// line count when not given, every band of the image's size.
TEST(MultiResolLayout, LineColumnBands) {
  MultiResol lc(64, 12, 0, TO_LC, "line-column");
  EXPECT_EQ(lc.NbrScaleY, 3);  // get_nbr_scale(12)
  EXPECT_EQ(lc.NbrScaleX, 4);  // get_nbr_scale(64)
  ASSERT_EQ(lc.nbr_band(), 3 * 4);
  EXPECT_EQ(lc.NbrBandPerResol, 4);
  for (int b = 0; b < lc.nbr_band(); b++) {
    EXPECT_EQ(lc.size_band_nl(b), 64);
    EXPECT_EQ(lc.size_band_nc(b), 12);
  }
  EXPECT_EQ(lc.NbrCoeffDetail, 11 * 64 * 12);
}

TEST(MultiResolLayout, FeauveauAndDiadicBands) {
  MultiResol feau(5, 7, 2, TO_FEAUVEAU, "feauveau");
  ASSERT_EQ(feau.nbr_band(), 3);
  const int nl[] = {5, 2, 3}, nc[] = {3, 4, 4};
  for (int b = 0; b < 3; b++) {
    EXPECT_EQ(feau.size_band_nl(b), nl[b]);
    EXPECT_EQ(feau.size_band_nc(b), nc[b]);
  }
  // Four diadic scales count 7 bands although 8 images exist.
  MultiResol diadic(8, 8, 4, TO_DIADIC_MALLAT, "diadic");
  EXPECT_EQ(diadic.nbr_band(), 7);
  EXPECT_EQ(diadic.TabBand[7].n_elem(), 64);
  EXPECT_EQ(diadic.band_to_scale(6), 4);
  EXPECT_EQ(diadic.NbrCoeffDetail, 6 * 64);
}

TEST(MultiResolLayout, PyramidAndHalfPyramidSizes) {
  MultiResol pyr(5, 7, 3, TO_PYR_BSPLINE, "pyr");
  MultiResol half(5, 7, 3, TO_SEMI_PYR, "half");
  const int pyr_nl[] = {5, 3, 2}, pyr_nc[] = {7, 4, 2};
  const int half_nl[] = {5, 5, 3}, half_nc[] = {7, 7, 4};
  for (int b = 0; b < 3; b++) {
    EXPECT_EQ(pyr.band(b).nl(), pyr_nl[b]);
    EXPECT_EQ(pyr.band(b).nc(), pyr_nc[b]);
    EXPECT_EQ(half.band(b).nl(), half_nl[b]);
    EXPECT_EQ(half.band(b).nc(), half_nc[b]);
  }
}

TEST(MultiResolLayout, CoefficientIndexWalksTheBands) {
  MultiResol mr(5, 7, 2, TO_MALLAT, "walk");
  mr.band(1)(0, 0) = 42.f;
  EXPECT_EQ(mr(mr.nbr_coeff_in_band(0)), 42.f);
  int s, i, j;
  details d;
  mr.pos_coeff(9 + 8 + 6 + 5, s, i, j, d);
  EXPECT_EQ(d, DetailSmooth);
  EXPECT_EQ(i, 1);
  EXPECT_EQ(j, 1);
  // A bordered read above the first row under the clamp rule reads row 0.
  mr.band(0)(0, 2) = 3.f;
  EXPECT_EQ(mr(0, -1, 2, I_CONT), 3.f);
}

TEST(BandScaleMap, FamiliesMapBandsBothWays) {
  int s;
  details d;
  EXPECT_EQ(band2scale(9, TO_MALLAT, 10, s, d), TRANSF_MALLAT);
  EXPECT_EQ(s, 2);
  EXPECT_EQ(d, DetailSmooth);
  band2scale(5, TO_MALLAT, 10, s, d);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(d, DetailDiag);
  band2scale(4, TO_MALLAT, 10, s, d);
  EXPECT_EQ(d, DetailSecond);
  EXPECT_EQ(scale2band(3, TO_MALLAT, 10, DetailSmooth), 9);
  EXPECT_EQ(scale2band(1, TO_MALLAT, 10, DetailSecond), 4);
  band2scale(6, TO_DIADIC_MALLAT, 7, s, d);
  EXPECT_EQ(s, 4);
  EXPECT_EQ(d, DetailSmooth);
  EXPECT_EQ(scale2band(4, TO_DIADIC_MALLAT, 7, DetailFirst), 6);
  band2scale(3, TO_FEAUVEAU, 5, s, d);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(d, DetailFeauSecond);
  band2scale(4, TO_FEAUVEAU, 5, s, d);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(d, DetailSmooth);
  band2scale(3, TO_PYR_BSPLINE, 5, s, d);
  EXPECT_EQ(s, 3);
  EXPECT_EQ(d, DetailNone);
  // Every band of a Mallat array maps back to itself.
  for (int b = 0; b < 10; b++) {
    band2scale(b, TO_UNDECIMATED_MALLAT, 10, s, d);
    EXPECT_EQ(scale2band(s, TO_UNDECIMATED_MALLAT, 10, d), b);
  }
}

TEST(BandNorms, StartUpTablesMatchTheirClosedForms) {
  for (int s = 0; s < 10; s++) {
    EXPECT_DOUBLE_EQ(TabNormDiadicHaar[s], 1. / std::sqrt(2.) / std::pow(2., s));
    EXPECT_DOUBLE_EQ(TabNormUndecimatedMallat[s], TabNormDiadicHaar[s]);
  }
  EXPECT_DOUBLE_EQ(TabNormDiadicHaar[9], 0.0013810679320049755);
  EXPECT_DOUBLE_EQ(TabNormUndecNonOrth_B3SPLINE_HOR[7], 0.001366203068755567);
  EXPECT_NE(TabNormUndecNonOrth_B3SPLINE_HOR[7], 0.0437185 / 32);
  EXPECT_DOUBLE_EQ(TabNormUndecNonOrth_B3SPLINE_DIAG[9], 0.00024738514912314713);
  EXPECT_DOUBLE_EQ(TabNormUndecNonOrth_B3SPLINE_HOR[2], 0.0437185);
}

TEST(BandNorms, TableChoiceByTypeAndKind) {
  EXPECT_EQ(mr_scale_norm(10, TO_PAVE_BSPLINE, 5, DetailNone, U_B3SPLINE), 1.);
  EXPECT_EQ(mr_scale_norm(7, TO_PAVE_BSPLINE, 5, DetailNone, U_B3SPLINE), 0.);
  EXPECT_DOUBLE_EQ(mr_scale_norm(0, TO_UNDECIMATED_NON_ORTHO, 5, DetailDiag, U_HARR_B3SPLINE_POS),
                   1.06 / (2. * std::sqrt(2.)));
  EXPECT_EQ(mr_scale_norm(1, TO_PYR_MEYER, 5, DetailNone, U_B3SPLINE), 0.65);
}

// Standard deviation of each detail band of a transform of unit white
// noise, against the type's norm.
void expect_norms_match_noise(type_transform type, int nbr_scale, double tolerance) {
  Image noise = normal_image(256, 256, 1234u);
  MultiResol mr(256, 256, nbr_scale, type, "noise");
  mr.transform(noise, I_MIRROR, True);
  for (int b = 0; b < mr.nbr_band() - 1; b++) {
    const double measured = mr.band(b).sigma();
    EXPECT_NEAR(measured / mr.band_norm(b), 1., tolerance) << StringTransform(type) << " band " << b;
  }
}

TEST(BandNorms, MatchSimulatedWhiteNoise) {
  expect_norms_match_noise(TO_PAVE_BSPLINE, 4, 0.05);
  expect_norms_match_noise(TO_PAVE_LINEAR, 4, 0.05);
  expect_norms_match_noise(TO_MALLAT, 3, 0.1);
  expect_norms_match_noise(TO_UNDECIMATED_NON_ORTHO, 3, 0.05);
  expect_norms_match_noise(TO_PAVE_HAAR, 4, 0.05);
  expect_norms_match_noise(TO_PYR_BSPLINE, 4, 0.05);
  expect_norms_match_noise(TO_PAVE_FFT, 3, 0.05);
  expect_norms_match_noise(TO_PYR_MEYER, 4, 0.05);
  expect_norms_match_noise(TO_PYR_MEYER_ISOTROP, 4, 0.05);
}

TEST(MultiResolLevels, DetectionLevelAndThreshold) {
  MultiResol mr(16, 16, 3, TO_PAVE_BSPLINE, "levels");
  EXPECT_FLOAT_EQ(mr.gauss_detect_level(0, 2.f, 3.f), static_cast<float>(4 * 0.889434 * 2.f));
  EXPECT_FLOAT_EQ(mr.gauss_detect_level(1, 2.f, 3.f), static_cast<float>(3 * 0.200105 * 2.f));
  for (int b = 0; b < 3; b++) mr.band(b).init(-100.f);
  mr.threshold(1.f, 3.f, False);
  EXPECT_EQ(mr.band(0).maxfabs(), 0.f);
  EXPECT_EQ(mr.band(1).maxfabs(), 0.f);
  EXPECT_EQ(mr.band(2)(0, 0), -100.f);
}

TEST(MultiResolLevels, NormOfAnAllZeroBandIsZero) {
  Image zero(4, 5);
  norm_abs_imag(zero, 1.f, True);
  for (int k = 0; k < zero.n_elem(); k++) EXPECT_EQ(zero(k), 0.f);
  Image ima = image_row<float>({-2.f, 1.f, 4.f});
  norm_abs_imag(ima, 2.f, False);
  EXPECT_FLOAT_EQ(ima(0), -1.f);
  EXPECT_FLOAT_EQ(ima(2), 2.f);
}

TEST(MultiResolRefusals, BadTypesAndBandsEndWithMinusOne) {
  EXPECT_EXIT_STATUS(SetTransform(T_UNDEFINED), 255, "Error: bad parameter Transform");
  EXPECT_EXIT_STATUS(SetTransform(static_cast<type_transform>(31)), 255,
                     "Error: bad parameter Transform");
  EXPECT_EXIT_STATUS(MultiResol(16, 16, 3, TC_FCT, "fcur"), 255, "not available");
  MultiResol mr(8, 8, 3, TO_PAVE_BSPLINE, "refuse");
  EXPECT_EXIT_STATUS(mr.test_band(3), 255, "error: Bad band number :  4");
  Image wrong(4, 8);
  EXPECT_EXIT_STATUS(mr.insert_band(wrong, 0), 255, "unable to insert band");
  to_array<float, false>* mod = nullptr;
  EXPECT_EXIT_STATUS(mr.compute_mod_phase(mod, mod), 255, "Not implemented");
  EXPECT_EXIT_STATUS(scale2band(0, TO_MALLAT, 4, DetailNone), 255, "details is not correct");
}

TEST(MultiResolBands, InsertAndExtractCopy) {
  MultiResol mr(6, 5, 3, TO_PAVE_LINEAR, "copy");
  Image ima = coded_image(6, 5);
  mr.insert_scale(ima, 1, DetailNone);
  Image out = mr.extract_band(1);
  EXPECT_EQ(qz_test::max_abs_difference(out, ima), 0.);
  EXPECT_EQ(out.name(), "extract");
}

}  // namespace

namespace {

TEST(MultiResolReport, PrintInfoNamesTheFilterSetAndNorm) {
  // Without a filter description of its own the container takes the 7/9
  // set with L1 norms; a caller's description keeps the norm asked for.
  MultiResol own;
  own.alloc(16, 16, 3, TO_MALLAT, nullptr, NORM_L2, -1, U_B3SPLINE_2);
  EXPECT_EQ(own.TypeNorm, NORM_L1);
  FilterAnaSynt description(F_MALLAT_7_9);
  MultiResol mr;
  mr.alloc(16, 16, 3, TO_MALLAT, &description, NORM_L2, -1, U_B3SPLINE_2);
  testing::internal::CaptureStdout();
  mr.print_info();
  const std::string text = testing::internal::GetCapturedStdout();
  EXPECT_NE(text.find("Transform = Mallat's wavelet transform (7/9 filters)\n"), std::string::npos);
  EXPECT_NE(text.find("Biorthogonal 7/9 filters\nL2 normalization\n"), std::string::npos);
  EXPECT_NE(text.find("Number of scales = 3\nInput image size: 16 16\n"), std::string::npos);
  // With L2 filters the band norms of the Mallat types are 1.
  EXPECT_EQ(mr.band_norm(0), 1.);
}

}  // namespace

namespace {

TEST(MultiResolAdjoint, PlainReconstructionWithOneWarning) {
  Image ima = random_image(16, 16, 40u), rec, plain;
  MultiResol mr(16, 16, 3, TO_PAVE_LINEAR, "adjoint");
  mr.transform(ima);
  mr.recons(plain);
  testing::internal::CaptureStdout();
  mr.rec_adjoint(rec, True, I_CONT);
  mr.rec_adjoint(rec, True, I_CONT);
  const std::string text = testing::internal::GetCapturedStdout();
  EXPECT_EQ(text, "Warning: adjoint reconstruction operator not implemeted \n"
                  "         use a simple reconstruction ... \n");
  EXPECT_EQ(qz_test::max_abs_difference(rec, plain), 0.);
  // Without the last scale, the smooth band leaves the sum.
  Image smooth = mr.band(2);
  mr.rec_adjoint(rec, False, I_CONT);
  for (int k = 0; k < rec.n_elem(); k++) EXPECT_NEAR(rec(k), plain(k) - smooth(k), 1e-4);
}

}  // namespace

namespace {

TEST(MultiResolLevels, ModulusAndPhaseCoverEveryColumn) {
  Image ima = random_image(8, 12, 41u);
  MultiResol mr(8, 12, 3, TO_DIADIC_MALLAT, "mod");
  mr.transform(ima, I_CONT, True);
  to_array<float, false>* mod = new to_array<float, false>[2];
  to_array<float, false>* pha = new to_array<float, false>[2];
  for (int s = 0; s < 2; s++) {
    mod[s].alloc(8, 12);
    pha[s].alloc(8, 12);
  }
  mr.compute_mod_phase(mod, pha);
  const float a = mr.band(2)(7, 11), b = mr.band(3)(7, 11);
  EXPECT_FLOAT_EQ(mod[1](7, 11), std::sqrt(a * a + b * b));
  EXPECT_FLOAT_EQ(pha[1](7, 11), std::atan2(b, a));
  delete[] mod;
  delete[] pha;
}

}  // namespace
