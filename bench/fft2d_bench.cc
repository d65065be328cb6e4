// 2D complex FFTs through FFTN_2D, the engine under every curvelet base:
// square power-of-two sides take the radix-2 engine, the other sizes the
// mixed-radix one. One forward and one inverse transform per iteration.
// When FFTW is found at configure time the same work is timed with it
// (single precision, FFTW_MEASURE plans) as a yardstick.
#include <benchmark/benchmark.h>

#include <complex>
#include <random>

#include "numerics/fftn_2d.h"

#ifdef QZ_BENCH_FFTW
#include <fftw3.h>
#endif

namespace {

void fill_random(std::complex<float>* data, long n) {
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> dist(-1.f, 1.f);
  for (long k = 0; k < n; k++) data[k] = std::complex<float>(dist(gen), dist(gen));
}

// Two transforms per iteration: the time of one, in seconds.
void count_transforms(benchmark::State& state) {
  state.counters["per_transform"] = benchmark::Counter(
      2. * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int n : {256, 512, 768, 1000, 1024, 257, 513}) b->Arg(n);
  b->Unit(benchmark::kMillisecond);
}

}  // namespace

static void BM_Fft2dForwardInverse(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  to_array<std::complex<float>, false> data(n, n);
  fill_random(data.buffer(), data.n_elem());
  FFTN_2D fft;
  for (auto _ : state) {
    fft.fftn2d(data, False);
    fft.fftn2d(data, True);
    benchmark::DoNotOptimize(data.buffer());
  }
  count_transforms(state);
}
BENCHMARK(BM_Fft2dForwardInverse)->Apply(sizes);

#ifdef QZ_BENCH_FFTW
// FFTW leaves the inverse unscaled; the scaling pass is part of the work
// compared, as FFTN_2D does it.
static void BM_Fftw2dForwardInverse(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const long total = static_cast<long>(n) * n;
  auto* data = static_cast<std::complex<float>*>(fftwf_malloc(sizeof(fftwf_complex) * total));
  auto* io = reinterpret_cast<fftwf_complex*>(data);
  fftwf_plan forward = fftwf_plan_dft_2d(n, n, io, io, FFTW_BACKWARD, FFTW_MEASURE);
  fftwf_plan inverse = fftwf_plan_dft_2d(n, n, io, io, FFTW_FORWARD, FFTW_MEASURE);
  fill_random(data, total);
  const float scale = 1.f / static_cast<float>(total);
  for (auto _ : state) {
    fftwf_execute(forward);
    fftwf_execute(inverse);
    for (long k = 0; k < total; k++) data[k] *= scale;
    benchmark::DoNotOptimize(data);
  }
  count_transforms(state);
  fftwf_destroy_plan(forward);
  fftwf_destroy_plan(inverse);
  fftwf_free(data);
}
BENCHMARK(BM_Fftw2dForwardInverse)->Apply(sizes);
#endif
