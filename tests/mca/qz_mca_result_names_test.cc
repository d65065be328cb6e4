// Names of the program's results and where they may go: only an image
// extension leaves the stem of the components' names, runs whose names
// differ never share files, and a result that cannot be written is refused
// before the work, naming the file and the reason.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/qz_mca_program.h"

namespace {

FitsImage gradient_image(int n, float scale) {
  FitsImage ima(n, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) ima.at(i, j) = scale * static_cast<float>((i * 7 + j * 3) % 23);
  return ima;
}

class QzMcaResultNames : public QzMcaProgram {
 protected:
  // Every file below the test's folder, by its path from there, except the
  // input and the captured output.
  std::set<std::string> files_made(const std::string& sub = "") const {
    std::set<std::string> names;
    DIR* dir = opendir(path(sub).c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == ".." || name == "program_output.txt" || name == "in.fits" ||
          name == "in_f_16_16.d")
        continue;
      const std::string rel = sub.empty() ? name : sub + "/" + name;
      struct stat st;
      if (stat(path(rel).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::set<std::string> inner = files_made(rel);
        names.insert(inner.begin(), inner.end());
      } else {
        names.insert(rel);
      }
    }
    closedir(dir);
    return names;
  }
  std::string bytes(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

}  // namespace

TEST_F(QzMcaResultNames, OnlyAnImageExtensionLeavesTheStem) {
  const struct {
    const char* folder;  // made before the run, or empty
    const char* name;
    std::set<std::string> files;
  } cases[] = {
      {"", "o_0.25", {"o_0.25.fits", "o_0.25_atrou.fits", "o_0.25_resi.fits"}},
      {"", "o_0.25.fits", {"o_0.25.fits", "o_0.25_atrou.fits", "o_0.25_resi.fits"}},
      {"", "o.fits", {"o.fits", "o_atrou.fits", "o_resi.fits"}},
      {"", "o.fit", {"o.fit", "o_atrou.fits", "o_resi.fits"}},
      {"", "o.fits.gz", {"o.fits.gz", "o_atrou.fits", "o_resi.fits"}},
      {"", "o.gif", {"o.gif.fits", "o_atrou.fits", "o_resi.fits"}},
      {"", "v1.2.final", {"v1.2.final.fits", "v1.2.final_atrou.fits", "v1.2.final_resi.fits"}},
      {"a.b", "a.b/c", {"a.b/c.fits", "a.b/c_atrou.fits", "a.b/c_resi.fits"}},
      {"a.b", "a.b/c.fits", {"a.b/c.fits", "a.b/c_atrou.fits", "a.b/c_resi.fits"}},
  };
  write_fits(path("in.fits"), gradient_image(16, 1.f));
  for (const auto& c : cases) {
    std::system(("rm -rf '" + dir_ + "'/o* '" + dir_ + "'/v1* '" + dir_ + "'/a.b").c_str());
    if (*c.folder != '\0') {
      ASSERT_EQ(mkdir(path(c.folder).c_str(), 0755), 0);
    }
    ASSERT_EQ(run(std::string("-t 1 -i 3 -g 1 in.fits ") + c.name), 0) << c.name << "\n" << output_;
    EXPECT_EQ(files_made(), c.files) << c.name;
    for (const std::string& file : c.files) EXPECT_EQ(result(file).nl, 16) << c.name << ": " << file;
  }
}

// The raw format carries the pixel type and size in the name: they leave
// the stem, whatever the underscores before them.
TEST_F(QzMcaResultNames, DispTypeAndSizeLeaveTheStem) {
  std::string raw;
  for (int k = 0; k < 16 * 16; k++) {
    float value = static_cast<float>(k % 17);
    unsigned char b[4];
    std::memcpy(b, &value, 4);
    for (int i = 3; i >= 0; i--) raw.push_back(static_cast<char>(b[i]));  // big-endian
  }
  std::ofstream(path("in_f_16_16.d"), std::ios::binary) << raw;
  const struct {
    const char* name;
    std::set<std::string> files;
  } cases[] = {
      {"my_res_f_16_16.d", {"my_res_f_16_16.d", "my_res_atrou_f_16_16.d", "my_res_resi_f_16_16.d"}},
      {"r_0.5", {"r_0.5_f_16_16.d", "r_0.5_atrou_f_16_16.d", "r_0.5_resi_f_16_16.d"}},
  };
  for (const auto& c : cases) {
    std::system(("rm -f '" + dir_ + "'/my_* '" + dir_ + "'/r_*").c_str());
    ASSERT_EQ(run(std::string("-t 1 -i 3 -g 1 in_f_16_16.d ") + c.name), 0) << c.name << "\n" << output_;
    EXPECT_EQ(files_made(), c.files) << c.name;
    for (const std::string& file : c.files) EXPECT_EQ(bytes(file).size(), 16u * 16u * 4u) << file;
  }
  // A name ending in ".d" is used as it is, so it must give the type: one
  // that does not is refused before the work, not after it.
  std::system(("rm -f '" + dir_ + "'/my_* '" + dir_ + "'/r_*").c_str());
  EXPECT_NE(run("-v -t 1 -i 5000 -g 1 in_f_16_16.d my.d"), 0);
  EXPECT_TRUE(printed("Error writting in file my.d")) << output_;
  EXPECT_FALSE(printed("Iteration")) << output_;
  EXPECT_EQ(files_made(), std::set<std::string>{}) << output_;
}

TEST_F(QzMcaResultNames, RunsWhoseNamesDifferAfterADotKeepTheirFiles) {
  write_fits(path("in.fits"), gradient_image(16, 1.f));
  ASSERT_EQ(run("-t 1 -i 3 -g 1 in.fits o_0.25"), 0) << output_;
  const std::string first = bytes("o_0.25_atrou.fits");
  write_fits(path("in.fits"), gradient_image(16, 3.f));
  ASSERT_EQ(run("-t 1 -i 3 -g 1 in.fits o_0.1"), 0) << output_;
  EXPECT_EQ(bytes("o_0.25_atrou.fits"), first);
  EXPECT_NE(bytes("o_0.1_atrou.fits"), first);
  EXPECT_EQ(files_made().size(), 6u);
}

// Refused before the first iteration (-v would print it), with the file
// the writer would have made and the system's reason, and nothing left.
TEST_F(QzMcaResultNames, UnwritableResultsAreRefusedBeforeTheWork) {
  write_fits(path("in.fits"), gradient_image(32, 1.f));
  std::ofstream(path("plain")) << "a file, not a folder";
  ASSERT_EQ(mkdir(path("taken.fits").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("xx_atrou_5.fits").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("xx_interp.fits").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("xx_rec.fits").c_str(), 0755), 0);
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"in.fits nodir/out", "(nodir/out_atrou.fits: No such file or directory)"},
      {"in.fits plain/out", "(plain/out_atrou.fits: Not a directory)"},
      {"in.fits taken", "(taken.fits: Is a directory)"},
      {"in.fits taken.fits", "(taken.fits: Is a directory)"},
      {"-w in.fits res", "(xx_atrou_5.fits: Is a directory)"},
      {"-H in.fits res", "(xx_interp.fits: Is a directory)"},
      {"-X in.fits res", "(xx_rec.fits: Is a directory)"},
  };
  const std::set<std::string> before = files_made();
  for (const auto& c : cases) {
    EXPECT_NE(run(std::string("-v -t 1 -i 5000 ") + c.args), 0) << c.args;
    EXPECT_TRUE(printed(c.message)) << c.args << "\n" << output_;
    EXPECT_FALSE(printed("Iteration")) << c.args;
    EXPECT_EQ(files_made(), before) << c.args;
  }
}

TEST_F(QzMcaResultNames, UnwritableFolderIsRefusedBeforeTheWork) {
  // Permissions do not bind the superuser: as root, the program runs as
  // nobody, in a test folder open to all.
  std::string launcher;
  if (geteuid() == 0) {
    launcher = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    if (std::system((launcher + " test -x '" + program_ + "'").c_str()) != 0)
      GTEST_SKIP() << "the program cannot be run as another user here";
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  }
  write_fits(path("in.fits"), gradient_image(32, 1.f));
  ASSERT_EQ(mkdir(path("closed").c_str(), 0555), 0);
  EXPECT_NE(run("-v -t 1 -i 5000 in.fits closed/out", launcher), 0);
  EXPECT_TRUE(printed("(closed/out_atrou.fits: Permission denied)")) << output_;
  EXPECT_FALSE(printed("Iteration"));
  EXPECT_TRUE(files_made().empty());
}

// The input's name as typed: a folder is not reported with ".fits" added.
TEST_F(QzMcaResultNames, UnreadableInputNamesTheFileAndTheReason) {
  ASSERT_EQ(mkdir(path("adir").c_str(), 0755), 0);
  const struct {
    const char* input;
    const char* message;
  } cases[] = {
      {"adir", "cannot open file (adir: Is a directory)"},
      {"absent", "cannot open file (absent.fits: No such file or directory)"},
      {"adir/absent.fits", "cannot open file (adir/absent.fits: No such file or directory)"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(run(std::string("-t 1 -i 3 ") + c.input + " out"), 0) << c.input;
    EXPECT_TRUE(printed(c.message)) << c.input << "\n" << output_;
    EXPECT_FALSE(exists("out.fits"));
  }
}
