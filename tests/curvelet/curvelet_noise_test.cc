// Curvelet noise models: the tabulated Gaussian level of a band, levels
// against the spread of simulated noise (bands beyond the tables included,
// never a zero level), noise probabilities, the refusal of a variant
// without norms, and the order of the arguments of the ridgelet denoising.
#include <gtest/gtest.h>

#include <cmath>

#include "curvelet/curvelet.h"
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

TEST(CurveletNoise, GaussianLevelsFromTheTable) {
  Curvelet c;
  mca_setup(c, 64, 4);
  c.set_noise_model_gaussian(3.f, 2.f);
  // Band (0, 0), blocks of 16: 0.692084 x sqrt(16) x sigma, one detection
  // unit more than the others; band (1, 1), blocks of 32.
  EXPECT_FLOAT_EQ(c.sigma_noise(0), 0.692084f * 4.f * 2.f);
  EXPECT_FLOAT_EQ(c.max_level(0), 4.f * c.sigma_noise(0));
  EXPECT_FLOAT_EQ(c.sigma_noise(4), 0.0853162f * std::sqrt(32.f) * 2.f);
  EXPECT_FLOAT_EQ(c.nsigma(4), 3.f);
  // With variance-normalised ridgelets the block side drops out.
  c.VarNorm = True;
  c.set_noise_model_gaussian(3.f, 2.f);
  EXPECT_FLOAT_EQ(c.sigma_noise(0), 0.692084f * 2.f);
}

// The coarsest ridgelet scale of each 2D scale holds the low frequencies of
// its blocks and is not modelled; the bands of the sixth a trous scale lie
// beyond the tables and are measured.
TEST(CurveletNoise, LevelsFollowSimulatedNoise) {
  for (int scales : {4, 7}) {
    Curvelet c;
    mca_setup(c, 128, scales, scales == 4 ? True : False);
    c.set_noise_model_gaussian(3.f, 1.f);
    Image noise = normal_image(128, 128, 21), band;
    Image* bands = nullptr;
    c.transform(noise, bands);
    for (int b = 0; b < c.nbr_band() - 1; b++) {
      int s2d, s1d;
      c.get_scale_number(b, s2d, s1d);
      EXPECT_GT(c.sigma_noise(b), 0.f) << b;
      if (s1d == c.get_ridgelet(s2d)->NbrScale1D - 1) continue;
      c.get_ridgelet(s2d)->get_scale(bands[s2d], band, s1d);
      const double ratio = band.sigma() / c.sigma_noise(b);
      const double high = s2d >= 5 ? 2.5 : 1.7;  // few independent values up there
      EXPECT_GT(ratio, 1. / high) << scales << " band " << b;
      EXPECT_LT(ratio, high) << scales << " band " << b;
    }
    delete[] bands;
  }
}

// Levels measured on a noise image agree with the model; the FDR pass then
// zeroes the coefficients it judges noise, which here are nearly all.
TEST(CurveletNoise, MeasuredLevelsAndFdr) {
  Curvelet c, model;
  mca_setup(c, 64, 3);
  mca_setup(model, 64, 3);
  model.set_noise_model_gaussian(3.f, 1.f);
  Image noise = normal_image(64, 64, 31);
  c.set_noise_level(noise, 3.f, False);
  for (int b : {0, 3})  // finest ridgelet scale of each 2D scale
    EXPECT_NEAR(c.sigma_noise(b) * std::sqrt(float(c.TabBlockSize(b == 0 ? 0 : 1))) /
                    model.sigma_noise(b), 1., 0.4) << b;
  Image* bands = nullptr;
  c.transform(noise, bands);
  c.set_noise_model_gaussian(3.f, 1.f);
  c.get_fdr_detect_level(bands, 3.f, True);
  Image band;
  c.get_ridgelet(0)->get_scale(bands[0], band, 0);
  int kept = 0;
  for (int k = 0; k < band.n_elem(); k++) kept += band(k) != 0.f;
  EXPECT_LT(kept, band.n_elem() / 100);
  delete[] bands;
}

TEST(CurveletNoise, ProbabilitiesOfTheGaussianModel) {
  Curvelet c;
  mca_setup(c, 32, 3);
  c.set_noise_model_gaussian(3.f, 1.f);
  const float sigma = c.sigma_noise(1);
  EXPECT_EQ(c.prob_noise(0.f, 1), 1.);
  EXPECT_NEAR(c.prob_noise(-2 * sigma, 1), std::erfc(2. / std::sqrt(2.)), 1e-6);
  EXPECT_EQ(c.prob_noise(5 * sigma, 1), 0.);  // beyond z = 3.5
  c.sigma_noise(1) = 0.f;
  EXPECT_EQ(c.prob_noise(1e-3f, 1), 0.);
}

TEST(CurveletNoiseDeath, VariantWithoutNormsEndsWithMinusOne) {
  Curvelet c;
  c.RidTrans = RID_PYR_DIRECT;
  c.NbrScale2D = 2;
  EXPECT_EXIT_STATUS(c.alloc(32, 32, 16, False), 255,
                     "unknown ridgelet transform \\(in Curvelet::norm_band\\)");
  Curvelet d;
  mca_setup(d, 32, 2);
  d.RidTrans = RID_PYR_DIRECT;
  EXPECT_EXIT_STATUS(d.norm_band(0, 0), 255, "unknown ridgelet transform");
}

// At a level of 0 only the finest ridgelet scale (one unit more) is
// thresholded, and at a huge noise it loses everything; with the level and
// the noise swapped every threshold would be 0 and the noise would stay.
TEST(CurveletNoise, FilteringTakesTheLevelThenTheNoise) {
  Image noise = normal_image(64, 64, 9), result;
  Curvelet c;
  mca_setup(c, 64, 3);
  testing::internal::CaptureStdout();
  c.filtering(noise, result, 0.f, 1000.f);
  testing::internal::GetCapturedStdout();
  EXPECT_LT(result.energy(), 0.8f * noise.energy());
  EXPECT_GT(result.energy(), 0.01f * noise.energy());
}

}  // namespace
