// The multiscale local DCT base: a trous bands each cut into local DCT
// blocks twice as large as the previous band's. It has a projection only:
// the band norms of the transform give every coefficient its noise level,
// and no initialisation measures the data, so it takes no part in the first
// level nor in the MOM schedule.
#include <algorithm>
#include <cstdio>

#include "array/fatal.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_options.h"

namespace {

void reset(MCA& m) {
  m.MDCT_PositivSol = 0;
  m.MDCT_BlockSize = 8;
  m.MDCT_BlockOverlap = 0;
  m.MDCT_NbrScale = 4;
}

void configure(MCA& m) {
  m.MDCT_PositivSol = 0;
  if (CosBlockSize > 0) m.MDCT_BlockSize = CosBlockSize;
  m.MDCT_BlockOverlap = BlockOverlap;
  m.MDCT_NbrScale = NbrScale2D;
}

void alloc(MCA& m) {
  // The block doubles at every scale: a given first block must fit the
  // image (the transform takes the image's side for the larger ones).
  const int smaller_side = std::min(m.Nl, m.Nc);
  if (CosBlockSize > 0 && m.MDCT_BlockSize > smaller_side) {
    std::printf("bad cosinus transform block size: %d\n", m.MDCT_BlockSize);
    fatal_exitf(-1, stdout, " Block size <= %d (the image's smaller side)\n", smaller_side);
  }
  m.MDCT_Trans.Overlap = m.MDCT_BlockOverlap ? True : False;
  m.MDCT_Trans.alloc(m.Nl, m.Nc, m.MDCT_NbrScale, m.MDCT_BlockSize);
}

void free(MCA& m) { m.MDCT_Trans.free(); }
void project(MCA& m, McaImage& ima) { m.mcos_proj(ima, m.Lambda); }
void constrain(MCA& m, int b) { mca_positivity(m.TabImaRec[b], m.MDCT_PositivSol); }

}  // namespace

const MCABaseFamily MCosBase = {"Multiscale Local Discrete Cosinus Transform", "_mcos",
                                "Local MDCT proj ", reset, configure, alloc, free, nullptr, nullptr,
                                project, constrain, nullptr, true};

void MCA::mcos_proj(to_array<float, false>& Ima, float Level) {
  MDCT_Trans.transform(Ima);
  for (int s = 0; s < MDCT_Trans.nbr_scale(); s++) {
    const float noise =
        static_cast<float>(static_cast<double>(Noise_Ima) * MDCT_Trans.norm_band(s));
    const float threshold = Level * noise;
    to_array<float, false>& coef = MDCT_Trans.TabLocalDCT[s].DCTIma;
    float* p = coef.buffer();
    const int n = coef.n_elem();
    for (int k = 0; k < n; k++) p[k] = mca_update(p[k], threshold, noise);
  }
  Ima.init();
  MDCT_Trans.recons(Ima);
}
