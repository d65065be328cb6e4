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
    // The decoder's (high << 15) + low, multiplied: a negative high word
    // is as the decoder computes it, without a shift of a negative value.
    length = word(4) * 32768 + word(3);
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

namespace {

// The HCOMPRESS stream before its bit planes: magic, nx, ny, scale, the
// sum of all pixels, and the bit-plane counts of quadrant 0, quadrants 1
// and 2, and quadrant 3.
constexpr std::size_t kHcompressPlanesAt = kHcompressHeader + 8;
constexpr std::size_t kHcompressBodyAt = kHcompressPlanesAt + 3;

// The decoder's Huffman code of a quadtree's nybbles, 3 to 6 bits long:
// for each 6-bit prefix of the stream, the nybble and the code's length.
struct huffman_entry {
  unsigned char nybble, length;
};
constexpr huffman_entry huffman_of(unsigned prefix) {
  const unsigned three = prefix >> 3, four = prefix >> 2, five = prefix >> 1;
  if (three < 4) return {static_cast<unsigned char>(1u << three), 3};
  constexpr unsigned char by_four[] = {3, 5, 10, 12, 15};
  if (four >= 8 && four <= 12) return {by_four[four - 8], 4};
  constexpr unsigned char by_five[] = {6, 7, 9, 11, 13};
  if (five >= 26 && five <= 30) return {by_five[five - 26], 5};
  return {static_cast<unsigned char>(prefix == 62 ? 0 : 14), 6};
}
struct huffman_table {
  huffman_entry entries[64];
  constexpr huffman_table() : entries() {
    for (unsigned prefix = 0; prefix < 64; prefix++) entries[prefix] = huffman_of(prefix);
  }
};
constexpr huffman_table kHuffman;

// The side of a quadtree's grid of nybbles: at each level the decoder
// doubles it, less one where the quadrant's side runs out.
int ceil_log2(long long value) {
  int log2 = 0;
  while (log2 < 62 && (1LL << log2) < value) log2++;
  return log2;
}

}  // namespace

// The stream's bits from `at` on, read as the decoder reads them; reads
// past the end give 0, and are caught by `past()` after a level of a
// quadtree or a nybble read directly.
struct hcompress_walker::bit_reader {
  const unsigned char* data;
  std::size_t size;
  long long at, end;
  std::uint64_t peek() const { return at < end ? bits_from(data, size, at) : 0; }
  unsigned take(int count) {
    const unsigned value = static_cast<unsigned>(peek() >> (64 - count));
    at += count;
    return value;
  }
  unsigned huffman() {
    const huffman_entry entry = kHuffman.entries[peek() >> 58];
    at += entry.length;
    return entry.nybble;
  }
  bool past() const { return at > end; }
};

hcompress_walker::verdict hcompress_walker::walk(const unsigned char* stream, std::size_t size, int widest,
                                                 long long* read) {
  if (size < kHcompressBodyAt) return verdict::past_end;
  const long long nx = big_endian(stream + 2, 4), ny = big_endian(stream + 6, 4);
  const int planes[3] = {stream[kHcompressPlanesAt], stream[kHcompressPlanesAt + 1], stream[kHcompressPlanesAt + 2]};
  for (const int count : planes)
    if (count >= widest) return verdict::too_many_planes;
  bit_reader bits{stream, size, 8LL * static_cast<long long>(kHcompressBodyAt), 8LL * static_cast<long long>(size)};
  const long long nx2 = (nx + 1) / 2, ny2 = (ny + 1) / 2;
  // The quadrants in the decoder's order, and their planes.
  const long long quadrants[4][3] = {
      {nx2, ny2, planes[0]}, {nx2, ny / 2, planes[1]}, {nx / 2, ny2, planes[1]}, {nx / 2, ny / 2, planes[2]}};
  long long nonzero = 0;
  verdict found = verdict::fits;
  for (const auto& quadrant : quadrants) {
    found = walk_quadrant(bits, quadrant[0], quadrant[1], static_cast<int>(quadrant[2]), &nonzero);
    if (found == verdict::reported) break;
    if (found != verdict::fits) return found;
  }
  // A nybble the decoder wants 0, then from the next whole byte a sign bit
  // per coefficient not 0.
  const bool ended = found != verdict::reported && bits.take(4) == 0;
  if (ended) bits.at = (bits.at + 7) / 8 * 8 + nonzero;
  if (bits.past()) return verdict::past_end;
  *read = (bits.at + 7) / 8;
  return ended ? verdict::fits : verdict::reported;
}

// One quadrant of nqx x nqy coefficients, its bit planes decoded into
// nybbles, each standing for 2 x 2 coefficients; `nonzero` counts the
// coefficients any plane sets. A code other than 0 and 15 ends the
// decoder's walk, which reports it.
hcompress_walker::verdict hcompress_walker::walk_quadrant(bit_reader& bits, long long nqx, long long nqy, int planes,
                                                          long long* nonzero) {
  if (planes == 0) return verdict::fits;
  const long long nqx2 = (nqx + 1) / 2, nqy2 = (nqy + 1) / 2, nybbles = nqx2 * nqy2;
  const int log2n = ceil_log2(std::max(nqx, nqy));
  // The planes' nybbles ORed together.
  direct_.assign(static_cast<std::size_t>(nybbles), 0);
  unsigned char* const seen = direct_.data();
  for (int plane = planes - 1; plane >= 0; plane--) {
    const unsigned code = bits.take(4);
    if (bits.past()) return verdict::past_end;
    if (code == 0) {
      for (long long k = 0; k < nybbles; k++) {
        seen[k] |= static_cast<unsigned char>(bits.take(4));
        if (bits.past()) return verdict::past_end;
      }
      continue;
    }
    if (code != 15) return verdict::reported;
    // A quadrant of no cells still gets a grid a cell wide, of its other
    // side's nybbles, written into a buffer of none: whether that lands in
    // what the C library's allocator happens to give for an empty block or
    // over the heap, the tile is refused alike, under any allocator.
    if (nybbles == 0) return verdict::empty_quadtree;
    // The grid of each level holds a nybble for each 2 x 2 cells of the
    // next; each cell whose bit is set gets a nybble of its own.
    level_.assign(1, static_cast<unsigned char>(bits.huffman()));
    long long level_x = 1, level_y = 1, left_x = nqx, left_y = nqy, cell = 1LL << log2n;
    for (int k = 1; k < log2n; k++) {
      cell >>= 1;
      const long long above_y = level_y;
      level_x = 2 * level_x - (left_x <= cell ? 1 : 0);
      level_y = 2 * level_y - (left_y <= cell ? 1 : 0);
      if (left_x > cell) left_x -= cell;
      if (left_y > cell) left_y -= cell;
      next_.assign(static_cast<std::size_t>(level_x * level_y), 0);
      unsigned char* const cells = next_.data();
      for (long long i = 0; i < level_x; i++)
        for (long long j = 0; j < level_y; j++) {
          const unsigned parent = level_[static_cast<std::size_t>((i / 2) * above_y + j / 2)];
          const unsigned bit = 3 - static_cast<unsigned>(2 * (i & 1) + (j & 1));
          cells[i * level_y + j] = static_cast<unsigned char>((parent >> bit) & 1);
        }
      // The decoder reads the cells' nybbles from the last one back.
      for (long long at = level_x * level_y - 1; at >= 0; at--)
        if (cells[at] != 0) cells[at] = static_cast<unsigned char>(bits.huffman());
      if (bits.past()) return verdict::past_end;
      level_.swap(next_);
    }
    for (long long k = 0; k < nybbles; k++) seen[k] |= level_[static_cast<std::size_t>(k)];
  }
  // Only the nybbles' bits over the quadrant's cells reach a coefficient.
  for (long long i = 0; i < nqx2; i++)
    for (long long j = 0; j < nqy2; j++) {
      unsigned mask = 8;
      if (2 * j + 1 < nqy) mask |= 4;
      if (2 * i + 1 < nqx) mask |= 2;
      if (2 * i + 1 < nqx && 2 * j + 1 < nqy) mask |= 1;
      *nonzero += __builtin_popcount(seen[i * nqy2 + j] & mask);
    }
  return verdict::fits;
}
