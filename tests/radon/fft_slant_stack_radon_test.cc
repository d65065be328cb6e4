// Fourier-domain slant stack: its sizes, the projections' sums, the
// zero-slope projections of a single pixel, the inverse for odd and even
// sides, the iterative inverse with its debug files and positivity, and the
// size refusals (which end with status -1).
#include "radon/fft_slant_stack_radon.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "io/fits_test_files.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(FFTSlantStack, EveryProjectionSumsToTheImageTotal) {
  for (int n : {7, 8}) {
    fft_slant_stack_radon s;
    s.alloc(n);
    auto ima = random_image(n, n, 20 + n);
    Image rad;
    s.transform(ima, rad);
    for (int i = 0; i < rad.nl(); i++) {
      double sum = 0;
      for (int k = 0; k < rad.nc(); k++) sum += rad(i, k);
      EXPECT_NEAR(sum, ima.total(), 1e-4) << n << " " << i;
    }
  }
}

TEST(FFTSlantStack, VerticalProjectionOfAPixelSitsAtItsPaddedLine) {
  // The steep line of zero slope runs down the column axis of the vertically
  // padded copy: a pixel on line r0 lands on sample Nl1/4 + r0.
  const int n = 8;
  fft_slant_stack_radon s;
  s.alloc(n);
  Image ima(n, n), rad;
  ima(3, 5) = 1.f;
  s.transform(ima, rad);
  const int zero_slope = s.Nc12;
  for (int k = 0; k < s.Ncr; k++) EXPECT_NEAR(rad(zero_slope, k), k == s.Nl1 / 4 + 3 ? 1. : 0., 1e-5) << k;
}

TEST(FFTSlantStack, InverseOfOddAndEvenSidesStaysNearTheImage) {
  for (int n : {7, 8, 16}) {
    fft_slant_stack_radon s;
    s.alloc(n);
    auto ima = random_image(n, n, 30 + n, 1.f, 2.f);
    Image rad, back;
    s.transform(ima, rad);
    s.inverse(rad, back);
    ASSERT_EQ(back.nl(), n);
    EXPECT_LT(qz_test::relative_l2_error(back.buffer(), ima.buffer(), ima.n_elem()), 0.3) << n;
  }
}

TEST(FFTSlantStack, IterativeInverseWritesItsDebugImagesAndKeepsPositivity) {
  const std::string dir = fits_test::scratch("iter");
  mkdir(dir.c_str(), 0700);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  fft_slant_stack_radon s;
  s.alloc(8);
  s.PositivConstraint = True;
  auto ima = random_image(8, 8, 40, -1.f, 2.f);
  Image rad, back;
  s.transform(ima, rad);
  testing::internal::CaptureStdout();
  s.iter_inverse(rad, back, 1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Iter = 1"), std::string::npos);
  EXPECT_EQ(out.find("Iter = 2"), std::string::npos);
  EXPECT_NE(out.find("RESI radon:"), std::string::npos);
  EXPECT_NE(out.find("Data:"), std::string::npos);
  EXPECT_TRUE(fits_test::file_exists("xx_rec.fits"));
  EXPECT_TRUE(fits_test::file_exists("xx_rec1.fits"));
  for (int k = 0; k < back.n_elem(); k++) EXPECT_GE(back(k), 0.f);
  ASSERT_EQ(chdir(cwd), 0);
}

TEST(FFTSlantStackDeath, WrongSizesEndWithMinusOne) {
  fft_slant_stack_radon s;
  s.alloc(8);
  Image ima(6, 6), rad(18, 16), out;
  EXPECT_EXIT_STATUS(s.transform(ima, rad), 255, "Data size = 6 6\n       Class initialization = 8 8");
  EXPECT_EXIT_STATUS(s.inverse(rad, out), 255, "Radon Data size = 18 16");
  EXPECT_EXIT_STATUS(s.iter_inverse(rad, out, 2), 255, "Radon Data size = 18 16");
}

}  // namespace
