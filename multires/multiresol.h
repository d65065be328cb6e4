// MultiResol: the bands of one two-dimensional multiresolution transform of
// an Nl x Nc image, the band/scale mapping of its layout family, the filter
// banks and auxiliary objects its type needs, and the parameters that the
// forward and inverse dispatch (mr_dispatch.h) reads. The exchange format of
// the multiresolution library.
#pragma once

#include <string>
#include <vector>

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/filter_ana_synt.h"
#include "filters/lifting.h"
#include "filters/sub_band_1d.h"
#include "filters/undec_sub_band_filter.h"
#include "io/image_names.h"
#include "multires/mr_types.h"

// Auxiliary transforms of the Fourier-space (8, 25), fast-curvelet (27) and
// line-column (16) types. The fast curvelet lives in a library above this
// one: its table row, registered by that library, builds and releases it.
class MEYER_WT;
class FCUR;
class LineCol;

// Default scale count for a side of n pixels: iround(ln(0.75 n / ln 2)),
// 4 for 64, 5 for 128, 6 for 256 and 512, 7 for 1024.
int get_nbr_scale(int n);
// Length of an axis of N samples after s halvings by (N+1)/2; N for s <= 0.
int size_ima_resol(int s, int N);

class MultiResol {
 public:
  Bool FilterBankOwned;
  FilterAnaSynt* FilterBank;   // types 13, 16 and 23
  SubBand1D* UndecFilterBank;  // type 24, owned
  to_array<float, false>* TabBand;
  int NbrScale;
  int Nl, Nc;
  int NbrBand;
  int NbrBandPerResol;
  int NbrCoeffDetail;
  int* TabBandNl;
  int* TabBandNc;
  int NbrUndecScale;
  MEYER_WT* MeyerWT;
  FCUR* FCurTrans;
  Bool FCurExtend, FCurIsotrop, FCurReal;
  to_array<int, true> TabNbrBandPerResol;
  to_array<int, true> TabBandScale;
  to_array<int, true> TabBandDir;
  to_array<int, true> TabScaleFirstBand;
  int FCurNbrDir;
  Bool ModifiedATWT;
  Bool Verbose;
  type_transform Type_Transform;
  set_transform Set_Transform;
  type_format FormatInput;
  std::string Name;  // any length
  type_border Border;
  int MedianWindowSize;
  float Fc;
  int NbrIter;
  Bool ExactPyrRec;
  float SigmaNoise;
  float NSigma;
  float NSigmaMedian;
  type_lift LiftingTrans;
  type_sb_filter SBFilter;
  type_undec_filter UndecFilter;
  sb_type_norm TypeNorm;
  float HaarWeight;
  Bool HaarDir2Flag;
  LineCol* LineColTrans;
  int NbrScaleX, NbrScaleY;

  MultiResol();
  MultiResol(int Nl, int Nc, int NbrScale, type_transform T, const char* Name);
  ~MultiResol();
  MultiResol(const MultiResol&) = delete;
  MultiResol& operator=(const MultiResol&) = delete;

  void init_param();
  // An object already allocated is released first.
  void alloc(int Nl, int Nc, int NbrScale, type_transform T, const char* Name);
  void alloc(int Nl, int Nc, int NbrScale, type_transform T, FilterAnaSynt* FAS,
             sb_type_norm Norm, int NbrUndec, type_undec_filter U);
  void free();
  void print_info() const;
  // For the types that lay out their own bands: Nl.size() bands of the
  // given sizes, named from Format and the band index plus 1; sets NbrBand.
  void lay_out_bands(const std::vector<int>& BandNl, const std::vector<int>& BandNc,
                     const char* Format);

  int nbr_band() const { return NbrBand; }
  int nbr_scale() const { return NbrScale; }
  int size_ima_nl() const { return Nl; }
  int size_ima_nc() const { return Nc; }
  int size_band_nl(int b) const { return TabBandNl[b]; }
  int size_band_nc(int b) const { return TabBandNc[b]; }
  int nbr_coeff_in_band(int b) const { return TabBandNl[b] * TabBandNc[b]; }
  int nbr_undec_scale() const { return NbrUndecScale; }
  FilterAnaSynt* filter_bank() const { return FilterBank; }
  SubBand1D* undec_filter_bank() const { return UndecFilterBank; }
  MEYER_WT* get_meyer_wt() const { return MeyerWT; }
  FCUR* fast_curvelet_trans() const { return FCurTrans; }
  to_array<float, false>*& tabband() { return TabBand; }
  void band_to_scale(int b, int& s, details& d) const {
    band2scale(b, Type_Transform, NbrBand, s, d);
  }
  int band_to_scale(int b) const {
    int s;
    details d;
    band_to_scale(b, s, d);
    return s;
  }
  int scale_to_band(int s, details d) const {
    return scale2band(s, Type_Transform, NbrBand, d);
  }
  // A band outside 0 .. NbrBand-1 stops the process.
  void test_band(int b) const;
  to_array<float, false>& band(int b) const {
    test_band(b);
    return TabBand[b];
  }
  to_array<float, false>& scale(int s) const { return band(s); }

  float& operator()(int b, int i, int j) const { return TabBand[b](i, j); }
  float& operator()(int s, int i, int j, details d) const {
    return TabBand[scale_to_band(s, d)](i, j);
  }
  float operator()(int b, int i, int j, type_border B) const { return TabBand[b](i, j, B); }
  float operator()(int s, int i, int j, details d, type_border B) const {
    return TabBand[scale_to_band(s, d)](i, j, B);
  }
  float& operator()(int b, int k) const;
  float operator()(int b, int k, type_border B) const;
  // Coefficient k of the whole transform, bands in order.
  float& operator()(int k) const;
  void pos_coeff(int k, int& s, int& i, int& j, details& d) const;

  to_array<float, false> extract_band(int b) const;
  to_array<float, false> extract_scale(int s, details d) const;
  // A size mismatch stops the process.
  void insert_band(const to_array<float, false>& Ima, int b);
  void insert_scale(const to_array<float, false>& Ima, int s, details d);

  int size_scale_nl(int s, details d) const;
  int size_scale_nc(int s, details d) const;
  double scale_norm(int s, details d) const;
  double band_norm(int b) const;
  float gauss_detect_level(int b, float Sigma, float NSigma) const;
  void threshold(int b, float Level, Bool UseAbs);
  void threshold(float Sigma, float NSigma, Bool UseAbs);
  void norm(float Max, Bool UseAbs);
  // Types 20 and 29 only: modulus and phase of each scale's two bands.
  void compute_mod_phase(to_array<float, false>*& Mod, to_array<float, false>*& Phase);

  // The dispatch (mr_dispatch.cc).
  void filter_bank_alloc();
  void transform(to_array<float, false>& Ima);
  void transform(to_array<float, false>& Ima, type_border B, Bool Details = True);
  void recons(to_array<float, false>& Ima, type_border B = I_CONT);
  void rec_adjoint(to_array<float, false>& Ima, Bool UseLastScale = True,
                   type_border B = I_CONT);

 private:
  void locate(int k, int& b, int& i, int& j) const;
  void read_back_band_sizes();
  // What the type's own table row built at alloc (its transform object).
  void release_type_objects();
};

// Every pixel p of Ima becomes |p| / M x Max (UseAbs) or p / M x Max, with
// M the largest magnitude of Ima; an all-zero image stays zero.
void norm_abs_imag(to_array<float, false>& Ima, float Max, Bool UseAbs);
