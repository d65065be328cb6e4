// Checks of tile-compressed images on the file's own bytes, HDU by HDU, made
// before the FITS library parses them: it divides by its tile sizes and
// block size as it opens such an HDU, and its decoders trust each tile's
// stream to fit its buffers.
#include "io/tile_compression_check.h"

// The library's card parsers and conversions; this header of the library
// declares no C linkage.
extern "C" {
#include <fitsio2.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "array/fatal.h"
#include "io/compressed_input.h"
#include "io/fits_cards.h"
#include "io/fits_hdu_walk.h"
#include "io/fits_header.h"
#include "io/tile_parameters.h"
#include "io/tile_streams.h"

namespace {

// The file's bytes, read piece by piece; several threads may read at once.
class file_bytes {
 public:
  virtual ~file_bytes() = default;
  virtual long long size() const = 0;
  // False when the file ends first.
  virtual bool read(long long offset, std::size_t count, unsigned char* out) const = 0;
  // The bytes in place where the file is in memory, else read into
  // `scratch`; null when the file ends first, before any memory is taken.
  virtual const unsigned char* view(long long offset, std::size_t count, std::vector<unsigned char>& scratch) const {
    if (!holds(offset, count)) return nullptr;
    scratch.resize(count);
    return read(offset, count, scratch.data()) ? scratch.data() : nullptr;
  }

 protected:
  bool holds(long long offset, std::size_t count) const {
    return offset >= 0 && offset <= size() && count <= static_cast<unsigned long long>(size() - offset);
  }
};

class memory_bytes : public file_bytes {
 public:
  memory_bytes(const unsigned char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
  long long size() const override { return static_cast<long long>(size_); }
  bool read(long long offset, std::size_t count, unsigned char* out) const override {
    if (!holds(offset, count)) return false;
    std::memcpy(out, bytes_ + offset, count);
    return true;
  }
  const unsigned char* view(long long offset, std::size_t count, std::vector<unsigned char>&) const override {
    return holds(offset, count) ? bytes_ + offset : nullptr;
  }

 private:
  const unsigned char* bytes_;
  std::size_t size_;
};

// Read through the descriptor with pread, which keeps no position of its
// own to share between threads; the stream's buffer is not touched.
class stream_bytes : public file_bytes {
 public:
  explicit stream_bytes(int descriptor) : descriptor_(descriptor) {
    struct stat info;
    size_ = fstat(descriptor_, &info) == 0 ? static_cast<long long>(info.st_size) : 0;
  }
  long long size() const override { return size_; }
  bool read(long long offset, std::size_t count, unsigned char* out) const override {
    if (!holds(offset, count)) return false;
    while (count > 0) {
      const ssize_t got = pread(descriptor_, out, count, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      out += got;
      count -= static_cast<std::size_t>(got);
      offset += got;
    }
    return true;
  }

 private:
  int descriptor_;
  long long size_ = 0;
};

// The quantizations the library knows.
const char* const kQuantizations[] = {"NO_DITHER", "SUBTRACTIVE_DITHER_1", "SUBTRACTIVE_DITHER_2", "NONE"};
// The convention's Z-cards of fixed names, and the cards of the table's
// structure, scaling and name: each the checks or the library read.
const char* const kConventionZCards[] = {"ZIMAGE",   "ZCMPTYPE", "ZBITPIX",  "ZNAXIS",   "ZMASKCMP", "ZSIMPLE",
                                         "ZTENSION", "ZEXTEND",  "ZBLOCKED", "ZPCOUNT",  "ZGCOUNT",  "ZHECKSUM",
                                         "ZDATASUM", "ZQUANTIZ", "ZDITHER0", "ZSCALE",   "ZZERO",    "ZBLANK"};
// The name cards are not among them: the tiles do not depend on them, and
// the walk's search refuses their copies where it compares them.
const char* const kStructureCards[] = {"XTENSION", "BITPIX", "NAXIS",  "PCOUNT", "GCOUNT",
                                       "TFIELDS",  "THEAP",  "BSCALE", "BZERO",  "BLANK"};
// The library keeps at most this many image axes, and this many dithering
// offsets in its table of random numbers.
constexpr long long kMaxAxes = 6;
constexpr long long kDitherOffsets = 10000;
// More pixels than a tile of any file could hold, 8 bytes each at most.
constexpr long long kMostTilePixels = kBeyondAnyFile / 8;
// Longer headers of tile-compressed images are refused: their cards are
// looked up in tables of the checks' own, and no image needs them. A table
// has at most this many columns.
constexpr int kMaxHeaderBlocks = 10000;
constexpr long long kMaxColumns = 999;
// A column's repeat count is taken at most this large: no table that the
// rows' width could hold has a longer one, and the sum of a thousand
// columns' widths cannot overflow.
constexpr long long kMostRepeat = 1LL << 40;
// Images this large have their tiles checked side by side.
constexpr long long kParallelPixels = 1 << 16;

// A field of a heap descriptor: the library reads P's 4-byte fields
// unsigned, so that a heap may pass 2 GiB, and Q's 8-byte ones signed.
long long descriptor_field(const unsigned char* bytes, int count) {
  if (count == 8) return big_endian(bytes, 8);
  unsigned long long value = 0;
  for (int k = 0; k < count; k++) value = value << 8 | bytes[k];
  return static_cast<long long>(value);
}

// The Z-cards of the compression convention: the library reads most of
// them, and its rebuild of the image's header the rest. Other cards that
// begin with Z (ZENITH, ZD) are the observer's, carried through as written.
bool convention_z_card(const std::string& keyword) {
  for (const char* const key : kConventionZCards)
    if (keyword == key) return true;
  for (const char* const prefix : {"ZNAXIS", "ZTILE", "ZNAME", "ZVAL"})
    if (keyword_index(keyword, prefix) > 0) return true;
  return false;
}

// The name of a card that the checks or the library read, in upper case
// and with a column's or an axis's number written plainly, so that its
// copies in any letter case share it; empty for a card neither reads.
std::string read_card_name(const std::string& keyword) {
  const std::string upper = upper_case(keyword);
  if (upper.empty()) return "";
  if (convention_z_card(upper)) return upper;
  for (const char* const key : kStructureCards)
    if (upper == key) return upper;
  const std::string column = column_card_name(upper);
  if (!column.empty()) return column;
  const long long axis = keyword_index(upper, "NAXIS");
  return axis > 0 ? "NAXIS" + std::to_string(axis) : "";
}

// How the library values a card the checks or the library read, named as
// read_card_name names it: the table's structure and its columns' scaling
// by its strict conversions, which take no number in quotes and no real
// for an integer; the others by the lenient ones.
card_kind kind_of_card(const std::string& name) {
  for (const char* const key : {"ZIMAGE", "ZSIMPLE", "ZEXTEND", "ZBLOCKED"})
    if (name == key) return card_kind::logical;
  for (const char* const key : {"BITPIX", "NAXIS", "PCOUNT", "GCOUNT", "TFIELDS", "THEAP"})
    if (name == key) return card_kind::structure_integer;
  for (const char* const key : {"ZBITPIX", "ZNAXIS", "ZPCOUNT", "ZGCOUNT", "ZDITHER0", "ZBLANK", "BLANK"})
    if (name == key) return card_kind::integer;
  for (const char* const key : {"ZSCALE", "ZZERO", "BSCALE", "BZERO"})
    if (name == key) return card_kind::real;
  if (keyword_index(name, "NAXIS") > 0) return card_kind::structure_integer;
  if (keyword_index(name, "ZNAXIS") > 0 || keyword_index(name, "ZTILE") > 0 || keyword_index(name, "TNULL") > 0)
    return card_kind::integer;
  // Rice's ZVALn are integers, HCOMPRESS's SCALE a real: as reals, copies
  // agree only where both readings do.
  if (keyword_index(name, "ZVAL") > 0) return card_kind::real;
  if (keyword_index(name, "TSCAL") > 0 || keyword_index(name, "TZERO") > 0) return card_kind::structure_real;
  return card_kind::text;
}

// One tile-compressed image: the table's header, where its data begin, and
// how messages name it.
class tile_table {
 public:
  // `decoded`: the HDU whose pixels are read, not one passed on the way.
  tile_table(std::string cards, int nblocks, int hdu, long long data_start, const std::string& name, bool decoded)
      : cards_(std::move(cards)), nblocks_(nblocks), hdu_(hdu), data_start_(data_start), name_(name),
        decoded_(decoded) {
    // Each card looked up once: a header may hold hundreds of thousands,
    // and a table a thousand columns of a few cards each.
    const std::size_t size = static_cast<std::size_t>(nblocks_) * FITS_BLOCK;
    for (std::size_t at = 0; at + FITS_CARD <= size && !end_card(&cards_[at]); at += FITS_CARD)
      index_.emplace(lookup_name(card_keyword(&cards_[at])), &cards_[at]);
  }

  // The cards, read as the library reads them into the parameters the
  // tiles are walked by (walked_), each held to what the library's
  // decoders need, in the order below. A new card is read, and its rule
  // made, in the step of its kind; what the walk or the comparison after
  // the open needs of it goes into walked_ there.
  void check_cards(const file_bytes& file) {
    check_single_cards();
    read_compression();
    read_image_and_tiles();
    read_coder_parameters();
    check_one_group();
    read_quantize_method();
    read_table(file);
    read_quantization();
    read_constants();
  }

  // After the library opened the HDU, before it decodes a tile: what it
  // took must be what the tiles were walked by. Any card form the checks
  // read otherwise than the library would otherwise bring its decoders to
  // other sizes, other columns or other bytes than the ones walked.
  void hold_to_library(fitsfile* fptr) {
    // A ZDITHER0 of 0 beside the seed: the library may have kept the 0,
    // which dithers no tile right.
    if (dither_card_ != nullptr && dither_zero_copy_) tile_dither_seed_mended(fptr, dither_seed_);
    const std::vector<tile_parameter_difference> differences = tile_parameter_differences(fptr, walked_);
    if (differences.empty()) return;
    std::string what;
    for (const tile_parameter_difference& difference : differences)
      what += (what.empty() ? "" : ", ") + difference.parameter + " " + difference.library +
              " as the FITS library took it, " + difference.walked + " as its tiles were checked";
    refuse(what, "the library read its cards otherwise than the checks; mend the cards named, or remove their copies");
  }

  // Each tile's data where the library finds them (`geometry`, as it took
  // it at its open), as the decoder of its column reads them: a Rice
  // stream until its pixels are complete, a gzip stream until it ends
  // (growing its buffer for as long as it takes), an HCOMPRESS or PLIO
  // stream as far as its header says, the values kept whole as many as the
  // descriptor counts; each into a buffer of the tile's pixels. The tiles
  // are checked side by side; the first fault in tile order is the one
  // reported, whatever the threads. Called after check_cards, which reads
  // what the tiles are, and hold_to_library.
  void check_tiles(const file_bytes& file, const tile_geometry& geometry) { check_streams(file, geometry); }

 private:
  using stream_column = tile_parameters::column_layout;

  // The first card the library reads as `key`: since no card it reads is
  // given twice but in copies it reads alike, the same the checks read.
  const char* find(const std::string& key) const {
    const auto card = index_.find(key);
    return card == index_.end() ? nullptr : card->second;
  }
  // "ZTILE1 = 0" as the card gives it; a card in another form as it
  // stands ("ZTILE1 X= 0").
  static std::string as_given(const char* card) {
    std::string keyword = card_keyword(card), padded = keyword;
    padded.resize(8, ' ');
    if (keyword.size() <= 8 && std::memcmp(card, padded.data(), 8) == 0 && std::memcmp(card + 8, "= ", 2) == 0)
      return keyword + " = " + card_value(card);
    std::string text(card, FITS_CARD);
    text.erase(std::min(text.find('\0'), text.size()));
    return text.erase(text.find_last_not_of(' ') + 1);
  }
  std::string card_text(const std::string& key) {
    const char* card = find(key);
    return card == nullptr ? key + " (absent)" : as_given(card);
  }
  // The library finds a card by a search that starts where the last one
  // ended, or by a parse of all the cards in turn: of two copies, it may
  // read either. Copies it reads alike are one card; copies that differ
  // are refused. Of ZQUANTIZ and ZDITHER0, which only the decoder reads,
  // copies are no matter in an HDU passed on the way; in the HDU read, a
  // ZDITHER0 of 0 (no seed, the library's compressor's mark of an
  // undithered image) beside a seed is the seed, as a round trip through
  // another writer leaves them.
  void check_single_cards() {
    std::unordered_map<std::string, const char*> seen;
    const std::size_t size = static_cast<std::size_t>(nblocks_) * FITS_BLOCK;
    for (std::size_t at = 0; at + FITS_CARD <= size && !end_card(&cards_[at]); at += FITS_CARD) {
      const char* card = &cards_[at];
      const std::string name = read_card_name(card_keyword(card));
      if (name.empty()) continue;
      if (name == "ZDITHER0" || name == "ZQUANTIZ") {
        if (!decoded_) continue;
        if (name == "ZDITHER0") {
          note_dither_seed(card);
          continue;
        }
      }
      const auto first = seen.emplace(name, card);
      if (first.second || copies_alike(first.first->second, card, kind_of_card(name))) continue;
      refuse(name + " twice (" + as_given(first.first->second) + ", then " + as_given(card) + ")",
             "the FITS library may read either copy; remove the wrong one from the header");
    }
  }
  // A ZDITHER0 card among its copies: the seed one gives, not 0, is kept
  // as the one the tiles are read with; two seeds are refused.
  void note_dither_seed(const char* card) {
    long long seed = 0;
    const bool integer = value_integer(card_value(card), &seed);
    if (dither_card_ == nullptr || (integer && seed != 0 && dither_integer_ && dither_seed_ == 0)) {
      dither_zero_copy_ |= dither_card_ != nullptr;
      dither_card_ = card;
      dither_seed_ = seed;
      dither_integer_ = integer;
      return;
    }
    if (integer && dither_integer_ && (seed == 0 || seed == dither_seed_)) {
      dither_zero_copy_ |= seed == 0;
      return;
    }
    if (copies_alike(dither_card_, card, card_kind::integer)) return;
    refuse("ZDITHER0 twice (" + as_given(dither_card_) + ", then " + as_given(card) + ")",
           "two seeds of the dithering, of which the FITS library may read either; remove the wrong one from the "
           "header");
  }
  [[noreturn]] void refuse(const std::string& what, const char* reason) {
    fatal_exitf(-1, stderr, "Error: the tile-compressed image in HDU [%d] has %s: %s ... (%s)\n", hdu_, what.c_str(),
                reason, name_.c_str());
  }
  // An integer card, read as the library reads it: a card of the
  // compression by its lenient conversion, one of the table's structure
  // (`strict`) by its strict one, an integer written as one, not in quotes.
  // `absent` when the card is not there, a refusal (`unread`) when the
  // library reads no integer in it.
  long long integer(const std::string& key, long long absent, bool strict = false,
                    const char* unread = "its value is no integer") {
    const char* card = find(key);
    if (card == nullptr) return absent;
    long long value = 0;
    const std::string given = card_value(card);
    // The library hands its parsers a card less its trailing blanks:
    // "ZTILE1=0" is then too short to hold a value.
    if (given.empty()) refuse(card_text(key), "the FITS library reads no value in it");
    if (!(strict ? value_integer_strict(given, &value) : value_integer(given, &value))) refuse(card_text(key), unread);
    return value;
  }
  long long required_integer(const std::string& key) {
    if (find(key) == nullptr) refuse(key + " absent", "the library needs it to read the image");
    return integer(key, 0);
  }
  long long structure_integer(const std::string& key, long long absent,
                              const char* unread = "the FITS library reads no integer in it") {
    return integer(key, absent, true, unread);
  }
  // A column's TSCALn or TZEROn, as the library takes it: by its strict
  // conversion, `absent` where that reads no number (a number in quotes),
  // and 0 from a card of no value.
  double column_scaling(const std::string& key, double absent) {
    const char* card = find(key);
    double value = 0;
    return card != nullptr && value_real_strict(card_value(card), &value) ? value : absent;
  }
  // A string card without its quotes and trailing blanks, as the library
  // reads it; empty when absent.
  std::string text(const std::string& key) {
    const char* card = find(key);
    return card == nullptr ? "" : value_text(card_value(card));
  }
  template <std::size_t N>
  static bool known(const std::string& value, const char* const (&names)[N]) {
    return std::find_if(names, names + N, [&](const char* known) { return value == known; }) != names + N;
  }

  // ZCMPTYPE: a compression the library decodes.
  void read_compression() {
    walked_.compression = text("ZCMPTYPE");
    compression_ = tile_compression_named(walked_.compression);
    if (compression_ == nullptr) refuse(card_text("ZCMPTYPE"), "a compression the library does not know");
  }

  // The image's pixel type and axes and its tiles' sides, and the table's
  // rows, one a tile: the library divides by the sides as it opens the
  // HDU, and sizes each tile's buffer by them.
  void read_image_and_tiles() {
    const long long bitpix = required_integer("ZBITPIX");
    if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != 64 && bitpix != -32 && bitpix != -64)
      refuse(card_text("ZBITPIX"), "no FITS pixel type");
    walked_.bitpix = bitpix;
    pixel_bytes_ = std::llabs(bitpix) / 8;
    const long long naxis = required_integer("ZNAXIS");
    if (naxis < 1 || naxis > kMaxAxes) refuse(card_text("ZNAXIS"), "an image of 1 to 6 axes is compressed in tiles");
    long long tiles = 1, tile_pixels = 1;
    for (long long k = 1; k <= naxis; k++) {
      const std::string axis_key = "ZNAXIS" + std::to_string(k), tile_key = "ZTILE" + std::to_string(k);
      const long long length = required_integer(axis_key);
      if (length < 1) refuse(card_text(axis_key), "an axis of a compressed image has at least 1 pixel");
      const long long tile = integer(tile_key, k == 1 ? length : 1);
      if (tile < 1) refuse(card_text(tile_key), "a tile has at least 1 pixel along each axis");
      walked_.axes.push_back(length);
      walked_.tile_sides.push_back(tile);
      tile_pixels = std::min(tile, length) > kMostTilePixels / tile_pixels ? kMostTilePixels + 1
                                                                             : tile_pixels * std::min(tile, length);
      // Each factor is at most its axis's length, whose product the rows
      // below must match: saturated, it cannot overflow.
      const long long along = (length - 1) / tile + 1;
      tiles = tiles > kBeyondAnyFile / along ? kBeyondAnyFile : tiles * along;
    }
    // Saturated above: the counts of a tile's pixels and bytes that the
    // checks make cannot overflow.
    if (tile_pixels > kMostTilePixels) {
      std::string sides;
      for (long long k = 1; k <= naxis; k++) sides += (k > 1 ? ", " : "") + card_text("ZTILE" + std::to_string(k));
      refuse(sides, "a tile of more pixels than any file could hold");
    }
    if (find("NAXIS2") == nullptr) refuse("NAXIS2 absent", "the library needs it to read the image");
    walked_.rows = structure_integer("NAXIS2", 0);
    if (walked_.rows != tiles)
      refuse(card_text("NAXIS2") + " rows", ("its " + std::to_string(tiles) + " tiles need as many").c_str());
  }

  // What the coder of the tiles reads besides them: Rice's block size and
  // pixel width, HCOMPRESS's scale.
  void read_coder_parameters() {
    if (compression_->coder == tile_coder::rice) {
      // The decoder takes BLOCKSIZE from ZVAL1 and BYTEPIX from ZVAL2,
      // whatever the ZNAMEn say, and the other way round when they look
      // swapped: a block size below 16 beside a width above 8.
      long long first = integer("ZVAL1", 32), second = integer("ZVAL2", 4);
      const bool swapped = first < 16 && second > 8;
      if (swapped) std::swap(first, second);
      walked_.rice_blocksize_card = swapped ? "ZVAL2" : "ZVAL1";
      walked_.rice_bytepix_card = swapped ? "ZVAL1" : "ZVAL2";
      walked_.rice_blocksize = first;
      if (first < 1)
        refuse(card_text(walked_.rice_blocksize_card) + " (BLOCKSIZE)", "Rice codes blocks of at least 1 pixel");
      // The decoder reads pixels of 1 or 2 bytes as asked, any other width
      // (absent, 8, ...) as 4 bytes.
      walked_.rice_bytepix = second == 1 || second == 2 ? second : 4;
    }
    if (compression_->coder == tile_coder::hcompress && find("ZVAL1") != nullptr) {
      double scale = 0;
      if (!value_real(card_value(find("ZVAL1")), &scale)) refuse(card_text("ZVAL1") + " (SCALE)", "no number");
    }
  }

  // An image is one group of pixels: the library sizes the image it
  // rebuilds by ZGCOUNT, before any pixel is read. ZPCOUNT it never reads
  // (measured: the image it opens has no parameters whatever the card
  // says), and astropy writes the old heap's size there in a table it
  // copied: it is no matter.
  void check_one_group() {
    if (integer("ZGCOUNT", 1) != 1) refuse(card_text("ZGCOUNT"), "an image is one group of pixels");
  }

  // ZQUANTIZ: a quantization the library knows.
  void read_quantize_method() {
    walked_.quantize = text("ZQUANTIZ");
    if (find("ZQUANTIZ") != nullptr && !known(walked_.quantize, kQuantizations))
      refuse(card_text("ZQUANTIZ"), "a quantization the library does not know");
  }

  // The table's rows, heap and columns, which the library lays out as it
  // meets the HDU, by its strict conversions: a format it cannot read, rows
  // narrower than the streams' descriptors, data columns under a scaling.
  // The decoders read their streams as bytes, a PLIO list as 16-bit
  // integers (any other type would be converted on the way, and the bytes
  // checked here would not be the ones decoded); values kept whole are
  // converted number by number into the tile's buffer.
  void read_table(const file_bytes& file) {
    if (find("NAXIS1") == nullptr) refuse("NAXIS1 absent", "the library needs it to read the image");
    const long long row_bytes = structure_integer("NAXIS1", 0), fields = structure_integer("TFIELDS", 0);
    walked_.row_bytes = row_bytes;
    walked_.heap_bytes = structure_integer("PCOUNT", 0);
    // The library takes no heap offset from a THEAP it cannot read, and
    // looks for the heap right after the rows, not where the card says.
    const long long table_bytes = row_bytes > 0 && walked_.rows > 0 && walked_.rows <= kBeyondAnyFile / row_bytes
                                      ? row_bytes * walked_.rows
                                      : 0;
    walked_.heap_start =
        structure_integer("THEAP", table_bytes,
                          "the FITS library reads no integer in it, and would look for the heap right after the rows");
    if (fields > kMaxColumns) refuse(card_text("TFIELDS"), "a table has at most 999 columns");
    read_columns(fields);
    // A table that the file does not hold is for the library to report as
    // cut.
    if (row_bytes < 1 || walked_.rows > file.size() / row_bytes) return;
    for (const stream_column* column : {&compressed_, &gzipped_, &uncompressed_})
      if (column->offset >= 0 && column->offset + 2 * column->descriptor > row_bytes)
        refuse(card_text("NAXIS1"), "its rows are narrower than their columns");
  }

  // The columns, found by name as the library finds them, each laid out
  // by its format as the library reads it.
  void read_columns(long long fields) {
    // The library finds its columns by their names in any letter case, by
    // a comparison of its own; of two columns that answer to one name, it
    // may take either.
    struct named_column {
      const char* name;
      int* number;
      stream_column* stream;
    } named[] = {{"COMPRESSED_DATA", &walked_.compressed_column, &compressed_},
                 {"GZIP_COMPRESSED_DATA", &walked_.gzip_column, &gzipped_},
                 {"UNCOMPRESSED_DATA", &walked_.uncompressed_column, &uncompressed_},
                 {"ZSCALE", &walked_.zscale_column, nullptr},
                 {"ZZERO", &walked_.zzero_column, nullptr},
                 {"ZBLANK", &walked_.zblank_column, nullptr}};
    for (long long k = 1, at = 0; k <= fields; k++) {
      const std::string n = std::to_string(k), form_key = "TFORM" + n, type_key = "TTYPE" + n;
      column_format format;
      if (!format_of(text(form_key), &format)) refuse(card_text(form_key), "no column format");
      const std::string type = text(type_key);
      for (named_column& kind : named) {
        if (!column_named(type, kind.name)) continue;
        if (*kind.number != 0)
          refuse(card_text("TTYPE" + std::to_string(*kind.number)) + " and " + card_text(type_key),
                 "two columns the FITS library finds by one name, of which it may take either; rename the one "
                 "that holds no such data");
        *kind.number = static_cast<int>(k);
        stream_column* column = kind.stream;
        if (column == nullptr) continue;
        if (format.descriptor == 0) refuse(card_text(form_key), "the compressed data are no variable-length column");
        const int value_bytes = number_bytes(format.type);
        if (column == &uncompressed_ && value_bytes == 0)
          refuse(card_text(form_key), "the tiles kept whole are numbers (B, I, J, K, E or D)");
        const int wanted = column == &uncompressed_                                         ? format.type
                           : column == &compressed_ && compression_->coder == tile_coder::plio ? -TSHORT
                                                                                              : -TBYTE;
        if (format.type != wanted)
          refuse(card_text(form_key), wanted == -TSHORT ? "PLIO lists are 16-bit integers (1PI or 1QI)"
                                                         : "the compressed data are bytes (1PB or 1QB)");
        // Only the decoder reads a column's scaling: an HDU passed on the
        // way may have one.
        const double scale = column_scaling("TSCAL" + n, 1), zero = column_scaling("TZERO" + n, 0);
        if (decoded_ && (scale != 1 || zero != 0))
          refuse(std::string("tiles in ") + kind.name + " that stand under their column's own scaling (TSCAL" + n +
                     " = " + tile_number_text(scale) + ", TZERO" + n + " = " + tile_number_text(zero) + ")",
                 ("the FITS library would scale every value it hands the decoder, which no writer scales; remove "
                  "TSCAL" + n + " and TZERO" + n)
                     .c_str());
        *column = {at, format.descriptor, value_bytes, format.type, scale, zero};
      }
      at += format.row_bytes;
    }
    walked_.compressed_layout = compressed_;
    walked_.gzip_layout = gzipped_;
    walked_.uncompressed_layout = uncompressed_;
  }

  // The quantization of floating-point pixels, and their dithering.
  void read_quantization() {
    // Floating-point pixels are either quantized to integers (ZSCALE gives
    // the step) or kept as they are, which gzip alone can code; the decoder
    // reads integer tiles of an unquantized image as floating-point ones.
    const long long bitpix = walked_.bitpix;
    quantized_ = tile_pixels_quantized(bitpix, walked_.zscale_column > 0 || find("ZSCALE") != nullptr,
                                       walked_.quantize);
    const tile_coder coder = compression_->coder;
    if (bitpix < 0 && coder != tile_coder::gzip && coder != tile_coder::none && !quantized_)
      refuse(card_text("ZBITPIX"), (std::string(compression_->name) +
                                    " codes integers, and no ZSCALE column or card quantizes the floating-point pixels")
                                       .c_str());
    // The library reads a scale given as a card, which the convention
    // allows where every tile has the same, as 0: every pixel would read
    // as ZZERO, without a word.
    if (quantized_ && walked_.zscale_column == 0)
      refuse(card_text("ZSCALE"), "a scale given as a card, which the FITS library reads as 0, every pixel as ZZERO");
    // Only quantized tiles are dithered: the tiles kept whole (all of a
    // NOCOMPRESS image's, which the library's compressor marks
    // ZDITHER0 = 0) never read the offset.
    if (decoded_ && quantized_ && coder != tile_coder::none &&
        walked_.quantize.compare(0, 19, "SUBTRACTIVE_DITHER_") == 0) {
      long long offset = 1;
      if (dither_card_ != nullptr && !value_integer(card_value(dither_card_), &offset))
        refuse(as_given(dither_card_), "its value is no integer");
      if (offset < 1 || offset > kDitherOffsets)
        refuse(dither_card_ == nullptr ? "ZDITHER0" : as_given(dither_card_), "dithering starts at 1 to 10000");
    }
    walked_.has_dither_seed = dither_card_ != nullptr;
    walked_.dither_seed = dither_seed_;
    // Bytes of a pixel as the tiles store it: quantized pixels as 4-byte
    // integers.
    stored_bytes_ = quantized_ ? 4 : pixel_bytes_;
  }

  // ZSCALE, ZZERO, ZBLANK and BLANK given as cards, as the library takes
  // them where no column gives them.
  void read_constants() {
    const char* card = find("ZSCALE");
    walked_.has_zscale = card != nullptr && value_real(card_value(card), &walked_.zscale);
    card = find("ZZERO");
    walked_.has_zzero = card != nullptr && value_real(card_value(card), &walked_.zzero);
    card = find("ZBLANK");
    walked_.has_zblank = card != nullptr && value_integer(card_value(card), &walked_.zblank);
    card = find("BLANK");
    walked_.has_blank = card != nullptr && value_integer(card_value(card), &walked_.blank);
  }

  // A column's format as the library reads it (its own parser, which takes
  // the type's letters in any case and blanks before them): the bytes it
  // takes in a row, the type of its values (the library's code, negative
  // for a variable-length column), and for a variable-length one the width
  // of its descriptors' fields (4 for P, 8 for Q). False for a format the
  // library cannot lay out in a row.
  struct column_format {
    long long row_bytes = 0;
    int type = 0, descriptor = 0;
  };
  static bool format_of(const std::string& text, column_format* format) {
    std::vector<char> tform(text.begin(), text.end());
    tform.push_back('\0');
    int type = 0, status = 0;
    LONGLONG repeat = 0;
    long width = 0;
    if (ffbnfmll(tform.data(), &type, &repeat, &width, &status) != 0) return false;
    repeat = std::min<LONGLONG>(std::max<LONGLONG>(repeat, 0), kMostRepeat);
    format->type = type;
    if (type < 0) {
      // The library sizes a variable-length column by the letter right
      // after the repeat count, in upper case; it cannot size any other.
      const std::size_t letter = text.find_first_not_of("0123456789");
      const char kind = letter == std::string::npos ? '\0' : text[letter];
      if (kind != 'P' && kind != 'Q') return false;
      format->descriptor = kind == 'P' ? 4 : 8;
      format->row_bytes = 2 * format->descriptor;
      return true;
    }
    format->row_bytes = type == TBIT ? (repeat + 7) / 8 : type == TSTRING ? repeat : repeat * width;
    return true;
  }
  // Bytes of a number of a variable-length column the decoders read, 0 for
  // values that are no plain number.
  static int number_bytes(int type) {
    switch (-type) {
      case TBYTE: return 1;
      case TSHORT: return 2;
      case TLONG:
      case TFLOAT: return 4;
      case TLONGLONG:
      case TDOUBLE: return 8;
    }
    return 0;
  }

  // What a tile's checks found first, in the order they meet it: `cut` is a
  // stream that the file does not hold, left for the library to report.
  enum class tile_fault : unsigned char {
    none,
    cut,
    outside,
    uncompressed_outside,
    hcompress_short,
    hcompress_shape,
    hcompress_magic,
    hcompress_past,
    hcompress_code,
    hcompress_planes,
    hcompress_empty,
    rice_short,
    gzip_no_memory,
    gzip_unended,
    gzip_short,
    plio_past,
    plio_pixels,
    uncompressed_values,
    nocompress_coded,
    no_memory
  };
  struct tile_verdict {
    tile_fault fault = tile_fault::none;
    // The image an HCOMPRESS stream describes, its fields 4 bytes wide.
    std::int32_t nx = 0, ny = 0;
    // The bytes a gzip stream inflates to, the pixels a PLIO list
    // decodes to, the values kept whole.
    long long count = 0;
  };

  // What one thread reuses from tile to tile.
  struct tile_scratch {
    std::vector<unsigned char> stream;
    gzip_counter gzip;
    hcompress_walker hcompress;
  };

  // Whether the library finds a column of this name (TTYPEn's value) when
  // it asks for `wanted`.
  static bool column_named(const std::string& type, const char* wanted) {
    char pattern[FLEN_VALUE] = "", column[FLEN_VALUE] = "";
    std::strncat(pattern, wanted, sizeof pattern - 1);
    std::strncat(column, type.c_str(), sizeof column - 1);
    int match = 0, exact = 0;
    ffcmps(pattern, column, CASEINSEN, &match, &exact);
    return match != 0;
  }

  void check_streams(const file_bytes& file, const tile_geometry& geometry) {
    row_bytes_ = geometry.row_bytes;
    rows_ = geometry.rows;
    if (row_bytes_ < 1 || rows_ < 0 || rows_ > file.size() / row_bytes_) return;
    const long long table_bytes = row_bytes_ * rows_;
    std::vector<unsigned char> table_copy;
    table_ = file.view(data_start_, static_cast<std::size_t>(table_bytes), table_copy);
    if (table_ == nullptr) return;
    // A heap larger than the file is the library's to report as cut, as
    // is a negative one; what is left cannot overflow the sum.
    if (geometry.heap_bytes < 0 || geometry.heap_bytes > file.size()) return;
    heap_start_ = geometry.heap_start;
    heap_end_ = table_bytes + geometry.heap_bytes;
    compressed_ = geometry.compressed;
    gzipped_ = geometry.gzip;
    uncompressed_ = geometry.uncompressed;
    for (const stream_column* column : {&compressed_, &gzipped_, &uncompressed_})
      if (column->offset >= 0 && (column->offset > row_bytes_ || 2 * column->descriptor > row_bytes_ - column->offset))
        refuse(card_text("NAXIS1"), "its rows are narrower than their columns");
    if (compressed_.offset < 0 && gzipped_.offset < 0 && uncompressed_.offset < 0) return;

    long long image_pixels = 1;  // up to kParallelPixels
    for (const long long length : walked_.axes)
      image_pixels = std::min(kParallelPixels, image_pixels * std::min(length, kParallelPixels));
    std::vector<tile_verdict> verdicts(static_cast<std::size_t>(rows_));
    // The tiles after a fault found need no check; all before it get one.
    std::atomic<long long> first_fault{rows_};
#pragma omp parallel if (rows_ > 1 && image_pixels >= kParallelPixels)
    {
      tile_scratch scratch;
#pragma omp for schedule(dynamic, 16)
      for (long long tile = 0; tile < rows_; tile++) {
        if (tile > first_fault.load(std::memory_order_relaxed)) continue;
        // An exception may not leave the parallel region: memory that
        // runs out is a verdict, refused in its turn.
        try {
          verdicts[tile] = check_tile(tile, file, scratch);
        } catch (const std::bad_alloc&) {
          verdicts[tile].fault = tile_fault::no_memory;
        }
        if (verdicts[tile].fault == tile_fault::none) continue;
        long long seen = first_fault.load(std::memory_order_relaxed);
        while (tile < seen && !first_fault.compare_exchange_weak(seen, tile, std::memory_order_relaxed)) {
        }
      }
    }
    // Only the tiles up to the first fault were surely checked, on any
    // number of threads: the verdicts after it are not looked at.
    for (long long tile = 0; tile < rows_; tile++) {
      if (verdicts[tile].fault == tile_fault::none) continue;
      refuse_tile(tile, verdicts[tile]);
      return;
    }
  }

  // Ends the process on a tile's fault, but for a cut stream: the checks
  // stop there, as the library will.
  void refuse_tile(long long tile, const tile_verdict& verdict) {
    const std::string which = "tile " + std::to_string(tile + 1);
    long long first_side = 0, pixels = 0;
    tile_shape(tile, &first_side, &pixels);
    const std::string count = std::to_string(verdict.count), tile_pixels = std::to_string(pixels);
    switch (verdict.fault) {
      case tile_fault::none:
      case tile_fault::cut: return;
      case tile_fault::outside: refuse(which, "its compressed data lie outside the table's heap");
      case tile_fault::uncompressed_outside: refuse(which, "its uncompressed data lie outside the table's heap");
      case tile_fault::hcompress_short: refuse(which, "its HCOMPRESS stream is shorter than its header");
      case tile_fault::hcompress_shape:
        refuse(which + " (" + std::to_string(first_side) + " x " + std::to_string(pixels / first_side) + " pixels)",
               ("its HCOMPRESS stream describes an image of " + std::to_string(verdict.ny) + " x " +
                std::to_string(verdict.nx))
                   .c_str());
      case tile_fault::hcompress_magic:
        refuse(which,
               "its HCOMPRESS stream does not open with the coder's mark, on which the library's decoder stops with "
               "status 414");
      case tile_fault::hcompress_past: refuse(which, "its HCOMPRESS stream ends before its image does");
      case tile_fault::hcompress_code:
        refuse(which,
               "its HCOMPRESS stream holds a code no coder writes, on which the library's decoder stops with status "
               "414");
      case tile_fault::hcompress_planes:
        refuse(which, ("its HCOMPRESS stream has more bit planes than the decoder's " +
                       std::to_string(hcompress_bits()) + "-bit integers hold")
                          .c_str());
      case tile_fault::hcompress_empty:
        refuse(which,
               "its HCOMPRESS stream codes a quadrant of no pixels that the decoder would write past its buffer");
      case tile_fault::rice_short: refuse(which, "its Rice data end before its pixels do");
      case tile_fault::gzip_no_memory: refuse(which, "no memory to inflate its gzip data");
      case tile_fault::gzip_unended: refuse(which, "its gzip data do not end within its pixels");
      case tile_fault::gzip_short:
        refuse(which, ("its gzip data inflate to " + count + " bytes, fewer than its " + tile_pixels + " pixels hold")
                          .c_str());
      case tile_fault::plio_past: refuse(which, "its PLIO list runs past its data");
      case tile_fault::plio_pixels:
        refuse(which, ("its PLIO list decodes to " + count + " pixels, not its " + tile_pixels).c_str());
      case tile_fault::uncompressed_values:
        refuse(which, ("it keeps " + count + " values uncompressed, not its " + tile_pixels + " pixels").c_str());
      case tile_fault::nocompress_coded: refuse(which, "compressed data in a NOCOMPRESS image, which no decoder reads");
      case tile_fault::no_memory: refuse(which, "no memory to check its data");
    }
  }

  // One tile's checks, safe from several threads at once: the streams are
  // read where they lie in memory, or into the thread's scratch. The
  // decoder reads a tile from the first of its columns that holds it;
  // each that does is checked.
  tile_verdict check_tile(long long tile, const file_bytes& file, tile_scratch& scratch) const {
    long long first_side = 0, pixels = 0;
    tile_shape(tile, &first_side, &pixels);
    const std::size_t whole = std::numeric_limits<std::size_t>::max();
    const unsigned char* stream = nullptr;
    std::size_t size = 0;
    long long values = 0;
    tile_verdict verdict;
    verdict.fault = find_stream(tile, compressed_, whole, file, scratch, &stream, &size, &values);
    if (verdict.fault == tile_fault::none && values > 0) verdict = check_coded(stream, size, first_side, pixels, scratch);
    if (verdict.fault != tile_fault::none) return verdict;
    // Floating-point pixels the quantization could not code, kept whole
    // and gzipped.
    verdict.fault = find_stream(tile, gzipped_, whole, file, scratch, &stream, &size, &values);
    if (verdict.fault == tile_fault::none && values > 0)
      verdict = check_gzip(stream, size, pixels * pixel_bytes_, scratch);
    if (verdict.fault != tile_fault::none) return verdict;
    // Kept whole: copied value by value into the tile's buffer.
    verdict.fault = find_stream(tile, uncompressed_, 0, file, scratch, &stream, &size, &values);
    if (verdict.fault == tile_fault::outside) verdict.fault = tile_fault::uncompressed_outside;
    if (verdict.fault == tile_fault::none && values > 0 && values != pixels)
      verdict = {tile_fault::uncompressed_values, 0, 0, values};
    return verdict;
  }

  // A tile of the COMPRESSED_DATA column, by the image's algorithm.
  tile_verdict check_coded(const unsigned char* stream, std::size_t size, long long first_side, long long pixels,
                           tile_scratch& scratch) const {
    tile_verdict verdict;
    switch (compression_->coder) {
      case tile_coder::rice:
        if (!rice_stream_fits(stream, size, pixels, walked_.rice_blocksize, static_cast<int>(walked_.rice_bytepix)))
          verdict.fault = tile_fault::rice_short;
        return verdict;
      case tile_coder::gzip: return check_gzip(stream, size, pixels * stored_bytes_, scratch);
      case tile_coder::hcompress: return check_hcompress(stream, size, first_side, pixels, scratch);
      case tile_coder::plio: return check_plio(stream, size / 2, pixels);
      case tile_coder::none: verdict.fault = tile_fault::nocompress_coded; return verdict;
    }
    return verdict;
  }

  // The first `most` bytes of a tile's data in a column, none when the tile
  // is not there; `values` is the count its descriptor gives.
  tile_fault find_stream(long long tile, const stream_column& column, std::size_t most, const file_bytes& file,
                         tile_scratch& scratch, const unsigned char** stream, std::size_t* size,
                         long long* values) const {
    *size = 0;
    *values = 0;
    if (column.offset < 0) return tile_fault::none;
    const unsigned char* entry = table_ + tile * row_bytes_ + column.offset;
    const long long length = descriptor_field(entry, column.descriptor);
    const long long start = descriptor_field(entry + column.descriptor, column.descriptor);
    if (length == 0) return tile_fault::none;
    // Each difference is of two values in 0..heap_end_: none overflows.
    if (length < 0 || start < 0 || heap_start_ < 0 || heap_start_ > heap_end_ ||
        length > (heap_end_ - heap_start_) / column.value_bytes ||
        start > heap_end_ - heap_start_ - length * column.value_bytes)
      return tile_fault::outside;
    *values = length;
    *size = std::min<std::size_t>(most, static_cast<std::size_t>(length * column.value_bytes));
    if (*size == 0) return tile_fault::none;
    *stream = file.view(data_start_ + heap_start_ + start, *size, scratch.stream);
    return *stream != nullptr ? tile_fault::none : tile_fault::cut;
  }

  // The stream must inflate to exactly the `bytes` of the tile's pixels.
  static tile_verdict check_gzip(const unsigned char* stream, std::size_t size, long long bytes,
                                 tile_scratch& scratch) {
    tile_verdict verdict;
    long long inflated = 0;
    switch (scratch.gzip.inflates_to(stream, size, bytes, &inflated)) {
      case gzip_counter::verdict::fits: break;
      case gzip_counter::verdict::no_memory: verdict.fault = tile_fault::gzip_no_memory; break;
      case gzip_counter::verdict::unended: verdict.fault = tile_fault::gzip_unended; break;
      case gzip_counter::verdict::short_of: verdict = {tile_fault::gzip_short, 0, 0, inflated}; break;
    }
    return verdict;
  }

  // The tile's length along the first axis and its pixels: a tile at the
  // end of an axis is cut to the image.
  void tile_shape(long long tile, long long* first_side, long long* pixels) const {
    *pixels = 1;
    const std::vector<long long>& axes = walked_.axes;
    const std::vector<long long>& sides = walked_.tile_sides;
    for (std::size_t k = 0; k < axes.size(); k++) {
      const long long along = (axes[k] - 1) / sides[k] + 1, index = tile % along;
      tile /= along;
      const long long side = std::min(sides[k], axes[k] - index * sides[k]);
      if (k == 0) *first_side = side;
      *pixels *= side;
    }
  }

  // The HCOMPRESS decoder's integers: those of images of 8 and 16-bit
  // pixels are 32 bits wide, the others' 64.
  int hcompress_bits() const { return !quantized_ && pixel_bytes_ <= 2 ? 32 : 64; }

  // The decoder fills nx * ny pixels into a buffer of the tile's size: the
  // stream's ny is the tile's first side, nx the rest. Its body is then
  // walked as the decoder reads it; the decoder takes no stream's end into
  // account, and stops (status 414) on any code it cannot read.
  tile_verdict check_hcompress(const unsigned char* stream, std::size_t size, long long first_side, long long pixels,
                               tile_scratch& scratch) const {
    tile_verdict verdict;
    hcompress_header header;
    if (!hcompress_header_of(stream, size, &header)) {
      verdict.fault = tile_fault::hcompress_short;
      return verdict;
    }
    const long long nx = header.nx, ny = header.ny;
    if (ny != first_side || nx * ny != pixels)
      verdict = {tile_fault::hcompress_shape, static_cast<std::int32_t>(nx), static_cast<std::int32_t>(ny)};
    if (verdict.fault != tile_fault::none) return verdict;
    if (stream[0] != 0xDD || stream[1] != 0x99) {
      verdict.fault = tile_fault::hcompress_magic;
      return verdict;
    }
    long long read = 0;
    switch (scratch.hcompress.walk(stream, size, hcompress_bits(), &read)) {
      case hcompress_walker::verdict::fits: break;
      case hcompress_walker::verdict::reported: verdict.fault = tile_fault::hcompress_code; break;
      case hcompress_walker::verdict::past_end: verdict.fault = tile_fault::hcompress_past; break;
      case hcompress_walker::verdict::too_many_planes: verdict.fault = tile_fault::hcompress_planes; break;
      case hcompress_walker::verdict::empty_quadtree: verdict.fault = tile_fault::hcompress_empty; break;
    }
    return verdict;
  }

  static tile_verdict check_plio(const unsigned char* stream, std::size_t words, long long pixels) {
    tile_verdict verdict;
    verdict.count = plio_list_pixels(stream, words);
    if (verdict.count < 0)
      verdict.fault = tile_fault::plio_past;
    else if (verdict.count != pixels)
      verdict.fault = tile_fault::plio_pixels;
    return verdict;
  }

  std::string cards_;
  std::unordered_map<std::string, const char*> index_;
  int nblocks_;
  int hdu_;
  long long data_start_;
  const std::string& name_;
  bool decoded_;
  // The ZDITHER0 card that gives the seed, among its copies.
  const char* dither_card_ = nullptr;
  long long dither_seed_ = 0;
  bool dither_integer_ = false, dither_zero_copy_ = false;
  // What the tiles are walked by, to be held to what the library took.
  tile_parameters walked_;
  const tile_compression* compression_ = nullptr;
  // Floating-point pixels stored as integers; the bytes of a stored pixel
  // and of an image pixel.
  bool quantized_ = false;
  long long stored_bytes_ = 4, pixel_bytes_ = 4;
  // The data columns, as the cards lay them out, then, for the walk, as
  // the library took them.
  stream_column compressed_, gzipped_, uncompressed_;
  // Where the tiles lie: set before they are checked, then only read.
  const unsigned char* table_ = nullptr;
  long long row_bytes_ = 0, rows_ = 0, heap_start_ = 0, heap_end_ = 0;
};
// The HDUs a read passes: those up to the one a name selects by its number,
// or up to the first one with its name (the library searches them in
// order, parsing each header), or all.
struct hdu_reach {
  int last = std::numeric_limits<int>::max();
  hdu_selector selector;

  // From a name's selector ("1", "SCI", "SCI,2", "1#"), as the library
  // reads it; none is the primary HDU, which the library opens.
  static hdu_reach of(const std::string& text) {
    hdu_reach reach;
    if (text.empty()) {
      reach.last = 0;
      return reach;
    }
    reach.selector = fits_hdu_selector(text);
    // A selector the library cannot read ends its open; every HDU is
    // checked for the listing of them that may follow.
    if (reach.selector.read && reach.selector.names.empty()) reach.last = reach.selector.number;
    return reach;
  }

  // Whether the read goes no further than `hdu`, whose cards these are, in
  // the file `name`: a search by name stops where the selector selects.
  bool reached(int hdu, const char* cards, std::size_t size, const std::string& name) const {
    if (!selector.read || selector.names.empty()) return hdu >= last;
    return selector.selects(hdu, cards, size, name);
  }
};

[[noreturn]] void refuse_long_header(int hdu, const std::string& name) {
  fatal_exitf(-1, stderr,
              "Error: the header of the tile-compressed image in HDU [%d] runs past %d blocks of 2880 bytes, which no "
              "image needs ... (%s)\n",
              hdu, kMaxHeaderBlocks, name.c_str());
}

// How a file whose bytes from `start` on fill no whole block ends where HDU
// `hdu` would begin: there, or inside that HDU's first block when the
// bytes begin as it would; bytes that begin no HDU are none of the file's
// HDUs, as the library finds too.
hdu_walk_end opening_end(const file_bytes& file, long long start, int hdu) {
  const long long rest = file.size() - start;
  if (rest <= 0) return hdu_walk_end::whole;
  const std::size_t shown = static_cast<std::size_t>(std::min<long long>(rest, 8));
  const char* opening = hdu == 0 ? "SIMPLE  " : "XTENSION";
  unsigned char first[8];
  return file.read(start, shown, first) && std::memcmp(first, opening, shown) == 0 ? hdu_walk_end::cut
                                                                                   : hdu_walk_end::foreign;
}

// Where check_hdus stopped: at the HDU the read selects or its visitor
// asked for (`reached`), or at the first HDU the file does not hold whole,
// or at its end; `hdu` is the last HDU it met, whole or not.
struct walk_stop {
  hdu_walk_end end = hdu_walk_end::whole;
  int hdu = 0;
};

// Walks the HDUs, header by header, as the library walks them, checking
// the cards of each tile-compressed image, until the one the read selects
// or, when given, `visit` asks for; `visit` sees each HDU sized. An HDU the
// walk cannot size as the library does is refused; what no header
// describes (a file that ends before an HDU the read passes, or before its
// END) is the library's to report, and to nothing's harm. True when the
// walk met a tile-compressed image.
bool check_hdus(const file_bytes& file, const std::string& name, const hdu_reach& reach, walk_stop* stop = nullptr,
                const std::function<bool(const walked_hdu&)>& visit = nullptr) {
  walk_stop ignored;
  walk_stop& at = stop != nullptr ? *stop : ignored;
  long long start = 0;
  bool compressed = false;
  hdu_walk_state state;
  for (int hdu = 0;; hdu++) {
    at.hdu = hdu;
    std::string cards;
    long long nblocks = 0;
    for (bool ended = false; !ended; nblocks++) {
      cards.resize(static_cast<std::size_t>(nblocks + 1) * FITS_BLOCK);
      char* block = &cards[static_cast<std::size_t>(nblocks) * FITS_BLOCK];
      if (!file.read(start + nblocks * FITS_BLOCK, FITS_BLOCK, reinterpret_cast<unsigned char*>(block))) {
        at.end = nblocks > 0 ? hdu_walk_end::cut : opening_end(file, start, hdu);
        return compressed;
      }
      if (nblocks == 0 && !fits_opens_hdu(block, hdu)) {
        at.end = hdu_walk_end::foreign;
        return compressed;
      }
      ended = first_end_card(block, FITS_BLOCK) != nullptr;
    }
    hdu_data data;
    const std::string fault = fits_hdu_data(cards.data(), cards.size(), hdu, &data, &state);
    if (!fault.empty()) fits_refuse_hdu(hdu, fault, name);
    const long long data_start = start + nblocks * FITS_BLOCK;
    if (state.after_compressed_image) {
      if (nblocks > kMaxHeaderBlocks) refuse_long_header(hdu, name);
      tile_table(cards, static_cast<int>(nblocks), hdu, data_start, name, false).check_cards(file);
      compressed = true;
    }
    at.end = hdu_walk_end::reached;
    if (reach.reached(hdu, cards.data(), cards.size(), name)) return compressed;
    if (data.padded < 0) fits_refuse_hdu(hdu, fits_hdu_beyond_any_file, name);
    if (visit && visit(walked_hdu{hdu, &cards, start, data_start, data.data, file.size()})) return compressed;
    if (data.padded > file.size() - data_start) {
      at.end = hdu_walk_end::cut;
      return compressed;
    }
    start = data_start + data.padded;
  }
}

// check_hdus on a stream, which is left at its start.
bool check_stream_hdus(std::FILE* stream, const std::string& name, const hdu_reach& reach) {
  const bool compressed = check_hdus(stream_bytes(fileno(stream)), name, reach);
  std::rewind(stream);
  return compressed;
}

}  // namespace

void fits_check_compressed_hdus(const unsigned char* bytes, std::size_t size, const std::string& name,
                                const std::string& selector) {
  memory_bytes file(bytes, size);
  check_hdus(file, name, hdu_reach::of(selector));
}

void fits_check_compressed_hdus(std::FILE* stream, const std::string& name, const std::string& selector) {
  check_stream_hdus(stream, name, hdu_reach::of(selector));
}

bool fits_check_every_hdu(std::FILE* stream, const std::string& name) {
  return check_stream_hdus(stream, name, hdu_reach());
}

void fits_check_compressed_hdus_through(fitsfile* fptr, int last) {
  const fits_input_source source = fits_input_source_of(fptr->Fptr);
  if (source.backing == nullptr) return;
  hdu_reach reach;
  reach.last = last;
  if (source.bytes != nullptr)
    check_hdus(memory_bytes(source.bytes, source.size), source.name, reach);
  else
    check_hdus(stream_bytes(source.descriptor), source.name, reach);
}

hdu_walk_end fits_walk_hdus(fitsfile* fptr, const std::function<bool(const walked_hdu&)>& visit, int* last_hdu) {
  const fits_input_source source = fits_input_source_of(fptr->Fptr);
  walk_stop stop;
  stop.end = hdu_walk_end::foreign;
  if (source.backing != nullptr) {
    if (source.bytes != nullptr)
      check_hdus(memory_bytes(source.bytes, source.size), source.name, hdu_reach(), &stop, visit);
    else
      check_hdus(stream_bytes(source.descriptor), source.name, hdu_reach(), &stop, visit);
  }
  if (last_hdu != nullptr) *last_hdu = stop.hdu;
  return stop.end;
}

bool fits_read_stored_bytes(fitsfile* fptr, long long offset, std::size_t count, char* out) {
  const fits_input_source source = fits_input_source_of(fptr->Fptr);
  if (source.backing == nullptr) return false;
  unsigned char* to = reinterpret_cast<unsigned char*>(out);
  if (source.bytes != nullptr) return memory_bytes(source.bytes, source.size).read(offset, count, to);
  return stream_bytes(source.descriptor).read(offset, count, to);
}

void fits_check_tiles(fitsfile* fptr) {
  int status = 0;
  if (!fits_is_compressed_image(fptr, &status)) return;
  // Integer pixels are read as stored, whatever dithering ZQUANTIZ asks
  // for, from any file.
  tile_integers_undithered(fptr);
  const fits_input_source source = fits_input_source_of(fptr->Fptr);
  if (source.backing == nullptr) return;
  int hdu = 0;
  LONGLONG head_start = 0, data_start = 0, data_end = 0;
  ffghdn(fptr, &hdu);
  if (ffghadll(fptr, &head_start, &data_start, &data_end, &status) != 0) return;
  // The header the library parsed, read again from the same bytes.
  const LONGLONG header_bytes = data_start - head_start;
  if (header_bytes <= 0 || header_bytes % FITS_BLOCK != 0) return;
  if (header_bytes / FITS_BLOCK > kMaxHeaderBlocks) refuse_long_header(hdu - 1, source.name);
  const int nblocks = static_cast<int>(header_bytes / FITS_BLOCK);
  std::string cards(static_cast<std::size_t>(header_bytes), ' ');
  const memory_bytes memory(source.bytes, source.size);
  const stream_bytes stream(source.descriptor);
  const file_bytes& file = source.bytes != nullptr ? static_cast<const file_bytes&>(memory) : stream;
  if (!file.read(head_start, cards.size(), reinterpret_cast<unsigned char*>(&cards[0]))) return;
  tile_table table(std::move(cards), nblocks, hdu - 1, data_start, source.name, true);
  table.check_cards(file);
  table.hold_to_library(fptr);
  table.check_tiles(file, tile_geometry_of(fptr));
}

bool fits_tiles_quantized(fitsfile* fptr) {
  int status = 0;
  return fits_is_compressed_image(fptr, &status) && fptr->Fptr->cn_zscale != 0;
}
