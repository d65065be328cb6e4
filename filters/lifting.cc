// Lifting schemes: CDF, median prediction, the integer Haar, CDF and (4,2)
// schemes, and the 7/9 scheme with its integer form.
#include "filters/lifting.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "array/fatal.h"
#include "array/median.h"

namespace {

// Lifting factorisation of the 7/9 filter pair.
constexpr double kAlpha = -1.586134342;
constexpr double kBeta = -0.05298011854;
constexpr double kGamma = 0.8829110762;
constexpr double kDelta = 0.4435068522;
constexpr double kZeta = 1.149604398;

// The rounding of the integer schemes: v + 0.5 truncated toward zero (so it
// is not a floor below zero: -1.2 gives 0). Any rounding inverts exactly as
// long as analysis and synthesis use the same one.
float quantise(double v) { return float(std::trunc(v + 0.5)); }

[[noreturn]] void unknown_lifting() {
  fatal_exit("Error: unknown lifting transform ... \n", -1, stderr);
}

}  // namespace

const char* StringLSTransform(type_lift Type) {
  switch (Type) {
    case TL_CDF: return "Lifting scheme: CDF WT";
    case TL_MED: return "Lifting scheme: median prediction";
    case TL_INT_HAAR: return "Lifting scheme: integer Haar WT";
    case TL_INT_CDF: return "Lifting scheme: integer CDF WT";
    case TL_INT_4_2: return "Lifting scheme: integer (4,2) interpolating transform";
    case TL_F79: return "Lifting scheme: 7/9 WT";
    case TL_INT_F79: return "Lifting scheme: integer 7/9 WT";
    default: return "Undefined transform";
  }
}

void lifting_usage(type_lift Default) {
  std::fprintf(stderr, "        [-l type_of_lifting_transform]\n");
  for (int i = 1; i <= 7; i++)
    std::fprintf(stderr, "              %d: %s \n", i, StringLSTransform(type_lift(i)));
  std::fprintf(stderr, "             default is %s\n", StringLSTransform(Default));
}

Lifting::Lifting(type_lift Type) : TypeLift(Type) {}

// A neighbour's position: its border index under rules 0 to 2, from which
// further neighbours are counted; under the zero rule, which has no index
// outside the signal, the raw position.
int Lifting::neighbour(int pos, int N) const {
  return Bord == I_ZERO ? pos : test_index(pos, N);
}

float Lifting::lift_predict(int i, int N, const float* x, int Step) const {
  int a = neighbour(i - Step, N);
  int b = neighbour(i + Step, N);
  // Only the zero rule leaves the signal here: the schemes have no zero
  // padding, so such a bank stops.
  if (a < 0 || a >= N || b < 0 || b >= N)
    fatal_exitf(-1, stdout, "PB IndHigh: %d N = %d i = %d Step = %d\n", a, N, i, Step);
  switch (TypeLift) {
    case TL_CDF: return (sample(x, a, N) + sample(x, b, N)) * 0.5;
    case TL_MED: {
      float v[5] = {sample(x, a, N), sample(x, a + 2 * Step, N), sample(x, a - 2 * Step, N),
                    sample(x, a + 4 * Step, N), sample(x, a - 4 * Step, N)};
      return opt_med5(v);
    }
    case TL_INT_HAAR: return quantise(sample(x, a, N));
    case TL_INT_CDF: return quantise((sample(x, a, N) + sample(x, b, N)) * 0.5);
    case TL_INT_4_2:
      return quantise((sample(x, a, N) + sample(x, a + 2 * Step, N)) * 0.5625 -
                      (sample(x, a - 2 * Step, N) + sample(x, a + 4 * Step, N)) * 0.0625);
    default: unknown_lifting();
  }
}

float Lifting::lift_update(int j, int M, const float* d, int Step) const {
  if (TypeLift < TL_CDF || TypeLift > TL_INT_4_2) unknown_lifting();
  // No details at all (a signal of one sample): nothing to update with.
  if (M <= 0) return 0.f;
  int a = neighbour(j, M);
  int b = neighbour(a - Step, M);
  float da = sample(d, a, M);
  switch (TypeLift) {
    case TL_CDF: return (da + sample(d, b, M)) * 0.25;
    case TL_MED: return da;
    case TL_INT_HAAR: return quantise(da / 2);
    default: return quantise((da + sample(d, b, M)) * 0.25);  // integer CDF and (4,2)
  }
}

void Lifting::transform(int N, float* Signal, float* Low, float* High) {
  if (TypeLift == TL_F79) return transform_f79(N, Signal, Low, High);
  if (TypeLift == TL_INT_F79) return transform_int_f79(N, Signal, Low, High);
  int S = SampleDist;
  for (int i = 1; i < N; i += 2) High[i / 2] = Signal[i] - lift_predict(i, N, Signal, S);
  for (int i = 0; i < N; i += 2) Low[i / 2] = Signal[i] + lift_update(i / 2, N / 2, High, S);
}

void Lifting::recons(int N, float* Low, float* High, float* Signal) {
  if (TypeLift == TL_F79) return recons_f79(N, Low, High, Signal);
  if (TypeLift == TL_INT_F79) return recons_int_f79(N, Low, High, Signal);
  int S = SampleDist;
  for (int i = 0; i < N; i += 2) Signal[i] = Low[i / 2] - lift_update(i / 2, N / 2, High, S);
  // The predictions read the even samples restored just above.
  for (int i = 1; i < N; i += 2) Signal[i] = High[i / 2] + lift_predict(i, N, Signal, S);
}

void Lifting::transform(int N, float* Signal, float* Low, float* High, int Step) {
  if (TypeLift == TL_F79 || TypeLift == TL_INT_F79)
    fatal_exit("not implemented ... \n", -1, stdout);
  for (int i = 0; i < N; i++) High[i] = Signal[i] - lift_predict(i, N, Signal, Step);
  for (int i = 0; i < N; i++) Low[i] = Signal[i] + lift_update(i + Step, N, High, 2 * Step);
}

void Lifting::recons(int N, float* Low, float* High, float* Signal, int Step) {
  if (N <= 0) return;
  // Two estimates of the signal, one predicting from the updated samples as
  // they are replaced, one from a copy whose first sample starts at zero;
  // the result is their mean.
  std::vector<float> estimate(N, 0.f);
  std::vector<float> other(N, 0.f);
  for (int i = 0; i < N; i++) estimate[i] = Low[i] - lift_update(i + Step, N, High, 2 * Step);
  for (int i = 1; i < N; i++)
    estimate[i] = High[i] + lift_predict(i, N, estimate.data(), Step);
  for (int i = 1; i < N; i++) other[i] = Low[i] - lift_update(i + Step, N, High, 2 * Step);
  for (int i = 0; i < N; i++) other[i] = High[i] + lift_predict(i, N, other.data(), Step);
  for (int i = 0; i < N; i++) Signal[i] = (other[i] + estimate[i]) * 0.5;
}

// The four lifting steps of the 7/9 scheme (forward or inverse), in place on
// the two bands; neighbours are read by the border rule on the band lengths.
void Lifting::f79_steps(int N, float* Low, float* High, bool integer, bool inverse) const {
  int n_low = (N + 1) / 2, n_high = N / 2;
  auto low_pair = [&](int j) { return Low[j] + sample(Low, j + 1, n_low); };
  auto high_pair = [&](int j) {
    return n_high > 0 ? sample(High, j, n_high) + sample(High, j - 1, n_high) : 0.f;
  };
  auto increment = [integer](float pair, double c) {
    double v = pair * c;
    return integer ? double(quantise(v)) : v;
  };
  auto predict = [&](double c, double sign) {
    for (int j = 0; j < n_high; j++) High[j] += sign * increment(low_pair(j), c);
  };
  auto update = [&](double c, double sign) {
    for (int j = 0; j < n_low; j++) Low[j] += sign * increment(high_pair(j), c);
  };
  if (!inverse) {
    predict(kAlpha, 1.);
    update(kBeta, 1.);
    predict(kGamma, 1.);
    update(kDelta, 1.);
    if (!integer) {
      for (int j = 0; j < n_low; j++) Low[j] = Low[j] * kZeta;
      for (int j = 0; j < n_high; j++) High[j] = High[j] / kZeta;
    }
  } else {
    if (!integer) {
      for (int j = 0; j < n_low; j++) Low[j] /= kZeta;
      for (int j = 0; j < n_high; j++) High[j] *= kZeta;
    }
    update(kDelta, -1.);
    predict(kGamma, -1.);
    update(kBeta, -1.);
    predict(kAlpha, -1.);
  }
}

namespace {

void split_even_odd(int N, const float* Signal, float* Low, float* High) {
  for (int j = 0; j < (N + 1) / 2; j++) Low[j] = Signal[2 * j];
  for (int j = 0; j < N / 2; j++) High[j] = Signal[2 * j + 1];
}

void merge_even_odd(int N, const float* Low, const float* High, float* Signal) {
  for (int j = 0; j < (N + 1) / 2; j++) Signal[2 * j] = Low[j];
  for (int j = 0; j < N / 2; j++) Signal[2 * j + 1] = High[j];
}

}  // namespace

void Lifting::transform_f79(int N, const float* Signal, float* Low, float* High) const {
  split_even_odd(N, Signal, Low, High);
  f79_steps(N, Low, High, false, false);
}

void Lifting::recons_f79(int N, float* Low, float* High, float* Signal) const {
  f79_steps(N, Low, High, false, true);
  merge_even_odd(N, Low, High, Signal);
}

void Lifting::transform_int_f79(int N, const float* Signal, float* Low, float* High) const {
  split_even_odd(N, Signal, Low, High);
  f79_steps(N, Low, High, true, false);
}

void Lifting::recons_int_f79(int N, float* Low, float* High, float* Signal) const {
  f79_steps(N, Low, High, true, true);
  merge_even_odd(N, Low, High, Signal);
}
