// Dispatch of image reads and writes on the run's format: FITS, raw disp,
// GIF, PGM and JPEG.
#include "io/io_dispatch.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "array/fatal.h"
#include "io/compressed_input.h"
#include "io/fits_io.h"
#include "io/gif_io.h"
#include "io/image_file.h"
#include "io/io_image.h"
#include "io/jpeg_io.h"
#include "io/output_file.h"
#include "io/pgm_io.h"

namespace {

[[noreturn]] void midas_refused() { fatal_exit("Error: MIDAS is not active\n", -1, stderr); }

[[noreturn]] void bad_format(const char* action) {
  fatal_exitf(-1, stderr, "Error: bad image format. cannot %s ...\n", action);
}

// A write must be given a file's name: the writers would otherwise add
// their extension to "" or "sub/" and make a hidden ".fits" or "sub/.fits".
void refuse_nameless(const char* name) {
  if (io_names_no_file(name))
    fatal_exitf(-1, stderr, "Error: an image name must name a file, not a folder or nothing ... (%s)\n", name);
}

void fix_format_from(const char* name) {
  if (Format_Imag == F_UNKNOWN) io_detect_format(name);
}

// The run's format for a read or write of name; MIDAS and unknown codes end
// here, so the callers switch over the real formats only.
type_format run_format(const char* name, const char* action) {
  fix_format_from(name);
  if (Format_Imag == F_MIDAS) midas_refused();
  if (Format_Imag < F_DISP || Format_Imag > F_JPEG) bad_format(action);
  return Format_Imag;
}

bool regular_file(const std::string& path) {
  struct stat file;
  return stat(path.c_str(), &file) == 0 && S_ISREG(file.st_mode);
}

// The name the reader of format opens, and whether it finds a file there.
std::string completed_input(const char* name, type_format format, bool& found) {
  std::string file;
  if (format == F_FITS) {
    file = fits_input_name(name);
    found = fits_name_finds_file(file);  // a compressed sibling counts
  } else {
    file = format == F_GIF ? gifname(name) : pgmname(name);
    found = regular_file(file);
  }
  return file;
}

// A typed name that is a file, while the reader would add its extension and
// find nothing: an image of a format not read here ("cam.jpeg", "cam.png",
// "cam.tif") or a name without extension. Naming the completed file
// ("cam.jpeg.fits") would send the user after a name never typed.
void refuse_unread_extension(const char* name, type_format format) {
  if ((format != F_FITS && format != F_GIF && format != F_PGM) || std_inout(name)) return;
  if (io_result_stem(name) != name) return;
  bool found = false;
  const std::string file = completed_input(name, format, found);
  if (found || file == name || !regular_file(name)) return;
  // fpack's own name for its files, which keep the image in an extension
  // after an empty primary HDU: that selector, given, reads the file as typed.
  const std::string typed = io_file_part(name);
  if (format == F_FITS && typed.size() > 3 && strcasecmp(typed.c_str() + typed.size() - 3, ".fz") == 0)
    fatal_exitf(-1, stderr,
                "Error: the name ends in .fz, as fpack names its files, whose image is in an extension: name it, "
                "as in '%s[1]' ... (%s)\n",
                name, name);
  // JPEG's other common extension: the same file reads under the other one.
  std::string remedy;
  if (typed.size() > 5 && strcasecmp(typed.c_str() + typed.size() - 5, ".jpeg") == 0) {
    std::string jpg = name;
    jpg.erase(jpg.size() - 2, 1);  // ".jpeg" -> ".jpg", in its own letter case
    remedy = "; JPEG is read from names that end in .jpg: name it " + jpg + " (a link will do)";
  }
  fatal_exitf(-1, stderr,
              "Error: the name ends in no extension of an image format read here: .fits, .fit or .fts "
              "(FITS, also compressed as .gz or .Z), .gif, .pgm, .jpg, or a raw name such as "
              "m51_f_512_512.d ... (%s)%s\n",
              name, remedy.c_str());
}

void set_type_from_bitpix(int bitpix) {
  switch (bitpix) {
    case 8: TypeInputData = T_BYTE; break;
    case 16: TypeInputData = T_SHORT; break;
    case 32: TypeInputData = T_INT; break;
    case -32: TypeInputData = T_FLOAT; break;
    case -64: TypeInputData = T_DOUBLE; break;
    default: break;
  }
}

// The record describes the image about to be written.
void describe_image(fitsstruct* rec, int nl, int nc) {
  rec->naxis = 2;
  rec->width = rec->naxisn[0] = nc;
  rec->height = rec->naxisn[1] = nl;
  rec->npix = nl * nc;
}

void set_filename(fitsstruct* rec, const char* name) {
  std::size_t n = std::strlen(name) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy == nullptr) fatal_exitf(-1, stderr, "Error: not enough memory ... (%s)\n", name);
  std::memcpy(copy, name, n);
  std::free(rec->filename);
  rec->filename = copy;
}

// Reads into the caller's record, or a local one when there is none, and
// records the pixel type that the file's BITPIX shows.
template <class Read>
void read_fits(const char* name, fitsstruct* Header, Read read) {
  fitsstruct local;
  fitsstruct* rec = Header != nullptr ? Header : &local;
  read(rec);
  set_type_from_bitpix(rec->bitpix);
}

// The caller's record, or a new one of the given BITPIX, sized to the image.
// A record read from a 16-bit file keeps its BITPIX, scaling and coordinates,
// so the image goes back as 16-bit.
fitsstruct* prepare_fits_record(fitsstruct* Header, fitsstruct* local, int new_bitpix, int nl,
                                int nc) {
  fitsstruct* rec = Header;
  if (rec == nullptr) {
    rec = local;
    initfield(rec);
    rec->bitpix = new_bitpix;
  }
  describe_image(rec, nl, nc);
  return rec;
}

// Extension of the part files of a complex image.
const char* part_extension(type_format format) {
  switch (format) {
    case F_GIF: return ".gif";
    case F_PGM: return ".pgm";
    case F_JPEG: return ".jpg";
    default: return ".fits";
  }
}

}  // namespace

std::string io_float_output_file(const char* name, int nl, int nc) {
  refuse_nameless(name);
  switch (run_format(name, "write")) {
    case F_DISP: {
      // A name ending in ".d" must give a type and this size, as the writer
      // requires once the image is made.
      // As the writer decides: by the name given (io/io_image.cc).
      const std::string file = disp_output_file(name, T_FLOAT, nl, nc).file;
      return std_inout(name) ? std::string() : file;
    }
    case F_GIF: return std_inout(name) ? std::string() : gifname(name);
    case F_PGM: return std_inout(name) ? std::string() : pgmname(name);
    case F_JPEG: {
      const std::string file = jpgname(name);
      return std_inout(file.c_str()) ? std::string() : file;
    }
    default: {
      if (std_inout(name)) return std::string();
      char* file = fitsname(name);
      const std::string copy = file;
      std::free(file);
      return copy;
    }
  }
}

void io_read_ima_float(const char* name, to_array<float, false>& Ima, fitsstruct* Header) {
  const type_format format = run_format(name, "read");
  refuse_unread_extension(name, format);
  switch (format) {
    case F_FITS:
      read_fits(name, Header, [&](fitsstruct* rec) { fits_read_float(name, Ima, rec); });
      break;
    case F_DISP:
      IO_DISP.read_ima_float(name, Ima);
      TypeInputData = IO_DISP.type_data;
      break;
    case F_GIF: readgif(name, Ima); break;
    case F_PGM: readpgm(name, Ima); break;
    case F_JPEG: io_read2d_jpeg(name, Ima); break;
    default: bad_format("read");
  }
}

void io_read_ima_int(const char* name, to_array<int, false>& Ima, fitsstruct* Header, Bool NoBscale) {
  const type_format format = run_format(name, "read");
  refuse_unread_extension(name, format);
  switch (format) {
    case F_FITS:
      read_fits(name, Header, [&](fitsstruct* rec) { fits_read_int(name, Ima, rec, NoBscale); });
      break;
    case F_DISP:
      IO_DISP.read_ima_int(name, Ima);
      TypeInputData = IO_DISP.type_data;
      break;
    case F_GIF:
      readgif(name, Ima);
      TypeInputData = T_BYTE;
      break;
    case F_PGM:
      readpgm(name, Ima);
      TypeInputData = T_BYTE;
      break;
    case F_JPEG:
      io_read2d_jpeg(name, Ima);
      TypeInputData = T_BYTE;
      break;
    default: bad_format("read");
  }
}

void io_write_ima_float(const char* name, to_array<float, false>& Ima, fitsstruct* Header,
                        Bool Rescale) {
  refuse_nameless(name);
  switch (run_format(name, "write")) {
    case F_FITS: {
      fitsstruct local;
      fitsstruct* rec = prepare_fits_record(Header, &local, -32, Ima.nl(), Ima.nc());
      set_filename(rec, name);
      fits_write_float(name, Ima, rec);
      break;
    }
    case F_DISP: IO_DISP.write_ima_float(name, Ima); break;
    case F_GIF: writegif(name, Ima, Rescale); break;
    case F_PGM: writepgm(name, Ima, Rescale); break;
    case F_JPEG: io_write2d_jpeg(name, Ima, Rescale, 100); break;
    default: bad_format("write");
  }
}

void io_write_ima_int(const char* name, to_array<int, false>& Ima, fitsstruct* Header) {
  refuse_nameless(name);
  switch (run_format(name, "write")) {
    case F_FITS: {
      // fits_write_int names the record itself.
      fitsstruct local;
      fits_write_int(name, Ima, prepare_fits_record(Header, &local, 32, Ima.nl(), Ima.nc()));
      break;
    }
    case F_DISP: IO_DISP.write_ima_int(name, Ima); break;
    case F_GIF: writegif(name, Ima, False); break;
    case F_PGM: writepgm(name, Ima, False); break;
    case F_JPEG: io_write2d_jpeg(name, Ima, False, 100); break;
    default: bad_format("write");
  }
}

void read_datacomplex_f(const char* name, to_array<std::complex<float>, false>& Ima) {
  const char* extension = part_extension(Format_Imag);
  to_array<float, false> real_part, imag_part;
  std::string real_name = std::string(name) + "_re" + extension;
  std::string imag_name = std::string(name) + "_im" + extension;
  io_read_ima_float(real_name.c_str(), real_part);
  io_read_ima_float(imag_name.c_str(), imag_part);
  if (imag_part.nl() != real_part.nl() || imag_part.nc() != real_part.nc())
    fatal_exitf(-1, stderr, "Error: %s is %d x %d but %s is %d x %d ...\n", imag_name.c_str(),
                imag_part.nl(), imag_part.nc(), real_name.c_str(), real_part.nl(), real_part.nc());
  Ima.alloc(real_part.nl(), real_part.nc(), name);
  std::complex<float>* out = Ima.buffer();
  const float* re = real_part.buffer();
  const float* im = imag_part.buffer();
  for (int k = 0; k < Ima.n_elem(); k++) out[k] = std::complex<float>(re[k], im[k]);
}

void io_read_ima_complex_f(const char* name, to_array<std::complex<float>, false>& Ima) {
  switch (run_format(name, "read")) {
    case F_DISP:
      IO_DISP.read_ima_complex_f(name, Ima);
      TypeInputData = IO_DISP.type_data;
      break;
    case F_FITS:
    case F_GIF:
    case F_PGM:
    case F_JPEG:
    default:
      read_datacomplex_f(name, Ima);
      TypeInputData = T_FLOAT;
      break;
  }
}

void io_write_ima_complex_f(const char* name, to_array<std::complex<float>, false>& Ima) {
  refuse_nameless(name);
  switch (run_format(name, "write")) {
    case F_DISP: IO_DISP.write_ima_complex_f(name, Ima); break;
    case F_FITS:
    case F_GIF:
    case F_PGM:
    case F_JPEG:
    default: {
      const char* extension = part_extension(Format_Imag);
      to_array<float, false> part(Ima.nl(), Ima.nc(), "buff");
      const std::complex<float>* in = Ima.buffer();
      float* out = part.buffer();
      for (int k = 0; k < Ima.n_elem(); k++) out[k] = in[k].real();
      // The part names hold their extension, so they are the files' names.
      // A real part alone is no result: both take their places together.
      io_hold_outputs();
      io_write_ima_float((std::string(name) + "_re" + extension).c_str(), part, nullptr, False);
      for (int k = 0; k < Ima.n_elem(); k++) out[k] = in[k].imag();
      io_write_ima_float((std::string(name) + "_im" + extension).c_str(), part, nullptr, False);
      io_commit_outputs();
      break;
    }
  }
}
