// The Fourier-domain 1D wavelet transform. The spectrum is filtered scale by
// scale with h and g built from the B3-spline scaling function; the
// pyramidal types keep the central half of the low-pass spectrum at each
// scale. The filters of a scale depend only on the lengths, the scale, the
// wavelet type and the cut-off, so they are evaluated once and reused; the
// products are the same float products as with filters evaluated per call.
#include "filters/wt1d_fft.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "array/cpu_dispatch.h"

#if QZ_AVX2_ENTRY
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "filters/pyr1d_wt.h"
#include "numerics/fftn.h"
#include "numerics/sample_stats.h"

namespace {

// The single-precision epsilon 2^-24, compared in double precision.
constexpr double FLOAT_EPSILON = 5.9604644775390625e-08;

// The filter tables of this many (scale, length) pairs are kept at most.
constexpr size_t kMaxKeptFilters = 64;

void set_length(to_array<std::complex<float>, true>& a, int n) {
  if (a.nx() != n || a.naxis() != 1) a.reform(n);
}

void unknown_transform_message() {
  std::fprintf(stderr, "Error: proc. wave_cf_transform.\n");
  std::fprintf(stderr, "This transform is not computed this procedure\n");
}

[[noreturn]] void bad_pyramid(int trans_nx, int np, int n, int nbr_scale) {
  fatal_exitf(-1, stdout,
              "Error: PyrPixNbr and Trans.nx() Pb ... \n  Trans.nx() = %d\n  PyrPixNbr = %d\n"
              "  N = %d  Nbr_Plan = %d\n",
              trans_nx, np, n, nbr_scale);
}

// 2^s as an exact 64-bit integer (the nearest integer for s < 0); scales
// beyond 40 only push every frequency but the centre further out of the grid.
long long scale_step(int s) {
  if (s < 0) return POW2(s);
  return 1LL << std::min(s, 40);
}

// The (n+1)/2 central values, moved to the front of data. The cut keeps the
// zero frequency (index n/2) at the centre of the cut (index m/2): from n/4
// on, except for n = 2 mod 4, where starting at n/4 would move the zero
// frequency one place and the coarser scales could not be inverted.
int under_sample(std::complex<float>* data, int n) {
  int m = (n + 1) / 2;
  int offset = n / 2 - m / 2;
  std::copy(data + offset, data + offset + m, data);
  return m;
}

// The n values of data centred in m values, zeros around, the inverse of
// the cut above (from m/4 on but for m = 2 mod 4); data holds at least m
// values.
void over_sample(std::complex<float>* data, int n, int m) {
  int offset = m / 2 - n / 2;
  std::copy_backward(data, data + n, data + offset + n);
  std::fill(data, data + offset, std::complex<float>());
  std::fill(data + offset + n, data + m, std::complex<float>());
}

#if QZ_AVX2_ENTRY
// The four complex values of a register in reverse order.
QZ_TARGET_AVX2 inline __m256 reverse_values(__m256 v) {
  const __m256 halves_swapped = _mm256_permute2f128_ps(v, v, 0x01);
  return _mm256_shuffle_ps(halves_swapped, halves_swapped, _MM_SHUFFLE(1, 0, 3, 2));
}
// The real and imaginary parts of each complex value swapped.
QZ_TARGET_AVX2 inline __m256 swap_parts(__m256 v) {
  return _mm256_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1));
}
// The Hermitian part at the four centred values from c on, times the gain
// when there is one: their mirrors are the four values ending at mirror_c.
template <bool Gain>
QZ_TARGET_AVX2 inline __m256 hermitian_quad(const float* line, const float* gain, int c,
                                            int mirror_c) {
  __m256 at = _mm256_loadu_ps(line + 2 * c);
  __m256 at_mirror = _mm256_loadu_ps(line + 2 * (mirror_c - 3));
  if (Gain) {
    at = _mm256_mul_ps(at, _mm256_loadu_ps(gain + 2 * c));
    at_mirror = _mm256_mul_ps(at_mirror, _mm256_loadu_ps(gain + 2 * (mirror_c - 3)));
  }
  at_mirror = reverse_values(at_mirror);
  const __m256 conj = _mm256_setr_ps(1.f, -1.f, 1.f, -1.f, 1.f, -1.f, 1.f, -1.f);
  return _mm256_mul_ps(_mm256_set1_ps(0.5f), _mm256_add_ps(at, _mm256_mul_ps(at_mirror, conj)));
}

// The loop of pack_pair from centred value c on, four values at a time, with
// the lanes of its SSE2 loop; returns the first value left.
template <bool Gain, bool Partner>
QZ_TARGET_AVX2 inline int pack_quads(const float* ra, const float* rb, const float* gain, int n,
                                     int c, float* rz) {
  const int half = n / 2, mirror_sum = n % 2 == 0 ? n : n - 1;
  const __m256 conj = _mm256_setr_ps(1.f, -1.f, 1.f, -1.f, 1.f, -1.f, 1.f, -1.f);
  const __m256 times_i = _mm256_setr_ps(-1.f, 1.f, -1.f, 1.f, -1.f, 1.f, -1.f, 1.f);
  for (; c + 3 < n; c += 4) {
    const int q = c - half, mirror_q = n - q, mirror_c = mirror_sum - c;
    const __m256 ha = hermitian_quad<Gain>(ra, gain, c, mirror_c);
    const __m256 hb =
        Partner ? swap_parts(hermitian_quad<Gain>(rb, gain, c, mirror_c)) : _mm256_setzero_ps();
    _mm256_storeu_ps(rz + 2 * q, _mm256_add_ps(ha, _mm256_mul_ps(hb, times_i)));
    _mm256_storeu_ps(rz + 2 * (mirror_q - 3),
                     reverse_values(_mm256_add_ps(_mm256_mul_ps(ha, conj), hb)));
  }
  return c;
}
#endif

// Line a's Hermitian part plus i times line b's (zeros without a Partner), from
// centred spectra times the gain (when Gain) into natural order (centred
// index c at c - n/2, wrapped). Natural q = c - n/2 and its mirror -q come
// from centred c and its mirror (n - c for even n, n - 1 - c for odd n);
// for even n the natural index n/2 (centred 0) is its own mirror.
// The gain comes twice per value, once for each part. Wide takes four
// centred values at a time in AVX2 registers before the SSE2 loop takes two.
template <bool Gain, bool Partner, bool Wide, int Fixed>
QZ_ALWAYS_INLINE void pack_pair(const std::complex<float>* a, const std::complex<float>* b,
                                const float* gain, int n, std::complex<float>* z) {
  if (Fixed > 0) n = Fixed;
  const float* ra = reinterpret_cast<const float*>(a);
  const float* rb = reinterpret_cast<const float*>(b);
  float* rz = reinterpret_cast<float*>(z);
  const int half = n / 2, mirror_sum = n % 2 == 0 ? n : n - 1;
  auto one = [=](int c, int q, int mirror_q) {
    const int mirror_c = mirror_sum - c;
    const float gc = Gain ? gain[2 * c] : 1.f, gm = Gain ? gain[2 * mirror_c] : 1.f;
    // Hermitian parts of a and b at q; at -q they are the conjugates.
    const float ar = Gain ? 0.5f * (ra[2 * c] * gc + ra[2 * mirror_c] * gm)
                          : 0.5f * (ra[2 * c] + ra[2 * mirror_c]);
    const float ai = Gain ? 0.5f * (ra[2 * c + 1] * gc - ra[2 * mirror_c + 1] * gm)
                          : 0.5f * (ra[2 * c + 1] - ra[2 * mirror_c + 1]);
    float br = 0.f, bi = 0.f;
    if (Partner) {
      br = Gain ? 0.5f * (rb[2 * c] * gc + rb[2 * mirror_c] * gm)
                : 0.5f * (rb[2 * c] + rb[2 * mirror_c]);
      bi = Gain ? 0.5f * (rb[2 * c + 1] * gc - rb[2 * mirror_c + 1] * gm)
                : 0.5f * (rb[2 * c + 1] - rb[2 * mirror_c + 1]);
    }
    rz[2 * q] = ar - bi;
    rz[2 * q + 1] = ai + br;
    rz[2 * mirror_q] = ar + bi;
    rz[2 * mirror_q + 1] = br - ai;
  };
  if (n == 0) return;
  one(half, 0, 0);
  int c = half + 1;
#if QZ_AVX2_ENTRY
  if constexpr (Wide) c = pack_quads<Gain, Partner>(ra, rb, gain, n, c, rz);
#endif
#ifdef __SSE2__
  // Two centred values and their two mirrors at a time, each lane with the
  // operations of one (x - y is x + (-y), and a sum's order does not
  // matter), so the values are those of the loop below.
  const __m128 one_half = _mm_set1_ps(0.5f);
  const __m128 conj = _mm_setr_ps(1.f, -1.f, 1.f, -1.f), times_i = _mm_setr_ps(-1.f, 1.f, -1.f, 1.f);
  auto swap_values = [](__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)); };
  auto swap_parts = [](__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1)); };
  auto hermitian = [&](const float* line, int c, int mirror_c) {
    __m128 at = _mm_loadu_ps(line + 2 * c);
    __m128 at_mirror = _mm_loadu_ps(line + 2 * (mirror_c - 1));
    if (Gain) {
      at = _mm_mul_ps(at, _mm_loadu_ps(gain + 2 * c));
      at_mirror = _mm_mul_ps(at_mirror, _mm_loadu_ps(gain + 2 * (mirror_c - 1)));
    }
    at_mirror = swap_values(at_mirror);
    return _mm_mul_ps(one_half, _mm_add_ps(at, _mm_mul_ps(at_mirror, conj)));
  };
  for (; c + 1 < n; c += 2) {
    const int q = c - half, mirror_q = n - q, mirror_c = mirror_sum - c;
    const __m128 ha = hermitian(ra, c, mirror_c);
    const __m128 hb = Partner ? swap_parts(hermitian(rb, c, mirror_c)) : _mm_setzero_ps();
    _mm_storeu_ps(rz + 2 * q, _mm_add_ps(ha, _mm_mul_ps(hb, times_i)));
    _mm_storeu_ps(rz + 2 * (mirror_q - 1), swap_values(_mm_add_ps(_mm_mul_ps(ha, conj), hb)));
  }
#endif
  for (; c < n; c++) one(c, c - half, n - c + half);
  if (n % 2 == 0) {
    const float g0 = Gain ? gain[0] : 1.f;  // gain[0] and gain[1] alike
    rz[2 * half] = Gain ? ra[0] * g0 : ra[0];
    rz[2 * half + 1] = Partner ? (Gain ? rb[0] * g0 : rb[0]) : 0.f;
  }
}

// Lines 2p and 2p + 1 of the spectra into pair p (see pack_pair).
// Fixed > 0 is n known at compile time.
template <bool Wide, int Fixed>
QZ_ALWAYS_INLINE void pack_lines_of(const std::complex<float>* Spectra, size_t Stride,
                                    int NbrLine, int n, const float* gain,
                                    std::complex<float>* pairs) {
  if (Fixed > 0) n = Fixed;
  const int nbr_pair = (NbrLine + 1) / 2;
  for (int p = 0; p < nbr_pair; p++) {
    const std::complex<float>* a = Spectra + 2 * p * Stride;
    const std::complex<float>* b = 2 * p + 1 < NbrLine ? a + Stride : nullptr;
    std::complex<float>* z = pairs + static_cast<size_t>(p) * n;
    if (gain && b) pack_pair<true, true, Wide, Fixed>(a, b, gain, n, z);
    else if (gain) pack_pair<true, false, Wide, Fixed>(a, b, gain, n, z);
    else if (b) pack_pair<false, true, Wide, Fixed>(a, b, gain, n, z);
    else pack_pair<false, false, Wide, Fixed>(a, b, gain, n, z);
  }
}

// Most lines of the ridgelet blocks' coarser scales are a few values long:
// their loops are laid out by the compiler.
template <bool Wide>
QZ_ALWAYS_INLINE void pack_lines(const std::complex<float>* Spectra, size_t Stride, int NbrLine,
                                 int n, const float* gain, std::complex<float>* pairs) {
  switch (n) {
    case 4: pack_lines_of<Wide, 4>(Spectra, Stride, NbrLine, n, gain, pairs); break;
    case 8: pack_lines_of<Wide, 8>(Spectra, Stride, NbrLine, n, gain, pairs); break;
    case 16: pack_lines_of<Wide, 16>(Spectra, Stride, NbrLine, n, gain, pairs); break;
    default: pack_lines_of<Wide, 0>(Spectra, Stride, NbrLine, n, gain, pairs); break;
  }
}

// Each entry is one function with every step inlined, the lambdas too.
__attribute__((flatten)) void pack_lines_plain(const std::complex<float>* Spectra, size_t Stride,
                                               int NbrLine, int n, const float* gain,
                                               std::complex<float>* pairs) {
  pack_lines<false>(Spectra, Stride, NbrLine, n, gain, pairs);
}

#if QZ_AVX2_ENTRY
__attribute__((flatten)) QZ_TARGET_AVX2 void pack_lines_avx2(const std::complex<float>* Spectra,
                                                              size_t Stride, int NbrLine, int n,
                                                              const float* gain,
                                                              std::complex<float>* pairs) {
  pack_lines<true>(Spectra, Stride, NbrLine, n, gain, pairs);
}
#endif

#if QZ_AVX2_ENTRY
// Lines of n = 8·M values in bit-reversed order, each pair's values going
// to two bands in centred order: the value at index k = 8i + j is frequency
// reverse(k), whose centred place reverse(k) + n/2 (wrapped) is reverse(k ^
// 1) = reverse3(j ^ 1)·M + reverse(i). So the places form 8 rows of M, and
// one 8 x 8 transpose in registers moves eight runs of eight values, read
// whole, into eight runs written whole: the rows of index i = reverse(c) for
// eight consecutive columns c, or, for M = 4, the rows of two lines at once.
// Each value is multiplied by the factor as in the scalar loop.
constexpr int reverse3(int j) { return (j & 1) << 2 | (j & 2) | j >> 2; }

QZ_TARGET_AVX2 inline void transpose8(__m256 r[8]) {
  const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
  const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
  const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
  const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
  const __m256 u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 u4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 u5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 u6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 u7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
  r[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
  r[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
  r[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
  r[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
  r[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
  r[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
  r[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
  r[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

// Eight complex values into their real and imaginary parts, per 128-bit
// half: value j goes to lane kSplitLane[j] (and the value in lane q is
// kSplitLane[q], the order being its own inverse).
constexpr int kSplitLane[8] = {0, 1, 4, 5, 2, 3, 6, 7};

QZ_TARGET_AVX2 inline void split_parts(const float* z, __m256& re, __m256& im) {
  const __m256 lo = _mm256_loadu_ps(z), hi = _mm256_loadu_ps(z + 8);
  re = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
  im = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
}

// Lines of four values: the value at index k goes to place
// reverse2(k ^ 1), so the places take the values at indices 1, 3, 0, 2.
QZ_TARGET_AVX2 inline int unscramble_quads(const float* values, int NbrPair, float factor,
                                           float* BandA, float* BandB, size_t PairStride) {
  const __m128 scale = _mm_set1_ps(factor);
  for (int p = 0; p < NbrPair; p++) {
    const float* z = values + 8 * static_cast<size_t>(p);
    const __m128 lo = _mm_loadu_ps(z), hi = _mm_loadu_ps(z + 4);
    const __m128 re = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 im = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    _mm_storeu_ps(BandA + p * PairStride,
                  _mm_mul_ps(_mm_shuffle_ps(re, re, _MM_SHUFFLE(2, 0, 3, 1)), scale));
    _mm_storeu_ps(BandB + p * PairStride,
                  _mm_mul_ps(_mm_shuffle_ps(im, im, _MM_SHUFFLE(2, 0, 3, 1)), scale));
  }
  return NbrPair;
}

// Lines of 8 or 16 values, a pair at a time. Place r of a line of 8
// takes index reverse3(r) ^ 1, so one permutation of the lanes sets the
// eight places in order. In a line of 16, place 2r + i takes index
// 8i + (reverse3(r) ^ 1): the two permuted halves are interleaved lane by
// lane, which unpacking does within each 128-bit half, given the places in
// the order kSplitLane too.
QZ_TARGET_AVX2 inline int unscramble_short(const float* values, int NbrPair, int n, float factor,
                                           float* BandA, float* BandB, size_t PairStride) {
  int lane[8];
  for (int t = 0; t < 8; t++) {
    const int r = n == 8 ? t : kSplitLane[t];
    lane[t] = kSplitLane[reverse3(r) ^ 1];
  }
  const __m256i order = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lane));
  const __m256 scale = _mm256_set1_ps(factor);
  const size_t line = 2 * static_cast<size_t>(n);
  for (int p = 0; p < NbrPair; p++) {
    const float* z = values + p * line;
    float* band_a = BandA + p * PairStride;
    float* band_b = BandB + p * PairStride;
    __m256 re, im;
    split_parts(z, re, im);
    re = _mm256_permutevar8x32_ps(re, order);
    im = _mm256_permutevar8x32_ps(im, order);
    if (n == 8) {
      _mm256_storeu_ps(band_a, _mm256_mul_ps(re, scale));
      _mm256_storeu_ps(band_b, _mm256_mul_ps(im, scale));
      continue;
    }
    __m256 re_high, im_high;
    split_parts(z + 16, re_high, im_high);
    re_high = _mm256_permutevar8x32_ps(re_high, order);
    im_high = _mm256_permutevar8x32_ps(im_high, order);
    _mm256_storeu_ps(band_a, _mm256_mul_ps(_mm256_unpacklo_ps(re, re_high), scale));
    _mm256_storeu_ps(band_a + 8, _mm256_mul_ps(_mm256_unpackhi_ps(re, re_high), scale));
    _mm256_storeu_ps(band_b, _mm256_mul_ps(_mm256_unpacklo_ps(im, im_high), scale));
    _mm256_storeu_ps(band_b + 8, _mm256_mul_ps(_mm256_unpackhi_ps(im, im_high), scale));
  }
  return NbrPair;
}

// The pairs it has written, from the first: all with a partner line, two
// at a time for lines of 32 values. reversed is the FFT's bit reversal of n.
QZ_TARGET_AVX2 int unscramble_pairs_avx2(const float* values, const int* reversed, int NbrPair,
                                         int n, float factor, float* BandA, float* BandB,
                                         size_t PairStride) {
  if (n == 4) return unscramble_quads(values, NbrPair, factor, BandA, BandB, PairStride);
  if (n == 8 || n == 16)
    return unscramble_short(values, NbrPair, n, factor, BandA, BandB, PairStride);
  const int M = n / 8;
  if (M < 4) return 0;
  // The run of column c starts at index i·8 with i = reverse(c), which is
  // the reversal of 8c over all the bits of n.
  auto run_of = [reversed](int c) { return 16 * reversed[8 * c]; };
  // After the transpose, register q holds index kSplitLane[q] of each run,
  // which goes to row reverse3(kSplitLane[q] ^ 1) of the places.
  int row_of[8];
  for (int q = 0; q < 8; q++) row_of[q] = reverse3(kSplitLane[q] ^ 1) * M;
  const __m256 scale = _mm256_set1_ps(factor);
  __m256 re[8], im[8];
  const size_t line = 2 * static_cast<size_t>(n);
  if (M >= 8) {
    for (int p = 0; p < NbrPair; p++) {
      const float* z = values + p * line;
      float* band_a = BandA + p * PairStride;
      float* band_b = BandB + p * PairStride;
      for (int c0 = 0; c0 < M; c0 += 8) {
        for (int t = 0; t < 8; t++) split_parts(z + run_of(c0 + t), re[t], im[t]);
        transpose8(re);
        transpose8(im);
        for (int q = 0; q < 8; q++) {
          _mm256_storeu_ps(band_a + row_of[q] + c0, _mm256_mul_ps(re[q], scale));
          _mm256_storeu_ps(band_b + row_of[q] + c0, _mm256_mul_ps(im[q], scale));
        }
      }
    }
    return NbrPair;
  }
  // M = 4: two lines at a time, lane t = 4g + c of a transposed register
  // being column c of line g.
  const int whole = NbrPair / 2 * 2;
  for (int p0 = 0; p0 < whole; p0 += 2) {
    for (int g = 0; g < 2; g++)
      for (int c = 0; c < 4; c++)
        split_parts(values + (p0 + g) * line + run_of(c), re[4 * g + c], im[4 * g + c]);
    transpose8(re);
    transpose8(im);
    float* band_a = BandA + p0 * PairStride;
    float* band_b = BandB + p0 * PairStride;
    for (int q = 0; q < 8; q++) {
      const __m256 a = _mm256_mul_ps(re[q], scale), b = _mm256_mul_ps(im[q], scale);
      _mm_storeu_ps(band_a + row_of[q], _mm256_castps256_ps128(a));
      _mm_storeu_ps(band_a + PairStride + row_of[q], _mm256_extractf128_ps(a, 1));
      _mm_storeu_ps(band_b + row_of[q], _mm256_castps256_ps128(b));
      _mm_storeu_ps(band_b + PairStride + row_of[q], _mm256_extractf128_ps(b, 1));
    }
  }
  return whole;
}
#endif

}  // namespace

WT1D_FFT::WT1D_FFT(int wave_type, int NbrScale, int N) {
  CenterZeroFreq = 1;
  WaveType = wave_type;
  FreqCut = 0.5f;
  Np = pyr_tab_pos(NbrScale, N);
}

int WT1D_FFT::pyr_tab_pos(int NbrScale, int N) {
  return ::pyr_tab_pos(TabPos, TabSize, NbrScale, N);
}

Bool WT1D_FFT::known_wave_type() const { return (WaveType >= 1 && WaveType <= 3) ? True : False; }

void WT1D_FFT::check_nbr_scale(int NbrScale) const {
  if (NbrScale < 1) fatal_exitf(-1, stdout, "Error: bad number of scales: %d ... \n", NbrScale);
}

// ---- Filters ----

float WT1D_FFT::scaling_function(float nu, int N) {
  float x = 2 * nu / (N * FreqCut);
  return float(1.5 * b3_spline(x));
}

float WT1D_FFT::filter_h(float nu, int N) {
  int half = N / 2;
  float two_nu = 2 * nu;
  float phi = scaling_function(nu, N);
  if (-half <= two_nu && two_nu < half && std::fabs(double(phi)) >= FLOAT_EPSILON)
    return scaling_function(2 * nu, N) / phi;
  return 0.f;
}

float WT1D_FFT::filter_g(float nu, int N) {
  float h = filter_h(nu, N);
  switch (WaveType) {
    case 1:
    case 2: return 1.f - h;
    case 3: return float(std::sqrt(double(1.f - h * h)));
  }
  fatal_exit("Error: bad wavelet type in filter_g\n", -1, stderr);
}

float WT1D_FFT::filter_h_tilde(float nu, int N) {
  float h = filter_h(nu, N);
  switch (WaveType) {
    case 1:
    case 2: {
      float g = filter_g(nu, N);
      float den = h * h + g * g;
      return double(den) >= FLOAT_EPSILON ? h / den : 0.f;
    }
    case 3: return h;
  }
  fatal_exit("Error: bad wave in filter_h_tilde\n", -1, stderr);
}

float WT1D_FFT::filter_g_tilde(float nu, int N) {
  switch (WaveType) {
    case 1:
    case 2: {
      float h = filter_h(nu, N);
      float g = filter_g(nu, N);
      float den = h * h + g * g;
      return double(den) >= FLOAT_EPSILON ? g / den : 0.f;
    }
    case 3: return filter_g(nu, N);
  }
  fatal_exit("Error: bad wavelet type in filter_g_tilde\n", -1, stderr);
}

float WT1D_FFT::filter_wavelet(float nu, int N) {
  float coarse = scaling_function(nu / 2, N);
  float fine = scaling_function(nu, N);
  switch (WaveType) {
    case 1:
    case 2: return coarse - fine;
    case 3: return coarse * coarse - fine * fine;
  }
  fatal_exit("Error: bad wavelet type in filter_wavelet\n", -1, stderr);
}

float WT1D_FFT::filter(type_wt_filter Kind, float nu, int N) {
  float value;
  switch (Kind) {
    case WT_PHI: value = scaling_function(nu, N); break;
    case WT_PSI: value = filter_wavelet(nu, N); break;
    case WT_H: value = filter_h(nu, N); break;
    case WT_H_TILDE: value = filter_h_tilde(nu, N); break;
    case WT_G: value = filter_g(nu, N); break;
    case WT_G_TILDE: value = filter_g_tilde(nu, N); break;
    default: fatal_exit("Error: bad filter in filter\n", -1, stderr);
  }
  if (!(value >= -FLOAT_EPSILON && value < 2))
    fatal_exit(
        "Error: invariant (Val_Return >= -FLOAT_EPSILON) && (Val_Return < 2) does not hold in "
        "WT1D_FFT\n",
        -1, stderr);
  return value;
}

void WT1D_FFT::create_filter(to_array<float, true>& F, type_wt_filter Kind) {
  int n = F.nx();
  for (int i = 0; i < n; i++) F(i) = filter(Kind, float(i - n / 2.0), n);
}

// ---- Scale filtering ----

const WT1D_FFT::ScaleFilters& WT1D_FFT::scale_filters(int s, int n, int N) {
  for (const ScaleFilters& f : filters_)
    if (f.N == N && f.n == n && f.WaveType == WaveType && f.FreqCut == FreqCut &&
        f.h.size() == size_t(n) && f.s == s)
      return f;
  if (filters_.size() >= kMaxKeptFilters) filters_.clear();
  filters_.emplace_back();
  ScaleFilters& f = filters_.back();
  f.s = s;
  f.N = N;
  f.n = n;
  f.WaveType = WaveType;
  f.FreqCut = FreqCut;
  f.h.assign(n, 0.f);
  f.g.assign(n, 0.f);
  f.h_tilde.assign(n, 0.f);
  f.g_tilde.assign(n, 0.f);
  f.g_pass.assign(n, 1.f);
  // The frequencies step * (i - n/2) increase with i, so the samples that
  // fall inside the full grid form one run.
  long long step = scale_step(s);
  f.first = n;
  f.last = n;
  for (int i = 0; i < n; i++) {
    long long u = step * (i - n / 2);
    if (N / 2 + u < 0 || N / 2 + u >= N) {
      if (f.first < n && f.last == n) f.last = i;
      continue;
    }
    if (f.first == n) f.first = i;
    float nu = float(u);
    f.h[i] = filter_h(nu, N);
    f.g[i] = filter_g(nu, N);
    f.h_tilde[i] = filter_h_tilde(nu, N);
    f.g_tilde[i] = filter_g_tilde(nu, N);
    f.g_pass[i] = f.g[i];
  }
  if (f.first == n) f.last = n;
  // The even part of g_pass over the centred samples that have a mirror.
  f.g_pass_even.assign(f.g_pass.begin(), f.g_pass.end());
  const int mirror_sum = n % 2 == 0 ? n : n - 1;
  for (int i = 0; i < n; i++)
    if (mirror_sum - i < n) f.g_pass_even[i] = 0.5f * (f.g_pass[i] + f.g_pass[mirror_sum - i]);
  auto twice = [n](const std::vector<float>& values, std::vector<float>& parts) {
    parts.resize(2 * n);
    for (int i = 0; i < n; i++) parts[2 * i] = parts[2 * i + 1] = values[i];
  };
  twice(f.h, f.h_parts);
  twice(f.g_pass, f.g_pass_parts);
  twice(f.h_tilde, f.h_tilde_parts);
  twice(f.g_tilde, f.g_tilde_parts);
  return f;
}

void WT1D_FFT::wave_mult(std::complex<float>* low, std::complex<float>* high, int n, int s, int N,
                         Bool Direct) {
  filter_spectrum(scale_filters(s, n, N), low, high, n, Direct);
}

void WT1D_FFT::filter_spectrum(const ScaleFilters& f, std::complex<float>* low,
                               std::complex<float>* high, int n, Bool Direct) {
  filter_low(f, low, n, Direct);
  const float* g = Direct ? f.g.data() : f.g_tilde.data();
  for (int i = f.first; i < f.last; i++) high[i] *= g[i];
}

void WT1D_FFT::filter_low(const ScaleFilters& f, std::complex<float>* low, int n, Bool Direct) {
  for (int i = 0; i < f.first; i++) low[i] = 0.f;
  for (int i = f.last; i < n; i++) low[i] = 0.f;
  const float* h = Direct ? f.h.data() : f.h_tilde.data();
  for (int i = f.first; i < f.last; i++) low[i] *= h[i];
}

namespace {

// filter_low then under_sample on NbrLine lines (line l at Spectra +
// l·Stride), with only the values the cut keeps filtered: h_parts reaches
// samples [f_first, f_last). Fixed > 0 is n known at compile time.
template <int Fixed>
QZ_ALWAYS_INLINE void cut_low_pass_lines(const float* h, int f_first, int f_last,
                                         std::complex<float>* Spectra, size_t Stride,
                                         int NbrLine, int n) {
  if (Fixed > 0) n = Fixed;
  const int m = (n + 1) / 2, offset = n / 2 - m / 2;
  const int first = std::max(f_first, offset), last = std::min(f_last, offset + m);
  // Most often the filter reaches every value kept: one loop of fixed
  // length then does a line.
  const bool reaches_all = first == offset && last == offset + m;
  for (int l = 0; l < NbrLine; l++) {
    std::complex<float>* low = Spectra + l * Stride;
    float* values = reinterpret_cast<float*>(low);
    // Each value moves down by offset (or stays): a lane never reads what
    // another lane of the same step writes after it.
    if (reaches_all) {
#pragma omp simd
      for (int k = 2 * offset; k < 2 * (offset + m); k++)
        values[k - 2 * offset] = values[k] * h[k];
      continue;
    }
    for (int i = offset; i < std::min(first, offset + m); i++) low[i - offset] = 0.f;
#pragma omp simd
    for (int k = 2 * first; k < 2 * last; k++) values[k - 2 * offset] = values[k] * h[k];
    for (int i = std::max(last, first); i < offset + m; i++) low[i - offset] = 0.f;
  }
}

}  // namespace

int WT1D_FFT::low_pass_cut_lines(const ScaleFilters& f, std::complex<float>* Spectra,
                                 size_t Stride, int NbrLine, int n) {
  const float* h = f.h_parts.data();
  switch (n) {
    case 8: cut_low_pass_lines<8>(h, f.first, f.last, Spectra, Stride, NbrLine, n); break;
    case 16: cut_low_pass_lines<16>(h, f.first, f.last, Spectra, Stride, NbrLine, n); break;
    case 32: cut_low_pass_lines<32>(h, f.first, f.last, Spectra, Stride, NbrLine, n); break;
    default: cut_low_pass_lines<0>(h, f.first, f.last, Spectra, Stride, NbrLine, n); break;
  }
  return (n + 1) / 2;
}

// over_sample, filter_spectrum (synthesis) and the sum of the two spectra
// in one pass. The coarse values move up to their places in the longer
// line, so the pass runs downwards.
void WT1D_FFT::add_synthesis(const ScaleFilters& f, std::complex<float>* low, int coarse,
                             const std::complex<float>* detail, int n) {
  const int offset = n / 2 - coarse / 2;
  float* out = reinterpret_cast<float*>(low);
  const float* in = reinterpret_cast<const float*>(detail);
  const float* h = f.h_tilde_parts.data();
  const float* g = f.g_tilde_parts.data();
  // Samples [first, last) are filtered, and those in [c0, c1) also take a
  // coarse value; elsewhere the sum's coarse term is a zero (still added,
  // so that the sign of a zero result stays the same).
  const int c0 = std::clamp(offset, f.first, f.last);
  const int c1 = std::clamp(offset + coarse, c0, f.last);
  // The coarse values move up in place: those read are set aside first.
  if (c1 > c0) coarse_copy_.assign(out + 2 * (c0 - offset), out + 2 * (c1 - offset));
  const float* coarse_values = coarse_copy_.data();
#pragma omp simd
  for (int k = 2 * f.last; k < 2 * n; k++) out[k] = 0.f + in[k];
#pragma omp simd
  for (int k = 2 * c1; k < 2 * f.last; k++) out[k] = 0.f + in[k] * g[k];
#pragma omp simd
  for (int k = 2 * c0; k < 2 * c1; k++)
    out[k] = coarse_values[k - 2 * c0] * h[k] + in[k] * g[k];
#pragma omp simd
  for (int k = 2 * f.first; k < 2 * c0; k++) out[k] = 0.f + in[k] * g[k];
#pragma omp simd
  for (int k = 0; k < 2 * f.first; k++) out[k] = 0.f + in[k];
}

void WT1D_FFT::wave_cf_mult(to_array<std::complex<float>, true>& Low,
                            to_array<std::complex<float>, true>& High, int s, int N, Bool Direct) {
  int n = Low.nx();
  if (High.n_elem() < n)
    fatal_exitf(-1, stdout, "Error: high-pass spectrum of %d values for %d ... \n", High.n_elem(),
                n);
  wave_mult(Low.buffer(), High.buffer(), n, s, N, Direct);
}

void WT1D_FFT::under_sampling_2(to_array<std::complex<float>, true>& C) {
  int n = C.nx();
  if (n == 0) return;
  C.reform(under_sample(C.buffer(), n));
}

void WT1D_FFT::over_sampling_2(to_array<std::complex<float>, true>& C, Bool Odd) {
  int n = C.nx();
  int m = Odd ? 2 * n - 1 : 2 * n;
  if (m <= 0) return;
  std::vector<std::complex<float>> values(C.buffer(), C.buffer() + n);
  C.reform(m);
  std::copy(values.begin(), values.end(), C.buffer());
  over_sample(C.buffer(), n, m);
}

// ---- Transforms ----

void WT1D_FFT::transform(to_array<float, true>& Signal, to_array<float, true>& Trans,
                         int NbrScale) {
  int N = Signal.nx();
  set_length(SignalCF, N);
  set_length(Buff2, N);
  std::complex<float>* cf = SignalCF.buffer();
  const float* x = Signal.buffer();
  for (int i = 0; i < N; i++) cf[i] = std::complex<float>(x[i], 0.f);
  fftn1d(cf, N, False);
  transform_cf(SignalCF, Trans, NbrScale);
}

Bool WT1D_FFT::prepare(int NbrScale, int N) {
  check_nbr_scale(NbrScale);
  if (!known_wave_type()) {
    unknown_transform_message();
    return False;
  }
  set_length(Buff1, N);
  set_length(Buff2, N);
  return True;
}

// band[i] = real part of the inverse FFT of the n values of spectrum (done in
// place), divided by ratio.
void WT1D_FFT::inverse_to_band(std::complex<float>* spectrum, int n, float ratio, float* band) {
  fftn1d(spectrum, n, True);
  for (int i = 0; i < n; i++) band[i] = spectrum[i].real() / ratio;
}

void WT1D_FFT::transform_cf(to_array<std::complex<float>, true>& TF, to_array<float, true>& Trans,
                            int NbrScale) {
  int N = TF.nx();
  if (!prepare(NbrScale, N)) return;
  std::complex<float>* cf = TF.buffer();
  std::complex<float>* high = Buff1.buffer();
  std::complex<float>* work = Buff2.buffer();
  int last = NbrScale - 1;

  if (WaveType == 1) {
    if (Trans.nx() != N || Trans.ny() != NbrScale || Trans.naxis() != 2) Trans.alloc(N, NbrScale);
    float* trans = Trans.buffer();
    // A ratio of 1 leaves every value as it is.
    for (int s = 0; s < last; s++) {
      std::copy(cf, cf + N, high);
      wave_mult(cf, high, N, s, N, True);
      inverse_to_band(high, N, 1.f, trans + size_t(s) * N);
    }
    std::copy(cf, cf + N, work);
    inverse_to_band(work, N, 1.f, trans + size_t(last) * N);
    return;
  }

  // Pyramidal types: the low-pass spectrum shrinks in TF's own buffer.
  Np = pyr_tab_pos(NbrScale, N);
  if (Trans.nx() != Np || Trans.naxis() != 1) Trans.reform(Np);
  float* trans = Trans.buffer();
  int ni = N;
  for (int s = 0; s < last; s++) {
    if (TabSize(s) != ni) fatal_exit("Errror: Ni and Ns are not equal ... \n", -1);
    std::copy(cf, cf + ni, high);
    wave_mult(cf, high, ni, s, N, True);
    inverse_to_band(high, ni, float(N) / float(ni), trans + TabPos(s));
    ni = under_sample(cf, ni);
  }
  int size = TabSize(last);
  if (size != ni) fatal_exit("Errror: Ni and Ns are not equal .... \n", -1);
  std::copy(cf, cf + size, work);
  inverse_to_band(work, size, float(N) / float(size), trans + TabPos(last));
}

void WT1D_FFT::recons_cf(to_array<float, true>& Trans, to_array<std::complex<float>, true>& TF,
                         int NbrScale) {
  int N = TF.nx();
  if (!prepare(NbrScale, N)) return;
  std::complex<float>* cf = TF.buffer();
  std::complex<float>* detail = Buff1.buffer();
  const float* trans = Trans.buffer();

  if (WaveType == 1) {
    // N x NbrScale coefficients are read: fewer would be read past the end.
    if (Trans.nx() != N || Trans.n_elem() < N * (long long)NbrScale)
      bad_pyramid(Trans.nx(), N * NbrScale, N, NbrScale);
    std::complex<float>* work = Buff2.buffer();
    for (int i = 0; i < N; i++) {
      float sum = 0.f;
      for (int s = NbrScale - 1; s >= 0; s--) sum += trans[size_t(s) * N + i];
      work[i] = std::complex<float>(sum, 0.f);
    }
    std::copy(work, work + N, cf);
    fftn1d(cf, N, False);
    return;
  }

  Np = pyr_tab_pos(NbrScale, N);
  if (Trans.n_elem() != Np) bad_pyramid(Trans.nx(), Np, N, NbrScale);
  int last = NbrScale - 1;
  int n = TabSize(last);
  float ratio = float(N) / float(n);
  for (int i = 0; i < n; i++) cf[i] = std::complex<float>(trans[TabPos(last) + i] * ratio, 0.f);
  fftn1d(cf, n, False);
  for (int s = NbrScale - 2; s >= 0; s--) {
    int coarse = n;
    n = TabSize(s);
    ratio = float(N) / float(n);
    const float* band = trans + TabPos(s);
    for (int i = 0; i < n; i++) detail[i] = std::complex<float>(band[i] * ratio, 0.f);
    fftn1d(detail, n, False);
    over_sample(cf, coarse, n % 2 == 1 ? 2 * coarse - 1 : 2 * coarse);
    wave_mult(cf, detail, n, s, N, False);
    for (int i = 0; i < n; i++) cf[i] += detail[i];
  }
}

void WT1D_FFT::recons(to_array<float, true>& Trans, to_array<float, true>& Signal, int NbrScale) {
  check_nbr_scale(NbrScale);
  if (WaveType == 1) {
    int N = Trans.nx();
    if (Trans.n_elem() < N * (long long)NbrScale)
      bad_pyramid(Trans.nx(), N * NbrScale, N, NbrScale);
    if (Signal.nx() != N || Signal.naxis() != 1) Signal.reform(N);
    float* x = Signal.buffer();
    const float* trans = Trans.buffer();
    std::fill(x, x + N, 0.f);
    for (int s = NbrScale - 1; s >= 0; s--) {
      const float* band = trans + size_t(s) * N;
      for (int i = 0; i < N; i++) x[i] += band[i];
    }
    return;
  }
  if (!known_wave_type()) {
    unknown_transform_message();
    return;
  }
  int N = Signal.nx();
  set_length(SignalCF, N);
  set_length(Buff2, N);
  recons_cf(Trans, SignalCF, NbrScale);
  std::complex<float>* work = Buff2.buffer();
  std::copy(SignalCF.buffer(), SignalCF.buffer() + N, work);
  fftn1d(work, N, True);
  float* x = Signal.buffer();
  for (int i = 0; i < N; i++) x[i] = work[i].real();
}

// ---- Many lines at once ----

void WT1D_FFT::check_pyramid_lines(int NbrScale, int N) {
  check_nbr_scale(NbrScale);
  if (WaveType != 2 && WaveType != 3)
    fatal_exitf(-1, stdout, "Error: wavelet type %d has no many-line transform ... \n", WaveType);
  Np = pyr_tab_pos(NbrScale, N);
}

// The general engine takes the lengths the short-line FFT does not.
const int* WT1D_FFT::fft_pairs(float* values, int count, int n, int sign) {
  if (ShortFFT::handles(n)) {
    short_fft_.transform_lines(values, n, static_cast<size_t>(count), sign);
    return short_fft_.bit_reversed(n);
  }
  const size_t total = static_cast<size_t>(count) * n;
  if (n > 1 && fftradixf(values, values + 1, total, n, n, 2 * sign, 0, 0) != 0) FFTN::fft_error();
  if (natural_order_.size() < static_cast<size_t>(n)) {
    natural_order_.resize(n);
    for (int q = 0; q < n; q++) natural_order_[q] = q;
  }
  return natural_order_.data();
}

// Only the real part of each line's inverse is kept, and that is the
// inverse of the line's Hermitian part, which is real: so two lines share
// one complex FFT, line a's Hermitian part plus i times line b's coming back
// as a in the real parts and b in the imaginary parts. The pairs are packed
// straight from the centred spectra, times the high-pass gain of the scale
// when there is one. An odd last line pairs with zeros.
void WT1D_FFT::pack_pairs(const std::complex<float>* Spectra, size_t Stride, int NbrLine, int n,
                          const float* gain) {
  const int nbr_pair = (NbrLine + 1) / 2;
  const size_t count = static_cast<size_t>(nbr_pair) * n;
  if (pairs_.size() < count) pairs_.resize(count);
#if QZ_AVX2_ENTRY
  if (cpu_has_avx2()) {
    pack_lines_avx2(Spectra, Stride, NbrLine, n, gain, pairs_.data());
    return;
  }
#endif
  pack_lines_plain(Spectra, Stride, NbrLine, n, gain, pairs_.data());
}

// The inverse FFTs of the packed pairs; the inverse's 1/n is applied in
// double and rounded once, as the 1D front end does it.
void WT1D_FFT::pairs_to_bands(int NbrLine, int n, float ratio, float* Band, size_t BandStride) {
  pairs_to_bands((NbrLine + 1) / 2, NbrLine % 2 == 0, n, ratio, Band, Band + BandStride,
                 2 * BandStride);
}

void WT1D_FFT::pairs_to_bands(int NbrPair, bool LastPartner, int n, float ratio, float* BandA,
                              float* BandB, size_t PairStride) {
  float* values = reinterpret_cast<float*>(pairs_.data());
  const int* order = fft_pairs(values, NbrPair, n, -1);
  const double scale = 1. / static_cast<double>(n);
  const int half = n / 2;
  // With n and the ratio powers of two both factors only move the exponent,
  // so float products by them round as the double product and the division
  // do (once, the same exact value).
  const bool power_of_two = (n & (n - 1)) == 0 && std::exp2(std::ilogb(ratio)) == ratio;
  // The product of two powers of two is exact: one multiply does for both
  // (the results differ only where a value falls below the normal range).
  const float factor = static_cast<float>(scale) * (1.f / ratio);
  int first = 0;
#if QZ_AVX2_ENTRY
  if (power_of_two && ShortFFT::handles(n) && cpu_has_avx2())
    first = unscramble_pairs_avx2(values, order, LastPartner ? NbrPair : NbrPair - 1, n, factor,
                                  BandA, BandB, PairStride);
#endif
  if (first == NbrPair) return;
  // Where the value at each place of a transformed line goes in its band:
  // frequency q (natural order) is centred index q + n/2, wrapped.
  band_place_.resize(n);
  for (int p = 0; p < n; p++) band_place_[p] = (order[p] + half) % n;
  const int* place = band_place_.data();
  auto scatter = [&](auto to_band) {
    // A pair's line a in the real parts, line b in the imaginary parts.
    for (int p = first; p < NbrPair; p++) {
      const float* z = values + static_cast<size_t>(p) * 2 * n;
      float* band_a = BandA + p * PairStride;
      if (p + 1 < NbrPair || LastPartner) {
        float* band_b = BandB + p * PairStride;
        for (int k = 0; k < n; k++) {
          band_a[place[k]] = to_band(z[2 * k]);
          band_b[place[k]] = to_band(z[2 * k + 1]);
        }
      } else {
        for (int k = 0; k < n; k++) band_a[place[k]] = to_band(z[2 * k]);
      }
    }
  };
  if (power_of_two)
    scatter([=](float value) { return value * factor; });
  else
    scatter([=](float value) { return static_cast<float>(value * scale) / ratio; });
}

// The lines are real, so two share one complex FFT: line a in the real
// parts, line b in the imaginary parts, and their spectra are the Hermitian
// and anti-Hermitian parts of the result. An odd last line pairs with zeros.
void WT1D_FFT::real_lines_to_spectra(const float* Band, size_t BandStride, int NbrLine, int n,
                                     float ratio, std::complex<float>* Out, size_t OutStride) {
  const int nbr_pair = (NbrLine + 1) / 2;
  const size_t count = static_cast<size_t>(nbr_pair) * n;
  if (pairs_.size() < count) pairs_.resize(count);
  const int half = n / 2, rest = n - half;
  for (int p = 0; p < nbr_pair; p++) {
    const float* a = Band + 2 * p * BandStride;
    std::complex<float>* z = pairs_.data() + static_cast<size_t>(p) * n;
    // Centred index c is natural index c - n/2, wrapped.
    if (2 * p + 1 < NbrLine) {
      const float* b = a + BandStride;
      for (int c = 0; c < half; c++) z[c + rest] = std::complex<float>(a[c] * ratio, b[c] * ratio);
      for (int c = half; c < n; c++) z[c - half] = std::complex<float>(a[c] * ratio, b[c] * ratio);
    } else {
      for (int c = 0; c < half; c++) z[c + rest] = std::complex<float>(a[c] * ratio, 0.f);
      for (int c = half; c < n; c++) z[c - half] = std::complex<float>(a[c] * ratio, 0.f);
    }
  }
  const int* order = fft_pairs(reinterpret_cast<float*>(pairs_.data()), nbr_pair, n, 1);
  // Natural index q is centred index q + n/2, wrapped.
  auto centred = [half, rest](int q) { return q < rest ? q + half : q - rest; };
  for (int p = 0; p < nbr_pair; p++) {
    const std::complex<float>* z = pairs_.data() + static_cast<size_t>(p) * n;
    std::complex<float>* a = Out + 2 * p * OutStride;
    std::complex<float>* b = 2 * p + 1 < NbrLine ? a + OutStride : nullptr;
    a[half] = std::complex<float>(z[order[0]].real(), 0.f);
    if (b) b[half] = std::complex<float>(z[order[0]].imag(), 0.f);
    // q and -q together: the spectra at -q are the conjugates of those at q.
    for (int q = 1; q <= half; q++) {
      const int m = n - q;
      const std::complex<float> zq = z[order[q]], zm = z[order[m]];
      const float zr = zq.real(), zi = zq.imag(), wr = zm.real(), wi = zm.imag();
      const std::complex<float> at_a(0.5f * (zr + wr), 0.5f * (zi - wi));
      a[centred(q)] = at_a;
      a[centred(m)] = std::conj(at_a);
      if (b) {
        const std::complex<float> at_b(0.5f * (zi + wi), 0.5f * (wr - zr));
        b[centred(q)] = at_b;
        b[centred(m)] = std::conj(at_b);
      }
    }
  }
}

void WT1D_FFT::transform_cf_lines(std::complex<float>* Spectra, int NbrLine, int N,
                                  float* const* Bands, size_t BandStride, int NbrScale) {
  check_pyramid_lines(NbrScale, N);
  transform_cf_lines_from(0, N, Spectra, NbrLine, N, Bands, BandStride, NbrScale);
}

void WT1D_FFT::transform_cf_lines_from(int FirstScale, int ni, std::complex<float>* Spectra,
                                       int NbrLine, int N, float* const* Bands,
                                       size_t BandStride, int NbrScale) {
  const size_t width = static_cast<size_t>(N);
  const int last = NbrScale - 1;
  for (int s = FirstScale; s < last; s++) {
    if (TabSize(s) != ni) fatal_exit("Errror: Ni and Ns are not equal ... \n", -1);
    const ScaleFilters& f = scale_filters(s, ni, N);
    pack_pairs(Spectra, width, NbrLine, ni, f.g_pass_parts.data());
    pairs_to_bands(NbrLine, ni, float(N) / float(ni), Bands[s], BandStride);
    const int next = low_pass_cut_lines(f, Spectra, width, NbrLine, ni);
    if (NbrLine > 0) ni = next;
  }
  const int size = TabSize(last);
  if (size != ni) fatal_exit("Errror: Ni and Ns are not equal .... \n", -1);
  pack_pairs(Spectra, width, NbrLine, size, nullptr);
  pairs_to_bands(NbrLine, size, float(N) / float(size), Bands[last], BandStride);
}

namespace {

// Sample c of a line of the Radon spectra of the two blocks, from the 2D
// spectrum s of block A + i block B: the Hermitian part for A and the
// anti-Hermitian part over i for B (zero without a source).
struct SplitSample {
  std::complex<float> a, b;
};
inline SplitSample split_sample(const std::complex<float>* s, int source, int mirror) {
  if (source < 0) return {};
  const std::complex<float> z = s[source], w = s[mirror];
  return {{0.5f * (z.real() + w.real()), 0.5f * (z.imag() - w.imag())},
          {0.5f * (z.imag() + w.imag()), 0.5f * (w.real() - z.real())}};
}

#ifdef __SSE2__
constexpr std::complex<float> kZeroSample{};

// Samples i0 and i1 of s in one register; a negative index gives zeros.
inline __m128 two_samples(const std::complex<float>* s, int i0, int i1) {
  const auto* at0 = reinterpret_cast<const __m64*>(i0 >= 0 ? s + i0 : &kZeroSample);
  const auto* at1 = reinterpret_cast<const __m64*>(i1 >= 0 ? s + i1 : &kZeroSample);
  return _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), at0), at1);
}

// split_sample at centred indices c and c + 1, times their low-pass gains,
// into two values of low_a and of low_b. The lanes do split_sample's
// operations (x - y as x + (-y), a sum's terms in either order), so the
// values are its values.
inline void low_pass_pair(const std::complex<float>* s, const int* source, const int* mirror,
                          const float* h, int c, std::complex<float>* low_a,
                          std::complex<float>* low_b) {
  const int s0 = source[c], s1 = source[c + 1];
  const __m128 z = two_samples(s, s0, s1);
  // Without a source the split sample is zero and its mirror is not read.
  const __m128 w = two_samples(s, s0 >= 0 ? mirror[c] : -1, s1 >= 0 ? mirror[c + 1] : -1);
  const __m128 conj = _mm_setr_ps(1.f, -1.f, 1.f, -1.f), one_half = _mm_set1_ps(0.5f);
  const __m128 z_swapped = _mm_shuffle_ps(z, z, _MM_SHUFFLE(2, 3, 0, 1));
  const __m128 w_swapped = _mm_shuffle_ps(w, w, _MM_SHUFFLE(2, 3, 0, 1));
  const __m128 a = _mm_mul_ps(one_half, _mm_add_ps(z, _mm_mul_ps(w, conj)));
  const __m128 b = _mm_mul_ps(one_half, _mm_add_ps(_mm_mul_ps(z_swapped, conj), w_swapped));
  const __m128 gain = _mm_setr_ps(h[c], h[c], h[c + 1], h[c + 1]);
  _mm_storeu_ps(reinterpret_cast<float*>(low_a), _mm_mul_ps(a, gain));
  _mm_storeu_ps(reinterpret_cast<float*>(low_b), _mm_mul_ps(b, gain));
}
#endif

// Herm(a·g) + i·Herm(b·g) at centred index c of a line, mc its mirror
// (none when mc is N), from the split samples, as pack_pair computes it.
QZ_ALWAYS_INLINE std::complex<float> packed_sample(const std::complex<float>* s,
                                                   const int* source, const int* mirror,
                                                   const float* g, int c, int mc, int N) {
  const SplitSample at = split_sample(s, source[c], mirror[c]);
  // Even N, centred index 0: its own mirror, the real parts only.
  if (mc >= N) return {at.a.real() * g[c], at.b.real() * g[c]};
  const SplitSample at_mirror = split_sample(s, source[mc], mirror[mc]);
  const float ar = 0.5f * (at.a.real() * g[c] + at_mirror.a.real() * g[mc]);
  const float ai = 0.5f * (at.a.imag() * g[c] - at_mirror.a.imag() * g[mc]);
  const float br = 0.5f * (at.b.real() * g[c] + at_mirror.b.real() * g[mc]);
  const float bi = 0.5f * (at.b.imag() * g[c] - at_mirror.b.imag() * g[mc]);
  return {ar - bi, ai + br};
}

}  // namespace

void WT1D_FFT::transform_cf_block_pair(const std::complex<float>* Spectrum2D, const int* Source,
                                       const int* Mirror, const int* EvenSource, int NbrLine,
                                       int N,
                                       float* const* BandsA, float* const* BandsB,
                                       size_t BandStride, int NbrScale,
                                       std::complex<float>* SpectraA,
                                       std::complex<float>* SpectraB) {
  check_pyramid_lines(NbrScale, N);
  const size_t width = static_cast<size_t>(N);
  if (NbrScale < 2) {
    // No detail scale: the blocks' spectra go whole to the coarsest one.
    for (size_t k = 0; k < static_cast<size_t>(NbrLine) * width; k++) {
      const SplitSample v = split_sample(Spectrum2D, Source[k], Mirror[k]);
      SpectraA[k] = v.a;
      SpectraB[k] = v.b;
    }
    transform_cf_lines_from(0, N, SpectraA, NbrLine, N, BandsA, BandStride, NbrScale);
    transform_cf_lines_from(0, N, SpectraB, NbrLine, N, BandsB, BandStride, NbrScale);
    return;
  }
  if (TabSize(0) != N) fatal_exit("Errror: Ni and Ns are not equal ... \n", -1);
  const ScaleFilters& f = scale_filters(0, N, N);
  const size_t count = static_cast<size_t>(NbrLine) * width;
  if (pairs_.size() < count) pairs_.resize(count);
  const float* g = f.g_pass.data();
  const float* g_even = f.g_pass_even.data();
  const float* h = f.h.data();
  const int half = N / 2, mirror_sum = N % 2 == 0 ? N : N - 1;
  const int m = (N + 1) / 2, offset = N / 2 - m / 2;
  const int first = std::max(f.first, offset), last = std::min(f.last, offset + m);
  for (int l = 0; l < NbrLine; l++) {
    const int* source = Source + l * width;
    const int* mirror = Mirror + l * width;
    // Line l of block A and line l of block B share the first scale's FFT:
    // z = Herm(a·g) + i·Herm(b·g), as pack_pairs makes it. Where the
    // samples at c and at its mirror are each other's opposite points, a
    // and b are exactly Hermitian there and z is the 2D sample times the
    // even part of g.
    const int* even = EvenSource + l * width;
    std::complex<float>* z = pairs_.data() + l * width;
    auto one = [&](int c, int q) QZ_LAMBDA_INLINE {
      const int e = even[c];
      z[q] = e >= 0 ? Spectrum2D[e] * g_even[c]
                    : packed_sample(Spectrum2D, source, mirror, g, c, mirror_sum - c, N);
    };
    // Centred indices [begin, end) to natural index c + shift, two at a
    // time where both are exactly Hermitian.
    auto ones = [&](int begin, int end, int shift) QZ_LAMBDA_INLINE {
      int c = begin;
#ifdef __SSE2__
      for (; c + 1 < end; c += 2) {
        const int e0 = even[c], e1 = even[c + 1];
        if ((e0 | e1) < 0) {
          one(c, c + shift);
          one(c + 1, c + 1 + shift);
          continue;
        }
        const __m128 gain = _mm_setr_ps(g_even[c], g_even[c], g_even[c + 1], g_even[c + 1]);
        _mm_storeu_ps(reinterpret_cast<float*>(z + c + shift),
                      _mm_mul_ps(two_samples(Spectrum2D, e0, e1), gain));
      }
#endif
      for (; c < end; c++) one(c, c + shift);
    };
    // Natural index q is centred index q + N/2, wrapped.
    ones(half, N, -half);
    ones(0, half, N - half);
    // The low-pass spectra, cut to their central values (low_pass_cut_lines):
    // the values the filter reaches are [lo, hi), the others zeros.
    std::complex<float>* low_a = SpectraA + l * width;
    std::complex<float>* low_b = SpectraB + l * width;
    const int lo = std::min(first, offset + m), hi = std::max(lo, last);
    for (int c = offset; c < lo; c++) low_a[c - offset] = low_b[c - offset] = 0.f;
    int c = lo;
#ifdef __SSE2__
    for (; c + 1 < hi; c += 2)
      low_pass_pair(Spectrum2D, source, mirror, h, c, low_a + (c - offset), low_b + (c - offset));
#endif
    for (; c < hi; c++) {
      const SplitSample v = split_sample(Spectrum2D, source[c], mirror[c]);
      low_a[c - offset] = {v.a.real() * h[c], v.a.imag() * h[c]};
      low_b[c - offset] = {v.b.real() * h[c], v.b.imag() * h[c]};
    }
    for (c = hi; c < offset + m; c++) low_a[c - offset] = low_b[c - offset] = 0.f;
  }
  pairs_to_bands(NbrLine, true, N, 1.f, BandsA[0], BandsB[0], BandStride);
  transform_cf_lines_from(1, m, SpectraA, NbrLine, N, BandsA, BandStride, NbrScale);
  transform_cf_lines_from(1, m, SpectraB, NbrLine, N, BandsB, BandStride, NbrScale);
}

void WT1D_FFT::recons_cf_lines(const float* const* Bands, size_t BandStride, int NbrLine, int N,
                               std::complex<float>* Spectra, int NbrScale) {
  check_pyramid_lines(NbrScale, N);
  const size_t width = static_cast<size_t>(N);
  if (high_.size() < NbrLine * width) high_.resize(NbrLine * width);
  const int last = NbrScale - 1;
  int n = TabSize(last);
  real_lines_to_spectra(Bands[last], BandStride, NbrLine, n, float(N) / float(n), Spectra, width);
  for (int s = NbrScale - 2; s >= 0; s--) {
    const int coarse = n;
    n = TabSize(s);
    real_lines_to_spectra(Bands[s], BandStride, NbrLine, n, float(N) / float(n), high_.data(), n);
    const ScaleFilters& f = scale_filters(s, n, N);
    for (int l = 0; l < NbrLine; l++)
      add_synthesis(f, Spectra + l * width, coarse, high_.data() + static_cast<size_t>(l) * n, n);
  }
}
