// Compressed FITS inputs and the standard input. The FITS library knows a
// gzip, bzip2 or unix-compress file by its first bytes only under some names,
// and then inflates it wholly into memory, as far as the compressed data go:
// a few hundred bytes can inflate to gigabytes behind a header that
// announces a small image. The standard input it reads to its end. Both are
// read here instead, under any name, as far as their own FITS headers
// describe and no further, and handed to the library from memory.
#pragma once

#include <fitsio.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

// Opens file for the library from memory when it is the standard input or a
// compressed file, known by its first bytes under any name, behind the
// library's "file://", "compress://", "compressmem://" or "mem://" prefixes,
// or as the compressed sibling (name.gz, ...) the library would try. What
// follows the last HDU is not read. Refuses, naming the file, headers that
// describe more than this machine's memory, damaged or cut data, a zip
// archive, a plain file behind a prefix that reads compressed data only, a
// folder on the standard input, and a write to such a file. Returns false,
// having opened nothing, for any other file, which the library then opens
// itself.
bool fits_open_from_memory(fitsfile** fptr, const std::string& file, int iomode, int* status);
// The memory behind a file fits_open_from_memory opened (`library_file` is
// its Fptr), taken out of the table of open inputs before the library closes
// the file: once the library frees its record, an open on another thread may
// get the same address. The library still writes into the memory as it
// closes, so the caller keeps it until ffclos has returned; it is freed with
// the last copy. Null for any other file.
std::shared_ptr<void> fits_take_memory(const FITSfile* library_file);

// Where the library reads a FITS name from: the standard input, or the disk
// file it would open read-only for a local name, that is its root without
// prefix or extended syntax, or the first compressed sibling (root.gz, ...)
// it tries when no file has that name. False for a network name or anything
// but a regular file.
struct fits_input_place {
  bool standard_input = false;
  std::string path;       // the disk file otherwise
  std::string prefix;     // the library's "file://", "compress://", ...
  std::string extension;  // the HDU the name selects ("name[1]")
  bool filtered = false;  // the name asks for a section, a filter or a copy
};
bool fits_place_of(const std::string& file, fits_input_place& place);
// The prefixes under which the library reads compressed data only.
bool fits_prefix_wants_compressed(const std::string& prefix);

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
