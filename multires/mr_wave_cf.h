// Isotropic wavelet transforms defined by their frequency response: the
// undecimated transform in Fourier space (type 2) and the two pyramidal ones
// (types 7 and 26). The image goes to Fourier space once; each scale
// multiplies the low-pass spectrum by filters built from a cubic B-spline
// scaling function whose support is set by the cut-off frequency Fc.
#pragma once

#include <complex>

#include "array/base_types.h"
#include "array/to_array.h"
#include "multires/mr_types.h"

class MultiResol;

float pyr_2d_cf_scaling_function(float u, float v, float Fc, int N);
float pyr_2d_cf_filter_h(float u, float v, float Fc, int N1, int N2);
// The filters below serve types 2, 7 and 26 only; any other type stops the
// process.
float pyr_2d_cf_filter_g(float u, float v, float Fc, int N1, int N2, type_transform T);
float pyr_2d_cf_filter_h_tilde(float u, float v, float Fc, int N1, int N2, type_transform T);
float pyr_2d_cf_filter_g_tilde(float u, float v, float Fc, int N1, int N2, type_transform T);
float pyr_2d_cf_filter_wavelet(float u, float v, float Fc, int N, type_transform T);
// Which: 1 phi, 2 H, 3 H~, 4 G, 5 G~, 6 psi; another value stops the process.
float pyr_2d_cf_filter(int Which, float u, float v, float Fc, int N1, int N2, type_transform T);
void pyr_2d_cf_create_filter(to_array<float, false>& Filter, float Fc, int Which,
                             type_transform T);

void wave_cf_mult(to_array<std::complex<float>, false>& Low,
                  to_array<std::complex<float>, false>& Detail, int s, int N, float Fc,
                  type_transform T, Bool Analysis);
void under_sampling_2(to_array<std::complex<float>, false>& Spectrum);
void over_sampling_2(to_array<std::complex<float>, false>& Spectrum);
void normalize_scale(to_array<float, false>& Band, int N, int Direction);

// The image must be square; the reconstruction's image must already be N x N.
void wave_cf_transform(to_array<float, false>& Ima, MultiResol& MR);
void mr_cf_transform(to_array<float, false>& Ima, MultiResol& MR);
void wave_cf_recons(MultiResol& MR, to_array<float, false>& Ima);
void print_info_cf(to_array<std::complex<float>, false>& Data, int Unused);
