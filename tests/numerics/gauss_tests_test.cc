// False-discovery cuts on the Benjamini-Hochberg worked example and brute
// force, higher criticism on exact quantiles, and the excess test on
// Gaussian and heavy-tailed samples.
#include "numerics/gauss_tests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "support/test_images.h"
#include "support/death.h"

TEST(FdrPvalue, BenjaminiHochbergWorkedExamples) {
  // Benjamini & Hochberg (1995): 15 p-values at q = 0.05; the fourth,
  // 0.0095 <= 0.05·4/15, is the last to pass.
  std::vector<double> bh = {0.0001, 0.0004, 0.0019, 0.0095, 0.0201, 0.0278, 0.0298, 0.0344,
                            0.0459, 0.3240, 0.4262, 0.5719, 0.6528, 0.7590, 1.0000};
  std::rotate(bh.begin(), bh.begin() + 6, bh.end());
  const std::vector<double> before = bh;
  EXPECT_EQ(fdr_pvalue(bh.data(), 15, 0.05f), 0.0095);
  EXPECT_EQ(bh, before);  // input not reordered
  std::vector<float> single(bh.begin(), bh.end());
  EXPECT_EQ(fdr_pvalue(single.data(), 15, 0.05f), 0.0095f);
  const double three[] = {0.5, 0.001, 0.02}, none[] = {0.2, 0.3, 0.9};  // lines 0.0167, 0.0333, 0.05
  EXPECT_EQ(fdr_pvalue(three, 3, 0.05f), 0.02);
  EXPECT_EQ(fdr_pvalue(none, 3, 0.05f), 0.0);
}

TEST(FdrGaussThreshold, AbsoluteLevelAgreesWithBruteForce) {
  std::vector<float> data = normal_sample(500, 9);
  const float strong[] = {-6.0f, 5.5f, -4.8f, 4.5f, 7.0f, -3.9f};
  std::copy(strong, strong + 6, data.begin() + 100);
  // Brute force: sort two-sided p-values and apply the rank lines.
  std::vector<std::pair<double, float>> ranked;
  for (float x : data) ranked.push_back({std::erfc(std::fabs(x) / std::sqrt(2.0)), std::fabs(x)});
  std::sort(ranked.begin(), ranked.end());
  float expected = -1.0f;
  for (std::size_t k = 1; k <= ranked.size(); ++k)
    if (ranked[k - 1].first <= 0.05 * k / ranked.size()) expected = ranked[k - 1].second;
  ASSERT_GT(expected, 0.0f);  // the signed sample would be negative here
  EXPECT_EQ(fdr_gauss_threshold(data.data(), 500, 0.05f, 1.0f), expected);
  // Nothing passes: a level above every sample, not ten times the smallest.
  const float quiet[] = {0.3f, -1.2f, 0.01f, 0.8f};
  float above = fdr_gauss_threshold(quiet, 4, 0.05f, 1.0f);
  EXPECT_GT(above, 1.2f);
  EXPECT_LT(above, 1.2001f);
}

TEST(HcTest, ExactQuantilesGiveZeroAndOutliersStandOut) {
  const int n = 200;
  std::vector<float> exact(n);
  for (int i = 0; i < n; ++i) exact[i] = float(normal_quantile(1.0 - double(i + 1) / n));
  float hc1, hc2, b1, b2;
  hc_test(exact.data(), n, hc1, hc2, 1.0f, 0.0f);
  EXPECT_NEAR(hc1, 0.0f, 1e-3);
  EXPECT_NEAR(hc2, 0.0f, 1e-3);
  std::vector<float> noise = normal_sample(4000, 4);
  hc_test(noise.data(), 4000, hc1, hc2);
  EXPECT_LT(hc2, 6.0f);
  EXPECT_GE(hc1, hc2);  // HC2 looks at fewer p-values
  for (int k = 0; k < 40; ++k) noise[k] = 4.0f + 0.05f * k;  // 1% of strong signal
  hc_test(noise.data(), 4000, hc1, hc2, 1.0f, 0.0f);
  EXPECT_GT(hc2, 10.0f);
  // The sample-moment form is the full form at the sample's mean and sigma.
  std::vector<float> shifted = normal_sample(1000, 8, 3.0f, 2.0f);
  hc_test(shifted.data(), 1000, hc1, hc2);
  double sum = 0, sum2 = 0;
  for (float x : shifted) sum += x, sum2 += double(x) * x;
  float mean = float(sum / 1000);
  hc_test(shifted.data(), 1000, b1, b2, float(std::sqrt(sum2 / 1000 - double(mean) * mean)), mean);
  EXPECT_FLOAT_EQ(hc1, b1);
  EXPECT_FLOAT_EQ(hc2, b2);
  const float constant[] = {2, 2, 2, 2};
  hc_test(constant, 4, hc1, hc2);
  EXPECT_EQ(hc1 + hc2, 0.0f);
}

TEST(GaussTest, RootAndScoresForGaussianAndHeavyTails) {
  for (float ratio : {0.7f, 0.9f, 1.1f}) {
    double r = root(ratio), value = 0, power = 1;
    const double c[9] = {1.0 - ratio, 0, 2.0 - 2.0 * ratio, -1, 1.1, -1, 0.35, -0.05, 0.0025};
    for (double ck : c) value += ck * power, power *= r;
    EXPECT_NEAR(value, 0.0, 1e-5) << ratio;
  }
  EXPECT_LT(root(1.0f), 0.18f);  // Gaussian data: the plain second moment is kept
  std::vector<float> gauss = normal_sample(40000, 12), laplace(40000);
  float t1, t2;
  gausstest(gauss.data(), 40000, t1, t2);
  EXPECT_LT(std::fabs(t1), 4.0f);
  EXPECT_LT(std::fabs(t2), 4.0f);
  std::mt19937 gen(3);
  std::exponential_distribution<float> expo(1.0f);
  for (std::size_t k = 0; k < laplace.size(); ++k) laplace[k] = (k % 2 ? 1.0f : -1.0f) * expo(gen);
  gausstest(laplace.data(), 40000, t1, t2);
  EXPECT_GT(std::min(t1, t2), 10.0f);
}

TEST(GaussianityImages, BorderZeroIsTheWholeImageAndBadBordersStop) {
  to_array<float, false> ima = normal_image(64, 48, 21);
  std::vector<float> noise(ima.buffer(), ima.buffer() + 64 * 48), inner;
  to_array<float, true> signal(64, 48);
  std::copy(noise.begin(), noise.end(), signal.buffer());
  float t1, t2, u1, u2;
  im_gaussianity_test(ima, t1, t2, 0);
  gausstest(noise.data(), 64 * 48, u1, u2);
  EXPECT_EQ(t1, u1);
  EXPECT_EQ(t2, u2);
  im_gaussianity_test(signal, u1, u2, 0);
  EXPECT_EQ(t1, u1);
  im_hc_test(ima, t1, t2, 0, True);
  hc_test(noise.data(), 64 * 48, u1, u2, 0.0f);
  EXPECT_EQ(t1, u1);
  EXPECT_EQ(t2, u2);
  for (int i = 3; i < 61; ++i)
    for (int j = 3; j < 45; ++j) inner.push_back(ima(i, j));
  im_hc_test(ima, t1, t2, 3, False);
  hc_test(inner.data(), static_cast<int>(inner.size()), u1, u2);
  EXPECT_EQ(t1, u1);
  EXPECT_EXIT_STATUS(im_gaussianity_test(ima, t1, t2, 30), 255, "Error: SizeBorder = 30");
}
