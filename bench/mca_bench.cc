// Decompositions of the sample image data/m51.fits without the file writes:
// the program's first example (100 a trous iterations) and the cartoon +
// texture separation, per iteration and whole.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/mca_run.h"
#include "io/io_dispatch.h"

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

// One iteration of the cartoon + texture separation (-t 1 -t 5 -C 0.25) of
// m51, configured through the command line as the program is: the time of
// 11 iterations less that of 1 (the first levels and allocation), over 10.
// Run it with OMP_NUM_THREADS=1 to compare with one 512 x 512 FFT
// (BM_Fft512Once) and with all threads for the speed-up.
static double cartoon_texture_run(const to_array<float, false>& data, int iterations) {
  return timed_mca_run(data, {"-t", "1", "-t", "5", "-C", "0.25", "-g", "1", "-i",
                              std::to_string(iterations)});
}

static void BM_McaCartoonTextureIterationM51(benchmark::State& state) {
  to_array<float, false> data;
  io_read_ima_float(QZ_SOURCE_DIR "/data/m51.fits", data);
  for (auto _ : state) {
    const double per_iteration =
        (cartoon_texture_run(data, 11) - cartoon_texture_run(data, 1)) / 10.;
    state.SetIterationTime(per_iteration);
  }
}
BENCHMARK(BM_McaCartoonTextureIterationM51)->UseManualTime()->Unit(benchmark::kMillisecond);

static void BM_McaCartoonTexture100IterationsM51(benchmark::State& state) {
  to_array<float, false> data;
  io_read_ima_float(QZ_SOURCE_DIR "/data/m51.fits", data);
  for (auto _ : state) state.SetIterationTime(cartoon_texture_run(data, 100));
}
BENCHMARK(BM_McaCartoonTexture100IterationsM51)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK(BM_Fft512Once)->Unit(benchmark::kMillisecond);
