// Radix-2 FFT with native centring. Every row and column is transformed as
// S·DFT·S, S the exchange of its two halves. The rotation table and the
// bit-reversal pairs depend only on (n, direction), so they are built once
// and kept for the next transform of the same size.
#include "numerics/fft_radix2.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "array/cpu_dispatch.h"
#include "array/fatal.h"
#include "numerics/fftn.h"

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

// Lines side by side: one register holds the real (or imaginary) parts of
// a value in Width lines. A work band holds the n values of those lines,
// value k as the pair (real lanes, imaginary lanes) at 2k and 2k + 1. The
// AVX2 entry takes eight lines; the base entry four, because the base
// instruction set has sixteen registers of four floats: eight-float vectors
// would be split in two, and their shuffles built element by element through
// the stack.
typedef float Lanes8 __attribute__((vector_size(32)));
typedef float Lanes4 __attribute__((vector_size(16)));
constexpr int MaxLaneCount = 8;

template <class Lanes>
constexpr int lane_count() {
  return sizeof(Lanes) / sizeof(float);
}

// u ± w·v, with the products and sums of ft_1d in its order for every lane.
template <class Lanes>
QZ_ALWAYS_INLINE void lane_butterfly(Lanes& ur, Lanes& ui, Lanes& vr, Lanes& vi,
                                     complex_float w) {
  const Lanes pr = w.re * vr - w.im * vi;
  const Lanes pi = w.re * vi + w.im * vr;
  vr = ur - pr;
  vi = ui - pi;
  ur = ur + pr;
  ui = ui + pi;
}

// Stages h, 2h, ... 2^(Stages-1)·h of the butterflies on bit-reversed lanes,
// the 2^Stages values of each butterfly group kept in registers between
// stages. Every value meets the operations of ft_1d in the same order; the
// first stage of all (h = 1, rotation 1) only adds and subtracts, as the
// single-line form does.
template <int Stages, class Lanes>
QZ_ALWAYS_INLINE void lane_stages(Lanes* band, const complex_float* stage_rot, int n, int h) {
  constexpr int Count = 1 << Stages;
  for (int g = 0; g < n; g += Count * h) {
    for (int q = 0; q < h; q++) {
      Lanes re[Count], im[Count];
#pragma GCC unroll 8
      for (int m = 0; m < Count; m++) {
        re[m] = band[2 * (g + q + m * h)];
        im[m] = band[2 * (g + q + m * h) + 1];
      }
#pragma GCC unroll 3
      for (int l = 0; l < Stages; l++) {
        const int half = h << l;  // this stage's butterflies span 2·half values
        const complex_float* rot = stage_rot + half - 1 + q;
#pragma GCC unroll 8
        for (int m = 0; m < Count; m++) {
          if (m & (1 << l)) continue;
          const int partner = m + (1 << l);
          if (half == 1) {
            const Lanes sr = re[m] + re[partner], si = im[m] + im[partner];
            re[partner] = re[m] - re[partner];
            im[partner] = im[m] - im[partner];
            re[m] = sr;
            im[m] = si;
          } else {
            lane_butterfly(re[m], im[m], re[partner], im[partner], rot[(m & ((1 << l) - 1)) * h]);
          }
        }
      }
#pragma GCC unroll 8
      for (int m = 0; m < Count; m++) {
        band[2 * (g + q + m * h)] = re[m];
        band[2 * (g + q + m * h) + 1] = im[m];
      }
    }
  }
}

// All log2 n stages, three at a time (one or two first when log2 n is not a
// multiple of three). With four-float lanes the eight values of a group fill
// the sixteen registers and a few spill, but measured no slower than groups
// of two stages, which pass over the band half as often again.
template <class Lanes>
QZ_ALWAYS_INLINE void lane_butterflies(Lanes* band, const Radix2Tables& t) {
  const int n = t.n;
  int log2n = 0;
  while ((1 << log2n) < n) log2n++;
  int h = 1;
  if (log2n % 3 == 1) {
    lane_stages<1>(band, t.stage_rot.data(), n, h);
    h = 2;
  } else if (log2n % 3 == 2) {
    lane_stages<2>(band, t.stage_rot.data(), n, h);
    h = 4;
  }
  for (; h < n; h *= 8) lane_stages<3>(band, t.stage_rot.data(), n, h);
}

// out[j] lane i = in[i] lane j: eight registers transposed in 24 shuffles.
// A shuffle's picks number the lanes of its first operand 0 .. Width-1 and
// those of its second Width .. 2·Width-1.
QZ_ALWAYS_INLINE void transpose_lanes(const Lanes8 in[8], Lanes8 out[8]) {
  Lanes8 t[8], u[8];
  for (int r = 0; r < 8; r += 2) {
    t[r] = __builtin_shufflevector(in[r], in[r + 1], 0, 8, 1, 9, 4, 12, 5, 13);
    t[r + 1] = __builtin_shufflevector(in[r], in[r + 1], 2, 10, 3, 11, 6, 14, 7, 15);
  }
  for (int r = 0; r < 8; r += 4) {
    u[r] = __builtin_shufflevector(t[r], t[r + 2], 0, 1, 8, 9, 4, 5, 12, 13);
    u[r + 1] = __builtin_shufflevector(t[r], t[r + 2], 2, 3, 10, 11, 6, 7, 14, 15);
    u[r + 2] = __builtin_shufflevector(t[r + 1], t[r + 3], 0, 1, 8, 9, 4, 5, 12, 13);
    u[r + 3] = __builtin_shufflevector(t[r + 1], t[r + 3], 2, 3, 10, 11, 6, 7, 14, 15);
  }
  for (int c = 0; c < 4; c++) {
    out[c] = __builtin_shufflevector(u[c], u[c + 4], 0, 1, 2, 3, 8, 9, 10, 11);
    out[c + 4] = __builtin_shufflevector(u[c], u[c + 4], 4, 5, 6, 7, 12, 13, 14, 15);
  }
}

// Four registers in eight shuffles, each one instruction of the base set
// (unpcklps, unpckhps, movlhps, movhlps).
QZ_ALWAYS_INLINE void transpose_lanes(const Lanes4 in[4], Lanes4 out[4]) {
  const Lanes4 t0 = __builtin_shufflevector(in[0], in[1], 0, 4, 1, 5);
  const Lanes4 t1 = __builtin_shufflevector(in[0], in[1], 2, 6, 3, 7);
  const Lanes4 t2 = __builtin_shufflevector(in[2], in[3], 0, 4, 1, 5);
  const Lanes4 t3 = __builtin_shufflevector(in[2], in[3], 2, 6, 3, 7);
  out[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
  out[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
  out[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
  out[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// Interleaved complex values of Width lines (two registers) to their real
// and imaginary lanes, and back; Lane runs over 0 .. Width-1, so that the
// picks are constants whatever the lane count.
template <class Lanes, size_t... Lane>
QZ_ALWAYS_INLINE void split_parts(const Lanes& a, const Lanes& b, Lanes& re, Lanes& im,
                                  std::index_sequence<Lane...>) {
  re = __builtin_shufflevector(a, b, (2 * Lane)...);
  im = __builtin_shufflevector(a, b, (2 * Lane + 1)...);
}
template <class Lanes>
QZ_ALWAYS_INLINE void split_parts(const Lanes& a, const Lanes& b, Lanes& re, Lanes& im) {
  split_parts(a, b, re, im, std::make_index_sequence<lane_count<Lanes>()>());
}
// Value i of a register: re lane i/2, then im (lane Width + i/2).
template <class Lanes, size_t... Lane>
QZ_ALWAYS_INLINE void merge_parts(const Lanes& re, const Lanes& im, Lanes& a, Lanes& b,
                                  std::index_sequence<Lane...>) {
  constexpr size_t Width = sizeof...(Lane);
  a = __builtin_shufflevector(re, im, (Lane / 2 + Lane % 2 * Width)...);
  b = __builtin_shufflevector(re, im, (Lane / 2 + Lane % 2 * Width + Width / 2)...);
}
template <class Lanes>
QZ_ALWAYS_INLINE void merge_parts(const Lanes& re, const Lanes& im, Lanes& a, Lanes& b) {
  merge_parts(re, im, a, b, std::make_index_sequence<lane_count<Lanes>()>());
}

// Width/2 complex values, interleaved, to or from a register.
template <class Lanes>
QZ_ALWAYS_INLINE void load_lanes(Lanes& v, const complex_float* p) {
  std::memcpy(&v, p, sizeof v);
}
template <class Lanes>
QZ_ALWAYS_INLINE void store_lanes(complex_float* p, const Lanes& v) {
  std::memcpy(p, &v, sizeof v);
}

// Rows r0 .. r0+Width-1 of the n x n image: each row's value k goes to lane
// r - r0 of band value dest[k] (halves exchanged and bits reversed in one
// move), the butterflies run, and band value (j + n/2) mod n returns to
// column j.
template <class Lanes>
QZ_ALWAYS_INLINE void row_block_body(complex_float* data, int r0, const Radix2Tables& t,
                                     Lanes* band) {
  constexpr int Width = lane_count<Lanes>(), Values = Width / 2;  // values per register
  const int n = t.n, h = n / 2;
  const int* dest = t.dest.data();
  auto row = [&](int r) QZ_LAMBDA_INLINE { return data + static_cast<int64_t>(r0 + r) * n; };
  for (int k = 0; k < n; k += Values) {
    Lanes in[Width], out[Width];
    for (int r = 0; r < Width; r++) load_lanes(in[r], row(r) + k);
    transpose_lanes(in, out);
    for (int m = 0; m < Values; m++) {
      const int to = dest[k + m];
      band[2 * to] = out[2 * m];
      band[2 * to + 1] = out[2 * m + 1];
    }
  }
  lane_butterflies(band, t);
  for (int j = 0; j < n; j += Values) {
    const int from = (j + h) % n;  // Values consecutive values: h is a multiple of them
    Lanes in[Width], out[Width];
    for (int m = 0; m < Width; m++) in[m] = band[2 * from + m];
    transpose_lanes(in, out);
    for (int r = 0; r < Width; r++) store_lanes(row(r) + j, out[r]);
  }
}

// Columns c0 .. c0+Width-1 the same way: row k's values, split into real
// and imaginary lanes, go to band value dest[k]; on the way back the inverse
// divides by n·n (a power of two, so multiplying by its reciprocal gives the
// same bits).
template <class Lanes>
QZ_ALWAYS_INLINE void column_band_body(complex_float* data, int c0, const Radix2Tables& t,
                                       Lanes* band, bool divide) {
  constexpr int Values = lane_count<Lanes>() / 2;
  const int n = t.n, h = n / 2;
  const int* dest = t.dest.data();
  for (int k = 0; k < n; k++) {
    const complex_float* src = data + static_cast<int64_t>(k) * n + c0;
    Lanes a, b;
    load_lanes(a, src);
    load_lanes(b, src + Values);
    split_parts(a, b, band[2 * dest[k]], band[2 * dest[k] + 1]);
  }
  lane_butterflies(band, t);
  const float scale = 1.f / (static_cast<float>(n) * static_cast<float>(n));
  for (int k = 0; k < n; k++) {
    complex_float* dst = data + static_cast<int64_t>(k) * n + c0;
    const int from = (k + h) % n;
    Lanes re = band[2 * from], im = band[2 * from + 1];
    if (divide) {
      re *= scale;
      im *= scale;
    }
    Lanes low, high;
    merge_parts(re, im, low, high);
    store_lanes(dst, low);
    store_lanes(dst + Values, high);
  }
}

// The lines of a block are the entry's lane count; the band is only cast to
// the entry's lane type.
void row_block_base(complex_float* data, int r0, const Radix2Tables& t, float* band) {
  row_block_body(data, r0, t, reinterpret_cast<Lanes4*>(band));
}
QZ_TARGET_AVX2 void row_block_avx2(complex_float* data, int r0, const Radix2Tables& t,
                                   float* band) {
  row_block_body(data, r0, t, reinterpret_cast<Lanes8*>(band));
}
void column_band_base(complex_float* data, int c0, const Radix2Tables& t, float* band,
                      bool divide) {
  column_band_body(data, c0, t, reinterpret_cast<Lanes4*>(band), divide);
}
QZ_TARGET_AVX2 void column_band_avx2(complex_float* data, int c0, const Radix2Tables& t,
                                     float* band, bool divide) {
  column_band_body(data, c0, t, reinterpret_cast<Lanes8*>(band), divide);
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

// Below this many values an image stays on the calling thread.
constexpr long ParallelMinValues = 32768;

// Work band of the calling thread, n values of up to eight lines, aligned
// for the widest lane registers; it only grows.
float* thread_band(int n) {
  constexpr size_t Align = MaxLaneCount * sizeof(float);
  thread_local std::vector<float> storage;
  const size_t floats = 2 * static_cast<size_t>(n) * MaxLaneCount + MaxLaneCount;
  if (storage.size() < floats) storage.resize(floats);
  const uintptr_t at = reinterpret_cast<uintptr_t>(storage.data());
  return reinterpret_cast<float*>((at + Align - 1) / Align * Align);
}

// Sides below two blocks of the widest lanes: every row, then every column,
// on its own.
void small_image_transform(complex_float* data, const Radix2Tables& t, int direction) {
  const int n = t.n;
  std::vector<complex_float> column(n);
  for (int r = 0; r < n; r++) {
    complex_float* row = b_s_row_to_vector(data, r, n);
    bitreverse(row, t.map);
    ft_1d(row, t.table);
    b_s_row_from_vector(row, n);
  }
  for (int c = 0; c < n; c++) {
    b_s_col_to_vector(data, column.data(), c, n);
    bitreverse(column.data(), t.map);
    ft_1d(column.data(), t.table);
    b_s_col_from_vector(data, column.data(), c, n);
  }
  if (direction == -1) norm2d(data, n);
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
  if (n < 2 * MaxLaneCount) {
    small_image_transform(data, t, direction);
    return;
  }
  // A block of rows, then of columns (eight with AVX2, four without), at a
  // time goes into a work band with its halves exchanged and its bits
  // reversed, is transformed side by side and goes back with its halves
  // exchanged. Blocks are shared among the threads, each with its own band;
  // a line's arithmetic does not depend on the thread, on the entry or on
  // its neighbours in the band.
  const bool avx2 = cpu_has_avx2();
  const int lines = avx2 ? lane_count<Lanes8>() : lane_count<Lanes4>();
  auto rows = [&](int r0, float* band) {
    if (avx2) row_block_avx2(data, r0, t, band);
    else row_block_base(data, r0, t, band);
  };
  auto columns = [&](int c0, float* band) {
    if (avx2) column_band_avx2(data, c0, t, band, direction == -1);
    else column_band_base(data, c0, t, band, direction == -1);
  };
  // A small transform, or one inside a parallel region (ridgelet blocks),
  // starts no team: even a region whose `if` fails costs more than it.
  if (static_cast<long>(n) * n >= ParallelMinValues && !fft_in_parallel_region()) {
#pragma omp parallel
    {
      float* band = thread_band(n);
#pragma omp for schedule(static)
      for (int r0 = 0; r0 < n; r0 += lines) rows(r0, band);
#pragma omp for schedule(static)
      for (int c0 = 0; c0 < n; c0 += lines) columns(c0, band);
    }
    return;
  }
  float* band = thread_band(n);
  for (int r0 = 0; r0 < n; r0 += lines) rows(r0, band);
  for (int c0 = 0; c0 < n; c0 += lines) columns(c0, band);
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
