// Forward and inverse 1D transforms of 1,000 signals of 256 samples with 4
// scales: the work the ridgelet transform does on the Radon projections of
// one block, through the Fourier-domain pyramid (its default variant) and
// the direct-space pyramid.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "filters/pyr1d_wt.h"
#include "filters/wt1d_fft.h"

namespace {

constexpr int kSignals = 1000, kLength = 256, kScales = 4;

std::vector<to_array<float, true>> random_signals() {
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> u(-1.f, 1.f);
  std::vector<to_array<float, true>> signals(kSignals);
  for (auto& s : signals) {
    s.alloc(kLength);
    for (int i = 0; i < kLength; i++) s(i) = u(gen);
  }
  return signals;
}

}  // namespace

static void BM_WT1DFFTPyramidForwardInverse(benchmark::State& state) {
  std::vector<to_array<float, true>> signals = random_signals();
  WT1D_FFT wt(2, kScales, kLength);
  to_array<float, true> trans, back(kLength);
  for (auto _ : state) {
    for (auto& s : signals) {
      wt.transform(s, trans, kScales);
      wt.recons(trans, back, kScales);
    }
    benchmark::DoNotOptimize(back.buffer());
  }
}
BENCHMARK(BM_WT1DFFTPyramidForwardInverse)->Unit(benchmark::kMillisecond);

static void BM_WT1DFFTUndecimatedForwardInverse(benchmark::State& state) {
  std::vector<to_array<float, true>> signals = random_signals();
  WT1D_FFT wt(1, kScales, kLength);
  to_array<float, true> trans, back(kLength);
  for (auto _ : state) {
    for (auto& s : signals) {
      wt.transform(s, trans, kScales);
      wt.recons(trans, back, kScales);
    }
    benchmark::DoNotOptimize(back.buffer());
  }
}
BENCHMARK(BM_WT1DFFTUndecimatedForwardInverse)->Unit(benchmark::kMillisecond);

static void BM_PYR1DForwardInverse(benchmark::State& state) {
  std::vector<to_array<float, true>> signals = random_signals();
  PYR1D_WT pyr(0, kScales, kLength);
  pyr.ExtraSmooth = 1;
  to_array<float, true> trans, back;
  for (auto _ : state) {
    for (auto& s : signals) {
      pyr.transform(s, trans);
      pyr.recons(trans, back);
    }
    benchmark::DoNotOptimize(back.buffer());
  }
}
BENCHMARK(BM_PYR1DForwardInverse)->Unit(benchmark::kMillisecond);
