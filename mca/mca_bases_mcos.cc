// The multiscale local DCT base: a trous bands each cut into local DCT
// blocks twice as large as the previous band's. It has a projection only:
// the band norms of the transform give every coefficient its noise level,
// and no initialisation measures the data, so it takes no part in the first
// level nor in the MOM schedule.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
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

// Scales a first block of first_block holds in an image whose smaller side
// is side: the blocks double at every scale, and one beyond the side is cut
// to the side, which the DCT takes only when it is a power of two.
int largest_scale_count(int first_block, int side, int requested) {
  if (is_power_of_2(side)) return requested;
  int count = 0;
  for (int64_t block = first_block; block <= side; block *= 2) count++;
  return count;
}

void alloc(MCA& m) {
  const int smaller_side = std::min(m.Nl, m.Nc);
  if (CosBlockSize > 0)
    mca_check_cos_block_size(m.MDCT_BlockSize, mca_largest_power_of_2(smaller_side), m.Nl, m.Nc);
  if (m.MDCT_NbrScale < 1)
    fatal_exitf(-1, stdout,
                "Error: bad number of scales in the multiscale local DCT: %d (1 at least) ...\n",
                m.MDCT_NbrScale);
  char transform[80];
  std::snprintf(transform, sizeof transform, "multiscale local DCT with a first block of %d",
                m.MDCT_BlockSize);
  m.MDCT_NbrScale = mca_fit_scale_count(
      m, transform, m.MDCT_NbrScale,
      largest_scale_count(m.MDCT_BlockSize, smaller_side, m.MDCT_NbrScale), 1);
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
