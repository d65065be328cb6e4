// Compressed FITS inputs: our inflaters against files of the gzip, bzip2 and
// compress tools (independent encoders), honest compressed files read as the
// plain file, and files that inflate past what their headers describe
// refused, naming the file and the sizes, before the library inflates them.
#include "io/compressed_input.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image_test_tools.h"
#include "io/fits_io.h"
#include "support/death.h"
#include "support/tolerance.h"

using fits_test::card;
using fits_test::read_bytes;
using fits_test::scratch;
using fits_test::write_bytes;

namespace {

struct Tool {
  const char* program;
  const char* command;  // standard input to standard output
  compression kind;
  const char* suffix;
};

// compress -b 10 restarts its table often. (Its -b 9 writes files that no
// decoder reads back, its own included.)
const Tool kTools[] = {{"gzip", "gzip -9 -c", compression::gzip, ".gz"},
                       {"bzip2", "bzip2 -9 -c", compression::bzip2, ".bz2"},
                       {"compress", "compress -c -b 10", compression::unix_compress, ".Z"},
                       {"compress", "compress -c", compression::unix_compress, ".Z"}};

// The tool's compression of the file at path, beside it; empty when the tool
// is missing. compress ends with status 2 when it saves nothing.
std::string packed(const Tool& tool, const std::string& path) {
  if (!image_test::have_tool(tool.program)) return "";
  const std::string out = path + std::to_string(&tool - kTools) + tool.suffix;
  EXPECT_LE(image_test::run(std::string(tool.command) + " < '" + path + "' > '" + out + "'"), 2) << tool.command;
  return out;
}

std::string inflated(const std::string& path, compression kind, std::size_t piece) {
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  std::unique_ptr<inflater> in = open_inflater(stream, kind, path);
  std::string out;
  std::vector<unsigned char> buffer(piece);
  for (std::size_t n; (n = in->read(buffer.data(), piece)) > 0;) out.append(buffer.begin(), buffer.begin() + n);
  std::fclose(stream);
  return out;
}

std::string integer_card(const std::string& key, long long value) {
  const std::string text = std::to_string(value);
  return card(key + std::string(8 - key.size(), ' ') + "= " + std::string(20 - text.size(), ' ') + text);
}

// A BITPIX -32 image of 20 x 30 values: 2880 header and 2880 data bytes.
std::string image_bytes() {
  std::string bytes = card("SIMPLE  =                    T") + integer_card("BITPIX", -32) + integer_card("NAXIS", 2) +
                      integer_card("NAXIS1", 30) + integer_card("NAXIS2", 20) + card("END");
  bytes.resize(2880, ' ');
  for (int k = 0; k < 600; k++) bytes += std::string("\x3f\x80") + static_cast<char>(k) + '\0';
  bytes.resize(5760, '\0');
  return bytes;
}

}  // namespace

// Whatever the piece size, our inflaters give back the bytes each tool
// compressed: empty, one byte, runs, and text broken by noise, which fill
// and restart the LZW table at every width.
TEST(Inflaters, GiveBackWhatTheToolsCompressed) {
  std::mt19937 random(7);
  std::string mixed;
  while (mixed.size() < 700000) {
    for (int k = 0; k < 300; k++) mixed += "HISTORY the quick brown fox " + std::to_string(k % 17) + "\n";
    for (std::size_t k = random() % 30000; k > 0; k--) mixed.push_back(static_cast<char>(random()));
  }
  const std::string inputs[] = {"", "a", std::string(100000, '\0'), mixed};
  for (std::size_t i = 0; i < std::size(inputs); i++) {
    const std::string plain = scratch("plain" + std::to_string(i));
    write_bytes(plain, inputs[i]);
    for (const Tool& tool : kTools) {
      const std::string file = packed(tool, plain);
      if (file.empty()) continue;
      for (std::size_t piece : {inputs[i].size() < 200000 ? 1 : 4093, 1 << 16})
        EXPECT_TRUE(inflated(file, tool.kind, piece) == inputs[i]) << tool.command << ", input " << i << ", " << piece;
    }
  }
}

// .Z streams: codes wider than 16 bits, a first code that is no byte, and a
// code beyond the next free entry (9-bit codes from the lowest bit up: 97,
// then 400 where 257 is next).
TEST(InflatersDeath, DamagedUnixCompressDataAreRefusedNamingTheFile) {
  const std::pair<std::string, const char*> cases[] = {
      {"\x1f\x9d\x91", "codes wider than 16 bits or narrower than 9"},
      {std::string("\x1f\x9d\x90\x2c\x01", 5), "the first code is not a byte"},
      {std::string("\x1f\x9d\x90\x61\x20\x03", 6), "a code beyond the table"}};
  to_array<float, false> ima;
  fitsstruct rec;
  for (const auto& [bytes, reason] : cases) {
    const std::string file = scratch("damaged" + std::to_string(bytes.size()) + ".fits.Z");
    write_bytes(file, bytes);
    EXPECT_EXIT_STATUS(fits_read_float(file.c_str(), ima, &rec), 255, std::string("unix compress data are damaged: ") + reason +
                                                              " ... \\(" + file + "\\)");
  }
}

// An image followed by a table extension, compressed by each tool, reads to
// the bits of the plain file: the check follows every HDU.
TEST(CompressedFits, HonestFilesReadAsThePlainFile) {
  const std::string plain = scratch("honest.fits");
  write_bytes(plain, image_bytes());
  fitsfile* f = nullptr;
  int status = 0;
  ffopen(&f, plain.c_str(), READWRITE, &status);
  char* types[] = {const_cast<char*>("X")};
  char* forms[] = {const_cast<char*>("1E")};
  ffcrtb(f, BINARY_TBL, 3, 1, types, forms, nullptr, "T", &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0);
  to_array<float, false> expected, ima;
  fitsstruct rec;
  fits_read_float(plain.c_str(), expected, &rec);
  for (const Tool& tool : kTools) {
    const std::string file = packed(tool, plain);
    if (file.empty()) continue;
    fits_read_float(file.c_str(), ima, &rec);
    EXPECT_TRUE(qz_test::same_bits(ima, expected)) << tool.command;
  }
}

// Refused from the inflated stream alone, under a memory limit that the
// library's inflating would break: bytes past the last HDU, headers that
// describe more than the machine holds, or nothing, and no FITS at all.
TEST(CompressedFitsDeath, FilesInflatingPastTheirHeadersAreRefused) {
  std::string endless = card("SIMPLE  =                    T");
  endless.resize(10001 * 2880, ' ');
  const std::pair<std::string, const char*> cases[] = {
      {image_bytes() + std::string(size_t{64} << 20, '\0'), "past the 5760 bytes its FITS headers describe: 8640 bytes"},
      {image_bytes() + "junk", "past the 5760 bytes its FITS headers describe: 5764 bytes"},
      {card("SIMPLE  =                    T") + integer_card("BITPIX", -32) + integer_card("NAXIS", 3) +
           integer_card("NAXIS1", 30) + integer_card("NAXIS2", 20) + integer_card("NAXIS3", 3000000000) + card("END") +
           std::string(2320, ' '),
       "FITS headers of the .* file describe [0-9]+ MB once inflated, more than the [0-9]+ MB of memory"},
      {endless, "a FITS header of more than 360000 cards"},
      {card("SIMPLE  =                    T") + card("END") + std::string(2720, ' '),
       "does not say how many data bytes follow it"},
      {std::string(10000, 'x'), "holds no FITS file once inflated"}};
  to_array<float, false> ima;
  fitsstruct rec;
  for (std::size_t c = 0; c < std::size(cases); c++) {
    const std::string plain = scratch("bomb" + std::to_string(c) + ".fits");
    write_bytes(plain, cases[c].first);
    for (const Tool& tool : kTools) {
      const std::string file = packed(tool, plain);
      if (file.empty()) continue;
      EXPECT_EXIT_STATUS({ fits_test::limit_address_space_to_2gb(); fits_read_float(file.c_str(), ima, &rec); }, 255,
                         std::string(cases[c].second) + ".*" + file)
          << tool.command << ", case " << c;
    }
  }
}
