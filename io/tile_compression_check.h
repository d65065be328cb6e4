// Checks of tile-compressed FITS images made before the FITS library reads
// them. The library takes its tile sizes, compression parameters and each
// tile's stream header on trust, as it meets the HDU and as it decodes: a
// tile side of 0 divides by zero, a Rice block size of 0 too, a dithering
// offset outside its table or a stream that declares more pixels than its
// tile reads or writes past its buffers, a damaged gzip tile takes memory
// without end. The cards of the HDUs of a local file that a read passes
// are checked before the library moves to any of them, since it parses the
// headers of all HDUs it passes on its way to the one a name selects; the
// tiles of an HDU, before its pixels are read.
#pragma once

#include <fitsio.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

// Refuses, with a message naming the card, the HDU and `name` (status -1),
// the first tile-compressed image among the HDUs that a read of the HDU
// `selector` selects passes (the text between the name's brackets: a
// number, the HDUs up to it; a name, the HDUs up to the first so named, as
// the library searches them, copies of a name or version card it would
// answer otherwise refused; none, the primary HDU), whose cards
// the library would trust to its harm: a card the library or these checks
// read given twice, in any form its parser names it, with values it reads
// otherwise (it may read either copy; copies it reads alike are one card);
// an HDU that cannot be sized as the library sizes it; the table's
// structure (NAXISn, PCOUNT, TFIELDS, THEAP) not written as the integers
// the library's strict reading takes; ZCMPTYPE, ZQUANTIZ or ZBITPIX unknown; ZNAXIS not 1 to 6; a ZNAXISn or
// ZTILEn below 1; a tile of more pixels than any file could hold; tiles
// that the table's rows do not count; Rice's BLOCKSIZE below 1; HCOMPRESS's
// SCALE not a number; floating-point pixels under an integer coder (Rice,
// HCOMPRESS, PLIO) without quantization; a quantization scale given as a
// card, which the library reads as 0; dithering claimed for integer
// pixels; ZDITHER0 of dithered tiles outside 1..10000; ZGCOUNT not 1; a column format the
// library cannot read or whose values its decoder would convert, or the
// tiles in no variable-length column or past the rows' end. What no
// header describes (the bytes after a header that ends the file too early)
// is left to the library. The file is given by its bytes in memory, or by
// a stream on a regular file, which is left at its start.
void fits_check_compressed_hdus(const unsigned char* bytes, std::size_t size, const std::string& name,
                                const std::string& selector);
void fits_check_compressed_hdus(std::FILE* stream, const std::string& name, const std::string& selector);
// The same for every HDU of a regular file, as the library parses them
// all to open a name with a section or a filter; true when one of them is
// a tile-compressed image. The stream is left at its start.
bool fits_check_every_hdu(std::FILE* stream, const std::string& name);
// The same for the HDUs 0 to `last` of a file fits_open_local opened,
// before the library moves past those the open checked (to count the
// HDUs, or to the first extension); nothing for any other file.
void fits_check_compressed_hdus_through(fitsfile* fptr, int last);

// An HDU a walk of a file's own bytes sizes: its number (0 the primary),
// its header through the block of its END, where that header and the data
// after it start, the data bytes its cards announce (padding left out),
// and the bytes the file holds.
struct walked_hdu {
  int hdu = 0;
  const std::string* cards = nullptr;
  long long header_start = 0, data_start = 0, data_bytes = 0;
  long long file_size = 0;
};
// Where such a walk stopped: at the HDU its visitor asked for; at the
// file's end, after whole HDUs; inside an HDU the file does not hold
// whole, a header without its END, data or their padding cut short (the
// visitor has seen the HDU then, and may take data that lack their
// padding alone, as the standard input's reader does); or at bytes that
// begin no HDU (or at once, in a file fits_open_local did not open).
enum class hdu_walk_end { reached, whole, cut, foreign };
// Walks from the primary on the HDUs of a file fits_open_local opened,
// checking each as fits_check_compressed_hdus does, without the library:
// hands `visit` each HDU it sizes, until `visit` returns true. `last_hdu`,
// when given, gets the number of the HDU the walk stopped at.
hdu_walk_end fits_walk_hdus(fitsfile* fptr, const std::function<bool(const walked_hdu&)>& visit,
                            int* last_hdu = nullptr);
// Reads `count` bytes at `offset` of a file fits_open_local opened, as
// stored; false when the file ends first, or for any other file.
bool fits_read_stored_bytes(fitsfile* fptr, long long offset, std::size_t count, char* out);

// Before the pixels of the current HDU are read: when it is a
// tile-compressed image of a file fits_open_local opened, refuses as above,
// naming the tile, the first tile whose data lie outside the heap or do
// not decode to exactly its pixels, in each column the library decodes
// (COMPRESSED_DATA, GZIP_COMPRESSED_DATA, UNCOMPRESSED_DATA): an HCOMPRESS
// stream whose image is not its tile's or that its decoder would read
// past, hang on or misuse (io/tile_streams.h), a Rice stream that ends
// before its tile's pixels, a gzip stream that does not inflate to their bytes (the
// library's inflater would grow its buffer without end, or its pixels be
// read past the data), a PLIO list that runs past its stream or covers
// other pixels, values kept whole other than the tile's count; and, once
// the library has opened the HDU, a data column under a scaling of its own
// (TSCALn, TZEROn), which the library would apply to every byte it hands
// the decoder, or anything it took otherwise than the checks read it,
// naming the card. The tiles are walked where the library found them at
// its open (its heap, rows and columns): the very bytes its decoders are
// handed. A file the library opened itself is not checked.
void fits_check_tiles(fitsfile* fptr);

// True when the current HDU is a tile-compressed image whose tiles hold
// quantized values (a ZSCALE column or card): the library then marks
// undefined pixels with ZBLANK, which it turns into the null value only when
// it is given one.
bool fits_tiles_quantized(fitsfile* fptr);
