// What a statement prints, as a string: many of the system's reports go to
// standard output or standard error rather than back to the caller.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace qz_test {

template <class Statement>
std::string stdout_of(Statement&& statement) {
  testing::internal::CaptureStdout();
  statement();
  return testing::internal::GetCapturedStdout();
}

template <class Statement>
std::string stderr_of(Statement&& statement) {
  testing::internal::CaptureStderr();
  statement();
  return testing::internal::GetCapturedStderr();
}

}  // namespace qz_test
