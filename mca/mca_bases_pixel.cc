// The pixel basis: the image itself thresholded, for a noise-like component
// that is centred and clipped after every projection.
#include <cstdio>

#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "mca/mca_coef_update.h"
#include "numerics/noise_estimators.h"

namespace {

void reset(MCA& m) { m.Pix_Noise = 0.f; }
void configure(MCA&) {}
void alloc(MCA&) {}
void free(MCA&) {}
float init(MCA& m, McaImage& data) { return m.pixel_init(data, m.UseMad ? True : False); }
float max(MCA& m, McaImage& resi) { return m.pixel_max(resi); }
void project(MCA& m, McaImage& ima) { m.pixel_proj(ima, m.Lambda); }
void constrain(MCA& m, int b) {
  mca_centre_and_clip(m.TabImaRec[b], m.Noise_Ima);
  mca_isotropic_constraint(m, b);
}

}  // namespace

const MCABaseFamily PixelBase = {"Pixel basis", "_pix", "PIXEL basis proj ", reset, configure,
                                 alloc, free, init, max, project, constrain, nullptr, false};

float MCA::pixel_init(to_array<float, false>& Data, Bool UseMadLevels) {
  Pix_Noise = UseMadLevels ? detect_noise_from_mad(Data, False) : Noise_Ima;
  if (UseMadLevels) mca_check_mad_noise_level("PIX", 0, Pix_Noise);
  else mca_check_noise_level("PIX", 0, Pix_Noise);
  float maximum = mca_max_magnitude(Data) / Pix_Noise;
  if (Verbose) std::printf("PIX MAX_NormCoef = %g\n", maximum);
  return maximum;
}

float MCA::pixel_max(to_array<float, false>& Residual) {
  return mca_max_magnitude(Residual) / Pix_Noise;
}

void MCA::pixel_proj(to_array<float, false>& Ima, float Level) {
  const float threshold = Level * Pix_Noise;
  float* p = Ima.buffer();
  const int n = Ima.n_elem();
  for (int k = 0; k < n; k++) p[k] = mca_update(p[k], threshold, Pix_Noise);
}
