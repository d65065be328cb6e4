// Runs of qz_mca with the wavelet packets (-t 6), the multiscale local DCT
// (-t 9) and the test mode (-X): components that add up to the input, the
// options that act on these bases, the refusal of a run whose bases give no
// first level, and the test mode's reconstruction.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/qz_mca_program.h"
#include "support/test_images.h"

namespace {

// Stripes over a disc plus noise: texture and edges for both bases.
FitsImage scene(int n, float sigma, unsigned seed) {
  to_array<float, false> noise = normal_image(n, n, seed, sigma);
  FitsImage ima(n, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      const double r2 = (i - n / 2.) * (i - n / 2.) + (j - n / 2.) * (j - n / 2.);
      ima.at(i, j) = (r2 < n * n / 16. ? 40.f : 10.f) + 8.f * std::sin(0.9 * j) + noise(i, j);
    }
  return ima;
}

class QzMcaPacketsMdct : public QzMcaProgram {
 protected:
  // Largest |sum + residual - input| of a run written under out.
  double largest_gap(const FitsImage& in, const std::string& out) const {
    FitsImage sum = result(out + ".fits"), resi = result(out + "_resi.fits");
    if (sum.pixels.size() != in.pixels.size() || resi.pixels.size() != in.pixels.size()) return 1e30;
    double gap = 0;
    for (size_t k = 0; k < in.pixels.size(); k++)
      gap = std::max(gap, double(std::fabs(sum.pixels[k] + resi.pixels[k] - in.pixels[k])));
    return gap;
  }
};

}  // namespace

TEST_F(QzMcaPacketsMdct, WaveletPacketsAloneAndWithOtherBases) {
  FitsImage in = scene(64, 1.f, 4u);
  write_fits(path("in.fits"), in);
  ASSERT_EQ(run("-t 6 -n 3 -i 6 -g 1 -v in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("64 64 3 2\n"));
  EXPECT_TRUE(printed("WP MAX_NormCoef = "));
  EXPECT_TRUE(printed("WP proj "));
  EXPECT_TRUE(exists("out_wp.fits"));
  EXPECT_LT(largest_gap(in, "out"), 1e-3);
  // The component takes the scene, not the noise: the residual is noise-like.
  FitsImage resi = result("out_resi.fits");
  double s2 = 0;
  for (float p : resi.pixels) s2 += double(p) * p;
  EXPECT_LT(std::sqrt(s2 / resi.pixels.size()), 2.0);

  ASSERT_EQ(run("-t 1 -t 6 -n 3 -U 0 -i 4 -g 1 -c 0.5 in.fits two.fits"), 0) << output_;
  EXPECT_TRUE(printed("64 64 3 0\n"));
  EXPECT_TRUE(exists("two_atrou.fits"));
  EXPECT_LT(largest_gap(in, "two"), 1e-3);
}

TEST_F(QzMcaPacketsMdct, OptionsActOnTheWaveletPackets) {
  write_fits(path("in.fits"), scene(32, 1.f, 6u));
  // MAD levels: one line per band but the smooth one (16 bands).
  ASSERT_EQ(run("-t 6 -n 3 -U 1 -M -i 2 -g 1 -v in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("WP Band 15 Noise Level =  "));
  EXPECT_FALSE(printed("WP Band 16 "));
  // -C kills the smooth band: without the coarse part the component has
  // almost no mean, while the scene's mean is above 10.
  ASSERT_EQ(run("-t 6 -n 3 -U 1 -C 0.1 -i 4 -g 1 in.fits kill.fits"), 0) << output_;
  double mean = 0;
  for (float p : result("kill_wp.fits").pixels) mean += p;
  EXPECT_LT(std::fabs(mean / (32 * 32)), 3.0);
}

TEST_F(QzMcaPacketsMdct, MultiscaleDctWithAFirstLevel) {
  FitsImage in = scene(64, 1.f, 8u);
  write_fits(path("in.fits"), in);
  ASSERT_EQ(run("-t 9 -S 30 -i 5 -n 3 -g 1 -v in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("Local MDCT proj "));
  EXPECT_TRUE(exists("out_mcos.fits"));
  EXPECT_LT(largest_gap(in, "out"), 1e-3);
  // -B changes the blocks; -O removes their overlap: other components.
  ASSERT_EQ(run("-t 9 -S 30 -i 5 -n 3 -g 1 -B 16 in.fits b16.fits"), 0) << output_;
  ASSERT_EQ(run("-t 9 -S 30 -i 5 -n 3 -g 1 -O in.fits noov.fits"), 0) << output_;
  EXPECT_NE(result("out_mcos.fits").pixels, result("b16_mcos.fits").pixels);
  EXPECT_NE(result("out_mcos.fits").pixels, result("noov_mcos.fits").pixels);
  // The base never takes the positivity constraint, so -P changes nothing.
  ASSERT_EQ(run("-t 9 -S 30 -i 5 -n 3 -g 1 -P in.fits nopos.fits"), 0) << output_;
  EXPECT_EQ(result("out_mcos.fits").pixels, result("nopos_mcos.fits").pixels);
  // With the a trous base the first level comes from the data.
  ASSERT_EQ(run("-t 1 -t 9 -L -i 4 -n 3 -g 1 in.fits two.fits"), 0) << output_;
  EXPECT_LT(largest_gap(in, "two"), 1e-3);
}

TEST_F(QzMcaPacketsMdct, BasesWithoutAFirstLevelAskForOne) {
  write_fits(path("in.fits"), scene(32, 1.f, 2u));
  for (const char* args : {"-t 9 -i 3 in.fits out.fits", "-t 9 -S 1 -i 3 in.fits out.fits"}) {
    EXPECT_EQ(run(args), 255) << args;
    EXPECT_TRUE(printed("with -S")) << output_;
    EXPECT_FALSE(exists("out.fits"));
    EXPECT_FALSE(exists("out_mcos.fits"));
    EXPECT_FALSE(exists("out_resi.fits"));
  }
}

TEST_F(QzMcaPacketsMdct, TestModeReconstructsTheThresholdedImage) {
  FitsImage in = scene(64, 0.f, 1u);
  write_fits(path("in.fits"), in);
  ASSERT_EQ(run("-X in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("trans 0 5\n"));
  EXPECT_TRUE(printed("end rec\n"));
  EXPECT_FALSE(exists("out.fits"));
  FitsImage rec = result("xx_rec.fits");
  ASSERT_EQ(rec.nl, 64);
  // A noiseless scene loses only coefficients below 1.5 times the band
  // norms: the reconstruction stays close to it.
  double s2 = 0;
  for (size_t k = 0; k < in.pixels.size(); k++) {
    const double d = rec.pixels[k] - in.pixels[k];
    s2 += d * d;
  }
  EXPECT_LT(std::sqrt(s2 / in.pixels.size()), 1.0);
  // A size the transform cannot take fails and writes nothing.
  write_fits(path("odd.fits"), FitsImage(24, 24));
  EXPECT_EQ(run("-X odd.fits out.fits"), 255);
  EXPECT_FALSE(exists("xx_rec.fits") && result("xx_rec.fits").nl == 24);
}
