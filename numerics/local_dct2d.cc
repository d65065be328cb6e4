// Block DCT and its inverse over two tilings, and the LOCAL_DCT2D object that
// keeps its tilings, overlap weights, transform image and work buffers
// between calls. The blocks are transformed in parallel, each thread with its
// own work buffers; in the inverse, overlapping blocks are added in four
// rounds of blocks that do not touch each other (even and odd block lines,
// then columns), so that every pixel receives its sums in the same order
// whatever the number of threads.
#include "numerics/local_dct2d.h"

#include <omp.h>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "array/border.h"
#include "array/fatal.h"
#include "array/scalar_helpers.h"
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
    if (s.block.size() < area) s.block.resize(area);
    if (s.lines.size() < area) s.lines.resize(area);
    if (s.lanes.size() < static_cast<size_t>(size)) s.lanes.resize(size);
    if (s.columns.size() < static_cast<size_t>(size)) s.columns.resize(size);
  }
}

// dst(l, k) = src(k, l) over an n x n block, strides in floats. The blocks
// go back and forth between line and column order once per transform, so
// whole 4 x 4 tiles are turned in registers.
void transpose_block(const float* src, int64_t src_stride, float* dst, int64_t dst_stride, int n) {
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

// Everything the block loops read besides the images.
struct BlockLoop {
  const Block2D& image_tiling;
  const Block2D& trans_tiling;
  const float* weight_l;  // image tiling weights, see axis_weights
  const float* weight_c;
  std::vector<BlockDctScratch>& scratch;

  int size() const { return image_tiling.block_size(); }
  int start(const Block2D& tiling, int b) const { return (tiling.block_size() - tiling.Overlap) * b; }

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
    for (int k = 0; k < n; k++) {
      const float* row = ima.buffer() + static_cast<int64_t>(test_index_mirror(p + k, nl)) * nc;
      float* dst = out + static_cast<int64_t>(k) * n;
      if (inside) {
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

  // Forward transform of every block; block_maxfabs (one per block, or null)
  // receives each block's coefficient of largest magnitude outside its zero
  // frequency, the first one in line order on ties.
  void forward(const to_array<float, false>& in, to_array<float, false>& trans,
               float* block_maxfabs) {
    const int threads = thread_count(image_tiling);
    size_scratch(scratch, threads, size());
    const DctLanes& plan = dct_lanes(size());
#pragma omp parallel num_threads(threads) if (threads > 1)
    forward_blocks(plan, in, trans, block_maxfabs);
  }

  // The forward transform's blocks shared among the team of the enclosing
  // parallel region (scratch sized for it).
  void forward_blocks(const DctLanes& plan, const to_array<float, false>& in,
                      to_array<float, false>& trans, float* block_maxfabs) {
    const int n = size();
    const float scale = static_cast<float>(2.0 / n);
    const int nbc = image_tiling.nbr_block_nc(), nbr_block = image_tiling.nbr_block();
#pragma omp for schedule(static)
    for (int b = 0; b < nbr_block; b++) {
      BlockDctScratch& work = scratch[omp_get_thread_num()];
      const int bi = b / nbc, bj = b % nbc;
      if (b + 1 < nbr_block) prefetch((b + 1) / nbc, (b + 1) % nbc, trans);
      // The lines first (vectors along the columns of the transposed block),
      // then the columns.
      int64_t stride;
      const float* pixels = gather(image_tiling, bi, bj, in, work.block.data(), work.columns.data(), stride);
      transpose_block(pixels, stride, work.lines.data(), n, n);
      plan.forward(work.lines.data(), n, work.lanes.data());
      transpose_block(work.lines.data(), n, work.block.data(), n, n);
      plan.forward(work.block.data(), n, work.lanes.data());
      const int p = start(trans_tiling, bi), q = start(trans_tiling, bj);
      int lines, columns;
      float best = 0.f;
      if (clip(trans_tiling, p, q, trans, lines, columns)) {
        const int nc = trans.nc();
        for (int k = 0; k < lines; k++) {
          const float* src = work.block.data() + static_cast<int64_t>(k) * n;
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
  }

  // The rule on the coefficients of block (bi, bj) of trans, in place;
  // removed marks the frequencies below the support radius (none if empty).
  void apply_rule(const CoefficientRule& rule, const std::vector<unsigned char>& removed, int bi,
                  int bj, to_array<float, false>& trans) const {
    const int n = size(), p = start(trans_tiling, bi), q = start(trans_tiling, bj);
    int lines, columns;
    if (!clip(trans_tiling, p, q, trans, lines, columns)) return;
    const float level = rule.level;
    for (int k = 0; k < lines; k++) {
      float* coef = trans.buffer() + static_cast<int64_t>(p + k) * trans.nc() + q;
      if (removed.empty()) {
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
      const unsigned char* gone = removed.data() + static_cast<int64_t>(k) * n;
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

  // Inverse of every block added into out (zeroed here); the rule, when
  // given, first changes the coefficients in trans.
  void inverse(to_array<float, false>& trans, to_array<float, false>& out,
               const CoefficientRule* rule) {
    const int threads = thread_count(image_tiling);
    size_scratch(scratch, threads, size());
    const DctLanes& plan = dct_lanes(size());
    const std::vector<unsigned char> removed = removed_frequencies(rule);
#pragma omp parallel num_threads(threads) if (threads > 1)
    inverse_blocks(plan, trans, out, rule, removed);
  }

  // The forward transform of in into trans, then the inverse of trans into
  // out with the rule, in one parallel region.
  void forward_then_inverse(const to_array<float, false>& in, to_array<float, false>& trans,
                            to_array<float, false>& out, const CoefficientRule* rule) {
    const int threads = thread_count(image_tiling);
    size_scratch(scratch, threads, size());
    const DctLanes& plan = dct_lanes(size());
    const std::vector<unsigned char> removed = removed_frequencies(rule);
#pragma omp parallel num_threads(threads) if (threads > 1)
    {
      forward_blocks(plan, in, trans, nullptr);  // ends with the team's barrier
      inverse_blocks(plan, trans, out, rule, removed);
    }
  }

  // Marks the frequencies of a block below the rule's support radius (none
  // when the rule has no radius).
  std::vector<unsigned char> removed_frequencies(const CoefficientRule* rule) const {
    const int n = size();
    std::vector<unsigned char> removed;
    if (rule != nullptr && rule->support_radius > 0.f) {
      removed.resize(static_cast<size_t>(n) * n);
      for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++)
          removed[static_cast<size_t>(i) * n + j] =
              std::sqrt(static_cast<float>(i * i) + static_cast<float>(j * j)) < rule->support_radius;
    }
    return removed;
  }

  // The inverse's blocks shared among the team of the enclosing parallel
  // region (scratch sized for it); out must not be read by the team meanwhile.
  void inverse_blocks(const DctLanes& plan, to_array<float, false>& trans,
                      to_array<float, false>& out, const CoefficientRule* rule,
                      const std::vector<unsigned char>& removed) {
    const int n = size();
    const float scale = static_cast<float>(2.0 / n);
    const int nbl = image_tiling.nbr_block_nl(), nbc = image_tiling.nbr_block_nc();
    const bool weighted = image_tiling.BlockOverlap == 1 && image_tiling.WeightFirst == 0;
    // Overlapping blocks two apart along an axis do not touch.
    const int step = image_tiling.Overlap > 0 ? 2 : 1;
    const int out_nc = out.nc();
    const int out_nl = out.nl();
    // The blocks are added into a zeroed image; the zeroing is shared too.
#pragma omp for schedule(static)
    for (int i = 0; i < out_nl; i++)
      std::fill_n(out.buffer() + static_cast<int64_t>(i) * out_nc, out_nc, 0.f);
    for (int round = 0; round < step * step; round++) {
      const int first_i = round / step, first_j = round % step;
      const int rows = (nbl - first_i + step - 1) / step, cols = (nbc - first_j + step - 1) / step;
#pragma omp for schedule(static)
      for (int b = 0; b < rows * cols; b++) {
        BlockDctScratch& work = scratch[omp_get_thread_num()];
        const int bi = first_i + step * (b / cols), bj = first_j + step * (b % cols);
        if (b + 1 < rows * cols)
          prefetch(first_i + step * ((b + 1) / cols), first_j + step * ((b + 1) % cols), trans);
        if (rule != nullptr) apply_rule(*rule, removed, bi, bj, trans);
        // The lines first (vectors along the columns of the transposed
        // block), then the columns, so that the block comes back in line order.
        int64_t stride;
        const float* coefficients =
            gather(trans_tiling, bi, bj, trans, work.block.data(), work.columns.data(), stride);
        transpose_block(coefficients, stride, work.lines.data(), n, n);
        plan.inverse(work.lines.data(), n, work.lanes.data());
        transpose_block(work.lines.data(), n, work.block.data(), n, n);
        plan.inverse(work.block.data(), n, work.lanes.data());
        const float* back = work.block.data();
        const int p = start(image_tiling, bi), q = start(image_tiling, bj);
        int lines, columns;
        if (!clip(image_tiling, p, q, out, lines, columns)) continue;
        const float* wl = weight_l + static_cast<int64_t>(bi) * n;
        const float* wc = weight_c + static_cast<int64_t>(bj) * n;
        for (int k = 0; k < lines; k++) {
          float* dst = out.buffer() + static_cast<int64_t>(p + k) * out_nc + q;
          const float* src = back + static_cast<int64_t>(k) * n;
          if (weighted) {
            const float wk = wl[k];
#pragma omp simd
            for (int l = 0; l < columns; l++) dst[l] += src[l] * scale * wk * wc[l];
          } else {
#pragma omp simd
            for (int l = 0; l < columns; l++) dst[l] += src[l] * scale;
          }
        }
      }
    }
  }
};

// Block loop over tilings built for one call of the free functions.
void block_dct_once(to_array<float, false>& in, to_array<float, false>& trans, const Block2D& B,
                    const Block2D& TB) {
  const std::vector<float> wl = axis_weights(B, B.nbr_block_nl()), wc = axis_weights(B, B.nbr_block_nc());
  std::vector<BlockDctScratch> scratch;
  BlockLoop{B, TB, wl.data(), wc.data(), scratch}.forward(in, trans, nullptr);
}

void inverse_block_dct_once(to_array<float, false>& trans, to_array<float, false>& out,
                            const Block2D& B, const Block2D& TB) {
  const std::vector<float> wl = axis_weights(B, B.nbr_block_nl()), wc = axis_weights(B, B.nbr_block_nc());
  std::vector<BlockDctScratch> scratch;
  BlockLoop{B, TB, wl.data(), wc.data(), scratch}.inverse(trans, out, nullptr);
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
  BlockLoop{B2D, TransB2D, weight_l_.data(), weight_c_.data(), scratch_}.forward(Ima, DCTIma, nullptr);
}

void LOCAL_DCT2D::transform(to_array<float, false>& Ima, float& MaxFabsWithoutZeroFreq) {
  check_image(Ima);
  resize_if_needed(DCTIma, NlTrans, NcTrans);
  BlockLoop{B2D, TransB2D, weight_l_.data(), weight_c_.data(), scratch_}.forward(
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
  BlockLoop{B2D, TransB2D, weight_l_.data(), weight_c_.data(), scratch_}.inverse(DCTIma, Ima, rule);
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
  BlockLoop{B2D, TransB2D, weight_l_.data(), weight_c_.data(), scratch_}.forward_then_inverse(
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
