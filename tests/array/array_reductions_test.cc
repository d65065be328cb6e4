// Reductions and element arithmetic of to_array, and the INFO summary line,
// against brute-force sums and hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "array/array_ops.h"
#include "array/to_array.h"
#include "support/capture.h"
#include "support/death.h"
#include "support/sample_moments.h"
#include "support/test_images.h"

TEST(ArrayReductions, SumsAgreeWithBruteForce) {
  // Above the pool threshold and not a multiple of any unrolling width.
  to_array<float, false> img(251, 207);
  fill_random(img, 1, -3.f, 5.f);
  const qz_test::SampleMoments ref = qz_test::sample_moments(img);
  EXPECT_NEAR(img.total(), ref.sum, 1e-9 * std::fabs(ref.sum));
  EXPECT_NEAR(img.mean(), ref.mean, 1e-12);
  EXPECT_NEAR(img.sigma(), ref.sigma, 1e-12);

  // energy accumulates in float: equal to a float loop, close to the exact sum.
  float fsum = 0.f;
  for (int k = 0; k < img.n_elem(); k++) fsum += img(k) * img(k);
  EXPECT_EQ(img.energy(), fsum);
  EXPECT_NEAR(img.energy(), ref.sum_sq, 1e-4 * ref.sum_sq);

  to_array<int, true> counts(1000);
  long long isum = 0;
  for (int k = 0; k < 1000; k++) isum += counts(k) = 2000000 + k;  // past int range
  EXPECT_EQ(counts.total(), double(isum));
}

TEST(ArrayReductions, SigmaFloorsTheVariance) {
  to_array<float, true> flat(10);
  flat.init(3.7f);
  EXPECT_EQ(flat.sigma(), 0.0);
  EXPECT_EQ(signal({0, 0.0002f}).sigma(), 0.0);  // variance 1e-8
  EXPECT_NEAR(signal({0, 0.002f}).sigma(), 0.001, 1e-9);
}

TEST(ArrayReductions, ExtremesKeepTheFirstOccurrence) {
  int index = -1;
  EXPECT_EQ(signal({1, 5, 5, 2}).max(index), 5.f);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(image_row<int>({3, 1, 1}).min(index), 1);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(signal({2, -7, 7}).maxfabs(index), -7.f);
  EXPECT_EQ(index, 1);
  index = -1;
  EXPECT_EQ(signal({0, 0, 0}).maxfabs(index), 0.f);
  EXPECT_EQ(index, 0);

  to_array<float, false> img = random_image(60, 70, 2, -100.f, 100.f);
  int lo = 0, hi = 0, mag = 0;
  for (int k = 1; k < img.n_elem(); k++) {
    if (img(k) < img(lo)) lo = k;
    if (img(k) > img(hi)) hi = k;
    if (std::fabs(img(k)) > std::fabs(img(mag))) mag = k;
  }
  EXPECT_EQ(img.min(index), img(lo));
  EXPECT_EQ(index, lo);
  EXPECT_EQ(img.max(index), img(hi));
  EXPECT_EQ(index, hi);
  EXPECT_EQ(img.maxfabs(index), img(mag));
  EXPECT_EQ(index, mag);
}

TEST(ArrayArithmetic, ElementwiseOperatorsRoundTrip) {
  fltarray low = signal({-1, 2, -3});
  low.inf_threshold(0.f);
  EXPECT_EQ(pixels(low), (std::vector<float>{0, 2, 0}));

  to_array<float, false> a = random_image(300, 200, 3), b = random_image(300, 200, 4);
  to_array<float, false> d = a - b;
  EXPECT_EQ(d.nl() * 1000 + d.nc(), 300200);
  EXPECT_EQ(d.name(), "");
  for (int k = 0; k < a.n_elem(); k++) ASSERT_EQ(d(k), a(k) - b(k));
  d += b;
  for (int k = 0; k < a.n_elem(); k++) ASSERT_NEAR(d(k), a(k), 1e-6f);
  d -= a;
  EXPECT_LT(d.maxfabs(), 1e-6f);

  using C = std::complex<float>;
  to_array<C, false> z = image_row<C>({{1, 2}, {0, 1}}), w = image_row<C>({{3, -1}, {0, 1}});
  z *= w;
  EXPECT_EQ(pixels(z), (std::vector<C>{{5, 5}, {-1, 0}}));
  z += w;
  EXPECT_EQ(z(0), C(8, 4));

  to_array<float, false> small(2, 2);
  EXPECT_EXIT_STATUS(a += small, 255, "combined with one of 4 elements");
  EXPECT_EXIT_STATUS(a - small, 255, "combined");
}

TEST(Info, PrintsTheSummaryLine) {
  to_array<float, false> img = image_row<float>({1, 2, 3, 4});
  EXPECT_EQ(qz_test::stdout_of([&] { INFO(img, "img"); }),
            "img: Min = 1    Max = 4    Flux = 10    Mean = 2.5     Sigma = 1.11803\n");

  // 0.3f squared in float rounds down, so E[x^2] - mean^2 falls below 0.
  to_array<float, false> flat(4, 4);
  flat.init(0.3f);
  const std::string line = qz_test::stdout_of([&] { INFO(flat, "flat"); });
  EXPECT_NE(line.find("Sigma = 0\n"), std::string::npos) << line;

  to_array<float, false> one_d;
  one_d.alloc(4);
  EXPECT_EXIT_STATUS(INFO(one_d, "x"), 255, "Error: naxis = 1 and a two dim array is expected");
}
