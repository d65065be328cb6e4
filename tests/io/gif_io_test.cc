// GIF decoder and encoder. References are files made by ImageMagick and
// netpbm (GIF87a, GIF89a, interlaced, animated) from pictures we know, and
// the decoding of our own files by giftopnm and identify; the encoder's
// layout (colour map, code size, sub-blocks) is checked against the bytes.
#include "io/gif_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "array/vms.h"
#include "image_test_tools.h"
#include "io/io_dispatch.h"
#include "support/death.h"
#include "support/qz_mca_program.h"

using image_test::file_exists;
using image_test::read_bytes;
using image_test::run_output;
using image_test::scratch;
using image_test::write_bytes;

namespace {

using Rgb = std::array<int, 3>;

// A GIF89a file written byte by byte: a global and a local colour map (each
// may be empty), and the pixels LZW-coded with literal codes of code_size
// bits as the format lays them out, after the given number of clear codes,
// with an end code or without. Given raw codes, they are the data instead,
// each code_size + 1 bits wide. The coder never clears its table: once 4096
// strings are known it goes on coding with them, as the format allows (our
// writer, like most, clears instead).
struct GifStream {
  int width, height;
  std::vector<int> pixels;
  std::vector<Rgb> global = {}, local = {};
  int code_size = 8;
  int clears = 1;
  bool end_code = true;
  std::vector<int> raw_codes = {};
};

std::string gif_file(const GifStream& s, long* code_bits = nullptr) {
  std::string bytes = "GIF89a";
  auto word = [&](int value) { bytes += static_cast<char>(value & 255), bytes += static_cast<char>(value >> 8); };
  auto map_flags = [](const std::vector<Rgb>& map) {
    int bits = 1;
    while ((1u << bits) < map.size()) bits++;
    return map.empty() ? 0 : 0x80 | (bits - 1);
  };
  auto put_map = [&](const std::vector<Rgb>& map) {
    for (const Rgb& c : map)
      for (int v : c) bytes += static_cast<char>(v);
  };
  word(s.width), word(s.height);
  bytes += {static_cast<char>(map_flags(s.global) | (s.global.empty() ? 0 : 0x70)), 0, 0};
  put_map(s.global);
  bytes += ',';
  word(0), word(0), word(s.width), word(s.height);
  bytes += static_cast<char>(map_flags(s.local));
  put_map(s.local);
  bytes += static_cast<char>(s.code_size);
  const int clear = 1 << s.code_size;
  std::string codes;
  unsigned long long pending = 0;
  int pending_bits = 0, code_width = s.code_size + 1, next = clear + 2;
  long bits = 0;
  auto put = [&](int code) {
    pending |= static_cast<unsigned long long>(code) << pending_bits;
    bits += code_width;
    for (pending_bits += code_width; pending_bits >= 8; pending_bits -= 8, pending >>= 8)
      codes += static_cast<char>(pending & 255);
  };
  for (int k = 0; k < s.clears; k++) put(clear);
  for (int code : s.raw_codes) put(code);
  if (s.raw_codes.empty()) {
    std::map<std::pair<int, int>, int> strings;
    int prefix = s.pixels[0];
    for (std::size_t k = 1; k < s.pixels.size(); k++) {
      const auto known = strings.find({prefix, s.pixels[k]});
      if (known != strings.end()) {
        prefix = known->second;
        continue;
      }
      put(prefix);
      if (next < 4096) strings[{prefix, s.pixels[k]}] = next++;
      if (next > (1 << code_width) && code_width < 12) code_width++;
      prefix = s.pixels[k];
    }
    put(prefix);
    if (s.end_code) put(clear + 1);
  }
  if (pending_bits > 0) codes += static_cast<char>(pending & 255);
  for (std::size_t at = 0; at < codes.size(); at += 255) {
    const std::string block = codes.substr(at, 255);
    bytes += static_cast<char>(block.size());
    bytes += block;
  }
  bytes += {0, ';'};
  if (code_bits != nullptr) *code_bits = bits;
  return bytes;
}

// The grey levels of a GIF: each palette index through the file's colour
// map (red component), as decoded by our reader, and its messages.
std::vector<int> decoded_greys(const std::string& name, int* width = nullptr, std::string* messages = nullptr) {
  PICINFO pic{};
  testing::internal::CaptureStderr();
  readgif(name.c_str(), pic);
  std::string text = testing::internal::GetCapturedStderr();
  if (messages != nullptr) *messages = text;
  if (width != nullptr) *width = pic.width;
  std::vector<int> greys;
  for (long k = 0; k < static_cast<long>(pic.width) * pic.height; k++) greys.push_back(pic.red[pic.pixels[k]]);
  free_buffer(pic.pixels);
  std::free(pic.comment);
  return greys;
}

std::string reference_pgm(const std::string& stem, int width, int height, std::vector<int>* values) {
  *values = image_test::test_pattern(width, height);
  std::string name = scratch(stem + ".pgm");
  write_bytes(name, image_test::pgm_bytes(width, height, *values));
  return name;
}

// A GIF decoded by netpbm's giftopnm: the first sample of each pixel.
std::vector<int> giftopnm_samples(const std::string& gif, int* width = nullptr) {
  image_test::Pnm pnm = image_test::parse_pnm(run_output("giftopnm " + gif + " 2>/dev/null"));
  if (width != nullptr) *width = pnm.width;
  std::vector<int> first;
  for (std::size_t k = 0; k < pnm.samples.size(); k += pnm.channels) first.push_back(pnm.samples[k]);
  return first;
}

// Lengths of the image data sub-blocks of one of our files (no comment).
std::vector<int> data_subblocks(const std::string& bytes) {
  std::size_t pos = 13 + 3 * (1u << ((static_cast<unsigned char>(bytes[10]) & 7) + 1)) + 10 + 1;
  std::vector<int> lengths;
  for (; pos < bytes.size() && bytes[pos] != 0; pos += lengths.back() + 1)
    lengths.push_back(static_cast<unsigned char>(bytes[pos]));
  return lengths;
}

class Gif : public testing::Test {
 protected:
  void SetUp() override {
    io_set_format(F_UNKNOWN);
    IO_RGB.alloc(0);  // an empty table: writers use a grey ramp
  }
};

}  // namespace

TEST_F(Gif, ReadsFilesOfImageMagickAndNetpbm) {
  REQUIRE_TOOL("convert");
  REQUIRE_TOOL("pamtogif");
  REQUIRE_TOOL("giftopnm");
  std::vector<int> values, reversed;
  std::string ref = reference_pgm("ref", 23, 10, &values);
  std::string second = scratch("second.pgm");
  reversed.assign(values.rbegin(), values.rend());
  write_bytes(second, image_test::pgm_bytes(23, 10, reversed));
  // ImageMagick may reduce the colours of a file, so each file's reference
  // is giftopnm's decoding of it (the first frame of an animation); netpbm's
  // files keep every grey level.
  const std::pair<std::string, bool> cases[] = {
      {"convert " + ref + " GIF87:" + scratch("im87.gif"), false},
      {"convert " + ref + " " + scratch("im89.gif"), false},
      {"convert " + ref + " -interlace GIF " + scratch("imlace.gif"), false},
      {"convert -delay 10 " + ref + " " + second + " -loop 0 " + scratch("anim.gif"), false},
      {"pamtogif " + ref + " > " + scratch("pam.gif"), true},
      {"pamtogif -interlace " + ref + " > " + scratch("pamlace.gif"), true}};
  for (const auto& c : cases) {
    ASSERT_EQ(image_test::run(c.first), 0) << c.first;
    std::string gif = c.first.substr(c.first.rfind(' ') + 1);
    if (gif.compare(0, 6, "GIF87:") == 0) gif = gif.substr(6);
    int width = 0;
    std::string messages;
    std::vector<int> greys = decoded_greys(gif, &width, &messages);
    ASSERT_EQ(width, 23) << gif;
    if (gif.find("anim") != std::string::npos) {  // its frames carry their delays
      EXPECT_NE(messages.find("anim.gif:  Graphic Control Extension in GIF file.  Ignored."), std::string::npos);
    }
    EXPECT_EQ(greys, giftopnm_samples(gif)) << gif;
    if (c.second) {
      EXPECT_EQ(greys, values) << gif;
    }
  }
  EXPECT_EQ(read_bytes(scratch("im87.gif")).substr(0, 6), "GIF87a");
  EXPECT_NE(run_output("identify -verbose " + scratch("imlace.gif")).find("Interlace: GIF"), std::string::npos);
  EXPECT_NE(run_output("giftext " + scratch("anim.gif")).find("Image #2"), std::string::npos);
}

TEST_F(Gif, InterlacedPassesFillEveryRowOfShortImages) {
  REQUIRE_TOOL("pamtogif");
  for (int height : {1, 2, 3, 5, 9, 10, 17}) {
    std::vector<int> values;
    std::string ref = reference_pgm("rows" + std::to_string(height), 6, height, &values);
    std::string gif = scratch("rows" + std::to_string(height) + ".gif");
    ASSERT_EQ(image_test::run("pamtogif -interlace " + ref + " > " + gif), 0);
    EXPECT_EQ(decoded_greys(gif), values) << height << " lines";
  }
}

TEST_F(Gif, OurFilesDecodeInIndependentToolsAndInOurReader) {
  REQUIRE_TOOL("giftopnm");
  // Random bytes fill the code table several times (clear codes, 12-bit
  // codes); the smooth pattern makes long strings.
  std::mt19937 random(20261206);
  for (int pattern = 0; pattern < 2; pattern++) {
    const int width = 211, height = 97;
    to_array<int, false> ima(height, width);
    std::vector<int> smooth = image_test::test_pattern(width, height);
    for (int k = 0; k < width * height; k++) ima(k) = pattern == 0 ? static_cast<int>(random() % 256) : smooth[k];
    std::string gif = scratch("ours" + std::to_string(pattern) + ".gif");
    writegif(gif.c_str(), ima, False);
    int w = 0;
    std::vector<int> theirs = giftopnm_samples(gif, &w);
    ASSERT_EQ(w, width);
    ASSERT_EQ(theirs.size(), static_cast<std::size_t>(width * height));
    to_array<int, false> back;
    readgif(gif.c_str(), back);
    for (int k = 0; k < width * height; k++) {
      ASSERT_EQ(theirs[k], ima(k)) << "pixel " << k;
      ASSERT_EQ(back(k), ima(k)) << "pixel " << k;
    }
  }
}

TEST_F(Gif, ColourMapAndCodeStreamLayout) {
  to_array<float, false> ima(40, 50);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = static_cast<float>((k * 37) % 256);
  std::string grey = scratch("grey.gif");
  writegif(grey.c_str(), ima, False);
  std::string bytes = read_bytes(grey);
  EXPECT_EQ(bytes.substr(0, 6), "GIF87a");
  EXPECT_EQ(static_cast<unsigned char>(bytes[10]), 0xF7);  // 8 bits per pixel, global map
  EXPECT_EQ(bytes[13 + 768 + 10], 8);                      // code size byte
  std::vector<int> blocks = data_subblocks(bytes);
  ASSERT_GT(blocks.size(), 1u);
  for (std::size_t b = 0; b + 1 < blocks.size(); b++) EXPECT_EQ(blocks[b], 254);
  EXPECT_LE(blocks.back(), 254);
  EXPECT_EQ(bytes.back(), 0x3B);

  // A palette of one colour: a 2-entry map, 1 bit per pixel, code size 2.
  PICINFO pic{};
  std::vector<unsigned char> pixels(30, 0);
  for (int k = 0; k < 30; k++) pixels[k] = static_cast<unsigned char>(k * 8);
  pic.pixels = pixels.data();
  pic.width = 6;
  pic.height = 5;
  for (int i = 0; i < 256; i++) pic.red[i] = pic.green[i] = pic.blue[i] = 77;
  std::string flat = scratch("flat.gif");
  writegif(flat.c_str(), pic);
  bytes = read_bytes(flat);
  EXPECT_EQ(static_cast<unsigned char>(bytes[10]), 0xF0);
  EXPECT_EQ(bytes[13 + 6 + 10], 2);
  to_array<int, false> back;
  readgif(flat.c_str(), back);
  for (int k = 0; k < 30; k++) EXPECT_EQ(back(k), 0);
  // A 24-bit picture is refused before any file is made.
  pic.kind = 1;
  std::string full = scratch("full.gif");
  EXPECT_EXIT_STATUS(writegif(full.c_str(), pic), 255, "Error: Unable to manage 24 bits");
  EXPECT_FALSE(file_exists(full));
}

// The densest stream an encoder makes (a constant picture: each code one
// pixel longer than the one before) stays within the bound on what a code
// stream can decode to, and the bound is not much looser than that stream.
TEST_F(Gif, LzwBoundHoldsOurDensestStream) {
  for (int side : {64, 2048}) {
    to_array<int, false> flat(side, side);
    std::string name = scratch("flat" + std::to_string(side) + ".gif");
    writegif(name.c_str(), flat, False);
    long long data_bytes = 0;
    for (int length : data_subblocks(read_bytes(name))) data_bytes += length;
    const long long pixels = static_cast<long long>(side) * side, bound = lzw_max_pixels(8 * data_bytes, 9);
    EXPECT_GE(bound, pixels) << side;
    if (side > 1000) {
      EXPECT_LT(bound, 4 * pixels) << side;
    }
    to_array<int, false> back;
    readgif(name.c_str(), back);
    EXPECT_EQ(back.n_elem(), pixels);
  }
}

TEST_F(Gif, WritingClampsOrStretches) {
  to_array<float, false> ima(2, 3);
  const float values[6] = {-5.f, 0.5f, 100.f, 255.9f, 1000.f, 42.f};
  for (int k = 0; k < 6; k++) ima(k) = values[k];
  std::string name = scratch("clamped");
  writegif(name.c_str(), ima, False);
  to_array<int, false> back;
  readgif(name.c_str(), back);  // ".gif" appended as on writing
  const int clamped[6] = {0, 0, 100, 255, 255, 42};
  for (int k = 0; k < 6; k++) EXPECT_EQ(back(k), clamped[k]);
  writegif(name.c_str(), ima, True);
  readgif(name.c_str(), back);
  EXPECT_EQ(back(0) * 1000 + back(4), 255);
  to_array<float, false> constant(3, 3);
  constant.init(12.f);
  writegif(name.c_str(), constant, True);
  readgif(name.c_str(), back);
  for (int k = 0; k < 9; k++) EXPECT_EQ(back(k), 0);
  // Sizes beyond the 16 bits of the descriptors are refused, not cut.
  to_array<float, false> wide(2, 65536);
  std::string too_wide = scratch("too_wide");
  EXPECT_EXIT_STATUS(writegif(too_wide.c_str(), wide, False), 255, "2 x 65536 pixels cannot be written");
  EXPECT_FALSE(file_exists(too_wide + ".gif"));
}

TEST_F(Gif, BlockWiseFilesCarryTheirNameAsComment) {
  std::string name = scratch("blocks.gif");
  writehdgif(name.c_str(), 4, 6);
  to_array<float, false> left(4, 3), right(4, 3);
  for (int k = 0; k < 12; k++) {
    left(k) = static_cast<float>(k);
    right(k) = static_cast<float>(100 + k);
  }
  write_block_gif(left, 0, 0);
  write_block_gif(right, 0, 3);
  EXPECT_EXIT_STATUS(write_block_gif(left, 2, 4), 255, "lies outside");
  closegif(name.c_str());
  PICINFO pic{};
  readgif(name.c_str(), pic);
  ASSERT_NE(pic.comment, nullptr);
  EXPECT_EQ(std::string(pic.comment), name);
  free_buffer(pic.pixels);
  std::free(pic.comment);
  int nl = 0, nc = 0;
  readhdgif(name.c_str(), nl, nc);
  to_array<int, false> block(4, 2);
  read_block_gif(block, 0, 2);
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(block(i, 0), i * 3 + 2);
    EXPECT_EQ(block(i, 1), 100 + i * 3);
  }
  if (image_test::have_tool("identify")) {
    EXPECT_EQ(run_output("identify -format %c " + name), name);
  }
}

TEST_F(Gif, DamagedAndForeignFiles) {
  to_array<int, false> ima(12, 20);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = 1 + (k * 13) % 200;
  std::string good = scratch("good.gif");
  writegif(good.c_str(), ima, False);
  std::string bytes = read_bytes(good);
  to_array<int, false> back;
  const int last = ima.n_elem() - 1;
  // Without its trailer the image decodes, silently.
  write_bytes(scratch("untrailed.gif"), bytes.substr(0, bytes.size() - 1));
  testing::internal::CaptureStderr();
  readgif(scratch("untrailed.gif").c_str(), back);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(back(last), ima(last));
  // Data cut short are refused, naming the file and the pixels missing
  // (the cut file used to read with zeros at the end and a warning).
  write_bytes(scratch("cut.gif"), bytes.substr(0, bytes.size() - 60));
  EXPECT_EXIT_STATUS(readgif(scratch("cut.gif").c_str(), back), 255,
                     "cut.gif is truncated: [0-9]+ of its 20 x 12 pixels are missing.*\nError reading  file .*cut.gif");

  // A GIF87a screen with an aspect byte is refused; so is any other file.
  std::string aspect = bytes;
  aspect[12] = 49;
  write_bytes(scratch("aspect.gif"), aspect);
  EXPECT_EXIT_STATUS(readgif(scratch("aspect.gif").c_str(), back), 255, "screen descriptor.*Error reading  file");
  write_bytes(scratch("text.gif"), "GIF86a and then nothing");
  EXPECT_EXIT_STATUS(readgif(scratch("text.gif").c_str(), back), 255, "not a GIF file");
  // An empty file is said to be one; another that is no GIF is not.
  EXPECT_EXIT_STATUS(readgif(scratch("text.gif").c_str(), back), 255, "Error reading  file .*text.gif\n");
  write_bytes(scratch("empty.gif"), "");
  EXPECT_EXIT_STATUS(readgif(scratch("empty.gif").c_str(), back), 255,
                     "not a GIF file\nError reading  file .*empty.gif; the file is empty\n");
  write_bytes(scratch("noimage.gif"), bytes.substr(0, 13 + 768) + ";");
  EXPECT_EXIT_STATUS(readgif(scratch("noimage.gif").c_str(), back), 255, "no image data found");
  EXPECT_EXIT_STATUS(readgif("-", back), 255, "GIF format cannot be read from standard input");
  EXPECT_EXIT_STATUS(readgif(scratch("absent").c_str(), back), 255, "cannot open file .*absent.gif");
}

// A partial download: a file of netpbm's, plain or interlaced, cut at any
// byte of its image data is refused with the pixels it lacks, more the
// shorter it is, and never read with zeros for them; cut after its data
// (block terminator and trailer lost) it reads whole, silently.
TEST_F(Gif, AFileCutShortIsRefusedWithThePixelsItLacks) {
  REQUIRE_TOOL("pamtogif");
  std::vector<int> values;
  const std::string ref = reference_pgm("download", 37, 23, &values);
  for (const char* interlace : {"", "-interlace "}) {
    SCOPED_TRACE(interlace);
    const std::string gif = scratch("download.gif");
    ASSERT_EQ(image_test::run(std::string("pamtogif ") + interlace + ref + " > " + gif), 0);
    const std::string bytes = read_bytes(gif);
    ASSERT_EQ(decoded_greys(gif), values);
    // The raster's last sub-block ends 2 bytes before the end: its zero
    // terminator and the trailer follow.
    const std::size_t data_end = bytes.size() - 2;
    long previous_missing = 0;
    for (std::size_t kept = data_end - 3; kept > data_end - 400; kept -= 37) {
      SCOPED_TRACE(kept);
      const std::string cut = scratch("partial.gif");
      write_bytes(cut, bytes.substr(0, kept));
      PICINFO pic{};
      std::string messages;
      std::FILE* stream = gif_file_des_in(cut.c_str());
      testing::internal::CaptureStderr();
      const int decoded = readgif(stream, &pic);
      messages = testing::internal::GetCapturedStderr();
      std::fclose(stream);
      EXPECT_EQ(decoded, 0);
      EXPECT_EQ(pic.pixels, nullptr);
      long missing = -1, read = -1;
      const std::size_t at = messages.find(" is truncated: ");
      ASSERT_NE(at, std::string::npos) << messages;
      ASSERT_EQ(std::sscanf(messages.c_str() + at, " is truncated: %ld of its 37 x 23 pixels are missing (its data end after %ld)",
                            &missing, &read), 2) << messages;
      EXPECT_EQ(missing + read, 37 * 23);
      EXPECT_GT(missing, previous_missing);
      previous_missing = missing;
    }
    // Cut after the data: the terminator and the trailer lost read whole.
    write_bytes(scratch("untrailed.gif"), bytes.substr(0, data_end));
    std::string messages;
    EXPECT_EQ(decoded_greys(scratch("untrailed.gif"), nullptr, &messages), values);
    EXPECT_EQ(messages, "");
  }
}

// A table kept full to the end is no sign of a file cut short: every pixel
// decodes, as netpbm decodes it.
TEST_F(Gif, AFullCodeTableThatIsNeverClearedKeepsDecoding) {
  std::mt19937 random(7);
  std::vector<int> pixels(120 * 100);
  for (int& pixel : pixels) pixel = static_cast<int>(random() % 256);
  const std::string gif = scratch("unclear.gif");
  GifStream stream{120, 100, pixels};
  for (int k = 0; k < 256; k++) stream.global.push_back({k, k, k});
  write_bytes(gif, gif_file(stream));
  std::string messages;
  EXPECT_EQ(decoded_greys(gif, nullptr, &messages), pixels);
  EXPECT_EQ(messages, "");
  if (image_test::have_tool("giftopnm")) {
    EXPECT_EQ(giftopnm_samples(gif), pixels);
  }
}

TEST_F(Gif, ReadingFillsTheColourTableThatLaterWritesUse) {
  REQUIRE_TOOL("pamtogif");
  std::vector<int> values;
  std::string ref = reference_pgm("palette", 9, 4, &values);
  std::string gif = scratch("palette.gif");
  ASSERT_EQ(image_test::run("pamtogif " + ref + " > " + gif), 0);
  to_array<float, false> indices;
  io_read_ima_float(gif.c_str(), indices);
  EXPECT_EQ(Format_Imag, F_GIF);
  ASSERT_GT(IO_RGB.lut_size(), 0);
  std::string copy = scratch("copy.gif");
  io_write_ima_float(copy.c_str(), indices);
  EXPECT_EQ(decoded_greys(copy), values);
}

namespace {

// A GIF of two pixels (by default both colour 0) and the given colour map,
// made by giflib's gifbuild; a map shorter than a power of two is filled up
// with black, as encoders do.
std::string gifbuild_file(const std::string& stem, const std::vector<Rgb>& map, int second_pixel = 0) {
  std::size_t size = 2;
  while (size < map.size()) size *= 2;
  std::string text = "screen width 2\nscreen height 1\nscreen colors " + std::to_string(size) +
                     "\nscreen background 0\npixel aspect byte 0\nscreen map\n";
  for (std::size_t i = 0; i < size; i++) {
    const Rgb c = i < map.size() ? map[i] : Rgb{0, 0, 0};
    text += "\trgb " + std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]) + "\n";
  }
  char pixels[8];
  std::snprintf(pixels, sizeof pixels, "00%02x", second_pixel);
  text += "end\n\nimage # 1\nimage left 0\nimage top 0\nimage bits 2 by 1 hex\n" + std::string(pixels) + "\n";
  write_bytes(scratch(stem + ".txt"), text);
  const std::string gif = scratch(stem + ".gif");
  EXPECT_EQ(image_test::run("gifbuild " + scratch(stem + ".txt") + " > " + gif), 0);
  return gif;
}

// Each pixel's colour as netpbm's giftopnm decodes it.
std::vector<Rgb> giftopnm_colours(const std::string& gif) {
  image_test::Pnm pnm = image_test::parse_pnm(run_output("giftopnm " + gif + " 2>/dev/null"));
  const int last = pnm.channels - 1;  // a grey image has one sample
  std::vector<Rgb> colours;
  for (std::size_t k = 0; k < pnm.samples.size(); k += pnm.channels)
    colours.push_back({pnm.samples[k], pnm.samples[k + (last > 0 ? 1 : 0)], pnm.samples[k + last]});
  return colours;
}

}  // namespace

// Pixels of a GIF are palette indices, and results are written with the
// input's palette: a value past its last colour must show that colour, not
// the black that fills the map up or a grey of the ramp past a short map.
TEST_F(Gif, WrittenValuesStayWithinTheInputPalette) {
  REQUIRE_TOOL("gifbuild");
  REQUIRE_TOOL("giftopnm");
  const char* const stems[] = {"padded", "inverted", "short", "full", "inverted_unused"};
  std::vector<Rgb> maps[5];
  for (int i = 0; i <= 250; i++) {
    maps[0].push_back({i, i, i});
    maps[1].push_back({(250 - i) * 255 / 250, (250 - i) / 2, 250 - i});  // black its own last colour
  }
  for (int i = 0; i < 16; i++) maps[2].push_back({17 * i, 0, 255 - 17 * i});
  for (int i = 0; i < 256; i++) maps[3].push_back({255 - i, i / 2, 7});
  // The inverted map again, its image using none of its black: the map
  // darkens down to it, so it is a colour of the map, not the filling.
  maps[4] = maps[1];
  const float values[] = {-3.f, 0.f, 1.f, 14.f, 15.f, 16.f, 100.f, 249.f, 250.f, 251.f, 253.f, 255.f, 300.f};
  const int count = static_cast<int>(std::size(values));
  for (int p = 0; p < 5; p++) {
    const std::vector<Rgb>& map = maps[p];
    const std::string stem = stems[p];
    SCOPED_TRACE(stem);
    to_array<float, false> input, ima(1, count), ramp(1, 64);
    // Black ends the inverted map as a colour its image uses: unused, it
    // would pass for the filling after it.
    readgif(gifbuild_file(stem, map, p == 1 ? 250 : 0).c_str(), input);
    for (int k = 0; k < count; k++) ima(k) = values[k];
    writegif(scratch(stem + "_clamped.gif").c_str(), ima, False);
    std::vector<Rgb> shown = giftopnm_colours(scratch(stem + "_clamped.gif"));
    ASSERT_EQ(static_cast<int>(shown.size()), count);
    const int last = static_cast<int>(map.size()) - 1;
    for (int k = 0; k < count; k++)
      EXPECT_EQ(shown[k], map[std::clamp(static_cast<int>(values[k]), 0, last)]) << "value " << values[k];
    // Stretched, the image's extremes take the palette's first and last
    // colours, and every pixel one of its colours.
    for (int k = 0; k < 64; k++) ramp(k) = 1000.f * k;
    writegif(scratch(stem + "_stretched.gif").c_str(), ramp, True);
    shown = giftopnm_colours(scratch(stem + "_stretched.gif"));
    ASSERT_EQ(shown.size(), 64u);
    EXPECT_EQ(shown.front(), map.front());
    EXPECT_EQ(shown.back(), map.back());
    for (const Rgb& c : shown) EXPECT_NE(std::find(map.begin(), map.end(), c), map.end()) << testing::PrintToString(c);
  }
}

// A write that fails says why, and leaves the link and the device it
// reached as they were.
TEST_F(Gif, FailedWriteSaysWhy) {
  const std::string name = scratch("device.gif");
  ASSERT_EQ(symlink("/dev/full", name.c_str()), 0);  // every write fails
  to_array<float, false> ima(20, 30);
  EXPECT_EXIT_STATUS(writegif(const_cast<char*>(name.c_str()), ima, False), 255,
                     "Error writing  file \\(.*device.gif: No space left on device\\)");
  EXPECT_EQ(fits_test::link_text(name), "/dev/full");
}

namespace {

// Pixels, their colours, the messages and the run's colour table after a
// GIF is read.
struct Decoded {
  std::vector<int> indices;
  std::vector<Rgb> colours;
  std::string messages;
  std::vector<Rgb> table;  // IO_RGB's entries
};

Decoded decode(const std::string& gif) {
  Decoded d;
  PICINFO pic{};
  std::FILE* stream = gif_file_des_in(gif.c_str());
  testing::internal::CaptureStderr();
  const int decoded = readgif(stream, &pic);
  d.messages = testing::internal::GetCapturedStderr();
  std::fclose(stream);
  if (decoded != 1) d.messages += "(not decoded)";
  for (long k = 0; k < static_cast<long>(pic.width) * pic.height; k++) {
    const int i = pic.pixels[k];
    d.indices.push_back(i);
    d.colours.push_back({pic.red[i], pic.green[i], pic.blue[i]});
  }
  for (int i = 0; i < IO_RGB.lut_size(); i++) d.table.push_back({IO_RGB.red(i), IO_RGB.green(i), IO_RGB.blue(i)});
  free_buffer(pic.pixels);
  std::free(pic.comment);
  return d;
}

std::vector<int> pattern(int width, int height, int x_step, int y_step, int modulo) {
  std::vector<int> values;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) values.push_back((x_step * x + y_step * y) % modulo);
  return values;
}

std::vector<Rgb> grey_map(int entries) {
  std::vector<Rgb> map;
  for (int i = 0; i < entries; i++) map.push_back({i, i, i});
  return map;
}

}  // namespace

// An image with its own colour map: its pixels are the literal codes of its
// own code size, whatever the global map's size, and they show the local
// map's colours, which become the run's colour table, as netpbm shows them.
TEST_F(Gif, AnImageWithItsOwnColourMap) {
  std::vector<Rgb> rainbow, four = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {250, 5, 9}}, sixteen;
  for (int i = 0; i < 256; i++) rainbow.push_back({i, 255 - i, (7 * i) % 256});
  for (int i = 0; i < 16; i++) sixteen.push_back({16 * i, 255 - 8 * i, 100});
  struct Case {
    const char* stem;
    std::vector<Rgb> global, local;
    int code_size;
    std::vector<int> pixels;
  };
  const Case cases[] = {
      {"local256_global2", {{0, 0, 0}, {255, 255, 255}}, rainbow, 8, pattern(64, 64, 5, 3, 256)},
      {"local4_global256", grey_map(256), four, 2, pattern(64, 64, 1, 1, 4)},
      {"local16_no_global", {}, sixteen, 4, pattern(64, 64, 3, 1, 16)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stem);
    const std::string gif = scratch(std::string(c.stem) + ".gif");
    write_bytes(gif, gif_file({64, 64, c.pixels, c.global, c.local, c.code_size}));
    IO_RGB.alloc(0);
    const Decoded d = decode(gif);
    EXPECT_EQ(d.messages, "");
    ASSERT_EQ(d.indices, c.pixels);
    std::vector<Rgb> expected;
    for (int p : c.pixels) expected.push_back(c.local[p]);
    EXPECT_EQ(d.colours, expected);
    EXPECT_EQ(d.table, c.local);
    if (image_test::have_tool("giftopnm")) {
      EXPECT_EQ(giftopnm_colours(gif), expected);
    }
  }
}

// Streams that encoders make and netpbm reads: no clear code first, two in
// a row, literal codes narrower than the colour map, and data that end on
// a byte with the last pixel's code and no end code. Each reads as written,
// silently.
TEST_F(Gif, ValidCodeStreamsReadAsWritten) {
  std::mt19937 random(54);
  std::vector<int> noisy(40 * 30);
  for (int& v : noisy) v = static_cast<int>(random() % 256);
  GifStream byte_end{1, 1, {}, grey_map(256)};
  byte_end.end_code = false;
  long bits = 1;
  for (int width = 2; bits % 8 != 0; width++) {  // the last code's bits end a byte
    byte_end.width = width;
    byte_end.pixels = pattern(width, 1, 1, 0, 7);
    gif_file(byte_end, &bits);
  }
  struct Case {
    const char* stem;
    GifStream stream;
  };
  const Case cases[] = {
      {"no_clear", {40, 30, noisy, grey_map(256), {}, 8, 0}},
      {"two_clears", {40, 30, noisy, grey_map(256), {}, 8, 2}},
      {"code_size_2", {40, 30, pattern(40, 30, 1, 2, 4), grey_map(256), {}, 2}},
      {"no_clear_code_size_2", {40, 30, pattern(40, 30, 3, 1, 4), grey_map(256), {}, 2, 0}},
      {"byte_end", byte_end},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stem);
    const std::string gif = scratch(std::string(c.stem) + ".gif");
    write_bytes(gif, gif_file(c.stream));
    const Decoded d = decode(gif);
    EXPECT_EQ(d.messages, "");
    EXPECT_EQ(d.indices, c.stream.pixels);
    if (image_test::have_tool("giftopnm")) {
      EXPECT_EQ(giftopnm_samples(gif), c.stream.pixels);
    }
  }
}

// Codes no encoder writes are refused, saying which.
TEST_F(Gif, UndefinedCodesAreRefused) {
  struct Case {
    const char* stem;
    int code_size;
    std::vector<int> codes;
    const char* message;
  };
  const Case cases[] = {
      {"ahead", 2, {1, 7, 2, 5}, "LZW code 7 not yet defined"},  // the next string to define is 6
      {"first", 2, {6, 1, 5}, "LZW code 6 not yet defined"},     // nothing is defined after a clear
      {"wide", 9, {300, 2, 513}, "pixel value 300 above 255"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stem);
    const std::string gif = scratch(std::string(c.stem) + ".gif");
    GifStream stream{4, 1, {}, grey_map(256), {}, c.code_size};
    stream.raw_codes = c.codes;
    write_bytes(gif, gif_file(stream));
    to_array<int, false> back;
    EXPECT_EXIT_STATUS(readgif(gif.c_str(), back), 255,
                       std::string("Error: corrupt GIF file \\(") + c.message + "\\)\nError reading  file ");
  }
}

// Grey images without black, as PIL, ImageMagick and netpbm write them:
// their colour map is filled up to 256 entries with black, which is no
// colour of the image. Results written with the input's palette then never
// show black.
TEST_F(Gif, FillingOfAColourMapIsNoColourOfTheImage) {
  const std::vector<int> greys = pattern(50, 40, 7, 11, 250);
  std::vector<int> shown;
  for (int g : greys) shown.push_back(5 + g);
  const std::string pgm = scratch("grey250.pgm");
  write_bytes(pgm, image_test::pgm_bytes(50, 40, shown));
  std::vector<std::string> files = {std::string(QZ_SOURCE_DIR) + "/tests/io/data/gif/grey250.gif"};
  // ImageMagick dithers a grey image onto fewer of its greys unless told not to.
  if (image_test::have_tool("convert") && image_test::run("convert " + pgm + " +dither " + scratch("im.gif")) == 0)
    files.push_back(scratch("im.gif"));
  if (image_test::have_tool("pamtogif") && image_test::run("pamtogif " + pgm + " > " + scratch("pam.gif")) == 0)
    files.push_back(scratch("pam.gif"));
  const float values[] = {-3.f, 0.f, 100.f, 248.f, 249.f, 250.f, 251.f, 255.f, 300.f};
  const int count = static_cast<int>(std::size(values));
  for (const std::string& gif : files) {
    SCOPED_TRACE(gif);
    const Decoded d = decode(gif);
    std::vector<int> red;
    for (const Rgb& c : d.colours) red.push_back(c[0]);
    ASSERT_EQ(red, shown);
    if (image_test::have_tool("giftopnm")) {
      EXPECT_EQ(giftopnm_samples(gif), shown);
    }
    ASSERT_EQ(d.table.size(), 250u);  // the black entries past the last grey left out
    EXPECT_EQ(std::count(d.table.begin(), d.table.end(), Rgb{0, 0, 0}), 0);
    to_array<float, false> ima(1, count);
    for (int k = 0; k < count; k++) ima(k) = values[k];
    const std::string out = scratch("result.gif");
    writegif(out.c_str(), ima, False);
    if (image_test::have_tool("giftopnm")) {
      const std::vector<Rgb> written = giftopnm_colours(out);
      ASSERT_EQ(static_cast<int>(written.size()), count);
      for (int k = 0; k < count; k++)
        EXPECT_EQ(written[k], d.table[std::clamp(static_cast<int>(values[k]), 0, 249)]) << values[k];
    }
  }
  // Four greys under 8-bit codes: a map narrower than the codes.
  const Decoded four = decode(std::string(QZ_SOURCE_DIR) + "/tests/io/data/gif/grey4.gif");
  std::vector<int> red;
  for (const Rgb& c : four.colours) red.push_back(c[0]);
  std::vector<int> expected = pattern(30, 20, 1, 1, 4);
  for (int& v : expected) v *= 60;
  EXPECT_EQ(red, expected);
  EXPECT_EQ(four.table.size(), 4u);
}

namespace {

// Files of PIL, ImageMagick and netpbm, grey and colour, whose pictures hold
// no black while their colour maps end in black filling (see
// data/gif/make_files.py), and the entries of their maps before that
// filling, counted in the maps as giftext lists them.
struct FilledMap {
  const char* file;
  int colours;  // of the run's colour table
};
const FilledMap kFilledMaps[] = {
    {"pil_grey255.gif", 255},       // 255 greys, one black entry
    {"im_grey.gif", 255},           // unused greys and white past the last grey used, one black
    {"im_grey_colors200.gif", 41},  // 40 greys used, one unused, black from 41 on
    {"pam_grey.gif", 255},
    {"pil_colour.gif", 99},          // 99 colours, black from 99 on
    {"im_colour.gif", 99},
    {"ppm_colour.gif", 99},
};

std::string data_gif(const char* file) { return std::string(QZ_SOURCE_DIR) + "/tests/io/data/gif/" + file; }

class GifProgram : public QzMcaProgram {};

}  // namespace

// Values at and past the end of the colours used: the filling never shows,
// and a value past the table takes its last colour, which may be one the
// picture does not use (ImageMagick's unused greys are its map's colours).
TEST_F(Gif, ResultsNeverTakeTheFillingOfPilImageMagickAndNetpbmMaps) {
  REQUIRE_TOOL("giftopnm");
  for (const FilledMap& m : kFilledMaps) {
    SCOPED_TRACE(m.file);
    const Decoded d = decode(data_gif(m.file));
    ASSERT_EQ(std::count(d.colours.begin(), d.colours.end(), Rgb{0, 0, 0}), 0);
    ASSERT_EQ(static_cast<int>(d.table.size()), m.colours);
    EXPECT_EQ(std::count(d.table.begin(), d.table.end(), Rgb{0, 0, 0}), 0);
    const int highest = *std::max_element(d.indices.begin(), d.indices.end());
    std::vector<float> values;
    for (int v = highest - 2; v <= 256; v++) values.push_back(static_cast<float>(v));
    values.push_back(1000.f);
    to_array<float, false> ima(1, static_cast<int>(values.size()));
    for (std::size_t k = 0; k < values.size(); k++) ima(static_cast<int>(k)) = values[k];
    const std::string out = scratch("filled_result.gif");
    writegif(out.c_str(), ima, False);
    const std::vector<Rgb> shown = giftopnm_colours(out);
    ASSERT_EQ(shown.size(), values.size());
    for (std::size_t k = 0; k < values.size(); k++)
      EXPECT_EQ(shown[k], d.table[std::min(static_cast<int>(values[k]), m.colours - 1)]) << values[k];
  }
}

// The whole program on those files: no result shows black, the colour that
// fills their maps. The sums and the a trous components of the brightest
// parts pass the highest index the pictures use.
TEST_F(GifProgram, ResultsOfFilesWithoutBlackShowNoBlack) {
  REQUIRE_TOOL("giftopnm");
  for (const FilledMap& m : kFilledMaps) {
    SCOPED_TRACE(m.file);
    ASSERT_EQ(image_test::run("cp " + data_gif(m.file) + " '" + path("in.gif") + "'"), 0);
    ASSERT_EQ(run("-t 1 -t 5 -i 10 -g 2 in.gif o"), 0) << output_;
    for (const char* name : {"o.gif", "o_atrou.gif", "o_cos.gif", "o_resi.gif"}) {
      const std::vector<Rgb> shown = giftopnm_colours(path(name));
      ASSERT_EQ(shown.size(), 64u * 64u) << name;
      EXPECT_EQ(std::count(shown.begin(), shown.end(), Rgb{0, 0, 0}), 0) << name;
    }
  }
}

// Pixels past the colour map have no colour: netpbm and ImageMagick refuse
// them, and so do we, whatever the code size allows.
TEST_F(Gif, PixelsPastTheColourMapAreRefused) {
  struct Case {
    const char* stem;
    GifStream stream;
    const char* message;
  };
  const Case cases[] = {
      {"global4", {10, 4, pattern(10, 4, 1, 3, 10), grey_map(4), {}, 4}, "colour 9, past its map of 4 colours"},
      {"local2", {8, 2, pattern(8, 2, 1, 1, 3), grey_map(256), grey_map(2), 2}, "colour 2, past its map of 2 colours"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stem);
    const std::string gif = scratch(std::string(c.stem) + ".gif");
    write_bytes(gif, gif_file(c.stream));
    if (image_test::have_tool("giftopnm")) {
      EXPECT_NE(image_test::run("giftopnm " + gif + " > /dev/null"), 0);
    }
    to_array<float, false> back;
    EXPECT_EXIT_STATUS(readgif(gif.c_str(), back), 255,
                       std::string("Error: corrupt GIF file: its pixels use ") + c.message + " \\(.*" + c.stem +
                           ".gif\\)\nError reading  file ");
  }
  // The last colour of the map is still one.
  const std::string edge = scratch("edge.gif");
  write_bytes(edge, gif_file({10, 4, pattern(10, 4, 1, 3, 4), grey_map(4), {}, 4}));
  EXPECT_EQ(decode(edge).indices, pattern(10, 4, 1, 3, 4));
}

// A black that ends the map is a colour of the image when the image uses
// it, even after a map that darkens (white, then yellow) where filling would
// follow: its pixels read, and are written back, black.
TEST_F(Gif, AUsedBlackThatEndsTheMapIsTheImagesColour) {
  const std::vector<Rgb> map = {{64, 64, 64}, {255, 255, 255}, {255, 255, 0}, {0, 0, 0}};
  const std::vector<int> pixels = pattern(8, 3, 1, 2, 4);  // every index, black among them
  struct Case {
    const char* stem;
    GifStream stream;
  };
  const Case cases[] = {
      {"global_black", {8, 3, pixels, map, {}, 2}},
      {"local_black", {8, 3, pixels, grey_map(2), map, 2}},
  };
  std::vector<Rgb> expected;
  for (int p : pixels) expected.push_back(map[p]);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stem);
    const std::string gif = scratch(std::string(c.stem) + ".gif");
    write_bytes(gif, gif_file(c.stream));
    IO_RGB.alloc(0);
    const Decoded d = decode(gif);
    EXPECT_EQ(d.messages, "");
    EXPECT_EQ(d.colours, expected);
    EXPECT_EQ(d.table, map);
    to_array<float, false> indices;
    readgif(gif.c_str(), indices);
    const std::string copy = scratch(std::string(c.stem) + "_copy.gif");
    writegif(copy.c_str(), indices, False);
    EXPECT_EQ(decode(copy).colours, expected);
  }
}
