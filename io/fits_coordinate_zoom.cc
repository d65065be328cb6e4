// The zoom of an image's coordinate cards: each card of the pixel grid is
// rescaled or moved so that the header describes the enlarged pixels.
#include "io/fits_coordinate_zoom.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "io/fits_lookup_tables.h"
#include "io/fits_plate_coordinates.h"

namespace {

// What a card of the pixel grid becomes when each pixel of the input turns
// into f x f pixels: scale times its value plus offset. A reference pixel
// moves to where the centre of its input pixel lands (shift: see
// pixel_shift), a linear term per pixel shrinks, a pixel per physical unit
// grows, and a SIP distortion term of order n, in pixels of pixel offsets to
// the power n, takes f to the power 1 - n. Only the first two axes are
// zoomed.
struct GridCard {
  bool on_grid;
  double scale, offset;
};

// Pixel p of the input (from 1) lands on pixel f p + shift of the result.
// Block p spans pixels f (p - 1) + 1 to f p, its centre f p - (f - 1) / 2; a
// grid whose pixel q (from 1) samples the input at (q - 1) / f + 1 puts it on
// the block's first pixel, f p - (f - 1).
double pixel_shift(double f, ZoomGrid grid) {
  return grid == ZoomGrid::blocks ? -(f - 1.0) / 2.0 : -(f - 1.0);
}

// The card with keyword key: the CD matrix (a row of every world axis, its
// 1996 names too), a PC matrix's terms that tie another world axis to the
// zoomed pixel axes or theirs to another pixel axis, the alternate
// descriptions (a trailing letter A to Z; the primary CRPIXn and CDELTn are
// the record's),
// IRAF's LTVn and LTMi_j, and the SIP terms A_p_q, B_p_q, AP_p_q, BP_p_q
// with their largest corrections A_DMAX and B_DMAX when the coordinates are
// SIP's.
GridCard grid_card(const std::string& key, double f, double shift, bool sip) {
  const GridCard position = {true, f, shift}, per_pixel = {true, 1.0 / f, 0.0}, per_unit = {true, f, 0.0},
                 none = {false, 1.0, 0.0};
  auto axis = [](char c) { return c == '1' || c == '2'; };
  auto alternate = [&](std::size_t at) { return key.size() == at + 1 && key[at] >= 'A' && key[at] <= 'Z'; };
  auto starts = [&](const char* prefix) { return key.compare(0, std::strlen(prefix), prefix) == 0; };
  // A term of the matrix, CDi_j or PCi_j (an alternate's too) or their 1996
  // names CD00i00j and PC00i00j, as world axis i and pixel axis j.
  int i = 0, j = 0;
  const bool cd = starts("CD"), modern = key.size() >= 5 && key[3] == '_' && (key.size() == 5 || alternate(5)),
             old = key.size() == 8 && key.compare(2, 2, "00") == 0 && key.compare(5, 2, "00") == 0;
  if ((cd || starts("PC")) && (modern || old)) {
    const char row = modern ? key[2] : key[4], column = modern ? key[4] : key[7];
    if (row >= '1' && row <= '9' && column >= '1' && column <= '9') i = row - '0', j = column - '0';
  }
  // Every world axis's term on a zoomed pixel axis shrinks; beside
  // CDELTn, which shrinks for the first two world axes and must, a PC term
  // of theirs on another pixel axis grows.
  if (i > 0 && j <= 2 && (cd || i > 2)) return per_pixel;
  if (i > 0 && !cd && i <= 2 && j > 2) return per_unit;
  if (i > 0) return none;
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

// The keywords of the cards before END.
std::set<std::string> keywords(const fitsstruct& rec) {
  std::set<std::string> keys;
  if (rec.fitshead == nullptr) return keys;
  for (int i = 0; i < rec.fitsheadsize / FITS_CARD; i++) {
    const char* card = rec.fitshead + static_cast<std::size_t>(i) * FITS_CARD;
    if (is_end_card(card)) break;
    keys.insert(upper_keyword(card));
  }
  return keys;
}

// The key of a description's card for the first two axes, "CD1_2" + letter.
std::string described(const std::string& stem, char letter) { return letter == ' ' ? stem : stem + letter; }

}  // namespace

std::set<char> coordinate_descriptions(const std::set<std::string>& keys) {
  static const char* const prefixes[] = {"CRPIX", "CRVAL", "CDELT", "CTYPE", "CROTA", "CD1_",
                                         "CD2_",  "PC1_",  "PC2_",  "CD00",  "PC00"};
  std::set<char> letters;
  for (const std::string& key : keys)
    for (const char* prefix : prefixes) {
      if (key.compare(0, std::strlen(prefix), prefix) != 0) continue;
      const char last = key.back();
      if (last >= '0' && last <= '9') letters.insert(' ');
      else if (last >= 'A' && last <= 'Z' && std::strcmp(prefix, "CROTA") != 0) letters.insert(last);
    }
  return letters;
}

bool has_cd_matrix(const std::set<std::string>& keys, char letter) {
  for (const char* stem : {"CD1_1", "CD1_2", "CD2_1", "CD2_2"})
    if (keys.count(described(stem, letter))) return true;
  // The 1996 names, which only the primary description has.
  for (const char* key : {"CD001001", "CD001002", "CD002001", "CD002002"})
    if (letter == ' ' && keys.count(key)) return true;
  return false;
}

void zoom_coordinates(fitsstruct* rec, int factor, ZoomGrid grid) {
  fits_refuse_zoom_of_lookup_tables(*rec, factor);
  const double f = factor, shift = pixel_shift(f, grid);
  const bool sip = std::strstr(rec->ctypex, "-SIP") != nullptr || std::strstr(rec->ctypey, "-SIP") != nullptr;
  auto zoomed = [](const GridCard& card, double value) { return card.scale * value + card.offset; };
  rec->width = rec->naxisn[0] = rec->width * factor;
  rec->height = rec->naxisn[1] = rec->height * factor;
  rec->npix = rec->width * rec->height;
  const card_arithmetic zoom = {"-I", "run without -I", rec->filename != nullptr ? rec->filename : ""};
  plate_zoom_coordinates(rec, factor, shift, zoom);
  const std::set<std::string> keys = keywords(*rec);
  const std::set<char> letters = coordinate_descriptions(keys);
  // A card left out stands for its default: a reference pixel 0 and, without
  // a CD matrix, an increment 1; IRAF's physical pixels are the image's
  // (LTM the unit matrix, LTV 0). Those move too, so they are written.
  std::vector<std::pair<std::string, double>> defaults;
  for (char letter : letters) {
    if (letter == ' ') continue;  // the record's fields carry the primary one
    const bool cd = has_cd_matrix(keys, letter);
    for (const char* axis : {"1", "2"}) {
      const std::string crpix = described(std::string("CRPIX") + axis, letter),
                        cdelt = described(std::string("CDELT") + axis, letter);
      if (!keys.count(crpix)) defaults.push_back({crpix, shift});
      if (!cd && !keys.count(cdelt)) defaults.push_back({cdelt, 1.0 / f});
    }
  }
  bool physical = false;
  for (const char* key : {"LTV1", "LTV2", "LTM1_1", "LTM1_2", "LTM2_1", "LTM2_2"}) physical |= keys.count(key) > 0;
  if (physical) {
    if (!keys.count("LTV1")) defaults.push_back({"LTV1", shift});
    if (!keys.count("LTV2")) defaults.push_back({"LTV2", shift});
    if (!keys.count("LTM1_1")) defaults.push_back({"LTM1_1", f});
    if (!keys.count("LTM2_2")) defaults.push_back({"LTM2_2", f});
  }
  // An image without coordinates gets none: a reference pixel of -1.5 would
  // describe a grid that no card of the input set up.
  if (letters.count(' ')) {
    const GridCard position = {true, f, shift}, per_pixel = {true, 1.0 / f, 0.0};
    if (!has_cd_matrix(keys, ' ')) {
      if (!keys.count("CDELT1")) rec->cdeltx = rec->cdelt[0] = 1.0;
      if (!keys.count("CDELT2")) rec->cdelty = rec->cdelt[1] = 1.0;
    }
    rec->crpixx = rec->crpix[0] = zoom.checked("CRPIX1", rec->crpixx, zoomed(position, rec->crpixx));
    rec->crpixy = rec->crpix[1] = zoom.checked("CRPIX2", rec->crpixy, zoomed(position, rec->crpixy));
    rec->cdeltx = zoomed(per_pixel, rec->cdeltx);
    rec->cdelty = zoomed(per_pixel, rec->cdelty);
    rec->cdelt[0] = zoomed(per_pixel, rec->cdelt[0]);
    rec->cdelt[1] = zoomed(per_pixel, rec->cdelt[1]);
  }
  for (int i = 0; rec->fitshead != nullptr && i < rec->fitsheadsize / FITS_CARD; i++) {
    char* card = rec->fitshead + static_cast<std::size_t>(i) * FITS_CARD;
    if (is_end_card(card)) break;
    double value;
    if (!has_value_indicator(card) || !fits_number(card, &value)) continue;
    const std::string key = upper_keyword(card);
    const GridCard kind = grid_card(key, f, shift, sip);
    if (kind.on_grid && zoomed(kind, value) != value)
      set_exact_real(card, zoom.checked(key, value, zoomed(kind, value)));
  }
  for (const auto& [key, value] : defaults) {
    std::string whole_key = key;
    whole_key.resize(8, ' ');  // a shorter key would find a longer one
    const int i = fitsadd(&rec->fitshead, whole_key.c_str(), nullptr, &rec->fitsheadsize);
    set_exact_real(rec->fitshead + static_cast<std::size_t>(i) * FITS_CARD, value);
  }
}
