// The MCA steps that do several things in one parallel pass over the pixels
// against the same things done one after the other, for several thread
// counts: the a trous projection (every band thresholded, the bands summed),
// the band maxima, and the residual handed to the next component.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "curvelet/curvelet.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "support/test_images.h"
#include "support/tolerance.h"

namespace {

using Image = to_array<float, false>;

// Sides that share unevenly among threads, above the size where threads start.
constexpr int Lines = 193, Columns = 181;
// Sides above the size where the a trous transform shares its lines too.
constexpr int WideLines = 263, WideColumns = 257;

class ThreadCounts : public ::testing::Test {
 protected:
  void TearDown() override { omp_set_num_threads(saved_); }
  const int saved_ = omp_get_max_threads();
};

Image noisy_scene(unsigned seed, int nl = Lines, int nc = Columns) {
  Image ima = normal_image(nl, nc, seed, 2.f);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      if (std::hypot(i - 90., j - 70.) < 35.) ima(i, j) += 30.f;
      ima(i, j) += 8.f * static_cast<float>(std::sin(0.9 * i + 0.4 * j));
    }
  return ima;
}

struct ProjectionCase {
  int l1, kill_last, correl;
};

using McaOnePass = ThreadCounts;

// Reference: the bands of a transform of our own, each coefficient through
// the MCA's one-coefficient rule at its band level (the finest band one
// noise unit higher, the correlation term added), the smooth band zeroed
// or kept, and the bands summed in order.
TEST_F(McaOnePass, AtrousProjectionIsThresholdThenSum) {
  const float level = 2.5f, weight = 0.4f;
  const ProjectionCase cases[] = {{0, 1, 0}, {1, 1, 0}, {0, 0, 0}, {1, 0, 1}, {0, 1, 1}};
  for (const auto& [nl, nc] : {std::pair{Lines, Columns}, std::pair{WideLines, WideColumns}}) {
    const Image scene = noisy_scene(3, nl, nc), correl = noisy_scene(4, nl, nc);
    for (const ProjectionCase& c : cases) {
      MCA mca;
      mca.NbrBase = 1;
      mca.TabSelect[0] = MCA_ATROU;
      mca.Noise_Ima = 2.f;
      mca.AT_NbrScale = 5;
      mca.AT_KillLastScale = c.kill_last;
      mca.UseNormL1 = c.l1;
      mca.UseCorrel = c.correl;
      mca.CorrelConstraint = weight;
      mca.alloc(nl, nc, nullptr);
      Image data = scene;
      mca.atrou_init(data, False);
      if (c.correl) mca.ImaCorrel = correl;

      ATROUS_2D_WT at;
      Image *band = nullptr, *correl_band = nullptr;
      at.alloc(band, nl, nc, 5);
      at.alloc(correl_band, nl, nc, 5);
      at.transform(scene, band, 5);
      at.transform(correl, correl_band, 5);
      Image expected(nl, nc);
      for (int k = 0; k < expected.n_elem(); k++) {
        float sum = 0.f;
        for (int b = 0; b < 5; b++) {
          float coef = band[b](k);
          if (b < 4) {
            const float base = (b == 0 ? level + 1.f : level) * mca.AT_TabNoise(b);
            const float t = c.correl ? base + std::fabs(correl_band[b](k)) * level * weight : base;
            coef = mca.mca_update(coef, t, 0.f);
          } else if (c.kill_last) {
            coef = 0.f;
          }
          sum = b == 0 ? coef : sum + coef;
        }
        expected(k) = sum;
      }
      at.free(band, 5);
      at.free(correl_band, 5);

      for (int threads : {1, 3, 8}) {
        omp_set_num_threads(threads);
        Image component = scene;
        mca.atrou_proj(component, level);
        EXPECT_TRUE(qz_test::same_bits(component, expected))
            << nl << "x" << nc << " l1 " << c.l1 << " kill " << c.kill_last << " correl "
            << c.correl << ", " << threads << " threads";
      }
    }
  }
}

// Reference: the largest |coefficient| of each detail band of a transform
// of our own, over the band's noise level.
TEST_F(McaOnePass, AtrousMaxIsTheLargestNormalisedCoefficient) {
  for (const auto& [nl, nc] : {std::pair{Lines, Columns}, std::pair{WideLines, WideColumns}}) {
    const Image scene = noisy_scene(5, nl, nc), residual = noisy_scene(6, nl, nc);
    MCA mca;
    mca.NbrBase = 1;
    mca.TabSelect[0] = MCA_ATROU;
    mca.Noise_Ima = 2.f;
    mca.AT_NbrScale = 5;
    mca.alloc(nl, nc, nullptr);
    Image data = scene;
    mca.atrou_init(data, False);

    ATROUS_2D_WT at;
    Image* band = nullptr;
    at.alloc(band, nl, nc, 5);
    at.transform(residual, band, 5);
    float expected = 0.f;
    for (int b = 0; b < 4; b++)
      for (int k = 0; k < band[b].n_elem(); k++)
        expected = std::max(expected, std::fabs(band[b](k)) / mca.AT_TabNoise(b));
    at.free(band, 5);

    for (int threads : {1, 3, 8}) {
      omp_set_num_threads(threads);
      Image input = residual;
      EXPECT_EQ(mca.atrou_max(input), expected) << nl << "x" << nc << ", " << threads << " threads";
      EXPECT_TRUE(qz_test::same_bits(input, residual)) << "the residual is left as it was";
    }
  }
}

TEST_F(McaOnePass, BandMaximaAreTheLargestMagnitudes) {
  // Bands of different sizes, one below the size where threads start, one
  // empty, one whose extreme is negative and at its last pixel.
  std::vector<Image> bands = {noisy_scene(5), random_image(40, 30, 6), Image(), noisy_scene(7)};
  bands[3](bands[3].n_elem() - 1) = -1e4f;
  for (int threads : {1, 8}) {
    omp_set_num_threads(threads);
    float maxima[4];
    mca_max_magnitudes(bands.data(), 4, maxima);
    for (int b = 0; b < 4; b++) {
      float expected = 0.f;
      for (int k = 0; k < bands[b].n_elem(); k++) expected = std::max(expected, std::fabs(bands[b](k)));
      EXPECT_EQ(maxima[b], expected) << "band " << b << ", " << threads << " threads";
      EXPECT_EQ(mca_max_magnitude(bands[b]), expected) << "band " << b;
    }
  }
}

// Every span length to past a few rounds of the running maxima, the extreme
// at every position, negative, among NaNs, which a maximum passes over.
TEST(McaSpanMaximum, LargestMagnitudeAtAnyPositionAndLength) {
  std::vector<float> values(40);
  for (int n = 0; n <= 40; n++)
    for (int at = 0; at < std::max(n, 1); at++)
      for (bool with_nan : {false, true}) {
        for (int k = 0; k < n; k++) values[k] = 0.5f * static_cast<float>((k * 7) % 5) - 1.f;
        if (with_nan)
          for (int k = (at + 1) % 3; k < n; k += 3)
            if (k != at) values[k] = std::numeric_limits<float>::quiet_NaN();
        if (n > 0) values[at] = -3.f;
        EXPECT_EQ(mca_span_max_magnitude(values.data(), n), n > 0 ? 3.f : 0.f)
            << n << " values, extreme at " << at << (with_nan ? ", NaNs" : "");
      }
}

TEST_F(McaOnePass, RectangleMaximaAreTheLargestMagnitudesInside) {
  Image ima = noisy_scene(9);
  ima(0, 0) = 1e5f;  // outside every rectangle but the whole image
  ima(150, 100) = -2e4f;
  const McaRect rects[] = {{&ima, 0, 0, Lines, Columns}, {&ima, 10, 20, 150, 90},
                           {&ima, 150, 100, 1, 1}, {&ima, 5, 5, 0, 7}, {&ima, 100, 1, 93, 180}};
  for (int threads : {1, 8}) {
    omp_set_num_threads(threads);
    float maxima[5];
    mca_max_magnitudes(rects, 5, maxima);
    for (int r = 0; r < 5; r++) {
      float expected = 0.f;
      for (int i = rects[r].i0; i < rects[r].i0 + rects[r].nl; i++)
        for (int j = rects[r].j0; j < rects[r].j0 + rects[r].nc; j++)
          expected = std::max(expected, std::fabs(ima(i, j)));
      EXPECT_EQ(maxima[r], expected) << "rectangle " << r << ", " << threads << " threads";
    }
  }
}

// Reference: the curvelet bands of a transform of our own, each coefficient
// of each band's rectangle through the one-coefficient rule (the coarsest
// ridgelet scale at the level of the band before it), the smooth image at
// the a trous level of the coarsest wavelet scale when kept, reconstructed.
TEST_F(McaOnePass, CurveletProjectionIsThresholdThenRecons) {
  const float level = 2.f;
  const Image scene = noisy_scene(10);
  for (int l1 : {0, 1})
    for (int kill_last : {0, 1}) {
      MCA mca;
      mca.NbrBase = 1;
      mca.TabSelect[0] = MCA_CUR;
      mca.Noise_Ima = 2.f;
      mca.Cur_NbrScale = 3;
      mca.Cur_KillLastScale = kill_last;
      mca.UseNormL1 = l1;
      mca.alloc(Lines, Columns, nullptr);
      Image data = scene;
      mca.cur_init(data, False);

      Image* bands = nullptr;
      Image in = scene, expected;
      mca.Cur.transform(in, bands);
      for (int b = 0; b < mca.Cur.nbr_band() - 1; b++) {
        int s, j;
        mca.Cur.get_scale_number(b, s, j);
        const Ridgelet& R = *mca.Cur.get_ridgelet(s);
        const float noise = j == R.NbrScale1D - 1 && b > 0 ? mca.Cur_TabNoise(b - 1) : mca.Cur_TabNoise(b);
        for (int i = R.ipos(j); i < R.ipos(j) + R.size_scale_nl(j); i++)
          for (int k = R.jpos(j); k < R.jpos(j) + R.size_scale_nc(j); k++)
            bands[s](i, k) = mca.mca_update(bands[s](i, k), level * noise, 0.f);
      }
      if (kill_last == 0) {
        Image& smooth = bands[mca.Cur_NbrScale - 1];
        const float noise = mca.Noise_Ima * mca.AT_Trans.norm_band(mca.Cur_NbrScale - 2);
        for (int k = 0; k < smooth.n_elem(); k++) smooth(k) = mca.mca_update(smooth(k), level * noise, 0.f);
      }
      mca.Cur.recons(bands, expected);
      delete[] bands;

      for (int threads : {1, 8}) {
        omp_set_num_threads(threads);
        Image component = scene;
        mca.cur_proj(component, level);
        EXPECT_TRUE(qz_test::same_bits(component, expected))
            << "l1 " << l1 << " kill " << kill_last << ", " << threads << " threads";
      }
    }
}

// A mask of ones leaves the residual as it is but takes the step-by-step
// path (the constraint, the residual formed, then added to the next
// component): the components must be the same bits as those of the one-pass
// path, which hands the residual on within an iteration and to the first
// component of the next one, but not past the last iteration, and where the
// a trous projection constrains each line and forms its residual as soon as
// it has made it.
struct FeedCase {
  std::vector<type_mcabase> bases;
  int schedule, iterations;
  bool wide = false;  // the a trous lines shared among threads, each handing its own on
};

TEST_F(McaOnePass, ResidualHandedToTheNextComponentAsStepByStep) {
  const FeedCase cases[] = {
      {{MCA_ATROU, MCA_COS, MCA_PIXEL}, 0, 4},
      {{MCA_ATROU, MCA_COS}, 2, 3},
      {{MCA_ATROU}, 0, 3},
      {{MCA_COS, MCA_ATROU}, 1, 1},
      {{MCA_ATROU, MCA_COS}, 2, 3, true},
      {{MCA_ATROU}, 0, 2, true},
  };
  for (const FeedCase& c : cases) {
    const int nl = c.wide ? WideLines : Lines, nc = c.wide ? WideColumns : Columns;
    const Image scene = noisy_scene(8, nl, nc);
    const size_t count = c.bases.size() + 1;
    std::vector<Image> results;
    for (int masked : {1, 0})
      for (int threads : {1, 8}) {
        omp_set_num_threads(threads);
        MCA mca;
        mca.NbrBase = 0;
        for (type_mcabase base : c.bases) mca.TabSelect[mca.NbrBase++] = base;
        mca.Noise_Ima = 2.f;
        mca.Nbr_Iter = c.iterations;
        mca.T_Decreasing = c.schedule;
        mca.RemoveLastScale = 0;
        mca.LDCT_BlockSize = 16;
        mca.alloc(nl, nc, nullptr);
        if (masked) {
          mca.UseMask = 1;
          mca.MaskIma.alloc(nl, nc);
          mca.MaskIma.init(1.f);
        }
        Image data = scene;
        mca.decomposition(data);
        for (int b = 0; b < mca.NbrBase; b++) results.push_back(mca.TabImaRec[b]);
        results.push_back(mca.Resi);
      }
    for (size_t run = 1; run < 4; run++)
      for (size_t k = 0; k < count; k++)
        EXPECT_TRUE(qz_test::same_bits(results[count * run + k], results[k]))
            << c.bases.size() << " bases, schedule " << c.schedule << (c.wide ? ", wide" : "")
            << ", run " << run << " image " << k;
    // Something was separated: the first component is not empty.
    EXPECT_GT(qz_test::max_abs_difference(results[0], Image(nl, nc)), 1.f);
  }
}

}  // namespace
