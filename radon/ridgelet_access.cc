// Reading and writing the ridgelet image by scale band, coefficient and
// projection direction, and the per-scale statistics printout.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "numerics/noise_estimators.h"
#include "numerics/sample_stats.h"
#include "radon/ridgelet.h"

void Ridgelet::get_scale(to_array<float, false>& Trans, to_array<float, false>& Band, int s) {
  const int nl = size_scale_nl(s), nc = size_scale_nc(s);
  if (Band.naxis() != 2 || Band.nl() != nl || Band.nc() != nc) Band.resize(nl, nc);
  const int i0 = ipos(s), j0 = jpos(s);
  for (int i = 0; i < nl; i++) {
    const float* in = &Trans(i0 + i, j0);
    float* out = &Band(i, 0);
    for (int j = 0; j < nc; j++) out[j] = in[j];
  }
}

void Ridgelet::put_scale(to_array<float, false>& Trans, to_array<float, false>& Band, int s) {
  const int nl = size_scale_nl(s), nc = size_scale_nc(s);
  if (Band.naxis() != 2 || Band.nl() != nl || Band.nc() != nc)
    fatal_exit("Error: the scale image has not the correct size ... \n");
  const int i0 = ipos(s), j0 = jpos(s);
  for (int i = 0; i < nl; i++) {
    const float* in = &Band(i, 0);
    float* out = &Trans(i0 + i, j0);
    for (int j = 0; j < nc; j++) out[j] = in[j];
  }
}

float Ridgelet::get_coef(to_array<float, false>& Trans, int i, int j, int s, int bi, int bj) {
  if (NbrScale1D < 2) fatal_exitf(-1, stdout, "Error in get_coef: NbrScale = %d\n", NbrScale1D);
  return Trans(ipos(s, bi) + i, jpos(s, bj) + j);
}

void Ridgelet::put_coef(to_array<float, false>& Trans, int i, int j, float Val, int s, int bi,
                        int bj) {
  if (NbrScale1D < 2) fatal_exitf(-1, stdout, "Error in get_coef: NbrScale = %d\n", NbrScale1D);
  Trans(ipos(s, bi) + i, jpos(s, bj) + j) = Val;
}

float Ridgelet::get_angle_direction(int Dir, Bool InDegree) {
  if (Dir < 0 || Dir >= 2 * BlockSize)
    fatal_exitf(-1, stdout, "Error: bad direction number (%d). Must be < %d\n", Dir,
                2 * BlockSize);
  double a = TabAngle(Dir);
  return static_cast<float>(InDegree ? a * 180. / M_PI : a);
}

int Ridgelet::get_num_direction(float Angle, Bool InDegree) {
  double a = InDegree ? Angle * M_PI / 180. : Angle;
  int best = 0;
  double best_diff = std::fabs(TabAngle(0) - a);
  for (int d = 1; d < TabAngle.n_elem(); d++) {
    double diff = std::fabs(TabAngle(d) - a);
    if (diff < best_diff) {
      best_diff = diff;
      best = d;
    }
  }
  return best;
}

void Ridgelet::get_scale_direction(to_array<float, false>& Trans, to_array<float, false>& Band,
                                   int s, int Dir) {
  const int nc = size_scale_nc(s);
  if (Dir < 0 || Dir >= Nlb)
    fatal_exitf(-1, stdout, "Error: bad direction number (%d). Must be < %d\n", Dir, Nlb);
  if (Band.naxis() != 2 || Band.nl() != NbrBi || Band.nc() != nc) Band.resize(NbrBi, nc);
  for (int bi = 0; bi < NbrBi; bi++)
    for (int j = 0; j < nc; j++) Band(bi, j) = Trans(bi * Nlb + ipos(s) + Dir, jpos(s) + j);
}

void Ridgelet::get_scale_direction(to_array<float, false>& Trans, to_array<float, false>& Band,
                                   int s, float Angle) {
  const int Dir = get_num_direction(Angle, False);
  if (Verbose) {
    std::printf("Angle %g Line Number = %d Exact Angle = %g\n", Angle, Dir + 1,
                TabAngle(Dir) * 180. / M_PI);
    std::printf("Size = %d %d\n", NbrBi, size_scale_nc(s));
  }
  get_scale_direction(Trans, Band, s, Dir);
}

void Ridgelet::info_stat(to_array<float, false>& Trans) {
  if (NbrScale1D <= 1) return;
  to_array<float, false> band;
  for (int s = 0; s < NbrScale1D; s++) {
    get_scale(Trans, band, s);
    band.set_name("Scale");
    double mean, sigma, skew, curt;
    float min, max;
    moment4(band.buffer(), band.n_elem(), mean, sigma, skew, curt, min, max);
    std::printf("  Band %d: Nl = %d, Nc = %d, Sigma = %5.3f, Skew = %5.3f, Curt = %5.3f\n", s + 1,
                band.nl(), band.nc(), sigma, skew, curt);
  }
}

namespace {

// Every computed position is checked against the ridgelet image before use.
float& checked(to_array<float, false>& Trans, int i, int j) {
  if (i < 0 || j < 0 || i >= Trans.nl() || j >= Trans.nc())
    fatal_exitf(-1, stdout, "Error: IndI = %d, IndJ = %d, Nl = %d, Nc = %d\n", i, j, Trans.nl(),
                Trans.nc());
  return Trans(i, j);
}

[[noreturn]] void bad_angle_line(int Posi, int Nlb) {
  fatal_exitf(-1, stdout,
              "Error: bad pixel position in get_blockvect ... \n        Posi = %d\n"
              "        NlOneBlock = %d\n",
              Posi, Nlb);
}

}  // namespace

void Ridgelet::get_scale_without_bord(to_array<float, false>& Trans, int s,
                                      to_array<float, false>& Band) {
  const int inner_i = std::max(NbrBi - 2, 0), inner_j = std::max(NbrBj - 2, 0);
  if (inner_i == 0 || inner_j == 0) {
    Band.free();  // no inner block
    return;
  }
  Band.resize(inner_i * Nlb, inner_j * TabSize(s));
  int k = 0;
  for (int i = 0; i < Nlb; i++)
    for (int j = 0; j < TabSize(s); j++)
      for (int bi = 1; bi < NbrBi - 1; bi++)
        for (int bj = 1; bj < NbrBj - 1; bj++)
          Band(k++) = checked(Trans, bi * Nlb + i + ipos(s), bj * TabSize(s) + j + jpos(s));
}

void Ridgelet::get_blockvect(to_array<float, false>& Trans, int s, int Posi, int Posj,
                             to_array<float, true>& Vect) {
  if (Posi < 0 || Posi >= Nlb || Posj < 0 || Posj >= TabSize(s))
    fatal_exitf(-1, stdout,
                "Error: bad pixel position in get_blockvect ... \n        Posi = %d Posj = %d\n"
                "        NlOneBlock = %d NcOneBlock = %d\n",
                Posi, Posj, Nlb, TabSize(s));
  if (Vect.n_elem() != NbrBi * NbrBj) Vect.alloc(NbrBi * NbrBj, "blockvect");
  int k = 0;
  for (int bi = 0; bi < NbrBi; bi++)
    for (int bj = 0; bj < NbrBj; bj++)
      Vect(k++) = checked(Trans, bi * Nlb + Posi + ipos(s), bj * TabSize(s) + Posj + jpos(s));
}

// Projection line Posi of scale s of every block, in block order; visit gets
// each coefficient and its index in that order.
template <class Visit>
void Ridgelet::each_angle_coef(to_array<float, false>& Trans, int s, int Posi, Visit visit) {
  if (Posi < 0 || Posi >= Nlb) bad_angle_line(Posi, Nlb);
  int k = 0;
  for (int bi = 0; bi < NbrBi; bi++)
    for (int bj = 0; bj < NbrBj; bj++)
      for (int j = 0; j < TabSize(s); j++)
        visit(checked(Trans, bi * Nlb + Posi + ipos(s), bj * TabSize(s) + j + jpos(s)), k++);
}

void Ridgelet::get_anglevect(to_array<float, false>& Trans, int s, int Posi,
                             to_array<float, true>& Vect) {
  const int n = NbrBi * NbrBj * TabSize(s);
  if (Vect.n_elem() != n) Vect.alloc(n, "anglevect");
  each_angle_coef(Trans, s, Posi, [&](float& c, int k) { Vect(k) = c; });
}

void Ridgelet::put_anglevect(to_array<float, false>& Trans, int s, int Posi,
                             to_array<float, true>& Vect) {
  const int n = NbrBi * NbrBj * TabSize(s);
  if (Vect.n_elem() < n)
    fatal_exitf(-1, stdout, "Error: put_anglevect needs %d values, the vector holds %d ...\n", n,
                Vect.n_elem());
  each_angle_coef(Trans, s, Posi, [&](float& c, int k) { c = Vect(k); });
}

void Ridgelet::mad_normalize_per_angle(to_array<float, false>& Trans) {
  to_array<float, true> vect;
  for (int s = 0; s < NbrScale1D; s++)
    for (int a = 0; a < Nlb; a++) {
      get_anglevect(Trans, s, a, vect);
      const float sigma = get_sigma_mad(vect.buffer(), vect.n_elem());
      if (sigma == 0.f) continue;
      for (int k = 0; k < vect.n_elem(); k++) vect(k) /= sigma;
      put_anglevect(Trans, s, a, vect);
    }
}

void Ridgelet::get_imablocksigma(to_array<float, false>& Trans, int s,
                                 to_array<float, false>& ImaSigma, Bool UseStd) {
  ImaSigma.resize(Nlb, TabSize(s));
  ImaSigma.init();
  to_array<float, true> vect;
  for (int i = 0; i < Nlb; i++)
    for (int j = 0; j < TabSize(s); j++) {
      get_blockvect(Trans, s, i, j, vect);
      ImaSigma(i, j) = UseStd ? static_cast<float>(vect.sigma())
                              : get_sigma_mad(vect.buffer(), vect.n_elem());
    }
}

void Ridgelet::init_tab_sigma_block(to_array<float, false>& Trans, Bool UseStd) {
  if (static_cast<int>(TabImaBlockSigma.size()) < NbrScale1D)
    TabImaBlockSigma.resize(NbrScale1D);
  for (int s = 0; s < NbrScale1D; s++) get_imablocksigma(Trans, s, TabImaBlockSigma[s], UseStd);
}

void Ridgelet::normalize_block(to_array<float, false>& Trans, Bool Reverse) {
  for (int s = 0; s < NbrScale1D && s < static_cast<int>(TabImaBlockSigma.size()); s++) {
    const to_array<float, false>& sigma_ima = TabImaBlockSigma[s];
    if (sigma_ima.nl() != Nlb || sigma_ima.nc() != TabSize(s)) continue;  // not measured
    for (int i = 0; i < Nlb; i++)
      for (int j = 0; j < TabSize(s); j++) {
        const float sigma = sigma_ima(i, j);
        if (!(sigma > 0.f)) continue;
        for (int bi = 0; bi < NbrBi; bi++)
          for (int bj = 0; bj < NbrBj; bj++) {
            float& c = Trans(bi * Nlb + i + ipos(s), bj * TabSize(s) + j + jpos(s));
            c = Reverse ? c * sigma : c / sigma;
          }
      }
  }
}

void Ridgelet::mad_normalize_per_block(to_array<float, false>& Trans, Bool UseStd) {
  init_tab_sigma_block(Trans, UseStd);
  normalize_block(Trans, False);
}
