// PyrCurvelet: the curvelet transform on a pyramid. The image is split into
// the bands of a pyramidal multiresolution transform; every band but the
// smooth residual is cut into square blocks and ridgelet-transformed, with a
// block side chosen per pyramid scale, and the residual is kept as it is.
// Curvelet band k is the pair (pyramid band, ridgelet 1D scale), finest
// first; the last band is the residual. Also the noise levels measured on
// simulated noise, thresholding and Wiener filtering of the coefficients.
#pragma once

#include <memory>

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/filter_ana_synt.h"
#include "filters/sub_band_1d.h"
#include "io/image_names.h"
#include "multires/multiresol.h"
#include "radon/ridgelet.h"

class PyrCurvelet {
 public:
  int Nl = 0, Nc = 0;
  int BlockSize;  // nominal; alloc takes its block size as an argument
  MultiResol WT;  // the pyramid of the image
  int NbrBand2D = 0;
  // Entry b < NbrBand2D-1: the ridgelet image of pyramid band b; the last
  // entry: a copy of the last pyramid band.
  std::unique_ptr<to_array<float, false>[]> TabTrans;
  std::unique_ptr<Ridgelet[]> TabRidgelet;  // NbrBand2D - 1 of them
  int NbrRidgelet;
  SubBand1D* SB1D;  // handed to each ridgelet; never owned
  int NbrBand;      // curvelet bands, the residual included
  Bool Initialized;
  // Per pyramid band but the last: noise level (x = 1D scale, y = line
  // index modulo the ridgelet block side), in units of the image's noise.
  std::unique_ptr<to_array<float, true>[]> TabBandSigma;
  type_transform TypeTransform;
  type_format FormatIn;
  int TypeBlock;  // not read by this class
  type_ridgelet_WTtrans RidTrans;
  Bool BlockOverlap;
  Bool ColTrans;
  Bool AutoScale1D;
  Bool Verbose;
  // The factor that takes the bands' values into the units their statistics
  // are shown in: a caller computing in other units than its data's shows
  // them in the data's.
  double InfoScale;
  Bool StatInfo;
  type_border Border;  // not read by this class
  Bool WPFirstScale;
  int NbrScale2D;
  int NbrScale1D;  // 1D scales of every ridgelet when AutoScale1D is False
  to_array<int, true> TabBlockSize;  // block side per pyramid scale
  Bool OddBlockSize;

  PyrCurvelet();
  ~PyrCurvelet();
  PyrCurvelet(const PyrCurvelet&) = delete;
  PyrCurvelet& operator=(const PyrCurvelet&) = delete;

  void reset(SubBand1D* SB);
  void tab_block_size_init(int BS);
  void ridgelet_init(Ridgelet& R);
  void alloc(int Nl, int Nc, int BS);

  void transform(to_array<float, false>& Ima);
  void recons(to_array<float, false>& Ima);

  int nbr_band() const { return NbrBand; }
  int nbr_rid_scale(int s2d) const;
  // Curvelet band k to its (pyramid band, 1D scale); a band outside
  // 0 .. NbrBand-1 stops the process.
  void get_scale_number(int k, int& s2d, int& s1d) const;
  int ipos(int s2d, int s1d) const;
  int jpos(int s2d, int s1d) const;
  int size_nl(int s2d, int s1d) const;
  int size_nc(int s2d, int s1d) const;
  int size_band_nl(int k) const;
  int size_band_nc(int k) const;
  void get_band(int s2d, int s1d, to_array<float, false>& Band) const;
  void get_band(int k, to_array<float, false>& Band) const;
  // Band must have the band's size.
  void put_band(int s2d, int s1d, const to_array<float, false>& Band);
  void put_band(int k, const to_array<float, false>& Band);
  // Coefficient (i, j) of band k; outside the band the process stops.
  float& operator()(int k, int i, int j) const;
  int block_size(int k) const;

  // Noise levels, statistics, thresholding and filtering
  // (pyr_curvelet_noise.cc).
  float norm_band(int s2d, int s1d) const;
  void get_norm_coeff(float NSigma);
  void get_norm_coeff(to_array<float, false>& Noise, float NSigma);
  void set_noise_level(float NSigma);
  void get_stat(to_array<float, true>& TabStat);
  void threshold(float SigmaNoise, float NSigma);
  void wiener_filter(float SigmaNoise, int WienerBlockSize);

 private:
  // The filter description handed to WT (allocated only for the Mallat
  // types); WT keeps a pointer to it.
  std::unique_ptr<FilterAnaSynt> WTFilter;
  // The ridgelet of pyramid band s2d < NbrBand2D-1, or null for the last.
  const Ridgelet* ridgelet_of(int s2d) const;
  // Period (in lines) of the noise levels of pyramid band s2d: its
  // ridgelet's block side.
  int noise_period(int s2d) const;
};
