// HDUs sized as the FITS library sizes them, on the one reader of cards.
#include "io/fits_hdu_walk.h"

// ffgbyt, the bytes as stored; this header of the library declares no C linkage.
extern "C" {
#include <fitsio2.h>
}

#include <strings.h>

#include <cstdint>
#include <cstring>

#include "array/fatal.h"
#include "io/fits_cards.h"
#include "io/fits_header.h"

namespace {

// The axes the library keeps of an image: it reads NAXIS1 to NAXISn into a
// table of this many, whatever n its header gives, and would write past it.
constexpr long long kLibraryAxes = 99;

// A card's text fit for a message: its bytes outside printable ASCII as
// '?', its trailing blanks off.
std::string shown(const char* card) {
  std::string text(card, strnlen(card, FITS_CARD));
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// The cards of a header before the one that ends it.
class header_cards {
 public:
  header_cards(const char* cards, std::size_t size) : cards_(cards) {
    const char* end = first_end_card(cards, size);
    count_ = static_cast<std::size_t>((end != nullptr ? end : cards + size) - cards) / FITS_CARD;
  }
  std::size_t count() const { return count_; }
  const char* at(std::size_t index) const { return cards_ + index * FITS_CARD; }

  // The value of the card at `index` (0 the first), which the library reads
  // there as `key`, named by its parser: an integer as written. Empty when
  // read; else what is wrong.
  std::string integer_at(std::size_t index, const std::string& key, long long* value) const {
    std::string fault = named_at(index, key);
    if (!fault.empty()) return fault;
    return integer_of(at(index), key, value);
  }

  // Whether the card at `index` is `key` with the very value `text`, as
  // the library requires some cards of a table.
  std::string text_at(std::size_t index, const std::string& key, const char* text) const {
    std::string fault = named_at(index, key);
    if (fault.empty() && card_value(at(index)) != text)
      fault = "gives " + shown(at(index)) + " where the FITS library requires " + key + " = " + text;
    return fault;
  }

  static std::string integer_of(const char* card, const std::string& key, long long* value) {
    if (value_integer_strict(card_value(card), value)) return "";
    return "gives " + shown(card) + " where the FITS library reads " + key + " as an integer written as one";
  }

 private:
  std::string named_at(std::size_t index, const std::string& key) const {
    const std::string place = "card " + std::to_string(index + 1);
    if (index >= count_) return "ends before its " + place + ", which the FITS library reads as " + key;
    if (card_keyword(at(index)) != key)
      return "gives " + shown(at(index)) + " as its " + place + ", where the FITS library reads " + key;
    return "";
  }

  const char* cards_;
  std::size_t count_ = 0;
};

// a x b, or false past kBeyondAnyFile; both are at least 0.
bool times(long long a, long long b, long long* product) {
  return !__builtin_mul_overflow(a, b, product) && *product <= kBeyondAnyFile;
}

bool plus(long long a, long long b, long long* sum) {
  return !__builtin_add_overflow(a, b, sum) && *sum <= kBeyondAnyFile;
}

// A size beyond any file, which the walk cannot follow past.
constexpr hdu_data kUnsized = {-1, -1};

std::string structure_of(const header_cards& header, image_structure* image) {
  long long naxis = 0;
  std::string fault = header.integer_at(1, "BITPIX", &image->bitpix);
  if (!fault.empty()) return fault;
  fault = header.integer_at(2, "NAXIS", &naxis);
  if (!fault.empty()) return fault;
  if (naxis < 0 || naxis > kLibraryAxes)
    return "gives NAXIS = " + std::to_string(naxis) +
           ", which is not 0 to 99, the axes the FITS library keeps (copy each HDU to be read into a file of its "
           "own with another tool, and name that file)";
  image->axes.assign(static_cast<std::size_t>(naxis), 0);
  for (long long axis = 0; axis < naxis; axis++) {
    const std::size_t index = static_cast<std::size_t>(3 + axis);
    fault = header.integer_at(index, "NAXIS" + std::to_string(axis + 1), &image->axes[axis]);
    if (!fault.empty()) return fault;
  }
  return "";
}

std::string negative_count(const char* card) { return "gives " + shown(card) + ", a negative count"; }

// An image's data: the counts are the last cards so named after the axes,
// as the library's reading of the rest of the header leaves them; GROUPS
// is found by its keyword search, the first copy in any case.
std::string image_data(const header_cards& header, const char* cards, std::size_t size, hdu_data* data) {
  image_structure image;
  std::string fault = structure_of(header, &image);
  if (!fault.empty()) return fault;
  const long long bitpix = image.bitpix;
  if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != 64 && bitpix != -32 && bitpix != -64)
    return "gives " + shown(header.at(1)) + ", which is not 8, 16, 32, 64, -32 or -64";
  for (std::size_t axis = 0; axis < image.axes.size(); axis++)
    if (image.axes[axis] < 0) return "gives " + shown(header.at(3 + axis)) + ", a negative length";
  long long pcount = 0, gcount = 1;
  for (std::size_t index = 3 + image.axes.size(); index < header.count(); index++) {
    const char* card = header.at(index);
    const std::string key = card_keyword(card);
    long long* count = key == "PCOUNT" ? &pcount : key == "GCOUNT" ? &gcount : nullptr;
    if (count == nullptr) continue;
    fault = header_cards::integer_of(card, key, count);
    if (fault.empty() && *count < 0) fault = negative_count(card);
    if (!fault.empty()) return fault;
  }
  long long values = 0;
  if (!image.axes.empty()) {
    const char* groups = image.axes[0] == 0 ? library_card(cards, size, "GROUPS") : nullptr;
    const bool random_groups = groups != nullptr && value_logical(card_value(groups));
    values = 1;
    for (std::size_t axis = random_groups ? 1 : 0; axis < image.axes.size() && data->data == 0; axis++)
      if (!times(values, image.axes[axis], &values)) *data = kUnsized;
  }
  const long long bytes = (image.bitpix < 0 ? -image.bitpix : image.bitpix) / 8;
  if (data->data < 0 || !plus(values, pcount, &values) || !times(values, gcount, &values) ||
      !times(values, bytes, &data->data))
    *data = kUnsized;
  return "";
}

// A table's data, from the cards the library requires at their places:
// BITPIX = 8, NAXIS = 2, NAXIS1, NAXIS2, PCOUNT (0 in an ASCII table),
// GCOUNT = 1.
std::string table_data(const header_cards& header, bool ascii, hdu_data* data) {
  long long row = 0, rows = 0, heap = 0;
  std::string fault = header.text_at(1, "BITPIX", "8");
  if (fault.empty()) fault = header.text_at(2, "NAXIS", "2");
  if (fault.empty()) fault = header.integer_at(3, "NAXIS1", &row);
  if (fault.empty() && row < 0) fault = negative_count(header.at(3));
  if (fault.empty()) fault = header.integer_at(4, "NAXIS2", &rows);
  if (fault.empty() && rows < 0) fault = negative_count(header.at(4));
  if (fault.empty()) fault = header.integer_at(5, "PCOUNT", &heap);
  if (fault.empty() && (heap < 0 || (ascii && heap != 0)))
    fault = "gives " + shown(header.at(5)) + ", which the FITS library does not take in " +
            (ascii ? "an ASCII table" : "a binary table");
  if (fault.empty()) fault = header.text_at(6, "GCOUNT", "1");
  if (!fault.empty()) return fault;
  long long values = 0;
  if (!times(row, rows, &values) || !plus(values, heap, &data->data)) *data = kUnsized;
  return "";
}

// Whether the library takes an extension of this XTENSION value for an
// image: IMAGE or IUEIMAGE in quotes, in upper case, blanks after them
// only (measured: ' IMAGE', 'image' and IMAGE without quotes are types it
// does not know, as 'FOO' is).
bool library_image_type(const std::string& value) {
  if (value.empty() || value[0] != '\'') return false;
  const std::string type = value_text(value);
  return type == "IMAGE" || type == "IUEIMAGE";
}

// The kind of HDU the library takes this one for: a compressed image for an
// image, a type it does not know too.
int hdu_kind(int hdu, const char* cards, std::size_t size) {
  if (hdu == 0 || compressed_table(cards, size)) return IMAGE_HDU;
  if (binary_table_type(cards)) return BINARY_TBL;
  std::string xtension = value_text(card_value(cards));
  xtension.erase(0, xtension.find_first_not_of(' '));
  return xtension == "TABLE" ? ASCII_TBL : IMAGE_HDU;
}

// A version as the library compares it: 1 when the card is absent or its
// value no integer it converts (EXTVER = 'abc'); an int, so that 4294967298
// is version 2.
int version_of(const char* card) {
  long long version = 1;
  if (card == nullptr || !value_integer(card_value(card), &version)) return 1;
  return static_cast<int>(static_cast<std::uint32_t>(version));
}

// The card after `card` that the library reads as `key`, or null.
const char* next_copy(const char* cards, std::size_t size, const char* card, const std::string& key) {
  const std::size_t after = static_cast<std::size_t>(card + FITS_CARD - cards);
  return library_card(cards + after, size - after, key);
}

[[noreturn]] void refuse_copies(int hdu, const char* key, const char* first, const char* copy, const char* why,
                                const std::string& name) {
  fatal_exitf(-1, stderr,
              "Error: HDU [%d] gives %s twice, with values that differ (%s, then %s), of which the FITS library's "
              "search for the HDU the name selects %s: remove the wrong one ... (%s)\n",
              hdu, key, fits_card_shown(first).c_str(), fits_card_shown(copy).c_str(), why, name.c_str());
}

// What the search answers of the card `key` (`answer`, of the card or of
// null when it is absent), wherever it stands among its copies: refused
// when they answer otherwise.
template <class Answer>
bool copies_answer(int hdu, const char* cards, std::size_t size, const char* key, Answer answer,
                   const std::string& name) {
  const char* first = library_card(cards, size, key);
  const bool answered = answer(first);
  for (const char* copy = first; copy != nullptr; copy = next_copy(cards, size, copy, key))
    if (answer(copy) != answered) refuse_copies(hdu, key, first, copy, "may read either", name);
  return answered;
}

// The current HDU's header as the file holds it; empty when it cannot be
// read.
std::string current_header(fitsfile* fptr) {
  int status = 0;
  LONGLONG head_start = 0, data_start = 0, data_end = 0;
  if (ffghadll(fptr, &head_start, &data_start, &data_end, &status) != 0 || data_start <= head_start) return "";
  std::string cards(static_cast<std::size_t>(data_start - head_start), ' ');
  if (ffmbyt(fptr, head_start, REPORT_EOF, &status) != 0 ||
      ffgbyt(fptr, data_start - head_start, &cards[0], &status) != 0)
    return "";
  return cards;
}

}  // namespace

bool hdu_selector::selects(int hdu, const char* cards, std::size_t size, const std::string& name) const {
  if (type != ANY_HDU && hdu_kind(hdu, cards, size) != type) return false;
  auto sought = [&](const char* card) {
    if (card == nullptr) return false;
    const std::string given = value_text(card_value(card));
    for (const std::string& wanted : names)
      if (strcasecmp(given.c_str(), wanted.c_str()) == 0) return true;
    return false;
  };
  // Measured: the search reads the first EXTNAME, as astropy does; then,
  // where that name and a version are sought, the first EXTVER after it
  // (the first before it when there is none), where astropy reads the first
  // of all. After an EXTNAME that did not answer, it reads HDUNAME, which
  // astropy never reads, and EXTVER, from wherever its last search ended:
  // there it may read any copy, and copies it would answer otherwise are
  // refused.
  const char* extname = library_card(cards, size, "EXTNAME");
  const char* first_version = library_card(cards, size, "EXTVER");
  if (sought(extname)) {
    if (version == 0) return true;
    const char* after = next_copy(cards, size, extname, "EXTVER");
    const char* read = after != nullptr ? after : first_version;
    const bool answered = version_of(read) == version;
    if ((version_of(first_version) == version) != answered)
      refuse_copies(hdu, "EXTVER", first_version, read, "reads the one and astropy the other", name);
    if (answered) return true;
  }
  const bool named = copies_answer(hdu, cards, size, "HDUNAME", sought, name);
  if (!named || version == 0) return named;
  return copies_answer(hdu, cards, size, "EXTVER", [&](const char* card) { return version_of(card) == version; },
                       name);
}

int fits_move_to_selected(fitsfile* fptr, const hdu_selector& selector, const std::string& name) {
  for (int hdu = 0;; hdu++) {
    int status = 0;
    if (ffmahd(fptr, hdu + 1, nullptr, &status) != 0) return BAD_HDU_NUM;
    const std::string cards = current_header(fptr);
    if (cards.empty()) return BAD_HDU_NUM;
    if (selector.selects(hdu, cards.data(), cards.size(), name)) return 0;
  }
}

bool fits_opens_hdu(const char* first_card, int hdu) {
  return opening_keyword(first_card) == (hdu == 0 ? "SIMPLE" : "XTENSION");
}

std::string fits_image_structure(const char* cards, std::size_t size, image_structure* image) {
  return structure_of(header_cards(cards, size), image);
}

std::string fits_hdu_data(const char* cards, std::size_t size, int hdu, hdu_data* data, hdu_walk_state* state) {
  const header_cards header(cards, size);
  *data = hdu_data();
  std::string fault;
  bool table = false;
  if (hdu > 0) {
    // The type as the library reads it; a type it does not know is an image.
    const std::string value = card_value(cards);
    if (value.empty()) return "gives " + shown(cards) + ", an extension of no type";
    std::string type = value_text(value);
    type.erase(0, type.find_first_not_of(' '));
    table = type == "TABLE" || binary_table_type(cards);
    if (table)
      fault = table_data(header, type == "TABLE", data);
    else if (state->after_compressed_image && !library_image_type(value))
      fault = "gives " + shown(cards) +
              ", a type the FITS library does not know, right after a tile-compressed image: the library sizes "
              "such an extension by what that image left, not by its cards";
    else
      fault = image_data(header, cards, size, data);
  } else {
    fault = image_data(header, cards, size, data);
  }
  if (!fault.empty()) return fault;
  state->after_compressed_image = table && compressed_table(cards, size);
  if (data->data >= 0) data->padded = (data->data + FITS_BLOCK - 1) / FITS_BLOCK * FITS_BLOCK;
  return "";
}

std::string fits_card_shown(const char* card) { return shown(card); }

hdu_selector fits_hdu_selector(const std::string& text) {
  hdu_selector selector;
  std::string spec = text;
  // Measured: "SCI#" finds an HDU named SCI or SCI#, whichever comes
  // first, "SCI##" one named SCI# only, "1 #" HDU 1, "1# " no HDU.
  const bool hashed = !spec.empty() && spec.back() == '#';
  if (hashed) spec.pop_back();
  std::vector<char> chars(spec.begin(), spec.end());
  chars.push_back('\0');
  char name[FLEN_FILENAME] = "", column[FLEN_FILENAME] = "", rows[FLEN_FILENAME] = "";
  int status = 0;
  if (spec.size() >= FLEN_FILENAME || ffexts(chars.data(), &selector.number, name, &selector.version,
                                             &selector.type, column, rows, &status) != 0)
    return selector;
  selector.read = true;
  if (*name == '\0') return selector;
  selector.names.push_back(name);
  if (hashed && selector.names[0].back() != '#') selector.names.push_back(selector.names[0] + "#");
  return selector;
}

const char fits_hdu_beyond_any_file[] = "describes more data than any file holds";

void fits_refuse_hdu(int hdu, const std::string& fault, const std::string& name) {
  fatal_exitf(-1, stderr,
              "Error: the header of HDU [%d] %s: the HDU cannot be sized as the FITS library sizes it ... (%s)\n", hdu,
              fault.c_str(), name.c_str());
}
