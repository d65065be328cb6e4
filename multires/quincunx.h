// Quincunx: a wavelet transform with two detail bands per scale over a 1D
// filter bank. Odd lines are shifted by one sample before the line
// filtering, so that the low-pass samples kept on successive lines form a
// quincunx grid; a column step then halves the lines.
#pragma once

#include "array/to_array.h"
#include "filters/sub_band_1d.h"

class Quincunx {
 public:
  // The filter bank of every step; borrowed, never deleted.
  SubBand1D* FilterBank = nullptr;

  Quincunx() = default;
  explicit Quincunx(SubBand1D& Filter) : FilterBank(&Filter) {}
  SubBand1D* get_subband_method() { return FilterBank; }

  // New array of 2 (NbrScale - 1) + 1 bands for an Nl x Nc image; returns
  // the band count.
  int alloc(to_array<float, false>*& Bands, int Nl, int Nc, int NbrScale);
  // Releases the array (when the count is not 0) and clears the pointer.
  void free(to_array<float, false>*& Bands, int NbrScale);
  // Allocates the bands for the image's size when the pointer is null.
  void transform(to_array<float, false>& Ima, to_array<float, false>*& Bands, int NbrScale);
  void recons(to_array<float, false>* Bands, to_array<float, false>& Ima, int NbrScale);
  // One scale: nl x nc into the line detail (nl x nc/2), the column detail
  // (nl/2 x (nc+1)/2) and the smooth image ((nl+1)/2 x (nc+1)/2), which may
  // be the input itself.
  void transform_one_step(to_array<float, false>& Ima, to_array<float, false>& Band1,
                          to_array<float, false>& Band2, to_array<float, false>& Smooth);
  void recons_one_step(to_array<float, false>& Smooth, to_array<float, false>& Band2,
                       to_array<float, false>& Band1, to_array<float, false>& Ima);
  // Copies the detail bands 0 .. NbrBand-2 into one image of the original
  // size, each at the place given by ind_quinc.
  void band_to_ima(to_array<float, false>* Bands, to_array<float, false>& Ima, int NbrBand);
  // Position (I, J) in the one-image layout of pixel (i, j) of band b for an
  // Nl x Nc image.
  void ind_quinc(int b, int i, int j, int Nl, int Nc, int& I, int& J) const;
};
