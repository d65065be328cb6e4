// The wait policy of the OpenMP threads, set in the environment before the
// runtime reads it (see omp_wait_policy.h).
#include "mca/omp_wait_policy.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

int usable_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

}  // namespace

int other_runnable_tasks(const char* loadavg) {
  std::FILE* f = std::fopen(loadavg, "r");
  if (f == nullptr) return -1;
  double one, five, fifteen;
  int runnable = 0, total = 0;
  const int read = std::fscanf(f, "%lf %lf %lf %d/%d", &one, &five, &fifteen, &runnable, &total);
  std::fclose(f);
  return read == 5 && runnable >= 1 ? runnable - 1 : -1;
}

std::vector<std::pair<std::string, std::string>> sleeping_thread_settings(
    const std::function<const char*(const char*)>& lookup, int max_threads,
    const std::function<int(int most)>& other_tasks, int cpus) {
  // GOMP_SPINCOUNT alone is a choice of how long to spin: it is kept too.
  if (max_threads <= 1 || lookup("OMP_WAIT_POLICY") != nullptr ||
      lookup("GOMP_SPINCOUNT") != nullptr)
    return {};
  // With a core for every thread, a short spin catches the many short waits
  // of an iteration without the cost of waking a sleeping thread; with the
  // cores taken by other work, any spinning takes them from the threads
  // that have work to do.
  if (max_threads <= cpus) {
    const int others = other_tasks(cpus - max_threads);
    if (others >= 0 && others + max_threads <= cpus) {
      std::vector<std::pair<std::string, std::string>> settings{{"GOMP_SPINCOUNT", QuietSpinCount}};
      // Left to the scheduler, a new team often starts with two threads on
      // one core and another core idle, and the pair stays together while
      // they spin: each short region then waits for a spin or a tick. A
      // team that takes every core loses nothing by a thread on each; a
      // smaller one is left free, as two such runs bound alike would share
      // the same cores.
      if (max_threads == cpus && lookup("OMP_PROC_BIND") == nullptr &&
          lookup("OMP_PLACES") == nullptr && lookup("GOMP_CPU_AFFINITY") == nullptr)
        settings.emplace_back("OMP_PROC_BIND", "close");
      return settings;
    }
  }
  return {{"OMP_WAIT_POLICY", "passive"}};
}

int least_count(const std::function<int()>& count, int most, int counts,
                const std::function<void()>& pause) {
  int least = -1;
  for (int k = 0; k < counts; k++) {
    if (k > 0) pause();
    const int now = count();
    // What cannot be read now will not be later: no pauses for nothing.
    if (now < 0) break;
    if (least < 0 || now < least) least = now;
    if (least <= most) break;
  }
  return least;
}

int runtime_thread_count(const char* omp_num_threads, int cpus) {
  if (omp_num_threads == nullptr) return cpus;
  // The first number of the list, as the runtime reads it: leading blanks,
  // then digits, then the end, blanks or the next level's count.
  const char* at = omp_num_threads;
  while (std::isspace(static_cast<unsigned char>(*at))) at++;
  if (!std::isdigit(static_cast<unsigned char>(*at))) return cpus;
  char* end = nullptr;
  const unsigned long count = std::strtoul(at, &end, 10);
  while (std::isspace(static_cast<unsigned char>(*end))) end++;
  if (count == 0 || (*end != '\0' && *end != ',')) return cpus;
  return static_cast<int>(std::min<unsigned long>(count, INT_MAX));
}

void set_sleeping_threads() {
  const int cpus = usable_cpus();
  // Four counts over about 2 ms: long enough for a shell to wait and for a
  // program at the other end of a pipe to start, the most a busy machine
  // delays the start. The first pause is short: the task nearly always
  // counted is the shell that started the program, woken as the program
  // took the place of its copy and asleep again within microseconds.
  const auto other_tasks = [](int most) {
    static constexpr useconds_t pauses[] = {100, 600, 1300};
    constexpr int counts = static_cast<int>(std::size(pauses)) + 1;
    int next = 0;
    return least_count([] { return other_runnable_tasks("/proc/loadavg"); }, most, counts,
                       [&next] { usleep(pauses[next++]); });
  };
  const auto settings = sleeping_thread_settings(
      [](const char* name) { return std::getenv(name); },
      runtime_thread_count(std::getenv("OMP_NUM_THREADS"), cpus), other_tasks, cpus);
  for (const auto& [name, value] : settings) setenv(name.c_str(), value.c_str(), 1);
}
