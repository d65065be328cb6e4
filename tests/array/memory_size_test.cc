// What is left of the memory to this process: never more than the machine
// has, and held by the process's own limit on its address space.
#include "array/memory_size.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "support/forked_child.h"

namespace {

// The bytes of address space this process holds (VmSize), independently
// of the helper: the first field of /proc/self/statm, in pages.
std::uint64_t address_space_bytes() {
  std::ifstream statm("/proc/self/statm");
  unsigned long long pages = 0;
  statm >> pages;
  return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

TEST(AvailableMemory, NeverMoreThanTheMachineHasNorNothing) {
  const std::uint64_t machine = physical_memory_bytes();
  const std::uint64_t available = available_memory_bytes();
  ASSERT_GT(machine, 0u);
  EXPECT_LE(available, machine);
  EXPECT_GT(available, 0u);
}

// In a child whose address space may grow by `room` bytes at most, the
// figure is at most that room (the child's own reading may take a little
// of it), for a room far below what the machine has.
TEST(AvailableMemory, HeldByTheAddressSpaceLimit) {
  for (const std::uint64_t room : {std::uint64_t(64) << 20, std::uint64_t(512) << 20}) {
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipe_ends[0]);
      const rlim_t limit = static_cast<rlim_t>(address_space_bytes() + room);
      const struct rlimit held = {limit, RLIM_INFINITY};
      const std::uint64_t figure = setrlimit(RLIMIT_AS, &held) == 0 ? available_memory_bytes() : 0;
      const bool written = write(pipe_ends[1], &figure, sizeof figure) == sizeof figure;
      _exit(written ? 0 : 1);
    }
    close(pipe_ends[1]);
    std::uint64_t figure = 0;
    const bool read_whole = read(pipe_ends[0], &figure, sizeof figure) == sizeof figure;
    close(pipe_ends[0]);
    int status = 0;
    ASSERT_EQ(test_support::reap_child(child, &status), child);
    ASSERT_TRUE(read_whole && WIFEXITED(status) && WEXITSTATUS(status) == 0) << room;
    EXPECT_GT(figure, 0u) << "the limit could not be set, or leaves nothing: " << room;
    EXPECT_LE(figure, room);
    // Taken from the limit, not merely below it: at most what the
    // reading itself maps is lost (a sanitizer's allocator maps its own
    // regions as it goes).
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_GE(figure, room - (std::uint64_t(16) << 20)) << room;
#endif
  }
}

}  // namespace
