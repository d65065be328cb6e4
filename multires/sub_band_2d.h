// Separable two-dimensional steps over one-dimensional filter banks: a
// filter bank runs along every line, then along every column (the reverse
// for synthesis). SubBand2D offers the four one-step operations; Ortho_2D_WT
// chains decimated steps in place in one image (Mallat layout) and
// PAVE_2D_WT chains undecimated steps into three full-size detail bands per
// scale.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"
#include "filters/sub_band_1d.h"

// Rounds half away from zero.
inline int to_int(float x) { return x >= 0.f ? static_cast<int>(x + 0.5f) : static_cast<int>(x - 0.5f); }

class SubBand2D {
 public:
  // Borrowed banks, never deleted.
  SubBand1D* LineFilter;
  SubBand1D* ColFilter;
  int LineLowPhase, LineHighPhase, ColLowPhase, ColHighPhase;

  explicit SubBand2D(SubBand1D& filter);
  SubBand2D(SubBand1D& line, SubBand1D& col);
  ~SubBand2D();

  void set_sub();
  SubBand1D* get_subband_method_line();
  SubBand1D* get_subband_method_col();
  SubBand1D* get_subband_method() { return LineFilter; }

  // One decimated analysis step of an nl x nc image into the smooth band
  // LL ((nl+1)/2 x (nc+1)/2), HL ((nl+1)/2 x nc/2), LH (nl/2 x (nc+1)/2) and
  // HH (nl/2 x nc/2). With InPlace the four land in the quadrants of Ima;
  // otherwise Smooth is resized (it may be Ima) and the three details must
  // already have their sizes.
  void transform2d(to_array<float, false>& Ima, Bool InPlace, to_array<float, false>* Horiz,
                   to_array<float, false>* Vert, to_array<float, false>* Diag,
                   to_array<float, false>* Smooth);
  // One undecimated analysis step with taps Step apart; the four outputs are
  // full size and allocated by the caller; Smooth may be Ima.
  void transform2d(to_array<float, false>& Ima, to_array<float, false>& Horiz,
                   to_array<float, false>& Vert, to_array<float, false>& Diag,
                   to_array<float, false>& Smooth, int Step);
  // Decimated synthesis into Ima, whose size gives the geometry.
  void recons2d(to_array<float, false>& Ima, Bool InPlace, to_array<float, false>* Horiz,
                to_array<float, false>* Vert, to_array<float, false>* Diag,
                to_array<float, false>* Smooth);
  // Undecimated synthesis into Ima (allocated); Smooth may be Ima.
  void recons2d(to_array<float, false>& Horiz, to_array<float, false>& Vert,
                to_array<float, false>& Diag, to_array<float, false>& Smooth,
                to_array<float, false>& Ima, int Step);
};

// Decimated transform in place: the smooth part of every scale in the
// top-left corner of the previous one, the details around it.
class Ortho_2D_WT : public SubBand2D {
 public:
  explicit Ortho_2D_WT(SubBand1D& filter) : SubBand2D(filter) {}

  void transform(to_array<float, false>& Ima, int NbrScale);
  void transform(to_array<float, false>& Imag, to_array<float, false>& Ima_Out, int NbrScale);
  void recons(to_array<float, false>& Ima, int NbrScale);
  void recons(to_array<float, false>& Trans, to_array<float, false>& Ima_Out, int NbrScale);
  // Integer images: every filtered sample is rounded back through to_int.
  void transform(to_array<int, false>& Ima, int NbrScale);
  void transform(to_array<int, false>& Imag, to_array<int, false>& Ima_Out, int NbrScale);
  void recons(to_array<int, false>& Ima, int NbrScale);
  void recons(to_array<int, false>& Trans, to_array<int, false>& Ima_Out, int NbrScale);
};

// Undecimated transform: 3 (NbrScale-1) + 1 full-size bands, scale s in
// bands 3s (HL), 3s+1 (LH), 3s+2 (HH), the smooth band last.
class PAVE_2D_WT : public SubBand2D {
 public:
  explicit PAVE_2D_WT(SubBand1D& filter) : SubBand2D(filter) {}
  PAVE_2D_WT(SubBand1D& line, SubBand1D& col) : SubBand2D(line, col) {}

  int alloc(to_array<float, false>*& TabBand, int Nl, int Nc, int NbrScale);
  void free(to_array<float, false>*& TabBand, int NbrScale);
  void transform(to_array<float, false>& Ima, to_array<float, false>* TabBand, int NbrScale);
  // Ima must already have the bands' size.
  void recons(to_array<float, false>* TabBand, to_array<float, false>& Ima, int NbrScale);
  void one_scale_transform(to_array<float, false>& Ima, to_array<float, false>* TabBand,
                           int Step, int Pos);
  void one_scale_recons(to_array<float, false>* TabBand, to_array<float, false>& Ima, int Step,
                        int Pos);
};
