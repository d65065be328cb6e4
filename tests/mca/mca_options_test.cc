// The command line of qz_mca: every refusal with its message and status,
// the toggles, the -G and -Z forms, the names, and the help text.
#include "mca/mca_options.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

// Standard output and exit status of a parse run in a child process.
std::string parse_in_child(std::vector<std::string> words, int& status) {
  char path[] = "/tmp/qz_mca_optionsXXXXXX";
  int fd = mkstemp(path);
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fd, fileno(stdout));
    parse(words);
    std::fflush(stdout);
    _exit(0);
  }
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  std::string text;
  char buf[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, n);
  close(fd);
  unlink(path);
  return text;
}

}  // namespace

TEST(McaOptions, DefaultsWithTwoNames) {
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
  EXPECT_EQ(PositivSol, 1);
}

TEST(McaOptions, ValuesAndToggles) {
  parse({"-t", "1", "-n", "4", "-i", "30", "-S", "12.5", "-s", "2", "-g", "1.5", "-N", "-N",
         "-O", "-L", "-v", "-K", "-M", "-W", "-w", "-H", "-I", "-u", "0", "-U", "3", "in", "out"});
  EXPECT_EQ(NbrBase, 1);
  EXPECT_EQ(TabSelect[0], MCA_ATROU);
  EXPECT_EQ(NbrScale2D, 4);
  EXPECT_EQ(Nbr_Iter, 30);
  EXPECT_EQ(FirstSoftThreshold, 12.5f);
  EXPECT_EQ(LastSoftThreshold, 2.f);
  EXPECT_EQ(Noise_Ima, 1.5f);
  EXPECT_EQ(UseNormL1, 0);  // toggled twice
  EXPECT_EQ(BlockOverlap, 0);
  EXPECT_EQ(T_Decreasing, 0);
  EXPECT_EQ(Verbose, 1);
  EXPECT_EQ(KillLastScale, 1);
  EXPECT_EQ(UseMad, 1);
  EXPECT_EQ(COS_WeightFirst, 1);
  EXPECT_EQ(WriteAll, 1);
  EXPECT_EQ(UseMask, 1);
  EXPECT_EQ(UseZoom, 1);
  EXPECT_EQ(WT_NbrUndecimatedScale, 0);
  EXPECT_EQ(WP_NbrUndecimatedScale, 3);
}

TEST(McaOptions, RemoveLastScaleTogglesButPositivityStaysOff) {
  parse({"-l", "in", "out"});
  EXPECT_EQ(RemoveLastScale, 1);
  EXPECT_EQ(PositivSol, 0);
  parse({"-l", "-l", "in", "out"});
  EXPECT_EQ(RemoveLastScale, 0);
  EXPECT_EQ(PositivSol, 0);
  parse({"-P", "in", "out"});
  EXPECT_EQ(PositivSol, 0);
}

TEST(McaOptions, RegularisationForms) {
  parse({"-G", "0.5", "in", "out"});
  EXPECT_EQ(LambdaTV, 0.5f);
  EXPECT_EQ(TV, 1);
  EXPECT_EQ(TV_NbrScale2D, 2);
  parse({"-G", "0.5,3", "in", "out"});
  EXPECT_EQ(TV_NbrScale2D, 3);
  EXPECT_EXIT_STATUS(parse({"-G", "0.5,1", "in", "out"}), 255, "Error: bad number of TV scales: 0.5,1");
  EXPECT_EXIT_STATUS(parse({"-G", "-1", "in", "out"}), 255, "Error: bad TV regul param: -1");
  EXPECT_EXIT_STATUS(parse({"-G", "x", "in", "out"}), 255, "bad regul param: x");
}

TEST(McaOptions, VirtualMemoryOptionsAreExclusive) {
  parse({"-Z", "16:/tmp/swap", "in", "out"});
  EXPECT_EQ(UseVMSOption, 1);
  EXPECT_EQ(VMSSize, 16);
  EXPECT_EQ(VMSDir, "/tmp/swap");
  // A directory name longer than any fixed buffer is kept whole.
  std::string long_dir(3000, 'd');
  parse({"-Z", "8:" + long_dir, "in", "out"});
  EXPECT_EQ(VMSDir, long_dir);
  EXPECT_EXIT_STATUS(parse({"-z", "-z", "in", "out"}), 255, "Error: Z option already set");
  EXPECT_EXIT_STATUS(parse({"-z", "-Z", "8:/tmp", "in", "out"}), 255, "Error: z option already set");
  EXPECT_EXIT_STATUS(parse({"-Z", "big", "in", "out"}), 255, "Error: syntaxe is Size:Directory");
}

TEST(McaOptions, BaseSelection) {
  EXPECT_EXIT_STATUS(parse({"-t", "1", "-t", "1", "in", "out"}), 255,
                     "Error: transform already selected: 1");
  EXPECT_EXIT_STATUS(parse({"-t", "0", "in", "out"}), 255, "Error: bad type of transform: 0");
  EXPECT_EXIT_STATUS(parse({"-t", "10", "in", "out"}), 255, "Error: bad type of transform: 10");
  EXPECT_EXIT_STATUS(parse({"-t", "one", "in", "out"}), 255, "Error: bad type of transform: one");
  // A base whose transform is not in this build stops at once.
  EXPECT_EXIT_STATUS(parse({"-t", "4", "in", "out"}), 255,
                     "not available in this version: 4 \\(Curvelet transform 02\\)");
  EXPECT_EXIT_STATUS(parse({"-t", "9", "in", "out"}), 255,
                     "Multiscale Local Discrete Cosinus Transform");
}

TEST(McaOptions, ScaleCountsThatLeaveNoUsableBand) {
  int status = 0;
  EXPECT_EQ(parse_in_child({"-n", "11", "in", "out"}, status),
            "bad number of scales: 11\n Nbr Scales <= 10\n");
  EXPECT_EQ(status, 255);
  EXPECT_EXIT_STATUS(parse({"-n", "five", "in", "out"}), 255, "bad number of scales: five");
  // The default dictionary needs the curvelet base, which this build lacks.
  parse({"in", "out"});
  NbrBase = 2;
  TabSelect[0] = MCA_ATROU;
  TabSelect[1] = MCA_CUR;
  EXPECT_EXIT_STATUS(check_base_selection(), 255, "Curvelet transform 02");
  for (const char* n : {"1", "0", "9", "10"}) {
    parse({"-t", "1", "-n", n, "in", "out"});
    EXPECT_EXIT_STATUS(check_base_selection(), 255, std::string("bad number of scales: ") + n);
  }
  // Measured band levels do not need the table.
  parse({"-t", "1", "-n", "10", "-M", "in", "out"});
  check_base_selection();
  parse({"-t", "1", "-n", "2", "in", "out"});
  check_base_selection();
}

TEST(McaOptions, NumericRefusals) {
  EXPECT_EXIT_STATUS(parse({"-b", "x", "in", "out"}), 255, "bad block size: x");
  EXPECT_EXIT_STATUS(parse({"-i", "x", "in", "out"}), 255, "bad number of iterations: x");
  EXPECT_EXIT_STATUS(parse({"-B", "x", "in", "out"}), 255, "bad cosinus transform block size: x");
  EXPECT_EXIT_STATUS(parse({"-S", "-2", "in", "out"}), 255, "Error: bad first soft threshold: -2");
  EXPECT_EXIT_STATUS(parse({"-s", "x", "in", "out"}), 255, "Error: bad last soft threshold: x");
  EXPECT_EXIT_STATUS(parse({"-C", "x", "in", "out"}), 255, "bad cosinus sensibility: x");
  EXPECT_EXIT_STATUS(parse({"-c", "x", "in", "out"}), 255, "bad correlation constraint parameter: x");
  EXPECT_EXIT_STATUS(parse({"-a", "x", "in", "out"}), 255, "bad number of angles: x");
  EXPECT_EXIT_STATUS(parse({"-u", "-1", "in", "out"}), 255, "Error: bad scale number: -1");
  EXPECT_EXIT_STATUS(parse({"-U", "x", "in", "out"}), 255, "Error: bad scale number: x");
  // A bad noise level prints the help after its message.
  EXPECT_EXIT_STATUS(parse({"-g", "x", "in", "out"}), 255, "bad sigma noise: x\nUsage: ");
}

TEST(McaOptions, NamesAndLongCommandLines) {
  EXPECT_EXIT_STATUS(parse({"in", "out", "third"}), 255, "Too many parameters: third \\.\\.\\.");
  EXPECT_EXIT_STATUS(parse({"in"}), 255, "Usage: ");
  EXPECT_EXIT_STATUS(parse({}), 255, "Usage: ");
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

TEST(McaOptions, HelpText) {
  int status = 0;
  std::string text = parse_in_child({"-q", "in", "out"}, status);
  EXPECT_EQ(status, 255);
  EXPECT_NE(text.find("Usage: qz_mca options in_image result\n\n   where options =  \n"
                      "         [-t TransformSelection]\n"
                      "              1: A trous algorithm \n"),
            std::string::npos);
  EXPECT_NE(text.find("              8: Curvelet transform 04 (Fast Transform) \n\n"
                      "         [-n number_of_scales]\n"),
            std::string::npos);
  EXPECT_EQ(text.find("9: Multiscale"), std::string::npos);  // -t 9 is not listed
  EXPECT_NE(text.find("             Number of iteration. Default is 1000.\n"), std::string::npos);
  EXPECT_NE(text.find("            default is 3.000000.\n"), std::string::npos);
  EXPECT_NE(text.find("         [-G RegulVal[,NbrScale]]\n"), std::string::npos);
  EXPECT_NE(text.find("         [-Z VMSize:VMDIR]\n"), std::string::npos);
  EXPECT_NE(text.find("         [-v]\n             Verbose. Default is no.\n\n\n"), std::string::npos);
  // Undocumented options stay undocumented.
  EXPECT_EQ(text.find("[-K]"), std::string::npos);
}
