// qz_mca with the swap-file memory (-z, -Z) on eight threads, where the
// ridgelet workers of the curvelet base take their buffers from the swap
// layer side by side: the results are those of a run in RAM to the bit, and
// no swap file is left, after a complete run or after a failed one, also when
// the failure comes from a worker.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "support/qz_mca_program.h"

namespace {

namespace fs = std::filesystem;

// Curvelets over ten scales of m51: the first ridgelet workers start with
// about 193 MB allocated and take some 23 MB more.
const std::string CurveletRun = "-t 4 -n 10 -i 1 '" + std::string(QZ_SOURCE_DIR) + "/data/m51.fits' ";
const std::string EightThreads = "OMP_NUM_THREADS=8";
const char* const Results[] = {"", "_cur", "_resi"};
// The layer's exit status -2000 as the shell sees it.
constexpr int LayerFailure = 48;

bool same_bits(const FitsImage& a, const FitsImage& b) {
  return a.nl == b.nl && a.nc == b.nc && a.nl > 0 &&
         std::memcmp(a.pixels.data(), b.pixels.data(), a.pixels.size() * sizeof(float)) == 0;
}

int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

class QzMcaSwap : public QzMcaProgram {
 protected:
  // Names of the swap files in the run's folder and in its swap folder.
  std::vector<std::string> swap_files() const {
    std::vector<std::string> names;
    for (const std::string& dir : {dir_, path("swap")})
      if (fs::exists(dir))
        for (const auto& entry : fs::directory_iterator(dir))
          if (entry.path().filename().string().rfind("vmswap_", 0) == 0)
            names.push_back(entry.path().string());
    return names;
  }
};

}  // namespace

TEST_F(QzMcaSwap, SwapMemoryGivesTheBitsOfRamAndLeavesNoFile) {
  ASSERT_EQ(mkdir(path("swap").c_str(), 0700), 0);
  ASSERT_EQ(run(CurveletRun + "ram.fits", EightThreads), 0) << output_;
  // -Z 1: everything past one megabyte in swap files.
  const struct {
    const char* option;
    const char* out;
  } cases[] = {{"-z", "z"}, {"-Z 1:swap", "zs"}};
  for (const auto& c : cases) {
    ASSERT_EQ(run(std::string(c.option) + " " + CurveletRun + c.out + ".fits", EightThreads), 0)
        << c.option << "\n" << output_;
    for (const char* suffix : Results)
      EXPECT_TRUE(same_bits(result(std::string(c.out) + suffix + ".fits"),
                            result(std::string("ram") + suffix + ".fits")))
          << c.option << " " << suffix;
    EXPECT_TRUE(swap_files().empty()) << c.option;
  }
}

TEST_F(QzMcaSwap, FailedSwapFileEndsTheRunWithNoFileLeft) {
  ASSERT_EQ(mkdir(path("swap").c_str(), 0700), 0);
  // With 200 MB of RAM the swap files start inside the ridgelet workers;
  // there, a file size limit of 500 KB or 1000 KB (the shells count ulimit
  // -f differently) refuses the first megabyte swap file while other
  // workers' files are open, and the write fails rather than kill the run.
  const std::string limited_files =
      EightThreads + " sh -c 'ulimit -f 1000; exec \"$0\" \"$@\"'";
  const struct {
    const char* option;
    std::string launcher;
    const char* message;
  } cases[] = {{"-Z 1:missing", EightThreads, "fatal: cannot create swapfile [missing/vmswap_"},
               {"-Z 200:swap", limited_files, "fatal: cannot write to swapfile: [swap] full?\n"}};
  for (const auto& c : cases) {
    EXPECT_EQ(run(std::string(c.option) + " " + CurveletRun + "out.fits", c.launcher), LayerFailure)
        << c.option << "\n" << output_;
    EXPECT_EQ(count_of(output_, c.message), 1) << c.option << "\n" << output_;
    for (const char* suffix : Results)
      EXPECT_FALSE(exists(std::string("out") + suffix + ".fits")) << c.option << " " << suffix;
    EXPECT_TRUE(swap_files().empty()) << c.option;
  }
}
