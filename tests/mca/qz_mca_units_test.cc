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
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/qz_mca_program.h"
#include "support/test_images.h"

namespace {

struct UnitCase {
  const char* args;
  bool holes = false;  // squares of missing (zero) pixels
  int side = 64;
  // When not 0, the largest pixel is this share of the most the sums hold,
  // on a background raised by 200 so that the sums near the pixel count
  // times the largest pixel.
  double share_of_range = 0.;
};

// Small images and few iterations; the MOM runs are long enough for the
// step to meet its floor (half a noise unit) before the last level.
// -w writes snapshots and the running sum, -H the pre-filled input, -v and
// -l print values in data units: all in the input's units.
const UnitCase Cases[] = {
    {"-t 1 -M -v -i 8"},
    {"-t 2 -w -i 8"},
    {"-t 3 -L -S 20 -i 6"},
    {"-t 4 -i 4"},
    {"-t 5 -B 16 -i 8"},
    {"-t 6 -i 8"},
    {"-t 7 -i 6"},
    {"-t 8 -i 6"},
    {"-t 9 -n 3 -L -S 20 -i 6"},
    {"-i 60"},                         // the default dictionary, MOM
    {"-t 1 -t 5 -i 200"},              // MOM with its floor reached
    {"-t 2 -t 6 -M -v -i 60"},         // MAD levels
    {"-t 7 -t 8 -M -i 40"},
    {"-t 1 -t 5 -L -l -K -i 8"},       // last scale removed and killed
    {"-t 1 -t 5 -N -c 0.5 -v -i 60"},  // L1 and correlation, MOM
    {"-t 2 -t 9 -L -G 0.5 -i 8"},      // total variation
    {"-t 3 -t 4 -L -i 6"},
    {"-t 1 -t 5 -H -w -i 30", true},   // masked pixels, MOM
    {"-t 4 -H -i 4", true},
    {"-t 4 -t 5 -I -L -v -i 3", false, 32},  // super-resolution
    {"-t 7 -I -i 3", false, 32},
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

// The numbers after each '=' of a line.
std::vector<double> values_of(const std::string& line) {
  std::vector<double> values;
  for (size_t at = line.find('='); at != std::string::npos; at = line.find('=', at + 1))
    values.push_back(std::strtod(line.c_str() + at + 1, nullptr));
  return values;
}

// The files a run left in a folder.
std::set<std::string> files_in(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
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
  // Runs args on the case's image in the folder ref and on its copy times
  // `factor` in the folder out, with the noise level given as `noise` and
  // factor * noise, or estimated (noise 0) in both; compares every file the
  // runs left, debug images too.
  void expect_scaled(const UnitCase& c, double factor, double noise) {
    FitsImage in = reference_image(c.side, c.holes);
    if (c.share_of_range > 0.) {
      for (float& p : in.pixels) p += 200.f;
      const float largest = *std::max_element(in.pixels.begin(), in.pixels.end());
      in = times(in, c.share_of_range * FLT_MAX / in.pixels.size() / largest);
    }
    const std::string what = c.args + (" at " + number(factor) + " -g " + number(noise));
    std::string output[2];
    for (int k = 0; k < 2; k++) {
      const char* folder = k == 0 ? "ref" : "out";
      const double f = k == 0 ? 1. : factor;
      std::filesystem::remove_all(path(folder));
      std::filesystem::create_directory(path(folder));
      write_fits(path(folder) + "/in.fits", times(in, f));
      ASSERT_EQ(run(c.args + (" -g " + number(f * noise) + " in.fits res.fits"), "", folder), 0)
          << what << output_;
      output[k] = output_;
    }
    EXPECT_EQ(mom_steps(output[1]), mom_steps(output[0])) << what;
    const std::set<std::string> names = files_in(path("ref"));
    EXPECT_EQ(files_in(path("out")), names) << what;
    double in_norm2 = 0., largest_in = 0.;
    for (float p : in.pixels) {
      in_norm2 += double(p) * p;
      largest_in = std::max(largest_in, std::fabs(double(p)));
    }
    int exponent;
    const bool exact = std::frexp(factor, &exponent) == 0.5;
    if (exact) expect_output_scaled(output[0], output[1], factor, what);
    for (const std::string& name : names) {
      const FitsImage ref = result("ref/" + name), out = result("out/" + name);
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

  // Line by line but for the one that tells the scaling, the values in data
  // units (image statistics, noise levels) are the reference's times the
  // factor, to the six digits printed, and those in noise units the same.
  static void expect_output_scaled(const std::string& ref_output, const std::string& out_output,
                                   double factor, const std::string& what) {
    static const std::regex data_line(
        ": Min = |Noise Level|MAXCOS|noise estimation|Estimated Noise| Noise = ");
    std::istringstream ref_lines(ref_output), out_lines(out_output);
    for (std::string ref, out; std::getline(ref_lines, ref);) {
      do std::getline(out_lines, out);
      while (out.find("Pixel values times") != std::string::npos);
      const double scale = std::regex_search(ref, data_line) ? factor : 1.;
      const std::vector<double> want = values_of(ref), got = values_of(out);
      ASSERT_EQ(got.size(), want.size()) << what << ": " << out << " against " << ref;
      for (size_t v = 0; v < want.size(); v++)
        EXPECT_NEAR(got[v], want[v] * scale, 1e-5 * std::fabs(want[v] * scale))
            << what << ": " << out << " against " << ref;
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
  expect_scaled(Cases[0], std::ldexp(1., -128), 1.);
  // Scaled to noise 1.9, the data would pass the limit twice over.
  expect_scaled({"-t 5 -B 64 -L -i 4", false, 64, 0.9}, std::ldexp(1., -100), 0.95);
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
      {"-t 5 -g 1e-40 noisy.fits", "-t 5 -g 1e-20 noisy.fits",
       {"the noise level 9.99995e-41 is too small against pixel values up to",
        "give a larger noise level with -g ... (noisy.fits)"},
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

// An image on an offset that dwarfs its noise (1e9 and 10, stored as
// 64-bit floats) loses that noise as it is read into 32-bit floats, which
// step by 64 there: refused as flat, it is advised to subtract the offset,
// and with the offset subtracted in the file's precision the estimate finds
// the noise again. Flat images without such an offset get no such advice.
TEST_F(QzMcaUnits, AnOffsetThatDwarfsTheNoiseIsAdvisedToBeSubtracted) {
  const to_array<float, false> noise = normal_image(64, 64, 21);
  auto write_doubles = [&](const std::string& name, double offset) {
    std::vector<double> values(static_cast<size_t>(noise.n_elem()));
    for (size_t k = 0; k < values.size(); k++) values[k] = offset + 10. * noise(static_cast<int>(k));
    fitsfile* f = nullptr;
    int status = 0;
    long axes[2] = {64, 64};
    fits_create_file(&f, ("!" + path(name)).c_str(), &status);
    fits_create_img(f, DOUBLE_IMG, 2, axes, &status);
    fits_write_img(f, TDOUBLE, 1, values.size(), values.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0) << name;
  };
  write_doubles("offset.fits", 1e9);
  write_doubles("subtracted.fits", 0.);
  const std::string advice =
      "; the image sits on an offset where the 32-bit floats it is processed in step by 64 and lose its noise: "
      "subtract the offset first\n";
  EXPECT_EQ(run("-t 1 -i 2 -g 0 offset.fits out"), 255);
  EXPECT_TRUE(printed("the image looks noiseless or flat; give the noise level with -g ... (offset.fits)" + advice))
      << output_;
  ASSERT_EQ(run("-t 1 -i 2 -g 0 -v subtracted.fits out"), 0) << output_;
  std::smatch estimate;
  ASSERT_TRUE(std::regex_search(output_, estimate, std::regex(" Estimated Noise = ([0-9.e+-]+)"))) << output_;
  EXPECT_NEAR(std::stod(estimate[1]), 10., 1.);

  // A constant image, and a noiseless ramp on an offset, whose range spans
  // millions of float steps: flat, with no offset to blame.
  FitsImage constant(32, 32), ramp(32, 32);
  for (float& p : constant.pixels) p = 1e9f;
  for (int i = 0; i < 32; i++)
    for (int j = 0; j < 32; j++) ramp.at(i, j) = 1000.f + 3.f * i + j;
  write_fits(path("constant.fits"), constant);
  write_fits(path("ramp.fits"), ramp);
  for (const char* name : {"constant.fits", "ramp.fits"}) {
    EXPECT_EQ(run(std::string("-t 1 -i 2 -g 0 ") + name + " out"), 255) << name;
    EXPECT_TRUE(printed("the image looks noiseless or flat")) << name << output_;
    EXPECT_FALSE(printed("subtract the offset")) << name << output_;
  }
}

// The advice holds for any range of a few float steps, whatever the
// offset's sign: a flat image at 1e9 or -1e9 (floats step by 64 there)
// with a few pixels 40 steps away, above or below, is advised to subtract
// the offset; 200 steps away they are features, not a lost noise.
TEST_F(QzMcaUnits, TheOffsetAdviceCoversAFewStepsOnEitherSign) {
  const struct {
    const char* name;
    float offset, away;  // the few pixels' distance from the offset, in floats' steps of 64
    bool advised;
  } cases[] = {
      {"above.fits", 1e9f, 40.f, true},      {"below.fits", 1e9f, -40.f, true},
      {"negative.fits", -1e9f, -40.f, true}, {"toward.fits", -1e9f, 40.f, true},
      {"far.fits", 1e9f, 200.f, false},      {"far_negative.fits", -1e9f, -200.f, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FitsImage flat(32, 32);
    for (std::size_t k = 0; k < flat.pixels.size(); k++)
      flat.pixels[k] = k % 97 == 13 ? c.offset + 64.f * c.away : c.offset;
    ASSERT_EQ(c.offset + 64.f * c.away - c.offset, 64.f * c.away);  // exact in floats
    write_fits(path(c.name), flat);
    EXPECT_EQ(run(std::string("-t 1 -i 2 -g 0 ") + c.name + " out"), 255);
    EXPECT_TRUE(printed(std::string("the image looks noiseless or flat; give the noise level with -g ... (") + c.name +
                        ")" + (c.advised ? "; the image sits on an offset where the 32-bit floats it is processed in "
                                           "step by 64 and lose its noise: subtract the offset first\n"
                                         : "\n")))
        << output_;
    EXPECT_FALSE(exists("out.fits"));
  }
}

// Calibrated data (noise near 1e-18) against the default noise level of 0.5
// have no coefficient above the last threshold: every component is 0 and the
// residual is the input. The run still ends well, as such data may hold no
// signal, but says why on the standard error, and only there. A level to
// measure from (-g 0), a base whose coefficients are not measured, or
// ordinary data: no word.
TEST_F(QzMcaUnits, NoCoefficientAboveTheLastThresholdIsSaid) {
  const FitsImage in = reference_image(32, false);
  write_fits(path("ordinary.fits"), in);
  write_fits(path("calibrated.fits"), times(in, 1e-18));
  const std::string said = "Warning: no coefficient reaches the last threshold, 3 times the noise level 0.5: ",
                    advice = ". If the image holds signal, give its noise level with -g, or -g 0 to estimate it\n",
                    zero = said + "every component is 0" + advice;
  const struct {
    std::string args, warning;
  } cases[] = {
      {"-t 1 -i 4 calibrated.fits", zero},
      {"-t 5 -I -i 2 calibrated.fits", zero},
      // A first level given: the iteration runs, the bases measure.
      {"-t 1 -t 5 -L -S 10 -i 4 calibrated.fits", said + "no component takes any detail" + advice},
      {"-t 1 -i 4 -g 0 calibrated.fits", ""},
      {"-t 1 -i 4 ordinary.fits", ""},
      {"-t 3 -S 10 -i 2 calibrated.fits", ""},  // ridgelets: no largest coefficient
  };
  // The program's standard error goes to its own file.
  const std::string apart = "sh -c 'exec \"$0\" \"$@\" 2>\"" + path("stderr.txt") + "\"'";
  for (const auto& c : cases) {
    ASSERT_EQ(run("-v " + c.args + " out.fits", apart), 0) << c.args << output_;
    const std::string errors = file_bytes("stderr.txt");
    EXPECT_EQ(errors, c.warning) << c.args;
    EXPECT_FALSE(printed("Warning")) << c.args;
    if (c.warning != zero || c.args.find("-I") != std::string::npos) continue;
    const FitsImage sum = result("out.fits"), resi = result("out_resi.fits");
    const FitsImage input = result(c.args.substr(c.args.rfind(' ') + 1));
    for (float p : sum.pixels) ASSERT_EQ(p, 0.f) << c.args;
    EXPECT_EQ(resi.pixels, input.pixels) << c.args;
  }
}

// Judged against its largest pixel, noise 1 under a star of 2e7 looked lost
// in the float resolution: a noisy image is not flat for one bright pixel,
// and a constant one still is. Judged against the median of all pixels, an
// image mostly 0 was flat only for an estimate of exactly 0: a plateau whose
// values differ in their last bit ran with a noise of 1.5e-4 against values
// of 4096. The zeros are left out, and mostly-zero images with real signal
// still run.
TEST_F(QzMcaUnits, FlatnessIsJudgedOnTypicalNonZeroPixels) {
  FitsImage star(normal_image(32, 32, 12)), constant(32, 32), ramp(32, 32), plateau(256, 256),
      faint(normal_image(32, 32, 13, 0.005f)), stars(64, 64),
      m51 = read_fits(std::string(QZ_SOURCE_DIR) + "/data/m51.fits");
  for (float& p : star.pixels) p += 100.f;
  star.at(16, 16) = 2e7f;
  for (float& p : constant.pixels) p = 12.f;
  for (int i = 0; i < 32; i++)
    for (int j = 0; j < 32; j++) ramp.at(i, j) = 3.f * i + j;
  for (int i = 48; i < 208; i++)
    for (int j = 48; j < 208; j++) plateau.at(i, j) = 4096.f + ((i * 7 + j) % 3 == 0 ? 0.00048828125f : 0.f);
  faint.at(5, 9) = 65535.f;
  // Stars with Gaussian profiles cut at a radius of 4 on an exact-zero sky.
  for (int s = 0; s < 12; s++) {
    const int ci = 6 + (s * 37) % 52, cj = 6 + (s * 23) % 52;
    for (int i = ci - 4; i <= ci + 4; i++)
      for (int j = cj - 4; j <= cj + 4; j++)
        stars.at(i, j) +=
            static_cast<float>((500 + 300 * s) * std::exp(-((i - ci) * (i - ci) + (j - cj) * (j - cj)) / 4.5));
  }
  ASSERT_EQ(m51.pixels.size(), 512u * 512u);
  for (size_t k = 0; k < m51.pixels.size() * 7 / 10; k++) m51.pixels[k] = 0.f;  // 70% of the lines
  const struct {
    const char* name;
    const FitsImage& image;
    bool flat;
  } cases[] = {
      {"star", star, false},   {"constant", constant, true}, {"ramp", ramp, true}, {"plateau", plateau, true},
      {"faint", faint, false}, {"stars", stars, false},      {"m51", m51, false},
  };
  for (const auto& c : cases) {
    write_fits(path(std::string(c.name) + ".fits"), c.image);
    EXPECT_EQ(run(std::string("-t 1 -i 2 -g 0 ") + c.name + ".fits out.fits"), c.flat ? 255 : 0) << c.name << output_;
    EXPECT_EQ(printed("the image looks noiseless or flat"), c.flat) << c.name << output_;
  }
}

// A super-resolved image keeps to 0..255 only where the pixel values are
// 8-bit: bytes of a FITS image stored without scaling, or of an 8-bit
// format. Bytes stored with BSCALE are other values, and so are floats:
// their zoomed edges keep their overshoot. Scaled near unit noise, the data
// take the limit with them.
TEST_F(QzMcaUnits, SuperResolutionKeepsTo255OnlyFor8BitValues) {
  FitsImage blocks(16, 16);  // blocks of 250 and 10: the zoom overshoots their edges
  for (int k = 0; k < 256; k++) blocks.pixels[k] = (k / 64 + k % 16 / 4) % 2 == 0 ? 250.f : 10.f;
  const std::vector<unsigned char> bytes(blocks.pixels.begin(), blocks.pixels.end());
  std::ofstream(path("bytes.pgm"), std::ios::binary) << "P5\n16 16\n255\n"
                                                      << std::string(bytes.begin(), bytes.end());
  write_fits(path("float.fits"), blocks);
  write_fits(path("byte.fits"), blocks, BYTE_IMG);
  write_fits(path("scaled_bytes.fits"), times(blocks, 4.), BYTE_IMG, 4.);
  // The largest value of the curvelet component: the top exactly when
  // clipped, else well above it.
  const std::tuple<const char*, double, bool> cases[] = {
      {"-g 1 byte.fits", 255., true}, {"-g 1 bytes.pgm", 255., true},
      {"-g 9.094947017729282e-13 byte.fits", 255., true},  // 2^-40: scaled to 2^40
      {"-g 4 scaled_bytes.fits", 1020., false}, {"-g 1 float.fits", 255., false}};
  for (const auto& [args, top, clipped] : cases) {
    ASSERT_EQ(run(std::string("-t 4 -I -L -i 3 -v ") + args + " out"), 0) << args << output_;
    // The last statistics line of the component, in the input's units.
    const size_t line = output_.rfind("Curvelet proj    REC: ");
    ASSERT_NE(line, std::string::npos) << args;
    const double largest = values_of(output_.substr(line, output_.find('\n', line) - line))[1];
    if (clipped) EXPECT_EQ(largest, top) << args;
    else EXPECT_GT(largest, 1.1 * top) << args;
  }
}

// Offsets whose float step is below 1 (3, 1000, 0.75 and -12345.5, where
// floats step by 2^-22, 2^-14, 2^-24 and 2^-10): the advice gives that step
// as the float spacing there, 2 to the offset's binary exponent less 23,
// worked out here from the exponent alone, in the form %g prints it.
TEST_F(QzMcaUnits, TheOffsetAdviceGivesStepsBelowOne) {
  for (const float offset : {3.f, 1000.f, 0.75f, -12345.5f}) {
    SCOPED_TRACE(offset);
    const double step = std::ldexp(1., std::ilogb(offset) - 23);
    ASSERT_LT(step, 1.);
    FitsImage flat(32, 32);
    for (std::size_t k = 0; k < flat.pixels.size(); k++)
      flat.pixels[k] = k % 97 == 13 ? static_cast<float>(offset + 40. * step) : offset;
    ASSERT_EQ(static_cast<double>(flat.pixels[13]) - offset, 40. * step);  // exact in floats
    write_fits(path("flat.fits"), flat);
    char shown[32];
    std::snprintf(shown, sizeof shown, "%g", step);
    EXPECT_EQ(run("-t 1 -i 2 -g 0 flat.fits out"), 255);
    EXPECT_TRUE(printed(std::string("the image looks noiseless or flat; give the noise level with -g ... (flat.fits); "
                                    "the image sits on an offset where the 32-bit floats it is processed in step by ") +
                        shown + " and lose its noise: subtract the offset first\n"))
        << output_;
    EXPECT_FALSE(exists("out.fits"));
  }
}

}  // namespace
