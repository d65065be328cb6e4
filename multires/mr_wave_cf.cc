// Fourier-space wavelet transforms. The work spectra belong to each call.
// Filters are evaluated in single precision but for the B-spline and the
// square roots, at integer frequency offsets in units of the full spectrum.
#include "multires/mr_wave_cf.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "multires/mr_dispatch.h"
#include "multires/multiresol.h"
#include "numerics/fftn_2d.h"

namespace {

using Image = to_array<float, false>;
using Spectrum = to_array<std::complex<float>, false>;

constexpr float FloatEpsilon = 5.96047e-08f;

double b3_spline(double x) {
  auto c = [](double t) { return std::fabs(t) * std::fabs(t) * std::fabs(t); };
  return (c(x - 2) - 4 * c(x - 1) + 6 * c(x) - 4 * c(x + 1) + c(x + 2)) / 12.;
}

bool fourier_type(type_transform T) {
  return T == TO_PAVE_FFT || T == TO_PYR_FFT_DIFF_RESOL || T == TO_PYR_FFT_DIFF_SQUARE;
}

void check_wave(type_transform T, const char* function) {
  if (!fourier_type(T)) fatal_exitf(-1, stderr, "Error: bad wave in %s\n", function);
}

// The filters are sampled on the radix-2 FFT's grid: any other side would
// run the mixed-radix FFT on a grid the frequency offsets do not fit, and the
// bands would silently be wrong (or, for an odd half, short of a line).
void check_side(const Image& ima, const char* function) {
  if (ima.nl() != ima.nc())
    fatal_exitf(-1, stdout,
                "Error: %s needs a square image, not %d x %d: the Fourier-space wavelet "
                "transforms take their frequencies from one side ...\n",
                function, ima.nl(), ima.nc());
  if (!is_power_of_2(ima.nl())) fatal_exit("error: is not a power of two\n", -1, stdout);
}

// The real part of an inverse FFT of spectrum into band (resized).
void real_part(FFTN_2D& fft, Spectrum& spectrum, Image& band) {
  fft.fftn2d(spectrum, True);
  band.resize(spectrum.nl(), spectrum.nc());
  for (int k = 0; k < spectrum.n_elem(); k++) band(k) = spectrum(k).real();
}

void forward(FFTN_2D& fft, const Image& ima, Spectrum& spectrum) {
  spectrum.alloc(ima.nl(), ima.nc());
  Image copy = ima;
  fft.fftn2d(copy, spectrum);
}

}  // namespace

float pyr_2d_cf_scaling_function(float u, float v, float Fc, int N) {
  const double r = std::sqrt(static_cast<double>(u) * u + static_cast<double>(v) * v);
  return static_cast<float>(1.5 * b3_spline(2. * r / (Fc * N)));
}

float pyr_2d_cf_filter_h(float u, float v, float Fc, int N1, int N2) {
  const int h1 = N1 / 2, h2 = N2 / 2;
  if (!(-h1 <= 2 * u && 2 * u < h1 && -h2 <= 2 * v && 2 * v < h2)) return 0.f;
  const float p = pyr_2d_cf_scaling_function(u, v, Fc, N1);
  if (std::fabs(p) < FloatEpsilon) return 0.f;
  return pyr_2d_cf_scaling_function(2 * u, 2 * v, Fc, N1) / p;
}

float pyr_2d_cf_filter_g(float u, float v, float Fc, int N1, int N2, type_transform T) {
  check_wave(T, "pyr_2d_cf_filter_g");
  const float h = pyr_2d_cf_filter_h(u, v, Fc, N1, N2);
  if (T == TO_PYR_FFT_DIFF_SQUARE) return static_cast<float>(std::sqrt(1. - h * h));
  return 1.f - h;
}

float pyr_2d_cf_filter_h_tilde(float u, float v, float Fc, int N1, int N2, type_transform T) {
  check_wave(T, "pyr_2d_cf_filter_h_tilde");
  const float h = pyr_2d_cf_filter_h(u, v, Fc, N1, N2);
  if (T == TO_PYR_FFT_DIFF_SQUARE) return h;
  const float g = pyr_2d_cf_filter_g(u, v, Fc, N1, N2, T);
  const float energy = h * h + g * g;
  return energy < FloatEpsilon ? 0.f : h / energy;
}

float pyr_2d_cf_filter_g_tilde(float u, float v, float Fc, int N1, int N2, type_transform T) {
  check_wave(T, "pyr_2d_cf_filter_g_tilde");
  const float g = pyr_2d_cf_filter_g(u, v, Fc, N1, N2, T);
  if (T == TO_PYR_FFT_DIFF_SQUARE) return g;
  const float h = pyr_2d_cf_filter_h(u, v, Fc, N1, N2);
  const float energy = h * h + g * g;
  return energy < FloatEpsilon ? 0.f : g / energy;
}

float pyr_2d_cf_filter_wavelet(float u, float v, float Fc, int N, type_transform T) {
  check_wave(T, "pyr_2d_cf_filter_wavelet");
  const float p1 = pyr_2d_cf_scaling_function(u, v, Fc, N);
  const float p2 = pyr_2d_cf_scaling_function(u / 2, v / 2, Fc, N);
  if (T == TO_PYR_FFT_DIFF_SQUARE) return p2 * p2 - p1 * p1;
  return p2 - p1;
}

float pyr_2d_cf_filter(int Which, float u, float v, float Fc, int N1, int N2, type_transform T) {
  float value = 0.f;
  switch (Which) {
    case 1: value = pyr_2d_cf_scaling_function(u, v, Fc, N1); break;
    case 2: value = pyr_2d_cf_filter_h(u, v, Fc, N1, N2); break;
    case 3: value = pyr_2d_cf_filter_h_tilde(u, v, Fc, N1, N2, T); break;
    case 4: value = pyr_2d_cf_filter_g(u, v, Fc, N1, N2, T); break;
    case 5: value = pyr_2d_cf_filter_g_tilde(u, v, Fc, N1, N2, T); break;
    case 6: value = pyr_2d_cf_filter_wavelet(u, v, Fc, N1, T); break;
    // An unknown filter used to end the run with status 0, as a success.
    default: fatal_exit("Error: bad filter in pyr_2d_cf_filter\n", -1, stderr);
  }
  if (!(value >= -FloatEpsilon && value < 2)) {
    std::fprintf(stderr,
                 "MR_Wave_cf: Assertion `(Val_Return >= -FLOAT_EPSILON) && (Val_Return < 2)' "
                 "failed.\n");
    std::abort();
  }
  return value;
}

void pyr_2d_cf_create_filter(Image& Filter, float Fc, int Which, type_transform T) {
  const int nl = Filter.nl(), nc = Filter.nc();
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++)
      Filter(i, j) = pyr_2d_cf_filter(Which, static_cast<float>(i - nl / 2.0),
                                      static_cast<float>(j - nc / 2.0), Fc, nl, nc, T);
}

void wave_cf_mult(Spectrum& Low, Spectrum& Detail, int s, int N, float Fc, type_transform T,
                  Bool Analysis) {
  const int step = static_cast<int>(std::pow(2., s) + 0.5);
  const int nl = Low.nl(), nc = Low.nc();
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      const int u = step * (i - nl / 2), v = step * (j - nc / 2);
      if (N / 2 + u < 0 || N / 2 + u >= N || N / 2 + v < 0 || N / 2 + v >= N) {
        Low(i, j) = 0.f;
        continue;
      }
      const float fu = static_cast<float>(u), fv = static_cast<float>(v);
      if (Analysis) {
        Low(i, j) *= pyr_2d_cf_filter_h(fu, fv, Fc, N, N);
        Detail(i, j) *= pyr_2d_cf_filter_g(fu, fv, Fc, N, N, T);
      } else {
        Low(i, j) *= pyr_2d_cf_filter_h_tilde(fu, fv, Fc, N, N, T);
        Detail(i, j) *= pyr_2d_cf_filter_g_tilde(fu, fv, Fc, N, N, T);
      }
    }
}

void under_sampling_2(Spectrum& Data) {
  const int n = Data.nl();
  const int half_l = Data.nl() / 2, half_c = Data.nc() / 2, quarter = n / 4;
  Spectrum buff(half_l, half_c);
  for (int i = 0; i < half_l; i++)
    for (int j = 0; j < half_c; j++) buff(i, j) = Data(i + quarter, j + quarter);
  Data = buff;
}

void over_sampling_2(Spectrum& Data) {
  const int nl = Data.nl(), nc = Data.nc();
  Spectrum buff(2 * nl, 2 * nc);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) buff(i + nl / 2, j + nc / 2) = Data(i, j);
  Data = buff;
}

void normalize_scale(Image& Band, int N, int Direction) {
  const int size = Band.nl() * Band.nc();
  const float factor = Direction == -1 ? static_cast<float>(size) / static_cast<float>(N * N)
                                       : static_cast<float>(N * N) / static_cast<float>(size);
  for (int k = 0; k < Band.n_elem(); k++) Band(k) *= factor;
}

namespace {

// Both forward forms: band s receives the detail of scale s (details) or
// the smoothed image of scale s (the pyramid of smoothings).
void cf_forward(Image& ima, MultiResol& mr, bool details, const char* function) {
  const type_transform T = mr.Type_Transform;
  if (!fourier_type(T)) {
    std::fprintf(stderr, "Error: proc. %s.\nThis transform is not computed this procedure\n",
                 function);
    return;
  }
  check_side(ima, function);
  const int N = ima.nl(), S = mr.NbrScale;
  const bool pyramid = T != TO_PAVE_FFT;
  FFTN_2D fft;
  Spectrum low, detail;
  forward(fft, ima, low);
  for (int s = 0; s < S - 1; s++) {
    detail = low;
    if (!details) real_part(fft, detail, mr.TabBand[s]);
    wave_cf_mult(low, detail, s, N, mr.Fc, T, True);
    if (details) real_part(fft, detail, mr.TabBand[s]);
    if (pyramid) {
      normalize_scale(mr.TabBand[s], N, -1);
      under_sampling_2(low);
    }
  }
  real_part(fft, low, mr.TabBand[S - 1]);
  if (pyramid) normalize_scale(mr.TabBand[S - 1], N, -1);
}

}  // namespace

void wave_cf_transform(Image& Ima, MultiResol& MR) {
  cf_forward(Ima, MR, true, "wave_cf_transform");
}

void mr_cf_transform(Image& Ima, MultiResol& MR) { cf_forward(Ima, MR, false, "mr_cf_transform"); }

void wave_cf_recons(MultiResol& MR, Image& Ima) {
  const type_transform T = MR.Type_Transform;
  if (!fourier_type(T)) {
    std::fprintf(stderr, "Error: proc. wave_cf_transform.\nThis transform is not computed this procedure\n");
    return;
  }
  check_side(Ima, "wave_cf_recons");
  const int N = Ima.nl(), S = MR.NbrScale;
  if (T == TO_PAVE_FFT) {
    Ima = MR.TabBand[S - 1];
    for (int s = S - 2; s >= 0; s--) Ima += MR.TabBand[s];
    return;
  }
  FFTN_2D fft;
  Spectrum low, detail;
  // Each band is scaled up for its FFT and back down, so it is left as found.
  normalize_scale(MR.TabBand[S - 1], N, +1);
  forward(fft, MR.TabBand[S - 1], low);
  normalize_scale(MR.TabBand[S - 1], N, -1);
  for (int s = S - 2; s >= 0; s--) {
    normalize_scale(MR.TabBand[s], N, +1);
    forward(fft, MR.TabBand[s], detail);
    normalize_scale(MR.TabBand[s], N, -1);
    over_sampling_2(low);
    wave_cf_mult(low, detail, s, N, MR.Fc, T, False);
    low += detail;
  }
  real_part(fft, low, Ima);
}

void print_info_cf(Spectrum& Data, int) {
  char name[64];
  std::snprintf(name, sizeof name, "%s (%d, %d)", "FFT Ima_Buff", Data.nl(), Data.nc());
  Image real(Data.nl(), Data.nc(), name);
  for (int k = 0; k < Data.n_elem(); k++) real(k) = Data(k).real();
  std::printf("       Sigma reel = %g\n", real.sigma());
  std::printf("       Min reel = %g\n", real.min());
  std::printf("       Max reel = %g\n", real.max());
  std::printf("       Moy reel = %g\n", real.mean());
}

namespace {

void cf_transform_op(Image& ima, MultiResol& mr, Bool, type_border, Bool details) {
  if (details) wave_cf_transform(ima, mr);
  else mr_cf_transform(ima, mr);
}

void cf_recons_op(MultiResol& mr, Image& ima, type_border, Bool) {
  if (ima.nl() != mr.Nl || ima.nc() != mr.Nc) ima.alloc(mr.Nl, mr.Nc);
  wave_cf_recons(mr, ima);
}

}  // namespace

const MRTypeOps FourierWaveletOps = {cf_transform_op, cf_recons_op, nullptr};
