// Index rules for reading outside an array of n samples.
#pragma once

#include "array/base_types.h"

int test_index_cont(int i, int n);
int test_index_mirror(int i, int n);
int test_index_period(int i, int n);

// Index for the 1D filter banks (rules 0 to 2).
int get_index(int i, int n, type_border border);

// Index for the 1D line and column convolutions of image smoothing (rules 0, 1).
int border_ind_test(int i, int n, type_border border);
