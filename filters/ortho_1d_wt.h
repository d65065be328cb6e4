// The decimated (Mallat) 1D wavelet transform over any SubBand1D: NbrScale - 1
// analysis steps, each splitting the current smooth part, all bands in one
// array of N values, the coarsest smooth band first and the finest details
// last. As a class (Ortho_1D_WT), a forward-only class (HALF_1D_WT) and
// free functions. The bank is borrowed, never owned.
#pragma once

#include "array/to_array.h"
#include "filters/sub_band_1d.h"

// Trans (re-sized to N values when it holds another count) receives the
// decimated transform of the N samples of Signal; one scale is the signal.
void mallat_1d_transform(to_array<float, true>& Signal, to_array<float, true>& Trans, int NbrScale,
                         SubBand1D& SB);
// The inverse into Signal (re-sized to the N values of Trans when needed).
void mallat_1d_reconstruct(to_array<float, true>& Trans, to_array<float, true>& Signal,
                           int NbrScale, SubBand1D& SB);

class Ortho_1D_WT {
 public:
  SubBand1D& SB1D;

  explicit Ortho_1D_WT(SubBand1D& SB) : SB1D(SB) {}

  void transform(to_array<float, true>& Signal, to_array<float, true>& Trans, int NbrScale) {
    mallat_1d_transform(Signal, Trans, NbrScale, SB1D);
  }
  void recons(to_array<float, true>& Trans, to_array<float, true>& Signal, int NbrScale) {
    mallat_1d_reconstruct(Trans, Signal, NbrScale, SB1D);
  }
};

// The decimated transform without an inverse.
class HALF_1D_WT {
 public:
  SubBand1D& SB1D;

  explicit HALF_1D_WT(SubBand1D& SB) : SB1D(SB) {}

  void transform(to_array<float, true>& Signal, to_array<float, true>& Trans, int NbrScale) {
    mallat_1d_transform(Signal, Trans, NbrScale, SB1D);
  }
};
