// Fourier-domain slant stack on two zero-padded spectra and digital lines.
// Every geometry check ends the process with status -1: the checks guard
// sizes the caller controls, and a wrong size must not look like success.
#include "radon/fft_slant_stack_radon.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "array/array_ops.h"
#include "array/fatal.h"
#include "array/im_util.h"
#include "io/io_dispatch.h"
#include "radon/digital_line.h"

namespace {

using cfloat = std::complex<float>;

// Index of the partner, on the other grid, of an offset d from a centre
// along the axis that the other grid samples twice as finely.
int half_offset(int centre, int d) {
  if (d >= 1) return centre + (d + 1) / 2;
  if (d == 0) return centre;
  return centre + (d - 1) / 2;
}

int clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

void fft_slant_stack_radon::alloc(int N) {
  Nl = Nc = N;
  Nl1 = Nc2 = 2 * N + 1;
  Nc1 = Nl2 = N % 2 == 0 ? N + 1 : N;
  Nlr = Nc1 + Nl2;
  Ncr = Nl1;
  Nl12 = Nl1 / 2;
  Nc12 = Nc1 / 2;
  Nl22 = Nl2 / 2;
  Nc22 = Nc2 / 2;
  PositivConstraint = False;
  FFT1D.CenterZeroFreq = 1;
  Buff1.alloc(Nl1, Nc1, "buff1");
  Buff2.alloc(Nl2, Nc2, "buff2");
  TX1.alloc(2 * Nl1);
  TY1.alloc(2 * Nl1);
  TX2.alloc(2 * Nc2);
  TY2.alloc(2 * Nc2);
  Count1.alloc(Nl1, Nc1, "buff");
  Count2.alloc(Nl2, Nc2, "buff");
  RecBuff.alloc(Nl1, Nc2, "rec buff");
}

void fft_slant_stack_radon::check_image(const to_array<float, false>& Ima) const {
  if (Ima.naxis() != 2 || Ima.nl() != Nl || Ima.nc() != Nc)
    fatal_exitf(-1, stdout,
                "Error: the class fft_slant_stack_radon is \n"
                "       not initialized for this image size.  \n"
                "       Data size = %d %d\n       Class initialization = %d %d\n",
                Ima.nl(), Ima.nc(), Nl, Nc);
}

void fft_slant_stack_radon::check_radon(const to_array<float, false>& Rad) const {
  if (Rad.naxis() != 2 || Rad.nl() != Nlr || Rad.nc() != Ncr)
    fatal_exitf(-1, stdout,
                "Error: the class fft_slant_stack_radon is \n"
                "       not initialized for this radon image size.  \n"
                "       Radon Data size = %d %d\n       Class initialization = %d %d\n",
                Rad.nl(), Rad.nc(), Nlr, Ncr);
}

// Steep line i of Buff1 into TX1, TY1.
void fft_slant_stack_radon::steep_line(int i) {
  int np = 0;
  symgetline(i - Nc12, Nl12, Nl12, Nc12, TX1, TY1, np);
  if (np != Nl1) fatal_exitf(-1, stdout, "PB: Np(Nl1) = %d\n", np);
  if (TX1(np / 2) != Nc12 || TY1(np / 2) != Nl12)
    fatal_exitf(-1, stdout, "PB: TX1(Np/2) = %d\n    TY1(Np/2) = %d\n", TX1(np / 2), TY1(np / 2));
}

// Flat line i of Buff2 into TX2, TY2.
void fft_slant_stack_radon::flat_line(int i) {
  int np = 0;
  const int x = Nc22, y = i - Nl22;
  symgetline(x, y, Nl22, Nc22, TX2, TY2, np);
  if (np != Nc2) fatal_exitf(-1, stdout, "PB: Np(Nc2) = %d\n", np);
  if (TX2(np / 2) != Nc22 || TY2(np / 2) != Nl22) {
    std::string report = "PB: TX2(Np/2) = " + std::to_string(TX2(np / 2)) + "\n    TY2(Np/2) = " +
                         std::to_string(TY2(np / 2)) + "\n   Nc22 = " + std::to_string(Nc22) +
                         "   Nl22 = " + std::to_string(Nl22) + "\n   x2 = " + std::to_string(x) +
                         "   y2 = " + std::to_string(y) + "\n   Np = " + std::to_string(np) +
                         "   Nc2 = " + std::to_string(Nc2) + "\n";
    for (int k = 0; k < Nc2; k++) report += " " + std::to_string(TX2(k));
    report += "Y \n";
    for (int k = 0; k < Nc2; k++) report += " " + std::to_string(TY2(k));
    report += "  \n";
    fatal_exit(report, -1);
  }
}

void fft_slant_stack_radon::transform(to_array<float, false>& Ima, to_array<float, false>& Rad) {
  check_image(Ima);
  if (Rad.naxis() != 2 || Rad.nl() != Nlr || Rad.nc() != Ncr) Rad.resize(Nlr, Ncr);
  Buff1.init();
  Buff2.init();
  for (int i = 0; i < Nl; i++)
    for (int j = 0; j < Nc; j++) {
      Buff1(Nl1 / 4 + i, j) = cfloat(Ima(i, j), 0.f);
      Buff2(i, Nc2 / 4 + j) = cfloat(Ima(i, j), 0.f);
    }
  fft_radon(Buff1, Buff2, Rad);
}

void fft_slant_stack_radon::fft_radon(to_array<cfloat, false>& B1, to_array<cfloat, false>& B2,
                                      to_array<float, false>& Rad) {
  to_array<cfloat, true> line(Nl1);
  FFT2D.fftn2d(B1, False);
  for (int i = 0; i < Nc1; i++) {
    steep_line(i);
    for (int k = 0; k < Nl1; k++) line(k) = B1(TY1(k), TX1(k));
    FFT1D.fftn1d(line.buffer(), Nl1, True);
    for (int k = 0; k < Nl1; k++) Rad(i, k) = line(k).real();
  }
  FFT2D.fftn2d(B2, False);
  for (int i = 0; i < Nl2; i++) {
    flat_line(i);
    for (int k = 0; k < Nc2; k++) line(k) = B2(TY2(k), TX2(k));
    FFT1D.fftn1d(line.buffer(), Nc2, True);
    for (int k = 0; k < Nc2; k++) Rad(Nc1 + i, k) = line(k).real();
  }
}

void fft_slant_stack_radon::inverse(to_array<float, false>& Rad, to_array<float, false>& Ima) {
  check_radon(Rad);
  inv_fft_radon(Rad, RecBuff);
  if (Ima.naxis() != 2 || Ima.nl() != Nl || Ima.nc() != Nc) Ima.resize(Nl, Nc);
  for (int i = 0; i < Nl; i++)
    for (int j = 0; j < Nc; j++) Ima(i, j) = RecBuff(Nl1 / 4 + i, Nc2 / 4 + j).real();
}

void fft_slant_stack_radon::inv_fft_radon(to_array<float, false>& Rad,
                                          to_array<cfloat, false>& Rec) {
  if (Rec.naxis() != 2 || Rec.nl() != Nl1 || Rec.nc() != Nc2) Rec.resize(Nl1, Nc2);
  Rec.init();
  Buff1.init();
  Buff2.init();
  Count1.init();
  Count2.init();
  to_array<cfloat, true> line(Nl1);
  for (int i = 0; i < Nc1; i++) {
    steep_line(i);
    for (int k = 0; k < Nl1; k++) line(k) = cfloat(Rad(i, k), 0.f);
    FFT1D.fftn1d(line.buffer(), Nl1, False);
    for (int k = 0; k < Nl1; k++) {
      Buff1(TY1(k), TX1(k)) += line(k);
      Count1(TY1(k), TX1(k)) += 1.f;
    }
  }
  for (int i = 0; i < Nl2; i++) {
    flat_line(i);
    for (int k = 0; k < Nc2; k++) line(k) = cfloat(Rad(Nc1 + i, k), 0.f);
    FFT1D.fftn1d(line.buffer(), Nc2, False);
    for (int k = 0; k < Nc2; k++) {
      Buff2(TY2(k), TX2(k)) += line(k);
      Count2(TY2(k), TX2(k)) += 1.f;
    }
  }
  // Points that no line reached borrow the nearest point of the other grid.
  for (int a = 0; a < Nl1; a++)
    for (int b = 0; b < Nc1; b++) {
      if (Count1(a, b) == 0.f) {
        const int u = clamp(2 * (b - Nc12) + Nc22, 0, Nc2 - 1);
        const int v = clamp(half_offset(Nl22, a - Nl12), 0, Nl2 - 1);
        if (Count2(v, u) != 0.f) Buff1(a, b) = Buff2(v, u) / Count2(v, u);
      } else {
        Buff1(a, b) /= Count1(a, b);
      }
    }
  for (int a = 0; a < Nl2; a++)
    for (int b = 0; b < Nc2; b++) {
      if (Count2(a, b) == 0.f) {
        const int u = clamp(half_offset(Nc12, b - Nc22), 0, Nc1 - 1);
        const int v = clamp(2 * (a - Nl22) + Nl12, 0, Nl1 - 1);
        if (Count1(v, u) != 0.f) Buff2(a, b) = Buff1(v, u);
      } else {
        Buff2(a, b) /= Count2(a, b);
      }
    }
  // Each point of the merged spectrum comes from the grid that samples its
  // direction more finely. For odd N the two right corners have no partner
  // column in Buff1 and stay 0.
  for (int a = 0; a < Nl1; a++)
    for (int b = 0; b < Nc2; b++) {
      if (std::abs(a - Nl12) < std::abs(b - Nc22)) {
        if (a / 2 < Nl2) Rec(a, b) = Buff2(a / 2, b);
      } else if (b / 2 < Nc1) {
        Rec(a, b) = Buff1(a, b / 2);
      }
    }
  FFT2D.fftn2d(Rec, True);
}

void fft_slant_stack_radon::iter_inverse(to_array<float, false>& Rad, to_array<float, false>& Ima,
                                         int NIter) {
  check_radon(Rad);
  to_array<float, false> rec(Nlr, Ncr, "rec"), rec_data(Nl, Nc, "rec data");
  inverse(Rad, Ima);
  if (PositivConstraint) threshold(Ima, 0.f);
  for (int it = 0; it < NIter; it++) {
    std::printf("Iter = %d\n", it + 1);
    transform(Ima, rec);
    if (it == 0) io_write_ima_float("xx_rec.fits", rec);
    if (it == NIter - 1) io_write_ima_float("xx_rec1.fits", rec);
    for (int k = 0; k < rec.n_elem(); k++) rec(k) = Rad(k) - rec(k);
    INFO(rec, "RESI radon:");
    inverse(rec, rec_data);
    Ima += rec_data;
    INFO(Ima, "Data:");
    if (PositivConstraint) threshold(Ima, 0.f);
  }
}
