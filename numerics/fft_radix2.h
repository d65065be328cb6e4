// Radix-2 complex FFT in single precision for power-of-two lines and square
// power-of-two images. It is natively centred: the origin of both domains is
// at index n/2 of each axis, so a centred image goes in and a centred spectrum
// (zero frequency at (n/2, n/2)) comes out. Direction +1 uses
// exp(+2πi·jk/n) unscaled, -1 exp(-2πi·jk/n) divided by the value count.
#pragma once

#include <complex>

#include "array/to_array.h"

struct complex_float {
  float re;
  float im;
};

// Rotation table: entry k is (cos x, sin x), x = direction·π·k/(n/2).
struct trig_table_type {
  int count;  // n/2
  int n;
  int log2n;
  complex_float* table;
};

// Pairs (i, j) of indices exchanged by the bit reversal of n values.
struct rev_map_type {
  int count;
  int n;
  int (*pairs)[2];
};

// Core routines, in place.
void ft_cf_any_power_of_2(complex_float* data, int direction, int n);
void ft_cf_1d(complex_float* data, int direction, int n);
void set_trig_table(trig_table_type table, int direction);
void set_rev_map(rev_map_type map);
// Number of pairs set_rev_map stores for n = 2^log2n.
int rev_map_count(int n, int log2n);
void bitreverse(complex_float* data, rev_map_type map);
void ft_1d(complex_float* data, trig_table_type table);
void norm2d(complex_float* data, int n);
void norm1d(complex_float* data, int n);
complex_float* b_s_row_to_vector(complex_float* data, int r, int n);
void b_s_row_from_vector(complex_float* row, int n);
void b_s_col_to_vector(complex_float* data, complex_float* vector, int c, int n);
void b_s_col_from_vector(complex_float* data, complex_float* vector, int c, int n);

// Wrappers over images. The 2D forms need a square image and a result of at
// least Nl·Nc values (both checked); direction -1 is the inverse, any other
// value the forward transform.
void fft2d(const to_array<std::complex<float>, false>& data, int direction);
void fft2d(const to_array<std::complex<float>, false>& in,
           const to_array<std::complex<float>, false>& result, int direction);
void fft2d(const to_array<int, false>& in, const to_array<std::complex<float>, false>& result,
           int direction);
void fft2d(const to_array<float, false>& in, const to_array<std::complex<float>, false>& result,
           int direction);
// 1D forms: direction +1 or -1; the result holds at least nc values.
void fft1d(const to_array<float, true>& in, const to_array<std::complex<float>, true>& result,
           int direction);
void fft1d(const to_array<std::complex<float>, true>& in,
           const to_array<std::complex<float>, true>& result, int direction);

// Circular convolution of two square power-of-two images of the same size,
// each with its origin at (n/2, n/2); result of the same size.
void fft2d_conv(const to_array<float, false>& image1, const to_array<float, false>& image2,
                to_array<float, false>& result);
