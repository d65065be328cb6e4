// Isotropic power spectrum: table size and frequencies, the zero-frequency
// power, a Gaussian image against its closed-form spectrum, tiny images and
// unusable arguments.
#include "numerics/power_spectrum.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/death.h"

TEST(IsotropicSpectrum, TableSizeFrequenciesAndZeroFrequencyPower) {
  // 41 lines, step 0.5: ((41 + 1)/2 - 1)/0.5 = 40 rows, the frequency measured
  // with the line count whatever the columns.
  const int nl = 41, nc = 50;
  to_array<float, false> ima(nl, nc);
  double sum = 0;
  for (int k = 0; k < nl * nc; k++) sum += ima(k) = static_cast<float>((k * 7919) % 101) / 10.f;
  to_array<float, true> spec;
  get_isotropic_spectrum(ima, spec, 0.5f, 1.f);
  ASSERT_EQ(spec.nx(), 40);
  ASSERT_EQ(spec.ny(), 3);
  EXPECT_EQ(spec(0, 0) + spec(0, 2), 0.f);
  EXPECT_NEAR(spec(0, 1), sum * sum / (nl * nc), 1e-5 * sum * sum / (nl * nc));
  for (int r = 1; r < spec.nx(); r++) {
    EXPECT_GE(spec(r, 1), 0.f);
    EXPECT_FLOAT_EQ(spec(r, 0), r * 0.5f / nl);
    EXPECT_FLOAT_EQ(spec(r, 2), spec(r, 1) * spec(r, 0) * (spec(r, 0) + 1.f));
  }
}

TEST(IsotropicSpectrum, GaussianMatchesClosedForm) {
  // g = exp(-ρ²/2σ²) centred: |G(u)|² = (2πσ²)² exp(-4π²σ²u²/N²), over N².
  const int n = 64;
  const double sigma = 4., pi = 3.14159265358979323846;
  to_array<float, false> ima(n, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double d2 = (i - n / 2) * (i - n / 2) + (j - n / 2) * (j - n / 2);
      ima(i, j) = static_cast<float>(std::exp(-d2 / (2 * sigma * sigma)));
    }
  to_array<float, true> spec;
  get_isotropic_spectrum(ima, spec, 0.5f, 1.f);
  const double p0 = std::pow(2 * pi * sigma * sigma, 2) / (n * n);
  EXPECT_NEAR(spec(0, 1), p0, 1e-4 * p0);
  for (int r = 1; r <= 12; r++) {
    double rho = 0.5 * r;
    double expected = p0 * std::exp(-4 * pi * pi * sigma * sigma * rho * rho / (n * n));
    EXPECT_NEAR(spec(r, 1), expected, 0.01 * p0) << "radius " << rho;
  }
}

TEST(IsotropicSpectrum, ImagesTooSmallForOneStepKeepTheZeroFrequencyRow) {
  for (int nl : {1, 2}) {
    to_array<float, false> ima(nl, 8);
    ima.init(2.f);
    to_array<float, true> spec;
    get_isotropic_spectrum(ima, spec, 0.5f, 1.f);
    ASSERT_EQ(spec.nx(), 1) << nl;
    EXPECT_EQ(spec(0, 0), 0.f);
    EXPECT_NEAR(spec(0, 1), 4.f * nl * 8, 1e-3);
    EXPECT_EQ(spec(0, 2), 0.f);
  }
}

TEST(IsotropicSpectrumDeathTest, RefusesEmptyImagesAndStepsThatAreNotPositive) {
  to_array<float, false> ima(16, 16), empty;
  to_array<float, true> spec;
  EXPECT_EXIT_STATUS(get_isotropic_spectrum(ima, spec, 0.f, 1.f), 255, "radial step 0");
  EXPECT_EXIT_STATUS(get_isotropic_spectrum(ima, spec, -1.f, 1.f), 255, "radial step -1");
  EXPECT_EXIT_STATUS(get_isotropic_spectrum(empty, spec, 0.5f, 1.f), 255, "image 0x0");
}
