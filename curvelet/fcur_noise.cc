// Noise model of the fast curvelet transform: per-band norms measured on the
// transform of unit Gaussian noise, hard thresholding and local Wiener
// filtering at those levels, and per-band statistics.
#include <cmath>
#include <cstdio>

#include "curvelet/curvelet_band_noise.h"
#include "curvelet/fcur.h"
#include "numerics/ima_prob.h"
#include "numerics/noise_simulation.h"

namespace {

// Seed of the simulated noise: the norms are the same from run to run.
constexpr unsigned NoiseSeed = 10;

}  // namespace

void FCUR::get_norm_coeff(float NSigma) {
  if (Verbose) std::printf("get_norm_coeff %g\n", NSigma);
  // The noise is drawn at the working size, which an even side pads by one,
  // and the transform gets its top-left corner of the image's own size: the
  // norms stay what they have always been.
  to_array<float, false> padded(nlima(), ncima(), "ImSimu"), simulation(NlIma, NcIma, "ImSimu");
  im_noise_gaussian(padded, 1.f, NoiseSeed);
  for (int i = 0; i < NlIma; i++)
    for (int j = 0; j < NcIma; j++) simulation(i, j) = padded(i, j);
  cur_trans(simulation);
  set_noise_level(NSigma);
}

void FCUR::get_norm_coeff(to_array<float, false>& Noise, float NSigma) {
  if (Verbose) std::printf("get_norm_coeff %g\n", NSigma);
  cur_trans(Noise);
  set_noise_level(NSigma);
}

void FCUR::set_noise_level(float NSigma) {
  if (Verbose) std::printf("Curvelet transform of the noise \n");
  to_array<float, false> band;
  CImaProb distribution;
  for (int s = 0; s < nbr_scale() - 1; s++)
    for (int b = 0; b < nbr_band(s); b++) {
      get_band(s, b, band);
      distribution.set(band);
      double low, high;
      distribution.find_gthreshold(NSigma, low, high);
      TabNorm(s, b) = static_cast<float>(std::fabs(low) > high ? std::fabs(low) / NSigma
                                                                 : high / NSigma);
      if (Verbose)
        std::printf("Band(%2d,%2d): Noise Level = %f,  SigBand = %f\n", s + 1, b + 1,
                    TabNorm(s, b), band.sigma());
    }
}

void FCUR::threshold(float SigmaNoise, float NSigma) {
  if (Verbose) std::printf("Noise thresholding: N_Sigma = %g SigmaNoise = %g\n", NSigma, SigmaNoise);
  for (int s = 0; s < nbr_scale() - 1; s++) {
    // The finest scale holds most of the noise: one unit more.
    const float level = s == 0 ? NSigma + 1 : NSigma;
    for (int b = 0; b < nbr_band(s); b++) {
      const float t = level * SigmaNoise * TabNorm(s, b);
      for (int i = 0; i < size_band_nl(s, b); i++)
        for (int j = 0; j < size_band_nc(s, b); j++) {
          float& c = (*this)(s, b, i, j);
          if (std::fabs(c) < t) c = 0.f;
        }
    }
  }
}

void FCUR::wiener_filter(float Noise, int WienerBlockSize) {
  if (Verbose)
    std::printf("Wiener Noise Filtering ...%d Noise = %g\n", WienerBlockSize, Noise);
  to_array<float, false> band;
  for (int s = 0; s < nbr_scale() - 1; s++)
    for (int b = 0; b < nbr_band(s); b++) {
      const float sigma = Noise * TabNorm(s, b);
      get_band(s, b, band);
      wiener_band(band, WienerBlockSize, [sigma](int) { return sigma; }, false);
      put_band(s, b, band);
    }
}

void FCUR::get_stat(to_array<float, true>& TabStat) {
  TabStat.alloc(nbr_tot_band(), 5, "TabStat");
  to_array<float, false> band;
  int k = 0;
  for (int s = 0; s < nbr_scale(); s++)
    for (int b = 0; b < nbr_band(s); b++) {
      get_band(s, b, band);
      band_statistics(band, TabStat, k);
      if (Verbose)
        std::printf("  Band %d (%d,%d): Nl = %d, Nc = %d, Sigma = %5.3f, Skew = %5.3f, "
                    "Curt = %5.3f, Min = %5.3f, Max = %5.3f\n",
                    k + 1, s + 1, b + 1, band.nl(), band.nc(), TabStat(k, 0), TabStat(k, 1),
                    TabStat(k, 2), TabStat(k, 3), TabStat(k, 4));
      k++;
    }
}
