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

// Direct 2D transform of an nl x nc array (column fastest), both axes.
inline std::vector<cplx> dft2d(const std::vector<cplx>& x, int nl, int nc, int sign,
                               bool centred = false) {
  std::vector<cplx> out(x.size());
  std::vector<cplx> line(nc), col(nl);
  for (int i = 0; i < nl; i++) {
    for (int j = 0; j < nc; j++) line[j] = x[i * nc + j];
    auto t = dft(line, sign, centred);
    for (int j = 0; j < nc; j++) out[i * nc + j] = t[j];
  }
  for (int j = 0; j < nc; j++) {
    for (int i = 0; i < nl; i++) col[i] = out[i * nc + j];
    auto t = dft(col, sign, centred);
    for (int i = 0; i < nl; i++) out[i * nc + j] = t[i];
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

// Largest |a - b| relative to the largest |b| (at least 1).
template <class A>
long double max_rel_error(const A& a, const std::vector<cplx>& b) {
  long double err = 0, scale = 1;
  for (size_t k = 0; k < b.size(); k++) {
    scale = std::max(scale, std::abs(b[k]));
    err = std::max(err, std::abs(cplx(a[k]) - b[k]));
  }
  return err / scale;
}

}  // namespace dft_ref
