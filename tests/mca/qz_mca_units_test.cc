// The data times f, with the noise level given times f or estimated, run as
// many iterations and give every result times f, for every base, both
// schedules and the options that touch the noise levels: the same bits for a
// power of two, which scales every float operation exactly; the debug images
// and the values printed follow. Also what makes a noise level unusable, and
// the range a super-resolved 8-bit image keeps to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
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
  // When not 0: the image, on a background raised by 200 so that the sum of
  // its pixels nears their count times the largest, scaled so that its
  // largest pixel is this share of the most the sums hold, FLT_MAX over the
  // pixel count.
  double share_of_range = 0.;
};

// Small images and few iterations; the MOM runs are long enough for the
// step to meet its floor (half a noise unit) before the last level.
// -w writes snapshots and the running sum, -H the pre-filled input, -v and
// -l print values in data units: all in the input's units.
const UnitCase Cases[] = {
    {"-t 1 -M -v -i 8", {"_atrou"}},
    {"-t 2 -w -i 8", {"_wt"}},
    {"-t 3 -L -S 20 -i 6", {"_rid"}},
    {"-t 4 -i 4", {"_cur"}},
    {"-t 5 -B 16 -i 8", {"_cos"}},
    {"-t 6 -i 8", {"_wp"}},
    {"-t 7 -i 6", {"_pcur"}},
    {"-t 8 -i 6", {"_fcur"}},
    {"-t 9 -n 3 -L -S 20 -i 6", {"_mcos"}},
    {"-i 60", {"_atrou", "_cur"}},                      // the default dictionary, MOM
    {"-t 1 -t 5 -i 200", {"_atrou", "_cos"}},            // MOM with its floor reached
    {"-t 2 -t 6 -M -v -i 60", {"_wt", "_wp"}},           // MAD levels
    {"-t 7 -t 8 -M -i 40", {"_pcur", "_fcur"}},
    {"-t 1 -t 5 -L -l -K -i 8", {"_atrou", "_cos"}},     // last scale removed and killed
    {"-t 1 -t 5 -N -c 0.5 -v -i 60", {"_atrou", "_cos"}},  // L1 and correlation, MOM
    {"-t 2 -t 9 -L -G 0.5 -i 8", {"_wt", "_mcos"}},      // total variation
    {"-t 3 -t 4 -L -i 6", {"_rid", "_cur"}},
    {"-t 1 -t 5 -H -w -i 30", {"_atrou", "_cos"}, true},  // masked pixels, MOM
    {"-t 4 -H -i 4", {"_cur"}, true},
    {"-t 4 -t 5 -I -L -v -i 3", {"_cur", "_cos"}, false, 32},  // super-resolution
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

FitsImage case_image(const UnitCase& c) {
  FitsImage in = reference_image(c.side, c.holes);
  if (c.share_of_range == 0.) return in;
  double largest = 0.;
  for (float& p : in.pixels) {
    p += 200.f;
    largest = std::max(largest, std::fabs(double(p)));
  }
  return times(in, c.share_of_range * FLT_MAX / (double(c.side) * c.side) / largest);
}

// The debug images a run left, all named "xx..." in its directory.
std::vector<std::string> debug_images(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, 2, "xx") == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The lines of a verbose run that show values: those in data units (noise
// levels and image statistics) and those in noise units (levels and
// maxima), in order.
struct ShownValues {
  std::vector<std::string> data_lines, noise_lines;
};
ShownValues shown_values(const std::string& output) {
  static const char* const DataKeys[] = {"Gaussian noise estimation", ": Min = ", "Noise Level",
                                         "MAXCOS", "Estimated Noise", " Noise = "};
  static const char* const NoiseUnitKeys[] = {"MAX_NormCoef", "Maximum SNR", "FirstThreshold",
                                              "Lambda = "};
  ShownValues shown;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    for (const char* key : DataKeys)
      if (line.find(key) != std::string::npos) {
        shown.data_lines.push_back(line);
        break;
      }
    for (const char* key : NoiseUnitKeys)
      if (line.find(key) != std::string::npos) {
        shown.noise_lines.push_back(line);
        break;
      }
  }
  return shown;
}

// The numbers after each '=' of a line.
std::vector<double> values_of(const std::string& line) {
  std::vector<double> values;
  for (size_t at = line.find('='); at != std::string::npos; at = line.find('=', at + 1))
    values.push_back(std::strtod(line.c_str() + at + 1, nullptr));
  return values;
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
    const FitsImage in = case_image(c);
    write_fits(path("in.fits"), in);
    write_fits(path("scaled.fits"), times(in, factor));
    for (const std::string& name : debug_images(dir_)) std::filesystem::remove(path(name));
    const std::string args = c.args, what = args + " at " + number(factor) + " -g " + number(noise);
    ASSERT_EQ(run(args + " -g " + number(noise) + " in.fits ref.fits"), 0) << what << output_;
    const int steps = mom_steps(output_);
    const ShownValues ref_shown = shown_values(output_);
    // The debug images of the reference, kept apart as "ref_xx...".
    const std::vector<std::string> debug = debug_images(dir_);
    for (const std::string& name : debug) std::filesystem::rename(path(name), path("ref_" + name));
    ASSERT_EQ(run(args + " -g " + number(factor * noise) + " scaled.fits out.fits"), 0)
        << what << output_;
    EXPECT_EQ(mom_steps(output_), steps) << what;
    EXPECT_EQ(debug_images(dir_), debug) << what;
    double in_norm2 = 0., largest_in = 0.;
    for (float p : in.pixels) {
      in_norm2 += double(p) * p;
      largest_in = std::max(largest_in, std::fabs(double(p)));
    }
    int exponent;
    const bool exact = std::frexp(factor, &exponent) == 0.5;
    if (exact) expect_shown_scaled(ref_shown, shown_values(output_), factor, what);
    std::vector<std::string> names;
    for (const std::string& name : {std::string(""), std::string("_resi")})
      names.push_back("out" + name + ".fits");
    for (const char* suffix : c.suffixes) names.push_back("out" + std::string(suffix) + ".fits");
    names.insert(names.end(), debug.begin(), debug.end());
    for (const std::string& name : names) {
      const std::string ref_name = name.compare(0, 3, "out") == 0 ? "ref" + name.substr(3)
                                                                   : "ref_" + name;
      const FitsImage ref = result(ref_name), out = result(name);
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

  // The values printed in data units are the reference's times the factor
  // (to the six digits printed), those in noise units the same text.
  static void expect_shown_scaled(const ShownValues& ref, const ShownValues& out, double factor,
                                  const std::string& what) {
    EXPECT_EQ(out.noise_lines, ref.noise_lines) << what;
    ASSERT_EQ(out.data_lines.size(), ref.data_lines.size()) << what;
    for (size_t k = 0; k < ref.data_lines.size(); k++) {
      const std::vector<double> want = values_of(ref.data_lines[k]),
                                got = values_of(out.data_lines[k]);
      ASSERT_EQ(got.size(), want.size()) << what << ": " << out.data_lines[k];
      for (size_t v = 0; v < want.size(); v++)
        EXPECT_NEAR(got[v], want[v] * factor, 1e-5 * std::fabs(want[v] * factor))
            << what << ": " << out.data_lines[k] << " against " << ref.data_lines[k];
    }
  }
};

// Far from unit noise, squares and products of pixel values leave the float
// range (values near 1e-30 square below the smallest float): such data are
// separated as well as any other. Below 2^-126 a noise level is a subnormal
// float, and the largest float factor lifts it short of 1. Near the most the
// sums hold, the data are lifted as far as they fit.
TEST_F(QzMcaUnits, PowerOfTwoFactorsGiveTheSameBitsFarFromUnitNoiseToo) {
  for (const UnitCase& c : Cases) {
    for (double noise : {1., 0.}) expect_scaled(c, std::ldexp(1., -40), noise);
    expect_scaled(c, std::ldexp(1., -100), 1.);
    expect_scaled(c, std::ldexp(1., 60), 0.);
  }
  for (const UnitCase& c : {Cases[2], Cases[6], Cases[17]}) expect_scaled(c, 1e-30, 0.);
  for (const UnitCase& c : {Cases[0], Cases[10], Cases[17]})
    expect_scaled(c, std::ldexp(1., -128), 1.);
  // Scaled to noise 1.9, the data would pass the limit twice over.
  const UnitCase near_range = {"-t 5 -B 64 -L -i 4", {"_cos"}, false, 64, 0.9};
  expect_scaled(near_range, std::ldexp(1., -100), 0.95);
}

TEST_F(QzMcaUnits, OtherFactorsAgreeWithinRounding) {
  for (const UnitCase& c : Cases)
    for (double factor : {1e-18, 1e3})
      for (double noise : {1., 0.}) expect_scaled(c, factor, noise);
}

// The refusals for want of a usable noise level say what is wrong and what
// helps, and what helps works. An image is flat when its estimated noise is
// lost in the float resolution of its typical values, in any units (noisy
// images in tiny units run above); a level given is the level used, however
// small, unless the pixels counted in it pass what the sums hold.
TEST_F(QzMcaUnits, RefusalsNameTheCauseOfAMissingNoiseLevel) {
  FitsImage rounding(32, 32), spike(32, 32), checker = reference_image(32, false);
  write_fits(path("noisy.fits"), checker);
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
      // Thresholds of 1e40 noise units were infinite, and the run ended as
      // a success; a subnormal level is a level too.
      {"-t 1 -g 1.2e-38 noisy.fits", "-t 1 -g 1e-20 noisy.fits",
       {"the noise level 1.2e-38 is too small against pixel values up to",
        "give a larger noise level with -g ... (noisy.fits)"},
       {"bad sigma noise"}},
      {"-t 5 -g 1e-40 noisy.fits", "-t 5 -g 1e-20 noisy.fits",
       {"the noise level 9.99995e-41 is too small against pixel values up to"},
       {"bad sigma noise"}},
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

// A noisy image is not flat because one pixel is bright: judged against its
// largest pixel, noise 1 under a star of 2e7, or noise 0.005 beside a cosmic
// ray of 65535, looked lost in the float resolution. A constant image, a
// noiseless ramp and a constant in tiny units are flat.
TEST_F(QzMcaUnits, FlatnessIsJudgedOnTypicalPixelsNotTheBrightest) {
  std::mt19937 gen(12);
  std::normal_distribution<float> unit(0.f, 1.f);
  auto noisy = [&](float level, float sigma) {
    FitsImage ima(32, 32);
    for (float& p : ima.pixels) p = level + sigma * unit(gen);
    return ima;
  };
  FitsImage star = noisy(100.f, 1.f), cosmic = noisy(200.f, 0.005f), ramp(32, 32);
  star.at(16, 16) = 2e7f;
  cosmic.at(5, 9) = 65535.f;
  for (int i = 0; i < 32; i++)
    for (int j = 0; j < 32; j++) ramp.at(i, j) = float(3 * i + 7 * j);
  const struct {
    const char* name;
    FitsImage image;
    bool flat;
  } cases[] = {
      {"star", star, false},
      {"cosmic", cosmic, false},
      {"zero_mean", noisy(0.f, 1.f), false},
      {"constant", noisy(12.f, 0.f), true},
      {"ramp", ramp, true},
      {"tiny_constant", noisy(4e-17f, 0.f), true},
  };
  for (const auto& c : cases) {
    const std::string name = c.name;
    write_fits(path(name + ".fits"), c.image);
    EXPECT_EQ(run("-t 1 -i 2 -g 0 " + name + ".fits " + name + "_out.fits"), c.flat ? 255 : 0)
        << name << output_;
    EXPECT_EQ(printed("the image looks noiseless or flat"), c.flat) << name << output_;
    EXPECT_EQ(exists(name + "_out_atrou.fits"), !c.flat) << name;
  }
}

// A super-resolved image keeps to 0..255 only where the pixel values are
// 8-bit: bytes of a FITS image stored without scaling, or of an 8-bit
// format. Bytes stored with BSCALE are other values, and so are floats:
// their zoomed edges keep their overshoot. Scaled near unit noise, the data
// take the limit with them.
TEST_F(QzMcaUnits, SuperResolutionKeepsTo255OnlyFor8BitValues) {
  // Blocks of 250 and 10: the zoom overshoots their edges.
  std::mt19937 gen(5);
  std::normal_distribution<float> unit(0.f, 2.f);
  FitsImage blocks(16, 16);
  for (int i = 0; i < 16; i++)
    for (int j = 0; j < 16; j++) {
      const float level = (i / 4 + j / 4) % 2 == 0 ? 250.f : 10.f;
      blocks.at(i, j) = std::clamp(std::round(level + unit(gen)), 0.f, 255.f);
    }
  write_fits(path("float.fits"), blocks);
  write_fits(path("byte.fits"), blocks, BYTE_IMG);
  {
    // Bytes times 4: values up to 1020.
    fitsfile* f = nullptr;
    int status = 0;
    long axes[2] = {16, 16};
    std::vector<float> values;
    for (float p : blocks.pixels) values.push_back(4.f * p);
    fits_create_file(&f, ("!" + path("scaled_bytes.fits")).c_str(), &status);
    fits_create_img(f, BYTE_IMG, 2, axes, &status);
    fits_write_key_dbl(f, "BSCALE", 4., -1, "", &status);
    fits_write_key_dbl(f, "BZERO", 0., -1, "", &status);
    fits_set_bscale(f, 4., 0., &status);
    fits_write_img(f, TFLOAT, 1, values.size(), values.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
  }
  {
    std::ofstream pgm(path("bytes.pgm"), std::ios::binary);
    pgm << "P5\n16 16\n255\n";
    for (float p : blocks.pixels) pgm.put(static_cast<char>(static_cast<unsigned char>(p)));
  }
  const struct {
    const char* input;
    std::string noise;
    double top;    // the largest value the curvelet component reaches
    bool clipped;  // at top exactly, else above it
  } cases[] = {
      {"byte.fits", "1", 255., true},
      {"byte.fits", number(std::ldexp(1., -40)), 255., true},
      {"bytes.pgm", "1", 255., true},
      {"scaled_bytes.fits", "4", 1020., false},
      {"float.fits", "1", 255., false},
  };
  for (const auto& c : cases) {
    const bool pgm = std::strstr(c.input, ".pgm") != nullptr;
    const std::string what = std::string(c.input) + " -g " + c.noise;
    const std::string output = pgm ? " out.pgm" : " out.fits";
    ASSERT_EQ(run("-t 4 -I -L -i 3 -v -g " + c.noise + " " + c.input + output), 0)
        << what << output_;
    // The 8-bit writer could not show a value above 255: the last statistics
    // line of the component tells.
    const size_t line = output_.rfind("Curvelet proj    REC: ");
    ASSERT_NE(line, std::string::npos) << what;
    const std::vector<double> shown =
        values_of(output_.substr(line, output_.find('\n', line) - line));
    ASSERT_EQ(shown.size(), 5u) << what;
    double largest = shown[1];
    if (!pgm) {
      const FitsImage cur = result("out_cur.fits");
      largest = *std::max_element(cur.pixels.begin(), cur.pixels.end());
      EXPECT_NEAR(shown[1], largest, 1e-5 * largest) << what;
    }
    if (c.clipped) EXPECT_EQ(largest, c.top) << what;
    else EXPECT_GT(largest, 1.1 * c.top) << what;
  }
}

}  // namespace
