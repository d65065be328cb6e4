// Higher criticism, the excess-of-large-values test and false-discovery cuts.
#include "numerics/gauss_tests.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "array/sort.h"
#include "numerics/noise_estimators.h"
#include "numerics/sample_stats.h"

namespace {

// Below this a quantity counts as zero (float resolution near 1).
constexpr double kTiny = 5.96047e-8;

// sqrt(Σx²/N - mean²), 0 when not positive.
float spread_about(const float* data, int N, float mean) {
  double sum2 = 0.0;
  for (int k = 0; k < N; ++k) sum2 += double(data[k]) * data[k];
  double variance = sum2 / N - double(mean) * mean;
  return variance > 0.0 ? static_cast<float>(std::sqrt(variance)) : 0.0f;
}

float sample_mean(const float* data, int N) {
  double sum = 0.0;
  for (int k = 0; k < N; ++k) sum += data[k];
  return static_cast<float>(sum / N);
}

}  // namespace

void hc_test(const float* data, int N, float& HC1, float& HC2, float sigma, float mean) {
  HC1 = HC2 = 0.0f;
  if (N <= 0 || !(sigma > 0.0f)) return;
  std::vector<double> p(N);
  int low = 0, high = 0;
  const double inv_n = 1.0 / N;
  for (int k = 0; k < N; ++k) {
    float z = (data[k] - mean) / sigma;
    p[k] = 1.0 - (std::erf(z / std::sqrt(2.0)) + 1.0) / 2.0;
    if (p[k] < inv_n) ++low;
    if (p[k] > 1.0 - inv_n) ++high;
  }
  sort_from0(p.size(), p.data());
  const double sqrt_n = std::sqrt(double(N));
  double hc1 = 0.0, hc2 = 0.0;
  for (int i = 0; i < N; ++i) {
    double d = std::sqrt(p[i] - p[i] * p[i]);
    double h = d > kTiny ? std::fabs(((i + 1) / double(N) - p[i]) * sqrt_n / d) : 0.0;
    hc1 = std::max(hc1, h);
    if (i >= low && i <= N - high - 1) hc2 = std::max(hc2, h);
  }
  HC1 = static_cast<float>(hc1);
  HC2 = static_cast<float>(hc2);
}

void hc_test(const float* data, int N, float& HC1, float& HC2, float mean) {
  if (N <= 0) {
    HC1 = HC2 = 0.0f;
    return;
  }
  hc_test(data, N, HC1, HC2, spread_about(data, N, mean), mean);
}

void hc_test(const float* data, int N, float& HC1, float& HC2) {
  if (N <= 0) {
    HC1 = HC2 = 0.0f;
    return;
  }
  float mean = sample_mean(data, N);
  hc_test(data, N, HC1, HC2, spread_about(data, N, mean), mean);
}

namespace {

void hc_test_inside(const float* buffer, int nl, int nc, float& HC1, float& HC2, int border,
                    Bool zero_mean) {
  std::vector<float> work;
  int n = 0;
  const float* pixels = pixels_inside_border(buffer, nl, nc, border, work, n);
  if (zero_mean) hc_test(pixels, n, HC1, HC2, 0.0f);
  else hc_test(pixels, n, HC1, HC2);
}

}  // namespace

void im_hc_test(const to_array<float, false>& ima, float& HC1, float& HC2, int border,
                Bool zero_mean) {
  hc_test_inside(ima.buffer(), ima.nl(), ima.nc(), HC1, HC2, border, zero_mean);
}

void im_hc_test(const to_array<float, true>& signal, float& HC1, float& HC2, int border,
                Bool zero_mean) {
  hc_test_inside(signal.buffer(), signal_lines(signal), signal.nx(), HC1, HC2, border, zero_mean);
}

float root(float ratio) {
  const float c[9] = {1.0f - ratio, 0.0f, 2.0f - 2.0f * ratio, -1.0f, 1.1f,
                      -1.0f,        0.35f, -0.05f,             0.0025f};
  float r = 1.0f;
  for (int step = 0; step < 20; ++step) {
    // P(r) and P'(r) in one pass; power holds r^(k-1).
    float value = c[0], slope = 0.0f, power = 1.0f;
    for (int k = 1; k <= 8; ++k) {
      slope += k * c[k] * power;
      power *= r;
      value += c[k] * power;
    }
    r -= value / slope;
  }
  return r;
}

void gausstest(const float* data, int N, float& T1, float& T2) {
  T1 = T2 = 0.0f;
  if (N <= 0) return;
  float sum = 0.0f, sum2 = 0.0f;
  for (int k = 0; k < N; ++k) {
    sum += data[k];
    sum2 += data[k] * data[k];
  }
  float mean = sum / N;
  float m2 = sum2 / N;
  std::vector<float> centred(N);
  for (int k = 0; k < N; ++k) centred[k] = data[k] - mean;
  float mad_sigma = get_sigma_mad(centred.data(), N);
  float r = root(mad_sigma * mad_sigma / m2);
  float scale = r < 0.18f ? static_cast<float>(std::sqrt(double(m2)))
                          : static_cast<float>(std::sqrt(double(m2) / (1.0 + 2.0 * r * r)));
  for (int k = 0; k < N; ++k) {
    float a = std::fabs(centred[k] / scale);
    if (a > 2.0f) {
      T1 += a - 2.0f;
      T2 += (a - 2.0f) * a;
    }
  }
  // Mean and standard deviation of (|Z| - 2)⁺ and (|Z| - 2)⁺|Z| for a
  // standard normal Z.
  const float a = 2.0f;
  float phi_a = static_cast<float>((std::erf(2.0 / std::sqrt(2.0)) + 1.0) / 2.0);
  float q = 1.0f - phi_a;
  float density = static_cast<float>(std::exp(-2.0) / std::sqrt(2.0 * 3.141592653589793));
  float mu1 = 2.0f * (density - 2.0f * q);
  float sigma1 =
      static_cast<float>(std::sqrt(double(2.0f * (5.0f * q - 2.0f * density) - mu1 * mu1)));
  float mu2 = 2.0f * q;
  float sigma2 = static_cast<float>(
      std::sqrt(double(2.0f * ((a * a + 3.0f) * q - a * density) - mu2 * mu2)));
  float sqrt_n = static_cast<float>(std::sqrt(double(N)));
  T1 = (T1 - N * mu1) / (sqrt_n * sigma1);
  T2 = (T2 - N * mu2) / (sqrt_n * sigma2);
}

void im_gaussianity_test(const to_array<float, false>& ima, float& T1, float& T2, int border) {
  std::vector<float> work;
  int n = 0;
  const float* pixels = pixels_inside_border(ima.buffer(), ima.nl(), ima.nc(), border, work, n);
  gausstest(pixels, n, T1, T2);
}

void im_gaussianity_test(const to_array<float, true>& signal, float& T1, float& T2, int border) {
  std::vector<float> work;
  int n = 0;
  const float* pixels =
      pixels_inside_border(signal.buffer(), signal_lines(signal), signal.nx(), border, work, n);
  gausstest(pixels, n, T1, T2);
}

namespace {

// Benjamini-Hochberg over a sorted copy; Level is the precision of alpha·k/N.
template <class P, class Level>
P fdr_cut(const P* pvalues, int N, float alpha) {
  if (N <= 0) return P(0);
  std::vector<P> sorted(pvalues, pvalues + N);
  sort_from0(sorted.size(), sorted.data());
  P cut = 0;
  for (int k = 1; k <= N; ++k)
    if (sorted[k - 1] <= Level(alpha) * Level(k) / Level(N)) cut = sorted[k - 1];
  return cut;
}

}  // namespace

float fdr_pvalue(const float* pvalues, int N, float alpha) {
  return fdr_cut<float, float>(pvalues, N, alpha);
}

double fdr_pvalue(const double* pvalues, int N, float alpha) {
  return fdr_cut<double, double>(pvalues, N, alpha);
}

float fdr_gauss_threshold(const float* data, int N, float alpha, float sigma) {
  if (N <= 0) return 0.0f;
  std::vector<double> p(N);
  float largest = 0.0f;
  for (int k = 0; k < N; ++k) {
    p[k] = 1.0 - std::erf(std::fabs(data[k]) / (std::sqrt(2.0) * sigma));
    largest = std::max(largest, std::fabs(data[k]));
  }
  std::vector<std::size_t> order(N);
  indexx_from0(p.size(), p.data(), order.data());
  int last = -1;
  for (int k = 1; k <= N; ++k)
    if (p[order[k - 1]] <= alpha * float(k) / float(N)) last = static_cast<int>(order[k - 1]);
  // The level is met by |x|: the signed sample would give a negative level that
  // detects everything, and ten times the sample nearest zero (the level when
  // nothing passes) can lie below samples that failed the cut. A level just
  // above every |x| detects nothing.
  if (last < 0) return std::nextafter(largest, std::numeric_limits<float>::infinity());
  return std::fabs(data[last]);
}
