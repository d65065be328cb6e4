// The float-table DCT engine of the block transforms: every power-of-two
// length against a direct long-double sum, the inverse against the input,
// and vectors that give the same bits alone or in a group.
#include "numerics/dct_lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "support/test_images.h"
#include "support/tolerance.h"

TEST(DctLanes, EveryLengthMatchesTheDirectSumAndInverts) {
  const long double Pi = 3.141592653589793238462643383279502884L;
  for (int n = 2; n <= 1024; n *= 2) {
    const int lanes = 3;
    std::vector<float> input(static_cast<size_t>(n) * lanes);
    to_array<float, false> values = random_image(n, lanes, n, -1.f, 1.f);
    std::memcpy(input.data(), values.buffer(), sizeof(float) * input.size());
    std::vector<float> data = input, scratch(lanes);
    const DctLanes& plan = dct_lanes(n);
    ASSERT_EQ(plan.size(), n);
    plan.forward(data.data(), lanes, scratch.data());
    // cos(πk(j + ½)/n) = cos(πm/(2n)) with m = k(2j + 1) taken modulo 4n.
    std::vector<long double> cosine(4 * n);
    for (int m = 0; m < 4 * n; m++) cosine[m] = std::cos(Pi * m / (2 * n));
    std::vector<float> expected(data.size());
    for (int v = 0; v < lanes; v++)
      for (int k = 0; k < n; k++) {
        long double sum = 0;
        for (int j = 0; j < n; j++)
          sum += input[static_cast<size_t>(j) * lanes + v] * cosine[(k * (2 * j + 1)) % (4 * n)];
        expected[static_cast<size_t>(k) * lanes + v] = static_cast<float>(sum);
      }
    EXPECT_LT(qz_test::relative_l2_error(data.data(), expected.data(), data.size()),
              qz_test::transform_tolerance<float>(n))
        << n;
    plan.inverse(data.data(), lanes, scratch.data());
    for (float& x : data) x *= 2.f / n;
    EXPECT_LT(qz_test::relative_l2_error(data.data(), input.data(), data.size()),
              2 * qz_test::transform_tolerance<float>(n))
        << n;
  }
}

TEST(DctLanes, AVectorGivesTheSameBitsAloneOrInAGroup) {
  const int n = 64, lanes = 7;
  to_array<float, false> group = random_image(n, lanes, 4, -10.f, 10.f);
  std::vector<float> scratch(lanes);
  std::vector<float> grouped(group.buffer(), group.buffer() + n * lanes);
  const DctLanes& plan = dct_lanes(n);
  plan.forward(grouped.data(), lanes, scratch.data());
  std::vector<float> inverse = grouped;
  plan.inverse(inverse.data(), lanes, scratch.data());
  for (int v = 0; v < lanes; v++) {
    std::vector<float> alone(n);
    for (int e = 0; e < n; e++) alone[e] = group(e, v);
    plan.forward(alone.data(), 1, scratch.data());
    for (int e = 0; e < n; e++) ASSERT_EQ(alone[e], grouped[e * lanes + v]) << v << " " << e;
    plan.inverse(alone.data(), 1, scratch.data());
    for (int e = 0; e < n; e++) ASSERT_EQ(alone[e], inverse[e * lanes + v]) << v << " " << e;
  }
}
