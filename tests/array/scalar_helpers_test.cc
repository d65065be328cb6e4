// Rounding, powers of two, band sizes, thresholding rules and the prime table.
#include "array/scalar_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>
#include <random>

#include "support/death.h"

TEST(ScalarHelpers, IroundRoundsHalvesAwayFromZero) {
  EXPECT_EQ(iround(-1.4999), -1);
  // std::round has the same rule; every multiple of 1/8 in [-1000, 1000]
  // holds all the halves and avoids the one double just below 0.5 where
  // x + 0.5 itself rounds up.
  for (int eighths = -8000; eighths <= 8000; eighths++) {
    double x = eighths / 8.0;
    ASSERT_EQ(iround(x), static_cast<int>(std::round(x))) << x;
    ASSERT_EQ(iround(static_cast<float>(x)), static_cast<int>(std::round(x))) << x;
  }
}

TEST(ScalarHelpers, IntegerPowers) {
  EXPECT_EQ(POW2(-1), 1);
  EXPECT_EQ(POW2(-2), 0);
  EXPECT_EQ(IPOW(3, 4), 81);
  EXPECT_EQ(IPOW(2, 0), 1);
  EXPECT_EQ(IPOW(5, -2), 1);
  // 2^32 wraps to 0 as a 32-bit product.
  EXPECT_EQ(IPOW(2, 32), 0);
  for (int k = 0; k <= 30; k++) ASSERT_EQ(POW2(k), 1 << k);
}

TEST(ScalarHelpers, RemainderTruncatesTheQuotient) {
  EXPECT_EQ(REM(7.f, 3.f), 1.f);
  EXPECT_EQ(REM(-7.f, 3.f), -1.f);
  // For small exact values the truncated remainder is what fmod computes.
  for (int a = -50; a <= 50; a++)
    for (int b = 1; b <= 9; b++)
      ASSERT_EQ(REM(a * 0.5f, b * 0.25f), std::fmod(a * 0.5f, b * 0.25f)) << a << " " << b;
}

TEST(ScalarHelpers, PowerOfTwoTestsAgreeWithBitArithmetic) {
  for (int n : {0, -4}) EXPECT_EQ(is_power_of_2(n), False) << n;
  for (int n = 1; n <= (1 << 18); n++) {
    bool power = (n & (n - 1)) == 0;
    ASSERT_EQ(is_power_of_2(n) == True, power) << n;
    int64_t p = 1;
    while (p < n) p *= 2;
    ASSERT_EQ(next_power_of_2(n), p) << n;
  }
  // Large sizes, where the logarithms are least exact.
  for (int k = 18; k <= 30; k++) {
    int n = 1 << k;
    EXPECT_TRUE(is_power_of_2(n) && !is_power_of_2(n + 1) && !is_power_of_2(n - 1)) << n;
    EXPECT_EQ(next_power_of_2(n - 1), n);
  }
  EXPECT_EQ(next_power_of_2(-7), 1);
  EXPECT_EXIT_STATUS(next_power_of_2((1 << 30) + 1), 255, "power of two");
}

TEST(ScalarHelpers, SizeResolIsTheCeilingOfRepeatedHalving) {
  EXPECT_EQ(size_resol(2, 7), 2);
  // ceil(n / 2^s) in closed form.
  for (int n = 1; n < 3000; n++)
    for (int s = 0; s < 12; s++) ASSERT_EQ(size_resol(s, n), (n + (1 << s) - 1) >> s);
}

TEST(ScalarHelpers, ThresholdRules) {
  EXPECT_EQ(soft_threshold(2.f, 2.f), 0.f);
  EXPECT_EQ(hard_threshold(2.f, 2.f), 2.f);
  // A non-positive threshold zeroes nothing and moves values away from zero.
  EXPECT_EQ(soft_threshold(0.f, -1.f), -1.f);
  EXPECT_EQ(soft_threshold(-3.f, -1.f), -4.f);
  EXPECT_EQ(hard_threshold(-0.5f, -1.f), -0.5f);
  // For t > 0: soft = sign(x) max(|x| - t, 0), hard keeps |x| >= t.
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> value(-10.f, 10.f), level(0.01f, 5.f);
  for (int k = 0; k < 20000; k++) {
    float x = value(gen), t = level(gen);
    float shrunk = std::copysign(std::max(std::fabs(x) - t, 0.f), x);
    ASSERT_EQ(soft_threshold(x, t), shrunk == 0.f ? 0.f : shrunk) << x << " " << t;
    ASSERT_EQ(hard_threshold(x, t), std::fabs(x) >= t ? x : 0.f) << x << " " << t;
  }
}

namespace {

uint32_t bits(float x) {
  uint32_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// The rules written with a branch on the sign, as they were first defined.
float branchy_soft(float x, float t) {
  if ((x >= 0.f ? x : -x) < t) return 0.f;
  if (x > 0.f) return x - t;
  return x + t;
}
float branchy_hard(float x, float t) { return (x >= 0.f ? x : -x) < t ? 0.f : x; }

// Signed zeros, the level itself and its neighbouring floats, subnormals,
// huge values and infinities (no NaN), for levels of either sign.
std::vector<float> awkward_values(float level) {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> v = {0.f, -0.f, 1e-45f, -1e-45f, 1e-38f, 3e38f, -3e38f, inf, -inf, 1.f, -1.f};
  for (float m : {level, -level, 2.f * level, 0.5f * level}) {
    v.push_back(m);
    v.push_back(std::nextafter(m, inf));
    v.push_back(std::nextafter(m, -inf));
  }
  return v;
}

}  // namespace

TEST(ScalarHelpers, ThresholdRulesMatchTheBranchyDefinitionBitForBit) {
  std::vector<float> levels = {0.f, -0.f, 1e-45f, 0.25f, 1.f, 3.5f, 1e30f, -0.25f, -2.f};
  std::mt19937 gen(11);
  std::uniform_real_distribution<float> level(-50.f, 50.f);
  for (int k = 0; k < 200; k++) levels.push_back(level(gen));
  std::uniform_real_distribution<float> value(-100.f, 100.f);
  for (float t : levels) {
    std::vector<float> values = awkward_values(t);
    for (int k = 0; k < 500; k++) values.push_back(value(gen));
    for (float x : values) {
      ASSERT_EQ(bits(soft_threshold(x, t)), bits(branchy_soft(x, t))) << x << " " << t;
      ASSERT_EQ(bits(hard_threshold(x, t)), bits(branchy_hard(x, t))) << x << " " << t;
    }
  }
}

namespace {
bool is_prime(unsigned long n) {
  if (n < 2) return false;
  for (unsigned long d = 2; d * d <= n; d++)
    if (n % d == 0) return false;
  return true;
}
}  // namespace

TEST(PrimeNumbers, TableAndNextPrimeAgreeWithTrialDivision) {
  unsigned long candidate = 1;
  for (int i = 0; i < 10000; i++) {
    do candidate++;
    while (!is_prime(candidate));
    ASSERT_EQ(TabPrimeNumber10000[i], candidate) << i;
  }
  CPRIME_NUMBER primes;
  EXPECT_EQ(primes.next_prime_number(0), 2);
  EXPECT_EQ(primes.next_prime_number(104729), 104729);
  for (unsigned long n = 2; n <= 104729; n += 37) {
    unsigned long p = n;
    while (!is_prime(p)) p++;
    ASSERT_EQ(static_cast<unsigned long>(primes.next_prime_number(n)), p) << n;
  }
  EXPECT_EXIT_STATUS(primes.next_prime_number(104730), 255,
                     "Error in CPRIME_NUMBER: N is too high : 104730");
}
