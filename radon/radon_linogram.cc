// Linogram Radon transform (method 2): by the projection-slice relation the
// 1D spectrum of a projection is the 2D spectrum of the image along the
// radial line of the same direction, so each projection is an inverse 1D FFT
// of nearest-grid samples of the image's spectrum. The inverse averages the
// line samples that land on one grid point. Sample positions depend only on
// the sizes: they are tabulated once per allocation, so a transform is one
// 2D FFT, a gather and one 1D FFT per line.
#include <cmath>
#include <cstdio>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "radon/radon.h"

namespace {

using Image = to_array<float, false>;
using ComplexImage = to_array<std::complex<float>, false>;

[[noreturn]] void bad_size() { fatal_exit("Error: bad image size for the Radon transform ...\n"); }

bool same_size(int nl, int nc, int want_nl, int want_nc) { return nl == want_nl && nc == want_nc; }

}  // namespace

std::shared_ptr<const Radon::LinogramTable> Radon::make_linogram_table() const {
  if (TabLineAngle.size() != static_cast<size_t>(Nlr))
    fatal_exit("Error: the Radon object has no radial lines for the linogram transform ...\n");
  auto table = std::make_shared<LinogramTable>();
  LinogramTable& t = *table;
  const int half = Ncr / 2, nslot = half + 1;
  t.Source.assign(static_cast<size_t>(Nlr) * Ncr, -1);
  t.SourceMirror.assign(static_cast<size_t>(Nlr) * Ncr, -1);
  t.Direct.assign(static_cast<size_t>(Nlr) * nslot, -1);
  t.Mirror.assign(static_cast<size_t>(Nlr) * nslot, -1);
  t.Count.assign(static_cast<size_t>(Nc) * Nc, 0.f);
  t.SourceOutside = false;
  const double hc = static_cast<double>(Nc / 2);
  for (int i = 0; i < Nlr; i++) {
    const double a = TabLineAngle[i], step = TabLineStep[i];
    const double ca = std::cos(a), sa = std::sin(a);
    // Lines that end on the left border are walked from that border, so
    // that their first sample falls inside the grid.
    int sign = 1;
    const double r_end = (-Ncr / 2.0) * step;
    if (r_end * ca >= hc && r_end * sa < hc) sign = -1;
    if (a == 0.0) sign = 1;
    for (int k = 0; k <= half; k++) {
      const double r = (sign * (k - half)) * step;
      const int ix = iround(r * ca), iy = iround(r * sa);
      const int mirror_slot = 2 * half - k;
      const bool slot_exists = mirror_slot >= 0 && mirror_slot < Ncr;
      // Forward: the spectrum is centred at (Nl/2, Nc/2).
      int line = iy + Nl / 2, col = ix + Nc / 2;
      if (line >= 0 && line < Nl && col >= 0 && col < Nc)
        t.Source[static_cast<size_t>(i) * Ncr + k] = line * Nc + col;
      line = Nl / 2 - iy;
      col = Nc / 2 - ix;
      if (line >= 0 && line < Nl && col >= 0 && col < Nc) {
        if (slot_exists) t.Source[static_cast<size_t>(i) * Ncr + mirror_slot] = line * Nc + col;
      } else if (slot_exists) {
        t.SourceOutside = true;
      }
      // Inverse: an Nc x Nc grid centred at (Nc/2, Nc/2).
      const size_t e = static_cast<size_t>(i) * nslot + k;
      line = iy + Nc / 2;
      col = ix + Nc / 2;
      if (line >= 0 && line < Nc && col >= 0 && col < Nc) {
        t.Direct[e] = line * Nc + col;
        t.Count[t.Direct[e]] += 1.f;
      }
      line = Nc / 2 - iy;
      col = Nc / 2 - ix;
      if (slot_exists && line >= 0 && line < Nc && col >= 0 && col < Nc) {
        t.Mirror[e] = line * Nc + col;
        t.Count[t.Mirror[e]] += 1.f;
      }
    }
  }
  // The point of the opposite frequency of every source point, for the
  // spectra of two real images taken through one complex FFT.
  auto opposite = [](int index, int n) { return n % 2 == 0 ? (n - index) % n : n - 1 - index; };
  for (size_t k = 0; k < t.Source.size(); k++) {
    const int source = t.Source[k];
    if (source >= 0)
      t.SourceMirror[k] = opposite(source / Nc, Nl) * Nc + opposite(source % Nc, Nc);
  }
  // Samples whose mirror slot on the line reads the opposite point: there
  // the line spectra of the real images are Hermitian.
  t.EvenSource.assign(t.Source.size(), -1);
  const int mirror_sum = Ncr % 2 == 0 ? Ncr : Ncr - 1;
  for (int i = 0; i < Nlr; i++)
    for (int c = 0; c < Ncr; c++) {
      const size_t k = static_cast<size_t>(i) * Ncr + c, mk = k - c + (mirror_sum - c);
      if (mirror_sum - c < Ncr && t.Source[k] >= 0 && t.Source[mk] >= 0 &&
          t.SourceMirror[k] == t.Source[mk] && t.SourceMirror[mk] == t.Source[k])
        t.EvenSource[k] = t.Source[k];
    }
  return table;
}

// Every allocation drops the tables: those held were built for the sizes.
const Radon::LinogramTable& Radon::linogram_table() {
  if (!Lino) Lino = make_linogram_table();
  return *Lino;
}

void Radon::share_linogram_table(Radon& Model) {
  if (!Allocated || !Model.Allocated || RadonMethod != RADON_FFT || Model.RadonMethod != RADON_FFT ||
      Nl != Model.Nl || Nc != Model.Nc || Nlr != Model.Nlr || Ncr != Model.Ncr)
    return;
  Model.linogram_table();
  Lino = Model.Lino;
}

void Radon::prepare_linogram_forward(Image& Ima) {
  if (!Allocated || !same_size(Ima.nl(), Ima.nc(), Nl, Nc)) alloc(Ima.nl(), Ima.nc(), RADON_FFT, 0, 0);
  if (linogram_table().SourceOutside) fatal_exit("Error occured during the transformation ...\n");
  if (Spectrum.naxis() != 2 || !same_size(Spectrum.nl(), Spectrum.nc(), Nl, Nc))
    Spectrum.alloc(Nl, Nc, "spectrum");
  FFT2D.CenterZeroFreq = 1;
}

void Radon::prepare_linogram_forward(Image& Ima, ComplexImage& RadF) {
  prepare_linogram_forward(Ima);
  if (RadF.naxis() != 2 || !same_size(RadF.nl(), RadF.nc(), Nlr, Ncr)) RadF.resize(Nlr, Ncr);
  if (!same_size(RadF.nl(), RadF.nc(), Nlr, Ncr)) bad_size();
}

void Radon::fft_trans_cf(Image& Ima, ComplexImage& RadF) {
  prepare_linogram_forward(Ima, RadF);
  FFT2D.fftn2d(Ima, Spectrum, False);
  const std::complex<float>* s = Spectrum.buffer();
  std::complex<float>* out = RadF.buffer();
  const int* source = Lino->Source.data();
  const size_t n = static_cast<size_t>(Nlr) * Ncr;
  for (size_t k = 0; k < n; k++) out[k] = source[k] >= 0 ? s[source[k]] : std::complex<float>();
}

const std::complex<float>* Radon::fft_pair_spectrum(Image& ImaA, Image& ImaB) {
  if (!same_size(ImaA.nl(), ImaA.nc(), ImaB.nl(), ImaB.nc())) bad_size();
  prepare_linogram_forward(ImaA);
  std::complex<float>* s = Spectrum.buffer();
  float* parts = reinterpret_cast<float*>(s);
  const float* a = ImaA.buffer();
  const float* b = ImaB.buffer();
  const int n = Spectrum.n_elem();
#pragma omp simd
  for (int k = 0; k < n; k++) {
    parts[2 * k] = a[k];
    parts[2 * k + 1] = b[k];
  }
  FFT2D.fftn2d(Spectrum, False);
  return s;
}

void Radon::fft_trans_cf_pair(Image& ImaA, Image& ImaB, ComplexImage& RadFA, ComplexImage& RadFB) {
  const std::complex<float>* s = fft_pair_spectrum(ImaA, ImaB);
  prepare_linogram_forward(ImaA, RadFA);
  prepare_linogram_forward(ImaB, RadFB);
  std::complex<float>* out_a = RadFA.buffer();
  std::complex<float>* out_b = RadFB.buffer();
  const int* source = Lino->Source.data();
  const int* mirror = Lino->SourceMirror.data();
  const size_t n = static_cast<size_t>(Nlr) * Ncr;
  for (size_t k = 0; k < n; k++) {
    if (source[k] < 0) {
      out_a[k] = out_b[k] = std::complex<float>();
      continue;
    }
    // A's spectrum is the Hermitian part, B's the anti-Hermitian part / i.
    const std::complex<float> z = s[source[k]], w = s[mirror[k]];
    out_a[k] = std::complex<float>(0.5f * (z.real() + w.real()), 0.5f * (z.imag() - w.imag()));
    out_b[k] = std::complex<float>(0.5f * (z.imag() + w.imag()), 0.5f * (w.real() - z.real()));
  }
}

void Radon::fft_rec_cf(ComplexImage& RadF, Image& Ima) {
  if (!Allocated || !same_size(RadF.nl(), RadF.nc(), Nlr, Ncr))
    alloc(RadF.nc(), RadF.nc(), RADON_FFT, RadF.nl(), RadF.nc());
  const LinogramTable& table = linogram_table();
  if (Ima.naxis() != 2 || !same_size(Ima.nl(), Ima.nc(), Nl, Nc)) Ima.resize(Nl, Nc);
  // A flat allocation (Nl > Nc) leaves the lines beyond the grid at 0; the
  // others are all written below.
  if (Nl > Nc) Ima.init();
  if (Verbose) {
    std::printf("RADON reconstruct: input image size = %d %d\n", RadF.nl(), RadF.nc());
    std::printf("RADON reconstruct: output image size = %d %d\n", Ima.nl(), Ima.nc());
  }
  if (RecGrid.naxis() != 2 || !same_size(RecGrid.nl(), RecGrid.nc(), Nc, Nc)) RecGrid.alloc(Nc, Nc, "spectrum");
  RecGrid.init();
  ComplexImage& grid = RecGrid;
  std::complex<float>* g = grid.buffer();
  const int half = Ncr / 2, nslot = half + 1;
  for (int i = 0; i < Nlr; i++) {
    const std::complex<float>* line = RadF.buffer() + static_cast<size_t>(i) * Ncr;
    const int* direct = table.Direct.data() + static_cast<size_t>(i) * nslot;
    const int* mirror = table.Mirror.data() + static_cast<size_t>(i) * nslot;
    for (int k = 0; k <= half; k++) {
      if (direct[k] >= 0) g[direct[k]] += line[k];
      if (mirror[k] >= 0) g[mirror[k]] += line[2 * half - k];
    }
  }
  // Points hit by several samples take their mean; a division by 1 leaves
  // the others as they are, so that the loop has no branch.
  const float* count = table.Count.data();
  float* parts = reinterpret_cast<float*>(g);
  const int points = grid.n_elem();
#pragma omp simd
  for (int k = 0; k < points; k++) {
    const float divisor = count[k] > 1.f ? count[k] : 1.f;
    parts[2 * k] /= divisor;
    parts[2 * k + 1] /= divisor;
  }
  FFT2D.CenterZeroFreq = 1;
  FFT2D.fftn2d(grid, True);
  const int nl = Nl < Nc ? Nl : Nc;
  for (int l = 0; l < nl; l++) {
    const float* in = reinterpret_cast<const float*>(&grid(l, 0));
    float* out = &Ima(l, 0);
#pragma omp simd
    for (int c = 0; c < Nc; c++) out[c] = in[2 * c];
  }
}

void Radon::fft_line(Image& Rad, ComplexImage& RadF, Bool /*Flag*/) {
  if (!same_size(Rad.nl(), Rad.nc(), Nlr, Ncr)) bad_size();
  if (RadF.naxis() != 2 || !same_size(RadF.nl(), RadF.nc(), Nlr, Ncr)) RadF.resize(Nlr, Ncr);
  LineBuffer.resize(Ncr);
  std::complex<double>* buf = LineBuffer.data();
  for (int i = 0; i < Nlr; i++) {
    const float* in = Rad.buffer() + static_cast<size_t>(i) * Ncr;
    for (int k = 0; k < Ncr; k++) buf[k] = std::complex<double>(in[k], 0.);
    FFT1D.CenterZeroFreq = 1;
    FFT1D.fftn1d(buf, Ncr, False);
    // The Fourier slant stack counts its centre twice, once per grid.
    if (RadonMethod == RADON_FFT_SLANT_STACK) buf[Ncr / 2] /= 2.;
    std::complex<float>* out = RadF.buffer() + static_cast<size_t>(i) * Ncr;
    for (int k = 0; k < Ncr; k++) out[k] = std::complex<float>(buf[k]);
  }
}

void Radon::invfft_line(ComplexImage& RadF, Image& Rad) {
  if (!same_size(RadF.nl(), RadF.nc(), Nlr, Ncr)) bad_size();
  if (Rad.naxis() != 2 || !same_size(Rad.nl(), Rad.nc(), RadF.nl(), RadF.nc())) Rad.resize(Nlr, Ncr);
  LineBuffer.resize(Ncr);
  std::complex<double>* buf = LineBuffer.data();
  for (int i = 0; i < Nlr; i++) {
    const std::complex<float>* in = RadF.buffer() + static_cast<size_t>(i) * Ncr;
    for (int k = 0; k < Ncr; k++) buf[k] = std::complex<double>(in[k]);
    if (RadonMethod == RADON_FFT_SLANT_STACK) buf[Ncr / 2] *= 2.;
    FFT1D.CenterZeroFreq = 1;
    FFT1D.fftn1d(buf, Ncr, True);
    float* out = Rad.buffer() + static_cast<size_t>(i) * Ncr;
    for (int k = 0; k < Ncr; k++) out[k] = static_cast<float>(buf[k].real());
  }
}

void Radon::fft_trans(Image& Ima, Image& Rad) {
  fft_trans_cf(Ima, LineSpectra);
  invfft_line(LineSpectra, Rad);
}

void Radon::fft_rec(Image& Rad, Image& Ima, Bool Flag) {
  if (!Allocated || !same_size(Rad.nl(), Rad.nc(), Nlr, Ncr))
    alloc(Rad.nc(), Rad.nc(), RADON_FFT, Rad.nl(), Rad.nc());
  fft_line(Rad, LineSpectra, Flag);
  fft_rec_cf(LineSpectra, Ima);
}
