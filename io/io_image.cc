// The raw "disp" format. Values are converted between the stored type named
// by the file and the array's element type chunk by chunk, through a small
// big-endian byte buffer, so no second image-sized buffer is needed and the
// caller's image is never touched by a write.
#include "io/io_image.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "array/fatal.h"
#include "array/vms.h"
#include "io/image_file.h"
#include "io/image_input_file.h"
#include "io/image_size.h"
#include "io/pixel_conversion.h"
#include "io/standard_output.h"

io_disp IO_DISP;

namespace {

constexpr bool kHostIsBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
constexpr long kChunk = 1 << 14;  // values per conversion pass

struct TagInfo {
  const char* tag;
  type_data type;
};
// The order decides when a name holds several tags.
const TagInfo kTagOrder[] = {{"_i_", T_INT},        {"_f_", T_FLOAT},  {"_d_", T_DOUBLE},
                             {"_cf_", T_COMPLEX_F}, {"_cd_", T_COMPLEX_D}, {"_b_", T_BYTE},
                             {"_s_", T_SHORT}};
const char* const kTagOfType[] = {"b", "s", "i", "f", "d", "cf", "cd"};

bool valid_type(type_data type) { return type >= T_BYTE && type <= T_COMPLEX_D; }

bool ends_in_d(const char* name) {
  const std::size_t n = std::strlen(name);
  return n >= 2 && std::strcmp(name + n - 2, ".d") == 0;
}

// The type of the first tag found in the file's own name, 7 when none.
type_data type_in_name(const char* name) {
  for (const TagInfo& entry : kTagOrder)
    if (io_file_part_has(name, entry.tag)) return entry.type;
  return T_UNKNOWN;
}

// ---- Big-endian values ----

template <class S>
S load_be(const unsigned char* p) {
  unsigned char bytes[sizeof(S)];
  for (std::size_t b = 0; b < sizeof(S); b++) bytes[b] = kHostIsBigEndian ? p[b] : p[sizeof(S) - 1 - b];
  S value;
  std::memcpy(&value, bytes, sizeof(S));
  return value;
}

template <class S>
void store_be(S value, unsigned char* p) {
  unsigned char bytes[sizeof(S)];
  std::memcpy(bytes, &value, sizeof(S));
  for (std::size_t b = 0; b < sizeof(S); b++) p[b] = kHostIsBigEndian ? bytes[b] : bytes[sizeof(S) - 1 - b];
}

// A stored value as a pair of doubles (every stored type fits exactly).
struct Pixel {
  double re;
  double im;
};

Pixel load_pixel(type_data type, const unsigned char* p) {
  switch (type) {
    case T_BYTE: return {static_cast<double>(p[0]), 0.};
    case T_SHORT: return {static_cast<double>(load_be<int16_t>(p)), 0.};
    case T_INT: return {static_cast<double>(load_be<int32_t>(p)), 0.};
    case T_FLOAT: return {static_cast<double>(load_be<float>(p)), 0.};
    case T_DOUBLE: return {load_be<double>(p), 0.};
    case T_COMPLEX_F: return {static_cast<double>(load_be<float>(p)), static_cast<double>(load_be<float>(p + 4))};
    case T_COMPLEX_D: return {load_be<double>(p), load_be<double>(p + 8)};
    default: return {0., 0.};
  }
}

// Into the array's element type. Whole-image reads round floating values to
// int halves away from zero; block reads truncate them. A 16-bit value is
// read as signed by both (the type is two's complement): reading it as
// unsigned in block reads would turn -1 into 65535, so a tiled image would
// differ from the same image read whole.
enum class IntRule { Round, Truncate };

void convert(const Pixel& v, type_data stored, IntRule rule, int& out) {
  if (stored >= T_FLOAT)
    out = rule == IntRule::Round ? round_saturate<int>(v.re) : saturate<int>(v.re);
  else
    out = static_cast<int>(v.re);
}
void convert(const Pixel& v, type_data, IntRule, float& out) { out = static_cast<float>(v.re); }
void convert(const Pixel& v, type_data, IntRule, std::complex<float>& out) {
  out = std::complex<float>(static_cast<float>(v.re), static_cast<float>(v.im));
}

Pixel as_pixel(int v) { return {static_cast<double>(v), 0.}; }
Pixel as_pixel(float v) { return {static_cast<double>(v), 0.}; }
Pixel as_pixel(const std::complex<float>& v) { return {static_cast<double>(v.real()), static_cast<double>(v.imag())}; }

// No value is clamped into the narrow types: they keep the low bits of the
// truncated value, so 300.7 stored as a byte is 44 and -1 is 255.
void store_pixel(const Pixel& v, type_data type, unsigned char* p) {
  switch (type) {
    case T_BYTE: p[0] = static_cast<unsigned char>(saturate<int64_t>(v.re) & 0xFF); break;
    case T_SHORT:
      store_be(static_cast<uint16_t>(saturate<int64_t>(v.re) & 0xFFFF), p);
      break;
    case T_INT: store_be(saturate<int32_t>(v.re), p); break;
    case T_FLOAT: store_be(static_cast<float>(v.re), p); break;
    case T_DOUBLE: store_be(v.re, p); break;
    case T_COMPLEX_F:
      store_be(static_cast<float>(v.re), p);
      store_be(static_cast<float>(v.im), p + 4);
      break;
    case T_COMPLEX_D:
      store_be(v.re, p);
      store_be(v.im, p + 8);
      break;
    default: break;
  }
}

template <class T>
void decode(type_data stored, IntRule rule, const unsigned char* bytes, long n, T* out) {
  const int size = disp_pixel_bytes(stored);
  for (long k = 0; k < n; k++) convert(load_pixel(stored, bytes + k * size), stored, rule, out[k]);
}

template <class T>
void encode(type_data stored, const T* in, long n, unsigned char* bytes) {
  const int size = disp_pixel_bytes(stored);
  for (long k = 0; k < n; k++) store_pixel(as_pixel(in[k]), stored, bytes + k * size);
}

template <class T>
type_data own_type();
template <>
type_data own_type<int>() { return T_INT; }
template <>
type_data own_type<float>() { return T_FLOAT; }
template <>
type_data own_type<std::complex<float>>() { return T_COMPLEX_F; }

template <class T>
const char* own_type_word();
template <>
const char* own_type_word<int>() { return "INT"; }
template <>
const char* own_type_word<float>() { return "FLOAT"; }
template <>
const char* own_type_word<std::complex<float>>() { return "COMPLEX_F"; }

void close_input(std::FILE* stream) {
  if (stream != stdin) std::fclose(stream);
}

// A regular file holds exactly the values its name announces: a shorter or
// longer one was named for another image, and read by its name it would
// come back as a piece of that image, or with the rest made up.
void check_file_size(std::FILE* stream, const char* name, int nl, int nc, int size) {
  const long long announced = static_cast<long long>(nl) * nc * size;
  const long long held = io_stream_size(stream);
  if (held >= 0 && held != announced)
    fatal_exitf(-1, stderr,
                "Error: the file holds %lld bytes, its name announces %d x %d values of %d bytes, "
                "%lld bytes ... (%s)\n",
                held, nl, nc, size, announced, name);
}

// The same for a stream of unknown length, once the announced values are
// read: nothing may follow them.
void check_stream_ends(std::FILE* stream, const char* name, int nl, int nc, int size) {
  if (std::fgetc(stream) != EOF)
    fatal_exitf(-1, stderr,
                "Error: the stream holds more than its name announces, %d x %d values of %d bytes, "
                "%lld bytes ... (%s)\n",
                nl, nc, size, static_cast<long long>(nl) * nc * size, name);
}

// Parses "<tag><Nl>_<Nc>" at the first occurrence of the tag in the file's
// own name (a folder may hold anything); both sizes positive, their product
// within an image's element count.
void parse_size(const char* name, const char* tag, const char* letter, int* Nl, int* Nc) {
  const char* at = std::strstr(io_file_part(name), tag);
  long long nl = 0, nc = 0;
  bool ok = false;
  if (at != nullptr) {
    const char* p = at + std::strlen(tag);
    char* end = nullptr;
    errno = 0;
    nl = std::strtoll(p, &end, 10);
    if (end != p && *end == '_' && errno == 0) {
      p = end + 1;
      nc = std::strtoll(p, &end, 10);
      ok = end != p && errno == 0 && nl > 0 && nc > 0 && nl <= INT_MAX && nc <= INT_MAX;
    }
  }
  if (!ok) fatal_exitf(-1, stderr, "Error %s: reading string  %s\n", letter, name);
  if (nl * nc > INT_MAX)
    fatal_exitf(-1, stderr, "Error: image %s of %lld x %lld pixels is too large ...\n", name, nl, nc);
  *Nl = static_cast<int>(nl);
  *Nc = static_cast<int>(nc);
}

}  // namespace

void read_size_b(const char* name, int* Nl, int* Nc) { parse_size(name, "_b_", "b", Nl, Nc); }
void read_size_s(const char* name, int* Nl, int* Nc) { parse_size(name, "_s_", "s", Nl, Nc); }
void read_size_i(const char* name, int* Nl, int* Nc) { parse_size(name, "_i_", "i", Nl, Nc); }
void read_size_f(const char* name, int* Nl, int* Nc) { parse_size(name, "_f_", "f", Nl, Nc); }
void read_size_d(const char* name, int* Nl, int* Nc) { parse_size(name, "_d_", "d", Nl, Nc); }
void read_size_cf(const char* name, int* Nl, int* Nc) { parse_size(name, "_cf_", "cf", Nl, Nc); }
void read_size_cd(const char* name, int* Nl, int* Nc) { parse_size(name, "_cd_", "cd", Nl, Nc); }

namespace {

using SizeParser = void (*)(const char*, int*, int*);
const SizeParser kSizeParsers[] = {read_size_b, read_size_s,  read_size_i, read_size_f,
                                   read_size_d, read_size_cf, read_size_cd};

// A name used as the file's own must announce the size of the image written
// under it: else the file would read back as another image.
void check_named_size(const char* name, type_data type, int Nl, int Nc) {
  int named_nl = 0, named_nc = 0;
  kSizeParsers[type](name, &named_nl, &named_nc);
  if (named_nl != Nl || named_nc != Nc)
    fatal_exitf(-1, stderr, "Error: the image is %d x %d pixels, its name says %d x %d ... (%s)\n", Nl, Nc,
                named_nl, named_nc, name);
}

// The rectangle of a block transfer must lie inside the file's image.
void check_rectangle(const char* name, int nl, int nc, int Indi, int Indj, int file_nl, int file_nc) {
  if (Indi < 0 || Indj < 0 || nl < 0 || nc < 0 || static_cast<long long>(Indi) + nl > file_nl ||
      static_cast<long long>(Indj) + nc > file_nc)
    fatal_exitf(-1, stderr,
                "Error: block of %d x %d at line %d, column %d lies outside the %d x %d image %s\n",
                nl, nc, Indi, Indj, file_nl, file_nc, name);
}

}  // namespace

int disp_pixel_bytes(type_data type) {
  static const int kBytes[] = {1, 2, 4, 4, 8, 8, 16};
  return valid_type(type) ? kBytes[type] : 0;
}

std::string disp_file_name(const char* name, type_data type, int Nl, int Nc) {
  std::string file = name;
  if (ends_in_d(name) || !valid_type(type)) return file;
  return file + "_" + kTagOfType[type] + "_" + std::to_string(Nl) + "_" + std::to_string(Nc) + ".d";
}

disp_output disp_output_file(const char* name, type_data own, int Nl, int Nc) {
  if (!ends_in_d(name)) return {disp_file_name(name, own, Nl, Nc), own};
  const type_data stored = type_in_name(name);
  // No file is made for a name whose type cannot be known.
  if (!valid_type(stored)) fatal_exitf(-1, stderr, "Error writting in file %s\n", name);
  check_named_size(name, stored, Nl, Nc);
  return {name, stored};
}

std::FILE* disp_file_des_in(const char* name) {
  if (std_inout(name)) return io_standard_input(name);
  return io_fopen_or_exit(name, name, "rb", "Unable to open file: %s\n");
}

std::FILE* disp_file_des_out(const char* name) {
  if (std_inout(name)) return io_standard_output();
  return io_fopen_or_exit(name, name, "wb", "Unable to open file: %s\n");
}

void io_disp::read_type(const char* name) { type_data = type_in_name(name); }

void io_disp::read_size(const char* name) {
  if (valid_type(type_data)) kSizeParsers[type_data](name, &Nl, &Nc);
}

void io_disp::read_ima(const char* name) {
  const int size = disp_pixel_bytes(type_data);
  if (size == 0) fatal_exitf(-1, stderr, "Error reading file %s\n", name);
  const std::size_t bytes = static_cast<std::size_t>(Nl) * static_cast<std::size_t>(Nc) * size;
  std::FILE* stream = disp_file_des_in(name);
  check_file_size(stream, name, Nl, Nc, size);
  io_claim_image_memory(name, Nl, Nc, size);
  buffer = alloc_buffer(bytes);
  io_read_exact(stream, buffer, bytes, name);
  close_input(stream);
}

void io_disp::read_info_ima(const char* name, int& nl, int& nc, ::type_data& type) {
  std::FILE* stream = disp_file_des_in(name);
  read_type(name);
  read_size(name);
  nl = Nl;
  nc = Nc;
  type = type_data;
  close_input(stream);
}

namespace {

// Whole-image read into an array of element type T.
template <class T>
void read_whole(io_disp& disp, const char* name, to_array<T, false>& Ima) {
  disp.read_type(name);
  const type_data stored = disp.type_data;
  if (!valid_type(stored)) fatal_exitf(-1, stderr, "Error: type unknown reading %s\n", name);
  disp.read_size(name);
  const long n = static_cast<long>(disp.Nl) * disp.Nc;
  const int size = disp_pixel_bytes(stored);
  std::FILE* stream = disp_file_des_in(name);
  // Once the input is open: the prints held until then come first.
  if (stored != own_type<T>() && disp_pixel_bytes(stored) > 2)
    std::fprintf(stderr, "WARNING: convert to %s reading %s\n", own_type_word<T>(), name);
  check_file_size(stream, name, disp.Nl, disp.Nc, size);
  io_check_image_memory(name, disp.Nl, disp.Nc, static_cast<long long>(sizeof(T)));
  if (io_stream_size(stream) < 0) {
    // A pipe does not tell its length: its bytes are gathered first, so a
    // name that promises more than the stream brings costs no image.
    std::vector<unsigned char> data = io_read_stream_bytes(stream, static_cast<std::size_t>(n) * size, name);
    check_stream_ends(stream, name, disp.Nl, disp.Nc, size);
    io_alloc_image(Ima, disp.Nl, disp.Nc, name);
    decode(stored, IntRule::Round, data.data(), n, Ima.buffer());
    close_input(stream);
    return;
  }
  io_alloc_image(Ima, disp.Nl, disp.Nc, name);
  std::vector<unsigned char> bytes(static_cast<std::size_t>(kChunk) * size);
  T* out = Ima.buffer();
  for (long first = 0; first < n; first += kChunk) {
    long count = n - first < kChunk ? n - first : kChunk;
    io_read_exact(stream, bytes.data(), static_cast<std::size_t>(count) * size, name);
    decode(stored, IntRule::Round, bytes.data(), count, out + first);
  }
  close_input(stream);
}

// Whole-image write; a name ending in ".d" chooses the stored type by its
// tag, any other name gets the array's own type and the size suffix.
template <class T>
void write_whole(io_disp& disp, const char* name, to_array<T, false>& Ima) {
  if (Ima.nl() < 1 || Ima.nc() < 1)
    fatal_exitf(-1, stderr, "Error: cannot write an image of %d x %d pixels to %s\n", Ima.nl(), Ima.nc(), name);
  disp.Nl = Ima.nl();
  disp.Nc = Ima.nc();
  const disp_output target = disp_output_file(name, own_type<T>(), disp.Nl, disp.Nc);
  const std::string& file = target.file;
  const type_data stored = disp.type_data = target.stored;
  const int size = disp_pixel_bytes(stored);
  image_output out;
  // The name given decides, not the file made of it: in the disp format the
  // stem of "-_atrou_f_8_8.d" is "-", and every result of a run writing to
  // "-" would follow its sum onto the standard output.
  if (std_inout(name)) out.use_stdout(file.c_str());
  else out.open(file, "wb", file.c_str());
  const long n = static_cast<long>(Ima.nl()) * Ima.nc();
  std::vector<unsigned char> bytes(static_cast<std::size_t>(kChunk) * size);
  const T* in = Ima.buffer();
  for (long first = 0; first < n; first += kChunk) {
    long count = n - first < kChunk ? n - first : kChunk;
    encode(stored, in + first, count, bytes.data());
    out.write(bytes.data(), static_cast<std::size_t>(count) * size);
  }
  out.close();
}

// Moves a stream forward; the standard input, which cannot seek, is read.
void skip_bytes(std::FILE* stream, long long bytes, const char* name) {
  if (bytes <= 0) return;
  if (stream != stdin) {
    if (fseeko(stream, static_cast<off_t>(bytes), SEEK_CUR) != 0)
      fatal_exitf(-1, stderr, "Error: Unable to read in file: %s\n", name);
    return;
  }
  for (long long k = 0; k < bytes; k++)
    if (std::fgetc(stream) == EOF) fatal_exitf(-1, stderr, "Error: Unable to read in file: %s\n", name);
}

// Type and size of the file from its name, and the rectangle checked
// against them; returns the bytes per stored value.
int block_setup(io_disp& disp, const char* name, int nl, int nc, int Indi, int Indj) {
  disp.read_type(name);
  if (!valid_type(disp.type_data)) fatal_exitf(-1, stderr, "Error: unknown type of data ... (%s)\n", name);
  disp.read_size(name);
  check_rectangle(name, nl, nc, Indi, Indj, disp.Nl, disp.Nc);
  return disp_pixel_bytes(disp.type_data);
}

template <class T>
void read_block(io_disp& disp, const char* name, to_array<T, false>& Ima, int Indi, int Indj) {
  std::FILE* stream = disp_file_des_in(name);
  const int nl = Ima.nl(), nc = Ima.nc();
  const int size = block_setup(disp, name, nl, nc, Indi, Indj);
  const type_data stored = disp.type_data;
  check_file_size(stream, name, disp.Nl, disp.Nc, size);
  std::vector<unsigned char> line(static_cast<std::size_t>(nc) * size);
  const long long skip = static_cast<long long>(disp.Nc - nc) * size;
  skip_bytes(stream, (static_cast<long long>(Indi) * disp.Nc + Indj) * size, name);
  for (int i = 0; i < nl; i++) {
    if (std::fread(line.data(), size, nc, stream) != static_cast<std::size_t>(nc)) {
      if (std::is_same<T, int>::value) fatal_exitf(-1, stderr, "Unable to read in file: %s\n", name);
      fatal_exitf(-1, stderr, "Error: Unable to read in file: %s\n       line %d\n       Nc_io %d nc = %d\n",
                  name, i, disp.Nc, nc);
    }
    decode(stored, IntRule::Truncate, line.data(), nc, Ima.buffer() + static_cast<long>(i) * nc);
    if (i + 1 < nl) skip_bytes(stream, skip, name);
  }
  close_input(stream);
}

template <class T>
void write_block(io_disp& disp, const char* name, to_array<T, false>& Ima, int Indi, int Indj) {
  image_output out;
  out.open(name, "rb+", name);
  out.on_write_failure("Unable to read in file: %s\n");
  const int nl = Ima.nl(), nc = Ima.nc();
  const int size = block_setup(disp, name, nl, nc, Indi, Indj);
  const type_data stored = disp.type_data;
  std::vector<unsigned char> line(static_cast<std::size_t>(nc) * size);
  for (int i = 0; i < nl; i++) {
    out.seek((static_cast<long long>(Indi + i) * disp.Nc + Indj) * size);
    encode(stored, Ima.buffer() + static_cast<long>(i) * nc, nc, line.data());
    out.write(line.data(), line.size());
  }
  out.close();
}

}  // namespace

void io_disp::create_file(const char* name) {
  std::string file = disp_file_name(name, type_data, Nl, Nc);
  image_output out;
  out.open(file, "wb", file.c_str());
  out.close();
}

void io_disp::write_ima(const char* name) {
  const int size = disp_pixel_bytes(type_data);
  std::string file = disp_file_name(name, type_data, Nl, Nc);
  if (size == 0 || buffer == nullptr) fatal_exitf(-1, stderr, "Error writting in file %s\n", file.c_str());
  if (ends_in_d(name)) {
    const ::type_data named = type_in_name(name);
    if (valid_type(named)) check_named_size(name, named, Nl, Nc);
  }
  image_output out;
  if (std_inout(name)) out.use_stdout(file.c_str());
  else out.open(file, "wb", file.c_str());
  out.write(buffer, static_cast<std::size_t>(Nl) * static_cast<std::size_t>(Nc) * size);
  out.close();
}

void io_disp::read_ima_int(const char* name, to_array<int, false>& Ima) { read_whole(*this, name, Ima); }
void io_disp::read_ima_float(const char* name, to_array<float, false>& Ima) { read_whole(*this, name, Ima); }
void io_disp::read_ima_complex_f(const char* name, to_array<std::complex<float>, false>& Ima) {
  read_whole(*this, name, Ima);
}
void io_disp::write_ima_int(const char* name, to_array<int, false>& Ima) { write_whole(*this, name, Ima); }
void io_disp::write_ima_float(const char* name, to_array<float, false>& Ima) { write_whole(*this, name, Ima); }
void io_disp::write_ima_complex_f(const char* name, to_array<std::complex<float>, false>& Ima) {
  write_whole(*this, name, Ima);
}

void io_disp::read_block_ima(const char* name, to_array<float, false>& Ima, int Indi, int Indj) {
  read_block(*this, name, Ima, Indi, Indj);
}
void io_disp::read_block_ima(const char* name, to_array<int, false>& Ima, int Indi, int Indj) {
  read_block(*this, name, Ima, Indi, Indj);
}
void io_disp::write_block_ima(const char* name, to_array<float, false>& Ima, int Indi, int Indj) {
  write_block(*this, name, Ima, Indi, Indj);
}
void io_disp::write_block_ima(const char* name, to_array<int, false>& Ima, int Indi, int Indj) {
  write_block(*this, name, Ima, Indi, Indj);
}
