// Staged output files. Each output is a new file in the folder of its
// place, named after it with ".qz_mca-" and six random characters: made
// there, the rename that puts it in place cannot cross devices, and a file
// left by a run that a signal killed says where it comes from. A writer that
// creates its file by name gets a private folder of that name instead, so
// that nobody can plant a link where the writer will create its file. Until
// their rename the new names are listed, so that a process ending on a
// failure, on any thread, removes them, and registered with the stop
// signals, so that a stop removes them too.
#include "io/output_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "array/fatal.h"
#include "array/stop_signals.h"
#include "io/image_file.h"
#include "io/write_permission.h"

namespace {

struct Output {
  std::FILE* stream = nullptr;  // null once its close has begun, and for a named output
  std::string place;            // the file it becomes, or the device a named output is copied to
  std::string staged;           // the new file; empty for a device written in place
  std::string folder;           // a named output's private folder, else empty
  long staged_stop = 0, folder_stop = 0;  // their registrations with the stop signals
  bool complete = false;                  // closed, waiting for the commit
  int mode = -1;                          // a named output's permission bits to give back
  bool to_device = false;                 // a named output copied onto its device
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
thread_local int PlacedAtOnce = 0;

// Removes the new names of an output that will not take its place.
void discard_files(Output& output) {
  if (!output.staged.empty()) unlink(output.staged.c_str());
  if (!output.folder.empty()) rmdir(output.folder.c_str());
  stop_forget(output.staged_stop);
  stop_forget(output.folder_stop);
  output.staged_stop = output.folder_stop = 0;
}

void remove_staged_files() {
  std::lock_guard<std::mutex> lock(registry_lock());
  for (Output& output : registry()) discard_files(output);
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

// Makes a new entry named after `near` (whose folder receives it) with
// ".qz_mca-" and six random characters, by make(name), which fails with
// EEXIST on a name already taken. The name is registered with the stop
// signals before it exists, and forgotten again when make fails. make's
// result, or -1 with errno set.
template <class Make>
int make_beside(const std::string& near, Make make, std::string& made, long& stop) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  const std::size_t slash = near.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : near.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? near : near.substr(slash + 1);
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
    made = folder + base.substr(0, room) + tag + suffix;
    StopSignalsHeld held;
    stop = stop_removes(made.c_str());
    const int result = make(made);
    if (result >= 0) return result;
    const int error = errno;
    stop_forget(stop);
    stop = 0;
    if (error != EEXIST) {
      errno = error;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

// A new file beside `place` (never an existing one), its permissions those
// of a new file under the process's umask; its descriptor, or -1.
int create_staged(const std::string& place, std::string& staged, long& stop) {
  return make_beside(
      place, [](const std::string& name) { return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); },
      staged, stop);
}

void register_cleanup() {
  // Both built first, so that they outlive the clean-up at exit.
  registry_lock();
  registry();
  static const bool registered = (at_process_end(remove_staged_files), true);
  (void)registered;
}

// The place of `file`, checked: the end of its links, no folder, a file the
// user may write. False with errno set. `mode` receives the permission bits
// the replaced regular file had (those of its owner, group and others only:
// setuid and setgid do not pass to new contents), or -1; `device` whether
// the place is no regular file.
bool find_place(const std::string& file, std::string& place, int& mode, bool& device) {
  mode = -1;
  device = false;
  const int link_error = io_link_end(file, place);
  if (link_error != 0) {
    errno = link_error;
    return false;
  }
  struct stat info;
  if (stat(place.c_str(), &info) != 0) return errno == ENOENT;
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  // A file the user may not write stays refused, though its folder would
  // let it be replaced.
  if (access(place.c_str(), W_OK) != 0) return false;
  device = !S_ISREG(info.st_mode);
  if (!device) mode = static_cast<int>(info.st_mode & 0777);
  return true;
}

// Opens a device or FIFO that exists, never making a file in its stead.
std::FILE* open_device(const std::string& place) {
  const int fd = open(place.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* stream = fdopen(fd, "wb");
  if (stream == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return stream;
}

// The stream that writes `file`, or null with errno set.
std::FILE* open_output(const std::string& file) {
  register_cleanup();
  std::unique_lock<std::mutex> lock(registry_lock());
  std::string place;
  int mode = -1;
  bool device = false;
  if (!find_place(file, place, mode, device)) return nullptr;
  if (device) {
    // Opening a FIFO may wait for a reader: not with the lock held.
    lock.unlock();
    std::FILE* stream = open_device(place);
    if (stream != nullptr) {
      lock.lock();
      Output output;
      output.stream = stream;
      output.place = place;
      registry().push_back(output);
    }
    return stream;
  }
  Output output;
  output.place = place;
  const int fd = create_staged(place, output.staged, output.staged_stop);
  if (fd < 0) return nullptr;
  // The replaced file keeps its permission bits.
  if (mode >= 0) fchmod(fd, static_cast<mode_t>(mode));
  output.stream = fdopen(fd, "wb");
  if (output.stream == nullptr) {
    const int error = errno;
    close(fd);
    discard_files(output);
    errno = error;
    return nullptr;
  }
  registry().push_back(output);
  return output.stream;
}

// Swaps a complete output with the regular file at its place, then removes
// that file from the name it took. A plain rename over an existing file
// makes some file systems (ext4) write the new data out first, about a
// millisecond a file: a price worth paying once for each result, so that a
// crash of the machine cannot leave it empty, but not for a debug image
// rewritten at every iteration. False, changing nothing, when the place
// holds no regular file or the file system cannot swap.
bool swap_into_place(const Output& output) {
  struct stat info;
  if (lstat(output.place.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (renameat2(AT_FDCWD, output.staged.c_str(), AT_FDCWD, output.place.c_str(), RENAME_EXCHANGE) != 0)
    return false;
  unlink(output.staged.c_str());
  return true;
}

// Renames a complete output onto its place (by a swap when `swap`); its
// private folder, if any, goes. False with errno set when the rename fails.
bool rename_into_place(Output& output, bool swap = false) {
  if (!(swap && swap_into_place(output)) && rename(output.staged.c_str(), output.place.c_str()) != 0)
    return false;
  stop_forget(output.staged_stop);
  output.staged_stop = 0;
  output.staged.clear();
  discard_files(output);
  return true;
}

// Puts a complete file in place now, or keeps it for the commit; with the
// lock held. False with errno set when the rename fails.
bool place_output(std::vector<Output>::iterator output) {
  std::vector<Output>& outputs = registry();
  if (HoldDepth > 0 && PlacedAtOnce == 0) {
    output->complete = true;
    // An earlier output of the run to the same place is superseded.
    for (auto it = outputs.begin(); it != outputs.end(); ++it)
      if (it != output && it->complete && it->place == output->place) {
        discard_files(*it);
        outputs.erase(it);
        break;
      }
    return true;
  }
  const bool placed = rename_into_place(*output, PlacedAtOnce > 0);
  const int error = errno;
  if (!placed) discard_files(*output);
  outputs.erase(output);
  errno = error;
  return placed;
}

// Copies the bytes of a named output onto its device. False with errno set.
bool copy_to_device(const std::string& from, const std::string& device) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  std::FILE* out = open_device(device);
  if (out == nullptr) {
    const int error = errno;
    close(in);
    errno = error;
    return false;
  }
  std::vector<char> piece(1 << 16);
  bool copied = true;
  for (;;) {
    const ssize_t n = read(in, piece.data(), piece.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      copied = n == 0;
      break;
    }
    if (std::fwrite(piece.data(), 1, static_cast<std::size_t>(n), out) != static_cast<std::size_t>(n)) {
      copied = false;
      break;
    }
  }
  int error = errno;
  if (std::fclose(out) != 0 && copied) {
    copied = false;
    error = errno;
  }
  close(in);
  errno = error;
  return copied;
}

// A second name for a file the commit will replace, beside it: a hard link,
// or, where links cannot be made, the file itself moved there (`moved`), by
// a rename that never replaces a file or, on file systems that know no such
// rename either (some FUSE and virtual-machine shared folders), by a plain
// rename onto an empty file made for it under a fresh name. False with errno
// set.
bool keep_aside(const std::string& place, std::string& aside, long& stop, bool& moved) {
  moved = false;
  auto linked = [&](const std::string& name) { return link(place.c_str(), name.c_str()); };
  if (make_beside(place, linked, aside, stop) == 0) return true;
  if (errno == ENOENT) return false;
  moved = true;
  auto renamed = [&](const std::string& name) {
    return renameat2(AT_FDCWD, place.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE);
  };
  if (make_beside(place, renamed, aside, stop) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
  auto renamed_onto_fresh = [&](const std::string& name) {
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    close(fd);
    if (rename(place.c_str(), name.c_str()) == 0) return 0;
    const int error = errno;
    unlink(name.c_str());
    errno = error;
    return -1;
  };
  return make_beside(place, renamed_onto_fresh, aside, stop) == 0;
}

struct Aside {
  std::string name;  // empty when the place held no file
  long stop = 0;
  bool moved = false;
};

// Renames every complete output onto its place, all or none: the files
// replaced are kept under second names until every rename has succeeded,
// and put back when one fails. With the lock held; the place that failed,
// and errno, when one did; `kept` then says where each earlier file that
// could not be put back is kept.
std::string commit_complete_outputs(std::string& kept) {
  std::vector<Output>& outputs = registry();
  std::vector<std::size_t> ready;
  for (std::size_t k = 0; k < outputs.size(); k++)
    if (outputs[k].complete) ready.push_back(k);
  std::vector<Aside> asides(ready.size());
  std::string failed;
  int error = 0;
  for (std::size_t r = 0; r < ready.size() && failed.empty(); r++) {
    const std::string& place = outputs[ready[r]].place;
    struct stat info;
    if (lstat(place.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    // Its rename would fail, and a second name of it could not be removed.
    if (io_sticky_forbids(place, info)) {
      error = EPERM;
      failed = place;
      break;
    }
    if (!keep_aside(place, asides[r].name, asides[r].stop, asides[r].moved)) {
      error = errno;
      failed = place;
      asides[r].name.clear();
    }
  }
  std::size_t placed = 0;
  if (failed.empty())
    for (; placed < ready.size(); placed++)
      if (rename(outputs[ready[placed]].staged.c_str(), outputs[ready[placed]].place.c_str()) != 0) {
        error = errno;
        failed = outputs[ready[placed]].place;
        break;
      }
  // Back to the earlier files, in the reverse order, so that a place
  // reached twice ends with its first file.
  if (!failed.empty())
    for (std::size_t r = ready.size(); r-- > 0;) {
      Aside& aside = asides[r];
      const std::string& place = outputs[ready[r]].place;
      if (aside.name.empty()) {
        if (r < placed) unlink(place.c_str());
      } else if (r < placed || aside.moved) {
        // An earlier file that cannot be put back stays under its second
        // name, which a stop then leaves too, and the user learns it.
        const bool back = rename(aside.name.c_str(), place.c_str()) == 0;
        if (!back) {
          stop_forget(aside.stop);
          aside.stop = 0;
          kept += "The earlier " + place + " could not be put back: it is kept as " + aside.name + "\n";
        }
        aside.name.clear();
      }
    }
  for (Aside& aside : asides) {
    if (!aside.name.empty()) unlink(aside.name.c_str());
    stop_forget(aside.stop);
  }
  if (!failed.empty()) {
    errno = error;
    return failed;
  }
  for (std::size_t r = ready.size(); r-- > 0;) {
    Output& output = outputs[ready[r]];
    stop_forget(output.staged_stop);
    output.staged.clear();
    output.staged_stop = 0;
    discard_files(output);
    outputs.erase(outputs.begin() + static_cast<std::ptrdiff_t>(ready[r]));
  }
  return std::string();
}

// A folder for a named output's writer: beside its place, or for a device,
// where temporary files go.
std::string private_folder_near(const std::string& place, bool device) {
  if (!device) return place;
  const char* temporary = std::getenv("TMPDIR");
  const std::string folder = temporary != nullptr && *temporary != '\0' ? temporary : P_tmpdir;
  const std::size_t slash = place.rfind('/');
  return folder + "/" + (slash == std::string::npos ? place : place.substr(slash + 1));
}

}  // namespace

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
    discard_files(*output);
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
      discard_files(*output);
      registry().erase(output);
    }
  }
  std::fclose(stream);
  errno = error;
}

std::string io_begin_named_output(const std::string& file) {
  register_cleanup();
  std::lock_guard<std::mutex> lock(registry_lock());
  Output output;
  if (!find_place(file, output.place, output.mode, output.to_device)) return std::string();
  // Made with the umask's bits at most, then opened to its owner alone,
  // whatever the umask leaves.
  auto made = [](const std::string& name) {
    if (mkdir(name.c_str(), 0700) != 0) return -1;
    chmod(name.c_str(), 0700);
    return 0;
  };
  // The writer is handed a name that begins with "/" or "./": the library
  // then takes every character after it as part of the name, where it would
  // read a leading blank or a "file:" prefix as its own syntax.
  std::string near = private_folder_near(output.place, output.to_device);
  if (near[0] != '/') near = "./" + near;
  if (make_beside(near, made, output.folder, output.folder_stop) != 0) return std::string();
  output.staged = output.folder + "/file";
  {
    StopSignalsHeld held;
    output.staged_stop = stop_removes(output.staged.c_str());
  }
  registry().push_back(output);
  return output.staged;
}

bool io_end_named_output(const std::string& written, bool complete) {
  const int error = errno;
  std::unique_lock<std::mutex> lock(registry_lock());
  auto output = find_staged(written);
  if (output == registry().end()) return false;  // never: begun by io_begin_named_output
  bool ended = complete;
  int reason = error;
  if (complete && output->to_device) {
    // Opening a FIFO may wait for a reader: not with the lock held.
    const std::string device = output->place;
    lock.unlock();
    ended = copy_to_device(written, device);
    reason = errno;
    lock.lock();
    output = find_staged(written);
  } else if (complete) {
    // Made by its writer: the replaced file's bits are given back here.
    if (output->mode >= 0) chmod(written.c_str(), static_cast<mode_t>(output->mode));
    return place_output(output);
  }
  discard_files(*output);
  registry().erase(output);
  errno = reason;
  return ended;
}

void io_hold_outputs() {
  std::lock_guard<std::mutex> lock(registry_lock());
  HoldDepth++;
}

void io_commit_outputs() {
  // A stop waits until every result is in place, or every earlier file back.
  StopSignalsHeld hold;
  std::string failed, kept;
  int error = 0;
  {
    std::lock_guard<std::mutex> lock(registry_lock());
    if (HoldDepth == 0 || --HoldDepth > 0) return;
    failed = commit_complete_outputs(kept);
    error = errno;
  }
  // The files not yet in place go with the process.
  if (!failed.empty())
    fatal_exitf(-1, stderr, "Error: cannot write a result file %s\n%s",
                io_open_failure(nullptr, failed, error).c_str(), kept.c_str());
}

OutputsPlacedAtOnce::OutputsPlacedAtOnce() { PlacedAtOnce++; }
OutputsPlacedAtOnce::~OutputsPlacedAtOnce() { PlacedAtOnce--; }

int io_try_new_file_beside(const std::string& place, std::string& left) {
  left.clear();
  std::string staged;
  long stop = 0;
  const int fd = create_staged(place, staged, stop);
  if (fd < 0) return errno;
  close(fd);
  const bool removed = unlink(staged.c_str()) == 0;
  const int error = errno;
  stop_forget(stop);
  if (removed) return 0;
  left = staged;
  return error;
}
