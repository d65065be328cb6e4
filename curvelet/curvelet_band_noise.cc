// The statistics row of a curvelet band (see curvelet_band_noise.h).
#include "curvelet/curvelet_band_noise.h"

#include "numerics/sample_stats.h"

void band_statistics(const to_array<float, false>& Band, to_array<float, true>& TabStat, int k) {
  double mean, sigma, skew, curt;
  float min, max;
  moment4(Band.buffer(), Band.n_elem(), mean, sigma, skew, curt, min, max);
  TabStat(k, 0) = static_cast<float>(sigma);
  TabStat(k, 1) = static_cast<float>(skew);
  TabStat(k, 2) = static_cast<float>(curt);
  TabStat(k, 3) = min;
  TabStat(k, 4) = max;
}
