// FFTN_2D: the 2D Fourier transform of the system over images. It takes the
// radix-2 FFT for square power-of-two images and the mixed-radix FFT for all
// others, and hides their conventions behind one centring flag: with
// CenterZeroFreq at 1 (the default) both the image and its spectrum have
// their origin at (Nl/2, Nc/2). Also circular shifts, centring, quadrant
// exchange and FFT convolutions.
#pragma once

#include <complex>

#include "array/to_array.h"
#include "numerics/fftn.h"

class FFTN_2D : public FFTN {
 public:
  int CenterZeroFreq;

  FFTN_2D() : CenterZeroFreq(1) {}
  ~FFTN_2D() { fft_free(); }

  // Real image into a complex result that must already be Nl x Nc.
  void fftn2d(to_array<float, false>& image, to_array<std::complex<float>, false>& result,
              Bool inverse = False);
  // In place. Forward: exp(+2πi(l·u/Nl + c·v/Nc)), unscaled; inverse: the
  // negative exponent divided by Nl·Nc.
  void fftn2d(to_array<std::complex<float>, false>& data, Bool inverse = False);
  void ifftn2d(to_array<std::complex<float>, false>& data) { fftn2d(data, True); }

  // center moves (0, 0) to (Nl/2, Nc/2); uncenter is its exact inverse.
  void center(to_array<float, false>& image);
  void center(to_array<std::complex<float>, false>& image);
  void uncenter(to_array<float, false>& image);
  void uncenter(to_array<std::complex<float>, false>& image);

  // In-place centring (reverse False) or uncentring (reverse True) by
  // quadrant exchange, without a temporary image.
  void swap_buff(to_array<std::complex<float>, false>& data, Bool reverse = False);

  // Circular convolutions; the kernel's origin is at (Nl/2, Nc/2) with the
  // default flag. A spectrum is given in the layout fftn2d produces. Images
  // of different sizes end the process; the result is sized to image 1.
  void convolve(to_array<float, false>& image1, to_array<float, false>& image2,
                to_array<float, false>& result);
  void convolve(to_array<float, false>& image1, to_array<std::complex<float>, false>& spectrum,
                to_array<float, false>& result);
  void convolve_conj(to_array<float, false>& image1,
                     to_array<std::complex<float>, false>& spectrum,
                     to_array<float, false>& result);

  void pix_swap(std::complex<float>& a, std::complex<float>& b) {
    std::complex<float> t = a;
    a = b;
    b = t;
  }
};

// out(i, j) = in(i + dy, j + dx), each index wrapped once into the image;
// shifts beyond one period leave zeros. out takes in's size and may be in.
void im_shift(to_array<float, false>& in, to_array<float, false>& out, int dx, int dy);
void im_shift(to_array<std::complex<float>, false>& in,
              to_array<std::complex<float>, false>& out, int dx, int dy);
