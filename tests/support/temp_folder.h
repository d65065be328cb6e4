// Fresh folders for tests, under the temporary folder: the test program's
// own (tests/support/test_main.cc), which goes with everything in it when
// the program ends, whatever a test or a death test's child left there.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace test_support {

// The round of the tests now running, from 0: --gtest_repeat runs every test
// again in the same process, where a test must not find what the round
// before left. Counted by the test programs' main (support/test_main.cc).
int test_round();

// A new folder named `stem` and six random characters; the program ends
// when none can be made.
inline std::string make_temp_folder(const std::string& stem) {
  const std::string pattern = ::testing::TempDir() + stem + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) {
    std::perror(pattern.c_str());
    std::abort();
  }
  return name.data();
}

}  // namespace test_support
