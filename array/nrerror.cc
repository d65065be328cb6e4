// Failure exit of the small numerical toolkit.
#include "array/nrerror.h"

#include <cstdio>

#include "array/fatal.h"

void nrerror(const char* text) {
  fatal_exitf(1, stderr, "Run-time error...\n%s\n...now exiting to system...\n", text);
}
