// The short-line FFT against a long-double direct DFT over every length it
// takes, both directions and several lines per call, and its bit-reversed
// result order.
#include <gtest/gtest.h>

#include <complex>
#include <random>
#include <vector>

#include "numerics/short_fft.h"
#include "numerics/dft_reference.h"
#include "support/tolerance.h"

namespace {

TEST(ShortFFT, HandlesPowersOfTwoFromTwo) {
  const struct {
    int n;
    bool handled;
  } cases[] = {{0, false}, {1, false}, {2, true},  {3, false},     {12, false},
               {16, true}, {48, false}, {4096, true}, {8192, false}, {-4, false}};
  for (const auto& c : cases) EXPECT_EQ(ShortFFT::handles(c.n), c.handled) << c.n;
}

TEST(ShortFFT, MatchesDirectDftOnEveryLength) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> value(-1.f, 1.f);
  ShortFFT fft;
  constexpr int Lines = 3;
  for (int n = 2; n <= 1024; n *= 2)
    for (int sign : {1, -1}) {
      std::vector<float> data(2 * n * Lines);
      for (float& v : data) v = value(rng);
      const std::vector<float> input = data;
      fft.transform_lines(data.data(), n, Lines, sign);
      const int* order = fft.bit_reversed(n);
      for (int l = 0; l < Lines; l++) {
        std::vector<dft_ref::cplx> line(n);
        for (int j = 0; j < n; j++)
          line[j] = dft_ref::cplx(input[2 * (l * n + j)], input[2 * (l * n + j) + 1]);
        const std::vector<dft_ref::cplx> expected = dft_ref::dft(line, sign);
        long double error = 0, norm = 0;
        for (int q = 0; q < n; q++) {
          const float* got = &data[2 * (l * n + order[q])];
          error += std::norm(expected[q] - dft_ref::cplx(got[0], got[1]));
          norm += std::norm(expected[q]);
        }
        EXPECT_LE(std::sqrt(static_cast<double>(error / norm)),
                  qz_test::transform_tolerance<float>(n))
            << "n = " << n << " sign = " << sign << " line " << l;
      }
    }
}

TEST(ShortFFT, BitReversedOrderIsAnInvolution) {
  ShortFFT fft;
  for (int n = 2; n <= 256; n *= 2) {
    const int* order = fft.bit_reversed(n);
    std::vector<int> seen(n, 0);
    for (int q = 0; q < n; q++) {
      ASSERT_GE(order[q], 0);
      ASSERT_LT(order[q], n);
      seen[order[q]]++;
      EXPECT_EQ(order[order[q]], q) << "n = " << n;
    }
    for (int q = 0; q < n; q++) EXPECT_EQ(seen[q], 1);
    if (n >= 4) {
      EXPECT_EQ(order[1], n / 2);
    }
  }
}

}  // namespace
