// The coordinate cards of an image zoomed for super-resolution: what the
// header of the enlarged image must say so that a point of the sky keeps its
// place. The cards themselves are read and written by io/fits_header.h.
#pragma once

#include "io/fits_header.h"

// The record and its cards describe the image zoomed by factor, each pixel
// a block of factor x factor pixels: reference pixels, increments and the
// CD matrix of the first two axes, the alternate descriptions among them,
// SIP distortion terms, and the sizes. A point of the sky keeps its place.
void zoom_coordinates(fitsstruct* rec, int factor);
