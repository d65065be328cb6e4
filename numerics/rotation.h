// Rotation of images: quarter turns, rotation by any angle through a quarter
// turn and three Fourier shears, bilinear rotate-and-shift, and spline
// rotate-and-shift (used by the line-column transforms); with the Fourier
// translations of signals and images that the shears rest on.
#pragma once

#include "array/to_array.h"
#include "numerics/bspline.h"

// In-place cyclic shift by s samples through a phase ramp in Fourier space:
// for an integer s, Sig'(m) = Sig((m + s) mod N), the content moves toward
// lower indices.
void translate1d(to_array<float, true>& Sig, float s);

// In-place cyclic shift by dx columns and dy lines: for integers,
// Ima'(i, j) = Ima((i - dy) mod Nl, (j - dx) mod Nc), the content moves by
// +dx columns and +dy lines.
void translate2d(to_array<float, false>& Ima, float dx, float dy);

class Rotation : public BSPLINE_DEC {
 public:
  int Verbose = 0;        // 1 prints the steps of im_rotate
  int AngleInRadian = 0;  // angles in radians when non-zero, else in degrees

  Rotation() = default;

  // Rotation by k quarter turns (any sign) into out, resized to Nc x Nl for
  // odd turns.
  void im_rot90(to_array<float, false>& in, to_array<float, false>& out, int k);
  // In-place Fourier shear: Axis 'x' shifts every column by a·(its distance to
  // the centre), 'y' every line; any other axis leaves the image alone.
  void im_shear(to_array<float, false>& Ima, char Axis, float a);
  // Rotation by any angle: quarter turns, then three shears.
  void im_rotate(to_array<float, false>& in, to_array<float, false>& out, float Angle);
  // Rotation about the centre and shift by (dx, dy), bilinear interpolation;
  // out is resized to in's size.
  void im_move_rotate_bilinear(to_array<float, false>& in, to_array<float, false>& out,
                               float Angle, float dx, float dy);
  // Cubic-spline rotation about the centre (columns/2, lines/2) followed by
  // the shift (dx, dy). in is turned into its spline coefficients.
  void im_move_rotate(to_array<float, false>& in, to_array<float, false>& out, float Angle,
                      float dx, float dy);
  // The same with a spline of the given degree, which SplineDegree keeps.
  void im_move_rotate_spline(to_array<float, false>& in, to_array<float, false>& out,
                             float Angle, float dx, float dy, int Degree);
};
