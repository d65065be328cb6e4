// The directional line-column transform: the coefficient frame is twice the
// image, the frame holds the mirror-extended image, and the round trip
// returns the image at angle 0 (either angle unit) and at quarter turns,
// where the rotation lands on the pixel grid.
#include <gtest/gtest.h>

#include <cmath>

#include "filters/sub_band_filter.h"
#include "multires/line_col.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

struct DirCase {
  int nl, nc;
  float angle;
  Bool radians;
  int line_scales, col_scales;
};

class LineColDirectional : public ::testing::TestWithParam<DirCase> {};

TEST_P(LineColDirectional, RoundTripReturnsTheImage) {
  const DirCase c = GetParam();
  SubBandFilter bank(F_MALLAT_7_9);
  LineCol lc;
  lc.alloc(bank, False);
  to_array<float, false> ima = random_image(c.nl, c.nc, 5), trans, back;
  lc.directional_transform(ima, trans, c.angle, c.line_scales, c.col_scales, c.radians);
  ASSERT_EQ(trans.nl(), 2 * c.nl);
  ASSERT_EQ(trans.nc(), 2 * c.nc);
  lc.directional_recons(trans, back, c.angle, c.line_scales, c.col_scales, c.radians);
  ASSERT_EQ(back.nl(), c.nl);
  ASSERT_EQ(back.nc(), c.nc);
  EXPECT_LT(qz_test::max_abs_difference(ima, back), 1e-3);
}

const float kPi = 3.14159265358979f;

INSTANTIATE_TEST_SUITE_P(Angles, LineColDirectional,
                         ::testing::Values(DirCase{16, 16, 0.f, True, 3, 2},
                                           DirCase{13, 18, 0.f, False, 4, 4},
                                           DirCase{16, 16, kPi / 2, True, 3, -1},
                                           DirCase{12, 12, 90.f, False, 2, 3},
                                           DirCase{16, 16, kPi, True, 3, 2}));

// At angle 0 the frame, once reconstructed, is the image centred at
// (Nl/2, Nc/2) with margins mirrored about the edge samples.
TEST(LineColDirectional, FrameHoldsTheMirrorExtendedImage) {
  SubBandFilter bank(F_MALLAT_7_9);
  LineCol lc(bank);
  const int nl = 10, nc = 14;
  to_array<float, false> ima = random_image(nl, nc, 9), trans;
  lc.directional_transform(ima, trans, 0.f, 3, 2, True);
  lc.recons(trans, 3, 2);
  auto mirror = [](int i, int n) { return i < 0 ? -i : (i >= n ? 2 * n - 2 - i : i); };
  double worst = 0.;
  for (int i = nl / 2 - 3; i < nl / 2 + nl + 3; i++)
    for (int j = nc / 2 - 3; j < nc / 2 + nc + 3; j++) {
      const float expected = ima(mirror(i - nl / 2, nl), mirror(j - nc / 2, nc));
      worst = std::max(worst, static_cast<double>(std::fabs(trans(i, j) - expected)));
    }
  EXPECT_LT(worst, 1e-3);
}

}  // namespace
