// HALF_DECIMATED_1D_WT: the 1D wavelet transform over a SubBandFilter whose
// first NbrUndec scales are undecimated and the others decimated, each band
// a signal of its own (band NbrScale-1 the smooth one), with the
// thresholding operations of an iterative solver. The bank is borrowed.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/band_threshold.h"
#include "filters/sub_band_filter.h"

class HALF_DECIMATED_1D_WT : public BandSetOps<HALF_DECIMATED_1D_WT> {
 public:
  SubBandFilter& SB_Filter;
  int NbrScale = 0;
  int NbrUndec = -1;  // undecimated scales; negative: every scale
  float Noise = 1.f;
  Bool PositiveOnly = False;
  Bool KillIsolated = False;
  int FirstScale = 0;
  Bool Verbose = False;
  Bool Debug = False;
  int SoftMode = 0;
  float SoftFactor = 0.5f;

  explicit HALF_DECIMATED_1D_WT(SubBandFilter& filter) : SB_Filter(filter) {}

  // TabDec[b] = 0 (undecimated) for the first NbrUndec scales (all when
  // NbrUndec is negative), 1 after; the caller deletes it with delete[].
  void set_tabdec(int NbrUndec, Bool*& TabDec, int NbrScale);

  // Bands for signals of N samples; returns NbrScale.
  int alloc(to_array<float, true>*& Bands, int N, int NbrScale, int NbrUndec);
  int alloc(to_array<float, true>*& Bands, int N, int NbrScale, Bool* TabDec);
  void free(to_array<float, true>* Bands, int NbrScale);

  void transform(to_array<float, true>& Signal, to_array<float, true>* Bands);
  void transform(to_array<float, true>& Signal, to_array<float, true>* Bands, Bool* TabDec);
  // Signal's length (set by the caller) is N.
  void recons(to_array<float, true>* Bands, to_array<float, true>& Signal);
  void recons(to_array<float, true>* Bands, to_array<float, true>& Signal, Bool* TabDec);

  void threshold(to_array<float, true>* Bands, float NSigma, int Iter);
  float getAbsMaxTransf(to_array<float, true>* Bands);
};
