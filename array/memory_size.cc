// Memory size of the machine, from the system configuration, and what is
// left of it to this process, from the kernel's accounts in /proc and the
// control groups.
#include "array/memory_size.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

std::uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

namespace {

constexpr std::uint64_t kUnknown = ~std::uint64_t(0);

// The value of a "Key:   N kB" line of a /proc file, in bytes.
std::uint64_t proc_field_bytes(const char* file, const char* key) {
  std::ifstream in(file);
  std::string line;
  const std::size_t length = std::strlen(key);
  while (std::getline(in, line))
    if (line.compare(0, length, key) == 0 && line.size() > length && line[length] == ':') {
      unsigned long long kb = 0;
      if (std::sscanf(line.c_str() + length + 1, "%llu", &kb) != 1) return kUnknown;
      return kb << 10;
    }
  return kUnknown;
}

// The first number a file holds; kUnknown for none ("max", no such file).
std::uint64_t file_number(const std::string& file) {
  std::ifstream in(file);
  unsigned long long value = 0;
  if (!(in >> value)) return kUnknown;
  return value;
}

// What a limit leaves above what is in use; kUnknown when there is no limit.
std::uint64_t headroom(std::uint64_t limit, std::uint64_t used) {
  if (limit == kUnknown || used == kUnknown) return kUnknown;
  return limit > used ? limit - used : 0;
}

std::uint64_t resource_headroom(int resource, const char* used_key) {
  struct rlimit limit;
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnknown;
  return headroom(limit.rlim_cur, proc_field_bytes("/proc/self/status", used_key));
}

// The least a control group and each group above it leave, where
// `folder` holds the groups' tree and `group` names the process's group.
std::uint64_t group_headroom(const std::string& folder, std::string group, const char* limit_file,
                             const char* usage_file) {
  std::uint64_t least = kUnknown;
  for (;;) {
    const std::string at = folder + group;
    least = std::min(least, headroom(file_number(at + "/" + limit_file), file_number(at + "/" + usage_file)));
    const std::size_t slash = group.rfind('/');
    if (group.empty() || slash == std::string::npos) break;
    group.erase(slash);
  }
  return least;
}

// The control groups' limits: the unified hierarchy's memory.max, or the
// older memory controller's limit_in_bytes (whose "no limit" is a number
// near 2^63, above any use).
std::uint64_t control_group_headroom() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  std::uint64_t least = kUnknown;
  while (std::getline(in, line)) {
    const std::size_t first = line.find(':'), second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    std::string group = line.substr(second + 1);
    if (group == "/") group.clear();
    if (line.compare(0, first, "0") == 0 && controllers.empty())
      least = std::min(least, group_headroom("/sys/fs/cgroup", group, "memory.max", "memory.current"));
    else if (("," + controllers + ",").find(",memory,") != std::string::npos)
      least = std::min(least, group_headroom("/sys/fs/cgroup/memory", group, "memory.limit_in_bytes",
                                             "memory.usage_in_bytes"));
  }
  return least;
}

}  // namespace

std::uint64_t available_memory_bytes() {
  std::uint64_t least = proc_field_bytes("/proc/meminfo", "MemAvailable");
  least = std::min(least, resource_headroom(RLIMIT_AS, "VmSize"));
  least = std::min(least, resource_headroom(RLIMIT_DATA, "VmData"));
  least = std::min(least, control_group_headroom());
  return least;
}
