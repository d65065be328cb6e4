// The Meyer transform in Fourier space: the window's identities, the plane
// sizes, the tight-frame property (squared windows sum to one, Parseval) and
// the round trip in every form, and the taper of the extended form.
#include "multires/meyer_wt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Plane = MEYER_WT::Plane;

double plane_energy(const Plane& p) {
  double e = 0.;
  for (int k = 0; k < p.n_elem(); k++) e += std::norm(std::complex<double>(p(k)));
  return e;
}

double image_energy(const to_array<float, false>& ima) {
  double e = 0.;
  for (int k = 0; k < ima.n_elem(); k++) e += double(ima(k)) * ima(k);
  return e;
}

TEST(MeyerWindow, ExactValuesAndComplementarity) {
  EXPECT_EQ(MEYER_WT::lowpass_window(0.), 0.);
  EXPECT_EQ(MEYER_WT::lowpass_window(1.), 1.);
  EXPECT_NEAR(MEYER_WT::lowpass_window(0.5), 0.7071067811865475, 1e-15);
  EXPECT_NEAR(MEYER_WT::lowpass_window(0.25), 0.0838389, 1e-7);
  double previous = 0.;
  for (int k = 1; k < 1000; k++) {
    const double x = k / 1000.;
    const double w = MEYER_WT::lowpass_window(x), v = MEYER_WT::lowpass_window(1. - x);
    EXPECT_NEAR(w * w + v * v, 1., 1e-14) << x;
    EXPECT_GE(w, previous) << x;
    previous = w;
  }
}

TEST(MeyerWindow, ArgumentsPastTheDomainAreClamped) {
  // The taper of a 256 image with extension reads x = 1.0039 at its last
  // sample; the unclamped formula gives 0 there.
  EXPECT_EQ(MEYER_WT::lowpass_window(1.0039), 1.);
  EXPECT_EQ(MEYER_WT::lowpass_window(-0.01), 0.);
}

struct SizeCase {
  int n;
  Bool extend, odd;
  int sizes[4];
};

TEST(MeyerSizes, PlaneSizesOfTheExamples) {
  const SizeCase cases[] = {{256, False, False, {256, 128, 64, 32}},
                            {255, False, False, {255, 128, 64, 32}},
                            {257, False, True, {257, 129, 65, 33}},
                            {256, True, False, {341, 171, 85, 43}},
                            {257, True, False, {343, 171, 85, 43}}};
  for (const SizeCase& c : cases) {
    MEYER_WT wt;
    wt.init(4, c.n, c.n, c.extend, False, c.odd);
    for (int s = 0; s < 4; s++) {
      EXPECT_EQ(wt.nls(s), c.sizes[s]) << c.n << " scale " << s;
      EXPECT_EQ(wt.ncs(s), c.sizes[s]) << c.n << " scale " << s;
    }
  }
  MEYER_WT ext;
  ext.init(4, 256, 256, True, False, False);
  EXPECT_NEAR(ext.nld(), 341.3333333, 1e-6);
}

TEST(MeyerSizes, IsotropicFormDropsTheExtension) {
  MEYER_WT wt;
  wt.Verbose = True;
  testing::internal::CaptureStdout();
  wt.init(3, 64, 64, True, True, False);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(wt.extend(), False);
  EXPECT_EQ(wt.nls(0), 64);
  EXPECT_NE(out.find("   Use isotropic wavelets "), std::string::npos);
}

// A spectrum of ones split into planes: the squares of every plane's values,
// gathered back at their frequencies, add up to one everywhere.
TEST(MeyerFrame, SquaredScaleWindowsSumToOne) {
  for (Bool isotrop : {False, True}) {
    MEYER_WT wt;
    wt.init(5, 64, 80, False, isotrop, False);
    Plane ones(64, 80);
    ones.init(std::complex<float>(1.f, 0.f));
    wt.transform_cf(ones, wt.TabWT);
    to_array<double, false> sum(64, 80);
    for (int s = 0; s < 5; s++) {
      const int a = wt.nls(s), b = wt.ncs(s);
      for (int i = 0; i < a; i++)
        for (int j = 0; j < b; j++)
          sum(i - a / 2 + 32, j - b / 2 + 40) += std::norm(wt.TabWT[s](i, j));
    }
    for (int k = 0; k < sum.n_elem(); k++) ASSERT_NEAR(sum(k), 1., 1e-6) << k;
  }
}

struct RoundTripCase {
  int nl, nc, scales;
  Bool extend, isotrop, odd;
};

TEST(MeyerFrame, ParsevalAndRoundTripWithoutExtension) {
  const RoundTripCase cases[] = {{64, 64, 4, False, False, False}, {63, 80, 4, False, False, False},
                                 {65, 65, 5, False, False, True},  {64, 64, 4, False, True, False},
                                 {57, 73, 3, False, True, False},  {64, 64, 1, False, False, False}};
  for (const RoundTripCase& c : cases) {
    MEYER_WT wt;
    wt.init(c.scales, c.nl, c.nc, c.extend, c.isotrop, c.odd);
    to_array<float, false> ima = random_image(c.nl, c.nc, 7);
    wt.transform(ima);
    double e = 0.;
    for (int s = 0; s < c.scales; s++) e += plane_energy(wt.TabWT[s]);
    EXPECT_NEAR(e / image_energy(ima), 1., 1e-5) << c.nl << "x" << c.nc;
    to_array<float, false> rec(c.nl, c.nc);
    wt.recons(rec);
    EXPECT_LT(qz_test::relative_l2_error(rec.buffer(), ima.buffer(), ima.n_elem()), 1e-5)
        << c.nl << "x" << c.nc << " isotrop " << c.isotrop;
  }
}

TEST(MeyerFrame, OneScaleKeepsTheSpectrum) {
  MEYER_WT wt;
  wt.init(1, 32, 32);
  to_array<float, false> ima = random_image(32, 32, 3);
  wt.transform(ima);
  MEYER_WT::Plane spectrum;
  wt.get_extFourier(ima, spectrum);
  EXPECT_EQ(qz_test::max_abs_difference(wt.TabWT[0], spectrum), 0.);
}

TEST(MeyerFrame, RealBandsRoundTrip) {
  MEYER_WT wt;
  wt.init(4, 64, 64);
  to_array<float, false> ima = random_image(64, 64, 11);
  to_array<float, false>* bands = nullptr;
  wt.transform(ima, bands, True);
  ASSERT_NE(bands, nullptr);
  EXPECT_EQ(bands[3].nl(), 8);
  to_array<float, false> rec;
  wt.recons(bands, rec, True);
  // The bands keep only the real parts of the planes, so the round trip is
  // the projection on real planes: a real image's planes are Hermitian,
  // their inverse FFTs real, and nothing is lost.
  EXPECT_LT(qz_test::relative_l2_error(rec.buffer(), ima.buffer(), ima.n_elem()), 1e-5);
  delete[] bands;
}

// With the extension the taper must be 1 over the middle of the grid and
// rise to it without zeroing whole rows and columns of the spectrum.
TEST(MeyerExtension, TaperHasNoZeroRowsInside) {
  MEYER_WT wt;
  wt.init(4, 256, 256, True, False, False);
  to_array<float, false> taper(wt.nls(0), wt.ncs(0));
  wt.get_hfilter(taper, wt.nld(), wt.ncd());
  const int n = taper.nl(), c = n / 2;
  EXPECT_EQ(taper(c, c), 1.f);
  // Sample 85 is the last of the rise (x = 1.0039 before clamping).
  EXPECT_EQ(taper(85, c), 1.f);
  EXPECT_EQ(taper(n - 1 - 85, c), 1.f);
  for (int i = 1; i < n - 1; i++) EXPECT_GT(taper(i, c), 0.f) << i;
}

// The taper and the folding of the periodic copies are adjoint and their
// squares add up to one: the extended form is a tight frame too. Before the
// taper read 1 at its last samples, 64 and 256 lost whole frequency lines.
TEST(MeyerExtension, RoundTripAndParseval) {
  const RoundTripCase cases[] = {{64, 64, 4, True, False, False}, {65, 65, 4, True, False, False},
                                 {63, 80, 3, True, False, False}, {256, 256, 4, True, False, False}};
  for (const RoundTripCase& c : cases) {
    MEYER_WT wt;
    wt.init(c.scales, c.nl, c.nc, True, False, False);
    to_array<float, false> ima = random_image(c.nl, c.nc, 17);
    wt.transform(ima);
    double e = 0.;
    for (int s = 0; s < c.scales; s++) e += plane_energy(wt.TabWT[s]);
    EXPECT_NEAR(e / image_energy(ima), 1., 1e-5) << c.nl << "x" << c.nc;
    to_array<float, false> rec(c.nl, c.nc);
    wt.recons(rec);
    EXPECT_LT(qz_test::relative_l2_error(rec.buffer(), ima.buffer(), ima.n_elem()), 1e-5)
        << c.nl << "x" << c.nc;
  }
}

void transform_without_init() {
  MEYER_WT wt;
  Plane tf(8, 8);
  wt.transform_cf(tf, wt.TabWT);
}
void inverse_of_wrong_plane() {
  MEYER_WT wt;
  wt.init(2, 16, 16);
  Plane tf(15, 16);
  to_array<float, false> out(16, 16);
  wt.get_IFFT_Ima(tf, out);
}
void transform_of_even_image_in_odd_mode() {
  MEYER_WT wt;
  wt.init(2, 17, 17, False, False, True);
  to_array<float, false> ima(16, 16);
  wt.transform(ima);
}

TEST(MeyerDeathTest, UninitialisedAndBadSizes) {
  EXPECT_EXIT_STATUS(transform_without_init(), 255, "TabWT has not been initialized");
  EXPECT_EXIT_STATUS(inverse_of_wrong_plane(), 255, "bad image size in get_IFFT_Ima");
  EXPECT_EXIT_STATUS(transform_of_even_image_in_odd_mode(), 255, "bad image size");
}

}  // namespace
