// Input preparation of a run: range check, zoom, mask of missing pixels,
// first guess; and the check of the results before they are written.
#include "mca/mca_input.h"

#include <omp.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <vector>

#include "array/border.h"
#include "array/fatal.h"
#include "array/median.h"
#include "array/thread_share.h"
#include "io/fits_coordinate_zoom.h"
#include "io/fits_header.h"
#include "io/image_names.h"
#include "mca/mca.h"
#include "mca/mca_coef_update.h"
#include "numerics/im_zoom.h"

namespace {

// A NaN fails every comparison, an infinity this one.
inline bool not_finite(float v) { return !(std::fabs(v) <= FLT_MAX); }

long non_finite_pixels(const to_array<float, false>& ima) {
  long count = 0;
  const float* p = ima.buffer();
  const int n = ima.n_elem();
#pragma omp parallel for simd reduction(+ : count) schedule(static) if (n > ParallelPixels)
  for (int k = 0; k < n; k++) count += not_finite(p[k]);
  return count;
}

}  // namespace

// Pixels that are not finite numbers would spread through every transform
// into hundreds of NaN pixels of every result.
void refuse_non_finite_pixels(const to_array<float, false>& data, const fitsstruct& header,
                              const std::string& name) {
  const long count = non_finite_pixels(data);
  if (count == 0) return;
  // An integer FITS image holds no such value: these are its undefined
  // pixels, stored as its BLANK value and read as NaN.
  if (which_format() == F_FITS && header.bitpix > 0) {
    const int blank = header.fitshead != nullptr ? fitsfind(header.fitshead, "BLANK   ") : -1;
    const char* card = blank >= 0 ? header.fitshead + static_cast<std::size_t>(blank) * FITS_CARD : nullptr;
    const std::string shown = card != nullptr ? " = " + bare_value(card) : "";
    // Where 0 is stored as the BLANK value itself (unsigned 16-bit data,
    // BZERO 32768, with BLANK -32768), a missing pixel set to 0 is undefined
    // again; without the card those pixels read as 0.
    double stored = 0;
    if (card != nullptr && fits_number(card, &stored) && header.bscale != 0. &&
        std::nearbyint(-header.bzero / header.bscale) == stored)
      fatal_exitf(-1, stdout,
                  "Error: %ld pixels of the input image are undefined (BLANK%s), the value this file "
                  "stores 0 as; remove the BLANK card (or give it a value no pixel has) and use -H to "
                  "mask them ... (%s)\n",
                  count, shown.c_str(), name.c_str());
    fatal_exitf(-1, stdout,
                "Error: %ld pixels of the input image are undefined (BLANK%s); set missing "
                "pixels to 0 and use -H to mask them ... (%s)\n",
                count, shown.c_str(), name.c_str());
  }
  fatal_exitf(-1, stdout,
              "Error: %ld pixels of the input image are not finite numbers; set missing "
              "pixels to 0 and use -H to mask them ... (%s)\n",
              count, name.c_str());
}

// The median, not the largest magnitude: one bright star or cosmic ray must
// not make a noisy image look flat. It is the magnitude at which most pixels
// are stored, so a noise level below its float resolution is rounding, not
// noise: a constant image (or one whose values differ in their last bits)
// gives 0 or such a level; a noiseless ramp gives 0, or rounding noise below
// the resolution of its middle values. Noise around 0 has a median magnitude
// of about 0.67 sigma, which any real estimate passes. Zeros are left out,
// masked or not: an image that is mostly an exact-zero background (a masked
// field, stars on a subtracted sky) would otherwise have a median of 0, and
// a plateau whose values differ in their last bits would pass for noisy.
float typical_magnitude(const to_array<float, false>& data) {
  std::vector<float> magnitudes;
  magnitudes.reserve(static_cast<size_t>(data.n_elem()));
  const float* p = data.buffer();
  for (int k = 0; k < data.n_elem(); k++)
    if (p[k] != 0.f) magnitudes.push_back(std::fabs(p[k]));
  if (magnitudes.empty()) return 0.f;
  return get_median(magnitudes.data(), static_cast<int>(magnitudes.size()));
}

bool noise_negligible(float noise, float typical) { return !(noise > FLT_EPSILON * typical); }

float offset_float_step(const to_array<float, false>& data) {
  // An estimate lost in the float resolution comes from a range of a few
  // steps; a noiseless model on a sky spans millions.
  constexpr float MostSteps = 64.f;
  if (data.n_elem() < 1) return 0.f;
  const float low = data.min(), high = data.max();
  if (!(low > 0.f || high < 0.f) || !(high > low)) return 0.f;
  const float offset = std::min(std::fabs(low), std::fabs(high));
  const float step = std::nextafter(offset, FLT_MAX) - offset;
  return high - low <= MostSteps * step ? step : 0.f;
}

void refuse_noise_below_range(float noise, float largest, long nbr_pixels,
                              const std::string& name) {
  const double limit = largest_input_magnitude(nbr_pixels);
  if (static_cast<double>(largest) / static_cast<double>(noise) > limit)
    fatal_exitf(-1, stdout,
                "Error: the noise level %g is too small against pixel values up to %g: in noise "
                "units they pass %g, the most the transforms' sums hold for an image of %ld "
                "pixels; give a larger noise level with -g ... (%s)\n",
                noise, largest, limit, nbr_pixels, name.c_str());
}

float unit_noise_scale(float noise, float largest, long nbr_pixels) {
  // Noise levels from 2^-32 to 2^32 leave a wide margin on both sides.
  constexpr int Widest = 32;
  const int exponent = std::ilogb(noise);
  if (exponent >= -Widest && exponent <= Widest) return 1.f;
  int power = -exponent;
  if (power > 0 && largest > 0.f) {
    // limit / largest = m 2^room with m in [0.5, 1): 2^(room - 1) fits.
    int room;
    std::frexp(largest_input_magnitude(nbr_pixels) / largest, &room);
    power = std::max(0, std::min(power, room - 1));
  }
  // A level below 2^-127 (a subnormal float) is lifted as far as a float
  // factor goes.
  power = std::min(power, FLT_MAX_EXP - 1);
  return std::ldexp(1.f, power);
}

void scale_pixels(to_array<float, false>& ima, float factor) {
  float* p = ima.buffer();
  const int64_t n = ima.n_elem();
#pragma omp parallel for simd schedule(static) if (n > ParallelPixels)
  for (int64_t k = 0; k < n; k++) p[k] *= factor;
}

double largest_input_magnitude(long nbr_pixels) {
  return static_cast<double>(FLT_MAX) / static_cast<double>(nbr_pixels > 1 ? nbr_pixels : 1);
}

void refuse_out_of_range_pixels(const to_array<float, false>& Data, const std::string& name) {
  const double limit = largest_input_magnitude(Data.n_elem());
  const float* p = Data.buffer();
  const int n = Data.n_elem();
  // One stretch of pixels per thread, in order: taken in thread order, the
  // largest is the first of the largest magnitude, as one pass would find.
  const int threads = n > ParallelPixels ? omp_get_max_threads() : 1;
  std::vector<long> stretch_count(threads, 0);
  std::vector<float> stretch_largest(threads, 0.f);
#pragma omp parallel num_threads(threads) if (threads > 1)
  {
    const int team = omp_get_num_threads(), thread = omp_get_thread_num();
    const int first = share_start(n, thread, team), end = share_start(n, thread + 1, team);
    long count = 0;
    float largest = 0.f;
    for (int k = first; k < end; k++)
      if (std::fabs(p[k]) > limit) {
        count++;
        if (std::fabs(p[k]) > std::fabs(largest)) largest = p[k];
      }
    stretch_count[thread] = count;
    stretch_largest[thread] = largest;
  }
  long count = 0;
  float largest = 0.f;
  for (int t = 0; t < threads; t++) {
    count += stretch_count[t];
    if (std::fabs(stretch_largest[t]) > std::fabs(largest)) largest = stretch_largest[t];
  }
  if (count > 0)
    fatal_exitf(-1, stdout,
                "Error: %ld pixels of the input image lie beyond +-%g (one is %g): for an image "
                "of %d x %d pixels the transforms' sums hold magnitudes up to the largest float "
                "divided by the pixel count; rescale the image ... (%s)\n",
                count, limit, largest, Data.nl(), Data.nc(), name.c_str());
}

void refuse_non_finite_results(const MCA& mca, const char* name) {
  long count = non_finite_pixels(mca.Resi);
  for (int b = 0; b < mca.NbrBase; b++) count += non_finite_pixels(mca.TabImaRec[b]);
  for (const auto& part : mca.DWT_TabImaRec) count += non_finite_pixels(part);
  // The sum written under the output name, added as the reconstruction adds.
  if (mca.NbrBase > 0) {
    int n = mca.TabImaRec[0].n_elem();
    std::vector<const float*> terms;
    for (int b = 0; b < mca.NbrBase; b++) {
      terms.push_back(mca.TabImaRec[b].buffer());
      n = std::min(n, mca.TabImaRec[b].n_elem());
    }
    if (mca.RemoveLastScale == 1 && mca.LastScale.n_elem() == mca.TabImaRec[0].n_elem())
      terms.push_back(mca.LastScale.buffer());
    const float* const* term = terms.data();
    const int nbr_terms = static_cast<int>(terms.size());
    long sum_count = 0;
#pragma omp parallel for reduction(+ : sum_count) schedule(static) if (n > ParallelPixels)
    for (int k = 0; k < n; k++) {
      float sum = term[0][k];
      for (int t = 1; t < nbr_terms; t++) sum += term[t][k];
      sum_count += not_finite(sum);
    }
    count += sum_count;
  }
  if (count > 0)
    fatal_exitf(-1, stdout,
                "Error: the results hold %ld pixels that are not finite numbers: nothing is "
                "written; the input's values may be too large for the arithmetic ... (%s)\n",
                count, name);
}

void abs_morpho_dilation(const to_array<float, false>& In, to_array<float, false>& Out, int Win) {
  const int nl = In.nl(), nc = In.nc();
  const int h = (Win - 1) / 2;
  if (Out.nl() != nl || Out.nc() != nc || Out.naxis() != 2) Out.alloc(nl, nc, "dilation");
  // Column read for offset l of column j, clamped: column_of[j + h + l].
  std::vector<int> column_of(static_cast<size_t>(nc) + 2 * h);
  for (int j = -h; j < nc + h; j++) column_of[j + h] = test_index_cont(j, nc);
  const float* in = In.buffer();
  float* out = Out.buffer();
  for (int i = 0; i < nl; i++) {
    const float* centre_row = in + static_cast<size_t>(i) * nc;
    for (int j = 0; j < nc; j++) {
      float v = centre_row[j];
      float magnitude = std::fabs(v);
      for (int k = i - h; k <= i + h; k++) {
        const float* row = in + static_cast<size_t>(test_index_cont(k, nl)) * nc;
        const int* cols = column_of.data() + j;
        for (int l = 0; l <= 2 * h; l++) {
          float candidate = row[cols[l]];
          if (std::fabs(candidate) > magnitude) {
            v = candidate;
            magnitude = std::fabs(candidate);
          }
        }
      }
      out[static_cast<size_t>(i) * nc + j] = v;
    }
  }
}

void first_guess_interpol(to_array<float, false>& Data, int NbrMissing) {
  to_array<float, false> dilated(Data.nl(), Data.nc(), "dilation");
  float* data = Data.buffer();
  const float* work = dilated.buffer();
  const int n = Data.n_elem();
  while (NbrMissing > 0) {
    abs_morpho_dilation(Data, dilated, 3);
    NbrMissing = 0;
    int filled = 0;
    for (int k = 0; k < n; k++) {
      if (data[k] != 0.f) continue;
      data[k] = work[k];
      if (data[k] == 0.f) NbrMissing++;
      else filled++;
    }
    // Dilation spreads every non-zero value to its neighbours, so a pass
    // that fills nothing means there is no value left to spread.
    if (NbrMissing > 0 && filled == 0)
      fatal_exit("Error: the masked image has no non-zero pixel: the missing pixels cannot be filled ...\n");
  }
}

bool eight_bit_data(const fitsstruct& header) {
  switch (which_format()) {
    case F_GIF:
    case F_PGM:
    case F_JPEG: return true;
    case F_DISP: return which_data_type() == T_BYTE;
    case F_FITS: return header.bitpix == 8 && header.bscale == 1. && header.bzero == 0.;
    default: return false;
  }
}

void zoom_input(to_array<float, false>& Data, to_array<float, false>& LowResolIma, int ZoomFactor,
                fitsstruct* header, bool masked) {
  to_array<float, false> zoomed(Data.nl() * ZoomFactor, Data.nc() * ZoomFactor, "ZZ");
  LowResolIma = Data;
  im_zoom(Data, zoomed);
  Data = zoomed;
  // The residual of the separation holds each block of ZoomFactor x
  // ZoomFactor pixels to its pixel of the input: the results are on that
  // grid. A masked residual holds the results to im_zoom's samples instead,
  // each input pixel on the first pixel of its block.
  if (header != nullptr) zoom_coordinates(header, ZoomFactor, masked ? ZoomGrid::samples : ZoomGrid::blocks);
}

float make_mask(const to_array<float, false>& Data, to_array<float, false>& Mask, bool zoom) {
  const int nl = Data.nl(), nc = Data.nc();
  Mask.alloc(nl, nc, "Mask");
  if (zoom) {
    for (int i = 0; i < nl / 2; i++)
      for (int j = 0; j < nc; j++) Mask(2 * i, j) = 1.f;
    for (int i = 0; i < nl; i++)
      for (int j = 0; j < nc / 2; j++) Mask(i, 2 * j) = 1.f;
  } else {
    for (int i = 1; i < nl - 1; i++)
      for (int j = 1; j < nc - 1; j++) {
        if (Data(i, j) == 0.f) continue;
        bool diagonal_missing = Data(i - 1, j - 1, I_MIRROR) == 0.f ||
                                Data(i - 1, j + 1, I_MIRROR) == 0.f ||
                                Data(i + 1, j - 1, I_MIRROR) == 0.f ||
                                Data(i + 1, j + 1, I_MIRROR) == 0.f;
        Mask(i, j) = diagonal_missing ? 0.5f : 1.f;
      }
  }
  double valid = 0.;
  for (int k = 0; k < Mask.n_elem(); k++) valid += Mask(k);
  return static_cast<float>(static_cast<double>(nl) * nc - valid);
}
