// The noise level that qz_mca estimates for a masked image (-H -g 0): the
// missing pixels are zeros that the median residual would take for noise.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "support/qz_mca_program.h"

namespace {

// Gaussian noise of standard deviation sigma around 100, with a given share
// of the pixels blanked (0) at random places or in 8 x 8 squares.
FitsImage blanked_noise(int n, float sigma, double blank_share, bool squares, unsigned seed) {
  FitsImage ima(n, n);
  std::mt19937 gen(seed);
  std::normal_distribution<float> noise(100.f, sigma);
  std::uniform_real_distribution<double> u(0., 1.);
  for (float& p : ima.pixels) p = noise(gen);
  if (squares) {
    for (int i0 = 0; i0 < n; i0 += 8)
      for (int j0 = 0; j0 < n; j0 += 8)
        if (u(gen) < blank_share)
          for (int i = i0; i < i0 + 8 && i < n; i++)
            for (int j = j0; j < j0 + 8 && j < n; j++) ima.at(i, j) = 0.f;
  } else {
    for (float& p : ima.pixels)
      if (u(gen) < blank_share) p = 0.f;
  }
  return ima;
}

double estimated_noise(const std::string& output) {
  const std::string key = "Estimated Noise = ";
  const size_t at = output.find(key);
  return at == std::string::npos ? -1. : std::atof(output.c_str() + at + key.size());
}

class QzMcaMaskNoise : public QzMcaProgram {};

TEST_F(QzMcaMaskNoise, NoiseOfAMaskedImageComesFromThePresentPixels) {
  struct Case {
    double blank_share;
    bool squares;
  } cases[] = {{0.3, false}, {0.3, true}, {0.1, false}};
  const float sigma = 5.f;
  for (const Case& c : cases) {
    write_fits(path("in.fits"), blanked_noise(128, sigma, c.blank_share, c.squares, 7));
    ASSERT_EQ(run("-t 1 -H -g 0 -i 1 -v in.fits out.fits"), 0) << output_;
    const double estimate = estimated_noise(output_);
    EXPECT_NEAR(estimate, sigma, 0.15 * sigma)
        << "share " << c.blank_share << (c.squares ? " in squares" : " scattered");
  }
}

}  // namespace
