// Whole runs of qz_mca with options the image cannot hold, or an image of
// more axes than a plane: each is refused with a message in the user's
// terms and leaves no result; the default scale count is lowered to one
// that reconstructs the image; the -w snapshots and raw disp results are
// guarded like every other result.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/qz_mca_program.h"
#include "support/test_images.h"

namespace {

// A background of 30, a bump and unit noise: positive everywhere.
FitsImage bump(int nl, int nc, unsigned seed) {
  const to_array<float, false> noise = normal_image(nl, nc, seed);
  FitsImage ima(nl, nc);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      const double r2 = (i - nl / 2.) * (i - nl / 2.) + (j - nc / 3.) * (j - nc / 3.);
      ima.at(i, j) = static_cast<float>(30. + 20. * std::exp(-r2 / 20.)) + noise(i, j);
    }
  return ima;
}

class QzMcaOptions : public QzMcaProgram {
 protected:
  bool any_result(const std::string& stem) const {
    const std::string command = "ls '" + dir_ + "' | grep -q '^" + stem + "'";
    return std::system(command.c_str()) == 0;
  }
  std::string bytes(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

TEST_F(QzMcaOptions, WhatTheImageCannotHoldIsRefusedWithoutResults) {
  const std::string long_dir(5000, 'd');
  const struct {
    std::string args;
    int nl, nc;
    const char* message;
  } refusals[] = {
      {"-t 2 -G 1,14", 24, 24, "bad number of TV scales: 14 (at most 6 for an image of 24 x 24)"},
      {"-t 1 -t 4 -G 1,100", 24, 24, "bad number of TV scales: 100"},
      {"-t 3 -S 5 -b 25", 24, 24, "bad block size: 25\n Block size <= 24"},
      {"-t 3 -S 5 -b 2147483647", 24, 20, "bad block size: 2147483647\n Block size <= 24"},
      {"-t 9 -S 5 -B 2147483647", 24, 24, "bad cosinus transform block size: 2147483647"},
      {"-t 2 -n 5", 32, 32, "too many scales (5) for an image of 32 x 32 in the bi-orthogonal"},
      {"-t 2 -u 0 -n 6", 33, 60, "too many scales (6) for an image of 33 x 60"},
      {"-t 6 -n 5", 32, 32, "too many scales (5) for an image of 32 x 32 in the wavelet packets"},
      {"-t 6 -n 4", 20, 28, "in the wavelet packets: at most 3"},  // interleaved halves
      {"-t 6", 2, 2, "the image (2 x 2) is too small for the wavelet packets"},
      {"-t 6", 5, 3, "the image (5 x 3) is too small for the wavelet packets"},
      {"-t 8 -n 2", 7, 9, "the image (7 x 9) is too small for the fast curvelet transform"},
      {"-t 7 -n 5", 8, 8, "too many scales (5) for an image of 8 x 8 in the pyramidal curvelet"},
      {"-t 4 -n 10", 64, 64, "too many scales (10) for an image of 64 x 64 in the curvelet "
                             "transform: at most 9"},
      // The multiscale local DCT doubles its block at every scale; the
      // smaller side, 96, takes blocks of 8 to 64.
      {"-t 9 -S 5 -n 5", 96, 128, "too many scales (5) for an image of 96 x 128 in the "
                                  "multiscale local DCT with a first block of 8: at most 4"},
      {"-t 9 -S 5 -B 64 -n 2", 96, 128, "first block of 64: at most 1"},
      {"-t 9 -S 5 -n 0", 96, 128, "bad number of scales in the multiscale local DCT: 0"},
      {"-t 9 -S 5 -B 12", 96, 128, "bad cosinus transform block size: 12\n Block size: a power "
                                   "of two from 2 to 64 (the image is 96 x 128)"},
      {"-t 9 -S 5 -B 128", 96, 128, "block size: 128\n Block size: a power of two from 2 to 64"},
      {"-t 9 -S 5", 6, 10, "the image (6 x 10) is too small for the multiscale local DCT"},
      {"-t 5 -B 12", 24, 24, "block size: 12\n Block size: a power of two, at least 2"},
      {"-t 5 -B 1", 24, 24, "block size: 1\n Block size: a power of two, at least 2"},
      // A first threshold not above the last starts no descent; these bases
      // cannot take one from the data.
      {"-t 3 -S 3", 24, 24, "the first threshold (3) is not above the last one (3)"},
      {"-t 9 -t 3 -S 1 -s 2", 32, 32, "the first threshold (1) is not above the last one (2)"},
      {"-Z 4:" + long_dir, 16, 16, "swap directory name has 5000 characters"},
  };
  for (const auto& r : refusals) {
    write_fits(path("in.fits"), bump(r.nl, r.nc, 3));
    EXPECT_EQ(run(r.args + " -i 2 -g 1 in.fits out.fits"), 255) << r.args.substr(0, 40);
    EXPECT_TRUE(printed(r.message)) << r.args.substr(0, 40) << "\n" << output_;
    EXPECT_FALSE(printed("noiseless")) << r.args.substr(0, 40);
    EXPECT_FALSE(any_result("out")) << r.args.substr(0, 40);
  }
}

// An image of 6 axes, the most the FITS library compresses in tiles, is
// read up to the refusal of any image that is not a plane, as an image
// stored whole would be; 7 axes are no compressed image at all.
TEST_F(QzMcaOptions, ACompressedImageOfSixAxesIsRefusedAsNoPlane) {
  // The library writes the pixels of at most 3 axes into tiles, and
  // compresses a whole image of up to 6.
  fitsfile *image = nullptr, *compressed = nullptr;
  int status = 0;
  long axes[6] = {4, 5, 2, 1, 1, 3};
  std::vector<short> pixels(4 * 5 * 2 * 3, 7);
  fits_create_file(&image, "mem://", &status);
  fits_create_img(image, SHORT_IMG, 6, axes, &status);
  fits_write_img(image, TSHORT, 1, pixels.size(), pixels.data(), &status);
  fits_create_file(&compressed, ("!" + path("six.fits")).c_str(), &status);
  fits_set_compression_type(compressed, RICE_1, &status);
  fits_img_compress(image, compressed, &status);
  fits_close_file(compressed, &status);
  fits_close_file(image, &status);
  ASSERT_EQ(status, 0);
  std::string seven = bytes("six.fits");
  const std::string six_axes = "ZNAXIS  =                    6";
  const std::size_t card = seven.find(six_axes);
  ASSERT_NE(card, std::string::npos);
  seven[card + six_axes.size() - 1] = '7';
  std::ofstream(path("seven.fits"), std::ios::binary) << seven;
  const std::pair<const char*, const char*> cases[] = {
      {"six.fits[1]",
       "Error: the input image is not a 2D array (NAXIS = 6: 4 x 5 x 2 x 1 x 1 x 3; only 2D images are read: write "
       "the plane you want as a 2D image of its own with another tool, without the cards of the other axes, and "
       "name that file) ... (six.fits[1])\n"},
      {"seven.fits[1]", "Error: the tile-compressed image in HDU [1] has ZNAXIS = 7: an image of 1 to 6 axes is "
                        "compressed in tiles ... (seven.fits)\n"}};
  for (const auto& c : cases) {
    EXPECT_EQ(run(std::string("-t 1 -i 2 -g 1 '") + c.first + "' out"), 255) << c.first;
    EXPECT_EQ(output_, c.second);
    EXPECT_FALSE(any_result("out")) << c.first;
  }
}

// With a first level of almost nothing and a tiny noise level, one
// iteration keeps every coefficient: the component is the reconstruction of
// the input's transform, so it is the input when the scale count fits.
TEST_F(QzMcaOptions, DefaultScaleCountOfSmallImagesReconstructsThem) {
  const struct {
    int base;
    const char* suffix;
    int nl, nc;
  } runs[] = {{2, "_wt", 24, 24}, {2, "_wt", 32, 32}, {6, "_wp", 24, 24},
              {6, "_wp", 32, 32}, {6, "_wp", 20, 28}, {2, "_wt", 9, 13},
              {9, "_mcos", 96, 128}, {9, "_mcos", 100, 120}};
  for (const auto& r : runs) {
    const FitsImage in = bump(r.nl, r.nc, 5);
    write_fits(path("in.fits"), in);
    const std::string args = "-t " + std::to_string(r.base) + " -i 1 -S 1e-6 -s 0 -g 1e-6 -v";
    ASSERT_EQ(run(args + " in.fits out.fits"), 0) << args << "\n" << output_;
    EXPECT_TRUE(printed("the most an image of " + std::to_string(r.nl) + " x " +
                        std::to_string(r.nc) + " holds"))
        << args;
    const FitsImage component = result(std::string("out") + r.suffix + ".fits");
    ASSERT_EQ(component.pixels.size(), in.pixels.size()) << args;
    for (size_t k = 0; k < in.pixels.size(); k++)
      ASSERT_NEAR(component.pixels[k], in.pixels[k], 1e-4) << args << " " << r.nl << " x " << r.nc;
  }
}

// The lowered count of the multiscale local DCT is the one an explicit -n
// would give; a side that is a power of two takes blocks cut to it, so its
// count is not lowered.
TEST_F(QzMcaOptions, MultiscaleDctRunsWithTheCountTheImageHolds) {
  const struct {
    int nl, nc;
    const char* options;
    const char* same_as;  // nullptr: the default count is kept
  } runs[] = {
      {96, 128, "", "-n 4"},
      {96, 128, "-B 32", "-n 2"},
      {64, 96, "", nullptr},
  };
  for (const auto& r : runs) {
    write_fits(path("in.fits"), bump(r.nl, r.nc, 11));
    const std::string args = std::string("-t 9 -S 6 -i 3 -g 1 -v ") + r.options;
    ASSERT_EQ(run(args + " in.fits lowered.fits"), 0) << args << "\n" << output_;
    EXPECT_EQ(printed("the most an image of"), r.same_as != nullptr) << args;
    if (r.same_as == nullptr) continue;
    ASSERT_EQ(run(args + " " + r.same_as + " in.fits given.fits"), 0) << output_;
    EXPECT_EQ(result("lowered_mcos.fits").pixels, result("given_mcos.fits").pixels) << args;
  }
}

// A first threshold equal to the last is taken from the data like one below
// it: the run is the one without -S.
TEST_F(QzMcaOptions, FirstThresholdEqualToTheLastIsTakenFromTheData) {
  write_fits(path("in.fits"), bump(32, 32, 13));
  ASSERT_EQ(run("-t 1 -t 5 -i 4 -g 1 in.fits free.fits"), 0) << output_;
  ASSERT_NE(result("free_atrou.fits").pixels, std::vector<float>(32 * 32, 0.f));
  for (const char* options : {"-S 3", "-S 2"}) {
    ASSERT_EQ(run(std::string("-t 1 -t 5 -i 4 -g 1 ") + options + " in.fits given.fits"), 0);
    for (const char* suffix : {"_atrou", "_cos"})
      EXPECT_EQ(result(std::string("given") + suffix + ".fits").pixels,
                result(std::string("free") + suffix + ".fits").pixels)
          << options << " " << suffix;
  }
}

// -v names the schedule the run follows: one base makes MOM linear.
TEST_F(QzMcaOptions, VerboseParametersNameTheScheduleThatRuns) {
  write_fits(path("in.fits"), bump(16, 16, 17));
  for (const char* options : {"-t 1", "-t 1 -t 5", "-t 1 -t 5 -L"}) {
    ASSERT_EQ(run(std::string(options) + " -v -i 2 -g 1 -n 3 in.fits out"), 0) << output_;
    const bool mom = printed("MOM calculation");
    EXPECT_EQ(mom, std::string(options) == "-t 1 -t 5") << options;
    EXPECT_TRUE(printed(mom ? "MOM step descent" : "Linear step descent")) << options;
  }
}

// The -w snapshots are results too: named like the input they are refused
// before anything is written. They are debug images to watch, each in place
// once written: a failed run takes back its results, not its snapshots.
TEST_F(QzMcaOptions, SnapshotsNeverOverwriteTheInputAndGoWithAFailedRun) {
  for (const char* input : {"xx_atrou_5.fits", "xx_resi_10.fits"}) {
    write_fits(path(input), bump(16, 16, 7));
    const std::string before = bytes(input);
    EXPECT_EQ(run(std::string("-t 1 -i 12 -S 100 -g 1 -w ") + input + " out"), 255) << input;
    EXPECT_TRUE(printed("would overwrite the input image")) << output_;
    EXPECT_EQ(bytes(input), before) << input;
  }
  // Iteration 10 is never reached in 6: that name is free.
  EXPECT_EQ(run("-t 1 -i 6 -S 100 -g 1 -w xx_resi_10.fits out"), 0) << output_;
  EXPECT_TRUE(exists("xx_atrou_5.fits"));
  std::remove(path("xx_atrou_5.fits").c_str());
  const std::string earlier = bytes("xx_resi_5.fits");
  ASSERT_FALSE(earlier.empty());

  ASSERT_EQ(symlink("/dev/full", path("bad_resi.fits").c_str()), 0);  // every write fails
  EXPECT_NE(run("-t 1 -i 6 -S 100 -g 2 -w xx_resi_10.fits bad"), 0);
  EXPECT_TRUE(exists("xx_atrou_5.fits"));
  EXPECT_NE(bytes("xx_resi_5.fits"), earlier);
  EXPECT_FALSE(exists("bad_atrou.fits"));
}

// The names of the -w snapshots are the run's, not the user's: over the
// input, the advice is to rename it or leave out -w, and the run without
// -w goes. A result the user names after the input keeps its own advice.
TEST_F(QzMcaOptions, SnapshotsOverTheInputAdviseRenamingItOrLeavingOutW) {
  for (const char* input : {"xx_res.fits", "xx_atrou_5.fits", "xx_resi_10.fits"}) {
    write_fits(path(input), bump(16, 16, 7));
    EXPECT_EQ(run(std::string("-t 1 -i 12 -S 100 -g 1 -w ") + input + " out"), 255) << input;
    EXPECT_EQ(output_, std::string("Error: a result would overwrite the input image; rename the input or leave out "
                                   "-w ... (") + input + ")\n");
    EXPECT_EQ(run(std::string("-t 1 -i 12 -S 100 -g 1 ") + input + " out"), 0) << output_;
    EXPECT_TRUE(exists("out_atrou.fits")) << input;
    std::remove(path(input).c_str());
  }
  write_fits(path("xx_res.fits"), bump(16, 16, 7));
  EXPECT_EQ(run("-t 1 -i 12 -S 100 -g 1 -w xx_res.fits xx_res"), 255);
  EXPECT_EQ(output_, "Error: a result would overwrite the input image; choose another output name ... (xx_res.fits)\n");
}

// So are the names of the mask's image (-H) and of the test mode's result
// (-X): over the input, the advice names the option that writes them.
TEST_F(QzMcaOptions, FixedNamesOverTheInputAdviseRenamingItOrLeavingOutTheirOption) {
  const struct {
    const char* input;
    const char* options;
    const char* option;
  } cases[] = {{"xx_interp.fits", "-t 1 -i 4 -g 1 -H", "-H"}, {"xx_rec.fits", "-X", "-X"}};
  for (const auto& c : cases) {
    write_fits(path(c.input), bump(16, 16, 7));
    const std::string before = bytes(c.input);
    EXPECT_EQ(run(std::string(c.options) + " " + c.input + " out"), 255) << c.input;
    EXPECT_EQ(output_, std::string("Error: a result would overwrite the input image; rename the input or leave out ") +
                           c.option + " ... (" + c.input + ")\n");
    EXPECT_EQ(bytes(c.input), before) << c.input;
    std::remove(path(c.input).c_str());
  }
}

// A command line without the result's name says so before the help; one
// without any name shows the help alone.
TEST_F(QzMcaOptions, AMissingResultNameIsSaidBeforeTheHelp) {
  write_fits(path("in.fits"), bump(16, 16, 3));
  EXPECT_EQ(run("-t 1 in.fits"), 255);
  EXPECT_EQ(output_.rfind("Error: the result name is missing: give it after the input image ... (in.fits)\nUsage: ",
                          0),
            0u)
      << output_;
  EXPECT_FALSE(any_result("in_"));
  EXPECT_EQ(run("-t 1"), 255);
  EXPECT_EQ(output_.rfind("Usage: ", 0), 0u) << output_;
  EXPECT_FALSE(printed("result name is missing"));
}

// Raw disp images: big-endian floats, the type and size in the name, which
// the writer gives every result too. A run that fails on the residual
// removes the component it wrote.
TEST_F(QzMcaOptions, FailedRunOnDispImagesLeavesNoResult) {
  write_disp(path("in_f_32_32.d"), bump(32, 32, 9));
  ASSERT_EQ(run("-t 1 -i 3 -g 1 in_f_32_32.d good"), 0) << output_;
  EXPECT_TRUE(exists("good_atrou_f_32_32.d"));
  ASSERT_EQ(symlink("/dev/full", path("out_resi_f_32_32.d").c_str()), 0);  // every write fails
  EXPECT_NE(run("-t 1 -i 3 -g 1 in_f_32_32.d out"), 0);
  EXPECT_FALSE(exists("out_atrou_f_32_32.d"));
  EXPECT_FALSE(exists("out_f_32_32.d"));
  EXPECT_TRUE(exists("in_f_32_32.d"));
}

}  // namespace

// A word the option scanner cannot read that names a file (it holds a '.'
// or a '[', or a file of that name is there) gets, after the scanner's
// line, the advice to put it after "--"; other unknown letters and a
// missing argument get the scanner's line alone. Each ends with the help
// text and status 255, writing nothing.
TEST_F(QzMcaOptions, AWordThatNamesAFileIsAdvisedToFollowTwoDashes) {
  write_fits(path("in.fits"), bump(32, 32, 5));
  std::ofstream(path("-xy")) << "";
  const std::string program = program_ + ": ";
  const struct {
    const char* args;
    const char* word;  // the one the scanner could not read
    const char* scanner_line;
    bool advised;
  } cases[] = {
      {"'-.fits[1]' o", "-.fits[1]", "unknown option, -.\n", true},
      {"'-[1]' o", "-[1]", "unknown option, -[\n", true},
      {"-xy o", "-xy", "unknown option, -x\n", true},
      {"-t 1 '-.fits[1]' out", "-.fits[1]", "unknown option, -.\n", true},
      {"-q in.fits o", "-q", "unknown option, -q\n", false},
      {"-vq in.fits o", "-vq", "unknown option, -q\n", false},
      {"-qz o", "-qz", "unknown option, -q\n", false},
      {"-i", "-i", "argument missing for -i\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(run(c.args), 255);
    EXPECT_TRUE(printed(program + c.scanner_line)) << output_;
    const std::string advice = program + "a name that begins with '-' follows '--', as in -- '" + c.word + "'\n";
    EXPECT_EQ(printed(program + c.scanner_line + advice), c.advised) << output_;
    EXPECT_TRUE(printed("Usage: ")) << output_;
    EXPECT_FALSE(any_result("o"));
  }
}

// A file whose name reads as the standard input even after "--" ("-.fits",
// with a selector or not) is advised by its folder, and the
// advised name reads that file while the standard input holds another
// image; a file that "--" reaches keeps the advice of "--", which reads it.
TEST_F(QzMcaOptions, AFileNamedLikeTheStandardInputIsAdvisedByItsFolder) {
  write_fits(path("file.fits"), bump(32, 32, 7));
  write_fits(path("piped.fits"), bump(32, 32, 8));
  ASSERT_EQ(run("-t 1 -i 2 -g 1 file.fits ref"), 0) << output_;
  const FitsImage ref = result("ref_resi.fits");
  const std::string program = program_ + ": ";
  const struct {
    const char* file;  // a copy of file.fits
    const char* word;  // as typed
    const char* advice;
    const char* advised;  // the name the advice gives, for the shell
  } cases[] = {
      {"-.fits", "-.fits", "after '--' the name -.fits is the standard input; name the file as in './-.fits'",
       "./-.fits"},
      {"-.fits", "-.fits[0]", "after '--' the name -.fits[0] is the standard input; name the file as in './-.fits[0]'",
       "'./-.fits[0]'"},
      {"-x.fits", "-x.fits", "a name that begins with '-' follows '--', as in -- '-x.fits'", "-- '-x.fits'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    ASSERT_EQ(std::system(("cp '" + path("file.fits") + "' '" + path(c.file) + "'").c_str()), 0);
    EXPECT_EQ(run(std::string("-t 1 -i 2 -g 1 '") + c.word + "' res < piped.fits"), 255);
    EXPECT_TRUE(printed(program + c.advice + "\n")) << output_;
    EXPECT_FALSE(any_result("res"));
    ASSERT_EQ(run(std::string("-t 1 -i 2 -g 1 ") + c.advised + " res < piped.fits"), 0) << output_;
    EXPECT_EQ(result("res_resi.fits").pixels, ref.pixels);
    std::system(("rm -f '" + dir_ + "'/res*.fits '" + path(c.file) + "'").c_str());
  }
}
