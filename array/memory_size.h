// How much memory the machine has, so that a reader can refuse an image
// that could never fit before it asks for the memory.
#pragma once

#include <cstdint>

// Bytes of physical memory of the machine; 0 when the system does not say.
std::uint64_t physical_memory_bytes();

// Bytes this process may still take without being refused or killed for
// them: the least of what the system has available (MemAvailable), what the
// process's limits on its address space and data leave, and what the limits
// of its control group and every group above it leave. Memory a memory
// file holds is charged to the group like any other. The largest value
// when the system says nothing of any of them.
std::uint64_t available_memory_bytes();
