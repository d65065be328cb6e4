// Claimed image sizes: a tiny file whose header or name promises a huge
// image is refused, naming the file, before any memory is taken for it (a
// sanitizer build would abort on the allocation itself), while the densest
// stream a real encoder makes still reads.
#include "io/image_size.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "image_test_tools.h"
#include "io/fits_glue.h"
#include "io/fits_io.h"
#include "io/gif_io.h"
#include "io/pgm_io.h"
#include "support/death.h"

using image_test::read_bytes;
using image_test::scratch;
using image_test::write_bytes;

namespace {

// A primary header of a BITPIX -32 image of nl x nc pixels and no data.
std::string fits_header_only(long long nl, long long nc) {
  std::string text;
  auto value = [](const std::string& key, const std::string& v) {
    std::string card = key;
    card.resize(8, ' ');
    card += "= " + std::string(20 - v.size(), ' ') + v;
    return fits_test::card(card);
  };
  text += value("SIMPLE", "T") + value("BITPIX", "-32") + value("NAXIS", "2");
  text += value("NAXIS1", std::to_string(nc)) + value("NAXIS2", std::to_string(nl));
  text += fits_test::card("END");
  text.resize(2880, ' ');
  return text;
}

// A GIF89a of width x height pixels, no colour map, code size 2, and
// `data_bytes` bytes of code data in 255-byte sub-blocks.
std::string gif_claiming(int width, int height, int data_bytes) {
  auto word = [](int v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
  std::string gif = "GIF89a" + word(width) + word(height) + std::string("\x01\x00\x00", 3);
  gif += "\x2C" + word(0) + word(0) + word(width) + word(height) + std::string("\x00\x02", 2);
  for (int left = data_bytes; left > 0; left -= 255) {
    const int length = left < 255 ? left : 255;
    gif += static_cast<char>(length);
    gif += std::string(static_cast<std::size_t>(length), '\x55');
  }
  return gif + std::string("\x00\x3B", 2);
}

}  // namespace

TEST(ImageSize, PossibleSizes) {
  const struct {
    long long nl, nc, bytes_per_pixel;
    std::uint64_t memory;
    bool possible;
  } cases[] = {
      {512, 512, 4, 1ULL << 20, true},
      {46340, 46340, 4, 8589582399ULL, false},  // one byte short of 46340^2 floats
      {46340, 46340, 4, 8589582400ULL, true},
      {46341, 46341, 1, 0, false},              // beyond INT_MAX pixels
      {1LL << 32, 1LL << 32, 1, 0, false},      // the product would overflow 64 bits
      {1000, 1000, 8, 8000000, true},           // exactly the memory
      {1000, 1000, 8, 7999999, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(io_image_size_possible(c.nl, c.nc, c.bytes_per_pixel, c.memory), c.possible)
        << c.nl << " x " << c.nc << " x " << c.bytes_per_pixel << " in " << c.memory;
}

// 46340 x 46340 floats are 8.6 GB: a 2880-byte header, plain or gzip'ed to
// about a hundred bytes, cannot hold them.
TEST(ClaimedSize, FitsHeaderWithoutItsDataIsRefused) {
  const struct {
    long long nl, nc;
    const char* message;
  } claims[] = {{46340, 46340, "truncated: its header announces 8589582400 data bytes"},
                {65536, 65536, "too large"}};
  bool have_gzip = image_test::have_tool("gzip");
  int k = 0;
  for (const auto& claim : claims) {
    std::string plain = scratch("claim" + std::to_string(k++) + ".fits");
    write_bytes(plain, fits_header_only(claim.nl, claim.nc));
    std::vector<std::string> names = {plain};
    if (have_gzip && image_test::run("gzip -k -9 " + plain) == 0) names.push_back(plain + ".gz");
    for (const std::string& name : names) {
      const std::string expected = std::string(claim.message) + ".*" + name + "|" + name + ".*" + claim.message;
      to_array<float, false> ima;
      to_array<float, true> cube;
      fitsstruct header;
      EXPECT_EXIT_STATUS(fits_read_float(name.c_str(), ima, &header), 255, expected);
      EXPECT_EXIT_STATUS(fits_read_fltarr(name.c_str(), cube), 255, expected);
    }
    if (names.size() > 1) {
      EXPECT_LT(read_bytes(names[1]).size(), 200u);
    }
  }
  // Our own header reader on a pipe, which does not tell its length: the
  // data are gathered before the image, and found short.
  to_array<int, false> ints;
  fitsstruct record;
  const std::string piped = fits_header_only(20000, 20000) + std::string(100, '\0');
  EXPECT_EXIT_STATUS(
      {
        image_test::stdin_from_pipe(piped);
        fits_read_int("-", ints, &record, False);
      },
      255, "Error reading file -");
}

TEST(ClaimedSize, SmallGifClaimingAHugePictureIsRefused) {
  std::string huge = scratch("claim.gif");
  write_bytes(huge, gif_claiming(8000, 8000, 6000));
  to_array<float, false> ima;
  EXPECT_EXIT_STATUS(readgif(huge.c_str(), ima), 255,
                     "image larger than its data.*Error reading  file .*claim.gif");
}

// An allocation that fails names the file that asked for it. The address
// space is held to little more than the process uses, so the 9 MB of a
// 3000 x 3000 PGM cannot be had.
TEST(ClaimedSize, FailedAllocationNamesTheFile) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's allocator cannot run under an address-space limit";
#else
  std::string name = scratch("big.pgm");
  write_bytes(name, "P5\n3000 3000\n255\n" + std::string(9000000, '\x40'));
  to_array<float, false> ima;
  EXPECT_EXIT_STATUS(
      {
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) std::abort();
        std::fclose(statm);
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (4 << 20);
        setrlimit(RLIMIT_AS, &limit);
        readpgm(name.c_str(), ima);
      },
      255, "cannot allocate .*\\(" + name + "\\)");
#endif
}
