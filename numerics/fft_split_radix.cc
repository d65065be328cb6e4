// Power-of-two DFT, DCT and DST package. The complex FFT works on
// bit-reversed data with a table that holds a quarter period of rotations in
// bit-reversed order: the first entries of a table built for a longer length
// are then exactly the table of a shorter one, so one table serves every
// length up to the one it was built for. Real transforms run a half-length
// complex FFT with a pre- or post-rotation; DCT and DST add a further one.
#include "numerics/fft_split_radix.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Bit reversal of n/2 complex values; ip receives the table of reversed
// offsets of the leading bits, as the callers' work area expects.
void reverse_pairs(int n, int* ip, double* a, bool conjugate) {
  ip[0] = 0;
  int l = n, m = 1;
  while ((m << 3) < l) {
    l >>= 1;
    for (int j = 0; j < m; j++) ip[m + j] = ip[j] + l;
    m <<= 1;
  }
  const int count = n / 2;
  for (int i = 0, j = 0; i < count; i++) {
    if (i < j) {
      std::swap(a[2 * i], a[2 * j]);
      std::swap(a[2 * i + 1], a[2 * j + 1]);
    }
    int mask = count >> 1;
    while (mask > 0 && (j & mask)) {
      j ^= mask;
      mask >>= 1;
    }
    j |= mask;
  }
  if (conjugate)
    for (int k = 1; k < n; k += 2) a[k] = -a[k];
}

void bitrv2(int n, int* ip, double* a) { reverse_pairs(n, ip, a, false); }
void bitrv2conj(int n, int* ip, double* a) { reverse_pairs(n, ip, a, true); }

struct Cx {
  double re, im;
};
inline Cx load(const double* p) { return {p[0], p[1]}; }
inline void store(double* p, Cx v) {
  p[0] = v.re;
  p[1] = v.im;
}
inline Cx mul(Cx a, Cx b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline Cx add(Cx a, Cx b) { return {a.re + b.re, a.im + b.im}; }
inline Cx sub(Cx a, Cx b) { return {a.re - b.re, a.im - b.im}; }
inline Cx times_i(Cx a) { return {-a.im, a.re}; }

// One radix-4 butterfly of the decimation in time: the four sub-transforms
// of length h at x, x + h, x + 2h, x + 3h (the samples 4j, 4j+2, 4j+1, 4j+3
// of the longer transform, as bit reversal leaves them), merged with the
// rotations w1 = exp(+2πi·q/4h), w2 = w1², w3 = w1³.
inline void radix4(double* x, int h, Cx w1, Cx w2, Cx w3, bool unit) {
  double* p0 = x;
  double* p1 = x + 2 * h;
  double* p2 = x + 4 * h;
  double* p3 = x + 6 * h;
  const Cx a = load(p0);
  Cx b = load(p1), c = load(p2), d = load(p3);
  if (!unit) {
    b = mul(w2, b);
    c = mul(w1, c);
    d = mul(w3, d);
  }
  const Cx s0 = add(a, b), d0 = sub(a, b), s1 = add(c, d), d1 = times_i(sub(c, d));
  store(p0, add(s0, s1));
  store(p1, add(d0, d1));
  store(p2, sub(s0, s1));
  store(p3, sub(d0, d1));
}

// Forward (exponent +) transform of the n/2 bit-reversed complex values of
// a into natural order: radix-4 stages (sub-transforms of length h merged
// into 4h) from h = 1 while 4h fits, then one radix-2 stage when the length
// is not a power of four. Rotations exp(+2πi·p/m), p < m/4, are the table
// entries of w in bit-reversed order of p; the first h entries are therefore
// exp(+2πi·q/4h) for the reversed q < h, whatever length the table was built
// for. A quarter turn further is an exact multiplication by i.
void cftfsub(int n, double* a, double* w) {
  const int m = n / 2;  // complex values
  const Cx one{1., 0.};
  int h = 1, bits = 0;  // bits = log2 h
  for (; 4 * h <= m; h *= 4, bits += 2) {
    for (int j = 0, q = 0; j < h; j++) {
      if (j > 0) {  // q = j with its `bits` bits reversed, advanced in step
        int mask = h >> 1;
        while (q & mask) {
          q ^= mask;
          mask >>= 1;
        }
        q |= mask;
      }
      Cx w1 = one, w2 = one, w3 = one;
      if (j > 0) {
        w1 = load(w + 2 * j);
        // exp(+2πi·2q/4h) sits at entry j/2, a quarter turn on when 2q >= h.
        w2 = load(w + 2 * (j >> 1));
        if (j & 1) w2 = times_i(w2);
        w3 = mul(w1, w2);
      }
      for (int g = q; g < m; g += 4 * h) radix4(a + 2 * g, h, w1, w2, w3, j == 0);
    }
  }
  if (h == m) return;
  // Radix-2 stage: the two halves (length h = m/2) of every sample.
  for (int j = 0, q = 0; j < (h + 1) / 2; j++) {
    if (j > 0) {
      int mask = h >> 2;
      while (q & mask) {
        q ^= mask;
        mask >>= 1;
      }
      q |= mask;
    }
    // Position q and position q + m/4 take w and i·w.
    const Cx wq = j > 0 ? load(w + 2 * j) : one;
    for (int r = 0; r < (h > 1 ? 2 : 1); r++) {
      const int p = q + r * (h / 2);
      const Cx wp = r ? times_i(wq) : wq;
      double* u = a + 2 * p;
      double* v = a + 2 * (p + h);
      const Cx uv = load(u), x = (j == 0 && r == 0) ? load(v) : mul(wp, load(v));
      store(v, sub(uv, x));
      store(u, add(uv, x));
    }
  }
}

// The forward transform followed by the conjugate of every result.
void cftbsub(int n, double* a, double* w) {
  cftfsub(n, a, w);
  for (int k = 1; k < n; k += 2) a[k] = -a[k];
}

void rftfsub(int n, double* a, int nc, double* c) {
  const int m = n >> 1, ks = 2 * nc / m;
  int kk = 0;
  for (int j = 2; j < m; j += 2) {
    const int k = n - j;
    kk += ks;
    const double wkr = 0.5 - c[nc - kk], wki = c[kk];
    const double xr = a[j] - a[k], xi = a[j + 1] + a[k + 1];
    const double yr = wkr * xr - wki * xi, yi = wkr * xi + wki * xr;
    a[j] -= yr;
    a[j + 1] -= yi;
    a[k] += yr;
    a[k + 1] -= yi;
  }
}

void rftbsub(int n, double* a, int nc, double* c) {
  a[1] = -a[1];
  const int m = n >> 1, ks = 2 * nc / m;
  int kk = 0;
  for (int j = 2; j < m; j += 2) {
    const int k = n - j;
    kk += ks;
    const double wkr = 0.5 - c[nc - kk], wki = c[kk];
    const double xr = a[j] - a[k], xi = a[j + 1] + a[k + 1];
    const double yr = wkr * xr + wki * xi, yi = wkr * xi - wki * xr;
    a[j] -= yr;
    a[j + 1] = yi - a[j + 1];
    a[k] += yr;
    a[k + 1] = yi - a[k + 1];
  }
  a[m + 1] = -a[m + 1];
}

// The rotation step of the DCT; the DST takes it with the roles of a[j] and
// a[n-j] exchanged.
void rotation_sub(int n, double* a, int nc, double* c, bool sine) {
  const int m = n >> 1, ks = nc / n;
  int kk = 0;
  for (int j = 1; j < m; j++) {
    const int k = n - j;
    kk += ks;
    const double wkr = c[kk] - c[nc - kk], wki = c[kk] + c[nc - kk];
    double& first = sine ? a[k] : a[j];
    double& second = sine ? a[j] : a[k];
    const double xr = wki * first - wkr * second;
    first = wkr * first + wki * second;
    second = xr;
  }
  a[m] *= c[0];
}

void dctsub(int n, double* a, int nc, double* c) { rotation_sub(n, a, nc, c, false); }
void dstsub(int n, double* a, int nc, double* c) { rotation_sub(n, a, nc, c, true); }

// Makes sure the tables hold at least the given numbers of entries.
void ensure_tables(int need_w, int need_c, int* ip, double* w) {
  if (need_w > ip[0]) makewt(need_w, ip, w);
  if (need_c > ip[1]) makect(need_c, ip, w + ip[0]);
}

// Real FFT core shared by rdft, ddct and ddst.
void real_forward(int n, double* a, int* ip, double* w, int nc, double* c) {
  if (n > 4) {
    bitrv2(n, ip + 2, a);
    cftfsub(n, a, w);
    rftfsub(n, a, nc, c);
  } else if (n == 4) {
    cftfsub(n, a, w);
  }
}

void real_backward(int n, double* a, int* ip, double* w, int nc, double* c) {
  if (n > 4) {
    rftbsub(n, a, nc, c);
    bitrv2(n, ip + 2, a);
    cftbsub(n, a, w);
  } else if (n == 4) {
    cftfsub(n, a, w);
  }
}

}  // namespace

void makewt(int nw, int* ip, double* w) {
  ip[0] = nw;
  ip[1] = 1;
  if (nw > 2) {
    const int h = nw >> 1;
    const double delta = std::atan(1.0) / h;
    w[0] = 1;
    w[1] = 0;
    w[h] = std::cos(delta * h);
    w[h + 1] = w[h];
    if (h > 2) {
      for (int j = 2; j < h; j += 2) {
        const double x = std::cos(delta * j), y = std::sin(delta * j);
        w[j] = x;
        w[j + 1] = y;
        w[nw - j] = y;
        w[nw - j + 1] = x;
      }
    }
    bitrv2(nw, ip + 2, w);
  }
}

void makect(int nc, int* ip, double* c) {
  ip[1] = nc;
  if (nc > 1) {
    const int h = nc >> 1;
    const double delta = std::atan(1.0) / h;
    c[0] = std::cos(delta * h);
    c[h] = 0.5 * c[0];
    for (int j = 1; j < h; j++) {
      c[j] = 0.5 * std::cos(delta * j);
      c[nc - j] = 0.5 * std::sin(delta * j);
    }
  }
}

void cdft(int n, int isgn, double* a, int* ip, double* w) {
  ensure_tables(n >> 2, 0, ip, w);
  if (n > 4) {
    if (isgn >= 0) {
      bitrv2(n, ip + 2, a);
      cftfsub(n, a, w);
    } else {
      bitrv2conj(n, ip + 2, a);
      cftbsub(n, a, w);
    }
  } else if (n == 4) {
    cftfsub(n, a, w);
  }
}

void rdft(int n, int isgn, double* a, int* ip, double* w) {
  ensure_tables(n >> 2, n >> 2, ip, w);
  const int nw = ip[0], nc = ip[1];
  if (isgn >= 0) {
    real_forward(n, a, ip, w, nc, w + nw);
    const double xi = a[0] - a[1];
    a[0] += a[1];
    a[1] = xi;
  } else {
    a[1] = 0.5 * (a[0] - a[1]);
    a[0] -= a[1];
    real_backward(n, a, ip, w, nc, w + nw);
  }
}

void ddct(int n, int isgn, double* a, int* ip, double* w) {
  ensure_tables(n >> 2, n, ip, w);
  const int nw = ip[0], nc = ip[1];
  if (isgn < 0) {
    const double xr = a[n - 1];
    for (int j = n - 2; j >= 2; j -= 2) {
      a[j + 1] = a[j] - a[j - 1];
      a[j] += a[j - 1];
    }
    a[1] = a[0] - xr;
    a[0] += xr;
    real_backward(n, a, ip, w, nc, w + nw);
  }
  dctsub(n, a, nc, w + nw);
  if (isgn < 0) {
    a[0] *= 0.5;
    const double scale = 2.0 / n;
    for (int j = 0; j < n; j++) a[j] *= scale;
  } else {
    real_forward(n, a, ip, w, nc, w + nw);
    const double xr = a[0] - a[1];
    a[0] += a[1];
    for (int j = 2; j < n; j += 2) {
      a[j - 1] = a[j] - a[j + 1];
      a[j] += a[j + 1];
    }
    a[n - 1] = xr;
  }
}

void ddst(int n, int isgn, double* a, int* ip, double* w) {
  ensure_tables(n >> 2, n, ip, w);
  const int nw = ip[0], nc = ip[1];
  if (isgn < 0) {
    const double xr = a[n - 1];
    for (int j = n - 2; j >= 2; j -= 2) {
      a[j + 1] = -a[j] - a[j - 1];
      a[j] -= a[j - 1];
    }
    a[1] = a[0] + xr;
    a[0] -= xr;
    real_backward(n, a, ip, w, nc, w + nw);
  }
  dstsub(n, a, nc, w + nw);
  if (isgn >= 0) {
    real_forward(n, a, ip, w, nc, w + nw);
    const double xr = a[0] - a[1];
    a[0] += a[1];
    for (int j = 2; j < n; j += 2) {
      a[j - 1] = -a[j] - a[j + 1];
      a[j] -= a[j + 1];
    }
    a[n - 1] = -xr;
  }
}

// Even outputs of the symmetric transform are the transform of the folded
// sums at half the length, odd outputs a half-length DCT-III of the folded
// differences; the sums are folded again level by level in t.
void dfct(int n, double* a, double* t, int* ip, double* w) {
  ensure_tables(n >> 3, n >> 1, ip, w);
  if (n == 2) {
    const double a0 = a[0], a1 = a[1], a2 = a[2];
    a[0] = a0 + a1 + a2;
    a[1] = a0 - a2;
    a[2] = a0 - a1 + a2;
    return;
  }
  const int half = n >> 1;
  for (int j = 0; j < half; j++) {
    const double x = a[j], y = a[n - j];
    t[j] = x + y;
    a[j] = x - y;
  }
  t[half] = a[half];
  ddct(half, 1, a, ip, w);
  for (int k = half - 1; k >= 0; k--) a[2 * k + 1] = a[k];
  int m = half, l = 2;
  while (m > 2) {
    const int h = m >> 1;
    for (int j = 0; j < h; j++) {
      const double x = t[j], y = t[m - j];
      t[j] = x + y;
      t[m - j] = x - y;
    }
    std::reverse(t + h + 1, t + m + 1);
    ddct(h, 1, t + h + 1, ip, w);
    for (int k = 0; k < h; k++) a[l * (2 * k + 1)] = t[h + 1 + k];
    m = h;
    l <<= 1;
  }
  a[0] = t[0] + t[1] + t[2];
  a[l] = t[0] - t[2];
  a[2 * l] = t[0] - t[1] + t[2];
}

// Odd outputs of the antisymmetric transform are a half-length DST of the
// folded sums (the middle sample as its last term), even outputs the
// transform of the folded differences at half the length.
void dfst(int n, double* a, double* t, int* ip, double* w) {
  ensure_tables(n >> 3, n >> 1, ip, w);
  if (n == 2) {
    a[0] = 0;
    return;
  }
  const int half = n >> 1;
  for (int j = 1; j < half; j++) {
    const double x = a[j], y = a[n - j];
    t[j] = x - y;
    a[j] = x + y;
  }
  a[0] = a[half];
  ddst(half, 1, a, ip, w);
  for (int k = half - 1; k >= 0; k--) a[2 * k + 1] = a[k];
  int m = half, l = 2;
  while (m > 2) {
    const int h = m >> 1;
    for (int j = 1; j < h; j++) {
      const double x = t[j], y = t[m - j];
      t[j] = x - y;
      t[m - j] = x + y;
    }
    std::reverse(t + h + 1, t + m);
    ddst(h, 1, t + h, ip, w);
    for (int k = 0; k < h; k++) a[l * (2 * k + 1)] = t[h + k];
    m = h;
    l <<= 1;
  }
  a[l] = t[1];
  a[0] = 0;
}

namespace {

// Transforms every column pair (j, j+1) of the n1 rows as n1 complex values.
void complex_columns(int n1, int n2, int isgn, double** a, double* t, int* ip, double* w) {
  for (int j = 0; j < n2; j += 2) {
    for (int i = 0; i < n1; i++) {
      t[2 * i] = a[i][j];
      t[2 * i + 1] = a[i][j + 1];
    }
    cdft(2 * n1, isgn, t, ip, w);
    for (int i = 0; i < n1; i++) {
      a[i][j] = t[2 * i];
      a[i][j + 1] = t[2 * i + 1];
    }
  }
}

template <class Transform>
void real_rows_and_columns(int n1, int n2, int isgn, double** a, double* t, int* ip, double* w,
                           Transform transform) {
  const int longest = std::max(n1, n2);
  ensure_tables(longest >> 2, longest, ip, w);
  for (int i = 0; i < n1; i++) transform(n2, isgn, a[i], ip, w);
  for (int j = 0; j < n2; j++) {
    for (int i = 0; i < n1; i++) t[i] = a[i][j];
    transform(n1, isgn, t, ip, w);
    for (int i = 0; i < n1; i++) a[i][j] = t[i];
  }
}

}  // namespace

void cdft2d(int n1, int n2, int isgn, double** a, double* t, int* ip, double* w) {
  ensure_tables(std::max(2 * n1, n2) >> 2, 0, ip, w);
  for (int i = 0; i < n1; i++) cdft(n2, isgn, a[i], ip, w);
  complex_columns(n1, n2, isgn, a, t, ip, w);
}

void rdft2d(int n1, int n2, int isgn, double** a, double* t, int* ip, double* w) {
  ensure_tables(std::max(2 * n1, n2) >> 2, n2 >> 2, ip, w);
  if (isgn < 0) {
    for (int i = 1; i < n1 / 2; i++) {
      const int k = n1 - i;
      const double x = a[i][0] - a[k][0];
      a[i][0] += a[k][0];
      a[k][0] = x;
      const double y = a[k][1] - a[i][1];
      a[i][1] += a[k][1];
      a[k][1] = y;
    }
    complex_columns(n1, n2, isgn, a, t, ip, w);
    for (int i = 0; i < n1; i++) rdft(n2, isgn, a[i], ip, w);
    return;
  }
  for (int i = 0; i < n1; i++) rdft(n2, isgn, a[i], ip, w);
  complex_columns(n1, n2, isgn, a, t, ip, w);
  for (int i = 1; i < n1 / 2; i++) {
    const int k = n1 - i;
    a[k][0] = 0.5 * (a[i][0] - a[k][0]);
    a[i][0] -= a[k][0];
    a[k][1] = 0.5 * (a[i][1] + a[k][1]);
    a[i][1] -= a[k][1];
  }
}

void ddct2d(int n1, int n2, int isgn, double** a, double* t, int* ip, double* w) {
  real_rows_and_columns(n1, n2, isgn, a, t, ip, w, ddct);
}

void ddst2d(int n1, int n2, int isgn, double** a, double* t, int* ip, double* w) {
  real_rows_and_columns(n1, n2, isgn, a, t, ip, w, ddst);
}
