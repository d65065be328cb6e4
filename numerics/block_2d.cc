// Block tiling of images: extraction with mirror borders, write-back and
// weighted recombination of overlapping blocks.
#include "numerics/block_2d.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "array/border.h"
#include "array/fatal.h"

namespace {

constexpr double Pi = 3.14159265358979323846;

// Row and column weights of one block, in a buffer of each thread that only
// grows, so that block loops allocate nothing after their first block.
float* weight_buffer(int n) {
  thread_local std::vector<float> buffer;
  if (static_cast<int>(buffer.size()) < n) buffer.resize(n);
  return buffer.data();
}

}  // namespace

void Block2D::reset_param() {
  Nl = Nc = 0;
  BlockSize = 0;
  Overlap = 0;
  NbrBlock_nl = NbrBlock_nc = NbrBlock = 0;
  Verbose = 0;
  BlockOverlap = 0;
  WeightFirst = 0;
}

void Block2D::alloc(int nl, int nc, int block_size) {
  // A negative side would give a step of zero or below between blocks.
  if (block_size < 0)
    fatal_exitf(-1, stdout, "Error: Block2D block size must not be negative ... \n"
                "       BlockSize = %d\n", block_size);
  Nl = nl;
  Nc = nc;
  BlockSize = block_size;
  int max_side = std::max(nl, nc);
  if (block_size == 0) {
    NbrBlock_nl = NbrBlock_nc = 1;
    BlockSize = std::min(nl, nc);
    BlockOverlap = 0;
  } else if (block_size == max_side) {
    NbrBlock_nl = NbrBlock_nc = 1;
    BlockOverlap = 0;
  }
  int step = BlockOverlap == 1 ? (BlockSize + 1) / 2 : BlockSize;
  if (block_size != 0 && block_size != max_side) {
    NbrBlock_nl = nl / step + (nl % step != 0 ? 1 : 0);
    NbrBlock_nc = nc / step + (nc % step != 0 ? 1 : 0);
  }
  NbrBlock = NbrBlock_nl * NbrBlock_nc;
  Overlap = BlockOverlap == 1 ? step : 0;

  if (Verbose == 1) {
    std::printf("\nima size = (%2d,%2d), BlockSize = %2d\n", Nl, Nc, BlockSize);
    std::printf("Nbr Blocks = (%2d,%2d)\n", NbrBlock_nl, NbrBlock_nc);
    if (BlockOverlap == 1) std::printf("Block Overlap: size = %d \n", Overlap);
    else std::printf("No Block Overlap \n\n");
  }
}

float Block2D::get_weight(int k, int b, int nb) const {
  const int size = BlockSize;
  float weight = 1.f;
  if (size % 2 == 1 && (k == 0 || k == size - 1)) {
    // Odd blocks advance by (B - 1) / 2: the shared end pixel belongs to one
    // neighbour only.
    if (b != 0 && k == 0) weight = 0.f;
    else if (b == nb - 1) weight = 1.f;
    else if (k == size - 1) weight = 0.f;
    else weight = 1.f;
  } else {
    const int half = size / 2;
    if (b != 0 && k < half) {
      double s = std::sin(static_cast<double>(k) / half * Pi / 2.);
      weight = static_cast<float>(s * s);
    } else if (b == nb - 1) {
      weight = 1.f;
    } else if (k > half) {
      double c = std::cos(static_cast<double>(k - half) / half * Pi / 2.);
      weight = static_cast<float>(c * c);
    }
  }
  return weight;
}

void Block2D::fill_weights(int b, int nb, float* weights) const {
  for (int k = 0; k < BlockSize; k++) weights[k] = get_weight(k, b, nb);
}

const float* Block2D::block_weights(int Bi, int Bj) const {
  float* weights = weight_buffer(2 * BlockSize);
  fill_weights(Bi, NbrBlock_nl, weights);
  fill_weights(Bj, NbrBlock_nc, weights + BlockSize);
  return weights;
}

bool Block2D::clip_to_image(int p, int q, const to_array<float, false>& Ima, int& lines,
                            int& columns) const {
  // Bounded by the tiling and by the array, so a smaller array is never overrun.
  lines = std::min(BlockSize, std::min(Nl, Ima.nl()) - p);
  columns = std::min(BlockSize, std::min(Nc, Ima.nc()) - q);
  return p >= 0 && q >= 0 && lines > 0 && columns > 0;
}

void Block2D::get_block_ima(int Bi, int Bj, to_array<float, false>& Ima,
                            to_array<float, false>& ImaBlock) const {
  const int size = BlockSize;
  const int p = block_start(Bi), q = block_start(Bj);
  const int nl = Ima.nl(), nc = Ima.nc();
  const float* image = Ima.buffer();
  float* block = ImaBlock.buffer();
  const bool weighted = BlockOverlap && WeightFirst;
  const float* weight_l = weighted ? block_weights(Bi, Bj) : nullptr;
  const float* weight_c = weighted ? weight_l + size : nullptr;
  // Columns [0, inside) of the block lie in the image; the rest are mirrored.
  const int inside = std::max(0, std::min(size, nc - q));
  for (int k = 0; k < size; k++) {
    const float* row = image + static_cast<int64_t>(test_index_mirror(p + k, nl)) * nc;
    float* out = block + static_cast<int64_t>(k) * size;
    if (q >= 0 && inside > 0) std::memcpy(out, row + q, sizeof(float) * inside);
    for (int l = (q >= 0 ? inside : 0); l < size; l++) out[l] = row[test_index_mirror(q + l, nc)];
    if (weighted) {
      const float wk = weight_l[k];
      for (int l = 0; l < size; l++) out[l] = out[l] * wk * weight_c[l];
    }
  }
}

void Block2D::put_block_ima(int Bi, int Bj, to_array<float, false>& Ima,
                            to_array<float, false>& ImaBlock) const {
  const int size = BlockSize;
  const int p = block_start(Bi), q = block_start(Bj);
  const int nc = Ima.nc();
  int lines, columns;
  if (!clip_to_image(p, q, Ima, lines, columns)) return;
  for (int k = 0; k < lines; k++)
    std::memcpy(Ima.buffer() + static_cast<int64_t>(p + k) * nc + q,
                ImaBlock.buffer() + static_cast<int64_t>(k) * size, sizeof(float) * columns);
}

void Block2D::add_block_ima(int Bi, int Bj, to_array<float, false>& Ima,
                            to_array<float, false>& ImaBlock) const {
  const int size = BlockSize;
  const int p = block_start(Bi), q = block_start(Bj);
  const int nc = Ima.nc();
  int lines, columns;
  if (!clip_to_image(p, q, Ima, lines, columns)) return;
  const bool weighted = BlockOverlap == 1 && WeightFirst == 0;
  const float* weight_l = weighted ? block_weights(Bi, Bj) : nullptr;
  const float* weight_c = weighted ? weight_l + size : nullptr;
  for (int k = 0; k < lines; k++) {
    float* out = Ima.buffer() + static_cast<int64_t>(p + k) * nc + q;
    const float* in = ImaBlock.buffer() + static_cast<int64_t>(k) * size;
    if (weighted) {
      const float wk = weight_l[k];
      for (int l = 0; l < columns; l++) out[l] += in[l] * wk * weight_c[l];
    } else {
      for (int l = 0; l < columns; l++) out[l] += in[l];
    }
  }
}
