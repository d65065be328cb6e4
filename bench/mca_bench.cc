// A 100-iteration a trous decomposition of the sample image data/m51.fits,
// the run behind the program's first example, without the file writes.
#include <benchmark/benchmark.h>

#include "io/io_dispatch.h"
#include "mca/mca.h"

static void BM_McaAtrous100IterationsM51(benchmark::State& state) {
  to_array<float, false> data;
  io_read_ima_float(QZ_SOURCE_DIR "/data/m51.fits", data);
  for (auto _ : state) {
    MCA mca;
    mca.NbrBase = 1;
    mca.TabSelect[0] = MCA_ATROU;
    mca.Noise_Ima = 0.5f;  // the program's default level
    mca.Nbr_Iter = 100;
    mca.FirstSoftThreshold = -1.f;
    mca.RemoveLastScale = 0;
    mca.AT_NbrScale = 5;
    mca.AT_KillLastScale = 0;
    mca.alloc(data.nl(), data.nc(), nullptr);
    to_array<float, false> work = data;
    mca.decomposition(work);
    benchmark::DoNotOptimize(mca.Resi.buffer());
  }
}
BENCHMARK(BM_McaAtrous100IterationsM51)->Unit(benchmark::kMillisecond);
