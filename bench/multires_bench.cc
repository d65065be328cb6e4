// Forward plus inverse 2D wavelet transforms of a 1024 x 1024 image with
// five scales over the 7/9 bi-orthogonal taps: every scale decimated, the
// MCA's form (first scale undecimated), every scale undecimated (PAVE), and,
// as the yardstick, a plain separable convolution with the same taps doing
// the same number of multiply-adds on raw rows with zero borders.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "filters/sub_band_filter.h"
#include "multires/half_decimated_2d_wt.h"
#include "multires/sub_band_2d.h"

namespace {

constexpr int Side = 1024;
constexpr int NbrScale = 5;

to_array<float, false> bench_image() {
  to_array<float, false> ima(Side, Side, "bench");
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> u(0.f, 1000.f);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = u(gen);
  return ima;
}

void half_decimated(benchmark::State& state, int nbr_undec) {
  to_array<float, false> ima = bench_image(), rec(Side, Side);
  SubBandFilter filter(F_MALLAT_7_9, NORM_L2);
  HALF_DECIMATED_2D_WT wt(filter);
  to_array<float, false>* bands = nullptr;
  wt.alloc(bands, Side, Side, NbrScale, nbr_undec);
  for (auto _ : state) {
    wt.transform(ima, bands, NbrScale, nbr_undec);
    wt.recons(bands, rec, NbrScale, nbr_undec);
    benchmark::DoNotOptimize(rec.buffer());
  }
  wt.free(bands, NbrScale);
}

// out[i] = sum_k in[i + (k - size/2) * step] * taps[k], zero outside, on a
// run of n samples: the inner loop of an optimised separable filter.
void convolve_run(const float* in, float* out, int n, const float* taps, int size, int step,
                  int out_stride) {
  const int half = size / 2;
  for (int i = 0; i < n; i += out_stride) {
    float sum = 0.f;
    for (int k = 0; k < size; k++) {
      const int p = i + (k - half) * step;
      if (p >= 0 && p < n) sum += in[p] * taps[k];
    }
    out[i / out_stride] = sum;
  }
}

// The multiply-adds of one analysis and one synthesis of every scale: per
// direction the 9- and 7-tap filters, over the samples each scale keeps.
void separable_reference(benchmark::State& state, bool decimated) {
  to_array<float, false> ima = bench_image();
  SubBandFilter filter(F_MALLAT_7_9, NORM_L2);
  std::vector<float> line(Side), low(Side), high(Side);
  for (auto _ : state) {
    int n = Side, step = 1;
    for (int s = 0; s < NbrScale - 1; s++) {
      const int stride = decimated ? 2 : 1;
      // Undecimated analysis and synthesis each filter the lines twice and
      // the columns of two images twice; decimated steps halve the outputs
      // of the columns and of the synthesis.
      const int passes = decimated ? 4 : 6;
      for (int pass = 0; pass < passes; pass++)
        for (int i = 0; i < n; i++) {
          const float* row = ima.buffer() + static_cast<std::size_t>(i) * Side;
          convolve_run(row, low.data(), n, filter.H0, filter.Size_H0, step, stride);
          convolve_run(row, high.data(), n, filter.G0, filter.Size_G0, step, stride);
          benchmark::DoNotOptimize(low.data());
        }
      if (decimated) n = (n + 1) / 2;
      else step *= 2;
    }
  }
}

}  // namespace

static void BM_Mallat79ForwardInverse1024(benchmark::State& state) { half_decimated(state, 0); }
static void BM_HalfDecimated79ForwardInverse1024(benchmark::State& state) {
  half_decimated(state, 1);
}
static void BM_Pave79ForwardInverse1024(benchmark::State& state) { half_decimated(state, -1); }
static void BM_SeparableConvDecimated79_1024(benchmark::State& state) {
  separable_reference(state, true);
}
static void BM_SeparableConvUndecimated79_1024(benchmark::State& state) {
  separable_reference(state, false);
}
BENCHMARK(BM_Mallat79ForwardInverse1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HalfDecimated79ForwardInverse1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pave79ForwardInverse1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeparableConvDecimated79_1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeparableConvUndecimated79_1024)->Unit(benchmark::kMillisecond);
