// The standard output kept for result images, every other print sent to the
// standard error; and the refusal of a standard error that is the input.
#include "io/standard_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "array/fatal.h"

namespace {

// Set once, before any thread, and only read afterwards.
std::FILE* kept_standard_output = nullptr;

// Prints of the standard output wait in its buffer: it leads to a standard
// error that may be the input.
std::atomic<bool> prints_held{false};

bool is_file(int descriptor, dev_t device, ino_t inode) {
  struct stat st;
  return fstat(descriptor, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == device && st.st_ino == inode;
}

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
  // then share one stream: line by line they keep their order. Those printed
  // before the input is opened (the parameters of -v) wait while that
  // stream is a file, which the input may turn out to be.
  struct stat error_file;
  const bool hold = fstat(STDERR_FILENO, &error_file) == 0 && S_ISREG(error_file.st_mode);
  std::setvbuf(stdout, nullptr, hold ? _IOFBF : _IOLBF, BUFSIZ);
  prints_held = hold;
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

void io_release_held_prints() {
  if (!prints_held.exchange(false)) return;
  std::fflush(stdout);
  // The C library lets the mode change after output: it only sets the mode.
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

void io_refuse_standard_error_onto(dev_t device, ino_t inode, const char* name) {
  if (!is_file(STDERR_FILENO, device, inode)) {
    io_release_held_prints();
    return;
  }
  io_send_nowhere(STDERR_FILENO);
  // With results on the standard output, descriptor 1 is a copy of the
  // standard error; otherwise it may have been sent to the same file.
  if (is_file(STDOUT_FILENO, device, inode)) io_send_nowhere(STDOUT_FILENO);
  std::FILE* readable = io_standard_output();
  if (is_file(fileno(readable), device, inode)) readable = stderr;
  fatal_exitf(-1, readable,
              "Error: the standard error is the input image, which what the run prints would "
              "overwrite; send it elsewhere ... (%s)\n",
              name);
}

void io_send_nowhere(int descriptor) {
  const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (nowhere < 0 || dup2(nowhere, descriptor) < 0) close(descriptor);
  if (nowhere >= 0 && nowhere != descriptor) close(nowhere);
}
