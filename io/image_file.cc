// Checked file transfers and byte pictures of the 8-bit and raw formats.
#include "io/image_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "array/fatal.h"
#include "array/vms.h"
#include "io/byte_conversion.h"
#include "io/image_input_file.h"
#include "io/output_file.h"
#include "io/standard_output.h"

std::FILE* io_fopen_read(const std::string& file) {
  std::FILE* stream = std::fopen(file.c_str(), "rb");
  struct stat info;
  if (stream != nullptr && fstat(fileno(stream), &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fclose(stream);
    errno = EISDIR;
    return nullptr;
  }
  io_note_input(stream, file);
  return stream;
}

std::string io_open_failure(const char* typed, const std::string& file, int error, const char* otherwise) {
  struct stat info;
  if (error == ENOENT && typed != nullptr && file != typed && stat(typed, &info) == 0 && S_ISDIR(info.st_mode))
    return std::string("(") + typed + ": " + std::strerror(EISDIR) + ")";
  return "(" + file + ": " + (error != 0 ? std::strerror(error) : otherwise) + ")";
}

std::FILE* io_fopen_or_exit(const char* typed, const std::string& file, const char* mode,
                            const char* message, int status) {
  std::FILE* stream =
      std::strcmp(mode, "rb") == 0 ? io_fopen_read(file) : std::fopen(file.c_str(), mode);
  if (stream == nullptr) {
    const int error = errno;
    fatal_exitf(status, stderr, message, io_open_failure(typed, file, error).c_str());
  }
  return stream;
}

long long io_stream_size(std::FILE* stream) {
  struct stat info;
  if (stream == nullptr || fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<long long>(info.st_size);
}

namespace {
const char* const EmptyFileRemedy = "; the file is empty";
}  // namespace

std::string io_empty_file_remedy(std::FILE* stream) { return io_stream_size(stream) == 0 ? EmptyFileRemedy : ""; }

std::string io_empty_file_remedy(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0 ? EmptyFileRemedy : "";
}

void io_read_exact(std::FILE* stream, void* data, std::size_t bytes, const char* name) {
  if (bytes != 0 && std::fread(data, 1, bytes, stream) != bytes)
    fatal_exitf(-1, stderr, "Error reading file %s\n", name);
}

std::vector<unsigned char> io_read_stream_bytes(std::FILE* stream, std::size_t bytes, const char* name) {
  std::vector<unsigned char> data;
  constexpr std::size_t kPiece = 1 << 20;
  while (data.size() < bytes) {
    const std::size_t piece = bytes - data.size() < kPiece ? bytes - data.size() : kPiece;
    const std::size_t at = data.size();
    data.resize(at + piece);
    io_read_exact(stream, data.data() + at, piece, name);
  }
  return data;
}

image_output::~image_output() {
  // An output never closed is incomplete.
  discard();
}

void image_output::open(const std::string& file, const char* mode, const char* shown,
                        const char* open_message) {
  file_ = file;
  created_ = mode[0] == 'w';
  stream_ = created_ ? io_open_output_or_exit(shown, file, open_message)
                     : io_fopen_or_exit(shown, file, mode, open_message);
}

void image_output::use_stdout(const char* shown) {
  file_ = shown;
  stream_ = io_standard_output();
  created_ = false;
}

void image_output::discard() {
  if (stream_ != nullptr && stream_ != io_standard_output()) {
    if (created_) io_discard_output(stream_);
    else std::fclose(stream_);
  }
  stream_ = nullptr;
}

void image_output::fail(const char* format) {
  const int error = errno;  // before the close and removal change it
  discard();
  fatal_exitf(-1, stderr, format, failure(error).c_str());
}

std::string image_output::failure(int error) const {
  return "(" + file_ + ": " + (error != 0 ? std::strerror(error) : "not every byte was written") + ")";
}

void image_output::write(const void* data, std::size_t bytes) {
  if (bytes != 0 && std::fwrite(data, 1, bytes, stream_) != bytes) fail(write_failure_.c_str());
}

void image_output::seek(long long offset) {
  // Moving writes out what is buffered: a failure there is a failed write.
  if (std::fflush(stream_) != 0) fail(write_failure_.c_str());
  if (fseeko(stream_, static_cast<off_t>(offset), SEEK_SET) != 0) fail("Error: cannot seek in file %s\n");
}

void image_output::close() {
  if (stream_ == nullptr) return;
  // A failed flush or close is a failed write of the data still buffered.
  if (stream_ == io_standard_output()) {
    if (std::fflush(stream_) != 0) fail(write_failure_.c_str());
  } else {
    std::FILE* stream = stream_;
    stream_ = nullptr;
    if (!(created_ ? io_close_output(stream) : std::fclose(stream) == 0))
      fatal_exitf(-1, stderr, write_failure_.c_str(), failure(errno).c_str());
  }
}

void pixels_to_bytes(const float* values, long n, Bool rescale, unsigned char* out) {
  if (!rescale) {
    for (long k = 0; k < n; k++) out[k] = float_to_byte(values[k]);
    return;
  }
  byte_rescale stretch(values, n);
  for (long k = 0; k < n; k++) out[k] = float_to_byte(stretch.quotient(values[k]));
}

void pixels_to_bytes(const int* values, long n, Bool rescale, unsigned char* out) {
  if (!rescale) {
    for (long k = 0; k < n; k++) out[k] = int_to_byte(values[k]);
    return;
  }
  // The stretch works on the values as singles.
  std::vector<float> singles(values, values + n);
  pixels_to_bytes(singles.data(), n, rescale, out);
}

namespace {

void check_picture_block(const PICINFO& Pic, int nl, int nc, int Indi, int Indj, const char* what) {
  if (Pic.pixels == nullptr || Indi < 0 || Indj < 0 || static_cast<long long>(Indi) + nl > Pic.height ||
      static_cast<long long>(Indj) + nc > Pic.width)
    fatal_exitf(-1, stderr, "Error: %s block of %d x %d at line %d, column %d lies outside the %d x %d picture\n",
                what, nl, nc, Indi, Indj, Pic.height, Pic.width);
}

template <class T>
void block_read(const PICINFO& Pic, to_array<T, false>& Block, int Indi, int Indj, const char* what) {
  const int nl = Block.nl(), nc = Block.nc();
  check_picture_block(Pic, nl, nc, Indi, Indj, what);
  for (int i = 0; i < nl; i++) {
    const unsigned char* src = Pic.pixels + static_cast<long>(Indi + i) * Pic.width + Indj;
    T* dst = Block.buffer() + static_cast<long>(i) * nc;
    for (int j = 0; j < nc; j++) dst[j] = static_cast<T>(src[j]);
  }
}

template <class T>
void block_write(PICINFO& Pic, to_array<T, false>& Block, int Indi, int Indj, const char* what) {
  const int nl = Block.nl(), nc = Block.nc();
  check_picture_block(Pic, nl, nc, Indi, Indj, what);
  for (int i = 0; i < nl; i++)
    pixels_to_bytes(Block.buffer() + static_cast<long>(i) * nc, nc, False,
                    Pic.pixels + static_cast<long>(Indi + i) * Pic.width + Indj);
}

}  // namespace

void picture_block_read(const PICINFO& Pic, to_array<float, false>& Block, int Indi, int Indj, const char* what) {
  block_read(Pic, Block, Indi, Indj, what);
}
void picture_block_read(const PICINFO& Pic, to_array<int, false>& Block, int Indi, int Indj, const char* what) {
  block_read(Pic, Block, Indi, Indj, what);
}
void picture_block_write(PICINFO& Pic, to_array<float, false>& Block, int Indi, int Indj, const char* what) {
  block_write(Pic, Block, Indi, Indj, what);
}
void picture_block_write(PICINFO& Pic, to_array<int, false>& Block, int Indi, int Indj, const char* what) {
  block_write(Pic, Block, Indi, Indj, what);
}

void prepare_picture(PICINFO& Pic, const char* name, int Nl, int Nc) {
  Pic.height = Nl;
  Pic.width = Nc;
  const std::size_t n = static_cast<std::size_t>(Nl) * static_cast<std::size_t>(Nc);
  Pic.pixels = static_cast<unsigned char*>(alloc_buffer(n));
  std::memset(Pic.pixels, 0, n);
  Pic.kind = 0;
  Pic.grey_map = 0;
  std::free(Pic.comment);
  Pic.comment = static_cast<char*>(std::malloc(std::strlen(name) + 1));
  if (Pic.comment == nullptr) memory_abort();
  std::strcpy(Pic.comment, name);
}
