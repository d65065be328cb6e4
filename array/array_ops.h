// Free functions over arrays that stand beside the members of to_array.
#pragma once

#include "array/to_array.h"

// Prints, as one line on standard output, the label and the minimum, maximum,
// flux, mean and standard deviation of a 2D image.
void INFO(const to_array<float, false>& image, const char* label);
// The same line for the image times `scale`, without forming it: the
// statistics of the image itself are scaled (exactly for a power of two), so
// that no square of a scaled value leaves the float range (the squares of
// 1e-30 are 0). A program that computes in other units than its data's
// shows them so.
void INFO(const to_array<float, false>& image, const char* label, double scale);
