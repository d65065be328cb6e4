// The half-decimated 1D transform. The decimated scales analyse and
// synthesise with one copy of the given bank, so that forward and inverse
// use the same filters whatever the bank; the undecimated scales run the
// bank's undecimated steps, whose tap distance is an argument, so the
// caller's bank is never modified.
#include "filters/half_decimated_1d_wt.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "array/fatal.h"
#include "filters/atrous_1d_wt.h"
#include "filters/band_threshold.h"
#include "filters/pave_1d_wt.h"

namespace {

// A tap distance of 2^30 already lies beyond any signal; more would overflow.
constexpr int kMaxNbrScale = 31;

void check_nbr_scale(int NbrScale) {
  if (NbrScale < 1 || NbrScale > kMaxNbrScale)
    fatal_exitf(-1, stdout, "Error: bad number of scales: %d ... \n", NbrScale);
}

// Band lengths for signals of N samples: a decimated scale keeps (n+1)/2
// samples for its detail band and halves the running length.
std::vector<int> band_lengths(int N, int NbrScale, const Bool* TabDec) {
  std::vector<int> lengths(NbrScale);
  int n = N;
  for (int b = 0; b < NbrScale - 1; b++) {
    if (TabDec[b]) {
      n = (n + 1) / 2;
      lengths[b] = n;
    } else {
      lengths[b] = n;
    }
  }
  lengths[NbrScale - 1] = n;
  return lengths;
}

// Bands made for other lengths would be read or written past their ends.
void check_bands(to_array<float, true>* Bands, const std::vector<int>& lengths) {
  if (Bands == nullptr) fatal_exit("Error: the bands are not allocated ... \n", -1);
  for (size_t b = 0; b < lengths.size(); b++)
    if (Bands[b].nx() != lengths[b])
      fatal_exitf(-1, stdout, "Error: band %d holds %d samples, %d are expected ... \n", int(b) + 1,
                  Bands[b].nx(), lengths[b]);
}

void set_length(to_array<float, true>& a, int n) {
  if (a.nx() != n || a.naxis() != 1) a.reform(n);
}

}  // namespace

void HALF_DECIMATED_1D_WT::set_tabdec(int nbr_undec, Bool*& TabDec, int nbr_scale) {
  TabDec = new Bool[std::max(nbr_scale, 1)];
  int undec = nbr_undec < 0 ? nbr_scale : std::min(nbr_undec, nbr_scale);
  for (int b = 0; b < nbr_scale; b++) TabDec[b] = b < undec ? False : True;
}

int HALF_DECIMATED_1D_WT::alloc(to_array<float, true>*& Bands, int N, int nbr_scale,
                                int nbr_undec) {
  check_nbr_scale(nbr_scale);
  Bool* tab_dec = nullptr;
  set_tabdec(nbr_undec, tab_dec, nbr_scale);
  std::unique_ptr<Bool[]> owner(tab_dec);
  return alloc(Bands, N, nbr_scale, tab_dec);
}

int HALF_DECIMATED_1D_WT::alloc(to_array<float, true>*& Bands, int N, int nbr_scale, Bool* TabDec) {
  check_nbr_scale(nbr_scale);
  FirstScale = 0;
  std::vector<int> lengths = band_lengths(N, nbr_scale, TabDec);
  Bands = alloc_band_set(lengths.data(), nbr_scale);
  return nbr_scale;
}

void HALF_DECIMATED_1D_WT::free(to_array<float, true>* Bands, int nbr_scale) {
  if (nbr_scale != 0 && Bands != nullptr) delete[] Bands;
}

void HALF_DECIMATED_1D_WT::transform(to_array<float, true>& Signal, to_array<float, true>* Bands) {
  check_nbr_scale(NbrScale);
  Bool* tab_dec = nullptr;
  set_tabdec(NbrUndec, tab_dec, NbrScale);
  std::unique_ptr<Bool[]> owner(tab_dec);
  transform(Signal, Bands, tab_dec);
}

void HALF_DECIMATED_1D_WT::recons(to_array<float, true>* Bands, to_array<float, true>& Signal) {
  check_nbr_scale(NbrScale);
  Bool* tab_dec = nullptr;
  set_tabdec(NbrUndec, tab_dec, NbrScale);
  std::unique_ptr<Bool[]> owner(tab_dec);
  recons(Bands, Signal, tab_dec);
}

void HALF_DECIMATED_1D_WT::transform(to_array<float, true>& Signal, to_array<float, true>* Bands,
                                     Bool* TabDec) {
  check_nbr_scale(NbrScale);
  int N = Signal.nx();
  check_bands(Bands, band_lengths(N, NbrScale, TabDec));
  SubBandFilter decimated(SB_Filter);
  PAVE_1D_WT undecimated(SB_Filter);
  to_array<float, true> input(Signal), aux;
  std::vector<float> low(N / 2 + 1), high(N / 2 + 1);
  int step = 1;
  for (int b = 0; b < NbrScale - 1; b++) {
    int n = input.nx();
    if (TabDec[b]) {
      // The detail band has room for (n+1)/2 values, as an odd high phase gives.
      std::fill(high.begin(), high.end(), 0.f);
      decimated.transform(n, input.buffer(), low.data(), high.data());
      std::copy(high.begin(), high.begin() + (n + 1) / 2, Bands[b].buffer());
      set_length(aux, (n + 1) / 2);
      std::copy(low.begin(), low.begin() + (n + 1) / 2, aux.buffer());
    } else {
      set_length(aux, n);
      undecimated.transform(input, Bands[b], aux, step);
      step *= 2;
    }
    set_length(input, aux.nx());
    std::copy(aux.buffer(), aux.buffer() + aux.nx(), input.buffer());
  }
  std::copy(input.buffer(), input.buffer() + input.nx(), Bands[NbrScale - 1].buffer());
}

void HALF_DECIMATED_1D_WT::recons(to_array<float, true>* Bands, to_array<float, true>& Signal,
                                  Bool* TabDec) {
  check_nbr_scale(NbrScale);
  int N = Signal.nx();
  std::vector<int> lengths = band_lengths(N, NbrScale, TabDec);
  check_bands(Bands, lengths);
  SubBandFilter decimated(SB_Filter);
  PAVE_1D_WT undecimated(SB_Filter);
  // Length of the signal entering scale b.
  std::vector<int> scale_length(NbrScale);
  int step = 1;
  scale_length[0] = N;
  for (int b = 0; b < NbrScale - 1; b++) {
    if (b > 0)
      scale_length[b] = TabDec[b - 1] ? (scale_length[b - 1] + 1) / 2 : scale_length[b - 1];
    if (!TabDec[b]) step *= 2;
  }
  to_array<float, true> aux(Bands[NbrScale - 1]), buff;
  std::vector<float> low(N / 2 + 2), high(N / 2 + 2);
  for (int b = NbrScale - 2; b >= 0; b--) {
    int n = scale_length[b];
    set_length(buff, n);
    if (TabDec[b]) {
      std::fill(low.begin(), low.end(), 0.f);
      std::fill(high.begin(), high.end(), 0.f);
      std::copy(aux.buffer(), aux.buffer() + (n + 1) / 2, low.begin());
      std::copy(Bands[b].buffer(), Bands[b].buffer() + (n + 1) / 2, high.begin());
      decimated.recons(n, low.data(), high.data(), buff.buffer());
    } else {
      step /= 2;
      undecimated.recons(Bands[b], aux, buff, step);
    }
    set_length(aux, n);
    std::copy(buff.buffer(), buff.buffer() + n, aux.buffer());
  }
  std::copy(aux.buffer(), aux.buffer() + N, Signal.buffer());
}

void HALF_DECIMATED_1D_WT::threshold(to_array<float, true>* Bands, float NSigma, int Iter) {
  for (int b = 0; b < NbrScale - 1; b++) {
    float k = b <= 2 ? NSigma + 1 : NSigma;
    BandThreshold t = threshold_at(k * Noise, Noise);
    t.apply(Bands[b].buffer(), Bands[b].nx());
  }
}

float HALF_DECIMATED_1D_WT::getAbsMaxTransf(to_array<float, true>* Bands) {
  return abs_max_level(
      Bands, [](int) { return 1.f; }, "Lambda HDWT", "Lambda  Half Decimated: ");
}
