// What the noise tools of the curvelet transforms share, band by band: the
// row of statistics of a band and the local Wiener filter of a band in place.
#pragma once

#include <cstdio>

#include "array/base_types.h"
#include "array/to_array.h"

// TabStat(k, 0 .. 4) := standard deviation, skewness, kurtosis, minimum and
// maximum of the band.
void band_statistics(const to_array<float, false>& Band, to_array<float, true>& TabStat, int k);

// Every coefficient, in raster order and in place (a window reads the
// coefficients already filtered before it), times VarSignal / VarData: VarData
// the sum of the squares over the W x W window centred on it (mirror border,
// (2(W/2)+1)^2 terms) over W², VarSignal = VarData - sigma_of_line(i)², or 0
// when negative. A window of zeros has no signal: its gain is 0, not 0/0.
// With Trace, the variances at (10, 10) are printed.
template <class SigmaOfLine>
void wiener_band(to_array<float, false>& Band, int W, SigmaOfLine sigma_of_line, bool Trace) {
  const int h = W / 2;
  const float window_size = static_cast<float>(W) * static_cast<float>(W);
  for (int i = 0; i < Band.nl(); i++) {
    const float sigma = sigma_of_line(i);
    const float var_noise = sigma * sigma;
    for (int j = 0; j < Band.nc(); j++) {
      float sum = 0.f;
      for (int l = i - h; l <= i + h; l++)
        for (int m = j - h; m <= j + h; m++) {
          const float v = Band(l, m, I_MIRROR);
          sum += v * v;
        }
      const float var_data = sum / window_size;
      float var_signal = var_data - var_noise;
      if (var_signal < 0.f) var_signal = 0.f;
      if (Trace && i == 10 && j == 10)
        std::printf(" VarianceNoise = %f, VarianceSignal = %f, VarianceData = %f, Coef = %f\n",
                    var_noise, var_signal, var_data, Band(i, j));
      Band(i, j) = var_data > 0.f ? Band(i, j) * (var_signal / var_data) : 0.f;
    }
  }
}
