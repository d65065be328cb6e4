// Border index rules. Every function returns an index inside [0, n-1] for
// n >= 1, so a caller can always read the array with it.
#include "array/border.h"

#include <cstdio>

int test_index_cont(int i, int n) {
  if (i < 0) return 0;
  if (i >= n) return n - 1;
  return i;
}

int test_index_mirror(int i, int n) {
  if (i < 0) {
    int k = -i;
    return k >= n ? n - 1 : k;
  }
  if (i >= n) {
    int k = 2 * n - i - 2;
    return k < 0 ? 0 : k;
  }
  return i;
}

int test_index_period(int i, int n) {
  // A modulo instead of repeated additions: the same index in constant time.
  int k = i % n;
  return k < 0 ? k + n : k;
}

int get_index(int i, int n, type_border border) {
  switch (border) {
    case I_CONT: return test_index_cont(i, n);
    case I_MIRROR: return test_index_mirror(i, n);
    case I_PERIOD: return test_index_period(i, n);
    default:
      std::printf("Error: bad parameter bord in  get_index");
      // Zero outside cannot be expressed as an index; clamping keeps the
      // caller's read inside the array.
      return test_index_cont(i, n);
  }
}

int border_ind_test(int i, int n, type_border border) {
  switch (border) {
    case I_CONT: return test_index_cont(i, n);
    case I_MIRROR: {
      int k = i;
      if (i < 0) k = -i;
      else if (i >= n) k = 2 * n - i - 2;
      // Indices more than one length outside would leave the array: clamp.
      return test_index_cont(k, n);
    }
    default:
      std::fprintf(stderr, "This border is not implemented in 1D routines ... \n");
      return test_index_cont(i, n);
  }
}
