// Resizing, extension and extraction against hand-computed indices and
// closed forms (constant and linear images under interpolation).
#include "array/im_resize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "support/death.h"
#include "support/test_images.h"

TEST(TestInd, MirrorsOnceAndFlagsWhatStaysOutside) {
  const int cases[][3] = {{-2, 5, 2}, {5, 5, 3}, {9, 5, -1}, {-5, 5, -1},
                          {0, 5, 0},  {4, 5, 4}, {8, 5, 0}};
  for (auto& c : cases) EXPECT_EQ(test_ind(c[0], c[1]), c[2]) << c[0] << " of " << c[1];
}

TEST(ImExtend, MirrorsMarginsAboutTheEdgePixels) {
  // Source line or column of each output one (offset (N' - N)/2); margins
  // wider than the image minus one are 0 beyond the mirrored part (-1).
  const struct {
    int n, side;
    std::vector<int> source;
  } cases[] = {{4, 8, {2, 1, 0, 1, 2, 3, 2, 1}}, {3, 9, {-1, 2, 1, 0, 1, 2, 1, 0, -1}}};
  for (const auto& c : cases) {
    to_array<float, false> in = coded_image(c.n, c.n), out(c.side, c.side);
    out.init(-1.f);
    im_extend(in, out);
    for (int i = 0; i < c.side; i++)
      for (int j = 0; j < c.side; j++) {
        const int si = c.source[i], sj = c.source[j];
        ASSERT_EQ(out(i, j), (si < 0 || sj < 0) ? 0.f : in(si, sj)) << c.n << ": " << i << "," << j;
      }
  }
}

TEST(ImExtend, AllPixelTypesAgreeAndSmallerOutputIsTheCentredWindow) {
  to_array<float, false> in = coded_image(5, 6), out(9, 11);
  im_extend(in, out);
  to_array<int, false> in_i(5, 6), out_i(9, 11);
  for (int k = 0; k < in.n_elem(); k++) in_i(k) = static_cast<int>(in(k));
  im_extend(in_i, out_i);
  to_array<std::complex<float>, false> out_c(9, 11), in_c(5, 6), out_cc(9, 11);
  im_extend(in, out_c);
  for (int k = 0; k < in.n_elem(); k++) in_c(k) = std::complex<float>(in(k), -in(k));
  im_extend(in_c, out_cc);
  for (int k = 0; k < out.n_elem(); k++) {
    ASSERT_EQ(out_i(k), static_cast<int>(out(k)));
    ASSERT_EQ(out_c(k), std::complex<float>(out(k), 0.f));
    ASSERT_EQ(out_cc(k), std::complex<float>(out(k), -out(k)));
  }
  to_array<float, false> big = coded_image(8, 8), window(4, 3), extracted(4, 3);
  im_extend(big, window);
  im_extract(big, extracted);
  for (int k = 0; k < window.n_elem(); k++) ASSERT_EQ(window(k), extracted(k));
}

TEST(ImExtractAndPadding, CentredWindowsZeroMarginsAndBlocks) {
  to_array<float, false> in = coded_image(8, 8), out(4, 4);
  im_extract(in, out);
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) ASSERT_EQ(out(i, j), in(i + 2, j + 2));
  to_array<std::complex<float>, false> in_c(7, 8), out_c(4, 5);
  for (int k = 0; k < in_c.n_elem(); k++) in_c(k) = std::complex<float>(k, 2.f * k);
  im_extract(in_c, out_c);
  to_array<float, false> real_part(4, 5);
  im_extract(in_c, real_part, 4.f);
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 5; j++) {
      ASSERT_EQ(out_c(i, j), in_c(i + 1, j + 1));  // (7-4)/2 = 1, (8-5)/2 = 1
      ASSERT_EQ(real_part(i, j), in_c(i + 1, j + 1).real() / 4.f);
    }
  to_array<float, false> larger(9, 4);
  EXPECT_EXIT_STATUS(im_extract(in, larger), 255, "larger than input");

  to_array<float, false> small = coded_image(3, 3), padded(6, 6);
  padded.init(5.f);
  im_zero_padding(small, padded);
  to_array<std::complex<float>, false> padded_c(6, 6);
  im_zero_padding(small, padded_c);
  for (int i = 0; i < 6; i++)
    for (int j = 0; j < 6; j++) {
      bool inside = i >= 1 && i <= 3 && j >= 1 && j <= 3;  // offset (6-3)/2 = 1
      float expected = inside ? small(i - 1, j - 1) : 0.f;
      ASSERT_EQ(padded(i, j), expected);
      ASSERT_EQ(padded_c(i, j), std::complex<float>(expected, 0.f));
    }

  // Each pixel becomes a block of (Nl'/Nl) x (Nc'/Nc) pixels.
  to_array<float, false> two_three = coded_image(2, 3), blocks(4, 6), blocks3(6, 6);
  im_block_extend(two_three, blocks);
  im_block_extend(two_three, blocks3);
  for (int i = 0; i < 6; i++)
    for (int j = 0; j < 6; j++) {
      ASSERT_EQ(blocks3(i, j), two_three(i / 3, j / 2));
      if (i < 4) {
        ASSERT_EQ(blocks(i, j), two_three(i / 2, j / 2));
      }
    }
}

TEST(ImReduceSize2, KeepsEvenPixelsOrTheMinimumOfTheirCross) {
  to_array<float, false> in = coded_image(5, 5), out(4, 4);
  im_reduce_size_2(in, out);
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) ASSERT_EQ(out(i, j), in(std::min(2 * i, 4), std::min(2 * j, 4)));
  to_array<int, false> in_i(6, 3), out_i(3, 2);
  for (int k = 0; k < in_i.n_elem(); k++) in_i(k) = k;
  im_reduce_size_2(in_i, out_i);
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 2; j++) ASSERT_EQ(out_i(i, j), in_i(2 * i, 2 * j));

  // The minimum over the cross: a zero spreads to the even positions it
  // touches, (1, 2) from (2, 4) and (1, 2), (2, 2) from (3, 4).
  to_array<float, false> cross(8, 8);
  for (int line : {2, 3}) {
    cross.init(3.f);
    cross(line, 4) = 0.f;
    im_min_reduce_size_2(cross, out);
    for (int i = 0; i < 4; i++)
      for (int j = 0; j < 4; j++)
        ASSERT_EQ(out(i, j), (j == 2 && (i == 1 || i == line - 1)) ? 0.f : 3.f) << line;
  }
  to_array<float, false> too_small(3, 4);
  EXPECT_EXIT_STATUS(im_min_reduce_size_2(cross, too_small), 255, "smaller");
}

TEST(ImIncreaseSize2, ConstantImageStaysConstantForEveryTargetSize) {
  for (type_border border : {I_CONT, I_MIRROR, I_PERIOD})
    for (int extra : {0, 1}) {
      const int nl = 7, nc = 12;
      to_array<float, false> in(nl, nc), out(2 * nl - extra, 2 * nc - extra);
      in.init(10.f);
      out.init(1000.f);  // any read of an unfilled pixel shows
      im_increase_size_2(in, out, border);
      for (int k = 0; k < out.n_elem(); k++)
        ASSERT_NEAR(out(k), 10.f, 1e-5) << "border " << border << " extra " << extra << " at "
                                         << k;
    }
}

TEST(ImIncreaseSize2, InterpolatesLinearImagesAtHalfSamples) {
  // The symmetric filter reproduces a linear function at the midpoints up to
  // its sum (0.99999995); far enough from the edges the border rule is unseen.
  const int nl = 24, nc = 26;
  to_array<float, false> in(nl, nc), out(2 * nl, 2 * nc);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) in(i, j) = 3.f * i - 2.f * j + 1.f;
  im_increase_size_2(in, out, I_MIRROR);
  for (int r = 0; r < 2 * nl; r++)
    for (int c = 0; c < 2 * nc; c++) {
      if (r < 10 || c < 10 || r >= 2 * nl - 12 || c >= 2 * nc - 12) continue;
      double expected = 3. * (r / 2.) - 2. * (c / 2.) + 1.;
      ASSERT_NEAR(out(r, c), expected, 2e-4) << r << "," << c;
    }
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) ASSERT_EQ(out(2 * i, 2 * j), in(i, j));
}

TEST(ImIncreaseSize2, MatchesTenTapSumsThroughTheBorderRule) {
  const float coef[10] = {0.002446477f, -0.009136843f, 0.03409091f, -0.1270171f, 0.5996165f,
                          0.5996165f,   -0.1270171f,   0.03409091f, -0.009136843f, 0.002446477f};
  to_array<float, false> in = coded_image(6, 9), out(12, 18);
  for (type_border border : {I_MIRROR, I_PERIOD, I_ZERO}) {
    im_increase_size_2(in, out, border);
    for (int i = 0; i < 6; i++)
      for (int j = 0; j < 9; j++) {
        double along_line = 0, along_column = 0;
        for (int k = 0; k < 10; k++) {
          along_line += coef[k] * in(i, j + k - 4, border);
          along_column += coef[k] * in(i + k - 4, j, border);
        }
        ASSERT_NEAR(out(2 * i, 2 * j + 1), along_line, 2e-3);
        ASSERT_NEAR(out(2 * i + 1, 2 * j), along_column, 2e-3);
        double diagonal = 0;
        for (int k = 0; k < 10; k++) diagonal += coef[k] * out(2 * i + 1, 2 * (j + k - 4), border);
        ASSERT_NEAR(out(2 * i + 1, 2 * j + 1), diagonal, 2e-3);
      }
  }
}

TEST(ImIncreaseSize2, IntegerImagesTruncateTheFloatResult) {
  to_array<int, false> in(5, 6), out(10, 12);
  to_array<float, false> in_f(5, 6), out_f(10, 12);
  for (int k = 0; k < in.n_elem(); k++) in_f(k) = static_cast<float>(in(k) = (k * 37) % 23 - 11);
  im_increase_size_2(in, out, I_CONT);
  im_increase_size_2(in_f, out_f, I_CONT);
  for (int k = 0; k < out.n_elem(); k++) ASSERT_EQ(out(k), static_cast<int>(out_f(k)));
}

TEST(ImBilinearInterp, HandValuesAndLinearImages) {
  to_array<float, false> in(2, 2), out(3, 3);
  for (int k = 0; k < 4; k++) in(k) = float(k);  // [[0, 1], [2, 3]]
  im_bilinear_interp(in, out);
  const float expected[3][3] = {{0, 0.5f, 1}, {1, 1.5f, 2}, {2, 2.5f, 3}};
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) ASSERT_EQ(out(i, j), expected[i][j]);

  to_array<float, false> ramp(3, 4), big(7, 10);
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 4; j++) ramp(i, j) = 6.f * i + 3.f * j;
  im_bilinear_interp(ramp, big);
  for (int l = 0; l < 7; l++)
    for (int c = 0; c < 10; c++) ASSERT_NEAR(big(l, c), 2.f * l + c, 1e-5) << l << "," << c;

  to_array<float, false> line(1, 4);
  EXPECT_EXIT_STATUS(im_bilinear_interp(line, big), 255, "at least 2x2");
}
