// Compressed FITS inputs and the standard input, read HDU by HDU into a
// buffer that grows only as bytes arrive, so that a header announcing more
// than the file holds costs no memory the file does not fill.
#include "io/compressed_input.h"

#include <bzlib.h>
#include <fitsio.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <vector>

#include "array/fatal.h"
#include "array/memory_size.h"
#include "io/fits_cards.h"
#include "io/fits_hdu_walk.h"
#include "io/fits_header.h"
#include "io/image_file.h"
#include "io/image_input_file.h"
#include "io/fits_name_gate.h"
#include "io/tile_compression_check.h"
#include "io/write_permission.h"

namespace {

// Compressed bytes read from the file at a time.
constexpr std::size_t kInputPiece = 1 << 16;

// A stream whose first bytes were read already, to learn its coding: the
// standard input cannot be rewound.
class byte_source {
 public:
  byte_source(std::FILE* stream, std::string already_read) : stream_(stream), first_(std::move(already_read)) {}
  std::size_t read(void* out, std::size_t bytes) {
    std::size_t got = 0;
    if (served_ < first_.size()) {
      got = std::min(bytes, first_.size() - served_);
      std::memcpy(out, first_.data() + served_, got);
      served_ += got;
    }
    return got + std::fread(static_cast<char*>(out) + got, 1, bytes - got, stream_);
  }

 private:
  std::FILE* stream_;
  std::string first_;
  std::size_t served_ = 0;
};

const char* coding_name(compression kind) {
  switch (kind) {
    case compression::gzip: return "gzip";
    case compression::bzip2: return "bzip2";
    case compression::unix_compress: return "unix compress";
    case compression::none: break;
  }
  return "plain";
}

[[noreturn]] void refuse_damaged(compression kind, const std::string& name, const char* reason) {
  fatal_exitf(-1, stderr, "Error: the %s data are damaged: %s ... (%s)\n", coding_name(kind), reason, name.c_str());
}

// ---- Inflaters ----

// zlib and libbz2 count bytes in 32 bits: no step asks for more.
constexpr std::size_t kLargestStep = std::numeric_limits<unsigned>::max();

// The loop zlib and libbz2 share: their streams name the same fields.
// Members (gzip) or streams (bzip2) that follow one another read as one, as
// gzip -d and bzip2 -d read them; zeros after the last, which gzip -d
// ignores, and anything else that opens no member end the data.
template <class Stream, class Byte>
class stream_inflater : public inflater {
 public:
  std::size_t read(unsigned char* out, std::size_t bytes) override {
    std::size_t produced = 0;
    while (produced < bytes && !ended_) {
      const std::size_t asked = std::min(bytes - produced, kLargestStep);
      z_.next_out = reinterpret_cast<decltype(z_.next_out)>(out + produced);
      z_.avail_out = static_cast<unsigned>(asked);
      if (z_.avail_in == 0 && !refill()) refuse_damaged(kind_, name_, "the file ends inside its compressed stream");
      const bool member_ended = step();
      produced += asked - z_.avail_out;
      if (member_ended && !next_member()) ended_ = true;
    }
    return produced;
  }

 protected:
  stream_inflater(byte_source source, const std::string& name, compression kind, const char (&magic)[3])
      : name_(name),
        kind_(kind),
        source_(std::move(source)),
        magic_{static_cast<Byte>(magic[0]), static_cast<Byte>(magic[1])},
        input_(kInputPiece) {}
  // Inflates what is in hand; true at the end of a member. Refuses damaged
  // data itself.
  virtual bool step() = 0;
  // Makes the stream ready for the member that starts at next_in.
  virtual void restart() = 0;

  Stream z_{};
  std::string name_;
  compression kind_;

 private:
  bool refill() {
    z_.avail_in = static_cast<unsigned>(source_.read(input_.data(), input_.size()));
    z_.next_in = input_.data();
    return z_.avail_in > 0;
  }
  // After a member: skips zeros, and tells whether another member opens
  // with the coding's two first bytes.
  bool next_member() {
    for (;;) {
      while (z_.avail_in > 0 && *z_.next_in == 0) {
        z_.next_in++;
        z_.avail_in--;
      }
      if (z_.avail_in > 0) break;
      if (!refill()) return false;
    }
    if (z_.avail_in == 1) {
      // The second byte is still to come: the first moves to the front.
      input_[0] = *z_.next_in;
      z_.avail_in = static_cast<unsigned>(1 + source_.read(input_.data() + 1, input_.size() - 1));
      z_.next_in = input_.data();
    }
    if (z_.avail_in < 2 || z_.next_in[0] != magic_[0] || z_.next_in[1] != magic_[1]) return false;
    restart();
    return true;
  }

  byte_source source_;
  Byte magic_[2];
  std::vector<Byte> input_;
  bool ended_ = false;
};

class gzip_inflater : public stream_inflater<z_stream, unsigned char> {
 public:
  gzip_inflater(byte_source source, const std::string& name)
      : stream_inflater(std::move(source), name, compression::gzip, "\x1f\x8b") {
    // 16 + 15: a gzip wrapper and the largest window.
    if (inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK) fatal_exitf(-1, stderr, "Error: zlib cannot start (%s)\n", name.c_str());
  }
  ~gzip_inflater() override { inflateEnd(&z_); }

 private:
  bool step() override {
    const int result = inflate(&z_, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END)
      refuse_damaged(kind_, name_, z_.msg != nullptr ? z_.msg : "inflate failed");
    return result == Z_STREAM_END;
  }
  void restart() override {
    if (inflateReset(&z_) != Z_OK) fatal_exitf(-1, stderr, "Error: zlib cannot start (%s)\n", name_.c_str());
  }
};

class bzip2_inflater : public stream_inflater<bz_stream, char> {
 public:
  bzip2_inflater(byte_source source, const std::string& name)
      : stream_inflater(std::move(source), name, compression::bzip2, "BZ") {
    if (BZ2_bzDecompressInit(&z_, 0, 0) != BZ_OK)
      fatal_exitf(-1, stderr, "Error: libbz2 cannot start (%s)\n", name.c_str());
  }
  ~bzip2_inflater() override { BZ2_bzDecompressEnd(&z_); }

 private:
  bool step() override {
    const int result = BZ2_bzDecompress(&z_);
    if (result != BZ_OK && result != BZ_STREAM_END)
      refuse_damaged(kind_, name_, result == BZ_MEM_ERROR ? "out of memory" : "not a valid bzip2 stream");
    return result == BZ_STREAM_END;
  }
  // libbz2 has no reset: the stream starts anew, keeping its place in the
  // input and the output.
  void restart() override {
    const bz_stream kept = z_;
    BZ2_bzDecompressEnd(&z_);
    if (BZ2_bzDecompressInit(&z_, 0, 0) != BZ_OK)
      fatal_exitf(-1, stderr, "Error: libbz2 cannot start (%s)\n", name_.c_str());
    z_.next_in = kept.next_in;
    z_.avail_in = kept.avail_in;
    z_.next_out = kept.next_out;
    z_.avail_out = kept.avail_out;
  }
};

// Unix compress (.Z): LZW with codes of 9 bits growing to at most 16, packed
// from the lowest bit up. The compressor writes codes in groups of eight:
// when a CLEAR code restarts the table, the rest of the current group is
// padding, which the decoder must skip too. (A width change pads the same
// way, but always falls on a group's end: each width holds 2^(width - 1)
// codes.) The file ends where its bytes do.
class lzw_inflater : public inflater {
 public:
  lzw_inflater(byte_source source, const std::string& name)
      : source_(std::move(source)), name_(name), input_(kInputPiece), prefix_(kTableSize), suffix_(kTableSize),
        pending_(kTableSize + 1) {
    unsigned char header[3];
    if (source_.read(header, 3) != 3 || header[0] != 0x1f || header[1] != 0x9d)
      refuse_damaged(compression::unix_compress, name_, "no compress header");
    max_bits_ = header[2] & 0x1f;
    block_mode_ = (header[2] & 0x80) != 0;
    if (max_bits_ < kInitialBits || max_bits_ > kMaxBits)
      refuse_damaged(compression::unix_compress, name_, "codes wider than 16 bits or narrower than 9");
    max_max_code_ = 1L << max_bits_;
    restart_width();
    free_entry_ = block_mode_ ? kFirst : 256;
  }

  std::size_t read(unsigned char* out, std::size_t bytes) override {
    std::size_t produced = 0;
    while (produced < bytes) {
      if (pending_top_ == pending_.size() && !decode_next()) break;
      while (produced < bytes && pending_top_ < pending_.size()) out[produced++] = pending_[pending_top_++];
    }
    return produced;
  }

 private:
  static constexpr int kInitialBits = 9;
  static constexpr int kMaxBits = 16;
  static constexpr long kTableSize = 1L << kMaxBits;
  static constexpr long kClear = 256;
  static constexpr long kFirst = 257;

  void restart_width() {
    bits_ = kInitialBits;
    max_code_ = (1L << bits_) - 1;
  }

  bool next_byte(unsigned& byte) {
    if (input_at_ == input_count_) {
      input_count_ = source_.read(input_.data(), input_.size());
      input_at_ = 0;
      if (input_count_ == 0) return false;
    }
    byte = input_[input_at_++];
    return true;
  }

  // The next code of the current width; false at the end of the file (a
  // last fragment shorter than a code is ignored).
  bool next_code(long& code) {
    while (held_bits_ < bits_) {
      unsigned byte;
      if (!next_byte(byte)) return false;
      bit_buffer_ |= static_cast<std::uint32_t>(byte) << held_bits_;
      held_bits_ += 8;
    }
    code = static_cast<long>(bit_buffer_ & ((1u << bits_) - 1));
    bit_buffer_ >>= bits_;
    held_bits_ -= bits_;
    codes_read_++;
    return true;
  }

  // Skips the padding up to the end of the current group of eight codes.
  bool skip_to_group_end() {
    long code;
    while (codes_read_ % 8 != 0)
      if (!next_code(code)) return false;
    return true;
  }

  // Decodes one code into pending_ (filled from its end); false at the end.
  bool decode_next() {
    long code;
    for (;;) {
      if (free_entry_ > max_code_) {
        bits_++;
        max_code_ = bits_ == max_bits_ ? max_max_code_ : (1L << bits_) - 1;
      }
      if (!next_code(code)) return false;
      if (old_code_ < 0) {
        if (code >= 256) refuse_damaged(compression::unix_compress, name_, "the first code is not a byte");
        old_code_ = code;
        last_byte_ = static_cast<unsigned char>(code);
        pending_top_ = pending_.size() - 1;
        pending_[pending_top_] = last_byte_;
        return true;
      }
      if (code != kClear || !block_mode_) break;
      // The table restarts; the entry after the CLEAR code is a dead one, as
      // the compressor counts it.
      free_entry_ = kFirst - 1;
      if (!skip_to_group_end()) return false;
      restart_width();
    }
    const long incoming = code;
    std::size_t top = pending_.size();
    if (code >= free_entry_) {
      if (code > free_entry_) refuse_damaged(compression::unix_compress, name_, "a code beyond the table");
      pending_[--top] = last_byte_;
      code = old_code_;
    }
    // Every entry's prefix is an older entry, so this ends within the table.
    while (code >= 256) {
      pending_[--top] = suffix_[code];
      code = prefix_[code];
    }
    last_byte_ = static_cast<unsigned char>(code);
    pending_[--top] = last_byte_;
    pending_top_ = top;
    if (free_entry_ < max_max_code_) {
      prefix_[free_entry_] = static_cast<std::uint16_t>(old_code_);
      suffix_[free_entry_] = last_byte_;
      free_entry_++;
    }
    old_code_ = incoming;
    return true;
  }

  byte_source source_;
  std::string name_;
  std::vector<unsigned char> input_;
  std::size_t input_at_ = 0, input_count_ = 0;
  std::uint32_t bit_buffer_ = 0;
  int held_bits_ = 0;
  int max_bits_ = kMaxBits;
  bool block_mode_ = true;
  int bits_ = kInitialBits;
  long max_code_ = 0, max_max_code_ = kTableSize, free_entry_ = kFirst;
  long codes_read_ = 0;
  long old_code_ = -1;
  unsigned char last_byte_ = 0;
  std::vector<std::uint16_t> prefix_;
  std::vector<unsigned char> suffix_;
  // Decoded bytes still to hand out: pending_[pending_top_ ..].
  std::vector<unsigned char> pending_;
  std::size_t pending_top_ = kTableSize + 1;
};

// A plain standard input or named pipe, read as it comes.
class plain_reader : public inflater {
 public:
  explicit plain_reader(byte_source source) : source_(std::move(source)) {}
  std::size_t read(unsigned char* out, std::size_t bytes) override { return source_.read(out, bytes); }

 private:
  byte_source source_;
};

// ---- The file, HDU by HDU ----

std::size_t read_fully(inflater& in, unsigned char* out, std::size_t bytes) {
  std::size_t got = 0;
  while (got < bytes) {
    const std::size_t piece = in.read(out + got, bytes - got);
    if (piece == 0) break;
    got += piece;
  }
  return got;
}

// The bytes handed to the library, in one malloc'd block as its memory files
// want. The library reads through `data` while the file is open and writes
// both fields back when it closes the file, so they stay put until then.
struct gathered {
  void* data = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;

  gathered() = default;
  gathered(const gathered&) = delete;
  gathered& operator=(const gathered&) = delete;
  ~gathered() { std::free(data); }
  unsigned char* at(std::size_t offset) const { return static_cast<unsigned char*>(data) + offset; }
};

// What is read and how messages name it.
struct source_text {
  std::string what;      // "the gzip file", "the standard input"
  const char* inflated;  // " once inflated", or nothing for plain bytes
  std::string name;      // the file named in parentheses
};

// The block resized to `capacity` bytes.
void grow(gathered& out, std::size_t capacity, const source_text& text) {
  void* grown = std::realloc(out.data, capacity);
  if (grown == nullptr)
    fatal_exitf(-1, stderr, "Error: not enough memory for the %zu bytes read from %s ... (%s)\n", capacity,
                text.what.c_str(), text.name.c_str());
  out.data = grown;
  out.capacity = capacity;
}

// Appends up to `bytes` bytes as they arrive: the block at most doubles at a
// time, so a header that announces more than the stream holds costs no more
// than twice what it does hold, and a large append ends where it was asked.
std::size_t append(inflater& in, gathered& out, long long bytes, const source_text& text) {
  std::size_t appended = 0;
  while (bytes > 0) {
    const std::size_t piece = bytes < static_cast<long long>(kInputPiece) ? static_cast<std::size_t>(bytes)
                                                                            : kInputPiece;
    if (out.size + piece > out.capacity) {
      // Doubling, also when a block at a time is asked (header blocks).
      const unsigned long long asked =
          out.size + std::max<unsigned long long>(static_cast<unsigned long long>(bytes), out.capacity);
      const std::size_t wanted = static_cast<std::size_t>(
          std::max<unsigned long long>(out.size + piece, std::min<unsigned long long>(2ULL * out.capacity, asked)));
      grow(out, wanted, text);
    }
    const std::size_t got = read_fully(in, out.at(out.size), piece);
    out.size += got;
    appended += got;
    bytes -= static_cast<long long>(got);
    if (got < piece) break;
  }
  return appended;
}

// Completes the last record with zeros, and gives back the room the block
// has beyond it: the library reads a file in memory a whole record at a
// time, whatever its size.
void complete_last_record(gathered& out, const source_text& text) {
  const std::size_t size = (out.size + FITS_BLOCK - 1) / FITS_BLOCK * FITS_BLOCK;
  grow(out, size, text);
  std::memset(out.at(out.size), 0, size - out.size);
  out.size = size;
}

// Refuses headers that describe more bytes than the machine's memory.
void refuse_past_memory(long long described, std::uint64_t memory, const source_text& text) {
  if (memory != 0 && static_cast<std::uint64_t>(described) > memory)
    fatal_exitf(-1, stderr,
                "Error: the FITS headers of %s describe %lld MB%s, more than the %llu MB of memory of this "
                "machine ... (%s)\n",
                text.what.c_str(), described >> 20, text.inflated, static_cast<unsigned long long>(memory >> 20),
                text.name.c_str());
}

// Reads each HDU the headers describe, its header through the END card and
// its padded data, and stops at the first record after an HDU that opens no
// extension, which stays out of memory: the library reads no further in a
// plain file either. Data cut short are kept as they are, for the reader to
// report as in a plain file; headers that describe more than the memory are
// refused.
void gather_hdus(inflater& in, const source_text& text, gathered& out) {
  const std::uint64_t memory = physical_memory_bytes();
  const char* what = text.what.c_str();
  const char* name = text.name.c_str();
  long long described = 0;  // bytes of the HDUs met so far, padding included
  hdu_walk_state state;
  for (int hdu = 0;; hdu++) {
    const std::size_t start = out.size;
    const std::size_t first = append(in, out, FITS_BLOCK, text);
    const char* opening = hdu == 0 ? "SIMPLE  " : "XTENSION";
    const bool opens = first >= 8 && fits_opens_hdu(reinterpret_cast<const char*>(out.at(start)), hdu);
    // An extension cut inside its first block is kept as far as it goes, as
    // a plain file would hold it, for the reader to tell a file cut short
    // from one that holds no more HDUs.
    const bool cut_opening = hdu > 0 && first > 0 && first < static_cast<std::size_t>(FITS_BLOCK) &&
                             std::memcmp(out.at(start), opening, std::min<std::size_t>(first, 8)) == 0;
    if (cut_opening) return;
    if (hdu > 0 && (!opens || first < static_cast<std::size_t>(FITS_BLOCK))) {
      out.size = start;
      return;
    }
    if (hdu == 0 && first == 0 && *text.inflated == '\0')
      fatal_exitf(-1, stderr, "Error: %s is empty ... (%s)\n", what, name);
    if (hdu == 0 && !opens)
      fatal_exitf(-1, stderr, "Error: %s holds no FITS file%s ... (%s)\n", what, text.inflated, name);
    // The header costs the memory its blocks fill, held to the machine's
    // like the data its cards describe.
    std::size_t nblocks = 1;
    bool ended = false;
    for (;;) {
      if (first < static_cast<std::size_t>(FITS_BLOCK)) break;
      const char* last_block = reinterpret_cast<const char*>(out.at(start + (nblocks - 1) * FITS_BLOCK));
      if ((ended = first_end_card(last_block, FITS_BLOCK) != nullptr)) break;
      refuse_past_memory(described + static_cast<long long>(nblocks + 1) * FITS_BLOCK, memory, text);
      if (append(in, out, FITS_BLOCK, text) < static_cast<std::size_t>(FITS_BLOCK)) break;
      nblocks++;
    }
    if (!ended) {
      // An extension cut short is the library's to report when it is read.
      if (hdu > 0) return;
      fatal_exitf(-1, stderr, "Error: %s ends inside its FITS header%s ... (%s)\n", what, text.inflated, name);
    }
    // An HDU that cannot be sized as the library sizes it ends what is
    // gathered, its header kept: the walk of the HDUs the read passes
    // refuses it there, as in a plain file, and no read goes past it.
    hdu_data data;
    if (!fits_hdu_data(reinterpret_cast<const char*>(out.at(start)), nblocks * FITS_BLOCK, hdu, &data, &state)
             .empty() ||
        data.padded < 0)
      return;
    const long long padded = data.padded;
    // Saturated: no run of headers overflows the sum.
    const long long hdu_bytes = static_cast<long long>(nblocks) * FITS_BLOCK + padded;
    described = hdu_bytes > kBeyondAnyFile - described ? kBeyondAnyFile : described + hdu_bytes;
    refuse_past_memory(described, memory, text);
    if (append(in, out, padded, text) < static_cast<std::size_t>(padded)) return;
  }
}

// Moves to the HDU a name's "[n]", "[name, version]" or "[n#]" selects, as
// the library's own open does, in the file `name`.
void move_to_extension(fitsfile* fptr, const std::string& extension, const std::string& name, int* status) {
  const hdu_selector selector = fits_hdu_selector(extension);
  if (!selector.read) {
    *status = URL_PARSE_ERROR;
    return;
  }
  if (selector.names.empty()) {
    ffmahd(fptr, selector.number + 1, nullptr, status);
    return;
  }
  // The selector that the walk before the open stopped by, so that the
  // read lands on an HDU it checked.
  *status = fits_move_to_selected(fptr, selector, name);
}

// What each input the library reads stands on, by the library's record of
// it: the memory a compressed file or the standard input was read into, or
// the descriptor of a plain file. Any thread may open or close one.
std::map<const FITSfile*, fits_input_source>& open_inputs() {
  static std::map<const FITSfile*, fits_input_source> inputs;
  return inputs;
}
std::mutex& open_inputs_lock() {
  static std::mutex lock;
  return lock;
}

void keep_for(fitsfile* fptr, fits_input_source source) {
  std::lock_guard<std::mutex> lock(open_inputs_lock());
  open_inputs()[fptr->Fptr] = std::move(source);
}

// Where the library reads a local name from: the standard input, or the
// file its search finds (find_input); the stream is open on it.
struct input_place {
  fits_name_parts parts;
  std::string path;  // the disk file
  std::FILE* stream = nullptr;
  bool private_copy = false;  // the stream holds a copy of the disk file
};

// The files the library's search tries for a local name's root, in its
// order: the root, then its compressed siblings. None for a name that no
// local driver reads.
std::vector<std::string> local_candidates(const fits_name_parts& parts) {
  std::string path;
  if ((parts.prefix != "file://" && !fits_prefix_wants_compressed(parts.prefix)) ||
      !fits_local_path(parts.root, path))
    return {};
  static const char* const kLibrarySuffixes[] = {"", ".gz", ".bz2", ".Z", ".z", ".zip", "-z", "-gz"};
  std::vector<std::string> candidates;
  for (const char* suffix : kLibrarySuffixes) candidates.push_back(path + suffix);
  return candidates;
}

enum class search { not_local, found, none };

// The library's search, made here so that the library never opens a local
// name by its path: it takes the first candidate that opens, moving on past
// one that does not (missing, unreadable, a socket, a folder it may not
// read), and ends at a folder that opens, which holds no file. Whatever
// opens is read here, a device or a pipe too: handed the name, the library
// would search again and read unchecked what it found then.
search find_input(const std::string& file, int iomode, input_place& place) {
  fits_name_parts& parts = place.parts;
  if (!fits_name_parts_of(file, parts)) return search::not_local;
  if (parts.standard_input) {
    place.stream = io_standard_input(file.c_str());
    return search::found;
  }
  const std::vector<std::string> candidates = local_candidates(parts);
  if (candidates.empty()) return search::not_local;
  for (const std::string& candidate : candidates) {
    std::FILE* stream = std::fopen(candidate.c_str(), "rb");
    if (stream == nullptr) continue;
    struct stat info;
    if (fstat(fileno(stream), &info) != 0 || S_ISDIR(info.st_mode)) {
      std::fclose(stream);
      return search::none;
    }
    // A file read is recorded as read; one opened for an update is not.
    if (iomode == READONLY) io_note_input(stream, candidate);
    place.stream = stream;
    place.path = candidate;
    return search::found;
  }
  return search::none;
}

// A name by which the library opens exactly the file open on stream, with
// what followed the root in the typed name (an HDU selector, a section,
// written as `section_as_cut` where that is given): the descriptor's own
// name where the system gives one, else the file's path. Messages name
// the name typed.
std::string library_name(std::FILE* stream, const input_place& place, const std::string& typed,
                         const std::string& section_as_cut = "") {
  if (place.parts.after_root == std::string::npos)
    fatal_exitf(-1, stderr, "Error: the FITS library cannot take the name apart around its file's path ... (%s)\n",
                typed.c_str());
  const std::string rest =
      fits_section_handed_as(typed.substr(place.parts.after_root), place.parts.rows, section_as_cut);
  const std::string own = "/dev/fd/" + std::to_string(fileno(stream));
  struct stat by_name, opened;
  // The prefix keeps a path that begins with "stdin" from being read as
  // the standard input.
  const bool by_descriptor = stat(own.c_str(), &by_name) == 0 && fstat(fileno(stream), &opened) == 0 &&
                             by_name.st_dev == opened.st_dev && by_name.st_ino == opened.st_ino;
  // The path would lead the library to the file others may rewrite.
  if (!by_descriptor && place.private_copy)
    fatal_exitf(-1, stderr,
                "Error: the file may be written by other users, and without /dev/fd the FITS library cannot read "
                "the copy checked here: copy it to a file of your own and read that ... (%s)\n",
                place.path.c_str());
  const std::string handed = by_descriptor ? own + rest : "file://" + place.path + rest;
  fits_check_name_length(handed, typed);
  return handed;
}

// Bytes copied at a time into a private copy.
constexpr std::size_t kCopyPiece = 1 << 20;

// Replaces place.stream, open on a regular file that other users may write,
// with a copy of it made once, in memory no other process may write: the
// checks and the library then read the same bytes, which a rewrite of the
// file in place while they read (a checked file turned into a crafted one)
// cannot part. The copy holds the file's bytes as far as its size when it
// was opened, and is refused when they are more than the memory left to
// the process: the copy is charged as the process's own memory, and past
// what is left it would end in the out-of-memory killer, not a refusal.
void read_into_private_copy(input_place& place, const struct stat& info) {
  const char* name = place.path.c_str();
  const std::uint64_t memory = available_memory_bytes();
  const auto size = static_cast<unsigned long long>(info.st_size);
  if (size > memory)
    fatal_exitf(-1, stderr,
                "Error: the file may be written by other users, so it is read once into memory, and its %llu MB are "
                "more than the %llu MB of memory available: copy it to a file of your own and read that ... "
                "(%s)\n",
                size >> 20, static_cast<unsigned long long>(memory >> 20), name);
  const int copy = memfd_create("qz_mca input", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (copy < 0)
    fatal_exitf(-1, stderr,
                "Error: the file may be written by other users, and no copy of it can be made: %s ... (%s)\n",
                std::strerror(errno), name);
  const int original = fileno(place.stream);
  std::vector<unsigned char> piece(std::min<unsigned long long>(kCopyPiece, std::max<unsigned long long>(size, 1)));
  for (unsigned long long copied = 0; copied < size;) {
    const ssize_t got = pread(original, piece.data(), std::min<unsigned long long>(piece.size(), size - copied),
                              static_cast<off_t>(copied));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0)
      fatal_exitf(-1, stderr, "Error: the file cannot be read: %s ... (%s)\n", std::strerror(errno), name);
    // A file cut short since it was opened is copied as far as it goes.
    if (got == 0) break;
    for (ssize_t put = 0; put < got;) {
      const ssize_t wrote = write(copy, piece.data() + put, static_cast<std::size_t>(got - put));
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote < 0)
        fatal_exitf(-1, stderr,
                    "Error: not enough memory for a copy of the file, which other users may write (%s): copy it to "
                    "a file of your own and read that ... (%s)\n",
                    std::strerror(errno), name);
      put += wrote;
    }
    copied += static_cast<unsigned long long>(got);
  }
  // Sealed, the copy no longer changes, whoever holds it.
  fcntl(copy, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  // The writes left the copy's position at its end; every reader after
  // this one (the look at its first bytes, the checks) starts where the
  // file does, as on the file itself.
  std::FILE* stream = lseek(copy, 0, SEEK_SET) == 0 ? fdopen(copy, "rb") : nullptr;
  if (stream == nullptr) fatal_exitf(-1, stderr, "Error: the copy of the file cannot be read ... (%s)\n", name);
  std::fclose(place.stream);
  place.stream = stream;
  place.private_copy = true;
}

// Where the library's open of a name with a section lands, from where the
// open of the name without it (`plain`) landed: without an HDU selector, it
// passes an empty primary HDU for the first image with axes or the first
// table not named for good time intervals (GTI) or OBSTABLE, and stays on
// the primary when no HDU is either.
void move_as_a_section_does(fitsfile* plain, const fits_name_parts& parts) {
  int hdu = 0, naxis = 0, type = 0, status = 0;
  ffghdn(plain, &hdu);
  if (!parts.extension.empty() || hdu != 1 || ffgidm(plain, &naxis, &status) != 0 || naxis != 0) return;
  while (ffmrhd(plain, 1, &type, &status) == 0) {
    if (type == IMAGE_HDU) {
      if (ffgidm(plain, &naxis, &status) == 0 && naxis > 0) return;
      continue;
    }
    char extname[FLEN_VALUE] = "";
    int unnamed = 0;
    ffgky(plain, TSTRING, "EXTNAME", extname, nullptr, &unnamed);
    if (!std::strstr(extname, "GTI") && !std::strstr(extname, "gti") && strncasecmp(extname, "OBSTABLE", 8) != 0)
      return;
  }
  status = 0;
  ffmahd(plain, 1, nullptr, &status);
}

// A name with a section (the gate refuses every other filter): the library
// cuts it as it opens the name, decoding the tiles of the HDU named and
// parsing every HDU after it, before any check that follows the open could
// run. So every HDU's cards are checked first; the HDU the section cuts must
// have few enough axes for the library's section, and on a file holding a
// tile-compressed image its tiles are checked (those of the other HDUs the
// library copies as they are, and never decodes), all through an open of
// the name without its section. The status of that open when it fails (the
// open with the section would fail there too); `section_as_cut`, the
// section as the library is to be handed it (fits_section_cut_alike).
int check_before_section(std::FILE* stream, const input_place& place, const std::string& file,
                         const std::string& name, std::string& section_as_cut) {
  const bool compressed = fits_check_every_hdu(stream, name);
  const std::string unfiltered =
      file.substr(0, place.parts.after_root) + (place.parts.extension.empty() ? "" : "[" + place.parts.extension + "]");
  fitsfile* plain = nullptr;
  int status = 0;
  if (ffopen(&plain, library_name(stream, place, unfiltered).c_str(), READONLY, &status) != 0) return status;
  // The stream stays open for the open with the section.
  keep_for(plain, {std::shared_ptr<void>(stream, [](void*) {}), nullptr, 0, fileno(stream), name});
  move_as_a_section_does(plain, place.parts);
  fits_refuse_section_axes(plain, file);
  long long first_axis = 0;
  int size_status = 0;
  ffgiszll(plain, 1, &first_axis, &size_status);
  section_as_cut = fits_section_cut_alike(place.parts.rows, size_status == 0 ? first_axis : 0);
  if (compressed) fits_check_tiles(plain);
  fits_take_input_backing(plain->Fptr);
  status = 0;
  ffclos(plain, &status);
  return 0;
}

}  // namespace

namespace {

// The first file the library's search would take for a local name, as far
// as a look at each candidate tells without opening it (opening a named
// pipe waits for its writer): one that is there and may be read. Empty for
// none.
std::string first_readable_candidate(const fits_name_parts& parts, struct stat& info) {
  for (const std::string& candidate : local_candidates(parts))
    if (stat(candidate.c_str(), &info) == 0 && !S_ISSOCK(info.st_mode) && access(candidate.c_str(), R_OK) == 0)
      return candidate;
  return "";
}

}  // namespace

bool fits_name_finds_file(const std::string& file) {
  fits_name_parts parts;
  if (!fits_name_parts_of(file, parts)) return false;
  struct stat info;
  return parts.standard_input || (!first_readable_candidate(parts, info).empty() && !S_ISDIR(info.st_mode));
}

bool fits_name_is_streamed(const std::string& file) {
  fits_name_parts parts;
  if (!fits_name_parts_of(file, parts)) return false;
  struct stat info;
  return parts.standard_input || (!first_readable_candidate(parts, info).empty() && !S_ISREG(info.st_mode) &&
                                  !S_ISDIR(info.st_mode));
}

compression compression_of(const unsigned char* first_bytes, std::size_t count) {
  if (count < 2) return compression::none;
  if (first_bytes[0] == 0x1f && first_bytes[1] == 0x8b) return compression::gzip;
  if (first_bytes[0] == 0x1f && first_bytes[1] == 0x9d) return compression::unix_compress;
  // The library takes "BZ" alone for bzip2.
  if (first_bytes[0] == 'B' && first_bytes[1] == 'Z') return compression::bzip2;
  return compression::none;
}

std::unique_ptr<inflater> open_inflater(std::FILE* stream, compression kind, const std::string& name,
                                        const std::string& already_read) {
  byte_source source(stream, already_read);
  switch (kind) {
    case compression::gzip: return std::make_unique<gzip_inflater>(std::move(source), name);
    case compression::bzip2: return std::make_unique<bzip2_inflater>(std::move(source), name);
    case compression::unix_compress: return std::make_unique<lzw_inflater>(std::move(source), name);
    case compression::none: break;
  }
  return std::make_unique<plain_reader>(std::move(source));
}

namespace {

// Opens for the library the input open on place.stream, which is closed
// here but for the standard input. A streamed input (the standard input, a
// named pipe, a fetched file) is read once, whole, into memory; so is a
// compressed file. `plain_source` names a streamed input of plain bytes in
// messages, `name` the file.
bool open_found_input(fitsfile** fptr, const input_place& place, const std::string& file, bool streamed,
                      const char* plain_source, const std::string& name, int iomode, int* status) {
  const fits_name_parts& parts = place.parts;
  const bool standard_input = parts.standard_input;
  std::FILE* stream = place.stream;
  unsigned char magic[2] = {0, 0};
  const std::size_t count = std::fread(magic, 1, 2, stream);
  auto refuse = [&](const char* format, const char* what) {
    if (!standard_input) std::fclose(stream);
    fatal_exitf(-1, stderr, format, what, name.c_str());
  };
  if (count == 2 && magic[0] == 'P' && magic[1] == 'K')
    refuse("Error: %s is a zip archive, which cannot be read: unzip it or compress it with gzip ... (%s)\n",
           standard_input ? "the standard input" : "the file");
  const compression kind = compression_of(magic, count);
  // The library would say only that it found no such file.
  if (kind == compression::none && !standard_input && fits_prefix_wants_compressed(parts.prefix))
    refuse("Error: the file is not gzip, bzip2 or unix compress data, which the prefix %s reads: name it "
           "without the prefix ... (%s)\n",
           parts.prefix.c_str());
  if (kind == compression::none && !streamed) {
    // The library parses the headers of the HDUs it passes, opened for an
    // update too.
    fits_check_compressed_hdus(stream, name, parts.extension);
    std::string section_as_cut;
    if (parts.filtered) {
      *status = check_before_section(stream, place, file, name, section_as_cut);
      if (*status != 0) {
        std::fclose(stream);
        return true;
      }
    }
    // The library reads the very file opened here, through its
    // descriptor, which stays open as long as the library's file: while
    // it does, no other file gets the same descriptor name. Opened for an
    // update, the library opens that name again for writing, which the
    // system allows where the file itself may be written.
    std::shared_ptr<void> held(stream, [](void* opened) { std::fclose(static_cast<std::FILE*>(opened)); });
    if (ffopen(fptr, library_name(stream, place, file, section_as_cut).c_str(), iomode, status) == 0)
      keep_for(*fptr, {held, nullptr, 0, fileno(stream), name});
    return true;
  }
  const source_text text{kind == compression::none ? plain_source
                                                    : std::string("the ") + coding_name(kind) + " file",
                         kind == compression::none ? "" : " once inflated", name};
  // Writes would go to the copy in memory and be lost.
  if (iomode != READONLY) refuse("Error: %s cannot be written in place ... (%s)\n", text.what.c_str());
  if (parts.filtered)
    refuse("Error: %s is read whole: its name cannot select a section or a filter ... (%s)\n", text.what.c_str());
  std::string already_read(reinterpret_cast<const char*>(magic), count);
  auto held = std::make_unique<gathered>();
  {
    std::unique_ptr<inflater> in = open_inflater(stream, kind, name, already_read);
    gather_hdus(*in, text, *held);
  }
  if (!standard_input) std::fclose(stream);
  // The library is told the true size, which its checks then meet as in a
  // plain file: it would otherwise take the size from the headers and read
  // past the block.
  const std::size_t true_size = held->size;
  complete_last_record(*held, text);
  fits_check_compressed_hdus(static_cast<const unsigned char*>(held->data), true_size, name, parts.extension);
  // A plain label: the library would take brackets in a path for an HDU.
  if (ffomem(fptr, "memory", READONLY, &held->data, &held->size, 0, nullptr, status) != 0) {
    // The library may still hold the block's address; the caller ends the
    // process on this failure.
    static_cast<void>(held.release());
    return true;
  }
  (*fptr)->Fptr->filesize = (*fptr)->Fptr->logfilesize = static_cast<LONGLONG>(true_size);
  const unsigned char* bytes = static_cast<const unsigned char*>(held->data);
  keep_for(*fptr, {std::shared_ptr<gathered>(std::move(held)), bytes, true_size, -1, name});
  if (!parts.extension.empty()) move_to_extension(*fptr, parts.extension, name, status);
  return true;
}

}  // namespace

bool fits_open_local(fitsfile** fptr, const std::string& file, int iomode, int* status) {
  input_place place;
  switch (find_input(file, iomode, place)) {
    case search::not_local: return false;
    case search::none: fits_fail_as_no_file(file, status); return true;
    case search::found: break;
  }
  const bool standard_input = place.parts.standard_input;
  struct stat input;
  const bool known = fstat(fileno(place.stream), &input) == 0;
  // A folder reads as nothing at all, which would pass for an empty input.
  if (standard_input && known && S_ISDIR(input.st_mode))
    fatal_exitf(-1, stderr, "Error: the standard input is a folder, not a FITS file ... (%s)\n", file.c_str());
  // A named pipe or a device is read once, as the standard input is: the
  // library would open it again after looking at its first bytes, and find
  // its writer gone.
  const bool streamed = standard_input || !known || !S_ISREG(input.st_mode);
  const char* source = standard_input ? "the standard input" : known && S_ISFIFO(input.st_mode) ? "the named pipe"
                                                                                                : "the device";
  // Read for an update, the file itself must be; its writes go to it.
  if (!streamed && iomode == READONLY && io_writable_by_others(fileno(place.stream), input))
    read_into_private_copy(place, input);
  return open_found_input(fptr, place, file, streamed, source, standard_input ? file : place.path, iomode, status);
}

void fits_fail_as_no_file(const std::string& file, int* status) {
  // The library's own words, naming the name as its open reads it.
  const std::size_t lead = std::min(file.find_first_not_of(' '), file.size());
  ffpmsg("failed to find or open the following file: (ffopen)");
  ffpmsg(file.c_str() + lead);
  *status = FILE_NOT_OPENED;
}

bool fits_open_fetched(fitsfile** fptr, std::FILE* stream, const fits_name_parts& parts, const std::string& name,
                       int* status) {
  input_place place;
  place.parts = parts;
  place.parts.standard_input = false;
  place.path = name;
  place.stream = stream;
  return open_found_input(fptr, place, name, true, "the fetched file", name, READONLY, status);
}

std::shared_ptr<void> fits_take_input_backing(const FITSfile* library_file) {
  std::lock_guard<std::mutex> lock(open_inputs_lock());
  auto input = open_inputs().find(library_file);
  if (input == open_inputs().end()) return nullptr;
  std::shared_ptr<void> taken = std::move(input->second.backing);
  open_inputs().erase(input);
  return taken;
}

fits_input_source fits_input_source_of(const FITSfile* library_file) {
  std::lock_guard<std::mutex> lock(open_inputs_lock());
  auto input = open_inputs().find(library_file);
  return input == open_inputs().end() ? fits_input_source{} : input->second;
}
