// The isotropic power-spectrum constraint: a texture component whose
// spectrum should not prefer any direction is given the ring means of its
// own power spectrum, interpolated linearly between rings, its phases kept.
#include "mca/mca_isotropic.h"

#include <cmath>
#include <complex>
#include <cstdio>

#include "mca/mca.h"
#include "mca/mca_base_family.h"
#include "numerics/fftn_2d.h"
#include "numerics/power_spectrum.h"

void contraint_isotrop_fft(to_array<float, false>& Ima, Bool Verbose) {
  if (Verbose) std::printf("Isoptropic PS Constraint \n");
  const int nl = Ima.nl(), nc = Ima.nc();
  to_array<float, true> spectrum;
  get_isotropic_spectrum(Ima, spectrum, 0.5f, 1.0f);
  const int n = spectrum.nx();
  // The rings are 0.5 pixel apart; a spectrum of one ring (images of two
  // lines or fewer) has no second row to read the step from.
  const double step = n > 1 ? static_cast<double>(spectrum(1, 0)) - spectrum(0, 0) : 0.5 / nl;
  const float rmax = spectrum(n - 1, 0);

  to_array<std::complex<float>, false> buffer(nl, nc, "Buffer1 conv");
  FFTN_2D fft;
  fft.fftn2d(Ima, buffer, False);
  const double nbr_pixels = static_cast<double>(nl * nc);
  for (int i = 0; i < nl; i++) {
    const float u = static_cast<float>((static_cast<float>(i) - nl / 2.0) / nl);
    std::complex<float>* row = buffer.buffer() + static_cast<long>(i) * nc;
    for (int j = 0; j < nc; j++) {
      const float v = static_cast<float>((static_cast<float>(j) - nc / 2.0) / nc);
      float r = std::sqrt(u * u + v * v);
      if (r > rmax) r = rmax;
      const int k0 = static_cast<int>(r / step);
      int k1 = static_cast<int>(r / step + 1);
      if (k1 >= n) k1 = n - 1;
      const float r0 = spectrum(k0, 0), r1 = spectrum(k1, 0);
      const float p0 = spectrum(k0, 1), p1 = spectrum(k1, 1);
      const float t = r1 - r0 > 5.96047e-08f ? std::fabs((r - r0) / (r1 - r0)) : 0.f;
      const double power = (static_cast<double>(p1 - p0) * t + p0) * nbr_pixels;
      row[j] = std::polar(static_cast<float>(std::sqrt(power)), std::arg(row[j]));
    }
  }
  buffer(nl / 2, nc / 2) = 0.f;
  fft.fftn2d(buffer, True);
  float* out = Ima.buffer();
  const std::complex<float>* in = buffer.buffer();
  for (int k = 0; k < nl * nc; k++) out[k] = in[k].real();
}

void mca_isotropic_constraint(MCA& mca, int b) {
  if (mca.CosIsotrop) contraint_isotrop_fft(mca.TabImaRec[b], mca.Verbose ? True : False);
}
