// Resizing, extension and extraction of images. Sizes are differences of
// the two images' sizes halved toward zero, so odd differences put the extra
// pixel at the end.
#include "array/im_resize.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "array/border.h"
#include "array/border_index.h"
#include "array/fatal.h"

namespace {

// Half-sample interpolation filter: coefficient k weights the sample at
// offset k-4 from the left neighbour of the new point. Its sum is 0.99999995.
const float Tab_Coef_Inter[10] = {0.002446477f, -0.009136843f, 0.03409091f, -0.1270171f,
                                  0.5996165f,   0.5996165f,    -0.1270171f, 0.03409091f,
                                  -0.009136843f, 0.002446477f};

template <class T>
void check_2d(const to_array<T, false>& im) {
  if (im.naxis() != 2)
    array_detail::naxis_error(im.naxis(), " and a two dim array is expected ...");
}

template <class A, class B>
void check_pair(const to_array<A, false>& in, const to_array<B, false>& out) {
  check_2d(in);
  check_2d(out);
}

template <class In, class Out, class Convert>
void extract_window(const to_array<In, false>& in, to_array<Out, false>& out, Convert convert) {
  check_pair(in, out);
  // A larger output would read outside the input.
  if (out.nl() > in.nl() || out.nc() > in.nc())
    fatal_exitf(-1, stdout,
                "Error in im_extract: output image %dx%d is larger than input %dx%d ...\n",
                out.nl(), out.nc(), in.nl(), in.nc());
  const int dl = (in.nl() - out.nl()) / 2;
  const int dc = (in.nc() - out.nc()) / 2;
  for (int i = 0; i < out.nl(); i++) {
    const In* src = in.buffer() + static_cast<std::ptrdiff_t>(i + dl) * in.nc() + dc;
    Out* dst = out.buffer() + static_cast<std::ptrdiff_t>(i) * out.nc();
    for (int j = 0; j < out.nc(); j++) dst[j] = convert(src[j]);
  }
}

template <class In, class Out>
void zero_pad(const to_array<In, false>& in, to_array<Out, false>& out) {
  check_pair(in, out);
  const int dl = (out.nl() - in.nl()) / 2;
  const int dc = (out.nc() - in.nc()) / 2;
  for (int i = 0; i < out.nl(); i++) {
    const int k = i - dl;
    Out* dst = out.buffer() + static_cast<std::ptrdiff_t>(i) * out.nc();
    for (int j = 0; j < out.nc(); j++) {
      const int l = j - dc;
      dst[j] = (k >= 0 && k < in.nl() && l >= 0 && l < in.nc()) ? Out(in(k, l)) : Out();
    }
  }
}

template <class In, class Out>
void mirror_extend(const to_array<In, false>& in, to_array<Out, false>& out) {
  check_pair(in, out);
  const int dl = (out.nl() - in.nl()) / 2;
  const int dc = (out.nc() - in.nc()) / 2;
  std::vector<int> column(out.nc());
  for (int j = 0; j < out.nc(); j++) column[j] = test_ind(j - dc, in.nc());
  for (int i = 0; i < out.nl(); i++) {
    const int k = test_ind(i - dl, in.nl());
    Out* dst = out.buffer() + static_cast<std::ptrdiff_t>(i) * out.nc();
    if (k < 0) {
      std::fill(dst, dst + out.nc(), Out());
      continue;
    }
    const In* src = in.buffer() + static_cast<std::ptrdiff_t>(k) * in.nc();
    for (int j = 0; j < out.nc(); j++) dst[j] = column[j] < 0 ? Out() : Out(src[column[j]]);
  }
}

template <class T>
void reduce_2(const to_array<T, false>& in, to_array<T, false>& out) {
  check_pair(in, out);
  for (int i = 0; i < out.nl(); i++) {
    const int k = test_index_cont(2 * i, in.nl());
    const T* src = in.buffer() + static_cast<std::ptrdiff_t>(k) * in.nc();
    T* dst = out.buffer() + static_cast<std::ptrdiff_t>(i) * out.nc();
    for (int j = 0; j < out.nc(); j++) dst[j] = src[test_index_cont(2 * j, in.nc())];
  }
}

// The four passes of the interpolation by two, into a float image `out` of
// the target size. Even lines and columns take the input, the other points
// the 10-tap filter along lines (pass 2), along columns (pass 3) and, for odd
// lines and odd columns, along the odd lines of pass 3 (pass 4).
template <class T>
void increase_size_2(const to_array<T, false>& in, to_array<float, false>& out,
                     type_border border) {
  const int nl = in.nl(), nc = in.nc();
  const int out_nl = out.nl(), out_nc = out.nc();
  const T* src = in.buffer();
  float* dst = out.buffer();
  auto out_row = [&](int line) { return dst + static_cast<std::ptrdiff_t>(line) * out_nc; };

  // Pass 1.
  for (int i = 0; i < nl && 2 * i < out_nl; i++) {
    const T* row = src + static_cast<std::ptrdiff_t>(i) * nc;
    float* o = out_row(2 * i);
    for (int j = 0; j < nc && 2 * j < out_nc; j++) o[2 * j] = static_cast<float>(row[j]);
  }

  // Pass 2: along each line of the input.
  for (int i = 0; i < nl && 2 * i < out_nl; i++) {
    const T* row = src + static_cast<std::ptrdiff_t>(i) * nc;
    float* o = out_row(2 * i);
    for (int j = 0; j < nc && 2 * j + 1 < out_nc; j++) {
      float sum = 0.f;
      if (j >= 4 && j + 5 < nc) {
        for (int k = 0; k < 10; k++) sum += Tab_Coef_Inter[k] * static_cast<float>(row[j + k - 4]);
      } else {
        for (int k = 0; k < 10; k++) {
          int l = border_index(j + k - 4, nc, border);
          sum += Tab_Coef_Inter[k] * (l < 0 ? 0.f : static_cast<float>(row[l]));
        }
      }
      o[2 * j + 1] = sum;
    }
  }

  // Pass 3: along columns, whole input lines at a time.
  std::vector<float> line(nc);
  for (int i = 0; i < nl && 2 * i + 1 < out_nl; i++) {
    std::fill(line.begin(), line.end(), 0.f);
    for (int k = 0; k < 10; k++) {
      int m = border_index(i + k - 4, nl, border);
      if (m < 0) continue;  // a zero term leaves the sum as it is
      const T* row = src + static_cast<std::ptrdiff_t>(m) * nc;
      for (int j = 0; j < nc; j++) line[j] += Tab_Coef_Inter[k] * static_cast<float>(row[j]);
    }
    float* o = out_row(2 * i + 1);
    for (int j = 0; j < nc && 2 * j < out_nc; j++) o[2 * j] = line[j];
  }

  // Pass 4: along the odd lines, reading the output's even columns. Under the
  // clamp rule a column past the end takes the last even column, not the
  // last column, which is odd for an even width and not yet filled. For the
  // same reason the periodic rule wraps over the even columns only: wrapping
  // over an odd width would land on odd columns.
  const int last_even = out_nc % 2 == 0 ? out_nc - 2 : out_nc - 1;
  const int n_even = (out_nc + 1) / 2;
  auto column = [&](int c) -> int {
    if (c >= 0 && c < out_nc) return c;
    if (border == I_CONT) return c < 0 ? 0 : std::max(last_even, 0);
    if (border == I_PERIOD) return 2 * test_index_period(c / 2, n_even);
    return border_index(c, out_nc, border);
  };
  for (int i = 0; i < nl && 2 * i + 1 < out_nl; i++) {
    float* o = out_row(2 * i + 1);
    for (int j = 0; j < nc && 2 * j + 1 < out_nc; j++) {
      float sum = 0.f;
      if (j >= 4 && 2 * (j + 5) < out_nc) {
        for (int k = 0; k < 10; k++) sum += Tab_Coef_Inter[k] * o[2 * (j + k - 4)];
      } else {
        for (int k = 0; k < 10; k++) {
          int c = column(2 * (j + k - 4));
          sum += Tab_Coef_Inter[k] * (c < 0 ? 0.f : o[c]);
        }
      }
      o[2 * j + 1] = sum;
    }
  }
}

}  // namespace

int test_ind(int i, int n) {
  int k = i;
  if (k < 0) k = -k;
  else if (k >= n) k = 2 * n - k - 2;
  return (k < 0 || k >= n) ? -1 : k;
}

void im_extract(const to_array<float, false>& in, to_array<float, false>& out) {
  extract_window(in, out, [](float v) { return v; });
}

void im_extract(const to_array<std::complex<float>, false>& in,
                to_array<std::complex<float>, false>& out) {
  extract_window(in, out, [](std::complex<float> v) { return v; });
}

void im_extract(const to_array<std::complex<float>, false>& in, to_array<float, false>& out,
                float divisor) {
  extract_window(in, out, [divisor](std::complex<float> v) { return v.real() / divisor; });
}

void im_zero_padding(const to_array<float, false>& in, to_array<float, false>& out) {
  zero_pad(in, out);
}

void im_zero_padding(const to_array<float, false>& in,
                     to_array<std::complex<float>, false>& out) {
  zero_pad(in, out);
}

void im_extend(const to_array<float, false>& in, to_array<float, false>& out) {
  mirror_extend(in, out);
}

void im_extend(const to_array<float, false>& in, to_array<std::complex<float>, false>& out) {
  mirror_extend(in, out);
}

void im_extend(const to_array<std::complex<float>, false>& in,
               to_array<std::complex<float>, false>& out) {
  mirror_extend(in, out);
}

void im_extend(const to_array<int, false>& in, to_array<int, false>& out) {
  mirror_extend(in, out);
}

void im_block_extend(const to_array<float, false>& in, to_array<float, false>& out) {
  check_pair(in, out);
  const float ratio_l = static_cast<float>(out.nl()) / static_cast<float>(in.nl());
  const float ratio_c = static_cast<float>(out.nc()) / static_cast<float>(in.nc());
  // Rounding of the single-precision quotient must not step past the last
  // input pixel.
  std::vector<int> column(out.nc());
  for (int j = 0; j < out.nc(); j++)
    column[j] = std::min(static_cast<int>(static_cast<float>(j) / ratio_c), in.nc() - 1);
  for (int i = 0; i < out.nl(); i++) {
    const int k = std::min(static_cast<int>(static_cast<float>(i) / ratio_l), in.nl() - 1);
    const float* src = in.buffer() + static_cast<std::ptrdiff_t>(k) * in.nc();
    float* dst = out.buffer() + static_cast<std::ptrdiff_t>(i) * out.nc();
    for (int j = 0; j < out.nc(); j++) dst[j] = src[column[j]];
  }
}

void im_reduce_size_2(const to_array<float, false>& in, to_array<float, false>& out) {
  reduce_2(in, out);
}

void im_reduce_size_2(const to_array<int, false>& in, to_array<int, false>& out) {
  reduce_2(in, out);
}

void im_min_reduce_size_2(const to_array<float, false>& in, to_array<float, false>& out) {
  check_pair(in, out);
  const int nl = in.nl(), nc = in.nc();
  // One output pixel per even input position: a smaller output would be
  // written past its end.
  if (out.nl() < (nl + 1) / 2 || out.nc() < (nc + 1) / 2)
    fatal_exitf(-1, stdout,
                "Error in im_min_reduce_size_2: output image %dx%d is smaller than %dx%d ...\n",
                out.nl(), out.nc(), (nl + 1) / 2, (nc + 1) / 2);
  for (int i = 0; i < nl; i += 2) {
    const float* row = in.buffer() + static_cast<std::ptrdiff_t>(i) * nc;
    const float* up = in.buffer() + static_cast<std::ptrdiff_t>(test_index_cont(i - 1, nl)) * nc;
    const float* down = in.buffer() + static_cast<std::ptrdiff_t>(test_index_cont(i + 1, nl)) * nc;
    float* dst = out.buffer() + static_cast<std::ptrdiff_t>(i / 2) * out.nc();
    for (int j = 0; j < nc; j += 2) {
      float value = row[j];
      value = std::min(value, up[j]);
      value = std::min(value, down[j]);
      value = std::min(value, row[test_index_cont(j - 1, nc)]);
      value = std::min(value, row[test_index_cont(j + 1, nc)]);
      dst[j / 2] = value;
    }
  }
}

void im_increase_size_2(const to_array<float, false>& in, to_array<float, false>& out,
                        type_border border) {
  check_pair(in, out);
  border_index(-1, 1, border);  // refuses an unknown rule before any pixel is written
  increase_size_2(in, out, border);
}

void im_increase_size_2(const to_array<int, false>& in, to_array<int, false>& out,
                        type_border border) {
  check_pair(in, out);
  border_index(-1, 1, border);
  to_array<float, false> work(out.nl(), out.nc(), "Buff interpol");
  increase_size_2(in, work, border);
  const float* src = work.buffer();
  int* dst = out.buffer();
  for (int k = 0; k < out.n_elem(); k++) dst[k] = static_cast<int>(src[k]);
}

void im_bilinear_interp(const to_array<float, false>& in, to_array<float, false>& out) {
  check_pair(in, out);
  const int nl = in.nl(), nc = in.nc();
  const int out_nl = out.nl(), out_nc = out.nc();
  // The sample positions divide by Nl-1 and Nc-1.
  if (nl < 2 || nc < 2 || out_nl < 1 || out_nc < 1)
    fatal_exitf(-1, stdout,
                "Error in im_bilinear_interp: input %dx%d must be at least 2x2 and output %dx%d "
                "not empty ...\n",
                nl, nc, out_nl, out_nc);
  std::vector<int> pl(nl), pc(nc);
  for (int i = 0; i < nl; i++) pl[i] = static_cast<int>(int64_t(out_nl - 1) * i / (nl - 1));
  for (int j = 0; j < nc; j++) pc[j] = static_cast<int>(int64_t(out_nc - 1) * j / (nc - 1));

  for (int i = 0; i < nl; i++)
    for (int j = 0; j < nc; j++) out(pl[i], pc[j]) = in(i, j);

  for (int i = 0; i < nl; i++) {
    float* row = out.buffer() + static_cast<std::ptrdiff_t>(pl[i]) * out_nc;
    for (int j = 0; j + 1 < nc; j++) {
      const int c0 = pc[j], c1 = pc[j + 1];
      const float y0 = row[c0], y1 = row[c1];
      for (int c = c0; c < c1; c++)
        row[c] = y0 + static_cast<float>(c - c0) * ((y1 - y0) / static_cast<float>(c1 - c0));
    }
  }

  for (int i = 0; i + 1 < nl; i++) {
    const int l0 = pl[i], l1 = pl[i + 1];
    const float* row0 = out.buffer() + static_cast<std::ptrdiff_t>(l0) * out_nc;
    const float* row1 = out.buffer() + static_cast<std::ptrdiff_t>(l1) * out_nc;
    for (int l = l0; l < l1; l++) {
      float* row = out.buffer() + static_cast<std::ptrdiff_t>(l) * out_nc;
      const float t = static_cast<float>(l - l0);
      for (int c = 0; c < out_nc; c++)
        row[c] = row0[c] + t * ((row1[c] - row0[c]) / static_cast<float>(l1 - l0));
    }
  }
}
