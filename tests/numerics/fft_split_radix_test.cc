// The power-of-two DFT/DCT/DST package against direct O(n²) sums, with its
// inverses and the reuse of its tables across lengths.
#include "numerics/fft_split_radix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "numerics/dft_reference.h"

using dft_ref::cplx;

namespace {

const long double Pi = 3.141592653589793238462643383279502884L;

std::vector<double> random_values(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1., 1.);
  std::vector<double> v(n);
  for (auto& x : v) x = u(gen);
  return v;
}

// out[k] = Σ_{j = from}^{to} term(j, k), k < count.
template <class Term>
std::vector<long double> sums(int count, int from, int to, Term term) {
  std::vector<long double> out(count);
  for (int k = 0; k < count; k++)
    for (int j = from; j <= to; j++) out[k] += term(j, k);
  return out;
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
    ASSERT_NEAR(got[k], static_cast<double>(want[k]), tol * static_cast<double>(scale))
        << what << " n=" << n << " k=" << k;
}

std::vector<long double> widen(const std::vector<double>& v) { return {v.begin(), v.end()}; }

std::vector<cplx> as_complex(const std::vector<double>& a) {
  std::vector<cplx> x(a.size() / 2);
  for (size_t k = 0; k < x.size(); k++) x[k] = cplx(a[2 * k], a[2 * k + 1]);
  return x;
}

// Powers of four and not (radix-4 stages with and without the radix-2 one).
const std::vector<int> Lengths = {2, 4, 8, 16, 32, 64, 128, 1024};

}  // namespace

TEST(SplitRadix, ComplexAndRealDftMatchDirectSumsAndInvert) {
  for (int n : Lengths) {
    for (int isgn : {1, -1}) {
      auto a = random_values(n, n + isgn), orig = a;
      Tables tb(n);
      cdft(n, isgn, a.data(), tb.ip.data(), tb.w.data());
      EXPECT_LT(dft_ref::max_rel_error(a.data(), dft_ref::dft(as_complex(orig), isgn)), 1e-14) << n;
      cdft(n, -isgn, a.data(), tb.ip.data(), tb.w.data());
      for (int j = 0; j < n; j++) ASSERT_NEAR(a[j] / (n / 2), orig[j], 1e-14) << n;
    }
    // Real DFT: R and I of the plain transform, packed with R[n/2] in a[1].
    auto a = random_values(n, n);
    std::vector<cplx> x(a.begin(), a.end());
    auto spectrum = dft_ref::dft(x, 1);
    std::vector<long double> want(n);
    for (int k = 0; k < n / 2; k++) {
      want[2 * k] = spectrum[k].real();
      want[2 * k + 1] = k == 0 ? spectrum[n / 2].real() : spectrum[k].imag();
    }
    Tables tb(n);
    rdft(n, 1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, want, 1e-14, "rdft", n);
    rdft(n, -1, a.data(), tb.ip.data(), tb.w.data());
    for (int j = 0; j < n; j++) ASSERT_NEAR(a[j] * 2.0 / n, static_cast<double>(x[j].real()), 1e-14);
  }
}

TEST(SplitRadix, DctBothDirectionsMatchDirectSumsAndInvert) {
  for (int n : Lengths) {
    auto orig = random_values(n, 3 * n), a = orig;
    auto type3 = sums(n, 0, n - 1, [&](int j, int k) { return orig[j] * std::cos(Pi * j * (k + 0.5L) / n); });
    auto type2 = sums(n, 0, n - 1, [&](int j, int k) {
      return orig[j] * std::cos(Pi * (j + 0.5L) * k / n) * 2 / n * (k == 0 ? 0.5L : 1.L);
    });
    Tables tb(n);
    ddct(n, 1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, type3, 1e-13, "ddct+", n);
    ddct(n, -1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, widen(orig), 1e-13, "ddct+-", n);
    ddct(n, -1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, type2, 1e-13, "ddct-", n);  // a[0] is then the mean
    ddct(n, 1, a.data(), tb.ip.data(), tb.w.data());
    expect_close(a, widen(orig), 1e-13, "ddct-+", n);
  }
}

TEST(SplitRadix, DstBothDirectionsMatchDirectSums) {
  for (int n : Lengths) {
    auto orig = random_values(n, 5 * n), a = orig;
    auto forward = sums(n, 1, n, [&](int j, int k) {
      return (j == n ? orig[0] : orig[j]) * std::sin(Pi * j * (k + 0.5L) / n);
    });
    // S[k] for k = 1 .. n, with S[n] stored in a[0].
    auto backward = sums(n, 0, n - 1, [&](int j, int k) {
      return orig[j] * std::sin(Pi * (j + 0.5L) * (k == 0 ? n : k) / n);
    });
    Tables tb(n);
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
    auto orig = random_values(n + 1, 7 * n), a = orig;
    std::vector<double> b(orig.begin(), orig.begin() + n), t(n / 2 + 1);
    auto cosine = sums(n + 1, 0, n, [&](int j, int k) { return orig[j] * std::cos(Pi * (j * k % (2 * n)) / n); });
    auto sine = sums(n, 1, n - 1, [&](int j, int k) { return orig[j] * std::sin(Pi * (j * k % (2 * n)) / n); });
    Tables tb(n);
    dfct(n, a.data(), t.data(), tb.ip.data(), tb.w.data());
    expect_close(a, cosine, 1e-13, "dfct", n);
    dfst(n, b.data(), t.data(), tb.ip.data(), tb.w.data());
    expect_close(b, sine, 1e-13, "dfst", n);
    // Inverses: halved end points for the cosine transform, then 2/n.
    a = orig;
    for (int pass = 0; pass < 2; pass++) {
      a[0] *= 0.5;
      a[n] *= 0.5;
      dfct(n, a.data(), t.data(), tb.ip.data(), tb.w.data());
    }
    for (int j = 0; j <= n; j++) EXPECT_NEAR(a[j] * 2.0 / n, orig[j], 1e-12) << n;
    dfst(n, b.data(), t.data(), tb.ip.data(), tb.w.data());
    for (int j = 1; j < n; j++) EXPECT_NEAR(b[j] * 2.0 / n, orig[j], 1e-12) << n;
    EXPECT_EQ(b[0], 0.);
  }
}

TEST(SplitRadix, TwoDimensionalForms) {
  const int n1 = 8, n2 = 16;
  const auto data = random_values(n1 * n2, 11);
  auto a = data;
  std::vector<double*> rows(n1);
  for (int i = 0; i < n1; i++) rows[i] = &a[i * n2];
  Tables tb(2 * n1 + n2);
  std::vector<double> t(2 * n1);

  // Complex: n1 rows of n2/2 values against the direct 2D sum.
  cdft2d(n1, n2, 1, rows.data(), t.data(), tb.ip.data(), tb.w.data());
  EXPECT_LT(dft_ref::max_rel_error(a.data(), dft_ref::dft2d(as_complex(data), n1, n2 / 2, 1)), 1e-14);

  // Real: the packing of the 2D transform R + iI of the real data.
  a = data;
  rdft2d(n1, n2, 1, rows.data(), t.data(), tb.ip.data(), tb.w.data());
  auto X = dft_ref::dft2d(std::vector<cplx>(data.begin(), data.end()), n1, n2, 1);
  auto R = [&](int k1, int k2) { return X[k1 * n2 + k2].real(); };
  auto I = [&](int k1, int k2) { return X[k1 * n2 + k2].imag(); };
  std::vector<long double> want(n1 * n2);
  for (int k1 = 0; k1 < n1; k1++)
    for (int k2 = 1; k2 < n2 / 2; k2++) {
      want[k1 * n2 + 2 * k2] = R(k1, k2);
      want[k1 * n2 + 2 * k2 + 1] = I(k1, k2);
    }
  for (int k1 = 1; k1 < n1 / 2; k1++) {
    want[k1 * n2] = R(k1, 0);
    want[k1 * n2 + 1] = I(k1, 0);
    want[(n1 - k1) * n2 + 1] = R(k1, n2 / 2);
    want[(n1 - k1) * n2] = -I(k1, n2 / 2);
  }
  for (int k1 : {0, n1 / 2}) {
    want[k1 * n2] = R(k1, 0);
    want[k1 * n2 + 1] = R(k1, n2 / 2);
  }
  expect_close(a, want, 1e-14, "rdft2d", n1);
  rdft2d(n1, n2, -1, rows.data(), t.data(), tb.ip.data(), tb.w.data());
  for (int k = 0; k < n1 * n2; k++) EXPECT_NEAR(a[k] * 2.0 / (n1 * n2), data[k], 1e-14);

  // DCT and DST: rows then columns of the 1D routines; inverses.
  for (auto transform : {ddct2d, ddst2d}) {
    auto one_d = transform == ddct2d ? ddct : ddst;
    auto expect = data;
    Tables own(n2), tb2(n2);
    std::vector<double> col(n1);
    for (int i = 0; i < n1; i++) one_d(n2, -1, &expect[i * n2], own.ip.data(), own.w.data());
    for (int j = 0; j < n2; j++) {
      for (int i = 0; i < n1; i++) col[i] = expect[i * n2 + j];
      one_d(n1, -1, col.data(), own.ip.data(), own.w.data());
      for (int i = 0; i < n1; i++) expect[i * n2 + j] = col[i];
    }
    a = data;
    transform(n1, n2, -1, rows.data(), col.data(), tb2.ip.data(), tb2.w.data());
    for (int k = 0; k < n1 * n2; k++) EXPECT_NEAR(a[k], expect[k], 1e-13);
    if (transform == ddst2d) {
      // The S[n] terms sit in line 0 and column 0 (see the 1D test).
      for (int j = 0; j < n2; j++) a[j] *= 0.5;
      for (int i = 0; i < n1; i++) a[i * n2] *= 0.5;
    }
    transform(n1, n2, 1, rows.data(), col.data(), tb2.ip.data(), tb2.w.data());
    const double scale = transform == ddct2d ? 1.0 : 4.0 / (n1 * n2);
    for (int k = 0; k < n1 * n2; k++) EXPECT_NEAR(a[k] * scale, data[k], 1e-13);
  }
}

TEST(SplitRadix, TablesAreBuiltOnceAndServeShorterLengths) {
  Tables tb(64);
  auto a = random_values(16, 1), b = random_values(32, 2);
  ddct(16, 1, a.data(), tb.ip.data(), tb.w.data());
  EXPECT_EQ(tb.ip[0], 4);
  EXPECT_EQ(tb.ip[1], 16);
  ddct(32, 1, b.data(), tb.ip.data(), tb.w.data());
  EXPECT_EQ(tb.ip[0], 8);
  EXPECT_EQ(tb.ip[1], 32);
  // The longer tables, kept, still give the right transform of 16 values.
  auto c = random_values(16, 3), orig = c;
  ddct(16, 1, c.data(), tb.ip.data(), tb.w.data());
  EXPECT_EQ(tb.ip[0], 8);
  EXPECT_EQ(tb.ip[1], 32);
  expect_close(c, sums(16, 0, 15, [&](int j, int k) { return orig[j] * std::cos(Pi * j * (k + 0.5L) / 16); }),
               1e-13, "ddct after 32", 16);
  auto d = random_values(8, 4), e = d;
  Tables fresh(8);
  cdft(8, 1, d.data(), tb.ip.data(), tb.w.data());
  cdft(8, 1, e.data(), fresh.ip.data(), fresh.w.data());
  for (int k = 0; k < 8; k++) EXPECT_NEAR(d[k], e[k], 1e-15);
}
