// Noise tools of the pyramidal curvelet transform: a noise level per curvelet
// band measured on the transform of noise, band statistics, hard
// thresholding and a local Wiener filter at those levels. They work on the
// coefficients the object holds after a transform.
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "curvelet/curvelet_band_noise.h"
#include "curvelet/pyr_curvelet.h"
#include "numerics/ima_prob.h"
#include "numerics/noise_simulation.h"

namespace {

// Seed of the simulated noise: the levels are the same from run to run.
constexpr unsigned NoiseSeed = 10;

}  // namespace

float PyrCurvelet::norm_band(int, int) const {
  if (RidTrans == RID_FINITE_UNDEF)
    fatal_exit("Error: unknown ridgelet transform (in PyrCurvelet::norm_band) ... \n");
  return 0.f;
}

void PyrCurvelet::get_norm_coeff(float NSigma) {
  if (Verbose) std::printf("get_norm_coeff %g\n", NSigma);
  to_array<float, false> simulation(Nl, Nc, "ImSimu");
  im_noise_gaussian(simulation, 1.f, NoiseSeed);
  transform(simulation);
  set_noise_level(NSigma);
}

void PyrCurvelet::get_norm_coeff(to_array<float, false>& Noise, float NSigma) {
  if (Verbose) std::printf("get_norm_coeff %g\n", NSigma);
  transform(Noise);
  set_noise_level(NSigma);
}

void PyrCurvelet::set_noise_level(float NSigma) {
  // The level is the detection threshold divided by NSigma.
  if (!(NSigma > 0.f))
    fatal_exitf(-1, stdout, "Error: the detection level must be positive: %g ...\n", NSigma);
  if (Verbose) std::printf("Curvelet transform of the noise \n");
  to_array<float, false> band;
  CImaProb distribution;
  for (int k = 0; k < NbrBand - 1; k++) {
    int s2d, s1d;
    get_scale_number(k, s2d, s1d);
    const int period = noise_period(s2d);
    get_band(k, band);
    const double sigma = band.sigma();
    std::printf(" Band %d Scale %d %d BS = %d RBS = %d Sigma = %g\n", k + 1, s2d + 1, s1d,
                block_size(k), TabRidgelet[s2d].block_size(), sigma);
    distribution.set(band);
    double low, high;
    distribution.find_gthreshold(NSigma, low, high);
    const double level = std::fabs(low) > high ? std::fabs(low) : high;
    const float noise_level = static_cast<float>(level / NSigma);
    for (int p = 0; p < period; p++) TabBandSigma[s2d](s1d, p) = noise_level;
    if (Verbose)
      std::printf("Band(%2d,%2d): Noise Level = %f, Sig = %f, SigBand = %f\n", s2d + 1, s1d + 1,
                  noise_level, level / (std::sqrt(static_cast<double>(period)) * NSigma), sigma);
  }
}

void PyrCurvelet::get_stat(to_array<float, true>& TabStat) {
  TabStat.alloc(NbrBand, 5, "TabStat");
  to_array<float, false> band;
  for (int k = 0; k < NbrBand; k++) {
    int s2d, s1d;
    get_scale_number(k, s2d, s1d);
    get_band(k, band);
    band_statistics(band, TabStat, k);
    if (Verbose)
      std::printf("  Band %d (%d,%d): Nl = %d, Nc = %d, Sigma = %5.3f, Skew = %5.3f, "
                  "Curt = %5.3f, Min = %5.3f, Max = %5.3f\n",
                  k + 1, s2d + 1, s1d + 1, band.nl(), band.nc(), TabStat(k, 0), TabStat(k, 1),
                  TabStat(k, 2), TabStat(k, 3), TabStat(k, 4));
  }
}

void PyrCurvelet::threshold(float SigmaNoise, float NSigma) {
  if (Verbose) std::printf("Noise thresholding ...\n");
  for (int k = 0; k < NbrBand - 1; k++) {
    int s2d, s1d;
    get_scale_number(k, s2d, s1d);
    const int period = noise_period(s2d);
    // The finest 1D scale holds most of the noise: one unit more.
    const float factor = s1d == 0 ? NSigma + 1.f : NSigma;
    const int nl = size_nl(s2d, s1d), nc = size_nc(s2d, s1d);
    const int i0 = ipos(s2d, s1d), j0 = jpos(s2d, s1d);
    for (int i = 0; i < nl; i++) {
      const float level = factor * SigmaNoise * TabBandSigma[s2d](s1d, i % period);
      float* row = &TabTrans[s2d](i + i0, j0);
      for (int j = 0; j < nc; j++)
        if (std::fabs(row[j]) < level) row[j] = 0.f;
    }
  }
}

void PyrCurvelet::wiener_filter(float SigmaNoise, int W) {
  if (W < 1) fatal_exitf(-1, stdout, "Error: bad Wiener window size: %d (1 at least) ...\n", W);
  if (Verbose) std::printf("Wiener Noise Filtering ...%d Noise = %g\n", W, SigmaNoise);
  to_array<float, false> band;
  for (int k = 0; k < NbrBand - 1; k++) {
    int s2d, s1d;
    get_scale_number(k, s2d, s1d);
    const int period = noise_period(s2d);
    get_band(s2d, s1d, band);
    std::printf("   Band(%2d,%2d) Nl = %d, Nc = %d: Max = %f\n", s2d + 1, s1d + 1, band.nl(),
                band.nc(), band.max());
    const to_array<float, true>& levels = TabBandSigma[s2d];
    wiener_band(
        band, W, [&](int i) { return SigmaNoise * levels(s1d, i % period); }, true);
    std::printf("Band(%2d,%2d) Nl = %d, Nc = %d: Max = %f\n", s2d + 1, s1d + 1, band.nl(),
                band.nc(), band.max());
    put_band(s2d, s1d, band);
  }
}
