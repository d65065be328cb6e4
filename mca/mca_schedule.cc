// Threshold schedules of the MCA iteration.
#include "mca/mca_schedule.h"

#include <cmath>

void mca_keep_two_max(float v, float& max1, float& max2) {
  if (v > max1) {
    max2 = max1;
    max1 = v;
  } else if (v > max2 && v < max1) {
    max2 = v;
  }
}

float mca_first_level(float max1, float max2) {
  return max2 > 0.f ? max2 + 0.05f * (max1 - max2) : max1;
}

float mca_mom_level(float max1, float max2) {
  if (max2 <= 0.f) return max1;
  float level = max2 + 0.05f * (max1 - max2);
  float cap = 1.05f * max2;
  return level < cap ? level : cap;
}

float mca_linear_lambda(float lambda, float step, float last_level) {
  lambda -= step;
  return lambda < last_level ? last_level : lambda;
}

float mca_exp_lambda(float last_level, float delta, int i, int nbr_iter) {
  double lambda = last_level + delta * (1. - std::erf(2.8 * i / nbr_iter));
  float result = static_cast<float>(lambda);
  return result < last_level ? last_level : result;
}

float mca_mom_lambda(float lambda, float first_level, float last_level, int i, int nbr_iter,
                     float& step) {
  float delta = first_level - last_level;
  step = delta / static_cast<float>(nbr_iter - i);
  // The levels are in noise units, whatever the image's units.
  if (step < MomSmallestStep) step = MomSmallestStep;
  float next = lambda - step;
  if (first_level < next) next = first_level;
  // Like the other schedules, the descent ends at the last level: a step
  // past it would put the noise into the components.
  if (next < last_level) next = last_level;
  return next < 0.f ? 0.f : next;
}
