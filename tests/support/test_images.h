// The one generator of test images and samples: reproducible uniform,
// Gaussian, tied and complex images from the standard library's engines,
// small written-out images for exact values, and the normal quantile built
// from std::erfc alone as an independent reference.
#pragma once

#include <cmath>
#include <complex>
#include <initializer_list>
#include <random>
#include <vector>

#include "array/to_array.h"

// Uniform real values in [lo, hi): sums of them round differently in float
// and double, which the precision checks rely on.
template <class Array>
void fill_random(Array& a, unsigned seed, float lo = -1.f, float hi = 1.f) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> value(lo, hi);
  for (int k = 0; k < a.n_elem(); k++) a(k) = value(gen);
}

inline to_array<float, false> random_image(int nl, int nc, unsigned seed, float lo = -1.f,
                                           float hi = 1.f) {
  to_array<float, false> ima(nl, nc);
  fill_random(ima, seed, lo, hi);
  return ima;
}

// Halves of integers in [lo, hi], many of them equal: exact in float, with
// ties for the order statistics.
template <class T = float>
to_array<T, false> tied_image(int nl, int nc, unsigned seed, int lo = -50, int hi = 50) {
  to_array<T, false> im(nl, nc);
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> dist(lo, hi);
  for (int k = 0; k < im.n_elem(); k++) im(k) = static_cast<T>(dist(gen)) / T(2);
  return im;
}

// Real and imaginary parts uniform in [-1, 1).
template <class T = float>
to_array<std::complex<T>, false> random_complex_image(int nl, int nc, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1., 1.);
  to_array<std::complex<T>, false> img(nl, nc);
  for (int k = 0; k < img.n_elem(); k++) {
    const double re = u(gen);
    img(k) = std::complex<T>(static_cast<T>(re), static_cast<T>(u(gen)));
  }
  return img;
}

inline std::vector<float> normal_sample(int n, unsigned seed, float mean = 0.0f,
                                        float sigma = 1.0f) {
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

// z with Φ(z) = p, by bisection on std::erfc (accurate to double precision).
inline double normal_quantile(double p) {
  double lo = -40.0, hi = 40.0;
  for (int k = 0; k < 200; ++k) {
    double mid = 0.5 * (lo + hi);
    (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

// A one-line image (two axes) holding the values.
template <class T>
to_array<T, false> image_row(std::initializer_list<T> values) {
  to_array<T, false> im(1, static_cast<int>(values.size()));
  int k = 0;
  for (T v : values) im(k++) = v;
  return im;
}
inline to_array<float, true> signal(std::initializer_list<float> values) {
  to_array<float, true> s(static_cast<int>(values.size()));
  int k = 0;
  for (float v : values) s(k++) = v;
  return s;
}

// Pixel values that tell their position: 100·line + column.
inline to_array<float, false> coded_image(int nl, int nc) {
  to_array<float, false> im(nl, nc);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) im(i, j) = static_cast<float>(100 * i + j);
  return im;
}

template <class T, bool XY>
std::vector<T> pixels(const to_array<T, XY>& a) {
  return std::vector<T>(a.buffer(), a.buffer() + a.n_elem());
}

// A smooth bump on a background of 40 with oriented stripes (the content
// directional transforms capture) and unit Gaussian noise.
inline to_array<float, false> striped_bump_image(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> g(0.f, 1.f);
  to_array<float, false> ima(n, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      const double r2 = (i - n / 2.) * (i - n / 2.) + (j - n / 2.) * (j - n / 2.);
      ima(i, j) = static_cast<float>(40. + 60. * std::exp(-r2 / 80.) +
                                     20. * std::cos(0.6 * i + 0.3 * j)) + g(gen);
    }
  return ima;
}
