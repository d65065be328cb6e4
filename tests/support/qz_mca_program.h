// Fixture for tests that run the qz_mca program (named by the environment
// variable QZ_MCA) in a fresh temporary directory, removed afterwards; each
// run keeps the program's exit status and its standard output and error.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

class QzMcaProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* program = std::getenv("QZ_MCA");
    ASSERT_NE(program, nullptr) << "QZ_MCA must name the program";
    program_ = program;
    char dir[] = "/tmp/qz_mca_testXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // Runs the program with args in the test's directory; returns its exit
  // status as the shell sees it (-1 is 255) and keeps its output in output_.
  int run(const std::string& args) {
    std::string cmd =
        "cd '" + dir_ + "' && '" + program_ + "' " + args + " > program_output.txt 2>&1";
    int status = std::system(cmd.c_str());
    std::ifstream in(dir_ + "/program_output.txt");
    std::stringstream text;
    text << in.rdbuf();
    output_ = text.str();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  bool exists(const std::string& name) const { return access(path(name).c_str(), F_OK) == 0; }

  std::string program_, dir_, output_;
};
