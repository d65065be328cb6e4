// Runs of qz_mca with the default dictionary (a trous + curvelet 02) and
// with -t 4 on a synthetic image of curved filaments and point sources over
// Gaussian noise: the files add up, the filaments go to the curvelets and
// the points to the wavelets, the residual is the noise; -n, -O, -K, -M, -P
// and -c act on the curvelet base.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "support/qz_mca_program.h"
#include "support/test_images.h"

namespace {

constexpr int N = 96;
constexpr float Sigma = 1.f;

// The two parts apart, so that each component can be compared with its own.
struct Scene {
  FitsImage filaments{N, N}, points{N, N}, image{N, N};
};

Scene scene(unsigned seed) {
  Scene s;
  // Two arcs of circles, a few pixels wide.
  for (int i = 0; i < N; i++)
    for (int j = 0; j < N; j++) {
      const double r1 = std::hypot(i - 110., j - 20.), r2 = std::hypot(i + 30., j - 70.);
      const double v =
          6. * std::exp(-std::pow(r1 - 80., 2) / 8.) + 6. * std::exp(-std::pow(r2 - 75., 2) / 8.);
      s.filaments.at(i, j) = static_cast<float>(v);
    }
  const int spots[][2] = {{15, 15}, {40, 80}, {70, 30}, {80, 85}, {25, 55}};
  for (const auto& p : spots)
    for (int i = -3; i <= 3; i++)
      for (int j = -3; j <= 3; j++)
        s.points.at(p[0] + i, p[1] + j) +=
            static_cast<float>(40. * std::exp(-(i * i + j * j) / 1.5));
  const to_array<float, false> noise = normal_image(N, N, seed, Sigma);
  for (int k = 0; k < N * N; k++)
    s.image.pixels[k] = s.filaments.pixels[k] + s.points.pixels[k] + noise(k);
  return s;
}

// Share of the energy of `part` (where it is above a tenth of its peak)
// that the component holds there.
double captured(const FitsImage& component, const FitsImage& part) {
  const float peak = *std::max_element(part.pixels.begin(), part.pixels.end());
  double held = 0, total = 0;
  for (size_t k = 0; k < part.pixels.size(); k++) {
    if (part.pixels[k] < 0.1f * peak) continue;
    held += double(component.pixels[k]) * part.pixels[k];
    total += double(part.pixels[k]) * part.pixels[k];
  }
  return held / total;
}

double rms(const FitsImage& ima) {
  double s = 0, m = 0;
  for (float p : ima.pixels) m += p;
  m /= ima.pixels.size();
  for (float p : ima.pixels) s += (p - m) * (p - m);
  return std::sqrt(s / ima.pixels.size());
}

// One thread: the results are the same bits for any count, and the runs
// stay quick on a busy machine.
class QzMcaCur : public QzMcaProgram {
 protected:
  void SetUp() override {
    QzMcaProgram::SetUp();
    setenv("OMP_NUM_THREADS", "1", 1);
  }
};

TEST_F(QzMcaCur, DefaultDictionarySeparatesFilamentsFromPoints) {
  const Scene s = scene(1);
  write_fits(path("in.fits"), s.image);
  ASSERT_EQ(run("-i 12 -g 1 -v in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("CUR MAX_NormCoef = "));
  const FitsImage atrou = result("out_atrou.fits"), cur = result("out_cur.fits"),
                  resi = result("out_resi.fits"), sum = result("out.fits");
  ASSERT_EQ(cur.nl, N);
  ASSERT_EQ(atrou.nl, N);
  for (size_t k = 0; k < s.image.pixels.size(); k++) {
    ASSERT_NEAR(sum.pixels[k], atrou.pixels[k] + cur.pixels[k], 1e-3f) << k;
    ASSERT_NEAR(sum.pixels[k] + resi.pixels[k], s.image.pixels[k], 1e-3f) << k;
    ASSERT_GE(cur.pixels[k], 0.f);  // positivity by default
  }
  EXPECT_NEAR(rms(resi), Sigma, 0.35 * Sigma);
  // The points all go to the wavelets; the curvelets take a good share of
  // the filaments and next to nothing of the points.
  EXPECT_GT(captured(atrou, s.points), 0.9);
  EXPECT_GT(captured(cur, s.filaments), 0.15);
  EXPECT_LT(captured(cur, s.points), 0.05);
}

// -P lets the component go below zero; -n 7 reaches bands beyond the norm
// tables; -O, -M and -c still add up.
TEST_F(QzMcaCur, CurveletOptions) {
  write_fits(path("in.fits"), scene(2).image);
  const struct {
    const char* args;
    bool negative;
  } cases[] = {{"-t 4 -i 4 -g 1 -n 3 -P in.fits a.fits", true},
               {"-t 4 -i 4 -g 1 -n 7 -O in.fits a.fits", false},
               {"-t 4 -t 1 -i 4 -g 1 -M -c 0.5 in.fits a.fits", false}};
  for (const auto& c : cases) {
    ASSERT_EQ(run(c.args), 0) << c.args << "\n" << output_;
    const FitsImage in = result("in.fits"), cur = result("a_cur.fits"),
                    resi = result("a_resi.fits"), sum = result("a.fits");
    ASSERT_EQ(cur.nl, N) << c.args;
    for (size_t k = 0; k < in.pixels.size(); k++)
      ASSERT_NEAR(sum.pixels[k] + resi.pixels[k], in.pixels[k], 1e-3f) << c.args;
    EXPECT_EQ(*std::min_element(cur.pixels.begin(), cur.pixels.end()) < 0.f, c.negative);
    EXPECT_LT(rms(resi), 3 * Sigma) << c.args;
  }
}

// The smooth band is thresholded at the level times the noise times the a
// trous norm of the coarsest wavelet scale (0.2 for three scales): a flat
// image fainter than that is removed; with -K the band passes unchanged.
TEST_F(QzMcaCur, SmoothBandThresholdedOrKeptWithK) {
  FitsImage flat(48, 48);
  for (float& p : flat.pixels) p = 0.2f;
  write_fits(path("flat.fits"), flat);
  ASSERT_EQ(run("-t 4 -i 3 -g 0.5 -S 5 -n 3 flat.fits cut.fits"), 0) << output_;
  ASSERT_EQ(run("-t 4 -i 3 -g 0.5 -S 5 -n 3 -K flat.fits keep.fits"), 0) << output_;
  const FitsImage cut = result("cut_cur.fits"), keep = result("keep_cur.fits");
  for (size_t k = 0; k < flat.pixels.size(); k++) {
    ASSERT_NEAR(cut.pixels[k], 0.f, 1e-3f);
    ASSERT_NEAR(keep.pixels[k], 0.2f, 1e-3f);
  }
}

}  // namespace
