// The direct route of the slant stack: every image line (or column) is
// shifted by a Fourier phase ramp proportional to its distance from the
// centre and the shifted lines are summed, one direction at a time. Slow
// (O(N^3 log N)) but free of any grid but the image's own; its inverse
// normalises each offset by the length of its line inside the image.
#include <cmath>
#include <complex>
#include <cstdio>

#include "array/array_ops.h"
#include "array/fatal.h"
#include "array/im_util.h"
#include "array/scalar_helpers.h"
#include "radon/digital_line.h"
#include "radon/slant_stack_radon.h"

namespace {

using Image = to_array<float, false>;
using cfloat = std::complex<float>;

// exp(-i theta) for frequency bin x of the shift of image line y in
// direction f (a - c forward, c - a inverse).
struct PhaseRamp {
  int N;
  double omega;
  float delta = 0.f;
  void set_line(int f, int y) {
    const float position = N > 1 ? static_cast<float>(y) / static_cast<float>(N - 1) : 0.f;
    delta = static_cast<float>(f * (position - 0.5f));
  }
  cfloat factor(int x) const {
    const double phi = REM(delta, static_cast<float>(2 * N));
    const double theta = omega * (x - N + 0.5) * phi;
    return cfloat(static_cast<float>(std::cos(theta)), static_cast<float>(-std::sin(theta)));
  }
};

}  // namespace

void slant_stack_radon::direct_transform(Image& Ima, Image& Radon) {
  const int N = ImaSize, M = RadonSize, q = M / 4, c = (N + 1) / 2;
  check_image(Ima, "transform");
  Image b1(M, N, "buff"), b2(N, M, "buff");
  if (Radon.naxis() != 2 || Radon.nl() != M || Radon.nc() != M) Radon.resize(M, M);
  Radon.init();
  SpecCol.init();
  SpecLine.init();
  for (int y = 0; y < N; y++) {
    for (int x = 0; x < N; x++) {
      SpecCol(q + x, y) = cfloat(Ima(x, y), 0.f);
      SpecLine(q + x, y) = cfloat(Ima(y, x), 0.f);
    }
    FFT1D.fftn1d(&SpecCol(0, y), M, False);
    FFT1D.fftn1d(&SpecLine(0, y), M, False);
  }
  PhaseRamp ramp{N, 6.283185307179586 / N};
  for (int a = 0; a < N; a++) {
    for (int y = 0; y < N; y++) {
      ramp.set_line(a - c, y);
      for (int x = 0; x < M; x++) {
        const cfloat f = ramp.factor(x);
        ShiftCol(x) = SpecCol(x, y) * f;
        ShiftLine(x) = SpecLine(x, y) * f;
      }
      FFT1D.fftn1d(ShiftCol.buffer(), M, True);
      FFT1D.fftn1d(ShiftLine.buffer(), M, True);
      for (int x = 0; x < M; x++) {
        b1(x, y) = ShiftCol(x).real();
        b2(y, x) = ShiftLine(x).real();
      }
    }
    for (int x = 0; x < M; x++)
      for (int y = 0; y < N; y++) {
        Radon(M - 1 - a, M - 1 - x) += b1(x, y);
        Radon(a, x) += b2(y, x);
      }
  }
}

void slant_stack_radon::direct_inverse(Image& Radon, Image& Ima) {
  const int N = ImaSize, M = RadonSize, q = M / 4, c = (N + 1) / 2;
  Image b1(M, N, "buff"), b2(N, M, "buff");
  SpecLine.init();
  SpecCol.init();
  if (Radon.naxis() != 2 || Radon.nl() != M || Radon.nc() != M)
    fatal_exitf(-1, stdout,
                "       not initialized for this radon image size.  \n"
                "       Radon Data size = %d %d\n       Class initialization = %d %d\n",
                Radon.nl(), Radon.nc(), M, M);
  if (Ima.naxis() != 2 || Ima.nl() != N || Ima.nc() != N) Ima.resize(N, N);
  // A grown buffer is not zeroed, and the image is accumulated below.
  Ima.init();
  PhaseRamp ramp{N, 6.283185307179586 / N};
  for (int a = 0; a < N; a++) {
    const int f = c - a, ua = std::abs(f), e1 = N + c - ua, e2 = c + ua;
    for (int x = 0; x < M; x++) {
      const float col_value = Radon(M - 1 - a, M - 1 - x), line_value = Radon(a, x);
      if (x < c - ua || x > N + c + ua) {
        for (int y = 0; y < N; y++) b1(x, y) = b2(y, x) = 0.f;
      } else if (ua == 0 || (e2 < x && x < e1)) {
        for (int y = 0; y < N; y++) {
          b1(x, y) = col_value / N;
          b2(y, x) = line_value / N;
        }
      } else {
        // Offsets near the ends of a steep direction cross only part of the
        // image: normalise by the length of the line inside it.
        const int u = x > N ? x - e1 : e2 - x;
        const float quotient = static_cast<float>(u * N) / static_cast<float>(ua);
        const int len = N - iround(quotient / 2.f);
        for (int y = 0; y < N; y++) {
          const bool inside = len > 0 && ((a < c && y < len && x < N) ||
                                          (a < c && y > N - len && x >= N) ||
                                          (a > c && y < len && x >= N) ||
                                          (a > c && y > N - len && x < N));
          b1(x, y) = inside ? col_value / len : 0.f;
          b2(y, x) = inside ? line_value / len : 0.f;
        }
      }
    }
    for (int y = 0; y < N; y++) {
      for (int x = 0; x < M; x++) {
        ShiftCol(x) = cfloat(b1(x, y), 0.f);
        ShiftLine(x) = cfloat(b2(y, x), 0.f);
      }
      FFT1D.fftn1d(ShiftLine.buffer(), M, False);
      FFT1D.fftn1d(ShiftCol.buffer(), M, False);
      ramp.set_line(f, y);
      for (int x = 0; x < M; x++) {
        const cfloat phase = ramp.factor(x) / static_cast<float>(N);
        SpecCol(x, y) += ShiftCol(x) * phase;
        SpecLine(x, y) += ShiftLine(x) * phase;
      }
    }
  }
  for (int y = 0; y < N; y++) {
    FFT1D.fftn1d(&SpecCol(0, y), M, True);
    FFT1D.fftn1d(&SpecLine(0, y), M, True);
    for (int x = 0; x < N; x++) {
      Ima(x, y) += 0.5f * SpecCol(q + x, y).real();
      Ima(y, x) += 0.5f * SpecLine(q + x, y).real();
    }
  }
}

void slant_stack_radon::direct_iter_inverse(Image& Radon, Image& Ima, int NbrIter) {
  const int M = RadonSize;
  Image resi(M, M, "rec"), buff;
  direct_inverse(Radon, Ima);
  Image rec(Ima.nl(), Ima.nc(), "rec data");
  if (OptimalStep == 1) buff.alloc(M, M, "rec");
  if (Positivity == 1) threshold(Ima, 0.f);
  for (int i = 0; i < NbrIter; i++) {
    direct_transform(Ima, resi);
    for (int k = 0; k < resi.n_elem(); k++) resi(k) = Radon(k) - resi(k);
    direct_inverse(resi, rec);
    if (OptimalStep == 1) {
      direct_transform(rec, buff);
      float num = 0.f, den = 0.f;
      for (int k = 0; k < buff.n_elem(); k++) {
        num += resi(k) * buff(k);
        den += buff(k) * buff(k);
      }
      float alpha = den > 5.960464477539063e-08f ? num / den : 1.f;
      if (alpha > 10.f) alpha = 10.f;
      else if (alpha < 1.f) alpha = 1.f;
      if (Verbose == 1)
        std::printf("Iter = %d ErrRadon = %g Alpha = %g\n", i + 1, resi.sigma(), alpha);
      for (int k = 0; k < Ima.n_elem(); k++) Ima(k) += alpha * rec(k);
    } else {
      if (Verbose == 1) std::printf("Iter = %d Err = %g\n", i + 1, resi.sigma());
      Ima += rec;
    }
    if (Positivity == 1) threshold(Ima, 0.f);
  }
}

void slant_stack_radon::inverse_fft(Image& Radon, Image& Ima) {
  const int N = ImaSize, M = RadonSize, c = (N + 1) / 2, h = M / 2;
  check_radon(Radon, "inverse_fft");
  to_array<cfloat, false> spectrum(M, M, "buff"), spec_col(M, N, "buff"), spec_line(N, M, "buff");
  Image count_col(M, N, "buff"), count_line(N, M, "buff");
  to_array<int, true> x1(4 * N), y1(4 * N), x2(4 * N), y2(4 * N);
  to_array<cfloat, true> line(M);
  // The spectrum starts empty: the points no digital line reaches carry no
  // energy, rather than a stale spectrum of whatever Ima held on entry.
  int count = 0;
  for (int b = 0; b < N; b++) {
    symgetline(b - c, h, h, c, x1, y1, count);
    for (int d = 0; d < M; d++) line(d) = cfloat(Radon(N + b, M - 1 - d), 0.f);
    FFT1D.fftn1d(line.buffer(), M, False);
    for (int d = 0; d < M; d++)
      if (y1(d) >= 0 && x1(d) > 0 && y1(d) < M && x1(d) < N) {
        spec_col(y1(d), x1(d)) += line(d);
        count_col(y1(d), x1(d)) += 1.f;
      }
  }
  for (int b = 0; b < N; b++) {
    symgetline(h, b - c, c, h, x2, y2, count);
    for (int d = 0; d < M; d++) line(d) = cfloat(Radon(N - 1 - b, d), 0.f);
    FFT1D.fftn1d(line.buffer(), M, False);
    for (int d = 0; d < M; d++)
      if (y2(d) >= 0 && x2(d) >= 0 && y2(d) < N && x2(d) < M) {
        spec_line(y2(d), x2(d)) += line(d);
        count_line(y2(d), x2(d)) += 1.f;
      }
  }
  for (int k = 0; k < spec_col.n_elem(); k++)
    if (count_col(k) != 0.f) spec_col(k) /= count_col(k);
  for (int k = 0; k < spec_line.n_elem(); k++)
    if (count_line(k) != 0.f) spec_line(k) /= count_line(k);
  for (int d = 0; d < M; d++)
    for (int e = 0; e < M; e++) {
      if (std::abs(d - N) < std::abs(e - N)) {
        if (spec_line(d / 2, e).real() != 0.f) spectrum(d, e) = spec_line(d / 2, e);
      } else if (spec_col(d, e / 2).real() != 0.f) {
        spectrum(d, e) = spec_col(d, e / 2);
      }
    }
  FFT2D.fftn2d(spectrum, True);
  if (Ima.naxis() != 2 || Ima.nl() != N || Ima.nc() != N) Ima.resize(N, N);
  for (int d = 0; d < N; d++)
    for (int e = 0; e < N; e++) Ima(d, e) = spectrum(d + c, e + c).real();
}
