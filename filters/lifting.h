// Lifting: a SubBand1D that splits a signal by lifting steps (predict the odd
// samples from the even ones, update the even ones with the details), with
// integer-to-integer schemes that restore integer signals exactly.
#pragma once

#include "filters/sub_band_1d.h"

enum type_lift {
  TL_UNKNOWN = 0,
  TL_CDF = 1,       // "Lifting scheme: CDF WT"
  TL_MED = 2,       // "Lifting scheme: median prediction"
  TL_INT_HAAR = 3,  // "Lifting scheme: integer Haar WT"
  TL_INT_CDF = 4,   // "Lifting scheme: integer CDF WT"
  TL_INT_4_2 = 5,   // "Lifting scheme: integer (4,2) interpolating transform"
  TL_F79 = 6,       // "Lifting scheme: 7/9 WT"
  TL_INT_F79 = 7    // "Lifting scheme: integer 7/9 WT"
};

// Text of a lifting scheme ("Undefined transform" outside 1 to 7).
const char* StringLSTransform(type_lift Type);

// Help text of the lifting option, on standard error.
void lifting_usage(type_lift Default);

class Lifting : public SubBand1D {
 public:
  type_lift TypeLift;

  explicit Lifting(type_lift Type);

  // Prediction of sample i of x (N samples) from its neighbours Step apart.
  float lift_predict(int i, int N, const float* x, int Step) const;
  // Update of the low value j from the details d (M values), Step apart.
  float lift_update(int j, int M, const float* d, int Step) const;

  using SubBand1D::recons;
  using SubBand1D::transform;
  void transform(int N, float* Signal, float* Low, float* High) override;
  void recons(int N, float* Low, float* High, float* Signal) override;
  void transform(int N, float* Signal, float* Low, float* High, int Step) override;
  void recons(int N, float* Low, float* High, float* Signal, int Step) override;

  // The 7/9 scheme, and its integer form without the final scaling. The
  // inverses work in place on Low and High.
  void transform_f79(int N, const float* Signal, float* Low, float* High) const;
  void recons_f79(int N, float* Low, float* High, float* Signal) const;
  void transform_int_f79(int N, const float* Signal, float* Low, float* High) const;
  void recons_int_f79(int N, float* Low, float* High, float* Signal) const;

 private:
  int neighbour(int pos, int N) const;
  void f79_steps(int N, float* Low, float* High, bool integer, bool inverse) const;
};
