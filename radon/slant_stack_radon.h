// The slant-stack Radon transform of an N x N image into a 2N x 2N Radon
// image (line = direction, column = offset), its adjoint-based inverse and
// its conjugate-gradient inverse, computed on the pseudo-polar FFT. A second,
// direct route by Fourier shifts of every line completes the class; it runs
// only when UsePPFFT is cleared.
#pragma once

#include <atomic>
#include <complex>

#include "array/base_types.h"
#include "array/to_array.h"
#include "numerics/fftn_1d.h"
#include "numerics/fftn_2d.h"

// Iteration count of Inv_SS, read once per call; every
// slant_stack_radon::iter_inverse stores its own count here, so it holds the
// last count used. Atomic, since ridgelet blocks run side by side; each
// iter_inverse runs with its own count, whatever the others store meanwhile.
extern std::atomic<int> NUM_OF_ITER;

// Forward slant stack: 2N x 2N output planes from N x N input planes.
void SS(float* out_re, float* out_im, const float* in_re, const float* in_im, int N);
// Exact adjoint of SS; the input planes are overwritten by their row spectra.
void Adj_SS(float* out_re, float* out_im, float* in_re, float* in_im, int N);
// NUM_OF_ITER steps of weighted conjugate gradients towards the image whose
// slant stack is the input. The estimate is kept real and non-negative after
// every step, so an image with negative pixels is not recovered. The
// iteration stops early once the residual or the curvature vanishes (an
// exact solution, or a zero Radon image).
void Inv_SS(float* out_re, float* out_im, const float* in_re, const float* in_im, int N,
            int verbose);

class slant_stack_radon {
 public:
  FFTN_2D FFT2D;
  FFTN_1D FFT1D;
  int ImaSize = 0;
  int RadonSize = 0;
  to_array<std::complex<float>, true> SpecLine;
  to_array<std::complex<float>, true> SpecCol;
  to_array<std::complex<float>, true> ShiftLine;
  to_array<std::complex<float>, true> ShiftCol;
  int Verbose = False;
  int UsePPFFT = 1;
  int OptimalStep = 1;
  int Positivity = 0;

  slant_stack_radon() = default;
  void alloc(int N);
  int nlr() const { return RadonSize; }
  int ncr() const { return RadonSize; }

  void transform(to_array<float, false>& Image, to_array<float, false>& Radon);
  // The adjoint divided by 2N^2.
  void inverse(to_array<float, false>& Radon, to_array<float, false>& Image);
  void iter_inverse(to_array<float, false>& Radon, to_array<float, false>& Image, int NbrIter);
  // Fourier-domain inverse of the direct route: the projections' spectra
  // laid on digital lines of the 2D spectrum of Image's current content.
  void inverse_fft(to_array<float, false>& Radon, to_array<float, false>& Image);

 private:
  void check_pseudo_polar_size(const char* operation) const;
  void check_image(const to_array<float, false>& Image, const char* operation) const;
  void check_radon(const to_array<float, false>& Radon, const char* operation) const;
  void direct_transform(to_array<float, false>& Image, to_array<float, false>& Radon);
  void direct_inverse(to_array<float, false>& Radon, to_array<float, false>& Image);
  void direct_iter_inverse(to_array<float, false>& Radon, to_array<float, false>& Image,
                           int NbrIter);
};
