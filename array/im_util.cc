// Image statistics and pixel-wise arithmetic over lines and columns.
#include "array/im_util.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "array/fatal.h"

int BadPixel = 0;
float BadPixalVal = 0.f;

namespace {

template <class T>
void check_2d(const to_array<T, false>& image) {
  if (image.naxis() != 2)
    array_detail::naxis_error(image.naxis(), " and a two dim array is expected ...");
}

template <class T>
const T* line(const to_array<T, false>& image, int i) {
  return image.buffer() + static_cast<std::ptrdiff_t>(i) * image.nc();
}
template <class T>
T* line(to_array<T, false>& image, int i) {
  return image.buffer() + static_cast<std::ptrdiff_t>(i) * image.nc();
}

// Calls visit(value) for every pixel, lines outer.
template <class T, class Visit>
void for_each_pixel(const to_array<T, false>& image, Visit visit) {
  check_2d(image);
  for (int i = 0; i < image.nl(); i++) {
    const T* p = line(image, i);
    for (int j = 0; j < image.nc(); j++) visit(p[j]);
  }
}

// Smallest or largest pixel by `better`, starting from pixel (0, 0).
template <class T, class Better>
T extreme(const to_array<T, false>& image, Better better) {
  T best = image(0, 0);
  for_each_pixel(image, [&](T x) {
    if (better(x, best)) best = x;
  });
  return best;
}

// The operators read b at a's pixels: a smaller b would be read past its end.
template <class T>
void check_operands(const char* op, const to_array<T, false>& a, const to_array<T, false>& b) {
  check_2d(a);
  check_2d(b);
  if (b.nl() < a.nl() || b.nc() < a.nc())
    fatal_exitf(-1, stderr,
                "Error in operator%s: second image %dX%d is smaller than the first %dX%d ...\n",
                op, b.nl(), b.nc(), a.nl(), a.nc());
}

template <class T, class Combine>
to_array<T, false> pixelwise(const char* op, const char* name, const to_array<T, false>& a,
                             const to_array<T, false>& b, Combine combine) {
  check_operands(op, a, b);
  to_array<T, false> result(a.nl(), a.nc(), name);
  for (int i = 0; i < a.nl(); i++) {
    const T* pa = line(a, i);
    const T* pb = line(b, i);
    T* out = line(result, i);
    for (int j = 0; j < a.nc(); j++) out[j] = combine(pa[j], pb[j]);
  }
  result.set_name(nullptr);
  return result;
}

template <class T>
void check_same_size(const char* routine, const to_array<T, false>& a,
                     const to_array<T, false>& b) {
  check_2d(a);
  check_2d(b);
  if (a.nl() != b.nl() || a.nc() != b.nc())
    fatal_exitf(-1, stderr,
                "Error in %s routine: images have different sizes ...\n"
                "   image 1: %dX%d\n   image 2: %dX%d\n",
                routine, a.nl(), a.nc(), b.nl(), b.nc());
}

// out(i, j) = Σ_r Σ_c a(i + sign·(r - Kl/2), j + sign·(c - Kc/2))·k(r, c), the
// sum accumulated in the output's type; sign -1 flips the kernel.
template <class T>
void correlate(const to_array<T, false>& a, const to_array<T, false>& kernel,
               to_array<T, false>& out, type_border border, int sign) {
  check_2d(a);
  check_2d(kernel);
  check_2d(out);
  if (out.nl() < a.nl() || out.nc() < a.nc())
    fatal_exitf(-1, stdout, "Error in convol: output image %dx%d is smaller than input %dx%d ...\n",
                out.nl(), out.nc(), a.nl(), a.nc());
  const int kl = kernel.nl(), kc = kernel.nc();
  const int nl = a.nl(), nc = a.nc();
  // Tap (r, c) reads line i + sign·r - sign·Kl/2: the lowest and highest
  // offsets decide which pixels need the border rule.
  const int line_lo = sign > 0 ? -(kl / 2) : -(kl - 1 - kl / 2);
  const int line_hi = sign > 0 ? kl - 1 - kl / 2 : kl / 2;
  const int col_lo = sign > 0 ? -(kc / 2) : -(kc - 1 - kc / 2);
  const int col_hi = sign > 0 ? kc - 1 - kc / 2 : kc / 2;
  for (int i = 0; i < nl; i++) {
    T* dst = line(out, i);
    const bool lines_inside = i + line_lo >= 0 && i + line_hi < nl;
    for (int j = 0; j < nc; j++) {
      T sum = T();
      if (lines_inside && j + col_lo >= 0 && j + col_hi < nc) {
        for (int r = 0; r < kl; r++) {
          const T* src = line(a, i + sign * (r - kl / 2)) + j;
          const T* k = line(kernel, r);
          for (int c = 0; c < kc; c++) sum += src[sign * (c - kc / 2)] * k[c];
        }
      } else {
        for (int r = 0; r < kl; r++) {
          const T* k = line(kernel, r);
          for (int c = 0; c < kc; c++)
            sum += a(i + sign * (r - kl / 2), j + sign * (c - kc / 2), border) * k[c];
        }
      }
      dst[j] = sum;
    }
  }
}

// Σab / sqrt(Σa²·Σb²) over the selected pixels: products in single
// precision, sums in double.
template <class Keep>
float correlation_over(const to_array<float, false>& a, const to_array<float, false>& b,
                       Keep keep) {
  double sum_ab = 0., sum_aa = 0., sum_bb = 0.;
  for (int i = 0; i < a.nl(); i++) {
    const float* pa = line(a, i);
    const float* pb = line(b, i);
    for (int j = 0; j < a.nc(); j++) {
      if (!keep(pa[j], pb[j])) continue;
      sum_ab += pa[j] * pb[j];
      sum_aa += pa[j] * pa[j];
      sum_bb += pb[j] * pb[j];
    }
  }
  double root = std::sqrt(sum_aa * sum_bb);
  return root > 0. ? static_cast<float>(sum_ab / root) : 0.f;
}

template <class Keep>
float regression_over(const to_array<float, false>& a, const to_array<float, false>& b,
                      Keep keep) {
  double sum_ab = 0., sum_bb = 0.;
  for (int i = 0; i < a.nl(); i++) {
    const float* pa = line(a, i);
    const float* pb = line(b, i);
    for (int j = 0; j < a.nc(); j++) {
      if (!keep(pa[j], pb[j])) continue;
      sum_ab += pa[j] * pb[j];
      sum_bb += pb[j] * pb[j];
    }
  }
  return sum_bb != 0. ? static_cast<float>(sum_ab / sum_bb) : 0.f;
}

template <class Part>
void complex_part(to_array<float, false>& out, const to_array<std::complex<float>, false>& in,
                  Part part) {
  check_2d(in);
  check_2d(out);
  if (out.nl() < in.nl() || out.nc() < in.nc())
    fatal_exitf(-1, stdout,
                "Error: output image %dx%d is smaller than the complex image %dx%d ...\n",
                out.nl(), out.nc(), in.nl(), in.nc());
  for (int i = 0; i < in.nl(); i++) {
    const std::complex<float>* src = line(in, i);
    float* dst = line(out, i);
    for (int j = 0; j < in.nc(); j++) dst[j] = part(src[j]);
  }
}

}  // namespace

void ifloat(to_array<float, false>& out, const to_array<int, false>& in) {
  // A silent stop would leave the user nothing to go on: the mismatch is named.
  if (out.n_elem() != in.n_elem() || out.naxis() != in.naxis())
    fatal_exitf(-1, stdout, "Error in ifloat: arrays of %d and %d elements differ ...\n",
                out.n_elem(), in.n_elem());
  const int* src = in.buffer();
  float* dst = out.buffer();
  for (int k = 0; k < in.n_elem(); k++) dst[k] = static_cast<float>(src[k]);
}

void threshold(to_array<float, false>& image, float level) {
  check_2d(image);
  for (int i = 0; i < image.nl(); i++) {
    float* p = line(image, i);
    // Every pixel is stored, kept or zeroed, so that the loop vectorises.
    const int nc = image.nc();
#pragma omp simd
    for (int j = 0; j < nc; j++) p[j] = p[j] < level ? 0.f : p[j];
  }
}

float total_in_block(const to_array<float, false>& image, int i, int j, int half) {
  check_2d(image);
  float sum = 0.f;
  for (int k = i - half; k <= i + half; k++) {
    if (k < 0 || k >= image.nl()) continue;
    const float* p = line(image, k);
    for (int l = j - half; l <= j + half; l++)
      if (l >= 0 && l < image.nc()) sum += p[l];
  }
  return sum;
}

double sigma(const to_array<float, false>& image) {
  double sum = 0., sum_sq = 0.;
  long long count = 0;
  const bool skip_bad = BadPixel != 0;
  for_each_pixel(image, [&](float x) {
    if (skip_bad && std::fabs(x - BadPixalVal) <= BadPixelTolerance) return;
    sum += x;
    sum_sq += x * x;
    count++;
  });
  const float n = static_cast<float>(count);
  const double mean = sum / n;
  // Rounding can leave the variance of a constant image slightly negative.
  const double variance = sum_sq / n - mean * mean;
  return variance > 0. ? std::sqrt(variance) : 0.;
}

double average(const to_array<float, false>& image) {
  double sum = 0.;
  for_each_pixel(image, [&](float x) { sum += x; });
  return sum / (static_cast<double>(image.nl()) * image.nc());
}

float min(const to_array<float, false>& image) {
  return extreme(image, [](float x, float best) { return x < best; });
}

float max(const to_array<float, false>& image) {
  return extreme(image, [](float x, float best) { return x > best; });
}

float flux(const to_array<float, false>& image) {
  float sum = 0.f;
  for_each_pixel(image, [&](float x) { sum += x; });
  return sum;
}

double total(const to_array<float, false>& image) {
  double sum = 0.;
  for_each_pixel(image, [&](float x) { sum += x; });
  return sum;
}

double energy(const to_array<float, false>& image) {
  double sum = 0.;
  for_each_pixel(image, [&](float x) { sum += x * x; });
  return sum;
}

void norm_flux(to_array<float, false>& image, float value) {
  const float factor = flux(image) / value;
  for (int i = 0; i < image.nl(); i++) {
    float* p = line(image, i);
    for (int j = 0; j < image.nc(); j++) p[j] /= factor;
  }
}

double sigma(const to_array<int, false>& image) {
  double sum = 0., sum_sq = 0.;
  // Squares in 64 bits: a 32-bit square overflows past 46340.
  for_each_pixel(image, [&](int x) {
    sum += x;
    sum_sq += static_cast<double>(static_cast<int64_t>(x) * x);
  });
  const double n = static_cast<double>(image.nl()) * image.nc();
  const double mean = sum / n;
  const double variance = sum_sq / n - mean * mean;
  return variance > 0. ? std::sqrt(variance) : 0.;
}

double average(const to_array<int, false>& image) {
  double sum = 0.;
  for_each_pixel(image, [&](int x) { sum += x; });
  return static_cast<float>(sum / (static_cast<double>(image.nl()) * image.nc()));
}

int min(const to_array<int, false>& image) {
  return extreme(image, [](int x, int best) { return x < best; });
}

int max(const to_array<int, false>& image) {
  return extreme(image, [](int x, int best) { return x > best; });
}

// The integer sums keep their 32-bit results, wrapping without the undefined
// behaviour of a signed overflow.
int flux(const to_array<int, false>& image) {
  uint32_t sum = 0;
  for_each_pixel(image, [&](int x) { sum += static_cast<uint32_t>(x); });
  return static_cast<int>(sum);
}

int energy(const to_array<int, false>& image) {
  uint32_t sum = 0;
  for_each_pixel(image, [&](int x) { sum += static_cast<uint32_t>(x) * static_cast<uint32_t>(x); });
  return static_cast<int>(sum);
}

to_array<float, false> operator+(const to_array<float, false>& a, const to_array<float, false>& b) {
  return pixelwise("+", "op+", a, b, [](float x, float y) { return x + y; });
}

to_array<float, false> operator*(const to_array<float, false>& a, const to_array<float, false>& b) {
  return pixelwise("*", "op*", a, b, [](float x, float y) { return x * y; });
}

to_array<float, false> operator/(const to_array<float, false>& a, const to_array<float, false>& b) {
  return pixelwise("/", "op/", a, b, [](float x, float y) {
    return std::fabs(y) > BadPixelTolerance ? x / y : 0.f;
  });
}

to_array<float, false> operator*(const to_array<float, false>& a, float scale) {
  check_2d(a);
  to_array<float, false> result(a.nl(), a.nc(), "op*");
  const float* src = a.buffer();
  float* dst = result.buffer();
  const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(a.nl()) * a.nc();
  for (std::ptrdiff_t k = 0; k < n; k++) dst[k] = src[k] * scale;
  result.set_name(nullptr);
  return result;
}

to_array<float, false> operator*(float scale, const to_array<float, false>& a) {
  return a * scale;
}

to_array<int, false> operator+(const to_array<int, false>& a, const to_array<int, false>& b) {
  return pixelwise("+", "op+", a, b, [](int x, int y) { return x + y; });
}

to_array<int, false> operator*(const to_array<int, false>& a, const to_array<int, false>& b) {
  return pixelwise("*", "op*", a, b, [](int x, int y) { return x * y; });
}

to_array<int, false> operator/(const to_array<int, false>& a, const to_array<int, false>& b) {
  // INT_MIN / -1 traps on the processor: the quotient wraps instead.
  return pixelwise("/", "op/", a, b, [](int x, int y) {
    if (y == -1) return static_cast<int>(0u - static_cast<uint32_t>(x));
    return y != 0 ? x / y : 0;
  });
}

to_array<float, false> conv_direct(const to_array<float, false>& a,
                                   const to_array<float, false>& kernel, type_border border) {
  check_2d(a);
  to_array<float, false> result(a.nl(), a.nc(), "conv_direct");
  correlate(a, kernel, result, border, -1);
  result.set_name(nullptr);
  return result;
}

to_array<int, false> conv_direct(const to_array<int, false>& a, const to_array<int, false>& kernel,
                                 type_border border) {
  check_2d(a);
  to_array<int, false> result(a.nl(), a.nc(), "conv_direct");
  correlate(a, kernel, result, border, -1);
  result.set_name(nullptr);
  return result;
}

void convol(const to_array<float, false>& a, const to_array<float, false>& kernel,
            to_array<float, false>& out, type_border border) {
  correlate(a, kernel, out, border, 1);
}

float correlation(const to_array<float, false>& a, const to_array<float, false>& b) {
  check_same_size("correlation", a, b);
  return correlation_over(a, b, [](float, float) { return true; });
}

float correlation(const to_array<float, false>& a, const to_array<float, false>& b, float level) {
  check_same_size("correllation", a, b);
  return correlation_over(a, b, [level](float x, float) { return std::fabs(x) > level; });
}

float correlation(const to_array<int, false>& a, const to_array<int, false>& b) {
  check_same_size("correlation", a, b);
  float sum_ab = 0.f, sum_aa = 0.f, sum_bb = 0.f;
  for (int i = 0; i < a.nl(); i++) {
    const int* pa = line(a, i);
    const int* pb = line(b, i);
    for (int j = 0; j < a.nc(); j++) {
      // Products in 64 bits, then summed in single precision.
      sum_ab += static_cast<float>(static_cast<int64_t>(pa[j]) * pb[j]);
      sum_aa += static_cast<float>(static_cast<int64_t>(pa[j]) * pa[j]);
      sum_bb += static_cast<float>(static_cast<int64_t>(pb[j]) * pb[j]);
    }
  }
  const float root = std::sqrt(sum_aa * sum_bb);
  return root > 0.f ? sum_ab / root : 0.f;
}

float regression(const to_array<float, false>& a, const to_array<float, false>& b) {
  check_same_size("regression", a, b);
  return regression_over(a, b, [](float, float) { return true; });
}

float regression(const to_array<float, false>& a, const to_array<float, false>& b, float level) {
  check_same_size("regression", a, b);
  return regression_over(a, b, [level](float x, float y) {
    return std::fabs(x) > level && std::fabs(y) > level;
  });
}

void real(to_array<float, false>& out, const to_array<std::complex<float>, false>& in) {
  complex_part(out, in, [](std::complex<float> z) { return z.real(); });
}

void imag(to_array<float, false>& out, const to_array<std::complex<float>, false>& in) {
  complex_part(out, in, [](std::complex<float> z) { return z.imag(); });
}

float detect_noise_sigma(const to_array<int, false>& image, Bool subtract_mean, int passes) {
  float mean = 0.f, deviation = 0.f, clip = 0.f;
  for (int pass = 0; pass < passes; pass++) {
    float count = 0.f, sum = 0.f, sum_sq = 0.f;
    for_each_pixel(image, [&](int v) {
      const float x = static_cast<float>(v);
      if (pass == 0 || std::fabs(x - mean) < clip) {
        count += 1.f;
        sum += x;
        sum_sq += x * x;
      }
    });
    // An empty selection (a constant image clips every pixel away) counts as
    // one sample, as in the other clipping estimators, instead of 0/0.
    if (count == 0.f) count = 1.f;
    float variance;
    if (subtract_mean) {
      mean = sum / count;
      variance = sum_sq / count - mean * mean;
    } else {
      variance = sum_sq / count;
    }
    deviation = variance > 0.f ? std::sqrt(variance) : 0.f;
    clip = 3.f * deviation;
  }
  return deviation;
}
