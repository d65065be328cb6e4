// Noise norms per 1D scale of the ridgelet transform and the thresholdings
// and normalisations built on them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "array/fatal.h"
#include "numerics/noise_estimators.h"
#include "radon/ridgelet.h"
#include "radon/stat_rid_noise.h"

namespace {

// Zeroes the coefficients of columns [first, first + size) of every line
// whose magnitude is below level.
void hard_threshold_columns(to_array<float, false>& Ima, int first_line, int nbr_lines,
                            int first, int size, float level) {
  for (int i = first_line; i < first_line + nbr_lines; i++) {
    float* c = &Ima(i, first);
    for (int j = 0; j < size; j++)
      if (std::fabs(c[j]) < level) c[j] = 0.f;
  }
}

void zero_columns(to_array<float, false>& Ima, int first_line, int nbr_lines, int first,
                  int size) {
  for (int i = first_line; i < first_line + nbr_lines; i++) {
    float* c = &Ima(i, first);
    for (int j = 0; j < size; j++) c[j] = 0.f;
  }
}

}  // namespace

void Ridgelet::set_tab_norm(int NbrScale) {
  if (NbrScale < 1) return;
  if (TabNorm.n_elem() != NbrScale) TabNorm.alloc(NbrScale, "TabNorm");
  if (RidTrans == RID_PYR_FFT || RidTrans == RID_SS_PYR_FFT || RidTrans == RID_UWT_FFT) {
    for (int s = 0; s < NbrScale; s++)
      TabNorm(s) = s < NBR_TAB_NORM_RID ? TabNormRid_PyrDiffResol[s]
                                        : static_cast<float>(TabNorm(s - 1) / std::sqrt(2.));
  } else {
    TabNorm.init(1.f);
  }
}

void Ridgelet::set_tab_norm_with_tab(int NbrScale, to_array<float, true>& Tab) {
  if (NbrScale < 1) return;
  if (TabNorm.n_elem() != NbrScale) TabNorm.alloc(NbrScale, "TabNorm");
  for (int s = 0; s < NbrScale; s++) TabNorm(s) = s < Tab.nx() ? Tab(s) : 0.f;
}

void Ridgelet::ksig_threshold(to_array<float, false>& RidBlock, float Noise, float NSigma,
                              to_array<float, true>* TabSigma) {
  if (TabNorm.n_elem() < NbrScale1D - 1) set_tab_norm(NbrScale1D);
  if (NbrScale1D <= 1) return;
  for (int s = 0; s < NbrScale1D - 1; s++) {
    // The finest scale holds most of the noise and takes one sigma more.
    const float k = s == 0 ? NSigma + 1.f : NSigma;
    for (int i = 0; i < RidBlock.nl(); i++) {
      float level = Noise * k * TabNorm(s);
      if (TabSigma != nullptr) level = Noise * k * (*TabSigma)(i, s);
      if (s < FirstDetectScale) {
        zero_columns(RidBlock, i, 1, rid_pos(s), rid_size(s));
      } else {
        hard_threshold_columns(RidBlock, i, 1, rid_pos(s), rid_size(s), level);
      }
    }
  }
  if (KillLastScale)
    zero_columns(RidBlock, 0, RidBlock.nl(), rid_pos(NbrScale1D - 1), rid_size(NbrScale1D - 1));
}

void Ridgelet::thresholding(to_array<float, false>& RidIma, float Noise, float NSigma) {
  if (TabNorm.n_elem() < NbrScale1D - 1) set_tab_norm(NbrScale1D);
  if (!VarianceStab && RidTrans != RID_SS_PYR_FFT)
    Noise *= std::sqrt(static_cast<float>(BlockSize));
  if (NbrScale1D < 2) {
    const float level = Noise * NSigma;
    float* c = RidIma.buffer();
    for (int k = 0; k < RidIma.n_elem(); k++)
      if (std::fabs(c[k]) < level) c[k] = 0.f;
    return;
  }
  for (int s = 0; s < NbrScale1D - 1; s++) {
    const float k = s == 0 ? NSigma + 1.f : NSigma;
    if (s < FirstDetectScale) {
      init_scale(RidIma, s);
    } else {
      hard_threshold_columns(RidIma, ipos(s), size_scale_nl(s), jpos(s), size_scale_nc(s),
                             Noise * k * TabNorm(s));
    }
  }
  if (KillLastScale) init_scale(RidIma, NbrScale1D - 1);
}

void Ridgelet::init_scale(to_array<float, false>& RidIma, int s) {
  if (s >= NbrScale1D)
    fatal_exitf(-1, stdout,
                "Error in init_scale: scale number is to high ... \n        NbrScale =  %d s = %d\n",
                NbrScale1D, s);
  zero_columns(RidIma, ipos(s), size_scale_nl(s), jpos(s), size_scale_nc(s));
}

void Ridgelet::normalize_coef(to_array<float, false>& RidBlock, Bool Mult, float Noise) {
  if (TabNorm.n_elem() < NbrScale1D - 1) set_tab_norm(NbrScale1D);
  if (NbrScale1D <= 1) return;
  for (int s = 0; s < NbrScale1D; s++) {
    const int norm_scale = s == NbrScale1D - 1 ? NbrScale1D - 2 : s;
    float factor = TabNorm(norm_scale) * Noise;
    if (!Mult) factor = 1.f / factor;
    for (int i = 0; i < RidBlock.nl(); i++) {
      float* c = &RidBlock(i, rid_pos(s));
      for (int j = 0; j < rid_size(s); j++) c[j] *= factor;
    }
  }
}

void Ridgelet::kill_fluctu(to_array<float, false>& Block, float Noise, float NSigma, int N) {
  if (N == 0) N = Block.nc();
  const float level = (Noise * NSigma / std::sqrt(static_cast<float>(N))) / 2.f;
  float* p = Block.buffer();
  for (int k = 0; k < Block.n_elem(); k++)
    if (std::fabs(p[k]) < level) p[k] = 0.f;
}

void Ridgelet::mad_threshold(to_array<float, false>& RidBlock, float NSigma) {
  if (NbrScale1D <= 1) return;
  const int lines = RidBlock.nl();
  for (int s = 0; s < NbrScale1D - 1; s++) {
    const int first = rid_pos(s), size = rid_size(s);
    if (MadPerScale) {
      std::vector<float> values;
      values.reserve(static_cast<size_t>(lines) * size);
      for (int i = 0; i < lines; i++)
        for (int j = 0; j < size; j++) values.push_back(RidBlock(i, first + j));
      const float sigma = get_sigma_mad(values.data(), static_cast<int>(values.size()));
      const float level = NSigma * sigma;
      if (Verbose) std::printf("Band %d MAD = %g Level = %g\n", s + 1, sigma, level);
      hard_threshold_columns(RidBlock, 0, lines, first, size, level);
    } else {
      std::printf("MAD First = %d NLast = %d size = %d\n", first, first + size, size);
      for (int i = 0; i < lines; i++) {
        const float sigma = get_sigma_mad(&RidBlock(i, first), size);
        hard_threshold_columns(RidBlock, i, 1, first, size, NSigma * sigma);
      }
    }
  }
}

void Ridgelet::set_tab_norm_from_simu(to_array<float, false>& NoiseIma, int NbrScale) {
  std::printf("set_tab_norm_from_simu: Nl = %d %d\n", NoiseIma.nl(), NoiseIma.nc());
  if (NbrScale < 2)
    fatal_exitf(-1, stdout, "Error: set_tab_norm_from_simu needs at least 2 scales (%d) ...\n",
                NbrScale);
  if (TabNorm.n_elem() != NbrScale) TabNorm.alloc(NbrScale, "TabNorm");
  to_array<float, false> trans;
  transform(NoiseIma, trans);
  std::printf("  alloc: NbrScale = %d\n", NbrScale);
  to_array<float, true> tab_min(NbrScale, "TabMin"), tab_max(NbrScale, "TabMax"),
      tab_nsigma(NbrScale, "TabNSigma");
  tab_nsigma.init(3.f);
  StatRidNoise stat;
  stat.init(trans, NbrScale, *this);
  std::printf("find_nsigma_threshold .. \n");
  stat.find_nsigma_threshold(NbrScale, tab_nsigma, tab_min, tab_max);
  for (int s = 0; s < NbrScale - 1; s++) {
    const float den = RidTrans == RID_SS_PYR_FFT
                          ? tab_nsigma(s)
                          : std::sqrt(static_cast<float>(NoiseIma.nc())) * tab_nsigma(s);
    const float low = std::fabs(tab_min(s)) / den, high = tab_max(s) / den;
    TabNorm(s) = std::max(low, high);
    std::printf("%g, ", TabNorm(s));
  }
  // The coarse scale has no histogram; it takes the norm of the scale next to
  // it, as normalize_coef does, rather than what the table held before.
  TabNorm(NbrScale - 1) = TabNorm(NbrScale - 2);
  std::printf("OUT set_tab_norm_from_simu \n");
  UpdateTabNorm = False;
}
