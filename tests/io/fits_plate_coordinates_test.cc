// The coordinates of a Digitized Sky Survey cut-out in a run's results. Such
// a cut-out (made by astropy in tests/io/data/astropy/make_plate_files.py,
// which checks the rule below against astropy's own reading of plate cards)
// has no CTYPE, CRPIX or CD: pixel p of axis n lies at plate offset
// (CNPIXn + p - 0.5) x the pixel size, and the plate's solution maps that
// offset to the sky. Each result pixel must lie at the plate offset of the
// input point it came from, every other plate card stay as written, no
// CTYPEn appear (WCSTools then read the results as linear), and fitsverify
// find nothing new.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "support/fits_real_keys.h"
#include "support/fitsverify.h"
#include "support/qz_mca_program.h"

using Keys = std::map<std::string, double>;

namespace {

const std::string kPlateFile = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/dss_plate.fits";
constexpr const char* kRun = "-t 1 -n 2 -i 1 ";
const char* const kResults[] = {"out.fits", "out_atrou.fits", "out_resi.fits"};
const char* const kMovedCards[] = {"CNPIX1", "CNPIX2", "XPIXELSZ", "YPIXELSZ"};

// Result pixel q of an axis is the input's point first + step (q - 1).
struct Axis {
  double first, step;
};

// The plate offset, in microns, of the 1-based pixel p of axis 1 or 2.
double plate_offset(const Keys& k, int axis, double p) {
  const char* corner = axis == 1 ? "CNPIX1" : "CNPIX2";
  const char* size = axis == 1 ? "XPIXELSZ" : "YPIXELSZ";
  return (k.at(corner) + p - 0.5) * k.at(size);
}

class PlateCoordinates : public QzMcaProgram {
 protected:
  // in.fits: the survey's cut-out, 50 x 60, less the cards named.
  void write_input(const std::vector<std::string>& left_out = {}) {
    const std::string bytes = fits_test::read_bytes(kPlateFile);
    ASSERT_FALSE(bytes.empty()) << kPlateFile;
    std::string header, data;
    std::size_t at = 0;
    for (;; at += 80) {
      const std::string card = bytes.substr(at, 80);
      const std::string keyword = card.substr(0, card.find_first_of(" ="));
      if (std::find(left_out.begin(), left_out.end(), keyword) == left_out.end()) header += card;
      if (keyword == "END") break;
    }
    header.resize((header.size() + 2879) / 2880 * 2880, ' ');
    fits_test::write_bytes(path("in.fits"), header + bytes.substr((at + 80 + 2879) / 2880 * 2880));
  }
  // The input's cards that describe the plate, as written.
  std::vector<std::string> plate_cards() const {
    std::vector<std::string> cards;
    for (const std::string& card : fits_test::header_cards(file_bytes("in.fits"))) {
      for (const char* prefix : {"PLT", "PPO", "AMD", "CNPIX", "XPIXELSZ", "YPIXELSZ"})
        if (card.compare(0, std::string(prefix).size(), prefix) == 0) cards.push_back(card);
    }
    return cards;
  }

  // Every result puts its corners and centre at the plate offsets of the
  // input points they came from, keeps every plate card but CNPIXn and the
  // pixel sizes as written (those too where `all_kept`), writes no CTYPEn
  // and passes fitsverify.
  void expect_plate_follows(const std::string& what, Axis axis1, Axis axis2, bool all_kept) {
    const Keys in = qz_test::real_keys(path("in.fits"));
    const std::vector<std::string> in_cards = plate_cards();
    ASSERT_EQ(in_cards.size(), 9u + 6u + 40u + 4u) << what;
    for (const char* name : kResults) {
      const std::string where = what + " " + name;
      const Keys out = qz_test::real_keys(path(name));
      ASSERT_TRUE(out.count("NAXIS1") && out.count("CNPIX1") && out.count("XPIXELSZ")) << where;
      const double n1 = out.at("NAXIS1"), n2 = out.at("NAXIS2");
      const std::pair<double, double> points[] = {{1, 1}, {n1, 1}, {1, n2}, {n1, n2}, {(n1 + 1) / 2, (n2 + 1) / 2}};
      for (const auto& p : points) {
        const double q1 = axis1.first + axis1.step * (p.first - 1), q2 = axis2.first + axis2.step * (p.second - 1);
        // A billionth of the input's pixel.
        EXPECT_NEAR(plate_offset(out, 1, p.first), plate_offset(in, 1, q1), 1e-9 * in.at("XPIXELSZ"))
            << where << " pixel " << p.first << "," << p.second;
        EXPECT_NEAR(plate_offset(out, 2, p.second), plate_offset(in, 2, q2), 1e-9 * in.at("YPIXELSZ"))
            << where << " pixel " << p.first << "," << p.second;
      }
      const std::vector<std::string> out_cards = fits_test::header_cards(file_bytes(name));
      for (const std::string& card : in_cards) {
        const std::string keyword = card.substr(0, card.find_first_of(" ="));
        const bool moved = std::find(std::begin(kMovedCards), std::end(kMovedCards), keyword) != std::end(kMovedCards);
        if (moved && !all_kept) continue;
        EXPECT_NE(std::find(out_cards.begin(), out_cards.end(), card), out_cards.end()) << where << ": " << card;
      }
      for (const std::string& card : out_cards) {
        EXPECT_NE(card.compare(0, 5, "CTYPE"), 0) << where << ": " << card;
        // A whole corner is written as the survey writes it, an integer.
        if (card.compare(0, 5, "CNPIX") == 0 && std::fmod(fits_test::number_of(card), 1.0) == 0.0) {
          EXPECT_EQ(card.substr(10, card.find('/') - 10).find('.'), std::string::npos) << where << ": " << card;
        }
      }
      if (qz_test::have_fitsverify()) {
        EXPECT_TRUE(qz_test::passes_fitsverify(path(name))) << where;
      }
    }
  }

  // The run ends with status 255, prints `message` and writes no result.
  void expect_refused(const std::string& args, const std::string& message) {
    EXPECT_EQ(run(std::string(kRun) + args + " out"), 255) << args << output_;
    EXPECT_TRUE(printed(message)) << args << ": " << output_;
    for (const char* name : kResults) EXPECT_FALSE(exists(name)) << args << " " << name;
  }
};

}  // namespace

// A section, straight, reversed or stepped, and -I, whose pixel q samples
// the input at (q + 1.5) / 4 (blocks of 4 x 4 centred on their pixel) or,
// with -H, at (q + 3) / 4. Left as they were, CNPIXn put a section's pixel
// (1,1) at the input's (1,1) (18 arc seconds off for [11:40,5:44]) and a
// zoomed pixel two minutes of arc off.
TEST_F(PlateCoordinates, EachResultPixelLiesWhereItsInputPointLies) {
  const struct {
    const char* args;
    Axis axis1, axis2;
  } rows[] = {
      {"in.fits", {1, 1}, {1, 1}},
      {"'in.fits[11:40,5:44]'", {11, 1}, {5, 1}},
      {"'in.fits[-*,*]'", {50, -1}, {1, 1}},
      {"'in.fits[40:11,-*]'", {40, -1}, {60, -1}},
      {"'in.fits[1:40:2,60:3:3]'", {1, 2}, {60, -3}},
      {"'in.fits[45:6:3,5:44:2]'", {45, -3}, {5, 2}},
      {"-I in.fits", {0.625, 0.25}, {0.625, 0.25}},
      {"-I -H in.fits", {1, 0.25}, {1, 0.25}},
  };
  for (const auto& row : rows) {
    write_input();
    ASSERT_EQ(run(std::string(kRun) + row.args + " out"), 0) << row.args << output_;
    const bool whole = row.axis1.first == 1 && row.axis1.step == 1 && row.axis2.first == 1 && row.axis2.step == 1;
    expect_plate_follows(row.args, row.axis1, row.axis2, whole);
  }
}

// Where the cards cannot be moved the run is refused: "-*:2" does not say at
// which pixel it begins, and a plate solution without a pixel size or a
// corner cannot be scaled or shifted. The whole image reads without them,
// and so does a section that leaves the axis of the missing card alone.
TEST_F(PlateCoordinates, WhatCannotBeMovedIsRefused) {
  write_input();
  expect_refused("'in.fits[-*:2,*]'",
                 "Error: the section [-*:2,*] reverses axis 1 in steps on an image with a DSS plate solution (CNPIX, "
                 "XPIXELSZ), and does not say at which pixel it begins: write the axis's last and first pixels for "
                 "-*, as [100:1:2] for an axis of 100 pixels ... (in.fits[-*:2,*])");
  ASSERT_EQ(run(std::string(kRun) + "'in.fits[50:1:2,*]' out"), 0) << output_;
  expect_plate_follows("[50:1:2,*]", {50, -2}, {1, 1}, false);
  for (const char* name : kResults) std::remove(path(name).c_str());

  write_input({"XPIXELSZ"});
  expect_refused("'in.fits[11:40,*]'",
                 "Error: the section [11:40,*] moves the pixels of an image whose DSS plate solution has no XPIXELSZ, "
                 "which says where they lie on the plate: read the whole image, or add the card ... "
                 "(in.fits[11:40,*])");
  write_input({"CNPIX2"});
  expect_refused("-I in.fits",
                 "Error: -I zooms an image whose DSS plate solution has no CNPIX2, which says where its pixels lie on "
                 "the plate: run without -I, or add the card ... (in.fits)");
  for (const char* args : {"in.fits", "'in.fits[11:40,*]'"}) {
    EXPECT_EQ(run(std::string(kRun) + args + " out"), 0) << args << output_;
    for (const char* name : kResults) std::remove(path(name).c_str());
  }
}
