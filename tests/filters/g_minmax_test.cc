// Min-max morphological bank: the stated example, round trips of both
// parities and the undecimated steps it does not have.
#include "filters/g_minmax.h"

#include <gtest/gtest.h>

#include "filter_test_util.h"
#include "support/death.h"

TEST(G_Minmax, SplitsPairsIntoMinimumAndDifference) {
  G_Minmax m;
  EXPECT_EQ(m.Bord, I_CONT);
  std::vector<float> x = {5, 3, 2, 7, 4}, low(3), high(3), back(5);
  m.transform(5, x.data(), low.data(), high.data());
  EXPECT_EQ(low, std::vector<float>({3, 2, 4}));
  EXPECT_EQ(high, std::vector<float>({2, -5, 0}));
  m.recons(5, low.data(), high.data(), back.data());
  EXPECT_EQ(back, x);
  for (int n : {16, 17}) {
    std::vector<float> s = filter_test::random_signal(n, 12);
    EXPECT_LT(filter_test::max_abs_diff(s, filter_test::round_trip(m, s).back), 1e-6) << n;
  }
  EXPECT_EXIT_STATUS(m.transform(5, x.data(), low.data(), high.data(), 1), 255,
                     "Error: Pave Minmax not implemented");
  EXPECT_EXIT_STATUS(m.recons(5, low.data(), high.data(), x.data(), 1), 255,
                     "Error: Pave Minmax not implemented");
}
