// UndecSubBandFilter: the undecimated, non-orthogonal two-channel bank of
// fixed short spline and Haar kernels, whose synthesis restores the signal
// without decimation (Ht*H + Gt*G is the identity).
#pragma once

#include "array/base_types.h"
#include "filters/sub_band_1d.h"

enum type_undec_filter {
  U_B3SPLINE = 0,           // H = B3 spline, G = Id - H, Gt = Id + H
  U_B3SPLINE_2 = 1,         // H = B3 spline, G = Id - H*H, Gt = Id
  U_B2SPLINE = 2,           // H = B2 spline, G = Id - H*H, Gt = Id
  U_HARR_B3SPLINE_POS = 3,  // Haar analysis, positive spline synthesis
  U_HARR_B3SPLINE = 4       // Haar analysis, B3 spline synthesis
};

// Text of an undecimated filter type ("Undefined filters" outside 0 to 4).
const char* StringUndecFilter(type_undec_filter Type);

// Help text of the undecimated filter option, on standard error.
void usb_usage(type_undec_filter Default);

class UndecSubBandFilter : public SubBand1D {
 public:
  float* H;    // analysis low-pass
  float* G;    // analysis high-pass
  float* Ht;   // synthesis low-pass (the array of H for types 0 to 2)
  float* Gt;   // synthesis high-pass
  int Size_H, Size_G, Size_Ht, Size_Gt;
  type_undec_filter TypeUndecFilter;
  Bool Verbose;

  explicit UndecSubBandFilter(type_undec_filter Type);
  UndecSubBandFilter(const UndecSubBandFilter& other);
  UndecSubBandFilter& operator=(const UndecSubBandFilter& other);
  ~UndecSubBandFilter() override;

  // Fills the four filters of TypeUndecFilter (none for an unknown type).
  void init();

  // Out[i] = sum over k < SizeF of In[i + (k - SizeF/2) * Step] * F[k],
  // the filter in its stored order, the sum in single precision.
  void convol_filter(int N, const float* In, float* Out, const float* F, int SizeF,
                     int Step) const;

  using SubBand1D::recons;
  using SubBand1D::transform;
  void transform(int N, float* Signal, float* Low, float* High, int Step) override;
  void recons(int N, float* Low, float* High, float* Signal, int Step) override;

 private:
  void free_filters();
};
