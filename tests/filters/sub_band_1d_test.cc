// The base bank: its default fields, and the zero rule, which has no index
// outside the signal and reads zeros there.
#include "filters/sub_band_1d.h"

#include <gtest/gtest.h>

TEST(SubBand1D, DefaultsAndTheZeroRule) {
  SubBand1D b;
  EXPECT_EQ(std::vector<int>({b.LowPhase, b.HighPhase, b.SampleDist, b.Bord}),
            std::vector<int>({1, 1, 1, I_MIRROR}));
  EXPECT_EQ(std::vector<int>({b.test_index(-2, 5), b.test_index(6, 5)}), std::vector<int>({2, 2}));
  b.Bord = I_PERIOD;  // wrapped, never handed back outside the signal
  EXPECT_EQ(std::vector<int>({b.test_index(-1, 5), b.test_index(5, 5), b.test_index(-7, 5), b.test_index(12, 5)}),
            std::vector<int>({4, 0, 3, 2}));
  const float x[3] = {1.f, 2.f, 3.f};
  b.Bord = I_ZERO;
  EXPECT_EQ(std::vector<int>({b.test_index(-1, 3), b.test_index(3, 3), b.test_index(2, 3)}),
            std::vector<int>({-1, -1, 2}));
  EXPECT_EQ(std::vector<float>({b.sample(x, -1, 3), b.sample(x, 3, 3), b.sample(x, 2, 3)}),
            std::vector<float>({0.f, 0.f, 3.f}));
}
