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
// describe more than this machine's memory, a gzip size claim its bytes
// cannot hold, damaged data, a zip archive, and a write to such a file.
// Returns false, having opened nothing, for any other file, which the
// library then opens itself.
bool fits_open_from_memory(fitsfile** fptr, const std::string& file, int iomode, int* status);
// Frees the memory behind a file fits_open_from_memory opened, once the
// library has closed it: `library_file` is the file's Fptr before ffclos.
// Anything else is left alone.
void fits_release_memory(const FITSfile* library_file);

// The codings the library inflates, known by their first bytes.
enum class compression { none, gzip, bzip2, unix_compress };
compression compression_of(const unsigned char* first_bytes, std::size_t count);

// Inflates the first compressed stream of a file piece by piece, as the
// library does (later gzip members or bzip2 streams are not read). Damaged
// or cut data end the process with a message naming the file.
class inflater {
 public:
  virtual ~inflater() = default;
  // Up to `bytes` inflated bytes into out; 0 once the stream has ended.
  virtual std::size_t read(unsigned char* out, std::size_t bytes) = 0;
};

// An inflater over stream, whose first bytes, already read from it, are
// `already_read`; name is for messages. The stream stays the caller's.
std::unique_ptr<inflater> open_inflater(std::FILE* stream, compression kind, const std::string& name,
                                        const std::string& already_read = "");
