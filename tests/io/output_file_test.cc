// Output files written whole or not at all: a new file beside the place,
// renamed onto it when complete (at once, or at the commit while held, which
// puts back every earlier file when a rename fails); links followed only
// where the kernel's rule for shared folders allows; devices written in
// place; a process that ends on a failure takes back its new files.
#include "io/output_file.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>
#include <thread>

#include "array/fatal.h"
#include "array/stop_signals.h"
#include "array/to_array.h"
#include "array/vms.h"
#include "fits_test_files.h"
#include "io/fits_glue.h"
#include "radon/float_image_file.h"
#include "support/death.h"
#include "support/file_system_faults.h"
#include "support/inode_flags.h"

namespace {

using namespace fits_test;

void write_text(const std::string& file, const std::string& text) {
  std::FILE* stream = io_open_output_or_exit(file.c_str(), file, "cannot open %s\n");
  ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), stream), text.size());
  ASSERT_TRUE(io_close_output(stream)) << file;
}

mode_t mode_of(const std::string& file) {
  struct stat info;
  return stat(file.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The unprivileged users of the tests that need others than the runner.
constexpr uid_t Nobody = 65534, Other = 65533;

// In a forked child: becomes `user`, its group too, or ends with 77.
void become(uid_t user) {
  if (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0) _exit(77);
}

// A folder of the given owner and mode (the sticky bit included).
void make_folder(const std::string& path, uid_t owner, mode_t mode) {
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
  ASSERT_EQ(chown(path.c_str(), owner, owner), 0) << path;
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

void make_file(const std::string& path, const std::string& bytes, uid_t owner, mode_t mode) {
  write_bytes(path, bytes);
  ASSERT_EQ(chown(path.c_str(), owner, owner), 0) << path;
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

void make_link(const std::string& target, const std::string& path, uid_t owner) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
  ASSERT_EQ(lchown(path.c_str(), owner, owner), 0) << path;
}

// A small double array written by the FITS library by name.
void write_doubles(const std::string& file) {
  to_array<double, true> values(3, 2);
  for (int k = 0; k < values.n_elem(); k++) values(k) = 0.5 * k;
  fits_write_dblarr(file.c_str(), values);
}

bool is_fits(const std::string& bytes) {
  return bytes.compare(0, 9, "SIMPLE  =") == 0 && !bytes.empty() && bytes.size() % 2880 == 0;
}

class OutputFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = scratch(name);
    ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0);
  }
  void TearDown() override { fs_faults::clear(); }
  std::string at(const std::string& name) const { return dir_ + "/" + name; }
  // Other users reach the test's folder, through the test program's own;
  // false when the test cannot act as them.
  bool others_can_enter() const {
    if (geteuid() != 0) return false;
    const std::string folder = scratch_dir();
    return chmod(folder.substr(0, folder.rfind('/')).c_str(), 0711) == 0 && chmod(folder.c_str(), 0711) == 0;
  }
  std::string dir_;
};

}  // namespace

TEST_F(OutputFile, ReplacesTheFileAtTheEndOfLinksKeepingLinksAndPermissions) {
  write_bytes(at("keep"), "old");
  ASSERT_EQ(chmod(at("keep").c_str(), 0604), 0);
  ASSERT_EQ(symlink("keep", at("link").c_str()), 0);
  ASSERT_EQ(symlink("link", at("chain").c_str()), 0);
  ASSERT_EQ(symlink("new", at("dangling").c_str()), 0);
  write_text(at("chain"), "through two links");
  write_text(at("dangling"), "made at the link's end");
  EXPECT_EQ(read_bytes(at("keep")), "through two links");
  EXPECT_EQ(mode_of(at("keep")), 0604u);
  EXPECT_EQ(link_text(at("chain")), "link");
  EXPECT_EQ(link_text(at("link")), "keep");
  EXPECT_EQ(link_text(at("dangling")), "new");
  EXPECT_EQ(read_bytes(at("new")), "made at the link's end");
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(mode_of(at("new")), 0666u & ~mask);
  EXPECT_TRUE(names_holding(dir_).empty());
}

TEST_F(OutputFile, HeldOutputsTakeTheirPlacesTogetherAndTheLastWriteWins) {
  write_bytes(at("a"), "earlier a");
  io_hold_outputs();
  write_text(at("a"), "first a");
  io_hold_outputs();  // nested: only the outer commit renames
  write_text(at("b"), "b");
  io_commit_outputs();
  write_text(at("a"), "second a");
  EXPECT_EQ(read_bytes(at("a")), "earlier a");
  EXPECT_FALSE(file_exists(at("b")));
  EXPECT_EQ(names_holding(dir_).size(), 2u);  // the superseded write is gone
  io_commit_outputs();
  EXPECT_EQ(read_bytes(at("a")), "second a");
  EXPECT_EQ(read_bytes(at("b")), "b");
  EXPECT_TRUE(names_holding(dir_).empty());
}

TEST_F(OutputFile, DiscardLeavesTheEarlierFile) {
  write_bytes(at("a"), "earlier");
  std::FILE* stream = io_open_output_or_exit("a", at("a"), "cannot open %s\n");
  std::fputs("partial", stream);
  io_discard_output(stream);
  EXPECT_EQ(read_bytes(at("a")), "earlier");
  EXPECT_TRUE(names_holding(dir_).empty());
}

// A device is written in place, and a failed write leaves it (and the link
// to it) where it was.
TEST_F(OutputFile, DevicesAreWrittenDirectly) {
  ASSERT_EQ(symlink("/dev/full", at("full").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", at("null").c_str()), 0);
  write_text(at("null"), "gone");
  std::FILE* stream = io_open_output_or_exit("full", at("full"), "cannot open %s\n");
  std::fputs("never fits", stream);
  errno = 0;
  EXPECT_FALSE(io_close_output(stream));
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(link_text(at("full")), "/dev/full");
  EXPECT_EQ(link_text(at("null")), "/dev/null");
  // A FIFO passes the bytes on to its reader and stays a FIFO.
  ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = read_bytes(at("fifo")); });
  write_text(at("fifo"), "through the fifo");
  reader.join();
  EXPECT_EQ(received, "through the fifo");
  struct stat info;
  ASSERT_EQ(lstat(at("fifo").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_TRUE(names_holding(dir_).empty());
}

// A name that fills a folder entry still gets its new file beside it.
TEST_F(OutputFile, LongestNamesAreWritten) {
  const std::string name(255, 'n');
  write_text(at(name), "long");
  EXPECT_EQ(read_bytes(at(name)), "long");
  EXPECT_TRUE(names_holding(dir_).empty());
}

TEST_F(OutputFile, ErrorsAreFoundBeforeWriting) {
  ASSERT_EQ(mkdir(at("folder").c_str(), 0755), 0);
  ASSERT_EQ(symlink("missing/x", at("astray").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", at("null").c_str()), 0);
  const struct {
    const char* name;
    std::string refusal;
  } cases[] = {{"fresh", ""},
               {"folder", "(" + at("folder") + ": Is a directory)"},
               {"missing/x", "(" + at("missing/x") + ": No such file or directory)"},
               {"astray", "(" + at("astray") + ", a link to " + at("missing/x") + ": No such file or directory)"},
               {"null", ""}};
  for (const auto& c : cases) EXPECT_EQ(io_output_refusal(c.name, at(c.name)), c.refusal) << c.name;
  EXPECT_FALSE(file_exists(at("fresh")));
  EXPECT_TRUE(names_holding(dir_).empty());
}

// What a commit could not replace is found before the work: another user's
// file in a folder with the sticky bit (which its owner, the folder's owner
// or a process that may override ownership can replace), a file whose
// folder takes no new file, a folder that lets nothing be removed.
TEST_F(OutputFile, FilesTheCommitCouldNotReplaceAreFoundBeforeWriting) {
  if (!others_can_enter()) GTEST_SKIP() << "acting as other users needs root";
  make_folder(at("shared"), 0, 01777);
  make_folder(at("own"), Nobody, 01777);
  make_folder(at("closed"), Nobody, 0555);
  make_file(at("shared/theirs"), "b", Other, 0666);
  make_file(at("shared/mine"), "m", Nobody, 0644);
  make_file(at("own/theirs"), "o", Other, 0666);
  make_file(at("closed/mine"), "c", Nobody, 0644);
  const struct {
    const char* name;
    std::string refusal;  // as the unprivileged user sees it
  } cases[] = {
      {"shared/theirs", "[(" + at("shared/theirs") +
                            ": Operation not permitted, another user's file in a folder with the sticky bit)]"},
      {"shared/mine", "[]"},
      {"own/theirs", "[]"},
      {"closed/mine", "[(" + at("closed/mine") + ": Permission denied, its folder " + at("closed") +
                          " takes no new file)]"},
  };
  for (const auto& c : cases) {
    const std::string file = at(c.name);
    std::string pattern;
    for (char ch : c.refusal) pattern += std::string(std::strchr("()[].", ch) != nullptr ? "\\" : "") + ch;
    EXPECT_EXIT(
        {
          become(Nobody);
          std::fprintf(stderr, "[%s]", io_output_refusal(nullptr, file).c_str());
          _exit(0);
        },
        ::testing::ExitedWithCode(0), pattern)
        << c.name;
  }
  // Root may replace any file of a sticky folder, here neither its own nor
  // in its folder.
  EXPECT_EQ(io_output_refusal(nullptr, at("own/theirs")), "");
  // A folder marked append-only takes new files but lets none be renamed.
  make_folder(at("append"), 0, 0755);
  const int fd = open(at("append").c_str(), O_RDONLY | O_DIRECTORY);
  int flags = 0;
  if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
    flags |= FS_APPEND_FL;
    if (ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0) {
      EXPECT_EQ(io_output_refusal(nullptr, at("append/x")),
                "(" + at("append/x") + ": Operation not permitted, its folder " + at("append") +
                    " is append-only or immutable)");
      flags &= ~FS_APPEND_FL;
      ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
  }
  if (fd >= 0) close(fd);
  for (const char* folder : {"shared", "own", "closed", "append"}) EXPECT_TRUE(names_holding(at(folder)).empty());
}

// A commit whose rename fails midway (the last result is new in a folder
// made read-only after it was written) puts back the file it had replaced
// and removes the one it had made, then ends naming the file. Another
// user's file in a folder with the sticky bit fails it before any rename.
TEST_F(OutputFile, ACommitThatFailsLeavesEveryEarlierFileWhole) {
  if (!others_can_enter()) GTEST_SKIP() << "acting as other users needs root";
  make_folder(at("own"), Nobody, 0755);
  make_folder(at("closing"), Nobody, 0755);
  make_folder(at("shared"), 0, 01777);
  make_file(at("own/a"), "earlier a", Nobody, 0644);
  make_file(at("shared/b"), "earlier b", Other, 0666);
  const std::string a = at("own/a"), fresh = at("own/fresh"), late = at("closing/late"), b = at("shared/b");
  const std::string closing = at("closing");
  EXPECT_EXIT_STATUS(
      {
        become(Nobody);
        io_hold_outputs();
        write_text(a, "new a");
        write_text(fresh, "new");
        write_text(late, "new late");
        chmod(closing.c_str(), 0555);
        io_commit_outputs();
        _exit(0);
      },
      255, "cannot write a result file \\(" + late + ": Permission denied\\)");
  EXPECT_EQ(read_bytes(a), "earlier a");
  EXPECT_FALSE(file_exists(fresh));
  EXPECT_FALSE(file_exists(late));
  EXPECT_TRUE(names_holding(at("own")).empty());
  EXPECT_EXIT_STATUS(
      {
        become(Nobody);
        io_hold_outputs();
        write_text(a, "new a");
        write_text(b, "new b");
        io_commit_outputs();
        _exit(0);
      },
      255, "cannot write a result file \\(" + b + ": Operation not permitted\\)");
  EXPECT_EQ(read_bytes(a), "earlier a");
  EXPECT_EQ(read_bytes(b), "earlier b");
  EXPECT_TRUE(names_holding(at("own")).empty());
  EXPECT_TRUE(names_holding(at("shared")).empty());
}

// A close that fails on a regular file (the tail still buffered, past the
// size limit) reports the system's reason and leaves the earlier file.
TEST_F(OutputFile, ACloseThatFailsLeavesTheEarlierFile) {
  write_bytes(at("a"), "earlier");
  const std::string text(100, 'x'), file = at("a");
  const struct rlimit limit = {text.size() - 1, text.size() - 1};
  EXPECT_EXIT(
      {
        signal_catch(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limit);
        std::FILE* stream = io_open_output_or_exit("a", file, "cannot open %s\n");
        std::fwrite(text.data(), 1, text.size(), stream);
        errno = 0;
        const bool closed = io_close_output(stream);
        std::fprintf(stderr, "closed %d: %s", closed, std::strerror(errno));
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "closed 0: File too large");
  EXPECT_EQ(read_bytes(at("a")), "earlier");
  EXPECT_TRUE(names_holding(dir_).empty());
}

// A replaced file keeps its permission bits, whichever writer replaces it,
// but not setuid or setgid: those belong to the earlier contents.
TEST_F(OutputFile, ReplacedFilesKeepTheirPermissionBitsButNotSetuidOrSetgid) {
  const struct {
    mode_t before, after;
  } cases[] = {{0604, 0604}, {02644, 0644}, {04755, 0755}, {01640, 0640}};
  for (const auto& c : cases) {
    for (const char* name : {"stream", "named.fits"}) {
      write_bytes(at(name), "earlier");
      ASSERT_EQ(chmod(at(name).c_str(), c.before), 0);
      if (std::string(name) == "stream") write_text(at(name), "new");
      else write_doubles(at(name));
      EXPECT_EQ(mode_of(at(name)), c.after) << name << " " << std::oct << c.before;
      EXPECT_NE(read_bytes(at(name)), "earlier") << name;
    }
  }
  EXPECT_TRUE(names_holding(dir_).empty());
}

// The kernel's rule for links in world-writable folders with the sticky bit,
// which binds root too: a link there is followed only when its owner is the
// follower or the folder's owner. Elsewhere any link is followed.
TEST_F(OutputFile, LinksOfOtherUsersInSharedFoldersAreNotFollowed) {
  if (!others_can_enter()) GTEST_SKIP() << "acting as other users needs root";
  const struct {
    uid_t folder_owner;
    mode_t mode;
    uid_t link_owner;
    bool followed;
  } cases[] = {
      {0, 01777, Nobody, false}, {0, 01777, 0, true},     {Nobody, 01777, Nobody, true},
      {Nobody, 01777, Other, false}, {0, 0777, Nobody, true}, {0, 01770, Nobody, true},
  };
  int k = 0;
  for (const auto& c : cases) {
    const std::string folder = at("f" + std::to_string(k)), target = at("target" + std::to_string(k));
    const std::string link = folder + "/res.fits";
    k++;
    make_folder(folder, c.folder_owner, c.mode);
    write_bytes(target, "notes");
    make_link("../" + target.substr(dir_.size() + 1), link, c.link_owner);
    std::string end;
    EXPECT_EQ(io_link_end(link, end), c.followed ? 0 : EACCES) << link;
    EXPECT_EQ(end, c.followed ? folder + "/../" + target.substr(dir_.size() + 1) : link);
    if (c.followed) {
      write_text(link, "new");
      EXPECT_EQ(read_bytes(target), "new") << link;
    } else {
      EXPECT_EXIT_STATUS(write_text(link, "new"), 255, link + ": Permission denied");
      EXPECT_EXIT_STATUS(write_doubles(link), 255, link + ": Permission denied");
      EXPECT_EQ(read_bytes(target), "notes") << link;
      EXPECT_EQ(link_text(link), "../" + target.substr(dir_.size() + 1));
    }
    EXPECT_TRUE(names_holding(folder).empty());
  }
}

// As the kernel, at most 40 links are followed in one lookup.
TEST_F(OutputFile, ChainsPastFortyLinksAreRefused) {
  write_bytes(at("l0"), "end");
  for (int k = 1; k <= 41; k++) ASSERT_EQ(symlink(("l" + std::to_string(k - 1)).c_str(), at("l" + std::to_string(k)).c_str()), 0);
  std::string end;
  EXPECT_EQ(io_link_end(at("l40"), end), 0);
  EXPECT_EQ(end, at("l0"));
  EXPECT_EQ(io_link_end(at("l41"), end), ELOOP);
  EXPECT_EQ(end, at("l41"));
  EXPECT_EXIT_STATUS(write_text(at("l41"), "new"), 255, "l41: Too many levels of symbolic links");
  EXPECT_EQ(io_output_refusal(nullptr, at("l41")), "(" + at("l41") + ": Too many levels of symbolic links)");
  write_text(at("l40"), "through forty");
  EXPECT_EQ(read_bytes(at("l0")), "through forty");
  EXPECT_EQ(link_text(at("l41")), "l40");
}

// A writer that hands the library a name writes a device or FIFO too: the
// library writes a file of its own, whose bytes then go to the device.
TEST_F(OutputFile, NamedWritersWriteDevices) {
  const char* temporary = std::getenv("TMPDIR");
  const std::string earlier = temporary != nullptr ? temporary : "";
  ASSERT_EQ(setenv("TMPDIR", dir_.c_str(), 1), 0);
  ASSERT_EQ(symlink("/dev/null", at("null.fits").c_str()), 0);
  write_doubles(at("null.fits"));
  EXPECT_EQ(link_text(at("null.fits")), "/dev/null");
  ASSERT_EQ(mkfifo(at("fifo.fits").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = read_bytes(at("fifo.fits")); });
  write_doubles(at("fifo.fits"));
  reader.join();
  EXPECT_TRUE(is_fits(received)) << received.size();
  write_doubles(at("file.fits"));
  EXPECT_EQ(received, read_bytes(at("file.fits")));
  if (temporary != nullptr) setenv("TMPDIR", earlier.c_str(), 1);
  else unsetenv("TMPDIR");
  EXPECT_TRUE(names_holding(dir_).empty());
}

// The library creates its file by name, following links: it does so in a
// folder of the run's own, where another user can plant nothing.
TEST_F(OutputFile, NoOtherUserCanPlantALinkWhereTheLibraryCreatesItsFile) {
  if (!others_can_enter()) GTEST_SKIP() << "acting as other users needs root";
  make_folder(at("shared"), 0, 01777);
  write_bytes(at("target"), "private");
  const std::string place = at("shared/coef.fits"), target = at("target");
  const std::string written = io_begin_named_output(place);
  ASSERT_FALSE(written.empty());
  EXPECT_EXIT(
      {
        become(Nobody);
        const int made = symlink(target.c_str(), written.c_str());
        std::fprintf(stderr, "planted %d: %s", made, std::strerror(errno));
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "planted -1: Permission denied");
  fitsfile* f = nullptr;
  int status = 0;
  long axes[1] = {4};
  float pixels[4] = {1, 2, 3, 4};
  ffinit(&f, written.c_str(), &status);
  ffcrim(f, FLOAT_IMG, 1, axes, &status);
  ffppr(f, TFLOAT, 1, 4, pixels, &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0);
  EXPECT_TRUE(io_end_named_output(written, true));
  EXPECT_EQ(read_bytes(target), "private");
  EXPECT_TRUE(is_fits(read_bytes(place)));
  EXPECT_TRUE(names_holding(at("shared")).empty());
}

// Debug images meant to be watched take their places as soon as written,
// while the results wait for the commit.
TEST_F(OutputFile, OutputsPlacedAtOnceDoNotWaitForTheCommit) {
  // An earlier snapshot is replaced, whole, with its permission bits, and
  // leaves no second name.
  write_bytes(at("snapshot"), "earlier");
  ASSERT_EQ(chmod(at("snapshot").c_str(), 0640), 0);
  io_hold_outputs();
  write_text(at("result"), "held");
  {
    OutputsPlacedAtOnce at_once;
    write_text(at("snapshot"), "first");
    EXPECT_EQ(read_bytes(at("snapshot")), "first");
    write_text(at("snapshot"), "at once");
    write_doubles(at("named.fits"));
  }
  write_text(at("later"), "held too");
  EXPECT_EQ(read_bytes(at("snapshot")), "at once");
  EXPECT_EQ(mode_of(at("snapshot")), 0640u);
  EXPECT_TRUE(is_fits(read_bytes(at("named.fits"))));
  EXPECT_FALSE(file_exists(at("result")));
  EXPECT_FALSE(file_exists(at("later")));
  io_commit_outputs();
  EXPECT_EQ(read_bytes(at("result")), "held");
  EXPECT_EQ(read_bytes(at("later")), "held too");
  EXPECT_TRUE(names_holding(dir_).empty());
}

// A process that fails while its outputs are held, or one is still being
// written, leaves neither the new files nor a changed earlier file.
TEST_F(OutputFile, AFailedProcessTakesBackItsNewFiles) {
  write_bytes(at("a"), "earlier");
  EXPECT_EXIT_STATUS(
      {
        io_hold_outputs();
        write_text(at("a"), "new a");
        write_text(at("b"), "new b");
        std::FILE* open = io_open_output_or_exit("c", at("c"), "cannot open %s\n");
        std::fputs("half", open);
        std::fflush(open);
        fatal_exit("failed\n", 3);
      },
      3, "failed");
  EXPECT_EQ(read_bytes(at("a")), "earlier");
  EXPECT_FALSE(file_exists(at("b")));
  EXPECT_FALSE(file_exists(at("c")));
  EXPECT_TRUE(names_holding(dir_).empty());
}

// Where the file system has neither hard links nor renames with flags (some
// FUSE and virtual-machine shared folders), the commit moves each file it
// replaces aside by a plain rename onto a fresh name of its own: the results
// still appear together, with the replaced files' permission bits, whatever
// writer made them, and nothing else is left.
TEST_F(OutputFile, CommitsWhereTheFileSystemHasNoHardLinks) {
  for (bool no_hard_links : {false, true}) {
    SCOPED_TRACE(no_hard_links ? "no hard links" : "hard links");
    fs_faults::NoHardLinks = no_hard_links;
    write_bytes(at("a"), "earlier a");
    ASSERT_EQ(chmod(at("a").c_str(), 0640), 0);
    write_bytes(at("named.fits"), "earlier named");
    write_bytes(at("snapshot"), "earlier snapshot");
    io_hold_outputs();
    write_text(at("a"), "new a");
    write_text(at("b"), "new b");
    write_doubles(at("named.fits"));
    {
      OutputsPlacedAtOnce at_once;
      write_text(at("snapshot"), "new snapshot");
    }
    EXPECT_EQ(read_bytes(at("snapshot")), "new snapshot");
    EXPECT_EQ(read_bytes(at("a")), "earlier a");
    io_commit_outputs();
    EXPECT_EQ(read_bytes(at("a")), "new a");
    EXPECT_EQ(mode_of(at("a")), 0640u);
    EXPECT_EQ(read_bytes(at("b")), "new b");
    EXPECT_TRUE(is_fits(read_bytes(at("named.fits"))));
    EXPECT_TRUE(names_holding(dir_).empty());
    std::remove(at("b").c_str());
  }
}

// Where neither links nor renames with flags exist and the plain rename
// of a file to be replaced onto the fresh name made for it fails too, the
// commit fails naming the file, which keeps its bytes, and the fresh name
// goes as well: nothing of the run is left.
TEST_F(OutputFile, AFailedMoveAsideLeavesNoFreshName) {
  write_bytes(at("a"), "earlier a");
  EXPECT_EXIT_STATUS(
      {
        fs_faults::NoHardLinks = true;
        fs_faults::RenameFaults.push_back({at("a") + ".qz_mca-", 0, EACCES, 0, true});
        io_hold_outputs();
        write_text(at("a"), "new a");
        io_commit_outputs();
        _exit(0);
      },
      255, "cannot write a result file \\(" + at("a") + ": Permission denied\\)\n$");
  EXPECT_EQ(read_bytes(at("a")), "earlier a");
  EXPECT_TRUE(names_holding(dir_).empty());
}

// The check before the work makes a new file beside a result's place and
// removes it; a folder that takes the file but will not let it go is
// refused, naming the file left there so that the user can remove it.
TEST_F(OutputFile, AProbeFileThatCannotBeRemovedIsNamed) {
  fs_faults::UnlinkFaults.push_back({at("x") + ".qz_mca-", EPERM});
  const std::string refusal = io_output_refusal("x", at("x"));
  fs_faults::UnlinkFaults.clear();
  const std::vector<std::string> left = names_holding(dir_);
  ASSERT_EQ(left.size(), 1u) << refusal;
  EXPECT_EQ(left[0].rfind("x.qz_mca-", 0), 0u) << left[0];
  EXPECT_EQ(refusal, "(" + at(left[0]) + ": Operation not permitted, its folder " + dir_ +
                         " lets a new file be made but not removed)");
  EXPECT_FALSE(file_exists(at("x")));
  std::remove(at(left[0]).c_str());
}

// A commit whose last rename fails puts back every earlier file, moved
// aside or linked. When a put-back fails too, the message names the file
// that keeps the earlier content, and that file stays.
TEST_F(OutputFile, AFailedPutBackNamesTheFileThatKeepsTheEarlierContent) {
  const struct {
    bool no_hard_links;
    bool put_back_fails;
  } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.no_hard_links ? "no hard links" : "hard links") +
                 (c.put_back_fails ? ", put-back fails" : ""));
    write_bytes(at("a"), "earlier a");
    write_bytes(at("b"), "earlier b");
    const std::string a = at("a"), b = at("b"), late = at("late");
    const std::string kept = c.put_back_fails ? "The earlier " + a + " could not be put back: it is kept as " + a +
                                                    "\\.qz_mca-[a-z0-9]{6}\n"
                                              : "";
    EXPECT_EXIT_STATUS(
        {
          fs_faults::NoHardLinks = c.no_hard_links;
          fs_faults::RenameFaults.push_back({late, 0, EACCES, 0});
          // The first rename onto a puts the new file there; the second
          // would put the earlier one back.
          if (c.put_back_fails) fs_faults::RenameFaults.push_back({a, 1, EACCES, 0});
          io_hold_outputs();
          write_text(a, "new a");
          write_text(b, "new b");
          write_text(late, "new late");
          io_commit_outputs();
          _exit(0);
        },
        255, "cannot write a result file \\(" + late + ": Permission denied\\)\n" + kept + "$");
    EXPECT_EQ(read_bytes(b), "earlier b");
    EXPECT_FALSE(file_exists(late));
    const std::vector<std::string> left = names_holding(dir_);
    if (c.put_back_fails) {
      ASSERT_EQ(left.size(), 1u);
      EXPECT_EQ(left[0].rfind("a.qz_mca-", 0), 0u) << left[0];
      EXPECT_EQ(read_bytes(at(left[0])), "earlier a");
      std::remove(at(left[0]).c_str());
    } else {
      EXPECT_EQ(read_bytes(a), "earlier a");
      EXPECT_TRUE(left.empty());
    }
  }
}

// A stop signal that comes while the commit renames waits for its end, so
// that the results are seen all new (or all old), and one that comes just
// before an output's rename removes its new file, which is still
// registered: nothing of the run is left. The signal is raised from the
// rename itself, at a fixed point.
TEST_F(OutputFile, AStopDuringTheRenamesLeavesAllOldOrAllNewAndNoNewFile) {
  constexpr int kHeld = 12;
  const struct {
    const char* label;
    int outputs;  // written while held; 0: one output placed at once
    bool at_once;
    bool named;
    int signal_at;  // the output whose rename raises the signal
    bool all_new;
  } cases[] = {
      {"commit of many", kHeld, false, false, 3, true},
      {"one output", 0, false, false, 0, false},
      {"one output placed at once by a swap", 0, true, false, 0, false},
      {"one named output", 0, false, true, 0, false},
  };
  auto name = [&](int k) { return at("r" + std::to_string(k) + ".fits"); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const int count = c.outputs > 0 ? c.outputs : 1;
    for (int k = 0; k < count; k++) write_bytes(name(k), "earlier " + std::to_string(k));
    EXPECT_EXIT(
        {
          catch_stop_signals();
          fs_faults::RenameFaults.push_back({name(c.signal_at), 0, 0, SIGTERM});
          if (c.outputs > 0) io_hold_outputs();
          OutputsPlacedAtOnce* at_once = c.at_once ? new OutputsPlacedAtOnce : nullptr;
          for (int k = 0; k < count; k++) {
            if (c.named) write_doubles(name(k));
            else write_text(name(k), "new " + std::to_string(k));
          }
          delete at_once;
          if (c.outputs > 0) io_commit_outputs();
          _exit(0);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    for (int k = 0; k < count; k++)
      EXPECT_EQ(read_bytes(name(k)), (c.all_new ? "new " : "earlier ") + std::to_string(k)) << k;
    EXPECT_TRUE(names_holding(dir_).empty());
    for (int k = 0; k < count; k++) std::remove(name(k).c_str());
  }
}

// The FITS library reads brackets, parentheses, a leading blank or a
// "file:" prefix of a name it creates as its own syntax. The writers that
// hand it a name write any name as typed, relative or not, and leave no
// other file.
TEST_F(OutputFile, NamedWritersWriteAnyNameAsTyped) {
  const std::vector<std::string> names = {
      "a[1].rad", "res (1)/x.rad", " lead.rad", "file:x.rad", "mem:/y.rad", "b!c+d*e;f&g|h$i.rad",
      "!bang.rad", "e.fits(t.fits)", "h.fits[compress]", "q~.gz.rad", "-.rad", "c.rad[1]",
  };
  for (const char* folder : {"res (1)", "mem:"}) ASSERT_EQ(mkdir(at(folder).c_str(), 0755), 0);
  const float values[6] = {1, 2, 3, 4, 5, 6};
  const long axes[2] = {3, 2};
  auto float_array = [&](const std::string& file) {
    write_float_array_file(file, values, 2, axes, [](fitsfile*, int&) {});
  };
  const std::string plain_doubles = at("plain.rad"), plain_floats = at("plain.rid");
  write_doubles(plain_doubles);
  float_array(plain_floats);
  std::set<std::string> expected = {"plain.rad", "plain.rid", "res (1)", "mem:"};
  const std::string dir = dir_;
  for (const std::string& name : names) {
    // Relative to the test's folder, and absolute, by each writer.
    const std::string file = name.substr(0, name.rfind('.')), absolute = at(file + ".abs.rad");
    EXPECT_EXIT(
        {
          if (chdir(dir.c_str()) != 0) _exit(2);
          write_doubles(name);
          float_array(file + ".rid");
          write_doubles(absolute);
          _exit(0);
        },
        ::testing::ExitedWithCode(0), "")
        << name;
    for (const std::string& made : {name, file + ".rid", file + ".abs.rad"}) {
      const bool floats = made.compare(made.size() - 4, 4, ".rid") == 0;
      EXPECT_EQ(read_bytes(at(made)), read_bytes(floats ? plain_floats : plain_doubles)) << made;
      expected.insert(made);
    }
  }
  std::set<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_))
    found.insert(entry.path().lexically_relative(dir_).string());
  EXPECT_EQ(found, expected);
}

// A result the commit could not replace for its inode flags is refused
// before the work: an append-only or immutable folder, an append-only file
// (an immutable one is not writable at all).
TEST_F(OutputFile, InodeFlagsThatForbidTheCommitAreFoundBeforeWriting) {
  ASSERT_EQ(mkdir(at("folder").c_str(), 0755), 0);
  write_bytes(at("file"), "earlier");
  const std::string reason = ": Operation not permitted, ";
  const struct {
    const char* flagged;
    int flag;
    const char* result;
    std::string refusal;
  } cases[] = {
      {"file", FS_APPEND_FL, "file", "(" + at("file") + reason + "a file that may only be appended to)"},
      {"file", FS_IMMUTABLE_FL, "file", "(" + at("file") + ": Operation not permitted)"},
      {"folder", FS_APPEND_FL, "folder/x", "(" + at("folder/x") + reason + "its folder " + at("folder") +
                                               " is append-only or immutable)"},
      {"folder", FS_IMMUTABLE_FL, "folder/x", "(" + at("folder/x") + reason + "its folder " + at("folder") +
                                                  " is append-only or immutable)"},
  };
  for (const auto& c : cases) {
    InodeFlagSet flagged(at(c.flagged), c.flag);
    if (!flagged.set()) GTEST_SKIP() << "inode flags need root and a file system that keeps them";
    EXPECT_EQ(io_output_refusal(nullptr, at(c.result)), c.refusal) << c.flagged << " " << c.flag;
  }
  EXPECT_EQ(read_bytes(at("file")), "earlier");
  EXPECT_TRUE(names_holding(dir_).empty());
}
