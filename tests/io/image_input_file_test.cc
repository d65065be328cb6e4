// The record of the files image reads open, as seen from a process started
// with its standard input closed: descriptor 0 must not go to the first file
// the program opens, and a read of the standard input says it is closed.
#include "io/image_input_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "image_test_tools.h"
#include "io/image_file.h"

namespace {

const char* const ChildVariable = "QZ_CLOSED_STANDARD_INPUT_CHILD";

// In the program started below: 1 when descriptor 0 is not /dev/null, 2
// when a file opened afterwards gets one of the standard descriptors; with
// both right, the read of the standard input ends the process.
[[noreturn]] void check_as_child() {
  int wrong = 0;
  struct stat in, null;
  if (fstat(STDIN_FILENO, &in) != 0 || stat("/dev/null", &null) != 0 || !S_ISCHR(in.st_mode) ||
      in.st_rdev != null.st_rdev)
    wrong |= 1;
  const std::string file = image_test::scratch("opened");
  image_test::write_bytes(file, "bytes");
  std::FILE* opened = io_fopen_read(file);
  if (opened == nullptr || fileno(opened) <= STDERR_FILENO) wrong |= 2;
  if (wrong != 0) std::exit(wrong);
  io_standard_input("image");
  std::exit(0);
}

}  // namespace

TEST(ImageInputFile, AClosedStandardInputIsTakenByDevNullAndNamedAsClosed) {
  if (std::getenv(ChildVariable) != nullptr) check_as_child();
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  self[length] = '\0';
  const std::string command = std::string(ChildVariable) + "=1 '" + self +
                              "' --gtest_filter=ImageInputFile.AClosedStandardInputIsTakenByDevNullAndNamedAsClosed "
                              "0<&- 2>&1";
  std::FILE* child = popen(command.c_str(), "r");
  ASSERT_NE(child, nullptr);
  std::string printed;
  char piece[4096];
  for (std::size_t n; (n = std::fread(piece, 1, sizeof piece, child)) > 0;) printed.append(piece, n);
  const int status = pclose(child);
  ASSERT_TRUE(WIFEXITED(status)) << printed;
  EXPECT_EQ(WEXITSTATUS(status), 255) << "1: descriptor 0 is not /dev/null, 2: a file took a standard descriptor\n"
                                      << printed;
  EXPECT_NE(printed.find("Error: the standard input is closed ... (image)\n"), std::string::npos) << printed;
}
