// Input preparation: the signed dilation against a brute-force window scan,
// the mask rules, the gap filling and its refusal of an empty image; the
// input range and the last check of the results, alone and in a run.
#include "mca/mca_input.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "mca/mca.h"
#include "support/death.h"
#include "support/qz_mca_program.h"
#include "support/test_images.h"

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

TEST(McaInputRange, PixelsBeyondWhatTheSumsHoldAreRefused) {
  const double limit = double(FLT_MAX) / (16 * 16);
  EXPECT_DOUBLE_EQ(largest_input_magnitude(16 * 16), limit);
  struct Case {
    float pixel;
    bool refused;
  };
  for (const Case& c : {Case{1e38f, true}, Case{-1e38f, true}, Case{float(limit) * 1.01f, true},
                        Case{float(limit) * 0.99f, false}, Case{-1e30f, false}}) {
    Image ima = random_image(16, 16, 7u, 0.f, 100.f);
    ima(5, 9) = c.pixel;
    if (c.refused)
      EXPECT_EXIT_STATUS(refuse_out_of_range_pixels(ima, "in.fits"), 255,
                         "1 pixels of the input image lie beyond .*\\(in.fits\\)")
          << c.pixel;
    else
      refuse_out_of_range_pixels(ima, "in.fits");  // returns
  }
}

// Counted in noise units, the pixels must stay within the sums' range, or
// the thresholds cannot be formed: a level below it is refused, the ratio
// to a subnormal level measured too. Scaled near unit noise, the largest
// pixel may not pass that range either, and the factor must be a finite
// float: the power of two is the largest that fits both.
TEST(McaInputRange, NoiseLevelsAgainstWhatTheSumsHold) {
  const long n = 64 * 64;
  const double limit = largest_input_magnitude(n);
  refuse_noise_below_range(1.f, float(0.99 * limit), n, "in.fits");  // returns
  refuse_noise_below_range(1e-40f, 1e-30f, n, "in.fits");
  for (const auto& c : {std::pair{1.f, float(1.01 * limit)}, std::pair{1e-40f, 1.f}})
    EXPECT_EXIT_STATUS(refuse_noise_below_range(c.first, c.second, n, "in.fits"), 255,
                       "the noise level .* is too small against pixel values up to .*"
                       "give a larger noise level with -g ... \\(in.fits\\)")
        << c.first;
  const float tiny = std::ldexp(1.5f, -100);  // ilogb -100: ideally 2^100
  const struct {
    float noise, largest;
    int power;  // the expected scale is 2^power
  } cases[] = {
      {1.f, 50.f, 0}, {std::ldexp(1.f, -32), 50.f, 0}, {std::ldexp(1.99f, 32), 1e15f, 0},
      {std::ldexp(1.f, 33), 1e12f, -33}, {std::ldexp(1.f, -60), 0.f, 60},  // 0: all zeros
      {tiny, float(0.6 * limit) * tiny, 100},  // 0.6 of the limit once scaled: fits
      {tiny, float(0.75 * limit) * tiny, 99},  // 1.125 of it: one power less
      {1e-40f, 1e-37f, 127}};                  // a subnormal level: the largest float factor
  for (const auto& c : cases)
    EXPECT_EQ(unit_noise_scale(c.noise, c.largest, n), std::ldexp(1.f, c.power)) << c.noise;
}

// The median magnitude of the non-zero pixels, against a full sort (the
// lower middle of an even count): zeros, masked or background, cannot pull
// it to 0, however many they are.
TEST(McaInputRange, TypicalMagnitudeIsTheMedianOfTheNonZeroMagnitudes) {
  for (int zero_every : {3, 2, 1000}) {
    Image ima = random_image(9, 7, 5u, -30.f, 10.f);
    // Most pixels 0 except every zero_every-th (1000: all but one).
    for (int k = 0; k < ima.n_elem(); k++)
      if (zero_every == 3 ? k % 3 == 0 : k % zero_every != 0) ima(k) = 0.f;
    std::vector<float> magnitudes;
    for (int k = 0; k < ima.n_elem(); k++)
      if (ima(k) != 0.f) magnitudes.push_back(std::fabs(ima(k)));
    std::sort(magnitudes.begin(), magnitudes.end());
    EXPECT_EQ(typical_magnitude(ima), magnitudes[(magnitudes.size() - 1) / 2]) << zero_every;
  }
  EXPECT_EQ(typical_magnitude(Image(4, 4, "zeros")), 0.f);
}

// Negligible: 0, or at most one float step (FLT_EPSILON) of the typical
// magnitude; any level counts against a typical magnitude of 0.
TEST(McaInputRange, NoiseIsNegligibleWithinTheFloatStepOfTypicalValues) {
  const struct {
    float noise, typical;
    bool negligible;
  } cases[] = {
      {0.f, 0.f, true},        {0.f, 1e-30f, true},          {1e-40f, 0.f, false},
      {1.5e-4f, 4096.f, true},  // a plateau whose values differ in their last bit
      {std::ldexp(1.f, -11), 4096.f, true},  // exactly one float step of 4096
      {std::nextafter(std::ldexp(1.f, -11), 1.f), 4096.f, false},
      {1e-3f, 4096.f, false},   {1e-20f, 1e-18f, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(noise_negligible(c.noise, c.typical), c.negligible) << c.noise << " " << c.typical;
}

// The pixels are shared among threads: the count and the pixel shown (the
// first of the largest magnitude, sign kept) must be those of one pass.
TEST(McaInputRange, RefusalCountsAndShowsTheFirstLargestOnAnyThreadCount) {
  // A forked child cannot start threads of a parent that has some.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Image ima = random_image(512, 512, 11u, 0.f, 100.f);
  ima(1000) = 3e34f;
  ima(200000) = -3e34f;
  ima(260000) = -5e34f;  // the first of the two largest
  ima(262100) = 5e34f;
  for (int threads : {1, 3, 8}) {
    EXPECT_EXIT_STATUS(
        {
          omp_set_num_threads(threads);
          refuse_out_of_range_pixels(ima, "in.fits");
        },
        255, "4 pixels of the input image lie beyond .* \\(one is -5e\\+34\\)")
        << threads << " threads";
  }
}

TEST(McaResultGuard, NonFiniteComponentResidualOrSumStopsTheRun) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* what;
    int image;  // 0, 1 components, 2 residual
    float value, other;
  };
  for (const Case& c : {Case{"NaN component", 0, std::nanf(""), 0.f},
                        Case{"infinite residual", 2, -inf, 0.f},
                        Case{"sum beyond the floats", 1, 3e38f, 3e38f}}) {
    MCA mca;
    mca.NbrBase = 2;
    for (Image* ima : {&mca.TabImaRec[0], &mca.TabImaRec[1], &mca.Resi})
      *ima = random_image(8, 8, 8u);
    Image& target = c.image == 2 ? mca.Resi : mca.TabImaRec[c.image];
    target(3, 4) = c.value;
    mca.TabImaRec[0](3, 4) = c.other != 0.f ? c.other : mca.TabImaRec[0](3, 4);
    EXPECT_EXIT_STATUS(refuse_non_finite_results(mca, "out.fits"), 255,
                       "results hold [12] pixels that are not finite numbers.*\\(out.fits\\)")
        << c.what;
    target(3, 4) = 1e37f;
    mca.TabImaRec[0](3, 4) = 1.f;
    refuse_non_finite_results(mca, "out.fits");  // finite everywhere: returns
  }
}

// A finite pixel of 1e38 used to make every pixel of the sum and of the
// residual NaN, written with status 0.
TEST_F(QzMcaProgram, HugeInputPixelWritesNoResult) {
  FitsImage in(random_image(32, 32, 9u, 40.f, 60.f));
  in.at(16, 16) = 1e38f;
  write_fits(path("in.fits"), in);
  for (const char* bases : {"", "-t 5"}) {
    EXPECT_EQ(run(std::string(bases) + " -i 3 in.fits out.fits"), 255) << bases << output_;
    EXPECT_TRUE(printed("not finite numbers") || printed("lie beyond")) << output_;
    EXPECT_FALSE(exists("out.fits") || exists("out_resi.fits") || exists("out_atrou.fits") ||
                 exists("out_cos.fits"))
        << bases;
  }
}
