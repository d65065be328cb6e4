// Smoothing of an image at scale s, the building block of the a trous
// transforms and of the noise estimators: the taps of each filter lie
// 2^s pixels apart. Pixels outside the input are read through the border rule.
//
// The output must be a two-dimensional image at least as large as the input;
// it is neither allocated nor resized. The separable filters (haar, linear,
// bspline) go through a float work image, so input and output may be the same
// image; the window filters (average, mediane) need two distinct images.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

// Box mean over a W x W grid of taps around each pixel. For an even W the
// grid spans W/2 steps on each side, (W+1)^2 taps, and the mean is over them.
void smooth_average(const to_array<float, false>& in, to_array<float, false>& out,
                    type_border border, int s, int window);
void smooth_average(const to_array<int, false>& in, to_array<int, false>& out,
                    type_border border, int s, int window);

// Pair sums along lines then columns, divided by `norm` (a constant image is
// multiplied by 4/norm).
void smooth_haar(const to_array<float, false>& in, to_array<float, false>& out,
                 type_border border, int s, float norm);

// Triangle kernel 1/4, 1/2, 1/4 along lines then columns.
void smooth_linear(const to_array<float, false>& in, to_array<float, false>& out,
                   type_border border, int s);
void smooth_linear(const to_array<int, false>& in, to_array<int, false>& out,
                   type_border border, int s);

// Cubic B-spline kernel 1/16, 1/4, 3/8, 1/4, 1/16 along lines then columns.
void smooth_bspline(const to_array<float, false>& in, to_array<float, false>& out,
                    type_border border, int s);
void smooth_bspline(const to_array<int, false>& in, to_array<int, false>& out,
                    type_border border, int s);

// Median over a W x W grid of taps (W odd). The float version uses adjacent
// taps for every s below 1.
void smooth_mediane(const to_array<float, false>& in, to_array<float, false>& out,
                    type_border border, int s, int window);
void smooth_mediane(const to_array<int, false>& in, to_array<int, false>& out,
                    type_border border, int s, int window);
