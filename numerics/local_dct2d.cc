// Block DCT and its inverse over two tilings, and the LOCAL_DCT2D object that
// keeps its tilings, transform image and work buffers between calls.
#include "numerics/local_dct2d.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "numerics/im_dct.h"

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

// Forward block loop: block is BlockSize x BlockSize, work holds as many floats.
void block_dct(to_array<float, false>& in, to_array<float, false>& trans, const Block2D& image_tiling,
               const Block2D& trans_tiling, to_array<float, false>& block, float* work) {
  const int size = image_tiling.block_size();
  for (int bi = 0; bi < image_tiling.nbr_block_nl(); bi++)
    for (int bj = 0; bj < image_tiling.nbr_block_nc(); bj++) {
      image_tiling.get_block_ima(bi, bj, in, block);
      dct2d_in_place(block.buffer(), size, size, False, work);
      trans_tiling.put_block_ima(bi, bj, trans, block);
    }
}

// Inverse block loop into a zeroed out.
void block_inverse_dct(to_array<float, false>& trans, to_array<float, false>& out,
                       const Block2D& image_tiling, const Block2D& trans_tiling,
                       to_array<float, false>& block, float* work) {
  const int size = image_tiling.block_size();
  out.init();
  for (int bi = 0; bi < image_tiling.nbr_block_nl(); bi++)
    for (int bj = 0; bj < image_tiling.nbr_block_nc(); bj++) {
      trans_tiling.get_block_ima(bi, bj, trans, block);
      dct2d_in_place(block.buffer(), size, size, True, work);
      image_tiling.add_block_ima(bi, bj, out, block);
    }
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

}  // namespace

void im_blockdct(to_array<float, false>& in, to_array<float, false>& Trans, Block2D& B,
                 Block2D& TB) {
  const int size = B.block_size();
  check_tilings(B, TB);
  resize_if_needed(Trans, B.l_nl(), B.l_nc());
  to_array<float, false> block(size, size, "ImaBlock");
  std::vector<float> work(static_cast<size_t>(size) * size);
  block_dct(in, Trans, B, TB, block, work.data());
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
  const int size = B.block_size();
  check_tilings(B, TB);
  check_trans_size(Trans, B.l_nl(), B.l_nc());
  resize_if_needed(out, B.nl(), B.nc());
  to_array<float, false> block(size, size, "ImaBlock");
  std::vector<float> work(static_cast<size_t>(size) * size);
  block_inverse_dct(Trans, out, B, TB, block, work.data());
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
  block_work_.alloc(BlockSize, BlockSize, "ImaBlock");
  dct_work_.assign(static_cast<size_t>(BlockSize) * BlockSize, 0.f);
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

void LOCAL_DCT2D::transform(to_array<float, false>& Ima) {
  check_allocated();
  if (Ima.nl() != Nl || Ima.nc() != Nc)
    fatal_exitf(-1, stdout,
                "Error: Bad image size in LOCAL_DCT2D::transform ... \n"
                "       Image size is: Nl = %d Nc = %d\n"
                "       Expected size is: Nl = %d Nc = %d\n",
                Ima.nl(), Ima.nc(), Nl, Nc);
  resize_if_needed(DCTIma, NlTrans, NcTrans);
  block_dct(Ima, DCTIma, B2D, TransB2D, block_work_, dct_work_.data());
}

void LOCAL_DCT2D::recons(to_array<float, false>& Ima) {
  check_allocated();
  // DCTIma is public: a caller may have replaced it by an image of another size.
  check_trans_size(DCTIma, NlTrans, NcTrans);
  resize_if_needed(Ima, Nl, Nc);
  block_inverse_dct(DCTIma, Ima, B2D, TransB2D, block_work_, dct_work_.data());
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
