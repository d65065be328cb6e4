// Reproducible uniform test images for the numerics tests.
#pragma once

#include <random>

#include "array/to_array.h"

inline to_array<float, false> random_image(int nl, int nc, unsigned seed, float lo = -1.f,
                                           float hi = 1.f) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(lo, hi);
  to_array<float, false> ima(nl, nc);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = dist(gen);
  return ima;
}
