// The table of a tile-compressed image laid out otherwise, with the same
// tiles: as the library writes very large files (Q descriptors, 8-byte
// fields, in place of P's 4-byte ones), or with a per-tile column given as a
// card, as the convention allows when every tile has the same value. The
// library's compressor writes neither for a small file; the tests make them
// from its files with these rewrites, which work on the first extension of
// a file whose heap follows its table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tile_layouts {

// The first extension of a file taken apart: the bytes before it, its
// header cards (END left out), its rows, its heap, and the bytes after its
// data.
struct table_hdu {
  std::string before, after;
  std::vector<std::string> cards;
  std::string rows, heap;

  int find(const std::string& key) const {
    std::string padded = key;
    padded.resize(8, ' ');
    for (std::size_t k = 0; k < cards.size(); k++)
      if (cards[k].compare(0, 8, padded) == 0) return static_cast<int>(k);
    return -1;
  }
  // A card's value, quotes and trailing blanks taken off; empty when absent.
  std::string value(const std::string& key) const {
    const int at = find(key);
    if (at < 0) return "";
    std::string text = cards[at].substr(10, 70);
    const std::size_t slash = text[text.find_first_not_of(' ')] == '\'' ? text.find('\'', text.find('\'') + 1) + 1
                                                                          : text.find('/');
    text = text.substr(0, slash);
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    if (text.size() >= 2 && text.front() == '\'') text = text.substr(1, text.size() - 2);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
  }
  long long integer(const std::string& key) const { return std::atoll(value(key).c_str()); }
  // Sets a card to `text` (a FITS value as written: '1QB(12)', 42, ...),
  // added at the end when absent.
  void set(const std::string& key, const std::string& text) {
    std::string card = key;
    card.resize(8, ' ');
    card += "= " + std::string(text.size() < 20 ? 20 - text.size() : 0, ' ') + text;
    card.resize(80, ' ');
    const int at = find(key);
    if (at < 0)
      cards.push_back(card);
    else
      cards[at] = card;
  }
};

// A column of the table: where it stands in a row, its width, and its
// format's parts ("1PB(43)": repeat 1, type 'P', element 'B', rest "(43)").
struct column {
  long long offset = 0, width = 0;
  long long repeat = 1;
  char type = 0, element = 0;
  std::string rest;
};

inline int element_bytes(char type) {
  switch (type) {
    case 'I': return 2;
    case 'J':
    case 'E': return 4;
    case 'K':
    case 'D':
    case 'C':
    case 'P': return 8;
    case 'M':
    case 'Q': return 16;
  }
  return 1;  // L, B, A; X is not met in these tables
}

inline std::vector<column> columns(const table_hdu& hdu) {
  std::vector<column> found;
  long long at = 0;
  for (long long k = 1; k <= hdu.integer("TFIELDS"); k++) {
    const std::string form = hdu.value("TFORM" + std::to_string(k));
    column c;
    std::size_t digits = form.find_first_not_of("0123456789");
    if (digits > 0) c.repeat = std::atoll(form.substr(0, digits).c_str());
    c.type = form[digits];
    if (c.type == 'P' || c.type == 'Q') c.element = form[digits + 1];
    c.rest = form.substr(digits + (c.element != 0 ? 2 : 1));
    c.offset = at;
    c.width = c.repeat * element_bytes(c.type);
    at += c.width;
    found.push_back(c);
  }
  return found;
}

// The column named so (TTYPEn), its number from 1; 0 when absent.
inline int column_number(const table_hdu& hdu, const std::string& name) {
  for (long long k = 1; k <= hdu.integer("TFIELDS"); k++)
    if (hdu.value("TTYPE" + std::to_string(k)) == name) return static_cast<int>(k);
  return 0;
}

inline std::uint64_t read_big_endian(const std::string& bytes, std::size_t at, int count) {
  std::uint64_t value = 0;
  for (int k = 0; k < count; k++) value = value << 8 | static_cast<unsigned char>(bytes[at + k]);
  return value;
}
inline void write_big_endian(std::string& bytes, std::size_t at, int count, std::uint64_t value) {
  for (int k = 0; k < count; k++) bytes[at + k] = static_cast<char>(value >> (8 * (count - 1 - k)));
}

inline table_hdu take_apart(const std::string& bytes) {
  table_hdu hdu;
  // The primary HDU: its header, and its data when it has any (the
  // library's compressor leaves it empty).
  std::size_t at = 0;
  while (bytes.compare(at, 8, "END     ") != 0) at += 80;
  at = (at / 2880 + 1) * 2880;
  hdu.before = bytes.substr(0, at);
  for (; bytes.compare(at, 8, "END     ") != 0; at += 80)
    if (bytes.compare(at, 8, "        ") != 0) hdu.cards.push_back(bytes.substr(at, 80));
  at = (at / 2880 + 1) * 2880;
  const long long table_bytes = hdu.integer("NAXIS1") * hdu.integer("NAXIS2");
  hdu.rows = bytes.substr(at, table_bytes);
  hdu.heap = bytes.substr(at + table_bytes, hdu.integer("PCOUNT"));
  const std::size_t end = (at + table_bytes + hdu.heap.size() + 2879) / 2880 * 2880;
  hdu.after = end < bytes.size() ? bytes.substr(end) : "";
  return hdu;
}

inline std::string put_together(table_hdu hdu) {
  hdu.set("PCOUNT", std::to_string(hdu.heap.size()));
  std::string header;
  for (const std::string& card : hdu.cards) header += card;
  header += std::string("END").append(77, ' ');
  header.resize((header.size() + 2879) / 2880 * 2880, ' ');
  std::string data = hdu.rows + hdu.heap;
  data.resize((data.size() + 2879) / 2880 * 2880, '\0');
  return hdu.before + header + data + hdu.after;
}

// The file with its tile columns named in `names` (COMPRESSED_DATA,
// GZIP_COMPRESSED_DATA, UNCOMPRESSED_DATA) turned from P to Q descriptors:
// each row widened by 8 bytes a column, TFORM, NAXIS1 and THEAP changed to
// match; the heap and the offsets into it stay as they are.
inline std::string with_q_descriptors(const std::string& bytes,
                                      const std::vector<std::string>& names = {
                                          "COMPRESSED_DATA", "GZIP_COMPRESSED_DATA", "UNCOMPRESSED_DATA"}) {
  table_hdu hdu = take_apart(bytes);
  const std::vector<column> old_columns = columns(hdu);
  std::vector<bool> widened(old_columns.size(), false);
  for (const std::string& name : names) {
    const int k = column_number(hdu, name);
    if (k > 0 && old_columns[k - 1].type == 'P') widened[k - 1] = true;
  }
  const long long old_row = hdu.integer("NAXIS1"), nrows = hdu.integer("NAXIS2");
  std::string rows;
  for (long long r = 0; r < nrows; r++) {
    for (std::size_t k = 0; k < old_columns.size(); k++) {
      const column& c = old_columns[k];
      const std::size_t at = static_cast<std::size_t>(r * old_row + c.offset);
      if (!widened[k]) {
        rows += hdu.rows.substr(at, c.width);
        continue;
      }
      for (long long e = 0; e < c.repeat; e++) {
        std::string pair(16, '\0');
        write_big_endian(pair, 0, 8, read_big_endian(hdu.rows, at + 8 * e, 4));
        write_big_endian(pair, 8, 8, read_big_endian(hdu.rows, at + 8 * e + 4, 4));
        rows += pair;
      }
    }
  }
  for (std::size_t k = 0; k < old_columns.size(); k++) {
    if (!widened[k]) continue;
    const column& c = old_columns[k];
    hdu.set("TFORM" + std::to_string(k + 1),
            "'" + std::to_string(c.repeat) + "Q" + std::string(1, c.element) + c.rest + "'");
  }
  const long long new_row = static_cast<long long>(rows.size()) / (nrows > 0 ? nrows : 1);
  hdu.set("NAXIS1", std::to_string(new_row));
  if (hdu.find("THEAP") >= 0)
    hdu.set("THEAP", std::to_string(hdu.integer("THEAP") + (new_row - old_row) * nrows));
  hdu.rows = rows;
  return put_together(hdu);
}

// The file with the one-element column `name` (ZSCALE, ZZERO, ZBLANK) of a
// table whose rows all hold the same value taken out, and given as a card
// of that value instead.
inline std::string with_column_as_card(const std::string& bytes, const std::string& name) {
  table_hdu hdu = take_apart(bytes);
  const int number = column_number(hdu, name);
  if (number == 0) return bytes;
  const std::vector<column> old_columns = columns(hdu);
  const column& gone = old_columns[number - 1];
  std::string value;
  if (gone.type == 'D') {
    const std::uint64_t raw = read_big_endian(hdu.rows, gone.offset, 8);
    double real = 0;
    std::memcpy(&real, &raw, 8);
    char text[40];
    std::snprintf(text, sizeof text, "%.17G", real);
    value = text;
    if (value.find_first_of(".E") == std::string::npos) value += ".";
  } else {
    const int width = element_bytes(gone.type);
    const std::uint64_t raw = read_big_endian(hdu.rows, gone.offset, width);
    value = std::to_string(static_cast<long long>(raw << (64 - 8 * width)) >> (64 - 8 * width));
  }
  const long long old_row = hdu.integer("NAXIS1"), nrows = hdu.integer("NAXIS2");
  std::string rows;
  for (long long r = 0; r < nrows; r++) {
    rows += hdu.rows.substr(r * old_row, gone.offset);
    rows += hdu.rows.substr(r * old_row + gone.offset + gone.width, old_row - gone.offset - gone.width);
  }
  // The cards of the later columns take the numbers one lower.
  const long long fields = hdu.integer("TFIELDS");
  std::vector<std::string> cards;
  for (std::string card : hdu.cards) {
    const std::string key = card.substr(0, 8);
    const std::size_t digits = key.find_first_of("0123456789");
    const bool column_card = key[0] == 'T' && digits != std::string::npos && digits > 1 &&
                             key.find_first_not_of("0123456789 ", digits) == std::string::npos;
    if (column_card) {
      const long long k = std::atoll(key.substr(digits).c_str());
      if (k == number) continue;
      if (k > number && k <= fields) {
        std::string renamed = key.substr(0, digits) + std::to_string(k - 1);
        renamed.resize(8, ' ');
        card.replace(0, 8, renamed);
      }
    }
    cards.push_back(card);
  }
  hdu.cards = cards;
  hdu.set("TFIELDS", std::to_string(fields - 1));
  hdu.set("NAXIS1", std::to_string(old_row - gone.width));
  if (hdu.find("THEAP") >= 0) hdu.set("THEAP", std::to_string(hdu.integer("THEAP") - gone.width * nrows));
  hdu.rows = rows;
  hdu.set(name, value);
  return put_together(hdu);
}

}  // namespace tile_layouts
