// Helpers shared by the filter-bank tests: reproducible signals, reference
// reads under the border rules, comparisons and round trips.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "array/base_types.h"
#include "filters/sub_band_1d.h"

namespace filter_test {

// Uniform values in [-1, 1), or integers in [-100, 100] when integer is set.
inline std::vector<float> random_signal(int n, unsigned seed, bool integer = false) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> uni(-1.f, 1.f);
  std::uniform_int_distribution<int> ints(-100, 100);
  std::vector<float> x(n);
  for (auto& v : x) v = integer ? float(ints(gen)) : uni(gen);
  return x;
}

// x at any position i under a border rule, from the rules' definitions
// (mirror only within one length outside).
inline double read(const std::vector<float>& x, int i, type_border rule) {
  int n = int(x.size());
  if (i >= 0 && i < n) return x[i];
  switch (rule) {
    case I_ZERO: return 0.;
    case I_PERIOD: return x[((i % n) + n) % n];
    case I_CONT: return x[i < 0 ? 0 : n - 1];
    default: return x[i < 0 ? -i : 2 * n - i - 2];
  }
}

inline double max_abs_diff(const std::vector<float>& a, const std::vector<float>& b,
                           int from = 0, int to = -1) {
  if (to < 0) to = int(std::min(a.size(), b.size()));
  double m = 0.;
  for (int i = from; i < to; i++) m = std::max(m, std::fabs(double(a[i]) - double(b[i])));
  return m;
}

struct Bands {
  std::vector<float> low, high, back;
};

// Analysis then synthesis through any bank: decimated when step is 0,
// undecimated at that step otherwise. The bands are kept as the analysis
// left them (some syntheses work in place) and have room for either phase.
inline Bands round_trip(SubBand1D& bank, const std::vector<float>& x, int step = 0) {
  int n = int(x.size()), m = step ? n : n / 2 + 1;
  Bands b{std::vector<float>(m), std::vector<float>(m), std::vector<float>(n)};
  std::vector<float> in = x;
  if (step) bank.transform(n, in.data(), b.low.data(), b.high.data(), step);
  else bank.transform(n, in.data(), b.low.data(), b.high.data());
  std::vector<float> low = b.low, high = b.high;
  if (step) bank.recons(n, low.data(), high.data(), b.back.data(), step);
  else bank.recons(n, low.data(), high.data(), b.back.data());
  return b;
}

}  // namespace filter_test
