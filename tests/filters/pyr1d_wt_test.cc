// Pyramidal 1D transform: the pyramid tables, the smoothing, decimation and
// interpolation steps against their definitions, exact reconstruction for
// every smoothing and length, zero details of a constant, the refusal of a
// signal of another length; the sliding median and the exchange sort.
#include "filters/pyr1d_wt.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/death.h"
#include "support/tolerance.h"
#include "wt1d_test_banks.h"

TEST(Pyr1DWT, TablesPutTheCoarsestBandFirst) {
  struct Case {
    int n, scales, np;
    std::vector<int> sizes, positions;
  };
  const Case cases[] = {
      {10, 3, 18, {10, 5, 3}, {8, 3, 0}},
      {256, 4, 480, {256, 128, 64, 32}, {224, 96, 32, 0}},
      {7, 4, 14, {7, 4, 2, 1}, {7, 3, 1, 0}},
      {1, 3, 3, {1, 1, 1}, {2, 1, 0}},
  };
  for (const Case& c : cases) {
    PYR1D_WT pyr(0, c.scales, c.n);
    EXPECT_EQ(pyr.pyr_np(), c.np);
    for (int s = 0; s < c.scales; s++) {
      EXPECT_EQ(pyr.pyr_size(s), c.sizes[s]) << c.n << " " << s;
      EXPECT_EQ(pyr.pyr_pos(s), c.positions[s]) << c.n << " " << s;
    }
  }
}

TEST(Pyr1DWT, StepsFollowTheirDefinitions) {
  PYR1D_WT pyr(0, 3, 9);
  to_array<float, true> x = random_signal_array(9, 2), out, decim(5), interp(9);
  auto r = [&](int i) { return x(i < 0 ? -i : (i > 8 ? 16 - i : i)); };  // mirror
  pyr.smooth_b3spline(x, out);
  ASSERT_EQ(out.nx(), 9);
  to_array<float, true> in_place(x);
  pyr.smooth_b3spline(in_place, in_place);
  EXPECT_EQ(pixels(in_place), pixels(out));
  for (int i = 0; i < 9; i++)
    EXPECT_NEAR(out(i), (r(i - 2) + 4 * r(i - 1) + 6 * r(i) + 4 * r(i + 1) + r(i + 2)) / 16., 1e-6);
  pyr.reduc_sample(x, decim);
  for (int i = 0; i < 5; i++) EXPECT_EQ(decim(i), x(2 * i));
  // Odd target: every odd sample lies between two even ones.
  pyr.extand_sample(decim, interp);
  for (int i = 0; i < 9; i++)
    EXPECT_FLOAT_EQ(interp(i), i % 2 == 0 ? x(i) : (x(i - 1) + x(i + 1)) / 2);
  // Even target: the last sample takes its mirrored neighbour (the one
  // before it), or itself under the clamp instead of an unset value.
  to_array<float, true> four = signal({1.f, 5.f}), even(4);
  pyr.extand_sample(four, even);
  EXPECT_EQ(pixels(even), std::vector<float>({1.f, 3.f, 5.f, 5.f}));
  pyr.Border = I_CONT;
  even.init(1e30f);
  pyr.extand_sample(four, even);
  EXPECT_EQ(pixels(even), std::vector<float>({1.f, 3.f, 5.f, 5.f}));
}

TEST(Pyr1DWT, ReconstructsForEverySmoothingAndLength) {
  for (int type : {0, 1, 2})
    for (int extra : {0, 1})
      for (auto [n, scales] : {std::pair{256, 4}, {7, 4}, {101, 5}, {1, 3}, {12, 2}}) {
        PYR1D_WT pyr(type, scales, n);
        pyr.ExtraSmooth = extra;
        to_array<float, true> x = random_signal_array(n, 9 + n), trans, back;
        pyr.transform(x, trans);
        ASSERT_EQ(trans.nx(), pyr.pyr_np());
        pyr.recons(trans, back);
        ASSERT_EQ(back.nx(), n);
        EXPECT_LT(qz_test::max_abs_difference(back, x), 1e-5)
            << "type " << type << " extra " << extra << " N " << n;
      }
}

TEST(Pyr1DWT, ConstantSignalHasZeroDetailsAndItsValueAsSmoothBand) {
  for (int type : {0, 1, 2}) {
    PYR1D_WT pyr(type, 4, 30);
    pyr.ExtraSmooth = 1;
    to_array<float, true> x(30), trans;
    x.init(2.5f);
    pyr.transform(x, trans);
    int coarse = pyr.pyr_size(3);
    for (int i = 0; i < trans.nx(); i++)
      EXPECT_NEAR(trans(i), i < coarse ? 2.5f : 0.f, 1e-6) << type << " " << i;
  }
}

TEST(Pyr1DWT, SignalOfAnotherLengthOrOneScaleIsRefused) {
  PYR1D_WT pyr(0, 3, 16), single(0, 1, 16);
  to_array<float, true> x(15), y(16), trans, back;
  EXPECT_EXIT_STATUS(pyr.transform(x, trans), 255, "the class has not been properly allocated");
  EXPECT_EXIT_STATUS(single.transform(y, trans), 255, "not been properly allocated");
  to_array<float, true> short_pyramid(pyr.pyr_np() - 1);
  EXPECT_EXIT_STATUS(pyr.recons(short_pyramid, back), 255, "not been properly allocated");
}

TEST(Filt1dMediane, EveryWindowAgainstASortedCopy) {
  const int n = 11;
  to_array<float, true> x = random_signal_array(n, 12), out;
  for (int window : {3, 4, 5, 7})
    for (type_border rule : {I_CONT, I_MIRROR, I_PERIOD, I_ZERO}) {
      filt1d_mediane(x, out, n, window, rule);
      ASSERT_EQ(out.nx(), n);
      to_array<float, true> in_place(x);
      filt1d_mediane(in_place, in_place, n, window, rule);
      EXPECT_EQ(pixels(in_place), pixels(out));
      int h = window / 2;
      for (int i = 0; i < n; i++) {
        std::vector<float> v;
        for (int k = i - h; k <= i + h; k++) {
          if (k >= 0 && k < n)
            v.push_back(x(k));
          else if (rule == I_ZERO)
            v.push_back(0.f);
          else if (rule == I_CONT)
            v.push_back(x(k < 0 ? 0 : n - 1));
          else if (rule == I_PERIOD)
            v.push_back(x((k + n) % n));
          else
            v.push_back(x(k < 0 ? -k : 2 * n - k - 2));
        }
        std::sort(v.begin(), v.end());
        EXPECT_EQ(out(i), v[v.size() / 2]) << window << " " << rule << " " << i;
      }
    }
}

TEST(Tri1D, SortsAscendingInPlace) {
  std::vector<float> v = {3.f, -1.f, 2.f, 2.f, -7.f, 0.f}, sorted = v;
  std::sort(sorted.begin(), sorted.end());
  tri_1d(v.data(), int(v.size()));
  EXPECT_EQ(v, sorted);
  tri_1d(v.data(), 0);
}
