// A trous B3-spline transform. The smoothing is the inner loop of every MCA
// iteration, so it runs over padded lines and row pointers; the border rule is
// applied once per line or row instead of once per neighbour read.
#include "multires/atrous_2d_wt.h"

#include <cstring>
#include <string>

#include "array/border_index.h"

namespace {

// Noise standard deviation of band s for unit white noise in the image.
const double AtrousBandNorm[10] = {0.889434, 0.200105, 0.0857724, 0.0413447, 0.0202689,
                                   0.00995628, 0.00513504, 0, 0, 0};

// One output sample of the B3 kernel (1, 4, 6, 4, 1)/16: each symmetric pair
// is summed in float, the three terms are weighted and accumulated in double,
// and the result is rounded to float once.
inline float b3_tap(float centre, float near_left, float near_right, float far_left,
                    float far_right) {
  float near_pair = near_left + near_right;
  float far_pair = far_left + far_right;
  double v = 0.375 * static_cast<double>(centre) + 0.25 * static_cast<double>(near_pair) +
             0.0625 * static_cast<double>(far_pair);
  return static_cast<float>(v);
}

// Every operation reads band 0: an empty band array has nothing to hold.
void check_nbr_scale(int NbrScale) {
  if (NbrScale < 1)
    fatal_exitf(-1, stdout, "Error: bad number of scales %d in the a trous transform ...\n",
                NbrScale);
}

// dst := a - b over n samples.
void subtract(float* dst, const float* a, const float* b, int n) {
  for (int k = 0; k < n; k++) dst[k] = a[k] - b[k];
}

}  // namespace

void ATROUS_2D_WT::alloc(to_array<float, false>*& TabBand, int Nl, int Nc, int NbrScale) {
  check_nbr_scale(NbrScale);
  TabBand = new to_array<float, false>[NbrScale];
  for (int b = 0; b < NbrScale; b++) {
    std::string name = "band_" + std::to_string(b + 1);
    TabBand[b].alloc(Nl, Nc, name.c_str());
  }
}

void ATROUS_2D_WT::free(to_array<float, false>*& TabBand, int NbrScale) {
  if (NbrScale != 0 && TabBand != nullptr) {
    delete[] TabBand;
    TabBand = nullptr;
  }
}

float ATROUS_2D_WT::norm_band(int s) const {
  return (s >= 0 && s <= 9) ? static_cast<float>(AtrousBandNorm[s]) : 0.f;
}

void ATROUS_2D_WT::b3spline_filtering(const to_array<float, false>& In,
                                      to_array<float, false>& Out, int s, Bool Add) {
  if (s < 0 || s > 29)
    fatal_exitf(-1, stdout, "Error: bad scale %d in the a trous smoothing ...\n", s);
  const int nl = In.nl(), nc = In.nc();
  const int d = 1 << s;  // the integer part of 2^s + 0.5
  if (Out.nl() != nl || Out.nc() != nc || Out.naxis() != 2) Out.alloc(nl, nc, "smooth");
  if (LinePass.nl() != nl || LinePass.nc() != nc || LinePass.naxis() != 2)
    LinePass.alloc(nl, nc, "Buff smooth_bspline");
  if (nl == 0 || nc == 0) return;

  // Pass along the lines: each line is copied with 2d border samples on each
  // side, so that every output sample reads its neighbours directly. Holes
  // wider than the line read every neighbour through the border rule instead
  // of padding far beyond it. An unknown rule stops at the first edge read.
  const float* in_buf = In.buffer();
  float* line_buf = LinePass.buffer();
  const type_border border = Border;
  auto edge_sample = [border](const float* row, int j, int n) {
    const int k = border_index(j, n, border);
    return k < 0 ? 0.f : row[k];
  };
  if (2 * d <= nc) {
    PaddedLine.assign(static_cast<size_t>(nc) + 4 * static_cast<size_t>(d), 0.f);
    float* padded = PaddedLine.data() + 2 * d;
    for (int i = 0; i < nl; i++) {
      const float* row = in_buf + static_cast<size_t>(i) * nc;
      std::memcpy(padded, row, sizeof(float) * nc);
      for (int k = 1; k <= 2 * d; k++) {
        padded[-k] = edge_sample(row, -k, nc);
        padded[nc - 1 + k] = edge_sample(row, nc - 1 + k, nc);
      }
      float* out_row = line_buf + static_cast<size_t>(i) * nc;
      for (int j = 0; j < nc; j++)
        out_row[j] = b3_tap(padded[j], padded[j - d], padded[j + d], padded[j - 2 * d],
                            padded[j + 2 * d]);
    }
  } else {
    for (int i = 0; i < nl; i++) {
      const float* row = in_buf + static_cast<size_t>(i) * nc;
      auto sample = [&](int j) { return edge_sample(row, j, nc); };
      float* out_row = line_buf + static_cast<size_t>(i) * nc;
      for (int j = 0; j < nc; j++)
        out_row[j] = b3_tap(row[j], sample(j - d), sample(j + d), sample(j - 2 * d),
                            sample(j + 2 * d));
    }
  }

  // Pass along the columns: the five rows involved are located once per row.
  ZeroLine.assign(nc, 0.f);
  auto row_at = [&](int i) -> const float* {
    const int k = border_index(i, nl, border);
    return k < 0 ? ZeroLine.data() : line_buf + static_cast<size_t>(k) * nc;
  };
  float* out_buf = Out.buffer();
  for (int i = 0; i < nl; i++) {
    const float* c0 = row_at(i);
    const float* up1 = row_at(i - d);
    const float* dn1 = row_at(i + d);
    const float* up2 = row_at(i - 2 * d);
    const float* dn2 = row_at(i + 2 * d);
    float* out_row = out_buf + static_cast<size_t>(i) * nc;
    for (int j = 0; j < nc; j++) out_row[j] = b3_tap(c0[j], up1[j], dn1[j], up2[j], dn2[j]);
  }

  if (Add) {
    const int n = In.n_elem();
    for (int k = 0; k < n; k++) out_buf[k] += in_buf[k];
  }
}

void ATROUS_2D_WT::transform(const to_array<float, false>& Image,
                             to_array<float, false>* TabBand, int NbrScale) {
  check_nbr_scale(NbrScale);
  TabBand[0] = Image;
  const int n = Image.n_elem();
  for (int s = 0; s < NbrScale - 1; s++) {
    b3spline_filtering(TabBand[s], TabBand[s + 1], s);
    if (ModifiedATWT) {
      b3spline_filtering(TabBand[s + 1], WorkIma, s);
      subtract(TabBand[s].buffer(), TabBand[s].buffer(), WorkIma.buffer(), n);
    } else {
      subtract(TabBand[s].buffer(), TabBand[s].buffer(), TabBand[s + 1].buffer(), n);
    }
  }
}

void ATROUS_2D_WT::recons(const to_array<float, false>* TabBand, to_array<float, false>& Image,
                          int NbrScale, Bool AddLastScale) {
  check_nbr_scale(NbrScale);
  if (!ModifiedATWT && !Adjoint) {
    Image = TabBand[0];
    const int n = Image.n_elem();
    const int last = AddLastScale ? NbrScale : NbrScale - 1;
    float* out = Image.buffer();
    for (int b = 1; b < last; b++) {
      const float* band = TabBand[b].buffer();
      for (int k = 0; k < n; k++) out[k] += band[k];
    }
    return;
  }

  // The modified and the second form rebuild c_s from c_{s+1}, coarsest first.
  const to_array<float, false>& smooth_band = TabBand[NbrScale - 1];
  if (AddLastScale) {
    Image = smooth_band;
  } else {
    // Zeroing an image of another size in place would leave the loop below
    // reading and writing past it: it takes the bands' size first.
    if (Image.nl() != smooth_band.nl() || Image.nc() != smooth_band.nc() || Image.naxis() != 2)
      Image.alloc(smooth_band.nl(), smooth_band.nc(), "rec");
    Image.init();
  }
  const int n = Image.n_elem();
  for (int s = NbrScale - 2; s >= 0; s--) {
    b3spline_filtering(Image, WorkIma, s);
    float* out = Image.buffer();
    const float* smooth = WorkIma.buffer();
    const float* band = TabBand[s].buffer();
    if (ModifiedATWT) {
      for (int k = 0; k < n; k++) out[k] = smooth[k] + band[k];
    } else {
      // (I + H_s) w_s, then + H_s c_{s+1}.
      b3spline_filtering(TabBand[s], Image, s, True);
      out = Image.buffer();
      for (int k = 0; k < n; k++) out[k] += smooth[k];
    }
  }
}
