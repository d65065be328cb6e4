// Pyramidal median transform over a caller's band array.
#include "multires/pmt_2d.h"

#include <string>

#include "array/im_resize.h"
#include "array/smoothing.h"

using Image = to_array<float, false>;

namespace {

// Noise levels of bands 0 to 9 (0 past scale 7), measured on simulated
// unit Gaussian noise with the 5 x 5 median window.
const double kPmtNorm[10] = {0.970291, 0.338748, 0.178373, 0.0992649, 0.0539517,
                             0.0317369, 0.0188998, 0.01365, 0., 0.};

void resize_to(Image& ima, int nl, int nc) {
  if (ima.nl() != nl || ima.nc() != nc) ima.resize(nl, nc);
}

}  // namespace

void PMT_2D::alloc(Image*& Bands, int Nl, int Nc, int NbrScale) {
  Bands = new Image[NbrScale];
  int nl = Nl, nc = Nc;
  for (int s = 0; s < NbrScale; s++) {
    std::string name = "band_" + std::to_string(s + 1);
    Bands[s].alloc(nl, nc, name.c_str());
    nl = (nl + 1) / 2;
    nc = (nc + 1) / 2;
  }
}

void PMT_2D::free(Image*& Bands, int NbrScale) {
  if (NbrScale != 0 && Bands != nullptr) {
    delete[] Bands;
    Bands = nullptr;
  }
}

void PMT_2D::transform(Image& Ima, Image* Bands, int NbrScale, type_border Border) {
  Image median(Ima.nl(), Ima.nc(), "buff pmt");
  Bands[0] = Ima;
  for (int s = 0; s < NbrScale - 1; s++) {
    Image& band = Bands[s];
    resize_to(median, band.nl(), band.nc());
    smooth_mediane(band, median, Border, 0, MedianWindowSize);
    band -= median;
    resize_to(Bands[s + 1], (band.nl() + 1) / 2, (band.nc() + 1) / 2);
    im_reduce_size_2(median, Bands[s + 1]);
  }
}

void PMT_2D::recons(Image* Bands, Image& Ima, int NbrScale, type_border Border) {
  Image expanded(Bands[0].nl(), Bands[0].nc(), "buff pmt");
  const Image& smooth = Bands[NbrScale - 1];
  resize_to(Ima, smooth.nl(), smooth.nc());
  Ima = smooth;
  for (int s = NbrScale - 2; s >= 0; s--) {
    const Image& band = Bands[s];
    resize_to(expanded, band.nl(), band.nc());
    im_increase_size_2(Ima, expanded, Border);
    resize_to(Ima, band.nl(), band.nc());
    const float* e = expanded.buffer();
    const float* d = band.buffer();
    float* out = Ima.buffer();
    for (int k = 0; k < band.n_elem(); k++) out[k] = e[k] + d[k];
  }
}

double PMT_2D::norm_band(int s) const { return s >= 0 && s <= 9 ? kPmtNorm[s] : 0.; }
