// Maxima reconstruction: counting and locating maxima on a small transform
// with known maxima, the maxima-only transform, the reset of an estimate,
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

// Owns the maxima images, counts and position tables of one test.
struct Maxima {
  std::vector<Image> images;
  MaxCount line_count, col_count;
  std::vector<MaxPositions> line_pos, col_pos;
  Maxima() : images(kScales - 1, Image(kNl, kNc)) {
    line_count.alloc(kScales - 1, kNl);
    col_count.alloc(kScales - 1, kNc);
    line_pos.assign((kScales - 1) * kNl, nullptr);
    col_pos.assign((kScales - 1) * kNc, nullptr);
  }
  ~Maxima() {
    for (auto p : line_pos) delete p;
    for (auto p : col_pos) delete p;
  }
  void locate() {
    search_number_max(images.data(), line_count, col_count, kScales, False);
    init_coord_max(images.data(), kNl, kNc, line_count, line_pos.data(), col_count,
                   col_pos.data(), kScales);
  }
};

// Maxima on line 2 at columns 1, 4 and 7 of every scale, and at (5, 4).
void mark_known_maxima(Maxima& m) {
  for (auto& ima : m.images) {
    ima(2, 1) = 3.f;
    ima(2, 4) = -1e-06f;  // small but outside the dead zone
    ima(2, 7) = 2.f;
    ima(5, 4) = 1.f;
    ima(0, 0) = 5e-08f;  // inside the dead zone: no maximum
  }
}

TEST(MaximaCount, CountsLinesAndColumnsAndPrintsRunningTotals) {
  Maxima m;
  mark_known_maxima(m);
  std::string quiet = qz_test::stdout_of(
      [&] { search_number_max(m.images.data(), m.line_count, m.col_count, kScales, False); });
  EXPECT_EQ(quiet, "");
  EXPECT_EQ(m.line_count(0, 2), 3);
  EXPECT_EQ(m.line_count(0, 5), 1);
  EXPECT_EQ(m.line_count(0, 0), 0);
  EXPECT_EQ(m.col_count(1, 4), 2);
  EXPECT_EQ(m.col_count(2, 0), 0);

  MaxCount lines(kScales - 1, kNl), cols(kScales - 1, kNc);
  std::string out =
      qz_test::stdout_of([&] { search_number_max(kScales, m.images.data(), lines, cols); });
  // Four maxima per scale, totals carried over scales.
  EXPECT_NE(out.find("Number max at scale 0 on line : 4\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Number max at scale 2 on row  : 12\n"), std::string::npos) << out;
}

TEST(MaximaCount, MarkedValuesAreThoseAboveTheMarker) {
  Maxima m;
  for (auto& ima : m.images) ima.init(kNoMaxValue);
  m.images[1](3, 3) = 0.f;  // a marked zero is still a maximum
  qz_test::stdout_of([&] { search_max(m.images.data(), m.line_count, m.col_count, kScales); });
  EXPECT_EQ(m.line_count(1, 3), 1);
  EXPECT_EQ(m.col_count(1, 3), 1);
  EXPECT_EQ(m.line_count(0, 3), 0);
}

TEST(MaximaPositions, ListedInIncreasingOrder) {
  Maxima m;
  mark_known_maxima(m);
  m.locate();
  for (int s = 0; s < kScales - 1; s++) {
    const MaxPositions line = m.line_pos[s * kNl + 2];
    ASSERT_NE(line, nullptr);
    EXPECT_EQ((*line)(0), 1);
    EXPECT_EQ((*line)(1), 4);
    EXPECT_EQ((*line)(2), 7);
    const MaxPositions col = m.col_pos[s * kNc + 4];
    ASSERT_NE(col, nullptr);
    EXPECT_EQ((*col)(0), 2);
    EXPECT_EQ((*col)(1), 5);
    EXPECT_EQ(m.line_pos[s * kNl + 0], nullptr);
  }
}

// Random bands in the target, returned also as separate band images.
std::vector<Image> fill_target(MultiResol& target, unsigned seed) {
  std::vector<Image> bands;
  for (int b = 0; b < target.nbr_band(); b++) {
    target.band(b) = random_image(kNl, kNc, seed + b);
    bands.push_back(target.band(b));
  }
  return bands;
}

// Closed form of the projection: the solution of g'' = f^2 g with g(0) = d0
// and g(n) = dn.
double sinh_fill(double d0, double dn, double f, int n, int t) {
  return (d0 * std::sinh(f * (n - t)) + dn * std::sinh(f * t)) / std::sinh(f * n);
}

TEST(OrthoProjection, MatchesTheSinhFormOnLinesAndColumns) {
  struct Case {
    int band;
    double f;
  } cases[] = {{0, 0.5}, {1, 0.5}, {2, 0.25}, {3, 0.25}};
  for (const Case& c : cases) {
    MultiResol target(kNl, kNc, kScales, TO_DIADIC_MALLAT, "target");
    MultiResol estimate(kNl, kNc, kScales, TO_DIADIC_MALLAT, "estimate");
    const bool line = c.band % 2 == 0;
    const int x0 = 1, x1 = line ? 8 : 5, n = x1 - x0;
    float& t0 = line ? target(c.band, 3, x0) : target(c.band, x0, 3);
    float& tn = line ? target(c.band, 3, x1) : target(c.band, x1, 3);
    t0 = 2.f;
    tn = -1.f;
    (line ? estimate(c.band, 3, x0) : estimate(c.band, x0, 3)) = 0.5f;  // d0 = 1.5
    Ortho_Proj_Operator(c.band, line ? 3 : -1, line ? -1 : 3, x0, x1, target, estimate);
    for (int t = 0; t <= n; t++) {
      float v = line ? estimate(c.band, 3, x0 + t) : estimate(c.band, x0 + t, 3);
      double expected = t == 0 ? 0.5 : t == n ? 0. : sinh_fill(1.5, -1., c.f, n, t);
      EXPECT_NEAR(v, expected, 1e-6) << c.band << " " << t;
    }
  }
}

TEST(OrthoProjection, AgreeingEndsAndAdjacentMaximaChangeNothing) {
  MultiResol target(kNl, kNc, kScales, TO_DIADIC_MALLAT, "target");
  MultiResol estimate(kNl, kNc, kScales, TO_DIADIC_MALLAT, "estimate");
  std::vector<Image> bands(2 * kScales - 1, random_image(kNl, kNc, 3u));
  for (int b = 0; b < 2 * kScales - 1; b++) {
    estimate.band(b) = bands[b];
    target.band(b) = bands[b];
  }
  Ortho_Proj_Operator(0, 2, -1, 1, 7, target, estimate);
  Ortho_Proj_Operator(1, -1, 4, 0, 5, bands.data(), estimate);
  // n = 1: no interior point.
  target(2, 1, 3) += 1.f;
  Ortho_Proj_Operator(2, 1, -1, 3, 4, target, estimate);
  for (int b = 0; b < 2 * kScales - 1; b++)
    for (int k = 0; k < kNl * kNc; k++) ASSERT_EQ(estimate.band(b)(k), bands[b](k)) << b;
}

TEST(MaximaInterpolation, EverySecondScaleBetweenSuccessiveMaxima) {
  Maxima m;
  mark_known_maxima(m);
  m.locate();
  MultiResol target(kNl, kNc, kScales, TO_DIADIC_MALLAT, "target");
  std::vector<Image> bands = fill_target(target, 10u);

  MultiResol est1(kNl, kNc, kScales, TO_DIADIC_MALLAT, "e1");
  MultiResol est2(kNl, kNc, kScales, TO_DIADIC_MALLAT, "e2");
  interpolate(m.line_count, m.line_pos.data(), m.col_count, m.col_pos.data(), target, est1);
  interpolate(kScales, m.line_count, m.line_pos.data(), m.col_count, m.col_pos.data(),
              bands.data(), est2);
  for (int b = 0; b < target.nbr_band(); b++)
    for (int k = 0; k < kNl * kNc; k++) ASSERT_EQ(est1.band(b)(k), est2.band(b)(k));

  // Scale 0, line 2: segments 1-4 and 4-7 from a zero estimate.
  for (int t = 1; t < 3; t++) {
    EXPECT_NEAR(est1(0, 2, 1 + t), sinh_fill(target(0, 2, 1), target(0, 2, 4), 0.5, 3, t), 1e-5);
    EXPECT_NEAR(est1(0, 2, 4 + t), sinh_fill(target(0, 2, 4), target(0, 2, 7), 0.5, 3, t), 1e-5);
  }
  // Scale 0, column 4: rows 2 to 5; scale 2 (bands 4, 5) with f = 1/8.
  EXPECT_NEAR(est1(1, 3, 4), sinh_fill(target(1, 2, 4), target(1, 5, 4), 0.5, 3, 1), 1e-5);
  EXPECT_NEAR(est1(4, 2, 2), sinh_fill(target(4, 2, 1), target(4, 2, 4), 0.125, 3, 1), 1e-5);
  // Maxima themselves, lines without two maxima, and scale 1 stay at 0.
  EXPECT_EQ(est1(0, 2, 4), 0.f);
  EXPECT_EQ(est1(0, 5, 5), 0.f);
  EXPECT_EQ(est1(2, 2, 2), 0.f);
  EXPECT_EQ(est1(3, 3, 4), 0.f);
}

TEST(MaximaReset, EstimateAndMaximaOnlyTransformTakeTheTargets) {
  Maxima m;
  mark_known_maxima(m);
  m.locate();
  MultiResol target(kNl, kNc, kScales, TO_DIADIC_MALLAT, "target");
  std::vector<Image> bands = fill_target(target, 20u);
  const int smooth = 2 * kScales - 2;

  MultiResol only(kNl, kNc, kScales, TO_DIADIC_MALLAT, "only");
  init_multiresol_out(kNl, kNc, kScales, m.line_count, m.line_pos.data(), m.col_count,
                      m.col_pos.data(), target, only);
  EXPECT_EQ(only(2, 2, 7), target(2, 2, 7));
  EXPECT_EQ(only(3, 5, 4), target(3, 5, 4));
  EXPECT_EQ(only(2, 5, 5), kNoMaxValue);
  EXPECT_EQ(only(0, 0, 0), kNoMaxValue);
  EXPECT_EQ(only(smooth, 3, 3), target(smooth, 3, 3));

  MultiResol e1(kNl, kNc, kScales, TO_DIADIC_MALLAT, "e1");
  MultiResol e2(kNl, kNc, kScales, TO_DIADIC_MALLAT, "e2");
  init_max(kScales, kNl, kNc, m.line_count, m.line_pos.data(), m.col_count, m.col_pos.data(),
           target, e1);
  init_max(kScales, kNl, kNc, m.line_count, m.line_pos.data(), m.col_count, m.col_pos.data(),
           bands.data(), e2);
  init_last_scale(kScales, kNl, kNc, target, e1);
  init_last_scale(kScales, kNl, kNc, bands.data(), e2);
  for (int b = 0; b < target.nbr_band(); b++)
    for (int i = 0; i < kNl; i++)
      for (int j = 0; j < kNc; j++) {
        ASSERT_EQ(e1(b, i, j), e2(b, i, j));
        ASSERT_EQ(e1(b, i, j), only(b, i, j) == kNoMaxValue ? 0.f : target(b, i, j));
      }
}

}  // namespace
