// FITS header record, cards and header blocks. Card buffers are malloc'ed so
// that they can grow block by block with realloc.
#include "io/fits_header.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "array/fatal.h"
#include "io/fits_cards.h"
#include "io/fits_hdu_walk.h"
#include "io/fits_io.h"
#include "io/image_file.h"

softinfo Soft;

namespace {

const char kSimpleCard[] = "SIMPLE  =                    T / THIS IS REGULAR FITS";

// The empty text that origin points at once it has been consumed.
const char kEmptyText[] = "";

// Threshold below which a world-coordinate or scaling value counts as 0.
constexpr double kNegligible = 5.96047e-08;

constexpr double kDegreesPerRadian = 57.29577951308232;

// CROTA2 value that stands for a missing card.
constexpr double kAbsentRotation = -32768.0;

bool starts_with(const char* card, const char* key) {
  return std::strncmp(card, key, std::strlen(key)) == 0;
}

// starts_with for one key over many cards: measured once, and most cards
// told apart by their first byte. A NUL in the key ends it, as in
// strncmp; one in a card before the key's end matches no key.
class key_prefix {
 public:
  explicit key_prefix(const char* key) : key_(key), length_(std::strlen(key)) {}
  bool begins(const char* card) const {
    return length_ == 0 || (card[0] == key_[0] && std::memcmp(card, key_, length_) == 0);
  }

 private:
  const char* key_;
  std::size_t length_;
};

// Writes text as one card: padded with blanks or cut to 80 columns.
void put_card(char* card, const std::string& text) {
  std::size_t n = text.size() < FITS_CARD ? text.size() : FITS_CARD;
  std::memcpy(card, text.data(), n);
  std::memset(card + n, ' ', FITS_CARD - n);
}

// Text padded with blanks (or cut) to exactly width characters.
std::string padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

char* duplicate(const char* text) {
  if (text == nullptr) return nullptr;
  std::size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy == nullptr) error(1, "*Error*: Not enough memory in ", "fitsstruct");
  std::memcpy(copy, text, n);
  return copy;
}

char* duplicate_bytes(const char* bytes, int size) {
  if (bytes == nullptr || size <= 0) return nullptr;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy == nullptr) error(1, "*Error*: Not enough memory in ", "fitsstruct");
  std::memcpy(copy, bytes, size);
  return copy;
}

char* zeroed(std::size_t size, const char* where) {
  char* bytes = static_cast<char*>(std::calloc(size, 1));
  if (bytes == nullptr) error(1, "*Error*: Not enough memory in ", where);
  return bytes;
}

// Bounded copy into a fixed field; the field is always terminated.
template <std::size_t N>
void set_field(char (&field)[N], const std::string& text) {
  std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

// The value field of a card: the 70 characters from column 11.
std::string value_field(const char* card) {
  std::string text(card + 10, 70);
  std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.erase(nul);
  return text;
}

// Header values are free text; anything unparsable reads as 0 like atof.
double real_value(const char* card) { return std::atof(value_field(card).c_str()); }

// The first character of a card's value: 'T' or 'F' for a logical one.
char first_value_character(const char* card) {
  const std::string text = value_field(card);
  const std::size_t at = text.find_first_not_of(' ');
  return at == std::string::npos ? ' ' : text[at];
}

}  // namespace

// Our own card buffers end with a plain END card, as parseimagehead leaves
// every header it reads; the library's rule finds it there too.
bool is_end_card(const char* card) { return end_card(card); }

// Without "= " in columns 9 and 10 the rest of the card is commentary,
// whatever it looks like.
bool has_value_indicator(const char* card) { return card[8] == '=' && card[9] == ' '; }

std::string bare_value(const char* card) {
  if (!has_value_indicator(card)) return "";
  std::string text = value_field(card);
  text.erase(std::min(text.find('/'), text.size()));
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

namespace {

// 'T' or 'F' when the card's value is that logical constant and nothing
// else, 0 otherwise.
char logical_value(const char* card) {
  const std::string value = bare_value(card);
  return value == "T" || value == "F" ? value[0] : 0;
}

// A real value of a card: a FITS number when it is one (a D exponent
// included), else what atof makes of it, as other real cards are read.
double card_real(const char* card) {
  double number;
  return fits_number(card, &number) ? number : real_value(card);
}

// The text of a CTYPEn card: from column 12 up to the next quote.
std::string ctype_value(const char* card) {
  std::string text(card + 11, 69);
  std::size_t quote = text.find('\'');
  if (quote != std::string::npos) text.erase(quote);
  return text.c_str();
}

// The shortest text that reads back as exactly v, with a decimal point as
// the standard wants in a real value: ten digits move a coordinate by up to
// 1e-10 of its value, a sizeable part of a pixel at fine pixel scales.
std::string exact_real(double v) {
  auto with_point = [](std::string text) {
    if (text.find_first_of(".N") != std::string::npos) return text;  // N: NAN, INF
    const std::size_t e = text.find('E');
    text.insert(e == std::string::npos ? text.size() : e, ".0");
    return text;
  };
  char text[40];
  for (int digits = 1;; digits++) {
    std::snprintf(text, sizeof text, "%.*G", digits, v);
    std::string general = with_point(text);
    std::snprintf(text, sizeof text, "%.*E", digits - 1, v);
    std::string exponent = with_point(text);
    const std::string& shorter = exponent.size() < general.size() ? exponent : general;
    if (std::strtod(shorter.c_str(), nullptr) == v || digits == 17) return shorter;
  }
}

// Whether a string value, when the card holds one, ends with its closing
// quote ('' stands for a quote inside it). The FITS library gives a card
// only as far as a NUL byte, so a NUL inside a quoted value reaches us as a
// value cut short: blanks to the end of the card and no closing quote.
bool string_value_closed(const char* card) {
  if (!has_value_indicator(card)) return true;
  int k = 10;
  while (k < FITS_CARD && card[k] == ' ') k++;
  if (k == FITS_CARD || card[k] != '\'') return true;
  for (k++; k < FITS_CARD; k++) {
    if (card[k] != '\'') continue;
    if (k + 1 < FITS_CARD && card[k + 1] == '\'') k++;
    else return true;
  }
  return false;
}

// A card that other readers accept: printable ASCII throughout (DEL, 127,
// is not), a keyword of upper-case letters, digits, '-' and '_',
// left-justified and padded with blanks, and a string value closed.
bool valid_card(const char* card) {
  for (int k = 0; k < FITS_CARD; k++)
    if (static_cast<unsigned char>(card[k]) < 32 || static_cast<unsigned char>(card[k]) > 126) return false;
  int k = 0;
  while (k < 8 && ((card[k] >= 'A' && card[k] <= 'Z') || (card[k] >= '0' && card[k] <= '9') || card[k] == '-' ||
                   card[k] == '_'))
    k++;
  while (k < 8 && card[k] == ' ') k++;
  return k == 8 && string_value_closed(card);
}

// Cards outside 32..126 make an invalid header; texts going into HISTORY or
// COMMENT get a blank in their place.
std::string printable(const char* text) {
  std::string clean = text;
  for (char& c : clean)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = ' ';
  return clean;
}

// Removes the card at `card` from a buffer of size bytes; the cards after
// it move up.
void remove_card_at(char* buf, int size, char* card) {
  char* end = buf + size;
  std::memmove(card, card + FITS_CARD, end - card - FITS_CARD);
  std::memset(end - FITS_CARD, ' ', FITS_CARD);
}

// Removes every card of key before END from a buffer of size bytes.
void remove_card(char* buf, int size, const char* key) {
  int i;
  while ((i = fitsfind2(buf, size, key)) >= 0)
    remove_card_at(buf, size, buf + static_cast<std::size_t>(i) * FITS_CARD);
}

void remove_card(fitsstruct* rec, const char* key) { remove_card(rec->fitshead, rec->fitsheadsize, key); }

// Inserts an empty value card for key right after card `after`, so that the
// NAXISn keys stay in the order the standard requires.
void insert_card_after(fitsstruct* rec, int after, const char* key) {
  int end = fitsfind(rec->fitshead, "END     ");
  fitsadd(&rec->fitshead, key, nullptr, &rec->fitsheadsize);  // makes room, new card at end
  std::string card(rec->fitshead + static_cast<std::size_t>(end) * FITS_CARD, FITS_CARD);
  char* base = rec->fitshead;
  std::memmove(base + static_cast<std::size_t>(after + 2) * FITS_CARD,
               base + static_cast<std::size_t>(after + 1) * FITS_CARD,
               static_cast<std::size_t>(end - after - 1) * FITS_CARD);
  std::memcpy(base + static_cast<std::size_t>(after + 1) * FITS_CARD, card.data(), FITS_CARD);
}

// A buffer that the card functions can scan safely: whole blocks and an END.
void ensure_card_buffer(fitsstruct* rec) {
  if (rec->fitshead == nullptr) {
    rec->fitshead = creafitsheader();
    rec->fitsheadsize = FITS_BLOCK;
    return;
  }
  int size = rec->fitsheadsize < FITS_BLOCK ? FITS_BLOCK : rec->fitsheadsize;
  size = (size + FITS_BLOCK - 1) / FITS_BLOCK * FITS_BLOCK;
  bool has_end = false;
  for (int i = 0; i < rec->fitsheadsize / FITS_CARD && !has_end; i++)
    has_end = is_end_card(rec->fitshead + static_cast<std::size_t>(i) * FITS_CARD);
  // A missing END goes after the last card held.
  int cards_held = (rec->fitsheadsize + FITS_CARD - 1) / FITS_CARD;
  if (!has_end && cards_held + 1 > size / FITS_CARD) size += FITS_BLOCK;
  if (size != rec->fitsheadsize || !has_end) {
    char* grown = static_cast<char*>(std::realloc(rec->fitshead, size));
    if (grown == nullptr) error(1, "*Error*: Not enough memory in ", "updatefitsheader()");
    std::memset(grown + rec->fitsheadsize, ' ', size - rec->fitsheadsize);
    if (!has_end) put_card(grown + static_cast<std::size_t>(cards_held) * FITS_CARD, "END");
    rec->fitshead = grown;
    rec->fitsheadsize = size;
  }
}

// HISTORY or COMMENT cards for each started 72-character piece of text.
void append_text_cards(std::string& cards, const char* key, const char* text, int allocated,
                       const char* size_name) {
  if (text == nullptr) return;
  std::size_t length = strnlen(text, allocated > 0 ? allocated : 0);
  for (std::size_t start = 0; start < length; start += FITS_HIST_PIECE) {
    if (start + FITS_HIST_PIECE > static_cast<std::size_t>(allocated))
      std::printf(" warning fitswritehist %s=%d \n", size_name, allocated);
    std::size_t n = length - start < FITS_HIST_PIECE ? length - start : FITS_HIST_PIECE;
    cards += padded(key, 8);
    cards += padded(std::string(text + start, n), FITS_HIST_PIECE);
  }
}

// Releases the owned buffers and leaves their pointers null.
void release_owned(fitsstruct* rec) {
  std::free(rec->filename);
  std::free(rec->fitshead);
  std::free(rec->history);
  std::free(rec->comment);
  rec->filename = rec->fitshead = rec->history = rec->comment = nullptr;
}

}  // namespace

// ---- Card values ----

// Reads the card's value as a FITS number, fixed or free format: an
// optional sign, digits with at most one point (one digit at least), an
// optional exponent of E, e or D, a sign and digits. Anything else (a TAB,
// letters, a hexadecimal or infinite value, nothing at all) is no number,
// never a silent 0: a scaling read as 0 or 1 would give every result the
// wrong values. Other readers (the FITS library among them) do not take a
// lower-case d, nor do we.
bool fits_number(const char* card, double* number) {
  std::string value = bare_value(card);
  std::size_t at = 0;
  auto digits = [&] {
    const std::size_t start = at;
    while (at < value.size() && value[at] >= '0' && value[at] <= '9') at++;
    return at - start;
  };
  if (at < value.size() && (value[at] == '+' || value[at] == '-')) at++;
  std::size_t mantissa = digits();
  if (at < value.size() && value[at] == '.') {
    at++;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (at < value.size() && (value[at] == 'E' || value[at] == 'e' || value[at] == 'D')) {
    value[at++] = 'E';
    if (at < value.size() && (value[at] == '+' || value[at] == '-')) at++;
    if (digits() == 0) return false;
  }
  if (at != value.size()) return false;
  const double read = std::strtod(value.c_str(), nullptr);
  if (!std::isfinite(read)) return false;
  *number = read;
  return true;
}

// Sets the real value of a card to exactly v, right-justified in columns 11
// to 30 where it fits, and keeps the card's comment after it.
void set_exact_real(char* card, double v) {
  std::string comment;
  if (has_value_indicator(card)) {
    const std::string field = value_field(card);
    const std::size_t slash = field.find('/');
    if (slash != std::string::npos) {
      comment = field.substr(slash);
      comment.erase(comment.find_last_not_of(' ') + 1);
    }
  }
  const std::string value = exact_real(v);
  std::string text = std::string(card, 8) + "= " + std::string(value.size() < 20 ? 20 - value.size() : 0, ' ') + value;
  if (!comment.empty()) text += " " + comment;
  put_card(card, text);
}

double card_arithmetic::checked(const std::string& key, double input, double value) const {
  if (std::isfinite(value)) return value;
  fatal_exitf(-1, stderr,
              "Error: %s takes %s = %G past the largest number a FITS card can hold: %s, or correct %s ... (%s)\n",
              run.c_str(), key.c_str(), input, instead.c_str(), key.c_str(), file.c_str());
}

// The keyword of a card, columns 1 to 8 without trailing blanks, in upper
// case: the tests of the cards that other readers take in any case.
std::string upper_keyword(const char* card) {
  std::string key(card, 8);
  key.erase(key.find_last_not_of(' ') + 1);
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return key;
}

// ---- Release record ----

softinfo::softinfo() { soft_init(); }

void softinfo::soft_init() { qz3(); }

void softinfo::qz3() {
  release = 4.0f;
  set_field(name, "QZ/3");
  set_field(banner_text, formatted("%s V%2.1f %s", name, release,
                                   "morphological component analysis"));
}

// ---- Record life ----

fitsstruct::fitsstruct() { fitsinit(); }

fitsstruct::fitsstruct(const fitsstruct& other) {
  fitsinit();
  *this = other;
}

fitsstruct& fitsstruct::operator=(const fitsstruct& other) {
  if (this == &other) return *this;
  char* new_filename = duplicate(other.filename);
  char* new_head = duplicate_bytes(other.fitshead, other.fitsheadsize);
  char* new_history = duplicate_bytes(other.history, other.hist_size);
  char* new_comment = duplicate_bytes(other.comment, other.com_size);
  release_owned(this);
  filename = new_filename;
  fitshead = new_head;
  history = new_history;
  comment = new_comment;
  origin = other.origin;
  std::memcpy(rident, other.rident, sizeof rident);
  stream = other.stream;
  fitsheadsize = other.fitsheadsize;
  bitpix = other.bitpix;
  bytepix = other.bytepix;
  width = other.width;
  height = other.height;
  npix = other.npix;
  bscale = other.bscale;
  bzero = other.bzero;
  epoch = other.epoch;
  crpixx = other.crpixx;
  crpixy = other.crpixy;
  crvalx = other.crvalx;
  crvaly = other.crvaly;
  cdeltx = other.cdeltx;
  cdelty = other.cdelty;
  crotax = other.crotax;
  crotay = other.crotay;
  std::memcpy(ctypex, other.ctypex, sizeof ctypex);
  std::memcpy(ctypey, other.ctypey, sizeof ctypey);
  std::memcpy(coordtype, other.coordtype, sizeof coordtype);
  hist_size = other.hist_size;
  com_size = other.com_size;
  naxis = other.naxis;
  for (int k = 0; k < 3; k++) {
    naxisn[k] = other.naxisn[k];
    cdelt[k] = other.cdelt[k];
    crpix[k] = other.crpix[k];
    crval[k] = other.crval[k];
  }
  lookup_tables = other.lookup_tables;
  return *this;
}

fitsstruct::~fitsstruct() {
  release_owned(this);
  fitsinit();
}

void fitsstruct::fitsinit() {
  filename = nullptr;
  origin = nullptr;
  stream = nullptr;
  fitshead = nullptr;
  history = nullptr;
  comment = nullptr;
  fitsheadsize = bitpix = bytepix = width = height = npix = 0;
  hist_size = com_size = naxis = 0;
  bscale = 1.0;
  bzero = 0.0;
  epoch = crpixx = crpixy = crvalx = crvaly = cdeltx = cdelty = crotax = crotay = 0.0;
  for (int k = 0; k < 3; k++) {
    naxisn[k] = 0;
    cdelt[k] = crpix[k] = crval[k] = 0.0;
  }
  ctypex[0] = ctypey[0] = coordtype[0] = rident[0] = '\0';
  lookup_tables.clear();
}

void error(int status, const char* a, const char* b) {
  fatal_exitf(status, stderr, "\n> %s%s\n\n", a != nullptr ? a : "", b != nullptr ? b : "");
}

void fits_write_failure(const char* name) {
  const int reason = errno;
  // The file is named as written, with the extension the writer added.
  std::string file;
  if (name != nullptr) {
    char* written = fitsname(name);
    file = written;
    std::free(written);
  }
  error(1, "*Error* while writing ", io_open_failure(nullptr, file, reason, "not every byte was written").c_str());
}

char* creafitsheader() {
  char* buf = static_cast<char*>(std::malloc(FITS_BLOCK));
  if (buf == nullptr) error(1, "*Error*: Not enough memory in ", "creafitsheader()");
  std::memset(buf, ' ', FITS_BLOCK);
  const char* model[] = {kSimpleCard, "BITPIX  =                    0 /", "NAXIS   =                    0 /", "END"};
  for (int i = 0; i < 4; i++) put_card(buf + i * FITS_CARD, model[i]);
  return buf;
}

void initfield(fitsstruct* rec) {
  char* filename = rec->filename;
  rec->filename = nullptr;
  release_owned(rec);
  rec->fitsinit();
  rec->filename = filename;
  rec->fitsheadsize = FITS_BLOCK;
  rec->fitshead = creafitsheader();
  rec->origin = kEmptyText;
}

// ---- Cards ----

int fitsfind(const char* buf, const char* key) {
  const key_prefix prefix(key);
  for (int i = 0;; i++) {
    const char* card = buf + static_cast<std::size_t>(i) * FITS_CARD;
    if (prefix.begins(card)) return i;
    if (is_end_card(card)) return -1;
  }
}

int fitsfind2(const char* buf, int size, const char* key) {
  const key_prefix prefix(key);
  for (int i = 0; i < size / FITS_CARD; i++) {
    const char* card = buf + static_cast<std::size_t>(i) * FITS_CARD;
    if (is_end_card(card)) return -1;
    if (prefix.begins(card)) return i;
  }
  return -1;
}

char* fitsnfind(char* buf, const char* key, int nblocks) {
  const key_prefix prefix(key);
  for (int i = 0; i < nblocks * FITS_CARDS_PER_BLOCK; i++) {
    char* card = buf + static_cast<std::size_t>(i) * FITS_CARD;
    if (prefix.begins(card)) return card;
  }
  return nullptr;
}

int fitsread(const char* buf, const char* key, void* value, h_type kind, type_data t) {
  if (kind < H_INT || kind > H_COMMENT)
    error(1, "*Internal Error*: Unknown FITS type in ", "fitsread()");
  int i = fitsfind(buf, key);
  if (i < 0) return -1;
  std::string text = value_field(buf + static_cast<std::size_t>(i) * FITS_CARD);
  switch (kind) {
    case H_INT:
      if (t == T_SHORT)
        std::sscanf(text.c_str(), "%hd", static_cast<short*>(value));
      else
        std::sscanf(text.c_str(), "%d", static_cast<int*>(value));
      break;
    case H_FLOAT:
    case H_EXPO:
      if (t == T_DOUBLE)
        std::sscanf(text.c_str(), "%lf", static_cast<double*>(value));
      else
        std::sscanf(text.c_str(), "%f", static_cast<float*>(value));
      break;
    case H_BOOL:
      *static_cast<int*>(value) = first_value_character(buf + static_cast<std::size_t>(i) * FITS_CARD) == 'T';
      break;
    case H_STRING: {
      std::size_t slash = text.find('/');
      if (slash != std::string::npos) text.erase(slash);
      std::memcpy(value, text.c_str(), text.size() + 1);
      break;
    }
    case H_COMMENT:
      std::sscanf(text.c_str(), "%70s", static_cast<char*>(value));
      break;
  }
  return 0;
}

int fitsadd(char** buf, const char* key, const char* comment, int* size) {
  int present = fitsfind(*buf, key);
  if (present >= 0) return present;
  int end = fitsfind(*buf, "END     ");
  if (*size / FITS_CARD - end <= 3) {
    char* grown = static_cast<char*>(std::realloc(*buf, *size + FITS_BLOCK));
    if (grown == nullptr) error(1, "*Error*: Not enough memory in ", "fitsadd()");
    std::memset(grown + *size, ' ', FITS_BLOCK);
    *buf = grown;
    *size += FITS_BLOCK;
  }
  char* card = *buf + static_cast<std::size_t>(end) * FITS_CARD;
  std::string text = formatted("%-8.8s=                      / %-47.47s", key,
                               comment != nullptr ? comment : " ");
  put_card(card, text);
  put_card(card + FITS_CARD, "END");
  return end;
}

int fitswrite(char** buf, const char* key, const void* value, h_type kind, type_data t, int* size) {
  if (kind < H_INT || kind > H_COMMENT)
    error(1, "*FATAL ERROR*: Unknown FITS type in ", "fitswrite()");
  int i = fitsfind(*buf, key);
  if (i < 0) i = fitsadd(buf, key, nullptr, size);
  std::string text;
  switch (kind) {
    case H_INT:
      text = formatted("%20d", t == T_SHORT ? *static_cast<const short*>(value)
                                            : *static_cast<const int*>(value));
      break;
    case H_FLOAT:
      text = formatted("        %12.4f", t == T_DOUBLE ? *static_cast<const double*>(value)
                                                       : *static_cast<const float*>(value));
      break;
    case H_EXPO:
      // Upper-case E: the FITS standard admits no lower-case exponent.
      text = formatted("    %16.9E", t == T_DOUBLE ? *static_cast<const double*>(value)
                                                   : *static_cast<const float*>(value));
      break;
    case H_BOOL:
      text = *static_cast<const int*>(value) != 0 ? "                   T" : "                   F";
      break;
    case H_STRING: {
      // The closing quote must stay on the card.
      std::string quoted = std::string(static_cast<const char*>(value)).substr(0, 67);
      text = padded("'" + quoted + "'", 69);
      break;
    }
    case H_COMMENT:
      text = formatted("%69s", static_cast<const char*>(value));
      break;
  }
  // Columns 11 to 80 only; blanks up to an existing comment keep it.
  char* card = *buf + static_cast<std::size_t>(i) * FITS_CARD;
  std::size_t n = text.size() < 70 ? text.size() : 70;
  std::memcpy(card + 10, text.data(), n);
  for (std::size_t k = 10 + n; k < FITS_CARD && card[k] != '/'; k++) card[k] = ' ';
  return 0;
}

// ---- HISTORY and COMMENT ----

int fitsreadhist(const char* buf, int size, const char* key, char** text) {
  std::vector<const char*> pieces;
  int offset = 0;
  int hit;
  while ((hit = fitsfind2(buf + offset, size - offset, key)) >= 0) {
    pieces.push_back(buf + offset + static_cast<std::size_t>(hit) * FITS_CARD + 8);
    offset += (hit + 1) * FITS_CARD;
  }
  int n = static_cast<int>(pieces.size());
  // Grown after every tenth piece, so it always holds ten more.
  int allocated = n >= 10 ? FITS_CARD * (n / 10 * 10) + 800 : 800;
  *text = zeroed(allocated, "fitsreadhist()");
  for (int k = 0; k < n; k++) std::memcpy(*text + k * FITS_HIST_PIECE, pieces[k], FITS_HIST_PIECE);
  return allocated;
}

int fitsaddhist_com(fitsstruct* rec, const char* text, const char* kind) {
  char** target;
  int* allocated;
  if (std::strcmp(kind, "HISTORY") == 0) {
    target = &rec->history;
    allocated = &rec->hist_size;
  } else if (std::strcmp(kind, "COMMENT") == 0) {
    target = &rec->comment;
    allocated = &rec->com_size;
  } else {
    fatal_exitf(-1, stdout, " ERROR in fitsaddhist_com: the type of the comment is  %s!\n\n", kind);
  }
  if (text == nullptr) return 0;
  std::string added = printable(text);
  std::size_t length = *target != nullptr ? strnlen(*target, *allocated) : 0;
  std::size_t pieces = (length + FITS_HIST_PIECE - 1) / FITS_HIST_PIECE;
  std::size_t new_pieces = (added.size() + FITS_HIST_PIECE - 1) / FITS_HIST_PIECE;
  std::size_t needed = (pieces + new_pieces) * FITS_HIST_PIECE + 1;
  if (needed > static_cast<std::size_t>(*allocated) || *target == nullptr) {
    if (needed > static_cast<std::size_t>(INT_MAX))
      fatal_exit("Error: unable to allocate memory : \n", -1, stderr);
    char* grown = static_cast<char*>(std::calloc(needed, 1));
    if (grown == nullptr) fatal_exit("Error: unable to allocate memory : \n", -1, stderr);
    if (length > 0) std::memcpy(grown, *target, length);
    std::free(*target);
    *target = grown;
    *allocated = static_cast<int>(needed);
  }
  // Each text starts a new card.
  std::memset(*target + length, ' ', pieces * FITS_HIST_PIECE - length);
  char* tail = *target + pieces * FITS_HIST_PIECE;
  std::memcpy(tail, added.c_str(), added.size() + 1);
  return static_cast<int>(added.size());
}

int fitswritehist(fitsstruct* rec) {
  std::string cards;
  if (rec->fitshead != nullptr) {
    for (int i = 0; i < rec->fitsheadsize / FITS_CARD; i++) {
      const char* card = rec->fitshead + static_cast<std::size_t>(i) * FITS_CARD;
      // Only END itself: a keyword such as ENDTIME must not cut off the
      // cards after it, BZERO among them.
      if (is_end_card(card)) break;
      if (std::strncmp(card, "HISTORY", 7) == 0 || std::strncmp(card, "COMMENT", 7) == 0) continue;
      cards.append(card, FITS_CARD);
    }
  }
  append_text_cards(cards, "HISTORY ", rec->history, rec->hist_size, "hist_size");
  append_text_cards(cards, "COMMENT ", rec->comment, rec->com_size, "com_size");
  cards += padded("END", FITS_CARD);
  std::size_t blocks = (cards.size() + FITS_BLOCK - 1) / FITS_BLOCK;
  cards.resize(blocks * FITS_BLOCK, ' ');
  if (cards.size() > static_cast<std::size_t>(INT_MAX))
    error(1, "*Error*: header too large in ", "fitswritehist()");
  char* rebuilt = static_cast<char*>(std::malloc(cards.size()));
  if (rebuilt == nullptr) error(1, "*Error*: Not enough memory in ", "fitswritehist()");
  std::memcpy(rebuilt, cards.data(), cards.size());
  std::free(rec->fitshead);
  rec->fitshead = rebuilt;
  rec->fitsheadsize = static_cast<int>(cards.size());
  return rec->fitsheadsize;
}

void makehistory(char* text, const char* procedure, const char* algorithm, const char* free_text) {
  std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1))
    fatal_exit("ERROR in calling time function \n", -1, stdout);
  char date[64];
  std::tm utc;
  gmtime_r(&now, &utc);
  std::strftime(date, sizeof date, "date=%d-%b-%Y %H:%M:%S ", &utc);
  std::string line1 = date;
  if (const char* host = std::getenv("HOST")) line1 += std::string(" node=") + host;
  if (const char* user = std::getenv("USER")) line1 += std::string("  user=") + user;
  std::string line2;
  if (procedure != nullptr) line2 += std::string("  procedure=") + procedure;
  if (algorithm != nullptr) line2 += std::string("  algorithm=") + algorithm;
  std::string line3 = free_text != nullptr ? free_text : "";
  std::string all = padded(line1, FITS_HIST_PIECE) + padded(line2, FITS_HIST_PIECE) +
                    padded(line3, FITS_HIST_PIECE);
  std::memcpy(text, all.c_str(), all.size() + 1);
}

// ---- Header blocks ----

char* readfitshead(std::FILE* stream, const char* name, int* nblocks) {
  std::vector<char> cards(FITS_BLOCK);
  if (std::fread(cards.data(), 1, FITS_BLOCK, stream) != static_cast<std::size_t>(FITS_BLOCK))
    error(1, "*Error* while reading ", name);
  if (!starts_with(cards.data(), "SIMPLE  ") && !starts_with(cards.data(), "XTENSION"))
    error(1, name, " is NOT a FITS file!");
  int n = 1;
  // Only the newest block can hold the END card: the earlier ones had none.
  while (first_end_card(cards.data() + (n - 1) * static_cast<std::size_t>(FITS_BLOCK), FITS_BLOCK) == nullptr) {
    if (n == INT_MAX / FITS_BLOCK) error(1, "*Error* while reading ", name);
    cards.resize(static_cast<std::size_t>(n + 1) * FITS_BLOCK);
    if (std::fread(cards.data() + static_cast<std::size_t>(n) * FITS_BLOCK, 1, FITS_BLOCK, stream) !=
        static_cast<std::size_t>(FITS_BLOCK))
      error(1, "*Error* while reading ", name);
    n++;
  }
  char* buf = static_cast<char*>(std::malloc(cards.size()));
  if (buf == nullptr) error(1, "*Error*: Not enough memory in ", "readfitshead()");
  std::memcpy(buf, cards.data(), cards.size());
  *nblocks = n;
  return buf;
}

void writeimagehead(fitsstruct* rec) {
  updatefitsheader(rec);
  if (std::fwrite(rec->fitshead, 1, rec->fitsheadsize, rec->stream) !=
      static_cast<std::size_t>(rec->fitsheadsize))
    fits_write_failure(rec->filename);
}

void readimagehead(fitsstruct* rec) {
  int nblocks = 0;
  char* cards = readfitshead(rec->stream, rec->filename, &nblocks);
  parseimagehead(rec, cards, nblocks);
}

namespace {

// The structural keywords (SIMPLE, XTENSION, BITPIX, NAXIS, NAXISn, PCOUNT,
// GCOUNT), given in upper case.
bool structural_key(const std::string& key) {
  // Told apart by their first letter first: every card meets this test.
  if (key.empty() || std::strchr("SXBNPG", key[0]) == nullptr) return false;
  static const char* const kStructural[] = {"SIMPLE", "XTENSION", "BITPIX", "NAXIS", "PCOUNT", "GCOUNT"};
  for (const char* structural : kStructural)
    if (key == structural) return true;
  return key.size() > 5 && key.compare(0, 5, "NAXIS") == 0 &&
         key.find_first_not_of("0123456789", 5) == std::string::npos;
}

// A card as a message shows it: its keyword and value as the library reads
// them.
std::string shown_card(const char* card) { return printable((card_keyword(card) + " = " + card_value(card)).c_str()); }

// The cards of a header before its END, each named and valued once by the
// library's parsers: every pass over the cards reads the names here and
// marks the cards it leaves out, and the cards kept move up once, at the
// end, as each pass's own moves would have left them.
class header_index {
 public:
  struct entry {
    char* card;
    std::string key;  // as the library names the card, in upper case
    std::string value;
    bool kept;
  };

  header_index(char* cards, int nblocks) : cards_(cards), size_(static_cast<std::size_t>(nblocks) * FITS_BLOCK) {
    for (std::size_t at = 0; at + FITS_CARD <= size_; at += FITS_CARD) {
      char* card = cards + at;
      if (is_end_card(card)) {
        ended_ = true;
        break;
      }
      named_card named = card_named(card);
      entries_.push_back({card, upper_case(std::move(named.keyword)), std::move(named.value), true});
    }
  }

  std::vector<entry>& entries() { return entries_; }

  // The first card kept that the library names `key`, in any case, or null.
  entry* first_kept(const char* key) {
    for (entry& e : entries_)
      if (e.kept && e.key == key) return &e;
    return nullptr;
  }

  void leave_out_named(const char* key) {
    for (entry& e : entries_)
      if (e.key == key) e.kept = false;
  }

  // The cards kept, in order, then END (when the header has one) and
  // blanks to the buffer's end.
  void move_kept_up() {
    std::size_t kept = 0;
    for (const entry& e : entries_) {
      if (!e.kept) continue;
      char* place = cards_ + kept * FITS_CARD;
      if (place != e.card) std::memcpy(place, e.card, FITS_CARD);
      kept++;
    }
    if (kept == entries_.size()) return;
    std::memset(cards_ + kept * FITS_CARD, ' ', size_ - kept * FITS_CARD);
    if (ended_) std::memcpy(cards_ + kept * FITS_CARD, "END", 3);
  }

 private:
  char* cards_;
  std::size_t size_;
  bool ended_ = false;
  std::vector<entry> entries_;
};

// A structural card given again with a value the library reads otherwise
// is refused, naming both: the library reads one of them, other readers
// perhaps the other. Copies it reads alike are left out with every other
// card's below.
void refuse_differing_structural_copies(header_index& index, const char* name) {
  std::unordered_map<std::string, const header_index::entry*> seen;
  for (const header_index::entry& e : index.entries()) {
    if (!structural_key(e.key)) continue;
    const auto first = seen.emplace(e.key, &e);
    const card_kind kind = e.key == "SIMPLE"     ? card_kind::logical
                           : e.key == "XTENSION" ? card_kind::text
                                                 : card_kind::structure_integer;
    if (first.second || values_alike(first.first->second->value, e.value, kind)) continue;
    fatal_exitf(-1, stderr,
                "Error: the header holds the card %s more than once, with values that differ (%s, then %s): "
                "remove the wrong one ... (%s)\n",
                e.key.c_str(), shown_card(first.first->second->card).c_str(), shown_card(e.card).c_str(), name);
  }
}

// A card given again with a value the library reads as an earlier copy's
// says nothing new: the copies are left out, lest every result carry them
// (astropy names a compressed image by a second EXTNAME of the same value,
// which other readers then warn of). Cards without a value (HISTORY,
// COMMENT, blank keywords) and the pieces of long strings, which repeat by
// nature, stay; so do copies that differ, which are the writer's to mend.
void leave_out_agreeing_copies(header_index& index) {
  std::vector<header_index::entry>& entries = index.entries();
  // The last copy kept of each keyword, and before each copy kept the one
  // kept before it (none: the entries' count).
  const std::size_t none = entries.size();
  std::unordered_map<std::string_view, std::size_t> last_kept;
  last_kept.reserve(entries.size());
  std::vector<std::size_t> kept_before(entries.size(), none);
  for (std::size_t i = 0; i < entries.size(); i++) {
    header_index::entry& e = entries[i];
    const std::string& value = e.value;
    if (e.key.empty() || e.key == "CONTINUE" || value.empty()) continue;
    // A card that is not valid FITS is left out of the results later, and
    // a copy beside it would go with it; a structure card is refused then
    // instead, save a first SIMPLE, which is made anew.
    if (!structural_key(e.key) && !valid_card(e.card)) continue;
    if (value[0] == '\'') {
      const std::string text = value_text(value);
      if (!text.empty() && text.back() == '&') continue;
    }
    const auto last = last_kept.emplace(e.key, i);
    if (last.second) continue;
    for (std::size_t copy = last.first->second; copy != none && e.kept; copy = kept_before[copy])
      e.kept = !values_alike(entries[copy].value, value, card_kind::any);
    if (!e.kept) continue;
    kept_before[i] = last.first->second;
    last.first->second = i;
  }
}

// Every header read becomes the primary header of each result, so a card
// that would make a primary header invalid is refused or left out here, and
// a run that ends well writes only valid files. An image extension's header
// (the array reader takes the first extension of an empty primary array)
// opens with SIMPLE instead of XTENSION and loses its PCOUNT and GCOUNT.
// Other readers take keywords in any case, so the keyword tests do too; a
// keyword in lower case is then left out with the other invalid cards.
void keep_primary_cards(header_index& index, char* cards, const char* name) {
  auto refuse = [&](const char* key, const char* why) {
    fatal_exitf(-1, stderr, "Error: the card %s of the header %s ... (%s)\n", key, why, name);
  };
  const bool extension = starts_with(cards, "XTENSION");
  bool made_simple = false;
  if (extension) {
    std::string type = value_field(cards);
    type.erase(0, type.find_first_not_of(' '));
    type = type.substr(0, type.find('\'', 1));
    if (type.substr(0, type.find_last_not_of(' ') + 1) != "'IMAGE") refuse("XTENSION", "is not an image extension's");
    made_simple = true;
  } else if (starts_with(cards, "SIMPLE  ")) {
    if (logical_value(cards) != 'T') refuse("SIMPLE", "is not T: the file does not claim to be FITS");
    // The standard fixes T in column 30; a stray byte in the comment would
    // leave the results without SIMPLE.
    made_simple = cards[29] != 'T' || !valid_card(cards);
  }
  if (made_simple) {
    put_card(cards, kSimpleCard);
    if (!index.entries().empty()) {
      header_index::entry& first = index.entries().front();
      first.key = "SIMPLE";
      first.value = "T";
    }
  }
  if (index.first_kept("XTENSION") != nullptr) refuse("XTENSION", "does not belong in a primary header");
  // PCOUNT and GCOUNT describe random groups and extensions: other readers
  // size the data by them, so only the values that change nothing are
  // taken, and left out.
  const struct {
    const char* key;
    long long harmless;
  } counts[] = {{"PCOUNT", 0}, {"GCOUNT", 1}};
  for (const auto& count : counts) {
    const header_index::entry* found = index.first_kept(count.key);
    if (found == nullptr) continue;
    long long read = 0;
    if (!value_integer_strict(found->value, &read) || read != count.harmless)
      refuse(printable((std::string(count.key) + " = " + found->value).c_str()).c_str(),
             "describes data that an image does not have");
    index.leave_out_named(count.key);
  }
  for (const header_index::entry& e : index.entries()) {
    if (!e.kept) continue;
    const bool scaling = e.key == "BSCALE" || e.key == "BZERO";
    const bool structural = structural_key(e.key) && e.key != "PCOUNT" && e.key != "GCOUNT";
    if (!scaling && !structural) continue;
    std::string written(e.card, 8);
    written.erase(written.find_last_not_of(' ') + 1);
    // The scaling of the pixels: the FITS library takes one it cannot read
    // as no scaling at all, other readers as what they make of it.
    double ignored;
    if (scaling && !fits_number(e.card, &ignored)) refuse(printable(written.c_str()).c_str(), "does not hold a number");
    // The results cannot do without the structure cards, so one that is not
    // valid cannot be left out like the others (PCOUNT and GCOUNT are left
    // out anyway).
    // Nor can one written otherwise than it is named ("HIERARCH NAXIS",
    // "NAXIS1 X"), which other readers do not take for it.
    if (structural && (!valid_card(e.card) || written != e.key))
      refuse(printable(written.c_str()).c_str(),
             "is not valid FITS (a keyword not in upper case or not alone in its 8 columns, or a byte that is not "
             "printable ASCII)");
  }
  // EXTEND only tells that extensions may follow: one that is not logical
  // is left out rather than copied into every result. Then every card that
  // is not valid FITS is left out.
  bool extend_seen = false, extend_kept = true;
  for (header_index::entry& e : index.entries()) {
    if (!e.kept) continue;
    if (starts_with(e.card, "EXTEND  ")) {
      if (!extend_seen) extend_kept = logical_value(e.card) != 0;
      extend_seen = true;
      if (!extend_kept) e.kept = false;
    }
    if (e.kept && !valid_card(e.card)) e.kept = false;
  }
}

// A CONTINUE card reads as a piece of the long string on the card before
// it. When that card is left out (a copy, an invalid card, a count), or is
// a HISTORY or COMMENT card, which every write moves to the header's end,
// the CONTINUE would join whatever card comes before it in the results:
// `T = 'foo&'`, a copy left out, `CONTINUE 'bar'` would read T as 'foobar'.
// So the pieces that followed such a card, no part of any long string
// where they stood, go with it.
void leave_out_stray_pieces(header_index& index) {
  std::vector<header_index::entry>& entries = index.entries();
  for (std::size_t i = 1; i < entries.size(); i++) {
    const header_index::entry& before = entries[i - 1];
    const bool moved = starts_with(before.card, "HISTORY") || starts_with(before.card, "COMMENT");
    if ((!before.kept || moved) && entries[i].key == "CONTINUE") entries[i].kept = false;
  }
}

// Ends the header where the library ends it, with a plain END card, and
// blanks what follows: a card after it ("END=" ends a header too) must
// neither be read nor travel into a result.
void end_header_plainly(char* cards, int nblocks) {
  const std::size_t size = static_cast<std::size_t>(nblocks) * FITS_BLOCK;
  char* end = const_cast<char*>(first_end_card(cards, size));
  if (end == nullptr) return;
  std::memset(end, ' ', static_cast<std::size_t>(cards + size - end));
  std::memcpy(end, "END", 3);
}

// The library reads a structure card whatever stands between its keyword
// and its '=' (`NAXIS1  X=  64` is NAXIS1 = 64 there), other readers take
// such a card for commentary, and our writes put the value in columns 11
// to 30 behind whatever columns 9 and 10 hold. So a structure card whose
// keyword stands alone in columns 1 to 8 without "= " after it is made
// anew, in the form the standard fixes, with the value the library reads.
void standard_structure_cards(char* cards, const image_structure& image) {
  auto standard = [&](std::size_t index, const std::string& key, long long value) {
    char* card = cards + index * FITS_CARD;
    if (has_value_indicator(card) || std::string(card, 8) != padded(key, 8)) return;
    put_card(card, formatted("%-8s= %20lld", key.c_str(), value));
  };
  standard(1, "BITPIX", image.bitpix);
  standard(2, "NAXIS", static_cast<long long>(image.axes.size()));
  for (std::size_t axis = 0; axis < image.axes.size(); axis++)
    standard(3 + axis, "NAXIS" + std::to_string(axis + 1), image.axes[axis]);
}

}  // namespace

void parseimagehead(fitsstruct* rec, char* cards, int nblocks) {
  // A reused record must not keep values of its previous file for keys this
  // header lacks; only the file name and the stream stay.
  char* kept_filename = rec->filename;
  std::FILE* kept_stream = rec->stream;
  rec->filename = nullptr;
  release_owned(rec);
  rec->fitsinit();
  rec->filename = kept_filename;
  rec->stream = kept_stream;
  const char* name = rec->filename != nullptr ? rec->filename : "";
  auto find = [&](const char* key) -> const char* { return fitsnfind(cards, key, nblocks); };
  auto real = [&](const char* key, double absent) {
    const char* card = find(key);
    return card != nullptr ? card_real(card) : absent;
  };
  // Axis lengths size every buffer downstream: a length below 1 or a pixel
  // count beyond 32 bits is refused here, before anything is allocated.
  image_structure image;
  auto axis_length = [&](int axis) {
    const long long n = image.axes[axis];
    if (n < 1 || n > INT_MAX) error(1, name, " has an axis length below 1 or too large !");
    return static_cast<int>(n);
  };
  auto ctype = [&](const char* key) -> std::string {
    const char* card = find(key);
    return card != nullptr ? ctype_value(card) : "       ";
  };

  end_header_plainly(cards, nblocks);
  // The image's structure as the library reads it, before any card moves.
  const std::string fault = fits_image_structure(cards, static_cast<std::size_t>(nblocks) * FITS_BLOCK, &image);
  if (!fault.empty()) fatal_exitf(-1, stderr, "Error: the header %s ... (%s)\n", fault.c_str(), name);
  standard_structure_cards(cards, image);
  header_index index(cards, nblocks);
  refuse_differing_structural_copies(index, name);
  leave_out_agreeing_copies(index);
  keep_primary_cards(index, cards, name);
  leave_out_stray_pieces(index);
  index.move_kept_up();
  const long long naxis = static_cast<long long>(image.axes.size());
  if (naxis < 1) error(1, name, " NAXIS is not equal to 1,2, or 3 !");
  rec->naxis = static_cast<int>(naxis);
  const long long bitpix = image.bitpix;
  // 64-bit integers are what astropy writes for numpy's default integer
  // arrays, so the likeliest kind to come here: say what to write instead.
  if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != -32 && bitpix != -64)
    error(1, "Sorry, I don't know that kind of data.",
          (std::string(" (") + name + "); BITPIX = " + std::to_string(bitpix) +
           " is not read, only 8, 16 and 32 (integers) and -32 and -64 (floats): write the image as 32-bit "
           "integers or as floats")
              .c_str());
  rec->bitpix = static_cast<int>(bitpix);
  rec->bytepix = std::abs(rec->bitpix) / 8;

  long long npix = 1;
  rec->width = rec->naxisn[0] = axis_length(0);
  rec->crpixx = rec->crpix[0] = real("CRPIX1  ", 0.0);
  rec->crvalx = rec->crval[0] = real("CRVAL1  ", 0.0);
  rec->cdeltx = rec->cdelt[0] = real("CDELT1  ", 0.0);
  npix = rec->width;
  rec->crotax = real("CROTA1  ", 0.0);
  set_field(rec->ctypex, ctype("CTYPE1  "));
  if (naxis >= 2) {
    rec->height = rec->naxisn[1] = axis_length(1);
    rec->crpixy = rec->crpix[1] = real("CRPIX2  ", 0.0);
    rec->crvaly = rec->crval[1] = real("CRVAL2  ", 0.0);
    rec->cdelty = rec->cdelt[1] = real("CDELT2  ", 0.0);
    npix *= rec->height;
    rec->crotay = real("CROTA2  ", kAbsentRotation);
    if (rec->crotay == kAbsentRotation) getrota(rec, cards, nblocks);
    set_field(rec->ctypey, ctype("CTYPE2  "));
  }
  // A plane cut from a cube keeps the cube's third-axis cards (astropy
  // copies the whole header): read whatever the axis count, so that a result
  // finds them as written and keeps them, not zeroed.
  rec->crpix[2] = real("CRPIX3  ", 0.0);
  rec->crval[2] = real("CRVAL3  ", 0.0);
  rec->cdelt[2] = real("CDELT3  ", 0.0);
  if (naxis >= 3) {
    rec->naxisn[2] = axis_length(2);
    // Lines times columns fit 62 bits; a third factor is tested first.
    npix = npix > INT_MAX / rec->naxisn[2] ? static_cast<long long>(INT_MAX) + 1 : npix * rec->naxisn[2];
  }
  if (npix > INT_MAX) error(1, name, " has more than 2147483647 pixels !");
  rec->npix = static_cast<int>(npix);
  // Checked by keep_primary_cards: each reads as a number.
  auto scaling = [&](const char* key, double absent) {
    const char* card = find(key);
    double value = absent;
    if (card != nullptr) fits_number(card, &value);
    return value;
  };
  rec->bscale = scaling("BSCALE  ", 1.0);
  rec->bzero = scaling("BZERO   ", 0.0);
  rec->epoch = real("EPOCH   ", 0.0);

  rec->fitshead = cards;
  rec->fitsheadsize = nblocks * FITS_BLOCK;
  rec->origin = kEmptyText;
  rec->rident[0] = '\0';
  rec->hist_size = fitsreadhist(cards, rec->fitsheadsize, "HISTORY", &rec->history);
  rec->com_size = fitsreadhist(cards, rec->fitsheadsize, "COMMENT", &rec->comment);
}

int getrota(fitsstruct* rec, char* buf, int nblocks) {
  rec->crotay = 0.0;
  // A missing matrix term is 0, as in the standard; only a wholly missing
  // matrix means there is none.
  auto read_matrix = [&](const char* const keys[4], double terms[4]) {
    int found = 0;
    for (int k = 0; k < 4; k++) {
      const char* card = fitsnfind(buf, keys[k], nblocks);
      terms[k] = card != nullptr ? card_real(card) : 0.0;
      found += card != nullptr;
    }
    return found > 0;
  };
  double c[4];  // c11, c21, c12, c22
  if (rec->cdeltx == 0.0 && rec->cdelty == 0.0) {
    // Whole keywords: "CD1_1A" is a term of an alternate description.
    static const char* const keys[4] = {"CD1_1   ", "CD2_1   ", "CD1_2   ", "CD2_2   "};
    if (!read_matrix(keys, c)) return -1;
  } else {
    static const char* const keys[4] = {"CD001001", "CD002001", "CD001002", "CD002002"};
    if (!read_matrix(keys, c)) return -2;
    c[0] *= rec->cdeltx;
    c[2] *= rec->cdeltx;
    c[1] *= rec->cdelty;
    c[3] *= rec->cdelty;
  }
  double c11 = c[0], c21 = c[1], c12 = c[2], c22 = c[3];
  double det = c11 * c22 - c12 * c21;
  double sign = det < 0 ? -1.0 : 1.0;
  if (det > 0) std::printf("WARNING - Astrometry is for a right-handed coordinate system");
  double rot;
  if (c21 == 0.0 || c12 == 0.0) {
    rot = 0.0;
    rec->cdeltx = c11;
    rec->cdelty = c22;
  } else {
    rot = std::atan2(sign * c12, sign * c11);
    double rot2 = std::atan2(-c21, c22);
    if (std::fabs(rot) != std::fabs(rot2)) {
      // Only rotations within 2 degrees of each other are averaged, on
      // either side: a signed test would average rows far apart.
      if (std::fabs(rot - rot2) * kDegreesPerRadian < 2.0)
        rot = (rot + rot2) / 2.0;
      else
        std::printf("WARNING - Astrometry rot != rot2");
    }
    rec->cdeltx = c11 / std::cos(rot);
    rec->cdelty = c22 / std::cos(rot);
  }
  rec->crotay = rot * kDegreesPerRadian;
  return 0;
}

void updatefitsheader(fitsstruct* rec) {
  ensure_card_buffer(rec);
  char** buf = &rec->fitshead;
  int* size = &rec->fitsheadsize;
  auto write_int = [&](const char* key, int value) { fitswrite(buf, key, &value, H_INT, T_INT, size); };
  auto write_real = [&](const char* key, double value) {
    fitswrite(buf, key, &value, H_EXPO, T_DOUBLE, size);
  };

  write_int("NAXIS   ", rec->naxis);
  // The axis keys must follow NAXIS in order, and no NAXISn may remain
  // beyond NAXIS (a cube with one plane is written as an image).
  static const char* const axis_keys[3] = {"NAXIS1  ", "NAXIS2  ", "NAXIS3  "};
  const int lengths[3] = {rec->width, rec->height, rec->naxisn[2]};
  for (int k = 0; k < 3 && k < rec->naxis; k++) {
    if (fitsfind(*buf, axis_keys[k]) < 0)
      insert_card_after(rec, fitsfind(*buf, k == 0 ? "NAXIS   " : axis_keys[k - 1]), axis_keys[k]);
    write_int(axis_keys[k], lengths[k]);
  }
  for (int k = rec->naxis + 1; k <= 999 && k >= 1; k++) {
    std::string key = padded(formatted("NAXIS%d", k), 8);
    if (fitsfind(*buf, key.c_str()) < 0) break;
    remove_card(rec, key.c_str());
  }
  write_int("BITPIX  ", rec->bitpix);

  // A scaling card left from the input while the data are written without
  // it would scale the values read back, so unused ones are removed.
  if ((rec->bzero != 0.0 || rec->bscale != 1.0) && rec->bscale != 0.0)
    write_real("BSCALE  ", rec->bscale);
  else
    remove_card(rec, "BSCALE  ");
  if (std::fabs(rec->bzero) > kNegligible)
    write_real("BZERO   ", rec->bzero);
  else
    remove_card(rec, "BZERO   ");
  // A coordinate the record holds as its card says keeps the card as
  // written, digits and comment; one that differs (a zoom, a CD matrix read
  // as increments and rotation) is written with the digits that give it
  // back exactly, even when it is 0.
  auto write_coordinate = [&](const char* key, double value) {
    int i = fitsfind(*buf, key);
    if (i >= 0) {
      const double written = card_real(*buf + static_cast<std::size_t>(i) * FITS_CARD);
      if (written == value || (std::isnan(written) && std::isnan(value))) return;
    }
    if (i < 0 && !(std::fabs(value) > kNegligible)) return;
    if (i < 0) i = fitsadd(buf, key, nullptr, size);
    set_exact_real(*buf + static_cast<std::size_t>(i) * FITS_CARD, value);
  };
  write_coordinate("CRPIX1  ", rec->crpixx);
  write_coordinate("CRPIX2  ", rec->crpixy);
  write_coordinate("CRPIX3  ", rec->crpix[2]);
  write_coordinate("CRVAL1  ", rec->crvalx);
  write_coordinate("CRVAL2  ", rec->crvaly);
  write_coordinate("CRVAL3  ", rec->crval[2]);
  write_coordinate("CDELT1  ", rec->cdeltx);
  write_coordinate("CDELT2  ", rec->cdelty);
  write_coordinate("CDELT3  ", rec->cdelt[2]);
  write_coordinate("CROTA1  ", rec->crotax);
  write_coordinate("CROTA2  ", rec->crotay);
  if (std::strlen(rec->ctypex) > 1 && std::strlen(rec->ctypey) > 1) {
    auto write_ctype = [&](const char* key, const char* value) {
      const int i = fitsfind(*buf, key);
      if (i >= 0 && ctype_value(*buf + static_cast<std::size_t>(i) * FITS_CARD) == value) return;
      // Blanks are the record's stand-in for a card the input did not have:
      // written, the card would call the axis linear to readers that take a
      // DSS plate solution only where no CTYPEn stands.
      if (i < 0 && std::strspn(value, " ") == std::strlen(value)) return;
      fitswrite(buf, key, value, H_STRING, T_UNKNOWN, size);
    };
    write_ctype("CTYPE1  ", rec->ctypex);
    write_ctype("CTYPE2  ", rec->ctypey);
  }
  // BLANK marks undefined integer pixels; floating-point data mark them with
  // NaN, and the standard forbids the key there.
  if (rec->bitpix < 0) remove_card(rec, "BLANK   ");
  // Checksums of the input no longer match the data written, nor does its
  // range of values: a residual around 0 is not in the input's range.
  // Displays that scale by DATAMIN and DATAMAX find the range in the data.
  remove_card(rec, "CHECKSUM");
  remove_card(rec, "DATASUM ");
  remove_card(rec, "DATAMIN ");
  remove_card(rec, "DATAMAX ");

  fitsaddhist_com(rec, Soft.banner(), "HISTORY");
  if (rec->origin != nullptr && std::strlen(rec->origin) > 1) {
    fitsaddhist_com(rec, rec->origin, "HISTORY");
    rec->origin = kEmptyText;
  }
  if (strnlen(rec->rident, sizeof rec->rident) > 1) {
    std::string rident(rec->rident, strnlen(rec->rident, sizeof rec->rident));
    fitsaddhist_com(rec, rident.c_str(), "HISTORY");
  }
  fitswritehist(rec);
  rec->bytepix = std::abs(rec->bitpix) / 8;
}
