// The wait policy of the OpenMP threads, set before the runtime reads it by
// starting the program again (see omp_wait_policy.h).
#include "mca/omp_wait_policy.h"

#include <omp.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

std::vector<std::pair<std::string, std::string>> sleeping_thread_settings(
    const std::function<const char*(const char*)>& lookup, int max_threads) {
  // GOMP_SPINCOUNT alone is a choice of how long to spin: it is kept too.
  if (max_threads <= 1 || lookup("OMP_WAIT_POLICY") != nullptr ||
      lookup("GOMP_SPINCOUNT") != nullptr)
    return {};
  return {{"OMP_WAIT_POLICY", "passive"}};
}

void restart_with_sleeping_threads(char* argv[]) {
  const auto settings =
      sleeping_thread_settings([](const char* name) { return std::getenv(name); },
                               omp_get_max_threads());
  if (settings.empty()) return;
  for (const auto& [name, value] : settings) setenv(name.c_str(), value.c_str(), 1);
  // The new run finds the settings in place and goes on without a restart.
  // The program is started by its own path, so that it keeps its process
  // name, and argv[0] is passed on as it was, for the usage text.
  char program[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
  if (length > 0) {
    program[length] = '\0';
    execv(program, argv);
  }
  for (const auto& setting : settings) unsetenv(setting.first.c_str());
}
