// The border rule applied to one index, for loops that walk rows through raw
// pointers and resolve only their edge taps: the same index the bordered
// accessor of to_array reads, or -1 where the zero rule leaves nothing.
#pragma once

#include <cstdio>

#include "array/base_types.h"
#include "array/border.h"
#include "array/fatal.h"

inline int border_index(int k, int n, type_border border) {
  if (k >= 0 && k < n) return k;
  switch (border) {
    case I_CONT: return test_index_cont(k, n);
    case I_MIRROR: return test_index_mirror(k, n);
    case I_PERIOD: return test_index_period(k, n);
    case I_ZERO: return -1;
  }
  fatal_exitf(-1, stdout, "Error: unknown border rule %d ...\n", static_cast<int>(border));
}
