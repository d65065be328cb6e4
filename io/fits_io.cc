// FITS files and pixel data. The data routines convert through one small
// work buffer, chunk by chunk, so a write never touches the caller's image
// and a read never needs a second image-sized buffer.
#include "io/fits_io.h"

// ffgbyt, the bytes as stored; this header of the library declares no C linkage.
extern "C" {
#include <fitsio2.h>
}

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "array/fatal.h"
#include "array/vms.h"
#include "io/compressed_input.h"
#include "io/fits_compressed_header.h"
#include "io/fits_hdu_walk.h"
#include "io/fits_lookup_tables.h"
#include "io/fits_name_gate.h"
#include "io/fits_section_coordinates.h"
#include "io/image_file.h"
#include "io/image_input_file.h"
#include "io/image_names.h"
#include "io/image_size.h"
#include "io/network_input.h"
#include "io/output_file.h"
#include "io/pixel_conversion.h"
#include "io/standard_output.h"
#include "io/tile_compression_check.h"

int FITS_HDU_Number = 0;

namespace {

constexpr bool kHostIsBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

// Pixels converted per pass of the data routines.
constexpr int kChunk = 1 << 15;

std::string fits_file_name(const char* name) {
  std::string file = name;
  // "x.Fits", "X.FTS.gz", "sci.diff.fit" and "x.fits[1]" are read and
  // written as typed.
  if (std_inout(name) || io_name_format(name) == F_FITS) return file;
  return file + ".fits";
}

char* copy_text(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) error(1, "*Error*: Not enough memory in ", "fitsname()");
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

void set_filename(fitsstruct* rec, const std::string& name) {
  std::free(rec->filename);
  rec->filename = copy_text(name);
}

// A raw work buffer of the data routines.
struct WorkBuffer {
  explicit WorkBuffer(std::size_t bytes) : data(alloc_buffer(bytes)) {}
  ~WorkBuffer() { free_buffer(data); }
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;
  void* data;
};

int checked_bytepix(int bitpix, const char* where) {
  switch (bitpix) {
    case 8: return 1;
    case 16: return 2;
    case 32:
    case -32: return 4;
    case -64: return 8;
  }
  error(1, "*FATAL ERROR*: unknown BITPIX type in ", where);
}

template <class T>
void to_file_order(T* items, int n) {
  if (!kHostIsBigEndian) swapbytes(items, sizeof(T), n);
}

// Reads n stored values chunk by chunk, handing each chunk in host order to
// convert(first_index, values, count).
template <class Stored, class Convert>
void read_stored(std::FILE* stream, const char* name, int n, void* work, Convert convert) {
  Stored* values = static_cast<Stored*>(work);
  for (int first = 0; first < n; first += kChunk) {
    int count = n - first < kChunk ? n - first : kChunk;
    if (std::fread(values, sizeof(Stored), count, stream) != static_cast<std::size_t>(count))
      error(1, "*Error* while reading ", name);
    to_file_order(values, count);
    convert(first, values, count);
  }
}

// Physical value of a stored one, in the precision the BITPIX fixes: single
// precision except for 64-bit floats (and 32-bit integers read as int,
// whose values a float would round).
template <class Out>
void read_pixels(std::FILE* stream, const char* name, int bitpix, int n, Out* out, float bscale,
                 float bzero, const char* where) {
  checked_bytepix(bitpix, where);
  if (n <= 0) return;
  constexpr bool kFloatOut = std::is_same<Out, float>::value;
  auto single = [&](float stored) -> Out {
    float v = stored * bscale + bzero;
    if constexpr (kFloatOut) return v; else return saturate<int>(v);
  };
  auto twice = [&](double stored) -> Out {
    double v = static_cast<double>(bscale) * stored + static_cast<double>(bzero);
    if constexpr (kFloatOut) return static_cast<float>(v); else return saturate<int>(v);
  };
  if (kFloatOut && bitpix == -32) {
    // Straight into the image: no work buffer.
    float* values = reinterpret_cast<float*>(out);
    if (std::fread(values, sizeof(float), n, stream) != static_cast<std::size_t>(n))
      error(1, "*Error* while reading ", name);
    to_file_order(values, n);
    for (int k = 0; k < n; k++) values[k] = values[k] * bscale + bzero;
    return;
  }
  WorkBuffer work(static_cast<std::size_t>(kChunk) * 8);
  switch (bitpix) {
    case 8:
      read_stored<uint8_t>(stream, name, n, work.data, [&](int first, const uint8_t* v, int count) {
        for (int k = 0; k < count; k++) out[first + k] = single(static_cast<float>(v[k]));
      });
      break;
    case 16:
      read_stored<int16_t>(stream, name, n, work.data, [&](int first, const int16_t* v, int count) {
        for (int k = 0; k < count; k++) out[first + k] = single(static_cast<float>(v[k]));
      });
      break;
    case 32:
      read_stored<int32_t>(stream, name, n, work.data, [&](int first, const int32_t* v, int count) {
        for (int k = 0; k < count; k++)
          out[first + k] = kFloatOut ? single(static_cast<float>(v[k])) : twice(v[k]);
      });
      break;
    case -32:
      read_stored<float>(stream, name, n, work.data, [&](int first, const float* v, int count) {
        for (int k = 0; k < count; k++) out[first + k] = single(v[k]);
      });
      break;
    case -64:
      read_stored<double>(stream, name, n, work.data, [&](int first, const double* v, int count) {
        for (int k = 0; k < count; k++) out[first + k] = twice(v[k]);
      });
      break;
  }
}

// Converts chunk by chunk into the work buffer with stored(value) and writes
// each chunk in file order.
template <class Stored, class In, class Convert>
void write_stored(std::FILE* stream, const char* name, int n, const In* in, void* work,
                  Convert stored) {
  Stored* values = static_cast<Stored*>(work);
  for (int first = 0; first < n; first += kChunk) {
    int count = n - first < kChunk ? n - first : kChunk;
    for (int k = 0; k < count; k++) values[k] = stored(in[first + k]);
    to_file_order(values, count);
    if (std::fwrite(values, sizeof(Stored), count, stream) != static_cast<std::size_t>(count))
      fits_write_failure(name);
  }
}

// The data begin on a block boundary of their image, since a header is
// whole blocks: the padding follows from the bytes written alone. The
// stream's position would not do, as the image need not begin the stream (a
// standard output that already holds bytes).
void write_padding(std::FILE* stream, const char* name, std::size_t bytes) {
  std::size_t padding = (FITS_BLOCK - bytes % FITS_BLOCK) % FITS_BLOCK;
  static const char kZeros[FITS_BLOCK] = {};
  if (padding > 0 && std::fwrite(kZeros, 1, padding, stream) != padding)
    fits_write_failure(name);
}

// Stored values in the precision and rounding each BITPIX fixes, saturated
// to the type's range instead of keeping the low-order bits.
template <class In>
void write_pixels(std::FILE* stream, const char* name, int bitpix, int n, const In* in, float bscale,
                  float bzero, const char* where) {
  int bytepix = checked_bytepix(bitpix, where);
  if (n < 0) n = 0;
  WorkBuffer work(static_cast<std::size_t>(kChunk) * 8);
  constexpr bool kFloatIn = std::is_same<In, float>::value;
  auto single = [&](In v) -> float { return (static_cast<float>(v) - bzero) / bscale; };
  switch (bitpix) {
    case 8:
      write_stored<uint8_t>(stream, name, n, in, work.data, [&](In v) {
        float q = single(v);
        return kFloatIn ? saturate<uint8_t>(q) : saturate<uint8_t>(q + 0.5);
      });
      break;
    case 16:
      write_stored<int16_t>(stream, name, n, in, work.data,
                            [&](In v) { return round_saturate<int16_t>(single(v)); });
      break;
    case 32:
      write_stored<int32_t>(stream, name, n, in, work.data, [&](In v) {
        double q = (static_cast<double>(v) - static_cast<double>(bzero)) / static_cast<double>(bscale);
        return round_saturate<int32_t>(q);
      });
      break;
    case -32:
      write_stored<float>(stream, name, n, in, work.data, single);
      break;
    case -64:
      write_stored<double>(stream, name, n, in, work.data,
                           [&](In v) { return static_cast<double>(single(v)); });
      break;
  }
  write_padding(stream, name, static_cast<std::size_t>(n) * bytepix);
}

int exit_status_of(int library_status) {
  // A status that the shell would see as 0 must not end a failed run.
  return (library_status & 0xFF) != 0 ? library_status : -1;
}

// A file that is no 2D image: the message and the file's name.
[[noreturn]] void refuse_2d(const char* message, const char* name) {
  fatal_exitf(-1, stderr, "%s(%s)\n", message, name);
}

// The data a header announces are not all in the file.
[[noreturn]] void refuse_truncated(const char* name, long long data_bytes, long long held) {
  fatal_exitf(-1, stderr,
              "Error: the file is truncated: its header announces %lld data bytes, it holds %lld ... (%s)\n",
              data_bytes, held < 0 ? 0 : held, name);
}

// The name without its HDU selector or other bracketed syntax: "x.fits"
// for "x.fits[1]"; the name itself when the library cannot parse it.
std::string root_of(const std::string& file) {
  fits_name_parts parts;
  if (fits_name_parts_of(file, parts) && parts.after_root != std::string::npos) return file.substr(0, parts.after_root);
  if (file.size() + 1 >= FLEN_FILENAME) return file;
  char root[FLEN_FILENAME] = "";
  int status = 0;
  if (ffrtnm(const_cast<char*>(file.c_str()), root, &status) != 0) return file;
  return root;
}

// The data bytes the current HDU's header announces, as the cards stand in
// the file: |BITPIX| / 8 bytes for each of the NAXIS1 x ... x NAXISn values,
// then the PCOUNT bytes of a table's heap (a tile-compressed image is stored
// as such a table). Saturated at 2^62: beyond any file, and no overflow on
// the way. The library's status when it cannot read the cards.
long long announced_data_bytes(fitsfile* fptr, int* status) {
  int bitpix = 0, naxis = 0;
  if (ffgky(fptr, TINT, "BITPIX", &bitpix, nullptr, status) || ffgky(fptr, TINT, "NAXIS", &naxis, nullptr, status))
    return 0;
  long long bytes = naxis > 0 ? std::abs(bitpix) / 8 : 0;
  for (int k = 1; k <= naxis; k++) {
    LONGLONG axis = 0;
    if (ffgkyjj(fptr, ("NAXIS" + std::to_string(k)).c_str(), &axis, nullptr, status)) return 0;
    bytes = axis <= 0 ? 0 : (bytes > kBeyondAnyFile / axis ? kBeyondAnyFile : bytes * axis);
  }
  LONGLONG heap = 0;
  if (ffgkyjj(fptr, "PCOUNT", &heap, nullptr, status) == KEY_NO_EXIST) {
    *status = 0;  // a primary HDU has none
    heap = 0;
  }
  return heap < 0 || heap > kBeyondAnyFile - bytes ? kBeyondAnyFile : bytes + heap;
}

// How the file ends after its last HDU the library could read, HDU `count`:
// whole (there, or followed only by bytes that open no extension: zero
// padding, a stray tail), cut short (a partial download: the data of that
// HDU, or the header of the next), or with the next extension's header
// damaged, for the library's own reason. Moves the file.
struct hdus_end {
  bool whole = true;
  std::string cut;  // why the file is cut short, naming it as `label`
};
hdus_end end_of_hdus(fitsfile* fptr, int count, const std::string& label) {
  hdus_end end;
  int status = 0, type = 0;
  LONGLONG head_start = 0, data_start = 0, data_end = 0;
  if (ffmahd(fptr, count, &type, &status) || ffghadll(fptr, &head_start, &data_start, &data_end, &status))
    return end;
  const long long data_bytes = announced_data_bytes(fptr, &status);
  const long long size = fits_file_bytes(fptr);
  if (status == 0 && size - data_start < data_bytes) {
    end.whole = false;
    end.cut = label + " is truncated: it holds " + std::to_string(std::max(size - data_start, 0LL)) + " of the " +
              std::to_string(data_bytes) + " data bytes that the header of HDU [" + std::to_string(count - 1) +
              "] announces";
    return end;
  }
  // The next extension's header, as far as it goes: cut when it holds no
  // END card before the file ends.
  static const char kXtension[] = "XTENSION";
  char block[FITS_BLOCK];
  for (long long at = data_end; at < size; at += FITS_BLOCK) {
    const long long bytes = std::min<long long>(size - at, FITS_BLOCK);
    if (ffmbyt(fptr, at, REPORT_EOF, &status) || ffgbyt(fptr, bytes, block, &status)) return end;
    if (at == data_end && std::memcmp(block, kXtension, static_cast<std::size_t>(std::min(bytes, 8LL))) != 0)
      return end;
    end.whole = false;
    // A whole header the library could not read is damaged.
    for (long long card = 0; card + 8 <= bytes; card += FITS_CARD)
      if (std::memcmp(block + card, "END     ", 8) == 0 && bytes == FITS_BLOCK) return end;
  }
  if (!end.whole)
    end.cut = label + " is truncated: it ends inside the header of HDU [" + std::to_string(count) + "]";
  return end;
}

// The selector ("[1]") of the first HDU after the current one whose image
// has axes, or an empty text when there is none. Moves the file.
std::string next_image_selector(fitsfile* fptr) {
  int hdu = 0, count = 0, status = 0;
  ffghdn(fptr, &hdu);
  // The library parses every header as it counts the HDUs.
  fits_check_compressed_hdus_through(fptr, std::numeric_limits<int>::max());
  if (ffthdu(fptr, &count, &status) != 0) return "";
  for (int next = hdu + 1; next <= count; next++) {
    int type = 0, naxis = 0;
    if (ffmahd(fptr, next, &type, &status) != 0) return "";
    if (type == IMAGE_HDU && ffgidm(fptr, &naxis, &status) == 0 && naxis > 0)
      return "[" + std::to_string(next - 1) + "]";
  }
  return "";
}

// An HDU without an image: most files of several HDUs keep an empty primary
// array and their images in extensions, which the name must then select.
[[noreturn]] void refuse_no_image(fitsfile* fptr, const std::string& file, const char* name) {
  int hdu = 1;
  ffghdn(fptr, &hdu);
  const std::string which = hdu == 1 ? "the primary HDU" : "HDU [" + std::to_string(hdu - 1) + "]";
  const std::string selector = next_image_selector(fptr);
  if (selector.empty()) {
    // The HDUs after it may have been lost with the file's end.
    int count = 0, status = 0;
    const std::string label = std_inout(file.c_str()) ? "the standard input" : root_of(file);
    const hdus_end end =
        ffthdu(fptr, &count, &status) == 0 && count >= 1 ? end_of_hdus(fptr, count, label) : hdus_end{};
    if (!end.cut.empty())
      fatal_exitf(-1, stderr, "Error: %s of the file holds no image (NAXIS = 0), and %s ... (%s)\n", which.c_str(),
                  end.cut.c_str(), name);
    fatal_exitf(-1, stderr, "Error: %s of the file holds no image (NAXIS = 0), nor does any HDU after it ... (%s)\n",
                which.c_str(), name);
  }
  // The standard input selects an HDU under a name that keeps its stem
  // "-", after the "--" that ends the options: a word that begins with '-'
  // is read as options.
  const std::string example =
      std_inout(file.c_str()) ? "-- '-.fits" + selector + "'" : "'" + root_of(file) + selector + "'";
  fatal_exitf(-1, stderr,
              "Error: %s of the file holds no image (NAXIS = 0): name the extension that holds it, as in %s "
              "... (%s)\n",
              which.c_str(), example.c_str(), name);
}

// More or fewer axes than two. A plane whose further axes have length 1 is
// refused too: the results would carry the input's cards for axes they no
// longer have.
[[noreturn]] void refuse_axes(const std::vector<LONGLONG>& axes, const char* name) {
  bool plane = axes.size() > 2;
  for (std::size_t k = 2; k < axes.size(); k++) plane = plane && axes[k] == 1;
  const char* remedy = plane ? "; axes of length 1 are not dropped, as the results' headers would still describe "
                               "them: remove them first"
                       : axes.size() > 2 ? "; only 2D images are read: write the plane you want as a 2D image of its "
                                           "own with another tool, without the cards of the other axes, and name "
                                           "that file"
                                         : "";
  fatal_exitf(-1, stderr, "Error: the input image is not a 2D array (%s%s) ... (%s)\n", fits_axes_text(axes).c_str(),
              remedy, name);
}

// HDUs are listed with their names up to this count; a longer file's as
// their range.
constexpr int kHdusListed = 16;

// "[0] to [2]", or with the HDUs' names where they have any: "[0], [1]
// SCI, [2] ERR,2" (EXTNAME or HDUNAME, and EXTVER, as a selector gives
// them). Moves the file.
std::string hdu_list(fitsfile* fptr, int count) {
  const std::string range = count == 1 ? "[0] only" : "[0] to [" + std::to_string(count - 1) + "]";
  if (count > kHdusListed) return range;
  std::string listed;
  bool named = false;
  for (int hdu = 1; hdu <= count; hdu++) {
    int status = 0, type = 0;
    char value[FLEN_VALUE] = "";
    std::string entry = "[" + std::to_string(hdu - 1) + "]";
    if (ffmahd(fptr, hdu, &type, &status) == 0 &&
        (ffgkys(fptr, "EXTNAME", value, nullptr, &status) == 0 ||
         (status = 0, ffgkys(fptr, "HDUNAME", value, nullptr, &status) == 0)) &&
        *value != '\0') {
      named = true;
      entry += std::string(" ") + value;
      long version = 0;
      if (ffgkyj(fptr, "EXTVER", &version, nullptr, &status) == 0) entry += "," + std::to_string(version);
    }
    listed += (hdu == 1 ? "" : ", ") + entry;
  }
  return named ? listed : range;
}

// The open of a name that selects an HDU (`extension`, "1" or "SCI,2")
// failed, the file being open in fptr: when the file has no such HDU, a
// text that says so with the HDUs it holds, or that the file is cut short
// before it; the file is named as `label`. An empty text otherwise (a
// filter, a binning or a section the library refused, a damaged HDU), for
// the library's own reason to stand. Moves the file.
std::string missing_hdu_in(fitsfile* fptr, const std::string& extension, const std::string& label) {
  const hdu_selector selector = fits_hdu_selector(extension);
  int status = 0, count = 0;
  if (!selector.read) return "";
  // The library parses every header as it counts the HDUs.
  fits_check_compressed_hdus_through(fptr, std::numeric_limits<int>::max());
  if (ffthdu(fptr, &count, &status) != 0 || count < 1) return "";
  const hdus_end end = end_of_hdus(fptr, count, label);
  // A search that met the cut end found nothing before it; one that found
  // the name in the header the end cuts found an HDU the library cannot open.
  bool absent = selector.number >= count;
  if (!selector.names.empty()) {
    const bool found = fits_move_to_selected(fptr, selector, label) == 0;
    int at = 0;
    ffghdn(fptr, &at);
    absent = !found || at > count;
  }
  if (!absent || (!end.whole && end.cut.empty())) return "";
  return end.whole ? label + " has no such HDU: it holds " + hdu_list(fptr, count) : end.cut;
}

// The same for a file opened again by its name, which must not be read as
// a stream: a second open of the standard input or a named pipe would find
// nothing, or wait for a writer that has gone. A fetched file is listed
// from `opened`, as its failed open left it, not fetched again.
std::string missing_hdu(const std::string& file, fitsfile* opened) {
  fits_name_parts parts;
  if (!fits_name_parts_of(file, parts) || parts.extension.empty() || fits_name_is_streamed(file)) return "";
  const std::string root = root_of(file);
  if (fits_prefix_is_network(parts.prefix))
    return opened != nullptr ? missing_hdu_in(opened, parts.extension, root) : "";
  // "-[1]" names a file "-", which is no standard input, while "-" alone is.
  if (std_inout(root.c_str())) return "";
  fitsfile* fptr = nullptr;
  int status = 0;
  if (fits_open_input(&fptr, root, READONLY, &status) != 0) return "";
  const std::string missing = missing_hdu_in(fptr, parts.extension, root);
  status = 0;
  fits_close_input(fptr, &status);
  return missing;
}

}  // namespace

char* fitsname(const char* name) { return copy_text(fits_file_name(name)); }

std::string fits_input_name(const char* name) {
  std::string typed = name;
  fits_name_parts parts;
  // A copy into memory adds nothing: the file is read into memory, or
  // through the descriptor opened for it, anyway.
  if (fits_name_parts_of(typed, parts) && parts.after_root != std::string::npos &&
      strncasecmp(parts.copy.c_str(), "mem://", 6) == 0 && typed.compare(parts.after_root, 1, "(") == 0) {
    const std::size_t close = typed.find(')', parts.after_root);
    if (close != std::string::npos) typed.erase(parts.after_root, close + 1 - parts.after_root);
  }
  const std::string completed = fits_file_name(typed.c_str());
  // "x.fz[1]", as fpack names its files: completed, the selector would
  // stand inside the name ("x.fz[1].fits"), which finds no file, nor
  // names one that a message could name.
  if (completed != typed && root_of(typed) != typed && !fits_name_finds_file(completed)) return typed;
  return completed;
}

std::string fits_open_failure(const char* typed, const std::string& file, int status, fitsfile* opened) {
  char text[FLEN_STATUS] = "";
  ffgerr(status, text);
  // The standard input and a named pipe are read once, into memory, where
  // the open left them: opened again, they would find nothing, or wait for
  // a writer that has gone. The standard input has no system's reason to
  // give.
  if (std_inout(file.c_str()) || fits_name_is_streamed(file)) {
    fits_name_parts parts;
    std::string no_hdu;
    if (opened != nullptr && fits_name_parts_of(file, parts) && !parts.extension.empty())
      no_hdu = missing_hdu_in(opened, parts.extension, std_inout(file.c_str()) ? "the standard input" : root_of(file));
    return "(" + file + ": " + (no_hdu.empty() ? std::string(text) : no_hdu) + ")";
  }
  const std::string no_hdu = missing_hdu(file, opened);
  if (!no_hdu.empty()) return "(" + file + ": " + no_hdu + ")";
  // The library's status does not tell a missing file from a folder or a
  // forbidden one: an open of the file, what follows its root in the name
  // aside, does.
  fits_name_parts parts;
  std::string path = file;
  if (fits_name_parts_of(file, parts) && !parts.root.empty() &&
      (parts.prefix == "file://" || fits_prefix_wants_compressed(parts.prefix)))
    fits_local_path(parts.root, path);
  else
    fits_raw_array_path(file, path);
  std::FILE* stream = io_fopen_read(path);
  const int error = stream == nullptr ? errno : 0;
  if (stream != nullptr) std::fclose(stream);
  return io_open_failure(typed, file, error, text);
}

std::string fits_open_remedy(const char* typed, const std::string& file) {
  fits_name_parts parts;
  const bool parsed = fits_name_parts_of(file, parts) && !parts.standard_input;
  if (parsed && !parts.root.empty()) {
    const std::string empty = io_empty_file_remedy(parts.root);
    if (!empty.empty()) return empty;
  }
  const std::string name = typed;
  // A name whose file is there, with the FITS extension the reader adds
  // where it lacks it; "-[1]" names a file "-", not the standard input.
  auto file_of = [](const std::string& root) {
    if (std_inout(root.c_str())) return std::string();
    if (fits_name_finds_file(root)) return root;
    const std::string completed = fits_file_name(root.c_str());
    return fits_name_finds_file(completed) ? completed : std::string();
  };
  const std::size_t open = name.rfind('[');
  if (open != std::string::npos && name.find(']', open) == std::string::npos) {
    const std::string root = file_of(name.substr(0, open));
    if (!root.empty()) return "; the ']' that closes the HDU selector is missing: '" + root + name.substr(open) + "]'";
    return "";
  }
  fits_name_parts typed_parts;
  if (!fits_name_parts_of(name, typed_parts) || typed_parts.standard_input || typed_parts.extension.empty() ||
      typed_parts.after_root == std::string::npos || typed_parts.prefix != "file://" ||
      fits_name_finds_file(name))
    return "";
  const std::string root = name.substr(0, typed_parts.after_root);
  const std::string completed = fits_file_name(root.c_str());
  if (completed == root || !fits_name_finds_file(completed)) return "";
  return "; .fits is not added before an HDU selector: name the whole file, as in '" + completed +
         name.substr(typed_parts.after_root) + "'";
}

int fits_open_input(fitsfile** fptr, const std::string& file, int iomode, int* status) {
  if (!fits_gate_name(file, iomode)) return *status = URL_PARSE_ERROR;
  if (fits_open_raw_array(fptr, file, iomode, status)) return *status;
  if (fits_open_local(fptr, file, iomode, status)) return *status;
  if (fits_open_network(fptr, file, iomode, status)) return *status;
  // Every name the gate passes is opened above: the library's own open of
  // a name would search for its file again, unchecked.
  fatal_exitf(-1, stderr,
              "Error: no reader here opens the name, which the FITS library would open unchecked ... (%s)\n",
              file.c_str());
}

int fits_close_input(fitsfile* fptr, int* status) {
  // Released when this goes, after the close.
  const std::shared_ptr<void> backing = fits_take_input_backing(fptr->Fptr);
  return ffclos(fptr, status);
}

long long fits_file_bytes(fitsfile* fptr) {
  // The library lengthens its record of a file in memory as a move goes
  // past its end.
  const fits_input_source source = fits_input_source_of(fptr->Fptr);
  return source.bytes != nullptr ? static_cast<long long>(source.size) : fptr->Fptr->filesize;
}

std::string fits_library_reason(fitsfile* fptr, int status) {
  char text[FLEN_STATUS] = "";
  ffgerr(status, text);
  std::string reason = text;
  // The name the library gives the file is its own ("memory", a
  // descriptor's): the caller names it as the user did.
  char file[FLEN_FILENAME] = "";
  int name_status = 0;
  if (fptr != nullptr) ffflnm(fptr, file, &name_status);
  char message[FLEN_ERRMSG] = "";
  while (ffgmsg(message))
    if (*message != '\0' && reason.find(message) == std::string::npos && std::strcmp(message, file) != 0)
      reason += std::string("; ") + message;
  return reason;
}

void fits_refuse_read(fitsfile* fptr, const char* name, int status) {
  fatal_exitf(exit_status_of(status), stdout, "Error: cannot read in file (%s: %s)\n", name,
              fits_library_reason(fptr, status).c_str());
}

namespace {

// The BSCALE, BZERO and BLANK that the library leaves unapplied: it reads
// a compressed integer image's tiles kept whole, in UNCOMPRESSED_DATA
// (every tile of a NOCOMPRESS image), as stored, whatever the image's
// scaling and undefined value say. Such an image is read as stored, and
// scaled and its undefined pixels marked here, so that a library that one
// day does so itself reads it the same; any other image, by the library
// alone. A floating-point image whose whole tiles
// stand under a scaling is refused: the library's compressor keeps its
// physical values there, while the cards say they are stored ones.
struct own_scaling {
  bool applies = false;
  double scale = 1.0, zero = 0.0;
  // The stored value of undefined pixels, when a BLANK card gives one.
  bool has_blank = false;
  double blank = 0.0;
};
own_scaling scaling_left_to_us(fitsfile* fptr, const char* name) {
  int status = 0;
  if (!fits_is_compressed_image(fptr, &status)) return {};
  const FITSfile* file = fptr->Fptr;
  // The library reads those tiles as a table column, under the column's own
  // TSCALn and TZEROn, which no writer gives it: the values would be
  // scaled twice, or otherwise than the image's cards say.
  if (file->cn_uncompressed > 0) {
    const tcolumn& column = fptr->Fptr->tableptr[file->cn_uncompressed - 1];
    if (column.tscale != 1.0 || column.tzero != 0.0)
      fatal_exitf(-1, stderr,
                  "Error: the tiles kept uncompressed stand under their column's own scaling (TSCAL%d = %.17g, "
                  "TZERO%d = %.17g), which the FITS library would apply besides the image's ... (%s)\n",
                  file->cn_uncompressed, column.tscale, file->cn_uncompressed, column.tzero, name);
  }
  // The library marks a BLANK given as a card by cn_zblank = -1.
  const bool has_blank = file->zbitpix > 0 && file->cn_zblank == -1;
  if (file->cn_uncompressed <= 0 || (file->cn_bscale == 1.0 && file->cn_bzero == 0.0 && !has_blank)) return {};
  if (file->zbitpix < 0)
    fatal_exitf(-1, stderr,
                "Error: the floating-point image keeps tiles uncompressed under BSCALE = %.17g, BZERO = %.17g, "
                "which the FITS library's compressor leaves unapplied there: whether its values are scaled "
                "cannot be told: if they are physical, remove BSCALE and BZERO from its header; if stored, read "
                "the uncompressed original ... (%s)\n",
                file->cn_bscale, file->cn_bzero, name);
  return {true, file->cn_bscale, file->cn_bzero, has_blank, static_cast<double>(file->zblank)};
}

// Reads n pixels from the first into out, undefined ones as NaN when
// `undefined_as_nan`; the library's status.
template <class Out>
int read_physical_pixels(fitsfile* fptr, const char* name, LONGLONG n, bool undefined_as_nan, Out* out,
                         int* status) {
  constexpr int kType = std::is_same<Out, float>::value ? TFLOAT : TDOUBLE;
  const own_scaling scaling = scaling_left_to_us(fptr, name);
  int anynul = 0;
  Out undefined = std::numeric_limits<Out>::quiet_NaN();
  if (!scaling.applies) return ffgpv(fptr, kType, 1, n, undefined_as_nan ? &undefined : nullptr, out, &anynul, status);
  // Stored values in double, exact for every integer BITPIX, scaled in
  // double as the library scales the tiles it does, whole lines at a time:
  // a tile is usually a line.
  if (ffpscl(fptr, 1.0, 0.0, status)) return *status;
  const LONGLONG width = std::max<LONGLONG>(fptr->Fptr->znaxis[0], 1);
  const LONGLONG chunk = std::max<LONGLONG>(kChunk / width, 1) * width;
  std::vector<double> stored(static_cast<std::size_t>(std::min(chunk, n)));
  double stored_undefined = std::numeric_limits<double>::quiet_NaN();
  const bool mark = undefined_as_nan && scaling.has_blank;
  for (LONGLONG first = 0; first < n && *status == 0; first += chunk) {
    const LONGLONG count = std::min(chunk, n - first);
    if (ffgpv(fptr, TDOUBLE, first + 1, count, undefined_as_nan ? &stored_undefined : nullptr, stored.data(),
              &anynul, status))
      break;
    for (LONGLONG k = 0; k < count; k++) {
      const double value = stored[static_cast<std::size_t>(k)];
      out[first + k] = mark && value == scaling.blank ? undefined
                                                      : static_cast<Out>(value * scaling.scale + scaling.zero);
    }
  }
  // The image's scaling back, whatever the read gave; a BSCALE of 0, which
  // the library takes from a card but not from a call, has made every
  // pixel BZERO and is left unset.
  int restore_status = 0;
  if (scaling.scale != 0.0) ffpscl(fptr, scaling.scale, scaling.zero, &restore_status);
  return *status != 0 ? *status : (*status = restore_status);
}

}  // namespace

int fits_read_pixels(fitsfile* fptr, const char* name, LONGLONG n, bool undefined_as_nan, float* out, int* status) {
  return read_physical_pixels(fptr, name, n, undefined_as_nan, out, status);
}

int fits_read_pixels(fitsfile* fptr, const char* name, LONGLONG n, bool undefined_as_nan, double* out,
                     int* status) {
  return read_physical_pixels(fptr, name, n, undefined_as_nan, out, status);
}

void fits_check_data_held(fitsfile* fptr, const char* name) {
  ffcmsg();
  int status = 0;
  LONGLONG head_start = 0, data_start = 0, data_end = 0;
  const long long data_bytes = announced_data_bytes(fptr, &status);
  if (status || ffghadll(fptr, &head_start, &data_start, &data_end, &status)) fits_refuse_read(fptr, name, status);
  // The library knows the file's true size by now: a compressed file has
  // been inflated in memory at open, as far as its headers describe, so a
  // 100-byte file can no longer claim 8 GB.
  if (fits_file_bytes(fptr) - data_start < data_bytes)
    refuse_truncated(name, data_bytes, fits_file_bytes(fptr) - data_start);
}

std::FILE* fits_file_des_in(const char* name) {
  if (std_inout(name)) return io_standard_input(name);
  const std::string file = fits_file_name(name);
  return io_fopen_or_exit(name, file, "rb", "Unable to open file: %s\n");
}

std::FILE* fits_file_des_out(const char* name) {
  if (std_inout(name)) return io_standard_output();
  return io_open_output_or_exit(name, fits_file_name(name), "Unable to open file: %s\n");
}

void fits_close_out(std::FILE* stream, const char* name) {
  if (stream == io_standard_output()) {
    if (std::fflush(stream) != 0) fits_write_failure(name);
    return;
  }
  if (!io_close_output(stream)) fits_write_failure(name);
}

void swapbytes(void* p, int size_flags, int n) {
  unsigned char* bytes = static_cast<unsigned char*>(p);
  switch (size_flags) {
    case 4:
      for (int k = 0; k < n; k++) {
        uint32_t v;
        std::memcpy(&v, bytes + 4 * static_cast<std::size_t>(k), 4);
        v = __builtin_bswap32(v);
        std::memcpy(bytes + 4 * static_cast<std::size_t>(k), &v, 4);
      }
      return;
    case 2:
      for (int k = 0; k < n; k++) {
        uint16_t v;
        std::memcpy(&v, bytes + 2 * static_cast<std::size_t>(k), 2);
        v = __builtin_bswap16(v);
        std::memcpy(bytes + 2 * static_cast<std::size_t>(k), &v, 2);
      }
      return;
    case 1:
      return;
    case 8:
      for (int k = 0; k < n; k++) {
        uint64_t v;
        std::memcpy(&v, bytes + 8 * static_cast<std::size_t>(k), 8);
        v = __builtin_bswap64(v);
        std::memcpy(bytes + 8 * static_cast<std::size_t>(k), &v, 8);
      }
      return;
  }
  error(1, "*Internal Error*: Unknown size in ", "swapbytes()");
}

void readdataf(std::FILE* stream, const char* name, int bitpix, int n, float* out, float bscale,
               float bzero) {
  read_pixels(stream, name, bitpix, n, out, bscale, bzero, "readdata()");
}

void readdatai(std::FILE* stream, const char* name, int bitpix, int n, int* out, float bscale,
               float bzero) {
  read_pixels(stream, name, bitpix, n, out, bscale, bzero, "readdata()");
}

void readdataf(fitsstruct* rec, float* out) {
  readdataf(rec->stream, rec->filename, rec->bitpix, rec->npix, out, static_cast<float>(rec->bscale),
            static_cast<float>(rec->bzero));
}

void readdatai(fitsstruct* rec, int* out) {
  readdatai(rec->stream, rec->filename, rec->bitpix, rec->npix, out, static_cast<float>(rec->bscale),
            static_cast<float>(rec->bzero));
}

void writedataf(std::FILE* stream, const char* name, int bitpix, int n, const float* in,
                float bscale, float bzero) {
  write_pixels(stream, name, bitpix, n, in, bscale, bzero, "writedata()");
}

void writedatai(std::FILE* stream, const char* name, int bitpix, int n, const int* in,
                float bscale, float bzero) {
  write_pixels(stream, name, bitpix, n, in, bscale, bzero, "writedata()");
}

void writedataf(fitsstruct* rec, const float* in) {
  writedataf(rec->stream, rec->filename, rec->bitpix, rec->npix, in,
             static_cast<float>(rec->bscale), static_cast<float>(rec->bzero));
}

void writedatai(fitsstruct* rec, const int* in) {
  writedatai(rec->stream, rec->filename, rec->bitpix, rec->npix, in,
             static_cast<float>(rec->bscale), static_cast<float>(rec->bzero));
}

namespace {

// The library's reason for a status: "(x.fits[1]: unrecognizable FITS
// record)".
std::string library_reason(const char* file_name, int status) {
  char text[FLEN_STATUS] = "";
  ffgerr(status, text);
  return std::string("(") + file_name + ": " + text + ")";
}

[[noreturn]] void refuse_header(const char* file_name, int status) {
  fatal_exitf(exit_status_of(status), stdout, "Error: cannot read the header %s\n",
              library_reason(file_name, status).c_str());
}

// The cards of the current HDU as stored, without END; the library's status.
// Not as the library hands them on: its copy ends a card at a NUL byte,
// which would silently shorten it instead of letting the parser leave the
// card out as it does any byte outside printable ASCII.
int stored_cards(fitsfile* fptr, std::string& cards) {
  int status = 0, nkeys = 0;
  LONGLONG head_start = 0, data_start = 0, data_end = 0;
  if (ffghsp(fptr, &nkeys, nullptr, &status) || ffghadll(fptr, &head_start, &data_start, &data_end, &status) ||
      ffmbyt(fptr, head_start, REPORT_EOF, &status))
    return status;
  cards.assign(static_cast<std::size_t>(nkeys) * FITS_CARD, ' ');
  if (nkeys > 0) ffgbyt(fptr, static_cast<LONGLONG>(cards.size()), &cards[0], &status);
  return status;
}

void parse_cards(std::string cards, const char* file_name, fitsstruct* Header) {
  fits_refuse_section_of_lookup_tables(cards, file_name);
  fits_section_coordinates(cards, file_name);
  cards += "END";
  std::size_t nblocks = (cards.size() + FITS_BLOCK - 1) / FITS_BLOCK;
  cards.resize(nblocks * FITS_BLOCK, ' ');
  char* buf = static_cast<char*>(std::malloc(cards.size()));
  if (buf == nullptr) error(1, "*Error*: Not enough memory in ", "fits_read_header_cards()");
  std::memcpy(buf, cards.data(), cards.size());
  set_filename(Header, file_name);
  parseimagehead(Header, buf, static_cast<int>(nblocks));
}

// The image header the library rebuilds from a compressed image's table,
// here in a file in memory; the library's status. Its data are declared
// away before it goes, or the library would fill them in memory as it
// closes the file: the whole image's size.
// The rebuilt header is about as long as the table's, blank room included:
// the file in memory, empty at first, grows by that much at a time, since
// one grown a block at a time is copied whole at every block wherever
// realloc moves it (as under the sanitizers: minutes for a header of 10000
// blocks).
int library_image_cards(fitsfile* fptr, std::string& cards) {
  int status = 0;
  LONGLONG head_start = 0, data_start = 0, data_end = 0;
  if (ffghadll(fptr, &head_start, &data_start, &data_end, &status)) return status;
  const std::size_t step = static_cast<std::size_t>(data_start - head_start) + 2 * FITS_BLOCK;
  void* memory = nullptr;
  std::size_t size = 0;
  fitsfile* image = nullptr;
  auto grow = [](void* block, std::size_t bytes) { return std::realloc(block, bytes); };
  if (ffimem(&image, &memory, &size, step, grow, &status)) {
    std::free(memory);
    return status;
  }
  // The rebuild copies ZPCOUNT into PCOUNT, while the image the library
  // opens has no parameters whatever ZPCOUNT says: astropy writes the old
  // heap's size there in a table it copied.
  LONGLONG parameters = 0;
  int absent = 0;
  if (fits_img_decompress_header(fptr, image, &status) == 0 &&
      ffgkyjj(image, "PCOUNT", &parameters, nullptr, &absent) == 0 && parameters != 0)
    ffmkyj(image, "PCOUNT", 0, "&", &status);
  if (status == 0) status = stored_cards(image, cards);
  int ignored = 0;
  ffukyj(image, "NAXIS", 0, nullptr, &ignored);
  ffrdef(image, &ignored);
  // Closed, the file leaves its memory, where it last moved it, to us.
  ignored = 0;
  ffclos(image, &ignored);
  std::free(memory);
  return status;
}

}  // namespace

void fits_read_header_cards(fitsfile* fptr, const char* file_name, fitsstruct* Header) {
  int status = 0;
  std::string cards;
  if (!fits_is_compressed_image(fptr, &status)) {
    if ((status = stored_cards(fptr, cards)) != 0) refuse_header(file_name, status);
    return parse_cards(cards, file_name, Header);
  }
  // The library's rebuild where it serves, so that the headers of the files
  // its own compressor made stay as they were read; ours where it does not
  // (a table laid out otherwise, as astropy writes it).
  // The library's messages of a rebuild that failed are dropped with it,
  // lest a later report of its errors show them.
  ffpmrk();
  const int library_status = library_image_cards(fptr, cards);
  ffcmrk();
  if (library_status == 0) return parse_cards(cards, file_name, Header);
  std::string table;
  if ((status = stored_cards(fptr, table)) != 0) refuse_header(file_name, status);
  cards = fits_compressed_image_cards(table);
  if (cards.empty()) refuse_header(file_name, library_status);
  parse_cards(cards, file_name, Header);
}

void fits_read_float(const char* name, to_array<float, false>& Ima, fitsstruct* Header) {
  std::string file = fits_input_name(name);
  fitsfile* fptr = nullptr;
  int status = 0;
  if (fits_open_input(&fptr, file, READONLY, &status))
    fatal_exitf(exit_status_of(status), stdout, "Error: cannot open file %s%s\n",
                fits_open_failure(name, file, status, fptr).c_str(), fits_open_remedy(name, file).c_str());
  // The library has opened the HDU the name selects ("x.fits[1]",
  // "x.fits[SCI]"); a name that selects none reads HDU FITS_HDU_Number.
  int hdutype = 0, opened = 1;
  ffghdn(fptr, &opened);
  if (opened == 1 && ffmahd(fptr, FITS_HDU_Number + 1, &hdutype, &status))
    fatal_exitf(exit_status_of(status), stdout, "Error: no image extension ...");
  if (ffghdt(fptr, &hdutype, &status) || hdutype != IMAGE_HDU)
    fatal_exitf(-1, stdout, "Error: no image in this HDU (%s)\n", name);
  int naxis = 0;
  if (ffgidm(fptr, &naxis, &status))
    fatal_exitf(exit_status_of(status), stdout, "Error: pb NAXIS...\n");
  std::vector<LONGLONG> axes(static_cast<std::size_t>(naxis > 0 ? naxis : 0));
  if (naxis > 0 && ffgiszll(fptr, naxis, axes.data(), &status))
    fatal_exitf(exit_status_of(status), stdout, "Error: pb NAXIS  ... \n");
  Header->naxis = naxis;
  if (naxis == 0) refuse_no_image(fptr, file, name);
  if (naxis != 2 || axes[0] < 1 || axes[1] < 1) refuse_axes(axes, name);
  const long long nl = axes[1], nc = axes[0];
  if (nl == 1) refuse_2d("Error: number of lines must be > 1 ... ", name);
  if (nc == 1) refuse_2d("Error: number of columns must be > 1 ... ", name);
  // Multiplied only once both sides are known to fit an image.
  io_check_image_memory(name, nl, nc, static_cast<long long>(sizeof(float)));
  const long long npix = nl * nc;
  fits_check_data_held(fptr, name);
  fits_check_tiles(fptr);
  // The header comes from the same open file: no temporary copy. It is
  // parsed first, so that a scaling card the library would read otherwise
  // than we do is refused before any pixel is read with it.
  fits_read_header_cards(fptr, file.c_str(), Header);

  io_alloc_image(Ima, static_cast<int>(nl), static_cast<int>(nc), name);
  // BLANK pixels of an integer image are undefined: read as NaN, as a
  // floating-point image marks them, and so are the ZBLANK pixels of
  // quantized tiles. Other floating-point data are read as stored, without
  // the library's check, which would also zero subnormals.
  int bitpix = 0;
  ffgidt(fptr, &bitpix, &status);
  const bool marks_undefined = bitpix > 0 || fits_tiles_quantized(fptr);
  // The reason given is the read's own.
  ffcmsg();
  if (fits_read_pixels(fptr, name, npix, marks_undefined, Ima.buffer(), &status))
    fits_refuse_read(fptr, name, status);
  Header->lookup_tables = fits_read_lookup_tables(fptr, *Header, name);
  if (fits_close_input(fptr, &status))
    fatal_exitf(exit_status_of(status), stdout, "Error: cannot close %s\n", file.c_str());
}

void fits_write_float(const char* name, to_array<float, false>& Ima, fitsstruct* Header) {
  if (Header->npix != Ima.n_elem())
    fatal_exitf(-1, stderr, "Error: the header of %s describes %d pixels, the image holds %d ...\n",
                name, Header->npix, Ima.n_elem());
  checked_bytepix(Header->bitpix, "writedata()");
  // Write errors name the file.
  if (Header->filename == nullptr) set_filename(Header, name);
  Header->stream = fits_file_des_out(name);
  writeimagehead(Header);
  writedataf(Header, Ima.buffer());
  fits_write_lookup_tables(*Header, Header->stream, name);
  fits_close_out(Header->stream, name);
  Header->stream = nullptr;
}

void fits_read_int(const char* name, to_array<int, false>& Ima, fitsstruct* Header, Bool NoBscale) {
  set_filename(Header, name);
  Header->stream = fits_file_des_in(name);
  readimagehead(Header);
  // A cube of one plane is an image; anything else would not fit Ima.
  bool image = Header->naxis == 2 || (Header->naxis == 3 && Header->naxisn[2] == 1);
  if (!image) refuse_2d("Error: the input image is not a 2D array ... ", name);
  const long long data_bytes = static_cast<long long>(Header->npix) * Header->bytepix;
  const long long file_size = io_stream_size(Header->stream);
  const long data_start = std::ftell(Header->stream);
  if (file_size >= 0 && data_start >= 0 && file_size < data_start + data_bytes)
    refuse_truncated(name, data_bytes, file_size - data_start);
  io_check_image_memory(name, Header->height, Header->width, static_cast<long long>(sizeof(int)));
  // A pipe does not tell its length: its data are gathered before the image
  // that the header announces is allocated.
  std::FILE* const file_stream = Header->stream;
  std::vector<unsigned char> piped;
  if (file_size < 0) {
    piped = io_read_stream_bytes(file_stream, static_cast<std::size_t>(data_bytes), name);
    Header->stream = fmemopen(piped.data(), piped.size(), "rb");
    if (Header->stream == nullptr) fatal_exitf(-1, stderr, "Error reading file %s\n", name);
  }
  // Kept in double: putting back single-precision copies would change the
  // scaling that a later write of this record records.
  double kept_bscale = Header->bscale, kept_bzero = Header->bzero;
  if (NoBscale) {
    Header->bscale = 1.0;
    Header->bzero = 0.0;
  }
  io_alloc_image(Ima, Header->height, Header->width, name);
  readdatai(Header, Ima.buffer());
  if (NoBscale) {
    Header->bscale = kept_bscale;
    Header->bzero = kept_bzero;
  }
  if (Header->stream != file_stream) std::fclose(Header->stream);
  if (file_stream != stdin) std::fclose(file_stream);
  Header->stream = nullptr;
}

void fits_write_int(const char* name, to_array<int, false>& Ima, fitsstruct* Header) {
  if (Header->npix != Ima.n_elem())
    fatal_exitf(-1, stderr, "Error: the header of %s describes %d pixels, the image holds %d ...\n",
                name, Header->npix, Ima.n_elem());
  checked_bytepix(Header->bitpix, "writedata()");
  set_filename(Header, fits_file_name(name));
  Header->stream = fits_file_des_out(name);
  writeimagehead(Header);
  writedatai(Header, Ima.buffer());
  fits_write_lookup_tables(*Header, Header->stream, name);
  fits_close_out(Header->stream, name);
  Header->stream = nullptr;
}

void fits_read_header(const char* name, fitsstruct* Header) {
  initfield(Header);
  std::string file = name;
  std::FILE* stream = io_fopen_read(file);
  int error = errno;
  if (stream == nullptr) {
    // The reason shown is the first open's, unless that name does not exist.
    stream = io_fopen_read(file + ".fits");
    const int fits_error = errno;
    if (stream != nullptr || error == ENOENT) {
      file += ".fits";
      error = fits_error;
    }
  }
  if (stream == nullptr)
    fatal_exitf(-1, stderr, "Error reading file %s\n", io_open_failure(name, file, error).c_str());
  set_filename(Header, file);
  Header->stream = stream;
  readimagehead(Header);
  std::fclose(stream);
  Header->stream = nullptr;
}

void fits_write_header(const char* name, fitsstruct* Header) {
  std::string file = fits_file_name(name);
  set_filename(Header, file);
  std::FILE* stream = io_open_output_or_exit(name, file, "Error writing on file %s\n");
  Header->stream = stream;
  writeimagehead(Header);
  fits_close_out(stream, name);
  Header->stream = nullptr;
}
