// Block ridgelet transform (default variant: linogram Radon and FFT-based
// pyramidal 1D transform) of a 512 x 512 image with half-overlapping blocks
// of 16, 32 and 64, forward and inverse. The blocks run in parallel, so the
// figures scale with OMP_NUM_THREADS.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

#include "radon/ridgelet.h"

namespace {

using Image = to_array<float, false>;

// Straight lines of every slope on a noisy background: the ridgelet's
// natural content.
Image lines_image(int n) {
  Image ima(n, n, "lines");
  std::mt19937 gen(1);
  std::normal_distribution<float> noise(0.f, 1.f);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      float v = noise(gen);
      for (int line = 1; line <= 8; line++)
        if (std::abs(i - line * j / 4 + 20 * line) < 2) v += 50.f;
      ima(i, j) = v;
    }
  return ima;
}

void BM_RidgeletForward(benchmark::State& state) {
  const int block = static_cast<int>(state.range(0));
  Image ima = lines_image(512), trans;
  Ridgelet rid;
  rid.alloc(512, 512, block);
  for (auto _ : state) {
    rid.transform(ima, trans);
    benchmark::DoNotOptimize(trans.buffer());
  }
}

void BM_RidgeletInverse(benchmark::State& state) {
  const int block = static_cast<int>(state.range(0));
  Image ima = lines_image(512), trans, rec;
  Ridgelet rid;
  rid.alloc(512, 512, block);
  rid.transform(ima, trans);
  for (auto _ : state) {
    rid.recons(trans, rec);
    benchmark::DoNotOptimize(rec.buffer());
  }
}

BENCHMARK(BM_RidgeletForward)->Arg(16)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RidgeletInverse)->Arg(16)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace
