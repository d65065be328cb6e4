// Smoothing filters at scale s: box average, Haar pair sums, linear and
// B3-spline separable kernels, and the median.
//
// Every filter walks rows through raw pointers. Only the pixels whose taps
// leave the image take the border rule, which maps each index on its own
// axis the way the bordered accessor of to_array does (a tap is 0 under the
// zero rule as soon as one of its indices is outside).
#include "array/smoothing.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "array/border.h"
#include "array/border_index.h"
#include "array/fatal.h"
#include "array/median.h"

namespace {

// Distance between taps: 2^s rounded to the nearest integer. Scales beyond
// MaxScale would overflow the tap indices, whatever the image size.
constexpr int MaxScale = 24;
inline int tap_step(int s) {
  if (s > MaxScale)
    fatal_exitf(-1, stdout, "Error: smoothing scale %d is out of range (at most %d) ...\n", s,
                MaxScale);
  return static_cast<int>(std::pow(2., s) + 0.5);
}

template <class T>
void check_images(const char* filter, const to_array<T, false>& in, const to_array<T, false>& out,
                  type_border border) {
  if (in.naxis() != 2)
    array_detail::naxis_error(in.naxis(), " and a two dim array is expected ...");
  if (out.naxis() != 2)
    array_detail::naxis_error(out.naxis(), " and a two dim array is expected ...");
  if (border < I_CONT || border > I_ZERO)
    fatal_exitf(-1, stdout, "Error in %s: unknown border rule %d ...\n", filter,
                static_cast<int>(border));
  // A smaller output would be written past its end.
  if (out.nl() < in.nl() || out.nc() < in.nc())
    fatal_exitf(-1, stdout, "Error in %s: output image %dx%d is smaller than input %dx%d ...\n",
                filter, out.nl(), out.nc(), in.nl(), in.nc());
}

// ---------------------------------------------------------------------------
// Separable filters. Each kernel combines the centre tap c with the taps one
// step (m1, p1) and two steps (m2, p2) before and after it, in the single
// precision order the filter fixes; `reach` is how many steps it looks out.

struct BsplineKernel {
  static constexpr int reach = 2;
  float operator()(float c, float m1, float p1, float m2, float p2) const {
    return 0.375f * c + 0.25f * (m1 + p1) + 0.0625f * (m2 + p2);
  }
};

struct LinearKernel {
  static constexpr int reach = 1;
  float operator()(float c, float m1, float p1, float, float) const {
    return 0.5f * c + 0.25f * (m1 + p1);
  }
};

struct HaarLineKernel {
  static constexpr int reach = 1;
  float operator()(float c, float m1, float, float, float) const { return c + m1; }
};

struct HaarColumnKernel {
  static constexpr int reach = 1;
  float norm;
  float operator()(float c, float m1, float, float, float) const { return (m1 + c) / norm; }
};

// Float result of the second pass stored in the output's type; integer images
// round halves up (2.5 gives 3, -2.5 gives -2).
inline void store(float value, float& dst) { dst = value; }
inline void store(float value, int& dst) { dst = static_cast<int>(value + 0.5f); }

// First pass: filter every line of the input into the float work image.
template <class Kernel, class T>
void filter_lines(const to_array<T, false>& in, float* work, int step, type_border border,
                  const Kernel& kernel) {
  const int nl = in.nl();
  const int nc = in.nc();
  const int first = std::min(Kernel::reach * step, nc);
  const int last = std::max(nc - first, first);
  const T* src = in.buffer();
  for (int i = 0; i < nl; i++) {
    const T* row = src + static_cast<std::ptrdiff_t>(i) * nc;
    float* dst = work + static_cast<std::ptrdiff_t>(i) * nc;
    auto at = [&](int k) -> float {
      int m = border_index(k, nc, border);
      return m < 0 ? 0.f : static_cast<float>(row[m]);
    };
    auto edge = [&](int j) {
      dst[j] = kernel(at(j), at(j - step), at(j + step), at(j - 2 * step), at(j + 2 * step));
    };
    for (int j = 0; j < first; j++) edge(j);
    for (int j = first; j < last; j++) {
      const T* p = row + j;
      float m2 = 0.f, p2 = 0.f;
      if constexpr (Kernel::reach >= 2) {
        m2 = static_cast<float>(p[-2 * step]);
        p2 = static_cast<float>(p[2 * step]);
      }
      dst[j] = kernel(static_cast<float>(p[0]), static_cast<float>(p[-step]),
                      static_cast<float>(p[step]), m2, p2);
    }
    for (int j = last; j < nc; j++) edge(j);
  }
}

// Second pass: filter every column of the work image into the output. The
// border rule picks whole rows, so the inner loop is the same for all lines.
template <class Kernel, class T>
void filter_columns(const float* work, int nl, int nc, to_array<T, false>& out, int step,
                    type_border border, const Kernel& kernel) {
  std::vector<float> zero_row(nc, 0.f);
  auto row_at = [&](int k) -> const float* {
    int m = border_index(k, nl, border);
    return m < 0 ? zero_row.data() : work + static_cast<std::ptrdiff_t>(m) * nc;
  };
  const int out_nc = out.nc();
  for (int i = 0; i < nl; i++) {
    const float* c = row_at(i);
    const float* m1 = row_at(i - step);
    const float* p1 = row_at(i + step);
    const float* m2 = Kernel::reach >= 2 ? row_at(i - 2 * step) : zero_row.data();
    const float* p2 = Kernel::reach >= 2 ? row_at(i + 2 * step) : zero_row.data();
    T* dst = out.buffer() + static_cast<std::ptrdiff_t>(i) * out_nc;
    for (int j = 0; j < nc; j++) store(kernel(c[j], m1[j], p1[j], m2[j], p2[j]), dst[j]);
  }
}

// The work image is reused from call to call: the transforms smooth whole
// images several times per scale and iteration.
float* work_image(std::size_t n) {
  static std::vector<float> work;
  if (work.size() < n) work.resize(n);
  return work.data();
}

template <class LineKernel, class ColumnKernel, class T>
void separable_filter(const char* filter, const to_array<T, false>& in, to_array<T, false>& out,
                      type_border border, int s, const LineKernel& line_kernel,
                      const ColumnKernel& column_kernel) {
  check_images(filter, in, out, border);
  const int step = tap_step(s);
  const int nl = in.nl();
  const int nc = in.nc();
  float* work = work_image(static_cast<std::size_t>(nl) * nc);
  filter_lines(in, work, step, border, line_kernel);
  filter_columns(work, nl, nc, out, step, border, column_kernel);
}

// ---------------------------------------------------------------------------
// Window filters: the taps of the (2·half+1)^2 grid, lines outer and columns
// inner, are gathered into one buffer and reduced to the output pixel.

template <class T, class Reduce>
void window_filter(const to_array<T, false>& in, to_array<T, false>& out, type_border border,
                   int step, int half, Reduce reduce) {
  const int nl = in.nl();
  const int nc = in.nc();
  // Pixels already written would be read back as taps.
  if (in.buffer() == out.buffer())
    fatal_exit("Error: the window smoothing filters need distinct input and output images ...\n");
  if (static_cast<long long>(half) * step > (1LL << 28))
    fatal_exitf(-1, stdout, "Error: smoothing window of %d taps at step %d is too large ...\n",
                2 * half + 1, step);
  const int side = 2 * half + 1;
  std::vector<T> taps(static_cast<std::size_t>(side) * side);
  const int reach = half * step;
  const T* src = in.buffer();

  auto bordered = [&](int i, int j) {
    std::size_t t = 0;
    for (int a = -half; a <= half; a++) {
      const int k = border_index(i + a * step, nl, border);
      for (int b = -half; b <= half; b++) {
        const int l = border_index(j + b * step, nc, border);
        taps[t++] = (k < 0 || l < 0) ? T() : src[static_cast<std::ptrdiff_t>(k) * nc + l];
      }
    }
  };
  auto inside = [&](int i, int j) {
    std::size_t t = 0;
    const T* base = src + static_cast<std::ptrdiff_t>(i - reach) * nc + (j - reach);
    const std::ptrdiff_t row_step = static_cast<std::ptrdiff_t>(step) * nc;
    for (int a = 0; a < side; a++, base += row_step)
      for (int b = 0; b < side; b++) taps[t++] = base[static_cast<std::ptrdiff_t>(b) * step];
  };

  const int out_nc = out.nc();
  for (int i = 0; i < nl; i++) {
    T* dst = out.buffer() + static_cast<std::ptrdiff_t>(i) * out_nc;
    const bool rows_inside = i - reach >= 0 && i + reach < nl;
    int first = nc, last = nc;
    if (rows_inside) {
      first = std::min(reach, nc);
      last = std::max(nc - first, first);
    }
    for (int j = 0; j < first; j++) {
      bordered(i, j);
      dst[j] = reduce(taps.data());
    }
    for (int j = first; j < last; j++) {
      inside(i, j);
      dst[j] = reduce(taps.data());
    }
    for (int j = last; j < nc; j++) {
      bordered(i, j);
      dst[j] = reduce(taps.data());
    }
  }
}

template <class T>
void average_filter(const char* filter, const to_array<T, false>& in, to_array<T, false>& out,
                    type_border border, int s, int window) {
  check_images(filter, in, out, border);
  if (window < 1)
    fatal_exitf(-1, stdout, "Error in %s: window size %d is not positive ...\n", filter, window);
  const int half = window / 2;
  const int count = (2 * half + 1) * (2 * half + 1);
  // The mean is over the taps actually summed: for an even window that is
  // (W+1)^2, not W^2.
  window_filter(in, out, border, tap_step(s), half, [count](const T* taps) {
    T sum = T();
    for (int t = 0; t < count; t++) sum += taps[t];
    return static_cast<T>(sum / static_cast<T>(count));
  });
}

template <class T>
void median_filter(const char* filter, const to_array<T, false>& in, to_array<T, false>& out,
                   type_border border, int step, int window) {
  check_images(filter, in, out, border);
  if (window < 1)
    fatal_exitf(-1, stdout, "Error in %s: window size %d is not positive ...\n", filter, window);
  const int half = (window - 1) / 2;
  // An even window would leave part of a W*W buffer unset; the median is
  // taken over the (2*half+1)^2 taps the grid really holds.
  const int count = (2 * half + 1) * (2 * half + 1);
  if (count == 9)
    window_filter(in, out, border, step, half, [](T* taps) { return opt_med9(taps); });
  else
    window_filter(in, out, border, step, half,
                  [count](T* taps) { return get_median(taps, count); });
}

}  // namespace

void smooth_average(const to_array<float, false>& in, to_array<float, false>& out,
                    type_border border, int s, int window) {
  average_filter("smooth_average", in, out, border, s, window);
}

void smooth_average(const to_array<int, false>& in, to_array<int, false>& out,
                    type_border border, int s, int window) {
  average_filter("smooth_average", in, out, border, s, window);
}

void smooth_haar(const to_array<float, false>& in, to_array<float, false>& out,
                 type_border border, int s, float norm) {
  separable_filter("smooth_haar", in, out, border, s, HaarLineKernel(), HaarColumnKernel{norm});
}

void smooth_linear(const to_array<float, false>& in, to_array<float, false>& out,
                   type_border border, int s) {
  separable_filter("smooth_linear", in, out, border, s, LinearKernel(), LinearKernel());
}

void smooth_linear(const to_array<int, false>& in, to_array<int, false>& out,
                   type_border border, int s) {
  separable_filter("smooth_linear", in, out, border, s, LinearKernel(), LinearKernel());
}

void smooth_bspline(const to_array<float, false>& in, to_array<float, false>& out,
                    type_border border, int s) {
  separable_filter("smooth_bspline", in, out, border, s, BsplineKernel(), BsplineKernel());
}

void smooth_bspline(const to_array<int, false>& in, to_array<int, false>& out,
                    type_border border, int s) {
  separable_filter("smooth_bspline", in, out, border, s, BsplineKernel(), BsplineKernel());
}

void smooth_mediane(const to_array<float, false>& in, to_array<float, false>& out,
                    type_border border, int s, int window) {
  // Adjacent taps for every scale below 1.
  median_filter("smooth_mediane", in, out, border, s < 1 ? 1 : tap_step(s), window);
}

void smooth_mediane(const to_array<int, false>& in, to_array<int, false>& out,
                    type_border border, int s, int window) {
  median_filter("smooth_mediane", in, out, border, tap_step(s), window);
}
