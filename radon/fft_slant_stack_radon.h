// Slant-stack Radon transform computed in Fourier space without
// interpolation: the image is zero-padded to about twice its height and to
// about twice its width, and the centred spectrum of each copy is read along
// digital lines through its centre (steep lines in the first, flat lines in
// the second); the inverse 1D FFT of each line is one projection. The
// inverse lays the projections' spectra back on both grids, fills the points
// no line reached from the other grid, and merges them.
#pragma once

#include <complex>

#include "array/base_types.h"
#include "array/to_array.h"
#include "numerics/fftn_1d.h"
#include "numerics/fftn_2d.h"

class fft_slant_stack_radon {
 public:
  FFTN_2D FFT2D;
  FFTN_1D FFT1D;
  int Nl = 0, Nc = 0;
  int Nl1 = 0, Nc1 = 0;  // Buff1: 2N + 1 lines, N (+1 when even) columns
  int Nl2 = 0, Nc2 = 0;  // Buff2: N (+1 when even) lines, 2N + 1 columns
  int Nlr = 0, Ncr = 0;
  int Nl12 = 0, Nc12 = 0;  // centre of Buff1
  int Nl22 = 0, Nc22 = 0;  // centre of Buff2
  to_array<std::complex<float>, false> Buff1;
  to_array<std::complex<float>, false> Buff2;
  to_array<std::complex<float>, false> RecBuff;
  to_array<int, true> TX1, TY1;
  to_array<int, true> TX2, TY2;
  to_array<float, false> Count1;
  to_array<float, false> Count2;
  Bool PositivConstraint = False;

  fft_slant_stack_radon() = default;
  void alloc(int N);
  int nlr() const { return Nlr; }
  int ncr() const { return Ncr; }

  void transform(to_array<float, false>& Ima, to_array<float, false>& Rad);
  void fft_radon(to_array<std::complex<float>, false>& B1, to_array<std::complex<float>, false>& B2,
                 to_array<float, false>& Rad);
  void inverse(to_array<float, false>& Rad, to_array<float, false>& Ima);
  void inv_fft_radon(to_array<float, false>& Rad, to_array<std::complex<float>, false>& Rec);
  void iter_inverse(to_array<float, false>& Rad, to_array<float, false>& Ima, int NIter);

 private:
  void check_image(const to_array<float, false>& Ima) const;
  void check_radon(const to_array<float, false>& Rad) const;
  void steep_line(int i);
  void flat_line(int i);
};
