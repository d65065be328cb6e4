// Checked file transfers and byte pictures shared by the raw, PGM, GIF and
// JPEG formats: every read must deliver all the bytes it asks for, every
// write and close is checked, and an output that fails is removed so that no
// partial file is left looking complete.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "array/base_types.h"
#include "array/to_array.h"

// Opens a file for reading ("rb"). A folder is refused with errno EISDIR:
// fopen would open it and only the first read would fail, without a reason.
// The file opened is recorded as an input (io/image_input_file.h).
std::FILE* io_fopen_read(const std::string& file);

// "(file: reason)" for an open of `file` that failed with errno `error`, for
// messages that name the file and say why. When the format added an
// extension to the name the user typed and that name is a folder, the
// folder is named instead: "(typed: Is a directory)". An error of 0 means
// no system error applies; the reason is then `otherwise`.
std::string io_open_failure(const char* typed, const std::string& file, int error, const char* otherwise = "");

// Opens `file` in `mode` ("rb" through io_fopen_read) or ends the process
// with `status` and `message`, a printf format whose one %s receives
// io_open_failure's "(file: reason)" for the name the user typed.
std::FILE* io_fopen_or_exit(const char* typed, const std::string& file, const char* mode,
                            const char* message, int status = -1);

// Size in bytes of the file behind an open stream, or -1 when it is not a
// regular file (a pipe, the standard input).
long long io_stream_size(std::FILE* stream);
// "; the file is empty" for a regular file of 0 bytes (the file behind an
// open stream, or at a path), to follow a message that a reader's first
// bytes gave; else "".
std::string io_empty_file_remedy(std::FILE* stream);
std::string io_empty_file_remedy(const std::string& path);

// Reads exactly `bytes` bytes or ends the process with "Error reading file
// <name>".
void io_read_exact(std::FILE* stream, void* data, std::size_t bytes, const char* name);

// Exactly `bytes` bytes of a stream of unknown length (a pipe), gathered as
// they come, so that a header or name promising more than the stream brings
// costs no memory it does not fill; a stream that ends sooner stops the
// process with "Error reading file <name>".
std::vector<unsigned char> io_read_stream_bytes(std::FILE* stream, std::size_t bytes, const char* name);

// An output file opened for writing ("wb", a new file that takes its place
// when closed: io/output_file.h) or updating ("rb+"), or the standard
// output. On any failed write, seek or close the message names the file and
// the system's reason, "(file: No space left on device)", a file this object
// created is removed, and the process ends.
class image_output {
 public:
  image_output() = default;
  image_output(const image_output&) = delete;
  image_output& operator=(const image_output&) = delete;
  ~image_output();

  // A null stream from fopen prints "Unable to open file: (<file>: <reason>)"
  // (or the given open_message, a printf format whose one %s receives the
  // parenthesis) and ends the process; shown is the name the user gave.
  void open(const std::string& file, const char* mode, const char* shown,
            const char* open_message = "Unable to open file: %s\n");
  void use_stdout(const char* shown);
  // The message of a failed write, a printf format whose one %s receives
  // "(name: reason)".
  void on_write_failure(const char* format) { write_failure_ = format; }
  void write(const void* data, std::size_t bytes);
  void seek(long long offset);
  // Flushes the standard output, or closes the file, which then takes its
  // place.
  void close();
  // Closes, and removes a file this object created; the caller then reports.
  void discard();
  std::FILE* stream() const { return stream_; }
  // The file as written (with the extension its writer added), or the name
  // shown for the standard output.
  const std::string& file() const { return file_; }

 private:
  [[noreturn]] void fail(const char* format);
  std::string failure(int error) const;
  std::FILE* stream_ = nullptr;
  std::string file_;  // as written, with the extension the writer added
  std::string write_failure_ = "Error: cannot write in file %s\n";
  bool created_ = false;
};

// The bytes of n pixels: with rescale, min..max stretched onto 0..255 (a
// constant image gives zeros), else clamped to 0..255 with fractions
// truncated.
void pixels_to_bytes(const float* values, long n, Bool rescale, unsigned char* out);
void pixels_to_bytes(const int* values, long n, Bool rescale, unsigned char* out);

// Rectangles of a byte picture held in memory (the block-wise GIF and JPEG
// interfaces): Block(i, j) is pixel (Indi + i, Indj + j). The block must lie
// inside the picture; `what` names the format in the message.
struct PICINFO;
void picture_block_read(const PICINFO& Pic, to_array<float, false>& Block, int Indi, int Indj, const char* what);
void picture_block_read(const PICINFO& Pic, to_array<int, false>& Block, int Indi, int Indj, const char* what);
// Pixels become float_to_byte (float) or int_to_byte (int) of the block.
void picture_block_write(PICINFO& Pic, to_array<float, false>& Block, int Indi, int Indj, const char* what);
void picture_block_write(PICINFO& Pic, to_array<int, false>& Block, int Indi, int Indj, const char* what);
// Prepares a block-wise writer's record: Nl x Nc zero pixels (alloc_buffer),
// kind 0, grey_map 0, and a copy of the output name as its comment.
void prepare_picture(PICINFO& Pic, const char* name, int Nl, int Nc);
