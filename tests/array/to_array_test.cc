// Allocation, reshaping, access and border rules of the array type.
#include "array/to_array.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/death.h"

TEST(ToArray, AllocZeroGivesEmptyArray) {
  to_array<float, false> a;
  a.alloc(0, 0, 0);
  EXPECT_EQ(a.buffer(), nullptr);
  EXPECT_EQ(a.naxis(), 0);
  EXPECT_EQ(a.n_elem(), 0);
}

TEST(ToArray, AxisOrderFollowsTheBoolParameter) {
  to_array<float, false> img(3, 5);
  EXPECT_EQ(img.nl(), 3);
  EXPECT_EQ(img.nc(), 5);
  EXPECT_EQ(img.nx(), 5);
  img(2, 4) = 7.f;
  EXPECT_EQ(img.buffer()[2 * 5 + 4], 7.f);

  to_array<float, true> sig(3, 5);
  EXPECT_EQ(sig.nx(), 3);
  EXPECT_EQ(sig.ny(), 5);
  sig(2, 4) = 9.f;
  EXPECT_EQ(sig.buffer()[4 * 3 + 2], 9.f);

  to_array<int, true> cube(2, 3, 4);
  EXPECT_EQ(cube.naxis(), 3);
  cube(1, 2, 3) = 5;
  EXPECT_EQ(cube.buffer()[(3 * 3 + 2) * 2 + 1], 5);
}

TEST(ToArray, OneDimensionalImageHasLinesOnly) {
  to_array<float, false> a;
  a.alloc(7);
  EXPECT_EQ(a.naxis(), 1);
  EXPECT_EQ(a.nl(), 7);
  EXPECT_EQ(a.nc(), 0);
  EXPECT_EQ(a.nx(), 0);
  EXPECT_EXIT_STATUS(a(1, 1), 255,
              "Error: naxis = 1 and a two dim array is expected ...");
}

TEST(ToArray, NaxisFollowsTheLastNonZeroSize) {
  to_array<float, false> a;
  a.alloc(0, 5, 0);
  EXPECT_EQ(a.naxis(), 2);
  EXPECT_EQ(a.n_elem(), 0);
}

TEST(ToArray, PoolThresholdIsFiftyThousandElements) {
  to_array<float, false> heap(100, 500);
  EXPECT_EQ(heap.pool(), 0);
  to_array<float, false> pooled(100, 501);
  EXPECT_EQ(pooled.pool(), 1);
  for (int k = 0; k < pooled.n_elem(); k++) ASSERT_EQ(pooled(k), 0.f);
  for (int k = 0; k < heap.n_elem(); k++) ASSERT_EQ(heap(k), 0.f);
}

TEST(ToArray, PooledBufferIsReusedAndZeroFilled) {
  float* first;
  {
    to_array<double, true> a(70001);
    a.init(3.0);
    first = reinterpret_cast<float*>(a.buffer());
  }
  to_array<double, true> b(70001);
  EXPECT_EQ(reinterpret_cast<float*>(b.buffer()), first);
  for (int k = 0; k < b.n_elem(); k++) ASSERT_EQ(b(k), 0.0);
  to_array<double, true> c(70001);  // the first slot is in use: a new one
  EXPECT_NE(c.buffer(), b.buffer());
}

TEST(ToArray, EveryElementTypeAllocates) {
  to_array<std::complex<float>, false> cf(3, 4);
  to_array<std::complex<double>, true> cd(5);
  to_array<std::complex<float>, true> cfl(60000);
  EXPECT_EQ(cf(2, 3), std::complex<float>(0, 0));
  EXPECT_EQ(cd(4), std::complex<double>(0, 0));
  EXPECT_EQ(cfl(59999), std::complex<float>(0, 0));
  EXPECT_EQ(cfl.pool(), 1);
}

TEST(ToArray, ReformKeepsBufferWhenShrinking) {
  to_array<float, false> a(20, 20, "img");
  for (int k = 0; k < 400; k++) a(k) = float(k);
  float* buf = a.buffer();
  a.reform(10, 10);
  EXPECT_EQ(a.buffer(), buf);
  EXPECT_EQ(a.n_elem(), 100);
  EXPECT_EQ(a.nl(), 10);
  EXPECT_EQ(a.nc(), 10);
  for (int k = 0; k < 100; k++) ASSERT_EQ(a(k), float(k));
  EXPECT_EQ(a.name(), "img");
  a.reform(15, 15);
  EXPECT_EQ(a.n_elem(), 225);
  EXPECT_EQ(a.naxis(), 2);
}

TEST(ToArray, ReformOfEmptyArrayZeroFillsAndNames) {
  to_array<float, true> a;
  a.reform(4, 3);
  EXPECT_EQ(a.name(), "alloc resize");
  EXPECT_EQ(a.nx(), 4);
  EXPECT_EQ(a.ny(), 3);
  for (int k = 0; k < 12; k++) EXPECT_EQ(a(k), 0.f);
}

TEST(ToArray, AssignmentCopiesShapeNotName) {
  to_array<float, false> src(3, 4, "source");
  for (int k = 0; k < 12; k++) src(k) = float(k + 1);
  to_array<float, false> empty;
  empty = src;
  EXPECT_EQ(empty.name(), "alloc resize");
  EXPECT_EQ(empty.nl(), 3);
  EXPECT_EQ(empty.nc(), 4);
  EXPECT_EQ(empty(2, 3), 12.f);

  to_array<float, false> big(10, 10, "big");
  float* buf = big.buffer();
  big = src;
  EXPECT_EQ(big.name(), "big");
  EXPECT_EQ(big.buffer(), buf);
  EXPECT_EQ(big.nl(), 3);
  EXPECT_EQ(big(1, 2), src(1, 2));

  to_array<float, false> copy(src);
  EXPECT_EQ(copy.name(), "");
  EXPECT_EQ(copy(2, 1), src(2, 1));
}

TEST(ToArray, WrappedBufferIsNotFreed) {
  float data[6] = {1, 2, 3, 4, 5, 6};
  {
    to_array<float, false> a;
    a.alloc(data, 2, 3, nullptr, False);
    EXPECT_EQ(a(1, 2), 6.f);
    a(0, 0) = 10.f;
  }
  EXPECT_EQ(data[0], 10.f);
}

TEST(ToArray, WrappedPoolBufferGoesBackToThePool) {
  int* p = MemMg_alloc(60003, 0);
  {
    to_array<int, false> a;
    a.alloc(p, 3, 20001, nullptr, True);
  }
  to_array<int, false> b(3, 20001);
  EXPECT_EQ(b.buffer(), p);
}

TEST(ToArray, OversizedAllocationIsRefused) {
  to_array<float, false> a;
  EXPECT_EXIT_STATUS(a.alloc(100000, 100000), 255, "too large");
  EXPECT_EXIT_STATUS(a.alloc(-3, 4), 255, "negative");
}

TEST(BorderRules, BorderedReadsOfAFourByFourImage) {
  to_array<float, false> a(4, 4);
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 4; j++) a(i, j) = float(10 * i + j);
  EXPECT_EQ(a(-1, 0, I_MIRROR), a(1, 0));
  EXPECT_EQ(a(-1, 0, I_CONT), a(0, 0));
  EXPECT_EQ(a(-1, 0, I_PERIOD), a(3, 0));
  EXPECT_EQ(a(-1, 0, I_ZERO), 0.f);
  EXPECT_EQ(a(-1, 7, I_CONT), a(0, 3));
  EXPECT_EQ(a(2, 2, I_ZERO), a(2, 2));
}

TEST(BorderRules, OneDimensionalBorderedRead) {
  to_array<float, true> s(5);
  for (int k = 0; k < 5; k++) s(k) = float(k);
  EXPECT_EQ(s(-2, I_MIRROR), 2.f);
  EXPECT_EQ(s(6, I_MIRROR), 2.f);
  EXPECT_EQ(s(-1, I_PERIOD), 4.f);
  EXPECT_EQ(s(9, I_CONT), 4.f);
  EXPECT_EQ(s(5, I_ZERO), 0.f);
  to_array<float, true> img(2, 2);
  EXPECT_EXIT_STATUS(img(0, I_CONT), 255,
              "Error: naxis = 2 and a one dim array is expected ...");
}

TEST(BorderRules, IndexFunctionsMatchHandComputedValues) {
  EXPECT_EQ(test_index_mirror(-5, 3), 2);
  EXPECT_EQ(test_index_mirror(7, 3), 0);
  EXPECT_EQ(test_index_mirror(3, 3), 1);
  EXPECT_EQ(test_index_period(-7, 3), 2);
  EXPECT_EQ(test_index_period(7, 3), 1);
  EXPECT_EQ(border_ind_test(-2, 5, I_MIRROR), 2);
  EXPECT_EQ(border_ind_test(6, 5, I_MIRROR), 2);
  EXPECT_EQ(border_ind_test(-2, 5, I_CONT), 0);
  EXPECT_EQ(border_ind_test(6, 5, I_CONT), 4);
  // Far outside, the mirror of the 1D routines still lands inside.
  EXPECT_EQ(border_ind_test(-9, 5, I_MIRROR), 4);
  EXPECT_EQ(border_ind_test(20, 5, I_MIRROR), 0);
  EXPECT_EQ(get_index(-1, 4, I_PERIOD), 3);
  EXPECT_EQ(get_index(5, 4, I_MIRROR), 1);
}

TEST(BufferPools, UnknownPointerStopsWithError) {
  float heap_value = 0;
  EXPECT_EXIT_STATUS(MemMg_free(&heap_value), 255,
              "Error: CMemInt cannot deallocate the memory");
}

namespace {
// Fills the 500 double slots with distinct sizes and asks for one more, with
// a stand-in "pstat" first on the PATH.
void exhaust_double_pool(const std::string& bin_dir) {
  std::FILE* script = std::fopen((bin_dir + "/pstat").c_str(), "w");
  std::fputs("#!/bin/sh\necho \"swap report $1\"\n", script);
  std::fclose(script);
  chmod((bin_dir + "/pstat").c_str(), 0755);
  setenv("PATH", (bin_dir + ":" + std::getenv("PATH")).c_str(), 1);
  for (int k = 0; k <= 500; k++) MemMg_alloc(10 + k, 0.0);
}
}  // namespace

TEST(BufferPools, ExhaustionReportsAndStopsWithNonZeroStatus) {
  EXPECT_EXIT_STATUS(exhaust_double_pool(::testing::TempDir()), 255,
                     "Error: CMemInt cannot allocate memory \\.\\.\\. \n"
                     "(.|\n)*swap report -s\n(.|\n)*Buffer 0 Size = [0-9]+ (NOT )?USE \n"
                     "(.|\n)*Buffer 499 Size = [0-9]+ USE \n");
}
