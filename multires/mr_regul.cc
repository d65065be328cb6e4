// Soft-threshold regularisation over the half-decimated transform and over
// two MultiResol transforms. Every object is made for one call.
#include "multires/mr_regul.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "array/scalar_helpers.h"
#include "filters/sub_band_filter.h"
#include "multires/half_decimated_2d_wt.h"
#include "multires/multiresol.h"

namespace {

using Image = to_array<float, false>;

// Level of band b: Lambda, or with the decay Lambda / sqrt(2)^s at scale
// s = b/3 (sqrt(2) raised to the integer power in double).
float band_level(float lambda, int b, bool decay) {
  const int s = b / 3;
  if (!decay || s == 0) return lambda;
  return static_cast<float>(lambda / std::pow(std::sqrt(2.), s));
}

// Soft thresholding of a run of coefficients at `level`, eased by
// erfc(|c|/scale - 1) for coefficients above `scale` when scale is not 0.
void soft_threshold_run(float* coef, int n, float level, float scale) {
  if (scale == 0.f) {
    for (int k = 0; k < n; k++) coef[k] = soft_threshold(coef[k], level);
    return;
  }
  for (int k = 0; k < n; k++) {
    float t = level;
    const float x = std::fabs(coef[k]) / scale - 1.f;
    if (x > 0.f) t = static_cast<float>(t * std::erfc(x));
    coef[k] = soft_threshold(coef[k], t);
  }
}

// The Haar bank whose undecimated synthesis is exact at the borders too.
// Sample i is rebuilt twice, from the band values at i - Step and i (E1) and
// at i and i + Step (E2), and the two are averaged. A band value read beyond
// the edge comes from the border rule, which does not extend the bands the
// way the analysis extended the signal, so the estimate reading it is wrong:
// within Step of an edge only the estimate lying wholly inside is used.
// Otherwise every regularisation step, even at zero level, would alter the
// image's border.
class HaarExactBorderFilter : public SubBandFilter {
 public:
  HaarExactBorderFilter() : SubBandFilter(F_HAAR, NORM_L2) {}
  using SubBandFilter::recons;

  void recons(int N, float* Low, float* High, float* Signal, int Step) override {
    // Taps (start -1): H1 = {c, c, 0} and G1 = {0, c, -c}.
    auto from_before = [&](int i) {
      return double(H1[0]) * Low[i - Step] + double(G1[1]) * High[i];
    };
    auto from_after = [&](int i) {
      return double(H1[1]) * Low[i] + double(G1[2]) * High[i + Step];
    };
    // Signal may be one of the bands: the edge values are kept aside first.
    std::vector<std::pair<int, double>> edge;
    for (int i = 0; i < N; i++) {
      const bool before = i - Step >= 0, after = i + Step < N;
      // Both inside: the average holds. Both outside (a signal shorter
      // than Step): no estimate is exact, the average is kept.
      if (before != after)
        edge.emplace_back(i, ReconsFactor * (before ? from_before(i) : from_after(i)));
    }
    SubBandFilter::recons(N, Low, High, Signal, Step);
    for (const auto& [i, value] : edge) Signal[i] = static_cast<float>(value);
  }
};

void half_decimated_regul(Image& ima, Image& result, float lambda, float sigma, int nbr_scale,
                          int nbr_undec, type_sb_filter filter_set, bool decay) {
  std::unique_ptr<SubBandFilter> filter;
  if (filter_set == F_HAAR) filter = std::make_unique<HaarExactBorderFilter>();
  else filter = std::make_unique<SubBandFilter>(FilterAnaSynt(filter_set), NORM_L2);
  HALF_DECIMATED_2D_WT wt(*filter);
  Image* bands = nullptr;
  const int nbr_band = wt.alloc(bands, ima.nl(), ima.nc(), nbr_scale, nbr_undec);
  wt.transform(ima, bands, nbr_scale, nbr_undec);
  for (int b = 0; b < nbr_band - 1; b++)
    soft_threshold_run(bands[b].buffer(), bands[b].n_elem(), band_level(lambda, b, decay), sigma);
  wt.recons(bands, result, nbr_scale, nbr_undec);
  wt.free(bands, nbr_scale);
}

void multiresol_regul(Image& ima, Image& result, float lambda, float sigma, int nbr_scale,
                      type_transform type, bool decay) {
  MultiResol mr;
  mr.alloc(ima.nl(), ima.nc(), nbr_scale, type, nullptr, NORM_L1, -1, U_B3SPLINE_2);
  mr.ModifiedATWT = True;
  mr.transform(ima);
  for (int b = 0; b < mr.nbr_band() - 1; b++) {
    const float norm = static_cast<float>(mr.band_norm(b));
    soft_threshold_run(mr.band(b).buffer(), mr.band(b).n_elem(),
                       band_level(lambda, b, decay) * norm, sigma * norm);
  }
  mr.recons(result, I_CONT);
}

}  // namespace

int max_scale_number(int N) { return get_nbr_scale(N); }

void MR_Regul::default_scale_count(const Image& ima) {
  if (NbrScale < 2) NbrScale = max_scale_number(std::min(ima.nl(), ima.nc()));
}

void MR_Regul::im_soft_threshold(Image& Ima, Image& Result, float Lambda, float Sigma) {
  default_scale_count(Ima);
  half_decimated_regul(Ima, Result, Lambda, Sigma, NbrScale, NbrUndecScale, SBFilter,
                       ThresholdDecay == True);
}

void MR_Regul::im_soft_non_ortho_threshold(Image& Ima, Image& Result, float Lambda,
                                           float Sigma) {
  default_scale_count(Ima);
  multiresol_regul(Ima, Result, Lambda, Sigma, NbrScale, TO_UNDECIMATED_NON_ORTHO,
                   ThresholdDecay == True);
}

void MR_Regul::im_soft_iwt_threshold(Image& Ima, Image& Result, float Lambda, float Sigma) {
  default_scale_count(Ima);
  multiresol_regul(Ima, Result, Lambda, Sigma, NbrScale, TO_PAVE_BSPLINE, ThresholdDecay == True);
}

void MR_Regul::ima_regul(Image& Ima, Image& Result, float Lambda) {
  im_soft_threshold(Ima, Result, Lambda, 0.f);
  for (int i = 0; i < Ima.nl(); i++)
    for (int j = 0; j < Ima.nc(); j++) Result(i, j) = Ima(i, j) - Result(i, j);
}

void MR_Regul::obj_regul(Image& Ima, Image& Result, float Lambda) {
  Image aux(Ima.nl(), Ima.nc(), "aux");
  im_soft_threshold(Ima, aux, Lambda, 0.f);
  for (int i = 0; i < Ima.nl(); i++)
    for (int j = 0; j < Ima.nc(); j++) Result(i, j) += aux(i, j) - Ima(i, j);
}

void regul_tv_haarwt(Image& Ima, Image& Result, float Lambda, int NbrScale) {
  half_decimated_regul(Ima, Result, Lambda, 0.f, NbrScale, -1, F_HAAR, true);
}
