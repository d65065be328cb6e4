// The command-line tools that the tests call, as makers of their inputs and
// as independent readers of our files. scripts/setup.sh installs every one,
// so a missing tool is a fault of the machine, reported as a failure that
// names it: a test that skipped the cases it makes would pass unseen.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace test_support {

// Whether `tool` is on the path; when not, the calling test fails, saying so.
inline bool tool_installed(const std::string& tool) {
  if (std::system(("command -v '" + tool + "' >/dev/null 2>&1").c_str()) == 0) return true;
  ADD_FAILURE() << tool << " is not installed, and this test calls it: scripts/setup.sh installs it";
  return false;
}

}  // namespace test_support
