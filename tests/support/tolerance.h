// Tolerances and comparisons shared by every test: round-off of a precision,
// the error bound of a transform of length n, and the largest difference
// between two images, signals or buffers.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include "array/to_array.h"

namespace qz_test {

// Unit round-off of the working precision of T (float for complex<float>).
template <class T> struct precision_of { using type = T; };
template <class T> struct precision_of<std::complex<T>> { using type = T; };

template <class T>
constexpr double round_off() {
  return std::numeric_limits<typename precision_of<T>::type>::epsilon();
}

// Relative error allowed for an FFT-like transform of length n: a few
// round-offs per butterfly stage, log2(n) stages.
template <class T>
double transform_tolerance(long n) {
  return 8.0 * round_off<T>() * (1.0 + std::log2(static_cast<double>(std::max(n, 2L))));
}

template <class T>
double max_abs_difference(const T* a, const T* b, size_t n) {
  double m = 0.0;
  for (size_t k = 0; k < n; k++) m = std::max(m, static_cast<double>(std::abs(a[k] - b[k])));
  return m;
}
template <class T>
double max_abs_difference(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() != b.size() ? std::numeric_limits<double>::infinity()
                              : max_abs_difference(a.data(), b.data(), a.size());
}
template <class T, bool XY>
double max_abs_difference(const to_array<T, XY>& a, const to_array<T, XY>& b) {
  return a.n_elem() != b.n_elem() ? std::numeric_limits<double>::infinity()
                                  : max_abs_difference(a.buffer(), b.buffer(), a.n_elem());
}

// ||a - b|| / ||b|| in the Euclidean norm (||a - b|| when b is zero).
template <class T>
double relative_l2_error(const T* a, const T* b, size_t n) {
  double err = 0.0, ref = 0.0;
  for (size_t k = 0; k < n; k++) {
    err += std::norm(std::complex<double>(a[k]) - std::complex<double>(b[k]));
    ref += std::norm(std::complex<double>(b[k]));
  }
  return ref > 0.0 ? std::sqrt(err / ref) : std::sqrt(err);
}

// Same shape and the same bits in every element (signed zeros told apart):
// results that must not depend on the number of threads.
template <class T, bool XY>
bool same_bits(const to_array<T, XY>& a, const to_array<T, XY>& b) {
  return a.naxis() == b.naxis() && a.nx() == b.nx() && a.ny() == b.ny() && a.nz() == b.nz() &&
         (a.n_elem() == 0 ||
          std::memcmp(a.buffer(), b.buffer(), sizeof(T) * static_cast<size_t>(a.n_elem())) == 0);
}

}  // namespace qz_test
