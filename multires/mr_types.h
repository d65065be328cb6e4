// The vocabulary of the multiresolution library: the transform types that
// MultiResol dispatches over, the seven band-layout families they fall into,
// the kind of a band within its scale, and the mapping between a band index
// and its (scale, kind) in each family.
#pragma once

enum type_transform {
  T_UNDEFINED = -1,
  TO_PAVE_LINEAR = 0,
  TO_PAVE_BSPLINE = 1,
  TO_PAVE_FFT = 2,
  TM_PAVE_MEDIAN = 3,
  TM_PAVE_MINMAX = 4,
  TO_PYR_LINEAR = 5,
  TO_PYR_BSPLINE = 6,
  TO_PYR_FFT_DIFF_RESOL = 7,
  TO_PYR_MEYER = 8,
  TM_PYR_MEDIAN = 9,
  TM_PYR_LAPLACIAN = 10,
  TM_PYR_MINMAX = 11,
  TM_PYR_SCALING_FUNCTION = 12,
  TO_MALLAT = 13,
  TO_FEAUVEAU = 14,
  TO_PAVE_FEAUVEAU = 15,
  TO_LC = 16,
  TO_HAAR = 17,
  TO_SEMI_PYR = 18,
  TM_TO_SEMI_PYR = 19,
  TO_DIADIC_MALLAT = 20,
  TM_TO_PYR = 21,
  TO_PAVE_HAAR = 22,
  TO_UNDECIMATED_MALLAT = 23,
  TO_UNDECIMATED_NON_ORTHO = 24,
  TO_PYR_MEYER_ISOTROP = 25,
  TO_PYR_FFT_DIFF_SQUARE = 26,
  TC_FCT = 27,
  TO_LIFTING = 28,
  TO_DIADIC_HAAR = 29,
  TM_MIN_MAX = 30
};
constexpr int NBR_TRANSFORM = 31;

enum set_transform {
  S_UNDEFINED = -1,
  TRANSF_PAVE = 0,
  TRANSF_PYR = 1,
  TRANSF_SEMIPYR = 2,
  TRANSF_MALLAT = 3,
  TRANSF_DIADIC_MALLAT = 4,
  TRANSF_UNDECIMATED_MALLAT = 5,
  TRANSF_FEAUVEAU = 6
};

enum details {
  DetailNone = 0,
  DetailFirst = 1,   // 3k (Mallat families), 2k (diadic)
  DetailDiag = 2,    // 3k+2, the diagonal detail
  DetailSecond = 3,  // 3k+1 (Mallat families), 2k+1 (diadic)
  DetailSmooth = 4,  // the last band
  DetailFeauFirst = 5,
  DetailFeauSecond = 6
};

const char* StringTransform(type_transform T);
const char* StringSetTransform(set_transform S);
// The family of a type; a value outside 0..30 stops the process with
// "Error: bad parameter Transform" (status -1).
set_transform SetTransform(type_transform T);
// Bands per resolution of the type's family: 1, 3 or 2; -1 for no family.
int number_band_per_resol(type_transform T);

// Scale and kind of band b of a transform of type T with NbrBand bands;
// returns the family.
set_transform band2scale(int b, type_transform T, int NbrBand, int& s, details& d);
// Band index of scale s and kind d; a kind that the family does not have
// stops the process.
int scale2band(int s, type_transform T, int NbrBand, details d);
