// Construction, defaults, allocation and release of the MCA object.
#include "mca/mca.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "array/fatal.h"
#include "mca/mca_base_family.h"
#include "multires/mr_regul.h"

namespace {

// Largest scale count of the total-variation step on an nl x nc image: the
// Haar hole of its coarsest detail scale, 2^(n-2), stays inside the image,
// and every scale is undecimated (the decimated scales that follow blow the
// component up). Two scales always fit.
int largest_tv_scale_count(int nl, int nc) {
  const int all_undecimated = MR_Regul().NbrUndecScale + 1;
  const int64_t side = std::min(nl, nc);
  int largest = 2;
  while (largest < all_undecimated && (int64_t{1} << (largest - 1)) < side) largest++;
  return largest;
}

}  // namespace

MCA::MCA() {
  AT_TabBand = nullptr;
  AT_TabBandCorrel = nullptr;
  WT_Trans = nullptr;
  WT_Filter = nullptr;
  WT_SB1D = nullptr;
  WT_TabDec = nullptr;
  WT_TabBand = nullptr;
  WT_TabBandCorrel = nullptr;
  WT_NbrBand = 0;
  NbrBase = 0;
  reset();
}

MCA::~MCA() {
  free();
  // The correlation bands outlive free(), as the other correlation objects do.
  if (AT_TabBandCorrel != nullptr) AT_Trans.free(AT_TabBandCorrel, AT_NbrScale);
  delete[] WT_TabBandCorrel;
  WT_TabBandCorrel = nullptr;
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
  ZoomTop = 255.f;
  ResultScale = 1.f;
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

  // Every base's own fields, in the order of the enumeration.
  for (int b = 0; b < NBR_MCA_BASES; b++) mca_base_family(static_cast<type_mcabase>(b)).reset(*this);

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
  if (TV == 1 && TV_NbrScale2D > largest_tv_scale_count(Nl, Nc))
    fatal_exitf(-1, stdout,
                "Error: bad number of TV scales: %d (at most %d for an image of %d x %d) ...\n",
                TV_NbrScale2D, largest_tv_scale_count(Nl, Nc), Nl, Nc);
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
    mca_base_family(TabSelect[b]).alloc(*this);
  }
  if (UseCorrel) ImaCorrel.alloc(Nl, Nc, "imacorrel");
  if (NbrBase < 1) fatal_exit("Error: no selected transform ... \n");
  if (Verbose) std::printf("Number of selected bases = %d\n", NbrBase);
}

void MCA::free() {
  for (int b = 0; b < NbrBase && b < MAX_MCA_BASES; b++) {
    const MCABaseFamily& family = mca_base_family(TabSelect[b]);
    if (family.free != nullptr) family.free(*this);
  }
  NbrBase = 0;
}
