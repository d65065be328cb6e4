// Images and signals for the array tests: random ones for the brute-force
// comparisons, small written-out ones for exact values.
#pragma once

#include <initializer_list>
#include <random>
#include <vector>

#include "array/to_array.h"

// Uniform real values in [lo, hi): sums of them round differently in float
// and double, which the precision checks rely on.
template <class Array>
void fill_random(Array& a, unsigned seed, float lo, float hi) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> value(lo, hi);
  for (int k = 0; k < a.n_elem(); k++) a(k) = value(gen);
}

// Halves of integers in [lo, hi], many of them equal: exact in float, with
// ties for the order statistics.
template <class T = float>
to_array<T, false> random_image(int nl, int nc, unsigned seed, int lo = -50, int hi = 50) {
  to_array<T, false> im(nl, nc);
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> dist(lo, hi);
  for (int k = 0; k < im.n_elem(); k++) im(k) = static_cast<T>(dist(gen)) / T(2);
  return im;
}

// A one-line image (two axes) or a one-axis array holding the values.
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
