// Thresholding of one band, in the order the iterative solvers rely on: the
// isolation test sees the previous coefficient already updated and the next
// one not yet.
#include "filters/band_threshold.h"

#include <algorithm>
#include <cmath>

#include "array/scalar_helpers.h"

float BandThreshold::update(float coef) const {
  float c = hard_threshold(coef, Level);
  if (SoftMode == 1) {
    float soft = Sigma * SoftFactor;
    c = soft_threshold(c, soft < Level / 2 ? soft : Level / 2);
  }
  return c;
}

int BandThreshold::apply(float* band, int n) const {
  int detected = 0;
  for (int i = 0; i < n; i++) {
    float c = update(band[i]);
    if (KillIsolated && i > 0 && i < n - 1 && !is_on_support(band[i - 1]) &&
        !is_on_support(band[i + 1]))
      c = 0.f;
    if (PositiveOnly && c < 0.f) c = 0.f;
    band[i] = c;
    if (c != 0.f) detected++;
  }
  return detected;
}

float band_abs_max(float* band, int n, Bool PositiveOnly) {
  float m = 0.f;
  for (int i = 0; i < n; i++) {
    if (PositiveOnly && band[i] < 0.f) band[i] = 0.f;
    m = std::max(m, std::fabs(band[i]));
  }
  return m;
}

void zero_bands(to_array<float, true>* Bands, int first, int last) {
  for (int b = first; b < last; b++) Bands[b].init();
}
