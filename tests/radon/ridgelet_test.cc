// The block ridgelet transform: the geometry examples, the overlap weights
// and their partition of unity, round trips of every variant, coefficient
// access, directions, noise norms and thresholding, and the independence of
// the result from the thread count.
#include "radon/ridgelet.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "filters/sub_band_filter.h"
#include "support/capture.h"
#include "support/death.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

TEST(RidgeletGeometry, MaxScaleNumberFollowsTheNaturalLogRanges) {
  const int ranges[][3] = {{1, 1, 0},     {2, 4, 1},       {5, 11, 2},     {12, 30, 3},
                           {31, 83, 4},   {84, 226, 5},    {227, 614, 6},  {615, 1670, 7},
                           {1671, 4542, 8}};
  for (const auto& r : ranges)
    for (int B = r[0]; B <= r[1]; B++) ASSERT_EQ(max_scale_number(B), r[2]) << B;
}

TEST(RidgeletGeometry, OverlappingBlocksOfSixteenOn256) {
  Ridgelet rid;
  rid.alloc(256, 256, 16);
  EXPECT_EQ(rid.BlockImaSize, 8);
  EXPECT_EQ(rid.OverlapSize, 4);
  EXPECT_EQ(rid.NbrBi, 32);
  EXPECT_EQ(rid.NbrBj, 32);
  EXPECT_EQ(rid.NbrScale1D, 3);
  EXPECT_EQ(rid.Nlb, 32);
  EXPECT_EQ(rid.Ncb, 32);
  EXPECT_EQ(rid.rid_nl(), 1024);
  EXPECT_EQ(rid.rid_nc(), 1024);
  const int size[] = {16, 8, 4}, pos[] = {12, 4, 0};
  for (int s = 0; s < 3; s++) {
    EXPECT_EQ(rid.rid_size(s), size[s]);
    EXPECT_EQ(rid.rid_pos(s), pos[s]);
    EXPECT_EQ(rid.jpos(s), pos[s] * 32);
    EXPECT_EQ(rid.size_scale_nc(s), size[s] * 32);
  }
}

TEST(RidgeletGeometry, OneBlockSidesPerVariant) {
  struct Case {
    type_ridgelet_WTtrans v;
    int nl, nc, block, nlb, ncb;
  } cases[] = {{RID_PYR_FFT, 100, 60, 129, 258, 258},
               {RID_FINITE, 100, 60, 101, 102, 101},
               {RID_OWT, 256, 256, 257, 514, 257},
               {RID_SS_PYR_FFT, 256, 256, 256, 512, 1024},
               {RID_SS_OWT, 256, 256, 256, 512, 512},
               {RID_SS_PYR, 256, 256, 256, 512, 1024}};
  for (const Case& c : cases) {
    SubBandFilter bank(F_MALLAT_7_9);
    Ridgelet rid(bank);
    rid.RidTrans = c.v;
    rid.alloc(c.nl, c.nc, 0);
    EXPECT_EQ(rid.BlockSize, c.block) << c.v;
    EXPECT_EQ(rid.BlockOverlap, False);
    EXPECT_EQ(rid.Nlb, c.nlb) << c.v;
    EXPECT_EQ(rid.Ncb, c.ncb) << c.v;
  }
}

TEST(RidgeletGeometry, TabPosPerClass) {
  Ridgelet rid;
  rid.RidTrans = RID_OWT;
  EXPECT_EQ(rid.set_tab_pos(3, 16), 16);
  EXPECT_EQ(rid.rid_size(0), 8);
  EXPECT_EQ(rid.rid_size(1), 4);
  EXPECT_EQ(rid.rid_size(2), 4);
  EXPECT_EQ(rid.rid_pos(0), 8);
  rid.RidTrans = RID_FINITE;
  EXPECT_EQ(rid.set_tab_pos(3, 17), 17);
  EXPECT_EQ(rid.rid_size(2), 5);
  rid.RidTrans = RID_SS_PYR_FFT;
  EXPECT_EQ(rid.set_tab_pos(3, 16), 56);
  EXPECT_EQ(rid.rid_size(0), 32);
  EXPECT_EQ(rid.rid_pos(0), 24);
  EXPECT_EQ(rid.rid_pos(1), 8);
}

TEST(RidgeletGeometry, SecondAllocWithTheSameArgumentsKeepsTheGeometry) {
  Ridgelet rid;
  rid.alloc(64, 64, 16);
  rid.RidTrans = RID_SS_PYR;
  rid.alloc(64, 64, 16);
  EXPECT_EQ(rid.Ncb, 32);  // still variant 2's
}

// The largest 1D scale count each layout holds, from the halving sizes
// worked out by hand: blocks of 16 give projections of 16 (32 for the slant
// stack) in ridgelet blocks of 32 (64) columns for the pyramids, 16 (32) for
// the bi-orthogonal layouts, whose bands may not shrink to nothing.
struct ScaleLimit {
  type_ridgelet_WTtrans v;
  int B, largest;
};
const ScaleLimit ScaleLimits[] = {
    {RID_PYR_FFT, 16, 6},     // 16+8+4+2+1+1 = 32
    {RID_PYR_DIRECT, 16, 6},  //
    {RID_SS_PYR_FFT, 16, 7},  // 32+16+8+4+2+1+1 = 64
    {RID_SS_PYR, 16, 7},      //
    {RID_PYR_FFT, 32, 7},     // 32+16+8+4+2+1+1 = 64
    {RID_OWT, 16, 5},         // 8, 4, 2, 1 and a smooth band of 1
    {RID_SS_OWT, 16, 6},      // 16, 8, 4, 2, 1, 1
    {RID_FINITE, 17, 6},      // 8, 4, 2, 1, 1, 1 from 17, 9, 5, 3, 2, 1
};

TEST(RidgeletGeometry, LargestScaleCountsThatFitTheBlock) {
  for (const ScaleLimit& c : ScaleLimits) {
    EXPECT_EQ(rid_max_scale_number(c.v, c.B), c.largest) << c.v << " " << c.B;
    SubBandFilter bank(F_MALLAT_7_9);
    Ridgelet rid(bank);
    rid.RidTrans = c.v;
    rid.AutoScale1D = False;
    rid.NbrScale1D = c.largest;
    rid.alloc(2 * c.B, 2 * c.B, c.B);
    int columns = 0;
    for (int s = 0; s < c.largest; s++) {
      EXPECT_GE(rid.rid_size(s), 1) << c.v << " scale " << s;
      columns += rid.rid_size(s);
    }
    EXPECT_LE(columns, rid.Ncb) << c.v;
    // Every band lies inside the ridgelet image the transform fills.
    Image ima = random_image(2 * c.B, 2 * c.B, 9, 1.f, 2.f), trans, back;
    rid.transform(ima, trans);
    rid.recons(trans, back);
    EXPECT_EQ(back.nl(), 2 * c.B);
  }
}

TEST(RidgeletDeath, ScaleCountsThatOverrunTheBlockAreRefused) {
  for (const ScaleLimit& c : ScaleLimits)
    for (int count : {c.largest + 1, 9, 40}) {
      SubBandFilter bank(F_MALLAT_7_9);
      Ridgelet rid(bank);
      rid.RidTrans = c.v;
      rid.AutoScale1D = False;
      rid.NbrScale1D = count;
      EXPECT_EXIT_STATUS(rid.alloc(64, 64, c.B), 255,
                         std::to_string(count) + " 1D scales do not fit a ridgelet block of " +
                             std::to_string(c.B) + " pixels \\(at most " +
                             std::to_string(c.largest) + "\\)")
          << c.v << " " << count;
    }
}

TEST(RidgeletWeights, InteriorWeightsOfSixteenAndSeventeen) {
  const double w16[16] = {0,      0.0381, 0.1464, 0.3087, 0.5,    0.6913, 0.8536, 0.9619,
                          1,      0.9619, 0.8536, 0.6913, 0.5,    0.3087, 0.1464, 0.0381};
  for (int k = 0; k < 16; k++) EXPECT_NEAR(lap_weight(8, 4, k, 1, 3), w16[k], 1e-4) << k;
  const double w17[17] = {0.0381, 0.1464, 0.3087, 0.5,    0.6913, 0.8536, 0.9619, 1, 1,
                          0.9619, 0.8536, 0.6913, 0.5,    0.3087, 0.1464, 0.0381, 0};
  for (int k = 0; k < 17; k++) EXPECT_NEAR(frt_lap_weight(9, 4, k, 1, 3), w17[k], 1e-4) << k;
}

// Adds a block of ones for every block: the weights covering each pixel
// must sum to one. Sides of 2 mod 4 (10, 18) did not before the ramp was
// made to cover the whole overlap.
TEST(RidgeletWeights, OverlappingBlocksSumToOne) {
  for (int B : {8, 12, 16, 17, 33, 10, 18, 6, 5, 3, 2}) {
    Ridgelet rid;
    const int n = 5 * B + 3;
    rid.alloc(n, n - 2, B);
    Image sum(n, n - 2), ones(B, B);
    ones.init(1.f);
    for (int bi = 0; bi < rid.NbrBi; bi++)
      for (int bj = 0; bj < rid.NbrBj; bj++) rid.add_block_ima(bi, bj, sum, ones);
    double worst = 0.;
    for (int k = 0; k < sum.n_elem(); k++) worst = std::max(worst, std::fabs(sum(k) - 1.0));
    EXPECT_LT(worst, 1e-6) << "B = " << B;
  }
}

struct TripCase {
  type_ridgelet_WTtrans v;
  int B;
  Bool overlap;
  double bound;  // on the error relative to the largest pixel
  bool positive;
};

// The listed test names carry the parameter as printed: printed field by
// field, they are readable and the same from build to build (a byte dump
// shows the structure's padding, which holds whatever the stack held).
void PrintTo(const TripCase& c, std::ostream* out) {
  *out << "variant " << static_cast<int>(c.v) << ", block " << c.B << (c.overlap ? ", overlap" : "")
       << ", bound " << c.bound << (c.positive ? ", positive data" : "");
}

class RidgeletRoundTrip : public ::testing::TestWithParam<TripCase> {};

TEST_P(RidgeletRoundTrip, ReconstructsTheImage) {
  const TripCase c = GetParam();
  SubBandFilter bank(F_MALLAT_7_9);
  Ridgelet rid(bank);
  rid.RidTrans = c.v;
  rid.BlockOverlap = c.overlap;
  const float lo = c.positive ? 1.f : -1.f;
  Image ima = random_image(37, 45, 7, lo, 2.f), trans, back;
  rid.transform(ima, trans, c.B);
  ASSERT_EQ(trans.nl(), rid.rid_nl());
  ASSERT_EQ(trans.nc(), rid.rid_nc());
  rid.recons(trans, back);
  EXPECT_LT(qz_test::relative_l2_error(back.buffer(), ima.buffer(), ima.n_elem()), c.bound);
}

// Linogram blocks of odd side and prime finite blocks invert exactly; even
// linogram blocks lose their Nyquist lines and the slant stack inverts by
// iterations, so these only come close.
INSTANTIATE_TEST_SUITE_P(
    Variants, RidgeletRoundTrip,
    ::testing::Values(TripCase{RID_OWT, 17, True, 1e-5, false},
                      TripCase{RID_PYR_FFT, 17, True, 1e-5, false},
                      TripCase{RID_PYR_FFT, 33, False, 1e-5, false},
                      TripCase{RID_PYR_FFT, 0, False, 1e-5, false},
                      TripCase{RID_PYR_DIRECT, 17, True, 1e-5, false},
                      TripCase{RID_FINITE, 17, True, 1e-5, false},
                      TripCase{RID_FINITE, 0, False, 1e-5, false},
                      TripCase{RID_PYR_FFT, 3, True, 1e-5, false},  // no 1D scale
                      TripCase{RID_PYR_DIRECT, 3, False, 1e-5, false},
                      TripCase{RID_PYR_FFT, 16, True, 0.3, true},
                      TripCase{RID_PYR_FFT, 10, True, 0.3, true},
                      TripCase{RID_SS_PYR_FFT, 16, True, 0.1, true},
                      TripCase{RID_SS_OWT, 16, True, 0.1, true},
                      TripCase{RID_SS_PYR, 16, False, 0.1, true}),
    [](const ::testing::TestParamInfo<TripCase>& info) {
      return "Variant" + std::to_string(info.param.v) + "Block" + std::to_string(info.param.B) +
             (info.param.overlap ? "Overlap" : "");
    });

// Without 1D scales a ridgelet block is the block's Radon image: B columns
// for the linogram and finite transforms, 2B for the slant stack. Blocks
// read back narrower than they were written lose half of every slant-stack
// projection.
TEST(RidgeletRoundTrip, EveryVariantWithoutOneDScales) {
  struct Case {
    type_ridgelet_WTtrans v;
    int B, ncb;
    double bound;
  } cases[] = {{RID_OWT, 16, 16, 0.3},       {RID_PYR_FFT, 16, 16, 0.3},
               {RID_PYR_DIRECT, 16, 16, 0.3}, {RID_FINITE, 17, 17, 1e-5},
               {RID_SS_PYR_FFT, 16, 32, 0.1}, {RID_SS_OWT, 16, 32, 0.1},
               {RID_SS_PYR, 16, 32, 0.1}};
  for (const Case& c : cases) {
    Image ima = random_image(64, 64, 11, 1.f, 2.f), first;
    for (int run = 0; run < 2; run++) {
      SubBandFilter bank(F_MALLAT_7_9);
      Ridgelet rid(bank);
      rid.RidTrans = c.v;
      rid.AutoScale1D = False;
      rid.NbrScale1D = 1;
      Image trans, back;
      rid.transform(ima, trans, c.B);
      EXPECT_EQ(rid.Ncb, c.ncb) << c.v;
      ASSERT_EQ(trans.nc(), rid.NbrBj * c.ncb) << c.v;
      rid.recons(trans, back);
      EXPECT_LT(qz_test::relative_l2_error(back.buffer(), ima.buffer(), ima.n_elem()), c.bound)
          << c.v;
      // The same image twice gives the same bits: no value comes from
      // memory the transform left unset.
      if (run == 0) first = back;
      else EXPECT_EQ(qz_test::max_abs_difference(back, first), 0.) << c.v;
    }
  }
}

TEST(RidgeletRoundTrip, VarianceStabilisationInvertsOnPositiveData) {
  for (type_ridgelet_WTtrans v : {RID_PYR_FFT, RID_PYR_DIRECT}) {
    Ridgelet rid;
    rid.RidTrans = v;
    rid.VarianceStab = True;
    Image ima = random_image(30, 30, 4, 5.f, 20.f), trans, back;
    rid.transform(ima, trans, 17);
    rid.recons(trans, back);
    EXPECT_LT(qz_test::relative_l2_error(back.buffer(), ima.buffer(), ima.n_elem()), 1e-4) << v;
  }
}

// The column transform across the projections and the wavelet packets of
// the finest scale are further exact steps on the filter bank.
TEST(RidgeletRoundTrip, ColumnTransformAndPacketOptionsInvert) {
  struct Case {
    type_ridgelet_WTtrans v;
    Bool col, packets;
  } cases[] = {{RID_OWT, True, False},
               {RID_PYR_FFT, True, False},
               {RID_PYR_FFT, False, True},
               {RID_PYR_DIRECT, True, False}};
  for (const Case& c : cases) {
    SubBandFilter bank(F_MALLAT_7_9);
    Ridgelet rid(bank);
    rid.RidTrans = c.v;
    rid.ColTrans = c.col;
    rid.WPFirstScale = c.packets;
    Image ima = random_image(33, 33, 5), trans, back;
    rid.transform(ima, trans, 33);
    rid.recons(trans, back);
    EXPECT_LT(qz_test::relative_l2_error(back.buffer(), ima.buffer(), ima.n_elem()), 1e-4)
        << c.v << " " << c.col << " " << c.packets;
  }
}

TEST(RidgeletRoundTrip, ReconstructionsThatAllocateFromTheirArguments) {
  Image ima = random_image(20, 20, 6), trans, back;
  Ridgelet rid;
  rid.transform(ima, trans, 0);  // one block of 33
  Ridgelet from_trans;
  from_trans.recons(trans, back, 0);  // the geometry from the ridgelet image alone
  EXPECT_EQ(back.nl(), 33);
  for (int i = 0; i < 20; i++)
    for (int j = 0; j < 20; j++) ASSERT_NEAR(back(i, j), ima(i, j), 1e-4);
  Ridgelet sized;
  sized.recons(trans, back, 0, 20, 20);
  EXPECT_LT(qz_test::max_abs_difference(back, ima), 1e-4);
}

TEST(RidgeletRoundTrip, VarianceStabilisationPair) {
  Ridgelet rid;
  Image ima = image_row<float>({0.f, 1.f, 4.5f, 100.f});
  Image work = ima;
  rid.variance_stab(work);
  EXPECT_FLOAT_EQ(work(0, 0), 0.f);
  EXPECT_FLOAT_EQ(work(0, 1), 2.f * std::sqrt(1.375f));
  rid.inv_variance_stab(work);
  for (int j = 1; j < 4; j++) EXPECT_NEAR(work(0, j), ima(0, j), 1e-4);
}

TEST(RidgeletRoundTrip, AllZeroCoefficientsGiveAnAllZeroImage) {
  Ridgelet rid;
  rid.alloc(20, 20, 8);
  Image trans(rid.rid_nl(), rid.rid_nc()), back = random_image(20, 20, 1);
  rid.recons(trans, back);
  EXPECT_EQ(back.maxfabs(), 0.f);
}

TEST(RidgeletBlocks, ThreadCountDoesNotChangeTheResult) {
  Image ima = random_image(70, 66, 9), t1, t4, r1, r4;
  {
    omp_set_num_threads(1);
    Ridgelet rid;
    rid.transform(ima, t1, 16);
    rid.recons(t1, r1);
  }
  {
    omp_set_num_threads(4);
    Ridgelet rid;
    rid.transform(ima, t4, 16);
    rid.recons(t4, r4);
  }
  EXPECT_EQ(qz_test::max_abs_difference(t1, t4), 0.);
  EXPECT_EQ(qz_test::max_abs_difference(r1, r4), 0.);
}

// The loops over all blocks (which store and take out a row of blocks at a
// time, and transform blocks two by two) against the one-block functions
// called block by block.
TEST(RidgeletBlocks, ImageLoopsAgreeWithTheOneBlockFunctions) {
  for (Bool overlap : {False, True}) {
    Ridgelet rid;
    rid.BlockOverlap = overlap;
    Image ima = random_image(50, 44, 11), trans, rec;
    rid.transform(ima, trans, 16);
    rid.recons(trans, rec);
    Image block(rid.BlockSize, rid.BlockSize), coef, stored(rid.Nlb, rid.Ncb), expect(50, 44),
        piece;
    for (int bi = 0; bi < rid.NbrBi; bi++)
      for (int bj = 0; bj < rid.NbrBj; bj++) {
        rid.get_block_ima(bi, bj, ima, block);
        rid.transform_one_block(block, coef);
        stored.init();
        rid.get_block_trans(bi, bj, trans, stored);
        // Blocks side by side share their Radon FFTs two by two: the same
        // coefficients up to float rounding.
        double largest = 0.;
        for (int k = 0; k < coef.n_elem(); k++) largest = std::max(largest, double(std::fabs(coef(k))));
        ASSERT_LE(qz_test::max_abs_difference(stored, coef),
                  16 * qz_test::transform_tolerance<float>(2 * rid.BlockSize) * largest)
            << overlap << " " << bi << " " << bj;
        rid.recons_one_block(stored, piece);
        rid.add_block_ima(bi, bj, expect, piece);
      }
    // Overlapping blocks add up in another order.
    EXPECT_LT(qz_test::max_abs_difference(rec, expect), 1e-5) << overlap;
  }
}

// A thresholding leaves some blocks all zero, and the reconstruction skips
// them: every other block must still come back as the one-block function
// gives it, wherever it stands in its row and whatever its neighbours.
TEST(RidgeletBlocks, ZeroBlocksAmongOthersReconstructAsTheOneBlockFunctions) {
  Ridgelet rid;
  Image ima = random_image(70, 60, 12), trans, rec;
  rid.transform(ima, trans, 16);
  Image coef(rid.Nlb, rid.Ncb), zero(rid.Nlb, rid.Ncb), piece, expect(70, 60);
  for (int bi = 0; bi < rid.NbrBi; bi++)
    for (int bj = 0; bj < rid.NbrBj; bj++) {
      // Whole rows, single blocks and a last column of zero blocks; a
      // block of one tiny nonzero coefficient stays.
      const bool zeroed = bi == 2 || (bi + 2 * bj) % 5 == 0 || bj == rid.NbrBj - 1;
      if (zeroed) {
        zero.init();
        if (bi == 4 && bj == rid.NbrBj - 1) zero(rid.Nlb - 1, rid.rid_pos(0)) = 1e-3f;
        rid.put_block_trans(bi, bj, trans, zero);
      }
    }
  rid.recons(trans, rec);
  for (int bi = 0; bi < rid.NbrBi; bi++)
    for (int bj = 0; bj < rid.NbrBj; bj++) {
      coef.init();
      rid.get_block_trans(bi, bj, trans, coef);
      if (coef.energy() == 0.f) continue;
      rid.recons_one_block(coef, piece);
      rid.add_block_ima(bi, bj, expect, piece);
    }
  EXPECT_LT(qz_test::max_abs_difference(rec, expect), 1e-5);
  EXPECT_GT(qz_test::max_abs_difference(rec, Image(70, 60)), 0.1);
}

TEST(RidgeletBlocks, VarNormStoresAndTakesBack) {
  Ridgelet rid;
  rid.VarNorm = True;
  rid.alloc(16, 16, 16);
  Image block = random_image(rid.Nlb, rid.Ncb, 3), trans(rid.rid_nl(), rid.rid_nc()),
        back(rid.Nlb, rid.Ncb);
  rid.put_block_trans(0, 0, trans, block);
  EXPECT_NEAR(trans(0, 0), block(0, 0) / 4.f, 1e-6);
  rid.get_block_trans(0, 0, trans, back);
  const int used = rid.rid_pos(0) + rid.rid_size(0);
  for (int i = 0; i < rid.Nlb; i++)
    for (int j = 0; j < used; j++) EXPECT_NEAR(back(i, j), block(i, j), 1e-6);
}

TEST(RidgeletAccess, ScaleBandsRoundTripAndSitWhereTheBlocksPutThem) {
  Ridgelet rid;
  Image ima = random_image(40, 40, 2), trans, band;
  rid.transform(ima, trans, 16);
  Image copy = trans;
  for (int s = 0; s < rid.NbrScale1D; s++) {
    rid.get_scale(trans, band, s);
    EXPECT_EQ(band.nl(), rid.rid_nl());
    EXPECT_EQ(band.nc(), rid.rid_size(s) * rid.NbrBj);
    // Coefficient (i, j) of scale s of block (bi, bj).
    const int bi = 1, bj = 2, i = 3, j = 1;
    EXPECT_EQ(band(bi * rid.Nlb + i, bj * rid.rid_size(s) + j),
              rid.get_coef(trans, i, j, s, bi, bj));
    band.init(5.f);
    rid.put_scale(trans, band, s);
    EXPECT_EQ(rid.get_coef(trans, i, j, s, bi, bj), 5.f);
  }
  rid.put_coef(trans, 0, 0, 9.f, 0, 0, 0);
  EXPECT_EQ(trans(0, rid.jpos(0)), 9.f);
  (void)copy;
}

// No transform writes the columns beyond the scale bands: they hold zeros
// whatever the image handed in held, new, of another shape or larger.
TEST(RidgeletAccess, ColumnsBeyondTheBandsAreZeroInEveryImageHandedIn) {
  const Image ima = random_image(40, 40, 3);
  const struct {
    const char* what;
    int nl, nc;  // 0: an empty image
  } cases[] = {{"empty", 0, 0}, {"other shape", 17, 23}, {"larger buffer", 400, 400}};
  for (const auto& c : cases) {
    Ridgelet rid;
    Image trans;
    if (c.nl > 0) {
      trans.alloc(c.nl, c.nc);
      trans.init(7.f);
    }
    rid.transform(const_cast<Image&>(ima), trans, 16);
    ASSERT_EQ(trans.nl(), rid.rid_nl()) << c.what;
    std::vector<bool> in_band(trans.nc(), false);
    for (int s = 0; s < rid.NbrScale1D; s++)
      for (int j = rid.jpos(s); j < rid.jpos(s) + rid.size_scale_nc(s); j++) in_band[j] = true;
    int beyond = 0, nonzero = 0;
    for (int j = 0; j < trans.nc(); j++) {
      if (in_band[j]) continue;
      beyond++;
      for (int i = 0; i < trans.nl(); i++) nonzero += trans(i, j) != 0.f;
    }
    EXPECT_GT(beyond, 0) << c.what;
    EXPECT_EQ(nonzero, 0) << c.what;
  }
}

TEST(RidgeletAccess, VectorsAcrossBlocksAndBlockNormalisation) {
  Ridgelet rid;
  Image ima = random_image(48, 40, 12), trans;
  rid.transform(ima, trans, 16);
  to_array<float, true> vect;
  const int s = 1, posi = 5, posj = 2;
  rid.get_blockvect(trans, s, posi, posj, vect);
  ASSERT_EQ(vect.n_elem(), rid.NbrBi * rid.NbrBj);
  EXPECT_EQ(vect(rid.NbrBj + 2), rid.get_coef(trans, posi, posj, s, 1, 2));
  rid.get_anglevect(trans, s, posi, vect);
  ASSERT_EQ(vect.n_elem(), rid.NbrBi * rid.NbrBj * rid.rid_size(s));
  for (int k = 0; k < vect.n_elem(); k++) vect(k) = float(k);
  rid.put_anglevect(trans, s, posi, vect);
  EXPECT_EQ(rid.get_coef(trans, posi, 1, s, 0, 1), float(rid.rid_size(s) + 1));

  Image band;
  rid.get_scale_without_bord(trans, 0, band);
  EXPECT_EQ(band.nl(), (rid.NbrBi - 2) * rid.Nlb);
  EXPECT_EQ(band.nc(), (rid.NbrBj - 2) * rid.rid_size(0));

  Image normalised = trans;
  rid.mad_normalize_per_block(normalised, True);
  // Each coefficient position now has unit deviation across the blocks.
  rid.get_blockvect(normalised, 0, 3, 4, vect);
  if (vect.sigma() > 0.) {
    EXPECT_NEAR(vect.sigma(), 1., 1e-4);
  }
  rid.normalize_block(normalised, True);
  EXPECT_LT(qz_test::max_abs_difference(normalised, trans), 1e-4);
}

TEST(RidgeletAccess, DirectionsOfSixteen) {
  Ridgelet rid;
  rid.alloc(16, 16, 16);
  EXPECT_EQ(rid.get_num_direction(static_cast<float>(M_PI / 4), False), 8);
  EXPECT_EQ(rid.get_num_direction(45.f, True), 8);
  EXPECT_NEAR(rid.get_angle_direction(16, True), 90.f, 1e-4);
  EXPECT_NEAR(rid.get_angle_direction(24, True), 135.f, 1e-4);
  EXPECT_NEAR(rid.get_angle_direction(4, False), std::atan(0.5), 1e-6);
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

TEST(RidgeletMessages, FirstBlockReportsAloneAndStatisticsFollowTheTransform) {
  Ridgelet rid;
  rid.Verbose = True;
  rid.StatInfo = True;
  Image ima = random_image(32, 32, 2), trans;
  const std::string out = qz_test::stdout_of([&] { rid.transform(ima, trans, 16); });
  EXPECT_EQ(count(out, "Ridgelet transform of Block Image 16 16"), 1u) << out;
  EXPECT_EQ(count(out, "RID INIT:"), 1u);
  EXPECT_EQ(count(out, "  Band "), 3u) << out;
  EXPECT_NE(out.find("  Band 1: Nl = 128, Nc = 64"), std::string::npos) << out;
  EXPECT_EQ(rid.Verbose, True);
}

TEST(RidgeletAccess, ScaleDirectionTakesOneProjectionOfEveryBlockRow) {
  Ridgelet rid;
  Image ima = random_image(32, 32, 3), trans, band;
  rid.transform(ima, trans, 16);
  const int s = 1, dir = rid.get_num_direction(static_cast<float>(M_PI / 2));
  EXPECT_EQ(dir, 16);
  rid.get_scale_direction(trans, band, s, static_cast<float>(M_PI / 2));
  ASSERT_EQ(band.nl(), rid.NbrBi);
  ASSERT_EQ(band.nc(), rid.size_scale_nc(s));
  EXPECT_EQ(band(2, 3 + rid.rid_size(s)), rid.get_coef(trans, dir, 3, s, 2, 1));
}

TEST(RidgeletNoise, BuiltInNormsExtendBySquareRootOfTwo) {
  Ridgelet rid;
  rid.set_tab_norm(12);
  EXPECT_FLOAT_EQ(rid.rid_norm(0), 0.8546f);
  EXPECT_FLOAT_EQ(rid.rid_norm(9), 0.0121f);
  EXPECT_NEAR(rid.rid_norm(10), 0.0121 / std::sqrt(2.), 1e-8);
  EXPECT_NEAR(rid.rid_norm(11), 0.0121 / 2., 1e-8);
  rid.RidTrans = RID_OWT;
  rid.set_tab_norm(4);
  for (int s = 0; s < 4; s++) EXPECT_EQ(rid.rid_norm(s), 1.f);
  to_array<float, true> tab = signal({0.5f, 0.25f, 0.125f});
  rid.set_tab_norm_with_tab(5, tab);
  EXPECT_EQ(rid.rid_norm(2), 0.125f);
  EXPECT_EQ(rid.rid_norm(4), 0.f);
}

TEST(RidgeletNoise, ThresholdingKeepsTheLevelAndGivesTheFinestScaleOneSigmaMore) {
  Ridgelet rid;
  rid.alloc(16, 16, 16);  // one block of 16, 3 scales, no overlap
  rid.set_tab_norm(3);
  const float noise = 0.25f, nsigma = 3.f;
  const float unit = noise * 4.f;  // times sqrt(16)
  Image trans(rid.rid_nl(), rid.rid_nc());
  const float level0 = unit * 4.f * rid.rid_norm(0), level1 = unit * 3.f * rid.rid_norm(1);
  trans(0, rid.jpos(0)) = level0;
  trans(1, rid.jpos(0)) = level0 * 0.999f;
  trans(0, rid.jpos(1)) = level1;
  trans(1, rid.jpos(1)) = level1 * 0.999f;
  trans(0, rid.jpos(2)) = 1e-6f;  // the coarse scale is kept
  rid.thresholding(trans, noise, nsigma);
  EXPECT_EQ(trans(0, rid.jpos(0)), level0);
  EXPECT_EQ(trans(1, rid.jpos(0)), 0.f);
  EXPECT_EQ(trans(0, rid.jpos(1)), level1);
  EXPECT_EQ(trans(1, rid.jpos(1)), 0.f);
  EXPECT_EQ(trans(0, rid.jpos(2)), 1e-6f);
  rid.KillLastScale = True;
  rid.thresholding(trans, noise, nsigma);
  EXPECT_EQ(trans(0, rid.jpos(2)), 0.f);
}

TEST(RidgeletNoise, NormalizeCoefRoundTrips) {
  Ridgelet rid;
  rid.alloc(16, 16, 16);
  Image block = random_image(rid.Nlb, rid.Ncb, 6), work = block;
  rid.normalize_coef(work, False, 0.3f);
  rid.normalize_coef(work, True, 0.3f);
  EXPECT_LT(qz_test::max_abs_difference(work, block), 1e-5);
}

TEST(RidgeletDeath, RefusalsEndWithMinusOne) {
  Ridgelet rid;
  Image ima(8, 8), band(3, 3);
  EXPECT_EXIT_STATUS(rid.recons(ima, ima), 255, "The Ridgelet is not allocated");
  rid.alloc(16, 16, 16);
  EXPECT_EXIT_STATUS(rid.put_scale(ima, band, 0), 255, "scale image has not the correct size");
  EXPECT_EXIT_STATUS(rid.init_scale(ima, 3), 255, "scale number is to high");
  EXPECT_EXIT_STATUS(rid.get_angle_direction(32), 255, "bad direction number \\(32\\)");
  to_array<float, true> vect;
  EXPECT_EXIT_STATUS(rid.get_blockvect(ima, 0, 40, 0, vect), 255,
                     "bad pixel position in get_blockvect");
  rid.RidTrans = RID_UWT;
  EXPECT_EXIT_STATUS(rid.transform_one_block(ima, band), 255, "undecimated transforms");
  Ridgelet no_bank;
  no_bank.RidTrans = RID_OWT;
  EXPECT_EXIT_STATUS(no_bank.transform(ima, band, 8), 255, "filter bank class not initialized");
}

}  // namespace
