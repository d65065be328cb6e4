// Slant-stack Radon transform: the lines of a single pixel, line sums, the
// adjoint relation of transform and inverse, the conjugate-gradient inverse
// (its clipping, its convergence and its stop on a vanishing step), and the
// refusals of sizes the pseudo-polar grid cannot take. Also the direct route
// by Fourier shifts.
#include "radon/slant_stack_radon.h"

#include <gtest/gtest.h>

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(SlantStackRadon, SinglePixelOnTheZeroSlopeLines) {
  const int n = 8;
  slant_stack_radon s;
  s.alloc(n);
  for (int r0 : {0, 3, 7})
    for (int c0 : {0, 5}) {
      Image ima(n, n), rad;
      ima(r0, c0) = 1.f;
      s.transform(ima, rad);
      for (int p = 0; p < 2 * n; p++) {
        EXPECT_NEAR(rad(n / 2, p), p == c0 + n / 2 ? 1. : 0., 1e-5) << r0 << c0 << p;
        EXPECT_NEAR(rad(3 * n / 2, p), p == 3 * n / 2 - r0 ? 1. : 0., 1e-5) << r0 << c0 << p;
      }
    }
}

TEST(SlantStackRadon, EveryLineSumsToTheImageTotal) {
  const int n = 16;
  slant_stack_radon s;
  s.alloc(n);
  auto ima = random_image(n, n, 2);
  Image rad;
  s.transform(ima, rad);
  for (int t = 0; t < 2 * n; t++) {
    double sum = 0;
    for (int p = 0; p < 2 * n; p++) sum += rad(t, p);
    EXPECT_NEAR(sum, ima.total(), 1e-3) << t;
  }
}

TEST(SlantStackRadon, InverseIsTheAdjointOverTwiceTheSquaredSide) {
  const int n = 16;
  slant_stack_radon s;
  s.alloc(n);
  auto y = random_image(n, n, 3);
  auto radon = random_image(2 * n, 2 * n, 4);
  Image ty, ir(n, n);
  s.transform(y, ty);
  s.inverse(radon, ir);
  double lhs = 0, rhs = 0;
  for (int k = 0; k < ty.n_elem(); k++) lhs += double(ty(k)) * radon(k);
  for (int k = 0; k < ir.n_elem(); k++) rhs += double(y(k)) * ir(k);
  EXPECT_NEAR(lhs, 2. * n * n * rhs, 1e-4 * std::fabs(lhs));
}

TEST(SlantStackRadon, IterativeInverseRecoversAPositiveImage) {
  const int n = 16;
  slant_stack_radon s;
  s.alloc(n);
  auto ima = random_image(n, n, 5, 1.f, 2.f);
  Image rad, few(n, n), many(n, n);
  s.transform(ima, rad);
  s.iter_inverse(rad, few, 2);
  EXPECT_EQ(NUM_OF_ITER.load(), 2);
  s.iter_inverse(rad, many, 12);
  const double err_few = qz_test::max_abs_difference(few, ima);
  const double err_many = qz_test::max_abs_difference(many, ima);
  // The imaginary part of the slant stack (the unpaired frequency -N) is
  // not stored, so the solution settles a few percent from the image.
  EXPECT_LE(err_many, err_few);
  EXPECT_LT(qz_test::relative_l2_error(many.buffer(), ima.buffer(), ima.n_elem()), 0.03);
}

TEST(SlantStackRadon, IterativeInverseClipsNegativeValues) {
  const int n = 8;
  slant_stack_radon s;
  s.alloc(n);
  auto ima = random_image(n, n, 6, -1.f, 1.f);
  Image rad, back(n, n);
  s.transform(ima, rad);
  s.iter_inverse(rad, back, 10);
  for (int k = 0; k < back.n_elem(); k++) EXPECT_GE(back(k), 0.f) << k;
  EXPECT_GT(qz_test::max_abs_difference(back, ima), 0.5);
}

TEST(SlantStackRadon, IterativeInverseStopsOnAZeroStep) {
  const int n = 8;
  slant_stack_radon s;
  s.alloc(n);
  Image zero(2 * n, 2 * n), back(n, n);
  back.init(7.f);
  s.iter_inverse(zero, back, 5);
  for (int k = 0; k < back.n_elem(); k++) ASSERT_EQ(back(k), 0.f) << k;
  // No iteration: the estimate is its zero start.
  auto ima = random_image(n, n, 7, 1.f, 2.f);
  Image rad;
  s.transform(ima, rad);
  s.iter_inverse(rad, back, 0);
  for (int k = 0; k < back.n_elem(); k++) ASSERT_EQ(back(k), 0.f) << k;
}

TEST(SlantStackRadon, ThreadCountDoesNotChangeTheResult) {
  const int n = 16;
  auto ima = random_image(n, n, 13);
  Image rad[2], back[2];
  for (int t = 0; t < 2; t++) {
    omp_set_num_threads(t == 0 ? 1 : 4);
    slant_stack_radon s;
    s.alloc(n);
    back[t].alloc(n, n);
    s.transform(ima, rad[t]);
    s.iter_inverse(rad[t], back[t], 2);
  }
  EXPECT_EQ(pixels(rad[0]), pixels(rad[1]));
  EXPECT_EQ(pixels(back[0]), pixels(back[1]));
}

// Iterative inverses of different counts side by side, as ridgelet blocks
// run them: each gives the result of its own count run alone, and the count
// left behind is one of those used.
TEST(SlantStackRadon, SideBySideInversesKeepTheirOwnCounts) {
  const int n = 16, counts[] = {1, 4, 9, 13};
  constexpr int Threads = 4;
  auto ima = random_image(n, n, 21, 1.f, 2.f);
  Image rad, alone[Threads];
  slant_stack_radon s;
  s.alloc(n);
  s.transform(ima, rad);
  for (int t = 0; t < Threads; t++) {
    alone[t].alloc(n, n);
    s.iter_inverse(rad, alone[t], counts[t]);
  }
  bool same[Threads] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < Threads; t++)
    threads.emplace_back([&, t] {
      slant_stack_radon own;
      own.alloc(n);
      Image own_rad = rad, back(n, n);
      same[t] = true;
      for (int round = 0; round < 4; round++) {
        own.iter_inverse(own_rad, back, counts[t]);
        same[t] = same[t] && pixels(back) == pixels(alone[t]);
      }
    });
  for (auto& t : threads) t.join();
  for (int t = 0; t < Threads; t++) EXPECT_TRUE(same[t]) << counts[t] << " iterations";
  EXPECT_NE(std::find(std::begin(counts), std::end(counts), NUM_OF_ITER.load()), std::end(counts));
}

// Inversions of several sizes and counts run while another thread keeps
// storing a count none of them uses (0, which would leave the estimate at its
// zero start): an inversion that read the shared count after its own store
// would see it. The rounds go on until the other thread has stored during
// enough inversions, so that the two surely ran side by side.
TEST(SlantStackRadon, AnInverseKeepsItsCountWhileAnotherThreadStoresOne) {
  const struct {
    int n, count;
  } cases[] = {{8, 3}, {16, 1}, {16, 7}, {32, 2}};
  constexpr int Wanted = 200, MaxRounds = 1000;
  // One thread per inversion, as in the ridgelet blocks' workers.
  const int saved_threads = omp_get_max_threads();
  omp_set_num_threads(1);
  std::vector<slant_stack_radon> engines(std::size(cases));
  std::vector<Image> radon, alone;
  for (std::size_t k = 0; k < std::size(cases); k++) {
    const int n = cases[k].n;
    engines[k].alloc(n);
    auto ima = random_image(n, n, 30 + static_cast<int>(k), 1.f, 2.f);
    Image rad, back(n, n);
    engines[k].transform(ima, rad);
    engines[k].iter_inverse(rad, back, cases[k].count);
    radon.push_back(rad);
    alone.push_back(back);
  }
  const int saved = NUM_OF_ITER.load();
  std::atomic<bool> done{false};
  std::atomic<long> stores{0};
  std::thread setter([&] {
    while (!done) {
      NUM_OF_ITER.store(0);
      stores++;
    }
  });
  int inversions = 0, overlapped = 0, differing = 0;
  for (int round = 0; round < MaxRounds && overlapped < Wanted; round++)
    for (std::size_t k = 0; k < std::size(cases); k++) {
      Image back(cases[k].n, cases[k].n);
      const long before = stores;
      engines[k].iter_inverse(radon[k], back, cases[k].count);
      overlapped += stores != before;
      differing += pixels(back) != pixels(alone[k]);
      inversions++;
    }
  done = true;
  setter.join();
  NUM_OF_ITER.store(saved);
  omp_set_num_threads(saved_threads);
  EXPECT_EQ(differing, 0) << "of " << inversions << " inversions";
  EXPECT_GE(overlapped, Wanted) << "inversions with a store of the other thread in their course";
}

TEST(SlantStackRadonDeath, RefusesSizesItCannotTake) {
  slant_stack_radon s;
  s.alloc(6);
  Image ima(6, 6), rad;
  EXPECT_EXIT_STATUS(s.transform(ima, rad), 255, "must be a power of two");
  slant_stack_radon t;
  t.alloc(8);
  Image small(4, 4), radon(16, 16), wrong(16, 8), out(8, 8);
  EXPECT_EXIT_STATUS(t.transform(small, rad), 255, "image of 4 x 4");
  EXPECT_EXIT_STATUS(t.inverse(radon, small), 255, "image of 4 x 4");
  EXPECT_EXIT_STATUS(t.iter_inverse(wrong, out, 3), 255, "Radon image of 16 x 8");
}

TEST(SlantStackDirect, CentreDirectionHoldsColumnAndLineSums) {
  const int n = 8, c = (n + 1) / 2, q = 2 * n / 4;
  slant_stack_radon s;
  s.alloc(n);
  s.UsePPFFT = 0;
  auto ima = random_image(n, n, 8);
  Image rad;
  s.transform(ima, rad);
  ASSERT_EQ(rad.nl(), 2 * n);
  for (int x = 0; x < 2 * n; x++) {
    double column = 0, line = 0;
    if (x >= q && x < q + n)
      for (int i = 0; i < n; i++) {
        column += ima(i, x - q);
        line += ima(x - q, i);
      }
    EXPECT_NEAR(rad(c, x), column, 1e-4) << x;
    EXPECT_NEAR(rad(2 * n - 1 - c, 2 * n - 1 - x), line, 1e-4) << x;
  }
}

TEST(SlantStackDirect, IterativeInverseImprovesOnTheOnePassInverse) {
  const int n = 8;
  slant_stack_radon s;
  s.alloc(n);
  s.UsePPFFT = 0;
  auto ima = random_image(n, n, 9, 1.f, 2.f);
  Image rad, once, iterated;
  s.transform(ima, rad);
  s.inverse(rad, once);
  s.iter_inverse(rad, iterated, 4);
  EXPECT_LT(qz_test::max_abs_difference(iterated, ima), qz_test::max_abs_difference(once, ima));
  Image fourier(n, n);
  s.inverse_fft(rad, fourier);
  for (int k = 0; k < fourier.n_elem(); k++) ASSERT_TRUE(std::isfinite(fourier(k)));
}

TEST(SlantStackDirectDeath, InverseOfAWrongSizeEndsWithMinusOne) {
  slant_stack_radon s;
  s.alloc(8);
  s.UsePPFFT = 0;
  Image rad(10, 16), ima;
  EXPECT_EXIT_STATUS(s.inverse(rad, ima), 255, "Radon Data size = 10 16");
}

}  // namespace
