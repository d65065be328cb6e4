// The one reader of cards against the FITS library itself: each card form
// is written into a file, and what the library makes of those bytes (where
// it ends the header, what its keyword search finds) is the reference.
#include "io/fits_cards.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fits_test_files.h"

using fits_test::card;
using fits_test::scratch;
using fits_test::write_bytes;

namespace {

// A primary header: SIMPLE, BITPIX 8, NAXIS 0, then the given cards, blank
// cards to the end of its first block, and END alone in a second block.
std::string header_of(const std::vector<std::string>& cards) {
  std::string header = card("SIMPLE  =                    T") + card("BITPIX  =                    8") +
                       card("NAXIS   =                    0");
  for (const std::string& text : cards) header += card(text);
  header.resize(2880, ' ');
  header += card("END");
  header.resize(5760, ' ');
  return header;
}

// Where the library ends the header of the file: the start of its data.
long long library_data_start(const std::string& path) {
  fitsfile* f = nullptr;
  int status = 0;
  LONGLONG head = 0, data = 0, end = 0;
  ffopen(&f, path.c_str(), READONLY, &status);
  ffghadll(f, &head, &data, &end, &status);
  int ignored = 0;
  if (f != nullptr) ffclos(f, &ignored);
  EXPECT_EQ(status, 0) << path;
  return data;
}

}  // namespace

// The library ends a header at the card its parser names END, whatever
// follows the name, and at no other: a header with the card in its first
// block ends there for the library exactly when end_card says so.
TEST(FitsCards, EndIsFoundAsTheLibraryFindsIt) {
  const std::string forms[] = {"END",
                               "END=",
                               "END =",
                               "END     X",
                               "END     = 3",
                               "END / a comment",
                               "HIERARCH END = 1",
                               "HIERARCH    END   = 1",
                               std::string("END\0\0\0\0", 7),
                               std::string("END\0XYZ", 7),
                               "end",
                               "End",
                               " END",
                               "ENDX",
                               "END'",
                               "END-",
                               "EN D",
                               "HIERARCH END X = 1",
                               "HIERARCH END",
                               "hierarch END = 1",
                               "HIERARCHEND = 1",
                               std::string("\0END", 4),
                               "ENDTIME = '12:00'"};
  const std::string path = scratch("end.fits");
  for (const std::string& form : forms) {
    write_bytes(path, header_of({"COMMENT before", form}));
    const bool library_ends = library_data_start(path) == 2880;
    EXPECT_EQ(end_card(card(form).c_str()), library_ends) << form;
    const std::string header = header_of({"COMMENT before", form});
    const char* found = first_end_card(header.data(), header.size());
    EXPECT_EQ(found - header.data(), library_ends ? 4 * 80 : 2880) << form;
  }
}

// Cards the library finds by its keyword search (a tile-compressed image's
// scaling and blank value, GROUPS, a name's version): in any letter case,
// HIERARCH and a misplaced '=' too, the first copy, none past END. The
// library's own search on the same header is the reference.
TEST(FitsCards, SearchedCardsAreFoundAsTheLibraryFindsThem) {
  const struct {
    const char* key;
    std::vector<std::string> cards;
  } cases[] = {
      {"BSCALE", {"bscale  =                    2"}},
      {"BZERO", {"bzero   =                 -3.5"}},
      {"BLANK", {"blank   =                  -99"}},
      {"BSCALE", {"Bscale  = 4", "BSCALE  = 5"}},
      {"BZERO", {"BZERO X= 7"}},
      {"BLANK", {"HIERARCH BLANK = 12"}},
      {"BSCALE", {"COMMENT bscale = 2"}},
      {"BLANK", {"BLANKS  =                    3"}},
      {"GROUPS", {"groups  =                    T"}},
      {"EXTVER", {"extver  =                  2.7", "EXTVER  =                    4"}},
      {"ZBLANK", {"zblank  =                    9"}},
  };
  const std::string path = scratch("search.fits");
  for (const auto& c : cases) {
    std::vector<std::string> cards = c.cards;
    cards.push_back("END=");
    cards.push_back(c.key + std::string(" = 1234"));  // past the END that the library finds
    const std::string header = header_of(cards);
    write_bytes(path, header);
    fitsfile* f = nullptr;
    int status = 0;
    ffopen(&f, path.c_str(), READONLY, &status);
    ASSERT_EQ(status, 0) << c.key;
    double library_value = 0;
    const int found = ffgkyd(f, c.key, &library_value, nullptr, &status);
    ffclos(f, &status);
    const char* ours = library_card(header.data(), header.size(), c.key);
    ASSERT_EQ(ours != nullptr, found == 0) << c.key << " " << c.cards[0];
    double value = 0;
    if (ours != nullptr) {
      EXPECT_TRUE(value_real(card_value(ours), &value)) << c.key;
      EXPECT_EQ(value, library_value) << c.key << " " << c.cards[0];
    }
  }
}

// The integer conversions against hand-derived values: the lenient one
// takes what the library takes where it reads a keyword it asked for (a
// real cut toward zero, a logical, a number in quotes); the strict one an
// integer as written, and an empty value as 0, as the library reads the
// cards that lay out an HDU. Cards reach the parser as the library hands
// them on.
TEST(FitsCards, ConversionsTakeWhatTheLibraryTakes) {
  const struct {
    const char* value;
    bool lenient;
    long long lenient_value;
    bool strict;
    long long strict_value;
  } integers[] = {{"5", true, 5, true, 5},      {"+5", true, 5, true, 5},
                  {"5.0", true, 5, false, 0},   {"2.7", true, 2, false, 0},
                  {"'5'", true, 5, false, 0},   {"T", true, 1, false, 0},
                  {"abc", false, 0, false, 0},  {"", false, 0, true, 0},
                  {"1E2", true, 100, false, 0}, {"9223372036854775808", false, 0, false, 0}};
  for (const auto& row : integers) {
    long long value = -7;
    EXPECT_EQ(value_integer(row.value, &value), row.lenient) << row.value;
    if (row.lenient) {
      EXPECT_EQ(value, row.lenient_value) << row.value;
    }
    value = -7;
    EXPECT_EQ(value_integer_strict(row.value, &value), row.strict) << row.value;
    if (row.strict) {
      EXPECT_EQ(value, row.strict_value) << row.value;
    }
  }
  // Trailing blanks are off before the parser sees a card: "ZVAL2=2" holds
  // no value for the library, a card written with "= " does.
  EXPECT_EQ(card_value(card("ZVAL2=2").c_str()), "");
  EXPECT_EQ(card_value(card("ZVAL2   = 2").c_str()), "2");
  EXPECT_EQ(card_keyword(card("HIERARCH NAXIS = 2").c_str()), "NAXIS");
  EXPECT_EQ(card_keyword(card("NAXIS1 X= 10").c_str()), "NAXIS1");
  EXPECT_EQ(opening_keyword(card("SIMPLE X= T").c_str()), "SIMPLE X");
  EXPECT_EQ(opening_keyword(std::string("SIMPLE\0\0=  T", 12).c_str()), "SIMPLE");
}

// Copies of a card the library does not read itself are one card only when
// their values are the same: numbers of exactly the same value, whatever
// their digits, or strings alike but for trailing blanks. Two integers
// that one double holds (2^53 + 1 and 2^53) or two reals that round to one
// double differ; the cards the library reads compare as it reads them.
TEST(FitsCards, CopiesAgreeOnlyWhenTheirValuesAreTheSame) {
  const struct {
    const char* first;
    const char* second;
    card_kind kind;
    bool alike;
  } rows[] = {
      {"9007199254740993", "9007199254740992", card_kind::any, false},
      {"12345678901234567890", "12345678901234567891", card_kind::any, false},
      {"0.1", "0.10000000000000001", card_kind::any, false},
      {"-5", "5", card_kind::any, false},
      {"32", "'32'", card_kind::any, false},
      {"1", "T", card_kind::any, false},
      {"1.0", "1", card_kind::any, true},
      {"150", "1.50E2", card_kind::any, true},
      {"+150", "1.5D2", card_kind::any, true},
      {"0.05", "5E-2", card_kind::any, true},
      {"00042", "42.000", card_kind::any, true},
      {"-0.0", "0", card_kind::any, true},
      {"9007199254740993", "9007199254740993", card_kind::any, true},
      {"'SCI'", "'SCI   '", card_kind::any, true},
      {"' SCI'", "'SCI'", card_kind::any, false},
      // Read by the library: alike as it converts them.
      {"5.0", "5", card_kind::integer, true},
      {"9007199254740993", "9007199254740992", card_kind::integer, false},
      {"0.1", "0.10000000000000001", card_kind::real, true},
  };
  for (const auto& row : rows) {
    const std::string a = card(std::string("IDNUM   = ") + row.first);
    const std::string b = card(std::string("IDNUM   = ") + row.second);
    EXPECT_EQ(copies_alike(a.c_str(), b.c_str(), row.kind), row.alike) << row.first << " " << row.second;
    EXPECT_EQ(copies_alike(b.c_str(), a.c_str(), row.kind), row.alike) << row.second << " " << row.first;
  }
}

// The passes over every card of a header name each card once, keyword and
// value together: the same as the library's two parsers give one by one,
// for every form the reader meets.
TEST(FitsCards, NamingACardOnceGivesItsKeywordAndValue) {
  const std::string forms[] = {"NAXIS1  =                   32 / columns", "NAXIS1  X=                   32",
                               "HIERARCH ESO DET CHIP = 'a' / b",     "bscale  = 0.5",
                               "COMMENT = 'not a value'",             "HISTORY made here",
                               "OBJECT  = 'it''s / here' / comment",  "ZVAL2=2",
                               "END",                                 std::string("OBS\0ER = 'ab'", 13),
                               "",                                    "KEY     =",
                               "LONGSTRN= 'ab&'",                     "CONTINUE  'c'"};
  for (const std::string& form : forms) {
    const std::string text = card(form);
    const named_card named = card_named(text.c_str());
    EXPECT_EQ(named.keyword, card_keyword(text.c_str())) << form;
    EXPECT_EQ(named.value, card_value(text.c_str())) << form;
  }
}
