// Fourier translations against circular rolls and shifted cosines, quarter
// turns against index formulas, and the three rotations against the rotated
// centroid of a blob.
#include "numerics/rotation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/capture.h"
#include "support/test_images.h"

namespace {

const double Pi = 3.14159265358979323846;

int wrap(int i, int n) { return ((i % n) + n) % n; }

// Gaussian blob of width 2 centred at column x0, line y0.
to_array<float, false> blob(int n, double x0, double y0) {
  to_array<float, false> ima(n, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      ima(i, j) = static_cast<float>(std::exp(-((j - x0) * (j - x0) + (i - y0) * (i - y0)) / 8.0));
  return ima;
}

// Expects the centroid of ima at (x0, y0) turned by angle (radians) about (c, c), then shifted.
void expect_turned_centroid(const to_array<float, false>& ima, double x0, double y0, double angle,
                            double c, double dx = 0, double dy = 0) {
  double total = 0., sx = 0., sy = 0.;
  for (int i = 0; i < ima.nl(); i++)
    for (int j = 0; j < ima.nc(); j++) {
      total += ima(i, j);
      sx += j * ima(i, j);
      sy += i * ima(i, j);
    }
  EXPECT_NEAR(sx / total, c + std::cos(angle) * (x0 - c) - std::sin(angle) * (y0 - c) + dx, 0.05);
  EXPECT_NEAR(sy / total, c + std::sin(angle) * (x0 - c) + std::cos(angle) * (y0 - c) + dy, 0.05);
}

}  // namespace

TEST(Translate1D, IntegerShiftsRollAndFractionalShiftsMoveThePhase) {
  for (int n : {16, 5, 9})
    for (float s : {1.f, -2.f, static_cast<float>(n), static_cast<float>(n + 2)}) {
      to_array<float, false> line = random_image(1, n, n);
      to_array<float, true> sig(n), original;
      for (int k = 0; k < n; k++) sig(k) = line(k);
      original = sig;
      translate1d(sig, s);
      for (int m = 0; m < n; m++)
        ASSERT_NEAR(sig(m), original(wrap(m + static_cast<int>(s), n)), 1e-5) << n << " by " << s;
    }
  for (int n : {32, 33}) {
    to_array<float, true> sig(n);
    const double freq = 2 * Pi * 3 / n;
    for (int k = 0; k < n; k++) sig(k) = static_cast<float>(std::cos(freq * k + 0.4));
    translate1d(sig, 0.35f);
    for (int m = 0; m < n; m++) EXPECT_NEAR(sig(m), std::cos(freq * (m + 0.35) + 0.4), 1e-5) << n;
  }
}

TEST(Translate2D, IntegerShiftsMoveTheContentForward) {
  for (auto size : {std::pair<int, int>{7, 5}, {8, 6}}) {
    const int nl = size.first, nc = size.second;
    to_array<float, false> ima = random_image(nl, nc, nl * nc), original = ima;
    translate2d(ima, 2.f, -3.f);
    for (int i = 0; i < nl; i++)
      for (int j = 0; j < nc; j++)
        ASSERT_NEAR(ima(i, j), original(wrap(i + 3, nl), wrap(j - 2, nc)), 1e-5) << nl << "x" << nc;
    ima = original;
    translate2d(ima, static_cast<float>(nc), static_cast<float>(-nl));  // a whole period
    for (int k = 0; k < nl * nc; k++) ASSERT_NEAR(ima(k), original(k), 1e-5);
  }
  const int nl = 15, nc = 20;  // fractional shift of a plane wave
  to_array<float, false> ima(nl, nc);
  auto wave = [&](double x, double y) { return std::cos(2 * Pi * (2 * x / nc + 3 * y / nl) + 1.0); };
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) ima(i, j) = static_cast<float>(wave(j, i));
  translate2d(ima, 0.25f, 1.5f);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) ASSERT_NEAR(ima(i, j), wave(j - 0.25, i - 1.5), 1e-5);
}

TEST(Rotation, QuarterTurnsFollowTheIndexFormulas) {
  Rotation rot;
  const int nl = 4, nc = 7;
  to_array<float, false> in = random_image(nl, nc, 4), out;
  for (int k = -5; k <= 8; k++) {
    rot.im_rot90(in, out, k);
    const int r = wrap(k, 4);
    ASSERT_EQ(out.nl(), r % 2 ? nc : nl);
    ASSERT_EQ(out.nc(), r % 2 ? nl : nc);
    for (int i = 0; i < nl; i++)
      for (int j = 0; j < nc; j++) {
        const float got = r % 2 ? out(j, i) : out(i, j);
        const float expected = r == 0   ? in(i, j)
                               : r == 1 ? in(nl - 1 - i, j)
                               : r == 2 ? in(nl - 1 - i, nc - 1 - j)
                                        : in(i, nc - 1 - j);
        ASSERT_EQ(got, expected) << "k " << k << " at " << i << "," << j;
      }
  }
}

TEST(Rotation, ShearRotationOfAQuarterTurnIsTheQuarterTurn) {
  Rotation rot;
  rot.Verbose = 1;
  to_array<float, false> in = random_image(12, 12, 6), out, expected, copy = in;
  EXPECT_EQ(qz_test::stdout_of([&] { rot.im_rotate(in, out, 90.f); }),
            "NRot 90 degrees = 1\nim_shear x\nim_shear y\nim_shear x\n");
  rot.im_rot90(in, expected, 1);
  for (int k = 0; k < in.n_elem(); k++) ASSERT_NEAR(out(k), expected(k), 1e-5);
  rot.im_shear(copy, 'z', 0.7f);  // unknown axes leave the image alone
  for (int k = 0; k < in.n_elem(); k++) ASSERT_EQ(copy(k), in(k));
}

TEST(Rotation, AllRotationsTurnABlobTheSameWay) {
  const int n = 64;
  const double x0 = 40, y0 = 24, rad = 30.0 * Pi / 180.;
  Rotation rot;
  to_array<float, false> in = blob(n, x0, y0), out, degrees_out(n, n);
  rot.im_rotate(in, out, 30.f);
  expect_turned_centroid(out, x0, y0, rad, 31.5);  // quarter turns of an even side pivot at (n-1)/2
  rot.im_move_rotate_bilinear(in, out, 30.f, 0.f, 0.f);
  expect_turned_centroid(out, x0, y0, rad, 32);
  rot.im_move_rotate(in, out, 30.f, 2.f, -3.f);
  expect_turned_centroid(out, x0, y0, rad, 32, 2, -3);
  // Radians give the same turn as degrees.
  in = blob(n, x0, y0);
  rot.im_move_rotate(in, degrees_out, 90.f, 0.f, 0.f);
  rot.AngleInRadian = 1;
  in = blob(n, x0, y0);
  rot.im_move_rotate(in, out, static_cast<float>(Pi / 2), 0.f, 0.f);
  for (int k = 0; k < out.n_elem(); k++) ASSERT_NEAR(out(k), degrees_out(k), 1e-5);
  // A turn of 0 reproduces the image at any degree, which the object keeps,
  // and leaves the input holding its spline coefficients.
  to_array<float, false> original = blob(n, x0, y0);
  in = original;
  rot.im_move_rotate_spline(in, out, 0.f, 0.f, 0.f, 5);
  EXPECT_EQ(rot.SplineDegree, 5);
  for (int k = 0; k < out.n_elem(); k++) ASSERT_NEAR(out(k), original(k), 2e-6);
  EXPECT_GT(in(24, 40), 1.1f * original(24, 40));  // a peak sharpened by the prefilter
}

TEST(Rotation, BilinearShiftsWrapOnce) {
  Rotation rot;
  to_array<float, false> in = random_image(6, 8, 12), out;
  rot.im_move_rotate_bilinear(in, out, 0.f, 1.f, 0.f);
  for (int i = 0; i < 6; i++)
    for (int j = 0; j < 8; j++) ASSERT_FLOAT_EQ(out(i, j), in(i, wrap(j - 1, 8)));
  rot.im_move_rotate_bilinear(in, out, 0.f, 0.f, 0.5f);
  for (int i = 1; i < 6; i++)
    for (int j = 0; j < 8; j++) ASSERT_FLOAT_EQ(out(i, j), 0.5f * (in(i - 1, j) + in(i, j)));
}
