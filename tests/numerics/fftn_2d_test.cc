// FFTN_2D: both engines against the direct centred 2D DFT and against each
// other, centring for odd and even sizes, shifts and convolutions.
#include "numerics/fftn_2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "numerics/dft_reference.h"
#include "support/death.h"

using dft_ref::cplx;
using Icf = to_array<std::complex<float>, false>;

namespace {

Icf random_image(int nl, int nc, unsigned seed) {
  auto x = dft_ref::random_signal(nl * nc, seed);
  Icf img(nl, nc);
  for (int k = 0; k < nl * nc; k++) img(k) = std::complex<float>(x[k].real(), x[k].imag());
  return img;
}

std::vector<cplx> as_vector(const Icf& img) {
  std::vector<cplx> v(img.n_elem());
  for (int k = 0; k < img.n_elem(); k++) v[k] = cplx(img(k).real(), img(k).imag());
  return v;
}

// Direct sum with both origins at (Nl/2, Nc/2).
std::vector<cplx> centred_dft2d(const Icf& x, int sign) {
  return dft_ref::dft2d(as_vector(x), x.nl(), x.nc(), sign, true);
}

to_array<float, false> ramp_image(int nl, int nc) {
  to_array<float, false> img(nl, nc);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) img(i, j) = static_cast<float>((i * 7 + j * 3) % 13) - 6.f;
  return img;
}

}  // namespace

TEST(Fftn2d, BothEnginesMatchTheCentredDft) {
  // 8x8 and 16x16 take the radix-2 engine, the others the mixed-radix one.
  for (auto [nl, nc] : {std::pair{8, 8}, {16, 16}, {5, 7}, {4, 6}, {9, 9}, {16, 8}, {1, 1}, {3, 12}}) {
    Icf img = random_image(nl, nc, nl * 100 + nc);
    FFTN_2D fft;
    Icf spec(img);
    fft.fftn2d(spec);
    EXPECT_LT(dft_ref::max_rel_error(as_vector(spec), centred_dft2d(img, 1)), 2e-6)
        << nl << "x" << nc;
    fft.ifftn2d(spec);
    EXPECT_LT(dft_ref::max_rel_error(as_vector(spec), as_vector(img)), 2e-6);
  }
}

TEST(Fftn2d, Radix2AndMixedRadixPathsAgree) {
  for (int n : {32, 256}) {
    Icf img = random_image(n, n, n);
    FFTN_2D fft;
    Icf radix2(img), mixed(img);
    fft.fftn2d(radix2);
    // The general path by hand: uncentre, mixed-radix transform, centre.
    fft.uncenter(mixed);
    fft.transform2d(reinterpret_cast<float*>(mixed.buffer()), n, n, False);
    fft.center(mixed);
    long double err = dft_ref::max_rel_error(as_vector(radix2), as_vector(mixed));
    EXPECT_LT(err, 2e-6) << n;
  }
}

TEST(Fftn2d, UncentredFlagGivesThePlainDft) {
  Icf img = random_image(6, 10, 3);
  FFTN_2D fft;
  fft.CenterZeroFreq = 0;
  Icf spec(img);
  fft.fftn2d(spec);
  EXPECT_LT(dft_ref::max_rel_error(as_vector(spec), dft_ref::dft2d(as_vector(img), 6, 10, 1)),
            2e-6);
  // Radix-2 path with the flag off: spatial origin at the centre, frequency
  // origin at (0, 0); forward then inverse still returns the input.
  Icf sq = random_image(8, 8, 4), back(sq);
  fft.fftn2d(back);
  fft.fftn2d(back, True);
  EXPECT_LT(dft_ref::max_rel_error(as_vector(back), as_vector(sq)), 2e-6);
  to_array<float, false> ones(8, 8);
  ones.init(1.f);
  Icf spec8(8, 8);
  fft.fftn2d(ones, spec8);
  for (int i = 0; i < 8; i++)
    for (int j = 0; j < 8; j++) EXPECT_NEAR(std::abs(spec8(i, j)), i == 0 && j == 0 ? 64.f : 0.f, 1e-4);
}

TEST(Fftn2d, CentredDeltaTransformsToOnes) {
  for (auto [nl, nc] : {std::pair{5, 7}, {4, 6}, {8, 8}, {1, 1}, {7, 7}, {100, 64}}) {
    to_array<float, false> delta(nl, nc);
    delta(nl / 2, nc / 2) = 1.f;
    Icf spec(nl, nc);
    FFTN_2D fft;
    fft.fftn2d(delta, spec);
    for (int k = 0; k < nl * nc; k++) {
      ASSERT_NEAR(spec(k).real(), 1.f, 1e-6) << nl << "x" << nc << " at " << k;
      ASSERT_NEAR(spec(k).imag(), 0.f, 1e-6);
    }
  }
}

TEST(Fftn2d, CentringRoundTripsAndMatchesQuadrantSwap) {
  for (auto [nl, nc] : {std::pair{5, 7}, {4, 6}, {1, 3}, {6, 5}}) {
    FFTN_2D fft;
    to_array<float, false> img = ramp_image(nl, nc), orig(img);
    fft.center(img);
    EXPECT_EQ(img(nl / 2, nc / 2), orig(0, 0));
    fft.uncenter(img);
    for (int k = 0; k < nl * nc; k++) EXPECT_EQ(img(k), orig(k));

    Icf c = random_image(nl, nc, 9), byshift(nl, nc), byswap(c);
    im_shift(c, byshift, (nc + 1) / 2, (nl + 1) / 2);
    fft.swap_buff(byswap, False);
    for (int k = 0; k < nl * nc; k++) EXPECT_EQ(byswap(k), byshift(k));
    im_shift(c, byshift, -((nc + 1) / 2), -((nl + 1) / 2));
    byswap = c;
    fft.swap_buff(byswap, True);
    for (int k = 0; k < nl * nc; k++) EXPECT_EQ(byswap(k), byshift(k));
  }
}

TEST(Fftn2d, ShiftWrapsOnceOnly) {
  const int nl = 4, nc = 5;
  to_array<float, false> img = ramp_image(nl, nc), out;
  im_shift(img, out, nc + 1, 0);
  ASSERT_EQ(out.nl(), nl);
  ASSERT_EQ(out.nc(), nc);
  for (int i = 0; i < nl; i++) {
    for (int j = 0; j < nc - 1; j++) EXPECT_EQ(out(i, j), img(i, j + 1));
    EXPECT_EQ(out(i, nc - 1), 0.f);
  }
  im_shift(img, out, 0, -nl);
  for (int k = 0; k < nl * nc; k++) EXPECT_EQ(out(k), img(k));
  // In place: the same as into another image.
  im_shift(img, out, -2, 1);
  im_shift(img, img, -2, 1);
  for (int k = 0; k < nl * nc; k++) EXPECT_EQ(img(k), out(k));
}

TEST(Fftn2d, ConvolutionMatchesDirectCircularSum) {
  for (auto [nl, nc] : {std::pair{6, 5}, {8, 8}, {7, 4}}) {
    to_array<float, false> a = ramp_image(nl, nc), b(nl, nc), result;
    for (int k = 0; k < nl * nc; k++) b(k) = std::sin(0.7f * k);
    FFTN_2D fft;
    fft.convolve(a, b, result);
    ASSERT_EQ(result.nl(), nl);
    for (int i = 0; i < nl; i++)
      for (int j = 0; j < nc; j++) {
        double sum = 0;
        for (int k = 0; k < nl; k++)
          for (int l = 0; l < nc; l++)
            sum += a(k, l) * b(((i - k + nl / 2) % nl + nl) % nl, ((j - l + nc / 2) % nc + nc) % nc);
        EXPECT_NEAR(result(i, j), sum, 1e-4) << nl << "x" << nc;
      }
    // The conjugate spectrum gives the correlation.
    Icf spec(nl, nc);
    fft.fftn2d(b, spec);
    fft.convolve_conj(a, spec, result);
    for (int i = 0; i < nl; i++)
      for (int j = 0; j < nc; j++) {
        double sum = 0;
        for (int k = 0; k < nl; k++)
          for (int l = 0; l < nc; l++)
            sum += a(k, l) * b(((k - i + nl / 2) % nl + nl) % nl, ((l - j + nc / 2) % nc + nc) % nc);
        EXPECT_NEAR(result(i, j), sum, 1e-4) << nl << "x" << nc;
      }
  }
}

TEST(Fftn2d, ConvolutionWithCentredDeltaIsIdentity) {
  for (auto [nl, nc] : {std::pair{16, 16}, {9, 12}}) {
    to_array<float, false> img = ramp_image(nl, nc), delta(nl, nc), result(2, 2);
    delta(nl / 2, nc / 2) = 1.f;
    FFTN_2D fft;
    fft.convolve(img, delta, result);
    ASSERT_EQ(result.nl(), nl);
    ASSERT_EQ(result.nc(), nc);
    for (int k = 0; k < nl * nc; k++) EXPECT_NEAR(result(k), img(k), 1e-5);
    Icf spec(nl, nc);
    fft.fftn2d(delta, spec);
    fft.convolve(img, spec, result);
    for (int k = 0; k < nl * nc; k++) EXPECT_NEAR(result(k), img(k), 1e-5);
  }
}

TEST(Fftn2dDeathTest, SizeMismatches) {
  to_array<float, false> a(64, 64), b(64, 32), r;
  FFTN_2D fft;
  EXPECT_EXIT_STATUS(fft.convolve(a, b, r), 255,
                     "images have not the same size ... \n   Ima 1: Nl = 64 Nc = 64\n"
                     "   Ima 2: Nl = 64 Nc = 32\n");
  Icf small(8, 8);
  EXPECT_EXIT_STATUS(fft.fftn2d(a, small), 255, "result is 8x8, the image 64x64");
}
