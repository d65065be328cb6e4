// Helpers of the FITS tests: a scratch directory per test program, raw file
// access, and CFITSIO as the independent writer and reader of reference
// files (our own reader and writer are what is under test).
#pragma once

#include <fitsio.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "io/fits_io.h"
#include "support/temp_folder.h"

namespace fits_test {

// One fresh directory per test program and per round of its tests, so
// parallel test runs never meet and a repeated test (--gtest_repeat) never
// finds the files of the round before; all removed when the program ends.
inline const std::string& scratch_dir() {
  // Kept past the static destructors, for the removal at exit; a deque, so
  // that a round's name stays where it is as others are added.
  static std::deque<std::string>* dirs = [] {
    static const pid_t owner = getpid();
    // The children of death tests exit through here too, while their
    // parent still uses the directories.
    std::atexit([] {
      std::error_code ignored;
      if (getpid() == owner)
        for (const std::string& dir : *dirs) std::filesystem::remove_all(dir, ignored);
    });
    return new std::deque<std::string>;
  }();
  const std::size_t round = static_cast<std::size_t>(test_support::test_round());
  while (dirs->size() <= round) dirs->push_back(test_support::make_temp_folder("qz_io_"));
  return (*dirs)[round];
}

inline std::string scratch(const std::string& name) { return scratch_dir() + "/" + name; }

// The pixels our reader reads from a FITS name, line after line.
inline std::vector<float> read_program(const std::string& name) {
  to_array<float, false> image;
  fitsstruct header;
  fits_read_float(name.c_str(), image, &header);
  return std::vector<float>(image.buffer(), image.buffer() + image.n_elem());
}

// One gzip member holding bytes, made by zlib at the given level (0
// stores: the member's size then follows from the bytes').
inline std::string gzip_member(const std::string& bytes, int level = 9) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, static_cast<uLong>(bytes.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Where the link at path leads, as written in it; empty for no link.
inline std::string link_text(const std::string& path) {
  char text[4096];
  const ssize_t n = readlink(path.c_str(), text, sizeof text);
  return n < 0 ? std::string() : std::string(text, static_cast<std::size_t>(n));
}

// Names in the folder dir holding `part`: the new files a writer makes
// beside its results are named "<result>.qz_mca-<six characters>".
inline std::vector<std::string> names_holding(const std::string& dir, const std::string& part = ".qz_mca-") {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.find(part) != std::string::npos) names.push_back(name);
  }
  return names;
}

inline bool file_exists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f != nullptr) std::fclose(f);
  return f != nullptr;
}

// The header cards of the first HDU of a file, through END.
inline std::vector<std::string> header_cards(const std::string& bytes) {
  std::vector<std::string> cards;
  for (std::size_t at = 0; at + 80 <= bytes.size(); at += 80) {
    cards.push_back(bytes.substr(at, 80));
    if (cards.back().compare(0, 8, "END     ") == 0) break;
  }
  return cards;
}

inline std::string card(const std::string& text) {
  std::string padded = text;
  padded.resize(80, ' ');
  return padded;
}

// Replaces a file by its bytes compressed with gzip, under the same name;
// false when gzip fails.
inline bool gzip_in_place(const std::string& path) {
  const std::string packed = path + ".packed";
  if (std::system(("gzip -9 -c '" + path + "' > '" + packed + "'").c_str()) != 0) return false;
  return std::rename(packed.c_str(), path.c_str()) == 0;
}

// The standard input of a death-test child becomes a pipe from path, which
// cannot be rewound.
inline void stdin_through_pipe(const std::string& path) {
  std::FILE* pipe = popen(("cat '" + path + "'").c_str(), "r");
  if (pipe == nullptr) std::abort();
  dup2(fileno(pipe), fileno(stdin));
}

// The bytes of a gzip file made by hand: its header, an empty final deflate
// block, filler bytes and a trailer whose ISIZE claims isize bytes once
// inflated.
inline std::string gzip_claiming(std::uint32_t isize, std::size_t filler = 0) {
  std::string bytes = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 0, 3, 3, 0};
  bytes.append(filler, 'x');
  bytes.append(4, '\0');  // CRC-32
  for (int k = 0; k < 4; k++) bytes.push_back(static_cast<char>(isize >> (8 * k)));
  return bytes;
}

// For death tests: the process may map at most 2 GB, so that a reader that
// asks for 4 GB fails instead of passing unnoticed. Left off under the
// Address and Thread sanitizers, whose shadow memory needs terabytes of
// address space.
inline void limit_address_space_to_2gb() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  const struct rlimit limit = {2ULL << 30, 2ULL << 30};
  setrlimit(RLIMIT_AS, &limit);
#endif
}

// A primary image written by CFITSIO with the given raw stored values.
inline void write_reference(const std::string& path, int bitpix, std::vector<long> naxes,
                            const std::vector<double>& stored, double bscale = 1.0,
                            double bzero = 0.0) {
  std::remove(path.c_str());
  fitsfile* f = nullptr;
  int status = 0;
  ffinit(&f, path.c_str(), &status);
  ffcrim(f, bitpix, static_cast<int>(naxes.size()), naxes.data(), &status);
  if (bscale != 1.0 || bzero != 0.0) {
    ffpky(f, TDOUBLE, "BSCALE", &bscale, nullptr, &status);
    ffpky(f, TDOUBLE, "BZERO", &bzero, nullptr, &status);
    ffpscl(f, 1.0, 0.0, &status);  // the values given are the stored ones
  }
  if (!stored.empty())
    ffppr(f, TDOUBLE, 1, static_cast<LONGLONG>(stored.size()),
          const_cast<double*>(stored.data()), &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0) << "CFITSIO could not write " << path;
}

// One HDU of a file written by CFITSIO: an image of the given raw stored
// values (no axes: NAXIS = 0), tile-compressed (Rice) or not, or a binary
// table of one column.
struct Hdu {
  int bitpix = FLOAT_IMG;
  std::vector<long> naxes = {};
  std::vector<double> stored = {};
  std::string extname = "";
  bool compressed = false;
  bool table = false;
  bool has_blank = false;
  long long blank = 0;
  double bscale = 1.0, bzero = 0.0;
  std::string object = "";  // an OBJECT card, when not empty
};

// Appends the image of hdu to f, uncompressed.
inline void append_image(fitsfile* f, const Hdu& hdu, int* status) {
  ffcrim(f, hdu.bitpix, static_cast<int>(hdu.naxes.size()), const_cast<long*>(hdu.naxes.data()), status);
  if (!hdu.extname.empty()) ffpky(f, TSTRING, "EXTNAME", const_cast<char*>(hdu.extname.c_str()), nullptr, status);
  if (!hdu.object.empty()) ffpky(f, TSTRING, "OBJECT", const_cast<char*>(hdu.object.c_str()), nullptr, status);
  if (hdu.has_blank) ffpky(f, TLONGLONG, "BLANK", const_cast<long long*>(&hdu.blank), nullptr, status);
  if (hdu.bscale != 1.0 || hdu.bzero != 0.0) {
    ffpky(f, TDOUBLE, "BSCALE", const_cast<double*>(&hdu.bscale), nullptr, status);
    ffpky(f, TDOUBLE, "BZERO", const_cast<double*>(&hdu.bzero), nullptr, status);
  }
  if (hdu.naxes.empty()) return;
  ffrdef(f, status);
  ffpscl(f, 1.0, 0.0, status);  // the values given are the stored ones
  ffpnul(f, 0, status);         // and BLANK ones among them are written as such
  if (!hdu.stored.empty())
    ffppr(f, TDOUBLE, 1, static_cast<LONGLONG>(hdu.stored.size()), const_cast<double*>(hdu.stored.data()), status);
}

// A file of the given HDUs, the first one primary. A compressed image is
// made by the library's compressor from the plain one, as an extension of
// its own, after an empty primary HDU when it comes first.
inline void write_hdus(const std::string& path, const std::vector<Hdu>& hdus) {
  std::remove(path.c_str());
  fitsfile* f = nullptr;
  int status = 0;
  ffinit(&f, path.c_str(), &status);
  for (const Hdu& hdu : hdus) {
    if (hdu.table) {
      char* type[] = {const_cast<char*>("X")};
      char* form[] = {const_cast<char*>("1J")};
      ffcrtb(f, BINARY_TBL, 0, 1, type, form, nullptr, hdu.extname.c_str(), &status);
    } else if (hdu.compressed) {
      fitsfile* plain = nullptr;
      ffinit(&plain, "mem://", &status);
      append_image(plain, hdu, &status);
      fits_set_compression_type(f, RICE_1, &status);
      fits_img_compress(plain, f, &status);
      ffclos(plain, &status);
    } else {
      append_image(f, hdu, &status);
    }
  }
  ffclos(f, &status);
  ASSERT_EQ(status, 0) << "CFITSIO could not write " << path;
}

// How the library's compressor (as fpack calls it) makes a tile-compressed
// image: its algorithm, the quantization of floating-point pixels (0 keeps
// them exact), the dithering, the tile's sides (the library's own when
// empty), and HCOMPRESS's scale (0 is lossless) and smoothing.
struct Compression {
  int type = RICE_1;
  float quantize = 4;
  int dither = SUBTRACTIVE_DITHER_1;
  std::vector<long> tile = {};
  float hcompress_scale = 0;
  int hcompress_smooth = 0;
};

// A file of an empty primary HDU and the image of the given values
// compressed as asked; values equal to *null are written as undefined
// (the library's fits_write_imgnull). The values are physical ones, stored
// under the given BSCALE and BZERO when either differs from the identity
// (the library's unsigned types bring their own BZERO).
inline void write_compressed(const std::string& path, int bitpix, std::vector<long> naxes,
                             const std::vector<double>& values, const Compression& how,
                             const double* null = nullptr, double bscale = 1.0, double bzero = 0.0) {
  std::remove(path.c_str());
  fitsfile *plain = nullptr, *f = nullptr;
  int status = 0;
  ffinit(&plain, "mem://", &status);
  ffcrim(plain, bitpix, static_cast<int>(naxes.size()), naxes.data(), &status);
  if (bscale != 1.0 || bzero != 0.0) {
    ffpky(plain, TDOUBLE, "BSCALE", &bscale, nullptr, &status);
    ffpky(plain, TDOUBLE, "BZERO", &bzero, nullptr, &status);
    ffrdef(plain, &status);
  }
  if (null != nullptr)
    ffppn(plain, TDOUBLE, 1, static_cast<LONGLONG>(values.size()), const_cast<double*>(values.data()),
          const_cast<double*>(null), &status);
  else
    ffppr(plain, TDOUBLE, 1, static_cast<LONGLONG>(values.size()), const_cast<double*>(values.data()), &status);
  ffinit(&f, path.c_str(), &status);
  fits_set_compression_type(f, how.type, &status);
  fits_set_quantize_level(f, how.quantize, &status);
  fits_set_quantize_method(f, how.dither, &status);
  fits_set_hcomp_scale(f, how.hcompress_scale, &status);
  fits_set_hcomp_smooth(f, how.hcompress_smooth, &status);
  if (!how.tile.empty())
    fits_set_tile_dim(f, static_cast<int>(how.tile.size()), const_cast<long*>(how.tile.data()), &status);
  fits_img_compress(plain, f, &status);
  ffclos(plain, &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0) << "CFITSIO could not compress " << path;
}

struct Reference {
  int bitpix = 0;
  std::vector<long> naxes;
  std::vector<double> values;
};

// Values of the primary image as CFITSIO reads them: physical, or the raw
// stored values when raw is true.
inline Reference read_reference(const std::string& path, bool raw = false) {
  Reference ref;
  fitsfile* f = nullptr;
  int status = 0;
  int naxis = 0;
  ffopen(&f, path.c_str(), READONLY, &status);
  ffgidt(f, &ref.bitpix, &status);
  ffgidm(f, &naxis, &status);
  ref.naxes.assign(naxis > 0 ? naxis : 0, 0);
  if (naxis > 0) ffgisz(f, naxis, ref.naxes.data(), &status);
  long long n = naxis > 0 ? 1 : 0;
  for (long axis : ref.naxes) n *= axis;
  if (raw) ffpscl(f, 1.0, 0.0, &status);
  ref.values.assign(n, 0.0);
  int anynul = 0;
  if (n > 0) ffgpv(f, TDOUBLE, 1, n, nullptr, ref.values.data(), &anynul, &status);
  ffclos(f, &status);
  EXPECT_EQ(status, 0) << "CFITSIO could not read " << path;
  return ref;
}

}  // namespace fits_test
