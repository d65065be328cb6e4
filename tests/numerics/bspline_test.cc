// B-spline interpolation: exact at the samples, reproduction of polynomials
// of the spline's degree, mirror symmetry at the borders, the initial values
// of the prefilter against direct sums, and resampling under shifts and turns.
#include "numerics/bspline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/test_images.h"
#include "support/death.h"

namespace {

BSPLINE_DEC spline(int degree) {
  BSPLINE_DEC s;
  s.SplineDegree = degree;
  return s;
}

}  // namespace

TEST(BSpline, ExactAtTheSamplesAndOnConstants) {
  for (int degree = 2; degree <= 5; degree++) {
    to_array<float, false> ima = random_image(13, 17, degree), coeff = ima, flat(6, 9);
    BSPLINE_DEC s = spline(degree);
    s.SamplesToCoefficients(coeff);
    for (int i = 0; i < 13; i++)
      for (int j = 0; j < 17; j++)
        ASSERT_NEAR(s.InterpolatedValue(coeff, j, i), ima(i, j), 2e-6) << degree << " at " << i << "," << j;
    flat.init(4.5f);
    s.SamplesToCoefficients(flat);
    for (int k = 0; k < flat.n_elem(); k++) ASSERT_NEAR(flat(k), 4.5f, 1e-5) << degree;
  }
}

TEST(BSpline, ReproducesPolynomialsOfItsDegreeAwayFromTheBorders) {
  // a(x)·b(y) + c(x) with a, b, c of the spline's degree, scaled to stay near 1
  // so that single-precision coefficients keep the accuracy.
  const int n = 64;
  for (int degree = 2; degree <= 5; degree++) {
    auto poly = [degree](double t, double shift) {
      double u = (t - shift) / 32.0, p = 1.0;
      for (int k = 0; k < degree; k++) p *= u;
      return p + 0.5 * u - 0.25;
    };
    auto f = [&](double x, double y) { return poly(x, 20.0) * poly(y, 40.0) + poly(x, 50.0); };
    to_array<float, false> coeff(n, n);
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) coeff(i, j) = static_cast<float>(f(j, i));
    BSPLINE_DEC s = spline(degree);
    s.SamplesToCoefficients(coeff);
    for (double y = 28.0; y < 36.0; y += 0.7)
      for (double x = 27.3; x < 37.0; x += 0.45)
        ASSERT_NEAR(s.InterpolatedValue(coeff, x, y), f(x, y), 2e-5) << degree << " at " << x << "," << y;
  }
}

TEST(BSpline, MirrorBordersAndLengthOneAxes) {
  // On 4 samples the window indices -2 .. 5 read 2, 1, 0, 1, 2, 3, 2, 1.
  for (int degree = 2; degree <= 5; degree++) {
    to_array<float, false> coeff = random_image(1, 4, 10 + degree);
    BSPLINE_DEC s = spline(degree);
    s.SamplesToCoefficients(coeff);
    auto at = [&](double x) { return s.InterpolatedValue(coeff, x, 0.0); };
    for (double x : {0.3, 1.0, 1.7, 2.0}) {
      EXPECT_NEAR(at(-x), at(x), 1e-6);
      EXPECT_NEAR(at(3.0 + x), at(3.0 - x), 1e-6);
    }
    EXPECT_NEAR(at(5.0), at(1.0), 1e-6);
  }
  // A 1 x 1 image is left alone and read everywhere; a single line is
  // filtered along the row only.
  to_array<float, false> single(1, 1), line = random_image(1, 8, 4), coeff = line;
  single(0, 0) = 3.f;
  BSPLINE_DEC s;
  s.SamplesToCoefficients(single);
  EXPECT_EQ(single(0, 0), 3.f);
  EXPECT_NEAR(s.InterpolatedValue(single, 7.3, -2.1), 3.0, 1e-6);
  s.SamplesToCoefficients(coeff);
  for (int j = 0; j < 8; j++) EXPECT_NEAR(s.InterpolatedValue(coeff, j, 5.0), line(0, j), 2e-6);
}

TEST(BSpline, InitialValuesMatchDirectSums) {
  BSPLINE_DEC s;
  std::vector<double> c = {0.0, 0.0, 1.0, 2.0};
  EXPECT_NEAR(s.InitialAntiCausalCoefficient(c.data(), 4, 0.5), -5.0 / 3.0, 1e-15);
  // The exact causal value is Σ z^k c̃[k] over the mirror-periodic extension.
  const double z = std::sqrt(3.0) - 2.0;
  for (long n : {2L, 3L, 7L, 20L}) {
    std::vector<double> v(n);
    for (long k = 0; k < n; k++) v[k] = std::cos(1.3 * k) + 0.1 * k;
    double direct = 0.0, zk = 1.0;
    const long period = 2 * n - 2;
    for (long k = 0; k < 400; k++, zk *= z) {
      const long m = k % period;
      direct += zk * v[m < n ? m : period - m];
    }
    EXPECT_NEAR(s.InitialCausalCoefficient(v.data(), n, z, 0.0), direct, 1e-12) << n;
    EXPECT_NEAR(s.InitialCausalCoefficient(v.data(), n, z, 1e-9), direct, 1e-8) << n;
  }
}

TEST(BSpline, ShiftsAndQuarterTurnsOfTheCoefficients) {
  const int n = 9;
  to_array<float, false> ima = random_image(n, n, 21), coeff = ima, out(n, n);
  BSPLINE_DEC s;
  s.SamplesToCoefficients(coeff);
  auto resample = [&](double angle, double dx) {
    s.shift_rotation_from_spline_coeff(coeff.buffer(), out.buffer(), n, n, angle, dx, 0.0, 4.0, 4.0);
  };
  // Shift by one column: column 0 reads column 1 by mirror symmetry, or 0 masked.
  for (int masking : {0, 1}) {
    s.Masking = masking;
    resample(0.0, 1.0);
    for (int i = 0; i < n; i++) {
      EXPECT_NEAR(out(i, 0), masking ? 0.f : ima(i, 1), 2e-6);
      for (int j = 1; j < n; j++) ASSERT_NEAR(out(i, j), ima(i, j - 1), 2e-6);
    }
  }
  s.Masking = 0;
  // A quarter turn about the centre lands on samples: out(x, y) = in(4 - (y - 4), 4 + (x - 4)).
  resample(90.0, 0.0);
  for (int y = 0; y < n; y++)
    for (int x = 0; x < n; x++) ASSERT_NEAR(out(y, x), ima(x, 8 - y), 5e-6) << x << "," << y;
}

TEST(BSpline, ShiftRotationConvertsUnlessGivenCoefficients) {
  to_array<float, false> ima = random_image(6, 5, 8), in = ima, out;
  BSPLINE_DEC s;
  s.shift_rotation(in, out, 0.0, False, 0.0, 0.0, -1, -1);
  ASSERT_EQ(out.nl(), 6);
  ASSERT_EQ(out.nc(), 5);
  for (int k = 0; k < ima.n_elem(); k++) EXPECT_NEAR(out(k), ima(k), 2e-6);
  // The input now holds coefficients and is left as it is when flagged so.
  to_array<float, false> coeff = in;
  s.shift_rotation(in, out, 180.0, True, 0.0, 0.0, -1, -1);
  for (int k = 0; k < ima.n_elem(); k++) EXPECT_EQ(in(k), coeff(k));
  // With the centre as origin (column 2, line 3) a half turn maps (x, y) to (4 - x, 6 - y).
  EXPECT_NEAR(out(3, 2), ima(3, 2), 2e-6);
  EXPECT_NEAR(out(2, 1), ima(4, 3), 2e-6);
  // Into itself: the same result as into another image.
  s.shift_rotation(in, in, 180.0, True, 0.0, 0.0, -1, -1);
  for (int k = 0; k < ima.n_elem(); k++) EXPECT_EQ(in(k), out(k));
}

TEST(BSpline, InvalidDegreeIsReported) {
  BSPLINE_DEC s = spline(6);
  to_array<float, false> ima = random_image(4, 4, 2), copy = ima;
  testing::internal::CaptureStdout();
  EXPECT_EQ(s.SamplesToCoefficients(ima.buffer(), 4, 4), 1);
  EXPECT_EQ(s.InterpolatedValue(ima, 1.0, 1.0), 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid spline degree\nInvalid spline degree\n");
  for (int k = 0; k < 16; k++) EXPECT_EQ(ima(k), copy(k));
  EXPECT_EXIT_STATUS(s.SamplesToCoefficients(ima), 255,
                     "Invalid spline degree\nError: Change of spline basis failed");
}
