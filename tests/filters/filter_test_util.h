// Small helpers shared by the filter-bank tests: reproducible signals and
// comparisons.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

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

inline double max_abs_diff(const std::vector<float>& a, const std::vector<float>& b,
                           int from = 0, int to = -1) {
  if (to < 0) to = int(std::min(a.size(), b.size()));
  double m = 0.;
  for (int i = from; i < to; i++) m = std::max(m, std::fabs(double(a[i]) - double(b[i])));
  return m;
}

}  // namespace filter_test
