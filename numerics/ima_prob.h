// CImaProb: the empirical distribution of a sample (typically a transform
// band of pure simulated noise) as a 1024-bin histogram with its cumulative
// repartition, giving bin probabilities, cumulative probabilities and the
// thresholds that cut a given probability from each tail.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"

class CImaProb {
 public:
  static constexpr int NbrBin = 1024;

  double Step;                   // bin width, (Max - Min)/1023
  double Min;                    // smallest sample value
  double Max;                    // largest sample value
  to_array<double, true> Histo;  // fraction of the samples in each bin
  to_array<double, true> Repart; // cumulative Histo, bin included
  to_array<double, true> Bin;    // left edge of each bin, Min + k·Step
  Bool Verbose;                  // prints the range when set runs

  CImaProb();
  ~CImaProb() = default;  // the tables release themselves

  // Builds the tables from data[0 .. N-1]; the maximum falls in bin 1023. A
  // constant sample puts everything into bin 0. N < 1 stops the process.
  void set(const float* data, int N);
  void set(const to_array<float, false>& ima);

  // Histo at the bin of x; 0 outside the table.
  double prob(double x) const;
  // 0 below the table, 1 beyond it, else Repart at the bin of x.
  double repartition(double x) const;
  // Left edges of the bins where Repart first reaches eps and, from there on,
  // 1 - eps.
  void find_threshold(double eps, double& low, double& high) const;
  // find_threshold at the two-sided Gaussian tail of nsigma standard deviations.
  void find_gthreshold(float nsigma, double& low, double& high) const;
  // Kept for callers of the histogram files "<name>_histo", "<name>_repart"
  // and "<name>_bin"; those tables have no stored form and nothing is written.
  void write(const char* name) const;

 private:
  // Bin of x (truncated toward zero), or -1 below / NbrBin above the table.
  int bin_of(double x) const;
};
