// Preloaded into the program by tests (LD_PRELOAD), this library stands for
// another user who may write an input and rewrites it while the run reads
// it: at the first read or pread of the file named by QZ_REWRITE_FILE that
// reaches past byte QZ_REWRITE_PAST, once that read is served (or just
// before, where QZ_REWRITE_BEFORE is set), the file's bytes are overwritten
// in place (same inode, no truncation) with those of the file named by
// QZ_REWRITE_WITH. Reads the library makes inside the C
// library (stdio's own) are not seen; the program's own reads are.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

std::atomic<bool> rewritten{false};
std::mutex rewrite_lock;

template <class Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Whether descriptor reads the file to rewrite.
bool is_target(int descriptor) {
  const char* target = std::getenv("QZ_REWRITE_FILE");
  struct stat named, opened;
  return target != nullptr && stat(target, &named) == 0 && fstat(descriptor, &opened) == 0 &&
         named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

void rewrite_once() {
  std::lock_guard<std::mutex> lock(rewrite_lock);
  if (rewritten.load()) return;
  rewritten.store(true);
  const char* target = std::getenv("QZ_REWRITE_FILE");
  const char* source = std::getenv("QZ_REWRITE_WITH");
  if (target == nullptr || source == nullptr) return;
  std::FILE* in = std::fopen(source, "rb");
  if (in == nullptr) return;
  std::vector<char> bytes;
  char piece[4096];
  for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, in)) > 0;) bytes.insert(bytes.end(), piece, piece + got);
  std::fclose(in);
  const int out = open(target, O_WRONLY);
  if (out < 0) return;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = pwrite(out, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (put <= 0) break;
    done += static_cast<std::size_t>(put);
  }
  close(out);
}

// Around a read of `descriptor` that ends at `end`, `before` it is served
// or after.
void around_read(int descriptor, long long end, bool before) {
  if (rewritten.load() || before != (std::getenv("QZ_REWRITE_BEFORE") != nullptr)) return;
  const char* past = std::getenv("QZ_REWRITE_PAST");
  if (past == nullptr || end <= std::atoll(past) || !is_target(descriptor)) return;
  const int saved = errno;
  rewrite_once();
  errno = saved;
}

}  // namespace

extern "C" ssize_t read(int descriptor, void* out, size_t count) {
  static const auto real = next<ssize_t (*)(int, void*, size_t)>("read");
  around_read(descriptor, lseek(descriptor, 0, SEEK_CUR) + static_cast<long long>(count), true);
  const ssize_t got = real(descriptor, out, count);
  if (got > 0) around_read(descriptor, lseek(descriptor, 0, SEEK_CUR), false);
  return got;
}

namespace {

// pread and pread64, which differ in their offset's type alone.
template <class Offset>
ssize_t positioned_read(const char* name, int descriptor, void* out, size_t count, Offset offset) {
  const auto real = next<ssize_t (*)(int, void*, size_t, Offset)>(name);
  around_read(descriptor, static_cast<long long>(offset) + static_cast<long long>(count), true);
  const ssize_t got = real(descriptor, out, count, offset);
  if (got > 0) around_read(descriptor, static_cast<long long>(offset) + got, false);
  return got;
}

}  // namespace

extern "C" ssize_t pread(int descriptor, void* out, size_t count, off_t offset) {
  return positioned_read("pread", descriptor, out, count, offset);
}

extern "C" ssize_t pread64(int descriptor, void* out, size_t count, off64_t offset) {
  return positioned_read("pread64", descriptor, out, count, offset);
}
