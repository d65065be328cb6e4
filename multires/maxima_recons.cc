// Maxima of a diadic transform: counting, positions, reset and projection.
// Each operation is written once over a target accessor; the two public
// forms differ only in where the target values are read.
#include "multires/maxima_recons.h"

#include <cmath>
#include <iostream>

#include "multires/multiresol.h"

using Image = to_array<float, false>;

namespace {

bool is_maximum(float value) { return value < -1e-07f || value > 1e-07f; }
bool is_marked(float value) { return value > kNoMaxValue; }

struct TargetMR {
  MultiResol& mr;
  float operator()(int b, int i, int j) const { return mr(b, i, j); }
};
struct TargetBands {
  Image* bands;
  float operator()(int b, int i, int j) const { return bands[b](i, j); }
};

template <class IsMax>
void count_maxima(Image* TabMax, MaxCount& NbrMaxLine, MaxCount& NbrMaxCol, int NbrScale,
                  bool verbose, IsMax is_max) {
  for (int s = 0; s < NbrScale - 1; s++) {
    const Image& maxima = TabMax[s];
    for (int i = 0; i < maxima.nl(); i++)
      for (int j = 0; j < maxima.nc(); j++)
        if (is_max(maxima(i, j))) {
          NbrMaxLine(s, i)++;
          NbrMaxCol(s, j)++;
        }
  }
  if (!verbose) return;
  // The totals run on across scales.
  long line_total = 0, col_total = 0;
  for (int s = 0; s < NbrScale - 1; s++) {
    for (int i = 0; i < NbrMaxLine.ny(); i++) line_total += NbrMaxLine(s, i);
    for (int j = 0; j < NbrMaxCol.ny(); j++) col_total += NbrMaxCol(s, j);
    std::cout << "Number max at scale " << s << " on line : " << line_total << std::endl;
    std::cout << "Number max at scale " << s << " on row  : " << col_total << std::endl;
  }
}

// Visits every recorded maximum of scale s: line maxima as (i, p), column
// maxima as (p, j).
template <class OnLine, class OnCol>
void for_each_maximum(int s, int Nl, int Nc, MaxCount& NbrMaxLine, MaxPositions* TabPosLine,
                      MaxCount& NbrMaxCol, MaxPositions* TabPosCol, OnLine on_line,
                      OnCol on_col) {
  for (int i = 0; i < Nl; i++) {
    const MaxPositions pos = TabPosLine[s * Nl + i];
    for (int k = 0; k < NbrMaxLine(s, i); k++) on_line(i, (*pos)(k));
  }
  for (int j = 0; j < Nc; j++) {
    const MaxPositions pos = TabPosCol[s * Nc + j];
    for (int k = 0; k < NbrMaxCol(s, j); k++) on_col((*pos)(k), j);
  }
}

template <class Target>
void reset_at_maxima(int NbrScale, int Nl, int Nc, MaxCount& NbrMaxLine,
                     MaxPositions* TabPosLine, MaxCount& NbrMaxCol, MaxPositions* TabPosCol,
                     Target target, MultiResol& Estimate) {
  for (int s = 0; s < NbrScale - 1; s++) {
    const int line_band = 2 * s, col_band = 2 * s + 1;
    for_each_maximum(
        s, Nl, Nc, NbrMaxLine, TabPosLine, NbrMaxCol, TabPosCol,
        [&](int i, int p) { Estimate(line_band, i, p) = target(line_band, i, p); },
        [&](int p, int j) { Estimate(col_band, p, j) = target(col_band, p, j); });
  }
}

template <class Target>
void project_segment(int b, int i, int j, int x0, int x1, Target target, MultiResol& Estimate) {
  const bool along_line = j == -1;
  auto at = [&](int t) -> float& {
    return along_line ? Estimate(b, i, x0 + t) : Estimate(b, x0 + t, j);
  };
  auto target_at = [&](int t) {
    return along_line ? target(b, i, x0 + t) : target(b, x0 + t, j);
  };
  const double f = std::ldexp(1.0, -(b / 2 + 1));
  const int n = x1 - x0;
  const double xn = f * n;
  const double d0 = static_cast<double>(target_at(0)) - at(0);
  const double dn = static_cast<double>(target_at(n)) - at(n);
  const double den = std::exp(-xn) - std::exp(xn);
  const double a = (d0 * std::exp(-xn) - dn) / den;
  const double c = (dn - std::exp(xn) * d0) / den;
  for (int t = 1; t < n; t++) at(t) += static_cast<float>(a * std::exp(f * t) + c * std::exp(-f * t));
}

template <class Target>
void interpolate_scales(int NbrScale, int Nl, int Nc, MaxCount& NbrMaxLine,
                        MaxPositions* TabPosLine, MaxCount& NbrMaxCol, MaxPositions* TabPosCol,
                        Target target, MultiResol& Estimate) {
  // Every second scale only; the others are left as they are.
  for (int s = 0; s < NbrScale - 1; s += 2) {
    for (int i = 0; i < Nl; i++) {
      const MaxPositions pos = TabPosLine[s * Nl + i];
      for (int k = 0; k + 1 < NbrMaxLine(s, i); k++)
        project_segment(2 * s, i, -1, (*pos)(k), (*pos)(k + 1), target, Estimate);
    }
    for (int j = 0; j < Nc; j++) {
      const MaxPositions pos = TabPosCol[s * Nc + j];
      for (int k = 0; k + 1 < NbrMaxCol(s, j); k++)
        project_segment(2 * s + 1, -1, j, (*pos)(k), (*pos)(k + 1), target, Estimate);
    }
  }
}

}  // namespace

void search_number_max(Image* TabMax, MaxCount& NbrMaxLine, MaxCount& NbrMaxCol, int NbrScale,
                       Bool Verbose) {
  count_maxima(TabMax, NbrMaxLine, NbrMaxCol, NbrScale, Verbose == True, is_maximum);
}

void search_number_max(int NbrScale, Image* TabMax, MaxCount& NbrMaxLine, MaxCount& NbrMaxCol) {
  count_maxima(TabMax, NbrMaxLine, NbrMaxCol, NbrScale, true, is_maximum);
}

void search_max(Image* TabMax, MaxCount& NbrMaxLine, MaxCount& NbrMaxCol, int NbrScale) {
  count_maxima(TabMax, NbrMaxLine, NbrMaxCol, NbrScale, true, is_marked);
}

namespace {

// New list of `count` positions k < n where is_max(k), in increasing order.
// Counts made under another rule cannot push the list past its end.
template <class IsMaxAt>
MaxPositions record_positions(int count, int n, IsMaxAt is_max) {
  MaxPositions pos = new to_array<int, true>(count);
  int k = 0;
  for (int x = 0; x < n && k < count; x++)
    if (is_max(x)) (*pos)(k++) = x;
  return pos;
}

}  // namespace

void init_coord_max(Image* TabMax, int Nl, int Nc, MaxCount& NbrMaxLine,
                    MaxPositions* TabPosLine, MaxCount& NbrMaxCol, MaxPositions* TabPosCol,
                    int NbrScale) {
  for (int s = 0; s < NbrScale - 1; s++) {
    const Image& maxima = TabMax[s];
    for (int i = 0; i < Nl; i++)
      if (NbrMaxLine(s, i) > 0)
        TabPosLine[s * Nl + i] = record_positions(
            NbrMaxLine(s, i), Nc, [&](int j) { return is_maximum(maxima(i, j)); });
    for (int j = 0; j < Nc; j++)
      if (NbrMaxCol(s, j) > 0)
        TabPosCol[s * Nc + j] = record_positions(
            NbrMaxCol(s, j), Nl, [&](int i) { return is_maximum(maxima(i, j)); });
  }
}

void init_multiresol_out(int Nl, int Nc, int NbrScale, MaxCount& NbrMaxLine,
                         MaxPositions* TabPosLine, MaxCount& NbrMaxCol, MaxPositions* TabPosCol,
                         MultiResol& Source, MultiResol& Out) {
  for (int b = 0; b < Source.nbr_band(); b++)
    for (int i = 0; i < Nl; i++)
      for (int j = 0; j < Nc; j++) Out(b, i, j) = kNoMaxValue;
  reset_at_maxima(NbrScale, Nl, Nc, NbrMaxLine, TabPosLine, NbrMaxCol, TabPosCol,
                  TargetMR{Source}, Out);
  const int smooth = 2 * NbrScale - 2;
  for (int i = 0; i < Nl; i++)
    for (int j = 0; j < Nc; j++) Out(smooth, i, j) = Source(smooth, i, j);
}

void init_max(int NbrScale, int Nl, int Nc, MaxCount& NbrMaxLine, MaxPositions* TabPosLine,
              MaxCount& NbrMaxCol, MaxPositions* TabPosCol, MultiResol& Target,
              MultiResol& Estimate) {
  reset_at_maxima(NbrScale, Nl, Nc, NbrMaxLine, TabPosLine, NbrMaxCol, TabPosCol,
                  TargetMR{Target}, Estimate);
}

void init_max(int NbrScale, int Nl, int Nc, MaxCount& NbrMaxLine, MaxPositions* TabPosLine,
              MaxCount& NbrMaxCol, MaxPositions* TabPosCol, Image* Target,
              MultiResol& Estimate) {
  reset_at_maxima(NbrScale, Nl, Nc, NbrMaxLine, TabPosLine, NbrMaxCol, TabPosCol,
                  TargetBands{Target}, Estimate);
}

namespace {

template <class Target>
void copy_smooth(int NbrScale, int Nl, int Nc, Target target, MultiResol& Estimate) {
  const int smooth = 2 * NbrScale - 2;
  for (int i = 0; i < Nl; i++)
    for (int j = 0; j < Nc; j++) Estimate(smooth, i, j) = target(smooth, i, j);
}

}  // namespace

void init_last_scale(int NbrScale, int Nl, int Nc, MultiResol& Target, MultiResol& Estimate) {
  copy_smooth(NbrScale, Nl, Nc, TargetMR{Target}, Estimate);
}

// The smooth band is the last one, 2S-2, in the estimate as in the target:
// there is no band 2S-1 to write.
void init_last_scale(int NbrScale, int Nl, int Nc, Image* Target, MultiResol& Estimate) {
  copy_smooth(NbrScale, Nl, Nc, TargetBands{Target}, Estimate);
}

void interpolate(MaxCount& NbrMaxLine, MaxPositions* TabPosLine, MaxCount& NbrMaxCol,
                 MaxPositions* TabPosCol, MultiResol& Target, MultiResol& Estimate) {
  interpolate_scales(Target.nbr_scale(), Target.size_ima_nl(), Target.size_ima_nc(), NbrMaxLine,
                     TabPosLine, NbrMaxCol, TabPosCol, TargetMR{Target}, Estimate);
}

void interpolate(int NbrScale, MaxCount& NbrMaxLine, MaxPositions* TabPosLine,
                 MaxCount& NbrMaxCol, MaxPositions* TabPosCol, Image* Target,
                 MultiResol& Estimate) {
  interpolate_scales(NbrScale, Estimate.size_ima_nl(), Estimate.size_ima_nc(), NbrMaxLine,
                     TabPosLine, NbrMaxCol, TabPosCol, TargetBands{Target}, Estimate);
}

void Ortho_Proj_Operator(int b, int i, int j, int x0, int x1, MultiResol& Target,
                         MultiResol& Estimate) {
  project_segment(b, i, j, x0, x1, TargetMR{Target}, Estimate);
}

void Ortho_Proj_Operator(int b, int i, int j, int x0, int x1, Image* Target,
                         MultiResol& Estimate) {
  project_segment(b, i, j, x0, x1, TargetBands{Target}, Estimate);
}
