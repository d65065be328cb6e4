// One-dimensional wavelet packets over any SubBand1D: each level splits every
// block of the previous level in place, low band first, high band after.
#pragma once

#include "array/to_array.h"
#include "filters/sub_band_1d.h"

// Trans (re-sized to N values when it holds another count) receives the
// packets of Signal over NbrLevel levels (0 and 1 both split once).
void wp1d_mallat_transform(to_array<float, true>& Signal, to_array<float, true>& Trans,
                           int NbrLevel, SubBand1D& SB);
// The inverse into Signal (re-sized to the N values of Trans when needed).
void wp1d_mallat_rec(to_array<float, true>& Trans, to_array<float, true>& Signal, int NbrLevel,
                     SubBand1D& SB);

// Split and merge of one block of N values in place, recursively.
void wp1d_step_mallat(float* Data, int N, int Level, SubBand1D& SB);
void wp1d_rec_step_mallat(float* Data, int N, int Level, SubBand1D& SB);
