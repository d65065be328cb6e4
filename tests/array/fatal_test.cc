// A fatal error ends the process with its own status and message from any
// thread: the main thread, a worker of a parallel region, the master of one,
// or a thread of its own. The clean-ups given to at_process_end run on every
// path; the exit handlers and static destructors never run under threads
// that are still working; threads failing together print one message, and
// a failure while the process ends prints nothing.
#include "array/fatal.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "array/mem_pool.h"

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

namespace {

// A second failure of every kind, found while the process ends after a first.
enum class Second { message, formatted, report, pool_exhausted, exit_destructor };

void fail_again(Second how) {
  switch (how) {
    case Second::message:
      fatal_exit("Error: second\n", 5, stdout);
    case Second::formatted:
      fatal_exitf(5, stderr, "Error: second %d\n", 2);
    case Second::report:
      fatal_report(5, [] { std::fputs("Error: second\n", stderr); });
    case Second::pool_exhausted:
      for (int k = 0; k <= TempCMem<int>::NbrSlots; k++) MemMg_alloc(10 + k, 0);
      break;
    case Second::exit_destructor:
      break;
  }
}

Second SecondFailure;

// Fails at its destruction when armed, as a static object may at exit.
struct FailsAtExit {
  bool armed = false;
  ~FailsAtExit() {
    if (armed) fatal_exit("Error: destructor failed\n", 5, stderr);
  }
} Destructor;

// The first failure, with status 7, on the main thread alone (the process
// ends by exit) or on a thread of its own (by quick_exit); then the second.
void fail_twice(Second how, bool own_thread) {
  SecondFailure = how;
  if (how == Second::exit_destructor)
    Destructor.armed = true;
  else
    at_process_end([] { fail_again(SecondFailure); });
  if (!own_thread) fatal_exit("Error: first\n", 7, stderr);
  std::thread worker([] { fatal_exit("Error: first\n", 7, stderr); });
  keep_working();
}

}  // namespace

TEST(Fatal, ASecondFailureWhileEndingPrintsNothingAndKeepsTheFirstStatus) {
  // A clean-up or an exit-time destructor that fails must neither end the
  // process twice nor hang nor print; the first failure's status stands.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    Second how;
    bool own_thread;
    const char* name;
  } cases[] = {{Second::message, false, "message in a clean-up at exit"},
               {Second::formatted, false, "formatted message in a clean-up at exit"},
               {Second::report, false, "report in a clean-up at exit"},
               {Second::pool_exhausted, false, "exhausted pool in a clean-up at exit"},
               {Second::exit_destructor, false, "exit-time destructor"},
               {Second::message, true, "message in a clean-up at quick_exit"},
               {Second::pool_exhausted, true, "exhausted pool in a clean-up at quick_exit"}};
  for (const auto& c : cases)
    EXPECT_EXIT_STATUS(fail_twice(c.how, c.own_thread), 7, "^Error: first\n$") << c.name;
}

namespace {

std::atomic<bool> PoolFilled{false}, MainFailed{false}, Exhausting{false};

// While the main thread's failure ends the process, a worker exhausts a pool:
// its report must not print. The clean-up gives it time to print.
void pool_exhausted_while_ending() {
  at_process_end([] {
    MainFailed = true;
    while (!Exhausting) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    note_cleanup();
  });
  std::thread worker([] {
    for (int k = 0; k < TempCMem<double>::NbrSlots; k++) MemMg_alloc(10 + k, 0.0);
    PoolFilled = true;
    while (!MainFailed) std::this_thread::yield();
    Exhausting = true;
    MemMg_alloc(5, 0.0);
  });
  while (!PoolFilled) std::this_thread::yield();
  fatal_exit("Error: first\n", 7, stderr);
}

}  // namespace

TEST(Fatal, AnotherThreadsPoolExhaustionWhileEndingPrintsNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT_STATUS(pool_exhausted_while_ending(), 7, "^Error: first\nclean-up ran\n$");
}

namespace {

// Names of the OpenMP runtime's registration files of process `pid`.
std::vector<std::string> runtime_registrations(pid_t pid) {
  const std::string prefix = "__KMP_REGISTERED_LIB_" + std::to_string(pid) + "_";
  std::vector<std::string> names;
  if (DIR* shm = opendir("/dev/shm")) {
    while (const dirent* entry = readdir(shm))
      if (std::string(entry->d_name).rfind(prefix, 0) == 0) names.push_back(entry->d_name);
    closedir(shm);
  }
  return names;
}

}  // namespace

TEST(Fatal, EndingByQuickExitLeavesNoRuntimeRegistration) {
  // LLVM's OpenMP runtime registers each process in a file under /dev/shm
  // and removes it only at a normal exit; a failure on a thread must remove
  // it too. GNU's runtime keeps no such file: nothing to check then.
#ifndef KMP_VERSION_MAJOR
  GTEST_SKIP() << "this OpenMP runtime keeps no registration file";
#endif
  int seen[2];
  ASSERT_EQ(pipe(seen), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(seen[0]);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, fileno(stdout));
    dup2(null, fileno(stderr));
#pragma omp parallel num_threads(2)
    LiveWorkers++;
    const char registered = runtime_registrations(getpid()).empty() ? 'n' : 'y';
    if (write(seen[1], &registered, 1) != 1) _exit(1);
    std::thread worker([] { fatal_exit("Error: failed here\n", 9, stderr); });
    keep_working();
  }
  close(seen[1]);
  char registered = 'n';
  const bool told = read(seen[0], &registered, 1) == 1;
  close(seen[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(told);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 9);
  if (registered != 'y') GTEST_SKIP() << "this OpenMP runtime keeps no registration file";
  const auto left = runtime_registrations(child);
  EXPECT_EQ(left, std::vector<std::string>{});
  for (const auto& name : left) unlink(("/dev/shm/" + name).c_str());
}

TEST(Fatal, RegistrationRemovalTakesThisProcesssFilesAndNoOtherProcesss) {
  // Files named as the runtime names them, made by hand so that any runtime
  // is checked: a process whose id merely starts with this one's digits, or
  // whose digits start this one's, keeps its files.
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(go[1]);
    char byte;
    if (read(go[0], &byte, 1) != 1) _exit(1);
    remove_openmp_registration();
    _exit(0);
  }
  close(go[0]);
  const std::string pid = std::to_string(child);
  const std::string shorter = pid.substr(0, pid.size() - 1);
  const std::string stem = "/dev/shm/__KMP_REGISTERED_LIB_";
  const struct {
    std::string name;
    bool removed;
  } cases[] = {{pid, true},
               {pid + "_qz_test", true},
               {pid + "7", false},
               {pid + "7_qz_test", false},
               {shorter, false},
               {shorter + "_qz_test", false}};
  bool made = true;
  for (const auto& c : cases) {
    const int fd = open((stem + c.name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    made = made && fd >= 0;
    if (fd >= 0) close(fd);
  }
  const bool told = write(go[1], "x", 1) == 1;
  close(go[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  for (const auto& c : cases) {
    if (made) {
      EXPECT_EQ(access((stem + c.name).c_str(), F_OK) != 0, c.removed) << c.name;
    }
    unlink((stem + c.name).c_str());
  }
  if (!made) GTEST_SKIP() << "no files can be made in /dev/shm";
  ASSERT_TRUE(told);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
