// SubBand1D: the abstract two-channel 1D filter bank behind every separable
// transform. A transform drives a bank through these five steps and never
// knows which bank it holds.
#pragma once

#include "array/base_types.h"

class SubBand1D {
 public:
  // 1: decimated low band at the even samples (0: at the odd ones).
  int LowPhase;
  // 1: decimated high band at the odd samples (0: at the even ones).
  int HighPhase;
  // Sample distance: interleaved sub-signals of the decimated step
  // (SubBandFilter) or the neighbour distance (Lifting).
  int SampleDist;
  // Rule for reading outside [0, N) in every step.
  type_border Bord;

  SubBand1D();
  SubBand1D(const SubBand1D& other) = default;
  SubBand1D& operator=(const SubBand1D& other) = default;

  // Decimated analysis: Low gets (N+1)/2 values, High N/2 (default phases).
  virtual void transform(int N, float* Signal, float* Low, float* High);
  // Decimated synthesis back to N samples.
  virtual void recons(int N, float* Low, float* High, float* Signal);
  // Propagation of per-sample noise variances through one decimated step.
  virtual void noise_transform(int N, float* Signal, float* Low, float* High);
  // Undecimated analysis: both bands N values, taps Step samples apart.
  virtual void transform(int N, float* Signal, float* Low, float* High, int Step);
  // Undecimated synthesis.
  virtual void recons(int N, float* Low, float* High, float* Signal, int Step);
  virtual ~SubBand1D();

  // Index to read for position i of N samples under Bord. Under the zero rule
  // a position outside the signal has no index: -1 is returned, and sample()
  // must be used to read it.
  int test_index(int i, int N) const;

  // Value of x at position i of N samples under Bord (zero outside for the
  // zero rule). The bordered accessor for the edge samples of every bank.
  float sample(const float* x, int i, int N) const {
    if (i >= 0 && i < N) return x[i];
    int k = test_index(i, N);
    return k < 0 ? 0.f : x[k];
  }

  // sum over k < ntaps of x[centre + (k + start) * step] * taps[k], with k
  // increasing and the sum kept in Acc precision. Positions outside the
  // signal are read by the border rule.
  template <class Acc>
  Acc spread_dot(const float* x, int N, int centre, const float* taps, int ntaps,
                 int start, int step) const {
    Acc sum = 0;
    int first = centre + start * step;
    int last = first + (ntaps - 1) * step;
    if (first >= 0 && last < N) {
      const float* p = x + first;
      for (int k = 0; k < ntaps; k++, p += step) sum += Acc(*p) * Acc(taps[k]);
    } else {
      for (int k = 0; k < ntaps; k++) sum += Acc(sample(x, first + k * step, N)) * Acc(taps[k]);
    }
    return sum;
  }
};
