// One forward and one inverse a trous transform of a 1024 x 1024 image with
// five scales: the smoothing cost that every MCA iteration pays per base.
// The argument is the number of threads, 0 for all of them.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <random>

#include "multires/atrous_2d_wt.h"

static void BM_AtrousForwardInverse1024(benchmark::State& state) {
  const int saved = omp_get_max_threads();
  const int threads = static_cast<int>(state.range(0));
  omp_set_num_threads(threads > 0 ? threads : omp_get_num_procs());
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
  omp_set_num_threads(saved);
}
BENCHMARK(BM_AtrousForwardInverse1024)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
