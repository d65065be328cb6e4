// Threshold schedules: the two-maxima rule, the first levels, the linear
// descent length, the exponential closed form, the MOM floor and cap.
#include "mca/mca_schedule.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(McaSchedule, TwoMaximaAndFirstLevels) {
  float m1 = 0, m2 = 0;
  const float seen[] = {10.f, 10.f, 4.f, 12.f, 3.f};
  // Equal maxima leave the second alone; a new first pushes the old one down.
  const float want1[] = {10.f, 10.f, 10.f, 12.f, 12.f}, want2[] = {0.f, 0.f, 4.f, 10.f, 10.f};
  for (int k = 0; k < 5; k++) {
    mca_keep_two_max(seen[k], m1, m2);
    EXPECT_EQ(m1, want1[k]) << k;
    EXPECT_EQ(m2, want2[k]) << k;
  }
  EXPECT_FLOAT_EQ(mca_first_level(30.f, 10.f), 11.f);
  EXPECT_EQ(mca_first_level(30.f, 0.f), 30.f);
  EXPECT_FLOAT_EQ(mca_mom_level(30.f, 10.f), 10.5f);  // capped at 1.05 x the second
  EXPECT_FLOAT_EQ(mca_mom_level(10.5f, 10.f), 10.025f);
  EXPECT_EQ(mca_mom_level(7.f, 0.f), 7.f);
}

TEST(McaSchedule, LinearStepNeverPassesTheLastLevel) {
  EXPECT_EQ(mca_linear_lambda(3.1f, 1.f, 3.f), 3.f);
  EXPECT_FLOAT_EQ(mca_linear_lambda(10.f, 1.5f, 3.f), 8.5f);
}

TEST(McaSchedule, ExponentialDescentFollowsTheErfLaw) {
  for (int i : {1, 5, 25, 49}) {
    double expected = 3.0 + 40.0 * std::erfc(2.8 * i / 50.0);
    EXPECT_NEAR(mca_exp_lambda(3.f, 40.f, i, 50), expected, 1e-4 * expected) << i;
  }
  EXPECT_GE(mca_exp_lambda(3.f, 40.f, 50, 50), 3.f);
}

// The levels are in noise units, so the step's floor is half a unit, not
// half the noise level in the image's units.
TEST(McaSchedule, MomStepHasAFloorAndLevelHasACap) {
  const struct {
    float lambda, first, last;
    int i;
    float step, next;
  } cases[] = {
      {10.f, 13.f, 3.f, 0, 0.5f, 9.5f},    // (13 - 3) / 100 is below half a unit
      {10.f, 13.f, 3.f, 80, 0.5f, 9.5f},   // (13 - 3) / 20 is the floor itself
      {10.f, 13.f, 3.f, 98, 5.f, 5.f},     // (13 - 3) / 2
      {3.4f, 13.f, 3.f, 0, 0.5f, 3.f},     // the floor does not pass the last level
      {20.f, 8.f, 3.f, 10, 0.5f, 8.f},     // never above the latest first level
      {4.f, 13.f, 3.f, 98, 5.f, 3.f},      // nor below the last level
      {0.1f, 8.f, 0.f, 99, 8.f, 0.f},      // nor below 0
  };
  for (const auto& c : cases) {
    float step = 0;
    EXPECT_FLOAT_EQ(mca_mom_lambda(c.lambda, c.first, c.last, c.i, 100, step), c.next) << c.i;
    EXPECT_FLOAT_EQ(step, c.step) << c.i;
  }
}
