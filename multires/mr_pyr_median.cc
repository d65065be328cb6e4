// Mixed median pyramids and the scaling-function refinement. The median
// step keeps in the smooth part every difference below the noise level of
// the scale; the B3-spline smoothing that follows reads its neighbours
// through the object's border rule.
#include "multires/mr_pyr_median.h"

#include <cmath>
#include <cstdio>

#include "array/im_resize.h"
#include "array/smoothing.h"
#include "multires/mr_band_norms.h"
#include "multires/mr_dispatch.h"
#include "multires/multiresol.h"
#include "numerics/noise_estimators.h"

namespace {

using Image = to_array<float, false>;

constexpr float FloatEpsilon = 5.96047e-08f;

// Where |band - median| < level the median takes the band's value.
void keep_small_differences(const Image& band, Image& median, float level) {
  for (int k = 0; k < band.n_elem(); k++)
    if (std::fabs(band(k) - median(k)) < level) median(k) = band(k);
}

// B3-spline taps 3/8, 1/4, 1/16 along the columns into work, then along the
// rows back into m.
void b3_smooth(Image& m, Image& work, type_border border) {
  const float taps[5] = {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f};
  for (int i = 0; i < m.nl(); i++)
    for (int j = 0; j < m.nc(); j++) {
      float sum = 0.f;
      for (int k = -2; k <= 2; k++) sum += taps[k + 2] * m(i, j + k, border);
      work(i, j) = sum;
    }
  for (int i = 0; i < m.nl(); i++)
    for (int j = 0; j < m.nc(); j++) {
      float sum = 0.f;
      for (int k = -2; k <= 2; k++) sum += taps[k + 2] * work(i + k, j, border);
      m(i, j) = sum;
    }
}

void estimate_sigma(const Image& ima, float& sigma) {
  if (sigma < FloatEpsilon) sigma = detect_noise_from_med(ima);
}

}  // namespace

void rmedian(const Image& In, Image& Out, type_border B, int W) { smooth_mediane(In, Out, B, 0, W); }

void mr_pyr_tmto(Image& Ima, MultiResol& MR, float& Sigma, float, float NSigmaMedian) {
  estimate_sigma(Ima, Sigma);
  const type_border border = MR.Border;
  MR.TabBand[0] = Ima;
  Image median, work;
  for (int s = 0; s < MR.NbrBand - 1; s++) {
    Image& band = MR.TabBand[s];
    median.alloc(band.nl(), band.nc(), "BuffMed");
    work.alloc(band.nl(), band.nc(), "BuffMed");
    const float level = static_cast<float>(NSigmaMedian * Sigma * TabNormPyrMedian5[s < 10 ? s : 9]);
    rmedian(band, median, border, MR.MedianWindowSize);
    keep_small_differences(band, median, level);
    b3_smooth(median, work, border);
    band -= median;
    im_reduce_size_2(median, MR.TabBand[s + 1]);
  }
}

void mr_semi_pyr_tmto(Image& Ima, MultiResol& MR, float& Sigma, float, float NSigmaMedian) {
  estimate_sigma(Ima, Sigma);
  if (Sigma == 0.f) Sigma = FloatEpsilon;
  MR.TabBand[0] = Ima;
  Image median, smooth;
  for (int s = 0; s < MR.NbrBand - 1; s++) {
    Image& band = MR.TabBand[s];
    median.alloc(band.nl(), band.nc(), "BuffMed");
    smooth.alloc(band.nl(), band.nc(), "BuffMed");
    // The windows and the mirror rule of the median are fixed here.
    const float level = s == 0 ? NSigmaMedian * Sigma
                               : static_cast<float>(NSigmaMedian * Sigma * MR.band_norm(s - 1));
    rmedian(s == 0 ? Ima : band, median, I_MIRROR, s == 0 ? 5 : 9);
    keep_small_differences(band, median, level);
    smooth_bspline(median, smooth, MR.Border, s == 0 ? 0 : 1);
    band -= smooth;
    if (s == 0) MR.TabBand[1] = smooth;
    else im_reduce_size_2(smooth, MR.TabBand[s + 1]);
  }
}

namespace {

// Back-projections of the residual through a min-max pyramid into every
// band; `clip` keeps the scaling-function bands non-negative.
void back_project(Image& ima, MultiResol& mr, int iterations, bool clip) {
  Image residual(ima.nl(), ima.nc(), "Residual"), rec;
  MultiResol oper(ima.nl(), ima.nc(), mr.NbrScale, TM_PYR_MINMAX, "MR_Oper");
  for (int it = 0; it < iterations; it++) {
    mr.recons(rec, I_CONT);
    for (int k = 0; k < ima.n_elem(); k++) residual(k) = ima(k) - rec(k);
    oper.transform(residual);
    for (int s = 0; s < mr.NbrScale; s++) {
      Image& band = mr.TabBand[s];
      const Image& delta = oper.TabBand[s];
      for (int k = 0; k < band.n_elem(); k++) {
        band(k) += delta(k);
        if (clip && band(k) < 0.f) band(k) = 0.f;
      }
    }
  }
}

}  // namespace

void mr_scaling_function(Image& Ima, MultiResol& MR, int NbrIter) {
  back_project(Ima, MR, NbrIter, true);
}

void mr_correct_pyr(Image& Ima, MultiResol& MR, int MaxIter) {
  std::printf("Max_Iter = %d\n", MaxIter);
  back_project(Ima, MR, MaxIter, false);
}

namespace {

void pyr_tmto_op(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  mr_pyr_tmto(ima, mr, mr.SigmaNoise, mr.NSigma, mr.NSigmaMedian);
}
void semi_pyr_tmto_op(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  mr_semi_pyr_tmto(ima, mr, mr.SigmaNoise, mr.NSigma, mr.NSigmaMedian);
}
void scaling_function_op(Image& ima, MultiResol& mr, Bool haar, type_border border, Bool details) {
  PyrMinMaxOps.transform(ima, mr, haar, border, details);
  mr_scaling_function(ima, mr, mr.NbrIter);
}

}  // namespace

const MRTypeOps PyrTmtoOps = {pyr_tmto_op, mr_pyramid_recons, nullptr};
const MRTypeOps SemiPyrTmtoOps = {semi_pyr_tmto_op, mr_pyramid_recons, nullptr};
const MRTypeOps ScalingFunctionOps = {scaling_function_op, mr_pyr_minmax_recons, nullptr};
