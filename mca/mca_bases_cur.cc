// The curvelet 02 base of the MCA (block ridgelets on the a trous scales),
// half of the default dictionary. Band noise levels come from the curvelet's
// Gaussian model at 3 sigma or from MAD estimates; every ridgelet scale band
// is thresholded in place inside its ridgelet image, and the smooth image is
// thresholded at the a trous level of the coarsest wavelet scale or kept.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "array/fatal.h"
#include "curvelet/curvelet.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_coef_update.h"
#include "mca/mca_options.h"

namespace {

constexpr int MinCurScales = 2;
// Detection level of the noise model the base sets up.
constexpr float ModelLevel = 3.0f;

void release_bands(MCA& m) {
  delete[] m.Cur_TabBand;
  delete[] m.Cur_TabBandCorrel;
  m.Cur_TabBand = m.Cur_TabBandCorrel = nullptr;
}

void reset(MCA& m) {
  release_bands(m);
  m.Cur_BlockSize = 16;
  m.Cur_BlockOverlap = 0;
  m.Cur_PositivSol = m.PositivSol;
  m.Cur_NbrScale = 4;
  m.Cur_KillLastScale = 0;
}

void configure(MCA& m) {
  m.Cur_BlockOverlap = BlockOverlap;
  m.Cur_PositivSol = PositivSol;
  m.Cur_NbrScale = NbrScale2D;
  m.Cur_KillLastScale = KillLastScale;
}

void alloc(MCA& m) {
  if (m.Cur_NbrScale < MinCurScales)
    fatal_exit("Error: bad number scales in the curvelet transform ... \n");
  Curvelet& c = m.Cur;
  c.Border = m.CurBord;
  c.NbrScale2D = m.Cur_NbrScale;
  c.TypeBlock = BL_UP2;
  c.RidTrans = RID_PYR_FFT;
  c.BlockOverlap = m.Cur_BlockOverlap ? True : False;
  c.OddBlockSize = False;
  c.alloc(m.Nl, m.Nc, m.Cur_BlockSize, False);
  // Band arrays of an earlier allocation have the old shapes.
  release_bands(m);
  m.Cur_TabNoise.alloc(c.nbr_band(), "Cur_TabNoise");
}

void free(MCA& m) { release_bands(m); }

float init(MCA& m, McaImage& data) { return m.cur_init(data, m.UseMad ? True : False); }
float max(MCA& m, McaImage& resi) { return m.cur_max(resi); }
void project(MCA& m, McaImage& ima) { m.cur_proj(ima, m.Lambda); }

void constrain(MCA& m, int b) {
  mca_positivity(m.TabImaRec[b], m.Cur_PositivSol);
  mca_clip_zoomed(m.TabImaRec[b], m.UseZoom);
}

// Rectangle of ridgelet scale j inside the ridgelet image of its 2D scale.
McaRect band_rect(const to_array<float, false>* bands, Curvelet& c, int b) {
  int s, j;
  c.get_scale_number(b, s, j);
  const Ridgelet& R = *c.get_ridgelet(s);
  return {&bands[s], R.ipos(j), R.jpos(j), R.size_scale_nl(j), R.size_scale_nc(j)};
}

// Largest band coefficient in units of the curvelet's own band levels,
// over every band but the smooth one, all bands in one parallel pass.
float normalised_max(Curvelet& c, to_array<float, false>* bands) {
  const int count = c.nbr_band() - 1;
  std::vector<McaRect> rects(count);
  for (int b = 0; b < count; b++) rects[b] = band_rect(bands, c, b);
  std::vector<float> magnitude(count);
  mca_max_magnitudes(rects.data(), count, magnitude.data());
  float maximum = 0.f;
  for (int b = 0; b < count; b++) {
    const float candidate = magnitude[b] / c.sigma_noise(b);
    if (candidate > maximum) maximum = candidate;
  }
  return maximum;
}

}  // namespace

const MCABaseFamily CurBase = {"Curvelet transform 02", "_cur", "Curvelet proj ", reset, configure,
                               alloc, free, init, max, project, constrain, true};

float MCA::cur_init(to_array<float, false>& Data, Bool UseMadLevels) {
  Cur.transform(Data, Cur_TabBand);
  if (UseMadLevels)
    Cur.set_noise_model_using_mad(Cur_TabBand, ModelLevel);
  else
    Cur.set_noise_model_gaussian(ModelLevel, Noise_Ima);
  for (int b = 0; b < Cur.nbr_band() - 1; b++) {
    if (UseMadLevels) mca_check_noise_level("CUR", b, Cur.sigma_noise(b));
    else mca_check_model_noise_level(*this, "curvelet transform", Cur_NbrScale, b, Cur.sigma_noise(b));
    Cur_TabNoise(b) = Cur.sigma_noise(b);
  }
  const float maximum = normalised_max(Cur, Cur_TabBand);
  if (Verbose) std::printf("CUR MAX_NormCoef = %g\n", maximum);
  return maximum;
}

float MCA::cur_max(to_array<float, false>& Residual) {
  Cur.transform(Residual, Cur_TabBand);
  const float maximum = normalised_max(Cur, Cur_TabBand);
  if (Verbose) std::printf("CUR MAX_NormCoef = %g\n", maximum);
  return maximum;
}

void MCA::cur_proj(to_array<float, false>& Ima, float Level) {
  Cur.transform(Ima, Cur_TabBand);
  if (UseCorrel) Cur.transform(ImaCorrel, Cur_TabBandCorrel);
  const bool soft = UseNormL1 == 1;
  const int count = Cur.nbr_band() - 1;
  std::vector<McaRect> rects(count);
  std::vector<float> threshold(count);
  int64_t total = 0;
  for (int b = 0; b < count; b++) {
    int s, j;
    Cur.get_scale_number(b, s, j);
    const Ridgelet& R = *Cur.get_ridgelet(s);
    // The coarsest ridgelet scale of a 2D scale takes the level of the band
    // before it; the very first band has none before it.
    const bool coarsest = j == R.NbrScale1D - 1;
    const float noise = coarsest && b > 0 ? Cur_TabNoise(b - 1) : Cur_TabNoise(b);
    threshold[b] = Level * noise;
    rects[b] = band_rect(Cur_TabBand, Cur, b);
    total += int64_t{rects[b].nl} * rects[b].nc;
  }
  const int last = Cur_NbrScale - 1;
  to_array<float, false>& smooth = Cur_TabBand[last];
  const bool smooth_kept = Cur_KillLastScale == 0;
  const float smooth_threshold = Level * (Noise_Ima * AT_Trans.norm_band(last - 1));
  const int smooth_nl = smooth.naxis() == 2 ? smooth.nl() : 1;
  const int64_t smooth_nc = smooth.naxis() == 2 ? smooth.nc() : smooth.n_elem();
  // The bands are disjoint rectangles: every line of every band, and of the
  // smooth image, is thresholded in one parallel pass.
#pragma omp parallel if (total > ParallelPixels)
  {
    for (int b = 0; b < count; b++) {
      const McaRect& r = rects[b];
      const int s = static_cast<int>(r.image - Cur_TabBand);
#pragma omp for schedule(static) nowait
      for (int i = r.i0; i < r.i0 + r.nl; i++) {
        const float* correl = UseCorrel ? &Cur_TabBandCorrel[s](i, r.j0) : nullptr;
        mca_update_span(&Cur_TabBand[s](i, r.j0), correl, r.nc, threshold[b], Level,
                        CorrelConstraint, soft);
      }
    }
    if (smooth_kept && smooth.n_elem() > 0) {
#pragma omp for schedule(static) nowait
      for (int i = 0; i < smooth_nl; i++)
        mca_update_span(smooth.buffer() + i * smooth_nc, nullptr, smooth_nc, smooth_threshold,
                        Level, CorrelConstraint, soft);
    }
  }
  Cur.recons(Cur_TabBand, Ima);
}
