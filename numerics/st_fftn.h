// Short-time Fourier analysis of 1D float signals: analysis windows, the
// short-time Fourier and DCT transforms with a sliding window, their
// reconstructions, the spectrogram and the Wigner-Ville and Choi-Williams
// time-frequency distributions. Every frame goes through the FFTN_1D
// engine, so its centring flag applies to all of them.
#pragma once

#include <complex>

#include "array/to_array.h"
#include "numerics/fftn_1d.h"

enum type_std_win { W_HAMMING = 0, W_HANNING = 1, W_GAUSS = 2, W_BLACKMAN = 3, W_RECT = 4 };

// Window makers: each fills the whole of an allocated window of L values;
// the window is centred on L/2 and zero outside |i - L/2| < p L.
class STD_Window {
 public:
  void rect(to_array<float, true>& Win, float Param);
  void hamming(to_array<float, true>& Win, float Param);
  void hanning(to_array<float, true>& Win, float Param);
  void gaussian(to_array<float, true>& Win, float Param);
  void blackman(to_array<float, true>& Win, float Param);
  // Any other shape leaves the window as it is.
  void make_win(to_array<float, true>& Win, type_std_win Type, float Param);
};

// A short-time Fourier transform is a buffer of Nlt x Nct complex values,
// value k of frame f at k * Nct + f. Frame f is centred on sample
// min(f * Step, N - 1).
class ST_FFTN : public FFTN_1D {
 public:
  type_std_win TypeWin = W_GAUSS;
  int WinSize = 0;  // 0 while unallocated
  float WinParam = 0.f;
  to_array<float, true> Window;
  int Step = 0;
  int Nlt = 0;  // values per frame
  int Nct = 0;  // frames

  void alloc(int N, type_std_win Type, float Param, int WindowSize, int Step);
  int nl(int = 0) const { return Nlt; }
  int nc(int = 0) const { return Nct; }

  void transform(to_array<float, true>& Signal, std::complex<float>* Trans);
  // Trans is sized Nct x Nlt (x = frame) when it has another size.
  void dct_transform(to_array<float, true>& Signal, to_array<float, true>& Trans);
  // Weighted overlap-add into a signal whose length the caller has set.
  void recons_win(std::complex<float>* Trans, to_array<float, true>& Signal);
  void dct_recons(to_array<float, true>& Trans, to_array<float, true>& Signal);
  // Sample t from the centre of frame t: needs a step of 1.
  void recons_direct(std::complex<float>* Trans, to_array<float, true>& Signal);
  void recons(std::complex<float>* Trans, to_array<float, true>& Signal, Bool UseWindow);

  // The three below need an allocated object. Output (x = time, y = frequency).
  void spectogram(to_array<float, true>& Signal, to_array<float, true>& Spec);
  void wigner_wille(to_array<float, true>& Signal, to_array<float, true>& Out);
  void choi_williams(to_array<float, true>& Signal, to_array<float, true>& Out,
                     type_std_win LagWinType, int LagWinSize, double Sigma, float LagWinParam);

 private:
  void default_alloc(int N, int WindowSize);
  void warn_if_step_too_large() const;
  // First sample of frame f over a signal of N samples.
  int frame_start(int f, int N) const;
};
