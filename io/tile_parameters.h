// The parameters by which the checks of a tile-compressed image walk its
// tiles, as they read them from its cards, and their comparison with those
// the FITS library took when it opened the image: a card form the checks
// read otherwise than the library would bring its decoders to other sizes
// than the ones walked.
#pragma once

#include <fitsio.h>

#include <string>
#include <vector>

struct tile_parameters {
  // ZCMPTYPE as written: RICE_1, RICE_ONE, GZIP_1, GZIP_2, PLIO_1,
  // HCOMPRESS_1 or NOCOMPRESS.
  std::string compression;
  long long bitpix = 0;
  // ZNAXISn, and ZTILEn with their defaults (the first axis whole, 1 along
  // the others).
  std::vector<long long> axes, tile_sides;
  // Rice only, as the decoder takes them (swapped when they look swapped):
  // 0 for any other compression.
  long long rice_blocksize = 0, rice_bytepix = 0;
  // ZQUANTIZ's value without quotes and trailing blanks; empty when absent.
  std::string quantize;
  // ZDITHER0 when given; the seed that dithered tiles are read with.
  bool has_dither_seed = false;
  long long dither_seed = 0;
  // Column numbers, from 1; 0 when the table has no such column.
  int compressed_column = 0, gzip_column = 0, uncompressed_column = 0;
  // Where the descriptors of each data column stand in a row, their width
  // (4 for P, 8 for Q) and that of the values they point at; an offset of
  // -1 leaves a column's layout uncompared.
  struct column_layout {
    long long offset = -1;
    int descriptor = 0, value_bytes = 0;
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
// messages give it ("ZTILE2", "the ZSCALE column") and each side's value.
struct tile_parameter_difference {
  std::string parameter, library, walked;
};

// The parameters of the current HDU, opened by the library as a
// tile-compressed image, that the library took otherwise than `walked`
// says; none when they agree. Only what the library's decoder reads for
// such an image is compared: Rice's parameters of a Rice image, the
// dithering and its seed of dithered tiles, the constants of ZSCALE, ZZERO
// and ZBLANK where no column gives them. Integer pixels are never
// dithered: call tile_integers_undithered first.
std::vector<tile_parameter_difference> tile_parameter_differences(const fitsfile* fptr,
                                                                  const tile_parameters& walked);

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
