// Raw buffer front end. The swap-file layer behind it is switched on by vms_init.
#include "array/vms.h"

#include <cstdio>
#include <cstdlib>

#include "array/fatal.h"

int UseVMS = 0;

void memory_abort() {
  fatal_exit("Error: cannot allocate memory ... \n", -1, stderr);
}

void* alloc_buffer(std::size_t size) {
  void* p = UseVMS ? mem_alloc_buffer(size) : std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) memory_abort();
  return p;
}

void free_buffer(void* p) {
  if (p == nullptr) return;
  if (UseVMS) mem_free_buffer(p);
  else std::free(p);
}

// Placeholder swap-file layer: plain heap until the real layer lands.
void* mem_alloc_buffer(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }
void mem_free_buffer(void* p) { std::free(p); }
void vms_init(int, const char*, Bool) { UseVMS = 1; }
