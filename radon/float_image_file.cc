// FITS float arrays of the Radon, ridgelet and curvelet coefficient files.
#include "radon/float_image_file.h"

#include <cstdio>

#include "array/fatal.h"
#include "io/fits_glue.h"
#include "io/fits_io.h"
#include "io/image_file.h"
#include "io/output_file.h"
#include "io/tile_compression_check.h"

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

long read_int_keyword(fitsfile* fptr, const char* key, const std::string& file) {
  long value = 0;
  int status = 0;
  if (ffgkyj(fptr, key, &value, nullptr, &status) != 0) {
    char text[FLEN_STATUS];
    ffgerr(status, text);
    std::fprintf(stderr, "Error: keyword \"%s\": %s (%s)\n", key, text, file.c_str());
    check_fits(status);
  }
  return value;
}

void bad_coefficient_file(const char* kind, const std::string& what, const std::string& file) {
  fatal_exitf(-1, stdout, "Error: bad %s file header: %s (%s)\n", kind, what.c_str(),
              file.c_str());
}

void write_float_image_file(const std::string& file, to_array<float, false>& Ima,
                            const std::function<void(fitsfile*, int&)>& keywords) {
  const long naxes[2] = {Ima.nc(), Ima.nl()};
  write_float_array_file(file, Ima.buffer(), 2, naxes, keywords);
}

void write_float_array_file(const std::string& file, const float* data, int naxis,
                            const long* naxes,
                            const std::function<void(fitsfile*, int&)>& keywords) {
  // Written in a folder of its own beside the file it replaces, which stays
  // until it is complete. The library creates it by a name it takes as it
  // stands, whatever brackets or parentheses the user's name holds.
  const std::string staged = io_begin_named_output(file);
  if (staged.empty())
    fatal_exitf(-1, stdout, "Error: cannot create file %s\n", io_open_failure(nullptr, file, errno).c_str());
  fitsfile* fptr = nullptr;
  int status = 0;
  // A failed write leaves no partial file behind.
  auto written = [&](int result) {
    if (result == 0) return;
    int ignored = 0;
    if (fptr != nullptr) ffclos(fptr, &ignored);
    io_end_named_output(staged, false);
    FitsPrintError(result);
  };
  written(ffdkinit(&fptr, staged.c_str(), &status));
  long axes[3] = {0, 0, 0};
  LONGLONG count = 1;
  for (int k = 0; k < naxis; k++) {
    axes[k] = naxes[k];
    count *= naxes[k];
  }
  written(ffphpr(fptr, 1, -32, naxis, axes, 0, 1, 0, &status));
  int key_status = 0;
  keywords(fptr, key_status);
  written(key_status);
  written(ffppre(fptr, 1, 1, count, const_cast<float*>(data), &status));
  const int closed = ffclos(fptr, &status);
  fptr = nullptr;
  written(closed);
  if (!io_end_named_output(staged, true))
    fatal_exitf(-1, stdout, "Error: cannot write file %s\n", io_open_failure(nullptr, file, errno).c_str());
}

fitsfile* open_float_image_file(const std::string& file, const char* kind, long naxes[2]) {
  return open_float_array_file(file, kind, 2, naxes);
}

fitsfile* open_float_array_file(const std::string& file, const char* kind, int naxis,
                                long* naxes) {
  fitsfile* fptr = nullptr;
  int status = 0, hdutype = 0;
  check_fits(fits_open_input(&fptr, file, READONLY, &status));
  check_fits(ffmahd(fptr, 1, &hdutype, &status));
  int simple = 0, bitpix = 0, file_naxis = 0, extend = 0;
  long axes[3] = {0, 0, 0}, pcount = 0, gcount = 0;
  check_fits(
      ffghpr(fptr, 3, &simple, &bitpix, &file_naxis, axes, &pcount, &gcount, &extend, &status));
  if (file_naxis != naxis)
    bad_coefficient_file(kind,
                         "NAXIS = " + std::to_string(file_naxis) + ", " + std::to_string(naxis) +
                             " expected",
                         file);
  // The element count must fit an int, the index type of the arrays.
  long count = 1;
  std::string sizes;
  for (int k = naxis - 1; k >= 0; k--)
    sizes += (k < naxis - 1 ? " x " : "") + std::to_string(axes[k]);
  for (int k = 0; k < naxis; k++) {
    if (axes[k] < 1 || axes[k] > 2147483647L / count)
      bad_coefficient_file(kind, "array of " + sizes, file);
    count *= axes[k];
  }
  // The data the header announces must be in the file before memory is
  // claimed for it. The library's size is that of the inflated file when
  // the file is compressed.
  LONGLONG head_start = 0, data_start = 0, data_end = 0;
  check_fits(ffghadll(fptr, &head_start, &data_start, &data_end, &status));
  if (fits_file_bytes(fptr) < data_end)
    bad_coefficient_file(kind, "the file is shorter than its header announces", file);
  for (int k = 0; k < naxis; k++) naxes[k] = axes[k];
  return fptr;
}

void read_float_image_data(fitsfile* fptr, const long naxes[2], to_array<float, false>& Ima) {
  Ima.alloc(static_cast<int>(naxes[1]), static_cast<int>(naxes[0]), "read io");
  read_float_array_data(fptr, static_cast<long long>(naxes[0]) * naxes[1], Ima.buffer());
}

void read_float_array_data(fitsfile* fptr, long long count, float* data) {
  int status = 0, anynul = 0;
  fits_check_tiles(fptr);
  check_fits(ffgpve(fptr, 1, 1, count, 0.f, data, &anynul, &status));
  check_fits(fits_close_input(fptr, &status));
}
