// Work shared out among the threads of a team in order, one stretch each.
#pragma once

#include <cstdint>

// First of the n items that thread t of a team of `team` threads takes: the
// stretches follow each other in thread order and differ by one item at most.
inline int share_start(int64_t n, int t, int team) { return static_cast<int>(n * t / team); }
