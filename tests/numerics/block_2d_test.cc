// Block tiling: counts and padded sizes, mirror reads past the edges,
// skipped writes, overlap weights and exact recombination of blocks.
#include "numerics/block_2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "support/death.h"

namespace {

const double Pi = 3.14159265358979323846;

Block2D tiling(int nl, int nc, int block_size, int overlap, int weight_first = 0) {
  Block2D b;
  b.BlockOverlap = overlap;
  b.WeightFirst = weight_first;
  b.alloc(nl, nc, block_size);
  return b;
}

to_array<float, false> random_image(int nl, int nc, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-10.f, 10.f);
  to_array<float, false> ima(nl, nc);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = dist(gen);
  return ima;
}

// Mirror about the edge sample: -1 reads 1, n reads n - 2.
int mirror(int i, int n) { return i < 0 ? -i : (i >= n ? 2 * n - i - 2 : i); }

}  // namespace

TEST(Block2D, WholeImageRequestsGiveOneBlockWithoutOverlap) {
  for (int size : {0, 256}) {
    Block2D b = tiling(256, 256, size, 1);
    EXPECT_EQ(b.block_size(), 256);
    EXPECT_EQ(b.nbr_block_nl(), 1);
    EXPECT_EQ(b.nbr_block_nc(), 1);
    EXPECT_EQ(b.Overlap, 0);
    EXPECT_EQ(b.BlockOverlap, 0);
  }
  // Block size 0 on a rectangle takes the shorter side.
  Block2D r = tiling(64, 128, 0, 0);
  EXPECT_EQ(r.block_size(), 64);
  EXPECT_EQ(r.nbr_block(), 1);
}

TEST(Block2D, CountsAndPaddedSizes) {
  Block2D over = tiling(256, 256, 32, 1);
  EXPECT_EQ(over.Overlap, 16);
  EXPECT_EQ(over.nbr_block_nl(), 16);
  EXPECT_EQ(over.nbr_block_nc(), 16);
  EXPECT_EQ(over.nbr_block(), 256);
  EXPECT_EQ(over.l_nl(), 512);
  EXPECT_EQ(over.l_nc(), 512);

  Block2D plain = tiling(256, 256, 32, 0);
  EXPECT_EQ(plain.Overlap, 0);
  EXPECT_EQ(plain.nbr_block_nl(), 8);
  EXPECT_EQ(plain.l_nl(), 256);

  Block2D rect = tiling(100, 60, 16, 0);
  EXPECT_EQ(rect.nbr_block_nl(), 7);
  EXPECT_EQ(rect.nbr_block_nc(), 4);
  EXPECT_EQ(rect.l_nl(), 112);
  EXPECT_EQ(rect.l_nc(), 64);
}

TEST(Block2D, LastBlockIsMirroredOnExtractionAndClippedOnWriteBack) {
  Block2D b = tiling(100, 100, 32, 0);
  ASSERT_EQ(b.nbr_block_nl(), 4);
  to_array<float, false> ima = random_image(100, 100, 1), block(32, 32);
  b.get_block_ima(3, 3, ima, block);
  for (int k = 0; k < 32; k++)
    for (int l = 0; l < 32; l++)
      ASSERT_EQ(block(k, l), ima(mirror(96 + k, 100), mirror(96 + l, 100))) << k << " " << l;

  to_array<float, false> target(100, 100);
  target.init(-1.f);
  block.init(5.f);
  b.put_block_ima(3, 1, target, block);
  for (int i = 0; i < 100; i++)
    for (int j = 0; j < 100; j++) {
      bool inside = i >= 96 && j >= 32 && j < 64;
      ASSERT_EQ(target(i, j), inside ? 5.f : -1.f) << i << " " << j;
    }
  b.add_block_ima(3, 1, target, block);
  EXPECT_EQ(target(99, 63), 10.f);
  EXPECT_EQ(target(95, 63), -1.f);
}

TEST(Block2D, WeightsOfEightPixelBlocks) {
  Block2D b = tiling(32, 32, 8, 1);
  ASSERT_EQ(b.nbr_block_nl(), 8);
  const double c1 = std::pow(std::cos(Pi / 8), 2), c2 = 0.5, c3 = std::pow(std::cos(3 * Pi / 8), 2);
  const double s1 = std::pow(std::sin(Pi / 8), 2), s3 = std::pow(std::sin(3 * Pi / 8), 2);
  const double first[8] = {1, 1, 1, 1, 1, c1, c2, c3};
  const double inner[8] = {0, s1, c2, s3, 1, c1, c2, c3};
  const double last[8] = {0, s1, c2, s3, 1, 1, 1, 1};
  for (int k = 0; k < 8; k++) {
    EXPECT_NEAR(b.get_weight(k, 0, 4), first[k], 1e-7) << k;
    EXPECT_NEAR(b.get_weight(k, 1, 4), inner[k], 1e-7) << k;
    EXPECT_NEAR(b.get_weight(k, 3, 4), last[k], 1e-7) << k;
    EXPECT_EQ(b.get_weight(k, 0, 1), 1.f);
  }
}

TEST(Block2D, OverlappingBlocksRecombineIntoTheImage) {
  // Both weighting moments, even sizes that are and are not multiples of
  // half a block, and a tiling with a single block along one axis.
  struct Case { int nl, nc, block; };
  for (Case c : {Case{64, 64, 16}, Case{37, 50, 8}, Case{100, 72, 32}, Case{16, 40, 16}}) {
    for (int weight_first : {0, 1}) {
      Block2D b = tiling(c.nl, c.nc, c.block, 1, weight_first);
      to_array<float, false> ima = random_image(c.nl, c.nc, c.nl + weight_first);
      to_array<float, false> rebuilt(c.nl, c.nc), block(b.block_size(), b.block_size());
      for (int bi = 0; bi < b.nbr_block_nl(); bi++)
        for (int bj = 0; bj < b.nbr_block_nc(); bj++) {
          b.get_block_ima(bi, bj, ima, block);
          b.add_block_ima(bi, bj, rebuilt, block);
        }
      for (int k = 0; k < ima.n_elem(); k++)
        ASSERT_NEAR(rebuilt(k), ima(k), 1e-5) << c.nl << "x" << c.nc << " wf " << weight_first << " at " << k;
    }
  }
}

TEST(Block2D, VerboseAllocPrintsTheTiling) {
  Block2D b;
  b.Verbose = 1;
  b.BlockOverlap = 1;
  testing::internal::CaptureStdout();
  b.alloc(64, 64, 16);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "\nima size = (64,64), BlockSize = 16\nNbr Blocks = ( 8, 8)\nBlock Overlap: size = 8 \n");
}

TEST(Block2D, NegativeBlockSizeIsRefused) {
  Block2D b;
  b.BlockOverlap = 1;
  EXPECT_EXIT_STATUS(b.alloc(100, 100, -1), 255, "block size must not be negative");
}
