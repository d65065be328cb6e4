// Mixed-radix complex FFT (Singleton's factor order and kernels) in single
// and double precision. Each dimension is a decimation in frequency: one pass
// per factor, in the order of the factor list, each followed by its rotation
// factors, then a digit-reversal permutation into natural order.
//
// The rotation factors of each pass come from the sine recurrence below; they
// depend only on the length, so they are computed once per length and kept in
// a small cache of plans (the results are the same as recomputing them on
// every call). The shared work arrays hold the lines being transformed:
// Tmp0 gathers strided lines (several at a time, for the cache), Tmp1 is the
// permutation buffer, Tmp2/Tmp3 the sums/differences and outputs of a
// general odd factor, Perm the digit-reversal index of the current length.
#include "numerics/fftn.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <type_traits>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "array/fatal.h"

unsigned SpaceAlloced = 0;
unsigned MaxPermAlloced = 0;
void* Tmp0 = nullptr;
void* Tmp1 = nullptr;
void* Tmp2 = nullptr;
void* Tmp3 = nullptr;
int* Perm = nullptr;

namespace {
// The length whose digit-reversal permutation Perm holds (0: none), so that
// repeated transforms of one length build it once.
unsigned long perm_length = 0;
}  // namespace

void fft_free() {
  perm_length = 0;
  SpaceAlloced = 0;
  MaxPermAlloced = 0;
  for (void** p : {&Tmp0, &Tmp1, &Tmp2, &Tmp3}) {
    if (*p != nullptr) std::free(*p);
    *p = nullptr;
  }
  if (Perm != nullptr) std::free(Perm);
  Perm = nullptr;
}

bool fft_factorize(unsigned long n, int factors[FftMaxFactors + 1], int* count) {
  int nf = 0;
  bool ok = true;
  auto append = [&](unsigned long f) {
    if (nf >= FftMaxFactors) {
      ok = false;
      if (nf == FftMaxFactors) factors[nf++] = static_cast<int>(f);
      return;
    }
    factors[nf++] = static_cast<int>(f);
  };
  std::vector<unsigned long> squares;
  while (n % 16 == 0) {
    squares.push_back(4);
    n /= 16;
  }
  for (unsigned long j = 3; j * j <= n; j += 2) {
    while (n % (j * j) == 0) {
      squares.push_back(j);
      n /= j * j;
    }
  }
  for (unsigned long f : squares) append(f);
  bool square_two = false;
  if (n <= 4) {
    if (n != 1) append(n);
  } else {
    if (n % 4 == 0) {
      append(2);
      square_two = true;
      n /= 4;
    }
    for (unsigned long j = 2; j <= n; j = (j == 2) ? 3 : j + 2) {
      if (n % j == 0) {
        append(j);
        n /= j;
      }
    }
  }
  if (square_two) append(2);
  for (auto it = squares.rbegin(); it != squares.rend(); ++it) append(*it);
  *count = nf;
  return ok;
}

namespace {

template <class T>
struct Constants;
template <>
struct Constants<float> {
  static constexpr float sin60 = 0.8660254f;
  static constexpr float cos72 = 0.30901699f;
  static constexpr float sin72 = 0.95105652f;
  static constexpr float pi = 3.1415927f;
  static constexpr const char* top = "fftnf";
  static constexpr const char* pass = "fftradixf";
};
template <>
struct Constants<double> {
  static constexpr double sin60 = 0.8660254037844386;
  static constexpr double cos72 = 0.3090169943749474;
  static constexpr double sin72 = 0.9510565162951535;
  static constexpr double pi = 3.141592653589793;
  static constexpr const char* top = "fftn";
  static constexpr const char* pass = "fftradix";
};

// One pass: blocks of `span` values split by `factor` into `span/factor`
// butterflies. rot holds, for butterfly k and output r = 1 .. factor-1, the
// rotation exp(+2πi·r·k/span) as (cos, sin) pairs; the negative sign uses its
// conjugate. odd_cos/odd_sin: cos and sin of 2πj/p for a general factor p.
template <class T>
struct Pass {
  int factor;
  int span;
  std::vector<T> rot;
  std::vector<T> odd_cos, odd_sin;
  // (cos, cos, sin, sin) of 2πj/p, for the sign + and -, so that one
  // four-wide product serves both sums of a general factor.
  std::vector<T> odd_ccss[2];
};

template <class T>
struct Plan {
  unsigned long n;
  int factors[FftMaxFactors + 1];
  int nfactors;
  std::vector<Pass<T>> passes;
};

template <class T>
void build_pass(Pass<T>& ps) {
  const int p = ps.factor, m = ps.span / p;
  const T theta = T(2) * Constants<T>::pi / T(ps.span);
  const T half_sin = std::sin(theta / T(2));
  const T cd = T(2) * half_sin * half_sin;
  const T sd = std::sin(theta);
  // w[k] = exp(iθk) by the corrected recurrence, k = 1 .. m-1.
  std::vector<T> wc(m, T(1)), ws(m, T(0));
  const int last = (p == 2) ? m / 2 : m - 1;
  if (last >= 1) {
    wc[1] = T(1) - cd;
    ws[1] = sd;
  }
  for (int k = 2; k <= last; k++) {
    T c = wc[k - 1] - (cd * wc[k - 1] + sd * ws[k - 1]);
    T s = ws[k - 1] + (sd * wc[k - 1] - cd * ws[k - 1]);
    T corr = T(2) - (c * c + s * s);
    wc[k] = c * corr;
    ws[k] = s * corr;
  }
  if (p == 2) {
    // The rotation of position m-k is that of k with its cosine negated.
    for (int k = last + 1; k < m; k++) {
      wc[k] = -wc[m - k];
      ws[k] = ws[m - k];
    }
  }
  // Stored by output r, then butterfly k: the rotations of neighbouring
  // butterflies sit side by side.
  ps.rot.assign(static_cast<size_t>(2) * m * (p - 1), T(0));
  auto at = [&](int r, int k) { return &ps.rot[2 * (static_cast<size_t>(r - 1) * m + k)]; };
  for (int k = 0; k < m; k++) {
    T c = wc[k], s = ws[k];
    at(1, k)[0] = c;
    at(1, k)[1] = s;
    if (p == 4) {
      T c2 = c * c - s * s, s2 = T(2) * c * s;
      at(2, k)[0] = c2;
      at(2, k)[1] = s2;
      at(3, k)[0] = c2 * c - s2 * s;
      at(3, k)[1] = c2 * s + s2 * c;
    } else {
      for (int q = 2; q < p; q++) {
        T pc = at(q - 1, k)[0], pss = at(q - 1, k)[1];
        at(q, k)[0] = pc * c - pss * s;
        at(q, k)[1] = pc * s + pss * c;
      }
    }
  }
  if (p > 5) {
    ps.odd_cos.assign(p, T(1));
    ps.odd_sin.assign(p, T(0));
    const T c1 = std::cos(T(2) * Constants<T>::pi / T(p));
    const T s1 = std::sin(T(2) * Constants<T>::pi / T(p));
    for (int j = 1; j <= (p - 1) / 2; j++) {
      T c = j == 1 ? c1 : ps.odd_cos[j - 1] * c1 - ps.odd_sin[j - 1] * s1;
      T s = j == 1 ? s1 : ps.odd_cos[j - 1] * s1 + ps.odd_sin[j - 1] * c1;
      ps.odd_cos[j] = c;
      ps.odd_sin[j] = s;
      ps.odd_cos[p - j] = c;
      ps.odd_sin[p - j] = -s;
    }
    for (int neg = 0; neg < 2; neg++) {
      ps.odd_ccss[neg].resize(4 * static_cast<size_t>(p));
      for (int j = 0; j < p; j++) {
        const T sj = neg ? -ps.odd_sin[j] : ps.odd_sin[j];
        T* e = &ps.odd_ccss[neg][4 * j];
        e[0] = e[1] = ps.odd_cos[j];
        e[2] = e[3] = sj;
      }
    }
  }
}

// Small most-recently-used cache of plans, one per precision.
template <class T>
const Plan<T>& get_plan(unsigned long n, const int* factors, int nfactors) {
  static std::vector<std::unique_ptr<Plan<T>>> cache;
  constexpr size_t Capacity = 32;
  for (size_t i = 0; i < cache.size(); i++) {
    if (cache[i]->n == n) {
      std::rotate(cache.begin(), cache.begin() + i, cache.begin() + i + 1);
      return *cache[0];
    }
  }
  auto plan = std::make_unique<Plan<T>>();
  plan->n = n;
  plan->nfactors = nfactors;
  std::copy(factors, factors + nfactors, plan->factors);
  unsigned long span = n;
  for (int f = 0; f < nfactors; f++) {
    Pass<T> ps;
    ps.factor = factors[f];
    ps.span = static_cast<int>(span);
    build_pass(ps);
    plan->passes.push_back(std::move(ps));
    span /= factors[f];
  }
  if (cache.size() >= Capacity) cache.pop_back();
  cache.insert(cache.begin(), std::move(plan));
  return *cache[0];
}

// A complex value, and the few operations the butterflies need. With SSE2
// the single-precision passes take two neighbouring butterflies at a time
// (Pair below) with the same operations in the same order.
template <class T>
struct Cx {
  T re, im;
};
template <class T>
inline Cx<T> operator+(Cx<T> a, Cx<T> b) { return {a.re + b.re, a.im + b.im}; }
template <class T>
inline Cx<T> operator-(Cx<T> a, Cx<T> b) { return {a.re - b.re, a.im - b.im}; }
template <class T>
inline Cx<T> scale(Cx<T> a, T f) { return {f * a.re, f * a.im}; }
template <class T>
inline Cx<T> times_i(Cx<T> a) { return {-a.im, a.re}; }
template <class T>
inline Cx<T> load(const T* p, Cx<T>*) { return {p[0], p[1]}; }
template <class T>
inline void store(T* p, Cx<T> a) {
  p[0] = a.re;
  p[1] = a.im;
}
// a times the rotation (w[0], w[1]), or its conjugate for the negative sign.
template <bool Neg, class T>
inline Cx<T> rotate(Cx<T> a, const T* w) {
  if (Neg) return {a.re * w[0] + a.im * w[1], a.im * w[0] - a.re * w[1]};
  return {a.re * w[0] - a.im * w[1], a.im * w[0] + a.re * w[1]};
}

#ifdef __SSE2__
struct Pair {
  __m128 v;  // (re, im) of two neighbouring values
};
inline Pair operator+(Pair a, Pair b) { return {_mm_add_ps(a.v, b.v)}; }
inline Pair operator-(Pair a, Pair b) { return {_mm_sub_ps(a.v, b.v)}; }
inline Pair scale(Pair a, float f) { return {_mm_mul_ps(_mm_set1_ps(f), a.v)}; }
inline __m128 sign_mask(bool real_lanes) {
  return real_lanes ? _mm_castsi128_ps(_mm_set_epi32(0, INT32_MIN, 0, INT32_MIN))
                    : _mm_castsi128_ps(_mm_set_epi32(INT32_MIN, 0, INT32_MIN, 0));
}
// (-im, re): negation is exact, so re + (-x) is re - x bit for bit.
inline Pair times_i(Pair a) {
  return {_mm_xor_ps(_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(2, 3, 0, 1)), sign_mask(true))};
}
inline Pair load(const float* p, Pair*) { return {_mm_loadu_ps(p)}; }
inline void store(float* p, Pair a) { _mm_storeu_ps(p, a.v); }
template <bool Neg>
inline Pair rotate(Pair a, const float* w) {
  const __m128 wv = _mm_loadu_ps(w);
  const __m128 c = _mm_shuffle_ps(wv, wv, _MM_SHUFFLE(2, 2, 0, 0));
  const __m128 s = _mm_shuffle_ps(wv, wv, _MM_SHUFFLE(3, 3, 1, 1));
  const __m128 swapped = _mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(2, 3, 0, 1));  // (im, re)
  // Positive: (re·c - im·s, im·c + re·s); negative: (re·c + im·s, im·c - re·s).
  return {_mm_add_ps(_mm_mul_ps(a.v, c), _mm_xor_ps(_mm_mul_ps(swapped, s), sign_mask(!Neg)))};
}
#endif

// The butterfly of factor p on the values x0 + q·step (q < p) for butterfly
// k, whose rotations are at rot + 2k for output 1, rot + 2(m + k) for
// output 2, and so on. C is Cx<T> or Pair.
template <class C, class T, bool Neg>
inline void butterfly(int p, T* x0, size_t step, const T* rot, size_t m, bool turn, T h3,
                      T c5, T s5) {
  C* tag = nullptr;
  auto at = [&](int q) { return x0 + q * step; };
  auto rotate_out = [&](int r, C y) {
    if (turn) y = rotate<Neg>(y, rot + 2 * (r - 1) * m);
    store(at(r), y);
  };
  switch (p) {
    case 2: {
      C u = load(at(0), tag), v = load(at(1), tag);
      store(at(0), u + v);
      rotate_out(1, u - v);
      break;
    }
    case 4: {
      C a0 = load(at(0), tag), a1 = load(at(1), tag), a2 = load(at(2), tag), a3 = load(at(3), tag);
      C s02 = a0 + a2, d02 = a0 - a2, s13 = a1 + a3, d13 = a1 - a3;
      C y1 = Neg ? d02 - times_i(d13) : d02 + times_i(d13);
      C y3 = Neg ? d02 + times_i(d13) : d02 - times_i(d13);
      store(at(0), s02 + s13);
      rotate_out(1, y1);
      rotate_out(2, s02 - s13);
      rotate_out(3, y3);
      break;
    }
    case 3: {
      C a0 = load(at(0), tag), a1 = load(at(1), tag), a2 = load(at(2), tag);
      C t = a1 + a2, d = scale(a1 - a2, h3);
      C a = a0 - scale(t, T(0.5));
      store(at(0), a0 + t);
      rotate_out(1, a + times_i(d));
      rotate_out(2, a - times_i(d));
      break;
    }
    case 5: {
      const T c2 = c5 * c5 - s5 * s5, s2 = T(2) * c5 * s5;
      C x0v = load(at(0), tag), a1 = load(at(1), tag), a2 = load(at(2), tag);
      C a3 = load(at(3), tag), a4 = load(at(4), tag);
      C sum1 = a1 + a4, dif1 = a1 - a4, sum2 = a2 + a3, dif2 = a2 - a3;
      C r1 = x0v + scale(sum1, c5) + scale(sum2, c2);
      C q1 = scale(dif1, s5) + scale(dif2, s2);
      C r2 = x0v + scale(sum1, c2) + scale(sum2, c5);
      C q2 = scale(dif1, s2) - scale(dif2, s5);
      store(at(0), x0v + sum1 + sum2);
      rotate_out(1, r1 + times_i(q1));
      rotate_out(2, r2 + times_i(q2));
      rotate_out(3, r2 - times_i(q2));
      rotate_out(4, r1 - times_i(q1));
      break;
    }
  }
}

// Outputs 1 .. p-1 of a general odd factor p from x0 = a0 and the sums and
// differences of the pairs (j, p - j):
// x0 + Σj cos(2πjq/p)(xj + xp-j) ± i·Σj sin(2πjq/p)(xj - xp-j).
template <class T, bool Neg>
void odd_factor_outputs(const Pass<T>& ps, const T* a0, const T* sums, T* outs) {
  const int p = ps.factor, h = (p - 1) / 2;
  auto emit = [&](int q, T sr, T si, T tr, T ti) {
    outs[2 * q] = sr - ti;
    outs[2 * q + 1] = si + tr;
    outs[2 * (p - q)] = sr + ti;
    outs[2 * (p - q) + 1] = si - tr;
  };
  int q = 1;
#ifdef __SSE2__
  if constexpr (std::is_same<T, float>::value) {
    // Four outputs at a time, each with its four sums side by side in one
    // register: every sum has the products and additions of the scalar loop
    // in the same order, and the four chains run independently.
    const float* ccss = ps.odd_ccss[Neg ? 1 : 0].data();
    auto step = [p](int& idx, int by) {
      idx += by;
      if (idx >= p) idx -= p;
    };
    auto term = [ccss](int idx, __m128 sd) { return _mm_mul_ps(_mm_loadu_ps(ccss + 4 * idx), sd); };
    for (; q + 3 <= h; q += 4) {
      __m128 acc0 = _mm_set_ps(0.f, 0.f, a0[1], a0[0]), acc1 = acc0, acc2 = acc0, acc3 = acc0;
      int i0 = 0, i1 = 0, i2 = 0, i3 = 0;
      for (int j = 1; j <= h; j++) {
        const __m128 sd = _mm_loadu_ps(sums + 4 * (j - 1));
        step(i0, q);
        step(i1, q + 1);
        step(i2, q + 2);
        step(i3, q + 3);
        acc0 = _mm_add_ps(acc0, term(i0, sd));
        acc1 = _mm_add_ps(acc1, term(i1, sd));
        acc2 = _mm_add_ps(acc2, term(i2, sd));
        acc3 = _mm_add_ps(acc3, term(i3, sd));
      }
      alignas(16) float lane[16];
      _mm_store_ps(lane, acc0);
      _mm_store_ps(lane + 4, acc1);
      _mm_store_ps(lane + 8, acc2);
      _mm_store_ps(lane + 12, acc3);
      for (int u = 0; u < 4; u++)
        emit(q + u, lane[4 * u], lane[4 * u + 1], lane[4 * u + 2], lane[4 * u + 3]);
    }
  }
#endif
  const T* oc = ps.odd_cos.data();
  const T* os = ps.odd_sin.data();
  for (; q <= h; q++) {
    T sr = a0[0], si = a0[1], tr = T(0), ti = T(0);
    int idx = 0;
    for (int j = 1; j <= h; j++) {
      idx += q;
      if (idx >= p) idx -= p;
      const T* sd = sums + 4 * (j - 1);
      const T cj = oc[idx], sj = Neg ? -os[idx] : os[idx];
      sr += cj * sd[0];
      si += cj * sd[1];
      tr += sj * sd[2];
      ti += sj * sd[3];
    }
    emit(q, sr, si, tr, ti);
  }
}

// Runs one pass over the n interleaved values of x. sums and outs hold the
// sums/differences and outputs of a general odd factor.
template <class T, bool Neg>
void run_pass(T* x, unsigned long n, const Pass<T>& ps, T* sums, T* outs) {
  const int p = ps.factor, m = ps.span / p;
  const unsigned long span = ps.span;
  const T* rot = ps.rot.data();
  const T h3 = Neg ? -Constants<T>::sin60 : Constants<T>::sin60;
  const T c5 = Constants<T>::cos72, s5 = Neg ? -Constants<T>::sin72 : Constants<T>::sin72;
  for (unsigned long base = 0; base < n; base += span) {
    T* b = x + 2 * base;
    if (p <= 5) {
      const size_t step = 2 * static_cast<size_t>(m);
      int k = 0;
#ifdef __SSE2__
      if constexpr (std::is_same<T, float>::value) {
        for (; k + 1 < m; k += 2)
          butterfly<Pair, T, Neg>(p, b + 2 * k, step, rot + 2 * k, m, true, h3, c5, s5);
      }
#endif
      for (; k < m; k++)
        butterfly<Cx<T>, T, Neg>(p, b + 2 * k, step, rot + 2 * k, m, k != 0, h3, c5, s5);
      continue;
    }
    // A general odd prime factor: a direct transform of length p.
    const int h = (p - 1) / 2;
    for (int k = 0; k < m; k++) {
      T* a0 = b + 2 * k;
      T y0r = a0[0], y0i = a0[1];
      for (int j = 1; j <= h; j++) {
        const T* xj = a0 + 2 * static_cast<size_t>(m) * j;
        const T* xk = a0 + 2 * static_cast<size_t>(m) * (p - j);
        T* sd = sums + 4 * (j - 1);
        sd[0] = xj[0] + xk[0];
        sd[1] = xj[1] + xk[1];
        sd[2] = xj[0] - xk[0];
        sd[3] = xj[1] - xk[1];
        y0r += sd[0];
        y0i += sd[1];
      }
      odd_factor_outputs<T, Neg>(ps, a0, sums, outs);
      a0[0] = y0r;
      a0[1] = y0i;
      for (int q = 1; q < p; q++) {
        T yr = outs[2 * q], yi = outs[2 * q + 1];
        T* a = a0 + 2 * static_cast<size_t>(m) * q;
        Cx<T> y{yr, yi};
        if (k != 0) y = rotate<Neg>(y, rot + 2 * (static_cast<size_t>(q - 1) * m + k));
        store(a, y);
      }
    }
  }
}

template <class T>
void run_passes(T* x, const Plan<T>& plan, bool neg, T* sums, T* outs) {
  for (const Pass<T>& ps : plan.passes) {
    if (neg) run_pass<T, true>(x, plan.n, ps, sums, outs);
    else run_pass<T, false>(x, plan.n, ps, sums, outs);
  }
}

// Lines gathered at a time from a strided dimension: enough to fill cache
// lines, few enough to keep the work arrays small for long lengths.
inline unsigned long lines_per_batch(unsigned long n) {
  unsigned long b = 65536 / n;
  return std::max(1UL, std::min(16UL, b));
}

template <class T>
int memory_failure() {
  std::fprintf(stderr, "Error: %s() - insufficient memory.\n", Constants<T>::pass);
  fft_free();
  return -1;
}

template <class T>
int radix_pass(T* re, T* im, unsigned long total, unsigned long length, unsigned long span,
               int sign, int factor_space, int perm_space) {
  if (length <= 1) return 0;
  const unsigned long n = length;
  int factors[FftMaxFactors + 1];
  int nfactors = 0;
  if (!fft_factorize(n, factors, &nfactors)) {
    std::fprintf(stderr, "Error: %s() - exceeded number of factors\n", Constants<T>::pass);
    return memory_failure<T>();
  }

  // Work arrays: sized by the longest length asked for, grown only.
  unsigned long space = std::max<unsigned long>(n, factor_space > 0 ? factor_space : 1);
  unsigned long elems = 2 * (space + 8) * std::max(2UL, lines_per_batch(space));
  unsigned long bytes = elems * sizeof(T);
  if (bytes > 0xffffffffUL) return memory_failure<T>();
  if (SpaceAlloced < bytes) {
    SpaceAlloced = static_cast<unsigned>(bytes);
    for (void** p : {&Tmp0, &Tmp1, &Tmp2, &Tmp3}) {
      std::free(*p);
      *p = std::malloc(bytes);
    }
  }
  unsigned long perm_need = std::max<unsigned long>(n, perm_space > 0 ? perm_space : 1);
  if (MaxPermAlloced < perm_need) {
    std::free(Perm);
    Perm = static_cast<int*>(std::malloc(perm_need * sizeof(int)));
    MaxPermAlloced = static_cast<unsigned>(perm_need);
    perm_length = 0;
  }
  if (!Tmp0 || !Tmp1 || !Tmp2 || !Tmp3 || !Perm) return memory_failure<T>();
  const unsigned long held = SpaceAlloced / sizeof(T);

  const Plan<T>& plan = get_plan<T>(n, factors, nfactors);
  const bool neg = sign < 0;
  const unsigned long s = static_cast<unsigned long>(sign < 0 ? -sign : sign);

  // Natural index i sits at the digit-reversed position Perm[i].
  if (perm_length != n) {
    for (unsigned long i = 0; i < n; i++) {
      unsigned long rest = i, pos = 0, m = n;
      for (int f = 0; f < nfactors; f++) {
        m /= factors[f];
        pos += (rest % factors[f]) * m;
        rest /= factors[f];
      }
      Perm[i] = static_cast<int>(pos);
    }
    perm_length = n;
  }

  T* gather = static_cast<T*>(Tmp0);
  T* order = static_cast<T*>(Tmp1);
  T* sums = static_cast<T*>(Tmp2);
  T* outs = static_cast<T*>(Tmp3);
  const unsigned long inner = span / n, outer = total / span;

  if (inner == 1 && s == 2 && im == re + 1) {
    // Contiguous interleaved lines: transform in place.
    for (unsigned long o = 0; o < outer; o++) {
      T* x = re + 2 * o * n;
      run_passes(x, plan, neg, sums, outs);
      std::copy(x, x + 2 * n, order);
      for (unsigned long i = 0; i < n; i++) {
        x[2 * i] = order[2 * static_cast<unsigned long>(Perm[i])];
        x[2 * i + 1] = order[2 * static_cast<unsigned long>(Perm[i]) + 1];
      }
    }
    return 0;
  }

  // Gathered lines lie a little more than n apart, so that lines of a
  // power-of-two length do not all fall in the same cache sets.
  const unsigned long pitch = 2 * (n + 8);
  const unsigned long batch = std::max(1UL, std::min(held / pitch, lines_per_batch(n)));
  for (unsigned long o = 0; o < outer; o++) {
    for (unsigned long i0 = 0; i0 < inner; i0 += batch) {
      const unsigned long lines = std::min(batch, inner - i0);
      for (unsigned long q = 0; q < n; q++) {
        const unsigned long row = ((o * n + q) * inner + i0) * s;
        T* to = gather + 2 * q;
        for (unsigned long t = 0; t < lines; t++) {
          to[t * pitch] = re[row + t * s];
          to[t * pitch + 1] = im[row + t * s];
        }
      }
      for (unsigned long t = 0; t < lines; t++) run_passes(gather + t * pitch, plan, neg, sums, outs);
      for (unsigned long q = 0; q < n; q++) {
        const unsigned long row = ((o * n + q) * inner + i0) * s;
        const T* from = gather + 2 * static_cast<unsigned long>(Perm[q]);
        for (unsigned long t = 0; t < lines; t++) {
          re[row + t * s] = from[t * pitch];
          im[row + t * s] = from[t * pitch + 1];
        }
      }
    }
  }
  return 0;
}

template <class T>
int fft_top(int ndim, const int dims[], T re[], T im[], int sign, double scaling) {
  int nd = 0;
  if (ndim != 0 && dims[0] != 0) nd = ndim;
  else
    while (dims[nd] != 0) nd++;
  unsigned long total = 1;
  int longest = 1;
  for (int i = 0; i < nd; i++) {
    if (dims[i] < 1) {
      std::fprintf(stderr, "Error: %s() - dimension error\n", Constants<T>::top);
      fft_free();
      return -1;
    }
    total *= static_cast<unsigned long>(dims[i]);
    longest = std::max(longest, dims[i]);
  }
  unsigned long span = 1;
  for (int i = 0; i < nd; i++) {
    span *= static_cast<unsigned long>(dims[i]);
    int status = radix_pass<T>(re, im, total, dims[i], span, sign, longest, longest);
    if (status != 0) return status;
  }
  if (scaling == 0. || scaling == 1.) return 0;
  double divisor = scaling > 0. ? scaling
                   : scaling >= -1. ? static_cast<double>(total)
                                    : std::sqrt(static_cast<double>(total));
  const double factor = 1. / divisor;
  const unsigned long s = static_cast<unsigned long>(sign < 0 ? -sign : sign);
  for (unsigned long k = 0; k < total; k++) {
    re[k * s] = static_cast<T>(re[k * s] * factor);
    im[k * s] = static_cast<T>(im[k * s] * factor);
  }
  return 0;
}

}  // namespace

int fftnf(int ndim, const int dims[], float re[], float im[], int sign, double scaling) {
  return fft_top<float>(ndim, dims, re, im, sign, scaling);
}
int fftn(int ndim, const int dims[], double re[], double im[], int sign, double scaling) {
  return fft_top<double>(ndim, dims, re, im, sign, scaling);
}
int fftradixf(float re[], float im[], unsigned long total, unsigned long length,
              unsigned long span, int sign, int factor_space, int perm_space) {
  return radix_pass<float>(re, im, total, length, span, sign, factor_space, perm_space);
}
int fftradix(double re[], double im[], unsigned long total, unsigned long length,
             unsigned long span, int sign, int factor_space, int perm_space) {
  return radix_pass<double>(re, im, total, length, span, sign, factor_space, perm_space);
}

// ---- FFTN ----

namespace {

template <class T>
void scale_by_count(T* data, int64_t n) {
  const double factor = 1. / static_cast<double>(n);
  for (int64_t k = 0; k < 2 * n; k++) data[k] = static_cast<T>(data[k] * factor);
}

template <class T, class Engine>
void run_engine(Engine engine, T* data, const int* dims, int ndim, Bool inverse) {
  int status = engine(ndim, dims, data, data + 1, inverse ? -2 : 2, 0.);
  if (inverse == True) {
    int64_t n = 1;
    for (int i = 0; i < ndim; i++) n *= dims[i];
    if (n > 0) scale_by_count(data, n);
  }
  if (status != 0) FFTN::fft_error();
}

}  // namespace

void FFTN::scale_reverse(float* data, int n) { scale_by_count(data, n); }
void FFTN::scale_reverse(double* data, int n) { scale_by_count(data, n); }

void FFTN::fft_error() { fatal_exit("Error in FFT computation ... \n", -1, stdout); }

void FFTN::transform1d(float* data, int length, Bool inverse) {
  int dims[1] = {length};
  run_engine(fftnf, data, dims, 1, inverse);
}
void FFTN::transform1d(double* data, int length, Bool inverse) {
  int dims[1] = {length};
  run_engine(fftn, data, dims, 1, inverse);
}
void FFTN::transform2d(float* data, int first, int second, Bool inverse) {
  int dims[2] = {first, second};
  run_engine(fftnf, data, dims, 2, inverse);
}
void FFTN::transform2d(double* data, int first, int second, Bool inverse) {
  int dims[2] = {first, second};
  run_engine(fftn, data, dims, 2, inverse);
}
void FFTN::transform3d(float* data, int first, int second, int third, Bool inverse) {
  int dims[3] = {first, second, third};
  run_engine(fftnf, data, dims, 3, inverse);
}
void FFTN::transform3d(double* data, int first, int second, int third, Bool inverse) {
  int dims[3] = {first, second, third};
  run_engine(fftn, data, dims, 3, inverse);
}
