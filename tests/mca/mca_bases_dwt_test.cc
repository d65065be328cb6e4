// The multi-direction wavelet base: the directions spread over a half turn,
// the projection of one direction (identity at level 0 where the rotation
// lands on the pixel grid, nothing left above every coefficient, hard and
// soft rules), and whole decompositions where components and residual add
// up to the data and the base's component is centred and clipped.
#include <gtest/gtest.h>

#include <cmath>

#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "io/fits_header.h"
#include "support/qz_mca_program.h"
#include "support/temp_folder.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;
constexpr double kPi = 3.14159265358979323846;

void setup(MCA& m, std::initializer_list<type_mcabase> bases, int n, int nbr_angle,
           int nbr_iter = 1) {
  m.NbrBase = 0;
  for (type_mcabase b : bases) m.TabSelect[m.NbrBase++] = b;
  m.Noise_Ima = 1.f;
  m.Nbr_Iter = nbr_iter;
  m.RemoveLastScale = 0;
  m.DWT_NbrAngle = nbr_angle;
  m.DWT_NbrScale = 3;
  m.DWT_NbrScaleCol = 2;
  m.alloc(n, n, nullptr);
}

TEST(DWTBase, DescriptorAndDirections) {
  const MCABaseFamily& family = mca_base_family(MCA_DWT);
  EXPECT_STREQ(family.suffix, "_dwt");
  EXPECT_STREQ(family.name, "Multi-Direction WT");
  EXPECT_EQ(family.init, nullptr);  // no first level
  EXPECT_EQ(family.max, nullptr);   // refused by the MOM schedule

  MCA m;
  setup(m, {MCA_DWT}, 20, 4);
  ASSERT_EQ(m.DWT_TabAngle.size(), 4u);
  ASSERT_EQ(m.DWT_TabImaRec.size(), 4u);
  for (int k = 0; k < 4; k++) {
    EXPECT_NEAR(m.DWT_TabAngle[k], k * kPi / 4, 1e-6) << k;
    EXPECT_EQ(m.DWT_TabImaRec[k].nl(), 20);
    EXPECT_EQ(m.DWT_TabImaRec[k].nc(), 20);
  }
  // A second allocation replaces the first one's directions.
  m.DWT_NbrAngle = 2;
  m.alloc(20, 20, nullptr);
  EXPECT_EQ(m.DWT_TabImaRec.size(), 2u);
  EXPECT_NEAR(m.DWT_TabAngle[1], kPi / 2, 1e-6);
}

struct ProjCase {
  float angle;
  int use_l1;
};

class DWTProjection : public ::testing::TestWithParam<ProjCase> {};

TEST_P(DWTProjection, LevelZeroKeepsTheImageAndAHighLevelClearsIt) {
  const ProjCase c = GetParam();
  MCA m;
  setup(m, {MCA_DWT}, 16, 2);
  m.UseNormL1 = c.use_l1;
  const Image data = random_image(16, 16, 21, -3.f, 3.f);
  Image ima = data;
  m.dwt_proj(ima, 0.f, c.angle);
  ASSERT_EQ(m.DWT_Trans.nl(), 32);  // the coefficients of the doubled frame
  EXPECT_LT(qz_test::max_abs_difference(ima, data), 2e-3);
  // Above every coefficient, whatever the rule, nothing survives.
  ima = data;
  m.dwt_proj(ima, 1e4f, c.angle);
  EXPECT_LT(std::fabs(ima.maxfabs()), 1e-5);
  // In between, the hard rule keeps or drops whole coefficients and the
  // soft rule shrinks the kept ones: the energy falls either way.
  ima = data;
  m.dwt_proj(ima, 2.f, c.angle);
  double before = 0., after = 0.;
  for (int k = 0; k < data.n_elem(); k++) {
    before += double(data(k)) * data(k);
    after += double(ima(k)) * ima(k);
  }
  EXPECT_LT(after, before);
  EXPECT_GT(after, 0.);
}

INSTANTIATE_TEST_SUITE_P(AnglesAndRules, DWTProjection,
                         ::testing::Values(ProjCase{0.f, 0}, ProjCase{float(kPi / 2), 0},
                                           ProjCase{float(kPi), 1}, ProjCase{0.f, 1}));

class DWTDecomposition : public ::testing::TestWithParam<int> {};

TEST_P(DWTDecomposition, ComponentsPlusResidualGiveTheData) {
  MCA m;
  m.UseNormL1 = GetParam();
  m.LastSoftThreshold = 0.5f;
  setup(m, {MCA_ATROU, MCA_DWT}, 32, 3, 4);
  const Image data = striped_bump_image(32, 8);
  Image work = data;
  m.decomposition(work);
  double dwt_energy = 0.;
  for (int k = 0; k < data.n_elem(); k++) {
    ASSERT_NEAR(m.TabImaRec[0](k) + m.TabImaRec[1](k) + m.Resi(k), data(k), 1e-3) << k;
    ASSERT_LE(std::fabs(m.TabImaRec[1](k)), 5.f * m.Noise_Ima + 1e-4f);  // the clip
    dwt_energy += double(m.TabImaRec[1](k)) * m.TabImaRec[1](k);
  }
  EXPECT_GT(dwt_energy, 1.);  // the directions took something
  double mean = 0.;
  for (int k = 0; k < data.n_elem(); k++) mean += m.TabImaRec[1](k);
  // The centring comes before the clip, which may move the mean a little.
  EXPECT_LT(std::fabs(mean / data.n_elem()), 0.5);
}

INSTANTIATE_TEST_SUITE_P(Rules, DWTDecomposition, ::testing::Values(0, 1));

// Alone, from a given first level, with values the clip never reaches: the
// component is the sum of its directions less its mean, and with the
// positivity flag no direction keeps a negative pixel.
TEST(DWTDecompositionAlone, ComponentIsTheCentredSumOfItsDirections) {
  for (int positive = 0; positive <= 1; positive++) {
    MCA m;
    m.FirstSoftThreshold = 0.6f;
    m.LastSoftThreshold = 0.3f;
    setup(m, {MCA_DWT}, 16, 3, 3);  // later iterations take the directions back first
    m.DWT_PositivSol = positive;
    const Image data = random_image(16, 16, 30, -2.f, 2.f);
    Image work = data;
    m.decomposition(work);
    Image sum(16, 16);
    for (const Image& direction : m.DWT_TabImaRec) {
      sum += direction;
      if (positive) {
        for (int k = 0; k < sum.n_elem(); k++) ASSERT_GE(direction(k), 0.f) << k;
      }
    }
    double mean = 0.;
    for (int k = 0; k < sum.n_elem(); k++) mean += sum(k);
    mean /= sum.n_elem();
    EXPECT_GT(std::fabs(sum.maxfabs()), 0.1f);
    for (int k = 0; k < sum.n_elem(); k++) {
      ASSERT_NEAR(m.TabImaRec[0](k), sum(k) - mean, 1e-4) << k;
      ASSERT_NEAR(m.TabImaRec[0](k) + m.Resi(k), data(k), 1e-4) << k;
    }
  }
}

}  // namespace

// The results: each direction under "_dwt_k" (k from 1) before their sum
// under "_dwt", read back through CFITSIO.
TEST(DWTResults, EveryDirectionIsWrittenBeforeTheSum) {
  MCA m;
  m.FirstSoftThreshold = 0.6f;
  m.LastSoftThreshold = 0.3f;
  setup(m, {MCA_DWT}, 16, 3, 2);
  Image work = random_image(16, 16, 31, -2.f, 2.f);
  m.decomposition(work);
  const std::string dir = test_support::make_temp_folder("qz_dwt_results");
  const std::string stem = dir + "/out";
  fitsstruct header;
  header.bitpix = -32;
  header.bytepix = 4;
  m.write_allima((stem + ".fits").c_str(), header);
  for (int k = 0; k <= 3; k++) {
    const Image& expected = k < 3 ? m.DWT_TabImaRec[k] : m.TabImaRec[0];
    const std::string name = stem + (k < 3 ? "_dwt_" + std::to_string(k + 1) : "_dwt") + ".fits";
    FitsImage written = read_fits(name);
    ASSERT_EQ(written.nl, 16) << name;
    for (int p = 0; p < 16 * 16; p++) ASSERT_EQ(written.pixels[p], expected(p)) << name;
  }
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}
