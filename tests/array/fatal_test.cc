// A fatal error ends the process with its own status and message from any
// thread: the main thread, a worker of a parallel region, the master of one,
// or a thread of its own. The clean-ups given to at_process_end run on every
// path; the exit handlers and static destructors never run under threads
// that are still working; and threads failing together print one message.
#include "array/fatal.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <thread>

#include "support/death.h"

namespace {

// Threads that are still working when the process ends.
std::atomic<int> LiveWorkers{0};

// A static object whose destruction under working threads is what crashes a
// program whose workers use the buffer pools.
struct DestroyedLast {
  ~DestroyedLast() {
    if (LiveWorkers > 0) {
      std::fputs("static destructor under working threads\n", stderr);
      _exit(99);
    }
  }
} Witness;

void note_cleanup() { std::fputs("clean-up ran\n", stderr); }

enum class Where { main_thread, region_worker, region_master, own_thread };

void keep_working() {
  LiveWorkers++;
  for (volatile unsigned k = 0;; k = k + 1) {
  }
}

// Fails with status -2000 from `where`, every other thread working on.
void fail_from(Where where) {
  at_process_end(note_cleanup);
  switch (where) {
    case Where::main_thread:
      fatal_exit("Error: failed here\n", -2000, stdout);
    case Where::region_worker:
    case Where::region_master: {
      const int failing = where == Where::region_master ? 0 : 2;
#pragma omp parallel num_threads(4)
      {
        LiveWorkers++;
#pragma omp barrier
        if (omp_get_thread_num() == failing) fatal_exit("Error: failed here\n", -2000, stdout);
        keep_working();
      }
      break;
    }
    case Where::own_thread: {
      LiveWorkers++;
      std::thread worker([] { fatal_exit("Error: failed here\n", -2000, stdout); });
      keep_working();
    }
  }
}

constexpr int TeamSize = 8;
std::atomic<int> Failing{0};

// The process ends only once every thread of the team has failed too, and
// has had time to print whatever it would print.
void cleanup_after_all_failed() {
  while (Failing < TeamSize) std::this_thread::yield();
  for (int k = 0; k < 1000; k++) std::this_thread::yield();
  note_cleanup();
}

// Every thread of a team fails at once, each with its own message.
void all_fail_together() {
  at_process_end(cleanup_after_all_failed);
#pragma omp parallel num_threads(TeamSize)
  {
#pragma omp barrier
    Failing++;
    fatal_exitf(-2000, stderr, "Error: thread %d failed\n", omp_get_thread_num());
  }
}

}  // namespace

TEST(Fatal, EndsWithItsStatusAndCleanUpsFromAnyThread) {
  // The statements run parallel regions: each in a new copy of the program.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    Where where;
    const char* name;
  } cases[] = {{Where::main_thread, "main thread"},
               {Where::region_worker, "worker of a parallel region"},
               {Where::region_master, "master of a parallel region"},
               {Where::own_thread, "thread of its own"}};
  for (const auto& c : cases)
    EXPECT_EXIT_STATUS(fail_from(c.where), 48, "^Error: failed here\nclean-up ran\n$") << c.name;
}

TEST(Fatal, ThreadsFailingTogetherPrintOneMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT_STATUS(all_fail_together(), 48, "^Error: thread [0-9] failed\nclean-up ran\n$");
}

TEST(Fatal, FailureInAnExitCleanUpEndsAtOnceWithTheFirstStatus) {
  // A clean-up that fails while the process ends must neither end it twice
  // nor hang; the first failure's status stands.
  EXPECT_EXIT_STATUS(
      {
        at_process_end([] { fatal_exit("Error: clean-up failed\n", 5, stderr); });
        fatal_exit("Error: first\n", 7, stderr);
      },
      7, "^Error: first\nError: clean-up failed\n$");
}
