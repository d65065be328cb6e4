// How much memory the machine has, so that a reader can refuse an image
// that could never fit before it asks for the memory.
#pragma once

#include <cstdint>

// Bytes of physical memory of the machine; 0 when the system does not say.
std::uint64_t physical_memory_bytes();
