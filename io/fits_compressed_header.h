// The header of a tile-compressed image, built from the cards of the table
// that stores it. The FITS library rebuilds it too, but only from tables
// laid out as its own compressor writes them: a card that astropy writes
// between the table's structure and its compression cards (BSCALE and BZERO
// of unsigned and signed-byte images) lands before XTENSION in the library's
// copy, which no reader then takes as a header.
#pragma once

#include <string>

// The image's cards, 80 bytes each and without END, from the table's cards
// (80 bytes each; an END card and what follows it are ignored): first the
// structure, from the cards the image's keywords were renamed to (ZSIMPLE or
// ZTENSION, else an XTENSION = 'IMAGE'; ZBITPIX, ZNAXIS, ZNAXISn in the order
// of their axes, ZPCOUNT and ZGCOUNT, else 0 and 1 for an extension); then
// every other card in the order written, the table's own structure, column
// and checksum cards, the compression cards and the default name of the
// table (a card beginning "EXTNAME = 'COMPRESSED_IMAGE'") left out, and ZEXTEND,
// ZBLOCKED, ZHECKSUM and ZDATASUM renamed. Cards are named as the FITS
// library names them (the Z-cards in any letter case, behind HIERARCH or a
// keyword ended early). A card written plainly keeps its value and comment;
// one in another form, or a structure card whose integer is not written as
// one (40.0, '40'), is written anew with the value the library reads in it.
// Copies of a structure card that the library reads alike are one card;
// copies that differ stay, for the header's reader to refuse. An empty text
// when ZBITPIX, ZNAXIS or one of the ZNAXISn it announces is missing.
std::string fits_compressed_image_cards(const std::string& table_cards);
