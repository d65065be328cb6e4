// Digital straight lines on the integer grid (Bresenham segments and lines
// symmetric about a centre), the line-shaped atoms drawn from them, and a
// fixed dictionary of 45 such atoms with correlation, greedy decomposition
// and reconstruction of an image. The Fourier-domain slant stacks gather
// their spectrum samples along these lines.
#pragma once

#include <vector>

#include "array/base_types.h"
#include "array/to_array.h"

class Atom;

// Pixels of the segment (x0, y0)-(x1, y1) into X(k), Y(k), k < Np;
// Np = max(|x1 - x0|, |y1 - y0|) + 1. Arrays shorter than that are grown.
void getline(int x0, int y0, int x1, int y1, to_array<int, true>& X, to_array<int, true>& Y,
             int& Np);
// The same pixels stored into the atom, sized from the segment.
void getline(int x0, int y0, int x1, int y1, Atom& A);
// The line through (Xc, Yc) with direction (Dx, Dy), symmetric about the
// centre, which lands at entry c = max(Yc, Xc); entries c - n + 1 .. c + n - 1
// hold it and Np = 2n - 1. Arrays that cannot hold those entries end the
// process.
void symgetline(int Dx, int Dy, int Yc, int Xc, to_array<int, true>& X, to_array<int, true>& Y,
                int& Np);

class Atom {
 public:
  int Np = 0;
  to_array<int, true> TabXpos;
  to_array<int, true> TabYpos;

  Atom() = default;
  void alloc(int N) {
    Np = N;
    TabXpos.alloc(N);
    TabYpos.alloc(N);
  }
  void setpos(int k, int x, int y) {
    TabXpos(k) = x;
    TabYpos(k) = y;
  }
  int np() const { return Np; }
  int xpos(int k) const { return TabXpos(k); }
  int ypos(int k) const { return TabYpos(k); }
};

class ListAtom {
 public:
  int NbrAtom;
  std::vector<Atom> TabAtom;
  Bool Verbose;
  Bool SqrtNorm;  // correlations over sqrt(Np), atoms added as Coef/sqrt(Np)
  int AtomStep;   // grid spacing of the atoms' offsets

  ListAtom();

  // Correlation of atom a placed at pixel (i, j), mirrored outside Ima.
  float atom_pos_correl(to_array<float, false>& Ima, int a, int i, int j);
  // Per pixel, the atom of largest |correlation| and its signed correlation.
  void get_best_correl(to_array<float, false>& Ima, to_array<float, false>& Correl,
                       to_array<int, false>& BestAtom);
  // Adds atom a with amplitude Coef at (i, j); pixels outside are dropped.
  void add_atom(to_array<float, false>& Ima, int i, int j, float Coef, int a);
  // Greedy decomposition: Ima becomes the residual, Correl the coefficients,
  // Ind[1..NN] (allocated here with new[], the caller's to delete[]) the
  // positions by increasing |coefficient|.
  void order_coef(to_array<float, false>& Ima, to_array<float, false>& Correl,
                  to_array<int, false>& BestAtom, unsigned long*& Ind);
  void add_nfirst_atoms(to_array<float, false>& Ima, to_array<float, false>& Correl,
                        to_array<int, false>& BestAtom, unsigned long*& Ind, int N);
  void add_nsigma_atoms(to_array<float, false>& Ima, to_array<float, false>& Correl,
                        to_array<int, false>& BestAtom, unsigned long*& Ind, float Noise,
                        float NSigma);
  // Line and column of entry k of Ind for an image of Nc columns.
  void get_index_pos(int k, unsigned long*& Ind, int Nc, int& i, int& j);

 private:
  float atom_amplitude(int a, float Coef) const;
};
