// Grey-level erosion (minimum) and dilation (maximum) of an image over a
// square, a 4-connected cross or a disc, for float images (clamped reads at
// the edges) and raw int buffers (interior only). On ties the value already
// held stays: comparisons are strict and the centre pixel starts.
#pragma once

#include "array/to_array.h"

// Square of side 2h + 1, h = (W - 1) / 2.
void morpho_erosion(const to_array<float, false>& In, to_array<float, false>& Out, int W);
void morpho_dilation(const to_array<float, false>& In, to_array<float, false>& Out, int W);
// Centre and the four pixels d = 2^n away, compared in the order below,
// above, right, left.
void morpho4_erosion(const to_array<float, false>& In, to_array<float, false>& Out, int n);
void morpho4_dilation(const to_array<float, false>& In, to_array<float, false>& Out, int n);
// The square without its four corners.
void morpho_cercle_erosion(const to_array<float, false>& In, to_array<float, false>& Out, int W);
void morpho_cercle_dilation(const to_array<float, false>& In, to_array<float, false>& Out, int W);

// Int buffers of Nl x Nc pixels: the square of side 2h - 1 (or the disc),
// computed only at least h + 1 from every edge; the border of width h + 1
// is set to 0.
void morphoi_erosion(const int* In, int* Out, int Nl, int Nc, int W);
void morphoi_dilation(const int* In, int* Out, int Nl, int Nc, int W);
void morphoi_cercle_erosion(const int* In, int* Out, int Nl, int Nc, int W);
void morphoi_cercle_dilation(const int* In, int* Out, int Nl, int Nc, int W);
// Zeroes the first and last Border lines and columns, as far as the image
// reaches.
void i_clean_border(int* Ima, int Nl, int Nc, int Border);
