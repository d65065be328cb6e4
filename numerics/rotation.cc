// Quarter turns, shear rotations, bilinear and spline rotate-and-shift of
// images, and the Fourier translations under the shears.
#include "numerics/rotation.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

#include "array/scalar_helpers.h"
#include "numerics/fftn.h"
#include "numerics/fftn_2d.h"

namespace {

constexpr double Pi = 3.14159265358979323846;

// Degrees to radians in double precision, rounded to float. The two rotations
// convert in different orders, which can differ in the last bit.
float degrees_over_180_times_pi(float degrees) { return static_cast<float>(degrees / 180. * Pi); }
float degrees_times_pi_over_180(float degrees) { return static_cast<float>(degrees * Pi / 180.); }

// Signed frequency of bin k of an uncentred spectrum of n values, in
// [-n/2, n - 1 - n/2]: the integer frequencies of the centred layout.
int signed_frequency(int k, int n) { return k <= n - 1 - n / 2 ? k : k - n; }

// e^{-2πi·u·s/n}: the phase factor that moves a signal by s samples.
std::complex<float> shift_phase(int u, double s, int n) {
  const double phi = 2. * Pi * u * s / n;
  return {static_cast<float>(std::cos(phi)), static_cast<float>(-std::sin(phi))};
}

// Cyclic Fourier shift of 1D signals, with one work spectrum reused for the
// many lines or columns of a shear. The ramp uses the integer frequency of
// every bin, so integer shifts are exact circular rolls for odd and even
// lengths alike.
class SignalShifter {
 public:
  // values[k·stride], k < n, becomes values[((k + s) mod n)·stride].
  void shift(float* values, int n, int stride, float s) {
    if (n <= 0) return;
    s = REM(s, static_cast<float>(n));
    spectrum_.assign(n, std::complex<float>());
    for (int k = 0; k < n; k++) spectrum_[k] = values[static_cast<int64_t>(k) * stride];
    float* data = reinterpret_cast<float*>(spectrum_.data());
    fft_.transform1d(data, n, False);
    for (int k = 0; k < n; k++) spectrum_[k] *= shift_phase(signed_frequency(k, n), s, n);
    fft_.transform1d(data, n, True);
    for (int k = 0; k < n; k++) values[static_cast<int64_t>(k) * stride] = spectrum_[k].real();
  }

 private:
  FFTN fft_;
  std::vector<std::complex<float>> spectrum_;
};

}  // namespace

void translate1d(to_array<float, true>& Sig, float s) {
  SignalShifter shifter;
  shifter.shift(Sig.buffer(), Sig.nx(), 1, s);
}

void translate2d(to_array<float, false>& Ima, float dx, float dy) {
  const int nl = Ima.nl(), nc = Ima.nc();
  if (nl <= 0 || nc <= 0) return;
  const float sx = REM(-dx, static_cast<float>(nc));
  const float sy = REM(-dy, static_cast<float>(nl));
  to_array<std::complex<float>, false> cf(nl, nc, "cf");
  FFTN_2D fft;
  fft.fftn2d(Ima, cf, False);
  // The centred spectrum has its zero frequency at (nl/2, nc/2); the phase
  // factorises into a line part and a column part.
  std::vector<std::complex<double>> column_phase(nc);
  for (int j = 0; j < nc; j++) column_phase[j] = std::complex<double>(shift_phase(j - nc / 2, sx, nc));
  for (int i = 0; i < nl; i++) {
    const std::complex<double> line_phase(shift_phase(i - nl / 2, sy, nl));
    std::complex<float>* row = cf.buffer() + static_cast<int64_t>(i) * nc;
    for (int j = 0; j < nc; j++)
      row[j] *= std::complex<float>(line_phase * column_phase[j]);
  }
  fft.ifftn2d(cf);
  for (int64_t k = 0; k < static_cast<int64_t>(nl) * nc; k++) Ima.buffer()[k] = cf.buffer()[k].real();
}

void Rotation::im_shear(to_array<float, false>& Ima, char Axis, float a) {
  const int nl = Ima.nl(), nc = Ima.nc();
  SignalShifter shifter;
  if (Axis == 'x') {
    const int centre = iround(nc / 2.f);
    for (int j = 0; j < nc; j++)
      shifter.shift(Ima.buffer() + j, nl, nc, a * (static_cast<float>(j - centre) + 0.5f));
  } else if (Axis == 'y') {
    const int centre = iround(nl / 2.f);
    for (int i = 0; i < nl; i++)
      shifter.shift(Ima.buffer() + static_cast<int64_t>(i) * nc, nc, 1,
                    a * (static_cast<float>(i - centre) + 0.5f));
  }
}

void Rotation::im_rotate(to_array<float, false>& in, to_array<float, false>& out, float Angle) {
  float theta = Angle;
  if (AngleInRadian == 0) theta = degrees_over_180_times_pi(Angle);
  const int quarter_turns = static_cast<int>(theta / (Pi / 2.));
  if (Verbose == 1) std::printf("NRot 90 degrees = %d\n", quarter_turns);
  im_rot90(in, out, quarter_turns);
  const float rest = REM(theta, static_cast<float>(Pi / 2.));
  const float half_tan = static_cast<float>(-std::tan(rest / 2.));
  const float sine = static_cast<float>(std::sin(static_cast<double>(rest)));
  if (Verbose == 1) std::printf("im_shear x\n");
  im_shear(out, 'x', half_tan);
  if (Verbose == 1) std::printf("im_shear y\n");
  im_shear(out, 'y', sine);
  if (Verbose == 1) std::printf("im_shear x\n");
  im_shear(out, 'x', half_tan);
}

void Rotation::im_rot90(to_array<float, false>& in, to_array<float, false>& out, int k) {
  if (&in == &out) {
    to_array<float, false> source = in;
    im_rot90(source, out, k);
    return;
  }
  int r = k % 4;
  if (r < 0) r += 4;
  const int nl = in.nl(), nc = in.nc();
  if (r == 1 || r == 3) out.alloc(nc, nl);
  else out.alloc(nl, nc);
  const float* src = in.buffer();
  float* dst = out.buffer();
  // Line i of in and its mirror line nl - 1 - i, read by the quarter and half turns.
  for (int i = 0; i < nl; i++) {
    const float* line = src + static_cast<int64_t>(i) * nc;
    const float* mirrored = src + static_cast<int64_t>(nl - 1 - i) * nc;
    float* same_line = dst + static_cast<int64_t>(i) * nc;
    switch (r) {
      case 0: std::copy(line, line + nc, same_line); break;
      case 1: for (int j = 0; j < nc; j++) dst[static_cast<int64_t>(j) * nl + i] = mirrored[j]; break;
      case 2: for (int j = 0; j < nc; j++) same_line[j] = mirrored[nc - 1 - j]; break;
      default: for (int j = 0; j < nc; j++) dst[static_cast<int64_t>(j) * nl + i] = line[nc - 1 - j]; break;
    }
  }
}

void Rotation::im_move_rotate_bilinear(to_array<float, false>& in, to_array<float, false>& out,
                                       float Angle, float dx, float dy) {
  const int nl = in.nl(), nc = in.nc();
  if (&in == &out) {
    to_array<float, false> source = in;
    im_move_rotate_bilinear(source, out, Angle, dx, dy);
    return;
  }
  if (out.nl() != nl || out.nc() != nc) out.alloc(nl, nc);
  float theta = -Angle;
  if (AngleInRadian == 0) theta = degrees_times_pi_over_180(theta);
  const float s = static_cast<float>(std::sin(static_cast<double>(theta)));
  const float c = static_cast<float>(std::cos(static_cast<double>(theta)));
  const int cl = nl / 2, cc = nc / 2;
  for (int i = 0; i < nl; i++) {
    float* out_row = out.buffer() + static_cast<int64_t>(i) * nc;
    for (int j = 0; j < nc; j++) {
      float x = static_cast<float>(j - cc) * c - static_cast<float>(i - cl) * s + cc - dx;
      float y = static_cast<float>(i - cl) * c + static_cast<float>(j - cc) * s + cl - dy;
      if (x < 0) x += nc;
      else if (x >= nc) x -= nc;
      if (y < 0) y += nl;
      else if (y >= nl) y -= nl;
      // Written to also catch a position that is not a number (a NaN angle or
      // shift), whose index would read anywhere.
      if (!(x >= 0 && x < nc && y >= 0 && y < nl)) {
        out_row[j] = 0.f;
        continue;
      }
      const int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
      const float fx = x - ix, fy = y - iy;
      const bool has_right = x + 1 < nc, has_below = y + 1 < nl;
      const float q00 = in(iy, ix);
      const float q01 = has_right ? in(iy, ix + 1) : q00;
      const float q10 = has_below ? in(iy + 1, ix) : q00;
      const float q11 = has_right && has_below ? in(iy + 1, ix + 1) : q00;
      out_row[j] = (1 - fx) * (1 - fy) * q00 + fx * (1 - fy) * q01 + (1 - fx) * fy * q10 +
                   fx * fy * q11;
    }
  }
}

void Rotation::im_move_rotate(to_array<float, false>& in, to_array<float, false>& out,
                              float Angle, float dx, float dy) {
  im_move_rotate_spline(in, out, Angle, dx, dy, 3);
}

void Rotation::im_move_rotate_spline(to_array<float, false>& in, to_array<float, false>& out,
                                     float Angle, float dx, float dy, int Degree) {
  const double angle = AngleInRadian == 0 ? -static_cast<double>(Angle)
                                        : -static_cast<double>(Angle) / 3.141592653589793 * 180.;
  SplineDegree = Degree;
  shift_rotation(in, out, angle, False, dx, dy, -1, -1);
}
