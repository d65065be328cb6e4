// Soft-threshold regularisation: identity at a zero level (the Haar step up
// to the border pixels), the erfc easing
// of large coefficients, the fall of the total variation of a noisy image,
// the default scale count and the two wrappers that return the removed part.
#include "multires/mr_regul.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

double total_variation(const Image& ima) {
  double tv = 0;
  for (int i = 0; i + 1 < ima.nl(); i++)
    for (int j = 0; j + 1 < ima.nc(); j++)
      tv += std::fabs(ima(i + 1, j) - ima(i, j)) + std::fabs(ima(i, j + 1) - ima(i, j));
  return tv;
}

// Largest difference away from the border, for banks other than Haar whose
// undecimated synthesis is not exact at the edges of the image.
double interior_difference(const Image& a, const Image& b, int margin) {
  double worst = 0;
  for (int i = margin; i < a.nl() - margin; i++)
    for (int j = margin; j < a.nc() - margin; j++)
      worst = std::max(worst, double(std::fabs(a(i, j) - b(i, j))));
  return worst;
}

Image noisy_steps(int n, unsigned seed) {
  Image ima = normal_image(n, n, seed, 1.f);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) ima(i, j) += (j < n / 2 ? 10.f : 30.f) + (i > n / 3 ? 5.f : 0.f);
  return ima;
}

TEST(MRRegul, ZeroLevelIsTheIdentity) {
  const Image ima = noisy_steps(40, 1u);
  for (bool decay : {false, true}) {
    MR_Regul regul;
    regul.ThresholdDecay = decay ? True : False;
    Image in = ima, out(40, 40);
    regul.im_soft_threshold(in, out, 0.f, 0.f);
    EXPECT_LT(interior_difference(out, ima, 8), 1e-4);
    // In place, as the MCA calls it.
    regul.im_soft_threshold(in, in, 0.f, 0.f);
    EXPECT_LT(interior_difference(in, ima, 8), 1e-4);
  }
  MR_Regul iwt;
  Image in = ima, out(40, 40);
  iwt.im_soft_iwt_threshold(in, out, 0.f, 0.f);
  EXPECT_LT(qz_test::max_abs_difference(out, ima), 1e-3);
  iwt.im_soft_non_ortho_threshold(in, out, 0.f, 0.f);
  EXPECT_LT(qz_test::max_abs_difference(out, ima), 1e-3);
}

// The Haar step at zero level used to move border pixels by up to 4 on an
// image of 50 +- 10: every total-variation step altered the border.
TEST(MRRegul, ZeroLevelGivesTheInputBackUpToTheBorder) {
  struct Case {
    int nl, nc, nbr_scale;
  };
  for (const Case& c : {Case{50, 50, 4}, Case{33, 47, 4}, Case{64, 31, 5}, Case{9, 13, 3},
                        Case{21, 21, 2}}) {
    SCOPED_TRACE(testing::Message() << c.nl << " x " << c.nc << ", " << c.nbr_scale << " scales");
    const Image ima = random_image(c.nl, c.nc, 6u, 40.f, 60.f);
    MR_Regul regul;
    regul.NbrScale = c.nbr_scale;
    regul.ThresholdDecay = True;
    Image in = ima, out(c.nl, c.nc);
    regul.im_soft_threshold(in, out, 0.f, 0.f);
    EXPECT_LT(qz_test::max_abs_difference(out, ima), 60 * 16 * qz_test::round_off<float>());
    regul.im_soft_threshold(in, in, 0.f, 0.f);
    EXPECT_LT(qz_test::max_abs_difference(in, ima), 60 * 16 * qz_test::round_off<float>());
    Image haar(c.nl, c.nc);
    in = ima;
    regul_tv_haarwt(in, haar, 0.f, c.nbr_scale);
    EXPECT_LT(qz_test::max_abs_difference(haar, ima), 60 * 16 * qz_test::round_off<float>());
  }
}

TEST(MRRegul, SoftThresholdingLowersTheTotalVariation) {
  Image ima = noisy_steps(64, 2u), out(64, 64);
  MR_Regul regul;
  regul.NbrScale = 2;
  regul.ThresholdDecay = True;
  regul.im_soft_threshold(ima, out, 1.5f, 0.f);
  EXPECT_LT(total_variation(out), 0.6 * total_variation(ima));
  // The steps survive: the means of the two halves stay apart.
  double left = 0, right = 0;
  for (int i = 0; i < 64; i++) {
    left += out(i, 5);
    right += out(i, 58);
  }
  EXPECT_NEAR((right - left) / 64, 20., 1.);
  // The free function is the same step with every scale undecimated.
  Image haar(64, 64);
  regul_tv_haarwt(ima, haar, 1.5f, 2);
  EXPECT_LT(qz_test::max_abs_difference(haar, out), 1e-4);
}

TEST(MRRegul, ErfcEasingSparesCoefficientsAboveSigma) {
  Image ima = noisy_steps(32, 3u), plain(32, 32), eased(32, 32), huge_sigma(32, 32);
  MR_Regul regul;
  regul.im_soft_threshold(ima, plain, 2.f, 0.f);
  // A sigma far below every coefficient: the level is multiplied by
  // erfc(|c|/sigma - 1), vanishingly small, and nothing is shrunk.
  regul.im_soft_threshold(ima, eased, 2.f, 1e-6f);
  EXPECT_LT(interior_difference(eased, ima, 8), 1e-3);
  // A sigma above every coefficient gives x <= 0 everywhere: the full level.
  regul.im_soft_threshold(ima, huge_sigma, 2.f, 1e6f);
  EXPECT_LT(qz_test::max_abs_difference(huge_sigma, plain), 1e-5);
  EXPECT_GT(qz_test::max_abs_difference(plain, ima), 0.1);
}

TEST(MRRegul, DefaultScaleCountIsTakenOnceFromTheSmallerSide) {
  EXPECT_EQ(max_scale_number(64), 4);
  EXPECT_EQ(max_scale_number(1024), 7);
  MR_Regul regul;
  regul.NbrScale = 0;
  Image ima = random_image(256, 300, 4u), out(256, 300);
  regul.im_soft_threshold(ima, out, 0.1f, 0.f);
  EXPECT_EQ(regul.NbrScale, 6);
}

TEST(MRRegul, WrappersReturnTheRemovedPart) {
  Image ima = noisy_steps(32, 5u), reg(32, 32), removed(32, 32);
  MR_Regul regul;
  regul.im_soft_threshold(ima, reg, 1.f, 0.f);
  regul.ima_regul(ima, removed, 1.f);
  for (int k = 0; k < ima.n_elem(); k++) EXPECT_NEAR(removed(k) + reg(k), ima(k), 1e-4);
  Image acc(32, 32);
  acc.init(1.f);
  regul.obj_regul(ima, acc, 1.f);
  for (int k = 0; k < ima.n_elem(); k++) EXPECT_NEAR(acc(k), 1.f + reg(k) - ima(k), 1e-4);
}

}  // namespace
