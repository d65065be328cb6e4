// Spline zoom: the spline windows depend on the column alone or the line
// alone, so they are computed once per column and once per line and the
// per-pixel work is the 4 x 4 weighted sum.
#include "numerics/im_zoom.h"

#include <cmath>
#include <vector>

#include "array/fatal.h"
#include "numerics/bspline.h"

namespace {

constexpr int ZoomDegree = 3;
constexpr int Taps = ZoomDegree + 1;

struct AxisWindows {
  std::vector<long> index;     // Taps per output position
  std::vector<double> weight;  // Taps per output position
};

// Windows of the output positions position(0) .. position(count - 1) on an
// input axis of length samples.
template <class Position>
AxisWindows axis_windows(int count, long length, Position position) {
  AxisWindows w;
  w.index.resize(static_cast<size_t>(count) * Taps);
  w.weight.resize(static_cast<size_t>(count) * Taps);
  long index[BsplineMaxWindow];
  double weight[BsplineMaxWindow];
  for (int k = 0; k < count; k++) {
    bspline_window(ZoomDegree, position(k), length, index, weight);
    for (int t = 0; t < Taps; t++) {
      w.index[static_cast<size_t>(k) * Taps + t] = index[t];
      w.weight[static_cast<size_t>(k) * Taps + t] = weight[t];
    }
  }
  return w;
}

template <class ColumnPosition, class LinePosition>
void resample(to_array<float, false>& in, to_array<float, false>& out, ColumnPosition x_of,
              LinePosition y_of) {
  const int width = in.nc(), height = in.nl();
  if (width == 0 || height == 0)
    fatal_exitf(-1, stdout, "Error: im_zoom of an empty image (Nl = %d Nc = %d) ... \n", height,
                width);
  BSPLINE_DEC spline;
  spline.SplineDegree = ZoomDegree;
  spline.SamplesToCoefficients(in.buffer(), width, height);

  const int out_nl = out.nl(), out_nc = out.nc();
  const AxisWindows columns = axis_windows(out_nc, width, x_of);
  const AxisWindows lines = axis_windows(out_nl, height, y_of);
  const float* coeff = in.buffer();
  for (int i = 0; i < out_nl; i++) {
    const long* y_index = &lines.index[static_cast<size_t>(i) * Taps];
    const double* y_weight = &lines.weight[static_cast<size_t>(i) * Taps];
    float* out_row = out.buffer() + static_cast<int64_t>(i) * out_nc;
    for (int j = 0; j < out_nc; j++) {
      const long* x_index = &columns.index[static_cast<size_t>(j) * Taps];
      const double* x_weight = &columns.weight[static_cast<size_t>(j) * Taps];
      double value = 0.0;
      for (int t = 0; t < Taps; t++) {
        const float* row = coeff + y_index[t] * width;
        double line_sum = 0.0;
        for (int s = 0; s < Taps; s++) line_sum += x_weight[s] * row[x_index[s]];
        value += y_weight[t] * line_sum;
      }
      out_row[j] = static_cast<float>(value);
    }
  }
}

}  // namespace

void im_zoom(to_array<float, false>& in, to_array<float, false>& out) {
  const float zx = static_cast<float>(out.nc()) / static_cast<float>(in.nc());
  const float zy = static_cast<float>(out.nl()) / static_cast<float>(in.nl());
  resample(
      in, out, [zx](int j) { return static_cast<double>(j / zx); },
      [zy](int i) { return static_cast<double>(i / zy); });
}

void im_zoom(to_array<float, false>& in, to_array<float, false>& out, double zx, double zy) {
  const int nl = static_cast<int>(in.nl() * zy + 0.5);
  const int nc = static_cast<int>(in.nc() * zx + 0.5);
  out.alloc(nl, nc);
  resample(
      in, out, [zx](int j) { return j / zx + 0.5; }, [zy](int i) { return i / zy + 0.5; });
}

void im_zoom(to_array<float, false>& in, to_array<float, false>& out, double z) {
  im_zoom(in, out, z, z);
}
