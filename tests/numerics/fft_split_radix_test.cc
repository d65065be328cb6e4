// The power-of-two DFT/DCT/DST package against direct O(n²) sums, with its
// inverses and the reuse of its tables across lengths.
#include "numerics/fft_split_radix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

const long double Pi = 3.141592653589793238462643383279502884L;

std::vector<double> random_values(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1., 1.);
  std::vector<double> v(n);
  for (auto& x : v) x = u(gen);
  return v;
}

// Work tables large enough for every routine at length n, tables unbuilt.
struct Tables {
  explicit Tables(int n) : ip(64 + static_cast<int>(std::sqrt(n)), 0), w(2 * n + 16, 0.) {}
  std::vector<int> ip;
  std::vector<double> w;
};

void expect_close(const std::vector<double>& got, const std::vector<long double>& want,
                  double tol, const char* what, int n) {
  ASSERT_EQ(got.size(), want.size());
  long double scale = 1;
  for (auto v : want) scale = std::max(scale, std::fabs(v));
  for (size_t k = 0; k < got.size(); k++)
    EXPECT_NEAR(got[k], static_cast<double>(want[k]), tol * static_cast<double>(scale))
        << what << " n=" << n << " k=" << k;
}

const std::vector<int> Lengths = {2, 4, 8, 16, 32, 64, 256, 1024};

}  // namespace

TEST(SplitRadix, ComplexDftMatchesDirectSum) {
  for (int n : Lengths) {
    const int m = n / 2;
    for (int isgn : {1, -1}) {
      auto a = random_values(n, n + isgn);
      std::vector<long double> want(n);
      for (int k = 0; k < m; k++) {
        long double re = 0, im = 0;
        for (int j = 0; j < m; j++) {
          long double t = isgn * 2 * Pi * ((j * k) % m) / m;
          re += a[2 * j] * std::cos(t) - a[2 * j + 1] * std::sin(t);
          im += a[2 * j] * std::sin(t) + a[2 * j + 1] * std::cos(t);
        }
        want[2 * k] = re;
        want[2 * k + 1] = im;
      }
      Tables tb(n);
      cdft(n, isgn, a.data(), tb.ip.data(), tb.w.data());
      expect_close(a, want, 1e-13, "cdft", n);
    }
  }
}

TEST(SplitRadix, RealDftPackingAndInverse) {
  for (int n : Lengths) {
    auto a = random_values(n, n);
    auto orig = a;
    std::vector<long double> want(n);
    for (int k = 0; k <= n / 2; k++) {
      long double re = 0, im = 0;
      for (int j = 0; j < n; j++) {
        long double t = 2 * Pi * ((j * k) % n) / n;
        re += orig[j] * std::cos(t);
        im += orig[j] * std::sin(t);
      }
      if (k == 0) want[0] = re;
      else if (k == n / 2) want[1] = re;
      else {
        want[2 * k] = re;
        want[2 * k + 1] = im;
      }
    }
    Tables tb(n);
    rdft(n, 1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, want, 1e-13, "rdft", n);
    rdft(n, -1, a.data(), tb.ip.data(), tb.w.data());
    for (int j = 0; j < n; j++) EXPECT_NEAR(a[j] * 2.0 / n, orig[j], 1e-13) << n;
  }
}

TEST(SplitRadix, DctBothDirectionsMatchDirectSumsAndInvert) {
  for (int n : Lengths) {
    auto orig = random_values(n, 3 * n);
    std::vector<long double> type3(n), type2(n);
    for (int k = 0; k < n; k++) {
      long double s3 = 0, s2 = 0;
      for (int j = 0; j < n; j++) {
        s3 += orig[j] * std::cos(Pi * j * (k + 0.5L) / n);
        s2 += orig[j] * std::cos(Pi * (j + 0.5L) * k / n);
      }
      type3[k] = s3;
      type2[k] = s2 * 2 / n * (k == 0 ? 0.5L : 1.L);
    }
    Tables tb(n);
    auto a = orig;
    ddct(n, 1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, type3, 1e-13, "ddct+", n);
    ddct(n, -1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, std::vector<long double>(orig.begin(), orig.end()), 1e-13, "ddct+-", n);
    ddct(n, -1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, type2, 1e-13, "ddct-", n);
    // The zero-frequency output of the inverse direction is the mean.
    long double mean = 0;
    for (double v : orig) mean += v;
    EXPECT_NEAR(a[0], static_cast<double>(mean / n), 1e-14);
    ddct(n, 1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, std::vector<long double>(orig.begin(), orig.end()), 1e-13, "ddct-+", n);
  }
}

TEST(SplitRadix, DstBothDirectionsMatchDirectSums) {
  for (int n : Lengths) {
    auto orig = random_values(n, 5 * n);
    std::vector<long double> forward(n), backward(n);
    for (int k = 0; k < n; k++) {
      long double s = 0;
      for (int j = 1; j <= n; j++) s += (j == n ? orig[0] : orig[j]) * std::sin(Pi * j * (k + 0.5L) / n);
      forward[k] = s;
    }
    for (int k = 1; k <= n; k++) {
      long double s = 0;
      for (int j = 0; j < n; j++) s += orig[j] * std::sin(Pi * (j + 0.5L) * k / n);
      backward[k == n ? 0 : k] = s;
    }
    Tables tb(n);
    auto a = orig;
    ddst(n, 1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, forward, 1e-13, "ddst+", n);
    a = orig;
    ddst(n, -1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, backward, 1e-13, "ddst-", n);
    // The last term S[n] enters the other direction with weight ½: halved,
    // one direction after the other gives n/2 times the input.
    a[0] *= 0.5;
    ddst(n, 1, a.data(), tb.ip.data(), tb.w.data());
    for (int j = 0; j < n; j++) EXPECT_NEAR(a[j] * 2.0 / n, orig[j], 1e-13);
  }
}

TEST(SplitRadix, SymmetricCosineAndSineTransforms) {
  for (int n : {2, 4, 8, 16, 32, 128, 512}) {
    auto orig = random_values(n + 1, 7 * n);
    std::vector<long double> cosine(n + 1), sine(n);
    for (int k = 0; k <= n; k++) {
      long double s = 0;
      for (int j = 0; j <= n; j++) s += orig[j] * std::cos(Pi * ((j * k) % (2 * n)) / n);
      cosine[k] = s;
    }
    for (int k = 1; k < n; k++) {
      long double s = 0;
      for (int j = 1; j < n; j++) s += orig[j] * std::sin(Pi * ((j * k) % (2 * n)) / n);
      sine[k] = s;
    }
    Tables tb(n);
    std::vector<double> t(n / 2 + 1);
    auto a = orig;
    dfct(n, a.data(), t.data(), tb.ip.data(), tb.w.data());
    expect_close(a, cosine, 1e-13, "dfct", n);
    std::vector<double> b(orig.begin(), orig.begin() + n);
    dfst(n, b.data(), t.data(), tb.ip.data(), tb.w.data());
    expect_close(b, sine, 1e-13, "dfst", n);

    // Inverses: halved end points for the cosine transform, then 2/n.
    a = orig;
    a[0] *= 0.5;
    a[n] *= 0.5;
    dfct(n, a.data(), t.data(), tb.ip.data(), tb.w.data());
    a[0] *= 0.5;
    a[n] *= 0.5;
    dfct(n, a.data(), t.data(), tb.ip.data(), tb.w.data());
    for (int j = 0; j <= n; j++) EXPECT_NEAR(a[j] * 2.0 / n, orig[j], 1e-12) << n;
    dfst(n, b.data(), t.data(), tb.ip.data(), tb.w.data());
    for (int j = 1; j < n; j++) EXPECT_NEAR(b[j] * 2.0 / n, orig[j], 1e-12) << n;
    EXPECT_EQ(b[0], 0.);
  }
}

TEST(SplitRadix, TwoDimensionalForms) {
  const int n1 = 8, n2 = 16;
  auto data = random_values(n1 * n2, 11);
  auto rows = [&](std::vector<double>& v) {
    std::vector<double*> r(n1);
    for (int i = 0; i < n1; i++) r[i] = &v[i * n2];
    return r;
  };
  Tables tb(2 * n1 + n2);
  std::vector<double> t(2 * n1);

  // Complex: direct 2D sum over n1 x n2/2 values.
  auto a = data;
  auto ra = rows(a);
  cdft2d(n1, n2, 1, ra.data(), t.data(), tb.ip.data(), tb.w.data());
  const int m2 = n2 / 2;
  for (int k1 = 0; k1 < n1; k1++)
    for (int k2 = 0; k2 < m2; k2++) {
      long double re = 0, im = 0;
      for (int j1 = 0; j1 < n1; j1++)
        for (int j2 = 0; j2 < m2; j2++) {
          long double ang = 2 * Pi * ((long double)(j1 * k1 % n1) / n1 + (long double)(j2 * k2 % m2) / m2);
          double xr = data[j1 * n2 + 2 * j2], xi = data[j1 * n2 + 2 * j2 + 1];
          re += xr * std::cos(ang) - xi * std::sin(ang);
          im += xr * std::sin(ang) + xi * std::cos(ang);
        }
      EXPECT_NEAR(a[k1 * n2 + 2 * k2], static_cast<double>(re), 1e-12);
      EXPECT_NEAR(a[k1 * n2 + 2 * k2 + 1], static_cast<double>(im), 1e-12);
    }

  // Real 2D DFT: a few packed entries against the sums, then the inverse.
  a = data;
  ra = rows(a);
  rdft2d(n1, n2, 1, ra.data(), t.data(), tb.ip.data(), tb.w.data());
  auto R = [&](int k1, int k2, bool sine) {
    long double s = 0;
    for (int j1 = 0; j1 < n1; j1++)
      for (int j2 = 0; j2 < n2; j2++) {
        long double ang = 2 * Pi * ((long double)(j1 * k1 % n1) / n1 + (long double)(j2 * k2 % n2) / n2);
        s += data[j1 * n2 + j2] * (sine ? std::sin(ang) : std::cos(ang));
      }
    return static_cast<double>(s);
  };
  EXPECT_NEAR(a[0], R(0, 0, false), 1e-12);
  EXPECT_NEAR(a[1], R(0, n2 / 2, false), 1e-12);
  EXPECT_NEAR(a[(n1 / 2) * n2], R(n1 / 2, 0, false), 1e-12);
  EXPECT_NEAR(a[(n1 / 2) * n2 + 1], R(n1 / 2, n2 / 2, false), 1e-12);
  EXPECT_NEAR(a[3 * n2 + 2 * 5], R(3, 5, false), 1e-12);
  EXPECT_NEAR(a[6 * n2 + 2 * 2 + 1], R(6, 2, true), 1e-12);
  EXPECT_NEAR(a[2 * n2], R(2, 0, false), 1e-12);
  EXPECT_NEAR(a[2 * n2 + 1], R(2, 0, true), 1e-12);
  EXPECT_NEAR(a[(n1 - 2) * n2 + 1], R(2, n2 / 2, false), 1e-12);
  EXPECT_NEAR(a[(n1 - 2) * n2], -R(2, n2 / 2, true), 1e-12);
  rdft2d(n1, n2, -1, ra.data(), t.data(), tb.ip.data(), tb.w.data());
  for (int k = 0; k < n1 * n2; k++) EXPECT_NEAR(a[k] * 2.0 / (n1 * n2), data[k], 1e-13);

  // DCT and DST: rows then columns of the 1D routines; inverses.
  for (auto transform : {ddct2d, ddst2d}) {
    a = data;
    ra = rows(a);
    auto expect = data;
    Tables own(n2);
    for (int i = 0; i < n1; i++)
      (transform == ddct2d ? ddct : ddst)(n2, -1, &expect[i * n2], own.ip.data(), own.w.data());
    std::vector<double> col(n1);
    for (int j = 0; j < n2; j++) {
      for (int i = 0; i < n1; i++) col[i] = expect[i * n2 + j];
      (transform == ddct2d ? ddct : ddst)(n1, -1, col.data(), own.ip.data(), own.w.data());
      for (int i = 0; i < n1; i++) expect[i * n2 + j] = col[i];
    }
    Tables tb2(n2);
    std::vector<double> t2(n1);
    transform(n1, n2, -1, ra.data(), t2.data(), tb2.ip.data(), tb2.w.data());
    for (int k = 0; k < n1 * n2; k++) EXPECT_NEAR(a[k], expect[k], 1e-13);
    if (transform == ddst2d) {
      // The S[n] terms sit in line 0 and column 0 (see the 1D test).
      for (int j = 0; j < n2; j++) a[j] *= 0.5;
      for (int i = 0; i < n1; i++) a[i * n2] *= 0.5;
    }
    transform(n1, n2, 1, ra.data(), t2.data(), tb2.ip.data(), tb2.w.data());
    const double scale = transform == ddct2d ? 1.0 : 4.0 / (n1 * n2);
    for (int k = 0; k < n1 * n2; k++) EXPECT_NEAR(a[k] * scale, data[k], 1e-13);
  }
}

TEST(SplitRadix, TablesAreBuiltOnceAndServeShorterLengths) {
  Tables tb(64);
  auto a = random_values(16, 1);
  ddct(16, 1, a.data(), tb.ip.data(), tb.w.data());
  EXPECT_EQ(tb.ip[0], 4);
  EXPECT_EQ(tb.ip[1], 16);
  auto b = random_values(32, 2);
  ddct(32, 1, b.data(), tb.ip.data(), tb.w.data());
  EXPECT_EQ(tb.ip[0], 8);
  EXPECT_EQ(tb.ip[1], 32);
  // The longer tables, kept, still give the right transform of 16 values.
  auto c = random_values(16, 3), orig = c;
  ddct(16, 1, c.data(), tb.ip.data(), tb.w.data());
  EXPECT_EQ(tb.ip[0], 8);
  EXPECT_EQ(tb.ip[1], 32);
  for (int k = 0; k < 16; k++) {
    long double s = 0;
    for (int j = 0; j < 16; j++) s += orig[j] * std::cos(Pi * j * (k + 0.5L) / 16);
    EXPECT_NEAR(c[k], static_cast<double>(s), 1e-13);
  }
  auto d = random_values(8, 4), e = d;
  cdft(8, 1, d.data(), tb.ip.data(), tb.w.data());
  Tables fresh(8);
  cdft(8, 1, e.data(), fresh.ip.data(), fresh.w.data());
  for (int k = 0; k < 8; k++) EXPECT_NEAR(d[k], e[k], 1e-15);
}
