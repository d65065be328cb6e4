// MEYER_WT: a multiscale decomposition computed entirely in Fourier space.
// The centred spectrum is split scale after scale into a band-pass plane and
// a low-pass plane about half as large by a smooth window H whose square and
// 1 - H² add up to one, so the planes form a tight frame and the
// reconstruction is the adjoint. Separable Meyer windows by default, a radial
// window for the isotropic form; optionally the spectrum is first continued
// periodically onto a grid 4/3 as large so that the windows can fall to zero
// inside it. The fast curvelet transform derives from this class.
#pragma once

#include <complex>

#include "array/base_types.h"
#include "array/to_array.h"
#include "numerics/fftn_2d.h"

class MEYER_WT {
 public:
  using Plane = to_array<std::complex<float>, false>;

  to_array<float, false> H;  // low-pass window of the current plane
  int Nl = 0, Nc = 0;
  int NbrScale = 0;  // band-pass planes plus the last low-pass plane
  to_array<int, true> TabNl, TabNc;
  Bool NeedOddSize = False;
  Bool ExtendWT = False;
  int ExtNl = 0, ExtNc = 0;  // plane 0, where the decomposition starts
  double Nld = 0., Ncd = 0.; // cut-off extents of the first window
  Bool IsotropWT = False;
  FFTN_2D FFT2D;
  Plane TF_ExtIma;        // spectrum of the last image (coarsest plane after transform)
  Plane* TabWT = nullptr; // the NbrScale planes, owned
  Bool Verbose = False;

  MEYER_WT() = default;
  ~MEYER_WT();
  MEYER_WT(const MEYER_WT&) = delete;
  MEYER_WT& operator=(const MEYER_WT&) = delete;

  void init(int NbrScale, int Nl, int Nc, Bool ExtendWT = False, Bool IsotropWT = False,
            Bool NeedOddSize = False);

  // 0 at 0, 1 at 1, 1/sqrt(2) at 0.5, w(x)² + w(1-x)² = 1. Arguments outside
  // [0, 1] are clamped: the taper's last samples fall a hair beyond 1 and
  // must read 1 there, not the 0 the unclamped formula gives.
  static double lowpass_window(double x);

  // Low-pass window of a plane of Filter's size; DNX, DNY are the cut-off
  // extents of the extended separable form (<= 0: the plane's own size).
  void get_hfilter(to_array<float, false>& Filter, double DNX = 0., double DNY = 0.);

  // Centred orthonormal spectrum of the image on the ExtNl x ExtNc grid.
  void get_extFourier(to_array<float, false>& Image, Plane& TF);
  // Its inverse; Image must already be Nl x Nc, TF ExtNl x ExtNc.
  void get_IFFT_Ima(Plane& TF, to_array<float, false>& Image);

  // TF is consumed (it ends as the coarsest plane).
  void transform_cf(Plane& TF, Plane*& TabCF);
  // The planes of TabCF are overwritten.
  void recons_cf(Plane*& TabCF, Plane& TF);

  void fft_tabima(to_array<float, false>*& TabBand, Plane*& TabCF);
  // With Alloc, TabBand becomes a new[] array of NbrScale images the caller owns.
  void ifft_tabima(Plane*& TabCF, to_array<float, false>*& TabBand, Bool Alloc = False);

  void transform(to_array<float, false>& Image);
  void transform(to_array<float, false>& Image, to_array<float, false>*& TabBand,
                 Bool Alloc = False);
  void recons(to_array<float, false>& Image);
  void recons(to_array<float, false>*& TabBand, to_array<float, false>& Image,
              Bool Resize = False);

  int nbr_scale() const { return NbrScale; }
  int nlima() const { return Nl; }
  int ncima() const { return Nc; }
  double nld() const { return Nld; }
  double ncd() const { return Ncd; }
  int nls(int s) const { return TabNl(s); }
  int ncs(int s) const { return TabNc(s); }
  Bool isotrop() const { return IsotropWT; }
  Bool extend() const { return ExtendWT; }

 private:
  void release_planes();
  // sqrt(nl·nc) in single precision: the orthonormal FFT factor of a plane.
  static float fourier_norm(int nl, int nc);
};

// Every value of a plane multiplied, or divided, by a real factor (the
// orthonormal FFT scalings; division is kept as such for its rounding).
void plane_multiply(MEYER_WT::Plane& plane, float factor);
void plane_divide(MEYER_WT::Plane& plane, float divisor);
