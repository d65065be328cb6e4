// Reference values of the normal law for the statistics tests, built from
// std::erfc alone, and reproducible Gaussian samples from the standard library.
#pragma once

#include <cmath>
#include <random>
#include <vector>

// z with Φ(z) = p, by bisection on std::erfc (accurate to double precision).
inline double normal_quantile(double p) {
  double lo = -40.0, hi = 40.0;
  for (int k = 0; k < 200; ++k) {
    double mid = 0.5 * (lo + hi);
    (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

inline std::vector<float> normal_sample(int n, unsigned seed, float mean = 0.0f,
                                        float sigma = 1.0f) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> normal(mean, sigma);
  std::vector<float> v(n);
  for (auto& x : v) x = normal(gen);
  return v;
}
