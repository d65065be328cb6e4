// The main of every test program. A death test forks a child that inherits
// the OpenMP team of a parent that has run parallel work, but not its
// threads: with GCC's runtime the child's first parallel region would wait
// for them forever instead of failing. So a forked child runs its statement
// on one thread. (Tests that need the statement on many threads choose
// gtest's threadsafe style, whose child is a newly started copy of the
// program.) LLVM's runtime, whose header defines KMP_VERSION_MAJOR, rebuilds
// itself in a forked child by a handler of its own; called before that one,
// this handler would wait for the locks the parent held at the fork.
//
// Every test program works in a temporary folder of its own, made before
// any test and removed with all it holds when the program ends. TMPDIR (and
// TEST_TMPDIR, where set) name it, so that the folders the tests make under
// the temporary folder, the files of the programs they run, and those of a
// death test's child that dies before it can remove them all go with it.
#include <gtest/gtest.h>
#include <omp.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "array/fatal.h"
#include "support/temp_folder.h"

namespace {

int Round = 0;

class RoundCounter : public ::testing::EmptyTestEventListener {
  void OnTestIterationStart(const ::testing::UnitTest&, int iteration) override { Round = iteration; }
};

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

// Names the program's folder to the programs it starts.
const char* const FolderVariable = "QZ_TEST_FOLDER";

// Set once in main; kept past the static destructors for the removal at exit.
const std::string* ProgramFolder = nullptr;
pid_t FolderOwner = 0;

// Only by the process that made it: a death test's forked child ends
// through here too while its parent still works in the folder.
void remove_program_folder() {
  if (ProgramFolder == nullptr || getpid() != FolderOwner) return;
  std::error_code ignored;
  std::filesystem::remove_all(*ProgramFolder, ignored);
}

// A test program started by another (a death test's child started anew, a
// test that starts its own program) works in the first one's folder and
// leaves its removal to it.
void enter_program_folder() {
  struct stat info;
  const char* inherited = std::getenv(FolderVariable);
  if (inherited != nullptr && stat(inherited, &info) == 0 && S_ISDIR(info.st_mode)) {
    ProgramFolder = new std::string(inherited);
  } else {
    const std::string pattern = ::testing::TempDir() + "qz_test_XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
      std::perror(pattern.c_str());
      std::exit(1);
    }
    ProgramFolder = new std::string(name.data());
    FolderOwner = getpid();
    setenv(FolderVariable, ProgramFolder->c_str(), 1);
    std::atexit(remove_program_folder);
    std::at_quick_exit(remove_program_folder);
  }
  setenv("TMPDIR", ProgramFolder->c_str(), 1);
  const char* test_folder = std::getenv("TEST_TMPDIR");
  if (test_folder != nullptr && *test_folder != '\0') setenv("TEST_TMPDIR", ProgramFolder->c_str(), 1);
}

}  // namespace

int test_support::test_round() { return Round; }

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
  enter_program_folder();
#ifndef KMP_VERSION_MAJOR
  pthread_atfork(nullptr, nullptr, one_thread_in_forked_child);
#endif
#if defined(KMP_VERSION_MAJOR) && defined(__SANITIZE_THREAD__)
  pthread_atfork(nullptr, nullptr, leave_before_the_runtime_in_forked_child);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new RoundCounter);
  const int result = RUN_ALL_TESTS();
  remove_program_folder();
  return result;
}
