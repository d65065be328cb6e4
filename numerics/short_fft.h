// Many short complex lines of one power-of-two length through one FFT call:
// the ridgelet's 1D transforms run thousands of lines of 2 to a few hundred
// values, where the general engine's per-line set-up and copies cost more
// than the butterflies. Twiddles are tabulated once per length and
// direction; the lines stay where they are, and the result is left in
// bit-reversed order, for the caller reads every value through an index
// anyway (its unpacking reorders the values) and can take the permutation
// there instead of in a pass of its own.
#pragma once

#include <cstddef>
#include <vector>

class ShortFFT {
 public:
  // Whether transform_lines takes lines of n values: n a power of two, 2 to
  // MaxLength.
  static bool handles(int n);
  static constexpr int MaxLength = 1 << 12;

  // Transforms count lines of n complex values, line k at data + 2·n·k
  // (interleaved re, im), in place: X[q] = Σ_j x[j]·exp(sign·2πi·jq/n),
  // unscaled, sign +1 or -1. Frequency q of a line ends at index
  // bit_reversed(n)[q] of that line. n must pass handles().
  void transform_lines(float* data, int n, size_t count, int sign);
  // Index of frequency q in a transformed line of n values.
  const int* bit_reversed(int n);

 private:
  struct Plan {
    int n = 0, sign = 0;
    // Twiddles of the passes of span 8 and more, one pass after the other
    // (see append_pass_twiddles).
    std::vector<float> twiddles;
    std::vector<int> reversed;
  };
  const Plan& plan(int n, int sign);
  std::vector<Plan> plans_;
};
