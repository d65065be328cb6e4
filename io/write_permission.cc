// Who may write where. The kernel's rules are repeated here, before any
// file is made, so that a run refuses at its start what its commit could not
// do at its end: follow another user's link in a shared folder, replace
// another user's file in a folder with the sticky bit, rename in an
// append-only or immutable folder, replace an append-only file.
#include "io/write_permission.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/xattr.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "io/image_file.h"
#include "io/output_file.h"

namespace {

// The kernel's limit on the links one lookup follows.
constexpr int kMaxLinks = 40;

bool may_override_ownership() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[CAP_FOWNER / 32].effective & (1u << (CAP_FOWNER % 32))) != 0;
}

// The kernel's rule for links in shared folders (fs.protected_symlinks),
// which binds root too: a link in a world-writable folder with the sticky
// bit is followed only by its owner, or when the folder's owner made it.
bool may_follow(const std::string& link, const struct stat& info) {
  struct stat folder;
  if (stat(io_folder_of(link).c_str(), &folder) != 0) return true;
  const bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return !shared || info.st_uid == geteuid() || info.st_uid == folder.st_uid;
}

// The inode flags of a file or folder (append-only, immutable), 0 when they
// cannot be read.
int inode_flags(const std::string& path, bool folder) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
  if (fd < 0) return 0;
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) flags = 0;
  close(fd);
  return flags;
}

}  // namespace

int io_link_end(const std::string& path, std::string& end) {
  end = path;
  std::vector<char> text(PATH_MAX + 1);
  for (int links = 0;; links++) {
    struct stat info;
    if (lstat(end.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return 0;
    if (links == kMaxLinks) {
      end = path;
      return ELOOP;
    }
    if (!may_follow(end, info)) return EACCES;
    const ssize_t n = readlink(end.c_str(), text.data(), text.size() - 1);
    if (n < 0) return 0;
    std::string target(text.data(), static_cast<std::size_t>(n));
    const std::size_t slash = end.rfind('/');
    if (!target.empty() && target[0] != '/' && slash != std::string::npos)
      target = end.substr(0, slash + 1) + target;
    end = target;
  }
}

std::string io_folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool io_sticky_forbids(const std::string& place, const struct stat& info) {
  struct stat folder;
  if (stat(io_folder_of(place).c_str(), &folder) != 0 || (folder.st_mode & S_ISVTX) == 0) return false;
  return info.st_uid != geteuid() && folder.st_uid != geteuid() && !may_override_ownership();
}

std::string io_output_refusal(const char* typed, const std::string& file) {
  std::string place;
  const int link_error = io_link_end(file, place);
  // The place named as the user's name leads to it.
  const std::string named = place == file ? file : file + ", a link to " + place;
  auto refused = [&](const std::string& subject, int error, const std::string& why) {
    return "(" + subject + ": " + std::strerror(error) + (why.empty() ? "" : ", " + why) + ")";
  };
  if (link_error == ELOOP) return io_open_failure(typed, file, ELOOP);
  if (link_error == EACCES)
    return refused(named, EACCES, "a link in a shared folder with the sticky bit that another user made");
  struct stat info;
  const bool exists = stat(place.c_str(), &info) == 0;
  if (!exists && errno != ENOENT) return place == file ? io_open_failure(typed, file, errno) : refused(named, errno, "");
  if (exists && S_ISDIR(info.st_mode)) return refused(named, EISDIR, "");
  if (exists && access(place.c_str(), W_OK) != 0) return refused(named, errno, "");
  if (exists && !S_ISREG(info.st_mode)) return std::string();  // a device, written in place
  const std::string folder = io_folder_of(place);
  if (exists && io_sticky_forbids(place, info))
    return refused(named, EPERM, "another user's file in a folder with the sticky bit");
  if ((inode_flags(folder, true) & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0)
    return refused(named, EPERM, "its folder " + folder + " is append-only or immutable");
  if (exists && (inode_flags(place, false) & FS_APPEND_FL) != 0)
    return refused(named, EPERM, "a file that may only be appended to");
  std::string left;
  const int error = io_try_new_file_beside(place, left);
  if (error == 0) return std::string();
  if (!left.empty()) return refused(left, error, "its folder " + folder + " lets a new file be made but not removed");
  if (exists) return refused(named, error, "its folder " + folder + " takes no new file");
  return place == file ? io_open_failure(typed, file, error) : refused(named, error, "");
}

bool io_group_is_private(const struct group& group, const struct passwd& user) {
  if (group.gr_gid != user.pw_gid || group.gr_name == nullptr || user.pw_name == nullptr ||
      std::strcmp(group.gr_name, user.pw_name) != 0)
    return false;
  for (char** member = group.gr_mem; member != nullptr && *member != nullptr; member++)
    if (std::strcmp(*member, user.pw_name) != 0) return false;
  return true;
}

namespace {

// Whether `group` is the private group of the user `self`. Looked up by
// number alone: a directory service need not list its users, so no walk
// of them could show that no one else has the group.
bool group_is_private_to(gid_t group, uid_t self) {
  std::vector<char> user_text(16384), group_text(16384);
  struct passwd user;
  struct passwd* user_found = nullptr;
  struct group entry;
  struct group* group_found = nullptr;
  while (getpwuid_r(self, &user, user_text.data(), user_text.size(), &user_found) == ERANGE)
    user_text.resize(user_text.size() * 2);
  if (user_found == nullptr) return false;
  while (getgrgid_r(group, &entry, group_text.data(), group_text.size(), &group_found) == ERANGE)
    group_text.resize(group_text.size() * 2);
  return group_found != nullptr && io_group_is_private(entry, user);
}

}  // namespace

bool io_writable_by_others(int descriptor, const struct stat& info) {
  const uid_t self = geteuid();
  if (info.st_uid != self && info.st_uid != 0) return true;
  if ((info.st_mode & S_IWOTH) != 0) return true;
  if ((info.st_mode & S_IWGRP) == 0) return false;
  // With an access list, the group bits are its mask: a user or a group it
  // names may write.
  if (fgetxattr(descriptor, "system.posix_acl_access", nullptr, 0) >= 0) return true;
  return !group_is_private_to(info.st_gid, self);
}
