// The transform types built from one smoothing, median or resizing operator
// repeated over the scales: the cube family (a trous linear, B3-spline and
// Haar, median) and the pyramidal and half-pyramidal families. Their
// inverses are the plain sum of the bands, with an interpolation by two
// between pyramid levels.
#include <cmath>

#include "array/im_resize.h"
#include "array/scalar_helpers.h"
#include "array/smoothing.h"
#include "multires/mr_dispatch.h"
#include "multires/multiresol.h"

namespace {

using Image = to_array<float, false>;

// band s+1 = smooth(band s) at scale s; with Details band s keeps the
// difference.
template <class Smooth>
void cube_transform(Image& ima, MultiResol& mr, Bool details, Smooth smooth) {
  mr.TabBand[0] = ima;
  for (int s = 0; s < mr.NbrScale - 1; s++) {
    smooth(mr.TabBand[s], mr.TabBand[s + 1], s);
    if (details) mr.TabBand[s] -= mr.TabBand[s + 1];
  }
}

void pave_linear(Image& ima, MultiResol& mr, Bool, type_border border, Bool details) {
  cube_transform(ima, mr, details,
                 [border](Image& in, Image& out, int s) { smooth_linear(in, out, border, s); });
}

void pave_bspline(Image& ima, MultiResol& mr, Bool, type_border border, Bool details) {
  cube_transform(ima, mr, details,
                 [border](Image& in, Image& out, int s) { smooth_bspline(in, out, border, s); });
}

void pave_haar(Image& ima, MultiResol& mr, Bool, type_border border, Bool details) {
  const float weight = mr.HaarWeight;
  cube_transform(ima, mr, details, [border, weight](Image& in, Image& out, int s) {
    smooth_haar(in, out, border, s, weight);
  });
}

void pave_median(Image& ima, MultiResol& mr, Bool, type_border border, Bool details) {
  const int half = mr.MedianWindowSize / 2;
  cube_transform(ima, mr, details, [border, half](Image& in, Image& out, int s) {
    smooth_mediane(in, out, border, 0, POW2(s) * half * 2 + 1);
  });
}

// Pyramid step: the smoothing of band s in a buffer of its size, the detail
// (when asked) and band s+1 as the buffer decimated by two.
template <class Smooth>
void pyramid_transform(Image& ima, MultiResol& mr, Bool details, const char* buffer_name,
                       Smooth smooth) {
  mr.TabBand[0] = ima;
  Image buffer;
  for (int s = 0; s < mr.NbrScale - 1; s++) {
    buffer.alloc(mr.TabBand[s].nl(), mr.TabBand[s].nc(), buffer_name);
    smooth(mr.TabBand[s], buffer, s);
    if (details) mr.TabBand[s] -= buffer;
    if (mr.Set_Transform == TRANSF_SEMIPYR && s == 0) mr.TabBand[1] = buffer;
    else im_reduce_size_2(buffer, mr.TabBand[s + 1]);
  }
}

void pyr_linear(Image& ima, MultiResol& mr, Bool, type_border border, Bool details) {
  pyramid_transform(ima, mr, details, "Buff: TO_PYR_LINEAR",
                    [border](Image& in, Image& out, int) { smooth_linear(in, out, border, 0); });
}

void pyr_bspline(Image& ima, MultiResol& mr, Bool, type_border border, Bool details) {
  pyramid_transform(ima, mr, details, "Buff: TO_PYR_BSPLINE",
                    [border](Image& in, Image& out, int) { smooth_bspline(in, out, border, 0); });
}

void semi_pyr(Image& ima, MultiResol& mr, Bool, type_border border, Bool details) {
  pyramid_transform(ima, mr, details, "Buff: TO_PYR_BSPLINE",
                    [border](Image& in, Image& out, int s) {
                      smooth_bspline(in, out, border, s == 0 ? 0 : 1);
                    });
}

void pyr_median(Image& ima, MultiResol& mr, Bool, type_border border, Bool details) {
  const int window = mr.MedianWindowSize;
  if (!mr.ExactPyrRec) {
    pyramid_transform(ima, mr, details, "Buff: TM_PYR_MEDIAN",
                      [border, window](Image& in, Image& out, int) {
                        smooth_mediane(in, out, border, 0, window);
                      });
    return;
  }
  // Each band keeps what the expansion of the next one misses, so that the
  // reconstruction is exact.
  mr.TabBand[0] = ima;
  Image buffer;
  for (int s = 0; s < mr.NbrScale - 1; s++) {
    buffer.alloc(mr.TabBand[s].nl(), mr.TabBand[s].nc(), "Buff: TM_PYR_MEDIAN");
    smooth_mediane(mr.TabBand[s], buffer, border, 0, window);
    im_reduce_size_2(buffer, mr.TabBand[s + 1]);
    im_increase_size_2(mr.TabBand[s + 1], buffer, border);
    mr.TabBand[s] -= buffer;
  }
}

void pyr_laplacian(Image& ima, MultiResol& mr, Bool, type_border border, Bool) {
  mr.TabBand[0] = ima;
  Image buffer;
  for (int s = 0; s < mr.NbrScale - 1; s++) {
    buffer.alloc(mr.TabBand[s].nl(), mr.TabBand[s].nc(), "Buff: TM_PYR_LAPLACIAN");
    smooth_bspline(mr.TabBand[s], buffer, border, s);
    im_reduce_size_2(buffer, mr.TabBand[s + 1]);
    im_increase_size_2(mr.TabBand[s + 1], buffer, border);
    mr.TabBand[s] -= buffer;
  }
}

// Adjoint of the B3-spline pyramid (and of its half-pyramidal form):
// expansion, then the smoothing the forward step applied.
void pyr_bspline_adjoint(MultiResol& mr, Image& ima, Bool use_last_scale, type_border border) {
  const int last = mr.NbrBand - 1;
  ima.alloc(mr.TabBand[last].nl(), mr.TabBand[last].nc(), "Rec adjoint pave");
  if (use_last_scale) ima = mr.TabBand[last];
  Image work;
  for (int s = last - 1; s >= 0; s--) {
    work.alloc(mr.TabBand[s].nl(), mr.TabBand[s].nc(), "Rec adjoint pave");
    if (mr.Type_Transform == TO_SEMI_PYR && s == 0) {
      work = ima;
    } else {
      im_increase_size_2(ima, work, I_CONT);
      ima.alloc(mr.TabBand[s].nl(), mr.TabBand[s].nc());
    }
    if (s == last - 1) {
      ima = work;
    } else {
      const int step = (mr.Set_Transform == TRANSF_PYR || s == 0) ? 0 : 1;
      smooth_bspline(work, ima, border, step);
    }
    ima += mr.TabBand[s];
  }
}

}  // namespace

void mr_pyramid_recons(MultiResol& mr, Image& ima, type_border border, Bool) {
  ima = mr.TabBand[mr.NbrScale - 1];
  Image buffer;
  for (int s = mr.NbrScale - 2; s >= 0; s--) {
    if (mr.Set_Transform == TRANSF_SEMIPYR && s == 0) {
      ima += mr.TabBand[0];
      continue;
    }
    buffer.alloc(mr.TabBand[s].nl(), mr.TabBand[s].nc(), "Buffer mr_iso_recons");
    im_increase_size_2(ima, buffer, border);
    ima = buffer;
    ima += mr.TabBand[s];
  }
}

void mr_cube_recons(MultiResol& mr, Image& ima, type_border, Bool) {
  ima = mr.TabBand[mr.NbrScale - 1];
  for (int s = mr.NbrScale - 2; s >= 0; s--) ima += mr.TabBand[s];
}

const MRTypeOps PaveLinearOps = {pave_linear, mr_cube_recons, nullptr};
const MRTypeOps PaveBsplineOps = {pave_bspline, mr_cube_recons, nullptr};
const MRTypeOps PaveHaarOps = {pave_haar, mr_cube_recons, nullptr};
const MRTypeOps PaveMedianOps = {pave_median, mr_cube_recons, nullptr};
const MRTypeOps PyrLinearOps = {pyr_linear, mr_pyramid_recons, nullptr};
const MRTypeOps PyrBsplineOps = {pyr_bspline, mr_pyramid_recons, pyr_bspline_adjoint};
const MRTypeOps PyrMedianOps = {pyr_median, mr_pyramid_recons, nullptr};
const MRTypeOps PyrLaplacianOps = {pyr_laplacian, mr_pyramid_recons, nullptr};
const MRTypeOps SemiPyrOps = {semi_pyr, mr_pyramid_recons, pyr_bspline_adjoint};
