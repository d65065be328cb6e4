// Small functions on single numbers used by every transform: absolute values,
// rounding, integer powers, powers of two and decimated band sizes, a float
// remainder, the soft and hard thresholding rules of one coefficient, and the
// next prime from a built-in table (block sizes of ridgelets and curvelets).
// The thresholding rules sit in the inner loops of the MCA projections, so
// the one-line helpers are inline.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "array/base_types.h"

inline float ABS(float x) { return x >= 0.f ? x : -x; }
inline double ABS(double x) { return x >= 0. ? x : -x; }
inline int ABS(int x) { return x >= 0 ? x : -x; }

// Half away from zero; -0 takes the positive branch.
inline int iround(double x) { return x >= 0. ? static_cast<int>(x + 0.5) : static_cast<int>(x - 0.5); }
inline int iround(float x) { return iround(static_cast<double>(x)); }

// 2^k rounded to the nearest integer (so POW2(-1) is 1 and POW2(-2) is 0).
inline int POW2(int k) { return iround(std::pow(2., k)); }

// a^b by repeated products; b <= 0 gives 1 and overflow wraps as 32 bits.
int IPOW(int a, int b);

// x - q*y with q = x/y truncated toward zero, all in single precision.
float REM(float x, float y);

// Both take the exponent as (int)(log n / log 2 + 0.3), exact for powers of
// two; next_power_of_2 returns the smallest power of two >= n (1 for n <= 0).
Bool is_power_of_2(int n);
int next_power_of_2(int n);

// Length of an axis of n samples after s decimations by two, (n + 1)/2 each.
inline int size_resol(int s, int n) {
  for (int i = 0; i < s; i++) n = (n + 1) / 2;
  return n;
}

// A magnitude equal to the threshold survives hard thresholding and becomes
// exactly 0 under soft thresholding; t <= 0 zeroes nothing.
// No floating operation depends on a comparison, so that loops over
// coefficients vectorise (the compiler may not make a subtraction conditional
// under trapping math): positive values move down by t and the others (+0
// included) up by t, as x - (-t) is exactly x + t, signed zeros included; the
// result is then masked to +0 below the threshold.
inline float soft_threshold(float x, float t) {
  const float shrunk = x - (x > 0.f ? t : -t);
  uint32_t shrunk_bits;
  std::memcpy(&shrunk_bits, &shrunk, sizeof shrunk_bits);
  shrunk_bits &= std::fabs(x) < t ? 0u : ~0u;
  float result;
  std::memcpy(&result, &shrunk_bits, sizeof result);
  return result;
}
inline float hard_threshold(float x, float t) { return std::fabs(x) < t ? 0.f : x; }

// The first 10000 primes, ascending, from 2 to 104729.
extern const unsigned int TabPrimeNumber10000[10000];

// Next prime from the built-in table; owns nothing.
class CPRIME_NUMBER {
 public:
  CPRIME_NUMBER();
  ~CPRIME_NUMBER() = default;

  // Smallest prime of the table not less than N; N above the largest prime
  // of the table ends the process.
  int next_prime_number(unsigned long N);
  // Ends the process when N exceeds the largest prime of the table.
  void test_n(unsigned long N);

  int NbrPrimeNumber;
  unsigned long MaxPrimeNumber;
  const unsigned int* TabPrimeNumber;
};
