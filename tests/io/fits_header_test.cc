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

#include "fits_test_files.h"
#include "support/death.h"

using fits_test::card;

namespace {

std::vector<std::string> cards_of(const fitsstruct& rec) {
  return fits_test::header_cards(std::string(rec.fitshead, rec.fitsheadsize));
}

// A record whose card buffer holds the given cards (then END), parsed.
void parse_cards(fitsstruct* rec, const std::vector<std::string>& texts) {
  std::string cards;
  for (const std::string& t : texts) cards += card(t);
  cards += card("END");
  int nblocks = static_cast<int>((cards.size() + 2879) / 2880);
  cards.resize(nblocks * 2880, ' ');
  char* buf = static_cast<char*>(std::malloc(cards.size()));
  std::memcpy(buf, cards.data(), cards.size());
  parseimagehead(rec, buf, nblocks);
}

std::vector<std::string> image_cards(int bitpix) {
  return {"SIMPLE  =                    T", "BITPIX  = " + std::string(20 - std::to_string(bitpix).size(), ' ') + std::to_string(bitpix),
          "NAXIS   =                    2", "NAXIS1  =                    4",
          "NAXIS2  =                    3"};
}

std::string history_banner_card() { return card(std::string("HISTORY ") + Soft.banner()); }

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
  std::vector<std::string> expected = {
      card("SIMPLE  =                    T / THIS IS REGULAR FITS"),
      card("BITPIX  =                  -32 /"),
      card("NAXIS   =                    2 /"),
      card("NAXIS1  =                  512 /"),
      card("NAXIS2  =                  256 /"),
      history_banner_card(),
      card("END")};
  EXPECT_EQ(cards_of(rec), expected);
  std::string rest(rec.fitshead + 7 * 80, 2880 - 7 * 80);
  EXPECT_EQ(rest, std::string(rest.size(), ' '));
}

TEST(FitsHeader, BannerNamesReleaseWithOneDecimal) {
  EXPECT_EQ(std::string(Soft.banner()).rfind("QZ/3 V4.0 ", 0), 0u);
  EXPECT_FLOAT_EQ(Soft.release, 4.0f);
  EXPECT_STREQ(Soft.name, "QZ/3");
}

TEST(FitsCards, WriteIntoNewAndExistingCards) {
  char* buf = creafitsheader();
  int size = 2880;
  int five = 5;
  fitswrite(&buf, "NEWKEY  ", &five, H_INT, T_INT, &size);
  int index = fitsfind(buf, "NEWKEY  ");
  ASSERT_EQ(index, 3);
  std::string written(buf + 80 * index, 80);
  EXPECT_EQ(written.substr(10, 20), std::string(19, ' ') + "5");
  EXPECT_EQ(written[30], ' ');
  EXPECT_EQ(written.substr(31, 2), "/ ");
  EXPECT_EQ(fitsfind(buf, "END     "), 4);

  // A shorter value keeps the comment of an existing card.
  std::memcpy(buf + 80, card("BITPIX  =                   16 / array data type").data(), 80);
  int bitpix = -32;
  fitswrite(&buf, "BITPIX  ", &bitpix, H_INT, T_INT, &size);
  EXPECT_EQ(std::string(buf + 80, 80), card("BITPIX  =                  -32 / array data type"));

  double scale = 2.5;
  fitswrite(&buf, "BSCALE  ", &scale, H_EXPO, T_DOUBLE, &size);
  double back = 0;
  ASSERT_EQ(fitsread(buf, "BSCALE  ", &back, H_EXPO, T_DOUBLE), 0);
  EXPECT_EQ(back, 2.5);
  fitswrite(&buf, "OBJECT  ", "M51", H_STRING, T_UNKNOWN, &size);
  char text[71];
  ASSERT_EQ(fitsread(buf, "OBJECT  ", text, H_STRING, T_UNKNOWN), 0);
  EXPECT_EQ(std::string(text).substr(0, 5), "'M51'");
  int truth = 1, flag = 0;
  fitswrite(&buf, "FLAG    ", &truth, H_BOOL, T_INT, &size);
  ASSERT_EQ(fitsread(buf, "FLAG    ", &flag, H_BOOL, T_INT), 0);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(fitsread(buf, "ABSENT  ", &flag, H_INT, T_INT), -1);
  std::free(buf);
}

TEST(FitsCards, HeaderGrowsPastOneBlock) {
  fitsstruct rec;
  initfield(&rec);
  for (int k = 0; k < 40; k++) {
    char key[16];
    std::snprintf(key, sizeof key, "KEY%-5d", k);
    fitswrite(&rec.fitshead, key, &k, H_INT, T_INT, &rec.fitsheadsize);
  }
  EXPECT_EQ(rec.fitsheadsize, 5760);
  for (int k = 0; k < 40; k++) {
    char key[16];
    std::snprintf(key, sizeof key, "KEY%-5d", k);
    int value = -1;
    ASSERT_EQ(fitsread(rec.fitshead, key, &value, H_INT, T_INT), 0);
    EXPECT_EQ(value, k);
  }
  EXPECT_EQ(fitsfind(rec.fitshead, "END     "), 43);
}

TEST(FitsCards, RebuiltHeaderTakesWholeBlocks) {
  // Thirty-five cards and END fill one block exactly; one more card needs two.
  for (int extra : {0, 1}) {
    fitsstruct rec;
    initfield(&rec);
    for (int k = 0; k < 32 + extra; k++) {
      char key[16];
      std::snprintf(key, sizeof key, "KEY%-5d", k);
      fitswrite(&rec.fitshead, key, &k, H_INT, T_INT, &rec.fitsheadsize);
    }
    EXPECT_EQ(fitswritehist(&rec), extra == 0 ? 2880 : 5760);
    EXPECT_EQ(fitsfind(rec.fitshead, "END     "), 35 + extra);
  }
}

TEST(FitsHistory, CardsPerSeventyTwoCharacters) {
  for (int length : {72, 73}) {
    fitsstruct rec;
    initfield(&rec);
    std::string text(length, 'h');
    EXPECT_EQ(fitsaddhist_com(&rec, text.c_str(), "HISTORY"), length);
    fitswritehist(&rec);
    std::vector<std::string> cards = cards_of(rec);
    std::vector<std::string> history;
    for (const std::string& c : cards)
      if (c.compare(0, 8, "HISTORY ") == 0) history.push_back(c);
    ASSERT_EQ(history.size(), length == 72 ? 1u : 2u);
    EXPECT_EQ(history[0], "HISTORY " + std::string(72, 'h'));
    if (length == 73) {
      EXPECT_EQ(history[1], "HISTORY h" + std::string(71, ' '));
    }
  }
}

TEST(FitsHistory, NewTextStartsANewCard) {
  fitsstruct rec;
  initfield(&rec);
  fitsaddhist_com(&rec, std::string(100, 'a').c_str(), "HISTORY");
  fitsaddhist_com(&rec, "abc", "HISTORY");
  std::string history(rec.history);
  EXPECT_EQ(history, std::string(100, 'a') + std::string(44, ' ') + "abc");
  EXPECT_GE(rec.hist_size, 3 * 72 + 1);
  fitsaddhist_com(&rec, "note", "COMMENT");
  EXPECT_STREQ(rec.comment, "note");
  EXPECT_EQ(fitsaddhist_com(&rec, nullptr, "HISTORY"), 0);
}

TEST(FitsHistory, UnprintableCharactersBecomeBlanks) {
  fitsstruct rec;
  initfield(&rec);
  fitsaddhist_com(&rec, "a\tb\nc\x7f", "HISTORY");
  EXPECT_STREQ(rec.history, "a b c ");
}

TEST(FitsHistory, WrongKindStops) {
  fitsstruct rec;
  EXPECT_EXIT_STATUS(fitsaddhist_com(&rec, "x", "REMARK"), 255, "the type of the comment is  REMARK");
}

TEST(FitsHistory, ReadCollectsPiecesInCardOrder) {
  fitsstruct rec;
  std::vector<std::string> texts = image_cards(-32);
  for (int k = 0; k < 12; k++) texts.push_back("HISTORY line " + std::to_string(k));
  texts.push_back("COMMENT only");
  parse_cards(&rec, texts);
  // Grown after the tenth piece.
  EXPECT_EQ(rec.hist_size, 80 * 10 + 800);
  EXPECT_EQ(rec.com_size, 800);
  ASSERT_EQ(std::strlen(rec.history), 12u * 72);
  EXPECT_EQ(std::string(rec.history + 11 * 72, 7), "line 11");
  EXPECT_EQ(std::string(rec.comment, 4), "only");
}

TEST(FitsHistory, OriginOnceBannerAtEveryWrite) {
  fitsstruct rec;
  initfield(&rec);
  rec.naxis = 2;
  rec.bitpix = 16;
  rec.width = rec.height = 2;
  rec.npix = 4;
  rec.origin = "qz_mca -v in.fits out";
  updatefitsheader(&rec);
  updatefitsheader(&rec);
  int banners = 0, origins = 0;
  for (const std::string& c : cards_of(rec)) {
    banners += c == history_banner_card();
    origins += c == card("HISTORY qz_mca -v in.fits out");
  }
  EXPECT_EQ(banners, 2);
  EXPECT_EQ(origins, 1);
}

TEST(FitsHistory, MakeHistoryCutsEachLineAt72) {
  std::string long_name(5000, 'n');
  setenv("HOST", long_name.c_str(), 1);
  setenv("USER", long_name.c_str(), 1);
  char text[217 + 16];
  std::memset(text, '#', sizeof text);
  makehistory(text, "denoise", nullptr, std::string(300, 'f').c_str());
  EXPECT_EQ(std::strlen(text), 216u);
  EXPECT_EQ(text[216 + 1], '#');  // nothing written past the terminator
  std::string line1(text, 72), line2(text + 72, 72), line3(text + 144, 72);
  EXPECT_EQ(line1.rfind("date=", 0), 0u);
  EXPECT_NE(line1.find(" node=nnn"), std::string::npos);
  EXPECT_EQ(line2, "  procedure=denoise" + std::string(72 - 19, ' '));
  EXPECT_EQ(line3, std::string(72, 'f'));
}

TEST(FitsHeaderParse, StandardKeysAndDefaults) {
  fitsstruct rec;
  std::vector<std::string> texts = image_cards(16);
  texts.push_back("BZERO   =              32768.0 / offset");
  texts.push_back("CTYPE1  = 'RA---TAN'");
  texts.push_back("CRPIX1  =                 12.5");
  texts.push_back("CDELT1  =               -0.001");
  texts.push_back("CDELT2  =                0.001");
  texts.push_back("CROTA2  =                 10.0");
  parse_cards(&rec, texts);
  EXPECT_EQ(rec.naxis, 2);
  EXPECT_EQ(rec.bitpix, 16);
  EXPECT_EQ(rec.bytepix, 2);
  EXPECT_EQ(rec.width, 4);
  EXPECT_EQ(rec.naxisn[0], 4);
  EXPECT_EQ(rec.height, 3);
  EXPECT_EQ(rec.npix, 12);
  EXPECT_EQ(rec.bscale, 1.0);
  EXPECT_EQ(rec.bzero, 32768.0);
  EXPECT_EQ(rec.crpixx, 12.5);
  EXPECT_EQ(rec.crpix[0], 12.5);
  EXPECT_EQ(rec.crotay, 10.0);
  EXPECT_STREQ(rec.ctypex, "RA---TAN");
  EXPECT_STREQ(rec.ctypey, "       ");
}

TEST(FitsHeaderParse, CdMatrixGivesIncrementsAndRotation) {
  testing::internal::CaptureStdout();
  fitsstruct axes;
  std::vector<std::string> texts = image_cards(-32);
  texts.push_back("CD1_1   =               -0.001");
  texts.push_back("CD1_2   =                  0.0");
  texts.push_back("CD2_1   =                  0.0");
  texts.push_back("CD2_2   =                0.001");
  parse_cards(&axes, texts);
  EXPECT_DOUBLE_EQ(axes.cdeltx, -0.001);
  EXPECT_DOUBLE_EQ(axes.cdelty, 0.001);
  EXPECT_EQ(axes.crotay, 0.0);

  // A matrix rotated by 30 degrees: CD = diag(-s, s) times the rotation.
  const double s = 0.001, theta = 30.0 / 57.29577951308232;
  fitsstruct rotated;
  texts = image_cards(-32);
  char line[81];
  std::snprintf(line, sizeof line, "CD1_1   = %20.12e", -s * std::cos(theta));
  texts.push_back(line);
  std::snprintf(line, sizeof line, "CD1_2   = %20.12e", -s * std::sin(theta));
  texts.push_back(line);
  std::snprintf(line, sizeof line, "CD2_1   = %20.12e", -s * std::sin(theta));
  texts.push_back(line);
  std::snprintf(line, sizeof line, "CD2_2   = %20.12e", s * std::cos(theta));
  texts.push_back(line);
  parse_cards(&rotated, texts);
  EXPECT_NEAR(rotated.crotay, 30.0, 1e-6);
  EXPECT_NEAR(rotated.cdeltx, -s, 1e-12);
  EXPECT_NEAR(rotated.cdelty, s, 1e-12);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(FitsHeaderParse, MissingCdTermsAreZero) {
  fitsstruct rec;
  std::vector<std::string> texts = image_cards(-32);
  texts.push_back("CD1_1   =               -0.002");
  texts.push_back("CD2_2   =                0.002");
  parse_cards(&rec, texts);
  EXPECT_DOUBLE_EQ(rec.cdeltx, -0.002);
  EXPECT_DOUBLE_EQ(rec.cdelty, 0.002);
  EXPECT_EQ(rec.crotay, 0.0);

  fitsstruct none;
  parse_cards(&none, image_cards(-32));
  EXPECT_EQ(none.crotay, 0.0);
  EXPECT_EQ(none.cdeltx, 0.0);
}

TEST(FitsHeaderParse, DisagreeingRotationsAreNotAveraged) {
  // rot = 30 degrees from the first row, rot2 = 40 from the second: ten
  // degrees apart, so a warning and the first rotation.
  const double s = 0.001, a = 30.0 / 57.29577951308232, b = 40.0 / 57.29577951308232;
  std::vector<std::string> texts = image_cards(-32);
  char line[81];
  std::snprintf(line, sizeof line, "CD1_1   = %20.12e", -s * std::cos(a));
  texts.push_back(line);
  std::snprintf(line, sizeof line, "CD1_2   = %20.12e", -s * std::sin(a));
  texts.push_back(line);
  std::snprintf(line, sizeof line, "CD2_1   = %20.12e", -s * std::sin(b));
  texts.push_back(line);
  std::snprintf(line, sizeof line, "CD2_2   = %20.12e", s * std::cos(b));
  texts.push_back(line);
  testing::internal::CaptureStdout();
  fitsstruct rec;
  parse_cards(&rec, texts);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING - Astrometry rot != rot2");
  EXPECT_NEAR(rec.crotay, 30.0, 1e-6);
}

TEST(FitsHeaderParse, RefusesBadSizesAndTypes) {
  std::vector<std::string> zero = image_cards(16);
  zero[3] = "NAXIS1  =                    0";
  std::vector<std::string> negative = image_cards(16);
  negative[4] = "NAXIS2  =                   -5";
  std::vector<std::string> huge = image_cards(16);
  huge[3] = "NAXIS1  =                70000";
  huge[4] = "NAXIS2  =                70000";
  std::vector<std::string> no_axes = image_cards(16);
  no_axes[2] = "NAXIS   =                    0";
  std::vector<std::string> bad_bitpix = image_cards(12);
  fitsstruct rec;
  EXPECT_EXIT_STATUS(parse_cards(&rec, zero), 1, "axis length below 1");
  EXPECT_EXIT_STATUS(parse_cards(&rec, negative), 1, "axis length below 1");
  EXPECT_EXIT_STATUS(parse_cards(&rec, huge), 1, "more than 2147483647 pixels");
  EXPECT_EXIT_STATUS(parse_cards(&rec, no_axes), 1, "NAXIS is not equal to 1,2, or 3");
  EXPECT_EXIT_STATUS(parse_cards(&rec, bad_bitpix), 1, "Sorry, I don't know that kind of data.");
}

TEST(FitsHeaderWrite, ScalingKeysOnlyWhenTheyScale) {
  fitsstruct rec;
  std::vector<std::string> texts = image_cards(16);
  texts.push_back("BZERO   =              32768.0");
  texts.push_back("BSCALE  =                  1.0");
  parse_cards(&rec, texts);
  updatefitsheader(&rec);
  EXPECT_GE(fitsfind(rec.fitshead, "BZERO   "), 0);
  EXPECT_GE(fitsfind(rec.fitshead, "BSCALE  "), 0);
  // A negligible offset is not written, and a card left from the input
  // must not scale data written without it.
  rec.bzero = 1e-9;
  updatefitsheader(&rec);
  EXPECT_EQ(fitsfind(rec.fitshead, "BZERO   "), -1);
  rec.bzero = 0.0;
  updatefitsheader(&rec);
  EXPECT_EQ(fitsfind(rec.fitshead, "BZERO   "), -1);
  EXPECT_EQ(fitsfind(rec.fitshead, "BSCALE  "), -1);
}

TEST(FitsHeaderWrite, AxisCardsFollowNaxisAndExtraAxesGo) {
  fitsstruct rec;
  std::vector<std::string> texts = {"SIMPLE  =                    T", "BITPIX  =                   16",
                                    "NAXIS   =                    3", "NAXIS1  =                    4",
                                    "NAXIS2  =                    3", "NAXIS3  =                    1",
                                    "OBJECT  = 'cube'"};
  parse_cards(&rec, texts);
  rec.naxis = 2;
  updatefitsheader(&rec);
  std::vector<std::string> cards = cards_of(rec);
  EXPECT_EQ(fitsfind(rec.fitshead, "NAXIS3  "), -1);
  EXPECT_EQ(cards[5].substr(0, 8), "OBJECT  ");

  fitsstruct line;
  parse_cards(&line, {"SIMPLE  =                    T", "BITPIX  =                  -32",
                      "NAXIS   =                    1", "NAXIS1  =                    4",
                      "OBJECT  = 'line'"});
  line.naxis = 2;
  line.height = line.naxisn[1] = 5;
  updatefitsheader(&line);
  EXPECT_EQ(fitsfind(line.fitshead, "NAXIS2  "), 4);
}

TEST(FitsHeaderRecord, CopiesAreDeep) {
  fitsstruct* original = new fitsstruct;
  std::vector<std::string> texts = image_cards(16);
  texts.push_back("HISTORY kept");
  parse_cards(original, texts);
  fitsstruct copy(*original);
  delete original;
  EXPECT_EQ(copy.bitpix, 16);
  EXPECT_EQ(std::string(copy.history, 4), "kept");
  updatefitsheader(&copy);
  EXPECT_GE(fitsfind(copy.fitshead, "HISTORY kept"), 0);
}

TEST(FitsHeaderBlocks, ReadStopsAtEndAndRefusesOtherFiles) {
  std::string good = card("SIMPLE  =                    T");
  for (int k = 0; k < 40; k++) good += card("COMMENT filler");
  good += card("END");
  good.resize(5760, ' ');
  good += "DATA";
  std::string path = fits_test::scratch("blocks.fits");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(good.data(), 1, good.size(), f);
  std::fclose(f);
  f = std::fopen(path.c_str(), "rb");
  int nblocks = 0;
  char* buf = readfitshead(f, path.c_str(), &nblocks);
  EXPECT_EQ(nblocks, 2);
  EXPECT_EQ(std::ftell(f), 5760);
  std::free(buf);
  std::fclose(f);

  std::string not_fits = fits_test::scratch("text.fits");
  f = std::fopen(not_fits.c_str(), "wb");
  std::fputs(std::string(2880, 'x').c_str(), f);
  std::fclose(f);
  std::string no_end = fits_test::scratch("noend.fits");
  f = std::fopen(no_end.c_str(), "wb");
  std::fwrite(good.data(), 1, 2880, f);
  std::fclose(f);
  EXPECT_EXIT_STATUS(
      {
        std::FILE* in = std::fopen(not_fits.c_str(), "rb");
        readfitshead(in, "text.fits", &nblocks);
      },
      1, "text.fits is NOT a FITS file!");
  EXPECT_EXIT_STATUS(
      {
        std::FILE* in = std::fopen(no_end.c_str(), "rb");
        readfitshead(in, "noend.fits", &nblocks);
      },
      1, "Error\\* while reading noend.fits");
}
