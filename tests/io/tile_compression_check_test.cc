// Tile-compressed images as the library's own compressor makes them (as
// fpack does): undefined pixels read as undefined, and files with one card
// or a few bytes changed refused with a message naming the card or the tile
// before the library's decoder meets them.
#include "io/tile_compression_check.h"

#include <gtest/gtest.h>
#include <omp.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "image_test_tools.h"
#include "io/fits_glue.h"
#include "io/fits_io.h"
#include "tile_table_layouts.h"
#include "support/death.h"
#include "support/qz_mca_program.h"

using fits_test::Compression;
using fits_test::scratch;
using fits_test::value_card;

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

// The first extension's header (or the one at `header`) with `text` as a
// card of its own, added before END in the room the header's block leaves,
// after any copy.
std::string with_copy(std::string bytes, const std::string& text, std::size_t header = 2880) {
  for (std::size_t at = header; at + 80 <= bytes.size(); at += 80) {
    if (bytes.compare(at, 8, "END     ") != 0) continue;
    if ((at + 80) % 2880 == 0) break;
    bytes.replace(at + 80, 80, bytes.substr(at, 80));
    return bytes.replace(at, 80, fits_test::card(text));
  }
  ADD_FAILURE() << "no room for " << text;
  return bytes;
}

// The card `key` of the first extension's header given the value `value`;
// added when absent.
std::string with_card(std::string bytes, const std::string& key, const std::string& value) {
  const std::string card = fits_test::card(fits_test::value_card(key, value));
  for (std::size_t at = 2880; at + 80 <= bytes.size() && bytes.compare(at, 8, "END     ") != 0; at += 80)
    if (bytes.compare(at, 8, card, 0, 8) == 0) return bytes.replace(at, 80, card);
  return with_copy(bytes, card);
}

// Where the table of the first extension begins, after its header.
std::size_t table_start(const std::string& bytes) {
  std::size_t at = 2880;
  while (at + 80 <= bytes.size() && bytes.compare(at, 8, "END     ") != 0) at += 80;
  return (at / 2880 + 1) * 2880;
}

// The value of an integer card of the first extension's header.
long integer_card(const std::string& bytes, const std::string& key) {
  std::string padded = key;
  padded.resize(8, ' ');
  for (std::size_t at = 2880; at + 80 <= bytes.size() && bytes.compare(at, 8, "END     ") != 0; at += 80)
    if (bytes.compare(at, 8, padded) == 0) return std::atol(bytes.substr(at + 10, 20).c_str());
  ADD_FAILURE() << "no card " << key;
  return 0;
}

// Where the length (`field` 0) or the heap offset (`field` 1) of tile
// `tile`'s stream stands, the table's first column.
std::size_t descriptor_at(const std::string& bytes, long tile, int field) {
  return table_start(bytes) + tile * integer_card(bytes, "NAXIS1") + 4 * field;
}
void set_descriptor(std::string& bytes, long tile, int field, std::uint32_t value) {
  const std::size_t at = descriptor_at(bytes, tile, field);
  for (int k = 0; k < 4; k++) bytes[at + k] = static_cast<char>(value >> (24 - 8 * k));
}
std::uint32_t descriptor(const std::string& bytes, long tile, int field) {
  const std::size_t at = descriptor_at(bytes, tile, field);
  std::uint32_t value = 0;
  for (int k = 0; k < 4; k++) value = value << 8 | static_cast<unsigned char>(bytes[at + k]);
  return value;
}

// Writes `bytes` (one tile-compressed extension whose heap follows its
// table) to path with tile `tile`'s stream moved to heap offset `offset`
// and declared `length` bytes long, PCOUNT grown to end with it: the file
// is sparse, only the bytes written take room.
void write_with_tile_at(const std::string& path, std::string bytes, long tile, std::uint32_t offset,
                        std::uint32_t length) {
  const std::size_t heap = table_start(bytes) + integer_card(bytes, "NAXIS1") * integer_card(bytes, "NAXIS2");
  const std::string stream = bytes.substr(heap + descriptor(bytes, tile, 1), descriptor(bytes, tile, 0));
  set_descriptor(bytes, tile, 0, length);
  set_descriptor(bytes, tile, 1, offset);
  const long long heap_bytes = static_cast<long long>(offset) + length;
  bytes = with_card(bytes, "PCOUNT", std::to_string(heap_bytes));
  const long long end = (static_cast<long long>(heap) + heap_bytes + 2879) / 2880 * 2880;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  const int descriptor = fileno(file);
  EXPECT_EQ(pwrite(descriptor, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  EXPECT_EQ(pwrite(descriptor, stream.data(), stream.size(), static_cast<off_t>(heap + offset)),
            static_cast<ssize_t>(stream.size()));
  EXPECT_EQ(ftruncate(descriptor, static_cast<off_t>(end)), 0);
  std::fclose(file);
}

// The bytes in a gzip stream, as the library's compressor writes a tile.
std::string gzipped(const std::vector<unsigned char>& bytes) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string packed(deflateBound(&z, bytes.size()), '\0');
  z.next_in = const_cast<unsigned char*>(bytes.data());
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<unsigned char*>(&packed[0]);
  z.avail_out = static_cast<uInt>(packed.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  packed.resize(z.total_out);
  deflateEnd(&z);
  return packed;
}

// The first extension's header without the card `key`: a comment stands
// in its place.
std::string without_card(std::string bytes, const std::string& key) {
  std::string padded = key;
  padded.resize(8, ' ');
  for (std::size_t at = 2880; at + 80 <= bytes.size() && bytes.compare(at, 8, "END     ") != 0; at += 80)
    if (bytes.compare(at, 8, padded) == 0) return bytes.replace(at, 80, fits_test::card("COMMENT " + key + " left out"));
  ADD_FAILURE() << "no card " << key;
  return bytes;
}

// Tile `tile`'s descriptor in the P column `name` given `length` values.
std::string with_length(const std::string& bytes, const std::string& name, long tile, std::uint32_t length) {
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(bytes);
  const int number = tile_layouts::column_number(hdu, name);
  EXPECT_GT(number, 0) << name;
  const tile_layouts::column column = tile_layouts::columns(hdu)[number - 1];
  tile_layouts::write_big_endian(hdu.rows, tile * hdu.integer("NAXIS1") + column.offset, 4, length);
  return tile_layouts::put_together(hdu);
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

// The convention lets one tile's scale stand as a card instead of a column:
// such tiles are quantized too, and their ZBLANK pixels undefined.
TEST(TileCompressedImages, QuantizationIsSeenInACardAsInAColumn) {
  const struct {
    const char* name;
    Compression how;
    bool scale_as_card;
    bool quantized;
  } cases[] = {
      {"column.fits", {RICE_1, 4, SUBTRACTIVE_DITHER_1, {kWidth, kHeight}}, false, true},
      {"card.fits", {RICE_1, 4, SUBTRACTIVE_DITHER_1, {kWidth, kHeight}}, true, true},
      {"lossless.fits", {GZIP_1, 0, NO_DITHER, {kWidth, kHeight}}, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = scratch(c.name);
    fits_test::write_compressed(path, FLOAT_IMG, {kWidth, kHeight}, sky(10, std::nan("")), c.how);
    int status = 0;
    fitsfile* fptr = nullptr;
    if (c.scale_as_card) {
      ffopen(&fptr, (path + "[1]").c_str(), READWRITE, &status);
      for (const char* column : {"ZSCALE", "ZZERO"}) {
        int number = 0, any = 0;
        double value = 0;
        ffgcno(fptr, CASEINSEN, const_cast<char*>(column), &number, &status);
        ffgcv(fptr, TDOUBLE, number, 1, 1, 1, nullptr, &value, &any, &status);
        ffdcol(fptr, number, &status);
        ffpky(fptr, TDOUBLE, column, &value, nullptr, &status);
      }
      ffclos(fptr, &status);
      ASSERT_EQ(status, 0);
    }
    ffopen(&fptr, (path + "[1]").c_str(), READONLY, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(fits_tiles_quantized(fptr), c.quantized);
    ffclos(fptr, &status);
    // The library would read every pixel of the card's tiles as ZZERO.
    if (c.scale_as_card)
      EXPECT_EXIT_STATUS(read_image(path + "[1]"), 255,
                         "has ZSCALE = .*: a scale given as a card, which the FITS library reads as 0.*card.fits");
    else
      EXPECT_EQ(read_image(path + "[1]").size(), static_cast<std::size_t>(kWidth * kHeight));
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
  // Tiles of 32 x 16: a side of 33 or 17 keeps the count of tiles.
  fits_test::write_compressed(scratch("i_hcomp32.fits"), SHORT_IMG, {kWidth, kHeight}, ints,
                              {HCOMPRESS_1, 4, 1, {32, 16}});
  const std::string i_hcomp32 = fits_test::read_bytes(scratch("i_hcomp32.fits"));
  fits_test::write_compressed(scratch("i_gzip.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {GZIP_1});
  // The first tile's gzip stream cut to 10 bytes.
  std::string gzip_cut = fits_test::read_bytes(scratch("i_gzip.fits"));
  gzip_cut.replace(table_start(gzip_cut), 4, std::string("\0\0\0\x0a", 4));
  // The first tile's descriptor, moved past the heap.
  std::string outside = i_rice;
  outside.replace(table_start(outside) + 4, 4, std::string("\x7f\0\0\0", 4));
  // A 32-bit image, PLIO lists, tiles kept whole (NOCOMPRESS, and a float
  // image whose default quantization the library's compressor marks
  // ZDITHER0 = 0), and a float ramp that the quantization leaves whole and
  // gzipped in GZIP_COMPRESSED_DATA.
  std::vector<double> ramp(kWidth * kHeight);
  for (std::size_t k = 0; k < ramp.size(); k++) ramp[k] = 1000 + 0.25 * static_cast<double>(k % kWidth) + k / kWidth;
  fits_test::write_compressed(scratch("i32_rice.fits"), LONG_IMG, {kWidth, kHeight}, ints, {});
  fits_test::write_compressed(scratch("i_plio.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {PLIO_1});
  fits_test::write_compressed(scratch("i_nocomp.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {NOCOMPRESS});
  fits_test::write_compressed(scratch("f_nocomp.fits"), FLOAT_IMG, {kWidth, kHeight}, sky(0, 0), {NOCOMPRESS});
  fits_test::write_compressed(scratch("f_ramp.fits"), FLOAT_IMG, {kWidth, kHeight}, ramp, {});
  const std::string i32_rice = fits_test::read_bytes(scratch("i32_rice.fits"));
  const std::string i_plio = fits_test::read_bytes(scratch("i_plio.fits"));
  const std::string i_nocomp = fits_test::read_bytes(scratch("i_nocomp.fits"));
  const std::string f_ramp = fits_test::read_bytes(scratch("f_ramp.fits"));
  const std::string i_gzip = fits_test::read_bytes(scratch("i_gzip.fits"));
  ASSERT_EQ(tile_layouts::take_apart(f_ramp).value("TTYPE4"), "GZIP_COMPRESSED_DATA");
  ASSERT_EQ(tile_layouts::take_apart(fits_test::read_bytes(scratch("f_nocomp.fits"))).value("ZDITHER0"), "0");
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
      // The decoder reads pixels of any width but 1 and 2 as 4 bytes wide,
      // past the end of these 2-byte streams.
      {"bytepix3.fits", with_card(i_rice, "ZVAL2", "3"), "has tile 1: its Rice data end before its pixels do"},
      {"bytepix8.fits", with_card(i_rice, "ZVAL2", "8"), "has tile 1: its Rice data end before its pixels do"},
      // Names that say the values are swapped, values that do not look so:
      // the decoder takes ZVAL1 as the block size.
      {"blocksize_named.fits",
       with_card(with_card(with_card(with_card(i_rice, "ZNAME1", "'BYTEPIX'"), "ZVAL1", "0"), "ZNAME2", "'BLOCKSIZE'"),
                 "ZVAL2", "2"),
       "has ZVAL1 = 0 \\(BLOCKSIZE\\): Rice codes blocks"},
      // Named otherwise, ZVAL1 is still the decoder's block size.
      {"blocksize_scale.fits", with_card(with_card(i_rice, "ZNAME1", "'SCALE'"), "ZVAL1", "0"),
       "has ZVAL1 = 0 \\(BLOCKSIZE\\): Rice codes blocks"},
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
      {"ztile_real.fits", with_card(f_rice, "ZTILE1", "0.9"), "has ZTILE1 = 0.9: a tile has at least 1 pixel"},
      {"ztile_text.fits", with_card(f_rice, "ZTILE1", "'64x'"), "has ZTILE1 = '64x': its value is no integer"},
      {"theap.fits", with_card(i_rice, "THEAP", "9223372036854775807"),
       "has tile 1: its compressed data lie outside the table's heap"},
      {"tile_huge.fits",
       with_card(with_card(with_card(with_card(with_card(f_rice, "ZNAXIS1", "1099511627776"), "ZTILE1",
                                               "1099511627776"),
                                     "ZNAXIS2", "1099511627776"),
                           "ZTILE2", "1099511627776"),
                 "NAXIS2", "1"),
       "has ZTILE1 = 1099511627776, ZTILE2 = 1099511627776: a tile of more pixels than any file could hold"},
      {"zgcount.fits", with_card(i_hcomp, "ZGCOUNT", "65535"), "has ZGCOUNT = 65535: an image is one group of pixels"},
      {"zgcount0.fits", with_card(i_rice, "ZGCOUNT", "0"), "has ZGCOUNT = 0: an image is one group of pixels"},
      {"tfields.fits", with_card(i_rice, "TFIELDS", "100000000"),
       "has TFIELDS = 100000000: a table has at most 999 columns"},
      {"float_rice.fits", with_card(i_rice, "ZBITPIX", "-32"),
       "has ZBITPIX = -32: RICE_1 codes integers, and no ZSCALE column or card quantizes the floating-point pixels"},
      {"float_hcomp.fits", with_card(i_hcomp, "ZBITPIX", "-64"), "has ZBITPIX = -64: HCOMPRESS_1 codes integers"},
      {"float_plio.fits", with_card(i_plio, "ZBITPIX", "-32"), "has ZBITPIX = -32: PLIO_1 codes integers"},
      {"unquantized.fits", with_card(f_rice, "ZQUANTIZ", "'NONE'"), "has ZBITPIX = -32: RICE_1 codes integers"},
      {"float_gzip.fits", with_card(i_gzip, "ZBITPIX", "-32"),
       "has tile 1: its gzip data inflate to 128 bytes, fewer than its 64 pixels hold"},
      {"gzip_column.fits", with_card(f_ramp, "ZBITPIX", "-64"),
       "has tile 1: its gzip data inflate to 256 bytes, fewer than its 64 pixels hold"},
      {"no_bytepix.fits", without_card(without_card(i_rice, "ZNAME2"), "ZVAL2"),
       "has tile 1: its Rice data end before its pixels do"},
      {"hshort.fits", with_length(i_hcomp, "COMPRESSED_DATA", 0, 10),
       "has tile 1: its HCOMPRESS stream is shorter than its header"},
      {"hswapped.fits", with_card(with_card(i_hcomp, "ZTILE1", "8"), "ZTILE2", "16"),
       "has tile 1 \\(8 x 16 pixels\\): its HCOMPRESS stream describes an image of 16 x 8"},
      {"narrow.fits", with_card(i_rice, "NAXIS1", "7"), "has NAXIS1 = 7: its rows are narrower than their columns"},
      {"fixed.fits", with_card(i_rice, "TFORM1", "'8B'"),
       "has TFORM1 = '8B': the compressed data are no variable-length column"},
      {"plio_past.fits", with_length(i_plio, "COMPRESSED_DATA", 0, 5), "has tile 1: its PLIO list runs past its data"},
      {"plio_theap.fits", with_card(i_plio, "THEAP", "-1"), "has tile 1: its compressed data lie outside the table's heap"},
      {"plio_pixels.fits", with_card(with_card(i_plio, "ZNAXIS1", "63"), "ZTILE1", "63"),
       "has tile 1: its PLIO list decodes to 64 pixels, not its 63"},
      {"plio_bytes.fits", with_card(i_plio, "TFORM1", "'1PB(200)'"),
       "has TFORM1 = '1PB\\(200\\)': PLIO lists are 16-bit integers"},
      {"kept.fits", with_length(i_nocomp, "UNCOMPRESSED_DATA", 0, 65),
       "has tile 1: it keeps 65 values uncompressed, not its 64 pixels"},
      {"kept_short.fits", with_length(i_nocomp, "UNCOMPRESSED_DATA", 1, 63),
       "has tile 2: it keeps 63 values uncompressed, not its 64 pixels"},
      {"kept_far.fits", with_length(i_nocomp, "UNCOMPRESSED_DATA", 0, 100000),
       "has tile 1: its uncompressed data lie outside the table's heap"},
      {"nocompress_coded.fits", with_length(i_nocomp, "COMPRESSED_DATA", 0, 1),
       "has tile 1: compressed data in a NOCOMPRESS image, which no decoder reads"},
      // A card given twice, of which the library may read the copy the
      // checks do not (it ends by a signal on the first two, and its
      // HCOMPRESS decoder writes past its tile on the next two); a card
      // the library reads in any case, or by its column's number, or
      // whose keyword an '=' ends.
      {"twice.fits", with_copy(f_rice, value_card("ZTILE2", "0")),
       "has ZTILE2 twice \\(ZTILE2 = 1, then ZTILE2 = 0\\): the FITS library may read either copy"},
      {"twice_lower.fits", with_copy(f_rice, value_card("ztile1", "0")),
       "has ZTILE1 twice \\(ZTILE1 = 64, then ztile1 = 0\\): the FITS library may read either copy"},
      {"hwide_twice.fits", with_copy(i_hcomp32, value_card("ZTILE1", "33")),
       "has ZTILE1 twice \\(ZTILE1 = 32, then ZTILE1 = 33\\)"},
      {"htall_twice.fits", with_copy(i_hcomp32, value_card("Ztile2", "17")),
       "has ZTILE2 twice \\(ZTILE2 = 16, then Ztile2 = 17\\)"},
      {"zimage_twice.fits", with_copy(with_card(f_rice, "ZIMAGE", "F"), value_card("ZIMAGE", "T")),
       "has ZIMAGE twice \\(ZIMAGE = F, then ZIMAGE = T\\)"},
      {"tform_twice.fits", with_copy(i_rice, "TFORM01 = '1PJ(10)'"),
       "has TFORM1 twice \\(TFORM1 = '1PB\\([0-9]+\\) *', then TFORM01 = '1PJ\\(10\\)'\\)"},
      {"naxis2_twice.fits", with_copy(i_rice, value_card("naxis2", "5")),
       "has NAXIS2 twice \\(NAXIS2 = 48, then naxis2 = 5\\)"},
      {"bscale_twice.fits", with_copy(with_card(i_rice, "BSCALE", "1"), value_card("bscale", "2")),
       "has BSCALE twice \\(BSCALE = 1, then bscale = 2\\)"},
      {"lone_lower.fits", with_copy(without_card(f_rice, "ZTILE1"), value_card("ztile1", "0")),
       "has ztile1 = 0: a tile has at least 1 pixel"},
      {"ttype_number.fits",
       with_copy(without_card(with_length(i_plio, "COMPRESSED_DATA", 0, 5), "TTYPE1"), "TTYPE01 = 'COMPRESSED_DATA'"),
       "has tile 1: its PLIO list runs past its data"},
      // A HIERARCH card the library finds as ZTILE1; a table whose type
      // ends in blanks, which the library takes for a compressed image.
      {"hierarch_twice.fits", with_copy(f_rice, "HIERARCH ZTILE1 = 0"),
       "has ZTILE1 twice \\(ZTILE1 = 64, then HIERARCH ZTILE1 = 0\\)"},
      {"bintable_blanks.fits", with_card(with_card(f_rice, "XTENSION", "'BINTABLE  '"), "ZTILE1", "0"),
       "has ZTILE1 = 0: a tile has at least 1 pixel along each axis"},
      {"equals.fits", with_copy(without_card(f_rice, "ZTILE1"), "ZTILE1=0"),
       "has ZTILE1=0: the FITS library reads no value in it"},
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
  // A heap the file cannot hold is the library's to report, unread.
  fits_test::write_bytes(scratch("pcount.fits"), with_card(i_rice, "PCOUNT", "9223372036854775000"));
  EXPECT_EXIT_STATUS(read_image(scratch("pcount.fits[1]")), 255, "the file is truncated: its header announces");
  // The same files unchanged, or with cards in other forms the library
  // reads alike, read as the library reads them.
  fits_test::write_bytes(scratch("d_hcomp.fits"), with_card(i_hcomp, "ZVAL1", "0.0D0"));
  fits_test::write_bytes(scratch("real_tile.fits"),
                         with_card(with_card(f_rice, "ZTILE1", "64."), "ZDITHER0", "+1.5E0"));
  // Dithering's last offset, and its default when the card is absent; the
  // tiles' sides by default (the rows); a 32-bit image's Rice pixels by
  // default 4 bytes wide.
  fits_test::write_bytes(scratch("dither_last.fits"), with_card(f_rice, "ZDITHER0", "10000"));
  fits_test::write_bytes(scratch("dither_absent.fits"), without_card(f_rice, "ZDITHER0"));
  // Floating-point tiles kept whole never read the dithering offset.
  fits_test::write_compressed(scratch("f_lossless.fits"), FLOAT_IMG, {kWidth, kHeight}, sky(0, 0), {GZIP_1, 0});
  fits_test::write_bytes(scratch("dither_unquantized.fits"),
                         with_card(with_card(fits_test::read_bytes(scratch("f_lossless.fits")), "ZQUANTIZ",
                                             "'SUBTRACTIVE_DITHER_1'"),
                                   "ZDITHER0", "-5"));
  // Rice's parameters in the other order, which the decoder tells by their
  // values (a block size below 16 beside a width above 8), however they
  // are named; a NOISEBIT in place of BYTEPIX, as early versions of the
  // library wrote for quantized floats, and a 32-bit image's BYTEPIX = 8,
  // both read as 4 bytes.
  fits_test::write_bytes(scratch("rice_swapped.fits"),
                         with_card(with_card(with_card(with_card(i_rice, "ZNAME1", "'BYTEPIX'"), "ZVAL1", "2"),
                                             "ZNAME2", "'BLOCKSIZE'"),
                                   "ZVAL2", "32"));
  fits_test::write_bytes(scratch("rice_lower.fits"),
                         with_card(with_card(with_card(with_card(i_rice, "ZNAME1", "'bytepix'"), "ZVAL1", "2"),
                                             "ZNAME2", "'BLOCKSIZE'"),
                                   "ZVAL2", "32"));
  fits_test::write_bytes(scratch("rice_swapped_unnamed.fits"), with_card(with_card(i_rice, "ZVAL1", "2"), "ZVAL2", "32"));
  fits_test::write_bytes(scratch("noisebit.fits"), with_card(with_card(f_rice, "ZNAME2", "'NOISEBIT'"), "ZVAL2", "16"));
  fits_test::write_bytes(scratch("i32_bytepix8.fits"), with_card(i32_rice, "ZVAL2", "8"));
  // Double images quantized by default, their gzip tiles 4 bytes a pixel.
  fits_test::write_compressed(scratch("d_gzip1.fits"), DOUBLE_IMG, {kWidth, kHeight}, sky(0, 0), {GZIP_1});
  fits_test::write_compressed(scratch("d_gzip2.fits"), DOUBLE_IMG, {kWidth, kHeight}, sky(0, 0), {GZIP_2});
  // Compression cards in lower case, which the library reads as their
  // upper-case selves.
  fits_test::write_bytes(scratch("lower.fits"),
                         with_copy(with_copy(without_card(without_card(i_hcomp, "ZTILE1"), "ZCMPTYPE"),
                                             value_card("ztile1", "16")),
                                   "zcmptype= 'HCOMPRESS_1'"));
  // The observer's cards that begin with Z, given twice: no compression
  // card, the library carries them through as written.
  fits_test::write_bytes(scratch("int_no_dither.fits"), with_card(i_rice, "ZQUANTIZ", "'NO_DITHER'"));
  // ZPCOUNT, which the library never reads: astropy writes its old heap's
  // size there in a table it copied.
  fits_test::write_bytes(scratch("zpcount.fits"), with_card(i_rice, "ZPCOUNT", "3"));
  fits_test::write_bytes(scratch("zenith_twice.fits"),
                         with_copy(with_copy(i_rice, value_card("ZENITH", "12.5")), value_card("zenith", "13")));
  // Cards the library's rebuild of the image header needs, whatever its
  // defaults for the pixels: the checks pass the tiles, the library reads
  // them.
  fits_test::write_bytes(scratch("ztile_absent.fits"), without_card(without_card(f_rice, "ZTILE1"), "ZTILE2"));
  fits_test::write_bytes(scratch("i32_no_bytepix.fits"), without_card(without_card(i32_rice, "ZNAME2"), "ZVAL2"));
  for (const auto& [name, original] : {std::pair<const char*, const char*>{"ztile_absent.fits", "f_rice.fits"},
                                       {"i32_no_bytepix.fits", "i32_rice.fits"}}) {
    fitsfile* opened = nullptr;
    int status = 0;
    ASSERT_EQ(fits_open_input(&opened, scratch(std::string(name) + "[1]"), READONLY, &status), 0) << name;
    fits_check_tiles(opened);
    fits_close_input(opened, &status);
    EXPECT_EQ(fits_test::read_reference(scratch(std::string(name) + "[1]")).values,
              fits_test::read_reference(scratch(std::string(original) + "[1]")).values)
        << name;
  }
  for (const char* name : {"f_rice.fits", "i_rice.fits", "i_hcomp.fits", "d_hcomp.fits", "real_tile.fits",
                           "dither_last.fits", "dither_absent.fits", "dither_unquantized.fits", "rice_swapped.fits",
                           "rice_swapped_unnamed.fits", "rice_lower.fits", "noisebit.fits", "i32_bytepix8.fits", "d_gzip1.fits", "d_gzip2.fits",
                           "lower.fits", "zenith_twice.fits", "int_no_dither.fits", "zpcount.fits",
                           "i_plio.fits", "i_nocomp.fits", "f_nocomp.fits", "f_ramp.fits"}) {
    const std::vector<float> ours = read_image(scratch(std::string(name) + "[1]"));
    const fits_test::Reference library = fits_test::read_reference(scratch(std::string(name) + "[1]"));
    ASSERT_EQ(ours.size(), library.values.size()) << name;
    for (std::size_t k = 0; k < ours.size(); k++) ASSERT_EQ(ours[k], static_cast<float>(library.values[k])) << name;
  }
}

// Lossy HCOMPRESS of full-range 32-bit pixels: scale x noise overflows,
// and the library's compressor writes a negative scale, which its decoder
// takes as lossless. Such tiles read as the library reads them.
TEST(TileCompressedImages, HcompressNegativeScaleReadsAsTheLibraryReadsIt) {
  std::vector<int> full(kWidth * kHeight);
  std::mt19937 random(25);
  for (int& value : full) value = static_cast<std::int32_t>(random());
  // Written pixel by pixel into the compressed image, as a program using
  // the library would.
  const std::string path = scratch("h_negative.fits");
  fitsfile* f = nullptr;
  int status = 0;
  long naxes[2] = {kWidth, kHeight}, tile[2] = {16, 16};
  fits_create_file(&f, path.c_str(), &status);
  fits_set_compression_type(f, HCOMPRESS_1, &status);
  fits_set_tile_dim(f, 2, tile, &status);
  fits_set_hcomp_scale(f, 2.5f, &status);
  fits_create_img(f, LONG_IMG, 2, naxes, &status);
  fits_write_img(f, TINT, 1, kWidth * kHeight, full.data(), &status);
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0);
  // The tiles' streams, each scale a 4-byte field after the magic and the
  // sides.
  const std::string bytes = fits_test::read_bytes(path);
  const tile_layouts::table_hdu hdu = tile_layouts::take_apart(bytes);
  const auto field = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at])) << 24 |
           static_cast<unsigned char>(bytes[at + 1]) << 16 | static_cast<unsigned char>(bytes[at + 2]) << 8 |
           static_cast<unsigned char>(bytes[at + 3]);
  };
  const std::size_t heap = table_start(bytes) + hdu.integer("NAXIS1") * hdu.integer("NAXIS2");
  int negative = 0;
  for (long long row = 0; row < hdu.integer("NAXIS2"); row++) {
    const std::size_t stream = heap + field(table_start(bytes) + row * hdu.integer("NAXIS1") + 4);
    ASSERT_EQ(bytes.compare(stream, 2, "\xDD\x99"), 0);
    negative += static_cast<unsigned char>(bytes[stream + 10]) >= 0x80;
  }
  ASSERT_GT(negative, 0) << "the compressor wrote no negative scale";
  const std::vector<float> ours = read_image(path + "[1]");
  const fits_test::Reference library = fits_test::read_reference(path + "[1]");
  ASSERT_EQ(ours.size(), library.values.size());
  for (std::size_t k = 0; k < ours.size(); k++) ASSERT_EQ(ours[k], static_cast<float>(library.values[k])) << k;
}

// The header at `header` padded with blank cards (which no reader reads)
// until its END closes block `blocks` of its own.
std::string with_header_blocks(const std::string& bytes, std::size_t header, std::size_t blocks) {
  std::size_t end = header;
  while (bytes.compare(end, 8, "END     ") != 0) end += 80;
  const std::size_t data = (end / 2880 + 1) * 2880;
  return bytes.substr(0, end) + std::string(header + blocks * 2880 - 80 - end, ' ') + bytes.substr(end, 80) +
         bytes.substr(data);
}

// The cards of a tile-compressed image are looked up in tables of the
// checks' own, built for headers of at most 10000 blocks, which any image
// fits in: a longer one is refused, while a plain image's header of any
// length is the library's to read.
TEST(TileCompressedImages, CompressedHeadersPastTenThousandBlocksAreRefused) {
  std::vector<double> ints(kWidth * kHeight);
  for (std::size_t k = 0; k < ints.size(); k++) ints[k] = static_cast<double>(k % 251);
  fits_test::write_compressed(scratch("short.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {});
  const std::string compressed = fits_test::read_bytes(scratch("short.fits"));
  fits_test::write_bytes(scratch("limit.fits"), with_header_blocks(compressed, 2880, 10000));
  EXPECT_EQ(read_image(scratch("limit.fits[1]")), std::vector<float>(ints.begin(), ints.end()));
  fits_test::write_bytes(scratch("limit.fits"), with_header_blocks(compressed, 2880, 10001));
  EXPECT_EXIT_STATUS(read_image(scratch("limit.fits[1]")), 255,
                     "the header of the tile-compressed image in HDU \\[1\\] runs past 10000 blocks of 2880 bytes");
  fits_test::write_reference(scratch("plain.fits"), SHORT_IMG, {kWidth, kHeight}, ints);
  const std::string plain = fits_test::read_bytes(scratch("plain.fits"));
  fits_test::write_bytes(scratch("plain.fits"), with_header_blocks(plain, 0, 10001));
  EXPECT_EQ(read_image(scratch("plain.fits")), std::vector<float>(ints.begin(), ints.end()));
  for (const char* name : {"short.fits", "limit.fits", "plain.fits"}) std::remove(scratch(name).c_str());
}

// A heap past 2 GiB, as 1P descriptors reach it: the library reads their
// fields unsigned, and a tile stored there reads as it did before it was
// moved. The file is sparse.
TEST(TileCompressedImages, TilesPastTwoGigabytesOfHeapRead) {
  std::vector<double> ints(kWidth * kHeight);
  for (std::size_t k = 0; k < ints.size(); k++) ints[k] = 100 + static_cast<double>(k * 37 % 200);
  fits_test::write_compressed(scratch("far_rice.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {});
  const std::string bytes = fits_test::read_bytes(scratch("far_rice.fits"));
  const std::vector<float> near = read_image(scratch("far_rice.fits[1]"));
  for (const std::uint32_t offset : {0x80000000u, 0xfffff000u}) {
    write_with_tile_at(scratch("far.fits"), bytes, 5, offset, descriptor(bytes, 5, 0));
    EXPECT_EQ(read_image(scratch("far.fits[1]")), near) << offset;
    // One byte more than the heap holds.
    write_with_tile_at(scratch("far.fits"), bytes, 5, offset, descriptor(bytes, 5, 0));
    std::FILE* file = std::fopen(scratch("far.fits").c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::uint32_t length = descriptor(bytes, 5, 0) + 1;
    unsigned char field[4] = {static_cast<unsigned char>(length >> 24), static_cast<unsigned char>(length >> 16),
                              static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
    EXPECT_EQ(pwrite(fileno(file), field, 4, static_cast<off_t>(descriptor_at(bytes, 5, 0))), 4);
    std::fclose(file);
    EXPECT_EXIT_STATUS(read_image(scratch("far.fits[1]")), 255,
                       "HDU \\[1\\] has tile 6: its compressed data lie outside the table's heap");
  }
  std::remove(scratch("far.fits").c_str());
}

// Q descriptors, 8-byte fields, as the library writes very large files:
// the rewritten files read to the same pixels in the library (the rewrite
// is sound) and here, every tile column of them checked as in P files.
TEST(TileCompressedImages, QDescriptorsAreReadAndChecked) {
  std::vector<double> ints(kWidth * kHeight), ramp(kWidth * kHeight);
  for (std::size_t k = 0; k < ints.size(); k++) {
    ints[k] = 100 + static_cast<double>(k * 37 % 200);
    ramp[k] = 1000 + 0.25 * static_cast<double>(k % kWidth) + k / kWidth;
  }
  const struct {
    const char* name;
    int bitpix;
    const std::vector<double>& values;
    Compression how;
  } files[] = {
      {"q_rice.fits", SHORT_IMG, ints, {}},
      {"q_hcomp.fits", SHORT_IMG, ints, {HCOMPRESS_1, 4, 1, {16, 8}}},
      {"q_plio.fits", SHORT_IMG, ints, {PLIO_1}},
      {"q_nocomp.fits", SHORT_IMG, ints, {NOCOMPRESS}},
      {"q_ramp.fits", FLOAT_IMG, ramp, {}},
      {"q_gzip.fits", FLOAT_IMG, sky(0, 0), {GZIP_2}},
  };
  for (const auto& f : files) {
    const std::string p_path = scratch(std::string("p_") + f.name), q_path = scratch(f.name);
    fits_test::write_compressed(p_path, f.bitpix, {kWidth, kHeight}, f.values, f.how);
    const std::string q_bytes = tile_layouts::with_q_descriptors(fits_test::read_bytes(p_path));
    EXPECT_EQ(tile_layouts::take_apart(q_bytes).value("TFORM1").substr(0, 2), "1Q") << f.name;
    fits_test::write_bytes(q_path, q_bytes);
    const fits_test::Reference library = fits_test::read_reference(q_path + "[1]");
    EXPECT_EQ(library.values, fits_test::read_reference(p_path + "[1]").values) << f.name;
    const std::vector<float> ours = read_image(q_path + "[1]");
    ASSERT_EQ(ours.size(), library.values.size()) << f.name;
    for (std::size_t k = 0; k < ours.size(); k++) ASSERT_EQ(ours[k], static_cast<float>(library.values[k])) << f.name;
  }
  // Tile 1's HCOMPRESS stream describing 16 x 9 pixels: read 4 bytes wide,
  // the descriptor would give no stream to check, and the library's decoder
  // would write past its tile.
  tile_layouts::table_hdu hcomp = tile_layouts::take_apart(fits_test::read_bytes(scratch("q_hcomp.fits")));
  const std::uint64_t start = tile_layouts::read_big_endian(hcomp.rows, 8, 8);
  tile_layouts::write_big_endian(hcomp.heap, start + 2, 4, 9);
  fits_test::write_bytes(scratch("q_hwide.fits"), tile_layouts::put_together(hcomp));
  EXPECT_EXIT_STATUS(read_image(scratch("q_hwide.fits[1]")), 255,
                     "HDU \\[1\\] has tile 1 \\(16 x 8 pixels\\): its HCOMPRESS stream describes an image of "
                     "16 x 9.*q_hwide.fits");
  // Values kept whole, one more than the tile's.
  tile_layouts::table_hdu kept = tile_layouts::take_apart(fits_test::read_bytes(scratch("q_nocomp.fits")));
  const tile_layouts::column column =
      tile_layouts::columns(kept)[tile_layouts::column_number(kept, "UNCOMPRESSED_DATA") - 1];
  tile_layouts::write_big_endian(kept.rows, column.offset, 8, kWidth + 1);
  fits_test::write_bytes(scratch("q_kept.fits"), tile_layouts::put_together(kept));
  EXPECT_EXIT_STATUS(read_image(scratch("q_kept.fits[1]")), 255,
                     "has tile 1: it keeps 65 values uncompressed, not its 64 pixels.*q_kept.fits");
}

// A tile whose stream is larger than the memory left: refused, as the
// checks run on several threads, instead of ending by an exception.
TEST(TileCompressedImages, TileLargerThanMemoryIsRefused) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the address space cannot be limited under the sanitizers";
#endif
  std::vector<double> ints(kWidth * kHeight);
  for (std::size_t k = 0; k < ints.size(); k++) ints[k] = 100 + static_cast<double>(k * 37 % 200);
  fits_test::write_compressed(scratch("big_rice.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {});
  const std::string bytes = fits_test::read_bytes(scratch("big_rice.fits"));
  write_with_tile_at(scratch("big.fits"), bytes, 2, 0, 0xc0000000u);
  EXPECT_EXIT_STATUS(
      {
        fits_test::limit_address_space_to_2gb();
        read_image(scratch("big.fits[1]"));
      },
      255, "HDU \\[1\\] has tile 3: no memory to check its data.*big.fits");
  std::remove(scratch("big.fits").c_str());
}

// Every card as the library names and values it: a keyword ended by its
// first blank whatever follows up to the '=', after HIERARCH, in any letter
// case; a value in quotes. Copies in such forms are copies, in the HDU read
// and in one passed; the columns are found by name in any letter case.
TEST(TileCompressedImages, CardsAreReadInEveryFormTheLibraryReads) {
  std::vector<double> ints(kWidth * kHeight);
  for (std::size_t k = 0; k < ints.size(); k++) ints[k] = 100 + static_cast<double>(k * 37 % 200);
  fits_test::write_compressed(scratch("f_rice.fits"), FLOAT_IMG, {kWidth, kHeight}, sky(0, 0), {});
  fits_test::write_compressed(scratch("i_rice.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {});
  fits_test::write_compressed(scratch("i_hcomp32.fits"), SHORT_IMG, {kWidth, kHeight}, ints,
                              {HCOMPRESS_1, 4, 1, {32, 16}});
  fits_test::write_compressed(scratch("i_plio.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {PLIO_1});
  const std::string f_rice = fits_test::read_bytes(scratch("f_rice.fits"));
  const std::string i_rice = fits_test::read_bytes(scratch("i_rice.fits"));
  const std::string i_hcomp32 = fits_test::read_bytes(scratch("i_hcomp32.fits"));
  const std::string i_plio = fits_test::read_bytes(scratch("i_plio.fits"));
  ASSERT_EQ(tile_layouts::take_apart(f_rice).value("TTYPE2"), "ZSCALE");
  // A card put in the place of `key` as it stands.
  auto written = [](const std::string& bytes, const char* key, const char* text) {
    return with_copy(without_card(bytes, key), text);
  };
  // The first tile's PLIO list declared 5 values long, past their end.
  const std::string plio_past = with_length(i_plio, "COMPRESSED_DATA", 0, 5);
  const struct {
    const char* name;
    std::string bytes;
    const char* message;
  } refused[] = {
      {"hidden.fits", with_copy(i_hcomp32, "ZTILE2 X= 17"),
       "has ZTILE2 twice \\(ZTILE2 = 16, then ZTILE2 X= 17\\): the FITS library may read either copy; remove the "
       "wrong one"},
      {"slash.fits", with_copy(i_hcomp32, "ZTILE2 /= 17"), "has ZTILE2 twice \\(ZTILE2 = 16, then ZTILE2 /= 17\\)"},
      {"quote.fits", with_copy(i_rice, "ZVAL1 '= 0"), "has ZVAL1 twice \\(ZVAL1 = 32, then ZVAL1 '= 0\\)"},
      {"hidden_zval1.fits", with_copy(i_rice, "ZVAL1 X= 0"), "has ZVAL1 twice \\(ZVAL1 = 32, then ZVAL1 X= 0\\)"},
      {"hidden_plio.fits", with_copy(i_plio, "ZTILE1 X= 32"), "has ZTILE1 twice \\(ZTILE1 = 64, then ZTILE1 X= 32\\)"},
      {"hierarch_lower.fits", with_copy(f_rice, "HIERARCH ztile1= 0"),
       "has ZTILE1 twice \\(ZTILE1 = 64, then HIERARCH ztile1= 0\\)"},
      {"lone_hidden.fits", written(f_rice, "ZTILE1", "ZTILE1 X= 0"),
       "has ZTILE1 X= 0: a tile has at least 1 pixel along each axis"},
      {"ttype_hidden.fits", written(plio_past, "TTYPE1", "TTYPE1 X= 'COMPRESSED_DATA'"),
       "has tile 1: its PLIO list runs past its data"},
      {"ttype_lower.fits", with_card(plio_past, "TTYPE1", "'compressed_data'"),
       "has tile 1: its PLIO list runs past its data"},
      {"ttype_mixed.fits", with_card(plio_past, "TTYPE1", "'Compressed_Data'"),
       "has tile 1: its PLIO list runs past its data"},
      {"two_columns.fits", with_card(f_rice, "TTYPE2", "'compressed_data'"),
       "has TTYPE1 = 'COMPRESSED_DATA' and TTYPE2 = 'compressed_data': two columns the FITS library finds by one "
       "name"},
      {"a3dtable.fits", with_card(with_card(f_rice, "XTENSION", "'A3DTABLE'"), "ZTILE1", "0"),
       "has ZTILE1 = 0: a tile has at least 1 pixel along each axis"},
  };
  for (const auto& c : refused) {
    const std::string path = scratch(c.name);
    fits_test::write_bytes(path, c.bytes);
    EXPECT_EXIT_STATUS(read_image(path + "[1]"), 255,
                       std::string("the tile-compressed image in HDU \\[1\\] ") + c.message + ".*" + c.name)
        << c.name;
    // Passed on the way to an HDU after it, the library parses its cards
    // all the same.
    fits_test::write_bytes(path, c.bytes + i_rice.substr(2880));
    if (std::strstr(c.message, "tile 1") == nullptr) {
      EXPECT_EXIT_STATUS(read_image(path + "[2]"), 255, std::string("HDU \\[1\\] ") + c.message) << c.name;
    }
    std::remove(path.c_str());
  }
  // Forms the library reads as the card they stand for read as the file
  // written plainly does.
  const struct {
    const char* name;
    std::string bytes;
    const char* plain;
  } alike[] = {
      {"ztile_equals.fits", written(i_rice, "ZTILE2", "ZTILE2= 1"), "i_rice.fits"},
      {"zval_quoted.fits", with_card(i_rice, "ZVAL1", "'32'"), "i_rice.fits"},
      {"ttype_lower_read.fits", with_card(i_plio, "TTYPE1", "'compressed_data'"), "i_plio.fits"},
      {"zscale_lower.fits", with_card(f_rice, "TTYPE2", "'zscale'"), "f_rice.fits"},
      {"a3dtable_read.fits", with_card(i_rice, "XTENSION", "'A3DTABLE'"), "i_rice.fits"},
      // Dithering asked for integer pixels, as astropy writes it for scaled
      // integers: integers are read as stored, and an offset outside the
      // dithering's table is never read.
      {"int_dither.fits", with_card(i_rice, "ZQUANTIZ", "'SUBTRACTIVE_DITHER_1'"), "i_rice.fits"},
      {"int_dither_offset.fits",
       with_card(with_card(i_hcomp32, "ZQUANTIZ", "'SUBTRACTIVE_DITHER_2'"), "ZDITHER0", "-5"), "i_hcomp32.fits"},
  };
  for (const auto& c : alike) {
    fits_test::write_bytes(scratch(c.name), c.bytes);
    EXPECT_EQ(read_image(scratch(std::string(c.name) + "[1]")), read_image(scratch(std::string(c.plain) + "[1]")))
        << c.name;
    std::remove(scratch(c.name).c_str());
  }
  for (const char* name : {"f_rice.fits", "i_rice.fits", "i_hcomp32.fits", "i_plio.fits"})
    std::remove(scratch(name).c_str());
}

// Each card the checks or the library read, given twice with values the
// library reads otherwise: refused by name in the HDU read (copies of one
// value are one card: tile_card_copies_test.cc). Of ZQUANTIZ and ZDITHER0,
// which only the decoder reads, copies only count in the HDU read.
TEST(TileCompressedImages, EveryCardReadIsRefusedTwiceWhereItsCopiesDiffer) {
  fits_test::write_compressed(scratch("twice.fits"), FLOAT_IMG, {kWidth, kHeight}, sky(0, 0), {});
  const std::string f_rice = fits_test::read_bytes(scratch("twice.fits"));
  const tile_layouts::table_hdu hdu = tile_layouts::take_apart(f_rice);
  const std::string seed = hdu.value("ZDITHER0");
  ASSERT_FALSE(seed.empty());
  const char* const keys[] = {
      "ZIMAGE",  "ZCMPTYPE", "ZBITPIX",  "ZNAXIS",   "ZNAXIS1",  "ZNAXIS2", "ZTILE1", "ZTILE2", "ZNAME1",  "ZVAL1",
      "ZNAME2",  "ZVAL2",    "ZMASKCMP", "ZSIMPLE",  "ZTENSION", "ZEXTEND", "ZBLOCKED", "ZPCOUNT", "ZGCOUNT",
      "ZHECKSUM", "ZDATASUM", "ZSCALE", "ZZERO",   "ZBLANK",   "XTENSION", "BITPIX", "NAXIS",  "NAXIS1", "NAXIS2",
      "PCOUNT",  "GCOUNT",   "TFIELDS",  "THEAP",    "BSCALE",   "BZERO",   "BLANK",  "TTYPE1", "TFORM1", "TSCAL1",
      "TZERO1",  "TNULL1",   "TDIM1",    "ZQUANTIZ", "ZDITHER0"};
  const std::string path = scratch("twice.fits");
  for (const char* key : keys) {
    // The card as it stands and one of another value, or two made up (a
    // logical one of T and F: the library reads 1 and 2 alike, as true).
    std::string bytes;
    if (hdu.find(key) < 0) {
      const bool logical = std::strcmp(key, "ZBLOCKED") == 0 || std::strcmp(key, "ZEXTEND") == 0;
      bytes = with_copy(with_copy(f_rice, value_card(key, logical ? "T" : "1")), value_card(key, logical ? "F" : "2"));
    } else {
      const std::string card = hdu.cards[hdu.find(key)], value = hdu.value(key);
      const bool quoted = card.find('\'') != std::string::npos && card.find('\'') < card.find('/');
      const std::string other = quoted            ? "'X" + value + "'"
                                : value == "T"    ? "F"
                                : value == "F"    ? "T"
                                                  : std::to_string(std::atoll(value.c_str()) + 1);
      bytes = with_copy(f_rice, value_card(key, other));
    }
    fits_test::write_bytes(path, bytes);
    EXPECT_EXIT_STATUS(read_image(path + "[1]"), 255, std::string("HDU \\[1\\] has ") + key + " twice") << key;
  }
  // Passed on the way to HDU 2, copies of the two that only the decoder
  // reads are no matter.
  const std::string passed =
      with_copy(with_copy(f_rice, fits_test::value_card("ZDITHER0", std::to_string(std::stoi(seed) + 1))),
                "ZQUANTIZ= 'NO_DITHER'");
  fits_test::write_bytes(path, passed + f_rice.substr(2880));
  fits_test::write_bytes(scratch("once.fits"), f_rice + f_rice.substr(2880));
  EXPECT_EQ(read_image(path + "[2]"), read_image(scratch("once.fits[2]")));
  std::remove(path.c_str());
  std::remove(scratch("once.fits").c_str());
}

// The tiles of an HDU are checked when its pixels are read, from the bytes
// the library reads, in the file or in memory once inflated: a damaged tile
// in another HDU does not stop a read. Its cards are checked as the file is
// opened, for an update too: the library parses them as it passes.
TEST(TileCompressedImages, TilesAreCheckedForTheHduRead) {
  std::vector<double> ints(kWidth * kHeight);
  for (std::size_t k = 0; k < ints.size(); k++) ints[k] = 100 + static_cast<double>(k * 37 % 200);
  fits_test::write_compressed(scratch("one.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {});
  const std::string one = fits_test::read_bytes(scratch("one.fits"));
  std::string damaged = one;
  set_descriptor(damaged, 3, 0, 6);
  const std::string path = scratch("two.fits");
  for (const bool packed : {false, true}) {
    fits_test::write_bytes(path, one + damaged.substr(2880));
    if (packed && !fits_test::gzip_in_place(path)) continue;
    const fits_test::Reference library = fits_test::read_reference(path + "[1]");
    const std::vector<float> first = read_image(path + "[1]");
    ASSERT_EQ(first.size(), library.values.size()) << packed;
    for (std::size_t k = 0; k < first.size(); k++) ASSERT_EQ(first[k], static_cast<float>(library.values[k]));
    EXPECT_EXIT_STATUS(read_image(path + "[2]"), 255,
                       "HDU \\[2\\] has tile 4: its Rice data end before its pixels do.*two.fits") << packed;
  }
  // Cards the library would trust to its harm in HDU 2: a read or a write
  // that does not pass it goes on; one that does is refused, the file left
  // as it was.
  const std::string bad_after = one + with_card(one, "ZTILE1", "0").substr(2880);
  fits_test::write_bytes(path, bad_after);
  EXPECT_EQ(read_image(path + "[1]").size(), static_cast<std::size_t>(kWidth * kHeight));
  const std::string refused = "HDU \\[2\\] has ZTILE1 = 0: a tile has at least 1 pixel.*two.fits";
  EXPECT_EXIT_STATUS(read_image(path + "[2]"), 255, refused);
  // The primary HDU holds no image: the library then passes every HDU to
  // find the one to name.
  EXPECT_EXIT_STATUS(read_image(path), 255, refused);
  to_array<float, true> block(4, 4);
  EXPECT_EXIT_STATUS(fits_write_block((path + "[2]").c_str(), block, 0, 0), 255, refused);
  EXPECT_EQ(fits_test::read_bytes(path), bad_after);
  // A card given twice in HDU 2, in either case: refused wherever the read
  // passes HDU 2, the listing of the HDUs for the advice included.
  for (const char* key : {"ZTILE1", "ztile1"}) {
    fits_test::write_bytes(path, one + with_copy(one, value_card(key, "0")).substr(2880));
    EXPECT_EQ(read_image(path + "[1]").size(), static_cast<std::size_t>(kWidth * kHeight)) << key;
    const std::string twice = std::string("HDU \\[2\\] has ZTILE1 twice \\(ZTILE1 = 64, then ") + key +
                              " = 0\\): the FITS library may read either copy.*two.fits";
    EXPECT_EXIT_STATUS(read_image(path + "[2]"), 255, twice) << key;
    EXPECT_EXIT_STATUS(read_image(path), 255, twice) << key;
  }
  // By name, the library searches the HDUs in order up to the first so
  // named.
  auto named = [](std::string bytes, const char* extname) { return with_card(bytes, "EXTNAME", extname); };
  fits_test::write_bytes(path, one + named(one, "'SCI'").substr(2880) +
                                   named(with_card(one, "ZTILE1", "0"), "'ERR'").substr(2880));
  for (const char* selector : {"[SCI]", "[sci]"}) {
    fitsfile* opened = nullptr;
    int status = 0;
    ASSERT_EQ(fits_open_input(&opened, path + selector, READONLY, &status), 0) << selector;
    int hdu = 0;
    EXPECT_EQ(ffghdn(opened, &hdu), 3) << selector;
    fits_check_tiles(opened);
    fits_close_input(opened, &status);
  }
  EXPECT_EXIT_STATUS(read_image(path + "[ERR]"), 255, "HDU \\[3\\] has ZTILE1 = 0");
  EXPECT_EXIT_STATUS(read_image(path + "[SCI,2]"), 255, "HDU \\[3\\] has ZTILE1 = 0");
  // An image in the primary HDU, read with a damaged HDU after it.
  fits_test::write_reference(scratch("mef.fits"), FLOAT_IMG, {kWidth, kHeight}, ints);
  const std::string primary = fits_test::read_bytes(scratch("mef.fits"));
  fits_test::write_bytes(scratch("mef.fits"), primary + with_card(one, "ZTILE1", "0").substr(2880));
  for (const char* name : {"mef.fits[0]", "mef.fits"}) {
    const std::vector<float> pixels = read_image(scratch(name));
    ASSERT_EQ(pixels.size(), ints.size()) << name;
    for (std::size_t k = 0; k < ints.size(); k++) ASSERT_EQ(pixels[k], ints[k]) << name;
  }
  // A name given twice in the HDU the name selects: the library's search
  // reads the first copy, as astropy does: the HDU is SCI, and a search for
  // the other name passes it to the damaged HDU after it.
  const std::string named_twice = with_copy(with_copy(primary, "EXTNAME = 'SCI'", 0), "extname = 'ERR'", 0);
  fits_test::write_bytes(scratch("mef.fits"), named_twice + with_card(one, "ZTILE1", "0").substr(2880));
  EXPECT_EQ(read_image(scratch("mef.fits[SCI]")).size(), ints.size());
  EXPECT_EXIT_STATUS(read_image(scratch("mef.fits[ERR]")), 255, "HDU \\[1\\] has ZTILE1 = 0");
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

// An image large enough for its tiles to be checked side by side, faults
// in several tiles: the first in tile order is the one refused, with the
// same message on any number of threads, read from the file or from memory
// once inflated. A stream the file does not hold ends the checks there, for
// the library to report, even with a fault after it.
TEST_F(QzMcaTiles, FirstFaultyTileIsRefusedOnAnyThreadCount) {
  const long nx = 512, ny = 256;  // one tile a row
  std::vector<double> counts(nx * ny);
  for (long k = 0; k < nx * ny; k++) counts[k] = 100 + static_cast<double>(k * 37 % 200);
  fits_test::write_compressed(path("rice.fits"), SHORT_IMG, {nx, ny}, counts, {});
  fits_test::write_compressed(path("gzip.fits"), SHORT_IMG, {nx, ny}, counts, {GZIP_1});
  const std::string rice = fits_test::read_bytes(path("rice.fits")), gzip = fits_test::read_bytes(path("gzip.fits"));
  const std::uint32_t outside = 0x7f000000;
  struct damage {
    long tile;
    int field;
    std::uint32_t value;
  };
  const struct {
    const char* name;
    const std::string& bytes;
    std::vector<damage> damages;
    const char* message;  // null: not ours
  } cases[] = {
      {"rice_two.fits", rice, {{200, 0, 6}, {90, 0, 6}}, "tile 91: its Rice data end before its pixels do"},
      {"rice_last.fits", rice, {{255, 0, 6}}, "tile 256: its Rice data end before its pixels do"},
      {"rice_outside.fits", rice, {{150, 0, 6}, {60, 1, outside}}, "tile 61: its compressed data lie outside"},
      {"gzip_two.fits", gzip, {{230, 0, 10}, {120, 0, 10}, {250, 1, outside}},
       "tile 121: its gzip data do not end within its pixels"},
      {"gzip_first.fits", gzip, {{0, 0, 10}, {1, 1, outside}}, "tile 1: its gzip data do not end within its pixels"},
  };
  for (const auto& c : cases) {
    std::string bytes = c.bytes;
    for (const damage& d : c.damages) set_descriptor(bytes, d.tile, d.field, d.value);
    fits_test::write_bytes(path(c.name), bytes);
    std::string first_output;
    for (const bool packed : {false, true}) {
      if (packed && !fits_test::gzip_in_place(path(c.name))) continue;
      for (const int threads : {1, 2, 3, 8}) {
        const std::string how = std::string(c.name) + (packed ? " gzip, " : ", ") + std::to_string(threads);
        EXPECT_EQ(run(std::string("-t 1 -i 1 '") + c.name + "[1]' o", "env OMP_NUM_THREADS=" + std::to_string(threads)),
                  255)
            << how;
        EXPECT_TRUE(printed(std::string("Error: the tile-compressed image in HDU [1] has ") + c.message))
            << how << ": " << output_;
        EXPECT_TRUE(printed(c.name)) << how << ": " << output_;
        if (first_output.empty()) first_output = output_;
        EXPECT_EQ(output_, first_output) << how;
      }
    }
  }
  // A fault at tile 100, refused while the file is whole, then the heap cut
  // short inside tile 41's stream.
  std::string cut = rice;
  set_descriptor(cut, 99, 1, outside);
  fits_test::write_bytes(path("cut.fits"), cut);
  EXPECT_EQ(run("-t 1 -i 1 'cut.fits[1]' o", "env OMP_NUM_THREADS=8"), 255);
  EXPECT_TRUE(printed("has tile 100: its compressed data lie outside the table's heap")) << output_;
  cut.resize(descriptor_at(cut, ny, 0) + descriptor(cut, 40, 1) + 2);
  fits_test::write_bytes(path("cut.fits"), cut);
  for (const int threads : {1, 8}) {
    EXPECT_NE(run("-t 1 -i 1 'cut.fits[1]' o", "env OMP_NUM_THREADS=" + std::to_string(threads)), 0);
    EXPECT_FALSE(printed("tile 100")) << output_;
  }
  // The program refuses that file as truncated before its tiles are
  // checked; the checks themselves, as a reader that does not look at the
  // file's size meets them, stop at the cut stream and leave it to the
  // library.
  for (const int threads : {1, 8}) {
    EXPECT_EXIT(
        {
          omp_set_num_threads(threads);
          fitsfile* opened = nullptr;
          int status = 0;
          if (fits_open_input(&opened, path("cut.fits[1]"), READONLY, &status) == 0) fits_check_tiles(opened);
          std::exit(status == 0 ? 7 : 8);
        },
        ::testing::ExitedWithCode(7), "")
        << threads;
  }
}

// A gzip tile inflates to exactly the bytes of its pixels, 2 a pixel for a
// 16-bit image: one byte fewer, and the library would read its pixels past
// the data; one more, and its buffer would grow on.
TEST_F(QzMcaTiles, GzipTilesInflateToExactlyTheirPixels) {
  std::vector<double> counts(kWidth * kHeight, 7);
  fits_test::write_compressed(path("gzip.fits"), SHORT_IMG, {kWidth, kHeight}, counts, {GZIP_1});
  const std::string bytes = fits_test::read_bytes(path("gzip.fits"));
  for (const long extra : {-1, 0, 1}) {
    // Tile 1's stream replaced by one of zeros, 2 bytes for each of its 64
    // pixels and `extra`, in the room its own took.
    const std::vector<unsigned char> zeros(2 * kWidth + extra, 0);
    const std::string packed = gzipped(zeros);
    const std::uint32_t length = static_cast<std::uint32_t>(packed.size());
    std::string damaged = bytes;
    ASSERT_LE(length, descriptor(damaged, 0, 0));
    const std::size_t stream = descriptor_at(damaged, kHeight, 0) + descriptor(damaged, 0, 1);
    damaged.replace(stream, length, packed);
    set_descriptor(damaged, 0, 0, length);
    fits_test::write_bytes(path("zeros.fits"), damaged);
    std::remove(path("o_resi.fits").c_str());
    run("-t 1 -i 1 'zeros.fits[1]' o");
    EXPECT_EQ(printed("has tile 1: its gzip data do not end within its pixels"), extra == 1) << extra << output_;
    EXPECT_EQ(printed("has tile 1: its gzip data inflate to 127 bytes, fewer than its 64 pixels hold"), extra == -1)
        << extra << output_;
    EXPECT_EQ(exists("o_resi.fits"), extra == 0) << extra << output_;
  }
}

// Rice's parameters at the edges of the decoder's swap (a block size below
// 16 beside a width above 8), and an HCOMPRESS stream without its mark.
namespace {

// The library's own Rice coder; its header declares it without C linkage.
extern "C" int fits_rcomp(int a[], int nx, unsigned char* c, int clen, int nblock);

// A 32-bit Rice image of `ints`, a tile a row, its tiles coded again by
// the library's coder in blocks of `blocksize` pixels, and ZVAL1 and ZVAL2
// given the values asked.
std::string rice_in_blocks(const std::string& bytes, std::vector<int> ints, int blocksize, const std::string& zval1,
                           const std::string& zval2) {
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(bytes);
  const long long row_bytes = hdu.integer("NAXIS1");
  std::string heap;
  std::size_t longest = 0;
  for (long tile = 0; tile < kHeight; tile++) {
    std::vector<unsigned char> stream(8 * kWidth + 64);
    const int length = fits_rcomp(&ints[tile * kWidth], static_cast<int>(kWidth), stream.data(),
                                  static_cast<int>(stream.size()), blocksize);
    EXPECT_GT(length, 0);
    tile_layouts::write_big_endian(hdu.rows, tile * row_bytes, 4, static_cast<std::uint64_t>(length));
    tile_layouts::write_big_endian(hdu.rows, tile * row_bytes + 4, 4, heap.size());
    heap.append(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(length));
    longest = std::max(longest, static_cast<std::size_t>(length));
  }
  hdu.heap = heap;
  hdu.set("TFORM1", "'1PB(" + std::to_string(longest) + ")'");
  hdu.set("ZVAL1", zval1);
  hdu.set("ZVAL2", zval2);
  return tile_layouts::put_together(hdu);
}

}  // namespace

// The library decodes ZVAL1 = 16, ZVAL2 = 9 in blocks of 16; ZVAL1 = 15,
// ZVAL2 = 9 swapped, in blocks of 9; ZVAL1 = 15, ZVAL2 = 8 in blocks of 15;
// each width read as 4 bytes. Coded so, the tiles read right; coded in the
// blocks of the other reading, the library's decoder fails on them, and
// they are refused before it meets them.
TEST(TileCompressedImages, RiceParametersSwapOnlyBelowSixteenBesideAboveEight) {
  std::vector<int> ints(kWidth * kHeight);
  std::mt19937 random(16);
  for (int& value : ints) value = static_cast<int>(random() % 100000) - 50000;
  fits_test::write_compressed(scratch("i32.fits"), LONG_IMG, {kWidth, kHeight},
                              std::vector<double>(ints.begin(), ints.end()), {});
  const std::string i32 = fits_test::read_bytes(scratch("i32.fits"));
  // Walked in the wrong blocks, a tile's stream may still fit; a later one
  // does not.
  const char* const kShort = "has tile [0-9]+: its Rice data end before its pixels do";
  const struct {
    const char *zval1, *zval2;
    int blocksize;
    const char* message;  // null: read right
  } cases[] = {
      {"16", "9", 16, nullptr},
      {"16", "9", 9, kShort},
      {"15", "9", 9, nullptr},
      {"15", "9", 15, kShort},
      {"15", "8", 15, nullptr},
      {"15", "8", 8, kShort},
  };
  for (const auto& c : cases) {
    const std::string name =
        std::string("rice_") + c.zval1 + "_" + c.zval2 + "_" + std::to_string(c.blocksize) + ".fits";
    SCOPED_TRACE(name);
    fits_test::write_bytes(scratch(name), rice_in_blocks(i32, ints, c.blocksize, c.zval1, c.zval2));
    if (c.message != nullptr) {
      EXPECT_EXIT_STATUS(read_image(scratch(name + "[1]")), 255, c.message);
      continue;
    }
    EXPECT_EQ(fits_test::read_reference(scratch(name + "[1]")).values, std::vector<double>(ints.begin(), ints.end()));
    EXPECT_EQ(read_image(scratch(name + "[1]")), std::vector<float>(ints.begin(), ints.end()));
  }
}

// A tile of a library-written HCOMPRESS image whose stream lacks the mark
// 0xDD 0x99 it opens with, in either byte, or holds a bit plane's code no
// coder writes (neither 0 nor 15), is refused, naming the tile, before the
// library's decoder meets it, with what the decoder would do.
TEST(TileCompressedImages, AnHcompressStreamWithoutItsMarkIsRefused) {
  std::vector<double> ints(kWidth * kHeight);
  for (std::size_t k = 0; k < ints.size(); k++) ints[k] = 100 + static_cast<double>(k * 37 % 200);
  fits_test::write_compressed(scratch("hcomp.fits"), SHORT_IMG, {kWidth, kHeight}, ints, {HCOMPRESS_1, 4, 1, {16, 8}});
  const std::string hcomp = fits_test::read_bytes(scratch("hcomp.fits"));
  const std::size_t heap = table_start(hcomp) + integer_card(hcomp, "NAXIS1") * integer_card(hcomp, "NAXIS2");
  const char* const kMark =
      "does not open with the coder's mark, on which the library's decoder stops with status 414";
  const char* const kCode = "holds a code no coder writes, on which the library's decoder stops with status 414";
  const struct {
    long tile;
    int byte;
    char value;
    const char* name;
    const char* message;
  } cases[] = {
      {0, 0, '\xDC', "tile 1", kMark},
      {4, 1, '\x98', "tile 5", kMark},
      // The first quadrant's first code, the top 4 bits of byte 25.
      {2, 25, '\x70', "tile 3", kCode},
  };
  for (const auto& c : cases) {
    std::string bytes = hcomp;
    const std::size_t stream = heap + descriptor(bytes, c.tile, 1);
    ASSERT_EQ(bytes.substr(stream, 2), "\xDD\x99");
    bytes[stream + c.byte] = c.byte == 25 ? static_cast<char>((bytes[stream + 25] & 0x0F) | c.value) : c.value;
    const std::string name = "hcomp_mark_" + std::to_string(c.tile) + ".fits";
    fits_test::write_bytes(scratch(name), bytes);
    EXPECT_EXIT_STATUS(read_image(scratch(name + "[1]")), 255,
                       std::string("HDU \\[1\\] has ") + c.name + ": its HCOMPRESS stream " + c.message)
        << name;
  }
}
