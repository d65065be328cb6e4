// The a trous wavelet base: the initialisation that fixes the band noise
// levels and returns the data's largest normalised coefficient, the maximum
// used by the MOM schedule, the projection by thresholding, and the base's
// descriptor.
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_options.h"
#include "mca/mca_coef_update.h"
#include "numerics/noise_estimators.h"

namespace {

// Scale counts of the base: below 2 there is no wavelet band, and from 9 on
// the finest band levels would come from the zero entries of the band-norm
// table.
constexpr int MinAtrouScales = 2;
constexpr int MaxAtrouScalesWithNorms = 8;

void reset(MCA& m) {
  m.AT_TabBand = nullptr;
  m.AT_NbrScale = 4;
  m.AT_KillLastScale = 1;
  m.AT_PositivSol = m.PositivSol;
}

void configure(MCA& m) {
  m.AT_NbrScale = NbrScale2D;
  m.AT_KillLastScale = KillLastScale;
  m.AT_PositivSol = PositivSol;
}

void alloc(MCA& m) {
  if (m.AT_NbrScale < MinAtrouScales || (m.AT_NbrScale > MaxAtrouScalesWithNorms && !m.UseMad))
    fatal_exitf(-1, stdout,
                "Error: bad number of scales in the a trous transform: %d (%d to %d) ...\n",
                m.AT_NbrScale, MinAtrouScales, MaxAtrouScalesWithNorms);
  if (m.AT_TabBand != nullptr) m.AT_Trans.free(m.AT_TabBand, m.AT_NbrScale);
  m.AT_Trans.alloc(m.AT_TabBand, m.Nl, m.Nc, m.AT_NbrScale);
  m.AT_TabNoise.alloc(m.AT_NbrScale, "AT_TabNoise");
  if (m.UseCorrel) {
    if (m.AT_TabBandCorrel != nullptr) m.AT_Trans.free(m.AT_TabBandCorrel, m.AT_NbrScale);
    m.AT_Trans.alloc(m.AT_TabBandCorrel, m.Nl, m.Nc, m.AT_NbrScale);
  }
}

void free(MCA& m) { m.AT_Trans.free(m.AT_TabBand, m.AT_NbrScale); }

// Largest of the band magnitudes, in units of each band's noise level.
float normalised_max(const MCA& m, const std::vector<float>& magnitude) {
  float maximum = 0.f;
  for (int b = 0; b < m.AT_NbrScale - 1; b++) {
    float candidate = magnitude[b] / m.AT_TabNoise(b);
    if (candidate > maximum) maximum = candidate;
  }
  if (m.Verbose) std::printf("AT MAX_NormCoef = %g\n", maximum);
  return maximum;
}

// Largest coefficient magnitude of the wavelet bands held in m.AT_TabBand, in
// units of each band's noise level.
float band_max(MCA& m) {
  std::vector<float> magnitude(m.AT_NbrScale - 1);
  mca_max_magnitudes(m.AT_TabBand, m.AT_NbrScale - 1, magnitude.data());
  return normalised_max(m, magnitude);
}

float init(MCA& m, McaImage& data) { return m.atrou_init(data, m.UseMad ? True : False); }
float max(MCA& m, McaImage& resi) { return m.atrou_max(resi); }
void project(MCA& m, McaImage& ima) { m.atrou_proj(ima, m.Lambda); }
void constrain(MCA& m, int b) { mca_positivity(m.TabImaRec[b], m.AT_PositivSol); }
void constrain_lines(MCA& m, int b, int first, int end) {
  mca_positivity_lines(m.TabImaRec[b], m.AT_PositivSol, first, end);
}

}  // namespace

const MCABaseFamily AtrouBase = {"A trous algorithm", "_atrou", "Atrou proj ", reset, configure,
                                 alloc, free, init, max, project, constrain, constrain_lines,
                                 false};

float MCA::atrou_init(to_array<float, false>& Data, Bool UseMadLevels) {
  AT_Trans.transform(Data, AT_TabBand, AT_NbrScale);
  for (int b = 0; b < AT_NbrScale - 1; b++) {
    float level;
    if (UseMadLevels) {
      level = detect_noise_from_mad(AT_TabBand[b], False);
      if (Verbose) std::printf("AT Band %d Noise Level =  %g\n", b + 1, in_input_units(level));
      mca_check_mad_noise_level("AT", b, level);
    } else {
      level = Noise_Ima * AT_Trans.norm_band(b);
      mca_check_noise_level("AT", b, level);
    }
    AT_TabNoise(b) = level;
  }
  return band_max(*this);
}

float MCA::atrou_max(to_array<float, false>& Residual) {
  // The band maxima are taken over the lines as the transform finishes them,
  // one partial maximum per thread and band; a maximum does not depend on
  // how the lines are shared.
  const int wavelet_bands = AT_NbrScale - 1;
  std::vector<float> partial(static_cast<size_t>(omp_get_max_threads()) * wavelet_bands, 0.f);
  const int nc = Residual.nc();
  AT_Trans.transform_then(Residual, AT_TabBand, AT_NbrScale, [&](int first, int end) {
    float* maxima = partial.data() + static_cast<size_t>(omp_get_thread_num()) * wavelet_bands;
    const int64_t at = static_cast<int64_t>(first) * nc;
    const int64_t count = static_cast<int64_t>(end - first) * nc;
    for (int b = 0; b < wavelet_bands; b++)
      maxima[b] = std::max(maxima[b], mca_span_max_magnitude(AT_TabBand[b].buffer() + at, count));
  });
  std::vector<float> magnitude(wavelet_bands, 0.f);
  for (size_t k = 0; k < partial.size(); k++)
    magnitude[k % wavelet_bands] = std::max(magnitude[k % wavelet_bands], partial[k]);
  return normalised_max(*this, magnitude);
}

void MCA::atrou_proj(to_array<float, false>& Ima, float Level) {
  if (UseCorrel) AT_Trans.transform(ImaCorrel, AT_TabBandCorrel, AT_NbrScale);
  const int wavelet_bands = AT_NbrScale - 1;
  std::vector<float> threshold(wavelet_bands);
  for (int b = 0; b < wavelet_bands; b++) {
    // The finest band takes one noise unit more: it holds most of the noise.
    float factor = b == 0 ? Level + 1.f : Level;
    if (Level == 0.f) factor = 0.f;
    threshold[b] = factor * AT_TabNoise(b);
  }
  // Every line of every band is thresholded and, for the plain transform,
  // the lines are summed back while they are still in cache, by the thread
  // that made them: each pixel depends on its own coefficients alone.
  const bool plain_sum = !AT_Trans.ModifiedATWT && !AT_Trans.Adjoint;
  const int nc = Ima.nc();
  const bool kill_last = AT_KillLastScale == 1;
  const bool l1 = UseNormL1 == 1;
  AT_Trans.transform_then(Ima, AT_TabBand, AT_NbrScale, [&](int first, int end) {
    for (int i = first; i < end; i++) {
      const int64_t at = static_cast<int64_t>(i) * nc;
      for (int b = 0; b < wavelet_bands; b++)
        mca_update_span(AT_TabBand[b].buffer() + at,
                        UseCorrel ? AT_TabBandCorrel[b].buffer() + at : nullptr, nc, threshold[b],
                        Level, CorrelConstraint, l1);
      if (kill_last) std::fill_n(AT_TabBand[AT_NbrScale - 1].buffer() + at, nc, 0.f);
      if (plain_sum) AT_Trans.sum_band_lines(AT_TabBand, Ima, AT_NbrScale, True, i, i + 1);
    }
    if (plain_sum && LinesMade) LinesMade(first, end);
  });
  if (plain_sum) return;
  AT_Trans.recons(AT_TabBand, Ima, AT_NbrScale, True);
  if (LinesMade) LinesMade(0, Ima.nl());
}
