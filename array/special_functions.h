// Incomplete gamma function, log-gamma and the error function built on them,
// in the single precision the histogram probabilities and noise statistics
// were calibrated with. Failures end through nrerror.
#pragma once

// Regularised lower incomplete gamma function P(a, x), a > 0, x >= 0.
float gammp(float a, float x);
// P(a, x) by its series into *gamser; ln Γ(a) into *gln.
void gser(float* gamser, float a, float x, float* gln);
// Q(a, x) = 1 - P(a, x) by its continued fraction into *gammcf; ln Γ(a) into *gln.
void gcf(float* gammcf, float a, float x, float* gln);
// ln Γ(x), x > 0 (six-term Lanczos approximation).
float gammln(float x);

// The C library has its own single-precision erff; this one, with the
// tolerance of the incomplete gamma function, lives apart so both stay usable.
namespace qz {
// The error function: sign(x)·P(1/2, x²), x² formed in single precision.
float erff(float x);
}  // namespace qz
