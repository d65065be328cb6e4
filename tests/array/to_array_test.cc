// Allocation, reshaping, access and border rules of the array type, and the
// buffer pools behind its large arrays.
#include "array/to_array.h"

#include <gtest/gtest.h>
#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/capture.h"
#include "support/death.h"
#include "support/test_images.h"

TEST(ToArray, ShapesFollowTheSizesAndTheBoolParameter) {
  to_array<float, false> empty;
  empty.alloc(0, 0, 0);
  EXPECT_EQ(empty.buffer(), nullptr);
  EXPECT_EQ(empty.naxis(), 0);
  EXPECT_EQ(empty.n_elem(), 0);
  empty.alloc(0, 5, 0);  // naxis follows the last non-zero size
  EXPECT_EQ(empty.naxis(), 2);
  EXPECT_EQ(empty.n_elem(), 0);

  to_array<float, false> img(3, 5);
  img(2, 4) = 7.f;
  EXPECT_EQ(img.nl() * 10 + img.nc(), 35);
  EXPECT_EQ(img.nx(), 5);
  EXPECT_EQ(img.buffer()[2 * 5 + 4], 7.f);
  to_array<float, true> sig(3, 5);
  sig(2, 4) = 9.f;
  EXPECT_EQ(sig.nx() * 10 + sig.ny(), 35);
  EXPECT_EQ(sig.buffer()[4 * 3 + 2], 9.f);
  to_array<int, true> cube(2, 3, 4);
  cube(1, 2, 3) = 5;
  EXPECT_EQ(cube.naxis(), 3);
  EXPECT_EQ(cube.buffer()[(3 * 3 + 2) * 2 + 1], 5);

  to_array<float, false> line;
  line.alloc(7);
  EXPECT_EQ(line.naxis(), 1);
  EXPECT_EQ(line.nl(), 7);
  EXPECT_EQ(line.nc() + line.nx(), 0);
  EXPECT_EXIT_STATUS(line(1, 1), 255, "Error: naxis = 1 and a two dim array is expected ...");
  EXPECT_EXIT_STATUS(img(1, 1, 1), 255, "Error: naxis = 2 and a three dim array is expected");
  EXPECT_EXIT_STATUS(line.alloc(100000, 100000), 255, "too large");
  EXPECT_EXIT_STATUS(line.alloc(-3, 4), 255, "negative");
}

TEST(ToArray, HeapUpToFiftyThousandElementsPoolAboveAllZeroFilled) {
  to_array<float, false> heap(100, 500), pooled(100, 501);
  EXPECT_EQ(heap.pool(), 0);
  EXPECT_EQ(pooled.pool(), 1);
  EXPECT_EQ(heap.maxfabs() + pooled.maxfabs(), 0.f);

  // A pool buffer comes back zeroed, whatever it held.
  double* first;
  {
    to_array<double, true> a(70001);
    a.init(3.0);
    first = a.buffer();
  }
  to_array<double, true> b(70001);
  EXPECT_EQ(b.buffer(), first);
  EXPECT_EQ(b.maxfabs(), 0.0);

  to_array<std::complex<float>, false> cf(3, 4);
  to_array<std::complex<float>, true> cfl(60000);
  EXPECT_EQ(cf(2, 3), std::complex<float>(0, 0));
  EXPECT_EQ(cfl(59999), std::complex<float>(0, 0));
  EXPECT_EQ(cfl.pool(), 1);
}

TEST(ToArray, ReformKeepsTheBufferUnlessTheCountGrows) {
  to_array<float, false> a(20, 20, "img");
  for (int k = 0; k < 400; k++) a(k) = float(k);
  float* buf = a.buffer();
  a.reform(10, 10);
  EXPECT_EQ(a.buffer(), buf);
  EXPECT_EQ(a.n_elem(), 100);
  EXPECT_EQ(a.nl() * 100 + a.nc(), 1010);
  for (int k = 0; k < 100; k++) ASSERT_EQ(a(k), float(k));
  EXPECT_EQ(a.name(), "img");
  a.reform(15, 15);
  EXPECT_EQ(a.n_elem(), 225);
  a(224) = 1.f;  // the grown buffer really holds 225 elements

  to_array<float, true> fresh;
  fresh.reform(4, 3);
  EXPECT_EQ(fresh.name(), "alloc resize");
  EXPECT_EQ(fresh.nx() * 10 + fresh.ny(), 43);
  for (int k = 0; k < 12; k++) EXPECT_EQ(fresh(k), 0.f);

  // A pool buffer kept by a reform to zero elements goes back to its pool on
  // the next alloc and on free.
  float* pooled;
  {
    to_array<float, true> p(60007);
    pooled = p.buffer();
    p.reform(0);
    p.alloc(10);
    to_array<float, true> again(60007);
    EXPECT_EQ(again.buffer(), pooled);
  }
  to_array<float, true> q(60007);
  q.reform(0);
  q.free();
  to_array<float, true> third(60007);
  EXPECT_EQ(third.buffer(), pooled);
}

TEST(ToArray, AssignmentAndCopiesTakeTheShapeNotTheName) {
  to_array<float, false> src(3, 4, "source");
  for (int k = 0; k < 12; k++) src(k) = float(k + 1);
  to_array<float, false> empty;
  empty = src;
  EXPECT_EQ(empty.name(), "alloc resize");
  EXPECT_EQ(empty.nl() * 10 + empty.nc(), 34);
  EXPECT_EQ(empty(2, 3), 12.f);

  to_array<float, false> big(10, 10, "big");
  float* buf = big.buffer();
  big = src;
  EXPECT_EQ(big.name(), "big");
  EXPECT_EQ(big.buffer(), buf);
  EXPECT_EQ(big.nl() * 10 + big.nc(), 34);
  EXPECT_EQ(big(1, 2), src(1, 2));

  to_array<float, false> copy(src), shaped;
  EXPECT_EQ(copy.name(), "");
  EXPECT_EQ(copy(2, 1), src(2, 1));
  shaped.init(src);
  EXPECT_EQ(shaped.nl() * 10 + shaped.nc(), 34);
  EXPECT_EQ(shaped(2, 3), 0.f);

  to_array<float, true> sig(3, 5), line(7);
  sig(2, 4) = 1.f;
  line(6) = 4.f;
  to_array<float, true> sig_copy(sig), line_copy(line);
  EXPECT_EQ(sig_copy.nx() * 10 + sig_copy.ny() + sig_copy(2, 4), 36.f);
  EXPECT_EQ(line_copy.naxis() + line_copy(6), 5.f);
}

TEST(ToArray, WrappedBuffersAreBorrowedOrHandedBackToThePool) {
  float data[6] = {1, 2, 3, 4, 5, 6};
  {
    to_array<float, false> a;
    a.alloc(data, 2, 3, nullptr, False);
    EXPECT_EQ(a(1, 2), 6.f);
    a(0, 0) = 10.f;
    a.alloc(data, 4, 0, nullptr, False);
    EXPECT_EQ(a.n_elem(), 0);  // 4 lines of no column
  }
  EXPECT_EQ(data[0], 10.f);

  int* p = MemMg_alloc(60003, 0);
  {
    to_array<int, false> a;
    a.alloc(p, 3, 20001, nullptr, True);
  }
  to_array<int, false> b(3, 20001);
  EXPECT_EQ(b.buffer(), p);
}

TEST(BorderRules, BorderedReadsAndIndexFunctions) {
  to_array<float, false> a = coded_image(4, 4);
  to_array<float, true> s(5), img(2, 2);
  for (int k = 0; k < 5; k++) s(k) = float(k);
  const struct {
    float got, expected;
  } reads[] = {
      {a(-1, 0, I_MIRROR), a(1, 0)}, {a(-1, 0, I_CONT), a(0, 0)}, {a(-1, 0, I_PERIOD), a(3, 0)},
      {a(-1, 0, I_ZERO), 0.f},       {a(-1, 7, I_CONT), a(0, 3)}, {a(2, 2, I_ZERO), a(2, 2)},
      {s(-2, I_MIRROR), 2.f},        {s(6, I_MIRROR), 2.f},       {s(-1, I_PERIOD), 4.f},
      {s(9, I_CONT), 4.f},           {s(5, I_ZERO), 0.f},
  };
  for (const auto& r : reads) EXPECT_EQ(r.got, r.expected) << &r - reads;
  EXPECT_EXIT_STATUS(a(-1, 0, static_cast<type_border>(5)), 255, "^$");  // no message
  EXPECT_EXIT_STATUS(img(0, I_CONT), 255, "Error: naxis = 2 and a one dim array is expected ...");

  // Far outside, the mirror of the 1D routines still lands inside.
  const struct {
    int got, expected;
  } indices[] = {
      {test_index_mirror(-5, 3), 2},         {test_index_mirror(7, 3), 0},
      {test_index_mirror(3, 3), 1},          {test_index_period(-7, 3), 2},
      {test_index_period(7, 3), 1},          {border_ind_test(-2, 5, I_MIRROR), 2},
      {border_ind_test(6, 5, I_MIRROR), 2},  {border_ind_test(-2, 5, I_CONT), 0},
      {border_ind_test(6, 5, I_CONT), 4},    {border_ind_test(-9, 5, I_MIRROR), 4},
      {border_ind_test(20, 5, I_MIRROR), 0}, {get_index(-1, 4, I_PERIOD), 3},
      {get_index(5, 4, I_MIRROR), 1},
  };
  for (const auto& r : indices) EXPECT_EQ(r.got, r.expected) << &r - indices;
  EXPECT_EQ(qz_test::stdout_of([] {
              EXPECT_EQ(get_index(9, 4, I_ZERO), 3);  // an index the caller can read
            }),
            "Error: bad parameter bord in  get_index");
}

TEST(BufferPools, ReuseOnlyExactSizesPerElementType) {
  float* a = MemMg_alloc(60000, 0.f);
  float* b = MemMg_alloc(60000, 0.f);
  EXPECT_NE(a, b);
  MemMg_free(a);
  MemMg_free(b);
  double* d = MemMg_alloc(60000, 0.0);  // its own pool: takes nothing of a or b
  EXPECT_EQ(MemMg_alloc(60000, 0.f), a);
  float* other = MemMg_alloc(60001, 0.f);  // only a free 60000 slot: a new one
  EXPECT_NE(other, b);
  MemMg_free(a);
  MemMg_free(other);
  MemMg_free(d);

  float heap_value = 0;
  EXPECT_EXIT_STATUS(MemMg_free(&heap_value), 255, "Error: CMemInt cannot deallocate the memory");
}

TEST(BufferPools, LargeNewBuffersAreZeroAndTheArrayZeroesTheOthers) {
  // Sizes no other test takes, so that the first requests make new slots.
  constexpr int large = 2100007, small = 70007;
  bool zeroed = false;
  float* fresh = MemMg_alloc(large, 0.f, &zeroed);
  ASSERT_TRUE(zeroed);
  int nonzero = 0;
  for (int k = 0; k < large; k++) nonzero += fresh[k] != 0.f;
  EXPECT_EQ(nonzero, 0);
  MemMg_free(fresh);

  // A dirty slot, reused: the pool says so, and the array hands out zeros.
  float* dirty = MemMg_alloc(small, 0.f, &zeroed);
  for (int k = 0; k < small; k++) dirty[k] = 7.f;
  MemMg_free(dirty);
  EXPECT_EQ(MemMg_alloc(small, 0.f, &zeroed), dirty);
  EXPECT_FALSE(zeroed);
  MemMg_free(dirty);
  to_array<float, false> a(7, 10001);
  ASSERT_EQ(a.buffer(), dirty);
  nonzero = 0;
  for (int k = 0; k < small; k++) nonzero += a(k) != 0.f;
  EXPECT_EQ(nonzero, 0);
}

// The threads of a parallel region take work buffers of one size side by
// side: no buffer may go to two of them at once, nor be lost to its slot.
TEST(BufferPools, ThreadsNeverShareABuffer) {
  constexpr int n = 50021, held = 256;  // a size no other test takes
  int shared = 0;
#pragma omp parallel num_threads(8) reduction(+ : shared)
  for (int k = 0; k < 3000; k++) {
    const int me = omp_get_thread_num() + 1;
    int* p = MemMg_alloc(n, 0);
    for (int j = 0; j < held; j++) p[j] = me;
    for (int j = 0; j < held; j++) shared += p[j] != me;
    MemMg_free(p);
  }
  EXPECT_EQ(shared, 0);
}

TEST(BufferPools, ExhaustionReportsAndStopsWithNonZeroStatus) {
  // 501 distinct sizes: the error line, the process's memory report and the
  // list of the 500 slots, then a non-zero status.
  EXPECT_EXIT_STATUS(
      {
        for (int k = 0; k <= 500; k++) MemMg_alloc(10 + k, 0.0);
      },
      255,
      "Error: CMemInt cannot allocate memory \\.\\.\\. \n"
      "(.|\n)*Vm(Peak|Size|RSS)(.|\n)*Buffer 0 Size = [0-9]+ (NOT )?USE \n"
      "(.|\n)*Buffer 499 Size = [0-9]+ USE \n");
}

// Images from 1 MB on are zeroed and copied in one stretch per thread: every
// element must still be reached, whatever the thread count and however the
// count splits, and the same inside a parallel region, where one thread does it.
TEST(ToArray, LargeFillsAndCopiesReachEveryElementOnAnyThreadCount) {
  struct Case {
    int threads, nl, nc;
    bool nested;
  };
  const Case cases[] = {{1, 512, 512, false}, {3, 513, 511, false}, {8, 601, 457, false},
                        {7, 262147, 1, false}, {8, 512, 513, true}};
  const int saved = omp_get_max_threads();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.threads << " threads, " << c.nl << " x " << c.nc);
    omp_set_num_threads(c.threads);
    to_array<float, false> source(c.nl, c.nc), fresh, copy;
    for (int k = 0; k < source.n_elem(); k++) source(k) = static_cast<float>(k % 9973) - 17.f;
    // A dirty buffer of exactly this size goes back to the pool, then is
    // taken again by a new array, which must hand out zeros.
    float* dirty;
    {
      to_array<float, false> used(c.nl, c.nc);
      used.init(5.f);
      dirty = used.buffer();
    }
    auto fill_and_copy = [&] {
      fresh.alloc(c.nl, c.nc, "fresh");
      copy = source;
    };
    if (c.nested) {
#pragma omp parallel num_threads(2)
      {
#pragma omp single
        fill_and_copy();
      }
    } else {
      fill_and_copy();
    }
    ASSERT_EQ(fresh.buffer(), dirty);
    int nonzero = 0, differ = 0;
    for (int k = 0; k < fresh.n_elem(); k++) nonzero += fresh(k) != 0.f;
    for (int k = 0; k < source.n_elem(); k++) differ += copy(k) != source(k);
    EXPECT_EQ(nonzero, 0);
    EXPECT_EQ(differ, 0);
    EXPECT_EQ(copy.nl(), c.nl);
    EXPECT_EQ(copy.nc(), c.nc);
  }
  omp_set_num_threads(saved);
}
