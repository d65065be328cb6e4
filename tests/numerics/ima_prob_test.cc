// Histogram probabilities on samples whose histogram is known by hand.
#include "numerics/ima_prob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/capture.h"
#include "support/test_images.h"
#include "support/death.h"

TEST(CImaProb, RampFillsOneValuePerBin) {
  std::vector<float> ramp(1024);
  for (int k = 0; k < 1024; ++k) ramp[k] = float(k);
  CImaProb prob;
  prob.set(ramp.data(), 1024);
  EXPECT_EQ(prob.Min, 0.0);
  EXPECT_EQ(prob.Max, 1023.0);
  EXPECT_EQ(prob.Step, 1.0);
  for (int k = 0; k < 1024; ++k) ASSERT_DOUBLE_EQ(prob.Histo(k), 1.0 / 1024) << k;
  EXPECT_NEAR(prob.Repart(1023), 1.0, 1e-12);
  EXPECT_DOUBLE_EQ(prob.prob(5.5), 1.0 / 1024);
  EXPECT_EQ(prob.prob(1024.5) + prob.prob(-1.5), 0.0);
  EXPECT_DOUBLE_EQ(prob.repartition(-0.5), prob.Repart(0));  // truncates to bin 0
  EXPECT_EQ(prob.repartition(-1.5), 0.0);
  EXPECT_EQ(prob.repartition(5000.0), 1.0);
  EXPECT_DOUBLE_EQ(prob.repartition(99.0), 100.0 / 1024);
  // Repart[k] = (k + 1)/1024 reaches eps at k = ceil(1024 eps) - 1.
  double low, high;
  prob.find_threshold(0.01, low, high);
  EXPECT_EQ(low, 10.0);
  EXPECT_EQ(high, 1013.0);
  prob.find_threshold(0.7, low, high);  // eps above 1/2: both edges the same
  EXPECT_EQ(low, high);
  prob.find_gthreshold(3.0f, low, high);  // eps = 1 - erf(3/sqrt 2) = 0.0026998
  EXPECT_EQ(low, 2.0);
  EXPECT_EQ(high, 1021.0);
}

TEST(CImaProb, GaussianThresholdsOfGaussianNoise) {
  to_array<float, false> band = normal_image(300, 300, 5);
  CImaProb prob;
  prob.set(band);
  // The two-sided tail mass of 2 sigma, eps = erfc(sqrt 2), is cut from each
  // side: the edges sit near the normal quantiles of eps and 1 - eps.
  double low, high, lo = normal_quantile(std::erfc(std::sqrt(2.0)));
  prob.find_gthreshold(2.0f, low, high);
  EXPECT_NEAR(low, lo, 0.03);
  EXPECT_NEAR(high, -lo, 0.03);
  EXPECT_NEAR(prob.repartition(0.0), 0.5, 0.01);
}

TEST(CImaProb, ConstantSamplesRebuildsAndFailures) {
  std::vector<float> constant(50, 4.0f);
  CImaProb prob;
  prob.set(constant.data(), 50);  // no width: everything in bin 0
  EXPECT_EQ(prob.Histo(0), 1.0);
  EXPECT_EQ(prob.Repart(1023), 1.0);
  EXPECT_EQ(prob.prob(4.0), 1.0);
  EXPECT_EQ(prob.prob(4.5), 0.0);
  EXPECT_EQ(prob.repartition(3.0), 0.0);
  EXPECT_EQ(prob.repartition(4.0), 1.0);
  // A later set rebuilds the tables from the new sample.
  const float pair[] = {-1.0f, 2.0f};
  prob.Verbose = True;
  EXPECT_EQ(qz_test::stdout_of([&] { prob.set(pair, 2); }), "Ima :  Histogram [min,max] = [-1,2]\n");
  EXPECT_EQ(prob.Histo(0) + prob.Histo(1023), 1.0);
  EXPECT_EQ(prob.Histo(0), 0.5);
  EXPECT_EXIT_STATUS(prob.set(pair, 0), 255, "Error in CImaProb::alloc: incorrect NoiseIma parameter ... ");
}
