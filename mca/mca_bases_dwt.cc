// The multi-direction wavelet base: one component per direction, each the
// residual thresholded in a line-column wavelet transform turned to its
// angle, the directions evenly spread over a half turn. It takes no part in
// the first level nor in the MOM schedule (no maximum); the iteration runs
// its direction loop instead of a projection, and its component is centred
// and clipped like the other texture-like bases.
#include <cmath>
#include <cstdio>

#include "filters/filter_ana_synt.h"
#include "filters/sub_band_filter.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_coef_update.h"
#include "mca/mca_options.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

void reset(MCA& m) {
  m.DWT_NbrAngle = 10;
  m.DWT_NbrScale = 4;
  m.DWT_NbrScaleCol = 4;
  m.DWT_PositivSol = m.PositivSol;
}

void configure(MCA& m) {
  m.DWT_NbrAngle = DWT_NbrAngle;
  m.DWT_NbrScale = NbrScale2D;
  m.DWT_NbrScaleCol = 2;
  m.DWT_PositivSol = PositivSol;
}

void free(MCA& m) {
  m.DWT_LineCol.SB1D = nullptr;
  delete m.DWT_SB1D;
  delete m.DWT_Filter;
  m.DWT_SB1D = nullptr;
  m.DWT_Filter = nullptr;
  m.DWT_TabImaRec.clear();
  m.DWT_TabAngle.clear();
}

void alloc(MCA& m) {
  free(m);  // a second alloc must not leak the first one's bank
  const int nbr_angle = m.DWT_NbrAngle > 0 ? m.DWT_NbrAngle : 0;
  m.DWT_Filter = new FilterAnaSynt(F_MALLAT_7_9);
  m.DWT_SB1D = new SubBandFilter(*m.DWT_Filter, NORM_L2);
  m.DWT_LineCol.alloc(*m.DWT_SB1D, False);
  if (m.Verbose) std::printf(" NbrAngle = %d\n", nbr_angle);
  m.DWT_TabAngle.resize(nbr_angle);
  m.DWT_TabImaRec.resize(nbr_angle);
  for (int k = 0; k < nbr_angle; k++) {
    m.DWT_TabAngle[k] = static_cast<float>(k * kPi / nbr_angle);
    if (m.Verbose) std::printf(" Angle %g\n", m.DWT_TabAngle[k] / kPi * 180.);
    m.DWT_TabImaRec[k].alloc(m.Nl, m.Nc, "dwt trans");
  }
}

void constrain(MCA& m, int b) {
  mca_centre_and_clip(m.TabImaRec[b], m.Noise_Ima);
  mca_isotropic_constraint(m, b);
}

}  // namespace

// No project: the iteration runs the direction loop (mca_iteration.cc).
const MCABaseFamily DWTBase = {"Multi-Direction WT", "_dwt", "", reset, configure, alloc, free,
                               nullptr, nullptr, nullptr, constrain, nullptr, false};

void MCA::dwt_proj(to_array<float, false>& Ima, float Lambda, float Angle) {
  DWT_LineCol.directional_transform(Ima, DWT_Trans, Angle, DWT_NbrScale, DWT_NbrScaleCol, True);
  mca_update_coefficients(DWT_Trans.buffer(), nullptr, DWT_Trans.n_elem(), Lambda * Noise_Ima,
                          Lambda, CorrelConstraint, UseNormL1 == 1);
  DWT_LineCol.directional_recons(DWT_Trans, Ima, Angle, DWT_NbrScale, DWT_NbrScaleCol, True);
}
