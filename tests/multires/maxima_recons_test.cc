// Maxima reconstruction on a small transform with known maxima: counting
// and locating them, the maxima-only transform, the reset of an estimate,
// and the projection between maxima against its closed sinh form.
#include "multires/maxima_recons.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "multires/multiresol.h"
#include "support/capture.h"
#include "support/test_images.h"

namespace {

using Image = to_array<float, false>;

const int kNl = 6, kNc = 9, kScales = 4;

// Maxima on line 2 at columns 1, 4 and 7 and at (5, 4) on every scale, with
// the counts and position tables they give.
struct KnownMaxima {
  std::vector<Image> images;
  MaxCount line_count, col_count;
  std::vector<MaxPositions> line_pos, col_pos;
  KnownMaxima() : images(kScales - 1, Image(kNl, kNc)) {
    line_count.alloc(kScales - 1, kNl);
    col_count.alloc(kScales - 1, kNc);
    line_pos.assign((kScales - 1) * kNl, nullptr);
    col_pos.assign((kScales - 1) * kNc, nullptr);
    for (auto& ima : images) {
      ima(2, 1) = 3.f;
      ima(2, 4) = -1e-06f;  // small but outside the dead zone
      ima(2, 7) = 2.f;
      ima(5, 4) = 1.f;
      ima(0, 0) = 5e-08f;  // inside the dead zone
    }
  }
  ~KnownMaxima() {
    for (auto p : line_pos) delete p;
    for (auto p : col_pos) delete p;
  }
  void locate() {
    search_number_max(images.data(), line_count, col_count, kScales, False);
    init_coord_max(images.data(), kNl, kNc, line_count, line_pos.data(), col_count,
                   col_pos.data(), kScales);
  }
};

// Random target bands, returned also as separate band images.
std::vector<Image> fill_target(MultiResol& target, unsigned seed) {
  std::vector<Image> bands;
  for (int b = 0; b < target.nbr_band(); b++) {
    target.band(b) = random_image(kNl, kNc, seed + b);
    bands.push_back(target.band(b));
  }
  return bands;
}

// The solution of g'' = f^2 g with g(0) = d0 and g(n) = dn.
double sinh_fill(double d0, double dn, double f, int n, int t) {
  return (d0 * std::sinh(f * (n - t)) + dn * std::sinh(f * t)) / std::sinh(f * n);
}

TEST(MaximaCount, CountsListsAndRunningTotals) {
  KnownMaxima m;
  std::string quiet = qz_test::stdout_of([&] { m.locate(); });
  EXPECT_EQ(quiet, "");
  EXPECT_EQ(m.line_count(0, 2), 3);
  EXPECT_EQ(m.line_count(0, 0), 0);
  EXPECT_EQ(m.col_count(1, 4), 2);
  for (int s = 0; s < kScales - 1; s++) {
    const MaxPositions line = m.line_pos[s * kNl + 2], col = m.col_pos[s * kNc + 4];
    ASSERT_TRUE(line != nullptr && col != nullptr);
    EXPECT_EQ(std::vector<int>({(*line)(0), (*line)(1), (*line)(2)}), std::vector<int>({1, 4, 7}));
    EXPECT_EQ(std::vector<int>({(*col)(0), (*col)(1)}), std::vector<int>({2, 5}));
    EXPECT_EQ(m.line_pos[s * kNl + 0], nullptr);
  }
  MaxCount lines(kScales - 1, kNl), cols(kScales - 1, kNc);
  std::string out =
      qz_test::stdout_of([&] { search_number_max(kScales, m.images.data(), lines, cols); });
  EXPECT_NE(out.find("Number max at scale 0 on line : 4\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Number max at scale 2 on row  : 12\n"), std::string::npos) << out;

  // Under the marker rule a marked zero counts.
  for (auto& ima : m.images) ima.init(kNoMaxValue);
  m.images[1](3, 3) = 0.f;
  MaxCount marked_lines(kScales - 1, kNl), marked_cols(kScales - 1, kNc);
  qz_test::stdout_of([&] { search_max(m.images.data(), marked_lines, marked_cols, kScales); });
  EXPECT_EQ(marked_lines(1, 3) + marked_cols(1, 3), 2);
  EXPECT_EQ(marked_lines.total(), 1.);
}

TEST(MaximaPositions, ListsNeverOutgrowTheirCounts) {
  KnownMaxima m;
  m.line_count(0, 2) = 1;  // fewer than the image holds
  init_coord_max(m.images.data(), kNl, kNc, m.line_count, m.line_pos.data(), m.col_count,
                 m.col_pos.data(), kScales);
  ASSERT_EQ(m.line_pos[2]->nx(), 1);
  EXPECT_EQ((*m.line_pos[2])(0), 1);
}

TEST(OrthoProjection, MatchesTheSinhFormOnLinesAndColumns) {
  // Factor 1/2 for both bands of scale 0, 1/4 for scale 1.
  for (int band = 0; band < 4; band++) {
    const double f = band < 2 ? 0.5 : 0.25;
    MultiResol target(kNl, kNc, kScales, TO_DIADIC_MALLAT, "target");
    MultiResol estimate(kNl, kNc, kScales, TO_DIADIC_MALLAT, "estimate");
    const bool line = band % 2 == 0;
    const int x0 = 1, n = line ? 7 : 4;
    auto at = [&](MultiResol& mr, int t) -> float& {
      return line ? mr(band, 3, x0 + t) : mr(band, x0 + t, 3);
    };
    at(target, 0) = 2.f;
    at(target, n) = -1.f;
    at(estimate, 0) = 0.5f;  // d0 = 1.5
    Ortho_Proj_Operator(band, line ? 3 : -1, line ? -1 : 3, x0, x0 + n, target, estimate);
    for (int t = 0; t <= n; t++) {
      double expected = t == 0 ? 0.5 : t == n ? 0. : sinh_fill(1.5, -1., f, n, t);
      EXPECT_NEAR(at(estimate, t), expected, 1e-6) << band << " " << t;
    }
  }
}

TEST(MaximaReconstruction, InterpolationResetAndMaximaOnlyTransform) {
  KnownMaxima m;
  m.locate();
  MultiResol target(kNl, kNc, kScales, TO_DIADIC_MALLAT, "target");
  std::vector<Image> bands = fill_target(target, 10u);
  MultiResol e1(kNl, kNc, kScales, TO_DIADIC_MALLAT, "e1");
  MultiResol e2(kNl, kNc, kScales, TO_DIADIC_MALLAT, "e2");
  auto same_estimates = [&] {
    for (int b = 0; b < target.nbr_band(); b++)
      for (int k = 0; k < kNl * kNc; k++) ASSERT_EQ(e1.band(b)(k), e2.band(b)(k)) << b;
  };
  interpolate(m.line_count, m.line_pos.data(), m.col_count, m.col_pos.data(), target, e1);
  interpolate(kScales, m.line_count, m.line_pos.data(), m.col_count, m.col_pos.data(),
              bands.data(), e2);
  same_estimates();
  // Every second scale only, between successive maxima of a line (2: 1-4,
  // 4-7) or a column (4: 2-5); factor 1/8 at scale 2.
  EXPECT_NEAR(e1(0, 2, 2), sinh_fill(target(0, 2, 1), target(0, 2, 4), 0.5, 3, 1), 1e-5);
  EXPECT_NEAR(e1(0, 2, 6), sinh_fill(target(0, 2, 4), target(0, 2, 7), 0.5, 3, 2), 1e-5);
  EXPECT_NEAR(e1(1, 3, 4), sinh_fill(target(1, 2, 4), target(1, 5, 4), 0.5, 3, 1), 1e-5);
  EXPECT_NEAR(e1(4, 2, 2), sinh_fill(target(4, 2, 1), target(4, 2, 4), 0.125, 3, 1), 1e-5);
  // The maxima themselves, lines with one maximum and scale 1 are left.
  for (float v : {e1(0, 2, 4), e1(0, 5, 5), e1(2, 2, 2), e1(3, 3, 4)}) EXPECT_EQ(v, 0.f);

  // Reset: both forms, the band-image one filling the smooth (last) band.
  const int smooth = 2 * kScales - 2;
  MultiResol only(kNl, kNc, kScales, TO_DIADIC_MALLAT, "only");
  init_multiresol_out(kNl, kNc, kScales, m.line_count, m.line_pos.data(), m.col_count,
                      m.col_pos.data(), target, only);
  EXPECT_EQ(only(3, 5, 4), target(3, 5, 4));
  EXPECT_EQ(only(2, 5, 5), kNoMaxValue);
  EXPECT_EQ(only(smooth, 3, 3), target(smooth, 3, 3));
  for (int b = 0; b < target.nbr_band(); b++) {
    e1.band(b).init();
    e2.band(b).init();
  }
  init_max(kScales, kNl, kNc, m.line_count, m.line_pos.data(), m.col_count, m.col_pos.data(),
           target, e1);
  init_max(kScales, kNl, kNc, m.line_count, m.line_pos.data(), m.col_count, m.col_pos.data(),
           bands.data(), e2);
  init_last_scale(kScales, kNl, kNc, target, e1);
  init_last_scale(kScales, kNl, kNc, bands.data(), e2);
  same_estimates();
  for (int b = 0; b < target.nbr_band(); b++)
    for (int k = 0; k < kNl * kNc; k++)
      ASSERT_EQ(e1.band(b)(k), only.band(b)(k) == kNoMaxValue ? 0.f : target.band(b)(k));
}

}  // namespace
