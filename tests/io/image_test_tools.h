// Helpers of the image-format tests: raw files, the independent command-line
// tools (netpbm, giflib's tools, ImageMagick, libjpeg-turbo's programs) whose
// files are the references, and a small PNM parser for what those tools
// print.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fits_test_files.h"

namespace image_test {

using fits_test::file_exists;
using fits_test::read_bytes;
using fits_test::scratch;

inline void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool have_tool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

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

// A binary PNM (P5 grey or P6 colour, maxval below 256).
struct Pnm {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<int> samples;  // line after line, channels interleaved
};

inline Pnm parse_pnm(const std::string& bytes) {
  Pnm pnm;
  if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) return pnm;
  std::size_t pos = 2;
  auto number = [&]() {
    while (pos < bytes.size() && (std::isspace(static_cast<unsigned char>(bytes[pos])) || bytes[pos] == '#')) {
      if (bytes[pos] == '#')
        while (pos < bytes.size() && bytes[pos] != '\n') pos++;
      else
        pos++;
    }
    int value = 0;
    while (pos < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[pos]))) value = value * 10 + (bytes[pos++] - '0');
    return value;
  };
  pnm.width = number();
  pnm.height = number();
  number();  // maxval
  pos++;     // the one white-space character before the samples
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

}  // namespace image_test

#define REQUIRE_TOOL(tool) \
  if (!image_test::have_tool(tool)) GTEST_SKIP() << tool << " is not installed"
