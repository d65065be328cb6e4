// Cutting a Fourier plane into angular wedges and pasting them back. Only the
// left side (x < 0) of the plane is cut in each of four quadrants; between
// quadrants the plane turns a quarter, so one geometry serves all sides.
#include "curvelet/fcur_wedges.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "array/fatal.h"

namespace {

using Plane = to_array<std::complex<float>, false>;

enum class WedgeKind { FirstCorner, Regular, LastCorner };

// One wedge of the left side of a plane: its bounding box, its bounds along
// y, the middle line where the rising window hands over to the falling one,
// and the two window coordinates. Every expression is evaluated as written
// below: band sizes and weights depend on the exact rounding.
struct WedgeGeometry {
  WedgeKind kind;
  double x1, x2, y1, y2;
  double XW, YW;
  double sL = 0., sM = 0., sR = 0., sC = 0.;
  double c0 = 0., c1 = 0., c2 = 0., c3 = 0.;

  WedgeGeometry(WedgeKind k, int w, double xw, double yw, double dA, double dB)
      : kind(k), XW(xw), YW(yw) {
    x1 = -XW;
    switch (kind) {
      case WedgeKind::FirstCorner:
        x2 = -XW / 4 + (dB / 2) / 4;
        y1 = -YW - dA / 2;
        y2 = 1.5 * dA - YW;
        sC = -YW / (dB / 2 - XW);
        sR = (3 * dA / 2 - YW) / (-XW);
        sM = (dA / 2 - YW) / (-XW);
        c0 = (-YW - (dB / 2 - XW)) / ((dB / 2 - XW) - YW);
        c1 = ((dA / 2 - YW) + XW) / ((dA / 2 - YW) - XW);
        break;
      case WedgeKind::Regular:
        x2 = -XW / 4;
        y1 = (w * dA - YW) - dA / 2;
        y2 = ((w + 1) * dA - YW) + dA / 2;
        sL = y1 / (-XW);
        sR = (dA + dA + y1) / (-XW);
        sM = (y1 + dA) / (-XW);
        break;
      case WedgeKind::LastCorner:
        x2 = -XW / 4 + (dB / 2) / 4;
        y1 = YW - 1.5 * dA;
        y2 = YW + dA / 2;
        sL = (YW - 3 * dA / 2) / (-XW);
        sC = YW / (dB / 2 - XW);
        sM = (YW - dA / 2) / (-XW);
        c2 = ((YW - dA / 2) - XW) / ((YW - dA / 2) + XW);
        c3 = ((dB / 2 - XW) + YW) / (YW - (dB / 2 - XW));
        break;
    }
  }

  int lines() const { return static_cast<int>(std::ceil(y2 - y1)); }
  int columns() const { return static_cast<int>(std::ceil(x2 - x1)); }

  double ylo(double x) const {
    return kind == WedgeKind::FirstCorner ? std::max(-YW, x * sC) : x * sL;
  }
  double yhi(double x) const {
    return kind == WedgeKind::LastCorner ? std::min(YW, x * sC) : x * sR;
  }
  // Both coordinates are constant along lines through the origin.
  double rising(double x, double y) const {
    if (kind == WedgeKind::FirstCorner) return ((y - x) / (y + x) - c0) / (c1 - c0);
    return (y / x - sL) / (sM - sL);
  }
  double falling(double x, double y) const {
    if (kind == WedgeKind::LastCorner) return ((y + x) / (y - x) - c2) / (c3 - c2);
    return (y / x - sM) / (sR - sM);
  }
};

// Current orientation of the plane during the quadrant loop.
struct Quadrant {
  double A, B;  // height, width
  int NX, NY, MX, MY;
  double XW, YW;
  void compute() { rangecompute(B, A, NX, NY, MX, MY, XW, YW); }
};

// Calls cell(line, column, t, xi, weight) for every plane position of the
// wedge, with (t, xi) its wrapped cell in the wedge array.
template <class Cell>
void visit_wedge(const WedgeGeometry& g, const Quadrant& q, Cell cell) {
  const int ly = g.lines();
  const int xstart = static_cast<int>(std::ceil(g.x1));
  const int ystart = static_cast<int>(std::ceil(g.y1));
  for (int x = xstart; x < g.x2; x++) {
    const double dx = x;
    const int yfirst = static_cast<int>(std::ceil(g.ylo(dx)));
    const int ylast = static_cast<int>(std::floor(g.yhi(dx)));
    const double middle = dx * g.sM;
    for (int y = yfirst; y <= ylast; y++) {
      int t = (y - ystart) % ly;
      if (t < 0) t += ly;
      const double dy = y;
      float weight = 1.f;
      double l, r;
      if (dy < middle) {
        window(g.rising(dx, dy), l, r);
        weight = static_cast<float>(l);
      } else if (dy > middle) {
        window(g.falling(dx, dy), l, r);
        weight = static_cast<float>(r);
      }
      cell(y + q.MY, x + q.MX, t, x - xstart, weight);
    }
  }
}

// The first corner wedge reaches the plane's corner: a plane smaller than
// its A and B claim would be read outside, which is refused.
void check_first_corner(const WedgeGeometry& g, const Quadrant& q, int nl, int nc) {
  const int xstart = static_cast<int>(std::ceil(g.x1));
  for (int x = xstart; x < g.x2; x++) {
    const int column = x + q.MX;
    const int y0 = static_cast<int>(std::ceil(g.ylo(x)));
    const int y1 = static_cast<int>(std::floor(g.yhi(x)));
    if (y0 > y1) continue;
    const bool above = y0 + q.MY < 0, below = y1 + q.MY >= nl;
    if (above || below)
      fatal_exitf(-1, stdout, "YYCUR ERROR: ycur = %d %d\nXXCUR ERROR: xcur = %d %d\n",
                  above ? y0 : y1, nl, x, nc);
    if (column < 0 || column >= nc)
      fatal_exitf(-1, stdout, "XXCUR ERROR: xcur = %d %d\nYYCUR ERROR: ycur = %d %d\n", x, nc,
                  y0, nl);
  }
}

// The quadrant's wedges in order, first corner, regular ones, last corner.
template <class PerWedge>
void for_each_wedge(const Quadrant& q, int nq, PerWedge per_wedge) {
  const double dA = q.A / nq, dB = q.B / nq;
  per_wedge(0, WedgeGeometry(WedgeKind::FirstCorner, 0, q.XW, q.YW, dA, dB));
  for (int w = 1; w <= nq - 2; w++)
    per_wedge(w, WedgeGeometry(WedgeKind::Regular, w, q.XW, q.YW, dA, dB));
  per_wedge(nq - 1, WedgeGeometry(WedgeKind::LastCorner, nq - 1, q.XW, q.YW, dA, dB));
}

// A quarter turn of an ny x nx plane: line i, column j goes to line j,
// column ny - 1 - i.
void quarter_turn(std::vector<int>& plane, int ny, int nx) {
  std::vector<int> turned(plane.size());
  for (int i = 0; i < ny; i++)
    for (int j = 0; j < nx; j++)
      turned[static_cast<size_t>(j) * ny + (ny - 1 - i)] = plane[static_cast<size_t>(i) * nx + j];
  plane.swap(turned);
}

int quadrant_size(int nbr_dir) {
  const int nq = nbr_dir / 4;
  if (nq < 2)
    fatal_exitf(-1, stdout, "Error: %d directions are too few for the wedges (8 at least) ...\n",
                nbr_dir);
  return nq;
}

void check_plane(const Plane& plane, int ny, int nx, const char* routine) {
  if (plane.naxis() != 2 || plane.nl() != ny || plane.nc() != nx)
    fatal_exitf(-1, stdout, "Error: %s expects a plane of %d x %d, not %d x %d ...\n", routine,
                ny, nx, plane.nl(), plane.nc());
}

void next_quadrant(Quadrant& q) {
  std::swap(q.A, q.B);
  q.compute();
}

}  // namespace

void rangecompute(double XS, double YS, int& NX, int& NY, int& MX, int& MY, double& XW,
                  double& YW) {
  XW = XS / 2;
  YW = YS / 2;
  MX = static_cast<int>(std::floor(XW));
  MY = static_cast<int>(std::floor(YW));
  NX = 2 * MX + 1;
  NY = 2 * MY + 1;
}

void window(double x, double& l, double& r) {
  if (x <= 0.) {
    l = 0.;
    r = 1.;
    return;
  }
  if (x >= 1.) {
    l = 1.;
    r = 0.;
    return;
  }
  const double l0 = std::exp(1. - 1. / (1. - std::exp(1. - 1. / (1. - x))));
  const double r0 = std::exp(1. - 1. / (1. - std::exp(1. - 1. / x)));
  const double norm = std::sqrt(l0 * l0 + r0 * r0);
  l = l0 / norm;
  r = r0 / norm;
}

void wedge_sizes(double A, double B, int NbrDir, int* Lines, int* Columns) {
  const int nq = quadrant_size(NbrDir);
  std::fill(Lines, Lines + NbrDir, 0);
  std::fill(Columns, Columns + NbrDir, 0);
  Quadrant q{A, B, 0, 0, 0, 0, 0., 0.};
  q.compute();
  for (int quadrant = 0; quadrant < 4; quadrant++) {
    for_each_wedge(q, nq, [&](int w, const WedgeGeometry& g) {
      Lines[quadrant * nq + w] = g.lines();
      Columns[quadrant * nq + w] = g.columns();
    });
    next_quadrant(q);
  }
}

void WedgePlan::build(double A, double B, int NbrDir) {
  const int nq = quadrant_size(NbrDir);
  Quadrant q{A, B, 0, 0, 0, 0, 0., 0.};
  q.compute();
  NY = q.NY;
  NX = q.NX;
  Wedges.assign(NbrDir, Wedge());
  // The plane turns a quarter after each quadrant; turning the positions
  // along with it tells where each visited sample sits in the unturned plane.
  std::vector<int> position(static_cast<size_t>(NY) * NX);
  for (size_t k = 0; k < position.size(); k++) position[k] = static_cast<int>(k);
  for (int quadrant = 0; quadrant < 4; quadrant++) {
    for_each_wedge(q, nq, [&](int w, const WedgeGeometry& g) {
      if (w == 0) check_first_corner(g, q, q.NY, q.NX);
      Wedge& wedge = Wedges[quadrant * nq + w];
      wedge.nl = g.lines();
      wedge.nc = g.columns();
      wedge.samples.clear();
      visit_wedge(g, q, [&](int line, int column, int t, int xi, float weight) {
        wedge.samples.push_back({position[static_cast<size_t>(line) * q.NX + column],
                                 t * wedge.nc + xi, weight});
      });
    });
    quarter_turn(position, q.NY, q.NX);
    next_quadrant(q);
  }
}

void WedgePlan::cut(const Plane& Scale, Plane* TabWedge) const {
  check_plane(Scale, NY, NX, "scale_into_wedge");
  const int n = nbr_dir();
  // Allocation stays on one thread: large buffers come from shared pools.
  for (int k = 0; k < n; k++) {
    Plane& wedge = TabWedge[k];
    if (wedge.naxis() != 2 || wedge.nl() != Wedges[k].nl || wedge.nc() != Wedges[k].nc)
      wedge.alloc(Wedges[k].nl, Wedges[k].nc);
  }
  const std::complex<float>* plane = Scale.buffer();
#pragma omp parallel for schedule(dynamic)
  for (int k = 0; k < n; k++) {
    TabWedge[k].init();
    std::complex<float>* cells = TabWedge[k].buffer();
    for (const Sample& p : Wedges[k].samples) cells[p.cell] = plane[p.plane] * p.weight;
  }
}

void WedgePlan::paste(const Plane* TabWedge, Plane& Scale) const {
  check_plane(Scale, NY, NX, "wedge_into_scale");
  const int n = nbr_dir();
  for (int k = 0; k < n; k++)
    if (TabWedge[k].nl() != Wedges[k].nl || TabWedge[k].nc() != Wedges[k].nc)
      fatal_exitf(-1, stdout,
                  "Error: wedge %d is %d x %d where %d x %d is expected in wedge_into_scale ...\n",
                  k + 1, TabWedge[k].nl(), TabWedge[k].nc(), Wedges[k].nl, Wedges[k].nc);
  Scale.init();
  std::complex<float>* plane = Scale.buffer();
  // Wedges overlap: their sums go in one fixed order.
  for (int k = 0; k < n; k++) {
    const std::complex<float>* cells = TabWedge[k].buffer();
    for (const Sample& p : Wedges[k].samples) plane[p.plane] += cells[p.cell] * p.weight;
  }
}

void scale_into_wedge(Plane& Scale, Plane*& TabWedge, int NbrDir, double A, double B) {
  WedgePlan plan;
  plan.build(A, B, NbrDir);
  plan.cut(Scale, TabWedge);
}

void wedge_into_scale(Plane*& TabWedge, Plane& Scale, int NbrDir, double A, double B) {
  WedgePlan plan;
  plan.build(A, B, NbrDir);
  plan.paste(TabWedge, Scale);
}
