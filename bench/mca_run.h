// Pieces the MCA benchmarks share: a decomposition configured through the
// command line as the program configures it, timed without the file reads
// and writes, and one 512 x 512 FFT of this project, the yardstick of an
// iteration's cost.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <complex>
#include <string>
#include <vector>

#include "mca/mca.h"
#include "mca/mca_options.h"
#include "numerics/fftn_2d.h"

// Seconds of a decomposition of data under the options (no file names);
// with no -t among them the program's default pair is selected, as its main
// does.
inline double timed_mca_run(const to_array<float, false>& data,
                            const std::vector<std::string>& options) {
  reset_mca_options();
  std::vector<std::string> words = {"qz_mca"};
  words.insert(words.end(), options.begin(), options.end());
  words.push_back("in");
  words.push_back("out");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  filtinit(static_cast<int>(argv.size()), argv.data());
  if (NbrBase == 0) {
    NbrBase = 2;
    TabSelect[0] = MCA_ATROU;
    TabSelect[1] = MCA_CUR;
  }
  const auto start = std::chrono::steady_clock::now();
  MCA mca;
  mca_configure(mca);
  mca.alloc(data.nl(), data.nc(), nullptr);
  to_array<float, false> work = data;
  mca.decomposition(work);
  benchmark::DoNotOptimize(mca.Resi.buffer());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline void BM_Fft512Once(benchmark::State& state) {
  to_array<std::complex<float>, false> data(512, 512);
  for (int k = 0; k < data.n_elem(); k++)
    data(k) = std::complex<float>(float(k % 17), float(k % 5));
  FFTN_2D fft;
  for (auto _ : state) {
    fft.fftn2d(data, False);
    benchmark::DoNotOptimize(data.buffer());
  }
}
