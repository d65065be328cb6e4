// The coefficient thresholding that the 1D a trous and half-decimated
// transforms share: a hard threshold, optionally followed by a soft one, the
// removal of isolated coefficients and of negative ones.
#pragma once

#include <cstdio>

#include "array/base_types.h"
#include "array/to_array.h"

struct BandThreshold {
  float Level;        // hard threshold
  float Sigma;        // noise level of the band
  int SoftMode;       // 1: a soft threshold follows the hard one
  float SoftFactor;   // soft level in units of Sigma, at most Level/2
  Bool KillIsolated;  // zero a coefficient whose two neighbours are off the support
  Bool PositiveOnly;  // zero negative results

  float update(float coef) const;
  Bool is_on_support(float coef) const { return update(coef) != 0.f ? True : False; }
  // Thresholds n coefficients in place; returns how many stay non-zero.
  int apply(float* band, int n) const;
};

// Largest magnitude of a band; with PositiveOnly its negative coefficients
// are first raised to 0 in place.
float band_abs_max(float* band, int n, Bool PositiveOnly);

// Zeroes bands first .. last-1.
void zero_bands(to_array<float, true>* Bands, int first, int last);

// The band-set operations the 1D a trous and half-decimated transforms
// share, over the fields of the transform (Derived): NbrScale, FirstScale,
// Noise, SoftMode, SoftFactor, KillIsolated, PositiveOnly, Verbose, Debug.
// No data of its own.
template <class Derived>
class BandSetOps {
 public:
  // Records n as the first used band and zeroes the bands below it.
  void KillScaleNotUsed(to_array<float, true>* Bands, int n) {
    self().FirstScale = n;
    zero_bands(Bands, 0, n < self().NbrScale ? n : self().NbrScale);
  }
  void KillLastScale(to_array<float, true>* Bands) {
    zero_bands(Bands, self().NbrScale - 1, self().NbrScale);
  }
  float update(float Coef, float Level, float Sigma) {
    return threshold_at(Level, Sigma).update(Coef);
  }
  Bool is_on_support(float Coef, float Level, float Sigma) {
    return threshold_at(Level, Sigma).is_on_support(Coef);
  }

 protected:
  BandThreshold threshold_at(float Level, float Sigma) const {
    const Derived& wt = static_cast<const Derived&>(*this);
    return {Level, Sigma, wt.SoftMode, wt.SoftFactor, wt.KillIsolated, wt.PositiveOnly};
  }
  // The largest detail magnitude of band b over norm(b) and the noise; with
  // Debug one line per band after debug_label, with Verbose the result after
  // verbose_label.
  template <class Norm>
  float abs_max_level(to_array<float, true>* Bands, Norm norm, const char* debug_label,
                      const char* verbose_label) {
    Derived& wt = self();
    float result = 0.f;
    for (int b = 0; b < wt.NbrScale - 1; b++) {
      float m = band_abs_max(Bands[b].buffer(), Bands[b].nx(), wt.PositiveOnly);
      float level = m / norm(b) / wt.Noise;
      if (wt.Debug)
        std::printf("%s (%d) : %g, Max amplitude : %g\n", debug_label, b + 1, double(level),
                    double(m));
      if (level > result) result = level;
    }
    if (wt.Verbose) std::printf("%s%g\n", verbose_label, double(result));
    return result;
  }

 private:
  Derived& self() { return static_cast<Derived&>(*this); }
};
