// Random generators and simulated noise: the 48-bit sequence against the
// recurrence worked independently, reproducibility from a seed, and the
// sample statistics of each noise law against its closed-form moments.
#include "numerics/noise_simulation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/death.h"
#include "support/sample_moments.h"
#include "support/test_images.h"

namespace {

// The drand48 recurrence: X <- (0x5DEECE66D·X + 0xB) mod 2^48, seeded by
// srand48(s) as X = s·2^16 + 0x330E; each draw is X/2^48.
class Lcg48 {
 public:
  explicit Lcg48(uint32_t seed) : x_((uint64_t(seed) << 16) | 0x330E) {}
  double next() {
    x_ = (0x5DEECE66DULL * x_ + 0xB) & ((1ULL << 48) - 1);
    return std::ldexp(double(x_), -48);
  }

 private:
  uint64_t x_;
};

}  // namespace

TEST(Random48, ReproducesTheDrand48Recurrence) {
  for (uint32_t seed : {1u, 4000000000u}) {
    init_random(seed);
    Lcg48 reference(seed);
    for (int k = 0; k < 20; ++k) EXPECT_EQ(get_random(), float(reference.next())) << seed << " " << k;
  }
  init_random(7);
  Lcg48 reference(7);
  for (int k = 0; k < 10; ++k)
    EXPECT_FLOAT_EQ(get_random(-2.0f, 3.0f), -2.0f + float(reference.next()) * 5.0f);
}

TEST(GaussianNoise, SeededFillsAreReproducibleAndHaveTheRequestedSigma) {
  to_array<float, false> a(256, 256, "a"), b(256, 256, "b");
  b.init(123.0f);  // previous content must not matter
  im_noise_gaussian(a, 2.0f, 10);
  im_noise_gaussian(b, 2.0f, 10);
  for (int k = 0; k < a.n_elem(); ++k) ASSERT_EQ(a(k), b(k));
  Lcg48 reference(10);  // the first pixel is the inverted tail of the first draw
  EXPECT_NEAR(a(0), -2.0 * normal_quantile(float(reference.next())), 2.0 * 3e-3);
  auto s = qz_test::sample_moments(a);
  EXPECT_NEAR(s.mean, 0.0, 4.0 * 2.0 / 256.0);
  EXPECT_NEAR(s.sigma, 2.0, 0.02 * 2.0);
  im_noise_gaussian(b, 2.0f, 0);  // seed 0 continues the sequence
  EXPECT_NE(a(0), b(0));
  to_array<float, false> made = im_noise(2.0f, 256, 256, 10);
  EXPECT_EQ(made.name(), "im_noise");
  for (int k = 0; k < a.n_elem(); ++k) ASSERT_EQ(made(k), a(k));
  // Signals and cubes take the same draws in storage order.
  to_array<float, true> signal(10), cube(8, 8, 4), next;
  randomn(signal, 4, 2.0f, 10);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(signal(k), a(k));
  EXPECT_EQ(signal(4), 0.0f);  // only the first N elements
  EXPECT_EXIT_STATUS(randomn(signal, 11, 1.0f, 10), 255, "randomn");
  simu_gaussian_noise(cube, 2.0f, 10);
  for (int k = 0; k < cube.n_elem(); ++k) ASSERT_EQ(cube(k), a(k));
  next = cube;
  simu_gaussian_noise(next, 2.0f, 0);
  EXPECT_NE(next(0), cube(0));
}

TEST(NoiseLaws, RayleighAndExponentialMeansMatchTheirMoments) {
  to_array<float, false> ima(200, 200, "ima");
  im_noise_rayleigh(ima, 1, 33);  // unit Rayleigh: mean sqrt(pi/2), variance 2 - pi/2
  auto s = qz_test::sample_moments(ima);
  EXPECT_NEAR(s.mean, std::sqrt(M_PI / 2.0), 0.01);
  EXPECT_NEAR(s.variance, 2.0 - M_PI / 2.0, 0.01);
  im_noise_laplace(ima, 4, 33);  // mean of 4 unit exponentials: mean 1, variance 1/4
  s = qz_test::sample_moments(ima);
  EXPECT_NEAR(s.mean, 1.0, 0.01);
  EXPECT_NEAR(s.variance, 0.25, 0.01);
  EXPECT_GT(ima.min(), 0.0f);
  EXPECT_EXIT_STATUS(im_noise_rayleigh(ima, 0, 1), 255, "im_noise_rayleigh");
  EXPECT_EXIT_STATUS(im_noise_laplace(ima, 0, 1), 255, "im_noise_laplace");
}

TEST(PoissonNoise, DeviatesHaveTheirMeanAsMeanAndVariance) {
  int state = -1;
  EXPECT_EQ(poidev(0.0f, &state), 0.0f);
  EXPECT_EQ(state, 1);
  EXPECT_EQ(poidev(-3.0f, &state), 0.0f);
  for (float mean : {0.7f, 30.0f, 400.0f}) {  // both branches of the draw
    std::vector<float> draws(40000);
    for (float& d : draws) {
      d = poidev(mean, &state);
      ASSERT_EQ(d, std::floor(d));
    }
    auto s = qz_test::sample_moments(draws);
    EXPECT_NEAR(s.mean, mean, 5.0 * std::sqrt(mean / 40000)) << mean;
    EXPECT_NEAR(s.variance / mean, 1.0, 0.05) << mean;
  }
  for (float x : {0.5f, 1.0f, 5.0f, 13.0f, 401.0f})
    EXPECT_NEAR(nr_gammln(x), std::lgamma(double(x)), 2e-6 * (1 + std::fabs(std::lgamma(double(x)))));
  // Every image call restarts ran1; a state word of -1 restarts it too.
  to_array<float, false> flux(32, 32, "flux"), again(32, 32, "again"), scaled(32, 32, "scaled");
  for (auto* ima : {&flux, &again, &scaled}) ima->init(9.0f);
  im_poisson_noise(flux);
  im_poisson_noise(again);
  im_noise_poisson(scaled, 2.0f, static_cast<unsigned>(-1));
  for (int k = 0; k < flux.n_elem(); ++k) {
    ASSERT_EQ(flux(k), again(k));
    ASSERT_EQ(scaled(k), 2.0f * flux(k));
  }
  // Uniform draws of ran1 stay in [0, 1), also for seeds beyond its nominal range.
  for (int seed : {-1, 54774 - 100000, -2000000000}) {
    std::vector<float> u(20000);
    for (float& x : u) {
      x = ran1(&seed);
      ASSERT_TRUE(x >= 0.0f && x < 1.0f);
    }
    EXPECT_NEAR(qz_test::sample_moments(u).mean, 0.5, 0.01);
  }
}

TEST(GaussianProfiles, PeakCentreAndUnitSum) {
  to_array<float, false> peak = im_gaussian(31, 40, 6.0f, -1, -1), kernel(17, 12, "k");
  EXPECT_EQ(peak.name(), "gaussienne");
  EXPECT_EQ(peak(15, 20), 1.0f);
  EXPECT_NEAR(peak(15, 23), 0.5f, 1e-6);  // half maximum at half the FWHM
  EXPECT_NEAR(peak(12, 20), 0.5f, 1e-6);
  make_gaussian(kernel, 1.5f, 4, -1);
  EXPECT_NEAR(qz_test::sample_moments(kernel).sum, 1.0, 1e-6);
  EXPECT_NEAR(kernel(4, 7) / kernel(4, 6), std::exp(-1.0 / (2 * 1.5 * 1.5)), 1e-6);
  make_gaussian_fwhm(kernel, 4.0f, -1, -1);
  EXPECT_NEAR(kernel(8, 8) / kernel(8, 6), 0.5, 1e-6);
  // Kernels of each dimension: unit sum, peak at the middle (N/2), and the
  // closed-form fall-off from it.
  to_array<float, true> line(10), plane(6, 9), cube(5, 4, 7), empty;
  make_gaussian(line, 2.0f);
  make_gaussian(plane, 1.0f);
  make_gaussian(cube, 1.0f);
  for (auto* a : {&line, &plane, &cube}) EXPECT_NEAR(qz_test::sample_moments(*a).sum, 1.0, 1e-6);
  EXPECT_NEAR(line(7) / line(5), std::exp(-4.0 / 8.0), 1e-6);
  EXPECT_NEAR(plane(4, 4) / plane(3, 4), std::exp(-0.5), 1e-6);  // centre (x, y) = (3, 4)
  EXPECT_NEAR(cube(2, 2, 5) / cube(2, 2, 3), std::exp(-2.0), 1e-6);
  EXPECT_EXIT_STATUS(make_gaussian(empty, 1.0f), 255, "Error in make_gaussian: naxis = 0");
}
