// Decimation in frequency, radix 2: each pass of span m turns every run of
// m values into two half-length transforms, the second half rotated by the
// twiddles of m; the last two passes (spans 4 and 2, twiddles 1 and ±i) run
// as one radix-4 step with no multiplication. Two complex values make one
// SSE2 register in the base entry, four an AVX2 register in the other; the
// lanes perform the scalar code's operations, so every entry gives the same
// bits.
#include "numerics/short_fft.h"

#include <cmath>

#include "array/cpu_dispatch.h"

#if QZ_AVX2_ENTRY
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr long double TwoPi = 6.283185307179586476925286766559L;

// Twiddles of a pass of span m, w_j = exp(sign·2πi·j/m) for j < m/2: first
// cos w_j twice per j, then (-sin w_j, sin w_j) per j, so that a run of
// butterflies loads its factors whole: (a - b)·w_j is d·(c, c) + swap(d)·(-s, s).
void append_pass_twiddles(std::vector<float>& table, int m, int sign) {
  const int half = m / 2;
  std::vector<float> c(half), s(half);
  for (int j = 0; j < half; j++) {
    const long double angle = TwoPi * j / m;
    c[j] = static_cast<float>(std::cos(angle));
    s[j] = static_cast<float>(sign * std::sin(angle));
  }
  for (int j = 0; j < half; j++) table.insert(table.end(), {c[j], c[j]});
  for (int j = 0; j < half; j++) table.insert(table.end(), {-s[j], s[j]});
}

// The base entry: two complex values per register (plain code without
// SSE2). Each lane performs the operations of the scalar code.
struct PlainLanes {
  static constexpr int Butterflies = 2;

  // Butterflies j, j + 1: a + b stays, (a - b)·w goes to b.
  static QZ_ALWAYS_INLINE void butterflies(float* a, float* b, const float* wc, const float* ws) {
#ifdef __SSE2__
    const __m128 x = _mm_loadu_ps(a), y = _mm_loadu_ps(b);
    const __m128 d = _mm_sub_ps(x, y);
    const __m128 swapped = _mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 3, 0, 1));
    _mm_storeu_ps(a, _mm_add_ps(x, y));
    _mm_storeu_ps(b, _mm_add_ps(_mm_mul_ps(d, _mm_loadu_ps(wc)),
                                _mm_mul_ps(swapped, _mm_loadu_ps(ws))));
#else
    for (int k = 0; k < 4; k += 2) {
      const float dr = a[k] - b[k], di = a[k + 1] - b[k + 1];
      a[k] += b[k];
      a[k + 1] += b[k + 1];
      b[k] = dr * wc[k] + di * ws[k];
      b[k + 1] = di * wc[k + 1] + dr * ws[k + 1];
    }
#endif
  }

  // Spans 4 and 2 of every block of four values; sign·i is the twiddle of
  // span 4.
  static QZ_ALWAYS_INLINE void tails(float* x, int n, float sign) {
    for (int start = 0; start < n; start += 4) tail(x + 2 * start, sign);
  }

  static QZ_ALWAYS_INLINE void tail(float* x, float sign) {
#ifdef __SSE2__
    const __m128 lo = _mm_loadu_ps(x), hi = _mm_loadu_ps(x + 4);
    const __m128 sum = _mm_add_ps(lo, hi);   // y0 y1
    const __m128 diff = _mm_sub_ps(lo, hi);  // y2, x1 - x3
    // y3 = (x1 - x3)·sign·i: parts exchanged, one negated (exact).
    const __m128 rotated = _mm_mul_ps(_mm_shuffle_ps(diff, diff, _MM_SHUFFLE(2, 3, 1, 0)),
                                      _mm_setr_ps(1.f, 1.f, -sign, sign));
    const __m128 minus_hi = _mm_setr_ps(1.f, 1.f, -1.f, -1.f);
    _mm_storeu_ps(x, _mm_add_ps(_mm_shuffle_ps(sum, sum, _MM_SHUFFLE(1, 0, 1, 0)),
                                _mm_mul_ps(_mm_shuffle_ps(sum, sum, _MM_SHUFFLE(3, 2, 3, 2)),
                                           minus_hi)));
    _mm_storeu_ps(x + 4,
                  _mm_add_ps(_mm_shuffle_ps(rotated, rotated, _MM_SHUFFLE(1, 0, 1, 0)),
                             _mm_mul_ps(_mm_shuffle_ps(rotated, rotated, _MM_SHUFFLE(3, 2, 3, 2)),
                                        minus_hi)));
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
};

#if QZ_AVX2_ENTRY
// The AVX2 entry: four complex values per register, the same operations
// lane by lane as the base entry.
struct Avx2Lanes {
  static constexpr int Butterflies = 4;

  // Butterflies on values held in registers: x + y stays, (x - y)·w goes
  // to y.
  static QZ_TARGET_AVX2 inline void butterflies_in(__m256& x, __m256& y, const float* wc,
                                                   const float* ws) {
    const __m256 d = _mm256_sub_ps(x, y);
    const __m256 swapped = _mm256_permute_ps(d, _MM_SHUFFLE(2, 3, 0, 1));
    x = _mm256_add_ps(x, y);
    y = _mm256_add_ps(_mm256_mul_ps(d, _mm256_loadu_ps(wc)),
                      _mm256_mul_ps(swapped, _mm256_loadu_ps(ws)));
  }

  static QZ_TARGET_AVX2 inline void butterflies(float* a, float* b, const float* wc,
                                                const float* ws) {
    __m256 x = _mm256_loadu_ps(a), y = _mm256_loadu_ps(b);
    butterflies_in(x, y, wc, ws);
    _mm256_storeu_ps(a, x);
    _mm256_storeu_ps(b, y);
  }

  static QZ_TARGET_AVX2 inline __m256 halves(const float* first, const float* second) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(first)),
                                _mm_loadu_ps(second), 1);
  }

  // The tails of two blocks of four values, one in each half of a
  // register: lo holds the first two values of each block, hi the last
  // two, and so do out_lo and out_hi.
  static QZ_TARGET_AVX2 inline void tail_pair(__m256 lo, __m256 hi, float sign, __m256& out_lo,
                                              __m256& out_hi) {
    const __m256 turn = _mm256_setr_ps(1.f, 1.f, -sign, sign, 1.f, 1.f, -sign, sign);
    const __m256 minus_hi = _mm256_setr_ps(1.f, 1.f, -1.f, -1.f, 1.f, 1.f, -1.f, -1.f);
    const __m256 sum = _mm256_add_ps(lo, hi);
    const __m256 diff = _mm256_sub_ps(lo, hi);
    const __m256 rotated = _mm256_mul_ps(_mm256_permute_ps(diff, _MM_SHUFFLE(2, 3, 1, 0)), turn);
    out_lo = _mm256_add_ps(
        _mm256_permute_ps(sum, _MM_SHUFFLE(1, 0, 1, 0)),
        _mm256_mul_ps(_mm256_permute_ps(sum, _MM_SHUFFLE(3, 2, 3, 2)), minus_hi));
    out_hi = _mm256_add_ps(
        _mm256_permute_ps(rotated, _MM_SHUFFLE(1, 0, 1, 0)),
        _mm256_mul_ps(_mm256_permute_ps(rotated, _MM_SHUFFLE(3, 2, 3, 2)), minus_hi));
  }

  // Two blocks of four values at a time, one in each half of a register.
  static QZ_TARGET_AVX2 inline void tails(float* x, int n, float sign) {
    if (n < 8) {
      PlainLanes::tails(x, n, sign);
      return;
    }
    for (int start = 0; start < n; start += 8) {
      float* p = x + 2 * start;
      __m256 out_lo, out_hi;
      tail_pair(halves(p, p + 8), halves(p + 4, p + 12), sign, out_lo, out_hi);
      _mm_storeu_ps(p, _mm256_castps256_ps128(out_lo));
      _mm_storeu_ps(p + 4, _mm256_castps256_ps128(out_hi));
      _mm_storeu_ps(p + 8, _mm256_extractf128_ps(out_lo, 1));
      _mm_storeu_ps(p + 12, _mm256_extractf128_ps(out_hi, 1));
    }
  }

  // The same on two blocks held in registers, one block each.
  static QZ_TARGET_AVX2 inline void tails_in(__m256& first, __m256& second, float sign) {
    __m256 out_lo, out_hi;
    tail_pair(_mm256_permute2f128_ps(first, second, 0x20),
              _mm256_permute2f128_ps(first, second, 0x31), sign, out_lo, out_hi);
    first = _mm256_permute2f128_ps(out_lo, out_hi, 0x20);
    second = _mm256_permute2f128_ps(out_lo, out_hi, 0x31);
  }
};
#endif

// count lines of n >= 4 values: the passes of span n down to 8, then the
// radix-4 tails. Fixed > 0 is n known at compile time.
template <class Lanes, int Fixed>
QZ_ALWAYS_INLINE void lines_of(float* data, int n, size_t count, const float* twiddles,
                               float sign) {
  if (Fixed > 0) n = Fixed;
  const size_t values = 2 * static_cast<size_t>(n);
  for (size_t l = 0; l < count; l++) {
    float* x = data + l * values;
    const float* w = twiddles;
    for (int m = n; m >= 8; m /= 2) {
      const int half = m / 2;
      const float* wc = w;
      const float* ws = w + 2 * half;
      for (int start = 0; start < n; start += m)
        for (int j = 0; j < half; j += Lanes::Butterflies)
          Lanes::butterflies(x + 2 * (start + j), x + 2 * (start + j + half), wc + 2 * j,
                             ws + 2 * j);
      w += 4 * half;
    }
    Lanes::tails(x, n, sign);
  }
}

template <int Fixed>
void lines_plain(float* data, int n, size_t count, const float* twiddles, float sign) {
  lines_of<PlainLanes, Fixed>(data, n, count, twiddles, sign);
}

#if QZ_AVX2_ENTRY
template <int Fixed>
QZ_TARGET_AVX2 void lines_avx2(float* data, int n, size_t count, const float* twiddles,
                               float sign) {
  lines_of<Avx2Lanes, Fixed>(data, n, count, twiddles, sign);
}
#endif

#if QZ_AVX2_ENTRY
// Lines of N values, the most frequent of the ridgelet blocks, whole in
// N/4 registers: the operations of lines_of, without the values going
// through memory between the passes.
template <int N>
QZ_TARGET_AVX2 void lines_in_registers(float* data, size_t count, const float* twiddles,
                                       float sign) {
  constexpr int Registers = N / 4;
  for (size_t l = 0; l < count; l++) {
    float* line = data + 2 * N * l;
    // Every loop unrolled, so that x stays in registers.
    __m256 x[Registers];
#pragma GCC unroll 16
    for (int r = 0; r < Registers; r++) x[r] = _mm256_loadu_ps(line + 8 * r);
    const float* w = twiddles;
#pragma GCC unroll 8
    for (int m = N; m >= 8; m /= 2) {
      const int half = m / 2, apart = half / 4;  // registers between a and b
#pragma GCC unroll 8
      for (int start = 0; start < Registers; start += m / 4)
#pragma GCC unroll 8
        for (int j = 0; j < apart; j++)
          Avx2Lanes::butterflies_in(x[start + j], x[start + j + apart], w + 8 * j,
                                    w + 2 * half + 8 * j);
      w += 4 * half;
    }
#pragma GCC unroll 8
    for (int r = 0; r < Registers; r += 2) Avx2Lanes::tails_in(x[r], x[r + 1], sign);
#pragma GCC unroll 16
    for (int r = 0; r < Registers; r++) _mm256_storeu_ps(line + 8 * r, x[r]);
  }
}
#endif

template <int Fixed>
void lines(float* data, int n, size_t count, const float* twiddles, float sign) {
#if QZ_AVX2_ENTRY
  if (cpu_has_avx2()) {
    if constexpr (Fixed == 8 || Fixed == 16 || Fixed == 32 || Fixed == 64)
      lines_in_registers<Fixed>(data, count, twiddles, sign);
    else
      lines_avx2<Fixed>(data, n, count, twiddles, sign);
    return;
  }
#endif
  lines_plain<Fixed>(data, n, count, twiddles, sign);
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
    case 4: lines<4>(data, n, count, p.twiddles.data(), float(sign)); break;
    case 8: lines<8>(data, n, count, p.twiddles.data(), float(sign)); break;
    case 16: lines<16>(data, n, count, p.twiddles.data(), float(sign)); break;
    case 32: lines<32>(data, n, count, p.twiddles.data(), float(sign)); break;
    case 64: lines<64>(data, n, count, p.twiddles.data(), float(sign)); break;
    default: lines<0>(data, n, count, p.twiddles.data(), float(sign)); break;
  }
}
