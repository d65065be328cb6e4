// A trous B3-spline transform. The smoothing is the inner loop of every MCA
// iteration, so it runs on row pointers with the border rule applied only at
// the edges, the pass along the columns takes each line-pass row while it is
// still in cache, and the band differences and sums are formed in the same
// pass. The plain forward transform goes further. On several threads and an
// image that a last level cache holds, each thread makes every level of its
// own lines, with a barrier between levels. Otherwise all its smoothings run
// in one sweep down the image, each scale's rows made as the next one needs
// them, so the intermediate smoothings never travel through memory; shared
// among threads, each share also makes the rows its columns reach beyond it.
// Either way the caller's work on the finished lines joins the same parallel
// region. Every output row is a function of the input alone, so the result
// does not depend on the number of threads.
#include "multires/atrous_2d_wt.h"

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "array/border_index.h"
#include "array/cpu_dispatch.h"
#include "array/thread_share.h"

namespace {

// Noise standard deviation of band s for unit white noise in the image.
const double AtrousBandNorm[10] = {0.889434, 0.200105, 0.0857724, 0.0413447, 0.0202689,
                                   0.00995628, 0.00513504, 0, 0, 0};

// One output sample of the B3 kernel (1, 4, 6, 4, 1)/16: each symmetric pair
// is summed in float, the three terms are weighted and accumulated in double,
// and the result is rounded to float once.
inline float b3_tap(float centre, float near_left, float near_right, float far_left,
                    float far_right) {
  const float near_pair = near_left + near_right;
  const float far_pair = far_left + far_right;
  const double v = 0.375 * static_cast<double>(centre) + 0.25 * static_cast<double>(near_pair) +
                   0.0625 * static_cast<double>(far_pair);
  return static_cast<float>(v);
}

// Every operation reads band 0: an empty band array has nothing to hold.
void check_nbr_scale(int NbrScale) {
  if (NbrScale < 1)
    fatal_exitf(-1, stdout, "Error: bad number of scales %d in the a trous transform ...\n",
                NbrScale);
}

// Below this many pixels a parallel region costs more than it saves.
constexpr int64_t MinParallelPixels = int64_t{1} << 16;

int thread_count(int64_t pixels) {
  return pixels >= MinParallelPixels ? omp_get_max_threads() : 1;
}

// The image keeps its name when it takes the nl x nc shape.
void shape_image(to_array<float, false>& ima, int nl, int nc) {
  if (ima.nl() == nl && ima.nc() == nc && ima.naxis() == 2) return;
  const std::string name = ima.name();
  ima.alloc(nl, nc, name.c_str());
}

// The row loops below are compiled for the base instruction set and for
// AVX2 (see cpu_dispatch.h): the same bits either way.

// Pass along one line of nc samples with holes of d: the columns whose four
// neighbours lie inside the line read them directly. The others take their
// samples, border rule applied, from pad (6d floats) when the holes are
// narrower than the line, else through the rule one by one.
QZ_ALWAYS_INLINE void smooth_line_body(const float* in, float* out, int nc, int d,
                                       type_border border, float* pad) {
  auto sample = [&](int j) QZ_LAMBDA_INLINE {
    const int k = border_index(j, nc, border);
    return k < 0 ? 0.f : in[k];
  };
  if (2 * int64_t{d} >= nc) {
    for (int j = 0; j < nc; j++)
      out[j] = b3_tap(in[j], sample(j - d), sample(j + d), sample(j - 2 * d), sample(j + 2 * d));
    return;
  }
  const int first = 2 * d, last = std::max(first, nc - 2 * d);
  // Samples from 2d before an edge stretch to 2d after it, then the taps.
  auto edge_stretch = [&](int from, int to) QZ_LAMBDA_INLINE {
    const int count = to - from + 4 * d;
    for (int t = 0; t < count; t++) {
      const int k = from - 2 * d + t;
      pad[t] = k >= 0 && k < nc ? in[k] : sample(k);
    }
#pragma omp simd
    for (int j = from; j < to; j++) {
      const float* c = pad + (j - from) + 2 * d;
      out[j] = b3_tap(c[0], c[-d], c[d], c[-2 * d], c[2 * d]);
    }
  };
  edge_stretch(0, std::min(first, nc));
#pragma omp simd
  for (int j = first; j < last; j++)
    out[j] = b3_tap(in[j], in[j - d], in[j + d], in[j - 2 * d], in[j + 2 * d]);
  if (last < nc) edge_stretch(last, nc);
}

void smooth_line_base(const float* in, float* out, int nc, int d, type_border border,
                      float* pad) {
  smooth_line_body(in, out, nc, d, border, pad);
}
QZ_TARGET_AVX2 void smooth_line_avx2(const float* in, float* out, int nc, int d,
                                     type_border border, float* pad) {
  smooth_line_body(in, out, nc, d, border, pad);
}

void smooth_line(const float* in, float* out, int nc, int d, type_border border, float* pad) {
  if (cpu_has_avx2()) smooth_line_avx2(in, out, nc, d, border, pad);
  else smooth_line_base(in, out, nc, d, border, pad);
}

// Pass along the columns for one output row from the five line-pass rows at
// distances -2d, -d, 0, d, 2d, with what the caller asked for done in place
// of separate loops: Out = H [+ Addend], Diff = Minuend - H.
template <bool kStore, bool kAdd, bool kDiff>
QZ_ALWAYS_INLINE void column_row_body(const float* const rows[5], int nc, float* out,
                                      const float* addend, const float* minuend, float* diff) {
  const float *up2 = rows[0], *up1 = rows[1], *centre = rows[2], *down1 = rows[3],
              *down2 = rows[4];
#pragma omp simd
  for (int j = 0; j < nc; j++) {
    const float v = b3_tap(centre[j], up1[j], down1[j], up2[j], down2[j]);
    if (kStore) out[j] = kAdd ? v + addend[j] : v;
    if (kDiff) diff[j] = minuend[j] - v;
  }
}

template <bool kStore, bool kAdd, bool kDiff>
void column_row_base(const float* const rows[5], int nc, float* out, const float* addend,
                     const float* minuend, float* diff) {
  column_row_body<kStore, kAdd, kDiff>(rows, nc, out, addend, minuend, diff);
}
template <bool kStore, bool kAdd, bool kDiff>
QZ_TARGET_AVX2 void column_row_avx2(const float* const rows[5], int nc, float* out,
                                    const float* addend, const float* minuend, float* diff) {
  column_row_body<kStore, kAdd, kDiff>(rows, nc, out, addend, minuend, diff);
}

using ColumnRowKernel = void (*)(const float* const[5], int, float*, const float*,
                                 const float*, float*);

template <bool kStore, bool kAdd, bool kDiff>
ColumnRowKernel column_row_for_isa() {
  return cpu_has_avx2() ? column_row_avx2<kStore, kAdd, kDiff> : column_row_base<kStore, kAdd, kDiff>;
}

ColumnRowKernel column_row_kernel(bool store, bool add, bool diff) {
  if (!store) return column_row_for_isa<false, false, true>();
  if (diff) return add ? column_row_for_isa<true, true, true>() : column_row_for_isa<true, false, true>();
  return add ? column_row_for_isa<true, true, false>() : column_row_for_isa<true, false, false>();
}

// out = band 0 + band 1 + ..., added in that order for each sample, the
// bands read at offset `at`; out may be one of the bands. Eight samples go
// at a time through all the bands, so each band is streamed once.
QZ_ALWAYS_INLINE void sum_rows_body(const float* const* bands, int count, int64_t at, int nc,
                                    float* out) {
  typedef float Lanes __attribute__((vector_size(32)));
  int j = 0;
  for (; j + 8 <= nc; j += 8) {
    Lanes sum, term;
    std::memcpy(&sum, bands[0] + at + j, sizeof sum);
    for (int b = 1; b < count; b++) {
      std::memcpy(&term, bands[b] + at + j, sizeof term);
      sum += term;
    }
    std::memcpy(out + j, &sum, sizeof sum);
  }
  for (; j < nc; j++) {
    float sum = bands[0][at + j];
    for (int b = 1; b < count; b++) sum += bands[b][at + j];
    out[j] = sum;
  }
}

void sum_rows_base(const float* const* bands, int count, int64_t at, int nc, float* out) {
  sum_rows_body(bands, count, at, nc, out);
}
QZ_TARGET_AVX2 void sum_rows_avx2(const float* const* bands, int count, int64_t at, int nc,
                                  float* out) {
  sum_rows_body(bands, count, at, nc, out);
}

void sum_rows(const float* const* bands, int count, int64_t at, int nc, float* out) {
  if (cpu_has_avx2()) sum_rows_avx2(bands, count, at, nc, out);
  else sum_rows_base(bands, count, at, nc, out);
}

// Row pointer at offset i of an nl x nc buffer, null for a null buffer.
template <class T>
T* row_of(T* buffer, int i, int nc) {
  return buffer == nullptr ? nullptr : buffer + static_cast<int64_t>(i) * nc;
}

// One thread's share of the forward sweep. Level s (below the number of
// smoothings) keeps the line pass of c_s in a ring of 4·2^s + 1 rows, the
// rows that the column pass of one row of c_{s+1} reads: the clamp and mirror
// rules fold an index back inside that window, and rows are produced in
// order, so slot k mod size always holds row k when it is read. The bands
// of the rows the thread owns hold c_s until c_{s+1} turns them into
// differences; rows of the neighbours' shares are smoothed into a spare row
// only to be line-passed.
struct Sweep {
  const float* input;
  to_array<float, false>* bands;
  int nl, nc;
  int owned_first, owned_last;
  type_border border;
  const float* zero_line;
  float* spare_row;
  float* edge_pad;
  float* ring[30];
  int slots[30];
  int next[30];  // next row of c_s to line-pass
  ColumnRowKernel store_and_diff, store_only;

  float* ring_row(int level, int k) const {
    return ring[level] + static_cast<int64_t>(k % slots[level]) * nc;
  }
};

void sweep_rows(Sweep& w, int level, int upto);

// Row k of c_{s+1} = H_s c_s from the ring of level s: into band s+1 with
// band s turned into c_s - c_{s+1} when the row is owned, else into the
// spare row.
const float* sweep_smooth(Sweep& w, int s, int k) {
  const int nc = w.nc, d = 1 << s;
  sweep_rows(w, s, std::min(w.nl - 1, k + 2 * d));
  const float* rows[5];
  for (int m = 0; m < 5; m++) {
    const int source = border_index(k + (m - 2) * d, w.nl, w.border);
    rows[m] = source < 0 ? w.zero_line : w.ring_row(s, source);
  }
  if (k < w.owned_first || k >= w.owned_last) {
    w.store_only(rows, nc, w.spare_row, nullptr, nullptr, nullptr);
    return w.spare_row;
  }
  float* smoothed = row_of(w.bands[s + 1].buffer(), k, nc);
  float* band = row_of(w.bands[s].buffer(), k, nc);
  const float* minuend = s == 0 ? row_of(w.input, k, nc) : band;
  w.store_and_diff(rows, nc, smoothed, nullptr, minuend, band);
  return smoothed;
}

void sweep_rows(Sweep& w, int level, int upto) {
  while (w.next[level] <= upto) {
    const int k = w.next[level]++;
    const float* row = level == 0 ? row_of(w.input, k, w.nc) : sweep_smooth(w, level - 1, k);
    smooth_line(row, w.ring_row(level, k), w.nc, 1 << level, w.border, w.edge_pad);
  }
}

// Lines of the level-by-level transform taken at a time: by a thread from
// its own share, and from another's.
constexpr int OwnLines = 4;
constexpr int TakenLines = 2;

uint64_t pack_lines(int first, int end) {
  return static_cast<uint64_t>(static_cast<uint32_t>(first)) << 32 | static_cast<uint32_t>(end);
}

// Takes up to count lines [first, end) from the front or the back of a
// share; false when it has none left.
bool take_lines(std::atomic<uint64_t>& share, int count, bool front, int& first, int& end) {
  uint64_t now = share.load(std::memory_order_relaxed);
  for (;;) {
    const int lo = static_cast<int>(now >> 32), hi = static_cast<int>(now & 0xffffffffu);
    if (lo >= hi) return false;
    const uint64_t rest = front ? pack_lines(std::min(lo + count, hi), hi)
                                : pack_lines(lo, std::max(hi - count, lo));
    // Only which thread makes which lines rides on the word: the barriers
    // order the lines' data.
    if (share.compare_exchange_weak(now, rest, std::memory_order_relaxed)) {
      first = front ? lo : std::max(hi - count, lo);
      end = front ? std::min(lo + count, hi) : hi;
      return true;
    }
  }
}

// Images up to this size go level by level when threads share them: the
// ten or so images of a transform and its line passes then stay in a last
// level cache of a few tens of megabytes. Larger ones go through the sweep,
// whose recomputed rows cost less than the trips through memory it saves.
constexpr int64_t LevelByLevelMaxPixels = int64_t{1} << 20;

// The plain transform goes level by level over lines shared among threads
// when there are threads to share them and the image is not too large, up
// to the largest scale the smoothing takes (beyond it the scale-by-scale
// path refuses the call).
bool level_by_level(int NbrScale, int nl, int nc) {
  const int64_t pixels = static_cast<int64_t>(nl) * nc;
  return NbrScale >= 2 && NbrScale <= 31 && pixels <= LevelByLevelMaxPixels &&
         thread_count(pixels) > 1;
}

}  // namespace

void ATROUS_2D_WT::alloc(to_array<float, false>*& TabBand, int Nl, int Nc, int NbrScale) {
  check_nbr_scale(NbrScale);
  TabBand = new to_array<float, false>[NbrScale];
  for (int b = 0; b < NbrScale; b++) {
    std::string name = "band_" + std::to_string(b + 1);
    TabBand[b].alloc(Nl, Nc, name.c_str());
  }
}

void ATROUS_2D_WT::free(to_array<float, false>*& TabBand, int NbrScale) {
  if (NbrScale != 0 && TabBand != nullptr) {
    delete[] TabBand;
    TabBand = nullptr;
  }
}

float ATROUS_2D_WT::norm_band(int s) const {
  return (s >= 0 && s <= 9) ? static_cast<float>(AtrousBandNorm[s]) : 0.f;
}

void ATROUS_2D_WT::smooth(const float* in, float* out, int nl, int nc, int s,
                          const float* addend, const float* minuend, float* diff) {
  if (s < 0 || s > 29)
    fatal_exitf(-1, stdout, "Error: bad scale %d in the a trous smoothing ...\n", s);
  if (nl <= 0 || nc <= 0) return;
  const type_border border = Border;
  border_index(-1, 1, border);  // an unknown rule stops here, before any thread starts
  const int d = 1 << s;         // the integer part of 2^s + 0.5
  const ColumnRowKernel kernel =
      column_row_kernel(out != nullptr, addend != nullptr, diff != nullptr);
  if (static_cast<int>(ZeroLine.size()) != nc) ZeroLine.assign(nc, 0.f);
  const float* zero_line = ZeroLine.data();

  // Each output row reads line-pass rows up to 2d away on either side. When
  // a thread's share of rows is longer than that reach, it keeps the rows it
  // has met in a ring of reach + 1 rows; otherwise the line pass is done for
  // the whole image first.
  const int threads = thread_count(static_cast<int64_t>(nl) * nc);
  const int64_t reach = 4 * int64_t{d};
  const int64_t share = (nl + threads - 1) / threads;
  const bool ring = reach <= share;
  const int ring_rows = ring ? static_cast<int>(reach + 1) : 0;
  if (static_cast<int>(Caches.size()) < threads) Caches.resize(threads);
  for (int t = 0; t < threads; t++) {
    LineCache& cache = Caches[t];
    cache.edge_pad.reserve(2 * int64_t{d} < nc ? 6 * static_cast<size_t>(d) : 0);
    if (!ring) continue;
    cache.ring.reserve(static_cast<size_t>(ring_rows) * nc);
    cache.edge_rows.reserve(5 * static_cast<size_t>(nc));
    std::fill_n(cache.ring_row.reserve(ring_rows), ring_rows, -1);
  }
  if (ring) {
#pragma omp parallel num_threads(threads) if (threads > 1)
    {
      const int t = omp_get_thread_num(), team = omp_get_num_threads();
      const int first = share_start(nl, t, team), last = share_start(nl, t + 1, team);
      LineCache& cache = Caches[t];
      for (int i = first; i < last; i++) {
        int source[5];
        int lowest = nl, highest = -1;
        for (int m = 0; m < 5; m++) {
          source[m] = border_index(i + (m - 2) * d, nl, border);
          if (source[m] < 0) continue;
          lowest = std::min(lowest, source[m]);
          highest = std::max(highest, source[m]);
        }
        // Rows less than ring_rows apart take distinct slots; a periodic
        // border can bring rows from the far edge, done apart.
        const bool in_ring = highest - lowest < ring_rows;
        const float* rows[5];
        for (int m = 0; m < 5; m++) {
          const int k = source[m];
          if (k < 0) {
            rows[m] = zero_line;
            continue;
          }
          float* row;
          if (in_ring) {
            const int slot = k % ring_rows;
            row = row_of(cache.ring.data(), slot, nc);
            if (cache.ring_row.data()[slot] != k) {
              smooth_line(row_of(in, k, nc), row, nc, d, border, cache.edge_pad.data());
              cache.ring_row.data()[slot] = k;
            }
          } else {
            row = row_of(cache.edge_rows.data(), m, nc);
            smooth_line(row_of(in, k, nc), row, nc, d, border, cache.edge_pad.data());
          }
          rows[m] = row;
        }
        kernel(rows, nc, row_of(out, i, nc), row_of(addend, i, nc), row_of(minuend, i, nc),
               row_of(diff, i, nc));
      }
    }
    return;
  }

  if (LinePass.nl() != nl || LinePass.nc() != nc || LinePass.naxis() != 2)
    LinePass.alloc(nl, nc, "Buff smooth_bspline");
  float* line_pass = LinePass.buffer();
#pragma omp parallel num_threads(threads) if (threads > 1)
  {
    float* pad = Caches[omp_get_thread_num()].edge_pad.data();
#pragma omp for schedule(static)
    for (int k = 0; k < nl; k++)
      smooth_line(row_of(in, k, nc), row_of(line_pass, k, nc), nc, d, border, pad);
#pragma omp for schedule(static)
    for (int i = 0; i < nl; i++) {
      const float* rows[5];
      for (int m = 0; m < 5; m++) {
        const int k = border_index(i + (m - 2) * d, nl, border);
        rows[m] = k < 0 ? zero_line : row_of(line_pass, k, nc);
      }
      kernel(rows, nc, row_of(out, i, nc), row_of(addend, i, nc), row_of(minuend, i, nc),
             row_of(diff, i, nc));
    }
  }
}

bool ATROUS_2D_WT::transform_sweep(const float* input, to_array<float, false>* TabBand,
                                   int NbrScale, int nl, int nc, const LineTask* LinesDone) {
  const int levels = NbrScale - 1;  // smoothings; the last one is not line-passed
  if (levels < 1 || levels > 30 || Border == I_PERIOD) return false;
  border_index(-1, 1, Border);  // an unknown rule stops here, before any thread starts
  // Rings taller in all than the image would hold more than the image
  // itself; the scale-by-scale path needs less there.
  const int64_t ring_rows = 4 * ((int64_t{1} << levels) - 1) + levels;
  if (ring_rows > nl) return false;
  // Each share recomputes the smoothings of the rows its columns reach
  // beyond it: shares shorter than twice that reach are not worth it.
  const int64_t reach = 2 * ((int64_t{1} << levels) - 1);
  const int threads = static_cast<int>(std::max<int64_t>(
      1, std::min<int64_t>(thread_count(static_cast<int64_t>(nl) * nc), nl / (2 * reach))));
  if (static_cast<int>(ZeroLine.size()) != nc) ZeroLine.assign(nc, 0.f);
  const size_t ring_size = static_cast<size_t>(ring_rows) * nc;
  const size_t pad_size = 6 * (size_t{1} << (levels - 1));
  if (static_cast<int>(Caches.size()) < threads) Caches.resize(threads);
  for (int t = 0; t < threads; t++) {
    LineCache& cache = Caches[t];
    cache.level_rings.reserve(ring_size);
    cache.spare_row.reserve(nc);
    cache.edge_pad.reserve(pad_size);
  }
  const ColumnRowKernel store_and_diff = column_row_kernel(true, false, true);
  const ColumnRowKernel store_only = column_row_kernel(true, false, false);
#pragma omp parallel num_threads(threads) if (threads > 1)
  {
    const int t = omp_get_thread_num(), team = omp_get_num_threads();
    LineCache& cache = Caches[t];
    Sweep w;
    w.input = input;
    w.bands = TabBand;
    w.nl = nl;
    w.nc = nc;
    w.owned_first = share_start(nl, t, team);
    w.owned_last = share_start(nl, t + 1, team);
    w.border = Border;
    w.zero_line = ZeroLine.data();
    w.spare_row = cache.spare_row.data();
    w.edge_pad = cache.edge_pad.data();
    w.store_and_diff = store_and_diff;
    w.store_only = store_only;
    // Level s starts at the first row that the levels above reach.
    float* ring = cache.level_rings.data();
    int64_t above = 0;
    for (int s = levels - 1; s >= 0; s--) above += 2 * (int64_t{1} << s);
    for (int s = 0; s < levels; s++) {
      w.ring[s] = ring;
      w.slots[s] = 4 * (1 << s) + 1;
      ring += static_cast<size_t>(w.slots[s]) * nc;
      w.next[s] = static_cast<int>(std::max<int64_t>(0, w.owned_first - above));
      above -= 2 * (int64_t{1} << s);
    }
    // Each row of the smooth band pulls the rows it needs through the levels.
    for (int i = w.owned_first; i < w.owned_last; i++) sweep_smooth(w, levels - 1, i);
    // The neighbours read the input rows near the share until they are done,
    // and the task may rewrite them.
    if (LinesDone != nullptr) {
#pragma omp barrier
      if (w.owned_first < w.owned_last) (*LinesDone)(w.owned_first, w.owned_last);
    }
  }
  return true;
}

void ATROUS_2D_WT::transform_shared(const float* input, to_array<float, false>* TabBand,
                                    int NbrScale, int nl, int nc, const LineTask* LinesDone) {
  const int levels = NbrScale - 1;
  if (nl <= 0 || nc <= 0) return;
  border_index(-1, 1, Border);  // an unknown rule stops here, before any thread starts
  const int threads = thread_count(static_cast<int64_t>(nl) * nc);
  shape_image(LinePass, nl, nc);
  shape_image(LinePassNext, nl, nc);
  if (static_cast<int>(ZeroLine.size()) != nc) ZeroLine.assign(nc, 0.f);
  // The line ends of the widest holes narrower than the line.
  size_t pad_size = 0;
  for (int s = 0; s < levels; s++)
    if (2 * (int64_t{1} << s) < nc) pad_size = 6 * (size_t{1} << s);
  if (static_cast<int>(Caches.size()) < threads) Caches.resize(threads);
  for (int t = 0; t < threads; t++)
    Caches[t].edge_pad.reserve(pad_size);
  const ColumnRowKernel store_and_diff = column_row_kernel(true, false, true);
  const type_border border = Border;
  const float* zero_line = ZeroLine.data();
  float* line_pass[2] = {LinePass.buffer(), LinePassNext.buffer()};
  // The first line pass, then one pass per level; every pass starts from the
  // same shares in thread order.
  const int passes = levels + 1;
  const size_t share_count = static_cast<size_t>(passes) * threads;
  if (ShareCount < share_count) {
    Shares.reset(new LineShare[share_count]);
    ShareCount = share_count;
  }
  for (int p = 0; p < passes; p++)
    for (int t = 0; t < threads; t++)
      Shares[static_cast<size_t>(p) * threads + t].lines.store(
          pack_lines(share_start(nl, t, threads), share_start(nl, t + 1, threads)),
          std::memory_order_relaxed);
  LineShare* shares = Shares.get();
  // Row i of c_{s+1} reads the line pass of c_s at rows up to 2^{s+1} away,
  // made by other threads: one barrier per level. Each thread line-passes
  // the rows of c_{s+1} it has just made while they are in cache, into the
  // other buffer, whose last readers passed the barrier before. A thread
  // makes its own lines at every level, so that they stay in its cache;
  // one that is through takes the last lines of the others, nearest first,
  // so that a thread the machine slows holds a level back less. The rows do
  // not depend on which thread makes them.
#pragma omp parallel num_threads(threads) if (threads > 1)
  {
    const int t = omp_get_thread_num();
    float* pad = Caches[t].edge_pad.data();
    // The lines of pass p, made by lines(first, end).
    auto share_out = [&](int p, auto&& lines) {
      LineShare* pass = shares + static_cast<size_t>(p) * threads;
      int first, end;
      while (take_lines(pass[t].lines, OwnLines, true, first, end)) lines(first, end);
      for (int distance = 1; distance < threads; distance++)
        for (const int other : {t + distance, t - distance})
          if (other >= 0 && other < threads)
            while (take_lines(pass[other].lines, TakenLines, false, first, end)) lines(first, end);
    };
    share_out(0, [&](int first, int end) {
      for (int i = first; i < end; i++)
        smooth_line(row_of(input, i, nc), row_of(line_pass[0], i, nc), nc, 1, border, pad);
    });
    for (int s = 0; s < levels; s++) {
#pragma omp barrier
      const int d = 1 << s;
      const float* lines = line_pass[s % 2];
      float* next_lines = line_pass[(s + 1) % 2];
      share_out(s + 1, [&](int first, int end) {
        for (int i = first; i < end; i++) {
          const float* rows[5];
          for (int m = 0; m < 5; m++) {
            const int k = border_index(i + (m - 2) * d, nl, border);
            rows[m] = k < 0 ? zero_line : row_of(lines, k, nc);
          }
          float* smoothed = row_of(TabBand[s + 1].buffer(), i, nc);
          float* band = row_of(TabBand[s].buffer(), i, nc);
          const float* minuend = s == 0 ? row_of(input, i, nc) : band;
          store_and_diff(rows, nc, smoothed, nullptr, minuend, band);
          if (s + 1 < levels)
            smooth_line(smoothed, row_of(next_lines, i, nc), nc, 2 * d, border, pad);
        }
        // Every band of these lines is final after the last level.
        if (s + 1 == levels && LinesDone != nullptr) (*LinesDone)(first, end);
      });
    }
  }
}

void ATROUS_2D_WT::b3spline_filtering(const to_array<float, false>& In,
                                      to_array<float, false>& Out, int s, Bool Add) {
  const int nl = In.nl(), nc = In.nc();
  // The smoothing reads its input while it writes: an output that is the
  // input itself goes through the work image.
  const bool same = Out.buffer() == In.buffer() && In.n_elem() > 0;
  to_array<float, false>& target = same ? WorkIma : Out;
  if (target.nl() != nl || target.nc() != nc || target.naxis() != 2)
    target.alloc(nl, nc, same ? "Rec adjoint pave" : "smooth");
  smooth(In.buffer(), target.buffer(), nl, nc, s, Add ? In.buffer() : nullptr, nullptr, nullptr);
  if (same) std::memcpy(Out.buffer(), target.buffer(), sizeof(float) * static_cast<size_t>(In.n_elem()));
}

const float* ATROUS_2D_WT::prepare_transform(const to_array<float, false>& Image,
                                             to_array<float, false>* TabBand, int NbrScale) {
  const int nl = Image.nl(), nc = Image.nc();
  // The bands are written while the image is read: an image that is one of
  // the bands is read from a copy.
  const float* input = Image.buffer();
  for (int b = 0; b < NbrScale; b++)
    if (TabBand[b].buffer() == input && Image.n_elem() > 0) {
      shape_image(WorkIma2, nl, nc);
      std::memcpy(WorkIma2.buffer(), input, sizeof(float) * static_cast<size_t>(Image.n_elem()));
      input = WorkIma2.buffer();
      break;
    }
  for (int b = 0; b < NbrScale; b++) shape_image(TabBand[b], nl, nc);
  return input;
}

void ATROUS_2D_WT::transform(const to_array<float, false>& Image,
                             to_array<float, false>* TabBand, int NbrScale) {
  check_nbr_scale(NbrScale);
  const int nl = Image.nl(), nc = Image.nc();
  if (NbrScale == 1) {
    TabBand[0] = Image;
    return;
  }
  const float* input = prepare_transform(Image, TabBand, NbrScale);
  if (!ModifiedATWT) {
    if (level_by_level(NbrScale, nl, nc)) {
      transform_shared(input, TabBand, NbrScale, nl, nc, nullptr);
      return;
    }
    if (transform_sweep(input, TabBand, NbrScale, nl, nc, nullptr)) return;
  }
  transform_by_scales(input, TabBand, NbrScale, nl, nc);
}

void ATROUS_2D_WT::transform_by_scales(const float* input, to_array<float, false>* TabBand,
                                       int NbrScale, int nl, int nc) {
  const float* smooth_in = input;  // c_s
  if (ModifiedATWT) {
    // c_{s+1} = H_s c_s goes to band s+1; band s = c_s - H_s c_{s+1}, formed
    // element by element over c_s itself from band 1 on.
    for (int s = 0; s < NbrScale - 1; s++) {
      float* next = TabBand[s + 1].buffer();
      smooth(smooth_in, next, nl, nc, s, nullptr, nullptr, nullptr);
      smooth(next, nullptr, nl, nc, s, nullptr, smooth_in, TabBand[s].buffer());
      smooth_in = next;
    }
    return;
  }
  // c_{s+1} alternates between two work images (the last goes to the smooth
  // band) so that band s = c_s - c_{s+1} is written in the same pass.
  shape_image(WorkIma, nl, nc);
  shape_image(WorkIma2, nl, nc);
  for (int s = 0; s < NbrScale - 1; s++) {
    float* next = s == NbrScale - 2 ? TabBand[NbrScale - 1].buffer()
                                    : (s % 2 == 0 ? WorkIma.buffer() : WorkIma2.buffer());
    // The aliased image's copy in WorkIma2 is read at s = 0 only, and WorkIma2
    // is written first at s = 1.
    smooth(smooth_in, next, nl, nc, s, nullptr, smooth_in, TabBand[s].buffer());
    smooth_in = next;
  }
}

void ATROUS_2D_WT::transform_then(const to_array<float, false>& Image,
                                  to_array<float, false>* TabBand, int NbrScale,
                                  const LineTask& LinesDone) {
  check_nbr_scale(NbrScale);
  const int nl = Image.nl(), nc = Image.nc();
  if (!ModifiedATWT && NbrScale > 1) {
    const float* input = prepare_transform(Image, TabBand, NbrScale);
    if (level_by_level(NbrScale, nl, nc)) {
      transform_shared(input, TabBand, NbrScale, nl, nc, &LinesDone);
      return;
    }
    if (transform_sweep(input, TabBand, NbrScale, nl, nc, &LinesDone)) return;
    transform_by_scales(input, TabBand, NbrScale, nl, nc);
  } else {
    transform(Image, TabBand, NbrScale);
  }
  const int threads = thread_count(static_cast<int64_t>(nl) * nc);
#pragma omp parallel num_threads(threads) if (threads > 1)
  {
    const int t = omp_get_thread_num(), team = omp_get_num_threads();
    const int first = share_start(nl, t, team), last = share_start(nl, t + 1, team);
    if (first < last) LinesDone(first, last);
  }
}

void ATROUS_2D_WT::sum_band_lines(const to_array<float, false>* TabBand,
                                  to_array<float, false>& Image, int NbrScale, Bool AddLastScale,
                                  int FirstLine, int EndLine) const {
  // The plain sum of the bands, band 0 first, in one pass.
  const int count = std::max(1, AddLastScale ? NbrScale : NbrScale - 1);
  const float* small[32];
  std::vector<const float*> large;
  const float** bands = small;
  if (count > 32) {
    large.resize(count);
    bands = large.data();
  }
  for (int b = 0; b < count; b++) bands[b] = TabBand[b].buffer();
  const int nc = Image.nc();
  for (int i = FirstLine; i < EndLine; i++)
    sum_rows(bands, count, static_cast<int64_t>(i) * nc, nc, row_of(Image.buffer(), i, nc));
}

void ATROUS_2D_WT::recons(const to_array<float, false>* TabBand, to_array<float, false>& Image,
                          int NbrScale, Bool AddLastScale) {
  check_nbr_scale(NbrScale);
  const int nl = TabBand[0].nl(), nc = TabBand[0].nc();
  if (!ModifiedATWT && !Adjoint) {
    shape_image(Image, nl, nc);
    const int threads = thread_count(static_cast<int64_t>(nl) * nc);
#pragma omp parallel num_threads(threads) if (threads > 1)
    {
      const int t = omp_get_thread_num(), team = omp_get_num_threads();
      sum_band_lines(TabBand, Image, NbrScale, AddLastScale, share_start(nl, t, team),
                     share_start(nl, t + 1, team));
    }
    return;
  }

  // The modified and the second form rebuild c_s from c_{s+1}, coarsest first.
  const to_array<float, false>& smooth_band = TabBand[NbrScale - 1];
  if (AddLastScale) {
    Image = smooth_band;
  } else {
    // Zeroing an image of another size in place would leave the loop below
    // reading and writing past it: it takes the bands' size first.
    shape_image(Image, smooth_band.nl(), smooth_band.nc());
    Image.init();
  }
  shape_image(WorkIma, Image.nl(), Image.nc());
  const int n = Image.n_elem();
  for (int s = NbrScale - 2; s >= 0; s--) {
    float* work = WorkIma.buffer();
    const float* band = TabBand[s].buffer();
    if (ModifiedATWT) {
      // c_s = H_s c_{s+1} + w_s.
      smooth(Image.buffer(), work, Image.nl(), Image.nc(), s, band, nullptr, nullptr);
      std::memcpy(Image.buffer(), work, sizeof(float) * static_cast<size_t>(n));
    } else {
      // c_s = ((I + H_s) w_s) + H_s c_{s+1}.
      smooth(Image.buffer(), work, Image.nl(), Image.nc(), s, nullptr, nullptr, nullptr);
      smooth(band, Image.buffer(), Image.nl(), Image.nc(), s, band, nullptr, nullptr);
      float* out = Image.buffer();
#pragma omp simd
      for (int k = 0; k < n; k++) out[k] += work[k];
    }
  }
}
