// Two-dimensional wavelet packets and their coefficient store: the band
// count, the documented layout of a three-plane transform with one
// undecimated level, the tiling of odd sizes, reconstruction in packet and
// wavelet modes, hard thresholding, and the refusals of the store.
#include "multires/wpackets_2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "filters/filter_ana_synt.h"
#include "filters/sub_band_filter.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

struct Bank {
  FilterAnaSynt filter{F_MALLAT_7_9};
  SubBandFilter sb{filter, NORM_L2};
};

TEST(WaveletPackets, PacketModeHasFourToThePowerOfTheLevelsBands) {
  for (int nbr_plan : {2, 3, 4})
    for (int undec : {0, 1, 5}) {
      Bank bank;
      WPACKETS_2D wp(bank.sb);
      wp.alloc(32, 32, nbr_plan, undec);
      Image ima = random_image(32, 32, 3);
      WPTransf_2D* coef = nullptr;
      wp.transform(ima, coef);
      ASSERT_EQ(coef, wp.TabTrans);
      EXPECT_EQ(coef->nbr_band(), static_cast<int>(std::pow(4, nbr_plan - 1)))
          << nbr_plan << " " << undec;
      // Clamped undecimated levels: every split undecimated, full-size bands.
      EXPECT_EQ(wp.NbrUndec, std::min(undec, nbr_plan - 1));
      EXPECT_EQ(wp.SizeTransf, static_cast<int>(std::pow(4, wp.NbrUndec)));
      EXPECT_EQ(static_cast<int>(coef->TabIma.size()), wp.SizeTransf);
    }
}

TEST(WaveletPackets, ThreePlanesWithOneUndecimatedLevelFollowTheLayout) {
  Bank bank;
  WPACKETS_2D wp(bank.sb);
  wp.alloc(16, 16, 3, 1);
  Image ima = random_image(16, 16, 5);
  WPTransf_2D* coef = nullptr;
  wp.transform(ima, coef);
  ASSERT_EQ(coef->nbr_band(), 16);
  // Bands 4p .. 4p+3 split the undecimated sub-band p (H, V, D, S) stored
  // under key p, each into H, V, D, S quarters.
  const int di[4] = {0, 8, 8, 0}, dj[4] = {8, 0, 8, 0};
  for (int b = 0; b < 16; b++) {
    EXPECT_EQ(coef->IndTabIma(b), b / 4) << b;
    EXPECT_EQ(coef->size_band_nl(b), 8);
    EXPECT_EQ(coef->size_band_nc(b), 8);
    EXPECT_EQ(coef->Depi(b), di[b % 4]) << b;
    EXPECT_EQ(coef->Depj(b), dj[b % 4]) << b;
  }
  // The last band is the coarsest smooth band: for a constant image it holds
  // all the energy, every detail band is zero.
  Image flat(16, 16);
  flat.init(10.f);
  wp.transform(flat, coef);
  for (int b = 0; b < 15; b++) {
    Image band;
    coef->get_band(b, band);
    EXPECT_LT(std::fabs(band.maxfabs()), 1e-3) << b;
  }
  Image smooth;
  coef->get_band(15, smooth);
  EXPECT_GT(std::fabs(smooth.maxfabs()), 10.f);
}

TEST(WaveletPackets, OddBlocksAreTiledExactly) {
  Bank bank;
  WPACKETS_2D wp(bank.sb);
  wp.alloc(5, 7, 2, 0);
  Image ima = random_image(5, 7, 9);
  WPTransf_2D* coef = nullptr;
  wp.transform(ima, coef);
  ASSERT_EQ(coef->nbr_band(), 4);
  const int want[4][4] = {{3, 3, 0, 4}, {2, 4, 3, 0}, {2, 3, 3, 4}, {3, 4, 0, 0}};
  std::vector<int> covered(35, 0);
  for (int b = 0; b < 4; b++) {
    EXPECT_EQ(coef->TabNl(b), want[b][0]);
    EXPECT_EQ(coef->TabNc(b), want[b][1]);
    EXPECT_EQ(coef->Depi(b), want[b][2]);
    EXPECT_EQ(coef->Depj(b), want[b][3]);
    for (int i = 0; i < coef->TabNl(b); i++)
      for (int j = 0; j < coef->TabNc(b); j++) covered[(coef->Depi(b) + i) * 7 + coef->Depj(b) + j]++;
  }
  for (int c : covered) EXPECT_EQ(c, 1);
}

TEST(WaveletPackets, ReconstructionGivesTheImageBack) {
  struct Case {
    int nl, nc, nbr_plan, undec;
    bool packets;
  };
  for (const Case& c : {Case{32, 32, 3, 1, true}, Case{32, 32, 4, 2, true},
                        Case{32, 32, 4, 0, true}, Case{24, 40, 3, 0, true},
                        Case{21, 13, 3, 0, true}, Case{32, 32, 4, 1, false},
                        Case{32, 32, 3, 3, false}}) {
    Bank bank;
    WPACKETS_2D wp(bank.sb);
    wp.alloc(c.nl, c.nc, c.nbr_plan, c.undec);
    wp.set_WP(c.packets ? True : False);
    Image ima = random_image(c.nl, c.nc, 21, 0.f, 50.f);
    WPTransf_2D* coef = nullptr;
    for (int pass = 0; pass < 2; pass++) {  // the band table is built once
      wp.transform(ima, coef);
      if (!c.packets) {
        EXPECT_EQ(coef->nbr_band(), 4);
      }
      Image rec(c.nl, c.nc);
      wp.recons(coef, rec);
      EXPECT_LT(qz_test::max_abs_difference(rec, ima), 2e-3)
          << c.nl << "x" << c.nc << " planes " << c.nbr_plan << " undec " << c.undec
          << " packets " << c.packets << " pass " << pass;
    }
  }
}

TEST(WaveletPackets, ThresholdSparesTheSmoothBandAndLevelsAtTheLimit) {
  Bank bank;
  WPACKETS_2D wp(bank.sb);
  wp.alloc(16, 16, 2, 0);
  EXPECT_EQ(wp.NoiseLevel, 1.f);  // defined before any three-argument call
  Image ima(16, 16);
  WPTransf_2D* coef = nullptr;
  wp.transform(ima, coef);
  (*coef)(0, 1, 1) = 6.f;    // at 3 x 2: kept
  (*coef)(1, 2, 2) = -5.9f;  // below: cleared
  (*coef)(3, 0, 0) = 0.1f;   // smooth band: never thresholded
  wp.threshold(coef, 2.f, 3.f);
  EXPECT_EQ((*coef)(0, 1, 1), 6.f);
  EXPECT_EQ((*coef)(1, 2, 2), 0.f);
  EXPECT_EQ((*coef)(3, 0, 0), 0.1f);
}

TEST(WaveletPacketStore, BandsShareAnImageWithoutOverlapping) {
  Bank bank;
  WPACKETS_2D wp(bank.sb);
  wp.alloc(8, 8, 2, 0);
  Image ima = random_image(8, 8, 2);
  WPTransf_2D* coef = nullptr;
  wp.transform(ima, coef);
  Image before, after, band;
  coef->get_band(1, before);
  coef->get_band(0, band);
  band.init(7.f);
  coef->put_band(0, band);
  coef->get_band(1, after);
  EXPECT_TRUE(qz_test::same_bits(before, after));
  EXPECT_EQ((*coef)(0, 3, 3), 7.f);
}

TEST(WaveletPacketStoreDeath, RefusesBadBandsAndSizes) {
  WPTransf_2D empty;
  Image band;
  EXPECT_EXIT_STATUS(empty.get_band(0, band), 255, "Error: bad band number 0\n       NbrBand = -1");
  Bank bank;
  WPACKETS_2D wp(bank.sb);
  wp.alloc(8, 8, 2, 0);
  Image ima(8, 8);
  WPTransf_2D* coef = nullptr;
  wp.transform(ima, coef);
  EXPECT_EXIT_STATUS((*coef)(1, 4, 0), 255, "Error: request coef \\( 1,4,0\\)\n       NbrBand = 4\n       Nl = 4");
  Image wrong(3, 3);
  EXPECT_EXIT_STATUS(coef->put_band(0, wrong), 255, "Error: bad band size 3 3\n      namd size = 4 4");
  WPACKETS_2D one_plane(bank.sb);
  EXPECT_EXIT_STATUS(one_plane.alloc(8, 8, 1, 0), 255, "bad number of scales in the wavelet packets: 1");
  Image other(8, 9);
  EXPECT_EXIT_STATUS(wp.transform(other, coef), 255, "bad image size in WPACKETS_2D::transform");
}

}  // namespace
