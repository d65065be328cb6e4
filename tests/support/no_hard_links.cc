// Preloaded into the program by tests (LD_PRELOAD), this library makes the
// file system look like one without hard links or renames with flags, as
// some FUSE and virtual-machine shared folders are: link and linkat fail
// with EPERM, renameat2 with any flag with EINVAL. Everything else goes on.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

extern "C" int link(const char*, const char*) noexcept {
  errno = EPERM;
  return -1;
}

extern "C" int linkat(int, const char*, int, const char*, int) noexcept {
  errno = EPERM;
  return -1;
}

extern "C" int renameat2(int from_folder, const char* from, int to_folder, const char* to,
                         unsigned int flags) noexcept {
  if (flags != 0) {
    errno = EINVAL;
    return -1;
  }
  return static_cast<int>(syscall(SYS_renameat2, from_folder, from, to_folder, to, 0u));
}
