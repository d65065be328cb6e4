// Pseudo-polar FFT routines against brute-force sums in long double: the
// fractional DFT, the pseudo-polar FFT of every mode against its closed form,
// and the adjoint identities of the pseudo-polar FFT and the slant stack.
#include "radon/pseudo_polar_fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "radon/slant_stack_radon.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using cld = std::complex<long double>;
const long double Pi = 3.141592653589793238462643383279502884L;

struct Planes {
  std::vector<float> re, im;
  explicit Planes(size_t n) : re(n, 0.f), im(n, 0.f) {}
  cld at(size_t k) const { return cld(re[k], im[k]); }
};

Planes random_planes(size_t n, unsigned seed) {
  auto img = random_complex_image<float>(1, static_cast<int>(n), seed);
  Planes p(n);
  for (size_t k = 0; k < n; k++) {
    p.re[k] = img(static_cast<int>(k)).real();
    p.im[k] = img(static_cast<int>(k)).imag();
  }
  return p;
}

// sum a conj(b) over both planes.
cld inner(const Planes& a, const Planes& b) {
  cld s = 0;
  for (size_t k = 0; k < a.re.size(); k++) s += a.at(k) * std::conj(b.at(k));
  return s;
}

double max_error(const Planes& got, const std::vector<cld>& want) {
  double err = 0;
  for (size_t k = 0; k < want.size(); k++)
    err = std::max(err, static_cast<double>(std::abs(got.at(k) - want[k])));
  return err;
}

TEST(FractionalFFT, MatchesBruteForceSum) {
  for (int n : {2, 8, 16, 64})
    for (float alpha : {1.f, 0.f, 0.37f, -0.75f}) {
      Planes x = random_planes(n, 7 + n), y(n);
      FFFT(y.re.data(), y.im.data(), x.re.data(), x.im.data(), n, alpha);
      std::vector<cld> want(n);
      for (int k = 0; k < n; k++)
        for (int j = 0; j < n; j++) {
          const long double phase = -2 * Pi * alpha * (k - n / 2.0L) * (j - n / 2.0L) / n;
          want[k] += x.at(j) * cld(std::cos(phase), std::sin(phase));
        }
      EXPECT_LT(max_error(y, want), 2e-5 * n) << "n = " << n << " alpha = " << alpha;
    }
}

// The closed form of the pseudo-polar grid, with the weights of each mode.
std::vector<cld> pseudo_polar_reference(const Planes& y, int n, int mode) {
  const int m = 2 * n;
  auto F = [&](long double u, long double v) {
    cld s = 0;
    for (int r = 0; r < n; r++)
      for (int c = 0; c < n; c++) {
        const long double phase = -2 * Pi * (u * (c - n / 2) + v * (r - n / 2)) / m;
        s += y.at(static_cast<size_t>(r) * n + c) * cld(std::cos(phase), std::sin(phase));
      }
    return s;
  };
  std::vector<cld> x(static_cast<size_t>(m) * m);
  for (int kp = 0; kp < m; kp++) {
    const int k = kp - n;
    long double w = 1;
    if (mode != 0) {
      if (k == 0) w = mode == 1 ? 1 / std::sqrt(2.0L * n) : 1 / (2 * std::sqrt((long double)n));
      else w = std::sqrt(std::fabs((long double)k) / n);
    }
    for (int s = 0; s < n; s++) {
      const long double slope = -2.0L * k * (s - n / 2) / n;
      x[static_cast<size_t>(kp) * m + s] = w * F(k, slope);
      x[static_cast<size_t>(kp) * m + n + s] = w * F(slope, -k);
    }
  }
  return x;
}

TEST(PseudoPolarFFT, MatchesItsClosedFormInEveryMode) {
  for (int n : {2, 4, 8})
    for (int mode : {0, 1, 2}) {
      const int m = 2 * n;
      Planes y = random_planes(static_cast<size_t>(n) * n, 11 * n + mode), x(static_cast<size_t>(m) * m);
      PPFFT(x.re.data(), x.im.data(), y.re.data(), y.im.data(), n, mode);
      EXPECT_LT(max_error(x, pseudo_polar_reference(y, n, mode)), 2e-5 * n * n)
          << "n = " << n << " mode = " << mode;
    }
}

TEST(PseudoPolarFFT, AdjointIdentityInEveryMode) {
  for (int n : {4, 16})
    for (int mode : {0, 1, 2}) {
      const int m = 2 * n;
      Planes y = random_planes(static_cast<size_t>(n) * n, 21 + mode);
      Planes x = random_planes(static_cast<size_t>(m) * m, 31 + mode);
      Planes py(static_cast<size_t>(m) * m), ax(static_cast<size_t>(n) * n);
      PPFFT(py.re.data(), py.im.data(), y.re.data(), y.im.data(), n, mode);
      Adj_PPFFT(ax.re.data(), ax.im.data(), x.re.data(), x.im.data(), m, mode);
      const cld lhs = inner(py, x), rhs = static_cast<long double>(m) * inner(y, ax);
      EXPECT_LT(std::abs(lhs - rhs) / std::abs(lhs), 1e-5) << "n = " << n << " mode = " << mode;
    }
}

TEST(SlantStack, AdjointIdentity) {
  const int n = 16, m = 32;
  Planes y = random_planes(n * n, 41), x = random_planes(m * m, 42);
  Planes sy(m * m), ax(n * n);
  SS(sy.re.data(), sy.im.data(), y.re.data(), y.im.data(), n);
  Planes x_copy = x;
  Adj_SS(ax.re.data(), ax.im.data(), x_copy.re.data(), x_copy.im.data(), n);
  const cld lhs = inner(sy, x), rhs = inner(y, ax);
  EXPECT_LT(std::abs(lhs - rhs) / std::abs(lhs), 1e-5);
}

}  // namespace
