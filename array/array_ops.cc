// Image summary line for progress traces.
#include "array/array_ops.h"

#include <cmath>
#include <cstdio>

void INFO(const to_array<float, false>& image, const char* label) { INFO(image, label, 1.); }

void INFO(const to_array<float, false>& image, const char* label, double scale) {
  if (image.naxis() != 2) array_detail::naxis_error(image.naxis(), " and a two dim array is expected ...");
  int nl = image.nl(), nc = image.nc();
  float min = image(0, 0), max = min;
  double flux = 0., energy = 0.;
  for (int i = 0; i < nl; i++) {
    const float* line = image.buffer() + static_cast<long>(i) * nc;
    for (int j = 0; j < nc; j++) {
      float x = line[j];
      if (x < min) min = x;
      if (x > max) max = x;
      flux += x;
      float square = x * x;
      energy += square;
    }
  }
  double n = static_cast<double>(nl) * nc;
  double mean = flux / n;
  // E[x^2] - mean^2 can fall just below 0 by rounding for a flat image; the
  // deviation is then 0, not a NaN.
  double variance = energy / n - mean * mean;
  double sigma = variance > 0. ? std::sqrt(variance) : 0.;
  // %g is the default format of an output stream: six significant digits.
  std::printf("%s: Min = %g    Max = %g    Flux = %g    Mean = %g     Sigma = %g\n", label,
              static_cast<double>(min) * scale, static_cast<double>(max) * scale, flux * scale,
              mean * scale, sigma * scale);
}
