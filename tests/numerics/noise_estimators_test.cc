// Noise estimators on seeded Gaussian noise of known sigma, on images with
// signal, on constant images, and against brute-force statistics.
#include "numerics/noise_estimators.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "array/im_util.h"
#include "support/bad_pixel_guard.h"
#include "support/sample_moments.h"
#include "support/test_images.h"

TEST(NoiseEstimators, RecoverTheSigmaOfGaussianNoise) {
  const float sigma = 2.5f, tolerance = 0.04f * sigma;
  to_array<float, false> noise = normal_image(256, 256, 42, sigma);
  EXPECT_NEAR(detect_noise_from_med(noise), sigma, tolerance);
  EXPECT_NEAR(detect_noise_from_bspline(noise), sigma, tolerance);
  EXPECT_NEAR(detect_noise_from_mad(noise, False), sigma, tolerance);
  EXPECT_NEAR(detect_noise_from_mad(noise, True), sigma, 2 * tolerance);
  // Clipping at 3 sigma trims the tails of a Gaussian by a little over 1%.
  EXPECT_NEAR(detect_noise_sigma(noise, True, 3), sigma, tolerance);
  EXPECT_NEAR(get_sigma_clip_robust(noise.buffer(), noise.n_elem(), 3, True, False, 0.f), sigma, tolerance);
  float mean, clipped;
  sigma_clip(noise, mean, clipped, 3);
  EXPECT_NEAR(clipped, sigma, tolerance);
  EXPECT_NEAR(mean, 0.f, 0.05f);
  // The quietest tenth of 32x32 blocks sits a few percent below the sigma.
  EXPECT_NEAR(detect_noise_from_block(normal_image(512, 512, 43, sigma), 32), sigma, 2 * tolerance);
  // A steep ramp dominates the plain deviation but not the smoothing residuals.
  for (int i = 0; i < 256; i++)
    for (int j = 0; j < 256; j++) noise(i, j) += 0.5f * i + 0.3f * j + 100.f;
  EXPECT_NEAR(detect_noise_from_med(noise), sigma, 1.5 * tolerance);
  EXPECT_NEAR(detect_noise_from_bspline(noise), sigma, 1.5 * tolerance);
}

TEST(NoiseEstimators, ConstantImageGivesZeroWithoutNaN) {
  to_array<float, false> flat(40, 33);
  flat.init(17.25f);
  for (float r : {detect_noise_from_med(flat), detect_noise_from_bspline(flat),
                  detect_noise_from_mad(flat, False), detect_noise_from_mad(flat, True),
                  detect_noise_from_block(flat, 8),
                  get_sigma_clip_robust(flat.buffer(), flat.n_elem(), 4, True, False, 0)})
    EXPECT_EQ(r, 0.f);
  // After the first pass every pixel is clipped: an empty selection gives 0, 0.
  float mean = -1, sigma = -1;
  sigma_clip(flat, mean, sigma, 5);
  EXPECT_EQ(mean + sigma, 0.f);
}

TEST(SigmaClip, IterationCountsAverageFlagOutliersAndBadPixels) {
  BadPixelGuard guard;
  std::vector<float> data = {1, 2, 3, 4, 100}, fives(10, 5.f), with_bad = {1, 2, -9, 3, 4, -9};
  EXPECT_EQ(get_sigma_clip(data.data(), 5, 0, True, False, 0), 0.f);
  for (auto clip : {get_sigma_clip, get_sigma_clip_robust})
    EXPECT_NEAR(clip(data.data(), 5, 1, True, False, 0), qz_test::sample_moments(data).sigma, 1e-4);
  // Average off: root mean square about zero, whatever the mean.
  EXPECT_FLOAT_EQ(get_sigma_clip(fives.data(), 10, 3, False, False, 0), 5.f);
  // The bad value is skipped; when every value is bad, sigma is 0.
  EXPECT_NEAR(get_sigma_clip(with_bad.data(), 6, 1, True, True, -9.f), std::sqrt(1.25), 1e-6);
  EXPECT_EQ(get_sigma_clip(with_bad.data() + 2, 1, 3, True, True, -9.f), 0.f);
  to_array<float, false> bad_image(4, 4);
  bad_image.init(3.f);
  BadPixel = 1;
  BadPixalVal = 3.f;
  EXPECT_EQ(detect_noise_sigma(bad_image, True, 3), 0.f);
  // One outlier among ±1: gone after the first pass.
  std::vector<float> outlier;
  for (int k = 0; k < 200; k++) outlier.push_back(k % 2 ? 1.f : -1.f);
  outlier.push_back(1000.f);
  EXPECT_GT(get_sigma_clip(outlier.data(), 201, 1, True, False, 0), 50.f);
  for (auto clip : {get_sigma_clip, get_sigma_clip_robust})
    EXPECT_NEAR(clip(outlier.data(), 201, 3, True, False, 0), 1.f, 1e-6);

  // Integer samples: a mean only when the flag is exactly 1; none without iterations.
  const int ints[6] = {10, 12, 14, 10, 12, 14};
  float mean = -1, sigma = -1;
  sigma_clip_int(ints, mean, sigma, 2, 3, 1, 1);
  EXPECT_FLOAT_EQ(mean, 12.f);
  EXPECT_NEAR(sigma, std::sqrt(8. / 3.), 1e-5);
  sigma_clip_int(ints, mean, sigma, 2, 3, 2, 1);
  EXPECT_EQ(mean, 0.f);
  EXPECT_NEAR(sigma, std::sqrt(440. / 3.), 1e-4);
  EXPECT_EQ(sigma_clip_int(ints, 2, 3, 0, 1), sigma);
  sigma_clip_int(ints, mean, sigma, 2, 3, 1, 0);
  EXPECT_EQ(mean + sigma, 0.f);
}

TEST(SigmaMad, MatchesSortedReferenceWindowAndLeavesDataUnchanged) {
  std::vector<float> four = {4, 1, 3, 2};
  // Lower median 2; deviations 2, 1, 1, 0 -> lower median 1.
  EXPECT_FLOAT_EQ(get_sigma_mad(four.data(), 4), static_cast<float>(1 / 0.6745));
  EXPECT_EQ(four, (std::vector<float>{4, 1, 3, 2}));
  EXPECT_EQ(get_sigma_mad(four.data(), 0), 0.f);
  auto lower_median = [](std::vector<float> w) {
    std::sort(w.begin(), w.end());
    return w[(w.size() - 1) / 2];
  };
  for (int n : {1, 2, 7, 1001}) {
    std::vector<float> v = normal_sample(n, n, 5.f, 2.f), deviations = v;
    const float median = lower_median(v);
    for (float& x : deviations) x = std::fabs(x - median);
    EXPECT_NEAR(get_sigma_mad(v.data(), n), lower_median(deviations) / 0.6745, 1e-5) << n;
  }
  // 100 x 400: 25 x 100 window from line 38, column 150.
  to_array<float, false> im = normal_image(100, 400, 9, 1.f);
  std::vector<float> window;
  for (int i = 38; i < 38 + 25; i++)
    for (int j = 150; j < 150 + 100; j++) window.push_back(im(i, j));
  EXPECT_EQ(detect_noise_from_mad(im, True), get_sigma_mad(window.data(), 2500));
}

TEST(BlockNoise, BlockStatisticsAndTheQuietestBlocks) {
  to_array<float, false> im = normal_image(70, 45, 11, 1.f);
  for (int i = 0; i < 70; i++)
    for (int j = 0; j < 45; j++) im(i, j) *= 1.f + (i / 16) + 0.5f * (j / 16);
  float *means = nullptr, *sigmas = nullptr;
  int nb = 0;
  block_transform(im, means, sigmas, nb, 16);
  ASSERT_EQ(nb, 4 * 2);  // incomplete blocks at the right and bottom are ignored
  std::vector<double> reference;
  for (int b = 0; b < nb; b++) {
    std::vector<float> block;
    for (int i = 0; i < 16; i++)
      for (int j = 0; j < 16; j++) block.push_back(im((b / 2) * 16 + i, (b % 2) * 16 + j));
    const qz_test::SampleMoments ref = qz_test::sample_moments(block);
    EXPECT_NEAR(means[b], ref.mean, 1e-5);
    EXPECT_NEAR(sigmas[b], ref.sigma, 1e-4);
    reference.push_back(ref.sigma);
  }
  delete[] means;
  delete[] sigmas;
  // Fewer than ten blocks: the quietest block alone, not 0/0; none: 0.
  EXPECT_NEAR(detect_noise_from_block(im, 16), *std::min_element(reference.begin(), reference.end()), 1e-4);
  EXPECT_EQ(detect_noise_from_block(to_array<float, false>(10, 10), 16), 0.f);
  // 400 blocks of known sigma 1 .. 400, shuffled: the smallest 40 are averaged.
  to_array<float, false> checker(160, 160);
  std::vector<int> levels(400);
  for (int k = 0; k < 400; k++) levels[k] = k + 1;
  std::shuffle(levels.begin(), levels.end(), std::mt19937(5));
  for (int i = 0; i < 160; i++)
    for (int j = 0; j < 160; j++)  // a ±level checkerboard has sigma = level
      checker(i, j) = ((i + j) % 2 ? 1.f : -1.f) * levels[(i / 8) * 20 + j / 8];
  EXPECT_NEAR(detect_noise_from_block(checker, 8), 20.5f, 1e-3);
}

TEST(SortBulle, OrdersTheUpperHalfPlusOne) {
  for (int n : {1, 2, 5, 10, 33}) {
    std::vector<float> v = normal_sample(n, n), sorted = v;
    std::sort(sorted.begin(), sorted.end());
    sort_bulle(v.data(), n);
    for (int k = n - std::min(n, n / 2 + 1); k < n; k++) ASSERT_EQ(v[k], sorted[k]) << n;
    std::sort(v.begin(), v.end());
    ASSERT_EQ(v, sorted);  // a permutation of the input
  }
}

namespace {

// Brute-force reference of the median-residual estimate over the pixels
// whose clamped 3x3 window holds no zero: the median of nine by partial
// sort, three passes of 3-sigma clipping about the mean in long double.
double median_residual_sigma_of_present(const to_array<float, false>& ima) {
  const int nl = ima.nl(), nc = ima.nc();
  std::vector<double> residuals;
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      std::vector<float> window;
      for (int k = i - 1; k <= i + 1; k++)
        for (int l = j - 1; l <= j + 1; l++)
          window.push_back(ima(std::clamp(k, 0, nl - 1), std::clamp(l, 0, nc - 1)));
      if (std::count(window.begin(), window.end(), 0.f) > 0) continue;
      std::nth_element(window.begin(), window.begin() + 4, window.end());
      residuals.push_back(double(ima(i, j) - window[4]));
    }
  long double mean = 0, sigma = 0;
  for (int it = 0; it < 3; it++) {
    long double n = 0, sum = 0, sum_sq = 0;
    for (double r : residuals)
      if (it == 0 || std::fabs(r - mean) < 3 * sigma) n += 1, sum += r, sum_sq += r * r;
    mean = sum / n;
    sigma = std::sqrt(std::max(sum_sq / n - mean * mean, 0.L));
  }
  return double(sigma) / 0.972463;
}

// A smooth disc of light with noise of 40 around 1000, the blanked pixels
// set to 0 as the MCA's missing data are.
to_array<float, false> noisy_disc(int n, unsigned seed) {
  to_array<float, false> ima = normal_image(n, n, seed, 40.f);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      const double r = std::hypot(i - n / 2., j - n / 2.) / n;
      ima(i, j) += static_cast<float>(1000. + 3000. * std::exp(-8. * r * r));
    }
  return ima;
}

}  // namespace

// With missing pixels the residuals at the gaps' edges are not noise: the
// estimate keeps to the windows that are wholly present, and finds the noise
// of the image before it was blanked.
TEST(NoiseFromPresentPixels, AgreesWithTheBruteForceEstimateOfThePresentPixels) {
  BadPixelGuard guard;
  std::mt19937 gen(21u);
  for (int n : {64, 97}) {
    to_array<float, false> ima = noisy_disc(n, 22u);
    const float full = detect_noise_from_med(ima);
    // Nothing missing: the very same estimate.
    EXPECT_EQ(detect_noise_from_med_of_present(ima), full) << n;
    // Blank random 4 x 4 blocks until 30% of the pixels are gone.
    std::uniform_int_distribution<int> corner(0, n - 4);
    int missing = 0;
    while (missing < 0.3 * n * n) {
      const int i0 = corner(gen), j0 = corner(gen);
      for (int i = i0; i < i0 + 4; i++)
        for (int j = j0; j < j0 + 4; j++) missing += ima(i, j) != 0.f, ima(i, j) = 0.f;
    }
    const float present = detect_noise_from_med_of_present(ima);
    EXPECT_NEAR(present, median_residual_sigma_of_present(ima), 1e-4 * present) << n;
    EXPECT_NEAR(present, full, 0.1 * full) << n;
  }
  // No complete window: nothing to measure.
  to_array<float, false> sparse(8, 8);
  for (int k = 0; k < 64; k += 2) sparse(k) = 5.f;
  EXPECT_EQ(detect_noise_from_med_of_present(sparse), 0.f);
}
