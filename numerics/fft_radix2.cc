// Radix-2 FFT with native centring. Every row and column is transformed as
// S·DFT·S, S the exchange of its two halves. The rotation table and the
// bit-reversal pairs depend only on (n, direction), so they are built once
// and kept for the next transform of the same size.
#include "numerics/fft_radix2.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include "array/fatal.h"
#include "numerics/fftn.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// log2 n by the system's rule, or -1 when n is not a power of two.
int power_of_two_exponent(int n) {
  if (n < 1) return -1;
  int m = static_cast<int>(std::log(static_cast<double>(n)) / std::log(2.) + 0.3);
  return (1 << m) == n ? m : -1;
}

struct Radix2Tables {
  int n = 0;
  int direction = 0;
  std::vector<complex_float> trig;
  std::vector<int> pairs;  // (i, j) flattened
  trig_table_type table{};
  rev_map_type map{};
  // Where value k of a line lands after its halves are exchanged and its
  // bits reversed: both moves done in one copy.
  std::vector<int> dest;
  // The rotations of each butterfly stage, contiguous: stage h (1, 2, 4 ...)
  // starts at h - 1 and holds table[q·n/(2h)], q < h.
  std::vector<complex_float> stage_rot;
};

struct cf_pair {
  float re, im;
};

// u ± w·v, in the order of ft_1d's butterfly.
inline void butterfly(cf_pair& u, cf_pair& v, float wr, float wi) {
  const float pr = wr * v.re - wi * v.im;
  const float pi = wr * v.im + wi * v.re;
  v = {u.re - pr, u.im - pi};
  u = {u.re + pr, u.im + pi};
}

inline void butterfly_unit(cf_pair& u, cf_pair& v) {  // rotation table[0] = 1
  const cf_pair x = u;
  u = {x.re + v.re, x.im + v.im};
  v = {x.re - v.re, x.im - v.im};
}

// Two stages on four values: (0, 1) and (2, 3) under r1 (unit in the first
// stage), then (0, 2) under r2 and (1, 3) under r3.
inline void two_stages(cf_pair& a0, cf_pair& a1, cf_pair& a2, cf_pair& a3, bool unit,
                       const complex_float& r1, const complex_float& r2,
                       const complex_float& r3) {
  cf_pair b0 = a0, b1 = a1, b2 = a2, b3 = a3;
  if (unit) {
    butterfly_unit(b0, b1);
    butterfly_unit(b2, b3);
  } else {
    butterfly(b0, b1, r1.re, r1.im);
    butterfly(b2, b3, r1.re, r1.im);
  }
  butterfly(b0, b2, r2.re, r2.im);
  butterfly(b1, b3, r3.re, r3.im);
  a0 = b0;
  a1 = b1;
  a2 = b2;
  a3 = b3;
}

#ifdef __SSE2__
// Two butterflies side by side, (re, im, re, im) in a register, with the
// products and sums of the scalar form: wr·vr + (-(wi·vi)) is wr·vr - wi·vi
// exactly, and the imaginary sum only has its terms commuted.
inline void butterfly2(__m128& u, __m128& v, __m128 w) {
  const __m128 negate_re = _mm_castsi128_ps(_mm_set_epi32(0, INT32_MIN, 0, INT32_MIN));
  const __m128 vr = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 0, 0));
  const __m128 vi = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 1, 1));
  const __m128 ws = _mm_shuffle_ps(w, w, _MM_SHUFFLE(2, 3, 0, 1));
  const __m128 p = _mm_add_ps(_mm_mul_ps(w, vr), _mm_xor_ps(_mm_mul_ps(ws, vi), negate_re));
  v = _mm_sub_ps(u, p);
  u = _mm_add_ps(u, p);
}
#endif

// The butterflies of ft_1d on bit-reversed data, with the same rotations
// read from the per-stage copy. Stages go two at a time, the four values of
// both kept in registers: the same operations in the same order, half the
// loads and stores.
void butterflies(complex_float* data, const Radix2Tables& t) {
  const int n = t.n;
  cf_pair* x = reinterpret_cast<cf_pair*>(data);
  int log2n = 0;
  while ((1 << log2n) < n) log2n++;
  int h = 1;
  if (log2n % 2 == 1) {
    for (int g = 0; g < n; g += 2) butterfly_unit(x[g], x[g + 1]);
    h = 2;
  }
  for (; h < n; h *= 4) {
    const complex_float* w1 = &t.stage_rot[h - 1];
    const complex_float* w2 = &t.stage_rot[2 * h - 1];
    for (int g = 0; g < n; g += 4 * h) {
      cf_pair* a = x + g;
#ifdef __SSE2__
      if (h >= 2) {
        float* f = reinterpret_cast<float*>(a);
        const int s = 2 * h;  // floats between the four values
        for (int q = 0; q < h; q += 2) {
          float* p = f + 2 * q;
          __m128 a0 = _mm_loadu_ps(p), a1 = _mm_loadu_ps(p + s);
          __m128 a2 = _mm_loadu_ps(p + 2 * s), a3 = _mm_loadu_ps(p + 3 * s);
          const __m128 r1 = _mm_loadu_ps(&w1[q].re);
          butterfly2(a0, a1, r1);
          butterfly2(a2, a3, r1);
          butterfly2(a0, a2, _mm_loadu_ps(&w2[q].re));
          butterfly2(a1, a3, _mm_loadu_ps(&w2[q + h].re));
          _mm_storeu_ps(p, a0);
          _mm_storeu_ps(p + s, a1);
          _mm_storeu_ps(p + 2 * s, a2);
          _mm_storeu_ps(p + 3 * s, a3);
        }
        continue;
      }
#endif
      for (int q = 0; q < h; q++)
        two_stages(a[q], a[q + h], a[q + 2 * h], a[q + 3 * h], h == 1, w1[q], w2[q], w2[q + h]);
    }
  }
}

// The same butterflies on `lanes` lines side by side (value k of line c at
// x[k·lanes + c]), two lines at a time under one rotation: each line sees
// the operations of butterflies() in the same order.
void butterflies_across(complex_float* data, const Radix2Tables& t, int lanes) {
  const int n = t.n;
  cf_pair* x = reinterpret_cast<cf_pair*>(data);
  int log2n = 0;
  while ((1 << log2n) < n) log2n++;
  auto line = [&](int k) { return x + static_cast<size_t>(k) * lanes; };
  int h = 1;
  if (log2n % 2 == 1) {
    for (int g = 0; g < n; g += 2) {
      cf_pair* u = line(g);
      cf_pair* v = line(g + 1);
      for (int c = 0; c < lanes; c++) butterfly_unit(u[c], v[c]);
    }
    h = 2;
  }
  for (; h < n; h *= 4) {
    const complex_float* w1 = &t.stage_rot[h - 1];
    const complex_float* w2 = &t.stage_rot[2 * h - 1];
    for (int g = 0; g < n; g += 4 * h) {
      for (int q = 0; q < h; q++) {
        cf_pair* a0 = line(g + q);
        cf_pair* a1 = line(g + q + h);
        cf_pair* a2 = line(g + q + 2 * h);
        cf_pair* a3 = line(g + q + 3 * h);
        int c = 0;
#ifdef __SSE2__
        // (re, im) of one rotation in both halves of a register.
        auto twice = [](const complex_float& w) {
          return _mm_castpd_ps(_mm_load1_pd(reinterpret_cast<const double*>(&w)));
        };
        const __m128 r1 = twice(w1[q]), r2a = twice(w2[q]), r2b = twice(w2[q + h]);
        for (; c + 1 < lanes; c += 2) {
          float* p0 = &a0[c].re;
          float* p1 = &a1[c].re;
          float* p2 = &a2[c].re;
          float* p3 = &a3[c].re;
          __m128 v0 = _mm_loadu_ps(p0), v1 = _mm_loadu_ps(p1);
          __m128 v2 = _mm_loadu_ps(p2), v3 = _mm_loadu_ps(p3);
          if (h == 1) {
            const __m128 s01 = _mm_add_ps(v0, v1), s23 = _mm_add_ps(v2, v3);
            v1 = _mm_sub_ps(v0, v1);
            v3 = _mm_sub_ps(v2, v3);
            v0 = s01;
            v2 = s23;
          } else {
            butterfly2(v0, v1, r1);
            butterfly2(v2, v3, r1);
          }
          butterfly2(v0, v2, r2a);
          butterfly2(v1, v3, r2b);
          _mm_storeu_ps(p0, v0);
          _mm_storeu_ps(p1, v1);
          _mm_storeu_ps(p2, v2);
          _mm_storeu_ps(p3, v3);
        }
#endif
        for (; c < lanes; c++)
          two_stages(a0[c], a1[c], a2[c], a3[c], h == 1, w1[q], w2[q], w2[q + h]);
      }
    }
  }
}

std::shared_ptr<const Radix2Tables> build_tables(int n, int log2n, int direction) {
  auto t = std::make_shared<Radix2Tables>();
  t->n = n;
  t->direction = direction;
  t->trig.resize(std::max(1, n / 2));
  t->table = {n / 2, n, log2n, t->trig.data()};
  set_trig_table(t->table, direction);
  int count = rev_map_count(n, log2n);
  t->pairs.resize(2 * static_cast<size_t>(std::max(1, count)));
  t->map = {count, n, reinterpret_cast<int(*)[2]>(t->pairs.data())};
  set_rev_map(t->map);
  t->dest.resize(n);
  for (int k = 0; k < n; k++) t->dest[k] = (k + n / 2) % n;
  for (int k = 0; k < count; k++) std::swap(t->dest[t->pairs[2 * k]], t->dest[t->pairs[2 * k + 1]]);
  // dest holds, at each position, the value index that lands there; invert it.
  std::vector<int> lands(n);
  for (int p = 0; p < n; p++) lands[t->dest[p]] = p;
  t->dest.swap(lands);
  t->stage_rot.resize(std::max(1, n - 1));
  for (int h = 1; h < n; h *= 2)
    for (int q = 0; q < h; q++) t->stage_rot[h - 1 + q] = t->trig[q * (n / (2 * h))];
  return t;
}

// Tables of the sizes in use, shared by all threads: built outside the lock,
// immutable once published, kept alive by their users after eviction.
std::shared_ptr<const Radix2Tables> tables_for(int n, int log2n, int direction) {
  static std::mutex lock;
  static std::vector<std::shared_ptr<const Radix2Tables>> cache;
  constexpr size_t Capacity = 8;
  auto find = [&]() -> std::shared_ptr<const Radix2Tables> {
    for (size_t i = 0; i < cache.size(); i++) {
      if (cache[i]->n == n && cache[i]->direction == direction) {
        std::rotate(cache.begin(), cache.begin() + i, cache.begin() + i + 1);
        return cache[0];
      }
    }
    return nullptr;
  };
  {
    std::lock_guard<std::mutex> guard(lock);
    if (auto found = find()) return found;
  }
  std::shared_ptr<const Radix2Tables> built = build_tables(n, log2n, direction);
  std::lock_guard<std::mutex> guard(lock);
  if (auto found = find()) return found;
  if (cache.size() >= Capacity) cache.pop_back();
  cache.insert(cache.begin(), built);
  return built;
}

inline void swap_halves(complex_float* v, int n) {
  std::swap_ranges(v, v + n / 2, v + n / 2);
}

// Columns gathered at a time so that each read of the image touches
// consecutive values.
constexpr int ColumnBatch = 16;

// Below this many values an image stays on the calling thread.
constexpr long ParallelMinValues = 32768;

// Work vectors of the calling thread; they only grow.
std::vector<complex_float>& thread_vectors(size_t count) {
  thread_local std::vector<complex_float> vectors;
  if (vectors.size() < count) vectors.resize(count);
  return vectors;
}

}  // namespace

int rev_map_count(int n, int log2n) {
  if (n < 2) return 0;
  return n / 2 - (1 << ((log2n - 1) / 2));
}

void set_trig_table(trig_table_type table, int direction) {
  const double half = table.n / 2;
  for (int k = 0; k < table.count; k++) {
    double x = direction * M_PI * k / half;
    table.table[k].re = static_cast<float>(std::cos(x));
    table.table[k].im = static_cast<float>(std::sin(x));
  }
}

void set_rev_map(rev_map_type map) {
  int bits = power_of_two_exponent(map.n);
  int stored = 0;
  for (int i = 0; i < map.n - 1; i++) {
    int j = 0;
    for (int b = 0; b < bits; b++)
      if (i & (1 << b)) j |= 1 << (bits - 1 - b);
    if (j > i && stored < map.count) {
      map.pairs[stored][0] = i;
      map.pairs[stored][1] = j;
      stored++;
    }
  }
}

void bitreverse(complex_float* data, rev_map_type map) {
  for (int k = 0; k < map.count; k++) std::swap(data[map.pairs[k][0]], data[map.pairs[k][1]]);
}

void ft_1d(complex_float* data, trig_table_type table) {
  const int n = table.n;
  const complex_float* w = table.table;
  for (int h = 1, step = n / 2; h < n; h *= 2, step /= 2) {
    for (int g = 0; g < n; g += 2 * h) {
      complex_float* u = data + g;
      complex_float* v = u + h;
      for (int q = 0; q < h; q++) {
        const complex_float wq = w[q * step];
        const float pr = wq.re * v[q].re - wq.im * v[q].im;
        const float pi = wq.re * v[q].im + wq.im * v[q].re;
        v[q].re = u[q].re - pr;
        v[q].im = u[q].im - pi;
        u[q].re += pr;
        u[q].im += pi;
      }
    }
  }
}

void norm2d(complex_float* data, int n) {
  const float count = static_cast<float>(n) * static_cast<float>(n);
  const long total = static_cast<long>(n) * n;
  for (long k = 0; k < total; k++) {
    data[k].re /= count;
    data[k].im /= count;
  }
}

void norm1d(complex_float* data, int n) {
  const float count = static_cast<float>(n);
  for (int k = 0; k < n; k++) {
    data[k].re /= count;
    data[k].im /= count;
  }
}

complex_float* b_s_row_to_vector(complex_float* data, int r, int n) {
  complex_float* row = data + static_cast<long>(r) * n;
  swap_halves(row, n);
  return row;
}

void b_s_row_from_vector(complex_float* row, int n) { swap_halves(row, n); }

void b_s_col_to_vector(complex_float* data, complex_float* vector, int c, int n) {
  const int h = n / 2;
  for (int k = 0; k < h; k++) {
    vector[k] = data[static_cast<long>(k + h) * n + c];
    vector[k + h] = data[static_cast<long>(k) * n + c];
  }
}

void b_s_col_from_vector(complex_float* data, complex_float* vector, int c, int n) {
  const int h = n / 2;
  for (int k = 0; k < h; k++) {
    data[static_cast<long>(k + h) * n + c] = vector[k];
    data[static_cast<long>(k) * n + c] = vector[k + h];
  }
}

namespace {

// The tables through the calling thread's own cache: the many small
// transforms of block-wise callers (ridgelets) take no lock and touch no
// shared reference count. The cache keeps its tables alive.
const Radix2Tables& thread_tables(int n, int log2n, int direction) {
  constexpr int Slots = 16;
  struct Kept {
    int n = 0, direction = 0;
    std::shared_ptr<const Radix2Tables> tables;
  };
  thread_local Kept kept[Slots];
  thread_local int next = 0;
  for (const Kept& k : kept)
    if (k.tables && k.n == n && k.direction == direction) return *k.tables;
  Kept& slot = kept[next];
  next = (next + 1) % Slots;
  slot.tables = tables_for(n, log2n, direction);
  slot.n = n;
  slot.direction = direction;
  return *slot.tables;
}

}  // namespace

void ft_cf_any_power_of_2(complex_float* data, int direction, int n) {
  const int m = power_of_two_exponent(n);
  if (m < 0) fatal_exit("error: is not a power of two\n", -1, stdout);
  const Radix2Tables& t = thread_tables(n, m, direction);
  const int h = n / 2;
  const int* dest = t.dest.data();
  // Each line is copied into a work vector with its halves exchanged and its
  // bits reversed in one move, transformed, and copied back with its halves
  // exchanged. Columns go in bands so that every read of the image touches
  // consecutive values. Rows, then bands, are shared among the threads, each
  // with its own vectors; a line's arithmetic does not depend on the thread.
  // Vectors are a little more than n apart: at a power-of-two stride the
  // band's values would all fall in the same cache sets.
  const size_t stride = static_cast<size_t>(n) + 8;
  const bool parallel = static_cast<long>(n) * n >= ParallelMinValues;
  const float count = static_cast<float>(n) * static_cast<float>(n);
  complex_float* const image = data;
  auto row = [&](int r, complex_float* v) {
    complex_float* line = image + static_cast<long>(r) * n;
    for (int k = 0; k < n; k++) v[dest[k]] = line[k];
    butterflies(v, t);
    std::copy(v + h, v + n, line);
    std::copy(v, v + h, line + (n - h));
  };
  // The band's columns side by side: row k of the band goes, whole, to the
  // place bit reversal and half exchange give it.
  auto columns = [&](int c0, complex_float* band) {
    const int width = std::min(ColumnBatch, n - c0);
    for (int k = 0; k < n; k++) {
      const complex_float* src = image + static_cast<long>(k) * n + c0;
      std::copy(src, src + width, band + static_cast<size_t>(dest[k]) * width);
    }
    butterflies_across(band, t, width);
    for (int k = 0; k < n; k++) {
      complex_float* dst = image + static_cast<long>(k) * n + c0;
      const complex_float* v = band + static_cast<size_t>(k < n - h ? k + h : k - (n - h)) * width;
      if (direction == -1) {
        // norm2d's division, done on the way back rather than in a pass of
        // its own over the image.
        for (int c = 0; c < width; c++) dst[c] = {v[c].re / count, v[c].im / count};
      } else {
        std::copy(v, v + width, dst);
      }
    }
  };
  // A small transform, or one inside a parallel region (ridgelet blocks),
  // starts no team: even a region whose `if` fails costs more than it.
  if (parallel && !fft_in_parallel_region()) {
#pragma omp parallel
    {
      std::vector<complex_float>& vectors = thread_vectors(ColumnBatch * stride);
#pragma omp for schedule(static)
      for (int r = 0; r < n; r++) row(r, vectors.data());
#pragma omp for schedule(static)
      for (int c0 = 0; c0 < n; c0 += ColumnBatch) columns(c0, vectors.data());
    }
  } else {
    std::vector<complex_float>& vectors = thread_vectors(ColumnBatch * stride);
    for (int r = 0; r < n; r++) row(r, vectors.data());
    for (int c0 = 0; c0 < n; c0 += ColumnBatch) columns(c0, vectors.data());
  }
}

void ft_cf_1d(complex_float* data, int direction, int n) {
  const int m = power_of_two_exponent(n);
  // A length the radix-2 transform cannot take must not pass for a result.
  if (m < 0)
    fatal_exitf(-1, stderr, "ft_cf_any_power_of_2... array size= %d,not a power of 2\n", n);
  const Radix2Tables* t = &thread_tables(n, m, direction);
  swap_halves(data, n);
  bitreverse(data, t->map);
  ft_1d(data, t->table);
  swap_halves(data, n);
  if (direction == -1) norm1d(data, n);
}

// ---- Wrappers ----

namespace {

using Icf = to_array<std::complex<float>, false>;

complex_float* as_cf(std::complex<float>* p) { return reinterpret_cast<complex_float*>(p); }

void check_square(int nl, int nc, int result_size) {
  if (nl != nc)
    fatal_exitf(-1, stdout, "Error: fft2d needs a square image: Nl = %d, Nc = %d ...\n", nl, nc);
  if (result_size < static_cast<long>(nl) * nc)
    fatal_exitf(-1, stdout, "Error: fft2d result holds %d values, %ld are needed ...\n",
                result_size, static_cast<long>(nl) * nc);
}

template <class In>
void copy_and_transform(const In& in, const Icf& result, int direction) {
  const int nl = in.nl(), nc = in.nc();
  check_square(nl, nc, result.n_elem());
  std::complex<float>* out = result.buffer();
  const auto* src = in.buffer();
  const long n = static_cast<long>(nl) * nc;
  for (long k = 0; k < n; k++) out[k] = std::complex<float>(src[k]);
  ft_cf_any_power_of_2(as_cf(out), direction == -1 ? -1 : 1, nl);
}

template <class In>
void copy_and_transform_1d(const In& in, const to_array<std::complex<float>, true>& result,
                           int direction) {
  const int n = in.nx();
  if (direction != 1 && direction != -1)
    fatal_exitf(-1, stdout, "Error: fft1d direction must be 1 or -1, not %d ...\n", direction);
  if (result.n_elem() < n)
    fatal_exitf(-1, stdout, "Error: fft1d result holds %d values, %d are needed ...\n",
                result.n_elem(), n);
  std::vector<complex_float> line(std::max(1, n));
  for (int k = 0; k < n; k++) {
    std::complex<float> v(in(k));
    line[k] = {v.real(), v.imag()};
  }
  ft_cf_1d(line.data(), direction, n);
  for (int k = 0; k < n; k++) result(k) = std::complex<float>(line[k].re, line[k].im);
}

}  // namespace

void fft2d(const Icf& data, int direction) {
  check_square(data.nl(), data.nc(), data.n_elem());
  ft_cf_any_power_of_2(as_cf(data.buffer()), direction == -1 ? -1 : 1, data.nl());
}

void fft2d(const Icf& in, const Icf& result, int direction) {
  copy_and_transform(in, result, direction);
}
void fft2d(const to_array<int, false>& in, const Icf& result, int direction) {
  copy_and_transform(in, result, direction);
}
void fft2d(const to_array<float, false>& in, const Icf& result, int direction) {
  copy_and_transform(in, result, direction);
}

void fft1d(const to_array<float, true>& in, const to_array<std::complex<float>, true>& result,
           int direction) {
  copy_and_transform_1d(in, result, direction);
}
void fft1d(const to_array<std::complex<float>, true>& in,
           const to_array<std::complex<float>, true>& result, int direction) {
  copy_and_transform_1d(in, result, direction);
}

void fft2d_conv(const to_array<float, false>& image1, const to_array<float, false>& image2,
                to_array<float, false>& result) {
  const int nl = image1.nl(), nc = image1.nc();
  if (image2.nl() != nl || image2.nc() != nc || result.nl() != nl || result.nc() != nc)
    fatal_exitf(-1, stdout,
                "Error: fft2d_conv needs images of one size: %dx%d, %dx%d, result %dx%d ...\n",
                nl, nc, image2.nl(), image2.nc(), result.nl(), result.nc());
  Icf in1(nl, nc, "Im_in1_cf"), in2(nl, nc, "Im_in2_cf");
  fft2d(image1, in1, 1);
  fft2d(image2, in2, 1);
  const long n = static_cast<long>(nl) * nc;
  std::complex<float>* a = in1.buffer();
  std::complex<float>* b = in2.buffer();
  for (long k = 0; k < n; k++) b[k] *= a[k];
  fft2d(in2, in1, -1);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) result(i, j) = in1(i, j).real();
}
