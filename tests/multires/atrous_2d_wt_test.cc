// The a trous transform: smoothing against a direct per-pixel evaluation,
// the three reconstructions, and the band noise levels against simulated noise.
#include "multires/atrous_2d_wt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using Image = to_array<float, false>;

Image random_image(int nl, int nc, unsigned seed, float scale = 100.f) {
  Image ima(nl, nc, "test");
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(-scale, scale);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = u(gen);
  return ima;
}

// Direct evaluation of one smoothing through the bordered reads, with the
// pair sums in float and the weighted sum in double.
Image reference_smoothing(const Image& in, int s, type_border border) {
  const int d = 1 << s;
  Image lines(in.nl(), in.nc()), out(in.nl(), in.nc());
  for (int i = 0; i < in.nl(); i++)
    for (int j = 0; j < in.nc(); j++) {
      float p1 = in(i, j - d, border) + in(i, j + d, border);
      float p2 = in(i, j - 2 * d, border) + in(i, j + 2 * d, border);
      lines(i, j) = static_cast<float>(0.375 * in(i, j) + 0.25 * p1 + 0.0625 * p2);
    }
  for (int i = 0; i < in.nl(); i++)
    for (int j = 0; j < in.nc(); j++) {
      float p1 = lines(i - d, j, border) + lines(i + d, j, border);
      float p2 = lines(i - 2 * d, j, border) + lines(i + 2 * d, j, border);
      out(i, j) = static_cast<float>(0.375 * lines(i, j) + 0.25 * p1 + 0.0625 * p2);
    }
  return out;
}

float max_abs_diff(const Image& a, const Image& b) {
  float m = 0;
  for (int k = 0; k < a.n_elem(); k++) m = std::fmax(m, std::fabs(a(k) - b(k)));
  return m;
}

}  // namespace

TEST(AtrousTransform, SmoothingMatchesDirectEvaluationForEveryBorderRule) {
  const Image ima = random_image(23, 37, 1);
  for (type_border border : {I_CONT, I_MIRROR, I_PERIOD, I_ZERO}) {
    ATROUS_2D_WT at;
    at.Border = border;
    // Scale 3 puts neighbours 16 samples away, beyond the border of 23
    // lines; at scale 5 the holes are wider than the 37 columns.
    for (int s = 0; s <= 5; s++) {
      Image out;
      at.b3spline_filtering(ima, out, s);
      Image ref = reference_smoothing(ima, s, border);
      ASSERT_EQ(out.nl(), 23);
      ASSERT_EQ(out.nc(), 37);
      EXPECT_EQ(max_abs_diff(out, ref), 0.f) << "border " << border << " scale " << s;
    }
  }
}

TEST(AtrousTransform, SmoothingWithAddAddsTheInput) {
  const Image ima = random_image(16, 16, 2);
  ATROUS_2D_WT at;
  Image plain, added;
  at.b3spline_filtering(ima, plain, 1);
  at.b3spline_filtering(ima, added, 1, True);
  for (int k = 0; k < ima.n_elem(); k++) EXPECT_EQ(added(k), plain(k) + ima(k));
}

TEST(AtrousTransform, ConstantImageHasZeroDetailsAtEveryScale) {
  Image ima(8, 8, "flat");
  ima.init(7.f);
  ATROUS_2D_WT at;
  Image* bands = nullptr;
  at.alloc(bands, 8, 8, 6);  // scales up to 2 x 16 samples: all from the border
  at.transform(ima, bands, 6);
  for (int b = 0; b < 5; b++)
    for (int k = 0; k < 64; k++) EXPECT_EQ(bands[b](k), 0.f);
  for (int k = 0; k < 64; k++) EXPECT_EQ(bands[5](k), 7.f);
  at.free(bands, 6);
  EXPECT_EQ(bands, nullptr);
}

TEST(AtrousTransform, BandsSumToImage) {
  const Image ima = random_image(40, 33, 3);
  ATROUS_2D_WT at;
  Image* bands = nullptr;
  at.alloc(bands, 40, 33, 5);
  EXPECT_EQ(bands[0].name(), "band_1");
  EXPECT_EQ(bands[4].name(), "band_5");
  at.transform(ima, bands, 5);
  Image rec;
  at.recons(bands, rec, 5, True);
  EXPECT_LT(max_abs_diff(rec, ima), 1e-4f);

  // Without the smooth band: the image minus the coarsest band.
  at.recons(bands, rec, 5, False);
  Image expected = ima;
  for (int k = 0; k < ima.n_elem(); k++) expected(k) -= bands[4](k);
  EXPECT_LT(max_abs_diff(rec, expected), 1e-4f);
  at.free(bands, 5);
}

TEST(AtrousTransform, BandsAreSuccessiveSmoothingDifferences) {
  const Image ima = random_image(20, 20, 4);
  ATROUS_2D_WT at;
  Image* bands = nullptr;
  at.alloc(bands, 20, 20, 3);
  at.transform(ima, bands, 3);
  Image c1 = reference_smoothing(ima, 0, I_CONT);
  Image c2 = reference_smoothing(c1, 1, I_CONT);
  for (int k = 0; k < 400; k++) {
    EXPECT_EQ(bands[0](k), ima(k) - c1(k));
    EXPECT_EQ(bands[1](k), c1(k) - c2(k));
    EXPECT_EQ(bands[2](k), c2(k));
  }
  at.free(bands, 3);
}

TEST(AtrousTransform, ModifiedAndSecondFormsInvertTheirForwardTransforms) {
  const Image ima = random_image(32, 27, 5);
  Image rec;
  {
    ATROUS_2D_WT at;
    at.ModifiedATWT = True;
    Image* bands = nullptr;
    at.alloc(bands, 32, 27, 4);
    at.transform(ima, bands, 4);
    at.recons(bands, rec, 4, True);
    EXPECT_LT(max_abs_diff(rec, ima), 2e-4f);
    at.free(bands, 4);
  }
  {
    ATROUS_2D_WT at;
    at.Adjoint = True;
    Image* bands = nullptr;
    at.alloc(bands, 32, 27, 4);
    at.transform(ima, bands, 4);
    at.recons(bands, rec, 4, True);
    EXPECT_LT(max_abs_diff(rec, ima), 2e-4f);

    // The modified reconstruction does not invert the plain transform.
    at.Adjoint = False;
    at.ModifiedATWT = True;
    at.recons(bands, rec, 4, True);
    EXPECT_GT(max_abs_diff(rec, ima), 1.f);
    at.free(bands, 4);
  }
}

TEST(AtrousTransform, SingleScaleOnlyCopiesTheImage) {
  const Image ima = random_image(5, 6, 6);
  ATROUS_2D_WT at;
  Image* bands = nullptr;
  at.alloc(bands, 5, 6, 1);
  at.transform(ima, bands, 1);
  Image rec;
  for (Bool add : {True, False}) {
    at.recons(bands, rec, 1, add);
    EXPECT_EQ(max_abs_diff(rec, ima), 0.f);
  }
  at.free(bands, 1);
}

TEST(AtrousTransform, NormBandTableAndItsRange) {
  ATROUS_2D_WT at;
  EXPECT_FLOAT_EQ(at.norm_band(0), 0.889434f);
  EXPECT_FLOAT_EQ(at.norm_band(1), 0.200105f);
  EXPECT_FLOAT_EQ(at.norm_band(6), 0.00513504f);
  for (int s : {-1, 7, 9, 10}) EXPECT_EQ(at.norm_band(s), 0.f) << s;
}

TEST(AtrousTransform, NormBandMatchesSimulatedWhiteNoise) {
  const int n = 256;
  Image noise(n, n, "noise");
  std::mt19937 gen(7);
  std::normal_distribution<float> g(0.f, 1.f);
  for (int k = 0; k < noise.n_elem(); k++) noise(k) = g(gen);
  ATROUS_2D_WT at;
  at.Border = I_MIRROR;
  Image* bands = nullptr;
  at.alloc(bands, n, n, 5);
  at.transform(noise, bands, 5);
  for (int b = 0; b < 4; b++) {
    double sum2 = 0;
    for (int k = 0; k < noise.n_elem(); k++) sum2 += double(bands[b](k)) * bands[b](k);
    double sigma = std::sqrt(sum2 / noise.n_elem());
    // Coarser bands have fewer independent samples: a looser tolerance.
    EXPECT_NEAR(sigma / at.norm_band(b), 1.0, b < 2 ? 0.02 : 0.08) << "band " << b;
  }
  at.free(bands, 5);
}
