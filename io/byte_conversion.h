// Shared pieces of the 8-bit formats (GIF, JPEG, PGM): the clamped
// conversions of a pixel to a byte, the min..max stretch onto 0..255, the
// colour look-up table of the run and the picture record of the GIF and JPEG
// code.
#pragma once

// Clamped to 0..255; float values in range are truncated toward zero and a
// NaN gives 0.
unsigned char float_to_byte(float value);
unsigned char int_to_byte(int value);

// The stretch of an image's minimum..maximum onto 0..255: the quotient
// (v - min) / step with step = (max - min) / 255, or 0 everywhere for a
// constant image. Writers truncate the quotient (through float_to_byte or to
// an integer).
struct byte_rescale {
  float minimum;
  float step;  // 0 for a constant image
  byte_rescale(const float* values, long n);
  float quotient(float value) const { return step != 0.f ? (value - minimum) / step : 0.f; }
};

// Colour look-up table. Every table holds at least 256 entries, so any byte
// indexes it; entries from lut_size() to 255 are black.
class C_IO_RGB {
 public:
  C_IO_RGB() = default;
  C_IO_RGB(const C_IO_RGB&) = delete;
  C_IO_RGB& operator=(const C_IO_RGB&) = delete;
  ~C_IO_RGB();

  // n entries of a grey ramp (index modulo 256).
  void alloc(int n);
  // n entries copied from r, g, b.
  void alloc(int n, const unsigned char* r, const unsigned char* g, const unsigned char* b);
  // The 3-3-2 colour cube, each component the middle of its band.
  void alloc_color();
  unsigned char color_to_pseudo(unsigned char r, unsigned char g, unsigned char b) const;
  void pseudo_to_color(unsigned char index, unsigned char& r, unsigned char& g, unsigned char& b) const;

  int lut_size() const { return lut_size_; }
  // Entry i (0..255); an empty table reads black.
  unsigned char red(int i) const { return red_ != nullptr ? red_[i] : 0; }
  unsigned char green(int i) const { return green_ != nullptr ? green_[i] : 0; }
  unsigned char blue(int i) const { return blue_ != nullptr ? blue_[i] : 0; }

 private:
  void release();
  int lut_size_ = 0;
  unsigned char* red_ = nullptr;
  unsigned char* green_ = nullptr;
  unsigned char* blue_ = nullptr;
};

// Palette of the last palette image read; the GIF and JPEG writers use it
// when it is not empty.
extern C_IO_RGB IO_RGB;

// A whole 8-bit picture as the GIF and JPEG code hand it around.
struct PICINFO {
  unsigned char* pixels;  // width x height bytes from the top line (x3 for kind 1)
  int width;
  int height;
  int kind;               // 0 palette picture, 1 24-bit picture
  unsigned char red[256];
  unsigned char green[256];
  unsigned char blue[256];
  int norm_width;
  int norm_height;
  int frame_kind;
  int grey_map;           // 1: the encoder writes the map as greys
  char full_info[128];
  char short_info[128];
  char* comment;          // owned, NUL-terminated, or null
  int page_count;
  char page_name[64];
};
