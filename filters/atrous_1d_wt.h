// ATROUS_1D_WT: the B3-spline a trous transform of a signal, each band a
// signal of its own (band NbrScale-1 the smooth one), with the band noise
// norms and the thresholding operations of an iterative solver. The caller
// sets the public fields and owns the band set made by alloc.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/band_threshold.h"

class ATROUS_1D_WT : public BandSetOps<ATROUS_1D_WT> {
 public:
  // Detail of scale b = signal of scale b minus the smoothing of its own
  // smoothing; selects the modified norms.
  Bool Modified = False;
  // Reconstruct by re-smoothing even for the plain transform.
  Bool Adjoint = False;
  type_border Border = I_CONT;
  int NbrScale = 0;  // number of bands (set by alloc)
  int Np = 0;        // length of every band (set by alloc)
  Bool PositiveOnly = False;
  Bool KillIsolated = False;
  int FirstScale = 0;  // finest bands not used (set by KillScaleNotUsed)
  Bool Verbose = False;
  Bool Debug = False;
  float Noise = 1.f;  // noise standard deviation of the signal
  int SoftMode = 0;
  float SoftFactor = 0.5f;

  // NbrScale bands of N zero samples named "band_1", "band_2", ...; a scale
  // count whose detail bands would reach a zero noise norm is refused.
  void alloc(to_array<float, true>*& Bands, int N, int NbrScale);
  void free(to_array<float, true>* Bands, int NbrScale);

  // One smoothing at scale s (taps 2^s apart); Out takes the length of In.
  void b3spline_filtering(to_array<float, true>& In, to_array<float, true>& Out, int s);
  void transform(to_array<float, true>& Signal, to_array<float, true>* Bands);
  void recons(to_array<float, true>* Bands, to_array<float, true>& Signal);

  float norm_band(int s) const;
  void Threshold(to_array<float, true>* Bands, float NSigma, int Iter);
  float getAbsMaxTransf(to_array<float, true>* Bands);

 private:
  void check_bands(to_array<float, true>* Bands) const;
  to_array<float, true> work_;
};

// Creates NbrScale bands of the given lengths, band b named "band_<b+1>".
to_array<float, true>* alloc_band_set(const int* lengths, int NbrScale);
