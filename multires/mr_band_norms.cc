// The band-norm tables and the choice of a table by transform type. The
// values were measured once on simulated white noise; a trailing 0 marks a
// scale that was never measured.
#include "multires/mr_band_norms.h"

#include <cmath>
#include <cstdio>

#include "array/fatal.h"

const BandNormTable TabNormPaveLinear = {0.800368, 0.272765,  0.119628,   0.0575768, 0.0292096,
                                         0.0147667, 0.00780443, 0, 0, 0};
const BandNormTable TabNormPaveB3Spline = {0.889434,  0.200105,   0.0857724, 0.0413447, 0.0202689,
                                           0.00995628, 0.00513504, 0, 0, 0};
const BandNormTable TabNormPaveFFT = {0.968976, 0.112575, 0.049161, 0.023409, 0.01084,
                                      0.005771, 0.002001, 0, 0, 0};
const BandNormTable TabNormPaveMed5 = {0.989353,  0.208126,   0.0930072,  0.047539,  0.0240318,
                                       0.0137446, 0.00771696, 0.00393747, 0.0047435, 0};
const BandNormTable TabNormPaveMed3 = {0.970459,  0.337561,  0.176449, 0.0979767,  0.0536651,
                                       0.0292211, 0.0170532, 0.010303, 0.00732031, 0};
const BandNormTable TabNormPyrLinear = {0.799733,  0.27278,   0.119974, 0.0581741, 0.028896,
                                        0.0144647, 0.0075949, 0, 0, 0};
const BandNormTable TabNormPyrFFT_Diff = {0.967509,   0.113718,   0.0481781, 0.0232149, 0.011826,
                                          0.00577454, 0.00296613, 0, 0, 0};
const BandNormTable TabNormPyrFFT_Square = {0.984522, 0.13577,  0.057616, 0.028759, 0.015023,
                                            0.007133, 0.001372, 0, 0, 0};
const BandNormTable TabNormPyrLaplacian = {0.916072,   0.253218, 0.0712446, 0.021007, 0.00899726,
                                           0.004002, 0.002001, 0, 0, 0};
const BandNormTable TabNormMallat = {0.5,      0.25,      0.125,      0.0625,      0.03125,
                                     0.015625, 0.0078125, 0.00390625, 0.001953125, 0.0009765625};
const BandNormTable TabNormFeauveau = {0.7,      0.501087, 0.353383,  0.251154,  0.178927,
                                       0.126607, 0.087654, 0.0608978, 0.0441607, 0.0302819};
const BandNormTable TabNormPyrB3Spline = {0.88937,   0.200924,  0.08544,    0.0410743, 0.0208055,
                                          0.0108577, 0.00528016, 0, 0, 0};
const BandNormTable TabNormPyrMedian5 = {0.970291,  0.338748,  0.178373, 0.0992649, 0.0539517,
                                         0.0317369, 0.0188998, 0.01365,  0, 0};
const BandNormTable TabNormPyrMedian3 = {0.999234,  0.438327,  0.2347,    0.132756, 0.0757592,
                                         0.0466552, 0.0326198, 0.0401325, 0, 0};
const BandNormTable TabNorm1 = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
const BandNormTable TabNormMinMax = {1, 0.4, 0.28, 0.25, 0.25, 0, 0, 0, 0, 0};
const BandNormTable TabNormDiadicMallat = {2.82494,   0.741742,  0.319126,  0.156064, 0.0811592,
                                           0.0464773, 0.0349472, 0.012,     0, 0};
const BandNormTable TabNormGradDiadicMallat = {1.95818,  0.498473,  0.213932,  0.107204, 0.0590752,
                                               0.0386296, 0.030227, 0.0282632, 0.012381, 0};
const BandNormTable TabNormSemiPyr = {0.889505,  0.201211,   0.0876197,  0.043199, 0.0250364,
                                      0.0123624, 0.00731319, 0.00646761, 0, 0};
const BandNormTable TabNormPaveHaar = {0.866227,  0.433013,  0.216506, 0.108253,   0.0541266,
                                       0.0270633, 0.015625,  0.0078125, 0.00390625, 0.00195312};
const BandNormTable TabNormUndecNonOrth_B2SPLINE_HOR = {
    0.443045,   0.166417,   0.0755669, 0.0367922,  0.018271,
    0.00911981, 0.00455783, 0.0022783, 0.00260405, 0.00260405};
const BandNormTable TabNormUndecNonOrth_B2SPLINE_DIAG = {
    0.523438,   0.161133,   0.0679931,  0.0324249,  0.016016,
    0.00798335, 0.00398832, 0.00199306, 0.00199306, 0.00199306};
const BandNormTable TabNormUndecNonOrth_B3SPLINE_HOR_2 = {
    0.421425,   0.121383,    0.0541457,    0.0263682,     0.013099,
    0.00653883, 0.003269415, 0.0016347075, 0.00081735375, 0.000408676875};
const BandNormTable TabNormUndecNonOrth_B3SPLINE_DIAG_2 = {
    0.649505,   0.119327,   0.0485716,  0.0231647,  0.011449,
    0.00570776, 0.00285388, 0.00142694, 0.00071347, 0.000356735};
const BandNormTable TabNormUndecNonOrth_B3SPLINE_ISOTROP_2 = {
    1.09995,   0.272904,   0.119071,    0.0577063,     0.0286334,
    0.0142893, 0.00714465, 0.003572325, 0.00089308125, 0.000446540625};

BandNormTable TabNormDiadicHaar, TabNormUndecimatedMallat, TabNormUndecNonOrth_B3SPLINE_HOR,
    TabNormUndecNonOrth_B3SPLINE_DIAG;

namespace {

// The tails of the B3-spline tables continue the third entry, taken in
// single precision, halving per scale.
constexpr float CST_UNOT = 0.0437185f;
constexpr float CST_UNOTD = 0.0316653f;

bool fill_start_up_tables() {
  const double inv_sqrt2 = 1. / std::sqrt(2.);
  for (int s = 0; s < NBR_NORM_SCALES; s++) {
    TabNormDiadicHaar[s] = inv_sqrt2 / std::pow(2., s);
    TabNormUndecimatedMallat[s] = TabNormDiadicHaar[s];
  }
  const double hor[7] = {0.378322, 0.100304, 0.0437185, 0.0211748, 0.0105051, 0.00524224,
                         0.0026196};
  const double diag[7] = {0.523438, 0.0814819, 0.0316653, 0.0149385, 0.00736354, 0.00366867,
                          0.00183254};
  for (int s = 0; s < 7; s++) {
    TabNormUndecNonOrth_B3SPLINE_HOR[s] = hor[s];
    TabNormUndecNonOrth_B3SPLINE_DIAG[s] = diag[s];
  }
  for (int s = 7; s < NBR_NORM_SCALES; s++) {
    const double divisor = std::pow(2., s - 2);
    TabNormUndecNonOrth_B3SPLINE_HOR[s] = static_cast<double>(CST_UNOT) / divisor;
    TabNormUndecNonOrth_B3SPLINE_DIAG[s] = static_cast<double>(CST_UNOTD) / divisor;
  }
  return true;
}

const bool StartUpTablesFilled = fill_start_up_tables();

[[noreturn]] void bad_median_window() {
  fatal_exit("Error Bad window size for the median transform ...\n", -1, stderr);
}

double undec_non_ortho_norm(int s, details d, type_undec_filter U) {
  const bool diag = d == DetailDiag;
  switch (U) {
    case U_B3SPLINE:
      return diag ? TabNormUndecNonOrth_B3SPLINE_DIAG[s] : TabNormUndecNonOrth_B3SPLINE_HOR[s];
    case U_B3SPLINE_2:
      return diag ? TabNormUndecNonOrth_B3SPLINE_DIAG_2[s]
                  : TabNormUndecNonOrth_B3SPLINE_HOR_2[s];
    case U_B2SPLINE:
      return diag ? TabNormUndecNonOrth_B2SPLINE_DIAG[s] : TabNormUndecNonOrth_B2SPLINE_HOR[s];
    case U_HARR_B3SPLINE_POS:
      return (diag ? 1.06 : 1.22) / (std::pow(2., s + 1) * std::sqrt(2.));
    case U_HARR_B3SPLINE: return 1. / std::pow(2., s + 1);
  }
  return 0.;
}

}  // namespace

double mr_scale_norm(int s, type_transform T, int W, details d, type_undec_filter U) {
  (void)StartUpTablesFilled;
  if (s > 9) return 1.;
  if (T < 0 || T >= NBR_TRANSFORM)
    fatal_exit("scale_norm: noise_compute => Not implemented\n", -1, stderr);
  if (s < 0) return 1.;
  switch (T) {
    case TO_PAVE_LINEAR: return TabNormPaveLinear[s];
    case TO_PAVE_BSPLINE: return TabNormPaveB3Spline[s];
    case TO_PAVE_FFT: return TabNormPaveFFT[s];
    case TM_PAVE_MEDIAN:
      if (W == 5) return TabNormPaveMed5[s];
      if (W == 3) return TabNormPaveMed3[s];
      bad_median_window();
    case TM_PAVE_MINMAX:
    case TM_PYR_MINMAX:
    case TM_PYR_SCALING_FUNCTION: return TabNormMinMax[s];
    case TO_PYR_LINEAR: return TabNormPyrLinear[s];
    case TO_PYR_BSPLINE:
    case TM_TO_PYR: return TabNormPyrB3Spline[s];
    case TO_PYR_FFT_DIFF_RESOL: return TabNormPyrFFT_Diff[s];
    case TO_PYR_MEYER: return s == 0 ? 0.925 : 0.65;
    case TM_PYR_MEDIAN:
      if (W == 5) return TabNormPyrMedian5[s];
      if (W == 3) return TabNormPyrMedian3[s];
      bad_median_window();
    case TM_PYR_LAPLACIAN: return TabNormPyrLaplacian[s];
    case TO_MALLAT:
    case TO_UNDECIMATED_MALLAT: return TabNormMallat[s];
    case TO_FEAUVEAU:
    case TO_PAVE_FEAUVEAU: return TabNormFeauveau[s];
    case TO_LC:
    case TC_FCT: return 1.;
    case TO_HAAR:
    case TO_LIFTING:
    case TM_MIN_MAX: return TabNorm1[s];
    case TO_SEMI_PYR:
    case TM_TO_SEMI_PYR: return TabNormSemiPyr[s];
    case TO_DIADIC_MALLAT: return TabNormDiadicMallat[s];
    case TO_PAVE_HAAR: return TabNormPaveHaar[s];
    case TO_UNDECIMATED_NON_ORTHO: return undec_non_ortho_norm(s, d, U);
    case TO_PYR_MEYER_ISOTROP: return s == 0 ? 0.94 : 0.58;
    case TO_PYR_FFT_DIFF_SQUARE: return TabNormPyrFFT_Square[s];
    case TO_DIADIC_HAAR: return TabNormDiadicHaar[s];
    case T_UNDEFINED: break;
  }
  return 1.;
}
