// The separable sub-band types of the dispatch: the Mallat and undecimated
// (bi-)orthogonal types over the half-decimated transform with a bank made
// for the call from the object's filter description, and the non-orthogonal
// undecimated type over the object's undecimated bank.
#include "array/fatal.h"
#include "filters/sub_band_filter.h"
#include "multires/half_decimated_2d_wt.h"
#include "multires/mr_dispatch.h"
#include "multires/multiresol.h"
#include "multires/sub_band_2d.h"

namespace {

using Image = to_array<float, false>;

void need_filter_bank(const MultiResol& mr) {
  if (mr.FilterBank == nullptr) fatal_exit("Error: filter bank is not defined ... \n");
}

void need_undec_filter_bank(const MultiResol& mr) {
  if (mr.UndecFilterBank == nullptr)
    fatal_exit("Error: undecimated filter bank is not defined ... \n");
}

void undec_mallat_transform(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  need_filter_bank(mr);
  SubBandFilter filter(*mr.FilterBank, mr.TypeNorm);
  HALF_DECIMATED_2D_WT wt(filter);
  wt.transform(ima, mr.TabBand, mr.NbrScale, mr.NbrUndecScale);
}

void undec_mallat_recons(MultiResol& mr, Image& ima, type_border, Bool) {
  need_filter_bank(mr);
  SubBandFilter filter(*mr.FilterBank, mr.TypeNorm);
  HALF_DECIMATED_2D_WT wt(filter);
  if (ima.nl() != mr.Nl || ima.nc() != mr.Nc) ima.alloc(mr.Nl, mr.Nc);
  wt.recons(mr.TabBand, ima, mr.NbrScale, mr.NbrUndecScale);
}

void undec_non_ortho_transform(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  need_undec_filter_bank(mr);
  PAVE_2D_WT wt(*mr.UndecFilterBank);
  wt.transform(ima, mr.TabBand, mr.NbrScale);
}

void undec_non_ortho_recons(MultiResol& mr, Image& ima, type_border, Bool) {
  need_undec_filter_bank(mr);
  PAVE_2D_WT wt(*mr.UndecFilterBank);
  if (ima.nl() != mr.Nl || ima.nc() != mr.Nc) ima.alloc(mr.Nl, mr.Nc);
  wt.recons(mr.TabBand, ima, mr.NbrScale);
}

}  // namespace

const MRTypeOps UndecMallatOps = {undec_mallat_transform, undec_mallat_recons, nullptr};
const MRTypeOps UndecNonOrthoOps = {undec_non_ortho_transform, undec_non_ortho_recons, nullptr};
