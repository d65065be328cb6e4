// A DSS cut-out's place on its plate, moved with a section or a zoom. Neither
// the FITS library's section header nor the zoom of the standard cards knows
// these cards: left as they were, a section's pixel (1,1) had the sky
// position of the input's pixel (1,1), and a zoomed image's pixels were two
// minutes of arc off.
#include "io/fits_plate_coordinates.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "array/fatal.h"
#include "io/fits_cards.h"

namespace {

// Input point p of result pixel q, on one axis: (step q + offset) / divisor.
// A section's step is an integer and a zoom's divisor its factor, so that
// each moves CNPIXn with one rounding at most, none where the result is a
// whole pixel.
struct plate_axis_map {
  double step, offset, divisor;
};

// The first of the cards (`count` of them, or up to END) that the library
// reads as `key`, or null; writable, as the cards it is found in.
char* plate_card(char* cards, std::size_t count, const char* key) {
  return const_cast<char*>(library_card(cards, count * FITS_CARD, key));
}

// The card set to value, its comment kept; a whole number without a
// decimal point, as the survey writes CNPIXn.
void set_plate_number(char* card, double value) {
  set_exact_real(card, value);
  if (value != std::floor(value) || std::fabs(value) >= 1e15) return;
  char field[32];
  std::snprintf(field, sizeof field, "%20lld", static_cast<long long>(value));
  std::memcpy(card + 10, field, 20);
}

// Moves the plate cards by the maps of the first two axes: with q = (d p -
// c) / s, (CNPIX' + q - 0.5) SIZE' = (CNPIX + p - 0.5) SIZE for every q
// when SIZE' = SIZE s / d and CNPIX' = (d (CNPIX - 0.5) + c) / s + 0.5. The
// keyword of a card it needs and lacks, empty once moved.
std::string move_plate_grid(char* cards, std::size_t count, const plate_axis_map (&axes)[2],
                            const card_arithmetic& arithmetic) {
  static const char* const corners[2] = {"CNPIX1", "CNPIX2"};
  static const char* const sizes[2] = {"XPIXELSZ", "YPIXELSZ"};
  char* corner_cards[2] = {nullptr, nullptr};
  char* size_cards[2] = {nullptr, nullptr};
  double corner[2], size[2];
  bool moved[2];
  for (int n = 0; n < 2; n++) {
    moved[n] = axes[n].step != axes[n].divisor || axes[n].offset != 0.0;
    if (!moved[n]) continue;
    corner_cards[n] = plate_card(cards, count, corners[n]);
    size_cards[n] = plate_card(cards, count, sizes[n]);
    if (corner_cards[n] == nullptr || !fits_number(corner_cards[n], &corner[n])) return corners[n];
    if (size_cards[n] == nullptr || !fits_number(size_cards[n], &size[n])) return sizes[n];
  }
  for (int n = 0; n < 2; n++) {
    const plate_axis_map& map = axes[n];
    if (!moved[n]) continue;
    set_plate_number(corner_cards[n],
                     arithmetic.checked(corners[n], corner[n],
                                        (map.divisor * (corner[n] - 0.5) + map.offset) / map.step + 0.5));
    if (map.step != map.divisor)
      set_plate_number(size_cards[n], arithmetic.checked(sizes[n], size[n], size[n] * map.step / map.divisor));
  }
  return "";
}

}  // namespace

bool has_plate_solution(const char* cards, std::size_t count) {
  return plate_card(const_cast<char*>(cards), count, "PLTRAH") != nullptr;
}

void plate_section_coordinates(std::string& cards, const std::vector<fits_section_axis>& axes,
                               const card_arithmetic& section) {
  plate_axis_map maps[2] = {{1, 0, 1}, {1, 0, 1}};
  for (std::size_t n = 0; n < 2 && n < axes.size(); n++) {
    const double first = static_cast<double>(axes[n].first), step = static_cast<double>(axes[n].step);
    maps[n] = {step, first - step, 1};
  }
  const std::string missing = move_plate_grid(&cards[0], cards.size() / FITS_CARD, maps, section);
  if (!missing.empty())
    fatal_exitf(-1, stderr,
                "Error: %s moves the pixels of an image whose DSS plate solution has no %s, which says where they "
                "lie on the plate: read the whole image, or add the card ... (%s)\n",
                section.run.c_str(), missing.c_str(), section.file.c_str());
}

void plate_zoom_coordinates(fitsstruct* rec, int factor, double shift, const card_arithmetic& zoom) {
  if (rec->fitshead == nullptr) return;
  const std::size_t count = static_cast<std::size_t>(rec->fitsheadsize) / FITS_CARD;
  if (!has_plate_solution(rec->fitshead, count)) return;
  const double f = factor;
  const plate_axis_map maps[2] = {{1, -shift, f}, {1, -shift, f}};
  const std::string missing = move_plate_grid(rec->fitshead, count, maps, zoom);
  if (!missing.empty())
    fatal_exitf(-1, stderr,
                "Error: -I zooms an image whose DSS plate solution has no %s, which says where its pixels lie on "
                "the plate: run without -I, or add the card ... (%s)\n",
                missing.c_str(), zoom.file.c_str());
}
