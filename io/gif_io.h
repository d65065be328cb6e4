// GIF images through our own decoder (GIF87a and GIF89a, interlaced or not,
// first frame only) and encoder (GIF87a, LZW with a 5003-slot hash table,
// codes up to 12 bits). Images read from a GIF hold palette indices; the
// first image's colour map (its own, else the file's global one) becomes the
// run's colour table IO_RGB, without the entries that only fill it up.
#pragma once

#include <cstdio>
#include <string>

#include "array/base_types.h"
#include "array/to_array.h"
#include "io/byte_conversion.h"

// name when its file name holds ".gif" or ends in it in any case, else
// name + ".gif".
std::string gifname(const char* name);

// The most pixels that code_bits bits of LZW codes, starting with codes of
// init_code_size bits, can decode to: some 2700 per byte of data.
long long lzw_max_pixels(long long code_bits, int init_code_size);

// ---- Reader ----

// Decodes the first image of the stream into Pic (pixels from alloc_buffer,
// owned by Pic's holder); 1 on success, 0 after an error.
int readgif(std::FILE* fp, PICINFO* Pic);
// Refuses the standard-stream names; opens gifname(name).
std::FILE* gif_file_des_in(const char* name);
void readgif(const char* name, to_array<float, false>& Ima);
void readgif(const char* name, to_array<int, false>& Ima);
// Into the caller's record; the caller releases Pic.pixels with free_buffer
// and Pic.comment with free.
void readgif(const char* name, PICINFO& Pic);
// width x height x 3 colours (x = column, y = line) through IO_RGB.
void io_read3d_gif(const char* name, to_array<float, true>& Cube);

// Block-wise reading of a whole decoded picture held in memory.
void readhdgif(const char* name, int& Nl, int& Nc);
void readhdgif(const char* name, int& Nl, int& Nc, PICINFO*& Pic);
void gif_block_set_ptr_in(PICINFO* Pic);
void read_block_gif(to_array<float, false>& Block, int Indi, int Indj);
void read_block_gif(to_array<float, false>& Block, int Indi, int Indj, PICINFO* Pic);
void read_block_gif(to_array<int, false>& Block, int Indi, int Indj);
void read_block_gif(to_array<int, false>& Block, int Indi, int Indj, PICINFO* Pic);

// "Error: " + msg on the standard error (no end of line added).
void gifWarning(const char* msg);

// ---- Writer ----

// Clamped bytes, or min..max stretched onto 0..255 when Rescale is set or
// the name is "-b"; the palette is IO_RGB, grey past its entries.
void writegif(const char* name, to_array<float, false>& Ima, Bool Rescale);
void writegif(const char* name, to_array<int, false>& Ima, Bool Rescale);
// A colour cube (3 planes) through the 3-3-2 colour table.
void io_write3d_gif(const char* name, to_array<float, true>& Cube, Bool Rescale);
// The caller's picture as it is.
void writegif(const char* name, PICINFO& Pic);
std::FILE* gif_file_des_out(const char* name);
// The encoder; 1 on success, -1 for a null stream or a failed write.
int writegif(std::FILE* fp, const PICINFO& Pic);
void putword(int w, std::FILE* fp);

// Block-wise writing into a picture held in memory, encoded by closegif.
void gif_block_set_ptr_out(PICINFO* Pic);
void writehdgif(const char* name, int Nl, int Nc);
void writehdgif(const char* name, int Nl, int Nc, PICINFO* Pic);
void write_block_gif(to_array<float, false>& Block, int Indi, int Indj);
void write_block_gif(to_array<float, false>& Block, int Indi, int Indj, PICINFO* Pic);
void write_block_gif(to_array<int, false>& Block, int Indi, int Indj);
void write_block_gif(to_array<int, false>& Block, int Indi, int Indj, PICINFO* Pic);
void closegif(const char* name);
void closegif(const char* name, PICINFO* Pic);
