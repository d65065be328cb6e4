// The walk from HDU to HDU as the FITS library walks it: where a header
// ends, and how many data bytes follow it, read from the cards the library
// reads for them, at the places it reads them and with its conversions.
// Every walk of a file's HDUs made before the library's (the checks of
// tile-compressed images, the gathering of compressed inputs and of the
// standard input) sizes them here, so that it lands where the library
// lands; a header the library would size otherwise than its cards say is
// refused, not guessed at.
#pragma once

#include <fitsio.h>

#include <cstddef>
#include <string>
#include <vector>

// Whether the first card of an HDU opens one where the library looks for
// it: SIMPLE at the file's start (`hdu` 0), XTENSION after it.
bool fits_opens_hdu(const char* first_card, int hdu);

// The structure of an image, a primary array or an image extension, as the
// library reads it: BITPIX as the second card, NAXIS as the third, then
// NAXIS1, NAXIS2, ... in order, each an integer as written (16.0 or '16'
// is none). Empty when read; else what is wrong, for a message: a card
// missing or misplaced, a value not an integer, NAXIS not 0 to 99. The
// values are the caller's to judge.
struct image_structure {
  long long bitpix = 0;
  std::vector<long long> axes;
};
std::string fits_image_structure(const char* cards, std::size_t size, image_structure* image);

// The bytes of an HDU after its header: `data` before the padding to whole
// blocks, `padded` after it; both -1 when they are more than any file
// holds (2^62 bytes), which the library's arithmetic would wrap around to
// a size that lands anywhere: a walk cannot go past such an HDU.
struct hdu_data {
  long long data = 0;
  long long padded = 0;
};
// What the library carries from one HDU to the next and sizes an HDU by:
// after a tile-compressed image it sizes an extension of a type it does not
// know by what that image left, not by the extension's cards (it looks for
// END from the ninth card on, and takes the data's size from the last
// image it read). A walk cannot follow it there; such an HDU is refused.
struct hdu_walk_state {
  // The HDU sized last is a tile-compressed image.
  bool after_compressed_image = false;
};
// The data of HDU `hdu` whose header is `cards` (`size` bytes, through its
// END), sized as the library sizes them after the HDUs `state` recalls,
// which it then recalls this one too. An image (a primary array, an
// image extension, or an extension of a type the library does not know):
// |BITPIX|/8 x GCOUNT x (PCOUNT + the product of the axis lengths, 0 for
// no axis), the first axis left out of random groups (NAXIS1 = 0 and
// GROUPS true), PCOUNT and GCOUNT the last cards so named after the axes
// (0 and 1 when absent). A table: NAXIS1 x NAXIS2 + PCOUNT, from the
// cards 2 to 7 that the library requires of it. Empty when sized; else
// what is wrong, for a message: a card the library requires missing,
// misplaced or unreadable, BITPIX not one of 8, 16, 32, 64, -32, -64, a
// negative length or count, an extension of a type the library does not
// know right after a tile-compressed image.
std::string fits_hdu_data(const char* cards, std::size_t size, int hdu, hdu_data* data, hdu_walk_state* state);
// The reason for a message when an HDU's data are more than any file holds.
extern const char fits_hdu_beyond_any_file[];
// More bytes than any file holds: sizes beyond it are saturated there
// rather than wrapped around.
constexpr long long kBeyondAnyFile = 1LL << 62;

// The HDU a selector selects (the text between a name's brackets: "1",
// "SCI,2", "1#"), as the library's open reads it: a number, or the names
// the HDU's EXTNAME or HDUNAME may give (in any letter case) and the
// version its EXTVER must give (0 for any), and the kind of HDU. One '#'
// that ends the selector (the library's "this HDU only") is no part of it:
// "1#" is HDU 1, and "SCI#" answers to SCI and SCI#, as the library's
// search does. `read` is false when the library cannot read it.
struct hdu_selector {
  bool read = false;
  int number = 0;
  std::vector<std::string> names;
  int version = 0, type = ANY_HDU;

  // Whether a name search takes HDU `hdu` (0 the primary) whose header is
  // `cards` (`size` bytes): the kind of HDU the library takes it for, then
  // a name the EXTNAME or HDUNAME it reads gives, in any letter case, then
  // the version its EXTVER gives (1 when absent or no integer, its low 32
  // bits as the library's int), when one is sought. Copies of these cards
  // that the library's search and astropy would answer otherwise are
  // refused (status -1), for the file `name`.
  bool selects(int hdu, const char* cards, std::size_t size, const std::string& name) const;
};
hdu_selector fits_hdu_selector(const std::string& text);

// Moves fptr to the first HDU a selector of names selects, as the library's
// open goes from the primary on; BAD_HDU_NUM when none does before the file
// ends or an HDU the library cannot read. Messages name the file `name`.
int fits_move_to_selected(fitsfile* fptr, const hdu_selector& selector, const std::string& name);

// A card's text fit for a message: its bytes outside printable ASCII as
// '?', its trailing blanks off.
std::string fits_card_shown(const char* card);

// Refuses (status -1) HDU `hdu` of the file `name`, which the walk cannot
// size as the library does, for the reason `fault`.
[[noreturn]] void fits_refuse_hdu(int hdu, const std::string& fault, const std::string& name);
