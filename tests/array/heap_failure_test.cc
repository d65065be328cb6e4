// A heap that refuses an array buffer must stop the program with a non-zero
// status, never leave it running on a null buffer or report success. The heap
// is made to fail by replacing the non-throwing array allocation of this one
// test program.
#include <gtest/gtest.h>

#include <new>

#include "array/to_array.h"
#include "support/death.h"

namespace {
bool refuse_heap = false;
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (refuse_heap) return nullptr;
  try {
    return ::operator new[](size);  // released by the ordinary delete[]
  } catch (...) {
    return nullptr;
  }
}

namespace {

void allocate_refused() {
  refuse_heap = true;
  to_array<float, false> a(10, 10);
}

void grow_refused() {
  to_array<double, true> a(4);
  refuse_heap = true;
  a.reform(40);
}

}  // namespace

TEST(HeapFailure, AllocationAndGrowingReformStopWithMinusOne) {
  to_array<float, false> ok(10, 10);  // the replacement serves normal requests
  EXPECT_EQ(ok(9, 9), 0.f);
  EXPECT_EXIT_STATUS(allocate_refused(), 255, "Not enought memory");
  EXPECT_EXIT_STATUS(grow_refused(), 255, "Not enought memory");
}
