// The local DCT base of the MCA: initialisation and maximum outside the zero
// frequencies, and the projection's thresholding rules (hard, soft, scaled,
// correlated, minimum support) checked on images built from block DCT atoms
// whose coefficients follow in closed form.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "mca/mca.h"
#include "support/death.h"

namespace {

using Image = to_array<float, false>;

const double Pi = 3.14159265358979323846;

// Adds to block (bi, bj) of side B (no overlap) the separable cosine of
// frequency k along the lines and l along the columns, amplitude a. The DCT
// behind the base scales the plain cosine sums by 2/B for square blocks, and
// sum_i cos²(πk(2i+1)/2B) is B/2 for 0 < k < B (B for k = 0), so the atom's
// only coefficient is a·(2/B)·S(k)·S(l), with S(0) = B and S(k) = B/2.
void add_atom(Image& ima, int B, int bi, int bj, int k, int l, double a) {
  for (int i = 0; i < B; i++)
    for (int j = 0; j < B; j++) {
      double along_lines = std::cos(Pi * k * (2 * i + 1) / (2. * B));
      double along_columns = std::cos(Pi * l * (2 * j + 1) / (2. * B));
      ima(bi * B + i, bj * B + j) += static_cast<float>(a * along_lines * along_columns);
    }
}

double atom_coefficient(int B, int k, int l, double a) {
  double sk = k == 0 ? B : B / 2., sl = l == 0 ? B : B / 2.;
  return a * 2. / B * sk * sl;
}

// An MCA with the local DCT as its only base on an n x n image.
void setup(MCA& mca, int n, int block, bool overlap, float noise) {
  mca.NbrBase = 1;
  mca.TabSelect[0] = MCA_COS;
  mca.LDCT_BlockSize = block;
  mca.LDCT_BlockOverlap = overlap ? 1 : 0;
  mca.Noise_Ima = noise;
  mca.RemoveLastScale = 0;
  mca.alloc(n, n, nullptr);
}

void expect_images_near(const Image& got, const Image& want, float tol) {
  ASSERT_EQ(got.nl(), want.nl());
  ASSERT_EQ(got.nc(), want.nc());
  for (int i = 0; i < want.nl(); i++)
    for (int j = 0; j < want.nc(); j++)
      ASSERT_NEAR(got(i, j), want(i, j), tol) << i << "," << j;
}

}  // namespace

TEST(LocalDctBase, InitAndMaxLeaveEveryBlockZeroFrequencyOut) {
  MCA mca;
  setup(mca, 32, 8, false, 2.f);
  mca.Verbose = 1;

  // A bright flat image with one weak texture atom: the block means dwarf
  // the atom but are not texture.
  Image data(32, 32, "data");
  data.init(1000.f);
  add_atom(data, 8, 1, 2, 3, 5, -6.);  // coefficient -24
  testing::internal::CaptureStdout();
  float m = mca.cos_init(data);
  std::string text = testing::internal::GetCapturedStdout();
  EXPECT_NEAR(m, atom_coefficient(8, 3, 5, 6.) / 2., 1e-3);
  // The signed maximum, zero frequencies included: 1000·(2/8)·64.
  EXPECT_NE(text.find("MAXCOS = 16000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("COS MAX_NormCoef = 12\n"), std::string::npos) << text;

  Image resi(32, 32, "resi");
  add_atom(resi, 8, 3, 0, 1, 0, 5.);  // coefficient 40
  add_atom(resi, 8, 2, 2, 0, 0, 90.);  // a block mean, 720, left out
  testing::internal::CaptureStdout();
  m = mca.cos_max(resi);
  text = testing::internal::GetCapturedStdout();
  EXPECT_NEAR(m, atom_coefficient(8, 1, 0, 5.) / 2., 1e-3);
  EXPECT_EQ(text.find("MAXCOS"), std::string::npos);
  EXPECT_EQ(resi(17, 17), 90.f);  // the residual is left as it was

  mca.Noise_Ima = 0.f;  // no level to divide by: refused
  EXPECT_EXIT_STATUS(mca.cos_max(resi), 255, "local DCT noise level is 0");
}

TEST(LocalDctBase, ProjectionRulesOnAtomsAboveAndBelowTheLevel) {
  MCA mca;
  setup(mca, 32, 8, false, 1.f);
  Image strong(32, 32, "strong");
  strong.init(5.f);                        // zero frequencies of 80
  add_atom(strong, 8, 0, 0, 2, 1, 10.);    // 40
  add_atom(strong, 8, 2, 3, 7, 7, -12.);   // -48
  Image ima = strong;
  add_atom(ima, 8, 3, 3, 6, 6, 2.);        // 8, below the level
  add_atom(ima, 8, 1, 0, 0, 4, 0.5);       // 4 on a block edge frequency
  mca.cos_proj(ima, 10.f);
  expect_images_near(ima, strong, 1e-4f);

  // The sensitivity scales the level: at 50 only the zero frequencies stay.
  mca.COS_Sensibility = 5.f;
  mca.cos_proj(ima, 10.f);
  Image flat(32, 32, "flat");
  flat.init(5.f);
  expect_images_near(ima, flat, 1e-4f);

  // The zero frequencies are thresholded like the rest: at 100 nothing stays.
  mca.COS_Sensibility = 10.f;
  mca.cos_proj(ima, 10.f);
  for (int k = 0; k < ima.n_elem(); k++) ASSERT_NEAR(ima.buffer()[k], 0.f, 1e-5f) << k;

  // The L1 rule: soft thresholding at half the level.
  mca.COS_Sensibility = 1.f;
  mca.UseNormL1 = 1;
  ima.init();
  add_atom(ima, 8, 1, 0, 2, 3, 3.);   // 12: between T/2 = 8 and T = 16
  add_atom(ima, 8, 0, 1, 5, 1, -1.);  // -4: below T/2
  mca.cos_proj(ima, 16.f);
  Image want(32, 32, "want");
  add_atom(want, 8, 1, 0, 2, 3, 1.);  // shrunk to 4
  expect_images_near(ima, want, 1e-4f);
}

TEST(LocalDctBase, MinimumSupportClearsLowFrequenciesOfEveryBlock) {
  MCA mca;
  setup(mca, 64, 32, false, 1.f);
  mca.COS_Min = 0.25f;  // radius 8 in blocks of 32
  Image ima(64, 64, "ima");
  ima.init(3.f);
  Image want(64, 64, "want");
  for (int bi = 0; bi < 2; bi++)
    for (int bj = 0; bj < 2; bj++) {
      add_atom(ima, 32, bi, bj, 3, 4, 1.);   // radius 5: cleared
      add_atom(ima, 32, bi, bj, 7, 3, -2.);  // radius 7.6: cleared
      add_atom(ima, 32, bi, bj, 6, 6, 1.5);  // radius 8.5: kept
      add_atom(want, 32, bi, bj, 6, 6, 1.5);
      add_atom(ima, 32, bi, bj, 0, 8, 0.5);  // radius 8, not below it: kept
      add_atom(want, 32, bi, bj, 0, 8, 0.5);
    }
  testing::internal::CaptureStdout();
  mca.cos_proj(ima, 0.f);
  std::string text = testing::internal::GetCapturedStdout();
  EXPECT_NE(text.find("COSSupportMin = 8 BS = 32\n"), std::string::npos) << text;
  expect_images_near(ima, want, 1e-4f);

  // Out-of-range fractions leave the support whole and print nothing.
  Image flat(64, 64, "flat");
  flat.init(3.f);
  add_atom(flat, 32, 1, 0, 1, 2, 1.);
  for (float fraction : {-0.1f, 0.5f, 0.7f}) {
    mca.COS_Min = fraction;
    Image projected = flat;
    testing::internal::CaptureStdout();
    mca.cos_proj(projected, 0.f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    expect_images_near(projected, flat, 1e-4f);
  }
}

TEST(LocalDctBase, CorrelationTermRaisesTheLevelAndCentresTheOtherComponents) {
  MCA mca;
  mca.UseCorrel = 1;
  mca.CorrelConstraint = 0.5f;
  setup(mca, 16, 8, false, 1.f);
  Image atom(16, 16, "atom");
  add_atom(atom, 8, 1, 1, 2, 2, 3.);  // 12

  // Level 1 + 20·1·0.5 = 11: the atom stays.
  mca.ImaCorrel.init(7.f);
  add_atom(mca.ImaCorrel, 8, 1, 1, 2, 2, 5.);  // 20
  Image ima = atom;
  mca.cos_proj(ima, 1.f);
  expect_images_near(ima, atom, 1e-4f);
  EXPECT_NEAR(mca.ImaCorrel.mean(), 0., 1e-5);
  EXPECT_NEAR(mca.ImaCorrel(0, 0), 0.f, 1e-5f);  // the atom has mean 0: only the 7 went

  // Level 1 + 28·1·0.5 = 15: the atom goes.
  mca.ImaCorrel.init();
  add_atom(mca.ImaCorrel, 8, 1, 1, 2, 2, 7.);  // 28
  ima = atom;
  mca.cos_proj(ima, 1.f);
  for (int k = 0; k < ima.n_elem(); k++) ASSERT_NEAR(ima.buffer()[k], 0.f, 1e-5f);
}

TEST(LocalDctBase, ProjectionAtLevelZeroReturnsTheImageWithOverlappingBlocks) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> u(-50.f, 50.f);
  for (int weight_first : {0, 1}) {
    MCA mca;
    mca.COS_WeightFirst = weight_first;
    setup(mca, 40, 8, true, 1.f);
    Image ima(40, 40, "ima");
    for (int k = 0; k < ima.n_elem(); k++) ima.buffer()[k] = u(gen);
    Image projected = ima;
    mca.cos_proj(projected, 0.f);
    expect_images_near(projected, ima, 2e-3f);
  }
}
