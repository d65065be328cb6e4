// Names of the program's results and where they may go: only an image
// extension leaves the stem of the components' names, so runs whose names
// differ never share files, and a result that cannot be written is refused
// before the work, naming the file and the reason.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "support/inode_flags.h"
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
  // Every file below the test's folder, by its path from there, but the
  // inputs and the captured output.
  std::set<std::string> files_made() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_)) {
      const std::string name = entry.path().lexically_relative(dir_).string();
      if (!entry.is_directory() && name != "program_output.txt" && name != "in.fits" &&
          name != "in_f_16_16.d")
        names.insert(name);
    }
    return names;
  }
  void remove_results() { std::system(("rm -rf '" + dir_ + "'/[!i]*").c_str()); }
};

}  // namespace

// Only an image extension leaves the stem, or a disp name's type and size
// whatever the underscores before them. A disp name ending in ".d" is used
// as it is, so it must give the type: one that does not is refused before
// the work (-v would print its iterations).
TEST_F(QzMcaResultNames, OnlyAnImageExtensionLeavesTheStem) {
  write_fits(path("in.fits"), gradient_image(16, 1.f));
  write_disp(path("in_f_16_16.d"), gradient_image(16, 1.f));
  const std::string disp = "in_f_16_16.d ";
  const struct {
    std::string args;
    std::set<std::string> files;  // none: refused
  } cases[] = {
      {"in.fits o_0.25", {"o_0.25.fits", "o_0.25_atrou.fits", "o_0.25_resi.fits"}},
      {"in.fits o_0.25.fits", {"o_0.25.fits", "o_0.25_atrou.fits", "o_0.25_resi.fits"}},
      {"in.fits o.fit", {"o.fit", "o_atrou.fits", "o_resi.fits"}},
      {"in.fits o.fits.gz", {"o.fits.gz", "o_atrou.fits", "o_resi.fits"}},
      {"in.fits o.gif", {"o.gif.fits", "o_atrou.fits", "o_resi.fits"}},
      {"in.fits a.b/c", {"a.b/c.fits", "a.b/c_atrou.fits", "a.b/c_resi.fits"}},
      // Every FITS extension of the format rule leaves; a word that begins
      // like one is no extension; a FITS extension before another one stays,
      // and names the results FITS, so they gain no ".fits".
      {"in.fits o.mr", {"o.mr", "o_atrou.fits", "o_resi.fits"}},
      {"in.fits o.current", {"o.current.fits", "o.current_atrou.fits", "o.current_resi.fits"}},
      {"in.fits o.fits.bak", {"o.fits.bak", "o.fits.bak_atrou", "o.fits.bak_resi"}},
      // A FITS word followed by more is no extension, and names the
      // results FITS all the same.
      {"in.fits o.fits~", {"o.fits~", "o.fits~_atrou", "o.fits~_resi"}},
      {disp + "my_res_f_16_16.d",
       {"my_res_f_16_16.d", "my_res_atrou_f_16_16.d", "my_res_resi_f_16_16.d"}},
      {disp + "r_0.5", {"r_0.5_f_16_16.d", "r_0.5_atrou_f_16_16.d", "r_0.5_resi_f_16_16.d"}},
      {disp + "my.d", {}},
  };
  for (const auto& c : cases) {
    remove_results();
    ASSERT_EQ(mkdir(path("a.b").c_str(), 0755), 0);
    EXPECT_EQ(run("-v -t 1 -i 3 -g 1 " + c.args), c.files.empty() ? 255 : 0)
        << c.args << "\n" << output_;
    EXPECT_EQ(files_made(), c.files) << c.args;
    for (const std::string& file : c.files) {
      if (file.back() == 'd') {
        EXPECT_EQ(std::filesystem::file_size(path(file)), 16u * 16u * 4u) << file;
      } else {
        EXPECT_EQ(result(file).nl, 16) << file;
      }
    }
  }
  EXPECT_TRUE(printed("Error writting in file my.d")) << output_;
  EXPECT_FALSE(printed("Iteration")) << output_;
}

// Refused before the first iteration (-v would print it), with the file
// the writer would have made and the system's reason, and nothing left.
// Permissions do not bind the superuser: as root, the program runs as
// nobody, in a test folder open to all, or the closed folder is not tried.
TEST_F(QzMcaResultNames, UnwritableResultsAreRefusedBeforeTheWork) {
  std::string launcher = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  const bool root = geteuid() == 0;
  const bool closed_binds =
      !root || std::system((launcher + " test -x '" + program_ + "'").c_str()) == 0;
  if (!root || !closed_binds) launcher.clear();
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  write_fits(path("in.fits"), gradient_image(32, 1.f));
  write_disp(path("in_f_16_16.d"), gradient_image(16, 1.f));
  std::ofstream(path("plain")) << "a file, not a folder";
  ASSERT_EQ(mkdir(path("closed").c_str(), 0555), 0);
  for (const char* folder : {"taken.fits", "xx_atrou_5.fits", "xx_interp.fits", "xx_rec.fits"})
    ASSERT_EQ(mkdir(path(folder).c_str(), 0755), 0);
  // Links to no file yet, as the writer would follow them: a chain whose
  // relative targets are taken from the folder of each link, and a link
  // into the closed folder.
  ASSERT_EQ(mkdir(path("sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("dl2.fits", path("sub/dl_atrou.fits").c_str()), 0);
  ASSERT_EQ(symlink("../nodir/x.fits", path("sub/dl2.fits").c_str()), 0);
  ASSERT_EQ(symlink("closed/x.fits", path("cl_atrou.fits").c_str()), 0);
  // An earlier result that may only be appended to: the commit could not
  // replace it.
  std::ofstream(path("ap_atrou.fits")) << "earlier";
  ASSERT_EQ(chmod(path("ap_atrou.fits").c_str(), 0666), 0);
  const InodeFlagSet append_only(path("ap_atrou.fits"), FS_APPEND_FL);
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"in.fits nodir/out", "(nodir/out_atrou.fits: No such file or directory)"},
      {"in.fits plain/out", "(plain/out_atrou.fits: Not a directory)"},
      {"in.fits closed/out", "(closed/out_atrou.fits: Permission denied)"},
      {"in.fits taken", "(taken.fits: Is a directory)"},
      {"in.fits taken.fits", "(taken.fits: Is a directory)"},
      {"-w in.fits res", "(xx_atrou_5.fits: Is a directory)"},
      {"-H in.fits res", "(xx_interp.fits: Is a directory)"},
      {"-X in.fits res", "(xx_rec.fits: Is a directory)"},
      {"in.fits sub/dl", "(sub/dl_atrou.fits, a link to sub/../nodir/x.fits: No such file or directory)"},
      {"in.fits cl", "(cl_atrou.fits, a link to closed/x.fits: Permission denied)"},
      {"in.fits ap", "(ap_atrou.fits: Operation not permitted, a file that may only be appended to)"},
      {"in.fits ''", "must name a file, not a folder or nothing ... ()"},
      {"in.fits sub/..", "must name a file, not a folder or nothing ... (sub/..)"},
      // A disp name gives the size, four times the input's with -I.
      {"in_f_16_16.d o_f_16_8.d", "the image is 16 x 16 pixels, its name says 16 x 8 ... (o_f_16_8.d)"},
      {"-I in_f_16_16.d o_f_16_16.d", "the image is 64 x 64 pixels, its name says 16 x 16"},
  };
  const std::set<std::string> before = files_made();
  for (const auto& c : cases) {
    if (!closed_binds && std::string(c.message).find("closed") != std::string::npos) continue;
    if (!append_only.set() && std::string(c.message).find("appended") != std::string::npos) {
      std::printf("skipped %s: inode flags need root and a file system that keeps them\n", c.args);
      continue;
    }
    EXPECT_NE(run(std::string("-v -t 1 -i 5000 ") + c.args, launcher), 0) << c.args;
    EXPECT_TRUE(printed(c.message)) << c.args << "\n" << output_;
    EXPECT_FALSE(printed("Iteration")) << c.args;
    EXPECT_EQ(files_made(), before) << c.args;
  }
}

// Under the MOM descent of the default dictionary, which prints a line at
// every iteration even without -v: a result that could not replace what
// holds its name (a folder in the place of a later result than the first,
// earlier results in a folder that takes no new file) is refused before the
// first iteration, and every file stays as it was.
TEST_F(QzMcaResultNames, ResultsThatCannotBeReplacedAreRefusedBeforeTheFirstIteration) {
  const std::string as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  const bool root = geteuid() == 0;
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  write_fits(path("in.fits"), gradient_image(32, 1.f));
  ASSERT_EQ(chmod(path("in.fits").c_str(), 0644), 0);
  for (const char* folder : {"cur_taken_cur.fits", "resi_taken_resi.fits", "sum_taken.fits"})
    ASSERT_EQ(mkdir(path(folder).c_str(), 0755), 0);
  // Earlier results that anyone may write into, but not replace: their
  // folder takes no new file from the runner.
  ASSERT_EQ(mkdir(path("closed").c_str(), 0755), 0);
  for (const char* file : {"closed/r.fits", "closed/r_atrou.fits", "closed/r_cur.fits", "closed/r_resi.fits"}) {
    std::ofstream(path(file)) << "earlier";
    ASSERT_EQ(chmod(path(file).c_str(), 0666), 0);
  }
  ASSERT_EQ(chmod(path("closed").c_str(), 0555), 0);
  const bool closed_binds = !root || std::system((as_nobody + " test -x '" + program_ + "'").c_str()) == 0;
  const struct {
    const char* result;
    const char* message;
    bool closed;
  } cases[] = {
      {"cur_taken", "(cur_taken_cur.fits: Is a directory)", false},
      {"resi_taken", "(resi_taken_resi.fits: Is a directory)", false},
      {"sum_taken", "(sum_taken.fits: Is a directory)", false},
      {"closed/r", "(closed/r_atrou.fits: Permission denied, its folder closed takes no new file)", true},
  };
  const std::set<std::string> before = files_made();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    if (c.closed && !closed_binds) continue;
    EXPECT_EQ(run(std::string("-i 50 -g 1 in.fits ") + c.result, c.closed && root ? as_nobody : ""), 255);
    EXPECT_TRUE(printed(std::string("Error: cannot write a result file ") + c.message)) << output_;
    EXPECT_FALSE(printed("MOM calculation")) << output_;
    EXPECT_EQ(files_made(), before);
  }
  for (const char* file : {"closed/r.fits", "closed/r_atrou.fits", "closed/r_cur.fits", "closed/r_resi.fits"})
    EXPECT_EQ(file_bytes(file), "earlier") << file;
  // The same runs with the names free print the line: it is the one to miss.
  ASSERT_EQ(run("-i 2 -g 1 in.fits free"), 0) << output_;
  EXPECT_TRUE(printed("MOM calculation")) << output_;
  ASSERT_EQ(chmod(path("closed").c_str(), 0755), 0);  // for the folder's removal
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
  }
}

// A result named by a chain of links to no file yet is written where the
// chain leads; a run that fails later takes that file back and leaves the
// links alone.
TEST_F(QzMcaResultNames, ALinkToNoFileYetLeadsTheResult) {
  write_fits(path("in.fits"), gradient_image(16, 1.f));
  ASSERT_EQ(mkdir(path("there").c_str(), 0755), 0);
  ASSERT_EQ(symlink("link.fits", path("out_atrou.fits").c_str()), 0);
  ASSERT_EQ(symlink("there/x.fits", path("link.fits").c_str()), 0);
  ASSERT_EQ(symlink("/dev/full", path("out_resi.fits").c_str()), 0);  // every write fails
  EXPECT_NE(run("-t 1 -i 3 -g 1 in.fits out"), 0) << output_;
  EXPECT_FALSE(exists("there/x.fits"));
  EXPECT_TRUE(std::filesystem::is_symlink(path("out_atrou.fits")));
  std::remove(path("out_resi.fits").c_str());
  EXPECT_EQ(run("-t 1 -i 3 -g 1 in.fits out"), 0) << output_;
  EXPECT_EQ(result("there/x.fits").nl, 16);
}

// On a file system with neither hard links nor renames with flags (some
// FUSE and virtual-machine shared folders, stood for by a preloaded
// library), a run replaces its earlier results, the -w snapshots too, with
// the bytes it writes elsewhere, and leaves nothing else.
TEST_F(QzMcaResultNames, EarlierResultsAreReplacedWhereTheFileSystemHasNoHardLinks) {
  const char* library = std::getenv("QZ_NO_HARD_LINKS");
  ASSERT_NE(library, nullptr) << "QZ_NO_HARD_LINKS must name the preloaded library";
  const char* asan = std::getenv("ASAN_OPTIONS");
  // A sanitizer's runtime would otherwise refuse a library loaded before it.
  const std::string no_hard_links = std::string("env LD_PRELOAD='") + library + "' ASAN_OPTIONS='" +
                                    (asan != nullptr ? std::string(asan) + ":" : "") +
                                    "verify_asan_link_order=0'";
  ASSERT_NE(std::system((no_hard_links + " ln /dev/null '" + path("linked") + "' 2> /dev/null").c_str()), 0)
      << "the library leaves hard links";
  write_fits(path("in.fits"), gradient_image(32, 1.f));
  const std::vector<std::string> results = {"o.fits", "o_atrou.fits", "o_resi.fits", "xx_atrou_5.fits",
                                            "xx_resi_5.fits", "xx_res.fits"};
  auto bytes_of_results = [&] {
    std::vector<std::string> bytes;
    for (const std::string& name : results) bytes.push_back(file_bytes(name));
    return bytes;
  };
  ASSERT_EQ(run("-t 1 -i 5 -g 1 -w in.fits o"), 0) << output_;
  const std::vector<std::string> earlier = bytes_of_results();
  const std::set<std::string> made = files_made();
  ASSERT_EQ(run("-t 1 -i 6 -g 1 -w in.fits o", no_hard_links), 0) << output_;
  const std::vector<std::string> replaced = bytes_of_results();
  EXPECT_EQ(files_made(), made);
  ASSERT_EQ(run("-t 1 -i 6 -g 1 -w in.fits o"), 0) << output_;
  const std::vector<std::string> elsewhere = bytes_of_results();
  // The results of the last iteration differ from the earlier run's; the
  // snapshots of the fifth are written again.
  for (std::size_t k = 0; k < results.size(); k++) {
    EXPECT_TRUE(replaced[k] == elsewhere[k]) << results[k];
    if (results[k].rfind("o", 0) == 0) {
      EXPECT_FALSE(replaced[k] == earlier[k]) << results[k];
    }
  }
}
