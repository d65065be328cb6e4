// Fast curvelet noise model: norms from simulated noise (deterministic,
// close to the bands' own deviations), the thresholding levels, the Wiener
// filter against a brute-force window and on flat bands, and statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "curvelet/fcur.h"
#include "numerics/noise_simulation.h"
#include "support/test_images.h"

namespace {

void alloc_small(FCUR& f) { f.alloc_from_fine(3, 65, 65, 8); }

TEST(FcurNoise, NormsArePositiveDeterministicAndNearTheBandDeviations) {
  FCUR a, b;
  alloc_small(a);
  alloc_small(b);
  a.get_norm_coeff(3.f);
  b.get_norm_coeff(3.f);
  bool parts_differ = false;
  to_array<float, false> band;
  for (int s = 0; s < a.nbr_scale() - 1; s++)
    for (int k = 0; k < a.nbr_band(s); k++) {
      EXPECT_GT(a.norm_band(s, k), 0.f);
      EXPECT_EQ(a.norm_band(s, k), b.norm_band(s, k));
      if (k % 2 == 1 && a.norm_band(s, k) != a.norm_band(s, k - 1)) parts_differ = true;
      // The bands still hold the noise transform: a 3-sigma level over 3
      // is about their standard deviation.
      a.get_band(s, k, band);
      const double ratio = a.norm_band(s, k) / band.sigma();
      EXPECT_GT(ratio, 0.6) << s << " " << k;
      EXPECT_LT(ratio, 1.6) << s << " " << k;
    }
  EXPECT_TRUE(parts_differ) << "real and imaginary bands get their own norms";
  EXPECT_EQ(a.norm_band(a.nbr_scale() - 1, 0), 0.f);
}

// For an even side the noise is drawn at the padded working size (seed 10)
// and the transform takes the image's own size from its top-left corner.
TEST(FcurNoise, EvenSidesTakeTheCornerOfNoiseDrawnAtTheWorkingSize) {
  FCUR simulated, given;
  simulated.alloc_from_fine(3, 48, 48, 8);
  given.alloc_from_fine(3, 48, 48, 8);
  simulated.get_norm_coeff(3.f);
  to_array<float, false> padded(49, 49), corner(48, 48);
  im_noise_gaussian(padded, 1.f, 10);
  for (int i = 0; i < 48; i++)
    for (int j = 0; j < 48; j++) corner(i, j) = padded(i, j);
  given.get_norm_coeff(corner, 3.f);
  for (int s = 0; s < simulated.nbr_scale() - 1; s++)
    for (int k = 0; k < simulated.nbr_band(s); k++)
      EXPECT_EQ(simulated.norm_band(s, k), given.norm_band(s, k)) << s << " " << k;
}

TEST(FcurNoise, ThresholdLevelsKeepCoefficientsAtTheLevel) {
  FCUR f;
  alloc_small(f);
  f.get_norm_coeff(3.f);
  const float sigma = 2.f;
  const float t0 = 4.f * sigma * f.norm_band(0, 0);  // finest scale: one unit more
  const float t1 = 3.f * sigma * f.norm_band(1, 1);
  f(0, 0, 0, 0) = t0;
  f(0, 0, 0, 1) = std::nextafter(t0, 0.f);
  f(0, 0, 0, 2) = -t0;
  f(1, 1, 0, 0) = t1;
  f(1, 1, 0, 1) = std::nextafter(t1, 0.f);
  to_array<float, false> low_before;
  f.get_band(2, 0, low_before);
  f.threshold(sigma, 3.f);
  EXPECT_EQ(f(0, 0, 0, 0), t0);
  EXPECT_EQ(f(0, 0, 0, 1), 0.f);
  EXPECT_EQ(f(0, 0, 0, 2), -t0);
  EXPECT_EQ(f(1, 1, 0, 0), t1);
  EXPECT_EQ(f(1, 1, 0, 1), 0.f);
  to_array<float, false> low_after;
  f.get_band(2, 0, low_after);
  for (int k = 0; k < low_after.n_elem(); k++) ASSERT_EQ(low_after(k), low_before(k));
}

// The first pixel's window: its values were not filtered yet; reads outside
// mirror about the edge (index -k reads k).
float expected_first_pixel(const to_array<float, false>& band, int block, float sigma) {
  const int h = block / 2;
  float sum = 0.f;
  for (int k = -h; k <= h; k++)
    for (int l = -h; l <= h; l++) {
      const float v = band(std::abs(k), std::abs(l));
      sum += v * v;
    }
  const float m = sum / float(block * block);
  float v = m - sigma * sigma;
  if (v < 0.f) v = 0.f;
  return band(0, 0) * (v / m);
}

TEST(FcurNoise, WienerFilterWindowsAndFlatBands) {
  for (int block : {3, 4}) {
    FCUR f;
    alloc_small(f);
    f.get_norm_coeff(3.f);
    to_array<float, false> ima = random_image(65, 65, 12, 0.f, 50.f);
    f.cur_trans(ima);
    to_array<float, false> band, zeros;
    f.get_band(0, 0, band);
    const float noise = 0.5f;
    const float expected = expected_first_pixel(band, block, noise * f.norm_band(0, 0));
    f.get_band(1, 0, zeros);
    zeros.init(0.f);
    f.put_band(1, 0, zeros);
    f.wiener_filter(noise, block);
    EXPECT_FLOAT_EQ(f(0, 0, 0, 0), expected) << block;
    for (int i = 0; i < f.size_band_nl(1, 0); i++)
      for (int j = 0; j < f.size_band_nc(1, 0); j++)
        ASSERT_EQ(f(1, 0, i, j), 0.f) << "a flat band stays 0, not 0/0";
  }
}

TEST(FcurNoise, StatisticsOneRowPerBand) {
  FCUR f;
  alloc_small(f);
  to_array<float, false> ima = random_image(65, 65, 5);
  f.cur_trans(ima);
  to_array<float, true> stat;
  f.get_stat(stat);
  ASSERT_EQ(stat.nx(), f.nbr_tot_band());
  ASSERT_EQ(stat.ny(), 5);
  to_array<float, false> low;
  f.get_band(2, 0, low);
  double mean = 0., var = 0.;
  for (int k = 0; k < low.n_elem(); k++) mean += low(k);
  mean /= low.n_elem();
  for (int k = 0; k < low.n_elem(); k++) var += (low(k) - mean) * (low(k) - mean);
  const int last = f.nbr_tot_band() - 1;
  EXPECT_NEAR(stat(last, 0), std::sqrt(var / low.n_elem()), 1e-5);
  EXPECT_EQ(stat(last, 3), low.min());
  EXPECT_EQ(stat(last, 4), low.max());
}

}  // namespace
