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

#include "array/fatal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

unsigned SpaceAlloced = 0;
unsigned MaxPermAlloced = 0;
void* Tmp0 = nullptr;
void* Tmp1 = nullptr;
void* Tmp2 = nullptr;
void* Tmp3 = nullptr;
int* Perm = nullptr;

void fft_free() {
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
  ps.rot.assign(static_cast<size_t>(2) * m * (p - 1), T(0));
  for (int k = 0; k < m; k++) {
    T* r = &ps.rot[static_cast<size_t>(2) * k * (p - 1)];
    T c = wc[k], s = ws[k];
    r[0] = c;
    r[1] = s;
    if (p == 4) {
      T c2 = c * c - s * s, s2 = T(2) * c * s;
      r[2] = c2;
      r[3] = s2;
      r[4] = c2 * c - s2 * s;
      r[5] = c2 * s + s2 * c;
    } else {
      for (int q = 2; q < p; q++) {
        T pc = r[2 * (q - 2)], pss = r[2 * (q - 2) + 1];
        r[2 * (q - 1)] = pc * c - pss * s;
        r[2 * (q - 1) + 1] = pc * s + pss * c;
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

template <class T, bool Neg>
inline void rotate(T& re, T& im, const T* w) {
  T r = re, i = im;
  if (Neg) {
    re = r * w[0] + i * w[1];
    im = i * w[0] - r * w[1];
  } else {
    re = r * w[0] - i * w[1];
    im = i * w[0] + r * w[1];
  }
}

// Runs one pass over the n interleaved values of x. scratch holds 4p values.
template <class T, bool Neg>
void run_pass(T* x, unsigned long n, const Pass<T>& ps, T* sums, T* outs) {
  const int p = ps.factor, m = ps.span / p;
  const unsigned long span = ps.span;
  const T* rot = ps.rot.data();
  for (unsigned long base = 0; base < n; base += span) {
    T* b = x + 2 * base;
    switch (p) {
      case 2:
        for (int k = 0; k < m; k++) {
          T* a0 = b + 2 * k;
          T* a1 = a0 + 2 * m;
          T r0 = a0[0] + a1[0], i0 = a0[1] + a1[1];
          T r1 = a0[0] - a1[0], i1 = a0[1] - a1[1];
          a0[0] = r0;
          a0[1] = i0;
          if (k != 0) rotate<T, Neg>(r1, i1, rot + 2 * k);
          a1[0] = r1;
          a1[1] = i1;
        }
        break;
      case 4:
        for (int k = 0; k < m; k++) {
          T* a0 = b + 2 * k;
          T* a1 = a0 + 2 * m;
          T* a2 = a1 + 2 * m;
          T* a3 = a2 + 2 * m;
          T s02r = a0[0] + a2[0], s02i = a0[1] + a2[1];
          T d02r = a0[0] - a2[0], d02i = a0[1] - a2[1];
          T s13r = a1[0] + a3[0], s13i = a1[1] + a3[1];
          T d13r = a1[0] - a3[0], d13i = a1[1] - a3[1];
          T y1r, y1i, y3r, y3i;
          if (!Neg) {  // y1 = d02 + i·d13, y3 = d02 - i·d13
            y1r = d02r - d13i;
            y1i = d02i + d13r;
            y3r = d02r + d13i;
            y3i = d02i - d13r;
          } else {
            y1r = d02r + d13i;
            y1i = d02i - d13r;
            y3r = d02r - d13i;
            y3i = d02i + d13r;
          }
          T y2r = s02r - s13r, y2i = s02i - s13i;
          a0[0] = s02r + s13r;
          a0[1] = s02i + s13i;
          if (k != 0) {
            const T* w = rot + 6 * k;
            rotate<T, Neg>(y1r, y1i, w);
            rotate<T, Neg>(y2r, y2i, w + 2);
            rotate<T, Neg>(y3r, y3i, w + 4);
          }
          a1[0] = y1r;
          a1[1] = y1i;
          a2[0] = y2r;
          a2[1] = y2i;
          a3[0] = y3r;
          a3[1] = y3i;
        }
        break;
      case 3: {
        const T h = Neg ? -Constants<T>::sin60 : Constants<T>::sin60;
        for (int k = 0; k < m; k++) {
          T* a0 = b + 2 * k;
          T* a1 = a0 + 2 * m;
          T* a2 = a1 + 2 * m;
          T tr = a1[0] + a2[0], ti = a1[1] + a2[1];
          T dr = h * (a1[0] - a2[0]), di = h * (a1[1] - a2[1]);
          T ar = a0[0] - T(0.5) * tr, ai = a0[1] - T(0.5) * ti;
          a0[0] += tr;
          a0[1] += ti;
          T y1r = ar - di, y1i = ai + dr;
          T y2r = ar + di, y2i = ai - dr;
          if (k != 0) {
            const T* w = rot + 4 * k;
            rotate<T, Neg>(y1r, y1i, w);
            rotate<T, Neg>(y2r, y2i, w + 2);
          }
          a1[0] = y1r;
          a1[1] = y1i;
          a2[0] = y2r;
          a2[1] = y2i;
        }
        break;
      }
      case 5: {
        const T c = Constants<T>::cos72;
        const T s = Neg ? -Constants<T>::sin72 : Constants<T>::sin72;
        const T c2 = c * c - s * s, s2 = T(2) * c * s;
        for (int k = 0; k < m; k++) {
          T* a0 = b + 2 * k;
          T* a1 = a0 + 2 * m;
          T* a2 = a1 + 2 * m;
          T* a3 = a2 + 2 * m;
          T* a4 = a3 + 2 * m;
          T s1r = a1[0] + a4[0], s1i = a1[1] + a4[1];
          T d1r = a1[0] - a4[0], d1i = a1[1] - a4[1];
          T s2r = a2[0] + a3[0], s2i = a2[1] + a3[1];
          T d2r = a2[0] - a3[0], d2i = a2[1] - a3[1];
          T x0r = a0[0], x0i = a0[1];
          a0[0] = x0r + s1r + s2r;
          a0[1] = x0i + s1i + s2i;
          T r1r = x0r + c * s1r + c2 * s2r, r1i = x0i + c * s1i + c2 * s2i;
          T q1r = s * d1r + s2 * d2r, q1i = s * d1i + s2 * d2i;
          T r2r = x0r + c2 * s1r + c * s2r, r2i = x0i + c2 * s1i + c * s2i;
          T q2r = s2 * d1r - s * d2r, q2i = s2 * d1i - s * d2i;
          T y[8] = {r1r - q1i, r1i + q1r, r2r - q2i, r2i + q2r,
                    r2r + q2i, r2i - q2r, r1r + q1i, r1i - q1r};
          if (k != 0) {
            const T* w = rot + 8 * k;
            for (int q = 0; q < 4; q++) rotate<T, Neg>(y[2 * q], y[2 * q + 1], w + 2 * q);
          }
          for (int q = 0; q < 4; q++) {
            T* a = a0 + 2 * m * (q + 1);
            a[0] = y[2 * q];
            a[1] = y[2 * q + 1];
          }
        }
        break;
      }
      default: {
        const int h = (p - 1) / 2;
        const T* oc = ps.odd_cos.data();
        const T* os = ps.odd_sin.data();
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
          for (int q = 1; q <= h; q++) {
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
            outs[2 * q] = sr - ti;
            outs[2 * q + 1] = si + tr;
            outs[2 * (p - q)] = sr + ti;
            outs[2 * (p - q) + 1] = si - tr;
          }
          a0[0] = y0r;
          a0[1] = y0i;
          for (int q = 1; q < p; q++) {
            T yr = outs[2 * q], yi = outs[2 * q + 1];
            if (k != 0) rotate<T, Neg>(yr, yi, rot + 2 * (static_cast<size_t>(k) * (p - 1) + q - 1));
            T* a = a0 + 2 * static_cast<size_t>(m) * q;
            a[0] = yr;
            a[1] = yi;
          }
        }
        break;
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
  }
  if (!Tmp0 || !Tmp1 || !Tmp2 || !Tmp3 || !Perm) return memory_failure<T>();
  const unsigned long held = SpaceAlloced / sizeof(T);

  const Plan<T>& plan = get_plan<T>(n, factors, nfactors);
  const bool neg = sign < 0;
  const unsigned long s = static_cast<unsigned long>(sign < 0 ? -sign : sign);

  // Natural index i sits at the digit-reversed position Perm[i].
  for (unsigned long i = 0; i < n; i++) {
    unsigned long rest = i, pos = 0, m = n;
    for (int f = 0; f < nfactors; f++) {
      m /= factors[f];
      pos += (rest % factors[f]) * m;
      rest /= factors[f];
    }
    Perm[i] = static_cast<int>(pos);
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
