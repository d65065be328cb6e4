// The whole program on inputs in each non-FITS format: the input's format
// fixes the format of every result, and the results open in independent
// tools with the input's size.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image_test_tools.h"
#include "support/qz_mca_program.h"

using image_test::read_bytes;
using image_test::write_bytes;

namespace {

const int kSide = 32;

std::vector<int> picture() {
  std::vector<int> values = image_test::test_pattern(kSide, kSide);
  for (int k = 0; k < kSide * kSide; k++) values[k] = 60 + values[k] / 3;
  return values;
}

class FormatRun : public QzMcaProgram {};

}  // namespace

// The bytes truncate each result and clamp a negative residual to 0, so
// sum + residual gives the input within two steps wherever the residual
// byte is not clamped, and never falls below it by more.
TEST_F(FormatRun, PgmInPgmOut) {
  const std::vector<int> in = picture();
  write_bytes(path("in.pgm"), image_test::pgm_bytes(kSide, kSide, in));
  ASSERT_EQ(run("-t 1 -t 5 -i 3 in.pgm out"), 0) << output_;
  std::vector<image_test::Pnm> results;
  for (const char* name : {"out.pgm", "out_atrou.pgm", "out_cos.pgm", "out_resi.pgm"}) {
    ASSERT_TRUE(exists(name)) << name;
    results.push_back(image_test::parse_pnm(read_bytes(path(name))));
    EXPECT_EQ(results.back().width, kSide) << name;
    EXPECT_EQ(results.back().height, kSide) << name;
  }
  const std::vector<int>&sum = results[0].samples, &resi = results[3].samples;
  int unclamped = 0;
  for (int k = 0; k < kSide * kSide; k++) {
    EXPECT_GE(sum[k] + resi[k], in[k] - 2) << k;
    if (resi[k] > 0 && resi[k] < 255) {
      unclamped++;
      EXPECT_LE(std::abs(sum[k] + resi[k] - in[k]), 2) << k;
    }
  }
  EXPECT_GT(unclamped, kSide * kSide / 4);
  if (image_test::have_tool("pamfile")) {
    EXPECT_NE(image_test::run_output("pamfile " + path("out_resi.pgm")).find("32 by 32"), std::string::npos);
  }
}

TEST_F(FormatRun, GifInGifOut) {
  REQUIRE_TOOL("pamtogif");
  REQUIRE_TOOL("giftopnm");
  write_bytes(path("in.pgm"), image_test::pgm_bytes(kSide, kSide, picture()));
  ASSERT_EQ(image_test::run("pamtogif " + path("in.pgm") + " > " + path("in.gif")), 0);
  // A result named .fits is still written as GIF, with ".gif" appended.
  ASSERT_EQ(run("-t 1 -i 3 in.gif out.fits"), 0) << output_;
  for (const char* name : {"out.fits.gif", "out_atrou.gif", "out_resi.gif"}) {
    ASSERT_TRUE(exists(name)) << name;
    image_test::Pnm pnm = image_test::parse_pnm(image_test::run_output("giftopnm " + path(name) + " 2>/dev/null"));
    EXPECT_EQ(pnm.width, kSide) << name;
  }
}

TEST_F(FormatRun, DispInDispOut) {
  std::string bytes;
  for (int v : picture()) bytes += static_cast<char>(v);
  write_bytes(path("in_b_32_32.d"), bytes);
  ASSERT_EQ(run("-t 1 -i 3 in_b_32_32.d out"), 0) << output_;
  // The results keep the array's float type (big-endian), so the sum of the
  // components and the residual give the input back.
  std::vector<std::vector<float>> results;
  for (const char* name : {"out_f_32_32.d", "out_atrou_f_32_32.d", "out_resi_f_32_32.d"}) {
    ASSERT_TRUE(exists(name)) << name;
    const std::string bytes = read_bytes(path(name));
    ASSERT_EQ(bytes.size(), 4u * kSide * kSide) << name;
    std::vector<float> values(kSide * kSide);
    for (int k = 0; k < kSide * kSide; k++) {
      uint32_t word = 0;
      for (int b = 0; b < 4; b++) word = word << 8 | static_cast<unsigned char>(bytes[4 * k + b]);
      std::memcpy(&values[k], &word, 4);
    }
    results.push_back(values);
  }
  const std::vector<int> in = picture();
  for (int k = 0; k < kSide * kSide; k++) {
    EXPECT_EQ(results[0][k], results[1][k]) << k;  // one base: the sum is the component
    EXPECT_NEAR(results[0][k] + results[2][k], in[k], 1e-3f) << k;
  }
  ASSERT_NE(run("-t 1 -i 3 in_b_32_33.d out2"), 0);
  EXPECT_NE(output_.find("in_b_32_33.d"), std::string::npos) << output_;
}
