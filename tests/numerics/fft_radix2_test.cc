// The centred radix-2 FFT against the direct centred DFT sum, its exact
// values on deltas and constants, its bit-reversal map and its refusals.
#include "numerics/fft_radix2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "numerics/dft_reference.h"
#include "support/death.h"

using dft_ref::cplx;
using dft_ref::max_rel_error;
using Icf = to_array<std::complex<float>, false>;

namespace {

std::vector<complex_float> to_cf(const std::vector<cplx>& x) {
  std::vector<complex_float> v(x.size());
  for (size_t k = 0; k < x.size(); k++)
    v[k] = {static_cast<float>(x[k].real()), static_cast<float>(x[k].imag())};
  return v;
}

long double error(const std::vector<complex_float>& v, const std::vector<cplx>& ref) {
  return max_rel_error(&v[0].re, ref);
}

}  // namespace

TEST(Radix2Fft, LinesMatchCentredDft) {
  for (int n : {1, 2, 4, 8, 64, 512}) {
    auto x = dft_ref::random_signal(n, n);
    for (int dir : {1, -1}) {
      auto v = to_cf(x);
      ft_cf_1d(v.data(), dir, n);
      auto ref = dft_ref::dft(x, dir, true);
      if (dir == -1)
        for (auto& r : ref) r /= static_cast<long double>(n);
      EXPECT_LT(error(v, ref), 2e-6) << n << " " << dir;
    }
  }
}

// The 2D transform is exactly the line transform along rows, then columns
// (images against direct sums: the FFTN_2D tests). The sides cover lines
// one by one (2, 8) and eight at a time with every grouping of the stages
// (16 to 128); the inverse's division by n·n equals two divisions by n.
TEST(Radix2Fft, ImageTransformIsTheLineTransformOnRowsThenColumns) {
  for (int n : {2, 8, 16, 32, 64, 128}) {
    for (int dir : {1, -1}) {
      auto x = to_cf(dft_ref::random_signal(n * n, n));
      auto by_lines = x;
      std::vector<complex_float> line(n);
      for (int i = 0; i < n; i++) ft_cf_1d(&by_lines[i * n], dir, n);
      for (int j = 0; j < n; j++) {
        for (int i = 0; i < n; i++) line[i] = by_lines[i * n + j];
        ft_cf_1d(line.data(), dir, n);
        for (int i = 0; i < n; i++) by_lines[i * n + j] = line[i];
      }
      ft_cf_any_power_of_2(x.data(), dir, n);
      for (int k = 0; k < n * n; k++) {
        ASSERT_EQ(x[k].re, by_lines[k].re) << n << " " << dir << " at " << k;
        ASSERT_EQ(x[k].im, by_lines[k].im) << n << " " << dir << " at " << k;
      }
    }
  }
}

TEST(Radix2Fft, CentredDeltaAndConstant) {
  const int n = 16;
  to_array<float, false> delta(n, n);
  delta(n / 2, n / 2) = 1.f;
  Icf spec(n, n);
  fft2d(delta, spec, 1);
  for (int k = 0; k < n * n; k++) EXPECT_EQ(spec(k), std::complex<float>(1.f)) << k;
  to_array<int, false> ones(n, n);
  ones.init(1);
  fft2d(ones, spec, 1);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      EXPECT_NEAR(std::abs(spec(i, j)), (i == n / 2 && j == n / 2) ? n * n : 0.f, 1e-3);
  // The image form and the copying form agree; -1 takes the inverse.
  Icf copy(spec);
  fft2d(spec, -1);
  fft2d(copy, copy, -1);
  for (int k = 0; k < n * n; k++) EXPECT_EQ(spec(k), copy(k));
  for (int k = 0; k < n * n; k++) EXPECT_NEAR(spec(k).real(), 1.f, 1e-6);
}

TEST(Radix2Fft, BitReversalPairs) {
  EXPECT_EQ(rev_map_count(8, 3), 2);
  int pairs[2][2] = {{0, 0}, {0, 0}};
  set_rev_map({2, 8, pairs});
  EXPECT_EQ(pairs[0][0], 1);
  EXPECT_EQ(pairs[0][1], 4);
  EXPECT_EQ(pairs[1][0], 3);
  EXPECT_EQ(pairs[1][1], 6);
  // The count formula is the exact number of exchanged pairs.
  for (int m = 1; m <= 12; m++) {
    int n = 1 << m, count = 0;
    for (int i = 0; i < n; i++) {
      int j = 0;
      for (int b = 0; b < m; b++)
        if (i & (1 << b)) j |= 1 << (m - 1 - b);
      count += j > i;
    }
    EXPECT_EQ(rev_map_count(n, m), count) << n;
  }
}

TEST(Radix2Fft, LineWrappers) {
  const int n = 16;
  auto x = dft_ref::random_signal(n, 4);
  to_array<std::complex<float>, true> in(n), out(n);
  to_array<float, true> real_in(n);
  for (int k = 0; k < n; k++) {
    in(k) = std::complex<float>(x[k]);
    real_in(k) = static_cast<float>(x[k].real());
  }
  fft1d(in, out, 1);
  EXPECT_LT(max_rel_error(reinterpret_cast<float*>(out.buffer()), dft_ref::dft(x, 1, true)), 2e-6);
  fft1d(real_in, out, 1);
  for (auto& v : x) v = v.real();
  EXPECT_LT(max_rel_error(reinterpret_cast<float*>(out.buffer()), dft_ref::dft(x, 1, true)), 2e-6);
}

TEST(Radix2Fft, ConvolutionWithCentredDeltaIsIdentityOrShift) {
  const int n = 32;
  to_array<float, false> image(n, n), kernel(n, n), result(n, n);
  for (int k = 0; k < n * n; k++) image(k) = static_cast<float>((k * 37) % 11) - 5.f;
  for (int down : {0, 1}) {
    kernel.init();
    kernel(n / 2 + down, n / 2) = 1.f;
    fft2d_conv(image, kernel, result);
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) EXPECT_NEAR(result(i, j), image((i + n - down) % n, j), 1e-4);
  }
}

// Lengths and sizes the transform cannot take end the process rather than
// leave untransformed values behind.
TEST(Radix2FftDeathTest, RefusesWhatItCannotTransform) {
  std::vector<complex_float> v(36);
  EXPECT_EXIT_STATUS(ft_cf_any_power_of_2(v.data(), 1, 6), 255, "error: is not a power of two");
  EXPECT_EXIT_STATUS(ft_cf_1d(v.data(), 1, 6), 255, "array size= 6,not a power of 2");
  Icf wide(8, 16), small(4, 4);
  EXPECT_EXIT_STATUS(fft2d(wide, 1), 255, "square image");
  to_array<float, false> image(8, 8), small_result(4, 4);
  EXPECT_EXIT_STATUS(fft2d(image, small, 1), 255, "result holds 16 values, 64 are needed");
  EXPECT_EXIT_STATUS(fft2d_conv(image, image, small_result), 255, "one size");
  to_array<std::complex<float>, true> line(8), short_line(4);
  EXPECT_EXIT_STATUS(fft1d(line, short_line, 1), 255, "result holds 4 values");
  EXPECT_EXIT_STATUS(fft1d(line, line, 2), 255, "direction must be 1 or -1");
}
