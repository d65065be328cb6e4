// The ".fct" coefficient file of the fast curvelet transform: one FITS vector
// of floats (scale count, direction table, then every wedge with its size,
// real parts and, for complex curvelets, imaginary parts) with the
// allocation parameters as keywords; and a diagnostic dump of every band.
// The reader trusts nothing it reads: every size is checked against the
// allocation it implies and against the data that remain.
#include <fitsio.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "array/fatal.h"
#include "curvelet/fcur.h"
#include "io/fits_glue.h"
#include "io/fits_io.h"
#include "io/io_dispatch.h"
#include "io/tile_compression_check.h"
#include "radon/float_image_file.h"

namespace {

const char FctSuffix[] = ".fct";

void check(int status) {
  if (status != 0) FitsPrintError(status);
}

[[noreturn]] void bad_file(const std::string& file, const std::string& why) {
  fatal_exitf(-1, stdout, "Error: bad fast curvelet file: %s (%s)\n", why.c_str(), file.c_str());
}

// A stored count must be a whole number within [lo, hi].
int stored_count(const std::string& file, float value, long lo, long hi, const char* what) {
  if (!(value >= lo && value <= hi) || value != std::floor(value))
    bad_file(file, std::string("invalid ") + what);
  return static_cast<int>(value);
}

}  // namespace

std::string fcur_io_name(const char* File) {
  std::string name(File);
  const size_t n = name.size(), k = sizeof(FctSuffix) - 1;
  if (n > 3 && n >= k && name.compare(n - k, k, FctSuffix) == 0) return name;
  return name + FctSuffix;
}

void FCUR::mr_io_fill_header(fitsfile* Fptr) {
  int status = 0;
  long value = NlIma;
  ffpkyj(Fptr, "Nl", value, "NlIma", &status);
  value = NcIma;
  ffpkyj(Fptr, "Nc", value, "NcIma", &status);
  value = TabNbrDir(0);
  ffpkyj(Fptr, "NbrDir", value, "NbrDir", &status);
  ffpkyj(Fptr, "Extend", extend() == True ? 1L : 0L, "Extend WT", &status);
  ffpkyj(Fptr, "Isotrop", isotrop() == True ? 1L : 0L, "Isotropic WT", &status);
  value = nbr_scale();
  ffpkyj(Fptr, "NbrScale", value, "Number of scales", &status);
  ffpkyj(Fptr, "Real", Real == True ? 1L : 0L, "Real Curv", &status);
  check(status);
}

void FCUR::write(const char* Name) {
  const std::string file = fcur_io_name(Name);
  const int scales = nbr_scale();
  std::vector<float> data;
  data.push_back(static_cast<float>(scales));
  for (int s = 0; s < scales; s++) data.push_back(static_cast<float>(TabNbrDir(s)));
  for (int s = 0; s < scales; s++)
    for (int k = 0; k < TabNbrDir(s); k++) {
      const Plane& wedge = TabCurvelet[s][k];
      data.push_back(static_cast<float>(wedge.nl()));
      data.push_back(static_cast<float>(wedge.nc()));
      for (int e = 0; e < wedge.n_elem(); e++) data.push_back(wedge(e).real());
      if (!Real)
        for (int e = 0; e < wedge.n_elem(); e++) data.push_back(wedge(e).imag());
    }
  const long naxes[1] = {static_cast<long>(data.size())};
  write_float_array_file(file, data.data(), 1, naxes, [this](fitsfile* f, int&) { mr_io_fill_header(f); });
}

void FCUR::read(const char* Name) {
  const std::string file = fcur_io_name(Name);
  int status = 0;
  fitsfile* fptr = nullptr;
  fits_open_input(&fptr, file, READONLY, &status);
  check(status);
  int hdutype = 0;
  ffmahd(fptr, 1, &hdutype, &status);
  int simple, bitpix, naxis, extend_flag;
  long naxes[3] = {0, 0, 0}, pcount, gcount;
  ffghpr(fptr, 3, &simple, &bitpix, &naxis, naxes, &pcount, &gcount, &extend_flag, &status);
  check(status);
  long nl, nc, nbr_dir, nbr_scale_key, extend_key, isotrop_key, real_key;
  ffgkyj(fptr, "Nl", &nl, nullptr, &status);
  ffgkyj(fptr, "Nc", &nc, nullptr, &status);
  ffgkyj(fptr, "NbrDir", &nbr_dir, nullptr, &status);
  ffgkyj(fptr, "NbrScale", &nbr_scale_key, nullptr, &status);
  ffgkyj(fptr, "Extend", &extend_key, nullptr, &status);
  ffgkyj(fptr, "Isotrop", &isotrop_key, nullptr, &status);
  ffgkyj(fptr, "Real", &real_key, nullptr, &status);
  check(status);

  // The vector may claim no more floats than the file holds, and the
  // keywords no larger an image than the vector could describe (every
  // frequency of the image lies in at least one stored wedge).
  const long n = naxes[0];
  // The library's size is that of the inflated file when it is compressed.
  const long long file_floats = fits_file_bytes(fptr) / 4;
  if (naxis != 1 || n < 1 || n > file_floats || n > INT_MAX) bad_file(file, "vector size");
  if (nbr_scale_key < 2 || nbr_scale_key >= n) bad_file(file, "number of scales");
  if (nl < 1 || nc < 1 || static_cast<double>(nl) * static_cast<double>(nc) > static_cast<double>(n))
    bad_file(file, "image size");

  std::vector<float> data(n);
  int any_null = 0;
  fits_check_tiles(fptr);
  ffgpve(fptr, 0, 1, n, 0.f, data.data(), &any_null, &status);
  check(status);
  fits_close_input(fptr, &status);
  check(status);

  const int scales = static_cast<int>(nbr_scale_key);
  if (stored_count(file, data[0], scales, scales, "number of scales") != scales)
    bad_file(file, "number of scales");
  to_array<int, true> directions(scales - 1, "TabDir");
  for (int s = 0; s < scales - 1; s++)
    directions(s) = stored_count(file, data[1 + s], 8, n, "direction count");
  if (stored_count(file, data[scales], 1, 1, "direction count of the last scale") != 1 ||
      directions(0) != nbr_dir)
    bad_file(file, "direction table");
  // Each wedge stores at least its two sizes.
  double wedges = 1.;
  for (int s = 0; s < scales - 1; s++) wedges += directions(s);
  if (1. + scales + 2. * wedges > static_cast<double>(n)) bad_file(file, "truncated");

  alloc_with_tab(scales, static_cast<int>(nl), static_cast<int>(nc), directions,
                 extend_key != 0 ? True : False, isotrop_key != 0 ? True : False,
                 real_key != 0 ? True : False);
  long pos = 1 + scales;
  const long parts = Real ? 1 : 2;
  for (int s = 0; s < scales; s++)
    for (int k = 0; k < TabNbrDir(s); k++) {
      if (pos + 2 > n) bad_file(file, "truncated");
      const int wedge_nl = stored_count(file, data[pos], 0, n, "band size");
      const int wedge_nc = stored_count(file, data[pos + 1], 0, n, "band size");
      if (wedge_nl != TabSizeBandNl[s](k) || wedge_nc != TabSizeBandNc[s](k))
        bad_file(file, "band size does not match the allocation");
      pos += 2;
      const long count = static_cast<long>(wedge_nl) * wedge_nc;
      if (pos + parts * count > n) bad_file(file, "truncated");
      Plane& wedge = TabCurvelet[s][k];
      wedge.alloc(wedge_nl, wedge_nc);
      for (long e = 0; e < count; e++)
        wedge(e) = std::complex<float>(data[pos + e], Real ? 0.f : data[pos + count + e]);
      pos += parts * count;
    }
  if (pos != n) bad_file(file, "data beyond the last band");
}

void FCUR::cur_write(const char* Name) {
  to_array<float, false> real_part, imag_part;
  for (int s = 0; s < nbr_scale(); s++) {
    std::printf("Scale %d NbrDir = %d\n", s + 1, TabNbrDir(s));
    for (int k = 0; k < TabNbrDir(s); k++) {
      Plane& wedge = TabCurvelet[s][k];
      const std::string file = std::string(Name) + "_" + std::to_string(s + 1) + "_" +
                               std::to_string(k + 1);
      io_write_ima_complex_f(file.c_str(), wedge);
      real_part.alloc(wedge.nl(), wedge.nc());
      imag_part.alloc(wedge.nl(), wedge.nc());
      for (int e = 0; e < wedge.n_elem(); e++) {
        real_part(e) = wedge(e).real();
        imag_part(e) = wedge(e).imag();
      }
      std::printf("Band  %d: %s Nl = %d Nc = %d SigRe = %g SigIm = %g EnergRe = %g ErnergIm = %g\n",
                  k + 1, file.c_str(), wedge.nl(), wedge.nc(), real_part.sigma(),
                  imag_part.sigma(), real_part.energy(), imag_part.energy());
    }
  }
}
