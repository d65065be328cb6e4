// The command line of qz_mca: defaults, values and toggles, every refusal
// with its message and status, and the names.
#include "mca/mca_options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/death.h"

namespace {

// Parses a command line given as words (the program name is added).
void parse(std::vector<std::string> words) {
  reset_mca_options();
  static std::vector<std::string> storage;
  static std::vector<char*> argv;
  storage = {"qz_mca"};
  storage.insert(storage.end(), words.begin(), words.end());
  argv.clear();
  for (auto& w : storage) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  filtinit(static_cast<int>(storage.size()), argv.data());
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start < line.size()) {
    size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    if (end > start) words.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

}  // namespace

TEST(McaOptions, DefaultsValuesAndToggles) {
  parse({"in.fits", "out.fits"});
  EXPECT_EQ(Name_Imag_In, "in.fits");
  EXPECT_EQ(Name_Imag_Out, "out.fits");
  EXPECT_EQ(NbrBase, 0);
  EXPECT_EQ(T_Decreasing, 2);
  EXPECT_EQ(Nbr_Iter, 1000);
  EXPECT_EQ(LastSoftThreshold, 3.0f);
  EXPECT_EQ(Noise_Ima, 0.5f);
  EXPECT_EQ(NbrScale2D, 5);
  EXPECT_EQ(FirstSoftThreshold, -1.f);

  parse(split("-t 1 -t 5 -n 4 -i 30 -S 12.5 -s 2 -g 1.5 -N -N -O -L -v -K -M -W -w -H -I "
              "-u 0 -U 3 -B 0 -G 0.5 in out"));
  EXPECT_EQ(NbrBase, 2);
  EXPECT_EQ(TabSelect[1], MCA_COS);
  EXPECT_EQ(NbrScale2D, 4);
  EXPECT_EQ(Nbr_Iter, 30);
  EXPECT_EQ(FirstSoftThreshold, 12.5f);
  EXPECT_EQ(LastSoftThreshold, 2.f);
  EXPECT_EQ(Noise_Ima, 1.5f);
  EXPECT_EQ(UseNormL1, 0);  // toggled twice
  EXPECT_EQ(BlockOverlap + T_Decreasing, 0);
  EXPECT_EQ(Verbose + KillLastScale + UseMad + COS_WeightFirst + WriteAll + UseMask + UseZoom, 7);
  EXPECT_EQ(WT_NbrUndecimatedScale, 0);
  EXPECT_EQ(WP_NbrUndecimatedScale, 3);
  EXPECT_EQ(CosBlockSize, 0);  // zero is accepted and leaves the base's default
  EXPECT_EQ(LambdaTV, 0.5f);
  EXPECT_EQ(TV, 1);
  EXPECT_EQ(TV_NbrScale2D, 2);  // -G without a scale count keeps it
  parse({"-G", "0.5,3", "in", "out"});
  EXPECT_EQ(TV_NbrScale2D, 3);
  // Any level a float holds, subnormal ones too.
  parse({"-g", "1e-40", "in", "out"});
  EXPECT_EQ(Noise_Ima, std::ldexp(1.f, -149) * 71362.f);  // the nearest subnormal float

  // -l toggles the removal, but positivity stays off.
  parse({"-l", "-l", "in", "out"});
  EXPECT_EQ(RemoveLastScale, 0);
  EXPECT_EQ(PositivSol, 0);

  parse({"-Z", "16:/tmp/swap", "in", "out"});
  EXPECT_EQ(UseVMSOption, 1);
  EXPECT_EQ(VMSSize, 16);
  EXPECT_EQ(VMSDir, "/tmp/swap");
  std::string longest_dir(1023, 'd');  // the most the swap directory holds
  parse({"-Z", "8:" + longest_dir, "in", "out"});
  EXPECT_EQ(VMSDir, longest_dir);
  EXPECT_FALSE(scale_count_given());
  parse({"-n", "5", "in", "out"});
  EXPECT_TRUE(scale_count_given());
}

TEST(McaOptions, EveryRefusalPrintsItsMessageAndExitsWithMinusOne) {
  const struct {
    const char* args;
    const char* message;
  } refusals[] = {
      {"-t 1 -t 1 in out", "Error: transform already selected: 1"},
      {"-t 0 in out", "Error: bad type of transform: 0"},
      {"-t 10 in out", "Error: bad type of transform: 10"},
      {"-t one in out", "Error: bad type of transform: one"},
      {"-n five in out", "bad number of scales: five"},
      {"-n 11 in out", "bad number of scales: 11\n Nbr Scales <= 10\n"},
      {"-b x in out", "bad block size: x"},
      {"-i x in out", "bad number of iterations: x"},
      {"-i 99999999999 in out", "bad number of iterations: 99999999999"},  // beyond an int
      {"-i 1e12 in out", "bad number of iterations: 1e12"},
      {"-i 0 in out", "bad number of iterations: 0"},
      {"-i -4 in out", "bad number of iterations: -4"},
      {"-i 12x in out", "bad number of iterations: 12x"},
      {"-B x in out", "bad cosinus transform block size: x"},
      {"-S -2 in out", "Error: bad first soft threshold: -2"},
      {"-s x in out", "Error: bad last soft threshold: x"},
      {"-s nan in out", "Error: bad last soft threshold: nan"},
      {"-S nan in out", "Error: bad first soft threshold: nan"},
      {"-S inf in out", "Error: bad first soft threshold: inf"},
      {"-C x in out", "bad cosinus sensibility: x"},
      {"-c x in out", "bad correlation constraint parameter: x"},
      {"-a x in out", "bad number of angles: x"},
      {"-u -1 in out", "Error: bad scale number: -1"},
      {"-U x in out", "Error: bad scale number: x"},
      {"-g x in out", "bad sigma noise: x\nUsage: "},  // the help follows
      {"-g nan in out", "bad sigma noise: nan\nUsage: "},
      {"-g inf in out", "bad sigma noise: inf\nUsage: "},
      {"-g -1 in out", "bad sigma noise: -1\nUsage: "},
      {"-g 1e-50 in out", "bad sigma noise: 1e-50\nUsage: "},  // no float holds it
      {"-G 0.5,1 in out", "Error: bad number of TV scales: 0.5,1"},
      {"-G -1 in out", "Error: bad TV regul param: -1"},
      {"-G x in out", "bad regul param: x"},
      {"-z -z in out", "Error: Z option already set"},
      {"-z -Z 8:/tmp in out", "Error: z option already set"},
      {"-Z big in out", "Error: syntaxe is Size:Directory"},
      {"in out third", "Too many parameters: third \\.\\.\\."},
      {"in", "Usage: "},
      {"", "Usage: "},
  };
  for (const auto& r : refusals)
    EXPECT_EXIT_STATUS(parse(split(r.args)), 255, r.message) << r.args;
}

TEST(McaOptions, SwapDirectoryLongerThanItsBufferIsRefused) {
  // Cut short, the name would put the swap files in another directory.
  EXPECT_EXIT_STATUS(parse({"-Z", "4:" + std::string(5000, 'd'), "in", "out"}), 255,
                     "Error: the swap directory name has 5000 characters \\(at most 1023\\)");
}

TEST(McaOptions, SelectionBeyondTheComponentTableIsRefused) {
  // Every selectable base at once is one more than the component arrays
  // hold: the ninth -t must stop, not write past them.
  std::string args = "";
  for (int t = 1; t <= 9; t++) args += "-t " + std::to_string(t) + " ";
  EXPECT_EXIT_STATUS(parse(split(args + "in out")), 255,
                     "Error: too many transforms selected \\(at most 8\\): 9");
}

TEST(McaOptions, LongNamesAndCommandLine) {
  std::string long_name(5000, 'n');
  parse({long_name, long_name + "_out"});
  EXPECT_EQ(Name_Imag_In, long_name);
  EXPECT_EQ(Name_Imag_Out.size(), 5004u);
  std::vector<std::string> words = {"qz_mca", "-t", "1", long_name};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  build_command_line(4, argv.data());
  EXPECT_EQ(CommandLine, " qz_mca -t 1 " + long_name);
}
