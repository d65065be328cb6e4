// QZ_PLAIN_LOOPS set for the lifetime of an object, for tests that run the
// dispatched loops through the base entries as well as the AVX2 ones.
#pragma once

#include <cstdlib>
#include <string>

#include "array/cpu_dispatch.h"

namespace qz_test {

// Sets (or, with nullptr, removes) QZ_PLAIN_LOOPS, and with `reread` makes
// the choice of entries again; the test's environment and choice come back
// on destruction.
class DispatchSwitch {
 public:
  explicit DispatchSwitch(const char* value, bool reread = true) : reread_(reread) {
    const char* old = std::getenv(kName);
    had_value_ = old != nullptr;
    if (had_value_) old_value_ = old;
    set(value);
  }
  ~DispatchSwitch() { set(had_value_ ? old_value_.c_str() : nullptr); }
  DispatchSwitch(const DispatchSwitch&) = delete;
  DispatchSwitch& operator=(const DispatchSwitch&) = delete;

  static constexpr const char* kName = "QZ_PLAIN_LOOPS";

 private:
  void set(const char* value) const {
    if (value) setenv(kName, value, 1);
    else unsetenv(kName);
    if (reread_) cpu_dispatch_reread();
  }
  bool reread_;
  bool had_value_ = false;
  std::string old_value_;
};

// True when the processor has the AVX2 entries to choose from.
inline bool hardware_avx2() {
#if QZ_AVX2_ENTRY
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace qz_test
