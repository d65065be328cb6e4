// Input preparation: the signed dilation against a brute-force window scan,
// the mask rules, the gap filling and its refusal of an empty image.
#include "mca/mca_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "support/death.h"

namespace {

using Image = to_array<float, false>;

int clamp(int i, int n) { return i < 0 ? 0 : (i >= n ? n - 1 : i); }

}  // namespace

TEST(McaInput, SignedDilationMatchesWindowScan) {
  Image in(13, 17, "in");
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> u(-10.f, 10.f);
  for (int k = 0; k < in.n_elem(); k++) in(k) = std::round(u(gen));  // ties are frequent
  for (int win : {3, 5}) {
    Image out;
    abs_morpho_dilation(in, out, win);
    int h = (win - 1) / 2;
    for (int i = 0; i < 13; i++)
      for (int j = 0; j < 17; j++) {
        float v = in(i, j);
        for (int k = i - h; k <= i + h; k++)
          for (int l = j - h; l <= j + h; l++) {
            float c = in(clamp(k, 13), clamp(l, 17));
            if (std::fabs(c) > std::fabs(v)) v = c;
          }
        ASSERT_EQ(out(i, j), v) << i << "," << j << " window " << win;
      }
  }
}

TEST(McaInput, ZeroBetweenTwoValuesTakesTheLargerMagnitudeWithItsSign) {
  Image data(1, 3, "line");
  data(0, 0) = 2.f;
  data(0, 2) = -7.f;
  first_guess_interpol(data, 1);
  EXPECT_EQ(data(0, 1), -7.f);
  EXPECT_EQ(data(0, 0), 2.f);
}

TEST(McaInput, MaskOfFiveByFiveImageWithZeroCentre) {
  Image data(5, 5, "data");
  data.init(3.f);
  data(2, 2) = 0.f;
  Image mask;
  float missing = make_mask(data, mask, false);
  EXPECT_FLOAT_EQ(missing, 19.f);
  for (int k = 0; k < 5; k++) {
    EXPECT_EQ(mask(0, k), 0.f);
    EXPECT_EQ(mask(4, k), 0.f);
    EXPECT_EQ(mask(k, 0), 0.f);
    EXPECT_EQ(mask(k, 4), 0.f);
  }
  EXPECT_EQ(mask(2, 2), 0.f);
  EXPECT_EQ(mask(1, 1), 0.5f);
  EXPECT_EQ(mask(3, 3), 0.5f);
  EXPECT_EQ(mask(1, 2), 1.f);
  EXPECT_EQ(mask(2, 3), 1.f);
}

TEST(McaInput, ZoomMaskKeepsEvenLinesAndColumns) {
  Image data(8, 6, "data");
  Image mask;
  float missing = make_mask(data, mask, true);
  for (int i = 0; i < 8; i++)
    for (int j = 0; j < 6; j++)
      EXPECT_EQ(mask(i, j), (i % 2 == 0 || j % 2 == 0) ? 1.f : 0.f) << i << "," << j;
  EXPECT_FLOAT_EQ(missing, 12.f);  // 4 odd lines x 3 odd columns
}

TEST(McaInput, GapFillingFillsEveryZeroPixel) {
  Image data(20, 20, "data");
  for (int i = 0; i < 20; i++)
    for (int j = 0; j < 20; j++) data(i, j) = 1.f + i + j;
  for (int i = 0; i < 20; i++)
    for (int j = 5; j < 15; j++) data(i, j) = 0.f;  // a band 10 pixels wide
  data(0, 0) = 0.f;
  first_guess_interpol(data, 201);
  // The dilation only copies values: each filled pixel holds one of the
  // image's values, all between 2 and 39 here.
  for (int k = 0; k < data.n_elem(); k++) {
    ASSERT_GE(data(k), 2.f) << k;
    ASSERT_LE(data(k), 39.f) << k;
    ASSERT_EQ(data(k), std::floor(data(k))) << k;
  }
  // Untouched pixels keep their value.
  EXPECT_EQ(data(3, 17), 21.f);
}

TEST(McaInput, GapFillingOfAnEmptyImageStops) {
  Image data(6, 6, "empty");
  EXPECT_EXIT_STATUS(first_guess_interpol(data, 36), 255, "no non-zero pixel");
}
