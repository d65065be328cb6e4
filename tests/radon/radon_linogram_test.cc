// Linogram Radon transform: projections against sums taken directly on the
// image, the order of the spectrum samples, the slots no sample reaches, and
// the exact inverse on images whose spectrum lies on the sampled points, and
// the projection spectra of two images through one complex FFT, and tables
// shared between objects.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <tuple>

#include "radon/radon.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(Linogram, SinglePixelProjectsToOneBinOnTheAxes) {
  const int n = 8;
  for (int r0 : {0, 3, 6})
    for (int c0 : {1, 4, 7}) {
      Image ima(n, n);
      ima(r0, c0) = 1.f;
      Radon r;
      Image rad;
      r.transform(ima, rad);
      for (int k = 0; k < n; k++) {
        EXPECT_NEAR(rad(0, k), k == c0 ? 1. : 0., 1e-6);
        EXPECT_NEAR(rad(n, k), k == r0 ? 1. : 0., 1e-6);
      }
    }
}

TEST(Linogram, EveryProjectionSumsToTheImageTotal) {
  const int n = 16;
  auto ima = random_image(n, n, 6);
  Radon r;
  Image rad;
  r.transform(ima, rad);
  const double total = ima.total();
  for (int i = 0; i < rad.nl(); i++) {
    double s = 0;
    for (int k = 0; k < rad.nc(); k++) s += rad(i, k);
    EXPECT_NEAR(s, total, 1e-3) << i;
  }
}

TEST(Linogram, LineSpectraSampleTheCentredSpectrum) {
  const int n = 8;
  auto ima = random_image(n, n, 7);
  Radon r;
  r.alloc(n, n, RADON_FFT, 0, 0);
  to_array<std::complex<float>, false> radf, spectrum(n, n);
  r.fft_trans_cf(ima, radf);
  FFTN_2D fft;
  fft.fftn2d(ima, spectrum, False);
  // Line 0 is the middle line of the spectrum in order.
  for (int k = 0; k < n; k++) EXPECT_EQ(radf(0, k), spectrum(4, k)) << k;
  // Line 12 (3 pi / 4) starts outside the grid on either end: slot 0 stays 0.
  EXPECT_EQ(radf(12, 0), std::complex<float>());
  // Lines ending on the left border start at that border (column 0).
  EXPECT_EQ(radf(14, 0), spectrum(6, 0));
}

TEST(Linogram, LineTransformsRoundTripForEveryFlagAndForMethodFive) {
  for (type_radon m : {RADON_FFT, RADON_FFT_SLANT_STACK}) {
    Radon r;
    r.alloc(8, 8, m, 0, 0);
    auto rad = random_image(r.radon_nl(), r.radon_nc(), 8);
    to_array<std::complex<float>, false> f1, f2;
    r.fft_line(rad, f1, True);
    r.fft_line(rad, f2, False);
    EXPECT_EQ(pixels(f1), pixels(f2));
    Image back;
    r.invfft_line(f1, back);
    EXPECT_LT(qz_test::max_abs_difference(back, rad), 1e-5) << m;
  }
}

// A real image whose spectrum lies inside the central band that every
// radial line crosses at each of its grid points.
Image band_limited_image(int n, int band, unsigned seed) {
  auto coef = random_image(2 * band + 1, 2 * band + 1, seed);
  Image ima(n, n);
  for (int y = 0; y < n; y++)
    for (int x = 0; x < n; x++) {
      double v = 0;
      for (int a = -band; a <= band; a++)
        for (int b = -band; b <= band; b++)
          v += coef(a + band, b + band) * std::cos(2 * M_PI * (a * y + b * x) / n + a - b);
      ima(y, x) = static_cast<float>(v);
    }
  return ima;
}

// Two real images through one FFT of a + i b: each one's projection
// spectra as its own transform gives them, up to float rounding, for even
// and odd sides (whose opposite frequencies pair differently). A wrong
// opposite point or a swapped part is off by the spectra themselves.
TEST(Linogram, PairOfImagesGivesTheSpectraOfEach) {
  for (int n : {16, 32, 17, 9}) {
    SCOPED_TRACE(testing::Message() << "side " << n);
    Image a = random_image(n, n, 30u + unsigned(n)), b = random_image(n, n, 60u + unsigned(n));
    Radon single, pair;
    to_array<std::complex<float>, false> spectra_a, spectra_b, pair_a, pair_b;
    single.fft_trans_cf(a, spectra_a);
    single.fft_trans_cf(b, spectra_b);
    pair.fft_trans_cf_pair(a, b, pair_a, pair_b);
    // Every spectrum value is a sum of n^2 values of at most 1.
    const double tolerance = 4 * qz_test::transform_tolerance<float>(n * n) * n * n;
    EXPECT_LE(qz_test::max_abs_difference(pair_a, spectra_a), tolerance);
    EXPECT_LE(qz_test::max_abs_difference(pair_b, spectra_b), tolerance);
    EXPECT_GT(qz_test::max_abs_difference(pair_a, pair_b), 1.);
  }
}

TEST(Linogram, InverseIsExactOnBandLimitedImages) {
  for (int n : {8, 16, 32}) {
    auto ima = band_limited_image(n, 1, 9 + n);
    Radon r;
    Image rad, back;
    r.transform(ima, rad);
    r.recons(rad, back);
    EXPECT_LT(qz_test::max_abs_difference(back, ima), 1e-4 * n) << n;
  }
}

// An object that takes another's tables transforms as one that builds its
// own: forward, pair and inverse, bit for bit. The tables stay right when
// either object is allocated again for another side afterwards, and a model
// of another side or method shares nothing.
TEST(Linogram, SharedTablesTransformAsOwnOnes) {
  struct Case {
    int side, model_side;
    type_radon model_method;
  };
  for (const Case c : {Case{16, 16, RADON_FFT}, Case{17, 17, RADON_FFT}, Case{16, 8, RADON_FFT},
                       Case{16, 16, RADON_FFT_SLANT_STACK}}) {
    SCOPED_TRACE(testing::Message() << "side " << c.side << ", model " << c.model_side);
    const int n = c.side;
    const Image a = random_image(n, n, 70u + unsigned(n)), b = random_image(n, n, 90u + unsigned(n));
    Radon own, model, sharer;
    own.alloc(n, n, RADON_FFT, 0, 0);
    model.alloc(c.model_side, c.model_side, c.model_method, 0, 0);
    sharer.alloc(n, n, RADON_FFT, 0, 0);
    sharer.share_linogram_table(model);
    // The model moves on to another side: what the sharer took must stay.
    model.alloc(n + 4, n + 4, RADON_FFT, 0, 0);
    Image moved = random_image(n + 4, n + 4, 5), rad_model;
    model.transform(moved, rad_model);

    auto transforms = [&](Radon& r) {
      Image ia = a, ib = b, rad, back;
      to_array<std::complex<float>, false> fa, fb;
      r.fft_trans_cf_pair(ia, ib, fa, fb);
      r.transform(ia, rad);
      r.recons(rad, back);
      return std::make_tuple(pixels(fa), pixels(fb), pixels(rad), pixels(back));
    };
    EXPECT_EQ(transforms(sharer), transforms(own));
    // Allocated again for another side, the sharer builds its own tables.
    Radon other;
    other.alloc(n + 1, n + 1, RADON_FFT, 0, 0);
    sharer.alloc(n + 1, n + 1, RADON_FFT, 0, 0);
    Image c1 = random_image(n + 1, n + 1, 3), rad_sharer, rad_other;
    sharer.transform(c1, rad_sharer);
    other.transform(c1, rad_other);
    EXPECT_EQ(pixels(rad_sharer), pixels(rad_other));
  }
}

}  // namespace
