// Base operations of the a trous wavelet base and the pixel basis: the
// initialisation that fixes the band noise levels and returns the data's
// largest normalised coefficient, the maximum used by the MOM schedule, and
// the projection by thresholding.
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "mca/mca.h"
#include "mca/mca_coef_update.h"
#include "numerics/noise_estimators.h"

namespace {

// Magnitude of the largest coefficient.
float max_magnitude(const to_array<float, false>& ima) { return std::fabs(ima.maxfabs()); }

// A zero level would divide every normalised coefficient by zero and turn
// the whole separation into NaN.
void check_level(const char* tag, int band, float level) {
  if (!(level > 0.f))
    fatal_exitf(-1, stdout,
                "Error: %s band %d has a noise level of %g: the image looks noiseless or flat; "
                "give the noise level with -g ...\n",
                tag, band + 1, level);
}

}  // namespace

float MCA::atrou_init(to_array<float, false>& Data, Bool UseMadLevels) {
  AT_Trans.transform(Data, AT_TabBand, AT_NbrScale);
  float maximum = 0.f;
  for (int b = 0; b < AT_NbrScale - 1; b++) {
    float level;
    if (UseMadLevels) {
      level = detect_noise_from_mad(AT_TabBand[b], False);
      if (Verbose) std::printf("AT Band %d Noise Level =  %g\n", b + 1, level);
    } else {
      level = Noise_Ima * AT_Trans.norm_band(b);
    }
    check_level("AT", b, level);
    AT_TabNoise(b) = level;
    float candidate = max_magnitude(AT_TabBand[b]) / level;
    if (candidate > maximum) maximum = candidate;
  }
  if (Verbose) std::printf("AT MAX_NormCoef = %g\n", maximum);
  return maximum;
}

float MCA::atrou_max(to_array<float, false>& Residual) {
  AT_Trans.transform(Residual, AT_TabBand, AT_NbrScale);
  float maximum = 0.f;
  for (int b = 0; b < AT_NbrScale - 1; b++) {
    float candidate = max_magnitude(AT_TabBand[b]) / AT_TabNoise(b);
    if (candidate > maximum) maximum = candidate;
  }
  if (Verbose) std::printf("AT MAX_NormCoef = %g\n", maximum);
  return maximum;
}

void MCA::atrou_proj(to_array<float, false>& Ima, float Level) {
  AT_Trans.transform(Ima, AT_TabBand, AT_NbrScale);
  if (UseCorrel) AT_Trans.transform(ImaCorrel, AT_TabBandCorrel, AT_NbrScale);
  for (int b = 0; b < AT_NbrScale - 1; b++) {
    // The finest band takes one noise unit more: it holds most of the noise.
    float factor = b == 0 ? Level + 1.f : Level;
    if (Level == 0.f) factor = 0.f;
    const float threshold = factor * AT_TabNoise(b);
    const float* correl = UseCorrel ? AT_TabBandCorrel[b].buffer() : nullptr;
    float* coef = AT_TabBand[b].buffer();
    mca_update_coefficients(coef, correl, AT_TabBand[b].n_elem(), threshold, Level,
                            CorrelConstraint, UseNormL1 == 1);
  }
  if (AT_KillLastScale == 1) AT_TabBand[AT_NbrScale - 1].init();
  AT_Trans.recons(AT_TabBand, Ima, AT_NbrScale, True);
}

float MCA::pixel_init(to_array<float, false>& Data, Bool UseMadLevels) {
  Pix_Noise = UseMadLevels ? detect_noise_from_mad(Data, False) : Noise_Ima;
  check_level("PIX", 0, Pix_Noise);
  float maximum = max_magnitude(Data) / Pix_Noise;
  if (Verbose) std::printf("PIX MAX_NormCoef = %g\n", maximum);
  return maximum;
}

float MCA::pixel_max(to_array<float, false>& Residual) {
  return max_magnitude(Residual) / Pix_Noise;
}

void MCA::pixel_proj(to_array<float, false>& Ima, float Level) {
  const float threshold = Level * Pix_Noise;
  float* p = Ima.buffer();
  const int n = Ima.n_elem();
  for (int k = 0; k < n; k++) p[k] = mca_update(p[k], threshold, Pix_Noise);
}
