// Base of the 1D filter banks: default fields, empty steps and the border
// index every bank reads its neighbours through.
#include "filters/sub_band_1d.h"

#include "array/border.h"

SubBand1D::SubBand1D() : LowPhase(1), HighPhase(1), SampleDist(1), Bord(I_MIRROR) {}

SubBand1D::~SubBand1D() {}

// A bank that does not implement a step leaves the outputs untouched.
void SubBand1D::transform(int, float*, float*, float*) {}
void SubBand1D::recons(int, float*, float*, float*) {}
void SubBand1D::noise_transform(int, float*, float*, float*) {}
void SubBand1D::transform(int, float*, float*, float*, int) {}
void SubBand1D::recons(int, float*, float*, float*, int) {}

int SubBand1D::test_index(int i, int N) const {
  if (Bord == I_ZERO) return (i >= 0 && i < N) ? i : -1;
  return get_index(i, N, Bord);
}
