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
// rotations, reference values and the third axis stay.
TEST(FitsCoordinateZoom, ZoomedCoordinatesDescribeTheBlocks) {
  const struct {
    std::string in;
    double out;  // NAN: the card stays as written
  } rows[] = {
      {"CRPIX1  =                 24.5", 96.5},       {"CRPIX2  =                  1.0", 2.5},
      {"CRVAL1  =    150.1234567891234", NAN},        {"CDELT1  =              -0.0001", -0.000025},
      {"CDELT2  =               0.0001", 0.000025},   {"CROTA2  =                 30.0", NAN},
      {"CRPIX3  =                  7.0", NAN},        {"CDELT3  =                  2.0", NAN},
      {"CD1_1   =  -8.660254037844E-05", -2.165063509461e-05}, {"CD2_1   =              5.0E-05", 1.25e-05},
      {"PC1_2   =                  0.5", NAN},        {"CRPIX1A =                 10.0", 38.5},
      {"CDELT2B =                 0.25", 0.0625},     {"CD1_2C  =                  4.0", 1.0},
      {"LTV1    =                 -5.0", -21.5},      {"LTM1_1  =                  0.5", 2.0},
      {"CRPIX3A =                  3.0", NAN},        {"CD1_3   =                  1.0", NAN},
      // SIP: a term of order n times 4^(1 - n), so that 4 f(u, v) = f'(4 u, 4 v).
      {"CTYPE1  = 'RA---TAN-SIP'", NAN},              {"A_2_0   =               1.6E-5", 4e-6},
      {"B_0_3   =               8.0E-9", 5e-10},      {"AP_1_0  =               2.0E-4", NAN},
      {"BP_0_0  =                 0.25", 1.0},        {"A_DMAX  =                  1.5", 6.0},
      {"A_ORDER =                    3", NAN},
  };
  std::vector<std::string> texts;
  for (const auto& row : rows) texts.push_back(row.in);
  fitsstruct rec;
  std::vector<std::string> cards = image_cards(-32, texts);
  cards[2] = value_card("NAXIS", "3");
  cards.insert(cards.begin() + 5, value_card("NAXIS3", "1"));
  parse_cards(&rec, cards);
  zoom_coordinates(&rec, 4);
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
  zoom_coordinates(&plain, 4);
  updatefitsheader(&plain);
  EXPECT_EQ(card_of(plain, "A_2_0   "), card("A_2_0   =               1.6E-5"));
  EXPECT_EQ(card_of(plain, "A_DMAX  "), card("A_DMAX  =                  1.5"));
  // An image without coordinates gets no reference pixel of its own.
  EXPECT_LT(fitsfind(plain.fitshead, "CRPIX1  "), 0);
  EXPECT_LT(fitsfind(plain.fitshead, "CDELT1  "), 0);
  EXPECT_EQ(plain.width, 16);
}
