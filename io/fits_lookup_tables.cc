// The distortion tables a header's cards name in other HDUs of its file,
// carried into the results as stored, and the runs whose pixels the tables
// would no longer describe, refused.
#include "io/fits_lookup_tables.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "array/fatal.h"
#include "io/fits_hdu_walk.h"
#include "io/fits_io.h"
#include "io/fits_name_gate.h"
#include "io/tile_compression_check.h"

namespace {

// A distortion function's keyword stem, the stem of the records that go
// with it, and the EXTNAME of the extensions holding its tables.
struct distortion_kind {
  const char* function;
  const char* record;
  const char* table;
};
constexpr distortion_kind kKinds[] = {
    {"CPDIS", "DP", "WCSDVARR"}, {"CQDIS", "DQ", "WCSDVARR"}, {"D2IMDIS", "D2IM", "D2IMARR"}};
// HST's first detector-to-image tables were named by this card alone, the
// table then being D2IMARR version 1.
constexpr const char* kOldDetectorTable = "D2IMEXT";

// The axis digits after `stem` in `key` ("2" in "CPDIS2"); empty when the
// key is not the stem followed by digits.
std::string axis_after(const std::string& key, const char* stem) {
  const std::size_t n = std::strlen(stem);
  if (key.size() <= n || key.compare(0, n, stem) != 0 || key.find_first_not_of("0123456789", n) != std::string::npos)
    return "";
  return key.substr(n);
}

// Whether a card's keyword may be one the scan wants: all begin with one
// of the stems' first two letters (CP, CQ, DP, D2, ...). Read off the raw
// bytes, it spares the many cards of a header that name no table the
// string of their keyword.
bool may_name_table(const char* card) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  const char first = upper(card[0]), second = upper(card[1]);
  auto begins = [&](const char* stem) { return stem[0] == first && stem[1] == second; };
  if (begins(kOldDetectorTable)) return true;
  for (const distortion_kind& kind : kKinds)
    if (begins(kind.function) || begins(kind.record)) return true;
  return false;
}

// The cards with a value before END that may name a table, each once with
// its keyword.
std::vector<std::pair<std::string, const char*>> valued_cards(const char* cards, std::size_t count) {
  std::vector<std::pair<std::string, const char*>> valued;
  for (std::size_t i = 0; cards != nullptr && i < count; i++) {
    const char* card = cards + i * FITS_CARD;
    if (is_end_card(card)) break;
    if (may_name_table(card) && has_value_indicator(card)) valued.emplace_back(upper_keyword(card), card);
  }
  return valued;
}

bool names_lookup_distortion(const char* cards, std::size_t count) {
  for (const auto& [key, card] : valued_cards(cards, count)) {
    if (key == kOldDetectorTable) return true;
    for (const distortion_kind& kind : kKinds)
      if (!axis_after(key, kind.function).empty()) return true;
  }
  return false;
}

// The version a record-valued card names ('EXTVER: 1', as DP1.EXTVER is
// written); false for any other record or value.
bool record_version(const char* card, int* version) {
  std::string value = bare_value(card);
  if (value.size() < 2 || value.front() != '\'' || value.back() != '\'') return false;
  value = value.substr(1, value.size() - 2);
  value.erase(0, value.find_first_not_of(' '));
  static const char kField[] = "EXTVER:";
  if (value.compare(0, sizeof kField - 1, kField) != 0) return false;
  const char* number = value.c_str() + sizeof kField - 1;
  char* end = nullptr;
  const double read = std::strtod(number, &end);
  if (end == number || end[std::strspn(end, " ")] != '\0' || read != std::floor(read) || read < 1 || read > INT_MAX)
    return false;
  *version = static_cast<int>(read);
  return true;
}

// A table the cards name: its selector ("WCSDVARR,2" for CPDIS1 with DP1 =
// 'EXTVER: 2') and the cards that name it ("CPDIS1 and DP1"), for messages.
struct named_table {
  std::string selector;
  std::string cards;
};

// The tables the cards name. A record counts only beside its function's
// card, as a reader of the distortion takes it.
std::vector<named_table> named_tables(const char* cards, std::size_t count) {
  const auto valued = valued_cards(cards, count);
  std::set<std::string> functions;  // stem + axis
  bool old_detector_table = false;
  for (const auto& [key, card] : valued) {
    old_detector_table |= key == kOldDetectorTable;
    for (const distortion_kind& kind : kKinds)
      if (!axis_after(key, kind.function).empty()) functions.insert(key);
  }
  std::vector<named_table> tables;
  bool detector_table_named = false;
  for (const auto& [key, card] : valued)
    for (const distortion_kind& kind : kKinds) {
      const std::string axis = axis_after(key, kind.record);
      int version = 0;
      if (axis.empty() || !functions.count(kind.function + axis) || !record_version(card, &version)) continue;
      tables.push_back({std::string(kind.table) + "," + std::to_string(version), kind.function + axis + " and " + key});
      detector_table_named |= std::strcmp(kind.table, "D2IMARR") == 0;
    }
  if (old_detector_table && !detector_table_named) tables.push_back({"D2IMARR,1", kOldDetectorTable});
  return tables;
}

}  // namespace

void fits_refuse_section_of_lookup_tables(const std::string& cards, const std::string& file) {
  fits_name_parts parts;
  if (!fits_name_parts_of(file, parts) || parts.rows.empty() || !parts.bins.empty()) return;
  if (!names_lookup_distortion(cards.data(), cards.size() / FITS_CARD)) return;
  fatal_exitf(-1, stderr,
              "Error: the section [%s] cuts an image whose coordinates carry lookup-table distortions (CPDISn, "
              "CQDISn, D2IMDISn), whose tables in other HDUs of the file describe the whole image's pixels, not the "
              "section's: read the whole image, or cut the section with another tool ... (%s)\n",
              parts.rows.c_str(), file.c_str());
}

std::string fits_read_lookup_tables(fitsfile* fptr, const fitsstruct& rec, const std::string& file) {
  const std::vector<named_table> named =
      named_tables(rec.fitshead, static_cast<std::size_t>(rec.fitsheadsize / FITS_CARD));
  if (named.empty()) return "";
  std::vector<hdu_selector> selectors;
  for (const named_table& table : named) selectors.push_back(fits_hdu_selector(table.selector));
  // Found on the file's own bytes: the library would walk into a header cut
  // short, and read past a file in memory, as it looked for a table there.
  // The walk checks the HDUs it passes as the library's open checks those
  // before the image.
  std::vector<bool> found(named.size(), false);
  std::size_t missing = named.size();
  std::string tables;  // in the file's order, each once
  auto take = [&](const walked_hdu& hdu) {
    std::size_t first = named.size();
    for (std::size_t k = 0; k < named.size(); k++)
      if (!found[k] && selectors[k].selects(hdu.hdu, hdu.cards->data(), hdu.cards->size(), file)) {
        found[k] = true;
        missing--;
        first = std::min(first, k);
      }
    if (first == named.size()) return false;
    const long long held = hdu.file_size - hdu.data_start;
    if (held < hdu.data_bytes)
      fatal_exitf(-1, stderr,
                  "Error: the file is cut short: HDU [%d], the distortion table [%s] that the image's cards name "
                  "(%s), announces %lld data bytes and the file holds %lld of them: fetch or copy the whole file "
                  "again ... (%s)\n",
                  hdu.hdu, named[first].selector.c_str(), named[first].cards.c_str(), hdu.data_bytes,
                  std::max(held, 0LL), file.c_str());
    // As stored, but for the final padding of the file's last HDU, which
    // may be missing: it is written.
    const long long padded = (hdu.data_bytes + FITS_BLOCK - 1) / FITS_BLOCK * FITS_BLOCK;
    const std::size_t stored = static_cast<std::size_t>(std::min(held, padded) + (hdu.data_start - hdu.header_start));
    const std::size_t at = tables.size();
    tables.resize(at + stored);
    if (!fits_read_stored_bytes(fptr, hdu.header_start, stored, &tables[at]))
      fatal_exitf(-1, stderr, "Error: cannot read HDU [%d], a distortion table that the image's cards name (%s)\n",
                  hdu.hdu, file.c_str());
    tables.resize(at + (stored + FITS_BLOCK - 1) / FITS_BLOCK * FITS_BLOCK, '\0');
    return missing == 0;
  };
  int last_hdu = 0;
  const hdu_walk_end end = fits_walk_hdus(fptr, take, &last_hdu);
  // A whole file without a table (an image copied out of its file with its
  // cards, as HST's [SCI,n] often are) gives results that lack it as the
  // input does, their cards as the input's were; only a file cut short
  // before it is refused.
  for (std::size_t k = 0; k < named.size(); k++)
    if (!found[k] && end == hdu_walk_end::cut)
      fatal_exitf(-1, stderr,
                  "Error: the file is cut short inside HDU [%d], before the distortion table [%s] that the image's "
                  "cards name (%s): fetch or copy the whole file again ... (%s)\n",
                  last_hdu, named[k].selector.c_str(), named[k].cards.c_str(), file.c_str());
  return tables;
}

void fits_write_lookup_tables(const fitsstruct& rec, std::FILE* stream, const char* name) {
  if (rec.lookup_tables.empty()) return;
  if (std::fwrite(rec.lookup_tables.data(), 1, rec.lookup_tables.size(), stream) != rec.lookup_tables.size())
    fits_write_failure(name);
}

void fits_refuse_zoom_of_lookup_tables(const fitsstruct& rec, int factor) {
  if (!names_lookup_distortion(rec.fitshead, static_cast<std::size_t>(rec.fitsheadsize / FITS_CARD))) return;
  fatal_exitf(-1, stderr,
              "Error: -I would put onto a grid %d times finer an image whose coordinates carry lookup-table "
              "distortions (CPDISn, CQDISn, D2IMDISn), whose tables in other HDUs of the file describe the input's "
              "pixels, not the finer ones: run without -I ... (%s)\n",
              factor, rec.filename != nullptr ? rec.filename : "");
}
