// Binary grey-level PGM images ("P5", one byte per pixel): whole images,
// header-only reads and writes, and rectangles of a file for callers that
// tile large images.
#pragma once

#include <cstdio>
#include <string>

#include "array/base_types.h"
#include "array/to_array.h"

// name when its file name holds ".pgm" or ends in it in any case, else
// name + ".pgm".
std::string pgmname(const char* name);
// Refuses the standard-stream names; opens pgmname(name).
std::FILE* pgm_file_des_in(const char* name);
std::FILE* pgm_file_des_out(const char* name);

// Header parsing over a stream; `name` names the file in messages. At
// entry *c holds the current character; comments ('#' to the end of the
// line, then control characters) are skipped and the first character after
// them is left in *c.
void PGMSkipComments(std::FILE* stream, int* c, const char* name);
// The next unsigned decimal header value; "Error parsing file!" (status 1)
// when there is none.
unsigned PGMGetVal(std::FILE* stream, const char* name);

// The size of a PGM file opened under name exactly as given.
void readhdpgm(const char* name, int& Nl, int& Nc);
// Size and Nl x Nc pixel bytes (alloc_buffer; release with free_buffer).
void readpgm(const char* name, int& Nl, int& Nc, unsigned char*& buffer);
void readpgm(const char* name, to_array<int, false>& Ima);
void readpgm(const char* name, to_array<float, false>& Ima);
// The rectangle of Ima's size at line Indi, column Indj of the file named
// exactly `name`; it must lie inside the image.
void read_block_pgm(const char* name, to_array<float, false>& Ima, int Indi, int Indj);
void read_block_pgm(const char* name, to_array<int, false>& Ima, int Indi, int Indj);

void writehdpgm(const char* name, int Nl, int Nc);
void writepgm(const char* name, int Nl, int Nc, const unsigned char* buffer);
// Clamped bytes, or min..max stretched onto 0..255 when rescale is set or
// the name is "-b" (which writes to the standard output).
void writepgm(const char* name, to_array<float, false>& Ima, Bool rescale);
void writepgm(const char* name, to_array<int, false>& Ima, Bool rescale);
// Ima into the rectangle at line Indi, column Indj of an existing file of
// Nl lines and Nc columns written under the same name.
void write_block_pgm(const char* name, int Nl, int Nc, to_array<float, false>& Ima, int Indi, int Indj);
void write_block_pgm(const char* name, int Nl, int Nc, to_array<int, false>& Ima, int Indi, int Indj);
