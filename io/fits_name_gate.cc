// The gate of FITS names: each is taken apart by the library's own parser
// of extended names (through fits_name_parts_of), and refused where the
// library would open, write or decode something the checks never saw.
#include "io/fits_name_gate.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "array/fatal.h"
#include "io/compressed_input.h"
#include "io/image_file.h"
#include "io/network_input.h"

namespace {

const char* const kFilterRemedy = "write the filtered image with another tool first, and name that file";

// The prefixes whose files are opened here first (io/compressed_input.h).
bool prefix_is_local(const std::string& prefix) {
  return prefix == "file://" || prefix == "rawfile://" || fits_prefix_wants_compressed(prefix);
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

bool all_digits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t from = 0;
  for (std::size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, from)) {
    pieces.push_back(text.substr(from, at - from));
    from = at + 1;
  }
  pieces.push_back(text.substr(from));
  return pieces;
}

// A number of the raw array's form, saturated where it would pass any file.
constexpr long long kBeyondAnyFile = 1LL << 62;
long long saturated(const std::string& digits) {
  long long value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value >= kBeyondAnyFile) return kBeyondAnyFile;
  }
  return value;
}

// A raw array's name ("f.dat[i512,512:2880]": a pixel type, a byte order,
// up to five axes and an offset) taken apart: the file, the text between
// the brackets, and the bytes the library takes from the file, saturated
// where they would pass any file.
struct raw_array {
  std::string path, spec;
  long long offset = 0, bytes = 0;
};

// The library reads a raw array into memory it takes at once for the whole
// array. False for a root that names no raw array; the library's forms the
// checks do not follow (a negative offset, an empty axis, more axes than
// it keeps) are refused.
bool raw_array_of(const std::string& root, const std::string& file, raw_array& raw) {
  const std::size_t open = root.rfind('[');
  if (open == std::string::npos || root.back() != ']') return false;
  raw.path = root.substr(0, open);
  raw.spec = root.substr(open + 1, root.size() - open - 2);
  const std::string& spec = raw.spec;
  auto refuse_form = [&]() {
    fatal_exitf(-1, stderr,
                "Error: the raw array [%s] is in a form the checks do not read: give a pixel type (b, i, u, j, r, "
                "f, d), a byte order (b, l) if needed, one to five axis lengths and an offset if needed, as in "
                "[i512,512:2880] ... (%s)\n",
                spec.c_str(), file.c_str());
  };
  std::size_t at = 0;
  long long pixel_bytes = 0;
  switch (std::tolower(static_cast<unsigned char>(spec[at++]))) {
    case 'b': pixel_bytes = 1; break;
    case 'i':
    case 'u': pixel_bytes = 2; break;
    case 'j':
    case 'r':
    case 'f': pixel_bytes = 4; break;
    case 'd': pixel_bytes = 8; break;
    default: refuse_form();
  }
  if (at < spec.size() && std::string("bBlL").find(spec[at]) != std::string::npos) at++;
  const std::size_t colon = spec.find(':', at);
  const std::vector<std::string> axes = split(spec.substr(at, colon - at), ',');
  if (colon != std::string::npos) {
    const std::string text = trimmed(spec.substr(colon + 1));
    if (!text.empty() && !all_digits(text)) refuse_form();
    raw.offset = saturated(text);
  }
  if (axes.size() > 5) refuse_form();
  raw.bytes = pixel_bytes;
  for (const std::string& axis : axes) {
    const std::string length = trimmed(axis);
    if (!all_digits(length)) refuse_form();
    if (__builtin_mul_overflow(raw.bytes, saturated(length), &raw.bytes) || raw.bytes > kBeyondAnyFile)
      raw.bytes = kBeyondAnyFile;
  }
  return true;
}

}  // namespace

bool fits_is_image_section(const std::string& text) {
  // Each axis: "*" or "-*" (all of it, reversed), or "first:last"; then
  // a step ":n" if any.
  for (const std::string& item : split(text, ',')) {
    std::vector<std::string> fields = split(trimmed(item), ':');
    std::size_t steps_from = 1;
    if (fields[0] == "*" || fields[0] == "-*") {
    } else if (fields.size() >= 2 && all_digits(fields[0]) && all_digits(fields[1])) {
      steps_from = 2;
    } else {
      return false;
    }
    if (fields.size() > steps_from + 1 || (fields.size() == steps_from + 1 && !all_digits(fields[steps_from])))
      return false;
  }
  return true;
}

fits_name_filters fits_filters_of(const fits_name_parts& parts) {
  fits_name_filters filters;
  auto other = [&](const char* what) {
    filters.other = true;
    filters.what += (filters.what.empty() ? "" : " and ") + std::string(what);
  };
  if (parts.extension_filters) other("filter in the HDU selector");
  if (!parts.rows.empty()) {
    if (fits_is_image_section(parts.rows))
      filters.section = true;
    else
      other("row filter");
  }
  if (!parts.bins.empty()) other("binning");
  if (!parts.columns.empty()) other("column filter");
  if (!parts.pixels.empty()) {
    filters.pixels = true;
    filters.what += (filters.what.empty() ? "" : " and ") + std::string("pixel filter");
  }
  if (!parts.compress.empty()) other("compression of the output");
  return filters;
}

void fits_refuse_filters_on_compressed(const fits_name_filters& filters, const std::string& file) {
  if (!filters.other && !filters.pixels) return;
  fatal_exitf(-1, stderr,
              "Error: the name asks the FITS library for a %s, which it would apply as it opens a file holding a "
              "tile-compressed image, to headers and tiles no check has seen: %s ... (%s)\n",
              filters.what.c_str(), kFilterRemedy, file.c_str());
}

void fits_refuse_pixels_without_image(fitsfile* fptr, const std::string& file) {
  int status = 0, type = 0, naxis = 0, hdu = 1;
  ffghdn(fptr, &hdu);
  if (ffghdt(fptr, &type, &status) == 0 && type == IMAGE_HDU && ffgidm(fptr, &naxis, &status) == 0 && naxis > 0)
    return;
  fatal_exitf(-1, stderr,
              "Error: the name asks for a pixel filter on HDU [%d], which holds no image: select an HDU that holds "
              "one, as in '[1][pix ...]', or %s ... (%s)\n",
              hdu - 1, kFilterRemedy, file.c_str());
}

void fits_check_name_length(const std::string& handed, const std::string& file) {
  if (handed.size() + 1 < FLEN_FILENAME) return;
  fatal_exitf(-1, stderr,
              "Error: the name handed to the FITS library is %zu characters long, and it takes names of at most %d "
              "characters apart: name the file by a shorter path ... (%s)\n",
              handed.size(), FLEN_FILENAME - 2, file.c_str());
}

bool fits_gate_name(const std::string& file, int iomode) {
  fits_check_name_length(file, file);
  fits_name_parts parts;
  if (!fits_name_parts_of(file, parts)) return false;
  if (parts.standard_input) return true;
  fits_refuse_copy_syntax(file);
  if (fits_prefix_is_network(parts.prefix)) return true;
  std::string lower = parts.prefix;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // The library has no driver for a local or network prefix written
  // otherwise.
  if (!prefix_is_local(parts.prefix) && (prefix_is_local(lower) || fits_prefix_is_network(lower)))
    fatal_exitf(-1, stderr,
                "Error: the FITS library reads the prefix %s in lower case only: write it %s ... (%s)\n",
                parts.prefix.c_str(), lower.c_str(), file.c_str());
  if (!prefix_is_local(parts.prefix))
    fatal_exitf(-1, stderr,
                "Error: the FITS library would read a name beginning with %s from a place no check can see "
                "first: copy the image to a file and name that file ... (%s)\n",
                parts.prefix.c_str(), file.c_str());
  // The library would look the user up and follow the null pointer it
  // gets back for one it does not know.
  std::string path;
  if (!fits_local_path(parts.root, path)) {
    const std::string user = parts.root.substr(0, parts.root.find('/'));
    fatal_exitf(-1, stderr,
                "Error: the name begins with %s, the home folder of a user this machine does not know: write the "
                "file's path out, or begin it with ~/ for your own home folder ... (%s)\n",
                user.c_str(), file.c_str());
  }
  if (parts.filtered && iomode != READONLY)
    fatal_exitf(-1, stderr,
                "Error: the file is written in place, which a name with a section or a filter would leave as it "
                "was: name the file alone ... (%s)\n",
                file.c_str());
  raw_array raw;
  if (parts.prefix == "rawfile://") raw_array_of(parts.root, file, raw);
  return true;
}

bool fits_open_raw_array(fitsfile** fptr, const std::string& file, int iomode, int* status) {
  fits_name_parts parts;
  raw_array raw;
  if (iomode != READONLY || !fits_name_parts_of(file, parts) || parts.prefix != "rawfile://" ||
      !raw_array_of(parts.root, file, raw))
    return false;
  // Opened here, and so recorded as read, as every other input is: a result
  // named after the file must not replace it. A file that is not there is
  // the library's to report.
  std::string path;
  if (!fits_local_path(raw.path, path)) return false;
  std::FILE* stream = io_fopen_read(path);
  if (stream == nullptr) return false;
  const std::shared_ptr<std::FILE> held(stream, std::fclose);
  struct stat info;
  if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode))
    fatal_exitf(-1, stderr,
                "Error: the raw array [%s] is read from %s, which is no regular file: its size is not known before "
                "the FITS library reads it ... (%s)\n",
                raw.spec.c_str(), raw.path.c_str(), file.c_str());
  if (raw.bytes > kBeyondAnyFile - raw.offset || raw.offset + raw.bytes > static_cast<long long>(info.st_size))
    fatal_exitf(-1, stderr,
                "Error: the raw array [%s] needs %lld bytes from byte %lld, but the file holds %lld bytes ... (%s)\n",
                raw.spec.c_str(), raw.bytes, raw.offset, static_cast<long long>(info.st_size), file.c_str());
  // The library reads the very file sized here, through its descriptor,
  // wholly into memory as it opens it.
  const std::string rest = parts.after_root == std::string::npos ? "" : file.substr(parts.after_root);
  const std::string handed = "/dev/fd/" + std::to_string(fileno(stream)) + "[" + raw.spec + "]" + rest;
  fits_check_name_length(handed, file);
  ffopen(fptr, handed.c_str(), iomode, status);
  return true;
}
