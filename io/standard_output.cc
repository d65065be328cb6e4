// The standard output kept for result images, every other print sent to the
// standard error.
#include "io/standard_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "array/fatal.h"

namespace {

// Set once, before any thread, and only read afterwards.
std::FILE* kept_standard_output = nullptr;

[[noreturn]] void refuse_standard_output(const char* reason) {
  fatal_exitf(-1, stderr, "Error: cannot write in file (-: %s)\n", reason);
}
[[noreturn]] void refuse_standard_output(int error) { refuse_standard_output(std::strerror(error)); }

}  // namespace

std::FILE* io_standard_output() {
  return kept_standard_output != nullptr ? kept_standard_output : stdout;
}

void io_standard_output_for_results_only() {
  if (kept_standard_output != nullptr) return;
  // Progress lines and the messages written straight to the standard error
  // then share one stream: line by line they keep their order.
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  std::fflush(stdout);
  // Above the standard descriptors, and not inherited by the commands a run
  // starts, which print on their standard output.
  // The system would say only "Invalid argument" when the stream is made.
  const int mode = fcntl(STDOUT_FILENO, F_GETFL);
  if (mode != -1 && (mode & O_ACCMODE) == O_RDONLY)
    refuse_standard_output("the standard output is open for reading only: it cannot be written");
  const int kept = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (kept < 0) refuse_standard_output(errno);
  std::FILE* stream = fdopen(kept, "wb");
  if (stream == nullptr) refuse_standard_output(errno);
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    // No standard error: the prints go nowhere. Descriptor 1 must stay
    // taken, or the next file opened would get it and receive them.
    const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nowhere < 0 || dup2(nowhere, STDOUT_FILENO) < 0) refuse_standard_output(errno);
    close(nowhere);
  }
  kept_standard_output = stream;
}
