// Children that tests fork. LLVM's OpenMP runtime registers each process
// that starts it in a file of /dev/shm named after the process id
// (__KMP_REGISTERED_LIB_<pid>, then "_" and the user id), and removes that
// file only from an exit-time destructor of its own: a child that ends by
// _exit or by a signal, or that runs a program which does, leaves its file
// behind, and a test run would leave a hundred. The parent, which alone sees
// every way a child ends, removes what the runtime kept of it as it reaps it.
// GNU's runtime keeps no such file; nothing is found then.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace test_support {

// Removes the OpenMP runtime's registration files of the ended process pid
// in `folder`, and no other process's nor another user's: the names are
// whole, so that pid 123 never takes 1234's. Older runtimes name the file
// without the user id.
inline void remove_runtime_registration(pid_t pid, const std::string& folder = "/dev/shm") {
  const std::string name = folder + "/__KMP_REGISTERED_LIB_" + std::to_string(pid);
  unlink(name.c_str());
  unlink((name + "_" + std::to_string(getuid())).c_str());
}

// waitpid for the child pid (wait4 when usage is wanted), through
// interruptions by signals, then the child's runtime files removed. Returns
// what waitpid returns.
inline pid_t reap_child(pid_t pid, int* status, struct rusage* usage = nullptr) {
  pid_t reaped;
  do {
    reaped = usage != nullptr ? wait4(pid, status, 0, usage) : waitpid(pid, status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped > 0) remove_runtime_registration(reaped);
  return reaped;
}

}  // namespace test_support
