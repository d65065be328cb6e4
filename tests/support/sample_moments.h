// The brute-force reference for sample statistics: sums, mean, population
// variance and extremes of a buffer, accumulated in long double, the deviation
// about the mean in a second pass, so that no cancellation of the one-pass
// forms under test can hide in the reference.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "array/to_array.h"

namespace qz_test {

struct SampleMoments {
  double sum, sum_sq, mean, variance, sigma, min, max;
};

template <class T>
SampleMoments sample_moments(const T* v, size_t n) {
  long double sum = 0, sum_sq = 0, dev = 0;
  double lo = n ? double(v[0]) : 0, hi = lo;
  for (size_t k = 0; k < n; k++) {
    sum += v[k];
    sum_sq += static_cast<long double>(v[k]) * v[k];
    lo = std::min(lo, double(v[k]));
    hi = std::max(hi, double(v[k]));
  }
  const long double mean = n ? sum / n : 0;
  for (size_t k = 0; k < n; k++) dev += (v[k] - mean) * (v[k] - mean);
  const double variance = n ? double(dev / n) : 0;
  return {double(sum), double(sum_sq), double(mean), variance, std::sqrt(variance), lo, hi};
}
template <class T>
SampleMoments sample_moments(const std::vector<T>& v) {
  return sample_moments(v.data(), v.size());
}
template <class T, bool XY>
SampleMoments sample_moments(const to_array<T, XY>& a) {
  return sample_moments(a.buffer(), static_cast<size_t>(a.n_elem()));
}

}  // namespace qz_test
