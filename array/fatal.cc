// Fatal error reporting shared by every subsystem.
//
// std::exit is safe only on the main thread of a process without other
// threads. Anywhere else it would destroy the buffer pools, the arrays and the swap
// files under threads that are still using them; there the process ends by
// quick_exit, which runs the clean-ups of at_process_end and nothing else.
#include "array/fatal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "array/stop_signals.h"

namespace {

// The kernel's thread id: equal to the process id on the main thread, in a
// forked child too, and right even before static initialisation.
long this_thread_id() { return static_cast<long>(syscall(SYS_gettid)); }

// Whether this process has threads besides the caller. Asked of the kernel,
// not of the OpenMP runtime: some runtimes would start up to answer, and one
// starting in a failing child (a file size limit, no memory) fails itself.
// Idle threads of a team count too, which only means that the process ends
// by quick_exit; its clean-ups do all that a failed run needs.
bool other_threads_exist() {
  long threads = 0;
  if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr)
      if (std::sscanf(line, "Threads: %ld", &threads) == 1) break;
    std::fclose(status);
  }
  return threads != 1;
}

std::atomic<long> EndingThread{0};
std::atomic<int> EndingStatus{0};

// True for the first failure of the process. Another thread failing meanwhile
// never returns: the process is ending, and its message is not printed. The
// ending thread failing again (in a clean-up or a destructor at exit) gets
// false, and prints nothing either.
bool first_failure(int status) {
  const long self = this_thread_id();
  long none = 0;
  if (EndingThread.compare_exchange_strong(none, self)) {
    EndingStatus = status;
    return true;
  }
  if (none == self) return false;
  for (;;) pause();
}

[[noreturn]] void end_process(bool first, int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  if (!first) {
    // A second failure while ending: the clean-ups under way are not started
    // again, and the first failure keeps its status.
    remove_openmp_registration();
    _exit(EndingStatus);
  }
  if (this_thread_id() == static_cast<long>(getpid()) && !other_threads_exist())
    std::exit(status);
  remove_openmp_registration();
  std::quick_exit(status);
}

}  // namespace

void fatal_report(int status, const std::function<void()>& print) {
  // The run ends by the user's signal, not by a file it took away, and says
  // nothing of that file.
  if (stop_under_way())
    for (;;) pause();
  const bool first = first_failure(status);
  if (first) print();
  end_process(first, status);
}

void fatal_exit(const std::string& message, int status, std::FILE* stream) {
  fatal_report(status, [&] { std::fputs(message.c_str(), stream); });
}

void fatal_exitf(int status, std::FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  fatal_report(status, [&] { std::vfprintf(stream, format, args); });
}

// Found by name without asking the runtime, which may be in any state here,
// and with async-signal-safe calls only (no stdio, no allocation), as a stop
// by signal calls it from its handler.
void remove_openmp_registration() {
  static const char Stem[] = "__KMP_REGISTERED_LIB_";
  char prefix[sizeof Stem + 24];
  std::memcpy(prefix, Stem, sizeof Stem - 1);
  char digits[24];
  int count = 0;
  for (unsigned long pid = static_cast<unsigned long>(getpid()); count == 0 || pid > 0; pid /= 10)
    digits[count++] = static_cast<char>('0' + pid % 10);
  int length = sizeof Stem - 1;
  while (count > 0) prefix[length++] = digits[--count];
  const int shm = open("/dev/shm", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (shm < 0) return;
  alignas(dirent64) char entries[4096];
  for (;;) {
    const ssize_t bytes = getdents64(shm, entries, sizeof entries);
    if (bytes <= 0) break;
    for (ssize_t at = 0; at < bytes;) {
      const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
      // The process id ends the prefix: the next character is none or the suffix's "_".
      const char* name = entry->d_name;
      if (std::strncmp(name, prefix, length) == 0 && (name[length] == '\0' || name[length] == '_'))
        unlinkat(shm, name, 0);
      at += entry->d_reclen;
    }
  }
  close(shm);
}

void at_process_end(void (*cleanup)()) {
  std::atexit(cleanup);
  std::at_quick_exit(cleanup);
}
