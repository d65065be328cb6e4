// The 1D FFT front end. Centring around a transform rides on the copies the
// engine makes of each line; on its own it is done in place by exchanges (it
// equals the circular shift by (n+1)/2). The DCT keeps its package tables from one
// call to the next of the same length, since they depend on the length only.
#include "numerics/fftn_1d.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "numerics/fft_split_radix.h"

namespace {

template <class T>
void shift_values(const T* in, T* out, int n, int shift) {
  if (in == out) {  // reads must not see values already moved
    const std::vector<T> source(in, in + n);
    shift_values(source.data(), out, n, shift);
    return;
  }
  for (int i = 0; i < n; i++) {
    int j = i + shift;
    if (j < 0) j += n;
    if (j >= n) j -= n;
    out[i] = (j >= 0 && j < n) ? in[j] : T();
  }
}

template <class T>
void swap_values(T* data, int n, Bool reverse) {
  if (n < 2) return;  // nothing to move; a negative length is the engine's to refuse
  const int h = n / 2;
  if (!reverse && n % 2 == 1) std::rotate(data + h, data + h + 1, data + n);
  std::swap_ranges(data, data + h, data + h);
  if (reverse && n % 2 == 1) std::rotate(data + h, data + n - 1, data + n);
}

template <class Complex>
void core_transform(FFTN_1D& fft, Complex* data, int n, Bool reverse) {
  auto* values = reinterpret_cast<typename Complex::value_type*>(data);
  // Uncentre, transform, centre: the shifts done inside the transform.
  if (fft.CenterZeroFreq == 1) fft.transform_centred(values, 1, &n, reverse);
  else fft.transform1d(values, n, reverse);
}

template <class Signal>
void check_output_length(const Signal& out, int n, const char* what) {
  if (out.n_elem() < n)
    fatal_exitf(-1, stdout, "Error: %s: output holds %d values, %d are needed ...\n", what,
                out.n_elem(), n);
}

template <class Real, class Complex>
void real_to_complex(FFTN_1D& fft, const Real& signal, Complex* data, Bool reverse) {
  const int n = signal.nx();
  for (int i = 0; i < n; i++) data[i] = Complex(signal(i), 0);
  core_transform(fft, data, n, reverse);
}

template <class Complex>
void copy_then_transform(FFTN_1D& fft, const to_array<Complex, true>& in,
                         to_array<Complex, true>& out, Bool reverse) {
  const int n = in.nx();
  check_output_length(out, n, "FFTN_1D::fftn1d");
  std::copy(in.buffer(), in.buffer() + n, out.buffer());
  core_transform(fft, out.buffer(), n, reverse);
}

}  // namespace

void im1d_shift(const std::complex<float>* in, std::complex<float>* out, int n, int shift) {
  shift_values(in, out, n, shift);
}
void im1d_shift(const std::complex<double>* in, std::complex<double>* out, int n, int shift) {
  shift_values(in, out, n, shift);
}
void im1d_shift(to_array<float, true>& in, to_array<float, true>& out, int shift) {
  check_output_length(out, in.nx(), "im1d_shift");
  shift_values(in.buffer(), out.buffer(), in.nx(), shift);
}
void im1d_shift(to_array<double, true>& in, to_array<double, true>& out, int shift) {
  check_output_length(out, in.nx(), "im1d_shift");
  shift_values(in.buffer(), out.buffer(), in.nx(), shift);
}

void FFTN_1D::fftn1d(std::complex<float>* data, int n, Bool reverse) {
  core_transform(*this, data, n, reverse);
}
void FFTN_1D::fftn1d(std::complex<double>* data, int n, Bool reverse) {
  core_transform(*this, data, n, reverse);
}
void FFTN_1D::fftn1d(to_array<std::complex<float>, true>& signal, Bool reverse) {
  core_transform(*this, signal.buffer(), signal.nx(), reverse);
}
void FFTN_1D::fftn1d(to_array<std::complex<double>, true>& signal, Bool reverse) {
  core_transform(*this, signal.buffer(), signal.nx(), reverse);
}
void FFTN_1D::fftn1d(to_array<std::complex<float>, true>& in,
                     to_array<std::complex<float>, true>& out, Bool reverse) {
  copy_then_transform(*this, in, out, reverse);
}
void FFTN_1D::fftn1d(to_array<std::complex<double>, true>& in,
                     to_array<std::complex<double>, true>& out, Bool reverse) {
  copy_then_transform(*this, in, out, reverse);
}
void FFTN_1D::fftn1d(to_array<float, true>& signal, std::complex<float>* data, Bool reverse) {
  real_to_complex(*this, signal, data, reverse);
}
void FFTN_1D::fftn1d(to_array<float, true>& signal, std::complex<double>* data, Bool reverse) {
  real_to_complex(*this, signal, data, reverse);
}
void FFTN_1D::fftn1d(to_array<double, true>& signal, std::complex<double>* data, Bool reverse) {
  real_to_complex(*this, signal, data, reverse);
}

void FFTN_1D::center(std::complex<float>* data, int n) { swap_values(data, n, False); }
void FFTN_1D::center(std::complex<double>* data, int n) { swap_values(data, n, False); }
void FFTN_1D::uncenter(std::complex<float>* data, int n) { swap_values(data, n, True); }
void FFTN_1D::uncenter(std::complex<double>* data, int n) { swap_values(data, n, True); }

void FFTN_1D::swap_buff(std::complex<float>* data, int n, Bool reverse) {
  swap_values(data, n, reverse);
}
void FFTN_1D::swap_buff(std::complex<double>* data, int n, Bool reverse) {
  swap_values(data, n, reverse);
}
void FFTN_1D::swap_buff(to_array<double, true>& data, Bool reverse) {
  swap_values(data.buffer(), data.nx(), reverse);
}

void FFTN_1D::dct1d(to_array<double, true>& signal, Bool reverse) {
  const int n = signal.nx();
  // The package silently computes garbage for other lengths.
  if (n < 2 || !is_power_of_2(n))
    fatal_exitf(-1, stdout, "Error: dct1d needs a power-of-two length of at least 2, not %d ...\n",
                n);
  // The tables depend on n only: rebuilt (ip[0] = 0) only when n changes.
  const int table_size = (10 * n) / 4 - 1;
  if (DctTable.n_elem() != table_size || DctBitRev.n_elem() != 2 * n) {
    DctTable.alloc(table_size);
    DctBitRev.alloc(2 * n);
  }
  if (reverse && CenterZeroFreq == 1) swap_buff(signal, True);
  ddct(n, reverse ? -1 : 1, signal.buffer(), DctBitRev.buffer(), DctTable.buffer());
  if (!reverse && CenterZeroFreq == 1) swap_buff(signal, False);
}

void FFTN_1D::dct1d(to_array<float, true>& in, to_array<float, true>& out, Bool reverse) {
  const int n = in.nx();
  check_output_length(out, n, "FFTN_1D::dct1d");
  to_array<double, true> work(n);
  for (int i = 0; i < n; i++) work(i) = in(i);
  dct1d(work, reverse);
  for (int i = 0; i < n; i++) out(i) = static_cast<float>(work(i));
}

void FFTN_1D::convolve(to_array<float, true>& signal1, to_array<float, true>& signal2,
                       to_array<float, true>& result) {
  const int n = signal1.nx();
  if (signal2.nx() != n)
    fatal_exitf(-1, stdout,
                "Error in FFTN_1D::convolve: arrays have not the same size ... \n"
                "   Array 1: N = %d\n"
                "   Array 2: N = %d\n",
                n, signal2.nx());
  if (result.nx() != n || result.naxis() != 1) result.reform(n);
  std::vector<std::complex<double>> spectrum1(n), spectrum2(n);
  fftn1d(signal1, spectrum1.data());
  fftn1d(signal2, spectrum2.data());
  for (int i = 0; i < n; i++) spectrum1[i] *= spectrum2[i];
  fftn1d(spectrum1.data(), n, True);
  for (int i = 0; i < n; i++) result(i) = static_cast<float>(spectrum1[i].real());
}
