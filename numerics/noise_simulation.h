// Random deviates and simulated noise: uniform draws from the C library's
// 48-bit generator (srand48/drand48), Gaussian deviates by inverting the
// normal tail, Rayleigh and exponential means, Poisson deviates from the
// portable generator ran1, and Gaussian profiles and kernels. The
// transforms calibrate their band noise levels on these images, so a seed
// must reproduce the same image on every run.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

// Seeds the 48-bit generator with seed, or with the clock (seconds) when seed
// is 100.
void init_random(unsigned int seed);
// Uniform in [0, 1) from the 48-bit generator, rounded to float (so it may
// become 1.0f).
float get_random();
// min + u·(max - min), u from get_random().
float get_random(float min, float max);

// The fillers below first call init_random(seed) when seed is not 0; seed 0
// continues the current sequence.
// Elements 0 .. N-1 of signal set to sigma·xerf(get_random()).
void randomn(to_array<float, true>& signal, int N, float sigma, unsigned int seed);
// Every pixel set (not added) to a Gaussian deviate of standard deviation sigma.
void im_noise_gaussian(to_array<float, false>& ima, float sigma, unsigned int seed);
// A new lines x columns image "im_noise" filled by im_noise_gaussian.
to_array<float, false> im_noise(float sigma, int lines, int columns, unsigned int seed);
// Each pixel the mean of N unit-scale Rayleigh deviates (N >= 1).
void im_noise_rayleigh(to_array<float, false>& ima, int N, unsigned int seed);
// Each pixel the mean of N unit exponential deviates (N >= 1).
void im_noise_laplace(to_array<float, false>& ima, int N, unsigned int seed);

// A new image "gaussienne" holding exp(-r²/(2σ²)), σ = fwhm/(2 sqrt(2 ln 2)),
// peak 1 at the centre; a negative centre index means the middle (n/2).
to_array<float, false> im_gaussian(int lines, int columns, float fwhm, int centre_line,
                                   int centre_column);
// Fills ima with a Gaussian of standard deviation sigma and unit sum.
void make_gaussian(to_array<float, false>& ima, float sigma, int centre_line, int centre_column);
void make_gaussian_fwhm(to_array<float, false>& ima, float fwhm, int centre_line,
                        int centre_column);

// Portable uniform generator with its own shuffled state. A negative *state
// (or the first call) starts a sequence from it, after which *state holds 1.
float ran1(int* state);
// ln Γ(x), x > 0.
float nr_gammln(float x);
// Poisson deviate of the given mean drawn through ran1 (0 for a mean <= 0).
float poidev(float mean, int* state);
// Each pixel replaced by a Poisson deviate of its value; every call restarts
// ran1, so every call draws the same sequence.
void im_poisson_noise(to_array<float, false>& ima);
// Each pixel x replaced by scale·poidev(x), ran1's state word starting at seed.
void im_noise_poisson(to_array<float, false>& ima, float scale, unsigned int seed);

// Unit-sum Gaussian kernels of standard deviation sigma (in samples) over the
// whole array, centred on the given indices (negative: the middle, n/2).
void make_gaussian1d(to_array<float, true>& signal, float sigma, int ind);
void make_gaussian2d(to_array<float, true>& ima, float sigma, int indi, int indj);
void make_gaussian3d(to_array<float, true>& cube, float sigma, int indi, int indj, int indk);
// The kernel of the array's own dimension, centred in the middle.
void make_gaussian(to_array<float, true>& data, float sigma);
// Every element, in storage order, set to sigma times a standard normal deviate.
void simu_gaussian_noise(to_array<float, true>& data, float sigma, unsigned int seed);
