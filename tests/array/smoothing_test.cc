// Smoothing filters against closed-form impulse responses and brute-force
// references that read every tap through the bordered accessor.
#include "array/smoothing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "support/death.h"

namespace {

const type_border AllBorders[] = {I_CONT, I_MIRROR, I_PERIOD, I_ZERO};

template <class T>
to_array<T, false> random_image(int nl, int nc, unsigned seed, int lo = -50, int hi = 50) {
  to_array<T, false> im(nl, nc);
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> dist(lo, hi);
  for (int k = 0; k < im.n_elem(); k++) im(k) = static_cast<T>(dist(gen)) / T(2);
  return im;
}

// Separable kernel applied as a full 2D sum in double: taps at offsets
// offsets[a]*step along both axes.
double separable_reference(const to_array<float, false>& in, int i, int j, type_border border,
                           int step, const std::vector<int>& offsets,
                           const std::vector<double>& weights) {
  double sum = 0;
  for (size_t a = 0; a < offsets.size(); a++)
    for (size_t b = 0; b < offsets.size(); b++)
      sum += weights[a] * weights[b] * in(i + offsets[a] * step, j + offsets[b] * step, border);
  return sum;
}

template <class T>
T median_reference(const to_array<T, false>& in, int i, int j, type_border border, int step,
                   int window) {
  int half = (window - 1) / 2;
  std::vector<T> taps;
  for (int a = -half; a <= half; a++)
    for (int b = -half; b <= half; b++) taps.push_back(in(i + a * step, j + b * step, border));
  int n = static_cast<int>(taps.size());
  int k = n % 2 ? n / 2 : n / 2 - 1;
  std::nth_element(taps.begin(), taps.begin() + k, taps.end());
  return taps[k];
}

const std::vector<int> BsplineOffsets = {-2, -1, 0, 1, 2};
const std::vector<double> BsplineWeights = {1. / 16, 1. / 4, 3. / 8, 1. / 4, 1. / 16};

}  // namespace

TEST(SmoothBspline, ImpulseGivesOuterProductOfKernelAtEveryScaleAndBorder) {
  const double kernel[5] = {16, 64, 96, 64, 16};
  for (int s = 0; s <= 1; s++) {
    const int step = 1 << s;
    const int n = 21, centre = 10;
    for (type_border border : AllBorders) {
      to_array<float, false> in(n, n), out(n, n);
      in(centre, centre) = 256.f;
      smooth_bspline(in, out, border, s);
      EXPECT_EQ(out(centre, centre), 36.f);
      for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
          int di = i - centre, dj = j - centre;
          double expected = 0;
          if (di % step == 0 && dj % step == 0 && std::abs(di) <= 2 * step &&
              std::abs(dj) <= 2 * step)
            expected = kernel[di / step + 2] * kernel[dj / step + 2] / 256.;
          ASSERT_EQ(out(i, j), expected) << "s " << s << " border " << border << " at " << i
                                         << "," << j;
        }
    }
  }
}

TEST(SmoothBspline, MatchesBorderedConvolutionNearEdgesAndOnSmallImages) {
  // Impulses on and next to the edges, then random images, including sizes
  // smaller than the tap distance.
  const int sizes[][2] = {{12, 9}, {5, 7}, {3, 3}, {1, 6}, {16, 16}};
  for (auto& size : sizes) {
    const int nl = size[0], nc = size[1];
    for (int s = 0; s <= 2; s++)
      for (type_border border : AllBorders) {
        std::vector<to_array<float, false>> inputs;
        const int spots[][2] = {{0, 0}, {1, nc - 1}, {nl - 1, 1}, {nl - 2, nc - 2}};
        for (auto& spot : spots) {
          to_array<float, false> im(nl, nc);
          im(std::clamp(spot[0], 0, nl - 1), std::clamp(spot[1], 0, nc - 1)) = 256.f;
          inputs.push_back(im);
        }
        inputs.push_back(random_image<float>(nl, nc, 7 + s));
        for (auto& in : inputs) {
          to_array<float, false> out(nl, nc);
          smooth_bspline(in, out, border, s);
          for (int i = 0; i < nl; i++)
            for (int j = 0; j < nc; j++)
              ASSERT_NEAR(out(i, j),
                          separable_reference(in, i, j, border, 1 << s, BsplineOffsets,
                                              BsplineWeights),
                          1e-4)
                  << nl << "x" << nc << " s " << s << " border " << border << " at " << i << ","
                  << j;
        }
      }
  }
}

TEST(SmoothBspline, WorksInPlace) {
  to_array<float, false> im = random_image<float>(17, 23, 3), out(17, 23);
  smooth_bspline(im, out, I_MIRROR, 1);
  smooth_bspline(im, im, I_MIRROR, 1);
  for (int k = 0; k < im.n_elem(); k++) ASSERT_EQ(im(k), out(k));
}

TEST(SmoothBspline, IntegerImagesRoundHalvesUp) {
  // Weight 4·4/256 = 1/16 one pixel off the diagonal: 40 gives exactly 2.5.
  for (int sign : {1, -1}) {
    to_array<int, false> in(9, 9), out(9, 9);
    in(4, 4) = 40 * sign;
    smooth_bspline(in, out, I_CONT, 0);
    EXPECT_EQ(out(5, 5), sign > 0 ? 3 : -2);
    EXPECT_EQ(out(4, 4), sign > 0 ? 6 : -5);  // 5.625 and -5.625
  }
}

TEST(SmoothLinearAndHaar, MatchBruteForceKernels) {
  const std::vector<int> linear_offsets = {-1, 0, 1};
  const std::vector<double> linear_weights = {0.25, 0.5, 0.25};
  for (type_border border : AllBorders)
    for (int s = 0; s <= 2; s++) {
      const int step = 1 << s;
      to_array<float, false> in = random_image<float>(10, 13, 11 + s), out(10, 13);
      smooth_linear(in, out, border, s);
      for (int i = 0; i < 10; i++)
        for (int j = 0; j < 13; j++)
          ASSERT_NEAR(out(i, j),
                      separable_reference(in, i, j, border, step, linear_offsets, linear_weights),
                      1e-4);
      smooth_haar(in, out, border, s, 2.f);
      for (int i = 0; i < 10; i++)
        for (int j = 0; j < 13; j++) {
          double expected = (in(i, j, border) + in(i, j - step, border) +
                             in(i - step, j, border) + in(i - step, j - step, border)) / 2.;
          ASSERT_NEAR(out(i, j), expected, 1e-4);
        }
    }
}

TEST(SmoothingFilters, ConstantImageStaysConstant) {
  for (type_border border : {I_CONT, I_MIRROR, I_PERIOD}) {
    to_array<float, false> in(11, 14), out(11, 14);
    in.init(3.5f);
    auto expect_all = [&](float value, const char* what) {
      for (int k = 0; k < out.n_elem(); k++)
        ASSERT_FLOAT_EQ(out(k), value) << what << " border " << border;
    };
    smooth_bspline(in, out, border, 1);
    expect_all(3.5f, "bspline");
    smooth_linear(in, out, border, 2);
    expect_all(3.5f, "linear");
    smooth_average(in, out, border, 0, 3);
    expect_all(3.5f, "average 3");
    smooth_average(in, out, border, 1, 2);
    expect_all(3.5f, "average 2");  // the mean is over the (W+1)^2 taps summed
    smooth_mediane(in, out, border, 0, 5);
    expect_all(3.5f, "mediane");
    smooth_haar(in, out, border, 0, 2.f);
    expect_all(7.f, "haar");
    to_array<int, false> in_i(11, 14), out_i(11, 14);
    in_i.init(9);
    smooth_average(in_i, out_i, border, 1, 4);
    for (int k = 0; k < out_i.n_elem(); k++) ASSERT_EQ(out_i(k), 9);
    smooth_linear(in_i, out_i, border, 0);
    for (int k = 0; k < out_i.n_elem(); k++) ASSERT_EQ(out_i(k), 9);
  }
}

TEST(SmoothAverage, IsTheMeanOfTheTapGrid) {
  for (type_border border : AllBorders)
    for (int window : {2, 3, 5}) {
      to_array<float, false> in = random_image<float>(9, 12, window), out(9, 12);
      smooth_average(in, out, border, 1, window);
      const int half = window / 2, side = 2 * half + 1;
      for (int i = 0; i < 9; i++)
        for (int j = 0; j < 12; j++) {
          double sum = 0;
          for (int a = -half; a <= half; a++)
            for (int b = -half; b <= half; b++) sum += in(i + 2 * a, j + 2 * b, border);
          ASSERT_NEAR(out(i, j), sum / (side * side), 1e-4);
        }
    }
}

TEST(SmoothMediane, MatchesBruteForceMedian) {
  for (type_border border : AllBorders)
    for (int window : {3, 5})
      for (int s = 0; s <= 1; s++) {
        to_array<float, false> in = random_image<float>(11, 8, 21 + window + s), out(11, 8);
        smooth_mediane(in, out, border, s, window);
        to_array<int, false> in_i = random_image<int>(11, 8, 31 + window + s), out_i(11, 8);
        smooth_mediane(in_i, out_i, border, s, window);
        for (int i = 0; i < 11; i++)
          for (int j = 0; j < 8; j++) {
            ASSERT_EQ(out(i, j), median_reference(in, i, j, border, 1 << s, window));
            ASSERT_EQ(out_i(i, j), median_reference(in_i, i, j, border, 1 << s, window));
          }
      }
}

TEST(SmoothMediane, RemovesOutlierAndZeroBorderEatsCorners) {
  to_array<float, false> in(6, 6), out(6, 6);
  in.init(2.f);
  in(3, 2) = 1000.f;
  smooth_mediane(in, out, I_CONT, 0, 3);
  for (int k = 0; k < out.n_elem(); k++) ASSERT_EQ(out(k), 2.f);
  smooth_mediane(in, out, I_ZERO, 0, 3);
  EXPECT_EQ(out(0, 0), 0.f);
  EXPECT_EQ(out(5, 5), 0.f);
  EXPECT_EQ(out(0, 5), 0.f);
  EXPECT_EQ(out(0, 2), 2.f);  // three zeros among nine taps on an edge
}

TEST(SmoothingFilters, RefuseUnsafeArguments) {
  to_array<float, false> in(8, 8), small(4, 8);
  EXPECT_EXIT_STATUS(smooth_bspline(in, small, I_CONT, 0), 255, "smaller than input");
  EXPECT_EXIT_STATUS(smooth_linear(in, in, static_cast<type_border>(7), 0), 255, "border");
  to_array<float, false> out(8, 8);
  EXPECT_EXIT_STATUS(smooth_mediane(in, out, I_CONT, 0, 0), 255, "window");
  EXPECT_EXIT_STATUS(smooth_mediane(in, in, I_CONT, 0, 3), 255, "distinct");
  EXPECT_EXIT_STATUS(smooth_average(in, in, I_CONT, 0, 3), 255, "distinct");
}
