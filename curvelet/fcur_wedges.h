// The angular wedges of the fast curvelet transform: a band-pass Fourier
// plane (odd sides, zero frequency in the middle) is cut into NbrDir wedges
// that go round the origin, each weighted by smooth angular windows whose
// squares add up to one and wrapped into a small rectangle; and the adjoint
// that adds the windowed wedges back into a plane. The integer geometry here
// fixes every band size and coefficient position of the transform.
#pragma once

#include <complex>

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
