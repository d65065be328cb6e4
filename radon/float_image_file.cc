// FITS float images of the Radon and ridgelet coefficient files.
#include "radon/float_image_file.h"

#include <sys/stat.h>

#include <cstdio>

#include "array/fatal.h"
#include "io/fits_glue.h"

std::string name_with_suffix(const char* Name, const char* Suffix) {
  std::string name = Name != nullptr ? Name : "";
  const std::string suffix = Suffix;
  const bool has_suffix = name.size() >= suffix.size() &&
                          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  return has_suffix ? name : name + suffix;
}

void check_fits(int status) {
  if (status != 0) FitsPrintError(status);
}

void bad_coefficient_file(const char* kind, const std::string& what, const std::string& file) {
  fatal_exitf(-1, stdout, "Error: bad %s file header: %s (%s)\n", kind, what.c_str(),
              file.c_str());
}

void write_float_image_file(const std::string& file, to_array<float, false>& Ima,
                            const std::function<void(fitsfile*, int&)>& keywords) {
  if (std::FILE* existing = std::fopen(file.c_str(), "rb")) {
    std::fclose(existing);
    std::remove(file.c_str());
  }
  fitsfile* fptr = nullptr;
  int status = 0;
  check_fits(ffinit(&fptr, file.c_str(), &status));
  // A failed write leaves no partial file behind.
  auto written = [&fptr](int result) {
    if (result == 0) return;
    int ignored = 0;
    ffdelt(fptr, &ignored);
    FitsPrintError(result);
  };
  long naxes[2] = {Ima.nc(), Ima.nl()};
  written(ffphpr(fptr, 1, -32, 2, naxes, 0, 1, 0, &status));
  int key_status = 0;
  keywords(fptr, key_status);
  written(key_status);
  written(ffppre(fptr, 1, 1, static_cast<LONGLONG>(Ima.nl()) * Ima.nc(), Ima.buffer(), &status));
  written(ffclos(fptr, &status));
}

fitsfile* open_float_image_file(const std::string& file, const char* kind, long naxes[2]) {
  fitsfile* fptr = nullptr;
  int status = 0, hdutype = 0;
  check_fits(ffopen(&fptr, file.c_str(), READONLY, &status));
  check_fits(ffmahd(fptr, 1, &hdutype, &status));
  int simple = 0, bitpix = 0, naxis = 0, extend = 0;
  long axes[3] = {0, 0, 0}, pcount = 0, gcount = 0;
  check_fits(ffghpr(fptr, 3, &simple, &bitpix, &naxis, axes, &pcount, &gcount, &extend, &status));
  if (naxis != 2) bad_coefficient_file(kind, "NAXIS = " + std::to_string(naxis) + ", 2 expected", file);
  if (axes[0] < 1 || axes[1] < 1 || axes[0] > 2147483647L / axes[1])
    bad_coefficient_file(kind, "array of " + std::to_string(axes[1]) + " x " + std::to_string(axes[0]),
                         file);
  // The data the header announces must be in the file before memory is
  // claimed for it.
  LONGLONG head_start = 0, data_start = 0, data_end = 0;
  check_fits(ffghadll(fptr, &head_start, &data_start, &data_end, &status));
  struct stat info;
  if (stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<LONGLONG>(info.st_size) < data_end)
    bad_coefficient_file(kind, "the file is shorter than its header announces", file);
  naxes[0] = axes[0];
  naxes[1] = axes[1];
  return fptr;
}

void read_float_image_data(fitsfile* fptr, const long naxes[2], to_array<float, false>& Ima) {
  int status = 0, anynul = 0;
  Ima.alloc(static_cast<int>(naxes[1]), static_cast<int>(naxes[0]), "read io");
  check_fits(ffgpve(fptr, 1, 1, static_cast<LONGLONG>(naxes[0]) * naxes[1], 0.f, Ima.buffer(),
                    &anynul, &status));
  check_fits(ffclos(fptr, &status));
}
