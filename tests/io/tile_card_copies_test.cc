// Copies of a card in a tile-compressed image's header, as writers leave
// them: the library may read either copy, so copies it reads alike are one
// card and read, in the HDU read and in those passed on the way, and
// copies that differ are refused, naming both. References are the library's
// own reads of the same files without their copies, or closed forms.
#include "io/tile_compression_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "io/fits_io.h"
#include "tile_table_layouts.h"
#include "support/death.h"

using fits_test::read_program;
using fits_test::scratch;
using fits_test::value_card;

namespace {

constexpr long kWidth = 40, kHeight = 30;
const std::string kData = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";

std::vector<float> read_library(const std::string& name) {
  const std::vector<double> values = fits_test::read_reference(name).values;
  return std::vector<float>(values.begin(), values.end());
}

// The first extension with `cards` added at the end of its header.
std::string with_cards(const std::string& bytes, const std::vector<std::string>& cards) {
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(bytes);
  for (const std::string& card : cards) hdu.cards.push_back(fits_test::card(card));
  return tile_layouts::put_together(hdu);
}

// The first extension without its cards of keyword `key` (as written).
std::string without(const std::string& bytes, const std::string& key) {
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(bytes);
  for (int at = hdu.find(key); at >= 0; at = hdu.find(key)) hdu.cards.erase(hdu.cards.begin() + at);
  return tile_layouts::put_together(hdu);
}

// A smooth sky, quantized and dithered by the library's compressor; the
// name it gives the table, COMPRESSED_IMAGE, left out.
std::string float_rice(const std::string& name) {
  std::vector<double> values(kWidth * kHeight);
  for (long k = 0; k < kWidth * kHeight; k++) values[k] = 200 + 100 * std::sin(k / 5.0) + k * 0.01;
  fits_test::write_compressed(scratch(name), FLOAT_IMG, {kWidth, kHeight}, values, {});
  return without(fits_test::read_bytes(scratch(name)), "EXTNAME");
}

int count_cards(const std::string& bytes, const std::string& key) {
  const tile_layouts::table_hdu hdu = tile_layouts::take_apart(bytes);
  int count = 0;
  for (const std::string& card : hdu.cards) count += card.compare(0, 8, (key + "        ").substr(0, 8)) == 0;
  return count;
}

}  // namespace

// astropy names a compressed image built without a name by a second
// EXTNAME, of the same value (`c.name = 'SCI'`, `c.header['EXTNAME'] =
// 'ERR'`): each HDU reads, by number and by name, and the second with the
// first passed on the way; the pixels are the closed forms astropy wrote.
TEST(TileCardCopies, AstropyImagesNamedAfterBuildingRead) {
  const std::string path = kData + "named_after_building.fits";
  const std::string bytes = fits_test::read_bytes(path);
  ASSERT_EQ(count_cards(bytes, "EXTNAME"), 2);
  std::vector<float> sci(56 * 40), err(56 * 40);
  for (long y = 0; y < 40; y++)
    for (long x = 0; x < 56; x++) {
      sci[y * 56 + x] = static_cast<float>((x * 13 + y * 29) % 30000);
      err[y * 56 + x] = static_cast<float>((x * 7 + y * 11) % 1000);
    }
  for (const char* selector : {"[1]", "[SCI]", "[sci]", "[SCI,1]"})
    EXPECT_EQ(read_program(path + selector), sci) << selector;
  for (const char* selector : {"[2]", "[ERR]"}) EXPECT_EQ(read_program(path + selector), err) << selector;
  // The header a result carries names the image once.
  to_array<float, false> image;
  fitsstruct header;
  fits_read_float((path + "[SCI]").c_str(), image, &header);
  int names = 0;
  for (int at = 0; at + 80 <= header.fitsheadsize; at += 80)
    names += std::string(header.fitshead + at, 8) == "EXTNAME ";
  EXPECT_EQ(names, 1);
}

// Copies of a card that the library reads alike, in any form it reads: as
// written, in lower case, behind HIERARCH or a keyword ended early, with a
// value it converts to the same number or string, read as the file without
// the copy reads through the library, in the HDU read and in one passed.
TEST(TileCardCopies, CopiesReadAlikeAreOneCard) {
  const std::string bytes = float_rice("alike.fits");
  const tile_layouts::table_hdu hdu = tile_layouts::take_apart(bytes);
  const std::string seed = hdu.value("ZDITHER0"), rows = hdu.value("NAXIS2");
  ASSERT_FALSE(seed.empty());
  const std::string table_bytes = std::to_string(hdu.integer("NAXIS1") * hdu.integer("NAXIS2"));
  // Each set of copies is added to the header; the reference has the first
  // of them only (none for a copy of a card of the table's structure,
  // which stays in its place).
  const std::vector<std::vector<std::string>> copies = {
      {"EXTNAME = 'SCI'", "EXTNAME = 'SCI     '"},
      {"EXTNAME = 'SCI'", "extname = 'SCI'"},
      {"HDUNAME = 'SCI'", "HIERARCH HDUNAME = 'SCI'"},
      {"EXTVER  = 2", "EXTVER  = 2.0"},
      // Integers of the Z-cards are cut toward zero as the library reads
      // them: 40.5 is 40.
      {"EXTVER  = 2", "EXTVER  = 2.5"},
      {"ZTILE1  = " + std::to_string(kWidth), "ZTILE1  = " + std::to_string(kWidth) + ".5"},
      {"BSCALE  = 1.0", "BSCALE  = 1"},
      {"ZTILE1  = " + std::to_string(kWidth), "ztile1  = " + std::to_string(kWidth) + ".0"},
      {"ZTILE1  = " + std::to_string(kWidth), "ZTILE1 X= " + std::to_string(kWidth)},
      {"ZCMPTYPE= 'RICE_1'", "zcmptype= 'RICE_1  '"},
      {"ZQUANTIZ= 'SUBTRACTIVE_DITHER_1'", "ZQUANTIZ= 'SUBTRACTIVE_DITHER_1'"},
      {value_card("ZDITHER0", seed), value_card("ZDITHER0", seed)},
      {value_card("THEAP", table_bytes), value_card("THEAP", table_bytes)},
      {"", value_card("NAXIS2", rows)},
      {"TSCAL1  = 1.0", "TSCAL1  = 1"},
      // The image's own structure, which the library's rebuild of its
      // header turns into BITPIX, NAXIS and NAXISn.
      {"", value_card("ZBITPIX", hdu.value("ZBITPIX"))},
      {"", "ZNAXIS  = 2"},
      {"", "znaxis1 = " + std::to_string(kWidth)},
      {"", "HIERARCH ZNAXIS2 = " + std::to_string(kHeight)},
      {"ZPCOUNT = 0", "ZPCOUNT = 0"},
      {"ZGCOUNT = 1", "HIERARCH ZGCOUNT = 1"},
  };
  for (const auto& set : copies) {
    SCOPED_TRACE(set[1]);
    // The cards the sets stand for are removed first, so that each set
    // holds every copy.
    std::string plain = bytes;
    for (const char* key : {"ZTILE1", "ZCMPTYPE", "ZQUANTIZ", "ZDITHER0"})
      if (set[0].compare(0, std::string(key).size(), key) == 0) plain = without(plain, key);
    const std::string once = set[0].empty() ? plain : with_cards(plain, {set[0]});
    const std::string twice = set[0].empty() ? with_cards(plain, {set[1]}) : with_cards(plain, set);
    fits_test::write_bytes(scratch("once.fits"), once);
    fits_test::write_bytes(scratch("twice.fits"), twice);
    const std::vector<float> reference = read_library(scratch("once.fits[1]"));
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(kWidth * kHeight));
    EXPECT_EQ(read_program(scratch("twice.fits[1]")), reference);
    // Passed on the way to an HDU after it.
    fits_test::write_bytes(scratch("twice.fits"), twice + bytes.substr(2880));
    EXPECT_EQ(read_program(scratch("twice.fits[2]")), reference);
  }
}

// Copies of a card the tiles are read by that differ are refused, naming
// both, in the HDU read and in one passed: the library may read either.
TEST(TileCardCopies, CopiesThatDifferAreRefused) {
  const std::string bytes = float_rice("differ.fits");
  const struct {
    std::vector<std::string> cards;
    const char* message;
  } cases[] = {
      {{"ztile1  = 41"}, "has ZTILE1 twice \\(ZTILE1 = 40, then ztile1 = 41\\)"},
      // A quoted integer is one for the Z-cards' lenient reading, none for
      // the table's structure, which the library reads strictly.
      {{"NAXIS1  = '24'"}, "has NAXIS1 twice \\(NAXIS1 = 24, then NAXIS1 = '24'\\)"},
      {{"NAXIS2  = 30.0"}, "has NAXIS2 twice \\(NAXIS2 = 30, then NAXIS2 = 30.0\\)"},
      {{"TSCAL1  = 1", "TSCAL1  = '1'"}, "has TSCAL1 twice \\(TSCAL1 = 1, then TSCAL1 = '1'\\)"},
      {{"ZCMPTYPE= 'GZIP_1'"}, "has ZCMPTYPE twice \\(ZCMPTYPE = 'RICE_1  ', then ZCMPTYPE = 'GZIP_1'\\)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cards.back());
    const std::string twice = with_cards(bytes, c.cards);
    const std::string message =
        std::string("the tile-compressed image in HDU \\[1\\] ") + c.message + ": the FITS library may read either";
    fits_test::write_bytes(scratch("twice.fits"), twice);
    EXPECT_EXIT_STATUS(read_program(scratch("twice.fits[1]")), 255, message);
    fits_test::write_bytes(scratch("twice.fits"), twice + bytes.substr(2880));
    EXPECT_EXIT_STATUS(read_program(scratch("twice.fits[2]")), 255, message);
  }
}

// Copies of a name or version card that differ have no part in a read by
// number. A search reads the first EXTNAME, as astropy does, and after it
// the first EXTVER that follows it: an HDU they name is read, one they do
// not is no such HDU, as the library's own open finds. Copies that the
// library's search and astropy would answer otherwise (an EXTVER before
// EXTNAME and one after it; HDUNAME, which astropy never reads, of which
// the library's search may read either) are refused, naming both.
TEST(TileCardCopies, NameCopiesThatDifferRefuseOnlyTheSearchesTheyAnswer) {
  const std::string bytes = float_rice("names.fits");
  const std::string last = with_cards(bytes, {"EXTNAME = 'LAST'"}).substr(2880);
  const struct {
    std::vector<std::string> cards;
    std::vector<const char*> read, absent, refused;
    const char* message;
  } cases[] = {
      {{"EXTNAME = 'SCI'", "EXTNAME = 'ERR'"},
       {"[1]", "[2]", "[LAST]", "[SCI]", "[sci,1]"},
       {"[ERR]", "[err,1]"},
       {},
       ""},
      {{"EXTNAME = 'SCI'", "EXTNAME = 'sci'"}, {"[SCI]", "[sci,1]", "[2]", "[LAST]"}, {}, {}, ""},
      {{"HDUNAME = 'SCI'", "HDUNAME = 'ERR'"},
       {"[1]", "[LAST]"},
       {},
       {"[ERR]"},
       "HDUNAME twice, with values that differ \\(HDUNAME = +'SCI', then HDUNAME = +'ERR'\\), of which the FITS "
       "library's search for the HDU the name selects may read either"},
      {{"EXTNAME = 'SCI'", "EXTVER  = 2", "EXTVER  = 3"}, {"[1]", "[SCI]", "[LAST]", "[SCI,2]"}, {"[SCI,3]"}, {}, ""},
      {{"EXTVER  = 2", "EXTVER  = 3", "EXTNAME = 'SCI'"}, {"[SCI,2]"}, {"[SCI,3]"}, {}, ""},
      {{"EXTVER  = 2", "EXTNAME = 'SCI'", "EXTVER  = 3"},
       {"[1]", "[SCI]", "[LAST]"},
       {},
       {"[SCI,2]", "[SCI,3]"},
       "EXTVER twice, with values that differ \\(EXTVER += 2, then EXTVER += 3\\), of which the FITS library's "
       "search for the HDU the name selects reads the one and astropy the other"},
      // Versions the library's int reads alike are one.
      {{"EXTNAME = 'SCI'", "EXTVER  = 2", "EXTVER  = 4294967298"}, {"[SCI,2]"}, {}, {}, ""},
  };
  const std::vector<float> reference = read_library(scratch("names.fits[1]"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cards.back());
    const std::string path = scratch("twice.fits");
    fits_test::write_bytes(path, with_cards(bytes, c.cards) + last);
    for (const char* selector : c.read) {
      EXPECT_EQ(read_library(path + selector), reference) << selector;
      EXPECT_EQ(read_program(path + selector), reference) << selector;
    }
    for (const char* selector : c.absent) {
      fitsfile* f = nullptr;
      int status = 0;
      EXPECT_EQ(ffopen(&f, (path + selector).c_str(), READONLY, &status), BAD_HDU_NUM) << selector;
      EXPECT_EXIT_STATUS(read_program(path + selector), BAD_HDU_NUM & 0xFF, "twice.fits has no such HDU") << selector;
    }
    for (const char* selector : c.refused)
      EXPECT_EXIT_STATUS(read_program(path + selector), 255, std::string("HDU \\[1\\] gives ") + c.message)
          << selector;
  }
}

// astropy's rename of a compressed image in update mode changes the first
// of the two EXTNAME cards it wrote, which the library's search reads, as
// astropy does: the HDU is NEW and no longer SCI. The HDUs read by number
// and by name as the closed forms astropy wrote.
TEST(TileCardCopies, AstropyImageRenamedInUpdateModeReadsPastIt) {
  const std::string path = kData + "renamed_after_building.fits";
  ASSERT_EQ(count_cards(fits_test::read_bytes(path), "EXTNAME"), 2);
  std::vector<float> sci(56 * 40), err(56 * 40);
  for (long y = 0; y < 40; y++)
    for (long x = 0; x < 56; x++) {
      sci[y * 56 + x] = static_cast<float>((x * 13 + y * 29) % 30000);
      err[y * 56 + x] = static_cast<float>((x * 7 + y * 11) % 1000);
    }
  for (const char* selector : {"[1]", "[NEW]", "[new,1]"}) EXPECT_EQ(read_program(path + selector), sci) << selector;
  for (const char* selector : {"[2]", "[ERR]", "[ERR,1]"}) EXPECT_EQ(read_program(path + selector), err) << selector;
  EXPECT_EXIT_STATUS(read_program(path + "[SCI]"), BAD_HDU_NUM & 0xFF,
                     "renamed_after_building.fits has no such HDU: it holds \\[0\\], \\[1\\] NEW, \\[2\\] "
                     "ERR\\)");
}

// Two compressed images as astropy writes them, read as the library and
// astropy read them: one it read, copied and wrote again, whose ZPCOUNT
// gives the size of the heap it read (the library's image has no
// parameters whatever the card says); one it named twice before writing
// it, whose first EXTNAME, SCI, is its name for both. From the file and
// once gzipped, by number and by name, "#" ending a name or not; the pixels
// are the closed forms astropy wrote, and the library's own.
TEST(TileCardCopies, AstropyImagesCopiedOrNamedTwiceRead) {
  std::vector<float> copied(56 * 40), renamed(56 * 40);
  for (long y = 0; y < 40; y++)
    for (long x = 0; x < 56; x++) {
      copied[y * 56 + x] = static_cast<float>((x * 13 + y * 29) % 30000);
      renamed[y * 56 + x] = static_cast<float>((x * 7 + y * 11) % 1000);
    }
  const struct {
    const char* file;
    const std::vector<float>& pixels;
  } files[] = {{"copied_after_reading.fits", copied}, {"renamed_twice.fits", renamed}};
  for (const auto& f : files) {
    const std::string path = kData + f.file, packed = scratch(std::string(f.file) + ".gz");
    ASSERT_EQ(std::system(("gzip -c '" + path + "' > '" + packed + "'").c_str()), 0);
    for (const std::string& name : {path, packed})
      for (const char* selector : {"[1]", "[SCI]", "[sci#]", "[SCI,1#]"}) {
        EXPECT_EQ(read_library(name + selector), f.pixels) << name << selector;
        EXPECT_EQ(read_program(name + selector), f.pixels) << name << selector;
      }
    // "SCI##" seeks SCI# alone.
    EXPECT_EXIT_STATUS(read_program(packed + "[SCI##]"), BAD_HDU_NUM & 0xFF,
                       "has no such HDU: it holds \\[0\\], \\[1\\] SCI\\)");
  }
  EXPECT_NE(fits_test::read_bytes(kData + "copied_after_reading.fits").find("ZPCOUNT =                 1800"),
            std::string::npos);
  // The header a result carries describes no parameters.
  to_array<float, false> image;
  fitsstruct header;
  fits_read_float((kData + "copied_after_reading.fits[SCI]").c_str(), image, &header);
  EXPECT_EQ(std::string(header.fitshead, header.fitsheadsize).find("PCOUNT"), std::string::npos);
  // The other name is no name of the HDU, for the library nor for us.
  const std::string twice = kData + "renamed_twice.fits";
  fitsfile* f = nullptr;
  int status = 0;
  EXPECT_EQ(ffopen(&f, (twice + "[TMP]").c_str(), READONLY, &status), BAD_HDU_NUM);
  EXPECT_EXIT_STATUS(read_program(twice + "[TMP]"), BAD_HDU_NUM & 0xFF, "renamed_twice.fits has no such HDU");
}

// The library's compressor copies the input image's ZQUANTIZ, and its
// ZDITHER0 beside the seed it is given, into the table it writes: two
// copies of each, of one value. They read as the same file without them.
TEST(TileCardCopies, CompressorsCopiesOfZquantizAndZdither0Read) {
  fitsfile *plain = nullptr, *out = nullptr;
  int status = 0;
  long naxes[2] = {kWidth, kHeight};
  std::vector<float> values(kWidth * kHeight);
  for (long k = 0; k < kWidth * kHeight; k++) values[k] = static_cast<float>(500 + 30 * std::cos(k / 7.0));
  ffinit(&plain, "mem://", &status);
  ffcrim(plain, FLOAT_IMG, 2, naxes, &status);
  ffpkys(plain, "ZQUANTIZ", "SUBTRACTIVE_DITHER_1", nullptr, &status);
  ffpkyj(plain, "ZDITHER0", 4321, nullptr, &status);
  ffppr(plain, TFLOAT, 1, kWidth * kHeight, values.data(), &status);
  const std::string path = scratch("copies.fits");
  std::remove(path.c_str());
  ffinit(&out, path.c_str(), &status);
  fits_set_compression_type(out, RICE_1, &status);
  fits_set_quantize_method(out, SUBTRACTIVE_DITHER_1, &status);
  fits_set_dither_seed(out, 4321, &status);
  fits_img_compress(plain, out, &status);
  ffclos(plain, &status);
  ffclos(out, &status);
  ASSERT_EQ(status, 0);
  const std::string bytes = fits_test::read_bytes(path);
  ASSERT_EQ(count_cards(bytes, "ZQUANTIZ"), 2);
  ASSERT_EQ(count_cards(bytes, "ZDITHER0"), 2);
  fits_test::write_bytes(scratch("single.fits"),
                         with_cards(without(without(bytes, "ZQUANTIZ"), "ZDITHER0"),
                                    {"ZQUANTIZ= 'SUBTRACTIVE_DITHER_1'", value_card("ZDITHER0", "4321")}));
  const std::vector<float> reference = read_library(scratch("single.fits[1]"));
  EXPECT_EQ(read_program(path + "[1]"), reference);
}

// ZDITHER0 = 0 is the library's compressor's mark of no seed: beside a
// seed, in either order, the tiles read with the seed, 10000 as any other;
// alone on dithered tiles it is refused, for the library's decoder would
// index its table of offsets before its start.
TEST(TileCardCopies, AStrayZeroBesideASeedReadsWithTheSeed) {
  const std::string bytes = without(float_rice("seed.fits"), "ZDITHER0");
  for (const char* seed : {"10000", "1", "777"}) {
    SCOPED_TRACE(seed);
    fits_test::write_bytes(scratch("seeded.fits"), with_cards(bytes, {value_card("ZDITHER0", seed)}));
    const std::vector<float> reference = read_library(scratch("seeded.fits[1]"));
    for (const auto& order : {std::vector<std::string>{value_card("ZDITHER0", seed), value_card("ZDITHER0", "0")},
                              std::vector<std::string>{value_card("ZDITHER0", "0"), value_card("ZDITHER0", seed)}}) {
      fits_test::write_bytes(scratch("stray.fits"), with_cards(bytes, order));
      EXPECT_EQ(read_program(scratch("stray.fits[1]")), reference) << order[0];
    }
  }
  fits_test::write_bytes(scratch("zero.fits"), with_cards(bytes, {value_card("ZDITHER0", "0")}));
  EXPECT_EXIT_STATUS(read_program(scratch("zero.fits[1]")), 255,
                     "HDU \\[1\\] has ZDITHER0 = 0: dithering starts at 1 to 10000");
  // Two seeds are two seeds, whatever the 0 beside them.
  fits_test::write_bytes(scratch("two.fits"),
                         with_cards(bytes, {value_card("ZDITHER0", "0"), value_card("ZDITHER0", "10000"),
                                            value_card("ZDITHER0", "9999")}));
  EXPECT_EXIT_STATUS(read_program(scratch("two.fits[1]")), 255,
                     "HDU \\[1\\] has ZDITHER0 twice \\(ZDITHER0 = 10000, then ZDITHER0 = 9999\\): two seeds");
}

// A quantized image whose undefined pixels' value stands in a ZBLANK
// column, one a tile, as the convention allows, not in a card: they read
// as undefined, the others as the library reads them.
TEST(TileCardCopies, ZblankGivenAsAColumnMarksUndefinedPixels) {
  std::vector<double> values(kWidth * kHeight);
  for (long k = 0; k < kWidth * kHeight; k++) values[k] = k % kWidth < 5 ? std::nan("") : 300 + (k * 7 % 50) / 10.0;
  const std::string path = scratch("zblank_column.fits");
  fits_test::write_compressed(path, FLOAT_IMG, {kWidth, kHeight}, values, {});
  fitsfile* f = nullptr;
  int status = 0, columns = 0;
  long blank = 0;
  ffopen(&f, (path + "[1]").c_str(), READWRITE, &status);
  ffgkyj(f, "ZBLANK", &blank, nullptr, &status);
  ffgncl(f, &columns, &status);
  fficol(f, columns + 1, const_cast<char*>("ZBLANK"), const_cast<char*>("1J"), &status);
  for (long row = 1; row <= kHeight; row++) ffpclj(f, columns + 1, row, 1, 1, &blank, &status);
  ffdkey(f, "ZBLANK", &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0);
  ffopen(&f, (path + "[1]").c_str(), READONLY, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(f->Fptr->cn_zblank, columns + 1);
  ffclos(f, &status);
  const std::vector<float> ours = read_program(path + "[1]");
  const std::vector<double> library = fits_test::read_reference(path + "[1]").values;
  ASSERT_EQ(ours.size(), values.size());
  int undefined = 0;
  for (std::size_t k = 0; k < values.size(); k++) {
    if (std::isnan(values[k])) {
      undefined += std::isnan(ours[k]);
      continue;
    }
    ASSERT_EQ(ours[k], static_cast<float>(library[k])) << k;
  }
  EXPECT_EQ(undefined, 5 * kHeight);
}
