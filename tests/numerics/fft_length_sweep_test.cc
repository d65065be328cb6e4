// The mixed-radix engine at every length from 1 to 2048, in both precisions,
// against a direct DFT sum: every factor kernel, every permutation and the
// chirp convolution of large primes (such as 2039) are taken by some length.
// The range is cut into slices of equal work so that they run in parallel.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "numerics/dft_reference.h"
#include "numerics/fftn.h"
#include "support/tolerance.h"

namespace {

constexpr int MaxLength = 2048;
constexpr int Slices = 16;

// First length of slice s: the cost of a direct sum grows as n², so slice
// ends go as the cube root of the work done.
int slice_start(int s) {
  return 1 + static_cast<int>(MaxLength * std::cbrt(static_cast<double>(s) / Slices));
}

template <class T>
double error_of(const std::vector<std::complex<double>>& x,
                const std::vector<std::complex<double>>& ref, int sign) {
  const int n = static_cast<int>(x.size());
  std::vector<std::complex<T>> got(x.begin(), x.end());
  T* values = reinterpret_cast<T*>(got.data());
  int status = std::is_same<T, float>::value
                   ? fftnf(1, &n, reinterpret_cast<float*>(values),
                           reinterpret_cast<float*>(values) + 1, 2 * sign, 0.)
                   : fftn(1, &n, reinterpret_cast<double*>(values),
                          reinterpret_cast<double*>(values) + 1, 2 * sign, 0.);
  if (status != 0) return INFINITY;
  std::vector<std::complex<double>> wide(got.begin(), got.end());
  return qz_test::relative_l2_error(wide.data(), ref.data(), wide.size());
}

class FftLengthSweep : public testing::TestWithParam<int> {};

}  // namespace

TEST_P(FftLengthSweep, EveryLengthMatchesTheDirectSum) {
  const int slice = GetParam();
  for (int n = slice_start(slice); n < slice_start(slice + 1); n++) {
    const auto signal = dft_ref::random_signal(n, 7u * n);
    const std::vector<std::complex<double>> x(signal.begin(), signal.end());
    // The sign alternates every two lengths: odd and even lengths (primes
    // among them) take both directions.
    const int sign = (n / 2) % 2 == 0 ? 1 : -1;
    const auto ref = dft_ref::dft_fast(x, sign);
    EXPECT_LT(error_of<double>(x, ref, sign), qz_test::transform_tolerance<double>(n))
        << "n=" << n;
    EXPECT_LT(error_of<float>(x, ref, sign), qz_test::transform_tolerance<float>(n)) << "n=" << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Slices, FftLengthSweep, testing::Range(0, Slices));
