// Byte conversions, the 0..255 stretch and the colour look-up table.
#include "io/byte_conversion.h"

#include <cstring>
#include <new>

#include "array/fatal.h"

C_IO_RGB IO_RGB;

unsigned char float_to_byte(float value) {
  if (value > 255.f) return 255;
  if (!(value >= 0.f)) return 0;  // also NaN
  return static_cast<unsigned char>(value);
}

unsigned char int_to_byte(int value) {
  if (value > 255) return 255;
  if (value < 0) return 0;
  return static_cast<unsigned char>(value);
}

byte_rescale::byte_rescale(const float* values, long n) : minimum(0.f), step(0.f) {
  if (n <= 0) return;
  float maximum = values[0];
  minimum = values[0];
  for (long k = 1; k < n; k++) {
    if (values[k] < minimum) minimum = values[k];
    if (values[k] > maximum) maximum = values[k];
  }
  step = (maximum - minimum) / 255.f;
}

C_IO_RGB::~C_IO_RGB() { release(); }

void C_IO_RGB::release() {
  delete[] red_;
  delete[] green_;
  delete[] blue_;
  red_ = green_ = blue_ = nullptr;
  lut_size_ = 0;
}

void C_IO_RGB::alloc(int n) {
  release();
  if (n < 0) n = 0;
  int entries = n > 256 ? n : 256;
  red_ = new (std::nothrow) unsigned char[entries]();
  green_ = new (std::nothrow) unsigned char[entries]();
  blue_ = new (std::nothrow) unsigned char[entries]();
  if (red_ == nullptr || green_ == nullptr || blue_ == nullptr)
    fatal_exit("Error: not enough memory for the colour table ...\n", -1, stderr);
  lut_size_ = n;
  for (int i = 0; i < n; i++) red_[i] = green_[i] = blue_[i] = static_cast<unsigned char>(i % 256);
}

void C_IO_RGB::alloc(int n, const unsigned char* r, const unsigned char* g, const unsigned char* b) {
  alloc(n);
  if (n <= 0) return;
  std::memcpy(red_, r, n);
  std::memcpy(green_, g, n);
  std::memcpy(blue_, b, n);
}

void C_IO_RGB::alloc_color() {
  alloc(256);
  for (int i = 0; i < 256; i++) {
    red_[i] = static_cast<unsigned char>((i & 0xE0) | 16);
    green_[i] = static_cast<unsigned char>(((i & 0x1C) * 8) + 16);
    blue_[i] = static_cast<unsigned char>(((i & 3) * 64) | 32);
  }
}

unsigned char C_IO_RGB::color_to_pseudo(unsigned char r, unsigned char g, unsigned char b) const {
  return static_cast<unsigned char>((r & 0xE0) | ((g >> 5) * 4) | (b >> 6));
}

void C_IO_RGB::pseudo_to_color(unsigned char index, unsigned char& r, unsigned char& g,
                               unsigned char& b) const {
  r = red(index);
  g = green(index);
  b = blue(index);
}
