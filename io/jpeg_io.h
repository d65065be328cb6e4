// JPEG images through libjpeg (interface 62): reads as grey levels, colour
// cubes or pictures, writes grey, pseudo-colour (through the run's colour
// table) or full colour; and a block-wise interface over a whole picture held
// in memory.
#pragma once

#include <cstdio>
#include <string>

#include <jpeglib.h>

#include "array/base_types.h"
#include "array/to_array.h"
#include "io/byte_conversion.h"

constexpr int JPEG_READ_IN_GRAY = 1;
constexpr int JPEG_READ_IN_PSEUDO = 2;
constexpr int JPEG_READ_IN_RGB = 3;

// name when its file name holds ".jpg" or ends in it in any case, else
// name + ".jpg".
std::string jpgname(const char* name);

class READ_JPEG {
 public:
  Bool Verbose = False;

  READ_JPEG();
  ~READ_JPEG();
  READ_JPEG(const READ_JPEG&) = delete;
  READ_JPEG& operator=(const READ_JPEG&) = delete;

  void startread(const char* name, int mode);
  void read_ima2d(const char* name, to_array<float, false>& Ima);
  void read_ima2d(const char* name, to_array<int, false>& Ima);
  // Pic's pixels become a new buffer (release it with free_buffer).
  void read_ima2d(const char* name, PICINFO* Pic);
  void read_ima3d(const char* name, to_array<float, true>& Cube);
  // Three new planes (release them with delete[]).
  void read_ima3d(const char* name, unsigned char*& R, unsigned char*& G, unsigned char*& B, int& Nl, int& Nc);
  // Up to NbrLine further lines into Pic's pixels from their start; returns
  // the number read.
  int readbuff(int NbrLine, PICINFO* Pic, Bool FullColor);
  void end_read();

  int nl() const { return Nl; }
  const char* file_name() const { return Name.c_str(); }
  int nc() const { return Nc; }

  // Library state, public for the error handler.
  struct error_manager {
    jpeg_error_mgr pub;
    READ_JPEG* reader;
    void (*library_emit_message)(j_common_ptr, int);  // the library's warning output
  };
  jpeg_decompress_struct cinfo;
  error_manager jerr;
  std::FILE* infile = nullptr;
  bool created = false;

 private:
  JSAMPARRAY row_buffer = nullptr;
  int Nl = 0;
  int Nc = 0;
  std::string Name;
  int color = 0;
  template <class T>
  // trace_lines: the verbose trace names each scanline read.
  void read_grey(T* out, bool trace_lines);
};

class WRITE_JPEG {
 public:
  Bool Verbose = False;
  int pseudo_color = 0;  // 1: bytes written as RGB through IO_RGB
  int quality = 100;
  Bool rescale = False;

  WRITE_JPEG();
  ~WRITE_JPEG();
  WRITE_JPEG(const WRITE_JPEG&) = delete;
  WRITE_JPEG& operator=(const WRITE_JPEG&) = delete;

  void startwrite(const char* name, int Nl, int Nc);
  void write_ima2d(const char* name, to_array<float, false>& Ima);
  void write_ima2d(const char* name, to_array<int, false>& Ima);
  void write_ima2d(const char* name, PICINFO* Pic);
  void write_ima3d(const char* name, to_array<float, true>& Cube);
  void write_ima3d(const char* name, PICINFO& Pic);
  int writebuff(int NbrLine, PICINFO* Pic, Bool FullColor);
  void end_write();

  // Library state, public for the error handler.
  struct error_manager {
    jpeg_error_mgr pub;
    WRITE_JPEG* writer;
  };
  jpeg_compress_struct cinfo;
  error_manager jerr;
  std::FILE* outfile = nullptr;
  std::string file;  // the output file, removed when writing fails
  bool created = false;

 private:
  void write_bytes(const unsigned char* bytes);
  void start_colour(const char* name, int Nl, int Nc);
  int Nl = 0;
  int Nc = 0;
  JSAMPARRAY row_buffer = nullptr;
  JSAMPARRAY color_map = nullptr;
};

void io_read2d_jpeg(const char* name, to_array<float, false>& Ima);
void io_read2d_jpeg(const char* name, to_array<int, false>& Ima);
void io_read3d_jpeg(const char* name, to_array<float, true>& Cube);
void io_write2d_jpeg(const char* name, to_array<float, false>& Ima, Bool Rescale, int Quality);
void io_write2d_jpeg(const char* name, to_array<int, false>& Ima, Bool Rescale, int Quality);
void io_write3d_jpeg(const char* name, to_array<float, true>& Cube, int Quality);

// Block-wise interface over a whole grey picture in memory.
void readhdjpeg(const char* name, int& Nl, int& Nc);
void readhdjpeg(const char* name, int& Nl, int& Nc, PICINFO*& Pic);
void jpeg_block_set_ptr_in(PICINFO* Pic);
void read_block_jpeg(to_array<float, false>& Block, int Indi, int Indj);
void read_block_jpeg(to_array<float, false>& Block, int Indi, int Indj, PICINFO* Pic);
void read_block_jpeg(to_array<int, false>& Block, int Indi, int Indj);
void read_block_jpeg(to_array<int, false>& Block, int Indi, int Indj, PICINFO* Pic);
void jpeg_block_set_ptr_out(PICINFO* Pic);
void writehdjpeg(const char* name, int Nl, int Nc);
void writehdjpeg(const char* name, int Nl, int Nc, PICINFO* Pic);
void write_block_jpeg(to_array<float, false>& Block, int Indi, int Indj);
void write_block_jpeg(to_array<float, false>& Block, int Indi, int Indj, PICINFO* Pic);
void write_block_jpeg(to_array<int, false>& Block, int Indi, int Indj);
void write_block_jpeg(to_array<int, false>& Block, int Indi, int Indj, PICINFO* Pic);
void closejpeg(const char* name);
void closejpeg(const char* name, PICINFO* Pic);
