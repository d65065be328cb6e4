// Compressed FITS inputs: our inflaters against files made by the gzip,
// bzip2 and compress tools (independent encoders), honest compressed files
// read to the pixels of the plain file, and files that inflate past what
// their headers describe refused, naming the file, before the FITS library
// takes the memory.
#include "io/compressed_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "image_test_tools.h"
#include "io/fits_glue.h"
#include "io/fits_io.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

using fits_test::card;
using fits_test::read_bytes;
using fits_test::scratch;
using fits_test::write_bytes;

namespace {

struct Tool {
  const char* program;
  const char* command;  // compresses its standard input to its standard output
  compression kind;
  const char* suffix;
};

// compress -b sets the widest code: 10 fills and restarts the table often,
// 16 is the default. (Its -b 9 writes files that no decoder reads back,
// its own included.) It ends with status 2 when nothing was saved.
const Tool kTools[] = {
    {"gzip", "gzip -9 -c", compression::gzip, ".gz"},
    {"bzip2", "bzip2 -9 -c", compression::bzip2, ".bz2"},
    {"compress", "compress -c -b 10", compression::unix_compress, ".Z"},
    {"compress", "compress -c -b 13", compression::unix_compress, ".Z"},
    {"compress", "compress -c", compression::unix_compress, ".Z"},
};

// The tool's compression of the file at path, written beside it with the
// tool's suffix; empty when the tool is missing.
std::string compressed(const Tool& tool, const std::string& path, const std::string& stem) {
  if (!image_test::have_tool(tool.program)) return "";
  const std::string packed = scratch(stem + tool.suffix);
  const int status = image_test::run(std::string(tool.command) + " < '" + path + "' > '" + packed + "'");
  EXPECT_TRUE(status == 0 || (status == 2 && tool.kind == compression::unix_compress)) << tool.command;
  return packed;
}

std::string inflate_with_ours(const std::string& path, compression kind, std::size_t piece) {
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  EXPECT_NE(stream, nullptr) << path;
  if (stream == nullptr) return "";
  std::unique_ptr<inflater> in = open_inflater(stream, kind, path);
  std::string out;
  std::vector<unsigned char> buffer(piece);
  for (std::size_t n; (n = in->read(buffer.data(), piece)) > 0;) out.append(buffer.begin(), buffer.begin() + n);
  std::fclose(stream);
  return out;
}

// Repeated text, long runs and noise: every code width, the table's
// restarts and the code that names the entry being made.
std::string mixed_bytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes;
  while (bytes.size() < n) {
    switch (random() % 3) {
      case 0:
        for (int k = 0; k < 200; k++) bytes += "HISTORY the quick brown fox " + std::to_string(k % 17) + "\n";
        break;
      case 1: bytes.append(random() % 5000, static_cast<char>(random())); break;
      case 2:
        for (int k = 0; k < 20000; k++) bytes.push_back(static_cast<char>(random()));
        break;
    }
  }
  bytes.resize(n);
  return bytes;
}

std::string integer_card(const std::string& key, long long value) {
  const std::string text = std::to_string(value);
  return card(key + std::string(8 - key.size(), ' ') + "= " + std::string(20 - text.size(), ' ') + text);
}

// A plain FITS file holding a BITPIX -32 image of nl x nc values.
std::string fits_bytes(int nl, int nc) {
  std::string bytes = card("SIMPLE  =                    T") + integer_card("BITPIX", -32) + integer_card("NAXIS", 2) +
                      integer_card("NAXIS1", nc) + integer_card("NAXIS2", nl) + card("END");
  bytes.resize((bytes.size() + 2879) / 2880 * 2880, ' ');
  std::string data(static_cast<std::size_t>(nl) * nc * 4, '\0');
  for (std::size_t k = 0; k < data.size(); k += 4) {
    data[k] = 0x3f;
    data[k + 1] = static_cast<char>(k * 7);
  }
  data.resize((data.size() + 2879) / 2880 * 2880, '\0');
  return bytes + data;
}

}  // namespace

// Whatever the piece size asked for, our inflaters give back the exact bytes
// each tool compressed: empty, one byte, text and noise that fill and
// restart the LZW table at every width.
TEST(Inflaters, GiveBackWhatTheToolsCompressed) {
  const std::string inputs[] = {"", "a", std::string(100000, '\0'), mixed_bytes(700000, 7)};
  int tried = 0;
  for (std::size_t i = 0; i < std::size(inputs); i++) {
    const std::string plain = scratch("plain" + std::to_string(i));
    write_bytes(plain, inputs[i]);
    for (const Tool& tool : kTools) {
      const std::string packed = compressed(tool, plain, "packed" + std::to_string(i) + "_" + std::to_string(tried));
      if (packed.empty()) continue;
      tried++;
      for (std::size_t piece : {std::size_t{1}, std::size_t{4093}, std::size_t{1} << 16}) {
        if (piece == 1 && inputs[i].size() > 100000) continue;
        EXPECT_TRUE(inflate_with_ours(packed, tool.kind, piece) == inputs[i])
            << tool.command << " of input " << i << " read in pieces of " << piece;
      }
    }
  }
  if (tried == 0) GTEST_SKIP() << "none of gzip, bzip2 and compress is installed";
}

TEST(Inflaters, CodingsKnownByTheirFirstBytes) {
  const std::pair<std::string, compression> cases[] = {
      {"\x1f\x8b", compression::gzip},         {"\x1f\x9d", compression::unix_compress},
      {"BZh", compression::bzip2},             {"BZ", compression::bzip2},
      {"SIMPLE", compression::none},           {"\x1f", compression::none},
      {"\x1f\x1e", compression::none},         {"", compression::none},
  };
  for (const auto& [bytes, kind] : cases)
    EXPECT_EQ(compression_of(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()), kind) << bytes;
}

// Damaged compressed data are refused with the coding, the reason and the
// file, whichever reader opened it.
TEST(InflatersDeath, DamagedDataAreRefusedNamingTheFile) {
  const std::string image = fits_bytes(20, 30);
  const std::string plain = scratch("damaged_plain.fits");
  write_bytes(plain, image);
  std::vector<std::pair<std::string, std::string>> cases = {
      {"wide.fits.Z", "\x1f\x9d\x91"},  // codes of 17 bits
      // 9-bit codes from the lowest bit up: 300 first, then 97 and 400
      // (beyond the next free entry, 257).
      {"first.fits.Z", std::string("\x1f\x9d\x90\x2c\x01", 5)},
      {"beyond.fits.Z", std::string("\x1f\x9d\x90\x61\x20\x03", 6)},
  };
  const char* const messages[] = {"unix compress data are damaged: codes wider than 16 bits.*wide.fits.Z",
                                  "unix compress data are damaged: the first code is not a byte.*first.fits.Z",
                                  "unix compress data are damaged: a code beyond the table.*beyond.fits.Z"};
  for (std::size_t c = 0; c < cases.size(); c++) {
    write_bytes(scratch(cases[c].first), cases[c].second);
    EXPECT_EXIT_STATUS(check_compressed_input(scratch(cases[c].first)), 255, messages[c]) << cases[c].first;
  }
  // gzip checks its data at the end; bzip2 gives nothing before a whole block.
  const std::string gz = compressed(kTools[0], plain, "damaged");
  if (!gz.empty()) {
    std::string bytes = read_bytes(gz);
    bytes[bytes.size() - 8] = static_cast<char>(bytes[bytes.size() - 8] ^ 1);
    write_bytes(scratch("crc.fits.gz"), bytes);
    EXPECT_EXIT_STATUS(check_compressed_input(scratch("crc.fits.gz")), 255,
                       "gzip data are damaged: incorrect data check.*crc.fits.gz");
  }
  const std::string bz2 = compressed(kTools[1], plain, "damaged");
  if (!bz2.empty()) {
    const std::string bytes = read_bytes(bz2);
    write_bytes(scratch("cut.fits.bz2"), bytes.substr(0, bytes.size() / 2));
    EXPECT_EXIT_STATUS(check_compressed_input(scratch("cut.fits.bz2")), 255,
                       "bzip2 data are damaged: the file ends inside its compressed stream.*cut.fits.bz2");
  }
}

// Compressed files of honest size read to the pixels of the plain file: an
// image alone, an image followed by an extension, and an empty primary array
// whose image is in the first extension (the array reader's case).
TEST(CompressedFits, HonestFilesReadAsThePlainFile) {
  std::vector<float> values(30 * 41);
  for (std::size_t k = 0; k < values.size(); k++) values[k] = std::sin(0.37f * k) * 1e-18f;
  const std::string image = scratch("honest.fits"), with_table = scratch("table.fits"), in_extension = scratch("ext.fits");
  std::vector<double> stored(values.begin(), values.end());
  fits_test::write_reference(image, -32, {41, 30}, stored);
  write_bytes(with_table, read_bytes(image));
  {
    fitsfile* f = nullptr;
    int status = 0;
    ffopen(&f, with_table.c_str(), READWRITE, &status);
    char* types[] = {const_cast<char*>("X")};
    char* forms[] = {const_cast<char*>("1E")};
    ffcrtb(f, BINARY_TBL, 3, 1, types, forms, nullptr, "T", &status);
    ffclos(f, &status);
    ASSERT_EQ(status, 0);
    fitsfile* g = nullptr;
    std::remove(in_extension.c_str());
    ffinit(&g, in_extension.c_str(), &status);
    ffcrim(g, 8, 0, nullptr, &status);
    long axes[2] = {41, 30};
    ffcrim(g, -32, 2, axes, &status);
    ffppr(g, TDOUBLE, 1, static_cast<LONGLONG>(stored.size()), stored.data(), &status);
    ffclos(g, &status);
    ASSERT_EQ(status, 0);
  }
  to_array<float, false> expected, ima;
  fitsstruct rec;
  fits_read_float(image.c_str(), expected, &rec);
  int tried = 0;
  for (const Tool& tool : kTools) {
    const std::string tag = std::to_string(tried);
    const std::string packed_image = compressed(tool, image, "honest" + tag + ".fits");
    if (packed_image.empty()) continue;
    tried++;
    const std::string packed_table = compressed(tool, with_table, "table" + tag + ".fits");
    for (const std::string& packed : {packed_image, packed_table}) {
      fitsstruct header;
      fits_read_float(packed.c_str(), ima, &header);
      EXPECT_TRUE(qz_test::same_bits(ima, expected)) << tool.command << " " << packed;
    }
    to_array<float, true> cube;
    fits_read_fltarr(compressed(tool, in_extension, "ext" + tag + ".fits").c_str(), cube);
    EXPECT_EQ(pixels(cube), pixels(expected)) << tool.command;
  }
  if (tried == 0) GTEST_SKIP() << "none of gzip, bzip2 and compress is installed";
}

// A file that inflates past its HDUs, or whose headers describe more than
// the machine holds, or none at all, is refused from the inflated stream
// alone, under a memory limit that inflating it would break: the message
// names the file and the sizes.
TEST(CompressedFitsDeath, FilesInflatingPastTheirHeadersAreRefused) {
  const std::string image = fits_bytes(20, 30);  // 2880 + 2400 data bytes, padded to 5760
  std::string endless = card("SIMPLE  =                    T");
  endless.resize(10001 * 2880, ' ');
  const struct {
    const char* stem;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"zeros", image + std::string(size_t{64} << 20, '\0'), "past the 5760 bytes its FITS headers describe: 8640 bytes"},
      {"tail", image + "junk", "past the 5760 bytes its FITS headers describe: 5764 bytes"},
      {"vast",
       card("SIMPLE  =                    T") + integer_card("BITPIX", -64) + integer_card("NAXIS", 2) +
           integer_card("NAXIS1", 2000000) + integer_card("NAXIS2", 2000000) + card("END") + std::string(2400, ' '),
       "FITS headers of the .* file describe [0-9]+ MB once inflated, more than the [0-9]+ MB of memory"},
      {"endless", endless, "a FITS header of more than 360000 cards"},
      {"nobitpix", card("SIMPLE  =                    T") + card("NAXIS   =                    0") + card("END") +
                       std::string(2640, ' '), "does not say how many data bytes follow it"},
      {"text", std::string(10000, 'x'), "holds no FITS file once inflated"},
  };
  to_array<float, false> ima;
  fitsstruct rec;
  for (const auto& c : cases) {
    const std::string plain = scratch(std::string("bomb_") + c.stem);
    write_bytes(plain, c.bytes);
    for (const Tool& tool : kTools) {
      const std::string packed =
          compressed(tool, plain, std::string("bomb_") + c.stem + std::to_string(&tool - kTools) + ".fits");
      if (packed.empty()) continue;
      EXPECT_EXIT_STATUS({ fits_test::limit_address_space_to_2gb(); fits_read_float(packed.c_str(), ima, &rec); },
                         255, std::string(c.message) + ".*" + packed)
          << tool.command << " of " << c.stem;
    }
  }
}
