// The base bank: its default fields and the border indices every bank reads
// its neighbours through, the zero rule included.
#include "filters/sub_band_1d.h"

#include <gtest/gtest.h>

TEST(SubBand1D, DefaultsAndBorderIndices) {
  SubBand1D b;
  EXPECT_EQ(std::vector<int>({b.LowPhase, b.HighPhase, b.SampleDist, b.Bord}),
            std::vector<int>({1, 1, 1, I_MIRROR}));
  struct Case { type_border rule; int i, want; };  // on 5 samples
  const Case cases[] = {{I_MIRROR, -2, 2}, {I_MIRROR, 6, 2},   {I_CONT, -7, 0},
                        {I_CONT, 9, 4},    {I_PERIOD, -1, 4},  {I_PERIOD, -12, 3},
                        {I_PERIOD, 17, 2}, {I_ZERO, -1, -1},   {I_ZERO, 5, -1}};
  for (const Case& c : cases) {
    b.Bord = c.rule;
    EXPECT_EQ(b.test_index(c.i, 5), c.want) << "rule " << c.rule << " position " << c.i;
  }
  const float x[3] = {1.f, 2.f, 3.f};
  b.Bord = I_ZERO;
  EXPECT_EQ(std::vector<float>({b.sample(x, -1, 3), b.sample(x, 3, 3), b.sample(x, 2, 3)}),
            std::vector<float>({0.f, 0.f, 3.f}));
}
