// Reading and writing the ridgelet image by scale band, coefficient and
// projection direction, and the per-scale statistics printout.
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
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
