// The zoom of an image's coordinate cards: each card of the pixel grid is
// rescaled or moved so that the header describes the enlarged pixels.
#include "io/fits_coordinate_zoom.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// What a card of the pixel grid becomes when each pixel turns into a block of
// f x f pixels: scale times its value plus offset. A reference pixel moves
// (the centre of pixel p of the input is the centre of block p, f p - (f - 1)
// / 2 of the result), a linear term per pixel shrinks, a pixel per physical
// unit grows, and a SIP distortion term of order n, in pixels of pixel
// offsets to the power n, takes f to the power 1 - n. Only the first two
// axes are zoomed.
struct GridCard {
  bool on_grid;
  double scale, offset;
};

// The card with keyword key: the CD matrix and the alternate descriptions (a
// trailing letter A to Z; the primary CRPIXn and CDELTn are the record's),
// IRAF's LTVn and LTMi_j, and the SIP terms A_p_q, B_p_q, AP_p_q, BP_p_q
// with their largest corrections A_DMAX and B_DMAX when the coordinates are
// SIP's.
GridCard grid_card(const std::string& key, double f, bool sip) {
  const GridCard position = {true, f, -(f - 1.0) / 2.0}, per_pixel = {true, 1.0 / f, 0.0},
                 per_unit = {true, f, 0.0}, none = {false, 1.0, 0.0};
  auto axis = [](char c) { return c == '1' || c == '2'; };
  auto alternate = [&](std::size_t at) { return key.size() == at + 1 && key[at] >= 'A' && key[at] <= 'Z'; };
  auto starts = [&](const char* prefix) { return key.compare(0, std::strlen(prefix), prefix) == 0; };
  if (starts("CD") && key.size() >= 5 && axis(key[2]) && key[3] == '_' && axis(key[4]) &&
      (key.size() == 5 || alternate(5)))
    return per_pixel;
  if ((starts("CRPIX") || starts("CDELT")) && key.size() == 7 && axis(key[5]) && alternate(6))
    return starts("CRPIX") ? position : per_pixel;
  if (starts("LTV") && key.size() == 4 && axis(key[3])) return position;
  if (starts("LTM") && key.size() == 6 && axis(key[3]) && key[4] == '_' && axis(key[5])) return per_unit;
  if (!sip) return none;
  if (key == "A_DMAX" || key == "B_DMAX") return per_unit;
  const std::size_t after = starts("AP_") || starts("BP_") ? 3 : starts("A_") || starts("B_") ? 2 : 0;
  int p, q;
  char end;
  if (after > 0 && key.find_first_not_of("0123456789_", after) == std::string::npos &&
      std::sscanf(key.c_str() + after, "%d_%d%c", &p, &q, &end) == 2 && p >= 0 && q >= 0 && p + q <= 99)
    return {true, std::pow(f, 1 - p - q), 0.0};
  return none;
}

// Whether the cards describe world coordinates on the first two axes.
bool has_coordinates(const fitsstruct& rec) {
  if (rec.fitshead == nullptr) return false;
  static const char* const prefixes[] = {"CRPIX", "CRVAL", "CDELT", "CTYPE", "CROTA",
                                         "CD1_",  "CD2_",  "PC1_",  "PC2_"};
  for (int i = 0; i < rec.fitsheadsize / FITS_CARD; i++) {
    const char* card = rec.fitshead + static_cast<std::size_t>(i) * FITS_CARD;
    if (is_end_card(card)) break;
    const std::string key = upper_keyword(card);
    for (const char* prefix : prefixes)
      if (key.compare(0, std::strlen(prefix), prefix) == 0) return true;
  }
  return false;
}

}  // namespace

void zoom_coordinates(fitsstruct* rec, int factor) {
  const double f = factor;
  const GridCard position = grid_card("CRPIX1A", f, false), per_pixel = grid_card("CDELT1A", f, false);
  const bool sip = std::strstr(rec->ctypex, "-SIP") != nullptr || std::strstr(rec->ctypey, "-SIP") != nullptr;
  auto zoomed = [](const GridCard& card, double value) { return card.scale * value + card.offset; };
  rec->width = rec->naxisn[0] = rec->width * factor;
  rec->height = rec->naxisn[1] = rec->height * factor;
  rec->npix = rec->width * rec->height;
  // An image without coordinates gets none: a reference pixel of -1.5 would
  // describe a grid that no card of the input set up.
  if (!has_coordinates(*rec)) return;
  rec->crpixx = rec->crpix[0] = zoomed(position, rec->crpixx);
  rec->crpixy = rec->crpix[1] = zoomed(position, rec->crpixy);
  rec->cdeltx = zoomed(per_pixel, rec->cdeltx);
  rec->cdelty = zoomed(per_pixel, rec->cdelty);
  rec->cdelt[0] = zoomed(per_pixel, rec->cdelt[0]);
  rec->cdelt[1] = zoomed(per_pixel, rec->cdelt[1]);
  for (int i = 0; i < rec->fitsheadsize / FITS_CARD; i++) {
    char* card = rec->fitshead + static_cast<std::size_t>(i) * FITS_CARD;
    if (is_end_card(card)) break;
    double value;
    if (!has_value_indicator(card) || !fits_number(card, &value)) continue;
    const GridCard kind = grid_card(upper_keyword(card), f, sip);
    if (kind.on_grid && zoomed(kind, value) != value) set_exact_real(card, zoomed(kind, value));
  }
}
