// Fixture for tests that run the qz_mca program (named by the environment
// variable QZ_MCA) in a fresh temporary directory, removed afterwards; each
// run keeps the program's exit status and its standard output and error.
// Input and output images go through CFITSIO, independently of our reader.
#pragma once

#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "array/to_array.h"
#include "support/temp_folder.h"

// A 2D image as CFITSIO reads it: pixels line after line, and header cards.
struct FitsImage {
  int nl = 0, nc = 0;  // 0 when the file could not be read
  std::vector<float> pixels;
  std::vector<std::string> cards;
  FitsImage() = default;
  FitsImage(int lines, int columns) : nl(lines), nc(columns), pixels(size_t(lines) * columns) {}
  explicit FitsImage(const to_array<float, false>& ima)
      : nl(ima.nl()), nc(ima.nc()), pixels(ima.buffer(), ima.buffer() + ima.n_elem()) {}
  double mean() const {
    double s = 0;
    for (float p : pixels) s += p;
    return pixels.empty() ? 0 : s / pixels.size();
  }
  float& at(int i, int j) { return pixels[static_cast<size_t>(i) * nc + j]; }
  bool has_card(const std::string& start, const std::string& part = "") const {
    for (const auto& c : cards)
      if (c.compare(0, start.size(), start) == 0 && c.find(part) != std::string::npos) return true;
    return false;
  }
};

// Writes ima with the given BITPIX (and BZERO for CFITSIO's unsigned types),
// stored as pixel / bscale with that BSCALE, and one OBSERVER card that the
// results must carry on.
inline void write_fits(const std::string& path, const FitsImage& ima, int bitpix = FLOAT_IMG,
                       double bscale = 1.) {
  fitsfile* f = nullptr;
  int status = 0;
  long axes[2] = {ima.nc, ima.nl};
  fits_create_file(&f, ("!" + path).c_str(), &status);
  fits_create_img(f, bitpix, 2, axes, &status);
  fits_update_key_str(f, "OBSERVER", "unit test", "written by CFITSIO", &status);
  if (bscale != 1.) {
    fits_update_key_dbl(f, "BSCALE", bscale, -15, "", &status);
    fits_set_bscale(f, bscale, 0., &status);
  }
  std::vector<float> pixels = ima.pixels;
  fits_write_img(f, TFLOAT, 1, pixels.size(), pixels.data(), &status);
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0) << path;
}

// Writes ima as a raw disp image: big-endian floats, line after line.
inline void write_disp(const std::string& path, const FitsImage& ima) {
  std::ofstream out(path, std::ios::binary);
  for (float p : ima.pixels) {
    uint32_t bits;
    std::memcpy(&bits, &p, 4);
    const char big_endian[4] = {char(bits >> 24), char(bits >> 16), char(bits >> 8), char(bits)};
    out.write(big_endian, 4);
  }
}

inline FitsImage read_fits(const std::string& path) {
  FitsImage ima;
  fitsfile* f = nullptr;
  int status = 0, naxis = 0, anynul = 0, nkeys = 0;
  long axes[2] = {0, 0};
  if (fits_open_file(&f, path.c_str(), READONLY, &status)) return ima;
  fits_get_img_dim(f, &naxis, &status);
  fits_get_img_size(f, 2, axes, &status);
  std::vector<float> pixels(static_cast<size_t>(axes[0]) * axes[1]);
  fits_read_img(f, TFLOAT, 1, pixels.size(), nullptr, pixels.data(), &anynul, &status);
  fits_get_hdrspace(f, &nkeys, nullptr, &status);
  char card[FLEN_CARD];
  for (int k = 1; k <= nkeys && status == 0; k++) {
    fits_read_record(f, k, card, &status);
    ima.cards.push_back(card);
  }
  int close_status = 0;
  fits_close_file(f, &close_status);
  if (status != 0 || naxis != 2) return FitsImage();
  ima.nl = static_cast<int>(axes[1]);
  ima.nc = static_cast<int>(axes[0]);
  ima.pixels = pixels;
  return ima;
}

class QzMcaProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* program = std::getenv("QZ_MCA");
    ASSERT_NE(program, nullptr) << "QZ_MCA must name the program";
    program_ = program;
    dir_ = test_support::make_temp_folder("qz_mca_test");
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // Runs the program with args in the test's directory (or its subfolder
  // `folder`); returns its exit status as the shell sees it (-1 is 255) and
  // keeps its output in output_. A launcher (a command that runs another,
  // e.g. as another user) may stand before the program.
  int run(const std::string& args, const std::string& launcher = "",
          const std::string& folder = ".") {
    std::string cmd = "cd '" + dir_ + "/" + folder + "' && " + launcher + " '" + program_ + "' " +
                      args + " > '" + dir_ + "/program_output.txt' 2>&1";
    int status = std::system(cmd.c_str());
    std::ifstream in(dir_ + "/program_output.txt");
    std::stringstream text;
    text << in.rdbuf();
    output_ = text.str();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // The bytes of a file of the run's folder, empty when there is none.
  std::string file_bytes(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  bool exists(const std::string& name) const { return access(path(name).c_str(), F_OK) == 0; }
  bool printed(const std::string& text) const { return output_.find(text) != std::string::npos; }
  FitsImage result(const std::string& name) const { return read_fits(path(name)); }

  std::string program_, dir_, output_;
};
