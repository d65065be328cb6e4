// The MCA's coefficient rule over a run of coefficients: hard thresholding at
// the level, or soft thresholding at half the level with the L1 norm, where
// the level of each coefficient may carry the correlation term. One flat
// loop per rule and per form of the level, so that no test is left inside
// the loop but the threshold itself: the projections spend their time here.
#pragma once

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "array/scalar_helpers.h"

// Below this many pixels a loop is not worth the threads' start.
constexpr int64_t ParallelPixels = 1 << 15;

namespace mca_detail {

template <class Rule>
inline void update_span(float* coef, const float* correl, int64_t n, float level, float lambda,
                        float correl_constraint, Rule rule) {
  if (correl == nullptr) {
#pragma omp simd
    for (int64_t k = 0; k < n; k++) coef[k] = rule(coef[k], level);
  } else {
#pragma omp simd
    for (int64_t k = 0; k < n; k++)
      coef[k] = rule(coef[k], level + std::fabs(correl[k]) * lambda * correl_constraint);
  }
}

}  // namespace mca_detail

// coef[k] := MCA::mca_update(coef[k], T_k) for k < n, with T_k = level, or,
// when correl is given, level + |correl[k]| * lambda * correl_constraint
// (the correlation term, in that order of products). No threads of its own:
// for callers that share a transform's lines among their threads.
inline void mca_update_span(float* coef, const float* correl, int64_t n, float level,
                            float lambda, float correl_constraint, bool use_norm_l1) {
  if (use_norm_l1)
    mca_detail::update_span(coef, correl, n, level, lambda, correl_constraint,
                            [](float c, float t) { return soft_threshold(c, t / 2.f); });
  else
    mca_detail::update_span(coef, correl, n, level, lambda, correl_constraint,
                            [](float c, float t) { return hard_threshold(c, t); });
}

// The same over the threads. Each coefficient depends on itself alone: the
// result does not depend on how the run is cut. Called from inside a
// parallel region (one line of a band per call), it opens none of its own.
inline void mca_update_coefficients(float* coef, const float* correl, int64_t n, float level,
                                    float lambda, float correl_constraint, bool use_norm_l1) {
  if (n <= ParallelPixels || omp_in_parallel()) {
    mca_update_span(coef, correl, n, level, lambda, correl_constraint, use_norm_l1);
    return;
  }
  constexpr int64_t Chunk = 4096;
  const int64_t chunks = (n + Chunk - 1) / Chunk;
#pragma omp parallel for schedule(static)
  for (int64_t c = 0; c < chunks; c++) {
    const int64_t first = c * Chunk;
    mca_update_span(coef + first, correl == nullptr ? nullptr : correl + first,
                    std::min(Chunk, n - first), level, lambda, correl_constraint, use_norm_l1);
  }
}
