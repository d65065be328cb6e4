// PMT_2D: the pyramidal median transform of an image, kept in its own band
// array. Each scale is the residual of a median filter; the median image,
// decimated by two, is carried to the next scale, and the last band is the
// smooth array. It stands apart from the MultiResol container.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

class PMT_2D {
 public:
  // Side W of the square median window (odd).
  int MedianWindowSize = 5;

  // New array of NbrScale bands: band s is nl_s x nc_s with nl_0 = Nl and
  // nl_{s+1} = (nl_s + 1) / 2, likewise for columns.
  void alloc(to_array<float, false>*& Bands, int Nl, int Nc, int NbrScale);
  // Releases the array (when the count is not 0) and clears the pointer.
  void free(to_array<float, false>*& Bands, int NbrScale);
  void transform(to_array<float, false>& Ima, to_array<float, false>* Bands, int NbrScale,
                 type_border Border);
  void recons(to_array<float, false>* Bands, to_array<float, false>& Ima, int NbrScale,
              type_border Border);
  // Noise standard deviation of band s for a unit Gaussian noise in the image.
  double norm_band(int s) const;
};
