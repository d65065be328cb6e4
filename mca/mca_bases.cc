// The table of the MCA's bases, indexed by type_mcabase, and what the bases
// share: their texts and the constraints common to several families.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "array/fatal.h"
#include "array/im_util.h"
#include "array/scalar_helpers.h"
#include "mca/mca_base_family.h"
#include "mca/mca_coef_update.h"
#include "mca/mca_options.h"
#include "numerics/im_dct.h"

namespace {

const MCABaseFamily* const Families[NBR_MCA_BASES] = {
    &AtrouBase, &WTBase,   &RidBase,    &CurBase,   &LocalDctBase, &WPBase,
    &PCurBase,  &FCurBase, &MCosBase,   &PixelBase, &DWTBase,      &PSBase};

bool valid_base(type_mcabase base) {
  const int b = static_cast<int>(base);
  return b >= 0 && b < NBR_MCA_BASES;
}

}  // namespace

const MCABaseFamily& mca_base_family(type_mcabase base) {
  if (!valid_base(base)) fatal_exit("Error: not implemeted transform ... \n");
  return *Families[static_cast<int>(base)];
}

const char* StringMCABase(type_mcabase base) {
  return valid_base(base) ? Families[static_cast<int>(base)]->name : "Undefined transform";
}

const char* mca_base_suffix(type_mcabase base) {
  return valid_base(base) ? Families[static_cast<int>(base)]->suffix : nullptr;
}

void mca_positivity(McaImage& component, int positivity_flag) {
  if (positivity_flag != 1) return;
  const int nl = component.nl();
#pragma omp parallel for schedule(static) if (component.n_elem() > ParallelPixels)
  for (int i = 0; i < nl; i++) mca_positivity_lines(component, positivity_flag, i, i + 1);
}

void mca_positivity_lines(McaImage& component, int positivity_flag, int first, int end) {
  if (positivity_flag != 1) return;
  float* p = component.buffer() + static_cast<int64_t>(first) * component.nc();
  const int64_t n = static_cast<int64_t>(end - first) * component.nc();
#pragma omp simd
  for (int64_t k = 0; k < n; k++) p[k] = p[k] < 0.f ? 0.f : p[k];
}

void mca_centre_and_clip(McaImage& component, float noise) {
  float* p = component.buffer();
  const int n = component.n_elem();
  const double mean = component.mean();
  const float bound = 5.f * noise;
  for (int k = 0; k < n; k++) {
    const float v = static_cast<float>(p[k] - mean);
    p[k] = v < -bound ? -bound : (v > bound ? bound : v);
  }
}

void mca_clip_zoomed(McaImage& component, const MCA& mca) {
  if (mca.UseZoom != 1) return;
  float* p = component.buffer();
  const int64_t n = component.n_elem();
  const float top = mca.ZoomTop;
  for (int64_t k = 0; k < n; k++) p[k] = std::min(p[k], top);
}

void mca_bound_zoomed_pair(MCA& mca, int b) {
  if (b != 1 || mca.UseZoom != 1) return;
  // The texture may not take a pixel of the first component below 0 nor
  // their sum above the top of the zoomed data's range.
  const float* p0 = mca.TabImaRec[0].buffer();
  float* p1 = mca.TabImaRec[1].buffer();
  const int n = mca.TabImaRec[1].n_elem();
  const float top = mca.ZoomTop;
  for (int k = 0; k < n; k++) {
    if (p1[k] < -p0[k]) p1[k] = -p0[k];
    if (p1[k] + p0[k] > top) p1[k] = top - p0[k];
  }
}

float mca_span_max_magnitude(const float* values, int64_t n) {
  // Eight running maxima in registers, none waiting on another; a maximum
  // is the same taken in any order.
  constexpr int Lanes = 8;
  float lane[Lanes] = {};
  int64_t k = 0;
  for (; k + Lanes <= n; k += Lanes)
    for (int l = 0; l < Lanes; l++) lane[l] = std::max(lane[l], std::fabs(values[k + l]));
  float maximum = 0.f;
  for (; k < n; k++) maximum = std::max(maximum, std::fabs(values[k]));
  for (int l = 0; l < Lanes; l++) maximum = std::max(maximum, lane[l]);
  return maximum;
}

// A maximum does not depend on the order it is taken in: the threads give
// the same value as one.
void mca_max_magnitudes(const McaRect* rects, int count, float* maxima) {
  int64_t total = 0;
  for (int b = 0; b < count; b++) {
    maxima[b] = 0.f;
    total += int64_t{rects[b].nl} * rects[b].nc;
  }
#pragma omp parallel if (total > ParallelPixels)
  {
    std::vector<float> partial(count, 0.f);
    for (int b = 0; b < count; b++) {
      const McaRect& r = rects[b];
      const int stride = r.image->nc();
      float maximum = 0.f;
#pragma omp for schedule(static) nowait
      for (int i = r.i0; i < r.i0 + r.nl; i++) {
        const float* line = r.image->buffer() + static_cast<int64_t>(i) * stride + r.j0;
        maximum = std::max(maximum, mca_span_max_magnitude(line, r.nc));
      }
      partial[b] = maximum;
    }
#pragma omp critical(mca_max_magnitudes)
    for (int b = 0; b < count; b++) maxima[b] = std::max(maxima[b], partial[b]);
  }
}

void mca_max_magnitudes(const McaImage* images, int count, float* maxima) {
  std::vector<McaRect> rects(count);
  for (int b = 0; b < count; b++) {
    // Other images are one line of all their pixels.
    const bool two_axes = images[b].naxis() == 2;
    rects[b] = {&images[b], 0, 0, two_axes ? images[b].nl() : (images[b].n_elem() > 0 ? 1 : 0),
                two_axes ? images[b].nc() : images[b].n_elem()};
  }
  mca_max_magnitudes(rects.data(), count, maxima);
}

float mca_max_magnitude(const McaImage& ima) {
  float maximum;
  mca_max_magnitudes(&ima, 1, &maximum);
  return maximum;
}

void mca_check_noise_level(const char* tag, int band, float level) {
  if (!(level > 0.f))
    fatal_exitf(-1, stdout,
                "Error: %s band %d has a noise level of %g: give a positive noise level with -g "
                "...\n",
                tag, band + 1, level);
}

void mca_check_mad_noise_level(const char* tag, int band, float level) {
  if (!(level > 0.f))
    fatal_exitf(-1, stdout,
                "Error: %s band %d has a noise level of %g: its median absolute deviation (-M) is "
                "0, as more than half of its coefficients are equal; run without -M to take the "
                "band levels from the noise level (-g, or its estimate) ...\n",
                tag, band + 1, level);
}

void mca_check_model_noise_level(const MCA& mca, const char* transform, int nbr_scale, int band,
                                 float level) {
  if (!(level > 0.f))
    fatal_exitf(-1, stdout,
                "Error: band %d of the %s has no noise level: the scale count (%d) or the image "
                "(%d x %d) is too small for its blocks ...\n",
                band + 1, transform, nbr_scale, mca.Nl, mca.Nc);
}

namespace {

// Whether a split of a signal of `length` samples at sample `distance`
// reconstructs it: more than four samples per distance (fewer, and the
// filters fold over the borders), and, decimated, the halves of the
// interleaved sub-signals tiling the two bands exactly (else samples of
// some sub-signals are dropped).
bool split_reconstructs(int64_t length, int64_t distance, bool decimated) {
  if (length <= 4 * distance) return false;
  if (!decimated) return true;
  const int64_t nbr_low = (length + 1) / 2, nbr_high = length / 2;
  int64_t lows = 0, highs = 0;
  for (int64_t d = 0; d < distance; d++) {
    const int64_t samples = (length - d + distance - 1) / distance;
    const int64_t low = (samples + 1) / 2, high = samples / 2;
    if ((low > 0 && (low - 1) * distance + d >= nbr_low) ||
        (high > 0 && (high - 1) * distance + d >= nbr_high))
      return false;
    lows += low;
    highs += high;
  }
  return lows == nbr_low && highs == nbr_high;
}

// The same for one axis of `side` samples.
int largest_split_scales(int side, int nbr_undecimated, bool packets) {
  std::vector<int64_t> lengths = {side};  // the band lengths the next split meets
  int64_t distance = 1;
  int scales = 1;
  // Split s gives the transform s + 2 scales.
  for (int s = 0;; s++) {
    const bool decimated = s >= nbr_undecimated;
    for (int64_t length : lengths)
      if (!split_reconstructs(length, distance, decimated)) return scales;
    scales = s + 2;
    if (!decimated) {
      distance *= 2;
      continue;
    }
    std::vector<int64_t> halves;
    for (int64_t length : lengths) {
      halves.push_back((length + 1) / 2);
      if (packets) halves.push_back(length / 2);
    }
    std::sort(halves.begin(), halves.end());
    halves.erase(std::unique(halves.begin(), halves.end()), halves.end());
    lengths = halves;
  }
}

}  // namespace

int mca_largest_split_scales(const MCA& mca, int nbr_undecimated, bool packets) {
  if (nbr_undecimated < 0) nbr_undecimated = INT32_MAX;
  return std::min(largest_split_scales(mca.Nl, nbr_undecimated, packets),
                  largest_split_scales(mca.Nc, nbr_undecimated, packets));
}

int mca_fit_scale_count(const MCA& mca, const char* transform, int requested, int largest,
                        int smallest) {
  if (largest < smallest)
    fatal_exitf(-1, stdout, "Error: the image (%d x %d) is too small for the %s ...\n", mca.Nl,
                mca.Nc, transform);
  if (requested <= largest) return requested;
  if (scale_count_given())
    fatal_exitf(-1, stdout,
                "Error: too many scales (%d) for an image of %d x %d in the %s: at most %d ...\n",
                requested, mca.Nl, mca.Nc, transform, largest);
  if (mca.Verbose)
    std::printf(" %s: %d scale%s, the most an image of %d x %d holds\n", transform, largest,
                largest == 1 ? "" : "s", mca.Nl, mca.Nc);
  return largest;
}

int mca_largest_power_of_2(int side) {
  int power = 1;
  while (power <= side / 2) power *= 2;
  return side < 1 ? 0 : power;
}

void mca_check_cos_block_size(int block, int largest, int nl, int nc) {
  if (block >= DctMinSide && is_power_of_2(block) && (largest == 0 || block <= largest)) return;
  std::printf("bad cosinus transform block size: %d\n", block);
  if (largest == 0)
    fatal_exitf(-1, stdout, " Block size: a power of two, at least %d\n", DctMinSide);
  fatal_exitf(-1, stdout, " Block size: a power of two from %d to %d (the image is %d x %d)\n",
              DctMinSide, largest, nl, nc);
}
