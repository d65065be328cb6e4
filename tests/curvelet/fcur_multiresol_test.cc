// The fast curvelet type of MultiResol: refused until its library registers
// it, then the bands of an FCUR in scale-then-band order and a round trip
// through the container's bands.
#include "curvelet/fcur_multiresol.h"

#include <gtest/gtest.h>

#include "curvelet/fcur.h"
#include "multires/mr_dispatch.h"
#include "multires/multiresol.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

// Runs first: the row is still empty in this process.
TEST(FcurMultiResolDeathTest, RefusedBeforeRegistration) {
  ASSERT_EQ(mr_type_ops(TC_FCT), nullptr);
  EXPECT_EXIT_STATUS(MultiResol(32, 32, 3, TC_FCT, "fcur"), 255, "not available");
}

TEST(FcurMultiResol, RegistrationFillsOnlyEmptyRows) {
  const MRTypeOps* bspline = mr_type_ops(TO_PAVE_BSPLINE);
  fcur_register_multiresol();
  ASSERT_NE(mr_type_ops(TC_FCT), nullptr);
  mr_register_type(TO_PAVE_BSPLINE, mr_type_ops(TC_FCT));
  EXPECT_EQ(mr_type_ops(TO_PAVE_BSPLINE), bspline);
}

TEST(FcurMultiResol, BandsFollowTheObjectBuiltWithoutIt) {
  fcur_register_multiresol();
  MultiResol mr;
  mr.FCurNbrDir = 16;
  mr.alloc(100, 90, 5, TC_FCT, "layout");
  // Band sizes of the real transform, computed without an object.
  to_array<int, true> size_nl, size_nc;
  const int nbr_band = fct_real_get_band_size(5, 100, 90, 16, size_nl, size_nc);
  ASSERT_EQ(mr.nbr_band(), nbr_band);
  for (int b = 0; b < nbr_band; b++) {
    EXPECT_EQ(mr.size_band_nl(b), size_nl(b)) << b;
    EXPECT_EQ(mr.size_band_nc(b), size_nc(b)) << b;
  }
  int band = 0;
  for (int s = 0; s < 5; s++) {
    EXPECT_EQ(mr.TabScaleFirstBand(s), band);
    for (int k = 0; k < mr.TabNbrBandPerResol(s); k++, band++) {
      EXPECT_EQ(mr.TabBandScale(band), s);
      EXPECT_EQ(mr.TabBandDir(band), k);
    }
  }
  EXPECT_EQ(band, nbr_band);
  EXPECT_EQ(mr.TabNbrBandPerResol(4), 1);
}

TEST(FcurMultiResol, RoundTripRealAndComplex) {
  fcur_register_multiresol();
  struct Case {
    int nl, nc, nbr_scale, nbr_dir;
    Bool real;
  };
  const Case cases[] = {{64, 64, 4, 16, True}, {47, 52, 3, 8, False}};
  for (const Case& c : cases) {
    Image ima = random_image(c.nl, c.nc, 11u, 0.f, 100.f);
    MultiResol mr;
    mr.FCurNbrDir = c.nbr_dir;
    mr.FCurReal = c.real;
    mr.alloc(c.nl, c.nc, c.nbr_scale, TC_FCT, "round trip");
    mr.transform(ima, I_CONT, True);
    // The same transform run on its own gives the bands, in order.
    FCUR direct;
    direct.alloc_from_fine(c.nbr_scale, c.nl, c.nc, c.nbr_dir, False, False, c.real);
    direct.cur_trans(ima);
    int band = 0;
    Image expected;
    for (int s = 0; s < direct.nbr_scale(); s++)
      for (int b = 0; b < direct.nbr_band(s); b++, band++) {
        direct.get_band(s, b, expected);
        EXPECT_TRUE(qz_test::same_bits(mr.band(band), expected)) << s << " " << b;
      }
    Image rec;
    mr.recons(rec, I_CONT);
    ASSERT_EQ(rec.nl(), c.nl);
    ASSERT_EQ(rec.nc(), c.nc);
    EXPECT_LT(qz_test::relative_l2_error(rec.buffer(), ima.buffer(), ima.n_elem()), 1e-5);
    // The reconstruction reads the container's bands, not what the object
    // kept from the transform.
    for (int b = 0; b < mr.nbr_band(); b++) mr.band(b).init(0.f);
    mr.recons(rec, I_CONT);
    EXPECT_LT(rec.maxfabs(), 1e-6);
    mr.free();
    EXPECT_EQ(mr.fast_curvelet_trans(), nullptr);
  }
}

}  // namespace
