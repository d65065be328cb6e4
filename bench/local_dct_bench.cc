// One local block DCT and its reconstruction of a 512 x 512 image with
// overlapping blocks of 32: the work of the local-DCT base at every MCA
// iteration. Arguments: WeightFirst, then the number of threads (0 for all).
#include <benchmark/benchmark.h>
#include <omp.h>

#include <random>

#include "numerics/local_dct2d.h"

static void BM_LocalDctTransformRecons(benchmark::State& state) {
  const int saved = omp_get_max_threads();
  const int threads = static_cast<int>(state.range(1));
  omp_set_num_threads(threads > 0 ? threads : omp_get_num_procs());
  const int n = 512;
  to_array<float, false> ima(n, n), back(n, n);
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> dist(0.f, 1000.f);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = dist(gen);
  LOCAL_DCT2D dct;
  dct.alloc(n, n, 32, True, static_cast<Bool>(state.range(0)));
  for (auto _ : state) {
    dct.transform(ima);
    dct.recons(back);
    benchmark::DoNotOptimize(back.buffer());
  }
  state.SetItemsProcessed(state.iterations() * dct.B2D.nbr_block());
  omp_set_num_threads(saved);
}
BENCHMARK(BM_LocalDctTransformRecons)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
