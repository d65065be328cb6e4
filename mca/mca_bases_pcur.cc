// The pyramidal curvelet base of the MCA: block ridgelets on the bands of a
// B3-spline pyramid. Band noise levels are the deviations of the bands of a
// simulated noise image (or MAD estimates); the finest ridgelet scale of
// every pyramid band is thresholded one unit higher, and the pyramid's
// smooth residual is kept or removed as a whole.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_coef_update.h"
#include "mca/mca_options.h"
#include "numerics/noise_estimators.h"
#include "numerics/noise_simulation.h"

namespace {

// Seed of the simulated noise of the calibration: the same levels every run.
constexpr unsigned NoiseSeed = 10;
constexpr int MinPcurScales = 2;

void reset(MCA& m) {
  m.PCur_BlockSize = 16;
  m.PCur_BlockOverlap = 0;
  m.PCur_PositivSol = m.PositivSol;
  m.PCur_NbrScale = 4;
  m.PCur_KillLastScale = 0;
}

void configure(MCA& m) {
  m.PCur_BlockOverlap = BlockOverlap;
  m.PCur_PositivSol = PositivSol;
  m.PCur_NbrScale = NbrScale2D;
  m.PCur_KillLastScale = KillLastScale;
}

// The correlation object takes the odd-block flag too: its bands must have
// the geometry of the data's, coefficient for coefficient.
void configure_transform(const MCA& m, PyrCurvelet& c) {
  c.Border = m.CurBord;
  c.NbrScale2D = m.PCur_NbrScale;
  c.RidTrans = RID_PYR_FFT;
  c.BlockOverlap = m.PCur_BlockOverlap ? True : False;
  c.OddBlockSize = False;
  c.InfoScale = m.ResultScale;
}

// Largest scale count whose pyramid detail bands all keep 2 pixels a side:
// a band of one pixel has no noise to measure and no block to cut. Each
// scale halves the side, rounding up.
int largest_scale_count(const MCA& m) {
  int side = std::min(m.Nl, m.Nc), largest = 1;
  for (int n = MinPcurScales; n < 31 && side >= 2; n++) {
    largest = n;
    side = (side + 1) / 2;
  }
  return largest;
}

void alloc(MCA& m) {
  if (m.PCur_NbrScale < MinPcurScales)
    fatal_exit("Error: bad number scales in the curvelet transform ... \n");
  m.PCur_NbrScale = mca_fit_scale_count(m, "pyramidal curvelet transform", m.PCur_NbrScale,
                                        largest_scale_count(m));
  configure_transform(m, m.PCur);
  m.PCur.alloc(m.Nl, m.Nc, m.PCur_BlockSize);
  m.PCur_TabNoise.alloc(m.PCur.nbr_band(), "PCur_TabNoise");
  if (m.UseCorrel) {
    configure_transform(m, m.PCur_Correl);
    m.PCur_Correl.alloc(m.Nl, m.Nc, m.PCur_BlockSize);
  }
}

float init(MCA& m, McaImage& data) { return m.pcur_init(data, m.UseMad ? True : False); }
float max(MCA& m, McaImage& resi) { return m.pcur_max(resi); }
void project(MCA& m, McaImage& ima) { m.pcur_proj(ima, m.Lambda); }

void constrain(MCA& m, int b) {
  mca_positivity(m.TabImaRec[b], m.PCur_PositivSol);
  mca_clip_zoomed(m.TabImaRec[b], m);
}

// Largest band coefficient in noise units over every band but the last,
// read in place, row by row.
float normalised_max(const PyrCurvelet& c, const to_array<float, true>& noise) {
  float maximum = 0.f;
  for (int b = 0; b < c.nbr_band() - 1; b++) {
    float magnitude = 0.f;
    const int nc = c.size_band_nc(b);
    for (int i = 0; i < c.size_band_nl(b); i++) {
      const float* row = &c(b, i, 0);
      for (int j = 0; j < nc; j++) magnitude = std::max(magnitude, std::fabs(row[j]));
    }
    const float candidate = magnitude / noise(b);
    if (candidate > maximum) maximum = candidate;
  }
  return maximum;
}

}  // namespace

const MCABaseFamily PCurBase = {"Curvelet transform 05 (Pyramidal Construction)", "_pcur",
                                "Pyr. Curvelet proj ", reset, configure, alloc, nullptr, init, max,
                                project, constrain, nullptr, true};

float MCA::pcur_init(to_array<float, false>& Data, Bool UseMadLevels) {
  const int nbr_band = PCur.nbr_band();
  to_array<float, false> band;
  if (!UseMadLevels) {
    // Measured on unit noise and scaled, as the transform is linear: a band
    // deviation reads as 0 below a variance of 1e-7, so noise simulated at a
    // small level (an image in small units) would look like no noise at all.
    to_array<float, false> simulation(Nl, Nc, "ImSimu");
    im_noise_gaussian(simulation, 1.f, NoiseSeed);
    // Its bands are shown as those of noise at the data's level.
    PCur.InfoScale = static_cast<double>(Noise_Ima) * ResultScale;
    PCur.transform(simulation);
    PCur.InfoScale = ResultScale;
    for (int b = 0; b < nbr_band - 1; b++) {
      PCur.get_band(b, band);
      PCur_TabNoise(b) = static_cast<float>(Noise_Ima * band.sigma());
    }
  }
  PCur.transform(Data);
  for (int b = 0; b < nbr_band - 1; b++) {
    if (UseMadLevels) {
      PCur.get_band(b, band);
      PCur_TabNoise(b) = detect_noise_from_mad(band, False);
    }
    if (UseMadLevels) mca_check_mad_noise_level("CUR", b, PCur_TabNoise(b));
    else
      mca_check_model_noise_level(*this, "pyramidal curvelet transform", PCur_NbrScale, b,
                                  PCur_TabNoise(b));
  }
  const float maximum = normalised_max(PCur, PCur_TabNoise);
  if (Verbose) std::printf("CUR MAX_NormCoef = %g\n", maximum);
  return maximum;
}

float MCA::pcur_max(to_array<float, false>& Residual) {
  PCur.transform(Residual);
  const float maximum = normalised_max(PCur, PCur_TabNoise);
  if (Verbose) std::printf("CUR MAX_NormCoef = %g\n", maximum);
  return maximum;
}

void MCA::pcur_proj(to_array<float, false>& Ima, float Level) {
  PCur.transform(Ima);
  if (UseCorrel) PCur_Correl.transform(ImaCorrel);
  const int nbr_band = PCur.nbr_band();
  const bool soft = UseNormL1 == 1;
  for (int b = 0; b < nbr_band - 1; b++) {
    int s2d, s1d;
    PCur.get_scale_number(b, s2d, s1d);
    // The finest ridgelet scale of every pyramid band holds most of the
    // noise: one unit more.
    float factor = s1d == 0 ? Level + 1.f : Level;
    if (Level == 0.f) factor = 0.f;
    // The coarsest ridgelet scale takes the level of the band before it;
    // the very first band has none before it and keeps its own.
    const bool coarsest = s1d == PCur.nbr_rid_scale(s2d) - 1;
    const float noise = coarsest && b > 0 ? PCur_TabNoise(b - 1) : PCur_TabNoise(b);
    const float threshold = factor * noise;
    const int nl = PCur.size_band_nl(b), nc = PCur.size_band_nc(b);
    // A band's lines are runs of the coefficient image.
    for (int i = 0; i < nl; i++) {
      const float* correl = UseCorrel ? &PCur_Correl(b, i, 0) : nullptr;
      mca_update_coefficients(&PCur(b, i, 0), correl, nc, threshold, Level, CorrelConstraint,
                              soft);
    }
  }
  if (PCur_KillLastScale == 1) {
    const int last = nbr_band - 1;
    for (int i = 0; i < PCur.size_band_nl(last); i++) {
      float* row = &PCur(last, i, 0);
      for (int j = 0; j < PCur.size_band_nc(last); j++) row[j] = 0.f;
    }
  }
  PCur.recons(Ima);
}
