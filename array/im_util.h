// Free functions over float and integer images: conversion, thresholding,
// window sums, global statistics, pixel-wise arithmetic, direct convolution,
// correlation and regression of two images, parts of a complex image, and
// the iterated 3-sigma noise estimate of an integer image.
//
// Unlike the reductions of to_array, which run over the flat buffer, these
// walk lines and columns, so they need two-dimensional images. Statistics
// are accumulated as stated per function (single or double precision) and
// the standard deviations are population values (divisor N).
//
// The pixel-wise difference of two images is the operator- of to_array.
#pragma once

#include <complex>

#include "array/base_types.h"
#include "array/to_array.h"

// When BadPixel is non-zero, sigma of a float image and the clipping noise
// estimators leave out the pixels within BadPixelTolerance of BadPixalVal.
extern int BadPixel;
extern float BadPixalVal;
constexpr float BadPixelTolerance = 5.96047e-08f;

// Every element converted to float; the arrays must have the same element
// and axis counts.
void ifloat(to_array<float, false>& out, const to_array<int, false>& in);

// Every pixel strictly below `level` becomes 0.
void threshold(to_array<float, false>& image, float level);

// Sum, in single precision, of the (2·half+1)^2 pixels centred on (i, j);
// pixels outside the image count as 0.
float total_in_block(const to_array<float, false>& image, int i, int j, int half);

// ---- Float image statistics ----
double sigma(const to_array<float, false>& image);    // population deviation, bad pixels skipped
double average(const to_array<float, false>& image);  // double sum / (nl·nc)
float min(const to_array<float, false>& image);
float max(const to_array<float, false>& image);
float flux(const to_array<float, false>& image);      // sum in single precision
double total(const to_array<float, false>& image);    // sum in double precision
double energy(const to_array<float, false>& image);   // float squares summed in double
// Divides every pixel by flux/value, so that the flux becomes `value`.
void norm_flux(to_array<float, false>& image, float value);

// ---- Integer image statistics ----
double sigma(const to_array<int, false>& image);
double average(const to_array<int, false>& image);
int min(const to_array<int, false>& image);
int max(const to_array<int, false>& image);
int flux(const to_array<int, false>& image);    // wraps as a 32-bit sum
int energy(const to_array<int, false>& image);  // wraps as a 32-bit sum

// ---- Pixel-wise arithmetic: a new image of a's size; b must be at least as large ----
to_array<float, false> operator+(const to_array<float, false>& a, const to_array<float, false>& b);
to_array<float, false> operator*(const to_array<float, false>& a, const to_array<float, false>& b);
// a/b where |b| > 5.96047e-08, else 0.
to_array<float, false> operator/(const to_array<float, false>& a, const to_array<float, false>& b);
to_array<float, false> operator*(const to_array<float, false>& a, float scale);
to_array<float, false> operator*(float scale, const to_array<float, false>& a);

to_array<int, false> operator+(const to_array<int, false>& a, const to_array<int, false>& b);
to_array<int, false> operator*(const to_array<int, false>& a, const to_array<int, false>& b);
// a/b truncated toward zero where b is not 0, else 0.
to_array<int, false> operator/(const to_array<int, false>& a, const to_array<int, false>& b);

// ---- Convolution ----
// True convolution (kernel flipped): out(i, j) = Σ a(i + Kl/2 - r, j + Kc/2 - c)·k(r, c),
// a read with the border rule; a new image of a's size.
to_array<float, false> conv_direct(const to_array<float, false>& a,
                                   const to_array<float, false>& kernel, type_border border);
to_array<int, false> conv_direct(const to_array<int, false>& a, const to_array<int, false>& kernel,
                                 type_border border);
// Correlation with the kernel (not flipped): out(i, j) = Σ a(i - Kl/2 + r, j - Kc/2 + c)·k(r, c),
// into an output at least as large as a.
void convol(const to_array<float, false>& a, const to_array<float, false>& kernel,
            to_array<float, false>& out, type_border border);

// ---- Two-image comparisons: the images must have the same size ----
// Σab / sqrt(Σa²·Σb²), 0 when the root is not positive.
float correlation(const to_array<float, false>& a, const to_array<float, false>& b);
// The same over the pixels where |a| > level.
float correlation(const to_array<float, false>& a, const to_array<float, false>& b, float level);
float correlation(const to_array<int, false>& a, const to_array<int, false>& b);
// Σab / Σb², the slope of a on b through the origin; 0 when Σb² = 0.
float regression(const to_array<float, false>& a, const to_array<float, false>& b);
// The same over the pixels where |a| > level and |b| > level.
float regression(const to_array<float, false>& a, const to_array<float, false>& b, float level);

// Real or imaginary part of every pixel, into an output at least as large.
void real(to_array<float, false>& out, const to_array<std::complex<float>, false>& in);
void imag(to_array<float, false>& out, const to_array<std::complex<float>, false>& in);

// Iterated clipped deviation of an integer image: each pass keeps the pixels
// within 3 sigma of the previous pass's mean (all pixels on the first pass);
// `subtract_mean` False measures about 0. Single precision throughout.
float detect_noise_sigma(const to_array<int, false>& image, Bool subtract_mean, int passes);
