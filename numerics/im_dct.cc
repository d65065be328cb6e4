// Radix-2 FFT, real FFT and DCT-II on single-precision vectors indexed from 1,
// and the 2D image DCT built on them. Twiddles are carried in double and
// advanced by recurrence, one sine evaluation per stage.
#include "numerics/im_dct.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "numerics/fft_split_radix.h"

namespace {

constexpr double Pi = 3.14159265358979323846;

// Advances the twiddle (wr, wi) by the angle whose (cos - 1, sin) is (wpr, wpi).
inline void advance_twiddle(double& wr, double& wi, double wpr, double wpi) {
  const double wr_old = wr;
  wr = wr + wr * wpr - wi * wpi;
  wi = wi + wi * wpr + wr_old * wpi;
}

// Trigonometric start values of a stage, a function of the power of two and
// the direction only. They are computed by the same expressions on first use
// and kept, so that repeated block transforms give identical results without
// re-evaluating the sines of every stage of every call.
struct StageTwiddle {
  bool ready = false;
  double wpr = 0.0, wpi = 0.0;
};

int log2_of(unsigned long n) { return 63 - __builtin_clzl(n); }

// Increment of the twiddle recurrence for the angle theta(), keyed by
// (direction, power of two).
template <class Angle>
const StageTwiddle& stage_twiddle(StageTwiddle (&table)[2][64], int isign, unsigned long n,
                                  Angle theta) {
  StageTwiddle& entry = table[isign > 0 ? 1 : 0][log2_of(n)];
  if (!entry.ready) {
    const double angle = theta();
    const double half_sin = std::sin(0.5 * angle);
    entry.wpr = -2.0 * half_sin * half_sin;
    entry.wpi = std::sin(angle);
    entry.ready = true;
  }
  return entry;
}

thread_local StageTwiddle four1_twiddles[2][64];
thread_local StageTwiddle realft_twiddles[2][64];

// The start values of cosft2 for a length: cos θ, sin θ and sin 2θ, θ = π/(2n).
struct CosineStart {
  bool ready = false;
  double cos_theta = 0.0, sin_theta = 0.0, sin_2theta = 0.0;
};
thread_local CosineStart cosft2_starts[64];

}  // namespace

// The routines below transform `lanes` vectors in lock step: element e
// (from 1) of vector v is at base[(e - 1) * lanes + v]. Every vector goes
// through exactly the operations of the one-vector routine, with the same
// twiddles, so the results do not depend on how many are transformed
// together; the columns of an image are such a set of vectors.
namespace {

// Per-vector scratch values of the lock-step routines.
float* lane_scratch(int lanes) {
  thread_local std::vector<float> scratch;
  if (static_cast<int>(scratch.size()) < lanes) scratch.resize(lanes);
  return scratch.data();
}

void four1_lanes(float* base, unsigned long nn, int isign, int lanes) {
  const unsigned long n = nn << 1;
  auto at = [base, lanes](unsigned long e) { return base + (e - 1) * lanes; };
  // Bit reversal of the nn complex values.
  unsigned long j = 1;
  for (unsigned long i = 1; i < n; i += 2) {
    if (j > i) {
      float *a = at(j), *b = at(i), *a1 = at(j + 1), *b1 = at(i + 1);
      for (int v = 0; v < lanes; v++) {
        std::swap(a[v], b[v]);
        std::swap(a1[v], b1[v]);
      }
    }
    unsigned long m = nn;
    while (m >= 2 && j > m) {
      j -= m;
      m >>= 1;
    }
    j += m;
  }
  // Danielson-Lanczos stages.
  unsigned long mmax = 2;
  while (n > mmax) {
    const unsigned long istep = mmax << 1;
    const StageTwiddle& step = stage_twiddle(four1_twiddles, isign, mmax, [&] {
      return isign * (6.28318530717959 / mmax);
    });
    const double wpr = step.wpr, wpi = step.wpi;
    double wr = 1.0, wi = 0.0;
    for (unsigned long m = 1; m < mmax; m += 2) {
      for (unsigned long i = m; i <= n; i += istep) {
        float *re_i = at(i), *im_i = at(i + 1), *re_k = at(i + mmax), *im_k = at(i + mmax + 1);
        for (int v = 0; v < lanes; v++) {
          const float tempr = static_cast<float>(wr * re_k[v] - wi * im_k[v]);
          const float tempi = static_cast<float>(wr * im_k[v] + wi * re_k[v]);
          re_k[v] = re_i[v] - tempr;
          im_k[v] = im_i[v] - tempi;
          re_i[v] += tempr;
          im_i[v] += tempi;
        }
      }
      advance_twiddle(wr, wi, wpr, wpi);
    }
    mmax = istep;
  }
}

void realft_lanes(float* base, unsigned long n, int isign, int lanes) {
  auto at = [base, lanes](unsigned long e) { return base + (e - 1) * lanes; };
  const float c1 = 0.5f;
  float c2;
  if (isign == 1) {
    c2 = -0.5f;
    four1_lanes(base, n >> 1, 1, lanes);
  } else {
    c2 = 0.5f;
  }
  const StageTwiddle& step = stage_twiddle(realft_twiddles, isign == 1 ? 1 : -1, n, [&] {
    const double theta = Pi / static_cast<double>(n >> 1);
    return isign == 1 ? theta : -theta;
  });
  const double wpr = step.wpr, wpi = step.wpi;
  double wr = 1.0 + wpr;
  double wi = wpi;
  const unsigned long np3 = n + 3;
  for (unsigned long i = 2; i <= (n >> 2); i++) {
    const unsigned long i1 = i + i - 1, i2 = i1 + 1, i3 = np3 - i2, i4 = i3 + 1;
    float *d1 = at(i1), *d2 = at(i2), *d3 = at(i3), *d4 = at(i4);
    for (int v = 0; v < lanes; v++) {
      const float h1r = c1 * (d1[v] + d3[v]);
      const float h1i = c1 * (d2[v] - d4[v]);
      const float h2r = -c2 * (d2[v] + d4[v]);
      const float h2i = c2 * (d1[v] - d3[v]);
      d1[v] = static_cast<float>(h1r + wr * h2r - wi * h2i);
      d2[v] = static_cast<float>(h1i + wr * h2i + wi * h2r);
      d3[v] = static_cast<float>(h1r - wr * h2r + wi * h2i);
      d4[v] = static_cast<float>(-h1i + wr * h2i + wi * h2r);
    }
    advance_twiddle(wr, wi, wpr, wpi);
  }
  float *d1 = at(1), *d2 = at(2);
  if (isign == 1) {
    for (int v = 0; v < lanes; v++) {
      const float first = d1[v];
      d1[v] = first + d2[v];
      d2[v] = first - d2[v];
    }
  } else {
    for (int v = 0; v < lanes; v++) {
      const float first = d1[v];
      d1[v] = c1 * (first + d2[v]);
      d2[v] = c1 * (first - d2[v]);
    }
    four1_lanes(base, n >> 1, -1, lanes);
  }
}

void cosft2_lanes(float* base, int n, int isign, int lanes) {
  if (isign != 1 && isign != -1) return;
  auto at = [base, lanes](int e) { return base + static_cast<int64_t>(e - 1) * lanes; };
  CosineStart& start = cosft2_starts[log2_of(static_cast<unsigned long>(n))];
  if (!start.ready) {
    const double theta = 0.5 * Pi / n;
    start.cos_theta = std::cos(theta);
    start.sin_theta = std::sin(theta);
    start.sin_2theta = std::sin(2.0 * theta);
    start.ready = true;
  }
  // Twiddle at the odd multiples of theta, and at the multiples of 2 theta.
  double wr1 = start.cos_theta, wi1 = start.sin_theta;
  double wr = 1.0, wi = 0.0;
  const double wpr = -2.0 * wi1 * wi1;
  const double wpi = start.sin_2theta;
  float* scratch = lane_scratch(lanes);
  if (isign == 1) {
    for (int i = 1; i <= n / 2; i++) {
      float *a = at(i), *b = at(n - i + 1);
      for (int v = 0; v < lanes; v++) {
        const float y1 = 0.5f * (a[v] + b[v]);
        const float y2 = static_cast<float>(wi1 * (a[v] - b[v]));
        a[v] = y1 + y2;
        b[v] = y1 - y2;
      }
      advance_twiddle(wr1, wi1, wpr, wpi);
    }
    realft_lanes(base, n, 1, lanes);
    for (int i = 3; i <= n; i += 2) {
      advance_twiddle(wr, wi, wpr, wpi);
      float *a = at(i), *b = at(i + 1);
      for (int v = 0; v < lanes; v++) {
        const float y1 = static_cast<float>(a[v] * wr - b[v] * wi);
        const float y2 = static_cast<float>(b[v] * wr + a[v] * wi);
        a[v] = y1;
        b[v] = y2;
      }
    }
    // Running sums over the even elements from the top down.
    float* sum = scratch;
    const float* second = at(2);
    for (int v = 0; v < lanes; v++) sum[v] = 0.5f * second[v];
    for (int i = n; i >= 2; i -= 2) {
      float* a = at(i);
      for (int v = 0; v < lanes; v++) {
        const float previous = sum[v];
        sum[v] += a[v];
        a[v] = previous;
      }
    }
  } else {
    float* last = scratch;
    const float* top = at(n);
    for (int v = 0; v < lanes; v++) last[v] = top[v];
    for (int i = n; i >= 4; i -= 2) {
      float *a = at(i), *b = at(i - 2);
      for (int v = 0; v < lanes; v++) a[v] = b[v] - a[v];
    }
    float* second = at(2);
    for (int v = 0; v < lanes; v++) second[v] = 2.0f * last[v];
    for (int i = 3; i <= n; i += 2) {
      advance_twiddle(wr, wi, wpr, wpi);
      float *a = at(i), *b = at(i + 1);
      for (int v = 0; v < lanes; v++) {
        const float y1 = static_cast<float>(a[v] * wr + b[v] * wi);
        const float y2 = static_cast<float>(b[v] * wr - a[v] * wi);
        a[v] = y1;
        b[v] = y2;
      }
    }
    realft_lanes(base, n, -1, lanes);
    for (int i = 1; i <= n / 2; i++) {
      float *a = at(i), *b = at(n - i + 1);
      const double factor = 0.5 / wi1;
      for (int v = 0; v < lanes; v++) {
        const float y1 = a[v] + b[v];
        const float y2 = static_cast<float>(factor * (a[v] - b[v]));
        a[v] = 0.5f * (y1 + y2);
        b[v] = 0.5f * (y1 - y2);
      }
      advance_twiddle(wr1, wi1, wpr, wpi);
    }
  }
}

// out (nc x nl) = transpose of in (nl x nc).
void transpose(const float* in, int nl, int nc, float* out) {
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) out[static_cast<int64_t>(j) * nl + i] = in[static_cast<int64_t>(i) * nc + j];
}

}  // namespace

void four1(float* data, unsigned long nn, int isign) { four1_lanes(data + 1, nn, isign, 1); }

void realft(float* data, unsigned long n, int isign) { realft_lanes(data + 1, n, isign, 1); }

void cosft2(float* y, int n, int isign) { cosft2_lanes(y + 1, n, isign, 1); }

bool dct_side_ok(int n) { return n >= DctMinSide && is_power_of_2(n) == True; }

void dct2d_in_place(float* data, int nl, int nc, Bool reverse, float* work) {
  const int isign = reverse ? -1 : 1;
  // The columns of the image are vectors in lock step; the lines become
  // columns of the transposed copy in work.
  auto transform_lines = [&]() {
    transpose(data, nl, nc, work);
    cosft2_lanes(work, nc, isign, nl);
    transpose(work, nc, nl, data);
  };
  if (reverse) {
    cosft2_lanes(data, nl, isign, nc);
    transform_lines();
  } else {
    transform_lines();
    cosft2_lanes(data, nl, isign, nc);
  }
  // 2/N for square images; the geometric mean of the sides keeps the
  // inverse exact for rectangular ones.
  const float scale = static_cast<float>(2.0 / std::sqrt(static_cast<double>(nl) * nc));
  const int64_t count = static_cast<int64_t>(nl) * nc;
  for (int64_t k = 0; k < count; k++) data[k] *= scale;
}

void im_dct(to_array<float, false>& in, to_array<float, false>& out, Bool Reverse) {
  const int nl = in.nl(), nc = in.nc();
  if (!dct_side_ok(nl) || !dct_side_ok(nc))
    fatal_exitf(-1, stdout,
                "Error in im_dct: image sides must be powers of two of at least %d ... \n"
                "       Image size is: Nl = %d Nc = %d\n",
                DctMinSide, nl, nc);
  out = in;
  std::vector<float> work(static_cast<size_t>(nl) * nc);
  dct2d_in_place(out.buffer(), nl, nc, Reverse, work.data());
}

void im_dst(to_array<float, false>& in, to_array<float, false>& out, Bool Reverse) {
  const int nl = in.nl(), nc = in.nc();
  if (nl < 2 || nc < 2 || !is_power_of_2(nl) || !is_power_of_2(nc))
    fatal_exitf(-1, stdout,
                "Error in im_dst: image sides must be powers of two of at least 2 ... \n"
                "       Image size is: Nl = %d Nc = %d\n",
                nl, nc);
  std::vector<double> values(static_cast<size_t>(nl) * nc);
  std::vector<double*> rows(nl);
  for (int i = 0; i < nl; i++) rows[i] = values.data() + static_cast<size_t>(i) * nc;
  for (size_t k = 0; k < values.size(); k++) values[k] = in.buffer()[k];
  // Work areas at least as large as the split-radix package asks for.
  const int longest = std::max(nl, nc);
  std::vector<double> t(2 * static_cast<size_t>(nl));
  std::vector<int> ip(2 + static_cast<size_t>(std::sqrt(std::max(nl, nc / 2) + 0.5)) +
                      static_cast<size_t>(std::sqrt(longest / 2.0 + 0.5)));
  std::vector<double> w(static_cast<size_t>(nc / 4 + std::max(5 * nc / 4, 5 * nl / 4) +
                                            longest / 4 + longest));
  ip[0] = 0;
  ddst2d(nl, nc, Reverse ? -1 : 1, rows.data(), t.data(), ip.data(), w.data());
  if (out.nl() != nl || out.nc() != nc) out.alloc(nl, nc);
  if (!Reverse) {
    for (size_t k = 0; k < values.size(); k++) out.buffer()[k] = static_cast<float>(values[k]);
    return;
  }
  // The inverse sine transform returns element 0 of each axis (the highest
  // frequency term of the forward one) with twice the gain of the others:
  // halving it makes the pair an exact inverse.
  const double scale = 4.0 / (static_cast<double>(nl) * nc);
  for (int i = 0; i < nl; i++) {
    const double line_scale = i == 0 ? 0.5 * scale : scale;
    const double* row = rows[i];
    float* out_row = out.buffer() + static_cast<int64_t>(i) * nc;
    for (int j = 0; j < nc; j++)
      out_row[j] = static_cast<float>(row[j] * (j == 0 ? 0.5 * line_scale : line_scale));
  }
}
