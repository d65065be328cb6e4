// Reproducible samples for the numerics tests (uniform images, Gaussian
// samples and images from the standard library) and the normal quantile
// built from std::erfc alone, as an independent reference.
#pragma once

#include <cmath>
#include <random>
#include <vector>

#include "array/to_array.h"

// z with Φ(z) = p, by bisection on std::erfc (accurate to double precision).
inline double normal_quantile(double p) {
  double lo = -40.0, hi = 40.0;
  for (int k = 0; k < 200; ++k) {
    double mid = 0.5 * (lo + hi);
    (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

inline std::vector<float> normal_sample(int n, unsigned seed, float mean = 0.0f, float sigma = 1.0f) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> normal(mean, sigma);
  std::vector<float> v(n);
  for (auto& x : v) x = normal(gen);
  return v;
}

inline to_array<float, false> normal_image(int nl, int nc, unsigned seed, float sigma = 1.0f) {
  std::vector<float> v = normal_sample(nl * nc, seed, 0.0f, sigma);
  to_array<float, false> ima(nl, nc);
  for (int k = 0; k < nl * nc; k++) ima(k) = v[k];
  return ima;
}

inline to_array<float, false> random_image(int nl, int nc, unsigned seed, float lo = -1.f, float hi = 1.f) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(lo, hi);
  to_array<float, false> ima(nl, nc);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = dist(gen);
  return ima;
}
