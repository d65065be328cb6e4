// Binary PGM. The reader takes the pixels that follow the header (the byte
// after the maximum value, or the end of a comment right after it),
// refuses 16-bit files and files shorter than their header says, and other
// Netpbm kinds, each saying what is wrong, and never scans past the end of
// the file.
#include "io/pgm_io.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "array/fatal.h"
#include "array/vms.h"
#include "io/byte_conversion.h"
#include "io/image_file.h"
#include "io/image_names.h"
#include "io/image_size.h"
#include "io/standard_output.h"

namespace {

struct PgmHeader {
  int width = 0;
  int height = 0;
  long long data_start = 0;  // byte offset of the first pixel
};

[[noreturn]] void header_ends(std::FILE* stream, const char* name) {
  fatal_exitf(-1, stderr, "Error: the PGM header of %s ends before its pixels ...%s\n", name,
              io_empty_file_remedy(stream).c_str());
}

int next_char(std::FILE* stream, const char* name) {
  int c = std::fgetc(stream);
  if (c == EOF) header_ends(stream, name);
  return c;
}

// The rest of a comment; a carriage return alone ends a line too (old Mac
// files), as in netpbm.
void skip_to_line_end(std::FILE* stream, const char* name) {
  int c;
  do c = next_char(stream, name);
  while (c != '\n' && c != '\r');
}

// What a Netpbm file of another kind is, by the digit after its 'P'.
std::string netpbm_kind(int magic) {
  switch (magic) {
    case '1': return "a plain (ASCII) PBM bitmap, P1";
    case '2': return "a plain (ASCII) PGM file, P2";
    case '3': return "a plain (ASCII) PPM colour image, P3";
    case '4': return "a binary PBM bitmap, P4";
    case '6': return "a binary PPM colour image, P6";
    default: return "no PGM file";
  }
}

// What to do with the grey files of other writers: netpbm, found wherever
// PGM is, converts them; FITS keeps values past 255 that 8 bits cannot.
const char PlainRemedy[] =
    "; convert it with netpbm: pamtopnm writes it as binary PGM when its maximum value is at most 255, "
    "pamtofits as FITS with every value kept";
const char DeepRemedy[] =
    "; convert it with netpbm: pamtofits writes it as FITS with every value kept, pamdepth 255 as 8-bit PGM";

[[noreturn]] void refuse_kind(const char* name, int magic) {
  fatal_exitf(-1, stderr, "Unable to read file: %s: it is %s; only binary 8-bit PGM files (P5) are read%s\n", name,
              netpbm_kind(magic).c_str(), magic == '2' ? PlainRemedy : "");
}

// The pixels a header announces are not all in the file.
[[noreturn]] void refuse_short(const char* name, int width, int height, long long held) {
  const long long needed = static_cast<long long>(width) * height;
  fatal_exitf(-1, stderr,
              "Unable to read file: %s: it is short by %lld byte%s (%d x %d pixels need %lld bytes after "
              "the header, it holds %lld)\n",
              name, needed - held, needed - held == 1 ? "" : "s", width, height, needed, held < 0 ? 0 : held);
}

// A header value that names a size: positive, and the image must fit.
int size_value(unsigned value, const char* name) {
  if (value == 0 || value > static_cast<unsigned>(INT_MAX))
    fatal_exitf(-1, stderr, "Error: %s has a PGM size of %u ...\n", name, value);
  return static_cast<int>(value);
}

PgmHeader parse_header(std::FILE* stream, const char* name) {
  int c = ' ';
  while (c != 'P' && c != '#') c = next_char(stream, name);
  PGMSkipComments(stream, &c, name);
  int magic = next_char(stream, name);
  PgmHeader header;
  header.width = size_value(PGMGetVal(stream, name), name);
  header.height = size_value(PGMGetVal(stream, name), name);
  if (magic != '5') refuse_kind(name, magic);
  unsigned maxval = PGMGetVal(stream, name);
  if (maxval == 0 || maxval > 255)
    fatal_exitf(-1, stderr,
                "Unable to read file: %s: it has the maximum value %u; only binary 8-bit PGM files (P5, "
                "maximum value 1 to 255) are read%s\n",
                name, maxval, maxval > 255 ? DeepRemedy : "");
  // One white-space character separates the header from the pixels, or a
  // comment up to the end of its line, as netpbm and ImageMagick read it:
  // the pixels start after that line end, whatever follows it.
  if (next_char(stream, name) == '#') skip_to_line_end(stream, name);
  header.data_start = ftello(stream);
  long long npix = static_cast<long long>(header.width) * header.height;
  if (npix > INT_MAX)
    fatal_exitf(-1, stderr, "Error: PGM image %s of %d x %d pixels is too large ...\n", name, header.width,
                header.height);
  long long size = io_stream_size(stream);
  if (size >= 0 && size - header.data_start < npix)
    refuse_short(name, header.width, header.height, size - header.data_start);
  return header;
}

void check_rectangle(const char* name, int nl, int nc, int Indi, int Indj, int file_nl, int file_nc) {
  if (Indi < 0 || Indj < 0 || static_cast<long long>(Indi) + nl > file_nl ||
      static_cast<long long>(Indj) + nc > file_nc)
    fatal_exitf(-1, stderr,
                "Error: block of %d x %d at line %d, column %d lies outside the %d x %d image %s\n",
                nl, nc, Indi, Indj, file_nl, file_nc, name);
}

std::string header_text(const char* name, int Nl, int Nc) {
  // The comment is one line, whatever line ends the name holds.
  std::string comment = name;
  std::replace(comment.begin(), comment.end(), '\n', ' ');
  std::replace(comment.begin(), comment.end(), '\r', ' ');
  return "P5\n#" + comment + "\n" + std::to_string(Nc) + " " + std::to_string(Nl) + "\n255\n";
}

void open_output(image_output& out, const char* name) {
  if (std_inout(name)) out.use_stdout(name);
  else out.open(pgmname(name), "wb", name);
}

template <class T>
void read_whole(const char* name, to_array<T, false>& Ima) {
  int nl = 0, nc = 0;
  unsigned char* bytes = nullptr;
  readpgm(name, nl, nc, bytes);
  io_alloc_image(Ima, nl, nc, name);
  T* out = Ima.buffer();
  for (long k = 0, n = static_cast<long>(nl) * nc; k < n; k++) out[k] = static_cast<T>(bytes[k]);
  free_buffer(bytes);
}

template <class T>
void read_block(const char* name, to_array<T, false>& Ima, int Indi, int Indj) {
  std::FILE* stream = io_fopen_or_exit(name, name, "rb", "Unable to open file: %s\n");
  PgmHeader header = parse_header(stream, name);
  const int nl = Ima.nl(), nc = Ima.nc();
  check_rectangle(name, nl, nc, Indi, Indj, header.height, header.width);
  std::vector<unsigned char> line(static_cast<std::size_t>(nc));
  for (int i = 0; i < nl; i++) {
    long long at = header.data_start + static_cast<long long>(Indi + i) * header.width + Indj;
    if (fseeko(stream, static_cast<off_t>(at), SEEK_SET) != 0 ||
        std::fread(line.data(), 1, line.size(), stream) != line.size())
      fatal_exitf(-1, stderr, "Unable to read file: %s\n", name);
    T* row = Ima.buffer() + static_cast<long>(i) * nc;
    for (int j = 0; j < nc; j++) row[j] = static_cast<T>(line[j]);
  }
  std::fclose(stream);
}

// With rescaling the step is (max - min) / 255 rounded to single and each
// byte the single-precision quotient truncated, so the maximum may land on
// 254 (the quotient of a value within min..max never reaches 256, so taking
// its low 8 bits or clamping it gives the same byte).
template <class T>
void write_whole(const char* name, to_array<T, false>& Ima, Bool rescale) {
  const Bool stretch = rescale || std::strcmp(name, "-b") == 0 ? True : False;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(Ima.n_elem()));
  pixels_to_bytes(Ima.buffer(), Ima.n_elem(), stretch, bytes.data());
  writepgm(name, Ima.nl(), Ima.nc(), bytes.data());
}

template <class T>
void write_block(const char* name, int Nl, int Nc, to_array<T, false>& Ima, int Indi, int Indj) {
  image_output out;
  out.open(pgmname(name), "rb+", name);
  out.on_write_failure("Unable to write file: %s\n");
  const long long header_bytes = static_cast<long long>(header_text(name, Nl, Nc).size());
  const int nl = Ima.nl(), nc = Ima.nc();
  check_rectangle(name, nl, nc, Indi, Indj, Nl, Nc);
  std::vector<unsigned char> line(static_cast<std::size_t>(nc));
  for (int i = 0; i < nl; i++) {
    const T* row = Ima.buffer() + static_cast<long>(i) * nc;
    for (int j = 0; j < nc; j++) line[j] = float_to_byte(static_cast<float>(row[j]));
    out.seek(header_bytes + static_cast<long long>(Indi + i) * Nc + Indj);
    out.write(line.data(), line.size());
  }
  out.close();
}

}  // namespace

std::string pgmname(const char* name) { return io_completed_name(name, ".pgm"); }

std::FILE* pgm_file_des_in(const char* name) {
  if (std_inout(name)) fatal_exit("Error: PGM format cannot be read from standard input ... \n", -1, stderr);
  std::FILE* stream = io_fopen_or_exit(name, pgmname(name), "rb", "Error: Unable to open file: %s\n");
  return stream;
}

std::FILE* pgm_file_des_out(const char* name) {
  if (std_inout(name)) return io_standard_output();
  const std::string file = pgmname(name);
  return io_fopen_or_exit(name, file, "wb", "Unable to open file: %s\n");
}

void PGMSkipComments(std::FILE* stream, int* c, const char* name) {
  while (*c == '#') {
    skip_to_line_end(stream, name);
    do *c = next_char(stream, name);
    while (*c < 32);
  }
}

unsigned PGMGetVal(std::FILE* stream, const char* name) {
  int c = next_char(stream, name);
  while (c <= 32) c = next_char(stream, name);
  PGMSkipComments(stream, &c, name);
  while (c <= 32) c = next_char(stream, name);
  if (c < '0' || c > '9') fatal_exitf(1, stdout, "Error parsing file!  %s\n", name);
  unsigned long long value = 0;
  while (c >= '0' && c <= '9') {
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 0xFFFFFFFFull) fatal_exitf(-1, stderr, "Error: header value too large in %s\n", name);
    c = std::fgetc(stream);
  }
  if (c != EOF) std::ungetc(c, stream);
  return static_cast<unsigned>(value);
}

void readhdpgm(const char* name, int& Nl, int& Nc) {
  std::FILE* stream = io_fopen_or_exit(name, name, "rb", "Unable to open file: %s\n");
  PgmHeader header = parse_header(stream, name);
  Nl = header.height;
  Nc = header.width;
  std::fclose(stream);
}

void readpgm(const char* name, int& Nl, int& Nc, unsigned char*& buffer) {
  std::FILE* stream = pgm_file_des_in(name);
  PgmHeader header = parse_header(stream, name);
  Nl = header.height;
  Nc = header.width;
  const std::size_t n = static_cast<std::size_t>(Nl) * static_cast<std::size_t>(Nc);
  io_claim_image_memory(name, Nl, Nc, 1);
  buffer = static_cast<unsigned char*>(alloc_buffer(n));
  const std::size_t held = std::fread(buffer, 1, n, stream);
  if (held != n) {
    free_buffer(buffer);
    buffer = nullptr;
    refuse_short(name, Nc, Nl, static_cast<long long>(held));
  }
  std::fclose(stream);
}

void readpgm(const char* name, to_array<int, false>& Ima) { read_whole(name, Ima); }
void readpgm(const char* name, to_array<float, false>& Ima) { read_whole(name, Ima); }

void read_block_pgm(const char* name, to_array<float, false>& Ima, int Indi, int Indj) {
  read_block(name, Ima, Indi, Indj);
}
void read_block_pgm(const char* name, to_array<int, false>& Ima, int Indi, int Indj) {
  read_block(name, Ima, Indi, Indj);
}

void writehdpgm(const char* name, int Nl, int Nc) {
  image_output out;
  open_output(out, name);
  std::string header = header_text(name, Nl, Nc);
  out.write(header.data(), header.size());
  out.close();
}

void writepgm(const char* name, int Nl, int Nc, const unsigned char* buffer) {
  if (Nl < 1 || Nc < 1)
    fatal_exitf(-1, stderr, "Error: cannot write an image of %d x %d pixels to %s\n", Nl, Nc, name);
  image_output out;
  open_output(out, name);
  std::string header = header_text(name, Nl, Nc);
  out.write(header.data(), header.size());
  out.write(buffer, static_cast<std::size_t>(Nl) * static_cast<std::size_t>(Nc));
  out.close();
}

void writepgm(const char* name, to_array<float, false>& Ima, Bool rescale) { write_whole(name, Ima, rescale); }
void writepgm(const char* name, to_array<int, false>& Ima, Bool rescale) { write_whole(name, Ima, rescale); }

void write_block_pgm(const char* name, int Nl, int Nc, to_array<float, false>& Ima, int Indi, int Indj) {
  write_block(name, Nl, Nc, Ima, Indi, Indj);
}
void write_block_pgm(const char* name, int Nl, int Nc, to_array<int, false>& Ima, int Indi, int Indj) {
  write_block(name, Nl, Nc, Ima, Indi, Indj);
}
