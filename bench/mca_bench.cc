// Decompositions of the sample image data/m51.fits without the file writes:
// the program's first example (100 a trous iterations) and the cartoon +
// texture separation, per iteration and whole.
#include <benchmark/benchmark.h>

#include <chrono>
#include <complex>
#include <string>
#include <vector>

#include "io/io_dispatch.h"
#include "mca/mca.h"
#include "mca/mca_options.h"
#include "numerics/fftn_2d.h"

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
  reset_mca_options();
  std::vector<std::string> words = {"qz_mca", "-t", "1", "-t", "5", "-C", "0.25", "-g", "1",
                                    "-i", std::to_string(iterations), "in", "out"};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  filtinit(static_cast<int>(argv.size()), argv.data());
  const auto start = std::chrono::steady_clock::now();
  MCA mca;
  mca_configure(mca);
  mca.alloc(data.nl(), data.nc(), nullptr);
  to_array<float, false> work = data;
  mca.decomposition(work);
  benchmark::DoNotOptimize(mca.Resi.buffer());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

static void BM_Fft512Once(benchmark::State& state) {
  to_array<std::complex<float>, false> data(512, 512);
  for (int k = 0; k < data.n_elem(); k++) data(k) = std::complex<float>(float(k % 17), float(k % 5));
  FFTN_2D fft;
  for (auto _ : state) {
    fft.fftn2d(data, False);
    benchmark::DoNotOptimize(data.buffer());
  }
}
BENCHMARK(BM_Fft512Once)->Unit(benchmark::kMillisecond);
