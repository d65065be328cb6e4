// The separable line-column wavelet transform: every line is transformed by
// a 1D multiscale step sequence, then every column by another, both over one
// caller-supplied filter bank. The decimated form works in place inside an
// image of the input's size (the ridgelet transform uses it across its
// projections); the undecimated form gives one full-size band per pair of
// line and column scales.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/sub_band_1d.h"
#include "numerics/rotation.h"

class LineCol {
 public:
  SubBand1D* SB1D = nullptr;  // never owned
  Rotation Rot;               // for the directional form
  // Decimated form only: each further step splits the high-pass half of the
  // step before instead of its low-pass half.
  Bool HighBandSplit = False;

  LineCol() = default;
  explicit LineCol(SubBand1D& SB) : SB1D(&SB) {}
  ~LineCol() = default;
  LineCol(const LineCol&) = delete;
  LineCol& operator=(const LineCol&) = delete;

  void alloc(SubBand1D& SB, Bool Flag) {
    SB1D = &SB;
    HighBandSplit = Flag;
  }
  SubBand1D* get_subband_method() const { return SB1D; }

  // Decimated forms; NbrScaleCol < 0 means as many column scales as line
  // scales, and a count of 0 or 1 runs no step along that axis.
  void transform(to_array<float, false>& Ima, to_array<float, false>& Trans, int NbrScaleLine,
                 int NbrScaleCol);
  void transform(to_array<float, false>& Ima, int NbrScaleLine, int NbrScaleCol);
  void recons(to_array<float, false>& Trans, to_array<float, false>& Ima, int NbrScaleLine,
              int NbrScaleCol);
  void recons(to_array<float, false>& Trans, int NbrScaleLine, int NbrScaleCol);

  // Undecimated forms: band (l, c) is TabBand[l * C + c] in the flat array
  // (bands allocated by the caller) and TabBand[l][c] in the two-level one
  // (allocated here). The inverses overwrite band (l, 0).
  void undec_transform(to_array<float, false>& Ima, to_array<float, false>*& TabBand,
                       int NbrScaleLine, int NbrScaleCol);
  void undec_transform(to_array<float, false>& Ima, to_array<float, false>**& TabBand,
                       int NbrScaleLine, int NbrScaleCol);
  void undec_recons(to_array<float, false>*& TabBand, to_array<float, false>& Ima,
                    int NbrScaleLine, int NbrScaleCol);
  void undec_recons(to_array<float, false>**& TabBand, to_array<float, false>& Ima,
                    int NbrScaleLine, int NbrScaleCol);

  // The decimated form off the image axes: the image, mirror-extended into
  // a frame twice its size (so that no corner is lost to the rotation), is
  // rotated by Angle (radians when Flag is True, else degrees) and then
  // transformed into Trans (2Nl x 2Nc). The inverse reconstructs Trans in
  // place, rotates back and keeps the centred window the size of Ima.
  void directional_transform(to_array<float, false>& Ima, to_array<float, false>& Trans,
                             float Angle, int NbrScaleLine, int NbrScaleCol, Bool Flag);
  void directional_recons(to_array<float, false>& Trans, to_array<float, false>& Ima,
                          float Angle, int NbrScaleLine, int NbrScaleCol, Bool Flag);

  // One step on the segment Pos .. Pos + N - 1 of lines 0 .. NbrLines - 1
  // (or of columns 0 .. NbrCols - 1), low part first.
  void transform_one_step_line(to_array<float, false>& Ima, int NbrLines, int N, int Pos);
  void recons_one_step_line(to_array<float, false>& Ima, int NbrLines, int N, int Pos);
  void transform_one_step_col(to_array<float, false>& Ima, int N, int NbrCols, int Pos);
  void recons_one_step_col(to_array<float, false>& Ima, int N, int NbrCols, int Pos);
  void undec_transform_one_step_line(to_array<float, false>& In, to_array<float, false>& Low,
                                     to_array<float, false>& High, int Step);
  void undec_transform_one_step_col(to_array<float, false>& In, to_array<float, false>& Low,
                                    to_array<float, false>& High, int Step);
  void undec_recons_one_step_line(to_array<float, false>& Low, to_array<float, false>& High,
                                  to_array<float, false>& Out, int Step);
  void undec_recons_one_step_col(to_array<float, false>& Low, to_array<float, false>& High,
                                 to_array<float, false>& Out, int Step);

 private:
  template <class BandAt>
  void undec_forward(to_array<float, false>& Ima, BandAt band, int L, int C);
  template <class BandAt>
  void undec_inverse(BandAt band, to_array<float, false>& Ima, int L, int C);
};
