// FCUR: the fast curvelet transform. A Meyer decomposition in Fourier space
// whose band-pass planes are each cut into angular wedges; every wedge,
// inverse-FFT'd, is the curvelet band of one scale and direction, and the
// low-pass plane is one last band. Complex curvelets give two real bands per
// wedge (real and imaginary parts); real curvelets fold the wedges of
// opposite quadrants into one real band each. Also the band noise norms,
// thresholding, Wiener filtering and statistics, and the ".fct" file.
#pragma once

#include <fitsio.h>

#include <complex>
#include <string>
#include <vector>

#include "array/base_types.h"
#include "array/to_array.h"
#include "curvelet/fcur_wedges.h"
#include "multires/meyer_wt.h"

class FCUR : public MEYER_WT {
 public:
  int NlIma = 0, NcIma = 0;    // size of the images transformed
  Bool ModifSize = False;      // an even side is worked one sample larger
  int NewNl = 0, NewNc = 0;    // working (odd) size
  to_array<float, true> TabNorm;          // (scale, band) noise norm
  to_array<int, true>* TabSizeBandNl = nullptr;  // per scale, per wedge
  to_array<int, true>* TabSizeBandNc = nullptr;
  Plane** TabCurvelet = nullptr;          // per scale, its band arrays
  to_array<int, true> NbrBandPerScale;
  to_array<int, true> TabNbrDir;          // wedges per scale, 1 for the last
  Bool Real = False;

  FCUR() = default;
  ~FCUR();
  FCUR(const FCUR&) = delete;
  FCUR& operator=(const FCUR&) = delete;

  // TabDir(s), s < NbrScale - 1: wanted directions of scale s (raised to 8).
  void alloc_with_tab(int NbrScale, int Nl, int Nc, to_array<int, true>& TabDir,
                      Bool ExtendWT = False, Bool IsotropWT = False, Bool Real = False);
  // NbrDir at the finest scale, kept one scale, halved every second (>= 8).
  void alloc_from_fine(int NbrScale, int Nl, int Nc, int NbrDir, Bool ExtendWT = False,
                       Bool IsotropWT = False, Bool Real = False);
  // NbrDir at the coarsest detail scale, doubled every second scale finer.
  void alloc_from_coarse(int NbrScale, int Nl, int Nc, int NbrDir, Bool ExtendWT = False,
                         Bool IsotropWT = False, Bool Real = False);

  void cur_trans(to_array<float, false>& Image);
  // The bands hold Fourier wedges afterwards.
  void cur_recons(to_array<float, false>& Image);
  void get_wedges(Plane*& TabCF);
  void put_wedges(Plane*& TabCF);
  void get_size();

  int nbr_band(int s) const { return NbrBandPerScale(s); }
  int nbr_tot_band() const;
  Bool real() const { return Real; }
  int size_band_nl(int s, int b) const { return TabSizeBandNl[s](Real ? b : b / 2); }
  int size_band_nc(int s, int b) const { return TabSizeBandNc[s](Real ? b : b / 2); }
  // Real part of the coefficient, or the imaginary part for an odd band of
  // a complex transform.
  float& operator()(int s, int b, int i, int j) const {
    std::complex<float>& z = TabCurvelet[s][Real ? b : b / 2](i, j);
    return reinterpret_cast<float*>(&z)[Real ? 0 : (b & 1)];
  }
  void get_band(int s, int b, to_array<float, false>& Band) const;
  void put_band(int s, int b, to_array<float, false>& Band);
  float norm_band(int s, int b) const { return TabNorm(s, b); }

  // Noise norms, thresholding, filtering and statistics (fcur_noise.cc).
  void get_norm_coeff(float NSigma);
  void get_norm_coeff(to_array<float, false>& Noise, float NSigma);
  void set_noise_level(float NSigma);
  void threshold(float SigmaNoise, float NSigma);
  void wiener_filter(float Noise, int WienerBlockSize = 3);
  void get_stat(to_array<float, true>& TabStat);

  // The ".fct" coefficient file (fcur_file.cc).
  void mr_io_fill_header(fitsfile* Fptr);
  void write(const char* Name);
  void read(const char* Name);
  void cur_write(const char* Name);

 private:
  int AllocScales = 0;          // scales of the band arrays held
  to_array<float, false> Work;  // the image padded to the working size
  std::vector<WedgePlan> Plans; // the wedge cut of each detail scale
  void release();
  // Wedges whose inverse FFTs are kept, and the real-band factor, of scale s.
  int wedges_to_finish(int s) const;
  float real_band_factor(int s) const;
};

// Band sizes of a real transform allocated by alloc_from_fine(NbrScale, Nl,
// Nc, NbrDir, False, False, True), computed without an object; returns the
// number of bands.
int fct_real_get_band_size(int NbrScale, int Nl, int Nc, int NbrDir, to_array<int, true>& TabSizeNl,
                           to_array<int, true>& TabSizeNc);

// Largest scale count (at least 1) that an unextended transform of an
// Nl x Nc image accepts: it works on odd sides, and the low-pass plane of the
// last of n scales, 2 floor(side / 2^n) + 1 samples wide, keeps the 4 samples
// its window needs.
int fcur_largest_scale_count(int Nl, int Nc);

// The alloc_from_fine direction table: NbrScale - 1 entries, finest first.
void fcur_fine_directions(int NbrScale, int NbrDir, to_array<int, true>& TabDir);

// File name with ".fct" appended unless it already ends with it.
std::string fcur_io_name(const char* File);
