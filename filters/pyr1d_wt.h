// PYR1D_WT: the pyramidal (Laplacian-pyramid style) wavelet transform of a
// signal, each scale the difference between the signal and the
// interpolation of its smoothed and decimated version, all bands packed
// coarsest first into one flat pyramid. The ridgelet transform runs it on
// every projection. Also the sliding median and the small exchange sort of
// one signal.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

// Pyramid tables of NbrScale bands for signals of N samples: TabSize[0] = N,
// each next size the previous halved upward; the coarsest band starts at 0
// and band 0 comes last. The tables are re-shaped only when their length
// differs. Returns the total number of samples (0 for NbrScale below 1).
int pyr_tab_pos(to_array<int, true>& TabPos, to_array<int, true>& TabSize, int NbrScale, int N);

class PYR1D_WT {
 public:
  int SmoothType;  // 0 B3-spline, 1 linear, 2 median
  to_array<float, true> ScaleSignal;
  to_array<float, true> Smooth;
  to_array<float, true> SmoothBuff;
  to_array<float, true> Decim;
  to_array<int, true> TabPos;
  to_array<int, true> TabSize;
  int Np;
  int NbrScale;
  int N;
  // 1: the interpolated coarse signal is B3-smoothed once more, in the
  // analysis before the subtraction and in the synthesis before the addition.
  int ExtraSmooth;
  type_border Border;
  int MedianWindow;

  PYR1D_WT(int SmoothType, int NbrScale, int N);
  ~PYR1D_WT() = default;

  void alloc(int SmoothType, int NbrScale, int N);
  int pyr_tab_pos(int NbrScale, int N);
  int pyr_np() const { return Np; }
  int pyr_pos(int s) const { return TabPos(s); }
  int pyr_size(int s) const { return TabSize(s); }

  void transform(to_array<float, true>& Signal, to_array<float, true>& Trans);
  void recons(to_array<float, true>& Trans, to_array<float, true>& Signal);

  // Out takes the length of In.
  void smooth_b3spline(to_array<float, true>& In, to_array<float, true>& Out);
  void smooth_b3spline(to_array<float, true>& Data);
  // Out[i/2] = In[i] for even i; Out must hold (length + 1)/2 samples.
  void reduc_sample(to_array<float, true>& In, to_array<float, true>& Out);
  // Interpolation by two into Out, whose length the caller sets.
  void extand_sample(to_array<float, true>& In, to_array<float, true>& Out);

 private:
  // Smooths the first n samples of ScaleSignal into Smooth by SmoothType.
  void smooth_scale(int n);
  void smooth_in_place(float* data, int n);
  void decimate(const float* in, float* out, int n) const;
  // Interpolation of (n+1)/2 samples to n.
  void interpolate(const float* in, float* out, int n) const;
};

// Out[i] = median of the 2 (Window/2) + 1 samples around In[i], read with
// Border over the first N samples of In; Out gets N samples when shorter.
void filt1d_mediane(const to_array<float, true>& In, to_array<float, true>& Out, int N, int Window,
                    type_border Border);

// Ascending sort of N floats in place by exchange of neighbours.
void tri_1d(float* Tab, int N);
