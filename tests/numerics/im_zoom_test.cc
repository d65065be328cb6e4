// Spline zoom: the input samples survive an enlargement, smooth data are
// resampled accurately, and the factor forms size their output.
#include "numerics/im_zoom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "support/death.h"

TEST(ImZoom, ZoomByFourKeepsTheInputSamples) {
  std::mt19937 gen(17);
  std::uniform_real_distribution<float> dist(0.f, 255.f);
  to_array<float, false> in(64, 64), original, out(256, 256);
  for (int k = 0; k < in.n_elem(); k++) in(k) = dist(gen);
  original = in;
  im_zoom(in, out);
  ASSERT_EQ(out.nl(), 256);
  ASSERT_EQ(out.nc(), 256);
  for (int i = 0; i < 64; i++)
    for (int j = 0; j < 64; j++) ASSERT_NEAR(out(4 * i, 4 * j), original(i, j), 1e-3) << i << "," << j;
}

TEST(ImZoom, SmoothImageIsResampledAtTheScaledPositions) {
  // A slow cosine is interpolated to well below a percent of its amplitude.
  auto f = [](double x, double y) { return std::cos(0.2 * x) * std::sin(0.15 * y + 0.3); };
  to_array<float, false> in(40, 50), out(120, 100);
  for (int i = 0; i < 40; i++)
    for (int j = 0; j < 50; j++) in(i, j) = static_cast<float>(f(j, i));
  im_zoom(in, out);
  const double zx = 2.0, zy = 3.0;
  for (int i = 10; i < 100; i += 7)
    for (int j = 10; j < 80; j += 5) EXPECT_NEAR(out(i, j), f(j / zx, i / zy), 2e-3) << i << "," << j;
}

TEST(ImZoom, FactorFormsSizeTheOutput) {
  to_array<float, false> in(10, 10), out;
  in.init(2.f);
  im_zoom(in, out, 2.0, 0.5);
  EXPECT_EQ(out.nl(), 5);
  EXPECT_EQ(out.nc(), 20);
  for (int k = 0; k < out.n_elem(); k++) EXPECT_NEAR(out(k), 2.f, 1e-5);

  // The factor form samples half a pixel further: position j/z + 0.5.
  // A ramp is linear away from the mirrored borders.
  to_array<float, false> ramp(8, 32), ramp_out;
  for (int i = 0; i < 8; i++)
    for (int j = 0; j < 32; j++) ramp(i, j) = static_cast<float>(j);
  im_zoom(ramp, ramp_out, 2.0);
  ASSERT_EQ(ramp_out.nc(), 64);
  EXPECT_NEAR(ramp_out(4, 30), 15.5f, 1e-4);
  EXPECT_NEAR(ramp_out(4, 33), 17.0f, 1e-4);
}

TEST(ImZoom, EmptyInputIsRefused) {
  to_array<float, false> in, out(4, 4);
  EXPECT_EXIT_STATUS(im_zoom(in, out), 255, "im_zoom of an empty image");
}
