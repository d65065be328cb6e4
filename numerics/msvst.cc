// MS-VST constants, stabilisation and detail variance.
#include "numerics/msvst.h"

#include <cmath>
#include <cstdint>

#include "array/fatal.h"

const double MSVST_T1[11] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
const double MSVST_T2[11] = {1.0,
                             0.2734375,
                             0.12347412109375,
                             0.0603594779968262,
                             0.0300147198140621,
                             0.014986945054261,
                             0.00749092722048772,
                             0.00374514565088013,
                             0.00187253308688793,
                             0.00093626157632392,
                             0.000468130167278172};
const double MSVST_T3[11] = {1.0,
                             0.08447265625,
                             0.017338752746582,
                             0.00414866860955954,
                             0.00102616434651281,
                             0.00025586256661736,
                             6.39233749606246e-05,
                             1.59782042631771e-05,
                             3.99438613268932e-06,
                             9.9858622538761e-07,
                             2.49645912118706e-07};
const double MSVST_sumhh[12] = {0.0,
                                0.375,
                                0.15771484375,
                                0.0760841369628906,
                                0.0377178490161896,
                                0.0188190417829901,
                                0.00940455525596917,
                                0.00470165753587537,
                                0.00235075127553241,
                                0.00117536595181247,
                                0.000587681765180673,
                                0.000293840731250224};

namespace {

constexpr int kLastScale = 10;

// Forward stabilisation of n values.
void stabilise(const float* in, float* out, int64_t n, int dim, int scale, Bool no_factor) {
  double B, C;
  ms_vst(dim, scale, B, C);
  double factor = no_factor ? 1.0 : B;
  for (int64_t k = 0; k < n; ++k) out[k] = static_cast<float>(factor * std::sqrt(in[k] + C));
}

void unstabilise(const float* in, float* out, int64_t n, int dim, int scale, Bool add_bias) {
  double B, C;
  ms_vst(dim, scale, B, C);
  double bias = add_bias ? 1.0 / (B * B) : 0.0;
  for (int64_t k = 0; k < n; ++k) {
    float squared = in[k] * in[k];
    out[k] = static_cast<float>(squared - C + bias);
  }
}

// Gives out the shape of in without disturbing in when both are the same.
void shape_like(const to_array<float, true>& in, to_array<float, true>& out) {
  if (&in == &out) return;
  if (out.naxis() != in.naxis() || out.nx() != in.nx() || out.ny() != in.ny() ||
      out.nz() != in.nz())
    out.alloc(in.nx(), in.ny(), in.nz());
}

void shape_like(const to_array<float, false>& in, to_array<float, false>& out) {
  if (&in == &out) return;
  if (out.naxis() != 2 || out.nl() != in.nl() || out.nc() != in.nc()) out.alloc(in.nl(), in.nc());
}

}  // namespace

void ms_vst(int dim, int scale, double& B, double& C) {
  if (scale > kLastScale) fatal_exit("Error:VST coefs not precalculated for scale > 10\n");
  if (scale < 0) fatal_exitf(-1, stdout, "Error:VST coefs not defined for scale %d < 0\n", scale);
  double tau1 = std::pow(MSVST_T1[scale], dim);
  double tau2 = std::pow(MSVST_T2[scale], dim);
  double tau3 = std::pow(MSVST_T3[scale], dim);
  B = 2.0 * std::sqrt(tau1 / tau2);
  C = 7.0 * tau2 / (8.0 * tau1) - tau3 / (2.0 * tau2);
}

double msvst_var(int dim, int scale) {
  if (scale > kLastScale) fatal_exit("Error:VST coefs Var not precalculated for scale > 10\n");
  if (scale < 1)
    fatal_exitf(-1, stdout, "Error:VST coefs Var not defined for scale %d < 1\n", scale);
  double a = std::pow(MSVST_T1[scale - 1], dim);
  double b = std::pow(MSVST_T1[scale], dim);
  double c = std::pow(MSVST_T2[scale - 1], dim);
  double e = std::pow(MSVST_T2[scale], dim);
  double s = std::pow(MSVST_sumhh[scale], dim);
  return c / (4.0 * a * a) + e / (4.0 * b * b) - s / (2.0 * a * b);
}

void msvst_transform(to_array<float, true>& in, to_array<float, true>& out, int scale,
                     Bool no_factor) {
  shape_like(in, out);
  stabilise(in.buffer(), out.buffer(), in.n_elem(), in.naxis(), scale, no_factor);
}

void msvst_inv_transform(to_array<float, true>& in, to_array<float, true>& out, int scale,
                         Bool add_bias) {
  shape_like(in, out);
  unstabilise(in.buffer(), out.buffer(), in.n_elem(), in.naxis(), scale, add_bias);
}

void msvst_transform(to_array<float, false>& in, to_array<float, false>& out, int scale,
                     Bool no_factor) {
  shape_like(in, out);
  stabilise(in.buffer(), out.buffer(), in.n_elem(), 2, scale, no_factor);
}

void msvst_inv_transform(to_array<float, false>& in, to_array<float, false>& out, int scale,
                         Bool add_bias) {
  shape_like(in, out);
  unstabilise(in.buffer(), out.buffer(), in.n_elem(), 2, scale, add_bias);
}
