// Compressed FITS inputs and the standard input. The FITS library knows a
// gzip, bzip2 or unix-compress file by its first bytes only under some names,
// and then inflates it wholly into memory, as far as the compressed data go:
// a few hundred bytes can inflate to gigabytes behind a header that
// announces a small image. The standard input it reads to its end. Both are
// read here instead, under any name, as far as their own FITS headers
// describe and no further, and handed to the library from memory. Every
// local file the library reads is opened here first, so that the file read
// is the file recorded as read.
#pragma once

#include <fitsio.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "io/fits_name_gate.h"

// Opens file for the library when it is local: the standard input, or the
// file the library's own search would take for it, made here (its root,
// then the compressed siblings root.gz, ... it tries, each moved past when
// it does not open), so that the library never opens a local name by its
// path; the name has passed fits_gate_name. The file is recorded as read
// (io/image_input_file.h) from the descriptor opened here, and the library
// reads that very file: the standard input, a named pipe, a device and a
// compressed file (known by its first bytes, under any name, behind the
// library's "file://", "compress://", "compressmem://" or "mem://"
// prefixes) from memory, as far as their FITS headers describe and no
// further; a plain file, for reading or for an update, through the
// descriptor itself. Refuses, naming the file, headers that describe more
// than this machine's memory, damaged or cut data, a zip archive, a plain
// file behind a prefix that reads compressed data only, a folder or a
// closed descriptor on the standard input, and a write to a compressed
// file or a stream. Where no file answers the name (or a folder does), the open
// fails as the library's would (fits_fail_as_no_file). Returns false,
// having opened nothing, for a name that is not local (a network name, a
// raw array).
bool fits_open_local(fitsfile** fptr, const std::string& file, int iomode, int* status);
// Fails an open of file as the library's open fails when no file answers
// the name: FILE_NOT_OPENED, and its message on its stack.
void fits_fail_as_no_file(const std::string& file, int* status);
// What a file fits_open_local opened stands on (`library_file` is its
// Fptr): the memory it was read into or the descriptor it is read through,
// taken out of the table of open inputs before the library closes the file:
// once the library frees its record, an open on another thread may get the
// same address. The library still writes into the memory as it closes, so
// the caller keeps it until ffclos has returned; it is released with the
// last copy. Null for any other file.
std::shared_ptr<void> fits_take_input_backing(const FITSfile* library_file);
// Where the bytes of a file fits_open_local opened can be read again: in
// memory (`bytes`, `size`) or through the plain file's `descriptor`, which
// `backing` keeps while the caller holds it; `name` is the file's in
// messages. A null backing for any other file.
struct fits_input_source {
  std::shared_ptr<void> backing;
  const unsigned char* bytes = nullptr;
  std::size_t size = 0;
  int descriptor = -1;
  std::string name;
};
fits_input_source fits_input_source_of(const FITSfile* library_file);

// True when the name is the standard input or the first local file the
// library's search would try for it that is there and may be read (its
// root or a compressed sibling) is no folder; whether it opens is for the
// open to find.
bool fits_name_finds_file(const std::string& file);
// True when the name is read as a stream, once: the standard input, or a
// named pipe or a device that the name finds as above. Opened again, such
// a file would wait for a writer that has gone.
bool fits_name_is_streamed(const std::string& file);
// Opens for the library a file fetched whole (io/network_input.h), open on
// stream and closed here: read as the standard input is, as far as its FITS
// headers describe, inflated when gzip, bzip2 or unix compress data, checked
// as a local file is, and handed to the library from memory, at the HDU
// parts.extension selects. `name` names it in messages. Refuses what
// fits_open_local refuses of the standard input, a section or a filter
// among them.
bool fits_open_fetched(fitsfile** fptr, std::FILE* stream, const fits_name_parts& parts, const std::string& name,
                       int* status);

// The codings the library inflates, known by their first bytes.
enum class compression { none, gzip, bzip2, unix_compress };
compression compression_of(const unsigned char* first_bytes, std::size_t count);

// Inflates a file piece by piece: its gzip members or bzip2 streams one
// after the other, as gzip -d and bzip2 -d read them, up to zeros or any
// other bytes that open no member. Damaged or cut data end the process with
// a message naming the file.
class inflater {
 public:
  virtual ~inflater() = default;
  // Up to `bytes` inflated bytes into out, any number of them; 0 once the
  // stream has ended.
  virtual std::size_t read(unsigned char* out, std::size_t bytes) = 0;
};

// An inflater over stream, whose first bytes, already read from it, are
// `already_read`; name is for messages. The stream stays the caller's.
std::unique_ptr<inflater> open_inflater(std::FILE* stream, compression kind, const std::string& name,
                                        const std::string& already_read = "");
