// JPEG through libjpeg: our grey, colour-cube and block reads agree with
// djpeg on files made by cjpeg and ImageMagick, our files decode in djpeg
// close to the image written, and the refused files (CMYK, one line or
// column, cut short, garbage) stop with their messages.
#include "io/jpeg_io.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "array/vms.h"
#include "image_test_tools.h"
#include "io/io_dispatch.h"
#include "support/death.h"

using image_test::file_exists;
using image_test::Pnm;
using image_test::read_bytes;
using image_test::scratch;
using image_test::write_bytes;

namespace {

// A colour picture (P6) of known samples.
std::string reference_ppm(const std::string& stem, int width, int height) {
  std::string bytes = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  for (int i = 0; i < height; i++)
    for (int j = 0; j < width; j++)
      bytes += {static_cast<char>((i * 9 + j * 2) % 256), static_cast<char>((255 - j * 5) % 256),
                static_cast<char>(((i / 3 + j / 3) % 2) * 200 + 20)};
  std::string name = scratch(stem + ".ppm");
  write_bytes(name, bytes);
  return name;
}

Pnm djpeg(const std::string& options, const std::string& jpeg) {
  return image_test::parse_pnm(image_test::run_output("djpeg " + options + " " + jpeg + " 2>/dev/null"));
}

class Jpeg : public testing::Test {
 protected:
  void SetUp() override {
    io_set_format(F_UNKNOWN);
    IO_RGB.alloc(0);
  }
};

}  // namespace

TEST_F(Jpeg, GreyAndColourReadsEqualDjpeg) {
  REQUIRE_TOOL("cjpeg");
  REQUIRE_TOOL("djpeg");
  std::string ppm = reference_ppm("colour", 37, 21);
  std::string colour = scratch("colour.jpg"), grey = scratch("grey.jpg");
  ASSERT_EQ(image_test::run("cjpeg -quality 85 " + ppm + " > " + colour), 0);
  ASSERT_EQ(image_test::run("cjpeg -grayscale -quality 90 " + ppm + " > " + grey), 0);
  for (const std::string& file : {colour, grey}) {
    Pnm reference = djpeg("-grayscale -pnm", file);
    ASSERT_EQ(reference.channels, 1);
    to_array<float, false> ima;
    io_read_ima_float(file.c_str(), ima);
    ASSERT_EQ(ima.nl() * 100 + ima.nc(), 2137);
    for (int k = 0; k < ima.n_elem(); k++) ASSERT_EQ(ima(k), reference.samples[k]) << file << " pixel " << k;
  }
  EXPECT_EQ(Format_Imag, F_JPEG);
  Pnm rgb = djpeg("-pnm", colour);
  ASSERT_EQ(rgb.channels, 3);
  to_array<float, true> cube;
  io_read3d_jpeg(colour.c_str(), cube);
  ASSERT_EQ(cube.nx() * 10000 + cube.ny() * 10 + cube.nz(), 370213);
  for (int y = 0; y < 21; y++)
    for (int x = 0; x < 37; x++)
      for (int c = 0; c < 3; c++) ASSERT_EQ(cube(x, y, c), rgb.samples[(y * 37 + x) * 3 + c]);
}

TEST_F(Jpeg, OurFilesDecodeInDjpegCloseToTheImage) {
  REQUIRE_TOOL("djpeg");
  const int nl = 24, nc = 40;
  std::vector<int> pattern = image_test::test_pattern(nc, nl);
  to_array<float, false> ima(nl, nc);
  for (int k = 0; k < nl * nc; k++) ima(k) = static_cast<float>(pattern[k]);
  std::string name = scratch("written");
  io_set_format(F_JPEG);  // as after reading a JPEG input: ".jpg" is appended
  io_write_ima_float(name.c_str(), ima);
  std::string file = name + ".jpg";
  Pnm theirs = djpeg("-pnm", file);
  ASSERT_EQ(theirs.channels, 1);
  ASSERT_EQ(theirs.width * 100 + theirs.height, 4024);
  to_array<int, false> ours;
  io_read_ima_int(file.c_str(), ours);
  EXPECT_EQ(TypeInputData, T_BYTE);
  int worst = 0;
  for (int k = 0; k < nl * nc; k++) {
    ASSERT_EQ(ours(k), theirs.samples[k]);
    worst = std::max(worst, std::abs(theirs.samples[k] - pattern[k]));
  }
  EXPECT_LE(worst, 4);  // quality 100
}

TEST_F(Jpeg, WritingClampsOrStretchesAndUsesThePalette) {
  REQUIRE_TOOL("djpeg");
  to_array<float, false> ima(16, 16);
  for (int i = 0; i < 16; i++)
    for (int j = 0; j < 16; j++) ima(i, j) = j < 8 ? -50.f : 400.f;
  std::string clamped = scratch("clamped");
  io_write2d_jpeg(clamped.c_str(), ima, False, 100);
  Pnm out = djpeg("-pnm", clamped + ".jpg");
  EXPECT_LE(out.samples[0], 1);
  EXPECT_GE(out.samples[15], 254);
  std::string stretched = scratch("stretched");
  for (int k = 0; k < 256; k++) ima(k) = -1000.f + (k % 16) * 10.f;
  io_write2d_jpeg(stretched.c_str(), ima, True, 100);
  out = djpeg("-pnm", stretched + ".jpg");
  EXPECT_LE(out.samples[0], 2);
  EXPECT_GE(out.samples[15], 252);

  // A library error while writing names the file and leaves none behind.
  to_array<float, false> wide(2, 70000);
  std::string too_wide = scratch("too_wide");
  EXPECT_EXIT_STATUS(io_write2d_jpeg(too_wide.c_str(), wide, False, 100), 1,
                     "Maximum supported image dimension is 65500 pixels \\(.*too_wide.jpg\\)");
  EXPECT_FALSE(file_exists(too_wide + ".jpg"));

  // With a palette in the colour table the bytes go out as its colours.
  unsigned char r[300], g[300], b[300] = {};
  for (int i = 0; i < 300; i++) r[i] = static_cast<unsigned char>(255 - i), g[i] = static_cast<unsigned char>(i);
  IO_RGB.alloc(256, r, g, b);
  for (int k = 0; k < 256; k++) ima(k) = 200.f;
  std::string paletted = scratch("paletted");
  io_write2d_jpeg(paletted.c_str(), ima, False, 100);
  out = djpeg("-pnm", paletted + ".jpg");
  ASSERT_EQ(out.channels, 3);
  EXPECT_NEAR(out.samples[0], 55, 3);
  EXPECT_NEAR(out.samples[1], 200, 3);
  EXPECT_NEAR(out.samples[2], 0, 3);
  // A palette the writer cannot hold is refused before any file is made.
  IO_RGB.alloc(300, r, g, b);
  std::string too_many = scratch("too_many");
  EXPECT_EXIT_STATUS(io_write2d_jpeg(too_many.c_str(), ima, False, 100), 255,
                     "Error: too many colors in the LUT .. \\(.*too_many.jpg\\)");
  EXPECT_FALSE(file_exists(too_many + ".jpg"));
}

TEST_F(Jpeg, BlockWisePictures) {
  std::string name = scratch("blocks");
  writehdjpeg(name.c_str(), 16, 24);
  to_array<int, false> block(16, 12);
  block.init(40);
  write_block_jpeg(block, 0, 0);
  block.init(220);
  write_block_jpeg(block, 0, 12);
  EXPECT_EXIT_STATUS(write_block_jpeg(block, 8, 0), 255, "lies outside");
  closejpeg(name.c_str());
  int nl = 0, nc = 0;
  PICINFO* pic = nullptr;
  readhdjpeg((name + ".jpg").c_str(), nl, nc, pic);
  EXPECT_EQ(nl * 100 + nc, 1624);
  to_array<float, false> corner(4, 4);
  read_block_jpeg(corner, 12, 20);
  for (int k = 0; k < 16; k++) EXPECT_NEAR(corner(k), 220.f, 2.f);
  read_block_jpeg(corner, 0, 0);
  for (int k = 0; k < 16; k++) EXPECT_NEAR(corner(k), 40.f, 2.f);
  free_buffer(pic->pixels);
  delete pic;
}

TEST_F(Jpeg, NamesWithoutExtensionAndRefusedFiles) {
  REQUIRE_TOOL("cjpeg");
  auto jpeg_of = [](const std::string& stem, int width, int height) {
    write_bytes(scratch(stem + ".pgm"), image_test::pgm_bytes(width, height, image_test::test_pattern(width, height)));
    EXPECT_EQ(image_test::run("cjpeg " + scratch(stem + ".pgm") + " > " + scratch(stem + ".jpg")), 0);
    return scratch(stem + ".jpg");
  };
  to_array<float, false> ima;
  jpeg_of("small", 8, 8);
  io_read2d_jpeg(scratch("small").c_str(), ima);  // opened as small.jpg
  EXPECT_EQ(ima.nc(), 8);
  EXPECT_EXIT_STATUS(io_read2d_jpeg(jpeg_of("line", 5, 1).c_str(), ima), 255, "number of lines must be > 1");
  EXPECT_EXIT_STATUS(io_read2d_jpeg(jpeg_of("column", 1, 5).c_str(), ima), 255, "number of columns must be > 1");

  // Data cut short: the read stops instead of making up grey pixels; a
  // file that lacks only its end marker keeps every pixel and is read.
  std::string bytes = read_bytes(jpeg_of("whole", 64, 48));
  write_bytes(scratch("cut.jpg"), bytes.substr(0, bytes.size() / 2));
  EXPECT_EXIT_STATUS(io_read2d_jpeg(scratch("cut.jpg").c_str(), ima), 255,
                     "premature end of data segment\n.*the JPEG code has signaled an error .*cut.jpg");
  write_bytes(scratch("no_end.jpg"), bytes.substr(0, bytes.size() - 2));
  to_array<float, false> whole, no_end;
  io_read2d_jpeg(scratch("whole.jpg").c_str(), whole);
  testing::internal::CaptureStderr();
  io_read2d_jpeg(scratch("no_end.jpg").c_str(), no_end);
  testing::internal::GetCapturedStderr();
  for (int k = 0; k < whole.n_elem(); k++) ASSERT_EQ(no_end(k), whole(k)) << k;

  // Arithmetic coding packs a uniform 2500 x 2500 picture into about 125
  // bytes, far denser than any Huffman-coded file: it reads all the same.
  write_bytes(scratch("flat.pgm"), "P5\n2500 2500\n255\n" + std::string(2500 * 2500, '\x80'));
  if (image_test::run("cjpeg -arithmetic " + scratch("flat.pgm") + " > " + scratch("flat.jpg")) == 0) {
    EXPECT_LT(read_bytes(scratch("flat.jpg")).size(), 2500u * 2500u / 8192u);
    io_read2d_jpeg(scratch("flat.jpg").c_str(), ima);
    ASSERT_EQ(ima.n_elem(), 2500 * 2500);
    EXPECT_EQ(ima(2500 * 2500 - 1), 128.f);
  }

  if (image_test::have_tool("convert")) {
    ASSERT_EQ(image_test::run("convert " + reference_ppm("forcmyk", 8, 8) + " -colorspace CMYK " + scratch("cmyk.jpg")),
              0);
    EXPECT_EXIT_STATUS(io_read2d_jpeg(scratch("cmyk.jpg").c_str(), ima), 255,
                       "Incorrect color space\n       input image must be RGB or gray");
  }
  write_bytes(scratch("garbage.jpg"), std::string("\xFF\xD8\xFF\xE0 this is no JPEG stream", 28));
  EXPECT_EXIT_STATUS(io_read2d_jpeg(scratch("garbage.jpg").c_str(), ima), 255,
                     "the JPEG code has signaled an error .*garbage.jpg");
  EXPECT_EXIT_STATUS(io_read2d_jpeg(scratch("absent").c_str(), ima), 255, "Error reading file .*absent");
}

// A write that fails says why, and leaves the link and the device it
// reached as they were.
TEST_F(Jpeg, FailedWriteSaysWhy) {
  const std::string name = scratch("device.jpg");
  ASSERT_EQ(symlink("/dev/full", name.c_str()), 0);  // every write fails
  to_array<float, false> ima(20, 30);
  EXPECT_EXIT_STATUS(io_write2d_jpeg(const_cast<char*>(name.c_str()), ima, False, 90), 1,
                     "write error.*\\(.*device.jpg: No space left on device\\)");
  EXPECT_EQ(fits_test::link_text(name), "/dev/full");
}
