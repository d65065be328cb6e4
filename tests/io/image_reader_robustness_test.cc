// Every reader fed damaged copies of valid files: truncated at many lengths,
// bytes replaced at seeded random places, sizes blown up. Each read runs in a
// child process that must either return an image or end with a non-zero
// status and a message naming the file; a signal, a hang, a sanitizer report
// or a silent failure fails the test. The seeds make every run the same.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
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

using image_test::read_bytes;
using image_test::scratch;
using image_test::write_bytes;

namespace {

using Reader = std::function<void(const std::string&)>;

// Runs reader(name) in a child; returns a description of what went wrong,
// or an empty text when the child behaved.
std::string check_read(const Reader& reader, const std::string& name) {
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
  waitpid(pid, &status, 0);
  std::string output = read_bytes(log);
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

// Tile-compressed files of every algorithm the library decodes, their
// tables, heaps and compression cards changed at seeded random places: the
// library's decoders trust what they read there, and our checks come first.
TEST_F(Robustness, TileCompressedFitsReader) {
  const long nx = 40, ny = 24;
  std::vector<double> sky(nx * ny), counts(nx * ny);
  for (long k = 0; k < nx * ny; k++) {
    sky[k] = 1000 + static_cast<double>(k * 7919 % 997) / 100.0;
    counts[k] = static_cast<double>(k * 37 % 200 + (k % nx == 11 ? 3000 : 0));
  }
  const struct {
    const char* name;
    int bitpix;
    fits_test::Compression how;
  } files[] = {
      {"t_rice_f.fits", FLOAT_IMG, {RICE_1, 4, SUBTRACTIVE_DITHER_1}},
      {"t_rice_i.fits", SHORT_IMG, {RICE_1}},
      {"t_gzip1.fits", LONG_IMG, {GZIP_1}},
      {"t_gzip2_f.fits", FLOAT_IMG, {GZIP_2, 4, SUBTRACTIVE_DITHER_2}},
      {"t_hcomp_i.fits", SHORT_IMG, {HCOMPRESS_1, 4, SUBTRACTIVE_DITHER_1, {20, 8}}},
      {"t_hcomp_f.fits", FLOAT_IMG, {HCOMPRESS_1, 4, SUBTRACTIVE_DITHER_1, {40, 12}}},
      {"t_plio.fits", SHORT_IMG, {PLIO_1}},
  };
  const Reader reader = [](const std::string& name) {
    to_array<float, false> out;
    fitsstruct header;
    fits_read_float((name + "[1]").c_str(), out, &header);
  };
  std::mt19937 random(5101);
  for (const auto& file : files) {
    const std::string valid = scratch(file.name);
    fits_test::write_compressed(valid, file.bitpix, {nx, ny}, file.bitpix < 0 ? sky : counts, file.how);
    EXPECT_EQ(check_read(reader, valid), "") << file.name;
    const std::string bytes = read_bytes(valid);
    // The extension's header, then its table and heap.
    std::size_t end_card = 2880;
    while (bytes.compare(end_card, 8, "END     ") != 0) end_card += 80;
    const std::size_t table = (end_card / 2880 + 1) * 2880;
    std::size_t data_end = bytes.size();
    while (data_end > table && bytes[data_end - 1] == '\0') data_end--;
    for (int c = 0; c < 45; c++) {
      std::string damaged = bytes;
      const int changes = 1 + static_cast<int>(random() % 4);
      for (int k = 0; k < changes; k++) {
        // One change in five falls on the values of the header's cards.
        const bool card = random() % 5 == 0;
        const std::size_t at = card ? 2880 + random() % (end_card - 2880) / 80 * 80 + 10 + random() % 20
                                    : table + random() % (data_end - table);
        damaged[at] = card ? "0123456789-+ "[random() % 13] : static_cast<char>(random() % 256);
      }
      const std::string name = scratch(std::string("bad") + std::to_string(c) + "_" + file.name);
      write_bytes(name, damaged);
      EXPECT_EQ(check_read(reader, name), "") << file.name << " change " << c;
      std::remove(name.c_str());
      std::remove((name + ".log").c_str());
    }
  }
}

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
