// Spline prefilter (causal and anticausal recursions per pole, exact initial
// values for mirror boundaries), interpolation kernels of degree 2 to 5 and
// resampling under rotation and shift.
#include "numerics/bspline.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

#include "array/fatal.h"

namespace {

constexpr int MaxPoles = 2;
constexpr int MaxDegree = BsplineMaxWindow - 1;

// Poles of the interpolation filter of a degree; 0 poles for a degree outside 2..5.
int spline_poles(int degree, double poles[MaxPoles]) {
  switch (degree) {
    case 2:
      poles[0] = std::sqrt(8.0) - 3.0;
      return 1;
    case 3:
      poles[0] = std::sqrt(3.0) - 2.0;
      return 1;
    case 4:
      poles[0] = std::sqrt(664.0 - std::sqrt(438976.0)) + std::sqrt(304.0) - 19.0;
      poles[1] = std::sqrt(664.0 + std::sqrt(438976.0)) - std::sqrt(304.0) - 19.0;
      return 2;
    case 5:
      poles[0] = std::sqrt(67.5 - std::sqrt(4436.25)) + std::sqrt(26.25) - 6.5;
      poles[1] = std::sqrt(67.5 + std::sqrt(4436.25)) - std::sqrt(26.25) - 6.5;
      return 2;
    default:
      return 0;
  }
}

// Kernel weights of the degree + 1 window samples for the distance w to the
// reference sample of the window. False for a degree outside 2..5.
bool kernel_weights(int degree, double w, double weights[MaxDegree + 1]) {
  switch (degree) {
    case 2:
      weights[1] = 3.0 / 4.0 - w * w;
      weights[2] = (1.0 / 2.0) * (w - weights[1] + 1.0);
      weights[0] = 1.0 - weights[1] - weights[2];
      return true;
    case 3:
      weights[3] = (1.0 / 6.0) * w * w * w;
      weights[0] = (1.0 / 6.0) + (1.0 / 2.0) * w * (w - 1.0) - weights[3];
      weights[2] = w + weights[0] - 2.0 * weights[3];
      weights[1] = 1.0 - weights[0] - weights[2] - weights[3];
      return true;
    case 4: {
      const double w2 = w * w;
      const double t = (1.0 / 6.0) * w2;
      double w0 = 1.0 / 2.0 - w;
      w0 *= w0;
      weights[0] = (1.0 / 24.0) * w0 * w0;
      const double t0 = w * (t - 11.0 / 24.0);
      const double t1 = 19.0 / 96.0 + w2 * (1.0 / 4.0 - t);
      weights[1] = t1 + t0;
      weights[3] = t1 - t0;
      weights[4] = weights[0] + t0 + (1.0 / 2.0) * w;
      weights[2] = 1.0 - weights[0] - weights[1] - weights[3] - weights[4];
      return true;
    }
    case 5: {
      double w2 = w * w;
      weights[5] = (1.0 / 120.0) * w * w2 * w2;
      w2 -= w;
      const double w4 = w2 * w2;
      w -= 1.0 / 2.0;
      const double t = w2 * (w2 - 3.0);
      weights[0] = (1.0 / 24.0) * (1.0 / 5.0 + w2 + w4) - weights[5];
      double t0 = (1.0 / 24.0) * (w2 * (w2 - 5.0) + 46.0 / 5.0);
      double t1 = (-1.0 / 12.0) * w * (t + 4.0);
      weights[2] = t0 + t1;
      weights[3] = t0 - t1;
      t0 = (1.0 / 16.0) * (9.0 / 5.0 - t);
      t1 = (1.0 / 24.0) * w * (w4 - w2 - 5.0);
      weights[1] = t0 + t1;
      weights[4] = t0 - t1;
      return true;
    }
    default:
      return false;
  }
}

// Index of the window on an axis of length, mirrored about the edge samples
// (-1 reads 1, length reads length - 2) with period 2·length - 2.
long mirror_index(long i, long length) {
  if (length == 1) return 0;
  const long period = 2 * length - 2;
  i = i < 0 ? -i - period * ((-i) / period) : i - period * (i / period);
  return i >= length ? period - i : i;
}

}  // namespace

bool bspline_window(int degree, double x, long length, long index[BsplineMaxWindow],
                   double weights[BsplineMaxWindow]) {
  const long first = (degree & 1) ? static_cast<long>(std::floor(x)) - degree / 2
                                  : static_cast<long>(std::floor(x + 0.5)) - degree / 2;
  // Distance to the window sample the kernels are written for.
  const long reference = first + (degree <= 3 ? 1 : 2);
  if (!kernel_weights(degree, x - static_cast<double>(reference), weights)) return false;
  for (int k = 0; k <= degree; k++) index[k] = mirror_index(first + k, length);
  return true;
}

int BSPLINE_DEC::SamplesToCoefficients(float* Image, int Width, int Height) {
  double poles[MaxPoles];
  const int nb_poles = spline_poles(SplineDegree, poles);
  if (nb_poles == 0) {
    std::printf("Invalid spline degree\n");
    return 1;
  }
  std::unique_ptr<double[]> line(new (std::nothrow) double[Width > 0 ? Width : 1]);
  if (!line) {
    std::printf("Row allocation failed\n");
    return 1;
  }
  for (long y = 0; y < Height; y++) {
    GetRow(Image, y, line.get(), Width);
    ConvertToInterpolationCoefficients(line.get(), Width, poles, nb_poles, 0.0);
    PutRow(Image, y, line.get(), Width);
  }
  line.reset();
  std::unique_ptr<double[]> column(new (std::nothrow) double[Height > 0 ? Height : 1]);
  if (!column) {
    std::printf("Column allocation failed\n");
    return 1;
  }
  for (long x = 0; x < Width; x++) {
    GetColumn(Image, Width, x, column.get(), Height);
    ConvertToInterpolationCoefficients(column.get(), Height, poles, nb_poles, 0.0);
    PutColumn(Image, Width, x, column.get(), Height);
  }
  return 0;
}

int BSPLINE_DEC::SamplesToCoefficients(to_array<float, false>& ima) {
  if (SamplesToCoefficients(ima.buffer(), ima.nc(), ima.nl()) != 0)
    fatal_exit("Error: Change of spline basis failed ...\n", -1);
  return 0;
}

void BSPLINE_DEC::ConvertToInterpolationCoefficients(double* c, long N, double* z, long NbPoles,
                                                     double Tolerance) {
  // A single sample is its own coefficient; an empty vector has none (its
  // initial values would read before the buffer).
  if (N <= 1) return;
  double lambda = 1.0;
  for (long k = 0; k < NbPoles; k++) lambda = lambda * (1.0 - z[k]) * (1.0 - 1.0 / z[k]);
  for (long n = 0; n < N; n++) c[n] *= lambda;
  for (long k = 0; k < NbPoles; k++) {
    c[0] = InitialCausalCoefficient(c, N, z[k], Tolerance);
    for (long n = 1; n < N; n++) c[n] += z[k] * c[n - 1];
    c[N - 1] = InitialAntiCausalCoefficient(c, N, z[k]);
    for (long n = N - 2; n >= 0; n--) c[n] = z[k] * (c[n + 1] - c[n]);
  }
}

double BSPLINE_DEC::InitialCausalCoefficient(double* c, long N, double z, double Tolerance) {
  // With Tolerance 0 the horizon is infinite: always the exact value.
  if (Tolerance > 0.0) {
    const double horizon = std::ceil(std::log(Tolerance) / std::log(std::fabs(z)));
    if (horizon < static_cast<double>(N)) {
      double zn = z;
      double sum = c[0];
      for (long n = 1; n < static_cast<long>(horizon); n++) {
        sum += zn * c[n];
        zn *= z;
      }
      return sum;
    }
  }
  // Exact value for a signal mirrored about its end samples.
  double zn = z;
  const double iz = 1.0 / z;
  double z2n = std::pow(z, static_cast<double>(N - 1));
  double sum = c[0] + z2n * c[N - 1];
  z2n *= z2n * iz;
  for (long n = 1; n <= N - 2; n++) {
    sum += (zn + z2n) * c[n];
    zn *= z;
    z2n *= iz;
  }
  return sum / (1.0 - zn * zn);
}

double BSPLINE_DEC::InitialAntiCausalCoefficient(double* c, long N, double z) {
  return (z / (z * z - 1.0)) * (z * c[N - 2] + c[N - 1]);
}

void BSPLINE_DEC::GetRow(float* Image, long y, double* Line, long Width) {
  const float* row = Image + y * Width;
  for (long x = 0; x < Width; x++) Line[x] = row[x];
}

void BSPLINE_DEC::PutRow(float* Image, long y, double* Line, long Width) {
  float* row = Image + y * Width;
  for (long x = 0; x < Width; x++) row[x] = static_cast<float>(Line[x]);
}

void BSPLINE_DEC::GetColumn(float* Image, long Width, long x, double* Line, long Height) {
  for (long y = 0; y < Height; y++) Line[y] = Image[y * Width + x];
}

void BSPLINE_DEC::PutColumn(float* Image, long Width, long x, double* Line, long Height) {
  for (long y = 0; y < Height; y++) Image[y * Width + x] = static_cast<float>(Line[y]);
}

double BSPLINE_DEC::InterpolatedValue(float* Bcoeff, int Width, int Height, double x, double y) {
  long x_index[MaxDegree + 1], y_index[MaxDegree + 1];
  double x_weight[MaxDegree + 1], y_weight[MaxDegree + 1];
  if (!bspline_window(SplineDegree, x, Width, x_index, x_weight) ||
      !bspline_window(SplineDegree, y, Height, y_index, y_weight)) {
    std::printf("Invalid spline degree\n");
    return 0.0;
  }
  double value = 0.0;
  for (int j = 0; j <= SplineDegree; j++) {
    const float* row = Bcoeff + y_index[j] * Width;
    double line_sum = 0.0;
    for (int i = 0; i <= SplineDegree; i++) line_sum += x_weight[i] * row[x_index[i]];
    value += y_weight[j] * line_sum;
  }
  return value;
}

double BSPLINE_DEC::InterpolatedValue(to_array<float, false>& coeff, double x, double y) {
  return InterpolatedValue(coeff.buffer(), coeff.nc(), coeff.nl(), x, y);
}

void BSPLINE_DEC::shift_rotation_from_spline_coeff(float* Bcoeff, float* Out, int Width,
                                                   int Height, double Angle, double xShift,
                                                   double yShift, double xOrigin,
                                                   double yOrigin) {
  const double theta = Angle * 0.017453292519943295;
  const double a11 = std::cos(theta), a12 = -std::sin(theta);
  const double a21 = std::sin(theta), a22 = std::cos(theta);
  const double x0 = a11 * (xShift + xOrigin) + a12 * (yShift + yOrigin);
  const double y0 = a21 * (xShift + xOrigin) + a22 * (yShift + yOrigin);
  const double x_start = xOrigin - x0;
  const double y_start = yOrigin - y0;
  float* out = Out;
  for (long y = 0; y < Height; y++) {
    for (long x = 0; x < Width; x++) {
      const double x1 = a11 * x + a12 * y + x_start;
      const double y1 = a21 * x + a22 * y + y_start;
      if (Masking == 1 &&
          (x1 <= -0.5 || x1 >= Width - 0.5 || y1 <= -0.5 || y1 >= Height - 0.5))
        *out++ = 0.f;
      else
        *out++ = static_cast<float>(InterpolatedValue(Bcoeff, Width, Height, x1, y1));
    }
  }
}

void BSPLINE_DEC::shift_rotation(to_array<float, false>& In, to_array<float, false>& Out,
                                 double Angle, Bool InputIsCoeff, double Dx, double Dy,
                                 int xOrigin, int yOrigin) {
  if (&In == &Out) {
    // Every output pixel reads a window of coefficients: resample from a copy.
    to_array<float, false> source = In;
    shift_rotation(source, Out, Angle, InputIsCoeff, Dx, Dy, xOrigin, yOrigin);
    return;
  }
  const int width = In.nc(), height = In.nl();
  const double x_origin = xOrigin == -1 ? width / 2 : xOrigin;
  const double y_origin = yOrigin == -1 ? height / 2 : yOrigin;
  if (Out.nl() != height || Out.nc() != width) Out.alloc(height, width);
  if (!InputIsCoeff) SamplesToCoefficients(In);
  shift_rotation_from_spline_coeff(In.buffer(), Out.buffer(), width, height, Angle, Dx, Dy,
                                   x_origin, y_origin);
}
