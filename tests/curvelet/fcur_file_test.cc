// The ".fct" file: names, the float count of the layout, exact round trips
// of real and complex transforms, replacement of an existing file, the
// stored direction table, and refusal of truncated or inconsistent files.
#include <fitsio.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "curvelet/fcur.h"
#include "io/fits_test_files.h"
#include "support/death.h"
#include "support/temp_folder.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

class FctFile : public ::testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    dir = test_support::make_temp_folder("qz_fct_");
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
  std::string path(const char* name) const { return dir + "/" + name; }
};

// The stored vector and keywords of a file, read with the FITS library.
struct Stored {
  std::vector<float> data;
  long keys[7];  // Nl, Nc, NbrDir, Extend, Isotrop, NbrScale, Real
};
const char* const KeyNames[7] = {"Nl", "Nc", "NbrDir", "Extend", "Isotrop", "NbrScale", "Real"};

Stored load(const std::string& file) {
  Stored st;
  int status = 0, anynul = 0;
  fitsfile* f = nullptr;
  ffopen(&f, file.c_str(), READONLY, &status);
  long n = 0;
  ffgkyj(f, "NAXIS1", &n, nullptr, &status);
  for (int k = 0; k < 7; k++) ffgkyj(f, KeyNames[k], &st.keys[k], nullptr, &status);
  st.data.resize(n);
  ffgpve(f, 0, 1, n, 0.f, st.data.data(), &anynul, &status);
  ffclos(f, &status);
  EXPECT_EQ(status, 0);
  return st;
}

void save(const std::string& file, const Stored& st) {
  std::remove(file.c_str());
  int status = 0;
  fitsfile* f = nullptr;
  ffinit(&f, file.c_str(), &status);
  long naxes[1] = {static_cast<long>(st.data.size())};
  ffphpr(f, 1, FLOAT_IMG, 1, naxes, 0, 1, 0, &status);
  for (int k = 0; k < 7; k++) ffpkyj(f, KeyNames[k], st.keys[k], "", &status);
  ffppre(f, 0, 1, static_cast<LONGLONG>(st.data.size()), const_cast<float*>(st.data.data()),
         &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0);
}

void transformed(FCUR& f, int scales, int n, int dirs, Bool real, unsigned seed) {
  f.alloc_from_fine(scales, n, n, dirs, False, False, real);
  to_array<float, false> ima = random_image(n, n, seed);
  f.cur_trans(ima);
}

void expect_same_bands(const FCUR& a, const FCUR& b) {
  ASSERT_EQ(a.nbr_scale(), b.nbr_scale());
  ASSERT_EQ(a.Real, b.Real);
  for (int s = 0; s < a.nbr_scale(); s++) {
    ASSERT_EQ(a.TabNbrDir(s), b.TabNbrDir(s));
    for (int k = 0; k < a.TabNbrDir(s); k++)
      ASSERT_EQ(qz_test::max_abs_difference(a.TabCurvelet[s][k], b.TabCurvelet[s][k]), 0.)
          << s << " " << k;
  }
}

TEST(FctName, SuffixAppendedOnlyWhenMissing) {
  EXPECT_EQ(fcur_io_name("a"), "a.fct");
  EXPECT_EQ(fcur_io_name("a.fct"), "a.fct");
  EXPECT_EQ(fcur_io_name(".fct"), ".fct");
  EXPECT_EQ(fcur_io_name("fct"), "fct.fct");
  EXPECT_EQ(fcur_io_name("a.FCT"), "a.FCT.fct");
  const std::string long_name(5000, 'x');
  EXPECT_EQ(fcur_io_name(long_name.c_str()), long_name + ".fct");
}

TEST_F(FctFile, LayoutOfAComplexFiveScaleFile) {
  FCUR f;
  transformed(f, 5, 64, 32, False, 1);
  f.write(path("c").c_str());
  const Stored st = load(path("c.fct"));
  long expected = 6, arrays = 0;
  for (int s = 0; s < 5; s++)
    for (int k = 0; k < f.TabNbrDir(s); k++, arrays++)
      expected += 2 + 2L * f.TabSizeBandNl[s](k) * f.TabSizeBandNc[s](k);
  EXPECT_EQ(arrays, 97);
  EXPECT_EQ(static_cast<long>(st.data.size()), expected);
  EXPECT_EQ(st.data[0], 5.f);
  EXPECT_EQ(std::vector<float>(st.data.begin() + 1, st.data.begin() + 6),
            (std::vector<float>{32, 32, 16, 16, 1}));
  EXPECT_EQ(st.keys[0], 64);
  EXPECT_EQ(st.keys[2], 32);
  EXPECT_EQ(st.keys[5], 5);
  EXPECT_EQ(st.keys[6], 0);
}

TEST_F(FctFile, RoundTripIsExactForRealAndComplex) {
  for (Bool real : {False, True}) {
    FCUR f, g;
    transformed(f, 4, 48, 16, real, 2);
    f.write(path("r").c_str());
    g.read(path("r.fct").c_str());
    EXPECT_EQ(g.NlIma, 48);
    expect_same_bands(f, g);
    // gzip'ed under the same name: inflated by the FITS library, so its
    // vector is no longer than the file holds.
    ASSERT_TRUE(fits_test::gzip_in_place(path("r.fct")));
    FCUR packed;
    packed.read(path("r.fct").c_str());
    expect_same_bands(f, packed);
    to_array<float, false> rf, rg;
    f.cur_recons(rf);
    g.cur_recons(rg);
    EXPECT_EQ(qz_test::max_abs_difference(rf, rg), 0.);
  }
}

TEST_F(FctFile, WritingReplacesAnExistingFile) {
  FCUR f, g, h;
  transformed(f, 3, 33, 8, False, 3);
  transformed(g, 3, 33, 8, False, 4);
  f.write(path("w").c_str());
  g.write(path("w.fct").c_str());
  h.read(path("w").c_str());
  expect_same_bands(g, h);
}

TEST_F(FctFile, StoredDirectionTableIsUsed) {
  FCUR f, g;
  to_array<int, true> dirs(3);
  dirs(0) = 16;
  dirs(1) = 8;
  dirs(2) = 16;
  f.alloc_with_tab(4, 65, 65, dirs);
  to_array<float, false> ima = random_image(65, 65, 5);
  f.cur_trans(ima);
  f.write(path("t").c_str());
  g.read(path("t").c_str());
  expect_same_bands(f, g);
}

TEST_F(FctFile, DumpWritesEveryWedgeAndPrintsItsStatistics) {
  FCUR f;
  transformed(f, 2, 33, 8, False, 7);
  testing::internal::CaptureStdout();
  f.cur_write(path("dump").c_str());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Scale 1 NbrDir = 8\n"), std::string::npos);
  EXPECT_NE(out.find("Scale 2 NbrDir = 1\n"), std::string::npos);
  EXPECT_NE(out.find("Band  8: " + path("dump") + "_1_8 Nl = "), std::string::npos) << out;
  for (const char* part : {"_re", "_im"}) {
    EXPECT_EQ(access((path("dump_1_8") + part + ".fits").c_str(), F_OK), 0) << part;
    EXPECT_EQ(access((path("dump_2_1") + part + ".fits").c_str(), F_OK), 0) << part;
  }
}

void read_file(std::string file) {
  FCUR f;
  f.read(file.c_str());
}

using FctFileDeathTest = FctFile;

TEST_F(FctFileDeathTest, TruncatedAndInconsistentFilesAreRefused) {
  // Writing the good file starts worker threads: re-run the program in the child.
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  FCUR f;
  transformed(f, 3, 33, 8, False, 6);
  f.write(path("ok").c_str());
  const Stored good = load(path("ok.fct"));

  struct Damage {
    const char* name;
    void (*apply)(Stored&);
    const char* message;
  };
  const Damage cases[] = {
      {"cut", [](Stored& st) { st.data.resize(st.data.size() - 10); }, "truncated"},
      {"size", [](Stored& st) { st.data[4] += 1.f; }, "band size"},  // first wedge's lines
      {"dirs", [](Stored& st) { st.keys[2] = 16; }, "direction table"},
      {"huge", [](Stored& st) { st.keys[0] = st.keys[1] = 1000000; }, "image size"},
      {"scales", [](Stored& st) { st.keys[5] = 4; }, "number of scales"},
      {"extra", [](Stored& st) { st.data.push_back(0.f); }, "beyond the last band"}};
  for (const Damage& d : cases) {
    Stored damaged = good;
    d.apply(damaged);
    const std::string file = path(d.name) + ".fct";
    save(file, damaged);
    EXPECT_EXIT_STATUS(read_file(file), 255, std::string(d.message) + ".*" + d.name + ".fct");
  }

  EXPECT_EXIT(read_file(path("missing")), ::testing::ExitedWithCode(104), "");
}

}  // namespace
