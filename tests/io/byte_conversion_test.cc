// Byte conversions, the 0..255 stretch and the colour table.
#include "io/byte_conversion.h"

#include <gtest/gtest.h>

#include <limits>

TEST(ByteConversion, ClampsAndTruncates) {
  const std::pair<float, int> floats[] = {{255.0f, 255}, {255.5f, 255}, {255.9f, 255}, {-0.5f, 0},
                                          {3.99f, 3},    {0.7f, 0},     {1e30f, 255},
                                          {std::numeric_limits<float>::quiet_NaN(), 0}};
  for (const auto& c : floats) EXPECT_EQ(float_to_byte(c.first), c.second) << c.first;
  EXPECT_EQ(int_to_byte(256), 255);
  EXPECT_EQ(int_to_byte(-1), 0);
  EXPECT_EQ(int_to_byte(17), 17);
}

TEST(ByteRescale, StretchesMinMaxAndZeroesConstantImages) {
  const float ramp[] = {-10.f, 0.f, 40.f, 245.f};
  byte_rescale stretch(ramp, 4);
  // Step (245 - -10) / 255 = 1: each byte is the distance from the minimum.
  const int bytes[] = {0, 10, 50, 255};
  for (int k = 0; k < 4; k++) EXPECT_EQ(float_to_byte(stretch.quotient(ramp[k])), bytes[k]);
  const float flat[] = {7.f, 7.f, 7.f};
  byte_rescale constant(flat, 3);
  for (float v : flat) EXPECT_EQ(float_to_byte(constant.quotient(v)), 0);
}

TEST(ColourTable, GreyRampSizesAndPadding) {
  C_IO_RGB lut;
  EXPECT_EQ(lut.lut_size(), 0);
  lut.alloc(255);
  EXPECT_EQ(lut.lut_size(), 255);
  EXPECT_EQ(lut.red(254), 254);
  EXPECT_EQ(lut.red(255) + lut.green(255) + lut.blue(255), 0);
  lut.alloc(300);
  EXPECT_EQ(lut.lut_size(), 300);
  unsigned char r, g, b;
  lut.pseudo_to_color(200, r, g, b);
  EXPECT_EQ(r, 200);
  const unsigned char red[3] = {1, 2, 3}, green[3] = {4, 5, 6}, blue[3] = {7, 8, 9};
  lut.alloc(3, red, green, blue);
  EXPECT_EQ(lut.green(1), 5);
  EXPECT_EQ(lut.blue(2), 9);
  EXPECT_EQ(lut.red(3), 0);
}

TEST(ColourTable, ColourCubeRoundTripsItsOwnEntries) {
  C_IO_RGB lut;
  EXPECT_EQ(lut.color_to_pseudo(255, 255, 255), 255);
  EXPECT_EQ(lut.color_to_pseudo(0, 0, 0), 0);
  lut.alloc_color();
  EXPECT_EQ(lut.red(0) * 1000000 + lut.green(0) * 1000 + lut.blue(0), 16016032);
  EXPECT_EQ(lut.red(255) * 1000000 + lut.green(255) * 1000 + lut.blue(255), 240240224);
  // Each entry's colour sits in the middle of its band, so it maps back to itself.
  for (int i = 0; i < 256; i++) {
    unsigned char r, g, b;
    lut.pseudo_to_color(static_cast<unsigned char>(i), r, g, b);
    EXPECT_EQ(lut.color_to_pseudo(r, g, b), i);
  }
}
