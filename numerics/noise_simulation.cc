// Random deviates, noise images and Gaussian profiles.
#include "numerics/noise_simulation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "array/fatal.h"
#include "numerics/sample_stats.h"

// ---- 48-bit generator ----

void init_random(unsigned int seed) {
  if (seed == 100) ::srand48(static_cast<long>(std::time(nullptr)));
  else ::srand48(static_cast<long>(seed));
}

float get_random() { return static_cast<float>(drand48()); }

float get_random(float min, float max) { return min + get_random() * (max - min); }

namespace {

// Standard normal deviates from the inverted tail of uniform draws.
void fill_gaussian(float* values, int64_t n, float sigma, unsigned int seed) {
  if (seed != 0) init_random(seed);
  for (int64_t k = 0; k < n; ++k) values[k] = static_cast<float>(sigma * xerf(get_random()));
}

// Uniform draw kept away from 0 and 1 so that its logarithm stays finite.
constexpr float kUniformLow = 5.96047e-8f;
constexpr float kUniformHigh = 0.99999994f;

float clamped_uniform() {
  float u = 1.0f - get_random(kUniformLow, kUniformHigh);
  return std::min(std::max(u, kUniformLow), kUniformHigh);
}

// The mean of no draws would leave every pixel at 0/0.
void check_draw_count(int N, const char* routine) {
  if (N < 1) fatal_exitf(-1, stdout, "Error in %s: the number of draws must be positive, not %d\n",
                         routine, N);
}

}  // namespace

void randomn(to_array<float, true>& signal, int N, float sigma, unsigned int seed) {
  if (N < 0 || N > signal.n_elem())
    fatal_exitf(-1, stdout, "Error in randomn: %d values asked of a signal of %d\n", N,
                signal.n_elem());
  fill_gaussian(signal.buffer(), N, sigma, seed);
}

void im_noise_gaussian(to_array<float, false>& ima, float sigma, unsigned int seed) {
  fill_gaussian(ima.buffer(), ima.n_elem(), sigma, seed);
}

to_array<float, false> im_noise(float sigma, int lines, int columns, unsigned int seed) {
  to_array<float, false> noise(lines, columns, "im_noise");
  im_noise_gaussian(noise, sigma, seed);
  return noise;
}

void im_noise_rayleigh(to_array<float, false>& ima, int N, unsigned int seed) {
  check_draw_count(N, "im_noise_rayleigh");
  if (seed != 0) init_random(seed);
  float* pixel = ima.buffer();
  for (int k = 0; k < ima.n_elem(); ++k) {
    float sum = 0.0f;
    for (int d = 0; d < N; ++d)
      sum += static_cast<float>(std::sqrt(2.0 * std::log(1.0 / clamped_uniform())));
    pixel[k] = sum / N;
  }
}

void im_noise_laplace(to_array<float, false>& ima, int N, unsigned int seed) {
  check_draw_count(N, "im_noise_laplace");
  if (seed != 0) init_random(seed);
  float* pixel = ima.buffer();
  for (int k = 0; k < ima.n_elem(); ++k) {
    float sum = 0.0f;
    for (int d = 0; d < N; ++d) {
      sum -= std::log(clamped_uniform());
      if (!(sum > 0.0f)) sum = kUniformLow;
    }
    pixel[k] = sum / N;
  }
}

// ---- Gaussian profiles ----

namespace {

int centre_index(int requested, int length) { return requested < 0 ? length / 2 : requested; }

// exp(d²/(-2σ²)) with the quotient in single precision.
float gaussian_of_squared_distance(int64_t d2, float sigma) {
  float quotient = static_cast<float>(d2) / (-2.0f * sigma * sigma);
  return static_cast<float>(std::exp(static_cast<double>(quotient)));
}

// Divides every value by their single-precision sum.
void normalise_to_unit_sum(float* values, int n) {
  float sum = 0.0f;
  for (int k = 0; k < n; ++k) sum += values[k];
  for (int k = 0; k < n; ++k) values[k] /= sum;
}

// The Gaussian of a planes x lines x columns block (columns fastest) centred
// at (cp, cl, cc).
void fill_gaussian_block(float* values, int planes, int lines, int columns, int cp, int cl,
                         int cc, float sigma) {
  for (int p = 0; p < std::max(planes, 1); ++p)
    for (int l = 0; l < std::max(lines, 1); ++l) {
      float* row = values + (int64_t(p) * std::max(lines, 1) + l) * columns;
      int64_t dpl = int64_t(p - cp) * (p - cp) + int64_t(l - cl) * (l - cl);
      for (int c = 0; c < columns; ++c)
        row[c] = gaussian_of_squared_distance(dpl + int64_t(c - cc) * (c - cc), sigma);
    }
}

}  // namespace

to_array<float, false> im_gaussian(int lines, int columns, float fwhm, int centre_line,
                                   int centre_column) {
  to_array<float, false> profile(lines, columns, "gaussienne");
  float sigma = static_cast<float>(fwhm * 0.5 / std::sqrt(2.0 * std::log(2.0)));
  fill_gaussian_block(profile.buffer(), 0, lines, columns, 0, centre_index(centre_line, lines),
                      centre_index(centre_column, columns), sigma);
  return profile;
}

void make_gaussian(to_array<float, false>& ima, float sigma, int centre_line, int centre_column) {
  fill_gaussian_block(ima.buffer(), 0, ima.nl(), ima.nc(), 0, centre_index(centre_line, ima.nl()),
                      centre_index(centre_column, ima.nc()), sigma);
  normalise_to_unit_sum(ima.buffer(), ima.n_elem());
}

void make_gaussian_fwhm(to_array<float, false>& ima, float fwhm, int centre_line,
                        int centre_column) {
  make_gaussian(ima, static_cast<float>(fwhm * 0.5 / std::sqrt(2.0 * std::log(2.0))),
                centre_line, centre_column);
}

void make_gaussian1d(to_array<float, true>& signal, float sigma, int ind) {
  fill_gaussian_block(signal.buffer(), 0, 0, signal.nx(), 0, 0, centre_index(ind, signal.nx()),
                      sigma);
  normalise_to_unit_sum(signal.buffer(), signal.n_elem());
}

void make_gaussian2d(to_array<float, true>& ima, float sigma, int indi, int indj) {
  fill_gaussian_block(ima.buffer(), 0, ima.ny(), ima.nx(), 0, centre_index(indj, ima.ny()),
                      centre_index(indi, ima.nx()), sigma);
  normalise_to_unit_sum(ima.buffer(), ima.n_elem());
}

void make_gaussian3d(to_array<float, true>& cube, float sigma, int indi, int indj, int indk) {
  fill_gaussian_block(cube.buffer(), cube.nz(), cube.ny(), cube.nx(), centre_index(indk, cube.nz()),
                      centre_index(indj, cube.ny()), centre_index(indi, cube.nx()), sigma);
  normalise_to_unit_sum(cube.buffer(), cube.n_elem());
}

void make_gaussian(to_array<float, true>& data, float sigma) {
  switch (data.naxis()) {
    case 1: make_gaussian1d(data, sigma, -1); break;
    case 2: make_gaussian2d(data, sigma, -1, -1); break;
    case 3: make_gaussian3d(data, sigma, -1, -1, -1); break;
    default: fatal_exitf(-1, stdout, "Error in make_gaussian: naxis = %d\n", data.naxis());
  }
}

void simu_gaussian_noise(to_array<float, true>& data, float sigma, unsigned int seed) {
  fill_gaussian(data.buffer(), data.n_elem(), sigma, seed);
}

// ---- Portable generator and Poisson deviates ----

namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kM1 = 259200, kIA1 = 7141, kIC1 = 54773;
constexpr int kM2 = 134456, kIA2 = 8121, kIC2 = 28411;
constexpr int kM3 = 243000, kIA3 = 4561, kIC3 = 51349;
constexpr double kRM1 = 1.0 / kM1, kRM2 = 1.0 / kM2;

struct Ran1State {
  int ix1 = 0, ix2 = 0, ix3 = 0;
  float r[98] = {};  // used at 1 .. 97
  int iff = 0;
};
Ran1State ran1_state;

}  // namespace

float ran1(int* state) {
  Ran1State& s = ran1_state;
  if (*state < 0 || s.iff == 0) {
    s.iff = 1;
    // Seeds above IC1 would make the first remainder negative and the shuffle
    // index leave the table; the remainder is taken into [0, M1) instead.
    int64_t start = (int64_t(kIC1) - *state) % kM1;
    s.ix1 = static_cast<int>(start < 0 ? start + kM1 : start);
    s.ix1 = (kIA1 * s.ix1 + kIC1) % kM1;
    s.ix2 = s.ix1 % kM2;
    s.ix1 = (kIA1 * s.ix1 + kIC1) % kM1;
    s.ix3 = s.ix1 % kM3;
    for (int j = 1; j <= 97; ++j) {
      s.ix1 = (kIA1 * s.ix1 + kIC1) % kM1;
      s.ix2 = (kIA2 * s.ix2 + kIC2) % kM2;
      s.r[j] = static_cast<float>((s.ix1 + s.ix2 * kRM2) * kRM1);
    }
    *state = 1;
  }
  s.ix1 = (kIA1 * s.ix1 + kIC1) % kM1;
  s.ix2 = (kIA2 * s.ix2 + kIC2) % kM2;
  s.ix3 = (kIA3 * s.ix3 + kIC3) % kM3;
  int j = 1 + (97 * s.ix3) / kM3;
  if (j < 1 || j > 97) {
    std::printf("ERROR in RAN1: This cannot happen.\n");
    j = std::min(std::max(j, 1), 97);
  }
  float drawn = s.r[j];
  s.r[j] = static_cast<float>((s.ix1 + s.ix2 * kRM2) * kRM1);
  return drawn;
}

// ln Γ by the six-term Lanczos series, its denominators x + 1 .. x + 6 stepped
// by recurrence.
float nr_gammln(float x) {
  static const double cof[6] = {76.18009172947146,    -86.50532032941678,
                                24.01409824083091,    -1.231739572450155,
                                0.001208650973866179, -5.395239384953e-06};
  const double xd = x;
  double tmp = xd + 5.5;
  tmp -= (xd + 0.5) * std::log(tmp);
  double ser = 1.000000000190015, y = xd;
  for (double c : cof) ser += c / ++y;
  return static_cast<float>(-tmp + std::log(2.5066282746310007 * ser / xd));
}

float poidev(float mean, int* state) {
  static float oldm = -1.0f, g = 0.0f, sq = 0.0f, alxm = 0.0f;
  float em, t;
  if (mean < 12.0f) {
    if (mean != oldm) {
      oldm = mean;
      g = static_cast<float>(std::exp(-double(mean)));
    }
    em = -1.0f;
    t = 1.0f;
    do {
      em += 1.0f;
      t *= ran1(state);
    } while (t > g);
    return em;
  }
  // Rejection from a Lorentzian comparison function.
  if (mean != oldm) {
    oldm = mean;
    sq = static_cast<float>(std::sqrt(2.0 * mean));
    alxm = static_cast<float>(std::log(double(mean)));
    g = static_cast<float>(mean * double(alxm) - nr_gammln(mean + 1.0f));
  }
  do {
    float y;
    do {
      y = static_cast<float>(std::tan(kPi * ran1(state)));
      em = sq * y + mean;
    } while (em < 0.0f);
    em = std::floor(em);
    t = static_cast<float>(0.9 * (1.0 + double(y) * y) *
                           std::exp(em * double(alxm) - nr_gammln(em + 1.0f) - g));
  } while (ran1(state) > t);
  return em;
}

void im_poisson_noise(to_array<float, false>& ima) {
  int state = -1;
  float* pixel = ima.buffer();
  for (int k = 0; k < ima.n_elem(); ++k) pixel[k] = poidev(pixel[k], &state);
}

void im_noise_poisson(to_array<float, false>& ima, float scale, unsigned int seed) {
  int state = static_cast<int>(seed);
  float* pixel = ima.buffer();
  for (int k = 0; k < ima.n_elem(); ++k) pixel[k] = scale * poidev(pixel[k], &state);
}
