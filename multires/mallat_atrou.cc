// Diadic quadratic-spline transform. The 1D filtering reads outside the
// image through the border rule itself, every rule included: positions that
// no rule maps (zero rule) read 0 instead of a sample outside the image.
#include "multires/mallat_atrou.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "array/border_index.h"
#include "array/scalar_helpers.h"
#include "multires/mr_dispatch.h"
#include "multires/multiresol.h"

namespace {

using Image = to_array<float, false>;

const double std_Hn[7] = {0, 0, 0.125, 0.375, 0.375, 0.125, 0};
const double std_Gn[7] = {0, 0, 0, -2, 2, 0, 0};
const double std_Kn[7] = {0.0078125, 0.0546875, 0.171875, -0.171875, -0.0546875, -0.0078125, 0};
const double std_Ln[7] = {0.0078125, 0.046875, 0.1171875, 0.65625, 0.1171875, 0.046875, 0.0078125};
const double std_HnMod[7] = {0, 0.125, 0.375, 0.375, 0.125, 0, 0};

[[noreturn]] void precondition(const char* condition, const char* reason) {
  std::fprintf(stderr, "MR_Mallat_A_Trou (%s:%d)\n%s - Precondition : %s\n", __FILE__, __LINE__,
               condition, reason);
  std::abort();
}

// One line of samples filtered with holes, the sum in double precision.
void filter_line(const float* x, int stride, int n, const double* f, int size, int step,
                 type_border border, float* out, int out_stride) {
  const int h = size / 2;
  for (int i = 0; i < n; i++) {
    double sum = 0.;
    for (int k = -h; k <= h; k++) {
      const int p = border_index(i + k * step, n, border);
      if (p >= 0) sum += static_cast<double>(x[static_cast<std::ptrdiff_t>(p) * stride]) * f[k + h];
    }
    out[static_cast<std::ptrdiff_t>(i) * out_stride] = static_cast<float>(sum);
  }
}

}  // namespace

void convolx1d(const Image& X, const double* F, int Size, Image& Y, int Step, type_border Border) {
  Y.resize(X.nl(), X.nc());
  for (int i = 0; i < X.nl(); i++)
    filter_line(X.buffer() + static_cast<std::ptrdiff_t>(i) * X.nc(), 1, X.nc(), F, Size, Step,
                Border, Y.buffer() + static_cast<std::ptrdiff_t>(i) * X.nc(), 1);
}

void convoly1d(const Image& X, const double* F, int Size, Image& Y, int Step, type_border Border) {
  Y.resize(X.nl(), X.nc());
  for (int j = 0; j < X.nc(); j++)
    filter_line(X.buffer() + j, X.nc(), X.nl(), F, Size, Step, Border, Y.buffer() + j, X.nc());
}

void convolxy1d(const Image& X, const double* F, int Size, Image& Y, int Step, type_border Border) {
  Image inter(X.nl(), X.nc(), "ao_inter");
  convolx1d(X, F, Size, inter, Step, Border);
  convoly1d(inter, F, Size, Y, Step, Border);
}

void wave_2d_mallat_atrou(const Image& Ima, Image* Bands, int P, type_border Border) {
  if (Bands == nullptr) precondition("Assertion failed: prpo_ImagOut!=(0)", "Out cube not allocated");
  if (P < 1) precondition("Assertion failed: pi_NbrPlan>=1", "Nb Plan >= 1");
  Image& running = Bands[2 * P - 1];
  running = Ima;
  for (int s = 0; s <= P - 2; s++) {
    const int step = iround(std::pow(2., s));
    convolx1d(running, std_Gn, 7, Bands[2 * s], step, Border);
    convoly1d(running, std_Gn, 7, Bands[2 * s + 1], step, Border);
    convolxy1d(running, std_Hn, 7, Bands[2 * P - 2], step, Border);
    running = Bands[2 * P - 2];
  }
  if (P == 1) Bands[0] = Ima;
}

void rec_wave_2d_mallat_atrou(Image* Bands, Image& Ima, int P, type_border Border) {
  if (Bands == nullptr) precondition("Assertion failed: prpo_ImagIn!=(0)", "IN cube not initialised");
  if (P < 1) precondition("Assertion failed: pi_NbrPlan>=1", "Nb Plan >= 1");
  Image s1(Ima.nl(), Ima.nc(), "ao_S1"), s2(Ima.nl(), Ima.nc(), "ao_S2"),
      s3(Ima.nl(), Ima.nc(), "ao_S3"), inter(Ima.nl(), Ima.nc(), "ao_Inter");
  Ima = Bands[2 * P - 2];
  for (int s = P - 2; s >= 0; s--) {
    const int step = iround(std::pow(2., s));
    convolx1d(Bands[2 * s], std_Kn, 7, inter, step, Border);
    convoly1d(inter, std_Ln, 7, s1, step, Border);
    convolx1d(Bands[2 * s + 1], std_Ln, 7, inter, step, Border);
    convoly1d(inter, std_Kn, 7, s2, step, Border);
    convolxy1d(Ima, std_HnMod, 7, s3, step, Border);
    for (int k = 0; k < Ima.n_elem(); k++) Ima(k) = s1(k) + s2(k) + s3(k);
  }
}

void calc_mod_pha_wave_2d_mallat_atrou(const Image* Bands, Image* Modulus, Image* Phase, int P) {
  for (int s = P - 2; s >= 0; s--) {
    const Image& a = Bands[2 * s];
    const Image& b = Bands[2 * s + 1];
    Modulus[s].resize(Bands[0].nl(), Bands[0].nc());
    Phase[s].resize(Bands[0].nl(), Bands[0].nc());
    for (int k = 0; k < a.n_elem(); k++) {
      Modulus[s](k) = std::sqrt(a(k) * a(k) + b(k) * b(k));
      Phase[s](k) = std::atan2(b(k), a(k));
    }
  }
}

namespace {

void diadic_transform_op(Image& ima, MultiResol& mr, Bool, type_border border, Bool) {
  wave_2d_mallat_atrou(ima, mr.TabBand, mr.NbrScale, border);
}

void diadic_recons_op(MultiResol& mr, Image& ima, type_border border, Bool) {
  if (ima.nl() != mr.Nl || ima.nc() != mr.Nc) ima.alloc(mr.Nl, mr.Nc);
  rec_wave_2d_mallat_atrou(mr.TabBand, ima, mr.NbrScale, border);
}

}  // namespace

const MRTypeOps DiadicMallatOps = {diadic_transform_op, diadic_recons_op, nullptr};
