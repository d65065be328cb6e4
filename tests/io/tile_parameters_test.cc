// What the library took from a tile-compressed image's cards, held to the
// parameters the tile checks walk (filled here by hand from the cards each
// file was written with), and the two mends of dithering that valid files
// need: a ZDITHER0 given twice, and dithering asked for on integer pixels.
#include "io/tile_parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fits_test_files.h"
#include "io/fits_io.h"
#include "tile_table_layouts.h"

using fits_test::scratch;

namespace {

constexpr long kWidth = 40, kHeight = 30;
const std::string kData = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";

// A library-compressed image of closed-form pixels, dithered from a known
// seed, as fpack makes it.
void write_image(const std::string& path, int type, int bitpix, float quantize, int method, std::vector<long> tile) {
  std::remove(path.c_str());
  fitsfile *plain = nullptr, *f = nullptr;
  int status = 0;
  long naxes[2] = {kWidth, kHeight};
  std::vector<double> values(kWidth * kHeight);
  for (long k = 0; k < kWidth * kHeight; k++)
    values[k] = bitpix > 0 ? (k * 7) % 250 : 200 + 100 * std::sin(k / 5.0) + k * 0.01;
  ffinit(&plain, "mem://", &status);
  ffcrim(plain, bitpix, 2, naxes, &status);
  ffppr(plain, TDOUBLE, 1, kWidth * kHeight, values.data(), &status);
  ASSERT_EQ(status, 0) << path;
  ffinit(&f, path.c_str(), &status);
  fits_set_compression_type(f, type, &status);
  fits_set_quantize_level(f, quantize, &status);
  fits_set_quantize_method(f, method, &status);
  fits_set_dither_seed(f, 77, &status);
  fits_set_tile_dim(f, 2, tile.data(), &status);
  fits_img_compress(plain, f, &status);
  ffclos(plain, &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0) << path;
}

fitsfile* open_image(const std::string& path) {
  fitsfile* f = nullptr;
  int status = 0;
  ffopen(&f, path.c_str(), READONLY, &status);
  ffmahd(f, 2, nullptr, &status);
  EXPECT_EQ(status, 0) << path;
  return f;
}

void close_image(fitsfile* f) {
  int status = 0;
  ffclos(f, &status);
}

std::string names(const std::vector<tile_parameter_difference>& found) {
  std::string text;
  for (const auto& d : found) text += d.parameter + " (library " + d.library + ", walked " + d.walked + "); ";
  return text;
}

// The cards the library's compressor writes for the images above.
tile_parameters library_cards(const std::string& compression, int bitpix, bool quantized,
                              const std::string& quantize, std::vector<long long> tile) {
  tile_parameters p;
  p.compression = compression;
  p.bitpix = bitpix;
  p.axes = {kWidth, kHeight};
  p.tile_sides = tile;
  if (compression == "RICE_1" || compression == "RICE_ONE") {
    p.rice_blocksize = 32;
    p.rice_bytepix = bitpix > 0 ? bitpix / 8 : 4;
  }
  p.quantize = quantize;
  p.has_dither_seed = quantize.compare(0, 12, "SUBTRACTIVE_") == 0;
  p.dither_seed = 77;
  p.compressed_column = 1;
  if (quantized) {
    p.zscale_column = 2;
    p.zzero_column = 3;
  }
  if (compression == "NOCOMPRESS") p.uncompressed_column = quantized ? 4 : 2;
  return p;
}

struct written_case {
  const char* file;
  int type, bitpix;
  float quantize;
  int method;
  std::vector<long> tile;
  tile_parameters walked;
};

TEST(TileParameters, LibraryWrittenImagesAgreeWithTheirCards) {
  const std::vector<written_case> cases = {
      {"rice16.fits", RICE_1, 16, 4, SUBTRACTIVE_DITHER_1, {kWidth, 1}, library_cards("RICE_1", 16, false, "", {kWidth, 1})},
      {"rice8.fits", RICE_1, 8, 4, SUBTRACTIVE_DITHER_1, {10, 10}, library_cards("RICE_1", 8, false, "", {10, 10})},
      {"ricef.fits", RICE_1, -32, 4, SUBTRACTIVE_DITHER_1, {kWidth, 1},
       library_cards("RICE_1", -32, true, "SUBTRACTIVE_DITHER_1", {kWidth, 1})},
      // Asked for SUBTRACTIVE_DITHER_2, the library names Rice RICE_ONE.
      {"riceone.fits", RICE_1, -32, 4, SUBTRACTIVE_DITHER_2, {kWidth, 1},
       library_cards("RICE_ONE", -32, true, "SUBTRACTIVE_DITHER_2", {kWidth, 1})},
      {"ricenodither.fits", RICE_1, -32, 4, NO_DITHER, {kWidth, 1},
       library_cards("RICE_1", -32, true, "NO_DITHER", {kWidth, 1})},
      {"gzip1.fits", GZIP_1, 32, 4, SUBTRACTIVE_DITHER_1, {kWidth, 1}, library_cards("GZIP_1", 32, false, "", {kWidth, 1})},
      {"gzip1f.fits", GZIP_1, -32, 0, SUBTRACTIVE_DITHER_1, {kWidth, 1},
       library_cards("GZIP_1", -32, false, "NONE", {kWidth, 1})},
      {"gzip2f.fits", GZIP_2, -32, 4, SUBTRACTIVE_DITHER_2, {kWidth, 5},
       library_cards("GZIP_2", -32, true, "SUBTRACTIVE_DITHER_2", {kWidth, 5})},
      {"plio.fits", PLIO_1, 16, 4, SUBTRACTIVE_DITHER_1, {kWidth, 1}, library_cards("PLIO_1", 16, false, "", {kWidth, 1})},
      {"hcomp.fits", HCOMPRESS_1, 16, 4, SUBTRACTIVE_DITHER_1, {10, 10},
       library_cards("HCOMPRESS_1", 16, false, "", {10, 10})},
      {"hcompf.fits", HCOMPRESS_1, -32, 4, SUBTRACTIVE_DITHER_1, {kWidth, 10},
       library_cards("HCOMPRESS_1", -32, true, "SUBTRACTIVE_DITHER_1", {kWidth, 10})},
      {"nocomp.fits", NOCOMPRESS, 16, 4, SUBTRACTIVE_DITHER_1, {kWidth, 1},
       library_cards("NOCOMPRESS", 16, false, "", {kWidth, 1})},
  };
  for (const auto& c : cases) {
    write_image(scratch(c.file), c.type, c.bitpix, c.quantize, c.method, c.tile);
    fitsfile* f = open_image(scratch(c.file));
    EXPECT_EQ(names(tile_parameter_differences(f, c.walked)), "") << c.file;
    close_image(f);
  }
}

TEST(TileParameters, AstropyImagesAgreeWithTheirCards) {
  // f32_rice_1: NO_DITHER, a gzip column for the tiles it could not
  // quantize; scaled_int16_rice_1: dithering asked for on integers, which
  // the library reads as asked until told not to.
  tile_parameters f32;
  f32.compression = "RICE_1";
  f32.bitpix = -32;
  f32.axes = f32.tile_sides = {56, 40};
  f32.tile_sides[1] = 1;
  f32.rice_blocksize = 32;
  f32.rice_bytepix = 4;
  f32.quantize = "NO_DITHER";
  f32.compressed_column = 1;
  f32.gzip_column = 2;
  f32.zscale_column = 3;
  f32.zzero_column = 4;
  fitsfile* f = open_image(kData + "f32_rice_1.fits");
  EXPECT_EQ(names(tile_parameter_differences(f, f32)), "");
  close_image(f);

  tile_parameters i16 = library_cards("RICE_1", 16, false, "SUBTRACTIVE_DITHER_1", {kWidth, 1});
  i16.dither_seed = 1234;
  f = open_image(kData + "scaled_int16_rice_1.fits");
  EXPECT_EQ(names(tile_parameter_differences(f, i16)),
            "ZQUANTIZ (library SUBTRACTIVE_DITHER_1, walked no dithering); ");
  tile_integers_undithered(f);
  EXPECT_EQ(names(tile_parameter_differences(f, i16)), "");
  close_image(f);
}

// The comparison itself: each parameter walked otherwise than the library
// took it is named, by the card behind it, and no other.
TEST(TileParameters, EachDisagreementIsNamed) {
  write_image(scratch("rice.fits"), RICE_1, -32, 4, SUBTRACTIVE_DITHER_1, {kWidth, 1});
  tile_parameters right = library_cards("RICE_1", -32, true, "SUBTRACTIVE_DITHER_1", {kWidth, 1});
  // The library's compressor puts COMPRESSED_DATA first, 1PB: 4-byte
  // descriptors of bytes at the row's start; then ZSCALE and ZZERO, 1D;
  // the heap right after the rows.
  right.compressed_layout = {0, 4, 1, -TBYTE, 1, 0};
  right.row_bytes = 24;
  right.rows = kHeight;
  right.heap_start = 24 * kHeight;
  right.heap_bytes = tile_layouts::take_apart(fits_test::read_bytes(scratch("rice.fits"))).integer("PCOUNT");
  ASSERT_GT(right.heap_bytes, 0);
  struct change {
    void (*apply)(tile_parameters&);
    const char* named;
  };
  const std::vector<change> changes = {
      {[](tile_parameters& p) { p.compression = "GZIP_1"; }, "ZCMPTYPE"},
      {[](tile_parameters& p) { p.bitpix = -64; }, "ZBITPIX"},
      {[](tile_parameters& p) { p.axes[1] = 31; }, "ZNAXIS2"},
      {[](tile_parameters& p) { p.tile_sides[0] = 20; }, "ZTILE1"},
      {[](tile_parameters& p) { p.tile_sides[1] = 2; }, "ZTILE2"},
      {[](tile_parameters& p) { p.rice_blocksize = 16; }, "ZVAL1 (Rice's BLOCKSIZE)"},
      {[](tile_parameters& p) { p.rice_bytepix = 2; }, "ZVAL2 (Rice's BYTEPIX)"},
      // Swapped as the decoder swaps them, each is named by its own card.
      {[](tile_parameters& p) { p.rice_bytepix = 2, p.rice_bytepix_card = "ZVAL1"; }, "ZVAL1 (Rice's BYTEPIX)"},
      {[](tile_parameters& p) { p.quantize = "SUBTRACTIVE_DITHER_2"; }, "ZQUANTIZ"},
      {[](tile_parameters& p) { p.quantize = "NO_DITHER"; }, "ZQUANTIZ"},
      {[](tile_parameters& p) { p.quantize = "NONE"; }, "the quantization (ZSCALE, ZQUANTIZ)"},
      {[](tile_parameters& p) { p.dither_seed = 78; }, "ZDITHER0"},
      {[](tile_parameters& p) { p.has_dither_seed = false; }, "ZDITHER0"},
      {[](tile_parameters& p) { p.row_bytes = 32; }, "NAXIS1 (a row's bytes)"},
      {[](tile_parameters& p) { p.rows = kHeight + 1; }, "NAXIS2 (the table's rows)"},
      {[](tile_parameters& p) { p.heap_start = 16; }, "THEAP (the heap's start)"},
      {[](tile_parameters& p) { p.heap_bytes += 8; }, "PCOUNT (the heap's bytes)"},
      {[](tile_parameters& p) { p.compressed_column = 2; }, "the COMPRESSED_DATA column"},
      {[](tile_parameters& p) { p.gzip_column = 4; }, "the GZIP_COMPRESSED_DATA column"},
      {[](tile_parameters& p) { p.uncompressed_column = 4; }, "the UNCOMPRESSED_DATA column"},
      {[](tile_parameters& p) { p.zscale_column = 3; }, "the source of ZSCALE"},
      {[](tile_parameters& p) { p.zzero_column = 0, p.has_zzero = true; }, "the source of ZZERO"},
      {[](tile_parameters& p) { p.has_zblank = true; }, "the source of ZBLANK"},
      {[](tile_parameters& p) { p.has_blank = true; }, "the source of ZBLANK"},
      {[](tile_parameters& p) { p.compressed_layout.offset = 8; }, "the COMPRESSED_DATA column's place in a row"},
      {[](tile_parameters& p) { p.compressed_layout.descriptor = 8; },
       "TFORM1 (the COMPRESSED_DATA column's descriptor bytes)"},
      {[](tile_parameters& p) { p.compressed_layout.value_bytes = 2; },
       "TFORM1 (the COMPRESSED_DATA column's value bytes)"},
      {[](tile_parameters& p) { p.compressed_layout.type = -TFLOAT; }, "TFORM1 (the COMPRESSED_DATA column's values)"},
      {[](tile_parameters& p) { p.compressed_layout.scale = 0.997; }, "TSCAL1 (the COMPRESSED_DATA column's scale)"},
      {[](tile_parameters& p) { p.compressed_layout.zero = 1; }, "TZERO1 (the COMPRESSED_DATA column's zero)"},
  };
  fitsfile* f = open_image(scratch("rice.fits"));
  ASSERT_EQ(names(tile_parameter_differences(f, right)), "");
  for (const auto& c : changes) {
    tile_parameters walked = right;
    c.apply(walked);
    const auto found = tile_parameter_differences(f, walked);
    ASSERT_EQ(found.size(), 1u) << c.named << ": " << names(found);
    EXPECT_EQ(found[0].parameter, c.named);
    EXPECT_NE(found[0].library, found[0].walked);
  }
  // Values as messages give them: the shortest that reads back.
  tile_parameters scaled = right;
  scaled.compressed_layout.scale = 0.997;
  EXPECT_EQ(names(tile_parameter_differences(f, scaled)),
            "TSCAL1 (the COMPRESSED_DATA column's scale) (library 1, walked 0.997); ");
  // The library's constants from cards: the same source, another value.
  f->Fptr->cn_zblank = -1;
  f->Fptr->zblank = -999;
  tile_parameters blank = right;
  blank.has_blank = true;
  blank.blank = -999;
  EXPECT_EQ(names(tile_parameter_differences(f, blank)), "");
  blank.has_zblank = true;
  blank.zblank = -77;
  EXPECT_EQ(names(tile_parameter_differences(f, blank)), "ZBLANK (library -999, walked -77); ");
  close_image(f);
  // A column after others is placed by their formats.
  write_image(scratch("nocomp.fits"), NOCOMPRESS, 16, 4, SUBTRACTIVE_DITHER_1, {kWidth, 1});
  tile_parameters kept = library_cards("NOCOMPRESS", 16, false, "", {kWidth, 1});
  kept.uncompressed_layout = {8, 4, 2, -TSHORT, 1, 0};
  f = open_image(scratch("nocomp.fits"));
  EXPECT_EQ(names(tile_parameter_differences(f, kept)), "");
  kept.uncompressed_layout.offset = 16;
  EXPECT_EQ(names(tile_parameter_differences(f, kept)),
            "TFORM1 (the UNCOMPRESSED_DATA column's place in a row) (library 8, walked 16); ");
  close_image(f);
}

// Where the library finds the tiles after its open, as its own column
// reads them: a tile's descriptor read at the place and width the
// geometry gives is the one the library's reader returns.
TEST(TileParameters, GeometryIsWhereTheLibraryReadsTheTiles) {
  write_image(scratch("geometry.fits"), RICE_1, -32, 4, SUBTRACTIVE_DITHER_1, {kWidth, 1});
  const std::string bytes = fits_test::read_bytes(scratch("geometry.fits"));
  fitsfile* f = open_image(scratch("geometry.fits"));
  const tile_geometry geometry = tile_geometry_of(f);
  EXPECT_EQ(geometry.rows, kHeight);
  EXPECT_EQ(geometry.heap_start, geometry.rows * geometry.row_bytes);
  ASSERT_EQ(geometry.compressed.descriptor, 4);
  EXPECT_EQ(geometry.compressed.type, -TBYTE);
  EXPECT_EQ(geometry.gzip.offset, -1);
  EXPECT_EQ(geometry.uncompressed.offset, -1);
  int status = 0;
  for (long row = 1; row <= kHeight; row += 7) {
    LONGLONG length = 0, offset = 0;
    ffgdesll(f, f->Fptr->cn_compressed, row, &length, &offset, &status);
    const std::size_t at = static_cast<std::size_t>(geometry.data_start + (row - 1) * geometry.row_bytes +
                                                    geometry.compressed.offset);
    EXPECT_EQ(static_cast<LONGLONG>(tile_layouts::read_big_endian(bytes, at, 4)), length) << row;
    EXPECT_EQ(static_cast<LONGLONG>(tile_layouts::read_big_endian(bytes, at + 4, 4)), offset) << row;
    // The stream's first bytes, read by the library and from the heap.
    unsigned char first = 0;
    int any = 0;
    ffgcvb(f, f->Fptr->cn_compressed, row, 1, 1, 0, &first, &any, &status);
    EXPECT_EQ(first, static_cast<unsigned char>(bytes[static_cast<std::size_t>(
                         geometry.data_start + geometry.heap_start + offset)]))
        << row;
  }
  EXPECT_EQ(status, 0);
  close_image(f);
}

// Rice's width read as its decoder reads it, whatever else the card says;
// Rice's parameters of another compression are not compared.
TEST(TileParameters, ParametersNoDecoderReadsAreLeftOut) {
  write_image(scratch("gzip.fits"), GZIP_1, 16, 4, SUBTRACTIVE_DITHER_1, {kWidth, 1});
  tile_parameters walked = library_cards("GZIP_1", 16, false, "", {kWidth, 1});
  walked.rice_blocksize = 7;
  walked.rice_bytepix = 3;
  fitsfile* f = open_image(scratch("gzip.fits"));
  EXPECT_EQ(names(tile_parameter_differences(f, walked)), "");
  close_image(f);
  write_image(scratch("rice32.fits"), RICE_1, 32, 4, SUBTRACTIVE_DITHER_1, {kWidth, 1});
  f = open_image(scratch("rice32.fits"));
  f->Fptr->rice_bytepix = 8;
  EXPECT_EQ(names(tile_parameter_differences(f, library_cards("RICE_1", 32, false, "", {kWidth, 1}))), "");
  close_image(f);
}

// The image as the program reads it, the checks and mends included.
std::vector<float> read_as_program(const std::string& name) {
  to_array<float, false> image;
  fitsstruct header;
  fits_read_float((name + "[1]").c_str(), image, &header);
  return std::vector<float>(image.buffer(), image.buffer() + image.n_elem());
}

std::vector<float> read_floats(fitsfile* f) {
  std::vector<float> pixels(kWidth * kHeight);
  int status = 0;
  fits_read_pixels(f, "image", kWidth * kHeight, false, pixels.data(), &status);
  EXPECT_EQ(status, 0);
  return pixels;
}

// A decompressed image written back with astropy's ZDITHER0 and compressed
// by the library gives ZDITHER0 = 0 beside the true seed; the library reads
// the copy it meets last, which is the 0 in the gzip layouts. The true seed
// put in as the library parses the cards, or after the open, reads the
// pixels of the file without the stray copy, with a section too.
TEST(TileParameters, TwiceGivenDitherSeedMended) {
  const struct {
    const char* name;
    int type;
  } cases[] = {{"rice_1", RICE_1}, {"hcompress_1", HCOMPRESS_1}, {"gzip_2", GZIP_2}, {"gzip_1", GZIP_1}};
  for (const auto& c : cases) {
    const std::string twice = scratch(std::string("twice_") + c.name + ".fits");
    fitsfile *plain = nullptr, *out = nullptr;
    int status = 0;
    ffopen(&plain, (kData + "dither_plain_" + c.name + ".fits").c_str(), READONLY, &status);
    std::remove(twice.c_str());
    ffinit(&out, twice.c_str(), &status);
    fits_set_compression_type(out, c.type, &status);
    fits_set_quantize_method(out, SUBTRACTIVE_DITHER_1, &status);
    fits_img_compress(plain, out, &status);
    ffclos(plain, &status);
    ffclos(out, &status);
    ASSERT_EQ(status, 0) << c.name;
    // The same file without its stray copy, as a reference.
    tile_layouts::table_hdu hdu = tile_layouts::take_apart(fits_test::read_bytes(twice));
    int copies = 0;
    for (auto& card : hdu.cards)
      if (card.compare(0, 8, "ZDITHER0") == 0 && ++copies && std::atoll(card.substr(10, 20).c_str()) == 0)
        card = std::string(80, ' ');
    ASSERT_EQ(copies, 2) << c.name;
    const std::string single = scratch(std::string("single_") + c.name + ".fits");
    fits_test::write_bytes(single, tile_layouts::put_together(hdu));

    fitsfile* f = open_image(single);
    const int seed = f->Fptr->dither_seed;
    ASSERT_GE(seed, 1);
    const std::vector<float> right = read_floats(f);
    close_image(f);
    f = open_image(twice);
    // Opened, the HDU has the seed: the program's answer to the library's
    // parse of its cards put it in place of the 0, which the decoder would
    // read as an offset before the start of its table.
    EXPECT_EQ(f->Fptr->dither_seed, seed) << c.name;
    EXPECT_EQ(read_floats(f), right) << c.name;
    f->Fptr->dither_seed = 0;
    tile_dither_seed_of_cards(f);
    EXPECT_EQ(f->Fptr->dither_seed, seed) << c.name;
    close_image(f);
    f = open_image(twice);
    f->Fptr->dither_seed = 0;
    EXPECT_TRUE(tile_dither_seed_mended(f, seed));
    EXPECT_EQ(read_floats(f), right) << c.name;
    EXPECT_FALSE(tile_dither_seed_mended(f, 0));
    EXPECT_FALSE(tile_dither_seed_mended(f, 10001));
    EXPECT_EQ(f->Fptr->dither_seed, seed);
    close_image(f);
    EXPECT_EQ(read_as_program(twice), right) << c.name;
    // A section is decoded by the library as it opens the name.
    EXPECT_EQ(fits_test::read_program(twice + "[1][*,*]"), right) << c.name;
  }
}

float stored_times_scale(long k) { return static_cast<float>(((k % kWidth) * 37 + (k / kWidth) * 101) % 2000 * 0.5 + 3.0); }

// astropy's scaled integers with dithering asked for read as astropy reads
// them, every pixel, once left undithered; the library's own compressor
// carrying the cards onto an integer image reads the same. A ZDITHER0
// outside the library's table no longer matters.
TEST(TileParameters, DitheredIntegersReadAsStored) {
  std::vector<std::string> files;
  for (const char* c : {"rice_1", "gzip_1", "gzip_2", "hcompress_1", "plio_1"})
    files.push_back(kData + "scaled_int16_" + c + ".fits");
  {
    fitsfile *plain = nullptr, *out = nullptr;
    int status = 0;
    long naxes[2] = {kWidth, kHeight};
    std::vector<short> stored(kWidth * kHeight);
    for (long k = 0; k < kWidth * kHeight; k++) stored[k] = static_cast<short>((stored_times_scale(k) - 3.0) * 2);
    ffinit(&plain, "mem://", &status);
    ffcrim(plain, SHORT_IMG, 2, naxes, &status);
    double scale = 0.5, zero = 3.0;
    ffpky(plain, TDOUBLE, "BSCALE", &scale, nullptr, &status);
    ffpky(plain, TDOUBLE, "BZERO", &zero, nullptr, &status);
    ffpkys(plain, "ZQUANTIZ", "SUBTRACTIVE_DITHER_1", nullptr, &status);
    ffpkyj(plain, "ZDITHER0", 20000, nullptr, &status);
    ffrdef(plain, &status);
    ffpscl(plain, 1.0, 0.0, &status);
    ffppr(plain, TSHORT, 1, kWidth * kHeight, stored.data(), &status);
    files.push_back(scratch("stray.fits"));
    std::remove(files.back().c_str());
    ffinit(&out, files.back().c_str(), &status);
    fits_set_compression_type(out, RICE_1, &status);
    fits_img_compress(plain, out, &status);
    ffclos(plain, &status);
    ffclos(out, &status);
    ASSERT_EQ(status, 0);
  }
  for (const auto& file : files) {
    fitsfile* f = open_image(file);
    ASSERT_EQ(f->Fptr->zbitpix, 16) << file;
    ASSERT_EQ(f->Fptr->quantize_method, SUBTRACTIVE_DITHER_1) << file;
    tile_integers_undithered(f);
    const std::vector<float> pixels = read_floats(f);
    int wrong = 0;
    for (long k = 0; k < kWidth * kHeight; k++) wrong += pixels[k] != stored_times_scale(k);
    EXPECT_EQ(wrong, 0) << file;
    close_image(f);
    const std::vector<float> program = read_as_program(file);
    ASSERT_EQ(program.size(), pixels.size()) << file;
    for (long k = 0; k < kWidth * kHeight; k++) wrong += program[k] != stored_times_scale(k);
    EXPECT_EQ(wrong, 0) << file;
  }
  // Floating-point images keep their dithering.
  write_image(scratch("float.fits"), RICE_1, -32, 4, SUBTRACTIVE_DITHER_1, {kWidth, 1});
  fitsfile* f = open_image(scratch("float.fits"));
  tile_integers_undithered(f);
  EXPECT_EQ(f->Fptr->quantize_method, SUBTRACTIVE_DITHER_1);
  close_image(f);
}

// The quantization step of each row (tile) of HDU `hdu` of a file, from its
// ZSCALE column, read by the library as a plain table.
std::vector<double> zscale_of_rows(const std::string& path, int hdu) {
  std::vector<double> steps(kHeight);
  fitsfile* f = nullptr;
  int status = 0, column = 0;
  ffopen(&f, (path + "[" + std::to_string(hdu) + "]").c_str(), READONLY, &status);
  ffgcno(f, CASEINSEN, const_cast<char*>("ZSCALE"), &column, &status);
  ffgcvd(f, column, 1, 1, kHeight, 0, steps.data(), nullptr, &status);
  ffclos(f, &status);
  EXPECT_EQ(status, 0) << path;
  return steps;
}

// The closed forms of make_quantize_state_files.py, at pixel k (x = k % 40,
// y = k / 40): LOSSLESS exact in floats, QUANT before its quantization.
float exact_pixel(long k) { return static_cast<float>(((k % kWidth) * 7 + (k / kWidth) * 13) % 64 / 8.0 - 3.5); }
double smooth_pixel(long k) {
  return static_cast<double>(static_cast<float>(std::sin((k % kWidth) / 5.0) * 100 + (k / kWidth) * 0.25));
}

// astropy's lossless float image beside quantized ones, in either order:
// the library keeps its quantize level from one HDU to the next, and read
// the quantized image's integers as floats, or astropy's scaled integers
// as 8-byte floats past their 2 bytes a pixel. Each HDU now reads by its
// own cards, as astropy reads it: exactly, or within half the step its
// tile was quantized by; and a section reads its block of the full HDU.
TEST(TileParameters, EachHduReadsByItsOwnQuantization) {
  const struct {
    const char* file;
    std::vector<std::string> hdus;
  } files[] = {{"lossless_then_quantized.fits", {"LOSSLESS", "QUANT", "SCALED"}},
               {"quantized_then_lossless.fits", {"QUANT", "LOSSLESS"}}};
  for (const auto& file : files) {
    const std::string path = kData + file.file;
    for (std::size_t k = 0; k < file.hdus.size(); k++) {
      const int hdu = static_cast<int>(k) + 1;
      const std::string name = path + "[" + std::to_string(hdu) + "]", kind = file.hdus[k];
      const std::vector<float> pixels = fits_test::read_program(name);
      ASSERT_EQ(pixels.size(), static_cast<std::size_t>(kWidth * kHeight)) << name;
      int wrong = 0;
      if (kind == "QUANT") {
        const std::vector<double> steps = zscale_of_rows(path, hdu);
        for (long p = 0; p < kWidth * kHeight; p++) {
          const double step = steps[static_cast<std::size_t>(p / kWidth)];
          wrong += !(step > 0 && std::fabs(pixels[p] - smooth_pixel(p)) <= step / 2 * (1 + 1e-6) + 1e-5);
        }
      } else {
        for (long p = 0; p < kWidth * kHeight; p++)
          wrong += pixels[p] != (kind == "LOSSLESS" ? exact_pixel(p) : stored_times_scale(p));
      }
      EXPECT_EQ(wrong, 0) << name << " " << kind;
      const std::vector<float> block = fits_test::read_program(name + "[1:8,1:8]");
      ASSERT_EQ(block.size(), 64u) << name;
      for (long line = 0; line < 8; line++)
        for (long column = 0; column < 8; column++)
          EXPECT_EQ(block[line * 8 + column], pixels[line * kWidth + column]) << name << " " << line << " " << column;
    }
  }
}

// A ZQUANTIZ on an integer image (crafted: 'NONE', which only floats take)
// made the library read its 1 or 2-byte tiles as 8-byte floats, past their
// buffer: the stored integers read as written, from 8, 16 and 32-bit images
// of each compression that codes them.
TEST(TileParameters, IntegersUnderZquantizNoneReadAsStored) {
  const long width = 300, height = 200;
  const struct {
    const char* file;
    int bitpix, type;
  } cases[] = {{"rice16.fits", SHORT_IMG, RICE_1}, {"rice8.fits", BYTE_IMG, RICE_1},
               {"gzip16.fits", SHORT_IMG, GZIP_2}, {"gzip8.fits", BYTE_IMG, GZIP_1},
               {"gzip32.fits", LONG_IMG, GZIP_1},  {"hcomp16.fits", SHORT_IMG, HCOMPRESS_1},
               {"plio16.fits", SHORT_IMG, PLIO_1}};
  std::vector<double> values(width * height);
  for (long k = 0; k < width * height; k++) values[k] = static_cast<double>((k * 37 + k / width * 11) % 250);
  for (const auto& c : cases) {
    const std::string path = scratch(c.file);
    fits_test::write_compressed(path, c.bitpix, {width, height}, values,
                                {c.type, 4, SUBTRACTIVE_DITHER_1, {width, height}});
    tile_layouts::table_hdu hdu = tile_layouts::take_apart(fits_test::read_bytes(path));
    hdu.set("ZQUANTIZ", "'NONE'");
    fits_test::write_bytes(path, tile_layouts::put_together(hdu));
    const std::vector<float> pixels = fits_test::read_program(path + "[1]");
    ASSERT_EQ(pixels.size(), values.size()) << c.file;
    int wrong = 0;
    for (long k = 0; k < width * height; k++) wrong += pixels[k] != static_cast<float>(values[k]);
    EXPECT_EQ(wrong, 0) << c.file;
  }
}

}  // namespace

namespace {

// The first extension of a file the library's compressor wrote, HCOMPRESS
// at a lossy scale, smoothed on decoding or not as its cards say.
tile_layouts::table_hdu hcompressed(const std::string& name, const std::vector<double>& values, int smooth) {
  const std::string path = scratch(name);
  fits_test::Compression how;
  how.type = HCOMPRESS_1;
  how.hcompress_scale = 2.5;
  how.hcompress_smooth = smooth;
  fits_test::write_compressed(path, SHORT_IMG, {64, 64}, values, how);
  return tile_layouts::take_apart(fits_test::read_bytes(path));
}

}  // namespace

// The library keeps HCOMPRESS's smoothing (ZNAME2 = 'SMOOTH') from one HDU
// to the next where the cards leave it out (crafted: fpack and astropy
// always write it), and decoded such an HDU smoothed after one with SMOOTH
// = 1. It now reads, by name, by number and by a section, as the same HDU
// alone in a file.
TEST(TileParameters, HcompressSmoothingIsEachHdusOwn) {
  std::vector<double> values(64 * 64);
  for (long k = 0; k < 64 * 64; k++) values[k] = 1000 + (k * 7919 + (k / 64) * 104729) % 97 + (k % 64) * 3;
  tile_layouts::table_hdu smoothed = hcompressed("smoothed.fits", values, 1);
  tile_layouts::table_hdu plain = hcompressed("plain.fits", values, 0);
  ASSERT_EQ(smoothed.value("ZNAME2"), "SMOOTH");
  ASSERT_EQ(smoothed.value("ZVAL2"), "1");
  smoothed.set("EXTNAME", "'FIRST'");
  plain.set("EXTNAME", "'SCI'");
  for (const char* key : {"ZNAME2", "ZVAL2"}) plain.cards.erase(plain.cards.begin() + plain.find(key));
  fits_test::write_bytes(scratch("alone.fits"), tile_layouts::put_together(plain));
  const std::string second = tile_layouts::put_together(plain);
  fits_test::write_bytes(scratch("pair.fits"), tile_layouts::put_together(smoothed) + second.substr(2880));

  const std::vector<float> alone = fits_test::read_program(scratch("alone.fits[1]"));
  ASSERT_EQ(alone.size(), values.size());
  // Else the smoothing left over could not show.
  ASSERT_NE(fits_test::read_program(scratch("pair.fits[1]")), alone);
  for (const char* name : {"pair.fits[SCI]", "pair.fits[2]"})
    EXPECT_EQ(fits_test::read_program(scratch(name)), alone) << name;
  const std::vector<float> block = fits_test::read_program(scratch("pair.fits[SCI][1:8,1:8]"));
  ASSERT_EQ(block.size(), 64u);
  int wrong = 0;
  for (long line = 0; line < 8; line++)
    for (long column = 0; column < 8; column++) wrong += block[line * 8 + column] != alone[line * 64 + column];
  EXPECT_EQ(wrong, 0) << "pair.fits[SCI][1:8,1:8]";
}
