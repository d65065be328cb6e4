// The bi-orthogonal wavelet base on the MCA object: band layout and noise
// levels from the initialisation, the finest scale's extra noise unit in the
// projection (hard and soft rules), the kill of the coarse part, and the
// normalised maximum of the MOM schedule.
#include <gtest/gtest.h>

#include <cmath>

#include "mca/mca.h"
#include "multires/half_decimated_2d_wt.h"
#include "support/test_images.h"

namespace {

using Image = to_array<float, false>;

// An MCA with the base alone on 32 x 32 images, every scale decimated so
// that a single coefficient far from the border comes back as itself.
void setup(MCA& m, int nbr_undec) {
  m.NbrBase = 1;
  m.TabSelect[0] = MCA_WT;
  m.WT_NbrScale = 3;
  m.WT_NbrUndecimatedScale = nbr_undec;
  m.RemoveLastScale = 0;
  m.Noise_Ima = 1.f;
  m.alloc(32, 32, nullptr);
  // The levels wt_init would set for unit noise.
  for (int b = 0; b < m.WT_NbrBand; b++) m.WT_TabNoise(b) = 1.f;
}

// The image whose transform holds `value` at the centre of bands 0 and 3.
Image two_coefficients(MCA& m, float value) {
  for (int b = 0; b < m.WT_NbrBand; b++) m.WT_TabBand[b].init();
  m.WT_TabBand[0](8, 4) = value;
  m.WT_TabBand[3](4, 2) = value;
  Image ima(32, 32);
  m.WT_Trans->recons(m.WT_TabBand, ima, m.WT_NbrScale, m.WT_TabDec);
  return ima;
}

TEST(WTBase, AllocationAndNoiseLevels) {
  MCA m;
  setup(m, 1);
  EXPECT_EQ(m.WT_NbrBand, 7);
  EXPECT_EQ(m.WT_TabBand[0].nl(), 32);  // the first scale undecimated
  EXPECT_EQ(m.WT_TabBand[3].nl(), 16);
  Image data = normal_image(32, 32, 50u, 2.f);
  const float maximum = m.wt_init(data, False);
  for (int b = 0; b < 6; b++) EXPECT_EQ(m.WT_TabNoise(b), 1.f);
  EXPECT_GT(maximum, 2.f);  // noise of deviation 2 in units of 1
  // MAD levels follow the data's noise instead; the MOM maximum still
  // divides by the noise level of the run.
  m.wt_init(data, True);
  EXPECT_NEAR(m.WT_TabNoise(0), 2.f, 0.3f);
  EXPECT_NEAR(m.wt_max(data), maximum, 1e-4);
}

TEST(WTBase, FinestScaleTakesOneNoiseUnitMore) {
  MCA m;
  setup(m, 0);
  m.AT_KillLastScale = 1;
  Image ima = two_coefficients(m, 2.5f);
  // Level 2: the finest band needs 3, the next one 2.
  m.wt_proj(ima, 2.f);
  m.WT_Trans->transform(ima, m.WT_TabBand, m.WT_NbrScale, m.WT_TabDec);
  EXPECT_NEAR(m.WT_TabBand[0](8, 4), 0.f, 1e-4);
  EXPECT_NEAR(m.WT_TabBand[3](4, 2), 2.5f, 1e-4);
  // Soft thresholding at half the level: both survive, shrunk.
  m.UseNormL1 = 1;
  ima = two_coefficients(m, 2.5f);
  m.wt_proj(ima, 2.f);
  m.WT_Trans->transform(ima, m.WT_TabBand, m.WT_NbrScale, m.WT_TabDec);
  EXPECT_NEAR(m.WT_TabBand[0](8, 4), 1.f, 1e-4);
  EXPECT_NEAR(m.WT_TabBand[3](4, 2), 1.5f, 1e-4);
}

TEST(WTBase, KillLastScaleRemovesTheCoarsePart) {
  MCA m;
  setup(m, 1);
  Image flat(32, 32);
  flat.init(50.f);
  m.AT_KillLastScale = 0;
  Image keep = flat;
  m.wt_proj(keep, 1.f);
  EXPECT_NEAR(keep(16, 16), 50.f, 1e-3);
  m.AT_KillLastScale = 1;
  m.wt_proj(flat, 1.f);
  EXPECT_NEAR(flat(16, 16), 0.f, 1e-3);
}

}  // namespace
