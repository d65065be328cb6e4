// The header of a tile-compressed image, built from its table's cards by the
// tile-compression convention's rules, whatever the order a writer chose for
// them.
#include "io/fits_compressed_header.h"

#include <algorithm>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "io/fits_cards.h"

namespace {

constexpr std::size_t kCard = 80;
constexpr std::size_t kKeyword = 8;

// The keyword of a card as the library names it: the convention's Z-cards,
// which it finds in any letter case, in upper case; any other as written.
std::string keyword_of(const std::string& card) {
  const std::string key = card_keyword(card.c_str());
  return !key.empty() && (key[0] == 'Z' || key[0] == 'z') ? upper_case(key) : key;
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

std::string made_card(const std::string& key, const std::string& value) {
  std::string card = key + std::string(kKeyword - key.size(), ' ') + "= ";
  // Strings start in column 11, numbers end in column 30, as the standard fixes.
  card += value[0] == '\'' ? value : std::string(20 - std::min<std::size_t>(value.size(), 20), ' ') + value;
  card.resize(kCard, ' ');
  return card;
}

// Whether a card is written as its keyword in the first 8 columns and "= "
// after it, the form a renamed copy keeps.
bool standard_form(const std::string& card, const std::string& key) {
  return key.size() <= kKeyword && card.compare(0, key.size(), key) == 0 &&
         card.find_first_not_of(' ', key.size()) == kKeyword && card.compare(kKeyword, 2, "= ") == 0;
}

// The image's card `key` for the table's card: renamed where the card is
// written plainly, its value and comment kept; else made anew from the value
// the library reads in it (an integer where it wants one), which holds in
// an image's header too.
std::string renamed(const std::string& card, const std::string& key, bool integer) {
  long long number = 0;
  const std::string value = card_value(card.c_str());
  const bool plain_value = !integer || (value_integer_strict(value, &number) && !value.empty());
  if (standard_form(card, keyword_of(card)) && plain_value) {
    std::string image_card = card;
    image_card.replace(0, kKeyword, key + std::string(kKeyword - key.size(), ' '));
    return image_card;
  }
  if (integer && value_integer(value, &number)) return made_card(key, std::to_string(number));
  return made_card(key, value.empty() ? "''" : value);
}

// The number of image axes, or -1 when the card holds none from 0 to 999.
int small_integer(const std::string& card) {
  long long n = -1;
  if (!value_integer(card_value(card.c_str()), &n)) return -1;
  return n >= 0 && n <= 999 ? static_cast<int>(n) : -1;
}

// Ranks of the structure cards, in the order the standard fixes them.
constexpr int kFirst = 0, kBitpix = 1, kNaxis = 2, kPcount = 1002, kGcount = 1003;

}  // namespace

std::string fits_compressed_image_cards(const std::string& table_cards) {
  // Every card the structure takes, by rank; copies the library reads
  // alike are one card, and copies that differ stay, for the header's
  // reader to refuse.
  // Each rank holds the table's cards it was made from, and the image's.
  std::map<int, std::vector<std::pair<std::string, std::string>>> structure;
  const auto put = [&](int rank, const std::string& card, const std::string& key, bool integer) {
    auto& copies = structure[rank];
    const card_kind kind = integer ? card_kind::integer : key == "SIMPLE" ? card_kind::logical : card_kind::text;
    for (const auto& copy : copies)
      if (copies_alike(copy.first.c_str(), card.c_str(), kind)) return;
    copies.emplace_back(card, renamed(card, key, integer));
  };
  std::string others;
  int naxis = -1;
  bool primary = false;
  for (std::size_t at = 0; at + kCard <= table_cards.size(); at += kCard) {
    const std::string card = table_cards.substr(at, kCard);
    if (end_card(card.c_str())) break;
    const std::string key = keyword_of(card);
    if (table_card(key) || compression_card(key) || default_table_name(card)) continue;
    const int axis = index_of(key, "ZNAXIS");
    if (axis > 0) {
      put(kNaxis + axis, card, key.substr(1), true);
    } else if (key == "ZSIMPLE" || key == "ZTENSION") {
      primary = primary || key == "ZSIMPLE";
      put(kFirst, card, key == "ZSIMPLE" ? "SIMPLE" : "XTENSION", false);
    } else if (key == "ZPCOUNT") {
      // The image the library opens has no parameters, whatever ZPCOUNT
      // says: astropy writes the old heap's size there in a table it copied.
      long long parameters = 0;
      if (value_integer(card_value(card.c_str()), &parameters) && parameters == 0) put(kPcount, card, "PCOUNT", true);
    } else if (key == "ZBITPIX" || key == "ZNAXIS" || key == "ZGCOUNT") {
      const int rank = key == "ZBITPIX" ? kBitpix : key == "ZNAXIS" ? kNaxis : kGcount;
      if (rank == kNaxis && naxis < 0) naxis = small_integer(card);
      put(rank, card, key.substr(1), true);
    } else if (one_of(key, {"ZEXTEND", "ZBLOCKED", "ZHECKSUM", "ZDATASUM"})) {
      others += renamed(card, key == "ZHECKSUM" ? "CHECKSUM" : key.substr(1), false);
    } else {
      others += card;
    }
  }
  if (structure.count(kBitpix) == 0 || naxis < 0) return "";
  for (int axis = 1; axis <= naxis; axis++)
    if (structure.count(kNaxis + axis) == 0) return "";
  // An image stored in a table is an extension unless it says otherwise.
  if (structure.count(kFirst) == 0) put(kFirst, made_card("XTENSION", "'IMAGE   '"), "XTENSION", false);
  if (!primary && structure.count(kPcount) == 0) put(kPcount, made_card("PCOUNT", "0"), "PCOUNT", true);
  if (!primary && structure.count(kGcount) == 0) put(kGcount, made_card("GCOUNT", "1"), "GCOUNT", true);
  std::string cards;
  for (const auto& rank : structure)
    for (const auto& card : rank.second) cards += card.second;
  return cards + others;
}
