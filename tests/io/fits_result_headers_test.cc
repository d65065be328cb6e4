// The headers of a run's results: whatever form of a card the library read
// in the input, every result is a FITS file that other readers take, and
// no card whose value differs from another copy's is lost on the way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fits_test_files.h"
#include "support/fitsverify.h"
#include "support/qz_mca_program.h"

using fits_test::card;

namespace {

class ResultHeaders : public QzMcaProgram {
 protected:
  // A 32 x 32 BITPIX -32 image: its structure cards (any of them replaced),
  // the extra cards, END, and a ramp of pixels.
  void write_input(const std::string& name, const std::vector<std::string>& structure,
                   const std::vector<std::string>& extra = {}) {
    std::string bytes;
    for (const std::string& text : structure) bytes += card(text);
    for (const std::string& text : extra) bytes += card(text);
    bytes += card("END");
    bytes.resize((bytes.size() + 2879) / 2880 * 2880, ' ');
    std::string data(32 * 32 * 4, '\0');
    for (std::size_t k = 0; k < 32 * 32; k++) {
      data[4 * k] = 0x41;  // 8 + k / 64 as a big-endian float
      data[4 * k + 1] = static_cast<char>(k / 8);
    }
    data.resize(3 * 2880, '\0');
    fits_test::write_bytes(path(name), bytes + data);
  }
  static std::vector<std::string> structure() {
    return {"SIMPLE  =                    T", "BITPIX  =                  -32", "NAXIS   =                    2",
            "NAXIS1  =                   32", "NAXIS2  =                   32"};
  }
  static constexpr const char* kRun = "-t 1 -n 2 -i 1 ";
  static constexpr const char* kResults[3] = {"out.fits", "out_atrou.fits", "out_resi.fits"};
};

}  // namespace

// `NAXIS1  X=   32` (the keyword alone in columns 1 to 8, junk before the
// '='), and the same for BITPIX and NAXIS, read as the library reads them;
// every result holds the structure cards in the standard's fixed form and
// passes fitsverify, whose reader took the "X=" card for no value at all.
TEST_F(ResultHeaders, StructureCardsOfEveryResultAreStandard) {
  const struct {
    std::size_t at;
    const char* written;
  } rows[] = {{1, "BITPIX  X=                  -32"},
              {2, "NAXIS   X=                    2"},
              {3, "NAXIS1  X=                   32"},
              {4, "NAXIS2  =32"}};
  for (const auto& row : rows) {
    std::vector<std::string> cards = structure();
    cards[row.at] = row.written;
    write_input("in.fits", cards, {"OBJECT  = 'ramp'"});
    ASSERT_EQ(run(std::string(kRun) + "in.fits out"), 0) << row.written << output_;
    for (const char* name : kResults) {
      const std::vector<std::string> written = fits_test::header_cards(file_bytes(name));
      ASSERT_GT(written.size(), 5u) << name;
      for (std::size_t k = 1; k < 5; k++) EXPECT_EQ(written[k], card(structure()[k])) << row.written << " " << name;
      const FitsImage back = result(name);
      EXPECT_EQ(back.nl, 32) << row.written << " " << name;
      EXPECT_EQ(back.nc, 32) << row.written << " " << name;
      if (qz_test::have_fitsverify()) {
        EXPECT_TRUE(qz_test::passes_fitsverify(path(name))) << row.written << " " << name;
      }
    }
  }
}

// Copies of a card whose values differ, though a double holds both, reach
// every result; a copy alike to one before it is written once.
TEST_F(ResultHeaders, CopiesThatDifferReachEveryResult) {
  write_input("in.fits", structure(),
              {"IDNUM   =     9007199254740993", "IDNUM   =     9007199254740992", "OBSA    =                    1",
               "OBSA    =                    1", "OBSB    =                    5", "OBSC    =                    7",
               "OBSB    =                    7"});
  ASSERT_EQ(run(std::string(kRun) + "in.fits out"), 0) << output_;
  for (const char* name : kResults) {
    const FitsImage back = result(name);
    std::vector<std::string> copies;
    for (const std::string& c : back.cards)
      if (c.compare(0, 5, "IDNUM") == 0 || c.compare(0, 3, "OBS") == 0) copies.push_back(c);
    const std::vector<std::string> expected = {
        "IDNUM   =     9007199254740993", "IDNUM   =     9007199254740992", "OBSA    =                    1",
        "OBSB    =                    5", "OBSC    =                    7", "OBSB    =                    7"};
    EXPECT_EQ(copies, expected) << name;
  }
}

// A structure card given again as a string: the library reads the first,
// another reader might read either; refused naming both copies, and no
// result is left.
TEST_F(ResultHeaders, AStructureCardGivenAgainAsAStringIsRefused) {
  write_input("twice.fits", structure(), {"NAXIS1  =                 '32'"});
  EXPECT_EQ(run(std::string(kRun) + "twice.fits out"), 255);
  EXPECT_TRUE(printed("Error: the header holds the card NAXIS1 more than once, with values that differ (NAXIS1 = 32, "
                      "then NAXIS1 = '32'): remove the wrong one ... (twice.fits)"))
      << output_;
  for (const char* name : kResults) EXPECT_FALSE(exists(name)) << name;
}

// Copies whose digits agree but whose values differ by a power of ten, by
// the place of the point, the exponent or the sign, are different numbers:
// both reach every result. Copies of one value in other forms (an
// exponent, trailing zeros, D for E, a leading '+') are one card, written
// once.
TEST_F(ResultHeaders, CopiesThatDifferByAPowerOfTenBothStay) {
  const struct {
    const char* first;
    const char* second;
    bool both;  // kept, as values that differ
  } pairs[] = {
      {"EXPTIME =                   15", "EXPTIME =                  150", true},
      {"GAIN    =                  1.5", "GAIN    =                   15", true},
      {"RDNOISE =                 0.15", "RDNOISE =                  1.5", true},
      {"SATURATE=               1.5E04", "SATURATE=                15000", false},
      {"DARKCUR =                1.5E3", "DARKCUR =                1.5E4", true},
      {"FLUXA   =               1.50D2", "FLUXA   =                  150", false},
      {"FLUXB   =                150.0", "FLUXB   =                   15", true},
      {"FLUXC   =                 +150", "FLUXC   =               1500.0", true},
      {"FLUXD   =                 -1.5", "FLUXD   =                  1.5", true},
      {"FLUXE   =               0.0150", "FLUXE   =              1.5E-02", false},
  };
  std::vector<std::string> extra;
  for (const auto& p : pairs) extra.insert(extra.end(), {p.first, p.second});
  write_input("in.fits", structure(), extra);
  ASSERT_EQ(run(std::string(kRun) + "in.fits out"), 0) << output_;
  for (const char* name : kResults) {
    const FitsImage back = result(name);
    for (const auto& p : pairs) {
      const std::string key = std::string(p.first).substr(0, 8);
      std::vector<std::string> copies;
      for (const std::string& c : back.cards)
        if (c.compare(0, 8, key) == 0) copies.push_back(c);
      std::vector<std::string> expected = {p.first};
      if (p.both) expected.push_back(p.second);
      EXPECT_EQ(copies, expected) << name << " " << key;
    }
  }
}
