// Narrowing of a pixel value to a stored integer type. Out-of-range values
// saturate to the type's range instead of keeping the low-order bits (a -1
// residual must not become 255 in a byte image).
#pragma once

#include <limits>

// Truncation toward zero into I, saturated to I's range; NaN gives 0.
template <class I>
inline I saturate(double v) {
  if (v != v) return 0;
  constexpr double lo = static_cast<double>(std::numeric_limits<I>::min());
  constexpr double hi = static_cast<double>(std::numeric_limits<I>::max());
  if (v <= lo) return std::numeric_limits<I>::min();
  if (v >= hi) return std::numeric_limits<I>::max();
  return static_cast<I>(v);
}

// Nearest value of I, halves away from zero (v + 0.5 or v - 0.5 truncated),
// saturated to I's range.
template <class I>
inline I round_saturate(double v) {
  return saturate<I>(v > 0. ? v + 0.5 : v - 0.5);
}
