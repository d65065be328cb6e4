// Block tiling: counts and padded sizes, mirror reads past the edges,
// skipped writes, overlap weights and exact recombination of blocks.
#include "numerics/block_2d.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/test_images.h"
#include "support/death.h"

namespace {

Block2D tiling(int nl, int nc, int block_size, int overlap, int weight_first = 0) {
  Block2D b;
  b.BlockOverlap = overlap;
  b.WeightFirst = weight_first;
  b.alloc(nl, nc, block_size);
  return b;
}

// Mirror about the edge sample: -1 reads 1, n reads n - 2.
int mirror(int i, int n) { return i < 0 ? -i : (i >= n ? 2 * n - i - 2 : i); }

}  // namespace

TEST(Block2D, CountsOverlapAndPaddedSizes) {
  Block2D empty;
  EXPECT_EQ(empty.l_nl() + empty.l_nc() + empty.nbr_block() + empty.block_size(), 0);
  // Block size 0 or the whole side: one block, overlap cleared whatever was asked.
  for (int size : {0, 256}) {
    Block2D b = tiling(256, 256, size, 1);
    EXPECT_EQ(b.block_size(), 256);
    EXPECT_EQ(b.nbr_block(), 1);
    EXPECT_EQ(b.Overlap + b.BlockOverlap, 0);
  }
  EXPECT_EQ(tiling(64, 128, 0, 0).block_size(), 64);  // the shorter side
  struct Case { int nl, nc, block, overlap, overlap_width, blocks_nl, blocks_nc, l_nl, l_nc; };
  for (Case c : {Case{256, 256, 32, 1, 16, 16, 16, 512, 512}, Case{256, 256, 32, 0, 0, 8, 8, 256, 256},
                 Case{100, 60, 16, 0, 0, 7, 4, 112, 64}}) {
    Block2D b = tiling(c.nl, c.nc, c.block, c.overlap);
    EXPECT_EQ(b.Overlap, c.overlap_width);
    EXPECT_EQ(b.nbr_block_nl(), c.blocks_nl);
    EXPECT_EQ(b.nbr_block_nc(), c.blocks_nc);
    EXPECT_EQ(b.nbr_block(), c.blocks_nl * c.blocks_nc);
    EXPECT_EQ(b.l_nl(), c.l_nl);
    EXPECT_EQ(b.l_nc(), c.l_nc);
  }
}

TEST(Block2D, LastBlockIsMirroredOnExtractionAndClippedOnWriteBack) {
  Block2D b = tiling(100, 100, 32, 0);
  to_array<float, false> ima = random_image(100, 100, 1), block(32, 32), target(100, 100);
  b.get_block_ima(3, 3, ima, block);
  for (int k = 0; k < 32; k++)
    for (int l = 0; l < 32; l++)
      ASSERT_EQ(block(k, l), ima(mirror(96 + k, 100), mirror(96 + l, 100))) << k << " " << l;
  target.init(-1.f);
  block.init(5.f);
  b.put_block_ima(3, 1, target, block);
  for (int i = 0; i < 100; i++)
    for (int j = 0; j < 100; j++)
      ASSERT_EQ(target(i, j), i >= 96 && j >= 32 && j < 64 ? 5.f : -1.f) << i << " " << j;
  b.add_block_ima(3, 1, target, block);
  EXPECT_EQ(target(99, 63), 10.f);
  EXPECT_EQ(target(95, 63), -1.f);
}

TEST(Block2D, WeightsOfEightPixelBlocks) {
  Block2D b = tiling(32, 32, 8, 1);
  auto sq = [](double v) { return v * v; };
  const double Pi = 3.14159265358979323846;
  const double c1 = sq(std::cos(Pi / 8)), c3 = sq(std::cos(3 * Pi / 8));
  const double s1 = sq(std::sin(Pi / 8)), s3 = sq(std::sin(3 * Pi / 8));
  const double expected[3][8] = {{1, 1, 1, 1, 1, c1, 0.5, c3},   // first block
                                 {0, s1, 0.5, s3, 1, c1, 0.5, c3},  // inner block
                                 {0, s1, 0.5, s3, 1, 1, 1, 1}};     // last block
  const int block_of_row[3] = {0, 1, 3};
  for (int k = 0; k < 8; k++) {
    for (int r = 0; r < 3; r++) EXPECT_NEAR(b.get_weight(k, block_of_row[r], 4), expected[r][k], 1e-7);
    EXPECT_EQ(b.get_weight(k, 0, 1), 1.f);
  }
}

TEST(Block2D, OverlappingBlocksRecombineIntoTheImage) {
  // Both weighting moments, sizes that are and are not multiples of half a
  // block, and a single block along one axis.
  struct Case { int nl, nc, block; };
  for (Case c : {Case{64, 64, 16}, Case{37, 50, 8}, Case{100, 72, 32}, Case{16, 40, 16}})
    for (int weight_first : {0, 1}) {
      Block2D b = tiling(c.nl, c.nc, c.block, 1, weight_first);
      to_array<float, false> ima = random_image(c.nl, c.nc, c.nl + weight_first, -10.f, 10.f);
      to_array<float, false> rebuilt(c.nl, c.nc), block(b.block_size(), b.block_size());
      for (int bi = 0; bi < b.nbr_block_nl(); bi++)
        for (int bj = 0; bj < b.nbr_block_nc(); bj++) {
          b.get_block_ima(bi, bj, ima, block);
          b.add_block_ima(bi, bj, rebuilt, block);
        }
      for (int k = 0; k < ima.n_elem(); k++)
        ASSERT_NEAR(rebuilt(k), ima(k), 1e-5) << c.nl << "x" << c.nc << " wf " << weight_first;
    }
}

TEST(Block2D, VerboseTilingAndNegativeBlockSize) {
  Block2D b;
  b.Verbose = b.BlockOverlap = 1;
  testing::internal::CaptureStdout();
  b.alloc(64, 64, 16);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nima size = (64,64), BlockSize = 16\nNbr Blocks = ( 8, 8)\nBlock Overlap: size = 8 \n");
  EXPECT_EXIT_STATUS(b.alloc(100, 100, -1), 255, "block size must not be negative");
}
