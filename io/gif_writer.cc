// GIF87a encoder: colours merged into a compact map, pixels LZW-coded with
// an open-addressing hash table of 5003 slots and code widths from the
// initial width up to 12 bits, packed in data sub-blocks of 254 bytes.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "array/fatal.h"
#include "array/vms.h"
#include "io/gif_io.h"
#include "io/image_file.h"
#include "io/image_names.h"
#include "io/standard_output.h"

namespace {

constexpr int kMaxBits = 12;
constexpr int kMaxMaxCode = 1 << kMaxBits;
constexpr int kHashSize = 5003;

// The writer's current picture of the block-wise interface.
PICINFO* current_picture_out = nullptr;

class LzwEncoder {
 public:
  LzwEncoder(std::FILE* out, const unsigned char* pc2nc) : out_(out), pc2nc_(pc2nc) {}
  void compress(int init_bits, const unsigned char* pixels, long count);

 private:
  static int max_code_of(int bits) { return (1 << bits) - 1; }
  void output(int code);
  void char_out(int c) {
    accum_[a_count_++] = static_cast<unsigned char>(c);
    if (a_count_ >= 254) flush_char();
  }
  void flush_char() {
    if (a_count_ > 0) {
      std::fputc(a_count_, out_);
      std::fwrite(accum_, 1, a_count_, out_);
      a_count_ = 0;
    }
  }
  void clear_hash() {
    for (int32_t& slot : htab_) slot = -1;
  }

  std::FILE* out_;
  const unsigned char* pc2nc_;
  int n_bits_ = 0;
  int maxcode_ = 0;
  int free_ent_ = 0;
  bool clear_flg_ = false;
  int g_init_bits_ = 0;
  int clear_code_ = 0;
  int eof_code_ = 0;
  int32_t htab_[kHashSize];
  uint16_t codetab_[kHashSize] = {};
  uint32_t cur_accum_ = 0;
  int cur_bits_ = 0;
  unsigned char accum_[256];
  int a_count_ = 0;
};

void LzwEncoder::compress(int init_bits, const unsigned char* pixels, long count) {
  g_init_bits_ = init_bits;
  clear_flg_ = false;
  n_bits_ = init_bits;
  maxcode_ = max_code_of(n_bits_);
  clear_code_ = 1 << (init_bits - 1);
  eof_code_ = clear_code_ + 1;
  free_ent_ = clear_code_ + 2;
  cur_accum_ = 0;
  cur_bits_ = 0;
  a_count_ = 0;
  // 5003 needs 4 doublings to reach 65536: keys spread over 12 bits.
  const int hshift = 4;

  int ent = pc2nc_[pixels[0]];
  clear_hash();
  output(clear_code_);
  for (long k = 1; k < count; k++) {
    const int c = pc2nc_[pixels[k]];
    const int32_t key = (static_cast<int32_t>(c) << kMaxBits) + ent;
    int i = (c << hshift) ^ ent;
    if (htab_[i] == key) {
      ent = codetab_[i];
      continue;
    }
    bool found = false;
    if (htab_[i] >= 0) {
      const int step = i == 0 ? 1 : kHashSize - i;
      for (;;) {
        i -= step;
        if (i < 0) i += kHashSize;
        if (htab_[i] == key) {
          found = true;
          break;
        }
        if (htab_[i] < 0) break;
      }
    }
    if (found) {
      ent = codetab_[i];
      continue;
    }
    output(ent);
    ent = c;
    if (free_ent_ < kMaxMaxCode) {
      codetab_[i] = static_cast<uint16_t>(free_ent_++);
      htab_[i] = key;
    } else {
      // Table full: start again from the single-pixel codes.
      clear_hash();
      free_ent_ = clear_code_ + 2;
      clear_flg_ = true;
      output(clear_code_);
    }
  }
  output(ent);
  output(eof_code_);
}

// Codes are packed least significant bit first; the width grows after the
// code that made free_ent pass maxcode, and returns to the initial width
// after a clear.
void LzwEncoder::output(int code) {
  cur_accum_ &= (cur_bits_ > 0 ? (1u << cur_bits_) - 1 : 0u);
  cur_accum_ |= static_cast<uint32_t>(code) << cur_bits_;
  cur_bits_ += n_bits_;
  while (cur_bits_ >= 8) {
    char_out(static_cast<int>(cur_accum_ & 0xFF));
    cur_accum_ >>= 8;
    cur_bits_ -= 8;
  }
  if (free_ent_ > maxcode_ || clear_flg_) {
    if (clear_flg_) {
      n_bits_ = g_init_bits_;
      maxcode_ = max_code_of(n_bits_);
      clear_flg_ = false;
    } else {
      n_bits_++;
      maxcode_ = n_bits_ == kMaxBits ? kMaxMaxCode : max_code_of(n_bits_);
    }
  }
  if (code == eof_code_) {
    while (cur_bits_ > 0) {
      char_out(static_cast<int>(cur_accum_ & 0xFF));
      cur_accum_ >>= 8;
      cur_bits_ -= 8;
    }
    flush_char();
    std::fflush(out_);
  }
}

// Entry i of the palette: IO_RGB's when it has one, else grey.
void fill_palette(PICINFO& pic) {
  for (int i = 0; i < 256; i++) {
    bool from_table = i < IO_RGB.lut_size();
    pic.red[i] = from_table ? IO_RGB.red(i) : static_cast<unsigned char>(i);
    pic.green[i] = from_table ? IO_RGB.green(i) : static_cast<unsigned char>(i);
    pic.blue[i] = from_table ? IO_RGB.blue(i) : static_cast<unsigned char>(i);
  }
}

// The last entry of the palette an image is written with. A colour map in a
// file has a power-of-two size, and the entries that fill it up repeat an
// earlier colour (black, as a rule): they are no colour of the palette, so
// the entries at the end that repeat an earlier one are left out. The grey
// ramp of an empty table goes to 255.
int palette_last_entry() {
  const int size = IO_RGB.lut_size() < 256 ? IO_RGB.lut_size() : 256;
  if (size == 0) return 255;
  auto repeats_earlier = [](int i) {
    for (int j = 0; j < i; j++)
      if (IO_RGB.red(j) == IO_RGB.red(i) && IO_RGB.green(j) == IO_RGB.green(i) &&
          IO_RGB.blue(j) == IO_RGB.blue(i))
        return true;
    return false;
  };
  int last = size - 1;
  while (last > 0 && repeats_earlier(last)) last--;
  return last;
}

// Pixels are palette indices: a value past the palette's last entry would
// show a colour that is no part of it (the black of the padding, or a grey
// of the ramp past a short table). Clamped values stop at the last entry;
// stretched ones are spread over the palette instead of over 0..255.
void keep_within_palette(std::vector<unsigned char>& bytes, Bool stretched) {
  const int last = palette_last_entry();
  if (last == 255) return;
  for (unsigned char& b : bytes) {
    if (stretched)
      b = static_cast<unsigned char>(b * last / 255);
    else if (b > last)
      b = static_cast<unsigned char>(last);
  }
}

void open_output(image_output& out, const char* name) {
  if (std_inout(name)) {
    out.use_stdout(name);
    return;
  }
  std::string file = gifname(name);
  out.open(file, "wb", file.c_str(), "\nError: cannot open file %s\n");
}

[[noreturn]] void refuse_24_bits() {
  gifWarning("Unable to manage 24 bits ");
  fatal_exit("\n", -1, stderr);
}

// The screen and image descriptors hold 16-bit sizes: a larger picture
// would be written with its sizes cut, as a damaged file.
void check_gif_size(const char* name, int Nl, int Nc) {
  if (Nl < 1 || Nc < 1 || Nl > 65535 || Nc > 65535)
    fatal_exitf(-1, stderr, "Error: a GIF image of %d x %d pixels cannot be written to %s\n", Nl, Nc, name);
}

// Encodes pic into the file of name; the file is removed when that fails,
// and a picture the encoder refuses leaves no file at all.
void write_picture(const char* name, const PICINFO& pic) {
  if (pic.kind == 1) refuse_24_bits();
  check_gif_size(name, pic.height, pic.width);
  image_output out;
  open_output(out, name);
  if (writegif(out.stream(), pic) != 1) {
    const int reason = errno;  // of the write that failed, before the removal
    out.discard();
    fatal_exitf(-1, stderr, "Error writing  file %s\n",
                io_open_failure(nullptr, out.file(), reason, "not every byte was written").c_str());
  }
  out.close();
}

template <class T>
void write_image(const char* name, to_array<T, false>& Ima, Bool Rescale) {
  PICINFO pic{};
  pic.width = Ima.nc();
  pic.height = Ima.nl();
  const Bool stretch = Rescale || std::strcmp(name, "-b") == 0 ? True : False;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(Ima.n_elem()));
  pixels_to_bytes(Ima.buffer(), Ima.n_elem(), stretch, bytes.data());
  keep_within_palette(bytes, stretch);
  pic.pixels = bytes.data();
  fill_palette(pic);
  write_picture(name, pic);
}

PICINFO& current_out(PICINFO* Pic) {
  PICINFO* pic = Pic != nullptr ? Pic : current_picture_out;
  if (pic == nullptr || pic->pixels == nullptr) fatal_exit("Error: cannot write gif image ... \n", -1, stderr);
  return *pic;
}

}  // namespace

void putword(int w, std::FILE* fp) {
  std::fputc(w & 0xFF, fp);
  std::fputc((w >> 8) & 0xFF, fp);
}

int writegif(std::FILE* fp, const PICINFO& Pic) {
  if (fp == nullptr) {
    std::fprintf(stderr, "WriteGIF: file not open for writing\n");
    return -1;
  }
  if (Pic.kind == 1) refuse_24_bits();
  if (Pic.width < 1 || Pic.height < 1 || Pic.width > 65535 || Pic.height > 65535 || Pic.pixels == nullptr) {
    gifWarning("a GIF image holds 1 to 65535 lines and columns\n");
    return -1;
  }
  // Equal colours share the index of their first occurrence.
  unsigned char red[256] = {}, green[256] = {}, blue[256] = {}, pc2nc[256];
  int ncolors = 0;
  for (int i = 0; i < 256; i++) {
    int j = 0;
    while (j < i && !(Pic.red[j] == Pic.red[i] && Pic.green[j] == Pic.green[i] && Pic.blue[j] == Pic.blue[i])) j++;
    if (j < i) {
      pc2nc[i] = pc2nc[j];
    } else {
      red[ncolors] = Pic.red[i];
      green[ncolors] = Pic.green[i];
      blue[ncolors] = Pic.blue[i];
      pc2nc[i] = static_cast<unsigned char>(ncolors++);
    }
  }
  int bits = 1;
  while ((1 << bits) < ncolors) bits++;
  const int init_code_size = bits < 2 ? 2 : bits;

  std::fwrite("GIF87a", 1, 6, fp);
  putword(Pic.width, fp);
  putword(Pic.height, fp);
  std::fputc((bits - 1) | 0xF0, fp);
  std::fputc(0, fp);  // background
  std::fputc(0, fp);  // aspect
  for (int i = 0; i < (1 << bits); i++) {
    if (Pic.grey_map == 1) {
      int grey = (11 * red[i] + 16 * green[i] + 5 * blue[i]) >> 5;
      for (int k = 0; k < 3; k++) std::fputc(grey, fp);
    } else {
      std::fputc(red[i], fp);
      std::fputc(green[i], fp);
      std::fputc(blue[i], fp);
    }
  }
  if (Pic.comment != nullptr && Pic.comment[0] != '\0') {
    std::fputc(0x21, fp);
    std::fputc(0xFE, fp);
    const char* text = Pic.comment;
    for (std::size_t left = std::strlen(text); left > 0;) {
      std::size_t part = left > 255 ? 255 : left;
      std::fputc(static_cast<int>(part), fp);
      std::fwrite(text, 1, part, fp);
      text += part;
      left -= part;
    }
    std::fputc(0, fp);
  }
  std::fputc(0x2C, fp);
  putword(0, fp);
  putword(0, fp);
  putword(Pic.width, fp);
  putword(Pic.height, fp);
  std::fputc(0x00, fp);
  std::fputc(init_code_size, fp);
  auto encoder = std::make_unique<LzwEncoder>(fp, pc2nc);
  encoder->compress(init_code_size + 1, Pic.pixels, static_cast<long>(Pic.width) * Pic.height);
  std::fputc(0, fp);
  std::fputc(0x3B, fp);
  return std::ferror(fp) ? -1 : 1;
}

std::FILE* gif_file_des_out(const char* name) {
  if (std_inout(name)) return io_standard_output();
  std::string file = gifname(name);
  return io_fopen_or_exit(name, file, "wb", "\nError: cannot open file %s\n");
}

void writegif(const char* name, to_array<float, false>& Ima, Bool Rescale) { write_image(name, Ima, Rescale); }
void writegif(const char* name, to_array<int, false>& Ima, Bool Rescale) { write_image(name, Ima, Rescale); }

void writegif(const char* name, PICINFO& Pic) { write_picture(name, Pic); }

void io_write3d_gif(const char* name, to_array<float, true>& Cube, Bool Rescale) {
  if (Cube.naxis() != 3 || Cube.nz() < 3)
    fatal_exitf(-1, stderr, "Error: %s: a colour image needs three planes ...\n", name);
  const int nx = Cube.nx(), ny = Cube.ny();
  const long plane = static_cast<long>(nx) * ny;
  const Bool stretch = Rescale || std::strcmp(name, "-b") == 0 ? True : False;
  // The stretch runs over the whole cube, every channel together.
  std::vector<unsigned char> channels(static_cast<std::size_t>(3 * plane));
  pixels_to_bytes(Cube.buffer(), 3 * plane, stretch, channels.data());
  IO_RGB.alloc_color();
  PICINFO pic{};
  pic.width = nx;
  pic.height = ny;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(plane));
  for (long k = 0; k < plane; k++)
    bytes[k] = IO_RGB.color_to_pseudo(channels[k], channels[plane + k], channels[2 * plane + k]);
  pic.pixels = bytes.data();
  fill_palette(pic);
  write_picture(name, pic);
}

void gif_block_set_ptr_out(PICINFO* Pic) { current_picture_out = Pic; }

void writehdgif(const char* name, int Nl, int Nc, PICINFO* Pic) {
  check_gif_size(name, Nl, Nc);
  if (Pic == nullptr) Pic = current_picture_out != nullptr ? current_picture_out : new PICINFO{};
  prepare_picture(*Pic, name, Nl, Nc);
  fill_palette(*Pic);
  current_picture_out = Pic;
}

void writehdgif(const char* name, int Nl, int Nc) { writehdgif(name, Nl, Nc, nullptr); }

void write_block_gif(to_array<float, false>& Block, int Indi, int Indj, PICINFO* Pic) {
  picture_block_write(current_out(Pic), Block, Indi, Indj, "gif");
}
void write_block_gif(to_array<float, false>& Block, int Indi, int Indj) {
  write_block_gif(Block, Indi, Indj, nullptr);
}
void write_block_gif(to_array<int, false>& Block, int Indi, int Indj, PICINFO* Pic) {
  picture_block_write(current_out(Pic), Block, Indi, Indj, "gif");
}
void write_block_gif(to_array<int, false>& Block, int Indi, int Indj) {
  write_block_gif(Block, Indi, Indj, nullptr);
}

void closegif(const char* name, PICINFO* Pic) {
  PICINFO* pic = Pic != nullptr ? Pic : current_picture_out;
  if (pic == nullptr || pic->pixels == nullptr) return;
  write_picture(name, *pic);
  free_buffer(pic->pixels);
  pic->pixels = nullptr;
}

void closegif(const char* name) { closegif(name, nullptr); }
