// Walkers of tile streams (Rice, gzip, PLIO, HCOMPRESS), each reading a
// stream as far as the FITS library's decoder would and no further, so that
// a damaged stream is refused before the decoder runs past its buffers.
#include "io/tile_streams.h"

#include <algorithm>
#include <cstring>

namespace {

// A gzip stream is inflated this many bytes at a time.
constexpr std::size_t kInflateChunk = 1 << 16;

// 64 bits of the stream from bit `at` on (at most its end), the first bit
// highest: the bytes past the end, and the last (at & 7) bits, read as 0.
inline std::uint64_t bits_from(const unsigned char* data, std::size_t size, long long at) {
  const std::size_t byte = static_cast<std::size_t>(at >> 3);
  std::uint64_t word = 0;
  if (size - byte >= 8) {
    std::memcpy(&word, data + byte, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    word = __builtin_bswap64(word);
#endif
  } else {
    for (std::size_t k = byte; k < size; k++) word |= std::uint64_t{data[k]} << (56 - 8 * (k - byte));
  }
  return word << (at & 7);
}

}  // namespace

long long big_endian(const unsigned char* bytes, int count) {
  unsigned long long value = 0;
  for (int k = 0; k < count; k++) value = value << 8 | bytes[k];
  // Sign-extended from the field's width.
  const int shift = 64 - 8 * count;
  return static_cast<long long>(value << shift) >> shift;
}

// A header of 16-bit words (the list's length and where its instructions
// begin), then an instruction a word, the top 3 bits its code and the low
// 12 its count.
long long plio_list_pixels(const unsigned char* stream, std::size_t words) {
  auto word = [&](std::size_t k) { return static_cast<long long>(big_endian(stream + 2 * k, 2)); };
  if (words < 3) return -1;
  // The old header holds the length in its third word; the new one, marked
  // by a third word of 0 or less, in its fourth and fifth, with the first
  // instruction's place in its second.
  long long length = word(2), first = 3;
  if (length <= 0) {
    if (words < 5) return -1;
    length = (word(4) << 15) + word(3);
    first = word(1);
  }
  if (length <= 0) return 0;
  if (first < 0 || length > static_cast<long long>(words)) return -1;
  long long pixels = 0;
  for (long long k = first; k < length; k++) {
    const long long instruction = word(static_cast<std::size_t>(k));
    if (instruction < 0) continue;
    const long long code = instruction >> 12, count = instruction & 4095;
    switch (code) {
      case 0:  // a run of zeros
      case 4:  // a run of the high value
      case 5:  // zeros, then one pixel of the high value
        pixels += count;
        break;
      case 1:  // a new high value, its top bits in the next word
        if (k + 1 >= length) return -1;
        k++;
        break;
      case 6:  // the high value changed, then one pixel of it
      case 7: pixels += 1; break;
    }
  }
  return pixels;
}

bool rice_stream_fits(const unsigned char* data, std::size_t size, long long pixels, long long blocksize,
                      int bytepix) {
  const int width_bits = bytepix == 1 ? 3 : bytepix == 2 ? 4 : 5;
  const int widest = bytepix == 1 ? 6 : bytepix == 2 ? 14 : 25;
  const long long raw_bits = 8LL * bytepix;
  if (size < static_cast<std::size_t>(bytepix)) return pixels == 0;
  const long long end = 8LL * static_cast<long long>(size);
  long long at = 8LL * bytepix;  // after the first pixel, stored whole
  for (long long i = 0; i < pixels;) {
    if (at + width_bits > end) return false;
    const int width = static_cast<int>(bits_from(data, size, at) >> (64 - width_bits)) - 1;
    at += width_bits;
    const long long last = std::min(i + blocksize, pixels);
    if (width < 0) {
      i = last;
    } else if (width > widest) {
      return false;
    } else if (width == widest) {
      if ((last - i) > (end - at) / raw_bits) return false;
      at += (last - i) * raw_bits;
      i = last;
    } else {
      // `word` holds the bits from `at` on: its first `valid` are the
      // stream's (or zeros past its end), the rest zeros, so that any 1 in
      // it is one of the stream's.
      std::uint64_t word = bits_from(data, size, at);
      int valid = 64 - static_cast<int>(at & 7);
      for (; i < last; i++) {
        while (word == 0) {
          at += valid;
          if (at >= end) return false;
          word = bits_from(data, size, at);
          valid = 64 - static_cast<int>(at & 7);
        }
        const int used = __builtin_clzll(word) + 1 + width;
        at += used;
        if (at > end) return false;
        if (used < valid) {
          word <<= used;
          valid -= used;
        } else {
          word = bits_from(data, size, at);
          valid = 64 - static_cast<int>(at & 7);
        }
      }
    }
  }
  return true;
}

bool hcompress_header_of(const unsigned char* stream, std::size_t size, hcompress_header* header) {
  if (size < kHcompressHeader) return false;
  header->nx = big_endian(stream + 2, 4);
  header->ny = big_endian(stream + 6, 4);
  header->scale = big_endian(stream + 10, 4);
  return true;
}

gzip_counter::~gzip_counter() {
  if (ready_) inflateEnd(&z_);
}

// The stream must inflate to exactly `bytes`: the library's inflater grows
// its buffer as long as the stream goes on, and the pixels are then read
// from it as the image's type says. It is inflated a chunk at a time into
// the same scratch, its bytes counted.
gzip_counter::verdict gzip_counter::inflates_to(const unsigned char* stream, std::size_t size, long long bytes,
                                                long long* inflated) {
  if (!ready_) {
    if (inflateInit2(&z_, 15 + 32) != Z_OK) return verdict::no_memory;
    ready_ = true;
    chunk_.resize(kInflateChunk);
  } else if (inflateReset(&z_) != Z_OK) {
    return verdict::no_memory;
  }
  const unsigned long long room = static_cast<unsigned long long>(bytes) + 1;
  z_.next_in = const_cast<unsigned char*>(stream);
  // As the library's inflater takes it.
  z_.avail_in = static_cast<uInt>(size);
  for (;;) {
    // The last chunk asked to finish, which spares the inflater a copy
    // of its output into its window.
    const unsigned long long left = room - z_.total_out;
    const bool last = left <= chunk_.size();
    z_.next_out = chunk_.data();
    z_.avail_out = static_cast<uInt>(last ? left : chunk_.size());
    const int result = inflate(&z_, last ? Z_FINISH : Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      *inflated = static_cast<long long>(z_.total_out);
      if (*inflated < bytes) return verdict::short_of;
      return *inflated == bytes ? verdict::fits : verdict::unended;
    }
    if (result != Z_OK || last) return verdict::unended;
  }
}
