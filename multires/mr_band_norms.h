// Band norms of the multiresolution transforms: for each transform the
// standard deviation that unit Gaussian white noise has in the band of scale
// s (s = 0 to 9), from which detection levels are derived.
#pragma once

#include "filters/undec_sub_band_filter.h"
#include "multires/mr_types.h"

constexpr int NBR_NORM_SCALES = 10;
using BandNormTable = double[NBR_NORM_SCALES];

extern const BandNormTable TabNormPaveLinear, TabNormPaveB3Spline, TabNormPaveFFT,
    TabNormPaveMed5, TabNormPaveMed3, TabNormPyrLinear, TabNormPyrFFT_Diff, TabNormPyrFFT_Square,
    TabNormPyrLaplacian, TabNormMallat, TabNormFeauveau, TabNormPyrB3Spline, TabNormPyrMedian5,
    TabNormPyrMedian3, TabNorm1, TabNormMinMax, TabNormDiadicMallat, TabNormGradDiadicMallat,
    TabNormSemiPyr, TabNormPaveHaar, TabNormUndecNonOrth_B2SPLINE_HOR,
    TabNormUndecNonOrth_B2SPLINE_DIAG, TabNormUndecNonOrth_B3SPLINE_HOR_2,
    TabNormUndecNonOrth_B3SPLINE_DIAG_2, TabNormUndecNonOrth_B3SPLINE_ISOTROP_2;
// Filled at start-up from closed forms.
extern BandNormTable TabNormDiadicHaar, TabNormUndecimatedMallat,
    TabNormUndecNonOrth_B3SPLINE_HOR, TabNormUndecNonOrth_B3SPLINE_DIAG;

// Norm of scale s and kind d of a transform of type T with median window W
// and undecimated filter U (type 24). A scale above 9 gives 1.
double mr_scale_norm(int s, type_transform T, int W, details d, type_undec_filter U);
