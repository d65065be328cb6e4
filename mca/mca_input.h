// Preparation of the input of a run: the range check, the super-resolution
// zoom, the mask of missing pixels and the first guess that fills them; and
// the last check of the results before they are written.
#pragma once

#include <string>

#include "array/to_array.h"

class MCA;
class fitsstruct;

// Largest pixel magnitude the run's arithmetic takes for an image of
// nbr_pixels: the transforms sum pixels over the whole image (the zero
// frequency of a Fourier transform), and such a sum must stay a finite float.
double largest_input_magnitude(long nbr_pixels);

// The typical pixel magnitude of data: the median of |pixel| over the
// non-zero pixels; 0 when there is none.
float typical_magnitude(const to_array<float, false>& data);

// Whether a noise level is 0 or lost in the float resolution of pixel values
// of magnitude `typical` (0 included): a relative test, as the data may be in
// any units.
bool noise_negligible(float noise, float typical);

// The float step at the offset an image sits on, when its whole range spans
// no more than a few such steps: a noise the data had below that step was
// lost as they became floats, and only subtracting the offset where they
// are stored with more precision keeps it. 0 for any other image (pixels of
// both signs or 0, a constant image, a range of many steps).
float offset_float_step(const to_array<float, false>& data);

// Ends the run with status -1 and a message naming `name` when pixel values
// up to `largest` in magnitude, counted in units of the noise level, pass
// largest_input_magnitude: thresholds in noise units could not be formed.
void refuse_noise_below_range(float noise, float largest, long nbr_pixels,
                              const std::string& name);

// The power of two that takes a noise level near 1 when it is so far from 1
// that float products of pixel values could leave the float range (values
// near 1e-30 square below the smallest float); 1 for ordinary levels. It
// never takes pixel values up to `largest` in magnitude past
// largest_input_magnitude (nbr_pixels): then it is the largest power of two
// that keeps them within. Scaling by it is exact, so a separation of scaled
// data, scaled back, is the separation of the data themselves.
float unit_noise_scale(float noise, float largest, long nbr_pixels);

// Every pixel of ima times factor.
void scale_pixels(to_array<float, false>& ima, float factor);

// Ends the run with status -1 and a message naming `name` when a pixel of
// data is not a finite number; the message names BLANK when header, the
// input's, is that of an integer FITS image.
void refuse_non_finite_pixels(const to_array<float, false>& data, const fitsstruct& header,
                              const std::string& name);

// Ends the run with status -1 and a message naming `name` and the range when
// a pixel of Data lies beyond largest_input_magnitude.
void refuse_out_of_range_pixels(const to_array<float, false>& Data, const std::string& name);

// The last guard before the results named after `name` are written: when a
// component, the residual or the components' sum holds a pixel that is not a
// finite number, the run ends with status -1 and a message instead.
void refuse_non_finite_results(const MCA& mca, const char* name);

// Out(i, j) := the value of largest magnitude, with its sign, in the Win x Win
// window of In centred on (i, j) (edges clamped); ties keep the first met,
// the centre first. Out takes the size of In.
void abs_morpho_dilation(const to_array<float, false>& In, to_array<float, false>& Out, int Win);

// Fills the zero pixels of Data from their neighbours by repeated dilation
// while NbrMissing > 0. An image with no non-zero pixel cannot be filled: the
// process stops with a message.
void first_guess_interpol(to_array<float, false>& Data, int NbrMissing);

// Whether the image just read with `header` holds 8-bit values, 0 to 255:
// a GIF, PGM or JPEG file, a disp image of bytes, or a FITS image of BITPIX 8
// stored without scaling (BSCALE 1, BZERO 0); scaled bytes are other values.
bool eight_bit_data(const fitsstruct& header);

// Data := Data zoomed by ZoomFactor with cubic B-splines; LowResolIma := the
// image as it was; the header, when given, describes the zoomed pixels of
// the results: those of a separation with the mask of missing pixels when
// masked is true.
void zoom_input(to_array<float, false>& Data, to_array<float, false>& LowResolIma, int ZoomFactor,
                fitsstruct* header = nullptr, bool masked = false);

// Builds the mask of valid pixels for Data (Nl x Nc): with the zoom, the
// pixels on an even line or column; otherwise 0 for a zero pixel and for the
// image border, 0.5 for a valid pixel with a missing diagonal neighbour, 1
// else. Returns the number of missing pixels, Nl Nc minus the mask's sum.
float make_mask(const to_array<float, false>& Data, to_array<float, false>& Mask, bool zoom);
