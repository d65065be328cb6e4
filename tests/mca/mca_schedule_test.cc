// Threshold schedules: the linear descent length, the exponential closed
// form, the MOM floor and cap, and the first-level rule.
#include "mca/mca_schedule.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(McaSchedule, TwoMaximaNeedStrictlySmallerSecond) {
  float m1 = 0, m2 = 0;
  mca_keep_two_max(10.f, m1, m2);
  EXPECT_EQ(m1, 10.f);
  EXPECT_EQ(m2, 0.f);
  mca_keep_two_max(10.f, m1, m2);  // equal maxima: the second stays
  EXPECT_EQ(m2, 0.f);
  mca_keep_two_max(4.f, m1, m2);
  EXPECT_EQ(m2, 4.f);
  mca_keep_two_max(12.f, m1, m2);  // the old first becomes second
  EXPECT_EQ(m1, 12.f);
  EXPECT_EQ(m2, 10.f);
  mca_keep_two_max(3.f, m1, m2);
  EXPECT_EQ(m2, 10.f);
}

TEST(McaSchedule, FirstLevelSitsJustAboveTheSecondMaximum) {
  EXPECT_FLOAT_EQ(mca_first_level(30.f, 10.f), 11.f);
  EXPECT_EQ(mca_first_level(30.f, 0.f), 30.f);
  // MOM: capped at 1.05 times the second maximum.
  EXPECT_FLOAT_EQ(mca_mom_level(30.f, 10.f), 10.5f);
  EXPECT_FLOAT_EQ(mca_mom_level(10.5f, 10.f), 10.025f);
  EXPECT_EQ(mca_mom_level(7.f, 0.f), 7.f);
}

TEST(McaSchedule, LinearDescentReachesTheLastLevelInExactlyNbrIter) {
  for (int nbr_iter : {2, 3, 10, 100, 1000}) {
    const float first = 47.3f, last = 3.f;
    float step = (first - last) / static_cast<float>(nbr_iter - 1);
    float lambda = first;
    int iterations = 0;
    for (int i = 0; i < nbr_iter && last < lambda; i++) {
      if (i > 0) lambda = mca_linear_lambda(lambda, step, last);
      iterations++;
    }
    EXPECT_EQ(iterations, nbr_iter);
    EXPECT_NEAR(lambda, last, 1e-3f * first) << nbr_iter;
  }
  EXPECT_EQ(mca_linear_lambda(3.1f, 1.f, 3.f), 3.f);  // never below the last level
}

TEST(McaSchedule, ExponentialDescentFollowsTheErfLaw) {
  const float last = 3.f, delta = 40.f;
  const int nbr_iter = 50;
  for (int i : {1, 5, 25, 49}) {
    double expected = 3.0 + 40.0 * std::erfc(2.8 * i / 50.0);
    EXPECT_NEAR(mca_exp_lambda(last, delta, i, nbr_iter), expected, 1e-4 * expected) << i;
  }
  EXPECT_GE(mca_exp_lambda(last, delta, nbr_iter, nbr_iter), last);
}

TEST(McaSchedule, MomStepHasAFloorAndLevelHasACap) {
  float step = 0;
  // (first - last) / (nbr_iter - i) = 0.1 is below noise/2 = 0.25.
  float lambda = mca_mom_lambda(10.f, 13.f, 3.f, 0, 100, 0.5f, step);
  EXPECT_FLOAT_EQ(step, 0.25f);
  EXPECT_FLOAT_EQ(lambda, 9.75f);
  // A large step: (13 - 3) / 2 = 5.
  lambda = mca_mom_lambda(10.f, 13.f, 3.f, 98, 100, 0.5f, step);
  EXPECT_FLOAT_EQ(step, 5.f);
  EXPECT_FLOAT_EQ(lambda, 5.f);
  // The level never rises above the latest first level.
  lambda = mca_mom_lambda(20.f, 8.f, 3.f, 10, 100, 0.5f, step);
  EXPECT_FLOAT_EQ(lambda, 8.f);
  // Nor falls below 0.
  lambda = mca_mom_lambda(0.1f, 8.f, 0.f, 99, 100, 0.5f, step);
  EXPECT_EQ(lambda, 0.f);
}
