// The ridgelet base: straight lines and edges through the block ridgelet
// transform. It has no first level and no MOM maximum; the projection
// thresholds every 1D scale band of the ridgelet image at the current level
// times the scale's noise norm.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_coef_update.h"
#include "mca/mca_options.h"

namespace {

void reset(MCA& m) {
  m.Rid_BlockSize = -1;
  m.Rid_FirstDetectScale = 0;
  m.Rid_PositivSol = m.PositivSol;
}

void configure(MCA& m) {
  if (BlockSize > 0) m.Rid_BlockSize = BlockSize;
  m.Rid_FirstDetectScale = FirstDetectScale;
  m.Rid_PositivSol = PositivSol;
  m.Rid.RidTrans = static_cast<type_ridgelet_WTtrans>(RidTrans);
  m.Rid.BlockOverlap = BlockOverlap ? True : False;
}

void alloc(MCA& m) {
  // A block beyond the image holds nothing more than the image, at the
  // square of the cost.
  const int larger_side = std::max(m.Nl, m.Nc);
  if (m.Rid_BlockSize > larger_side) {
    std::printf("bad block size: %d\n", m.Rid_BlockSize);
    fatal_exitf(-1, stdout, " Block size <= %d (the image's larger side)\n", larger_side);
  }
  m.Rid.alloc(m.Nl, m.Nc, m.Rid_BlockSize);
  m.RidNl = m.Rid.rid_nl();
  m.RidNc = m.Rid.rid_nc();
  m.Rid_Trans.alloc(m.RidNl, m.RidNc, "RidTrans");
  m.Rid.VarianceStab = m.Rid_VarianceStab == 1 ? True : False;
  if (m.Verbose) {
    std::printf(" Ridgelet:  Nl = %d Nc = %d\n", m.RidNl, m.RidNc);
    std::printf(" BlockSize = %d\n", m.Rid_BlockSize);
  }
  if (m.UseCorrel) m.Rid_TransCorrel.alloc(m.RidNl, m.RidNc, "RidTrans");
}

void free(MCA& m) {
  m.Rid_Trans.free();
  m.Rid_TransCorrel.free();
}

void project(MCA& m, McaImage& ima) { m.rid_proj(ima, m.Lambda); }
void constrain(MCA& m, int b) { mca_positivity(m.TabImaRec[b], m.Rid_PositivSol); }

}  // namespace

const MCABaseFamily RidBase = {"Ridgelet transform", "_rid", "Rid proj ", reset, configure, alloc,
                               free, nullptr, nullptr, project, constrain, nullptr, true};

void MCA::rid_proj(to_array<float, false>& Ima, float Level) {
  const int S = Rid.NbrScale1D;
  const int Send = Rid.KillLastScale ? S - 1 : S;
  const float F = Rid_VarianceStab == 1
                      ? 1.f
                      : std::sqrt(static_cast<float>(Rid.block_size())) * Noise_Ima;
  Rid.transform(Ima, Rid_Trans);
  Rid.set_tab_norm(S);
  if (UseCorrel) Rid.transform(ImaCorrel, Rid_TransCorrel);

  const bool soft = UseNormL1 == 1;
  if (S < 2) {
    // Without 1D scales the whole ridgelet image is the coarse part: it is
    // kept, and only the correlation term can remove coefficients.
    if (UseCorrel)
      mca_update_coefficients(Rid_Trans.buffer(), Rid_TransCorrel.buffer(), Rid_Trans.n_elem(),
                              0.f, Level, CorrelConstraint, soft);
  } else {
    for (int s = Rid_FirstDetectScale; s < Send; s++) {
      // The finest scale takes one noise unit more: it holds most of the noise.
      float factor = s == 0 ? Level + 1.f : Level;
      if (Level == 0.f) factor = 0.f;
      const float noise = Rid.rid_norm(s) * F;
      const float threshold = s == S - 1 ? 0.f : factor * noise;
      const int i0 = Rid.ipos(s), j0 = Rid.jpos(s);
      const int nl = Rid.size_scale_nl(s), nc = Rid.size_scale_nc(s);
      for (int i = i0; i < i0 + nl; i++) {
        const float* correl = UseCorrel ? &Rid_TransCorrel(i, j0) : nullptr;
        mca_update_coefficients(&Rid_Trans(i, j0), correl, nc, threshold, Level, CorrelConstraint,
                                soft);
      }
    }
  }
  Rid.recons(Rid_Trans, Ima);
}
