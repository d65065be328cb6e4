// The bi-orthogonal filter bank: the high-pass filters are mirrored from the
// low-pass ones, the pair rescaled to the requested norm. Analysis applies
// the filters reversed (a convolution), synthesis in their stored order.
#include "filters/sub_band_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "array/fatal.h"

namespace {

// Sign of the last tap of a mirrored filter: -1 when Size/2 is odd.
int complement_sign(int size) { return (size / 2) % 2 != 0 ? -1 : 1; }

float* copy_taps(const float* taps, int n, float scale) {
  if (taps == nullptr || n <= 0) return nullptr;
  float* out = new float[n];
  for (int k = 0; k < n; k++) out[k] = scale * taps[k];
  return out;
}

float* mirrored(const float* taps, int n) {
  if (taps == nullptr || n <= 0) return nullptr;
  float* out = new float[n];
  filter_complement(taps, out, n, complement_sign(n));
  return out;
}

void print_filter(const char* name, const float* taps, int n) {
  float sum = 0.f;
  for (int k = 0; k < n; k++) sum += taps[k];
  std::printf("%s = %f\n", name, sum);
  for (int k = 0; k < n; k++) std::printf("%f\n", taps[k]);
}

}  // namespace

SubBandFilter::SubBandFilter(const FilterAnaSynt& F) {
  reset_param();
  init(F, NORM_L1);
}

SubBandFilter::SubBandFilter(const FilterAnaSynt& F, sb_type_norm Norm) {
  reset_param();
  init(F, Norm);
}

SubBandFilter::SubBandFilter(type_sb_filter T) {
  reset_param();
  FilterAnaSynt F(T);
  init(F, NORM_L1);
}

SubBandFilter::SubBandFilter(type_sb_filter T, sb_type_norm Norm) {
  reset_param();
  FilterAnaSynt F(T);
  init(F, Norm);
}

SubBandFilter::SubBandFilter(const char* FileName) {
  reset_param();
  FilterAnaSynt F(FileName);
  init(F, NORM_L1);
}

SubBandFilter::SubBandFilter(const char* FileName, sb_type_norm Norm) {
  reset_param();
  FilterAnaSynt F(FileName);
  init(F, Norm);
}

SubBandFilter::SubBandFilter(const float* FH0, int N0, const float* FG0, int N1,
                             sb_type_norm Norm) {
  reset_param();
  TypeNorm = Norm;
  ReconsFactor = Norm == NORM_L2 ? 1 : 2;
  Size_H0 = Size_G1 = N0;
  Size_G0 = Size_H1 = N1;
  // The two filters count as L1-normalised.
  float c = Norm == NORM_L2 ? float(std::sqrt(2.)) : 1.f;
  H0 = copy_taps(FH0, N0, c);
  G0 = copy_taps(FG0, N1, c);
  G1 = mirrored(H0, N0);
  H1 = mirrored(G0, N1);
  Start_H0 = -(Size_H0 / 2);
  Start_H1 = -(Size_H1 / 2);
  Start_G0 = -(Size_G0 / 2);
  Start_G1 = -(Size_G1 / 2);
  make_reversed();
  print_filter("H0", H0, Size_H0);
  print_filter("G0", G0, Size_G0);
  print_filter("H1", H1, Size_H1);
  print_filter("G1", G1, Size_G1);
}

SubBandFilter::SubBandFilter(const SubBandFilter& other) : SubBand1D(other) {
  reset_param();
  copy_from(other);
}

SubBandFilter& SubBandFilter::operator=(const SubBandFilter& other) {
  if (this != &other) {
    SubBand1D::operator=(other);
    free_filters();
    copy_from(other);
  }
  return *this;
}

SubBandFilter::~SubBandFilter() {
  free_filters();
  TypeFilter = SB_UNKNOWN;
}

void SubBandFilter::reset_param() {
  H0 = G0 = H1 = G1 = nullptr;
  Size_H0 = Size_H1 = Size_G0 = Size_G1 = 0;
  Start_H0 = Start_H1 = Start_G0 = Start_G1 = 0;
  ReconsFactor = 0;
  TypeFilter = SB_UNKNOWN;
  TypeNorm = NORM_L1;
}

void SubBandFilter::free_filters() {
  delete[] H0;
  delete[] G0;
  delete[] H1;
  delete[] G1;
  H0 = G0 = H1 = G1 = nullptr;
  H0_rev_.clear();
  G0_rev_.clear();
}

void SubBandFilter::copy_from(const SubBandFilter& other) {
  ReconsFactor = other.ReconsFactor;
  TypeFilter = other.TypeFilter;
  TypeNorm = other.TypeNorm;
  Size_H0 = other.Size_H0;
  Size_H1 = other.Size_H1;
  Size_G0 = other.Size_G0;
  Size_G1 = other.Size_G1;
  Start_H0 = other.Start_H0;
  Start_H1 = other.Start_H1;
  Start_G0 = other.Start_G0;
  Start_G1 = other.Start_G1;
  H0 = copy_taps(other.H0, Size_H0, 1.f);
  G0 = copy_taps(other.G0, Size_G0, 1.f);
  H1 = copy_taps(other.H1, Size_H1, 1.f);
  G1 = copy_taps(other.G1, Size_G1, 1.f);
  make_reversed();
}

void SubBandFilter::make_reversed() {
  H0_rev_.assign(H0, H0 + Size_H0);
  G0_rev_.assign(G0, G0 + Size_G0);
  std::reverse(H0_rev_.begin(), H0_rev_.end());
  std::reverse(G0_rev_.begin(), G0_rev_.end());
}

void SubBandFilter::init(const FilterAnaSynt& F, sb_type_norm Norm) {
  free_filters();
  TypeNorm = Norm;
  ReconsFactor = Norm == NORM_L2 ? 1 : 2;
  TypeFilter = F.type_filter();
  Size_H0 = Size_G1 = F.size_analysis();
  Size_H1 = Size_G0 = F.size_synthesis();
  double c = 1.;
  if (F.norm() != Norm) c = Norm == NORM_L2 ? std::sqrt(2.) : 1. / std::sqrt(2.);
  H0 = copy_taps(F.analysis(), Size_H0, float(c));
  H1 = copy_taps(F.synthesis(), Size_H1, float(c));
  // The analysis high-pass comes from the synthesis low-pass and the other
  // way round: that is what makes the pair reconstruct.
  G1 = mirrored(H0, Size_H0);
  G0 = mirrored(H1, Size_H1);
  Start_H0 = -(Size_H0 / 2);
  Start_H1 = -(Size_H1 / 2);
  Start_G0 = -(Size_G0 / 2);
  Start_G1 = -(Size_G1 / 2);
  make_reversed();
}

// One decimated analysis step with sample distance 1.
void SubBandFilter::transform_one(int N, const float* Signal, float* Low, float* High) const {
  for (int i = LowPhase == 1 ? 0 : 1; i < N; i += 2)
    Low[i / 2] = spread_dot<float>(Signal, N, i, H0_rev_.data(), Size_H0, Start_H0, 1);
  // The odd phase of an odd length would leave the last low value out.
  if (LowPhase == 0 && N % 2 == 1)
    Low[N / 2] = spread_dot<float>(Signal, N, N - 1, H0_rev_.data(), Size_H0, Start_H0, 1);
  for (int i = HighPhase == 1 ? 1 : 0; i < N; i += 2)
    High[i / 2] = spread_dot<float>(Signal, N, i, G0_rev_.data(), Size_G0, Start_G0, 1);
}

// Out[i] = sum over k of u[i + StartF + k] * F[k], where u is Band
// up-sampled by two onto the samples of the given parity, zeros elsewhere.
// The border rule applies to u, zeros included. The zero terms are skipped,
// which leaves every float sum unchanged.
void SubBandFilter::upsampled_conv(int N, const float* Band, int Parity, const float* F,
                                   int SizeF, int StartF, float* Out) const {
  for (int i = 0; i < N; i++) {
    int first = i + StartF;
    float sum = 0.f;
    if (first >= 0 && first + SizeF - 1 < N) {
      for (int k = (first % 2 == Parity) ? 0 : 1; k < SizeF; k += 2)
        sum += Band[(first + k) / 2] * F[k];
    } else {
      for (int k = 0; k < SizeF; k++) {
        int idx = test_index(first + k, N);
        if (idx >= 0 && idx % 2 == Parity) sum += Band[idx / 2] * F[k];
      }
    }
    Out[i] = sum;
  }
}

// One decimated synthesis step with sample distance 1; Work holds 2N floats.
void SubBandFilter::recons_one(int N, const float* Low, const float* High, float* Signal,
                               float* Work) const {
  float* low_part = Work;
  float* high_part = Work + N;
  upsampled_conv(N, Low, LowPhase == 1 ? 0 : 1, H1, Size_H1, Start_H1, low_part);
  upsampled_conv(N, High, HighPhase == 1 ? 1 : 0, G1, Size_G1, Start_G1, high_part);
  float factor = float(ReconsFactor);
  for (int i = 0; i < N; i++) Signal[i] = factor * (low_part[i] + high_part[i]);
}

void SubBandFilter::transform(int N, float* Signal, float* Low, float* High) {
  if (N <= 0) return;
  int D = SampleDist;
  if (D <= 1) {
    transform_one(N, Signal, Low, High);
    return;
  }
  // D interleaved sub-signals, each split alone, bands interleaved again.
  int n_low = (N + 1) / 2, n_high = N / 2;
  std::fill(High, High + n_high, 0.f);
  int max_m = (N + D - 1) / D;
  std::vector<float> sub(max_m), sub_low((max_m + 1) / 2), sub_high((max_m + 1) / 2);
  for (int d = 0; d < D && d < N; d++) {
    int M = (N - d + D - 1) / D;
    for (int m = 0; m < M; m++) sub[m] = Signal[d + m * D];
    transform_one(M, sub.data(), sub_low.data(), sub_high.data());
    for (int j = 0; j < (M + 1) / 2; j++)
      if (j * D + d < n_low) Low[j * D + d] = sub_low[j];
    for (int j = 0; j < M / 2; j++)
      if (j * D + d < n_high) High[j * D + d] = sub_high[j];
  }
}

void SubBandFilter::recons(int N, float* Low, float* High, float* Signal) {
  if (N <= 0) return;
  int D = SampleDist;
  if (D <= 1) {
    std::vector<float> work(2 * size_t(N));
    recons_one(N, Low, High, Signal, work.data());
    return;
  }
  int n_low = (N + 1) / 2, n_high = N / 2;
  int q = N / D, r = N - q * D;
  int max_m = q + (r > 0 ? 1 : 0);
  // Sub-bands sized for either phase, so that an odd phase never reads past.
  std::vector<float> sub_low((max_m + 1) / 2), sub_high((max_m + 1) / 2), sub(max_m),
      work(2 * size_t(max_m));
  for (int d = 0; d < D; d++) {
    int M = q + (d < r ? 1 : 0);
    if (M == 0) continue;
    std::fill(sub_low.begin(), sub_low.end(), 0.f);
    std::fill(sub_high.begin(), sub_high.end(), 0.f);
    // An index beyond a band reads the band's last value.
    for (int j = 0; j < (M + 1) / 2; j++) sub_low[j] = Low[std::min(j * D + d, n_low - 1)];
    if (n_high > 0)
      for (int j = 0; j < M / 2; j++) sub_high[j] = High[std::min(j * D + d, n_high - 1)];
    recons_one(M, sub_low.data(), sub_high.data(), sub.data(), work.data());
    for (int m = 0; m < M; m++) {
      int pos = d + m * D;
      if (pos >= N) fatal_exitf(-1, stdout, "Error: dim = %d ind = %d\n", M, m);
      Signal[pos] = sub[m];
    }
  }
}

void SubBandFilter::noise_transform(int N, float* Signal, float* Low, float* High) {
  if (N <= 0) return;
  int step = SampleDist;
  // Variances add with the squared taps; each product in double.
  auto variance = [&](int i, const std::vector<float>& rev, int size, int start) {
    float sum = 0.f;
    for (int k = 0; k < size; k++) {
      double tap = rev[k];
      sum += double(sample(Signal, i + (k + start) * step, N)) * (tap * tap);
    }
    return sum;
  };
  for (int i = 0; i < N; i += 2) Low[i / 2] = variance(i, H0_rev_, Size_H0, Start_H0);
  for (int i = 1; i < N; i += 2) High[i / 2] = variance(i, G0_rev_, Size_G0, Start_G0);
}

void SubBandFilter::transform(int N, float* Signal, float* Low, float* High, int Step) {
  for (int i = 0; i < N; i++) {
    Low[i] = spread_dot<float>(Signal, N, i, H0_rev_.data(), Size_H0, Start_H0, Step);
    High[i] = spread_dot<float>(Signal, N, i, G0_rev_.data(), Size_G0, Start_G0, Step);
  }
}

void SubBandFilter::recons(int N, float* Low, float* High, float* Signal, int Step) {
  if (N <= 0) return;
  // Two full-length bands carry the signal twice: hence the factor 0.5.
  // Computed into a work buffer so that Signal may be one of the bands.
  std::vector<double> out(N);
  double factor = ReconsFactor * 0.5;
  for (int i = 0; i < N; i++) {
    double a = spread_dot<double>(Low, N, i, H1, Size_H1, Start_H1, Step);
    double b = spread_dot<double>(High, N, i, G1, Size_G1, Start_G1, Step);
    out[i] = factor * (a + b);
  }
  for (int i = 0; i < N; i++) Signal[i] = float(out[i]);
}

void SubBandFilter::transform(to_array<float, true>& Signal, to_array<float, true>& High,
                              to_array<float, true>* Low) {
  int N = Signal.nx();
  int n_low = (N + 1) / 2;
  // High is not resized: a short one would be written past its end.
  if (High.n_elem() < N / 2)
    fatal_exitf(-1, stdout, "Error: high band of %d values for a signal of %d samples ...\n",
                High.n_elem(), N);
  std::vector<float> low(std::max(n_low, 1)), high(std::max(n_low, 1));
  transform(N, Signal.buffer(), low.data(), high.data());
  if (Low != nullptr) {
    Low->resize(n_low);
    std::copy(low.begin(), low.begin() + n_low, Low->buffer());
  }
  std::copy(high.begin(), high.begin() + N / 2, High.buffer());
}

void SubBandFilter::recons(to_array<float, true>& Signal, to_array<float, true>& High,
                           to_array<float, true>& Low) {
  int N = Signal.nx();
  int n_low = (N + 1) / 2;
  if (Low.n_elem() < n_low || High.n_elem() < N / 2)
    fatal_exitf(-1, stdout,
                "Error: bands of %d and %d values for a signal of %d samples ...\n",
                Low.n_elem(), High.n_elem(), N);
  // Sized for either phase; the values beyond the bands stay zero.
  std::vector<float> low(std::max(n_low, 1)), high(std::max(n_low, 1));
  std::copy(Low.buffer(), Low.buffer() + n_low, low.begin());
  std::copy(High.buffer(), High.buffer() + N / 2, high.begin());
  recons(N, low.data(), high.data(), Signal.buffer());
}
