// The pyramidal 1D transform: smoothing, decimation and interpolation of one
// scale, the difference stored as the detail band. The inverse recomputes
// the same interpolation, so it is exact for every smoothing.
#include "filters/pyr1d_wt.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "array/border_index.h"
#include "array/fatal.h"
#include "array/median.h"
#include "filters/line_smoothing.h"

namespace {

const char* const kNotAllocated = "Error: the class has not been properly allocated ... \n";

// Gives a signal n samples, re-shaping it only when its length differs.
void set_length(to_array<float, true>& a, int n) {
  if (a.nx() != n || a.naxis() != 1) a.reform(n);
}

// Linear smoothing 1/4, 1/2, 1/4 of n samples.
void smooth_linear(const float* in, float* out, int n, type_border border) {
  auto at = [&](int k) {
    int idx = border_index(k, n, border);
    return idx < 0 ? 0.f : in[idx];
  };
  for (int i = 0; i < n; i++) out[i] = float(0.25 * (at(i - 1) + at(i + 1)) + 0.5 * in[i]);
}

// Median smoothing of n samples over 2 (window/2) + 1 taps.
void median_smooth(const float* in, float* out, int n, int window, type_border border) {
  int half = window / 2;
  // Sized for the window actually read: an even window reads window + 1.
  std::vector<float> values(2 * size_t(half) + 1);
  for (int i = 0; i < n; i++) {
    for (int k = -half; k <= half; k++) {
      int idx = border_index(i + k, n, border);
      values[k + half] = idx < 0 ? 0.f : in[idx];
    }
    out[i] = get_median(values.data(), int(values.size()));
  }
}

}  // namespace

int pyr_tab_pos(to_array<int, true>& TabPos, to_array<int, true>& TabSize, int NbrScale, int N) {
  if (NbrScale < 1) {
    TabPos.free();
    TabSize.free();
    return 0;
  }
  if (TabPos.nx() != NbrScale || TabPos.naxis() != 1) TabPos.reform(NbrScale);
  if (TabSize.nx() != NbrScale || TabSize.naxis() != 1) TabSize.reform(NbrScale);
  TabSize(0) = N;
  for (int s = 1; s < NbrScale; s++) TabSize(s) = (TabSize(s - 1) + 1) / 2;
  TabPos(NbrScale - 1) = 0;
  for (int s = NbrScale - 2; s >= 0; s--) TabPos(s) = TabPos(s + 1) + TabSize(s + 1);
  return TabPos(0) + TabSize(0);
}

PYR1D_WT::PYR1D_WT(int SmoothType, int NbrScale, int N) { alloc(SmoothType, NbrScale, N); }

void PYR1D_WT::alloc(int smooth_type, int nbr_scale, int n) {
  SmoothType = smooth_type;
  NbrScale = nbr_scale;
  N = n;
  ExtraSmooth = 0;
  Np = pyr_tab_pos(NbrScale, N);
  Border = I_MIRROR;
  MedianWindow = 5;
}

int PYR1D_WT::pyr_tab_pos(int nbr_scale, int n) {
  return ::pyr_tab_pos(TabPos, TabSize, nbr_scale, n);
}

void PYR1D_WT::smooth_b3spline(to_array<float, true>& In, to_array<float, true>& Out) {
  if (&In == &Out) {
    smooth_b3spline(In);
    return;
  }
  int n = In.nx();
  set_length(Out, n);
  b3_smooth_1d(In.buffer(), Out.buffer(), n, 1, Border, B3Order::OuterFirst);
}

void PYR1D_WT::smooth_b3spline(to_array<float, true>& Data) {
  smooth_in_place(Data.buffer(), Data.nx());
}

void PYR1D_WT::smooth_in_place(float* data, int n) {
  if (SmoothBuff.n_elem() < n) SmoothBuff.reform(n);
  b3_smooth_1d(data, SmoothBuff.buffer(), n, 1, Border, B3Order::OuterFirst);
  std::copy(SmoothBuff.buffer(), SmoothBuff.buffer() + n, data);
}

void PYR1D_WT::reduc_sample(to_array<float, true>& In, to_array<float, true>& Out) {
  int n = In.nx();
  if (Out.n_elem() < (n + 1) / 2)
    fatal_exitf(-1, stdout, "Error: decimated signal of %d samples for %d ... \n", Out.n_elem(), n);
  decimate(In.buffer(), Out.buffer(), n);
}

void PYR1D_WT::decimate(const float* in, float* out, int n) const {
  for (int i = 0; i < n; i += 2) out[i / 2] = in[i];
}

void PYR1D_WT::extand_sample(to_array<float, true>& In, to_array<float, true>& Out) {
  int n = Out.nx();
  if (In.n_elem() < (n + 1) / 2)
    fatal_exitf(-1, stdout, "Error: signal of %d samples interpolated to %d ... \n", In.n_elem(),
                n);
  interpolate(In.buffer(), Out.buffer(), n);
}

void PYR1D_WT::interpolate(const float* in, float* out, int n) const {
  for (int i = 0; i < n; i += 2) out[i] = in[i / 2];
  for (int i = 1; i < n; i += 2) {
    float right;
    if (i + 1 < n) {
      right = out[i + 1];
    } else {
      // The right neighbour of the last sample comes from the border rule;
      // a rule that points back at this (not yet computed) sample, as the
      // clamp does, reads the nearest computed one instead.
      int k = border_index(i + 1, n, Border);
      right = k < 0 ? 0.f : (k == i ? out[i - 1] : out[k]);
    }
    out[i] = float(0.5 * (out[i - 1] + right));
  }
}

void PYR1D_WT::smooth_scale(int n) {
  switch (SmoothType) {
    case 0:
      b3_smooth_1d(ScaleSignal.buffer(), Smooth.buffer(), n, 1, Border, B3Order::OuterFirst);
      break;
    case 1: smooth_linear(ScaleSignal.buffer(), Smooth.buffer(), n, Border); break;
    case 2: median_smooth(ScaleSignal.buffer(), Smooth.buffer(), n, MedianWindow, Border); break;
    default:
      std::fprintf(stderr, "Error: proc. wave_transform.\n");
      std::fprintf(stderr, "This transform is not computed this procedure\n");
  }
}

// The work signals keep N samples for every scale, so that no call
// allocates once the object has run; each scale uses their first samples.
void PYR1D_WT::transform(to_array<float, true>& Signal, to_array<float, true>& Trans) {
  if (Signal.nx() != N || Signal.naxis() != 1 || NbrScale < 2) fatal_exit(kNotAllocated, -1);
  set_length(Smooth, N);
  set_length(Decim, N);
  set_length(SmoothBuff, N);
  set_length(ScaleSignal, N);
  Np = pyr_tab_pos(NbrScale, N);
  set_length(Trans, Np);
  float* x = ScaleSignal.buffer();
  float* approx = Smooth.buffer();
  float* decim = Decim.buffer();
  float* trans = Trans.buffer();
  std::copy(Signal.buffer(), Signal.buffer() + N, x);
  int ni = N;
  for (int s = 0; s < NbrScale - 1; s++) {
    int pos = TabPos(s), size = TabSize(s);
    if (size != ni) fatal_exit("Errror: Ni and Ns are not equal ... \n", -1);
    smooth_scale(size);
    decimate(approx, decim, size);
    interpolate(decim, approx, size);
    if (ExtraSmooth == 1) smooth_in_place(approx, size);
    for (int i = 0; i < size; i++) trans[pos + i] = x[i] - approx[i];
    ni = (ni + 1) / 2;
    if (s != NbrScale - 2) std::copy(decim, decim + ni, x);
  }
  int pos = TabPos(NbrScale - 1), size = TabSize(NbrScale - 1);
  if (size != ni) fatal_exit("Errror: Ni and Ns are not equal .... \n", -1);
  std::copy(decim, decim + size, trans + pos);
}

void PYR1D_WT::recons(to_array<float, true>& Trans, to_array<float, true>& Signal) {
  if (pyr_np() != Trans.n_elem() || NbrScale < 2) fatal_exit(kNotAllocated, -1);
  set_length(Smooth, N);
  set_length(ScaleSignal, N);
  set_length(SmoothBuff, N);
  const float* trans = Trans.buffer();
  float* coarse = Smooth.buffer();
  float* x = ScaleSignal.buffer();
  int last = NbrScale - 1;
  std::copy(trans + TabPos(last), trans + TabPos(last) + TabSize(last), coarse);
  for (int s = NbrScale - 2; s >= 0; s--) {
    int pos = TabPos(s), size = TabSize(s);
    interpolate(coarse, x, size);
    if (ExtraSmooth == 1) smooth_in_place(x, size);
    for (int i = 0; i < size; i++) x[i] += trans[pos + i];
    if (s != 0) std::copy(x, x + size, coarse);
  }
  set_length(Signal, N);
  std::copy(x, x + N, Signal.buffer());
}

void filt1d_mediane(const to_array<float, true>& In, to_array<float, true>& Out, int N, int Window,
                    type_border Border) {
  if (N <= 0) return;
  if (In.n_elem() < N)
    fatal_exitf(-1, stdout, "Error: median of %d samples over a signal of %d ... \n", N,
                In.n_elem());
  // Every output reads its neighbours' inputs: smooth a copy when in place.
  if (&In == &Out) {
    const to_array<float, true> copy(In);
    filt1d_mediane(copy, Out, N, Window, Border);
    return;
  }
  if (Out.n_elem() < N) Out.reform(N);
  median_smooth(In.buffer(), Out.buffer(), N, Window, Border);
}

void tri_1d(float* Tab, int N) {
  for (int k = 1; k < N; k++)
    for (int i = 0; i < N - k; i++)
      if (Tab[i] > Tab[i + 1]) std::swap(Tab[i], Tab[i + 1]);
}
