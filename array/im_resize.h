// Moving an image into another of a different size: centred extraction,
// zero and mirror padding, enlargement by replication or bilinear
// interpolation, decimation by two and interpolation by two. The output is
// allocated by the caller and its size decides the geometry.
#pragma once

#include <complex>

#include "array/base_types.h"
#include "array/to_array.h"

// Mirror index about the edge samples without repeating them (index -1 reads
// 1, index n reads n-2), applied once: -1 when still outside [0, n).
int test_ind(int i, int n);

// Centred window of a larger image: out(i, j) = in(i + (Nl-Nl')/2, j + (Nc-Nc')/2).
// The output must not be larger than the input.
void im_extract(const to_array<float, false>& in, to_array<float, false>& out);
void im_extract(const to_array<std::complex<float>, false>& in,
                to_array<std::complex<float>, false>& out);
// Real part of the centred window, divided by `divisor`.
void im_extract(const to_array<std::complex<float>, false>& in, to_array<float, false>& out,
                float divisor);

// The input centred in the output, zero margins.
void im_zero_padding(const to_array<float, false>& in, to_array<float, false>& out);
void im_zero_padding(const to_array<float, false>& in, to_array<std::complex<float>, false>& out);

// The input centred in the output, margins mirrored once through test_ind
// (0 beyond); a smaller output takes the centred window.
void im_extend(const to_array<float, false>& in, to_array<float, false>& out);
void im_extend(const to_array<float, false>& in, to_array<std::complex<float>, false>& out);
void im_extend(const to_array<std::complex<float>, false>& in,
               to_array<std::complex<float>, false>& out);
void im_extend(const to_array<int, false>& in, to_array<int, false>& out);

// Each input pixel becomes a block of (Nl'/Nl) x (Nc'/Nc) output pixels.
void im_block_extend(const to_array<float, false>& in, to_array<float, false>& out);

// out(i, j) = in(2i, 2j) over the output, clamped at the edges.
void im_reduce_size_2(const to_array<float, false>& in, to_array<float, false>& out);
void im_reduce_size_2(const to_array<int, false>& in, to_array<int, false>& out);

// Minimum of the 5-pixel cross around every even position; the output must
// hold at least (Nl+1)/2 x (Nc+1)/2 pixels.
void im_min_reduce_size_2(const to_array<float, false>& in, to_array<float, false>& out);

// Interpolation by two with the 10-tap half-sample filter. The integer
// version truncates the interpolated values toward zero.
void im_increase_size_2(const to_array<float, false>& in, to_array<float, false>& out,
                        type_border border);
void im_increase_size_2(const to_array<int, false>& in, to_array<int, false>& out,
                        type_border border);

// Enlargement by bilinear interpolation; the first and last input pixels land
// on the first and last output pixels. Needs an input of at least 2 x 2.
void im_bilinear_interp(const to_array<float, false>& in, to_array<float, false>& out);
