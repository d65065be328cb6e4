// Run-time choice of instruction set for the hot row loops: a loop body is
// written once as an always-inline function, compiled into one entry for the
// base instruction set and one for AVX2, and the entry is chosen by what the
// processor offers. AVX2 without fused multiply-adds performs the same IEEE
// operations on wider registers, so both entries give the same bits.
// The environment variable QZ_PLAIN_LOOPS forces the base entries.
#pragma once

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QZ_AVX2_ENTRY 1
#define QZ_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define QZ_AVX2_ENTRY 0
#define QZ_TARGET_AVX2
#endif

// Lambdas inside such a body are functions of their own, compiled for the
// base instruction set unless they are inlined too.
#if defined(__GNUC__)
#define QZ_ALWAYS_INLINE inline __attribute__((always_inline))
#define QZ_LAMBDA_INLINE __attribute__((always_inline))
#else
#define QZ_ALWAYS_INLINE inline
#define QZ_LAMBDA_INLINE
#endif

// QZ_PLAIN_LOOPS set to anything but "" or "0" makes every dispatched loop
// take its base entry, so that the code a processor without AVX2 runs can be
// tested on one that has it.
inline bool plain_loops_requested() {
  const char* value = std::getenv("QZ_PLAIN_LOOPS");
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

inline bool avx2_entries_wanted() {
#if QZ_AVX2_ENTRY
  return !plain_loops_requested() && __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

// The choice is made once, at the first dispatched call; an atomic only so
// that a test may make it again while no loop runs.
inline std::atomic<bool>& avx2_entries_chosen() {
  static std::atomic<bool> avx2(avx2_entries_wanted());
  return avx2;
}

// True when the dispatched loops take their AVX2 entries.
inline bool cpu_has_avx2() { return avx2_entries_chosen().load(std::memory_order_relaxed); }

// Reads the processor and QZ_PLAIN_LOOPS again, for tests that change the
// variable; never call it while a dispatched loop may run.
inline void cpu_dispatch_reread() {
  avx2_entries_chosen().store(avx2_entries_wanted(), std::memory_order_relaxed);
}
