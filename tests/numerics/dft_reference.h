// Brute-force references for the Fourier tests: direct O(N²) sums in long
// double, with the system's sign convention passed explicitly.
#pragma once

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace dft_ref {

using cplx = std::complex<long double>;

// X[k] = Σ_j x[j]·exp(sign·2πi·jk/n); centred: j and k counted from n/2.
inline std::vector<cplx> dft(const std::vector<cplx>& x, int sign, bool centred = false) {
  const long n = static_cast<long>(x.size());
  const long origin = centred ? n / 2 : 0;
  const long double two_pi = 6.283185307179586476925286766559L;
  std::vector<cplx> out(n);
  for (long k = 0; k < n; k++) {
    cplx sum = 0;
    for (long j = 0; j < n; j++) {
      long phase = (((j - origin) * (k - origin)) % n + n) % n;
      long double a = sign * two_pi * static_cast<long double>(phase) / n;
      sum += x[j] * cplx(std::cos(a), std::sin(a));
    }
    out[k] = sum;
  }
  return out;
}

// Direct transform along one axis of length n whose values lie `stride`
// apart, for every run of the other axes (the array has `total` values).
inline void dft_axis(std::vector<cplx>& x, long n, long stride, int sign, bool centred) {
  std::vector<cplx> line(n);
  for (long base = 0; base < static_cast<long>(x.size()); base++) {
    if ((base / stride) % n != 0) continue;  // not the start of a line
    for (long j = 0; j < n; j++) line[j] = x[base + j * stride];
    auto t = dft(line, sign, centred);
    for (long j = 0; j < n; j++) x[base + j * stride] = t[j];
  }
}

// Direct transform of an array with dims[0] varying fastest, every axis.
inline std::vector<cplx> dftnd(std::vector<cplx> x, const std::vector<int>& dims, int sign,
                               bool centred = false) {
  long stride = 1;
  for (int n : dims) {
    dft_axis(x, n, stride, sign, centred);
    stride *= n;
  }
  return x;
}

// nl x nc image, column fastest.
inline std::vector<cplx> dft2d(const std::vector<cplx>& x, int nl, int nc, int sign,
                               bool centred = false) {
  return dftnd(x, {nc, nl}, sign, centred);
}

// The same sum in double for long sweeps: the n rotations are tabulated
// once (from long double) and indexed by j·k mod n, so each term is exact
// but for the products and sums of the accumulation.
inline std::vector<std::complex<double>> dft_fast(const std::vector<std::complex<double>>& x,
                                                  int sign) {
  const long n = static_cast<long>(x.size());
  const long double two_pi = 6.283185307179586476925286766559L;
  std::vector<double> wr(n), wi(n);
  for (long t = 0; t < n; t++) {
    const long double a = sign * two_pi * static_cast<long double>(t) / n;
    wr[t] = static_cast<double>(std::cos(a));
    wi[t] = static_cast<double>(std::sin(a));
  }
  std::vector<std::complex<double>> out(n);
  for (long k = 0; k < n; k++) {
    double sr = 0, si = 0;
    long t = 0;
    for (long j = 0; j < n; j++) {
      const double xr = x[j].real(), xi = x[j].imag();
      sr += xr * wr[t] - xi * wi[t];
      si += xr * wi[t] + xi * wr[t];
      t += k;
      if (t >= n) t -= n;
    }
    out[k] = {sr, si};
  }
  return out;
}

inline std::vector<cplx> random_signal(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1., 1.);
  std::vector<cplx> x(n);
  for (auto& v : x) v = cplx(u(gen), u(gen));
  return x;
}

// The signal in the precision under test.
template <class T>
std::vector<std::complex<T>> narrow(const std::vector<cplx>& x) {
  return std::vector<std::complex<T>>(x.begin(), x.end());
}

// Largest |a[k] - b[k]| relative to the largest |b| (at least 1), a given as
// interleaved (re, im) pairs of float or double.
template <class T>
long double max_rel_error(const T* a, const std::vector<cplx>& b) {
  long double err = 0, scale = 1;
  for (size_t k = 0; k < b.size(); k++) {
    scale = std::max(scale, std::abs(b[k]));
    err = std::max(err, std::abs(cplx(a[2 * k], a[2 * k + 1]) - b[k]));
  }
  return err / scale;
}
template <class T>
long double max_rel_error(const std::vector<std::complex<T>>& a, const std::vector<cplx>& b) {
  return max_rel_error(reinterpret_cast<const T*>(a.data()), b);
}

}  // namespace dft_ref
