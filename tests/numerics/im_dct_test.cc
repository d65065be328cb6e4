// Radix-2 FFT, real FFT, DCT-II and the 2D image DCT and DST against direct
// O(n²) sums in double precision, and their inverses.
#include "numerics/im_dct.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "support/test_images.h"
#include "support/death.h"

namespace {

const double Pi = 3.14159265358979323846;

std::vector<float> random_values(int n, unsigned seed) {
  to_array<float, false> v = random_image(1, n, seed);
  return std::vector<float>(v.buffer(), v.buffer() + n);
}

// Direct DFT with the exponent sign isign.
std::vector<std::complex<double>> naive_dft(const std::vector<std::complex<double>>& x, int isign) {
  const int n = static_cast<int>(x.size());
  std::vector<std::complex<double>> out(n);
  for (int k = 0; k < n; k++)
    for (int j = 0; j < n; j++) out[k] += x[j] * std::polar(1.0, isign * 2 * Pi * double(j) * k / n);
  return out;
}

// Σ w_k y_k cos(πk(j+½)/n) over the first index of the cosine, summed over
// the second: the DCT-II (inverse = false) or its inverse with k = 0 halved.
std::vector<double> naive_dct2(const std::vector<float>& y, bool inverse) {
  const int n = static_cast<int>(y.size());
  std::vector<double> out(n, 0.);
  for (int a = 0; a < n; a++)
    for (int b = 0; b < n; b++) {
      const int k = inverse ? b : a, j = inverse ? a : b;
      out[a] += (inverse && k == 0 ? 0.5 : 1.) * y[b] * std::cos(Pi * k * (j + 0.5) / n);
    }
  return out;
}

}  // namespace

TEST(Four1AndRealft, MatchTheDirectDftAndInvertToHalfN) {
  for (int n : {2, 8, 128}) {
    const double tol = 2e-5 * n;
    for (int isign : {1, -1}) {  // n complex values, both exponent signs
      std::vector<float> data = random_values(2 * n, n + isign);
      std::vector<std::complex<double>> x(n);
      for (int k = 0; k < n; k++) x[k] = {data[2 * k], data[2 * k + 1]};
      auto expected = naive_dft(x, isign);
      four1(data.data() - 1, n, isign);
      for (int k = 0; k < n; k++)
        EXPECT_NEAR(std::abs(std::complex<double>(data[2 * k], data[2 * k + 1]) - expected[k]), 0, tol);
    }
    // n real values: F_0, F_{n/2}, then F_1 .. F_{n/2-1}; back to n/2 times the input.
    std::vector<float> input = random_values(n, n), data = input;
    auto spectrum = naive_dft(std::vector<std::complex<double>>(input.begin(), input.end()), 1);
    realft(data.data() - 1, n, 1);
    EXPECT_NEAR(data[0], spectrum[0].real(), tol);
    EXPECT_NEAR(data[1], spectrum[n / 2].real(), tol);
    for (int k = 1; k < n / 2; k++)
      EXPECT_NEAR(std::abs(std::complex<double>(data[2 * k], data[2 * k + 1]) - spectrum[k]), 0, tol);
    realft(data.data() - 1, n, -1);
    for (int j = 0; j < n; j++) EXPECT_NEAR(data[j], input[j] * n / 2, tol);
  }
}

TEST(Cosft2, MatchesDirectSumsAndInvertsUpToTwoOverN) {
  for (int n : {2, 4, 16, 512}) {
    const double tol = 2e-6 * n;
    for (bool inverse : {false, true}) {
      std::vector<float> y = random_values(n, 3 * n + inverse);
      auto expected = naive_dct2(y, inverse);
      cosft2(y.data() - 1, n, inverse ? -1 : 1);
      for (int k = 0; k < n; k++) EXPECT_NEAR(y[k], expected[k], tol) << n << " " << k;
    }
  }
  std::vector<float> input = random_values(8, 11), y = input;
  cosft2(y.data() - 1, 8, 0);  // any other direction leaves the vector alone
  EXPECT_EQ(y, input);
}

TEST(ImDct, SquareImageMatchesDirectFormula) {
  for (int n : {2, 8}) {  // an 8 x 8 block of constant c gives 16·c at (0, 0) alone
    to_array<float, false> in = random_image(n, n, 7), out;
    im_dct(in, out, False);
    ASSERT_EQ(out.nl(), n);
    ASSERT_EQ(out.nc(), n);
    for (int u = 0; u < n; u++)
      for (int v = 0; v < n; v++) {
        double sum = 0.;
        for (int i = 0; i < n; i++)
          for (int j = 0; j < n; j++)
            sum += in(i, j) * std::cos(Pi * u * (i + 0.5) / n) * std::cos(Pi * v * (j + 0.5) / n);
        EXPECT_NEAR(out(u, v), 2. / n * sum, 1e-4) << u << " " << v;
      }
  }
}

TEST(ImDct, IsExactlyCosft2OnTheLinesThenTheColumns) {
  // The block transforms run many vectors together; every value must be the
  // one of the one-vector routine, bit for bit.
  const int nl = 16, nc = 8;
  to_array<float, false> in = random_image(nl, nc, 9), out;
  std::vector<float> expected(in.buffer(), in.buffer() + nl * nc), column(nl);
  for (int i = 0; i < nl; i++) cosft2(expected.data() + i * nc - 1, nc, 1);
  for (int j = 0; j < nc; j++) {
    for (int i = 0; i < nl; i++) column[i] = expected[i * nc + j];
    cosft2(column.data() - 1, nl, 1);
    for (int i = 0; i < nl; i++) expected[i * nc + j] = column[i];
  }
  const float scale = static_cast<float>(2.0 / std::sqrt(double(nl) * nc));
  im_dct(in, out, False);
  for (int k = 0; k < nl * nc; k++) ASSERT_EQ(out(k), expected[k] * scale) << k;
}

TEST(ImDctAndDst, InversesUndoTheForwardTransforms) {
  for (auto size : {std::pair<int, int>{2, 2}, {64, 64}, {8, 32}, {128, 4}, {4, 2}}) {
    const int nl = size.first, nc = size.second;
    to_array<float, false> in = random_image(nl, nc, nl + nc), trans, back;
    for (auto transform : {im_dct, im_dst}) {
      transform(in, trans, False);
      transform(trans, back, True);
      ASSERT_EQ(back.nl(), nl);
      ASSERT_EQ(back.nc(), nc);
      for (int k = 0; k < in.n_elem(); k++) ASSERT_NEAR(back(k), in(k), 2e-5) << nl << "x" << nc;
    }
  }
}

TEST(ImDst, ForwardMatchesDirectSineSum) {
  // Along each axis of n samples, sample j stands for sine index j, and
  // sample 0 for index n: S(k) = Σ a(j)·sin(π·j'·(k + ½)/n).
  const int nl = 8, nc = 16;
  to_array<float, false> in = random_image(nl, nc, 77), out;
  im_dst(in, out, False);
  auto index = [](int j, int n) { return j == 0 ? n : j; };
  for (int u = 0; u < nl; u++)
    for (int v = 0; v < nc; v++) {
      double sum = 0.;
      for (int i = 0; i < nl; i++)
        for (int j = 0; j < nc; j++)
          sum += in(i, j) * std::sin(Pi * index(i, nl) * (u + 0.5) / nl) *
                 std::sin(Pi * index(j, nc) * (v + 0.5) / nc);
      EXPECT_NEAR(out(u, v), sum, 1e-4) << u << " " << v;
    }
}

TEST(ImDctAndDst, RefuseSidesTheRoutinesCannotTransform) {
  to_array<float, false> single(1, 4), odd(12, 16), out;
  EXPECT_EXIT_STATUS(im_dct(single, out, False), 255, "powers of two of at least 2");
  EXPECT_EXIT_STATUS(im_dct(odd, out, True), 255, "Nl = 12 Nc = 16");
  EXPECT_EXIT_STATUS(im_dst(odd, out, False), 255, "Error in im_dst");
}
