// 2D complex FFTs through FFTN_2D, the engine under every curvelet base:
// square power-of-two sides take the radix-2 engine, 1000 and 257 the
// mixed-radix one. One forward and one inverse transform per iteration.
#include <benchmark/benchmark.h>

#include <complex>
#include <random>

#include "numerics/fftn_2d.h"

static void BM_Fft2dForwardInverse(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  to_array<std::complex<float>, false> data(n, n);
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> dist(-1.f, 1.f);
  for (int k = 0; k < data.n_elem(); k++) data(k) = std::complex<float>(dist(gen), dist(gen));
  FFTN_2D fft;
  for (auto _ : state) {
    fft.fftn2d(data, False);
    fft.fftn2d(data, True);
    benchmark::DoNotOptimize(data.buffer());
  }
  // Two transforms per iteration: the time of one, in seconds.
  state.counters["per_transform"] = benchmark::Counter(
      2. * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Fft2dForwardInverse)
    ->Arg(256)
    ->Arg(512)
    ->Arg(1024)
    ->Arg(1000)
    ->Arg(257)
    ->Unit(benchmark::kMillisecond);
