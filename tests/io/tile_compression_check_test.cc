// Tile-compressed images as the library's own compressor makes them (as
// fpack does): undefined pixels read as undefined, and files with one card
// or a few bytes changed refused with a message naming the card or the tile
// before the library's decoder meets them.
#include "io/tile_compression_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fits_test_files.h"
#include "image_test_tools.h"
#include "io/fits_io.h"
#include "support/death.h"
#include "support/qz_mca_program.h"

using fits_test::Compression;
using fits_test::scratch;

namespace {

constexpr long kWidth = 64, kHeight = 48;

// A sky of about 1000 with noise, its first `undefined_columns` columns
// holding `undefined` (NaN, or a declared null value).
std::vector<double> sky(int undefined_columns, double undefined) {
  std::vector<double> values(kWidth * kHeight);
  unsigned state = 12345;
  for (long k = 0; k < kWidth * kHeight; k++) {
    state = state * 1103515245u + 12345u;
    values[k] = k % kWidth < undefined_columns ? undefined : 1000 + (state >> 16) % 1000 / 100.0;
  }
  return values;
}

// The card `key` of the first extension's header given the value `value`.
std::string with_card(std::string bytes, const std::string& key, const std::string& value) {
  for (std::size_t at = 2880; at + 80 <= bytes.size(); at += 80) {
    if (bytes.compare(at, 8, "END     ") == 0) break;
    std::string padded = key;
    padded.resize(8, ' ');
    if (bytes.compare(at, 8, padded) != 0) continue;
    std::string card = padded + "= " + std::string(value.size() < 20 ? 20 - value.size() : 0, ' ') + value;
    card.resize(80, ' ');
    return bytes.replace(at, 80, card);
  }
  ADD_FAILURE() << "no card " << key;
  return bytes;
}

// Where the table of the first extension begins, after its header.
std::size_t table_start(const std::string& bytes) {
  std::size_t at = 2880;
  while (at + 80 <= bytes.size() && bytes.compare(at, 8, "END     ") != 0) at += 80;
  return (at / 2880 + 1) * 2880;
}

std::vector<float> read_image(const std::string& name) {
  to_array<float, false> ima;
  fitsstruct rec;
  fits_read_float(name.c_str(), ima, &rec);
  return std::vector<float>(ima.buffer(), ima.buffer() + ima.n_elem());
}

}  // namespace

// Undefined pixels read as NaN whatever the compression, quantized or
// exact, dithered or not, NaN or a declared null value; every other pixel
// reads as the library reads it.
TEST(TileCompressedImages, UndefinedPixelsReadAsUndefined) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), null = -999;
  const struct {
    const char* name;
    Compression how;
    bool declared_null;
  } cases[] = {
      {"rice.fits", {RICE_1, 4, SUBTRACTIVE_DITHER_1}, false},
      {"rice_nodither.fits", {RICE_1, 4, NO_DITHER}, false},
      {"hcompress.fits", {HCOMPRESS_1, 4, SUBTRACTIVE_DITHER_1, {64, 16}}, false},
      {"gzip2.fits", {GZIP_2, 4, SUBTRACTIVE_DITHER_2}, false},
      {"gzip_exact.fits", {GZIP_1, 0, NO_DITHER}, false},
      {"rice_null.fits", {RICE_1, 4, SUBTRACTIVE_DITHER_1}, true},
      {"gzip_exact_null.fits", {GZIP_1, 0, NO_DITHER}, true},
  };
  for (const auto& c : cases) {
    const std::vector<double> values = sky(10, c.declared_null ? null : nan);
    fits_test::write_compressed(scratch(c.name), FLOAT_IMG, {kWidth, kHeight}, values, c.how,
                                c.declared_null ? &null : nullptr);
    const std::string name = scratch(std::string(c.name) + "[1]");
    const std::vector<float> ours = read_image(name);
    const fits_test::Reference library = fits_test::read_reference(name);
    ASSERT_EQ(ours.size(), values.size()) << c.name;
    int undefined = 0;
    for (std::size_t k = 0; k < values.size(); k++) {
      if (static_cast<long>(k) % kWidth < 10) {
        undefined += std::isnan(ours[k]);
      } else {
        ASSERT_EQ(ours[k], static_cast<float>(library.values[k])) << c.name << " " << k;
        ASSERT_NEAR(ours[k], values[k], 2) << c.name << " " << k;
      }
    }
    EXPECT_EQ(undefined, 10 * kHeight) << c.name;
  }
}

// Each file is valid but for one card or a few bytes; the library would
// end the read by a signal, or read past its buffers, on most of them.
TEST(TileCompressedImages, CardsAndTilesTheDecoderTrustsAreChecked) {
  std::vector<double> ints(kWidth * kHeight);
  for (std::size_t k = 0; k < ints.size(); k++) ints[k] = 100 + static_cast<double>(k * 37 % 200);
  fits_test::write_compressed(scratch("f_rice.fits"), FLOAT_IMG, {kWidth, kHeight}, sky(0, 0), {});
  fits_test::write_compressed(scratch("i_rice.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {});
  fits_test::write_compressed(scratch("i_hcomp.fits"), SHORT_IMG, {kWidth, kHeight}, ints,
                              {HCOMPRESS_1, 4, 1, {16, 8}});
  const std::string f_rice = fits_test::read_bytes(scratch("f_rice.fits"));
  const std::string i_rice = fits_test::read_bytes(scratch("i_rice.fits"));
  const std::string i_hcomp = fits_test::read_bytes(scratch("i_hcomp.fits"));
  fits_test::write_compressed(scratch("i_gzip.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {GZIP_1});
  // The first tile's gzip stream cut to 10 bytes.
  std::string gzip_cut = fits_test::read_bytes(scratch("i_gzip.fits"));
  gzip_cut.replace(table_start(gzip_cut), 4, std::string("\0\0\0\x0a", 4));
  // The first tile's descriptor, moved past the heap.
  std::string outside = i_rice;
  outside.replace(table_start(outside) + 4, 4, std::string("\x7f\0\0\0", 4));
  const struct {
    const char* name;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"ztile1.fits", with_card(f_rice, "ZTILE1", "0"), "has ZTILE1 = 0: a tile has at least 1 pixel"},
      {"ztile2.fits", with_card(f_rice, "ZTILE2", "-3"), "has ZTILE2 = -3: a tile has at least 1 pixel"},
      {"znaxis1.fits", with_card(f_rice, "ZNAXIS1", "0"), "has ZNAXIS1 = 0: an axis"},
      {"znaxis.fits", with_card(f_rice, "ZNAXIS", "7"), "has ZNAXIS = 7: an image of 1 to 6 axes"},
      {"rows.fits", with_card(f_rice, "ZTILE2", "2"), "has NAXIS2 = 48 rows: its 24 tiles need as many"},
      {"blocksize.fits", with_card(f_rice, "ZVAL1", "0"), "has ZVAL1 = 0 \\(BLOCKSIZE\\): Rice codes blocks"},
      {"bytepix3.fits", with_card(i_rice, "ZVAL2", "3"), "has ZVAL2 = 3 \\(BYTEPIX\\): Rice codes pixels of 1, 2 or 4"},
      {"bytepix8.fits", with_card(i_rice, "ZVAL2", "8"), "has ZVAL2 = 8 \\(BYTEPIX\\)"},
      {"bytepix4.fits", with_card(i_rice, "ZVAL2", "4"), "has tile 1: its Rice data end before its pixels do"},
      {"dither.fits", with_card(f_rice, "ZDITHER0", "-5"), "has ZDITHER0 = -5: dithering starts at 1 to 10000"},
      {"dither_far.fits", with_card(f_rice, "ZDITHER0", "10001"), "has ZDITHER0 = 10001"},
      {"zcmptype.fits", with_card(f_rice, "ZCMPTYPE", "'RICE_2'"), "has ZCMPTYPE = 'RICE_2': a compression"},
      {"zquantiz.fits", with_card(f_rice, "ZQUANTIZ", "'DITHER'"), "has ZQUANTIZ = 'DITHER': a quantization"},
      {"zbitpix.fits", with_card(f_rice, "ZBITPIX", "12"), "has ZBITPIX = 12: no FITS pixel type"},
      {"scale.fits", with_card(i_hcomp, "ZVAL1", "'x'"), "has ZVAL1 = 'x' \\(SCALE\\): no number"},
      {"hwide.fits", with_card(i_hcomp, "ZTILE1", "17"),
       "has tile 1 \\(17 x 8 pixels\\): its HCOMPRESS stream describes an image of 16 x 8"},
      {"htall.fits", with_card(i_hcomp, "ZTILE2", "9"), "has tile 1 \\(16 x 9 pixels\\)"},
      {"gzip_cut.fits", gzip_cut, "has tile 1: its gzip data do not end within its pixels"},
      {"outside.fits", outside, "has tile 1: its compressed data lie outside the table's heap"},
  };
  for (const auto& c : cases) {
    const std::string path = scratch(c.name);
    fits_test::write_bytes(path, c.bytes);
    const std::string message = std::string("the tile-compressed image in HDU \\[1\\] ") + c.message + ".*" + c.name;
    EXPECT_EXIT_STATUS(read_image(path + "[1]"), 255, message) << c.name;
    // Read from memory once inflated, and past the HDU as the library
    // counts the file's HDUs.
    if (std::strcmp(c.name, "ztile1.fits") == 0 && fits_test::gzip_in_place(path)) {
      EXPECT_EXIT_STATUS(read_image(path + "[1]"), 255, message) << c.name << " gzip";
      EXPECT_EXIT_STATUS(read_image(path), 255, message) << c.name << " primary";
    }
  }
  // The same files unchanged read as the library reads them.
  for (const char* name : {"f_rice.fits", "i_rice.fits", "i_hcomp.fits"}) {
    const std::vector<float> ours = read_image(scratch(std::string(name) + "[1]"));
    const fits_test::Reference library = fits_test::read_reference(scratch(std::string(name) + "[1]"));
    ASSERT_EQ(ours.size(), library.values.size()) << name;
    for (std::size_t k = 0; k < ours.size(); k++) ASSERT_EQ(ours[k], static_cast<float>(library.values[k])) << name;
  }
}

using QzMcaTiles = QzMcaProgram;

// A float image whose first 20 columns are NaN, compressed as fpack does,
// is refused as the plain file is, with the same message and no result.
TEST_F(QzMcaTiles, UndefinedPixelsOfCompressedImagesAreRefused) {
  std::vector<double> values(128 * 128);
  for (std::size_t k = 0; k < values.size(); k++)
    values[k] = k % 128 < 20 ? std::numeric_limits<double>::quiet_NaN() : 1000 + static_cast<double>(k * 7 % 13);
  fits_test::write_compressed(path("nan.fits"), FLOAT_IMG, {128, 128}, values, {});
  fits_test::write_reference(path("plain.fits"), FLOAT_IMG, {128, 128}, values);
  for (const char* input : {"'nan.fits[1]'", "plain.fits"}) {
    EXPECT_EQ(run(std::string("-t 1 -i 2 ") + input + " o"), 255) << input;
    EXPECT_TRUE(
        printed("Error: 2560 pixels of the input image are not finite numbers; set missing pixels to 0 and "
                "use -H to mask them"))
        << output_;
    EXPECT_FALSE(exists("o_resi.fits")) << input;
  }
}
