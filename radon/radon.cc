// The Radon object: sizes per method, angle tables, and the dispatch of the
// forward and inverse transforms through one descriptor per method.
#include "radon/radon.h"

#include <cmath>
#include <cstdio>

#include "array/fatal.h"

namespace {

using Image = to_array<float, false>;

// One Radon method: its text and its forward and inverse operations.
struct RadonMethodDescriptor {
  const char* text;
  void (*forward)(Radon&, Image&, Image&);
  void (*inverse)(Radon&, Image&, Image&);
};

const RadonMethodDescriptor RadonMethods[NBR_RADON] = {
    {"Radon transform (resp. backprojection) in spatial domain",
     [](Radon& r, Image& ima, Image& rad) { r.project(ima, rad); },
     [](Radon& r, Image& rad, Image& ima) { r.back_project(rad, ima); }},
    {"Radon transform in spatial domain and reconstruction in Fourier domain ",
     [](Radon& r, Image& ima, Image& rad) { r.project(ima, rad); },
     [](Radon& r, Image& rad, Image& ima) { r.invfft_project(rad, ima, True); }},
    {"Radon transform (resp. reconstruction) in Fourier space (Linogram)",
     [](Radon& r, Image& ima, Image& rad) { r.fft_trans(ima, rad); },
     [](Radon& r, Image& rad, Image& ima) { r.fft_rec(rad, ima, False); }},
    {"Finite Radon Transform",
     [](Radon& r, Image& ima, Image& rad) { r.finite_radon(ima, rad); },
     [](Radon& r, Image& rad, Image& ima) { r.inv_finite_radon(rad, ima); }},
    {"Slant Stack Radon transform",
     [](Radon& r, Image& ima, Image& rad) { r.SlantStack.transform(ima, rad); },
     [](Radon& r, Image& rad, Image& ima) {
       if (r.NbrSlantStackIter >= 2) r.SlantStack.iter_inverse(rad, ima, r.NbrSlantStackIter);
       else r.SlantStack.inverse(rad, ima);
     }},
    {"Slant Stack Radon transform in Fourier domain",
     [](Radon& r, Image& ima, Image& rad) { r.FFTSlantStack.transform(ima, rad); },
     [](Radon& r, Image& rad, Image& ima) {
       if (r.NbrSlantStackIter >= 2) r.FFTSlantStack.iter_inverse(rad, ima, r.NbrSlantStackIter);
       else r.FFTSlantStack.inverse(rad, ima);
     }},
};

const RadonMethodDescriptor* descriptor(type_radon method) {
  const int m = static_cast<int>(method);
  return m >= 0 && m < NBR_RADON ? &RadonMethods[m] : nullptr;
}

}  // namespace

const char* StringRadon(type_radon Method) {
  const RadonMethodDescriptor* d = descriptor(Method);
  return d != nullptr ? d->text : nullptr;
}

Radon::Radon() {
  reset_param();
  FormatIn = Format_Imag;
  NbrSlantStackIter = 10;
}

Radon::~Radon() { reset_param(); }

void Radon::reset_param() {
  Allocated = False;
  Nlr = Ncr = 0;
  Verbose = False;
  RadonMethod = RADON_FFT;
  FilterWidth = 100;
  FilterStdDev = 10.f;
  release_tables();
}

void Radon::release_tables() {
  TabSin.clear();
  TabCos.clear();
  TabLineAngle.clear();
  TabLineStep.clear();
  Lino.reset();
}

void Radon::alloc(int nl, int nc, type_radon Method, int NbrProj, int Resol) {
  if (nl < 1 || nc < 1)
    fatal_exitf(-1, stdout, "Error: the Radon transform needs an image of at least one pixel, not %d x %d ...\n",
                nl, nc);
  Allocated = True;
  RadonMethod = Method;
  Nl = nl;
  Nc = nc;
  Nlr = NbrProj >= 1 ? NbrProj : Nl + Nc;
  Ncr = Resol >= 1 ? Resol : Nc;
  if (Resol < 1 && (Method == RADON_SLANT_STACK || Method == RADON_FFT_SLANT_STACK)) Ncr *= 2;
  switch (Method) {
    case RADON_FFT:
      if (Nlr != Nl + Nc)
        fatal_exit("Error: with this Radon method, Projections number must be equal to Nl+Nc \n");
      if (Ncr != Nc)
        fatal_exit("Error: with this Radon method, Resolution number must be equal to Nc \n");
      break;
    case RADON_FINITE:
      // The projections run over the p x p torus: a side of each length
      // would read and write past both images.
      if (Nl != Nc) fatal_exit("Error: input image must be square when using this transform ... \n");
      Nlr = Nl + 1;
      Ncr = Nc;
      break;
    case RADON_SLANT_STACK:
    case RADON_FFT_SLANT_STACK:
      if (Nl != Nc) fatal_exit("Error: input image must be square when using this transform ... \n");
      if (Method == RADON_SLANT_STACK) {
        SlantStack.alloc(Nl);
        Nlr = SlantStack.nlr();
        Ncr = SlantStack.ncr();
      } else {
        FFTSlantStack.alloc(Nl);
        Nlr = FFTSlantStack.nlr();
        Ncr = FFTSlantStack.ncr();
      }
      break;
    default:
      break;
  }
  make_table();
}

void Radon::make_table() {
  release_tables();
  if (RadonMethod == RADON_PROJ_BACK || RadonMethod == RADON_PROJ_FFT) {
    TabSin.resize(Nlr);
    TabCos.resize(Nlr);
    for (int i = 0; i < Nlr; i++) {
      const double theta = i * M_PI / Nlr;
      TabSin[i] = static_cast<float>(std::sin(theta));
      TabCos[i] = static_cast<float>(std::cos(theta));
    }
    return;
  }
  if (RadonMethod == RADON_FINITE) return;

  // Radial lines from the centre to every border point, counter-clockwise
  // from the positive column axis.
  const int h = Nl / 2, hc = Nc / 2;
  TabLineAngle.assign(Nlr, 0.);
  TabLineStep.assign(Nlr, 0.);
  // Sizes given by hand (method 2 on a flat image) may leave some of the
  // four arcs without a slot.
  auto set_angle = [this](int index, double angle) {
    if (index >= 0 && index < Nlr) TabLineAngle[index] = angle;
  };
  for (int i = 0; i <= h; i++) {
    const double a = h > 0 ? std::atan(static_cast<double>(i) / h) : 0.;
    set_angle(i, a);
    set_angle(Nl - i, M_PI / 2. - a);
    set_angle(Nl + i, a + M_PI / 2.);
    if (i >= 1) set_angle(Nlr - i, M_PI - a);
  }
  for (int i = 0; i < Nlr; i++) {
    int x, y;
    if (i <= h) {
      x = hc;
      y = i;
    } else if (i <= h + Nc) {
      x = (Nc + 1) / 2 - i + h;
      y = h;
    } else {
      x = (-Nc) / 2;
      y = Nl + Nc - i;
    }
    const double d = std::sqrt(static_cast<double>(x) * x + static_cast<double>(y) * y);
    TabLineStep[i] = 2. * d / Ncr;
  }
}

void Radon::transform(Image& Ima, Image& Rad) {
  if (!Allocated || Ima.nl() != Nl || Ima.nc() != Nc) alloc(Ima.nl(), Ima.nc(), RADON_FFT, 0, 0);
  if (Ima.nl() != Ima.nc()) fatal_exit("Error: this RADON transform need square images ... \n");
  if (Rad.naxis() != 2 || Rad.nl() != Nlr || Rad.nc() != Ncr) Rad.resize(Nlr, Ncr);
  Rad.init();
  if (Verbose) {
    std::printf("RADON transform: input image size = %d %d\n", Ima.nl(), Ima.nc());
    std::printf("                 output image size = %d %d\n", Rad.nl(), Rad.nc());
  }
  if (const RadonMethodDescriptor* d = descriptor(RadonMethod)) d->forward(*this, Ima, Rad);
}

void Radon::recons(Image& Rad, Image& Ima) {
  if (!Allocated || Rad.nl() != Nlr || Rad.nc() != Ncr)
    alloc(Rad.nc(), Rad.nc(), RADON_FFT, Rad.nl(), Rad.nc());
  if (Ima.naxis() != 2 || Ima.nl() != Nl || Ima.nc() != Nc) Ima.resize(Nl, Nc);
  Ima.init();
  if (Verbose) {
    std::printf("RADON reconstruct: input image size = %d %d\n", Rad.nl(), Rad.nc());
    std::printf("                   output image size = %d %d\n", Ima.nl(), Ima.nc());
  }
  if (const RadonMethodDescriptor* d = descriptor(RadonMethod)) d->inverse(*this, Rad, Ima);
}
