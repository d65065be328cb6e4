// The 2D FFT front end: engine choice by image size, centring and
// convolutions. Around a mixed-radix transform the centring rides on the
// copies the engine makes of each line; on its own it is done by quadrant
// exchange in place (it equals the shift by ((Nc+1)/2, (Nl+1)/2) for odd and
// even sizes), without a temporary image.
#include "numerics/fftn_2d.h"

#include <algorithm>
#include <vector>

#include "array/fatal.h"
#include "array/scalar_helpers.h"
#include "numerics/fft_radix2.h"

namespace {

using Icf = to_array<std::complex<float>, false>;

template <class T>
void shift_image(const to_array<T, false>& in, to_array<T, false>& out, int dx, int dy) {
  if (&in == &out) {  // reads must not see values already moved
    const to_array<T, false> source(in);
    shift_image(source, out, dx, dy);
    return;
  }
  const int nl = in.nl(), nc = in.nc();
  if (out.nl() != nl || out.nc() != nc || out.naxis() != 2) out.resize(nl, nc);
  const T* src = in.buffer();
  T* dst = out.buffer();
  for (int i = 0; i < nl; i++) {
    int y = i + dy;
    if (y < 0) y += nl;
    if (y >= nl) y -= nl;
    T* line = dst + static_cast<long>(i) * nc;
    if (y < 0 || y >= nl) {
      std::fill(line, line + nc, T());
      continue;
    }
    const T* from = src + static_cast<long>(y) * nc;
    if (dx >= -nc && dx <= nc) {
      // Within one period the shift is a rotation of the line: two copies.
      const int start = dx < 0 ? dx + nc : (dx == nc ? 0 : dx);
      std::copy(from + start, from + nc, line);
      std::copy(from, from + start, line + (nc - start));
      continue;
    }
    for (int j = 0; j < nc; j++) {
      int x = j + dx;
      if (x < 0) x += nc;
      if (x >= nc) x -= nc;
      line[j] = (x >= 0 && x < nc) ? from[x] : T();
    }
  }
}

[[noreturn]] void size_mismatch(int nl1, int nc1, int nl2, int nc2) {
  fatal_exitf(-1, stdout,
              "Error in FFTN_2D::convolve: images have not the same size ... \n"
              "   Ima 1: Nl = %d Nc = %d\n"
              "   Ima 2: Nl = %d Nc = %d\n",
              nl1, nc1, nl2, nc2);
}

// a *= b (or conj(b)), value by value.
void multiply_spectra(Icf& a, const Icf& b, bool conjugate) {
  const long n = a.n_elem();
  float* pa = reinterpret_cast<float*>(a.buffer());
  const float* pb = reinterpret_cast<const float*>(b.buffer());
  const float sign = conjugate ? -1.f : 1.f;
  for (long k = 0; k < n; k++) {
    const float ar = pa[2 * k], ai = pa[2 * k + 1];
    const float br = pb[2 * k], bi = sign * pb[2 * k + 1];
    pa[2 * k] = ar * br - ai * bi;
    pa[2 * k + 1] = ar * bi + ai * br;
  }
}

void real_part(const Icf& spectrum, to_array<float, false>& result) {
  const long n = spectrum.n_elem();
  const std::complex<float>* s = spectrum.buffer();
  float* r = result.buffer();
  for (long k = 0; k < n; k++) r[k] = s[k].real();
}

void prepare_result(to_array<float, false>& result, int nl, int nc) {
  if (result.nl() != nl || result.nc() != nc || result.naxis() != 2)
    result.alloc(nl, nc, "convol");
}

// Image 1 convolved with a kernel given by its spectrum (or its conjugate).
void convolve_spectrum(FFTN_2D& fft, to_array<float, false>& image1, Icf& spectrum,
                       to_array<float, false>& result, bool conjugate) {
  const int nl = image1.nl(), nc = image1.nc();
  if (spectrum.nl() != nl || spectrum.nc() != nc)
    size_mismatch(nl, nc, spectrum.nl(), spectrum.nc());
  Icf buffer1(nl, nc, "Buffer1 conv");
  fft.fftn2d(image1, buffer1);
  multiply_spectra(buffer1, spectrum, conjugate);
  fft.ifftn2d(buffer1);
  prepare_result(result, nl, nc);
  real_part(buffer1, result);
}

// Centring (reverse false) or uncentring in place: the shift by
// ((Nc+1)/2, (Nl+1)/2) done by exchanges, with the odd middle line and
// column rotated out of the way first (or back after).
template <class T>
void quadrant_swap(to_array<T, false>& data, Bool reverse) {
  const int nl = data.nl(), nc = data.nc();
  const int h = nl / 2, w = nc / 2;
  T* buf = data.buffer();
  auto line = [&](int i) { return buf + static_cast<long>(i) * nc; };
  if (!reverse) {
    if (nc % 2 == 1)
      for (int i = 0; i < nl; i++) std::rotate(line(i) + w, line(i) + w + 1, line(i) + nc);
    if (nl % 2 == 1) std::rotate(line(h), line(h + 1), line(nl));
  }
  for (int i = 0; i < h; i++) {
    std::swap_ranges(line(i), line(i) + w, line(h + i) + w);
    std::swap_ranges(line(h + i), line(h + i) + w, line(i) + w);
  }
  // With an odd side the last column (line) lies outside the quadrants but
  // still takes part in the exchange of lines (columns); the corner stays.
  if (nc % 2 == 1)
    for (int i = 0; i < h; i++) std::swap(line(i)[nc - 1], line(h + i)[nc - 1]);
  if (nl % 2 == 1) std::swap_ranges(line(nl - 1), line(nl - 1) + w, line(nl - 1) + w);
  if (reverse) {
    if (nl % 2 == 1) std::rotate(line(h), line(nl - 1), line(nl));
    if (nc % 2 == 1)
      for (int i = 0; i < nl; i++) std::rotate(line(i) + w, line(i) + nc - 1, line(i) + nc);
  }
}

}  // namespace

void im_shift(to_array<float, false>& in, to_array<float, false>& out, int dx, int dy) {
  shift_image(in, out, dx, dy);
}
void im_shift(Icf& in, Icf& out, int dx, int dy) { shift_image(in, out, dx, dy); }

void FFTN_2D::center(to_array<float, false>& image) { quadrant_swap(image, False); }
void FFTN_2D::uncenter(to_array<float, false>& image) { quadrant_swap(image, True); }
void FFTN_2D::center(Icf& image) { swap_buff(image, False); }
void FFTN_2D::uncenter(Icf& image) { swap_buff(image, True); }

void FFTN_2D::swap_buff(Icf& data, Bool reverse) { quadrant_swap(data, reverse); }

void FFTN_2D::fftn2d(Icf& data, Bool inverse) {
  const int nl = data.nl(), nc = data.nc();
  if (nl == nc && is_power_of_2(nl) && is_power_of_2(nc)) {
    // The radix-2 engine is natively centred.
    if (inverse && CenterZeroFreq == 0) swap_buff(data, True);
    fft2d(data, inverse ? -1 : 1);
    if (!inverse && CenterZeroFreq == 0) swap_buff(data, False);
    return;
  }
  float* values = reinterpret_cast<float*>(data.buffer());
  if (CenterZeroFreq == 1) {
    // uncenter, transform, center: the shifts done inside the transform.
    const int dims[2] = {nc, nl};
    transform_centred(values, 2, dims, inverse);
  } else {
    transform2d(values, nc, nl, inverse);
  }
}

void FFTN_2D::fftn2d(to_array<float, false>& image, Icf& result, Bool inverse) {
  const int nl = image.nl(), nc = image.nc();
  if (result.nl() != nl || result.nc() != nc || result.naxis() != 2)
    fatal_exitf(-1, stdout,
                "Error: FFTN_2D::fftn2d: result is %dx%d, the image %dx%d ...\n",
                result.nl(), result.nc(), nl, nc);
  const float* src = image.buffer();
  std::complex<float>* dst = result.buffer();
  const long n = static_cast<long>(nl) * nc;
  for (long k = 0; k < n; k++) dst[k] = std::complex<float>(src[k], 0.f);
  fftn2d(result, inverse);
}

void FFTN_2D::convolve(to_array<float, false>& image1, to_array<float, false>& image2,
                       to_array<float, false>& result) {
  const int nl = image1.nl(), nc = image1.nc();
  if (image2.nl() != nl || image2.nc() != nc) size_mismatch(nl, nc, image2.nl(), image2.nc());
  Icf buffer1(nl, nc, "Buffer1 conv");
  fftn2d(image1, buffer1);
  {
    Icf buffer2(nl, nc, "Buffer2 conv");
    fftn2d(image2, buffer2);
    multiply_spectra(buffer1, buffer2, false);
  }
  ifftn2d(buffer1);
  prepare_result(result, nl, nc);
  real_part(buffer1, result);
}

void FFTN_2D::convolve(to_array<float, false>& image1, Icf& spectrum,
                       to_array<float, false>& result) {
  convolve_spectrum(*this, image1, spectrum, result, false);
}

void FFTN_2D::convolve_conj(to_array<float, false>& image1, Icf& spectrum,
                            to_array<float, false>& result) {
  convolve_spectrum(*this, image1, spectrum, result, true);
}
