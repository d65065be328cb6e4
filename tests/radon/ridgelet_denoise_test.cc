// Ridgelet noise statistics and denoising: the histograms of the ridgelet
// coefficients of simulated Gaussian noise and the 3-sigma tails read from
// them, the norms measured from them, and the three block denoisings on a
// noisy image of lines.
#include <gtest/gtest.h>

#include <cmath>

#include "filters/sub_band_filter.h"
#include "radon/ridgelet.h"
#include "radon/stat_rid_noise.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

Image lines_image(int n) {
  Image ima(n, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      float v = 0.f;
      if (std::fabs(i - 0.5 * j - 5.) < 1.) v += 8.f;
      if (std::fabs(j - 0.6 * n) < 1.) v += 8.f;
      ima(i, j) = v;
    }
  return ima;
}

double rms(const Image& a, const Image& b) {
  double s = 0.;
  for (int k = 0; k < a.n_elem(); k++) s += (a(k) - b(k)) * (a(k) - b(k));
  return std::sqrt(s / a.n_elem());
}

TEST(StatRidNoise, HistogramsOfGaussianNoiseGiveThreeSigmaTails) {
  Ridgelet rid;
  Image noise = normal_image(64, 64, 12), trans;
  rid.transform(noise, trans, 0);
  StatRidNoise stat;
  stat.init(trans, rid.NbrScale1D, rid);
  const int nbr_band = rid.NbrScale1D - 1;
  to_array<float, true> nsigma(rid.NbrScale1D), low(rid.NbrScale1D), high(rid.NbrScale1D);
  nsigma.init(3.f);
  stat.find_nsigma_threshold(rid.NbrScale1D, nsigma, low, high);
  for (int b = 0; b < nbr_band; b++) {
    EXPECT_NEAR(stat.TabRepart(b, StatRidNoise::NbrBin - 1), 1.f, 1e-4) << b;
    EXPECT_EQ(stat.TabBin(b, 0), stat.TabMin(b));
    EXPECT_EQ(stat.prob(b, stat.TabMin(b) - stat.TabStep(b)), 0.f);
    EXPECT_EQ(stat.repartition(b, stat.TabMax(b) + 2 * stat.TabStep(b)), 1.f);
    EXPECT_EQ(stat.repartition(b, stat.TabMin(b) - 2 * stat.TabStep(b)), 0.f);
    // The coefficients are near Gaussian: the tails sit near 3 standard
    // deviations on both sides.
    const float sigma = stat.TabSigma(b);
    EXPECT_NEAR(high(b) / sigma, 3.f, 0.6f) << b;
    EXPECT_NEAR(-low(b) / sigma, 3.f, 0.6f) << b;
  }
  // A second init with the same scale count rebuilds every band.
  Image other = normal_image(64, 64, 13, 2.f);
  rid.transform(other, trans, 0);
  stat.init(trans, rid.NbrScale1D, rid);
  EXPECT_NEAR(stat.TabRepart(0, StatRidNoise::NbrBin - 1), 1.f, 1e-4);
}

TEST(StatRidNoise, SimulatedNormsAreNearTheBuiltInTableAndCoverTheCoarseScale) {
  Ridgelet rid;
  Image noise = normal_image(64, 64, 21);
  rid.alloc(64, 64, 0);
  const int S = rid.NbrScale1D;
  rid.TabNorm.alloc(S);
  rid.TabNorm.init(-7.f);  // what a previous run may have left
  rid.set_tab_norm_from_simu(noise, S);
  EXPECT_EQ(rid.UpdateTabNorm, False);
  for (int s = 0; s < S - 1; s++)
    EXPECT_NEAR(rid.rid_norm(s) / TabNormRid_PyrDiffResol[s], 1.0, 0.35) << s;
  EXPECT_EQ(rid.rid_norm(S - 1), rid.rid_norm(S - 2));
}

TEST(StatRidNoiseDeath, EmptyAndFlatBandsAreRefused) {
  Ridgelet rid;
  rid.alloc(16, 16, 16);
  StatRidNoise stat;
  Image empty;
  EXPECT_EXIT_STATUS(stat.init(empty, 3, rid), 255, "incorrect RidTrans parameter");
  Image flat(rid.rid_nl(), rid.rid_nc());
  EXPECT_EXIT_STATUS(stat.init(flat, 3, rid), 255, "Error: k = .* in band 0\nmin = 0");
}

TEST(RidgeletDenoise, EveryBlockDenoisingBringsTheImageCloserToTheLines) {
  const int n = 48;
  const Image truth = lines_image(n);
  Image noisy = normal_image(n, n, 5);
  noisy += truth;
  const double before = rms(noisy, truth);
  SubBandFilter bank(F_MALLAT_7_9);
  struct Case {
    const char* what;
    type_ridgelet_WTtrans v;
    int B;
    int kind;  // 0 ridgelet, 1 Radon, 2 undecimated
    int nbr_iter;
  } cases[] = {{"ridgelet", RID_PYR_FFT, 17, 0, 1},  {"ridgelet one block", RID_PYR_FFT, 0, 0, 1},
               {"regularised", RID_PYR_FFT, 0, 0, 3}, {"undecimated", RID_UWT, 17, 2, 1},
               {"undecimated fft", RID_UWT_FFT, 0, 2, 1}};
  Image plain;
  for (const Case& c : cases) {
    Ridgelet rid(bank);
    rid.RidTrans = c.v;
    rid.NbrIter = c.nbr_iter;
    Image ima = noisy;
    if (c.kind == 0) rid.filtering(ima, 1.f, 3.f, c.B);
    if (c.kind == 1) rid.radon_filtering(ima, 1.f, 3.f, c.B);
    if (c.kind == 2) rid.undec_wt_filtering(ima, 1.f, 3.f, c.B);
    EXPECT_LT(rms(ima, truth), 0.8 * before) << c.what;
    if (c.B == 0 && c.nbr_iter == 1) plain = ima;
    if (c.nbr_iter > 1) {
      // The regularised inverse keeps the image positive and differs from
      // the plain one.
      EXPECT_GE(ima.min(), 0.f);
      EXPECT_GT(qz_test::max_abs_difference(ima, plain), 1e-3);
    }
  }
}

TEST(RidgeletDenoise, RadonThresholdingKeepsWhatIsAboveTheLevel) {
  const int n = 33;
  Image ima = random_image(n, n, 4), work = ima;
  Ridgelet rid;
  rid.radon_filtering(work, 0.f, 3.f, 0);  // one exact block, nothing below 0
  EXPECT_LT(qz_test::max_abs_difference(work, ima), 1e-4);
  work = ima;
  rid.radon_filtering(work, 1e6f, 3.f, 0);  // everything below the level
  EXPECT_EQ(work.maxfabs(), 0.f);
}

TEST(RidgeletDenoise, SplitLowFreqKeepsASmoothImage) {
  // An image that is its own smooth plane has no high frequencies to lose.
  Ridgelet rid;
  Image ima(33, 33);
  ima.init(5.f);
  Image low, high;
  rid.alloc(33, 33, 17);
  rid.get_low_and_freq(ima, low, high, 17);
  EXPECT_LT(high.maxfabs(), 1e-4);
  rid.SplitLowFreq = True;
  Image work = ima;
  rid.filtering(work, 1.f, 3.f, 17);
  EXPECT_LT(qz_test::max_abs_difference(work, ima), 1e-3);
}

// The undecimated FFT variant reads one norm per scale: past the ten of the
// table the norms continue by 1/sqrt(2) instead of reading beyond it.
TEST(RidgeletDenoise, UndecimatedFftTakesMoreScalesThanTheNormTable) {
  Ridgelet rid;
  rid.RidTrans = RID_UWT_FFT;
  rid.AutoScale1D = False;
  rid.NbrScale1D = 13;
  Image ima = random_image(17, 17, 3), work = ima;
  rid.alloc(17, 17, 0);
  rid.undec_wt_filtering_one_block(work, 0.f, 3.f);  // a level of 0 keeps everything
  EXPECT_LT(qz_test::max_abs_difference(work, ima), 1e-3);
}

TEST(RidgeletDenoise, MadThresholdLeavesTheCoarseScale) {
  Ridgelet rid;
  rid.alloc(16, 16, 16);
  Image block = normal_image(rid.Nlb, rid.Ncb, 8), work = block;
  rid.mad_threshold(work, 3.f);
  const int coarse = rid.NbrScale1D - 1;
  int zeroed = 0;
  for (int i = 0; i < rid.Nlb; i++) {
    for (int j = 0; j < rid.rid_size(coarse); j++)
      EXPECT_EQ(work(i, rid.rid_pos(coarse) + j), block(i, rid.rid_pos(coarse) + j));
    for (int j = 0; j < rid.rid_size(0); j++) zeroed += work(i, rid.rid_pos(0) + j) == 0.f;
  }
  // Unit Gaussian values: about 99.7 % lie within 3 sigma.
  EXPECT_GT(zeroed, 0.95 * rid.Nlb * rid.rid_size(0));
}

}  // namespace
