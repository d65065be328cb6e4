// The walk from HDU to HDU against the FITS library's own: each header is
// written into a file and the library's sizes of it (where its data start
// and end) are the reference; then whole files whose cards the library
// reads otherwise than a walk on written columns would, read end to end:
// refused with a message where the library would divide by zero, read
// where it reads them.
#include "io/fits_hdu_walk.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "io/fits_io.h"
#include "support/death.h"
#include "support/installed_tools.h"

using fits_test::card;
using fits_test::scratch;
using fits_test::value_card;
using fits_test::write_bytes;

namespace {

// A header of the given cards and END, in whole blocks.
std::string header_of(const std::vector<std::string>& cards) {
  std::string header;
  for (const std::string& text : cards) header += card(text);
  header += card("END");
  header.resize((header.size() + 2879) / 2880 * 2880, ' ');
  return header;
}

const std::string kEmptyPrimary =
    header_of({value_card("SIMPLE", "T"), value_card("BITPIX", "8"), value_card("NAXIS", "0")});

// The library's padded data size of the last HDU of the file at path (the
// start of what follows it less the start of its data), or -1 when it
// cannot open or reach that HDU.
long long library_padded_size(const std::string& path, int hdu) {
  fitsfile* f = nullptr;
  int status = 0, type = 0;
  LONGLONG head = 0, data = 0, end = 0;
  ffopen(&f, path.c_str(), READONLY, &status);
  if (hdu > 0) ffmahd(f, hdu + 1, &type, &status);
  ffghadll(f, &head, &data, &end, &status);
  int ignored = 0;
  if (f != nullptr) ffclos(f, &ignored);
  return status == 0 ? end - data : -1;
}

enum class verdict { alike, refused, stricter };

}  // namespace

// Headers sized by the walk as the library sizes them: the required cards
// at their places, named by the library's parser and read as integers
// written as one; PCOUNT and GCOUNT of an image anywhere after its axes,
// the last copy, named exactly; GROUPS by the library's search; a table's
// counts at their places only. Where the library cannot size the header,
// the walk refuses it too; a negative count, which the library would add
// in, the walk refuses (stricter).
TEST(FitsHduWalk, SizesHeadersAsTheLibrary) {
  const std::string simple = value_card("SIMPLE", "T"), image = value_card("XTENSION", "'IMAGE   '");
  const std::string bintable = value_card("XTENSION", "'BINTABLE'"), table = value_card("XTENSION", "'TABLE   '");
  const std::string b16 = value_card("BITPIX", "16"), n2 = value_card("NAXIS", "2");
  const std::string n1 = value_card("NAXIS1", "1440"), n2len = value_card("NAXIS2", "1");
  const std::string groups_start = value_card("BITPIX", "8") + "|" + n2 + "|" + value_card("NAXIS1", "0") + "|" +
                                   value_card("NAXIS2", "2880") + "|" + value_card("PCOUNT", "5760");
  auto rows = [](const char* pcount, const char* gcount = "1") {
    return std::vector<std::string>{value_card("BITPIX", "8"),    value_card("NAXIS", "2"),
                                    value_card("NAXIS1", "4"),    value_card("NAXIS2", "720"),
                                    value_card("PCOUNT", pcount), value_card("GCOUNT", gcount),
                                    value_card("TFIELDS", "1")};
  };
  auto with = [](std::vector<std::string> cards, std::vector<std::string> more) {
    cards.insert(cards.end(), more.begin(), more.end());
    return cards;
  };
  auto split = [](const std::string& joined) {
    std::vector<std::string> cards;
    for (std::size_t at = 0; at <= joined.size();) {
      const std::size_t bar = std::min(joined.find('|', at), joined.size());
      cards.push_back(joined.substr(at, bar - at));
      at = bar + 1;
    }
    return cards;
  };
  // NAXIS1 = 0 and NAXIS2, PCOUNT and GCOUNT that tell random groups from
  // an image of no pixels by their sizes.
  auto groups = [&](const std::string& opening, const std::string& groups_card) {
    return with(with({opening}, split(groups_start)), {groups_card, value_card("GCOUNT", "10")});
  };
  const struct {
    const char* label;
    int hdu;
    std::vector<std::string> cards;
    verdict expected;
  } cases[] = {
      {"plain", 0, {simple, b16, n2, n1, n2len}, verdict::alike},
      {"NAXIS1 X=", 0, {simple, b16, n2, "NAXIS1 X= 1440", n2len}, verdict::alike},
      {"BITPIX X=", 0, {simple, "BITPIX X= 16", n2, n1, n2len}, verdict::alike},
      {"HIERARCH NAXIS", 0, {simple, b16, "HIERARCH NAXIS = 2", n1, n2len}, verdict::alike},
      {"primary PCOUNT", 0, {simple, b16, n2, n1, n2len, value_card("PCOUNT", "5")}, verdict::alike},
      {"primary GCOUNT", 0, {simple, b16, n2, n1, n2len, value_card("GCOUNT", "2")}, verdict::alike},
      {"last PCOUNT",
       0,
       {simple, b16, n2, n1, n2len, value_card("PCOUNT", "5"), value_card("PCOUNT", "0")},
       verdict::alike},
      {"lower pcount", 0, {simple, b16, n2, n1, n2len, value_card("pcount", "5")}, verdict::alike},
      {"HIERARCH PCOUNT", 0, {simple, b16, n2, n1, n2len, "HIERARCH PCOUNT = 5"}, verdict::alike},
      {"PCOUNT X=", 1, {image, b16, n2, n1, n2len, "PCOUNT X= 5", value_card("GCOUNT", "1")}, verdict::alike},
      {"PCOUNT past END=", 0, {simple, b16, n2, n1, n2len, "END=", value_card("PCOUNT", "5")}, verdict::alike},
      {"empty GCOUNT", 1, {image, b16, n2, n1, n2len, "GCOUNT  ="}, verdict::alike},
      {"no axes", 0,
       with({simple, value_card("BITPIX", "8"), value_card("NAXIS", "0")},
            {value_card("PCOUNT", "5760"), value_card("GCOUNT", "10")}),
       verdict::alike},
      {"random groups", 0, groups(simple, value_card("GROUPS", "T")), verdict::alike},
      {"groups in lower case", 0, groups(simple, value_card("groups", "T")), verdict::alike},
      {"GROUPS F", 0, groups(simple, value_card("GROUPS", "F")), verdict::alike},
      {"groups in an extension", 1, groups(image, value_card("GROUPS", "T")), verdict::alike},
      {"unknown type",
       1,
       {value_card("XTENSION", "'FOO'"), b16, n2, n1, n2len, value_card("PCOUNT", "5")},
       verdict::alike},
      {"bintable", 1, with(with({bintable}, rows("1")), {value_card("TFORM1", "'1J'")}), verdict::alike},
      {"bintable PCOUNT X=", 1,
       with({bintable, value_card("BITPIX", "8"), n2, value_card("NAXIS1", "4"), value_card("NAXIS2", "720"),
             "PCOUNT X= 1", value_card("GCOUNT", "1"), value_card("TFIELDS", "1"), value_card("TFORM1", "'1J'")},
            {}),
       verdict::alike},
      {"ASCII table", 1, with(with({table}, rows("0")), {value_card("TBCOL1", "1"), value_card("TFORM1", "'I4'")}),
       verdict::alike},
      {"bintable in lower case", 1, with({value_card("XTENSION", "'bintable'")}, rows("1", "2")), verdict::alike},
      {"BITPIX 16.0", 0, {simple, value_card("BITPIX", "16.0"), n2, n1, n2len}, verdict::refused},
      {"NAXIS1 in quotes", 0, {simple, b16, n2, value_card("NAXIS1", "'1440'"), n2len}, verdict::refused},
      {"NAXIS1 after NAXIS2", 0, {simple, b16, n2, n2len, n1}, verdict::refused},
      {"lower naxis1", 0, {simple, b16, n2, value_card("naxis1", "1440"), n2len}, verdict::refused},
      {"PCOUNT 5.0", 1, {image, b16, n2, n1, n2len, value_card("PCOUNT", "5.0")}, verdict::refused},
      {"bintable GCOUNT 2", 1, with({bintable}, rows("0", "2")), verdict::refused},
      {"bintable PCOUNT late",
       1,
       {bintable, value_card("BITPIX", "8"), n2, value_card("NAXIS1", "4"), value_card("NAXIS2", "720"),
        value_card("GCOUNT", "1"), value_card("PCOUNT", "1"), value_card("TFIELDS", "1")},
       verdict::refused},
      {"ASCII table PCOUNT", 1, with({table}, rows("1")), verdict::refused},
      {"no type", 1, {"XTENSION=", b16, n2, n1, n2len}, verdict::refused},
      {"negative PCOUNT", 1, {image, b16, n2, n1, n2len, value_card("PCOUNT", "-5")}, verdict::stricter},
  };
  const std::string path = scratch("sized.fits");
  for (const auto& c : cases) {
    const std::string header = header_of(c.cards);
    write_bytes(path, (c.hdu > 0 ? kEmptyPrimary : "") + header);
    const long long library = library_padded_size(path, c.hdu);
    hdu_data data;
    hdu_walk_state after_empty_primary;
    const std::string fault = fits_hdu_data(header.data(), header.size(), c.hdu, &data, &after_empty_primary);
    switch (c.expected) {
      case verdict::alike:
        ASSERT_GE(library, 0) << c.label;
        EXPECT_EQ(fault, "") << c.label;
        EXPECT_EQ(data.padded, library) << c.label;
        break;
      case verdict::refused:
        EXPECT_EQ(library, -1) << c.label;
        EXPECT_NE(fault, "") << c.label;
        break;
      case verdict::stricter:
        EXPECT_GE(library, 0) << c.label;
        EXPECT_NE(fault, "") << c.label;
        break;
    }
  }
  // Sizes the library's arithmetic would wrap around are beyond any file.
  const std::string huge =
      header_of({simple, b16, n2, value_card("NAXIS1", "4294967296"), value_card("NAXIS2", "4294967296")});
  hdu_data data;
  hdu_walk_state state;
  EXPECT_EQ(fits_hdu_data(huge.data(), huge.size(), 0, &data, &state), "");
  EXPECT_EQ(data.padded, -1);
}

namespace {

// The first extension of a file the library's compressor wrote: a Rice
// image of side x side values, noisy enough that its heap crosses blocks
// when the image is large.
std::string rice_hdu(long side) {
  std::vector<double> values(static_cast<std::size_t>(side * side));
  unsigned state = 12345;
  for (double& value : values) value = (state = state * 1103515245u + 12345u) >> 17 & 0x7fff;
  fits_test::write_compressed(scratch("rice.fits"), SHORT_IMG, {side, side}, values, fits_test::Compression{});
  const std::string bytes = fits_test::read_bytes(scratch("rice.fits"));
  return bytes.substr(bytes.find("XTENSION"));
}

// `hdu` with its card `key` (as written in the first 8 columns) replaced
// by `text`, or `text` put where END stands and END moved one card on.
std::string with_card_text(std::string hdu, std::string key, const std::string& text) {
  key.resize(8, ' ');
  for (std::size_t at = 0; at + 160 <= hdu.size(); at += 80) {
    if (hdu.compare(at, 8, key) == 0) return hdu.replace(at, 80, card(text));
    if (hdu.compare(at, 8, "END     ") == 0) return hdu.replace(at, 160, card(text) + card("END"));
  }
  return hdu;
}

// The Rice image whose ZTILE2 is 0: the library divides by it as it opens
// the HDU, whether it reads or passes it.
std::string dividing_by_zero() { return with_card_text(rice_hdu(8), "ZTILE2", value_card("ZTILE2", "0")); }

// A 10 x 2 image of 16-bit values first, first + 1, ...: as the primary
// HDU of the given cards after SIMPLE, or as an image extension.
std::string image_hdu(bool primary, const std::vector<std::string>& structure, const std::vector<std::string>& extra,
                      int first) {
  std::vector<std::string> cards = {primary ? value_card("SIMPLE", "T") : value_card("XTENSION", "'IMAGE   '")};
  cards.insert(cards.end(), structure.begin(), structure.end());
  if (!primary) cards.insert(cards.end(), {value_card("PCOUNT", "0"), value_card("GCOUNT", "1")});
  cards.insert(cards.end(), extra.begin(), extra.end());
  std::string data;
  for (int k = 0; k < 20; k++) data += {static_cast<char>((first + k) >> 8), static_cast<char>(first + k)};
  data.resize(2880, '\0');
  return header_of(cards) + data;
}

const std::vector<std::string> kStructure = {value_card("BITPIX", "16"), value_card("NAXIS", "2"),
                                             value_card("NAXIS1", "10"), value_card("NAXIS2", "2")};

// Reads name and exits 0 when its pixels are first, first + 1, ...
void read_expecting(const std::string& name, int first) {
  to_array<float, false> ima;
  fitsstruct rec;
  fits_read_float(name.c_str(), ima, &rec);
  for (int k = 0; k < ima.n_elem(); k++)
    if (ima.buffer()[k] != static_cast<float>(first + k)) std::exit(3);
  std::exit(ima.n_elem() == 20 ? 0 : 4);
}

void read_refused(const std::string& name) {
  to_array<float, false> ima;
  fitsstruct rec;
  fits_read_float(name.c_str(), ima, &rec);
}

// The HDU the library opens for `name`, 0 the primary.
int library_hdu(const std::string& name) {
  fitsfile* f = nullptr;
  int status = 0, hdu = 0;
  ffopen(&f, name.c_str(), READONLY, &status);
  if (status == 0) ffghdn(f, &hdu);
  if (f != nullptr) ffclos(f, &status);
  return hdu - 1;
}

}  // namespace

// A primary header whose required cards the library reads in forms that a
// walk on written columns does not: the walk reaches the next HDU as the
// library does, and refuses its tile side of 0 instead of letting the
// library divide by it; the primary itself is refused as invalid FITS,
// which would travel into every result.
TEST(FitsHduWalkDeath, CardsTheLibraryReadsAtTheirPlacesLeadTheWalkOn) {
  const std::string forms[][2] = {
      {"NAXIS1", "NAXIS1 X= 10"}, {"BITPIX", "BITPIX X= 16"}, {"NAXIS", "HIERARCH NAXIS = 2"}};
  for (const auto& [key, text] : forms) {
    std::vector<std::string> structure = kStructure;
    for (std::string& c : structure)
      if (c.compare(0, 8, (key + "        ").substr(0, 8)) == 0) c = text;
    const std::string path = scratch("primary.fits");
    write_bytes(path, image_hdu(true, structure, {}, 1) + dividing_by_zero());
    for (const char* selector : {"[1]", "[COMPRESSED_IMAGE]"})
      EXPECT_EXIT_STATUS(read_refused(path + selector), 255,
                         "the tile-compressed image in HDU \\[1\\] has ZTILE2 = 0.*primary.fits\\)")
          << text << selector;
    EXPECT_EXIT_STATUS(read_refused(path), 255, "card .* of the header is not valid FITS .*primary.fits\\)") << text;
  }
}

// Further on: a PCOUNT the library reads in a passed HDU whose heap crosses
// a block, an END= that ends a header, a version the library takes as 1,
// name cards given twice alike: the walk lands where the library lands.
TEST(FitsHduWalkDeath, PassedHdusAreWalkedAsTheLibraryWalksThem) {
  const std::string primary = image_hdu(true, kStructure, {}, 1);
  // PCOUNT X= in HDU 1, whose heap fills more than its first data block.
  const std::string large = rice_hdu(64);
  const std::size_t pcount = large.find("PCOUNT  =");
  ASSERT_NE(pcount, std::string::npos);
  ASSERT_GT(large.size(), 2 * 2880u);
  const std::string heap = large.substr(pcount + 10, 20);
  write_bytes(scratch("pcount.fits"),
              primary + with_card_text(large, "PCOUNT", "PCOUNT X= " + heap) + dividing_by_zero());
  EXPECT_EXIT_STATUS(read_refused(scratch("pcount.fits[2]")), 255, "HDU \\[2\\] has ZTILE2 = 0.*pcount.fits\\)");
  // The same once inflated, as the walk that gathers a compressed file goes.
  if (fits_test::gzip_in_place(scratch("pcount.fits"))) {
    EXPECT_EXIT_STATUS(read_refused(scratch("pcount.fits[2]")), 255, "HDU \\[2\\] has ZTILE2 = 0.*pcount.fits\\)");
  }
  // END= as the last card of HDU 1's header block; its data follow.
  std::vector<std::string> ended = {value_card("XTENSION", "'IMAGE   '"),
                                    value_card("BITPIX", "16"),
                                    value_card("NAXIS", "2"),
                                    value_card("NAXIS1", "10"),
                                    value_card("NAXIS2", "2"),
                                    value_card("PCOUNT", "0"),
                                    value_card("GCOUNT", "1")};
  ended.resize(35, "COMMENT filler");
  ended.push_back("END=");
  std::string end_equals = header_of(ended);
  end_equals = end_equals.substr(0, 2880) + image_hdu(false, kStructure, {}, 500).substr(2880);
  write_bytes(scratch("endeq.fits"), primary + end_equals + dividing_by_zero());
  EXPECT_EXIT(read_expecting(scratch("endeq.fits[1]"), 500), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT_STATUS(read_refused(scratch("endeq.fits[2]")), 255, "HDU \\[2\\] has ZTILE2 = 0.*endeq.fits\\)");
  // EXTVER = 'abc' is version 1 for the library; HDU 2 is SCI version 2.
  std::string second = with_card_text(dividing_by_zero(), "EXTNAME", value_card("EXTNAME", "'SCI'"));
  second = with_card_text(second, "EXTVER", value_card("EXTVER", "2"));
  write_bytes(scratch("version.fits"),
              primary +
                  image_hdu(false, kStructure, {value_card("EXTNAME", "'SCI'"), value_card("EXTVER", "'abc'")}, 100) +
                  second);
  for (const char* selector : {"[SCI,1]", "[SCI]"}) {
    ASSERT_EQ(library_hdu(scratch("version.fits") + selector), 1) << selector;
    EXPECT_EXIT(read_expecting(scratch("version.fits") + selector, 100), ::testing::ExitedWithCode(0), "") << selector;
  }
  EXPECT_EXIT_STATUS(read_refused(scratch("version.fits[SCI,2]")), 255, "HDU \\[2\\] has ZTILE2 = 0");
  // EXTNAME twice: the search reads the first copy, as astropy does, and
  // HDU 1 is SCI whatever the second says.
  for (const char* again : {"'SCI     '", "'sci'", "'ERR'"}) {
    write_bytes(
        scratch("names.fits"),
        primary + image_hdu(false, kStructure, {value_card("EXTNAME", "'SCI'"), "EXTNAME = " + std::string(again)}, 7) +
            with_card_text(dividing_by_zero(), "EXTNAME", value_card("EXTNAME", "'SCI'")));
    ASSERT_EQ(library_hdu(scratch("names.fits[SCI]")), 1) << again;
    EXPECT_EXIT(read_expecting(scratch("names.fits[SCI]"), 7), ::testing::ExitedWithCode(0), "") << again;
  }
}

// A table whose ZIMAGE is F is no image for the library, whatever its other
// Z-cards say: passed on the way to the HDU read, unchecked.
TEST(FitsHduWalkDeath, TableWithZimageFalseIsPassed) {
  const std::string table = with_card_text(dividing_by_zero(), "ZIMAGE", value_card("ZIMAGE", "F"));
  write_bytes(scratch("zimage.fits"),
              image_hdu(true, kStructure, {}, 1) + table + image_hdu(false, kStructure, {}, 40));
  EXPECT_EXIT(read_expecting(scratch("zimage.fits[2]"), 40), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(read_expecting(scratch("zimage.fits"), 1), ::testing::ExitedWithCode(0), "");
}

namespace {

// The header of an HDU (its blocks through END) and its data.
std::size_t header_size(const std::string& hdu) {
  for (std::size_t at = 0; at + 80 <= hdu.size(); at += 80)
    if (hdu.compare(at, 8, "END     ") == 0) return (at + 80 + 2879) / 2880 * 2880;
  return hdu.size();
}

// An extension of the given XTENSION value: a 100 x 100 image of 16-bit
// values (`table` false) or a binary table of 3000 rows of 4 bytes, with
// `filler` comment cards before END.
std::string extension_of(const std::string& xtension, bool table, int filler) {
  std::vector<std::string> cards = {"XTENSION= " + xtension,
                                    value_card("BITPIX", table ? "8" : "16"),
                                    value_card("NAXIS", "2"),
                                    value_card("NAXIS1", table ? "4" : "100"),
                                    value_card("NAXIS2", table ? "3000" : "100"),
                                    value_card("PCOUNT", "0"),
                                    value_card("GCOUNT", "1")};
  const bool ascii = table && xtension.find("TABLE") < 3;
  if (table) cards.insert(cards.end(), {value_card("TFIELDS", "1"), value_card("TFORM1", ascii ? "'I4'" : "'1J'")});
  if (ascii) cards.push_back(value_card("TBCOL1", "1"));
  cards.insert(cards.end(), static_cast<std::size_t>(filler), "COMMENT filler");
  std::string data(table ? 12000 : 20000, '\0');
  data.resize((data.size() + 2879) / 2880 * 2880, '\0');
  return header_of(cards) + data;
}

}  // namespace

// After a tile-compressed image the library sizes an extension of a type
// it does not know by that image's state, not by its cards: the walk sizes
// an extension there only where the library's size is its cards' (the
// library's own sizes of each form are the reference), and refuses the
// others. After any other HDU each form is sized by its cards.
TEST(FitsHduWalk, ExtensionsAfterACompressedImageAreSizedOnlyAsTheLibrarySizesThem) {
  const std::string compressed = rice_hdu(8);
  const struct {
    const char* xtension;
    bool table;
  } forms[] = {{"'IMAGE'", false},    {"'IMAGE   '", false}, {"'IUEIMAGE'", false}, {"' IMAGE'", false},
               {"'image'", false},    {"IMAGE", false},       {"'FOO'", false},      {"''", false},
               {"'BINTABLE'", true},  {"' BINTABLE'", true},  {"BINTABLE", true},    {"'A3DTABLE'", true},
               {"'bintable'", false}, {"'TABLE'", true},      {"TABLE", true}};
  const std::string path = scratch("after.fits");
  for (const auto& form : forms)
    for (const int filler : {0, 12}) {
      SCOPED_TRACE(std::string(form.xtension) + " " + std::to_string(filler));
      const std::string extension = extension_of(form.xtension, form.table, filler);
      const long long cards_padded = static_cast<long long>(extension.size() - header_size(extension));
      write_bytes(path, kEmptyPrimary + compressed + extension + image_hdu(false, kStructure, {}, 1));
      const long long library = library_padded_size(path, 2);
      hdu_walk_state state;
      hdu_data data;
      ASSERT_EQ(fits_hdu_data(compressed.data(), header_size(compressed), 1, &data, &state), "");
      ASSERT_TRUE(state.after_compressed_image);
      const std::string fault = fits_hdu_data(extension.data(), header_size(extension), 2, &data, &state);
      EXPECT_EQ(fault.empty(), library == cards_padded) << fault;
      if (fault.empty()) {
        EXPECT_EQ(data.padded, cards_padded);
      } else {
        EXPECT_NE(fault.find("a type the FITS library does not know"), std::string::npos);
      }
      EXPECT_FALSE(state.after_compressed_image && fault.empty());
      // After a plain image, the library and the walk size it by its cards.
      write_bytes(path, kEmptyPrimary + image_hdu(false, kStructure, {}, 1) + extension);
      hdu_walk_state plain;
      EXPECT_EQ(fits_hdu_data(extension.data(), header_size(extension), 2, &data, &plain), "");
      EXPECT_EQ(library_padded_size(path, 2), cards_padded);
      EXPECT_EQ(data.padded, cards_padded);
    }
}

namespace {

// An image extension of the given XTENSION value whose END is its eighth
// card, after which the library, sizing it by the compressed image before
// it, looks for END further on: in its data, where a second END and then a
// tile header with ZTILE2 = 0 stand for it to open.
std::string hiding_a_tile_header(const std::string& xtension) {
  std::string hdu = extension_of(xtension, false, 0);
  const std::size_t data = header_size(hdu);
  hdu.replace(data, 80, card("END"));
  hdu.replace(data + 80, 2800, std::string(2800, ' '));
  const std::string hidden = dividing_by_zero();
  hdu.replace(data + 2 * 2880, hidden.size(), hidden);
  return hdu;
}

}  // namespace

// An extension of a type the library does not know right after a
// tile-compressed image, in each form, is refused naming it wherever a read
// passes or selects it, by number or by name, from a plain file, a gzip or
// bzip2 file and the standard input: never a division by zero.
TEST(FitsHduWalkDeath, UnknownExtensionAfterACompressedImageIsRefused) {
  for (const char* xtension : {"'FOO'", "' IMAGE'", "IMAGE"}) {
    const std::string plain = scratch("hiding.fits");
    write_bytes(plain, image_hdu(true, kStructure, {}, 1) + rice_hdu(8) + hiding_a_tile_header(xtension) +
                           image_hdu(false, kStructure, {value_card("EXTNAME", "'LAST'")}, 40));
    const std::string refusal = std::string("the header of HDU \\[2\\] gives XTENSION= ") + xtension +
                                ", a type the FITS library does not know, right after a tile-compressed image";
    EXPECT_EXIT(read_expecting(plain + "[0]", 1), ::testing::ExitedWithCode(0), "") << xtension;
    std::vector<std::string> names = {plain};
    for (const char* packer : {"gzip", "bzip2"}) {
      const std::string packed = plain + "." + packer;
      if (!test_support::tool_installed(packer)) return;
      ASSERT_EQ(std::system((std::string(packer) + " -c '" + plain + "' > '" + packed + "'").c_str()), 0);
      names.push_back(packed);
    }
    for (const std::string& name : names)
      for (const char* selector : {"[2]", "[3]", "[LAST]"})
        EXPECT_EXIT_STATUS(read_refused(name + selector), 255, refusal) << name << selector;
    EXPECT_EXIT_STATUS(
        {
          fits_test::stdin_through_pipe(names[1]);
          read_refused("-.fits[LAST]");
        },
        255, refusal)
        << xtension;
  }
}

// The library's search for a name, as measured: EXTNAME or HDUNAME in any
// letter case, EXTVER for both (1 when absent or no integer, its low 32
// bits), a trailing '#' its "this HDU only". HDU 2 divides by zero: a read
// the library ends before it reads, one it passes it on is refused. The
// library's own landing on the same file with a sound HDU 2 is the
// reference, from a plain file and a gzip file alike.
TEST(FitsHduWalkDeath, NameSearchesLandWhereTheLibraryLands) {
  const std::string primary = image_hdu(true, kStructure, {}, 1);
  auto named = [](std::string hdu, const std::vector<std::string>& cards) {
    for (const std::string& text : cards) hdu = with_card_text(hdu, text.substr(0, 8), text);
    return hdu;
  };
  const struct {
    std::vector<std::string> first, second;
    const char* selector;
    int lands;
  } cases[] = {
      {{"EXTNAME = 'SCI'", "HDUNAME = 'SCI'", "HDUVER  = 2"}, {"EXTNAME = 'SCI'", "EXTVER  = 2"}, "[SCI,2]", 2},
      {{"HDUNAME = 'SCI'", "HDUVER  = 2"}, {"EXTNAME = 'SCI'", "EXTVER  = 2"}, "[SCI,2]", 2},
      {{"HDUNAME = 'SCI'", "EXTVER  = 2"}, {"EXTNAME = 'SCI'", "EXTVER  = 2"}, "[SCI,2]", 1},
      {{"EXTNAME = 'X'", "HDUNAME = 'SCI'", "EXTVER  = 2"}, {"EXTNAME = 'SCI'", "EXTVER  = 2"}, "[SCI,2]", 1},
      {{"EXTNAME = 'SCI'", "EXTVER  = 4294967298"}, {"EXTNAME = 'SCI'", "EXTVER  = 2"}, "[SCI,2]", 1},
      {{"EXTNAME = 'SCI'", "EXTVER  = 2147483650"}, {"EXTNAME = 'SCI'", "EXTVER  = 2"}, "[SCI,2]", 2},
      {{"EXTNAME = 'SCI'", "EXTVER  = 2.7"}, {"EXTNAME = 'SCI'", "EXTVER  = 2"}, "[SCI,2]", 1},
      {{"EXTNAME = 'SCI'", "EXTVER  = '2'"}, {"EXTNAME = 'SCI'", "EXTVER  = 2"}, "[SCI,2]", 1},
      {{"EXTNAME = 'SCI'", "EXTVER  = 1E20"}, {"EXTNAME = 'SCI'"}, "[SCI,1]", 1},
      {{"EXTNAME = ' SCI'"}, {"EXTNAME = 'SCI'"}, "[SCI]", 2},
      {{"EXTNAME = 'sci'"}, {"EXTNAME = 'SCI'"}, "[SCI]", 1},
      {{"EXTNAME = 'A'"}, {"EXTNAME = '1#'"}, "[1#]", 1},
      {{"EXTNAME = 'A'"}, {"EXTNAME = 'B'"}, "[1 #]", 1},
      {{"EXTNAME = 'SCI#'"}, {"EXTNAME = 'SCI'"}, "[SCI#]", 1},
      {{"EXTNAME = 'SCI'"}, {"EXTNAME = 'SCI#'"}, "[SCI#]", 1},
      {{"EXTNAME = 'SCI'"}, {"EXTNAME = 'SCI#'"}, "[SCI##]", 2},
      {{"EXTNAME = 'SCI#'"}, {"EXTNAME = 'SCI'"}, "[SCI##]", 1},
      {{"EXTNAME = 'A1'"}, {"EXTNAME = 'A'"}, "[A#]", 2},
      {{"HDUNAME = 'SCI'"}, {"EXTNAME = 'SCI'"}, "[SCI#]", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first.back() + " " + c.selector);
    const std::string first = named(image_hdu(false, kStructure, {}, 100), c.first);
    write_bytes(scratch("sound.fits"), primary + first + named(rice_hdu(8), c.second));
    ASSERT_EQ(library_hdu(scratch("sound.fits") + c.selector), c.lands);
    const std::string path = scratch("search.fits");
    write_bytes(path, primary + first + named(dividing_by_zero(), c.second));
    std::vector<std::string> names = {path, scratch("search.fits.gz")};
    ASSERT_EQ(std::system(("gzip -c '" + path + "' > '" + names[1] + "'").c_str()), 0);
    for (const std::string& name : names) {
      if (c.lands == 1)
        EXPECT_EXIT(read_expecting(name + c.selector, 100), ::testing::ExitedWithCode(0), "") << name;
      else
        EXPECT_EXIT_STATUS(read_refused(name + c.selector), 255, "HDU \\[2\\] has ZTILE2 = 0") << name;
    }
  }
}

// A search typed for an image passes a table of the name sought, ASCII or
// binary, as the library's does: the compressed image after it, which
// divides by zero, is the HDU read and is refused, never left to the
// library. The library's landing on a sound image there is the reference.
TEST(FitsHduWalkDeath, ATypedSearchChecksTheImageBeyondATableOfItsName) {
  const std::string primary = image_hdu(true, kStructure, {}, 1), sci = value_card("EXTNAME", "'SCI'");
  for (const char* xtension : {"'TABLE   '", "'BINTABLE'"})
    for (const char* selector : {"[SCI,1,i]", "[SCI,1,IMAGE]"}) {
      SCOPED_TRACE(std::string(xtension) + selector);
      const std::string table = with_card_text(extension_of(xtension, true, 0), "EXTNAME", sci);
      write_bytes(scratch("typed_sound.fits"), primary + table + with_card_text(rice_hdu(8), "EXTNAME", sci));
      ASSERT_EQ(library_hdu(scratch("typed_sound.fits") + selector), 2);
      const std::string path = scratch("typed.fits");
      write_bytes(path, primary + table + with_card_text(dividing_by_zero(), "EXTNAME", sci));
      ASSERT_EQ(std::system(("gzip -c '" + path + "' > '" + path + ".gz'").c_str()), 0);
      for (const std::string& name : {path, path + ".gz"})
        EXPECT_EXIT_STATUS(read_refused(name + selector), 255, "HDU \\[2\\] has ZTILE2 = 0") << name;
    }
}

namespace {

// Reads name and exits 0 when its pixels are the reference's.
void read_matching(const std::string& name, const std::vector<double>& reference) {
  to_array<float, false> ima;
  fitsstruct rec;
  fits_read_float(name.c_str(), ima, &rec);
  for (int k = 0; k < ima.n_elem(); k++)
    if (ima.buffer()[k] != static_cast<float>(reference[k])) std::exit(3);
  std::exit(ima.n_elem() == static_cast<int>(reference.size()) ? 0 : 4);
}

}  // namespace

// A primary image of 64-bit integers is sized at 8 bytes a pixel on the
// way: the compressed image after it reads as the library reads it, and
// one that divides by zero there is refused.
TEST(FitsHduWalkDeath, SixtyFourBitPrimaryIsSizedOnTheWay) {
  std::vector<std::string> cards = {value_card("SIMPLE", "T"), value_card("BITPIX", "64"), value_card("NAXIS", "2"),
                                    value_card("NAXIS1", "40"), value_card("NAXIS2", "40")};
  std::string primary = header_of(cards) + std::string(40 * 40 * 8, '\0');
  primary.resize((primary.size() + 2879) / 2880 * 2880, '\0');
  // A walk at 4 bytes a pixel would land inside the data, at a block of
  // zeros that opens no HDU.
  ASSERT_GT(primary.size(), header_size(primary) + (40 * 40 * 4 + 2879) / 2880 * 2880);
  const std::string sound = rice_hdu(8);
  write_bytes(scratch("wide.fits"), primary + sound);
  const std::vector<double> reference = fits_test::read_reference(scratch("wide.fits[1]")).values;
  ASSERT_EQ(reference.size(), 64u);
  EXPECT_EXIT(read_matching(scratch("wide.fits[1]"), reference), ::testing::ExitedWithCode(0), "");
  write_bytes(scratch("wide.fits"), primary + dividing_by_zero());
  EXPECT_EXIT_STATUS(read_refused(scratch("wide.fits[1]")), 255, "HDU \\[1\\] has ZTILE2 = 0");
  write_bytes(scratch("wide.fits"), primary + sound + dividing_by_zero());
  EXPECT_EXIT_STATUS(read_refused(scratch("wide.fits[2]")), 255, "HDU \\[2\\] has ZTILE2 = 0");
}

// The library keeps 99 axes, and writes the lengths of any more past its
// table of them as it parses the header. A header of 100 to 999 axes, in a
// primary read or an extension passed on the way to a later HDU by number
// or by name, from a plain file, a gzip file, the standard input or a
// section, is refused before the library reads it; 99 axes are read, and
// the HDU after them is reached.
TEST(FitsHduWalkDeath, MoreAxesThanTheLibraryKeepsAreRefused) {
  auto axes = [](int naxis) {
    std::vector<std::string> structure = {value_card("BITPIX", "16"), value_card("NAXIS", std::to_string(naxis)),
                                          value_card("NAXIS1", "10"), value_card("NAXIS2", "2")};
    for (int k = 3; k <= naxis; k++) structure.push_back(value_card("NAXIS" + std::to_string(k), "1"));
    return structure;
  };
  const std::string primary = scratch("axes_primary.fits"), passed = scratch("axes_passed.fits");
  for (const int naxis : {99, 100, 104, 999}) {
    SCOPED_TRACE(naxis);
    write_bytes(primary, image_hdu(true, axes(naxis), {}, 1));
    write_bytes(passed, image_hdu(true, kStructure, {}, 1) +
                            image_hdu(false, axes(naxis), {value_card("EXTNAME", "'WIDE'")}, 50) +
                            image_hdu(false, kStructure, {value_card("EXTNAME", "'SCI'")}, 100));
    for (const std::string& path : {primary, passed})
      ASSERT_EQ(std::system(("gzip -c '" + path + "' > '" + path + ".gz'").c_str()), 0);
    const auto refusal = [&](int hdu) {
      return "the header of HDU \\[" + std::to_string(hdu) + "\\] gives NAXIS = " + std::to_string(naxis) +
             ", which is not 0 to 99, the axes the FITS library keeps \\(copy each HDU to be read into a file "
             "of its own with another tool, and name that file\\)";
    };
    for (const std::string& name : {primary, primary + ".gz"}) {
      if (naxis == 99) {
        EXPECT_EXIT_STATUS(read_refused(name), 255, "not a 2D array \\(NAXIS = 99: 10 x 2 x 1") << name;
      } else {
        EXPECT_EXIT_STATUS(read_refused(name), 255, refusal(0)) << name;
      }
    }
    EXPECT_EXIT_STATUS(read_refused(primary + "[1:8,1:2]"), 255,
                       naxis == 99 ? "section of HDU \\[0\\], whose image has 99 axes" : refusal(0));
    for (const std::string& path : {passed, passed + ".gz"})
      for (const char* selector : {"[2]", "[SCI]"}) {
        if (naxis == 99) {
          EXPECT_EXIT(read_expecting(path + selector, 100), ::testing::ExitedWithCode(0), "") << path << selector;
        } else {
          EXPECT_EXIT_STATUS(read_refused(path + selector), 255, refusal(1)) << path << selector;
        }
      }
    const struct {
      std::string file, name;
      int hdu;
    } streamed[] = {{primary, "-.fits", 0}, {passed, "-.fits[SCI]", 1}, {passed + ".gz", "-.fits[2]", 1}};
    for (const auto& input : streamed) {
      if (naxis == 99 && input.hdu == 1) {
        EXPECT_EXIT(
            {
              fits_test::stdin_through_pipe(input.file);
              read_expecting(input.name, 100);
            },
            ::testing::ExitedWithCode(0), "")
            << input.file;
      } else if (naxis != 99) {
        EXPECT_EXIT_STATUS(
            {
              fits_test::stdin_through_pipe(input.file);
              read_refused(input.name);
            },
            255, refusal(input.hdu))
            << input.file;
      }
    }
  }
}

// The library takes sections of images of 1 to 4 axes, and reads the axis
// lengths of an image of more into tables of nine on its stack before it
// says so: a section of such an image is refused before the library opens
// the name, in the HDU the name selects or, where it selects none, in the
// first HDU past the images of no axes, where the library takes it. The
// reference for that HDU is the library's own section of the same file
// with a plane there, whose first pixel tells the HDU.
TEST(FitsHduWalkDeath, SectionsOfImagesOfMoreThanFourAxesAreRefused) {
  auto axes = [](int naxis) {
    std::vector<std::string> structure = {value_card("BITPIX", "16"), value_card("NAXIS", std::to_string(naxis))};
    for (int k = 1; k <= naxis; k++)
      structure.push_back(value_card("NAXIS" + std::to_string(k), k == 1 ? "10" : k == 2 ? "2" : "1"));
    return structure;
  };
  const std::string empty_primary =
      header_of({value_card("SIMPLE", "T"), value_card("BITPIX", "16"), value_card("NAXIS", "0")});
  const std::string empty_extension = header_of({value_card("XTENSION", "'IMAGE   '"), value_card("BITPIX", "16"),
                                                 value_card("NAXIS", "0"), value_card("PCOUNT", "0"),
                                                 value_card("GCOUNT", "1")});
  // The file with the sectioned image of `naxis` axes, its pixels from 100
  // x its HDU's number on.
  const struct {
    std::function<std::string(int)> bytes;
    const char* section;
    int hdu;
  } cases[] = {
      {[&](int naxis) { return image_hdu(true, axes(naxis), {}, 0); }, "[1:8,1:2]", 0},
      {[&](int naxis) { return empty_primary + image_hdu(false, axes(naxis), {}, 100); }, "[1:8,1:2]", 1},
      {[&](int naxis) { return empty_primary + empty_extension + image_hdu(false, axes(naxis), {}, 200); },
       "[1:8,1:2]", 2},
      {[&](int naxis) { return image_hdu(true, kStructure, {}, 1) + image_hdu(false, axes(naxis), {}, 100); },
       "[1][1:8,1:2]", 1},
  };
  const std::string path = scratch("section.fits");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.section + std::to_string(c.hdu));
    write_bytes(path, c.bytes(2));
    fitsfile* f = nullptr;
    int status = 0, anynul = 0;
    float first = -1;
    ffopen(&f, (path + c.section).c_str(), READONLY, &status);
    ffgpv(f, TFLOAT, 1, 1, nullptr, &first, &anynul, &status);
    if (f != nullptr) ffclos(f, &status);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(first, 100.0f * c.hdu);
    for (const int naxis : {5, 9, 10, 80, 99}) {
      write_bytes(path, c.bytes(naxis));
      EXPECT_EXIT_STATUS(read_refused(path + c.section), 255,
                         "section of HDU \\[" + std::to_string(c.hdu) + "\\], whose image has " +
                             std::to_string(naxis) + " axes: the FITS library takes sections of images of at most 4")
          << naxis;
    }
  }
  // Four axes are taken: the 8 x 2 x 1 x 1 section is then no plane.
  write_bytes(path, image_hdu(true, axes(4), {}, 1));
  EXPECT_EXIT_STATUS(read_refused(path + "[1:8,1:2]"), 255, "not a 2D array \\(NAXIS = 4: 8 x 2 x 1 x 1");
}
