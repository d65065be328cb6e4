// An inode flag (append-only, immutable) set on a file or folder for the
// life of this object, and cleared again, so that the test's folder can be
// removed. Setting it needs root and a file system that keeps such flags.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

class InodeFlagSet {
 public:
  InodeFlagSet(const std::string& path, int flag) : flag_(flag) {
    fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int flags = 0;
    if (fd_ < 0 || ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0) return;
    flags |= flag_;
    set_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ~InodeFlagSet() {
    int flags = 0;
    if (set_ && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~flag_;
      ioctl(fd_, FS_IOC_SETFLAGS, &flags);
    }
    if (fd_ >= 0) close(fd_);
  }
  InodeFlagSet(const InodeFlagSet&) = delete;
  InodeFlagSet& operator=(const InodeFlagSet&) = delete;
  // Whether the flag could be set.
  bool set() const { return set_; }

 private:
  int fd_ = -1;
  int flag_;
  bool set_ = false;
};
