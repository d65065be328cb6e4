// Base operations of the local DCT, the MCA's texture base: the
// initialisation and the maximum (largest coefficient outside every block's
// zero frequency, in noise units), and the projection by thresholding every
// coefficient at one level, optionally clearing the low frequencies of each
// block (the minimum-support rule).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "mca/mca.h"

namespace {

// A zero noise level would divide every normalised coefficient by zero.
void check_cos_noise(float noise) {
  if (!(noise > 0.f))
    fatal_exitf(-1, stdout,
                "Error: the local DCT noise level is %g: give a positive noise level (-g) ...\n",
                noise);
}

// The thresholding rule of the run, chosen once per projection instead of
// once per coefficient.
struct CosUpdate {
  bool soft;
  float operator()(float coef, float level) const {
    return soft ? soft_threshold(coef, level / 2.f) : hard_threshold(coef, level);
  }
};

// The threshold of a coefficient: level, plus |k| Lambda CorrelConstraint
// with k the correlation image's coefficient at the same place.
struct CosLevel {
  float level, lambda, correl_constraint;
  float at(const float* correl_row, int j) const {
    return correl_row == nullptr
               ? level
               : level + std::fabs(correl_row[j]) * lambda * correl_constraint;
  }
};

// Thresholds n coefficients of one row; keep tells, per coefficient, whether
// it lies outside the minimum support (null: every coefficient is kept).
void threshold_row(float* row, const float* correl_row, const unsigned char* keep, int n,
                   CosLevel level, CosUpdate update) {
  for (int j = 0; j < n; j++) {
    float t = level.at(correl_row, j);
    float value = update(row[j], t);
    row[j] = (keep == nullptr || keep[j]) ? value : 0.f;
  }
}

// Largest coefficient magnitude of the transform held in ldct, each block's
// zero frequency left out (it carries the block's mean, not its texture), in
// units of the noise level.
float normalised_max(const LOCAL_DCT2D& ldct, float noise_ima, int verbose) {
  check_cos_noise(noise_ima * ldct.norm());
  float maximum = std::fabs(ldct.maxfabs_without_zerofreq()) / ldct.norm() / noise_ima;
  if (verbose) std::printf("COS MAX_NormCoef = %g\n", maximum);
  return maximum;
}

}  // namespace

float MCA::cos_init(to_array<float, false>& Data) {
  LDCT.transform(Data);
  std::printf("MAXCOS = %g\n", LDCT.max());
  return normalised_max(LDCT, Noise_Ima, Verbose);
}

float MCA::cos_max(to_array<float, false>& Residual) {
  LDCT.transform(Residual);
  return normalised_max(LDCT, Noise_Ima, Verbose);
}

void MCA::cos_proj(to_array<float, false>& Ima, float Level) {
  const float noise = Noise_Ima * LDCT.norm();
  const int block = LDCT.TransB2D.block_size();
  const float threshold = Level * noise * COS_Sensibility;
  float min_support = COS_Min;
  if (min_support < 0.f || min_support >= 0.5f) min_support = 0.f;
  const float radius = min_support * static_cast<float>(block);

  LDCT.transform(Ima);
  if (UseCorrel == 1) {
    const double mean = ImaCorrel.mean();
    float* p = ImaCorrel.buffer();
    const int n = ImaCorrel.n_elem();
    for (int k = 0; k < n; k++) p[k] = static_cast<float>(p[k] - mean);
    LDCT_Correl.transform(ImaCorrel);
  }
  const CosUpdate update{UseNormL1 == 1};
  const CosLevel level{threshold, Level, CorrelConstraint};
  const int nl = LDCT.nl(), nc = LDCT.nc();
  float* coef = LDCT.DCTIma.buffer();
  const float* correl = UseCorrel == 1 ? LDCT_Correl.DCTIma.buffer() : nullptr;

  // The transform tiling has no overlap and fills the DCT image exactly, so
  // block (bi, bj) is the square at (bi B, bj B) and a line of the DCT image
  // crosses whole blocks: the same rule thresholds it line by line, with the
  // support mask repeated every B columns.
  std::vector<unsigned char> keep;
  if (radius != 0.f) {
    std::printf("COSSupportMin = %g BS = %d\n", radius, block);
    keep.assign(static_cast<size_t>(block) * block, 1);
    for (int i = 0; i < block; i++)
      for (int j = 0; j < block; j++)
        if (std::sqrt(static_cast<float>(i * i) + static_cast<float>(j * j)) < radius)
          keep[static_cast<size_t>(i) * block + j] = 0;
  }
  for (int i = 0; i < nl; i++) {
    float* row = coef + static_cast<int64_t>(i) * nc;
    const float* correl_row = correl == nullptr ? nullptr : correl + static_cast<int64_t>(i) * nc;
    if (keep.empty()) {
      threshold_row(row, correl_row, nullptr, nc, level, update);
      continue;
    }
    const unsigned char* keep_row = keep.data() + static_cast<size_t>(i % block) * block;
    for (int j0 = 0; j0 < nc; j0 += block)
      threshold_row(row + j0, correl_row == nullptr ? nullptr : correl_row + j0, keep_row, block,
                    level, update);
  }

  Ima.init();
  LDCT.recons(Ima);
}
