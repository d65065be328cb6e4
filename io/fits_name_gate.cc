// The gate of FITS names: each is taken apart here by the library's own
// parser of extended names (fits_name_parts_of), and refused where the
// library would open, write or decode something the checks never saw.
#include "io/fits_name_gate.h"

#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "array/fatal.h"
#include "io/compressed_input.h"
#include "io/fits_hdu_walk.h"
#include "io/image_file.h"
#include "io/image_names.h"
#include "io/network_input.h"

namespace {

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
  std::vector<long long> axes;
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
    raw.axes.push_back(saturated(length));
    if (__builtin_mul_overflow(raw.bytes, saturated(length), &raw.bytes) || raw.bytes > kBeyondAnyFile)
      raw.bytes = kBeyondAnyFile;
  }
  return true;
}

// The text without its blanks. The library's cut of a section reads
// blanks in some places and not in others (one before a comma leaves the
// next axis whole, one before a colon drops the step), so sections are
// read here, and handed to it, without them.
std::string without_blanks(const std::string& text) {
  std::string kept;
  for (char c : text)
    if (c != ' ') kept += c;
  return kept;
}

// The first of a section's items, numbers or "-*", with a blank inside it
// ("4 4" of "5:4 4"), which might be one number or two; empty for none.
std::string split_by_a_blank(const std::string& text) {
  for (const std::string& item : split(text, ','))
    for (const std::string& field : split(item, ':'))
      if (trimmed(field).find(' ') != std::string::npos) return trimmed(field);
  return "";
}

// True when text is an image section as the library writes one, blanks
// left out: each axis "*" or "-*" (all of it, reversed) or "first:last",
// then a step ":n" if any.
bool is_image_section(const std::string& text) {
  for (const std::string& item : split(without_blanks(text), ',')) {
    std::vector<std::string> fields = split(item, ':');
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

// A section that goes past the image's first two axes with a single
// number ("[*,*,1]", "[40:11,5:44,1]"), which the library reads as that
// plane of a cube, or leaves unread past the image's last axis: its first
// two items a section's, each item after them a section's or a number.
bool is_plane_section(const std::string& text) {
  const std::vector<std::string> items = split(text, ',');
  if (items.size() < 3 || !is_image_section(items[0] + "," + items[1])) return false;
  bool number = false;
  for (std::size_t k = 2; k < items.size(); k++) {
    const std::string item = without_blanks(items[k]);
    if (all_digits(item))
      number = true;
    else if (!is_image_section(item))
      return false;
  }
  return number;
}

// Refuses the plane section `rows` of an image of `axes` (`hdu` names it),
// saying what it asks for: a plane of a cube, which is no 2D image, or an
// item past the image's axes, which the library would leave unread.
[[noreturn]] void refuse_plane_section(const std::string& rows, const std::vector<long long>& axes,
                                       const std::string& hdu, const std::string& file) {
  const std::vector<std::string> items = split(rows, ',');
  if (items.size() > axes.size()) {
    const std::string example = axes.size() == 2
                                    ? ", as in [" + without_blanks(items[0]) + "," + without_blanks(items[1]) + "]"
                                    : std::string();
    fatal_exitf(-1, stderr,
                "Error: the section [%s] gives %zu items, but %s has %zu axes (%s): give one item per axis%s "
                "... (%s)\n",
                rows.c_str(), items.size(), hdu.c_str(), axes.size(), fits_axes_text(axes).c_str(), example.c_str(),
                file.c_str());
  }
  std::string plane;
  for (std::size_t k = 2; k < items.size(); k++) plane += (k == 2 ? "" : ",") + without_blanks(items[k]);
  fatal_exitf(-1, stderr,
              "Error: the name asks for plane %s of %s, a %zu-axis image (%s), and only 2D images are read: cut "
              "the plane into a file of its own with another tool and name that file ... (%s)\n",
              plane.c_str(), hdu.c_str(), axes.size(), fits_axes_text(axes).c_str(), file.c_str());
}

// Refuses a section whose blanks leave what it asks for unsure: one inside
// a number or "-*" ("5:4 4"), and a first bracket the library's parser
// takes for an HDU's name for its blanks ("[40 :11,5:44]", on which its
// open fails). Blanks elsewhere are left out as the section is handed on.
void refuse_section_blanks(const fits_name_parts& parts, const std::string& file) {
  for (const std::string* text : {&parts.rows, &parts.extension}) {
    if (text->find(' ') == std::string::npos || (!is_image_section(*text) && !is_plane_section(*text))) continue;
    // An HDU's name holds no colon the library's parser takes.
    if (text == &parts.extension && text->find(':') == std::string::npos) continue;
    const std::string split_item = split_by_a_blank(*text);
    if (split_item.empty() && text == &parts.rows) continue;
    if (!split_item.empty())
      fatal_exitf(-1, stderr,
                  "Error: the section [%s] has a blank inside \"%s\", which leaves unsure what it asks for: write "
                  "the section without blanks, joining what the blank parts (as [%s]) or parting it with the comma or "
                  "colon meant ... (%s)\n",
                  text->c_str(), split_item.c_str(), without_blanks(*text).c_str(), file.c_str());
    fatal_exitf(-1, stderr,
                "Error: the FITS library takes [%s] for the name of an HDU, not for a section, for its blanks: "
                "write the section without blanks: [%s] ... (%s)\n",
                text->c_str(), without_blanks(*text).c_str(), file.c_str());
  }
}

// The library applies every filter but an image section as it opens the
// name, on HDUs and tiles no check has seen (a column filter can even make
// an HDU tile-compressed after the checks), and the expressions of pixel,
// row and column filters open other names with its whole syntax: regions
// and good-time intervals read from a file, fetched from a server, or
// written to a file ("gtifilter(\"a.fits(new.fits)\")"). So every one is
// refused, on every file, naming the filters the name asks for.
void refuse_filters(const fits_name_parts& parts, const std::string& file) {
  std::string asked;
  auto add = [&](bool present, const char* what) {
    if (present) asked += (asked.empty() ? "" : " and ") + std::string(what);
  };
  add(parts.extension_filters, "filter in the HDU selector");
  add(!parts.rows.empty() && !is_image_section(parts.rows) && !is_plane_section(parts.rows), "row filter");
  add(!parts.bins.empty(), "binning");
  add(!parts.columns.empty(), "column filter");
  add(!parts.pixels.empty(), "pixel filter");
  add(!parts.compress.empty(), "compression of the output");
  if (asked.empty()) return;
  fatal_exitf(-1, stderr,
              "Error: the name asks the FITS library for a %s, which is refused: the library would apply it as it "
              "opens the file, unchecked, and a filter's expression may read, fetch or write other files. Apply "
              "the filter with another tool and name the file it writes; image sections [x1:x2,y1:y2] are read "
              "... (%s)\n",
              asked.c_str(), file.c_str());
}

// Refuses, naming it, a name with an output-file part, "in.fits(out.fits)":
// the library would write out.fits as it opens the input, before the
// program can check it, and leave it behind. A copy into memory
// ("(mem://...)") makes no file, and other parts of the syntax write
// nothing.
void refuse_copy_syntax(const fits_name_parts& parts, const std::string& file) {
  if (parts.copy.empty() || strncasecmp(parts.copy.c_str(), "mem://", 6) == 0) return;
  fatal_exitf(-1, stderr,
              "Error: the name asks the FITS library to copy the file to %s, which would be written before any "
              "check: name the file without \"(%s)\" ... (%s)\n",
              parts.copy.c_str(), parts.copy.c_str(), file.c_str());
}

// The name's parts as the library parses them, its guesses included.
bool library_name_parts(const std::string& file, fits_name_parts& parts) {
  if (file.size() + 1 >= FLEN_FILENAME) return false;
  // The library's open skips the blanks that lead a name before it parses
  // it: " f.fits[1]" opens f.fits.
  const std::size_t lead = std::min(file.find_first_not_of(' '), file.size());
  std::vector<char> url(file.begin() + static_cast<std::ptrdiff_t>(lead), file.end());
  url.push_back('\0');
  char type[FLEN_FILENAME] = "", root[FLEN_FILENAME] = "", copy[FLEN_FILENAME] = "", ext[FLEN_FILENAME] = "",
       rows[FLEN_FILENAME] = "", bins[FLEN_FILENAME] = "", columns[FLEN_FILENAME] = "",
       pixels[FLEN_FILENAME] = "", output_compression[FLEN_FILENAME] = "";
  int status = 0;
  if (ffifile2(url.data(), type, root, copy, ext, rows, bins, columns, pixels, output_compression, &status) != 0)
    return false;
  parts.prefix = type;
  parts.root = root;
  parts.copy = copy;
  parts.extension = ext;
  parts.rows = rows;
  parts.bins = bins;
  parts.columns = columns;
  parts.pixels = pixels;
  parts.compress = output_compression;
  if (*ext != '\0') {
    // "[1; #row > 2]" filters within the HDU selection.
    int number = 0, version = 0, hdu_type = ANY_HDU, parse_status = 0;
    char name[FLEN_FILENAME] = "", column[FLEN_FILENAME] = "", filter[FLEN_FILENAME] = "";
    if (ffexts(ext, &number, name, &version, &hdu_type, column, filter, &parse_status) == 0 && (*column || *filter))
      parts.extension_filters = true;
  }
  parts.filtered = *rows || *bins || *columns || *pixels || *output_compression || parts.extension_filters;
  // The prefix may be implied, or written "file:" without its "//"
  // ("file:m51.fits"), which the library reads as "file://".
  std::size_t written = 0;
  if (file.compare(lead, parts.prefix.size(), parts.prefix) == 0)
    written = parts.prefix.size();
  else if (parts.prefix == "file://" && file.compare(lead, 5, "file:") == 0)
    written = 5;
  const std::size_t root_at = lead + written;
  parts.after_root = !parts.root.empty() && file.compare(root_at, parts.root.size(), parts.root) == 0
                         ? root_at + parts.root.size()
                         : std::string::npos;
  return true;
}

// Refuses a name the library's parser fails on for the blanks between two
// of its brackets alone ("x.fits[1] [40:11,5:44]"), saying how to write it.
void refuse_blanks_between_brackets(const std::string& file) {
  std::string joined = file;
  for (std::size_t at = joined.find(']'); at != std::string::npos; at = joined.find(']', at + 1)) {
    const std::size_t next = joined.find_first_not_of(' ', at + 1);
    if (next != std::string::npos && next > at + 1 && joined[next] == '[') joined.erase(at + 1, next - at - 1);
  }
  if (joined == file) return;
  fits_name_parts parts;
  ffpmrk();
  const bool parsed = library_name_parts(joined, parts);
  ffcmrk();
  if (!parsed || parts.rows.empty() || (!is_image_section(parts.rows) && !is_plane_section(parts.rows))) return;
  fatal_exitf(-1, stderr,
              "Error: the FITS library cannot take a name apart with blanks between its brackets: write it %s ... "
              "(%s)\n",
              joined.c_str(), file.c_str());
}

}  // namespace

std::string fits_axes_text(const std::vector<long long>& axes) {
  std::string text = "NAXIS = " + std::to_string(axes.size());
  for (std::size_t k = 0; k < axes.size(); k++) text += (k == 0 ? ": " : " x ") + std::to_string(axes[k]);
  return text;
}

std::string fits_section_without_blanks(const std::string& text) {
  return is_image_section(text) ? without_blanks(text) : text;
}

std::vector<fits_section_axis> fits_section_axes(const std::string& text) {
  std::vector<fits_section_axis> axes;
  if (!is_image_section(text)) return axes;
  for (const std::string& item : split(without_blanks(text), ',')) {
    const std::vector<std::string> fields = split(item, ':');
    fits_section_axis axis;
    std::size_t steps_from = 1;
    bool reversed = false;
    if (fields[0] == "-*") {
      axis.first = 0;
      reversed = true;
    } else if (fields[0] != "*") {
      axis.first = saturated(fields[0]);
      reversed = saturated(fields[1]) < axis.first;
      steps_from = 2;
    }
    if (fields.size() > steps_from) axis.step = saturated(fields[steps_from]);
    if (reversed) axis.step = -axis.step;
    axes.push_back(axis);
  }
  return axes;
}

std::string fits_section_cut_alike(const std::string& text, long long first_axis_length) {
  const std::vector<fits_section_axis> axes = fits_section_axes(text);
  if (axes.empty()) return text;
  const std::string plain = without_blanks(text);
  if (axes[0].step >= -1) return plain;
  const std::size_t comma = std::min(plain.find(','), plain.size());
  const std::vector<std::string> fields = split(plain.substr(0, comma), ':');
  const long long first = axes[0].first == 0 ? first_axis_length : axes[0].first,
                  last = fields[0] == "-*" ? 1 : saturated(fields[1]), step = -axes[0].step;
  if (first < last) return plain;  // "-*" on an axis of unknown length
  const long long reached = first - (first - last) / step * step;
  if (reached == last) return plain;
  const std::string item = std::to_string(first) + ":" + std::to_string(reached) +
                           (reached == first ? "" : ":" + std::to_string(step));
  return item + plain.substr(comma);
}

std::string fits_section_handed_as(std::string rest, const std::string& rows, const std::string& handed) {
  const std::size_t at = rows.empty() || handed.empty() ? std::string::npos : rest.rfind(rows);
  if (at != std::string::npos) rest.replace(at, rows.size(), handed);
  return rest;
}

bool fits_name_parts_of(const std::string& file, fits_name_parts& parts) {
  if (!library_name_parts(file, parts)) return false;
  parts.standard_input = std_inout(file.c_str()) == 1;
  if (parts.standard_input) return true;
  // The library takes any name that begins with "stdin", in any case
  // ("stdin_obs1.fits"), for the standard input, and a root that ends in
  // ".imh" for an IRAF image; only "-" is the standard input here, and
  // every other name the file it names.
  if (parts.prefix == "stdin://") {
    const std::string as_file = "file://" + file;
    if (!library_name_parts(as_file, parts)) return false;
    const std::size_t added = as_file.size() - file.size();
    if (parts.after_root != std::string::npos) parts.after_root -= added;
  }
  if (parts.prefix == "irafmem://") parts.prefix = "file://";
  return true;
}

std::size_t fits_hdu_plus_at(const std::string& file) {
  // Asked of every name, of any format: a name the parser rejects leaves
  // no message behind to be told as the reason of a later failure.
  ffpmrk();
  fits_name_parts parts;
  const bool parsed = fits_name_parts_of(file, parts);
  ffcmrk();
  if (!parsed || parts.after_root == std::string::npos) return std::string::npos;
  return file.compare(parts.after_root, 1, "+") == 0 ? parts.after_root : std::string::npos;
}

bool fits_local_path(const std::string& root, std::string& path) {
  path = root;
  if (root.empty() || root[0] != '~') return true;
  const std::size_t slash = root.find('/');
  if (slash == 1) {
    const char* home = std::getenv("HOME");
    if (home != nullptr) path = home + root.substr(1);
    return true;
  }
  const std::string user = root.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  const long asked = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(asked > 0 ? static_cast<std::size_t>(asked) : 16384);
  struct passwd entry, *found = nullptr;
  while (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
    buffer.resize(2 * buffer.size());
  if (found == nullptr || found->pw_dir == nullptr) return false;
  path = found->pw_dir + (slash == std::string::npos ? std::string() : root.substr(slash));
  return true;
}

bool fits_prefix_wants_compressed(const std::string& prefix) {
  return prefix == "compress://" || prefix == "compressmem://" || prefix == "mem://";
}

void fits_refuse_section_axes(fitsfile* fptr, const std::string& file) {
  // Measured: the library takes sections of images of 1 to 4 axes, and
  // refuses more only after it has read every axis length into tables of
  // nine, on its stack.
  constexpr int kSectionAxes = 4;
  int status = 0, naxis = 0, hdu = 1, type = IMAGE_HDU;
  ffghdn(fptr, &hdu);
  // The library takes a section of a table for a row filter, and fails it
  // as an expression's syntax.
  if (ffghdt(fptr, &type, &status) == 0 && type != IMAGE_HDU)
    fatal_exitf(-1, stderr,
                "Error: the name asks for a section of HDU [%d], which is a table: a section cuts an image; name "
                "an HDU that holds one ... (%s)\n",
                hdu - 1, file.c_str());
  if (ffgidm(fptr, &naxis, &status) != 0) return;
  fits_name_parts parts;
  if (fits_name_parts_of(file, parts) && is_plane_section(parts.rows)) {
    std::vector<long long> axes(static_cast<std::size_t>(std::max(naxis, 0)));
    if (naxis > 0 && ffgiszll(fptr, naxis, axes.data(), &status) != 0) axes.assign(axes.size(), 0);
    refuse_plane_section(parts.rows, axes, "HDU [" + std::to_string(hdu - 1) + "]", file);
  }
  if (naxis <= kSectionAxes) return;
  fatal_exitf(-1, stderr,
              "Error: the name asks for a section of HDU [%d], whose image has %d axes: the FITS library takes "
              "sections of images of at most %d axes; name the HDU without the section ... (%s)\n",
              hdu - 1, naxis, kSectionAxes, file.c_str());
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
  if (!fits_name_parts_of(file, parts)) {
    refuse_blanks_between_brackets(file);
    return false;
  }
  refuse_section_blanks(parts, file);
  refuse_filters(parts, file);
  refuse_copy_syntax(parts, file);
  if (parts.standard_input) return true;
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
  if (parts.prefix == "rawfile://" && !raw_array_of(parts.root, file, raw))
    fatal_exitf(-1, stderr,
                "Error: the name reads a raw array but gives none: add its pixel type, axes and offset after the "
                "file's name, as in [i512,512:2880] ... (%s)\n",
                file.c_str());
  if (parts.prefix == "rawfile://" && is_plane_section(parts.rows))
    refuse_plane_section(parts.rows, raw.axes, "the raw array [" + raw.spec + "]", file);
  return true;
}

bool fits_raw_array_path(const std::string& file, std::string& path) {
  fits_name_parts parts;
  raw_array raw;
  return fits_name_parts_of(file, parts) && parts.prefix == "rawfile://" && raw_array_of(parts.root, file, raw) &&
         fits_local_path(raw.path, path);
}

bool fits_open_raw_array(fitsfile** fptr, const std::string& file, int iomode, int* status) {
  fits_name_parts parts;
  raw_array raw;
  if (!fits_name_parts_of(file, parts) || parts.prefix != "rawfile://") return false;
  // The library reads a raw array into memory, which it will not write.
  if (iomode != READONLY) {
    ffpmsg("cannot open raw binary file with WRITE access (mem_rawfile_open)");
    *status = READONLY_FILE;
    return true;
  }
  // Opened here, and so recorded as read, as every other input is: a result
  // named after the file must not replace it. A file that does not open
  // fails the open as the library's does, and no other is tried: the
  // library tries none.
  std::string path;
  if (!raw_array_of(parts.root, file, raw) || !fits_local_path(raw.path, path)) return false;
  std::FILE* stream = io_fopen_read(path);
  if (stream == nullptr) {
    fits_fail_as_no_file(file, status);
    return true;
  }
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
  // wholly into memory as it opens it; its section as a file's is handed
  // (io/compressed_input.cc), whose cards the section's coordinates read.
  const std::string rest = fits_section_handed_as(
      parts.after_root == std::string::npos ? "" : file.substr(parts.after_root), parts.rows,
      fits_section_cut_alike(parts.rows, raw.axes.empty() ? 0 : raw.axes[0]));
  const std::string handed = "/dev/fd/" + std::to_string(fileno(stream)) + "[" + raw.spec + "]" + rest;
  fits_check_name_length(handed, file);
  ffopen(fptr, handed.c_str(), iomode, status);
  return true;
}
