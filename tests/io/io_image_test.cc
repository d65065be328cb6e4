// The raw disp format: names that carry type and size, big-endian values,
// the conversion tables between stored and array types, blocks, and the
// refusals of bad names, short files and rectangles outside the image.
#include "io/io_image.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>

#include "image_test_tools.h"
#include "io/io_dispatch.h"
#include "support/death.h"

using image_test::file_exists;
using image_test::read_bytes;
using image_test::scratch;
using image_test::write_bytes;

namespace {

class Disp : public testing::Test {
 protected:
  void SetUp() override { io_set_format(F_DISP); }
};

std::string bytes_of(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

std::string big_endian_doubles(std::initializer_list<double> values) {
  std::string bytes;
  for (double v : values) {
    unsigned char raw[8];
    std::memcpy(raw, &v, 8);
    for (int b = 7; b >= 0; b--) bytes += static_cast<char>(raw[b]);
  }
  return bytes;
}

}  // namespace

TEST_F(Disp, FloatImageNamedBySizeIsBigEndian) {
  to_array<float, false> ima(3, 5);
  for (int k = 0; k < 15; k++) ima(k) = 0.5f * k - 2.f;
  ima(0) = 1.f;
  std::string stem = scratch("res");
  IO_DISP.write_ima_float(stem.c_str(), ima);
  std::string file = stem + "_f_3_5.d";
  std::string bytes = read_bytes(file);
  ASSERT_EQ(bytes.size(), 60u);
  EXPECT_EQ(bytes.substr(0, 4), bytes_of({0x3F, 0x80, 0x00, 0x00}));  // 1.0f, most significant byte first
  testing::internal::CaptureStderr();
  to_array<float, false> back;
  IO_DISP.read_ima_float(file.c_str(), back);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // no conversion warning
  EXPECT_EQ(IO_DISP.type_data, T_FLOAT);
  ASSERT_EQ(back.nl(), 3);
  for (int k = 0; k < 15; k++) EXPECT_EQ(back(k), ima(k));
}

TEST_F(Disp, NarrowTypesKeepLowBitsAndShortsAreSigned) {
  to_array<float, false> ima(1, 5);
  const float values[5] = {255.9f, 256.f, -0.5f, 300.7f, -1.f};
  for (int k = 0; k < 5; k++) ima(k) = values[k];
  std::string name = scratch("x_b_1_5.d");
  IO_DISP.write_ima_float(name.c_str(), ima);
  EXPECT_EQ(read_bytes(name), bytes_of({255, 0, 0, 44, 255}));
  to_array<int, false> ints(1, 3);
  ints(0) = 65537, ints(1) = -2, ints(2) = 40000;
  std::string shorts = scratch("x_s_1_3.d");
  IO_DISP.write_ima_int(shorts.c_str(), ints);
  EXPECT_EQ(read_bytes(shorts), bytes_of({0x00, 0x01, 0xFF, 0xFE, 0x9C, 0x40}));

  // Whole and block reads agree: a tiled image must equal the image read whole.
  name = scratch("y_s_2_2.d");
  write_bytes(name, bytes_of({0xFF, 0xFF, 0x00, 0x01, 0x00, 0x02, 0x80, 0x00}));
  const float expected[4] = {-1.f, 1.f, 2.f, -32768.f};
  to_array<float, false> whole, block(2, 2);
  IO_DISP.read_ima_float(name.c_str(), whole);
  IO_DISP.read_block_ima(name.c_str(), block, 0, 0);
  for (int k = 0; k < 4; k++) {
    EXPECT_EQ(whole(k), expected[k]);
    EXPECT_EQ(block(k), expected[k]);
  }
}

TEST_F(Disp, DoublesRoundInWholeReadsAndTruncateInBlockReads) {
  std::string name = scratch("z_d_2_2.d");
  write_bytes(name, big_endian_doubles({2.5, -2.5, 1e10, -0.4}));
  testing::internal::CaptureStderr();
  to_array<int, false> whole, block(2, 2);
  IO_DISP.read_ima_int(name.c_str(), whole);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: convert to INT reading " + name + "\n");
  const int rounded[4] = {3, -3, 2147483647, 0};  // 1e10 saturates, not wraps
  for (int k = 0; k < 4; k++) EXPECT_EQ(whole(k), rounded[k]);
  IO_DISP.read_block_ima(name.c_str(), block, 0, 0);
  EXPECT_EQ(block(0), 2);
  EXPECT_EQ(block(1), -2);
}

TEST_F(Disp, EveryStoredTypeRoundTripsRepresentableValues) {
  to_array<float, false> ima(4, 3);
  for (int k = 0; k < 12; k++) ima(k) = static_cast<float>(k * 9);  // 0..99: exact in every type
  for (const char* tag : {"b", "s", "i", "f", "d", "cf", "cd"}) {
    std::string name = scratch(std::string("t_") + tag + "_4_3.d");
    IO_DISP.write_ima_float(name.c_str(), ima);
    EXPECT_EQ(read_bytes(name).size(), 12u * disp_pixel_bytes(IO_DISP.type_data)) << tag;
    testing::internal::CaptureStderr();
    to_array<float, false> back;
    IO_DISP.read_ima_float(name.c_str(), back);
    testing::internal::GetCapturedStderr();
    for (int k = 0; k < 12; k++) EXPECT_EQ(back(k), ima(k)) << tag;
  }
}

TEST_F(Disp, ComplexImagesKeepBothPartsAndReadAsRealParts) {
  to_array<std::complex<float>, false> z(2, 3);
  for (int k = 0; k < 6; k++) z(k) = std::complex<float>(k + 0.25f, -k * 1.5f);
  std::string stem = scratch("cplx");
  io_write_ima_complex_f(stem.c_str(), z);
  std::string file = stem + "_cf_2_3.d";
  ASSERT_EQ(read_bytes(file).size(), 48u);
  to_array<std::complex<float>, false> back;
  io_read_ima_complex_f(file.c_str(), back);
  EXPECT_EQ(TypeInputData, T_COMPLEX_F);
  for (int k = 0; k < 6; k++) EXPECT_EQ(back(k), z(k));
  testing::internal::CaptureStderr();
  to_array<float, false> real_parts;
  io_read_ima_float(file.c_str(), real_parts);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("WARNING: convert to FLOAT reading"), std::string::npos);
  for (int k = 0; k < 6; k++) EXPECT_EQ(real_parts(k), z(k).real());
}

TEST_F(Disp, BlocksFillACreatedFileAndReadBack) {
  IO_DISP.type_data = T_FLOAT;
  IO_DISP.Nl = 6;
  IO_DISP.Nc = 7;
  std::string stem = scratch("tiles");
  IO_DISP.create_file(stem.c_str());
  std::string file = stem + "_f_6_7.d";
  ASSERT_TRUE(file_exists(file));
  // Four blocks, the last 3 x 4 one ending on the file's last pixel.
  const int corners[4][4] = {{0, 0, 3, 3}, {0, 3, 3, 4}, {3, 0, 3, 3}, {3, 3, 3, 4}};
  for (const auto& c : corners) {
    to_array<float, false> block(c[2], c[3]);
    for (int i = 0; i < c[2]; i++)
      for (int j = 0; j < c[3]; j++) block(i, j) = static_cast<float>(100 * (c[0] + i) + c[1] + j);
    IO_DISP.write_block_ima(file.c_str(), block, c[0], c[1]);
  }
  to_array<float, false> whole;
  IO_DISP.read_ima_float(file.c_str(), whole);
  for (int i = 0; i < 6; i++)
    for (int j = 0; j < 7; j++) EXPECT_EQ(whole(i, j), 100.f * i + j);
  to_array<int, false> inner(2, 5);
  IO_DISP.read_block_ima(file.c_str(), inner, 2, 1);
  for (int i = 0; i < 2; i++)
    for (int j = 0; j < 5; j++) EXPECT_EQ(inner(i, j), 100 * (i + 2) + j + 1);
}

TEST_F(Disp, NamesAndReadInfo) {
  EXPECT_EQ(disp_file_name("a_b_2_2.d", T_FLOAT, 3, 5), "a_b_2_2.d");
  IO_DISP.read_type("a_i_x_f_4_4.d");
  EXPECT_EQ(IO_DISP.type_data, T_INT);  // the order of the tests decides
  std::string name = scratch("info_cd_3_9.d");
  write_bytes(name, "");
  int nl = 0, nc = 0;
  type_data type = T_UNKNOWN;
  IO_DISP.read_info_ima(name.c_str(), nl, nc, type);
  EXPECT_EQ(type, T_COMPLEX_D);
  EXPECT_EQ(nl * 100 + nc, 309);
}

TEST_F(Disp, BadNamesSizesAndShortFilesStop) {
  to_array<float, false> ima;
  int nl = 0, nc = 0;
  const std::pair<const char*, const char*> sizes[] = {
      {"a_f_0_4.d", "Error f: reading string  a_f_0_4.d"}, {"a_f_4.d", "Error f: reading string  a_f_4.d"},
      {"a_f_-3_4.d", "Error f: reading string"},          {"a_f_99999999999_4.d", "Error f: reading string"},
      {"a_f_100000_100000.d", "too large"}};
  for (const auto& c : sizes) EXPECT_EXIT_STATUS(read_size_f(c.first, &nl, &nc), 255, c.second);
  EXPECT_EXIT_STATUS(IO_DISP.read_ima_float("a_i_x_f_4_4.d", ima), 255, "Error i: reading string");
  EXPECT_EXIT_STATUS(IO_DISP.read_ima_float("my_pic.d", ima), 255, "Error: type unknown reading my_pic.d");
  // A file shorter or longer than its name announces was named for another
  // image: read by its name, it would come back as a piece of that image.
  std::string short_file = scratch("short_s_4_4.d"), long_file = scratch("long_f_2_2.d");
  write_bytes(short_file, std::string(31, '\0'));
  write_bytes(long_file, std::string(17, '\0'));
  EXPECT_EXIT_STATUS(IO_DISP.read_ima_float(short_file.c_str(), ima), 255,
                     "file holds 31 bytes, its name announces 4 x 4 values of 2 bytes, 32 bytes");
  const std::string too_long =
      "file holds 17 bytes, its name announces 2 x 2 values of 4 bytes, 16 bytes ... \\(.*long_f_2_2.d\\)";
  EXPECT_EXIT_STATUS(IO_DISP.read_ima_float(long_file.c_str(), ima), 255, too_long);
  to_array<float, false> one(1, 1);
  EXPECT_EXIT_STATUS(IO_DISP.read_block_ima(long_file.c_str(), one, 0, 0), 255, too_long);
  EXPECT_EXIT_STATUS(IO_DISP.read_ima_float(scratch("absent_f_2_2.d").c_str(), ima), 255,
                     "Unable to open file: .*absent_f_2_2.d");
  // A stream of unknown size that ends early: the read itself stops, before
  // an image of the size the name promises is allocated. One that brings
  // more than that is refused too.
  to_array<float, false> fblock(2, 2);
  to_array<int, false> iblock(2, 2);
  EXPECT_EXIT_STATUS({ image_test::stdin_from_pipe(std::string(20, '\0')); IO_DISP.read_ima_float("-_f_20000_20000.d", ima); },
                     255, "Error reading file -_f_20000_20000.d");
  EXPECT_EXIT_STATUS({ image_test::stdin_from_pipe(std::string(4, '\0')); IO_DISP.read_block_ima("-_f_4_4.d", fblock, 0, 0); },
                     255, "Error: Unable to read in file: -_f_4_4.d\n       line 0\n       Nc_io 4 nc = 2");
  EXPECT_EXIT_STATUS({ image_test::stdin_from_pipe(std::string(4, '\0')); IO_DISP.read_block_ima("-_i_4_4.d", iblock, 0, 0); },
                     255, "^Unable to read in file: -_i_4_4.d");
  EXPECT_EXIT_STATUS({ image_test::stdin_from_pipe(std::string(65, '\0')); IO_DISP.read_ima_float("-_f_4_4.d", ima); },
                     255, "stream holds more than its name announces, 4 x 4 values of 4 bytes, 64 bytes ... \\(-_f_4_4.d\\)");

  // No file is left for a name whose type cannot be known.
  std::string untyped = scratch("my_pic.d");
  to_array<float, false> small(2, 2);
  EXPECT_EXIT_STATUS(IO_DISP.write_ima_float(untyped.c_str(), small), 255, "Error writting in file");
  EXPECT_FALSE(file_exists(untyped));
  to_array<float, false> empty;
  EXPECT_EXIT_STATUS(IO_DISP.write_ima_float(scratch("none").c_str(), empty), 255, "image of 0 x 0 pixels");
}

TEST_F(Disp, FailedWritesLeaveNoFileAndBlocksStayInside) {
  to_array<float, false> ima(64, 64);
  std::string stem = scratch("full");
  EXPECT_EXIT_STATUS({ image_test::limit_file_size(1000); IO_DISP.write_ima_float(stem.c_str(), ima); }, 255,
                     "cannot write in file \\(.*full_f_64_64.d: File too large\\)");
  EXPECT_FALSE(file_exists(stem + "_f_64_64.d"));

  std::string name = scratch("edge_f_4_4.d");
  write_bytes(name, std::string(64, '\0'));
  to_array<float, false> block(2, 3);
  // Column 2 + 3 columns would wrap into the next line.
  EXPECT_EXIT_STATUS(IO_DISP.read_block_ima(name.c_str(), block, 0, 2), 255, "lies outside the 4 x 4 image");
  EXPECT_EXIT_STATUS(IO_DISP.write_block_ima(name.c_str(), block, 3, 0), 255, "lies outside");
  EXPECT_EXIT_STATUS(IO_DISP.read_block_ima(name.c_str(), block, -1, 0), 255, "lies outside");
  // A block write that fails keeps the existing file.
  IO_DISP.write_ima_float(stem.c_str(), ima);
  to_array<float, false> pair(1, 2);  // bytes 9996 to 10003, past the limit
  EXPECT_EXIT_STATUS(
      { image_test::limit_file_size(10000); IO_DISP.write_block_ima((stem + "_f_64_64.d").c_str(), pair, 39, 3); },
      255, "Unable to read in file: \\(.*full_f_64_64.d: File too large\\)");
  EXPECT_EQ(read_bytes(stem + "_f_64_64.d").size(), 16384u);
  // Through a link to a full device the close fails: the system says why.
  ASSERT_EQ(symlink("/dev/full", scratch("onfull_f_64_64.d").c_str()), 0);
  EXPECT_EXIT_STATUS(IO_DISP.write_ima_float(scratch("onfull").c_str(), ima), 255,
                     "Error: cannot write in file \\(.*onfull_f_64_64.d: No space left on device\\)");
}

// A name ending in ".d" is the file's own and gives its size: an image of
// another size written under it would read back as another image, so the
// writers refuse it (lines and columns apart, in the type the name gives)
// and leave no file.
TEST_F(Disp, WritersRefuseANameOfAnotherSize) {
  to_array<float, false> ima(4, 2);
  IO_DISP.write_ima_float(scratch("w_f_4_2.d").c_str(), ima);
  EXPECT_EQ(read_bytes(scratch("w_f_4_2.d")).size(), 32u);
  const std::string wrong = scratch("w_b_2_2.d");
  const char* said = "image is 4 x 2 pixels, its name says 2 x 2 ... \\(.*w_b_2_2.d\\)";
  EXPECT_EXIT_STATUS(IO_DISP.write_ima_float(wrong.c_str(), ima), 255, said);
  // The raw writer, given the size by hand, holds to the same rule.
  EXPECT_EXIT_STATUS({ IO_DISP.type_data = T_FLOAT; IO_DISP.Nl = 4; IO_DISP.Nc = 2; IO_DISP.buffer = ima.buffer();
                       IO_DISP.write_ima(wrong.c_str()); }, 255, said);
  EXPECT_FALSE(file_exists(wrong));
}
