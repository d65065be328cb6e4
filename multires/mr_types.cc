// Texts, families and band/scale maps of the transform types.
#include "multires/mr_types.h"

#include <cstdio>

#include "array/fatal.h"

namespace {

struct TransformInfo {
  const char* text;
  set_transform family;
};

const TransformInfo TransformTable[NBR_TRANSFORM] = {
    {"linear wavelet transform: a trous algorithm", TRANSF_PAVE},
    {"bspline wavelet transform: a trous algorithm", TRANSF_PAVE},
    {"wavelet transform in Fourier space", TRANSF_PAVE},
    {"morphological median transform", TRANSF_PAVE},
    {"morphological minmax transform", TRANSF_PAVE},
    {"pyramidal linear wavelet transform", TRANSF_PYR},
    {"pyramidal bspline wavelet transform", TRANSF_PYR},
    {"pyramidal wavelet transform in Fourier space: algo 1 (diff. between two resolutions)",
     TRANSF_PYR},
    {"Meyer's wavelets (compact support in Fourier space)", TRANSF_PYR},
    {"pyramidal median transform (PMT)", TRANSF_PYR},
    {"pyramidal laplacian", TRANSF_PYR},
    {"morphological pyramidal minmax transform", TRANSF_PYR},
    {"decomposition on scaling function", TRANSF_PYR},
    {"Mallat's wavelet transform (7/9 filters)", TRANSF_MALLAT},
    {"Feauveau's wavelet transform", TRANSF_FEAUVEAU},
    {"Feauveau's wavelet transform without undersampling", TRANSF_PAVE},
    {"Line Column Wavelet Transform (1D+1D)", TRANSF_UNDECIMATED_MALLAT},
    {"Haar's wavelet transform", TRANSF_MALLAT},
    {"half-pyramidal transform", TRANSF_SEMIPYR},
    {"mixed Half-pyramidal WT and Median method (WT-HPMT)", TRANSF_SEMIPYR},
    {"undecimated diadic wavelet transform (two bands per scale)", TRANSF_DIADIC_MALLAT},
    {"mixed WT and PMT method (WT-PMT)", TRANSF_PYR},
    {"undecimated Haar transform: a trous algorithm (one band per scale)", TRANSF_PAVE},
    {"undecimated (bi-) orthogonal transform (three bands per scale)",
     TRANSF_UNDECIMATED_MALLAT},
    {"non orthogonal undecimated transform (three bands per scale)", TRANSF_UNDECIMATED_MALLAT},
    {"Isotropic and compact support wavelet in Fourier space", TRANSF_PYR},
    {"pyramidal wavelet transform in Fourier space: algo 2 (diff. between the square of two "
     "resolutions)",
     TRANSF_PYR},
    {"Fast Curvelet Transform", TRANSF_UNDECIMATED_MALLAT},
    {"Wavelet transform via lifting scheme", TRANSF_MALLAT},
    {"undecimated diadic Haar transform (two bands per scale)", TRANSF_DIADIC_MALLAT},
    {"G transform (morphological min-max algorithm)", TRANSF_MALLAT},
};

bool valid(type_transform T) { return T >= 0 && T < NBR_TRANSFORM; }

set_transform family_or_undefined(type_transform T) {
  return valid(T) ? TransformTable[T].family : S_UNDEFINED;
}

[[noreturn]] void bad_details() {
  fatal_exit("Error: band type details is not correct ... \n", -1, stderr);
}

}  // namespace

const char* StringTransform(type_transform T) {
  return valid(T) ? TransformTable[T].text : "Undefined transform";
}

const char* StringSetTransform(set_transform S) {
  switch (S) {
    case S_UNDEFINED: return "UNDEFINED";
    case TRANSF_PAVE: return "cube transform";
    case TRANSF_PYR: return "pyramidal transform";
    case TRANSF_SEMIPYR: return "half-pyramidal transform";
    case TRANSF_MALLAT: return "MALLAT transform: MALLAT";
    case TRANSF_DIADIC_MALLAT: return "Diadic  transform: MALLAT";
    case TRANSF_UNDECIMATED_MALLAT: return "Undecimated mallat transform";
    case TRANSF_FEAUVEAU: return "FEAUVEAU transform: FEAUVEAU";
  }
  return "Undefined transform";
}

set_transform SetTransform(type_transform T) {
  if (!valid(T)) fatal_exit("Error: bad parameter Transform\n", -1, stderr);
  return TransformTable[T].family;
}

int number_band_per_resol(type_transform T) {
  switch (family_or_undefined(T)) {
    case TRANSF_PAVE:
    case TRANSF_PYR:
    case TRANSF_SEMIPYR: return 1;
    case TRANSF_MALLAT:
    case TRANSF_UNDECIMATED_MALLAT: return 3;
    case TRANSF_DIADIC_MALLAT:
    case TRANSF_FEAUVEAU: return 2;
    case S_UNDEFINED: break;
  }
  return -1;
}

set_transform band2scale(int b, type_transform T, int NbrBand, int& s, details& d) {
  const set_transform family = family_or_undefined(T);
  switch (family) {
    case TRANSF_MALLAT:
    case TRANSF_UNDECIMATED_MALLAT:
      if (b >= NbrBand - 1) {
        d = DetailSmooth;
        s = (NbrBand - 2) / 3;
      } else {
        s = b / 3;
        const int k = b - 3 * s;
        d = k == 0 ? DetailFirst : (k == 1 ? DetailSecond : DetailDiag);
      }
      break;
    case TRANSF_DIADIC_MALLAT:
      if (b < NbrBand - 1) {
        s = b / 2;
        d = b % 2 == 0 ? DetailFirst : DetailSecond;
      } else {
        // One past the last detail scale, as the smooth band of a diadic
        // array has always been reported.
        d = DetailSmooth;
        s = (NbrBand - 1) / 2 + 1;
      }
      break;
    case TRANSF_FEAUVEAU:
      if (b >= NbrBand - 1) {
        d = DetailSmooth;
        s = (NbrBand - 2) / 2;
      } else {
        s = b / 2;
        d = b % 2 == 0 ? DetailFeauFirst : DetailFeauSecond;
      }
      break;
    default:
      s = b;
      d = DetailNone;
      break;
  }
  return family;
}

int scale2band(int s, type_transform T, int NbrBand, details d) {
  switch (family_or_undefined(T)) {
    case TRANSF_MALLAT:
    case TRANSF_UNDECIMATED_MALLAT:
      switch (d) {
        case DetailSmooth: return NbrBand - 1;
        case DetailFirst: return 3 * s;
        case DetailSecond: return 3 * s + 1;
        case DetailDiag: return 3 * s + 2;
        default: bad_details();
      }
    case TRANSF_DIADIC_MALLAT:
      if (d == DetailSmooth || s >= (NbrBand - 1) / 2 + 1) return NbrBand - 1;
      if (d == DetailFirst) return 2 * s;
      if (d == DetailSecond) return 2 * s + 1;
      bad_details();
    case TRANSF_FEAUVEAU:
      if (d == DetailSmooth) return NbrBand - 1;
      if (d == DetailFeauFirst) return 2 * s;
      if (d == DetailFeauSecond) return 2 * s + 1;
      bad_details();
    default: return s;
  }
}
