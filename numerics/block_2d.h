// Block2D: the tiling of an image into square blocks, optionally overlapping
// by half a block, with mirror reads past the edges and sin²/cos² overlap
// weights that sum to 1. The local block DCT tiles both its image and its
// transform image with it; the MCA engine reads and writes single blocks.
#pragma once

#include "array/to_array.h"

class Block2D {
 public:
  // Plain public fields, in this order; the three flags are set by the owner
  // before alloc.
  int Nc;            // columns of the tiled image
  int Nl;            // lines of the tiled image
  int Overlap;       // (BlockSize + 1) / 2 when blocks overlap, else 0
  int BlockSize;     // side of a block
  int NbrBlock_nc;   // blocks along a line
  int NbrBlock_nl;   // blocks along a column
  int NbrBlock;      // NbrBlock_nl * NbrBlock_nc
  int Verbose;       // print the tiling when it is set up
  int BlockOverlap;  // overlap requested; cleared when one block covers the image
  int WeightFirst;   // weight blocks on extraction instead of on recombination

  Block2D() { reset_param(); }
  ~Block2D() { reset_param(); }
  void reset_param();

  int nl() const { return Nl; }
  int nc() const { return Nc; }
  int block_size() const { return BlockSize; }
  int nbr_block_nl() const { return NbrBlock_nl; }
  int nbr_block_nc() const { return NbrBlock_nc; }
  int nbr_block() const { return NbrBlock; }
  // Size of an image holding every block side by side without overlap.
  int l_nl() const { return BlockSize * NbrBlock_nl; }
  int l_nc() const { return BlockSize * NbrBlock_nc; }

  // Tiles an Nl x Nc image; BlockSize 0 asks for one block over the image.
  void alloc(int Nl, int Nc, int BlockSize);

  // Copies block (Bi, Bj) of Ima into ImaBlock (BlockSize x BlockSize),
  // mirroring past the edges; weighted when BlockOverlap and WeightFirst.
  void get_block_ima(int Bi, int Bj, to_array<float, false>& Ima,
                     to_array<float, false>& ImaBlock) const;
  // Writes ImaBlock at the place of block (Bi, Bj); pixels outside Ima are skipped.
  void put_block_ima(int Bi, int Bj, to_array<float, false>& Ima,
                     to_array<float, false>& ImaBlock) const;
  // Adds ImaBlock at the place of block (Bi, Bj), weighted when BlockOverlap
  // is set and WeightFirst is not; pixels outside Ima are skipped.
  void add_block_ima(int Bi, int Bj, to_array<float, false>& Ima,
                     to_array<float, false>& ImaBlock) const;

  // Overlap weight of pixel k of block b among nb blocks along one axis.
  float get_weight(int k, int b, int nb) const;

 private:
  // First line (or column) of block b along an axis.
  int block_start(int b) const { return (BlockSize - Overlap) * b; }
  // The weights of the BlockSize pixels of block b among nb, into weights.
  void fill_weights(int b, int nb, float* weights) const;
  // Line weights then column weights of block (Bi, Bj), in a reused buffer.
  const float* block_weights(int Bi, int Bj) const;
  // Lines and columns of the block at (p, q) that fall inside the tiling and
  // the array; false when none does.
  bool clip_to_image(int p, int q, const to_array<float, false>& Ima, int& lines,
                     int& columns) const;
};
