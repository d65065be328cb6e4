// Decimated 1D transform and its inverse over any bank. The work buffers
// have room for either phase of the bank's bands: an odd low or high phase
// puts the extra sample of an odd length in the other band.
#include "filters/ortho_1d_wt.h"

#include <algorithm>
#include <vector>

#include "array/scalar_helpers.h"

namespace {

void set_length(to_array<float, true>& a, int n) {
  if (a.n_elem() != n) a.alloc(n);
}

}  // namespace

void mallat_1d_transform(to_array<float, true>& Signal, to_array<float, true>& Trans, int NbrScale,
                         SubBand1D& SB) {
  int N = Signal.nx();
  set_length(Trans, N);
  std::vector<float> x(Signal.buffer(), Signal.buffer() + N);
  std::vector<float> low(N / 2 + 1), high(N / 2 + 1);
  float* trans = Trans.buffer();
  int n = N;
  for (int s = 0; s < NbrScale - 1; s++) {
    n = size_resol(s, N);
    SB.transform(n, x.data(), low.data(), high.data());
    std::copy(high.begin(), high.begin() + n / 2, trans + (n + 1) / 2);
    std::copy(low.begin(), low.begin() + (n + 1) / 2, x.begin());
  }
  // With one scale the smooth band is the signal itself.
  int n_smooth = size_resol(std::max(NbrScale - 1, 0), N);
  std::copy(x.begin(), x.begin() + n_smooth, trans);
}

void mallat_1d_reconstruct(to_array<float, true>& Trans, to_array<float, true>& Signal,
                           int NbrScale, SubBand1D& SB) {
  int N = Trans.n_elem();
  set_length(Signal, N);
  const float* trans = Trans.buffer();
  int n_smooth = size_resol(std::max(NbrScale - 1, 0), N);
  std::vector<float> low(N + 1), high(N / 2 + 1), out(N + 1);
  std::copy(trans, trans + n_smooth, low.begin());
  for (int s = NbrScale - 2; s >= 0; s--) {
    int n = size_resol(s, N);
    std::fill(high.begin(), high.end(), 0.f);
    std::copy(trans + (n + 1) / 2, trans + n, high.begin());
    SB.recons(n, low.data(), high.data(), out.data());
    std::copy(out.begin(), out.begin() + n, low.begin());
  }
  std::copy(low.begin(), low.begin() + N, Signal.buffer());
}
