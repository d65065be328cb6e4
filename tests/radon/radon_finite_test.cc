// Finite Radon transform: the projections against sums along the periodic
// lines taken directly, the exact inverse for prime sides, and its failure
// for a composite one.
#include <gtest/gtest.h>

#include "radon/radon.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(FiniteRadon, ProjectionsAreSumsAlongPeriodicLines) {
  const int p = 7;
  auto ima = tied_image(p, p, 1);
  Radon r;
  r.alloc(p, p, RADON_FINITE, 0, 0);
  Image rad;
  r.transform(ima, rad);
  ASSERT_EQ(rad.nl(), p + 1);
  ASSERT_EQ(rad.nc(), p);
  for (int k = 0; k < p; k++)
    for (int l = 0; l < p; l++) {
      float sum = 0.f;
      for (int j = 0; j < p; j++) sum += ima((l + k * j) % p, j);
      EXPECT_EQ(rad(k, l), sum) << k << " " << l;
    }
  for (int j = 0; j < p; j++) {
    float column = 0.f;
    for (int i = 0; i < p; i++) column += ima(i, j);
    EXPECT_EQ(rad(p, j), column);
  }
  for (int k = 0; k <= p; k++) {
    float s = 0.f;
    for (int l = 0; l < p; l++) s += rad(k, l);
    EXPECT_FLOAT_EQ(s, static_cast<float>(ima.total())) << k;
  }
}

TEST(FiniteRadon, SideTwoByHand) {
  Image f(2, 2);
  f(0, 0) = 1.f;
  f(0, 1) = 2.f;
  f(1, 0) = 3.f;
  f(1, 1) = 5.f;
  Radon r;
  r.alloc(2, 2, RADON_FINITE, 0, 0);
  Image rad, back;
  r.transform(f, rad);
  EXPECT_EQ(pixels(rad), (std::vector<float>{3, 8, 6, 5, 4, 7}));
  r.recons(rad, back);
  EXPECT_EQ(pixels(back), pixels(f));
}

TEST(FiniteRadon, InverseIsExactForPrimeSides) {
  for (int p : {2, 7, 31}) {
    auto ima = tied_image(p, p, 2 + p);
    Radon r;
    r.alloc(p, p, RADON_FINITE, 0, 0);
    Image rad, back;
    r.transform(ima, rad);
    r.recons(rad, back);
    EXPECT_LT(qz_test::max_abs_difference(back, ima), 1e-5 * p * p) << p;
  }
}

TEST(FiniteRadon, ConstantImageGivesEqualProjections) {
  const int p = 5;
  Image ima(p, p);
  ima.init(3.f);
  Radon r;
  r.alloc(p, p, RADON_FINITE, 0, 0);
  Image rad, back;
  r.transform(ima, rad);
  for (int k = 0; k < rad.n_elem(); k++) EXPECT_EQ(rad(k), 15.f);
  r.recons(rad, back);
  for (int k = 0; k < back.n_elem(); k++) EXPECT_NEAR(back(k), 3.f, 1e-5);
}

TEST(FiniteRadon, CompositeSideIsNotInverted) {
  auto ima = tied_image(8, 8, 3);
  Radon r;
  r.alloc(8, 8, RADON_FINITE, 0, 0);
  Image rad, back;
  r.transform(ima, rad);
  r.recons(rad, back);
  EXPECT_GT(qz_test::max_abs_difference(back, ima), 1.);
}

TEST(FiniteRadonDeath, InverseNeedsTheColumnSumLine) {
  Radon r;
  r.alloc(7, 7, RADON_FINITE, 0, 0);
  to_array<float, false> rad(7, 7), ima(7, 7);
  EXPECT_EXIT_STATUS(r.inv_finite_radon(rad, ima), 255, "Error: bad image size for the Radon transform");
}

}  // namespace
