// FITS glue over CFITSIO: open, check each call, stop on failure, close.
#include "io/fits_glue.h"

#include <fitsio.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "array/fatal.h"
#include "io/fits_io.h"
#include "io/image_file.h"
#include "io/image_names.h"
#include "io/image_size.h"
#include "io/output_file.h"
#include "io/pixel_conversion.h"
#include "io/tile_compression_check.h"

namespace {

// An exit status for a library status: one the shell would see as 0 must
// not end a failed run.
int exit_status(int status) { return (status & 0xFF) != 0 ? status : -1; }

std::string fits_file(const char* name) {
  char* file = fitsname(name);
  std::string copy = file;
  std::free(file);
  return copy;
}

// Axis lengths from the library: each at least 1, their product within an
// array's element count.
void check_axes(const long* naxes, int naxis, const char* name) {
  long long n = 1;
  for (int k = 0; k < naxis; k++) {
    if (naxes[k] < 1) fatal_exitf(-1, stdout, "Error: %s has an axis of length %ld ...\n", name, naxes[k]);
    // Tested before the product, which a length near 2^63 would overflow.
    if (naxes[k] > INT_MAX / n) fatal_exitf(-1, stdout, "Error: the array of %s is too large ...\n", name);
    n *= naxes[k];
  }
}

template <class T>
void alloc_axes(to_array<T, true>& Dat, int naxis, const long* naxes, const char* name) {
  // Lines and planes together count as the lines of one image.
  io_claim_image_memory(name, naxis >= 2 ? static_cast<long long>(naxes[1]) * (naxis >= 3 ? naxes[2] : 1) : 1,
                        naxes[0], static_cast<long long>(sizeof(T)));
  switch (naxis) {
    case 1: Dat.alloc(static_cast<int>(naxes[0])); break;
    case 2: Dat.alloc(static_cast<int>(naxes[0]), static_cast<int>(naxes[1])); break;
    case 3: Dat.alloc(static_cast<int>(naxes[0]), static_cast<int>(naxes[1]), static_cast<int>(naxes[2])); break;
    default: fatal_exitf(-1, stdout, "Error: dimension =  %d \n", naxis);
  }
}

void describe_array(fitsstruct* rec, const to_array<float, true>& Dat) {
  initfield(rec);
  rec->bitpix = -32;
  rec->width = Dat.nx();
  rec->height = Dat.ny();
  rec->naxis = Dat.naxis();
  rec->npix = Dat.n_elem();
  for (int k = 0; k < Dat.naxis() && k < 3; k++) rec->naxisn[k] = Dat.axis(k + 1);
}

// Block transfers: one library call over the rectangle of Dat's size.
template <class Array>
void block_transfer(const char* name, Array& Dat, int Indi, int Indj, Bool NoBscale, bool write, bool fits_name,
                    int datatype) {
  if (Dat.n_elem() < 1) fatal_exitf(-1, stderr, "Error: no block allocated for %s ...\n", name);
  std::string file = fits_name ? fits_file(name) : std::string(name);
  fitsfile* fptr = nullptr;
  int status = 0;
  if (fits_open_input(&fptr, file, write ? READWRITE : READONLY, &status)) {
    std::fprintf(stderr, "Error: cannot open file %s\n", fits_open_failure(name, file, status, fptr).c_str());
    FitsPrintError(status);
  }
  int hdutype = 0;
  if (!write && ffmahd(fptr, 1, &hdutype, &status)) FitsPrintError(status);
  if (NoBscale && ffpscl(fptr, 1., 0., &status)) FitsPrintError(status);
  int simple = 0, bitpix = 0, naxis = 0, extend = 0;
  long naxes[3] = {1, 1, 1}, pcount = 0, gcount = 0;
  if (ffghpr(fptr, 3, &simple, &bitpix, &naxis, naxes, &pcount, &gcount, &extend, &status))
    FitsPrintError(status);
  // The library's report of a short read would not name the file.
  if (!write) {
    fits_check_data_held(fptr, name);
    fits_check_tiles(fptr);
  }
  const int nx = Dat.nx(), ny = Dat.naxis() >= 2 ? Dat.ny() : 1;
  const int nz = Dat.naxis() >= 3 ? Dat.nz() : 1;
  long first[3] = {Indj + 1L, Indi + 1L, 1};
  long last[3] = {Indj + static_cast<long>(nx), Indi + static_cast<long>(ny), nz};
  long step[3] = {1, 1, 1};
  if (naxis < 1 || naxis > 3 || Indi < 0 || Indj < 0 || last[0] > naxes[0] ||
      (naxis >= 2 && last[1] > naxes[1]) || (naxis < 2 && last[1] > 1) || (naxis == 3 && last[2] > naxes[2]) ||
      (naxis < 3 && last[2] > 1))
    fatal_exitf(-1, stderr, "Error: the block of %d x %d at line %d, column %d lies outside the image %s\n", ny,
                nx, Indi, Indj, file.c_str());
  int anynul = 0;
  errno = 0;  // what a failed write leaves here is its reason
  if (write) {
    if (datatype == TFLOAT)
      ffpsse(fptr, 1, naxis, naxes, first, last, reinterpret_cast<float*>(Dat.buffer()), &status);
    else
      ffpssk(fptr, 1, naxis, naxes, first, last, reinterpret_cast<int*>(Dat.buffer()), &status);
  } else if (datatype == TFLOAT) {
    ffgsve(fptr, 1, naxis, naxes, first, last, step, 0.f, reinterpret_cast<float*>(Dat.buffer()), &anynul,
           &status);
  } else {
    ffgsvk(fptr, 1, naxis, naxes, first, last, step, 0, reinterpret_cast<int*>(Dat.buffer()), &anynul, &status);
  }
  if (status == 0) fits_close_input(fptr, &status);
  if (status != 0 && write && errno != 0)
    std::fprintf(stderr, "Error: cannot write in file %s\n", io_open_failure(nullptr, file, errno).c_str());
  if (status) FitsPrintError(status);
}

}  // namespace

void FitsPrintError(int status) {
  if (status != 0) {
    std::fprintf(stderr, "\n*** Error occurred during program execution ***\n");
    char text[FLEN_STATUS];
    ffgerr(status, text);
    std::fprintf(stderr, "\nstatus = %d: %s\n", status, text);
    char message[FLEN_ERRMSG];
    if (ffgmsg(message)) {
      std::fprintf(stderr, "\nError message stack:\n");
      std::fprintf(stderr, " %s\n", message);
      while (ffgmsg(message)) std::fprintf(stderr, " %s\n", message);
    }
  }
  fatal_exit("", exit_status(status), stderr);
}

void fits_write_fltarr(const char* name, to_array<float, true>& Dat, fitsstruct* Header) {
  fitsstruct local;
  if (Header == nullptr) {
    describe_array(&local, Dat);
    Header = &local;
  }
  if (Header->npix != Dat.n_elem())
    fatal_exitf(-1, stderr, "Error: the header of %s describes %d values, the array holds %d ...\n", name,
                Header->npix, Dat.n_elem());
  std::free(Header->filename);
  Header->filename = fitsname(name);
  Header->stream = fits_file_des_out(name);
  writeimagehead(Header);
  writedataf(Header, Dat.buffer());
  fits_close_out(Header->stream, name);
  Header->stream = nullptr;
}

void fits_write_fltarr(const char* name, to_array<float, true>& Dat) { fits_write_fltarr(name, Dat, nullptr); }

void fits_read_fltarr(const char* name, to_array<float, true>& Dat, fitsstruct* Header) {
  std::string file = fits_input_name(name);
  fitsfile* fptr = nullptr;
  int status = 0;
  if (fits_open_input(&fptr, file, READONLY, &status))
    fatal_exitf(exit_status(status), stdout, "Error: cannot open file %s\n",
                fits_open_failure(name, file, status, fptr).c_str());
  int bitpix = 0, naxis = 0;
  if (ffgidt(fptr, &bitpix, &status)) fatal_exitf(exit_status(status), stdout, "Error: in fits_get_img_type ...\n");
  if (ffgidm(fptr, &naxis, &status)) fatal_exitf(exit_status(status), stdout, "Error: pb NAXIS ...\n");
  if (naxis == 0) {
    // An empty primary array: the image is in the first extension.
    int hdutype = 0;
    fits_check_compressed_hdus_through(fptr, 1);
    if (ffmahd(fptr, 2, &hdutype, &status))
      fatal_exitf(exit_status(status), stdout, "Error: no image extension ...\n");
    if (hdutype != IMAGE_HDU) fatal_exitf(-1, stdout, "Error: no image in this HDU (%s)\n", name);
    if (ffgidm(fptr, &naxis, &status)) fatal_exitf(exit_status(status), stdout, "Error: pb NAXIS...\n");
  }
  long naxes[3] = {0, 0, 0};
  if (ffgisz(fptr, 3, naxes, &status)) fatal_exitf(exit_status(status), stdout, "Error: pb NAXIS  ... \n");
  if (naxis < 1 || naxis > 3) fatal_exitf(-1, stdout, "Error: dimension =  %d \n", naxis);
  check_axes(naxes, naxis, name);
  fits_check_data_held(fptr, name);
  fits_check_tiles(fptr);
  alloc_axes(Dat, naxis, naxes, name);
  ffcmsg();  // the reason given is the read's own
  if (fits_read_pixels(fptr, name, Dat.n_elem(), false, Dat.buffer(), &status)) fits_refuse_read(fptr, name, status);
  fitsstruct local;
  fits_read_header_cards(fptr, file.c_str(), Header != nullptr ? Header : &local);
  if (fits_close_input(fptr, &status))
    fatal_exitf(exit_status(status), stdout, "Error: cannot close %s\n", file.c_str());
}

void fits_read_fltarr(const char* name, to_array<float, true>& Dat) { fits_read_fltarr(name, Dat, nullptr); }

void fits_read_intarr(const char* name, to_array<int, true>& Dat) {
  to_array<float, true> values;
  fits_read_fltarr(name, values);
  Dat.alloc(values.nx(), values.naxis() >= 2 ? values.ny() : 0, values.naxis() >= 3 ? values.nz() : 0);
  // Saturated: a float beyond int's range must not wrap.
  for (int k = 0; k < values.n_elem(); k++) Dat(k) = round_saturate<int>(values(k));
}

void fits_write_intarr(const char* name, to_array<int, true>& Dat) {
  to_array<float, true> values(Dat.nx(), Dat.naxis() >= 2 ? Dat.ny() : 0, Dat.naxis() >= 3 ? Dat.nz() : 0);
  for (int k = 0; k < Dat.n_elem(); k++) values(k) = static_cast<float>(Dat(k));
  fits_write_fltarr(name, values);
}

void fits_read_dblarr(const char* name, to_array<double, true>& Dat) {
  std::string file = fits_input_name(name);
  fitsfile* fptr = nullptr;
  int status = 0;
  if (fits_open_input(&fptr, file, READONLY, &status))
    fatal_exitf(-1, stdout, "Error: cannot open file %s status=%d \n",
                fits_open_failure(name, file, status, fptr).c_str(), status);
  long naxes[3] = {0, 0, 0};
  int nfound = 0;
  // The image's size, as the library gives it: a tile-compressed image's
  // NAXISn cards describe its table.
  if (ffgidm(fptr, &nfound, &status) || ffgisz(fptr, 3, naxes, &status))
    fatal_exitf(-1, stdout, " Error: cannot read NAXIS keyword (%s)\n", name);
  // No axis key, or a gap in them, leaves nothing to allocate: refused.
  if (nfound < 1 || nfound > 3) fatal_exitf(-1, stdout, " erreur nfound %d \n", nfound);
  check_axes(naxes, nfound, name);
  fits_check_data_held(fptr, name);
  fits_check_tiles(fptr);
  alloc_axes(Dat, nfound, naxes, name);
  ffcmsg();  // the reason given is the read's own
  if (fits_read_pixels(fptr, name, Dat.n_elem(), false, Dat.buffer(), &status)) fits_refuse_read(fptr, name, status);
  if (fits_close_input(fptr, &status)) fatal_exitf(-1, stdout, "\n erreur fermeture %s status = %d\n", name, status);
}

void fits_write_dblarr(const char* name, to_array<double, true>& Dat) {
  const std::string file = fits_file(name);
  // Written in a folder of its own beside the file it replaces, which stays
  // until it is complete. The library creates it by a name it takes as it
  // stands, whatever brackets or parentheses the user's name holds.
  const std::string written = io_begin_named_output(file);
  if (written.empty())
    fatal_exitf(-1, stdout, "Error: cannot open file %s %d \n", io_open_failure(name, file, errno).c_str(), 0);
  fitsfile* fptr = nullptr;
  int status = 0;
  if (ffdkinit(&fptr, written.c_str(), &status)) {
    char text[FLEN_STATUS] = "";
    ffgerr(status, text);
    io_end_named_output(written, false);
    fatal_exitf(-1, stdout, "Error: cannot open file %s %d \n", io_open_failure(name, file, 0, text).c_str(), status);
  }
  // A failed write leaves no file behind, and says why: the system's reason
  // when a write failed (errno is cleared before each call), else the
  // library's.
  auto fail = [&](const char* format) {
    const int reason = errno;
    char text[FLEN_STATUS] = "";
    ffgerr(status, text);
    int close_status = 0;
    if (fptr != nullptr) ffclos(fptr, &close_status);
    io_end_named_output(written, false);
    fatal_exitf(-1, stdout, format, io_open_failure(nullptr, file, reason, text).c_str(), status);
  };
  long naxes[3] = {Dat.nx(), Dat.ny(), Dat.nz()};
  errno = 0;
  if (ffphpr(fptr, TRUE, -64, Dat.naxis(), naxes, 0, 1, FALSE, &status)) fail("Error: cannot write header %s %d\n");
  if (ffppr(fptr, TDOUBLE, 1, Dat.n_elem(), Dat.buffer(), &status)) fail("Error: cannot write %s %d \n");
  if (ffclos(fptr, &status)) {
    fptr = nullptr;  // closed, even when the close failed
    fail("Error: cannot close %s %d \n");
  }
  if (!io_end_named_output(written, true)) {
    fptr = nullptr;
    fail("Error: cannot close %s %d \n");
  }
}

void fits_read_block(const char* name, to_array<float, true>& Dat, int Indi, int Indj, Bool NoBscale) {
  block_transfer(name, Dat, Indi, Indj, NoBscale, false, true, TFLOAT);
}
void fits_read_block(const char* name, to_array<int, true>& Dat, int Indi, int Indj, Bool NoBscale) {
  block_transfer(name, Dat, Indi, Indj, NoBscale, false, false, TINT);
}
void fits_read_block(const char* name, to_array<float, false>& Dat, int Indi, int Indj, Bool NoBscale) {
  block_transfer(name, Dat, Indi, Indj, NoBscale, false, true, TFLOAT);
}
void fits_read_block(const char* name, to_array<int, false>& Dat, int Indi, int Indj, Bool NoBscale) {
  block_transfer(name, Dat, Indi, Indj, NoBscale, false, false, TINT);
}
void fits_write_block(const char* name, to_array<float, true>& Dat, int Indi, int Indj, Bool NoBscale) {
  block_transfer(name, Dat, Indi, Indj, NoBscale, true, true, TFLOAT);
}
void fits_write_block(const char* name, to_array<int, true>& Dat, int Indi, int Indj, Bool NoBscale) {
  block_transfer(name, Dat, Indi, Indj, NoBscale, true, true, TINT);
}
void fits_write_block(const char* name, to_array<float, false>& Dat, int Indi, int Indj, Bool NoBscale) {
  block_transfer(name, Dat, Indi, Indj, NoBscale, true, true, TFLOAT);
}
void fits_write_block(const char* name, to_array<int, false>& Dat, int Indi, int Indj, Bool NoBscale) {
  block_transfer(name, Dat, Indi, Indj, NoBscale, true, true, TINT);
}

void init_fits_struct(fitsstruct* Header, int Nl, int Nc) {
  initfield(Header);
  Header->naxis = 2;
  Header->bitpix = -32;
  Header->width = Header->naxisn[0] = Nc;
  Header->height = Header->naxisn[1] = Nl;
  Header->npix = Nl * Nc;
}

int cfitstio_read_celestial_coord(const char* name, fitsstruct* Header) {
  if (io_detect_format(name) != F_FITS)
    fatal_exit("Error: input file is not a fits format file ... \n", -1, stderr);
  fitsfile* fptr = nullptr;
  int status = 0;
  if (fits_open_input(&fptr, name, READONLY, &status))
    fatal_exitf(-1, stderr, "Error: CFITSIO package cannot open file %s\n  status = %d\n",
                fits_open_failure(name, name, status, fptr).c_str(), status);
  double xrval = 0., yrval = 0., xrpix = 0., yrpix = 0., xinc = 0., yinc = 0., rot = 0.;
  char type[FLEN_VALUE] = "";
  int coord_status = 0;
  if (ffgics(fptr, &xrval, &yrval, &xrpix, &yrpix, &xinc, &yinc, &rot, type, &coord_status))
    std::fprintf(stderr, "Warning: CFITSIO package cannot read celestial coordinates ...\n   status = %d\n",
                 coord_status);
  Header->crpixx = xrpix;
  Header->crpixy = yrpix;
  Header->crvalx = xrval;
  Header->crvaly = yrval;
  Header->cdeltx = xinc;
  Header->cdelty = yinc;
  Header->crotay = rot;
  std::snprintf(Header->coordtype, sizeof Header->coordtype, "%s", type);
  std::snprintf(Header->ctypex, sizeof Header->ctypex, "%s", type);
  std::snprintf(Header->ctypey, sizeof Header->ctypey, "%s", type);
  if (fits_close_input(fptr, &status)) fatal_exitf(-1, stderr, "Error closing file %s\n", name);
  return coord_status;
}

int adxy(fitsstruct* Header, double ra, double dec, double* x, double* y) {
  int status = 0;
  ffxypx(ra, dec, Header->crvalx, Header->crvaly, Header->crpixx, Header->crpixy, Header->cdeltx, Header->cdelty,
         Header->crotay, Header->coordtype, x, y, &status);
  *x -= 1.;
  *y -= 1.;
  return status;
}

int xyad(fitsstruct* Header, double x, double y, double* ra, double* dec) {
  int status = 0;
  ffwldp(x + 1., y + 1., Header->crvalx, Header->crvaly, Header->crpixx, Header->crpixy, Header->cdeltx,
         Header->cdelty, Header->crotay, Header->coordtype, ra, dec, &status);
  return status;
}

void radec(double ra, double dec, int& h, int& m, double& s, int& d, int& dm, double& ds) {
  double a = std::fmod(ra, 360.);
  if (a < 0.) a += 360.;
  h = static_cast<int>(a / 15.);
  double minutes = std::fabs(4. * a - 60. * h);
  m = static_cast<int>(minutes);
  s = (minutes - m) * 60.;
  d = static_cast<int>(dec);
  double arcmin = std::fabs(dec - d) * 60.;
  dm = static_cast<int>(arcmin);
  ds = (arcmin - dm) * 60.;
  if (d == 0 && dec < 0.) {
    if (dm != 0) dm = -dm;
    else ds = -ds;
  }
}
