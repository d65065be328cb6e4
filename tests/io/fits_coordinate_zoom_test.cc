// The coordinate cards of an image zoomed for super-resolution, against the
// closed forms of where each input pixel lands.
#include "io/fits_coordinate_zoom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fits_card_tools.h"

using namespace fits_test;

// Each pixel becomes a block of four by four: the centre of input pixel p is
// the centre of block p, 4 p - 1.5; increments and CD terms shrink four
// times, alternate descriptions and IRAF's physical pixels alike; PC terms,
// rotations, reference values and the third axis stay, save the terms that
// tie the third world axis to the zoomed pixels (a quarter, as its CDELT3
// stays) or the zoomed world axes to the third pixel axis (four times under
// PC, whose CDELT1 and CDELT2 shrink). The 1996 names are the matrices'.
TEST(FitsCoordinateZoom, ZoomedCoordinatesDescribeTheBlocks) {
  const struct {
    std::string in;
    double out;  // NAN: the card stays as written
  } rows[] = {
      {"CRPIX1  =                 24.5", 96.5},       {"CRPIX2  =                  1.0", 2.5},
      {"CRVAL1  =    150.1234567891234", NAN},        {"CDELT1  = -2.7777777777778D-04", -6.9444444444445e-05},
      {"CDELT2  =               0.0001", 0.000025},   {"CROTA2  =                 30.0", NAN},
      {"CRPIX3  =                  7.0", NAN},        {"CDELT3  =                  2.0", NAN},
      {"CD1_1   =  -8.660254037844E-05", -2.165063509461e-05}, {"CD2_1   =              5.0E-05", 1.25e-05},
      {"PC1_2   =                  0.5", NAN},        {"CRPIX1A =                 10.0", 38.5},
      {"CDELT2B =                 0.25", 0.0625},     {"CD1_2C  =                  4.0", 1.0},
      {"LTV1    =                 -5.0", -21.5},      {"LTM1_1  =                  0.5", 2.0},
      {"CRPIX3A =                  3.0", NAN},        {"CD1_3   =                  1.0", NAN},
      {"CD3_2   =                  8.0", 2.0},        {"PC3_1   =                  0.5", 0.125},
      {"PC2_3   =                  0.5", 2.0},        {"PC3_3   =                  0.5", NAN},
      {"CD002001=                  4.0", 1.0},        {"PC001002=                  0.5", NAN},
      {"PC003002=                  2.0", 0.5},        {"CD3_1B  =                  4.0", 1.0},
      {"CRPIX2Z =                  3.0", 10.5},       {"CDELT1Z =                 -2.0", -0.5},
      // SIP: a term of order n times 4^(1 - n), so that 4 f(u, v) = f'(4 u, 4 v).
      {"CTYPE1  = 'RA---TAN-SIP'", NAN},              {"A_2_0   =               1.6E-5", 4e-6},
      {"B_0_3   =               8.0E-9", 5e-10},      {"AP_1_0  =               2.0E-4", NAN},
      {"BP_0_0  =                 0.25", 1.0},        {"A_DMAX  =                  1.5", 6.0},
      {"B_DMAX  =                  0.5", 2.0},        {"A_ORDER =                    3", NAN},
  };
  std::vector<std::string> texts;
  for (const auto& row : rows) texts.push_back(row.in);
  fitsstruct rec;
  std::vector<std::string> cards = image_cards(-32, texts);
  cards[2] = value_card("NAXIS", "3");
  cards.insert(cards.begin() + 5, value_card("NAXIS3", "1"));
  parse_cards(&rec, cards);
  zoom_coordinates(&rec, 4, ZoomGrid::blocks);
  EXPECT_EQ(rec.width * 1000 + rec.height, 16012);
  EXPECT_EQ(rec.npix, 16 * 12);
  updatefitsheader(&rec);
  for (const auto& row : rows) {
    const std::string key = row.in.substr(0, 8), now = card_of(rec, key.c_str());
    if (std::isnan(row.out)) EXPECT_EQ(now, card(row.in)) << key;
    else EXPECT_DOUBLE_EQ(number_of(now), row.out) << now;
  }
  EXPECT_EQ(number_of(card_of(rec, "NAXIS1  ")), 16);
  EXPECT_EQ(number_of(card_of(rec, "NAXIS2  ")), 12);
  // Without SIP coordinates, such keywords are someone else's.
  fitsstruct plain;
  parse_cards(&plain, image_cards(-32, {"A_2_0   =               1.6E-5", "A_DMAX  =                  1.5"}));
  zoom_coordinates(&plain, 4, ZoomGrid::blocks);
  updatefitsheader(&plain);
  EXPECT_EQ(card_of(plain, "A_2_0   "), card("A_2_0   =               1.6E-5"));
  EXPECT_EQ(card_of(plain, "A_DMAX  "), card("A_DMAX  =                  1.5"));
  // An image without coordinates gets no reference pixel of its own.
  EXPECT_LT(fitsfind(plain.fitshead, "CRPIX1  "), 0);
  EXPECT_LT(fitsfind(plain.fitshead, "CDELT1  "), 0);
  EXPECT_EQ(plain.width, 16);
}

// A card left out stands for its default, which the zoom moves: a reference
// pixel 0, an increment 1 where no CD matrix gives the scale, IRAF's LTV 0
// and unit LTM. The zoom writes what they become. On the block grid input
// pixel p is pixel 4 p - 1.5, on the sample grid 4 p - 3.
TEST(FitsCoordinateZoom, CardsLeftOutAreWrittenWhereTheirDefaultsMove) {
  const struct {
    const char* what;
    ZoomGrid grid;
    std::vector<std::string> in;
    std::vector<std::pair<const char*, double>> out;
    std::vector<const char*> absent;
  } rows[] = {
      {"PC matrix, no increments", ZoomGrid::blocks,
       {"CRPIX1  =                 10.0", "CRPIX2  =                 20.0", "PC1_1   =                  0.5",
        "PC2_2   =                  0.5", "CTYPE1  = 'RA---TAN'", "CTYPE2  = 'DEC--TAN'"},
       {{"CRPIX1  ", 38.5}, {"CRPIX2  ", 78.5}, {"CDELT1  ", 0.25}, {"CDELT2  ", 0.25}, {"PC1_1   ", 0.5}},
       {"CD1_1   "}},
      {"PC matrix, no increments, samples", ZoomGrid::samples,
       {"CRPIX1  =                 10.0", "CRPIX2  =                 20.0", "PC1_1   =                  0.5"},
       {{"CRPIX1  ", 37.0}, {"CRPIX2  ", 77.0}, {"CDELT1  ", 0.25}, {"CDELT2  ", 0.25}},
       {}},
      {"one increment given", ZoomGrid::blocks,
       {"CRPIX1  =                 10.0", "CDELT2  =                 -3.0"},
       {{"CDELT1  ", 0.25}, {"CDELT2  ", -0.75}, {"CRPIX2  ", -1.5}},
       {}},
      {"alternate PC matrix, no increments", ZoomGrid::blocks,
       {"CRPIX1A =                 10.0", "CRPIX2A =                  5.0", "PC1_2A  =                  2.0",
        "CTYPE1A = 'RA---TAN'"},
       {{"CRPIX1A ", 38.5}, {"CRPIX2A ", 18.5}, {"CDELT1A ", 0.25}, {"CDELT2A ", 0.25}, {"PC1_2A  ", 2.0}},
       {"CRPIX1  ", "CDELT1  ", "CDELT1B "}},
      {"CD matrix alone", ZoomGrid::blocks,
       {"CD1_1   =              -1.0E-4", "CD2_2   =               1.0E-4"},
       {{"CRPIX1  ", -1.5}, {"CRPIX2  ", -1.5}, {"CD1_1   ", -2.5e-5}, {"CD2_2   ", 2.5e-5}},
       {}},
      {"1996 CD matrix alone", ZoomGrid::blocks,
       {"CD001001=              -1.0E-4", "CD002002=               1.0E-4"},
       {{"CRPIX1  ", -1.5}, {"CRPIX2  ", -1.5}, {"CD001001", -2.5e-5}, {"CD002002", 2.5e-5}},
       {"CDELT1  ", "CDELT2  "}},
      {"CD matrix alone, samples", ZoomGrid::samples,
       {"CD1_1   =              -1.0E-4", "CD2_2   =               1.0E-4"},
       {{"CRPIX1  ", -3.0}, {"CRPIX2  ", -3.0}, {"CD1_1   ", -2.5e-5}},
       {}},
      {"alternate CD matrix alone", ZoomGrid::blocks,
       {"CD2_1B  =                  2.0"},
       {{"CD2_1B  ", 0.5}, {"CRPIX1B ", -1.5}, {"CRPIX2B ", -1.5}},
       {"CDELT1B ", "CDELT2B ", "CRPIX1  ", "CDELT1  "}},
      {"IRAF physical pixels", ZoomGrid::blocks,
       {"LTV1    =               -100.0", "LTV2    =                -37.5", "LTM1_1  =                  0.5",
        "LTM2_2  =                  0.5"},
       {{"LTV1    ", -401.5}, {"LTV2    ", -151.5}, {"LTM1_1  ", 2.0}, {"LTM2_2  ", 2.0}},
       {"CRPIX1  ", "CDELT1  ", "LTM1_2  "}},
      {"IRAF physical pixels, samples", ZoomGrid::samples,
       {"LTV1    =               -100.0", "LTM1_2  =                  0.5"},
       {{"LTV1    ", -403.0}, {"LTV2    ", -3.0}, {"LTM1_1  ", 4.0}, {"LTM2_2  ", 4.0}, {"LTM1_2  ", 2.0}},
       {"CRPIX1  ", "LTM2_1  "}},
  };
  for (const auto& row : rows) {
    fitsstruct rec;
    parse_cards(&rec, image_cards(-32, row.in));
    zoom_coordinates(&rec, 4, row.grid);
    updatefitsheader(&rec);
    for (const auto& [key, value] : row.out) {
      const std::string now = card_of(rec, key);
      EXPECT_DOUBLE_EQ(number_of(now), value) << row.what << ": " << key << "'" << now << "'";
    }
    for (const char* key : row.absent) EXPECT_LT(fitsfind(rec.fitshead, key), 0) << row.what << ": " << key;
  }
}
