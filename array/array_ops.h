// Free functions over arrays that stand beside the members of to_array.
#pragma once

#include "array/to_array.h"

// Prints, as one line on standard output, the label and the minimum, maximum,
// flux, mean and standard deviation of a 2D image.
void INFO(const to_array<float, false>& image, const char* label);
