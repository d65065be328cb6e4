// Histograms of the ridgelet coefficients of a noise image and the tail
// thresholds read from them.
#include "radon/stat_rid_noise.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "array/fatal.h"
#include "io/fits_glue.h"
#include "radon/ridgelet.h"

void StatRidNoise::init(to_array<float, false>& RidIma, int NbrScaleIn, Ridgelet& Rid) {
  if (RidIma.n_elem() == 0)
    fatal_exit("Error in StatRidNoise::alloc: incorrect RidTrans parameter ... \n");
  const int nbr_band = NbrScaleIn - 1;
  if (NbrScaleIn != NbrScale) {
    NbrScale = NbrScaleIn;
    TabStep.alloc(nbr_band, "TabStep");
    TabMin.alloc(nbr_band, "TabMin");
    TabMax.alloc(nbr_band, "TabMax");
    TabSigma.alloc(nbr_band, "TabSigma");
    TabHisto.alloc(nbr_band, NbrBin, "TabHisto");
    TabRepart.alloc(nbr_band, NbrBin, "TabRepart");
    TabBin.alloc(nbr_band, NbrBin, "TabBin");
  }
  for (int b = 0; b < nbr_band; b++) {
    const int pos = Rid.rid_pos(b), width = Rid.rid_size(b), lines = RidIma.nl();
    to_array<float, true> values(lines * width, "band");
    int n = 0;
    for (int i = 0; i < lines; i++)
      for (int j = 0; j < width; j++) values(n++) = RidIma(i, pos + j);
    float min = values.min(), max = values.max();
    TabMin(b) = min;
    TabMax(b) = max;
    TabSigma(b) = static_cast<float>(values.sigma());
    if (Verbose) std::printf("band %d:  Histogram [min,max] = [%g,%g]\n", b, min, max);
    const float step = (max - min) / (NbrBin - 1);
    TabStep(b) = step;
    for (int k = 0; k < NbrBin; k++) {
      TabBin(b, k) = min + k * step;
      TabHisto(b, k) = 0.f;
      TabRepart(b, k) = 0.f;
    }
    for (int m = 0; m < n; m++) {
      // A band of equal values has no width to bin.
      const int k = step > 0.f ? static_cast<int>((values(m) - min) / step)
                               : std::numeric_limits<int>::min();
      if (k < 0 || k >= NbrBin)
        fatal_exitf(-1, stdout, "Error: k = %d in band %d\nmin = %g\nmax = %g\nstep = %g\n", k, b,
                    min, max, step);
      TabHisto(b, k) += 1.f;
    }
    for (int k = 0; k < NbrBin; k++) {
      TabHisto(b, k) /= n;
      TabRepart(b, k) = k == 0 ? TabHisto(b, 0) : TabRepart(b, k - 1) + TabHisto(b, k);
    }
  }
}

int StatRidNoise::bin_of(int b, float Val) {
  const float width = TabBin(b, 1) - TabBin(b, 0);
  const float k = (Val - TabBin(b, 0)) / width;
  // Far outside values would not fit an int; they are outside every bin.
  if (!(k > -2.f)) return -1;
  if (!(k < NbrBin + 1.f)) return NbrBin;
  return static_cast<int>(k);
}

float StatRidNoise::prob(int b, float Val) {
  const int k = bin_of(b, Val);
  return k >= 0 && k < NbrBin ? TabHisto(b, k) : 0.f;
}

float StatRidNoise::repartition(int b, float Val) {
  const int k = bin_of(b, Val);
  if (k >= NbrBin) return 1.f;
  if (k < 0) return 0.f;
  return TabRepart(b, k);
}

void StatRidNoise::find_threshold(int NbrScaleIn, to_array<float, true>& TabEps,
                                  to_array<float, true>& TabMinT, to_array<float, true>& TabMaxT) {
  for (int b = 0; b < NbrScaleIn - 1; b++) {
    int k = 0;
    while (k < NbrBin - 1 && TabRepart(b, k) < TabEps(b)) k++;
    TabMinT(b) = TabBin(b, k);
    while (k < NbrBin - 1 && TabRepart(b, k) < 1.f - TabEps(b)) k++;
    TabMaxT(b) = TabBin(b, k);
  }
}

void StatRidNoise::find_nsigma_threshold(int NbrScaleIn, to_array<float, true>& TabNSigma,
                                         to_array<float, true>& TabMinT,
                                         to_array<float, true>& TabMaxT) {
  to_array<float, true> eps(std::max(NbrScaleIn - 1, 1), "eps");
  for (int b = 0; b < NbrScaleIn - 1; b++)
    eps(b) = 1.f - std::erf(TabNSigma(b) / std::sqrt(2.f));
  find_threshold(NbrScaleIn, eps, TabMinT, TabMaxT);
}

void StatRidNoise::write(const char* Name) {
  const std::string name = Name != nullptr ? Name : "";
  fits_write_fltarr((name + "_histo").c_str(), TabHisto);
  fits_write_fltarr((name + "_repart").c_str(), TabRepart);
  fits_write_fltarr((name + "_bin").c_str(), TabBin);
}
