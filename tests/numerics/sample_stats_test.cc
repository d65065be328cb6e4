// Sample moments, entropy, tail counts, the B-spline and normal quantiles
// against hand-worked values, closed forms and std::erfc.
#include "numerics/sample_stats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/test_images.h"
#include "support/death.h"

namespace {

struct Moments {
  double mean, sigma, skew, kurt;
  float min, max;
};
Moments moments(const float* v, int n) {
  Moments m;
  moment4(v, n, m.mean, m.sigma, m.skew, m.kurt, m.min, m.max);
  return m;
}

}  // namespace

TEST(Moment4, HandWorkedSamplesAndTheSinglePassForms) {
  // {0, 0, 0, 1}: skewness 2/sqrt(3), excess kurtosis -2/3; a constant: all 0.
  struct Hand { std::vector<float> v; double mean, sigma, skew, kurt; };
  for (const Hand& h : {Hand{{1, 2, 3, 4}, 2.5, std::sqrt(1.25), 0, 2.5625 / 1.5625 - 3},
                        Hand{{0, 0, 0, 1}, 0.25, std::sqrt(3.0) / 4, 2 / std::sqrt(3.0), -2.0 / 3},
                        Hand{{7, 7, 7}, 7, 0, 0, 0}}) {
    const int n = static_cast<int>(h.v.size());
    Moments m = moments(h.v.data(), n);
    EXPECT_DOUBLE_EQ(m.mean, h.mean);
    EXPECT_NEAR(m.sigma, h.sigma, 1e-15);
    EXPECT_NEAR(m.skew, h.skew, 1e-14);
    EXPECT_NEAR(m.kurt, h.kurt, 1e-14);
    EXPECT_EQ(m.max - m.min, h.v.back() - h.v.front());
    EXPECT_NEAR(skewness(h.v.data(), n), h.skew, 1e-12);
    EXPECT_NEAR(curtosis(h.v.data(), n), h.kurt, 1e-12);
  }
  // Strongly skewed, heavy-tailed data: both forms agree.
  std::vector<float> v = normal_sample(5000, 3, 1.5f, 2.0f);
  for (float& x : v) x = x * x * x;
  Moments m = moments(v.data(), 5000);
  EXPECT_NEAR(skewness(v.data(), 5000), m.skew, 1e-8 * std::fabs(m.skew));
  EXPECT_NEAR(curtosis(v.data(), 5000), m.kurt, 1e-8 * std::fabs(m.kurt));
}

TEST(ImMoment4, BorderSelectsTheInteriorAndRefusesImpossibleBorders) {
  to_array<float, false> ima(6, 5, "ima");
  std::vector<float> inner;
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 5; ++j) {
      ima(i, j) = float(i * 10 + j * j);
      if (i >= 1 && i < 5 && j >= 1 && j < 4) inner.push_back(ima(i, j));
    }
  Moments m, all = moments(ima.buffer(), 30), in = moments(inner.data(), 12);
  im_moment4(ima, m.mean, m.sigma, m.skew, m.kurt, m.min, m.max, 0);
  EXPECT_EQ(m.mean, all.mean);
  EXPECT_EQ(m.kurt, all.kurt);
  im_moment4(ima, m.mean, m.sigma, m.skew, m.kurt, m.min, m.max, 1);
  EXPECT_EQ(m.mean, in.mean);
  EXPECT_EQ(m.sigma, in.sigma);
  EXPECT_EQ(m.min, 11.0f);
  EXPECT_EQ(m.max, 49.0f);
  // 2B above Nl while Nc is above 2B: nothing inside, reported and stopped.
  to_array<float, false> flat(3, 9, "flat");
  EXPECT_EXIT_STATUS(im_moment4(flat, m.mean, m.sigma, m.skew, m.kurt, m.min, m.max, 2), 255,
                     "Error: SizeBorder = 2\n       p = 0\n       N = -5\n       Size = 32");
  // A one-axis signal is one line of values.
  to_array<float, true> signal(4);
  for (int k = 0; k < 4; ++k) signal(k) = float(k + 1);
  im_moment4(signal, m.mean, m.sigma, m.skew, m.kurt, m.min, m.max, 0);
  EXPECT_DOUBLE_EQ(m.mean, 2.5);
}

TEST(Entropy, BitsOfHistogramAndMaximumInItsOwnBin) {
  const float four_levels[] = {0, 1, 2, 3, 0, 1, 2, 3}, two_levels[] = {0, 0, 0, 1}, constant[] = {5, 5, 5},
              spread[] = {0, 4};
  EXPECT_NEAR(entropy(four_levels, 8, 1.0f), 2.0, 1e-12);
  EXPECT_NEAR(entropy(two_levels, 4, 0.5f), 0.811278124459133, 1e-12);  // -(3/4 lb 3/4 + 1/4 lb 1/4)
  EXPECT_EQ(entropy(constant, 3, 1.0f), 0.0);
  // With a width above 1 the maximum falls past (range + 1)/width bins.
  EXPECT_NEAR(entropy(spread, 2, 3.0f), 1.0, 1e-12);
  EXPECT_EXIT_STATUS(entropy(spread, 2, 0.0f), 255, "Error in entropy  function");
}

TEST(B3Spline, KnownValuesAndPartitionOfUnity) {
  EXPECT_DOUBLE_EQ(b3_spline(0.0), 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(b3_spline(-1.0), 1.0 / 6.0);
  EXPECT_EQ(b3_spline(2.0) + b3_spline(-3.5), 0.0);
  for (double x = 0.0; x < 1.0; x += 0.0625) {
    double sum = 0.0;
    for (int k = -3; k <= 3; ++k) sum += b3_spline(x - k);
    EXPECT_NEAR(sum, 1.0, 1e-14) << x;
  }
}

TEST(NormalQuantiles, XerfInverfcAndXerfc) {
  EXPECT_NEAR(xerf(0.025), 1.9604, 1e-4);
  EXPECT_NEAR(xerf(0.975), -1.9604, 1e-4);
  EXPECT_NEAR(xerf(0.5), 3.4e-6, 1e-6);
  EXPECT_EQ(xerf(0.0) + xerf(1.0), 0.0);
  for (double u = 1e-10; u < 1.0; u *= 3.0)  // published error bound of the approximation: 3e-3
    EXPECT_NEAR(xerf(u), -normal_quantile(u), 3e-3) << u;
  for (double y : {1e-300, 1e-30, 1e-8, 0.3, 1.0, 1.7, 1.9999})
    EXPECT_NEAR(std::erfc(inverfc(y)), y, 2e-14 * y) << y;
  for (double p : {0.001, 0.025, 0.08, 0.5, 0.7, 0.975, 0.995, 0.9999})
    EXPECT_NEAR(xerfc(p), normal_quantile(p), 1e-11) << p;
  EXPECT_EQ(xerfc(0.0), -INFINITY);
  EXPECT_EQ(xerfc(1.5), INFINITY);  // clamped to 1
}

TEST(Survival, TailCountsAtEvenlySpacedThresholds) {
  const float values[] = {-3.0f, 2.5f, -0.5f, 0.0f, 1.5f, 0.5f, -1.5f};
  to_array<float, true> data(7), surv, ramp(5);
  for (int k = 0; k < 7; ++k) data(k) = values[k];
  survival(data, surv, 5, 2.0f, False, 0.0f, 0.0f);
  ASSERT_EQ(surv.nx(), 5);
  ASSERT_EQ(surv.ny(), 2);
  // Brute force: negatives below (lower half) or positives above (upper half).
  for (int i = 0; i < 5; ++i) {
    const float threshold = float(i - 2);
    EXPECT_FLOAT_EQ(surv(i, 0), threshold);
    int count = 0;
    for (float v : values) count += i < 2 ? (v < threshold && v < 0) : (v > threshold && v > 0);
    EXPECT_EQ(surv(i, 1), float(count)) << i;
  }
  // Given mean 1 and sigma 2: -2, 0.75, -0.75, -0.5, 0.25, -0.25, -1.25.
  survival(data, surv, 5, 2.0f, True, 2.0f, 1.0f);
  const float standardised[] = {0, 2, 2, 0, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(surv(i, 1), standardised[i]) << i;
  // The data's own moments: {-2 .. 2} has mean 0 and sigma sqrt(2).
  for (int k = 0; k < 5; ++k) ramp(k) = float(k - 2);
  survival(ramp, surv, 5, 2.0f, True, 0.0f, -1.0f);
  const float own[] = {0, 1, 2, 1, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(surv(i, 1), own[i]) << i;
  EXPECT_EXIT_STATUS(survival(data, surv, 1, 2.0f, False, 0.0f, 0.0f), 255, "survival");
}
