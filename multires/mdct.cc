// Multiscale local DCT: a trous bands, one local DCT per band.
#include "multires/mdct.h"

#include <cmath>
#include <cstdio>

#include "array/array_ops.h"
#include "array/fatal.h"

namespace {

// Standard deviation of the local DCT coefficients of band s for unit white
// noise in the image; the bands from 7 on are taken as noise free.
constexpr double MdctBandNorm[10] = {0.892954,  0.201288,   0.0856941, 0.0419776, 0.0201896,
                                     0.0106804, 0.00813682, 0.,        0.,        0.};

}  // namespace

MDCT::MDCT() { reset(); }

MDCT::~MDCT() { free(); }

void MDCT::reset() {
  TabBand = nullptr;
  TabLocalDCT = nullptr;
  NbrPlan = 0;
  Overlap = False;
  Verbose = False;
}

void MDCT::alloc(int Nl, int Nc, int NbrPlan_in, int BlockSize) {
  free();
  NbrPlan = NbrPlan_in;
  TabBlockSize.alloc(NbrPlan, "TabBlockSize");
  for (int s = 0; s < NbrPlan; s++) TabBlockSize(s) = s == 0 ? BlockSize : 2 * TabBlockSize(s - 1);
  TabLocalDCT = new LOCAL_DCT2D[NbrPlan];
  if (Verbose) std::printf(" Multiscale DCT allocation: Nbr_Plan =  %d\n", NbrPlan);
  for (int s = 0; s < NbrPlan; s++) {
    TabLocalDCT[s].alloc(Nl, Nc, TabBlockSize(s), Overlap, False);
    if (Verbose)
      std::printf("   Band %d, BlockSize = %d, Nl = %d, Nc = %d \n", s + 1, TabBlockSize(s), nl(s),
                  nc(s));
  }
  AWT.alloc(TabBand, Nl, Nc, NbrPlan);
}

void MDCT::free() {
  if (TabBand != nullptr) AWT.free(TabBand, NbrPlan);
  delete[] TabLocalDCT;
  TabBand = nullptr;
  TabLocalDCT = nullptr;
  NbrPlan = 0;
}

void MDCT::transform(to_array<float, false>& Ima) {
  if (Verbose) std::printf("Isotropic WT \n");
  AWT.transform(Ima, TabBand, NbrPlan);
  for (int s = 0; s < NbrPlan; s++) {
    if (Verbose) std::printf("  Local DCT, band %d\n", s + 1);
    TabLocalDCT[s].transform(TabBand[s]);
    if (Verbose) {
      INFO(TabLocalDCT[s].DCTIma, "DCT band");
      std::printf("  Norm band  = %g\n", norm_band(s));
    }
  }
}

void MDCT::recons(to_array<float, false>& Ima) {
  for (int s = 0; s < NbrPlan; s++) {
    if (Verbose) std::printf("  Local DCT recons, band %d\n", s + 1);
    TabLocalDCT[s].recons(TabBand[s]);
  }
  if (Verbose) std::printf("Isotropic Wavelet recons \n");
  AWT.recons(TabBand, Ima, NbrPlan, True);
}

float MDCT::norm_band(int s) const {
  return s < 0 || s > 9 ? 0.f : static_cast<float>(MdctBandNorm[s]);
}

void MDCT::threshold(float Noise, float NSigma) {
  for (int s = 0; s < nbr_scale(); s++) {
    const float level = Noise * norm_band(s);
    std::printf("  Local DCT, band %d Level = %g\n", s + 1, level);
    const float cut = NSigma * level;
    float* coef = TabLocalDCT[s].DCTIma.buffer();
    const int n = TabLocalDCT[s].DCTIma.n_elem();
    for (int k = 0; k < n; k++)
      if (std::fabs(coef[k]) < cut) coef[k] = 0.f;
  }
}

int MDCT::nl(int s) const {
  test_scale(s);
  return TabLocalDCT[s].nl();
}

int MDCT::nc(int s) const {
  test_scale(s);
  return TabLocalDCT[s].nc();
}

float& MDCT::operator()(int s, int i, int j) const {
  test_scale(s);
  test_indj(s, j);
  test_indi(s, i);
  return TabLocalDCT[s](i, j);
}

void MDCT::test_scale(int s) const {
  if (s < 0 || s >= NbrPlan) fatal_exitf(-1, stdout, "Error: bad scale index. s = %d\n", s);
}

void MDCT::test_indi(int s, int i) const {
  if (i < 0 || i >= nl(s)) fatal_exitf(-1, stdout, "Error: bad i index. i = %d\n", i);
}

void MDCT::test_indj(int s, int j) const {
  if (j < 0 || j >= nc(s)) fatal_exitf(-1, stdout, "Error: bad j index. j = %d\n", j);
}
