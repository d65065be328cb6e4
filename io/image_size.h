// Checks of the size an image file claims, made before any memory is taken
// for it: a few damaged header bytes must not cost the machine its memory,
// and a failed allocation must still say which file asked for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "array/to_array.h"

// True when nl x nc pixels of bytes_per_pixel bytes each make at most
// INT_MAX pixels (the most an image holds) and at most memory_bytes bytes;
// memory_bytes 0 means unknown and sets no limit.
bool io_image_size_possible(long long nl, long long nc, long long bytes_per_pixel,
                            std::uint64_t memory_bytes);

// Refuses, naming the file, an image that io_image_size_possible rejects
// against the machine's physical memory.
void io_check_image_memory(const char* name, long long nl, long long nc, long long bytes_per_pixel);

// Ends the process with a message naming the file when `bytes` cannot be
// had from the heap now (the allocators would otherwise fail anonymously).
void io_reserve_memory(std::size_t bytes, const char* name);

// Ima becomes nl x nc, named after the file, once the checks above pass.
template <class T>
void io_alloc_image(to_array<T, false>& Ima, int nl, int nc, const char* name) {
  io_check_image_memory(name, nl, nc, static_cast<long long>(sizeof(T)));
  io_reserve_memory(static_cast<std::size_t>(nl) * static_cast<std::size_t>(nc) * sizeof(T), name);
  Ima.alloc(nl, nc, name);
}
