// Estimators of the standard deviation of additive Gaussian noise in an
// image or a vector of samples, built to resist the signal the data carry:
// iterated 3-sigma clipping, the median absolute deviation, and image
// estimators on the residual of a median or B3-spline smoothing, or on the
// quietest blocks. None of them prints or stops the process; the bad-pixel
// globals BadPixel and BadPixalVal (array/im_util.h) take part where stated.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

// Iterated 3-sigma clipping of n samples. Iteration 0 keeps every sample,
// later ones those strictly within 3 sigma of the previous centre. With
// `average` the centre is the mean, otherwise 0 and sigma is the root mean
// square. With `bad_pixel_test`, samples within 5.96047e-08 of `bad_value`
// are skipped. Zero iterations give 0.
float get_sigma_clip(const float* data, int n, int iterations, Bool average,
                     Bool bad_pixel_test, float bad_value);

// The same selection, but each iteration takes the mean first and then the
// squared deviations from it in a second pass, which loses no precision when
// the mean is large.
float get_sigma_clip_robust(const float* data, int n, int iterations, Bool average,
                            Bool bad_pixel_test, float bad_value);

// Clipped mean and sigma of every pixel (bad pixels skipped when BadPixel is set).
void sigma_clip(const to_array<float, false>& image, float& mean, float& sigma, int iterations);

// Clipped mean and sigma of lines x columns integers; the mean is used (and
// written out) only when `average` is 1, otherwise it is 0.
void sigma_clip_int(const int* data, float& mean, float& sigma, int lines, int columns,
                    int average, int iterations);
float sigma_clip_int(const int* data, int lines, int columns, int average, int iterations);

// get_sigma_clip over every pixel, with BadPixel and BadPixalVal.
float detect_noise_sigma(const to_array<float, false>& image, Bool average, int iterations);

// Noise sigma from the residual of a 3x3 median filter: three clipping
// passes about the mean, divided by 0.972463.
float detect_noise_from_med(const to_array<float, false>& image);

// The same estimate from the pixels that are present, for data whose missing
// pixels are 0: only the residuals of 3x3 windows without a zero pixel are
// clipped. Equal to detect_noise_from_med for an image without zeros; 0 when
// no window is complete. `complete_windows`, when given, receives their count.
float detect_noise_from_med_of_present(const to_array<float, false>& image,
                                       long* complete_windows = nullptr);

// Noise sigma from the residual of one B3-spline smoothing: three clipping
// passes about 0, divided by 0.889434.
float detect_noise_from_bspline(const to_array<float, false>& image);

// Median absolute deviation of n samples divided by 0.6745 (lower median for
// even counts); the data are left unchanged. 0 for no samples.
float get_sigma_mad(const float* data, int n);

// get_sigma_mad of every pixel, or with `window` of the central
// (Nl/4) x (Nc/4) window.
float detect_noise_from_mad(const to_array<float, false>& image, Bool window);

// Cuts the image into the complete blocks of size x size pixels (lines of
// blocks outer) and allocates with new[] the lists of their means and
// standard deviations, which the caller deletes.
void block_transform(const to_array<float, false>& image, float*& block_mean,
                     float*& block_sigma, int& nbr_block, int block_size);

// Exchange sort limited to n/2 + 1 passes: afterwards the n/2 + 1 largest
// values stand in ascending order at the end of the list.
void sort_bulle(float* list, int n);

// Mean of the smallest tenth (at least one) of the block standard
// deviations; 0 when the image holds no complete block.
float detect_noise_from_block(const to_array<float, false>& image, int block_size);
