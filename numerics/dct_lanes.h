// The DCT-II of one power-of-two length and its inverse, on many vectors at
// once, with float twiddle tables: the engine of the local block DCT, where
// the lines (or columns) of a block are transformed together so that every
// step runs over contiguous lanes. The steps are those of cosft2 (a real FFT
// through a half-length complex FFT); only the twiddles differ, taken from
// tables computed in double and rounded to float instead of advanced by
// recurrence, so results agree with cosft2 up to float rounding.
#pragma once

#include <vector>

class DctLanes {
 public:
  // n is a power of two of at least 2.
  explicit DctLanes(int n);

  int size() const { return n_; }

  // Element e (from 0) of vector v is base[e * lanes + v]. forward replaces
  // each vector by its unnormalised DCT-II, inverse by the cosft2 inverse
  // (n/2 times the vector the forward transform came from). scratch holds
  // lanes floats. Each vector goes through the same operations whatever the
  // number of lanes, so results do not depend on how vectors are grouped.
  void forward(float* base, int lanes, float* scratch) const;
  void inverse(float* base, int lanes, float* scratch) const;

 private:
  friend struct DctLanesKernels;  // the loops, compiled once per instruction set

  int n_;
  // Complex FFT of n/2 values: per stage, the twiddle of every group.
  std::vector<float> fft_cos_, fft_sin_;
  // Real FFT recombination: angle k·2π/n for k = 1 .. n/4 - 1.
  std::vector<float> real_cos_, real_sin_;
  // DCT pre-/post-processing: sin((2i + 1)θ), 0.5 / sin((2i + 1)θ) for
  // i < n/2, and the rotation by 2kθ for k = 1 .. n/2 - 1, θ = π/(2n).
  std::vector<float> odd_sin_, half_inv_odd_sin_, rot_cos_, rot_sin_;
};

// The tables of length n, built on first use and kept for the whole run;
// safe to call from several threads.
const DctLanes& dct_lanes(int n);
