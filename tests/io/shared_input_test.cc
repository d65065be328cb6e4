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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "array/memory_size.h"
#include "io/write_permission.h"
#include "tile_table_layouts.h"
#include "support/installed_tools.h"
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

// What a run gives: its status, all it printed, and its result.
struct outcome {
  int status = 0;
  std::string printed;
  FitsImage result;
};

// The ways a file may be written by another user than its reader. The
// reader, root in CI, may give files away; a user that is not may make
// them written by all alone.
enum class others { none, owner, everyone, primary_group, member_group, access_list };

struct way_of_others {
  others kind;
  const char* what;
};

const way_of_others kWays[] = {
    {others::owner, "another user's (mode 644)"},
    {others::everyone, "written by all (mode 666)"},
    {others::primary_group, "group-written, another user's primary group"},
    {others::member_group, "group-written, a group listing another user"},
    {others::access_list, "an access list naming another user"},
};

// A group that lists a user other than this one as a member, and that is
// no one's primary group (so that only its list tells); -1 for none.
gid_t group_listing_another_user() {
  const struct passwd* self = getpwuid(geteuid());
  gid_t found = static_cast<gid_t>(-1);
  setgrent();
  while (const struct group* entry = getgrent()) {
    bool another = false;
    for (char** member = entry->gr_mem; *member != nullptr; member++)
      another = another || self == nullptr || std::strcmp(*member, self->pw_name) != 0;
    if (!another || getpwnam(entry->gr_name) != nullptr) continue;
    found = entry->gr_gid;
    break;
  }
  endgrent();
  return found;
}

class SharedCopy : public QzMcaProgram {
 protected:
  // The file at `name` made anew with `bytes`, written by its reader alone
  // or by others in the given way; false when this user cannot make it so.
  bool lay(const std::string& name, const std::string& bytes, others kind) {
    const std::string file = path(name);
    std::remove(file.c_str());
    fits_test::write_bytes(file, bytes);
    EXPECT_EQ(chown(file.c_str(), geteuid(), getegid()), 0);
    EXPECT_EQ(chmod(file.c_str(), 0644), 0);
    const bool superuser = geteuid() == 0;
    const struct passwd* nobody = getpwnam("nobody");
    switch (kind) {
      case others::none: break;
      case others::owner:
        if (!superuser) return false;
        EXPECT_EQ(chown(file.c_str(), nobody != nullptr ? nobody->pw_uid : 65534, static_cast<gid_t>(-1)), 0);
        break;
      case others::everyone: EXPECT_EQ(chmod(file.c_str(), 0666), 0); break;
      case others::primary_group:
        if (!superuser || nobody == nullptr) return false;
        EXPECT_EQ(chown(file.c_str(), static_cast<uid_t>(-1), nobody->pw_gid), 0);
        EXPECT_EQ(chmod(file.c_str(), 0664), 0);
        break;
      case others::member_group: {
        const gid_t group = group_listing_another_user();
        if (!superuser || group == static_cast<gid_t>(-1)) return false;
        EXPECT_EQ(chown(file.c_str(), static_cast<uid_t>(-1), group), 0);
        EXPECT_EQ(chmod(file.c_str(), 0664), 0);
        break;
      }
      case others::access_list: {
        // Version 2; the owner, user 1, the owning group, the mask, others.
        const std::uint32_t list[] = {2, 0x00060001, 0xffffffff, 0x00060002, 1, 0x00040004, 0xffffffff,
                                      0x00060010, 0xffffffff, 0x00040020, 0xffffffff};
        if (!superuser || setxattr(file.c_str(), "system.posix_acl_access", list, sizeof list, 0) != 0) return false;
        break;
      }
    }
    // The way must take: a file still the reader's own would pass unseen.
    const int descriptor = open(file.c_str(), O_RDONLY);
    struct stat info;
    EXPECT_EQ(fstat(descriptor, &info), 0);
    EXPECT_EQ(io_writable_by_others(descriptor, info), kind != others::none) << name;
    close(descriptor);
    return true;
  }

  outcome run_on(const std::string& name) {
    std::remove(path("o.fits").c_str());
    outcome got;
    got.status = run("-t 1 -i 2 '" + name + "' o.fits");
    got.printed = output_;
    got.result = result("o.fits");
    return got;
  }

  // The run on a name of `file`, laid with `bytes` in each way others may
  // write it, against the run on the same bytes in the reader's own file.
  void expect_read_as_own(const std::string& file, const std::string& bytes, const std::string& name,
                          const std::string& what) {
    ASSERT_TRUE(lay(file, bytes, others::none));
    const outcome own = run_on(name);
    for (const way_of_others& way : kWays) {
      if (!lay(file, bytes, way.kind)) {
        std::printf("%s: %s cannot be made here, and is not checked.\n", what.c_str(), way.what);
        continue;
      }
      const outcome shared = run_on(name);
      const std::string where = what + ", " + name + ", " + way.what;
      EXPECT_EQ(shared.status, own.status) << where << ": " << shared.printed;
      EXPECT_EQ(shared.printed, own.printed) << where;
      EXPECT_EQ(shared.result.nl, own.result.nl) << where;
      EXPECT_EQ(shared.result.nc, own.result.nc) << where;
      EXPECT_TRUE(shared.result.pixels == own.result.pixels) << where;
      EXPECT_EQ(shared.result.cards, own.result.cards) << where;
    }
  }
};

// The file's bytes, plain or tile-compressed, then packed by a tool or not.
struct packing {
  const char* what;
  int tiles;            // the tiles' algorithm; 0 for a plain image, -1
                        // for a plain one followed by an extension of 300
                        // axes, more than the library keeps
  const char* tool;     // the packing program, none for none
  const char* command;  // standard input to standard output
  const char* suffix;   // the name's for the tool
};

const packing kPackings[] = {
    {"plain", 0, nullptr, nullptr, ""},
    {"gzip", 0, "gzip", "gzip -9 -c", ".gz"},
    {"bzip2", 0, "bzip2", "bzip2 -9 -c", ".bz2"},
    {"compress", 0, "compress", "compress -c", ".Z"},
    {"Rice tiles", RICE_1, nullptr, nullptr, ""},
    {"gzip tiles", GZIP_1, nullptr, nullptr, ""},
    {"HCOMPRESS tiles", HCOMPRESS_1, nullptr, nullptr, ""},
    {"Rice tiles, gzipped", RICE_1, "gzip", "gzip -9 -c", ".gz"},
    {"gzip tiles, gzipped", GZIP_1, "gzip", "gzip -9 -c", ".gz"},
    {"HCOMPRESS tiles, gzipped", HCOMPRESS_1, "gzip", "gzip -9 -c", ".gz"},
    {"300 axes", -1, nullptr, nullptr, ""},
    {"300 axes, gzipped", -1, "gzip", "gzip -9 -c", ".gz"},
};

// An image extension named SCI of 300 axes of length 1, its byte of data
// padded.
std::string extension_of_300_axes() {
  std::string header = fits_test::card("XTENSION= 'IMAGE   '") + fits_test::card(fits_test::value_card("BITPIX", "8")) +
                       fits_test::card(fits_test::value_card("NAXIS", "300"));
  for (int axis = 1; axis <= 300; axis++)
    header += fits_test::card(fits_test::value_card("NAXIS" + std::to_string(axis), "1"));
  header += fits_test::card(fits_test::value_card("PCOUNT", "0")) + fits_test::card(fits_test::value_card("GCOUNT", "1")) +
            fits_test::card("EXTNAME = 'SCI     '") + fits_test::card("END");
  header.resize((header.size() + 2879) / 2880 * 2880, ' ');
  return header + std::string(2880, '\0');
}

// A file that others may write is read as the reader's own file with the
// same bytes: the same pixels and cards, the same refusals in the same
// words, whatever its packing and however it is named: whole, by its
// extension, with a section (read whole where packed), and found as the
// packed sibling of the plain name.
TEST_F(SharedCopy, AFileOthersMayWriteReadsAsTheReadersOwn) {
  std::vector<double> first(kWidth * kHeight), second(kWidth * kHeight);
  for (std::size_t k = 0; k < first.size(); k++) {
    first[k] = 100 + static_cast<double>(k * 37 % 200);
    second[k] = 50 + static_cast<double>(k * 11 % 97);
  }
  for (const packing& how : kPackings) {
    if (how.tool != nullptr && !test_support::tool_installed(how.tool)) continue;
    if (how.tiles > 0) {
      fits_test::write_compressed(path("source.fits"), SHORT_IMG, {kWidth, kHeight}, first,
                                  {how.tiles, 4, SUBTRACTIVE_DITHER_1, {kWidth, 16}});
    } else {
      fits_test::Hdu primary, science;
      primary.naxes = science.naxes = {kWidth, kHeight};
      primary.stored = first;
      science.stored = second;
      science.extname = "SCI";
      if (how.tiles == 0) {
        fits_test::write_hdus(path("source.fits"), {primary, science});
      } else {
        fits_test::write_hdus(path("source.fits"), {primary});
        fits_test::write_bytes(path("source.fits"), fits_test::read_bytes(path("source.fits")) + extension_of_300_axes());
      }
    }
    if (how.tool != nullptr) {
      const std::string command = std::string(how.command) + " < '" + path("source.fits") + "' > '" + path("packed") + "'";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    const std::string bytes = fits_test::read_bytes(path(how.tool != nullptr ? "packed" : "source.fits"));
    const std::string file = std::string("r.fits") + how.suffix;
    std::vector<std::string> names = {file, file + (how.tiles > 0 ? "[1]" : "[SCI]"), file + "[3:30,2:20]"};
    if (*how.suffix != '\0') names.push_back("r.fits");
    for (const std::string& name : names) expect_read_as_own(file, bytes, name, how.what);
    std::remove(path(file).c_str());
  }
}

// The copy is made a piece at a time: a file of several pieces reads as
// the reader's own.
TEST_F(SharedCopy, AFileOfSeveralPiecesReadsAsTheReadersOwn) {
  FitsImage image(600, 500);
  for (std::size_t k = 0; k < image.pixels.size(); k++) image.pixels[k] = static_cast<float>(k % 1013);
  write_fits(path("source.fits"), image);
  const std::string bytes = fits_test::read_bytes(path("source.fits"));
  ASSERT_GT(bytes.size(), std::size_t(1) << 20);
  expect_read_as_own("r.fits", bytes, "r.fits", "a plain file of " + std::to_string(bytes.size()) + " bytes");
}

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
// is larger than the memory left to the run (sparse, past a small image) is
// refused before any of it is copied; the same file written by its owner
// alone is read in place, its image alone. Left is the least of what the
// machine has available and what the process's limits leave.
TEST_F(SharedInput, AFileLargerThanTheMemoryLeftIsRefusedOnlyWhenOthersMayWriteIt) {
  const std::uint64_t memory = physical_memory_bytes();
  ASSERT_GT(memory, 0u);
  FitsImage image(16, 16);
  for (int k = 0; k < 256; k++) image.pixels[k] = static_cast<float>(k % 7);
  write_fits(path("big.fits"), image);
  const std::string message = "may be written by other users, so it is read once into memory, and its ";
  const std::string remedy = " MB of memory available: copy it to a file of your own and read that ... (big.fits)";
  // Past the machine's memory, and past an address space of 1 GB (the
  // sanitizers' shadow memory needs terabytes of it).
  struct {
    std::uint64_t size;
    std::string limit;
  } cases[] = {{memory + (std::uint64_t(1) << 30), ""},
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
               {std::uint64_t(3) << 29, "prlimit --as=" + std::to_string(std::uint64_t(1) << 30)},
#endif
  };
  for (const auto& c : cases) {
    ASSERT_EQ(truncate(path("big.fits").c_str(), static_cast<off_t>(c.size)), 0);
    ASSERT_EQ(chmod(path("big.fits").c_str(), 0644), 0);
    std::remove(path("o.fits").c_str());
    EXPECT_EQ(run("-t 1 -i 2 big.fits o.fits", c.limit), 0) << c.limit << ": " << output_;
    EXPECT_TRUE(exists("o.fits")) << c.limit;
    ASSERT_EQ(chmod(path("big.fits").c_str(), 0646), 0);
    std::remove(path("o2.fits").c_str());
    EXPECT_EQ(run("-t 1 -i 2 big.fits o2.fits", c.limit), 255) << c.limit;
    EXPECT_TRUE(printed(message + std::to_string(c.size >> 20) + " MB are more than the ")) << output_;
    EXPECT_TRUE(printed(remedy)) << output_;
    EXPECT_FALSE(exists("o2.fits")) << c.limit;
  }
}

// Who else may write a file, by its mode, owner, group and access list.
// Owners and groups are changed only by the superuser; the groups are
// found in this machine's user database. Any group but the owner's private
// one counts as others', however few users the database shows in it.
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
      {"group-written, the owner's own private group", 0664, true, self, own_group, false},
      {"group-written, a group of no one", 0664, true, self, empty_group, true},
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

// A user's private group holds no one else: it is the user's primary
// group, named after the user, and lists no member but the user. A group
// that lists another user, one named otherwise, or another primary group
// may hold others, whoever the user database shows.
TEST(WritableByOthers, OnlyTheUsersOwnPrivateGroupIsPrivate) {
  char user_name[] = "ada", other_name[] = "bob", shared_name[] = "optics";
  struct passwd user {};
  user.pw_name = user_name;
  user.pw_uid = 1200;
  user.pw_gid = 1200;
  char* nobody[] = {nullptr};
  char* only_the_user[] = {user_name, nullptr};
  char* another[] = {other_name, nullptr};
  char* the_user_and_another[] = {user_name, other_name, nullptr};
  const struct {
    const char* what;
    char* name;
    gid_t gid;
    char** members;
    bool private_group;
  } cases[] = {
      {"the user's private group, no member listed", user_name, 1200, nobody, true},
      {"the user's private group, listing the user", user_name, 1200, only_the_user, true},
      {"the user's private group, listing another user", user_name, 1200, another, false},
      {"the user's private group, listing the user and another", user_name, 1200, the_user_and_another, false},
      {"a group of the user's name that is not its primary", user_name, 1201, nobody, false},
      {"the user's primary group under another name", shared_name, 1200, nobody, false},
      {"another user's private group listing no one", other_name, 1300, nobody, false},
      {"a project group listing the user alone", shared_name, 1400, only_the_user, false},
  };
  for (const auto& c : cases) {
    struct group entry {};
    entry.gr_name = c.name;
    entry.gr_gid = c.gid;
    entry.gr_mem = c.members;
    EXPECT_EQ(io_group_is_private(entry, user), c.private_group) << c.what;
  }
}

}  // namespace
