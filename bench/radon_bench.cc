// Radon transforms of a 256 x 256 image (257 for the finite transform, whose
// side must be prime): linogram, slant stack and finite transform, forward
// and inverse, beside two spatial references, the method-0 projection and a
// plain rotate-and-sum with bilinear interpolation over the linogram's 512
// directions. The linogram is the ridgelet's inner step and should beat the
// rotate-and-sum by an order of magnitude or more.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "radon/radon.h"

namespace {

using Image = to_array<float, false>;

Image bench_image(int n) {
  Image ima(n, n, "bench");
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> u(0.f, 1000.f);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = u(gen);
  return ima;
}

void forward(benchmark::State& state, type_radon method, int n) {
  Image ima = bench_image(n), rad;
  Radon r;
  r.alloc(n, n, method, 0, 0);
  for (auto _ : state) {
    r.transform(ima, rad);
    benchmark::DoNotOptimize(rad.buffer());
  }
}

void inverse(benchmark::State& state, type_radon method, int n, int iterations) {
  Image ima = bench_image(n), rad, rec;
  Radon r;
  r.alloc(n, n, method, 0, 0);
  r.NbrSlantStackIter = iterations;
  r.transform(ima, rad);
  for (auto _ : state) {
    r.recons(rad, rec);
    benchmark::DoNotOptimize(rec.buffer());
  }
}

// Every direction: rotate the image by bilinear interpolation about its
// centre and sum the rotated columns into one projection.
void rotate_and_sum(const Image& ima, Image& rad, int nbr_dir) {
  const int n = ima.nl();
  const double c = n / 2;
  for (int d = 0; d < nbr_dir; d++) {
    const double theta = d * M_PI / nbr_dir, ct = std::cos(theta), st = std::sin(theta);
    float* proj = rad.buffer() + static_cast<size_t>(d) * n;
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) {
        const double x = ct * (j - c) - st * (i - c) + c, y = st * (j - c) + ct * (i - c) + c;
        const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
        if (x0 < 0 || y0 < 0 || x0 + 1 >= n || y0 + 1 >= n) continue;
        const float fx = static_cast<float>(x - x0), fy = static_cast<float>(y - y0);
        const float* r0 = ima.buffer() + static_cast<size_t>(y0) * n + x0;
        const float* r1 = r0 + n;
        proj[j] += (1.f - fy) * ((1.f - fx) * r0[0] + fx * r0[1]) + fy * ((1.f - fx) * r1[0] + fx * r1[1]);
      }
  }
}

}  // namespace

static void BM_LinogramForward256(benchmark::State& s) { forward(s, RADON_FFT, 256); }
static void BM_LinogramInverse256(benchmark::State& s) { inverse(s, RADON_FFT, 256, 0); }
static void BM_SlantStackForward256(benchmark::State& s) { forward(s, RADON_SLANT_STACK, 256); }
static void BM_SlantStackInverse256(benchmark::State& s) { inverse(s, RADON_SLANT_STACK, 256, 1); }
static void BM_SlantStackIterInverse256(benchmark::State& s) { inverse(s, RADON_SLANT_STACK, 256, 10); }
static void BM_FiniteForward257(benchmark::State& s) { forward(s, RADON_FINITE, 257); }
static void BM_FiniteInverse257(benchmark::State& s) { inverse(s, RADON_FINITE, 257, 0); }
static void BM_SpatialProjection256(benchmark::State& s) { forward(s, RADON_PROJ_BACK, 256); }
static void BM_RotateAndSum256(benchmark::State& s) {
  Image ima = bench_image(256), rad(512, 256);
  for (auto _ : s) {
    rad.init();
    rotate_and_sum(ima, rad, 512);
    benchmark::DoNotOptimize(rad.buffer());
  }
}

BENCHMARK(BM_LinogramForward256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinogramInverse256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SlantStackForward256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SlantStackInverse256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SlantStackIterInverse256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FiniteForward257)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FiniteInverse257)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpatialProjection256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateAndSum256)->Unit(benchmark::kMillisecond);
