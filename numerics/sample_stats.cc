// Sample moments, entropy, tail counts, the cubic B-spline and normal quantiles.
#include "numerics/sample_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "array/fatal.h"
#include "array/sort.h"

const float* pixels_inside_border(const float* buffer, int nl, int nc, int border,
                                  std::vector<float>& work, int& n) {
  if (border < 1) {
    n = nl * nc;
    return buffer;
  }
  work.clear();
  for (int i = border; i < nl - border; ++i) {
    const float* line = buffer + int64_t(i) * nc;
    for (int j = border; j < nc - border; ++j) work.push_back(line[j]);
  }
  int64_t border_size = int64_t(border) * (2 * (int64_t(nl) + nc) - 4 * int64_t(border));
  int64_t expected = int64_t(nl) * nc - border_size;
  int64_t copied = static_cast<int64_t>(work.size());
  if (copied != expected)
    fatal_exitf(-1, stdout,
                "Error: SizeBorder = %d\n       p = %lld\n       N = %lld\n       Size = %lld\n",
                border, static_cast<long long>(copied), static_cast<long long>(expected),
                static_cast<long long>(border_size));
  n = static_cast<int>(copied);
  return work.data();
}

int signal_lines(const to_array<float, true>& signal) {
  return signal.naxis() == 1 ? 1 : signal.ny();
}

void moment4(const float* data, int N, double& mean, double& sigma, double& skewness,
             double& kurtosis, float& min, float& max) {
  skewness = kurtosis = sigma = 0.0;
  if (N <= 0) {
    min = max = 0.0f;
    mean = 0.0;
    return;
  }
  double sum = 0.0;
  min = max = data[0];
  for (int k = 0; k < N; ++k) {
    sum += data[k];
    min = std::min(min, data[k]);
    max = std::max(max, data[k]);
  }
  double m = sum / N;
  double sum2 = 0.0, sum3 = 0.0, sum4 = 0.0;
  for (int k = 0; k < N; ++k) {
    double d = data[k] - m;
    double d2 = d * d;
    sum2 += d2;
    sum3 += d2 * d;
    sum4 += d2 * d2;
  }
  double variance = sum2 / N;
  if (variance > 0.0) {
    sigma = std::sqrt(variance);
    skewness = (sum3 / N) / (sigma * sigma * sigma);
    kurtosis = (sum4 / N) / (sigma * sigma * sigma * sigma) - 3.0;
  }
  mean = m;
}

void im_moment4(const to_array<float, false>& ima, double& mean, double& sigma, double& skewness,
                double& kurtosis, float& min, float& max, int border) {
  std::vector<float> work;
  int n = 0;
  const float* pixels = pixels_inside_border(ima.buffer(), ima.nl(), ima.nc(), border, work, n);
  moment4(pixels, n, mean, sigma, skewness, kurtosis, min, max);
}

void im_moment4(const to_array<float, true>& signal, double& mean, double& sigma,
                double& skewness, double& kurtosis, float& min, float& max, int border) {
  std::vector<float> work;
  int n = 0;
  const float* pixels =
      pixels_inside_border(signal.buffer(), signal_lines(signal), signal.nx(), border, work, n);
  moment4(pixels, n, mean, sigma, skewness, kurtosis, min, max);
}

namespace {

// Raw moments m1 .. m4 of the sample, one pass in double.
struct RawMoments {
  double m1 = 0, m2 = 0, m3 = 0, m4 = 0;
  double variance() const { return m2 - m1 * m1; }
};

RawMoments raw_moments(const float* data, int N) {
  RawMoments m;
  if (N <= 0) return m;
  for (int k = 0; k < N; ++k) {
    double x = data[k];
    double x2 = x * x;
    m.m1 += x;
    m.m2 += x2;
    m.m3 += x2 * x;
    m.m4 += x2 * x2;
  }
  m.m1 /= N;
  m.m2 /= N;
  m.m3 /= N;
  m.m4 /= N;
  return m;
}

}  // namespace

double skewness(const float* data, int N) {
  RawMoments m = raw_moments(data, N);
  double v = m.variance();
  if (!(v > 0.0)) return 0.0;
  return (m.m3 - 3.0 * m.m1 * m.m2 + 2.0 * m.m1 * m.m1 * m.m1) / std::pow(v, 1.5);
}

double curtosis(const float* data, int N) {
  RawMoments m = raw_moments(data, N);
  double v = m.variance();
  if (!(v > 0.0)) return 0.0;
  double m1sq = m.m1 * m.m1;
  return (m.m4 - 4.0 * m.m1 * m.m3 + 6.0 * m.m2 * m1sq - 3.0 * m1sq * m1sq) / (v * v) - 3.0;
}

double entropy(const float* data, int N, float bin_width) {
  if (N <= 0) return 0.0;
  if (!(bin_width > 0.0f))
    fatal_exitf(-1, stdout, "Error in entropy  function ... \nbin width = %g\n", bin_width);
  float min = data[0], max = data[0];
  for (int k = 0; k < N; ++k) {
    min = std::min(min, data[k]);
    max = std::max(max, data[k]);
  }
  double w = bin_width;
  double range = double(max) - double(min);
  // (range + 1)/w bins, but never fewer than the maximum's own bin needs:
  // with w > 1 the maximum lands in bin floor(range / w).
  double bins = std::max(std::floor((range + 1.0) / w), std::floor(range / w) + 1.0);
  if (!(bins < double(std::numeric_limits<int>::max())))
    fatal_exitf(-1, stdout, "Error in entropy  function ... \nNbr_Val = %g\n", bins);
  int nb = static_cast<int>(bins);
  std::vector<int> counts(nb, 0);
  for (int k = 0; k < N; ++k) {
    double position = (double(data[k]) - double(min)) / w;
    if (!(position >= 0.0 && position < nb))
      fatal_exitf(-1, stdout, "Error in entropy  function ... \nNbr_Val = %d Ind = %g\n", nb,
                  std::floor(position));
    counts[static_cast<int>(position)]++;
  }
  double result = 0.0;
  const double ln2 = std::log(2.0);
  for (int c : counts) {
    if (c <= 0) continue;
    double f = double(c) / N;
    result -= f * std::log(f) / ln2;
  }
  return result;
}

double b3_spline(double x) {
  auto cube = [](double v) { v = std::fabs(v); return v * v * v; };
  return (cube(x - 2) - 4 * cube(x - 1) + 6 * cube(x) - 4 * cube(x + 1) + cube(x + 2)) / 12.0;
}

double xerf(double u) {
  double p = u > 0.5 ? 1.0 - u : u;
  if (p < 1.11077e-16) return 0.0;
  double t = std::sqrt(-2.0 * std::log(p));
  double z = t - (2.30753 + 0.27061 * t) / (1.0 + 0.99229 * t + 0.04481 * t * t);
  return u > 0.5 ? -z : z;
}

double inverfc(double y) {
  if (!(y > 0.0)) return std::numeric_limits<double>::infinity();
  if (!(y < 2.0)) return -std::numeric_limits<double>::infinity();
  double z = y > 1.0 ? 2.0 - y : y;
  double w = 0.916461398268964 - std::log(z);
  double u = std::sqrt(w);
  double s = (std::log(u) + 0.488826640273108) / w;
  double t = 1.0 / (u + 0.231729200323405);
  double x = u * (1.0 - s * (0.124610454613712 * s + 0.5)) -
             t * (0.499999303439796 +
                  t * (0.116065025341614 +
                       t * (0.150689047360223 + t * (0.269999308670029 - 0.0728846765585675 * t))));
  t = 3.97886080735226 / (x + 3.97886080735226);
  u = t - 0.5;
  static const double kPoly[23] = {
      0.24404451059319093,   0.4343974923314301,    0.6862659482740978,
      0.956464974744799,     1.1637458193156083,    1.2144873077999523,
      1.0537502497084714,    0.7136576358687303,    0.3168476385201359,
      0.014729793833148512,  -0.1058721779415955,   -0.07434243572417848,
      0.002209959270121791,  0.03464942077890999,   0.014296198869789802,
      -0.01185981170477711,  -0.011274916933250487, 0.0033972191036777586,
      0.006856494260745586,  -0.000771708358954121, -0.003512871461291,
      0.00010573929962342305, 0.0011264809618897792};
  double poly = kPoly[22];
  for (int k = 21; k >= 0; --k) poly = poly * u + kPoly[k];
  s = poly * t - z * std::exp(x * x - 0.12078223763524522);
  x += s * (x * s + 1.0);
  return y > 1.0 ? -x : x;
}

double xerfc(double p) {
  p = std::min(std::max(p, 0.0), 1.0);
  const double sqrt2 = std::sqrt(2.0);
  if (p > 0.5) return sqrt2 * inverfc(2.0 * (1.0 - p));
  return -sqrt2 * inverfc(2.0 * p);
}

void survival(const to_array<float, true>& data, to_array<float, true>& surv, int np,
              float max_val, Bool normalize, float sigma, float mean) {
  if (np < 2)
    fatal_exitf(-1, stdout, "Error: survival needs at least two thresholds, got %d\n", np);
  int n = data.n_elem();
  std::vector<double> values(data.buffer(), data.buffer() + n);
  if (normalize && n > 0) {
    double m = mean == -1.0f ? data.mean() : double(mean);
    double sd = sigma == 0.0f ? data.sigma() : double(sigma);
    for (double& x : values) x = (x - m) / sd;
  }
  surv.alloc(np, 2, nullptr);
  for (int i = 0; i < np; ++i) surv(i, 0) = 2.0f * i / (np - 1) * max_val - max_val;
  sort_from0(values.size(), values.data());

  // Lower half: negative values below each threshold, rising thresholds.
  int below = 0;
  for (int i = 0; i < np / 2; ++i) {
    while (below < n && values[below] < surv(i, 0) && values[below] < 0.0) ++below;
    surv(i, 1) = static_cast<float>(below);
  }
  // Upper half: positive values above each threshold, falling thresholds.
  int above = 0;
  for (int i = np - 1; i >= np / 2; --i) {
    while (above < n && values[n - 1 - above] > surv(i, 0) && values[n - 1 - above] > 0.0)
      ++above;
    surv(i, 1) = static_cast<float>(above);
  }
}
