// The separable 2D wavelet transform over a 1D filter bank whose first
// scales are undecimated (full-size bands, taps spread by a hole distance)
// and whose other scales are decimated: the MCA's bi-orthogonal wavelet base
// and the transform inside the regularisation step. An optional Fisz
// stabilisation divides the detail bands by the square root of the smooth.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/filter_ana_synt.h"
#include "filters/sub_band_1d.h"

class HALF_DECIMATED_2D_WT {
 public:
  SubBand1D* LineFilter;  // borrowed, never deleted
  SubBand1D* ColFilter;   // borrowed, never deleted
  Bool FiszAnalysis;
  Bool FiszSynthesis;

  explicit HALF_DECIMATED_2D_WT(SubBand1D& filter);
  ~HALF_DECIMATED_2D_WT();
  HALF_DECIMATED_2D_WT(const HALF_DECIMATED_2D_WT&) = delete;
  HALF_DECIMATED_2D_WT& operator=(const HALF_DECIMATED_2D_WT&) = delete;

  // TabDec[s] false: scale s undecimated; true: decimated. The first
  // min(NbrUndec, NbrScale) entries are false; a negative NbrUndec makes all
  // of them false. The caller deletes the table (delete[]).
  void set_tabdec(int NbrUndec, Bool*& TabDec, int NbrScale);

  // Creates the 3 (NbrScale-1) + 1 bands ("band_1", ...) and returns the count.
  int alloc(to_array<float, false>*& TabBand, int Nl, int Nc, int NbrScale, Bool* TabDec);
  int alloc(to_array<float, false>*& TabBand, int Nl, int Nc, int NbrScale, int NbrUndec);
  void free(to_array<float, false>*& TabBand, int NbrScale);

  void transform(to_array<float, false>& Ima, to_array<float, false>* TabBand, int NbrScale,
                 Bool* TabDec);
  void transform(to_array<float, false>& Ima, to_array<float, false>* TabBand, int NbrScale,
                 int NbrUndec);
  // Ima must already have the size of the transformed image.
  void recons(to_array<float, false>* TabBand, to_array<float, false>& Ima, int NbrScale,
              Bool* TabDec);
  void recons(to_array<float, false>* TabBand, to_array<float, false>& Ima, int NbrScale,
              int NbrUndec);

  void fisz_trans(to_array<float, false>& Band, to_array<float, false>& Smooth, Bool Decimated);
  void fisz_rec(to_array<float, false>& Band, to_array<float, false>& Smooth, Bool Decimated);
};

// Default scale count of the half-decimated transform for a side of N pixels:
// iround(log(N/4) / log 2 + 1) (7 for 256, 8 for 512). Not the container's
// rule (multiresol.h).
int half_decimated_nbr_scale(int N);

// Fisz transform of a whole image: the reconstruction of its stabilised
// bands, or with Reverse the reconstruction with the stabilisation undone.
void fisz2d(to_array<float, false>& Ima, to_array<float, false>& Out, Bool Reverse,
            int NbrScale, type_sb_filter SBF, int NbrUndec);
