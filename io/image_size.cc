// Claimed image sizes against what an image and the machine can hold.
#include "io/image_size.h"

#include <climits>
#include <cstdlib>

#include "array/fatal.h"
#include "array/memory_size.h"

bool io_image_size_possible(long long nl, long long nc, long long bytes_per_pixel,
                            std::uint64_t memory_bytes) {
  if (nl < 0 || nc < 0 || bytes_per_pixel < 0) return false;
  // The sides are tested first, so that their product cannot overflow.
  if (nl > INT_MAX || nc > INT_MAX || nl * nc > INT_MAX) return false;
  const std::uint64_t bytes = static_cast<std::uint64_t>(nl * nc) * static_cast<std::uint64_t>(bytes_per_pixel);
  return memory_bytes == 0 || bytes <= memory_bytes;
}

void io_check_image_memory(const char* name, long long nl, long long nc, long long bytes_per_pixel) {
  if (!io_image_size_possible(nl, nc, bytes_per_pixel, 0))
    fatal_exitf(-1, stderr, "Error: an image of %lld x %lld pixels is too large ... (%s)\n", nl, nc, name);
  const std::uint64_t memory = physical_memory_bytes();
  if (!io_image_size_possible(nl, nc, bytes_per_pixel, memory))
    fatal_exitf(-1, stderr,
                "Error: an image of %lld x %lld pixels needs more than the %llu MB of memory of this machine ... (%s)\n",
                nl, nc, static_cast<unsigned long long>(memory >> 20), name);
}

void io_claim_image_memory(const char* name, long long nl, long long nc, long long bytes_per_pixel) {
  io_check_image_memory(name, nl, nc, bytes_per_pixel);
  const std::size_t bytes = static_cast<std::size_t>(nl * nc * bytes_per_pixel);
  // volatile: Clang drops a malloc whose block is only tested and freed.
  void* volatile probe = std::malloc(bytes == 0 ? 1 : bytes);
  if (probe == nullptr)
    fatal_exitf(-1, stderr, "Error: cannot allocate %zu bytes of memory ... (%s)\n", bytes, name);
  std::free(probe);
}
