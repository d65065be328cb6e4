// The read/write dispatch: the run's format fixed by the first name, the
// header record carried from input to output, complex images as pairs of
// files, and the refused formats. The sample image is the reference for the
// main road: read, written back, and compared through CFITSIO.
#include "io/io_dispatch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fits_test_files.h"
#include "support/death.h"

using fits_test::read_reference;
using fits_test::scratch;

namespace {

const std::string kSample = std::string(QZ_SOURCE_DIR) + "/data/m51.fits";

bool fitsverify_clean(const std::string& path, std::string* report) {
  std::FILE* pipe = popen(("fitsverify '" + path + "' 2>&1").c_str(), "r");
  char buf[512];
  while (pipe != nullptr && std::fgets(buf, sizeof buf, pipe) != nullptr) *report += buf;
  if (pipe != nullptr) pclose(pipe);
  return report->find("**** Verification found 0 warning(s) and 0 error(s). ****") != std::string::npos;
}

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
  ASSERT_EQ(ima.nl(), 512);
  ASSERT_EQ(ima.nc(), 512);
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

  if (system("command -v fitsverify > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "fitsverify is not installed";
  std::string report;
  EXPECT_TRUE(fitsverify_clean(out + ".fits", &report)) << report;
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
  ASSERT_EQ(back.nl(), 5);
  ASSERT_EQ(back.nc(), 6);
  for (int k = 0; k < z.n_elem(); k++) EXPECT_EQ(back(k), z(k));

  // Parts of different sizes are refused.
  to_array<float, false> real_part(5, 6), imag_part(2, 2);
  io_write_ima_float((name + "_bad_re.fits").c_str(), real_part);
  io_write_ima_float((name + "_bad_im.fits").c_str(), imag_part);
  EXPECT_EXIT_STATUS(io_read_ima_complex_f((name + "_bad").c_str(), back), 255, "is 2 x 2 but");
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
