// Fatal error reporting shared by every subsystem.
#include "array/fatal.h"

#include <cstdarg>
#include <cstdlib>

void fatal_exit(const std::string& message, int status, std::FILE* stream) {
  std::fputs(message.c_str(), stream);
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(status);
}

void fatal_exitf(int status, std::FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(status);
}
