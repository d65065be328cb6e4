// Death-test helpers. GoogleTest matches a dying statement's standard error
// only; many of the system's messages go to standard output, so these
// helpers send standard output to standard error inside the child first.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#define QZ_STDOUT_TO_STDERR()             \
  do {                                    \
    std::fflush(stdout);                  \
    dup2(fileno(stderr), fileno(stdout)); \
  } while (0)

// The statement must end the process with `status` (as the shell sees it,
// so -1 is 255) and print something matching `regex` on either stream.
#define EXPECT_EXIT_STATUS(statement, status, regex) \
  EXPECT_EXIT(                                       \
      {                                              \
        QZ_STDOUT_TO_STDERR();                       \
        statement;                                   \
      },                                             \
      ::testing::ExitedWithCode(status), regex)
