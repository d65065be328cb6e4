// The threshold schedules of the MCA iteration and the rule that derives a
// first level from the largest normalised coefficients of the bases. Kept as
// free functions so that the iteration and its tests share one definition.
#pragma once

// Keeps the largest and the second largest of the values seen: v becomes the
// largest when strictly above it (the old largest becomes second), and the
// second when strictly between the two. Equal maxima leave the second alone.
void mca_keep_two_max(float v, float& max1, float& max2);

// First level from the two maxima: slightly above the second one when there
// is one, so that the first iteration already separates the bases.
float mca_first_level(float max1, float max2);
// The same rule for the MOM schedule, capped at 1.05 times the second maximum.
float mca_mom_level(float max1, float max2);

// Linear schedule: one step down, not below the last level.
float mca_linear_lambda(float lambda, float step, float last_level);
// Exponential schedule at iteration i of nbr_iter: last + delta (1 - erf(2.8 i / nbr_iter)),
// in double precision, not below the last level.
float mca_exp_lambda(float last_level, float delta, int i, int nbr_iter);
// The smallest step of the MOM schedule: half a noise unit.
constexpr float MomSmallestStep = 0.5f;
// MOM schedule at iteration i: the step is (first - last) / (nbr_iter - i),
// at least MomSmallestStep; the level never rises above the latest first
// level and never falls below the last level (nor 0). Returns the new level
// and sets step.
float mca_mom_lambda(float lambda, float first_level, float last_level, int i, int nbr_iter,
                     float& step);
