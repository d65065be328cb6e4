// Whole runs of the qz_mca program on small synthetic FITS images written
// and read back with CFITSIO: output names, the sum of the outputs, the
// header, the constraints, snapshots, mask and zoom invariants, refused runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/installed_tools.h"
#include "support/qz_mca_program.h"

namespace {

// A background, a smooth bump, two point sources and unit Gaussian noise.
FitsImage synthetic(int n, unsigned seed) {
  FitsImage ima(n, n);
  std::mt19937 gen(seed);
  std::normal_distribution<float> g(0.f, 1.f);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double r2 = (i - n / 2.) * (i - n / 2.) + (j - n / 3.) * (j - n / 3.);
      ima.at(i, j) = static_cast<float>(30. + 80. * std::exp(-r2 / 50.)) + g(gen);
    }
  ima.at(6, 9) += 300.f;
  ima.at(n - 10, n - 7) += 200.f;
  return ima;
}

double mean(const FitsImage& ima) {
  double s = 0;
  for (float p : ima.pixels) s += p;
  return s / ima.pixels.size();
}

class QzMcaRun : public QzMcaProgram {};

}  // namespace

// A 16-bit input with BZERO: the results are written as floats, unscaled,
// so that sum + residual gives the input; the rest of its header stays.
TEST_F(QzMcaRun, IntegerInputGivesFloatResultsThatAddUpAndKeepTheHeader) {
  FitsImage in = synthetic(32, 1);
  for (float& p : in.pixels) p = std::round(p);
  write_fits(path("in16.fits"), in, USHORT_IMG);
  ASSERT_EQ(run("-t 1 -i 12 -g 1 -v -w in16.fits res.fits"), 0) << output_;
  FitsImage atrou = result("res_atrou.fits"), resi = result("res_resi.fits"),
            sum = result("res.fits");
  ASSERT_EQ(sum.nl, 32);
  ASSERT_EQ(resi.nc, 32);
  bool fractional = false;
  for (size_t k = 0; k < in.pixels.size(); k++) {
    EXPECT_NEAR(sum.pixels[k] + resi.pixels[k], in.pixels[k], 1e-3f);
    EXPECT_EQ(sum.pixels[k], atrou.pixels[k]);  // one base: the sum is the component
    EXPECT_GE(atrou.pixels[k], 0.f);
    fractional = fractional || resi.pixels[k] != std::round(resi.pixels[k]);
  }
  EXPECT_TRUE(fractional);
  double sum2 = 0;  // the residual is noise-like once the sources are taken
  for (float r : resi.pixels) sum2 += double(r) * r;
  EXPECT_LT(std::sqrt(sum2 / resi.pixels.size()), 2.0);
  for (const FitsImage* out : {&sum, &resi}) {
    EXPECT_TRUE(out->has_card("BITPIX", "-32"));
    EXPECT_FALSE(out->has_card("BZERO"));
    EXPECT_TRUE(out->has_card("OBSERVER= 'unit test'"));
    EXPECT_TRUE(out->has_card("HISTORY", "-t 1 -i 12"));
  }
  // One base: the MOM descent becomes linear and ends on the last level.
  EXPECT_FALSE(printed("MOM calculation"));
  EXPECT_TRUE(printed("\nIteration 12 Lambda = 3\n"));
  EXPECT_FALSE(printed("Iteration 13"));
  // Snapshots after iterations 5 and 10 only.
  for (const char* name : {"xx_atrou_5.fits", "xx_atrou_10.fits", "xx_resi_10.fits", "xx_res.fits"})
    EXPECT_TRUE(exists(name)) << name;
  EXPECT_FALSE(exists("xx_atrou_12.fits"));
}

TEST_F(QzMcaRun, CoarsestScaleRemovedOrKilled) {
  write_fits(path("in.fits"), synthetic(32, 4));
  // Removed first (-l), it returns in the sum but not in the component.
  ASSERT_EQ(run("-t 1 -i 8 -g 1 -l -N in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("LAST SCALE"));
  FitsImage in = read_fits(path("in.fits")), sum = result("out.fits"), resi = result("out_resi.fits");
  for (size_t k = 0; k < in.pixels.size(); k++)
    EXPECT_NEAR(sum.pixels[k] + resi.pixels[k], in.pixels[k], 1e-3f);
  EXPECT_LT(std::fabs(mean(result("out_atrou.fits"))), 5.0);
  // Killed in every projection (-K), it stays in the residual; -P lets the
  // component go below zero.
  ASSERT_EQ(run("-t 1 -i 8 -g 1 -K -P in.fits out.fits"), 0) << output_;
  FitsImage atrou = result("out_atrou.fits");
  EXPECT_LT(std::fabs(mean(atrou)), 5.0);
  EXPECT_GT(mean(result("out_resi.fits")), 25.0);
  EXPECT_LT(*std::min_element(atrou.pixels.begin(), atrou.pixels.end()), 0.f);
}

TEST_F(QzMcaRun, MaskedPixelsArePrefilledAndLeftOutOfTheResidual) {
  FitsImage in = synthetic(48, 7);
  auto in_gap = [](int i, int j) { return i >= 20 && i < 26 && j >= 10 && j < 30; };
  for (int i = 0; i < 48; i++)
    for (int j = 0; j < 48; j++)
      if (in_gap(i, j)) in.at(i, j) = 0.f;
  write_fits(path("in.fits"), in);
  ASSERT_EQ(run("-t 1 -i 10 -g 1 -H -v in.fits out.fits"), 0) << output_;
  EXPECT_TRUE(printed("Number of missing data = "));
  FitsImage filled = result("xx_interp.fits"), resi = result("out_resi.fits"), sum = result("out.fits");
  ASSERT_EQ(filled.nl, 48);
  for (float p : filled.pixels) EXPECT_NE(p, 0.f);
  for (int i = 0; i < 48; i++)
    for (int j = 0; j < 48; j++)
      if (in_gap(i, j) || i == 0 || j == 0 || i == 47 || j == 47) {
        EXPECT_EQ(resi.at(i, j), 0.f) << i << "," << j;
      }
  EXPECT_GT(sum.at(23, 20), 30.f);  // the gap follows the smooth bump
}

TEST_F(QzMcaRun, ZoomKeepsBlockMeansOfTheLowResolutionImage) {
  FitsImage in = synthetic(16, 8);
  write_fits(path("in.fits"), in);
  ASSERT_EQ(run("-t 1 -i 6 -g 1 -I in.fits out.fits"), 0) << output_;
  FitsImage sum = result("out.fits"), resi = result("out_resi.fits");
  ASSERT_EQ(sum.nl, 64);
  ASSERT_EQ(sum.nc, 64);
  for (int bi = 0; bi < 16; bi++)
    for (int bj = 0; bj < 16; bj++) {
      double block = 0;
      for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) {
          block += sum.at(4 * bi + i, 4 * bj + j);
          EXPECT_EQ(resi.at(4 * bi + i, 4 * bj + j), resi.at(4 * bi, 4 * bj));
        }
      EXPECT_NEAR(block / 16 + resi.at(4 * bi, 4 * bj), in.at(bi, bj), 1e-3f * std::fabs(in.at(bi, bj)));
    }
}

TEST_F(QzMcaRun, NoiseEstimation) {
  write_fits(path("noisy.fits"), synthetic(32, 9));
  ASSERT_EQ(run("-t 1 -i 5 -g 0 -v noisy.fits out.fits"), 0) << output_;
  size_t pos = output_.find(" Estimated Noise = ");
  ASSERT_NE(pos, std::string::npos);
  EXPECT_NEAR(std::stof(output_.substr(pos + 19)), 1.f, 0.3f);
  // A noiseless image gives no level to work with: refused, no output.
  FitsImage flat(32, 32);
  for (float& p : flat.pixels) p = 12.f;
  write_fits(path("flat.fits"), flat);
  EXPECT_EQ(run("-t 1 -i 5 -g 0 flat.fits flat_out.fits"), 255);
  EXPECT_TRUE(printed("noise")) << output_;
  EXPECT_FALSE(exists("flat_out.fits"));
  EXPECT_FALSE(exists("flat_out_atrou.fits"));
}

TEST_F(QzMcaRun, RefusedRunsLeaveNoOutput) {
  write_fits(path("in.fits"), synthetic(16, 10));
  const struct {
    const char* args;
    const char* message;
  } refusals[] = {
      {"-t 4 -n 1 in.fits out.fits", "bad number scales in the curvelet transform"},
      {"-t 1 -n 9 in.fits out.fits", "bad number of scales"},
      {"-t 5 -l -n 1 in.fits out.fits", "bad number of scales"},
      {"-t 1 in.fits out.fits extra", "Too many parameters: extra ..."},
      {"-t 1 missing.fits out.fits", "missing.fits"},
  };
  for (const auto& r : refusals) {
    EXPECT_NE(run(r.args), 0) << r.args;
    EXPECT_TRUE(printed(r.message)) << r.args << "\n" << output_;
    EXPECT_FALSE(exists("out.fits")) << r.args;
    EXPECT_FALSE(exists("out_atrou.fits")) << r.args;
  }
}

// Any result that would land on the input, by its own name or a derived one
// (the residual, a component, the extension the writer appends), is refused
// before anything is written, and the input keeps its bytes.
TEST_F(QzMcaRun, ResultsNeverOverwriteTheInput) {
  const struct {
    const char* input;
    const char* args;
  } cases[] = {
      {"in.fits", "-t 1 in.fits in.fits"},    {"in.fits", "-t 1 in.fits in"},
      {"in.fits", "-t 1 in.fits ./in.fits"},  {"x_resi.fits", "-t 1 x_resi.fits x"},
      {"x_atrou.fits", "-t 1 x_atrou.fits x"}, {"x_cos.fits", "-t 1 -t 5 x_cos.fits x.fits"},
  };
  for (const auto& c : cases) {
    write_fits(path(c.input), synthetic(16, 11));
    const std::string before = file_bytes(c.input);
    EXPECT_EQ(run(c.args), 255) << c.args;
    EXPECT_TRUE(printed("would overwrite the input image")) << c.args << "\n" << output_;
    EXPECT_EQ(file_bytes(c.input), before) << c.args;
    std::remove(path(c.input).c_str());
  }
}

TEST_F(QzMcaRun, PixelsThatAreNotNumbersAreRefusedWithTheirCount) {
  FitsImage in = synthetic(16, 12);
  in.at(3, 4) = std::nanf("");
  in.at(9, 9) = INFINITY;
  write_fits(path("nan.fits"), in);
  for (const char* args : {"-t 1 -g 1 nan.fits out.fits", "-t 1 -g 0 nan.fits out.fits"}) {
    EXPECT_EQ(run(args), 255) << args;
    EXPECT_TRUE(printed("2 pixels of the input image are not finite numbers")) << output_;
    EXPECT_TRUE(printed("-H")) << output_;
    EXPECT_TRUE(printed("(nan.fits)")) << output_;
    EXPECT_FALSE(exists("out_atrou.fits"));
  }
}

// A failed run, whatever fails, leaves every earlier file, link and device as
// it was, and none of its new files: its results wait beside their places
// until all are written. The size limit kills no run: its write fails.
TEST_F(QzMcaRun, FailedRunLeavesEveryFileAsItWas) {
  // Results of 1 MB against a limit of 500 KB or 1000 KB (the shells count
  // ulimit -f differently); a smaller limit stops the thread checker's own
  // start.
  write_fits(path("in.fits"), synthetic(512, 13));
  const std::string size_limit = "sh -c 'ulimit -f 1000; exec \"$0\" \"$@\"'";
  const bool root = geteuid() == 0;
  const struct {
    const char* folder;
    std::vector<std::pair<const char*, const char*>> links;  // name, target
    bool size_limited;
    const char* failed;  // as written, with the extension the writer added
    const char* reason;
  } cases[] = {
      {"device_sum", {{"out.fits", "/dev/full"}}, false, "out.fits", "No space left on device"},
      {"file_link", {{"out.fits", "keep.fits"}, {"out_atrou.fits", "/dev/null"}, {"out_resi.fits", "/dev/null"}},
       true, "out.fits", "File too large"},
      {"new_file_link", {{"out.fits", "target.fits"}}, true, "out_atrou.fits", "File too large"},
      {"size_limit", {}, true, "out_atrou.fits", "File too large"},
      {"device_node", {}, false, "out.fits", "No space left on device"},
  };
  for (const auto& c : cases) {
    const std::string folder = c.folder;
    ASSERT_EQ(mkdir(path(folder).c_str(), 0755), 0);
    auto in_folder = [&](const std::string& name) { return folder + "/" + name; };
    std::ofstream(path(in_folder("keep.fits"))) << "hello";
    if (folder != "file_link") {
      // Earlier results of the same names.
      write_fits(path(in_folder("out_atrou.fits")), synthetic(16, 3));
      write_fits(path(in_folder("out_resi.fits")), synthetic(16, 4));
    }
    for (const auto& link : c.links) ASSERT_EQ(symlink(link.second, path(in_folder(link.first)).c_str()), 0);
    if (folder == "device_node") {
      if (!root) continue;
      ASSERT_EQ(mknod(path(in_folder("out.fits")).c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    }
    std::vector<std::pair<std::string, std::string>> before;
    for (const char* name : {"keep.fits", "out_atrou.fits", "out_resi.fits"})
      before.push_back({name, file_bytes(in_folder(name))});

    EXPECT_EQ(run("-t 1 -i 2 -g 1 ../in.fits out", c.size_limited ? size_limit : "", folder), 1) << folder;
    EXPECT_TRUE(printed(std::string("(") + c.failed + ": " + c.reason + ")")) << folder << "\n" << output_;
    for (const auto& file : before) EXPECT_EQ(file_bytes(in_folder(file.first)), file.second) << folder << " " << file.first;
    for (const auto& link : c.links) {
      char target[256] = "";
      const ssize_t n = readlink(path(in_folder(link.first)).c_str(), target, sizeof target - 1);
      EXPECT_EQ(std::string(target, n > 0 ? n : 0), link.second) << folder << " " << link.first;
    }
    struct stat node;
    if (folder == "device_node") {
      EXPECT_EQ(lstat(path(in_folder("out.fits")).c_str(), &node), 0);
      EXPECT_TRUE(S_ISCHR(node.st_mode));
    }
    if (folder == "new_file_link" || folder == "size_limit") {
      EXPECT_NE(lstat(path(in_folder("target.fits")).c_str(), &node), 0) << folder;
    }
    if (folder == "size_limit") {
      EXPECT_FALSE(exists(in_folder("out.fits"))) << folder;
    }
    const std::string listing = "ls -a '" + path(folder) + "' | grep -c qz_mca > /dev/null";
    EXPECT_NE(std::system(listing.c_str()), 0) << folder << ": a new file is left";
  }
}

// Results written through links keep the links; a replaced file keeps its
// permission bits, a new one gets those of the process's umask.
TEST_F(QzMcaRun, ResultsReplaceTheFilesAtTheEndOfLinks) {
  write_fits(path("in.fits"), synthetic(32, 13));
  ASSERT_EQ(mkdir(path("sub").c_str(), 0755), 0);
  std::ofstream(path("sub/keep.fits")) << "hello";
  ASSERT_EQ(chmod(path("sub/keep.fits").c_str(), 0640), 0);
  ASSERT_EQ(symlink("sub/keep.fits", path("out.fits").c_str()), 0);
  ASSERT_EQ(symlink("link.fits", path("out_resi.fits").c_str()), 0);  // a chain
  ASSERT_EQ(symlink("sub/new.fits", path("link.fits").c_str()), 0);
  ASSERT_EQ(run("-t 1 -i 2 -g 1 in.fits out"), 0) << output_;
  struct stat info;
  ASSERT_EQ(lstat(path("out.fits").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(lstat(path("out_resi.fits").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(result("sub/keep.fits").nl, 32);
  EXPECT_EQ(result("sub/new.fits").nl, 32);
  ASSERT_EQ(stat(path("sub/keep.fits").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  const mode_t mask = umask(0);
  umask(mask);
  ASSERT_EQ(stat(path("out_atrou.fits").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0666u & ~mask);
}

// In a shared folder with the sticky bit, a result that is another user's
// file could not be replaced at the end: the run is refused before the work,
// naming it, and the runner's own earlier results stay as they were. A
// link that another user made there is not followed.
TEST_F(QzMcaRun, SharedFolderResultsThatCannotBeReplacedAreRefusedBeforeTheWork) {
  if (geteuid() != 0) GTEST_SKIP() << "acting as other users needs root";
  if (!test_support::tool_installed("setpriv")) return;
  const std::string as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  write_fits(path("in.fits"), synthetic(32, 14));
  ASSERT_EQ(mkdir(path("shared").c_str(), 0755), 0);
  ASSERT_EQ(chmod(path("shared").c_str(), 01777), 0);
  const struct {
    const char* name;
    uid_t owner;
  } earlier[] = {{"shared/r.fits", 65533}, {"shared/r_atrou.fits", 65534}, {"shared/r_resi.fits", 65534}};
  for (const auto& file : earlier) {
    write_fits(path(file.name), synthetic(16, 15));
    ASSERT_EQ(chown(path(file.name).c_str(), file.owner, file.owner), 0);
    ASSERT_EQ(chmod(path(file.name).c_str(), 0666), 0);
  }
  std::vector<std::string> before;
  for (const auto& file : earlier) before.push_back(file_bytes(file.name));
  EXPECT_EQ(run("-t 1 -i 2 -g 1 ../in.fits r", as_nobody, "shared"), 255) << output_;
  EXPECT_TRUE(printed("cannot write a result file (r.fits: Operation not permitted")) << output_;
  for (std::size_t k = 0; k < before.size(); k++) EXPECT_EQ(file_bytes(earlier[k].name), before[k]) << earlier[k].name;

  // Another user's link to the runner's file: refused, even to root.
  std::ofstream(path("notes.txt")) << "notes";
  ASSERT_EQ(symlink("../notes.txt", path("shared/res.fits").c_str()), 0);
  ASSERT_EQ(lchown(path("shared/res.fits").c_str(), 65534, 65534), 0);
  EXPECT_EQ(run("-t 1 -i 2 -g 1 ../in.fits res.fits", "", "shared"), 255);
  EXPECT_TRUE(printed("(res.fits: Permission denied")) << output_;
  EXPECT_EQ(file_bytes("notes.txt"), "notes");
  EXPECT_NE(std::system(("ls -a '" + path("shared") + "' | grep -q qz_mca").c_str()), 0) << "a new file is left";
}

// The help, byte for byte as the golden file holds it (the memory defaults
// shown are those of an environment without ZUB_VM_SIZE and ZUB_VM_DIR).
TEST_F(QzMcaRun, HelpTextIsTheGoldenOne) {
  const std::string command = "cd '" + dir_ + "' && env -u ZUB_VM_SIZE -u ZUB_VM_DIR bash -c " +
                              "'exec -a qz_mca \"$0\" -q in out' '" + program_ + "' > help.txt 2>/dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 255);
  std::ifstream golden(QZ_SOURCE_DIR "/tests/mca/golden/qz_mca_help.txt", std::ios::binary);
  ASSERT_TRUE(golden.good());
  std::stringstream expected;
  expected << golden.rdbuf();
  EXPECT_EQ(file_bytes("help.txt"), expected.str());
}

// Threads share out independent rows, blocks and pixels only: the results
// are the same bits whatever their number.
TEST_F(QzMcaRun, ResultsDoNotDependOnTheThreadCount) {
  write_fits(path("in.fits"), synthetic(200, 16));
  const char* const names[] = {"_atrou.fits", "_cos.fits", "_resi.fits", ".fits"};
  std::vector<FitsImage> first;
  for (const char* threads : {"1", "8", "3"}) {
    setenv("OMP_NUM_THREADS", threads, 1);
    const std::string out = std::string("out") + threads;
    const int status = run("-t 1 -t 5 -C 0.25 -i 4 -g 1 in.fits " + out);
    unsetenv("OMP_NUM_THREADS");
    ASSERT_EQ(status, 0) << output_;
    for (size_t k = 0; k < 4; k++) {
      FitsImage result = read_fits(path(out + names[k]));
      ASSERT_EQ(result.nl, 200) << out << names[k];
      if (first.size() < 4) first.push_back(result);
      else EXPECT_TRUE(result.pixels == first[k].pixels) << threads << " threads: " << names[k];
    }
  }
}
