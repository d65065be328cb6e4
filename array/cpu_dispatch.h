// Run-time choice of instruction set for the hot row loops: a loop body is
// written once as an always-inline function, compiled into one entry for the
// base instruction set and one for AVX2, and the entry is chosen by what the
// processor offers. AVX2 without fused multiply-adds performs the same IEEE
// operations on wider registers, so both entries give the same bits.
#pragma once

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

inline bool cpu_has_avx2() {
#if QZ_AVX2_ENTRY
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}
