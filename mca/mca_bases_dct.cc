// The local DCT, the MCA's texture base: the initialisation and the maximum
// (largest coefficient outside every block's zero frequency, in noise
// units), the projection by thresholding every coefficient at one level,
// optionally clearing the low frequencies of each block (the minimum-support
// rule), and the base's descriptor.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "array/fatal.h"
#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_options.h"
#include "mca/mca_coef_update.h"

namespace {

// A zero noise level would divide every normalised coefficient by zero.
void check_cos_noise(float noise) {
  if (!(noise > 0.f))
    fatal_exitf(-1, stdout,
                "Error: the local DCT noise level is %g: give a positive noise level (-g) ...\n",
                noise);
}

// Number of leading columns of line i of a block inside the minimum
// support: the coefficients (i, j) with sqrt(i² + j²) < radius, the squares
// formed in integers and the root taken in single precision. The distance
// grows with j, so they are the first ones of the line.
int support_columns(int i, int block, float radius) {
  int j = 0;
  while (j < block && std::sqrt(static_cast<float>(i * i) + static_cast<float>(j * j)) < radius)
    j++;
  return j;
}

// Largest coefficient magnitude of the transform held in ldct, each block's
// zero frequency left out (it carries the block's mean, not its texture), in
// units of the noise level; the transform finds it while it writes the blocks.
float normalised_max(LOCAL_DCT2D& ldct, to_array<float, false>& ima, float noise_ima, int verbose) {
  check_cos_noise(noise_ima * ldct.norm());
  float maxfabs;
  ldct.transform(ima, maxfabs);
  float maximum = std::fabs(maxfabs) / ldct.norm() / noise_ima;
  if (verbose) std::printf("COS MAX_NormCoef = %g\n", maximum);
  return maximum;
}

// The block the run uses: the requested one, or, for an image smaller than
// it, the largest power of two that fits (the transform's own shrinking to
// the image side would give a size it cannot take).
int fitting_block_size(int requested, int nl, int nc, int verbose) {
  const int side = std::min(nl, nc);
  if (requested <= side) return requested;
  if (side < 2)
    fatal_exitf(-1, stdout,
                "Error: the image (%d x %d) is smaller than the smallest local DCT block (2) ...\n",
                nl, nc);
  const int block = mca_largest_power_of_2(side);
  if (verbose)
    std::printf(" LDCT block size %d is larger than the image (%d x %d): using %d\n", requested,
                nl, nc, block);
  return block;
}

void reset(MCA& m) {
  m.LDCT_BlockSize = 32;
  m.LDCT_BlockOverlap = 0;
  m.COS_Sensibility = 1.0f;
  m.COS_Min = 0.f;
  m.COS_WeightFirst = 0;
  m.CosIsotrop = 0;
}

void configure(MCA& m) {
  if (CosBlockSize > 0) m.LDCT_BlockSize = CosBlockSize;
  m.LDCT_BlockOverlap = BlockOverlap;
  m.COS_Sensibility = COS_Sensibility;
  m.COS_Min = COS_Min;
  m.COS_WeightFirst = COS_WeightFirst;
  m.CosIsotrop = CosIsotrop;
}

void alloc(MCA& m) {
  if (CosBlockSize > 0) mca_check_cos_block_size(m.LDCT_BlockSize, 0, m.Nl, m.Nc);
  const int block = fitting_block_size(m.LDCT_BlockSize, m.Nl, m.Nc, m.Verbose);
  const Bool overlap = m.LDCT_BlockOverlap ? True : False;
  const Bool weight_first = m.COS_WeightFirst ? True : False;
  m.LDCT.alloc(m.Nl, m.Nc, block, overlap, weight_first);
  if (m.UseCorrel) m.LDCT_Correl.alloc(m.Nl, m.Nc, block, overlap, weight_first);
  if (m.Verbose) {
    std::printf(" LDCT transf. size:  Nl = %d Nc = %d\n", m.LDCT.nl(), m.LDCT.nc());
    std::printf(" LDCT BlockSize = %d\n", m.LDCT.block_size());
    // The tiling drops the overlap when one block covers the image.
    std::printf("%s\n", m.LDCT.B2D.BlockOverlap ? " Overlapping Blocks " : " Non Overlapping Blocks ");
  }
}

void free(MCA&) {}
float init(MCA& m, McaImage& data) { return m.cos_init(data); }  // one level, never measured
float max(MCA& m, McaImage& resi) { return m.cos_max(resi); }
void project(MCA& m, McaImage& ima) { m.cos_proj(ima, m.Lambda); }

void constrain(MCA& m, int b) {
  mca_isotropic_constraint(m, b);
  mca_bound_zoomed_pair(m, b);
}

}  // namespace

const MCABaseFamily LocalDctBase = {"Local Discrete Cosinus Transform", "_cos", "Local DCT proj ",
                                    reset, configure, alloc, free, init, max, project, constrain,
                                    nullptr, false};

float MCA::cos_init(to_array<float, false>& Data) {
  const float maximum = normalised_max(LDCT, Data, Noise_Ima, Verbose);
  std::printf("MAXCOS = %g\n", in_input_units(LDCT.max()));
  return maximum;
}

float MCA::cos_max(to_array<float, false>& Residual) {
  return normalised_max(LDCT, Residual, Noise_Ima, Verbose);
}

void MCA::cos_proj(to_array<float, false>& Ima, float Level) {
  const float noise = Noise_Ima * LDCT.norm();
  const int block = LDCT.TransB2D.block_size();
  const float threshold = Level * noise * COS_Sensibility;
  float min_support = COS_Min;
  if (min_support < 0.f || min_support >= 0.5f) min_support = 0.f;
  const float radius = min_support * static_cast<float>(block);

  if (radius != 0.f) std::printf("COSSupportMin = %g BS = %d\n", radius, block);
  if (UseCorrel != 1) {
    // One level for every coefficient: transform, threshold and reconstruct
    // block by block with the threads started once.
    const float level = UseNormL1 == 1 ? threshold / 2.f : threshold;
    LDCT.transform_threshold_recons(Ima, level, UseNormL1 == 1 ? True : False, radius);
    return;
  }
  LDCT.transform(Ima);
  const double mean = ImaCorrel.mean();
  float* p = ImaCorrel.buffer();
  for (int k = 0; k < ImaCorrel.n_elem(); k++) p[k] = static_cast<float>(p[k] - mean);
  LDCT_Correl.transform(ImaCorrel);
  const float* correl = LDCT_Correl.DCTIma.buffer();
  float* coef = LDCT.DCTIma.buffer();
  const int nl = LDCT.nl(), nc = LDCT.nc();
  mca_update_coefficients(coef, correl, static_cast<int64_t>(nl) * nc, threshold, Level,
                          CorrelConstraint, UseNormL1 == 1);

  if (radius != 0.f) {
    // The transform tiling has no overlap and fills the DCT image exactly,
    // so block (bi, bj) is the square at (bi B, bj B); clearing a coefficient
    // after its update is the same as clearing it instead.
    for (int i = 0; i < nl; i++) {
      const int cleared = support_columns(i % block, block, radius);
      if (cleared == 0) continue;
      float* row = coef + static_cast<int64_t>(i) * nc;
      for (int j0 = 0; j0 < nc; j0 += block) std::fill(row + j0, row + j0 + cleared, 0.f);
    }
  }

  Ima.init();
  LDCT.recons(Ima);
}
