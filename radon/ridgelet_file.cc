// The ".rid" file: a ridgelet image as a FITS primary image of 32-bit floats
// with ten integer keywords from which read rebuilds the geometry. The
// reader checks the keywords against the array before it trusts either.
#include <algorithm>
#include <string>

#include "array/fatal.h"
#include "io/fits_glue.h"
#include "radon/float_image_file.h"
#include "radon/ridgelet.h"

namespace {

// The name with ".rid" appended unless it already ends with it.
std::string rid_file_name(const char* Name) { return name_with_suffix(Name, ".rid"); }

void check(int status) { check_fits(status); }

[[noreturn]] void bad_file(const std::string& what, const std::string& file) {
  bad_coefficient_file("ridgelet", what, file);
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
  write_float_image_file(file, Trans,
                         [this](fitsfile* f, int& status) { mr_io_fill_header(f, status); });
}

void Ridgelet::read(const char* Name, to_array<float, false>& Trans) {
  const std::string file = rid_file_name(Name);
  long naxes[2];
  fitsfile* fptr = open_float_image_file(file, "ridgelet", naxes);
  int status = 0;

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
  read_float_image_data(fptr, naxes, Trans);
}
