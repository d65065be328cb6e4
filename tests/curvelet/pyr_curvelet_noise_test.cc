// Pyramidal curvelet noise tools: levels from simulated noise of seed 10,
// thresholding and Wiener filtering at those levels against closed forms,
// and the refusals.
#include <gtest/gtest.h>

#include <cmath>

#include "curvelet/pyr_curvelet.h"
#include "numerics/noise_simulation.h"
#include "support/capture.h"
#include "support/death.h"
#include "support/test_images.h"

namespace {

using Image = to_array<float, false>;

void alloc_small(PyrCurvelet& c) {
  c.OddBlockSize = False;
  c.BlockOverlap = False;
  c.alloc(32, 32, 16);
}

TEST(PyrCurveletNoise, LevelsComeFromUnitNoiseOfSeedTen) {
  PyrCurvelet simulated, given;
  alloc_small(simulated);
  alloc_small(given);
  Image noise(32, 32), band;
  im_noise_gaussian(noise, 1.f, 10);
  given.get_norm_coeff(noise, 3.f);
  simulated.get_norm_coeff(3.f);
  for (int k = 0; k < simulated.nbr_band() - 1; k++) {
    int s2d, s1d;
    simulated.get_scale_number(k, s2d, s1d);
    const float level = simulated.TabBandSigma[s2d](s1d, 0);
    EXPECT_EQ(level, given.TabBandSigma[s2d](s1d, 0)) << k;
    for (int p = 1; p < simulated.block_size(k); p++)
      ASSERT_EQ(simulated.TabBandSigma[s2d](s1d, p), level);
    // A 3-sigma level over 3 is about the band's deviation.
    simulated.get_band(k, band);
    EXPECT_TRUE(level / band.sigma() > 0.6 && level / band.sigma() < 1.6) << k;
  }
}

TEST(PyrCurveletNoise, ThresholdKeepsLevelsPerScaleAndLine) {
  PyrCurvelet c;
  alloc_small(c);
  Image ima = random_image(32, 32, 1);
  c.transform(ima);
  for (int s2d = 0; s2d < c.NbrBand2D - 1; s2d++) c.TabBandSigma[s2d].init(1.f);
  c.TabBandSigma[0](0, 1) = 2.f;  // line 1 of every block of band (0, 0)
  const float sigma = 0.5f;
  // NSigma 0: factor 1 on 1D scale 0 (bands 0 and 3), 0 on the others.
  struct Case {
    int k, i, j;
    float value, kept;
  } cases[] = {{0, 0, 3, 0.5f, 0.5f},   {0, 0, 4, 0.49f, 0.f},  {0, 1, 3, 0.99f, 0.f},
               {0, 17, 3, 1.f, 1.f},    {1, 0, 3, 0.01f, 0.01f}, {3, 0, 3, -0.49f, 0.f},
               {4, 2, 3, 0.01f, 0.01f}};
  for (const Case& t : cases) c(t.k, t.i, t.j) = t.value;
  Image last_before, last_after;
  c.get_band(c.nbr_band() - 1, last_before);
  c.threshold(sigma, 0.f);
  for (const Case& t : cases) EXPECT_EQ(c(t.k, t.i, t.j), t.kept) << t.k << " " << t.i;
  c.get_band(c.nbr_band() - 1, last_after);
  for (int p = 0; p < last_after.n_elem(); p++) ASSERT_EQ(last_after(p), last_before(p));
}

TEST(PyrCurveletNoise, WienerAloneAndOnFlatBands) {
  PyrCurvelet c;
  alloc_small(c);
  Image ima = random_image(32, 32, 2), before, after;
  c.transform(ima);
  for (int s2d = 0; s2d < c.NbrBand2D - 1; s2d++) c.TabBandSigma[s2d].init(1.f);
  const float sigma = 0.05f;
  c.get_band(0, before);
  Image zero(c.size_band_nl(1), c.size_band_nc(1));
  c.put_band(1, zero);
  qz_test::stdout_of([&] { c.wiener_filter(sigma, 1); });
  // W = 1: c (c² - σ²) / c², or 0 when c² < σ².
  c.get_band(0, after);
  for (int p = 0; p < before.n_elem(); p++) {
    const float v = before(p), var = v * v;
    const float gain = var > sigma * sigma ? (var - sigma * sigma) / var : 0.f;
    ASSERT_FLOAT_EQ(after(p), var > 0.f ? v * gain : 0.f) << p;
  }
  c.get_band(1, after);
  for (int p = 0; p < after.n_elem(); p++) ASSERT_EQ(after(p), 0.f);
}

TEST(PyrCurveletNoiseDeathTest, Refusals) {
  PyrCurvelet c;
  alloc_small(c);
  c.RidTrans = RID_FINITE_UNDEF;
  EXPECT_EXIT_STATUS(c.norm_band(0, 0), 255, "unknown ridgelet transform");
  c.RidTrans = RID_PYR_FFT;
  EXPECT_EQ(c.norm_band(0, 0), 0.f);
  EXPECT_EXIT_STATUS(c.wiener_filter(1.f, 0), 255, "bad Wiener window size: 0");
  EXPECT_EXIT_STATUS(c.get_norm_coeff(0.f), 255, "detection level must be positive");
}

}  // namespace
