// Multiscale variance-stabilising transform (MS-VST) of Poisson data on the
// scales of the B3-spline a trous transform: the stabilising square root of
// each smoothed scale, its inverse, and the variance of the stabilised
// detail coefficients. Constants exist for scales 0 to 10 only.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

// Sums over the 1D B3-spline a trous low-pass filter h^(j) equivalent to j
// smoothings: Σh, Σh², Σh³ (scales 0 .. 10) and Σh^(j-1)h^(j) (0 .. 11).
extern const double MSVST_T1[11];
extern const double MSVST_T2[11];
extern const double MSVST_T3[11];
extern const double MSVST_sumhh[12];

// B = 2 sqrt(τ1/τ2) and C = 7τ2/(8τ1) - τ3/(2τ2), τk = MSVST_Tk[scale]^dim.
// A scale outside 0 .. 10 stops the process.
void ms_vst(int dim, int scale, double& B, double& C);

// Out (shaped like In) = B·sqrt(In + C), or sqrt(In + C) with no_factor;
// dim is the number of axes of In. In and Out may be the same array.
void msvst_transform(to_array<float, true>& in, to_array<float, true>& out, int scale,
                     Bool no_factor);
// Out (shaped like In) = In² - C, plus 1/B² with add_bias. The factor B of
// the forward transform is not divided out.
void msvst_inv_transform(to_array<float, true>& in, to_array<float, true>& out, int scale,
                         Bool add_bias);
// The image forms, dim = 2.
void msvst_transform(to_array<float, false>& in, to_array<float, false>& out, int scale,
                     Bool no_factor);
void msvst_inv_transform(to_array<float, false>& in, to_array<float, false>& out, int scale,
                         Bool add_bias);

// Variance of the stabilised detail coefficients of a scale (1 .. 10; other
// scales stop the process).
double msvst_var(int dim, int scale);
