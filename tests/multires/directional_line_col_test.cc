// The line-column transform with undecimated first scales: with every scale
// decimated it is the line pass of LineCol; undecimated scales put their
// high bands at their offsets to the right; the round trip holds for every
// threshold, also one beyond the number of scales; and the refusals.
#include "multires/directional_line_col.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "filters/sub_band_filter.h"
#include "multires/line_col.h"
#include "support/capture.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

// recons leaves its per-scale images in the current folder: each test that
// reconstructs runs inside a folder of its own.
class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_dir_, sizeof old_dir_), nullptr);
    std::string pattern = ::testing::TempDir() + "qz_dlc_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    ASSERT_NE(mkdtemp(buffer.data()), nullptr);
    dir_ = buffer.data();
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(old_dir_), 0);
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  char old_dir_[PATH_MAX];
  std::string dir_;
};

struct RoundCase {
  int nl, nc, first_dec_col, nbr_scale_col;
};

class DirectionalLineColRoundTrip : public InTempDir,
                                    public ::testing::WithParamInterface<RoundCase> {};

TEST_P(DirectionalLineColRoundTrip, ReconstructsTheImage) {
  const RoundCase c = GetParam();
  SubBandFilter bank(F_MALLAT_7_9);
  DirectionalLineCol dlc(bank);
  dlc.FirstDecColScale = c.first_dec_col;
  Image ima = random_image(c.nl, c.nc, 4), trans, back(c.nl, c.nc);
  qz_test::stdout_of([&] { dlc.transform(ima, trans, 0, c.nbr_scale_col); });
  const int expected_nc = c.first_dec_col > 0 ? c.nc * (c.first_dec_col + 1) : c.nc;
  ASSERT_EQ(trans.nl(), c.nl);
  ASSERT_EQ(trans.nc(), expected_nc);
  qz_test::stdout_of([&] { dlc.recons(trans, back, 0, c.nbr_scale_col); });
  EXPECT_LT(qz_test::max_abs_difference(ima, back), 1e-4);
  if (c.nbr_scale_col > 1) {
    EXPECT_EQ(access("xx_rec_1.fits", F_OK), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Thresholds, DirectionalLineColRoundTrip,
                         ::testing::Values(RoundCase{8, 32, 0, 4}, RoundCase{5, 27, 0, 3},
                                           RoundCase{6, 32, 1, 4}, RoundCase{4, 24, 2, 4},
                                           RoundCase{4, 16, 3, 3},  // fewer scales than the threshold
                                           RoundCase{3, 16, 2, 1}));

TEST(DirectionalLineCol, AllDecimatedIsTheLinePassOfLineCol) {
  SubBandFilter bank(F_MALLAT_7_9);
  DirectionalLineCol dlc(bank);
  LineCol lc(bank);
  Image ima = random_image(7, 29, 6), trans, reference;
  qz_test::stdout_of([&] { dlc.transform(ima, trans, 0, 4); });
  lc.transform(ima, reference, 4, 0);
  EXPECT_TRUE(qz_test::same_bits(trans, reference));
}

TEST(DirectionalLineCol, UndecimatedHighBandsLieToTheRight) {
  SubBandFilter bank(F_MALLAT_7_9);
  DirectionalLineCol dlc(bank);
  dlc.FirstDecColScale = 2;
  const int nc = 16;
  Image ima = random_image(2, nc, 8), trans;
  const std::string log = qz_test::stdout_of([&] { dlc.transform(ima, trans, 0, 4); });
  EXPECT_NE(log.find("Trans size 2 48"), std::string::npos);
  EXPECT_NE(log.find("UNDECIMATED SCALE, Dep = 32 Step = 1"), std::string::npos);
  EXPECT_NE(log.find("DECIMATED SCALE 8 8"), std::string::npos);
  // Scale 1: the undecimated step of the line itself, its high band from
  // column 2 nc; scale 2: the step of that low band with tap distance 2,
  // its high band from column nc.
  SubBandFilter ref_bank(F_MALLAT_7_9);
  std::vector<float> line(&ima(1, 0), &ima(1, 0) + nc), low1(nc), high1(nc), low2(nc), high2(nc);
  ref_bank.transform(nc, line.data(), low1.data(), high1.data(), 1);
  ref_bank.transform(nc, low1.data(), low2.data(), high2.data(), 2);
  for (int j = 0; j < nc; j++) {
    EXPECT_EQ(trans(1, 2 * nc + j), high1[j]) << j;
    EXPECT_EQ(trans(1, nc + j), high2[j]) << j;
  }
}

TEST(DirectionalLineCol, TransformColIsTheColumnPassOfLineCol) {
  SubBandFilter bank(F_MALLAT_7_9);
  DirectionalLineCol dlc(bank);
  LineCol lc(bank);
  Image ima = random_image(19, 6, 2), reference = ima;
  dlc.transform_col(ima, 19, 6, 3, 5);
  lc.transform(reference, 0, 3);
  EXPECT_TRUE(qz_test::same_bits(ima, reference));
  // Sizes beyond the image stay inside it.
  Image again = random_image(19, 6, 2);
  dlc.transform_col(again, 40, 9, 3, 0);
  EXPECT_TRUE(qz_test::same_bits(again, reference));
}

TEST(DirectionalLineColDeathTest, RefusesWithoutAFilterBank) {
  SubBandFilter bank(F_MALLAT_7_9);
  DirectionalLineCol dlc(bank);
  dlc.reset();
  Image ima = random_image(4, 8, 1), trans;
  EXPECT_EXIT_STATUS(dlc.transform(ima, trans, 0, 3), 255, "not correctly allocated");
  EXPECT_EXIT_STATUS(dlc.recons(trans, ima, 0, 3), 255, "not correctly allocated");
}

TEST(DirectionalLineColDeathTest, RefusesCoefficientsTooSmallForTheBands) {
  SubBandFilter bank(F_MALLAT_7_9);
  DirectionalLineCol dlc(bank);
  dlc.FirstDecColScale = 2;
  Image trans(4, 8), ima(4, 8);  // the bands need 4 x 24
  EXPECT_EXIT_STATUS(dlc.recons(trans, ima, 0, 3), 255, "24 expected");
}

}  // namespace
