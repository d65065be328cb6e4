// Compressed FITS inputs checked before the FITS library opens them. The
// library knows a gzip, bzip2 or unix-compress file by its first bytes and
// inflates it wholly into memory, as far as the compressed data go: a few
// hundred bytes can inflate to gigabytes behind a header that announces a
// small image. The file is inflated here first, in one streaming pass
// through a small fixed buffer, and refused as soon as it goes past the
// bytes its own FITS headers describe.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

// Refuses, naming the file, a compressed input that would make the library
// allocate more than its FITS headers describe, more than the machine's
// memory, or more than its bytes can justify (a gzip size claim), and a zip
// archive, which the library allocates for but cannot read. file is the
// name handed to the library: its disk file, or the compressed sibling the
// library would try, is what is checked. Anything else passes unread.
void check_compressed_input(const std::string& file);

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

// An inflater over stream, positioned at the file's first byte; name is for
// messages. The stream stays the caller's.
std::unique_ptr<inflater> open_inflater(std::FILE* stream, compression kind, const std::string& name);
