// The undecimated diadic wavelet transform with quadratic-spline filters
// (type 20): two directional details per scale, differences along the rows
// and along the columns, with their modulus and phase.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

// Y(i, j) = sum over k of X(i, j + k step) F[k + size/2] along the rows
// (convolx1d), the columns (convoly1d) or both (convolxy1d), in double
// precision, neighbours by the border rule.
void convolx1d(const to_array<float, false>& X, const double* F, int Size,
               to_array<float, false>& Y, int Step, type_border Border);
void convoly1d(const to_array<float, false>& X, const double* F, int Size,
               to_array<float, false>& Y, int Step, type_border Border);
void convolxy1d(const to_array<float, false>& X, const double* F, int Size,
                to_array<float, false>& Y, int Step, type_border Border);

// P scales into 2P full-size bands: 2s and 2s+1 the details of scale s,
// 2P-2 (and 2P-1) the smooth image.
void wave_2d_mallat_atrou(const to_array<float, false>& Ima, to_array<float, false>* Bands,
                          int P, type_border Border);
void rec_wave_2d_mallat_atrou(to_array<float, false>* Bands, to_array<float, false>& Ima, int P,
                              type_border Border);
void calc_mod_pha_wave_2d_mallat_atrou(const to_array<float, false>* Bands,
                                       to_array<float, false>* Modulus,
                                       to_array<float, false>* Phase, int P);
