// G_Minmax: the morphological two-channel bank whose smooth band is the
// minimum of each pair of samples and whose detail is their difference.
#pragma once

#include "filters/sub_band_1d.h"

class G_Minmax : public SubBand1D {
 public:
  G_Minmax();

  using SubBand1D::recons;
  using SubBand1D::transform;
  void transform(int N, float* Signal, float* Low, float* High) override;
  void recons(int N, float* Low, float* High, float* Signal) override;
  // The min-max bank has no undecimated form: both stop with an error.
  void transform(int N, float* Signal, float* Low, float* High, int Step) override;
  void recons(int N, float* Low, float* High, float* Signal, int Step) override;
};
