// Decimation in frequency, radix 2: each pass of span m turns every run of
// m values into two half-length transforms, the second half rotated by the
// twiddles of m; the last two passes (spans 4 and 2, twiddles 1 and ±i) run
// as one radix-4 step with no multiplication. Two complex values make one
// SSE2 register where the processor has it; the lanes perform the scalar
// code's operations, so both give the same values.
#include "numerics/short_fft.h"

#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr long double TwoPi = 6.283185307179586476925286766559L;

// Twiddle (c, s) of butterfly j in a pass of span m, laid out two
// butterflies at a time: c_j c_j c_j+1 c_j+1, -s_j s_j -s_j+1 s_j+1.
void append_pass_twiddles(std::vector<float>& table, int m, int sign) {
  for (int j = 0; j < m / 2; j += 2) {
    float c[2], s[2];
    for (int k = 0; k < 2; k++) {
      const long double angle = TwoPi * (j + k) / m;
      c[k] = static_cast<float>(std::cos(angle));
      s[k] = static_cast<float>(sign * std::sin(angle));
    }
    table.insert(table.end(), {c[0], c[0], c[1], c[1], -s[0], s[0], -s[1], s[1]});
  }
}

// Butterflies j and j + 1 of a pass: a + b stays, (a - b)·w goes to b.
inline void butterfly_pair(float* a, float* b, const float* w) {
#ifdef __SSE2__
  const __m128 x = _mm_loadu_ps(a), y = _mm_loadu_ps(b);
  const __m128 d = _mm_sub_ps(x, y);
  const __m128 swapped = _mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 3, 0, 1));
  _mm_storeu_ps(a, _mm_add_ps(x, y));
  _mm_storeu_ps(b, _mm_add_ps(_mm_mul_ps(d, _mm_loadu_ps(w)),
                              _mm_mul_ps(swapped, _mm_loadu_ps(w + 4))));
#else
  for (int k = 0; k < 4; k += 2) {
    const float dr = a[k] - b[k], di = a[k + 1] - b[k + 1];
    a[k] += b[k];
    a[k + 1] += b[k + 1];
    b[k] = dr * w[k] + di * w[4 + k];
    b[k + 1] = di * w[k + 1] + dr * w[4 + k + 1];
  }
#endif
}

// Spans 4 and 2 on the four values at x; sign·i is the twiddle of span 4.
inline void radix4_tail(float* x, float sign) {
#ifdef __SSE2__
  const __m128 lo = _mm_loadu_ps(x), hi = _mm_loadu_ps(x + 4);
  const __m128 sum = _mm_add_ps(lo, hi);   // y0 y1
  const __m128 diff = _mm_sub_ps(lo, hi);  // y2, x1 - x3
  // y3 = (x1 - x3)·sign·i: parts exchanged, one negated (exact).
  const __m128 rotated = _mm_mul_ps(_mm_shuffle_ps(diff, diff, _MM_SHUFFLE(2, 3, 1, 0)),
                                    _mm_setr_ps(1.f, 1.f, -sign, sign));
  const __m128 minus_hi = _mm_setr_ps(1.f, 1.f, -1.f, -1.f);
  _mm_storeu_ps(x, _mm_add_ps(_mm_movelh_ps(sum, sum), _mm_mul_ps(_mm_movehl_ps(sum, sum), minus_hi)));
  _mm_storeu_ps(x + 4, _mm_add_ps(_mm_movelh_ps(rotated, rotated),
                                  _mm_mul_ps(_mm_movehl_ps(rotated, rotated), minus_hi)));
#else
  const float y0r = x[0] + x[4], y0i = x[1] + x[5], y1r = x[2] + x[6], y1i = x[3] + x[7];
  const float y2r = x[0] - x[4], y2i = x[1] - x[5], dr = x[2] - x[6], di = x[3] - x[7];
  const float y3r = di * -sign, y3i = dr * sign;
  x[0] = y0r + y1r;
  x[1] = y0i + y1i;
  x[2] = y0r + y1r * -1.f;
  x[3] = y0i + y1i * -1.f;
  x[4] = y2r + y3r;
  x[5] = y2i + y3i;
  x[6] = y2r + y3r * -1.f;
  x[7] = y2i + y3i * -1.f;
#endif
}

// count lines of n >= 4 values: the passes of span n down to 8, then the
// radix-4 tail. Fixed > 0 is n known at compile time.
template <int Fixed>
void lines_of(float* data, int n, size_t count, const float* twiddles, int sign) {
  if (Fixed > 0) n = Fixed;
  const size_t values = 2 * static_cast<size_t>(n);
  for (size_t l = 0; l < count; l++) {
    float* x = data + l * values;
    const float* w = twiddles;
    for (int m = n; m >= 8; m /= 2) {
      const int half = m / 2;
      for (int start = 0; start < n; start += m)
        for (int j = 0; j < half; j += 2)
          butterfly_pair(x + 2 * (start + j), x + 2 * (start + j + half), w + 4 * j);
      w += 4 * half;
    }
    for (int start = 0; start < n; start += 4) radix4_tail(x + 2 * start, static_cast<float>(sign));
  }
}

}  // namespace

bool ShortFFT::handles(int n) { return n >= 2 && n <= MaxLength && (n & (n - 1)) == 0; }

const ShortFFT::Plan& ShortFFT::plan(int n, int sign) {
  for (const Plan& p : plans_)
    if (p.n == n && p.sign == sign) return p;
  Plan p;
  p.n = n;
  p.sign = sign;
  for (int m = n; m >= 8; m /= 2) append_pass_twiddles(p.twiddles, m, sign);
  int bits = 0;
  while ((1 << bits) < n) bits++;
  p.reversed.resize(n);
  for (int q = 0; q < n; q++) {
    int r = 0;
    for (int b = 0; b < bits; b++) r |= ((q >> b) & 1) << (bits - 1 - b);
    p.reversed[q] = r;
  }
  plans_.push_back(std::move(p));
  return plans_.back();
}

const int* ShortFFT::bit_reversed(int n) { return plan(n, 1).reversed.data(); }

void ShortFFT::transform_lines(float* data, int n, size_t count, int sign) {
  sign = sign < 0 ? -1 : 1;
  const Plan& p = plan(n, sign);
  const size_t values = 2 * static_cast<size_t>(n);
  if (n == 2) {
    for (size_t l = 0; l < count; l++) {
      float* x = data + l * values;
      const float r = x[0] - x[2], i = x[1] - x[3];
      x[0] += x[2];
      x[1] += x[3];
      x[2] = r;
      x[3] = i;
    }
    return;
  }
  switch (n) {
    // The lengths the ridgelet blocks use, with the loops over a line laid
    // out by the compiler.
    case 4: lines_of<4>(data, n, count, p.twiddles.data(), sign); break;
    case 8: lines_of<8>(data, n, count, p.twiddles.data(), sign); break;
    case 16: lines_of<16>(data, n, count, p.twiddles.data(), sign); break;
    case 32: lines_of<32>(data, n, count, p.twiddles.data(), sign); break;
    case 64: lines_of<64>(data, n, count, p.twiddles.data(), sign); break;
    default: lines_of<0>(data, n, count, p.twiddles.data(), sign); break;
  }
}
