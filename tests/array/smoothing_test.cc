// Smoothing filters against closed-form impulse responses and brute-force
// references that read every tap through the bordered accessor, and the
// rounding of the integer filters.
#include "array/smoothing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/death.h"
#include "support/test_images.h"

namespace {

const type_border AllBorders[] = {I_CONT, I_MIRROR, I_PERIOD, I_ZERO};

// A separable kernel applied as a full 2D sum in double: taps at
// offsets[a]·step along both axes, weighted by weights[a]·weights[b]. The box
// mean is one too; only the window filters refuse to work in place.
struct SeparableKernel {
  const char* name;
  std::vector<int> offsets;
  std::vector<double> weights;
  void (*filter)(const to_array<float, false>&, to_array<float, false>&, type_border, int);
  bool in_place = true;
};

using Image = to_array<float, false>;
const SeparableKernel Kernels[] = {
    {"bspline", {-2, -1, 0, 1, 2}, {1. / 16, 1. / 4, 3. / 8, 1. / 4, 1. / 16},
     [](const Image& in, Image& out, type_border b, int s) { smooth_bspline(in, out, b, s); }},
    {"linear", {-1, 0, 1}, {0.25, 0.5, 0.25},
     [](const Image& in, Image& out, type_border b, int s) { smooth_linear(in, out, b, s); }},
    // Pair sums along lines and columns, divided by the normalisation 2.
    {"haar", {-1, 0}, {1. / std::sqrt(2.), 1. / std::sqrt(2.)},
     [](const Image& in, Image& out, type_border b, int s) { smooth_haar(in, out, b, s, 2.f); }},
    // An even window spans W+1 taps per axis, and the mean is over them.
    {"average 2", {-1, 0, 1}, {1. / 3, 1. / 3, 1. / 3},
     [](const Image& in, Image& out, type_border b, int s) { smooth_average(in, out, b, s, 2); },
     false},
    {"average 5", {-2, -1, 0, 1, 2}, {0.2, 0.2, 0.2, 0.2, 0.2},
     [](const Image& in, Image& out, type_border b, int s) { smooth_average(in, out, b, s, 5); },
     false},
};

double separable_reference(const to_array<float, false>& in, int i, int j, type_border border,
                           int step, const SeparableKernel& kernel) {
  double sum = 0;
  for (size_t a = 0; a < kernel.offsets.size(); a++)
    for (size_t b = 0; b < kernel.offsets.size(); b++)
      sum += kernel.weights[a] * kernel.weights[b] *
             in(i + kernel.offsets[a] * step, j + kernel.offsets[b] * step, border);
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

}  // namespace

TEST(SmoothBspline, ImpulseGivesTheOuterProductOfTheKernel) {
  // 256 becomes (16, 64, 96, 64, 16) ⊗ itself / 256, 36 at the centre, with
  // taps 1 apart at s = 0 and 4 apart at s = 2.
  const double kernel[5] = {16, 64, 96, 64, 16};
  for (int s : {0, 2}) {
    const int step = 1 << s, n = 21, centre = 10;
    to_array<float, false> in(n, n), out(n, n);
    in(centre, centre) = 256.f;
    smooth_bspline(in, out, I_CONT, s);
    EXPECT_EQ(out(centre, centre), 36.f);
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) {
        const int di = i - centre, dj = j - centre;
        const bool tap = di % step == 0 && dj % step == 0 && std::abs(di) <= 2 * step &&
                         std::abs(dj) <= 2 * step;
        ASSERT_EQ(out(i, j), tap ? kernel[di / step + 2] * kernel[dj / step + 2] / 256. : 0.)
            << "s " << s << " at " << i << "," << j;
      }
  }
}

TEST(SeparableSmoothing, MatchesBorderedSumsNearEdgesOnSmallImagesAndInPlace) {
  // Impulses on and next to the edges, then random images, including sizes
  // smaller than the tap distance.
  const int sizes[][2] = {{12, 9}, {5, 7}, {3, 3}, {1, 6}, {16, 16}};
  for (const SeparableKernel& kernel : Kernels)
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
          inputs.push_back(tied_image<float>(nl, nc, 7 + s));
          for (auto& in : inputs) {
            to_array<float, false> out(nl, nc);
            kernel.filter(in, out, border, s);
            for (int i = 0; i < nl; i++)
              for (int j = 0; j < nc; j++)
                ASSERT_NEAR(out(i, j), separable_reference(in, i, j, border, 1 << s, kernel),
                            1e-4)
                    << kernel.name << " " << nl << "x" << nc << " s " << s << " border "
                    << border << " at " << i << "," << j;
            if (!kernel.in_place) continue;
            kernel.filter(in, in, border, s);  // the input may be the output
            for (int k = 0; k < in.n_elem(); k++) ASSERT_EQ(in(k), out(k)) << kernel.name;
          }
        }
    }
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

TEST(SmoothingFilters, IntegerFiltersKeepAConstantImage) {
  // The float filters are checked tap by tap against brute-force sums; the
  // integer ones round, so a constant must come back exactly.
  for (type_border border : {I_CONT, I_MIRROR, I_PERIOD}) {
    to_array<int, false> in(11, 14), out(11, 14);
    in.init(9);
    smooth_average(in, out, border, 1, 4);
    EXPECT_EQ(pixels(out), pixels(in)) << "average " << border;
    smooth_linear(in, out, border, 0);
    EXPECT_EQ(pixels(out), pixels(in)) << "linear " << border;
    smooth_bspline(in, out, border, 2);
    EXPECT_EQ(pixels(out), pixels(in)) << "bspline " << border;
  }
}

TEST(SmoothMediane, MatchesBruteForceMedian) {
  for (type_border border : AllBorders)
    for (int window : {3, 5})
      for (int s = 0; s <= 1; s++) {
        to_array<float, false> in = tied_image<float>(11, 8, 21 + window + s), out(11, 8);
        smooth_mediane(in, out, border, s, window);
        to_array<int, false> in_i = tied_image<int>(11, 8, 31 + window + s), out_i(11, 8);
        smooth_mediane(in_i, out_i, border, s, window);
        for (int i = 0; i < 11; i++)
          for (int j = 0; j < 8; j++) {
            ASSERT_EQ(out(i, j), median_reference(in, i, j, border, 1 << s, window));
            ASSERT_EQ(out_i(i, j), median_reference(in_i, i, j, border, 1 << s, window));
          }
      }
}

TEST(SmoothMediane, RemovesAnOutlierAndTheZeroBorderEatsCorners) {
  to_array<float, false> in(6, 6), out(6, 6);
  in.init(2.f);
  in(3, 2) = 1000.f;
  smooth_mediane(in, out, I_CONT, 0, 3);
  for (int k = 0; k < out.n_elem(); k++) ASSERT_EQ(out(k), 2.f);
  smooth_mediane(in, out, I_ZERO, 0, 3);
  EXPECT_EQ(out(0, 0) + out(5, 5) + out(0, 5), 0.f);
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
