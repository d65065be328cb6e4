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

namespace {

constexpr float NoiseSigma = 2.5f;

to_array<float, false> gaussian_noise(int nl, int nc, float sigma, unsigned seed) {
  to_array<float, false> im(nl, nc);
  std::mt19937 gen(seed);
  std::normal_distribution<float> dist(0.f, sigma);
  for (int k = 0; k < im.n_elem(); k++) im(k) = dist(gen);
  return im;
}

double population_sigma(const std::vector<float>& v) {
  double mean = 0, dev = 0;
  for (float x : v) mean += x;
  mean /= v.size();
  for (float x : v) dev += (x - mean) * (x - mean);
  return std::sqrt(dev / v.size());
}

// MAD / 0.6745 with the lower middle value, by full sorting.
double mad_reference(std::vector<float> v) {
  auto lower_median = [](std::vector<float> w) {
    std::sort(w.begin(), w.end());
    return w[w.size() % 2 ? w.size() / 2 : w.size() / 2 - 1];
  };
  float median = lower_median(v);
  for (float& x : v) x = std::fabs(x - median);
  return lower_median(v) / 0.6745;
}

}  // namespace

TEST(NoiseEstimators, RecoverTheSigmaOfGaussianNoise) {
  to_array<float, false> noise = gaussian_noise(256, 256, NoiseSigma, 42);
  const float tolerance = 0.04f * NoiseSigma;
  EXPECT_NEAR(detect_noise_from_med(noise), NoiseSigma, tolerance);
  EXPECT_NEAR(detect_noise_from_bspline(noise), NoiseSigma, tolerance);
  EXPECT_NEAR(detect_noise_from_mad(noise, False), NoiseSigma, tolerance);
  EXPECT_NEAR(detect_noise_from_mad(noise, True), NoiseSigma, 0.08f * NoiseSigma);
  // Clipping at 3 sigma trims the tails of a Gaussian by a little over 1%.
  EXPECT_NEAR(detect_noise_sigma(noise, True, 3), NoiseSigma, tolerance);
  EXPECT_NEAR(get_sigma_clip(noise.buffer(), noise.n_elem(), 3, True, False, 0.f), NoiseSigma,
              tolerance);
  EXPECT_NEAR(get_sigma_clip_robust(noise.buffer(), noise.n_elem(), 3, True, False, 0.f),
              NoiseSigma, tolerance);
  float mean, sigma;
  sigma_clip(noise, mean, sigma, 3);
  EXPECT_NEAR(sigma, NoiseSigma, tolerance);
  EXPECT_NEAR(mean, 0.f, 0.05f);
  // The quietest tenth of 32x32 blocks sits a few percent below the sigma.
  to_array<float, false> big = gaussian_noise(512, 512, NoiseSigma, 43);
  EXPECT_NEAR(detect_noise_from_block(big, 32), NoiseSigma, 0.08f * NoiseSigma);
}

TEST(NoiseEstimators, ResidualEstimatorsIgnoreSmoothSignal) {
  // A steep ramp: the plain deviation is dominated by it, the residual of
  // the smoothing filters is not.
  to_array<float, false> im = gaussian_noise(200, 200, NoiseSigma, 7);
  for (int i = 0; i < 200; i++)
    for (int j = 0; j < 200; j++) im(i, j) += 0.5f * i + 0.3f * j + 100.f;
  EXPECT_GT(sigma(im), 10.);
  EXPECT_NEAR(detect_noise_from_med(im), NoiseSigma, 0.06f * NoiseSigma);
  EXPECT_NEAR(detect_noise_from_bspline(im), NoiseSigma, 0.06f * NoiseSigma);
}

TEST(NoiseEstimators, ConstantImageGivesZeroWithoutNaN) {
  to_array<float, false> flat(40, 33);
  flat.init(17.25f);
  const float results[] = {detect_noise_from_med(flat),     detect_noise_from_bspline(flat),
                           detect_noise_from_mad(flat, False), detect_noise_from_mad(flat, True),
                           detect_noise_sigma(flat, True, 3), detect_noise_from_block(flat, 8),
                           get_sigma_clip_robust(flat.buffer(), flat.n_elem(), 4, True, False, 0)};
  for (float r : results) EXPECT_EQ(r, 0.f);
  float mean = -1, sigma = -1;
  sigma_clip(flat, mean, sigma, 5);
  EXPECT_EQ(sigma, 0.f);
  EXPECT_FLOAT_EQ(mean, 0.f);  // every pixel is clipped away after the first pass
}

TEST(SigmaClip, IterationCountsAverageFlagAndBadPixels) {
  BadPixelGuard guard;
  std::vector<float> data = {1, 2, 3, 4, 100};
  const int n = static_cast<int>(data.size());
  EXPECT_EQ(get_sigma_clip(data.data(), n, 0, True, False, 0), 0.f);
  EXPECT_NEAR(get_sigma_clip(data.data(), n, 1, True, False, 0), population_sigma(data), 1e-4);
  EXPECT_NEAR(get_sigma_clip_robust(data.data(), n, 1, True, False, 0), population_sigma(data),
              1e-4);

  // Average off: root mean square about zero, whatever the mean.
  std::vector<float> fives(10, 5.f);
  EXPECT_FLOAT_EQ(get_sigma_clip(fives.data(), 10, 1, False, False, 0), 5.f);
  EXPECT_FLOAT_EQ(get_sigma_clip(fives.data(), 10, 3, False, False, 0), 5.f);

  // The bad value is skipped; when every value is bad, sigma is 0.
  std::vector<float> with_bad = {1, 2, -9, 3, 4, -9};
  EXPECT_NEAR(get_sigma_clip(with_bad.data(), 6, 1, True, True, -9.f), std::sqrt(1.25), 1e-6);
  std::vector<float> all_bad(8, -9.f);
  EXPECT_EQ(get_sigma_clip(all_bad.data(), 8, 3, True, True, -9.f), 0.f);
  to_array<float, false> bad_image(4, 4);
  bad_image.init(3.f);
  BadPixel = 1;
  BadPixalVal = 3.f;
  EXPECT_EQ(detect_noise_sigma(bad_image, True, 3), 0.f);

  // Integer samples: a mean only when the flag is exactly 1.
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
  EXPECT_EQ(mean, 0.f);
  EXPECT_EQ(sigma, 0.f);
}

TEST(SigmaClip, ClippingDropsOutliers) {
  std::vector<float> data;
  for (int k = 0; k < 200; k++) data.push_back(k % 2 ? 1.f : -1.f);
  data.push_back(1000.f);
  EXPECT_GT(get_sigma_clip(data.data(), 201, 1, True, False, 0), 50.f);
  EXPECT_NEAR(get_sigma_clip(data.data(), 201, 3, True, False, 0), 1.f, 1e-6);
  EXPECT_NEAR(get_sigma_clip_robust(data.data(), 201, 3, True, False, 0), 1.f, 1e-6);
}

TEST(SigmaMad, MatchesSortedReferenceAndLeavesDataUnchanged) {
  std::vector<float> four = {4, 1, 3, 2};
  // Lower median 2; deviations 2, 1, 1, 0 -> lower median 1.
  EXPECT_FLOAT_EQ(get_sigma_mad(four.data(), 4), static_cast<float>(1 / 0.6745));
  EXPECT_EQ(four, (std::vector<float>{4, 1, 3, 2}));

  std::mt19937 gen(3);
  std::normal_distribution<float> dist(5.f, 2.f);
  for (int n : {1, 2, 7, 100, 1001}) {
    std::vector<float> v(n);
    for (float& x : v) x = dist(gen);
    std::vector<float> copy = v;
    EXPECT_NEAR(get_sigma_mad(v.data(), n), mad_reference(v), 1e-5) << n;
    EXPECT_EQ(v, copy);
  }
  EXPECT_EQ(get_sigma_mad(four.data(), 0), 0.f);
}

TEST(SigmaMad, WindowIsTheCentralQuarter) {
  // 100 x 400: 25 x 100 window from line 38, column 150.
  to_array<float, false> im = gaussian_noise(100, 400, 1.f, 9);
  std::vector<float> window;
  for (int i = 38; i < 38 + 25; i++)
    for (int j = 150; j < 150 + 100; j++) window.push_back(im(i, j));
  EXPECT_EQ(detect_noise_from_mad(im, True), get_sigma_mad(window.data(), 2500));
  EXPECT_EQ(detect_noise_from_mad(im, False), get_sigma_mad(im.buffer(), im.n_elem()));
}

TEST(BlockNoise, BlockStatisticsMatchBruteForce) {
  to_array<float, false> im = gaussian_noise(70, 45, 1.f, 11);
  for (int i = 0; i < 70; i++)
    for (int j = 0; j < 45; j++) im(i, j) *= 1.f + (i / 16) + 0.5f * (j / 16);
  float *means = nullptr, *sigmas = nullptr;
  int nb = 0;
  block_transform(im, means, sigmas, nb, 16);
  ASSERT_EQ(nb, 4 * 2);  // incomplete blocks at the right and bottom are ignored
  std::vector<double> reference;
  for (int bi = 0; bi < 4; bi++)
    for (int bj = 0; bj < 2; bj++) {
      std::vector<float> block;
      double sum = 0;
      for (int i = 0; i < 16; i++)
        for (int j = 0; j < 16; j++) {
          block.push_back(im(bi * 16 + i, bj * 16 + j));
          sum += block.back();
        }
      const int k = bi * 2 + bj;
      EXPECT_NEAR(means[k], sum / 256, 1e-5);
      EXPECT_NEAR(sigmas[k], population_sigma(block), 1e-4);
      reference.push_back(population_sigma(block));
    }
  delete[] means;
  delete[] sigmas;
  // Fewer than ten blocks: the quietest block alone.
  EXPECT_NEAR(detect_noise_from_block(im, 16), *std::min_element(reference.begin(), reference.end()),
              1e-4);
  to_array<float, false> tiny(10, 10);
  EXPECT_EQ(detect_noise_from_block(tiny, 16), 0.f);
  EXPECT_EQ(detect_noise_from_block(tiny, 0), 0.f);
}

TEST(BlockNoise, QuietestTenthOfManyBlocks) {
  // 400 blocks whose sigmas are known: the smallest 40 must be averaged,
  // wherever they stand in the image.
  to_array<float, false> im(160, 160);
  std::mt19937 gen(5);
  std::vector<int> levels(400);
  for (int k = 0; k < 400; k++) levels[k] = k + 1;
  std::shuffle(levels.begin(), levels.end(), gen);
  for (int b = 0; b < 400; b++) {
    const int bi = b / 20, bj = b % 20;
    for (int i = 0; i < 8; i++)
      for (int j = 0; j < 8; j++)  // a +-level checkerboard has sigma = level
        im(bi * 8 + i, bj * 8 + j) = ((i + j) % 2 ? 1.f : -1.f) * levels[b];
  }
  EXPECT_NEAR(detect_noise_from_block(im, 8), 20.5f, 1e-3);  // mean of 1..40
}

TEST(SortBulle, OrdersTheUpperHalfPlusOne) {
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> dist(-10, 10);
  for (int n : {1, 2, 5, 10, 33}) {
    std::vector<float> v(n);
    for (float& x : v) x = dist(gen);
    std::vector<float> sorted = v;
    std::sort(sorted.begin(), sorted.end());
    sort_bulle(v.data(), n);
    for (int k = n - std::min(n, n / 2 + 1); k < n; k++) ASSERT_EQ(v[k], sorted[k]) << n;
    std::sort(v.begin(), v.end());
    ASSERT_EQ(v, sorted);  // a permutation of the input
  }
}
