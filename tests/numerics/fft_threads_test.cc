// FFTs from several threads at once and with any number of OpenMP threads:
// the results are bit for bit those of one thread, since every line is
// transformed by the same arithmetic whichever thread takes it, and plans
// are shared read-only.
#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "numerics/fftn.h"
#include "numerics/fftn_1d.h"
#include "numerics/fftn_2d.h"
#include "support/test_images.h"

namespace {

using Icf = to_array<std::complex<float>, false>;

bool same_bits(const Icf& a, const Icf& b) {
  return a.n_elem() == b.n_elem() &&
         std::memcmp(a.buffer(), b.buffer(), sizeof(std::complex<float>) * a.n_elem()) == 0;
}

// Forward then inverse on the general path (257 x 300, a large prime side)
// and the radix-2 path (256 x 256), on `threads` OpenMP threads.
std::vector<Icf> transforms_on(int threads) {
  const int previous = omp_get_max_threads();
  omp_set_num_threads(threads);
  std::vector<Icf> out;
  for (auto [nl, nc] : {std::pair{257, 300}, {256, 256}, {300, 257}}) {
    Icf data = random_complex_image(nl, nc, nl + nc);
    FFTN_2D fft;
    fft.fftn2d(data);
    out.push_back(data);
    fft.ifftn2d(data);
    out.push_back(data);
  }
  // Three dimensions, double precision, large enough to be shared out.
  to_array<std::complex<double>, false> cube = random_complex_image<double>(40, 33 * 27, 4);
  FFTN fft;
  fft.transform3d(reinterpret_cast<double*>(cube.buffer()), 40, 33, 27, False);
  // Its bytes, compared like the others: every bit of the double results.
  Icf bits(40, 33 * 27 * 2);
  std::memcpy(static_cast<void*>(bits.buffer()), cube.buffer(),
              sizeof(std::complex<double>) * cube.n_elem());
  out.push_back(bits);
  omp_set_num_threads(previous);
  return out;
}

}  // namespace

TEST(FftThreads, ResultsDoNotDependOnTheThreadCount) {
  const auto one = transforms_on(1);
  const auto eight = transforms_on(8);
  ASSERT_EQ(one.size(), eight.size());
  for (size_t k = 0; k < one.size(); k++) EXPECT_TRUE(same_bits(one[k], eight[k])) << k;
}

// Threads transform lengths no plan exists for yet (so that they race to
// build them), while another thread creates and destroys FFT objects and
// calls fft_free; each result must equal the same transform done alone.
TEST(FftThreads, ConcurrentTransformsEqualTheSingleThreadResult) {
  const std::vector<std::pair<int, int>> sizes = {
      {211, 97}, {1021, 3}, {97, 211}, {389, 20}, {128, 128}, {128, 128}};
  std::vector<Icf> inputs, results(sizes.size());
  for (size_t t = 0; t < sizes.size(); t++)
    inputs.push_back(random_complex_image(sizes[t].first, sizes[t].second, 11 + t));
  std::vector<std::thread> workers;
  for (size_t t = 0; t < sizes.size(); t++) {
    workers.emplace_back([&, t] {
      Icf data = inputs[t];
      FFTN_2D fft;
      for (int round = 0; round < 3; round++) {
        fft.fftn2d(data);
        if (round < 2) fft.ifftn2d(data);
      }
      results[t] = data;
    });
  }
  workers.emplace_back([] {
    for (int round = 0; round < 200; round++) {
      FFTN_1D scratch;
      std::vector<std::complex<float>> v(64, 1.f);
      scratch.fftn1d(v.data(), 64);
      fft_free();
    }
  });
  for (auto& w : workers) w.join();
  for (size_t t = 0; t < sizes.size(); t++) {
    Icf alone = inputs[t];
    FFTN_2D fft;
    for (int round = 0; round < 3; round++) {
      fft.fftn2d(alone);
      if (round < 2) fft.ifftn2d(alone);
    }
    EXPECT_TRUE(same_bits(results[t], alone)) << sizes[t].first << "x" << sizes[t].second;
  }
}

// FFT objects ending on several threads at once release the work state
// together. Each round the names hold blocks again (large enough to be
// unmapped when freed, so that a second free of one crashes), and every
// thread releases them at the same moment: each block must be freed once and
// the names left empty. (A ThreadSanitizer build reports the race itself.)
TEST(FftThreads, SimultaneousReleasesFreeEachBlockOnce) {
  constexpr int Threads = 4, Rounds = 300;
  constexpr size_t Bytes = 1 << 20;
  std::atomic<int> go{0}, done{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < Threads; t++)
    workers.emplace_back([&] {
      for (int round = 1; round <= Rounds; round++) {
        while (go.load() < round) std::this_thread::yield();
        if (round % 2) {
          fft_free();
        } else {
          FFTN_2D ending;  // its destructors release twice
        }
        done.fetch_add(1);
      }
    });
  for (int round = 1; round <= Rounds; round++) {
    for (void** p : {&Tmp0, &Tmp1, &Tmp2, &Tmp3}) *p = std::malloc(Bytes);
    Perm = static_cast<int*>(std::malloc(Bytes));
    SpaceAlloced = MaxPermAlloced = Bytes;
    go.store(round);
    while (done.load() < round * Threads) std::this_thread::yield();
    EXPECT_TRUE(Tmp0 == nullptr && Tmp1 == nullptr && Tmp2 == nullptr && Tmp3 == nullptr &&
                Perm == nullptr && SpaceAlloced == 0 && MaxPermAlloced == 0)
        << round;
  }
  for (auto& w : workers) w.join();
}

// A transform called from inside a parallel region (each thread its own
// images, large enough to go parallel themselves) gives the result of the
// same transform outside it.
TEST(FftThreads, TransformsInsideAParallelRegion) {
  constexpr int Blocks = 8;
  std::vector<Icf> blocks, alone;
  for (int b = 0; b < Blocks; b++)
    blocks.push_back(b % 2 ? random_complex_image(256, 256, b) : random_complex_image(200, 170 + b, b));
  alone = blocks;
  FFTN_2D outer;
  for (auto& a : alone) outer.fftn2d(a);
#pragma omp parallel for num_threads(4)
  for (int b = 0; b < Blocks; b++) {
    FFTN_2D fft;
    fft.fftn2d(blocks[b]);
  }
  for (int b = 0; b < Blocks; b++) EXPECT_TRUE(same_bits(blocks[b], alone[b])) << b;
}
