// Whether a sample (a band of transform coefficients, an image without its
// border) looks like Gaussian noise: higher-criticism statistics and a test
// on the excess of large standardised values; and false-discovery-rate cuts
// that turn p-values into a detection level.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

// Higher-criticism statistics of data[0 .. N-1] standardised by sigma and
// mean: HC1 over every sorted p-value, HC2 without those below 1/N or above
// 1 - 1/N. A sigma that is not positive leaves nothing to test: both are 0.
void hc_test(const float* data, int N, float& HC1, float& HC2, float sigma, float mean);
// sigma = sqrt(Σx²/N - mean²) about the given mean.
void hc_test(const float* data, int N, float& HC1, float& HC2, float mean);
// Mean and sigma of the sample itself.
void hc_test(const float* data, int N, float& HC1, float& HC2);
// The pixels inside a border (every pixel when border < 1), about mean 0 when
// zero_mean, else about the sample's own moments. Signals are seen as ny()
// lines of nx() values (one line for a one-axis signal).
void im_hc_test(const to_array<float, false>& ima, float& HC1, float& HC2, int border,
                Bool zero_mean);
void im_hc_test(const to_array<float, true>& signal, float& HC1, float& HC2, int border,
                Bool zero_mean);

// Standardised scores of Σ(|c/σ| - 2)⁺ (T1) and Σ(|c/σ| - 2)⁺|c/σ| (T2) over
// the centred values c, near 0 for Gaussian data; σ is corrected for
// non-Gaussian tails through the MAD.
void gausstest(const float* data, int N, float& T1, float& T2);
// Root near 1 of the sigma-correction polynomial for the ratio MAD²/m2.
float root(float ratio);
void im_gaussianity_test(const to_array<float, false>& ima, float& T1, float& T2, int border);
void im_gaussianity_test(const to_array<float, true>& signal, float& T1, float& T2, int border);

// Benjamini-Hochberg cut: the largest sorted p-value p(k) with
// p(k) <= alpha·k/N, 0 when none passes. The p-values are not reordered.
float fdr_pvalue(const float* pvalues, int N, float alpha);
double fdr_pvalue(const double* pvalues, int N, float alpha);
// Detection level on the data's scale for Gaussian noise of the given sigma:
// the smallest |x| whose two-sided p-value passes the cut; when none passes,
// a level just above every |x|, so that nothing is detected.
float fdr_gauss_threshold(const float* data, int N, float alpha, float sigma);
