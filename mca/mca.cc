// Construction, defaults, allocation and release of the MCA object.
#include "mca/mca.h"

#include <cstdio>

#include "array/fatal.h"

namespace {

const char* const MCABaseText[NBR_MCA_BASES] = {
    "A trous algorithm",
    "bi-orthogonal WT with 7/9 filters",
    "Ridgelet transform",
    "Curvelet transform 02",
    "Local Discrete Cosinus Transform",
    "Wavelet Packet basis",
    "Curvelet transform 05 (Pyramidal Construction)",
    "Curvelet transform 04 (Fast Transform)",
    "Multiscale Local Discrete Cosinus Transform",
    "Pixel basis",
    "Multi-Direction WT",
    "FFT2D-WT1D-PowSpectrum"};

}  // namespace

const char* StringMCABase(type_mcabase base) {
  int b = static_cast<int>(base);
  return (b >= 0 && b < NBR_MCA_BASES) ? MCABaseText[b] : "Undefined transform";
}

MCA::MCA() {
  AT_TabBand = nullptr;
  AT_TabBandCorrel = nullptr;
  NbrBase = 0;
  reset();
}

MCA::~MCA() {
  free();
  // The correlation bands outlive free(), as the other correlation objects do.
  if (AT_TabBandCorrel != nullptr) AT_Trans.free(AT_TabBandCorrel, AT_NbrScale);
  reset();
}

void MCA::reset() {
  // General fields.
  Nl = Nc = 0;
  RidNl = RidNc = 0;
  Lambda = LambdaStep = 0.f;
  WriteAll = 0;
  UseZoom = 0;
  ZoomFactor = 4;
  TV_NbrScale2D = 0;
  T_Decreasing = 0;
  for (auto& base : TabSelect) base = MCA_ATROU;
  NbrBase = 0;
  PositivSol = 1;
  CurBord = I_MIRROR;
  Nbr_Iter = 1000;
  Noise_Ima = 0.f;
  // Nothing else gives it a value, and only 0 (not stabilised) is meaningful
  // for the ridgelet projection of an unstabilised image.
  Rid_VarianceStab = 0;
  Verbose = 0;
  FirstSoftThreshold = 0.f;
  LastSoftThreshold = 3.0f;
  TV = 0;
  LambdaTV = 0.f;
  UseNormL1 = 0;
  RemoveLastScale = 1;

  // A trous.
  AT_TabBand = nullptr;
  AT_NbrScale = 4;
  AT_KillLastScale = 1;
  AT_PositivSol = PositivSol;
  // Ridgelet.
  Rid_BlockSize = -1;
  Rid_FirstDetectScale = 0;
  Rid_PositivSol = PositivSol;
  // Curvelet 02.
  Cur_BlockSize = 16;
  Cur_BlockOverlap = 0;
  Cur_PositivSol = PositivSol;
  Cur_NbrScale = 4;
  Cur_KillLastScale = 0;
  // Pyramidal curvelet.
  PCur_BlockSize = 16;
  PCur_BlockOverlap = 0;
  PCur_PositivSol = PositivSol;
  PCur_NbrScale = 4;
  PCur_KillLastScale = 0;
  // Fast curvelet.
  FCur_NbrDir = 32;
  FCur_PositivSol = PositivSol;
  FCur_NbrScale = 4;
  FCur_KillLastScale = 0;
  // Bi-orthogonal WT.
  WT_NbrUndecimatedScale = 1;
  WT_NbrScale = 4;
  WT_PositivSol = PositivSol;
  // Local DCT.
  LDCT_BlockSize = 32;
  LDCT_BlockOverlap = 0;
  COS_Sensibility = 1.0f;
  COS_Min = 0.f;
  COS_WeightFirst = 0;
  CosIsotrop = 0;
  // Multiscale local DCT.
  MDCT_PositivSol = 0;
  MDCT_BlockSize = 8;
  MDCT_BlockOverlap = 0;
  MDCT_NbrScale = 4;
  // Multi-direction WT.
  DWT_NbrAngle = 10;
  DWT_NbrScale = 4;
  DWT_NbrScaleCol = 4;
  DWT_PositivSol = PositivSol;
  // Wavelet packets.
  WP_NbrScale = 4;
  WP_NbrUndecimatedScale = 2;
  WP_PositivSol = 0;
  WP_KillLastBand = 0;
  WP_FilterType = 1;

  Pix_Noise = 0.f;
  UseMad = 0;
  UseMask = 0;
  UseCorrel = 0;
  CorrelConstraint = 0.1f;
}

void MCA::check_selection() const {
  if (NbrBase > MAX_MCA_BASES)
    fatal_exitf(-1, stdout, "Error: too many selected transforms: %d (at most %d) ...\n",
                NbrBase, MAX_MCA_BASES);
}

void MCA::alloc(int Nl_in, int Nc_in, to_array<float, false>* TabIma) {
  check_selection();
  Nl = Nl_in;
  Nc = Nc_in;
  if (TabIma != nullptr)
    for (int b = 0; b < NbrBase; b++) TabIma[b].alloc(Nl, Nc, "alloc");
  Resi.alloc(Nl, Nc, "resi");
  if (RemoveLastScale == 1) {
    if (AT_NbrScale < 2)
      fatal_exitf(-1, stdout,
                  "Error: bad number of scales: %d (the last scale removal needs at least %d) ...\n",
                  AT_NbrScale, 2);
    LastScale.alloc(Nl, Nc, "resi");
  }

  for (int b = 0; b < NbrBase; b++) {
    TabImaRec[b].alloc(Nl, Nc, StringMCABase(TabSelect[b]));
    if (Verbose) std::printf("Selection: %s\n", StringMCABase(TabSelect[b]));
    alloc_base(b);
  }
  if (UseCorrel) ImaCorrel.alloc(Nl, Nc, "imacorrel");
  if (NbrBase < 1) fatal_exit("Error: no selected transform ... \n");
  if (Verbose) std::printf("Number of selected bases = %d\n", NbrBase);
}

void MCA::free() {
  for (int b = 0; b < NbrBase && b < MAX_MCA_BASES; b++) free_base(b);
  NbrBase = 0;
}
