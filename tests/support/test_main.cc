// The main of every test program. A death test forks a child that inherits
// the OpenMP team of a parent that has run parallel work, but not its
// threads: with GCC's runtime the child's first parallel region would wait
// for them forever instead of failing. So a forked child runs its statement
// on one thread. (Tests that need the statement on many threads choose
// gtest's threadsafe style, whose child is a newly started copy of the
// program.) LLVM's runtime, whose header defines KMP_VERSION_MAJOR, rebuilds
// itself in a forked child by a handler of its own; called before that one,
// this handler would wait for the locks the parent held at the fork.
#include <gtest/gtest.h>
#include <omp.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "array/fatal.h"

namespace {

#ifndef KMP_VERSION_MAJOR
void one_thread_in_forked_child() { omp_set_num_threads(1); }
#endif

#if defined(KMP_VERSION_MAJOR) && defined(__SANITIZE_THREAD__)
// Under ThreadSanitizer, Archer (which tells the sanitizer how LLVM's
// runtime orders its threads) crashes in a forked child when the runtime
// ends. So a forked child leaves, with the status it exits with, from this
// program's own last destructor, which runs after every exit handler (the
// sanitizer's report among them) and before the runtime's, and which removes
// the runtime's registration of the child as the runtime would.
bool exiting_forked_child = false;
int exit_status = 0;
void keep_status(int status, void*) {
  exiting_forked_child = true;
  exit_status = status;
}
void leave_before_the_runtime_in_forked_child() { on_exit(keep_status, nullptr); }
__attribute__((destructor)) void leave_before_the_runtime() {
  if (!exiting_forked_child) return;
  std::fflush(nullptr);
  remove_openmp_registration();
  _exit(exit_status);
}
#endif

}  // namespace

#if defined(__SANITIZE_THREAD__)
// A report ends the program at once with the sanitizer's status. Otherwise
// the status would be set only at a normal exit, and a death test's child
// that ends by quick_exit or _exit, as a failure on a thread does, would
// pass with its own status in spite of a race. Settings in TSAN_OPTIONS
// come after these and override them.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options() {
  return "halt_on_error=1";
}
#endif

int main(int argc, char** argv) {
#ifndef KMP_VERSION_MAJOR
  pthread_atfork(nullptr, nullptr, one_thread_in_forked_child);
#endif
#if defined(KMP_VERSION_MAJOR) && defined(__SANITIZE_THREAD__)
  pthread_atfork(nullptr, nullptr, leave_before_the_runtime_in_forked_child);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
