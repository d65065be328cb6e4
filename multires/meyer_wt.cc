// The Meyer wavelet transform in Fourier space: plane sizes, the Meyer
// windows, the (optionally extended) orthonormal spectrum and the split of
// the spectrum into band-pass planes and its adjoint.
#include "multires/meyer_wt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "array/fatal.h"

namespace {

using Plane = MEYER_WT::Plane;

// Index of the image spectrum (centred, n samples) that extended-grid index
// k (centred, next samples) continues periodically.
std::vector<int> wrap_table(int next, int n) {
  std::vector<int> table(next);
  for (int k = 0; k < next; k++) {
    int u = k - next / 2;
    if (u < -(n / 2))
      u += n;
    else if (u > n - 1 - n / 2)
      u -= n;
    table[k] = u + n / 2;
  }
  return table;
}

// Window value at the normalised distance x = (d - q)/q of the plain forms:
// flat inside the quarter, Meyer fall over the next quarter, zero beyond. A
// zero quarter (planes narrower than 4) has no flat part and no fall.
double quarter_profile(double distance, int quarter) {
  if (quarter <= 0) return 0.;
  const double x = (distance - quarter) / quarter;
  if (x <= 0.) return 1.;
  if (x <= 1.) return MEYER_WT::lowpass_window(1. - x);
  return 0.;
}

// Profile of the extended separable form: a Meyer rise over the first M/2
// samples from each border, flat in the middle.
std::vector<double> extended_profile(int n, double extent) {
  const double m = extent > 0. ? extent / 2. : n / 2.;
  const int c = n / 2;
  std::vector<double> w(n, 1.);
  for (int i = 0; i < m / 2. && i < n; i++) {
    const double value = MEYER_WT::lowpass_window((i - c + m) / (m / 2.));
    w[i] = value;
    w[n - 1 - i] = value;
  }
  return w;
}

void check_plane_count(const Plane* planes) {
  if (planes == nullptr)
    fatal_exit("Error in transform_cf: TabWT has not been initialized ... \n");
}

}  // namespace

void plane_multiply(MEYER_WT::Plane& plane, float factor) {
  std::complex<float>* p = plane.buffer();
  const int n = plane.n_elem();
  for (int k = 0; k < n; k++) p[k] *= factor;
}

void plane_divide(MEYER_WT::Plane& plane, float divisor) {
  std::complex<float>* p = plane.buffer();
  const int n = plane.n_elem();
  for (int k = 0; k < n; k++) p[k] /= divisor;
}

MEYER_WT::~MEYER_WT() { release_planes(); }

void MEYER_WT::release_planes() {
  delete[] TabWT;
  TabWT = nullptr;
}

float MEYER_WT::fourier_norm(int nl, int nc) {
  return std::sqrt(static_cast<float>(static_cast<long>(nl) * nc));
}

void MEYER_WT::init(int NbrScaleIn, int NlIn, int NcIn, Bool ExtendIn, Bool IsotropIn,
                    Bool NeedOddSizeIn) {
  if (NbrScaleIn < 1 || NlIn < 1 || NcIn < 1)
    fatal_exitf(-1, stdout,
                "Error: bad parameters in MEYER_WT::init: NbrScale = %d, Nl = %d, Nc = %d ...\n",
                NbrScaleIn, NlIn, NcIn);
  NbrScale = NbrScaleIn;
  Nl = NlIn;
  Nc = NcIn;
  IsotropWT = IsotropIn;
  ExtendWT = IsotropIn ? False : ExtendIn;
  NeedOddSize = NeedOddSizeIn;
  const double grow = ExtendWT ? 1.3333333333333333 : 1.;
  Nld = static_cast<double>(static_cast<float>(Nl));
  Ncd = static_cast<double>(static_cast<float>(Nc));
  if (ExtendWT) {
    Nld *= grow;
    Ncd *= grow;
  }
  TabNl.alloc(NbrScale, "TabNl");
  TabNc.alloc(NbrScale, "TabNc");
  double x = Nld, y = Ncd;
  for (int s = 0; s < NbrScale; s++) {
    if (ExtendWT || NeedOddSize) {
      TabNl(s) = 2 * static_cast<int>(std::floor(x / 2.)) + 1;
      TabNc(s) = 2 * static_cast<int>(std::floor(y / 2.)) + 1;
    } else {
      TabNl(s) = static_cast<int>(x + 0.5);
      TabNc(s) = static_cast<int>(y + 0.5);
    }
    if (TabNl(s) < 1 || TabNc(s) < 1)
      fatal_exitf(-1, stdout,
                  "Error: too many scales (%d) for an image of %d x %d in MEYER_WT::init ...\n",
                  NbrScale, Nl, Nc);
    x /= 2.;
    y /= 2.;
  }
  ExtNl = TabNl(0);
  ExtNc = TabNc(0);
  release_planes();
  TabWT = new Plane[NbrScale];
  TF_ExtIma.alloc(ExtNl, ExtNc, "Ext TFIMA");
  H.alloc(ExtNl, ExtNc, "H filter");
  if (Verbose) {
    std::printf("INIT WT: ImageSize = %d %d NbrScale = %d\n", Nl, Nc, NbrScale);
    if (IsotropWT)
      std::printf("   Use isotropic wavelets \n");
    else if (ExtendWT)
      std::printf("   Use Meyer's wavelets \n");
    else
      std::printf("   Use Meyer's wavelets without image extension  \n");
  }
}

double MEYER_WT::lowpass_window(double x) {
  // The formula's own limits at the ends (its divisions by zero give
  // exactly 0 and 1); beyond them the value stays at the limit.
  if (x <= 0.) return 0.;
  if (x >= 1.) return 1.;
  const double l = std::exp(1. - 1. / (1. - std::exp(1. - 1. / (1. - x))));
  const double r = std::exp(1. - 1. / (1. - std::exp(1. - 1. / x)));
  return l / std::sqrt(l * l + r * r);
}

void MEYER_WT::get_hfilter(to_array<float, false>& Filter, double DNX, double DNY) {
  const int n = Filter.nl(), m = Filter.nc();
  const int c = n / 2, d = m / 2;
  if (IsotropWT) {
    const int q = std::min(n / 4, m / 4);
    for (int i = 0; i < n; i++) {
      float* row = Filter.buffer() + static_cast<long>(i) * m;
      for (int j = 0; j < m; j++) {
        const double rho = std::sqrt(static_cast<double>((i - c) * (i - c) + (j - d) * (j - d)));
        row[j] = static_cast<float>(quarter_profile(rho, q));
      }
    }
    return;
  }
  std::vector<double> wx, wy;
  if (ExtendWT) {
    wx = extended_profile(n, DNX);
    wy = extended_profile(m, DNY);
  } else {
    wx.resize(n);
    wy.resize(m);
    for (int i = 0; i < n; i++) wx[i] = quarter_profile(std::abs(i - c), n / 4);
    for (int j = 0; j < m; j++) wy[j] = quarter_profile(std::abs(j - d), m / 4);
  }
  for (int i = 0; i < n; i++) {
    float* row = Filter.buffer() + static_cast<long>(i) * m;
    for (int j = 0; j < m; j++) row[j] = static_cast<float>(wx[i] * wy[j]);
  }
}

void MEYER_WT::get_extFourier(to_array<float, false>& Image, Plane& TF) {
  const int in_nl = ExtendWT ? Nl : ExtNl, in_nc = ExtendWT ? Nc : ExtNc;
  if (Image.naxis() != 2 || Image.nl() != in_nl || Image.nc() != in_nc)
    fatal_exitf(-1, stdout,
                "Error: bad image size in get_extFourier: %d x %d where %d x %d is expected ...\n",
                Image.nl(), Image.nc(), in_nl, in_nc);
  TF.resize(ExtNl, ExtNc);
  const float norm = fourier_norm(Nl, Nc);
  if (!ExtendWT) {
    FFT2D.fftn2d(Image, TF, False);
    plane_divide(TF, norm);
    return;
  }
  Plane spectrum(Nl, Nc, "TFIMA");
  FFT2D.fftn2d(Image, spectrum, False);
  plane_divide(spectrum, norm);
  const std::vector<int> rows = wrap_table(ExtNl, Nl), cols = wrap_table(ExtNc, Nc);
  for (int i = 0; i < ExtNl; i++) {
    std::complex<float>* out = TF.buffer() + static_cast<long>(i) * ExtNc;
    const std::complex<float>* in = spectrum.buffer() + static_cast<long>(rows[i]) * Nc;
    for (int j = 0; j < ExtNc; j++) out[j] = in[cols[j]];
  }
}

void MEYER_WT::get_IFFT_Ima(Plane& TF, to_array<float, false>& Image) {
  if (TF.nl() != ExtNl || TF.nc() != ExtNc)
    fatal_exitf(-1, stdout,
                "Error: bad image size in get_IFFT_Ima ... \nExtNl = %dExtNc = %d\n"
                "InExtNl = %dInExtNc = %d\n",
                ExtNl, ExtNc, TF.nl(), TF.nc());
  if (Image.naxis() != 2 || Image.nl() != Nl || Image.nc() != Nc) Image.resize(Nl, Nc);
  const float norm = fourier_norm(Nl, Nc);
  Plane folded;
  Plane* spatial = &TF;
  if (ExtendWT) {
    // Frequencies that the periodic extension repeated are summed back.
    folded.alloc(Nl, Nc, "TFIMA");
    const std::vector<int> rows = wrap_table(ExtNl, Nl), cols = wrap_table(ExtNc, Nc);
    for (int i = 0; i < ExtNl; i++) {
      const std::complex<float>* in = TF.buffer() + static_cast<long>(i) * ExtNc;
      std::complex<float>* out = folded.buffer() + static_cast<long>(rows[i]) * Nc;
      for (int j = 0; j < ExtNc; j++) out[cols[j]] += in[j];
    }
    spatial = &folded;
  }
  plane_multiply(*spatial, norm);
  FFT2D.ifftn2d(*spatial);
  const std::complex<float>* p = spatial->buffer();
  float* out = Image.buffer();
  const int n = Image.n_elem();
  for (int k = 0; k < n; k++) out[k] = p[k].real();
}

void MEYER_WT::transform_cf(Plane& TF, Plane*& TabCF) {
  check_plane_count(TabCF);
  TabCF[0] = TF;
  if (ExtendWT) {
    // The taper brings the periodic continuation to zero at the grid border.
    H.resize(ExtNl, ExtNc);
    get_hfilter(H, Nld, Ncd);
    std::complex<float>* p = TabCF[0].buffer();
    const float* h = H.buffer();
    for (int k = 0; k < TabCF[0].n_elem(); k++) p[k] *= h[k];
  }
  double d1 = Nld, d2 = Ncd;
  for (int s = 0; s < NbrScale - 1; s++) {
    const int A = TabNl(s), B = TabNc(s), a = TabNl(s + 1), b = TabNc(s + 1);
    if (Verbose) std::printf("Scale %d Nl = %d Nc = %d\n", s + 1, A, B);
    H.resize(a, b);
    TF.resize(a, b);
    if (ExtendWT)
      get_hfilter(H, d1 / 2., d2 / 2.);
    else
      get_hfilter(H, 0., 0.);
    const int di = A / 2 - a / 2, dj = B / 2 - b / 2;
    for (int i = 0; i < a; i++) {
      const float* h = H.buffer() + static_cast<long>(i) * b;
      std::complex<float>* low = TF.buffer() + static_cast<long>(i) * b;
      std::complex<float>* band = TabCF[s].buffer() + static_cast<long>(i + di) * B + dj;
      for (int j = 0; j < b; j++) {
        low[j] = h[j] * band[j];
        band[j] *= std::sqrt(1.f - h[j] * h[j]);
      }
    }
    TabCF[s + 1] = TF;
    d1 /= 2.;
    d2 /= 2.;
  }
}

void MEYER_WT::recons_cf(Plane*& TabCF, Plane& TF) {
  check_plane_count(TabCF);
  const int n0 = TabCF[0].nl(), m0 = TabCF[0].nc();
  const int last = NbrScale - 1;
  to_array<float, false> previous(n0, m0, "LowPass"), current(n0, m0, "LowPass");
  if (ExtendWT) {
    TF.alloc(n0, m0, "rec");
    get_hfilter(previous, Nld, Ncd);
    double d1 = Nld, d2 = Ncd;
    for (int s = 0; s < last; s++) {
      const int A = TabNl(s), B = TabNc(s), a = TabNl(s + 1), b = TabNc(s + 1);
      if (Verbose) std::printf("Rec WT Scale %d %d %d\n", s + 1, A, B);
      current.resize(a, b);
      get_hfilter(current, d1 / 2., d2 / 2.);
      Plane& plane = TabCF[s];
      std::complex<float>* p = plane.buffer();
      const float* w = previous.buffer();
      for (long k = 0; k < static_cast<long>(A) * B; k++) p[k] *= w[k];
      const int di = A / 2 - a / 2, dj = B / 2 - b / 2;
      for (int i = 0; i < a; i++) {
        const float* c = current.buffer() + static_cast<long>(i) * b;
        std::complex<float>* band = p + static_cast<long>(i + di) * B + dj;
        for (int j = 0; j < b; j++) band[j] *= std::sqrt(1.f - c[j] * c[j]);
      }
      const int oi = n0 / 2 - A / 2, oj = m0 / 2 - B / 2;
      for (int i = 0; i < A; i++) {
        const std::complex<float>* in = p + static_cast<long>(i) * B;
        std::complex<float>* out = TF.buffer() + static_cast<long>(i + oi) * m0 + oj;
        for (int j = 0; j < B; j++) out[j] += in[j];
      }
      if (s != last - 1) previous = current;
      d1 /= 2.;
      d2 /= 2.;
    }
    const int a = TabNl(last), b = TabNc(last);
    const int oi = n0 / 2 - a / 2, oj = m0 / 2 - b / 2;
    for (int i = 0; i < a; i++) {
      const std::complex<float>* in = TabCF[last].buffer() + static_cast<long>(i) * b;
      const float* c = current.buffer() + static_cast<long>(i) * b;
      std::complex<float>* out = TF.buffer() + static_cast<long>(i + oi) * m0 + oj;
      for (int j = 0; j < b; j++) out[j] += in[j] * c[j];
    }
    return;
  }
  TF = TabCF[last];
  for (int s = last - 1; s >= 0; s--) {
    const int A = TabNl(s), B = TabNc(s), a = TabNl(s + 1), b = TabNc(s + 1);
    if (Verbose) std::printf("Rec WT Scale %d %d %d\n", s + 1, A, B);
    current.resize(a, b);
    get_hfilter(current, 0., 0.);
    const int di = A / 2 - a / 2, dj = B / 2 - b / 2;
    for (int i = 0; i < a; i++) {
      const float* c = current.buffer() + static_cast<long>(i) * b;
      std::complex<float>* low = TF.buffer() + static_cast<long>(i) * b;
      std::complex<float>* band = TabCF[s].buffer() + static_cast<long>(i + di) * B + dj;
      for (int j = 0; j < b; j++) {
        band[j] *= std::sqrt(1.f - c[j] * c[j]);
        low[j] *= c[j];
        band[j] += low[j];
      }
    }
    TF = TabCF[s];
  }
}

void MEYER_WT::fft_tabima(to_array<float, false>*& TabBand, Plane*& TabCF) {
  check_plane_count(TabCF);
  if (TabBand == nullptr) fatal_exit("Error: no band images given to fft_tabima ... \n");
  for (int s = 0; s < NbrScale; s++) {
    if (TabBand[s].nl() != TabNl(s) || TabBand[s].nc() != TabNc(s))
      fatal_exitf(-1, stdout,
                  "Error: band %d is %d x %d where %d x %d is expected in fft_tabima ...\n",
                  s + 1, TabBand[s].nl(), TabBand[s].nc(), TabNl(s), TabNc(s));
    TabCF[s].resize(TabNl(s), TabNc(s));
    FFT2D.fftn2d(TabBand[s], TabCF[s], False);
    plane_divide(TabCF[s], fourier_norm(TabNl(s), TabNc(s)));
  }
}

void MEYER_WT::ifft_tabima(Plane*& TabCF, to_array<float, false>*& TabBand, Bool Alloc) {
  check_plane_count(TabCF);
  if (Alloc) {
    TabBand = new to_array<float, false>[NbrScale];
    for (int s = 0; s < NbrScale; s++) TabBand[s].alloc(TabNl(s), TabNc(s), "band");
  } else if (TabBand == nullptr) {
    fatal_exit("Error: no band images given to ifft_tabima ... \n");
  }
  for (int s = 0; s < NbrScale; s++) {
    plane_multiply(TabCF[s], fourier_norm(TabNl(s), TabNc(s)));
    FFT2D.ifftn2d(TabCF[s]);
    if (TabBand[s].nl() != TabNl(s) || TabBand[s].nc() != TabNc(s))
      TabBand[s].resize(TabNl(s), TabNc(s));
    const std::complex<float>* p = TabCF[s].buffer();
    float* out = TabBand[s].buffer();
    for (int k = 0; k < TabBand[s].n_elem(); k++) out[k] = p[k].real();
  }
}

void MEYER_WT::transform(to_array<float, false>& Image) {
  check_plane_count(TabWT);
  get_extFourier(Image, TF_ExtIma);
  transform_cf(TF_ExtIma, TabWT);
}

void MEYER_WT::transform(to_array<float, false>& Image, to_array<float, false>*& TabBand,
                         Bool Alloc) {
  transform(Image);
  ifft_tabima(TabWT, TabBand, Alloc);
}

void MEYER_WT::recons(to_array<float, false>& Image) {
  recons_cf(TabWT, TF_ExtIma);
  get_IFFT_Ima(TF_ExtIma, Image);
}

void MEYER_WT::recons(to_array<float, false>*& TabBand, to_array<float, false>& Image,
                      Bool Resize) {
  if (Resize) Image.resize(Nl, Nc);
  fft_tabima(TabBand, TabWT);
  recons(Image);
}
