// PAVE_1D_WT: the undecimated 1D wavelet transform over any SubBand1D, scale
// s filtering with taps 2^s apart; the bands are the columns of an
// N x NbrScale array, the last one the smooth band. Also the one-step forms
// the half-decimated transform builds on, and the detection statistic of a
// transform. The bank is borrowed, never owned.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/sub_band_1d.h"

class PAVE_1D_WT {
 public:
  SubBand1D& SB1D;

  explicit PAVE_1D_WT(SubBand1D& SB) : SB1D(SB) {}

  // Trans becomes N x NbrScale unless it already has that shape.
  void transform(to_array<float, true>& Signal, to_array<float, true>& Trans, int NbrScale);
  // N is the first axis of Trans; Signal gets N values when it holds another count.
  void recons(to_array<float, true>& Trans, to_array<float, true>& Signal, int NbrScale);

  // One analysis step at tap distance Step; High and Low must hold N values.
  void transform(to_array<float, true>& Signal, to_array<float, true>& High,
                 to_array<float, true>& Low, int Step);
  // One synthesis step into Signal, whose length (set by the caller) is N.
  void recons(to_array<float, true>& High, to_array<float, true>& Low,
              to_array<float, true>& Signal, int Step);

  // The largest detail coefficient in units of its band's noise level
  // Sigma * factor(s); with Positive, negative coefficients count as 0.
  float getAbsMaxTransf(to_array<float, true>& Trans, float Sigma, Bool Positive, Bool Verbose);
};
