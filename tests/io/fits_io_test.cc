// FITS files and pixel data: written files checked byte by byte and through
// CFITSIO as an independent reader, reference files made by CFITSIO read by
// ours, rounding and saturation of integer BITPIX, and refused files.
#include "io/fits_io.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "image_test_tools.h"
#include "io/fits_glue.h"
#include "support/death.h"
#include "support/fitsverify.h"
#include "support/qz_mca_program.h"
#include "support/test_images.h"
#include "support/tolerance.h"

using fits_test::read_reference;
using fits_test::scratch;
using fits_test::write_reference;

namespace {

// A record describing an nl x nc image of the given BITPIX and scaling.
void describe(fitsstruct* rec, int bitpix, int nl, int nc, double bscale = 1.0, double bzero = 0.0) {
  initfield(rec);
  rec->bitpix = bitpix;
  rec->naxis = 2;
  rec->width = rec->naxisn[0] = nc;
  rec->height = rec->naxisn[1] = nl;
  rec->npix = nl * nc;
  rec->bscale = bscale;
  rec->bzero = bzero;
}

// Writes the values as an nl x (n / nl) image; the caller's values must not change.
std::string write_float(const std::string& file, int bitpix, const std::vector<float>& values, double bscale = 1.0,
                        double bzero = 0.0, int nl = 1) {
  const int nc = static_cast<int>(values.size()) / nl;
  to_array<float, false> ima(nl, nc);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = values[k];
  fitsstruct rec;
  describe(&rec, bitpix, nl, nc, bscale, bzero);
  std::string path = scratch(file);
  fits_write_float(path.c_str(), ima, &rec);
  for (int k = 0; k < ima.n_elem(); k++) EXPECT_EQ(ima(k), values[k]) << "the caller's image changed";
  return path;
}

}  // namespace

TEST(FitsName, ExtensionRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"img", "img.fits"}, {"img.fits", "img.fits"}, {"img.FITS", "img.FITS"},       {"img.mr", "img.mr"},
      {"img.fts", "img.fts"}, {"img.Fits", "img.Fits"}, {"-", "-"}, {"-b", "-b"}, {"dir/x.rid", "dir/x.rid"},
      {"dir.fits/img", "dir.fits/img.fits"}, {"j.mr/x", "j.mr/x.fits"},  // folders do not count
      // Only an extension decides, read from the end, other extensions aside.
      {"sci.diff.fit", "sci.diff.fit"}, {"pgmdata.fits", "pgmdata.fits"}, {"x.fits.old", "x.fits.old"},
      {"X.FTS.gz", "X.FTS.gz"}, {"x.fits[1]", "x.fits[1]"}, {"run.current", "run.current.fits"},
      {"f.dat", "f.dat.fits"}, {"a.fits.jpg", "a.fits.jpg.fits"}};
  for (const auto& c : cases) {
    char* name = fitsname(c.first);
    EXPECT_STREQ(name, c.second) << c.first;
    std::free(name);
  }
}

TEST(FitsData, DataArePaddedBigEndianBlocks) {
  std::vector<float> values(512 * 512);
  for (std::size_t k = 0; k < values.size(); k++) values[k] = std::sin(0.001f * k) * 1000.f;
  std::string path = write_float("big.fits", -32, values, 1.0, 0.0, 512);
  std::string bytes = fits_test::read_bytes(path);
  // One header block, 1048576 data bytes (364 blocks and 256 bytes), 2624 zeros.
  ASSERT_EQ(bytes.size(), 2880u + 1048576u + 2624u);
  EXPECT_EQ(bytes.substr(2880 + 1048576), std::string(2624, '\0'));
  std::vector<double> ref = read_reference(path).values;
  for (std::size_t k = 0; k < values.size(); k++) ASSERT_EQ(ref[k], values[k]) << k;
  // Data that end on a block boundary get no padding.
  EXPECT_EQ(fits_test::read_bytes(write_float("aligned.fits", -32, std::vector<float>(720, 1.5f))).size(), 5760u);
}

TEST(FitsData, IntegerBitpixRoundsAndSaturates) {
  // BSCALE 2, BZERO 10: 15 -> 2.5 -> 3 and -15 -> -12.5 -> -13 (halves away
  // from zero); out of range values saturate instead of wrapping.
  std::string p16 = write_float("r16.fits", 16, {15.f, -15.f, 1e6f, -1e6f}, 2.0, 10.0);
  EXPECT_EQ(read_reference(p16, true).values, (std::vector<double>{3, -13, 32767, -32768}));
  EXPECT_EQ(read_reference(p16).values, (std::vector<double>{16, -16, 65544, -65526}));
  // BITPIX 8 truncates toward zero.
  std::string p8 = write_float("r8.fits", 8, {2.9f, 255.9f, -1.f, 300.f, 0.f});
  EXPECT_EQ(read_reference(p8).values, (std::vector<double>{2, 255, 0, 255, 0}));
  std::string p32 = write_float("r32.fits", 32, {2.5f, -2.5f, 3e9f, -3e9f, 16777217.f});
  EXPECT_EQ(read_reference(p32).values, (std::vector<double>{3, -3, 2147483647, -2147483648.0, 16777216}));

  to_array<int, false> ints(1, 5);
  const int int_values[] = {-1, 256, 7, 100000, -100000};
  for (int k = 0; k < 5; k++) ints(k) = int_values[k];
  const std::vector<double> expected[3] = {{0, 255, 7, 255, 0}, {-1, 256, 7, 32767, -32768},
                                           {-1, 256, 7, 100000, -100000}};
  for (int b = 0; b < 3; b++) {
    fitsstruct rec;
    describe(&rec, 8 << b, 1, 5);
    std::string path = scratch("ints" + std::to_string(8 << b) + ".fits");
    fits_write_int(path.c_str(), ints, &rec);
    for (int k = 0; k < 5; k++) ASSERT_EQ(ints(k), int_values[k]) << "the caller's image changed";
    EXPECT_EQ(read_reference(path).values, expected[b]) << (8 << b);
  }
}

TEST(FitsData, EveryBitpixRoundTripsThroughAnIndependentReader) {
  std::vector<float> values;
  for (int k = 0; k < 60; k++) values.push_back(0.37f * k * (k % 2 ? 1.f : -1.f) + 11.f);
  struct Case {
    int bitpix;
    double bscale, bzero, tolerance;  // 8 bits truncate: one step; others half a step
  };
  for (Case c : {Case{8, 1, -20, 1}, Case{16, 0.01, 0, 0.005}, Case{32, 1e-4, 5, 5e-5}, Case{-32, 1, 0, 0},
                 Case{-64, 1, 0, 0}, Case{-32, 2, 1, 1e-5}}) {
    std::string path = write_float("rt" + std::to_string(c.bitpix) + ".fits", c.bitpix, values, c.bscale, c.bzero, 6);
    fits_test::Reference ref = read_reference(path);
    ASSERT_EQ(ref.bitpix, c.bitpix);
    ASSERT_EQ(ref.naxes, (std::vector<long>{10, 6}));
    to_array<float, false> back;
    fitsstruct header;
    fits_read_float(path.c_str(), back, &header);
    ASSERT_EQ(back.n_elem(), 60);
    for (int k = 0; k < 60; k++) {
      EXPECT_NEAR(ref.values[k], values[k], c.tolerance + 1e-6) << c.bitpix << " " << k;
      EXPECT_NEAR(back(k), ref.values[k], 1e-5) << c.bitpix << " " << k;
    }
  }
}

TEST(FitsData, ReadsReferenceFilesWithScalingAndEveryDigit) {
  std::string path = scratch("u16.fits");
  write_reference(path, 16, {3, 2}, {-32768, -1, 0, 1, 100, 32767}, 1.0, 32768.0);
  to_array<float, false> ima;
  fitsstruct rec;
  fits_read_float(path.c_str(), ima, &rec);
  EXPECT_EQ(rec.bzero, 32768.0);
  const float expected[] = {0, 32767, 32768, 32769, 32868, 65535};
  for (int k = 0; k < 6; k++) EXPECT_EQ(ima(k), expected[k]);
  to_array<int, false> raw;
  fitsstruct raw_rec;
  fits_read_int(path.c_str(), raw, &raw_rec, True);
  EXPECT_EQ(raw(0), -32768);
  EXPECT_EQ(raw(5), 32767);
  EXPECT_EQ(raw_rec.bzero, 32768.0);  // put back after the raw read

  std::string p64 = scratch("d64.fits");
  write_reference(p64, -64, {2, 2}, {0.1, -1e10, 3.75, 1e-30});
  fits_read_float(p64.c_str(), ima, &rec);
  EXPECT_EQ(ima(0), 0.1f);
  EXPECT_EQ(ima(1), -1e10f);
  EXPECT_EQ(ima(3), 1e-30f);
  // 32-bit integers read as int keep digits a float would round away.
  std::string p32 = scratch("i32.fits");
  const std::vector<double> big = {16777217, -2147483647, 2147483647, 123456789};
  write_reference(p32, 32, {2, 2}, big);
  fits_read_int(p32.c_str(), raw, &raw_rec, False);
  for (int k = 0; k < 4; k++) EXPECT_EQ(raw(k), big[k]);
}

TEST(FitsFiles, HeaderOnlyAndStandardOutput) {
  fitsstruct rec;
  describe(&rec, 16, 3, 4, 2.0, 7.0);
  std::string path = scratch("head_only");
  fits_write_header(path.c_str(), &rec);
  EXPECT_EQ(fits_test::read_bytes(path + ".fits").size(), 2880u);
  fitsstruct back;
  fits_read_header(path.c_str(), &back);  // finds head_only.fits
  EXPECT_EQ(back.bitpix, 16);
  EXPECT_EQ(back.npix, 12);
  EXPECT_EQ(back.bscale, 2.0);
  EXPECT_EQ(back.bzero, 7.0);

  std::string target_path = scratch("stdout.fits");
  to_array<float, false> ima(2, 3);
  for (int k = 0; k < 6; k++) ima(k) = k + 1.f;
  describe(&rec, -32, 2, 3);
  image_test::stdout_to_file(target_path, [&] { fits_write_float("-", ima, &rec); });
  EXPECT_EQ(read_reference(target_path).values, (std::vector<double>{1, 2, 3, 4, 5, 6}));
  EXPECT_FALSE(fits_test::file_exists("-"));
}

namespace {

// Runs write() with the standard output at the end of the file at path, as
// a shell redirection leaves it after the program has printed.
template <class Write>
void stdout_after_bytes_of(const std::string& path, Write write) {
  std::fflush(stdout);
  const int saved = dup(fileno(stdout));
  const int target = open(path.c_str(), O_WRONLY);
  ASSERT_GE(target, 0) << path;
  lseek(target, 0, SEEK_END);
  dup2(target, fileno(stdout));
  close(target);
  write();
  std::fflush(stdout);
  dup2(saved, fileno(stdout));
  close(saved);
}

}  // namespace

// An image written to a stream that already holds bytes is padded to whole
// blocks counted from where the image begins, not from the start of the
// stream: the bytes after the earlier ones are a complete FITS file, the
// size of the same image written alone.
TEST(FitsData, PaddingCountsFromWhereTheImageBegins) {
  for (int n : {6, 720, 1000}) {
    std::vector<float> values(static_cast<std::size_t>(n));
    for (int k = 0; k < n; k++) values[k] = 0.25f * k - 3.f;
    const std::string alone = fits_test::read_bytes(write_float("alone.fits", -32, values));
    for (std::size_t before : {1u, 80u, 2879u, 2880u, 5000u}) {
      const std::string path = scratch("after_bytes.fits");
      fits_test::write_bytes(path, std::string(before, 'x'));
      to_array<float, false> ima(1, n);
      for (int k = 0; k < n; k++) ima(k) = values[k];
      fitsstruct rec;
      describe(&rec, -32, 1, n);
      stdout_after_bytes_of(path, [&] { fits_write_float("-", ima, &rec); });
      const std::string bytes = fits_test::read_bytes(path);
      ASSERT_GT(bytes.size(), before) << n << " " << before;
      EXPECT_EQ(bytes.substr(0, before), std::string(before, 'x')) << n << " " << before;
      const std::string image = bytes.substr(before);
      EXPECT_EQ(image.size(), alone.size()) << n << " " << before;
      EXPECT_EQ(image.size() % 2880, 0u) << n << " " << before;
      const std::string image_path = scratch("image_alone.fits");
      fits_test::write_bytes(image_path, image);
      const std::vector<double> back = read_reference(image_path).values;
      EXPECT_EQ(back, std::vector<double>(values.begin(), values.end())) << n << " " << before;
    }
  }
}

TEST(FitsFiles, NamesLongerThanAnyFixedBufferRoundTrip) {
  // Seven directories of 100 characters: a 700-character name that no
  // 80-, 112- or 256-character buffer could hold.
  std::string dir = scratch("");
  for (int k = 0; k < 7; k++) {
    dir += std::string(100, static_cast<char>('a' + k)) + "/";
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  }
  const std::string path = dir + "image.fits";
  to_array<float, false> ima(3, 4);
  for (int k = 0; k < 12; k++) ima(k) = 0.5f * k - 2.f;
  fitsstruct rec;
  describe(&rec, -32, 3, 4);
  fits_write_float(path.c_str(), ima, &rec);
  to_array<float, false> back;
  fitsstruct header;
  fits_read_float(path.c_str(), back, &header);
  ASSERT_EQ(back.n_elem(), 12);
  for (int k = 0; k < 12; k++) EXPECT_EQ(back(k), ima(k));
  EXPECT_EQ(std::string(header.filename), path);
  EXPECT_EQ(read_reference(path).values[11], 3.5);
}

TEST(FitsFiles, RefusesImagesThatAreNot2D) {
  const std::pair<const char*, std::vector<long>> shapes[] = {
      {"cube", {4, 5, 2}}, {"plane", {4, 5, 1}}, {"line", {100, 1}}, {"column", {1, 100}}, {"signal", {100}}};
  for (const auto& s : shapes) {
    long n = 1;
    for (long axis : s.second) n *= axis;
    write_reference(scratch(std::string(s.first) + ".fits"), 16, s.second, std::vector<double>(n, 3.0));
  }
  auto path = [](const char* stem) { return scratch(std::string(stem) + ".fits"); };
  to_array<float, false> ima;
  to_array<int, false> ints;
  fitsstruct rec;
  EXPECT_EXIT_STATUS(fits_read_float(path("cube").c_str(), ima, &rec), 255, "not a 2D array .*cube.fits");
  EXPECT_EXIT_STATUS(fits_read_float(path("signal").c_str(), ima, &rec), 255, "not a 2D array");
  EXPECT_EXIT_STATUS(fits_read_float(path("line").c_str(), ima, &rec), 255, "number of lines must be > 1");
  EXPECT_EXIT_STATUS(fits_read_float(path("column").c_str(), ima, &rec), 255, "number of columns must be > 1");
  EXPECT_EXIT_STATUS(fits_read_int(path("cube").c_str(), ints, &rec, False), 255, "not a 2D array .*cube.fits");
  EXPECT_EXIT_STATUS(fits_read_int(path("signal").c_str(), ints, &rec, False), 255, "not a 2D array");
  fits_read_int(path("plane").c_str(), ints, &rec, False);  // one plane is an image
  EXPECT_EQ(ints.nl() * 10 + ints.nc(), 54);
  EXPECT_EQ(ints(4, 3), 3);
  // The float reader names the axes and their lengths, says why a plane
  // with further axes of length 1 is refused too, and how to make the 2D
  // image of a cube; a signal has no plane to make.
  write_reference(path("radio"), -32, {16, 16, 1, 1}, std::vector<double>(256, 1.0));
  const std::pair<const char*, const char*> named_axes[] = {
      {"cube", "\\(NAXIS = 3: 4 x 5 x 2; only 2D images are read: write the plane you want as a 2D image of its "
               "own with another tool, without the cards of the other axes, and name that file\\) ... "
               "\\(.*cube.fits\\)"},
      {"plane", "\\(NAXIS = 3: 4 x 5 x 1; axes of length 1 are not dropped, as the results' headers would still"},
      {"radio", "\\(NAXIS = 4: 16 x 16 x 1 x 1; axes of length 1 are not dropped"},
      {"signal", "\\(NAXIS = 1: 100\\) ... \\(.*signal.fits\\)"}};
  for (const auto& [stem, message] : named_axes)
    EXPECT_EXIT_STATUS(fits_read_float(path(stem).c_str(), ima, &rec), 255, message) << stem;
}

TEST(FitsFiles, RefusesTruncatedAndMissingFiles) {
  std::string whole = write_float("whole.fits", -32, std::vector<float>(2000, 0.f), 1.0, 0.0, 40);
  std::string cut = scratch("cut.fits");
  image_test::write_bytes(cut, fits_test::read_bytes(whole).substr(0, 2880 + 4000));
  to_array<float, false> ima;
  to_array<int, false> ints;
  fitsstruct rec;
  EXPECT_EXIT_STATUS(fits_read_int(cut.c_str(), ints, &rec, False), 255, "truncated.*cut.fits");
  // A tile-compressed image cut inside its heap, its table's rows whole.
  const std::string tiles = scratch("cut_tiles.fits");
  fits_test::write_compressed(tiles, SHORT_IMG, {64, 48}, std::vector<double>(64 * 48, 7), {RICE_1});
  const std::string packed = fits_test::read_bytes(tiles);
  const std::size_t end_card = packed.find("END     ", 2880), table = (end_card / 2880 + 1) * 2880;
  const long row_bytes = std::atol(packed.substr(packed.find("NAXIS1  =", 2880) + 10, 20).c_str());
  const long rows = std::atol(packed.substr(packed.find("NAXIS2  =", 2880) + 10, 20).c_str());
  image_test::write_bytes(tiles, packed.substr(0, table + row_bytes * rows + 20));
  EXPECT_EXIT_STATUS(fits_read_float((tiles + "[1]").c_str(), ima, &rec), 255, "truncated.*cut_tiles.fits");
  std::string missing = scratch("missing");
  // CFITSIO status 104: the file could not be opened.
  EXPECT_EXIT_STATUS(fits_read_float(missing.c_str(), ima, &rec), 104, "cannot open file .*missing.fits");
  EXPECT_EXIT_STATUS(fits_read_int(missing.c_str(), ints, &rec, False), 255, "Unable to open file: .*missing");
}

TEST(FitsFiles, FailedWriteLeavesNoFile) {
  std::string path = scratch("full.fits");
  to_array<float, false> ima(256, 256);
  fitsstruct rec;
  describe(&rec, -32, 256, 256);
  // The file may not grow past 10000 bytes: the data write fails midway.
  EXPECT_EXIT_STATUS({ image_test::limit_file_size(10000); fits_write_float(path.c_str(), ima, &rec); }, 1,
                     "Error\\* while writing \\(.*full.fits: File too large\\)");
  EXPECT_FALSE(fits_test::file_exists(path));
  // A full device, found only when the file is closed: the reason is given
  // too, and the link and the device stay.
  const std::string device = scratch("device.fits");
  ASSERT_EQ(symlink("/dev/full", device.c_str()), 0);
  to_array<float, false> small(4, 4);
  fitsstruct small_rec;
  describe(&small_rec, -32, 4, 4);
  EXPECT_EXIT_STATUS(fits_write_float(device.c_str(), small, &small_rec), 1,
                     "Error\\* while writing \\(.*device.fits: No space left on device\\)");
  EXPECT_EQ(fits_test::link_text(device), "/dev/full");
  EXPECT_TRUE(fits_test::names_holding(fits_test::scratch_dir()).empty());
  EXPECT_EXIT_STATUS(fits_write_float(scratch("no/such/dir/x.fits").c_str(), ima, &rec), 255, "Unable to open file");
  // A record that does not describe the image is refused before any file exists.
  fitsstruct wrong;
  describe(&wrong, -32, 10, 10);
  EXPECT_EXIT_STATUS(fits_write_float(path.c_str(), ima, &wrong), 255, "describes 100 pixels");
  EXPECT_FALSE(fits_test::file_exists(path));
}

TEST(FitsFiles, WrittenFilesPassFitsverify) {
  REQUIRE_TOOL("fitsverify");
  for (const std::string& path : {write_float("v8.fits", 8, {1, 2, 3, 250}),
                                  write_float("v16.fits", 16, {1, -2, 3, 4}, 1.0, 32768.0),
                                  write_float("v32.fits", 32, {1, 2, 3, 4}, 0.5, 0.0),
                                  write_float("vm32.fits", -32, {1.5f, 2, 3, 4}),
                                  write_float("vm64.fits", -64, {1, 2, 3, 4})}) {
    std::string report = image_test::run_output("fitsverify '" + path + "'");
    EXPECT_NE(report.find("**** Verification found 0 warning(s) and 0 error(s). ****"), std::string::npos) << report;
  }
}
namespace {

// A 16 x 16 BITPIX -32 image built card by card, with extra cards after the
// mandatory ones.
std::string image_bytes(const std::vector<std::string>& extra, const std::string& naxis2 = "16") {
  using fits_test::card;
  std::string bytes = card("SIMPLE  =                    T") + card("BITPIX  =                  -32") +
                      card("NAXIS   =                    2") + card("NAXIS1  =                   16") +
                      card("NAXIS2  = " + std::string(20 - naxis2.size(), ' ') + naxis2);
  for (const std::string& text : extra) bytes += card(text);
  bytes += card("END");
  bytes.resize(2880, ' ');
  std::string data(16 * 16 * 4, '\0');
  for (std::size_t k = 0; k < data.size(); k += 4) data[k] = 0x3f;  // about 0.5
  data.resize(2880, '\0');
  return bytes + data;
}

}  // namespace

// Cards that do not belong in a primary header would be copied into every
// result: those that change how the data are laid out are refused, naming
// the card and the file; harmless ones are left out, so that each result
// passes fitsverify. A keyword that merely begins with END keeps the cards
// after it, the BZERO that the data need among them.
TEST(FitsFiles, CardsThatDoNotBelongInAPrimaryHeader) {
  std::string simple_f = image_bytes({});
  simple_f[29] = 'F';
  const struct {
    const char* name;
    std::string bytes;
    const char* refusal;  // empty: read, and the result is valid
  } cases[] = {
      {"xtension.fits", image_bytes({"XTENSION= 'IMAGE   '"}), "card XTENSION of the header does not belong in a primary"},
      {"simple.fits", simple_f, "card SIMPLE of the header is not T"},
      {"pcount.fits", image_bytes({"PCOUNT  =                    3"}), "card PCOUNT = 3 of the header describes data"},
      {"gcount.fits", image_bytes({"GCOUNT  =           4294967297"}), "card GCOUNT = 4294967297 of the header"},
      {"harmless.fits", image_bytes({"PCOUNT  =                    0", "GCOUNT  =                    1",
                                     "EXTEND  =                    1"}), ""},
      {"extend.fits", image_bytes({"EXTEND  =                    T / may hold extensions"}), ""},
      {"endtime.fits", image_bytes({"ENDTIME = '12:00:00'", "BZERO   =                 10.0"}), ""},
  };
  to_array<float, false> ima, again;
  for (const auto& c : cases) {
    const std::string path = scratch(c.name);
    image_test::write_bytes(path, c.bytes);
    fitsstruct rec;
    if (*c.refusal != '\0') {
      EXPECT_EXIT_STATUS(fits_read_float(path.c_str(), ima, &rec), 255, std::string(c.refusal) + ".*\\(" + path + "\\)")
          << c.name;
      continue;
    }
    fits_read_float(path.c_str(), ima, &rec);
    const std::string result = scratch(std::string("result_") + c.name);
    fits_write_float(result.c_str(), ima, &rec);
    fitsstruct back;
    fits_read_float(result.c_str(), again, &back);
    EXPECT_TRUE(qz_test::same_bits(again, ima)) << c.name;
    const std::string header = fits_test::read_bytes(result).substr(0, 2880);
    for (const char* gone : {"PCOUNT  ", "GCOUNT  ", "EXTEND  =                    1"})
      EXPECT_EQ(header.find(gone), std::string::npos) << c.name << " kept " << gone;
    if (image_test::have_tool("fitsverify")) {
      EXPECT_TRUE(qz_test::passes_fitsverify(result)) << c.name;
    }
  }
  const std::string kept = fits_test::read_bytes(scratch("result_endtime.fits")).substr(0, 2880);
  EXPECT_NE(kept.find("ENDTIME = '12:00:00'"), std::string::npos);
  EXPECT_NE(kept.find("BZERO   ="), std::string::npos);
  EXPECT_NE(fits_test::read_bytes(scratch("result_extend.fits")).find("EXTEND  =                    T"),
            std::string::npos);
}

// gzip'ed files, found by their content whatever their name, and beside a
// missing name as the library looks for them, read as the plain file does.
// A plausible size claim that the data then belie, and a stream cut short,
// end in the library's own report: a failed open, not a crash or a short image.
TEST(FitsCompressed, GzipFilesReadLikeThePlainFileOrFail) {
  std::vector<float> values(600);
  for (int k = 0; k < 600; k++) values[k] = std::sin(0.37f * k) * 1e-18f;
  const std::string plain = write_float("plain.fits", -32, values, 1.0, 0.0, 30);
  for (const char* name : {"z.fits.gz", "zname.fits", "sib.fits.gz"}) {
    image_test::write_bytes(scratch(name), fits_test::read_bytes(plain));
    ASSERT_TRUE(fits_test::gzip_in_place(scratch(name))) << name;
  }
  to_array<float, false> expected, ima;
  fitsstruct rec;
  fits_read_float(plain.c_str(), expected, &rec);
  for (const char* name : {"z.fits.gz", "zname.fits", "sib"}) {
    fitsstruct header;
    fits_read_float(scratch(name).c_str(), ima, &header);
    EXPECT_TRUE(qz_test::same_bits(ima, expected)) << name;
  }
  to_array<float, true> cube;
  fits_read_fltarr(scratch("z.fits.gz").c_str(), cube);
  EXPECT_EQ(pixels(cube), pixels(expected));
  const std::string whole = fits_test::read_bytes(scratch("z.fits.gz"));
  std::string smaller = whole, larger = whole;  // the claim, in the last 4 bytes, 8 less or 256 more
  smaller[whole.size() - 4] = static_cast<char>(smaller[whole.size() - 4] - 8);
  larger[whole.size() - 3] = static_cast<char>(larger[whole.size() - 3] + 1);
  const std::pair<const char*, std::string> belied[] = {
      {"smaller.fits.gz", smaller}, {"larger.fits.gz", larger}, {"cut.fits.gz", whole.substr(0, whole.size() - 9)}};
  for (const auto& [name, bytes] : belied) {
    image_test::write_bytes(scratch(name), bytes);
    EXPECT_EXIT(fits_read_float(scratch(name).c_str(), ima, &rec),
                [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; }, "")
        << name;
  }
}

namespace {

std::uint32_t big_endian(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t k = 0; k < 4; k++) value = value << 8 | static_cast<unsigned char>(bytes[at + k]);
  return value;
}

// A 16 x 16 image compressed by the library as GZIP_1 in one tile, whose
// tile is then stored as a zlib stream of the same deflate data: whole and
// right, so that it passes any check of the stream, but not the gzip
// stream the library's decoder takes.
std::string zlib_tile_file(const std::string& path) {
  std::vector<double> values(256);
  for (int k = 0; k < 256; k++) values[static_cast<std::size_t>(k)] = (k * 37) % 1000;
  fits_test::Compression how;
  how.type = GZIP_1;
  how.tile = {16, 16};
  fits_test::write_compressed(path, SHORT_IMG, {16, 16}, values, how);
  std::string bytes = fits_test::read_bytes(path);
  const std::size_t header = bytes.find("XTENSION");
  if (header == std::string::npos || bytes.find("TTYPE1  = 'COMPRESSED_DATA'", header) == std::string::npos) return "";
  auto integer = [&](const char* key) {
    return std::atol(bytes.c_str() + bytes.find(std::string(key), header) + 10);
  };
  std::size_t end = header;
  while (bytes.compare(end, 8, "END     ") != 0) end += 80;
  const std::size_t table = (end / 2880 + 1) * 2880;
  const std::size_t heap = table + static_cast<std::size_t>(integer("NAXIS1  ") * integer("NAXIS2  "));
  const std::uint32_t length = big_endian(bytes, table), offset = big_endian(bytes, table + 4);
  const std::string gzip = bytes.substr(heap + offset, length);
  // A gzip stream of the plain 10-byte header, as the library writes them.
  if (gzip.size() < 18 || gzip.compare(0, 2, "\x1f\x8b") != 0 || gzip[3] != 0) return "";
  std::vector<unsigned char> plain(512);
  uLongf plain_size = static_cast<uLongf>(plain.size());
  z_stream z{};
  inflateInit2(&z, 15 + 16);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
  z.avail_in = static_cast<uInt>(gzip.size());
  z.next_out = plain.data();
  z.avail_out = static_cast<uInt>(plain.size());
  const int inflated = inflate(&z, Z_FINISH);
  plain_size = z.total_out;
  inflateEnd(&z);
  if (inflated != Z_STREAM_END || plain_size != 512) return "";
  const uLong check = adler32(adler32(0L, Z_NULL, 0), plain.data(), static_cast<uInt>(plain_size));
  std::string zlib = "\x78\x9c" + gzip.substr(10, gzip.size() - 18);
  for (int shift : {24, 16, 8, 0}) zlib += static_cast<char>(check >> shift & 0xff);
  bytes.replace(heap + offset, zlib.size(), zlib);
  for (int k = 0; k < 4; k++)
    bytes[table + static_cast<std::size_t>(k)] = static_cast<char>(zlib.size() >> (24 - 8 * k));
  fits_test::write_bytes(path, bytes);
  return path;
}

}  // namespace

// A tile the library cannot decode ends the read with the library's reason:
// the text of its status and what its error stack adds, and its status as
// the exit status (as the shell sees it, its low 8 bits).
TEST(FitsCompressed, ATileTheLibraryCannotDecodeGivesItsReason) {
  const std::string file = zlib_tile_file(scratch("zlibtile.fits"));
  ASSERT_FALSE(file.empty()) << "the library's GZIP_1 tile is not laid out as expected";
  char text[FLEN_STATUS] = "";
  ffgerr(DATA_DECOMPRESSION_ERR, text);
  const std::string name = file + "[1]";
  const std::string reason = "Error: cannot read in file \\(" + file + "\\[1\\]: " + text + "; [^;()]+\\)";
  to_array<float, false> ima;
  fitsstruct rec;
  to_array<float, true> array;
  to_array<double, true> doubles;
  EXPECT_EXIT_STATUS(fits_read_float(name.c_str(), ima, &rec), DATA_DECOMPRESSION_ERR & 0xff, reason);
  EXPECT_EXIT_STATUS(fits_read_fltarr(name.c_str(), array), DATA_DECOMPRESSION_ERR & 0xff, reason);
  EXPECT_EXIT_STATUS(fits_read_dblarr(name.c_str(), doubles), DATA_DECOMPRESSION_ERR & 0xff, reason);
}

// The tiles a NOCOMPRESS image keeps whole, which the library reads as
// stored, read scaled as the image's BSCALE and BZERO say, as the same
// image Rice-compressed reads: unsigned 16 and 32-bit images (the
// library's BZERO) and a scaled 16-bit one, each pixel against the closed
// form it was written from, by the three readers of whole images; the header
// describes the image as the Rice one's does. A floating-point image whose
// whole tiles stand under a scaling, which the library's compressor stores
// physical, is refused.
TEST(FitsCompressed, TilesKeptWholeReadScaledAsTheImageSays) {
  const long nx = 20, ny = 12;
  const struct {
    const char* name;
    int bitpix;
    double bscale, bzero;  // given to the plain image, besides the library's own
    double first, step_x, step_y;
    int header_bitpix;
    double header_bscale, header_bzero;
  } cases[] = {
      {"u16", USHORT_IMG, 1, 0, 40000, 97, 13, 16, 1, 32768},
      {"u32", ULONG_IMG, 1, 0, 3000000001.0, 1000, 7, 32, 1, 2147483648.0},
      {"s16", SHORT_IMG, 0.25, 1000, 1005, 9.25, 2.75, 16, 0.25, 1000},
  };
  for (const auto& c : cases) {
    std::vector<double> values(static_cast<std::size_t>(nx * ny));
    for (long k = 0; k < nx * ny; k++) values[k] = c.first + c.step_x * (k % nx) + c.step_y * (k / nx);
    for (int type : {NOCOMPRESS, RICE_1}) {
      const std::string file = scratch(std::string(c.name) + (type == NOCOMPRESS ? "_nocomp" : "_rice") + ".fits");
      fits_test::write_compressed(file, c.bitpix, {nx, ny}, values, {type}, nullptr, c.bscale, c.bzero);
      const std::string name = file + "[1]";
      to_array<float, false> ima;
      fitsstruct rec;
      fits_read_float(name.c_str(), ima, &rec);
      to_array<float, true> array;
      fits_read_fltarr(name.c_str(), array);
      to_array<double, true> doubles;
      fits_read_dblarr(name.c_str(), doubles);
      ASSERT_EQ(ima.n_elem(), nx * ny) << name;
      ASSERT_EQ(array.n_elem(), nx * ny) << name;
      // The image's shape, not its table's.
      ASSERT_EQ(doubles.nx(), nx) << name;
      ASSERT_EQ(doubles.ny(), ny) << name;
      for (long k = 0; k < nx * ny; k++) {
        EXPECT_EQ(ima(static_cast<int>(k)), static_cast<float>(values[k])) << name << " pixel " << k;
        EXPECT_EQ(array(static_cast<int>(k)), static_cast<float>(values[k])) << name << " pixel " << k;
        EXPECT_EQ(doubles(static_cast<int>(k)), values[k]) << name << " pixel " << k;
      }
      EXPECT_EQ(rec.bitpix, c.header_bitpix) << name;
      EXPECT_EQ(rec.bscale, c.header_bscale) << name;
      EXPECT_EQ(rec.bzero, c.header_bzero) << name;
    }
  }
  const std::string floats = scratch("f_nocomp_scaled.fits");
  fits_test::write_compressed(floats, FLOAT_IMG, {nx, ny}, std::vector<double>(nx * ny, 3.5), {NOCOMPRESS}, nullptr,
                              2, 1);
  to_array<float, false> ima;
  fitsstruct rec;
  EXPECT_EXIT_STATUS(fits_read_float((floats + "[1]").c_str(), ima, &rec), 255,
                     "^Error: the floating-point image keeps tiles uncompressed under BSCALE = 2, BZERO = 1, which "
                     "the FITS library's compressor leaves unapplied there: whether its values are scaled cannot be "
                     "told: if they are physical, remove BSCALE and BZERO from its header; if stored, read the "
                     "uncompressed original \\.\\.\\. \\(" +
                         floats + "\\[1\\]\\)\n");
}

// Tiles kept whole under their column's own TZEROn, which the library
// would add besides the image's BZERO, are refused; a BSCALE of 0 makes
// every pixel BZERO, as the same image Rice-compressed reads.
TEST(FitsCompressed, TilesKeptWholeUnderAColumnScalingOrAZeroScale) {
  const long nx = 6, ny = 4;
  const std::vector<double> values(nx * ny, 1010.5);
  const std::string column_zero = scratch("column_zero.fits");
  fits_test::write_compressed(column_zero, SHORT_IMG, {nx, ny}, values, {NOCOMPRESS}, nullptr, 0.5, 1000);
  fitsfile* f = nullptr;
  int status = 0;
  double five = 5;
  ffopen(&f, (column_zero + "[1]").c_str(), READWRITE, &status);
  ffpky(f, TDOUBLE, "TZERO2", &five, nullptr, &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0);
  to_array<float, false> ima;
  fitsstruct rec;
  EXPECT_EXIT_STATUS(fits_read_float((column_zero + "[1]").c_str(), ima, &rec), 255,
                     "stand under their column's own scaling \\(TSCAL2 = 1, TZERO2 = 5\\)");
  for (int type : {NOCOMPRESS, RICE_1}) {
    const std::string file = scratch(type == NOCOMPRESS ? "zero_nocomp.fits" : "zero_rice.fits");
    fits_test::write_compressed(file, SHORT_IMG, {nx, ny}, values, {type}, nullptr, 0.5, 1000);
    ffopen(&f, (file + "[1]").c_str(), READWRITE, &status);
    double zero_scale = 0;
    ffuky(f, TDOUBLE, "BSCALE", &zero_scale, nullptr, &status);
    ffclos(f, &status);
    ASSERT_EQ(status, 0) << file;
    fits_read_float((file + "[1]").c_str(), ima, &rec);
    ASSERT_EQ(ima.n_elem(), nx * ny) << file;
    for (int k = 0; k < nx * ny; k++) EXPECT_EQ(ima(k), 1000.f) << file << " pixel " << k;
  }
}

// The undefined pixels of a NOCOMPRESS integer image, whose BLANK the
// library does not apply to tiles kept whole: undefined as the same image
// Rice-compressed reads them, the others as stored.
TEST(FitsCompressed, TilesKeptWholeMarkTheirBlankPixelsUndefined) {
  const long nx = 8, ny = 4;
  std::vector<short> stored(static_cast<std::size_t>(nx * ny));
  for (long k = 0; k < nx * ny; k++) stored[k] = static_cast<short>(k % 5 == 0 ? -999 : 3 * k + 1);
  for (int type : {NOCOMPRESS, RICE_1}) {
    const std::string file = scratch(type == NOCOMPRESS ? "blank_nocomp.fits" : "blank_rice.fits");
    fitsfile *plain = nullptr, *out = nullptr;
    int status = 0, blank = -999;
    long naxes[2] = {nx, ny};
    ffinit(&plain, "mem://", &status);
    ffcrim(plain, SHORT_IMG, 2, naxes, &status);
    ffpky(plain, TINT, "BLANK", &blank, nullptr, &status);
    ffrdef(plain, &status);
    ffppr(plain, TSHORT, 1, nx * ny, stored.data(), &status);
    ffinit(&out, file.c_str(), &status);
    fits_set_compression_type(out, type, &status);
    fits_img_compress(plain, out, &status);
    ffclos(plain, &status);
    ffclos(out, &status);
    ASSERT_EQ(status, 0) << file;
    to_array<float, false> ima;
    fitsstruct rec;
    fits_read_float((file + "[1]").c_str(), ima, &rec);
    ASSERT_EQ(ima.n_elem(), nx * ny) << file;
    for (long k = 0; k < nx * ny; k++) {
      if (stored[k] == -999)
        EXPECT_TRUE(std::isnan(ima(static_cast<int>(k)))) << file << " pixel " << k;
      else
        EXPECT_EQ(ima(static_cast<int>(k)), static_cast<float>(stored[k])) << file << " pixel " << k;
    }
  }
}

// Sizes no file could hold are refused before anything is allocated, under
// a memory limit that a 4 GB allocation would break: axis lengths near 2^63
// (compared, since their product overflows), and the inflated size that a
// zip archive's byte 22 claims and the library would allocate before
// inflating. A gzip file's last four bytes claiming 4 GB allocate nothing:
// the file is inflated piece by piece, and its trailer, which does not match
// what it inflates to, is refused as damaged.
TEST(FitsFilesDeath, ImpossibleSizesAreRefusedBeforeAllocation) {
  const std::string zip = "PK\x03\x04" + std::string(18, '\0') + "\xff\xff\xff\xff" + std::string(30, '\0');
  const struct {
    const char* stem;  // name read
    const char* file;  // file written
    std::string bytes;
    const char* message;
  } cases[] = {
      {"huge.fits", "huge.fits", image_bytes({}, "9223372036854775807"), "too large.*huge.fits"},
      {"tiny.fits.gz", "tiny.fits.gz", fits_test::gzip_claiming(0xffffffffu), "incorrect length check .*tiny.fits.gz"},
      {"named.fits", "named.fits", fits_test::gzip_claiming(40000000u), "incorrect length check .*named.fits"},
      {"beside", "beside.fits.gz", fits_test::gzip_claiming(0xfffffff0u, 100), "incorrect data check .*beside.fits.gz"},
      // Above 10000 bytes the library would add 2^32 to a claim below the file's size.
      {"wrapped.fits.gz", "wrapped.fits.gz", fits_test::gzip_claiming(100, 12000), "incorrect data check"},
      {"archive.fits.zip", "archive.fits.zip", zip, "zip archive.*archive.fits.zip"},
  };
  to_array<float, false> ima, block(2, 2);
  to_array<float, true> cube;
  to_array<double, true> doubles;
  fitsstruct rec;
  for (const auto& c : cases) {
    image_test::write_bytes(scratch(c.file), c.bytes);
    const std::string name = scratch(c.stem);
    EXPECT_EXIT_STATUS({ fits_test::limit_address_space_to_2gb(); fits_read_float(name.c_str(), ima, &rec); }, 255,
                       c.message)
        << c.stem;
  }
  // Every reader through the library checks the same way (the block reader
  // finds no room for 2^62 bytes, saturated, in the file).
  const char* const refused[][3] = {{"huge.fits", "too large", "announces 4611686018427387904 data bytes"},
                                    {"tiny.fits.gz", "incorrect length check", "incorrect length check"}};
  for (const auto& [stem, message, block_message] : refused) {
    EXPECT_EXIT_STATUS(fits_read_fltarr(scratch(stem).c_str(), cube), 255, message) << stem;
    EXPECT_EXIT_STATUS(fits_read_dblarr(scratch(stem).c_str(), doubles), 255, message) << stem;
    EXPECT_EXIT_STATUS(fits_read_block(scratch(stem).c_str(), block, 0, 0), 255, block_message) << stem;
  }
}

using QzMcaReaders = QzMcaProgram;

// A run on an input the reader refuses ends with the reason, naming the
// file, a status of -1 and no result at all.
TEST_F(QzMcaReaders, RefusedInputsLeaveNoResult) {
  const std::pair<std::string, const char*> cases[] = {
      {"twice.fits", "card NAXIS1 more than once, with values that differ (NAXIS1 = 16, then NAXIS1 = 15): remove "
                     "the wrong one ... (twice.fits)"},
      {"claim.fits.gz", "gzip data are damaged: incorrect length check ... (claim.fits.gz)"},
      {"groups.fits", "card GCOUNT = 4294967297 of the header describes data that an image does not have ... "
                      "(groups.fits)"}};
  image_test::write_bytes(path("plain.fits"), image_bytes({}));
  image_test::write_bytes(path("groups.fits"), image_bytes({"GCOUNT  =           4294967297"}));
  image_test::write_bytes(path("padded.fits"), image_bytes({}) + std::string(1 << 20, '\0'));
  ASSERT_EQ(image_test::run("gzip " + path("padded.fits")), 0);
  image_test::write_bytes(path("twice.fits"), image_bytes({"NAXIS1  =                   15"}));
  image_test::write_bytes(path("claim.fits.gz"), fits_test::gzip_claiming(0xffffffffu));
  ASSERT_EQ(run("-i 2 -t 1 plain.fits plain_out"), 0) << output_;  // the mandatory cards alone are fine
  // Records after the last HDU are allowed, compressed or not.
  ASSERT_EQ(run("-i 2 -t 1 padded.fits.gz padded_out"), 0) << output_;
  const FitsImage residual = result("plain_out_resi.fits");
  ASSERT_GT(residual.nl, 0);
  EXPECT_EQ(result("padded_out_resi.fits").pixels, residual.pixels);
  for (const auto& [input, message] : cases) {
    EXPECT_EQ(run("-i 2 -t 1 " + input + " out"), 255) << input;
    EXPECT_TRUE(printed(message)) << output_;
    for (const char* result : {"out.fits", "out_atrou.fits", "out_resi.fits"})
      EXPECT_FALSE(exists(result)) << input << " left " << result;
  }
}

namespace {

// Stored values k * step + first, integers for the integer BITPIX.
std::vector<double> ramp(int n, double first, double step) {
  std::vector<double> values(static_cast<std::size_t>(n));
  for (int k = 0; k < n; k++) values[k] = first + step * k;
  return values;
}

// The files of several HDUs the HDU tests read, made by CFITSIO: a primary
// image and an extension SCI (two.fits, and gzip'ed), an empty primary HDU
// before an image (mef.fits), a tile-compressed one (tile.fits), an empty
// image before an image (gap.fits), a table alone (table.fits).
struct HduFiles {
  std::vector<double> primary = ramp(48, -7, 0.5), science = ramp(48, 300, -3), other = ramp(35, 1000, 7);
  HduFiles() {
    using fits_test::Hdu;
    Hdu first{FLOAT_IMG, {8, 6}, primary};
    first.object = "primary";
    Hdu sci{SHORT_IMG, {8, 6}, science, "SCI"};
    sci.object = "science";
    const Hdu empty{BYTE_IMG, {}, {}};
    const Hdu image{SHORT_IMG, {7, 5}, other, "SCI"};
    Hdu tile = image;
    tile.compressed = true;
    Hdu table;
    table.table = true;
    fits_test::write_hdus(scratch("two.fits"), {first, sci});
    fits_test::write_bytes(scratch("twoz.fits.gz"), fits_test::read_bytes(scratch("two.fits")));
    EXPECT_TRUE(fits_test::gzip_in_place(scratch("twoz.fits.gz")));
    fits_test::write_hdus(scratch("mef.fits"), {empty, image});
    fits_test::write_hdus(scratch("tile.fits"), {tile});
    const std::string tiles = fits_test::read_bytes(scratch("tile.fits"));
    fits_test::write_bytes(scratch("tile.fz"), tiles);  // as fpack names it
    fits_test::write_bytes(scratch("tilecut.fits"), tiles.substr(0, tiles.size() - 2880));
    fits_test::write_hdus(scratch("gap.fits"), {empty, empty, image});
    fits_test::write_hdus(scratch("table.fits"), {empty, table});
    // Partial downloads: cut in the second HDU's header, in one of its cards
    // or after its END card, or after 50 of its 96 data bytes; a file whose
    // HDUs are followed by a block of zeros, or by a whole header the
    // library cannot read.
    const std::string two = fits_test::read_bytes(scratch("two.fits"));
    const std::size_t second = two.find("XTENSION");
    fits_test::write_bytes(scratch("cuthead.fits"), two.substr(0, second + 100));
    fits_test::write_bytes(scratch("cutpad.fits"), two.substr(0, second + 2000));
    fits_test::write_bytes(scratch("cutdata.fits"), two.substr(0, second + 2880 + 50));
    fits_test::write_bytes(scratch("zeros.fits"), two + std::string(2880, '\0'));
    std::string unreadable = fits_test::card("XTENSION= 'IMAGE   '") + fits_test::card("BITPIX  = 'sixteen'") +
                             fits_test::card("END");
    unreadable.resize(2880, ' ');
    fits_test::write_bytes(scratch("damaged.fits"), two + unreadable);
    const std::string mef = fits_test::read_bytes(scratch("mef.fits"));
    fits_test::write_bytes(scratch("mefcut.fits"), mef.substr(0, mef.find("XTENSION") + 100));
    // HDUs listed by name up to 16 of them.
    for (int count : {15, 16, 17}) {
      std::vector<Hdu> hdus(static_cast<std::size_t>(count), empty);
      hdus.back().extname = "LAST";
      fits_test::write_hdus(scratch("hdus" + std::to_string(count) + ".fits"), hdus);
    }
    // An EXTVER beside the name.
    const Hdu err{SHORT_IMG, {7, 5}, other, "ERR"};
    fits_test::write_hdus(scratch("ver.fits"), {first, sci, err});
    fitsfile* f = nullptr;
    int status = 0, type = 0, version = 2;
    ffopen(&f, scratch("ver.fits").c_str(), READWRITE, &status);
    ffmahd(f, 3, &type, &status);
    ffpky(f, TINT, "EXTVER", &version, nullptr, &status);
    ffclos(f, &status);
    EXPECT_EQ(status, 0);
  }
};

// "[0], [1], ... [n - 2], [n - 1] LAST" as a pattern.
std::string listed_up_to_last(int count) {
  std::string listed;
  for (int k = 0; k < count - 1; k++) listed += "\\[" + std::to_string(k) + "\\], ";
  return listed + "\\[" + std::to_string(count - 1) + "\\] LAST\\)";
}

}  // namespace

// The HDU a name selects, by number or by name, is the one read, header
// and pixels; a name without a selector reads the primary HDU.
TEST(FitsHdu, TheNameSelectsTheHduRead) {
  const HduFiles files;
  const struct {
    const char* name;
    const std::vector<double>& values;
    int nl, nc, bitpix;
    const char* object;  // the OBJECT card of the HDU, or none
  } cases[] = {
      {"two.fits", files.primary, 6, 8, -32, "'primary"},
      {"two.fits[0]", files.primary, 6, 8, -32, "'primary"},
      {"two.fits[1]", files.science, 6, 8, 16, "'science"},
      {"two.fits[SCI]", files.science, 6, 8, 16, "'science"},
      {"twoz.fits.gz[1]", files.science, 6, 8, 16, "'science"},
      {"mef.fits[1]", files.other, 5, 7, 16, nullptr},
      {"mef.fits[SCI]", files.other, 5, 7, 16, nullptr},
      {"tile.fits[1]", files.other, 5, 7, 16, nullptr},
      {"tile.fz[1]", files.other, 5, 7, 16, nullptr},  // read as typed: "tile.fz[1].fits" names nothing
      {"gap.fits[2]", files.other, 5, 7, 16, nullptr},
      // A copy into memory reads the file itself, completed as any name.
      {"two(mem://)", files.primary, 6, 8, -32, "'primary"},
      {"two.fits(mem://)[1]", files.science, 6, 8, 16, "'science"},
  };
  for (const auto& c : cases) {
    to_array<float, false> ima;
    fitsstruct rec;
    fits_read_float(scratch(c.name).c_str(), ima, &rec);
    ASSERT_EQ(ima.nl() * 100 + ima.nc(), c.nl * 100 + c.nc) << c.name;
    EXPECT_EQ(rec.height * 100 + rec.width, c.nl * 100 + c.nc) << c.name;
    for (int k = 0; k < ima.n_elem(); k++) ASSERT_EQ(ima(k), c.values[k]) << c.name << " " << k;
    // The header is the HDU's own, made primary for the results.
    EXPECT_EQ(std::string(rec.fitshead, 8), "SIMPLE  ") << c.name;
    EXPECT_EQ(rec.bitpix, c.bitpix) << c.name;
    const int object = fitsfind(rec.fitshead, "OBJECT  ");
    if (c.object == nullptr) {
      EXPECT_LT(object, 0) << c.name;
    } else {
      ASSERT_GE(object, 0) << c.name;
      EXPECT_EQ(std::string(rec.fitshead + 80 * object + 10, std::strlen(c.object)), c.object) << c.name;
    }
  }
}

// An HDU without an image says so and names the first HDU after it that
// holds one; a selector past the last HDU, or a name no HDU has, names the
// HDUs there are, with their names where they have any. A selected HDU
// that is there but that the library cannot read as asked (a bad selector,
// a section past the image) gets the library's reason, which names no
// file; a filter is refused before the library sees it.
TEST(FitsHdu, RefusesHdusWithoutAnImageAndMissingOnes) {
  const HduFiles files;
  const struct {
    const char* name;
    std::string message;
  } cases[] = {
      {"mef.fits", "the primary HDU of the file holds no image \\(NAXIS = 0\\): name the extension that holds it, "
                   "as in '.*/mef.fits\\[1\\]' ... \\(.*/mef.fits\\)"},
      {"tile.fits", "the primary HDU .* as in '.*/tile.fits\\[1\\]'"},
      {"gap.fits[1]", "HDU \\[1\\] of the file holds no image \\(NAXIS = 0\\): .* as in '.*/gap.fits\\[2\\]'"},
      {"table.fits", "the primary HDU of the file holds no image \\(NAXIS = 0\\), nor does any HDU after it"},
      {"table.fits[1]", "no image in this HDU \\(.*/table.fits\\[1\\]\\)"},
      {"two.fits[2]", "cannot open file \\(.*/two.fits\\[2\\]: .*/two.fits has no such HDU: it holds \\[0\\], \\[1\\] SCI\\)"},
      {"two.fits[FOO]", "two.fits has no such HDU: it holds \\[0\\], \\[1\\] SCI\\)"},
      {"two.fits[SCI,2]", "two.fits has no such HDU: it holds \\[0\\], \\[1\\] SCI\\)"},
      {"twoz.fits.gz[3]", "twoz.fits.gz has no such HDU: it holds \\[0\\], \\[1\\] SCI\\)"},
      {"gap.fits[3]", "gap.fits has no such HDU: it holds \\[0\\], \\[1\\], \\[2\\] SCI\\)"},
      {"table.fits[2]", "table.fits has no such HDU: it holds \\[0\\] to \\[1\\]\\)"},
      {"two.fits[1][bin x,y]", "asks the FITS library for a binning, which is refused.*two.fits\\[1\\]\\[bin x,y\\]\\)"},
      {"two.fits[SCI;x]", "cannot open file \\(.*/two.fits\\[SCI;x\\]: [^/]+\\)"},
      {"two.fits[1][pix > 3]", "asks the FITS library for a pixel filter, which is refused.*two.fits\\[1\\]\\[pix > 3\\]\\)"},
      {"two.fits[1][1:100,1:100]", "cannot open file \\(.*/two.fits\\[1\\]\\[1:100,1:100\\]: [^/]+\\)"},
      {"absent.fits[1]", "\\(.*/absent.fits\\[1\\]: No such file or directory\\)"},
      {"tilecut.fits[1]", "the file is truncated: its header announces [0-9]+ data bytes"},
      // A file cut short is no file without the HDU: it says where it ends.
      {"cuthead.fits[1]", "\\(.*/cuthead.fits\\[1\\]: .*/cuthead.fits is truncated: it ends inside the header of HDU "
                          "\\[1\\]\\)"},
      {"cutpad.fits[1]", "cutpad.fits is truncated: it ends inside the header of HDU \\[1\\]\\)"},
      // By name: the name in the cut header (cutpad), or cut off (cuthead).
      {"cutpad.fits[SCI]", "^Error: cannot open file \\(.*/cutpad.fits\\[SCI\\]: .*/cutpad.fits is truncated: it ends "
                           "inside the header of HDU \\[1\\]\\)\n$"},
      {"cutpad.fits[sci,1]", "cutpad.fits is truncated: it ends inside the header of HDU \\[1\\]\\)"},
      {"cuthead.fits[SCI]", "cuthead.fits is truncated: it ends inside the header of HDU \\[1\\]\\)"},
      {"cutdata.fits[2]", "cutdata.fits is truncated: it holds 50 of the 96 data bytes that the header of HDU \\[1\\] "
                          "announces\\)"},
      {"cutdata.fits[ERR]", "cutdata.fits is truncated: it holds 50 of the 96 data bytes"},
      {"mefcut.fits", "the primary HDU of the file holds no image \\(NAXIS = 0\\), and .*/mefcut.fits is truncated: "
                      "it ends inside the header of HDU \\[1\\] ... \\(.*/mefcut.fits\\)"},
      {"zeros.fits[2]", "zeros.fits has no such HDU: it holds \\[0\\], \\[1\\] SCI\\)"},
      {"damaged.fits[2]", "the header of HDU \\[2\\] gives BITPIX  = 'sixteen' where the FITS library reads BITPIX as an "
                          "integer .*damaged.fits\\)"},
      {"hdus15.fits[20]", "hdus15.fits has no such HDU: it holds " + listed_up_to_last(15)},
      {"hdus16.fits[20]", "hdus16.fits has no such HDU: it holds " + listed_up_to_last(16)},
      {"hdus17.fits[20]", "hdus17.fits has no such HDU: it holds \\[0\\] to \\[16\\]\\)"},
      {"ver.fits[3]", "ver.fits has no such HDU: it holds \\[0\\], \\[1\\] SCI, \\[2\\] ERR,2\\)"},
      {"ver.fits[ERR,1]", "ver.fits has no such HDU: it holds \\[0\\], \\[1\\] SCI, \\[2\\] ERR,2\\)"},
  };
  to_array<float, false> ima;
  fitsstruct rec;
  for (const auto& c : cases)
    EXPECT_EXIT({ QZ_STDOUT_TO_STDERR(); fits_read_float(scratch(c.name).c_str(), ima, &rec); },
                [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; }, c.message)
        << c.name;
}

// Pixels of an integer image equal to its BLANK value are undefined: read
// as NaN, the others as stored times BSCALE plus BZERO, whether the image
// is scaled or tile-compressed. Floating-point data, subnormal values
// included, read as stored.
TEST(FitsData, BlankPixelsOfIntegerImagesReadAsUndefined) {
  const struct {
    const char* name;
    int bitpix;
    long long blank;
    double bscale, bzero;
    bool compressed, has_blank;
  } cases[] = {
      {"b8.fits", 8, 255, 1, 0, false, true},           {"b16.fits", 16, -32768, 1, 0, false, true},
      {"b32.fits", 32, -2147483648LL, 1, 0, false, true}, {"b16s.fits", 16, -32768, 0.5, 1000, false, true},
      {"b16z.fits", 16, -32768, 1, 0, true, true},      {"b16no.fits", 16, 17, 1, 0, false, false},
  };
  for (const auto& c : cases) {
    fits_test::Hdu hdu{c.bitpix, {5, 4}, ramp(20, 3, 11)};
    for (int k : {2, 7, 19}) hdu.stored[k] = static_cast<double>(c.blank);
    hdu.has_blank = c.has_blank;
    hdu.blank = c.blank;
    hdu.bscale = c.bscale;
    hdu.bzero = c.bzero;
    hdu.compressed = c.compressed;
    fits_test::write_hdus(scratch(c.name), {hdu});
    to_array<float, false> ima;
    fitsstruct rec;
    fits_read_float(scratch(std::string(c.name) + (c.compressed ? "[1]" : "")).c_str(), ima, &rec);
    ASSERT_EQ(ima.n_elem(), 20) << c.name;
    for (int k = 0; k < 20; k++) {
      const bool blank = c.has_blank && hdu.stored[k] == static_cast<double>(c.blank);
      if (blank) {
        EXPECT_TRUE(std::isnan(ima(k))) << c.name << " " << k;
      } else {
        EXPECT_EQ(ima(k), static_cast<float>(hdu.stored[k] * c.bscale + c.bzero)) << c.name << " " << k;
      }
    }
  }
  const std::string floats = scratch("subnormal.fits");
  write_reference(floats, -32, {3, 2}, {1e-40, -1e-42, 0.5, std::nan(""), 2, 3});
  to_array<float, false> ima;
  fitsstruct rec;
  fits_read_float(floats.c_str(), ima, &rec);
  EXPECT_EQ(ima(0), 1e-40f);
  EXPECT_EQ(ima(1), -1e-42f);
  EXPECT_TRUE(std::isnan(ima(3)));
}

// A name with a selector whose file is not there is named as typed, with
// the status of a file that cannot be opened: not with ".fits" added after
// the selector, which the library cannot parse ("x[1].fits"). "-[1]" names
// a file "-", not the standard input, which is left unread. A file cut
// inside the header of the HDU selected by name says so, as by number.
TEST_F(QzMcaReaders, NamesThatFindNoFileOrAFileCutShortSaySo) {
  std::vector<double> values(256);
  for (int k = 0; k < 256; k++) values[k] = k % 23;
  fits_test::write_reference(path("f32.fits"), FLOAT_IMG, {16, 16}, values);
  fits_test::Hdu sci{FLOAT_IMG, {16, 16}, values, "SCI"};
  fits_test::Hdu err = sci;
  err.extname = "ERR";
  fits_test::write_hdus(path("two.fits"), {fits_test::Hdu{FLOAT_IMG, {}, {}}, sci, err});
  const std::string two = file_bytes("two.fits");
  const std::size_t third = two.find("XTENSION", two.find("XTENSION") + 80);
  ASSERT_NE(third, std::string::npos);
  image_test::write_bytes(path("cut.fits"), two.substr(0, third + 1000));
  const struct {
    std::string args;
    int status;
    std::string message;
  } cases[] = {
      {"'nosuch.fz[1]' o", 104, "Error: cannot open file (nosuch.fz[1]: No such file or directory)\n"},
      {"'f32[0]' o", 104,
       "Error: cannot open file (f32[0]: No such file or directory); .fits is not added before an HDU selector: "
       "name the whole file, as in 'f32.fits[0]'\n"},
      {"'nosuch[SCI]' o", 104, "Error: cannot open file (nosuch[SCI]: No such file or directory)\n"},
      {"-- '-[1]' o < f32.fits", 104, "Error: cannot open file (-[1]: No such file or directory)\n"},
      {"-- '-[1]' o < /dev/null", 104, "Error: cannot open file (-[1]: No such file or directory)\n"},
      // The library's statuses: it cannot read the header, or finds no HDU of the name.
      {"'cut.fits[2]' o", READ_ERROR & 0xff,
       "Error: cannot open file (cut.fits[2]: cut.fits is truncated: it ends inside the header of HDU [2])\n"},
      {"'cut.fits[ERR]' o", BAD_HDU_NUM & 0xff,
       "Error: cannot open file (cut.fits[ERR]: cut.fits is truncated: it ends inside the header of HDU [2])\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run("-i 2 -t 1 " + c.args), c.status) << c.args;
    EXPECT_EQ(output_, c.message) << c.args;
    EXPECT_FALSE(exists("o.fits")) << c.args;
  }
  EXPECT_EQ(run("-i 2 -t 1 'f32.fits[0]' o"), 0) << output_;
}

// A FITS input that does not open says, after the reason, what to do where
// the name shows it: an empty file is said to be one; a selector whose ']'
// is missing, or one put after a name that the reader would complete with
// .fits, gets the name meant. The name advised reads the image. Names of no
// file, or of a file that does not hold the image selected, get no advice.
TEST_F(QzMcaReaders, OpenFailuresSayWhatToDo) {
  std::vector<double> values(256);
  for (int k = 0; k < 256; k++) values[k] = 40 + k % 23;
  fits_test::write_reference(path("f32.fits"), FLOAT_IMG, {16, 16}, values);
  fits_test::write_reference(path("zip.fits"), FLOAT_IMG, {16, 16}, values);
  ASSERT_TRUE(fits_test::gzip_in_place(path("zip.fits")));
  ASSERT_EQ(std::rename(path("zip.fits").c_str(), path("zip.fits.gz").c_str()), 0);
  image_test::write_bytes(path("empty.fits"), "");
  image_test::write_bytes(path("b.fits"), "");
  const std::string whole = "; .fits is not added before an HDU selector: name the whole file, as in ";
  const std::string closing = "; the ']' that closes the HDU selector is missing: ";
  const struct {
    std::string name;
    int status;
    std::string message, advised;  // no advice: the message alone
  } cases[] = {
      {"f32[0]", 104, "(f32[0]: No such file or directory)", "f32.fits[0]"},
      {"zip[0]", 104, "(zip[0]: No such file or directory)", "zip.fits[0]"},  // its compressed sibling
      {"f32.fits[0", URL_PARSE_ERROR, "(f32.fits[0: No such file or directory)", "f32.fits[0]"},
      {"f32[0", URL_PARSE_ERROR, "(f32[0: No such file or directory)", "f32.fits[0]"},
      {"empty.fits", END_OF_FILE, "(empty.fits: tried to move past end of file)", ""},
      {"empty", END_OF_FILE, "(empty.fits: tried to move past end of file)", ""},
      {"absent[0]", 104, "(absent[0]: No such file or directory)", ""},
      {"absent.fits[0", URL_PARSE_ERROR, "(absent.fits[0: No such file or directory)", ""},
      {"f32.fits[3]", END_OF_FILE, "(f32.fits[3]: f32.fits has no such HDU: it holds [0] only)", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run("-i 2 -t 1 '" + c.name + "' o"), c.status & 0xff);
    std::string remedy;
    if (c.name.find("empty") == 0) remedy = "; the file is empty";
    else if (!c.advised.empty()) remedy = (c.status == URL_PARSE_ERROR ? closing : whole) + "'" + c.advised + "'";
    EXPECT_EQ(output_, "Error: cannot open file " + c.message + remedy + "\n");
    EXPECT_FALSE(exists("o.fits"));
    if (c.advised.empty()) continue;
    EXPECT_EQ(run("-i 2 -t 1 '" + c.advised + "' advised"), 0) << output_;
    EXPECT_TRUE(exists("advised_atrou.fits"));
  }
}

// 64-bit integers, what astropy writes for numpy's default integers, are
// refused with the library-independent message and status 1 of every
// unknown BITPIX, and what to write instead; written so, the same values
// separate alike.
TEST_F(QzMcaReaders, SixtyFourBitIntegersAreRefusedWithWhatToWriteInstead) {
  std::vector<double> values(256);
  for (int k = 0; k < 256; k++) values[k] = 40 + k % 23 + (k % 16 == 5 ? 200 : 0);
  fits_test::write_reference(path("i64.fits"), LONGLONG_IMG, {16, 16}, values);
  EXPECT_EQ(run("-i 2 -t 1 -g 1 i64.fits o"), 1);
  EXPECT_EQ(output_,
            "\n> Sorry, I don't know that kind of data. (i64.fits); BITPIX = 64 is not read, only 8, 16 and 32 "
            "(integers) and -32 and -64 (floats): write the image as 32-bit integers or as floats\n\n");
  EXPECT_FALSE(exists("o.fits") || exists("o_atrou.fits"));
  std::vector<float> residual;
  for (const int bitpix : {LONG_IMG, FLOAT_IMG}) {
    SCOPED_TRACE(bitpix);
    fits_test::write_reference(path("advised.fits"), bitpix, {16, 16}, values);
    ASSERT_EQ(run("-i 2 -t 1 -g 1 advised.fits o"), 0) << output_;
    const FitsImage resi = result("o_resi.fits");
    ASSERT_EQ(resi.pixels.size(), 256u);
    if (residual.empty()) residual = resi.pixels;
    EXPECT_EQ(resi.pixels, residual);
  }
}

// The advice for a standard input whose primary HDU holds no image is a
// command line that works as given: the option parser reads a word that
// begins with '-' as options, so the name comes after "--".
TEST_F(QzMcaReaders, TheStandardInputAdviceWorksAsGiven) {
  std::vector<double> science(1024);
  for (int k = 0; k < 1024; k++) science[k] = 50 + (k * 7 % 17) + (k % 32 == 9 ? 300 : 0);
  fits_test::write_hdus(path("mef.fits"), {fits_test::Hdu{BYTE_IMG, {}, {}}, fits_test::Hdu{SHORT_IMG, {32, 32}, science}});
  EXPECT_EQ(run("-t 1 -i 2 -g 1 - o < mef.fits"), 255);
  EXPECT_TRUE(printed("Error: the primary HDU of the file holds no image (NAXIS = 0): name the extension that holds "
                      "it, as in -- '-.fits[1]' ... (-)\n"))
      << output_;
  ASSERT_EQ(run("-t 1 -i 2 -g 1 'mef.fits[1]' ref"), 0) << output_;
  ASSERT_EQ(run("-t 1 -i 2 -g 1 -- '-.fits[1]' o < mef.fits"), 0) << output_;
  ASSERT_EQ(result("ref_resi.fits").pixels.size(), 1024u);
  EXPECT_EQ(result("o_resi.fits").pixels, result("ref_resi.fits").pixels);
}

// The extension a name selects is the image separated, plain or
// tile-compressed; BLANK pixels are refused as pixels that are not numbers
// are, with their count and the same advice, -H or not.
TEST_F(QzMcaReaders, TheHduANameSelectsIsSeparatedAndBlankPixelsRefused) {
  std::vector<double> primary = ramp(1024, 10, 0.5), science(1024);
  for (int k = 0; k < 1024; k++) science[k] = 50 + (k * 7 % 17) + (std::abs(k / 32 - 12) + std::abs(k % 32 - 20) < 4 ? 400 : 0);
  fits_test::Hdu sci{SHORT_IMG, {32, 32}, science, "SCI"};
  fits_test::write_hdus(path("two.fits"), {fits_test::Hdu{FLOAT_IMG, {32, 32}, primary}, sci});
  sci.compressed = true;
  fits_test::write_hdus(path("tile.fits"), {sci});
  for (const char* name : {"'two.fits[SCI]'", "'tile.fits[1]'"}) {
    ASSERT_EQ(run(std::string("-t 1 -i 5 ") + name + " o"), 0) << name << output_;
    const FitsImage sum = result("o.fits"), residual = result("o_resi.fits");
    ASSERT_EQ(sum.pixels.size(), 1024u) << name;
    for (std::size_t k = 0; k < sum.pixels.size(); k++)
      ASSERT_NEAR(sum.pixels[k] + residual.pixels[k], science[k], 1e-3) << name << " " << k;
  }
  for (int i = 10; i < 20; i++)
    for (int j = 5; j < 15; j++) sci.stored[static_cast<std::size_t>(i) * 32 + j] = -32768;
  sci.has_blank = true;
  sci.blank = -32768;
  sci.bscale = 0.01;
  fits_test::write_hdus(path("blankz.fits"), {sci});
  sci.compressed = false;
  fits_test::write_hdus(path("blank.fits"), {sci});
  for (const char* args : {"-t 1 'blankz.fits[1]' b", "-t 1 -H blank.fits b"}) {
    EXPECT_EQ(run(args), 255) << args;
    EXPECT_TRUE(printed("100 pixels of the input image are undefined (BLANK = -32768); set missing pixels to 0 and "
                        "use -H to mask them ... (blank")) << output_;
    EXPECT_FALSE(exists("b_resi.fits")) << args;
  }
  // Unsigned 16-bit data store 0 as -32768: with that BLANK, a missing
  // pixel set to 0 would be undefined again. The advice is to drop the
  // card, after which those pixels read as 0 and -H masks them.
  sci.bscale = 1;
  sci.bzero = 32768;
  for (double& v : sci.stored) v = v == -32768 ? v : v - 32768;
  sci.compressed = true;
  fits_test::write_hdus(path("ublankz.fits"), {sci});
  sci.compressed = false;
  fits_test::write_hdus(path("ublank.fits"), {sci});
  for (const char* args : {"-t 1 'ublankz.fits[1]' b", "-t 1 -H ublank.fits b"}) {
    EXPECT_EQ(run(args), 255) << args;
    EXPECT_TRUE(printed("100 pixels of the input image are undefined (BLANK = -32768), the value this file stores 0 "
                        "as; remove the BLANK card (or give it a value no pixel has) and use -H to mask them ... "
                        "(ublank")) << output_;
    EXPECT_FALSE(exists("b_resi.fits")) << args;
  }
  sci.has_blank = false;
  fits_test::write_hdus(path("unblank.fits"), {sci});
  EXPECT_EQ(run("-t 1 -i 5 -H unblank.fits b"), 0) << output_;
  EXPECT_TRUE(exists("b_resi.fits"));
}
