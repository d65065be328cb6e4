// 2D complex FFTs through FFTN_2D, the engine under every curvelet base:
// square power-of-two sides take the radix-2 engine, the other sizes the
// mixed-radix one. When FFTW is found at configure time the same transforms
// are timed with it (single precision, in place, FFTW_MEASURE plans) as a
// yardstick, right after ours at each size.
//
// Both libraries are timed alike: the forward transform alone, and forward
// then inverse. Neither gets a pass the other lacks: FFTN_2D divides its
// inverse by Nl·Nc as part of the transform (inside the column pass on
// power-of-two sides), FFTW leaves its inverse unscaled and no scaling loop
// is added to it, so a ratio ours / FFTW errs, if anything, against us.
// FFTN_2D keeps its default centring, as every caller uses it. The forward
// transform alone starts each time from the same input, restored outside the
// timing, so that the values never grow to infinities.
//
// For one thread run with OMP_NUM_THREADS=1 (FFTW is linked without its
// thread library); the label gives our thread count and instruction set.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <complex>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "array/cpu_dispatch.h"
#include "numerics/fftn_2d.h"

#ifdef QZ_BENCH_FFTW
#include <fftw3.h>
#endif

namespace {

const int kSides[] = {256, 257, 512, 513, 768, 1000, 1024};

std::vector<std::complex<float>> random_values(long n) {
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> dist(-1.f, 1.f);
  std::vector<std::complex<float>> values(n);
  for (auto& v : values) v = std::complex<float>(dist(gen), dist(gen));
  return values;
}

// The time of one transform, in seconds.
void count_transforms(benchmark::State& state, int per_iteration) {
  state.counters["per_transform"] =
      benchmark::Counter(static_cast<double>(per_iteration) * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void restore(benchmark::State& state, std::complex<float>* data,
             const std::vector<std::complex<float>>& input) {
  state.PauseTiming();
  std::memcpy(data, input.data(), input.size() * sizeof input[0]);
  state.ResumeTiming();
}

void fftn2d_bench(benchmark::State& state, int n, bool with_inverse) {
  const auto input = random_values(static_cast<long>(n) * n);
  to_array<std::complex<float>, false> data(n, n);
  std::memcpy(data.buffer(), input.data(), input.size() * sizeof input[0]);
  FFTN_2D fft;
  for (auto _ : state) {
    if (!with_inverse) restore(state, data.buffer(), input);
    fft.fftn2d(data, False);
    if (with_inverse) fft.fftn2d(data, True);
    benchmark::DoNotOptimize(data.buffer());
    benchmark::ClobberMemory();
  }
  count_transforms(state, with_inverse ? 2 : 1);
  state.SetLabel(std::to_string(omp_get_max_threads()) + " thread(s), " +
                 (cpu_has_avx2() ? "AVX2" : "plain") + " loops");
}

#ifdef QZ_BENCH_FFTW
void fftw_bench(benchmark::State& state, int n, bool with_inverse) {
  const auto input = random_values(static_cast<long>(n) * n);
  auto* data = static_cast<std::complex<float>*>(fftwf_malloc(sizeof(fftwf_complex) * input.size()));
  auto* io = reinterpret_cast<fftwf_complex*>(data);
  // FFTN_2D's forward transform takes the positive exponent, FFTW's backward.
  fftwf_plan forward = fftwf_plan_dft_2d(n, n, io, io, FFTW_BACKWARD, FFTW_MEASURE);
  fftwf_plan inverse = fftwf_plan_dft_2d(n, n, io, io, FFTW_FORWARD, FFTW_MEASURE);
  std::memcpy(data, input.data(), input.size() * sizeof input[0]);  // planning wrote over it
  for (auto _ : state) {
    if (!with_inverse) restore(state, data, input);
    fftwf_execute(forward);
    if (with_inverse) fftwf_execute(inverse);
    benchmark::DoNotOptimize(data);
    benchmark::ClobberMemory();
  }
  count_transforms(state, with_inverse ? 2 : 1);
  state.SetLabel("FFTW_MEASURE, in place, unscaled");
  fftwf_destroy_plan(forward);
  fftwf_destroy_plan(inverse);
  fftwf_free(data);
}
#endif

// Ours and FFTW's side by side at each size, so that a change in the
// machine's load between sizes touches both.
[[maybe_unused]] const bool registered = [] {
  for (int n : kSides) {
    for (bool with_inverse : {false, true}) {
      const std::string what = with_inverse ? "ForwardInverse/" : "Forward/";
      benchmark::RegisterBenchmark(("BM_Fftn2d" + what + std::to_string(n)).c_str(),
                                   fftn2d_bench, n, with_inverse)
          ->Unit(benchmark::kMillisecond);
#ifdef QZ_BENCH_FFTW
      benchmark::RegisterBenchmark(("BM_Fftw2d" + what + std::to_string(n)).c_str(),
                                   fftw_bench, n, with_inverse)
          ->Unit(benchmark::kMillisecond);
#endif
    }
  }
  return true;
}();

}  // namespace
