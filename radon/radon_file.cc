// The ".rad" file: a Radon image as a FITS primary image of 32-bit floats
// with six integer keywords from which read rebuilds the Radon object. The
// reader trusts nothing: the keywords must agree with the array and with the
// sizes of the method they name before any memory is claimed for them.
#include <string>

#include "array/fatal.h"
#include "io/fits_glue.h"
#include "radon/float_image_file.h"
#include "radon/radon.h"

namespace {

// The name with ".rad" appended unless it already ends with it (case
// sensitive).
std::string mr_io_name(const char* Name) { return name_with_suffix(Name, ".rad"); }

void check(int status) { check_fits(status); }

[[noreturn]] void bad_file(const std::string& what, const std::string& file) {
  bad_coefficient_file("Radon", what, file);
}

// Radon image size that alloc gives for the keywords, or false when the
// method does not take the keywords' sizes as they stand.
bool method_sizes(long method, long nl, long nc, long nlr, long ncr) {
  switch (method) {
    case RADON_PROJ_BACK:
    case RADON_PROJ_FFT:
      // Any number of projections and samples; the image itself may not
      // claim much more memory than the Radon image justifies.
      return nl * nc <= 16 * nlr * ncr;
    case RADON_FFT: return nlr == nl + nc && ncr == nc;
    case RADON_FINITE: return nl == nc && nlr == nl + 1 && ncr == nc;
    case RADON_SLANT_STACK: return nl == nc && nlr == 2 * nl && ncr == 2 * nl;
    case RADON_FFT_SLANT_STACK:
      return nl == nc && nlr == (nl % 2 == 0 ? 2 * nl + 2 : 2 * nl) && ncr == 2 * nl + 1;
    default: return false;
  }
}

}  // namespace

void Radon::write_keywords(fitsfile* File, int& status) {
  const char* text = StringRadon(RadonMethod);
  ffpkyj(File, "Nl", Nl, "Nl", &status);
  ffpkyj(File, "Nc", Nc, "Nc", &status);
  ffpkyj(File, "Nlr", Nlr, "Number of project", &status);
  ffpkyj(File, "Ncr", Ncr, "resolution", &status);
  ffpkyj(File, "Type_Tra", static_cast<long>(RadonMethod), text != nullptr ? text : "", &status);
  ffpkyj(File, "FormatIn", static_cast<long>(FormatIn), "Format", &status);
}

void Radon::mr_io_fill_header(fitsfile* File) {
  int status = 0;
  write_keywords(File, status);
  check(status);
}

void Radon::write(const char* Name, to_array<float, false>& Rad) {
  const std::string file = mr_io_name(Name);
  if (Rad.naxis() != 2 || Rad.nl() != Nlr || Rad.nc() != Ncr)
    fatal_exitf(-1, stdout, "Error: a Radon image of %d x %d does not match the %d x %d of the object (%s)\n",
                Rad.nl(), Rad.nc(), Nlr, Ncr, file.c_str());
  write_float_image_file(file, Rad, [this](fitsfile* f, int& status) { write_keywords(f, status); });
}

void Radon::read(const char* Name, to_array<float, false>& Rad) {
  const std::string file = mr_io_name(Name);
  long naxes[2];
  fitsfile* fptr = open_float_image_file(file, "Radon", naxes);
  auto key = [&](const char* name) { return read_int_keyword(fptr, name, file); };
  const long nl = key("Nl"), nc = key("Nc"), nlr = key("Nlr"), ncr = key("Ncr");
  const long method = key("Type_Tra"), format = key("FormatIn");
  if (method < 0 || method >= NBR_RADON) bad_file("Type_Tra = " + std::to_string(method), file);
  if (format < F_UNKNOWN || format > F_JPEG) bad_file("FormatIn = " + std::to_string(format), file);
  if (nlr != naxes[1] || ncr != naxes[0])
    bad_file("Nlr x Ncr = " + std::to_string(nlr) + " x " + std::to_string(ncr) + " but the array is " +
                 std::to_string(naxes[1]) + " x " + std::to_string(naxes[0]),
             file);
  if (nl < 1 || nc < 1 || nl > 2147483647L / nc || !method_sizes(method, nl, nc, nlr, ncr))
    bad_file("Nl = " + std::to_string(nl) + ", Nc = " + std::to_string(nc) + " do not fit a " +
                 std::to_string(nlr) + " x " + std::to_string(ncr) + " Radon image of method " +
                 std::to_string(method),
             file);
  FormatIn = static_cast<type_format>(format);
  read_float_image_data(fptr, naxes, Rad);
  alloc(static_cast<int>(nl), static_cast<int>(nc), static_cast<type_radon>(method), static_cast<int>(nlr),
        static_cast<int>(ncr));
}
