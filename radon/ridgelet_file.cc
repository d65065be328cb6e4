// The ".rid" file: a ridgelet image as a FITS primary image of 32-bit floats
// with ten integer keywords from which read rebuilds the geometry. The
// reader checks the keywords against the array before it trusts either.
#include <climits>
#include <string>

#include "array/fatal.h"
#include "io/fits_glue.h"
#include "radon/float_image_file.h"
#include "radon/ridgelet.h"

namespace {

// The name with ".rid" appended unless it already ends with it.
std::string rid_file_name(const char* Name) { return name_with_suffix(Name, ".rid"); }

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
  auto key = [&](const char* name) { return read_int_keyword(fptr, name, file); };
  const long nl = key("Nl"), nc = key("Nc"), bsize = key("BSize"), nbr_scale = key("NbrScale");
  const long type = key("Type_Tra"), overlap = key("Overlap"), format = key("FormatIn");
  const long var_norm = key("VarNorm");
  if (type < 1 || type > 7) bad_file("Type_Tra = " + std::to_string(type), file);
  if (format < F_UNKNOWN || format > F_JPEG) bad_file("FormatIn = " + std::to_string(format), file);
  if (nl < 1 || nc < 1 || nl > MaxRidSide || nc > MaxRidSide || bsize > MaxRidSide ||
      bsize < -MaxRidSide)
    bad_file("Nl = " + std::to_string(nl) + ", Nc = " + std::to_string(nc) +
                 ", BSize = " + std::to_string(bsize),
             file);
  // Past INT_MAX the count would wrap to a small one that fits.
  if (nbr_scale < -1 || nbr_scale > INT_MAX) bad_file("NbrScale = " + std::to_string(nbr_scale), file);

  RidTrans = static_cast<type_ridgelet_WTtrans>(type);
  NbrScale1D = static_cast<int>(nbr_scale);
  AutoScale1D = False;
  BlockOverlap = overlap != 0 ? True : False;
  FormatIn = static_cast<type_format>(format);
  VarNorm = var_norm != 0 ? True : False;
  // Everything alloc will build is checked against the array before alloc
  // claims the memory of a block's Radon transform: a ridgelet block has at
  // least as many lines and columns as the block has pixels a side.
  const RidgeletGeometry g = geometry(static_cast<int>(nl), static_cast<int>(nc),
                                      static_cast<int>(bsize));
  const std::string array = std::to_string(naxes[1]) + " x " + std::to_string(naxes[0]);
  if (g.BlockSize > naxes[0] || g.BlockSize > naxes[1])
    bad_file("a block side of " + std::to_string(g.BlockSize) + " does not fit an array of " +
                 array,
             file);
  if (!rid_scales_fit(RidTrans, NbrScale1D, g.BlockSize))
    bad_file("NbrScale = " + std::to_string(nbr_scale) + " does not fit blocks of " +
                 std::to_string(g.BlockSize) + " (at most " +
                 std::to_string(rid_max_scale_number(RidTrans, g.BlockSize)) + ")",
             file);
  if (g.RidNl != naxes[1] || g.RidNc != naxes[0])
    bad_file("the keywords give a " + std::to_string(g.RidNl) + " x " + std::to_string(g.RidNc) +
                 " ridgelet image but the array is " + array,
             file);
  Allocated = False;
  alloc(static_cast<int>(nl), static_cast<int>(nc), static_cast<int>(bsize));
  read_float_image_data(fptr, naxes, Trans);
}
