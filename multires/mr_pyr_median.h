// Pyramidal transforms refined beyond one smoothing per scale: the mixed
// wavelet / pyramidal median transforms (types 21 and 19), which keep the
// differences below a noise level in the smooth part, and the decomposition
// on the scaling function (type 12), which refines a min-max pyramid by
// back-projecting its residual.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

class MultiResol;

// Median of the W x W neighbourhood of each pixel.
void rmedian(const to_array<float, false>& In, to_array<float, false>& Out, type_border B, int W);
// A Sigma below 5.96047e-08 is estimated from the image and written back.
// NSigma is not used.
void mr_pyr_tmto(to_array<float, false>& Ima, MultiResol& MR, float& Sigma, float NSigma,
                 float NSigmaMedian);
void mr_semi_pyr_tmto(to_array<float, false>& Ima, MultiResol& MR, float& Sigma, float NSigma,
                      float NSigmaMedian);
void mr_scaling_function(to_array<float, false>& Ima, MultiResol& MR, int NbrIter);
void mr_correct_pyr(to_array<float, false>& Ima, MultiResol& MR, int MaxIter);
