// The general complex FFT of the system: any length, any number of
// dimensions, single and double precision (mixed radix 4, 2, 3, 5 and odd
// primes), and FFTN, the object face of it over interleaved complex buffers
// from which the 1D and 2D front ends derive.
#pragma once

#include "array/base_types.h"

// Names of a process-wide work state, kept for programs that read them; the
// engine never uses them (they stay empty). Its work buffers belong to each
// calling thread and its tables to immutable shared plans, so that any
// number of transforms may run at once.
extern unsigned SpaceAlloced;    // bytes held by each of Tmp0 .. Tmp3
extern unsigned MaxPermAlloced;  // ints held by Perm
extern void* Tmp0;
extern void* Tmp1;
extern void* Tmp2;
extern void* Tmp3;
extern int* Perm;

// Most factors one length may split into.
constexpr int FftMaxFactors = 11;

// Transforms the ndim-dimensional array whose k-th complex value is
// (re[k·s], im[k·s]), s = |sign|, dims[0] varying fastest. sign > 0 uses
// exp(+2πi·jk/N), sign < 0 exp(-2πi·jk/N); no scaling when scaling is 0 or 1,
// otherwise division by scaling (> 0), by the total count (in [-1, 0)) or
// by its square root (< -1). When ndim or dims[0] is 0, dims is a list ended
// by 0. Returns 0, or -1 after a message on standard error.
int fftnf(int ndim, const int dims[], float re[], float im[], int sign, double scaling);
int fftn(int ndim, const int dims[], double re[], double im[], int sign, double scaling);

// One dimension of length `length` of an array of `total` values; `span` is
// the product of this length and all faster ones. The space arguments are
// accepted and ignored (the work space follows the length). Returns 0 or -1.
int fftradixf(float re[], float im[], unsigned long total, unsigned long length,
              unsigned long span, int sign, int factor_space, int perm_space);
int fftradix(double re[], double im[], unsigned long total, unsigned long length,
             unsigned long span, int sign, int factor_space, int perm_space);

// Frees whatever the names above hold and clears them; any number of calls,
// from any number of threads at once, is harmless, and it takes nothing from
// a transform running on another thread or object.
void fft_free();

// The factor list of a length, in pass order: square factors, square-free
// factors, square factors mirrored. Returns false (list cut at
// FftMaxFactors + 1 entries) when the length has too many factors.
bool fft_factorize(unsigned long n, int factors[FftMaxFactors + 1], int* count);

// True inside an active parallel region (blocks transformed side by side):
// the transforms then stay on the calling thread, since even a team that
// is not started costs more than a small transform.
bool fft_in_parallel_region();

class FFTN {
 public:
  FFTN() {}
  ~FFTN() { fft_free(); }

  // In place on interleaved (re, im) buffers; first length varies fastest.
  // Forward uses exp(+2πi·jk/N) unscaled, inverse exp(-2πi·jk/N) divided by
  // the element count. An engine failure ends the process.
  void transform1d(float* data, int length, Bool inverse = False);
  void transform1d(double* data, int length, Bool inverse = False);
  void transform2d(float* data, int first, int second, Bool inverse = False);
  void transform2d(double* data, int first, int second, Bool inverse = False);
  void transform3d(float* data, int first, int second, int third, Bool inverse = False);
  void transform3d(double* data, int first, int second, int third, Bool inverse = False);

  // Multiplies the 2n reals of n complex values by 1/n (factor in double).
  static void scale_reverse(float* data, int n);
  static void scale_reverse(double* data, int n);

  // The same with every axis read and written in centred order (origin at
  // index n/2 of each axis), for the front ends: the centring rides on the
  // copies the transform makes anyway.
  void transform_centred(float* data, int ndim, const int dims[], Bool inverse);
  void transform_centred(double* data, int ndim, const int dims[], Bool inverse);

  [[noreturn]] static void fft_error();
};
