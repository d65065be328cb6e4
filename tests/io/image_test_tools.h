// Helpers of the image-format tests: raw files, the independent command-line
// tools (netpbm, giflib's tools, ImageMagick, libjpeg-turbo's programs) whose
// files are the references, a small PNM parser for what those tools print,
// and ways to make a read or write fail on purpose.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "array/vms.h"
#include "fits_test_files.h"
#include "support/installed_tools.h"

namespace image_test {

using fits_test::file_exists;
using fits_test::read_bytes;
using fits_test::scratch;
using fits_test::write_bytes;

// Whether the tool is installed; when not, the calling test fails.
inline bool have_tool(const std::string& tool) { return test_support::tool_installed(tool); }

// Exit status of a shell command (its standard error silenced).
inline int run(const std::string& command) {
  int status = std::system((command + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string run_output(const std::string& command) {
  std::string out;
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buf[4096];
  for (std::size_t n; pipe != nullptr && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  if (pipe != nullptr) pclose(pipe);
  return out;
}

// A binary PNM (P5 grey or P6 colour, maxval below 256); empty when not one.
struct Pnm {
  int width = 0, height = 0, channels = 0;
  std::vector<int> samples;  // line after line, channels interleaved
};

inline Pnm parse_pnm(const std::string& bytes) {
  Pnm pnm;
  if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) return pnm;
  std::size_t pos = 2;
  auto number = [&]() {
    for (; pos < bytes.size() && (std::isspace(static_cast<unsigned char>(bytes[pos])) || bytes[pos] == '#'); pos++)
      if (bytes[pos] == '#') pos = std::min(bytes.find('\n', pos), bytes.size() - 1);
    int value = 0;
    while (pos < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[pos]))) value = value * 10 + (bytes[pos++] - '0');
    return value;
  };
  pnm.width = number();
  pnm.height = number();
  number();  // maxval, then the one white-space character before the samples
  pos++;
  pnm.channels = bytes[1] == '5' ? 1 : 3;
  const std::size_t n = static_cast<std::size_t>(pnm.width) * pnm.height * pnm.channels;
  if (pos + n > bytes.size()) return Pnm();
  for (std::size_t k = 0; k < n; k++) pnm.samples.push_back(static_cast<unsigned char>(bytes[pos + k]));
  return pnm;
}

// A P5 file of the given bytes, as a reference made without our writer.
inline std::string pgm_bytes(int width, int height, const std::vector<int>& values) {
  std::string bytes = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

// A deterministic test picture of values 0..255 with smooth and sharp parts.
inline std::vector<int> test_pattern(int width, int height) {
  std::vector<int> values;
  for (int i = 0; i < height; i++)
    for (int j = 0; j < width; j++) values.push_back(((i * 7 + j * 3) % 200) + ((i / 4 + j / 5) % 2) * 55);
  return values;
}

// Files of this process may not grow past max_bytes; a longer write fails
// (for death tests: the limit stays with the process).
inline void limit_file_size(rlim_t max_bytes) {
  signal_catch(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  limit.rlim_cur = limit.rlim_max = max_bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
}

// The standard input becomes a pipe holding bytes (a stream whose size is
// unknown, so only the read itself can find it short).
inline void stdin_from_pipe(const std::string& bytes) {
  int ends[2];
  if (pipe(ends) != 0 || write(ends[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
  close(ends[1]);
  dup2(ends[0], fileno(stdin));
}

// Runs write() with the standard output sent to the file at path.
template <class Write>
void stdout_to_file(const std::string& path, Write write) {
  std::fflush(stdout);
  int saved = dup(fileno(stdout));
  std::FILE* target = std::fopen(path.c_str(), "wb");
  dup2(fileno(target), fileno(stdout));
  write();
  std::fflush(stdout);
  dup2(saved, fileno(stdout));
  close(saved);
  std::fclose(target);
}

// Runs read() with the standard input reading bytes.
template <class Read>
void stdin_with(const std::string& bytes, Read read) {
  int saved = dup(fileno(stdin));
  stdin_from_pipe(bytes);
  read();
  std::clearerr(stdin);
  dup2(saved, fileno(stdin));
  close(saved);
}

}  // namespace image_test

// Ends the test, failed, where the tool is missing.
#define REQUIRE_TOOL(tool) \
  if (!image_test::have_tool(tool)) return
