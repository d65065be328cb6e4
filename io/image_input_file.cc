// The record of the files image reads opened.
#include "io/image_input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>
#include <utility>

#include "array/fatal.h"
#include "io/standard_output.h"

namespace {

using file_id = std::pair<dev_t, ino_t>;

// Readers may run on any thread.
std::mutex& record_lock() {
  static std::mutex lock;
  return lock;
}
std::set<file_id>& files_read() {
  static std::set<file_id> files;
  return files;
}

bool standard_input_closed = false;

// Before any other code of the program opens a file: the first file opened
// while descriptor 0 is free would become the standard input. The
// descriptor is taken by /dev/null so that none does.
__attribute__((constructor(101))) void note_closed_standard_input() {
  if (fcntl(STDIN_FILENO, F_GETFD) != -1 || errno != EBADF) return;
  standard_input_closed = true;
  const int nothing = open("/dev/null", O_RDONLY);
  if (nothing > STDIN_FILENO) close(nothing);
}

}  // namespace

void io_note_input(std::FILE* stream, const std::string& name) {
  struct stat file;
  if (stream == nullptr || fstat(fileno(stream), &file) != 0) return;
  // A pipe or a device is no file the standard error may be.
  if (!S_ISREG(file.st_mode)) {
    io_release_held_prints();
    return;
  }
  io_refuse_standard_error_onto(file.st_dev, file.st_ino, name.c_str());
  std::lock_guard<std::mutex> lock(record_lock());
  files_read().insert({file.st_dev, file.st_ino});
}

std::FILE* io_standard_input(const char* name) {
  if (standard_input_closed) fatal_exitf(-1, stderr, "Error: the standard input is closed ... (%s)\n", name);
  io_note_input(stdin, name);
  return stdin;
}

bool io_was_read(dev_t device, ino_t inode) {
  std::lock_guard<std::mutex> lock(record_lock());
  return files_read().count({device, inode}) != 0;
}
