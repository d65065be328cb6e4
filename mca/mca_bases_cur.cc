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

void alloc_transform(MCA& m) {
  Curvelet& c = m.Cur;
  c.Border = m.CurBord;
  c.NbrScale2D = m.Cur_NbrScale;
  c.TypeBlock = BL_UP2;
  c.RidTrans = RID_PYR_FFT;
  c.BlockOverlap = m.Cur_BlockOverlap ? True : False;
  c.OddBlockSize = False;
  c.alloc(m.Nl, m.Nc, m.Cur_BlockSize, False);
}

// Largest scale count of the allocated transform whose bands all have a
// noise level: in a small image the a trous scales of the largest holes
// give bands that are zero whatever the image, whose norm, measured on
// noise, is then 0. The bands of a scale do not depend on the scales after
// it.
int largest_scale_count(Curvelet& c) {
  for (int b = 0; b < c.nbr_band() - 1; b++) {
    int s, j;
    c.get_scale_number(b, s, j);
    if (!(c.norm_band(s, j) > 0.f)) return s + 1;
  }
  return c.NbrScale2D;
}

void alloc(MCA& m) {
  if (m.Cur_NbrScale < MinCurScales)
    fatal_exit("Error: bad number scales in the curvelet transform ... \n");
  alloc_transform(m);
  Curvelet& c = m.Cur;
  const int fitted =
      mca_fit_scale_count(m, "curvelet transform", m.Cur_NbrScale, largest_scale_count(c));
  if (fitted != m.Cur_NbrScale) {
    m.Cur_NbrScale = fitted;
    alloc_transform(m);
  }
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
  mca_clip_zoomed(m.TabImaRec[b], m);
}

// The band number of 1D scale 0 of the ridgelet of each 2D scale.
std::vector<int> first_bands(Curvelet& c) {
  std::vector<int> first(c.NbrScale2D - 1, 0);
  for (int b = 0; b < c.nbr_band() - 1; b++) {
    int s, j;
    c.get_scale_number(b, s, j);
    if (j == 0) first[s] = b;
  }
  return first;
}

// The transform of an image, with the largest magnitude of every band but
// the smooth one taken from the rows of blocks as they are made, so that
// the coefficients are not read again; they are stored only with store.
std::vector<float> transform_band_maxima(Curvelet& c, McaImage& ima, McaImage*& bands,
                                         bool store) {
  const std::vector<int> first = first_bands(c);
  // One slot per band and row of blocks, for the rows run side by side.
  std::vector<std::vector<float>> row_max(first.size());
  for (size_t s = 0; s < first.size(); s++) {
    const Ridgelet& R = *c.get_ridgelet(static_cast<int>(s));
    row_max[s].assign(static_cast<size_t>(R.rid_block_nl()) * R.NbrScale1D, 0.f);
  }
  c.transform(
      ima, bands,
      [&](int s, int bi, McaImage& row) {
        const Ridgelet& R = *c.get_ridgelet(s);
        for (int j = 0; j < R.NbrScale1D; j++) {
          float maximum = 0.f;
          for (int i = 0; i < R.rid_one_block_nl(); i++)
            maximum = std::max(maximum,
                               mca_span_max_magnitude(&row(i, R.jpos(j)), R.size_scale_nc(j)));
          row_max[s][static_cast<size_t>(bi) * R.NbrScale1D + j] = maximum;
        }
      },
      store);
  std::vector<float> magnitude(c.nbr_band() - 1, 0.f);
  for (size_t s = 0; s < first.size(); s++) {
    const int nbr_scale = c.get_ridgelet(static_cast<int>(s))->NbrScale1D;
    for (size_t k = 0; k < row_max[s].size(); k++) {
      float& band = magnitude[first[s] + static_cast<int>(k) % nbr_scale];
      band = std::max(band, row_max[s][k]);
    }
  }
  return magnitude;
}

// Largest band coefficient in units of the curvelet's own band levels, over
// every band but the smooth one.
float normalised_max(Curvelet& c, const std::vector<float>& magnitude) {
  float maximum = 0.f;
  for (int b = 0; b < c.nbr_band() - 1; b++) {
    const float candidate = magnitude[b] / c.sigma_noise(b);
    if (candidate > maximum) maximum = candidate;
  }
  return maximum;
}

}  // namespace

const MCABaseFamily CurBase = {"Curvelet transform 02", "_cur", "Curvelet proj ", reset, configure,
                               alloc, free, init, max, project, constrain, nullptr, true};

float MCA::cur_init(to_array<float, false>& Data, Bool UseMadLevels) {
  // Only the MAD levels read the stored bands; the maxima come from the rows,
  // and the first projection stores the rows it needs itself.
  const std::vector<float> magnitude =
      transform_band_maxima(Cur, Data, Cur_TabBand, UseMadLevels == True);
  if (UseMadLevels)
    Cur.set_noise_model_using_mad(Cur_TabBand, ModelLevel);
  else
    Cur.set_noise_model_gaussian(ModelLevel, Noise_Ima);
  for (int b = 0; b < Cur.nbr_band() - 1; b++) {
    if (UseMadLevels) mca_check_mad_noise_level("CUR", b, Cur.sigma_noise(b));
    else mca_check_model_noise_level(*this, "curvelet transform", Cur_NbrScale, b, Cur.sigma_noise(b));
    Cur_TabNoise(b) = Cur.sigma_noise(b);
  }
  const float maximum = normalised_max(Cur, magnitude);
  if (Verbose) std::printf("CUR MAX_NormCoef = %g\n", maximum);
  return maximum;
}

float MCA::cur_max(to_array<float, false>& Residual) {
  // The next projection makes its own coefficients: these are not kept.
  const float maximum =
      normalised_max(Cur, transform_band_maxima(Cur, Residual, Cur_TabBand, false));
  if (Verbose) std::printf("CUR MAX_NormCoef = %g\n", maximum);
  return maximum;
}

void MCA::cur_proj(to_array<float, false>& Ima, float Level) {
  // The correlation coefficients are read as the rows of Ima's are made.
  if (UseCorrel) Cur.transform(ImaCorrel, Cur_TabBandCorrel);
  const bool soft = UseNormL1 == 1;
  const int count = Cur.nbr_band() - 1;
  std::vector<float> threshold(count);
  for (int b = 0; b < count; b++) {
    int s, j;
    Cur.get_scale_number(b, s, j);
    const Ridgelet& R = *Cur.get_ridgelet(s);
    // The coarsest ridgelet scale of a 2D scale takes the level of the band
    // before it; the very first band has none before it.
    const bool coarsest = j == R.NbrScale1D - 1;
    const float noise = coarsest && b > 0 ? Cur_TabNoise(b - 1) : Cur_TabNoise(b);
    threshold[b] = Level * noise;
  }
  const std::vector<int> first = first_bands(Cur);
  // Every band is thresholded in the rows of blocks, from which the blocks
  // are reconstructed at once; the reconstruction below adds them up.
  Cur.transform_for_recons(
      Ima, Cur_TabBand,
      [&](int s, int bi, McaImage& row) {
        const Ridgelet& R = *Cur.get_ridgelet(s);
        const int nlb = R.rid_one_block_nl();
        for (int j = 0; j < R.NbrScale1D; j++) {
          const int column = R.jpos(j);
          for (int i = 0; i < nlb; i++) {
            const float* correl =
                UseCorrel ? &Cur_TabBandCorrel[s](bi * nlb + i, column) : nullptr;
            mca_update_span(&row(i, column), correl, R.size_scale_nc(j), threshold[first[s] + j],
                            Level, CorrelConstraint, soft);
          }
        }
      });
  const int last = Cur_NbrScale - 1;
  to_array<float, false>& smooth = Cur_TabBand[last];
  if (Cur_KillLastScale == 0 && smooth.n_elem() > 0)
    mca_update_coefficients(smooth.buffer(), nullptr, smooth.n_elem(),
                            Level * (Noise_Ima * AT_Trans.norm_band(last - 1)), Level,
                            CorrelConstraint, soft);
  // Only the smooth band has changed since the transform.
  Cur.recons_as_transformed(Cur_TabBand, Ima);
}
