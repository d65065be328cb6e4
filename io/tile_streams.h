// Walkers of the compressed streams of a tile-compressed image's tiles,
// each following its stream as the FITS library's decoder reads it: the
// decoders take the streams on trust and read past their ends, or write
// past their tile's buffer, when a stream is damaged. The walkers only
// count (bits, bytes, pixels) and keep no state between calls beyond the
// scratch they are given, so that the tiles can be walked side by side.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// A big-endian integer of `count` bytes (1 to 8), sign-extended from the
// field's width.
long long big_endian(const unsigned char* bytes, int count);

// Follows a Rice stream as the decoder reads it, counting its bits only:
// after the first pixel, stored whole in `bytepix` bytes, each block of
// `blocksize` pixels opens with its code's width, then holds nothing (width
// 0), raw values, or for each pixel a run of 0 bits, a 1 and the code's low
// bits. False when the stream ends before its `pixels` do, or a block has a
// width no coder writes.
bool rice_stream_fits(const unsigned char* data, std::size_t size, long long pixels, long long blocksize,
                      int bytepix);

// The pixels a PLIO list of `words` 16-bit big-endian words decodes to, as
// the library's decoder walks it; -1 when the decoder would read a word
// past the list's end.
long long plio_list_pixels(const unsigned char* stream, std::size_t words);

// An HCOMPRESS stream's header: two magic bytes, then the image's nx, ny
// and scale as 4-byte big-endian integers.
constexpr std::size_t kHcompressHeader = 14;
struct hcompress_header {
  long long nx = 0, ny = 0, scale = 0;
};
// False when the stream is shorter than its header.
bool hcompress_header_of(const unsigned char* stream, std::size_t size, hcompress_header* header);

// Inflates gzip streams a chunk at a time, counting their bytes: the
// library's inflater grows its buffer for as long as a stream goes on. One
// per thread, reused from stream to stream.
class gzip_counter {
 public:
  enum class verdict : unsigned char { fits, no_memory, unended, short_of };
  gzip_counter() = default;
  gzip_counter(const gzip_counter&) = delete;
  gzip_counter& operator=(const gzip_counter&) = delete;
  ~gzip_counter();
  // Whether the stream inflates to exactly `bytes`; `inflated` is what it
  // inflated to when it ended short of them.
  verdict inflates_to(const unsigned char* stream, std::size_t size, long long bytes, long long* inflated);

 private:
  z_stream z_{};
  bool ready_ = false;
  std::vector<unsigned char> chunk_;
};

// Walks an HCOMPRESS stream's body as the library's decoder reads it, one
// bit at a time from its buffer and a byte more whenever it needs one,
// never looking at the stream's end: after the header, the sum of all
// pixels (8 bytes) and the bit-plane counts of the four quadrants (3
// bytes), each quadrant's bit planes from the highest down, each a 4-bit
// code then either its nybbles written directly or a quadtree of
// Huffman-coded nybbles; a nybble of 0; a sign bit for each coefficient
// that is not 0. One per thread, reused from stream to stream.
class hcompress_walker {
 public:
  enum class verdict : unsigned char {
    // The decoder reads no byte past the stream's end.
    fits,
    // A code the decoder reports as damaged (a bit plane's code other
    // than 0 or 15, a quadrant ended by a nybble other than 0), met
    // before the stream's end: it stops there.
    reported,
    // It would read past the end.
    past_end,
    // A quadrant with more bit planes than the decoder's integers have
    // bits: it would shift a bit past their width.
    too_many_planes,
    // A quadrant of no pixels (a tile 1 pixel wide or high) coded by a
    // quadtree, whose nybbles the decoder writes past its empty buffer.
    empty_quadtree
  };
  // `widest` is the bits of the decoder's integers (32, or 64 for images
  // of 32-bit pixels), whose top bit no plane may reach; `read` is set to the
  // bytes the decoder reads of a stream that fits or that it reports.
  verdict walk(const unsigned char* stream, std::size_t size, int widest, long long* read);

 private:
  struct bit_reader;
  verdict walk_quadrant(bit_reader& bits, long long nqx, long long nqy, int planes, long long* nonzero);
  std::vector<unsigned char> level_, next_, direct_;
};
