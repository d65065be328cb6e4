// What the FITS library took from a tile-compressed image's cards, held to
// what the tile checks walked: the library keeps its own reading in the
// open file's fields, and its decoders size each tile by those, whatever
// the checks assumed.
#include "io/tile_parameters.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/fits_cards.h"

namespace {

const tile_compression kCompressions[] = {
    {"RICE_1", RICE_1, tile_coder::rice},        {"RICE_ONE", RICE_1, tile_coder::rice},
    {"GZIP_1", GZIP_1, tile_coder::gzip},        {"GZIP_2", GZIP_2, tile_coder::gzip},
    {"PLIO_1", PLIO_1, tile_coder::plio},        {"HCOMPRESS_1", HCOMPRESS_1, tile_coder::hcompress},
    {"NOCOMPRESS", NOCOMPRESS, tile_coder::none},
};

std::string compression_name(int code) {
  for (const tile_compression& compression : kCompressions)
    if (compression.code == code) return compression.name;
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

// A column's type as its format writes it (E for the library's code of
// 4-byte reals); variable-length columns, which the library codes
// negative, alike.
std::string type_name(int code) {
  switch (std::abs(code)) {
    case TBIT: return "X";
    case TBYTE: return "B";
    case TLOGICAL: return "L";
    case TSTRING: return "A";
    case TSHORT: return "I";
    case TLONG: return "J";
    case TFLOAT: return "E";
    case TLONGLONG: return "K";
    case TDOUBLE: return "D";
    case TCOMPLEX: return "C";
    case TDBLCOMPLEX: return "M";
  }
  return "code " + std::to_string(code);
}

// Where a ZSCALE, ZZERO or ZBLANK comes from, as the library marks it: a
// column's number, -1 for a constant from a card, 0 for none.
std::string source_name(int column) {
  return column > 0 ? "column " + std::to_string(column) : column == -1 ? "a card" : "none";
}

// The width of the fields of the descriptors the library reads in a
// variable-length column: 4 bytes where its format's first or second
// letter is P, 8 otherwise (a format of '01PB' has 8-byte fields for it).
int descriptor_bytes(const char* tform) { return tform[0] == 'P' || tform[1] == 'P' ? 4 : 8; }

tile_parameters::column_layout layout_of(const FITSfile& file, int number) {
  tile_parameters::column_layout layout;
  if (number < 1 || number > file.tfield) return layout;
  const tcolumn& taken = file.tableptr[number - 1];
  layout.offset = taken.tbcol;
  layout.descriptor = descriptor_bytes(taken.tform);
  layout.value_bytes = static_cast<int>(taken.twidth);
  layout.type = taken.tdatatype;
  layout.scale = taken.tscale;
  layout.zero = taken.tzero;
  return layout;
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
  // Where the library finds a data column's descriptors in a row, how wide
  // it reads them and their values, as what type and under what scaling,
  // each named by the cards behind it. Only a column both sides found at
  // one number.
  void compare_layout(const FITSfile& file, const char* name, int library_number, int number,
                      const tile_parameters::column_layout& walked) {
    if (number != library_number || number < 1 || number > file.tfield || walked.offset < 0) return;
    const tile_parameters::column_layout taken = layout_of(file, number);
    const std::string n = std::to_string(number), column = std::string("the ") + name + " column's ";
    // A column's place is the sum of the widths of those before it.
    const std::string place = column + "place in a row";
    const std::string before = number == 2 ? "TFORM1" : "TFORM1 to TFORM" + std::to_string(number - 1);
    compare(number == 1 ? place : before + " (" + place + ")", taken.offset, walked.offset);
    compare("TFORM" + n + " (" + column + "descriptor bytes)", taken.descriptor, walked.descriptor);
    compare("TFORM" + n + " (" + column + "value bytes)", taken.value_bytes, walked.value_bytes);
    if (walked.type != 0)
      compare("TFORM" + n + " (" + column + "values)", type_name(taken.type), type_name(walked.type));
    compare("TSCAL" + n + " (" + column + "scale)", tile_number_text(taken.scale), tile_number_text(walked.scale));
    compare("TZERO" + n + " (" + column + "zero)", tile_number_text(taken.zero), tile_number_text(walked.zero));
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

std::string tile_number_text(double value) {
  char text[32];
  for (int digits = 1; digits <= 17; digits++) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  return text;
}

const tile_compression* tile_compression_named(const std::string& name) {
  for (const tile_compression& compression : kCompressions)
    if (name == compression.name) return &compression;
  return nullptr;
}

bool tile_pixels_quantized(long long bitpix, bool scale_given, const std::string& quantize) {
  return bitpix < 0 && scale_given && quantize != "NONE";
}

std::vector<tile_parameter_difference> tile_parameter_differences(const fitsfile* fptr,
                                                                  const tile_parameters& walked) {
  const FITSfile& file = *fptr->Fptr;
  differences found;
  const tile_compression* compression = tile_compression_named(walked.compression);
  const int walked_code = compression != nullptr ? compression->code : 0;
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
    found.compare(walked.rice_blocksize_card + " (Rice's BLOCKSIZE)", file.rice_blocksize, walked.rice_blocksize);
    found.compare(walked.rice_bytepix_card + " (Rice's BYTEPIX)", rice_width(file.rice_bytepix),
                  rice_width(walked.rice_bytepix));
  }

  // Only quantized tiles are dithered; integer pixels are neither.
  const bool integers = walked.bitpix > 0;
  const bool walked_quantized =
      tile_pixels_quantized(walked.bitpix, walked.zscale_column > 0 || walked.has_zscale, walked.quantize);
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

  if (walked.row_bytes > 0) {
    found.compare("NAXIS1 (a row's bytes)", file.rowlength, walked.row_bytes);
    found.compare("NAXIS2 (the table's rows)", file.numrows, walked.rows);
    found.compare("THEAP (the heap's start)", file.heapstart, walked.heap_start);
    found.compare("PCOUNT (the heap's bytes)", file.heapsize, walked.heap_bytes);
  }
  found.compare_column("COMPRESSED_DATA", file.cn_compressed, walked.compressed_column);
  found.compare_column("GZIP_COMPRESSED_DATA", file.cn_gzip_data, walked.gzip_column);
  found.compare_column("UNCOMPRESSED_DATA", file.cn_uncompressed, walked.uncompressed_column);
  found.compare_layout(file, "COMPRESSED_DATA", file.cn_compressed, walked.compressed_column, walked.compressed_layout);
  found.compare_layout(file, "GZIP_COMPRESSED_DATA", file.cn_gzip_data, walked.gzip_column, walked.gzip_layout);
  found.compare_layout(file, "UNCOMPRESSED_DATA", file.cn_uncompressed, walked.uncompressed_column,
                       walked.uncompressed_layout);
  found.compare_constant("ZSCALE", file.cn_zscale, constant_source(walked.zscale_column, walked.has_zscale),
                         tile_number_text(file.zscale), tile_number_text(walked.zscale));
  found.compare_constant("ZZERO", file.cn_zzero, constant_source(walked.zzero_column, walked.has_zzero),
                         tile_number_text(file.zzero), tile_number_text(walked.zzero));
  const bool walked_blank_card = walked.has_zblank || walked.has_blank;
  found.compare_constant("ZBLANK", file.cn_zblank, constant_source(walked.zblank_column, walked_blank_card),
                         std::to_string(file.zblank),
                         std::to_string(walked.has_zblank ? walked.zblank : walked.blank));
  return found.take();
}

tile_geometry tile_geometry_of(const fitsfile* fptr) {
  const FITSfile& file = *fptr->Fptr;
  tile_geometry geometry;
  geometry.data_start = file.datastart;
  geometry.row_bytes = file.rowlength;
  geometry.rows = file.numrows;
  geometry.heap_start = file.heapstart;
  geometry.heap_bytes = file.heapsize;
  geometry.compressed = layout_of(file, file.cn_compressed);
  geometry.gzip = layout_of(file, file.cn_gzip_data);
  geometry.uncompressed = layout_of(file, file.cn_uncompressed);
  return geometry;
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

void tile_parse_state_cleared(fitsfile* fptr) {
  fptr->Fptr->quantize_level = 0;
  fptr->Fptr->quantize_method = 0;
  fptr->Fptr->hcomp_smooth = 0;
}

void tile_integers_unquantized(fitsfile* fptr) {
  if (fptr->Fptr->zbitpix > 0 && fptr->Fptr->quantize_level == kNotQuantized) fptr->Fptr->quantize_level = 0;
}

void tile_dither_seed_of_cards(fitsfile* fptr) {
  const FITSfile& file = *fptr->Fptr;
  if (file.zbitpix > 0 || file.quantize_level == kNotQuantized || dithering(file.quantize_method) == 0 ||
      file.dither_seed != 0)
    return;
  int count = 0, status = 0;
  if (ffghsp(fptr, &count, nullptr, &status) != 0) return;
  for (int k = 1; k <= count; k++) {
    char card[FLEN_CARD] = "";
    if (ffgrec(fptr, k, card, &status) != 0) return;
    long long seed = 0;
    if (reads_as(card, "ZDITHER0") && value_integer(card_value(card), &seed) && tile_dither_seed_mended(fptr, seed))
      return;
  }
}
