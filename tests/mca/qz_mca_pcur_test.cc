// The pyramidal curvelet base (-t 7): runs of qz_mca on oriented stripes and
// a smooth bump whose results add up to the input, alone and beside the a
// trous base, under -n, -O, -K, -M, -P and -c, and one scale refused; the
// projection of a band whose ridgelet has one 1D scale and the correlation
// bands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "mca/mca.h"
#include "support/capture.h"
#include "support/qz_mca_program.h"
#include "support/test_images.h"

namespace {

class QzMcaPcur : public QzMcaProgram {
 protected:
  // The pyramidal curvelet component (and a second one) make the sum, and
  // sum + residual = input.
  void expect_sum(const FitsImage& in, const std::string& out, const char* other = nullptr) {
    const FitsImage sum = result(out + ".fits"), resi = result(out + "_resi.fits"),
                    pcur = result(out + "_pcur.fits");
    const FitsImage second = other ? result(out + other + ".fits") : FitsImage(in.nl, in.nc);
    ASSERT_EQ(sum.nl, in.nl) << output_;
    for (size_t k = 0; k < in.pixels.size(); k++) {
      ASSERT_NEAR(sum.pixels[k], pcur.pixels[k] + second.pixels[k], 1e-3f);
      ASSERT_NEAR(sum.pixels[k] + resi.pixels[k], in.pixels[k], 1e-3f);
    }
  }
};

TEST_F(QzMcaPcur, ResultsAddUpUnderEveryOption) {
  const FitsImage in(striped_bump_image(40, 1));
  write_fits(path("in.fits"), in);
  ASSERT_EQ(run("-t 7 -i 5 -g 1 -n 4 -v in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("Selection: Curvelet transform 05 (Pyramidal Construction)"));
  EXPECT_TRUE(printed("CUR MAX_NormCoef = "));
  EXPECT_TRUE(printed(" NbrBand2D = 4"));
  expect_sum(in, "out");
  const FitsImage pcur = result("out_pcur.fits");
  EXPECT_GE(*std::min_element(pcur.pixels.begin(), pcur.pixels.end()), 0.f);
  EXPECT_GT(pcur.mean(), 30.0);  // the pyramid's residual carries the mean
  EXPECT_FALSE(exists("xx_rid_band_1.rid"));  // no trace files in a normal run
  // -K removes the pyramid's residual; -P lets the component go negative.
  ASSERT_EQ(run("-t 7 -i 5 -g 1 -n 3 -K -P in.fits k.fits"), 0) << output_;
  EXPECT_TRUE(printed(" NbrBand2D = 3"));
  const FitsImage killed = result("k_pcur.fits");
  EXPECT_LT(std::fabs(killed.mean()), 5.0);
  EXPECT_LT(*std::min_element(killed.pixels.begin(), killed.pixels.end()), 0.f);
  ASSERT_EQ(run("-t 7 -i 5 -g 1 -n 4 -O in.fits o.fits"), 0) << output_;
  EXPECT_NE(result("o_pcur.fits").pixels, pcur.pixels);
  ASSERT_EQ(run("-t 1 -t 7 -i 5 -g 1 -n 3 -M -c 0.5 in.fits two.fits"), 0) << output_;
  expect_sum(in, "two", "_atrou");
  EXPECT_EQ(run("-t 7 -i 4 -g 1 -n 1 in.fits bad.fits"), 255);
  EXPECT_TRUE(printed("Error: bad number scales in the curvelet transform ... ")) << output_;
  EXPECT_FALSE(exists("bad.fits") || exists("bad_pcur.fits"));
}

// The band levels used to be measured on noise of the image's own level,
// whose band deviations read as 0 below a variance of 1e-7: a small noise
// level was refused as "noiseless or flat". The result must not depend on
// the image's units.
TEST_F(QzMcaPcur, ResultScalesWithTheImageAndTheNoiseLevel) {
  const FitsImage in(striped_bump_image(40, 3));
  FitsImage scaled = in;
  for (float& p : scaled.pixels) p *= 1e-3f;
  write_fits(path("in.fits"), in);
  write_fits(path("scaled.fits"), scaled);
  ASSERT_EQ(run("-t 7 -i 5 -g 1 in.fits out.fits"), 0) << output_;
  ASSERT_EQ(run("-t 7 -i 5 -g 0.001 scaled.fits small.fits"), 0) << output_;
  for (const char* suffix : {"", "_pcur", "_resi"}) {
    const FitsImage big = result(std::string("out") + suffix + ".fits"),
                    small = result(std::string("small") + suffix + ".fits");
    ASSERT_EQ(small.pixels.size(), big.pixels.size()) << suffix;
    for (size_t k = 0; k < big.pixels.size(); k++)
      ASSERT_NEAR(small.pixels[k], 1e-3f * big.pixels[k], 1e-7f) << suffix << " pixel " << k;
  }
}

void alloc_pcur(MCA& mca, int n, int block, int correl) {
  mca.NbrBase = 1;
  mca.TabSelect[0] = MCA_PCUR;
  mca.Noise_Ima = 1.f;
  mca.RemoveLastScale = 0;
  mca.UseCorrel = correl;
  mca.PCur_BlockSize = block;
  mca.alloc(n, n, nullptr);
}

// Blocks of 4 give the first pyramid band one ridgelet scale: band 0 is its
// finest and its coarsest scale and, with no band before it, keeps its own
// level.
TEST(McaPcurBase, FirstBandWithASingleRidgeletScaleUsesItsOwnLevel) {
  MCA mca;
  alloc_pcur(mca, 32, 4, 0);
  ASSERT_EQ(mca.PCur.nbr_rid_scale(0), 1);
  to_array<float, false> data = striped_bump_image(32, 5), ima = data;
  qz_test::stdout_of([&] {
    mca.pcur_init(data, False);
    mca.pcur_proj(ima, 2.f);
  });
  const float level = 3.f * mca.PCur_TabNoise(0);  // Lambda + 1 on a finest scale
  int kept = 0;
  for (int i = 0; i < mca.PCur.size_band_nl(0); i++)
    for (int j = 0; j < mca.PCur.size_band_nc(0); j++) {
      const float c = mca.PCur(0, i, j);
      ASSERT_TRUE(c == 0.f || std::fabs(c) >= level) << i << " " << j;
      kept += c != 0.f;
    }
  EXPECT_GT(kept, 0);
}

// The correlation term reads the correlation image's coefficient at the
// data's place: same bands (a 65 image has fewer blocks of 17 than of 16).
TEST(McaPcurBase, CorrelationTransformHasTheDataBands) {
  MCA mca;
  alloc_pcur(mca, 65, 16, 1);
  ASSERT_EQ(mca.PCur_Correl.nbr_band(), mca.PCur.nbr_band());
  for (int k = 0; k < mca.PCur.nbr_band(); k++) {
    EXPECT_EQ(mca.PCur_Correl.size_band_nl(k), mca.PCur.size_band_nl(k)) << k;
    EXPECT_EQ(mca.PCur_Correl.size_band_nc(k), mca.PCur.size_band_nc(k)) << k;
  }
}

}  // namespace
