// Min-max morphological bank: the stated example, round trips and the
// undecimated steps that it does not have.
#include "filters/g_minmax.h"

#include <gtest/gtest.h>

#include "filter_test_util.h"
#include "support/death.h"

TEST(G_Minmax, SplitsPairsIntoMinimumAndDifference) {
  G_Minmax m;
  EXPECT_EQ(m.Bord, I_CONT);
  float x[5] = {5, 3, 2, 7, 4}, low[3], high[3], back[5];
  m.transform(5, x, low, high);
  const float want_low[3] = {3, 2, 4}, want_high[3] = {2, -5, 0};
  for (int j = 0; j < 3; j++) {
    EXPECT_EQ(low[j], want_low[j]);
    EXPECT_EQ(high[j], want_high[j]);
  }
  m.recons(5, low, high, back);
  for (int i = 0; i < 5; i++) EXPECT_EQ(back[i], x[i]);

  for (int n : {16, 17}) {
    std::vector<float> s = filter_test::random_signal(n, 12), lo(n), hi(n), out(n);
    m.transform(n, s.data(), lo.data(), hi.data());
    m.recons(n, lo.data(), hi.data(), out.data());
    EXPECT_LT(filter_test::max_abs_diff(s, out), 1e-6) << n;
  }
}

TEST(G_Minmax, UndecimatedStepsStop) {
  G_Minmax m;
  float x[4] = {1, 2, 3, 4}, a[4], b[4];
  EXPECT_EXIT_STATUS(m.transform(4, x, a, b, 1), 255, "Error: Pave Minmax not implemented");
  EXPECT_EXIT_STATUS(m.recons(4, a, b, x, 1), 255, "Error: Pave Minmax not implemented");
}
