// The Radon object: sizes and refusals of alloc per method, the angle
// tables, the texts of the methods, and the dispatch of transform and
// recons (including the fall-back to the linogram method).
#include "radon/radon.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/death.h"
#include "support/test_images.h"

namespace {

struct SizeCase {
  int nl, nc;
  type_radon method;
  int nbr_proj, resol;
  int nlr, ncr;
};

TEST(RadonAlloc, SizesPerMethod) {
  const SizeCase cases[] = {
      {8, 8, RADON_FFT, 0, 0, 16, 8},          {7, 7, RADON_FINITE, 20, 30, 8, 7},
      {8, 8, RADON_SLANT_STACK, 0, 0, 16, 16}, {8, 8, RADON_FFT_SLANT_STACK, 0, 0, 18, 17},
      {7, 7, RADON_FFT_SLANT_STACK, 0, 0, 14, 15}, {8, 8, RADON_PROJ_BACK, 0, 0, 16, 8},
      {8, 6, RADON_PROJ_FFT, 5, 32, 5, 32},
  };
  for (const SizeCase& c : cases) {
    Radon r;
    r.alloc(c.nl, c.nc, c.method, c.nbr_proj, c.resol);
    EXPECT_EQ(r.radon_nl(), c.nlr) << c.method;
    EXPECT_EQ(r.radon_nc(), c.ncr) << c.method;
    EXPECT_EQ(r.Allocated, True);
  }
}

TEST(RadonAllocDeath, RefusesSizesItsMethodCannotTake) {
  Radon r;
  EXPECT_EXIT_STATUS(r.alloc(8, 8, RADON_FFT, 12, 0), 255,
                     "Error: with this Radon method, Projections number must be equal to Nl\\+Nc");
  EXPECT_EXIT_STATUS(r.alloc(8, 8, RADON_FFT, 16, 9), 255,
                     "Error: with this Radon method, Resolution number must be equal to Nc");
  EXPECT_EXIT_STATUS(r.alloc(8, 6, RADON_SLANT_STACK, 0, 0), 255,
                     "Error: input image must be square when using this transform");
  // The finite transform's p + 1 projections of p samples need p x p.
  for (int nl : {3, 1})
    EXPECT_EXIT_STATUS(r.alloc(nl, 5, RADON_FINITE, 0, 0), 255,
                       "Error: input image must be square when using this transform");
  EXPECT_EXIT_STATUS(r.alloc(0, 8, RADON_FFT, 0, 0), 255, "at least one pixel");
}

TEST(RadonAlloc, RadialLinesReachEveryBorderPoint) {
  Radon r;
  r.alloc(8, 8, RADON_FFT, 0, 0);
  for (int i = 0; i <= 4; i++) EXPECT_DOUBLE_EQ(r.TabLineAngle[i], std::atan(i / 4.)) << i;
  for (int i = 5; i <= 8; i++) EXPECT_DOUBLE_EQ(r.TabLineAngle[i], M_PI / 2 - std::atan((8 - i) / 4.)) << i;
  for (int i = 8; i <= 12; i++) EXPECT_DOUBLE_EQ(r.TabLineAngle[i], M_PI / 2 + std::atan((i - 8) / 4.)) << i;
  for (int i = 13; i <= 15; i++) EXPECT_DOUBLE_EQ(r.TabLineAngle[i], M_PI - std::atan((16 - i) / 4.)) << i;
  EXPECT_DOUBLE_EQ(r.TabLineStep[0], 1.);
  EXPECT_DOUBLE_EQ(r.TabLineStep[4], 2 * std::sqrt(32.) / 8);
}

TEST(StringRadon, TextsOfTheSixMethods) {
  EXPECT_STREQ(StringRadon(RADON_FFT), "Radon transform (resp. reconstruction) in Fourier space (Linogram)");
  EXPECT_STREQ(StringRadon(RADON_PROJ_FFT),
               "Radon transform in spatial domain and reconstruction in Fourier domain ");
  EXPECT_STREQ(StringRadon(RADON_FINITE), "Finite Radon Transform");
  EXPECT_EQ(StringRadon(static_cast<type_radon>(6)), nullptr);
  EXPECT_EQ(StringRadon(static_cast<type_radon>(-1)), nullptr);
}

TEST(RadonDispatch, UnallocatedObjectFallsBackToTheLinogram) {
  Radon r;
  r.RadonMethod = RADON_FINITE;
  auto ima = random_image(8, 8, 1);
  to_array<float, false> rad;
  r.transform(ima, rad);
  EXPECT_EQ(r.RadonMethod, RADON_FFT);
  EXPECT_EQ(rad.nl(), 16);
  EXPECT_EQ(rad.nc(), 8);

  Radon fresh;
  to_array<float, false> back;
  fresh.recons(rad, back);
  EXPECT_EQ(fresh.RadonMethod, RADON_FFT);
  EXPECT_EQ(back.nl(), 8);
  EXPECT_EQ(back.nc(), 8);
}

TEST(RadonDispatchDeath, RefusesWhatTheLinogramCannotTake) {
  Radon r;
  to_array<float, false> flat(6, 8), rad(9, 8), ima;
  EXPECT_EXIT_STATUS(r.transform(flat, rad), 255, "Error: this RADON transform need square images");
  EXPECT_EXIT_STATUS(r.recons(rad, ima), 255, "Projections number must be equal to Nl\\+Nc");
}

TEST(RadonDispatch, EveryMethodRoundTripsTheImageSize) {
  for (type_radon m : {RADON_PROJ_BACK, RADON_PROJ_FFT, RADON_FFT, RADON_FINITE, RADON_SLANT_STACK,
                       RADON_FFT_SLANT_STACK}) {
    const int n = m == RADON_FINITE ? 7 : 8;
    Radon r;
    r.NbrSlantStackIter = 1;
    r.alloc(n, n, m, 0, 0);
    auto ima = random_image(n, n, 3, 0.f, 1.f);
    to_array<float, false> rad, back;
    r.transform(ima, rad);
    EXPECT_EQ(rad.nl(), r.radon_nl()) << m;
    EXPECT_EQ(rad.nc(), r.radon_nc()) << m;
    r.recons(rad, back);
    EXPECT_EQ(back.nl(), n) << m;
    EXPECT_EQ(back.nc(), n) << m;
    for (int k = 0; k < back.n_elem(); k++) ASSERT_TRUE(std::isfinite(back(k))) << m;
  }
}

TEST(RadonDispatch, OneSlantStackIterationMeansTheOnePassInverse) {
  Radon r;
  r.alloc(8, 8, RADON_SLANT_STACK, 0, 0);
  r.NbrSlantStackIter = 1;
  auto ima = random_image(8, 8, 4);
  to_array<float, false> rad, back, direct(8, 8);
  r.transform(ima, rad);
  r.recons(rad, back);
  r.SlantStack.inverse(rad, direct);
  EXPECT_EQ(pixels(back), pixels(direct));
  // The one-pass inverse keeps negative values; the iterative one clips them.
  bool negative = false;
  for (int k = 0; k < back.n_elem(); k++) negative |= back(k) < 0.f;
  EXPECT_TRUE(negative);
}

}  // namespace
