// Staged output files. Each output is a new file in the folder of its
// place, named after it with ".qz_mca-" and six random characters: made
// there, the rename that puts it in place cannot cross devices, and a file
// left by a run that a signal killed says where it comes from. Until their
// rename the new files are listed, so that a process ending on a failure,
// on any thread, removes them.
#include "io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "array/fatal.h"
#include "io/image_file.h"

namespace {

struct Output {
  std::FILE* stream;   // null once its close has begun
  std::string place;   // the file it becomes
  std::string staged;  // the new file; empty for a device written in place
  bool complete;       // closed, waiting for the commit
  int mode = -1;       // a named output's permission bits to give back
};

std::mutex& registry_lock() {
  static std::mutex lock;
  return lock;
}
std::vector<Output>& registry() {
  static std::vector<Output> outputs;
  return outputs;
}
int HoldDepth = 0;

void remove_staged_files() {
  std::lock_guard<std::mutex> lock(registry_lock());
  for (const Output& output : registry())
    if (!output.staged.empty()) unlink(output.staged.c_str());
}

std::vector<Output>::iterator find_stream(std::FILE* stream) {
  std::vector<Output>& outputs = registry();
  for (auto it = outputs.begin(); it != outputs.end(); ++it)
    if (it->stream == stream) return it;
  return outputs.end();
}

std::vector<Output>::iterator find_staged(const std::string& staged) {
  std::vector<Output>& outputs = registry();
  for (auto it = outputs.begin(); it != outputs.end(); ++it)
    if (it->staged == staged) return it;
  return outputs.end();
}

std::uint64_t next_random() {
  static std::atomic<std::uint64_t> counter{0};
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // splitmix64 over the clock, the process and a counter.
  std::uint64_t z = counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL ^
                    static_cast<std::uint64_t>(now.tv_nsec) ^
                    static_cast<std::uint64_t>(now.tv_sec) << 30 ^ static_cast<std::uint64_t>(getpid()) << 40;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// Creates a new file beside `place` (never an existing one), its
// permissions those of a new file under the process's umask; -1 with errno
// set when the folder refuses it.
int create_staged(const std::string& place, std::string& staged) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  const std::size_t slash = place.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : place.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? place : place.substr(slash + 1);
  const std::string tag = ".qz_mca-";
  // A place whose name fills the folder entry gives a shortened stem.
  const std::size_t room = NAME_MAX - tag.size() - 6;
  for (int attempt = 0; attempt < 100; attempt++) {
    std::uint64_t bits = next_random();
    std::string suffix(6, 'a');
    for (char& c : suffix) {
      c = kLetters[bits % 36];
      bits /= 36;
    }
    staged = folder + base.substr(0, room) + tag + suffix;
    const int fd = open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

void register_cleanup() {
  // Both built first, so that they outlive the clean-up at exit.
  registry_lock();
  registry();
  static const bool registered = (at_process_end(remove_staged_files), true);
  (void)registered;
}

constexpr int kInPlace = -2;

// Where the bytes of `file` go: a new file beside its place (its open
// descriptor returned, with the lock held by the caller), kInPlace for a
// device, or -1 with errno set. `mode` receives the permission bits the
// replaced file had, or -1.
int stage(const std::string& file, std::string& place, std::string& staged, int& mode) {
  place = io_link_end(file);
  mode = -1;
  struct stat info;
  const bool exists = stat(place.c_str(), &info) == 0;
  if (!exists && errno != ENOENT) return -1;
  if (exists && S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return -1;
  }
  // A file the user may not write stays refused, though its folder would
  // let it be replaced.
  if (exists && access(place.c_str(), W_OK) != 0) return -1;
  if (exists && !S_ISREG(info.st_mode)) return kInPlace;
  if (exists) mode = static_cast<int>(info.st_mode & 07777);
  return create_staged(place, staged);
}

// The stream that writes `file`, or null with errno set.
std::FILE* open_output(const std::string& file) {
  register_cleanup();
  std::unique_lock<std::mutex> lock(registry_lock());
  std::string place, staged;
  int mode = -1;
  const int fd = stage(file, place, staged, mode);
  if (fd == kInPlace) {
    // Opening a FIFO may wait for a reader: not with the lock held.
    lock.unlock();
    std::FILE* stream = std::fopen(file.c_str(), "wb");
    if (stream != nullptr) {
      lock.lock();
      registry().push_back({stream, place, "", false});
    }
    return stream;
  }
  if (fd < 0) return nullptr;
  // The replaced file keeps its permission bits.
  if (mode >= 0) fchmod(fd, static_cast<mode_t>(mode));
  std::FILE* stream = fdopen(fd, "wb");
  if (stream == nullptr) {
    const int error = errno;
    close(fd);
    unlink(staged.c_str());
    errno = error;
    return nullptr;
  }
  registry().push_back({stream, place, staged, false});
  return stream;
}

// Puts a complete file in place now, or keeps it for the commit; with the
// lock held. False with errno set when the rename fails.
bool place_output(std::vector<Output>::iterator output) {
  std::vector<Output>& outputs = registry();
  if (HoldDepth > 0) {
    output->complete = true;
    // An earlier output of the run to the same place is superseded.
    for (auto it = outputs.begin(); it != outputs.end(); ++it)
      if (it != output && it->complete && it->place == output->place) {
        unlink(it->staged.c_str());
        outputs.erase(it);
        break;
      }
    return true;
  }
  const bool placed = rename(output->staged.c_str(), output->place.c_str()) == 0;
  const int error = errno;
  if (!placed) unlink(output->staged.c_str());
  outputs.erase(output);
  errno = error;
  return placed;
}

}  // namespace

std::string io_link_end(const std::string& path) {
  std::string end = path;
  std::vector<char> text(PATH_MAX + 1);
  for (int links = 0; links < 40; links++) {
    const ssize_t n = readlink(end.c_str(), text.data(), text.size() - 1);
    if (n < 0) break;
    std::string target(text.data(), static_cast<std::size_t>(n));
    const std::size_t slash = end.rfind('/');
    if (!target.empty() && target[0] != '/' && slash != std::string::npos)
      target = end.substr(0, slash + 1) + target;
    end = target;
  }
  return end;
}

std::FILE* io_open_output_or_exit(const char* typed, const std::string& file, const char* message, int status) {
  std::FILE* stream = open_output(file);
  if (stream == nullptr) {
    const int error = errno;
    fatal_exitf(status, stderr, message, io_open_failure(typed, file, error).c_str());
  }
  return stream;
}

bool io_close_output(std::FILE* stream) {
  // The entry is found by its new file's name after the close: once closed,
  // the stream's address may be given to another thread's output.
  std::string staged;
  {
    std::lock_guard<std::mutex> lock(registry_lock());
    auto output = find_stream(stream);
    if (output != registry().end()) {
      staged = output->staged;
      if (staged.empty()) registry().erase(output);
      else output->stream = nullptr;
    }
  }
  const bool closed = std::fclose(stream) == 0;
  const int error = errno;
  if (staged.empty()) {
    errno = error;
    return closed;
  }
  std::lock_guard<std::mutex> lock(registry_lock());
  auto output = find_staged(staged);
  if (output == registry().end()) return false;  // never: only a close erases it
  if (!closed) {
    unlink(staged.c_str());
    registry().erase(output);
    errno = error;
    return false;
  }
  return place_output(output);
}

void io_discard_output(std::FILE* stream) {
  const int error = errno;
  {
    std::lock_guard<std::mutex> lock(registry_lock());
    auto output = find_stream(stream);
    if (output != registry().end()) {
      if (!output->staged.empty()) unlink(output->staged.c_str());
      registry().erase(output);
    }
  }
  std::fclose(stream);
  errno = error;
}

std::string io_begin_named_output(const std::string& file) {
  register_cleanup();
  std::lock_guard<std::mutex> lock(registry_lock());
  std::string place, staged;
  int mode = -1;
  const int fd = stage(file, place, staged, mode);
  if (fd == kInPlace) return file;
  if (fd < 0) return std::string();
  close(fd);
  registry().push_back({nullptr, place, staged, false, mode});
  return staged;
}

bool io_end_named_output(const std::string& written, bool complete) {
  const int error = errno;
  std::lock_guard<std::mutex> lock(registry_lock());
  auto output = find_staged(written);
  if (output == registry().end()) return complete;  // a device, written in place
  if (!complete) {
    unlink(written.c_str());
    registry().erase(output);
    errno = error;
    return false;
  }
  // Made again by its writer: the replaced file's bits are given back here.
  if (output->mode >= 0) chmod(written.c_str(), static_cast<mode_t>(output->mode));
  return place_output(output);
}

void io_hold_outputs() {
  std::lock_guard<std::mutex> lock(registry_lock());
  HoldDepth++;
}

void io_commit_outputs() {
  std::string failed;
  int error = 0;
  {
    std::lock_guard<std::mutex> lock(registry_lock());
    if (HoldDepth == 0 || --HoldDepth > 0) return;
    std::vector<Output>& outputs = registry();
    for (auto it = outputs.begin(); it != outputs.end();) {
      if (!it->complete) {
        ++it;
        continue;
      }
      if (rename(it->staged.c_str(), it->place.c_str()) != 0) {
        error = errno;
        failed = it->place;
        break;
      }
      it = outputs.erase(it);
    }
  }
  // The files not yet in place go with the process.
  if (!failed.empty())
    fatal_exitf(-1, stderr, "Error: cannot write a result file %s\n",
                io_open_failure(nullptr, failed, error).c_str());
}

int io_output_error(const std::string& file, std::string& leads_to) {
  std::string place, staged;
  int mode = -1;
  const int fd = stage(file, place, staged, mode);
  leads_to = place != file ? place : std::string();
  if (fd == kInPlace) return 0;
  if (fd < 0) return errno;
  close(fd);
  unlink(staged.c_str());
  return 0;
}
