// GIF decoder: the whole file is loaded, extensions are skipped (comments
// collected), and the first image is LZW-decoded into palette indices. Every
// read of the file and of the code stream is bounded: bytes past the data
// read as 0, so a damaged file ends in a message, never in a read out of
// bounds or an endless loop. An image whose data end before its last pixel
// (a file cut short) is refused: its missing pixels are not the file's.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "array/fatal.h"
#include "array/memory_size.h"
#include "array/vms.h"
#include "io/gif_io.h"
#include "io/image_file.h"
#include "io/image_names.h"
#include "io/image_size.h"

namespace {

// Colours of a file without any colour map.
const unsigned char kEgaPalette[16][3] = {
    {0, 0, 0},       {0, 0, 128},     {0, 128, 0},     {0, 128, 128},
    {128, 0, 0},     {128, 0, 128},   {128, 128, 0},   {200, 200, 200},
    {100, 100, 100}, {100, 100, 255}, {100, 255, 100}, {100, 255, 255},
    {255, 100, 100}, {255, 100, 255}, {255, 255, 100}, {255, 255, 255}};

constexpr int kMaxCodes = 4096;
constexpr int kStackSize = 4097;
constexpr long kPadding = 256;  // zero bytes after the loaded file

// Name shown in the decoder's messages, set by gif_file_des_in.
std::string& message_name() {
  static std::string name;
  return name;
}

// The reader's current picture of the block-wise interface.
PICINFO* current_picture_in = nullptr;

// The entries of a colour map of `entries` that are colours of the picture,
// whose pixels use indices up to `highest`. A map holds a power of two
// entries, and writers fill it up past its last colour with copies of one,
// black as a rule; when the picture uses no black, the filling repeats no
// earlier colour and would pass for one. Past the highest index used, the
// map's final run of black is that filling, even after unused entries that
// are colours of the map (ImageMagick leaves the greys its dithering did
// not use before it), unless the map darkens down to it past those
// entries (an inverted ramp, a white and black map): its first black is
// then the map's own darkest colour. A run of another colour is filling
// when it is all of the entries past that index.
int image_colours(int highest, const PICINFO& map, int entries) {
  const int first = highest + 1;
  if (first >= entries) return entries;
  const int last = entries - 1;
  auto same_as_last = [&](int i) {
    return map.red[i] == map.red[last] && map.green[i] == map.green[last] && map.blue[i] == map.blue[last];
  };
  int run = last;  // the first entry of the final run
  while (run > first && same_as_last(run - 1)) run--;
  const bool black = map.red[last] == 0 && map.green[last] == 0 && map.blue[last] == 0;
  if (run == first) return run;
  if (!black) return entries;
  auto brightness = [&](int i) { return map.red[i] + map.green[i] + map.blue[i]; };
  for (int i = 0; i < run - 1; i++)
    if (brightness(i) < brightness(run - 1)) return run;
  return run + 1;
}

class GifDecoder {
 public:
  explicit GifDecoder(PICINFO* pic) : pic_(pic) {}
  ~GifDecoder() { free_buffer(picture_); }
  int decode(std::FILE* fp);

 private:
  int error(const char* msg);
  int byte() { return pos_ < size_ ? raw_[pos_++] : (pos_++, 0); }
  int word() {
    int low = byte();
    return low | (byte() << 8);
  }
  void skip_subblocks();
  void read_comment();
  int read_image();
  int read_code();
  void put_pixel(int value);
  void note(const char* text) { std::fprintf(stderr, "%s:  %s\n", message_name().c_str(), text); }

  PICINFO* pic_;
  std::vector<unsigned char> raw_;
  long size_ = 0;
  long pos_ = 0;
  std::vector<unsigned char> raster_;
  long raster_bits_ = 0;
  long data_bits_ = 0;         // bits of the raster that are in the file
  long pixels_from_data_ = -1;  // pixels decoded before a code ran past them; -1 while none has
  int gif89_ = 0;
  int has_colormap_ = 0;
  int bits_per_pixel_ = 1;
  int color_map_size_ = 2;
  int palette_size_ = 0;  // entries of the map the image is painted with; 0 without a map
  int width_ = 0;
  int height_ = 0;
  int interlace_ = 0;
  int code_size_ = 0;
  int read_mask_ = 0;
  long bit_offset_ = 0;
  int prefix_[kMaxCodes] = {};
  int suffix_[kMaxCodes] = {};
  int out_code_[kStackSize] = {};
  int xc_ = 0, yc_ = 0, pass_ = 0;
  long count_ = 0;
  unsigned char* picture_ = nullptr;
};

int GifDecoder::error(const char* msg) {
  gifWarning(msg);
  free_buffer(picture_);
  picture_ = nullptr;
  pic_->pixels = nullptr;
  std::free(pic_->comment);
  pic_->comment = nullptr;
  return 0;
}

void GifDecoder::skip_subblocks() {
  for (int length = byte(); length != 0 && pos_ <= size_; length = byte()) pos_ += length;
}

void GifDecoder::read_comment() {
  std::string text;
  for (int length = byte(); length != 0 && pos_ <= size_; length = byte()) {
    for (int k = 0; k < length; k++) {
      int c = byte();
      if (c != 0) text += static_cast<char>(c);
    }
  }
  if (text.empty()) return;
  std::string joined = pic_->comment != nullptr ? std::string(pic_->comment) + "\n" + text : text;
  char* copy = static_cast<char*>(std::malloc(joined.size() + 1));
  if (copy == nullptr) {
    gifWarning("couldn't malloc space for comments\n");
    return;
  }
  std::memcpy(copy, joined.c_str(), joined.size() + 1);
  std::free(pic_->comment);
  pic_->comment = copy;
}

int GifDecoder::read_code() {
  if (pixels_from_data_ < 0 && bit_offset_ + code_size_ > data_bits_) pixels_from_data_ = count_;
  long at = bit_offset_ >> 3;
  long raster_bytes = static_cast<long>(raster_.size()) - 3;
  uint32_t bits = 0;
  if (at < raster_bytes) {
    bits = raster_[at] | (raster_[at + 1] << 8);
    if (code_size_ >= 8) bits |= static_cast<uint32_t>(raster_[at + 2]) << 16;
  }
  bits >>= (bit_offset_ & 7);
  bit_offset_ += code_size_;
  return static_cast<int>(bits & static_cast<uint32_t>(read_mask_));
}

// Interlaced rows come in four passes: every 8th row from 0, every 8th from
// 4, every 4th from 2, every 2nd from 1.
void GifDecoder::put_pixel(int value) {
  if (!interlace_) {
    picture_[count_] = static_cast<unsigned char>(value);
    return;
  }
  static const int kFirstRow[4] = {0, 4, 2, 1};
  static const int kRowStep[4] = {8, 8, 4, 2};
  if (yc_ < height_) picture_[static_cast<long>(yc_) * width_ + xc_] = static_cast<unsigned char>(value);
  if (++xc_ < width_) return;
  xc_ = 0;
  yc_ += kRowStep[pass_];
  while (yc_ >= height_ && pass_ < 3) {
    pass_++;
    yc_ = kFirstRow[pass_];
  }
}

int GifDecoder::read_image() {
  word();  // left and top offsets: the picture is the image itself
  word();
  width_ = word();
  height_ = word();
  int flags = byte();
  interlace_ = (flags & 0x40) != 0;
  if (width_ < 1 || height_ < 1) return error("corrupt GIF file (image descriptor)\n");
  // The image's own map replaces the global one for its pixels.
  if (flags & 0x80) {
    palette_size_ = 1 << ((flags & 7) + 1);
    for (int i = 0; i < 256; i++) {
      const bool in_map = i < palette_size_;
      pic_->red[i] = static_cast<unsigned char>(in_map ? byte() : 0);
      pic_->green[i] = static_cast<unsigned char>(in_map ? byte() : 0);
      pic_->blue[i] = static_cast<unsigned char>(in_map ? byte() : 0);
    }
  } else if (!has_colormap_) {
    note("No colormap in this GIF file.  Assuming EGA colors.");
  }

  const int c = byte();
  if (c < 1 || c > 11) return error("corrupt GIF file (code size)\n");
  const int clear_code = 1 << c, eof_code = clear_code + 1, first_free = clear_code + 2;
  const int init_code_size = c + 1;

  // The data sub-blocks, joined.
  raster_.clear();
  bool cut = false;
  for (int length = byte(); length != 0; length = byte()) {
    if (pos_ > size_) break;
    raster_.insert(raster_.end(), raw_.begin() + pos_, raw_.begin() + pos_ + length);
    pos_ += length;
    if (pos_ > size_) {
      cut = true;
      break;
    }
  }
  raster_bits_ = static_cast<long>(raster_.size()) * 8;
  // A block cut short was filled from the zero padding, which is no data.
  data_bits_ = raster_bits_ - (cut ? (pos_ - size_) * 8 : 0);
  raster_.resize(raster_.size() + 3, 0);

  // A picture larger than its data could ever code, or than this machine
  // holds, is refused before it is allocated.
  const long long npix = static_cast<long long>(width_) * height_;
  if (npix > lzw_max_pixels(raster_bits_, init_code_size))
    return error("corrupt GIF file (image larger than its data)\n");
  if (!io_image_size_possible(height_, width_, 1, physical_memory_bytes()))
    return error("GIF image too large for the memory of this machine\n");
  io_claim_image_memory(message_name().c_str(), height_, width_, 1);
  picture_ = static_cast<unsigned char*>(alloc_buffer(static_cast<std::size_t>(npix)));
  std::memset(picture_, 0, static_cast<std::size_t>(npix));

  // The literal codes, below the clear code, are the pixel values whatever the colour maps' sizes. The first
  // code of the stream and the first after a clear stand alone: they add no string to the table.
  code_size_ = init_code_size;
  int max_code = 1 << code_size_;
  read_mask_ = max_code - 1;
  int free_code = first_free;
  int old_code = -1;  // none since the start or the last clear
  int fin_char = 0;
  xc_ = yc_ = pass_ = 0;
  count_ = 0;
  bit_offset_ = 0;
  pixels_from_data_ = -1;
  const long n = static_cast<long>(npix);
  while (count_ < n) {
    const int code = read_code();
    if (code == clear_code) {
      code_size_ = init_code_size;
      max_code = 1 << code_size_;
      read_mask_ = max_code - 1;
      free_code = first_free;
      old_code = -1;
      continue;
    }
    if (code == eof_code) break;
    // A code the table does not hold yet, or a literal that no byte holds,
    // comes from no encoder; one read past the data only starts the report
    // of what is missing.
    const bool undefined = code > free_code || (old_code < 0 && code > clear_code);
    if (undefined || (code < clear_code && code > 255)) {
      if (pixels_from_data_ >= 0) break;
      const std::string what = undefined ? "LZW code " + std::to_string(code) + " not yet defined"
                                         : "pixel value " + std::to_string(code) + " above 255";
      return error(("corrupt GIF file (" + what + ")\n").c_str());
    }
    int cur_code = code;
    int out_count = 0;
    if (code == free_code) {
      cur_code = old_code;
      out_code_[out_count++] = fin_char;
    }
    while (cur_code > eof_code && out_count < kStackSize) {
      out_code_[out_count++] = suffix_[cur_code];
      cur_code = prefix_[cur_code];
    }
    if (out_count >= kStackSize) break;  // a string no valid stream can make
    fin_char = cur_code;
    out_code_[out_count++] = fin_char;
    if (count_ + out_count > n) out_count = static_cast<int>(n - count_);
    for (int i = out_count - 1; i >= 0; i--) {
      put_pixel(out_code_[i]);
      count_++;
    }
    // A full table takes no more strings, and an encoder may go on with it
    // as it is instead of sending a clear code: the codes that follow are
    // still the table's 12-bit ones.
    if (old_code >= 0 && free_code < kMaxCodes) {
      prefix_[free_code] = old_code;
      suffix_[free_code] = fin_char;
      free_code++;
      if (free_code >= max_code && code_size_ < 12) {
        code_size_++;
        max_code *= 2;
        read_mask_ = (1 << code_size_) - 1;
      }
    }
    old_code = code;
  }
  // The pixels that codes read past the data gave are zeros of the
  // padding, not the file's.
  const long from_data = pixels_from_data_ >= 0 && pixels_from_data_ < count_ ? pixels_from_data_ : count_;
  if (from_data < n) {
    const std::string text = message_name() + " is truncated: " + std::to_string(n - from_data) + " of its " +
                             std::to_string(width_) + " x " + std::to_string(height_) +
                             " pixels are missing (its data end after " + std::to_string(from_data) + ")\n";
    return error(text.c_str());
  }
  // Cut after its last pixel: only the end code or the trailer is lost.
  if (cut) note("This GIF file seems to be truncated.  Winging it.");

  if (palette_size_ > 0) {
    int highest = 0;
    for (long k = 0; k < n; k++)
      if (picture_[k] > highest) highest = picture_[k];
    // No colour stands for such a pixel: netpbm and ImageMagick refuse it.
    if (highest >= palette_size_) {
      const std::string text = "corrupt GIF file: its pixels use colour " + std::to_string(highest) +
                               ", past its map of " + std::to_string(palette_size_) + " colours (" +
                               message_name() + ")\n";
      return error(text.c_str());
    }
    IO_RGB.alloc(image_colours(highest, *pic_, palette_size_), pic_->red, pic_->green, pic_->blue);
  }
  pic_->pixels = picture_;
  picture_ = nullptr;
  pic_->width = pic_->norm_width = width_;
  pic_->height = pic_->norm_height = height_;
  pic_->kind = 0;
  pic_->frame_kind = 0;
  pic_->grey_map = 0;
  std::snprintf(pic_->full_info, sizeof pic_->full_info,
                "GIF%s, %d bit%s per pixel, %sinterlaced.  (%ld bytes)", gif89_ ? "89" : "87",
                bits_per_pixel_, bits_per_pixel_ == 1 ? "" : "s", interlace_ ? "" : "non-", size_);
  std::snprintf(pic_->short_info, sizeof pic_->short_info, "%dx%d %d GIF%s.", width_, height_,
                color_map_size_, gif89_ ? "89" : "87");
  return 1;
}

int GifDecoder::decode(std::FILE* fp) {
  pic_->pixels = nullptr;
  pic_->comment = nullptr;
  // The whole file, then the zero padding that bounds every look-ahead.
  unsigned char chunk[65536];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, fp)) > 0;)
    raw_.insert(raw_.end(), chunk, chunk + got);
  if (std::ferror(fp)) return error("GIF data read failed\n");
  size_ = static_cast<long>(raw_.size());
  raw_.resize(raw_.size() + kPadding, 0);

  if (size_ < 6 || (std::memcmp(raw_.data(), "GIF87a", 6) != 0 && std::memcmp(raw_.data(), "GIF89a", 6) != 0))
    return error("not a GIF file\n");
  gif89_ = raw_[4] == '9';
  pos_ = 6;
  word();  // logical screen size: not used
  word();
  int flags = byte();
  byte();  // background
  int aspect = byte();
  has_colormap_ = (flags & 0x80) != 0;
  bits_per_pixel_ = (flags & 7) + 1;
  color_map_size_ = 1 << bits_per_pixel_;
  if (aspect != 0 && !gif89_) return error("corrupt GIF file (screen descriptor)\n");

  if (has_colormap_) {
    for (int i = 0; i < color_map_size_; i++) {
      pic_->red[i] = static_cast<unsigned char>(byte());
      pic_->green[i] = static_cast<unsigned char>(byte());
      pic_->blue[i] = static_cast<unsigned char>(byte());
    }
    palette_size_ = color_map_size_;
  } else {
    for (int i = 0; i < 256; i++) {
      pic_->red[i] = kEgaPalette[i & 15][0];
      pic_->green[i] = kEgaPalette[i & 15][1];
      pic_->blue[i] = kEgaPalette[i & 15][2];
    }
  }

  bool got_image = false;
  int block = 0;
  for (;;) {
    block = byte();
    if (block == 0x21) {
      int label = byte();
      if (label == 0xFE) {
        read_comment();
      } else if (label == 0x01) {
        note("PlainText extension found in GIF file.  Ignored.");
        int header = byte();
        pos_ += header;
        skip_subblocks();
      } else if (label == 0xF9) {
        note("Graphic Control Extension in GIF file.  Ignored.");
        skip_subblocks();
      } else if (label == 0xFF) {
        skip_subblocks();
      } else if (label == 0x52) {
        int header = byte();
        pos_ += header;
        skip_subblocks();
      } else {
        std::fprintf(stderr, "%s:  Unknown extension 0x%02x in GIF file.  Ignored.\n", message_name().c_str(),
                     label);
        skip_subblocks();
      }
    } else if (block == 0x2C) {
      if (!got_image) {
        if (read_image() != 1) return 0;
        got_image = true;
      } else {
        pos_ += 8;
        int image_flags = byte();
        if (image_flags & 0x80) pos_ += 3L * (1 << ((image_flags & 7) + 1));
        byte();
        for (int length = byte(); length != 0 && pos_ <= size_; length = byte()) pos_ += length;
      }
    } else {
      break;
    }
  }
  // The byte that ended the loop: a trailer, the file's last byte, or a
  // zero read past the end are all normal ends.
  long at = pos_ - 1;
  if (block != 0x3B && at < size_ - 1) {
    char text[96];
    std::snprintf(text, sizeof text, "Unknown block type (0x%02x) at offset 0x%lx\n", block, at);
    if (!got_image) return error(text);
    gifWarning(text);
  }
  if (!got_image) return error("no image data found in GIF file\n");
  return 1;
}

template <class T>
void read_whole(const char* name, to_array<T, false>& Ima) {
  std::FILE* fp = gif_file_des_in(name);
  PICINFO pic{};
  if (readgif(fp, &pic) != 1)
    fatal_exitf(-1, stderr, "Error reading  file %s%s\n", name, io_empty_file_remedy(fp).c_str());
  std::fclose(fp);
  io_alloc_image(Ima, pic.height, pic.width, name);
  T* out = Ima.buffer();
  for (long k = 0, n = static_cast<long>(pic.height) * pic.width; k < n; k++) out[k] = static_cast<T>(pic.pixels[k]);
  free_buffer(pic.pixels);
  std::free(pic.comment);
}

PICINFO& current_in(PICINFO* Pic) {
  PICINFO* pic = Pic != nullptr ? Pic : current_picture_in;
  if (pic == nullptr) fatal_exit("Error: cannot read gif image ... \n", -1, stderr);
  return *pic;
}

}  // namespace

// After a clear code (or at the start) the j-th code (j from 0) stands for
// at most j + 1 pixels: each code adds one table entry at most one pixel
// longer than the longest before it. That code is at least w(j) = min(12,
// max(init_code_size, bits of first_free + j - 1)) bits wide, because the
// decoder widens its codes as the table fills, and once the table is full
// (j of 4096 on) no string grows longer while codes stay 12 bits wide. So
// no code yields more than R = max over j of (j + 2) / w(j) pixels per bit
// (about 341, reached with full 12-bit tables: some 2700 pixels per byte of
// data), and n bits yield at most R * n. At the end of the data one code
// may take some of its bits from the zero padding, and the decoder then
// reads zero codes of one pixel each, at most one table's worth: the last
// term allows for both.
long long lzw_max_pixels(long long code_bits, int init_code_size) {
  const int first_free = (1 << (init_code_size - 1)) + 2;
  double ratio = 0.;
  for (int j = 0; j <= kMaxCodes; j++) {
    int width = init_code_size;
    while (width < 12 && (1 << width) <= first_free + j - 1) width++;
    const double pixels_per_bit = (j + 2.) / width;
    if (pixels_per_bit > ratio) ratio = pixels_per_bit;
  }
  return static_cast<long long>(ratio * static_cast<double>(code_bits)) + 2 * (kMaxCodes + 2);
}

std::string gifname(const char* name) { return io_completed_name(name, ".gif"); }

void gifWarning(const char* msg) { std::fprintf(stderr, "Error: %s", msg); }

int readgif(std::FILE* fp, PICINFO* Pic) {
  GifDecoder decoder(Pic);
  return decoder.decode(fp);
}

std::FILE* gif_file_des_in(const char* name) {
  if (std_inout(name)) fatal_exit("Error: GIF format cannot be read from standard input ... \n", -1, stderr);
  std::string file = gifname(name);
  std::FILE* fp = io_fopen_or_exit(name, file, "rb", "\nError: cannot open file %s\n");
  message_name() = name;
  return fp;
}

void readgif(const char* name, to_array<float, false>& Ima) { read_whole(name, Ima); }
void readgif(const char* name, to_array<int, false>& Ima) { read_whole(name, Ima); }

void readgif(const char* name, PICINFO& Pic) {
  std::FILE* fp = gif_file_des_in(name);
  if (readgif(fp, &Pic) != 1)
    fatal_exitf(-1, stderr, "Error reading  file %s%s\n", name, io_empty_file_remedy(fp).c_str());
  std::fclose(fp);
}

void io_read3d_gif(const char* name, to_array<float, true>& Cube) {
  PICINFO pic{};
  readgif(name, pic);
  if (IO_RGB.lut_size() == 0) IO_RGB.alloc(255);
  // The cube's three planes count as one image three times as wide.
  io_claim_image_memory(name, pic.height, 3LL * pic.width, static_cast<long long>(sizeof(float)));
  Cube.alloc(pic.width, pic.height, 3);
  for (int y = 0; y < pic.height; y++)
    for (int x = 0; x < pic.width; x++) {
      unsigned char r, g, b;
      IO_RGB.pseudo_to_color(pic.pixels[static_cast<long>(y) * pic.width + x], r, g, b);
      Cube(x, y, 0) = r;
      Cube(x, y, 1) = g;
      Cube(x, y, 2) = b;
    }
  free_buffer(pic.pixels);
  std::free(pic.comment);
}

void readhdgif(const char* name, int& Nl, int& Nc, PICINFO*& Pic) {
  if (Pic == nullptr) Pic = new PICINFO{};
  readgif(name, *Pic);
  Nl = Pic->height;
  Nc = Pic->width;
  current_picture_in = Pic;
}

void readhdgif(const char* name, int& Nl, int& Nc) { readhdgif(name, Nl, Nc, current_picture_in); }

void gif_block_set_ptr_in(PICINFO* Pic) { current_picture_in = Pic; }

void read_block_gif(to_array<float, false>& Block, int Indi, int Indj, PICINFO* Pic) {
  picture_block_read(current_in(Pic), Block, Indi, Indj, "gif");
}
void read_block_gif(to_array<float, false>& Block, int Indi, int Indj) {
  read_block_gif(Block, Indi, Indj, nullptr);
}
void read_block_gif(to_array<int, false>& Block, int Indi, int Indj, PICINFO* Pic) {
  picture_block_read(current_in(Pic), Block, Indi, Indj, "gif");
}
void read_block_gif(to_array<int, false>& Block, int Indi, int Indj) {
  read_block_gif(Block, Indi, Indj, nullptr);
}
