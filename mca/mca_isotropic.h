// The isotropic power-spectrum constraint of the texture-like components.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

// Ima (Nl x Nc) keeps the phase of every Fourier coefficient, takes as
// modulus the square root of its own radially averaged power at that
// frequency, and loses its zero frequency (so its mean).
void contraint_isotrop_fft(to_array<float, false>& Ima, Bool Verbose);
