// The B3-spline smoothing of one signal with taps d samples apart, shared by
// the a trous and the pyramidal 1D transforms. The two transforms add the
// three weighted terms in opposite orders, and each keeps its own order so
// that their results do not move by a rounding.
#pragma once

#include "array/base_types.h"

// Which weighted term of the B3 kernel is added first: the centre
// (0.375 x[i] + 0.25 (...) + 0.0625 (...)) or the outer pair
// (0.0625 (...) + 0.25 (...) + 0.375 x[i]).
enum class B3Order { CentreFirst, OuterFirst };

// out[i] = kernel 1/16, 1/4, 3/8, 1/4, 1/16 over x(i - 2d) ... x(i + 2d), each
// pair summed in single precision and weighted in double, stored as float.
// Samples outside [0, n) are read by the border rule. in and out must differ.
void b3_smooth_1d(const float* in, float* out, int n, int d, type_border border, B3Order order);
