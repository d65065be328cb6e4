// The header of a tile-compressed image, built from its table's cards by the
// tile-compression convention's rules, whatever the order a writer chose for
// them.
#include "io/fits_compressed_header.h"

#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kCard = 80;
constexpr std::size_t kKeyword = 8;

// The keyword of a card, without its trailing blanks.
std::string keyword_of(const std::string& card) {
  std::string key = card.substr(0, kKeyword);
  key.erase(key.find_last_not_of(' ') + 1);
  return key;
}

// The index n of a keyword prefix + n ("NAXIS12" → 12), or 0 when key is
// no such keyword: n is 1 to 999, written without leading zeros.
int index_of(const std::string& key, const std::string& prefix) {
  if (key.size() <= prefix.size() || key.size() > prefix.size() + 3 || key.compare(0, prefix.size(), prefix) != 0)
    return 0;
  if (key[prefix.size()] == '0') return 0;
  int n = 0;
  for (std::size_t k = prefix.size(); k < key.size(); k++) {
    if (key[k] < '0' || key[k] > '9') return 0;
    n = n * 10 + (key[k] - '0');
  }
  return n;
}

bool one_of(const std::string& key, std::initializer_list<const char*> keys) {
  for (const char* listed : keys)
    if (key == listed) return true;
  return false;
}

bool indexed_one_of(const std::string& key, std::initializer_list<const char*> prefixes) {
  for (const char* prefix : prefixes)
    if (index_of(key, prefix) > 0) return true;
  return false;
}

// The table's own cards: its structure, its columns and the checksums of
// its bytes, none of which describes the image.
bool table_card(const std::string& key) {
  return one_of(key, {"XTENSION", "BITPIX", "NAXIS", "PCOUNT", "GCOUNT", "TFIELDS", "THEAP", "CHECKSUM", "DATASUM"}) ||
         indexed_one_of(key, {"NAXIS", "TTYPE", "TFORM", "TDIM", "TUNIT", "TSCAL", "TZERO", "TNULL", "TDISP"});
}

// How the image was compressed: nothing an uncompressed image holds. ZBLANK,
// ZSCALE and ZZERO as cards apply to every tile, as their columns do to one.
bool compression_card(const std::string& key) {
  return one_of(key, {"ZIMAGE", "ZCMPTYPE", "ZMASKCMP", "ZQUANTIZ", "ZDITHER0", "ZBLANK", "ZSCALE", "ZZERO"}) ||
         indexed_one_of(key, {"ZTILE", "ZNAME", "ZVAL"});
}

// The name astropy and the library give a table when the image has none,
// which the library's rebuild drops as it is written by them, and only so.
bool default_table_name(const std::string& card) {
  static const std::string kDefault = "EXTNAME = 'COMPRESSED_IMAGE'";
  return card.compare(0, kDefault.size(), kDefault) == 0;
}

std::string renamed(const std::string& card, const std::string& key) {
  std::string image_card = card;
  image_card.replace(0, kKeyword, key + std::string(kKeyword - key.size(), ' '));
  return image_card;
}

std::string made_card(const std::string& key, const std::string& value) {
  std::string card = key + std::string(kKeyword - key.size(), ' ') + "= ";
  // Strings start in column 11, numbers end in column 30, as the standard fixes.
  card += value[0] == '\'' ? value : std::string(20 - value.size(), ' ') + value;
  card.resize(kCard, ' ');
  return card;
}

// The integer value of a card, or -1 when it holds none from 0 to 999.
int small_integer(const std::string& card) {
  if (card.compare(kKeyword, 2, "= ") != 0) return -1;
  const std::string value = card.substr(10, 20);
  char* end = nullptr;
  const long n = std::strtol(value.c_str(), &end, 10);
  if (end == value.c_str() || value.find_first_not_of(' ', static_cast<std::size_t>(end - value.c_str())) !=
                                  std::string::npos)
    return -1;
  return n >= 0 && n <= 999 ? static_cast<int>(n) : -1;
}

// Ranks of the structure cards, in the order the standard fixes them.
constexpr int kFirst = 0, kBitpix = 1, kNaxis = 2, kPcount = 1002, kGcount = 1003;

}  // namespace

std::string fits_compressed_image_cards(const std::string& table_cards) {
  // Every card the structure takes, by rank; a card given twice stays twice,
  // for the header's reader to refuse.
  std::map<int, std::vector<std::string>> structure;
  std::string others;
  int naxis = -1;
  bool primary = false;
  for (std::size_t at = 0; at + kCard <= table_cards.size(); at += kCard) {
    const std::string card = table_cards.substr(at, kCard);
    const std::string key = keyword_of(card);
    if (key == "END") break;
    if (table_card(key) || compression_card(key) || default_table_name(card)) continue;
    const int axis = index_of(key, "ZNAXIS");
    if (axis > 0) {
      structure[kNaxis + axis].push_back(renamed(card, key.substr(1)));
    } else if (key == "ZSIMPLE" || key == "ZTENSION") {
      primary = primary || key == "ZSIMPLE";
      structure[kFirst].push_back(renamed(card, key == "ZSIMPLE" ? "SIMPLE" : "XTENSION"));
    } else if (key == "ZBITPIX" || key == "ZNAXIS" || key == "ZPCOUNT" || key == "ZGCOUNT") {
      const int rank = key == "ZBITPIX" ? kBitpix : key == "ZNAXIS" ? kNaxis : key == "ZPCOUNT" ? kPcount : kGcount;
      if (rank == kNaxis && naxis < 0) naxis = small_integer(card);
      structure[rank].push_back(renamed(card, key.substr(1)));
    } else if (one_of(key, {"ZEXTEND", "ZBLOCKED", "ZHECKSUM", "ZDATASUM"})) {
      others += renamed(card, key == "ZHECKSUM" ? "CHECKSUM" : key.substr(1));
    } else {
      others += card;
    }
  }
  if (structure.count(kBitpix) == 0 || naxis < 0) return "";
  for (int axis = 1; axis <= naxis; axis++)
    if (structure.count(kNaxis + axis) == 0) return "";
  // An image stored in a table is an extension unless it says otherwise.
  if (structure.count(kFirst) == 0) structure[kFirst].push_back(made_card("XTENSION", "'IMAGE   '"));
  if (!primary && structure.count(kPcount) == 0) structure[kPcount].push_back(made_card("PCOUNT", "0"));
  if (!primary && structure.count(kGcount) == 0) structure[kGcount].push_back(made_card("GCOUNT", "1"));
  std::string cards;
  for (const auto& rank : structure)
    for (const std::string& card : rank.second) cards += card;
  return cards + others;
}
