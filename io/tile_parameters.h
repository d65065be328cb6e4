// The parameters by which the checks of a tile-compressed image walk its
// tiles, as they read them from its cards, and their comparison with those
// the FITS library took when it opened the image: a card form the checks
// read otherwise than the library would bring its decoders to other sizes
// than the ones walked. After the open, the tiles are walked where the
// library itself finds them (tile_geometry_of).
#pragma once

#include <fitsio.h>

#include <string>
#include <vector>

// The walkers of the tiles' data (io/tile_streams.h), by the compression
// of the image: NOCOMPRESS keeps every tile whole.
enum class tile_coder : unsigned char { rice, gzip, hcompress, plio, none };

// A compression the library decodes: its name in ZCMPTYPE, the library's
// code for it, and the walker of its tiles. RICE_ONE is the library's
// older name of Rice's, which it codes as RICE_1.
struct tile_compression {
  const char* name;
  int code;
  tile_coder coder;
};
// The compression ZCMPTYPE names, as written; null when the library knows
// none of that name.
const tile_compression* tile_compression_named(const std::string& name);

// Whether the pixels of an image of `bitpix` are stored in its tiles as
// quantized integers: floating-point pixels are, where a ZSCALE column or
// card (`scale_given`) gives the step, unless ZQUANTIZ says NONE; integer
// pixels never are.
bool tile_pixels_quantized(long long bitpix, bool scale_given, const std::string& quantize);

// A number as messages give it: the shortest text that reads back as it.
std::string tile_number_text(double value);

struct tile_parameters {
  // ZCMPTYPE as written: RICE_1, RICE_ONE, GZIP_1, GZIP_2, PLIO_1,
  // HCOMPRESS_1 or NOCOMPRESS.
  std::string compression;
  long long bitpix = 0;
  // ZNAXISn, and ZTILEn with their defaults (the first axis whole, 1 along
  // the others).
  std::vector<long long> axes, tile_sides;
  // Rice only, as the decoder takes them (swapped when they look swapped):
  // 0 for any other compression; and the cards they come from.
  long long rice_blocksize = 0, rice_bytepix = 0;
  std::string rice_blocksize_card = "ZVAL1", rice_bytepix_card = "ZVAL2";
  // ZQUANTIZ's value without quotes and trailing blanks; empty when absent.
  std::string quantize;
  // ZDITHER0 when given; the seed that dithered tiles are read with.
  bool has_dither_seed = false;
  long long dither_seed = 0;
  // The table: a row's bytes (NAXIS1), its rows (NAXIS2), where its heap
  // starts from the data's start (THEAP, or right after the rows) and its
  // bytes (PCOUNT). A row length of 0 leaves them uncompared.
  long long row_bytes = 0, rows = 0, heap_start = 0, heap_bytes = 0;
  // Column numbers, from 1; 0 when the table has no such column.
  int compressed_column = 0, gzip_column = 0, uncompressed_column = 0;
  // Where the descriptors of each data column stand in a row, their width
  // (4 for P, 8 for Q) and that of the values they point at, the type of
  // those values (the library's code, negative as for every
  // variable-length column), and the column's TSCALn and TZEROn; an offset
  // of -1 leaves a column's layout uncompared, a type of 0 its type.
  struct column_layout {
    long long offset = -1;
    int descriptor = 0, value_bytes = 0;
    int type = 0;
    double scale = 1, zero = 0;
  };
  column_layout compressed_layout, gzip_layout, uncompressed_layout;
  int zscale_column = 0, zzero_column = 0, zblank_column = 0;
  // ZSCALE, ZZERO and ZBLANK given as cards.
  bool has_zscale = false, has_zzero = false, has_zblank = false;
  double zscale = 0, zzero = 0;
  long long zblank = 0;
  // The image's BLANK card, carried in the table's header: the library
  // takes it for ZBLANK, of integer and floating-point images alike, when
  // no ZBLANK column or card gives one.
  bool has_blank = false;
  long long blank = 0;
};

// One parameter on which the library and the checks differ: its name as
// messages give it, the card behind it first ("ZTILE2", "ZVAL2 (Rice's
// BYTEPIX)", "the ZSCALE column"), and each side's value.
struct tile_parameter_difference {
  std::string parameter, library, walked;
};

// The parameters of the current HDU, opened by the library as a
// tile-compressed image, that the library took otherwise than `walked`
// says; none when they agree. Only what the library's decoder reads for
// such an image is compared: Rice's parameters of a Rice image, the
// dithering and its seed of dithered tiles, the constants of ZSCALE, ZZERO
// and ZBLANK where no column gives them, the table's rows and heap and
// each data column's layout, type and scaling. Integer pixels are never
// dithered: call tile_integers_undithered first.
std::vector<tile_parameter_difference> tile_parameter_differences(const fitsfile* fptr,
                                                                  const tile_parameters& walked);

// Where the library finds the tiles of the current HDU, as it took them at
// its open: the walk of the tiles reads these very bytes, the ones the
// decoders are handed. Offsets from the file's start (data_start) or the
// data's (the rest); a data column the image lacks has an offset of -1.
struct tile_geometry {
  long long data_start = 0, row_bytes = 0, rows = 0, heap_start = 0, heap_bytes = 0;
  tile_parameters::column_layout compressed, gzip, uncompressed;
};
tile_geometry tile_geometry_of(const fitsfile* fptr);

// A dithering seed `seed`, in 1..10000, put in place of the one the library
// took for the current HDU: of a ZDITHER0 given twice it keeps the copy it
// meets last, which is the stray 0 in the gzip layouts of an image that
// astropy decompressed and the library compressed again. The decoder takes
// the seed from there as it reads each tile. False, and nothing changed, when the
// HDU is no tile-compressed image or the seed is outside the library's
// table of offsets.
bool tile_dither_seed_mended(fitsfile* fptr, long long seed);

// For a tile-compressed image of integer pixels whose ZQUANTIZ asks for
// dithering (astropy writes SUBTRACTIVE_DITHER_1 on scaled integers): the
// library would add its dithering noise to every stored integer as it
// reads them, which no writer put there. Left undithered, the pixels read
// as stored, times BSCALE plus BZERO, and the dithering table is never
// read, whatever ZDITHER0 says. Nothing for any other image.
void tile_integers_undithered(fitsfile* fptr);

// The library's quantize level, which it keeps in the open file rather than
// the HDU: its parse of a tile-compressed image's cards sets it only where
// the cards say 'NONE', give no ZQUANTIZ, or leave floating-point tiles
// without ZSCALE and ZZERO columns, and keeps the last HDU's otherwise. The
// quantized image that follows a lossless one (as astropy writes them) would
// read its integers as floats. Cleared before each parse to what a fresh
// open holds, which such cards keep, the level is the HDU's own; so is the
// dithering, which the parse keeps where it marks the level unquantized;
// and so is HCOMPRESS's smoothing, which the parse sets only from a ZNAMEn
// = 'SMOOTH': cards without one would decode smoothed after an HDU that
// asked for it.
void tile_parse_state_cleared(fitsfile* fptr);
// After that parse: integer pixels are never quantized, whatever ZQUANTIZ
// says. Marked unquantized (ZQUANTIZ = 'NONE'), their tiles would be read
// as floats of 4 or 8 bytes, past the 1 or 2 bytes of each pixel stored:
// they read as stored instead.
void tile_integers_unquantized(fitsfile* fptr);
// After that parse, for dithered floating-point tiles whose seed the
// library took as 0 (of a ZDITHER0 given twice, the stray 0 it meets
// last): the seed a copy gives in 1..10000, as tile_dither_seed_mended
// puts it, so that the tiles are dithered right wherever the library
// decodes them, in the open of a name with a section too. Nothing when no
// copy gives one: the checks refuse that HDU.
void tile_dither_seed_of_cards(fitsfile* fptr);
