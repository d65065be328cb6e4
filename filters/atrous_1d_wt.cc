// The 1D a trous transform: each band the difference of two successive
// smoothings, so the plain inverse is the sum of the bands.
#include "filters/atrous_1d_wt.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "filters/band_threshold.h"
#include "filters/line_smoothing.h"

namespace {

// Noise level of band s for unit noise, plain and modified transforms; the
// last entry is 0, so no transform may reach it with a detail band.
constexpr double TN[10] = {0.721618,  0.286209,  0.178281,  0.12101,   0.083104,
                           0.0588543, 0.0446171, 0.0289142, 0.0177307, 0.0};
constexpr double TN_Modified[10] = {0.721618,  0.286209,  0.178281,  0.12101,   0.083104,
                                    0.0588543, 0.0446171, 0.0289142, 0.0177307, 0.0};

// The detail bands 0 .. NbrScale-2 must all have a non-zero norm.
constexpr int kMaxNbrScale = 10;

}  // namespace

to_array<float, true>* alloc_band_set(const int* lengths, int NbrScale) {
  auto* bands = new to_array<float, true>[NbrScale];
  for (int b = 0; b < NbrScale; b++)
    bands[b].alloc(lengths[b], ("band_" + std::to_string(b + 1)).c_str());
  return bands;
}

void ATROUS_1D_WT::alloc(to_array<float, true>*& Bands, int N, int nbr_scale) {
  if (nbr_scale < 1 || nbr_scale > kMaxNbrScale)
    fatal_exitf(-1, stdout, "Error: bad number of scales: %d (1 to %d) ... \n", nbr_scale,
                kMaxNbrScale);
  NbrScale = nbr_scale;
  Np = N;
  FirstScale = 0;
  std::vector<int> lengths(NbrScale, N);
  Bands = alloc_band_set(lengths.data(), NbrScale);
}

void ATROUS_1D_WT::free(to_array<float, true>* Bands, int nbr_scale) {
  if (nbr_scale != 0 && Bands != nullptr) delete[] Bands;
}

float ATROUS_1D_WT::norm_band(int s) const {
  if (s < 0 || s > 9) return 0.f;
  return float(Modified ? TN_Modified[s] : TN[s]);
}

void ATROUS_1D_WT::b3spline_filtering(to_array<float, true>& In, to_array<float, true>& Out,
                                      int s) {
  if (s < 0 || s > 29)
    fatal_exitf(-1, stdout, "Error: bad scale %d in the a trous smoothing ... \n", s);
  if (&In == &Out) {
    work_ = In;
    b3spline_filtering(work_, Out, s);
    return;
  }
  int n = In.nx();
  if (Out.nx() != n || Out.naxis() != 1) Out.reform(n);
  b3_smooth_1d(In.buffer(), Out.buffer(), n, POW2(s), Border, B3Order::CentreFirst);
}

// Bands of another length than the transform's, or a scale count it was not
// made for, would be read or written past their ends.
void ATROUS_1D_WT::check_bands(to_array<float, true>* Bands) const {
  if (NbrScale < 1 || NbrScale > kMaxNbrScale || Bands == nullptr)
    fatal_exitf(-1, stdout, "Error: bad number of scales: %d (1 to %d) ... \n", NbrScale,
                kMaxNbrScale);
  for (int b = 0; b < NbrScale; b++)
    if (Bands[b].nx() != Np)
      fatal_exitf(-1, stdout, "Error: band %d holds %d samples, %d are expected ... \n", b + 1,
                  Bands[b].nx(), Np);
}

void ATROUS_1D_WT::transform(to_array<float, true>& Signal, to_array<float, true>* Bands) {
  check_bands(Bands);
  if (Signal.nx() != Np)
    fatal_exitf(-1, stdout, "Error: signal of %d samples for bands of %d ... \n", Signal.nx(), Np);
  std::copy(Signal.buffer(), Signal.buffer() + Np, Bands[0].buffer());
  for (int b = 0; b < NbrScale - 1; b++) {
    b3spline_filtering(Bands[b], Bands[b + 1], b);
    float* detail = Bands[b].buffer();
    const float* subtracted = Bands[b + 1].buffer();
    if (Modified) {
      b3spline_filtering(Bands[b + 1], work_, b);
      subtracted = work_.buffer();
    }
    for (int i = 0; i < Np; i++) detail[i] -= subtracted[i];
  }
}

void ATROUS_1D_WT::recons(to_array<float, true>* Bands, to_array<float, true>& Signal) {
  check_bands(Bands);
  if (Signal.nx() != Np || Signal.naxis() != 1) Signal.alloc(Np);
  float* x = Signal.buffer();
  if (!Modified && !Adjoint) {
    std::fill(x, x + Np, 0.f);
    for (int b = 0; b < NbrScale; b++) {
      const float* band = Bands[b].buffer();
      for (int i = 0; i < Np; i++) x[i] += band[i];
    }
    return;
  }
  std::copy(Bands[NbrScale - 1].buffer(), Bands[NbrScale - 1].buffer() + Np, x);
  for (int b = NbrScale - 2; b >= 0; b--) {
    b3spline_filtering(Signal, work_, b);
    const float* smooth = work_.buffer();
    const float* band = Bands[b].buffer();
    for (int i = 0; i < Np; i++) x[i] = smooth[i] + band[i];
  }
}

void ATROUS_1D_WT::Threshold(to_array<float, true>* Bands, float NSigma, int Iter) {
  check_bands(Bands);
  int detected = 0;
  for (int b = std::max(FirstScale, 0); b < NbrScale - 1; b++) {
    float k = NSigma == 0.f ? 0.f : (b == 0 ? NSigma + 1 : NSigma);
    float sigma = Noise * norm_band(b);
    BandThreshold t = threshold_at(k * sigma, sigma);
    detected += t.apply(Bands[b].buffer(), Np);
  }
  if (Verbose) std::printf("Number detected coef : %d\n", detected);
}

float ATROUS_1D_WT::getAbsMaxTransf(to_array<float, true>* Bands) {
  check_bands(Bands);
  return abs_max_level(
      Bands, [this](int b) { return norm_band(b); }, "Lambda atrou",
      "Atrou proj - Max abs level : ");
}
