// The undecimated 1D transform: every step runs on the whole signal, so one
// pair of N-sample work buffers serves all scales.
#include "filters/pave_1d_wt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "array/fatal.h"
#include "array/scalar_helpers.h"

namespace {

// Noise level of the detail band of scale s for unit noise; the last value
// holds for every further scale.
constexpr float kPaveBandNoise[] = {0.72349f,   0.28545f,   0.177948f, 0.122223f, 0.0858113f,
                                    0.0605703f, 0.0428107f, 0.023f,    0.017f};
constexpr int kPaveBandNoiseCount = sizeof(kPaveBandNoise) / sizeof(kPaveBandNoise[0]);

// A tap distance of 2^30 already lies beyond any signal; more would overflow.
constexpr int kMaxNbrScale = 31;

void check_nbr_scale(int NbrScale) {
  if (NbrScale < 1 || NbrScale > kMaxNbrScale)
    fatal_exitf(-1, stdout, "Error: bad number of scales: %d ... \n", NbrScale);
}

void check_band(const to_array<float, true>& band, int N) {
  if (band.n_elem() < N)
    fatal_exitf(-1, stdout, "Error: band of %d values for a signal of %d samples ... \n",
                band.n_elem(), N);
}

}  // namespace

void PAVE_1D_WT::transform(to_array<float, true>& Signal, to_array<float, true>& Trans,
                           int NbrScale) {
  check_nbr_scale(NbrScale);
  int N = Signal.nx();
  if (Trans.nx() != N || Trans.ny() != NbrScale || Trans.naxis() != 2) Trans.alloc(N, NbrScale);
  std::vector<float> x(Signal.buffer(), Signal.buffer() + N), low(N);
  float* trans = Trans.buffer();
  for (int s = 0; s < NbrScale - 1; s++) {
    SB1D.transform(N, x.data(), low.data(), trans + size_t(s) * N, POW2(s));
    x.swap(low);
  }
  std::copy(x.begin(), x.end(), trans + size_t(NbrScale - 1) * N);
}

void PAVE_1D_WT::recons(to_array<float, true>& Trans, to_array<float, true>& Signal, int NbrScale) {
  check_nbr_scale(NbrScale);
  int N = Trans.nx();
  if (Trans.n_elem() < N * (long long)NbrScale)
    fatal_exitf(-1, stdout, "Error: transform of %d values for %d scales of %d ... \n",
                Trans.n_elem(), NbrScale, N);
  if (Signal.n_elem() != N) Signal.alloc(N);
  const float* trans = Trans.buffer();
  std::vector<float> low(trans + size_t(NbrScale - 1) * N, trans + size_t(NbrScale) * N), high(N),
      out(N);
  for (int s = NbrScale - 2; s >= 0; s--) {
    std::copy(trans + size_t(s) * N, trans + size_t(s + 1) * N, high.begin());
    SB1D.recons(N, low.data(), high.data(), out.data(), POW2(s));
    low.swap(out);
  }
  std::copy(low.begin(), low.end(), Signal.buffer());
}

void PAVE_1D_WT::transform(to_array<float, true>& Signal, to_array<float, true>& High,
                           to_array<float, true>& Low, int Step) {
  int N = Signal.nx();
  check_band(High, N);
  check_band(Low, N);
  SB1D.transform(N, Signal.buffer(), Low.buffer(), High.buffer(), Step);
}

void PAVE_1D_WT::recons(to_array<float, true>& High, to_array<float, true>& Low,
                        to_array<float, true>& Signal, int Step) {
  int N = Signal.nx();
  check_band(High, N);
  check_band(Low, N);
  SB1D.recons(N, Low.buffer(), High.buffer(), Signal.buffer(), Step);
}

float PAVE_1D_WT::getAbsMaxTransf(to_array<float, true>& Trans, float Sigma, Bool Positive,
                                  Bool Verbose) {
  int nx = Trans.nx(), ny = Trans.naxis() == 2 ? Trans.ny() : 1;
  const float* trans = Trans.buffer();
  float max_level = 0.f;
  for (int s = 0; s < ny - 1; s++) {
    const float* band = trans + size_t(s) * nx;
    float m = 0.f;
    for (int i = 0; i < nx; i++) {
      float c = Positive && band[i] < 0.f ? 0.f : band[i];
      m = std::max(m, std::fabs(c));
    }
    float factor = kPaveBandNoise[std::min(s, kPaveBandNoiseCount - 1)];
    max_level = std::max(max_level, m / (Sigma * factor));
  }
  if (Verbose) std::printf("Lambda  Half Decimated: %g\n", double(max_level));
  return max_level;
}
