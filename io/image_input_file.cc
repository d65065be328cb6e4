// Which file a read of an image name opens, following each reader's own
// rules for completing the name.
#include "io/image_input_file.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "io/compressed_input.h"
#include "io/fits_io.h"
#include "io/gif_io.h"
#include "io/image_names.h"
#include "io/pgm_io.h"

namespace {

bool regular_file(const std::string& path, struct stat& file) {
  return stat(path.c_str(), &file) == 0 && S_ISREG(file.st_mode);
}

bool regular_standard_input(struct stat& file) { return fstat(STDIN_FILENO, &file) == 0 && S_ISREG(file.st_mode); }

}  // namespace

bool io_input_file_status(const char* name, struct stat& file) {
  if (Format_Imag == F_UNKNOWN) io_detect_format(name);
  switch (Format_Imag) {
    case F_FITS: {
      char* completed = fitsname(name);
      const std::string fits_file = completed;
      std::free(completed);
      fits_input_place place;
      if (!fits_place_of(fits_file, place)) return false;
      if (place.standard_input) return regular_standard_input(file);
      return regular_file(place.path, file);
    }
    // Neither reads the standard input.
    case F_GIF: return !std_inout(name) && regular_file(gifname(name), file);
    case F_PGM: return !std_inout(name) && regular_file(pgmname(name), file);
    // The name as given, else with ".jpg".
    case F_JPEG:
      if (std_inout(name)) return regular_standard_input(file);
      return regular_file(name, file) || regular_file(std::string(name) + ".jpg", file);
    case F_DISP: return std_inout(name) ? regular_standard_input(file) : regular_file(name, file);
    default: return false;
  }
}
