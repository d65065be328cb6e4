// The zero marks of a row of blocks, which let a reconstruction skip the
// blocks without work: a block holds work when one of its coefficients, in
// any 1D scale band, has a nonzero square (as a nonzero block energy would
// tell), and nothing else in the row counts. And the reconstruction's
// clearing of its image, which the team shares.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <limits>
#include <vector>

#include "radon/ridgelet.h"
#include "support/test_images.h"
#include "support/tolerance.h"

TEST(RidgeletBlockMarks, WorkIsANonzeroSquareInTheBlock) {
  Ridgelet rid;
  rid.BlockOverlap = True;
  rid.alloc(64, 48, 16);
  ASSERT_GE(rid.NbrScale1D, 2);
  const struct {
    float value;
    bool work;
  } cases[] = {
      {0.f, false},     {-0.f, false},   {1e-23f, false},  // the square rounds to 0
      {-1e-30f, false}, {1e-20f, true},                    // a subnormal square
      {-2.f, true},     {std::numeric_limits<float>::quiet_NaN(), true},
      {std::numeric_limits<float>::infinity(), true},
  };
  to_array<float, false> row(rid.rid_one_block_nl(), rid.rid_nc());
  std::vector<unsigned char> marks(rid.rid_block_nc(), 7);
  int band_columns = 0;
  for (int s = 0; s < rid.NbrScale1D; s++) band_columns += rid.size_scale_nc(s);
  ASSERT_LT(band_columns, rid.rid_nc());
  for (const auto& c : cases)
    for (int s = 0; s < rid.NbrScale1D; s++) {
      row.init();
      // Columns past the scale bands belong to no block.
      row(0, rid.rid_nc() - 1) = 5.f;
      const int bj = 1 + s % (rid.rid_block_nc() - 1), line = (5 * s) % row.nl();
      row(line, rid.jpos(s, bj) + rid.rid_size(s) - 1) = c.value;
      rid.mark_block_row(row.buffer(), row.nc(), marks.data());
      for (int k = 0; k < rid.rid_block_nc(); k++)
        EXPECT_EQ(marks[k] != 0, c.work && k == bj)
            << "value " << c.value << " scale " << s << " block " << k;
    }
}

// A reconstruction clears its image: what the image held before, here NaN,
// leaves no trace, whatever the thread count.
TEST(RidgeletBlockRecons, ClearsTheImageFirst) {
  const int saved = omp_get_max_threads();
  for (int threads : {1, 3}) {
    omp_set_num_threads(threads);
    Ridgelet rid;
    rid.BlockOverlap = True;
    rid.alloc(40, 56, 16);
    to_array<float, false> ima = random_image(40, 56, 12u), trans, fresh, used(40, 56);
    rid.transform(ima, trans);
    rid.recons(trans, fresh);
    used.init(std::numeric_limits<float>::quiet_NaN());
    rid.recons(trans, used);
    EXPECT_TRUE(qz_test::same_bits(used, fresh)) << threads << " threads";
  }
  omp_set_num_threads(saved);
}
