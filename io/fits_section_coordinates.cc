// The coordinate cards of an image section, set right before they are read.
// Measured on the FITS library's section header: pixel p of the section is
// pixel first + step (p - 1) of the input, and the library rewrites CRPIXn
// and the CD matrix (a column per pixel axis) to match, but multiplies
// CDELTn by the step of axis n, which under a PC matrix scales a row (a
// world axis) instead of a column, and an absent CDELTn not at all. It does
// each of these for axis n only where CRPIXn stands, and leaves the
// matrices' 1996 names alone.
#include "io/fits_section_coordinates.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "array/fatal.h"
#include "io/compressed_input.h"
#include "io/fits_coordinate_zoom.h"
#include "io/fits_header.h"
#include "io/fits_name_gate.h"
#include "io/fits_plate_coordinates.h"

namespace {

// Axes whose numbers are one digit, as the keywords below are written.
constexpr std::size_t kMostAxes = 9;

// The section's cards by keyword, as the library reads them (the first
// copy), set in place and added to at the end.
class section_cards {
 public:
  explicit section_cards(std::string& cards) : cards_(cards) {
    for (std::size_t i = 0; i < cards_.size() / FITS_CARD; i++) {
      const char* card = cards_.data() + i * FITS_CARD;
      if (!has_value_indicator(card)) continue;
      const std::string key = upper_keyword(card);
      first_.emplace(key, i);  // the library reads the first copy
    }
  }
  std::set<std::string> keys() const {
    std::set<std::string> keys;
    for (const auto& entry : first_) keys.insert(entry.first);
    return keys;
  }
  bool has(const std::string& key) const { return first_.count(key) > 0; }
  // The card's number; false for a card that is absent or holds none.
  bool number(const std::string& key, double* value) const {
    const auto at = first_.find(key);
    return at != first_.end() && fits_number(cards_.data() + at->second * FITS_CARD, value);
  }
  // The card set to value, its comment kept; a new card at the end when
  // the key has none and value is not the default the key stands for.
  void set(const std::string& key, double value, double absent) {
    const auto at = first_.find(key);
    double written;
    if (at != first_.end()) {
      char* card = &cards_[at->second * FITS_CARD];
      if (!fits_number(card, &written) || written != value) set_exact_real(card, value);
      return;
    }
    if (value == absent) return;
    std::string card(FITS_CARD, ' ');
    card.replace(0, key.size(), key);
    card.replace(8, 2, "= ");
    set_exact_real(&card[0], value);
    first_.emplace(key, cards_.size() / FITS_CARD);
    cards_ += card;
  }
  // The card, where it holds a number, multiplied by factor.
  void scale(const std::string& key, double factor) {
    double value;
    if (number(key, &value)) set(key, arithmetic.checked(key, value, value * factor), 0.0);
  }
  // What a product past the largest real is refused as.
  card_arithmetic arithmetic;
  // Whether any CTYPEn of the first two axes, in any description, names
  // SIP's distortion.
  bool sip() const {
    for (const char* key : {"A_ORDER", "B_ORDER", "AP_ORDER", "BP_ORDER"})
      if (has(key)) return true;
    for (const auto& [key, index] : first_)
      if ((key.compare(0, 6, "CTYPE1") == 0 || key.compare(0, 6, "CTYPE2") == 0) &&
          std::string(cards_.data() + index * FITS_CARD + 10, FITS_CARD - 10).find("-SIP") != std::string::npos)
        return true;
    return false;
  }

 private:
  std::string& cards_;
  std::map<std::string, std::size_t> first_;
};

std::string key_of(const char* format, std::size_t i, std::size_t j = 0) {
  char key[16];
  std::snprintf(key, sizeof key, format, i, j);
  return key;
}

// The section as the user might ask for it instead: each axis in
// increasing order, without a step ("11:40,5:44" for "40:11,5:44").
std::string unflipped(const std::string& text) {
  std::string plain;
  for (std::size_t from = 0; from <= text.size();) {
    const std::size_t comma = std::min(text.find(',', from), text.size());
    const std::string item = text.substr(from, comma - from);
    std::string axis = "*";
    if (item.find_first_of("0123456789") < item.find(':')) {
      char* end = nullptr;
      const long long first = std::strtoll(item.c_str(), &end, 10), last = std::strtoll(end + 1, nullptr, 10);
      axis = std::to_string(std::min(first, last)) + ":" + std::to_string(std::max(first, last));
    }
    plain += (from > 0 ? "," : "") + axis;
    from = comma + 1;
  }
  return plain;
}

// The part of a section the library cuts by: an item per axis of the
// image, what follows the last of them unread ("40:11,5:44,1" cuts a 2D
// image as "40:11,5:44" does).
std::string items_read(const std::string& text, const section_cards& section) {
  double naxis = 0;
  if (!section.number("NAXIS", &naxis)) return text;
  std::size_t end = 0;
  for (double axis = 0; axis < naxis; axis++) {
    end = text.find(',', axis == 0 ? 0 : end + 1);
    if (end == std::string::npos) return text;
  }
  return text.substr(0, end);
}

}  // namespace

void fits_section_coordinates(std::string& cards, const std::string& file) {
  fits_name_parts parts;
  // Binned, the rows are those of the table the image is made from.
  if (!fits_name_parts_of(file, parts) || parts.rows.empty() || !parts.bins.empty()) return;
  section_cards section(cards);
  // Read as the library is handed it, without its blanks; messages name
  // the section as typed.
  const std::string rows = items_read(fits_section_without_blanks(parts.rows), section);
  // Every other form of section was refused with the name
  // (io/fits_name_gate.h), so none is left unread here.
  std::vector<fits_section_axis> axes = fits_section_axes(rows);
  if (axes.size() > kMostAxes) axes.resize(kMostAxes);
  // A first axis reversed in steps that holds one pixel is handed to the
  // library as that pixel alone (fits_section_cut_alike), whose cards it
  // writes as for a section without a step.
  double width = 0;
  if (!axes.empty() && axes[0].step < -1 && section.number("NAXIS1", &width) && width == 1) axes[0].step = 1;
  bool moved = false, flipped_or_stepped = false;
  for (const fits_section_axis& axis : axes) {
    moved |= axis.first != 1 || axis.step != 1;
    flipped_or_stepped |= axis.step != 1;
  }
  if (!moved) return;
  if (flipped_or_stepped && section.sip())
    fatal_exitf(-1, stderr,
                "Error: the section [%s] reverses or steps over the pixels of an image whose coordinates carry SIP "
                "distortion terms, which the FITS library leaves as they were for other pixels: ask for [%s], read "
                "the whole image, or cut the section with another tool ... (%s)\n",
                parts.rows.c_str(), unflipped(rows).c_str(), file.c_str());
  // "-*" begins at the axis's last pixel, which is the section's length
  // only without a step: the cards that must follow where the section
  // begins need that length.
  auto first_pixel = [&](std::size_t i, const std::string& cards_named) {
    fits_section_axis& axis = axes[i - 1];
    double length = 0;
    if (axis.first != 0) return static_cast<double>(axis.first);
    if (axis.step != -1 || !section.number(key_of("NAXIS%zu", i), &length))
      fatal_exitf(-1, stderr,
                  "Error: the section [%s] reverses axis %zu in steps on an image with %s, and does not say at "
                  "which pixel it begins: write the axis's last and first pixels for -*, as [100:1:2] for an axis "
                  "of 100 pixels ... (%s)\n",
                  parts.rows.c_str(), i, cards_named.c_str(), file.c_str());
    axis.first = static_cast<long long>(length);
    return length;
  };
  // The step of pixel axis i; an axis the section does not name keeps its
  // pixels, as does a world axis past the image's.
  auto step = [&](std::size_t i) { return i <= axes.size() ? static_cast<double>(axes[i - 1].step) : 1.0; };

  // Without its steps, a section scales no card.
  section.arithmetic = {"the section [" + parts.rows + "]", "ask for [" + unflipped(rows) + "]", file};
  if (has_plate_solution(cards.data(), cards.size() / FITS_CARD)) {
    for (std::size_t i = 1; i <= 2 && i <= axes.size(); i++) first_pixel(i, "a DSS plate solution (CNPIX, XPIXELSZ)");
    plate_section_coordinates(cards, axes, section.arithmetic);
  }

  // The library moves a description's cards of pixel axis j only where its
  // CRPIXj stands: a CRPIXj left out (0) is moved here, with CDELTj and
  // column j of the CD matrix as the library scales them where it is, so
  // that what follows finds every description as the library leaves one.
  // The CD matrix's 1996 names, which the library does not know, are
  // scaled for every axis.
  const std::set<std::string> keys = section.keys();
  const std::set<char> letters = coordinate_descriptions(keys);
  for (char letter : letters) {
    const std::string suffix = letter == ' ' ? "" : std::string(1, letter);
    for (std::size_t j = 1; j <= axes.size(); j++) {
      const double d = step(j);
      for (std::size_t i = 1; i <= kMostAxes && letter == ' '; i++) section.scale(key_of("CD%03zu%03zu", i, j), d);
      const std::string crpix = key_of("CRPIX%zu", j) + suffix;
      if (section.has(crpix) || (axes[j - 1].first == 1 && d == 1)) continue;
      section.set(crpix, (0.0 - first_pixel(j, "coordinates without " + crpix)) / d + 1.0, 0.0);
      section.scale(key_of("CDELT%zu", j) + suffix, d);
      for (std::size_t i = 1; i <= kMostAxes; i++) section.scale(key_of("CD%zu_%zu", i, j) + suffix, d);
    }
  }

  // A step d on pixel axis j multiplies column j of the linear map. Where
  // CDELTn stands for row n, the library's d_i CDELTi needs PCi_j d_j / d_i
  // beside it; a CDELTi left out was not scaled, and is written as d_i. A
  // world axis past the image's (a plane's spectral axis) keeps its CDELTi,
  // and a row of it that leans on the pixel axes takes d_j alone. The 1996
  // names PC00i00j are turned as PCi_j are. The descriptions and their CD
  // matrices are those of the input's cards: what the loop adds is neither.
  for (char letter : letters) {
    if (!flipped_or_stepped || has_cd_matrix(keys, letter)) continue;
    const std::string suffix = letter == ' ' ? "" : std::string(1, letter);
    for (std::size_t i = 1; i <= axes.size(); i++)
      if (!section.has(key_of("CDELT%zu", i) + suffix)) section.set(key_of("CDELT%zu", i) + suffix, step(i), 1.0);
    for (const bool named_1996 : {false, true}) {
      if (named_1996 && letter != ' ') continue;  // the 1996 names have no alternates
      const char* const format = named_1996 ? "PC%03zu%03zu" : "PC%zu_%zu";
      for (std::size_t i = 1; i <= kMostAxes; i++)
        for (std::size_t j = 1; j <= kMostAxes; j++)
          if (i != j) section.scale(key_of(format, i, j) + suffix, step(j) / step(i));
    }
  }

  // IRAF's physical pixels: pixel = LTM physical + LTV, the library leaving
  // both as they were for the input's pixels.
  bool physical = false;
  for (std::size_t i = 1; i <= axes.size(); i++) {
    physical |= section.has(key_of("LTV%zu", i));
    for (std::size_t j = 1; j <= axes.size(); j++) physical |= section.has(key_of("LTM%zu_%zu", i, j));
  }
  if (!physical) return;
  for (std::size_t i = 1; i <= axes.size(); i++) {
    const double first = first_pixel(i, "IRAF physical pixels (LTV, LTM)"), d = step(i);
    double shift = 0;
    section.number(key_of("LTV%zu", i), &shift);
    section.set(key_of("LTV%zu", i), (shift - first) / d + 1.0, 0.0);
    for (std::size_t j = 1; j <= axes.size(); j++) {
      const double absent = i == j ? 1.0 : 0.0;
      double term = absent;
      section.number(key_of("LTM%zu_%zu", i, j), &term);
      section.set(key_of("LTM%zu_%zu", i, j), term / d, absent);
    }
  }
}
