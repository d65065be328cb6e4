// The coordinates of a run's results, read back with CFITSIO and evaluated
// here as the FITS papers define them: every result gives each of its pixels
// the world coordinates the input gave that pixel (for a section, the input
// pixel it came from), the cards the run has no reason to change stay as the
// input wrote them, and every result passes fitsverify.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "support/fits_real_keys.h"
#include "support/fitsverify.h"
#include "support/qz_mca_program.h"

using fits_test::card;
using qz_test::key_or;
using Keys = std::map<std::string, double>;

namespace {

const std::string kAstropy = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";
constexpr int kColumns = 50, kLines = 60;
constexpr const char* kRun = "-t 1 -n 2 -i 1 ";
const char* const kResults[] = {"out.fits", "out_atrou.fits", "out_resi.fits"};

// The intermediate world coordinates that description `letter` (' ' the
// primary one) gives the 1-based pixel (p1, p2) of a plane, pixel 1 of a
// third axis: the CD matrix where it has one, else CDELTi (1 when left out)
// times row i of PC (the unit matrix when left out) or the rotation CROTA2;
// SIP's polynomial on the pixel offsets first where A_ORDER stands. The
// primary description's matrices may go by their 1996 names, PC00i00j and
// CD00i00j.
std::array<double, 3> world(const Keys& k, char letter, double p1, double p2) {
  const std::string s = letter == ' ' ? "" : std::string(1, letter);
  auto at = [&](const std::string& key, double absent) { return key_or(k, key + s, absent); };
  // The card of a matrix's term: the 1996 name where only it stands.
  auto card_of = [&](const char* matrix, int i, int j) {
    const std::string modern = matrix + std::to_string(i) + "_" + std::to_string(j) + s,
                      old = matrix + ("00" + std::to_string(i)) + "00" + std::to_string(j);
    return letter == ' ' && !k.count(modern) && k.count(old) ? old : modern;
  };
  auto term = [&](const char* matrix, int i, int j, double absent) {
    return key_or(k, card_of(matrix, i, j), absent);
  };
  auto any = [&](const char* matrix) {
    for (int i = 1; i <= 3; i++)
      for (int j = 1; j <= 3; j++)
        if (k.count(card_of(matrix, i, j))) return true;
    return false;
  };
  double u[3] = {p1 - at("CRPIX1", 0), p2 - at("CRPIX2", 0), 1 - at("CRPIX3", 0)};
  if (letter == ' ' && k.count("A_ORDER")) {
    double du = 0, dv = 0;
    for (int p = 0; p <= 9; p++)
      for (int q = 0; p + q <= 9; q++) {
        const std::string term = std::to_string(p) + "_" + std::to_string(q);
        du += key_or(k, "A_" + term, 0) * std::pow(u[0], p) * std::pow(u[1], q);
        dv += key_or(k, "B_" + term, 0) * std::pow(u[0], p) * std::pow(u[1], q);
      }
    u[0] += du, u[1] += dv;
  }
  double m[3][3];
  const bool cd = any("CD");
  for (int i = 1; i <= 3; i++)
    for (int j = 1; j <= 3; j++)
      m[i - 1][j - 1] =
          cd ? term("CD", i, j, 0) : at("CDELT" + std::to_string(i), 1) * term("PC", i, j, i == j ? 1 : 0);
  if (!cd && !any("PC") && letter == ' ' && k.count("CROTA2")) {
    const double r = k.at("CROTA2") * 3.14159265358979323846 / 180, c1 = at("CDELT1", 1), c2 = at("CDELT2", 1);
    m[0][0] = c1 * std::cos(r), m[0][1] = -c2 * std::sin(r), m[1][0] = c1 * std::sin(r), m[1][1] = c2 * std::cos(r);
  }
  std::array<double, 3> w{};
  for (int i = 0; i < 3; i++) w[i] = m[i][0] * u[0] + m[i][1] * u[1] + m[i][2] * u[2];
  return w;
}

// IRAF's physical pixel of the 1-based pixel (p1, p2): pixel = LTM physical
// + LTV.
std::array<double, 2> physical(const Keys& k, double p1, double p2) {
  const double m11 = key_or(k, "LTM1_1", 1), m12 = key_or(k, "LTM1_2", 0), m21 = key_or(k, "LTM2_1", 0),
               m22 = key_or(k, "LTM2_2", 1);
  const double d1 = p1 - key_or(k, "LTV1", 0), d2 = p2 - key_or(k, "LTV2", 0), det = m11 * m22 - m12 * m21;
  return {(m22 * d1 - m12 * d2) / det, (-m21 * d1 + m11 * d2) / det};
}

// The numeric cards of a header by keyword, each the first copy, as the
// FITS library reads a card given twice.
Keys first_copies(const std::string& bytes) {
  Keys keys;
  for (const std::string& text : fits_test::header_cards(bytes)) {
    if (text.compare(8, 2, "= ") != 0) continue;
    const std::string value = text.substr(10);
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (end != value.c_str()) keys.emplace(text.substr(0, text.find(' ')), number);
  }
  return keys;
}

// Where a result pixel lies on the input: first + step (p - 1) on each axis.
struct Axis {
  double first, step;
};

// An input image, 50 x 60, and the coordinate descriptions it holds.
struct Input {
  const char* what;
  const char* astropy_file;  // in the astropy data, or nullptr for the cards
  std::vector<std::string> cards;
  const char* letters;  // the descriptions, ' ' for the primary one
};

const Input kInputs[] = {
    {"astropy's rotated PC matrix beside CDELT", "rotated_pc.fits", {}, " "},
    {"a PC matrix without CDELT",
     nullptr,
     {"CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'", "CRVAL1  =                150.0", "CRVAL2  =                  2.0",
      "CRPIX1  =                 24.0", "CRPIX2  =                 31.5", "PC1_1   = -1.7320508075688772E-04",
      "PC1_2   =              1.0E-04", "PC2_1   =              1.5E-04", "PC2_2   =  2.598076211353316E-04"},
     " "},
    {"a CD matrix, and alternates by PC with and without CDELT",
     nullptr,
     {"CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'", "CRVAL1  =                150.0", "CRVAL2  =                  2.0",
      "CRPIX1  =                 22.0", "CRPIX2  =                 35.5", "CD1_1   = -1.7320508075688772E-04",
      "CD1_2   =              1.0E-04", "CD2_1   =              1.0E-04", "CD2_2   =  1.7320508075688772E-04",
      "CTYPE1A = 'RA---TAN'", "CTYPE2A = 'DEC--TAN'", "CRVAL1A =                150.0", "CRVAL2A =                  2.0",
      "CRPIX1A =                 10.0", "CRPIX2A =                 12.5", "CDELT1A =             -3.0E-04",
      "CDELT2A =              2.0E-04", "PC1_1A  =                  0.8", "PC1_2A  =                 -0.6",
      "PC2_1A  =                  0.6", "PC2_2A  =                  0.8", "CTYPE1B = 'LINEAR'", "CTYPE2B = 'LINEAR'",
      "CRPIX1B =                  5.0", "CRPIX2B =                  7.0", "PC1_2B  =                 0.25",
      "PC2_1B  =                 -0.5"},
     " AB"},
    {"CDELT and CROTA2",
     nullptr,
     {"CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'", "CRVAL1  =                150.0", "CRVAL2  =                  2.0",
      "CRPIX1  =                 26.0", "CRPIX2  =                 21.0", "CDELT1  =             -2.0E-04",
      "CDELT2  =              3.0E-04", "CROTA2  =                 25.0"},
     " "},
    {"IRAF's physical pixels beside CDELT",
     nullptr,
     {"CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'", "CRVAL1  =                150.0", "CRVAL2  =                  2.0",
      "CRPIX1  =                 26.0", "CRPIX2  =                 21.0", "CDELT1  =             -2.0E-04",
      "CDELT2  =              2.0E-04", "LTV1    =               -100.0", "LTV2    =                -37.5",
      "LTM1_1  =                  0.5", "LTM1_2  =                0.125", "LTM2_2  =                  0.5"},
     " "},
    {"astropy's plane of a radio cube", "radio_plane_4axes.fits", {}, " "},
    // Either IRAF card marks physical pixels, the other taking its default.
    {"IRAF's LTV alone",
     nullptr,
     {"CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'", "CRVAL1  =                150.0", "CRVAL2  =                  2.0",
      "CRPIX1  =                 26.0", "CRPIX2  =                 21.0", "CDELT1  =             -2.0E-04",
      "CDELT2  =              2.0E-04", "LTV1    =               -100.0", "LTV2    =                -37.5"},
     " "},
    {"IRAF's LTM alone",
     nullptr,
     {"CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'", "CRVAL1  =                150.0", "CRVAL2  =                  2.0",
      "CRPIX1  =                 26.0", "CRPIX2  =                 21.0", "CDELT1  =             -2.0E-04",
      "CDELT2  =              2.0E-04", "LTM1_1  =                  0.5", "LTM2_2  =                 0.25"},
     " "},
    // The library moves only the CRPIX cards that stand: a description
    // leaves out CRPIXn for its default 0.
    {"no CRPIXn: a CD matrix, and alternates by PC with CRPIX1A alone and by CDELT alone",
     nullptr,
     {"CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'", "CRVAL1  =                150.0", "CRVAL2  =                  2.0",
      "CD1_1   = -1.7320508075688772E-04", "CD1_2   =              1.0E-04", "CD2_1   =              1.0E-04",
      "CD2_2   =  1.7320508075688772E-04", "CTYPE1A = 'RA---TAN'", "CTYPE2A = 'DEC--TAN'",
      "CRVAL1A =                150.0", "CRVAL2A =                  2.0", "CRPIX1A =                 10.0",
      "CDELT1A =             -3.0E-04", "CDELT2A =              2.0E-04", "PC1_1A  =                  0.8",
      "PC1_2A  =                 -0.6", "PC2_1A  =                  0.6", "PC2_2A  =                  0.8",
      "CTYPE1B = 'LINEAR'", "CTYPE2B = 'LINEAR'", "CDELT1B =                  0.5", "CDELT2B =                  2.0"},
     " AB"},
    {"the 1996 names PC00i00j beside CDELT", "wcs_1996_pc.fits", {}, " "},
    {"the 1996 names CD00i00j", "wcs_1996_cd.fits", {}, " "},
    {"a spectral plane whose frequency leans on the pixels, by PC", "spectral_plane_pc.fits", {}, " "},
    {"a spectral plane whose frequency leans on the pixels, by CD", "spectral_plane_cd.fits", {}, " "},
};

// The input whose description begins with `what`, so that a row names
// the input it means however the table above grows.
const Input& input_named(const std::string& what) {
  for (const Input& input : kInputs)
    if (std::string(input.what).compare(0, what.size(), what) == 0) return input;
  ADD_FAILURE() << "no input " << what;
  return kInputs[0];
}

// SIP coordinates: a CD matrix and second-order terms.
const std::vector<std::string> kSipCards = {
    "CTYPE1  = 'RA---TAN-SIP'", "CTYPE2  = 'DEC--TAN-SIP'", "CRVAL1  =                150.0",
    "CRVAL2  =                  2.0", "CRPIX1  =                 24.0", "CRPIX2  =                 31.5",
    "CD1_1   = -1.7320508075688772E-04", "CD1_2   =              1.0E-04", "CD2_1   =              1.0E-04",
    "CD2_2   =  1.7320508075688772E-04", "A_ORDER =                    2", "A_2_0   =              2.0E-05",
    "A_1_1   =             -1.5E-05", "A_0_2   =              1.0E-05", "B_ORDER =                    2",
    "B_2_0   =             -1.0E-05", "B_1_1   =              3.0E-05", "B_0_2   =              2.5E-05"};

struct Section {
  const char* text;  // "" for the whole image
  Axis axis1, axis2;
  const char* options = "";
};

const Section kSections[] = {
    {"", {1, 1}, {1, 1}},
    {"11:40,5:44", {11, 1}, {5, 1}},
    {"-*,*", {kColumns, -1}, {1, 1}},
    {"40:11,5:44", {40, -1}, {5, 1}},
    {"*,-*", {1, 1}, {kLines, -1}},
    {"-*,-*", {kColumns, -1}, {kLines, -1}},
    {"1:40:2,1:60:3", {1, 2}, {1, 3}},
    {"45:6:3,-*", {45, -3}, {kLines, -1}},
    // Zoomed 4 times into blocks: input pixel p is the centre of result
    // pixels 4 p - 3 to 4 p, so result pixel r lies at (r + 1.5) / 4.
    {"", {0.625, 0.25}, {0.625, 0.25}, "-I "},
    {"40:11,5:44", {40.375, -0.25}, {5 - 0.375, 0.25}, "-I "},
};

class ResultCoordinates : public QzMcaProgram {
 protected:
  // in.fits: a 50 x 60 BITPIX -32 ramp with the given cards, or a copy of
  // an astropy file.
  void write_input(const Input& input) {
    if (input.astropy_file != nullptr) {
      const std::string bytes = fits_test::read_bytes(kAstropy + input.astropy_file);
      ASSERT_FALSE(bytes.empty()) << input.astropy_file;
      return fits_test::write_bytes(path("in.fits"), bytes);
    }
    write_cards(input.cards);
  }
  void write_cards(const std::vector<std::string>& cards) {
    std::string bytes = card("SIMPLE  =                    T") + card("BITPIX  =                  -32") +
                        card("NAXIS   =                    2") + card("NAXIS1  =                   50") +
                        card("NAXIS2  =                   60");
    for (const std::string& text : cards) bytes += card(text);
    bytes += card("END");
    bytes.resize((bytes.size() + 2879) / 2880 * 2880, ' ');
    std::string data(static_cast<std::size_t>(kColumns) * kLines * 4, '\0');
    for (std::size_t k = 0; k < data.size() / 4; k++) {
      data[4 * k] = 0x42;  // 32 + k / 2^18 as a big-endian float
      data[4 * k + 2] = static_cast<char>(k >> 8);
      data[4 * k + 3] = static_cast<char>(k);
    }
    data.resize((data.size() + 2879) / 2880 * 2880, '\0');
    fits_test::write_bytes(path("in.fits"), bytes + data);
  }
  std::string run_on(const std::string& section, const std::string& options = "") {
    const std::string name = section.empty() ? "in.fits" : "'in.fits[" + section + "]'";
    return std::string(kRun) + options + name + " out";
  }

  // Each result gives its corners and centre the coordinates the input
  // gives the input pixels they came from, in every description and in
  // IRAF's physical pixels where the input has them (and none where it has
  // not); and passes fitsverify.
  void expect_coordinates_follow(const std::string& what, const char* letters, Axis axis1, Axis axis2) {
    expect_coordinates_follow(what, letters, axis1, axis2, qz_test::real_keys(path("in.fits")),
                              [&](const char* name) { return qz_test::real_keys(path(name)); });
  }
  // The same, from the input's keys and each result's as `keys_of` reads
  // them.
  template <class Reader>
  void expect_coordinates_follow(const std::string& what, const char* letters, Axis axis1, Axis axis2,
                                 const Keys& in, Reader keys_of) {
    const bool iraf = std::any_of(in.begin(), in.end(), [](const auto& key) {
      return key.first.compare(0, 3, "LTV") == 0 || key.first.compare(0, 3, "LTM") == 0;
    });
    for (const char* name : kResults) {
      const std::string where = what + " " + name;
      const Keys out = keys_of(name);
      ASSERT_TRUE(out.count("NAXIS1")) << where;
      // Physical pixels are IRAF's: an image without them gains none.
      for (const auto& [key, value] : out)
        EXPECT_TRUE(iraf || (key.compare(0, 3, "LTV") != 0 && key.compare(0, 3, "LTM") != 0)) << where << " " << key;
      // A section's step is already in the columns of a CD matrix: made
      // a CDELTn as well, it would be counted twice by readers of both.
      for (const char* letter = letters; *letter != '\0'; letter++) {
        const std::string s = *letter == ' ' ? "" : std::string(1, *letter);
        if (!in.count("CD1_1" + s) && !in.count("CD1_2" + s) && !in.count("CD2_1" + s) && !in.count("CD2_2" + s))
          continue;
        const std::pair<const char*, double> steps[] = {{"CDELT1", axis1.step}, {"CDELT2", axis2.step}};
        for (const auto& [cdelt, step] : steps) {
          if (!in.count(cdelt + s) && step != 1) {
            EXPECT_NE(key_or(out, cdelt + s, 0), step) << where << " " << cdelt << s;
          }
        }
      }
      const double n1 = out.at("NAXIS1"), n2 = out.at("NAXIS2");
      const double points[5][2] = {{1, 1}, {n1, 1}, {1, n2}, {n1, n2}, {(n1 + 1) / 2, (n2 + 1) / 2}};
      for (const auto& p : points) {
        const double q1 = axis1.first + axis1.step * (p[0] - 1), q2 = axis2.first + axis2.step * (p[1] - 1);
        for (const char* letter = letters; *letter != '\0'; letter++) {
          const std::array<double, 3> got = world(out, *letter, p[0], p[1]), want = world(in, *letter, q1, q2),
                                      next = world(in, *letter, q1 + 1, q2), above = world(in, *letter, q1, q2 + 1);
          // A billionth of the input's pixel; on a third axis, of what
          // a pixel changes it by.
          const double tolerance = 1e-9 * std::hypot(next[0] - want[0], next[1] - want[1]),
                       tolerance3 = 1e-9 * (std::fabs(next[2] - want[2]) + std::fabs(above[2] - want[2])) +
                                    1e-15 * std::fabs(want[2]);
          EXPECT_NEAR(got[0], want[0], tolerance) << where << " '" << *letter << "' pixel " << p[0] << "," << p[1];
          EXPECT_NEAR(got[1], want[1], tolerance) << where << " '" << *letter << "' pixel " << p[0] << "," << p[1];
          EXPECT_NEAR(got[2], want[2], tolerance3) << where << " '" << *letter << "' axis 3, pixel " << p[0] << ","
                                                   << p[1];
        }
        if (iraf) {
          const std::array<double, 2> got = physical(out, p[0], p[1]), want = physical(in, q1, q2);
          EXPECT_NEAR(got[0], want[0], 1e-9) << where << " physical pixel " << p[0] << "," << p[1];
          EXPECT_NEAR(got[1], want[1], 1e-9) << where << " physical pixel " << p[0] << "," << p[1];
        }
      }
      if (qz_test::have_fitsverify()) {
        EXPECT_TRUE(qz_test::passes_fitsverify(path(name))) << where;
      }
    }
  }

  // The run on `section` ends with status 255, prints `message` and writes
  // no result.
  void expect_refused(const std::string& section, const std::string& message) {
    EXPECT_EQ(run(run_on(section)), 255) << section << output_;
    EXPECT_TRUE(printed(message)) << output_;
    for (const char* name : kResults) EXPECT_FALSE(exists(name)) << section << " " << name;
  }

  // The input's cards whose keyword is one of `keys` stand in every result
  // as written, column for column; how many there were.
  std::size_t expect_cards_kept(const std::vector<std::string>& keys, const std::string& what) {
    std::size_t kept = 0;
    for (const std::string& in_card : fits_test::header_cards(file_bytes("in.fits"))) {
      const std::string keyword = in_card.substr(0, in_card.find_first_of(" =", 0));
      if (std::find(keys.begin(), keys.end(), keyword) == keys.end()) continue;
      kept++;
      for (const char* name : kResults) {
        const std::vector<std::string> out = fits_test::header_cards(file_bytes(name));
        EXPECT_NE(std::find(out.begin(), out.end(), in_card), out.end()) << what << " " << name << ": " << in_card;
      }
    }
    return kept;
  }
};

}  // namespace

// A plane cut from a radio cube with astropy keeps the cube's header: a 2D
// image whose cards describe 3 or 4 axes. Their cards were written back as
// 0 (CDELT3 = 0 fails fitsverify, and astropy's WCS refuses the result).
TEST_F(ResultCoordinates, APlaneOfARadioCubeKeepsItsThirdAndFourthAxes) {
  for (const char* file : {"radio_plane_3axes.fits", "radio_plane_4axes.fits"}) {
    const Input input = {file, file, {}, " "};
    write_input(input);
    ASSERT_EQ(run(run_on("")), 0) << file << output_;
    const std::vector<std::string> axis_cards = {"WCSAXES", "CRPIX3", "CRVAL3", "CDELT3", "CTYPE3", "CUNIT3",
                                                 "CRPIX4",  "CRVAL4", "CDELT4", "CTYPE4"};
    EXPECT_GE(expect_cards_kept(axis_cards, file), 6u) << file;
    for (const char* name : kResults) EXPECT_EQ(qz_test::real_keys(path(name)).at("CDELT3"), 250000.0) << name;
    expect_coordinates_follow(file, " ", {1, 1}, {1, 1});
  }
}

// A primary PC matrix without CDELT beside an alternate description's CD
// matrix: CD1_1A is no CD1_1, so no CDELTn or CROTA2 is made up for the
// primary one (CROTA2 beside PC is not FITS), and both keep their cards.
TEST_F(ResultCoordinates, AnAlternateCdMatrixIsNotThePrimaryOne) {
  const std::vector<std::string> cards = {
      "CTYPE1  = 'RA---TAN'",           "CTYPE2  = 'DEC--TAN'",          "CRVAL1  =                150.0",
      "CRVAL2  =                  2.0", "CRPIX1  =                 24.0", "CRPIX2  =                 31.5",
      "PC1_1   = -1.7320508075688772E-04", "PC1_2   =              1.0E-04", "PC2_1   =              1.5E-04",
      "PC2_2   =  2.598076211353316E-04", "CTYPE1A = 'RA---TAN'",        "CTYPE2A = 'DEC--TAN'",
      "CRVAL1A =                150.0", "CRVAL2A =                  2.0", "CRPIX1A =                 10.0",
      "CRPIX2A =                 12.5", "CD1_1A  =             -2.0E-04", "CD1_2A  =              1.0E-04",
      "CD2_1A  =              1.0E-04", "CD2_2A  =              2.0E-04"};
  fitsstruct rec;
  fits_test::parse_cards(&rec, fits_test::image_cards(-32, cards));
  EXPECT_EQ(rec.cdeltx, 0.0);
  EXPECT_EQ(rec.cdelty, 0.0);
  EXPECT_EQ(rec.crotay, 0.0);

  write_cards(cards);
  ASSERT_EQ(run(run_on("")), 0) << output_;
  for (const char* name : kResults) {
    const Keys out = qz_test::real_keys(path(name));
    for (const char* key : {"CDELT1", "CDELT2", "CROTA2"}) EXPECT_EQ(out.count(key), 0u) << name << " " << key;
  }
  std::vector<std::string> keys;
  for (const std::string& text : cards) keys.push_back(text.substr(0, text.find(' ')));
  EXPECT_EQ(expect_cards_kept(keys, "alternate CD"), cards.size());
  expect_coordinates_follow("alternate CD", " A", {1, 1}, {1, 1});
}

// A section's pixels are those of the input from `first` by `step`: the
// result's coordinates must say so, whichever cards describe them. The
// library's own section header scales CDELTn where it stands for a world
// axis, leaves a PC matrix and IRAF's LTV and LTM as they were: reversed
// sections of a rotated PC matrix were 30 pixels off. Sections that neither
// reverse nor step read right before and must still.
TEST_F(ResultCoordinates, ASectionHasTheCoordinatesOfTheInputPixelsItHolds) {
  for (const Input& input : kInputs)
    for (const Section& section : kSections) {
      const std::string what = std::string(section.options) + input.what + " [" + section.text + "]";
      write_input(input);
      ASSERT_EQ(run(run_on(section.text, section.options)), 0) << what << output_;
      expect_coordinates_follow(what, input.letters, section.axis1, section.axis2);
    }
  // SIP's terms are offsets from the reference pixel, which a section
  // that neither reverses nor steps moves with them.
  for (const Section& section : {kSections[0], kSections[1]}) {
    write_cards(kSipCards);
    ASSERT_EQ(run(run_on(section.text)), 0) << section.text << output_;
    expect_coordinates_follow(std::string("SIP [") + section.text + "]", " ", section.axis1, section.axis2);
  }
}

// A PC matrix's term given twice: the library reads the first copy, so a
// stepped section must scale that one; the copy after it is read by none.
TEST_F(ResultCoordinates, TheCopyOfACardThatASectionMovesIsTheFirst) {
  std::vector<std::string> cards = kInputs[1].cards;
  cards.push_back("PC1_2   =              3.0E-04");
  const Section rows[] = {{"1:40:2,1:60:3", {1, 2}, {1, 3}}, {"45:6:3,-*", {45, -3}, {kLines, -1}}};
  for (const Section& section : rows) {
    write_cards(cards);
    ASSERT_EQ(run(run_on(section.text)), 0) << section.text << output_;
    expect_coordinates_follow(std::string("PC1_2 twice [") + section.text + "]", " ", section.axis1, section.axis2,
                              first_copies(file_bytes("in.fits")),
                              [&](const char* name) { return first_copies(file_bytes(name)); });
  }
}

// SIP's polynomial of a reversed or stepped section would need terms the
// library does not rewrite: refused, with the section that reads right,
// and no result is written.
TEST_F(ResultCoordinates, AReversedOrSteppedSectionOfSipCoordinatesIsRefused) {
  const struct {
    const char* section;
    const char* instead;
  } rows[] = {{"-*,*", "*,*"}, {"40:11,5:44", "11:40,5:44"}, {"1:40:2,*", "1:40,*"}, {"*, 60:1", "*,1:60"}};
  write_cards(kSipCards);
  for (const auto& row : rows) {
    EXPECT_EQ(run(run_on(row.section)), 255) << row.section << output_;
    EXPECT_TRUE(printed(std::string("Error: the section [") + row.section +
                        "] reverses or steps over the pixels of an image whose coordinates carry SIP distortion "
                        "terms, which the FITS library leaves as they were for other pixels: ask for [" +
                        row.instead + "], read the whole image, or cut the section with another tool ... (in.fits[" +
                        row.section + "])"))
        << output_;
    for (const char* name : kResults) EXPECT_FALSE(exists(name)) << row.section << " " << name;
  }
}

// "-*:2" begins at the axis's last pixel, which the section's own length
// does not give: IRAF's physical pixels, and a reference pixel left out
// (0), cannot follow it, so it is refused with the form that says where it
// begins; that form reads.
TEST_F(ResultCoordinates, CardsThatFollowWhereAnAxisReversedInStepsBeginsNeedItsFirstPixel) {
  const struct {
    const Input& input;
    const char* cards;
  } rows[] = {{input_named("IRAF's physical pixels"), "IRAF physical pixels (LTV, LTM)"},
               {input_named("no CRPIXn"), "coordinates without CRPIX1"}};
  for (const auto& row : rows) {
    write_input(row.input);
    expect_refused("-*:2,*", std::string("Error: the section [-*:2,*] reverses axis 1 in steps on an image with ") +
                                 row.cards +
                                 ", and does not say at which pixel it begins: write the axis's last and first "
                                 "pixels for -*, as [100:1:2] for an axis of 100 pixels ... (in.fits[-*:2,*])");
    ASSERT_EQ(run(run_on("50:1:2,*")), 0) << output_;
    expect_coordinates_follow(std::string(row.cards) + " [50:1:2,*]", row.input.letters, {kColumns, -2}, {1, 1});
    for (const char* name : kResults) std::remove(path(name).c_str());
  }
}

// The library cuts an image by one item per axis and leaves what follows
// unread: "[40:11,5:44,1:1]", as a plane's third axis is named, is
// "[40:11,5:44]" on a 2D image. Those sections kept the library's
// coordinates, 20 pixels off, and escaped the SIP refusal. A single number
// past the axes ("1") is refused saying the image has 2 axes; an item that
// is no section's ("x", a blank instead of a comma) makes the text a row
// filter to the checks, refused with the other filters.
TEST_F(ResultCoordinates, ItemsPastTheImagesAxesLeaveTheSectionAsCut) {
  const Section rows[] = {
      {"40:11,5:44,1:1", {40, -1}, {5, 1}},
      {"1:40:2,-*,*", {1, 2}, {kLines, -1}},
      {"45:6:3,*,1:1:2", {45, -3}, {1, 1}},
  };
  for (const Input* input : {&kInputs[0], &kInputs[4]})
    for (const Section& section : rows) {
      const std::string what = std::string(input->what) + " [" + section.text + "]";
      write_input(*input);
      ASSERT_EQ(run(run_on(section.text)), 0) << what << output_;
      expect_coordinates_follow(what, input->letters, section.axis1, section.axis2);
    }
  for (const char* name : kResults) std::remove(path(name).c_str());
  write_cards(kSipCards);
  expect_refused("40:11,5:44,1:1", "ask for [11:40,5:44], read the whole image");
  write_input(kInputs[0]);
  expect_refused("40:11,5:44,1",
                 "Error: the section [40:11,5:44,1] gives 3 items, but HDU [0] has 2 axes (NAXIS = 2: 50 x 60): give "
                 "one item per axis, as in [40:11,5:44] ... (in.fits[40:11,5:44,1])");
  expect_refused("1:40:2,-*,x", "Error: the name asks the FITS library for a row filter, which is refused: the "
                                "library would apply it as it opens the file, unchecked");
  expect_refused("40:11,5:44 1", "Error: the section [40:11,5:44 1] has a blank inside \"44 1\"");
}

// A card that a section's steps or -I's zoom multiply past the largest
// real was written "-INF", which fitsverify and every reader fail, and the
// run ended with status 0; the library refuses a section whose own card
// arithmetic overflows so. Refused here too, naming the card, with no result
// written; a value that stays finite, however near the limit, runs.
TEST_F(ResultCoordinates, CardsTakenPastTheLargestRealAreRefused) {
  const std::vector<std::string> corner = {"PLTRAH  =                    0", "CNPIX2  =                 7040",
                                           "YPIXELSZ=             25.28445"};
  std::vector<std::string> sized = corner, cornered = corner;
  sized.push_back("XPIXELSZ=             25.28445");
  cornered.push_back("CNPIX1  =                 9235");
  const std::vector<std::string> linear = {"CRPIX1  =                 24.0", "CRPIX2  =                 31.5",
                                           "CDELT1  =                  1.0", "CDELT2  =                  1.0"};
  const struct {
    const char* key;  // the crafted card, beside `cards`
    std::vector<std::string> cards;
    const char* options;  // "-I " or ""
    const char* section;
    const char* instead;  // what the message says to do
    double factor;        // what the run multiplies the crafted value by
  } rows[] = {
      {"XPIXELSZ", cornered, "", "40:11:3,*", "ask for [11:40,*]", -3},
      {"CDELT1", {"CDELT2  =               1.0E-4"}, "", "40:11:3,*", "ask for [11:40,*]", -3},
      {"PC001002", linear, "", "40:11,1:40:3", "ask for [11:40,1:40]", -3},
      {"CD001001", {linear[0], linear[1], "CD002002=                  1.0"}, "", "-*:3,*", "ask for [*,*]", -3},
      {"CD2_2A", {"CTYPE1A = 'LINEAR'", "CD1_1A  =                  1.0"}, "", "*,1:60:2", "ask for [*,1:60]", 2},
      {"CRPIX1", {"CRPIX2  =                 31.5", "CDELT1  =                  1.0", "CDELT2  =                  1.0"},
       "-I ", "", "run without -I", 4},
      {"CNPIX1", sized, "-I ", "", "run without -I", 4},
      {"LTM1_1", linear, "-I ", "", "run without -I", 4},
  };
  for (const auto& row : rows) {
    const std::string what = std::string(row.options) + row.key + " [" + row.section + "]";
    auto with = [&](const char* value) {
      std::vector<std::string> cards = {fits_test::value_card(row.key, value)};
      cards.insert(cards.end(), row.cards.begin(), row.cards.end());
      write_cards(cards);
    };
    with("1.0E+308");
    EXPECT_EQ(run(run_on(row.section, row.options)), 255) << what << output_;
    const bool zoom = row.options[0] != '\0';
    const std::string brackets = zoom ? "" : std::string("[") + row.section + "]";
    EXPECT_TRUE(printed("Error: " + (zoom ? "-I" : "the section " + brackets) + " takes " + row.key +
                        " = 1E+308 past the largest number a FITS card can hold: " + row.instead + ", or correct " +
                        row.key + " ... (in.fits" + brackets + ")"))
        << what << output_;
    for (const char* name : kResults) EXPECT_FALSE(exists(name)) << what << " " << name;
    with("4.0E+307");
    ASSERT_EQ(run(run_on(row.section, row.options)), 0) << what << output_;
    for (const char* name : kResults) {
      const Keys out = qz_test::real_keys(path(name));
      ASSERT_TRUE(out.count(row.key)) << what << " " << name;
      EXPECT_NEAR(out.at(row.key), row.factor * 4e307, 1e-12 * 4e307 * std::fabs(row.factor)) << what << " " << name;
      std::remove(path(name).c_str());
    }
  }
}
