// Radial profile of the 2D power spectrum of an image: the mean power on
// circles of growing radius around the zero frequency, the circles sampled
// by cubic B-spline interpolation of the power image.
#pragma once

#include "array/to_array.h"

// spec becomes count x 3, count = ((Nl+1)/2 - 1) / resol (at least 1):
// spec(r, 0) the frequency f = r·resol/Nl, spec(r, 1) the mean power
// |FFT|²/(Nl·Nc) on the circle of radius r·resol pixels (dens samples per
// unit of circumference, negative interpolated values taken as 0), spec(r, 2)
// the mean power times f·(f + 1). Row 0 holds the zero-frequency power.
void get_isotropic_spectrum(to_array<float, false>& ima, to_array<float, true>& spec,
                            float resol, float dens);
