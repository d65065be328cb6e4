// The fast curvelet base of the MCA: complex curvelets on angular wedges of
// the Meyer spectrum. Band noise levels come from the norms of a unit-noise
// calibration (or MAD estimates), the finest scale is thresholded one unit
// higher, and the coarsest scale is kept or removed as a whole.
#include <cstdio>

#include "array/fatal.h"
#include "curvelet/fcur.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_coef_update.h"
#include "mca/mca_options.h"
#include "numerics/noise_estimators.h"

namespace {

// The MCA's fast curvelets: 32 directions at the finest scale, complex,
// without extension; the norms are measured for a 3-sigma level.
constexpr int MinFcurScales = 2;
constexpr float NormLevel = 3.0f;

void reset(MCA& m) {
  m.FCur_NbrDir = 32;
  m.FCur_PositivSol = m.PositivSol;
  m.FCur_NbrScale = 4;
  m.FCur_KillLastScale = 0;
}

void configure(MCA& m) {
  m.FCur_PositivSol = PositivSol;
  m.FCur_NbrScale = NbrScale2D;
  m.FCur_KillLastScale = KillLastScale;
}

FCUR* new_transform(const MCA& m) {
  FCUR* f = new FCUR;
  f->alloc_from_fine(m.FCur_NbrScale, m.Nl, m.Nc, m.FCur_NbrDir, False, False, False);
  return f;
}

// The correlation object goes with the base: nothing else holds it.
void free(MCA& m) {
  delete m.FCur_Trans;
  delete m.FCur_Correl;
  m.FCur_Trans = m.FCur_Correl = nullptr;
}

void alloc(MCA& m) {
  if (m.FCur_NbrScale < MinFcurScales)
    fatal_exitf(-1, stdout,
                "Error: bad number of scales in the fast curvelet transform: %d (%d at least) ...\n",
                m.FCur_NbrScale, MinFcurScales);
  m.FCur_NbrScale =
      mca_fit_scale_count(m, "fast curvelet transform", m.FCur_NbrScale,
                          fcur_largest_scale_count(m.Nl, m.Nc));
  free(m);
  m.FCur_Trans = new_transform(m);
  m.FCur_Trans->get_norm_coeff(NormLevel);
  m.FCur_TabNoise.alloc(m.FCur_Trans->nbr_tot_band(), "FCur_TabNoise");
  if (m.UseCorrel) m.FCur_Correl = new_transform(m);
}

float init(MCA& m, McaImage& data) { return m.fcur_init(data, m.UseMad ? True : False); }
float max(MCA& m, McaImage& resi) { return m.fcur_max(resi); }
void project(MCA& m, McaImage& ima) { m.fcur_proj(ima, m.Lambda); }
void constrain(MCA& m, int b) {
  mca_positivity(m.TabImaRec[b], m.FCur_PositivSol);
  mca_clip_zoomed(m.TabImaRec[b], m);
}

// Largest band coefficient in noise units over every band but the coarsest
// scale's, bands visited scale by scale.
float normalised_max(const FCUR& f, const to_array<float, true>& noise) {
  to_array<float, false> band;
  float maximum = 0.f;
  int k = 0;
  for (int s = 0; s < f.nbr_scale() - 1; s++)
    for (int b = 0; b < f.nbr_band(s); b++, k++) {
      f.get_band(s, b, band);
      const float candidate = mca_max_magnitude(band) / noise(k);
      if (candidate > maximum) maximum = candidate;
    }
  return maximum;
}

}  // namespace

const MCABaseFamily FCurBase = {"Curvelet transform 04 (Fast Transform)", "_fcur",
                                "Fast Curvelet proj ", reset, configure, alloc, free, init, max,
                                project, constrain, nullptr, true};

float MCA::fcur_init(to_array<float, false>& Data, Bool UseMadLevels) {
  FCUR& f = *FCur_Trans;
  const int detail_scales = f.nbr_scale() - 1;
  if (!UseMadLevels) {
    int k = 0;
    for (int s = 0; s < detail_scales; s++)
      for (int b = 0; b < f.nbr_band(s); b++, k++) FCur_TabNoise(k) = f.norm_band(s, b) * Noise_Ima;
  }
  f.cur_trans(Data);
  to_array<float, false> band;
  int k = 0;
  for (int s = 0; s < detail_scales; s++)
    for (int b = 0; b < f.nbr_band(s); b++, k++) {
      if (UseMadLevels) {
        f.get_band(s, b, band);
        FCur_TabNoise(k) = detect_noise_from_mad(band, False);
        mca_check_mad_noise_level("FCUR", k, FCur_TabNoise(k));
      } else {
        mca_check_model_noise_level(*this, "fast curvelet transform", FCur_NbrScale, k,
                                    FCur_TabNoise(k));
      }
    }
  const float maximum = normalised_max(f, FCur_TabNoise);
  if (Verbose) std::printf("FCUR MAX_NormCoef = %g\n", maximum);
  return maximum;
}

float MCA::fcur_max(to_array<float, false>& Residual) {
  FCur_Trans->cur_trans(Residual);
  const float maximum = normalised_max(*FCur_Trans, FCur_TabNoise);
  if (Verbose) std::printf("FCUR MAX_NormCoef = %g\n", maximum);
  return maximum;
}

void MCA::fcur_proj(to_array<float, false>& Ima, float Level) {
  FCUR& f = *FCur_Trans;
  f.cur_trans(Ima);
  if (UseCorrel) FCur_Correl->cur_trans(ImaCorrel);
  to_array<float, false> band, correl;
  int k = 0;
  for (int s = 0; s < f.nbr_scale() - 1; s++)
    for (int b = 0; b < f.nbr_band(s); b++, k++) {
      // The finest scale holds most of the noise: one unit more.
      float factor = s == 0 ? Level + 1.f : Level;
      if (Level == 0.f) factor = 0.f;
      const float threshold = factor * FCur_TabNoise(k);
      f.get_band(s, b, band);
      if (UseCorrel) FCur_Correl->get_band(s, b, correl);
      mca_update_coefficients(band.buffer(), UseCorrel ? correl.buffer() : nullptr,
                              band.n_elem(), threshold, Level, CorrelConstraint, UseNormL1 == 1);
      f.put_band(s, b, band);
    }
  if (FCur_KillLastScale == 1) f.TabCurvelet[f.nbr_scale() - 1][0].init();
  f.cur_recons(Ima);
}
