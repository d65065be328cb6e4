// File-system faults for the tests of the staged outputs, chosen by the
// test: the program's own calls of rename, renameat2, unlink, link and linkat come
// here instead of the C library's (the definitions below take their place
// in the test program, whose code is linked statically), and go on to the
// kernel unless a fault is armed. Include it in one source of a test
// program only.
#pragma once

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace fs_faults {

// A file system without hard links or renames with flags (some FUSE and
// virtual-machine shared folders): link fails with EPERM, a rename with
// flags with EINVAL.
inline bool NoHardLinks = false;

// A rename onto `to` (by rename or renameat2) after `pass` earlier ones
// onto it: the signal `signal` is raised first, if any, and then the rename
// fails with `error`, if any, or is done. With `prefix`, onto any name that
// begins with `to` (the new names the staged outputs make, whose six last
// characters are random).
struct RenameFault {
  std::string to;
  int pass = 0;
  int error = 0;
  int signal = 0;
  bool prefix = false;
};
inline std::vector<RenameFault> RenameFaults;

// unlink of any name that begins with `prefix` fails with `error`.
struct UnlinkFault {
  std::string prefix;
  int error = 0;
};
inline std::vector<UnlinkFault> UnlinkFaults;

inline void clear() {
  NoHardLinks = false;
  RenameFaults.clear();
  UnlinkFaults.clear();
}

// -1 with errno set when a fault makes the rename onto `to` fail.
inline int before_rename(const char* to) {
  for (RenameFault& fault : RenameFaults) {
    if (fault.prefix ? std::string(to).rfind(fault.to, 0) != 0 : fault.to != to) continue;
    if (fault.pass > 0) {
      fault.pass--;
      continue;
    }
    if (fault.signal != 0) raise(fault.signal);
    if (fault.error != 0) {
      errno = fault.error;
      return -1;
    }
  }
  return 0;
}

}  // namespace fs_faults

extern "C" int rename(const char* from, const char* to) noexcept {
  if (fs_faults::before_rename(to) != 0) return -1;
  return static_cast<int>(syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0u));
}

extern "C" int renameat2(int from_folder, const char* from, int to_folder, const char* to,
                         unsigned int flags) noexcept {
  if (flags != 0 && fs_faults::NoHardLinks) {
    errno = EINVAL;
    return -1;
  }
  if (fs_faults::before_rename(to) != 0) return -1;
  return static_cast<int>(syscall(SYS_renameat2, from_folder, from, to_folder, to, flags));
}

extern "C" int unlink(const char* path) noexcept {
  for (const fs_faults::UnlinkFault& fault : fs_faults::UnlinkFaults)
    if (std::string(path).rfind(fault.prefix, 0) == 0) {
      errno = fault.error;
      return -1;
    }
  return static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, 0));
}

extern "C" int link(const char* from, const char* to) noexcept {
  if (fs_faults::NoHardLinks) {
    errno = EPERM;
    return -1;
  }
  return static_cast<int>(syscall(SYS_linkat, AT_FDCWD, from, AT_FDCWD, to, 0));
}

extern "C" int linkat(int from_folder, const char* from, int to_folder, const char* to, int flags) noexcept {
  if (fs_faults::NoHardLinks) {
    errno = EPERM;
    return -1;
  }
  return static_cast<int>(syscall(SYS_linkat, from_folder, from, to_folder, to, flags));
}
