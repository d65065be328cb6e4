// An input that another user may write, rewritten in place while the
// program reads it (a preloaded library does so at the first read past a
// given byte): the FITS library must decode the very bytes the checks read.
// A valid file turned mid-run into one the checks refuse, and whose bytes
// would make the library's decoder write past its tile or divide by zero,
// is either read as the valid file or refused; never does the run end by a
// signal.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "array/memory_size.h"
#include "io/write_permission.h"
#include "tile_table_layouts.h"
#include "support/qz_mca_program.h"

namespace {

constexpr long kWidth = 64, kHeight = 48;

class SharedInput : public QzMcaProgram {
 protected:
  // The command that runs the program under the preloaded rewrite.
  std::string rewriting(const std::string& crafted, long long past, bool before) const {
    const char* library = std::getenv("QZ_REWRITE_AT_READ");
    const char* asan = std::getenv("ASAN_OPTIONS");
    // A sanitizer's runtime would otherwise refuse a library loaded before it.
    return std::string("env LD_PRELOAD='") + (library != nullptr ? library : "") + "' ASAN_OPTIONS='" +
           (asan != nullptr ? std::string(asan) + ":" : "") + "verify_asan_link_order=0' QZ_REWRITE_FILE='" +
           path("r.fits") + "' QZ_REWRITE_WITH='" + path(crafted) + "' QZ_REWRITE_PAST=" + std::to_string(past) +
           (before ? " QZ_REWRITE_BEFORE=1" : "");
  }
};

// The card of `key` in the first extension's header given another value,
// in place: the file keeps its layout, byte for byte but for that card.
std::string with_value(std::string bytes, const std::string& key, const std::string& value) {
  std::string padded = key;
  padded.resize(8, ' ');
  for (std::size_t at = 2880; at + 80 <= bytes.size(); at += 80)
    if (bytes.compare(at, 8, padded) == 0) return bytes.replace(at, 80, fits_test::card(fits_test::value_card(key, value)));
  ADD_FAILURE() << "no " << key;
  return bytes;
}

TEST_F(SharedInput, ARewriteWhileReadIsReadAsCheckedOrRefused) {
  ASSERT_NE(std::getenv("QZ_REWRITE_AT_READ"), nullptr) << "QZ_REWRITE_AT_READ must name the preloaded library";
  std::vector<double> values(kWidth * kHeight);
  for (std::size_t k = 0; k < values.size(); k++) values[k] = 100 + static_cast<double>(k * 37 % 200);
  fits_test::write_compressed(path("valid.fits"), SHORT_IMG, {kWidth, kHeight}, values,
                              {HCOMPRESS_1, 4, 1, {kWidth, 16}});
  // Put together as the crafted file is, so that the two differ in the
  // bytes changed alone.
  tile_layouts::table_hdu table = tile_layouts::take_apart(fits_test::read_bytes(path("valid.fits")));
  const std::string valid = tile_layouts::put_together(table);
  // Tile 1's HCOMPRESS stream describing 64 x 64 pixels in its 64 x 16 tile:
  // its lines are the 4 bytes after the stream's 2-byte mark.
  const int data_column = tile_layouts::column_number(table, "COMPRESSED_DATA");
  ASSERT_GT(data_column, 0);
  const long long descriptor = tile_layouts::columns(table)[data_column - 1].offset;
  const std::uint64_t stream = tile_layouts::read_big_endian(table.rows, descriptor + 4, 4);
  ASSERT_EQ(tile_layouts::read_big_endian(table.heap, stream + 2, 4), 16u);
  tile_layouts::write_big_endian(table.heap, stream + 2, 4, 64);
  const std::string tall = tile_layouts::put_together(table);
  ASSERT_EQ(tall.size(), valid.size());
  fits_test::write_bytes(path("tall.fits"), tall);
  const std::string no_width = with_value(valid, "ZTILE1", "0");
  ASSERT_EQ(no_width.size(), valid.size());
  fits_test::write_bytes(path("no_width.fits"), no_width);

  // Rewritten after the first header, the second, the table, inside tile
  // 1's stream, and at the heap's last byte.
  const long long heap = 2 * 2880 + static_cast<long long>(table.rows.size());
  const long long rewrites[] = {0, 2880, heap - 1, heap + static_cast<long long>(stream) + 8,
                                heap + static_cast<long long>(table.heap.size()) - 1};
  // The plain name stops at the empty primary HDU (and is refused), where
  // a section without an HDU goes on to the image.
  for (const char* name : {"r.fits[1]", "r.fits", "'r.fits[3:60,2:40]'", "'r.fits[1][3:60,2:40]'"}) {
    // What the valid file gives when nothing rewrites it.
    fits_test::write_bytes(path("r.fits"), valid);
    std::remove(path("o.fits").c_str());
    const int expected_status = run(std::string("-t 1 -i 2 ") + name + " o.fits");
    const FitsImage expected = result("o.fits");
    ASSERT_TRUE(expected_status == 0 ? expected.nl > 0 : expected_status == 255) << name << ": " << output_;
    for (const char* crafted : {"tall.fits", "no_width.fits"}) {
      for (long long past : rewrites)
      for (bool before : {false, true}) {
        const std::string what = std::string(name) + " turned into " + crafted + (before ? " before" : " after") +
                                 " a read past byte " + std::to_string(past);
        std::remove(path("o.fits").c_str());
        fits_test::write_bytes(path("r.fits"), valid);
        // Any other user may write it.
        ASSERT_EQ(chmod(path("r.fits").c_str(), 0666), 0);
        const int status = run(std::string("-t 1 -i 2 ") + name + " o.fits", rewriting(crafted, past, before));
        EXPECT_TRUE(fits_test::read_bytes(path("r.fits")) == fits_test::read_bytes(path(crafted)))
            << what << ": the file was not rewritten";
        EXPECT_TRUE(status == 0 || status == 255) << what << " ended with " << status << ": " << output_;
        if (status == 0) {
          EXPECT_EQ(expected_status, 0) << what;
          const FitsImage got = result("o.fits");
          EXPECT_EQ(got.nl, expected.nl) << what;
          EXPECT_EQ(got.pixels, expected.pixels) << what;
        } else {
          EXPECT_TRUE(printed("(r.fits)")) << what << ": " << output_;
          EXPECT_FALSE(exists("o.fits")) << what;
        }
      }
    }
  }
}

// The copy costs what the file holds: a file that others may write and that
// is larger than the machine's memory (sparse, past a small image) is
// refused before any of it is copied; the same file written by its owner
// alone is read in place, its image alone.
TEST_F(SharedInput, AFileLargerThanTheMemoryIsRefusedOnlyWhenOthersMayWriteIt) {
  const std::uint64_t memory = physical_memory_bytes();
  ASSERT_GT(memory, 0u);
  FitsImage image(16, 16);
  for (int k = 0; k < 256; k++) image.pixels[k] = static_cast<float>(k % 7);
  write_fits(path("big.fits"), image);
  ASSERT_EQ(truncate(path("big.fits").c_str(), static_cast<off_t>(memory + (std::uint64_t(1) << 30))), 0);
  ASSERT_EQ(chmod(path("big.fits").c_str(), 0644), 0);
  EXPECT_EQ(run("-t 1 -i 2 big.fits o.fits"), 0) << output_;
  ASSERT_EQ(chmod(path("big.fits").c_str(), 0646), 0);
  std::remove(path("o.fits").c_str());
  EXPECT_EQ(run("-t 1 -i 2 big.fits o2.fits"), 255);
  EXPECT_TRUE(printed("may be written by other users, so it is read once into memory, and its " +
                      std::to_string((memory + (std::uint64_t(1) << 30)) >> 20) + " MB are more than the " +
                      std::to_string(memory >> 20) + " MB of memory of this machine: copy it to a file of your "
                      "own and read that ... (big.fits)"))
      << output_;
  EXPECT_FALSE(exists("o2.fits"));
}

// Who else may write a file, by its mode, owner, group and access list.
// Owners and groups are changed only by the superuser; the groups are
// found in this machine's user database.
TEST(WritableByOthers, ModeOwnerGroupAndAccessList) {
  const std::string file = fits_test::scratch("perm.fits");
  fits_test::write_bytes(file, "x");
  const bool superuser = geteuid() == 0;
  // A group that is some other user's primary group, and one that holds
  // no user at all.
  gid_t users_group = 0, empty_group = 0;
  bool found_users = false, found_empty = false;
  setpwent();
  while (const struct passwd* user = getpwent())
    if (user->pw_uid != geteuid() && user->pw_uid != 0 && !found_users) {
      users_group = user->pw_gid;
      found_users = true;
    }
  endpwent();
  setgrent();
  while (const struct group* entry = getgrent()) {
    if (found_empty || entry->gr_mem[0] != nullptr) continue;
    bool primary = false;
    setpwent();
    while (const struct passwd* user = getpwent()) primary = primary || user->pw_gid == entry->gr_gid;
    endpwent();
    if (!primary) {
      empty_group = entry->gr_gid;
      found_empty = true;
    }
  }
  endgrent();
  const uid_t self = geteuid();
  const gid_t own_group = getegid();
  const struct {
    const char* what;
    mode_t mode;
    bool needs_superuser;
    uid_t owner;
    gid_t group;
    bool writable;
  } cases[] = {
      {"the owner's alone", 0644, false, self, own_group, false},
      {"read by all, written by none", 0444, false, self, own_group, false},
      {"written by others", 0666, false, self, own_group, true},
      {"written by others alone", 0602, false, self, own_group, true},
      {"another user's, read-only", 0444, true, 1, own_group, true},
      {"group-written, another user's primary group", 0664, true, self, users_group, true},
      {"group-written, a group of no one", 0664, true, self, empty_group, false},
      {"a group of no one, not group-written", 0644, true, self, users_group, false},
  };
  int checked = 0;
  for (const auto& c : cases) {
    if (c.needs_superuser && !superuser) continue;
    if (c.group == users_group && !found_users) continue;
    if (c.group == empty_group && !found_empty) continue;
    ASSERT_EQ(chown(file.c_str(), c.owner, c.group), 0) << c.what;
    ASSERT_EQ(chmod(file.c_str(), c.mode), 0) << c.what;
    const int descriptor = open(file.c_str(), O_RDONLY);
    struct stat info;
    ASSERT_EQ(fstat(descriptor, &info), 0);
    EXPECT_EQ(io_writable_by_others(descriptor, info), c.writable) << c.what;
    close(descriptor);
    checked++;
  }
  // An access list naming another user, its mask letting the group write:
  // the mode alone reads as the owner's and a private group's.
  if (superuser && found_empty) {
    ASSERT_EQ(chown(file.c_str(), self, empty_group), 0);
    // Version 2; the owner, user 1, the owning group, the mask, others.
    const std::uint32_t list[] = {2, 0x00060001, 0xffffffff, 0x00060002, 1, 0x00040004, 0xffffffff,
                                  0x00060010, 0xffffffff, 0x00040020, 0xffffffff};
    if (setxattr(file.c_str(), "system.posix_acl_access", list, sizeof list, 0) == 0) {
      const int descriptor = open(file.c_str(), O_RDONLY);
      struct stat info;
      ASSERT_EQ(fstat(descriptor, &info), 0);
      EXPECT_EQ(info.st_mode & 0777, 0664u);
      EXPECT_TRUE(io_writable_by_others(descriptor, info)) << "a user named by the access list";
      close(descriptor);
      checked++;
    } else {
      std::printf("The scratch folder's file system keeps no access lists: that case is not checked here.\n");
    }
  }
  std::remove(file.c_str());
  if (!superuser) GTEST_SKIP() << "only the superuser may give a file to another user or group: " << checked << " cases checked";
}

}  // namespace
