// Slant stack on the pseudo-polar grid: every ray of the pseudo-polar FFT is
// a 1D spectrum of one projection (projection-slice), so the slant stack is
// an inverse 1D FFT per ray, its adjoint a forward FFT per line followed by
// the adjoint pseudo-polar FFT, and the inverse a conjugate-gradient solve
// with the |k| density weight of the polar grid.
#include "radon/slant_stack_radon.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "radon/pseudo_polar_fft.h"

std::atomic<int> NUM_OF_ITER{5};

namespace {

using Buffer = std::unique_ptr<float[]>;

Buffer plane(std::size_t n) {
  float* p = new (std::nothrow) float[n]();
  if (p == nullptr) fatal_exitf(1, stdout, "Error: slant stack: could not allocate memory ... \n");
  return Buffer(p);
}

// dst[t][k] = src[k][t] on m x m planes.
void transpose(float* dst_re, float* dst_im, const float* src_re, const float* src_im, int m) {
  for (int k = 0; k < m; k++)
    for (int t = 0; t < m; t++) {
      dst_re[static_cast<std::size_t>(t) * m + k] = src_re[static_cast<std::size_t>(k) * m + t];
      dst_im[static_cast<std::size_t>(t) * m + k] = src_im[static_cast<std::size_t>(k) * m + t];
    }
}

float squared_norm(const float* re, const float* im, std::size_t n) {
  float sum = 0.f;
  for (std::size_t k = 0; k < n; k++) sum += re[k] * re[k] + im[k] * im[k];
  return sum;
}

}  // namespace

void SS(float* out_re, float* out_im, const float* in_re, const float* in_im, int N) {
  const int m = 2 * N;
  const std::size_t size = static_cast<std::size_t>(m) * m;
  PPFFT(out_re, out_im, in_re, in_im, N, 0);
  Buffer w_re = plane(size), w_im = plane(size);
  transpose(w_re.get(), w_im.get(), out_re, out_im, m);
  IFFTmid0(out_re, out_im, w_re.get(), w_im.get(), m, m, 0);
}

void Adj_SS(float* out_re, float* out_im, float* in_re, float* in_im, int N) {
  const int m = 2 * N;
  const std::size_t size = static_cast<std::size_t>(m) * m;
  FFTmid0NP(in_re, in_im, m, m);
  Buffer w_re = plane(size), w_im = plane(size);
  transpose(w_re.get(), w_im.get(), in_re, in_im, m);
  Adj_PPFFT(out_re, out_im, w_re.get(), w_im.get(), m, 0);
}

namespace {

void inverse_slant_stack(float* out_re, float* out_im, const float* in_re, const float* in_im,
                         int N, int verbose, int iterations) {
  const int m = 2 * N;
  const std::size_t big = static_cast<std::size_t>(m) * m, small = static_cast<std::size_t>(N) * N;
  Buffer a_re = plane(big), a_im = plane(big), t_re = plane(big), t_im = plane(big);
  Buffer r_re = plane(small), r_im = plane(small), p_re = plane(small), p_im = plane(small);
  Buffer q_re = plane(small), q_im = plane(small);

  // Right-hand side: the row spectra of the Radon image, weighted by the
  // density of the pseudo-polar grid, back through the adjoint.
  copy_sub(a_re.get(), a_im.get(), in_re, in_im, static_cast<int>(big));
  FFTmid0NP(a_re.get(), a_im.get(), m, m);
  for (int t = 0; t < m; t++)
    for (int k = 0; k < m; k++) {
      const float w = k == N ? 0.5f : static_cast<float>(std::abs(k - N));
      a_re[static_cast<std::size_t>(t) * m + k] *= w;
      a_im[static_cast<std::size_t>(t) * m + k] *= w;
    }
  for (std::size_t e : {std::size_t(0), static_cast<std::size_t>(N) * m}) {
    a_re[e] *= 0.5f;
    a_im[e] *= 0.5f;
  }
  transpose(t_re.get(), t_im.get(), a_re.get(), a_im.get(), m);
  Adj_PPFFT(r_re.get(), r_im.get(), t_re.get(), t_im.get(), m, 0);
  copy_sub(p_re.get(), p_im.get(), r_re.get(), r_im.get(), static_cast<int>(small));
  for (std::size_t k = 0; k < small; k++) out_re[k] = out_im[k] = 0.f;

  for (int it = 1; it <= iterations; it++) {
    PPFFT(a_re.get(), a_im.get(), p_re.get(), p_im.get(), N, 0);
    for (int k = 0; k < m; k++) {
      const float w = k == N ? 0.5f : static_cast<float>(std::abs(k - N));
      for (int t = 0; t < m; t++) {
        a_re[static_cast<std::size_t>(k) * m + t] *= w;
        a_im[static_cast<std::size_t>(k) * m + t] *= w;
      }
    }
    for (std::size_t e : {std::size_t(0), static_cast<std::size_t>(N)}) {
      a_re[e] *= 0.5f;
      a_im[e] *= 0.5f;
    }
    Adj_PPFFT(q_re.get(), q_im.get(), a_re.get(), a_im.get(), m, 0);
    const float rho = squared_norm(r_re.get(), r_im.get(), small);
    float gamma = 0.f;
    for (std::size_t k = 0; k < small; k++) gamma += p_re[k] * q_re[k] + p_im[k] * q_im[k];
    // A zero residual (converged) or a zero curvature (zero Radon image)
    // leaves nothing to step along: stop rather than divide by zero.
    if (rho == 0.f || gamma == 0.f) break;
    const float alpha = rho / gamma;
    if (verbose) std::printf("It=%d,error=%g\n", it, rho);
    for (std::size_t k = 0; k < small; k++) {
      out_re[k] += alpha * p_re[k];
      out_im[k] += alpha * p_im[k];
      if (out_re[k] < 0.f) out_re[k] = 0.f;
      out_im[k] = 0.f;
      r_re[k] -= alpha * q_re[k];
      r_im[k] -= alpha * q_im[k];
    }
    const float beta = squared_norm(r_re.get(), r_im.get(), small) / rho;
    for (std::size_t k = 0; k < small; k++) {
      p_re[k] = r_re[k] + beta * p_re[k];
      p_im[k] = r_im[k] + beta * p_im[k];
    }
  }
}

}  // namespace

void Inv_SS(float* out_re, float* out_im, const float* in_re, const float* in_im, int N,
            int verbose) {
  inverse_slant_stack(out_re, out_im, in_re, in_im, N, verbose, NUM_OF_ITER.load());
}

void slant_stack_radon::alloc(int N) {
  Positivity = 0;
  ImaSize = N;
  RadonSize = 2 * N;
  FFT1D.CenterZeroFreq = 1;
  SpecCol.alloc(RadonSize, N);
  SpecLine.alloc(RadonSize, N);
  ShiftLine.alloc(RadonSize);
  ShiftCol.alloc(RadonSize);
}

void slant_stack_radon::check_pseudo_polar_size(const char* operation) const {
  // The radix-2 FFTs beneath the pseudo-polar grid know no other length.
  if (ImaSize < 2 || !is_power_of_2(ImaSize))
    fatal_exitf(-1, stdout,
                "Error: slant_stack_radon::%s: the image side (%d) must be a power of two ...\n",
                operation, ImaSize);
}

void slant_stack_radon::check_image(const to_array<float, false>& Image,
                                    const char* operation) const {
  if (Image.naxis() != 2 || Image.nl() != ImaSize || Image.nc() != ImaSize)
    fatal_exitf(-1, stdout,
                "Error: slant_stack_radon::%s: image of %d x %d, the class is initialized for "
                "%d x %d ...\n",
                operation, Image.nl(), Image.nc(), ImaSize, ImaSize);
}

void slant_stack_radon::check_radon(const to_array<float, false>& Radon,
                                    const char* operation) const {
  if (Radon.naxis() != 2 || Radon.nl() != RadonSize || Radon.nc() != RadonSize)
    fatal_exitf(-1, stdout,
                "Error: slant_stack_radon::%s: Radon image of %d x %d, the class is initialized "
                "for %d x %d ...\n",
                operation, Radon.nl(), Radon.nc(), RadonSize, RadonSize);
}

void slant_stack_radon::transform(to_array<float, false>& Image, to_array<float, false>& Radon) {
  if (UsePPFFT != 1) {
    direct_transform(Image, Radon);
    return;
  }
  check_pseudo_polar_size("transform");
  check_image(Image, "transform");
  const int N = ImaSize;
  Radon.init();
  if (Radon.naxis() != 2 || Radon.nl() != RadonSize || Radon.nc() != RadonSize)
    Radon.resize(RadonSize, RadonSize);
  to_array<float, false> zero_im(N, N), image_copy(N, N), radon_im(RadonSize, RadonSize);
  image_copy = Image;
  SS(Radon.buffer(), radon_im.buffer(), image_copy.buffer(), zero_im.buffer(), N);
}

void slant_stack_radon::inverse(to_array<float, false>& Radon, to_array<float, false>& Image) {
  if (UsePPFFT != 1) {
    direct_inverse(Radon, Image);
    return;
  }
  check_pseudo_polar_size("inverse");
  check_image(Image, "inverse");
  check_radon(Radon, "inverse");
  const int N = ImaSize;
  to_array<float, false> image_im(N, N), radon_im(RadonSize, RadonSize), radon_copy;
  radon_copy = Radon;
  Adj_SS(Image.buffer(), image_im.buffer(), radon_copy.buffer(), radon_im.buffer(), N);
  const float norm = static_cast<float>(N * N + N * N);
  for (int k = 0; k < Image.n_elem(); k++) Image(k) /= norm;
}

void slant_stack_radon::iter_inverse(to_array<float, false>& Radon, to_array<float, false>& Image,
                                     int NbrIter) {
  if (UsePPFFT != 1) {
    direct_iter_inverse(Radon, Image, NbrIter);
    return;
  }
  check_pseudo_polar_size("iter_inverse");
  check_image(Image, "iter_inverse");
  check_radon(Radon, "iter_inverse");
  NUM_OF_ITER.store(NbrIter);
  const int N = ImaSize;
  to_array<float, false> image_im(N, N), radon_im(RadonSize, RadonSize), radon_copy;
  radon_copy = Radon;
  inverse_slant_stack(Image.buffer(), image_im.buffer(), radon_copy.buffer(), radon_im.buffer(),
                      N, Verbose == 1 ? 1 : 0, NbrIter);
}
