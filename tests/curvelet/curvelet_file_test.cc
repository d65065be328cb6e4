// The ".cur" file: a bit-exact round trip that rebuilds the object (other
// block sizes, variance normalisation on and off, files without the newer
// keywords), the header checked by fitsverify, and the refusal of keywords
// that disagree with the array, each naming the file.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "curvelet/curvelet.h"
#include "io/fits_test_files.h"
#include "support/death.h"
#include "support/fits_keys.h"
#include "support/fitsverify.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using fits_test::scratch;
using Image = to_array<float, false>;
using Cube = to_array<float, true>;

struct FileSetup {
  int block;
  Bool var_norm, odd;
};

void configure(Curvelet& c, const FileSetup& s) {
  c.NbrScale2D = 3;
  c.VarNorm = s.var_norm;
  c.OddBlockSize = s.odd;
}

// The cube of a 40 x 36 image written under the stem; returns the file.
std::string written(const std::string& stem, const FileSetup& s, Cube& cube) {
  Curvelet c;
  configure(c, s);
  c.alloc(40, 36, s.block, False);
  Image ima = random_image(40, 36, 3);
  c.transform(ima, cube);
  const std::string name = scratch(stem);
  c.write(name.c_str(), cube);
  return name + ".cur";
}

// Files of the former layout carry neither flag: they were normalised and
// had odd blocks, which the last case drops again.
TEST(CurveletFile, RoundTripIsExactAndRebuildsTheObject) {
  const FileSetup setups[] = {{16, False, False}, {8, True, False}, {16, True, True}};
  for (const FileSetup& s : setups) {
    Cube cube, back;
    const std::string file = written("trip", s, cube);
    if (s.odd) {
      fitsfile* f = nullptr;
      int status = 0;
      ffopen(&f, file.c_str(), READWRITE, &status);
      ffdkey(f, "VarNorm", &status);
      ffdkey(f, "OddBlock", &status);
      ffclos(f, &status);
      ASSERT_EQ(status, 0);
    }
    Curvelet fresh;
    fresh.read(file.c_str(), back);
    ASSERT_TRUE(qz_test::same_bits(back, cube)) << s.block;
    EXPECT_EQ(fresh.VarNorm, s.var_norm);
    EXPECT_EQ(fresh.TabBlockSize(0), s.block + (s.odd ? 1 : 0));
    // The rebuilt object reconstructs what the writer's would.
    Curvelet writer;
    configure(writer, s);
    writer.alloc(40, 36, s.block, False);
    Image rec_writer, rec_fresh;
    writer.recons(cube, rec_writer);
    fresh.recons(back, rec_fresh);
    EXPECT_TRUE(qz_test::same_bits(rec_writer, rec_fresh)) << s.block;
    // gzip'ed under the same name: inflated by the FITS library, not taken
    // for a file shorter than its header.
    ASSERT_TRUE(fits_test::gzip_in_place(file));
    Curvelet packed;
    packed.read(file.c_str(), back);
    EXPECT_TRUE(qz_test::same_bits(back, cube)) << s.block;
  }
}

TEST(CurveletFile, HeaderPassesFitsverify) {
  Cube cube;
  const std::string file = written("verify", {16, False, False}, cube);
  if (!qz_test::have_fitsverify()) return;
  EXPECT_TRUE(qz_test::passes_fitsverify(file));
}

TEST(CurveletFileDeath, KeywordsThatDisagreeWithTheArrayAreRefused) {
  struct Case {
    const char* stem;
    const char* key;
    long value;
    const char* message;
  } cases[] = {
      {"variant", "Type_Tra", 3, "Type_Tra = 3"},
      {"tblock", "TBlock", 9, "TBlock = 9"},
      {"format", "FormatIn", 42, "FormatIn = 42"},
      {"planes", "NScale2D", 4, "NScale2D = 4 for 3 planes"},
      {"huge", "Nl", 100000, "an image of 100000 x 36"},
      {"scale1d", "NScale1D", 99, "NScale1D = 99"},
      {"hugeblock", "BSize", 30000, "a block side of 32768 does not fit"},
      {"block", "BSize", 8, "the keywords give planes of"},
      {"overlap", "Overlap", 0, "the keywords give planes of"},
      // Blocks of 16 and 32 hold at most six 1D scales; one 1D scale gives
      // no band.
      {"scale1d7", "NScale1D", 7, "NScale1D = 7 does not fit blocks of 16 \\(at most 6\\)"},
      {"scale1d1", "NScale1D", 1, "NScale1D = 1"},
      {"scale1dwrap", "NScale1D", 4294967298L, "NScale1D = 4294967298"},
  };
  for (const Case& c : cases) {
    Cube cube, back;
    const std::string file = written(c.stem, {16, False, False}, cube);
    qz_test::set_int_key(file, c.key, c.value);
    Curvelet cur;
    EXPECT_EXIT_STATUS(cur.read(file.c_str(), back), 255,
                       std::string(c.message) + ".*" + c.stem + "\\.cur")
        << c.stem;
  }
}

// Odd blocks of 17 hold four pyramid scales (17 + 9 + 5 + 3 of 34
// columns): five would overrun every block on reconstruction.
TEST(CurveletFileDeath, OneDScalesBeyondTheOddBlocksAreRefused) {
  Cube cube, back;
  const std::string file = written("odd5", {16, False, True}, cube);
  qz_test::set_int_key(file, "NScale1D", 5);
  Curvelet cur;
  EXPECT_EXIT_STATUS(cur.read(file.c_str(), back), 255,
                     "NScale1D = 5 does not fit blocks of 17 \\(at most 4\\).*odd5\\.cur");
}

TEST(CurveletFileDeath, MissingKeywordIsNamedWithTheFile) {
  for (const char* key : {"Nl", "Nc", "BSize", "NScale2D", "NScale1D", "Type_Tra", "TBlock",
                          "Overlap", "FormatIn"}) {
    Cube cube, back;
    const std::string stem = std::string("no_") + key;
    const std::string file = written(stem, {16, False, False}, cube);
    qz_test::drop_key(file, key);
    Curvelet cur;
    EXPECT_EXIT_STATUS(cur.read(file.c_str(), back), KEY_NO_EXIST,
                       qz_test::missing_key_message(key, stem + "\\.cur"))
        << key;
  }
}

TEST(CurveletFileDeath, BadArraysAndMissingFilesAreRefused) {
  const std::string flat = scratch("flat.cur");
  fitsfile* f = nullptr;
  int status = 0;
  long axes[2] = {4, 4};
  ffinit(&f, flat.c_str(), &status);
  ffcrim(f, FLOAT_IMG, 2, axes, &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0);
  Curvelet c;
  Cube trans;
  EXPECT_EXIT_STATUS(c.read(flat.c_str(), trans), 255, "NAXIS = 2, 3 expected.*flat\\.cur");
  // A FITS failure ends with the library's non-zero status.
  EXPECT_EXIT_STATUS(c.read(scratch("absent").c_str(), trans), FILE_NOT_OPENED, "status = 104");
}

}  // namespace
