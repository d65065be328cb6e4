// Zoom of an image by cubic B-spline interpolation; the main program's
// super-resolution option enlarges its input with it. Every form consumes its
// input: in is turned in place into its spline coefficients.
#pragma once

#include "array/to_array.h"

// Resamples in to the size out already has; output pixel 0 sits on input
// pixel 0 on both axes.
void im_zoom(to_array<float, false>& in, to_array<float, false>& out);
// Sizes out to round(Nl·zy) x round(Nc·zx) and resamples at j/zx + 0.5,
// i/zy + 0.5.
void im_zoom(to_array<float, false>& in, to_array<float, false>& out, double zx, double zy);
void im_zoom(to_array<float, false>& in, to_array<float, false>& out, double z);
