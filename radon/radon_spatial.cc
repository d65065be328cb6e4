// Radon methods 0 and 1 in the image domain: every pixel is spread over the
// two nearest bins of every projection (origin at column 0, negative
// positions wrapped to the end of the line). Method 0 inverts by plain
// back-projection, method 1 by placing the projections' 1D spectra on a
// polar-to-Cartesian grid. The ramp filter beside them is a public tool.
#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

#include "array/scalar_helpers.h"
#include "numerics/fft_radix2.h"
#include "radon/radon.h"

namespace {

using Image = to_array<float, false>;

// Position of the centred pixel (x, y) on a projection, as the float value
// both directions use.
inline float projected(int x, int y, double cos_theta, double sin_theta) {
  return static_cast<float>(x * cos_theta + y * sin_theta);
}

}  // namespace

void Radon::project(Image& Ima, Image& Rad) {
  const int hl = Nl / 2, hc = Nc / 2;
  // One projection per thread: every line of Rad receives its pixels in the
  // same order whatever the thread count.
#pragma omp parallel for schedule(static)
  for (int i = 0; i < Nlr; i++) {
    const double ct = TabCos[i], st = TabSin[i];
    float* line = Rad.buffer() + static_cast<size_t>(i) * Rad.nc();
    for (int y = -hl; y < hl; y++) {
      const float* row = Ima.buffer() + static_cast<size_t>(y + hl) * Ima.nc() + hc;
      for (int x = -hc; x < hc; x++) {
        const float v = row[x];
        const float t = projected(x, y, ct, st);
        int i0, i1;
        if (t >= 0.f) {
          i0 = static_cast<int>(t);
          i1 = i0 + 1;
        } else {
          i1 = static_cast<int>(t);
          i0 = i1 - 1;
        }
        const float w0 = static_cast<float>(i1) - t, w1 = t - static_cast<float>(i0);
        if (i0 < 0) i0 += Ncr;
        if (i1 < 0) i1 += Ncr;
        if (i0 >= 0 && i0 < Ncr) line[i0] += v * w0;
        if (i1 >= 0 && i1 < Ncr) line[i1] += v * w1;
      }
    }
  }
}

void Radon::back_project(Image& Rad, Image& Ima) {
  const int h = Nc / 2;
  const float norm = static_cast<float>(1. / (static_cast<double>(Nl) * Nc));
#pragma omp parallel for schedule(static)
  for (int y = -h; y < h; y++) {
    // A flat allocation (Nc > Nl) has no image line for the lowest rows.
    if (y + h >= Nl) continue;
    for (int x = -h; x < h; x++) {
      float s = 0.f;
      for (int i = 0; i < Nlr; i++) {
        int b = iround(projected(x, y, TabCos[i], TabSin[i]));
        if (b < 0) b += Ncr;
        if (b >= 0 && b < Ncr) s += Rad(i, b);
      }
      Ima(y + h, x + h) = s * norm;
    }
  }
}

void Radon::invfft_project(Image& Rad, Image& Ima, Bool Centred) {
  const int nr = Ncr, np = Nlr;
  to_array<std::complex<float>, false> polar(np, nr, "polar");
  to_array<std::complex<float>, true> line(nr), spectrum(nr);
  for (int i = 0; i < np; i++) {
    for (int k = 0; k < nr; k++)
      line(k) = std::complex<float>(Centred ? Rad(i, (nr / 2 + k) % nr) : Rad(i, k), 0.f);
    fft1d(line, spectrum, 1);
    for (int k = 0; k < nr; k++) polar(i, k) = spectrum(k);
  }
  to_array<std::complex<float>, false> grid(nr, nr, "grid");
  for (int a = 0; a < nr; a++)
    for (int b = 0; b < nr; b++) {
      const int v = a - nr / 2, u = b - nr / 2;
      int q, rho;
      if (u == 0 && v == 0) {
        q = np / 2;
        rho = nr / 2;
      } else {
        rho = static_cast<int>(std::sqrt(static_cast<double>(u * u + v * v)) + 0.5);
        q = static_cast<int>(std::atan2(static_cast<double>(v), static_cast<double>(u)) * np / M_PI + 0.5);
        if (q < 0) {
          q += np;
          rho = -rho;
        }
        rho += nr / 2;
      }
      grid(a, b) = q >= 0 && q < np && rho >= 0 && rho < nr ? polar(q, rho) : std::complex<float>();
    }
  fft2d(grid, -1);
  // The central Nl x Nc part of the grid; a grid smaller than the image
  // leaves the rest at 0.
  for (int l = 0; l < Nl; l++)
    for (int c = 0; c < Nc; c++) {
      const int gl = l - Nl / 2 + nr / 2, gc = c - Nc / 2 + nr / 2;
      Ima(l, c) = gl >= 0 && gl < nr && gc >= 0 && gc < nr ? grid(gl, gc).real() : 0.f;
    }
}

void Radon::filter(Image& Rad) {
  const int nl = Rad.nl(), nc = Rad.nc(), c = nc / 2;
  int w = FilterWidth;
  const float s = FilterStdDev;
  if (Verbose) {
    std::printf("Filtering in Fourier space of each projection of the Radon transform \n");
    std::printf("   Filter width = %d Filter StdDev = %g\n", w, s);
  }
  if (c < w) w = c;
  // A negative width would index before the filter.
  if (w < 0) w = 0;
  std::vector<float> ramp(nc + 1, 0.f);
  ramp[c] = 1.f;
  for (int e = 1; e < w; e++) ramp[c - e] = ramp[c + e] = static_cast<float>(e);
  for (int e = w; e <= c; e++) {
    const float exponent = static_cast<float>(-(e - w) * (e - w)) / (s * s);
    ramp[c - e] = ramp[c + e] = static_cast<float>(w) * static_cast<float>(std::exp(exponent));
  }
  if (Verbose)
    for (int k = 0; k < nc; k++) std::printf("Filter[%d] = %f\n", k, ramp[k]);
  to_array<std::complex<float>, true> line(nc), spectrum(nc);
  for (int l = 0; l < nl; l++) {
    for (int k = 0; k < nc; k++) line(k) = std::complex<float>(Rad(l, k), 0.f);
    fft1d(line, spectrum, 1);
    for (int k = 0; k < nc; k++) spectrum(k) *= ramp[k];
    fft1d(spectrum, line, -1);
    for (int k = 0; k < nc; k++) Rad(l, k) = line(k).real();
  }
}
