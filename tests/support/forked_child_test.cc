// The OpenMP runtime's registration files of a reaped child: its own go,
// and nothing of a process whose id starts with the same digits, nor of
// another user.
#include "support/forked_child.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/temp_folder.h"

namespace {

const std::string Registered = "__KMP_REGISTERED_LIB_";

bool make_file(const std::string& path) {
  const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
  return fd >= 0 && close(fd) == 0;
}

bool exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

TEST(ForkedChild, RemovesTheRegistrationOfThatProcessOnly) {
  const std::string folder = test_support::make_temp_folder("shm");
  const std::string pid = std::to_string(getpid());
  const std::string uid = std::to_string(getuid());
  const struct {
    std::string name;
    bool removed;
  } files[] = {
      {Registered + pid + "_" + uid, true},
      {Registered + pid, true},  // older runtimes
      {Registered + pid + "7_" + uid, false},
      {Registered + pid + "7", false},
      {Registered + pid.substr(0, pid.size() - 1) + "_" + uid, false},
      {Registered + pid + "_" + std::to_string(getuid() + 1), false},
      {Registered + pid + "_" + uid + "0", false},
  };
  for (const auto& file : files) ASSERT_TRUE(make_file(folder + "/" + file.name)) << file.name;
  test_support::remove_runtime_registration(getpid(), folder);
  for (const auto& file : files) {
    EXPECT_EQ(exists(folder + "/" + file.name), !file.removed) << file.name;
    unlink((folder + "/" + file.name).c_str());
  }
  EXPECT_EQ(rmdir(folder.c_str()), 0);
}

TEST(ForkedChild, ReapingRemovesWhatTheChildsRuntimeLeftInSharedMemory) {
  // The child leaves its file as the runtime would when it ends by _exit.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  const std::string name = "/dev/shm/" + Registered + std::to_string(child > 0 ? child : getpid()) + "_" +
                           std::to_string(getuid());
  if (child == 0) _exit(exists(name) || make_file(name) ? 0 : 1);
  int status = -1;
  EXPECT_EQ(test_support::reap_child(child, &status), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "no file " << name << ", status " << status;
  EXPECT_FALSE(exists(name)) << name;
}

}  // namespace
