// Cutting blocks out of the image and adding them back with their overlap
// weights, storing a block's coefficients into the ridgelet image and taking
// them out, and the loops over all blocks behind the public transform and
// reconstruction. Blocks are independent and run in parallel; every block's
// result is the same whatever the thread count.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "array/border.h"
#include "array/fatal.h"
#include "radon/ridgelet.h"
#include "radon/ridgelet_worker.h"

namespace {

int thread_index() {
#ifdef _OPENMP
  return omp_get_thread_num();
#else
  return 0;
#endif
}

}  // namespace

void Ridgelet::get_block_ima(int bi, int bj, to_array<float, false>& Ima,
                             to_array<float, false>& Block) {
  std::vector<int> columns;
  get_block_ima(bi, bj, Ima, Block, columns);
}

void Ridgelet::get_block_ima(int bi, int bj, to_array<float, false>& Ima,
                             to_array<float, false>& Block, std::vector<int>& column) {
  const int Di = BlockImaSize * bi - OverlapSize, Dj = BlockImaSize * bj - OverlapSize;
  const int NlIma = Ima.nl(), NcIma = Ima.nc();
  const bool inside = Di >= 0 && Dj >= 0 && Di + BlockSize <= NlIma && Dj + BlockSize <= NcIma;
  // Pixels outside the image are mirrored in, line and column each on its
  // own: the columns are mapped once for the block.
  if (!inside) {
    column.resize(BlockSize);
    for (int j = 0; j < BlockSize; j++) column[j] = test_index_mirror(Dj + j, NcIma);
  }
  for (int i = 0; i < BlockSize; i++) {
    float* out = &Block(i, 0);
    if (inside) {
      const float* in = &Ima(Di + i, Dj);
      std::copy(in, in + BlockSize, out);
    } else {
      const float* in = &Ima(test_index_mirror(Di + i, NlIma), 0);
      for (int j = 0; j < BlockSize; j++) out[j] = in[column[j]];
    }
    if (WeightBeforeTrans)
      for (int j = 0; j < BlockSize; j++) out[j] *= get_weight(bi, bj, i, j);
  }
}

void Ridgelet::put_block_ima(int bi, int bj, to_array<float, false>& Ima,
                             to_array<float, false>& Block) {
  const int Di = BlockImaSize * bi - OverlapSize, Dj = BlockImaSize * bj - OverlapSize;
  for (int i = 0; i < BlockSize; i++) {
    const int line = Di + i;
    if (line < 0 || line >= Nl) continue;
    for (int j = 0; j < BlockSize; j++) {
      const int col = Dj + j;
      if (col >= 0 && col < Nc) Ima(line, col) = Block(i, j);
    }
  }
}

void Ridgelet::add_block_ima(int bi, int bj, to_array<float, false>& Ima,
                             to_array<float, false>& Block) {
  std::vector<float> column_weights;
  add_block_ima(bi, bj, Ima, Block, column_weights);
}

void Ridgelet::add_block_ima(int bi, int bj, to_array<float, false>& Ima,
                             to_array<float, false>& Block, std::vector<float>& column_weight) {
  const int Di = BlockImaSize * bi - OverlapSize, Dj = BlockImaSize * bj - OverlapSize;
  const int j0 = std::max(0, -Dj), j1 = std::min(BlockSize, Nc - Dj);
  // A weight is the product of a line and a column weight, taken once per
  // line and per column.
  if (!WeightBeforeTrans) {
    column_weight.resize(BlockSize);
    for (int j = 0; j < BlockSize; j++) column_weight[j] = axis_weight(j, bj, NbrBj);
  }
  for (int i = 0; i < BlockSize; i++) {
    const int line = Di + i;
    if (line < 0 || line >= Nl) continue;
    const float* in = &Block(i, 0);
    float* out = &Ima(line, Dj);
    if (WeightBeforeTrans) {
      for (int j = j0; j < j1; j++) out[j] += in[j];
    } else {
      const float line_weight = axis_weight(i, bi, NbrBi);
      for (int j = j0; j < j1; j++) out[j] += line_weight * column_weight[j] * in[j];
    }
  }
}

void Ridgelet::put_block_trans(int bi, int bj, to_array<float, false>& Trans,
                               to_array<float, false>& Block) {
  if (Block.nl() > Trans.nl() || Block.nc() > Trans.nc())
    fatal_exitf(-1, stdout, "Block size < image size \nNbr line: %d %d\nNbr Col: %d %d\n",
                Block.nl(), Trans.nl(), Block.nc(), Trans.nc());
  if (NbrScale1D < 2) {
    // Without 1D scales the block is the Radon image, which may be narrower
    // than a ridgelet block: the extra columns are stored as zeros.
    for (int i = 0; i < Nlb; i++)
      for (int j = 0; j < Ncb; j++)
        Trans(bi * Nlb + i, bj * Ncb + j) = i < Block.nl() && j < Block.nc() ? Block(i, j) : 0.f;
    return;
  }
  const bool var_norm = RidTrans == RID_PYR_FFT && VarNorm;
  const float norm = var_norm ? std::sqrt(static_cast<float>(BlockSize)) : 1.f;
  for (int s = 0; s < NbrScale1D; s++) {
    const int size = TabSize(s), pos = TabPos(s);
    for (int i = 0; i < Block.nl(); i++) {
      const float* in = &Block(i, pos);
      float* out = &Trans(ipos(s, bi) + i, jpos(s, bj));
      if (var_norm) {
        for (int j = 0; j < size; j++) out[j] = in[j] / norm;
      } else {
        for (int j = 0; j < size; j++) out[j] = in[j];
      }
    }
  }
}

void Ridgelet::get_block_trans(int bi, int bj, to_array<float, false>& Trans,
                               to_array<float, false>& Block) {
  if (NbrScale1D < 2) {
    const int nl = std::min(Nlb, Block.nl()), nc = std::min(Ncb, Block.nc());
    for (int i = 0; i < nl; i++)
      for (int j = 0; j < nc; j++) Block(i, j) = Trans(bi * Nlb + i, bj * Ncb + j);
    return;
  }
  const bool var_norm = RidTrans == RID_PYR_FFT && VarNorm;
  const float norm = var_norm ? std::sqrt(static_cast<float>(BlockSize)) : 1.f;
  for (int s = 0; s < NbrScale1D; s++) {
    const int size = TabSize(s), pos = TabPos(s);
    const int first_line = ipos(s, bi), first_col = jpos(s, bj);
    if (pos + size > Block.nc())
      fatal_exitf(-1, stdout, "ImaTransBlock : nc = %d j+NFirst= %d j = %d\n", Block.nc(),
                  Block.nc(), Block.nc() - pos);
    if (first_line + Block.nl() > Trans.nl() || first_col + size > Trans.nc())
      fatal_exitf(-1, stdout,
                  "Transf : Nl = %d\n         Nc = %d\n         Posi = %d\n"
                  "         NFirstTrans = %d\n         i+Posi = %d\n"
                  "         NFirstTrans+j = %d\n",
                  Trans.nl(), Trans.nc(), first_line, first_col, first_line + Block.nl() - 1,
                  first_col + size - 1);
    for (int i = 0; i < Block.nl(); i++) {
      const float* in = &Trans(first_line + i, first_col);
      float* out = &Block(i, pos);
      for (int j = 0; j < size; j++) out[j] = in[j] * norm;
    }
  }
}

to_array<float, false>& Ridgelet::row_of_blocks(RidgeletWorker& W) {
  // The ridgelet image's lines are a power of two of floats long, and a
  // block writes and reads its bands in a column of them: lines a cache
  // line longer keep that column from falling into a few cache sets.
  const int pitch = RidNc + RowPad;
  const size_t count = static_cast<size_t>(Nlb) * pitch;
  if (W.row_values.size() != count || W.row.nl() != Nlb || W.row.nc() != pitch) {
    W.row_values.assign(count, 0.f);
    W.row.alloc(W.row_values.data(), Nlb, pitch);
  }
  return W.row;
}

// The scale bands (the columns beyond them belong to no scale and a
// transform leaves them alone), or the whole tiling without 1D scales.
int Ridgelet::row_columns() {
  if (NbrScale1D < 2) return std::min(RidNc, Ncb * NbrBj);
  int width = 0;
  for (int s = 0; s < NbrScale1D; s++) width += TabSize(s);
  return std::min(RidNc, width * NbrBj);
}

namespace {

// The first `columns` values of `lines` lines from one image to another,
// whose lines are from_pitch and to_pitch values apart.
void copy_lines(const float* from, size_t from_pitch, float* to, size_t to_pitch, int lines,
                int columns) {
  for (int i = 0; i < lines; i++)
    std::copy(from + i * from_pitch, from + i * from_pitch + columns, to + i * to_pitch);
}

}  // namespace

void Ridgelet::block_transform(to_array<float, false>& Ima, to_array<float, false>& Trans) {
  block_transform(Ima, Trans, nullptr, true);
}

void Ridgelet::begin_block_transform(to_array<float, false>& Trans) {
  if (Trans.naxis() != 2 || Trans.nl() != RidNl || Trans.nc() != RidNc) {
    // A reshaped image keeps what its buffer held: the columns beyond the
    // scale bands, which no transform writes, would show it. A new one
    // arrives zeroed, its pages untouched until a row is stored.
    const bool fresh = Trans.n_elem() == 0;
    Trans.resize(RidNl, RidNc);
    if (!fresh) Trans.init();
  }
  check_block_variant(True);
}

to_array<float, false>& Ridgelet::transform_block_row(int thread, int bi,
                                                     to_array<float, false>& Ima) {
  RidgeletWorker& w = *Workers[thread];
  to_array<float, false>& row = row_of_blocks(w);
  for (int bj = 0; bj < NbrBj; bj++) {
    // Blocks 2k and 2k + 1 go together where they can.
    if (bj % 2 == 0 && transform_pair_at(w, bi, bj, Ima, row)) {
      bj++;
      continue;
    }
    transform_block_at(w, bi, bj, Ima, row, w.ridblock);
    // Only the first block reports; the test keeps the threads from
    // writing the flag they all read.
    if (Verbose) Verbose = False;
  }
  return row;
}

void Ridgelet::store_block_row(int bi, const to_array<float, false>& Row,
                               to_array<float, false>& Trans) {
  copy_lines(Row.buffer(), Row.nc(), &Trans(bi * Nlb, 0), Trans.nc(), Nlb, row_columns());
}

void Ridgelet::block_transform(to_array<float, false>& Ima, to_array<float, false>& Trans,
                               const RowVisit& visit, bool store) {
  const Bool verbose = Verbose;
  if (Verbose) {
    std::printf("RID Transform: Block Size = %d Nlb = %d Ncb = %d\n", BlockSize, NbrBi, NbrBj);
    std::printf("    Ridgelet image size  = %d %d\n", RidNl, RidNc);
    if (WPFirstScale) std::printf("    Wavelet packets on the first scale \n");
  }
  begin_block_transform(Trans);
  // A row of blocks at a time into the worker's row, then into the
  // ridgelet image line by line. The first block reports alone, so with
  // messages the first row runs before the others, which run quietly side
  // by side.
  auto one_row = [&](int thread, int bi) {
    to_array<float, false>& row = transform_block_row(thread, bi, Ima);
    if (visit) visit(bi, row);
    if (store) store_block_row(bi, row, Trans);
  };
  const int first_parallel_row = Verbose ? 1 : 0;
  if (first_parallel_row == 1) one_row(0, 0);
  const int threads = worker_count();
#pragma omp parallel for schedule(dynamic) num_threads(threads) if (threads > 1)
  for (int bi = first_parallel_row; bi < NbrBi; bi++) one_row(thread_index(), bi);
  Verbose = verbose;
}

void Ridgelet::check_ridgelet_image(const to_array<float, false>& Trans) const {
  if (!Allocated) fatal_exit("Error: The Ridgelet is not allocated ... \n");
  if (Nl == 0 || Nc == 0) fatal_exit("Error: Ridgelet Class not initialized ... \n");
  if (Trans.naxis() != 2 || Trans.nl() != RidNl || Trans.nc() != RidNc)
    fatal_exitf(-1, stdout, "Error: the ridgelet image size (%d, %d) is not the allocated one (%d, %d) ...\n",
                Trans.nl(), Trans.nc(), RidNl, RidNc);
}

void Ridgelet::begin_block_recons(to_array<float, false>& Trans, to_array<float, false>& Ima,
                                  const unsigned char* Marks) {
  if (Ima.naxis() != 2 || Ima.nl() != Nl || Ima.nc() != Nc) Ima.resize(Nl, Nc);
  if (NbrScale1D >= 2) check_block_variant(False);
  ReconsPlan& plan = Recons;
  plan.in_place = Trans.nc() == RidNc && Trans.nl() >= NbrBi * Nlb;
  const size_t blocks = static_cast<size_t>(NbrBi) * NbrBj;
  const bool marked = Marks != nullptr && NbrScale1D >= 2;
  plan.scan = NbrScale1D >= 2 && plan.in_place && !marked;
  if (marked)
    plan.nonzero.assign(Marks, Marks + blocks);
  else
    plan.nonzero.assign(blocks, 1);
}

bool Ridgelet::any_nonzero_square(const float* Values, int n) {
  int nonzero = 0;
#pragma omp simd reduction(| : nonzero)
  for (int j = 0; j < n; j++) nonzero |= Values[j] * Values[j] != 0.f;
  return nonzero != 0;
}

void Ridgelet::mark_block_row(const float* Row, size_t Pitch, unsigned char* Marks) const {
  std::fill(Marks, Marks + NbrBj, 0);
  // Line by line: the blocks of a row lie side by side in each line, and a
  // scale's bands of all of them make one run, most often all zero.
  for (int i = 0; i < Nlb; i++)
    for (int s = 0; s < NbrScale1D; s++) {
      const int size = TabSize(s);
      const float* line = Row + i * Pitch + jpos(s, 0);
      if (!any_nonzero_square(line, size * NbrBj)) continue;
      for (int bj = 0; bj < NbrBj; bj++)
        Marks[bj] |= any_nonzero_square(line + static_cast<size_t>(bj) * size, size);
    }
}

void Ridgelet::scan_block_row(int bi, to_array<float, false>& Trans) {
  mark_block_row(&Trans(bi * Nlb, 0), Trans.nc(), &Recons.nonzero[static_cast<size_t>(bi) * NbrBj]);
}

// A row of blocks with work in it is read in place when the ridgelet image
// has the row's layout (reading is all the blocks do), else copied line by
// line into the worker's row first.
to_array<float, false>& Ridgelet::recons_row(RidgeletWorker& W, int bi,
                                             to_array<float, false>& Trans) {
  if (Recons.in_place) {
    W.row_view.alloc(&Trans(bi * Nlb, 0), Nlb, RidNc);
    return W.row_view;
  }
  to_array<float, false>& row = row_of_blocks(W);
  copy_lines(&Trans(bi * Nlb, 0), Trans.nc(), row.buffer(), row.nc(), Nlb, row_columns());
  return row;
}

// The worker's scratch for one block's coefficients: without 1D scales they
// are its Radon image.
void Ridgelet::size_coefficient_block(RidgeletWorker& W) {
  const int nl = NbrScale1D < 2 ? RadonTrans.radon_nl() : Nlb;
  const int nc = NbrScale1D < 2 ? RadonTrans.radon_nc() : Ncb;
  if (W.ridblock.naxis() != 2 || W.ridblock.nl() != nl || W.ridblock.nc() != nc)
    W.ridblock.alloc(nl, nc, "blocktrans");
}

void Ridgelet::recons_block_from_row(RidgeletWorker& W, to_array<float, false>& Row, int bi,
                                     int bj, to_array<float, false>& Ima) {
  if (!block_has_work(bi, bj)) return;
  size_coefficient_block(W);
  if (recons_block_at(W, bi, bj, Row, W.ridblock))
    add_block_ima(bi, bj, Ima, W.block, W.column_weights);
}

bool Ridgelet::recons_block_of_row(int thread, int bi, int bj, to_array<float, false>& Row,
                                   float* Block) {
  RidgeletWorker& W = *Workers[thread];
  size_coefficient_block(W);
  if (!recons_block_at(W, bi, bj, Row, W.ridblock)) return false;
  if (W.block.nl() != BlockSize || W.block.nc() != BlockSize)
    fatal_exitf(-1, stderr, "Error: a reconstructed block is %d x %d, not %d x %d ...\n",
                W.block.nl(), W.block.nc(), BlockSize, BlockSize);
  std::copy_n(W.block.buffer(), static_cast<size_t>(BlockSize) * BlockSize, Block);
  return true;
}

void Ridgelet::add_made_block(int thread, int bi, int bj, float* Block,
                              to_array<float, false>& Ima) {
  RidgeletWorker& W = *Workers[thread];
  W.made_view.alloc(Block, BlockSize, BlockSize);
  add_block_ima(bi, bj, Ima, W.made_view, W.column_weights);
}

void Ridgelet::recons_class_row(int thread, int bi, int pj, to_array<float, false>& Trans,
                                to_array<float, false>& Ima) {
  bool work = false;
  for (int bj = pj; bj < NbrBj && !work; bj += 2) work = block_has_work(bi, bj);
  if (!work) return;
  RidgeletWorker& w = *Workers[thread];
  to_array<float, false>& row = recons_row(w, bi, Trans);
  for (int bj = pj; bj < NbrBj; bj += 2) recons_block_from_row(w, row, bi, bj, Ima);
}

void Ridgelet::recons_block_in_place(int thread, int bi, int bj, to_array<float, false>& Trans,
                                     to_array<float, false>& Ima) {
  if (!block_has_work(bi, bj)) return;
  RidgeletWorker& w = *Workers[thread];
  recons_block_from_row(w, recons_row(w, bi, Trans), bi, bj, Ima);
}

void Ridgelet::block_recons(to_array<float, false>& Trans, to_array<float, false>& Ima) {
  begin_block_recons(Trans, Ima, nullptr);
  const Bool verbose = Verbose;
  if (Verbose) {
    std::printf("RID Transform: Block Size = %d Nlb = %d Ncb = %d\n", BlockSize, NbrBi, NbrBj);
    std::printf("    Ridgelet image size  = %d %d\n", RidNl, RidNc);
    std::printf("    Reconstruted image  = %d %d\n", Nl, Nc);
  }
  const bool scan = Recons.scan;
  const int threads = worker_count();
  const bool alone_first = Verbose;
  // One team for the whole reconstruction; its steps are worksharing loops
  // whose closing barriers keep them in order.
#pragma omp parallel num_threads(threads) if (threads > 1)
  {
    const int thread = thread_index();
    // The blocks add into Ima: the team clears it first, and the barrier
    // that closes the scan (or stands in for it) holds the blocks back
    // until it is clear.
#pragma omp for schedule(static) nowait
    for (int i = 0; i < Nl; i++) std::fill_n(Ima.buffer() + static_cast<size_t>(i) * Nc, Nc, 0.f);
    // Which blocks hold a nonzero coefficient, from one pass down the
    // ridgelet image (a thresholding leaves many blocks all zero, and those
    // contribute nothing).
    if (scan) {
#pragma omp for schedule(static)
      for (int bi = 0; bi < NbrBi; bi++) scan_block_row(bi, Trans);
    } else {
#pragma omp barrier
    }
    // With messages, block (0, 0) first, alone. No other thread runs
    // meanwhile, so it may take the first worker; its flag then keeps the
    // class rounds away from it. Without, it is one of its parity class,
    // none of which overlap: the sum is the same.
    if (alone_first) {
#pragma omp single
      {
        if (NbrBi > 0 && NbrBj > 0 && block_has_work(0, 0)) {
          RidgeletWorker& w = *Workers[0];
          recons_block_from_row(w, recons_row(w, 0, Trans), 0, 0, Ima);
          Recons.nonzero[0] = 0;
        }
        Verbose = False;
      }
    }
    // Blocks overlap only their direct neighbours, so the blocks of one
    // parity class of (bi, bj) never write the same pixel and can run side
    // by side; the four classes run in a fixed order, which fixes the order
    // in which overlapping blocks add up.
    for (int parity = 0; parity < 4; parity++) {
      const int pi = parity / 2, pj = parity % 2;
      // A row of the class at a time.
#pragma omp for schedule(dynamic)
      for (int bi = pi; bi < NbrBi; bi += 2) recons_class_row(thread, bi, pj, Trans, Ima);
    }
  }
  Verbose = verbose;
}

void Ridgelet::transform(to_array<float, false>& Ima, to_array<float, false>& Trans, int B) {
  alloc(Ima.nl(), Ima.nc(), B);
  block_transform(Ima, Trans);
  if (StatInfo) info_stat(Trans);
}

void Ridgelet::transform(to_array<float, false>& Ima, to_array<float, false>& Trans) {
  transform(Ima, Trans, nullptr, true);
}

void Ridgelet::transform(to_array<float, false>& Ima, to_array<float, false>& Trans,
                         const RowVisit& visit, bool store) {
  if (!Allocated) fatal_exit("Error: The Ridgelet is not allocated ... \n");
  if (Ima.nl() != Nl || Ima.nc() != Nc)
    fatal_exitf(-1, stdout, "Error: the image size (%d, %d) is not the allocated one (%d, %d) ...\n",
                Ima.nl(), Ima.nc(), Nl, Nc);
  block_transform(Ima, Trans, visit, store);
  if (StatInfo && store) info_stat(Trans);
}

void Ridgelet::recons(to_array<float, false>& Trans, to_array<float, false>& Ima) {
  check_ridgelet_image(Trans);
  block_recons(Trans, Ima);
}

void Ridgelet::recons(to_array<float, false>& Trans, to_array<float, false>& Ima, int B) {
  set_block_param_from_transform(Trans.nl(), Trans.nc(), B);
  recons(Trans, Ima);
}

void Ridgelet::recons(to_array<float, false>& Trans, to_array<float, false>& Ima, int B,
                      int NlIma, int NcIma) {
  alloc(NlIma, NcIma, B);
  recons(Trans, Ima);
}
