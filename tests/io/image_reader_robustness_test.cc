// Every reader fed damaged copies of valid files: truncated at many lengths,
// bytes replaced at seeded random places, sizes blown up. Each read runs in a
// child process that must either return an image or end with a non-zero
// status and a message naming the file; a signal, a hang, a sanitizer report
// or a silent failure fails the test. The seeds make every run the same.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "fits_test_files.h"
#include "image_test_tools.h"
#include "io/fits_glue.h"
#include "io/fits_io.h"
#include "io/gif_io.h"
#include "io/io_dispatch.h"
#include "io/jpeg_io.h"
#include "io/pgm_io.h"
#include "support/forked_child.h"
#include "tile_table_layouts.h"

using image_test::read_bytes;
using image_test::scratch;
using image_test::write_bytes;

namespace {

using Reader = std::function<void(const std::string&)>;

// Runs reader(name) in a child; returns a description of what went wrong,
// or an empty text when the child behaved.
// The child's exit status goes to *exit_status when given.
std::string check_read(const Reader& reader, const std::string& name, int* exit_status = nullptr) {
  std::string log = name + ".log";
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    std::FILE* out = std::freopen(log.c_str(), "w", stdout);
    if (out == nullptr || dup2(fileno(stdout), fileno(stderr)) < 0) _exit(97);
    alarm(20);  // a hang ends in a signal
    reader(name);
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  test_support::reap_child(pid, &status);
  std::string output = read_bytes(log);
  if (exit_status != nullptr) *exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (!WIFEXITED(status)) return "ended by signal " + std::to_string(WTERMSIG(status)) + ":\n" + output;
  if (output.find("Sanitizer") != std::string::npos || output.find("runtime error") != std::string::npos)
    return "sanitizer report:\n" + output;
  if (WEXITSTATUS(status) != 0 && output.find(name) == std::string::npos)
    return "status " + std::to_string(WEXITSTATUS(status)) + " without naming the file:\n" + output;
  return "";
}

// Truncated copies and seeded random corruptions of one valid file.
void torture(const std::string& valid, const std::string& stem, const std::string& extension,
             const Reader& reader, unsigned seed, int corruptions = 40) {
  const std::string bytes = read_bytes(valid);
  ASSERT_GT(bytes.size(), 16u);
  std::vector<std::size_t> lengths = {0, 1, 5, 6, 12, 13, 20, bytes.size() / 3, bytes.size() / 2,
                                      bytes.size() - 2, bytes.size() - 1};
  int case_number = 0;
  for (std::size_t length : lengths) {
    std::string name = scratch(stem + "_cut" + std::to_string(case_number++) + extension);
    write_bytes(name, bytes.substr(0, length));
    std::string problem = check_read(reader, name);
    EXPECT_EQ(problem, "") << "truncated to " << length << " bytes";
  }
  std::mt19937 random(seed);
  for (int c = 0; c < corruptions; c++) {
    std::string damaged = bytes;
    // Headers are where sizes live: half the damage falls in the first 64 bytes.
    int changes = 1 + static_cast<int>(random() % 6);
    for (int k = 0; k < changes; k++) {
      std::size_t span = (random() % 2 == 0) ? std::min<std::size_t>(64, damaged.size()) : damaged.size();
      std::size_t at = random() % span;
      damaged[at] = random() % 3 == 0 ? static_cast<char>(0xFF) : static_cast<char>(random() % 256);
    }
    std::string name = scratch(stem + "_bad" + std::to_string(c) + extension);
    write_bytes(name, damaged);
    std::string problem = check_read(reader, name);
    EXPECT_EQ(problem, "") << "corruption " << c << " (seed " << seed << ")";
  }
}

class Robustness : public testing::Test {
 protected:
  void SetUp() override {
    io_set_format(F_UNKNOWN);
    IO_RGB.alloc(0);
  }
};

to_array<float, false> sample_image(int nl, int nc) {
  to_array<float, false> ima(nl, nc);
  std::vector<int> pattern = image_test::test_pattern(nc, nl);
  for (int k = 0; k < nl * nc; k++) ima(k) = static_cast<float>(pattern[k]);
  return ima;
}

}  // namespace

TEST_F(Robustness, PgmReader) {
  to_array<float, false> ima = sample_image(19, 23);
  std::string valid = scratch("valid_pgm");
  writepgm(valid.c_str(), ima, False);
  torture(valid + ".pgm", "pgm", ".pgm", [](const std::string& name) {
    to_array<float, false> out;
    readpgm(name.c_str(), out);
  }, 1101);
}

TEST_F(Robustness, GifReader) {
  to_array<float, false> ima = sample_image(37, 41);
  std::string valid = scratch("valid_gif.gif");
  writegif(valid.c_str(), ima, False);
  Reader reader = [](const std::string& name) {
    to_array<int, false> out;
    readgif(name.c_str(), out);
  };
  torture(valid, "gif", ".gif", reader, 2122, 60);
  if (image_test::have_tool("pamtogif")) {
    std::string pgm = scratch("lace.pgm");
    write_bytes(pgm, image_test::pgm_bytes(41, 37, image_test::test_pattern(41, 37)));
    std::string interlaced = scratch("lace.gif");
    ASSERT_EQ(image_test::run("pamtogif -interlace -comment hello " + pgm + " > " + interlaced), 0);
    torture(interlaced, "lace", ".gif", reader, 2123, 60);
  }
}

TEST_F(Robustness, JpegReader) {
  REQUIRE_TOOL("cjpeg");
  to_array<float, false> ima = sample_image(33, 47);
  std::string valid = scratch("valid_jpeg");
  io_write2d_jpeg(valid.c_str(), ima, False, 90);
  Reader reader = [](const std::string& name) {
    to_array<float, false> out;
    io_read2d_jpeg(name.c_str(), out);
  };
  torture(valid + ".jpg", "jpeg", ".jpg", reader, 2121);
  std::string pgm = scratch("prog.pgm");
  write_bytes(pgm, image_test::pgm_bytes(47, 33, image_test::test_pattern(47, 33)));
  std::string progressive = scratch("prog.jpg");
  ASSERT_EQ(image_test::run("cjpeg -progressive " + pgm + " > " + progressive), 0);
  torture(progressive, "prog", ".jpg", reader, 2124);
  // A frame header announcing 65500 x 65500 pixels in a tiny file.
  std::string bytes = read_bytes(valid + ".jpg");
  std::size_t sof = bytes.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  for (int k = 5; k <= 8; k++) bytes[sof + k] = k % 2 == 1 ? static_cast<char>(0xFF) : static_cast<char>(0xDC);
  std::string huge = scratch("huge.jpg");
  write_bytes(huge, bytes);
  EXPECT_EQ(check_read(reader, huge), "");
}

// Compressed FITS files go through our inflaters, then the library's.
TEST_F(Robustness, CompressedFitsReader) {
  to_array<float, false> ima = sample_image(29, 31);
  fitsstruct rec;
  init_fits_struct(&rec, 29, 31);
  const std::string valid = scratch("valid_fits.fits");
  fits_write_float(valid.c_str(), ima, &rec);
  Reader reader = [](const std::string& name) {
    to_array<float, false> out;
    fitsstruct header;
    fits_read_float(name.c_str(), out, &header);
  };
  unsigned seed = 2103;
  for (const char* tool : {"gzip", "bzip2", "compress"}) {
    if (!image_test::have_tool(tool)) continue;
    const std::string packed = valid + "." + tool;  // found by its content
    ASSERT_LE(image_test::run(std::string(tool) + " -c < " + valid + " > " + packed), 2) << tool;
    torture(packed, tool, ".fits", reader, seed++);
  }
}

// Tile-compressed images of every algorithm the library decodes, from both
// common writers, their cards, descriptors, tile streams and bytes changed:
// the library's decoders trust what they read there, and our checks come
// first. Each changed file is read by the program itself, as a user runs it.
namespace {

// A tile-compressed image: made by the library's compressor from pixels of
// the test's own, or one of the files astropy wrote; its table read through
// P descriptors, or through Q ones, as the library writes very large files.
struct TileSource {
  const char* label;
  int bitpix;
  fits_test::Compression how;
  const char* astropy;  // the file's name in the astropy data, or nullptr
  bool q_descriptors;
};

const TileSource kTileSources[] = {
    {"rice_f", FLOAT_IMG, {RICE_1, 4, SUBTRACTIVE_DITHER_1}, nullptr, false},
    {"rice_i", SHORT_IMG, {RICE_1}, nullptr, false},
    {"gzip1", LONG_IMG, {GZIP_1}, nullptr, false},
    {"gzip2_f", FLOAT_IMG, {GZIP_2, 4, SUBTRACTIVE_DITHER_2}, nullptr, false},
    {"hcomp_i", SHORT_IMG, {HCOMPRESS_1, 4, SUBTRACTIVE_DITHER_1, {20, 8}}, nullptr, false},
    {"hcomp_f", FLOAT_IMG, {HCOMPRESS_1, 4, SUBTRACTIVE_DITHER_1, {40, 12}}, nullptr, false},
    {"plio", SHORT_IMG, {PLIO_1}, nullptr, false},
    {"nocomp_f", FLOAT_IMG, {NOCOMPRESS}, nullptr, false},
    {"nocomp_f_nodither", FLOAT_IMG, {NOCOMPRESS, 4, NO_DITHER}, nullptr, false},
    {"nocomp_i", SHORT_IMG, {NOCOMPRESS}, nullptr, false},
    {"rice_f_q", FLOAT_IMG, {RICE_1, 4, SUBTRACTIVE_DITHER_1}, nullptr, true},
    {"rice_i_q", SHORT_IMG, {RICE_1}, nullptr, true},
    {"gzip1_q", LONG_IMG, {GZIP_1}, nullptr, true},
    {"gzip2_f_q", FLOAT_IMG, {GZIP_2, 4, SUBTRACTIVE_DITHER_2}, nullptr, true},
    {"hcomp_i_q", SHORT_IMG, {HCOMPRESS_1, 4, SUBTRACTIVE_DITHER_1, {20, 8}}, nullptr, true},
    {"plio_q", SHORT_IMG, {PLIO_1}, nullptr, true},
    {"nocomp_f_q", FLOAT_IMG, {NOCOMPRESS}, nullptr, true},
    {"nocomp_i_q", SHORT_IMG, {NOCOMPRESS}, nullptr, true},
    {"astropy_u16_rice", 0, {}, "u16_rice_1.fits", false},
    {"astropy_u16_gzip1", 0, {}, "u16_gzip_1.fits", false},
    {"astropy_u16_gzip2", 0, {}, "u16_gzip_2.fits", false},
    {"astropy_u16_hcomp", 0, {}, "u16_hcompress_1.fits", false},
    {"astropy_i8_rice", 0, {}, "i8_rice_1.fits", false},
    {"astropy_u32_rice", 0, {}, "u32_rice_1.fits", false},
    {"astropy_i16_plio", 0, {}, "i16_plio_1.fits", false},
    {"astropy_f32_rice", 0, {}, "f32_rice_1.fits", false},
    {"astropy_f32_gzip2", 0, {}, "f32_gzip_2.fits", false},
};

// Cards whose values the decoders trust, each given values a damaged or
// crafted file may hold. A card the file lacks is added.
const struct {
  const char* key;
  std::vector<const char*> values;
} kCardChanges[] = {
    {"ZBITPIX", {"-32", "-64", "8", "16", "32", "64", "0"}},
    {"ZCMPTYPE", {"'RICE_1'", "'RICE_ONE'", "'GZIP_1'", "'GZIP_2'", "'PLIO_1'", "'HCOMPRESS_1'", "'NOCOMPRESS'"}},
    {"ZGCOUNT", {"65535", "-1"}},
    {"ZPCOUNT", {"65535"}},
    {"THEAP", {"-1", "0", "1", "2147483647"}},
    {"PCOUNT", {"0", "-1", "99999999"}},
    {"TFORM1", {"'1PJ'", "'1PD'", "'1QB'", "'1PB(1)'"}},
    {"ZTILE1", {"0", "-1", "1", "1000000"}},
    {"ZTILE2", {"0", "1000000"}},
    {"ZNAXIS", {"0", "1", "3"}},
    {"ZNAXIS1", {"0", "1", "100000"}},
    {"ZNAXIS2", {"1", "2147483647"}},
    {"ZVAL1", {"0", "65", "-1"}},
    {"ZVAL2", {"0", "3", "16"}},
    {"ZQUANTIZ", {"'NO_DITHER'", "'SUBTRACTIVE_DITHER_2'"}},
    {"ZDITHER0", {"0", "10001"}},
    {"NAXIS1", {"0", "4"}},
    {"NAXIS2", {"0", "100000"}},
    {"TFIELDS", {"0", "9"}},
};

// A changed copy of a file, and what was changed; must_refuse when no
// image can be read from it.
struct Mutation {
  std::string what, bytes;
  bool must_refuse = false, must_read = false;
};

// Card changes that leave no image to read.
const char* const kRefusedCards[] = {"THEAP = -1", "PCOUNT = 0",  "ZTILE1 = 0",
                                     "ZNAXIS = 0", "ZNAXIS1 = 0", "NAXIS2 = 0"};

// A floating-point ZBITPIX over tiles coded as integers, with no
// quantization to turn them back: refused, but for GZIP tiles, which hold
// the pixels' bytes and need only be wide enough, and NOCOMPRESS ones, whose
// column's elements are converted one by one.
bool float_over_integers(const std::string& algorithm, int bitpix, const std::string& new_bitpix) {
  const int wanted = std::stoi(new_bitpix);
  if (bitpix < 0 || wanted > 0 || algorithm.find("NOCOMPRESS") != std::string::npos) return false;
  return algorithm.find("GZIP") == std::string::npos || bitpix < -wanted;
}

// The header of the first extension: where its cards are, where its table
// and heap start, and its descriptor columns.
struct TileTable {
  std::size_t end_card = 0, table = 0, heap = 0;
  std::size_t row_bytes = 0, rows = 0;
  struct Descriptors {
    std::size_t at;  // in a row
    bool q;
    std::string type;  // the column's TTYPE
  };
  std::vector<Descriptors> descriptors;

  explicit TileTable(const std::string& bytes) : cards(tile_layouts::take_apart(bytes)) {
    end_card = 2880;
    while (end_card + 80 <= bytes.size() && bytes.compare(end_card, 8, "END     ") != 0) end_card += 80;
    table = (end_card / 2880 + 1) * 2880;
    row_bytes = cards.integer("NAXIS1");
    rows = cards.integer("NAXIS2");
    heap = table + (cards.find("THEAP") < 0 ? row_bytes * rows : cards.integer("THEAP"));
    const std::vector<tile_layouts::column> columns = tile_layouts::columns(cards);
    for (std::size_t k = 0; k < columns.size(); k++)
      if (columns[k].type == 'P' || columns[k].type == 'Q')
        descriptors.push_back({static_cast<std::size_t>(columns[k].offset), columns[k].type == 'Q',
                               cards.value("TTYPE" + std::to_string(k + 1))});
  }

  tile_layouts::table_hdu cards;
};

std::string value_card(std::string key, const std::string& value) {
  key.resize(8, ' ');
  std::string card = key + "= " + (value[0] == '\'' ? value : std::string(20 - value.size(), ' ') + value);
  card.resize(80, ' ');
  return card;
}

// The first extension's card key set to value (in place, or added before
// END); with `copy`, added before END whether the key is there or not.
Mutation with_card(const std::string& bytes, const TileTable& layout, const std::string& key,
                   const std::string& value, bool copy = false) {
  Mutation m{key + " = " + value, bytes};
  const std::string card = value_card(key, value);
  std::size_t at = 2880;
  while (!copy && at < layout.end_card && m.bytes.compare(at, 8, card, 0, 8) != 0) at += 80;
  if (copy || at == layout.end_card) {
    at = layout.end_card;
    if ((at + 80) % 2880 == 0) return {"", ""};  // no room left in the header
    m.bytes.replace(at + 80, 80, m.bytes.substr(at, 80));
  }
  m.bytes.replace(at, 80, card);
  return m;
}

// Every targeted change of one file: its cards, the descriptors of its first
// and last tiles (element counts and heap offsets past their streams and
// the heap, a Q offset past 4 GiB) and the first bytes of the first tile's
// stream, where the decoders read the stream's own sizes.
std::vector<Mutation> targeted_mutations(const std::string& bytes) {
  const TileTable layout(bytes);
  std::vector<Mutation> mutations;
  for (const auto& change : kCardChanges) {
    const std::string now = layout.cards.value(change.key);
    for (const char* value : change.values) {
      // A ZVALn means something only after its ZNAMEn.
      const bool same = now == value || "'" + now + "'" == value;
      if (same || (now.empty() && std::string(change.key).compare(0, 4, "ZVAL") == 0)) continue;
      Mutation m = with_card(bytes, layout, change.key, value);
      if (m.bytes.empty()) continue;
      for (const char* refused : kRefusedCards) m.must_refuse |= m.what == refused;
      if (std::string(change.key) == "ZBITPIX")
        m.must_refuse = float_over_integers(layout.cards.value("ZCMPTYPE"), std::stoi(now), value);
      mutations.push_back(m);
    }
  }
  for (const auto& [column, q, type] : layout.descriptors) {
    const int width = q ? 8 : 4;
    // Raw tiles hold exactly their pixels.
    const bool raw = type == "UNCOMPRESSED_DATA";
    for (std::size_t row : {std::size_t{0}, layout.rows - 1}) {
      const std::size_t at = layout.table + row * layout.row_bytes + column;
      const std::uint64_t count = tile_layouts::read_big_endian(bytes, at, width);
      const std::uint64_t offset = tile_layouts::read_big_endian(bytes, at + width, width);
      if (count == 0) continue;  // a column this file leaves empty
      const std::uint64_t heap_bytes = bytes.size() - layout.heap;
      const struct {
        const char* what;
        std::uint64_t count, offset;
        bool refused;
      } descriptor_changes[] = {
          {"count + 1", count + 1, offset, raw},
          {"count x 2", count * 2, offset, raw},
          {"count 2^31 - 1", 0x7FFFFFFF, offset, true},
          {"count 0", 0, offset, false},
          {"offset to the file's end", count, heap_bytes - count + 1, true},
          {"offset 2^32 - 1", count, 0xFFFFFFFF, true},
          {"offset + 2^32", count, q ? offset + (std::uint64_t{1} << 32) : offset, true},
      };
      for (const auto& d : descriptor_changes) {
        if (d.offset == offset && d.count == count) continue;
        Mutation m{"row " + std::to_string(row) + " " + type + ": " + d.what, bytes, d.refused};
        tile_layouts::write_big_endian(m.bytes, at, width, d.count);
        tile_layouts::write_big_endian(m.bytes, at + width, width, d.offset);
        mutations.push_back(m);
      }
    }
  }
  // The first tile's stream: PLIO's list lengths, HCOMPRESS's sizes, Rice's
  // first value, GZIP's header.
  const std::size_t first = layout.table + layout.descriptors.front().at;
  const int width = layout.descriptors.front().q ? 8 : 4;
  const std::size_t stream = layout.heap + tile_layouts::read_big_endian(bytes, first + width, width);
  for (int k = 0; k < 10 && stream + k < bytes.size(); k++)
    for (char value : {'\x7F', '\xFF', '\x00'}) {
      if (value != '\x7F' && k % 3 != 0) continue;
      Mutation m{"stream byte " + std::to_string(k) + " = " + std::to_string(static_cast<unsigned char>(value)), bytes};
      m.bytes[stream + k] = value;
      mutations.push_back(m);
    }
  return mutations;
}

// Seeded random changes of a few bytes: one in five on a card's value, the
// others in the table or the heap.
std::vector<Mutation> random_mutations(const std::string& bytes, unsigned seed, int count) {
  const TileTable layout(bytes);
  std::size_t data_end = bytes.size();
  while (data_end > layout.table && bytes[data_end - 1] == '\0') data_end--;
  std::mt19937 random(seed);
  std::vector<Mutation> mutations;
  for (int c = 0; c < count; c++) {
    Mutation m{"random change " + std::to_string(c) + " of seed " + std::to_string(seed) + " at", bytes};
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int k = 0; k < changes; k++) {
      const bool card = random() % 5 == 0;
      const std::size_t at = card ? 2880 + random() % ((layout.end_card - 2880) / 80) * 80 + 10 + random() % 20
                                  : layout.table + random() % (data_end - layout.table);
      m.bytes[at] = card ? "0123456789-+ "[random() % 13] : static_cast<char>(random() % 256);
      m.what += " " + std::to_string(at);
    }
    mutations.push_back(m);
  }
  return mutations;
}

// Seeded changes of HCOMPRESS bodies, past the 14 bytes of a stream's
// header: a few bytes of a tile's body replaced or a bit flipped, or the
// tile's stream cut short in its descriptor; the decoder trusts the body to
// end where its bits say.
std::vector<Mutation> hcompress_body_mutations(const std::string& bytes, unsigned seed, int count) {
  const TileTable layout(bytes);
  std::vector<Mutation> mutations;
  if (bytes.find("'HCOMPRESS_1'") >= layout.end_card) return mutations;
  const auto descriptor = std::find_if(layout.descriptors.begin(), layout.descriptors.end(),
                                       [](const TileTable::Descriptors& d) { return d.type == "COMPRESSED_DATA"; });
  if (descriptor == layout.descriptors.end()) return mutations;
  std::mt19937 random(seed);
  for (int c = 0; c < count; c++) {
    const int width = descriptor->q ? 8 : 4;
    const std::size_t entry = layout.table + random() % layout.rows * layout.row_bytes + descriptor->at;
    const std::size_t length = tile_layouts::read_big_endian(bytes, entry, width);
    const std::size_t stream = layout.heap + tile_layouts::read_big_endian(bytes, entry + width, width);
    if (length <= 15 || stream + length > bytes.size()) continue;
    Mutation m{"HCOMPRESS body change " + std::to_string(c) + " of seed " + std::to_string(seed) + ":", bytes};
    const int kind = static_cast<int>(random() % 3);
    if (kind == 2) {
      const std::size_t cut = 14 + random() % (length - 14);
      tile_layouts::write_big_endian(m.bytes, entry, width, cut);
      m.what += " cut to " + std::to_string(cut);
    } else {
      for (int k = kind == 0 ? 1 + static_cast<int>(random() % 3) : 1; k > 0; k--) {
        const std::size_t at = stream + 14 + random() % (length - 14);
        m.bytes[at] = static_cast<char>(kind == 0 ? random() % 256 : m.bytes[at] ^ (1 << random() % 8));
        m.what += " " + std::to_string(at);
      }
    }
    mutations.push_back(m);
  }
  return mutations;
}

// A second copy of a card the checks or the library read, after the first,
// in every form the library reads as that card: as written, in lower case,
// with other characters between its keyword's first blank and its '=',
// after HIERARCH, with its '=' moved up. The library may read either: the
// checks must refuse the file where the copies differ, and read it where
// they hold one value (a copy of ZCMPTYPE = 'GZIP_1' in a gzip file, of
// HCOMPRESS's ZVAL1 = 0.0 as 0). ZTILE1 = 0 ends the library's open by a
// signal; one more pixel along an axis lets its HCOMPRESS decoder write
// past its tile. The form with its '=' moved up before the ninth column
// holds no value for the library, and differs from any.
std::vector<Mutation> duplicate_mutations(const std::string& bytes) {
  const TileTable layout(bytes);
  auto same_value = [&](const char* key, std::string value) {
    if (value.size() >= 2 && value.front() == '\'') value = value.substr(1, value.size() - 2);
    const std::string own = layout.cards.value(key);
    char *end_own = nullptr, *end_copy = nullptr;
    const double a = std::strtod(own.c_str(), &end_own), b = std::strtod(value.c_str(), &end_copy);
    const bool numbers = !own.empty() && *end_own == '\0' && !value.empty() && *end_copy == '\0';
    return numbers ? a == b : own == value;
  };
  auto one_more = [&](const char* key) { return std::to_string(std::atol(layout.cards.value(key).c_str()) + 1); };
  const std::pair<const char*, std::string> copies[] = {
      {"ZTILE1", "0"},          {"ZTILE2", "0"},       {"ZTILE1", one_more("ZTILE1")}, {"ZTILE2", one_more("ZTILE2")},
      {"ZBITPIX", "-64"},       {"ZNAXIS1", "1"},      {"ZCMPTYPE", "'GZIP_1'"},       {"ZQUANTIZ", "'NONE'"},
      {"ZVAL1", "0"},           {"TFORM1", "'1PJ'"},   {"TTYPE1", "'ZSCALE'"},         {"NAXIS2", "1"},
      {"THEAP", "0"},           {"PCOUNT", "0"},
  };
  std::vector<Mutation> mutations;
  for (const auto& [key, value] : copies) {
    // A card the file lacks has no copy to make.
    if (layout.cards.find(key) < 0) continue;
    std::string lower = key;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string forms[] = {value_card(key, value),         value_card(lower, value),
                                 key + std::string(" X= ") + value, key + std::string(" /= ") + value,
                                 "HIERARCH " + lower + "= " + value, key + std::string("=") + value};
    for (const std::string& form : forms) {
      if ((layout.end_card + 80) % 2880 == 0) continue;  // no room left in the header
      Mutation m{"a second card " + form, bytes};
      m.bytes.replace(layout.end_card + 80, 80, m.bytes.substr(layout.end_card, 80));
      std::string card = form;
      card.resize(80, ' ');
      m.bytes.replace(layout.end_card, 80, card);
      const bool valueless = form == key + std::string("=") + value && std::strlen(key) < 8;
      const bool alike = same_value(key, value) && !valueless;
      m.must_refuse = !alike;
      m.must_read = alike;
      mutations.push_back(m);
    }
  }
  return mutations;
}

// The program run on the file's first extension in folder, where it writes
// its results, in the child of check_read: a time limit, and an address
// space that a file of a few kilobytes can never justify filling (the
// sanitizers' shadow memory needs terabytes: there their allocator refuses
// large blocks instead).
Reader program_reader(const std::string& folder, const std::string& selector = "[1]") {
  return [folder, selector](const std::string& name) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    const struct rlimit limit = {768ULL << 20, 768ULL << 20};
    setrlimit(RLIMIT_AS, &limit);
#else
    const char* options = std::getenv("ASAN_OPTIONS");
    const std::string bounded = (options != nullptr ? std::string(options) + ":" : "") + "max_allocation_size_mb=512";
    setenv("ASAN_OPTIONS", bounded.c_str(), 1);
#endif
    setenv("OMP_NUM_THREADS", "2", 1);
    const char* program = std::getenv("QZ_MCA");
    const std::string input = name + selector;
    if (program == nullptr || chdir(folder.c_str()) != 0) _exit(98);
    execl(program, program, "-t", "1", "-i", "1", input.c_str(), "result", static_cast<char*>(nullptr));
    _exit(127);
  };
}

void PrintTo(const TileSource& source, std::ostream* out) { *out << source.label; }

class TileMutations : public testing::TestWithParam<TileSource> {};

}  // namespace

namespace {

// The file of a source, as its writer made it.
std::string tile_source_bytes(const TileSource& source) {
  if (source.astropy != nullptr)
    return read_bytes(std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/" + source.astropy);
  const long nx = 40, ny = 24;
  std::vector<double> sky(nx * ny), counts(nx * ny);
  for (long k = 0; k < nx * ny; k++) {
    sky[k] = 1000 + static_cast<double>(k * 7919 % 997) / 100.0;
    counts[k] = static_cast<double>(k * 37 % 200 + (k % nx == 11 ? 3000 : 0));
  }
  const std::string made = scratch(std::string(source.label) + "_made.fits");
  fits_test::write_compressed(made, source.bitpix, {nx, ny}, source.bitpix < 0 ? sky : counts, source.how);
  const std::string bytes = read_bytes(made);
  return source.q_descriptors ? tile_layouts::with_q_descriptors(bytes) : bytes;
}

// The program's run on one file by `reader`, which writes its results in
// folder: a result, or a refusal that names the file and leaves the folder
// as it found it; what went wrong otherwise.
std::string checked_run(const Reader& reader, const std::string& folder, const std::string& name, int& status) {
  std::string problem = check_read(reader, name, &status);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) left.push_back(entry.path().filename());
  if (problem.empty() && status == MEMORY_ALLOCATION)
    problem = "the library ran out of memory on a file of " + std::to_string(read_bytes(name).size()) + " bytes";
  if (problem.empty() && status != 0 && !left.empty()) problem = "a failed run left " + left.front();
  std::filesystem::remove_all(folder);
  std::filesystem::create_directory(folder);
  return problem;
}

}  // namespace

TEST_P(TileMutations, EndInAResultOrAnExplainedRefusalWritingNothing) {
  ASSERT_NE(std::getenv("QZ_MCA"), nullptr) << "QZ_MCA must name the program";
  const TileSource& source = GetParam();
  const std::string bytes = tile_source_bytes(source);
  ASSERT_GT(bytes.size(), 2880u * 2) << source.label;
  const std::string folder = scratch(std::string("out_") + source.label);
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  const Reader reader = program_reader(folder);
  const auto check = [&](const std::string& name, int& status) { return checked_run(reader, folder, name, status); };

  const std::string valid = scratch(std::string(source.label) + ".fits");
  write_bytes(valid, bytes);
  int status = 0;
  EXPECT_EQ(check(valid, status), "");
  EXPECT_EQ(status, 0) << source.label << ": the file as written is read";

  // Each file's own seed, the same at every run.
  unsigned seed = 5101;
  for (const char* c = source.label; *c != '\0'; c++) seed = seed * 31 + static_cast<unsigned char>(*c);
  std::vector<Mutation> mutations = targeted_mutations(bytes);
  const std::vector<Mutation> random = random_mutations(bytes, seed, 25);
  mutations.insert(mutations.end(), random.begin(), random.end());
  const std::vector<Mutation> bodies = hcompress_body_mutations(bytes, seed, 30);
  mutations.insert(mutations.end(), bodies.begin(), bodies.end());
  const std::vector<Mutation> twice = duplicate_mutations(bytes);
  mutations.insert(mutations.end(), twice.begin(), twice.end());
  int number = 0;
  for (const Mutation& m : mutations) {
    const std::string name = scratch(std::string(source.label) + "_" + std::to_string(number++) + ".fits");
    write_bytes(name, m.bytes);
    int status = 0;
    EXPECT_EQ(check(name, status), "") << source.label << ", " << m.what;
    if (m.must_refuse) {
      EXPECT_NE(status, 0) << source.label << ", " << m.what << ": read";
    }
    if (m.must_read) {
      EXPECT_EQ(status, 0) << source.label << ", " << m.what << ": refused";
    }
    std::remove(name.c_str());
    std::remove((name + ".log").c_str());
  }
}

// A card given twice in HDU 2, after a valid image in HDU 1: a read of HDU
// 1 goes on; one of HDU 2, or of the primary HDU, which holds no image and
// whose advice lists every HDU, refuses the file.
TEST_P(TileMutations, CardsGivenTwiceInALaterHduAreRefusedWherePassed) {
  ASSERT_NE(std::getenv("QZ_MCA"), nullptr) << "QZ_MCA must name the program";
  const TileSource& source = GetParam();
  const std::string bytes = tile_source_bytes(source);
  const TileTable layout(bytes);
  const std::string folder = scratch(std::string("later_") + source.label);
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  int number = 0;
  for (const bool lower : {false, true}) {
    const char* key = lower ? "ztile1" : "ZTILE1";
    Mutation m = with_card(bytes, layout, key, "0", true);
    // A header whose block is full grows by one, the table following it.
    if (m.bytes.empty())
      m = {std::string(key) + " = 0", bytes.substr(0, layout.end_card) + value_card(key, "0") +
                                          bytes.substr(layout.end_card, 80) + std::string(2880 - 80, ' ') +
                                          bytes.substr(layout.table)};
    const std::string name = scratch(std::string(source.label) + "_later" + std::to_string(number++) + ".fits");
    write_bytes(name, bytes + m.bytes.substr(2880));
    for (const char* selector : {"[1]", "[2]", ""}) {
      int status = 0;
      EXPECT_EQ(checked_run(program_reader(folder, selector), folder, name, status), "")
          << source.label << ", " << m.what << ", " << selector;
      EXPECT_EQ(status == 0, std::string(selector) == "[1]") << source.label << ", " << m.what << ", " << selector;
      if (status != 0) {
        EXPECT_NE(read_bytes(name + ".log").find("HDU [2] has ZTILE1 twice"), std::string::npos)
            << source.label << ", " << selector << ": " << read_bytes(name + ".log");
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothWriters, TileMutations, testing::ValuesIn(kTileSources),
                         [](const testing::TestParamInfo<TileSource>& info) { return std::string(info.param.label); });

TEST(RobustnessHarness, NoticesCrashesAndUnexplainedFailures) {
  std::string name = scratch("harness.bin");
  write_bytes(name, "x");
  EXPECT_NE(check_read([](const std::string&) { raise(SIGSEGV); }, name), "");
  EXPECT_NE(check_read([](const std::string&) { std::exit(3); }, name), "");
  EXPECT_NE(check_read([](const std::string& n) {
    std::fprintf(stderr, "==1==ERROR: AddressSanitizer: %s\n", n.c_str());
    std::exit(1);
  }, name), "");
  EXPECT_EQ(check_read([](const std::string& n) {
    std::fprintf(stderr, "Error: cannot read %s\n", n.c_str());
    std::exit(255);
  }, name), "");
}
