// The ridgelet base of qz_mca on a synthetic image of straight lines in
// Gaussian noise: the component holds the lines, the results add up to the
// input, and the options that reach the base (-b, -P, -c) act on it; a run of
// bases without a first level and no -S stops before writing anything.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "support/qz_mca_program.h"

namespace {

const int N = 64;

// Three straight lines of different angles, two pixels wide, on a flat
// background.
FitsImage lines(float amplitude) {
  FitsImage p(N, N);
  for (int i = 0; i < N; i++)
    for (int j = 0; j < N; j++) {
      float v = 0.f;
      if (std::fabs(i - 0.5 * j - 10.) < 1.) v += amplitude;
      if (std::fabs(j - 40.) < 1.) v += amplitude;
      if (std::fabs(i + j - 80.) < 1.) v -= amplitude;
      p.at(i, j) = v;
    }
  return p;
}

FitsImage noisy(const FitsImage& truth, float sigma, unsigned seed) {
  FitsImage p = truth;
  std::mt19937 gen(seed);
  std::normal_distribution<float> normal(0.f, sigma);
  for (float& v : p.pixels) v += normal(gen);
  return p;
}

// Projection of the component on the truth over the truth's energy.
double share(const FitsImage& component, const FitsImage& truth) {
  double dot = 0., energy = 0.;
  for (size_t k = 0; k < truth.pixels.size(); k++) {
    dot += component.pixels[k] * truth.pixels[k];
    energy += truth.pixels[k] * truth.pixels[k];
  }
  return dot / energy;
}

using QzMcaRidgelet = QzMcaProgram;

TEST_F(QzMcaRidgelet, ComponentHoldsTheLinesAndResultsAddUp) {
  const FitsImage truth = lines(10.f), input = noisy(truth, 1.f, 3);
  write_fits(path("in.fits"), input);
  ASSERT_EQ(run("-t 3 -P -S 8 -i 8 -g 1 in.fits out.fits"), 0) << output_;
  FitsImage rid = result("out_rid.fits"), sum = result("out.fits"), resi = result("out_resi.fits");
  ASSERT_EQ(rid.nl, N);
  ASSERT_EQ(resi.nl, N);
  double worst = 0.;
  for (size_t k = 0; k < input.pixels.size(); k++)
    worst = std::max(worst, std::fabs(double(sum.pixels[k]) + resi.pixels[k] - input.pixels[k]));
  EXPECT_LT(worst, 1e-3);
  EXPECT_GT(share(rid, truth), 0.7);
  // The residual is mostly noise: far less line energy is left in it.
  EXPECT_LT(std::fabs(share(resi, truth)), 0.3);
}

TEST_F(QzMcaRidgelet, PositivityAndBlockSizeReachTheBase) {
  write_fits(path("in.fits"), noisy(lines(10.f), 1.f, 5));
  ASSERT_EQ(run("-t 3 -S 8 -i 3 -g 1 -b 16 -v in.fits pos.fits"), 0) << output_;
  EXPECT_TRUE(printed(" BlockSize = 16")) << output_;
  FitsImage pos = result("pos_rid.fits");
  float lowest = 0.f;
  for (float v : pos.pixels) lowest = std::min(lowest, v);
  EXPECT_EQ(lowest, 0.f);
  ASSERT_EQ(run("-t 3 -P -O -S 8 -i 3 -g 1 -b 16 in.fits free.fits"), 0) << output_;
  FitsImage free_sign = result("free_rid.fits");
  lowest = 0.f;
  for (float v : free_sign.pixels) lowest = std::min(lowest, v);
  EXPECT_LT(lowest, -1.f);  // the falling line is kept with its sign
}

TEST_F(QzMcaRidgelet, CorrelationTermRunsWithAnotherBase) {
  write_fits(path("in.fits"), noisy(lines(10.f), 1.f, 7));
  ASSERT_EQ(run("-t 1 -t 3 -L -P -c 0.5 -i 4 -g 1 in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(exists("out_rid.fits"));
  EXPECT_TRUE(exists("out_atrou.fits"));
  // The ridgelet has no maximum for the MOM schedule, the default with two
  // bases.
  EXPECT_EQ(run("-t 1 -t 3 -i 4 -g 1 in.fits mom.fits"), 255) << output_;
  EXPECT_TRUE(printed("MOM is not implemented")) << output_;
  EXPECT_FALSE(exists("mom_rid.fits"));
}

// Bases that measure nothing ask for -S, and for -L where the descent is
// MOM, which they do not take either: the advice, followed, runs (-S alone
// on two such bases stops after the first iteration).
TEST_F(QzMcaRidgelet, WithoutAFirstLevelAskForS) {
  write_fits(path("in.fits"), noisy(lines(10.f), 1.f, 9));
  const struct {
    const char* bases;
    const char* advice;
    const char* advised;  // options that follow it
  } cases[] = {
      {"-t 3", "give it with -S, above the last threshold (3) ...\n", "-S 10"},
      {"-t 3 -S 2", "give one with -S, above 3 ...\n", "-S 10"},
      {"-t 3 -t 9", "give it with -S, above the last threshold (3), and the linear descent with -L ...\n",
       "-S 10 -L"},
      {"-t 9 -t 3 -S 3", "give one with -S, above 3, and the linear descent with -L ...\n", "-S 10 -L"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bases);
    EXPECT_EQ(run(std::string(c.bases) + " -i 3 -g 1 in.fits out.fits"), 255) << output_;
    EXPECT_TRUE(printed(c.advice)) << output_;
    EXPECT_FALSE(exists("out.fits") || exists("out_rid.fits") || exists("out_resi.fits"));
    EXPECT_EQ(run(std::string(c.bases) + " " + c.advised + " -i 3 -g 1 in.fits out.fits"), 0) << output_;
    EXPECT_TRUE(exists("out_rid.fits"));
    std::system(("rm -f '" + dir_ + "'/out*.fits").c_str());
  }
  EXPECT_EQ(run("-t 3 -t 9 -S 10 -i 3 -g 1 in.fits mom.fits"), 255);
  EXPECT_TRUE(printed("MOM is not implemented")) << output_;
}

}  // namespace
