// Radon transform of a square image by one of six methods, and its inverse.
// Line i of the Radon image is projection i, column k its k-th sample. The
// block ridgelet transform owns one object per transform, allocates it for
// its block side and calls transform and recons once per block, so the
// method's tables and work arrays are built once per allocation.
#pragma once

#include <complex>
#include <memory>
#include <vector>

#include <fitsio.h>

#include "array/base_types.h"
#include "array/to_array.h"
#include "io/image_names.h"
#include "numerics/fftn_1d.h"
#include "numerics/fftn_2d.h"
#include "radon/fft_slant_stack_radon.h"
#include "radon/slant_stack_radon.h"

enum type_radon {
  RADON_PROJ_BACK = 0,       // spatial projection, back-projection
  RADON_PROJ_FFT = 1,        // spatial projection, direct Fourier reconstruction
  RADON_FFT = 2,             // linogram sampling of the 2D spectrum
  RADON_FINITE = 3,          // finite Radon transform (prime sides)
  RADON_SLANT_STACK = 4,     // slant stack on the pseudo-polar FFT
  RADON_FFT_SLANT_STACK = 5  // slant stack on digital lines of the spectrum
};
constexpr int NBR_RADON = 6;

// Text of a method; null for a value outside the six.
const char* StringRadon(type_radon Method);

class Radon {
 public:
  Bool Allocated;
  int Nl = 0, Nc = 0;
  int Nlr, Ncr;
  type_radon RadonMethod;
  std::vector<double> TabSin, TabCos;             // methods 0 and 1
  std::vector<double> TabLineAngle, TabLineStep;  // methods 2, 4 and 5
  int NbrSlantStackIter;
  slant_stack_radon SlantStack;
  type_format FormatIn;
  fft_slant_stack_radon FFTSlantStack;
  Bool Verbose;
  int FilterWidth;
  float FilterStdDev;

  Radon();
  ~Radon();
  Radon(const Radon&) = delete;
  Radon& operator=(const Radon&) = delete;

  void reset_param();
  void alloc(int Nl, int Nc, type_radon Method, int NbrProj = 0, int Resol = 0);
  void make_table();
  void transform(to_array<float, false>& Ima, to_array<float, false>& Rad);
  void recons(to_array<float, false>& Rad, to_array<float, false>& Ima);
  int radon_nl() const { return Nlr; }
  int radon_nc() const { return Ncr; }

  // Methods 0 and 1, in the image domain.
  void project(to_array<float, false>& Ima, to_array<float, false>& Rad);
  void back_project(to_array<float, false>& Rad, to_array<float, false>& Ima);
  void invfft_project(to_array<float, false>& Rad, to_array<float, false>& Ima, Bool Centred);
  // Ramp filter with a Gaussian tail on every line, in Fourier space.
  void filter(to_array<float, false>& Rad);

  // Method 2: projections through their spectra on radial lines.
  void fft_trans(to_array<float, false>& Ima, to_array<float, false>& Rad);
  void fft_rec(to_array<float, false>& Rad, to_array<float, false>& Ima, Bool Flag = False);
  void fft_trans_cf(to_array<float, false>& Ima, to_array<std::complex<float>, false>& RadF);
  // fft_trans_cf of two images of the same size through one complex 2D FFT
  // of ImaA + i ImaB: the images are real, so their spectra are the
  // Hermitian part and the anti-Hermitian part over i of its spectrum (the
  // same values up to float rounding).
  void fft_trans_cf_pair(to_array<float, false>& ImaA, to_array<float, false>& ImaB,
                         to_array<std::complex<float>, false>& RadFA,
                         to_array<std::complex<float>, false>& RadFB);
  // The 2D spectrum of ImaA + i ImaB, centred, that fft_trans_cf_pair
  // samples, valid until the next transform; sample k of the Radon spectra
  // (line k / Ncr) reads it at linogram_source()[k] (none where negative),
  // and linogram_mirror()[k] is the point of the opposite frequency.
  const std::complex<float>* fft_pair_spectrum(to_array<float, false>& ImaA,
                                               to_array<float, false>& ImaB);
  // Null before the first transform.
  const int* linogram_source() const { return Lino ? Lino->Source.data() : nullptr; }
  const int* linogram_mirror() const { return Lino ? Lino->SourceMirror.data() : nullptr; }
  // linogram_source() where the sample's mirror on its line reads the
  // opposite point (the images' line spectra are Hermitian there), -1
  // elsewhere.
  const int* linogram_even_source() const { return Lino ? Lino->EvenSource.data() : nullptr; }
  // Takes Model's linogram tables, built if need be, instead of building
  // the same ones: for the objects of the threads of one transform, which
  // would otherwise build them one after the other. Both must be allocated
  // for the linogram with the same sizes; otherwise nothing is shared and
  // the tables are built on first use.
  void share_linogram_table(Radon& Model);
  void fft_rec_cf(to_array<std::complex<float>, false>& RadF, to_array<float, false>& Ima);
  void fft_line(to_array<float, false>& Rad, to_array<std::complex<float>, false>& RadF,
                Bool Flag = False);
  void invfft_line(to_array<std::complex<float>, false>& RadF, to_array<float, false>& Rad);

  // Method 3.
  void finite_radon(to_array<float, false>& Ima, to_array<float, false>& Rad);
  void inv_finite_radon(to_array<float, false>& Rad, to_array<float, false>& Ima);

  // The ".rad" coefficient file.
  void write(const char* Name, to_array<float, false>& Rad);
  void read(const char* Name, to_array<float, false>& Rad);
  void mr_io_fill_header(fitsfile* File);

 private:
  // Where each slot of each radial line reads the 2D spectrum (flat index,
  // -1 for none): the forward sampling with the grid centred at
  // (Nl/2, Nc/2), and the inverse accumulation with (Nc/2, Nc/2), each
  // sample's direct point and its mirror, plus the hit count of every grid
  // point. They depend only on the sizes, and are never changed once built:
  // objects of the same sizes may share them.
  struct LinogramTable {
    std::vector<int> Source;
    std::vector<int> SourceMirror;  // the point of the opposite frequency of each source
    std::vector<int> EvenSource;
    bool SourceOutside = false;  // a mirrored sample with a slot fell off the grid
    std::vector<int> Direct, Mirror;
    std::vector<float> Count;
  };
  // Built on first use by linogram_table().
  std::shared_ptr<const LinogramTable> Lino;
  const LinogramTable& linogram_table();
  std::shared_ptr<const LinogramTable> make_linogram_table() const;
  // The tables, sizes and work spectrum of the forward linogram transform.
  void prepare_linogram_forward(to_array<float, false>& Ima);
  void prepare_linogram_forward(to_array<float, false>& Ima,
                                to_array<std::complex<float>, false>& RadF);
  // The six keywords of the ".rad" file; CFITSIO skips every call once
  // status is set.
  void write_keywords(fitsfile* File, int& status);
  void release_tables();

  // Work arrays of method 2, kept between calls.
  FFTN_2D FFT2D;
  FFTN_1D FFT1D;
  to_array<std::complex<float>, false> Spectrum;
  to_array<std::complex<float>, false> LineSpectra;
  to_array<std::complex<float>, false> RecGrid;
  std::vector<std::complex<double>> LineBuffer;
};
