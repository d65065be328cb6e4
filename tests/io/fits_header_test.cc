// Header record, cards, HISTORY texts and header parsing. Golden cards are
// built from the card layout (value in columns 11-30, "/ " from column 32).
#include "io/fits_header.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "io/fits_io.h"
#include "support/death.h"
#include "support/fitsverify.h"

using fits_test::card;
using fits_test::card_of;
using fits_test::image_cards;
using fits_test::number_of;
using fits_test::parse_cards;
using fits_test::value_card;

namespace {

std::vector<std::string> cards_of(const fitsstruct& rec) {
  return fits_test::header_cards(std::string(rec.fitshead, rec.fitsheadsize));
}

// The cards a 16-bit image's header with these cards after its axes keeps
// once read, and a header of such an image with these cards, through END.
std::vector<std::string> kept_cards(const std::vector<std::string>& extra) {
  fitsstruct rec;
  parse_cards(&rec, image_cards(16, extra));
  return cards_of(rec);
}
std::vector<std::string> header_of(const std::vector<std::string>& extra) {
  std::vector<std::string> cards;
  for (const std::string& text : image_cards(16, extra)) cards.push_back(card(text));
  cards.push_back(card("END"));
  return cards;
}

// CD matrix cards of diag(-s, s) with its rows rotated by a and b degrees.
std::vector<std::string> cd_cards(double s, double a, double b) {
  const double rad = 1.0 / 57.29577951308232;
  const double terms[4] = {-s * std::cos(a * rad), -s * std::sin(a * rad), -s * std::sin(b * rad), s * std::cos(b * rad)};
  const char* keys[4] = {"CD1_1", "CD1_2", "CD2_1", "CD2_2"};
  std::vector<std::string> cards;
  for (int k = 0; k < 4; k++) {
    char text[32];
    std::snprintf(text, sizeof text, "%.12E", terms[k]);
    cards.push_back(value_card(keys[k], text));
  }
  return cards;
}

}  // namespace

TEST(FitsHeader, NewFloatImageHeaderIsGolden) {
  fitsstruct rec;
  initfield(&rec);
  rec.naxis = 2;
  rec.bitpix = -32;
  rec.width = rec.naxisn[0] = 512;
  rec.height = rec.naxisn[1] = 256;
  rec.npix = 512 * 256;
  updatefitsheader(&rec);
  ASSERT_EQ(rec.fitsheadsize, 2880);
  EXPECT_EQ(std::string(Soft.banner()).rfind("QZ/3 V4.0 ", 0), 0u);
  std::vector<std::string> expected = {
      card("SIMPLE  =                    T / THIS IS REGULAR FITS"), card("BITPIX  =                  -32 /"),
      card("NAXIS   =                    2 /"),   card("NAXIS1  =                  512 /"),
      card("NAXIS2  =                  256 /"), card(std::string("HISTORY ") + Soft.banner()), card("END")};
  EXPECT_EQ(cards_of(rec), expected);
  std::string rest(rec.fitshead + 7 * 80, 2880 - 7 * 80);
  EXPECT_EQ(rest, std::string(rest.size(), ' '));
}

TEST(FitsCards, WriteIntoNewAndExistingCardsAndGrowByBlocks) {
  char* buf = creafitsheader();
  int size = 2880;
  int five = 5;
  fitswrite(&buf, "NEWKEY  ", &five, H_INT, T_INT, &size);
  ASSERT_EQ(fitsfind(buf, "NEWKEY  "), 3);
  EXPECT_EQ(std::string(buf + 3 * 80, 80), card("NEWKEY  =                    5 /"));
  EXPECT_EQ(fitsfind(buf, "END     "), 4);
  // A shorter value keeps the comment of an existing card.
  std::memcpy(buf + 80, card("BITPIX  =                   16 / array data type").data(), 80);
  int bitpix = -32;
  fitswrite(&buf, "BITPIX  ", &bitpix, H_INT, T_INT, &size);
  EXPECT_EQ(std::string(buf + 80, 80), card("BITPIX  =                  -32 / array data type"));
  double scale = 2.5, back = 0;
  fitswrite(&buf, "BSCALE  ", &scale, H_EXPO, T_DOUBLE, &size);
  ASSERT_EQ(fitsread(buf, "BSCALE  ", &back, H_EXPO, T_DOUBLE), 0);
  EXPECT_EQ(back, 2.5);
  EXPECT_EQ(fitsread(buf, "ABSENT  ", &back, H_EXPO, T_DOUBLE), -1);
  std::free(buf);

  // 32 added cards make 35 with END: one block; 33 need a second one.
  for (int added : {32, 33, 40}) {
    fitsstruct rec;
    initfield(&rec);
    for (int k = 0; k < added; k++) {
      char key[16];
      std::snprintf(key, sizeof key, "KEY%-5d", k);
      fitswrite(&rec.fitshead, key, &k, H_INT, T_INT, &rec.fitsheadsize);
    }
    EXPECT_EQ(fitswritehist(&rec), added <= 32 ? 2880 : 5760) << added;
    EXPECT_EQ(fitsfind(rec.fitshead, "END     "), 3 + added);
    int last = -1;
    ASSERT_EQ(fitsread(rec.fitshead, ("KEY" + std::to_string(added - 1)).c_str(), &last, H_INT, T_INT), 0);
    EXPECT_EQ(last, added - 1);
  }
}

TEST(FitsHistory, EachTextStartsACardOf72Characters) {
  for (int length : {72, 73}) {
    fitsstruct rec;
    initfield(&rec);
    fitsaddhist_com(&rec, std::string(length, 'h').c_str(), "HISTORY");
    fitswritehist(&rec);
    std::vector<std::string> cards = cards_of(rec);
    ASSERT_EQ(cards.size(), length == 72 ? 5u : 6u);
    EXPECT_EQ(cards[3], "HISTORY " + std::string(72, 'h'));
    if (length == 73) {
      EXPECT_EQ(cards[4], card("HISTORY h"));
    }
  }
  fitsstruct rec;
  initfield(&rec);
  fitsaddhist_com(&rec, std::string(100, 'a').c_str(), "HISTORY");
  fitsaddhist_com(&rec, "abc", "HISTORY");
  EXPECT_EQ(std::string(rec.history), std::string(100, 'a') + std::string(44, ' ') + "abc");
  // Characters a header may not hold become blanks.
  fitsaddhist_com(&rec, "a\tb\x7f", "COMMENT");
  EXPECT_STREQ(rec.comment, "a b ");
  EXPECT_EXIT_STATUS(fitsaddhist_com(&rec, "x", "REMARK"), 255, "the type of the comment is  REMARK");

  // Read back: pieces in card order, the text grown after the tenth piece.
  std::vector<std::string> extra;
  for (int k = 0; k < 12; k++) extra.push_back("HISTORY line " + std::to_string(k));
  extra.push_back("COMMENT only");
  fitsstruct parsed;
  parse_cards(&parsed, image_cards(-32, extra));
  EXPECT_EQ(parsed.hist_size, 80 * 10 + 800);
  EXPECT_EQ(parsed.com_size, 800);
  ASSERT_EQ(std::strlen(parsed.history), 12u * 72);
  EXPECT_EQ(std::string(parsed.history + 11 * 72, 7), "line 11");
  EXPECT_EQ(std::string(parsed.comment, 4), "only");
}

TEST(FitsHistory, MakeHistoryCutsEachLineAt72) {
  std::string long_name(5000, 'n');
  setenv("HOST", long_name.c_str(), 1);
  setenv("USER", long_name.c_str(), 1);
  char text[217 + 16];
  std::memset(text, '#', sizeof text);
  makehistory(text, "denoise", nullptr, std::string(300, 'f').c_str());
  EXPECT_EQ(std::strlen(text), 216u);
  EXPECT_EQ(text[218], '#');  // nothing written past the terminator
  EXPECT_EQ(std::string(text, 5), "date=");
  EXPECT_NE(std::string(text, 72).find(" node=nnn"), std::string::npos);
  EXPECT_EQ(std::string(text + 72, 72), "  procedure=denoise" + std::string(53, ' '));
  EXPECT_EQ(std::string(text + 144, 72), std::string(72, 'f'));
}

TEST(FitsHeaderParse, StandardKeysAndDefaults) {
  fitsstruct rec;
  parse_cards(&rec, image_cards(16, {"BZERO   =              32768.0 / offset", "CTYPE1  = 'RA---TAN'",
                                     "CRPIX1  =                 12.5", "CROTA2  =                 10.0"}));
  EXPECT_EQ(rec.naxis, 2);
  EXPECT_EQ(rec.bytepix, 2);
  EXPECT_EQ(rec.width * 100 + rec.height, 403);
  EXPECT_EQ(rec.npix, 12);
  EXPECT_EQ(rec.bscale, 1.0);
  EXPECT_EQ(rec.bzero, 32768.0);
  EXPECT_EQ(rec.crpix[0], 12.5);
  EXPECT_EQ(rec.crotay, 10.0);
  EXPECT_STREQ(rec.ctypex, "RA---TAN");
  EXPECT_STREQ(rec.ctypey, "       ");
}

TEST(FitsHeaderParse, CdMatrixGivesIncrementsAndRotation) {
  testing::internal::CaptureStdout();
  fitsstruct axes, rotated, partial, none;
  parse_cards(&axes, image_cards(-32, cd_cards(0.001, 0, 0)));
  EXPECT_DOUBLE_EQ(axes.cdeltx, -0.001);
  EXPECT_DOUBLE_EQ(axes.cdelty, 0.001);
  EXPECT_EQ(axes.crotay, 0.0);
  parse_cards(&rotated, image_cards(-32, cd_cards(0.001, 30, 30)));
  EXPECT_NEAR(rotated.crotay, 30.0, 1e-6);
  EXPECT_NEAR(rotated.cdeltx, -0.001, 1e-12);
  EXPECT_NEAR(rotated.cdelty, 0.001, 1e-12);
  // Missing terms are 0, as in the standard (not -32768).
  parse_cards(&partial, image_cards(-32, {"CD1_1   =               -0.002", "CD2_2   =                0.002"}));
  EXPECT_DOUBLE_EQ(partial.cdeltx, -0.002);
  EXPECT_EQ(partial.crotay, 0.0);
  parse_cards(&none, image_cards(-32));
  EXPECT_EQ(none.crotay, 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  // Rows ten degrees apart, either way round: a warning, and not the average.
  for (double b : {40.0, 20.0}) {
    testing::internal::CaptureStdout();
    fitsstruct apart;
    parse_cards(&apart, image_cards(-32, cd_cards(0.001, 30, b)));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING - Astrometry rot != rot2");
    EXPECT_NEAR(apart.crotay, 30.0, 1e-6) << b;
  }
}

TEST(FitsHeaderParse, RefusesBadSizesAndTypes) {
  auto header = [](const char* naxis, const char* naxis1, const char* naxis2, const char* bitpix = "16") {
    return std::vector<std::string>{value_card("SIMPLE", "T"), value_card("BITPIX", bitpix),
                                    value_card("NAXIS", naxis), value_card("NAXIS1", naxis1),
                                    value_card("NAXIS2", naxis2)};
  };
  fitsstruct rec;
  EXPECT_EXIT_STATUS(parse_cards(&rec, header("2", "0", "3")), 1, "axis length below 1");
  EXPECT_EXIT_STATUS(parse_cards(&rec, header("2", "4", "-5")), 1, "axis length below 1");
  EXPECT_EXIT_STATUS(parse_cards(&rec, header("2", "70000", "70000")), 1, "more than 2147483647 pixels");
  EXPECT_EXIT_STATUS(parse_cards(&rec, header("0", "4", "3")), 1, "NAXIS is not equal to 1,2, or 3");
  EXPECT_EXIT_STATUS(parse_cards(&rec, header("2", "4", "3", "12")), 1, "Sorry, I don't know that kind of data.");
}

TEST(FitsHeaderWrite, ScalingAxisAndChecksumCards) {
  fitsstruct rec;
  parse_cards(&rec, image_cards(16, {"BZERO   =              32768.0", "BSCALE  =                  1.0",
                                     "CHECKSUM= 'abc'", "BLANK   =                -32768"}));
  updatefitsheader(&rec);
  EXPECT_GE(fitsfind(rec.fitshead, "BZERO   "), 0);
  EXPECT_GE(fitsfind(rec.fitshead, "BSCALE  "), 0);
  EXPECT_EQ(fitsfind(rec.fitshead, "CHECKSUM"), -1);  // it no longer matches the data
  EXPECT_GE(fitsfind(rec.fitshead, "BLANK   "), 0);     // integer data keep it
  rec.bitpix = -32;  // floating-point data must not carry it
  updatefitsheader(&rec);
  EXPECT_EQ(fitsfind(rec.fitshead, "BLANK   "), -1);
  rec.bitpix = 16;
  // A negligible offset is not written, and a card left from the input must
  // not scale data written without it.
  rec.bzero = 1e-9;
  updatefitsheader(&rec);
  EXPECT_EQ(fitsfind(rec.fitshead, "BZERO   "), -1);
  rec.bzero = 0.0;
  updatefitsheader(&rec);
  EXPECT_EQ(fitsfind(rec.fitshead, "BSCALE  "), -1);

  // NAXISn cards follow NAXIS in order, and none remain beyond NAXIS.
  fitsstruct cube, line;
  parse_cards(&cube, {value_card("SIMPLE", "T"), value_card("BITPIX", "16"), value_card("NAXIS", "3"),
                      value_card("NAXIS1", "4"), value_card("NAXIS2", "3"), value_card("NAXIS3", "1"), "OBJECT  = 'c'"});
  cube.naxis = 2;
  updatefitsheader(&cube);
  EXPECT_EQ(fitsfind(cube.fitshead, "NAXIS3  "), -1);
  EXPECT_EQ(fitsfind(cube.fitshead, "OBJECT  "), 5);
  parse_cards(&line, {value_card("SIMPLE", "T"), value_card("BITPIX", "-32"), value_card("NAXIS", "1"),
                      value_card("NAXIS1", "4"), "OBJECT  = 'l'"});
  line.naxis = 2;
  line.height = line.naxisn[1] = 5;
  updatefitsheader(&line);
  EXPECT_EQ(fitsfind(line.fitshead, "NAXIS2  "), 4);
}

// Coordinates the run does not change keep their cards byte for byte,
// whatever their digits, exponent letter or comment; the range of the input's
// values is no result's range, and goes.
TEST(FitsHeaderWrite, UnchangedCoordinateCardsAreKeptAsWritten) {
  const std::vector<std::string> kept = {
      card("CTYPE1  = 'RA---TAN'           / gnomonic"),
      card("CTYPE2  = 'DEC--TAN'"),
      card("CRPIX1  =   24.50000000000000  / reference pixel"),
      card("CRPIX2  =                   -3"),
      card("CRVAL1  =    150.1234567891234 / degrees"),
      card("CRVAL2  =          2.23456789D0"),
      card("CDELT1  = -2.7777777777777778E-04"),
      card("CDELT2  =  2.77777777777777E-4 / ten more digits than written back before"),
      card("CROTA2  =              12.3456789012345"),
      card("CRPIX3  =                  1.0"),
      card("CDELT3  =  1.2345678901234e+07"),
  };
  std::vector<std::string> texts = {"NAXIS3  =                    1", "DATAMIN =                 82.9",
                                    "DATAMAX =               1200.0"};
  for (const std::string& c : kept) texts.push_back(c);
  fitsstruct rec;
  std::vector<std::string> cards = image_cards(-32, texts);
  cards[2] = value_card("NAXIS", "3");
  parse_cards(&rec, cards);
  EXPECT_EQ(rec.crval[1], 2.23456789);  // the D exponent is an exponent
  updatefitsheader(&rec);
  for (const std::string& c : kept) EXPECT_EQ(card_of(rec, c.substr(0, 8).c_str()), c);
  EXPECT_EQ(fitsfind(rec.fitshead, "DATAMIN "), -1);
  EXPECT_EQ(fitsfind(rec.fitshead, "DATAMAX "), -1);
}

// A CTYPEn card is written where the input had one or the run gave the axis
// a type, never for the blanks that stand for a missing card: a blank type
// reads as a linear axis to WCSTools, which then ignores a DSS plate
// solution beside it.
TEST(FitsHeaderWrite, ACtypeIsWrittenOnlyWhereTheInputOrTheRunGaveOne) {
  const struct {
    std::vector<std::string> cards;
    const char* run_type;  // set by the run on both axes, or null
    const char* ctype1;    // the card written, "" for none
    const char* ctype2;
  } rows[] = {
      {{}, nullptr, "", ""},
      {{"CTYPE1  = 'RA---TAN'"}, nullptr, "CTYPE1  = 'RA---TAN'", ""},
      {{"CTYPE2  = '       '"}, nullptr, "", "CTYPE2  = '       '"},
      {{"CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'"}, nullptr, "CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'"},
      {{}, "RA---TAN", "CTYPE1  = 'RA---TAN'", "CTYPE2  = 'RA---TAN'"},
  };
  for (const auto& row : rows) {
    fitsstruct rec;
    parse_cards(&rec, image_cards(-32, row.cards));
    if (row.run_type != nullptr) {
      std::strcpy(rec.ctypex, row.run_type);
      std::strcpy(rec.ctypey, row.run_type);
    }
    updatefitsheader(&rec);
    const std::pair<const char*, const char*> written_cards[] = {{"CTYPE1  ", row.ctype1}, {"CTYPE2  ", row.ctype2}};
    for (const auto& [key, want] : written_cards) {
      const std::string written = card_of(rec, key);
      EXPECT_EQ(written.substr(0, written.find_last_not_of(' ') + 1), want) << key << " after " << row.cards.size();
    }
  }
}

// A coordinate the record changes is written with the digits that give it
// back exactly (as strtod reads them), the comment kept, within the card;
// 0 too, since a reference pixel may move there.
TEST(FitsHeaderWrite, ChangedCoordinatesAreWrittenExactly) {
  const double values[] = {96.5, -6.944444444444444e-05, 1.0 / 3.0, 150.12345678912345, 2.5e-12,
                           -123456789.0123456, 0.0, 1e300, -4.9e-324};
  for (double v : values) {
    fitsstruct rec;
    parse_cards(&rec, image_cards(-32, {"CRPIX1  =                 24.5 / reference pixel",
                                        "CDELT2  =                 1.0", "CTYPE1  = 'RA---TAN'",
                                        "CTYPE2  = 'DEC--TAN'"}));
    rec.crpixx = rec.crpix[0] = v;
    rec.cdelty = v;
    rec.crvalx = v;  // no card: added when not negligible
    updatefitsheader(&rec);
    const std::string crpix = card_of(rec, "CRPIX1  "), cdelt = card_of(rec, "CDELT2  "),
                      crval = card_of(rec, "CRVAL1  ");
    EXPECT_EQ(number_of(crpix), v) << crpix;
    EXPECT_EQ(number_of(cdelt), v) << cdelt;
    EXPECT_NE(crpix.find("/ reference pixel"), std::string::npos) << crpix;
    EXPECT_NE(crpix.find_first_of(".E", 10), std::string::npos) << crpix;  // a real, not an integer
    if (std::fabs(v) > 1e-7) EXPECT_EQ(number_of(crval), v) << crval;
    else EXPECT_EQ(crval, "") << v;
    // Short values stay in the fixed columns 11 to 30.
    if (v == 96.5) {
      EXPECT_EQ(crpix, card("CRPIX1  =                 96.5 / reference pixel"));
    }
  }
}

TEST(FitsHeaderRecord, CopiesAreDeep) {
  fitsstruct* original = new fitsstruct;
  parse_cards(original, image_cards(16, {"HISTORY kept"}));
  fitsstruct copy(*original);
  delete original;
  updatefitsheader(&copy);
  EXPECT_EQ(copy.bitpix, 16);
  EXPECT_GE(fitsfind(copy.fitshead, "HISTORY kept"), 0);
}

TEST(FitsHeaderBlocks, ReadStopsAtEndAndRefusesOtherFiles) {
  std::string good = card("SIMPLE  =                    T");
  for (int k = 0; k < 40; k++) good += card("COMMENT filler");
  good += card("END");
  good.resize(5760, ' ');
  auto file_of = [](const std::string& name, const std::string& bytes) {
    fits_test::write_bytes(fits_test::scratch(name), bytes);
    return std::fopen(fits_test::scratch(name).c_str(), "rb");
  };
  std::FILE* f = file_of("blocks.fits", good + "DATA");
  int nblocks = 0;
  std::free(readfitshead(f, "blocks.fits", &nblocks));
  EXPECT_EQ(nblocks, 2);
  EXPECT_EQ(std::ftell(f), 5760);  // at the first data byte
  std::fclose(f);
  std::FILE* text = file_of("text.fits", std::string(2880, 'x'));
  std::FILE* no_end = file_of("noend.fits", good.substr(0, 2880));
  EXPECT_EXIT_STATUS(readfitshead(text, "text.fits", &nblocks), 1, "text.fits is NOT a FITS file!");
  EXPECT_EXIT_STATUS(readfitshead(no_end, "noend.fits", &nblocks), 1, "Error\\* while reading noend.fits");
}

// A header ends where the FITS library ends it: at "END=" too, though an
// END card stands in the next block, which is data; the cards after it,
// read by no one, are neither parsed nor kept.
TEST(FitsHeaderBlocks, HeaderEndsWhereTheLibraryEndsIt) {
  std::vector<std::string> texts = image_cards(16, {"END=", "BZERO   =                   5."});
  std::string bytes;
  for (const std::string& text : texts) bytes += card(text);
  bytes.resize(2880, ' ');
  bytes += card("END") + std::string(2800, ' ');
  const std::string path = fits_test::scratch("endeq.fits");
  fits_test::write_bytes(path, bytes);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  int nblocks = 0;
  char* cards = readfitshead(f, "endeq.fits", &nblocks);
  std::fclose(f);
  EXPECT_EQ(nblocks, 1);
  fitsstruct rec;
  parseimagehead(&rec, cards, nblocks);
  EXPECT_EQ(rec.bzero, 0.0);
  EXPECT_EQ(rec.npix, 12);
  const std::vector<std::string> kept = cards_of(rec);
  ASSERT_EQ(kept.size(), 6u);
  EXPECT_EQ(kept.back(), card("END"));
}

// A structural card met twice with another value would be copied into
// every result, which other readers reject: refused naming both copies and
// the file. Copies the library reads alike are one card, the later ones
// left out of the results. Other repeated cards are no concern of the
// parser.
TEST(FitsHeaderParse, RefusesRepeatedStructuralCardsThatDiffer) {
  const std::vector<std::string> cube = {value_card("SIMPLE", "T"), value_card("BITPIX", "16"),
                                         value_card("NAXIS", "3"),  value_card("NAXIS1", "4"),
                                         value_card("NAXIS2", "3"), value_card("NAXIS3", "2")};
  const std::string other[] = {value_card("SIMPLE", "F"),  value_card("BITPIX", "-32"), value_card("NAXIS", "2"),
                               value_card("NAXIS1", "5"),  value_card("NAXIS2", "4"),   value_card("NAXIS3", "1")};
  for (std::size_t k = 0; k < cube.size(); k++) {
    std::vector<std::string> cards = cube;
    cards.push_back("OBJECT  = 'between'");
    cards.push_back(other[k]);
    const std::string key = cube[k].substr(0, cube[k].find(' '));
    fitsstruct rec;
    rec.filename = strdup("twice.fits");
    EXPECT_EXIT_STATUS(parse_cards(&rec, cards), 255,
                       "card " + key + " more than once, with values that differ \\(" + key + " = [-0-9TF]+, then " +
                           key + " = [-0-9TF]+\\): remove the wrong one .*\\(twice.fits\\)")
        << key;
  }
  // The same values, written otherwise as the library reads them alike.
  std::vector<std::string> allowed = cube;
  allowed.insert(allowed.end(), {"OBJECT  = 'a'", "OBJECT  = 'b'", "HISTORY one", "HISTORY two",
                                 "NAXIS1A =                    9", "NAXIS1  = +4 / again", "BITPIX  =   16",
                                 "SIMPLE  =                    T"});
  fitsstruct rec;
  parse_cards(&rec, allowed);
  EXPECT_EQ(rec.npix, 24);
  const std::vector<std::string> kept = cards_of(rec);
  for (const char* key : {"SIMPLE  ", "BITPIX  ", "NAXIS1  "})
    EXPECT_EQ(std::count_if(kept.begin(), kept.end(), [&](const std::string& c) { return c.compare(0, 8, key) == 0; }),
              1)
        << key;
}

// Any card given again with a value the library reads alike is left out of
// the header a result carries; copies that differ, cards without a value
// and the pieces of long strings stay as written.
TEST(FitsHeaderParse, CopiesOfAnyCardReadAlikeAreOneCard) {
  const std::vector<std::string> image = {value_card("SIMPLE", "T"), value_card("BITPIX", "16"),
                                          value_card("NAXIS", "2"), value_card("NAXIS1", "4"),
                                          value_card("NAXIS2", "3")};
  const struct {
    std::vector<std::string> cards;
    const char* key;
    long expected;
  } cases[] = {
      {{"EXTNAME = 'SCI     '", "EXTNAME = 'SCI'"}, "EXTNAME ", 1},
      {{"EXPTIME = 1.0", "EXPTIME =                    1", "EXPTIME = 1.5"}, "EXPTIME ", 2},
      {{"OBJECT  = 'a'", "OBJECT  = 'b'"}, "OBJECT  ", 2},
      {{"HISTORY one", "HISTORY one"}, "HISTORY ", 2},
      {{"COMMENT one", "COMMENT one"}, "COMMENT ", 2},
      {{"LONG    = 'ab&'", "CONTINUE  'c'", "LONG    = 'ab&'", "CONTINUE  'c'"}, "CONTINUE", 2},
      {{"LONG    = 'ab&'", "CONTINUE  'c'", "LONG    = 'ab&'", "CONTINUE  'c'"}, "LONG    ", 2},
  };
  for (const auto& c : cases) {
    std::vector<std::string> cards = image;
    cards.insert(cards.end(), c.cards.begin(), c.cards.end());
    cards.push_back("OBJECT2 = 'last'");
    fitsstruct rec;
    parse_cards(&rec, cards);
    const std::vector<std::string> kept = cards_of(rec);
    EXPECT_EQ(std::count_if(kept.begin(), kept.end(), [&](const std::string& k) { return k.compare(0, 8, c.key) == 0; }),
              c.expected)
        << c.cards[0];
    // The cards after a left-out copy move up, none lost.
    EXPECT_EQ(std::count_if(kept.begin(), kept.end(), [](const std::string& k) { return k.compare(0, 8, "OBJECT2 ") == 0; }),
              1)
        << c.cards[0];
  }
}

// A copy differs when its value differs in any way, though one double holds
// both (2^53 + 1 and 2^53): it stays, and so does a copy that comes back
// after another value of its keyword, each where it stood.
TEST(FitsHeaderParse, CopiesThatDifferStayWhereTheyStood) {
  const struct {
    std::vector<std::string> cards;
    std::vector<std::string> kept;
  } cases[] = {
      {{value_card("IDNUM", "9007199254740993"), value_card("IDNUM", "9007199254740992")},
       {value_card("IDNUM", "9007199254740993"), value_card("IDNUM", "9007199254740992")}},
      {{value_card("OBSA", "1"), value_card("OBSA", "1"), value_card("OBSB", "5"), value_card("OBSC", "7"),
        value_card("OBSB", "7")},
       {value_card("OBSA", "1"), value_card("OBSB", "5"), value_card("OBSC", "7"), value_card("OBSB", "7")}},
      {{value_card("OBSB", "5"), value_card("OBSB", "7"), value_card("OBSB", "5.0")},
       {value_card("OBSB", "5"), value_card("OBSB", "7")}},
  };
  for (const auto& c : cases) EXPECT_EQ(kept_cards(c.cards), header_of(c.kept)) << c.cards[0];
}

// A copy is left out only beside one the results keep: the first copy, not
// valid FITS (a keyword in lower case, a byte that is not printable), is
// itself left out, so the valid one after it stays.
TEST(FitsHeaderParse, ACopyOfAnInvalidCardStays) {
  const std::string valid = value_card("EXTNAME", "'SCI'");
  const struct {
    std::vector<std::string> cards;
    std::vector<std::string> kept;
  } cases[] = {
      {{"extname = 'SCI'", valid}, {valid}},
      {{"EXTNAME = 'SCI'      / \x01", valid}, {valid}},
  };
  for (const auto& c : cases) EXPECT_EQ(kept_cards(c.cards), header_of(c.kept)) << c.cards[1];
}

// A CONTINUE card is a piece of the long string on the card before it.
// One that followed a card left out, or a HISTORY or COMMENT card, which
// the writes move to the end, was a piece of no long string: kept, it
// would join the card before it in the results (T = 'foo&' would read
// 'foobar'), so it goes; a long string keeps its pieces.
TEST(FitsHeaderParse, StrayContinueCardsJoinNoLongStringInTheResults) {
  const std::string t = "T       = 'foo&'", bar = "CONTINUE  'bar'";
  const struct {
    std::vector<std::string> cards;
    std::vector<std::string> kept;
  } cases[] = {
      {{value_card("S", "'abc'"), t, value_card("S", "'abc'"), bar}, {value_card("S", "'abc'"), t}},
      {{t, "lower   =                    1", bar}, {t}},
      {{t, value_card("PCOUNT", "0"), bar}, {t}},
      {{t, "HISTORY x", "CONTINUE  'bar&'", bar}, {t, "HISTORY x"}},
      {{t, "COMMENT x", bar}, {t, "COMMENT x"}},
      {{t, "CONTINUE  'bar&'", bar}, {t, "CONTINUE  'bar&'", bar}},
  };
  for (const auto& c : cases) EXPECT_EQ(kept_cards(c.cards), header_of(c.kept)) << c.cards[1];
}

// The library reads a structure card with anything between its keyword,
// alone in columns 1 to 8, and its '=' (`NAXIS1  X=  4`); other readers
// take it for commentary, and a value written into columns 11 to 30 would
// stay behind the "X=". Such a card is made anew in the standard's fixed
// form, before the results carry it; a keyword not alone in its columns
// is still refused.
TEST(FitsHeaderParse, StructureCardsAreMadeInTheStandardForm) {
  const struct {
    std::size_t at;
    std::string written;
  } rows[] = {
      {1, "BITPIX  X=                  16"}, {2, "NAXIS   X=                    2"},
      {3, "NAXIS1  X=                    4 / columns"}, {4, "NAXIS2  =3"},
      {4, "NAXIS2   =                   3"},
  };
  const std::vector<std::string> standard = image_cards(16);
  for (const auto& row : rows) {
    std::vector<std::string> cards = standard;
    cards[row.at] = row.written;
    fitsstruct rec;
    parse_cards(&rec, cards);
    EXPECT_EQ(rec.npix, 12) << row.written;
    EXPECT_EQ(rec.bitpix, 16) << row.written;
    EXPECT_EQ(cards_of(rec)[row.at], card(standard[row.at])) << row.written;
    updatefitsheader(&rec);
    const std::vector<std::string> written = cards_of(rec);
    for (std::size_t k = 0; k < standard.size(); k++) EXPECT_EQ(written[k], card(standard[k])) << row.written;
  }
  std::vector<std::string> cards = standard;
  cards[3] = "NAXIS1 X=                    4";
  fitsstruct rec;
  rec.filename = strdup("shifted.fits");
  EXPECT_EXIT_STATUS(parse_cards(&rec, cards), 255, "card NAXIS1 X of the header is not valid FITS .*\\(shifted.fits\\)");
}

// Three axes of 2^31 - 1: the pixel count is refused without a product
// that overflows 64 bits.
TEST(FitsHeaderParse, CubeBeyondThirtyTwoBitsIsRefusedWithoutOverflow) {
  std::vector<std::string> cards = {value_card("SIMPLE", "T"), value_card("BITPIX", "8"), value_card("NAXIS", "3")};
  for (const char* axis : {"NAXIS1", "NAXIS2", "NAXIS3"}) cards.push_back(value_card(axis, "2147483647"));
  fitsstruct rec;
  EXPECT_EXIT_STATUS(parse_cards(&rec, cards), 1, "more than 2147483647 pixels");
}

// An image extension's header becomes a primary one, whatever the padding
// of its type; any other extension's is refused.
TEST(FitsHeaderParse, ImageExtensionHeadersBecomePrimaryHeaders) {
  auto extension = [](const char* type) {
    return std::vector<std::string>{std::string("XTENSION= ") + type, value_card("BITPIX", "16"),
                                    value_card("NAXIS", "1"), value_card("NAXIS1", "4"), value_card("PCOUNT", "0")};
  };
  fitsstruct rec;
  parse_cards(&rec, extension("  'IMAGE'"));
  const std::vector<std::string> cards = cards_of(rec);
  EXPECT_EQ(cards.size(), 5u);  // PCOUNT left out
  EXPECT_EQ(cards[0], card("SIMPLE  =                    T / THIS IS REGULAR FITS"));
  rec.filename = strdup("ext.fits");
  EXPECT_EXIT_STATUS(parse_cards(&rec, extension("'BINTABLE'")), 255,
                     "card XTENSION of the header is not an image extension's ... \\(ext.fits\\)");
}

// SIMPLE must hold the logical T and nothing else; a free-format T is put
// in column 30, where the standard and its verifier want it.
TEST(FitsHeaderParse, SimpleHoldsTheLogicalTExactly) {
  const std::string fixed = "SIMPLE  =                    T / conforms";
  const struct {
    std::string simple;
    std::string kept;  // the first card after parsing; empty: refused
  } rows[] = {
      {fixed, card(fixed)},
      {"SIMPLE  = T", card("SIMPLE  =                    T / THIS IS REGULAR FITS")},
      {"SIMPLE  =                    T / bad\tbyte", card("SIMPLE  =                    T / THIS IS REGULAR FITS")},
      {"SIMPLE  =                    Tx", ""},
      {"SIMPLE  =                    T T", ""},
      {"SIMPLE  =                    F", ""},
      {"SIMPLE  =                  'T'", ""},
      {"SIMPLE  =", ""},
      {"SIMPLE                       T", ""},
  };
  for (const auto& row : rows) {
    std::vector<std::string> cards = image_cards(16);
    cards[0] = row.simple;
    fitsstruct rec;
    rec.filename = strdup("simple.fits");
    if (row.kept.empty()) {
      EXPECT_EXIT_STATUS(parse_cards(&rec, cards), 255,
                         "card SIMPLE of the header is not T: .*\\(simple.fits\\)")
          << row.simple;
    } else {
      parse_cards(&rec, cards);
      EXPECT_EQ(cards_of(rec)[0], row.kept) << row.simple;
    }
  }
}

// BSCALE and BZERO scale every pixel: a value that is not a FITS number is
// refused, in any case of the keyword, never read as 1 or 0.
TEST(FitsHeaderParse, ScalingCardsMustHoldNumbers) {
  const struct {
    const char* card;
    double bscale, bzero;
  } numbers[] = {
      {"BSCALE  =                  0.5", 0.5, 0},
      {"BSCALE  =               5.0E-1 / half", 0.5, 0},
      {"BSCALE  =                 5D-1", 0.5, 0},  // atof would read 5
      {"BSCALE  =                 5e-1", 0.5, 0},  // as older releases wrote
      {"BSCALE  = .5", 0.5, 0},
      {"BSCALE  =                  +2.", 2, 0},
      {"BZERO   =                -1024", 1, -1024},
      {"BZERO   =    3.2768E+04/no blank before the slash", 1, 32768},
  };
  for (const auto& row : numbers) {
    fitsstruct rec;
    parse_cards(&rec, image_cards(16, {row.card}));
    EXPECT_EQ(rec.bscale, row.bscale) << row.card;
    EXPECT_EQ(rec.bzero, row.bzero) << row.card;
  }
  const char* not_numbers[] = {
      "BSCALE  =                  0.5\t",  "BSCALE  =                 0\t.5", "BSCALE  =",
      "BSCALE  =                / empty",  "BSCALE  =                  abc",  "BSCALE  =                 0x10",
      "BSCALE  =                  inf",    "BSCALE  =                  nan",  "BSCALE  =                 5d-1",
      "BSCALE  =                 1.5E",    "BSCALE  =             0.5 junk",  "BSCALE  =                '0.5'",
      "BSCALE  =                    T",    "BSCALE  =                1E400",  "BSCALE  =                    .",
      "BSCALE  =2.5",                      "BSCALE    0.5",                    "BSCALE  =                 1..5",
      "BZERO   =                32768L",   "bscale  =                  abc",   "Bzero   =",
  };
  for (const char* bad : not_numbers) {
    std::string key(bad, 8);
    key.erase(key.find_last_not_of(' ') + 1);
    fitsstruct rec;
    rec.filename = strdup("scaled.fits");
    EXPECT_EXIT_STATUS(parse_cards(&rec, image_cards(16, {bad})), 255,
                       "card " + key + " of the header does not hold a number .*\\(scaled.fits\\)")
        << bad;
  }
}

// Cards other readers refuse or read otherwise are not copied into the
// results; the keyword tests of the cards that are refused or left out
// take any case.
TEST(FitsHeaderParse, InvalidCardsAreLeftOutAndKeywordTestsIgnoreCase) {
  const std::string left_out[] = {
      "bscale  =                  0.5",  // other readers would scale the results
      "Extend  =                    T",  "EXTEND  \xe9                    T",
      "EXTEND  :                    T",  "EXTEND  =                    T T",
      "OBJECT  = 'a\tb'",                "HISTORY made\x01here",
      " OBJECT = 'shifted'",             "OB JECT = 'split'",
      "OBJECT  = 'accent \xe9'",         "gcount  =                    1",
      "pcount  =                    0",
      "TELESCOP= 'ab\x7f'",               std::string("OBSERVER= 'ab\0cd'", 17),
      // As the library gives a card with a NUL inside its value: cut there.
      "OBSERVER= 'ab",                   "OBSERVER= 'a'' / doubled, so not closed",
  };
  // Quotes in a comment, a doubled quote, and a value closed in column 80.
  const std::vector<std::string> kept = {"DATE-OBS= '2001-01-01'", "FOO_-1  =                    1", "HISTORY kept",
                                         "OBJECT  = 'x' / it's", "ORIGIN  = 'it''s'",
                                         "AUTHOR  = '" + std::string(68, 'y') + "'"};
  for (const std::string& bad : left_out) {
    std::vector<std::string> extra = kept;
    extra.insert(extra.begin() + 1, bad);
    fitsstruct rec;
    parse_cards(&rec, image_cards(16, extra));
    std::vector<std::string> expected;
    for (const std::string& c : image_cards(16, kept)) expected.push_back(card(c));
    expected.push_back(card("END"));
    EXPECT_EQ(cards_of(rec), expected) << bad;
    EXPECT_EQ(rec.bscale, 1.0) << bad;
  }
  fitsstruct extended;
  parse_cards(&extended, image_cards(16, {"EXTEND  =                    T / may follow"}));
  EXPECT_EQ(cards_of(extended)[5], card("EXTEND  =                    T / may follow"));
  const struct {
    std::string card;
    std::string message;
  } refused[] = {
      {"xtension= 'IMAGE   '", "card XTENSION of the header does not belong in a primary header"},
      {"pcount  =                    2", "card PCOUNT = 2 of the header describes data"},
      {"Gcount  =                    3", "card GCOUNT = 3 of the header describes data"},
      {"simple  =                    F", "holds the card SIMPLE more than once"},
      {"naxis1  =                    5", "holds the card NAXIS1 more than once"},
  };
  for (const auto& row : refused) {
    fitsstruct rec;
    rec.filename = strdup("cased.fits");
    EXPECT_EXIT_STATUS(parse_cards(&rec, image_cards(16, {row.card})), 255, row.message + ".*\\(cased.fits\\)")
        << row.card;
  }
  // A structure card cannot be left out: one with a stray byte is refused.
  std::vector<std::string> cards = image_cards(16);
  cards[1] = "BITPIX  =                   16 / tab\there";
  fitsstruct rec;
  rec.filename = strdup("stray.fits");
  EXPECT_EXIT_STATUS(parse_cards(&rec, cards), 255, "card BITPIX of the header is not valid FITS .*\\(stray.fits\\)");
}

// The whole path of a run: a file with such cards, read and written as a
// float result, passes fitsverify and reads back through CFITSIO at the
// values read, with no scaling card left.
TEST(FitsHeaderFiles, ResultsOfAnInputWithInvalidCardsAreValid) {
  std::string bytes;
  // The NULs and the DEL go through the library, which reads the pixels; a
  // NUL in a comment would shorten its card if the library's copy were read.
  for (const std::string& c :
       image_cards(16, {"bscale  =                  0.5", "EXTEND  \xe9                    T", "OBJECT  = 'a\tb'",
                        std::string("OBSERVER= 'a\0b' / cut", 21), "TELESCOP= 'a\x7f b'",
                        std::string("INSTRUME= 'ab' / a\0b", 20), "HISTORY fine"}))
    bytes += card(c);
  bytes += card("END");
  bytes.resize(2880, ' ');
  std::string data(2880, '\0');
  for (int k = 0; k < 12; k++) data[2 * k + 1] = static_cast<char>(4 + k);  // big-endian 4 + k
  const std::string input = fits_test::scratch("cased_in.fits"), result = fits_test::scratch("cased_out.fits");
  fits_test::write_bytes(input, bytes + data);
  to_array<float, false> ima;
  fitsstruct header;
  fits_read_float(input.c_str(), ima, &header);
  ASSERT_EQ(ima.n_elem(), 12);
  EXPECT_EQ(ima(0), 4.f);  // the lower-case card scales nothing here
  header.bitpix = -32;
  fits_write_float(result.c_str(), ima, &header);
  const fits_test::Reference back = fits_test::read_reference(result);
  ASSERT_EQ(back.values.size(), 12u);
  for (int k = 0; k < 12; k++) EXPECT_EQ(back.values[k], 4.0 + k) << k;
  const std::string text = fits_test::read_bytes(result).substr(0, 2880);
  for (const char* gone : {"bscale", "EXTEND", "OBJECT", "OBSERVER", "TELESCOP", "INSTRUME"})
    EXPECT_EQ(text.find(gone), std::string::npos) << gone;
  EXPECT_NE(text.find("HISTORY fine"), std::string::npos);
  if (qz_test::have_fitsverify()) {
    EXPECT_TRUE(qz_test::passes_fitsverify(result));
  }

  // A TAB in BSCALE: the library would read no scaling at all; refused.
  std::string tabbed = bytes;
  tabbed.replace(5 * 80, 80, card("BSCALE  =                  0.5\t"));
  const std::string bad = fits_test::scratch("tabbed.fits");
  fits_test::write_bytes(bad, tabbed + data);
  EXPECT_EXIT_STATUS(fits_read_float(bad.c_str(), ima, &header), 255,
                     "card BSCALE of the header does not hold a number .*tabbed.fits");
}
