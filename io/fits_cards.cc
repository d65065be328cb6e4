// The one reader of FITS cards, on the FITS library's own parsers and
// conversions.
#include "io/fits_cards.h"

// The library's card parsers and conversions; this header of the library
// declares no C linkage.
extern "C" {
#include <fitsio2.h>
}

#include <cctype>
#include <cstring>

#include "io/fits_header.h"

namespace {

// The card as the library hands it to its parsers: its 80 characters, cut
// at a NUL the file holds, less its trailing blanks (`ZVAL2=2` then has no
// value, as the library reads it).
struct card_text {
  explicit card_text(const char* card) {
    std::memcpy(text, card, FITS_CARD);
    text[FITS_CARD] = '\0';
    std::size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == ' ') text[--length] = '\0';
  }
  char text[FLEN_CARD];
};

std::string keyword_of(const card_text& card) {
  char name[FLEN_KEYWORD] = "";
  int length = 0, status = 0;
  ffgknm(const_cast<char*>(card.text), name, &length, &status);
  return name;
}

std::string value_of(const card_text& card) {
  char value[FLEN_VALUE] = "", comment[FLEN_COMMENT] = "";
  int status = 0;
  if (ffpsvc(const_cast<char*>(card.text), value, comment, &status) != 0) return "";
  return value;
}

const char* const kColumnCards[] = {"TTYPE", "TFORM", "TSCAL", "TZERO", "TNULL", "TDIM"};

// Cards the library finds by its keyword search, which ignores case.
bool searched_card(const std::string& key) {
  return key[0] == 'Z' || key == "EXTNAME" || key == "EXTVER" || key == "HDUNAME" || key == "HDUVER" ||
         key == "BSCALE" || key == "BZERO" || key == "BLANK" || key == "GROUPS";
}

// A number's exact value as the library's strict reader takes it written:
// a sign, the significant digits and the power of ten of the last of them
// ("150", "1.50E2" and "+1.5D2" are all 15 and 1). False for a form it
// does not take apart, or an exponent beyond any double.
struct exact_number {
  bool negative = false;
  std::string digits;
  long long exponent = 0;
  bool operator==(const exact_number& other) const {
    return digits == other.digits && (digits.empty() || (negative == other.negative && exponent == other.exponent));
  }
};

bool exact_number_of(const std::string& value, exact_number* number) {
  std::size_t at = 0;
  if (at < value.size() && (value[at] == '+' || value[at] == '-')) number->negative = value[at++] == '-';
  long long fraction = 0;
  bool mantissa = false, point = false;
  for (; at < value.size(); at++) {
    const char c = value[at];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      mantissa = true;
      if (c != '0' || !number->digits.empty()) number->digits += c;
      fraction += point;
    } else {
      break;
    }
  }
  if (!mantissa) return false;
  long long written = 0;
  if (at < value.size() && (value[at] == 'E' || value[at] == 'e' || value[at] == 'D' || value[at] == 'd')) {
    at++;
    bool negative = false;
    if (at < value.size() && (value[at] == '+' || value[at] == '-')) negative = value[at++] == '-';
    const std::size_t start = at;
    for (; at < value.size() && value[at] >= '0' && value[at] <= '9'; at++) {
      written = written * 10 + (value[at] - '0');
      if (written > 100000) return false;
    }
    if (at == start) return false;
    if (negative) written = -written;
  }
  if (at != value.size()) return false;
  number->exponent = written - fraction;
  while (!number->digits.empty() && number->digits.back() == '0') {
    number->digits.pop_back();
    number->exponent++;
  }
  return true;
}

// Whether two values are numbers of the very same value: 9007199254740993
// and 9007199254740992 are one double, but not one number.
bool same_number(const std::string& a, const std::string& b) {
  double x = 0, y = 0;
  exact_number first, second;
  return value_real_strict(a, &x) && value_real_strict(b, &y) && exact_number_of(a, &first) &&
         exact_number_of(b, &second) && first == second;
}

}  // namespace

std::string card_keyword(const char* card) { return keyword_of(card_text(card)); }

std::string card_value(const char* card) { return value_of(card_text(card)); }

named_card card_named(const char* card) {
  const card_text copy(card);
  return {keyword_of(copy), value_of(copy)};
}

bool value_integer(const std::string& value, long long* integer) {
  LONGLONG converted = 0;
  int status = 0;
  if (ffc2j(value.c_str(), &converted, &status) != 0) return false;
  *integer = converted;
  return true;
}

bool value_real(const std::string& value, double* real) {
  int status = 0;
  return ffc2d(value.c_str(), real, &status) == 0;
}

std::string value_text(const std::string& value) {
  char text[FLEN_VALUE] = "";
  int status = 0;
  return ffc2s(value.c_str(), text, &status) == 0 ? text : "";
}

bool value_logical(const std::string& value) {
  int logical = 0, status = 0;
  return ffc2l(value.c_str(), &logical, &status) == 0 && logical != 0;
}

bool value_integer_strict(const std::string& value, long long* integer) {
  LONGLONG converted = 0;
  int status = 0;
  if (ffc2jj(value.c_str(), &converted, &status) != 0) return false;
  *integer = converted;
  return true;
}

bool value_real_strict(const std::string& value, double* real) {
  int status = 0;
  return ffc2dd(value.c_str(), real, &status) == 0;
}

bool copies_alike(const char* first, const char* second, card_kind kind) {
  return values_alike(card_value(first), card_value(second), kind);
}

bool values_alike(const std::string& a, const std::string& b, card_kind kind) {
  if (a == b) return true;
  long long i = 0, j = 0;
  double x = 0, y = 0;
  switch (kind) {
    case card_kind::text: return value_text(a) == value_text(b);
    case card_kind::logical: return value_logical(a) == value_logical(b);
    case card_kind::integer: return value_integer(a, &i) && value_integer(b, &j) && i == j;
    case card_kind::structure_integer: return value_integer_strict(a, &i) && value_integer_strict(b, &j) && i == j;
    case card_kind::real: return value_real(a, &x) && value_real(b, &y) && x == y;
    case card_kind::structure_real: return value_real_strict(a, &x) && value_real_strict(b, &y) && x == y;
    case card_kind::any:
      if (!a.empty() && !b.empty() && a[0] == '\'' && b[0] == '\'') return value_text(a) == value_text(b);
      return same_number(a, b);
  }
  return false;
}

// Only a card that begins with END, or with HIERARCH, can be named END:
// the others are spared the parser, which every card of a header meets.
bool end_card(const char* card) {
  if (std::memcmp(card, "END", 3) != 0 && std::memcmp(card, "HIERARCH", 8) != 0) return false;
  return card_keyword(card) == "END";
}

const char* first_end_card(const char* cards, std::size_t size) {
  for (std::size_t at = 0; at + FITS_CARD <= size; at += FITS_CARD)
    if (end_card(cards + at)) return cards + at;
  return nullptr;
}

std::string opening_keyword(const char* card) {
  std::string keyword(card, strnlen(card, 8));
  keyword.erase(keyword.find_last_not_of(' ') + 1);
  return keyword;
}

long long keyword_index(const std::string& keyword, const char* prefix) {
  const std::size_t length = std::strlen(prefix);
  if (keyword.size() <= length || keyword.compare(0, length, prefix) != 0) return 0;
  long index = 0;
  int status = 0;
  if (ffc2ii(keyword.c_str() + length, &index, &status) != 0 || index < 1 || index > 999999) return 0;
  return index;
}

std::string upper_case(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string column_card_name(const std::string& keyword) {
  for (const char* const prefix : kColumnCards) {
    const long long index = keyword_index(keyword, prefix);
    if (index > 0) return prefix + std::to_string(index);
  }
  return "";
}

std::string lookup_name(const std::string& keyword) {
  const std::string upper = upper_case(keyword);
  if (!upper.empty() && searched_card(upper)) return upper;
  const std::string column = column_card_name(keyword);
  return column.empty() ? keyword : column;
}

bool reads_as(const char* card, const std::string& key) { return lookup_name(card_keyword(card)) == key; }

const char* library_card(const char* cards, std::size_t size, const std::string& key) {
  for (std::size_t at = 0; at + FITS_CARD <= size && !end_card(cards + at); at += FITS_CARD)
    if (reads_as(cards + at, key)) return cards + at;
  return nullptr;
}

bool binary_table_type(const char* card) {
  std::string type = value_text(card_value(card));
  type.erase(0, type.find_first_not_of(' '));
  return type == "BINTABLE" || type == "A3DTABLE" || type == "3DTABLE";
}

bool compressed_table(const char* cards, std::size_t size) {
  if (size < FITS_CARD || card_keyword(cards) != "XTENSION" || !binary_table_type(cards)) return false;
  for (std::size_t at = 0; at + FITS_CARD <= size && !end_card(cards + at); at += FITS_CARD)
    if (card_keyword(cards + at) == "ZIMAGE" && value_logical(card_value(cards + at))) return true;
  return false;
}
