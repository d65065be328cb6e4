// Binary PGM: the exact header we write, clamping and the single-precision
// stretch, header parsing with comments, the refusals (16-bit, wrong magic,
// bad numbers, early end of file, short data), blocks wider than any fixed
// line buffer, and agreement with netpbm in both directions.
#include "io/pgm_io.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_test_tools.h"
#include "io/fits_io.h"
#include "support/death.h"

using image_test::file_exists;
using image_test::pgm_bytes;
using image_test::read_bytes;
using image_test::run_output;
using image_test::scratch;
using image_test::write_bytes;

namespace {

std::string pixel_bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

// Bytes of a 1 x n float image written with rescaling.
std::string stretched(std::initializer_list<float> values) {
  to_array<float, false> ima(1, static_cast<int>(values.size()));
  int k = 0;
  for (float v : values) ima(k++) = v;
  std::string name = scratch("stretch");
  writepgm(name.c_str(), ima, True);
  std::string bytes = read_bytes(name + ".pgm");
  return bytes.substr(bytes.size() - values.size());
}

}  // namespace

TEST(PgmWriter, HeaderCarriesTheGivenNameAndClampsValues) {
  to_array<float, false> ima(2, 3);
  const float values[6] = {-4.f, 0.6f, 255.5f, 300.f, 17.9f, 128.f};
  for (int k = 0; k < 6; k++) ima(k) = values[k];
  std::string name = scratch("img");
  writepgm(name.c_str(), ima, False);
  EXPECT_EQ(read_bytes(name + ".pgm"), "P5\n#" + name + "\n3 2\n255\n" + pixel_bytes({0, 0, 255, 255, 17, 128}));
  to_array<float, false> empty;
  EXPECT_EXIT_STATUS(writepgm(scratch("empty").c_str(), empty, False), 255, "image of 0 x 0 pixels");
  EXPECT_FALSE(file_exists(scratch("empty.pgm")));
  EXPECT_EQ(pgmname("a.pgm.old"), "a.pgm.old");
  EXPECT_EQ(pgmname("a"), "a.pgm");
  // Line ends in the name would end the comment early: the file reads back.
  for (const char* odd : {"cr\r8 8", "nl\n8 8"}) {
    const std::string odd_name = scratch(odd);
    writepgm(odd_name.c_str(), ima, False);
    to_array<float, false> back;
    readpgm(odd_name.c_str(), back);
    ASSERT_EQ(back.n_elem(), 6) << odd;
    EXPECT_EQ(back(4), 17.f) << odd;
  }
}

TEST(PgmWriter, StretchUsesASinglePrecisionStep) {
  // The step (30 - 10) / 255 rounded to single lies above 20/255, so 30 maps to 254.
  EXPECT_EQ(stretched({10.f, 20.f, 30.f}), pixel_bytes({0, 127, 254}));
  EXPECT_EQ(stretched({0.f, 255.f}), pixel_bytes({0, 255}));
  EXPECT_EQ(stretched({0.f, 100.f}), pixel_bytes({0, 255}));
  EXPECT_EQ(stretched({7.f, 7.f, 7.f}), pixel_bytes({0, 0, 0}));
  // An int image takes the same single-precision step.
  to_array<int, false> ints(1, 3);
  ints(0) = 10, ints(1) = 20, ints(2) = 30;
  writepgm(scratch("ints").c_str(), ints, True);
  const std::string bytes = read_bytes(scratch("ints.pgm"));
  EXPECT_EQ(bytes.substr(bytes.size() - 3), pixel_bytes({0, 127, 254}));
}

TEST(PgmReader, CommentsAndBlankLinesInTheHeader) {
  std::string name = scratch("commented.pgm");
  write_bytes(name, "# made by hand\nP5\n# width next\n\n\n4 # height follows\n2\n255\n" +
                        pixel_bytes({1, 2, 3, 4, 5, 6, 7, 8}));
  to_array<int, false> ima;
  readpgm(name.c_str(), ima);
  ASSERT_EQ(ima.nl(), 2);
  ASSERT_EQ(ima.nc(), 4);
  for (int k = 0; k < 8; k++) EXPECT_EQ(ima(k), k + 1);
  int nl = 0, nc = 0;
  readhdpgm(name.c_str(), nl, nc);
  EXPECT_EQ(nl * 10 + nc, 24);
  // Trailing bytes after the pixels (a second image, padding) are not pixels.
  write_bytes(name, pgm_bytes(2, 2, {9, 8, 7, 6}) + "junk");
  readpgm(name.c_str(), ima);
  EXPECT_EQ(ima(0) * 10 + ima(3), 96);
}

// Comments in every place of a header, as netpbm and ImageMagick read them:
// one right after the maximum value is part of the header, and the pixels
// start after the line end that closes it (a carriage return alone ends it
// too); any byte after that, a blank, a line feed or a second '#', is a
// pixel. Pixels are (7 x + 11 y + 3) mod 256, after the bytes `lead` that the
// header leaves to the pixels.
TEST(PgmReader, CommentsAnywhereInTheHeaderAsNetpbmReadsThem) {
  const int width = 16, height = 8;
  std::string closed_form;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) closed_form += static_cast<char>((7 * x + 11 * y + 3) % 256);
  const struct {
    const char* stem;
    std::string header, lead;
  } cases[] = {
      {"after_max", "P5\n16 8\n255# comment\n", ""},
      {"after_max_cr", "P5\n16 8\n255# comment\r", ""},
      {"after_max_crlf", "P5\n16 8\n255# comment\r\n", "\n"},
      {"blank_then_comment", "P5\n16 8\n255 # comment\n", "# comment\n"},
      {"two_after_max", "P5\n16 8\n255#one\n#two\n", "#two\n"},
      {"after_magic", "P5# c\n16 8\n255\n", ""},
      {"after_width_cr", "P5\n16# c\r8\n255\n", ""},
      {"after_height", "P5\n16 8# c\n255\n", ""},
      {"own_line", "P5\n16 8\n# c\n255\n", ""},
  };
  const bool netpbm = image_test::have_tool("pnmtopnm"), magick = image_test::have_tool("convert");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stem);
    const std::string name = scratch(std::string(c.stem) + ".pgm");
    write_bytes(name, c.header + closed_form);
    const std::string expected = (c.lead + closed_form).substr(0, width * height);
    to_array<int, false> ima;
    readpgm(name.c_str(), ima);
    ASSERT_EQ(ima.nl(), height);
    ASSERT_EQ(ima.nc(), width);
    for (int k = 0; k < width * height; k++) ASSERT_EQ(ima(k), static_cast<unsigned char>(expected[k])) << k;
    to_array<float, false> block(2, 3);
    read_block_pgm(name.c_str(), block, 5, 9);
    EXPECT_EQ(block(1, 2), static_cast<unsigned char>(expected[6 * width + 11]));
    if (netpbm) {  // what follows the first image is no concern here
      const image_test::Pnm theirs = image_test::parse_pnm(run_output("pnmtopnm " + name + " 2>/dev/null | cat"));
      ASSERT_EQ(theirs.samples.size(), expected.size());
      for (int k = 0; k < width * height; k++)
        ASSERT_EQ(theirs.samples[k], static_cast<unsigned char>(expected[k])) << k;
    }
    if (magick) {
      EXPECT_EQ(run_output("convert " + name + " -depth 8 gray:- 2>/dev/null | cat"), expected);
    }
  }
}

TEST(PgmReader, MalformedFilesStopWithAMessage) {
  to_array<float, false> ima;
  auto file = [](const std::string& stem, const std::string& bytes) {
    std::string name = scratch(stem + ".pgm");
    write_bytes(name, bytes);
    return name;
  };
  // Past 255 a sample takes two bytes (256 included): reading them as bytes
  // would give an image of the wrong values; 0 has no grey level at all.
  for (unsigned maxval : {0u, 256u, 65535u}) {
    const std::string name = file("deep" + std::to_string(maxval), "P5\n2 2\n" + std::to_string(maxval) + "\n" +
                                                                     std::string(8, '\1'));
    EXPECT_EXIT_STATUS(readpgm(name.c_str(), ima), 255, "maximum value " + std::to_string(maxval) + ";");
  }
  for (unsigned maxval : {1u, 255u}) {
    readpgm(file("byte", "P5\n2 2\n" + std::to_string(maxval) + "\n" + pixel_bytes({1, 0, 1, 1})).c_str(), ima);
    EXPECT_EQ(ima(0) + ima(1) + ima(2) + ima(3), 3.f) << maxval;
  }
  EXPECT_EXIT_STATUS(readpgm(file("ascii", "P2\n2 2\n255\n1 2 3 4\n").c_str(), ima), 255, "Unable to read file: ");
  EXPECT_EXIT_STATUS(readpgm(file("word", "P5\nwide 2\n255\n").c_str(), ima), 1, "Error parsing file!");
  EXPECT_EXIT_STATUS(readpgm(file("empty", "").c_str(), ima), 255, "header of .*empty.pgm ends");
  EXPECT_EXIT_STATUS(readpgm(file("nomagic", "no magic here at all").c_str(), ima), 255, "ends before");
  EXPECT_EXIT_STATUS(readpgm(file("incomment", "P5\n# never ends").c_str(), ima), 255, "ends before");
  // An empty file is said to be one; a header that merely ends is not.
  EXPECT_EXIT_STATUS(readpgm(file("empty", "").c_str(), ima), 255,
                     "header of .*empty.pgm ends before its pixels \\.\\.\\.; the file is empty\n");
  EXPECT_EXIT_STATUS(readpgm(file("incomment", "P5\n# never ends").c_str(), ima), 255,
                     "ends before its pixels \\.\\.\\.\n");
  EXPECT_EXIT_STATUS(readpgm(file("short", "P5\n4 4\n255\n" + std::string(15, 'x')).c_str(), ima), 255,
                     "Unable to read file: .*short.pgm");
  EXPECT_EXIT_STATUS(readpgm(file("zero", "P5\n0 4\n255\n").c_str(), ima), 255, "PGM size of 0");
  EXPECT_EXIT_STATUS(readpgm(file("huge", "P5\n99999 99999\n255\n" + std::string(10, 'x')).c_str(), ima), 255,
                     "too large");
  EXPECT_EXIT_STATUS(readpgm("-", ima), 255, "PGM format cannot be read from standard input");
  EXPECT_EXIT_STATUS(readpgm(scratch("absent").c_str(), ima), 255, "Error: Unable to open file: ");
}

// Files of the other Netpbm kinds, and a PGM cut short, as the Netpbm tools
// and head make them: the refusal says what the file is, or by how many
// bytes it is short.
TEST(PgmReader, OtherNetpbmKindsAndCutFilesSayWhy) {
  REQUIRE_TOOL("pgmramp");
  REQUIRE_TOOL("pnmtoplainpnm");
  REQUIRE_TOOL("ppmmake");
  REQUIRE_TOOL("pamdepth");
  const std::string ramp = scratch("ramp.pgm");
  ASSERT_EQ(image_test::run("pgmramp -lr 16 16 > " + ramp), 0);
  const long long size = static_cast<long long>(read_bytes(ramp).size());
  const struct {
    const char* stem;
    std::string command, message;
  } cases[] = {
      {"plain", "pnmtoplainpnm " + ramp,
       "it is a plain \\(ASCII\\) PGM file, P2; only binary 8-bit PGM files \\(P5\\) are read; convert it"},
      {"colour", "ppmmake red 16 16", "it is a binary PPM colour image, P6; only binary"},
      {"bitmap", "pgmramp -lr 16 16 | pamditherbw | pamtopnm", "it is a binary PBM bitmap, P4"},
      {"deep", "pamdepth 65535 " + ramp, "it has the maximum value 65535; only binary 8-bit.* are read; convert it"},
      {"cut", "head -c " + std::to_string(size - 37) + " " + ramp,
       "it is short by 37 bytes \\(16 x 16 pixels need 256 bytes after the header, it holds 219\\)"},
  };
  to_array<float, false> ima;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stem);
    const std::string name = scratch(std::string(c.stem) + ".pgm");
    if (std::string(c.stem) == "bitmap" && !image_test::have_tool("pamditherbw")) continue;
    ASSERT_EQ(image_test::run(c.command + " > " + name), 0);
    EXPECT_EXIT_STATUS(readpgm(name.c_str(), ima), 255, "Unable to read file: .*" + std::string(c.stem) + ".pgm: " + c.message);
  }
}

// The conversions the refusals of plain and 16-bit files name, done with
// the netpbm tools on the machine, give files that read, with the values
// the refused file holds (16 bits in FITS) or its 8-bit scaling.
TEST(PgmReader, TheConversionsAdvisedForPlainAnd16BitFilesRead) {
  for (const char* tool : {"pgmramp", "pnmtoplainpnm", "pamdepth", "pamtopnm", "pamtofits"}) REQUIRE_TOOL(tool);
  const std::string ramp = scratch("ramp.pgm"), deep = scratch("deep.pgm");
  ASSERT_EQ(image_test::run("pgmramp -lr 16 16 > " + ramp), 0);
  ASSERT_EQ(image_test::run("pamdepth 65535 " + ramp + " > " + deep), 0);  // every value times 257
  to_array<float, false> bytes, ima;
  readpgm(ramp.c_str(), bytes);
  const std::string plain_advice =
      "; convert it with netpbm: pamtopnm writes it as binary PGM when its maximum value is at most 255, pamtofits "
      "as FITS with every value kept\n";
  const std::string deep_advice =
      "; convert it with netpbm: pamtofits writes it as FITS with every value kept, pamdepth 255 as 8-bit PGM\n";
  const struct {
    const char* stem;
    std::string made, advice, converted;
    float factor;  // of the values read against the 8-bit ramp's
  } cases[] = {
      {"plain", "pnmtoplainpnm " + ramp, plain_advice, "pamtopnm", 1.f},
      {"plain_fits", "pnmtoplainpnm " + ramp, plain_advice, "pamtofits", 1.f},
      {"plain_deep", "pnmtoplainpnm " + deep, plain_advice, "pamtofits", 257.f},
      {"deep_fits", "cat " + deep, deep_advice, "pamtofits", 257.f},
      {"deep_bytes", "cat " + deep, deep_advice, "pamdepth 255", 1.f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stem);
    const std::string refused = scratch(std::string(c.stem) + ".pgm");
    ASSERT_EQ(image_test::run(c.made + " > " + refused), 0);
    EXPECT_EXIT_STATUS(readpgm(refused.c_str(), ima), 255, "Unable to read file: .*" + c.advice);
    const bool fits = c.converted == "pamtofits";
    const std::string converted = scratch(std::string(c.stem) + (fits ? "_converted.fits" : "_converted.pgm"));
    ASSERT_EQ(image_test::run(c.converted + " " + refused + " > " + converted), 0);
    fitsstruct header;
    if (fits) fits_read_float(converted.c_str(), ima, &header);
    else readpgm(converted.c_str(), ima);
    ASSERT_EQ(ima.n_elem(), bytes.n_elem());
    for (int k = 0; k < ima.n_elem(); k++) ASSERT_EQ(ima(k), c.factor * bytes(k)) << k;
  }
}

TEST(PgmFiles, BlocksWiderThan256ColumnsRoundTrip) {
  const int nl = 5, nc = 300;
  std::string name = scratch("tiled");
  writehdpgm(name.c_str(), nl, nc);
  to_array<float, false> band(2, nc), rest(3, nc);
  for (int j = 0; j < nc; j++) {
    for (int i = 0; i < 2; i++) band(i, j) = static_cast<float>((i + j) % 256);
    for (int i = 0; i < 3; i++) rest(i, j) = static_cast<float>((i + 2 + j) % 256);
  }
  write_block_pgm(name.c_str(), nl, nc, band, 0, 0);
  write_block_pgm(name.c_str(), nl, nc, rest, 2, 0);
  to_array<int, false> whole;
  readpgm(name.c_str(), whole);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) ASSERT_EQ(whole(i, j), (i + j) % 256) << i << "," << j;
  to_array<float, false> block(3, 280);
  read_block_pgm((name + ".pgm").c_str(), block, 1, 17);
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 280; j++) ASSERT_EQ(block(i, j), static_cast<float>((i + 1 + j + 17) % 256));
  EXPECT_EXIT_STATUS(read_block_pgm((name + ".pgm").c_str(), block, 0, 21), 255, "lies outside");
  EXPECT_EXIT_STATUS(write_block_pgm(name.c_str(), nl, nc, block, 3, 0), 255, "lies outside");
  // A block write that fails keeps the file.
  const long long size = static_cast<long long>(read_bytes(name + ".pgm").size());
  EXPECT_EXIT_STATUS({ image_test::limit_file_size(size - 100); write_block_pgm(name.c_str(), nl, nc, rest, 2, 0); },
                     255, "Unable to write file: .*tiled");
  EXPECT_EQ(static_cast<long long>(read_bytes(name + ".pgm").size()), size);
}

TEST(PgmFiles, NetpbmReadsOursAndWeReadNetpbms) {
  REQUIRE_TOOL("pamfile");
  REQUIRE_TOOL("rawtopgm");
  const int width = 13, height = 7;
  std::vector<int> values = image_test::test_pattern(width, height);
  to_array<int, false> ima(height, width);
  for (int k = 0; k < width * height; k++) ima(k) = values[k];
  std::string ours = scratch("ours");
  writepgm(ours.c_str(), ima, False);
  EXPECT_NE(image_test::run_output("pamfile " + ours + ".pgm").find("13 by 7  maxval 255"), std::string::npos);

  std::string raw;
  for (int v : values) raw += static_cast<char>(v);
  write_bytes(scratch("pattern.raw"), raw);
  std::string theirs = scratch("theirs.pgm");
  ASSERT_EQ(image_test::run("rawtopgm 13 7 " + scratch("pattern.raw") + " > " + theirs), 0);
  to_array<int, false> back;
  readpgm(theirs.c_str(), back);
  ASSERT_EQ(back.nl(), height);
  ASSERT_EQ(back.nc(), width);
  for (int k = 0; k < width * height; k++) EXPECT_EQ(back(k), values[k]);
}

// Maximum values at the edge of one byte a sample: 254 and 255 read their
// bytes as the values (no stretch by the maximum), 256 (the smallest
// two-byte PGM) and beyond are refused naming netpbm's conversions, and
// pamtofits, as advised, keeps the 256-level file's values; 0 has no grey
// level to convert.
TEST(PgmReader, MaximumValuesAroundOneByte) {
  const std::string advice =
      "; convert it with netpbm: pamtofits writes it as FITS with every value kept, pamdepth 255 as 8-bit PGM\n";
  const struct {
    unsigned maxval;
    bool read;
    const char* remedy;
  } cases[] = {
      {254, true, ""}, {255, true, ""}, {256, false, advice.c_str()}, {257, false, advice.c_str()},
      {65535, false, advice.c_str()}, {0, false, "\n"},
  };
  to_array<float, false> ima;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.maxval);
    const std::string name = scratch("edge" + std::to_string(c.maxval) + ".pgm");
    const int top = c.maxval > 255 ? 255 : static_cast<int>(c.maxval);
    std::string samples = pixel_bytes({0, 1, top, 128});
    if (c.maxval > 255) samples = pixel_bytes({0, 0, 0, 1, 0, 200, 1, 0});  // 0, 1, 200 and 256 on two bytes
    write_bytes(name, "P5\n2 2\n" + std::to_string(c.maxval) + "\n" + samples);
    if (c.read) {
      readpgm(name.c_str(), ima);
      ASSERT_EQ(ima.n_elem(), 4);
      EXPECT_EQ(ima(0), 0.f);
      EXPECT_EQ(ima(1), 1.f);
      EXPECT_EQ(ima(2), static_cast<float>(top));
      EXPECT_EQ(ima(3), 128.f);
      continue;
    }
    EXPECT_EXIT_STATUS(readpgm(name.c_str(), ima), 255,
                       "Unable to read file: .*edge" + std::to_string(c.maxval) +
                           ".pgm: it has the maximum value " + std::to_string(c.maxval) +
                           "; only binary 8-bit PGM files \\(P5, maximum value 1 to 255\\) are read" + c.remedy);
  }
  if (!image_test::have_tool("pamtofits")) return;
  const std::string converted = scratch("edge256.fits");
  ASSERT_EQ(image_test::run("pamtofits " + scratch("edge256.pgm") + " > " + converted), 0);
  fitsstruct header;
  fits_read_float(converted.c_str(), ima, &header);
  ASSERT_EQ(ima.n_elem(), 4);
  EXPECT_EQ(ima(0), 0.f);
  EXPECT_EQ(ima(1), 1.f);
  EXPECT_EQ(ima(2), 200.f);
  EXPECT_EQ(ima(3), 256.f);
}
