// Local block DCT: sizes of the transform image, block coefficients against
// a direct 2D DCT sum, round trips with and without overlap, maxima outside
// the zero frequencies, the fused maximum and threshold, results that do not
// depend on the number of threads, the inverse's order of sums against a
// block-by-block reference, and the refused sizes.
#include "numerics/local_dct2d.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "array/cpu_dispatch.h"
#include "array/scalar_helpers.h"
#include "numerics/dct_lanes.h"
#include "support/test_images.h"
#include "support/death.h"
#include "support/tolerance.h"

TEST(LocalDct2D, SizesOfTheTransformImage) {
  LOCAL_DCT2D dct;
  EXPECT_EQ(dct.nl() + dct.nc() + dct.block_size(), 0);
  EXPECT_EQ(dct.norm(), 1.f);
  // Block sizes out of range, or the whole side, give one block: a global DCT.
  to_array<float, false> ima = random_image(256, 256, 3, 0.f, 100.f);
  for (int size : {0, -4, 300, 256}) {
    dct.alloc(256, 256, size, True, False);
    EXPECT_EQ(dct.block_size(), 256);
    EXPECT_EQ(dct.nl(), 256);
    EXPECT_EQ(dct.B2D.nbr_block(), 1);
    EXPECT_EQ(dct.B2D.BlockOverlap, 0);
    EXPECT_EQ(dct.Overlap, True);  // kept as requested
  }
  dct.transform(ima);
  EXPECT_NEAR(dct(0, 0), 512. * ima.mean(), 1e-4 * 512. * ima.mean());
  struct Case { Bool overlap; int size, blocks; };
  for (Case c : {Case{True, 512, 256}, Case{False, 256, 64}}) {
    dct.alloc(256, 256, 32, c.overlap, False);
    EXPECT_EQ(dct.nl(), c.size);
    EXPECT_EQ(dct.nc(), c.size);
    EXPECT_EQ(dct.B2D.nbr_block(), c.blocks);
  }
  dct.alloc_from_trans(512, 512, 32, True, False);
  EXPECT_EQ(dct.Nl, 256);
  EXPECT_EQ(dct.Nc, 256);
}

TEST(LocalDct2D, BlocksHoldTheDctOfTheirPixels) {
  const double Pi = 3.14159265358979323846;
  to_array<float, false> ima = random_image(64, 96, 5, 0.f, 100.f), trans;
  LOCAL_DCT2D dct;
  dct.alloc(64, 96, 16, True, False);
  dct.transform(ima);
  // Block (1, 2) of the overlapping tiling starts at (8, 16) and sits at
  // (16, 32) of the transform image.
  for (int u = 0; u < 16; u += 3)
    for (int v = 0; v < 16; v += 5) {
      double sum = 0.;
      for (int i = 0; i < 16; i++)
        for (int j = 0; j < 16; j++)
          sum += ima(8 + i, 16 + j) * std::cos(Pi * u * (i + 0.5) / 16) * std::cos(Pi * v * (j + 0.5) / 16);
      EXPECT_NEAR(dct(16 + u, 32 + v), sum / 8, 2e-3) << u << " " << v;
    }
  // The free function gives the same transform image.
  im_blockdct(ima, trans, 16, True, False);
  ASSERT_EQ(trans.nl(), dct.nl());
  ASSERT_EQ(trans.nc(), dct.nc());
  for (int k = 0; k < trans.n_elem(); k++) ASSERT_EQ(trans(k), dct.DCTIma(k));
  EXPECT_EQ(dct.max(), trans.max());
}

TEST(LocalDct2D, ReconstructionReturnsTheImage) {
  struct Case { int nl, nc, block; Bool overlap; };
  for (Case c : {Case{128, 128, 32, True}, Case{128, 128, 32, False}, Case{100, 72, 16, True},
                 Case{100, 72, 16, False}, Case{64, 64, 64, True}, Case{6, 10, 2, True}})
    for (Bool weight_first : {False, True}) {
      to_array<float, false> ima = random_image(c.nl, c.nc, c.nl + weight_first, 0.f, 100.f), back;
      LOCAL_DCT2D dct;
      dct.alloc(c.nl, c.nc, c.block, c.overlap, weight_first);
      dct.transform(ima);
      dct.recons(back);  // an empty image is resized
      ASSERT_EQ(back.nl(), c.nl);
      ASSERT_EQ(back.nc(), c.nc);
      for (int k = 0; k < ima.n_elem(); k++)
        ASSERT_NEAR(back(k), ima(k), 1e-3) << c.nl << "x" << c.nc << " ov " << c.overlap
                                           << " wf " << weight_first;
      // The free inverse from the transform size alone agrees (it cannot
      // know that a single block cleared the overlap).
      if (c.nl % c.block == 0 && c.nc % c.block == 0 && c.block < c.nl) {
        to_array<float, false> free_back;
        im_invblockdct(dct.DCTIma, free_back, c.block, c.overlap, weight_first);
        for (int k = 0; k < ima.n_elem(); k++) ASSERT_EQ(free_back(k), back(k));
      }
    }
}

TEST(LocalDct2D, MaximaOutsideTheZeroFrequencies) {
  to_array<float, false> flat(64, 64), spot(64, 64);
  flat.init(7.f);
  LOCAL_DCT2D dct;
  dct.alloc(64, 64, 16, True, False);
  dct.transform(flat);
  EXPECT_NEAR(dct.maxfabs_without_zerofreq(), 0.f, 1e-4);
  EXPECT_NEAR(dct.max(), 2 * 16 * 7.f, 1e-3);

  spot(20, 37) = -50.f;
  dct.transform(spot);
  float expected = 0.f, expected_max = 0.f;
  for (int i = 0; i < dct.nl(); i++)
    for (int j = 0; j < dct.nc(); j++) {
      if (i % 16 == 0 && j % 16 == 0) continue;
      if (std::fabs(dct(i, j)) > std::fabs(expected)) expected = dct(i, j);
      expected_max = std::max(expected_max, dct(i, j));
    }
  EXPECT_NE(expected, 0.f);
  EXPECT_EQ(dct.maxfabs_without_zerofreq(), expected);
  EXPECT_EQ(dct.max_without_zerofreq(), expected_max);
}

TEST(LocalDct2D, SetDctReplacesTheCoefficients) {
  LOCAL_DCT2D dct;
  dct.alloc(32, 32, 8, False, False);
  to_array<float, false> trans(32, 32), back;
  trans(8, 8) = 4.f;  // zero frequency of block (1, 1)
  dct.set_dct(trans);
  dct.recons(back);
  // A block zero frequency c is the constant c / (2B) over its block.
  EXPECT_NEAR(back(10, 12), 0.25f, 1e-6);
  EXPECT_NEAR(back(0, 0), 0.f, 1e-6);
}

TEST(LocalDct2D, RefusedSizesEndTheProcess) {
  LOCAL_DCT2D dct;
  to_array<float, false> ima(64, 64), wrong(48, 64), out;
  EXPECT_EXIT_STATUS(dct.alloc(256, 256, 24, False, False), 255, "block size must be power of two");
  EXPECT_EXIT_STATUS(dct.alloc(0, 256, 32, False, False), 255, "zero dimension");
  EXPECT_EXIT_STATUS(dct.alloc(1, 8, 0, True, False), 255, "at least 2");  // one-pixel blocks
  EXPECT_EXIT_STATUS(dct.transform(ima), 255, "not allocated");
  EXPECT_EXIT_STATUS(dct.recons(ima), 255, "not allocated");
  dct.alloc(32, 32, 8, True, False);
  EXPECT_EXIT_STATUS(dct.transform(ima), 255,
                     "Bad image size in LOCAL_DCT2D::transform(.|\n)*Nl = 64 Nc = 64(.|\n)*Nl = 32 Nc = 32");
  EXPECT_EXIT_STATUS(dct.set_dct(wrong), 255, "LOCAL_DCT2D::set_dct");
  EXPECT_EXIT_STATUS(im_invblockdct(wrong, out, 8, 32, 32, True, False), 255, "Error in im_invblockdct");
  dct.DCTIma.alloc(8, 8);  // replaced behind the object's back
  EXPECT_EXIT_STATUS(dct.recons(out), 255, "Error in im_invblockdct: Nlt = 64 Nct = 64");
  Block2D image_tiling, trans_tiling;
  image_tiling.alloc(32, 32, 8);
  trans_tiling.alloc(32, 32, 16);
  EXPECT_EXIT_STATUS(im_blockdct(ima, out, image_tiling, trans_tiling), 255, "different block sizes");
}

TEST(LocalDct2D, FusedMaximumAndThresholdMatchTheSeparateSteps) {
  const to_array<float, false> ima = random_image(96, 80, 12, -50.f, 50.f);
  struct Case { Bool soft; float level, radius; };
  for (Case c : {Case{False, 8.f, 0.f}, Case{True, 4.f, 0.f}, Case{False, 3.f, 5.5f}})
    for (Bool weight_first : {False, True}) {
      LOCAL_DCT2D fused, separate;
      fused.alloc(96, 80, 16, True, weight_first);
      separate.alloc(96, 80, 16, True, weight_first);
      to_array<float, false> in = ima, back, expected;
      float max_fabs = -1.f;
      fused.transform(in, max_fabs);
      EXPECT_EQ(max_fabs, fused.maxfabs_without_zerofreq());
      EXPECT_NE(max_fabs, 0.f);

      // The rule applied by hand, block position (i, j) from the tiling.
      to_array<float, false> trans = fused.DCTIma;
      for (int i = 0; i < trans.nl(); i++)
        for (int j = 0; j < trans.nc(); j++) {
          float& coef = trans(i, j);
          coef = c.soft ? soft_threshold(coef, c.level) : hard_threshold(coef, c.level);
          const int u = i % 16, v = j % 16;
          if (std::sqrt(float(u * u) + float(v * v)) < c.radius) coef = 0.f;
        }
      separate.set_dct(trans);
      separate.recons(expected);
      fused.threshold_recons(back, c.level, c.soft, c.radius);
      EXPECT_TRUE(qz_test::same_bits(fused.DCTIma, trans));
      EXPECT_TRUE(qz_test::same_bits(back, expected));
    }
}

TEST(LocalDct2D, ResultsDoNotDependOnTheNumberOfThreads) {
  // Awkward sides: the last blocks reach past both edges, and the block
  // count per axis is odd.
  const to_array<float, false> ima = random_image(300, 262, 13, 0.f, 255.f);
  const int saved = omp_get_max_threads();
  for (Bool overlap : {True, False})
    for (Bool weight_first : {False, True}) {
      std::vector<to_array<float, false>> runs[2];
      float maxima[2];
      for (int run = 0; run < 2; run++) {
        omp_set_num_threads(run == 0 ? 1 : 8);
        LOCAL_DCT2D dct;
        dct.alloc(300, 262, 32, overlap, weight_first);
        to_array<float, false> in = ima, back, thresholded;
        dct.transform(in, maxima[run]);
        runs[run].push_back(dct.DCTIma);
        dct.recons(back);
        runs[run].push_back(back);
        dct.threshold_recons(thresholded, 20.f, True, 2.f);
        runs[run].push_back(thresholded);
      }
      EXPECT_EQ(maxima[0], maxima[1]);
      for (size_t k = 0; k < runs[0].size(); k++)
        EXPECT_TRUE(qz_test::same_bits(runs[0][k], runs[1][k]))
            << "overlap " << overlap << " weight first " << weight_first << " output " << k;
      EXPECT_LT(qz_test::max_abs_difference(runs[1][1], ima), 2e-3);
    }
  omp_set_num_threads(saved);
}

// The inverse adds the blocks into the image it was given: whatever that
// image held before must be gone, with one thread or many.
TEST(LocalDct2D, ReconstructionOverwritesWhatTheImageHeld) {
  const to_array<float, false> ima = random_image(300, 262, 21, 0.f, 255.f);
  const int saved = omp_get_max_threads();
  for (int threads : {1, 8})
    for (Bool overlap : {True, False}) {
      omp_set_num_threads(threads);
      LOCAL_DCT2D dct;
      dct.alloc(300, 262, 16, overlap, False);
      to_array<float, false> in = ima, fresh, used = random_image(300, 262, 22, -1e6f, 1e6f);
      dct.transform(in);
      dct.recons(fresh);
      dct.recons(used);
      EXPECT_TRUE(qz_test::same_bits(fresh, used)) << threads << " threads, overlap " << overlap;
      EXPECT_LT(qz_test::max_abs_difference(used, ima), 2e-3);
    }
  omp_set_num_threads(saved);
}

// The projection in one region against its two steps, image and kept
// coefficients alike, for every tiling, both rules, with and without a
// support radius, on one thread and many.
TEST(LocalDct2D, OneRegionProjectionMatchesTheTwoSteps) {
  const to_array<float, false> ima = random_image(300, 262, 31, 0.f, 255.f);
  const int saved = omp_get_max_threads();
  for (int threads : {1, 8})
    for (Bool overlap : {True, False})
      for (Bool weight_first : {False, True})
        for (Bool soft : {False, True})
          for (float radius : {0.f, 3.f}) {
            omp_set_num_threads(threads);
            LOCAL_DCT2D steps, fused;
            steps.alloc(300, 262, 16, overlap, weight_first);
            fused.alloc(300, 262, 16, overlap, weight_first);
            to_array<float, false> by_steps = ima, at_once = ima;
            steps.transform(by_steps);
            steps.threshold_recons(by_steps, 40.f, soft, radius);
            fused.transform_threshold_recons(at_once, 40.f, soft, radius);
            EXPECT_TRUE(qz_test::same_bits(by_steps, at_once))
                << threads << " threads, overlap " << overlap << " weight first " << weight_first
                << " soft " << soft << " radius " << radius;
            EXPECT_TRUE(qz_test::same_bits(steps.DCTIma, fused.DCTIma));
            EXPECT_GT(qz_test::max_abs_difference(at_once, ima), 1.f);  // something was removed
          }
  omp_set_num_threads(saved);
}

namespace {

// Each block of the transform back through the DCT engine one line, then
// one column, at a time, scaled, and added into a zeroed image by the
// tiling, one round of blocks that do not touch after another: even block
// lines before odd ones and, within them, even block columns before odd
// ones (or the other way round with odd_first, to show the order counts).
to_array<float, false> blocks_added_in_rounds(const LOCAL_DCT2D& dct, bool odd_first = false) {
  const int n = dct.block_size();
  const Block2D& tiling = dct.B2D;
  const DctLanes& plan = dct_lanes(n);
  to_array<float, false> out(dct.Nl, dct.Nc), block(n, n);
  std::vector<float> vec(n), lane(1);
  const int parities = tiling.Overlap > 0 ? 2 : 1;
  for (int round = 0; round < parities * parities; round++) {
    const int ri = odd_first ? parities - 1 - round / parities : round / parities;
    const int rj = odd_first ? parities - 1 - round % parities : round % parities;
    for (int bi = ri; bi < tiling.nbr_block_nl(); bi += parities)
      for (int bj = rj; bj < tiling.nbr_block_nc(); bj += parities) {
        for (int k = 0; k < n; k++) {
          for (int l = 0; l < n; l++) vec[l] = dct(bi * n + k, bj * n + l);
          plan.inverse(vec.data(), 1, lane.data());
          for (int l = 0; l < n; l++) block(k, l) = vec[l];
        }
        for (int l = 0; l < n; l++) {
          for (int k = 0; k < n; k++) vec[k] = block(k, l);
          plan.inverse(vec.data(), 1, lane.data());
          for (int k = 0; k < n; k++) block(k, l) = vec[k] * (2.f / n);
        }
        tiling.add_block_ima(bi, bj, out, block);
      }
  }
  return out;
}

// Sends the dispatched loops to their plain entries, or not, until destroyed.
class PlainLoops {
 public:
  explicit PlainLoops(bool plain) {
    const char* old = std::getenv("QZ_PLAIN_LOOPS");
    if (old != nullptr) old_ = old;
    had_ = old != nullptr;
    set(plain ? "1" : nullptr);
  }
  ~PlainLoops() { set(had_ ? old_.c_str() : nullptr); }

 private:
  static void set(const char* value) {
    if (value != nullptr) setenv("QZ_PLAIN_LOOPS", value, 1);
    else unsetenv("QZ_PLAIN_LOOPS");
    cpu_dispatch_reread();
  }
  bool had_ = false;
  std::string old_;
};

}  // namespace

// The inverse, alone and after the forward transform in one region, against
// the blocks added in rounds: through both loop entries and several thread
// counts, for blocks that reach past the image or not, with and without
// overlap and weights, few blocks (fewer than threads) and many.
TEST(LocalDct2D, InverseSumsTheBlocksInTheOrderOfTheRounds) {
  struct Case { int nl, nc, block; Bool overlap; };
  const Case cases[] = {
      {300, 262, 16, True},  {300, 262, 16, False}, {256, 192, 32, True}, {200, 136, 64, True},
      {192, 128, 128, True},  // six blocks
      {256, 384, 128, False},  // six blocks
      {37, 45, 8, True},  // too small to share among threads
  };
  const int saved = omp_get_max_threads();
  for (const Case& c : cases)
    for (Bool weight_first : {False, True}) {
      const to_array<float, false> ima = random_image(c.nl, c.nc, c.nl + c.block, 0.f, 255.f);
      LOCAL_DCT2D dct;
      dct.alloc(c.nl, c.nc, c.block, c.overlap, weight_first);
      to_array<float, false> projected = ima;
      dct.transform_threshold_recons(projected, 30.f, False, 1.5f);
      const to_array<float, false> kept = dct.DCTIma;
      const to_array<float, false> expected_projection = blocks_added_in_rounds(dct);
      to_array<float, false> in = ima;
      dct.transform(in);
      const to_array<float, false> expected = blocks_added_in_rounds(dct);
      for (bool plain : {true, false}) {
        PlainLoops entries(plain);
        for (int threads : {1, 3, 8}) {
          omp_set_num_threads(threads);
          const std::string where = std::to_string(c.nl) + "x" + std::to_string(c.nc) + " block " +
                                    std::to_string(c.block) + " overlap " + std::to_string(c.overlap) +
                                    " weight first " + std::to_string(weight_first) + " plain " +
                                    std::to_string(plain) + " threads " + std::to_string(threads);
          LOCAL_DCT2D fresh;
          fresh.alloc(c.nl, c.nc, c.block, c.overlap, weight_first);
          fresh.set_dct(dct.DCTIma);
          to_array<float, false> back = random_image(c.nl, c.nc, 1, -1e6f, 1e6f);
          fresh.recons(back);
          EXPECT_TRUE(qz_test::same_bits(back, expected)) << where;
          to_array<float, false> at_once = ima;
          fresh.transform_threshold_recons(at_once, 30.f, False, 1.5f);
          EXPECT_TRUE(qz_test::same_bits(fresh.DCTIma, kept)) << where;
          EXPECT_TRUE(qz_test::same_bits(at_once, expected_projection)) << where;
        }
      }
      omp_set_num_threads(saved);
    }
}

// The reference above can tell the orders apart: with overlap, adding the
// odd blocks first changes some pixels.
TEST(LocalDct2D, TheOrderOfTheRoundsChangesTheBits) {
  to_array<float, false> ima = random_image(300, 262, 5, 0.f, 255.f);
  LOCAL_DCT2D dct;
  dct.alloc(300, 262, 16, True, False);
  dct.transform(ima);
  EXPECT_FALSE(qz_test::same_bits(blocks_added_in_rounds(dct), blocks_added_in_rounds(dct, true)));
}

// An object used for other sizes, tilings and support radii gives what a
// new object gives, and so does a copy: nothing it keeps between calls is
// stale.
TEST(LocalDct2D, ReusedObjectMatchesAFreshOne) {
  struct Step { int nl, nc, block; Bool overlap; float radius; };
  const Step steps[] = {{300, 262, 16, True, 3.f}, {300, 262, 16, True, 0.f},
                        {300, 262, 16, True, 5.5f}, {130, 200, 32, False, 5.5f},
                        {300, 262, 16, True, 3.f}, {128, 128, 32, True, 5.5f}};
  const int saved = omp_get_max_threads();
  omp_set_num_threads(4);
  LOCAL_DCT2D reused;
  for (const Step& s : steps) {
    const to_array<float, false> ima = random_image(s.nl, s.nc, s.block, 0.f, 255.f);
    reused.alloc(s.nl, s.nc, s.block, s.overlap, False);
    LOCAL_DCT2D fresh;
    fresh.alloc(s.nl, s.nc, s.block, s.overlap, False);
    to_array<float, false> a = ima, b = ima;
    reused.transform_threshold_recons(a, 20.f, True, s.radius);
    fresh.transform_threshold_recons(b, 20.f, True, s.radius);
    EXPECT_TRUE(qz_test::same_bits(a, b)) << s.nl << "x" << s.nc << " radius " << s.radius;
    // A copy keeps the tilings and coefficients, not the work storage.
    LOCAL_DCT2D copy = reused;
    to_array<float, false> from_copy;
    copy.recons(from_copy);
    reused.recons(a);
    EXPECT_TRUE(qz_test::same_bits(from_copy, a));
  }
  omp_set_num_threads(saved);
}
