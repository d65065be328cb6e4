// BSPLINE_DEC: exact interpolating B-splines of degree 2 to 5 with mirror
// boundaries. An image is turned in place into its spline coefficients by a
// separable recursive prefilter; the spline is then evaluated at any real
// position, or resampled under a rotation about an origin and a shift. The
// zoom, the image rotations and the line-column transforms rest on it.
#pragma once

#include "array/to_array.h"

// Samples in the window of the highest degree.
constexpr int BsplineMaxWindow = 6;

// Window of the degree + 1 coefficient indices around position x on an axis
// of length samples (mirrored about the edge samples) and their kernel
// weights; false for a degree outside 2..5. Resampling loops compute it once
// per line and per column instead of once per pixel.
bool bspline_window(int degree, double x, long length, long index[BsplineMaxWindow],
                    double weights[BsplineMaxWindow]);

class BSPLINE_DEC {
 public:
  int SplineDegree = 3;  // 2 to 5
  int Masking = 0;       // 1: resampled pixels whose source lies outside the image are 0

  BSPLINE_DEC() = default;

  // Buffers hold Height lines of Width values; positions are (x, y) =
  // (column, line), pixel centres at integer positions.

  // In place: samples become spline coefficients of degree SplineDegree.
  // 0 on success, 1 on an invalid degree or a failed work allocation.
  int SamplesToCoefficients(float* Image, int Width, int Height);
  // The same on an image; a failure ends the process.
  int SamplesToCoefficients(to_array<float, false>& ima);

  // The prefilter along one vector of N values, for the NbPoles poles z.
  // Tolerance 0 takes the exact mirror-boundary initial value.
  void ConvertToInterpolationCoefficients(double* c, long N, double* z, long NbPoles,
                                          double Tolerance);
  double InitialCausalCoefficient(double* c, long N, double z, double Tolerance);
  // Needs N >= 2.
  double InitialAntiCausalCoefficient(double* c, long N, double z);

  void GetRow(float* Image, long y, double* Line, long Width);
  void PutRow(float* Image, long y, double* Line, long Width);
  void GetColumn(float* Image, long Width, long x, double* Line, long Height);
  void PutColumn(float* Image, long Width, long x, double* Line, long Height);

  // Value at (x, y) of the spline with coefficients Bcoeff, mirrored past the
  // borders. An invalid degree prints a message and gives 0.
  double InterpolatedValue(float* Bcoeff, int Width, int Height, double x, double y);
  double InterpolatedValue(to_array<float, false>& coeff, double x, double y);

  // Out(x, y) = spline at (xOrigin, yOrigin) + R(Angle)·((x, y) - shift - origin),
  // Angle in degrees.
  void shift_rotation_from_spline_coeff(float* Bcoeff, float* Out, int Width, int Height,
                                        double Angle, double xShift, double yShift,
                                        double xOrigin, double yOrigin);
  // Rotation about an origin (-1 for the centre, width/2 or height/2) and a
  // shift; out is resized to the input's size. Unless InputIsCoeff, the input
  // is first turned into its coefficients in place.
  void shift_rotation(to_array<float, false>& In, to_array<float, false>& Out, double Angle,
                      Bool InputIsCoeff, double Dx, double Dy, int xOrigin, int yOrigin);
};
