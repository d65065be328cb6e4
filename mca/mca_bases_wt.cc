// The bi-orthogonal 7/9 wavelet base: a half-decimated transform whose first
// scales are undecimated, over an L2-normalised bank. Its initialisation
// fixes the band noise levels and returns the data's largest normalised
// coefficient; its projection thresholds every detail band, the three finest
// one noise unit higher.
#include <cstdio>

#include "array/fatal.h"
#include "filters/filter_ana_synt.h"
#include "filters/sub_band_filter.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_coef_update.h"
#include "mca/mca_options.h"
#include "multires/half_decimated_2d_wt.h"
#include "numerics/noise_estimators.h"

namespace {

void reset(MCA& m) {
  m.WT_NbrUndecimatedScale = 1;
  m.WT_NbrScale = 4;
  m.WT_PositivSol = m.PositivSol;
}

void configure(MCA& m) {
  m.WT_NbrUndecimatedScale = WT_NbrUndecimatedScale;
  m.WT_NbrScale = NbrScale2D;
  m.WT_PositivSol = PositivSol;
}

void free(MCA& m) {
  if (m.WT_Trans != nullptr && m.WT_TabBand != nullptr) m.WT_Trans->free(m.WT_TabBand, m.WT_NbrScale);
  delete m.WT_Trans;
  delete m.WT_SB1D;
  delete m.WT_Filter;
  delete[] m.WT_TabDec;
  m.WT_Trans = nullptr;
  m.WT_SB1D = nullptr;
  m.WT_Filter = nullptr;
  m.WT_TabDec = nullptr;
  m.WT_NbrScale = 0;
}

void alloc(MCA& m) {
  if (m.WT_NbrScale < 2) fatal_exit("Error: bad number of scales ... \n");
  // A second alloc must not leak the first one's objects.
  if (m.WT_Trans != nullptr) {
    const int nbr_scale = m.WT_NbrScale;
    free(m);
    m.WT_NbrScale = nbr_scale;
  }
  m.WT_NbrScale = mca_fit_scale_count(
      m, "bi-orthogonal wavelet transform", m.WT_NbrScale,
      mca_largest_split_scales(m, m.WT_NbrUndecimatedScale, false));
  m.WT_Filter = new FilterAnaSynt(F_MALLAT_7_9);
  m.WT_SB1D = new SubBandFilter(*m.WT_Filter, NORM_L2);
  m.WT_Trans = new HALF_DECIMATED_2D_WT(*m.WT_SB1D);
  if (m.WT_NbrUndecimatedScale < 0 || m.WT_NbrUndecimatedScale > m.WT_NbrScale)
    m.WT_NbrUndecimatedScale = m.WT_NbrScale;
  m.WT_TabDec = new Bool[m.WT_NbrScale];
  for (int s = 0; s < m.WT_NbrScale; s++)
    m.WT_TabDec[s] = s < m.WT_NbrUndecimatedScale ? False : True;
  m.WT_NbrBand = m.WT_Trans->alloc(m.WT_TabBand, m.Nl, m.Nc, m.WT_NbrScale, m.WT_TabDec);
  if (m.Verbose) std::printf("WT: Nbr scales = %d Nbr band = %d\n", m.WT_NbrScale, m.WT_NbrBand);
  m.WT_TabNoise.alloc(m.WT_NbrBand, "WT_TabNoise");
  if (m.UseCorrel) {
    delete[] m.WT_TabBandCorrel;
    m.WT_TabBandCorrel = nullptr;
    m.WT_Trans->alloc(m.WT_TabBandCorrel, m.Nl, m.Nc, m.WT_NbrScale, m.WT_TabDec);
  }
}

float init(MCA& m, McaImage& data) { return m.wt_init(data, m.UseMad ? True : False); }
float max(MCA& m, McaImage& resi) { return m.wt_max(resi); }
void project(MCA& m, McaImage& ima) { m.wt_proj(ima, m.Lambda); }
void constrain(MCA& m, int b) { mca_positivity(m.TabImaRec[b], m.WT_PositivSol); }

}  // namespace

const MCABaseFamily WTBase = {"bi-orthogonal WT with 7/9 filters", "_wt", "WT proj ", reset,
                              configure, alloc, free, init, max, project, constrain, nullptr, true};

float MCA::wt_init(to_array<float, false>& Data, Bool UseMadLevels) {
  WT_Trans->transform(Data, WT_TabBand, WT_NbrScale, WT_TabDec);
  float maximum = 0.f;
  for (int b = 0; b < WT_NbrBand - 1; b++) {
    // The bank is L2-normalised: white noise keeps its level in every band.
    float level = Noise_Ima;
    if (UseMadLevels) {
      level = detect_noise_from_mad(WT_TabBand[b], False);
      if (Verbose) std::printf("WT Band %d Noise Level =  %g\n", b + 1, in_input_units(level));
      mca_check_mad_noise_level("WT", b, level);
    } else {
      mca_check_noise_level("WT", b, level);
    }
    WT_TabNoise(b) = level;
    const float candidate = mca_max_magnitude(WT_TabBand[b]) / level;
    if (candidate > maximum) maximum = candidate;
  }
  if (Verbose) std::printf("WT MAX_NormCoef = %g\n", maximum);
  return maximum;
}

float MCA::wt_max(to_array<float, false>& Residual) {
  WT_Trans->transform(Residual, WT_TabBand, WT_NbrScale, WT_TabDec);
  float maximum = 0.f;
  for (int b = 0; b < WT_NbrBand - 1; b++) {
    const float candidate = mca_max_magnitude(WT_TabBand[b]) / Noise_Ima;
    if (candidate > maximum) maximum = candidate;
  }
  if (Verbose) std::printf("WT MAX_NormCoef = %g\n", maximum);
  return maximum;
}

void MCA::wt_proj(to_array<float, false>& Ima, float Level) {
  WT_Trans->transform(Ima, WT_TabBand, WT_NbrScale, WT_TabDec);
  if (UseCorrel) WT_Trans->transform(ImaCorrel, WT_TabBandCorrel, WT_NbrScale, WT_TabDec);
  for (int b = 0; b < WT_NbrBand - 1; b++) {
    // The three bands of the finest scale hold most of the noise.
    const float factor = b < 3 ? Level + 1.f : Level;
    const float threshold = factor * WT_TabNoise(b);
    const float* correl = UseCorrel ? WT_TabBandCorrel[b].buffer() : nullptr;
    mca_update_coefficients(WT_TabBand[b].buffer(), correl, WT_TabBand[b].n_elem(), threshold,
                            Level, CorrelConstraint, UseNormL1 == 1);
  }
  // The a trous flag: the program sets both from the same option.
  if (AT_KillLastScale == 1) WT_TabBand[WT_NbrBand - 1].init();
  WT_Trans->recons(WT_TabBand, Ima, WT_NbrScale, WT_TabDec);
}
