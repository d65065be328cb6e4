// Separable 2D steps. Lines are filtered straight from their rows; columns
// are copied in blocks of adjacent columns into contiguous signals (reading
// and writing whole row segments, which keeps the column pass cache-friendly),
// filtered, and copied back. Work buffers belong to each call, and each
// thread of a pass has its own, so any number of transforms may run at once.
#include "multires/sub_band_2d.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "array/scalar_helpers.h"

namespace {

constexpr int ColumnBlock = 16;
// Below this many samples (a 1024 x 1024 image) a pass runs on one thread:
// on a machine shared with other jobs, the barriers of a parallel pass cost
// more than the pass itself for the image sizes of most runs.
constexpr long ParallelMinSamples = 1L << 20;

// A plane of samples: `base` at line 0, column 0, `stride` samples per line.
struct Plane {
  float* base;
  int stride;
  float* at(int i, int j) const { return base + static_cast<std::ptrdiff_t>(i) * stride + j; }
};

Plane plane_of(to_array<float, false>& ima) { return {ima.buffer(), ima.nc()}; }

// Columns j0 .. j0+count-1, lines 0 .. n-1 of p into dst, column k
// starting at k * len (len = n when not given).
void gather_columns(const Plane& p, int n, int j0, int count, float* dst, std::size_t len = 0) {
  if (len == 0) len = static_cast<std::size_t>(std::max(n, 1));
  for (int i = 0; i < n; i++) {
    const float* row = p.at(i, j0);
    for (int k = 0; k < count; k++) dst[k * len + i] = row[k];
  }
}

// The first n samples of each of `count` columns stored len apart, into
// lines 0 .. n-1 of p from column j0.
void scatter_columns(const float* src, std::size_t len, int n, int j0, int count, const Plane& p) {
  for (int i = 0; i < n; i++) {
    float* row = p.at(i, j0);
    for (int k = 0; k < count; k++) row[k] = src[k * len + i];
  }
}

// Column pass of an analysis: every column of `in` (n samples, `ncols`
// columns) split by the bank into a low part of n_low samples and a high
// part of n_high samples, written to the two planes.
template <class Split>
void analyse_columns(const Plane& in, int n, int ncols, int n_low, int n_high, const Plane& low,
                     const Plane& high, Split split) {
  const int nblocks = (ncols + ColumnBlock - 1) / ColumnBlock;
  const std::size_t len = static_cast<std::size_t>(std::max(n, 1));
#pragma omp parallel if (static_cast<long>(n) * ncols >= ParallelMinSamples)
  {
    std::vector<float> cols(ColumnBlock * len), lows(ColumnBlock * len), highs(ColumnBlock * len);
#pragma omp for schedule(static)
    for (int blk = 0; blk < nblocks; blk++) {
      const int j0 = blk * ColumnBlock;
      const int count = std::min(ColumnBlock, ncols - j0);
      gather_columns(in, n, j0, count, cols.data());
      for (int k = 0; k < count; k++)
        split(cols.data() + k * len, lows.data() + k * len, highs.data() + k * len);
      scatter_columns(lows.data(), len, n_low, j0, count, low);
      scatter_columns(highs.data(), len, n_high, j0, count, high);
    }
  }
}

// Column pass of a synthesis: columns of the low plane (n_low samples) and
// the high plane (n_high samples) merged by the bank into n samples of the
// output plane.
template <class Merge>
void synthesise_columns(const Plane& low, const Plane& high, int n, int ncols, int n_low,
                        int n_high, const Plane& out, Merge merge) {
  const int nblocks = (ncols + ColumnBlock - 1) / ColumnBlock;
  const std::size_t len = static_cast<std::size_t>(std::max(n, 1));
#pragma omp parallel if (static_cast<long>(n) * ncols >= ParallelMinSamples)
  {
    // Zeroed once: a bank may read a band one sample past its length.
    std::vector<float> lows(ColumnBlock * len, 0.f), highs(ColumnBlock * len, 0.f),
        cols(ColumnBlock * len);
#pragma omp for schedule(static)
    for (int blk = 0; blk < nblocks; blk++) {
      const int j0 = blk * ColumnBlock;
      const int count = std::min(ColumnBlock, ncols - j0);
      gather_columns(low, n_low, j0, count, lows.data(), len);
      gather_columns(high, n_high, j0, count, highs.data(), len);
      for (int k = 0; k < count; k++)
        merge(lows.data() + k * len, highs.data() + k * len, cols.data() + k * len);
      scatter_columns(cols.data(), len, n, j0, count, out);
    }
  }
}

}  // namespace

SubBand2D::SubBand2D(SubBand1D& filter) : LineFilter(&filter), ColFilter(&filter) { set_sub(); }

SubBand2D::SubBand2D(SubBand1D& line, SubBand1D& col) : LineFilter(&line), ColFilter(&col) {
  set_sub();
}

SubBand2D::~SubBand2D() {
  LineFilter = nullptr;
  ColFilter = nullptr;
}

void SubBand2D::set_sub() { LineLowPhase = LineHighPhase = ColLowPhase = ColHighPhase = 1; }

SubBand1D* SubBand2D::get_subband_method_line() {
  LineFilter->LowPhase = LineLowPhase;
  LineFilter->HighPhase = LineHighPhase;
  return LineFilter;
}

SubBand1D* SubBand2D::get_subband_method_col() {
  ColFilter->LowPhase = ColLowPhase;
  ColFilter->HighPhase = ColHighPhase;
  return ColFilter;
}

void SubBand2D::transform2d(to_array<float, false>& Ima, Bool InPlace,
                            to_array<float, false>* Horiz, to_array<float, false>* Vert,
                            to_array<float, false>* Diag, to_array<float, false>* Smooth) {
  const int nl = Ima.nl(), nc = Ima.nc();
  const int nl2 = (nl + 1) / 2, nc2 = (nc + 1) / 2, nch = nc / 2;
  SubBand1D* line = get_subband_method_line();
  SubBand1D* col = get_subband_method_col();
  // Line outputs, both nc2 wide so that either phase fits.
  std::vector<float> low(static_cast<std::size_t>(nl) * nc2), high(low.size(), 0.f);
  const Plane in = plane_of(Ima);
#pragma omp parallel for schedule(static) if (static_cast<long>(nl) * nc >= ParallelMinSamples)
  for (int i = 0; i < nl; i++)
    line->transform(nc, in.at(i, 0), low.data() + static_cast<std::size_t>(i) * nc2,
                    high.data() + static_cast<std::size_t>(i) * nc2);

  Plane ll, lh, hl, hh;
  if (InPlace) {
    ll = in;
    lh = {Ima.buffer() + static_cast<std::ptrdiff_t>(nl2) * nc, nc};
    hl = {Ima.buffer() + nc2, nc};
    hh = {Ima.buffer() + static_cast<std::ptrdiff_t>(nl2) * nc + nc2, nc};
  } else {
    // All lines are in the buffers now, so the smooth band may be Ima.
    Smooth->resize(nl2, nc2);
    ll = plane_of(*Smooth);
    lh = plane_of(*Vert);
    hl = plane_of(*Horiz);
    hh = plane_of(*Diag);
  }
  auto split = [col, nl](float* x, float* lo, float* hi) { col->transform(nl, x, lo, hi); };
  analyse_columns({low.data(), nc2}, nl, nc2, nl2, nl / 2, ll, lh, split);
  if (nch > 0) analyse_columns({high.data(), nc2}, nl, nch, nl2, nl / 2, hl, hh, split);
}

void SubBand2D::transform2d(to_array<float, false>& Ima, to_array<float, false>& Horiz,
                            to_array<float, false>& Vert, to_array<float, false>& Diag,
                            to_array<float, false>& Smooth, int Step) {
  const int nl = Ima.nl(), nc = Ima.nc();
  SubBand1D* line = LineFilter;
  SubBand1D* col = ColFilter;
  std::vector<float> low(static_cast<std::size_t>(nl) * nc), high(low.size());
  const Plane in = plane_of(Ima);
#pragma omp parallel for schedule(static) if (static_cast<long>(nl) * nc >= ParallelMinSamples)
  for (int i = 0; i < nl; i++)
    line->transform(nc, in.at(i, 0), low.data() + static_cast<std::size_t>(i) * nc,
                    high.data() + static_cast<std::size_t>(i) * nc, Step);
  auto split = [col, nl, Step](float* x, float* lo, float* hi) {
    col->transform(nl, x, lo, hi, Step);
  };
  analyse_columns({low.data(), nc}, nl, nc, nl, nl, plane_of(Smooth), plane_of(Vert), split);
  analyse_columns({high.data(), nc}, nl, nc, nl, nl, plane_of(Horiz), plane_of(Diag), split);
}

void SubBand2D::recons2d(to_array<float, false>& Ima, Bool InPlace,
                         to_array<float, false>* Horiz, to_array<float, false>* Vert,
                         to_array<float, false>* Diag, to_array<float, false>* Smooth) {
  const int nl = Ima.nl(), nc = Ima.nc();
  const int nl2 = (nl + 1) / 2, nc2 = (nc + 1) / 2, nch = nc / 2;
  SubBand1D* line = get_subband_method_line();
  SubBand1D* col = get_subband_method_col();
  Plane ll, lh, hl, hh;
  if (InPlace) {
    ll = plane_of(Ima);
    lh = {Ima.buffer() + static_cast<std::ptrdiff_t>(nl2) * nc, nc};
    hl = {Ima.buffer() + nc2, nc};
    hh = {Ima.buffer() + static_cast<std::ptrdiff_t>(nl2) * nc + nc2, nc};
  } else {
    ll = plane_of(*Smooth);
    lh = plane_of(*Vert);
    hl = plane_of(*Horiz);
    hh = plane_of(*Diag);
  }
  const int hstride = std::max(nch, 1);
  std::vector<float> low(static_cast<std::size_t>(nl) * nc2),
      high(static_cast<std::size_t>(nl) * hstride + 1, 0.f);
  auto merge = [col, nl](float* lo, float* hi, float* x) { col->recons(nl, lo, hi, x); };
  synthesise_columns(ll, lh, nl, nc2, nl2, nl / 2, {low.data(), nc2}, merge);
  if (nch > 0) synthesise_columns(hl, hh, nl, nch, nl2, nl / 2, {high.data(), hstride}, merge);
  // Every band is read: the lines may now overwrite the quadrants.
  const Plane out = plane_of(Ima);
#pragma omp parallel if (static_cast<long>(nl) * nc >= ParallelMinSamples)
  {
    std::vector<float> lo_row(nc2 + 1, 0.f), hi_row(nc2 + 1, 0.f);
#pragma omp for schedule(static)
    for (int i = 0; i < nl; i++) {
      std::copy_n(low.data() + static_cast<std::size_t>(i) * nc2, nc2, lo_row.data());
      if (nch > 0) std::copy_n(high.data() + static_cast<std::size_t>(i) * hstride, nch, hi_row.data());
      line->recons(nc, lo_row.data(), hi_row.data(), out.at(i, 0));
    }
  }
}

void SubBand2D::recons2d(to_array<float, false>& Horiz, to_array<float, false>& Vert,
                         to_array<float, false>& Diag, to_array<float, false>& Smooth,
                         to_array<float, false>& Ima, int Step) {
  const int nl = Ima.nl(), nc = Ima.nc();
  SubBand1D* line = LineFilter;
  SubBand1D* col = ColFilter;
  std::vector<float> low(static_cast<std::size_t>(nl) * nc), high(low.size());
  auto merge = [col, nl, Step](float* lo, float* hi, float* x) {
    col->recons(nl, lo, hi, x, Step);
  };
  synthesise_columns(plane_of(Smooth), plane_of(Vert), nl, nc, nl, nl, {low.data(), nc}, merge);
  synthesise_columns(plane_of(Horiz), plane_of(Diag), nl, nc, nl, nl, {high.data(), nc}, merge);
  const Plane out = plane_of(Ima);
#pragma omp parallel for schedule(static) if (static_cast<long>(nl) * nc >= ParallelMinSamples)
  for (int i = 0; i < nl; i++)
    line->recons(nc, low.data() + static_cast<std::size_t>(i) * nc,
                 high.data() + static_cast<std::size_t>(i) * nc, out.at(i, 0), Step);
}

// ---------------------------------------------------------------------------
// Ortho_2D_WT

namespace {

float to_sample(float x) { return x; }
float to_sample(int x) { return static_cast<float>(x); }
void from_sample(float x, float& out) { out = x; }
void from_sample(float x, int& out) { out = to_int(x); }

// The n samples of a run (`stride` apart from p) split in place by the
// bank: the (n+1)/2 low values first, then the n/2 high values.
template <class T>
void split_run(T* p, std::ptrdiff_t stride, int n, SubBand1D* bank, float* x, float* lo,
               float* hi) {
  for (int k = 0; k < n; k++) x[k] = to_sample(p[k * stride]);
  bank->transform(n, x, lo, hi);
  const int n2 = (n + 1) / 2;
  for (int k = 0; k < n2; k++) from_sample(lo[k], p[k * stride]);
  for (int k = 0; k < n / 2; k++) from_sample(hi[k], p[(n2 + k) * stride]);
}

// The inverse: a run holding low then high values merged back in place.
template <class T>
void merge_run(T* p, std::ptrdiff_t stride, int n, SubBand1D* bank, float* x, float* lo,
               float* hi) {
  const int n2 = (n + 1) / 2;
  for (int k = 0; k < n2; k++) lo[k] = to_sample(p[k * stride]);
  for (int k = 0; k < n / 2; k++) hi[k] = to_sample(p[(n2 + k) * stride]);
  bank->recons(n, lo, hi, x);
  for (int k = 0; k < n; k++) from_sample(x[k], p[k * stride]);
}

// One decimated analysis (or synthesis) of the top-left nl x nc corner of
// an image with `stride` samples per line: lines then columns (columns then
// lines).
template <class T>
void ortho_step(T* data, int stride, int nl, int nc, SubBand1D* line, SubBand1D* col,
                bool analysis) {
  const int len = std::max(nl, nc) + 1;
#pragma omp parallel if (static_cast<long>(nl) * nc >= ParallelMinSamples)
  {
    std::vector<float> x(len), lo(len, 0.f), hi(len, 0.f);
    for (int pass = 0; pass < 2; pass++) {
      const bool lines = (pass == 0) == analysis;
      const int count = lines ? nl : nc;
#pragma omp for schedule(static)
      for (int t = 0; t < count; t++) {
        T* start = lines ? data + static_cast<std::ptrdiff_t>(t) * stride : data + t;
        const std::ptrdiff_t step = lines ? 1 : stride;
        SubBand1D* bank = lines ? line : col;
        const int n = lines ? nc : nl;
        if (analysis) split_run(start, step, n, bank, x.data(), lo.data(), hi.data());
        else merge_run(start, step, n, bank, x.data(), lo.data(), hi.data());
      }
    }
  }
}

template <class T>
void ortho_transform(to_array<T, false>& ima, int nbr_scale, SubBand1D* line, SubBand1D* col) {
  int nl = ima.nl(), nc = ima.nc();
  for (int s = 0; s < nbr_scale - 1; s++) {
    ortho_step(ima.buffer(), ima.nc(), nl, nc, line, col, true);
    nl = (nl + 1) / 2;
    nc = (nc + 1) / 2;
  }
}

template <class T>
void ortho_recons(to_array<T, false>& ima, int nbr_scale, SubBand1D* line, SubBand1D* col) {
  for (int s = nbr_scale - 2; s >= 0; s--)
    ortho_step(ima.buffer(), ima.nc(), size_resol(s, ima.nl()), size_resol(s, ima.nc()), line,
               col, false);
}

}  // namespace

void Ortho_2D_WT::transform(to_array<float, false>& Ima, int NbrScale) {
  SubBand1D* line = get_subband_method_line();
  ortho_transform(Ima, NbrScale, line, get_subband_method_col());
}

void Ortho_2D_WT::recons(to_array<float, false>& Ima, int NbrScale) {
  SubBand1D* line = get_subband_method_line();
  ortho_recons(Ima, NbrScale, line, get_subband_method_col());
}

// The integer forms use the first bank both ways, with its phases as they are.
void Ortho_2D_WT::transform(to_array<int, false>& Ima, int NbrScale) {
  ortho_transform(Ima, NbrScale, LineFilter, LineFilter);
}

void Ortho_2D_WT::recons(to_array<int, false>& Ima, int NbrScale) {
  ortho_recons(Ima, NbrScale, LineFilter, LineFilter);
}

// The two-image forms copy the input into the output and work there.
void Ortho_2D_WT::transform(to_array<float, false>& In, to_array<float, false>& Out, int N) {
  Out = In;
  transform(Out, N);
}
void Ortho_2D_WT::recons(to_array<float, false>& In, to_array<float, false>& Out, int N) {
  Out = In;
  recons(Out, N);
}
void Ortho_2D_WT::transform(to_array<int, false>& In, to_array<int, false>& Out, int N) {
  Out = In;
  transform(Out, N);
}
void Ortho_2D_WT::recons(to_array<int, false>& In, to_array<int, false>& Out, int N) {
  Out = In;
  recons(Out, N);
}

// ---------------------------------------------------------------------------
// PAVE_2D_WT

int PAVE_2D_WT::alloc(to_array<float, false>*& TabBand, int Nl, int Nc, int NbrScale) {
  const int nbr_band = 3 * (NbrScale - 1) + 1;
  TabBand = new to_array<float, false>[nbr_band];
  for (int b = 0; b < nbr_band; b++) TabBand[b].alloc(Nl, Nc);
  return nbr_band;
}

void PAVE_2D_WT::free(to_array<float, false>*& TabBand, int NbrScale) {
  if (NbrScale != 0 && TabBand != nullptr) {
    delete[] TabBand;
    TabBand = nullptr;
  }
}

void PAVE_2D_WT::one_scale_transform(to_array<float, false>& Ima,
                                     to_array<float, false>* TabBand, int Step, int Pos) {
  transform2d(Ima, TabBand[Pos], TabBand[Pos + 1], TabBand[Pos + 2], TabBand[Pos + 3], Step);
}

void PAVE_2D_WT::one_scale_recons(to_array<float, false>* TabBand, to_array<float, false>& Ima,
                                  int Step, int Pos) {
  recons2d(TabBand[Pos], TabBand[Pos + 1], TabBand[Pos + 2], TabBand[Pos + 3], Ima, Step);
}

void PAVE_2D_WT::transform(to_array<float, false>& Ima, to_array<float, false>* TabBand,
                           int NbrScale) {
  for (int s = 0; s < NbrScale - 1; s++) {
    // From the second scale on, the input is the smooth band the previous
    // scale left in band 3s, which this step overwrites with its HL band.
    to_array<float, false>& input = s == 0 ? Ima : TabBand[3 * s];
    one_scale_transform(input, TabBand, POW2(s), 3 * s);
  }
}

void PAVE_2D_WT::recons(to_array<float, false>* TabBand, to_array<float, false>& Ima,
                        int NbrScale) {
  const int last = 3 * (NbrScale - 1);
  if (NbrScale < 2) {
    Ima = TabBand[last];
    return;
  }
  for (int s = NbrScale - 2; s >= 0; s--) {
    to_array<float, false>& smooth = s == NbrScale - 2 ? TabBand[last] : Ima;
    recons2d(TabBand[3 * s], TabBand[3 * s + 1], TabBand[3 * s + 2], smooth, Ima, POW2(s));
  }
}
