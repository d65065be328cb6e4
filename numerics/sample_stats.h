// Descriptive statistics of float samples (moments, extremes, histogram
// entropy, two-sided tail counts), the centred cubic B-spline and the
// quantile functions of the normal law used to turn probabilities into
// thresholds and uniform draws into Gaussian deviates.
#pragma once

#include <vector>

#include "array/base_types.h"
#include "array/to_array.h"

// Mean, population standard deviation, skewness, excess kurtosis and extremes
// of data[0 .. N-1], two passes in double precision. A zero variance leaves
// sigma, skewness and kurtosis at 0; an empty sample gives all zeros.
void moment4(const float* data, int N, double& mean, double& sigma, double& skewness,
             double& kurtosis, float& min, float& max);
// The same over the pixels inside a border of `border` pixels (every pixel
// when border < 1). A border that does not fit the image stops the process.
void im_moment4(const to_array<float, false>& ima, double& mean, double& sigma, double& skewness,
                double& kurtosis, float& min, float& max, int border);
// The signal's buffer seen as ny() lines of nx() values; a one-axis signal is
// one line.
void im_moment4(const to_array<float, true>& signal, double& mean, double& sigma,
                double& skewness, double& kurtosis, float& min, float& max, int border);

// Single-pass raw-moment skewness and excess kurtosis; 0 for zero variance.
double skewness(const float* data, int N);
double curtosis(const float* data, int N);

// Entropy in bits of the histogram of the data with bins of width bin_width
// starting at the minimum.
double entropy(const float* data, int N, float bin_width);

// Centred cubic B-spline: 2/3 at 0, 1/6 at ±1, 0 from ±2 outwards.
double b3_spline(double x);

// z with upper-tail standard normal probability u (rational approximation,
// about 3e-3 absolute accuracy); 0 when min(u, 1 - u) < 1.11077e-16.
double xerf(double u);
// x with erfc(x) = y, to double precision, for 0 < y < 2 (±infinity at the ends).
double inverfc(double y);
// Standard normal quantile: z with Φ(z) = p, p clamped to [0, 1]
// (-infinity at 0, +infinity at 1).
double xerfc(double p);

// The pixels of nl x nc buffer lines border .. nl-border-1, columns
// border .. nc-border-1, lines outer; with border < 1 every pixel, without a
// copy. Returns the first pixel (inside `work` when copied) and the count in
// n. A border inconsistent with the image prints the "Error: SizeBorder = "
// report and stops the process with status -1.
const float* pixels_inside_border(const float* buffer, int nl, int nc, int border,
                                  std::vector<float>& work, int& n);
// Lines of a signal seen as an image: ny(), or 1 for a one-axis signal.
int signal_lines(const to_array<float, true>& signal);

// Two-sided tail counts of the values of data at np thresholds evenly spaced
// from -max_val to max_val: surv becomes np x 2 with surv(i, 0) the
// threshold and surv(i, 1) the number of negative values below it (lower
// half) or positive values above it (upper half, from the middle threshold
// on). With normalize, values are first standardised by mean (the data's own
// when mean is -1) and sigma (the data's own when sigma is 0). Fewer than two
// thresholds stop the process.
void survival(const to_array<float, true>& data, to_array<float, true>& surv, int np,
              float max_val, Bool normalize, float sigma, float mean);
