// MS-VST: its tables against the B3-spline filters built here, constants,
// round trips and the refusal of scales outside the tables.
#include "numerics/msvst.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/death.h"

namespace {

// h^(j): the 1D a trous low-pass filter equivalent to j B3-spline smoothings
// with holes 2^s at smoothing s, as a centred vector.
std::vector<double> atrous_lowpass(int j) {
  std::vector<double> h = {1.0};
  const double taps[5] = {1 / 16.0, 4 / 16.0, 6 / 16.0, 4 / 16.0, 1 / 16.0};
  for (int s = 0, step = 1; s < j; ++s, step *= 2) {
    std::vector<double> next(h.size() + 4 * step, 0.0);
    for (std::size_t n = 0; n < h.size(); ++n)
      for (int t = 0; t < 5; ++t) next[n + t * step] += h[n] * taps[t];
    h = next;
  }
  return h;
}

}  // namespace

TEST(Msvst, TablesConstantsAndDetailVarianceFromTheFilters) {
  for (int j = 0; j <= 11; ++j) {
    std::vector<double> h = atrous_lowpass(j);
    double s1 = 0, s2 = 0, s3 = 0;
    for (double v : h) s1 += v, s2 += v * v, s3 += v * v * v;
    if (j <= 10) {
      EXPECT_NEAR(MSVST_T1[j], s1, 1e-13);
      EXPECT_NEAR(MSVST_T2[j], s2, 1e-13 * s2 + 1e-15) << j;
      EXPECT_NEAR(MSVST_T3[j], s3, 1e-12 * s3) << j;
    }
    if (j == 0) continue;
    // h^(j-1) centred inside the wider h^(j).
    std::vector<double> prev = atrous_lowpass(j - 1);
    const std::size_t shift = (h.size() - prev.size()) / 2;
    double p2 = 0, cross = 0;
    for (std::size_t n = 0; n < prev.size(); ++n) p2 += prev[n] * prev[n], cross += prev[n] * h[n + shift];
    EXPECT_NEAR(MSVST_sumhh[j], cross, 1e-12 * cross) << j;
    if (j <= 10) {
      EXPECT_NEAR(msvst_var(1, j), p2 / 4 + s2 / 4 - cross / 2, 1e-12) << j;
      EXPECT_NEAR(msvst_var(2, j), p2 * p2 / 4 + s2 * s2 / 4 - cross * cross / 2, 1e-12) << j;
    }
  }
  double B, C;
  ms_vst(2, 0, B, C);
  EXPECT_DOUBLE_EQ(B, 2.0);
  EXPECT_DOUBLE_EQ(C, 0.375);
  ms_vst(1, 1, B, C);
  EXPECT_DOUBLE_EQ(B, 2.0 / std::sqrt(0.2734375));
  EXPECT_DOUBLE_EQ(C, 7.0 * 0.2734375 / 8.0 - 0.08447265625 / (2.0 * 0.2734375));
  ms_vst(2, 3, B, C);
  EXPECT_DOUBLE_EQ(B, 2.0 / 0.0603594779968262);
}

TEST(Msvst, InverseUndoesTheForwardTransform) {
  to_array<float, false> ima(8, 9, "ima"), out, back;
  for (int k = 0; k < ima.n_elem(); ++k) ima(k) = float(k % 13);
  msvst_transform(ima, out, 2, True);
  EXPECT_EQ(out.nl() * 10 + out.nc(), 89);
  msvst_inv_transform(out, back, 2, False);
  for (int k = 0; k < ima.n_elem(); ++k) EXPECT_NEAR(back(k), ima(k), 1e-5);
  // The factor B is the caller's to remove; with it, the bias adds 1/B².
  double B, C;
  ms_vst(2, 2, B, C);
  msvst_transform(ima, out, 2, False);
  EXPECT_NEAR(out(5), B * std::sqrt(5.0 + C), 1e-4);
  for (int k = 0; k < out.n_elem(); ++k) out(k) = float(out(k) / B);
  msvst_inv_transform(out, out, 2, True);  // in place
  for (int k = 0; k < ima.n_elem(); ++k) EXPECT_NEAR(out(k), ima(k) + 1.0 / (B * B), 1e-4);
  // A cube is stabilised with the constants of three dimensions.
  to_array<float, true> cube(4, 3, 2), cout, cback;
  for (int k = 0; k < cube.n_elem(); ++k) cube(k) = float(k);
  msvst_transform(cube, cout, 1, True);
  EXPECT_EQ(cout.nz(), 2);
  ms_vst(3, 1, B, C);
  EXPECT_NEAR(cout(7), std::sqrt(7.0 + C), 1e-5);
  msvst_inv_transform(cout, cback, 1, False);
  for (int k = 0; k < cube.n_elem(); ++k) EXPECT_NEAR(cback(k), cube(k), 1e-5);
}

TEST(Msvst, ScalesOutsideTheTablesStop) {
  double B, C;
  to_array<float, false> ima(2, 2, "ima"), out;
  EXPECT_EXIT_STATUS(ms_vst(2, 11, B, C), 255, "Error:VST coefs not precalculated for scale > 10");
  EXPECT_EXIT_STATUS(ms_vst(2, -1, B, C), 255, "Error:VST coefs");
  EXPECT_EXIT_STATUS(msvst_var(2, 11), 255, "Error:VST coefs Var not precalculated for scale > 10");
  EXPECT_EXIT_STATUS(msvst_var(2, 0), 255, "Error:VST coefs Var");
  EXPECT_EXIT_STATUS(msvst_transform(ima, out, 12, True), 255, "scale > 10");
}
