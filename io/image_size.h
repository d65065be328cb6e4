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

// io_check_image_memory, then stops with a message naming the file when
// the image's bytes cannot be had from the heap now (the allocators would
// otherwise fail without saying which file asked).
void io_claim_image_memory(const char* name, long long nl, long long nc, long long bytes_per_pixel);

// Ima becomes nl x nc, named after the file, once the claim above passes.
template <class T>
void io_alloc_image(to_array<T, false>& Ima, int nl, int nc, const char* name) {
  io_claim_image_memory(name, nl, nc, static_cast<long long>(sizeof(T)));
  Ima.alloc(nl, nc, name);
}
