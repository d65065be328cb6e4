// Image statistics and arithmetic against brute-force double sums and the
// exact values of small hand-made images.
#include "array/im_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <complex>
#include <type_traits>
#include <vector>

#include "support/bad_pixel_guard.h"
#include "support/death.h"
#include "support/sample_moments.h"
#include "support/test_images.h"

TEST(ImageStatistics, AgreeWithBruteForceSums) {
  to_array<float, false> im = tied_image(37, 29, 1);
  const qz_test::SampleMoments ref = qz_test::sample_moments(im);
  EXPECT_NEAR(average(im), ref.mean, 1e-9);
  EXPECT_NEAR(total(im), ref.sum, 1e-6);
  EXPECT_NEAR(flux(im), ref.sum, 1e-2);
  EXPECT_NEAR(energy(im), ref.sum_sq, 1e-3);
  EXPECT_NEAR(sigma(im), ref.sigma, 1e-6);
  EXPECT_EQ(min(im), ref.min);
  EXPECT_EQ(max(im), ref.max);

  to_array<int, false> ints(13, 17);
  for (int k = 0; k < ints.n_elem(); k++) ints(k) = (k * 7919) % 201 - 100;
  ints(3) = 100000;  // squares past 32 bits
  ints(4) = -100000;
  const qz_test::SampleMoments iref = qz_test::sample_moments(ints);
  EXPECT_NEAR(sigma(ints), iref.sigma, 1e-9 * iref.sigma);
  EXPECT_NEAR(average(ints), iref.mean, 1e-6);
  EXPECT_EQ(flux(ints), static_cast<int>(iref.sum));
  EXPECT_EQ(min(ints), iref.min);
  EXPECT_EQ(max(ints), iref.max);
  ints(3) = ints(4) = 0;
  EXPECT_EQ(energy(ints), static_cast<int>(qz_test::sample_moments(ints).sum_sq));

  // The population value; a constant must not give the root of a negative
  // rounding residue; bad pixels are left out only when asked.
  EXPECT_NEAR(sigma(image_row<float>({1, 2, 3, 4})), std::sqrt(1.25), 1e-7);
  EXPECT_EQ(sigma(image_row<float>({2.5f, 2.5f, 2.5f})), 0.);
  EXPECT_EQ(flux(image_row<int>({1, 2, 3})), 6);
  EXPECT_EQ(energy(image_row<int>({1, 2, 3})), 14);
  BadPixelGuard guard;
  to_array<float, false> with_bad = image_row<float>({-7, 1, 2, 3, 4, -7});
  BadPixalVal = -7.f;
  BadPixel = 1;
  EXPECT_NEAR(sigma(with_bad), std::sqrt(1.25), 1e-7);  // {1, 2, 3, 4}
  BadPixel = 0;
  EXPECT_GT(sigma(with_bad), 3.);
}

TEST(ImageStatistics, ThresholdBlockSumsAndFluxNormalisation) {
  to_array<float, false> im = image_row<float>({-1, 0, 2, -0.5f, 3});
  threshold(im, 0.f);
  EXPECT_EQ(pixels(im), (std::vector<float>{0, 0, 2, 0, 3}));
  threshold(im, 2.f);
  EXPECT_EQ(im(2), 2.f);  // equal to the level: kept

  to_array<float, false> grid(5, 6);
  for (int k = 0; k < grid.n_elem(); k++) grid(k) = static_cast<float>(k + 1);
  EXPECT_EQ(total_in_block(grid, 0, 0, 1), 1.f + 2.f + 7.f + 8.f);
  EXPECT_EQ(total_in_block(grid, 4, 5, 1), 23.f + 24.f + 29.f + 30.f);
  float block = 0;
  for (int i = 1; i <= 3; i++)
    for (int j = 2; j <= 4; j++) block += grid(i, j);
  EXPECT_EQ(total_in_block(grid, 2, 3, 1), block);

  norm_flux(grid, 10.f);
  EXPECT_NEAR(flux(grid), 10.f, 1e-5);
}

TEST(ImageArithmetic, PixelWiseOperatorsAndGuardedDivision) {
  EXPECT_EQ(pixels(image_row<float>({6, 1}) / image_row<float>({3, 0})), (std::vector<float>{2, 0}));
  EXPECT_EQ(pixels(image_row<int>({7, -7}) / image_row<int>({2, 2})), (std::vector<int>{3, -3}));
  // A zero divisor gives 0; the smallest int by -1 wraps instead of trapping.
  EXPECT_EQ(pixels(image_row<int>({5, INT_MIN}) / image_row<int>({0, -1})), (std::vector<int>{0, INT_MIN}));

  // A wider second operand is read pixel by pixel, not as a flat buffer.
  to_array<float, false> a = tied_image(3, 4, 2), b = tied_image(3, 6, 3);
  to_array<float, false> sum = a + b, product = a * b, scaled = 2.f * a, scaled2 = a * 2.f;
  ASSERT_EQ(sum.nl(), 3);
  ASSERT_EQ(sum.nc(), 4);
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 4; j++) {
      EXPECT_EQ(sum(i, j), a(i, j) + b(i, j));
      EXPECT_EQ(product(i, j), a(i, j) * b(i, j));
      EXPECT_EQ(scaled(i, j), 2.f * a(i, j));
      EXPECT_EQ(scaled2(i, j), 2.f * a(i, j));
    }
  to_array<int, false> isum = image_row<int>({-1, 0, 5}) + image_row<int>({4, 3, -6});
  to_array<int, false> iprod = image_row<int>({-1, 0, 5}) * image_row<int>({4, 3, -6});
  EXPECT_EQ(pixels(isum), (std::vector<int>{3, 3, -1}));
  EXPECT_EQ(pixels(iprod), (std::vector<int>{-4, 0, -30}));
  to_array<float, false> narrow(3, 2);
  EXPECT_EXIT_STATUS(a + narrow, 255, "smaller than the first");
}

TEST(ImageConvolution, FlipsTheKernelAndCorrelationDoesNot) {
  // Odd and even kernel sides, so both halves Kl/2 and Kc/2 are exercised;
  // integer images (no correlation) through the same sums, exact, so that
  // any error is at least 1.
  auto expect_sums = [](const auto& a, const auto& kernel, type_border border) {
    constexpr bool correlate = std::is_same_v<std::decay_t<decltype(a)>, to_array<float, false>>;
    const int hl = kernel.nl() / 2, hc = kernel.nc() / 2;
    auto conv = conv_direct(a, kernel, border);
    to_array<float, false> corr(a.nl(), a.nc());
    if constexpr (correlate) convol(a, kernel, corr, border);
    for (int i = 0; i < a.nl(); i++)
      for (int j = 0; j < a.nc(); j++) {
        double flipped = 0, plain = 0;
        for (int r = 0; r < kernel.nl(); r++)
          for (int c = 0; c < kernel.nc(); c++) {
            flipped += double(a(i + hl - r, j + hc - c, border)) * kernel(r, c);
            plain += double(a(i - hl + r, j - hc + c, border)) * kernel(r, c);
          }
        ASSERT_NEAR(conv(i, j), flipped, 1e-3) << i << "," << j << " border " << border;
        if (correlate) {
          ASSERT_NEAR(corr(i, j), plain, 1e-3) << i << "," << j;
        }
      }
  };
  to_array<float, false> a = tied_image(9, 11, 5);
  for (type_border border : {I_CONT, I_MIRROR, I_PERIOD, I_ZERO}) {
    expect_sums(a, tied_image(3, 4, 6), border);
    expect_sums(a, tied_image(1, 3, 7), border);
  }
  expect_sums(tied_image<int>(4, 4, 8, -2, 2), tied_image<int>(3, 3, 9, 0, 8), I_MIRROR);
}

TEST(ImageComparison, CorrelationAndRegression) {
  to_array<float, false> b = tied_image(8, 7, 7), zero(8, 7);
  to_array<float, false> twice = 2.f * b;
  EXPECT_NEAR(correlation(b, b), 1.f, 1e-6);
  EXPECT_EQ(correlation(b, zero), 0.f);
  EXPECT_NEAR(regression(twice, b), 2.f, 1e-6);
  EXPECT_EQ(regression(b, zero), 0.f);
  // With a level only the large pixels count: brute-force over them.
  double ab = 0, aa = 0, bb = 0, rab = 0, rbb = 0;
  to_array<float, false> a = tied_image(8, 7, 8);
  for (int k = 0; k < a.n_elem(); k++) {
    if (std::fabs(a(k)) > 4.f) {
      ab += a(k) * b(k);
      aa += a(k) * a(k);
      bb += b(k) * b(k);
    }
    if (std::fabs(a(k)) > 4.f && std::fabs(b(k)) > 4.f) {
      rab += a(k) * b(k);
      rbb += b(k) * b(k);
    }
  }
  EXPECT_NEAR(correlation(a, b, 4.f), ab / std::sqrt(aa * bb), 1e-6);
  EXPECT_NEAR(regression(a, b, 4.f), rab / rbb, 1e-5);

  to_array<int, false> ia(3, 3), izero(3, 3);
  for (int k = 0; k < 9; k++) ia(k) = k - 4;
  EXPECT_NEAR(correlation(ia, ia), 1.f, 1e-6);
  EXPECT_EQ(correlation(ia, izero), 0.f);

  to_array<float, false> other(8, 6);
  EXPECT_EXIT_STATUS(correlation(a, other), 255,
                     "Error in correlation routine: images have different sizes ...\n"
                     "   image 1: 8X7\n   image 2: 8X6");
  EXPECT_EXIT_STATUS(correlation(a, other, 1.f), 255, "Error in correllation routine");
  EXPECT_EXIT_STATUS(regression(a, other), 255, "Error in regression routine");
}

TEST(ImageConversion, ComplexPartsAndIntegerToFloat) {
  to_array<std::complex<float>, false> z(2, 3);
  for (int k = 0; k < 6; k++) z(k) = std::complex<float>(k, -2.f * k);
  to_array<float, false> re(2, 3), im(2, 3);
  real(re, z);
  imag(im, z);
  for (int k = 0; k < 6; k++) {
    EXPECT_EQ(re(k), float(k));
    EXPECT_EQ(im(k), -2.f * k);
  }
  to_array<int, false> ints(2, 3);
  for (int k = 0; k < 6; k++) ints(k) = 5 - 3 * k;
  ifloat(re, ints);
  for (int k = 0; k < 6; k++) EXPECT_EQ(re(k), float(5 - 3 * k));
  to_array<float, false> wrong(3, 3);
  EXPECT_EXIT_STATUS(ifloat(wrong, ints), 255, "ifloat");
}

TEST(IntegerNoiseSigma, OnePassIsThePopulationDeviationAndConstantsGiveZero) {
  to_array<int, false> im(16, 16);
  for (int k = 0; k < im.n_elem(); k++) im(k) = (k * 37) % 19 - 4;
  const qz_test::SampleMoments ref = qz_test::sample_moments(im);
  EXPECT_NEAR(detect_noise_sigma(im, True, 1), ref.sigma, 1e-4);
  EXPECT_NEAR(detect_noise_sigma(im, False, 1), std::sqrt(ref.sum_sq / im.n_elem()), 1e-4);
  EXPECT_EQ(detect_noise_sigma(im, True, 0), 0.f);

  // An outlier is clipped away by the later passes.
  to_array<int, false> spiky(20, 20);
  for (int k = 0; k < spiky.n_elem(); k++) spiky(k) = (k % 2) ? 1 : -1;
  spiky(7, 7) = 5000;
  EXPECT_NEAR(detect_noise_sigma(spiky, True, 3), 1.f, 1e-2);

  to_array<int, false> flat(10, 10);
  flat.init(42);
  for (int passes : {1, 2, 5}) EXPECT_EQ(detect_noise_sigma(flat, True, passes), 0.f) << passes;
}
