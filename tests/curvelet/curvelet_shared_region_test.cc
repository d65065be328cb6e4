// The curvelet runs the blocks of all its detail scales in one parallel
// region. Its transform must store what each scale's own ridgelet makes of
// the a trous band, and its reconstruction must give the bits of the smooth
// band plus the ridgelet reconstructions added scale by scale, whatever the
// thread count, the loop entry, the image shape and the share of zero
// blocks, with or without the zero marks of the storing transform.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstdlib>
#include <limits>
#include <string>

#include "array/cpu_dispatch.h"
#include "curvelet/curvelet.h"
#include "multires/atrous_2d_wt.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

// Sizes that are and are not multiples of the blocks, square or not, with
// one to four detail scales (blocks of 16, 32, 32 and 64 pixels).
struct Shape {
  int nl, nc, scales;
};
const Shape kShapes[] = {{64, 64, 2}, {72, 40, 3}, {50, 93, 4}, {130, 70, 5}};

void allocated(Curvelet& cur, const Shape& shape) {
  cur.NbrScale2D = shape.scales;
  cur.OddBlockSize = False;
  cur.alloc(shape.nl, shape.nc, 16, False);
}

// The smooth band, then each ridgelet reconstruction from the coarsest
// scale down, as a scale-by-scale reconstruction adds them.
Image scale_by_scale_recons(Curvelet& cur, Image* bands) {
  const int last = cur.NbrScale2D - 1;
  Image out = bands[last], rec;
  for (int s = last - 1; s >= 0; s--) {
    cur.get_ridgelet(s)->recons(bands[s], rec);
    out += rec;
  }
  return out;
}

void zero_block(const Ridgelet& R, Image& row, int bj) {
  for (int j = 0; j < R.NbrScale1D; j++)
    for (int i = 0; i < row.nl(); i++)
      for (int k = 0; k < R.rid_size(j); k++) row(i, R.jpos(j, bj) + k) = 0.f;
}

// A thresholding that leaves few blocks: with `keep` 0 none, else whole
// rows of blocks go and, in the rows kept, all but every keep-th block;
// the blocks of rows of one parity (odd_rows 0 or 1, -1 for none) go too.
Curvelet::RowVisit sparse_visit(Curvelet& cur, int keep, int odd_rows = -1) {
  return [&cur, keep, odd_rows](int s, int bi, Image& row) {
    const Ridgelet& R = *cur.get_ridgelet(s);
    const bool row_goes = keep == 0 || bi % 3 == 1 || bi % 2 == odd_rows;
    for (int bj = 0; bj < R.rid_block_nc(); bj++)
      if (row_goes || (bi + 2 * bj + s) % keep != 0) zero_block(R, row, bj);
  };
}

// Sets QZ_PLAIN_LOOPS and makes the loop choice again; both come back on
// destruction.
class LoopEntry {
 public:
  explicit LoopEntry(bool plain) {
    const char* old = std::getenv("QZ_PLAIN_LOOPS");
    if (old != nullptr) saved_ = old;
    had_ = old != nullptr;
    if (plain) setenv("QZ_PLAIN_LOOPS", "1", 1);
    else unsetenv("QZ_PLAIN_LOOPS");
    cpu_dispatch_reread();
  }
  ~LoopEntry() {
    if (had_) setenv("QZ_PLAIN_LOOPS", saved_.c_str(), 1);
    else unsetenv("QZ_PLAIN_LOOPS");
    cpu_dispatch_reread();
  }

 private:
  bool had_ = false;
  std::string saved_;
};

class CurveletSharedRegion : public ::testing::Test {
 protected:
  void TearDown() override { omp_set_num_threads(saved_threads_); }
  const int saved_threads_ = omp_get_max_threads();
};

}  // namespace

TEST_F(CurveletSharedRegion, SameBitsAsTheScalesOneByOne) {
  for (const Shape& shape : kShapes) {
    const Image ima = random_image(shape.nl, shape.nc, 40u + shape.scales, -50.f, 50.f);
    ATROUS_2D_WT atrous;
    atrous.Border = I_MIRROR;
    Image* split = nullptr;
    atrous.alloc(split, shape.nl, shape.nc, shape.scales);
    atrous.transform(ima, split, shape.scales);
    Image first_recons[3];
    for (int threads : {1, 3, 8})
      for (bool plain : {false, true}) {
        SCOPED_TRACE(testing::Message() << shape.nl << " x " << shape.nc << ", " << shape.scales
                                        << " scales, " << threads << " threads, plain " << plain);
        omp_set_num_threads(threads);
        LoopEntry entry(plain);
        Curvelet cur;
        allocated(cur, shape);
        Image input = ima, ridgelet_image;
        Image* bands = nullptr;
        cur.transform(input, bands);
        for (int s = 0; s < shape.scales - 1; s++) {
          cur.get_ridgelet(s)->transform(split[s], ridgelet_image);
          EXPECT_TRUE(qz_test::same_bits(bands[s], ridgelet_image)) << "scale " << s;
        }
        EXPECT_TRUE(qz_test::same_bits(bands[shape.scales - 1], split[shape.scales - 1]));

        // keep 0: every block zero, the smooth band alone with a few -0
        // pixels, which the sum turns into +0 as adding zero scales does;
        // keep 1: overlapping blocks everywhere but in every third row.
        for (int keep : {0, 1, 3}) {
          Image out, marked_out;
          cur.transform(input, bands, sparse_visit(cur, keep), true);
          Image& smooth = bands[shape.scales - 1];
          for (int k = 0; k < smooth.n_elem(); k += 7) smooth(k) = -0.f;
          cur.recons_as_transformed(bands, marked_out);
          cur.recons(bands, out);
          const Image expected = scale_by_scale_recons(cur, bands);
          EXPECT_TRUE(qz_test::same_bits(marked_out, expected)) << "keep " << keep;
          EXPECT_TRUE(qz_test::same_bits(out, expected)) << "keep " << keep;
          Image& first = first_recons[keep == 0 ? 0 : keep == 1 ? 1 : 2];
          if (first.n_elem() == 0) first = out;
          EXPECT_TRUE(qz_test::same_bits(out, first)) << "keep " << keep;
        }
        delete[] bands;
      }
    atrous.free(split, shape.scales);
  }
}

// The zero marks belong to the bands the last transform stored: bands stored
// before, zero elsewhere, are read again.
TEST_F(CurveletSharedRegion, MarksOfOtherBandsAreNotTrusted) {
  omp_set_num_threads(3);
  const Shape shape = {96, 80, 4};
  Curvelet cur;
  allocated(cur, shape);
  Image ima = random_image(shape.nl, shape.nc, 47u, -50.f, 50.f), out;
  Image *even = nullptr, *odd = nullptr;
  cur.transform(ima, even, sparse_visit(cur, 3, 1), true);
  cur.transform(ima, odd, sparse_visit(cur, 3, 0), true);
  cur.recons_as_transformed(even, out);
  EXPECT_TRUE(qz_test::same_bits(out, scale_by_scale_recons(cur, even)));
  // A transform that does not store leaves no marks: those of its rows
  // would not be those of the bands.
  cur.transform(ima, even, sparse_visit(cur, 3, 1), true);
  cur.transform(ima, even, sparse_visit(cur, 2, 1), false);
  cur.recons_as_transformed(even, out);
  EXPECT_TRUE(qz_test::same_bits(out, scale_by_scale_recons(cur, even)));
  // Nor does a new allocation: blocks of half the side give ridgelet images
  // of the same size, but four times the blocks (one detail scale, for the
  // others' images to keep their sizes too).
  cur.NbrScale2D = 2;
  cur.alloc(shape.nl, shape.nc, 32, False);
  cur.transform(ima, even, sparse_visit(cur, 3, 1), true);
  cur.alloc(shape.nl, shape.nc, 16, False);
  ASSERT_EQ(even[0].nl(), cur.get_ridgelet(0)->rid_nl());
  ASSERT_EQ(even[0].nc(), cur.get_ridgelet(0)->rid_nc());
  cur.recons_as_transformed(even, out);
  EXPECT_TRUE(qz_test::same_bits(out, scale_by_scale_recons(cur, even)));
  delete[] even;
  delete[] odd;
}

// A transform for a reconstruction stores no row, and its reconstruction
// adds the blocks it made: whatever the ridgelet images hold, here NaN, is
// never read. After a new allocation with blocks of another side, the
// blocks are made for the new tiling.
TEST_F(CurveletSharedRegion, TransformForReconsReadsNoRidgeletImage) {
  for (int threads : {1, 8}) {
    omp_set_num_threads(threads);
    const Shape shape = {80, 112, 4};
    Curvelet cur;
    allocated(cur, shape);
    Image ima = random_image(shape.nl, shape.nc, 48u, -50.f, 50.f), out;
    Image *stored = nullptr, *for_recons = nullptr;
    for (int keep : {0, 1, 3}) {
      cur.transform(ima, stored, sparse_visit(cur, keep), true);
      const Image expected = scale_by_scale_recons(cur, stored);
      cur.transform(ima, for_recons);
      for (int s = 0; s < shape.scales - 1; s++)
        for_recons[s].init(std::numeric_limits<float>::quiet_NaN());
      cur.transform_for_recons(ima, for_recons, sparse_visit(cur, keep));
      cur.recons_as_transformed(for_recons, out);
      EXPECT_TRUE(qz_test::same_bits(out, expected)) << threads << " threads, keep " << keep;
    }
    cur.alloc(shape.nl, shape.nc, 32, False);
    delete[] stored;
    delete[] for_recons;
    stored = for_recons = nullptr;
    cur.transform(ima, stored, sparse_visit(cur, 1), true);
    const Image expected = scale_by_scale_recons(cur, stored);
    cur.transform_for_recons(ima, for_recons, sparse_visit(cur, 1));
    cur.recons_as_transformed(for_recons, out);
    EXPECT_TRUE(qz_test::same_bits(out, expected)) << threads << " threads, blocks of 32";
    delete[] stored;
    delete[] for_recons;
  }
}
