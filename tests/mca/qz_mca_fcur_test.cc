// Runs of qz_mca with the fast curvelet base (-t 8) on a synthetic image of
// oriented stripes and a smooth bump: the result files add up to the input,
// alone and beside the a trous base, and -n, -K, -M, -P and -c act on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "support/qz_mca_program.h"
#include "support/test_images.h"

namespace {

FitsImage stripes(int n, unsigned seed) {
  const to_array<float, false> ima = striped_bump_image(n, seed);
  FitsImage fits(n, n);
  for (int k = 0; k < n * n; k++) fits.pixels[k] = ima(k);
  return fits;
}

double mean(const FitsImage& ima) {
  double s = 0;
  for (float p : ima.pixels) s += p;
  return s / ima.pixels.size();
}

double rms(const FitsImage& ima) {
  double s = 0;
  for (float p : ima.pixels) s += double(p) * p;
  return std::sqrt(s / ima.pixels.size());
}

class QzMcaFcur : public QzMcaProgram {};

TEST_F(QzMcaFcur, AloneTheComponentAndTheResidualAddUpToTheInput) {
  const FitsImage in = stripes(48, 1);
  write_fits(path("in.fits"), in);
  ASSERT_EQ(run("-t 8 -i 10 -g 1 -n 4 -v in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("Selection: Curvelet transform 04 (Fast Transform)"));
  EXPECT_TRUE(printed("FCUR MAX_NormCoef = "));
  const FitsImage fcur = result("out_fcur.fits"), resi = result("out_resi.fits"),
                  sum = result("out.fits");
  ASSERT_EQ(fcur.nl, 48);
  ASSERT_EQ(fcur.nc, 48);
  for (size_t k = 0; k < in.pixels.size(); k++) {
    ASSERT_NEAR(sum.pixels[k] + resi.pixels[k], in.pixels[k], 1e-3f);
    ASSERT_EQ(sum.pixels[k], fcur.pixels[k]);
    ASSERT_GE(fcur.pixels[k], 0.f);  // positivity by default
  }
  // The stripes and the bump go to the component; the residual is noise.
  EXPECT_LT(rms(resi), 2.0);
}

TEST_F(QzMcaFcur, BesideTheAtrousBaseTheSumAddsUp) {
  const FitsImage in = stripes(47, 2);  // odd side: no padding
  write_fits(path("in.fits"), in);
  ASSERT_EQ(run("-t 1 -t 8 -i 8 -g 1 -n 4 in.fits out.fits"), 0) << output_;
  const FitsImage atrou = result("out_atrou.fits"), fcur = result("out_fcur.fits"),
                  resi = result("out_resi.fits"), sum = result("out.fits");
  for (size_t k = 0; k < in.pixels.size(); k++) {
    ASSERT_NEAR(sum.pixels[k], atrou.pixels[k] + fcur.pixels[k], 1e-3f);
    ASSERT_NEAR(sum.pixels[k] + resi.pixels[k], in.pixels[k], 1e-3f);
  }
  EXPECT_GT(rms(fcur), 1.0);
}

TEST_F(QzMcaFcur, KillMadPositivityAndCorrelationOptions) {
  const FitsImage in = stripes(40, 3);
  write_fits(path("in.fits"), in);
  // -K removes the coarsest scale: the mean level stays in the residual;
  // -P lets the component go below zero.
  ASSERT_EQ(run("-t 8 -i 6 -g 1 -n 3 -K -P in.fits k.fits"), 0) << output_;
  const FitsImage killed = result("k_fcur.fits");
  EXPECT_LT(std::fabs(mean(killed)), 5.0);
  EXPECT_GT(mean(result("k_resi.fits")), 30.0);
  EXPECT_LT(*std::min_element(killed.pixels.begin(), killed.pixels.end()), 0.f);
  // Kept, the coarsest scale carries the mean into the component.
  ASSERT_EQ(run("-t 8 -i 6 -g 1 -n 3 in.fits keep.fits"), 0) << output_;
  EXPECT_GT(mean(result("keep_fcur.fits")), 30.0);
  // MAD levels and the correlation term with a second base still add up.
  ASSERT_EQ(run("-t 1 -t 8 -i 6 -g 1 -n 3 -M -c 0.5 in.fits mc.fits"), 0) << output_;
  const FitsImage sum = result("mc.fits"), resi = result("mc_resi.fits");
  for (size_t k = 0; k < in.pixels.size(); k++)
    ASSERT_NEAR(sum.pixels[k] + resi.pixels[k], in.pixels[k], 1e-3f);
}

// A low-pass plane too small for its window would silently lose the mean.
TEST_F(QzMcaFcur, TooManyScalesForTheImageAreRefused) {
  write_fits(path("in.fits"), stripes(24, 4));
  EXPECT_EQ(run("-t 8 -i 4 -g 1 -n 5 in.fits out.fits"), 255);
  EXPECT_TRUE(printed("too many scales (5) for an image of 24 x 24")) << output_;
  EXPECT_FALSE(exists("out.fits"));
  EXPECT_FALSE(exists("out_fcur.fits"));
}

}  // namespace
