// What the FITS library took from a tile-compressed image's cards, held to
// what the tile checks walked: the library keeps its own reading in the
// open file's fields, and its decoders size each tile by those, whatever
// the checks assumed.
#include "io/tile_parameters.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The library's code of each compression; RICE_ONE is its older name of
// Rice's, which the library codes as RICE_1.
int compression_code(const std::string& name) {
  if (name == "RICE_1" || name == "RICE_ONE") return RICE_1;
  if (name == "GZIP_1") return GZIP_1;
  if (name == "GZIP_2") return GZIP_2;
  if (name == "PLIO_1") return PLIO_1;
  if (name == "HCOMPRESS_1") return HCOMPRESS_1;
  if (name == "NOCOMPRESS") return NOCOMPRESS;
  return 0;
}

std::string compression_name(int code) {
  switch (code) {
    case RICE_1: return "RICE_1";
    case GZIP_1: return "GZIP_1";
    case GZIP_2: return "GZIP_2";
    case PLIO_1: return "PLIO_1";
    case HCOMPRESS_1: return "HCOMPRESS_1";
    case NOCOMPRESS: return "NOCOMPRESS";
  }
  return "code " + std::to_string(code);
}

// The library's mark of floating-point pixels kept unquantized (ZQUANTIZ =
// 'NONE', or no ZSCALE column), in its quantize level.
constexpr float kNotQuantized = 9999;

// The dithering the decoder applies: SUBTRACTIVE_DITHER_1 or _2, or none
// (the library marks none as 0 when ZQUANTIZ is absent, as NO_DITHER when
// it says so: the decoder reads both alike).
int dithering(int method) { return method == SUBTRACTIVE_DITHER_1 || method == SUBTRACTIVE_DITHER_2 ? method : 0; }

int walked_dithering(const std::string& quantize) {
  if (quantize == "SUBTRACTIVE_DITHER_1") return SUBTRACTIVE_DITHER_1;
  if (quantize == "SUBTRACTIVE_DITHER_2") return SUBTRACTIVE_DITHER_2;
  return 0;
}

std::string dithering_name(int method) {
  return method == SUBTRACTIVE_DITHER_1   ? "SUBTRACTIVE_DITHER_1"
         : method == SUBTRACTIVE_DITHER_2 ? "SUBTRACTIVE_DITHER_2"
                                          : "no dithering";
}

// The width Rice's decoder reads pixels at: 1 or 2 bytes as asked, 4 for
// any other (absent, 8, ...).
long long rice_width(long long bytepix) { return bytepix == 1 || bytepix == 2 ? bytepix : 4; }

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// Where a ZSCALE, ZZERO or ZBLANK comes from, as the library marks it: a
// column's number, -1 for a constant from a card, 0 for none.
std::string source_name(int column) {
  return column > 0 ? "column " + std::to_string(column) : column == -1 ? "a card" : "none";
}

class differences {
 public:
  void compare(const std::string& parameter, const std::string& library, const std::string& walked) {
    if (library != walked) found_.push_back({parameter, library, walked});
  }
  void compare(const std::string& parameter, long long library, long long walked) {
    if (library != walked) found_.push_back({parameter, std::to_string(library), std::to_string(walked)});
  }
  void compare_column(const char* name, int library, int walked) {
    if (library != walked)
      found_.push_back({std::string("the ") + name + " column", library > 0 ? std::to_string(library) : "none",
                        walked > 0 ? std::to_string(walked) : "none"});
  }
  // Where the library finds a data column's descriptors in a row, and how
  // wide it reads them and their values: it reads 4-byte descriptors where
  // the format says P, 8-byte ones otherwise. Only a column both sides
  // found at one number.
  void compare_layout(const FITSfile& file, const char* name, int library_number, int number,
                      const tile_parameters::column_layout& walked) {
    if (number != library_number || number < 1 || number > file.tfield || walked.offset < 0) return;
    const tcolumn& taken = file.tableptr[number - 1];
    const std::string column = std::string("the ") + name + " column's ";
    const int descriptor = taken.tform[0] == 'P' || taken.tform[1] == 'P' ? 4 : 8;
    compare(column + "place in a row", taken.tbcol, walked.offset);
    compare(column + "descriptor bytes", descriptor, walked.descriptor);
    compare(column + "value bytes", taken.twidth, walked.value_bytes);
  }
  // A constant that a column or a card may give: its source, then, given
  // by a card on both sides, its value.
  void compare_constant(const char* name, int library_source, int walked_source, const std::string& library,
                        const std::string& walked) {
    if (library_source != walked_source)
      found_.push_back({std::string("the source of ") + name, source_name(library_source), source_name(walked_source)});
    else if (library_source == -1)
      compare(name, library, walked);
  }
  std::vector<tile_parameter_difference> take() { return std::move(found_); }

 private:
  std::vector<tile_parameter_difference> found_;
};

int constant_source(int column, bool card) { return column > 0 ? column : card ? -1 : 0; }

}  // namespace

std::vector<tile_parameter_difference> tile_parameter_differences(const fitsfile* fptr,
                                                                  const tile_parameters& walked) {
  const FITSfile& file = *fptr->Fptr;
  differences found;
  const int walked_code = compression_code(walked.compression);
  if (file.compress_type != walked_code)
    found.compare("ZCMPTYPE", compression_name(file.compress_type), walked.compression);
  found.compare("ZBITPIX", file.zbitpix, walked.bitpix);
  found.compare("ZNAXIS", file.zndim, static_cast<long long>(walked.axes.size()));
  for (std::size_t k = 0; k < walked.axes.size() && k < static_cast<std::size_t>(file.zndim) && k < MAX_COMPRESS_DIM;
       k++) {
    found.compare("ZNAXIS" + std::to_string(k + 1), file.znaxis[k], walked.axes[k]);
    if (k < walked.tile_sides.size())
      found.compare("ZTILE" + std::to_string(k + 1), file.tilesize[k], walked.tile_sides[k]);
  }
  if (file.compress_type == RICE_1 && walked_code == RICE_1) {
    found.compare("Rice's BLOCKSIZE", file.rice_blocksize, walked.rice_blocksize);
    found.compare("Rice's BYTEPIX", rice_width(file.rice_bytepix), rice_width(walked.rice_bytepix));
  }

  // Floating-point pixels are quantized to integers by a ZSCALE column or
  // card, unless ZQUANTIZ says NONE; only quantized tiles are dithered.
  // Integer pixels are never quantized nor dithered.
  const bool integers = walked.bitpix > 0;
  const bool walked_quantized =
      !integers && (walked.zscale_column > 0 || walked.has_zscale) && walked.quantize != "NONE";
  const bool library_quantized = file.zbitpix < 0 && file.quantize_level != kNotQuantized;
  if (!integers && walked_quantized != library_quantized)
    found.compare("the quantization (ZSCALE, ZQUANTIZ)", library_quantized ? "quantized" : "not quantized",
                  walked_quantized ? "quantized" : "not quantized");
  if (integers || (walked_quantized && library_quantized)) {
    const int library_method = dithering(file.quantize_method);
    const int walked_method = integers ? 0 : walked_dithering(walked.quantize);
    found.compare("ZQUANTIZ", dithering_name(library_method), dithering_name(walked_method));
    // The tiles kept whole, all of a NOCOMPRESS image's, never read the seed.
    if (walked_method != 0 && library_method == walked_method && walked_code != NOCOMPRESS)
      found.compare("ZDITHER0", file.dither_seed, walked.has_dither_seed ? walked.dither_seed : 1);
  }

  found.compare_column("COMPRESSED_DATA", file.cn_compressed, walked.compressed_column);
  found.compare_column("GZIP_COMPRESSED_DATA", file.cn_gzip_data, walked.gzip_column);
  found.compare_column("UNCOMPRESSED_DATA", file.cn_uncompressed, walked.uncompressed_column);
  found.compare_layout(file, "COMPRESSED_DATA", file.cn_compressed, walked.compressed_column, walked.compressed_layout);
  found.compare_layout(file, "GZIP_COMPRESSED_DATA", file.cn_gzip_data, walked.gzip_column, walked.gzip_layout);
  found.compare_layout(file, "UNCOMPRESSED_DATA", file.cn_uncompressed, walked.uncompressed_column,
                       walked.uncompressed_layout);
  found.compare_constant("ZSCALE", file.cn_zscale, constant_source(walked.zscale_column, walked.has_zscale),
                         number(file.zscale), number(walked.zscale));
  found.compare_constant("ZZERO", file.cn_zzero, constant_source(walked.zzero_column, walked.has_zzero),
                         number(file.zzero), number(walked.zzero));
  const bool walked_blank_card = walked.has_zblank || walked.has_blank;
  found.compare_constant("ZBLANK", file.cn_zblank, constant_source(walked.zblank_column, walked_blank_card),
                         std::to_string(file.zblank),
                         std::to_string(walked.has_zblank ? walked.zblank : walked.blank));
  return found.take();
}

bool tile_dither_seed_mended(fitsfile* fptr, long long seed) {
  int status = 0;
  if (!fits_is_compressed_image(fptr, &status) || seed < 1 || seed > 10000) return false;
  fptr->Fptr->dither_seed = static_cast<int>(seed);
  return true;
}

void tile_integers_undithered(fitsfile* fptr) {
  int status = 0;
  if (fits_is_compressed_image(fptr, &status) && fptr->Fptr->zbitpix > 0 &&
      dithering(fptr->Fptr->quantize_method) != 0)
    fptr->Fptr->quantize_method = NO_DITHER;
}
