// Histogram probabilities of a sample.
#include "numerics/ima_prob.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "array/special_functions.h"

CImaProb::CImaProb() : Step(0.0), Min(0.0), Max(0.0), Verbose(False) {
  Histo.alloc(NbrBin);
  Repart.alloc(NbrBin);
  Bin.alloc(NbrBin);
}

void CImaProb::set(const float* data, int N) {
  if (N < 1) fatal_exit("Error in CImaProb::alloc: incorrect NoiseIma parameter ... \n");
  Min = Max = data[0];
  for (int k = 1; k < N; ++k) {
    Min = std::min(Min, double(data[k]));
    Max = std::max(Max, double(data[k]));
  }
  if (Verbose) std::printf("Ima :  Histogram [min,max] = [%g,%g]\n", Min, Max);
  // Width over 1023 bins, not 1024, so that the maximum has a bin of its own.
  Step = (Max - Min) / (NbrBin - 1);
  for (int k = 0; k < NbrBin; ++k) {
    Bin(k) = Min + k * Step;
    Histo(k) = Repart(k) = 0.0;
  }
  double* histo = Histo.buffer();
  for (int i = 0; i < N; ++i) {
    // A constant sample has no width: every value is the minimum, bin 0,
    // instead of a division by a zero step that would stop the process.
    double position = Step > 0.0 ? (data[i] - Min) / Step : 0.0;
    if (!(position >= 0.0 && position < NbrBin))
      fatal_exitf(-1, stdout, "Error: k = %.0f in band \nmin = %g\nmax = %g\nstep = %g\nval = %g\n",
                  std::trunc(position), Min, Max, Step, double(data[i]));
    histo[static_cast<int>(position)] += 1.0;
  }
  for (int k = 0; k < NbrBin; ++k) Histo(k) /= N;
  Repart(0) = Histo(0);
  for (int k = 1; k < NbrBin; ++k) Repart(k) = Repart(k - 1) + Histo(k);
}

void CImaProb::set(const to_array<float, false>& ima) { set(ima.buffer(), ima.n_elem()); }

int CImaProb::bin_of(double x) const {
  double width = Bin(1) - Bin(0);
  double offset = x - Bin(0);
  if (!(width > 0.0)) {
    // Constant sample: only the minimum itself is inside the table.
    if (offset == 0.0) return 0;
    return offset > 0.0 ? NbrBin : -1;
  }
  double position = std::trunc(offset / width);
  if (!(position > -1.0)) return -1;  // below, or not a number
  if (position >= NbrBin) return NbrBin;
  return static_cast<int>(position);
}

double CImaProb::prob(double x) const {
  int k = bin_of(x);
  return (k < 0 || k >= NbrBin) ? 0.0 : Histo(k);
}

double CImaProb::repartition(double x) const {
  int k = bin_of(x);
  if (k < 0) return 0.0;
  if (k >= NbrBin) return 1.0;
  return Repart(k);
}

void CImaProb::find_threshold(double eps, double& low, double& high) const {
  int k = 0;
  while (k < NbrBin && Repart(k) < eps) ++k;
  k = std::min(k, NbrBin - 1);
  low = Bin(k);
  // The upper search starts where the lower one stopped.
  while (k < NbrBin && Repart(k) < 1.0 - eps) ++k;
  k = std::min(k, NbrBin - 1);
  high = Bin(k);
}

void CImaProb::find_gthreshold(float nsigma, double& low, double& high) const {
  float argument = static_cast<float>(nsigma / std::sqrt(2.0));
  double eps = 1.0 - double(qz::erff(argument));
  find_threshold(eps, low, high);
}

void CImaProb::write(const char*) const {
  // The tables of "<name>_histo", "<name>_repart" and "<name>_bin" have no
  // stored form; nothing is written.
}
