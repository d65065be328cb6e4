// Feauveau transforms and the one-image layout. Each analysis step filters
// the region with the 7 x 7 masks onto the quincunx lattice, then with the
// turned 13 x 13 masks onto the next square lattice; every read is mirrored
// against the region being processed.
#include "multires/feauveau.h"

#include <cmath>
#include <cstdio>

#include "array/border.h"
#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "filters/g_minmax.h"
#include "filters/lifting.h"
#include "multires/mr_dispatch.h"
#include "multires/multiresol.h"
#include "multires/sub_band_2d.h"

namespace {

using Image = to_array<float, false>;

constexpr float A = 0.6433908f, B = 0.1433488f, C = -0.0289743f, D = -0.0125361f,
                E = -0.0091506f, F = 0.0027737f, G = -0.0021526f, H = 0.0016453f,
                L = 0.0010524f, M = -0.0004016f;

struct Masks {
  float u[49], v[49], diag_u[169], diag_v[169];
};

Masks make_masks() {
  const float rows[4][7] = {{M, L, H, G, H, L, M},
                            {L, F, E, D, E, F, L},
                            {H, E, C, B, C, E, H},
                            {G, D, B, A, B, D, G}};
  Masks m{};
  for (int r = 0; r < 7; r++)
    for (int c = 0; c < 7; c++) {
      const float value = rows[r < 4 ? r : 6 - r][c];
      m.u[r * 7 + c] = value;
      m.v[r * 7 + c] = (r + c) % 2 == 0 ? value : -value;
    }
  // Offset (p, q) from the centre of the 7 x 7 mask goes to offset
  // (p + q, q - p) from the centre of the 13 x 13 one.
  for (int p = -3; p <= 3; p++)
    for (int q = -3; q <= 3; q++) {
      const int at = (6 + p + q) * 13 + (6 + q - p);
      m.diag_u[at] = m.u[(3 + p) * 7 + (3 + q)];
      m.diag_v[at] = m.v[(3 + p) * 7 + (3 + q)];
    }
  return m;
}

const Masks TheMasks = make_masks();

}  // namespace

const float (&Filtre_U)[49] = TheMasks.u;
const float (&Filtre_V)[49] = TheMasks.v;
const float (&Filtre_Diag_U)[169] = TheMasks.diag_u;
const float (&Filtre_Diag_V)[169] = TheMasks.diag_v;

double convolve_filter(const Image& x, int i, int j, const float* f, int size, int nl, int nc) {
  const int h = size / 2;
  float sum = 0.f;
  int index = 0;
  for (int k = i - h; k <= i + h; k++)
    for (int l = j - h; l <= j + h; l++, index++)
      if (f[index] != 0.f) sum += x(test_index_mirror(k, nl), test_index_mirror(l, nc)) * f[index];
  return sum;
}

void convolve_filter(const Image& x, Image& y, const float* f, int size, int s) {
  const int step = static_cast<int>(std::pow(2., s) + 0.5);
  const int h = size / 2;
  y.resize(x.nl(), x.nc());
  for (int i = 0; i < x.nl(); i++)
    for (int j = 0; j < x.nc(); j++) {
      float sum = 0.f;
      int index = 0;
      for (int r = -h; r <= h; r++)
        for (int c = -h; c <= h; c++, index++)
          if (f[index] != 0.f) sum += x(i + r * step, j + c * step, I_MIRROR) * f[index];
      y(i, j) = sum;
    }
}

void tr_feauveau_one_scale(const Image& x, Image& y, int nl, int nc) {
  const int nl2 = (nl + 1) / 2, nc2 = (nc + 1) / 2;
  char name[64];
  std::snprintf(name, sizeof name, "tr feauveau one scale: %d, %d", nl, nc);
  Image b(nl, nc, name);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      if ((i + j) % 2 == 0) {
        b(i, j) = static_cast<float>(convolve_filter(x, i, j, Filtre_U, 7, nl, nc));
      } else if (!(nc % 2 == 1 && j == nc - 1)) {
        y(i, nc2 + j / 2) = static_cast<float>(convolve_filter(x, i, j, Filtre_V, 7, nl, nc));
      }
    }
  // The smooth block holds one value per odd lattice point; for odd sizes
  // its last row and column sit on the mirrored point past the region (they
  // used to keep whatever the coefficient image held).
  for (int k = 0; k < nl2; k++)
    for (int m = 0; m < nc2; m++)
      y(k, m) = static_cast<float>(convolve_filter(b, 2 * k + 1, 2 * m + 1, Filtre_Diag_U, 13, nl, nc));
  for (int i = 0; i < nl; i += 2) {
    if (nl % 2 == 1 && i == nl - 1) continue;
    for (int j = 0; j < nc; j += 2)
      y(nl2 + i / 2, j / 2) = static_cast<float>(convolve_filter(b, i, j, Filtre_Diag_V, 13, nl, nc));
  }
}

void transform_feauveau(const Image& Ima, Image& Y, int NbrStep) {
  Y = Ima;
  int nl = Ima.nl(), nc = Ima.nc();
  Image buffer(Ima.nl(), Ima.nc(), "tr Feauveau");
  for (int s = 0; s < NbrStep; s++) {
    buffer = Y;
    tr_feauveau_one_scale(buffer, Y, nl, nc);
    nl = (nl + 1) / 2;
    nc = (nc + 1) / 2;
  }
}

void rec_feauveau_one_scale(const Image& y, Image& z, int nl, int nc) {
  const int nl2 = (nl + 1) / 2, nc2 = (nc + 1) / 2;
  char name[64];
  std::snprintf(name, sizeof name, "Rec feauveau one scale: %d, %d", nl, nc);
  Image r(nl, nc, name), sm(nl, nc, "Buffer Smooth"), dt(nl, nc, "Buffer Details");
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      if (i % 2 == 1 && j % 2 == 1) sm(i, j) = y(i / 2, j / 2);
      if (i % 2 == 0 && j % 2 == 0 && !(nl % 2 == 1 && i == nl - 1)) dt(i, j) = y(nl2 + i / 2, j / 2);
    }
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++)
      if ((i + j) % 2 == 0)
        r(i, j) = static_cast<float>(2. * (convolve_filter(sm, i, j, Filtre_Diag_U, 13, nl, nc) +
                                           convolve_filter(dt, i, j, Filtre_Diag_V, 13, nl, nc)));
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      if ((i + j) % 2 == 0) dt(i, j) = 0.f;
      else if (!(nc % 2 == 1 && j == nc - 1)) dt(i, j) = y(i, nc2 + j / 2);
      else dt(i, j) = 0.f;
    }
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++)
      z(i, j) = static_cast<float>(2. * (convolve_filter(r, i, j, Filtre_U, 7, nl, nc) +
                                         convolve_filter(dt, i, j, Filtre_V, 7, nl, nc)));
}

void recons_feauveau(const Image& Y, Image& Z, int NbrStep) {
  Z = Y;
  Image buffer(Y.nl(), Y.nc(), "Rec Feauv");
  for (int s = NbrStep - 1; s >= 0; s--) {
    buffer = Z;
    rec_feauveau_one_scale(buffer, Z, size_resol(s, Y.nl()), size_resol(s, Y.nc()));
  }
}

void transform_feauveau_trou(Image& Ima, MultiResol& MR) {
  const int S = MR.NbrScale;
  MR.TabBand[0] = Ima;
  for (int s = 0; s < S - 1; s++) {
    if (s % 2 == 0) convolve_filter(MR.TabBand[s], MR.TabBand[s + 1], Filtre_Diag_U, 13, s / 2);
    else convolve_filter(MR.TabBand[s], MR.TabBand[s + 1], Filtre_U, 7, s / 2);
  }
  for (int s = 0; s < S - 1; s++) MR.TabBand[s] -= MR.TabBand[s + 1];
}

namespace {

[[noreturn]] void unknown_detail() {
  // Used to end with status 0, as if the position had been found.
  fatal_exit("Error: unknown detail\n", -1, stderr);
}

}  // namespace

void ind_orthog_transf(int s, int i, int j, details d, int Nl, int Nc, int& I, int& J) {
  const int nl2 = size_resol(s + 1, Nl), nc2 = size_resol(s + 1, Nc);
  I = i;
  J = j;
  switch (d) {
    case DetailFirst: J += nc2; break;
    case DetailDiag: I += nl2; J += nc2; break;
    case DetailSecond: I += nl2; break;
    case DetailSmooth: break;
    default: unknown_detail();
  }
}

void ind_orthog_quinc(int s, int i, int j, details d, int Nl, int Nc, int& I, int& J) {
  const int nl2 = size_resol(s + 1, Nl), nc2 = size_resol(s + 1, Nc);
  I = i;
  J = j;
  switch (d) {
    case DetailFeauFirst: J += nc2; break;
    case DetailFeauSecond: I += nl2; break;
    case DetailSmooth: break;
    default: unknown_detail();
  }
}

void pos_orthog_transf(int k, int& s, int& i, int& j, details& d, int Nl, int Nc, int NbrScale) {
  int nl = Nl, nc = Nc;
  s = 0;
  while (s < NbrScale - 1) {
    const int nl2 = (nl + 1) / 2, nc2 = (nc + 1) / 2;
    const int first = nl2 * (nc / 2), second = (nl / 2) * nc2, diag = (nl / 2) * (nc / 2);
    if (k < first + second + diag) {
      if (k < first) {
        d = DetailFirst;
        i = k / (nc / 2);
        j = k % (nc / 2);
      } else if (k < first + second) {
        k -= first;
        d = DetailSecond;
        i = k / nc2;
        j = k % nc2;
      } else {
        k -= first + second;
        d = DetailDiag;
        i = k / (nc / 2);
        j = k % (nc / 2);
      }
      return;
    }
    k -= first + second + diag;
    nl = nl2;
    nc = nc2;
    s++;
  }
  d = DetailSmooth;
  s = NbrScale - 2;
  i = k / nc;
  j = k % nc;
}

namespace {

// Walks the bands of scale s0 on (and the smooth band), calling
// move(band pixel, image pixel) for each.
template <class Move>
void walk_one_image(MultiResol& mr, int s0, int nl0, int nc0, Move move) {
  const bool mallat = mr.Set_Transform == TRANSF_MALLAT;
  for (int b = mr.NbrBand - 1; b >= 0; b--) {
    int s;
    details d;
    mr.band_to_scale(b, s, d);
    if (s < s0 && !(d == DetailSmooth && s == s0 - 1)) continue;
    Image& band = mr.TabBand[b];
    for (int i = 0; i < band.nl(); i++)
      for (int j = 0; j < band.nc(); j++) {
        int I, J;
        if (mallat) ind_orthog_transf(s - s0, i, j, d, nl0, nc0, I, J);
        else ind_orthog_quinc(s - s0, i, j, d, nl0, nc0, I, J);
        move(band(i, j), I, J);
      }
  }
}

void check_layout(const MultiResol& mr, int s0, const char* in_function) {
  if (s0 < 0 || s0 >= mr.NbrScale)
    fatal_exitf(-1, stderr, "Error: bad resolution number in %s ... \n", in_function);
  if (mr.Set_Transform != TRANSF_MALLAT && mr.Set_Transform != TRANSF_FEAUVEAU)
    fatal_exitf(-1, stderr, "Error: bad transformation type in %s ... \n", in_function);
}

}  // namespace

void ortho_trans_to_ima(MultiResol& MR, Image& Ima, int s0) {
  check_layout(MR, s0, "ortho_trans_to_ima");
  const int nl0 = size_resol(s0, MR.Nl), nc0 = size_resol(s0, MR.Nc);
  if (Ima.nl() != nl0 || Ima.nc() != nc0) Ima.alloc(nl0, nc0);
  walk_one_image(MR, s0, nl0, nc0, [&Ima](float& value, int I, int J) { Ima(I, J) = value; });
}

void ima_to_ortho_trans(MultiResol& MR, Image& Ima, int s0) {
  check_layout(MR, s0, " ima_to_ortho_trans");
  const int nl0 = size_resol(s0, MR.Nl), nc0 = size_resol(s0, MR.Nc);
  if (Ima.nl() != nl0 || Ima.nc() != nc0)
    fatal_exit("Error: bad image size in  ima_to_ortho_trans ... \n", -1, stderr);
  walk_one_image(MR, s0, nl0, nc0, [&Ima](float& value, int I, int J) { value = Ima(I, J); });
}

// ---------------------------------------------------------------------------
// Dispatch rows of the types held in one image.

namespace {

void feauveau_transform_op(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  Image aux(ima.nl(), ima.nc(), "aux");
  transform_feauveau(ima, aux, mr.NbrScale - 1);
  ima_to_ortho_trans(mr, aux, 0);
}

void feauveau_recons_op(MultiResol& mr, Image& ima, type_border, Bool) {
  Image aux(mr.Nl, mr.Nc, "aux");
  ortho_trans_to_ima(mr, aux, 0);
  recons_feauveau(aux, ima, mr.NbrScale - 1);
}

void feauveau_trou_op(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  transform_feauveau_trou(ima, mr);
}

template <class Bank>
void one_image_transform(Image& ima, MultiResol& mr, Bank& bank) {
  Ortho_2D_WT wt(bank);
  Image aux = ima;
  wt.transform(aux, mr.NbrScale);
  ima_to_ortho_trans(mr, aux, 0);
}

template <class Bank>
void one_image_recons(MultiResol& mr, Image& ima, Bank& bank) {
  ortho_trans_to_ima(mr, ima, 0);
  Ortho_2D_WT wt(bank);
  wt.recons(ima, mr.NbrScale);
}

void lifting_transform_op(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  Lifting bank(mr.LiftingTrans);
  one_image_transform(ima, mr, bank);
}
void lifting_recons_op(MultiResol& mr, Image& ima, type_border, Bool) {
  Lifting bank(mr.LiftingTrans);
  one_image_recons(mr, ima, bank);
}
void minmax_transform_op(Image& ima, MultiResol& mr, Bool, type_border, Bool) {
  G_Minmax bank;
  one_image_transform(ima, mr, bank);
}
void minmax_recons_op(MultiResol& mr, Image& ima, type_border, Bool) {
  G_Minmax bank;
  one_image_recons(mr, ima, bank);
}

}  // namespace

const MRTypeOps FeauveauOps = {feauveau_transform_op, feauveau_recons_op, nullptr};
const MRTypeOps FeauveauTrouOps = {feauveau_trou_op, mr_cube_recons, nullptr};
const MRTypeOps LiftingOps = {lifting_transform_op, lifting_recons_op, nullptr};
const MRTypeOps GMinMaxOps = {minmax_transform_op, minmax_recons_op, nullptr};
