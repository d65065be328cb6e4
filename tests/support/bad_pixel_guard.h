// Restores the bad-pixel globals of the image statistics whatever a test
// does with them, so that one test's setting never leaks into the next.
#pragma once

#include "array/im_util.h"

struct BadPixelGuard {
  ~BadPixelGuard() {
    BadPixel = 0;
    BadPixalVal = 0.f;
  }
};
