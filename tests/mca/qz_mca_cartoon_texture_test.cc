// The classic cartoon + texture separation by qz_mca with the a trous and
// local DCT bases, on a synthetic image written with CFITSIO: flat discs and
// steps, a locally periodic texture and Gaussian noise. Also the command-line
// settings of the local DCT base and its refused block sizes.
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/qz_mca_program.h"

namespace {

const double Pi = 3.14159265358979323846;

struct Picture {
  int n = 0;  // square side
  std::vector<double> pixels;
  double& at(int i, int j) { return pixels[static_cast<size_t>(i) * n + j]; }
};

Picture blank(int n) {
  Picture p;
  p.n = n;
  p.pixels.assign(static_cast<size_t>(n) * n, 0.);
  return p;
}

// Flat shapes: a background, two discs and a rectangular step.
Picture cartoon(int n) {
  Picture p = blank(n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double v = 40.;
      if (std::hypot(i - 0.3 * n, j - 0.35 * n) < 0.17 * n) v += 100.;
      if (std::hypot(i - 0.7 * n, j - 0.7 * n) < 0.14 * n) v += 50.;
      if (i > 0.55 * n && i < 0.95 * n && j > 0.08 * n && j < 0.4 * n) v += 60.;
      p.at(i, j) = v;
    }
  return p;
}

// Two plane waves, each confined to its own half of the image with a smooth
// envelope: periodic within a region, not across the whole image.
Picture texture(int n) {
  Picture p = blank(n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double left = 0.5 - 0.5 * std::tanh((j - 0.5 * n) / 6.);
      double wave1 = std::cos(2 * Pi * (0.21 * i + 0.09 * j));
      double wave2 = std::cos(2 * Pi * (-0.06 * i + 0.27 * j) + 1.);
      p.at(i, j) = 12. * (left * wave1 + (1. - left) * wave2);
    }
  return p;
}

void write_fits(const std::string& path, const Picture& p) {
  std::vector<float> pixels(p.pixels.begin(), p.pixels.end());
  fitsfile* f = nullptr;
  int status = 0;
  long axes[2] = {p.n, p.n};
  fits_create_file(&f, ("!" + path).c_str(), &status);
  fits_create_img(f, FLOAT_IMG, 2, axes, &status);
  fits_write_img(f, TFLOAT, 1, pixels.size(), pixels.data(), &status);
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0) << path;
}

// The pixels of a square FITS image of side n; empty when it cannot be read.
Picture read_fits(const std::string& path, int n) {
  Picture p = blank(n);
  std::vector<float> pixels(p.pixels.size());
  fitsfile* f = nullptr;
  int status = 0, anynul = 0;
  long axes[2] = {0, 0};
  fits_open_file(&f, path.c_str(), READONLY, &status);
  fits_get_img_size(f, 2, axes, &status);
  if (status == 0 && axes[0] == n && axes[1] == n)
    fits_read_img(f, TFLOAT, 1, pixels.size(), nullptr, pixels.data(), &anynul, &status);
  else
    status = status == 0 ? -1 : status;
  int close_status = 0;
  if (f != nullptr) fits_close_file(f, &close_status);
  if (status != 0) return Picture();
  p.pixels.assign(pixels.begin(), pixels.end());
  return p;
}

double mean(const Picture& p) {
  double s = 0.;
  for (double v : p.pixels) s += v;
  return s / p.pixels.size();
}

// Share of the centred truth that a centred component carries: its
// projection on the truth over the truth's energy (1 for a perfect copy,
// 0 for something unrelated).
double share(const Picture& component, const Picture& truth) {
  double mc = mean(component), mt = mean(truth), dot = 0., energy = 0.;
  for (size_t k = 0; k < truth.pixels.size(); k++) {
    dot += (component.pixels[k] - mc) * (truth.pixels[k] - mt);
    energy += (truth.pixels[k] - mt) * (truth.pixels[k] - mt);
  }
  return dot / energy;
}

// Root mean square of the difference of two centred images.
double rms_difference(const Picture& a, const Picture& b) {
  double ma = mean(a), mb = mean(b), s = 0.;
  for (size_t k = 0; k < a.pixels.size(); k++) {
    double d = (a.pixels[k] - ma) - (b.pixels[k] - mb);
    s += d * d;
  }
  return std::sqrt(s / a.pixels.size());
}

class CartoonTexture : public QzMcaProgram {
 protected:
  // Writes cartoon + texture + unit noise of side n as in.fits.
  void write_input(int n, Picture& shapes, Picture& waves) {
    shapes = cartoon(n);
    waves = texture(n);
    Picture data = blank(n);
    std::mt19937 gen(11);
    std::normal_distribution<double> noise(0., 1.);
    for (size_t k = 0; k < data.pixels.size(); k++)
      data.pixels[k] = shapes.pixels[k] + waves.pixels[k] + noise(gen);
    write_fits(path("in.fits"), data);
    input_ = data;
  }

  Picture input_;
};

// Reads the components, residual and sum of a run named out; the sum must be
// the components' and, with the residual, give the input back.
struct Separation {
  Picture atrou, cos, resi;
};

Separation read_results(const std::string& dir, const Picture& input) {
  const int n = input.n;
  Separation s{read_fits(dir + "/out_atrou.fits", n), read_fits(dir + "/out_cos.fits", n),
               read_fits(dir + "/out_resi.fits", n)};
  Picture sum = read_fits(dir + "/out.fits", n);
  EXPECT_EQ(s.atrou.n, n);
  EXPECT_EQ(s.cos.n, n);
  EXPECT_EQ(s.resi.n, n);
  EXPECT_EQ(sum.n, n);
  if (s.atrou.n != n || s.cos.n != n || s.resi.n != n || sum.n != n) return s;
  for (size_t k = 0; k < sum.pixels.size(); k++) {
    EXPECT_NEAR(sum.pixels[k], s.atrou.pixels[k] + s.cos.pixels[k], 1e-3) << k;
    EXPECT_NEAR(sum.pixels[k] + s.resi.pixels[k], input.pixels[k], 1e-3) << k;
  }
  return s;
}

// The texture goes to the DCT component, the shapes to the wavelet one,
// each within a few noise units of its truth.
void expect_separated(const Separation& s, const Picture& shapes, const Picture& waves,
                      double max_rms) {
  if (s.atrou.n != shapes.n || s.cos.n != shapes.n) return;
  EXPECT_GT(share(s.cos, waves), 0.8);
  EXPECT_LT(share(s.atrou, waves), 0.2);
  EXPECT_GT(share(s.atrou, shapes), 0.8);
  EXPECT_LT(share(s.cos, shapes), 0.2);
  EXPECT_LT(rms_difference(s.cos, waves), max_rms);
  EXPECT_LT(rms_difference(s.atrou, shapes), max_rms);
}

}  // namespace

TEST_F(CartoonTexture, DctTakesTheTextureAndWaveletsTheShapes) {
  Picture shapes, waves;
  write_input(128, shapes, waves);
  // Without their lowest frequencies the DCT blocks cannot hold the flat
  // shapes, which are left to the wavelets.
  ASSERT_EQ(run("-t 1 -t 5 -C 0.25 -i 40 -g 1 -v in.fits out.fits"), 0) << output_;
  for (const char* line : {" LDCT transf. size:  Nl = 256 Nc = 256\n", " LDCT BlockSize = 32\n",
                           " Overlapping Blocks \n", "COS MAX_NormCoef = ",
                           "COSSupportMin = 8 BS = 32\n", "   MOM calculation \n"})
    EXPECT_NE(output_.find(line), std::string::npos) << line;
  Separation s = read_results(dir_, input_);
  expect_separated(s, shapes, waves, 5.);
}

TEST_F(CartoonTexture, BlockSizeOverlapAndWeightingOptionsReachTheBase) {
  Picture shapes, waves;
  write_input(128, shapes, waves);
  ASSERT_EQ(run("-t 1 -t 5 -B 16 -O -W -C 0.25 -i 40 -g 1 -v in.fits out.fits"), 0) << output_;
  for (const char* line : {" LDCT transf. size:  Nl = 128 Nc = 128\n", " LDCT BlockSize = 16\n",
                           " Non Overlapping Blocks \n", "COSSupportMin = 4 BS = 16\n"})
    EXPECT_NE(output_.find(line), std::string::npos) << line;
  Separation s = read_results(dir_, input_);
  expect_separated(s, shapes, waves, 7.);
}

TEST_F(CartoonTexture, RefusedBlockSizes) {
  // Refused with the options, before the input is even looked for.
  for (const char* size : {"1", "2", "3", "12", "48"}) {
    EXPECT_EQ(run(std::string("-t 1 -t 5 -B ") + size + " missing.fits out.fits"), 255) << size;
    EXPECT_NE(output_.find(std::string("bad cosinus transform block size: ") + size +
                           "\n DCT block size must be a power of two >= 4\n"),
              std::string::npos)
        << output_;
  }
  // A block as large as an image whose side is no power of two.
  Picture small = cartoon(24);
  write_fits(path("small.fits"), small);
  EXPECT_EQ(run("-t 1 -t 5 -g 1 small.fits out.fits"), 255);
  EXPECT_NE(output_.find("power of two"), std::string::npos) << output_;
  for (const char* name : {"out.fits", "out_cos.fits", "out_atrou.fits", "out_resi.fits"})
    EXPECT_FALSE(exists(name)) << name;
  // Zero keeps the default block.
  Picture larger = cartoon(64);
  write_fits(path("larger.fits"), larger);
  ASSERT_EQ(run("-t 1 -t 5 -B 0 -i 2 -g 1 -v larger.fits out.fits"), 0) << output_;
  EXPECT_NE(output_.find(" LDCT BlockSize = 32\n"), std::string::npos) << output_;
}

TEST_F(CartoonTexture, ZoomedTextureKeepsThePairWithinTheByteRange) {
  // Shapes up to 320 with texture: without the bound the sum would pass 255.
  Picture data = cartoon(16);
  Picture waves = texture(16);
  for (size_t k = 0; k < data.pixels.size(); k++)
    data.pixels[k] = 2. * data.pixels[k] + waves.pixels[k];
  write_fits(path("in.fits"), data);
  ASSERT_EQ(run("-t 1 -t 5 -I -B 16 -i 10 -g 1 in.fits out.fits"), 0) << output_;
  Picture atrou = read_fits(path("out_atrou.fits"), 64);
  Picture cos = read_fits(path("out_cos.fits"), 64);
  ASSERT_EQ(atrou.n, 64);
  ASSERT_EQ(cos.n, 64);
  bool texture_used = false;
  for (size_t k = 0; k < cos.pixels.size(); k++) {
    ASSERT_GE(cos.pixels[k], -atrou.pixels[k] - 1e-3) << k;
    ASSERT_LE(atrou.pixels[k] + cos.pixels[k], 255. + 1e-3) << k;
    texture_used = texture_used || cos.pixels[k] != 0.;
  }
  EXPECT_TRUE(texture_used);
}
