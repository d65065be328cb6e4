// Raw byte buffers of the system and the optional swap-file memory behind them.
// By default alloc_buffer/free_buffer are malloc/free; after vms_init, large
// requests beyond a RAM limit become zero-filled files mapped into memory.
#pragma once

#include <cstddef>

#include "array/base_types.h"

extern int UseVMS;

// Bytes from the heap, or from the swap-file layer once it is switched on.
// Never returns null: a failure ends the process.
void* alloc_buffer(std::size_t size);
void free_buffer(void* p);
[[noreturn]] void memory_abort();

// Swap-file layer entry points used by the front end.
void* mem_alloc_buffer(std::size_t size);
void mem_free_buffer(void* p);

// Switches the swap-file layer on: RAM limit in megabytes (< 1 falls back to
// ZUB_VM_SIZE or the default) and swap directory (null or empty falls back to
// ZUB_VM_DIR or the default).
void vms_init(int size, const char* dir, Bool verbose);
