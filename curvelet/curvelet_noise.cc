// Noise models of the curvelet bands: the tabulated response of each band to
// unit white noise (bands beyond the tables measured once on seeded noise),
// Gaussian levels from it, MAD levels and empirical distributions measured on
// a transform, noise probabilities and FDR levels; ridgelet norms measured
// on simulated noise, and denoising through the ridgelets' own filtering.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "array/fatal.h"
#include "curvelet/curvelet.h"
#include "numerics/gauss_tests.h"
#include "numerics/noise_estimators.h"
#include "numerics/noise_simulation.h"
#include "numerics/sample_stats.h"

namespace {

using NormTable = float[CUR_NORM_NBR_2D][CUR_NORM_NBR_1D];

// Standard deviation of band (s2d, s1d) for unit white noise in the image,
// per unit of sqrt(block side); rows 5 to 9 are not tabulated (zero).
const NormTable TabCurvNorm = {{0.692084f, 0.0488825f, 0.00915464f, 0.00390845f, 0.00247424f},
                               {0.184628f, 0.0853162f, 0.0254304f, 0.00558103f, 0.00150869f},
                               {0.0489787f, 0.0737917f, 0.0490959f, 0.016418f, 0.00425767f},
                               {0.0118884f, 0.0291999f, 0.0459632f, 0.0330577f, 0.0122221f},
                               {0.00407141f, 0.00783881f, 0.0200084f, 0.0305753f, 0.0232205f}};

const NormTable TabCurvNormOrtho = {{0.888171f, 0.693059f, 0.316226f, 0.133076f, 0.0792442f},
                                    {0.0920643f, 0.355331f, 0.4478f, 0.258705f, 0.112331f},
                                    {0.0133684f, 0.0687863f, 0.290654f, 0.41791f, 0.244424f},
                                    {0.00712275f, 0.017331f, 0.0713842f, 0.27431f, 0.404305f},
                                    {0.00264867f, 0.00782153f, 0.0244814f, 0.0768586f, 0.275698f}};

const NormTable TabCurvNormFinite = {
    {0.907205f, 0.848266f, 0.750752f, 0.706939f, 0.693558f, 0.769639f, 0.757993f, 0.876104f,
     0.943324f, 1.34013f},
    {0.0575738f, 0.219989f, 0.308451f, 0.285516f, 0.278624f, 0.297142f, 0.32716f, 0.402356f,
     0.487739f, 0.691129f},
    {0.00477841f, 0.0294306f, 0.126726f, 0.205192f, 0.189233f, 0.233786f, 0.239031f, 0.299415f,
     0.282413f, 0.358558f},
    {0.00182506f, 0.00365026f, 0.0238334f, 0.104979f, 0.160795f, 0.158492f, 0.213155f, 0.297539f,
     0.241235f, 0.373624f},
    {0.000782209f, 0.00130493f, 0.00312119f, 0.0230133f, 0.0992632f, 0.15913f, 0.185009f, 0.194789f,
     0.240767f, 0.259313f}};

const NormTable TabCurvNormPoisson = {
    {0.371955f, 0.0407213f, 0.0359829f, 0.0359829f, 0.0359829f},
    {0.095282f, 0.0462022f, 0.0164799f, 0.0141048f, 0.0141048f},
    {0.0259683f, 0.0364866f, 0.025523f, 0.0189549f, 0.0189549f},
    {0.00621935f, 0.0140622f, 0.0221193f, 0.0245154f, 0.0245154f},
    {0.00624714f, 0.00387116f, 0.00893436f, 0.027382f, 0.027382f}};

// The variant's table, null for a variant that has none.
const NormTable* norm_table(type_ridgelet_WTtrans RidTrans, Bool MSVST) {
  switch (RidTrans) {
    case RID_OWT:
    case RID_UWT:
      return MSVST ? &TabCurvNormPoisson : &TabCurvNormOrtho;
    case RID_PYR_FFT:
    case RID_SS_PYR_FFT:
    case RID_UWT_FFT:
      return MSVST ? &TabCurvNormPoisson : &TabCurvNorm;
    case RID_FINITE:
      return &TabCurvNormFinite;
    default:
      return nullptr;
  }
}

[[noreturn]] void unknown_variant() {
  fatal_exit("Error: unknown ridgelet transform (in Curvelet::norm_band) ... \n");
}

// Indices beyond the tables read their last row or column.
void clamp_norm_index(int& s2d, int& s1d) {
  if (s2d < 0 || s2d >= CUR_NORM_NBR_2D) s2d = CUR_NORM_NBR_2D - 1;
  if (s1d < 0 || s1d >= CUR_NORM_NBR_1D) s1d = CUR_NORM_NBR_1D - 1;
}

// Seed of the simulated noise images: measured norms repeat from run to run.
constexpr unsigned NoiseSeed = 10;

// Below this a value counts as zero in the noise probabilities.
constexpr float TinyValue = 5.96047e-08f;

}  // namespace

float Curvelet::table_norm(int s2d, int s1d) const {
  const NormTable* table = norm_table(RidTrans, MSVST);
  if (table == nullptr) unknown_variant();
  clamp_norm_index(s2d, s1d);
  return (*table)[s2d][s1d];
}

void Curvelet::fill_tab_norm() {
  TabNorm.alloc(CUR_NORM_NBR_1D, CUR_NORM_NBR_2D, "TabNorm");
  for (int b = 0; b < nbr_band() - 1; b++) {
    int s2d, s1d;
    get_scale_number(b, s2d, s1d);
    const float norm = table_norm(s2d, s1d);
    clamp_norm_index(s2d, s1d);
    TabNorm(s1d, s2d) = norm;
  }
  measure_missing_norms();
}

// A band without a tabulated norm would get a zero noise level, which the
// MCA divides by: its norm is the standard deviation it takes on seeded unit
// noise, in the same units as the tables.
void Curvelet::measure_missing_norms() {
  std::vector<int> missing;
  for (int b = 0; b < nbr_band() - 1; b++) {
    int s2d, s1d;
    get_scale_number(b, s2d, s1d);
    clamp_norm_index(s2d, s1d);
    if (!(TabNorm(s1d, s2d) > 0.f)) missing.push_back(b);
  }
  if (missing.empty()) return;
  to_array<float, false> noise(Nl, Nc, "ImSimu");
  im_noise_gaussian(noise, 1.f, NoiseSeed);
  const Bool msvst = MSVST, mad_norm = MadNormBlock, verbose = Verbose;
  MSVST = MadNormBlock = Verbose = False;
  to_array<float, false>* bands = nullptr;
  transform(noise, bands);
  MSVST = msvst;
  MadNormBlock = mad_norm;
  Verbose = verbose;
  to_array<float, false> band;
  for (int b : missing) {
    int s2d, s1d;
    get_scale_number(b, s2d, s1d);
    TabRidgelet[s2d].get_scale(bands[s2d], band, s1d);
    const float f = VarNorm || MSVST ? 1.f : std::sqrt(static_cast<float>(TabBlockSize(s2d)));
    const float norm = static_cast<float>(band.sigma()) / f;
    clamp_norm_index(s2d, s1d);
    TabNorm(s1d, s2d) = norm;
  }
  delete[] bands;
}

float Curvelet::norm_band(int s2d, int s1d) {
  if (norm_table(RidTrans, MSVST) == nullptr) unknown_variant();
  if (TabNorm.n_elem() == 0) curvelet_not_initialized();  // alloc fills the norms
  clamp_norm_index(s2d, s1d);
  return TabNorm(s1d, s2d);
}

void Curvelet::set_noise_model_gaussian_in_band(int b, float NSigma, float Sigma) {
  int s2d, s1d;
  get_scale_number(b, s2d, s1d);
  const float f = MSVST ? 1.f : std::sqrt(static_cast<float>(TabBlockSize(s2d)));
  const float norm = VarNorm ? norm_band(s2d, s1d) : norm_band(s2d, s1d) * f;
  TabMinLevel(b) = -NSigma * norm * Sigma;
  TabMaxLevel(b) = NSigma * norm * Sigma;
  TabSigma(b) = norm * Sigma;
  TabNSigma(b) = NSigma;
}

void Curvelet::set_noise_model_gaussian(float NSigma, float Sigma) {
  // The finest band holds most of the noise: one unit more.
  for (int b = 0; b < nbr_band() - 1; b++)
    set_noise_model_gaussian_in_band(b, b == 0 ? NSigma + 1 : NSigma, Sigma);
}

void Curvelet::set_noise_model_gaussian(to_array<float, true>& TabNSig, float Sigma) {
  for (int b = 0; b < nbr_band() - 1; b++) set_noise_model_gaussian_in_band(b, TabNSig(b), Sigma);
}

void Curvelet::set_noise_model_using_mad(to_array<float, false>*& TabBand, float NSigma) {
  to_array<float, false> band;
  for (int b = 0; b < nbr_band() - 1; b++) {
    int s2d, s1d;
    get_scale_number(b, s2d, s1d);
    TabRidgelet[s2d].get_scale(TabBand[s2d], band, s1d);
    const float sigma = detect_noise_from_mad(band, False);
    TabMinLevel(b) = -NSigma * sigma;
    TabMaxLevel(b) = NSigma * sigma;
    TabSigma(b) = sigma;
    TabNSigma(b) = NSigma;
  }
}

void Curvelet::set_noise_level(to_array<float, false>& NoiseIma, float NSigma, Bool UseMad) {
  if (Verbose) std::printf("Curvelet transform of the noise \n");
  to_array<float, true> trans, band;
  transform(NoiseIma, trans);
  const int nb = nbr_band();
  if (!UseMad) TabCImaProb.reset(new CImaProb[nb]);
  for (int b = 0; b < nb - 1; b++) {
    int s2d, s1d;
    get_scale_number(b, s2d, s1d);
    const float ns = s2d == 0 ? NSigma + 1 : NSigma;
    get_band(trans, b, band);
    if (!UseMad) {
      CImaProb& distribution = TabCImaProb[b];
      distribution.set(band.buffer(), band.n_elem());
      double low, high;
      distribution.find_gthreshold(ns, low, high);
      TabMinLevel(b) = static_cast<float>(low);
      TabMaxLevel(b) = static_cast<float>(high);
      float sigma = static_cast<float>(std::max(std::fabs(low), high) / ns);
      if (!VarNorm) sigma /= std::sqrt(static_cast<float>(TabBlockSize(s2d)));
      TabSigma(b) = sigma;
    } else {
      const float sigma = get_sigma_mad(band.buffer(), band.n_elem());
      TabMinLevel(b) = -ns * sigma;
      TabMaxLevel(b) = ns * sigma;
      TabSigma(b) = sigma;
    }
    TabNSigma(b) = ns;
  }
}

double Curvelet::prob_noise(float Val, int b) {
  if (TabCImaProb) {
    double p = TabCImaProb[b].repartition(Val);
    return Val > 0 ? 1. - p : p;
  }
  const float sigma = TabSigma(b);
  if (std::fabs(Val) < TinyValue) return 1.;
  if (sigma < TinyValue) return 0.;
  const float z = std::fabs(Val) / (std::sqrt(2.f) * sigma);
  if (z > 3.5f) return 0.;
  return static_cast<float>(std::erfc(z));
}

void Curvelet::get_fdr_detect_level(to_array<float, false>*& TabBand, float NSigma,
                                    Bool Threshold) {
  to_array<float, false> band;
  std::vector<double> prob;
  for (int b = 0; b < nbr_band() - 1; b++) {
    int s2d, s1d;
    get_scale_number(b, s2d, s1d);
    Ridgelet& R = TabRidgelet[s2d];
    R.get_scale(TabBand[s2d], band, s1d);
    const float alpha = std::min(
        0.5f, static_cast<float>((1. - std::erf(NSigma / std::sqrt(2.))) * (s1d + s2d + 1)));
    if (Verbose) {
      std::printf("Band %d %d Nl = %d Nc = %d\n", s2d + 1, s1d + 1, band.nl(), band.nc());
      std::printf("        SigmaNoise = %g Nsigma = %g\n", TabSigma(b), TabNSigma(b));
      std::printf("        MinLevel = %g MaxLevel = %g\n", TabMinLevel(b), TabMaxLevel(b));
    }
    const int n = band.n_elem();
    prob.resize(n);
    for (int k = 0; k < n; k++) prob[k] = prob_noise(band(k), b);
    const double p = fdr_pvalue(prob.data(), n, alpha);
    const float ns = static_cast<float>(std::fabs(xerfc(1. - p / 2.)));
    for (int k = 0; k < n; k++) {
      if (prob[k] <= p) continue;
      const float v = band(k);
      if (v >= 0 && v > TabMaxLevel(b)) TabMaxLevel(b) = v;
      if (v < 0 && v < TabMinLevel(b)) TabMinLevel(b) = v;
      if (Threshold) band(k) = 0.f;
    }
    TabNSigma(b) = ns;
    if (Verbose)
      std::printf("      FDR: Level Alpha = %g   ==> Nsigma = %g Min Level = %g Max level = %g\n",
                  alpha, ns, TabMinLevel(b), TabMaxLevel(b));
    if (Threshold) R.put_scale(TabBand[s2d], band, s1d);
  }
}

void Curvelet::get_norm_coeff(int N, int s, int NbrScale1DArg, to_array<float, true>& Tab) {
  std::printf("get_norm_coeff %d\n", N);
  to_array<float, false> simu(N, N, "ImSimu");
  im_noise_gaussian(simu, 1.f, NoiseSeed);
  ATROUS_2D_WT atrous;
  to_array<float, false>* scales = nullptr;
  atrous.alloc(scales, N, N, s + 2);
  atrous.transform(simu, scales, s + 2);
  std::printf("WT: get_norm_coeff \n");

  Ridgelet R;
  R.reset(SB1D);
  R.Verbose = False;
  R.BlockOverlap = False;
  R.RidTrans = RidTrans;
  R.AutoScale1D = False;
  R.NbrScale1D = NbrScale1DArg;
  R.ColTrans = ColTrans;
  R.alloc(N, N, N);
  const int ns = R.NbrScale1D;
  if (ns < 2)
    fatal_exitf(-1, stdout, "Error: get_norm_coeff needs at least 2 scales (1D), not %d ...\n", ns);
  std::printf("WT: get_norm_coeff %d\n", ns);
  to_array<float, false> rid;
  R.transform(scales[s], rid);
  atrous.free(scales, s + 2);
  std::printf("Trans size %d %d Bs = %d\n", rid.nl(), rid.nc(), ns);
  std::printf("WT: Ns1D %d\n", ns);

  Tab.alloc(rid.nl(), ns, "TabNorm");
  for (int j = 0; j < ns; j++) {
    const int first = R.rid_pos(j), size = R.rid_size(j);
    for (int i = 0; i < rid.nl(); i++) {
      double sum = 0.;
      for (int k = first; k < first + size; k++) sum += static_cast<double>(rid(i, k)) * rid(i, k);
      Tab(i, j) = static_cast<float>(std::sqrt(sum / size) / std::sqrt(static_cast<double>(N)));
    }
  }
  to_array<float, false> scale;
  R.get_scale(rid, scale, 0);
  std::printf("SCALE %d    band %d Sigma = %g\n", s + 1, 1, std::sqrt(scale.energy()));
  std::printf("\nEnd Normalization \n");
}

void Curvelet::filtering(to_array<float, false>& Ima, to_array<float, false>& Result, float NSigma,
                         float Noise) {
  if (!Initialized) curvelet_not_initialized();  // the norms come from alloc
  Ridgelet R;
  ridgelet_init(R);
  to_array<float, false> coef = Ima;
  to_array<float, false> smooth(Ima.nl(), Ima.nc(), " BandSmooth");
  set_param(Ima.nl(), Ima.nc());
  if (Verbose) {
    std::printf("Transform size: Nl =  %d Nc = %d Nb = %d\n", NlTrans, NcTrans, NbrScale2D);
    for (int s = 0; s < NbrScale2D - 1; s++)
      std::printf("   Band %d  BlockSize = %d\n", s + 1, TabBlockSize(s));
  }
  Result.alloc(Ima.nl(), Ima.nc(), "Result");
  ATROUS_2D_WT smoothing;
  smoothing.Border = Border;
  to_array<float, true> norms(CUR_NORM_NBR_1D, "TabNorm");
  for (int s = 0; s < NbrScale2D - 1; s++) {
    if (Verbose) std::printf("Band %d Block size = %d\n", s + 1, TabBlockSize(s));
    smoothing.b3spline_filtering(coef, smooth, s);
    coef -= smooth;
    for (int j = 0; j < CUR_NORM_NBR_1D; j++)
      norms(j) = s < CUR_NORM_NBR_2D ? norm_band(s, j) : 0.f;
    // The ridgelet denoisers take the noise before the detection level.
    if (rid_class(RidTrans) == 2)
      R.undec_wt_filtering(coef, Noise, NSigma, TabBlockSize(s));
    else
      R.filtering(coef, Noise, NSigma, TabBlockSize(s), &norms);
    Result += coef;
    coef = smooth;
  }
  Result += smooth;
}

void Curvelet::print_info_noise() {
  for (int b = 0; b < nbr_band() - 1; b++) {
    int s2d, s1d;
    get_scale_number(b, s2d, s1d);
    std::printf("Band %d %d: BSize BS = %d Nl = %d Nc = %d\n", s2d + 1, s1d + 1, TabBlockSize(s2d),
                size_nl(s2d, s1d), size_nc(s2d, s1d));
    std::printf("        SigmaNoise = %g Nsigma = %g\n", sigma_noise(b), nsigma(b));
    std::printf("        MinLevel = %g MaxLevel = %g\n", min_level(b), max_level(b));
  }
}
