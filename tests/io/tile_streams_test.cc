// The tile stream walkers against plain references: streams a coder could
// write, cut and damaged, walked the plainest way; HCOMPRESS streams as
// the library's own compressor writes them.
#include "io/tile_streams.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

// A Rice stream walked the plainest way, one bit at a time.
bool rice_fits_bit_by_bit(const std::vector<unsigned char>& stream, long long pixels, long long blocksize,
                          int bytepix) {
  const long long end = 8LL * static_cast<long long>(stream.size());
  long long at = 8LL * bytepix;
  if (at > end) return pixels == 0;
  auto bit = [&] { return (stream[at >> 3] >> (7 - (at & 7))) & 1; };
  auto field = [&](int count, long long* value) {
    for (*value = 0; count > 0; count--, at++) {
      if (at >= end) return false;
      *value = *value * 2 + bit();
    }
    return true;
  };
  const int width_bits = bytepix == 1 ? 3 : bytepix == 2 ? 4 : 5, widest = bytepix == 1 ? 6 : bytepix == 2 ? 14 : 25;
  for (long long i = 0; i < pixels; i += blocksize) {
    long long code = 0, low = 0;
    if (!field(width_bits, &code)) return false;
    const long long width = code - 1, count = std::min(blocksize, pixels - i);
    if (width > widest) return false;
    for (long long k = 0; width >= 0 && k < count; k++) {
      if (width == widest) {
        if (!field(8 * bytepix, &low)) return false;
        continue;
      }
      for (; at < end && bit() == 0; at++) {
      }
      if (at++ >= end || !field(static_cast<int>(width), &low)) return false;
    }
  }
  return true;
}

// A Rice stream of `pixels` pixels as a coder could write it, its blocks of
// every kind and its runs of 0 bits up to twice a machine word; with
// `odd_widths`, some blocks have a width no coder writes.
std::vector<unsigned char> rice_stream(std::mt19937& random, long long pixels, long long blocksize, int bytepix,
                                       bool odd_widths) {
  std::vector<unsigned char> stream;
  long long bits = 0;
  auto put = [&](unsigned long long value, int count) {
    for (int k = count - 1; k >= 0; k--, bits++) {
      if (bits % 8 == 0) stream.push_back(0);
      stream.back() |= static_cast<unsigned char>(((value >> k) & 1) << (7 - bits % 8));
    }
  };
  const int width_bits = bytepix == 1 ? 3 : bytepix == 2 ? 4 : 5, widest = bytepix == 1 ? 6 : bytepix == 2 ? 14 : 25;
  put(random(), 8 * bytepix);
  for (long long i = 0; i < pixels; i += blocksize) {
    const int kind = static_cast<int>(random() % 10);
    const int width = kind == 0 ? -1 : kind == 1 ? widest : static_cast<int>(random() % widest);
    put(odd_widths && kind == 2 ? (1u << width_bits) - 1 : width + 1, width_bits);
    for (long long k = 0; width >= 0 && k < std::min(blocksize, pixels - i); k++) {
      if (width == widest) {
        put(random(), 8 * bytepix);
        continue;
      }
      const unsigned run = random() % 8 == 0 ? 50 + random() % 90 : random() % 4;
      for (unsigned z = 0; z < run; z++) put(0, 1);
      put(1, 1);
      put(random(), width);
    }
  }
  return stream;
}

}  // namespace

// Streams of every pixel size and block size, cut at every length, with
// bits flipped and blocks of widths no coder writes: the walk's verdict is
// that of a walk one bit at a time.
TEST(RiceStreamWalk, AgreesWithABitByBitWalk) {
  std::mt19937 random(4242);
  int fitting = 0, short_ones = 0;
  for (const int bytepix : {1, 2, 4})
    for (const long long blocksize : {1, 7, 32})
      for (int trial = 0; trial < 12; trial++) {
        const long long pixels = 1 + random() % 90;
        const bool odd_widths = bytepix == 4 && trial % 3 == 0;
        const std::vector<unsigned char> whole = rice_stream(random, pixels, blocksize, bytepix, odd_widths);
        if (!odd_widths) {
          EXPECT_TRUE(rice_stream_fits(whole.data(), whole.size(), pixels, blocksize, bytepix));
        }
        for (std::size_t size = 0; size <= whole.size(); size++) {
          std::vector<unsigned char> cut(whole.begin(), whole.begin() + size);
          if (size > 0 && trial % 2 == 1) cut[random() % size] ^= static_cast<unsigned char>(1u << random() % 8);
          for (const long long asked : {pixels, pixels + 1 + static_cast<long long>(random() % 40)}) {
            const bool expected = rice_fits_bit_by_bit(cut, asked, blocksize, bytepix);
            ASSERT_EQ(rice_stream_fits(cut.data(), cut.size(), asked, blocksize, bytepix), expected)
                << "bytepix " << bytepix << " blocksize " << blocksize << " trial " << trial << " size " << size
                << " of " << whole.size() << " pixels " << asked;
            (expected ? fitting : short_ones)++;
          }
        }
      }
  // Both verdicts met often, so that neither side can pass by always
  // giving one.
  EXPECT_GT(fitting, 500);
  EXPECT_GT(short_ones, 500);
}

namespace {

// An HCOMPRESS stream of an nx x ny image written by the library's
// compressor: noise of `range` about 1000, or full-range 32-bit values.
std::vector<unsigned char> hcompress_stream(std::mt19937& random, int nx, int ny, int scale, long long range) {
  std::vector<LONGLONG> pixels(static_cast<std::size_t>(nx) * ny);
  for (LONGLONG& pixel : pixels)
    pixel = range == 0 ? static_cast<LONGLONG>(static_cast<std::int32_t>(random())) : 1000 + random() % range;
  std::vector<char> out(pixels.size() * 16 + 1024);
  long bytes = static_cast<long>(out.size());
  int status = 0;
  fits_hcompress64(pixels.data(), ny, nx, scale, out.data(), &bytes, &status);
  EXPECT_EQ(status, 0);
  return std::vector<unsigned char>(out.begin(), out.begin() + (status == 0 ? bytes : 0));
}

}  // namespace

// Whether an HCOMPRESS stream gives bit planes to a quadrant of no
// coefficients, read from its header alone: the stream's nx x ny image is
// cut into quadrants of (nx+1)/2 or nx/2 by (ny+1)/2 or ny/2, the second
// and third taking the header's second count of planes, the fourth its
// third. Only an image 1 pixel wide or high has such quadrants.
bool planes_for_an_empty_quadrant(const std::vector<unsigned char>& stream) {
  const long long nx = big_endian(stream.data() + 2, 4), ny = big_endian(stream.data() + 6, 4);
  const int middle = stream[23], last = stream[24];
  return (nx / 2 == 0 || ny / 2 == 0) && (middle > 0 || last > 0);
}

// Every stream the library writes, lossless and lossy, of every shape from
// 1 pixel on: the decoder reads exactly the bytes written, so the walk ends
// on the last of them; cut short, the decoder would read past it. An image
// a pixel wide or high has empty quadrants, which the coder may give bit
// planes and code by a quadtree that the decoder writes past its buffer (no
// image writer makes HCOMPRESS tiles that thin): such a stream fits unless
// its header gives an empty quadrant planes, and then only if every one is
// coded directly.
TEST(HcompressStreamWalk, ReadsExactlyTheLibrarysStreams) {
  std::mt19937 random(57);
  hcompress_walker walker;
  int walked = 0, thin_fitting = 0, thin_refused = 0;
  for (const int nx : {1, 2, 3, 4, 5, 8, 17, 33, 64})
    for (const int ny : {1, 2, 3, 7, 16, 31, 40})
      for (const int scale : {0, 1, 4, 16})
        for (const long long range : {3LL, 65536LL, 0LL}) {
          const std::vector<unsigned char> stream = hcompress_stream(random, nx, ny, scale, range);
          if (stream.empty()) continue;
          long long read = -1;
          const hcompress_walker::verdict verdict = walker.walk(stream.data(), stream.size(), 64, &read);
          const bool thin = nx == 1 || ny == 1;
          if (verdict == hcompress_walker::verdict::empty_quadtree) {
            ASSERT_TRUE(thin) << nx << " x " << ny << " scale " << scale << " range " << range;
            ASSERT_TRUE(planes_for_an_empty_quadrant(stream)) << nx << " x " << ny << " scale " << scale;
            thin_refused++;
            continue;
          }
          ASSERT_EQ(verdict, hcompress_walker::verdict::fits)
              << nx << " x " << ny << " scale " << scale << " range " << range;
          thin_fitting += thin;
          EXPECT_EQ(read, static_cast<long long>(stream.size())) << nx << " x " << ny << " scale " << scale;
          // Cut anywhere in its body, in the copy's own buffer so that a
          // read past it shows under the sanitizers.
          std::vector<std::size_t> sizes = {stream.size() - 1};
          for (std::size_t size = 25; size + 1 < stream.size(); size += nx * ny > 256 ? 7 : 1) sizes.push_back(size);
          for (const std::size_t size : sizes) {
            const std::vector<unsigned char> cut(stream.begin(), stream.begin() + size);
            ASSERT_EQ(walker.walk(cut.data(), cut.size(), 64, &read), hcompress_walker::verdict::past_end)
                << nx << " x " << ny << " scale " << scale << " cut to " << size;
          }
          walked++;
        }
  EXPECT_GT(walked, 600);
  // Both kinds of thin streams are met, so that each assertion above is.
  EXPECT_GT(thin_fitting, 20);
  EXPECT_GT(thin_refused, 20);
}

// Codes the decoder cannot read, planes past its integers' width, empty
// quadrants coded by a quadtree, whatever the C library's smallest block.
TEST(HcompressStreamWalk, RefusesWhatTheDecoderWouldMisuse) {
  std::mt19937 random(3);
  hcompress_walker walker;
  long long read = 0;
  const std::vector<unsigned char> stream = hcompress_stream(random, 16, 16, 0, 65536);
  ASSERT_FALSE(stream.empty());
  // The first quadrant's first code, the top 4 bits of byte 25: 0 and 15
  // are the decoder's, 7 none.
  std::vector<unsigned char> bad_code = stream;
  bad_code[25] = static_cast<unsigned char>((bad_code[25] & 0x0F) | 0x70);
  EXPECT_EQ(walker.walk(bad_code.data(), bad_code.size(), 64, &read), hcompress_walker::verdict::reported);
  std::vector<unsigned char> many_planes = stream;
  many_planes[22] = 40;
  EXPECT_EQ(walker.walk(many_planes.data(), many_planes.size(), 32, &read),
            hcompress_walker::verdict::too_many_planes);
  // 40 planes suit 64-bit integers: the rest of the stream then reads wrong.
  EXPECT_NE(walker.walk(many_planes.data(), many_planes.size(), 64, &read), hcompress_walker::verdict::fits);
  // A 1 x 257 image: its empty quadrants' grids of 65 nybbles.
  const std::vector<unsigned char> thin = hcompress_stream(random, 1, 257, 0, 65536);
  ASSERT_FALSE(thin.empty());
  EXPECT_EQ(walker.walk(thin.data(), thin.size(), 64, &read), hcompress_walker::verdict::empty_quadtree);
  // Two pixels wide, no quadrant is empty.
  const std::vector<unsigned char> narrow = hcompress_stream(random, 2, 257, 0, 65536);
  ASSERT_FALSE(narrow.empty());
  EXPECT_EQ(walker.walk(narrow.data(), narrow.size(), 64, &read), hcompress_walker::verdict::fits);
  EXPECT_EQ(read, static_cast<long long>(narrow.size()));
}

// PLIO lists in both header forms, counted by hand: the new header's length
// is its fifth word times 32768 plus its fourth, a negative fifth word
// giving a length of 0 or less, which decodes to no pixel.
TEST(PlioListWalk, CountsPixelsAndStopsAtTheEnd) {
  // A length of 1 x 32768 + 5 words, one word more in the stream: 100 pixels
  // of the high value at its first instruction, one at its last, and none of
  // the 50 after its end.
  std::vector<int> long_list(32774, 0);
  long_list[1] = 7, long_list[2] = -100, long_list[3] = 5, long_list[4] = 1;
  long_list[7] = 0x4000 | 100, long_list[32772] = 0x7000, long_list[32773] = 0x4000 | 50;
  const struct {
    std::vector<int> words;
    long long pixels;
  } cases[] = {
      {{0, 0, 5, 10, 0x4000 | 20}, 30},                  // old header: zeros, then the high value
      {{0, 7, -100, 9, 0, 0, 0, 3, 0x7000}, 4},          // new header, instructions from word 7
      {{0, 7, -100, 5, -1}, 0},                          // a negative high word
      {{0, 7, -100, 5, 1}, -1},                          // 32773 words, past the list
      {{0, 0, 5, 10, 0x1000}, -1},                       // a new high value without its word
      {{0, 0, 6, 0x1000 | 5, 9, 0x5000 | 4}, 4},         // the high value set, then zeros and a pixel
      {{0, 0}, -1},                                      // no header
      {long_list, 101},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> bytes;
    for (const int word : c.words) {
      bytes.push_back(static_cast<unsigned char>((word >> 8) & 0xFF));
      bytes.push_back(static_cast<unsigned char>(word & 0xFF));
    }
    EXPECT_EQ(plio_list_pixels(bytes.data(), c.words.size()), c.pixels) << c.words.size() << " words";
  }
}
