// The ".rid" file: its name rule, a bit-exact round trip that rebuilds the
// geometry, the header checked by fitsverify, and the refusal of keywords
// that disagree with the array, each naming the file.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "io/fits_test_files.h"
#include "radon/ridgelet.h"
#include "support/death.h"
#include "support/fits_keys.h"
#include "support/fitsverify.h"
#include "support/test_images.h"

namespace {

using fits_test::file_exists;
using fits_test::scratch;
using Image = to_array<float, false>;

// A written file of a 40 x 30 image in blocks of 16 with overlap.
std::string written(const std::string& stem, Bool overlap = True) {
  Ridgelet rid;
  rid.BlockOverlap = overlap;
  Image ima = random_image(40, 30, 4), trans;
  rid.transform(ima, trans, 16);
  const std::string name = scratch(stem);
  rid.write(name.c_str(), trans);
  return name + ".rid";
}

TEST(RidgeletFile, NameTakesTheSuffixOnce) {
  Ridgelet rid;
  rid.alloc(8, 8, 8);
  Image trans(rid.rid_nl(), rid.rid_nc());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"rid_a", "rid_a.rid"}, {"given.rid", "given.rid"}, {"x.rid.fits", "x.rid.fits.rid"},
      {"rid", "rid.rid"}};
  for (const auto& c : cases) {
    rid.write(scratch(c.first).c_str(), trans);
    EXPECT_TRUE(file_exists(scratch(c.second))) << c.first;
  }
  EXPECT_FALSE(file_exists(scratch("given.rid.rid")));
}

TEST(RidgeletFile, RoundTripIsExactAndRebuildsTheGeometry) {
  for (Bool overlap : {True, False}) {
    Ridgelet rid;
    rid.BlockOverlap = overlap;
    rid.VarNorm = True;
    Image ima = random_image(40, 30, 4), trans, back;
    rid.transform(ima, trans, 16);
    const std::string name = scratch(overlap ? "trip_ovl" : "trip");
    rid.write(name.c_str(), trans);
    rid.write(name.c_str(), trans);  // over the existing file
    Ridgelet fresh;
    fresh.read(name.c_str(), back);
    EXPECT_EQ(fresh.BlockOverlap, overlap);
    EXPECT_EQ(fresh.AutoScale1D, False);
    EXPECT_EQ(fresh.VarNorm, True);
    EXPECT_EQ(fresh.NbrScale1D, rid.NbrScale1D);
    EXPECT_EQ(fresh.NbrBi, rid.NbrBi);
    EXPECT_EQ(fresh.Ncb, rid.Ncb);
    ASSERT_EQ(back.nl(), trans.nl());
    ASSERT_EQ(back.nc(), trans.nc());
    for (int k = 0; k < trans.n_elem(); k++) ASSERT_EQ(back(k), trans(k)) << k;
    // gzip'ed under the same name: inflated by the FITS library.
    ASSERT_TRUE(fits_test::gzip_in_place(name + ".rid"));
    Ridgelet packed;
    packed.read(name.c_str(), back);
    EXPECT_EQ(pixels(back), pixels(trans));
  }
}

TEST(RidgeletFile, HeaderPassesFitsverify) {
  const std::string file = written("verify");
  if (!qz_test::have_fitsverify()) return;
  EXPECT_TRUE(qz_test::passes_fitsverify(file));
}

TEST(RidgeletFileDeath, KeywordsThatDisagreeWithTheArrayAreRefused) {
  struct Case {
    const char* stem;
    const char* key;
    long value;
    const char* message;
  } cases[] = {
      {"variant", "Type_Tra", 9, "Type_Tra = 9"},
      {"format", "FormatIn", 42, "FormatIn = 42"},
      {"huge", "Nl", 100000, "Nl = 100000"},
      {"scales", "NbrScale", 1, "the keywords give a"},
      {"block", "BSize", 12, "the keywords give a"},
      {"hugeblock", "BSize", 30000, "a block side of 30000 does not fit"},
      {"oneblock", "BSize", 0, "the keywords give a 130 x 130"},
      // Blocks of 16 hold at most six pyramid scales; nine would write 35
      // columns into each block of 32.
      {"scales9", "NbrScale", 9, "NbrScale = 9 does not fit blocks of 16 \\(at most 6\\)"},
      {"scales7", "NbrScale", 7, "NbrScale = 7 does not fit blocks of 16"},
      {"slantscales", "Type_Tra", 5, "the keywords give a 160 x 256"},
      // Counts and sides that would wrap to small ones as 32-bit integers.
      {"wrapscales", "NbrScale", 4294967298L, "NbrScale = 4294967298"},
      {"wrapblock", "BSize", -4294967280L, "BSize = -4294967280"},
  };
  for (const Case& c : cases) {
    const std::string file = written(c.stem);
    qz_test::set_int_key(file, c.key, c.value);
    Ridgelet rid;
    Image trans;
    EXPECT_EXIT_STATUS(rid.read(file.c_str(), trans), 255,
                       std::string(c.message) + ".*" + c.stem + "\\.rid")
        << c.stem;
  }
}

// A file of a 32768 x 1 array whose keywords claim blocks of the given
// side: a block's Radon transform alone would take gigabytes.
std::string thin_file(const std::string& stem, long bsize) {
  const std::string file = scratch(stem + ".rid");
  std::remove(file.c_str());
  fitsfile* f = nullptr;
  int status = 0;
  long axes[2] = {1, 32768};
  ffinit(&f, file.c_str(), &status);
  ffcrim(f, FLOAT_IMG, 2, axes, &status);
  const std::pair<const char*, long> keys[] = {{"Nl", 16384}, {"Nc", 1},       {"BSize", bsize},
                                               {"NbrScale", 3}, {"Type_Tra", 2}, {"Overlap", 0},
                                               {"FormatIn", 3},  {"VarNorm", 0}};
  for (const auto& k : keys) ffpkyj(f, k.first, k.second, "", &status);
  std::vector<float> zeros(32768, 0.f);
  ffppre(f, 1, 1, zeros.size(), zeros.data(), &status);
  ffclos(f, &status);
  EXPECT_EQ(status, 0);
  return file;
}

TEST(RidgeletFileDeath, BlocksWiderThanTheArrayAreRefusedBeforeAllocation) {
  for (long bsize : {16384L, 65536L}) {
    const std::string stem = "thin" + std::to_string(bsize);
    const std::string file = thin_file(stem, bsize);
    Ridgelet rid;
    Image trans;
    EXPECT_EXIT_STATUS(rid.read(file.c_str(), trans), 255,
                       "a block side of " + std::to_string(bsize) +
                           " does not fit an array of 32768 x 1.*" + stem + "\\.rid")
        << bsize;
  }
  // A gzip trailer that claims 4 GB, under a memory limit such an allocation
  // breaks: nothing is allocated for it, and the trailer belies the data.
  const std::string claim = scratch("claim.rid");
  fits_test::write_bytes(claim, fits_test::gzip_claiming(0xffffffffu));
  Ridgelet rid;
  Image trans;
  EXPECT_EXIT_STATUS({ fits_test::limit_address_space_to_2gb(); rid.read(claim.c_str(), trans); }, 255,
                     "incorrect length check.*claim\\.rid");
}

TEST(RidgeletFileDeath, MissingKeywordIsNamedWithTheFile) {
  for (const char* key :
       {"Nl", "Nc", "BSize", "NbrScale", "Type_Tra", "Overlap", "FormatIn", "VarNorm"}) {
    const std::string stem = std::string("no_") + key;
    const std::string file = written(stem);
    qz_test::drop_key(file, key);
    Ridgelet rid;
    Image trans;
    EXPECT_EXIT_STATUS(rid.read(file.c_str(), trans), KEY_NO_EXIST,
                       qz_test::missing_key_message(key, stem + "\\.rid"))
        << key;
  }
}

TEST(RidgeletFileDeath, ThreeAxesAreRefused) {
  const std::string cube = scratch("cube.rid");
  fitsfile* f = nullptr;
  int status = 0;
  long axes[3] = {4, 4, 2};
  ffinit(&f, cube.c_str(), &status);
  ffcrim(f, FLOAT_IMG, 3, axes, &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0);
  Ridgelet rid;
  Image trans;
  EXPECT_EXIT_STATUS(rid.read(cube.c_str(), trans), 255, "NAXIS = 3.*cube\\.rid");
}

TEST(RidgeletFileDeath, WritingAnImageOfAnotherSizeIsRefused) {
  Ridgelet rid;
  rid.alloc(16, 16, 16);
  Image trans(3, 3);
  EXPECT_EXIT_STATUS(rid.write(scratch("wrong").c_str(), trans), 255, "wrong\\.rid");
  EXPECT_FALSE(file_exists(scratch("wrong.rid")));
}

}  // namespace
