// The ".rid" file: a ridgelet image as a FITS primary image of 32-bit floats
// with ten integer keywords from which read rebuilds the geometry. The
// reader checks the keywords against the array before it trusts either.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "array/fatal.h"
#include "io/fits_glue.h"
#include "radon/ridgelet.h"

namespace {

// The name with ".rid" appended unless it already ends with it.
std::string rid_file_name(const char* Name) {
  std::string name = Name != nullptr ? Name : "";
  const std::string suffix = ".rid";
  const bool has_suffix = name.size() >= suffix.size() &&
                          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  return has_suffix ? name : name + suffix;
}

void check(int status) {
  if (status != 0) FitsPrintError(status);
}

[[noreturn]] void bad_file(const std::string& what, const std::string& file) {
  fatal_exitf(-1, stdout, "Error: bad ridgelet file header: %s (%s)\n", what.c_str(),
              file.c_str());
}

// Largest image side a ridgelet file may describe: beyond it the geometry
// alone would claim more memory than any such file justifies.
constexpr long MaxRidSide = 1L << 16;

}  // namespace

void Ridgelet::mr_io_fill_header(fitsfile* File, int& Status) {
  ffpkyj(File, "Nl", Nl, "NlIma", &Status);
  ffpkyj(File, "Nc", Nc, "NcIma", &Status);
  ffpkyj(File, "BSize", BlockSize, "BlockImaSize", &Status);
  ffpkyj(File, "Nlb", NbrBi, "Number of blocks Nlb", &Status);
  ffpkyj(File, "Ncb", NbrBj, "Number of blocks Ncb", &Status);
  ffpkyj(File, "Overlap", BlockOverlap ? 1 : 0, "Block overlap", &Status);
  ffpkyj(File, "NbrScale", NbrScale1D, "Number of scales", &Status);
  ffpkyj(File, "Type_Tra", static_cast<long>(RidTrans), StringRidTransform(RidTrans), &Status);
  ffpkyj(File, "FormatIn", static_cast<long>(FormatIn), "Format", &Status);
  ffpkyj(File, "VarNorm", VarNorm ? 1 : 0, "Var Norm", &Status);
}

void Ridgelet::write(const char* Name, to_array<float, false>& Trans) {
  const std::string file = rid_file_name(Name);
  if (!Allocated || Trans.naxis() != 2 || Trans.nl() != RidNl || Trans.nc() != RidNc)
    fatal_exitf(-1, stdout,
                "Error: a ridgelet image of %d x %d does not match the %d x %d of the object (%s)\n",
                Trans.nl(), Trans.nc(), RidNl, RidNc, file.c_str());
  if (std::FILE* existing = std::fopen(file.c_str(), "rb")) {
    std::fclose(existing);
    std::remove(file.c_str());
  }
  fitsfile* fptr = nullptr;
  int status = 0;
  check(ffinit(&fptr, file.c_str(), &status));
  // A failed write leaves no partial file behind.
  auto written = [&fptr](int result) {
    if (result == 0) return;
    int ignored = 0;
    ffdelt(fptr, &ignored);
    FitsPrintError(result);
  };
  long naxes[2] = {RidNc, RidNl};
  written(ffphpr(fptr, 1, -32, 2, naxes, 0, 1, 0, &status));
  int key_status = 0;
  mr_io_fill_header(fptr, key_status);
  written(key_status);
  written(ffppre(fptr, 1, 1, static_cast<LONGLONG>(RidNl) * RidNc, Trans.buffer(), &status));
  written(ffclos(fptr, &status));
}

void Ridgelet::read(const char* Name, to_array<float, false>& Trans) {
  const std::string file = rid_file_name(Name);
  fitsfile* fptr = nullptr;
  int status = 0, hdutype = 0;
  check(ffopen(&fptr, file.c_str(), READONLY, &status));
  check(ffmahd(fptr, 1, &hdutype, &status));
  int simple = 0, bitpix = 0, naxis = 0, extend = 0;
  long naxes[3] = {0, 0, 0}, pcount = 0, gcount = 0;
  check(ffghpr(fptr, 3, &simple, &bitpix, &naxis, naxes, &pcount, &gcount, &extend, &status));
  if (naxis != 2) bad_file("NAXIS = " + std::to_string(naxis) + ", 2 expected", file);
  if (naxes[0] < 1 || naxes[1] < 1 || naxes[0] > 2147483647L / naxes[1])
    bad_file("array of " + std::to_string(naxes[1]) + " x " + std::to_string(naxes[0]), file);
  LONGLONG head_start = 0, data_start = 0, data_end = 0;
  check(ffghadll(fptr, &head_start, &data_start, &data_end, &status));
  struct stat info;
  if (stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<LONGLONG>(info.st_size) < data_end)
    bad_file("the file is shorter than its header announces", file);

  long nl = 0, nc = 0, bsize = 0, nbr_scale = 0, type = 0, overlap = 0, format = 0, var_norm = 0;
  check(ffgkyj(fptr, "Nl", &nl, nullptr, &status));
  check(ffgkyj(fptr, "Nc", &nc, nullptr, &status));
  check(ffgkyj(fptr, "BSize", &bsize, nullptr, &status));
  check(ffgkyj(fptr, "NbrScale", &nbr_scale, nullptr, &status));
  check(ffgkyj(fptr, "Type_Tra", &type, nullptr, &status));
  check(ffgkyj(fptr, "Overlap", &overlap, nullptr, &status));
  check(ffgkyj(fptr, "FormatIn", &format, nullptr, &status));
  check(ffgkyj(fptr, "VarNorm", &var_norm, nullptr, &status));
  if (type < 1 || type > 7) bad_file("Type_Tra = " + std::to_string(type), file);
  if (format < F_UNKNOWN || format > F_JPEG) bad_file("FormatIn = " + std::to_string(format), file);
  if (nl < 1 || nc < 1 || nl > MaxRidSide || nc > MaxRidSide || bsize > MaxRidSide)
    bad_file("Nl = " + std::to_string(nl) + ", Nc = " + std::to_string(nc) +
                 ", BSize = " + std::to_string(bsize),
             file);
  if (nbr_scale < -1 || nbr_scale > 32) bad_file("NbrScale = " + std::to_string(nbr_scale), file);
  // A ridgelet block has at least as many lines as the block has pixels a
  // side, so a block side above the array's line count is a lie that would
  // make alloc claim the memory of a huge Radon transform.
  const long side = bsize > 0 ? bsize : 2 * std::max(nl, nc);
  if (side > naxes[1])
    bad_file("a block side of " + std::to_string(side) + " does not fit an array of " +
                 std::to_string(naxes[1]) + " lines",
             file);

  RidTrans = static_cast<type_ridgelet_WTtrans>(type);
  NbrScale1D = static_cast<int>(nbr_scale);
  AutoScale1D = False;
  BlockOverlap = overlap != 0 ? True : False;
  FormatIn = static_cast<type_format>(format);
  VarNorm = var_norm != 0 ? True : False;
  Allocated = False;
  alloc(static_cast<int>(nl), static_cast<int>(nc), static_cast<int>(bsize));
  if (RidNl != naxes[1] || RidNc != naxes[0])
    bad_file("the keywords give a " + std::to_string(RidNl) + " x " + std::to_string(RidNc) +
                 " ridgelet image but the array is " + std::to_string(naxes[1]) + " x " +
                 std::to_string(naxes[0]),
             file);
  Trans.alloc(static_cast<int>(naxes[1]), static_cast<int>(naxes[0]), "read io");
  int anynul = 0;
  check(ffgpve(fptr, 1, 1, static_cast<LONGLONG>(naxes[0]) * naxes[1], 0.f, Trans.buffer(),
               &anynul, &status));
  check(ffclos(fptr, &status));
}
