// Morphological operators. The float square operators run their interior
// on row pointers and read the edge pixels through the clamp rule; every
// element is visited in the fixed order that decides ties.
#include "multires/morpho.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

#include "multires/mr_dispatch.h"
#include "multires/multiresol.h"
#include "array/im_resize.h"

namespace {

using Image = to_array<float, false>;

// An offset of the structuring element, visited in list order.
struct Offset {
  int di, dj;
};

std::vector<Offset> square_element(int h) {
  std::vector<Offset> e;
  for (int di = -h; di <= h; di++)
    for (int dj = -h; dj <= h; dj++) e.push_back({di, dj});
  return e;
}

// The disc: the inner square, then the first and last rows and columns of
// the full square without the corners.
std::vector<Offset> disc_element(int h) {
  std::vector<Offset> e;
  for (int di = -h + 1; di <= h - 1; di++)
    for (int dj = -h + 1; dj <= h - 1; dj++) e.push_back({di, dj});
  if (h == 0) return e;
  for (int dj = -h + 1; dj <= h - 1; dj++) e.push_back({-h, dj});
  for (int dj = -h + 1; dj <= h - 1; dj++) e.push_back({h, dj});
  for (int di = -h + 1; di <= h - 1; di++) e.push_back({di, -h});
  for (int di = -h + 1; di <= h - 1; di++) e.push_back({di, h});
  return e;
}

// Out(i, j) = the extreme of In over the element around (i, j), for lines
// below `last_line` and columns below `last_col`; `better(a, b)` is true when
// a replaces b. Pixels whose element lies inside the image take the row
// pointer path; the others read through the clamp rule.
template <class Better>
void float_morpho(const Image& in, Image& out, const std::vector<Offset>& element, int reach,
                  int last_line, int last_col, Better better) {
  const int nl = in.nl(), nc = in.nc();
  const float* src = in.buffer();
  std::vector<std::ptrdiff_t> shift(element.size());
  for (std::size_t k = 0; k < element.size(); k++)
    shift[k] = static_cast<std::ptrdiff_t>(element[k].di) * nc + element[k].dj;
  for (int i = 0; i < last_line; i++) {
    const bool line_inside = i - reach >= 0 && i + reach < nl;
    for (int j = 0; j < last_col; j++) {
      const float* centre = src + static_cast<std::ptrdiff_t>(i) * nc + j;
      float value = *centre;
      if (line_inside && j - reach >= 0 && j + reach < nc) {
        for (std::ptrdiff_t s : shift)
          if (better(centre[s], value)) value = centre[s];
      } else {
        for (const Offset& o : element) {
          const float v = in(i + o.di, j + o.dj, I_CONT);
          if (better(v, value)) value = v;
        }
      }
      out(i, j) = value;
    }
  }
}

const auto Smaller = [](float a, float b) { return a < b; };
const auto Larger = [](float a, float b) { return a > b; };

std::vector<Offset> cross_element(int n) {
  const int d = static_cast<int>((1 << std::max(n, 0)) + 0.5);
  return {{d, 0}, {-d, 0}, {0, d}, {0, -d}};
}

int cross_reach(int n) { return 1 << std::max(n, 0); }

template <class Better>
void int_morpho(const int* in, int* out, int nl, int nc, int W,
                const std::vector<Offset>& element, Better better) {
  const int h = (W - 1) / 2;
  i_clean_border(out, nl, nc, h + 1);
  for (int i = h + 1; i < nl - h - 1; i++)
    for (int j = h + 1; j < nc - h - 1; j++) {
      const int* centre = in + static_cast<std::ptrdiff_t>(i) * nc + j;
      int value = *centre;
      for (const Offset& o : element) {
        const int v = centre[static_cast<std::ptrdiff_t>(o.di) * nc + o.dj];
        if (better(v, value)) value = v;
      }
      out[static_cast<std::ptrdiff_t>(i) * nc + j] = value;
    }
}

// The inner square of side 2h - 1 of the int operators.
std::vector<Offset> int_square_element(int h) { return square_element(std::max(h - 1, 0)); }

}  // namespace

void morpho_erosion(const Image& In, Image& Out, int W) {
  const int h = (W - 1) / 2;
  float_morpho(In, Out, square_element(h), h, In.nl(), In.nc(), Smaller);
}

void morpho_dilation(const Image& In, Image& Out, int W) {
  const int h = (W - 1) / 2;
  float_morpho(In, Out, square_element(h), h, In.nl(), In.nc(), Larger);
}

void morpho4_erosion(const Image& In, Image& Out, int n) {
  float_morpho(In, Out, cross_element(n), cross_reach(n), In.nl(), In.nc(), Smaller);
}

// Every pixel, with clamped reads, as the erosion: the last n lines and
// columns used to be left with whatever the output held.
void morpho4_dilation(const Image& In, Image& Out, int n) {
  float_morpho(In, Out, cross_element(n), cross_reach(n), In.nl(), In.nc(), Larger);
}

void morpho_cercle_erosion(const Image& In, Image& Out, int W) {
  const int h = (W - 1) / 2;
  float_morpho(In, Out, disc_element(h), h, In.nl(), In.nc(), Smaller);
}

void morpho_cercle_dilation(const Image& In, Image& Out, int W) {
  const int h = (W - 1) / 2;
  float_morpho(In, Out, disc_element(h), h, In.nl(), In.nc(), Larger);
}

void morphoi_erosion(const int* In, int* Out, int Nl, int Nc, int W) {
  int_morpho(In, Out, Nl, Nc, W, int_square_element((W - 1) / 2), std::less<int>());
}

void morphoi_dilation(const int* In, int* Out, int Nl, int Nc, int W) {
  int_morpho(In, Out, Nl, Nc, W, int_square_element((W - 1) / 2), std::greater<int>());
}

void morphoi_cercle_erosion(const int* In, int* Out, int Nl, int Nc, int W) {
  int_morpho(In, Out, Nl, Nc, W, disc_element((W - 1) / 2), std::less<int>());
}

void morphoi_cercle_dilation(const int* In, int* Out, int Nl, int Nc, int W) {
  int_morpho(In, Out, Nl, Nc, W, disc_element((W - 1) / 2), std::greater<int>());
}

// Rows and columns beyond the image are skipped: a border wider than half
// the image used to be written outside the buffer.
void i_clean_border(int* Ima, int Nl, int Nc, int Border) {
  const int rows = std::min(std::max(Border, 0), Nl);
  const int cols = std::min(std::max(Border, 0), Nc);
  for (int i = 0; i < rows; i++)
    for (int j = 0; j < Nc; j++) {
      Ima[static_cast<std::ptrdiff_t>(i) * Nc + j] = 0;
      Ima[static_cast<std::ptrdiff_t>(Nl - 1 - i) * Nc + j] = 0;
    }
  for (int i = 0; i < Nl; i++)
    for (int j = 0; j < cols; j++) {
      Ima[static_cast<std::ptrdiff_t>(i) * Nc + j] = 0;
      Ima[static_cast<std::ptrdiff_t>(i) * Nc + Nc - 1 - j] = 0;
    }
}

// ---------------------------------------------------------------------------
// The morphological types of the dispatch.

namespace {

void pave_minmax(Image& ima, MultiResol& mr, Bool, type_border, Bool details) {
  mr.TabBand[0] = ima;
  Image buffer;
  for (int s = 0; s < mr.NbrScale - 1; s++) {
    buffer.alloc(mr.TabBand[s].nl(), mr.TabBand[s].nc(), "Buff: TM_PAVE_MINMAX");
    morpho_erosion(mr.TabBand[s], buffer, 2 * s + 3);
    morpho_dilation(buffer, mr.TabBand[s + 1], 2 * s + 3);
    if (details) mr.TabBand[s] -= mr.TabBand[s + 1];
  }
}

void pyr_minmax(Image& ima, MultiResol& mr, Bool, type_border, Bool details) {
  mr.TabBand[0] = ima;
  Image eroded, opened;
  for (int s = 0; s < mr.NbrScale - 1; s++) {
    eroded.alloc(mr.TabBand[s].nl(), mr.TabBand[s].nc(), "Buff: TO_PYR_MINMAX");
    opened.alloc(mr.TabBand[s].nl(), mr.TabBand[s].nc(), "Buff_Dilat: TO_PYR_MINMAX");
    morpho_erosion(mr.TabBand[s], eroded, 3);
    morpho_dilation(eroded, opened, 3);
    if (details) mr.TabBand[s] -= opened;
    im_min_reduce_size_2(opened, mr.TabBand[s + 1]);
  }
}

}  // namespace

void mr_pyr_minmax_recons(MultiResol& mr, Image& ima, type_border, Bool) {
  ima = mr.TabBand[mr.NbrScale - 1];
  Image buffer;
  for (int s = mr.NbrScale - 2; s >= 0; s--) {
    buffer.alloc(mr.TabBand[s].nl(), mr.TabBand[s].nc(), "Buffer mr_iso_recons");
    im_bilinear_interp(ima, buffer);
    ima = buffer;
    ima += mr.TabBand[s];
  }
}

const MRTypeOps PaveMinMaxOps = {pave_minmax, mr_cube_recons, nullptr};
const MRTypeOps PyrMinMaxOps = {pyr_minmax, mr_pyr_minmax_recons, nullptr};
