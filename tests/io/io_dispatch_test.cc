// The read/write dispatch: the run's format fixed by the first name, the
// header record carried from input to output, complex images as pairs of
// files, and the refused formats. The sample image is the reference for the
// main road: read, written back, and compared through CFITSIO.
#include "io/io_dispatch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image_test_tools.h"
#include "io/gif_io.h"
#include "io/jpeg_io.h"
#include "io/pgm_io.h"
#include "support/death.h"

using fits_test::read_reference;
using fits_test::scratch;

namespace {

const std::string kSample = std::string(QZ_SOURCE_DIR) + "/data/m51.fits";

int count_cards(const std::vector<std::string>& cards, const std::string& text) {
  int n = 0;
  for (const std::string& c : cards) n += c == fits_test::card(text);
  return n;
}

class Dispatch : public testing::Test {
 protected:
  void SetUp() override { io_set_format(F_UNKNOWN); }
};

}  // namespace

TEST_F(Dispatch, SampleImageGoesBackUnchanged) {
  to_array<float, false> ima;
  fitsstruct header;
  io_read_ima_float(kSample.c_str(), ima, &header);
  EXPECT_EQ(Format_Imag, F_FITS);
  EXPECT_EQ(TypeInputData, T_SHORT);
  ASSERT_EQ(ima.nl() * 1000 + ima.nc(), 512512);
  header.origin = "qz_mca -v m51.fits m51_out";
  std::string out = scratch("m51_out");
  io_write_ima_float(out.c_str(), ima, &header);

  fits_test::Reference in = read_reference(kSample);
  fits_test::Reference back = read_reference(out + ".fits");
  EXPECT_EQ(back.bitpix, 16);
  EXPECT_EQ(back.naxes, in.naxes);
  ASSERT_EQ(back.values.size(), in.values.size());
  for (std::size_t k = 0; k < in.values.size(); k++) ASSERT_EQ(back.values[k], in.values[k]) << k;
  for (int k = 0; k < ima.n_elem(); k++) ASSERT_EQ(ima(k), in.values[k]) << k;

  std::vector<std::string> cards = fits_test::header_cards(fits_test::read_bytes(out + ".fits"));
  EXPECT_EQ(count_cards(cards, "OBJECT  = 'M51     '"), 1);
  EXPECT_EQ(count_cards(cards, "COMMENT Whirlpool galaxy, 512x512, 16-bit counts"), 1);
  EXPECT_EQ(count_cards(cards, std::string("HISTORY ") + Soft.banner()), 1);
  EXPECT_EQ(count_cards(cards, "HISTORY qz_mca -v m51.fits m51_out"), 1);

  REQUIRE_TOOL("fitsverify");
  std::string report = image_test::run_output("fitsverify '" + out + ".fits'");
  EXPECT_NE(report.find("**** Verification found 0 warning(s) and 0 error(s). ****"), std::string::npos) << report;
}

TEST_F(Dispatch, SixteenBitHeaderWritesSixteenBitsAtTheNewSize) {
  to_array<float, false> ima;
  fitsstruct header;
  io_read_ima_float(kSample.c_str(), ima, &header);
  to_array<float, false> small(10, 12);
  for (int k = 0; k < small.n_elem(); k++) small(k) = 3.f * k - 100.4f;
  std::string out = scratch("small16.fits");
  io_write_ima_float(out.c_str(), small, &header);
  fits_test::Reference back = read_reference(out);
  EXPECT_EQ(back.bitpix, 16);
  EXPECT_EQ(back.naxes, (std::vector<long>{12, 10}));
  for (int k = 0; k < small.n_elem(); k++) EXPECT_EQ(back.values[k], std::round(3.0 * k - 100.4));
  // A second write with the same record adds the banner again.
  io_write_ima_float(out.c_str(), small, &header);
  std::vector<std::string> cards = fits_test::header_cards(fits_test::read_bytes(out));
  EXPECT_EQ(count_cards(cards, std::string("HISTORY ") + Soft.banner()), 2);
}

TEST_F(Dispatch, NewFilesAreFloatOrIntAndFirstNameFixesTheFormat) {
  to_array<float, false> ima(3, 4);
  for (int k = 0; k < 12; k++) ima(k) = 0.25f * k;
  std::string result = scratch("result");
  io_write_ima_float(result.c_str(), ima);
  EXPECT_EQ(Format_Imag, F_FITS);
  fits_test::Reference ref = read_reference(result + ".fits");
  EXPECT_EQ(ref.bitpix, -32);
  EXPECT_EQ(ref.values[5], 1.25);

  // The run stays in FITS whatever later names show.
  to_array<int, false> ints(4, 3);
  for (int k = 0; k < 12; k++) ints(k) = 1000000 * k - 7;
  std::string gif_named = scratch("ints.gif");
  io_write_ima_int(gif_named.c_str(), ints);
  fits_test::Reference iref = read_reference(gif_named + ".fits");
  EXPECT_EQ(iref.bitpix, 32);
  to_array<int, false> back;
  fitsstruct header;
  io_read_ima_int(gif_named.c_str(), back, &header);
  EXPECT_EQ(TypeInputData, T_INT);
  for (int k = 0; k < 12; k++) EXPECT_EQ(back(k), ints(k));
}

// Folders never choose the format, the extension or the disp pixel type:
// only the file's own name does.
TEST_F(Dispatch, FoldersNeverChooseTheFormat) {
  const struct {
    const char *folder, *name, *file;
    type_format format;
  } cases[] = {{"dir.d", "x.fits", "x.fits", F_FITS},   {"j.doe", "img.fits", "img.fits", F_FITS},
               {"dir.fits", "img", "img.fits", F_FITS}, {"a.gif.d", "b.pgm", "b.pgm", F_PGM},
               {"x.pgm", "c.gif", "c.gif", F_GIF},      {"run_i_2", "m_s_3_4.d", "m_s_3_4.d", F_DISP}};
  to_array<float, false> ima(3, 4);
  for (int k = 0; k < 12; k++) ima(k) = static_cast<float>(20 * k + 3);
  for (const auto& c : cases) {
    std::string folder = scratch(c.folder);
    mkdir(folder.c_str(), 0755);
    std::string name = folder + "/" + c.name;
    io_set_format(F_UNKNOWN);
    io_write_ima_float(name.c_str(), ima);
    EXPECT_EQ(Format_Imag, c.format) << name;
    EXPECT_TRUE(fits_test::file_exists(folder + "/" + c.file)) << name;
    io_set_format(F_UNKNOWN);
    to_array<float, false> back;
    io_read_ima_float(name.c_str(), back);
    EXPECT_EQ(Format_Imag, c.format) << name;
    if (c.format == F_DISP) {
      EXPECT_EQ(TypeInputData, T_SHORT);  // the file's tag, not the folder's
    }
    ASSERT_EQ(back.n_elem(), 12) << name;
    for (int k = 0; k < 12; k++) EXPECT_EQ(back(k), ima(k)) << name << " " << k;
  }
}

TEST_F(Dispatch, ComplexImagesAreTwoFiles) {
  to_array<std::complex<float>, false> z(5, 6);
  for (int k = 0; k < z.n_elem(); k++) z(k) = std::complex<float>(k * 0.5f, -1.f * k);
  std::string name = scratch("z");
  io_write_ima_complex_f(name.c_str(), z);
  EXPECT_TRUE(fits_test::file_exists(name + "_re.fits"));
  EXPECT_TRUE(fits_test::file_exists(name + "_im.fits"));
  EXPECT_EQ(read_reference(name + "_im.fits").values[3], -3.0);
  to_array<std::complex<float>, false> back;
  io_read_ima_complex_f(name.c_str(), back);
  EXPECT_EQ(TypeInputData, T_FLOAT);
  ASSERT_EQ(back.nl() * 10 + back.nc(), 56);
  for (int k = 0; k < z.n_elem(); k++) EXPECT_EQ(back(k), z(k));

  // Parts of different sizes are refused.
  to_array<float, false> real_part(5, 6), imag_part(2, 2);
  io_write_ima_float((name + "_bad_re.fits").c_str(), real_part);
  io_write_ima_float((name + "_bad_im.fits").c_str(), imag_part);
  EXPECT_EXIT_STATUS(io_read_ima_complex_f((name + "_bad").c_str(), back), 255, "is 2 x 2 but");
  // A write whose imaginary part fails leaves no real part either.
  const std::string failing = scratch("zf");
  mkdir((failing + "_im.fits").c_str(), 0755);
  EXPECT_EXIT_STATUS(io_write_ima_complex_f(failing.c_str(), z), 255, "Unable to open file: .*zf_im.fits");
  EXPECT_FALSE(fits_test::file_exists(failing + "_re.fits"));
}

TEST_F(Dispatch, DashNamesUseTheStandardStreams) {
  to_array<float, false> ima(2, 3);
  const float values[6] = {10.f, 20.f, 30.f, -5.f, 20.f, 300.f};
  for (int k = 0; k < 6; k++) ima(k) = values[k];
  // "-b" writes rescaled bytes whatever the flag says: (v + 5) / (305 / 255), truncated.
  const int stretched[6] = {12, 20, 29, 0, 20, 255};
  std::string pgm = scratch("stdout.pgm"), gif = scratch("stdout.gif"), jpg = scratch("stdout.jpg"),
              disp = scratch("stdout_f_2_3.d");
  image_test::stdout_to_file(pgm, [&] { writepgm("-b", ima, False); });
  EXPECT_EQ(fits_test::read_bytes(pgm), "P5\n#-b\n3 2\n255\n" + std::string("\x0c\x14\x1d\0\x14\xff", 6));
  image_test::stdout_to_file(gif, [&] { writegif("-b", ima, False); });
  to_array<int, false> back;
  readgif(gif.c_str(), back);
  for (int k = 0; k < 6; k++) EXPECT_EQ(back(k), stretched[k]) << k;
  image_test::stdout_to_file(jpg, [&] { io_write2d_jpeg("-", ima, False, 100); });
  EXPECT_EQ(fits_test::read_bytes(jpg).substr(0, 2), "\xFF\xD8");
  io_read2d_jpeg(jpg.c_str(), back);
  EXPECT_EQ(back.nl() * 10 + back.nc(), 23);
  io_set_format(F_DISP);
  image_test::stdout_to_file(disp, [&] { io_write_ima_float("-", ima); });
  to_array<float, false> raw;
  image_test::stdin_with(fits_test::read_bytes(disp), [&] { io_read_ima_float("-_f_2_3.d", raw); });
  for (int k = 0; k < 6; k++) EXPECT_EQ(raw(k), values[k]);
}

TEST_F(Dispatch, RefusedFormatsStop) {
  to_array<float, false> ima(2, 2);
  EXPECT_EXIT_STATUS(io_read_ima_float("x.bdf", ima), 255, "Error: MIDAS is not active");
  EXPECT_EXIT_STATUS(io_write_ima_float("x.bdf", ima), 255, "Error: MIDAS is not active");
  EXPECT_EXIT_STATUS(
      {
        io_set_format(static_cast<type_format>(9));
        io_write_ima_float("x.fits", ima);
      },
      255, "bad image format. cannot write");
}

// A name that names no file is refused by every writer in every format:
// with the extension added it would make a hidden ".fits". Run inside an
// empty folder, so that what a write let through would show there.
TEST_F(Dispatch, NamesThatNameNoFileAreRefused) {
  const std::string folder = scratch("nameless");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  to_array<float, false> ima(2, 2);
  to_array<int, false> ints(2, 2);
  to_array<std::complex<float>, false> z(2, 2);
  const std::string said = "must name a file, not a folder or nothing";
  for (type_format format : {F_FITS, F_DISP, F_GIF, F_PGM, F_JPEG})
    for (const char* name : {"", "."}) {
      auto in_folder = [&] {
        if (chdir(folder.c_str()) != 0) std::abort();
        io_set_format(format);
      };
      EXPECT_EXIT_STATUS({ in_folder(); io_write_ima_float(name, ima); }, 255, said);
      EXPECT_EXIT_STATUS({ in_folder(); io_write_ima_int(name, ints); }, 255, said);
      EXPECT_EXIT_STATUS({ in_folder(); io_write_ima_complex_f(name, z); }, 255, said);
      EXPECT_EXIT_STATUS({ in_folder(); io_float_output_file(name, 2, 2); }, 255, said);
    }
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

// The file a result will be is known before the work; none for the
// standard output.
TEST_F(Dispatch, OutputFileOfAResultName) {
  io_set_format(F_FITS);
  EXPECT_EQ(io_float_output_file("o", 8, 6), "o.fits");
  EXPECT_EQ(io_float_output_file("-", 8, 6), "");
}
