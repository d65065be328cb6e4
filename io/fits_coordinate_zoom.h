// The coordinate cards of an image zoomed for super-resolution: what the
// header of the enlarged image must say so that a point of the sky keeps its
// place, and the descriptions those cards set up (an image section reads
// them too). The cards themselves are read and written by io/fits_header.h.
#pragma once

#include <set>
#include <string>

#include "io/fits_header.h"

// The letters of the coordinate descriptions that the keywords (in upper
// case) set up: ' ' for the primary one, 'A' to 'Z' for the alternates.
std::set<char> coordinate_descriptions(const std::set<std::string>& keys);
// Whether the keywords hold a term of that description's CD matrix.
bool has_cd_matrix(const std::set<std::string>& keys, char letter);

// Where the pixels of an image zoomed by a factor f sit on the input's grid.
enum class ZoomGrid {
  // Each input pixel is a block of f x f pixels, its centre in the block's.
  blocks,
  // Pixel q (from 0) samples the input at q / f: each input pixel sits on the
  // first pixel of its block.
  samples,
};

// The record and its cards describe the image zoomed by factor on the given
// grid: reference pixels, increments and the CD matrix of the first two axes,
// the terms that tie a plane's other world axes to them, the alternate
// descriptions among them, IRAF's physical pixels, SIP
// distortion terms, and the sizes. A point of the sky keeps its place. Such a
// card left out stands for a default that no longer holds, and is written.
// Refuses (status -1) a zoom that takes a card past the largest real
// (card_arithmetic).
void zoom_coordinates(fitsstruct* rec, int factor, ZoomGrid grid);
