// Radix-2 FFT, real FFT and DCT-II on single-precision vectors indexed from 1,
// and the 2D image DCT built on them. Twiddles are carried in double and
// advanced by recurrence, one sine evaluation per stage.
#include "numerics/im_dct.h"

#include <cmath>
#include <utility>
#include <vector>

#include "array/fatal.h"
#include "array/scalar_helpers.h"

namespace {

constexpr double Pi = 3.14159265358979323846;

// Advances the twiddle (wr, wi) by the angle whose (cos - 1, sin) is (wpr, wpi).
inline void advance_twiddle(double& wr, double& wi, double wpr, double wpi) {
  const double wr_old = wr;
  wr = wr + wr * wpr - wi * wpi;
  wi = wi + wi * wpr + wr_old * wpi;
}

}  // namespace

void four1(float* data, unsigned long nn, int isign) {
  const unsigned long n = nn << 1;
  // Bit reversal of the nn complex values.
  unsigned long j = 1;
  for (unsigned long i = 1; i < n; i += 2) {
    if (j > i) {
      std::swap(data[j], data[i]);
      std::swap(data[j + 1], data[i + 1]);
    }
    unsigned long m = nn;
    while (m >= 2 && j > m) {
      j -= m;
      m >>= 1;
    }
    j += m;
  }
  // Danielson-Lanczos stages.
  unsigned long mmax = 2;
  while (n > mmax) {
    const unsigned long istep = mmax << 1;
    const double theta = isign * (6.28318530717959 / mmax);
    const double half_sin = std::sin(0.5 * theta);
    const double wpr = -2.0 * half_sin * half_sin;
    const double wpi = std::sin(theta);
    double wr = 1.0, wi = 0.0;
    for (unsigned long m = 1; m < mmax; m += 2) {
      for (unsigned long i = m; i <= n; i += istep) {
        const unsigned long k = i + mmax;
        const float tempr = static_cast<float>(wr * data[k] - wi * data[k + 1]);
        const float tempi = static_cast<float>(wr * data[k + 1] + wi * data[k]);
        data[k] = data[i] - tempr;
        data[k + 1] = data[i + 1] - tempi;
        data[i] += tempr;
        data[i + 1] += tempi;
      }
      advance_twiddle(wr, wi, wpr, wpi);
    }
    mmax = istep;
  }
}

void realft(float* data, unsigned long n, int isign) {
  const float c1 = 0.5f;
  float c2;
  double theta = Pi / static_cast<double>(n >> 1);
  if (isign == 1) {
    c2 = -0.5f;
    four1(data, n >> 1, 1);
  } else {
    c2 = 0.5f;
    theta = -theta;
  }
  const double half_sin = std::sin(0.5 * theta);
  const double wpr = -2.0 * half_sin * half_sin;
  const double wpi = std::sin(theta);
  double wr = 1.0 + wpr;
  double wi = wpi;
  const unsigned long np3 = n + 3;
  for (unsigned long i = 2; i <= (n >> 2); i++) {
    const unsigned long i1 = i + i - 1, i2 = i1 + 1, i3 = np3 - i2, i4 = i3 + 1;
    const float h1r = c1 * (data[i1] + data[i3]);
    const float h1i = c1 * (data[i2] - data[i4]);
    const float h2r = -c2 * (data[i2] + data[i4]);
    const float h2i = c2 * (data[i1] - data[i3]);
    data[i1] = static_cast<float>(h1r + wr * h2r - wi * h2i);
    data[i2] = static_cast<float>(h1i + wr * h2i + wi * h2r);
    data[i3] = static_cast<float>(h1r - wr * h2r + wi * h2i);
    data[i4] = static_cast<float>(-h1i + wr * h2i + wi * h2r);
    advance_twiddle(wr, wi, wpr, wpi);
  }
  const float first = data[1];
  if (isign == 1) {
    data[1] = first + data[2];
    data[2] = first - data[2];
  } else {
    data[1] = c1 * (first + data[2]);
    data[2] = c1 * (first - data[2]);
    four1(data, n >> 1, -1);
  }
}

void cosft2(float* y, int n, int isign) {
  const double theta = 0.5 * Pi / n;
  // Twiddle at the odd multiples of theta, and at the multiples of 2 theta.
  double wr1 = std::cos(theta), wi1 = std::sin(theta);
  double wr = 1.0, wi = 0.0;
  const double wpr = -2.0 * wi1 * wi1;
  const double wpi = std::sin(2.0 * theta);
  if (isign == 1) {
    for (int i = 1; i <= n / 2; i++) {
      const float y1 = 0.5f * (y[i] + y[n - i + 1]);
      const float y2 = static_cast<float>(wi1 * (y[i] - y[n - i + 1]));
      y[i] = y1 + y2;
      y[n - i + 1] = y1 - y2;
      advance_twiddle(wr1, wi1, wpr, wpi);
    }
    realft(y, n, 1);
    for (int i = 3; i <= n; i += 2) {
      advance_twiddle(wr, wi, wpr, wpi);
      const float y1 = static_cast<float>(y[i] * wr - y[i + 1] * wi);
      const float y2 = static_cast<float>(y[i + 1] * wr + y[i] * wi);
      y[i] = y1;
      y[i + 1] = y2;
    }
    float sum = 0.5f * y[2];
    for (int i = n; i >= 2; i -= 2) {
      const float previous = sum;
      sum += y[i];
      y[i] = previous;
    }
  } else if (isign == -1) {
    const float ytemp = y[n];
    for (int i = n; i >= 4; i -= 2) y[i] = y[i - 2] - y[i];
    y[2] = 2.0f * ytemp;
    for (int i = 3; i <= n; i += 2) {
      advance_twiddle(wr, wi, wpr, wpi);
      const float y1 = static_cast<float>(y[i] * wr + y[i + 1] * wi);
      const float y2 = static_cast<float>(y[i + 1] * wr - y[i] * wi);
      y[i] = y1;
      y[i + 1] = y2;
    }
    realft(y, n, -1);
    for (int i = 1; i <= n / 2; i++) {
      const float y1 = y[i] + y[n - i + 1];
      const float y2 = static_cast<float>((0.5 / wi1) * (y[i] - y[n - i + 1]));
      y[i] = 0.5f * (y1 + y2);
      y[n - i + 1] = 0.5f * (y1 - y2);
      advance_twiddle(wr1, wi1, wpr, wpi);
    }
  }
}

bool dct_side_ok(int n) { return n >= DctMinSide && is_power_of_2(n) == True; }

void dct2d_in_place(float* data, int nl, int nc, Bool reverse, float* column_work) {
  const int isign = reverse ? -1 : 1;
  auto transform_lines = [&]() {
    for (int i = 0; i < nl; i++) cosft2(data + static_cast<int64_t>(i) * nc - 1, nc, isign);
  };
  auto transform_columns = [&]() {
    for (int j = 0; j < nc; j++) {
      for (int i = 0; i < nl; i++) column_work[i] = data[static_cast<int64_t>(i) * nc + j];
      cosft2(column_work - 1, nl, isign);
      for (int i = 0; i < nl; i++) data[static_cast<int64_t>(i) * nc + j] = column_work[i];
    }
  };
  if (reverse) {
    transform_columns();
    transform_lines();
  } else {
    transform_lines();
    transform_columns();
  }
  // 2/N for square images; the geometric mean of the sides keeps the
  // inverse exact for rectangular ones.
  const float scale = static_cast<float>(2.0 / std::sqrt(static_cast<double>(nl) * nc));
  const int64_t count = static_cast<int64_t>(nl) * nc;
  for (int64_t k = 0; k < count; k++) data[k] *= scale;
}

void im_dct(to_array<float, false>& in, to_array<float, false>& out, Bool Reverse) {
  const int nl = in.nl(), nc = in.nc();
  if (!dct_side_ok(nl) || !dct_side_ok(nc))
    fatal_exitf(-1, stdout,
                "Error in im_dct: image sides must be powers of two of at least %d ... \n"
                "       Image size is: Nl = %d Nc = %d\n",
                DctMinSide, nl, nc);
  out = in;
  std::vector<float> column(nl);
  dct2d_in_place(out.buffer(), nl, nc, Reverse, column.data());
}
