// Runs of qz_mca with the bi-orthogonal wavelet base (-t 2) and the
// total-variation step (-G): result names, components adding up to the
// input, positivity, the residual's noise level, the options that act on the
// base, and -G applied only to the bases that take it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/qz_mca_program.h"
#include "support/test_images.h"

namespace {

// A disc over a ramp: edges for the wavelets.
FitsImage clean_scene(int n) {
  FitsImage ima(n, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      const double r2 = (i - n / 2.) * (i - n / 2.) + (j - n / 2.) * (j - n / 2.);
      ima.at(i, j) = (r2 < n * n / 16. ? 60.f : 20.f) + 0.2f * j;
    }
  return ima;
}

// The scene plus Gaussian noise of the given level.
FitsImage noisy_scene(int n, float sigma, unsigned seed) {
  to_array<float, false> noise = normal_image(n, n, seed, sigma);
  FitsImage ima = clean_scene(n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) ima.at(i, j) += noise(i, j);
  return ima;
}

// Sum of absolute differences between neighbours: the total variation.
double total_variation(const FitsImage& ima) {
  double tv = 0;
  for (int i = 0; i + 1 < ima.nl; i++)
    for (int j = 0; j + 1 < ima.nc; j++) {
      const float p = ima.pixels[size_t(i) * ima.nc + j];
      tv += std::fabs(ima.pixels[size_t(i + 1) * ima.nc + j] - p) +
            std::fabs(ima.pixels[size_t(i) * ima.nc + j + 1] - p);
    }
  return tv;
}

double rms(const FitsImage& ima) {
  double s = 0, s2 = 0;
  for (float p : ima.pixels) {
    s += p;
    s2 += double(p) * p;
  }
  const double m = s / ima.pixels.size();
  return std::sqrt(s2 / ima.pixels.size() - m * m);
}

class QzMcaWT : public QzMcaProgram {};

}  // namespace

TEST_F(QzMcaWT, SeparatesANoisyImageIntoWaveletComponentAndNoise) {
  FitsImage in = noisy_scene(64, 2.f, 11u);
  write_fits(path("in.fits"), in);
  ASSERT_EQ(run("-t 2 -i 10 -g 2 -v in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("WT MAX_NormCoef = "));
  EXPECT_TRUE(printed("WT proj "));
  FitsImage wt = result("out_wt.fits"), resi = result("out_resi.fits"), sum = result("out.fits");
  ASSERT_EQ(wt.nl, 64);
  ASSERT_EQ(resi.nc, 64);
  double largest_gap = 0;
  for (size_t k = 0; k < in.pixels.size(); k++) {
    largest_gap = std::max(largest_gap, double(std::fabs(sum.pixels[k] + resi.pixels[k] - in.pixels[k])));
    EXPECT_GE(wt.pixels[k], 0.f);
  }
  EXPECT_LT(largest_gap, 1e-3);
  // The separation denoises: the result is closer to the clean scene than
  // the input was (whose error is the noise, 2), and what it leaves out is
  // noise-like, not the scene's edges.
  FitsImage clean = clean_scene(64), error = clean;
  for (size_t k = 0; k < clean.pixels.size(); k++) error.pixels[k] = sum.pixels[k] - clean.pixels[k];
  EXPECT_LT(rms(error), 1.2);
  EXPECT_GT(rms(resi), 0.3);
  EXPECT_LT(rms(resi), 2.2);
}

TEST_F(QzMcaWT, RunsOnM51WithOtherBases) {
  const std::string m51 = std::string(QZ_SOURCE_DIR) + "/data/m51.fits";
  ASSERT_EQ(run("-t 1 -t 2 -t 5 -i 2 '" + m51 + "' out.fits"), 0) << output_;
  for (const char* name : {"out_atrou.fits", "out_wt.fits", "out_cos.fits", "out_resi.fits"})
    EXPECT_TRUE(exists(name)) << name;
  FitsImage in = read_fits(m51), sum = result("out.fits"), resi = result("out_resi.fits");
  ASSERT_EQ(sum.nl, in.nl);
  double worst = 0;
  for (size_t k = 0; k < in.pixels.size(); k++)
    worst = std::max(worst, double(std::fabs(sum.pixels[k] + resi.pixels[k] - in.pixels[k])));
  EXPECT_LT(worst, 1e-2);
}

TEST_F(QzMcaWT, OptionsActOnTheBase) {
  write_fits(path("in.fits"), noisy_scene(32, 1.f, 3u));
  // All scales undecimated, the coarse part killed, negative values allowed.
  ASSERT_EQ(run("-t 2 -i 6 -n 4 -u 4 -K -P -v in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("WT: Nbr scales = 4 Nbr band = 10"));
  FitsImage wt = result("out_wt.fits");
  double mean = 0;
  for (float p : wt.pixels) mean += p;
  EXPECT_LT(std::fabs(mean / wt.pixels.size()), 5.0);
  // MAD levels: one line per detail band.
  ASSERT_EQ(run("-t 2 -i 2 -n 4 -u 0 -M -v in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("WT Band 9 Noise Level =  "));
  EXPECT_FALSE(printed("WT Band 10 "));
  // The correlation term with a second base.
  ASSERT_EQ(run("-t 1 -t 2 -i 3 -c 0.5 in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(exists("out_wt.fits"));
}

TEST_F(QzMcaWT, TotalVariationFollowsOnlyTheBasesThatTakeIt) {
  write_fits(path("in.fits"), noisy_scene(48, 2.f, 5u));
  ASSERT_EQ(run("-t 1 -i 6 in.fits plain.fits"), 0) << output_;
  ASSERT_EQ(run("-t 1 -i 6 -G 0.5 in.fits tv.fits"), 0) << output_;
  EXPECT_EQ(result("plain_atrou.fits").pixels, result("tv_atrou.fits").pixels);

  ASSERT_EQ(run("-t 2 -i 6 -g 2 in.fits plain.fits"), 0) << output_;
  ASSERT_EQ(run("-t 2 -i 6 -g 2 -G 0.5 in.fits tv.fits"), 0) << output_;
  const double tv_plain = total_variation(result("plain_wt.fits"));
  const double tv_reg = total_variation(result("tv_wt.fits"));
  EXPECT_LT(tv_reg, 0.95 * tv_plain);
}

// Small, odd and non-square images: the coarse scales run on a few samples.
TEST_F(QzMcaWT, RunsOnSmallOddImages) {
  for (auto [nl, nc] : {std::pair{9, 13}, {17, 16}, {5, 40}}) {
    FitsImage in(nl, nc);
    to_array<float, false> noise = normal_image(nl, nc, 7u);
    for (int i = 0; i < nl; i++)
      for (int j = 0; j < nc; j++) in.at(i, j) = 10.f + (i == nl / 2 ? 20.f : 0.f) + noise(i, j);
    write_fits(path("small.fits"), in);
    // The default scale count is lowered to what each image holds.
    ASSERT_EQ(run("-t 2 -u 1 -i 4 -g 1 small.fits out.fits"), 0) << nl << " x " << nc << output_;
    FitsImage sum = result("out.fits"), resi = result("out_resi.fits");
    ASSERT_EQ(sum.nl, nl);
    ASSERT_EQ(sum.nc, nc);
    for (size_t k = 0; k < in.pixels.size(); k++)
      EXPECT_NEAR(sum.pixels[k] + resi.pixels[k], in.pixels[k], 1e-3);
  }
}
