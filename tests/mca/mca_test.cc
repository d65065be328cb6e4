// The MCA object: defaults, allocation checks, the coefficient rule, the
// a trous and pixel base operations, and whole decompositions of small images.
#include "mca/mca.h"
#include "mca/mca_base_family.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

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

// An MCA over the given bases for n x n images, without the last-scale
// removal, allocated.
void setup(MCA& mca, std::initializer_list<type_mcabase> bases, int n, float noise = 1.f,
           int nbr_iter = 1) {
  mca.NbrBase = 0;
  for (type_mcabase b : bases) mca.TabSelect[mca.NbrBase++] = b;
  mca.Noise_Ima = noise;
  mca.Nbr_Iter = nbr_iter;
  mca.RemoveLastScale = 0;
  mca.alloc(n, n, nullptr);
}

}  // namespace

TEST(McaObject, ResetLeavesNoFieldUnset) {
  // A field reset forgets keeps whatever the memory held; the ridgelet
  // variance stabilisation flag is one nothing else sets.
  MCA mca;
  mca.Rid_VarianceStab = 7;
  mca.Nbr_Iter = 3;
  mca.reset();
  EXPECT_EQ(mca.Rid_VarianceStab, 0);
  EXPECT_EQ(mca.Nbr_Iter, 1000);
  MCA fresh;
  EXPECT_EQ(fresh.Rid_VarianceStab, 0);
}

TEST(McaObject, AllocNamesComponentsAndSizesCallerImages) {
  MCA mca;
  mca.NbrBase = 2;
  mca.TabSelect[0] = MCA_ATROU;
  mca.TabSelect[1] = MCA_PIXEL;
  Image caller[2];
  mca.alloc(16, 24, caller);
  EXPECT_EQ(caller[1].nl() * 100 + caller[1].nc(), 1624);
  EXPECT_EQ(mca.TabImaRec[0].name(), "A trous algorithm");
  EXPECT_EQ(mca.TabImaRec[1].name(), "Pixel basis");
  EXPECT_STREQ(StringMCABase(MCA_PS), "FFT2D-WT1D-PowSpectrum");
  for (int bad : {-1, 12}) EXPECT_STREQ(StringMCABase(type_mcabase(bad)), "Undefined transform");
  EXPECT_EQ(mca.Resi.nc(), 24);
  ASSERT_NE(mca.AT_TabBand, nullptr);
  EXPECT_EQ(mca.AT_TabNoise.nx(), 4);
  mca.free();
  EXPECT_EQ(mca.NbrBase, 0);
  EXPECT_EQ(mca.AT_TabBand, nullptr);
}

TEST(McaObject, AllocRefusals) {
  const struct {
    std::function<void(MCA&)> configure;
    const char* message;
  } refusals[] = {
      {[](MCA&) {}, "Error: no selected transform"},
      {[](MCA& m) { m.NbrBase = 9; }, "too many selected transforms: 9"},
      {[](MCA& m) { m.NbrBase = 2, m.TabSelect[1] = MCA_CUR, m.Cur_NbrScale = 1; },
       "bad number scales in the curvelet transform"},
      {[](MCA& m) { m.NbrBase = 2, m.TabSelect[1] = MCA_WT, m.WT_NbrScale = 1; },
       "Error: bad number of scales ... "},
      {[](MCA& m) { m.NbrBase = 1, m.TabSelect[0] = type_mcabase(14); },
       "Error: not implemeted transform"},
      // No wavelet band, or bands beyond the noise table (zero levels).
      {[](MCA& m) { m.NbrBase = 1, m.RemoveLastScale = 0, m.AT_NbrScale = 1; }, "a trous"},
      {[](MCA& m) { m.NbrBase = 1, m.RemoveLastScale = 0, m.AT_NbrScale = 0; }, "a trous"},
      {[](MCA& m) { m.NbrBase = 1, m.RemoveLastScale = 0, m.AT_NbrScale = 9; }, "a trous"},
      // The last-scale removal needs a smooth band apart from the details.
      {[](MCA& m) { m.NbrBase = 1, m.TabSelect[0] = MCA_PIXEL, m.AT_NbrScale = 1; },
       "last scale removal needs"},
  };
  for (const auto& r : refusals) {
    MCA mca;
    r.configure(mca);
    EXPECT_EXIT_STATUS(mca.alloc(8, 8, nullptr), 255, r.message) << r.message;
    mca.NbrBase = 0;  // nothing got past alloc
  }
  MCA mca;
  mca.NbrBase = 1;
  mca.TabSelect[0] = type_mcabase(14);
  EXPECT_EXIT_STATUS(mca.free(), 255, "Error: not implemeted transform");
  mca.NbrBase = 0;
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

TEST(McaObject, AtrousInitMaxAndProjection) {
  MCA mca;
  setup(mca, {MCA_ATROU}, 32, 2.f);
  Image ima = synthetic_image(32, 2);
  Image* band = nullptr;  // the bands in a set of our own
  mca.AT_Trans.alloc(band, 32, 32, 4);
  mca.AT_Trans.transform(ima, band, 4);
  // The largest |coefficient| over the detail bands, each divided by
  // Noise_Ima times the band's norm.
  float expected = 0;
  for (int b = 0; b < 3; b++)
    for (int k = 0; k < ima.n_elem(); k++)
      expected = std::fmax(expected, std::fabs(band[b](k)) / (2.f * mca.AT_Trans.norm_band(b)));
  EXPECT_FLOAT_EQ(mca.atrou_init(ima, False), expected);
  for (int b = 0; b < 3; b++) EXPECT_FLOAT_EQ(mca.AT_TabNoise(b), 2.f * mca.AT_Trans.norm_band(b));
  EXPECT_FLOAT_EQ(mca.atrou_max(ima), expected);
  // With MAD levels the maximum divides by the stored levels, not the table's.
  const float with_mad = mca.atrou_init(ima, True);
  EXPECT_NE(with_mad, expected);
  EXPECT_FLOAT_EQ(mca.atrou_max(ima), with_mad);

  // Level 0 thresholds no band, the finest included; the smooth band is
  // killed by default.
  Image component = ima;
  mca.atrou_proj(component, 0.f);
  for (int k = 0; k < ima.n_elem(); k++)
    ASSERT_NEAR(component(k), ima(k) - band[3](k), 1e-3f) << k;
  // A level above every coefficient: nothing survives.
  component = ima;
  mca.atrou_proj(component, 1e6f);
  for (int k = 0; k < ima.n_elem(); k++) ASSERT_EQ(component(k), 0.f) << k;
  mca.AT_Trans.free(band, 4);
}

// The projection against bands thresholded here: the finest band at one
// noise unit more than the others, and with the correlation term every
// level raised by |correlation band| x level x weight.
TEST(McaObject, AtrousProjectionThresholdsEachBandAtItsOwnLevel) {
  const float level = 2.5f, weight = 0.3f;
  for (int use_correl : {0, 1}) {
    MCA mca;
    mca.UseCorrel = use_correl;
    mca.CorrelConstraint = weight;
    setup(mca, {MCA_ATROU}, 32, 1.f);
    const Image ima = synthetic_image(32, 5);
    Image correl = synthetic_image(32, 6);
    mca.ImaCorrel = correl;
    Image work = ima;
    mca.atrou_init(work, False);

    Image *band = nullptr, *correl_band = nullptr;
    mca.AT_Trans.alloc(band, 32, 32, 4);
    mca.AT_Trans.alloc(correl_band, 32, 32, 4);
    mca.AT_Trans.transform(ima, band, 4);
    mca.AT_Trans.transform(correl, correl_band, 4);
    int killed_by_the_finest_rule = 0;
    for (int b = 0; b < 3; b++)
      for (int k = 0; k < ima.n_elem(); k++) {
        const float base = (b == 0 ? level + 1.f : level) * mca.AT_TabNoise(b);
        const float t = use_correl ? base + std::fabs(correl_band[b](k)) * level * weight : base;
        const float c = band[b](k);
        if (b == 0 && std::fabs(c) >= level * mca.AT_TabNoise(0) && std::fabs(c) < t)
          killed_by_the_finest_rule++;
        band[b](k) = std::fabs(c) < t ? 0.f : c;
      }
    band[3].init();
    Image expected(32, 32);
    mca.AT_Trans.recons(band, expected, 4, True);
    EXPECT_GT(killed_by_the_finest_rule, 0) << "the case must tell the two levels apart";

    Image component = ima;
    mca.atrou_proj(component, level);
    for (int k = 0; k < ima.n_elem(); k++)
      ASSERT_NEAR(component(k), expected(k), 1e-4f) << "correl " << use_correl << " pixel " << k;
    mca.AT_Trans.free(band, 4);
    mca.AT_Trans.free(correl_band, 4);
  }
}

TEST(McaObject, PixelBasisProjectionAndLevels) {
  MCA mca;
  setup(mca, {MCA_PIXEL}, 4, 2.f);
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
  setup(mca, {MCA_ATROU}, 16, 0.f);
  Image ima = synthetic_image(16, 3);
  EXPECT_EXIT_STATUS(mca.atrou_init(ima, False), 255, "noise level of 0");
  Image flat(16, 16, "flat");
  flat.init(5.f);
  EXPECT_EXIT_STATUS(mca.atrou_init(flat, True), 255, "AT band 1 has a noise level of 0");
}

TEST(McaDecomposition, ComponentsPlusResidualGiveTheData) {
  MCA mca;
  mca.AT_KillLastScale = 0;
  setup(mca, {MCA_ATROU, MCA_PIXEL}, 48, 1.f, 20);
  const Image data = synthetic_image(48, 4);
  Image work = data;
  mca.decomposition(work);
  EXPECT_NEAR(mca.Lambda, mca.LastSoftThreshold, 1e-3f);
  for (int k = 0; k < data.n_elem(); k++) {
    float sum = mca.TabImaRec[0](k) + mca.TabImaRec[1](k) + mca.Resi(k);
    ASSERT_NEAR(sum, data(k), 1e-3f) << k;
    ASSERT_GE(mca.TabImaRec[0](k), 0.f);  // positivity of the a trous component
    ASSERT_LE(std::fabs(mca.TabImaRec[1](k)), 5.f * mca.Noise_Ima + 1e-4f);  // pixel clip
  }
  EXPECT_GT(mca.TabImaRec[0](24, 16), 60.f);  // the smooth structure went to the wavelets
}

TEST(McaDecomposition, FirstLevelRule) {
  const Image data = synthetic_image(32, 6);
  const float pixel_max = std::fabs(data.maxfabs()) / 2.f;
  // Equal maxima leave the second at 0: the first level is the maximum.
  {
    MCA mca;
    setup(mca, {MCA_PIXEL, MCA_PIXEL}, 32, 2.f);
    Image work = data;
    mca.decomposition(work);
    EXPECT_FLOAT_EQ(mca.Lambda, pixel_max);
  }
  // Distinct maxima: 5% of the way from the second to the first.
  {
    MCA mca;
    setup(mca, {MCA_PIXEL, MCA_ATROU}, 32, 2.f);
    Image work = data;
    float at = mca.atrou_init(work, False);
    float m1 = std::fmax(pixel_max, at), m2 = std::fmin(pixel_max, at);
    mca.decomposition(work);
    EXPECT_FLOAT_EQ(mca.Lambda, m2 + 0.05f * (m1 - m2));
  }
  // A given first level holds unless it is below the last one.
  for (float given : {50.f, 1.f}) {
    MCA mca;
    mca.FirstSoftThreshold = given;
    setup(mca, {MCA_PIXEL}, 32, 2.f);
    Image work = data;
    mca.decomposition(work);
    EXPECT_FLOAT_EQ(mca.Lambda, given > 3.f ? given : pixel_max);
  }
}

TEST(McaDecomposition, WrongDataSizeIsRefused) {
  MCA mca;
  setup(mca, {MCA_ATROU}, 16);
  Image data(16, 17, "wrong");
  EXPECT_EXIT_STATUS(mca.decomposition(data), 255,
                     "Error: MCA class not initialized with this image size 16 17\n"
                     "       Expected size is 16 16");
}

// A noise level far below the data's values makes the coefficients in noise
// units infinite: such a run kept every coefficient or none, and ended as a
// success with "Lambda = -nan".
TEST(McaDecomposition, NonFiniteLevelsStopTheRun) {
  MCA mca;
  setup(mca, {MCA_COS}, 32, 1e-38f, 5);
  Image work = synthetic_image(32, 4);
  EXPECT_EXIT_STATUS(mca.decomposition(work), 255,
                     "Error: the largest coefficient is not a finite number \\(inf\\).*"
                     "noise level \\(1e-38\\).*give a larger noise level with -g");
}

// The levels of a verbose run, iteration by iteration.
std::vector<float> run_levels(MCA& mca, Image& data) {
  mca.Verbose = 1;
  testing::internal::CaptureStdout();
  mca.decomposition(data);
  const std::string out = testing::internal::GetCapturedStdout();
  std::vector<float> levels;
  for (size_t pos = out.find("Iteration "); pos != std::string::npos;
       pos = out.find("Iteration ", pos + 1))
    levels.push_back(std::stof(out.substr(out.find("Lambda = ", pos) + 9)));
  if (out.find("   MOM calculation \n") == std::string::npos) levels.insert(levels.begin(), -1.f);
  return levels;
}

// The linear schedule takes exactly Nbr_Iter iterations, evenly spaced, the
// last one at the last level; MOM never rises, and ends at the last level
// rather than below it (its last step, first - last, would pass it).
TEST(McaDecomposition, SchedulesEndAtTheLastLevel) {
  for (int nbr_iter : {2, 3, 10, 40}) {
    MCA mca;
    setup(mca, {MCA_ATROU, MCA_PIXEL}, 32, 1.f, nbr_iter);
    Image data = synthetic_image(32, 8);
    std::vector<float> levels = run_levels(mca, data);
    ASSERT_EQ(levels.front(), -1.f) << "the linear schedule runs no MOM calculation";
    levels.erase(levels.begin());
    ASSERT_EQ(static_cast<int>(levels.size()), nbr_iter);
    // Within the rounding of nbr_iter - 1 float subtractions.
    EXPECT_NEAR(levels.back(), mca.LastSoftThreshold, 1e-5f * nbr_iter * levels[0]) << nbr_iter;
    for (size_t i = 1; i + 1 < levels.size(); i++)
      EXPECT_NEAR(levels[i - 1] - levels[i], mca.LambdaStep, 1e-3f * levels[0]) << i;
  }
  MCA mca;
  mca.T_Decreasing = 2;
  setup(mca, {MCA_ATROU, MCA_PIXEL}, 32, 1.f, 40);
  Image data = synthetic_image(32, 8);
  const std::vector<float> levels = run_levels(mca, data);
  ASSERT_GT(levels.size(), 2u);
  EXPECT_NE(levels.front(), -1.f) << "MOM calculations are printed";
  for (size_t i = 1; i < levels.size(); i++) {
    EXPECT_LE(levels[i], levels[i - 1]);
    EXPECT_GE(levels[i], mca.LastSoftThreshold) << i;
  }
  EXPECT_EQ(levels.back(), mca.LastSoftThreshold);
}

TEST(McaObject, CurveletConstraintsClipTheZoomedRange) {
  // In super-resolution the three curvelet bases keep their component
  // within 0..255 (with positivity); the a trous base clips nothing above.
  struct Case {
    type_mcabase base;
    int* positivity;
    float high_after;
  };
  MCA mca;
  const Case cases[] = {{MCA_CUR, &mca.Cur_PositivSol, 255.f},
                        {MCA_PCUR, &mca.PCur_PositivSol, 255.f},
                        {MCA_FCUR, &mca.FCur_PositivSol, 255.f},
                        {MCA_ATROU, &mca.AT_PositivSol, 300.f}};
  for (const Case& c : cases) {
    mca.UseZoom = 1;
    *c.positivity = 1;
    mca.TabImaRec[0].alloc(1, 3, "component");
    mca.TabImaRec[0](0, 0) = -4.f;
    mca.TabImaRec[0](0, 1) = 100.f;
    mca.TabImaRec[0](0, 2) = 300.f;
    mca_base_family(c.base).constrain(mca, 0);
    EXPECT_EQ(mca.TabImaRec[0](0, 0), 0.f) << StringMCABase(c.base);
    EXPECT_EQ(mca.TabImaRec[0](0, 1), 100.f) << StringMCABase(c.base);
    EXPECT_EQ(mca.TabImaRec[0](0, 2), c.high_after) << StringMCABase(c.base);
  }
}
