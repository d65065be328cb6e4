// Float-table DCT-II over lanes of vectors; see dct_lanes.h.
#include "numerics/dct_lanes.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "array/cpu_dispatch.h"

namespace {

constexpr double Pi = 3.14159265358979323846;

}  // namespace

DctLanes::DctLanes(int n) : n_(n) {
  const int nn = n / 2;  // complex values of the half-length FFT
  for (int mmax = 2; 2 * nn > mmax; mmax *= 2)
    for (int g = 0; g < mmax / 2; g++) {
      const double angle = 2.0 * Pi * g / mmax;
      fft_cos_.push_back(static_cast<float>(std::cos(angle)));
      fft_sin_.push_back(static_cast<float>(std::sin(angle)));
    }
  for (int k = 1; k < n / 4; k++) {
    const double angle = 2.0 * Pi * k / n;
    real_cos_.push_back(static_cast<float>(std::cos(angle)));
    real_sin_.push_back(static_cast<float>(std::sin(angle)));
  }
  const double theta = 0.5 * Pi / n;
  for (int i = 0; i < n / 2; i++) {
    const double s = std::sin((2 * i + 1) * theta);
    odd_sin_.push_back(static_cast<float>(s));
    half_inv_odd_sin_.push_back(static_cast<float>(0.5 / s));
  }
  for (int k = 1; k < n / 2; k++) {
    rot_cos_.push_back(static_cast<float>(std::cos(2 * k * theta)));
    rot_sin_.push_back(static_cast<float>(std::sin(2 * k * theta)));
  }
}

struct DctLanesKernels {
  // In-place DFT of n/2 complex values, real and imaginary parts interleaved
  // as elements 2k and 2k + 1; exp(+2πi·jk/(n/2)), or exp(-...) for inverse.
  static QZ_ALWAYS_INLINE void complex_fft(const DctLanes& plan, float* base, int lanes, bool inverse) {
    const int n = plan.n_;  // floats per vector
    auto at = [base, lanes](int e) { return base + static_cast<int64_t>(e) * lanes; };
    for (int i = 0, j = 0; i < n; i += 2) {
      if (j > i) {
        float *a = at(j), *b = at(i), *a1 = at(j + 1), *b1 = at(i + 1);
  #pragma omp simd
        for (int v = 0; v < lanes; v++) {
          std::swap(a[v], b[v]);
          std::swap(a1[v], b1[v]);
        }
      }
      int m = n / 2;
      while (m >= 2 && j >= m) {
        j -= m;
        m >>= 1;
      }
      j += m;
    }
    const float sign = inverse ? -1.f : 1.f;
    int table = 0;
    for (int mmax = 2; n > mmax; mmax *= 2) {
      const int istep = 2 * mmax;
      for (int g = 0; g < mmax / 2; g++) {
        const float wr = plan.fft_cos_[table + g], wi = sign * plan.fft_sin_[table + g];
        for (int i = 2 * g; i < n; i += istep) {
          float *re_i = at(i), *im_i = at(i + 1), *re_k = at(i + mmax), *im_k = at(i + mmax + 1);
  #pragma omp simd
          for (int v = 0; v < lanes; v++) {
            const float tempr = wr * re_k[v] - wi * im_k[v];
            const float tempi = wr * im_k[v] + wi * re_k[v];
            re_k[v] = re_i[v] - tempr;
            im_k[v] = im_i[v] - tempi;
            re_i[v] += tempr;
            im_i[v] += tempi;
          }
        }
      }
      table += mmax / 2;
    }
  }

  // Forward: n real values to the packed half spectrum (F_0, F_{n/2}, then
  // Re and Im of F_1 ...); inverse: back to n/2 times the values.
  static QZ_ALWAYS_INLINE void real_fft(const DctLanes& plan, float* base, int lanes, bool inverse) {
    const int n = plan.n_;
    auto at = [base, lanes](int e) { return base + static_cast<int64_t>(e) * lanes; };
    const float c1 = 0.5f, c2 = inverse ? 0.5f : -0.5f;
    const float sign = inverse ? -1.f : 1.f;
    if (!inverse) complex_fft(plan, base, lanes, false);
    for (int i = 1; i < n / 4; i++) {
      const int i1 = 2 * i, i2 = i1 + 1, i3 = n - i1, i4 = i3 + 1;
      const float wr = plan.real_cos_[i - 1], wi = sign * plan.real_sin_[i - 1];
      float *d1 = at(i1), *d2 = at(i2), *d3 = at(i3), *d4 = at(i4);
  #pragma omp simd
      for (int v = 0; v < lanes; v++) {
        const float h1r = c1 * (d1[v] + d3[v]);
        const float h1i = c1 * (d2[v] - d4[v]);
        const float h2r = -c2 * (d2[v] + d4[v]);
        const float h2i = c2 * (d1[v] - d3[v]);
        d1[v] = h1r + wr * h2r - wi * h2i;
        d2[v] = h1i + wr * h2i + wi * h2r;
        d3[v] = h1r - wr * h2r + wi * h2i;
        d4[v] = -h1i + wr * h2i + wi * h2r;
      }
    }
    float *d1 = at(0), *d2 = at(1);
    if (!inverse) {
  #pragma omp simd
      for (int v = 0; v < lanes; v++) {
        const float first = d1[v];
        d1[v] = first + d2[v];
        d2[v] = first - d2[v];
      }
    } else {
  #pragma omp simd
      for (int v = 0; v < lanes; v++) {
        const float first = d1[v];
        d1[v] = c1 * (first + d2[v]);
        d2[v] = c1 * (first - d2[v]);
      }
      complex_fft(plan, base, lanes, true);
    }
  }

  static QZ_ALWAYS_INLINE void forward(const DctLanes& plan, float* base, int lanes, float* scratch) {
    const int n = plan.n_;
    auto at = [base, lanes](int e) { return base + static_cast<int64_t>(e) * lanes; };
    for (int i = 0; i < n / 2; i++) {
      float *a = at(i), *b = at(n - 1 - i);
      const float s = plan.odd_sin_[i];
  #pragma omp simd
      for (int v = 0; v < lanes; v++) {
        const float y1 = 0.5f * (a[v] + b[v]);
        const float y2 = s * (a[v] - b[v]);
        a[v] = y1 + y2;
        b[v] = y1 - y2;
      }
    }
    real_fft(plan, base, lanes, false);
    for (int k = 1; k < n / 2; k++) {
      float *a = at(2 * k), *b = at(2 * k + 1);
      const float wr = plan.rot_cos_[k - 1], wi = plan.rot_sin_[k - 1];
  #pragma omp simd
      for (int v = 0; v < lanes; v++) {
        const float y1 = a[v] * wr - b[v] * wi;
        const float y2 = b[v] * wr + a[v] * wi;
        a[v] = y1;
        b[v] = y2;
      }
    }
    // Running sums over the odd elements from the top down.
    float* sum = scratch;
    const float* second = at(1);
  #pragma omp simd
    for (int v = 0; v < lanes; v++) sum[v] = 0.5f * second[v];
    for (int e = n - 1; e >= 1; e -= 2) {
      float* a = at(e);
  #pragma omp simd
      for (int v = 0; v < lanes; v++) {
        const float previous = sum[v];
        sum[v] += a[v];
        a[v] = previous;
      }
    }
  }

  static QZ_ALWAYS_INLINE void inverse(const DctLanes& plan, float* base, int lanes, float* scratch) {
    const int n = plan.n_;
    auto at = [base, lanes](int e) { return base + static_cast<int64_t>(e) * lanes; };
    float* last = scratch;
    const float* top = at(n - 1);
  #pragma omp simd
    for (int v = 0; v < lanes; v++) last[v] = top[v];
    for (int e = n - 1; e >= 3; e -= 2) {
      float *a = at(e), *b = at(e - 2);
  #pragma omp simd
      for (int v = 0; v < lanes; v++) a[v] = b[v] - a[v];
    }
    float* second = at(1);
  #pragma omp simd
    for (int v = 0; v < lanes; v++) second[v] = 2.0f * last[v];
    for (int k = 1; k < n / 2; k++) {
      float *a = at(2 * k), *b = at(2 * k + 1);
      const float wr = plan.rot_cos_[k - 1], wi = plan.rot_sin_[k - 1];
  #pragma omp simd
      for (int v = 0; v < lanes; v++) {
        const float y1 = a[v] * wr + b[v] * wi;
        const float y2 = b[v] * wr - a[v] * wi;
        a[v] = y1;
        b[v] = y2;
      }
    }
    real_fft(plan, base, lanes, true);
    for (int i = 0; i < n / 2; i++) {
      float *a = at(i), *b = at(n - 1 - i);
      const float factor = plan.half_inv_odd_sin_[i];
  #pragma omp simd
      for (int v = 0; v < lanes; v++) {
        const float y1 = a[v] + b[v];
        const float y2 = factor * (a[v] - b[v]);
        a[v] = 0.5f * (y1 + y2);
        b[v] = 0.5f * (y1 - y2);
      }
    }
  }
};

namespace {

void forward_base(const DctLanes& plan, float* base, int lanes, float* scratch) {
  DctLanesKernels::forward(plan, base, lanes, scratch);
}
void inverse_base(const DctLanes& plan, float* base, int lanes, float* scratch) {
  DctLanesKernels::inverse(plan, base, lanes, scratch);
}
QZ_TARGET_AVX2 void forward_avx2(const DctLanes& plan, float* base, int lanes, float* scratch) {
  DctLanesKernels::forward(plan, base, lanes, scratch);
}
QZ_TARGET_AVX2 void inverse_avx2(const DctLanes& plan, float* base, int lanes, float* scratch) {
  DctLanesKernels::inverse(plan, base, lanes, scratch);
}

}  // namespace

void DctLanes::forward(float* base, int lanes, float* scratch) const {
  if (cpu_has_avx2()) forward_avx2(*this, base, lanes, scratch);
  else forward_base(*this, base, lanes, scratch);
}

void DctLanes::inverse(float* base, int lanes, float* scratch) const {
  if (cpu_has_avx2()) inverse_avx2(*this, base, lanes, scratch);
  else inverse_base(*this, base, lanes, scratch);
}

const DctLanes& dct_lanes(int n) {
  static std::mutex lock;
  static std::unique_ptr<DctLanes> plans[32];
  int log2 = 0;
  while ((1 << log2) < n) log2++;
  std::lock_guard<std::mutex> guard(lock);
  if (!plans[log2]) plans[log2] = std::make_unique<DctLanes>(n);
  return *plans[log2];
}
