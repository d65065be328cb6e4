// Short-time Fourier and DCT analysis, overlap-add and direct synthesis,
// and the quadratic time-frequency distributions.
#include "numerics/st_fftn.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "array/fatal.h"

using Signal1D = to_array<float, true>;
using cfloat = std::complex<float>;
using cdouble = std::complex<double>;

namespace {

const double kPi = 3.141592653589793;
const double kTwoPi = 6.283185307179586;
// Overlap weights at or below this are taken as no coverage.
const float kMinWeight = 5.96047e-08f;

// Fills the window from shape(x) where |x| < p, 0 elsewhere; x is the
// offset from the centre L/2 (a real half) in units of L, in float.
template <class Shape>
void fill_window(Signal1D& win, float p, Shape shape) {
  const int L = win.nx();
  const float half = L / 2.f;
  for (int i = 0; i < L; i++) {
    float x = (static_cast<float>(i) - half) / static_cast<float>(L);
    win(i) = std::fabs(x) < p ? static_cast<float>(shape(x)) : 0.f;
  }
}

}  // namespace

void STD_Window::rect(Signal1D& Win, float Param) {
  fill_window(Win, Param, [](float) { return 1.; });
}

void STD_Window::hamming(Signal1D& Win, float Param) {
  const float a = static_cast<float>(kPi / Param);
  fill_window(Win, Param, [a](float x) { return 0.54 + 0.46 * std::cos(a * x); });
}

void STD_Window::hanning(Signal1D& Win, float Param) {
  const float a = static_cast<float>(kPi / Param);
  fill_window(Win, Param, [a](float x) { return 0.5 + 0.5 * std::cos(a * x); });
}

void STD_Window::gaussian(Signal1D& Win, float Param) {
  const float b = static_cast<float>(-4.5 / (static_cast<double>(Param) * Param));
  fill_window(Win, Param, [b](float x) { return std::exp(b * x * x); });
}

void STD_Window::blackman(Signal1D& Win, float Param) {
  const float a = static_cast<float>(kPi / Param);
  const float a2 = static_cast<float>(kTwoPi / Param);
  fill_window(Win, Param, [a, a2](float x) {
    return 0.42 + 0.5 * std::cos(a * x) + 0.08 * std::cos(a2 * x);
  });
}

void STD_Window::make_win(Signal1D& Win, type_std_win Type, float Param) {
  switch (Type) {
    case W_HAMMING: hamming(Win, Param); break;
    case W_HANNING: hanning(Win, Param); break;
    case W_GAUSS: gaussian(Win, Param); break;
    case W_BLACKMAN: blackman(Win, Param); break;
    case W_RECT: rect(Win, Param); break;
  }
}

void ST_FFTN::alloc(int N, type_std_win Type, float Param, int WindowSize, int StepSize) {
  // A zero window or step would leave no frame to compute or divide by zero.
  if (WindowSize < 1 || StepSize < 1)
    fatal_exitf(-1, stdout, "Error: bad window size (%d) or step (%d) ...\n", WindowSize,
                StepSize);
  TypeWin = Type;
  WinSize = WindowSize;
  WinParam = Param;
  Step = StepSize;
  Window.alloc(WindowSize, "STF window");
  STD_Window().make_win(Window, Type, Param);
  Nlt = WindowSize;
  Nct = (N + StepSize - 1) / StepSize;
}

void ST_FFTN::default_alloc(int N, int WindowSize) {
  if (WinSize == 0) alloc(N, W_GAUSS, 0.5f, std::max(WindowSize, 1), 1);
}

void ST_FFTN::warn_if_step_too_large() const {
  if (WinSize / 2 < Step) {
    std::printf("Warning: the reconstruction is impossible when the step is larger \n");
    std::printf("         than the half window size. \n");
  }
}

int ST_FFTN::frame_start(int f, int N) const {
  return std::min(f * Step, N - 1) - WinSize / 2;
}

void ST_FFTN::transform(Signal1D& Signal, cfloat* Trans) {
  const int N = Signal.nx();
  default_alloc(N, N / 2);
  warn_if_step_too_large();
  const int W = WinSize;
  std::vector<cfloat> frame(W);
  for (int f = 0; f < Nct; f++) {
    const int first = frame_start(f, N);
    for (int k = 0; k < W; k++) {
      const int i = first + k;
      frame[k] = cfloat(i >= 0 && i < N ? Signal(i) * Window(k) : 0.f, 0.f);
    }
    fftn1d(frame.data(), W);
    for (int k = 0; k < W; k++) Trans[static_cast<size_t>(k) * Nct + f] = frame[k];
  }
}

void ST_FFTN::dct_transform(Signal1D& Signal, Signal1D& Trans) {
  const int N = Signal.nx();
  default_alloc(N, N / 2);
  if (Trans.nx() != Nct || Trans.ny() != Nlt) {
    Trans.alloc(Nct, Nlt);
    std::printf("Transform size: Nx = %d Ny = %d\n", Nct, Nlt);
  }
  warn_if_step_too_large();
  const int W = WinSize;
  to_array<double, true> frame(W);
  for (int f = 0; f < Nct; f++) {
    const int first = frame_start(f, N);
    for (int k = 0; k < W; k++) {
      const int i = first + k;
      frame(k) = i >= 0 && i < N ? static_cast<double>(Signal(i)) * Window(k) : 0.;
    }
    dct1d(frame, False);
    for (int k = 0; k < W; k++) Trans(f, k) = static_cast<float>(frame(k));
  }
}

namespace {

// Weighted overlap-add of inverted frames: frame(f, values) fills the W real
// values of frame f.
template <class InvertFrame>
void overlap_add(Signal1D& Signal, const Signal1D& Window, int Nct, int Step,
                 InvertFrame invert_frame) {
  const int N = Signal.nx(), W = Window.nx();
  Signal.init();
  std::vector<float> weight(N, 0.f), values(W);
  for (int f = 0; f < Nct; f++) {
    invert_frame(f, values.data());
    const int first = std::min(f * Step, N - 1) - W / 2;
    for (int k = 0; k < W; k++) {
      const int i = first + k;
      if (i < 0 || i >= N) continue;
      Signal(i) += values[k] * Window(k);
      weight[i] += Window(k) * Window(k);
    }
  }
  for (int i = 0; i < N; i++)
    if (weight[i] > kMinWeight) Signal(i) /= weight[i];
}

}  // namespace

void ST_FFTN::recons_win(cfloat* Trans, Signal1D& Signal) {
  default_alloc(Signal.nx(), Signal.nx() / 2);
  const int W = WinSize;
  std::vector<cfloat> frame(W);
  overlap_add(Signal, Window, Nct, Step, [&](int f, float* values) {
    for (int k = 0; k < W; k++) frame[k] = Trans[static_cast<size_t>(k) * Nct + f];
    fftn1d(frame.data(), W, True);
    for (int k = 0; k < W; k++) values[k] = frame[k].real();
  });
}

void ST_FFTN::dct_recons(Signal1D& Trans, Signal1D& Signal) {
  default_alloc(Signal.nx(), Signal.nx() / 2);
  const int W = WinSize;
  to_array<double, true> frame(W);
  overlap_add(Signal, Window, Nct, Step, [&](int f, float* values) {
    for (int k = 0; k < W; k++) frame(k) = Trans(f, k);
    dct1d(frame, True);
    for (int k = 0; k < W; k++) values[k] = static_cast<float>(frame(k));
  });
}

void ST_FFTN::recons_direct(cfloat* Trans, Signal1D& Signal) {
  if (Step != 1) fatal_exit("Errror: direct reconstruction requires a step equal to 1 ... \n");
  const int N = Signal.nx(), W = WinSize;
  // With a step of 1, frame t is centred on sample t: the sample sits at the
  // frame's centre, weighted there by the window.
  const int centre = W / 2;
  const float weight = Window(centre);
  std::vector<cfloat> frame(W);
  Signal.init();
  for (int t = 0; t < std::min(N, Nct); t++) {
    for (int k = 0; k < W; k++) frame[k] = Trans[static_cast<size_t>(k) * Nct + t];
    fftn1d(frame.data(), W, True);
    Signal(t) = weight != 0.f ? frame[centre].real() / weight : frame[centre].real();
  }
}

void ST_FFTN::recons(cfloat* Trans, Signal1D& Signal, Bool UseWindow) {
  if (UseWindow) {
    default_alloc(Signal.nx(), Signal.nx());
    recons_win(Trans, Signal);
  } else {
    recons_direct(Trans, Signal);
  }
}

void ST_FFTN::spectogram(Signal1D& Signal, Signal1D& Spec) {
  to_array<cfloat, false> stf(Nlt, Nct, "STF");
  transform(Signal, stf.buffer());
  const int half = Nlt / 2;
  if (Spec.nx() != Nct || Spec.ny() != half) Spec.alloc(Nct, half);
  for (int k = 0; k < half; k++)
    for (int f = 0; f < Nct; f++) Spec(f, k) = std::norm(stf(static_cast<int>(k * Nct + f)));
}

namespace {

void size_distribution(Signal1D& Out, int nx, int ny) {
  if (Out.nx() != nx || Out.ny() != ny || Out.naxis() != 2) Out.alloc(nx, ny);
}

}  // namespace

void ST_FFTN::wigner_wille(Signal1D& Signal, Signal1D& Out) {
  const int N = Signal.nx(), W = WinSize, S = std::max(Step, 1);
  size_distribution(Out, N / S, W / 2);
  std::vector<cdouble> frame(W);
  for (int t = 0; t < N / S; t++) {
    const int c = t * S;
    const int L = std::min({c, N - c - 1, W / 2 - 1});
    std::fill(frame.begin(), frame.end(), cdouble(0.));
    for (int tau = -L; tau <= L; tau++)
      frame[tau >= 0 ? tau : W + tau] =
          static_cast<double>(Signal(c + tau)) * static_cast<double>(Signal(c - tau));
    fftn1d(frame.data(), W);
    for (int i = 0; i < W / 2; i++) Out(t, i) = static_cast<float>(frame[i].real());
  }
}

void ST_FFTN::choi_williams(Signal1D& Signal, Signal1D& Out, type_std_win LagWinType,
                            int LagWinSize, double Sigma, float LagWinParam) {
  const int N = Signal.nx(), W = WinSize, S = std::max(Step, 1);
  size_distribution(Out, N / S, W / 2);

  int Lg = LagWinSize < 2 ? W / 4 : LagWinSize;
  if (Lg % 2 == 0) Lg++;
  const int Lg2 = (Lg - 1) / 2;
  Signal1D lag_win(Lg, "lag window");
  STD_Window().make_win(lag_win, LagWinType, LagWinParam);
  const float lag_centre = lag_win(Lg2);
  for (int k = 0; k < Lg; k++) lag_win(k) /= lag_centre;

  const int Lh = (W - 1) / 2;
  const int tau_max = std::min(W / 2, Lg2);
  const int width = 2 * Lh + 1;
  // kernel[(tau - 1) * width + Lh + mu] = exp(-sigma mu^2 / (16 tau^2)) H[Lh + mu]
  std::vector<double> kernel(static_cast<size_t>(std::max(tau_max, 0)) * width);
  for (int tau = 1; tau <= tau_max; tau++)
    for (int mu = -Lh; mu <= Lh; mu++)
      kernel[(tau - 1) * width + Lh + mu] =
          std::exp(-Sigma * mu * mu / (16. * tau * tau)) * Window(Lh + mu);

  std::vector<cdouble> frame(W);
  // The output holds N / S rows: a last partial step has no row of its own.
  for (int t = 0; t < (N / S) * S; t += S) {
    std::fill(frame.begin(), frame.end(), cdouble(0.));
    frame[0] = static_cast<double>(Signal(t)) * Signal(t);
    // Kernel-weighted products at lag tau: false when the kernel sums to
    // zero over the available range, and that lag then stays 0.
    auto lag_sums = [&](int tau, double& r1, double& r2, double& norm) {
      const int a = std::min(N - t - tau - 1, Lh), b = std::min(t - tau, Lh);
      const double* K = &kernel[(tau - 1) * width + Lh];
      r1 = r2 = norm = 0.;
      for (int mu = -a; mu <= b; mu++) {
        const double product = static_cast<double>(Signal(t + tau - mu)) * Signal(t - tau - mu);
        norm += K[mu];
        r1 += product * K[mu];
        r2 += product * K[-mu];
      }
      return norm != 0.;
    };
    const int last_tau = std::min({t + Lh, N - t - 1 + Lh, tau_max});
    double r1, r2, norm;
    for (int tau = 1; tau <= last_tau; tau++) {
      if (!lag_sums(tau, r1, r2, norm)) continue;
      frame[tau] = r1 * lag_win(Lg2 + tau) / norm;
      frame[W - tau] = r2 * lag_win(Lg2 - tau) / norm;
    }
    const int tau = W / 2;
    if (tau >= 1 && tau <= t && t <= N - tau - 1 && tau <= Lg2 && lag_sums(tau, r1, r2, norm))
      frame[tau] = 0.5 * (r1 * lag_win(Lg2 + tau) + r2 * lag_win(Lg2 - tau)) / norm;
    fftn1d(frame.data(), W);
    for (int i = 0; i < W / 2; i++) Out(t / S, i) = static_cast<float>(frame[i].real());
  }
}
