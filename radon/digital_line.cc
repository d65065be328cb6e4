// Bresenham segments, symmetric digital lines and the 45-atom line
// dictionary. The minor coordinate steps only when the error exceeds the
// major length strictly, starting from half of it, so that a segment and its
// reverse need not draw the same pixels.
#include "radon/digital_line.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "array/fatal.h"
#include "array/sort.h"

namespace {

// Calls record(x, y) for every pixel of the segment, first end point first.
template <class Record>
void draw_segment(int x0, int y0, int x1, int y1, Record record) {
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  const int dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
  int x = x0, y = y0;
  record(x, y);
  if (dx > dy) {
    int e = dx / 2;
    for (int k = 0; k < dx; k++) {
      x += sx;
      e += dy;
      if (e > dx) {
        e -= dx;
        y += sy;
      }
      record(x, y);
    }
  } else {
    int e = dy / 2;
    for (int k = 0; k < dy; k++) {
      y += sy;
      e += dx;
      if (e > dy) {
        e -= dy;
        x += sx;
      }
      record(x, y);
    }
  }
}

int segment_length(int x0, int y0, int x1, int y1) {
  const int dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
  return (dx > dy ? dx : dy) + 1;
}

void grow_to(to_array<int, true>& a, int n) {
  if (a.n_elem() < n) a.alloc(n);
}

}  // namespace

void getline(int x0, int y0, int x1, int y1, to_array<int, true>& X, to_array<int, true>& Y,
             int& Np) {
  const int n = segment_length(x0, y0, x1, y1);
  grow_to(X, n);
  grow_to(Y, n);
  int k = 0;
  draw_segment(x0, y0, x1, y1, [&](int x, int y) {
    X(k) = x;
    Y(k) = y;
    k++;
  });
  Np = k;
}

void getline(int x0, int y0, int x1, int y1, Atom& A) {
  A.alloc(segment_length(x0, y0, x1, y1));
  int k = 0;
  draw_segment(x0, y0, x1, y1, [&](int x, int y) { A.setpos(k++, x, y); });
}

void symgetline(int Dx, int Dy, int Yc, int Xc, to_array<int, true>& X, to_array<int, true>& Y,
                int& Np) {
  to_array<int, true> TX, TY;
  int n = 0;
  getline(0, 0, Dx, Dy, TX, TY, n);
  const int c = Yc > Xc ? Yc : Xc;
  // The half-line of n pixels lands on both sides of entry c.
  if (c - n + 1 < 0 || c + n - 1 >= X.n_elem() || c + n - 1 >= Y.n_elem())
    fatal_exitf(-1, stdout,
                "Error: symgetline: a line of %d points centred on entry %d does not fit arrays "
                "of %d and %d entries ...\n",
                2 * n - 1, c, X.n_elem(), Y.n_elem());
  for (int i = 0; i < n; i++) {
    Y(c - i) = Yc - TY(i);
    X(c - i) = Xc - TX(i);
    Y(c + i) = Yc + TY(i);
    X(c + i) = Xc + TX(i);
  }
  Np = 2 * n - 1;
}

ListAtom::ListAtom() : NbrAtom(45), TabAtom(45), Verbose(False), SqrtNorm(True), AtomStep(1) {
  int a = 0;
  TabAtom[a].alloc(1);
  TabAtom[a++].setpos(0, 0, 0);
  getline(1, 0, -1, 0, TabAtom[a++]);
  getline(1, 1, -1, -1, TabAtom[a++]);
  getline(0, 1, 0, -1, TabAtom[a++]);
  getline(-1, 1, 1, -1, TabAtom[a++]);
  if (Verbose) std::printf(" END BLOCK 3: Ni = %d\n", a - 1);
  for (int k = 0; k <= 2; k++) getline(2, k, -2, -k, TabAtom[a++]);
  for (int k = 1; k >= -2; k--) getline(k, 2, -k, -2, TabAtom[a++]);
  getline(-2, 1, 2, -1, TabAtom[a++]);
  if (Verbose) std::printf(" END BLOCK 5: Ni = %d\n", a - 1);
  for (int k = 0; k <= 8; k++) getline(8, k, -8, -k, TabAtom[a++]);
  for (int k = 7; k >= -8; k--) getline(k, 8, -k, -8, TabAtom[a++]);
  for (int k = 7; k >= 1; k--) getline(-8, k, 8, -k, TabAtom[a++]);
  if (Verbose) std::printf(" END BLOCK 5: Ni = %d\n", a - 1);
}

float ListAtom::atom_pos_correl(to_array<float, false>& Ima, int a, int i, int j) {
  const Atom& atom = TabAtom[a];
  float sum = 0.f;
  for (int p = 0; p < atom.np(); p++)
    sum += Ima(i + atom.ypos(p) * AtomStep, j + atom.xpos(p) * AtomStep, I_MIRROR);
  if (SqrtNorm) sum /= std::sqrt(static_cast<float>(atom.np()));
  return sum;
}

void ListAtom::get_best_correl(to_array<float, false>& Ima, to_array<float, false>& Correl,
                               to_array<int, false>& BestAtom) {
  const int nl = Ima.nl(), nc = Ima.nc();
  if (Correl.nl() != nl || Correl.nc() != nc) Correl.alloc(nl, nc);
  if (BestAtom.nl() != nl || BestAtom.nc() != nc) BestAtom.alloc(nl, nc);
  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) {
      float best = atom_pos_correl(Ima, 0, i, j);
      int best_atom = 0;
      for (int a = 1; a < NbrAtom; a++) {
        float c = atom_pos_correl(Ima, a, i, j);
        if (std::fabs(c) > std::fabs(best)) {
          best = c;
          best_atom = a;
        }
      }
      Correl(i, j) = best;
      BestAtom(i, j) = best_atom;
    }
}

float ListAtom::atom_amplitude(int a, float Coef) const {
  const float np = static_cast<float>(TabAtom[a].np());
  return SqrtNorm ? Coef / std::sqrt(np) : Coef / np;
}

void ListAtom::add_atom(to_array<float, false>& Ima, int i, int j, float Coef, int a) {
  const float v = atom_amplitude(a, Coef);
  if (Verbose) std::printf("(%d,%d) = %g  %g\n", i, j, Coef, v);
  const Atom& atom = TabAtom[a];
  for (int p = 0; p < atom.np(); p++) {
    const int l = i + atom.ypos(p) * AtomStep, c = j + atom.xpos(p) * AtomStep;
    if (l >= 0 && l < Ima.nl() && c >= 0 && c < Ima.nc()) Ima(l, c) += v;
  }
}

void ListAtom::get_index_pos(int k, unsigned long*& Ind, int Nc, int& i, int& j) {
  const long f = static_cast<long>(Ind[k]) - 1;
  i = static_cast<int>(f / Nc);
  j = static_cast<int>(f - static_cast<long>(i) * Nc);
}

void ListAtom::order_coef(to_array<float, false>& Ima, to_array<float, false>& Correl,
                          to_array<int, false>& BestAtom, unsigned long*& Ind) {
  const int nn = Ima.n_elem(), nc = Ima.nc();
  delete[] Ind;
  Ind = new unsigned long[nn + 1];
  std::vector<float> magnitude(nn + 1, 0.f);
  for (int f = 0; f < nn; f++) magnitude[f + 1] = std::fabs(Correl(f));
  indexx(nn, magnitude.data(), Ind);
  if (nn == 0) return;
  int i, j;
  int k = nn;
  get_index_pos(k, Ind, nc, i, j);
  while (k > 0) {
    add_atom(Ima, i, j, -Correl(i, j), BestAtom(i, j));
    k--;
    if (k > 0) {
      get_index_pos(k, Ind, nc, i, j);
      Correl(i, j) = atom_pos_correl(Ima, BestAtom(i, j), i, j);
      magnitude[Ind[k]] = std::fabs(Correl(i, j));
    }
  }
  indexx(nn, magnitude.data(), Ind);
}

void ListAtom::add_nfirst_atoms(to_array<float, false>& Ima, to_array<float, false>& Correl,
                                to_array<int, false>& BestAtom, unsigned long*& Ind, int N) {
  const int nn = Ima.n_elem();
  if (N > nn) N = nn;
  for (int k = 0; k < N; k++) {
    int i, j;
    get_index_pos(nn - k, Ind, Ima.nc(), i, j);
    add_atom(Ima, i, j, Correl(i, j), BestAtom(i, j));
  }
}

void ListAtom::add_nsigma_atoms(to_array<float, false>& Ima, to_array<float, false>& Correl,
                                to_array<int, false>& BestAtom, unsigned long*& Ind, float Noise,
                                float NSigma) {
  const int nn = Ima.n_elem();
  const float level = Noise * NSigma;
  int added = 0;
  for (int k = nn; k >= 1; k--) {
    int i, j;
    get_index_pos(k, Ind, Ima.nc(), i, j);
    if (!(std::fabs(Correl(i, j)) > level)) break;
    add_atom(Ima, i, j, Correl(i, j), BestAtom(i, j));
    added++;
  }
  std::printf("Level = %g Number of significant coefficients = %d ==> %g\n", level, added,
              nn > 0 ? 100. * added / nn : 0.);
}
