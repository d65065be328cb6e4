// The fast curvelet transform of a 512 x 512 image with 5 scales and 32
// directions at the finest scale (the MCA's set-up), forward and inverse
// apart, beside one 2D FFT of the same size and of the 513 x 513 working
// plane: the cost is a few FFTs of the padded image plus the wedges'.
#include <benchmark/benchmark.h>

#include <complex>
#include <random>

#include "curvelet/fcur.h"
#include "numerics/fftn_2d.h"

namespace {

to_array<float, false> random_image(int n) {
  to_array<float, false> ima(n, n);
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> dist(-1.f, 1.f);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = dist(gen);
  return ima;
}

void BM_FcurForward(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  FCUR f;
  f.alloc_from_fine(5, n, n, 32);
  to_array<float, false> ima = random_image(n);
  for (auto _ : state) {
    f.cur_trans(ima);
    benchmark::DoNotOptimize(f.TabCurvelet[0][0].buffer());
  }
}
BENCHMARK(BM_FcurForward)->Arg(512)->Unit(benchmark::kMillisecond);

void BM_FcurInverse(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  FCUR f;
  f.alloc_from_fine(5, n, n, 32);
  to_array<float, false> ima = random_image(n), rec(n, n);
  f.cur_trans(ima);
  for (auto _ : state) {
    state.PauseTiming();
    f.cur_trans(ima);  // the inverse consumes the bands
    state.ResumeTiming();
    f.cur_recons(rec);
    benchmark::DoNotOptimize(rec.buffer());
  }
}
BENCHMARK(BM_FcurInverse)->Arg(512)->Unit(benchmark::kMillisecond);

void BM_Fft2dForward(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  to_array<std::complex<float>, false> data(n, n);
  std::mt19937 gen(2);
  std::uniform_real_distribution<float> dist(-1.f, 1.f);
  for (int k = 0; k < data.n_elem(); k++) data(k) = std::complex<float>(dist(gen), dist(gen));
  FFTN_2D fft;
  for (auto _ : state) {
    fft.fftn2d(data, False);
    benchmark::DoNotOptimize(data.buffer());
  }
}
BENCHMARK(BM_Fft2dForward)->Arg(512)->Arg(513)->Unit(benchmark::kMillisecond);

}  // namespace
