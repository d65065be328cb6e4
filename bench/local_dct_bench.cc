// One local block DCT and its reconstruction of a 512 x 512 image with
// overlapping blocks of 32: the work of the local-DCT base at every MCA
// iteration.
#include <benchmark/benchmark.h>

#include <random>

#include "numerics/local_dct2d.h"

static void BM_LocalDctTransformRecons(benchmark::State& state) {
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
}
BENCHMARK(BM_LocalDctTransformRecons)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
