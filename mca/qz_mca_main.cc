// qz_mca: separates an image into morphological components.
// Until the decomposition lands, the program takes its two file names and
// reports what it would do.
#include <cstdio>
#include <string>

#include "array/fatal.h"

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::printf("Usage: %s options in_image result\n\n", argv[0]);
    return -1;
  }
  std::printf("qz_mca: input %s, output %s\n", argv[1], argv[2]);
  return 0;
}
