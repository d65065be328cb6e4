// The wavelet-packet base: packets over the bi-orthogonal 7/9 bank with
// undecimated first levels. Every band but the coarsest smooth one is
// thresholded at one level per band; the smooth band may be removed.
#include <algorithm>
#include <cstdio>

#include "array/fatal.h"
#include "filters/filter_ana_synt.h"
#include "filters/sub_band_filter.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_coef_update.h"
#include "mca/mca_options.h"
#include "multires/wpackets_2d.h"
#include "numerics/noise_estimators.h"

namespace {

void reset(MCA& m) {
  m.WP_NbrScale = 4;
  m.WP_NbrUndecimatedScale = 2;
  m.WP_PositivSol = 0;
  m.WP_KillLastBand = 0;
  m.WP_FilterType = 1;
}

void configure(MCA& m) {
  m.WP_NbrScale = NbrScale2D;
  m.WP_NbrUndecimatedScale = WP_NbrUndecimatedScale;
  m.WP_PositivSol = 0;
  m.WP_KillLastBand = COS_Min > 0 ? 1 : 0;
  m.WP_FilterType = 1;
}

// The correlation transform shares the bank, so both go with it.
void free(MCA& m) {
  delete m.WP_Trans;
  delete m.WP_Correl;
  delete m.WP_SB1D;
  delete m.WP_Filter;
  m.WP_Trans = m.WP_Correl = nullptr;
  m.WP_SB1D = nullptr;
  m.WP_Filter = nullptr;
  m.WP_Coef = m.WP_CoefCorrel = nullptr;
}

void alloc(MCA& m) {
  if (m.WP_NbrScale < 2) fatal_exit("Error: bad number of scales ... \n");
  // The packets take a negative undecimated count as none.
  m.WP_NbrScale = mca_fit_scale_count(
      m, "wavelet packets", m.WP_NbrScale,
      mca_largest_split_scales(m, std::max(m.WP_NbrUndecimatedScale, 0), true));
  free(m);
  std::printf("%d %d %d %d\n", m.Nl, m.Nc, m.WP_NbrScale, m.WP_NbrUndecimatedScale);
  m.WP_Filter = new FilterAnaSynt(static_cast<type_sb_filter>(m.WP_FilterType));
  m.WP_SB1D = new SubBandFilter(*m.WP_Filter, NORM_L2);
  m.WP_Trans = new WPACKETS_2D(*m.WP_SB1D);
  m.WP_Trans->alloc(m.Nl, m.Nc, m.WP_NbrScale, m.WP_NbrUndecimatedScale);
  if (m.UseCorrel) {
    m.WP_Correl = new WPACKETS_2D(*m.WP_SB1D);
    m.WP_Correl->alloc(m.Nl, m.Nc, m.WP_NbrScale, m.WP_NbrUndecimatedScale);
  }
}

float init(MCA& m, McaImage& data) { return m.wp_init(data, m.UseMad ? True : False); }
float max(MCA& m, McaImage& resi) { return m.wp_max(resi); }
void project(MCA& m, McaImage& ima) { m.wp_proj(ima, m.Lambda); }
void constrain(MCA& m, int b) {
  mca_positivity(m.TabImaRec[b], m.WP_PositivSol);
  mca_bound_zoomed_pair(m, b);
}

}  // namespace

const MCABaseFamily WPBase = {"Wavelet Packet basis", "_wp", "WP proj ", reset, configure, alloc,
                              free, init, max, project, constrain, nullptr, false};

float MCA::wp_init(to_array<float, false>& Data, Bool UseMadLevels) {
  WP_Trans->transform(Data, WP_Coef);
  const int nbr_band = WP_Coef->nbr_band();
  WP_TabNoise.alloc(nbr_band, "WP_TabNoise");
  to_array<float, false> band;
  float maximum = 0.f;
  for (int b = 0; b < nbr_band - 1; b++) {
    WP_Coef->get_band(b, band);
    float level = Noise_Ima;
    if (UseMadLevels) {
      level = detect_noise_from_mad(band, False);
      if (Verbose) std::printf("WP Band %d Noise Level =  %g\n", b + 1, in_input_units(level));
      mca_check_mad_noise_level("WP", b, level);
    } else {
      mca_check_noise_level("WP", b, level);
    }
    WP_TabNoise(b) = level;
    const float candidate = mca_max_magnitude(band) / level;
    if (candidate > maximum) maximum = candidate;
  }
  if (Verbose) std::printf("WP MAX_NormCoef = %g\n", maximum);
  return maximum;
}

float MCA::wp_max(to_array<float, false>& Residual) {
  WP_Trans->transform(Residual, WP_Coef);
  to_array<float, false> band;
  float maximum = 0.f;
  for (int b = 0; b < WP_Coef->nbr_band() - 1; b++) {
    WP_Coef->get_band(b, band);
    const float candidate = mca_max_magnitude(band) / Noise_Ima;
    if (candidate > maximum) maximum = candidate;
  }
  if (Verbose) std::printf("WP MAX_NormCoef = %g\n", maximum);
  return maximum;
}

void MCA::wp_proj(to_array<float, false>& Ima, float Level) {
  WP_Trans->transform(Ima, WP_Coef);
  if (UseCorrel) WP_Correl->transform(ImaCorrel, WP_CoefCorrel);
  const int nbr_band = WP_Coef->nbr_band();
  for (int b = 0; b < nbr_band - 1; b++) {
    const float threshold = Level * WP_TabNoise(b);
    // A band is a rectangle of its storage image: one run per line.
    const int nl = WP_Coef->size_band_nl(b), nc = WP_Coef->size_band_nc(b);
    for (int i = 0; i < nl; i++) {
      float* coef = &(*WP_Coef)(b, i, 0);
      const float* correl = UseCorrel ? &(*WP_CoefCorrel)(b, i, 0) : nullptr;
      mca_update_coefficients(coef, correl, nc, threshold, Level, CorrelConstraint,
                              UseNormL1 == 1);
    }
  }
  if (WP_KillLastBand == 1) {
    const int last = nbr_band - 1;
    for (int i = 0; i < WP_Coef->size_band_nl(last); i++)
      for (int j = 0; j < WP_Coef->size_band_nc(last); j++) (*WP_Coef)(last, i, j) = 0.f;
  }
  WP_Trans->recons(WP_Coef, Ima);
}
