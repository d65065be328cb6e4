// The whole program on inputs in each non-FITS format: the input's format
// fixes the format of every result, and the results open in independent
// tools with the input's size.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "fits_test_files.h"
#include "image_test_tools.h"
#include "support/qz_mca_program.h"

using image_test::read_bytes;
using image_test::write_bytes;

namespace {

const int kSide = 32;

std::vector<int> picture() {
  std::vector<int> values = image_test::test_pattern(kSide, kSide);
  for (int k = 0; k < kSide * kSide; k++) values[k] = 60 + values[k] / 3;
  return values;
}

class FormatRun : public QzMcaProgram {
 protected:
  // in.gif, the picture as netpbm writes it.
  void write_gif_input() {
    write_bytes(path("in.pgm"), image_test::pgm_bytes(kSide, kSide, picture()));
    ASSERT_EQ(image_test::run("pamtogif " + path("in.pgm") + " > " + path("in.gif")), 0);
  }
  // The width netpbm reads in a GIF result, 0 where it reads none.
  int gif_width(const std::string& name) const {
    return image_test::parse_pnm(image_test::run_output("giftopnm " + path(name) + " 2>/dev/null")).width;
  }
};

}  // namespace

// The bytes truncate each result and clamp a negative residual to 0, so
// sum + residual gives the input within two steps wherever the residual
// byte is not clamped, and never falls below it by more.
TEST_F(FormatRun, PgmInPgmOut) {
  const std::vector<int> in = picture();
  write_bytes(path("in.pgm"), image_test::pgm_bytes(kSide, kSide, in));
  ASSERT_EQ(run("-t 1 -t 5 -i 3 in.pgm out"), 0) << output_;
  std::vector<image_test::Pnm> results;
  for (const char* name : {"out.pgm", "out_atrou.pgm", "out_cos.pgm", "out_resi.pgm"}) {
    ASSERT_TRUE(exists(name)) << name;
    results.push_back(image_test::parse_pnm(read_bytes(path(name))));
    EXPECT_EQ(results.back().width, kSide) << name;
    EXPECT_EQ(results.back().height, kSide) << name;
  }
  const std::vector<int>&sum = results[0].samples, &resi = results[3].samples;
  int unclamped = 0;
  for (int k = 0; k < kSide * kSide; k++) {
    EXPECT_GE(sum[k] + resi[k], in[k] - 2) << k;
    if (resi[k] > 0 && resi[k] < 255) {
      unclamped++;
      EXPECT_LE(std::abs(sum[k] + resi[k] - in[k]), 2) << k;
    }
  }
  EXPECT_GT(unclamped, kSide * kSide / 4);
  if (image_test::have_tool("pamfile")) {
    EXPECT_NE(image_test::run_output("pamfile " + path("out_resi.pgm")).find("32 by 32"), std::string::npos);
  }
}

TEST_F(FormatRun, GifInGifOut) {
  REQUIRE_TOOL("pamtogif");
  REQUIRE_TOOL("giftopnm");
  write_gif_input();
  // A result named .fits is still written as GIF, with ".gif" appended.
  ASSERT_EQ(run("-t 1 -i 3 in.gif out.fits"), 0) << output_;
  for (const char* name : {"out.fits.gif", "out_atrou.gif", "out_resi.gif"}) {
    ASSERT_TRUE(exists(name)) << name;
    EXPECT_EQ(gif_width(name), kSide) << name;
  }
}

// ".gz" after a GIF extension is no image extension of a GIF name (only a
// FITS one reads compressed), so a result named o.gif.gz keeps its whole
// name as the components' stem; the format test reads their names as GIF,
// and they are written as they stand, as the sum is.
TEST_F(FormatRun, AGifResultNamedDotGzKeepsItsWholeNameAsStem) {
  REQUIRE_TOOL("pamtogif");
  REQUIRE_TOOL("giftopnm");
  write_gif_input();
  ASSERT_EQ(run("-t 1 -i 3 in.gif o.gif.gz"), 0) << output_;
  std::set<std::string> made;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) made.insert(entry.path().filename().string());
  const std::set<std::string> expected = {"in.pgm", "in.gif", "program_output.txt", "o.gif.gz", "o.gif.gz_atrou",
                                          "o.gif.gz_resi"};
  EXPECT_EQ(made, expected);
  for (const char* name : {"o.gif.gz", "o.gif.gz_atrou", "o.gif.gz_resi"}) {
    const std::string bytes = read_bytes(path(name));
    EXPECT_EQ(bytes.compare(0, 4, "GIF8"), 0) << name;
    EXPECT_EQ(gif_width(name), kSide) << name;
  }
}

// A FITS file under a name that backups and renames make, its FITS word
// followed by more, reads as typed and as the FITS file it is; the FITS
// library's HDU number after a FITS name reads that HDU as FITS, whatever
// extension stands before.
TEST_F(FormatRun, FitsWordsFollowedByMoreAndHduNumbersReadAsFits) {
  fits_test::Hdu primary, second;
  primary.naxes = second.naxes = {kSide, kSide};
  for (int k = 0; k < kSide * kSide; k++) {
    primary.stored.push_back(50 + k % 17);
    second.stored.push_back(300 + (7 * k) % 29);
  }
  fits_test::write_hdus(path("x.fits"), {primary, second});
  ASSERT_EQ(run("-t 1 -i 2 -g 0 x.fits p"), 0) << output_;
  ASSERT_EQ(run("-t 1 -i 2 -g 0 'x.fits[1]' q"), 0) << output_;
  ASSERT_NE(result("p.fits").pixels, result("q.fits").pixels);
  const std::string bytes = read_bytes(path("x.fits"));
  const struct {
    const char *name, *reference;
  } cases[] = {{"x.fits~", "p"},      {"x.fits_old", "p"},   {"x.fits-1", "p"},       {"x.fitsx", "p"},
               {"X.FITS~", "p"},      {"x.jpg.fits+1", "q"}, {"x.fits~+1", "q"},      {"x.gif.fits+1[*,*]", "q"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = c.name;
    const std::string file = name.substr(0, name.find_first_of("+["));
    write_bytes(path(file), bytes);
    const int status = run("-t 1 -i 2 -g 0 '" + name + "' o");
    EXPECT_EQ(status, 0) << output_;
    for (const char* result_name : {".fits", "_atrou.fits", "_resi.fits"}) {
      if (status != 0) break;
      const FitsImage read = result(std::string("o") + result_name);
      EXPECT_EQ(read.nl, kSide) << result_name;
      EXPECT_EQ(read.pixels, result(std::string(c.reference) + result_name).pixels) << result_name;
      std::remove(path(std::string("o") + result_name).c_str());
    }
    EXPECT_FALSE(exists(file + ".fits"));
    std::remove(path(file).c_str());
  }
}

// A grey GIF without black, as netpbm and ImageMagick write it: its colour
// map is filled up to 256 entries with black, no colour of the image, so no
// result may show black (values past the last grey used take that grey).
TEST_F(FormatRun, GifWithoutBlackGivesResultsWithoutBlack) {
  REQUIRE_TOOL("giftopnm");
  std::vector<int> greys;
  for (int y = 0; y < 40; y++)
    for (int x = 0; x < 50; x++) greys.push_back(5 + (7 * x + 11 * y) % 250);
  write_bytes(path("in.pgm"), image_test::pgm_bytes(50, 40, greys));
  const char* const writers[] = {"pamtogif in.pgm > in.gif", "convert in.pgm +dither in.gif"};
  for (const char* writer : writers) {
    SCOPED_TRACE(writer);
    if (!image_test::have_tool(std::string(writer).substr(0, std::string(writer).find(' ')))) continue;
    ASSERT_EQ(image_test::run("cd '" + dir_ + "' && " + writer), 0);
    ASSERT_EQ(run("-t 1 -t 5 -C 0.1 -i 100 -g 0 in.gif o"), 0) << output_;
    for (const char* name : {"o.gif", "o_atrou.gif", "o_cos.gif", "o_resi.gif"}) {
      image_test::Pnm pnm = image_test::parse_pnm(image_test::run_output("giftopnm " + path(name) + " 2>/dev/null"));
      ASSERT_EQ(pnm.width, 50) << name;
      int black = 0;
      for (std::size_t k = 0; k < pnm.samples.size(); k += pnm.channels)
        black += std::count(pnm.samples.begin() + k, pnm.samples.begin() + k + pnm.channels, 0) == pnm.channels;
      EXPECT_EQ(black, 0) << name;
    }
  }
}

TEST_F(FormatRun, DispInDispOut) {
  std::string bytes;
  for (int v : picture()) bytes += static_cast<char>(v);
  write_bytes(path("in_b_32_32.d"), bytes);
  ASSERT_EQ(run("-t 1 -i 3 in_b_32_32.d out"), 0) << output_;
  // The results keep the array's float type (big-endian), so the sum of the
  // components and the residual give the input back.
  std::vector<std::vector<float>> results;
  for (const char* name : {"out_f_32_32.d", "out_atrou_f_32_32.d", "out_resi_f_32_32.d"}) {
    ASSERT_TRUE(exists(name)) << name;
    const std::string bytes = read_bytes(path(name));
    ASSERT_EQ(bytes.size(), 4u * kSide * kSide) << name;
    std::vector<float> values(kSide * kSide);
    for (int k = 0; k < kSide * kSide; k++) {
      uint32_t word = 0;
      for (int b = 0; b < 4; b++) word = word << 8 | static_cast<unsigned char>(bytes[4 * k + b]);
      std::memcpy(&values[k], &word, 4);
    }
    results.push_back(values);
  }
  const std::vector<int> in = picture();
  for (int k = 0; k < kSide * kSide; k++) {
    EXPECT_EQ(results[0][k], results[1][k]) << k;  // one base: the sum is the component
    EXPECT_NEAR(results[0][k] + results[2][k], in[k], 1e-3f) << k;
  }
  ASSERT_NE(run("-t 1 -i 3 in_b_32_33.d out2"), 0);
  EXPECT_NE(output_.find("in_b_32_33.d"), std::string::npos) << output_;
}

// Names typed in any case, as cameras and other systems write them: the file
// is read as typed, a result named with its format's extension is written as
// typed, and the other results take the stem less that extension. Before,
// "CAM.GIF" was read as GIF and then opened as "CAM.GIF.gif".
TEST_F(FormatRun, ExtensionsInAnyCaseAreOpenedAsTyped) {
  REQUIRE_TOOL("convert");
  write_bytes(path("cam.pgm"), image_test::pgm_bytes(kSide, kSide, picture()));
  const struct {
    const char *input, *made_by, *output;
    std::vector<const char*> results;
  } cases[] = {
      {"CAM.GIF", "convert cam.pgm CAM.GIF", "OUT.GIF", {"OUT.GIF", "OUT_atrou.gif", "OUT_resi.gif"}},
      {"cam.PGM", "cp cam.pgm cam.PGM", "out.Pgm", {"out.Pgm", "out_atrou.pgm", "out_resi.pgm"}},
      {"CAM.JPG", "convert cam.pgm CAM.JPG", "OUT.JPG", {"OUT.JPG", "OUT_atrou.jpg", "OUT_resi.jpg"}},
      {"cam.Fits", "convert cam.pgm -depth 16 fits:cam.Fits", "o.FTS", {"o.FTS", "o_atrou.fits", "o_resi.fits"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    ASSERT_EQ(image_test::run("cd " + path("") + " && " + c.made_by), 0);
    ASSERT_EQ(run(std::string("-t 1 -i 2 ") + c.input + " " + c.output), 0) << output_;
    for (const char* name : c.results) EXPECT_TRUE(exists(name)) << name;
    for (const char* added : {".gif", ".pgm", ".jpg", ".fits"}) EXPECT_FALSE(exists(c.output + std::string(added)));
  }
  // The input named as typed is now the result's name too: refused.
  EXPECT_NE(run("-t 1 -i 2 CAM.GIF CAM.GIF"), 0);
  EXPECT_TRUE(printed("overwrite the input")) << output_;
}

// A JPEG file named .jpeg, in any case, is advised the .jpg name it reads
// under, and reads under it; other unread extensions get no such advice.
TEST_F(FormatRun, AJpegNamedDotJpegIsAdvisedItsDotJpgName) {
  REQUIRE_TOOL("cjpeg");
  write_bytes(path("cam.pgm"), image_test::pgm_bytes(kSide, kSide, picture()));
  const struct {
    const char *name, *advised;
  } cases[] = {{"cam.jpeg", "cam.jpg"}, {"CAM.JPEG", "CAM.JPG"}, {"cam.Jpeg", "cam.Jpg"}, {"cam.png", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(image_test::run("cd " + path("") + " && cjpeg cam.pgm > " + c.name), 0);
    EXPECT_EQ(run(std::string("-t 1 -i 2 ") + c.name + " o"), 255);
    const std::string advice = std::string("; JPEG is read from names that end in .jpg: name it ") +
                               (c.advised != nullptr ? c.advised : "") + " (a link will do)\n";
    EXPECT_EQ(printed(std::string("m51_f_512_512.d ... (") + c.name + ")" + advice), c.advised != nullptr)
        << output_;
    EXPECT_EQ(printed("JPEG is read from"), c.advised != nullptr) << output_;
    if (c.advised == nullptr) continue;
    ASSERT_EQ(symlink(c.name, path(c.advised).c_str()), 0);
    EXPECT_EQ(run(std::string("-t 1 -i 2 ") + c.advised + " o"), 0) << output_;
    EXPECT_TRUE(exists("o_atrou.jpg"));
    std::remove(path(c.advised).c_str());
  }
}

// A file whose extension no reader knows is not sent after "cam.jpeg.fits":
// the message names the file typed and the extensions read.
TEST_F(FormatRun, UnreadExtensionsNameTheExtensionsRead) {
  REQUIRE_TOOL("convert");
  write_bytes(path("cam.pgm"), image_test::pgm_bytes(kSide, kSide, picture()));
  for (const char* name : {"cam.jpeg", "cam.png", "cam.tif", "cam"}) {
    SCOPED_TRACE(name);
    const std::string made = std::string(name) == "cam" ? "cp cam.pgm cam" : std::string("convert cam.pgm ") + name;
    ASSERT_EQ(image_test::run("cd " + path("") + " && " + made), 0);
    EXPECT_EQ(run(std::string("-t 1 -i 2 ") + name + " o"), 255);
    EXPECT_TRUE(printed(std::string("(") + name + ")")) << output_;
    EXPECT_TRUE(printed(".fits, .fit or .fts") && printed(".gif, .pgm, .jpg")) << output_;
    EXPECT_FALSE(printed(std::string(name) + ".fits")) << output_;
    EXPECT_FALSE(exists("o.fits"));
  }
  // A name the reader completes to a file that is there reads as before.
  ASSERT_EQ(image_test::run("cd " + path("") + " && convert cam.pgm -depth 16 fits:cam.tif.fits"), 0);
  EXPECT_EQ(run("-t 1 -i 2 cam.tif o"), 0) << output_;
  // Format texts inside a FITS file's name are words, not extensions: each
  // is read as the FITS file it is, and its results are FITS.
  for (const char* name : {"pgmdata.fits", "master.dark.fits", "sci.diff.fit", "m31.dss.fits"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(image_test::run("cd " + path("") + " && cp cam.tif.fits " + name), 0);
    EXPECT_EQ(run(std::string("-t 1 -i 2 ") + name + " o"), 0) << output_;
    for (const char* result : {"o.fits", "o_atrou.fits", "o_resi.fits"}) {
      EXPECT_EQ(read_bytes(path(result)).compare(0, 30, "SIMPLE  =                    T"), 0) << result;
      std::remove(path(result).c_str());
    }
  }
}

// A raw array in a ".dat" file, the commonest name of raw files: ".dat"
// names no format, so it is FITS, read by the library as the array the
// brackets give: the same counts as a FITS image, the same results.
TEST_F(FormatRun, ARawArrayInADotDatFileReadsAsTheFitsImageItHolds) {
  std::string header;
  for (const char* card : {"SIMPLE  =                    T", "BITPIX  =                   16",
                           "NAXIS   =                    2", "NAXIS1  =                  512",
                           "NAXIS2  =                  512", "END"})
    header += std::string(card) + std::string(80 - std::strlen(card), ' ');
  header.resize(2880, ' ');
  // FITS stores big-endian; a raw array without a byte order is read in
  // the machine's.
  std::string fits, raw;
  for (int k = 0; k < 512 * 512; k++) {
    const std::int16_t count = static_cast<std::int16_t>(100 + (k * 37 % 211));
    fits.push_back(static_cast<char>(count >> 8));
    fits.push_back(static_cast<char>(count & 0xff));
    char host[2];
    std::memcpy(host, &count, 2);
    raw.append(host, 2);
  }
  write_bytes(path("f.dat"), header + raw);
  write_bytes(path("in.fits"), header + fits + std::string(2880 - fits.size() % 2880, '\0'));
  ASSERT_EQ(run("-t 1 -i 2 -g 0 'f.dat[i512,512:2880]' o"), 0) << output_;
  ASSERT_EQ(run("-t 1 -i 2 -g 0 in.fits p"), 0) << output_;
  for (const char* result : {".fits", "_atrou.fits", "_resi.fits"}) {
    SCOPED_TRACE(result);
    const FitsImage raw = read_fits(path(std::string("o") + result)), fits = read_fits(path(std::string("p") + result));
    EXPECT_EQ(raw.nl, 512);
    EXPECT_EQ(raw.nc, 512);
    EXPECT_EQ(raw.pixels, fits.pixels);
  }
  const FitsImage sum = read_fits(path("o.fits")), resi = read_fits(path("o_resi.fits"));
  ASSERT_EQ(sum.pixels.size(), resi.pixels.size());
  // Components and residual add up to the array's own counts.
  for (int k : {0, 1, 511, 512, 1000, 262143})
    EXPECT_NEAR(sum.pixels[k] + resi.pixels[k], 100 + (k * 37 % 211), 1e-2) << k;
}
