// A bank for the 1D transform tests whose bands tell where every sample came
// from: the lazy wavelet, low band = even samples, high band = odd samples.
// It reconstructs exactly, so layouts and round trips do not depend on the
// quality of a filter.
#pragma once

#include <vector>

#include "array/to_array.h"
#include "filters/sub_band_1d.h"
#include "support/test_images.h"

struct LazyBank : SubBand1D {
  using SubBand1D::recons;
  using SubBand1D::transform;
  void transform(int N, float* Signal, float* Low, float* High) override {
    for (int i = 0; i < N; i += 2) Low[i / 2] = Signal[i];
    for (int i = 1; i < N; i += 2) High[i / 2] = Signal[i];
  }
  void recons(int N, float* Low, float* High, float* Signal) override {
    for (int i = 0; i < N; i += 2) Signal[i] = Low[i / 2];
    for (int i = 1; i < N; i += 2) Signal[i] = High[i / 2];
  }
};

// 0, 1, ..., n-1.
inline to_array<float, true> ramp(int n) {
  to_array<float, true> x(n);
  for (int i = 0; i < n; i++) x(i) = float(i);
  return x;
}

inline to_array<float, true> random_signal_array(int n, unsigned seed) {
  to_array<float, true> x(n);
  fill_random(x, seed);
  return x;
}
