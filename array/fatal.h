// The one way the system fails: print a message and end the process.
// Every fatal path goes through here so that no error ends with status 0.
#pragma once

#include <cstdio>
#include <string>

// Prints `message` (as given, no newline added) on `stream`, flushes the
// standard streams and ends the process with `status`.
[[noreturn]] void fatal_exit(const std::string& message, int status = -1,
                             std::FILE* stream = stdout);

// printf-style form of fatal_exit.
[[noreturn]] void fatal_exitf(int status, std::FILE* stream, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
