// Block DCT and its inverse over two tilings, and the LOCAL_DCT2D object that
// keeps its tilings, overlap weights, transform image and work buffers
// between calls. The blocks are transformed in parallel, each thread with its
// own work buffers. The inverse puts every block aside, then each pixel sums
// the blocks that cover it in one fixed order (even block lines before odd,
// even block columns before odd): the order of four rounds of blocks that do
// not touch each other, added into a zeroed image, whatever the number of
// threads and whichever thread does a block.
#include "numerics/local_dct2d.h"

#include <omp.h>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "array/cpu_dispatch.h"
#if QZ_AVX2_ENTRY
#include <immintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "array/border.h"
#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "array/thread_share.h"
#include "numerics/dct_lanes.h"
#include "numerics/im_dct.h"

struct CoefficientRule {
  float level;
  bool soft;
  float support_radius;  // 0: no coefficient removed for its frequency
};

namespace {

// The DCT routines need a power-of-two side of at least 2: one-pixel blocks
// would be read past their end (and, overlapping, would all sit at the origin).
void check_block_size(int block_size) {
  if (!dct_side_ok(block_size))
    fatal_exitf(-1, stdout,
                "Error: block size must be a power of two of at least %d ... \n"
                "       BlockSize = %d\n",
                DctMinSide, block_size);
}

// Both tilings must cut blocks of one side, or the block buffer is overrun.
void check_tilings(const Block2D& image_tiling, const Block2D& trans_tiling) {
  check_block_size(image_tiling.block_size());
  if (trans_tiling.block_size() != image_tiling.block_size())
    fatal_exitf(-1, stdout,
                "Error: the image and transform tilings have different block sizes ... \n"
                "       BlockSize = %d and %d\n",
                image_tiling.block_size(), trans_tiling.block_size());
}

void check_trans_size(const to_array<float, false>& trans, int nl_trans, int nc_trans) {
  if (trans.nl() != nl_trans || trans.nc() != nc_trans)
    fatal_exitf(-1, stdout,
                "Error in im_invblockdct: Nlt = %d Nct = %d\n"
                "   Expected values are Nlt = %d Nct = %d\n",
                nl_trans, nc_trans, trans.nl(), trans.nc());
}

void resize_if_needed(to_array<float, false>& ima, int nl, int nc) {
  if (ima.nl() != nl || ima.nc() != nc) ima.alloc(nl, nc);
}

void tile(Block2D& tiling, int nl, int nc, int block_size, Bool overlap, Bool weight_first) {
  tiling.BlockOverlap = overlap;
  tiling.WeightFirst = weight_first;
  tiling.alloc(nl, nc, block_size);
}

// Weights of the blocks along one axis of a tiling, block b at b * size.
std::vector<float> axis_weights(const Block2D& tiling, int nbr_block) {
  const int size = tiling.block_size();
  std::vector<float> weights(static_cast<size_t>(nbr_block) * size);
  for (int b = 0; b < nbr_block; b++)
    for (int k = 0; k < size; k++) weights[static_cast<size_t>(b) * size + k] = tiling.get_weight(k, b, nbr_block);
  return weights;
}

// Below this many coefficients a parallel region costs more than it saves.
constexpr int64_t MinParallelCoefficients = int64_t{1} << 16;

int thread_count(const Block2D& tiling) {
  const int64_t size = tiling.block_size();
  if (tiling.nbr_block() < 2 || tiling.nbr_block() * size * size < MinParallelCoefficients) return 1;
  return std::min(omp_get_max_threads(), tiling.nbr_block());
}

void size_scratch(std::vector<BlockDctScratch>& scratch, int threads, int size) {
  if (static_cast<int>(scratch.size()) < threads) scratch.resize(threads);
  const size_t area = static_cast<size_t>(size) * size;
  for (int t = 0; t < threads; t++) {
    BlockDctScratch& s = scratch[t];
    s.block.reserve(area);
    s.lines.reserve(area);
    s.lanes.reserve(size);
    if (s.columns.size() < static_cast<size_t>(size)) s.columns.resize(size);
  }
}

// dst(l, k) = src(k, l) over an n x n block, strides in floats. The blocks
// go back and forth between line and column order once per transform, so
// whole 4 x 4 tiles are turned in registers, or 8 x 8 ones with AVX2.
void transpose_block_base(const float* src, int64_t src_stride, float* dst, int64_t dst_stride,
                          int n) {
#if defined(__SSE__)
  if (n % 4 == 0) {
    for (int k = 0; k < n; k += 4)
      for (int l = 0; l < n; l += 4) {
        const float* in = src + k * src_stride + l;
        __m128 r0 = _mm_loadu_ps(in), r1 = _mm_loadu_ps(in + src_stride),
               r2 = _mm_loadu_ps(in + 2 * src_stride), r3 = _mm_loadu_ps(in + 3 * src_stride);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        float* out = dst + l * dst_stride + k;
        _mm_storeu_ps(out, r0);
        _mm_storeu_ps(out + dst_stride, r1);
        _mm_storeu_ps(out + 2 * dst_stride, r2);
        _mm_storeu_ps(out + 3 * dst_stride, r3);
      }
    return;
  }
#endif
  for (int k = 0; k < n; k++)
    for (int l = 0; l < n; l++) dst[l * dst_stride + k] = src[k * src_stride + l];
}

#if QZ_AVX2_ENTRY
QZ_TARGET_AVX2 void transpose_block_avx2(const float* src, int64_t src_stride, float* dst,
                                         int64_t dst_stride, int n) {
  if (n % 8 != 0) {
    transpose_block_base(src, src_stride, dst, dst_stride, n);
    return;
  }
  for (int k = 0; k < n; k += 8)
    for (int l = 0; l < n; l += 8) {
      const float* in = src + k * src_stride + l;
      const __m256 r0 = _mm256_loadu_ps(in), r1 = _mm256_loadu_ps(in + src_stride),
                   r2 = _mm256_loadu_ps(in + 2 * src_stride), r3 = _mm256_loadu_ps(in + 3 * src_stride),
                   r4 = _mm256_loadu_ps(in + 4 * src_stride), r5 = _mm256_loadu_ps(in + 5 * src_stride),
                   r6 = _mm256_loadu_ps(in + 6 * src_stride), r7 = _mm256_loadu_ps(in + 7 * src_stride);
      // Pairs of lines interleaved, then pairs of pairs, then the halves of
      // lines four apart exchanged (named registers: arrays would go through
      // the stack).
      const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpackhi_ps(r0, r1),
                   t2 = _mm256_unpacklo_ps(r2, r3), t3 = _mm256_unpackhi_ps(r2, r3),
                   t4 = _mm256_unpacklo_ps(r4, r5), t5 = _mm256_unpackhi_ps(r4, r5),
                   t6 = _mm256_unpacklo_ps(r6, r7), t7 = _mm256_unpackhi_ps(r6, r7);
      const __m256 s0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0)),
                   s1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2)),
                   s2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0)),
                   s3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2)),
                   s4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0)),
                   s5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2)),
                   s6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0)),
                   s7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
      float* out = dst + l * dst_stride + k;
      _mm256_storeu_ps(out, _mm256_permute2f128_ps(s0, s4, 0x20));
      _mm256_storeu_ps(out + dst_stride, _mm256_permute2f128_ps(s1, s5, 0x20));
      _mm256_storeu_ps(out + 2 * dst_stride, _mm256_permute2f128_ps(s2, s6, 0x20));
      _mm256_storeu_ps(out + 3 * dst_stride, _mm256_permute2f128_ps(s3, s7, 0x20));
      _mm256_storeu_ps(out + 4 * dst_stride, _mm256_permute2f128_ps(s0, s4, 0x31));
      _mm256_storeu_ps(out + 5 * dst_stride, _mm256_permute2f128_ps(s1, s5, 0x31));
      _mm256_storeu_ps(out + 6 * dst_stride, _mm256_permute2f128_ps(s2, s6, 0x31));
      _mm256_storeu_ps(out + 7 * dst_stride, _mm256_permute2f128_ps(s3, s7, 0x31));
    }
}
#endif

void transpose_block(const float* src, int64_t src_stride, float* dst, int64_t dst_stride, int n) {
#if QZ_AVX2_ENTRY
  if (cpu_has_avx2()) {
    transpose_block_avx2(src, src_stride, dst, dst_stride, n);
    return;
  }
#endif
  transpose_block_base(src, src_stride, dst, dst_stride, n);
}

// The blocks of one axis that cover a position, in the order their pieces
// are added: overlapping blocks two apart never touch, so the even block of
// a pair comes first, as in the rounds of even and odd blocks that define
// the sums. offset is the position within each block.
struct Cover {
  int count = 0;
  int block[2];
  int offset[2];
};

// Blocks of side n every step along an axis of nb blocks; step is n or n/2.
Cover cover(int x, int step, int n, int nb) {
  Cover c;
  const int last = x / step;
  const bool has_last = last < nb;
  const bool has_previous = last >= 1 && last - 1 < nb && (last - 1) * step + n > x;
  auto add = [&](int b) {
    c.block[c.count] = b;
    c.offset[c.count] = x - b * step;
    c.count++;
  };
  if (has_last && last % 2 == 0) add(last);
  if (has_previous) add(last - 1);
  if (has_last && last % 2 == 1) add(last);
  return c;
}

// dst = 0 + the count pieces in order, over lines x length pixels, lines
// dst_stride floats apart in dst and pitch floats apart in the pieces.
// Starting from 0 rather than from the first piece keeps the sign of a zero
// as the accumulation into a zeroed image gives it.
QZ_ALWAYS_INLINE void sum_pieces_body(float* dst, int64_t dst_stride, const float* const* src,
                                      int64_t pitch, int count, int lines, int length) {
  for (int k = 0; k < lines; k++, dst += dst_stride) {
    const int64_t at = k * pitch;
    const float* a = src[0] + at;
    if (count == 1) {
#pragma omp simd
      for (int l = 0; l < length; l++) dst[l] = 0.f + a[l];
    } else if (count == 2) {
      const float* b = src[1] + at;
#pragma omp simd
      for (int l = 0; l < length; l++) dst[l] = (0.f + a[l]) + b[l];
    } else {
      const float *b = src[1] + at, *c = src[2] + at, *d = src[3] + at;
#pragma omp simd
      for (int l = 0; l < length; l++) dst[l] = (((0.f + a[l]) + b[l]) + c[l]) + d[l];
    }
  }
}

void sum_pieces_base(float* dst, int64_t dst_stride, const float* const* src, int64_t pitch,
                     int count, int lines, int length) {
  sum_pieces_body(dst, dst_stride, src, pitch, count, lines, length);
}

QZ_TARGET_AVX2 void sum_pieces_avx2(float* dst, int64_t dst_stride, const float* const* src,
                                    int64_t pitch, int count, int lines, int length) {
  sum_pieces_body(dst, dst_stride, src, pitch, count, lines, length);
}

void sum_pieces(float* dst, int64_t dst_stride, const float* const* src, int64_t pitch, int count,
                int lines, int length) {
  if (cpu_has_avx2()) sum_pieces_avx2(dst, dst_stride, src, pitch, count, lines, length);
  else sum_pieces_base(dst, dst_stride, src, pitch, count, lines, length);
}

// Everything the block loops read besides the images.
struct BlockLoop {
  const Block2D& image_tiling;
  const Block2D& trans_tiling;
  const float* weight_l;  // image tiling weights, see axis_weights
  const float* weight_c;
  BlockDctWork& work;

  int size() const { return image_tiling.block_size(); }
  int start(const Block2D& tiling, int b) const { return (tiling.block_size() - tiling.Overlap) * b; }
  // Floats per line of the pieces: the blocks of a line side by side.
  int64_t pieces_pitch() const { return static_cast<int64_t>(image_tiling.nbr_block_nc()) * size(); }

  // Block (bi, bj) of ima in line order, through the tiling's mirror reads
  // and weighted when the tiling weights at extraction. A block inside the
  // image and not weighted is read in place: the result points into ima
  // (stride ima.nc()) instead of into out (stride size).
  const float* gather(const Block2D& tiling, int bi, int bj, const to_array<float, false>& ima,
                      float* out, int* columns, int64_t& stride) const {
    const int n = size(), p = start(tiling, bi), q = start(tiling, bj);
    const int nl = ima.nl(), nc = ima.nc();
    const bool weighted = tiling.BlockOverlap && tiling.WeightFirst;
    const bool inside = p >= 0 && q >= 0 && p + n <= nl && q + n <= nc;
    if (inside && !weighted) {
      stride = nc;
      return ima.buffer() + static_cast<int64_t>(p) * nc + q;
    }
    for (int l = 0; l < n; l++) columns[l] = test_index_mirror(q + l, nc);
    // The weights kept are those of the image tiling; another tiling that
    // weights has its own computed here.
    const float* wl = weight_l + static_cast<int64_t>(bi) * n;
    const float* wc = weight_c + static_cast<int64_t>(bj) * n;
    std::vector<float> other_weights;
    if (weighted && &tiling != &image_tiling) {
      other_weights.resize(2 * static_cast<size_t>(n));
      for (int k = 0; k < n; k++) {
        other_weights[k] = tiling.get_weight(k, bi, tiling.nbr_block_nl());
        other_weights[n + k] = tiling.get_weight(k, bj, tiling.nbr_block_nc());
      }
      wl = other_weights.data();
      wc = wl + n;
    }
    // Blocks along the last lines but not the last columns read whole lines.
    const bool columns_inside = q >= 0 && q + n <= nc;
    for (int k = 0; k < n; k++) {
      const float* row = ima.buffer() + static_cast<int64_t>(test_index_mirror(p + k, nl)) * nc;
      float* dst = out + static_cast<int64_t>(k) * n;
      if (columns_inside) {
        std::copy(row + q, row + q + n, dst);
      } else {
        for (int l = 0; l < n; l++) dst[l] = row[columns[l]];
      }
      if (weighted) {
        const float wk = wl[k];
#pragma omp simd
        for (int l = 0; l < n; l++) dst[l] = dst[l] * wk * wc[l];
      }
    }
    stride = n;
    return out;
  }

  // Lines and columns of the block at (p, q) that fall inside the tiling and
  // the array; false when none does.
  static bool clip(const Block2D& tiling, int p, int q, const to_array<float, false>& ima,
                   int& lines, int& columns) {
    const int n = tiling.block_size();
    lines = std::min(n, std::min(tiling.nl(), ima.nl()) - p);
    columns = std::min(n, std::min(tiling.nc(), ima.nc()) - q);
    return p >= 0 && q >= 0 && lines > 0 && columns > 0;
  }

  // Thread scratch for threads, and, for an inverse into out, the pieces,
  // the runs of out and the frequencies the rule removes.
  int prepare(const to_array<float, false>* out, const CoefficientRule* rule) {
    const int threads = thread_count(image_tiling);
    size_scratch(work.threads, threads, size());
    work.taken.resize(std::max(work.taken.size(), threads));
    for (int t = 0; t < threads; t++) work.taken[t].store(0, std::memory_order_relaxed);
    if (out == nullptr) return threads;
    const size_t area = static_cast<size_t>(image_tiling.l_nl()) * image_tiling.l_nc();
    work.pieces.reserve(area);
    const bool new_lines =
        find_runs(work.lines, std::min(image_tiling.nl(), out->nl()), out->nl(), image_tiling.nbr_block_nl());
    const bool new_columns =
        find_runs(work.columns, std::min(image_tiling.nc(), out->nc()), out->nc(), image_tiling.nbr_block_nc());
    const int line_runs = static_cast<int>(work.lines.blocks.size());
    const int column_runs = static_cast<int>(work.columns.blocks.size());
    if (new_lines || new_columns || work.countdown.size() != line_runs * column_runs) {
      work.countdown.resize(line_runs * column_runs);
      for (int r = 0; r < line_runs; r++)
        for (int c = 0; c < column_runs; c++)
          work.countdown[r * column_runs + c].store(full_count(r, c), std::memory_order_relaxed);
    }
    if (rule != nullptr) mark_removed_frequencies(rule->support_radius);
    return threads;
  }

  // The runs of out along one axis: len pixels of the tiling inside out,
  // image_len pixels in all (the mirror reads of a block turn back there).
  // False when they were found already.
  bool find_runs(BlockAxisRuns& runs, int len, int image_len, int nb) const {
    const int n = size(), step = n - image_tiling.Overlap;
    const int key[5] = {len, image_len, n, step, nb};
    if (std::equal(key, key + 5, runs.found_for)) return false;
    std::copy(key, key + 5, runs.found_for);
    const int count = len > 0 ? (len + step - 1) / step : 0;
    runs.blocks.assign(count, 0);
    runs.runs.clear();
    runs.runs_start.assign(nb + 1, 0);
    // A block reaches a run when it covers or reads one of its pixels; the
    // runs of one block are consecutive but for those its mirror reads
    // reach, hence the search.
    auto reach = [&](int x, int b) {
      if (x < 0 || x >= len) return;
      const int run = x / step;
      const auto first = runs.runs.begin() + runs.runs_start[b];
      if (std::find(first, runs.runs.end(), run) != runs.runs.end()) return;
      runs.runs.push_back(run);
      runs.blocks[run]++;
    };
    for (int b = 0; b < nb; b++) {
      runs.runs_start[b] = static_cast<int>(runs.runs.size());
      for (int k = 0; k < n; k++) {
        reach(b * step + k, b);
        reach(test_index_mirror(b * step + k, image_len), b);
      }
      // A run no block reaches is only cleared: the first block may do it.
      if (b == 0)
        for (int run = 0; run < count; run++)
          if (runs.blocks[run] == 0 && nb > 0) {
            runs.runs.push_back(run);
            runs.blocks[run]++;
          }
    }
    runs.runs_start[nb] = static_cast<int>(runs.runs.size());
    return true;
  }

  // Marks the frequencies of a block below the support radius, unless they
  // are marked already for this radius and block size.
  void mark_removed_frequencies(float radius) {
    const int n = size();
    if (radius <= 0.f || (work.removed_radius == radius && work.removed_size == n)) return;
    work.removed.resize(static_cast<size_t>(n) * n);
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++)
        work.removed[static_cast<size_t>(i) * n + j] =
            std::sqrt(static_cast<float>(i * i) + static_cast<float>(j * j)) < radius;
    work.removed_radius = radius;
    work.removed_size = n;
  }

  // Forward transform of every block; block_maxfabs (one per block, or null)
  // receives each block's coefficient of largest magnitude outside its zero
  // frequency, the first one in line order on ties.
  void forward(const to_array<float, false>& in, to_array<float, false>& trans,
               float* block_maxfabs) {
    const int threads = prepare(nullptr, nullptr);
    const DctLanes& plan = dct_lanes(size());
#pragma omp parallel num_threads(threads) if (threads > 1)
    {
      BlockDctScratch& scratch = work.threads[omp_get_thread_num()];
      for_each_block([&](int b) { forward_block(plan, scratch, b, in, trans, block_maxfabs); });
    }
  }

  // Inverse of every block into out (every pixel written); the rule, when
  // given, first changes the coefficients in trans.
  void inverse(to_array<float, false>& trans, to_array<float, false>& out,
               const CoefficientRule* rule) {
    const int threads = prepare(&out, rule);
    const DctLanes& plan = dct_lanes(size());
#pragma omp parallel num_threads(threads) if (threads > 1)
    inverse_blocks(plan, nullptr, trans, out, rule);
  }

  // The forward transform of in into trans, then the inverse of trans into
  // out, which may be in, with the rule.
  void forward_then_inverse(const to_array<float, false>& in, to_array<float, false>& trans,
                            to_array<float, false>& out, const CoefficientRule* rule) {
    const int threads = prepare(&out, rule);
    const DctLanes& plan = dct_lanes(size());
#pragma omp parallel num_threads(threads) if (threads > 1)
    inverse_blocks(plan, &in, trans, out, rule);
  }

  // The inverse's blocks, each after its forward transform when in is given,
  // shared among the team of the enclosing parallel region (prepared for
  // it), and the pixels of out. A run of out is summed by the thread that
  // finishes the last of the blocks that reach it (the ones that read it
  // from in included), while its pieces are still at hand: no thread waits
  // for another. A thread takes the forward and inverse of a block, so that
  // its coefficients are read back by the thread that wrote them.
  void inverse_blocks(const DctLanes& plan, const to_array<float, false>* in,
                      to_array<float, false>& trans, to_array<float, false>& out,
                      const CoefficientRule* rule) {
    BlockDctScratch& scratch = work.threads[omp_get_thread_num()];
    for_each_block([&](int b) {
      if (in != nullptr) forward_block(plan, scratch, b, *in, trans, nullptr);
      inverse_block(plan, scratch, b, trans, out, rule);
      count_down_runs_of(b, out);
    });
    clear_outside_tiling(out);
  }

  // Every block once, shared among the team of the enclosing parallel region
  // (prepared for it). Each thread has a share of neighbouring blocks, in
  // line order, then helps the threads after it with what is left of
  // theirs: a thread held up by others on its core does not hold up the
  // call.
  template <class Work>
  void for_each_block(Work block) const {
    const int64_t nbr_block = image_tiling.nbr_block();
    const int threads = omp_get_num_threads(), thread = omp_get_thread_num();
    for (int k = 0; k < threads; k++) {
      const int share = (thread + k) % threads;
      const int first = share_start(nbr_block, share, threads);
      const int end = share_start(nbr_block, share + 1, threads);
      for (;;) {
        const int b = first + work.taken[share].fetch_add(1, std::memory_order_relaxed);
        if (b >= end) break;
        block(b);
      }
    }
  }

  // The DCT of block (bi, bj) of ima cut by tiling, or its inverse, in line
  // order in the scratch: the lines first (vectors along the columns of the
  // transposed block), then the columns, so that the block comes back in
  // line order.
  const float* block_dct(const DctLanes& plan, BlockDctScratch& scratch, const Block2D& tiling,
                         int bi, int bj, const to_array<float, false>& ima, bool inverse) const {
    const int n = size();
    int64_t stride;
    const float* values =
        gather(tiling, bi, bj, ima, scratch.block.data(), scratch.columns.data(), stride);
    float* lines = scratch.lines.data();
    float* block = scratch.block.data();
    transpose_block(values, stride, lines, n, n);
    if (inverse) plan.inverse(lines, n, scratch.lanes.data());
    else plan.forward(lines, n, scratch.lanes.data());
    transpose_block(lines, n, block, n, n);
    if (inverse) plan.inverse(block, n, scratch.lanes.data());
    else plan.forward(block, n, scratch.lanes.data());
    return block;
  }

  // Forward transform of block b into its place in trans.
  void forward_block(const DctLanes& plan, BlockDctScratch& scratch, int b,
                     const to_array<float, false>& in, to_array<float, false>& trans,
                     float* block_maxfabs) const {
    const int n = size();
    const float scale = static_cast<float>(2.0 / n);
    const int nbc = image_tiling.nbr_block_nc(), nbr_block = image_tiling.nbr_block();
    const int bi = b / nbc, bj = b % nbc;
    if (b + 1 < nbr_block) prefetch((b + 1) / nbc, (b + 1) % nbc, trans);
    const float* coefficients = block_dct(plan, scratch, image_tiling, bi, bj, in, false);
    const int p = start(trans_tiling, bi), q = start(trans_tiling, bj);
    int lines, columns;
    float best = 0.f;
    if (clip(trans_tiling, p, q, trans, lines, columns)) {
      const int nc = trans.nc();
      for (int k = 0; k < lines; k++) {
        const float* src = coefficients + static_cast<int64_t>(k) * n;
        float* dst = trans.buffer() + static_cast<int64_t>(p + k) * nc + q;
        if (block_maxfabs == nullptr) {
#pragma omp simd
          for (int l = 0; l < columns; l++) dst[l] = src[l] * scale;
          continue;
        }
        // The largest magnitude of the line, then its first place: the
        // first coefficient reaching the extreme wins, as in a plain scan.
        // The zero frequency of the block takes no part.
        const int first = k == 0 ? 1 : 0;
        if (first == 1 && columns > 0) dst[0] = src[0] * scale;
        float line_max = 0.f;
#pragma omp simd reduction(max : line_max)
        for (int l = first; l < columns; l++) {
          const float v = src[l] * scale;
          dst[l] = v;
          line_max = std::max(line_max, std::fabs(v));
        }
        if (!(std::fabs(best) < line_max)) continue;
        for (int l = first; l < columns; l++)
          if (std::fabs(dst[l]) == line_max) {
            best = dst[l];
            break;
          }
      }
    }
    if (block_maxfabs != nullptr) block_maxfabs[b] = best;
  }

  // Inverse of block b of trans (the rule, when given, applied to it first),
  // scaled and weighted, into its place in the pieces: the part that falls
  // inside out.
  void inverse_block(const DctLanes& plan, BlockDctScratch& scratch, int b,
                     to_array<float, false>& trans, const to_array<float, false>& out,
                     const CoefficientRule* rule) const {
    const int n = size();
    const float scale = static_cast<float>(2.0 / n);
    const int nbc = image_tiling.nbr_block_nc(), nbr_block = image_tiling.nbr_block();
    const int bi = b / nbc, bj = b % nbc;
    const bool weighted = image_tiling.BlockOverlap == 1 && image_tiling.WeightFirst == 0;
    if (b + 1 < nbr_block) prefetch((b + 1) / nbc, (b + 1) % nbc, trans);
    if (rule != nullptr) apply_rule(*rule, bi, bj, trans);
    const float* back = block_dct(plan, scratch, trans_tiling, bi, bj, trans, true);
    const int p = start(image_tiling, bi), q = start(image_tiling, bj);
    int lines, columns;
    if (!clip(image_tiling, p, q, out, lines, columns)) return;
    const float* wl = weight_l + static_cast<int64_t>(bi) * n;
    const float* wc = weight_c + static_cast<int64_t>(bj) * n;
    const int64_t pitch = pieces_pitch();
    float* piece = work.pieces.data() + static_cast<int64_t>(bi) * n * pitch + static_cast<int64_t>(bj) * n;
    for (int k = 0; k < lines; k++) {
      float* dst = piece + k * pitch;
      const float* src = back + static_cast<int64_t>(k) * n;
      if (weighted) {
        const float wk = wl[k];
#pragma omp simd
        for (int l = 0; l < columns; l++) dst[l] = src[l] * scale * wk * wc[l];
      } else {
#pragma omp simd
        for (int l = 0; l < columns; l++) dst[l] = src[l] * scale;
      }
    }
  }

  // How many blocks reach a run of lines and a run of columns: every block
  // of a line of blocks that reaches the first by one that reaches the
  // second, as a block reads the product of its lines and columns.
  int full_count(int line_run, int column_run) const {
    return work.lines.blocks[line_run] * work.columns.blocks[column_run];
  }

  // Block b is done: one block less for each run it reaches, and the runs
  // that have none left are summed. The release and acquire of the count
  // make every piece of a run, and every read of it from in, come before
  // its sum.
  void count_down_runs_of(int b, to_array<float, false>& out) const {
    const int nbc = image_tiling.nbr_block_nc();
    const BlockAxisRuns &down = work.lines, &across = work.columns;
    const int column_runs = static_cast<int>(across.blocks.size());
    const int bi = b / nbc, bj = b % nbc;
    for (int r = down.runs_start[bi]; r < down.runs_start[bi + 1]; r++)
      for (int c = across.runs_start[bj]; c < across.runs_start[bj + 1]; c++) {
        const int line_run = down.runs[r], column_run = across.runs[c];
        std::atomic<int>& left = work.countdown[line_run * column_runs + column_run];
        if (left.fetch_sub(1, std::memory_order_acq_rel) != 1) continue;
        sum_run(line_run, column_run, out);
        left.store(full_count(line_run, column_run), std::memory_order_relaxed);
      }
  }

  // The pixels of one run of lines and one run of columns of out: each the
  // sum from 0 of the pieces that cover it, even block lines before odd ones
  // and, within each, even block columns before odd ones. The pixels of a
  // run are covered by the same blocks, one line (or column) further on.
  void sum_run(int line_run, int column_run, to_array<float, false>& out) const {
    const int n = size();
    const int step = n - image_tiling.Overlap;
    const int i = line_run * step, j = column_run * step;
    const int lines = std::min(step, std::min(image_tiling.nl(), out.nl()) - i);
    const int columns = std::min(step, std::min(image_tiling.nc(), out.nc()) - j);
    const int64_t pitch = pieces_pitch();
    const Cover down = cover(i, step, n, image_tiling.nbr_block_nl());
    const Cover across = cover(j, step, n, image_tiling.nbr_block_nc());
    const float* src[4];
    int count = 0;
    for (int a = 0; a < down.count; a++)
      for (int c = 0; c < across.count; c++)
        src[count++] = work.pieces.data() +
                       (static_cast<int64_t>(down.block[a]) * n + down.offset[a]) * pitch +
                       static_cast<int64_t>(across.block[c]) * n + across.offset[c];
    float* dst = out.buffer() + static_cast<int64_t>(i) * out.nc() + j;
    if (count == 0) {
      for (int k = 0; k < lines; k++) std::fill_n(dst + static_cast<int64_t>(k) * out.nc(), columns, 0.f);
      return;
    }
    sum_pieces(dst, out.nc(), src, pitch, count, lines, columns);
  }

  // The pixels of out beyond the tiling, which no block reaches, become 0;
  // the lines are shared among the team once every block is done.
  void clear_outside_tiling(to_array<float, false>& out) const {
    const int lines = std::min(image_tiling.nl(), out.nl());
    const int columns = std::min(image_tiling.nc(), out.nc());
    const int out_nl = out.nl(), out_nc = out.nc();
    if (lines == out_nl && columns == out_nc) return;
#pragma omp barrier
#pragma omp for schedule(static) nowait
    for (int i = 0; i < out_nl; i++) {
      float* row = out.buffer() + static_cast<int64_t>(i) * out_nc;
      std::fill(row + (i < lines ? std::max(columns, 0) : 0), row + out_nc, 0.f);
    }
  }

  // The rule on the coefficients of block (bi, bj) of trans, in place.
  void apply_rule(const CoefficientRule& rule, int bi, int bj, to_array<float, false>& trans) const {
    const int n = size(), p = start(trans_tiling, bi), q = start(trans_tiling, bj);
    int lines, columns;
    if (!clip(trans_tiling, p, q, trans, lines, columns)) return;
    const float level = rule.level;
    const bool removes = rule.support_radius > 0.f;
    for (int k = 0; k < lines; k++) {
      float* coef = trans.buffer() + static_cast<int64_t>(p + k) * trans.nc() + q;
      if (!removes) {
        if (rule.soft) {
#pragma omp simd
          for (int l = 0; l < columns; l++) coef[l] = soft_threshold(coef[l], level);
        } else {
#pragma omp simd
          for (int l = 0; l < columns; l++) coef[l] = hard_threshold(coef[l], level);
        }
        continue;
      }
      // A select instead of a branch per coefficient, so that the line stays
      // one vector loop.
      const unsigned char* gone = work.removed.data() + static_cast<int64_t>(k) * n;
      if (rule.soft) {
#pragma omp simd
        for (int l = 0; l < columns; l++)
          coef[l] = gone[l] ? 0.f : soft_threshold(coef[l], level);
      } else {
#pragma omp simd
        for (int l = 0; l < columns; l++)
          coef[l] = gone[l] ? 0.f : hard_threshold(coef[l], level);
      }
    }
  }

  // Asks for the lines of block (bi, bj) of trans ahead of their use: the
  // blocks of an overlapping tiling lie far apart in memory, and the first
  // read of each line would otherwise stall the thread.
  void prefetch(int bi, int bj, const to_array<float, false>& trans) const {
    const int p = start(trans_tiling, bi), q = start(trans_tiling, bj);
    int lines, columns;
    if (!clip(trans_tiling, p, q, trans, lines, columns)) return;
    constexpr int FloatsPerLine = 16;  // one 64-byte cache line
    for (int k = 0; k < lines; k++) {
      const float* row = trans.buffer() + static_cast<int64_t>(p + k) * trans.nc() + q;
      for (int l = 0; l < columns; l += FloatsPerLine) __builtin_prefetch(row + l, 1, 3);
    }
  }
};

// Block loop over tilings built for one call of the free functions.
void block_dct_once(to_array<float, false>& in, to_array<float, false>& trans, const Block2D& B,
                    const Block2D& TB) {
  const std::vector<float> wl = axis_weights(B, B.nbr_block_nl()), wc = axis_weights(B, B.nbr_block_nc());
  BlockDctWork work;
  BlockLoop{B, TB, wl.data(), wc.data(), work}.forward(in, trans, nullptr);
}

void inverse_block_dct_once(to_array<float, false>& trans, to_array<float, false>& out,
                            const Block2D& B, const Block2D& TB) {
  const std::vector<float> wl = axis_weights(B, B.nbr_block_nl()), wc = axis_weights(B, B.nbr_block_nc());
  BlockDctWork work;
  BlockLoop{B, TB, wl.data(), wc.data(), work}.inverse(trans, out, nullptr);
}
}  // namespace

void im_blockdct(to_array<float, false>& in, to_array<float, false>& Trans, Block2D& B,
                 Block2D& TB) {
  check_tilings(B, TB);
  resize_if_needed(Trans, B.l_nl(), B.l_nc());
  block_dct_once(in, Trans, B, TB);
}

void im_blockdct(to_array<float, false>& in, to_array<float, false>& Trans, int BlockSize,
                 Bool Overlap, Bool WeightFirst) {
  Block2D B, TB;
  tile(B, in.nl(), in.nc(), BlockSize, Overlap, WeightFirst);
  tile(TB, B.l_nl(), B.l_nc(), B.block_size(), False, False);
  im_blockdct(in, Trans, B, TB);
}

void im_invblockdct(to_array<float, false>& Trans, to_array<float, false>& out, Block2D& B,
                    Block2D& TB) {
  check_tilings(B, TB);
  check_trans_size(Trans, B.l_nl(), B.l_nc());
  resize_if_needed(out, B.nl(), B.nc());
  inverse_block_dct_once(Trans, out, B, TB);
}

void im_invblockdct(to_array<float, false>& Trans, to_array<float, false>& out, int BlockSize,
                    int Nl, int Nc, Bool Overlap, Bool WeightFirst) {
  Block2D B, TB;
  tile(B, Nl, Nc, BlockSize, Overlap, WeightFirst);
  check_trans_size(Trans, B.l_nl(), B.l_nc());
  tile(TB, B.l_nl(), B.l_nc(), B.block_size(), False, False);
  im_invblockdct(Trans, out, B, TB);
}

void im_invblockdct(to_array<float, false>& Trans, to_array<float, false>& out, int BlockSize,
                    Bool Overlap, Bool WeightFirst) {
  int nl = Trans.nl(), nc = Trans.nc();
  if (Overlap) {
    nl /= 2;
    nc /= 2;
  }
  im_invblockdct(Trans, out, BlockSize, nl, nc, Overlap, WeightFirst);
}

void LOCAL_DCT2D::reset() {
  Overlap = False;
  BlockSize = 0;
  Nl = Nc = 0;
  NlTrans = NcTrans = 0;
}

void LOCAL_DCT2D::alloc(int nl, int nc, int block_size, Bool overlap, Bool weight_first) {
  Nl = nl;
  Nc = nc;
  BlockSize = block_size;
  Overlap = overlap;
  if (Nl <= 0 || Nc <= 0)
    fatal_exitf(-1, stdout,
                "Error: LOCAL_DCT2D class is allocated for an image of zero dimension ... \n"
                "       Image size is: Nl = %d Nc = %d\n",
                Nl, Nc);
  const int min_side = std::min(Nl, Nc);
  if (BlockSize < 1 || BlockSize > min_side) BlockSize = min_side;
  if (!is_power_of_2(BlockSize))
    fatal_exitf(-1, stdout,
                "Error: block size must be power of two ... \n"
                "       BlockSize = %d\n",
                BlockSize);
  check_block_size(BlockSize);

  tile(B2D, Nl, Nc, BlockSize, overlap, weight_first);
  BlockSize = B2D.block_size();
  NlTrans = B2D.nbr_block_nl() * BlockSize;
  NcTrans = B2D.nbr_block_nc() * BlockSize;
  TransB2D.alloc(NlTrans, NcTrans, BlockSize);
  DCTIma.alloc(NlTrans, NcTrans, "DCTIma");
  weight_l_ = axis_weights(B2D, B2D.nbr_block_nl());
  weight_c_ = axis_weights(B2D, B2D.nbr_block_nc());
  block_maxfabs_.assign(B2D.nbr_block(), 0.f);
  dct_lanes(BlockSize);  // the tables are built here rather than in the first transform
}

void LOCAL_DCT2D::alloc_from_trans(int nl_trans, int nc_trans, int block_size, Bool overlap,
                                   Bool weight_first) {
  int nl = nl_trans, nc = nc_trans;
  if (overlap) {
    nl /= 2;
    nc /= 2;
  }
  alloc(nl, nc, block_size, overlap, weight_first);
}

void LOCAL_DCT2D::check_allocated() const {
  if (Nl == 0 || Nc == 0) fatal_exit("Error: LOCAL_DCT2D class is not allocated ... \n", -1);
}

void LOCAL_DCT2D::check_image(const to_array<float, false>& Ima) const {
  check_allocated();
  if (Ima.nl() != Nl || Ima.nc() != Nc)
    fatal_exitf(-1, stdout,
                "Error: Bad image size in LOCAL_DCT2D::transform ... \n"
                "       Image size is: Nl = %d Nc = %d\n"
                "       Expected size is: Nl = %d Nc = %d\n",
                Ima.nl(), Ima.nc(), Nl, Nc);
}

void LOCAL_DCT2D::transform(to_array<float, false>& Ima) {
  check_image(Ima);
  resize_if_needed(DCTIma, NlTrans, NcTrans);
  BlockLoop{B2D, TransB2D, weight_l_.data(), weight_c_.data(), work_}.forward(Ima, DCTIma, nullptr);
}

void LOCAL_DCT2D::transform(to_array<float, false>& Ima, float& MaxFabsWithoutZeroFreq) {
  check_image(Ima);
  resize_if_needed(DCTIma, NlTrans, NcTrans);
  BlockLoop{B2D, TransB2D, weight_l_.data(), weight_c_.data(), work_}.forward(
      Ima, DCTIma, block_maxfabs_.data());
  // The blocks in order, so that the first block reaching the extreme wins.
  float best = 0.f;
  for (float value : block_maxfabs_)
    if (std::fabs(best) < std::fabs(value)) best = value;
  MaxFabsWithoutZeroFreq = best;
}

void LOCAL_DCT2D::recons_with(to_array<float, false>& Ima, const CoefficientRule* rule) {
  check_allocated();
  // DCTIma is public: a caller may have replaced it by an image of another size.
  check_trans_size(DCTIma, NlTrans, NcTrans);
  resize_if_needed(Ima, Nl, Nc);
  BlockLoop{B2D, TransB2D, weight_l_.data(), weight_c_.data(), work_}.inverse(DCTIma, Ima, rule);
}

void LOCAL_DCT2D::recons(to_array<float, false>& Ima) { recons_with(Ima, nullptr); }

void LOCAL_DCT2D::threshold_recons(to_array<float, false>& Ima, float Level, Bool Soft,
                                   float SupportRadius) {
  const CoefficientRule rule{Level, Soft == True, SupportRadius};
  recons_with(Ima, &rule);
}

void LOCAL_DCT2D::transform_threshold_recons(to_array<float, false>& Ima, float Level, Bool Soft,
                                             float SupportRadius) {
  check_image(Ima);
  resize_if_needed(DCTIma, NlTrans, NcTrans);
  const CoefficientRule rule{Level, Soft == True, SupportRadius};
  BlockLoop{B2D, TransB2D, weight_l_.data(), weight_c_.data(), work_}.forward_then_inverse(
      Ima, DCTIma, Ima, &rule);
}

void LOCAL_DCT2D::set_dct(to_array<float, false>& Trans) {
  if (Trans.nl() != NlTrans || Trans.nc() != NcTrans)
    fatal_exitf(-1, stdout,
                "Error: Bad image size in LOCAL_DCT2D::set_dct ... \n"
                "       Image size is: Nl = %d Nc = %d\n"
                "       Expected size is: Nl = %d Nc = %d\n",
                Trans.nl(), Trans.nc(), NlTrans, NcTrans);
  DCTIma = Trans;
}

namespace {

// Visits every coefficient of every block of the transform image in block
// order (block lines outer, then block columns, then the block's pixels line
// by line), skipping each block's zero frequency.
template <class Visit>
void for_each_non_zero_frequency(const Block2D& tiling, const to_array<float, false>& trans,
                                 Visit visit) {
  const int size = tiling.block_size();
  const int nc = trans.nc();
  for (int bi = 0; bi < tiling.nbr_block_nl(); bi++)
    for (int bj = 0; bj < tiling.nbr_block_nc(); bj++) {
      const float* origin = trans.buffer() + static_cast<int64_t>(bi) * size * nc + bj * size;
      for (int k = 0; k < size; k++) {
        const float* row = origin + static_cast<int64_t>(k) * nc;
        for (int l = (k == 0 ? 1 : 0); l < size; l++) visit(row[l]);
      }
    }
}

}  // namespace

float LOCAL_DCT2D::max_without_zerofreq() const {
  float best = 0.f;
  for_each_non_zero_frequency(TransB2D, DCTIma, [&](float value) {
    if (value > best) best = value;
  });
  return best;
}

float LOCAL_DCT2D::maxfabs_without_zerofreq() const {
  float best = 0.f;
  for_each_non_zero_frequency(TransB2D, DCTIma, [&](float value) {
    if (std::fabs(static_cast<double>(best)) < std::fabs(static_cast<double>(value))) best = value;
  });
  return best;
}

float LOCAL_DCT2D::max() const { return DCTIma.n_elem() > 0 ? DCTIma.max() : 0.f; }
