// Dispatch of the MCA over its bases: which bases this build carries, and for
// each base its allocation, release, initialisation, maximum, projection and
// constraint. A base that arrives with its transform adds its cases here and
// its operations in a file of its own (mca_bases_<family>.cc).
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "array/im_util.h"
#include "mca/mca.h"

namespace {

const char* const MCABaseSuffix[NBR_MCA_BASES] = {
    "_atrou", "_wt", "_rid", "_cur", "_cos", "_wp", "_pcur", "_fcur", "_mcos", "_pix", "_dwt", "_ps"};

// Scale counts of the a trous base: below 2 there is no wavelet band, and
// from 9 on the finest band levels would come from the zero entries of the
// band-norm table.
constexpr int MinAtrouScales = 2;
constexpr int MaxAtrouScalesWithNorms = 8;

bool valid_base(type_mcabase base) {
  int b = static_cast<int>(base);
  return b >= 0 && b < NBR_MCA_BASES;
}

[[noreturn]] void not_implemented() { fatal_exit("Error: not implemeted transform ... \n"); }

[[noreturn]] void isotropic_spectrum_unavailable() {
  fatal_exit("Error: the isotropic spectrum constraint is not available in this version ...\n");
}

// Super-resolution with a texture base second: the texture may not take a
// pixel of the first component below 0 nor their sum above 255, the range
// of the zoomed 8-bit data.
void bound_zoomed_pair(const to_array<float, false>& first, to_array<float, false>& second) {
  const float* p0 = first.buffer();
  float* p1 = second.buffer();
  const int n = second.n_elem();
  for (int k = 0; k < n; k++) {
    if (p1[k] < -p0[k]) p1[k] = -p0[k];
    if (p1[k] + p0[k] > 255.f) p1[k] = 255.f - p0[k];
  }
}

}  // namespace

const char* mca_base_suffix(type_mcabase base) {
  return valid_base(base) ? MCABaseSuffix[static_cast<int>(base)] : nullptr;
}

bool mca_base_available(type_mcabase base) {
  return base == MCA_ATROU || base == MCA_COS || base == MCA_PIXEL;
}

void MCA::alloc_base(int b) {
  type_mcabase base = TabSelect[b];
  if (!valid_base(base)) not_implemented();
  if (!mca_base_available(base))
    fatal_exitf(-1, stdout, "Error: transform not available in this version: %s ...\n",
                StringMCABase(base));
  switch (base) {
    case MCA_ATROU:
      if (AT_NbrScale < MinAtrouScales || (AT_NbrScale > MaxAtrouScalesWithNorms && !UseMad))
        fatal_exitf(-1, stdout,
                    "Error: bad number of scales in the a trous transform: %d (%d to %d) ...\n",
                    AT_NbrScale, MinAtrouScales, MaxAtrouScalesWithNorms);
      if (AT_TabBand != nullptr) AT_Trans.free(AT_TabBand, AT_NbrScale);
      AT_Trans.alloc(AT_TabBand, Nl, Nc, AT_NbrScale);
      AT_TabNoise.alloc(AT_NbrScale, "AT_TabNoise");
      if (UseCorrel) {
        if (AT_TabBandCorrel != nullptr) AT_Trans.free(AT_TabBandCorrel, AT_NbrScale);
        AT_Trans.alloc(AT_TabBandCorrel, Nl, Nc, AT_NbrScale);
      }
      break;
    case MCA_COS: {
      const Bool overlap = LDCT_BlockOverlap ? True : False;
      const Bool weight_first = COS_WeightFirst ? True : False;
      LDCT.alloc(Nl, Nc, LDCT_BlockSize, overlap, weight_first);
      if (UseCorrel) LDCT_Correl.alloc(Nl, Nc, LDCT_BlockSize, overlap, weight_first);
      if (Verbose) {
        std::printf(" LDCT transf. size:  Nl = %d Nc = %d\n", LDCT.nl(), LDCT.nc());
        std::printf(" LDCT BlockSize = %d\n", LDCT.block_size());
        // The tiling drops the overlap when one block covers the image.
        std::printf("%s\n",
                    LDCT.B2D.BlockOverlap ? " Overlapping Blocks " : " Non Overlapping Blocks ");
      }
      break;
    }
    default:  // the pixel basis needs nothing
      break;
  }
}

void MCA::free_base(int b) {
  type_mcabase base = TabSelect[b];
  if (!valid_base(base)) not_implemented();
  if (base == MCA_ATROU) AT_Trans.free(AT_TabBand, AT_NbrScale);
}

bool MCA::init_base(type_mcabase base, to_array<float, false>& Data, float& value) {
  switch (base) {
    case MCA_ATROU: value = atrou_init(Data, UseMad ? True : False); return true;
    case MCA_COS: value = cos_init(Data); return true;  // one level, never measured
    case MCA_PIXEL: value = pixel_init(Data, UseMad ? True : False); return true;
    case MCA_RID:
    case MCA_MCOS:
    case MCA_DWT:
    case MCA_PS: return false;  // no initialisation: no part in the first level
    default: not_implemented();
  }
}

bool MCA::max_base(type_mcabase base, to_array<float, false>& Residual, float& value) {
  switch (base) {
    case MCA_ATROU: value = atrou_max(Residual); return true;
    case MCA_COS: value = cos_max(Residual); return true;
    case MCA_PIXEL: value = pixel_max(Residual); return true;
    case MCA_RID:
    case MCA_MCOS:
    case MCA_DWT:
    case MCA_PS: return false;
    default: not_implemented();
  }
}

void MCA::project_base(type_mcabase base, to_array<float, false>& Ima) {
  switch (base) {
    case MCA_ATROU:
      if (Verbose) std::printf("Atrou proj ");
      atrou_proj(Ima, Lambda);
      break;
    case MCA_COS:
      if (Verbose) std::printf("Local DCT proj ");
      cos_proj(Ima, Lambda);
      break;
    case MCA_PIXEL:
      if (Verbose) std::printf("PIXEL basis proj ");
      pixel_proj(Ima, Lambda);
      break;
    default: not_implemented();
  }
}

void MCA::constrain_base(int b) {
  to_array<float, false>& c = TabImaRec[b];
  switch (TabSelect[b]) {
    case MCA_ATROU:
      if (AT_PositivSol == 1) threshold(c, 0.f);
      break;
    case MCA_COS:
      if (CosIsotrop) isotropic_spectrum_unavailable();
      if (b == 1 && UseZoom == 1) bound_zoomed_pair(TabImaRec[0], TabImaRec[1]);
      break;
    case MCA_PIXEL: {
      // A texture-like component: centred and kept within five noise units.
      float* p = c.buffer();
      const int n = c.n_elem();
      const double mean = c.mean();
      const float bound = 5.f * Noise_Ima;
      for (int k = 0; k < n; k++) {
        float v = static_cast<float>(p[k] - mean);
        if (v < -bound) v = -bound;
        if (v > bound) v = bound;
        p[k] = v;
      }
      if (CosIsotrop) isotropic_spectrum_unavailable();
      break;
    }
    default: not_implemented();
  }
}
