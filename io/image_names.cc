// Format codes from file names and format words, stems of file names and the
// standard-stream names.
#include "io/image_names.h"

#include <cctype>
#include <cstring>
#include <string>

#include "io/fits_name_gate.h"

type_format Format_Imag = F_UNKNOWN;
type_data TypeInputData = T_UNKNOWN;

namespace {

std::string lower_case(const char* text) {
  std::string copy = text != nullptr ? text : "";
  for (char& c : copy) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return copy;
}

struct FormatPattern {
  const char* pattern;
  type_format format;
};

// The extensions that name a format, compared with the lower-cased
// extension. Any other extension (".gz", ".old", ".dat", ".dark") names
// none and is passed over.
const FormatPattern kNameExtensions[] = {
    {"d", F_DISP},    {"bdf", F_MIDAS}, {"gif", F_GIF},  {"pgm", F_PGM},  {"fit", F_FITS},
    {"fits", F_FITS}, {"fts", F_FITS},  {"mr", F_FITS},  {"rad", F_FITS}, {"rid", F_FITS},
    {"cur", F_FITS},  {"bet", F_FITS},  {"jpg", F_JPEG}};

// The FITS words a name that no extension names a format may hold and
// still be FITS (".fit" covers ".fits").
const char* const kFitsWords[] = {".fit", ".fts"};

const FormatPattern kWordPatterns[] = {{"dis", F_DISP}, {"mid", F_MIDAS}, {"gif", F_GIF},
                                       {"pgm", F_PGM},  {"fit", F_FITS},  {"jpg", F_JPEG}};

template <std::size_t N>
type_format first_match(const std::string& text, const FormatPattern (&table)[N]) {
  for (const FormatPattern& entry : table)
    if (text.find(entry.pattern) != std::string::npos) return entry.format;
  return F_UNKNOWN;
}

// The format one extension names, 0 when none. The FITS library's own
// compressed siblings ("x.fits-gz", "x.fits-z") keep their extension.
type_format extension_format(std::string extension) {
  extension = lower_case(extension.c_str());
  for (const char* sibling : {"-gz", "-z"}) {
    const std::size_t length = std::strlen(sibling);
    if (extension.size() > length && extension.compare(extension.size() - length, length, sibling) == 0)
      extension.erase(extension.size() - length);
  }
  for (const FormatPattern& entry : kNameExtensions)
    if (extension == entry.pattern) return entry.format;
  return F_UNKNOWN;
}

// The name less the FITS library's trailing groups, an HDU selector, a
// section, a raw array or a copy ("x.fits[1]", "f.dat[i512,512:2880]",
// "x.fits(mem://)"), whose dots and slashes belong to no file name.
std::string without_trailing_groups(std::string name) {
  while (!name.empty() && (name.back() == ']' || name.back() == ')')) {
    int depth = 0;
    std::size_t at = name.size();
    while (at > 0) {
      const char c = name[--at];
      if (c == ']' || c == ')') depth++;
      if ((c == '[' || c == '(') && --depth == 0) break;
    }
    if (depth != 0) break;  // unbalanced: no group of the library's syntax
    name.erase(at);
  }
  return name;
}

// The stem as io_strcpy_prefix defines it; the folders stay whole.
std::string name_stem(const char* src) {
  std::string stem = src != nullptr ? src : "";
  const std::size_t file_start = static_cast<std::size_t>(io_file_part(stem.c_str()) - stem.c_str());
  if (stem.find('.', file_start) == std::string::npos) return stem;
  // Disp names carry their type and size after the first '_'; a disp name
  // with a '.' but no '_' keeps the whole name.
  std::size_t cut = Format_Imag == F_DISP ? stem.find('_', file_start) : stem.rfind('.');
  if (cut != std::string::npos) stem.erase(cut);
  return stem;
}

// Compressions a FITS extension at a name's end may carry, which count
// only as written here.
const char* const kCompressionSuffixes[] = {"", ".gz", ".Z"};
const char* const kDispTags[] = {"b", "s", "i", "f", "d", "cf", "cd"};

bool ends_with(const std::string& text, std::size_t from, const std::string& end) {
  return text.size() - from >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Start of the extension that ends text[from..] and names a FITS, GIF, PGM
// or JPEG image, as the format test reads it; a FITS one possibly
// compressed. npos for none.
std::size_t format_extension_start(const std::string& text, std::size_t from) {
  for (const char* compression : kCompressionSuffixes) {
    if (!ends_with(text, from, compression)) continue;
    const std::size_t end = text.size() - std::strlen(compression);
    const std::size_t dot = end > from ? text.rfind('.', end - 1) : std::string::npos;
    if (dot == std::string::npos || dot < from) continue;
    const type_format format = extension_format(text.substr(dot + 1, end - dot - 1));
    if (format == F_FITS || (*compression == '\0' && (format == F_GIF || format == F_PGM || format == F_JPEG)))
      return dot;
  }
  return std::string::npos;
}

// Start of a trailing "_<tag>_<lines>_<columns>.d" in text[from..], or npos.
std::size_t disp_suffix_start(const std::string& text, std::size_t from) {
  if (!ends_with(text, from, ".d")) return std::string::npos;
  std::size_t at = text.size() - 2;
  for (int number = 0; number < 2; number++) {
    const std::size_t digits_end = at;
    while (at > from && std::isdigit(static_cast<unsigned char>(text[at - 1]))) at--;
    if (at == digits_end || at == from || text[at - 1] != '_') return std::string::npos;
    at--;
  }
  for (const char* tag : kDispTags) {
    const std::string tagged = std::string("_") + tag;
    if (ends_with(text.substr(0, at), from, tagged)) return at - tagged.size();
  }
  return std::string::npos;
}

// Start of the image extension that ends text[from..], or npos.
std::size_t image_extension_start(const std::string& text, std::size_t from) {
  std::size_t disp = disp_suffix_start(text, from);
  if (disp != std::string::npos) return disp;
  return format_extension_start(text, from);
}

}  // namespace

const char* io_file_part(const char* name) {
  if (name == nullptr) return "";
  const char* slash = std::strrchr(name, '/');
  return slash != nullptr ? slash + 1 : name;
}

int io_file_part_has(const char* name, const char* pattern) {
  return std::strstr(io_file_part(name), pattern) != nullptr ? 1 : 0;
}

std::string io_completed_name(const char* name, const char* extension) {
  if (io_name_format(name) == extension_format(extension + 1)) return name;
  return std::string(name) + extension;
}

int io_names_no_file(const char* name) {
  const std::string file = io_file_part(name);
  return file.empty() || file == "." || file == ".." ? 1 : 0;
}

type_format io_name_format(const char* name) {
  std::string whole = name != nullptr ? name : "";
  // The HDU number the FITS library reads after the file's name
  // ("x.jpg.fits+1") belongs to no extension, as a selector in brackets
  // does not; where it stands is the library's to say.
  const std::size_t plus = fits_hdu_plus_at(whole);
  if (plus != std::string::npos) whole.erase(plus);
  whole = without_trailing_groups(whole);
  const std::string file = io_file_part(whole.c_str());
  std::string rest = file;
  // The text before the first dot is the stem, never an extension.
  for (std::size_t dot = rest.rfind('.'); dot != std::string::npos && dot > 0; dot = rest.rfind('.')) {
    const type_format format = extension_format(rest.substr(dot + 1));
    if (format != F_UNKNOWN) return format;
    rest.erase(dot);
  }
  if (rest.size() > 1 && rest[0] == '.') {  // ".fits", a hidden file
    const type_format format = extension_format(rest.substr(1));
    if (format != F_UNKNOWN) return format;
  }
  // Editor backups and hand renames put more after a FITS word
  // ("x.fits~", "x.fits_old", "x.fits-1"): still the FITS file it was.
  const std::string lower = lower_case(file.c_str());
  for (const char* word : kFitsWords)
    if (lower.find(word) != std::string::npos) return F_FITS;
  return F_UNKNOWN;
}

type_format io_which_format(const char* name) {
  Format_Imag = F_UNKNOWN;
  Format_Imag = io_name_format(name);
  return Format_Imag;
}

type_format io_detect_format(const char* name) {
  type_format format = io_which_format(name);
  if (format == F_UNKNOWN) format = F_FITS;
  Format_Imag = format;
  return format;
}

void io_set_format(type_format format) { Format_Imag = format; }

void io_set_format(const char* word) {
  Format_Imag = F_UNKNOWN;
  Format_Imag = first_match(lower_case(word), kWordPatterns);
}

type_format which_format() { return Format_Imag; }
type_data which_data_type() { return TypeInputData; }

void io_strcpy_prefix(char* dst, const char* src) {
  std::string stem = name_stem(src);
  std::memcpy(dst, stem.c_str(), stem.size() + 1);
}

std::string io_result_stem(const char* name) {
  std::string stem = name != nullptr ? name : "";
  const std::size_t file_start = static_cast<std::size_t>(io_file_part(stem.c_str()) - stem.c_str());
  const std::size_t cut = image_extension_start(stem, file_start);
  if (cut != std::string::npos && cut > file_start) stem.erase(cut);
  return stem;
}

int std_inout(const char* name) {
  std::string stem = name_stem(name);
  return stem == "-" || stem == "-b" ? 1 : 0;
}
