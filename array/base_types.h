// Small shared types of the whole system: its own two-valued boolean and the
// rule for reading outside an array.
#pragma once

enum Bool { False = 0, True = 1 };

// How a read outside an array is resolved.
enum type_border {
  I_CONT = 0,    // clamp to the nearest edge sample
  I_MIRROR = 1,  // reflect about the edge sample, which is not repeated
  I_PERIOD = 2,  // wrap around
  I_ZERO = 3     // zero outside
};
