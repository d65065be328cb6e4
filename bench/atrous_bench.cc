// One forward and one inverse a trous transform of a 1024 x 1024 image with
// five scales: the smoothing cost that every MCA iteration pays per base.
#include <benchmark/benchmark.h>

#include <random>

#include "multires/atrous_2d_wt.h"

static void BM_AtrousForwardInverse1024(benchmark::State& state) {
  const int n = 1024, nbr_scale = 5;
  to_array<float, false> ima(n, n, "bench"), rec;
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> u(0.f, 1000.f);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = u(gen);
  ATROUS_2D_WT at;
  to_array<float, false>* bands = nullptr;
  at.alloc(bands, n, n, nbr_scale);
  for (auto _ : state) {
    at.transform(ima, bands, nbr_scale);
    at.recons(bands, rec, nbr_scale, True);
    benchmark::DoNotOptimize(rec.buffer());
  }
  at.free(bands, nbr_scale);
}
BENCHMARK(BM_AtrousForwardInverse1024)->Unit(benchmark::kMillisecond);
