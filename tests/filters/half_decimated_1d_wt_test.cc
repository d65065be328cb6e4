// Half-decimated 1D transform: the decimation table, the band sizes, exact
// reconstruction over several banks (the synthesis uses the transform's own
// bank), the caller's bank left as it was, refused band sets, and the
// thresholding in units of the signal's noise.
#include "filters/half_decimated_1d_wt.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/death.h"
#include "support/tolerance.h"
#include "wt1d_test_banks.h"

TEST(HalfDecimated1DWT, DecimationTableAndBandSizes) {
  SubBandFilter bank(F_HAAR, NORM_L2);
  HALF_DECIMATED_1D_WT wt(bank);
  struct Case {
    int undec;
    std::vector<Bool> expected;
  };
  const Case cases[] = {{2, {False, False, True, True, True}},
                        {-1, {False, False, False, False, False}},
                        {7, {False, False, False, False, False}},
                        {0, {True, True, True, True, True}}};
  for (const Case& c : cases) {
    Bool* tab = nullptr;
    wt.set_tabdec(c.undec, tab, 5);
    std::unique_ptr<Bool[]> owner(tab);
    EXPECT_EQ(std::vector<Bool>(tab, tab + 5), c.expected) << c.undec;
  }
  to_array<float, true>* bands = nullptr;
  EXPECT_EQ(wt.alloc(bands, 100, 5, 2), 5);
  std::vector<int> sizes;
  for (int b = 0; b < 5; b++) sizes.push_back(bands[b].nx());
  EXPECT_EQ(sizes, std::vector<int>({100, 100, 50, 25, 25}));
  EXPECT_EQ(bands[4].name(), "band_5");
  wt.free(bands, 5);
}

TEST(HalfDecimated1DWT, ReconstructsOverEveryBankWithItsOwnSynthesis) {
  struct Case {
    type_sb_filter set;
    sb_type_norm norm;
    int n, scales, undec;
    type_border rule;
  };
  const Case cases[] = {
      {F_HAAR, NORM_L2, 64, 5, 2, I_PERIOD},
      {F_MALLAT_7_9, NORM_L2, 64, 5, 2, I_PERIOD},
      {F_MALLAT_9_7, NORM_L1, 96, 4, 1, I_PERIOD},
      {F_DAUBE_4, NORM_L2, 64, 4, 3, I_PERIOD},
      {F_MALLAT_7_9, NORM_L1, 64, 4, 0, I_PERIOD},
      {F_MALLAT_7_9, NORM_L2, 40, 4, -1, I_PERIOD},
      // Odd decimated levels of 37, 19 and 10 samples.
      {F_MALLAT_7_9, NORM_L2, 37, 4, 0, I_MIRROR},
  };
  for (const Case& c : cases) {
    SubBandFilter bank(c.set, c.norm);
    bank.Bord = c.rule;
    HALF_DECIMATED_1D_WT wt(bank);
    wt.NbrScale = c.scales;
    wt.NbrUndec = c.undec;
    to_array<float, true>* bands = nullptr;
    wt.alloc(bands, c.n, c.scales, c.undec);
    to_array<float, true> x = random_signal_array(c.n, 31), back(c.n);
    wt.transform(x, bands);
    wt.recons(bands, back);
    EXPECT_LT(qz_test::max_abs_difference(back, x), 1e-5)
        << StringSBFilter(c.set) << " undec " << c.undec;
    // The caller's bank is left as it was, so a second run gives the same.
    EXPECT_EQ(bank.SampleDist, 1);
    to_array<float, true>* again = nullptr;
    wt.alloc(again, c.n, c.scales, c.undec);
    wt.transform(x, again);
    for (int b = 0; b < c.scales; b++) EXPECT_EQ(pixels(again[b]), pixels(bands[b])) << b;
    wt.free(again, c.scales);
    wt.free(bands, c.scales);
  }
}

TEST(HalfDecimated1DWT, BandsForAnotherLengthAreRefused) {
  SubBandFilter bank(F_HAAR, NORM_L2);
  HALF_DECIMATED_1D_WT wt(bank);
  wt.NbrScale = 3;
  wt.NbrUndec = 1;
  to_array<float, true>* bands = nullptr;
  wt.alloc(bands, 20, 3, 1);
  to_array<float, true> x(22), back(10);
  EXPECT_EXIT_STATUS(wt.transform(x, bands), 255, "band 1 holds 20 samples, 22 are expected");
  EXPECT_EXIT_STATUS(wt.recons(bands, back), 255, "band 1 holds 20 samples, 10 are expected");
  wt.free(bands, 3);
}

TEST(HalfDecimated1DWT, ThresholdAndAbsMaxUseTheSignalNoise) {
  SubBandFilter bank(F_HAAR, NORM_L2);
  HALF_DECIMATED_1D_WT wt(bank);
  wt.NbrScale = 5;
  wt.NbrUndec = 5;
  wt.Noise = 2.f;
  to_array<float, true>* bands = nullptr;
  wt.alloc(bands, 4, 5, 5);
  // Bands 0 to 2 at NSigma + 1, band 3 at NSigma; the smooth band untouched.
  for (int b = 0; b < 5; b++) bands[b].init(2.f * 3.5f);
  wt.threshold(bands, 3.f, 0);
  for (int b = 0; b < 5; b++) EXPECT_EQ(bands[b](0) != 0.f, b >= 3) << b;
  EXPECT_FLOAT_EQ(wt.getAbsMaxTransf(bands), 3.5f);
  bands[3](2) = -20.f;
  EXPECT_FLOAT_EQ(wt.getAbsMaxTransf(bands), 10.f);
  wt.PositiveOnly = True;
  EXPECT_FLOAT_EQ(wt.getAbsMaxTransf(bands), 3.5f);
  wt.free(bands, 5);
}
