// The ".cur" file: a curvelet transform in its cube layout as a FITS primary
// array of 32-bit floats (x the columns, y the lines, one plane per 2D
// scale) with integer keywords from which read rebuilds the object. The
// reader checks every keyword against the array before it allocates.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include "array/fatal.h"
#include "curvelet/curvelet.h"
#include "io/fits_glue.h"
#include "radon/float_image_file.h"

namespace {

std::string cur_file_name(const char* Name) { return name_with_suffix(Name, ".cur"); }

[[noreturn]] void bad_file(const std::string& what, const std::string& file) {
  bad_coefficient_file("curvelet", what, file);
}

// Keywords that older files lack read as their default.
long read_optional_key(fitsfile* fptr, const char* key, long absent) {
  long value = 0;
  int status = 0;
  ffgkyj(fptr, key, &value, nullptr, &status);
  if (status == KEY_NO_EXIST) return absent;
  check_fits(status);
  return value;
}

// Largest image side a file may describe.
constexpr long MaxCurSide = 1L << 16;

bool transformable_variant(long type) {
  return type == RID_OWT || type == RID_PYR_FFT || type == RID_FINITE || type == RID_SS_PYR_FFT;
}

}  // namespace

void Curvelet::mr_io_fill_header(fitsfile* Fptr, int& Status) {
  ffpkyj(Fptr, "Nl", Nl, "NlIma", &Status);
  ffpkyj(Fptr, "Nc", Nc, "NcIma", &Status);
  ffpkyj(Fptr, "NlTrans", NlTrans, "CurNl", &Status);
  ffpkyj(Fptr, "NcTrans", NcTrans, "CurNc", &Status);
  ffpkyj(Fptr, "BSize", BlockSize, "BlockImaSize", &Status);
  ffpkyj(Fptr, "TBlock", static_cast<long>(TypeBlock), "Type of block", &Status);
  ffpkyj(Fptr, "Overlap", BlockOverlap ? 1 : 0, "Block overlap", &Status);
  ffpkyj(Fptr, "NScale2D", NbrScale2D, "Number of scales (2D)", &Status);
  ffpkyj(Fptr, "NScale1D", AutoScale1D ? 0 : NbrScale1D, "Number of scales (1D)", &Status);
  ffpkyj(Fptr, "Type_Tra", static_cast<long>(RidTrans), StringRidTransform(RidTrans), &Status);
  ffpkyj(Fptr, "ColWT", ColTrans ? 1 : 0, "ColWT", &Status);
  ffpkyj(Fptr, "FormatIn", static_cast<long>(FormatIn), "Format", &Status);
  // Without these two the block sizes and the coefficient scaling of the
  // transform could not be rebuilt.
  ffpkyj(Fptr, "VarNorm", VarNorm ? 1 : 0, "Var Norm", &Status);
  ffpkyj(Fptr, "OddBlock", OddBlockSize ? 1 : 0, "Odd block size", &Status);
}

void Curvelet::write(const char* Name, to_array<float, true>& Trans) {
  const std::string file = cur_file_name(Name);
  if (!Initialized || Trans.naxis() != 3 || Trans.nx() != NcTrans || Trans.ny() != NlTrans ||
      Trans.nz() != NbrScale2D)
    fatal_exitf(-1, stdout,
                "Error: a cube of %d x %d x %d does not match the %d x %d x %d of the curvelet "
                "object (%s)\n",
                Trans.nx(), Trans.ny(), Trans.nz(), NcTrans, NlTrans, NbrScale2D, file.c_str());
  const long naxes[3] = {Trans.nx(), Trans.ny(), Trans.nz()};
  write_float_array_file(file, Trans.buffer(), 3, naxes,
                         [this](fitsfile* f, int& status) { mr_io_fill_header(f, status); });
}

void Curvelet::read(const char* Name, to_array<float, true>& Trans) {
  const std::string file = cur_file_name(Name);
  long naxes[3];
  fitsfile* fptr = open_float_array_file(file, "curvelet", 3, naxes);

  auto key = [&](const char* name) { return read_int_keyword(fptr, name, file); };
  const long nl = key("Nl"), nc = key("Nc"), bsize = key("BSize");
  const long scale2d = key("NScale2D"), scale1d = key("NScale1D");
  const long type = key("Type_Tra"), tblock = key("TBlock");
  const long overlap = key("Overlap"), format = key("FormatIn");
  const long col_wt = read_optional_key(fptr, "ColWT", 0);
  const long var_norm = read_optional_key(fptr, "VarNorm", 1);
  const long odd_block = read_optional_key(fptr, "OddBlock", 1);

  auto text = [](const char* key, long v) { return std::string(key) + " = " + std::to_string(v); };
  if (!transformable_variant(type)) bad_file(text("Type_Tra", type), file);
  if (tblock < BL_CONST || tblock > BL_DOWN2) bad_file(text("TBlock", tblock), file);
  if (format < F_UNKNOWN || format > F_JPEG) bad_file(text("FormatIn", format), file);
  if (scale2d < 2 || scale2d > CUR_TAB_BLOCK_SIZE + 1 || scale2d != naxes[2])
    bad_file(text("NScale2D", scale2d) + " for " + std::to_string(naxes[2]) + " planes", file);
  // 0 lets every ridgelet choose; a curvelet band needs at least two 1D
  // scales.
  if (scale1d < 0 || scale1d == 1 || scale1d > INT_MAX) bad_file(text("NScale1D", scale1d), file);
  // A ridgelet image is at least as large as the image it comes from, and
  // the smooth plane is the image itself.
  if (nl < 1 || nc < 1 || nl > MaxCurSide || nc > MaxCurSide || nl > naxes[1] || nc > naxes[0])
    bad_file("an image of " + std::to_string(nl) + " x " + std::to_string(nc) +
                 " does not fit planes of " + std::to_string(naxes[1]) + " x " +
                 std::to_string(naxes[0]),
             file);
  if (bsize < 1 || bsize > MaxCurSide) bad_file(text("BSize", bsize), file);

  RidTrans = static_cast<type_ridgelet_WTtrans>(type);
  TypeBlock = static_cast<type_curvelet_block>(tblock);
  BlockOverlap = overlap != 0 ? True : False;
  NbrScale2D = static_cast<int>(scale2d);
  if (scale1d > 0) {
    NbrScale1D = static_cast<int>(scale1d);
    AutoScale1D = False;
  }
  ColTrans = col_wt != 0 ? True : False;
  VarNorm = var_norm != 0 ? True : False;
  OddBlockSize = odd_block != 0 ? True : False;
  // Every block has at least as many lines and columns in its ridgelet
  // image as pixels a side: a larger block is a lie that would make alloc
  // claim the memory of a huge Radon transform.
  // The 1D scales must fit every block their ridgelet cuts.
  block_table_for_alloc(static_cast<int>(bsize));
  for (int s = 0; s < NbrScale2D - 1; s++) {
    if (TabBlockSize(s) > std::min(naxes[0], naxes[1]))
      bad_file("a block side of " + std::to_string(TabBlockSize(s)) + " does not fit planes of " +
                   std::to_string(naxes[1]) + " x " + std::to_string(naxes[0]),
               file);
    if (!AutoScale1D && !rid_scales_fit(RidTrans, NbrScale1D, TabBlockSize(s)))
      bad_file(text("NScale1D", scale1d) + " does not fit blocks of " +
                   std::to_string(TabBlockSize(s)) + " (at most " +
                   std::to_string(rid_max_scale_number(RidTrans, TabBlockSize(s))) + ")",
               file);
  }

  if (Verbose) {
    std::printf("Ridgelet transform = %s\n", StringRidTransform(RidTrans));
    if (!BlockOverlap) std::printf("No overlapping \n");
    std::printf("BlockSize = %ld\n", bsize);
    std::printf("Nbr Scale = %d\n", NbrScale2D);
    std::printf("Input image size = %ld %ld\n\n", nl, nc);
    std::printf(BlockOverlap ? "Block Over \n" : "NO Block Over \n");
  }
  alloc(static_cast<int>(nl), static_cast<int>(nc), static_cast<int>(bsize), False);
  FormatIn = static_cast<type_format>(format);
  if (NlTrans != naxes[1] || NcTrans != naxes[0])
    bad_file("the keywords give planes of " + std::to_string(NlTrans) + " x " +
                 std::to_string(NcTrans) + " but the array has " + std::to_string(naxes[1]) +
                 " x " + std::to_string(naxes[0]),
             file);
  Trans.alloc(NcTrans, NlTrans, NbrScale2D, "curvelet");
  read_float_array_data(fptr, static_cast<long long>(Trans.n_elem()), Trans.buffer());
}
