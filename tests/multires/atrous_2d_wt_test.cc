// The a trous transform: smoothing against a direct per-pixel evaluation,
// the three reconstructions, and the band noise levels against simulated noise.
#include "multires/atrous_2d_wt.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/death.h"
#include "support/dispatch_switch.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;


// Direct evaluation of one smoothing through the bordered reads, with the
// pair sums in float and the weighted sum in double.
Image reference_smoothing(const Image& in, int s, type_border border) {
  const int d = 1 << s, nl = in.nl(), nc = in.nc();
  Image lines(nl, nc), out(nl, nc);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      float p1 = in(i, j - d, border) + in(i, j + d, border);
      float p2 = in(i, j - 2 * d, border) + in(i, j + 2 * d, border);
      lines(i, j) = static_cast<float>(0.375 * in(i, j) + 0.25 * p1 + 0.0625 * p2);
    }
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      float p1 = lines(i - d, j, border) + lines(i + d, j, border);
      float p2 = lines(i - 2 * d, j, border) + lines(i + 2 * d, j, border);
      out(i, j) = static_cast<float>(0.375 * lines(i, j) + 0.25 * p1 + 0.0625 * p2);
    }
  return out;
}

// The plain bands of ima by direct smoothings: c_s - c_{s+1}, then the last c.
std::vector<Image> direct_bands(const Image& ima, int nbr_scale, type_border border) {
  std::vector<Image> bands;
  Image c = ima;
  for (int s = 0; s < nbr_scale - 1; s++) {
    Image next = reference_smoothing(c, s, border);
    bands.push_back(c);
    for (int k = 0; k < ima.n_elem(); k++) bands.back()(k) = c(k) - next(k);
    c = next;
  }
  bands.push_back(c);
  return bands;
}

using qz_test::max_abs_difference;
using qz_test::same_bits;

// Forward transform of ima into a new band array with the object's flags.
Image* forward(ATROUS_2D_WT& at, const Image& ima, int nbr_scale) {
  Image* bands = nullptr;
  at.alloc(bands, ima.nl(), ima.nc(), nbr_scale);
  at.transform(ima, bands, nbr_scale);
  return bands;
}

}  // namespace

TEST(AtrousTransform, SmoothingMatchesDirectEvaluationForEveryBorderRule) {
  // Both orientations: the line ends are handled apart from the interior, and
  // at scale 3 a line of 23 has ends but no interior.
  for (int transposed = 0; transposed < 2; transposed++) {
    const int nl = transposed ? 37 : 23, nc = transposed ? 23 : 37;
    const Image ima = random_image(nl, nc, 1 + transposed, -100.f, 100.f);
    for (type_border border : {I_CONT, I_MIRROR, I_PERIOD, I_ZERO}) {
      ATROUS_2D_WT at;
      at.Border = border;
      // Scale 3 puts neighbours 16 samples away, beyond the border of 23
      // samples; at scale 5 the holes are wider than 37.
      for (int s = 0; s <= 5; s++) {
        Image out, added;
        at.b3spline_filtering(ima, out, s);
        ASSERT_EQ(out.nl() * 100 + out.nc(), nl * 100 + nc);
        EXPECT_EQ(max_abs_difference(out, reference_smoothing(ima, s, border)), 0.f)
            << "border " << border << " scale " << s << " " << nl << "x" << nc;
        at.b3spline_filtering(ima, added, s, True);
        for (int k = 0; k < ima.n_elem(); k++) ASSERT_EQ(added(k), out(k) + ima(k));
      }
    }
  }
}

TEST(AtrousTransform, PlainBandsAreSmoothingDifferencesThatSumToTheImage) {
  const Image ima = random_image(40, 33, 3, -100.f, 100.f);
  ATROUS_2D_WT at;
  Image* bands = forward(at, ima, 4);
  EXPECT_EQ(bands[0].name(), "band_1");
  EXPECT_EQ(bands[3].name(), "band_4");
  Image c = ima;
  for (int s = 0; s < 3; s++) {
    Image next = reference_smoothing(c, s, I_CONT);
    for (int k = 0; k < ima.n_elem(); k++) ASSERT_EQ(bands[s](k), c(k) - next(k)) << s;
    c = next;
  }
  EXPECT_EQ(max_abs_difference(bands[3], c), 0.f);

  Image rec;
  at.recons(bands, rec, 4, True);
  EXPECT_LT(max_abs_difference(rec, ima), 1e-4f);
  at.recons(bands, rec, 4, False);  // without the smooth band
  for (int k = 0; k < ima.n_elem(); k++) c(k) = ima(k) - bands[3](k);
  EXPECT_LT(max_abs_difference(rec, c), 1e-4f);
  at.free(bands, 4);
  EXPECT_EQ(bands, nullptr);
}

// The bands as successive direct smoothings and their differences, for every
// border rule and for rows shared among several threads (whose shares then
// recompute the smoothings of their neighbours' edge rows).
TEST(AtrousTransform, PlainBandsMatchDirectSmoothingsForEveryBorderAndThreadCount) {
  // Large enough to be shared out: eight shares of 37 or 38 rows, each
  // reaching 14 rows into its neighbours.
  const Image ima = random_image(300, 230, 8, -100.f, 100.f);
  const int nbr_scale = 4;
  const int saved = omp_get_max_threads();
  for (type_border border : {I_CONT, I_MIRROR, I_PERIOD, I_ZERO}) {
    const std::vector<Image> expected = direct_bands(ima, nbr_scale, border);
    for (int threads : {1, 3, 8}) {
      omp_set_num_threads(threads);
      ATROUS_2D_WT at;
      at.Border = border;
      Image* bands = forward(at, ima, nbr_scale);
      for (int b = 0; b < nbr_scale; b++)
        EXPECT_TRUE(same_bits(bands[b], expected[b]))
            << "border " << border << " threads " << threads << " band " << b;
      at.free(bands, nbr_scale);
    }
  }
  omp_set_num_threads(saved);
}

TEST(AtrousTransform, ModifiedAndSecondFormsInvertTheirForwardTransforms) {
  const Image ima = random_image(32, 27, 5, -100.f, 100.f);
  Image rec;
  ATROUS_2D_WT modified;
  modified.ModifiedATWT = True;
  Image* bands = forward(modified, ima, 4);
  modified.recons(bands, rec, 4, True);
  EXPECT_LT(max_abs_difference(rec, ima), 2e-4f);
  modified.free(bands, 4);

  ATROUS_2D_WT second;
  second.Adjoint = True;
  bands = forward(second, ima, 4);
  second.recons(bands, rec, 4, True);
  EXPECT_LT(max_abs_difference(rec, ima), 2e-4f);
  // The modified reconstruction does not invert the plain transform.
  modified.recons(bands, rec, 4, True);
  EXPECT_GT(max_abs_difference(rec, ima), 1.f);
  // Without the smooth band the output, of another size, takes the bands' size.
  Image wrong_size(3, 5, "small");
  second.recons(bands, wrong_size, 4, False);
  EXPECT_EQ(wrong_size.nl() * 100 + wrong_size.nc(), 3227);
  second.free(bands, 4);
}

TEST(AtrousTransform, DegenerateScales) {
  // One scale: the transform copies the image, every reconstruction returns it.
  const Image ima = random_image(5, 6, 6, -100.f, 100.f);
  ATROUS_2D_WT at;
  Image* bands = forward(at, ima, 1);
  Image rec;
  for (Bool add : {True, False}) {
    at.recons(bands, rec, 1, add);
    EXPECT_EQ(max_abs_difference(rec, ima), 0.f);
  }
  at.free(bands, 1);
  // Holes far beyond an 8 x 8 image: clamped borders keep a constant image
  // constant, so every detail band is zero.
  Image flat(8, 8, "flat");
  flat.init(7.f);
  bands = forward(at, flat, 6);
  for (int b = 0; b < 6; b++)
    for (int k = 0; k < 64; k++) ASSERT_EQ(bands[b](k), b < 5 ? 0.f : 7.f) << b;
  at.free(bands, 6);
  // No scale at all: nothing to hold band 0, refused.
  EXPECT_EXIT_STATUS(at.alloc(bands, 4, 4, 0), 255, "bad number of scales 0");
  EXPECT_EXIT_STATUS(at.transform(flat, bands, -1), 255, "bad number of scales -1");
}

TEST(AtrousTransform, NormBandMatchesSimulatedWhiteNoise) {
  ATROUS_2D_WT at;
  EXPECT_FLOAT_EQ(at.norm_band(0), 0.889434f);
  EXPECT_FLOAT_EQ(at.norm_band(6), 0.00513504f);
  for (int s : {-1, 7, 9, 10}) EXPECT_EQ(at.norm_band(s), 0.f) << s;

  const int n = 256;
  Image noise(n, n, "noise");
  std::mt19937 gen(7);
  std::normal_distribution<float> g(0.f, 1.f);
  for (int k = 0; k < noise.n_elem(); k++) noise(k) = g(gen);
  at.Border = I_MIRROR;
  Image* bands = forward(at, noise, 5);
  for (int b = 0; b < 4; b++) {
    double sum2 = 0;
    for (int k = 0; k < noise.n_elem(); k++) sum2 += double(bands[b](k)) * bands[b](k);
    // Coarser bands have fewer independent samples: a looser tolerance.
    EXPECT_NEAR(std::sqrt(sum2 / noise.n_elem()) / at.norm_band(b), 1.0, b < 2 ? 0.02 : 0.08) << b;
  }
  at.free(bands, 5);
  ASSERT_NE(at.UndecFilterBank, nullptr);  // built with the object, freed with it
  EXPECT_EQ(at.UndecFilterBank->TypeUndecFilter, U_B3SPLINE);
}

namespace {

// The smoothing at each scale, with and without Add, then (when asked) the
// three forward/inverse pairs.
std::vector<Image> all_outputs(const Image& ima, type_border border, bool transforms) {
  std::vector<Image> out;
  const int nbr_scale = 6;
  ATROUS_2D_WT at;
  at.Border = border;
  for (int s = 0; s < nbr_scale; s++) {
    out.emplace_back();
    at.b3spline_filtering(ima, out.back(), s, s % 2 == 1 ? True : False);
  }
  for (int form = 0; transforms && form < 3; form++) {
    at.ModifiedATWT = form == 1 ? True : False;
    at.Adjoint = form == 2 ? True : False;
    Image* bands = forward(at, ima, nbr_scale);
    for (int b = 0; b < nbr_scale; b++) out.push_back(bands[b]);
    out.emplace_back();
    at.recons(bands, out.back(), nbr_scale, True);
    at.free(bands, nbr_scale);
  }
  return out;
}

}  // namespace

TEST(AtrousTransform, ResultsDoNotDependOnTheNumberOfThreads) {
  // Large enough to be shared among threads, with odd sides: the share of
  // each thread ends mid-image, and at scales 4 and 5 the holes reach past a
  // thread's share but not past the image.
  const Image ima = random_image(263, 257, 9, -100.f, 100.f);
  const int saved = omp_get_max_threads();
  for (type_border border : {I_CONT, I_MIRROR, I_PERIOD, I_ZERO}) {
    // The transforms call the same smoothing: one border rule is enough there.
    const bool transforms = border == I_MIRROR;
    omp_set_num_threads(1);
    const std::vector<Image> one = all_outputs(ima, border, transforms);
    omp_set_num_threads(8);
    const std::vector<Image> eight = all_outputs(ima, border, transforms);
    ASSERT_EQ(one.size(), eight.size());
    for (size_t k = 0; k < one.size(); k++)
      EXPECT_TRUE(same_bits(one[k], eight[k])) << "border " << border << " output " << k;
    // The shared rows still give the direct evaluation.
    for (int s = 0; s < 6; s += 2)
      EXPECT_EQ(max_abs_difference(eight[s], reference_smoothing(ima, s, border)), 0.f)
          << "border " << border << " scale " << s;
  }
  omp_set_num_threads(saved);
}

TEST(AtrousTransform, ImageThatIsABandIsReadBeforeItIsOverwritten) {
  const Image ima = random_image(40, 36, 4, -100.f, 100.f);
  for (Bool modified : {False, True}) {
    ATROUS_2D_WT at;
    at.ModifiedATWT = modified;
    Image* expected = forward(at, ima, 4);
    for (int b : {0, 1, 3}) {
      Image* bands = nullptr;
      at.alloc(bands, ima.nl(), ima.nc(), 4);
      bands[b] = ima;
      at.transform(bands[b], bands, 4);
      for (int k = 0; k < 4; k++) EXPECT_TRUE(same_bits(bands[k], expected[k])) << b << " " << k;
      at.free(bands, 4);
    }
    at.free(expected, 4);
  }
  // A smoothing into its own input.
  ATROUS_2D_WT at;
  Image in_place = ima, out;
  at.b3spline_filtering(ima, out, 2, True);
  at.b3spline_filtering(in_place, in_place, 2, True);
  EXPECT_TRUE(same_bits(in_place, out));
}

namespace {

// Images large enough for the transform to share their lines among threads.
struct SharedShape {
  int nl, nc, nbr_scale;
  const char* what;
};
const SharedShape kSharedShapes[] = {
    {263, 257, 5, "odd sides, shares that end mid-image"},
    {5, 13111, 5, "fewer lines than threads"},
    {37, 1777, 6, "shares shorter than the columns' reach, holes taller than the image"},
    {1, 65537, 4, "a single line"},
    {256, 256, 5, "even sides"},
    {1031, 1025, 5, "beyond the size that goes level by level: shares that sweep"},
};

}  // namespace

// With several threads each level is made over lines shared among them, or
// for a large image each share sweeps down its lines: the bands are the
// direct smoothings whatever the sharing, the border rule and the loop
// entries.
TEST(AtrousTransform, SharedLinesGiveTheDirectSmoothings) {
  const int saved = omp_get_max_threads();
  for (const SharedShape& shape : kSharedShapes) {
    const Image ima = random_image(shape.nl, shape.nc, 11, -100.f, 100.f);
    const bool large = int64_t{shape.nl} * shape.nc > 1000000;
    for (type_border border : {I_CONT, I_MIRROR, I_PERIOD, I_ZERO}) {
      // The sweep takes the clamp and mirror rules alike: one of them will do.
      if (large && border == I_CONT) continue;
      const std::vector<Image> expected = direct_bands(ima, shape.nbr_scale, border);
      for (const char* plain : {"0", "1"}) {
        if (!qz_test::hardware_avx2() && plain[0] == '0') continue;
        qz_test::DispatchSwitch entries(plain);
        for (int threads : {1, 3, 8}) {
          omp_set_num_threads(threads);
          ATROUS_2D_WT at;
          at.Border = border;
          Image* bands = forward(at, ima, shape.nbr_scale);
          for (int b = 0; b < shape.nbr_scale; b++)
            EXPECT_TRUE(same_bits(bands[b], expected[b]))
                << shape.what << ", border " << border << ", plain loops " << plain << ", "
                << threads << " threads, band " << b;
          at.free(bands, shape.nbr_scale);
        }
      }
    }
  }
  omp_set_num_threads(saved);
}

// The task after the transform sees every line once, with every band of it
// final, and may rewrite its lines of the image without changing any band.
TEST(AtrousTransform, TaskAfterTheTransformSeesEachLineOnceWithItsFinalBands) {
  const int saved = omp_get_max_threads();
  struct Case {
    int nl, nc;
    Bool modified;
  };
  const Case cases[] = {{263, 257, False},  {5, 13111, False}, {37, 1777, False},
                        {1031, 1025, False}, {20, 30, False},   {263, 257, True},
                        {20, 30, True}};
  const int nbr_scale = 5;
  for (const Case& c : cases) {
    const Image ima = random_image(c.nl, c.nc, 12, -100.f, 100.f);
    ATROUS_2D_WT reference;
    reference.ModifiedATWT = c.modified;
    Image* expected = forward(reference, ima, nbr_scale);
    for (int threads : {1, 3, 8}) {
      omp_set_num_threads(threads);
      ATROUS_2D_WT at;
      at.ModifiedATWT = c.modified;
      Image* bands = nullptr;
      at.alloc(bands, c.nl, c.nc, nbr_scale);
      std::vector<Image> seen(nbr_scale, Image(c.nl, c.nc));
      std::vector<int> visits(c.nl, 0);
      Image image = ima;
      at.transform_then(image, bands, nbr_scale, [&](int first, int end) {
        for (int i = first; i < end; i++) {
          visits[i]++;  // each line belongs to one range alone
          for (int b = 0; b < nbr_scale; b++)
            for (int j = 0; j < c.nc; j++) seen[b](i, j) = bands[b](i, j);
          for (int j = 0; j < c.nc; j++) image(i, j) = -1e30f;
        }
      });
      const std::string what = std::to_string(c.nl) + "x" + std::to_string(c.nc) +
                               (c.modified ? " modified, " : " plain, ") +
                               std::to_string(threads) + " threads";
      for (int i = 0; i < c.nl; i++) ASSERT_EQ(visits[i], 1) << what << ", line " << i;
      for (int b = 0; b < nbr_scale; b++) {
        EXPECT_TRUE(same_bits(bands[b], expected[b])) << what << ", band " << b;
        EXPECT_TRUE(same_bits(seen[b], expected[b])) << what << ", band " << b << " as seen";
      }
      at.free(bands, nbr_scale);
    }
    reference.free(expected, nbr_scale);
  }
  omp_set_num_threads(saved);
}

// Lines shared out in thread order are taken over by the other threads when
// their owner is slow, or when the region has fewer threads than shares (a
// transform inside another parallel region): every line is made once, and
// the bands are the same bits.
TEST(AtrousTransform, LinesOfASlowOrAbsentThreadAreMadeByTheOthers) {
  const int saved = omp_get_max_threads();
  const int nl = 263, nc = 257, nbr_scale = 5;
  const Image ima = random_image(nl, nc, 13, -100.f, 100.f);
  omp_set_num_threads(1);
  ATROUS_2D_WT reference;
  Image* expected = forward(reference, ima, nbr_scale);
  auto check = [&](ATROUS_2D_WT& at, const std::vector<int>& visits, Image* bands,
                   const std::string& what) {
    for (int i = 0; i < nl; i++) ASSERT_EQ(visits[i], 1) << what << ", line " << i;
    for (int b = 0; b < nbr_scale; b++)
      EXPECT_TRUE(same_bits(bands[b], expected[b])) << what << ", band " << b;
    at.free(bands, nbr_scale);
  };

  omp_set_num_threads(8);
  {
    ATROUS_2D_WT at;
    Image* bands = nullptr;
    at.alloc(bands, nl, nc, nbr_scale);
    std::vector<int> visits(nl, 0), maker(nl, -1);
    at.transform_then(ima, bands, nbr_scale, [&](int first, int end) {
      const int thread = omp_get_thread_num();
      if (thread == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      for (int i = first; i < end; i++) {
        visits[i]++;
        maker[i] = thread;
      }
    });
    int taken = 0;  // lines of thread 0's share made by another thread
    for (int i = 0; i < nl / 8; i++) taken += maker[i] != 0;
    EXPECT_GT(taken, 0);
    check(at, visits, bands, "slow thread 0");
  }

  // Nested regions are off: inside another region the transform runs on a
  // team of one, which makes every share. (One thread of the outer region
  // runs it: the array pools serve one thread at a time.)
  omp_set_max_active_levels(1);
  {
    ATROUS_2D_WT at;
    Image* bands = nullptr;
    std::vector<int> visits(nl, 0);
#pragma omp parallel num_threads(2)
#pragma omp single
    {
      at.alloc(bands, nl, nc, nbr_scale);
      at.transform_then(ima, bands, nbr_scale, [&](int first, int end) {
        for (int i = first; i < end; i++) visits[i]++;
      });
    }
    check(at, visits, bands, "team of one");
  }
  reference.free(expected, nbr_scale);
  omp_set_num_threads(saved);
}
