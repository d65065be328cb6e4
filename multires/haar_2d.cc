// Haar transforms. The decimated form treats the lone pairs of an odd edge
// with plain sums and differences so that every size reconstructs exactly.
// The undecimated forms smooth in place, rows then columns in increasing
// order, reading neighbours through the object's border rule.
#include "multires/haar_2d.h"

#include <cmath>
#include <vector>

#include "array/scalar_helpers.h"
#include "multires/mr_dispatch.h"
#include "multires/mr_regul.h"
#include "multires/multiresol.h"

namespace {

using Image = to_array<float, false>;

double diadic_norm(const MultiResol& mr) { return mr.TypeNorm == NORM_L2 ? 1. / std::sqrt(2.) : 0.5; }

void haar_transform_op(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  haar_2d_transform(ima, mr);
}
void haar_recons_op(MultiResol& mr, Image& ima, type_border, Bool) {
  if (ima.nl() != mr.Nl || ima.nc() != mr.Nc) ima.alloc(mr.Nl, mr.Nc);
  haar_2d_reconstruct(mr, ima);
}
void dir2_transform_op(Image& ima, MultiResol& mr, Bool flag, type_border, Bool) {
  haar_2d_atrou_dir2_transform(ima, mr, flag);
}
void dir2_recons_op(MultiResol& mr, Image& ima, type_border, Bool flag) {
  if (ima.nl() != mr.Nl || ima.nc() != mr.Nc) ima.alloc(mr.Nl, mr.Nc);
  haar_2d_atrou_dir2_recons(mr, ima, flag);
}

}  // namespace

const MRTypeOps HaarOps = {haar_transform_op, haar_recons_op, nullptr};
const MRTypeOps DiadicHaarOps = {dir2_transform_op, dir2_recons_op, nullptr};

void haar_2d_transform(Image& Ima, MultiResol& MR) {
  const int S = MR.NbrScale;
  Image w(Ima.nl(), Ima.nc(), "haar buffer");
  w = Ima;
  Image smooth((Ima.nl() + 1) / 2, (Ima.nc() + 1) / 2, "haar buffer");
  for (int s = 0; s <= S - 2; s++) {
    const int nl = w.nl(), nc = w.nc();
    const int hl = nl / 2, hc = nc / 2;
    const bool odd_l = nl % 2 == 1, odd_c = nc % 2 == 1;
    Image& d1 = MR.TabBand[3 * s];
    Image& d3 = MR.TabBand[3 * s + 1];
    Image& d2 = MR.TabBand[3 * s + 2];
    smooth.resize((nl + 1) / 2, (nc + 1) / 2);
    for (int i = 0; i < hl; i++)
      for (int j = 0; j < hc; j++) {
        const float a = w(2 * i, 2 * j), b = w(2 * i, 2 * j + 1);
        const float c = w(2 * i + 1, 2 * j), d = w(2 * i + 1, 2 * j + 1);
        d1(i, j) = (-a + b - c + d) / 2.f;
        d3(i, j) = (-a - b + c + d) / 2.f;
        d2(i, j) = (a - b - c + d) / 2.f;
        smooth(i, j) = (a + b + c + d) / 2.f;
      }
    if (odd_l)
      for (int j = 0; j < hc; j++) {
        const float a = w(2 * hl, 2 * j), b = w(2 * hl, 2 * j + 1);
        d1(hl, j) = b - a;
        smooth(hl, j) = a + b;
      }
    if (odd_c)
      for (int i = 0; i < hl; i++) {
        const float a = w(2 * i, 2 * hc), c = w(2 * i + 1, 2 * hc);
        d3(i, hc) = c - a;
        smooth(i, hc) = a + c;
      }
    if (odd_l && odd_c) smooth(hl, hc) = w(2 * hl, 2 * hc);
    if (s == S - 2) MR.TabBand[MR.NbrBand - 1] = smooth;
    else w = smooth;
  }
  if (S < 2) MR.TabBand[MR.NbrBand - 1] = Ima;
}

void haar_2d_reconstruct(MultiResol& MR, Image& Ima) {
  const int S = MR.NbrScale;
  const int Nl = Ima.nl(), Nc = Ima.nc();
  Image b(size_resol(S - 1, Nl), size_resol(S - 1, Nc), "Buff");
  b = MR.TabBand[MR.NbrBand - 1];
  if (S < 2) {
    Ima = b;
    return;
  }
  for (int s = S - 2; s >= 0; s--) {
    const int nl = size_resol(s, Nl), nc = size_resol(s, Nc);
    const int odd_l = nl % 2, odd_c = nc % 2;
    Ima.resize(nl, nc);
    const Image& d1 = MR.TabBand[3 * s];
    const Image& d3 = MR.TabBand[3 * s + 1];
    const Image& d2 = MR.TabBand[3 * s + 2];
    for (int r = 0; r < nl - odd_l; r++)
      for (int q = 0; q < nc - odd_c; q++) {
        const int i = r / 2, j = q / 2;
        const float sm = b(i, j), v1 = d1(i, j), v3 = d3(i, j), v2 = d2(i, j);
        float v;
        if (r % 2 == 0) v = q % 2 == 0 ? (sm - v3 - v1 + v2) / 2.f : (sm - v3 + v1 - v2) / 2.f;
        else v = q % 2 == 0 ? (sm + v3 - v1 - v2) / 2.f : (sm + v1 + v3 + v2) / 2.f;
        Ima(r, q) = v;
      }
    if (odd_l) {
      const int r = nl - 1, i = r / 2;
      for (int q = 0; q < nc - odd_c; q++) {
        const float sm = b(i, q / 2), v1 = d1(i, q / 2);
        Ima(r, q) = q % 2 == 0 ? (sm - v1) / 2.f : (sm + v1) / 2.f;
      }
    }
    if (odd_c) {
      const int q = nc - 1, j = q / 2;
      for (int r = 0; r < nl - odd_l; r++) {
        const float sm = b(r / 2, j), v3 = d3(r / 2, j);
        Ima(r, q) = r % 2 == 0 ? (sm - v3) / 2.f : (sm + v3) / 2.f;
      }
    }
    if (odd_l && odd_c) Ima(nl - 1, nc - 1) = b((nl - 1) / 2, (nc - 1) / 2);
    if (s != 0) b = Ima;
  }
}

int haar_1d_atrou_nbr_out(int N, int Step) {
  int count = 0;
  for (int start = 0; start < N; start += 2 * Step) count += std::min(start + Step, N) - start;
  return count;
}

void haar_1d_atrou_convol(int N, const float* Input, float* Smooth, float* Detail, int Step,
                          double Norm) {
  int m = 0;
  for (int start = 0; start < N; start += 2 * Step)
    for (int k = start; k < std::min(start + Step, N); k++, m++) {
      const int p = k + Step < N ? k + Step : k;
      Smooth[m] = static_cast<float>((Input[k] + Input[p]) * Norm);
      Detail[m] = static_cast<float>((Input[k] - Input[p]) * Norm);
    }
}

void haar_1d_atrou_rec_convol(int N, const float* Smooth, const float* Detail, float* Output,
                              int Step, double Norm) {
  int m = 0;
  for (int start = 0; start < N; start += 2 * Step)
    for (int k = start; k < std::min(start + Step, N); k++, m++) {
      const float d = m < N / 2 ? Detail[m] : 0.f;
      const float sm = Smooth[m];
      Output[k] = static_cast<float>((sm + d) * Norm);
      if (k + Step < N) Output[k + Step] = static_cast<float>((sm - d) * Norm);
    }
}

// The buffers of every level are sized by the outputs the level really
// produces, which exceed (N+1)/2 for lengths that are not multiples of
// 2 Step (they used to be written past their end).
void haar_1d_atrou_transform(const to_array<float, true>& Signal, to_array<float, true>& Result,
                             int J, double Norm, int Exponent) {
  const int N = Signal.nx();
  const int step = POW2(Exponent);
  if (Result.n_elem() != N) Result.alloc(N);
  std::vector<float> work(Signal.buffer(), Signal.buffer() + N);
  const int max_out = std::max(haar_1d_atrou_nbr_out(N, step), 1);
  std::vector<float> smooth(max_out), detail(max_out);
  for (int l = 0; l <= J - 2; l++) {
    const int n = size_resol(l, N);
    haar_1d_atrou_convol(n, work.data(), smooth.data(), detail.data(), step, Norm);
    for (int k = 0; k < n / 2; k++) Result((n + 1) / 2 + k) = detail[k];
    for (int k = 0; k < (n + 1) / 2; k++) work[k] = smooth[k];
  }
  for (int k = 0; k < size_resol(J - 1, N); k++) Result(k) = work[k];
}

void haar_1d_atrou_reconstruct(const to_array<float, true>& Coef, to_array<float, true>& Signal,
                               int J, double Norm, int Exponent) {
  const int N = Coef.nx();
  const int step = POW2(Exponent);
  const int max_out = std::max(haar_1d_atrou_nbr_out(N, step), N);
  std::vector<float> work(max_out, 0.f), smooth(max_out, 0.f), detail(max_out, 0.f);
  for (int k = 0; k < size_resol(J - 1, N); k++) work[k] = Coef(k);
  for (int l = J - 2; l >= 0; l--) {
    const int n = size_resol(l, N);
    std::fill(smooth.begin(), smooth.end(), 0.f);
    for (int k = 0; k < (n + 1) / 2; k++) smooth[k] = work[k];
    for (int k = 0; k < n / 2; k++) detail[k] = Coef((n + 1) / 2 + k);
    haar_1d_atrou_rec_convol(n, smooth.data(), detail.data(), work.data(), step, Norm);
  }
  if (Signal.n_elem() != N) Signal.alloc(N);
  for (int k = 0; k < N; k++) Signal(k) = work[k];
}

namespace {

// Replaces each column (or row) of a band by its 1D Haar transform or
// reconstruction with J scales and pairs 2^s apart.
void haar_1d_across(Image& band, bool columns, int J, double norm, int s, bool inverse) {
  const int len = columns ? band.nl() : band.nc();
  const int count = columns ? band.nc() : band.nl();
  to_array<float, true> in(len), out(len);
  for (int t = 0; t < count; t++) {
    for (int k = 0; k < len; k++) in(k) = columns ? band(k, t) : band(t, k);
    if (inverse) haar_1d_atrou_reconstruct(in, out, J, norm, s);
    else haar_1d_atrou_transform(in, out, J, norm, s);
    for (int k = 0; k < len; k++) (columns ? band(k, t) : band(t, k)) = out(k);
  }
}

// In-place smoothing of the undecimated forms, rows then columns in
// increasing order, each value from the current contents of w.
void smooth_in_place(Image& w, int step, double c2, type_border border) {
  for (int i = 0; i < w.nl(); i++)
    for (int j = 0; j < w.nc(); j++)
      w(i, j) = static_cast<float>((w(i, j) + w(i, j + step, border) + w(i + step, j, border) +
                                    w(i + step, j + step, border)) *
                                   c2);
}

}  // namespace

void haar_2d_atrou_dir2_transform(Image& Ima, MultiResol& MR, Bool Flag) {
  const int S = MR.NbrScale;
  const double c = diadic_norm(MR);
  const type_border border = MR.Border;
  Image w = Ima;
  w.set_name("haar buffer");
  for (int s = 0; s <= S - 2; s++) {
    const int step = POW2(s);
    const int jl = max_scale_number(Ima.nl()) - s, jc = max_scale_number(Ima.nc()) - s;
    Image& rows = MR.TabBand[2 * s];
    Image& cols = MR.TabBand[2 * s + 1];
    for (int i = 0; i < w.nl(); i++)
      for (int j = 0; j < w.nc(); j++) {
        rows(i, j) = static_cast<float>((w(i, j) - w(i, j + step, border)) * c);
        cols(i, j) = static_cast<float>((w(i, j) - w(i + step, j, border)) * c);
      }
    if (Flag && jl >= 2) haar_1d_across(rows, true, jl, c, s, false);
    if (Flag && jc >= 2) haar_1d_across(cols, false, jc, c, s, false);
    smooth_in_place(w, step, c * c, border);
  }
  MR.TabBand[2 * S - 1] = w;
}

void haar_2d_atrou_dir2_recons(MultiResol& MR, Image& Ima, Bool Flag) {
  const int S = MR.NbrScale;
  const double c = diadic_norm(MR);
  const bool l2 = MR.TypeNorm == NORM_L2;
  const double synthesis_norm = l2 ? 1. / std::sqrt(2.) : 1.;
  Image b(Ima.nl(), Ima.nc(), "Buff");
  b = MR.TabBand[2 * S - 1];
  for (int s = S - 2; s >= 0; s--) {
    const int step = POW2(s);
    Image& rows = MR.TabBand[2 * s];
    Image& cols = MR.TabBand[2 * s + 1];
    if (Flag) {
      const int jl = max_scale_number(Ima.nl()) - s, jc = max_scale_number(Ima.nc()) - s;
      if (jl > 1) haar_1d_across(rows, true, jl, synthesis_norm, s, true);
      if (jc > 1) haar_1d_across(cols, false, jc, synthesis_norm, s, true);
    }
    for (int i = 0; i < b.nl(); i++)
      for (int j = 0; j < b.nc(); j++) {
        float v = static_cast<float>(
            b(i, j) + (rows(i, j) + rows(i + step, j, MR.Border) + 2.f * cols(i, j)) * c);
        if (l2) v /= 2.f;
        b(i, j) = v;
      }
  }
  Ima = b;
}

void haar_2d_atrou_dir3_transform(Image& Ima, MultiResol& MR) {
  const int S = MR.NbrScale;
  const double c = diadic_norm(MR);
  const type_border border = MR.Border;
  Image w = Ima;
  for (int s = 0; s <= S - 2; s++) {
    const int step = POW2(s);
    for (int i = 0; i < w.nl(); i++)
      for (int j = 0; j < w.nc(); j++) {
        MR.TabBand[3 * s](i, j) = static_cast<float>((w(i, j) - w(i, j + step, border)) * c);
        MR.TabBand[3 * s + 1](i, j) = static_cast<float>((w(i, j) - w(i + step, j, border)) * c);
        MR.TabBand[3 * s + 2](i, j) =
            static_cast<float>((w(i, j) - w(i + step, j + step, border)) * c);
      }
    smooth_in_place(w, step, c * c, border);
  }
  MR.TabBand[MR.NbrBand - 1] = w;
}

void haar_2d_atrou_dir3_recons(MultiResol& MR, Image& Ima) {
  const int S = MR.NbrScale;
  const double c = diadic_norm(MR);
  Image b = MR.TabBand[MR.NbrBand - 1];
  for (int s = S - 2; s >= 0; s--)
    for (int i = 0; i < b.nl(); i++)
      for (int j = 0; j < b.nc(); j++)
        b(i, j) = static_cast<float>(
            b(i, j) / (4 * c * c) +
            (MR.TabBand[3 * s](i, j) + MR.TabBand[3 * s + 1](i, j) + MR.TabBand[3 * s + 2](i, j)) /
                (4 * c));
  Ima = b;
}
