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

TEST(McaInput, MaskOfFiveByFiveImageWithZeroCentre) {
  Image data(5, 5, "data");
  data.init(3.f);
  data(2, 2) = 0.f;
  Image mask;
  EXPECT_FLOAT_EQ(make_mask(data, mask, false), 19.f);
  // 0 on the border and the centre, 0.5 on its diagonal, 1 beside it.
  const float want[5][5] = {{0, 0, 0, 0, 0},
                            {0, .5f, 1, .5f, 0},
                            {0, 1, 0, 1, 0},
                            {0, .5f, 1, .5f, 0},
                            {0, 0, 0, 0, 0}};
  for (int i = 0; i < 5; i++)
    for (int j = 0; j < 5; j++) EXPECT_EQ(mask(i, j), want[i][j]) << i << "," << j;
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

TEST(McaInput, GapFilling) {
  // A zero between a and -b with |b| > |a| takes -b.
  Image line(1, 3, "line");
  line(0, 0) = 2.f;
  line(0, 2) = -7.f;
  first_guess_interpol(line, 1);
  EXPECT_EQ(line(0, 1), -7.f);
  EXPECT_EQ(line(0, 0), 2.f);

  Image data(20, 20, "data");
  for (int i = 0; i < 20; i++)
    for (int j = 0; j < 20; j++) data(i, j) = (j >= 5 && j < 15) ? 0.f : 1.f + i + j;
  data(0, 0) = 0.f;
  first_guess_interpol(data, 201);
  // The dilation only copies values: each filled pixel holds one of the
  // image's values, all whole numbers between 2 and 39 here.
  for (int k = 0; k < data.n_elem(); k++) {
    ASSERT_GE(data(k), 2.f) << k;
    ASSERT_LE(data(k), 39.f) << k;
    ASSERT_EQ(data(k), std::floor(data(k))) << k;
  }
  EXPECT_EQ(data(3, 17), 21.f);  // untouched pixels keep their value

  Image empty(6, 6, "empty");  // nothing to spread: refused, not an endless loop
  EXPECT_EXIT_STATUS(first_guess_interpol(empty, 36), 255, "no non-zero pixel");
}
