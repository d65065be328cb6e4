// The angular wedges of the fast curvelet transform: a band-pass Fourier
// plane (odd sides, zero frequency in the middle) is cut into NbrDir wedges
// that go round the origin, each weighted by smooth angular windows whose
// squares add up to one and wrapped into a small rectangle; and the adjoint
// that adds the windowed wedges back into a plane. The integer geometry here
// fixes every band size and coefficient position of the transform.
#pragma once

#include <complex>
#include <vector>

#include "array/to_array.h"

// Half sizes of a plane XS wide and YS high: XW = XS/2, MX = floor(XW),
// NX = 2·MX + 1 (and the same for Y).
void rangecompute(double XS, double YS, int& NX, int& NY, int& MX, int& MY, double& XW,
                  double& YW);

// The angular window pair: l rises from 0 (x <= 0) to 1 (x >= 1), r falls,
// l² + r² = 1.
void window(double x, double& l, double& r);

// Cuts the plane (A high, B wide, as doubles; 2·floor(A/2)+1 x
// 2·floor(B/2)+1 values) into NbrDir wedge arrays, resized here. The plane
// is turned four quarter turns in place and so ends as it came in.
void scale_into_wedge(to_array<std::complex<float>, false>& Scale,
                      to_array<std::complex<float>, false>*& TabWedge, int NbrDir, double A,
                      double B);

// The adjoint: Scale (already of the plane's size) is cleared and receives
// the windowed sum of the wedges, whose contents are consumed.
void wedge_into_scale(to_array<std::complex<float>, false>*& TabWedge,
                      to_array<std::complex<float>, false>& Scale, int NbrDir, double A,
                      double B);

// Lines and columns of each of the NbrDir wedges of an A x B plane, in wedge
// order, without cutting anything (entries past the last multiple of 4 are 0).
void wedge_sizes(double A, double B, int NbrDir, int* Lines, int* Columns);

// The cut of one plane geometry worked out once: for every wedge, in the
// order the cut visits them, the plane position, the wrapped wedge cell and
// the window weight of each sample. cut and paste then give exactly what
// scale_into_wedge and wedge_into_scale give (same products, same order of
// sums) without evaluating a window again; wedges are cut in parallel.
class WedgePlan {
 public:
  void build(double A, double B, int NbrDir);
  int nbr_dir() const { return static_cast<int>(Wedges.size()); }
  int plane_nl() const { return NY; }
  int plane_nc() const { return NX; }
  int wedge_nl(int k) const { return Wedges[k].nl; }
  int wedge_nc(int k) const { return Wedges[k].nc; }
  // Scale must be plane_nl() x plane_nc(); the wedges are resized.
  void cut(const to_array<std::complex<float>, false>& Scale,
           to_array<std::complex<float>, false>* TabWedge) const;
  // Scale must be plane_nl() x plane_nc(); it is cleared first.
  void paste(const to_array<std::complex<float>, false>* TabWedge,
             to_array<std::complex<float>, false>& Scale) const;

 private:
  struct Sample {
    int plane;  // linear index in the unturned plane
    int cell;   // linear index in the wedge array
    float weight;
  };
  struct Wedge {
    int nl = 0, nc = 0;
    std::vector<Sample> samples;
  };
  int NY = 0, NX = 0;
  std::vector<Wedge> Wedges;
};
