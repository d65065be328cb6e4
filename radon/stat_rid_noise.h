// Empirical distribution of the ridgelet coefficients of a noise image, one
// histogram per 1D scale: the per-scale thresholds that leave a given tail
// mass, from which the ridgelet's noise norms can be measured instead of
// taken from the built-in table.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

class Ridgelet;

class StatRidNoise {
 public:
  static constexpr int NbrBin = 1024;

  to_array<float, true> TabStep;   // bin width per band
  to_array<float, true> TabMin;    // smallest coefficient per band
  to_array<float, true> TabMax;    // largest coefficient per band
  to_array<float, true> TabSigma;  // standard deviation per band
  int NbrScale = 0;                // the coarse scale has no band
  to_array<float, true> TabHisto;   // band x bin, normalised to a sum of 1
  to_array<float, true> TabRepart;  // band x bin, cumulative
  to_array<float, true> TabBin;     // band x bin, lower edge of each bin
  Bool Verbose = False;

  StatRidNoise() = default;
  ~StatRidNoise() = default;

  void init(to_array<float, false>& RidIma, int NbrScale, Ridgelet& Rid);
  float prob(int b, float Val);
  float repartition(int b, float Val);
  // Per band b < NbrScale - 1: the values below and above which the
  // cumulative histogram leaves the tail mass TabEps(b).
  void find_threshold(int NbrScale, to_array<float, true>& TabEps, to_array<float, true>& TabMinT,
                      to_array<float, true>& TabMaxT);
  // The same with the two-sided Gaussian tail mass at TabNSigma(b) sigma.
  void find_nsigma_threshold(int NbrScale, to_array<float, true>& TabNSigma,
                             to_array<float, true>& TabMinT, to_array<float, true>& TabMaxT);
  // Name_histo, Name_repart and Name_bin (".fits" appended by the writer).
  void write(const char* Name);

 private:
  int bin_of(int b, float Val);
};
