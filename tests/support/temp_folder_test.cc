// The temporary folder of a test program, its own: TMPDIR names it to the
// tests and to the programs they start, so that what any of them makes
// there goes with it when the program ends.
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

TEST(TempFolder, TmpdirNamesTheProgramsOwnFolderToTestsAndChildren) {
  // The folder test_main made, as it names it to test programs it starts.
  const char* own = std::getenv("QZ_TEST_FOLDER");
  ASSERT_NE(own, nullptr);
  const std::string folder = own;
  struct stat info;
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  const char* tmpdir = std::getenv("TMPDIR");
  ASSERT_NE(tmpdir, nullptr);
  EXPECT_EQ(tmpdir, folder);
  EXPECT_EQ(::testing::TempDir(), folder + "/");
  const std::string made = test_support::make_temp_folder("made");
  EXPECT_EQ(made.rfind(folder + "/made", 0), 0u) << made;
  EXPECT_EQ(rmdir(made.c_str()), 0);
  // A program started makes its temporary files there.
  std::FILE* child = popen("mktemp", "r");
  ASSERT_NE(child, nullptr);
  char name[4096] = "";
  const bool named = std::fgets(name, sizeof name, child) != nullptr;
  EXPECT_EQ(pclose(child), 0);
  ASSERT_TRUE(named);
  const std::string file(name, std::string(name).find('\n'));
  EXPECT_EQ(file.rfind(folder + "/", 0), 0u) << file;
  EXPECT_EQ(std::remove(file.c_str()), 0) << file;
}
