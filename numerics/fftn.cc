// Mixed-radix complex FFT (Singleton's factor order and kernels) in single
// and double precision. Each dimension is a decimation in frequency: one pass
// per factor, in the order of the factor list, each followed by its rotation
// factors, then a digit-reversal permutation into natural order.
//
// Everything that depends on the length alone (rotation factors, the tables
// of a general odd factor, the digit-reversal index) lives in an immutable
// plan, built once and shared through a locked cache, so that any number of
// threads may transform at once. The lines being transformed live in work
// buffers of the calling thread, which only grow: no process-wide scratch,
// and no allocation per call once a thread has seen its longest length.
//
// A large prime factor is not summed directly (p² products per butterfly):
// its length-p transform is a chirp-z convolution (Bluestein) of a smooth
// length, computed by the same engine.
#include "numerics/fftn.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#ifdef _OPENMP
#include <omp.h>
#endif

#include "array/cpu_dispatch.h"
#include "array/fatal.h"

// Kept for the programs that name them; the engine's work space is per
// thread, so these never hold anything.
unsigned SpaceAlloced = 0;
unsigned MaxPermAlloced = 0;
void* Tmp0 = nullptr;
void* Tmp1 = nullptr;
void* Tmp2 = nullptr;
void* Tmp3 = nullptr;
int* Perm = nullptr;

void fft_free() {
  // Every FFT object's destructor lands here, from whichever thread ends it.
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  SpaceAlloced = 0;
  MaxPermAlloced = 0;
  for (void** p : {&Tmp0, &Tmp1, &Tmp2, &Tmp3}) {
    std::free(*p);
    *p = nullptr;
  }
  std::free(Perm);
  Perm = nullptr;
}

bool fft_in_parallel_region() {
#ifdef _OPENMP
  return omp_in_parallel() != 0;
#else
  return false;
#endif
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
  static constexpr const char* top = "fftnf";
  static constexpr const char* pass = "fftradixf";
};
template <>
struct Constants<double> {
  static constexpr double sin60 = 0.8660254037844386;
  static constexpr double cos72 = 0.3090169943749474;
  static constexpr double sin72 = 0.9510565162951535;
  static constexpr const char* top = "fftn";
  static constexpr const char* pass = "fftradix";
};
constexpr double Pi = 3.141592653589793;

// Above this a prime factor takes the chirp-z convolution instead of the
// direct sum: the measured crossover of the two on groups of lines of
// length p (one thread).
constexpr int ChirpMinFactor = 60;

template <class T>
struct Plan;

// The length-p transform of a large prime factor as a circular convolution
// of length m ≥ 2p - 1: X[k] = w[k]·Σj (x[j]·w[j])·conj(w[k - j]) with
// w[j] = exp(±iπj²/p). Index [0] serves the positive sign, [1] the negative.
template <class T>
struct Chirp {
  unsigned long m = 0;
  std::shared_ptr<const Plan<T>> conv;  // plan of length m (factors 2 to 5)
  std::vector<T> wave[2];               // w[j], j < p, as (re, im)
  std::vector<T> kernel[2];             // transform (positive sign) of conj(w) / m
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
  std::vector<T> rot_twin;  // float only: each rotation twice, (c, s, c, s)
  std::vector<T> odd_cos, odd_sin;
  // (cos, cos, sin, sin) of 2πj/p, for the sign + and -, so that one
  // four-wide product serves both sums of a general factor.
  std::vector<T> odd_ccss[2];
  std::shared_ptr<const Chirp<T>> chirp;  // set for a large prime factor
};

template <class T>
struct Plan {
  unsigned long n = 0;
  std::vector<Pass<T>> passes;
  std::vector<int> perm;  // natural index i sits at position perm[i]
  size_t odd_work = 0;    // largest general factor (its sums and outputs)
  size_t conv_work = 0;   // values of one chirp convolution line
  bool factored = true;   // false: too many factors, the plan is empty
};

// Every rotation is evaluated directly in double from its exact phase
// (r·k mod span) and rounded once to the working precision: a recurrence
// drifts by a rounding per step, which on long lengths (and inside the chirp
// convolutions) would exceed the rounding of the transform itself.
template <class T>
void build_pass(Pass<T>& ps) {
  const int p = ps.factor, m = ps.span / p;
  const unsigned long span = ps.span;
  // Stored by output r, then butterfly k: the rotations of neighbouring
  // butterflies sit side by side.
  ps.rot.assign(static_cast<size_t>(2) * m * (p - 1), T(0));
  for (int r = 1; r < p; r++) {
    for (int k = 0; k < m; k++) {
      const unsigned long phase = (static_cast<unsigned long>(r) * k) % span;
      const double angle = 2. * Pi * static_cast<double>(phase) / span;
      T* at = &ps.rot[2 * (static_cast<size_t>(r - 1) * m + k)];
      at[0] = static_cast<T>(std::cos(angle));
      at[1] = static_cast<T>(std::sin(angle));
    }
  }
  if (std::is_same<T, float>::value) {
    ps.rot_twin.resize(2 * ps.rot.size());
    for (size_t i = 0; i < ps.rot.size(); i += 2) {
      ps.rot_twin[2 * i] = ps.rot_twin[2 * i + 2] = ps.rot[i];
      ps.rot_twin[2 * i + 1] = ps.rot_twin[2 * i + 3] = ps.rot[i + 1];
    }
  }
  if (p > 5 && !ps.chirp) {
    ps.odd_cos.assign(p, T(1));
    ps.odd_sin.assign(p, T(0));
    for (int j = 1; j <= (p - 1) / 2; j++) {
      const double c = std::cos(2. * Pi * j / p), s = std::sin(2. * Pi * j / p);
      ps.odd_cos[j] = ps.odd_cos[p - j] = static_cast<T>(c);
      ps.odd_sin[j] = static_cast<T>(s);
      ps.odd_sin[p - j] = static_cast<T>(-s);
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

// Four neighbouring lanes under one rotation, (re, im) of each in one wide
// register, with the operations of Pair. Written on the compiler's vector
// types so that the AVX2 entry of the passes compiles each to one
// instruction; every use is inlined there (hence no concern for the ABI of
// passing such registers between functions of different instruction sets;
// the compiler reports that concern at the end of the file, so it is
// silenced up to there).
#if QZ_AVX2_ENTRY
#pragma GCC diagnostic ignored "-Wpsabi"
typedef float QuadLanes __attribute__((vector_size(32)));
typedef int QuadBits __attribute__((vector_size(32)));
struct Quad {
  QuadLanes v;  // (re, im) of four neighbouring values
};
QZ_ALWAYS_INLINE Quad operator+(Quad a, Quad b) { return {a.v + b.v}; }
QZ_ALWAYS_INLINE Quad operator-(Quad a, Quad b) { return {a.v - b.v}; }
QZ_ALWAYS_INLINE Quad scale(Quad a, float f) { return {f * a.v}; }
// Negation by the sign bit, as Pair does: re + (-x) is re - x bit for bit.
QZ_ALWAYS_INLINE QuadLanes negate_lanes(QuadLanes a, bool real_lanes) {
  const int m = INT32_MIN;
  const QuadBits real = {m, 0, m, 0, m, 0, m, 0}, imaginary = {0, m, 0, m, 0, m, 0, m};
  return reinterpret_cast<QuadLanes>(reinterpret_cast<QuadBits>(a) ^ (real_lanes ? real : imaginary));
}
QZ_ALWAYS_INLINE QuadLanes swap_parts(QuadLanes a) {
  return __builtin_shufflevector(a, a, 1, 0, 3, 2, 5, 4, 7, 6);
}
QZ_ALWAYS_INLINE Quad times_i(Quad a) { return {negate_lanes(swap_parts(a.v), true)}; }
QZ_ALWAYS_INLINE Quad load(const float* p, Quad*) {
  Quad a;
  std::memcpy(&a.v, p, sizeof a.v);
  return a;
}
QZ_ALWAYS_INLINE void store(float* p, Quad a) { std::memcpy(p, &a.v, sizeof a.v); }
// All four lanes turned by the one rotation (w[0], w[1]).
template <bool Neg>
QZ_ALWAYS_INLINE Quad rotate(Quad a, const float* w) {
  return {a.v * w[0] + negate_lanes(swap_parts(a.v) * w[1], !Neg)};
}
#endif

// The butterfly of factor P on the values x0 + q·step (q < P), whose
// rotation for output r is at rot + (r - 1)·rot_step. C is Cx<T> or Pair.
template <int P, class C, class T, bool Neg>
QZ_ALWAYS_INLINE void butterfly(T* x0, size_t step, const T* rot, size_t rot_step, bool turn, T h3,
                                T c5, T s5) {
  C* tag = nullptr;
  auto at = [&](int q) QZ_LAMBDA_INLINE { return x0 + q * step; };
  auto rotate_out = [&](int r, C y) QZ_LAMBDA_INLINE {
    if (turn) y = rotate<Neg>(y, rot + (r - 1) * rot_step);
    store(at(r), y);
  };
  if constexpr (P == 2) {
    C u = load(at(0), tag), v = load(at(1), tag);
    store(at(0), u + v);
    rotate_out(1, u - v);
  } else if constexpr (P == 4) {
    C a0 = load(at(0), tag), a1 = load(at(1), tag), a2 = load(at(2), tag), a3 = load(at(3), tag);
    C s02 = a0 + a2, d02 = a0 - a2, s13 = a1 + a3, d13 = a1 - a3;
    C y1 = Neg ? d02 - times_i(d13) : d02 + times_i(d13);
    C y3 = Neg ? d02 + times_i(d13) : d02 - times_i(d13);
    store(at(0), s02 + s13);
    rotate_out(1, y1);
    rotate_out(2, s02 - s13);
    rotate_out(3, y3);
  } else if constexpr (P == 3) {
    C a0 = load(at(0), tag), a1 = load(at(1), tag), a2 = load(at(2), tag);
    C t = a1 + a2, d = scale(a1 - a2, h3);
    C a = a0 - scale(t, T(0.5));
    store(at(0), a0 + t);
    rotate_out(1, a + times_i(d));
    rotate_out(2, a - times_i(d));
  } else {
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


// Work buffers of one thread. They only grow, and a failure to grow them
// is reported instead of thrown (they are sized inside parallel loops).
template <class T>
struct Scratch {
  std::vector<T> lines;  // lines gathered from the data
  std::vector<T> sums;   // sums and differences of a general factor
  std::vector<T> outs;   // its outputs
  std::vector<T> conv;   // one chirp convolution line ...
  std::vector<T> order;  // ... and its natural-order copy

  bool fit(const Plan<T>& plan, size_t lanes) {
    try {
      grow(lines, 2 * plan.n * lanes);
      grow(sums, 4 * plan.odd_work);
      grow(outs, 2 * plan.odd_work * lanes);
      grow(conv, 2 * plan.conv_work * lanes);
      grow(order, 2 * plan.conv_work * lanes);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  static void grow(std::vector<T>& v, size_t n) {
    if (v.size() < n) v.resize(n);
  }
};

template <class T>
Scratch<T>& thread_scratch() {
  thread_local Scratch<T> work;
  return work;
}

template <class T>
std::shared_ptr<const Plan<T>> shared_plan(unsigned long n);

// Runs one pass over `lanes` lines of n values side by side in x.
template <class T, bool Neg>
void run_pass(T* x, unsigned long n, const Pass<T>& ps, int lanes, Scratch<T>& work);

template <class T>
void run_passes(T* x, const Plan<T>& plan, bool neg, int lanes, Scratch<T>& work) {
  for (const Pass<T>& ps : plan.passes) {
    if (neg) run_pass<T, true>(x, plan.n, ps, lanes, work);
    else run_pass<T, false>(x, plan.n, ps, lanes, work);
  }
}

// The positive-sign transform of x (n values, n with factors 2 to 5 only) in
// natural order, for the tables of a chirp.
void transform_natural(const Plan<double>& plan, std::vector<double>& x) {
  Scratch<double> none;
  run_passes(x.data(), plan, false, 1, none);
  const std::vector<double> digits(x);
  for (unsigned long i = 0; i < plan.n; i++) {
    x[2 * i] = digits[2 * static_cast<size_t>(plan.perm[i])];
    x[2 * i + 1] = digits[2 * static_cast<size_t>(plan.perm[i]) + 1];
  }
}

// The smallest length of factors 2, 3 and 5 that holds a convolution for
// the prime p and that the engine can factor; 0 when there is none.
unsigned long convolution_length(unsigned long p) {
  const unsigned long need = 2 * p - 1;
  unsigned long best = 0;
  for (unsigned long a = 1; a < 2 * need; a *= 2)
    for (unsigned long b = a; b < 2 * need; b *= 3)
      for (unsigned long c = b; c < 2 * need; c *= 5) {
        if (c < need || (best != 0 && c >= best)) continue;
        int f[FftMaxFactors + 1], count;
        if (fft_factorize(c, f, &count)) best = c;
      }
  return best;
}

// The tables are computed in double for both precisions, the phase j²
// reduced modulo 2p exactly, so that the chirp adds one rounding only.
template <class T>
std::shared_ptr<const Chirp<T>> build_chirp(int p) {
  const unsigned long m = convolution_length(p);
  if (m == 0) return nullptr;
  auto chirp = std::make_shared<Chirp<T>>();
  chirp->m = m;
  chirp->conv = shared_plan<T>(m);
  const std::shared_ptr<const Plan<double>> exact = shared_plan<double>(m);
  for (int neg = 0; neg < 2; neg++) {
    const double sign = neg ? -1. : 1.;
    std::vector<double> wc(p), ws(p);
    for (unsigned long j = 0; j < static_cast<unsigned long>(p); j++) {
      const double angle = sign * Pi * static_cast<double>((j * j) % (2UL * p)) / p;
      wc[j] = std::cos(angle);
      ws[j] = std::sin(angle);
    }
    chirp->wave[neg].resize(2 * static_cast<size_t>(p));
    for (int j = 0; j < p; j++) {
      chirp->wave[neg][2 * j] = static_cast<T>(wc[j]);
      chirp->wave[neg][2 * j + 1] = static_cast<T>(ws[j]);
    }
    // conj(w) at offsets -(p-1) .. p-1, the negative ones wrapped to m - j.
    std::vector<double> b(2 * m, 0.);
    for (int j = 0; j < p; j++) {
      b[2 * j] = wc[j];
      b[2 * j + 1] = -ws[j];
      if (j > 0) {
        b[2 * (m - j)] = wc[j];
        b[2 * (m - j) + 1] = -ws[j];
      }
    }
    transform_natural(*exact, b);
    chirp->kernel[neg].resize(2 * m);
    for (size_t i = 0; i < 2 * m; i++) chirp->kernel[neg][i] = static_cast<T>(b[i] / m);
  }
  return chirp;
}

template <class T>
std::shared_ptr<const Plan<T>> build_plan(unsigned long n) {
  int factors[FftMaxFactors + 1];
  int nfactors = 0;
  const bool factored = fft_factorize(n, factors, &nfactors);
  auto plan = std::make_shared<Plan<T>>();
  plan->n = n;
  plan->factored = factored;
  if (!factored) return plan;
  unsigned long span = n;
  for (int f = 0; f < nfactors; f++) {
    Pass<T> ps;
    ps.factor = factors[f];
    ps.span = static_cast<int>(span);
    if (ps.factor > ChirpMinFactor) ps.chirp = build_chirp<T>(ps.factor);
    build_pass(ps);
    if (ps.factor > 5) plan->odd_work = std::max<size_t>(plan->odd_work, ps.factor);
    if (ps.chirp) plan->conv_work = std::max<size_t>(plan->conv_work, ps.chirp->m);
    plan->passes.push_back(std::move(ps));
    span /= factors[f];
  }
  plan->perm.resize(n);
  for (unsigned long i = 0; i < n; i++) {
    unsigned long rest = i, pos = 0, m = n;
    for (int f = 0; f < nfactors; f++) {
      m /= factors[f];
      pos += (rest % factors[f]) * m;
      rest /= factors[f];
    }
    plan->perm[i] = static_cast<int>(pos);
  }
  return plan;
}

// Plans of the lengths in use, most recent first, shared by all threads;
// each thread keeps its last few in front of the lock. A plan is immutable
// once published, and an evicted one lives on while a caller holds it.
template <class T>
struct PlanCache {
  std::mutex lock;
  std::vector<std::shared_ptr<const Plan<T>>> plans;
  static constexpr size_t Capacity = 32;
};

template <class T>
std::shared_ptr<const Plan<T>> shared_plan(unsigned long n) {
  static PlanCache<T> cache;
  std::shared_ptr<const Plan<T>> plan;
  {
    std::lock_guard<std::mutex> guard(cache.lock);
    for (const auto& p : cache.plans)
      if (p->n == n) plan = p;
  }
  if (!plan) {
    // Built outside the lock: a chirp needs the plans of other lengths.
    std::shared_ptr<const Plan<T>> built = build_plan<T>(n);
    std::lock_guard<std::mutex> guard(cache.lock);
    for (const auto& p : cache.plans)
      if (p->n == n) plan = p;  // another thread was quicker
    if (!plan) {
      plan = built;
      if (cache.plans.size() >= PlanCache<T>::Capacity) cache.plans.pop_back();
      cache.plans.insert(cache.plans.begin(), plan);
    }
  }
  return plan;
}

// The plan of a length through the calling thread's own cache: no lock and
// no shared reference count on a hit. The cache holds its plans alive, so
// the pointer stays valid until this thread looks up more than PlanSlots
// other lengths; a transform of many blocks (ridgelets) meets a few dozen
// lengths at most.
template <class T>
const Plan<T>* get_plan(unsigned long n) {
  constexpr int PlanSlots = 64;
  struct Slots {
    unsigned long n[PlanSlots] = {};
    std::shared_ptr<const Plan<T>> plan[PlanSlots];
    int next = 0;
  };
  thread_local Slots slots;
  for (int i = 0; i < PlanSlots; i++)
    if (slots.n[i] == n && slots.plan[i]) return slots.plan[i].get();
  const int i = slots.next;
  slots.next = (i + 1) % PlanSlots;
  slots.plan[i] = shared_plan<T>(n);
  slots.n[i] = n;
  return slots.plan[i].get();
}

// A direct transform of a general odd prime factor on the p values
// a0 + j·stride, into work.outs.
template <class T, bool Neg>
void direct_factor(const T* a0, const Pass<T>& ps, size_t stride, Scratch<T>& work) {
  const int p = ps.factor, h = (p - 1) / 2;
  T* sums = work.sums.data();
  T* outs = work.outs.data();
  T y0r = a0[0], y0i = a0[1];
  for (int j = 1; j <= h; j++) {
    const T* xj = a0 + stride * j;
    const T* xk = a0 + stride * (p - j);
    T* sd = sums + 4 * (j - 1);
    sd[0] = xj[0] + xk[0];
    sd[1] = xj[1] + xk[1];
    sd[2] = xj[0] - xk[0];
    sd[3] = xj[1] - xk[1];
    y0r += sd[0];
    y0i += sd[1];
  }
  odd_factor_outputs<T, Neg>(ps, a0, sums, outs);
  outs[0] = y0r;
  outs[1] = y0i;
}

// The same outputs by the chirp convolution, for `lanes` neighbouring
// lines at once (lane t's values at a0 + j·stride + 2t); output q of lane t
// goes to work.outs[2·(q·lanes + t)].
template <class T, bool Neg>
void chirp_factor(const T* a0, const Pass<T>& ps, size_t stride, int lanes, Scratch<T>& work) {
  const Chirp<T>& cz = *ps.chirp;
  const Plan<T>& conv = *cz.conv;
  const int p = ps.factor;
  const size_t width = 2 * static_cast<size_t>(lanes);
  const T* w = cz.wave[Neg ? 1 : 0].data();
  const T* kernel = cz.kernel[Neg ? 1 : 0].data();
  T* line = work.conv.data();
  T* order = work.order.data();
  for (int j = 0; j < p; j++) {
    const T wr = w[2 * j], wi = w[2 * j + 1];
    T* to = line + width * j;
    for (int t = 0; t < lanes; t++) {
      const T* x = a0 + stride * j + 2 * t;
      to[2 * t] = x[0] * wr - x[1] * wi;
      to[2 * t + 1] = x[0] * wi + x[1] * wr;
    }
  }
  std::fill(line + width * p, line + width * cz.m, T(0));
  run_passes(line, conv, false, lanes, work);
  for (unsigned long i = 0; i < cz.m; i++) {
    const T* y = line + width * static_cast<size_t>(conv.perm[i]);
    const T kr = kernel[2 * i], ki = kernel[2 * i + 1];
    T* to = order + width * i;
    for (int t = 0; t < lanes; t++) {
      to[2 * t] = y[2 * t] * kr - y[2 * t + 1] * ki;
      to[2 * t + 1] = y[2 * t] * ki + y[2 * t + 1] * kr;
    }
  }
  run_passes(order, conv, true, lanes, work);
  T* outs = work.outs.data();
  for (int q = 0; q < p; q++) {
    const T* y = order + width * static_cast<size_t>(conv.perm[q]);
    const T wr = w[2 * q], wi = w[2 * q + 1];
    T* to = outs + width * q;
    for (int t = 0; t < lanes; t++) {
      to[2 * t] = y[2 * t] * wr - y[2 * t + 1] * wi;
      to[2 * t + 1] = y[2 * t] * wi + y[2 * t + 1] * wr;
    }
  }
}

// A pass of factor P (2 to 5). With one lane, neighbouring butterflies go
// two at a time; with several lanes (lines side by side, value i of lane t
// at 2·(i·lanes + t)) neighbouring lanes go two at a time under the same
// rotation. Either way each value sees the same operations.
template <int P, class T, bool Neg, bool Wide>
QZ_ALWAYS_INLINE void small_pass_body(T* x, unsigned long n, const Pass<T>& ps, int lanes) {
  const int m = ps.span / P;
  const unsigned long span = ps.span;
  const T* rot = ps.rot.data();
  const T h3 = Neg ? -Constants<T>::sin60 : Constants<T>::sin60;
  const T c5 = Constants<T>::cos72, s5 = Neg ? -Constants<T>::sin72 : Constants<T>::sin72;
  const size_t rot_step = 2 * static_cast<size_t>(m);
  const size_t step = 2 * static_cast<size_t>(m) * lanes;
  for (unsigned long base = 0; base < n; base += span) {
    T* b = x + 2 * base * lanes;
    if (lanes == 1) {
      int k = 0;
#ifdef __SSE2__
      if constexpr (std::is_same<T, float>::value) {
        for (; k + 1 < m; k += 2)
          butterfly<P, Pair, T, Neg>(b + 2 * k, step, rot + 2 * k, rot_step, true, h3, c5, s5);
      }
#endif
      for (; k < m; k++)
        butterfly<P, Cx<T>, T, Neg>(b + 2 * k, step, rot + 2 * k, rot_step, k != 0, h3, c5, s5);
      continue;
    }
    for (int k = 0; k < m; k++) {
      T* v = b + 2 * static_cast<size_t>(k) * lanes;
      int t = 0;
#if QZ_AVX2_ENTRY
      if constexpr (Wide && std::is_same<T, float>::value) {
        for (; t + 3 < lanes; t += 4)
          butterfly<P, Quad, T, Neg>(v + 2 * t, step, rot + 2 * k, rot_step, k != 0, h3, c5, s5);
      }
#endif
#ifdef __SSE2__
      if constexpr (std::is_same<T, float>::value) {
        const float* twin = ps.rot_twin.data() + 4 * k;
        for (; t + 1 < lanes; t += 2)
          butterfly<P, Pair, T, Neg>(v + 2 * t, step, twin, 2 * rot_step, k != 0, h3, c5, s5);
      }
#endif
      for (; t < lanes; t++)
        butterfly<P, Cx<T>, T, Neg>(v + 2 * t, step, rot + 2 * k, rot_step, k != 0, h3, c5, s5);
    }
  }
}

template <int P, class T, bool Neg>
void small_pass_base(T* x, unsigned long n, const Pass<T>& ps, int lanes) {
  small_pass_body<P, T, Neg, false>(x, n, ps, lanes);
}
template <int P, class T, bool Neg>
QZ_TARGET_AVX2 void small_pass_avx2(T* x, unsigned long n, const Pass<T>& ps, int lanes) {
  small_pass_body<P, T, Neg, true>(x, n, ps, lanes);
}
// Four lanes at a time where the processor has AVX2 (see cpu_dispatch.h).
template <int P, class T, bool Neg>
void small_pass(T* x, unsigned long n, const Pass<T>& ps, int lanes) {
  if (std::is_same<T, float>::value && lanes >= 4 && cpu_has_avx2())
    small_pass_avx2<P, T, Neg>(x, n, ps, lanes);
  else
    small_pass_base<P, T, Neg>(x, n, ps, lanes);
}

// A pass of a general odd prime factor: a transform of length p per
// butterfly and lane, the lanes of a butterfly together by the chirp.
template <class T, bool Neg>
void general_pass(T* x, unsigned long n, const Pass<T>& ps, int lanes, Scratch<T>& work) {
  const int p = ps.factor, m = ps.span / p;
  const T* rot = ps.rot.data();
  const size_t stride = 2 * static_cast<size_t>(m) * lanes;
  const T* outs = work.outs.data();
  // Output q of a lane lies q·out_step after its first.
  const size_t out_step = ps.chirp ? 2 * static_cast<size_t>(lanes) : 2;
  for (unsigned long base = 0; base < n; base += ps.span) {
    for (int k = 0; k < m; k++) {
      T* a0 = x + 2 * (base + k) * lanes;
      if (ps.chirp) chirp_factor<T, Neg>(a0, ps, stride, lanes, work);
      for (int t = 0; t < lanes; t++) {
        const T* out = ps.chirp ? outs + 2 * t : outs;
        if (!ps.chirp) direct_factor<T, Neg>(a0 + 2 * t, ps, stride, work);
        T* y0 = a0 + 2 * t;
        y0[0] = out[0];
        y0[1] = out[1];
        for (int q = 1; q < p; q++) {
          Cx<T> y{out[out_step * q], out[out_step * q + 1]};
          if (k != 0) y = rotate<Neg>(y, rot + 2 * (static_cast<size_t>(q - 1) * m + k));
          store(y0 + stride * q, y);
        }
      }
    }
  }
}

template <class T, bool Neg>
void run_pass(T* x, unsigned long n, const Pass<T>& ps, int lanes, Scratch<T>& work) {
  switch (ps.factor) {
    case 2: small_pass<2, T, Neg>(x, n, ps, lanes); break;
    case 3: small_pass<3, T, Neg>(x, n, ps, lanes); break;
    case 4: small_pass<4, T, Neg>(x, n, ps, lanes); break;
    case 5: small_pass<5, T, Neg>(x, n, ps, lanes); break;
    default: general_pass<T, Neg>(x, n, ps, lanes, work);
  }
}

// Lines transformed side by side: enough to fill cache lines on the
// reads of a strided dimension and to share each rotation among many
// values, few enough that the group stays in the second-level cache.
inline unsigned long lines_per_group(unsigned long n) {
  return std::max(1UL, std::min(16UL, 16384 / n));
}

// Below this many values a transform stays on the calling thread.
constexpr unsigned long ParallelMinValues = 32768;


template <class T>
int memory_failure() {
  std::fprintf(stderr, "Error: %s() - insufficient memory.\n", Constants<T>::pass);
  return -1;
}

// One dimension. With `centred` the lines are read and written with their
// origin at index n/2 (value j of the natural order at (j + n/2) mod n), and
// a non-zero `scale` multiplies every result (in double, then rounded), both
// done in the copies the transform makes anyway.
template <class T>
int radix_pass(T* re, T* im, unsigned long total, unsigned long length, unsigned long span,
               int sign, bool centred, double scale) {
  if (length <= 1) return 0;
  const unsigned long n = length;
  const Plan<T>* found = nullptr;
  try {
    found = get_plan<T>(n);
  } catch (const std::bad_alloc&) {
    return memory_failure<T>();
  }
  const Plan<T>& plan = *found;
  if (!plan.factored) {
    std::fprintf(stderr, "Error: %s() - exceeded number of factors\n", Constants<T>::pass);
    return memory_failure<T>();
  }
  const bool neg = sign < 0;
  const unsigned long s = static_cast<unsigned long>(sign < 0 ? -sign : sign);
  const unsigned long inner = span / n, outer = total / span;
  const unsigned long half = centred ? n / 2 : 0;
  // Lines go in groups, side by side in the work buffer: neighbouring lines
  // of a strided dimension (one read of the data serves the whole group),
  // or consecutive lines of the fastest one. The groups depend on the sizes
  // alone, never on the threads.
  const bool fastest = inner == 1;
  const unsigned long lines_across = fastest ? outer : inner;
  const unsigned long group = std::min(lines_across, lines_per_group(n));
  const unsigned long chunks = (lines_across + group - 1) / group;
  const long jobs = static_cast<long>(fastest ? chunks : outer * chunks);
  // Value q of line t of a group sits at base + t·line_step + q·value_step.
  const unsigned long line_step = fastest ? n * s : s;
  const unsigned long value_step = fastest ? s : inner * s;
  const int* perm = plan.perm.data();
  // One group of lines; false when the thread's work space cannot grow.
  auto run_job = [&](long job) {
    Scratch<T>& work = thread_scratch<T>();
    if (!work.fit(plan, group)) return false;
    const unsigned long o = fastest ? 0 : job / chunks;
    const unsigned long first = (fastest ? job : job % chunks) * group;
    const unsigned long lines = std::min(group, lines_across - first);
    const unsigned long base = fastest ? first * n * s : (o * n * inner + first) * s;
    T* gather = work.lines.data();
    auto at = [&](unsigned long q) {
      unsigned long r = q + half;
      if (r >= n) r -= n;
      return base + r * value_step;
    };
    // Interleaved data (every caller's form) move by whole values; along a
    // strided dimension the group's values of one index are adjacent.
    const bool paired = im == re + 1;
    const bool adjacent = paired && line_step == 2;
    for (unsigned long q = 0; q < n; q++) {
      const unsigned long from = at(q);
      T* to = gather + 2 * q * lines;
      if (adjacent) {
        std::memcpy(to, re + from, 2 * lines * sizeof(T));
        continue;
      }
      if (paired) {
        const T* value = re + from;
        for (unsigned long t = 0; t < lines; t++)
          std::memcpy(to + 2 * t, value + t * line_step, 2 * sizeof(T));
        continue;
      }
      for (unsigned long t = 0; t < lines; t++) {
        to[2 * t] = re[from + t * line_step];
        to[2 * t + 1] = im[from + t * line_step];
      }
    }
    run_passes(gather, plan, neg, static_cast<int>(lines), work);
    for (unsigned long q = 0; q < n; q++) {
      const unsigned long to = at(q);
      const T* from = gather + 2 * static_cast<unsigned long>(perm[q]) * lines;
      if (scale != 0.) {
        for (unsigned long t = 0; t < lines; t++) {
          re[to + t * line_step] = static_cast<T>(from[2 * t] * scale);
          im[to + t * line_step] = static_cast<T>(from[2 * t + 1] * scale);
        }
      } else if (adjacent) {
        std::memcpy(re + to, from, 2 * lines * sizeof(T));
      } else if (paired) {
        T* value = re + to;
        for (unsigned long t = 0; t < lines; t++)
          std::memcpy(value + t * line_step, from + 2 * t, 2 * sizeof(T));
      } else {
        for (unsigned long t = 0; t < lines; t++) {
          re[to + t * line_step] = from[2 * t];
          im[to + t * line_step] = from[2 * t + 1];
        }
      }
    }
    return true;
  };
  // A small transform, or one inside a parallel region (the ridgelet's
  // blocks), runs here without starting a team: even a region whose `if`
  // fails costs more than the transform of a short line.
  bool failed = false;
  if (jobs > 1 && total >= ParallelMinValues && !fft_in_parallel_region()) {
#pragma omp parallel for schedule(static)
    for (long job = 0; job < jobs; job++)
      if (!run_job(job)) {
#pragma omp atomic write
        failed = true;
      }
  } else {
    for (long job = 0; job < jobs; job++)
      if (!run_job(job)) failed = true;
  }
  return failed ? memory_failure<T>() : 0;
}

// `pending_scale`, when given and not 0, is a factor for every result that
// the last pass of length above 1 applies on its way out; it is then set to
// 0 (left as it is when no pass takes it).
template <class T>
int fft_top(int ndim, const int dims[], T re[], T im[], int sign, double scaling, bool centred,
            double* pending_scale = nullptr) {
  int nd = 0;
  if (ndim != 0 && dims[0] != 0) nd = ndim;
  else
    while (dims[nd] != 0) nd++;
  unsigned long total = 1;
  for (int i = 0; i < nd; i++) {
    if (dims[i] < 1) {
      std::fprintf(stderr, "Error: %s() - dimension error\n", Constants<T>::top);
      return -1;
    }
    total *= static_cast<unsigned long>(dims[i]);
  }
  int last = -1;
  for (int i = 0; i < nd; i++)
    if (dims[i] > 1) last = i;
  unsigned long span = 1;
  for (int i = 0; i < nd; i++) {
    span *= static_cast<unsigned long>(dims[i]);
    const double scale = (i == last && pending_scale != nullptr) ? *pending_scale : 0.;
    int status = radix_pass<T>(re, im, total, dims[i], span, sign, centred, scale);
    if (status != 0) return status;
    if (i == last && pending_scale != nullptr) *pending_scale = 0.;
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
  return fft_top<float>(ndim, dims, re, im, sign, scaling, false);
}
int fftn(int ndim, const int dims[], double re[], double im[], int sign, double scaling) {
  return fft_top<double>(ndim, dims, re, im, sign, scaling, false);
}
// The space arguments sized the shared work arrays; the work buffers are now
// the calling thread's own and sized by the length.
int fftradixf(float re[], float im[], unsigned long total, unsigned long length,
              unsigned long span, int sign, int factor_space, int perm_space) {
  return radix_pass<float>(re, im, total, length, span, sign, false, 0.);
}
int fftradix(double re[], double im[], unsigned long total, unsigned long length,
             unsigned long span, int sign, int factor_space, int perm_space) {
  return radix_pass<double>(re, im, total, length, span, sign, false, 0.);
}

// ---- FFTN ----

namespace {

template <class T>
void scale_by_count(T* data, int64_t n) {
  const double factor = 1. / static_cast<double>(n);
  const int64_t count = 2 * n;
  if (count >= 8 * static_cast<int64_t>(ParallelMinValues) && !fft_in_parallel_region()) {
#pragma omp parallel for schedule(static)
    for (int64_t k = 0; k < count; k++) data[k] = static_cast<T>(data[k] * factor);
  } else {
    for (int64_t k = 0; k < count; k++) data[k] = static_cast<T>(data[k] * factor);
  }
}

// The division of an inverse rides on the last pass when it can (the same
// products as scale_reverse), and is done apart otherwise.
template <class T>
void run_engine(T* data, const int* dims, int ndim, Bool inverse, bool centred) {
  int64_t n = 1;
  for (int i = 0; i < ndim; i++) n *= dims[i];
  double pending = (inverse == True && n > 0) ? 1. / static_cast<double>(n) : 0.;
  int status = fft_top<T>(ndim, dims, data, data + 1, inverse ? -2 : 2, 0., centred, &pending);
  if (inverse == True && pending != 0.) scale_by_count(data, n);
  if (status != 0) FFTN::fft_error();
}

}  // namespace

void FFTN::scale_reverse(float* data, int n) { scale_by_count(data, n); }
void FFTN::scale_reverse(double* data, int n) { scale_by_count(data, n); }

void FFTN::fft_error() { fatal_exit("Error in FFT computation ... \n", -1, stdout); }

void FFTN::transform1d(float* data, int length, Bool inverse) {
  int dims[1] = {length};
  run_engine(data, dims, 1, inverse, false);
}
void FFTN::transform1d(double* data, int length, Bool inverse) {
  int dims[1] = {length};
  run_engine(data, dims, 1, inverse, false);
}
void FFTN::transform2d(float* data, int first, int second, Bool inverse) {
  int dims[2] = {first, second};
  run_engine(data, dims, 2, inverse, false);
}
void FFTN::transform2d(double* data, int first, int second, Bool inverse) {
  int dims[2] = {first, second};
  run_engine(data, dims, 2, inverse, false);
}
void FFTN::transform3d(float* data, int first, int second, int third, Bool inverse) {
  int dims[3] = {first, second, third};
  run_engine(data, dims, 3, inverse, false);
}
void FFTN::transform3d(double* data, int first, int second, int third, Bool inverse) {
  int dims[3] = {first, second, third};
  run_engine(data, dims, 3, inverse, false);
}
void FFTN::transform_centred(float* data, int ndim, const int dims[], Bool inverse) {
  run_engine(data, dims, ndim, inverse, true);
}
void FFTN::transform_centred(double* data, int ndim, const int dims[], Bool inverse) {
  run_engine(data, dims, ndim, inverse, true);
}
