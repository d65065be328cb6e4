// The dispatch table and the MultiResol members that wrap it. The a trous
// B3-spline type reconstructs (and, when asked, transforms) through
// ATROUS_2D_WT so that its modified and adjoint forms are available.
#include "multires/mr_dispatch.h"

#include <cstdio>

#include "array/fatal.h"
#include "multires/atrous_2d_wt.h"
#include "multires/multiresol.h"

namespace {

// Filled for the types whose families are built; the others stay null
// until a library above registers them.
const MRTypeOps* TypeTable[NBR_TRANSFORM] = {
    &PaveLinearOps,    // 0
    &PaveBsplineOps,   // 1
    &FourierWaveletOps, // 2
    &PaveMedianOps,    // 3
    &PaveMinMaxOps,    // 4
    &PyrLinearOps,     // 5
    &PyrBsplineOps,    // 6
    &FourierWaveletOps, // 7
    &MeyerOps,         // 8
    &PyrMedianOps,     // 9
    &PyrLaplacianOps,  // 10
    &PyrMinMaxOps,     // 11
    &ScalingFunctionOps, // 12
    &UndecMallatOps,   // 13 Mallat, every scale decimated
    &FeauveauOps,      // 14
    &FeauveauTrouOps,  // 15
    &LineColOps,           // 16 line-column
    &HaarOps,          // 17
    &SemiPyrOps,       // 18
    &SemiPyrTmtoOps,   // 19
    &DiadicMallatOps,  // 20
    &PyrTmtoOps,       // 21
    &PaveHaarOps,      // 22
    &UndecMallatOps,   // 23
    &UndecNonOrthoOps, // 24
    &MeyerOps,         // 25 isotropic windows
    &FourierWaveletOps, // 26
    nullptr,           // 27 fast curvelet, registered by its library
    &LiftingOps,       // 28
    &DiadicHaarOps,    // 29
    &GMinMaxOps,       // 30
};

bool warned_adjoint = false;

}  // namespace

const MRTypeOps* mr_type_ops(type_transform T) {
  if (T < 0 || T >= NBR_TRANSFORM) return nullptr;
  return TypeTable[T];
}

void mr_register_type(type_transform T, const MRTypeOps* Ops) {
  if (T < 0 || T >= NBR_TRANSFORM || TypeTable[T] != nullptr) return;
  TypeTable[T] = Ops;
}

void mr_check_type_available(type_transform T) {
  if (mr_type_ops(T) == nullptr)
    fatal_exitf(-1, stdout, "Error: the transform \"%s\" (type %d) is not available in this version ...\n",
                StringTransform(T), static_cast<int>(T));
}

void mr_transform(to_array<float, false>& Ima, MultiResol& MR, Bool HaarFlag, type_border Border,
                  Bool Details) {
  MR.Border = Border;
  const MRTypeOps* ops = mr_type_ops(MR.Type_Transform);
  if (ops == nullptr) {
    if (MR.Type_Transform < 0 || MR.Type_Transform >= NBR_TRANSFORM)
      fatal_exit("Error (proc. mr_iso_transform):Unknown transform\n", -1, stderr);
    mr_check_type_available(MR.Type_Transform);
  }
  ops->transform(Ima, MR, HaarFlag, Border, Details);
}

void mr_recons(MultiResol& MR, to_array<float, false>& Ima, type_border Border, Bool HaarFlag) {
  const MRTypeOps* ops = mr_type_ops(MR.Type_Transform);
  if (ops == nullptr) {
    if (MR.Type_Transform < 0 || MR.Type_Transform >= NBR_TRANSFORM)
      fatal_exit("Error (proc. mr_recons):Unknown transform\n", -1, stderr);
    mr_check_type_available(MR.Type_Transform);
  }
  ops->recons(MR, Ima, Border, HaarFlag);
}

void mr_adjoint_rec(MultiResol& MR, to_array<float, false>& Ima, Bool UseLastScale,
                    type_border Border) {
  const MRTypeOps* ops = mr_type_ops(MR.Type_Transform);
  if (ops != nullptr && ops->adjoint != nullptr) {
    ops->adjoint(MR, Ima, UseLastScale, Border);
    return;
  }
  if (!warned_adjoint) {
    warned_adjoint = true;
    std::printf("Warning: adjoint reconstruction operator not implemeted \n");
    std::printf("         use a simple reconstruction ... \n");
  }
  if (!UseLastScale) MR.TabBand[MR.NbrBand - 1].init();
  MR.recons(Ima, I_CONT);
}

void MultiResol::filter_bank_alloc() {
  if (Type_Transform != TO_MALLAT && Type_Transform != TO_UNDECIMATED_MALLAT &&
      Type_Transform != TO_LC)
    return;
  if (FilterBank != nullptr) {
    if (FilterBank->type_filter() != SBFilter)
      fatal_exit("Error: the allocated filter bank is different from the specified one ... \n");
    return;
  }
  FilterBank = new FilterAnaSynt();
  FilterBank->Verbose = Verbose;
  FilterBank->alloc(SBFilter);
  FilterBankOwned = True;
}

void MultiResol::transform(to_array<float, false>& Ima) { transform(Ima, Border, True); }

void MultiResol::transform(to_array<float, false>& Ima, type_border B, Bool Details) {
  Border = B;
  filter_bank_alloc();
  // The modified a trous transform takes neither the border rule nor the
  // cube form: it runs with its own defaults.
  if (Type_Transform == TO_PAVE_BSPLINE && ModifiedATWT) {
    ATROUS_2D_WT atrous;
    atrous.ModifiedATWT = True;
    atrous.transform(Ima, TabBand, NbrScale);
    return;
  }
  mr_transform(Ima, *this, HaarDir2Flag, B, Details);
}

namespace {

// Type 1 reconstructs through the a trous object: plain, modified or
// adjoint as asked.
void atrous_recons(MultiResol& mr, to_array<float, false>& ima, Bool modified, Bool adjoint,
                   type_border border, Bool add_last_scale) {
  ATROUS_2D_WT atrous;
  atrous.ModifiedATWT = modified;
  atrous.Adjoint = adjoint;
  atrous.Border = border;
  if (ima.nl() != mr.Nl || ima.nc() != mr.Nc) ima.alloc(mr.Nl, mr.Nc);
  atrous.recons(mr.TabBand, ima, mr.NbrScale, add_last_scale);
}

}  // namespace

void MultiResol::recons(to_array<float, false>& Ima, type_border B) {
  filter_bank_alloc();
  if (Type_Transform == TO_PAVE_BSPLINE) atrous_recons(*this, Ima, ModifiedATWT, False, B, True);
  else mr_recons(*this, Ima, B, HaarDir2Flag);
}

void MultiResol::rec_adjoint(to_array<float, false>& Ima, Bool UseLastScale, type_border B) {
  filter_bank_alloc();
  if (Type_Transform == TO_PAVE_BSPLINE) atrous_recons(*this, Ima, False, True, B, UseLastScale);
  else mr_adjoint_rec(*this, Ima, UseLastScale, B);
}
