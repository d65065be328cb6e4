// Wavelet packets: a split of a block puts its (N+1)/2 low values first and
// its N/2 high values after; each later level splits both halves again.
#include "filters/wp1d_mallat.h"

#include <algorithm>
#include <vector>

void wp1d_step_mallat(float* Data, int N, int Level, SubBand1D& SB) {
  if (N <= 0) return;
  int n_low = (N + 1) / 2;
  // Bands with room for either phase of the bank.
  std::vector<float> x(Data, Data + N), low(n_low + 1), high(n_low + 1);
  SB.transform(N, x.data(), low.data(), high.data());
  std::copy(low.begin(), low.begin() + n_low, Data);
  std::copy(high.begin(), high.begin() + N / 2, Data + n_low);
  if (Level > 1) {
    wp1d_step_mallat(Data + n_low, N / 2, Level - 1, SB);
    wp1d_step_mallat(Data, n_low, Level - 1, SB);
  }
}

void wp1d_rec_step_mallat(float* Data, int N, int Level, SubBand1D& SB) {
  if (N <= 0) return;
  int n_low = (N + 1) / 2;
  if (Level > 1) {
    wp1d_rec_step_mallat(Data + n_low, N / 2, Level - 1, SB);
    wp1d_rec_step_mallat(Data, n_low, Level - 1, SB);
  }
  std::vector<float> low(n_low + 1), high(n_low + 1), out(N);
  std::copy(Data, Data + n_low, low.begin());
  std::copy(Data + n_low, Data + N, high.begin());
  SB.recons(N, low.data(), high.data(), out.data());
  std::copy(out.begin(), out.end(), Data);
}

void wp1d_mallat_transform(to_array<float, true>& Signal, to_array<float, true>& Trans,
                           int NbrLevel, SubBand1D& SB) {
  int N = Signal.nx();
  if (Trans.n_elem() != N) Trans.alloc(N);
  if (&Trans != &Signal) std::copy(Signal.buffer(), Signal.buffer() + N, Trans.buffer());
  wp1d_step_mallat(Trans.buffer(), N, NbrLevel, SB);
}

void wp1d_mallat_rec(to_array<float, true>& Trans, to_array<float, true>& Signal, int NbrLevel,
                     SubBand1D& SB) {
  int N = Trans.n_elem();
  if (Signal.n_elem() != N) Signal.alloc(N);
  if (&Trans != &Signal) std::copy(Trans.buffer(), Trans.buffer() + N, Signal.buffer());
  wp1d_rec_step_mallat(Signal.buffer(), N, NbrLevel, SB);
}
