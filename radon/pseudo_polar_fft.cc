// Pseudo-polar FFT routines. Data and phases are single precision, sines
// and cosines are taken in double and rounded, the row FFTs are the radix-2
// four1 of the DCT package (double twiddles). Work buffers live for one
// call; the only state kept is a per-thread table of the fractional DFTs'
// constants, so any number of threads may call at once.
#include "radon/pseudo_polar_fft.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "array/fatal.h"
#include "numerics/im_dct.h"

namespace {

using Buffer = std::unique_ptr<float[]>;

// Zero-filled; a refusal ends the process with the routine's message.
Buffer work_buffer(std::size_t n, const char* message) {
  float* p = new (std::nothrow) float[n]();
  if (p == nullptr) fatal_exitf(1, stdout, "%s\n", message);
  return Buffer(p);
}

const char* const PpfftNoMemory = "PPFFT: could not allocate memory for tmp. ";
const char* const IfftNoMemory = "IFFTmid0: could not allocate memory for tmp. ";
const char* const FftNoMemory = "FFFT: could not allocate memory for tmp. ";
const char* const AdjNoMemory = "Adj_PPFFT: could not allocate memory for tmp. ";

// One row through four1 via the interleaved work buffer, which four1
// addresses from index 1.
void row_fft(float* re, float* im, float* work, int nc, int isign) {
  for (int c = 0; c < nc; c++) {
    work[2 * c + 1] = re[c];
    work[2 * c + 2] = im[c];
  }
  four1(work, static_cast<unsigned long>(nc), isign);
  for (int c = 0; c < nc; c++) {
    re[c] = work[2 * c + 1];
    im[c] = work[2 * c + 2];
  }
}

// Weight of row l of either half of the pseudo-polar grid.
float first_family_weight(int mode, float alpha) {
  return mode != 0 ? static_cast<float>(std::sqrt(alpha)) : 1.f;
}
float second_family_weight(int mode, int l, int n, float alpha) {
  if (mode == 0) return 1.f;
  if (l == 0) return static_cast<float>(mode == 1 ? 1. / std::sqrt(2. * n) : 1. / (2. * std::sqrt(double(n))));
  return static_cast<float>(std::sqrt(std::fabs(alpha)));
}

}  // namespace

void fftshift(float* re, float* im, int nc, int nl) {
  const int h = nl / 2, g = nc / 2;
  for (int r = 0; r < h; r++)
    for (int c = 0; c < nc; c++) {
      std::swap(re[r * nc + c], re[(r + h) * nc + c]);
      std::swap(im[r * nc + c], im[(r + h) * nc + c]);
    }
  for (int r = 0; r < nl; r++)
    for (int c = 0; c < g; c++) {
      std::swap(re[r * nc + c], re[r * nc + c + g]);
      std::swap(im[r * nc + c], im[r * nc + c + g]);
    }
}

void fftcol(float* re, float* im, float* work, int nc, int nl) {
  for (int r = 0; r < nl; r++) row_fft(re + r * nc, im + r * nc, work, nc, -1);
}

void ifftcol(float* re, float* im, float* work, int nc, int nl) {
  const float scale = static_cast<float>(nc);
  for (int r = 0; r < nl; r++) {
    float* row_re = re + r * nc;
    float* row_im = im + r * nc;
    row_fft(row_re, row_im, work, nc, 1);
    for (int c = 0; c < nc; c++) {
      row_re[c] /= scale;
      row_im[c] /= scale;
    }
  }
}

void copy_sub(float* dst_re, float* dst_im, const float* src_re, const float* src_im, int count) {
  for (int k = 0; k < count; k++) {
    dst_re[k] = src_re[k];
    dst_im[k] = src_im[k];
  }
}

void FFTmid0(float* out_re, float* out_im, const float* in_re, const float* in_im, int n, int mode) {
  const int h = n / 2, m = 2 * n;
  Buffer work = work_buffer(2 * static_cast<std::size_t>(m) + 1, FftNoMemory);
  for (int i = 0; i < n; i++) {
    float* row_re = out_re + static_cast<std::size_t>(i) * m;
    float* row_im = out_im + static_cast<std::size_t>(i) * m;
    for (int c = 0; c < m; c++) row_re[c] = row_im[c] = 0.f;
    for (int c = 0; c < n; c++) {
      const int src = mode == 0 ? i * n + c : c * n + i;
      row_re[h + c] = in_re[src];
      row_im[h + c] = in_im[src];
    }
  }
  fftshift(out_re, out_im, m, n);
  fftcol(out_re, out_im, work.get(), m, n);
  fftshift(out_re, out_im, m, n);
}

void FFTmid0NP(float* re, float* im, int nc, int nl) {
  Buffer work = work_buffer(2 * static_cast<std::size_t>(nc) + 1, IfftNoMemory);
  fftshift(re, im, nc, nl);
  fftcol(re, im, work.get(), nc, nl);
  fftshift(re, im, nc, nl);
}

void IFFTmid0(float* out_re, float* out_im, const float* in_re, const float* in_im, int nc, int nl,
              int mode) {
  const std::size_t count = static_cast<std::size_t>(nc) * nl;
  Buffer work = work_buffer(2 * static_cast<std::size_t>(nc) + 1, IfftNoMemory);
  Buffer re = work_buffer(count, IfftNoMemory), im = work_buffer(count, IfftNoMemory);
  copy_sub(re.get(), im.get(), in_re, in_im, static_cast<int>(count));
  fftshift(re.get(), im.get(), nc, nl);
  ifftcol(re.get(), im.get(), work.get(), nc, nl);
  fftshift(re.get(), im.get(), nc, nl);
  if (mode == 0) {
    copy_sub(out_re, out_im, re.get(), im.get(), static_cast<int>(count));
  } else if (mode == 1) {
    for (int r = 0; r < nl; r++)
      for (int c = 0; c < nc; c++) {
        out_re[static_cast<std::size_t>(c) * nl + r] = re[static_cast<std::size_t>(r) * nc + c];
        out_im[static_cast<std::size_t>(c) * nl + r] = im[static_cast<std::size_t>(r) * nc + c];
      }
  }
}

namespace {

// Everything of a fractional DFT that depends only on its length and alpha:
// the phases before and after the convolution and the spectrum of the chirp
// filter. A pseudo-polar FFT of side n meets only 4n distinct alphas, again
// and again, so the plans of the last side are kept per thread; they hold
// exactly the values a fresh computation would give.
struct ChirpPlan {
  std::vector<double> pre_cos, pre_sin;    // n
  std::vector<float> filter;               // 2·2n + 1, four1 layout
  std::vector<double> post_cos, post_sin;  // n
};

ChirpPlan make_chirp_plan(int n, float alpha) {
  const float a = static_cast<float>(alpha * 3.141592653589795);
  const float inv = static_cast<float>(1.0 / n);
  const int m = 2 * n;
  ChirpPlan plan;
  plan.pre_cos.resize(n);
  plan.pre_sin.resize(n);
  plan.post_cos.resize(n);
  plan.post_sin.resize(n);
  for (int j = 0; j < n; j++) {
    const float phase = a * (static_cast<float>(j) - static_cast<float>(j * j) * inv);
    plan.pre_cos[j] = std::cos(static_cast<double>(phase));
    plan.pre_sin[j] = std::sin(static_cast<double>(phase));
  }
  plan.filter.assign(2 * static_cast<std::size_t>(m) + 1, 0.f);
  float* s2 = plan.filter.data() + 1;
  s2[0] = 1.f;
  const float a_over_n = a / static_cast<float>(n);
  for (int l = 1; l < n; l++) {
    const float phase = a_over_n * static_cast<float>(l) * static_cast<float>(l);
    const float c = static_cast<float>(std::cos(static_cast<double>(phase)));
    const float s = static_cast<float>(std::sin(static_cast<double>(phase)));
    s2[2 * l] = s2[2 * (m - l)] = c;
    s2[2 * l + 1] = s2[2 * (m - l) + 1] = s;
  }
  four1(plan.filter.data(), m, -1);
  const float half = static_cast<float>(n) / 2.f;
  for (int k = 0; k < n; k++) {
    const float phase = a * ((static_cast<float>(k) - half) - static_cast<float>(k * k) * inv);
    plan.post_cos[k] = std::cos(static_cast<double>(phase));
    plan.post_sin[k] = std::sin(static_cast<double>(phase));
  }
  return plan;
}

const ChirpPlan& chirp_plan(int n, float alpha) {
  thread_local int plan_side = 0;
  thread_local std::unordered_map<std::uint32_t, ChirpPlan> plans;
  if (plan_side != n || plans.size() > 8 * static_cast<std::size_t>(n) + 16) {
    plans.clear();
    plan_side = n;
  }
  std::uint32_t key;
  std::memcpy(&key, &alpha, sizeof key);
  auto found = plans.find(key);
  if (found == plans.end()) found = plans.emplace(key, make_chirp_plan(n, alpha)).first;
  return found->second;
}

// Runs job(l, scratch) for l = 0 .. n-1, rows spread over threads, each
// thread with its own four vectors of m floats. Every l writes rows or
// columns of its own, so the result does not depend on the thread count;
// the static schedule gives a thread the same l in every pass, so it meets
// the same fractional DFTs (and keeps their constants) each time.
struct RayScratch {
  Buffer a_re, a_im, b_re, b_im;
};

template <class Job>
void for_each_ray(int n, int m, const char* message, Job job) {
#pragma omp parallel
  {
    RayScratch scratch{work_buffer(m, message), work_buffer(m, message), work_buffer(m, message),
                       work_buffer(m, message)};
#pragma omp for schedule(static)
    for (int l = 0; l < n; l++) job(l, scratch);
  }
}

}  // namespace

void FFFT(float* out_re, float* out_im, const float* in_re, const float* in_im, int n, float alpha) {
  // The chirp (Bluestein) identity jk = (j^2 + k^2 - (k - j)^2)/2 turns the
  // fractional DFT into one circular convolution of length 2n.
  const ChirpPlan& plan = chirp_plan(n, alpha);
  const int m = 2 * n;
  // Interleaved sequence of 2n values, from index 1 for four1.
  Buffer seq1 = work_buffer(2 * static_cast<std::size_t>(m) + 1, "FFFT: could not allocate memory for seq1.. ");
  float* s1 = seq1.get() + 1;
  for (int j = 0; j < n; j++) {
    const double c = plan.pre_cos[j], s = plan.pre_sin[j];
    s1[2 * j] = static_cast<float>(in_re[j] * c - in_im[j] * s);
    s1[2 * j + 1] = static_cast<float>(in_re[j] * s + in_im[j] * c);
  }
  four1(seq1.get(), m, -1);
  const float* s2 = plan.filter.data() + 1;
  for (int k = 0; k < m; k++) {
    const float re = s1[2 * k] * s2[2 * k] - s1[2 * k + 1] * s2[2 * k + 1];
    const float im = s1[2 * k] * s2[2 * k + 1] + s1[2 * k + 1] * s2[2 * k];
    s1[2 * k] = re;
    s1[2 * k + 1] = im;
  }
  four1(seq1.get(), m, 1);
  const float scale = static_cast<float>(m);
  for (int k = 0; k < n; k++) {
    const double c = plan.post_cos[k], s = plan.post_sin[k];
    const float re = s1[2 * k] / scale, im = s1[2 * k + 1] / scale;
    out_re[k] = static_cast<float>(re * c - im * s);
    out_im[k] = static_cast<float>(re * s + im * c);
  }
}

void PPFFT(float* out_re, float* out_im, const float* in_re, const float* in_im, int n, int mode) {
  const int m = 2 * n;
  const std::size_t zsize = static_cast<std::size_t>(n) * m;
  Buffer z_re = work_buffer(zsize, PpfftNoMemory), z_im = work_buffer(zsize, PpfftNoMemory);

  // Column `col` of Z through FFFT, weighted, into row `row` of X from
  // column `first` on.
  auto ray = [&](RayScratch& t, int col, float alpha, float w, int row, int first) {
    for (int r = 0; r < n; r++) {
      t.a_re[r] = z_re[static_cast<std::size_t>(r) * m + col];
      t.a_im[r] = z_im[static_cast<std::size_t>(r) * m + col];
    }
    FFFT(t.b_re.get(), t.b_im.get(), t.a_re.get(), t.a_im.get(), n, alpha);
    float* x_re = out_re + static_cast<std::size_t>(row) * m + first;
    float* x_im = out_im + static_cast<std::size_t>(row) * m + first;
    for (int s = 0; s < n; s++) {
      x_re[s] = t.b_re[s] * w;
      x_im[s] = t.b_im[s] * w;
    }
  };

  FFTmid0(z_re.get(), z_im.get(), in_re, in_im, n, 0);
  for_each_ray(n, m, PpfftNoMemory, [&](int l, RayScratch& t) {
    const float a1 = static_cast<float>(n - l) / static_cast<float>(n);
    ray(t, l, a1, first_family_weight(mode, a1), l, 0);
    const float a2 = -static_cast<float>(l) / static_cast<float>(n);
    ray(t, l + n, a2, second_family_weight(mode, l, n, a2), l + n, 0);
  });
  FFTmid0(z_re.get(), z_im.get(), in_re, in_im, n, 1);
  for (int r = 0; r < n; r++) {
    float* row_re = z_re.get() + static_cast<std::size_t>(r) * m;
    float* row_im = z_im.get() + static_cast<std::size_t>(r) * m;
    const float first_re = row_re[0], first_im = row_im[0];
    for (int p = 0; p + 1 < m; p++) {
      row_re[p] = row_re[p + 1];
      row_im[p] = row_im[p + 1];
    }
    row_re[m - 1] = first_re;
    row_im[m - 1] = first_im;
  }
  for_each_ray(n, m, PpfftNoMemory, [&](int l, RayScratch& t) {
    const float a1 = static_cast<float>(n - l) / static_cast<float>(n);
    ray(t, m - 1 - l, a1, first_family_weight(mode, a1), l, n);
    const float a2 = -static_cast<float>(l) / static_cast<float>(n);
    ray(t, n - 1 - l, a2, second_family_weight(mode, l, n, a2), l + n, n);
  });
}

void Adj_PPFFT(float* out_re, float* out_im, const float* in_re, const float* in_im, int m,
               int mode) {
  const int n = m / 2;
  const std::size_t size = static_cast<std::size_t>(n) * m;
  Buffer u_re = work_buffer(size, AdjNoMemory), u_im = work_buffer(size, AdjNoMemory);
  Buffer v_re = work_buffer(size, AdjNoMemory), v_im = work_buffer(size, AdjNoMemory);
  Buffer u1_re = work_buffer(size, AdjNoMemory), u1_im = work_buffer(size, AdjNoMemory);
  Buffer u2_re = work_buffer(size, AdjNoMemory), u2_im = work_buffer(size, AdjNoMemory);
  const float g = static_cast<float>(std::sqrt(2.) * n);

  // Entries first .. first+n-1 of row `row` of X, times g, through FFFT,
  // weighted, into column `col` of the n x 2n plane (dst_re, dst_im).
  auto ray = [&](RayScratch& t, int row, int first, float alpha, float w, float* dst_re, float* dst_im,
                 int col) {
    const float* x_re = in_re + static_cast<std::size_t>(row) * m + first;
    const float* x_im = in_im + static_cast<std::size_t>(row) * m + first;
    for (int s = 0; s < n; s++) {
      t.a_re[s] = x_re[s] * g;
      t.a_im[s] = x_im[s] * g;
    }
    FFFT(t.b_re.get(), t.b_im.get(), t.a_re.get(), t.a_im.get(), n, alpha);
    for (int r = 0; r < n; r++) {
      dst_re[static_cast<std::size_t>(r) * m + col] = t.b_re[r] * w;
      dst_im[static_cast<std::size_t>(r) * m + col] = t.b_im[r] * w;
    }
  };

  for_each_ray(n, m, AdjNoMemory, [&](int l, RayScratch& t) {
    const float a1 = static_cast<float>(n - l) / static_cast<float>(n);
    const float a2 = -static_cast<float>(l) / static_cast<float>(n);
    ray(t, l, 0, -a1, first_family_weight(mode, a1), u_re.get(), u_im.get(), l);
    ray(t, l + n, 0, -a2, second_family_weight(mode, l, n, a2), u_re.get(), u_im.get(), l + n);
  });
  IFFTmid0(u1_re.get(), u1_im.get(), u_re.get(), u_im.get(), m, n, 0);
  for_each_ray(n, m, AdjNoMemory, [&](int l, RayScratch& t) {
    const float a1 = static_cast<float>(n - l) / static_cast<float>(n);
    const float a2 = -static_cast<float>(l) / static_cast<float>(n);
    ray(t, l, n, -a1, first_family_weight(mode, a1), v_re.get(), v_im.get(), m - 1 - l);
    ray(t, l + n, n, -a2, second_family_weight(mode, l, n, a2), v_re.get(), v_im.get(), n - 1 - l);
  });
  for (int r = 0; r < n; r++) {
    float* row_re = v_re.get() + static_cast<std::size_t>(r) * m;
    float* row_im = v_im.get() + static_cast<std::size_t>(r) * m;
    const float last_re = row_re[m - 1], last_im = row_im[m - 1];
    for (int p = m - 1; p > 0; p--) {
      row_re[p] = row_re[p - 1];
      row_im[p] = row_im[p - 1];
    }
    row_re[0] = last_re;
    row_im[0] = last_im;
  }
  IFFTmid0(u2_re.get(), u2_im.get(), v_re.get(), v_im.get(), m, n, 1);
  const double norm = std::sqrt(2.) * n;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      const std::size_t a = static_cast<std::size_t>(i) * m + j + n / 2;
      const std::size_t b = static_cast<std::size_t>(i + n / 2) * n + j;
      out_re[static_cast<std::size_t>(i) * n + j] = static_cast<float>((u1_re[a] + u2_re[b]) / norm);
      out_im[static_cast<std::size_t>(i) * n + j] = static_cast<float>((u1_im[a] + u2_im[b]) / norm);
    }
}
