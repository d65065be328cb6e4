// Curvelet noise models: the tabulated Gaussian level of a band, the levels
// against the spread of simulated noise, bands beyond the tables (never a
// zero level), MAD levels, noise probabilities, the refusal of a variant
// without norms, and denoising through the ridgelets.
#include <gtest/gtest.h>

#include <cmath>

#include "curvelet/curvelet.h"
#include "numerics/noise_simulation.h"
#include "support/death.h"
#include "support/test_images.h"

namespace {

using Image = to_array<float, false>;

// The MCA's set-up: no odd increment, blocks from 16.
void mca_setup(Curvelet& c, int n, int scales, Bool overlap = True) {
  c.NbrScale2D = scales;
  c.BlockOverlap = overlap;
  c.OddBlockSize = False;
  c.alloc(n, n, 16, False);
}

float band_sigma(Curvelet& c, Image* bands, int b) {
  int s2d, s1d;
  c.get_scale_number(b, s2d, s1d);
  Image band;
  c.get_ridgelet(s2d)->get_scale(bands[s2d], band, s1d);
  return static_cast<float>(band.sigma());
}

TEST(CurveletNoise, GaussianLevelsFromTheTable) {
  Curvelet c;
  mca_setup(c, 64, 4);
  c.set_noise_model_gaussian(3.f, 2.f);
  // Band (0, 0) with blocks of 16: 0.692084 x sqrt(16) x sigma, and one
  // detection unit more than the others.
  EXPECT_FLOAT_EQ(c.sigma_noise(0), 0.692084f * 4.f * 2.f);
  EXPECT_FLOAT_EQ(c.nsigma(0), 4.f);
  EXPECT_FLOAT_EQ(c.max_level(0), 4.f * c.sigma_noise(0));
  EXPECT_FLOAT_EQ(c.min_level(0), -c.max_level(0));
  // Band (1, 1), blocks of 32.
  EXPECT_FLOAT_EQ(c.sigma_noise(4), 0.0853162f * std::sqrt(32.f) * 2.f);
  EXPECT_FLOAT_EQ(c.nsigma(4), 3.f);
  // With variance-normalised ridgelets the block side drops out.
  c.VarNorm = True;
  c.set_noise_model_gaussian(3.f, 2.f);
  EXPECT_FLOAT_EQ(c.sigma_noise(0), 0.692084f * 2.f);
}

// The levels follow the spread of each band on simulated noise (the
// coarsest ridgelet scale of each 2D scale holds the low frequencies of its
// blocks and is not modelled); bands beyond the tables, here those of the
// sixth a trous scale, are measured and never get a zero level.
TEST(CurveletNoise, LevelsFollowSimulatedNoise) {
  struct Case {
    int n, scales;
    Bool overlap;
  } cases[] = {{128, 4, True}, {128, 7, False}};
  for (const Case& k : cases) {
    Curvelet c;
    mca_setup(c, k.n, k.scales, k.overlap);
    c.set_noise_model_gaussian(3.f, 1.f);
    Image noise = normal_image(k.n, k.n, 21);
    Image* bands = nullptr;
    c.transform(noise, bands);
    for (int b = 0; b < c.nbr_band() - 1; b++) {
      int s2d, s1d;
      c.get_scale_number(b, s2d, s1d);
      EXPECT_GT(c.sigma_noise(b), 0.f) << b;
      if (s1d == c.get_ridgelet(s2d)->NbrScale1D - 1) continue;
      const float ratio = band_sigma(c, bands, b) / c.sigma_noise(b);
      const float high = s2d >= 5 ? 2.5f : 1.7f;  // few independent values up there
      EXPECT_GT(ratio, 1.f / high) << k.scales << " band " << b;
      EXPECT_LT(ratio, high) << k.scales << " band " << b;
    }
    delete[] bands;
  }
}

TEST(CurveletNoise, MadLevelsMeasureTheBands) {
  Curvelet c;
  mca_setup(c, 64, 3);
  Image noise = normal_image(64, 64, 4, 3.f);
  Image* bands = nullptr;
  c.transform(noise, bands);
  c.set_noise_model_using_mad(bands, 3.f);
  for (int b = 0; b < c.nbr_band() - 1; b++) {
    // MAD of Gaussian values estimates their standard deviation.
    EXPECT_NEAR(c.sigma_noise(b) / band_sigma(c, bands, b), 1.f, 0.35f) << b;
    EXPECT_FLOAT_EQ(c.nsigma(b), 3.f);  // no extra unit on band 0
  }
  delete[] bands;
}

TEST(CurveletNoise, ProbabilitiesOfTheGaussianModel) {
  Curvelet c;
  mca_setup(c, 32, 3);
  c.set_noise_model_gaussian(3.f, 1.f);
  const float sigma = c.sigma_noise(1);
  EXPECT_EQ(c.prob_noise(0.f, 1), 1.);
  EXPECT_NEAR(c.prob_noise(sigma, 1), std::erfc(1. / std::sqrt(2.)), 1e-6);
  EXPECT_NEAR(c.prob_noise(-2 * sigma, 1), std::erfc(2. / std::sqrt(2.)), 1e-6);
  EXPECT_EQ(c.prob_noise(5 * sigma, 1), 0.);  // beyond z = 3.5
  c.sigma_noise(1) = 0.f;
  EXPECT_EQ(c.prob_noise(1e-3f, 1), 0.);
}

TEST(CurveletNoiseDeath, VariantWithoutNormsEndsWithMinusOne) {
  Curvelet c;
  c.RidTrans = RID_PYR_DIRECT;
  c.OddBlockSize = False;
  c.NbrScale2D = 2;
  EXPECT_EXIT_STATUS(c.alloc(32, 32, 16, False), 255,
                     "unknown ridgelet transform \\(in Curvelet::norm_band\\)");
  Curvelet d;
  mca_setup(d, 32, 2);
  d.RidTrans = RID_PYR_DIRECT;
  EXPECT_EXIT_STATUS(d.norm_band(0, 0), 255, "unknown ridgelet transform");
}

// Denoising keeps a smooth bump and removes most of the noise. At a level
// of 0 only the finest ridgelet scale (one unit more) is thresholded, at a
// huge noise it loses everything: were the level and the noise swapped,
// the thresholds would all be 0 and the image would come back whole.
TEST(CurveletNoise, FilteringRemovesNoiseAndKeepsTheBump) {
  const int n = 64;
  Image clean(n, n), noisy(n, n), result;
  Image noise = normal_image(n, n, 9, 0.5f);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      const double r2 = (i - 32.) * (i - 32.) + (j - 28.) * (j - 28.);
      clean(i, j) = static_cast<float>(20. * std::exp(-r2 / 60.));
      noisy(i, j) = clean(i, j) + noise(i, j);
    }
  Curvelet c;
  mca_setup(c, n, 3);
  testing::internal::CaptureStdout();
  c.filtering(noisy, result, 3.f, 0.5f);
  testing::internal::GetCapturedStdout();
  double err_in = 0, err_out = 0;
  for (int k = 0; k < n * n; k++) {
    err_in += std::pow(noisy(k) - clean(k), 2);
    err_out += std::pow(result(k) - clean(k), 2);
  }
  EXPECT_LT(err_out, 0.5 * err_in);

  testing::internal::CaptureStdout();
  c.filtering(noise, result, 0.f, 1000.f);
  testing::internal::GetCapturedStdout();
  EXPECT_LT(result.energy(), 0.8f * noise.energy());
}

}  // namespace
