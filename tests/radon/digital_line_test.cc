// Digital lines and the line-atom dictionary: the drawn pixels of small
// segments, the symmetric line, the bounds of the caller's arrays, the atom
// sizes, and the border rules of correlation and reconstruction.
#include "radon/digital_line.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "support/death.h"
#include "support/test_images.h"

namespace {

using Points = std::vector<std::pair<int, int>>;

Points segment(int x0, int y0, int x1, int y1) {
  to_array<int, true> x, y;
  int np = 0;
  getline(x0, y0, x1, y1, x, y, np);
  Points p;
  for (int k = 0; k < np; k++) p.emplace_back(x(k), y(k));
  return p;
}

TEST(DigitalLine, SegmentsDrawnByBresenham) {
  EXPECT_EQ(segment(0, 0, 3, 1), (Points{{0, 0}, {1, 0}, {2, 0}, {3, 1}}));
  EXPECT_EQ(segment(0, 0, 0, 0), (Points{{0, 0}}));
  EXPECT_EQ(segment(1, 0, -1, 0), (Points{{1, 0}, {0, 0}, {-1, 0}}));
  EXPECT_EQ(segment(0, 0, 1, 3), (Points{{0, 0}, {0, 1}, {0, 2}, {1, 3}}));
  EXPECT_EQ(segment(2, 2, -2, -2), (Points{{2, 2}, {1, 1}, {0, 0}, {-1, -1}, {-2, -2}}));
}

TEST(DigitalLine, ShortArraysAreGrownToTheSegment) {
  to_array<int, true> x(2), y(2);
  int np = 0;
  getline(0, 0, 600, 7, x, y, np);
  EXPECT_EQ(np, 601);
  ASSERT_GE(x.n_elem(), 601);
  EXPECT_EQ(x(600), 600);
  EXPECT_EQ(y(600), 7);
  Atom a;
  getline(-700, 0, 700, 1, a);  // far beyond any fixed 512-pixel buffer
  EXPECT_EQ(a.np(), 1401);
  EXPECT_EQ(a.xpos(1400), 700);
}

TEST(DigitalLine, SymmetricLineAboutItsCentre) {
  to_array<int, true> x(11), y(11);
  int np = 0;
  symgetline(2, 1, 5, 5, x, y, np);
  EXPECT_EQ(np, 5);
  const Points want{{3, 4}, {4, 5}, {5, 5}, {6, 5}, {7, 6}};
  for (int k = 0; k < 5; k++) EXPECT_EQ(std::make_pair(x(3 + k), y(3 + k)), want[k]) << k;
}

TEST(DigitalLineDeath, SymmetricLineMustFitTheCallersArrays) {
  to_array<int, true> x(6), y(6);
  int np = 0;
  EXPECT_EXIT_STATUS(symgetline(2, 1, 5, 5, x, y, np), 255, "does not fit arrays of 6 and 6");
  to_array<int, true> a(20), b(20);
  EXPECT_EXIT_STATUS(symgetline(4, 0, 2, 1, a, b, np), 255, "centred on entry 2");
}

TEST(ListAtom, DictionaryOfFortyFiveAtoms) {
  ListAtom dict;
  ASSERT_EQ(dict.NbrAtom, 45);
  EXPECT_EQ(dict.TabAtom[0].np(), 1);
  for (int a = 1; a <= 4; a++) EXPECT_EQ(dict.TabAtom[a].np(), 3) << a;
  for (int a = 5; a <= 12; a++) EXPECT_EQ(dict.TabAtom[a].np(), 5) << a;
  for (int a = 13; a <= 44; a++) EXPECT_EQ(dict.TabAtom[a].np(), 17) << a;
  // Every atom is centred on its position.
  for (int a = 0; a < 45; a++) {
    const Atom& at = dict.TabAtom[a];
    EXPECT_EQ(at.xpos(at.np() / 2), 0) << a;
    EXPECT_EQ(at.ypos(at.np() / 2), 0) << a;
  }
}

TEST(ListAtom, GreedyDecompositionRebuildsAnAtom) {
  ListAtom dict;
  to_array<float, false> ima(24, 24);
  dict.add_atom(ima, 12, 12, 10.f, 20);
  to_array<float, false> original = ima, correl, rebuilt(24, 24);
  to_array<int, false> best;
  dict.get_best_correl(ima, correl, best);
  EXPECT_EQ(best(12, 12), 20);
  EXPECT_NEAR(correl(12, 12), 10.f, 1e-4);
  unsigned long* ind = nullptr;
  dict.order_coef(ima, correl, best, ind);
  dict.add_nfirst_atoms(rebuilt, correl, best, ind, 1);
  for (int k = 0; k < rebuilt.n_elem(); k++) EXPECT_NEAR(rebuilt(k), original(k), 1e-4) << k;
  // A coefficient exactly at the level is not significant.
  to_array<float, false> none(24, 24);
  const float level = std::fabs(correl(12, 12));
  testing::internal::CaptureStdout();
  dict.add_nsigma_atoms(none, correl, best, ind, level, 1.f);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("Number of significant coefficients = 0"), std::string::npos) << printed;
  EXPECT_EQ(none.total(), 0.);
  delete[] ind;
}

}  // namespace
