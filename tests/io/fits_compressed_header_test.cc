// The header of a tile-compressed image: built from its table's cards by the
// convention's rules, checked against the FITS library's rebuild of the
// tables its own compressor writes, and against astropy's uncompressed
// twins of the images astropy compressed (tests/io/data/astropy), header,
// pixels and the program's results.
#include "io/fits_compressed_header.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "io/fits_header.h"
#include "io/fits_io.h"
#include "support/qz_mca_program.h"
#include "support/tolerance.h"

namespace {

using fits_test::card;
using fits_test::value_card;

std::string joined(const std::vector<std::string>& texts) {
  std::string cards;
  for (const std::string& text : texts) cards += card(text);
  return cards;
}

const std::string kTableStart = joined({"XTENSION= 'BINTABLE'", value_card("BITPIX", "8"), value_card("NAXIS", "2"),
                                        value_card("NAXIS1", "8"), value_card("NAXIS2", "40"),
                                        value_card("PCOUNT", "3760"), value_card("GCOUNT", "1"),
                                        value_card("TFIELDS", "1")});
const std::string kColumn = joined({"TTYPE1  = 'COMPRESSED_DATA'", "TFORM1  = '1PB(94) '"});
const std::string kRice = joined({value_card("ZIMAGE", "T"), value_card("ZTILE1", "56"), value_card("ZTILE2", "1"),
                                  "ZCMPTYPE= 'RICE_1  '", "ZNAME1  = 'BLOCKSIZE'", value_card("ZVAL1", "32")});
const std::string kImageStructure =
    joined({"ZTENSION= 'IMAGE   '           / Image extension", value_card("ZBITPIX", "16") + " / data type",
            value_card("ZNAXIS", "2"), value_card("ZNAXIS1", "56"), value_card("ZNAXIS2", "40"),
            value_card("ZPCOUNT", "0"), value_card("ZGCOUNT", "1")});
const std::string kExtensionStructure =
    joined({"XTENSION= 'IMAGE   '           / Image extension", value_card("BITPIX", "16") + " / data type",
            value_card("NAXIS", "2"), value_card("NAXIS1", "56"), value_card("NAXIS2", "40"), value_card("PCOUNT", "0"),
            value_card("GCOUNT", "1")});
const std::string kScaling = joined({value_card("BSCALE", "1"), value_card("BZERO", "32768")});
const std::string kName = card("EXTNAME = 'SCI     '           / extension name");

// The image's structure opens its header whatever the table's order; every
// card that describes the image stays, in the order written, with its value
// and comment; the table's and the compression's cards go.
TEST(FitsCompressedHeader, BuiltByTheConventionsRules) {
  const struct {
    const char* what;
    std::string table, image;
  } cases[] = {
      {"astropy: the scaling right after TFIELDS", kTableStart + kScaling + kColumn + kRice + kImageStructure + kName,
       kExtensionStructure + kScaling + kName},
      {"the library's order", kTableStart + kColumn + kRice + kImageStructure + kScaling + kName,
       kExtensionStructure + kScaling + kName},
      {"axes in any order, structure cards among the others",
       kTableStart + kColumn + joined({"ZTENSION= 'IMAGE   '           / Image extension",
                                       value_card("ZBITPIX", "16") + " / data type", value_card("ZNAXIS", "2"),
                                       value_card("ZNAXIS2", "40"), "OBJECT  = 'm51     '", value_card("ZGCOUNT", "1"),
                                       value_card("ZNAXIS1", "56"), value_card("ZPCOUNT", "0")}),
       kExtensionStructure + card("OBJECT  = 'm51     '")},
      {"no ZTENSION, ZPCOUNT, ZGCOUNT: an extension of its own",
       kTableStart + kColumn + joined({value_card("ZBITPIX", "-32"), value_card("ZNAXIS", "1"),
                                       value_card("ZNAXIS1", "56")}),
       joined({"XTENSION= 'IMAGE   '", value_card("BITPIX", "-32"), value_card("NAXIS", "1"),
               value_card("NAXIS1", "56"), value_card("PCOUNT", "0"), value_card("GCOUNT", "1")})},
      {"a primary image: EXTEND in place, no counts made",
       kTableStart + kColumn + kRice +
           joined({value_card("ZSIMPLE", "T"), value_card("ZBITPIX", "8"), value_card("ZNAXIS", "2"),
                   value_card("ZNAXIS1", "56"), value_card("ZNAXIS2", "40"), "COMMENT   FITS format",
                   value_card("ZEXTEND", "T"), value_card("ZBLOCKED", "T")}),
       joined({value_card("SIMPLE", "T"), value_card("BITPIX", "8"), value_card("NAXIS", "2"),
               value_card("NAXIS1", "56"), value_card("NAXIS2", "40"), "COMMENT   FITS format",
               value_card("EXTEND", "T"), value_card("BLOCKED", "T")})},
      {"checksums: the image's renamed, the table's left out",
       kTableStart + kColumn + kImageStructure +
           joined({"ZHECKSUM= 'aaaa'", "ZDATASUM= '1'", "CHECKSUM= 'bbbb'", "DATASUM = '2'"}),
       kExtensionStructure + joined({"CHECKSUM= 'aaaa'", "DATASUM = '1'"})},
      {"every column card and compression card left out, look-alikes and history kept",
       kTableStart +
           joined({"TTYPE2  = 'ZSCALE  '", "TFORM2  = '1D      '", "TUNIT1  = 'adu'", "TDIM1   = '(56)'",
                   "TSCAL1  = 1", "TZERO1  = 0", "TNULL1  = 0", "TDISP1  = 'I6'", "THEAP   = 320",
                   "TFORMAT = 'kept'", "ZVALUE  = 'kept'", "ZNAXIS0 = 3", "TTYPE01 = 'kept'"}) +
           kRice + kImageStructure +
           joined({"ZQUANTIZ= 'SUBTRACTIVE_DITHER_1'", value_card("ZDITHER0", "6441"), value_card("ZBLANK", "-1"),
                   value_card("ZSCALE", "2."), value_card("ZZERO", "1."), "ZMASKCMP= 'RICE_1'",
                   "HISTORY compressed by hand", "", "BLANK   =               -32768"}),
       kExtensionStructure + joined({"TFORMAT = 'kept'", "ZVALUE  = 'kept'", "ZNAXIS0 = 3", "TTYPE01 = 'kept'",
                                     "HISTORY compressed by hand", "", "BLANK   =               -32768"})},
      {"a card given twice stays twice, for the header's reader to refuse",
       kTableStart + kImageStructure + joined({value_card("ZBITPIX", "8")}),
       joined({"XTENSION= 'IMAGE   '           / Image extension", value_card("BITPIX", "16") + " / data type",
               value_card("BITPIX", "8"), value_card("NAXIS", "2"), value_card("NAXIS1", "56"),
               value_card("NAXIS2", "40"), value_card("PCOUNT", "0"), value_card("GCOUNT", "1")})},
      {"copies the library reads alike are one card",
       kTableStart + kImageStructure + joined({value_card("ZBITPIX", "16"), "zbitpix = 16", value_card("ZNAXIS1", "56.0")}),
       kExtensionStructure},
      // The library finds Z-cards in any form its parser names them and
      // reads their integers leniently; the image's own cards are written
      // as integers, which is how every reader takes them there.
      {"Z-cards in any case, behind HIERARCH or with a real value",
       kTableStart +
           joined({"ZTENSION= 'IMAGE   '           / Image extension", value_card("ZBITPIX", "16") + " / data type",
                   "znaxis  =                    2", "HIERARCH ZNAXIS1 = 56", value_card("ZNAXIS2", "40.0"),
                   "ZPCOUNT X=                  0", value_card("ZGCOUNT", "'1'")}),
       joined({"XTENSION= 'IMAGE   '           / Image extension", value_card("BITPIX", "16") + " / data type",
               value_card("NAXIS", "2"), value_card("NAXIS1", "56"), value_card("NAXIS2", "40"),
               value_card("PCOUNT", "0"), value_card("GCOUNT", "1")})},
      {"cards after END ignored", kTableStart + kImageStructure + card("END") + kScaling, kExtensionStructure},
      {"no ZBITPIX", kTableStart + kColumn + joined({value_card("ZNAXIS", "1"), value_card("ZNAXIS1", "56")}), ""},
      {"no ZNAXIS", kTableStart + joined({value_card("ZBITPIX", "16"), value_card("ZNAXIS1", "56")}), ""},
      {"ZNAXIS not a count", kTableStart + joined({value_card("ZBITPIX", "16"), "ZNAXIS  = 'two'"}), ""},
      {"an axis missing",
       kTableStart + joined({value_card("ZBITPIX", "16"), value_card("ZNAXIS", "2"), value_card("ZNAXIS2", "40")}),
       ""},
      {"the last axis missing",
       kTableStart + joined({value_card("ZBITPIX", "16"), value_card("ZNAXIS", "2"), value_card("ZNAXIS1", "56")}),
       ""},
      {"the last of three axes missing, a fourth in its place",
       kTableStart + joined({value_card("ZBITPIX", "16"), value_card("ZNAXIS", "3"), value_card("ZNAXIS1", "56"),
                             value_card("ZNAXIS2", "40"), value_card("ZNAXIS4", "2")}),
       ""},
  };
  for (const auto& c : cases) EXPECT_EQ(fits_compressed_image_cards(c.table), c.image) << c.what;
}

// The cards of the current HDU, each padded to 80 bytes, END left out.
std::string hdu_cards(fitsfile* f) {
  int nkeys = 0, status = 0;
  ffghsp(f, &nkeys, nullptr, &status);
  std::string cards;
  for (int k = 1; k <= nkeys; k++) {
    char text[FLEN_CARD] = "";
    ffgrec(f, k, text, &status);
    cards += card(text);
  }
  EXPECT_EQ(status, 0);
  return cards;
}

// How a test image is made by the library's compressor, and what its
// header holds besides its structure.
struct LibraryCompressed {
  const char* what;
  int bitpix;
  std::vector<long> axes;
  int algorithm;
  bool primary, scaled, checksum;
};

// The tables the library's own compressor writes rebuild as the library
// rebuilds them: the reference for the rules above.
TEST(FitsCompressedHeader, AgreesWithTheLibrarysRebuildOfItsOwnTables) {
  const LibraryCompressed cases[] = {
      {"unsigned 16 bits, Rice, an extension", SHORT_IMG, {8, 6}, RICE_1, false, true, false},
      {"floats quantized and dithered, GZIP_2", FLOAT_IMG, {8, 6}, GZIP_2, false, false, false},
      {"a primary image, HCOMPRESS", SHORT_IMG, {8, 6}, HCOMPRESS_1, true, true, false},
      {"with checksums", LONG_IMG, {8, 6}, RICE_1, false, false, true},
      {"three axes, PLIO", SHORT_IMG, {8, 6, 2}, PLIO_1, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int status = 0;
    fitsfile *plain = nullptr, *table = nullptr, *image = nullptr;
    ffinit(&plain, "mem://", &status);
    if (!c.primary) ffcrim(plain, BYTE_IMG, 0, nullptr, &status);
    ffcrim(plain, c.bitpix, static_cast<int>(c.axes.size()), const_cast<long*>(c.axes.data()), &status);
    ffpky(plain, TSTRING, "OBJECT", const_cast<char*>("m51"), "the object", &status);
    if (c.scaled) {
      double bscale = 1, bzero = 32768;
      int blank = -32768;
      ffpky(plain, TDOUBLE, "BSCALE", &bscale, nullptr, &status);
      ffpky(plain, TDOUBLE, "BZERO", &bzero, nullptr, &status);
      ffpky(plain, TINT, "BLANK", &blank, nullptr, &status);
    }
    ffphis(plain, "a history line", &status);
    ffpcom(plain, "a comment line", &status);
    ffpky(plain, TSTRING, "EXTNAME", const_cast<char*>("SCI"), nullptr, &status);
    ffrdef(plain, &status);
    ffpscl(plain, 1, 0, &status);
    long long n = 1;
    for (long axis : c.axes) n *= axis;
    std::vector<double> values(static_cast<std::size_t>(n));
    for (std::size_t k = 0; k < values.size(); k++) values[k] = 3.5 * static_cast<double>(k % 40);
    ffppr(plain, TDOUBLE, 1, n, values.data(), &status);
    if (c.checksum) ffpcks(plain, &status);
    ffinit(&table, "mem://", &status);
    fits_set_compression_type(table, c.algorithm, &status);
    fits_img_compress(plain, table, &status);
    if (c.checksum) ffpcks(table, &status);
    // The table's name as the library's compressor and astropy write their
    // default one, and look-alikes of it, which the rebuild keeps.
    for (const char* name : {"EXTNAME = 'SCI'", "EXTNAME = 'COMPRESSED_IMAGE'",
                             "EXTNAME = 'COMPRESSED_IMAGE'   / name of this binary table extension",
                             "EXTNAME = 'compressed_image'", "EXTNAME = 'COMPRESSED_IMAGE  '",
                             "EXTNAME =  'COMPRESSED_IMAGE'", "EXTNAME = 'COMPRESSED_IMAGES'"}) {
      SCOPED_TRACE(name);
      ffmcrd(table, const_cast<char*>("EXTNAME"), const_cast<char*>(name), &status);
      ffinit(&image, "mem://", &status);
      fits_img_decompress_header(table, image, &status);
      ASSERT_EQ(status, 0);
      const std::string built = fits_compressed_image_cards(hdu_cards(table));
      ASSERT_FALSE(built.empty());
      EXPECT_EQ(fits_test::header_cards(built + card("END")), fits_test::header_cards(hdu_cards(image) + card("END")));
      ffclos(image, &status);
    }
    for (fitsfile* f : {plain, table}) {
      status = 0;
      ffclos(f, &status);
    }
  }
}

const std::string kAstropy = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";

// The structure cards whose comments each writer words its own way ("data
// type of original image" against "array data type"): their keyword and
// value must agree, their comments need not.
bool structure_card(const std::string& card) {
  const std::string key = card.substr(0, 8);
  return key == "BITPIX  " || key.compare(0, 5, "NAXIS") == 0;
}

// The cards of two headers agree, the comments of the structure aside.
void expect_same_cards(const std::vector<std::string>& cards, const std::vector<std::string>& twin) {
  ASSERT_EQ(cards.size(), twin.size());
  for (std::size_t k = 0; k < cards.size(); k++) {
    if (structure_card(twin[k]))
      EXPECT_EQ(cards[k].substr(0, 30), twin[k].substr(0, 30)) << k;
    else
      EXPECT_EQ(cards[k], twin[k]) << k;
  }
}

std::vector<std::string> record_cards(const fitsstruct& rec) {
  return fits_test::header_cards(std::string(rec.fitshead, static_cast<std::size_t>(rec.fitsheadsize)));
}

// The images of make_files.py, from its closed forms: 56 columns, 40 lines.
struct AstropyImage {
  const char* compressed;
  const char* twin;
  int bitpix;
  double bzero;
  std::function<double(long long x, long long y)> value;
  double tolerance;  // 0: exact
};

double f32_value(long long x, long long y) {
  return std::sin(static_cast<double>(x) / 5.0) * 100 + static_cast<double>(y) * 0.25;
}

const AstropyImage kAstropyImages[] = {
    {"u16_rice_1", "plain_u16", 16, 32768, [](long long x, long long y) { return (x * 1237 + y * 977) % 65536; }, 0},
    {"u16_gzip_1", "plain_u16", 16, 32768, [](long long x, long long y) { return (x * 1237 + y * 977) % 65536; }, 0},
    {"u16_gzip_2", "plain_u16", 16, 32768, [](long long x, long long y) { return (x * 1237 + y * 977) % 65536; }, 0},
    {"u16_hcompress_1", "plain_u16", 16, 32768,
     [](long long x, long long y) { return (x * 1237 + y * 977) % 65536; }, 0},
    {"i8_rice_1", "plain_i8", 8, -128, [](long long x, long long y) { return (x * 7 + y * 3) % 256 - 128; }, 0},
    {"u32_rice_1", "plain_u32", 32, 2147483648.0,
     [](long long x, long long y) { return (x * 123457 + y * 7654321) % 4294967296LL; }, 0},
    {"i16_plio_1", "plain_i16", 16, 0, [](long long x, long long y) { return (x * 13 + y * 29) % 30000; }, 0},
    // Quantized in steps of ZSCALE, 0.0193 in every tile of these files:
    // each pixel within half a step.
    {"f32_rice_1", "plain_f32", -32, 0, f32_value, 0.0097},
    {"f32_gzip_2", "plain_f32", -32, 0, f32_value, 0.0097},
};

// Each image astropy compressed reads as its uncompressed twin: the same
// header, by number and by EXTNAME, and the pixels of the closed form.
TEST(AstropyCompressedImages, ReadAsTheirUncompressedTwins) {
  for (const AstropyImage& image : kAstropyImages) {
    SCOPED_TRACE(image.compressed);
    to_array<float, false> twin_pixels;
    fitsstruct twin;
    fits_read_float((kAstropy + image.twin + ".fits[SCI]").c_str(), twin_pixels, &twin);
    EXPECT_EQ(twin.bitpix, image.bitpix);
    EXPECT_EQ(twin.bzero, image.bzero);
    for (const char* selector : {"[1]", "[SCI]"}) {
      SCOPED_TRACE(selector);
      to_array<float, false> pixels;
      fitsstruct rec;
      fits_read_float((kAstropy + image.compressed + ".fits" + selector).c_str(), pixels, &rec);
      EXPECT_EQ(rec.bitpix, image.bitpix);
      EXPECT_EQ(rec.bscale, 1.0);
      EXPECT_EQ(rec.bzero, image.bzero);
      expect_same_cards(record_cards(rec), record_cards(twin));
      ASSERT_EQ(pixels.nl() * 100 + pixels.nc(), 40 * 100 + 56);
      for (int y = 0; y < 40; y++)
        for (int x = 0; x < 56; x++) {
          const float expected = static_cast<float>(image.value(x, y));
          if (image.tolerance == 0)
            ASSERT_EQ(pixels(y, x), expected) << x << " " << y;
          else
            ASSERT_NEAR(pixels(y, x), expected, image.tolerance) << x << " " << y;
          ASSERT_NEAR(twin_pixels(y, x), expected, std::abs(expected) * 1e-6) << x << " " << y;
        }
    }
  }
}

// The images astropy compressed without a name, whose tables it names
// 'COMPRESSED_IMAGE' as the library's compressor does, read without a name
// as the library rebuilds their headers (its rebuild serves for some, ours
// for the others: unsigned and signed-byte images), and otherwise as the
// same images named SCI.
TEST(AstropyCompressedImages, TheTablesDefaultNameIsNoNameOfTheImage) {
  // The named twin, and whether its pixels are the same (floating-point
  // ones are quantized with a dithering of their own).
  const std::tuple<const char*, const char*, bool> images[] = {{"u16", "u16_rice_1", true},
                                                               {"i8", "i8_rice_1", true},
                                                               {"u32", "u32_rice_1", true},
                                                               {"i16", "i16_plio_1", true},
                                                               {"f32", "f32_rice_1", false}};
  for (const auto& [label, twin, same_pixels] : images) {
    SCOPED_TRACE(label);
    to_array<float, false> pixels, named_pixels;
    fitsstruct rec, named;
    fits_read_float((kAstropy + "unnamed_" + label + "_rice_1.fits[1]").c_str(), pixels, &rec);
    fits_read_float((kAstropy + twin + ".fits[1]").c_str(), named_pixels, &named);
    std::vector<std::string> named_cards;
    for (const std::string& card : record_cards(named))
      if (card.compare(0, 8, "EXTNAME ") != 0) named_cards.push_back(card);
    EXPECT_EQ(record_cards(rec), named_cards);
    EXPECT_LT(named_cards.size(), record_cards(named).size()) << "the named image lost its name";
    if (same_pixels) {
      EXPECT_TRUE(qz_test::same_bits(pixels, named_pixels));
    }
  }
}

using AstropyRuns = QzMcaProgram;

// A run on an integer image astropy compressed writes what the run on its
// uncompressed twin writes: the same header (the structure's comments
// aside), BITPIX and scaling included, and the same pixels. Each input is
// x.fits in a folder of its own, so that the command lines the results
// record agree too.
TEST_F(AstropyRuns, ResultsEqualThoseOfTheUncompressedTwin) {
  namespace fs = std::filesystem;
  auto run_in = [&](const std::string& folder, const std::string& input, const char* selector) {
    fs::create_directory(path(folder));
    fs::copy_file(kAstropy + input + ".fits", path(folder + "/x.fits"));
    EXPECT_EQ(run(std::string("-i 2 'x.fits") + selector + "' o", "", folder), 0) << output_;
  };
  for (const AstropyImage& image : kAstropyImages) {
    if (image.tolerance != 0) continue;
    for (const char* selector : {"[1]", "[SCI]"}) {
      if (std::string(selector) == "[SCI]" && std::string(image.compressed) != "u16_rice_1") continue;
      SCOPED_TRACE(std::string(image.compressed) + selector);
      const std::string compressed = image.compressed + std::string(selector == std::string("[1]") ? "_1" : "_sci");
      run_in(compressed, image.compressed, selector);
      const std::string twin = compressed + "_twin";
      run_in(twin, image.twin, selector);
      for (const char* result : {"o.fits", "o_resi.fits"}) {
        const std::string bytes = file_bytes(compressed + "/" + result), twin_bytes = file_bytes(twin + "/" + result);
        ASSERT_FALSE(bytes.empty()) << result;
        const std::vector<std::string> cards = fits_test::header_cards(bytes);
        expect_same_cards(cards, fits_test::header_cards(twin_bytes));
        const std::size_t data = (cards.size() * 80 + 2879) / 2880 * 2880;
        EXPECT_TRUE(bytes.substr(data) == twin_bytes.substr(data)) << result;
      }
    }
  }
}

// fpack's own name, x.fz, read without a selector: the advice names the
// extension, as for x.fits.fz; a name of no such file, or one the reader
// completes to a file, reads as before.
TEST_F(AstropyRuns, AnFzNameWithoutSelectorIsAdvisedToNameTheExtension) {
  namespace fs = std::filesystem;
  for (const char* name : {"x.fz", "X.FZ", "y.Fz"}) fs::copy_file(kAstropy + "u16_rice_1.fits", path(name));
  for (const char* name : {"x.fz", "X.FZ", "y.Fz"}) {
    EXPECT_EQ(run(std::string("-i 2 ") + name + " o"), 255) << name;
    EXPECT_EQ(output_, std::string("Error: the name ends in .fz, as fpack names its files, whose image is in an "
                                   "extension: name it, as in '") +
                           name + "[1]' ... (" + name + ")\n");
    EXPECT_FALSE(exists("o.fits"));
  }
  EXPECT_EQ(run("-i 2 'x.fz[1]' o"), 0) << output_;
  EXPECT_EQ(run("-i 2 absent.fz o"), 104);
  EXPECT_EQ(output_, "Error: cannot open file (absent.fz.fits: No such file or directory)\n");
  fs::copy_file(kAstropy + "plain_u16.fits", path("x.fz.fits"));
  EXPECT_EQ(run("-i 2 x.fz o2"), 255);
  EXPECT_TRUE(printed("the primary HDU of the file holds no image")) << output_;
  fs::copy_file(kAstropy + "u16_rice_1.fits", path("z.tif"));
  EXPECT_EQ(run("-i 2 z.tif o"), 255);
  EXPECT_TRUE(printed("Error: the name ends in no extension of an image format read here")) << output_;
}

}  // namespace
