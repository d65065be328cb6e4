// Half-decimated 2D transform: scale by scale, an undecimated step with the
// hole distance of its scale or a decimated step. The decimated scales that
// follow u undecimated ones run with the banks' sample distance at 2^u, so
// that their interleaved sub-signals are the ones the holes left apart.
#include "multires/half_decimated_2d_wt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "array/scalar_helpers.h"
#include "filters/sub_band_filter.h"
#include "multires/sub_band_2d.h"

namespace {

std::unique_ptr<Bool[]> make_tabdec(int NbrUndec, int NbrScale) {
  std::unique_ptr<Bool[]> tab(new Bool[NbrScale > 0 ? NbrScale : 1]);
  for (int s = 0; s < NbrScale; s++)
    tab[s] = (NbrUndec < 0 || s < NbrUndec) ? False : True;
  return tab;
}

// Stabilised value of coefficient c over the smooth value v: the root in
// single precision, the quotient or product in double.
float fisz_value(float c, float v, bool divide) {
  if (!(v > 0.f)) return 0.f;
  const float root = std::sqrt(v);
  return static_cast<float>(divide ? static_cast<double>(c) / root
                                   : static_cast<double>(c) * root);
}

void fisz_band(to_array<float, false>& band, to_array<float, false>& smooth, Bool decimated,
               bool divide) {
  const int nl = band.nl(), nc = band.nc();
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      const float v = decimated ? smooth(i / 2, j / 2) : smooth(i, j);
      band(i, j) = fisz_value(band(i, j), v, divide);
    }
}

}  // namespace

HALF_DECIMATED_2D_WT::HALF_DECIMATED_2D_WT(SubBand1D& filter)
    : LineFilter(&filter), ColFilter(&filter), FiszAnalysis(False), FiszSynthesis(False) {}

HALF_DECIMATED_2D_WT::~HALF_DECIMATED_2D_WT() {
  LineFilter = nullptr;
  ColFilter = nullptr;
}

void HALF_DECIMATED_2D_WT::set_tabdec(int NbrUndec, Bool*& TabDec, int NbrScale) {
  TabDec = make_tabdec(NbrUndec, NbrScale).release();
}

int HALF_DECIMATED_2D_WT::alloc(to_array<float, false>*& TabBand, int Nl, int Nc, int NbrScale,
                                Bool* TabDec) {
  const int nbr_band = 3 * (NbrScale - 1) + 1;
  TabBand = new to_array<float, false>[nbr_band];
  int nl = Nl, nc = Nc;
  for (int s = 0; s < NbrScale - 1; s++) {
    const std::string n0 = "band_" + std::to_string(3 * s + 1);
    const std::string n1 = "band_" + std::to_string(3 * s + 2);
    const std::string n2 = "band_" + std::to_string(3 * s + 3);
    if (TabDec[s]) {
      TabBand[3 * s].alloc((nl + 1) / 2, nc / 2, n0.c_str());
      TabBand[3 * s + 1].alloc(nl / 2, (nc + 1) / 2, n1.c_str());
      TabBand[3 * s + 2].alloc(nl / 2, nc / 2, n2.c_str());
      nl = (nl + 1) / 2;
      nc = (nc + 1) / 2;
    } else {
      TabBand[3 * s].alloc(nl, nc, n0.c_str());
      TabBand[3 * s + 1].alloc(nl, nc, n1.c_str());
      TabBand[3 * s + 2].alloc(nl, nc, n2.c_str());
    }
  }
  const std::string last = "band_" + std::to_string(nbr_band);
  TabBand[nbr_band - 1].alloc(nl, nc, last.c_str());
  return nbr_band;
}

int HALF_DECIMATED_2D_WT::alloc(to_array<float, false>*& TabBand, int Nl, int Nc, int NbrScale,
                                int NbrUndec) {
  auto tab = make_tabdec(NbrUndec, NbrScale);
  return alloc(TabBand, Nl, Nc, NbrScale, tab.get());
}

void HALF_DECIMATED_2D_WT::free(to_array<float, false>*& TabBand, int NbrScale) {
  if (NbrScale != 0 && TabBand != nullptr) {
    delete[] TabBand;
    TabBand = nullptr;
  }
}

void HALF_DECIMATED_2D_WT::transform(to_array<float, false>& Ima,
                                     to_array<float, false>* TabBand, int NbrScale,
                                     Bool* TabDec) {
  SubBand2D decimated(*LineFilter, *ColFilter);
  PAVE_2D_WT undecimated(*LineFilter, *ColFilter);
  int step = 1;
  to_array<float, false> aux(Ima.nl(), Ima.nc(), "aux");
  for (int s = 0; s < NbrScale - 1; s++) {
    if (s > 0) LineFilter->SampleDist = ColFilter->SampleDist = step;
    to_array<float, false>& input = s == 0 ? Ima : aux;
    if (TabDec[s]) {
      decimated.transform2d(input, False, &TabBand[3 * s], &TabBand[3 * s + 1],
                            &TabBand[3 * s + 2], &aux);
    } else {
      if (s == 0) aux.resize(Ima.nl(), Ima.nc());
      undecimated.transform2d(input, TabBand[3 * s], TabBand[3 * s + 1], TabBand[3 * s + 2],
                              aux, step);
    }
    if (FiszAnalysis == True)
      for (int k = 0; k < 3; k++) fisz_trans(TabBand[3 * s + k], aux, TabDec[s]);
    if (!TabDec[s]) step *= 2;
  }
  if (NbrScale < 2) aux = Ima;
  TabBand[3 * (NbrScale - 1)] = aux;
}

void HALF_DECIMATED_2D_WT::transform(to_array<float, false>& Ima,
                                     to_array<float, false>* TabBand, int NbrScale,
                                     int NbrUndec) {
  auto tab = make_tabdec(NbrUndec, NbrScale);
  transform(Ima, TabBand, NbrScale, tab.get());
}

void HALF_DECIMATED_2D_WT::recons(to_array<float, false>* TabBand, to_array<float, false>& Ima,
                                  int NbrScale, Bool* TabDec) {
  SubBand2D decimated(*LineFilter, *ColFilter);
  PAVE_2D_WT undecimated(*LineFilter, *ColFilter);
  const int last = 3 * (NbrScale - 1);
  if (NbrScale < 2) {
    Ima = TabBand[last];
    return;
  }
  std::vector<int> size_nl(NbrScale), size_nc(NbrScale);
  size_nl[0] = Ima.nl();
  size_nc[0] = Ima.nc();
  int step = 1;
  for (int s = 0; s < NbrScale - 1; s++) {
    const bool dec = TabDec[s] != False;
    size_nl[s + 1] = dec ? (size_nl[s] + 1) / 2 : size_nl[s];
    size_nc[s + 1] = dec ? (size_nc[s] + 1) / 2 : size_nc[s];
    if (!dec) step *= 2;
  }
  to_array<float, false> aux(Ima.nl(), Ima.nc(), "aux");
  to_array<float, false> result;
  for (int s = NbrScale - 2; s >= 0; s--) {
    result.alloc(size_nl[s], size_nc[s], "Buff");
    if (!TabDec[s]) step /= 2;
    to_array<float, false>& smooth = s == NbrScale - 2 ? TabBand[last] : aux;
    if (FiszSynthesis == True)
      for (int k = 0; k < 3; k++) fisz_rec(TabBand[3 * s + k], smooth, TabDec[s]);
    LineFilter->SampleDist = ColFilter->SampleDist = step;
    if (TabDec[s])
      decimated.recons2d(result, False, &TabBand[3 * s], &TabBand[3 * s + 1],
                         &TabBand[3 * s + 2], &smooth);
    else
      undecimated.recons2d(TabBand[3 * s], TabBand[3 * s + 1], TabBand[3 * s + 2], smooth,
                           result, step);
    if (s > 0) aux = result;
    else Ima = result;
  }
}

void HALF_DECIMATED_2D_WT::recons(to_array<float, false>* TabBand, to_array<float, false>& Ima,
                                  int NbrScale, int NbrUndec) {
  auto tab = make_tabdec(NbrUndec, NbrScale);
  recons(TabBand, Ima, NbrScale, tab.get());
}

void HALF_DECIMATED_2D_WT::fisz_trans(to_array<float, false>& Band,
                                      to_array<float, false>& Smooth, Bool Decimated) {
  fisz_band(Band, Smooth, Decimated, true);
}

void HALF_DECIMATED_2D_WT::fisz_rec(to_array<float, false>& Band, to_array<float, false>& Smooth,
                                    Bool Decimated) {
  fisz_band(Band, Smooth, Decimated, false);
}

int half_decimated_nbr_scale(int N) {
  const float log_quarter = std::log(static_cast<float>(N) / 4.f);
  return iround(log_quarter / std::log(2.) + 1.);
}

void fisz2d(to_array<float, false>& Ima, to_array<float, false>& Out, Bool Reverse,
            int NbrScale, type_sb_filter SBF, int NbrUndec) {
  SubBandFilter filter(SBF, NORM_L1);
  HALF_DECIMATED_2D_WT wt(filter);
  if (NbrScale < 2) NbrScale = half_decimated_nbr_scale(std::min(Ima.nl(), Ima.nc()));
  to_array<float, false>* bands = nullptr;
  wt.alloc(bands, Ima.nl(), Ima.nc(), NbrScale, NbrUndec);
  if (Reverse) wt.FiszSynthesis = True;
  else wt.FiszAnalysis = True;
  wt.transform(Ima, bands, NbrScale, NbrUndec);
  if (Out.nl() == Ima.nl() && Out.nc() == Ima.nc()) Out.init();
  else Out.alloc(Ima.nl(), Ima.nc());
  wt.recons(bands, Out, NbrScale, NbrUndec);
  wt.free(bands, NbrScale);
}
