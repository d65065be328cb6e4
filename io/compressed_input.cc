// Compressed FITS inputs: the size claims the library acts on, and one
// streaming pass that walks the inflated file HDU by HDU through a fixed
// buffer, so that checking a file costs no more memory than a small one.
#include "io/compressed_input.h"

#include <bzlib.h>
#include <fitsio.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "array/fatal.h"
#include "array/memory_size.h"
#include "io/fits_header.h"
#include "io/image_names.h"

namespace {

// Compressed bytes read from the file at a time.
constexpr std::size_t kInputPiece = 1 << 16;

// ---- gzip size claims ----
// Before inflating a byte the library allocates the size a gzip file's last
// four bytes (ISIZE) claim, and three times the file for the other codings;
// a 30-byte gzip file can claim 4 GB, so the claim is checked first.

// Deflate codes at best 258 bytes in two bits: no gzip file inflates to
// more than 1032 times its size (the constant covers the smallest files).
constexpr long long kMaxDeflateRatio = 1032;
constexpr long long kDeflateSlack = 4096;

// The library's guess at the inflated size of a gzip file: ISIZE is the size
// modulo 2^32, so for a file above 10000 bytes it adds 2^32 until the size
// is no smaller than the file.
unsigned long long gzip_claimed_size(std::uint32_t isize, long long file_bytes) {
  unsigned long long claim = isize;
  if (file_bytes > 10000)
    while (claim < static_cast<unsigned long long>(file_bytes)) claim += 1ULL << 32;
  return claim;
}

void check_gzip_claim(std::FILE* stream, const std::string& path) {
  unsigned char tail[4];
  if (fseeko(stream, 0, SEEK_END) != 0) return;
  const long long file_bytes = ftello(stream);
  if (file_bytes < 4 || fseeko(stream, -4, SEEK_END) != 0 || std::fread(tail, 1, 4, stream) != 4) return;
  const std::uint32_t isize = static_cast<std::uint32_t>(tail[0]) | static_cast<std::uint32_t>(tail[1]) << 8 |
                              static_cast<std::uint32_t>(tail[2]) << 16 | static_cast<std::uint32_t>(tail[3]) << 24;
  const unsigned long long claim = gzip_claimed_size(isize, file_bytes);
  if (claim > static_cast<unsigned long long>(kMaxDeflateRatio * file_bytes + kDeflateSlack))
    fatal_exitf(-1, stderr,
                "Error: the gzip file claims %llu bytes once inflated, more than its %lld bytes can hold ... (%s)\n",
                claim, file_bytes, path.c_str());
  const std::uint64_t memory = physical_memory_bytes();
  if (memory != 0 && claim > memory)
    fatal_exitf(-1, stderr,
                "Error: the gzip file inflates to %llu MB, more than the %llu MB of memory of this machine ... "
                "(%s)\n",
                claim >> 20, static_cast<unsigned long long>(memory >> 20), path.c_str());
}

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

// The loop zlib and libbz2 share: their streams name the same fields. `step`
// inflates what is in hand and tells whether the compressed stream ended; it
// refuses damaged data itself.
template <class Stream, class Byte, class Step>
std::size_t pump(Stream& z, std::vector<Byte>& input, std::FILE* stream, bool& ended,
                 unsigned char* out, std::size_t bytes, compression kind, const std::string& name,
                 Step step) {
  if (ended) return 0;
  z.next_out = reinterpret_cast<decltype(z.next_out)>(out);
  z.avail_out = static_cast<unsigned>(bytes);
  while (z.avail_out > 0) {
    if (z.avail_in == 0) {
      z.avail_in = static_cast<unsigned>(std::fread(input.data(), 1, input.size(), stream));
      z.next_in = input.data();
      if (z.avail_in == 0) refuse_damaged(kind, name, "the file ends inside its compressed stream");
    }
    if (step(z)) {
      ended = true;
      break;
    }
  }
  return bytes - z.avail_out;
}

class gzip_inflater : public inflater {
 public:
  gzip_inflater(std::FILE* stream, const std::string& name) : stream_(stream), name_(name), input_(kInputPiece) {
    // 16 + 15: a gzip wrapper and the largest window.
    if (inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK) fatal_exitf(-1, stderr, "Error: zlib cannot start (%s)\n", name.c_str());
  }
  ~gzip_inflater() override { inflateEnd(&z_); }

  std::size_t read(unsigned char* out, std::size_t bytes) override {
    return pump(z_, input_, stream_, ended_, out, bytes, compression::gzip, name_, [this](z_stream& z) {
      const int result = inflate(&z, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END)
        refuse_damaged(compression::gzip, name_, z.msg != nullptr ? z.msg : "inflate failed");
      return result == Z_STREAM_END;
    });
  }

 private:
  z_stream z_{};
  std::FILE* stream_;
  std::string name_;
  std::vector<unsigned char> input_;
  bool ended_ = false;
};

class bzip2_inflater : public inflater {
 public:
  bzip2_inflater(std::FILE* stream, const std::string& name) : stream_(stream), name_(name), input_(kInputPiece) {
    if (BZ2_bzDecompressInit(&bz_, 0, 0) != BZ_OK)
      fatal_exitf(-1, stderr, "Error: libbz2 cannot start (%s)\n", name.c_str());
  }
  ~bzip2_inflater() override { BZ2_bzDecompressEnd(&bz_); }

  std::size_t read(unsigned char* out, std::size_t bytes) override {
    return pump(bz_, input_, stream_, ended_, out, bytes, compression::bzip2, name_, [this](bz_stream& z) {
      const int result = BZ2_bzDecompress(&z);
      if (result != BZ_OK && result != BZ_STREAM_END)
        refuse_damaged(compression::bzip2, name_, result == BZ_MEM_ERROR ? "out of memory" : "not a valid bzip2 stream");
      return result == BZ_STREAM_END;
    });
  }

 private:
  bz_stream bz_{};
  std::FILE* stream_;
  std::string name_;
  std::vector<char> input_;
  bool ended_ = false;
};

// Unix compress (.Z): LZW with codes of 9 bits growing to at most 16, packed
// from the lowest bit up. The compressor writes codes in groups of eight:
// when a CLEAR code restarts the table, the rest of the current group is
// padding, which the decoder must skip too. (A width change pads the same
// way, but always falls on a group's end: each width holds 2^(width - 1)
// codes.) The file ends where its bytes do.
class lzw_inflater : public inflater {
 public:
  lzw_inflater(std::FILE* stream, const std::string& name)
      : stream_(stream), name_(name), input_(kInputPiece), prefix_(kTableSize), suffix_(kTableSize),
        pending_(kTableSize + 1) {
    unsigned char header[3];
    if (std::fread(header, 1, 3, stream_) != 3 || header[0] != 0x1f || header[1] != 0x9d)
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
      input_count_ = std::fread(input_.data(), 1, input_.size(), stream_);
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

  std::FILE* stream_;
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

// ---- The inflated file, HDU by HDU ----

// More header than this is no image's: real headers hold hundreds of cards.
// The limit keeps a stream of blank cards without END from costing memory.
constexpr int kMaxHeaderBlocks = 10000;

std::size_t read_fully(inflater& in, unsigned char* out, std::size_t bytes) {
  std::size_t got = 0;
  while (got < bytes) {
    const std::size_t piece = in.read(out + got, bytes - got);
    if (piece == 0) break;
    got += piece;
  }
  return got;
}

// Follows the inflated stream through each HDU its headers describe, and
// refuses it once it passes the last one or describes more than the memory.
void check_inflated_size(inflater& in, compression kind, const std::string& path) {
  const char* coding = coding_name(kind);
  const std::uint64_t memory = physical_memory_bytes();
  long long described = 0;  // bytes of the HDUs met so far, padding included
  std::vector<char> cards;
  std::vector<unsigned char> scratch(kInputPiece);
  for (int hdu = 0;; hdu++) {
    cards.assign(FITS_BLOCK, ' ');
    const std::size_t first = read_fully(in, reinterpret_cast<unsigned char*>(cards.data()), FITS_BLOCK);
    if (hdu > 0 && first == 0) return;  // the file ends after its last HDU
    const char* opening = hdu == 0 ? "SIMPLE  " : "XTENSION";
    if (first < static_cast<std::size_t>(FITS_BLOCK) || std::strncmp(cards.data(), opening, 8) != 0) {
      if (hdu == 0)
        fatal_exitf(-1, stderr, "Error: the %s file holds no FITS file once inflated ... (%s)\n", coding, path.c_str());
      fatal_exitf(-1, stderr,
                  "Error: the %s file inflates past the %lld bytes its FITS headers describe: %lld bytes and more "
                  "... (%s)\n",
                  coding, described, described + static_cast<long long>(first), path.c_str());
    }
    int nblocks = 1;
    while (fitsnfind(cards.data() + static_cast<std::size_t>(nblocks - 1) * FITS_BLOCK, "END     ", 1) == nullptr) {
      if (nblocks == kMaxHeaderBlocks)
        fatal_exitf(-1, stderr, "Error: the %s file inflates to a FITS header of more than %d cards ... (%s)\n",
                    coding, kMaxHeaderBlocks * FITS_CARDS_PER_BLOCK, path.c_str());
      cards.resize(static_cast<std::size_t>(nblocks + 1) * FITS_BLOCK, ' ');
      const std::size_t got = read_fully(
          in, reinterpret_cast<unsigned char*>(cards.data()) + static_cast<std::size_t>(nblocks) * FITS_BLOCK,
          FITS_BLOCK);
      if (got < static_cast<std::size_t>(FITS_BLOCK)) return;  // cut short: the library reports it
      nblocks++;
    }
    const long long data_bytes = fits_data_bytes(cards.data(), nblocks);
    if (data_bytes < 0)
      fatal_exitf(-1, stderr,
                  "Error: a FITS header in the %s file does not say how many data bytes follow it ... (%s)\n", coding,
                  path.c_str());
    const long long padded = (data_bytes + FITS_BLOCK - 1) / FITS_BLOCK * FITS_BLOCK;
    // Saturated, like the data bytes: no run of headers overflows the sum.
    const long long kBeyondAnyFile = 1LL << 62;
    const long long hdu_bytes = static_cast<long long>(nblocks) * FITS_BLOCK + padded;
    described = hdu_bytes > kBeyondAnyFile - described ? kBeyondAnyFile : described + hdu_bytes;
    if (memory != 0 && static_cast<std::uint64_t>(described) > memory)
      fatal_exitf(-1, stderr,
                  "Error: the FITS headers of the %s file describe %lld MB once inflated, more than the %llu MB of "
                  "memory of this machine ... (%s)\n",
                  coding, described >> 20, static_cast<unsigned long long>(memory >> 20), path.c_str());
    for (long long left = padded; left > 0;) {
      const std::size_t piece = left < static_cast<long long>(scratch.size()) ? static_cast<std::size_t>(left)
                                                                                : scratch.size();
      const std::size_t got = read_fully(in, scratch.data(), piece);
      if (got < piece) return;  // data cut short: the reader reports it
      left -= static_cast<long long>(got);
    }
  }
}

// The disk file the library would open for a name read-only: its root name
// without extension or filter syntax, or the first compressed sibling the
// library tries when no file has that name. Empty for the standard input,
// a network or memory name, or anything but a regular file.
std::string library_disk_file(const std::string& file) {
  if (file.size() + 1 >= FLEN_FILENAME || std_inout(file.c_str())) return "";
  std::vector<char> url(file.begin(), file.end());
  url.push_back('\0');
  char root[FLEN_FILENAME] = "";
  int status = 0;
  if (ffrtnm(url.data(), root, &status) != 0) return "";
  std::string path = root;
  if (path.compare(0, 7, "file://") == 0) path.erase(0, 7);
  else if (path.find("://") != std::string::npos) return "";
  static const char* const kLibrarySuffixes[] = {"", ".gz", ".bz2", ".Z", ".z", ".zip", "-z", "-gz"};
  for (const char* suffix : kLibrarySuffixes) {
    struct stat info;
    const std::string candidate = path + suffix;
    if (stat(candidate.c_str(), &info) == 0) return S_ISREG(info.st_mode) ? candidate : "";
  }
  return "";
}

}  // namespace

compression compression_of(const unsigned char* first_bytes, std::size_t count) {
  if (count < 2) return compression::none;
  if (first_bytes[0] == 0x1f && first_bytes[1] == 0x8b) return compression::gzip;
  if (first_bytes[0] == 0x1f && first_bytes[1] == 0x9d) return compression::unix_compress;
  // The library takes "BZ" alone for bzip2.
  if (first_bytes[0] == 'B' && first_bytes[1] == 'Z') return compression::bzip2;
  return compression::none;
}

std::unique_ptr<inflater> open_inflater(std::FILE* stream, compression kind, const std::string& name) {
  switch (kind) {
    case compression::gzip: return std::make_unique<gzip_inflater>(stream, name);
    case compression::bzip2: return std::make_unique<bzip2_inflater>(stream, name);
    case compression::unix_compress: return std::make_unique<lzw_inflater>(stream, name);
    case compression::none: break;
  }
  return nullptr;
}

void check_compressed_input(const std::string& file) {
  const std::string path = library_disk_file(file);
  if (path.empty()) return;
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) return;  // the library reports the open failure
  unsigned char magic[2] = {0, 0};
  const std::size_t count = std::fread(magic, 1, 2, stream);
  if (count == 2 && magic[0] == 'P' && magic[1] == 'K') {
    std::fclose(stream);
    fatal_exitf(-1, stderr,
                "Error: the file is a zip archive, which cannot be read: unzip it or compress it with gzip ... "
                "(%s)\n",
                path.c_str());
  }
  const compression kind = compression_of(magic, count);
  if (kind == compression::gzip) check_gzip_claim(stream, path);
  if (kind != compression::none && fseeko(stream, 0, SEEK_SET) == 0) {
    std::unique_ptr<inflater> in = open_inflater(stream, kind, path);
    check_inflated_size(*in, kind, path);
  }
  std::fclose(stream);
}
