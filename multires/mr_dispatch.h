// Forward, inverse and adjoint dispatch of MultiResol over type_transform:
// one table row per type gives the family's operations, so a type is built
// by filling its row, and a type without operations is refused before any
// band is allocated.
#pragma once

#include "array/base_types.h"
#include "array/to_array.h"
#include "multires/mr_types.h"

class MultiResol;

struct MRTypeOps {
  void (*transform)(to_array<float, false>& Ima, MultiResol& MR, Bool HaarFlag,
                    type_border Border, Bool Details);
  void (*recons)(MultiResol& MR, to_array<float, false>& Ima, type_border Border,
                 Bool HaarFlag);
  // Null: the adjoint is the plain reconstruction.
  void (*adjoint)(MultiResol& MR, to_array<float, false>& Ima, Bool UseLastScale,
                  type_border Border);
  // Null: the bands take the layout of the type's family. Otherwise builds
  // the type's own transform object and lays out its bands (lay_out_bands)
  // once the common fields of the allocation are set.
  void (*alloc)(MultiResol& MR) = nullptr;
  // Releases what alloc built; run by free and by a second alloc.
  void (*release)(MultiResol& MR) = nullptr;
};

// The operations of a type; null when this build does not carry them.
const MRTypeOps* mr_type_ops(type_transform T);
// Fills the row of a type whose transform lives in a library above this one
// (the fast curvelet); a row already filled is kept. Until then the type is
// refused as not available.
void mr_register_type(type_transform T, const MRTypeOps* Ops);
// Stops the process with a message naming the type when it is not built.
void mr_check_type_available(type_transform T);

// Forward transform of Ima into the bands of MR (allocated for Ima's size
// and the type). HaarFlag reaches only type 29; Details = 0 leaves the
// successive smoothings in the bands where the construction allows it.
void mr_transform(to_array<float, false>& Ima, MultiResol& MR, Bool HaarFlag = False,
                  type_border Border = I_CONT, Bool Details = True);
void mr_recons(MultiResol& MR, to_array<float, false>& Ima, type_border Border = I_CONT,
               Bool HaarFlag = False);
void mr_adjoint_rec(MultiResol& MR, to_array<float, false>& Ima, Bool UseLastScale,
                    type_border Border);

// Inverse of the cube types: the plain sum of the bands.
void mr_cube_recons(MultiResol& MR, to_array<float, false>& Ima, type_border Border,
                    Bool HaarFlag);

// Inverse of the pyramids: interpolation by two of each level plus the band
// (no interpolation at band 0 of the half-pyramid).
void mr_pyramid_recons(MultiResol& MR, to_array<float, false>& Ima, type_border Border,
                       Bool HaarFlag);
// Inverse of the min-max pyramids: bilinear enlargement plus the band.
void mr_pyr_minmax_recons(MultiResol& MR, to_array<float, false>& Ima, type_border Border,
                          Bool HaarFlag);

// The families' rows (one file per family).
extern const MRTypeOps PaveLinearOps, PaveBsplineOps, PaveHaarOps, PaveMedianOps;
extern const MRTypeOps PyrLinearOps, PyrBsplineOps, PyrMedianOps, PyrLaplacianOps,
    SemiPyrOps;
extern const MRTypeOps UndecMallatOps, UndecNonOrthoOps;
extern const MRTypeOps HaarOps, DiadicHaarOps;
extern const MRTypeOps PaveMinMaxOps, PyrMinMaxOps;
extern const MRTypeOps FourierWaveletOps;
extern const MRTypeOps PyrTmtoOps, SemiPyrTmtoOps, ScalingFunctionOps;
extern const MRTypeOps FeauveauOps, FeauveauTrouOps, LiftingOps, GMinMaxOps;
extern const MRTypeOps DiadicMallatOps;
extern const MRTypeOps LineColOps;
extern const MRTypeOps MeyerOps;
