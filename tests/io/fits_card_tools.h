// Header cards for the tests of the header code: a header parsed from card
// texts, value cards in the fixed columns, and a card or number read back.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fits_test_files.h"
#include "io/fits_header.h"

namespace fits_test {

// Parses the given cards (then END) into rec.
inline void parse_cards(fitsstruct* rec, const std::vector<std::string>& texts) {
  std::string cards;
  for (const std::string& t : texts) cards += card(t);
  cards += card("END");
  int nblocks = static_cast<int>((cards.size() + 2879) / 2880);
  cards.resize(nblocks * 2880, ' ');
  char* buf = static_cast<char*>(std::malloc(cards.size()));
  std::memcpy(buf, cards.data(), cards.size());
  parseimagehead(rec, buf, nblocks);
}

inline std::string value_card(std::string key, const std::string& value) {
  key.resize(8, ' ');
  return key + "= " + std::string(value.size() < 20 ? 20 - value.size() : 0, ' ') + value;
}

// A 4 x 3 image header, plus extra cards.
inline std::vector<std::string> image_cards(int bitpix, std::vector<std::string> extra = {}) {
  std::vector<std::string> cards = {value_card("SIMPLE", "T"), value_card("BITPIX", std::to_string(bitpix)),
                                    value_card("NAXIS", "2"), value_card("NAXIS1", "4"), value_card("NAXIS2", "3")};
  cards.insert(cards.end(), extra.begin(), extra.end());
  return cards;
}

// The card of key in rec, or an empty text.
inline std::string card_of(const fitsstruct& rec, const char* key) {
  const int i = fitsfind(rec.fitshead, key);
  return i < 0 ? std::string() : std::string(rec.fitshead + static_cast<std::size_t>(i) * 80, 80);
}

// The number of a card as the C library reads it, D exponent aside.
inline double number_of(const std::string& card) { return std::strtod(card.substr(10, 70).c_str(), nullptr); }

}  // namespace fits_test
