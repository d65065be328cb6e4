// Band access of the wavelet-packet coefficient store.
#include "multires/wp_transf_2d.h"

#include <cstdio>

#include "array/fatal.h"

float& WPTransf_2D::operator()(int b, int i, int j) const {
  const bool band_ok = b >= 0 && b < NbrBand;
  if (!band_ok || i < 0 || i >= TabNl(b) || j < 0 || j >= TabNc(b)) {
    std::printf("Error: request coef ( %d,%d,%d)\n       NbrBand = %d\n", b, i, j, NbrBand);
    if (band_ok) std::printf("       Nl = %d\n       Nc = %d\n", TabNl(b), TabNc(b));
    fatal_exit("");
  }
  return image_of(b)(Depi(b) + i, Depj(b) + j);
}

void WPTransf_2D::test_band(int b) const {
  if (b < 0 || b >= NbrBand)
    fatal_exitf(-1, stdout, "Error: bad band number %d\n       NbrBand = %d\n", b, NbrBand);
}

void WPTransf_2D::get_band(int b, to_array<float, false>& Band) const {
  test_band(b);
  const int nl = TabNl(b), nc = TabNc(b);
  if (Band.nl() != nl || Band.nc() != nc || Band.naxis() != 2) Band.alloc(nl, nc, "band");
  const to_array<float, false>& ima = image_of(b);
  for (int i = 0; i < nl; i++) {
    const float* src = ima.buffer() + static_cast<long>(Depi(b) + i) * ima.nc() + Depj(b);
    float* dst = Band.buffer() + static_cast<long>(i) * nc;
    for (int j = 0; j < nc; j++) dst[j] = src[j];
  }
}

void WPTransf_2D::put_band(int b, to_array<float, false>& Band) {
  test_band(b);
  const int nl = TabNl(b), nc = TabNc(b);
  if (Band.nl() != nl || Band.nc() != nc)
    fatal_exitf(-1, stdout, "Error: bad band size %d %d\n      namd size = %d %d\n", Band.nl(),
                Band.nc(), nl, nc);
  to_array<float, false>& ima = image_of(b);
  for (int i = 0; i < nl; i++) {
    const float* src = Band.buffer() + static_cast<long>(i) * nc;
    float* dst = ima.buffer() + static_cast<long>(Depi(b) + i) * ima.nc() + Depj(b);
    for (int j = 0; j < nc; j++) dst[j] = src[j];
  }
}

void WPTransf_2D::info_band(int b) const {
  test_band(b);
  to_array<float, false> band;
  get_band(b, band);
  std::printf("  band number %d : size=(%d,%d), pos=(%d,%d), mean=%g, sigma=%g, min=%g, max=%g\n",
              b, TabNl(b), TabNc(b), Depi(b), Depj(b), band.mean(), band.sigma(), band.min(),
              band.max());
}

void WPTransf_2D::info(std::string, Bool) const {
  std::printf("info WP result  [nb band : %d]\n", NbrBand);
  for (int b = 0; b < NbrBand; b++) info_band(b);
}
