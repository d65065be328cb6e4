// Isotropic power spectrum: centred FFT, power image, spline prefilter, then
// circle means. Single precision where the radius and angles are formed, as
// the rest of the system reads these profiles.
#include "numerics/power_spectrum.h"

#include <cmath>
#include <complex>

#include "array/fatal.h"
#include "numerics/bspline.h"
#include "numerics/fftn_2d.h"

void get_isotropic_spectrum(to_array<float, false>& ima, to_array<float, true>& spec,
                            float resol, float dens) {
  const int nl = ima.nl(), nc = ima.nc();
  // An empty image has no zero frequency to read, and a step that is not
  // positive (or so small that the radius count overflows) no profile.
  const float steps = static_cast<float>((nl + 1) / 2 - 1) / resol;
  if (nl < 1 || nc < 1 || !(resol > 0.f) || !(steps < 1e8f))
    fatal_exitf(-1, stdout,
                "Error: get_isotropic_spectrum: image %dx%d, radial step %g: no profile ...\n", nl,
                nc, static_cast<double>(resol));
  const long n = static_cast<long>(nl) * nc;
  to_array<float, false> power(nl, nc, "data");
  {
    to_array<std::complex<float>, false> spectrum(nl, nc, "Buffer1 conv");
    FFTN_2D fft;
    fft.fftn2d(ima, spectrum);
    const float count = static_cast<float>(n);
    for (long k = 0; k < n; k++) power(k) = std::norm(spectrum(k)) / count;
  }

  // An image too small for one radius step still gets its zero-frequency row.
  int rows = static_cast<int>(steps);
  if (rows < 1) rows = 1;
  spec.alloc(rows, 3);
  spec(0, 0) = 0.f;
  spec(0, 1) = power(nl / 2, nc / 2);
  spec(0, 2) = 0.f;

  BSPLINE_DEC spline;
  spline.SamplesToCoefficients(power);
  const float xc = static_cast<float>(nc / 2), yc = static_cast<float>(nl / 2);
  for (int r = 1; r < rows; r++) {
    const float radius = r * resol;
    const float f = radius / nl;
    const int samples = static_cast<int>(2. * dens * M_PI * radius + 0.5);
    int used = 0;
    for (int t = 0; t < samples; t++) {
      const float angle = static_cast<float>(t * 2. * M_PI / samples);
      const float x = xc + std::cos(angle) * radius;
      const float y = yc + std::sin(angle) * radius;
      if (x < 0.f || x >= nc || y < 0.f || y >= nl) continue;
      double value = spline.InterpolatedValue(power, x, y);
      // Spline overshoot near strong peaks can dip below 0: no negative power.
      if (value < 0.) value = 0.;
      spec(r, 1) += static_cast<float>(value);
      used++;
    }
    if (used > 0) spec(r, 1) /= used;
    spec(r, 0) = f;
    spec(r, 2) = spec(r, 1) * f * (f + 1.f);
  }
}
