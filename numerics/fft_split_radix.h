// Fast transforms of double data whose length is a power of two: complex
// DFT, real DFT, DCT and DST (types II and III), cosine and sine transforms
// of symmetric and antisymmetric data, and row-column 2D forms. Every routine
// works in place and takes its tables from the caller:
//   ip[0]  entries of the complex-FFT table at the head of w (0: none yet),
//   ip[1]  entries of the cosine table that follows it at w + ip[0],
//   ip[2...] the bit-reversal work area.
// Set ip[0] to 0 before the first call and whenever w moves; a routine
// rebuilds the tables only when it needs more entries than they hold.
// Nothing is validated: lengths must be powers of two and arrays as large as
// the sizes below (n is the length argument).
//   cdft          a[n], w n/4, ip 2 + √(n/2)
//   rdft          a[n], w n/2
//   ddct, ddst    a[n], w 5n/4
//   dfct          a[n+1], t[n/2+1], w 5n/8, ip 2 + √(n/4)
//   dfst          a[n], t[n/2], w 5n/8
//   cdft2d        t[2·n1], w max(n1/2, n2/4)
//   rdft2d        t[2·n1], w max(n1/2, n2/4) + n2/4
//   ddct2d,ddst2d t[n1], w max(n1, n2)/4 + max(n1, n2), ip 2 + √(max(n1, n2)/2)
#pragma once

// X[k] = Σ x[j]·exp(±2πi·jk/(n/2)) of the n/2 complex values (a[2j], a[2j+1]),
// + for isgn >= 0; unscaled.
void cdft(int n, int isgn, double* a, int* ip, double* w);
// isgn >= 0: real DFT packed as a[0] = R[0], a[1] = R[n/2], a[2k] = R[k],
// a[2k+1] = I[k] (exponent +); isgn < 0: the inverse up to a factor n/2.
void rdft(int n, int isgn, double* a, int* ip, double* w);
// isgn >= 0: DCT-III C[k] = Σ a[j]·cos(πj(k+½)/n), unscaled; isgn < 0: the
// DCT-II with C[0] halved and all scaled by 2/n, its exact inverse.
void ddct(int n, int isgn, double* a, int* ip, double* w);
// isgn >= 0: S[k] = Σ_{j=1}^{n} A[j]·sin(πj(k+½)/n), A[n] = a[0];
// isgn < 0: S[k] = Σ a[j]·sin(π(j+½)k/n), k = 1 .. n, S[n] stored in a[0].
void ddst(int n, int isgn, double* a, int* ip, double* w);
// C[k] = Σ_{j=0}^{n} a[j]·cos(πjk/n), k = 0 .. n; n >= 2.
void dfct(int n, double* a, double* t, int* ip, double* w);
// S[k] = Σ_{j=1}^{n-1} a[j]·sin(πjk/n), k = 1 .. n-1; a[0] ends at 0; n >= 2.
void dfst(int n, double* a, double* t, int* ip, double* w);

// 2D forms on n1 rows a[i] of n2 doubles: rows first, then columns through t.
void cdft2d(int n1, int n2, int isgn, double** a, double* t, int* ip, double* w);
void rdft2d(int n1, int n2, int isgn, double** a, double* t, int* ip, double* w);
void ddct2d(int n1, int n2, int isgn, double** a, double* t, int* ip, double* w);
void ddst2d(int n1, int n2, int isgn, double** a, double* t, int* ip, double* w);

// Table builders: the complex-FFT table of nw entries (quarter period of
// rotations, bit-reversed pairs) and the cosine table of nc entries.
void makewt(int nw, int* ip, double* w);
void makect(int nc, int* ip, double* c);
