// The data times f, with the noise level given times f or estimated, run as
// many iterations and give every result times f, for every base, both
// schedules and the options that touch the noise levels: the same bits for a
// power of two, which scales every float operation exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/qz_mca_program.h"
#include "support/test_images.h"

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

FitsImage times(FitsImage ima, double factor) {
  for (float& p : ima.pixels) p = static_cast<float>(p * factor);
  return ima;
}

// The iterations a run made: one MOM calculation follows each but the last
// (none under the linear schedule, whose count is fixed by -i).
int mom_steps(const std::string& output) {
  int count = 0;
  for (size_t at = 0; (at = output.find("MOM calculation", at)) != std::string::npos; at++) count++;
  return count;
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
    write_fits(path("in.fits"), in);
    write_fits(path("scaled.fits"), times(in, factor));
    const std::string args = c.args, what = args + " at " + number(factor) + " -g " + number(noise);
    ASSERT_EQ(run(args + " -g " + number(noise) + " in.fits ref.fits"), 0) << what << output_;
    const int steps = mom_steps(output_);
    ASSERT_EQ(run(args + " -g " + number(factor * noise) + " scaled.fits out.fits"), 0)
        << what << output_;
    EXPECT_EQ(mom_steps(output_), steps) << what;
    double in_norm2 = 0., largest_in = 0.;
    for (float p : in.pixels) {
      in_norm2 += double(p) * p;
      largest_in = std::max(largest_in, std::fabs(double(p)));
    }
    int exponent;
    const bool exact = std::frexp(factor, &exponent) == 0.5;
    std::vector<std::string> names = {"", "_resi"};
    names.insert(names.end(), c.suffixes.begin(), c.suffixes.end());
    for (const std::string& name : names) {
      const FitsImage ref = result("ref" + name + ".fits"), out = result("out" + name + ".fits");
      ASSERT_EQ(out.pixels.size(), ref.pixels.size()) << what << " " << name;
      size_t differ = 0;
      double err2 = 0., largest = 0.;
      for (size_t k = 0; k < ref.pixels.size(); k++) {
        differ += out.pixels[k] != static_cast<float>(ref.pixels[k] * factor);
        const double d = static_cast<float>(out.pixels[k] / factor) - double(ref.pixels[k]);
        err2 += d * d;
        largest = std::max(largest, std::fabs(d));
      }
      if (exact) {
        EXPECT_EQ(differ, 0u) << what << " " << name;
        continue;
      }
      // A coefficient on its threshold may round either side, and under MOM
      // the levels carry the switch on: errors against the data's scale.
      EXPECT_LT(std::sqrt(err2 / in_norm2), 1e-2) << what << " " << name;
      EXPECT_LT(largest, 0.06 * largest_in) << what << " " << name;
    }
  }
};

// Far from unit noise, squares and products of pixel values leave the float
// range (values near 1e-30 square below the smallest float): such data are
// separated as well as any other.
TEST_F(QzMcaUnits, PowerOfTwoFactorsGiveTheSameBitsFarFromUnitNoiseToo) {
  for (const UnitCase& c : Cases) {
    for (double noise : {1., 0.}) expect_scaled(c, std::ldexp(1., -40), noise);
    expect_scaled(c, std::ldexp(1., -100), 1.);
    expect_scaled(c, std::ldexp(1., 60), 0.);
  }
  for (const UnitCase& c : {Cases[2], Cases[6], Cases[17]}) expect_scaled(c, 1e-30, 0.);
}

TEST_F(QzMcaUnits, OtherFactorsAgreeWithinRounding) {
  for (const UnitCase& c : Cases)
    for (double factor : {1e-18, 1e3})
      for (double noise : {1., 0.}) expect_scaled(c, factor, noise);
}

// The refusals for want of a noise level say what is wrong and what helps,
// and what helps works. An image is flat when its estimated noise is lost in
// the float resolution of its own values, in any units (noisy images in tiny
// units run above); a level given is the level used, however small.
TEST_F(QzMcaUnits, RefusalsNameTheCauseOfAMissingNoiseLevel) {
  FitsImage rounding(32, 32), spike(32, 32), checker = reference_image(32, false);
  // Values that differ in their last bit only: no noise a float can hold.
  for (size_t k = 0; k < rounding.pixels.size(); k++)
    rounding.pixels[k] = 4096.f + ((k * 7) % 3 == 0 ? 0.00048828125f : 0.f);
  const double tiny = std::ldexp(1., -80);
  write_fits(path("rounding.fits"), rounding);
  write_fits(path("tiny.fits"), times(rounding, tiny));
  // A flat image with one spike: most wavelet coefficients are equal, so
  // their median absolute deviation is 0, whatever -g says.
  for (float& p : spike.pixels) p = 10.f;
  spike.at(16, 16) = 50.f;
  write_fits(path("spike.fits"), spike);
  // Every other pixel missing: no 3 x 3 window free of missing pixels.
  for (int i = 0; i < 32; i++)
    for (int j = (i % 2); j < 32; j += 2) checker.at(i, j) = 0.f;
  write_fits(path("checker.fits"), checker);
  const std::string flat = "the image looks noiseless or flat; give the noise level with -g ... ";
  const struct {
    std::string args, advised;
    std::vector<std::string> said, not_said;
  } cases[] = {
      {"-t 1 -g 0 rounding.fits", "-t 1 -g 1e-3 rounding.fits", {flat + "(rounding.fits)"}, {}},
      {"-t 1 -g 0 tiny.fits", "-t 1 -g " + number(tiny * 1e-3) + " tiny.fits",
       {flat + "(tiny.fits)"}, {}},
      {"-t 1 -t 5 -M -g 1 spike.fits", "-t 1 -t 5 -g 1 spike.fits",
       {"AT band 1 has a noise level of 0: its median absolute deviation (-M) is 0",
        "run without -M"},
       {"noiseless", "give the noise level"}},
      {"-t 1 -H -g 0 checker.fits", "-t 1 -H -g 1 checker.fits",
       {"every 3 x 3 window of the image holds a missing (zero) pixel",
        "give the noise level with -g ... (checker.fits)"},
       {"noiseless", "flat"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run("-i 2 " + c.args + " no.fits"), 255) << c.args;
    for (const auto& text : c.said) EXPECT_TRUE(printed(text)) << c.args << "\n" << output_;
    for (const auto& text : c.not_said) EXPECT_FALSE(printed(text)) << c.args << "\n" << output_;
    EXPECT_FALSE(exists("no.fits") || exists("no_atrou.fits")) << c.args;
    ASSERT_EQ(run("-i 2 -v " + c.advised + " out.fits"), 0) << c.advised << "\n" << output_;
    EXPECT_TRUE(printed(" Noise = ") && !printed("Estimated Noise")) << c.advised << output_;
  }
}

}  // namespace
