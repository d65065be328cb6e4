// Spline zoom: the input samples survive an enlargement, smooth data are
// resampled accurately, and the factor forms size their output.
#include "numerics/im_zoom.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/test_images.h"
#include "support/death.h"

TEST(ImZoom, ZoomToAGivenSizeKeepsTheSamplesAndResamplesSmoothData) {
  to_array<float, false> in = random_image(64, 64, 17, 0.f, 255.f), original = in, out(256, 256);
  im_zoom(in, out);
  for (int i = 0; i < 64; i++)
    for (int j = 0; j < 64; j++) ASSERT_NEAR(out(4 * i, 4 * j), original(i, j), 1e-3) << i << "," << j;
  // A slow wave is interpolated at (j/zx, i/zy) to well below a percent.
  auto f = [](double x, double y) { return std::cos(0.2 * x) * std::sin(0.15 * y + 0.3); };
  to_array<float, false> wave(40, 50), zoomed(120, 100);
  for (int i = 0; i < 40; i++)
    for (int j = 0; j < 50; j++) wave(i, j) = static_cast<float>(f(j, i));
  im_zoom(wave, zoomed);
  for (int i = 10; i < 100; i += 7)
    for (int j = 10; j < 80; j += 5) EXPECT_NEAR(zoomed(i, j), f(j / 2.0, i / 3.0), 2e-3) << i << "," << j;
}

TEST(ImZoom, FactorFormsSizeTheOutputAndSampleHalfAPixelFurther) {
  to_array<float, false> in(10, 10), out, ramp(8, 32);
  in.init(2.f);
  im_zoom(in, out, 2.0, 0.5);
  EXPECT_EQ(out.nl(), 5);
  EXPECT_EQ(out.nc(), 20);
  for (int k = 0; k < out.n_elem(); k++) EXPECT_NEAR(out(k), 2.f, 1e-5);
  // Position j/z + 0.5 on a ramp, linear away from the mirrored borders.
  for (int i = 0; i < 8; i++)
    for (int j = 0; j < 32; j++) ramp(i, j) = static_cast<float>(j);
  im_zoom(ramp, out, 2.0);
  ASSERT_EQ(out.nc(), 64);
  EXPECT_NEAR(out(4, 30), 15.5f, 1e-4);
  EXPECT_NEAR(out(4, 33), 17.0f, 1e-4);
  to_array<float, false> empty;
  EXPECT_EXIT_STATUS(im_zoom(empty, out), 255, "im_zoom of an empty image");
}
