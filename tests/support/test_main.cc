// The main of every test program. A death test forks a child that inherits
// the OpenMP team of a parent that has run parallel work, but not its
// threads: the child's first parallel region would wait for them forever
// instead of failing. So a forked child runs its statement on one thread.
// (Tests that need the statement on many threads choose gtest's threadsafe
// style, whose child is a newly started copy of the program.)
#include <gtest/gtest.h>
#include <omp.h>
#include <pthread.h>

namespace {

void one_thread_in_forked_child() { omp_set_num_threads(1); }

}  // namespace

int main(int argc, char** argv) {
  pthread_atfork(nullptr, nullptr, one_thread_in_forked_child);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
