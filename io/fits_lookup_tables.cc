// The distortion tables a header's cards name in other HDUs of its file,
// carried into the results as stored, and the runs whose pixels the tables
// would no longer describe, refused.
#include "io/fits_lookup_tables.h"

// ffgbyt, the bytes as stored; this header of the library declares no C linkage.
extern "C" {
#include <fitsio2.h>
}

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

// The cards with a value before END, each once with its keyword.
std::vector<std::pair<std::string, const char*>> valued_cards(const char* cards, std::size_t count) {
  std::vector<std::pair<std::string, const char*>> valued;
  for (std::size_t i = 0; cards != nullptr && i < count; i++) {
    const char* card = cards + i * FITS_CARD;
    if (is_end_card(card)) break;
    if (has_value_indicator(card)) valued.emplace_back(upper_keyword(card), card);
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

// The tables the cards name: "WCSDVARR,2" for CPDIS1 with DP1 = 'EXTVER:
// 2'. A record counts only beside its function's card, as a reader of the
// distortion takes it.
std::vector<std::string> named_tables(const char* cards, std::size_t count) {
  const auto valued = valued_cards(cards, count);
  std::set<std::string> functions;  // stem + axis
  bool old_detector_table = false;
  for (const auto& [key, card] : valued) {
    old_detector_table |= key == kOldDetectorTable;
    for (const distortion_kind& kind : kKinds)
      if (!axis_after(key, kind.function).empty()) functions.insert(key);
  }
  std::vector<std::string> tables;
  bool detector_table_named = false;
  for (const auto& [key, card] : valued)
    for (const distortion_kind& kind : kKinds) {
      const std::string axis = axis_after(key, kind.record);
      int version = 0;
      if (axis.empty() || !functions.count(kind.function + axis) || !record_version(card, &version)) continue;
      tables.push_back(std::string(kind.table) + "," + std::to_string(version));
      detector_table_named |= std::strcmp(kind.table, "D2IMARR") == 0;
    }
  if (old_detector_table && !detector_table_named) tables.push_back("D2IMARR,1");
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
  const std::vector<std::string> named =
      named_tables(rec.fitshead, static_cast<std::size_t>(rec.fitsheadsize / FITS_CARD));
  if (named.empty()) return "";
  // The library parses every header it passes on its way to the tables.
  fits_check_compressed_hdus_through(fptr, INT_MAX);
  std::set<int> hdus;  // in the file's order, each once
  // The library's messages of a search that found nothing are dropped with
  // it, lest a later report of its errors show them.
  ffpmrk();
  for (const std::string& table : named) {
    if (fits_move_to_selected(fptr, fits_hdu_selector(table), file) != 0) continue;
    int hdu = 0;
    ffghdn(fptr, &hdu);
    hdus.insert(hdu);
  }
  ffcmrk();
  std::string tables;
  for (int hdu : hdus) {
    int status = 0;
    LONGLONG head_start = 0, data_start = 0, data_end = 0;
    if (ffmahd(fptr, hdu, nullptr, &status) == 0) fits_check_data_held(fptr, file.c_str());
    // The padding of the file's last HDU may be missing: it is written.
    const std::size_t at = tables.size();
    if (status == 0 && ffghadll(fptr, &head_start, &data_start, &data_end, &status) == 0) {
      const LONGLONG held = std::min<LONGLONG>(data_end, fits_file_bytes(fptr));
      tables.resize(at + static_cast<std::size_t>(held - head_start));
      ffmbyt(fptr, head_start, REPORT_EOF, &status);
      ffgbyt(fptr, held - head_start, &tables[at], &status);
    }
    if (status != 0)
      fatal_exitf(-1, stderr, "Error: cannot read HDU [%d], a distortion table that the image's cards name (%s)\n",
                  hdu - 1, fits_library_reason(fptr, status).c_str());
    tables.resize(at + (tables.size() - at + FITS_BLOCK - 1) / FITS_BLOCK * FITS_BLOCK, '\0');
  }
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
