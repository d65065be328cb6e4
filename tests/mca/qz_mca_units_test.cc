// The same image in other units: the data times a factor f, with the noise
// level given as f times the reference's or estimated from the data, runs
// as many iterations and gives every result times f, for every base, both
// schedules and the options that touch the noise levels. A power of two
// scales every float operation exactly, so there the results must be the
// same bits; other factors round differently, and a coefficient sitting on
// its threshold may fall either side.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/qz_mca_program.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

struct UnitCase {
  const char* args;
  std::vector<const char*> suffixes;  // the components besides the sum and the residual
  bool holes = false;                 // squares of missing (zero) pixels
  int side = 64;
};

// Small images and few iterations; the MOM runs are long enough for the
// step to meet its floor (half a noise unit) before the last level.
const UnitCase Cases[] = {
    {"-t 1 -i 8", {"_atrou"}},
    {"-t 2 -i 8", {"_wt"}},
    {"-t 3 -L -S 20 -i 6", {"_rid"}},
    {"-t 4 -i 4", {"_cur"}},
    {"-t 5 -B 16 -i 8", {"_cos"}},
    {"-t 6 -i 8", {"_wp"}},
    {"-t 7 -i 6", {"_pcur"}},
    {"-t 8 -i 6", {"_fcur"}},
    {"-t 9 -n 3 -L -S 20 -i 6", {"_mcos"}},
    {"-i 60", {"_atrou", "_cur"}},                      // the default dictionary, MOM
    {"-t 1 -t 5 -i 200", {"_atrou", "_cos"}},            // MOM with its floor reached
    {"-t 2 -t 6 -M -i 60", {"_wt", "_wp"}},              // MAD levels
    {"-t 7 -t 8 -M -i 40", {"_pcur", "_fcur"}},
    {"-t 1 -t 5 -L -l -K -i 8", {"_atrou", "_cos"}},     // last scale removed and killed
    {"-t 1 -t 5 -N -c 0.5 -i 60", {"_atrou", "_cos"}},  // L1 and correlation, MOM
    {"-t 2 -t 9 -L -G 0.5 -i 8", {"_wt", "_mcos"}},      // total variation
    {"-t 3 -t 4 -L -i 6", {"_rid", "_cur"}},
    {"-t 1 -t 5 -H -i 30", {"_atrou", "_cos"}, true},  // masked pixels, MOM
    {"-t 4 -H -i 4", {"_cur"}, true},
    {"-t 4 -t 5 -I -L -i 3", {"_cur", "_cos"}, false, 32},  // super-resolution
    {"-t 7 -I -i 3", {"_pcur"}, false, 32},
};

// The reference image: a bump and stripes on a background of 40, unit noise.
// With holes, squares of 4 x 4 pixels are missing.
FitsImage reference_image(int side, bool holes) {
  FitsImage ima(striped_bump_image(side, 4));
  if (holes)
    for (int i0 : {8, 30, 50})
      for (int j0 : {12, 40})
        for (int i = i0; i < i0 + 4; i++)
          for (int j = j0; j < j0 + 4; j++) ima.at(i, j) = 0.f;
  return ima;
}

// The iterations a run made: one MOM calculation follows each but the last
// (none under the linear schedule, whose count is fixed by -i).
int mom_steps(const std::string& output) {
  int count = 0;
  for (size_t at = output.find("MOM calculation"); at != std::string::npos;
       at = output.find("MOM calculation", at + 1))
    count++;
  return count;
}

double l2_norm(const std::vector<float>& v) {
  double sum = 0.;
  for (float x : v) sum += double(x) * x;
  return std::sqrt(sum);
}

std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

class QzMcaUnits : public QzMcaProgram {
 protected:
  // Runs args on in.fits and its copy times `factor`, with the noise level
  // given as `noise` and factor * noise, or estimated (noise 0) in both.
  void expect_scaled(const UnitCase& c, double factor, double noise) {
    const FitsImage in = reference_image(c.side, c.holes);
    FitsImage scaled = in;
    for (float& p : scaled.pixels) p = static_cast<float>(p * factor);
    write_fits(path("in.fits"), in);
    write_fits(path("scaled.fits"), scaled);
    const std::string args = c.args;
    const std::string what = args + " at " + number(factor) + (noise > 0 ? " -g given" : " -g 0");
    ASSERT_EQ(run(args + " -g " + number(noise) + " in.fits ref.fits"), 0) << what << output_;
    const int steps = mom_steps(output_);
    const std::string scaled_noise = noise > 0 ? number(factor * noise) : "0";
    ASSERT_EQ(run(args + " -g " + scaled_noise + " scaled.fits out.fits"), 0) << what << output_;
    EXPECT_EQ(mom_steps(output_), steps) << what;
    double largest_in = 0.;
    for (float p : in.pixels) largest_in = std::max(largest_in, std::fabs(double(p)));
    std::vector<std::string> names = {"", "_resi"};
    for (const char* s : c.suffixes) names.push_back(s);
    int exponent;
    const bool exact = std::frexp(factor, &exponent) == 0.5;
    for (const std::string& name : names) {
      const FitsImage ref = result("ref" + name + ".fits"), out = result("out" + name + ".fits");
      ASSERT_EQ(out.pixels.size(), ref.pixels.size()) << what << " " << name;
      std::vector<float> back(out.pixels.size()), expected(ref.pixels.size());
      for (size_t k = 0; k < ref.pixels.size(); k++) {
        expected[k] = static_cast<float>(ref.pixels[k] * factor);
        back[k] = static_cast<float>(out.pixels[k] / factor);
      }
      if (exact) {
        size_t differ = 0;
        for (size_t k = 0; k < ref.pixels.size(); k++) differ += out.pixels[k] != expected[k];
        EXPECT_EQ(differ, 0u) << what << " " << name;
        continue;
      }
      // Rounding differs from one unit to another, so a coefficient on its
      // threshold may switch, and under MOM the levels that follow the
      // residual carry the switch on: the errors are measured against the
      // data's scale, the residual's included.
      EXPECT_LT(qz_test::relative_l2_error(back.data(), ref.pixels.data(), back.size()) *
                    l2_norm(ref.pixels) / l2_norm(in.pixels),
                1e-2)
          << what << " " << name;
      EXPECT_LT(qz_test::max_abs_difference(back, ref.pixels), 0.06 * largest_in)
          << what << " " << name;
    }
  }
};

TEST_F(QzMcaUnits, PowerOfTwoFactorGivesTheSameBits) {
  for (const UnitCase& c : Cases) {
    expect_scaled(c, std::ldexp(1., -40), 1.);
    expect_scaled(c, std::ldexp(1., -40), 0.);
  }
}

// Far from unit noise, squares and products of pixel values leave the float
// range (values near 1e-30 square below the smallest float): such data are
// separated as well as any other.
TEST_F(QzMcaUnits, ExtremeUnitsGiveTheSameResults) {
  for (const UnitCase& c : Cases) {
    expect_scaled(c, std::ldexp(1., -100), 1.);
    expect_scaled(c, std::ldexp(1., 60), 0.);
  }
  for (const UnitCase& c : {Cases[2], Cases[6], Cases[17]}) expect_scaled(c, 1e-30, 0.);
}

TEST_F(QzMcaUnits, OtherFactorsAgreeWithinRounding) {
  for (const UnitCase& c : Cases)
    for (double factor : {1e-18, 1e3}) {
      expect_scaled(c, factor, 1.);
      expect_scaled(c, factor, 0.);
    }
}

// An image is flat when its estimated noise is lost in the float resolution
// of its own values, in any units; an image with noise is never flat, however
// small its units. The refusal names the file and its advice (-g) works.
TEST_F(QzMcaUnits, FlatImageIsJudgedAgainstItsOwnValues) {
  const double tiny = std::ldexp(1., -80);
  FitsImage rounding(32, 32), noisy = reference_image(32, false);
  // Values that differ in their last bit only: no noise a float can hold.
  for (size_t k = 0; k < rounding.pixels.size(); k++)
    rounding.pixels[k] = 4096.f + ((k * 7) % 3 == 0 ? 0.00048828125f : 0.f);
  const struct {
    FitsImage image;
    double factor;
    bool flat;
  } cases[] = {{rounding, 1., true}, {rounding, tiny, true}, {noisy, tiny, false},
               {noisy, 1e-30, false}};
  for (const auto& c : cases) {
    FitsImage scaled = c.image;
    for (float& p : scaled.pixels) p = static_cast<float>(p * c.factor);
    write_fits(path("in.fits"), scaled);
    const std::string what = number(c.factor);
    if (!c.flat) {
      EXPECT_EQ(run("-t 1 -i 2 -g 0 in.fits out.fits"), 0) << what << output_;
      continue;
    }
    EXPECT_EQ(run("-t 1 -i 2 -g 0 in.fits flat.fits"), 255) << what;
    EXPECT_TRUE(printed("the image looks noiseless or flat; give the noise level with -g ... "
                        "(in.fits)"))
        << what << output_;
    EXPECT_FALSE(exists("flat.fits") || exists("flat_atrou.fits")) << what;
    // The level given is the level used, however small.
    ASSERT_EQ(run("-t 1 -i 2 -v -g " + number(c.factor * 1e-3) + " in.fits out.fits"), 0)
        << what << output_;
    EXPECT_TRUE(printed(" Noise = ")) << what;
    EXPECT_FALSE(printed("Estimated Noise")) << what;
  }
}

// The messages say what is wrong and what helps.
TEST_F(QzMcaUnits, MessagesNameTheCauseOfAMissingNoiseLevel) {
  // A flat image with one spike: most wavelet coefficients are equal, so
  // their median absolute deviation is 0, whatever -g says.
  FitsImage spike(32, 32);
  for (float& p : spike.pixels) p = 10.f;
  spike.at(16, 16) = 50.f;
  write_fits(path("spike.fits"), spike);
  // Every other pixel missing: no 3 x 3 window free of missing pixels.
  FitsImage checker = reference_image(32, false);
  for (int i = 0; i < 32; i++)
    for (int j = (i % 2); j < 32; j += 2) checker.at(i, j) = 0.f;
  write_fits(path("checker.fits"), checker);
  const struct {
    const char* args;
    const char* message;
    const char* not_said;
  } cases[] = {
      {"-t 1 -t 5 -M -g 1 spike.fits out.fits",
       "AT band 1 has a noise level of 0: its median absolute deviation (-M) is 0", "noiseless"},
      {"-t 1 -t 5 -M -g 1 spike.fits out.fits", "run without -M", "give the noise level"},
      {"-t 1 -H -g 0 checker.fits out.fits",
       "every 3 x 3 window of the image holds a missing (zero) pixel", "noiseless"},
      {"-t 1 -H -g 0 checker.fits out.fits", "give the noise level with -g ... (checker.fits)",
       "flat"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(std::string("-i 2 ") + c.args), 255) << c.args;
    EXPECT_TRUE(printed(c.message)) << c.args << "\n" << output_;
    EXPECT_FALSE(printed(c.not_said)) << c.args << "\n" << output_;
    EXPECT_FALSE(exists("out.fits")) << c.args;
  }
  // What the message advises works.
  EXPECT_EQ(run("-i 2 -t 1 -t 5 -g 1 spike.fits out.fits"), 0) << output_;
  EXPECT_EQ(run("-i 2 -t 1 -H -g 1 checker.fits out.fits"), 0) << output_;
}

}  // namespace
