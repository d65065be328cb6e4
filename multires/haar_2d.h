// Haar wavelet transforms of images: the decimated 2D transform (Mallat
// layout, type 17), the undecimated diadic transform with two bands per
// scale (type 29) with an optional 1D Haar transform across each
// directional band, and an undecimated three-direction form.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

class MultiResol;

void haar_2d_transform(to_array<float, false>& Ima, MultiResol& MR);
// Ima must arrive with the full image size.
void haar_2d_reconstruct(MultiResol& MR, to_array<float, false>& Ima);

// One 1D analysis / synthesis level with pairs `Step` apart; Smooth and
// Detail hold haar_1d_atrou_nbr_out(N, Step) values.
void haar_1d_atrou_convol(int N, const float* Input, float* Smooth, float* Detail, int Step,
                          double Norm);
void haar_1d_atrou_rec_convol(int N, const float* Smooth, const float* Detail, float* Output,
                              int Step, double Norm);
// Outputs of one level: one per sample of each first half-block of 2 Step
// samples; more than (N+1)/2 when N mod 2 Step exceeds Step.
int haar_1d_atrou_nbr_out(int N, int Step);
// J-level transform with pairs 2^Exponent apart, Mallat order (coarsest
// smooth first, then details coarsest to finest).
void haar_1d_atrou_transform(const to_array<float, true>& Signal, to_array<float, true>& Result,
                             int J, double Norm, int Exponent);
void haar_1d_atrou_reconstruct(const to_array<float, true>& Coef, to_array<float, true>& Signal,
                               int J, double Norm, int Exponent);

void haar_2d_atrou_dir2_transform(to_array<float, false>& Ima, MultiResol& MR, Bool Flag);
void haar_2d_atrou_dir2_recons(MultiResol& MR, to_array<float, false>& Ima, Bool Flag);
void haar_2d_atrou_dir3_transform(to_array<float, false>& Ima, MultiResol& MR);
void haar_2d_atrou_dir3_recons(MultiResol& MR, to_array<float, false>& Ima);
