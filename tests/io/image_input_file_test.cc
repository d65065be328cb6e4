// The record of the files image reads open, as seen from a process started
// with its standard input closed: descriptor 0 must not go to the first file
// the program opens, and a read of the standard input says it is closed.
// And the file the FITS library is handed, by its descriptor's name or, on a
// system without /dev/fd, by its path; never the path of a file that others
// may write, which is read from a private copy.
#include "io/image_input_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image_test_tools.h"
#include "support/death.h"
#include "io/fits_header.h"
#include "io/fits_io.h"
#include "io/image_file.h"

namespace {

// While set, the names of /dev/fd are missing, as on a system without
// /proc; the lookups refused are counted.
bool HideDescriptorNames = false;
int DescriptorNamesHidden = 0;

}  // namespace

// The program's own calls of stat come here (its code is linked
// statically), and go on to the kernel.
extern "C" int stat(const char* path, struct stat* info) noexcept {
  if (HideDescriptorNames && std::strncmp(path, "/dev/fd/", 8) == 0) {
    DescriptorNamesHidden++;
    errno = ENOENT;
    return -1;
  }
  return fstatat(AT_FDCWD, path, info, 0);
}

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

// Without /dev/fd the library gets the file's path, with its selector, as a
// plain file: a name beginning with "stdin" is still the file, not the
// standard input (which holds another image here), and the HDU selected is
// read exactly.
TEST(ImageInputFile, WithoutDescriptorNamesTheLibraryReadsTheFileByItsPath) {
  const std::vector<double> primary = {1, 2, 3, 4, 5, 6}, selected = {10, 20, 30, 40, 50, 60},
                            other = {-1, -2, -3, -4, -5, -6};
  fits_test::write_hdus(image_test::scratch("stdin_x.fits"),
                        {{FLOAT_IMG, {3, 2}, primary}, {FLOAT_IMG, {3, 2}, selected}});
  fits_test::write_hdus(image_test::scratch("other.fits"), {{FLOAT_IMG, {3, 2}, other}, {FLOAT_IMG, {3, 2}, other}});
  char folder[4096];
  ASSERT_NE(getcwd(folder, sizeof folder), nullptr);
  ASSERT_EQ(chdir(fits_test::scratch_dir().c_str()), 0);
  for (bool hidden : {false, true}) {
    SCOPED_TRACE(hidden ? "no /dev/fd" : "/dev/fd");
    HideDescriptorNames = hidden;
    DescriptorNamesHidden = 0;
    to_array<float, false> ima;
    fitsstruct header;
    image_test::stdin_with(image_test::read_bytes("other.fits"),
                           [&] { fits_read_float("stdin_x.fits[1]", ima, &header); });
    HideDescriptorNames = false;
    EXPECT_EQ(DescriptorNamesHidden > 0, hidden);
    ASSERT_EQ(ima.n_elem(), 6);
    EXPECT_EQ(std::vector<double>(ima.buffer(), ima.buffer() + 6), selected);
  }
  ASSERT_EQ(chdir(folder), 0);
}

// Without /dev/fd a file that others may write is refused: its path would
// lead the library past the private copy the checks read, to the file
// itself, which may have changed since.
TEST(ImageInputFile, WithoutDescriptorNamesAFileOthersMayWriteIsRefused) {
  const std::string file = image_test::scratch("shared.fits");
  fits_test::write_hdus(file, {{FLOAT_IMG, {3, 2}, {1, 2, 3, 4, 5, 6}}});
  ASSERT_EQ(chmod(file.c_str(), 0666), 0);
  auto read = [&] {
    to_array<float, false> ima;
    fitsstruct header;
    fits_read_float(file.c_str(), ima, &header);
  };
  EXPECT_EXIT_STATUS(
      {
        HideDescriptorNames = true;
        read();
      },
      255, "the file may be written by other users, and without /dev/fd the FITS library cannot read the copy "
           "checked here: copy it to a file of your own and read that ... \\(.*shared.fits\\)");
  // With /dev/fd, it is read from the copy.
  to_array<float, false> ima;
  fitsstruct header;
  fits_read_float(file.c_str(), ima, &header);
  ASSERT_EQ(ima.n_elem(), 6);
  EXPECT_EQ(ima.buffer()[5], 6.f);
}
