// The rows of blocks a ridgelet transform shows its caller before storing
// them: every row once, with the coefficients the plain transform stores;
// what the visit changes is what is stored, and without storing the
// ridgelet image is left as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "curvelet/curvelet.h"
#include "radon/ridgelet.h"
#include "support/test_images.h"

namespace {

using Image = to_array<float, false>;

// A ridgelet over an image of several rows and columns of overlapping blocks.
void alloc_blocks(Ridgelet& rid, int side, int block) {
  rid.BlockOverlap = True;
  rid.alloc(side, side, block);
}

}  // namespace

TEST(RidgeletRowVisit, RowsAreThoseOfThePlainTransform) {
  Ridgelet rid;
  alloc_blocks(rid, 64, 16);
  Image ima = random_image(64, 64, 31u), plain, visited;
  rid.transform(ima, plain);
  // Rows are visited side by side: each keeps its own slots.
  std::vector<int> seen(rid.rid_block_nl(), 0);
  std::vector<double> difference(rid.rid_block_nl(), 0.);
  rid.transform(
      ima, visited,
      [&](int bi, Image& row) {
        seen[bi]++;
        for (int i = 0; i < row.nl(); i++)
          for (int s = 0; s < rid.NbrScale1D; s++)
            for (int j = rid.jpos(s); j < rid.jpos(s) + rid.size_scale_nc(s); j++)
              difference[bi] += std::fabs(row(i, j) - plain(bi * rid.rid_one_block_nl() + i, j));
      },
      true);
  for (int bi = 0; bi < rid.rid_block_nl(); bi++) {
    EXPECT_EQ(seen[bi], 1) << bi;
    EXPECT_EQ(difference[bi], 0.) << bi;
  }
}

TEST(RidgeletRowVisit, ChangesAreStoredAndNothingWithoutStore) {
  Ridgelet rid;
  alloc_blocks(rid, 64, 16);
  Image ima = random_image(64, 64, 32u), trans;
  // The coarsest 1D scale set to 7 in every row.
  const int last = rid.NbrScale1D - 1;
  auto mark = [&](int, Image& row) {
    for (int i = 0; i < row.nl(); i++)
      for (int j = rid.jpos(last); j < rid.jpos(last) + rid.size_scale_nc(last); j++)
        row(i, j) = 7.f;
  };
  rid.transform(ima, trans, mark, true);
  for (int i = 0; i < trans.nl(); i++) ASSERT_EQ(trans(i, rid.jpos(last)), 7.f) << i;
  EXPECT_NE(trans(0, rid.jpos(0)), 7.f);

  Image untouched(trans.nl(), trans.nc());
  for (int k = 0; k < untouched.n_elem(); k++) untouched(k) = -3.f;
  rid.transform(ima, untouched, mark, false);
  for (int k = 0; k < untouched.n_elem(); k++) ASSERT_EQ(untouched(k), -3.f) << k;
}

TEST(CurveletRowVisit, ShowsEveryScaleOfTheStoredBands) {
  Curvelet cur;
  cur.NbrScale2D = 3;
  cur.OddBlockSize = False;
  cur.alloc(64, 64, 16, False);
  Image ima = random_image(64, 64, 33u);
  Image* bands = nullptr;
  // One slot per scale and row of blocks: rows are visited side by side.
  constexpr int MaxRows = 64;
  std::vector<double> row_sum((cur.NbrScale2D - 1) * MaxRows, 0.);
  cur.transform(
      ima, bands,
      [&](int s, int bi, Image& row) {
        ASSERT_LT(bi, MaxRows);
        for (int k = 0; k < row.n_elem(); k++) row_sum[s * MaxRows + bi] += std::fabs(row(k));
      },
      true);
  for (int s = 0; s < cur.NbrScale2D - 1; s++) {
    double visited_sum = 0.;
    for (int bi = 0; bi < MaxRows; bi++) visited_sum += row_sum[s * MaxRows + bi];
    double stored_sum = 0.;
    for (int k = 0; k < bands[s].n_elem(); k++) stored_sum += std::fabs(bands[s](k));
    EXPECT_GT(stored_sum, 0.);
    EXPECT_NEAR(visited_sum, stored_sum, 1e-6 * stored_sum) << "scale " << s;
  }
  delete[] bands;
}
