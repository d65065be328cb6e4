// The pseudo-polar Fourier transform of a square image and its adjoint, with
// the pieces both are made of: a radix-2 FFT over interleaved floats, centred
// row FFTs with and without zero padding, a half swap and a centred
// fractional DFT. Complex data travel as a real and an imaginary plane of
// floats, rows contiguous. The row FFTs are the radix-2 four1 of the DCT
// package, so every transform length must be a power of two; the callers
// check it. A failed work allocation ends the
// process with status 1.
#pragma once

// Rows r and r + nl/2 swapped, then in every row columns c and c + nc/2.
void fftshift(float* re, float* im, int nc, int nl);
// Every row replaced by its forward (fftcol) or normalised inverse (ifftcol)
// DFT; work holds at least 2 nc + 1 floats (four1 counts from work[1]).
void fftcol(float* re, float* im, float* work, int nc, int nl);
void ifftcol(float* re, float* im, float* work, int nc, int nl);
void copy_sub(float* dst_re, float* dst_im, const float* src_re, const float* src_im, int count);
// n x 2n output: the centred DFT of length 2n of every row (mode 0) or
// column (mode 1) of the n x n input, zero padded on both sides.
void FFTmid0(float* out_re, float* out_im, const float* in_re, const float* in_im, int n, int mode);
// In place: centred forward DFT of length nc of every row of nl rows.
void FFTmid0NP(float* re, float* im, int nc, int nl);
// Centred inverse DFT of every row, divided by nc; mode 0 writes nl x nc,
// mode 1 the transpose (nc x nl).
void IFFTmid0(float* out_re, float* out_im, const float* in_re, const float* in_im, int nc, int nl,
              int mode);
// Centred fractional DFT: y[k] = sum_j x[j] exp(-2 pi i alpha (k - n/2)(j - n/2)/n).
void FFFT(float* out_re, float* out_im, const float* in_re, const float* in_im, int n, float alpha);
// Pseudo-polar FFT of the n x n input into the 2n x 2n output: row k' is the
// radial frequency k' - n, columns 0 .. n-1 the rays of the first family
// (column frequency dominant), n .. 2n-1 those of the second. Modes 1 and 2
// weight each row.
void PPFFT(float* out_re, float* out_im, const float* in_re, const float* in_im, int n, int mode);
// (1/m) times the exact adjoint of PPFFT of the same mode; m x m input,
// m/2 x m/2 output.
void Adj_PPFFT(float* out_re, float* out_im, const float* in_re, const float* in_im, int m,
               int mode);
