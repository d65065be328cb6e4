// Log-gamma, incomplete gamma and error function against closed forms and the
// C library (std::lgamma, std::erf).
#include "array/special_functions.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/death.h"

TEST(Gammln, MatchesKnownValuesAndLgamma) {
  EXPECT_NEAR(gammln(1.0f), 0.0f, 1e-6);
  EXPECT_NEAR(gammln(2.0f), 0.0f, 1e-6);
  EXPECT_NEAR(gammln(0.5f), 0.5723649f, 1e-6);  // ln sqrt(pi)
  for (float x : {0.1f, 0.75f, 3.0f, 7.5f, 20.0f, 150.0f}) {
    double expected = std::lgamma(static_cast<double>(x));
    EXPECT_NEAR(gammln(x), expected, 2e-6 * std::max(1.0, std::fabs(expected))) << x;
  }
}

TEST(Gammp, AgreesWithClosedFormsOnBothBranches) {
  // P(1, x) = 1 - exp(-x); P(2, x) = 1 - exp(-x)(1 + x). x below and above a + 1
  // exercise the series and the continued fraction.
  for (float x : {0.0f, 0.01f, 0.5f, 1.9f, 2.5f, 6.0f, 15.0f, 40.0f}) {
    EXPECT_NEAR(gammp(1.0f, x), 1.0 - std::exp(-double(x)), 2e-7) << x;
    EXPECT_NEAR(gammp(2.0f, x), 1.0 - std::exp(-double(x)) * (1.0 + x), 2e-7) << x;
  }
  EXPECT_EQ(gammp(3.5f, 0.0f), 0.0f);

  float q, gln;
  gcf(&q, 3.0f, 10.0f, &gln);  // Q(3, x) = exp(-x)(1 + x + x²/2)
  EXPECT_NEAR(q, std::exp(-10.0) * (1.0 + 10.0 + 50.0), 1e-8);
  EXPECT_NEAR(gln, std::log(2.0), 1e-6);
  float p;
  gser(&p, 3.0f, 1.0f, &gln);
  EXPECT_NEAR(p, 1.0 - std::exp(-1.0) * 2.5, 1e-7);
}

TEST(Gammp, InvalidArgumentsStopWithStatusOne) {
  EXPECT_EXIT_STATUS(gammp(0.0f, 1.0f), 1,
                     "Run-time error...\nInvalid arguments in routine gammp\n"
                     "...now exiting to system...");
  EXPECT_EXIT_STATUS(gammp(1.0f, -1.0f), 1, "Invalid arguments in routine gammp");
  float out, gln;
  EXPECT_EXIT_STATUS(gser(&out, 1.0f, -0.5f, &gln), 1, "x less than 0 in routine GSER");
  EXPECT_EXIT_STATUS(gser(&out, 1.0e6f, 1.0e6f - 10.0f, &gln), 1,
                     "a too large, ITMAX too small in routine GSER");
}

TEST(Erff, IsTheErrorFunctionToSinglePrecision) {
  EXPECT_EQ(qz::erff(0.0f), 0.0f);
  EXPECT_NEAR(qz::erff(1.0f), 0.8427008f, 5e-7);
  for (float x = -4.0f; x <= 4.0f; x += 0.125f) {
    EXPECT_NEAR(qz::erff(x), std::erf(double(x)), 1e-6) << x;
    EXPECT_EQ(qz::erff(-x), -qz::erff(x)) << x;
  }
  EXPECT_EQ(qz::erff(12.0f), 1.0f);
  EXPECT_EQ(qz::erff(-1.0e20f), -1.0f);  // x² would overflow the float convergents
  EXPECT_TRUE(std::isnan(qz::erff(NAN)));
  // The C library's erff is still reachable beside ours.
  EXPECT_NEAR(::erff(0.5f), qz::erff(0.5f), 1e-6);
}
