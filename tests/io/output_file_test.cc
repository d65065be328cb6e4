// Output files written whole or not at all: a new file beside the place,
// renamed onto it when complete (at once, or at the commit while held);
// links and devices stay; a process that ends on a failure takes back its
// new files.
#include "io/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>

#include "array/fatal.h"
#include "fits_test_files.h"
#include "support/death.h"

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

class OutputFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = scratch(name);
    ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0);
  }
  std::string at(const std::string& name) const { return dir_ + "/" + name; }
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
    int error;
    const char* leads_to;
  } cases[] = {{"fresh", 0, ""},     {"folder", EISDIR, ""},    {"missing/x", ENOENT, ""},
               {"astray", ENOENT, "missing/x"}, {"null", 0, "/dev/null"}};
  for (const auto& c : cases) {
    std::string leads_to;
    EXPECT_EQ(io_output_error(at(c.name), leads_to), c.error) << c.name;
    const std::string expected = *c.leads_to == '\0' || c.leads_to[0] == '/' ? c.leads_to : at(c.leads_to);
    EXPECT_EQ(leads_to, expected) << c.name;
  }
  EXPECT_FALSE(file_exists(at("fresh")));
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
