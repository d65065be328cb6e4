// The multiscale local DCT: the a trous B3-spline bands of an image, each
// transformed by its own local block DCT whose block side doubles from one
// band to the next, so that every scale is analysed with blocks matched to
// its width. It is the MCA's multiscale DCT base.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"
#include "multires/atrous_2d_wt.h"
#include "numerics/local_dct2d.h"

class MDCT {
 public:
  to_array<float, false>* TabBand;  // the a trous bands, owned
  LOCAL_DCT2D* TabLocalDCT;         // one local DCT per band, owned
  ATROUS_2D_WT AWT;
  int NbrPlan;
  Bool Overlap;  // blocks overlap by half a block; set before alloc
  to_array<int, true> TabBlockSize;
  Bool Verbose;

  MDCT();
  ~MDCT();
  MDCT(const MDCT&) = delete;
  MDCT& operator=(const MDCT&) = delete;

  void reset();
  void alloc(int Nl, int Nc, int NbrPlan, int BlockSize);
  void free();
  void transform(to_array<float, false>& Ima);
  void recons(to_array<float, false>& Ima);
  // Noise level of the coefficients of band s for unit image noise.
  float norm_band(int s) const;
  // Hard thresholding of every coefficient of band s below
  // NSigma x Noise x norm_band(s); a coefficient at the level survives.
  void threshold(float Noise, float NSigma);

  int nbr_scale() const { return NbrPlan; }
  int nl(int s) const;
  int nc(int s) const;
  float& operator()(int s, int i, int j) const;
  void test_scale(int s) const;
  void test_indi(int s, int i) const;
  void test_indj(int s, int j) const;
};
