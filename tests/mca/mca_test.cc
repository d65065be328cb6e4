// The MCA object: defaults, allocation checks, the coefficient rule, the
// a trous and pixel projections, and whole decompositions of small images.
#include "mca/mca.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "support/death.h"

namespace {

using Image = to_array<float, false>;

// A smooth bump, a few point sources and Gaussian noise of deviation 1.
Image synthetic_image(int n, unsigned seed) {
  Image ima(n, n, "synthetic");
  std::mt19937 gen(seed);
  std::normal_distribution<float> noise(0.f, 1.f);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double r2 = (i - n / 2.) * (i - n / 2.) + (j - n / 3.) * (j - n / 3.);
      ima(i, j) = static_cast<float>(20. + 60. * std::exp(-r2 / (2. * 36.))) + noise(gen);
    }
  ima(5, 7) += 200.f;
  ima(n - 9, n - 12) += 150.f;
  return ima;
}

void select(MCA& mca, std::initializer_list<type_mcabase> bases) {
  mca.NbrBase = 0;
  for (type_mcabase b : bases) mca.TabSelect[mca.NbrBase++] = b;
}

}  // namespace

TEST(McaObject, BaseNamesAndUnsetFields) {
  MCA mca;
  EXPECT_EQ(mca.Rid_VarianceStab, 0);  // no other code gives it a value
  EXPECT_EQ(mca.AT_TabBand, nullptr);
  EXPECT_STREQ(StringMCABase(MCA_PCUR), "Curvelet transform 05 (Pyramidal Construction)");
  EXPECT_STREQ(StringMCABase(static_cast<type_mcabase>(12)), "Undefined transform");
  EXPECT_STREQ(StringMCABase(static_cast<type_mcabase>(-1)), "Undefined transform");
}

TEST(McaObject, AllocNamesComponentsAndSizesCallerImages) {
  MCA mca;
  select(mca, {MCA_ATROU, MCA_PIXEL});
  Image caller[2];
  mca.alloc(16, 24, caller);
  EXPECT_EQ(caller[1].nl(), 16);
  EXPECT_EQ(caller[1].nc(), 24);
  EXPECT_EQ(mca.TabImaRec[0].name(), "A trous algorithm");
  EXPECT_EQ(mca.TabImaRec[1].name(), "Pixel basis");
  EXPECT_EQ(mca.Resi.nc(), 24);
  ASSERT_NE(mca.AT_TabBand, nullptr);
  EXPECT_EQ(mca.AT_TabNoise.nx(), 4);
  mca.free();
  EXPECT_EQ(mca.NbrBase, 0);
  EXPECT_EQ(mca.AT_TabBand, nullptr);
}

TEST(McaObject, AllocRefusals) {
  {
    MCA mca;
    EXPECT_EXIT_STATUS(mca.alloc(8, 8, nullptr), 255, "Error: no selected transform");
  }
  {
    MCA mca;
    mca.NbrBase = 9;  // one more than the components the object holds
    EXPECT_EXIT_STATUS(mca.alloc(8, 8, nullptr), 255, "too many selected transforms: 9");
  }
  {
    MCA mca;
    select(mca, {MCA_ATROU, MCA_WT});
    EXPECT_EXIT_STATUS(mca.alloc(8, 8, nullptr), 255,
                       "not available in this version: bi-orthogonal WT with 7/9 filters");
  }
  {
    MCA mca;
    select(mca, {static_cast<type_mcabase>(14)});
    EXPECT_EXIT_STATUS(mca.alloc(8, 8, nullptr), 255, "Error: not implemeted transform");
    EXPECT_EXIT_STATUS(mca.free(), 255, "Error: not implemeted transform");
    mca.NbrBase = 0;  // the selection never got past alloc
  }
  for (int nbr_scale : {1, 9}) {
    MCA mca;
    select(mca, {MCA_ATROU});
    mca.AT_NbrScale = nbr_scale;
    EXPECT_EXIT_STATUS(mca.alloc(8, 8, nullptr), 255, "bad number of scales");
  }
}

TEST(McaObject, CoefficientRule) {
  MCA mca;
  EXPECT_EQ(mca.mca_update(2.f, 2.f, 1.f), 2.f);  // equal to the level: kept
  EXPECT_EQ(mca.mca_update(-1.99f, 2.f, 1.f), 0.f);
  mca.UseNormL1 = 1;  // soft thresholding at half the level
  EXPECT_FLOAT_EQ(mca.mca_update(1.5f, 2.f, 1.f), 0.5f);
  EXPECT_FLOAT_EQ(mca.mca_update(-3.f, 2.f, 1.f), -2.f);
  EXPECT_EQ(mca.mca_update(0.9f, 2.f, 1.f), 0.f);
}

TEST(McaObject, AtrousProjectionAtLevelZeroKeepsEveryDetail) {
  MCA mca;
  select(mca, {MCA_ATROU});
  mca.Noise_Ima = 1.f;
  mca.alloc(32, 32, nullptr);
  Image ima = synthetic_image(32, 1);
  mca.atrou_init(ima, False);
  for (int b = 0; b < 3; b++) EXPECT_FLOAT_EQ(mca.AT_TabNoise(b), mca.AT_Trans.norm_band(b));

  Image component = ima;
  mca.atrou_proj(component, 0.f);  // the smooth band is killed by default
  Image* bands = nullptr;
  mca.AT_Trans.alloc(bands, 32, 32, 4);
  mca.AT_Trans.transform(ima, bands, 4);
  for (int k = 0; k < ima.n_elem(); k++)
    EXPECT_NEAR(component(k), ima(k) - bands[3](k), 1e-3f);

  // A level above every coefficient: nothing survives.
  component = ima;
  mca.atrou_proj(component, 1e6f);
  for (int k = 0; k < ima.n_elem(); k++) EXPECT_EQ(component(k), 0.f);
  mca.AT_Trans.free(bands, 4);
}

TEST(McaObject, AtrousInitialisationReturnsTheLargestNormalisedCoefficient) {
  MCA mca;
  select(mca, {MCA_ATROU});
  mca.Noise_Ima = 2.f;
  mca.alloc(32, 32, nullptr);
  Image ima = synthetic_image(32, 2);
  float value = mca.atrou_init(ima, False);
  Image* bands = nullptr;
  mca.AT_Trans.alloc(bands, 32, 32, 4);
  mca.AT_Trans.transform(ima, bands, 4);
  float expected = 0;
  for (int b = 0; b < 3; b++)
    for (int k = 0; k < ima.n_elem(); k++)
      expected = std::fmax(expected, std::fabs(bands[b](k)) / (2.f * mca.AT_Trans.norm_band(b)));
  EXPECT_FLOAT_EQ(value, expected);
  EXPECT_FLOAT_EQ(mca.atrou_max(ima), expected);
  mca.AT_Trans.free(bands, 4);
}

TEST(McaObject, PixelBasisProjectionAndLevels) {
  MCA mca;
  select(mca, {MCA_PIXEL});
  mca.Noise_Ima = 2.f;
  mca.alloc(4, 4, nullptr);
  Image ima(4, 4, "pix");
  ima(1, 1) = 10.f;
  ima(2, 3) = -5.f;
  ima(0, 0) = 3.f;
  EXPECT_FLOAT_EQ(mca.pixel_init(ima, False), 5.f);
  EXPECT_FLOAT_EQ(mca.pixel_max(ima), 5.f);
  mca.pixel_proj(ima, 2.f);  // level 4: 3 goes, 10 and -5 stay
  EXPECT_EQ(ima(0, 0), 0.f);
  EXPECT_EQ(ima(1, 1), 10.f);
  EXPECT_EQ(ima(2, 3), -5.f);
  mca.pixel_proj(ima, 5.01f);  // above every pixel
  for (int k = 0; k < 16; k++) EXPECT_EQ(ima(k), 0.f);
}

TEST(McaObject, ZeroNoiseLevelStopsInsteadOfDividing) {
  MCA mca;
  select(mca, {MCA_ATROU});
  mca.Noise_Ima = 0.f;
  mca.alloc(16, 16, nullptr);
  Image ima = synthetic_image(16, 3);
  EXPECT_EXIT_STATUS(mca.atrou_init(ima, False), 255, "noise level of 0");
  Image flat(16, 16, "flat");
  flat.init(5.f);
  mca.Noise_Ima = 1.f;
  EXPECT_EXIT_STATUS(mca.atrou_init(flat, True), 255, "AT band 1 has a noise level of 0");
}

TEST(McaDecomposition, ComponentsPlusResidualGiveTheData) {
  MCA mca;
  select(mca, {MCA_ATROU, MCA_PIXEL});
  mca.Noise_Ima = 1.f;
  mca.Nbr_Iter = 20;
  mca.AT_KillLastScale = 0;
  mca.RemoveLastScale = 0;
  mca.alloc(48, 48, nullptr);
  const Image data = synthetic_image(48, 4);
  Image work = data;
  mca.decomposition(work);
  EXPECT_NEAR(mca.Lambda, mca.LastSoftThreshold, 1e-3f);
  double worst = 0;
  for (int k = 0; k < data.n_elem(); k++) {
    float sum = mca.TabImaRec[0](k) + mca.TabImaRec[1](k) + mca.Resi(k);
    worst = std::fmax(worst, std::fabs(sum - data(k)));
    EXPECT_GE(mca.TabImaRec[0](k), 0.f);  // positivity of the a trous component
    EXPECT_LE(std::fabs(mca.TabImaRec[1](k)), 5.f * mca.Noise_Ima + 1e-4f);
  }
  EXPECT_LT(worst, 1e-3);
  // The smooth structure went to the wavelet component.
  EXPECT_GT(mca.TabImaRec[0](24, 16), 60.f);
}

TEST(McaDecomposition, LinearScheduleRunsExactlyNbrIterIterations) {
  MCA mca;
  select(mca, {MCA_ATROU});
  mca.Noise_Ima = 1.f;
  mca.Nbr_Iter = 7;
  mca.Verbose = 1;
  mca.RemoveLastScale = 0;
  mca.alloc(32, 32, nullptr);
  Image data = synthetic_image(32, 5);
  testing::internal::CaptureStdout();
  mca.decomposition(data);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("\nIteration 7 Lambda = 3\n"), std::string::npos);
  EXPECT_EQ(out.find("Iteration 8"), std::string::npos);
  EXPECT_NE(out.find("AT MAX_NormCoef = "), std::string::npos);
}

TEST(McaDecomposition, FirstLevelRuleWithEqualAndDistinctMaxima) {
  Image data = synthetic_image(32, 6);
  // Two pixel bases see the same maximum: the second maximum stays 0 and the
  // first level is the maximum itself.
  {
    MCA mca;
    select(mca, {MCA_PIXEL, MCA_PIXEL});
    mca.Noise_Ima = 2.f;
    mca.Nbr_Iter = 1;
    mca.RemoveLastScale = 0;
    mca.FirstSoftThreshold = -1.f;
    mca.alloc(32, 32, nullptr);
    Image work = data;
    mca.decomposition(work);
    EXPECT_FLOAT_EQ(mca.Lambda, data.maxfabs() / 2.f);
  }
  {
    MCA mca;
    select(mca, {MCA_PIXEL, MCA_ATROU});
    mca.Noise_Ima = 2.f;
    mca.Nbr_Iter = 1;
    mca.RemoveLastScale = 0;
    mca.FirstSoftThreshold = -1.f;
    mca.alloc(32, 32, nullptr);
    Image work = data;
    float pix = std::fabs(data.maxfabs()) / 2.f;
    float at = mca.atrou_init(work, False);
    float m1 = std::fmax(pix, at), m2 = std::fmin(pix, at);
    mca.decomposition(work);
    EXPECT_FLOAT_EQ(mca.Lambda, m2 + 0.05f * (m1 - m2));
  }
  // A given first level holds unless it is below the last one.
  for (float given : {50.f, 1.f}) {
    MCA mca;
    select(mca, {MCA_PIXEL});
    mca.Noise_Ima = 2.f;
    mca.Nbr_Iter = 1;
    mca.RemoveLastScale = 0;
    mca.FirstSoftThreshold = given;
    mca.alloc(32, 32, nullptr);
    Image work = data;
    mca.decomposition(work);
    EXPECT_FLOAT_EQ(mca.Lambda, given > 3.f ? given : data.maxfabs() / 2.f);
  }
}

TEST(McaDecomposition, WrongDataSizeIsRefused) {
  MCA mca;
  select(mca, {MCA_ATROU});
  mca.alloc(16, 16, nullptr);
  Image data(16, 17, "wrong");
  EXPECT_EXIT_STATUS(mca.decomposition(data), 255,
                     "Error: MCA class not initialized with this image size 16 17\n"
                     "       Expected size is 16 16");
}

TEST(McaDecomposition, ZoomResidualMatchesTheLowResolutionImage) {
  MCA mca;
  select(mca, {MCA_ATROU});
  mca.UseZoom = 1;
  mca.ZoomFactor = 4;
  mca.alloc(8, 12, nullptr);
  mca.LowResolIma.alloc(2, 3, "low");
  for (int k = 0; k < 6; k++) mca.LowResolIma(k) = 10.f * k;
  std::mt19937 gen(9);
  std::uniform_real_distribution<float> u(0.f, 5.f);
  for (int k = 0; k < 96; k++) mca.TabImaRec[0](k) = u(gen);
  Image data(8, 12, "unused");
  mca.make_residual(data, mca.Resi);
  for (int bi = 0; bi < 2; bi++)
    for (int bj = 0; bj < 3; bj++) {
      double sum = 0;
      for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) sum += mca.TabImaRec[0](4 * bi + i, 4 * bj + j);
      for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
          EXPECT_NEAR(mca.Resi(4 * bi + i, 4 * bj + j), mca.LowResolIma(bi, bj) - sum / 16, 1e-4);
    }
}

TEST(McaDecomposition, MaskedResidualIsZeroOnMissingPixels) {
  MCA mca;
  select(mca, {MCA_ATROU});
  mca.UseMask = 1;
  mca.Noise_Ima = 1.f;
  mca.Nbr_Iter = 5;
  mca.RemoveLastScale = 0;
  mca.alloc(32, 32, nullptr);
  mca.MaskIma.alloc(32, 32, "Mask");
  mca.MaskIma.init(1.f);
  for (int i = 10; i < 14; i++)
    for (int j = 3; j < 20; j++) mca.MaskIma(i, j) = 0.f;
  Image data = synthetic_image(32, 7);
  mca.decomposition(data);
  for (int i = 10; i < 14; i++)
    for (int j = 3; j < 20; j++) EXPECT_EQ(mca.Resi(i, j), 0.f);
  // The valid pixels still add up.
  EXPECT_NEAR(mca.TabImaRec[0](20, 20) + mca.Resi(20, 20), data(20, 20), 1e-3f);
}

TEST(McaDecomposition, MomScheduleWithTwoBases) {
  MCA mca;
  select(mca, {MCA_ATROU, MCA_PIXEL});
  mca.Noise_Ima = 1.f;
  mca.Nbr_Iter = 40;
  mca.T_Decreasing = 2;
  mca.RemoveLastScale = 0;
  mca.Verbose = 1;
  mca.alloc(32, 32, nullptr);
  Image data = synthetic_image(32, 8);
  testing::internal::CaptureStdout();
  mca.decomposition(data);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("   MOM calculation \n"), std::string::npos);
  // Every level printed lies between the last level and the latest first
  // level, and the levels never rise.
  float previous = 1e30f;
  int iterations = 0;
  for (size_t pos = out.find("Iteration "); pos != std::string::npos;
       pos = out.find("Iteration ", pos + 1)) {
    float lambda = std::stof(out.substr(out.find("Lambda = ", pos) + 9));
    EXPECT_LE(lambda, previous);
    EXPECT_GE(lambda, 0.f);
    previous = lambda;
    iterations++;
  }
  EXPECT_GT(iterations, 1);
  EXPECT_LE(iterations, 40);
  EXPECT_LE(mca.Lambda, mca.LastSoftThreshold);  // the descent reached its end
}
