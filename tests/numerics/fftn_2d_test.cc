// FFTN_2D: both engines against the direct centred 2D DFT and against each
// other, centring for odd and even sizes, shifts and convolutions.
#include "numerics/fftn_2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "numerics/dft_reference.h"
#include "support/death.h"
#include "support/test_images.h"

using dft_ref::cplx;
using Icf = to_array<std::complex<float>, false>;
using Image = to_array<float, false>;

namespace {


std::vector<cplx> as_vector(const Icf& img) {
  return std::vector<cplx>(img.buffer(), img.buffer() + img.n_elem());
}

long double error(const Icf& got, const std::vector<cplx>& ref) {
  return dft_ref::max_rel_error(reinterpret_cast<const float*>(got.buffer()), ref);
}

Image ramp_image(int nl, int nc) {
  Image img(nl, nc);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) img(i, j) = static_cast<float>((i * 7 + j * 3) % 13) - 6.f;
  return img;
}

// Σ a(k, l)·b(i - k + Nl/2, j - l + Nc/2) (circular): b is a kernel with its
// origin at the centre; `correlate` reads b(k - i + Nl/2, l - j + Nc/2).
double circular_sum(const Image& a, const Image& b, int i, int j, bool correlate) {
  const int nl = a.nl(), nc = a.nc();
  auto wrap = [](int v, int n) { return (v % n + n) % n; };
  double sum = 0;
  for (int k = 0; k < nl; k++)
    for (int l = 0; l < nc; l++)
      sum += a(k, l) * (correlate ? b(wrap(k - i + nl / 2, nl), wrap(l - j + nc / 2, nc))
                                  : b(wrap(i - k + nl / 2, nl), wrap(j - l + nc / 2, nc)));
  return sum;
}

}  // namespace

// 8x8, 16x16 and 1x1 take the radix-2 engine, the others the mixed-radix one.
TEST(Fftn2d, BothEnginesMatchTheCentredDftAndInvert) {
  for (auto [nl, nc] : {std::pair{8, 8}, {16, 16}, {5, 7}, {4, 6}, {9, 9}, {16, 8}, {1, 1}, {3, 12}}) {
    Icf img = random_complex_image(nl, nc, nl * 100 + nc), spec(img);
    FFTN_2D fft;
    fft.fftn2d(spec);
    EXPECT_LT(error(spec, dft_ref::dft2d(as_vector(img), nl, nc, 1, true)), 2e-6) << nl << "x" << nc;
    fft.ifftn2d(spec);
    EXPECT_LT(error(spec, as_vector(img)), 2e-6);
  }
}

TEST(Fftn2d, Radix2AndMixedRadixPathsAgree) {
  for (int n : {32, 512}) {
    Icf img = random_complex_image(n, n, n), radix2(img), mixed(img);
    FFTN_2D fft;
    fft.fftn2d(radix2);
    // The general path by hand: uncentre, mixed-radix transform, centre.
    fft.uncenter(mixed);
    fft.transform2d(reinterpret_cast<float*>(mixed.buffer()), n, n, False);
    fft.center(mixed);
    EXPECT_LT(error(radix2, as_vector(mixed)), 1e-5) << n;  // two float roundings of 18 stages
  }
}

TEST(Fftn2d, UncentredFlagPutsTheZeroFrequencyAtTheOrigin) {
  Icf img = random_complex_image(6, 10, 3), spec(img);
  FFTN_2D fft;
  fft.CenterZeroFreq = 0;
  fft.fftn2d(spec);
  EXPECT_LT(error(spec, dft_ref::dft2d(as_vector(img), 6, 10, 1)), 2e-6);
  // Radix-2 path with the flag off: spatial origin at the centre, frequency
  // origin at (0, 0); forward then inverse still returns the input.
  Icf sq = random_complex_image(8, 8, 4), back(sq);
  fft.fftn2d(back);
  fft.fftn2d(back, True);
  EXPECT_LT(error(back, as_vector(sq)), 2e-6);
  Image delta(8, 8);
  delta(4, 4) = 1.f;
  Icf spec8(8, 8);
  fft.fftn2d(delta, spec8);
  fft.center(spec8);
  for (int k = 0; k < 64; k++) EXPECT_NEAR(std::abs(spec8(k) - 1.f), 0.f, 1e-6);
}

TEST(Fftn2d, CentredDeltaTransformsToOnes) {
  for (auto [nl, nc] : {std::pair{5, 7}, {4, 6}, {8, 8}, {1, 1}, {7, 7}, {100, 64}}) {
    Image delta(nl, nc);
    delta(nl / 2, nc / 2) = 1.f;
    Icf spec(nl, nc);
    FFTN_2D fft;
    fft.fftn2d(delta, spec);
    for (int k = 0; k < nl * nc; k++)
      ASSERT_NEAR(std::abs(spec(k) - 1.f), 0.f, 1e-6) << nl << "x" << nc << " at " << k;
  }
}

// center and uncenter (float and complex) and swap_buff are the shifts by
// ±((Nc+1)/2, (Nl+1)/2), for odd and even sides.
TEST(Fftn2d, CentringIsTheHalfPeriodShift) {
  for (auto [nl, nc] : {std::pair{5, 7}, {4, 6}, {1, 3}, {6, 5}}) {
    FFTN_2D fft;
    for (int dir : {1, -1}) {
      Image img = ramp_image(nl, nc), shifted;
      Icf c = random_complex_image(nl, nc, 9), cshifted, bycenter(c), byswap(c);
      im_shift(img, shifted, dir * ((nc + 1) / 2), dir * ((nl + 1) / 2));
      im_shift(c, cshifted, dir * ((nc + 1) / 2), dir * ((nl + 1) / 2));
      dir == 1 ? fft.center(img) : fft.uncenter(img);
      dir == 1 ? fft.center(bycenter) : fft.uncenter(bycenter);
      fft.swap_buff(byswap, dir == 1 ? False : True);
      for (int k = 0; k < nl * nc; k++) {
        EXPECT_EQ(img(k), shifted(k)) << nl << "x" << nc;
        EXPECT_EQ(bycenter(k), cshifted(k));
        EXPECT_EQ(byswap(k), cshifted(k));
      }
    }
  }
}

TEST(Fftn2d, ShiftWrapsOnceOnly) {
  const int nl = 4, nc = 5;
  Image img = ramp_image(nl, nc), out;
  im_shift(img, out, nc + 1, 0);
  ASSERT_EQ(out.nl(), nl);
  ASSERT_EQ(out.nc(), nc);
  for (int i = 0; i < nl; i++) {
    for (int j = 0; j < nc - 1; j++) EXPECT_EQ(out(i, j), img(i, j + 1));
    EXPECT_EQ(out(i, nc - 1), 0.f);
  }
  im_shift(img, out, 0, -nl);
  for (int k = 0; k < nl * nc; k++) EXPECT_EQ(out(k), img(k));
  im_shift(img, out, 2, nl + 1);  // rows beyond one period: zeros
  for (int j = 0; j < nc; j++) EXPECT_EQ(out(nl - 1, j), 0.f);
  for (int j = 0; j < nc; j++) EXPECT_EQ(out(0, j), img(1, (j + 2) % nc));
  // In place: the same as into another image.
  im_shift(img, out, -2, 1);
  im_shift(img, img, -2, 1);
  for (int k = 0; k < nl * nc; k++) EXPECT_EQ(img(k), out(k));
}

TEST(Fftn2d, ConvolutionsMatchDirectCircularSums) {
  for (auto [nl, nc] : {std::pair{6, 5}, {8, 8}, {7, 4}, {16, 16}, {9, 12}}) {
    Image a = ramp_image(nl, nc), b(nl, nc), delta(nl, nc), result(2, 2);
    for (int k = 0; k < nl * nc; k++) b(k) = std::sin(0.7f * k);
    FFTN_2D fft;
    Icf spec(nl, nc);
    fft.fftn2d(b, spec);
    for (int form = 0; form < 3; form++) {
      if (form == 0) fft.convolve(a, b, result);
      if (form == 1) fft.convolve(a, spec, result);
      if (form == 2) fft.convolve_conj(a, spec, result);  // a correlation
      ASSERT_EQ(result.nl(), nl);
      ASSERT_EQ(result.nc(), nc);
      for (int i = 0; i < nl; i++)
        for (int j = 0; j < nc; j++)
          EXPECT_NEAR(result(i, j), circular_sum(a, b, i, j, form == 2), 1e-4) << nl << "x" << nc;
    }
    // A kernel that is 1 at the centre returns image 1.
    delta(nl / 2, nc / 2) = 1.f;
    fft.convolve(a, delta, result);
    for (int k = 0; k < nl * nc; k++) EXPECT_NEAR(result(k), a(k), 1e-5);
  }
}

TEST(Fftn2dDeathTest, SizeMismatches) {
  Image a(64, 64), b(64, 32), r;
  Icf small(8, 8);
  FFTN_2D fft;
  EXPECT_EXIT_STATUS(fft.convolve(a, b, r), 255,
                     "images have not the same size ... \n   Ima 1: Nl = 64 Nc = 64\n"
                     "   Ima 2: Nl = 64 Nc = 32\n");
  EXPECT_EXIT_STATUS(fft.convolve_conj(a, small, r), 255, "Ima 2: Nl = 8 Nc = 8\n");
  EXPECT_EXIT_STATUS(fft.fftn2d(a, small), 255, "result is 8x8, the image 64x64");
}
