// The classic cartoon + texture separation by qz_mca with the a trous and
// local DCT bases, on a synthetic image written with CFITSIO: flat discs and
// steps, a locally periodic texture and Gaussian noise. Also the command-line
// settings of the local DCT base, its block sizes and the zoomed pair bound.
#include <gtest/gtest.h>

#include <cstring>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "support/qz_mca_program.h"

namespace {

const double Pi = 3.14159265358979323846;

// Flat shapes: a background, two discs and a rectangular step.
FitsImage cartoon(int n) {
  FitsImage p(n, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double v = 40.;
      if (std::hypot(i - 0.3 * n, j - 0.35 * n) < 0.17 * n) v += 100.;
      if (std::hypot(i - 0.7 * n, j - 0.7 * n) < 0.14 * n) v += 50.;
      if (i > 0.55 * n && i < 0.95 * n && j > 0.08 * n && j < 0.4 * n) v += 60.;
      p.at(i, j) = static_cast<float>(v);
    }
  return p;
}

// Two plane waves, each confined to its own half of the image with a smooth
// envelope: periodic within a region, not across the whole image.
FitsImage texture(int n) {
  FitsImage p(n, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double left = 0.5 - 0.5 * std::tanh((j - 0.5 * n) / 6.);
      double wave1 = std::cos(2 * Pi * (0.21 * i + 0.09 * j));
      double wave2 = std::cos(2 * Pi * (-0.06 * i + 0.27 * j) + 1.);
      p.at(i, j) = static_cast<float>(12. * (left * wave1 + (1. - left) * wave2));
    }
  return p;
}

double mean(const FitsImage& p) {
  double s = 0.;
  for (float v : p.pixels) s += v;
  return s / p.pixels.size();
}

// Share of the centred truth that a centred component carries: its
// projection on the truth over the truth's energy (1 for a perfect copy,
// 0 for something unrelated).
double share(const FitsImage& component, const FitsImage& truth) {
  double mc = mean(component), mt = mean(truth), dot = 0., energy = 0.;
  for (size_t k = 0; k < truth.pixels.size(); k++) {
    dot += (component.pixels[k] - mc) * (truth.pixels[k] - mt);
    energy += (truth.pixels[k] - mt) * (truth.pixels[k] - mt);
  }
  return dot / energy;
}

// Root mean square of the difference of two centred images.
double rms_difference(const FitsImage& a, const FitsImage& b) {
  double ma = mean(a), mb = mean(b), s = 0.;
  for (size_t k = 0; k < a.pixels.size(); k++) {
    double d = (a.pixels[k] - ma) - (b.pixels[k] - mb);
    s += d * d;
  }
  return std::sqrt(s / a.pixels.size());
}

using CartoonTexture = QzMcaProgram;

}  // namespace

TEST_F(CartoonTexture, DctTakesTheTextureAndWaveletsTheShapes) {
  const int n = 128;
  FitsImage shapes = cartoon(n), waves = texture(n), data(n, n);
  std::mt19937 gen(11);
  std::normal_distribution<double> noise(0., 1.);
  for (size_t k = 0; k < data.pixels.size(); k++)
    data.pixels[k] = static_cast<float>(shapes.pixels[k] + waves.pixels[k] + noise(gen));
  write_fits(path("in.fits"), data);
  // Without their lowest frequencies the DCT blocks cannot hold the flat
  // shapes, which are left to the wavelets.
  ASSERT_EQ(run("-t 1 -t 5 -C 0.25 -i 40 -g 1 -v in.fits out.fits"), 0) << output_;
  for (const char* line : {" LDCT transf. size:  Nl = 256 Nc = 256\n", " LDCT BlockSize = 32\n",
                           " Overlapping Blocks \n", "COS MAX_NormCoef = ",
                           "COSSupportMin = 8 BS = 32\n", "   MOM calculation \n"})
    EXPECT_TRUE(printed(line)) << line;

  FitsImage atrou = result("out_atrou.fits"), cos = result("out_cos.fits"),
            resi = result("out_resi.fits"), sum = result("out.fits");
  ASSERT_EQ(atrou.nl * cos.nl * resi.nl * sum.nl, n * n * n * n);
  for (size_t k = 0; k < sum.pixels.size(); k++) {
    ASSERT_NEAR(sum.pixels[k], atrou.pixels[k] + cos.pixels[k], 1e-3) << k;
    ASSERT_NEAR(sum.pixels[k] + resi.pixels[k], data.pixels[k], 1e-3) << k;
  }
  EXPECT_GT(share(cos, waves), 0.8);
  EXPECT_LT(share(atrou, waves), 0.2);
  EXPECT_GT(share(atrou, shapes), 0.8);
  EXPECT_LT(share(cos, shapes), 0.2);
  EXPECT_LT(rms_difference(cos, waves), 5.);
  EXPECT_LT(rms_difference(atrou, shapes), 5.);
}

TEST_F(CartoonTexture, BlockSizeOverlapAndWeightingReachTheBase) {
  write_fits(path("in.fits"), cartoon(64));
  const struct {
    const char* options;
    const char* lines[3];
  } runs[] = {
      {"-B 16 -O -W -C 0.25",
       {" LDCT transf. size:  Nl = 64 Nc = 64\n LDCT BlockSize = 16\n Non Overlapping Blocks \n",
        "COSSupportMin = 4 BS = 16\n", ""}},
      // Zero keeps the base's default block of 32, with overlap.
      {"-B 0", {" Nl = 128 Nc = 128\n LDCT BlockSize = 32\n Overlapping Blocks \n", "", ""}},
      // A block larger than the image becomes the whole image.
      {"-B 128 -O", {" LDCT BlockSize = 64\n", "", ""}},
      // An image side below the default block and not a power of two: the
      // largest power of two that fits.
      {"-O small.fits", {" LDCT BlockSize = 16\n", "larger than the image (24 x 24): using 16", ""}},
  };
  write_fits(path("small.fits"), cartoon(24));
  for (const auto& r : runs) {
    const std::string input = std::strstr(r.options, ".fits") ? "" : " in.fits";
    ASSERT_EQ(run(std::string("-t 1 -t 5 -i 2 -g 1 -v ") + r.options + input + " out.fits"), 0)
        << r.options << "\n" << output_;
    for (const char* line : r.lines) EXPECT_TRUE(printed(line)) << r.options << ": " << line;
  }
  // A given block must be a power of two.
  {
    EXPECT_EQ(run("-t 1 -t 5 -g 1 -B 12 in.fits bad.fits"), 255);
    EXPECT_TRUE(printed("power of two")) << output_;
    for (const char* name : {"bad.fits", "bad_cos.fits", "bad_atrou.fits", "bad_resi.fits"})
      EXPECT_FALSE(exists(name)) << name;
  }
}

TEST_F(CartoonTexture, ZoomedTextureKeepsThePairWithinTheByteRange) {
  // 8-bit data, the range a super-resolved image keeps to: shapes reaching
  // 255 with texture; without the bound the sum would pass 255.
  FitsImage data = cartoon(16), waves = texture(16);
  for (size_t k = 0; k < data.pixels.size(); k++)
    data.pixels[k] = std::min(255.f, std::round(2.f * data.pixels[k] + waves.pixels[k]));
  write_fits(path("in.fits"), data, BYTE_IMG);
  ASSERT_EQ(run("-t 1 -t 5 -I -B 16 -i 10 -g 1 in.fits out.fits"), 0) << output_;
  FitsImage atrou = result("out_atrou.fits"), cos = result("out_cos.fits");
  ASSERT_EQ(atrou.nl, 64);
  ASSERT_EQ(cos.nc, 64);
  bool texture_used = false;
  for (size_t k = 0; k < cos.pixels.size(); k++) {
    ASSERT_GE(cos.pixels[k], -atrou.pixels[k] - 1e-3) << k;
    ASSERT_LE(atrou.pixels[k] + cos.pixels[k], 255. + 1e-3) << k;
    texture_used = texture_used || cos.pixels[k] != 0.;
  }
  EXPECT_TRUE(texture_used);
}
