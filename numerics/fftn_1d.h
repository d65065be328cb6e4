// FFTN_1D: the one-dimensional FFT front end over complex buffers and
// signals, with the system's centring rule (zero frequency at index n/2 when
// CenterZeroFreq is 1), real-input forms, a DCT and a circular convolution.
// Forward transforms use exp(+2πi·kj/n) unscaled, inverses exp(-2πi·kj/n)
// divided by n.
#pragma once

#include <complex>
#include <utility>

#include "array/to_array.h"
#include "numerics/fftn.h"

class FFTN_1D : public FFTN {
 public:
  to_array<double, true> DctTable;  // table w of the DCT package
  to_array<int, true> DctBitRev;    // work area ip of the DCT package
  int CenterZeroFreq;

  FFTN_1D() : CenterZeroFreq(1) {}
  ~FFTN_1D() { fft_free(); }

  // In place on n values; centred input and output when CenterZeroFreq is 1.
  void fftn1d(std::complex<float>* data, int n, Bool reverse = False);
  void fftn1d(std::complex<double>* data, int n, Bool reverse = False);
  void fftn1d(to_array<std::complex<float>, true>& signal, Bool reverse = False);
  void fftn1d(to_array<std::complex<double>, true>& signal, Bool reverse = False);
  // Copies the input into the output (at least as long), then transforms it.
  void fftn1d(to_array<std::complex<float>, true>& in, to_array<std::complex<float>, true>& out,
              Bool reverse = False);
  void fftn1d(to_array<std::complex<double>, true>& in, to_array<std::complex<double>, true>& out,
              Bool reverse = False);
  // Real signal into a complex buffer of at least nx() values.
  void fftn1d(to_array<float, true>& signal, std::complex<float>* data, Bool reverse = False);
  void fftn1d(to_array<float, true>& signal, std::complex<double>* data, Bool reverse = False);
  void fftn1d(to_array<double, true>& signal, std::complex<double>* data, Bool reverse = False);

  // centred[i] = natural[(i + (n+1)/2) mod n]; uncenter is the inverse.
  void center(std::complex<float>* data, int n);
  void center(std::complex<double>* data, int n);
  void uncenter(std::complex<float>* data, int n);
  void uncenter(std::complex<double>* data, int n);

  // Centring (reverse False) or uncentring (reverse True) by exchanges.
  void swap_buff(std::complex<float>* data, int n, Bool reverse = False);
  void swap_buff(std::complex<double>* data, int n, Bool reverse = False);
  void swap_buff(to_array<double, true>& data, Bool reverse = False);

  void pix_swap(std::complex<float>& a, std::complex<float>& b) { std::swap(a, b); }
  void pix_swap(std::complex<double>& a, std::complex<double>& b) { std::swap(a, b); }
  void pix_swap(double& a, double& b) { std::swap(a, b); }

  // In-place DCT of a power-of-two signal (at least 2): forward the unscaled
  // DCT-III, reverse its exact inverse; centred output with CenterZeroFreq.
  void dct1d(to_array<double, true>& signal, Bool reverse = False);
  void dct1d(to_array<float, true>& in, to_array<float, true>& out, Bool reverse = False);

  // Circular convolution; with centring the kernel's origin is at n/2.
  // Signals of different lengths end the process; result gets their length.
  void convolve(to_array<float, true>& signal1, to_array<float, true>& signal2,
                to_array<float, true>& result);
};

// out[i] = in[i + shift], the index wrapped once; shifts beyond one period
// leave zeros. in and out may be the same.
void im1d_shift(const std::complex<float>* in, std::complex<float>* out, int n, int shift);
void im1d_shift(const std::complex<double>* in, std::complex<double>* out, int n, int shift);
void im1d_shift(to_array<float, true>& in, to_array<float, true>& out, int shift);
void im1d_shift(to_array<double, true>& in, to_array<double, true>& out, int shift);
