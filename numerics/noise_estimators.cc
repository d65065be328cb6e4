// Noise-level estimators: clipping, median absolute deviation, smoothing
// residuals and block statistics.
#include "numerics/noise_estimators.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "array/im_util.h"
#include "array/median.h"
#include "array/smoothing.h"

namespace {

constexpr double ClipFactor = 3.;
// Calibration of the residual estimators on pure Gaussian noise, and the
// MAD of a unit Gaussian.
constexpr double MedianResidualFactor = 0.972463;
constexpr double BsplineResidualFactor = 0.889434;
constexpr double MadFactor = 0.6745;

struct Clipped {
  double mean = 0.;
  double sigma = 0.;
};

// Iterated 3-sigma clipping over n samples read through sample(k). An empty
// selection counts as one sample, so it gives a centre and sigma of 0.
template <class Sample>
Clipped clip(int n, Sample sample, int iterations, bool average, bool bad_pixel_test,
             float bad_value) {
  Clipped state;
  double limit = 0.;
  for (int it = 0; it < iterations; it++) {
    double count = 0., sum = 0., sum_sq = 0.;
    for (int k = 0; k < n; k++) {
      const double x = sample(k);
      if (bad_pixel_test && std::fabs(x - bad_value) <= BadPixelTolerance) continue;
      if (it > 0 && !(std::fabs(x - state.mean) < limit)) continue;
      count += 1.;
      sum += x;
      sum_sq += x * x;
    }
    if (count == 0.) count = 1.;
    if (average) {
      state.mean = sum / count;
      const double variance = sum_sq / count - state.mean * state.mean;
      state.sigma = variance > 0. ? std::sqrt(variance) : 0.;
    } else {
      state.sigma = std::sqrt(sum_sq / count);
    }
    limit = ClipFactor * state.sigma;
  }
  return state;
}

Clipped clip_pixels(const to_array<float, false>& image, int iterations, bool average) {
  const float* pixels = image.buffer();
  return clip(
      image.n_elem(), [pixels](int k) { return static_cast<double>(pixels[k]); }, iterations,
      average, BadPixel != 0, BadPixalVal);
}

// Input minus its smoothing, in a work image of the input's size.
template <class Smooth>
to_array<float, false> residual(const to_array<float, false>& image, Smooth smooth) {
  to_array<float, false> work(image.nl(), image.nc(), "Buff noise estimation");
  smooth(image, work);
  const float* in = image.buffer();
  float* out = work.buffer();
  for (int k = 0; k < image.n_elem(); k++) out[k] = in[k] - out[k];
  return work;
}

// The image minus its 3x3 median, the residual both median estimators clip.
to_array<float, false> median_residual(const to_array<float, false>& image) {
  return residual(image, [](const to_array<float, false>& in, to_array<float, false>& out) {
    smooth_mediane(in, out, I_CONT, 0, 3);
  });
}

}  // namespace

float get_sigma_clip(const float* data, int n, int iterations, Bool average,
                     Bool bad_pixel_test, float bad_value) {
  return static_cast<float>(clip(
                                n, [data](int k) { return static_cast<double>(data[k]); },
                                iterations, average, bad_pixel_test, bad_value)
                                .sigma);
}

float get_sigma_clip_robust(const float* data, int n, int iterations, Bool /*average*/,
                            Bool bad_pixel_test, float bad_value) {
  double centre = 0., sigma = 0., limit = 0.;
  std::vector<double> kept;
  kept.reserve(n > 0 ? n : 0);
  for (int it = 0; it < iterations; it++) {
    kept.clear();
    double sum = 0.;
    for (int k = 0; k < n; k++) {
      const double x = data[k];
      if (bad_pixel_test && std::fabs(x - bad_value) <= BadPixelTolerance) continue;
      if (it > 0 && !(std::fabs(x - centre) < limit)) continue;
      kept.push_back(x);
      sum += x;
    }
    const double count = kept.empty() ? 1. : static_cast<double>(kept.size());
    const double pass_mean = sum / count;
    double squares = 0.;
    for (double x : kept) squares += (x - pass_mean) * (x - pass_mean);
    const double variance = squares / count;
    sigma = variance > 0. ? std::sqrt(variance) : 0.;
    limit = ClipFactor * sigma;
    centre = pass_mean;
  }
  return static_cast<float>(sigma);
}

void sigma_clip(const to_array<float, false>& image, float& mean, float& sigma, int iterations) {
  Clipped state = clip_pixels(image, iterations, true);
  mean = static_cast<float>(state.mean);
  sigma = static_cast<float>(state.sigma);
}

void sigma_clip_int(const int* data, float& mean, float& sigma, int lines, int columns,
                    int average, int iterations) {
  const long long n = static_cast<long long>(lines) * columns;
  Clipped state = clip(
      n > 0 ? static_cast<int>(n) : 0, [data](int k) { return static_cast<double>(data[k]); },
      iterations, average == 1, false, 0.f);
  mean = static_cast<float>(state.mean);
  sigma = static_cast<float>(state.sigma);
}

float sigma_clip_int(const int* data, int lines, int columns, int average, int iterations) {
  float mean, sigma;
  sigma_clip_int(data, mean, sigma, lines, columns, average, iterations);
  return sigma;
}

float detect_noise_sigma(const to_array<float, false>& image, Bool average, int iterations) {
  return static_cast<float>(clip_pixels(image, iterations, average).sigma);
}

float detect_noise_from_med(const to_array<float, false>& image) {
  to_array<float, false> residue = median_residual(image);
  const float sigma = static_cast<float>(clip_pixels(residue, 3, true).sigma);
  return static_cast<float>(sigma / MedianResidualFactor);
}

float detect_noise_from_med_of_present(const to_array<float, false>& image,
                                       long* complete_windows) {
  to_array<float, false> residue = median_residual(image);
  const int nl = image.nl(), nc = image.nc();
  // A window with a missing pixel gives a residual of the gap, not of the
  // noise; the windows are clamped at the edges as the median filter is.
  auto window_present = [&](int i, int j) {
    for (int k = std::max(i - 1, 0); k <= std::min(i + 1, nl - 1); k++)
      for (int l = std::max(j - 1, 0); l <= std::min(j + 1, nc - 1); l++)
        if (image(k, l) == 0.f) return false;
    return true;
  };
  std::vector<float> kept;
  kept.reserve(static_cast<size_t>(residue.n_elem()));
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++)
      if (window_present(i, j)) kept.push_back(residue(i, j));
  if (complete_windows != nullptr) *complete_windows = static_cast<long>(kept.size());
  const float sigma = static_cast<float>(
      clip(static_cast<int>(kept.size()), [&kept](int k) { return static_cast<double>(kept[k]); },
           3, true, BadPixel != 0, BadPixalVal)
          .sigma);
  return static_cast<float>(sigma / MedianResidualFactor);
}

float detect_noise_from_bspline(const to_array<float, false>& image) {
  to_array<float, false> residue =
      residual(image, [](const to_array<float, false>& in, to_array<float, false>& out) {
        smooth_bspline(in, out, I_CONT, 0);
      });
  return static_cast<float>(detect_noise_sigma(residue, False, 3) / BsplineResidualFactor);
}

float get_sigma_mad(const float* data, int n) {
  if (n <= 0) return 0.f;
  std::vector<float> work(data, data + n);
  const float median = get_median(work.data(), n);
  for (float& x : work) x = std::fabs(x - median);
  return static_cast<float>(get_median(work.data(), n) / MadFactor);
}

float detect_noise_from_mad(const to_array<float, false>& image, Bool window) {
  if (!window) return get_sigma_mad(image.buffer(), image.n_elem());
  const int nl = image.nl(), nc = image.nc();
  const int window_nl = nl / 4, window_nc = nc / 4;
  const int first_line = nl / 2 - window_nl / 2;
  const int first_column = nc / 2 - window_nc / 2;
  std::vector<float> values;
  values.reserve(static_cast<std::size_t>(window_nl) * window_nc);
  for (int i = 0; i < window_nl; i++) {
    const float* row =
        image.buffer() + static_cast<std::ptrdiff_t>(first_line + i) * nc + first_column;
    values.insert(values.end(), row, row + window_nc);
  }
  return get_sigma_mad(values.data(), static_cast<int>(values.size()));
}

void block_transform(const to_array<float, false>& image, float*& block_mean,
                     float*& block_sigma, int& nbr_block, int block_size) {
  const int blocks_down = block_size > 0 ? image.nl() / block_size : 0;
  const int blocks_across = block_size > 0 ? image.nc() / block_size : 0;
  nbr_block = blocks_down * blocks_across;
  block_mean = new float[nbr_block];
  block_sigma = new float[nbr_block];
  const float pixels = static_cast<float>(block_size) * static_cast<float>(block_size);
  const int nc = image.nc();
  int position = 0;
  for (int bi = 0; bi < blocks_down; bi++)
    for (int bj = 0; bj < blocks_across; bj++) {
      float sum = 0.f, sum_sq = 0.f;
      for (int i = 0; i < block_size; i++) {
        const float* row = image.buffer() +
                           static_cast<std::ptrdiff_t>(bi * block_size + i) * nc +
                           bj * block_size;
        for (int j = 0; j < block_size; j++) {
          sum += row[j];
          sum_sq += row[j] * row[j];
        }
      }
      const float mean = sum / pixels;
      float variance = sum_sq / pixels - mean * mean;
      if (variance < 0.f) variance = 0.f;
      block_mean[position] = mean;
      block_sigma[position] = std::sqrt(variance);
      position++;
    }
}

void sort_bulle(float* list, int n) {
  for (int pass = 1; pass <= n / 2 + 1; pass++)
    for (int j = 0; j < n - pass; j++)
      if (list[j] > list[j + 1]) std::swap(list[j], list[j + 1]);
}

float detect_noise_from_block(const to_array<float, false>& image, int block_size) {
  float* block_mean = nullptr;
  float* block_sigma = nullptr;
  int nbr_block = 0;
  block_transform(image, block_mean, block_sigma, nbr_block, block_size);
  float noise = 0.f;
  if (nbr_block > 0) {
    // The quietest tenth of the blocks needs the whole list in order (the
    // half sort of sort_bulle orders only the largest values), and at least
    // one block so that small images do not give 0/0.
    std::sort(block_sigma, block_sigma + nbr_block);
    const int quiet = std::max(1, static_cast<int>(0.1 * nbr_block));
    float sum = 0.f;
    for (int k = 0; k < quiet; k++) sum += block_sigma[k];
    noise = sum / static_cast<float>(quiet);
  }
  delete[] block_mean;
  delete[] block_sigma;
  return noise;
}
