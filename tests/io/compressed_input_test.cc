// Compressed FITS inputs: our inflaters against files of the gzip, bzip2 and
// compress tools (independent encoders), honest compressed files read as the
// plain file (several members, zeros after the stream), and files that
// inflate past what their headers describe, cut short, or given under the
// wrong prefix refused, naming the file and the reason. The search for a
// name's file and its compressed siblings, made as the library makes it,
// past names that open no file, and never left to the library's open.
#include "io/compressed_input.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "array/vms.h"
#include "fits_test_files.h"
#include "image_test_tools.h"
#include "io/fits_glue.h"
#include "io/fits_io.h"
#include "support/death.h"
#include "support/tolerance.h"
#include "tile_table_layouts.h"

using fits_test::card;
using fits_test::read_bytes;
using fits_test::scratch;
using fits_test::write_bytes;

// A file replaced by another program between two opens of its name: the
// program's code is linked into this test, so its fopen calls come here
// first. Once armed, the first open of `target` moves `replacement` onto it
// right after the open, so that an open of the name after that finds the
// other file (or the first failed open, with once_missing).
namespace replaced_name {
std::string target, replacement;
// Moves `replacement` onto `target` after the first open of it that fails
// instead: a file that appears once a search has found none.
bool once_missing = false;

template <class Open>
std::FILE* open_then_replace(Open real, const char* path, const char* mode) {
  std::FILE* stream = real(path, mode);
  if ((stream == nullptr) == once_missing && !target.empty() && target == path) {
    target.clear();
    if (std::rename(replacement.c_str(), path) != 0) std::abort();
  }
  return stream;
}
}  // namespace replaced_name

extern "C" std::FILE* fopen(const char* path, const char* mode) {
  using Fopen = std::FILE* (*)(const char*, const char*);
  static const Fopen real = reinterpret_cast<Fopen>(dlsym(RTLD_NEXT, "fopen"));
  return replaced_name::open_then_replace(real, path, mode);
}

extern "C" std::FILE* fopen64(const char* path, const char* mode) {
  using Fopen = std::FILE* (*)(const char*, const char*);
  static const Fopen real = reinterpret_cast<Fopen>(dlsym(RTLD_NEXT, "fopen64"));
  return replaced_name::open_then_replace(real, path, mode);
}

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

// The tool's compression of the file at path, beside it; empty, the test
// failed, when the tool is missing. compress ends with status 2 when it
// saves nothing.
std::string packed(const Tool& tool, const std::string& path) {
  if (!image_test::have_tool(tool.program)) return "";
  const std::string out = path + "." + std::to_string(&tool - kTools) + tool.suffix;
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
    EXPECT_EXIT_STATUS(fits_read_float(file.c_str(), ima, &rec), 255,
                       std::string("unix compress data are damaged: ") + reason + " ... \\(" + file + "\\)");
  }
}

namespace {

using fits_test::stdin_through_pipe;

// For death-test children: at most `bytes` more address space than the
// process maps now, so that reading what follows an image, or allocating
// what a header announces before the data come, fails. Left off under the
// sanitizers, whose shadow memory needs terabytes of address space.
void limit_address_space_growth(long long bytes) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  long long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const rlim_t limit = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + bytes);
  const struct rlimit r = {limit, limit};
  setrlimit(RLIMIT_AS, &r);
#endif
}

// A two-HDU file: the image, then a second image of other values.
std::string two_image_bytes() {
  std::string second = image_bytes();
  second.replace(0, 80, card("XTENSION= 'IMAGE   '"));
  second.replace(5 * 80, 80, card("PCOUNT  =                    0"));
  second.replace(6 * 80, 80, card("GCOUNT  =                    1"));
  second.replace(7 * 80, 80, card("END"));
  for (std::size_t k = 2880 + 2; k < second.size(); k += 4) second[k] = static_cast<char>(~second[k]);
  return image_bytes() + second;
}

// A plain file holding `bytes` and its two images as the library reads
// them: the reference every compressed twin must match.
struct TwoImages {
  to_array<float, false> first;
  to_array<float, true> second;
};
TwoImages plain_images(const std::string& plain, const std::string& bytes) {
  write_bytes(plain, bytes);
  TwoImages images;
  fitsstruct rec;
  fits_read_float(plain.c_str(), images.first, &rec);
  fits_read_fltarr((plain + "[1]").c_str(), images.second);
  return images;
}

}  // namespace

// Compressed by each tool, under each name the library accepts (no suffix,
// its prefixes, an HDU selected) and with records after the last HDU, a file
// reads to the bits of the plain file: nothing past its HDUs is read.
TEST(CompressedFits, HonestFilesReadAsThePlainFile) {
  const std::pair<const char*, std::string> contents[] = {
      {"alone", two_image_bytes()},
      {"zero block", two_image_bytes() + std::string(2880, '\0')},
      {"junk", two_image_bytes() + "junk"},
      {"zeros", two_image_bytes() + std::string(size_t{16} << 20, '\0')}};
  for (const auto& [label, bytes] : contents) {
    const std::string plain = scratch("honest.fits");
    const TwoImages plain_read = plain_images(plain, bytes);
    const to_array<float, false>& expected = plain_read.first;
    const to_array<float, true>& expected_second = plain_read.second;
    to_array<float, false> ima;
    to_array<float, true> second;
    fitsstruct rec;
    ASSERT_FALSE(qz_test::same_bits(expected_second, to_array<float, true>(expected.nc(), expected.nl())));
    for (const Tool& tool : kTools) {
      const std::string file = packed(tool, plain);
      if (file.empty()) continue;
      const std::string bare = scratch("bare.fits");
      ASSERT_EQ(std::rename(file.c_str(), bare.c_str()), 0);
      for (const std::string& name : {bare, "compress://" + bare, "compressmem://" + bare, "file://" + bare}) {
        fits_read_float(name.c_str(), ima, &rec);
        EXPECT_TRUE(qz_test::same_bits(ima, expected)) << tool.command << ", " << label << ", " << name;
      }
      fits_read_fltarr((bare + "[1]").c_str(), second);
      EXPECT_TRUE(qz_test::same_bits(second, expected_second)) << tool.command << ", " << label << ", [1]";
      EXPECT_EXIT(
          {
            stdin_through_pipe(bare);
            fits_read_float("-", ima, &rec);
            std::exit(qz_test::same_bits(ima, expected) ? 0 : 3);
          },
          ::testing::ExitedWithCode(0), "")
          << tool.command << ", " << label << ", standard input";
    }
    EXPECT_EXIT(
        {
          stdin_through_pipe(plain);
          fits_read_float("-", ima, &rec);
          std::exit(qz_test::same_bits(ima, expected) ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "")
        << label << ", plain standard input";
  }
}

// The library reads a file in memory a whole record at a time: a last
// record cut inside its padding reads as if the padding were there, not
// past the end of the memory (which the address sanitizer would catch).
TEST(CompressedFits, LastRecordCutInItsPaddingReadsItsPixels) {
  const std::string full = scratch("full.fits"), cut = scratch("cut.fits");
  write_bytes(full, two_image_bytes());
  write_bytes(cut, two_image_bytes().substr(0, 2 * 5760 - 100));
  to_array<float, true> expected, second;
  fits_read_fltarr((full + "[1]").c_str(), expected);
  for (const Tool& tool : kTools) {
    const std::string file = packed(tool, cut);
    if (file.empty()) continue;
    fits_read_fltarr((file + "[1]").c_str(), second);
    EXPECT_TRUE(qz_test::same_bits(second, expected)) << tool.command;
  }
}

// 64 MB of zeros after a 20 x 30 image, by name, behind a prefix or on the
// standard input, read in 32 MB more address space than the process has; so
// is a header that announces 1.6 GB over 1 MB of data, refused as the plain
// file is: the memory grows with the data that come, not with the claim.
TEST(CompressedFitsDeath, MemoryFollowsTheDataNotWhatFollowsOrTheClaim) {
  const std::string plain = scratch("padded.fits");
  write_bytes(plain, image_bytes() + std::string(size_t{64} << 20, '\0'));
  to_array<float, false> expected, ima;
  fitsstruct rec;
  fits_read_float(plain.c_str(), expected, &rec);
  std::string claim = image_bytes().substr(0, 2880) + std::string(1 << 20, '\x01');
  claim.replace(3 * 80, 80, integer_card("NAXIS1", 20000));
  claim.replace(4 * 80, 80, integer_card("NAXIS2", 20000));
  const std::string claiming = scratch("claiming.fits");
  write_bytes(claiming, claim);
  const char* const refusal = "truncated: its header announces 1600000000 data bytes, it holds 1048576";
  for (const Tool& tool : kTools) {
    const std::string file = packed(tool, plain);
    if (file.empty()) continue;
    for (const std::string& name : {file, "compressmem://" + file, std::string("-")})
      EXPECT_EXIT(
          {
            if (name == "-") stdin_through_pipe(file);
            limit_address_space_growth(32 << 20);
            fits_read_float(name.c_str(), ima, &rec);
            std::exit(qz_test::same_bits(ima, expected) ? 0 : 3);
          },
          ::testing::ExitedWithCode(0), "")
          << tool.command << ", " << name;
    const std::string lying = packed(tool, claiming);
    for (const std::string& name : {lying, std::string("-")})
      EXPECT_EXIT_STATUS(
          {
            if (name == "-") stdin_through_pipe(lying);
            limit_address_space_growth(32 << 20);
            fits_read_float(name.c_str(), ima, &rec);
          },
          255, std::string(refusal) + ".*\\(" + (name == "-" ? "-" : lying) + "\\)")
          << tool.command << ", " << name;
  }
  EXPECT_EXIT_STATUS(
      {
        stdin_through_pipe(claiming);
        limit_address_space_growth(32 << 20);
        fits_read_float("-", ima, &rec);
      },
      255, std::string(refusal) + ".*\\(-\\)");
}

// Refused from the inflated stream alone, under a memory limit that the
// library's inflating would break: headers that describe more than the
// machine holds, or nothing, and no FITS at all.
TEST(CompressedFitsDeath, FilesInflatingPastTheirHeadersAreRefused) {
  std::string endless = card("SIMPLE  =                    T");
  endless.resize(10001 * 2880, ' ');
  const std::pair<std::string, const char*> cases[] = {
      {card("SIMPLE  =                    T") + integer_card("BITPIX", -32) + integer_card("NAXIS", 3) +
           integer_card("NAXIS1", 30) + integer_card("NAXIS2", 20) + integer_card("NAXIS3", 3000000000) + card("END") +
           std::string(2320, ' '),
       "FITS headers of the .* file describe [0-9]+ MB once inflated, more than the [0-9]+ MB of memory"},
      {endless, "ends inside its FITS header once inflated"},
      {card("SIMPLE  =                    T") + card("END") + std::string(2720, ' '),
       "the header of HDU \\[0\\] ends before its card 2, which the FITS library reads as BITPIX"},
      {image_bytes().substr(0, 2000), "ends inside its FITS header once inflated"},
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

// A header of blank cards that never ends, 160 MB once inflated from a
// gzip file of some 160 kB: the header is gathered a block at a time and
// refused, by name, where memory runs out, never taken in whole first.
// Under the sanitizers, which cannot limit memory, it is refused at its end.
TEST(CompressedFitsDeath, EndlessBlankHeadersAreRefusedWithinTheirMemory) {
  const std::string file = scratch("blanks.fits.gz");
  gzFile out = gzopen(file.c_str(), "wb1");
  ASSERT_NE(out, nullptr);
  const std::string first = card("SIMPLE  =                    T") + std::string(2800, ' ');
  ASSERT_EQ(gzwrite(out, first.data(), static_cast<unsigned>(first.size())), static_cast<int>(first.size()));
  const std::string blanks(1 << 20, ' ');
  for (int k = 0; k < 160; k++)
    ASSERT_EQ(gzwrite(out, blanks.data(), static_cast<unsigned>(blanks.size())), static_cast<int>(blanks.size()));
  ASSERT_EQ(gzclose(out), Z_OK);
  EXPECT_LT(read_bytes(file).size(), 1u << 20);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  const std::string refusal = "the (gzip file|standard input) ends inside its FITS header once inflated ... ";
#else
  const std::string refusal = "not enough memory for the [0-9]+ bytes read from the (gzip file|standard input) ... ";
#endif
  to_array<float, false> ima;
  fitsstruct rec;
  for (const std::string& name : {file, std::string("-")})
    EXPECT_EXIT_STATUS(
        {
          if (name == "-") stdin_through_pipe(file);
          limit_address_space_growth(64 << 20);
          fits_read_float(name.c_str(), ima, &rec);
        },
        255, "Error: " + refusal + "\\(" + name + "\\)")
        << name;
  std::remove(file.c_str());
}

// The standard input empty, or not FITS; a compressed file opened to be
// written in place, or named with a section the copy in memory would not
// apply: each refused, naming it, and the file left as it was.
TEST(CompressedFitsDeath, InputsThatCannotBeReadFromMemoryAreRefused) {
  const std::string plain = scratch("kept.fits");
  write_bytes(plain, image_bytes());
  const std::string empty = scratch("empty"), text = scratch("text");
  write_bytes(empty, "");
  write_bytes(text, std::string(5000, 'x'));
  to_array<float, false> ima, block(2, 2);
  fitsstruct rec;
  EXPECT_EXIT_STATUS({ stdin_through_pipe(empty); fits_read_float("-", ima, &rec); }, 255,
                     "the standard input is empty ... \\(-\\)");
  EXPECT_EXIT_STATUS({ stdin_through_pipe(text); fits_read_float("-", ima, &rec); }, 255,
                     "the standard input holds no FITS file ... \\(-\\)");
  const std::string file = packed(kTools[0], plain);
  if (file.empty()) return;
  const std::string before = read_bytes(file);
  EXPECT_EXIT_STATUS(fits_write_block(file.c_str(), block, 0, 0), 255,
                     "the gzip file cannot be written in place ... \\(" + file + "\\)");
  EXPECT_EXIT_STATUS(fits_read_float((file + "[1:2,1:2]").c_str(), ima, &rec), 255,
                     "cannot select a section or a filter ... \\(" + file + "\\)");
  EXPECT_EQ(read_bytes(file), before);
}

// Members (gzip) or streams (bzip2) one after the other read as the bytes
// they hold together, as gzip -d reads them: the cut falls inside the first
// image's data, and the second HDU lies wholly in the second member.
TEST(CompressedFits, MembersReadAsTheirConcatenation) {
  const std::string whole = two_image_bytes();
  const TwoImages plain_read = plain_images(scratch("members.fits"), whole);
  const to_array<float, false>& expected = plain_read.first;
  const to_array<float, true>& expected_second = plain_read.second;
  to_array<float, false> ima;
  to_array<float, true> second;
  fitsstruct rec;
  const std::string first_part = scratch("first_part"), second_part = scratch("second_part");
  write_bytes(first_part, whole.substr(0, 3000));
  write_bytes(second_part, whole.substr(3000));
  for (const Tool& tool : {kTools[0], kTools[1]}) {
    const std::string first = packed(tool, first_part), rest = packed(tool, second_part);
    if (first.empty()) continue;
    const std::string file = scratch("joined.fits" + std::string(tool.suffix));
    write_bytes(file, read_bytes(first) + read_bytes(rest));
    fits_read_float(file.c_str(), ima, &rec);
    EXPECT_TRUE(qz_test::same_bits(ima, expected)) << tool.command;
    fits_read_fltarr((file + "[1]").c_str(), second);
    EXPECT_TRUE(qz_test::same_bits(second, expected_second)) << tool.command;
  }
}

// A plain header past 10,000 blocks reads from a gzip or bzip2 file and
// from the standard input as from the plain file: its blocks take the
// memory they fill, and no more.
TEST(CompressedFits, HeadersPastTenThousandBlocksReadAsThePlainFile) {
  const std::string image = image_bytes();
  std::string header = image.substr(0, 5 * 80);
  for (int k = 0; k < 10000 * 36; k++) header += card("COMMENT " + std::to_string(k));
  header += card("END");
  header.resize((header.size() + 2879) / 2880 * 2880, ' ');
  ASSERT_GT(header.size(), 10000u * 2880);
  const std::string plain = scratch("long_header.fits");
  write_bytes(plain, header + image.substr(2880));
  to_array<float, false> expected, ima;
  fitsstruct rec;
  fits_read_float(plain.c_str(), expected, &rec);
  ASSERT_EQ(expected.n_elem(), 600);
  std::string gzipped;
  for (const Tool& tool : {kTools[0], kTools[1]}) {
    const std::string file = packed(tool, plain);
    if (file.empty()) continue;
    if (tool.kind == compression::gzip) gzipped = file;
    fits_read_float(file.c_str(), ima, &rec);
    EXPECT_TRUE(qz_test::same_bits(ima, expected)) << tool.command;
  }
  // The standard input gets the gzip file, read the same way once inflated.
  if (gzipped.empty()) return;
  EXPECT_EXIT(
      {
        stdin_through_pipe(gzipped);
        fits_read_float("-", ima, &rec);
        std::exit(qz_test::same_bits(ima, expected) ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}


// The compressed file is read 64 KiB at a time: a second member whose two
// first bytes fall on either side of such a read (the first at byte 65535)
// is still known as a member, and the file reads as the plain one.
TEST(CompressedFits, AMemberWhoseFirstBytesStraddleAReadIsRead) {
  const int side = 140;  // 78400 data bytes: the cut falls inside the data
  std::string whole = card("SIMPLE  =                    T") + integer_card("BITPIX", -32) + integer_card("NAXIS", 2) +
                      integer_card("NAXIS1", side) + integer_card("NAXIS2", side) + card("END");
  whole.resize(2880, ' ');
  std::mt19937 random(11);
  for (int k = 0; k < side * side; k++) {
    const char pixel[4] = {'\x42', static_cast<char>(random() % 128), '\x10', '\0'};
    whole.append(pixel, 4);
  }
  whole.resize((whole.size() + 2879) / 2880 * 2880, '\0');
  const std::string plain = scratch("straddle.fits");
  write_bytes(plain, whole);
  to_array<float, false> expected, ima;
  fitsstruct rec;
  fits_read_float(plain.c_str(), expected, &rec);

  // A stored first member of exactly 65535 bytes: each byte more in it is
  // one byte more of member.
  const std::size_t kRead = 65536;
  std::size_t cut = kRead - 1;
  std::string first = fits_test::gzip_member(whole.substr(0, cut), 0);
  while (first.size() > kRead - 1 && cut > 0) first = fits_test::gzip_member(whole.substr(0, --cut), 0);
  ASSERT_EQ(first.size(), kRead - 1);
  const std::string file = scratch("straddle.fits.gz");
  write_bytes(file, first + fits_test::gzip_member(whole.substr(cut), 9));
  const std::string bytes = read_bytes(file);
  ASSERT_EQ(bytes.substr(kRead - 1, 2), "\x1f\x8b");
  fits_read_float(file.c_str(), ima, &rec);
  EXPECT_TRUE(qz_test::same_bits(ima, expected));
}

// Zeros after the gzip stream, which gzip -d ignores, are ignored: the
// file reads as the plain one, though its last four bytes are zeros.
TEST(CompressedFits, ZerosAfterTheStreamAreIgnored) {
  const std::string plain = scratch("zero_tail.fits");
  write_bytes(plain, image_bytes());
  to_array<float, false> expected, ima;
  fitsstruct rec;
  fits_read_float(plain.c_str(), expected, &rec);
  for (const Tool& tool : {kTools[0], kTools[1]}) {
    const std::string file = packed(tool, plain);
    if (file.empty()) continue;
    for (std::size_t zeros : {std::size_t{1}, std::size_t{20000}}) {
      write_bytes(file + ".tail", read_bytes(file) + std::string(zeros, '\0'));
      fits_read_float((file + ".tail").c_str(), ima, &rec);
      EXPECT_TRUE(qz_test::same_bits(ima, expected)) << tool.command << ", " << zeros;
    }
  }
}

// A stream cut short, as by an interrupted download, is named as such, by
// name and on the standard input, whatever its last bytes would claim.
TEST(CompressedFitsDeath, StreamCutShortEndsInsideItsCompressedStream) {
  std::mt19937 random(3);
  std::string bytes = image_bytes();
  for (std::size_t k = 2880; k < bytes.size(); k++) bytes[k] = static_cast<char>(random());
  const std::string plain = scratch("download.fits");
  write_bytes(plain, bytes);
  to_array<float, false> ima;
  fitsstruct rec;
  for (const Tool& tool : {kTools[0], kTools[1]}) {
    const std::string file = packed(tool, plain);
    if (file.empty()) continue;
    const std::string whole = read_bytes(file);
    const std::string cut = file + ".part";
    write_bytes(cut, whole.substr(0, whole.size() * 2 / 3));
    const std::string expected = std::string("the ") + tool.program + " data are damaged: the file ends inside its "
                                 "compressed stream ... ";
    EXPECT_EXIT_STATUS(fits_read_float(cut.c_str(), ima, &rec), 255, expected + "\\(" + cut + "\\)") << tool.command;
    EXPECT_EXIT_STATUS({ stdin_through_pipe(cut); fits_read_float("-", ima, &rec); }, 255, expected + "\\(-\\)")
        << tool.command;
  }
}

// A plain file behind a prefix that reads compressed data only, and a
// folder on the standard input, are named for what they are.
TEST(CompressedFitsDeath, PlainFileBehindACompressedPrefixAndAFolderOnStandardInput) {
  const std::string plain = scratch("not_packed.fits");
  write_bytes(plain, image_bytes());
  to_array<float, false> ima;
  fitsstruct rec;
  for (const std::string prefix : {"compress://", "compressmem://", "mem://"})
    EXPECT_EXIT_STATUS(fits_read_float((prefix + plain).c_str(), ima, &rec), 255,
                       "Error: the file is not gzip, bzip2 or unix compress data, which the prefix " + prefix +
                           " reads: name it without the prefix ... \\(" + plain + "\\)")
        << prefix;
  fits_read_float(("file://" + plain).c_str(), ima, &rec);  // a prefix that takes any file
  EXPECT_EQ(ima.n_elem(), 600);
  const std::string folder = scratch("a_folder");
  mkdir(folder.c_str(), 0700);
  EXPECT_EXIT_STATUS(
      {
        const int dir = open(folder.c_str(), O_RDONLY);
        dup2(dir, fileno(stdin));
        fits_read_float("-", ima, &rec);
      },
      255, "Error: the standard input is a folder, not a FITS file ... \\(-\\)");
}

// zlib and libbz2 count in 32 bits: a read asked for 2^32 bytes or more
// gives what the stream holds and no more (the buffer has room for that
// alone, so a write past it would show under the address checker).
TEST(Inflaters, ReadsOfFourGigabytesOrMoreGiveWhatTheStreamHolds) {
  const std::string content = "SIMPLE" + std::string(5000, 'x');
  const std::string plain = scratch("small_stream");
  write_bytes(plain, content);
  for (const Tool& tool : kTools) {
    const std::string file = packed(tool, plain);
    if (file.empty()) continue;
    for (std::size_t asked : {std::size_t{1} << 32, (std::size_t{1} << 32) + 7, std::size_t{3} << 32}) {
      std::FILE* stream = std::fopen(file.c_str(), "rb");
      std::unique_ptr<inflater> in = open_inflater(stream, tool.kind, file);
      std::vector<unsigned char> out(content.size());
      const std::size_t got = in->read(out.data(), asked);
      EXPECT_EQ(got, content.size()) << tool.command << ", " << asked;
      EXPECT_EQ(std::string(out.begin(), out.end()), content) << tool.command << ", " << asked;
      EXPECT_EQ(in->read(out.data(), asked), 0u) << tool.command << ", " << asked;
      std::fclose(stream);
    }
  }
}

// Compressed inputs opened and closed on several threads at once each read
// their own pixels: a file opened just as another closes may get the
// library record's address, and must keep its memory all the same.
TEST(CompressedFits, ThreadsOpeningAndClosingKeepTheirOwnMemory) {
  const std::string first = scratch("thread_a.fits"), second = scratch("thread_b.fits");
  write_bytes(first, image_bytes());
  write_bytes(second, two_image_bytes().substr(5760));  // the other values, as a primary image
  std::string primary = read_bytes(second);
  primary.replace(0, 80, card("SIMPLE  =                    T"));
  primary.replace(5 * 80, 2 * 80, card("") + card(""));  // PCOUNT and GCOUNT out
  write_bytes(second, primary);
  to_array<float, false> expected[2];
  fitsstruct rec;
  fits_read_float(first.c_str(), expected[0], &rec);
  fits_read_float(second.c_str(), expected[1], &rec);
  ASSERT_FALSE(qz_test::same_bits(expected[0], expected[1]));
  const std::string files[2] = {packed(kTools[0], first), packed(kTools[0], second)};
  if (files[0].empty()) return;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([&, t] {
      for (int k = 0; k < 100; k++) {
        const int which = (t + k) % 2;
        to_array<float, false> ima;
        fitsstruct header;
        fits_read_float(files[which].c_str(), ima, &header);
        if (!qz_test::same_bits(ima, expected[which])) wrong++;
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

// The library reads the very file opened and recorded as read, though its
// name leads to another file by the time the library opens it: a plain
// file is handed to the library through its descriptor, not its name.
TEST(CompressedFits, TheFileReadIsTheOneOpenedThoughItsNameIsReplacedMeanwhile) {
  const std::string opened = scratch("opened.fits"), replacement = scratch("replacement.fits");
  std::string other = two_image_bytes().substr(5760);
  other.replace(0, 80, card("SIMPLE  =                    T"));
  other.replace(5 * 80, 2 * 80, card("") + card(""));  // PCOUNT and GCOUNT out
  // The file's two images in the other order.
  other += two_image_bytes().substr(5760, 2880) + image_bytes().substr(2880);
  write_bytes(opened, two_image_bytes());
  write_bytes(replacement, other);
  fitsstruct rec;
  for (const std::string selector : {"", "[1]"}) {
    to_array<float, false> expected, replaced, ima;
    fits_read_float((opened + selector).c_str(), expected, &rec);
    fits_read_float((replacement + selector).c_str(), replaced, &rec);
    ASSERT_FALSE(qz_test::same_bits(expected, replaced)) << selector;
    replaced_name::target = opened;
    replaced_name::replacement = replacement;
    fits_read_float((opened + selector).c_str(), ima, &rec);
    ASSERT_TRUE(replaced_name::target.empty()) << "the name was never opened" << selector;
    ASSERT_EQ(read_bytes(opened), other) << selector;
    EXPECT_TRUE(qz_test::same_bits(ima, expected)) << selector;
    write_bytes(opened, two_image_bytes());
    write_bytes(replacement, other);
  }
}
// An update writes the very file the checks read, though its name leads to
// another by the time the library opens it: the file is handed to the
// library through its descriptor, not its name.
TEST(CompressedFits, TheFileWrittenInPlaceIsTheOneOpenedThoughItsNameIsReplacedMeanwhile) {
  const std::string opened = scratch("updated.fits"), kept = scratch("updated_link.fits"),
                    replacement = scratch("updated_other.fits");
  write_bytes(opened, two_image_bytes());
  write_bytes(replacement, two_image_bytes());
  ASSERT_EQ(link(opened.c_str(), kept.c_str()), 0);
  to_array<float, false> block(2, 2);
  for (int k = 0; k < block.n_elem(); k++) block(k) = 7.f;
  replaced_name::target = opened;
  replaced_name::replacement = replacement;
  fits_write_block(opened.c_str(), block, 0, 0);
  ASSERT_TRUE(replaced_name::target.empty()) << "the name was never opened";
  EXPECT_TRUE(read_bytes(opened) == two_image_bytes()) << "the file now at the name was written";
  to_array<float, false> written;
  fitsstruct rec;
  fits_read_float(kept.c_str(), written, &rec);
  EXPECT_EQ(written(0), 7.f);
  EXPECT_EQ(written(written.nc() + 1), 7.f);
}

namespace {

// A square BITPIX -32 image of `side` x `side` values that differ, padded.
std::string square_image_bytes(int side) {
  std::string bytes = card("SIMPLE  =                    T") + integer_card("BITPIX", -32) + integer_card("NAXIS", 2) +
                      integer_card("NAXIS1", side) + integer_card("NAXIS2", side) + card("END");
  bytes.resize(2880, ' ');
  for (int k = 0; k < side * side; k++) {
    const char pixel[4] = {'\x42', static_cast<char>(k % 128), static_cast<char>(k / 128), '\0'};
    bytes.append(pixel, 4);
  }
  bytes.resize((bytes.size() + 2879) / 2880 * 2880, '\0');
  return bytes;
}

// Writes bytes into the named pipe at path, as a program at its other end
// would: the open waits for a reader, and a reader that has gone ends the
// writing.
std::thread pipe_writer(const std::string& path, const std::string& bytes) {
  return std::thread([path, bytes] {
    const int pipe = open(path.c_str(), O_WRONLY);
    if (pipe < 0) return;
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t written = write(pipe, bytes.data() + at, bytes.size() - at);
      if (written <= 0) break;
      at += static_cast<std::size_t>(written);
    }
    close(pipe);
  });
}

}  // namespace

// A selector past the last HDU of the standard input lists the HDUs it
// holds, as for a file; one cut short (a partial download, in the data of
// the last HDU or in the header of the next, even in its first bytes) says
// so, read from the standard input or from a compressed file.
TEST(CompressedFitsDeath, AMissingHduOfAStreamIsListedOrTheStreamSaidCutShort) {
  const std::string whole = two_image_bytes();
  // The second image's 2400 data bytes begin at 8640.
  const std::string list = "has no such HDU: it holds \\[0\\] to \\[1\\]\\)";
  const std::string data_cut =
      "is truncated: it holds 1000 of the 2400 data bytes that the header of HDU \\[1\\] announces\\)";
  const std::string header_cut = "is truncated: it ends inside the header of HDU \\[1\\]\\)";
  const struct {
    const char* label;
    std::string bytes;
    const char* name;
    std::string message;
  } cases[] = {
      {"whole", whole, "-.fits[5]", "\\(-.fits\\[5\\]: the standard input " + list},
      {"whole, by name", whole, "-.fits[SCI]", "\\(-.fits\\[SCI\\]: the standard input " + list},
      {"whole and zero padded", whole + std::string(2880, '\0'), "-.fits[2]", "the standard input " + list},
      {"data cut", whole.substr(0, 8640 + 1000), "-.fits[2]", "the standard input " + data_cut},
      {"header cut", whole.substr(0, 5760 + 100), "-.fits[1]", "the standard input " + header_cut},
      {"header cut in its first card", whole.substr(0, 5760 + 3), "-.fits[1]", "the standard input " + header_cut},
  };
  to_array<float, false> ima;
  fitsstruct rec;
  for (const auto& c : cases) {
    const std::string file = scratch("stream.fits");
    write_bytes(file, c.bytes);
    EXPECT_EXIT(
        {
          QZ_STDOUT_TO_STDERR();
          stdin_through_pipe(file);
          fits_read_float(c.name, ima, &rec);
        },
        [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; }, c.message)
        << c.label;
  }
  write_bytes(scratch("cutz.fits"), whole.substr(0, 5760 + 100));
  const std::string gzipped = packed(kTools[0], scratch("cutz.fits"));
  if (gzipped.empty()) return;
  EXPECT_EXIT(
      {
        QZ_STDOUT_TO_STDERR();
        fits_read_float((gzipped + "[1]").c_str(), ima, &rec);
      },
      [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; },
      "\\(" + gzipped + "\\[1\\]: " + gzipped + " " + header_cut);
}

// A named pipe is read once, as the standard input is: small or larger than
// the pipe's buffer, plain or compressed, an HDU selected or not, it reads
// as the plain file. The library would open it twice and wait for ever for
// a writer that has gone, or fail to seek in it. Each read is made in a
// child bounded by an alarm, so that a hang fails instead of stalling.
TEST(CompressedFits, NamedPipesAreReadOnce) {
  const std::string plain = scratch("piped_plain.fits"), pipe = scratch("piped.fits");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const struct {
    const char* label;
    std::string bytes;
    const char* selector;
  } cases[] = {{"small", two_image_bytes(), ""}, {"small", two_image_bytes(), "[1]"},
               {"large", square_image_bytes(300), ""}};
  for (const auto& c : cases) {
    write_bytes(plain, c.bytes);
    to_array<float, false> expected, ima;
    fitsstruct rec;
    fits_read_float((plain + c.selector).c_str(), expected, &rec);
    std::vector<std::string> sent = {c.bytes};
    if (const std::string file = packed(kTools[0], plain); !file.empty()) sent.push_back(read_bytes(file));
    for (const std::string& data : sent)
      EXPECT_EXIT(
          {
            signal_catch(SIGPIPE, SIG_IGN);
            alarm(60);
            std::thread writer = pipe_writer(pipe, data);
            fits_read_float((pipe + c.selector).c_str(), ima, &rec);
            writer.join();
            std::exit(qz_test::same_bits(ima, expected) ? 0 : 3);
          },
          ::testing::ExitedWithCode(0), "")
          << c.label << c.selector << (&data != &sent[0] ? ", gzip" : "");
  }
}

// A selector past the last HDU of a named pipe, named as itself or found as
// a compressed sibling of the name, is refused with the HDUs it holds, as
// read once: the pipe is not opened again to list them, which would wait
// for ever for a writer that has gone.
TEST(CompressedFits, AMissingHduOfANamedPipeIsRefusedWithoutASecondOpen) {
  const std::string plain = scratch("late_plain.fits");
  write_bytes(plain, two_image_bytes());
  const std::string gzipped = packed(kTools[0], plain);
  const struct {
    const char* pipe;
    std::string bytes;
  } cases[] = {{"late.fits", two_image_bytes()},
               {"later.fits.gz", gzipped.empty() ? std::string() : read_bytes(gzipped)}};
  for (const auto& c : cases) {
    if (c.bytes.empty()) continue;
    const std::string pipe = scratch(c.pipe);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string name = pipe.substr(0, pipe.find(".fits") + 5) + "[3]";
    to_array<float, false> ima;
    fitsstruct rec;
    EXPECT_EXIT(
        {
          signal_catch(SIGPIPE, SIG_IGN);
          alarm(20);
          dup2(STDERR_FILENO, STDOUT_FILENO);  // where the refusal is printed
          std::thread writer = pipe_writer(pipe, c.bytes);
          writer.detach();
          fits_read_float(name.c_str(), ima, &rec);
        },
        [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; },
        "cannot open file \\(" + name.substr(0, name.size() - 3) + "\\[3\\]: " + name.substr(0, name.size() - 3) +
            " has no such HDU: it holds \\[0\\] to \\[1\\]\\)")
        << c.pipe;
    std::remove(pipe.c_str());
  }
}

// The machine's memory as the program reads it, made as small as a test
// asks: the program's code is linked into this test, so its sysconf calls
// come here first.
namespace small_memory {
long pages = 0;
}  // namespace small_memory

// glibc's own entry, called directly: a lookup of the next sysconf
// (dlsym) allocates, and a sanitizer's runtime asks sysconf before its
// allocator is up. Uninstrumented for the same reason: the thread
// sanitizer's runtime calls it before the runtime can trace a call.
extern "C" long __sysconf(int name);

#if defined(__has_attribute)
#if __has_attribute(disable_sanitizer_instrumentation)
#define QZ_BEFORE_SANITIZERS __attribute__((disable_sanitizer_instrumentation))
#endif
#endif
#ifndef QZ_BEFORE_SANITIZERS
#define QZ_BEFORE_SANITIZERS
#endif

extern "C" QZ_BEFORE_SANITIZERS long sysconf(int name) noexcept {
  if (name == _SC_PHYS_PAGES && small_memory::pages > 0) return small_memory::pages;
  return __sysconf(name);
}

namespace {

// The two images, the second named SCI.
std::string named_image_bytes() {
  std::string bytes = two_image_bytes();
  bytes.replace(5760 + 7 * 80, 160, card("EXTNAME = 'SCI'") + card("END"));
  return bytes;
}

bool failed(int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; }

}  // namespace

// A search by name with the library's "#", in a gzip file or on the
// standard input, where the program takes the HDUs in turn itself: a name
// no HDU gives is no such HDU, never the last HDU read; one that an HDU
// gives lands there, as in the plain file.
TEST(CompressedFitsDeath, ANameSearchThatMatchesNothingFindsNoHdu) {
  const std::string plain = scratch("sci.fits");
  write_bytes(plain, named_image_bytes());
  const std::string gzipped = packed(kTools[0], plain);
  if (gzipped.empty()) return;
  to_array<float, false> second, ima;
  fitsstruct rec;
  fits_read_float((plain + "[1]").c_str(), second, &rec);
  for (const char* selector : {"[SCI#]", "[sci,1#]"}) {
    fits_read_float((gzipped + selector).c_str(), ima, &rec);
    EXPECT_TRUE(qz_test::same_bits(ima, second)) << selector;
  }
  const std::string list = " has no such HDU: it holds \\[0\\], \\[1\\] SCI\\)";
  for (const char* selector : {"[FOO#]", "[SCI,2#]", "[SCI##]"})
    EXPECT_EXIT(
        {
          QZ_STDOUT_TO_STDERR();
          fits_read_float((gzipped + selector).c_str(), ima, &rec);
        },
        failed, "\\(" + gzipped + "\\[.*\\]: " + gzipped + list)
        << selector;
  for (const std::string& sent : {plain, gzipped})
    EXPECT_EXIT(
        {
          QZ_STDOUT_TO_STDERR();
          stdin_through_pipe(sent);
          fits_read_float("-.fits[NONE#]", ima, &rec);
        },
        failed, "\\(-.fits\\[NONE#\\]: the standard input" + list)
        << sent;
}

// A search typed for an image passes a table of the same name before it, as
// the library's does, and lands on the compressed image after it: from the
// file, a gzip file and the standard input, the pixels the library reads.
TEST(CompressedFits, ATypedSearchPassesATableOfTheSameName) {
  std::vector<double> values(8 * 6);
  for (std::size_t k = 0; k < values.size(); k++) values[k] = static_cast<double>(k * 37 % 101);
  fits_test::Hdu table, image{SHORT_IMG, {8, 6}, values, "SCI"};
  table.table = true;
  table.extname = "SCI";
  image.compressed = true;
  const std::string plain = scratch("typed.fits");
  fits_test::write_hdus(plain, {fits_test::Hdu{}, table, image});
  const fits_test::Reference library = fits_test::read_reference(plain + "[SCI,1,IMAGE]");
  ASSERT_EQ(library.values, values);
  std::vector<std::string> names = {plain + "[SCI,1,IMAGE]"};
  const std::string gzipped = packed(kTools[0], plain);
  if (!gzipped.empty()) names.push_back(gzipped + "[SCI,1,IMAGE]");
  for (const std::string& name : names)
    EXPECT_EQ(fits_test::read_program(name), std::vector<float>(values.begin(), values.end())) << name;
  EXPECT_EXIT(
      {
        stdin_through_pipe(plain);
        const std::vector<float> pixels = fits_test::read_program("-.fits[SCI,1,IMAGE]");
        std::exit(pixels == std::vector<float>(values.begin(), values.end()) ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

// Headers are held to the machine's memory as their blocks are gathered,
// summed over the HDUs: a primary HDU and the header after it, which the
// stream ends inside, each fit the memory, but not together. From a gzip
// file and the standard input, the header is refused as it is gathered;
// after an empty primary HDU, it is the file cut short that is reported.
TEST(CompressedFitsDeath, HeadersGatheredPastTheMemoryOverTheHdusAreRefused) {
  const long page = sysconf(_SC_PAGESIZE);
  // 60 blocks of memory: 41 for the primary HDU, 25 for the header after it.
  const long pages = 60 * 2880 / page;
  std::string primary = card("SIMPLE  =                    T") + integer_card("BITPIX", 8) + integer_card("NAXIS", 1) +
                        integer_card("NAXIS1", 40 * 2880) + card("END");
  primary.resize(41 * 2880, ' ');
  std::string unended = card("XTENSION= 'IMAGE   '") + integer_card("BITPIX", -32) + integer_card("NAXIS", 2) +
                        integer_card("NAXIS1", 30) + integer_card("NAXIS2", 20) + integer_card("PCOUNT", 0) +
                        integer_card("GCOUNT", 1);
  while (unended.size() < 25 * 2880) unended += card("COMMENT a long history");
  const std::string empty_primary = card("SIMPLE  =                    T") + integer_card("BITPIX", 8) +
                                    integer_card("NAXIS", 0) + card("END") + std::string(2880 - 4 * 80, ' ');
  const std::string both = scratch("long.fits"), alone = scratch("alone.fits");
  write_bytes(both, primary + unended);
  write_bytes(alone, empty_primary + unended);
  const std::string gzipped = packed(kTools[0], both), gzipped_alone = packed(kTools[0], alone);
  if (gzipped.empty()) return;
  const std::string refusal = "the FITS headers of .* describe 0 MB( once inflated)?, more than the 0 MB of memory";
  to_array<float, false> ima;
  fitsstruct rec;
  EXPECT_EXIT_STATUS(
      {
        small_memory::pages = pages;
        fits_read_float((gzipped + "[1]").c_str(), ima, &rec);
      },
      255, "the gzip file describe .*" + gzipped);
  EXPECT_EXIT_STATUS(
      {
        small_memory::pages = pages;
        stdin_through_pipe(both);
        fits_read_float("-.fits[1]", ima, &rec);
      },
      255, refusal + ".*\\(-.fits\\[1\\]\\)");
  EXPECT_EXIT(
      {
        QZ_STDOUT_TO_STDERR();
        small_memory::pages = pages;
        fits_read_float((gzipped_alone + "[1]").c_str(), ima, &rec);
      },
      failed, gzipped_alone + " is truncated: it ends inside the header of HDU \\[1\\]");
}

namespace {

// A Rice image whose ZTILE2 is 0, after an empty primary HDU: the library's
// decoder would divide by it; the checks refuse it.
std::string crafted_tiles() {
  const std::string path = scratch("tiles_source.fits");
  fits_test::write_compressed(path, SHORT_IMG, {16, 16}, std::vector<double>(256, 5.0), {RICE_1, 4, 1, {16, 4}});
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(read_bytes(path));
  hdu.set("ZTILE2", "0");
  return tile_layouts::put_together(hdu);
}

// A socket bound at path, which the system keeps as a name that no open
// opens.
void make_socket(const std::string& path) {
  const int unix_socket = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(unix_socket, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(bind(unix_socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(unix_socket);
}

// In a death test's child, as root: the rest runs as nobody, in the scratch
// folder, where permissions bind.
void act_as_nobody_in_scratch() {
  if (chdir(fits_test::scratch_dir().c_str()) != 0) std::abort();
  if (geteuid() != 0) return;
  if (chmod(".", 0777) != 0 || setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) std::abort();
}

}  // namespace

// A name that is there but opens no file (a socket, a link to one, a folder
// its user may not read) is moved past, as the library's search moves past
// it, to the compressed sibling, which is read here and checked: handed the
// name, the library inflated and decoded the sibling unchecked. A folder
// that opens ends the search, as it ends the library's.
TEST(CompressedFitsDeath, NamesThatAreThereButOpenNoFileAreSearchedPastAndChecked) {
  const std::string crafted = fits_test::gzip_member(crafted_tiles());
  make_socket(scratch("socket.fits"));
  ASSERT_EQ(symlink(scratch("socket.fits").c_str(), scratch("link.fits").c_str()), 0);
  ASSERT_EQ(mkdir(scratch("closed.fits").c_str(), 0), 0);
  ASSERT_EQ(mkdir(scratch("open.fits").c_str(), 0755), 0);
  for (const char* name : {"socket", "link", "closed", "open"})
    write_bytes(scratch(name + std::string(".fits.gz")), crafted);
  to_array<float, false> ima;
  fitsstruct rec;
  const char* const kRefused = "has ZTILE2 = 0: a tile has at least 1 pixel";
  for (const char* name : {"socket.fits", "link.fits"})
    EXPECT_EXIT_STATUS(fits_read_float((scratch(name) + "[1]").c_str(), ima, &rec), 255,
                       kRefused + std::string(".*") + name + "\\.gz\\)")
        << name;
  EXPECT_EXIT_STATUS(
      {
        act_as_nobody_in_scratch();
        fits_read_float("closed.fits[1]", ima, &rec);
      },
      255, kRefused + std::string(".*closed\\.fits\\.gz\\)"));
  EXPECT_EXIT(
      {
        QZ_STDOUT_TO_STDERR();
        fits_read_float(scratch("open.fits[1]").c_str(), ima, &rec);
      },
      ::testing::ExitedWithCode(FILE_NOT_OPENED),
      "cannot open file \\(" + scratch("open.fits") + "\\[1\\]: Is a directory\\)");
  // A valid sibling reads as the plain file; it cannot be written in place.
  const std::string plain = scratch("valid_plain.fits");
  write_bytes(plain, two_image_bytes());
  make_socket(scratch("valid.fits"));
  write_bytes(scratch("valid.fits.gz"), fits_test::gzip_member(two_image_bytes()));
  to_array<float, false> expected;
  fits_read_float(plain.c_str(), expected, &rec);
  fits_read_float(scratch("valid.fits").c_str(), ima, &rec);
  EXPECT_TRUE(qz_test::same_bits(ima, expected));
  to_array<float, false> block(2, 2);
  EXPECT_EXIT_STATUS(fits_write_block(scratch("valid.fits").c_str(), block, 0, 0), 255,
                     "the gzip file cannot be written in place ... \\(" + scratch("valid.fits.gz") + "\\)");
}

// Where no file answers a name, the open fails as the library's open of it
// did, with its status and the system's reason, and the library is never
// handed the name: a file that appears after the search is not read. A
// device is read as a stream, as far as its headers describe.
TEST(CompressedFitsDeath, ANameNoFileAnswersFailsWithoutTheLibrarysOpen) {
  to_array<float, false> ima;
  fitsstruct rec;
  for (const std::string& name : {scratch("absent"), scratch("absent.fits[1]"), "compress://" + scratch("absent.fits"),
                                 "rawfile://" + scratch("absent[b4,4]")})
    EXPECT_EXIT(
        {
          QZ_STDOUT_TO_STDERR();
          fits_read_float(name.c_str(), ima, &rec);
        },
        ::testing::ExitedWithCode(FILE_NOT_OPENED), "cannot open file \\(.*absent.*: No such file or directory\\)")
        << name;
  write_bytes(scratch("appearing.fits"), two_image_bytes());
  EXPECT_EXIT(
      {
        QZ_STDOUT_TO_STDERR();
        replaced_name::target = scratch("late.fits");
        replaced_name::replacement = scratch("appearing.fits");
        replaced_name::once_missing = true;
        fits_read_float(scratch("late.fits").c_str(), ima, &rec);
        std::exit(0);
      },
      ::testing::ExitedWithCode(FILE_NOT_OPENED), "cannot open file \\(.*late\\.fits: ");
  ASSERT_TRUE(fits_test::file_exists(scratch("late.fits"))) << "the file never appeared";
  EXPECT_EXIT_STATUS(fits_read_float("/dev/null[0]", ima, &rec), 255, "the device is empty ... \\(/dev/null\\)");
  EXPECT_EXIT_STATUS(fits_read_float("/dev/zero[0]", ima, &rec), 255,
                     "the device holds no FITS file ... \\(/dev/zero\\)");
  const std::string plain = scratch("device_plain.fits");
  write_bytes(plain, two_image_bytes());
  to_array<float, false> expected;
  fits_read_float(plain.c_str(), expected, &rec);
  EXPECT_EXIT(
      {
        stdin_through_pipe(plain);
        fits_read_float("/dev/stdin[0]", ima, &rec);
        std::exit(qz_test::same_bits(ima, expected) ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

// The library's search takes the first of the root, .gz, .bz2, .Z, .z,
// .zip, -z and -gz that is there (as measured on the library's own open of
// these very files): its rarer siblings are found, and beside another, the
// earlier one is read. The two images differ in every pixel.
TEST(CompressedFits, SiblingsAreSearchedInTheLibrarysOrder) {
  ASSERT_TRUE(image_test::have_tool("bzip2")) << "bzip2 is not installed";
  std::string other = image_bytes();
  for (std::size_t k = 2880 + 2; k < other.size(); k += 4) other[k] = static_cast<char>(~other[k]);
  to_array<float, false> ima, image_a, image_b;
  fitsstruct rec;
  write_bytes(scratch("a_plain.fits"), image_bytes());
  write_bytes(scratch("b_plain.fits"), other);
  fits_read_float(scratch("a_plain.fits").c_str(), image_a, &rec);
  fits_read_float(scratch("b_plain.fits").c_str(), image_b, &rec);
  ASSERT_FALSE(qz_test::same_bits(image_a, image_b));
  const std::string bzip2_b = packed(kTools[1], scratch("b_plain.fits"));
  const struct {
    std::vector<std::pair<const char*, std::string>> siblings;  // suffix, bytes
    bool reads_a;
  } cases[] = {
      {{{".gz", fits_test::gzip_member(image_bytes())}, {".bz2", read_bytes(bzip2_b)}}, true},
      {{{".bz2", read_bytes(bzip2_b)}, {".z", fits_test::gzip_member(image_bytes())}}, false},
      {{{".z", fits_test::gzip_member(image_bytes())}, {"-gz", fits_test::gzip_member(other)}}, true},
      {{{".z", fits_test::gzip_member(image_bytes())}}, true},
      {{{"-z", fits_test::gzip_member(other)}}, false},
      {{{"-gz", fits_test::gzip_member(image_bytes())}}, true},
  };
  for (std::size_t k = 0; k < std::size(cases); k++) {
    const std::string root = scratch("sibling" + std::to_string(k) + ".fits");
    std::string what = root;
    for (const auto& [suffix, bytes] : cases[k].siblings) {
      write_bytes(root + suffix, bytes);
      what += std::string(" ") + suffix;
    }
    fits_read_float(root.c_str(), ima, &rec);
    EXPECT_TRUE(qz_test::same_bits(ima, cases[k].reads_a ? image_a : image_b)) << what;
  }
}

// With a section and no HDU named, the library passes an empty primary HDU
// and tables named for good time intervals to the first image: the checks
// look where it lands, and the section reads the image's pixels, as the
// library alone reads them and as counted here.
TEST(CompressedFits, ASectionPassesAnEmptyPrimaryAndATimeIntervalTable) {
  std::vector<double> values(8 * 6);
  for (std::size_t k = 0; k < values.size(); k++) values[k] = static_cast<double>(k * 37 % 101);
  for (const char* extname : {"GTI", "STDGTI"}) {
    fits_test::Hdu table, image{FLOAT_IMG, {8, 6}, values};
    table.table = true;
    table.extname = extname;
    const std::string path = scratch("gti.fits");
    fits_test::write_hdus(path, {fits_test::Hdu{}, table, image});
    const struct {
      const char* section;
      int first_column, column_step, first_line, line_step;  // 0-based
    } rows[] = {{"[2:7,1:4]", 1, 1, 0, 1}, {"[7:2,4:1]", 6, -1, 3, -1}, {"[*,2:6:2]", 0, 1, 1, 2}};
    for (const auto& row : rows) {
      const std::string name = path + row.section;
      const fits_test::Reference library = fits_test::read_reference(name);
      ASSERT_EQ(library.naxes.size(), 2u) << extname << row.section;
      std::vector<double> counted;
      for (long i = 0; i < library.naxes[1]; i++)
        for (long j = 0; j < library.naxes[0]; j++)
          counted.push_back(values[(row.first_line + row.line_step * i) * 8 + row.first_column + row.column_step * j]);
      ASSERT_EQ(library.values, counted) << extname << row.section;
      EXPECT_EQ(fits_test::read_program(name), std::vector<float>(counted.begin(), counted.end()))
          << extname << row.section;
    }
  }
}
