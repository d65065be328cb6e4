// Two-dimensional DCT and DST of images, and the one-dimensional radix-2
// routines under the DCT. The one-dimensional routines address their vectors
// from index 1: pass the address of the element before the first value.
#pragma once

#include "array/to_array.h"

// In-place DFT of nn complex values (interleaved, data[1] is the first real
// part); isign 1 uses exp(+2πi·jk/nn), -1 exp(-2πi·jk/nn); never scaled.
// nn is a power of two.
void four1(float* data, unsigned long nn, int isign);

// isign 1: the n real values become the first half of their spectrum, packed
// as data[1] = F_0, data[2] = F_{n/2}, then (Re, Im) of F_1 .. F_{n/2-1};
// isign -1: back to n/2 times the real values. n is a power of two, at least 2.
void realft(float* data, unsigned long n, int isign);

// isign 1: unnormalised DCT-II of y[1..n]; isign -1: its inverse up to a factor
// n/2 (the k = 0 term taken with weight ½). n is a power of two, at least 2.
void cosft2(float* y, int n, int isign);

// Smallest side the one-dimensional DCT routines accept: a single sample has
// no second element for the real FFT to pack its Nyquist term into.
constexpr int DctMinSide = 2;

// True when n is a power of two of at least DctMinSide.
bool dct_side_ok(int n);

// 2D DCT of in into out (resized to in's size): rows then columns forward,
// columns then rows inverse, both scaled by 2 / sqrt(Nl·Nc) so that the
// inverse undoes the forward for any power-of-two sides of at least 2.
// Other sides end the process with a message.
void im_dct(to_array<float, false>& in, to_array<float, false>& out, Bool Reverse);

// The in-place 2D DCT of one nl x nc buffer behind im_dct, for callers that
// transform many blocks: sides already checked with dct_side_ok, work holds
// nl·nc floats. No allocation once the routines have run at these sizes.
void dct2d_in_place(float* data, int nl, int nc, Bool reverse, float* work);

// 2D DST of in into out through the split-radix package; out is resized to
// in's size. The inverse is scaled by 4/(Nl·Nc), with line 0 and column 0
// halved, so that it undoes the forward exactly. Sides must
// be powers of two of at least 2; others end the process with a message.
void im_dst(to_array<float, false>& in, to_array<float, false>& out, Bool Reverse);
