// Regularisation of an image by soft thresholding of its wavelet
// coefficients: transform, shrink every detail coefficient towards zero by a
// level that may fall with the scale and may be eased for large
// coefficients, reconstruct. With the undecimated Haar bank this is the
// total-variation step of the MCA.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/filter_ana_synt.h"

class MR_Regul {
 public:
  int NbrScale;        // below 2: replaced at the next call, and kept
  int NbrUndecScale;   // undecimated scales of the half-decimated transform
  type_sb_filter SBFilter;
  Bool ThresholdDecay;  // level / sqrt(2)^s at scale s

  MR_Regul() : NbrScale(4), NbrUndecScale(10), SBFilter(F_HAAR), ThresholdDecay(False) {}

  // Over the half-decimated transform with an L2 bank of SBFilter. Result
  // must have Ima's size and may be Ima itself. With Sigma > 0 the level of
  // a coefficient c is eased by erfc(|c|/Sigma - 1) when |c| > Sigma.
  void im_soft_threshold(to_array<float, false>& Ima, to_array<float, false>& Result,
                         float Lambda, float Sigma);
  // The same over the non-orthogonal undecimated transform (type 24) and the
  // modified a trous transform (type 1), with levels in band-norm units.
  void im_soft_non_ortho_threshold(to_array<float, false>& Ima, to_array<float, false>& Result,
                                   float Lambda, float Sigma);
  void im_soft_iwt_threshold(to_array<float, false>& Ima, to_array<float, false>& Result,
                             float Lambda, float Sigma);
  // Result = Ima minus its regularisation.
  void ima_regul(to_array<float, false>& Ima, to_array<float, false>& Result, float Lambda);
  // Result += regularisation of Ima minus Ima.
  void obj_regul(to_array<float, false>& Ima, to_array<float, false>& Result, float Lambda);

 private:
  void default_scale_count(const to_array<float, false>& Ima);
};

// The Haar total-variation step without an object: every scale undecimated,
// the level divided by sqrt(2)^s from scale 1 on.
void regul_tv_haarwt(to_array<float, false>& Ima, to_array<float, false>& Result, float Lambda,
                     int NbrScale);

// Default scale count for a side of N pixels: iround(ln(0.75 N / ln 2)).
int max_scale_number(int N);
