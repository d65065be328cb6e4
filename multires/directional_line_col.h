// A line-column transform whose scales are decimated or undecimated by a
// per-axis threshold: the first scales keep the full length (their
// high-pass bands set side by side to the right of the image, the finest
// farthest right), the later ones build a Mallat pyramid in the image's
// columns. Only the pass along the column index is joined into transform
// and recons; every step reports itself on standard output.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/sub_band_1d.h"
#include "numerics/rotation.h"

class DirectionalLineCol {
 public:
  SubBand1D* SB1D = nullptr;  // never owned
  Rotation Rot;
  // Scale s along an axis is decimated when s >= the axis' threshold.
  int FirstDecLineScale = 0;
  int FirstDecColScale = 0;

  explicit DirectionalLineCol(SubBand1D& SB) { alloc(SB); }
  ~DirectionalLineCol() { SB1D = nullptr; }
  DirectionalLineCol(const DirectionalLineCol&) = delete;
  DirectionalLineCol& operator=(const DirectionalLineCol&) = delete;

  void alloc(SubBand1D& SB) {
    reset();
    SB1D = &SB;
  }
  void reset() {
    SB1D = nullptr;
    FirstDecLineScale = 0;
    FirstDecColScale = 0;
  }
  bool is_decimated_line_scale(int s) const { return s >= FirstDecLineScale; }
  bool is_decimated_col_scale(int s) const { return s >= FirstDecColScale; }

  // NbrScaleCol - 1 steps along every line of Ima (NbrScaleLine is not
  // used); Trans is sized (FirstDecLineScale + 1) Nl x (FirstDecColScale + 1)
  // Nc when the thresholds are positive.
  void transform(to_array<float, false>& Ima, to_array<float, false>& Trans, int NbrScaleLine,
                 int NbrScaleCol);
  // The inverse into Ima, which gives the image size; Trans is overwritten
  // and written to "xx_rec_<scale>.fits" after each scale.
  void recons(to_array<float, false>& Trans, to_array<float, false>& Ima, int NbrScaleLine,
              int NbrScaleCol);
  // NbrScale - 1 decimated steps on columns 0 .. Nc - 1 over the first Nl
  // lines of Ima, in place; Dep is not used.
  void transform_col(to_array<float, false>& Ima, int Nl, int Nc, int NbrScale, int Dep);

 private:
  void check_allocated() const;
};
