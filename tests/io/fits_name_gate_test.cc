// Every form of FITS name the library reads, through the one gate: files
// that a plain name refuses are refused through sections and long names
// too, with a message and never a signal; every filter but a section is
// refused on every file; names the checks cannot take apart, prefixes they
// cannot see behind and raw arrays the file does not hold are refused by
// name; sections of valid files read the blocks of the full image, as the
// library's plain read gives it.
#include "io/fits_name_gate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "io/fits_io.h"
#include "tile_table_layouts.h"
#include "support/death.h"

using fits_test::scratch;

namespace {

constexpr long kWidth = 64, kHeight = 48;

struct image {
  int nl = 0, nc = 0;
  std::vector<float> pixels;
  float at(int line, int column) const { return pixels[static_cast<std::size_t>(line) * nc + column]; }
};

image read_program(const std::string& name) {
  to_array<float, false> read;
  fitsstruct header;
  fits_read_float(name.c_str(), read, &header);
  return {read.nl(), read.nc(), std::vector<float>(read.buffer(), read.buffer() + read.n_elem())};
}

// The program's read of a name relative to the scratch folder.
void read_program_in_scratch(const std::string& name) {
  ASSERT_EQ(chdir(fits_test::scratch_dir().c_str()), 0);
  read_program(name);
}

std::vector<double> counts() {
  std::vector<double> values(kWidth * kHeight);
  for (long k = 0; k < kWidth * kHeight; k++) values[k] = 100 + static_cast<double>(k * 37 % 200);
  return values;
}

// An HCOMPRESS image of 16 x 8 tiles, as the library's compressor writes it.
std::string hcompress_file(const std::string& name) {
  fits_test::write_compressed(scratch(name), SHORT_IMG, {kWidth, kHeight}, counts(), {HCOMPRESS_1, 4, 1, {16, 8}});
  return fits_test::read_bytes(scratch(name));
}

// The file's first extension with `cards` added after its others, or its
// card `key` set to `value`.
std::string with_cards(const std::string& bytes, const std::vector<std::string>& cards) {
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(bytes);
  for (const std::string& card : cards) hdu.cards.push_back(fits_test::card(card));
  return tile_layouts::put_together(hdu);
}
std::string with_card(const std::string& bytes, const std::string& key, const std::string& value) {
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(bytes);
  hdu.set(key, value);
  return tile_layouts::put_together(hdu);
}

// The heap of a one-tile HCOMPRESS image with 8 bytes put before its
// stream and THEAP = '16', which the library reads as no offset: its
// decoder would meet a stream declaring 4096 x 56729 pixels.
std::string misplaced_heap() {
  fits_test::write_compressed(scratch("one_tile.fits"), SHORT_IMG, {kWidth, kHeight}, counts(),
                              {HCOMPRESS_1, 4, 1, {kWidth, kHeight}});
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(fits_test::read_bytes(scratch("one_tile.fits")));
  hdu.heap = std::string("\xDD\x99\x00\x00\x10\x00\x00\x00", 8) + hdu.heap;
  hdu.cards.push_back(fits_test::card("THEAP   = '16'"));
  return tile_layouts::put_together(hdu);
}

// A name of `length` characters for `path` (absolute), padded with "./".
std::string padded(const std::string& path, const std::string& rest, std::size_t length) {
  const std::size_t slash = path.rfind('/');
  std::string name = path.substr(0, slash + 1);
  while (name.size() + 2 + (path.size() - slash - 1) + rest.size() <= length) name += "./";
  name += path.substr(slash + 1) + rest;
  if (name.size() < length) name.insert(slash + 1, length - name.size(), '/');
  return name;
}

// The name as a pattern that matches it alone.
std::string literal(const std::string& text) {
  std::string pattern;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

// An empty primary HDU, an image, and a table with a TIME column (which
// good-time filters read) whose header says ZIMAGE = F: a column filter
// that sets it would make the library take the table for a compressed
// image after the checks.
void write_filter_targets(const std::string& path) {
  fits_test::Hdu empty, plain;
  plain.bitpix = SHORT_IMG;
  plain.naxes = {kWidth, kHeight};
  plain.stored = counts();
  fits_test::write_hdus(path, {empty, plain});
  fitsfile* f = nullptr;
  int status = 0;
  char* type[] = {const_cast<char*>("TIME"), const_cast<char*>("X")};
  char* form[] = {const_cast<char*>("1D"), const_cast<char*>("1J")};
  double times[] = {0, 1, 2, 3};
  int zimage = 0;
  ffopen(&f, path.c_str(), READWRITE, &status);
  ffcrtb(f, BINARY_TBL, 4, 2, type, form, nullptr, "EVENTS", &status);
  ffpcld(f, 1, 1, 1, 4, times, &status);
  ffpky(f, TLOGICAL, "ZIMAGE", &zimage, nullptr, &status);
  ffclos(f, &status);
  ASSERT_EQ(status, 0) << "CFITSIO could not write " << path;
}

}  // namespace

// Every filter but an image section is refused before the library sees the
// name, on every kind of file and way in: plain, tile-compressed, gzip, a
// raw array, the standard input and a network name. A filter's expression
// that would copy a file ("x.fits(made.fits)") writes nothing.
TEST(FitsNameGate, EveryFilterButASectionIsRefusedOnEveryFile) {
  write_filter_targets(scratch("plain.fits"));
  hcompress_file("tiled.fits");
  fits_test::write_bytes(scratch("packed.fits"), fits_test::gzip_member(fits_test::read_bytes(scratch("plain.fits"))));
  fits_test::write_bytes(scratch("theap.fits"), misplaced_heap());
  fits_test::write_bytes(scratch("raw.bin"), std::string(kWidth * kHeight, '\x07'));
  const struct {
    std::string name;
    const char* what;
  } cases[] = {
      {"plain.fits[1][pix X*2]", "pixel filter"},
      {"plain.fits[pix X]", "pixel filter"},
      {"plain.fits[1][9:24,5:12][pix X]", "pixel filter"},
      {"plain.fits[1][pix X + gtifilter(\"plain.fits(made_0.fits)\")]", "pixel filter"},
      {"plain.fits[2][#row > 2]", "row filter"},
      {"plain.fits[2][regfilter(\"plain.fits(made_1.fits)\")]", "row filter"},
      {"plain.fits[2][gtifilter(\"plain.fits(made_2.fits)\")]", "row filter"},
      {"plain.fits[2][bin TIME]", "binning"},
      {"plain.fits[2][col TIME; X]", "column filter"},
      {"plain.fits[2][col #ZIMAGE = T; X = 1]", "column filter"},
      {"plain.fits[2][col Y = gtifilter(\"plain.fits(made_3.fits)\")]", "column filter"},
      {"plain.fits[1][compress]", "compression of the output"},
      {"plain.fits[2; X(TIME > 1)]", "filter in the HDU selector"},
      {"plain.fits[2][col TIME][#row > 1]", "row filter and column filter"},
      {"tiled.fits[1][pix X*2]", "pixel filter"},
      {"tiled.fits[1][#row > 2]", "row filter"},
      {"tiled.fits[1][bin X]", "binning"},
      {"tiled.fits[1][col #ZTILE2 = 0]", "column filter"},
      {"tiled.fits[1][gtifilter(\"tiled.fits(made_4.fits)\")]", "row filter"},
      {"tiled.fits[compress GZIP 100,100]", "compression of the output"},
      {"tiled.fits[1; COMPRESSED_DATA(1)]", "filter in the HDU selector"},
      {"theap.fits[1][pix X*2]", "pixel filter"},
      {"packed.fits[1][pix X*2]", "pixel filter"},
      {"packed.fits[2][gtifilter(\"packed.fits(made_5.fits)\")]", "row filter"},
      {"raw.bin[b64,48][pix X]", "row filter"},
  };
  const std::string kRefusal =
      ", which is refused: the library would apply it as it opens the file, unchecked, and a filter's expression "
      "may read, fetch or write other files\\. Apply the filter with another tool and name the file it writes; "
      "image sections \\[x1:x2,y1:y2\\] are read \\.\\.\\. \\(";
  for (const auto& c : cases)
    EXPECT_EXIT_STATUS(read_program(scratch(c.name)), 255,
                       std::string("asks the FITS library for a ") + c.what + kRefusal + literal(scratch(c.name)) +
                           "\\)")
        << c.name;
  EXPECT_EXIT_STATUS(
      {
        fits_test::stdin_through_pipe(scratch("plain.fits"));
        read_program("-.fits[1][pix X*2]");
      },
      255, "asks the FITS library for a pixel filter" + kRefusal + "-\\.fits\\[1\\]\\[pix X\\*2\\]\\)");
  // Refused before any connection: nothing listens on the discard port.
  EXPECT_EXIT_STATUS(fits_gate_name("http://127.0.0.1:9/x.fits[1][col X = 1]", READONLY), 255,
                     "asks the FITS library for a column filter" + kRefusal);
  for (int k = 0; k <= 5; k++)
    EXPECT_FALSE(fits_test::file_exists(scratch("made_" + std::to_string(k) + ".fits"))) << k;
  // Sections still read, on a plain file too.
  const image full = read_program(scratch("plain.fits[1]"));
  const image block = read_program(scratch("plain.fits[1][9:24,5:12]"));
  ASSERT_EQ(block.nl, 8);
  ASSERT_EQ(block.nc, 16);
  for (int l = 0; l < block.nl; l++)
    for (int k = 0; k < block.nc; k++) ASSERT_EQ(block.at(l, k), full.at(4 + l, 8 + k)) << l << " " << k;
}

// The library would decode the tiles of these files as it opens the name,
// or parse the HDU after the one named: each form is refused as the plain
// name is, by the same checks, before it does.
TEST(FitsNameGate, SectionsOfCraftedFilesAreRefusedByTheChecks) {
  const std::string hcomp = hcompress_file("hcomp.fits");
  fits_test::write_bytes(scratch("theap.fits"), misplaced_heap());
  fits_test::write_bytes(scratch("scaled.fits"), with_cards(hcomp, {"TSCAL1  = 0.997", "TZERO1  = 1.0"}));
  // A file whose [1] reads, followed by an HDU that divides by zero.
  fits_test::write_bytes(scratch("later.fits"), hcomp + with_card(hcomp, "ZTILE2", "0").substr(2880));
  ASSERT_EQ(read_program(scratch("later.fits[1]")).pixels, read_program(scratch("hcomp.fits[1]")).pixels);
  const char* const kTheap = "has THEAP = '16': the FITS library reads no integer in it";
  const char* const kScaled = "has tiles in COMPRESSED_DATA that stand under their column's own scaling";
  const struct {
    const char* file;
    const char* selector;
    const char* message;
  } cases[] = {
      {"theap.fits", "[1][1:8,1:8]", kTheap},
      {"theap.fits", "[1][*,*]", kTheap},
      {"theap.fits", "[1][-*,*]", kTheap},
      {"theap.fits", "[*,*]", kTheap},
      {"scaled.fits", "[1][1:8,1:8]", kScaled},
      {"scaled.fits", "[1][-*:2,*]", kScaled},
      {"later.fits", "[1][1:8,1:8]", "HDU \\[2\\] has ZTILE2 = 0: a tile has at least 1 pixel"},
  };
  for (const auto& c : cases)
    EXPECT_EXIT_STATUS(read_program(scratch(c.file) + c.selector), 255, std::string(c.message) + ".*" + c.file)
        << c.file << c.selector;
}

// The library's open of a section decodes the tiles of the image it cuts
// and copies the other HDUs as they stand: their cards are checked, as it
// parses them, and their tiles are not, which it never decodes. Without an
// HDU selector, the section cuts the first image past an empty primary HDU.
TEST(FitsNameGate, SectionsCheckTheTilesOfTheImageTheyCutOnly) {
  const std::string hcomp = hcompress_file("whole.fits");
  // Tile 4's stream declared 6 bytes long, shorter than its header.
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(hcomp);
  tile_layouts::write_big_endian(hdu.rows, 3 * hdu.integer("NAXIS1"), 4, 6);
  const std::string damaged = tile_layouts::put_together(hdu);
  fits_test::write_bytes(scratch("damaged_second.fits"), hcomp + damaged.substr(2880));
  fits_test::write_bytes(scratch("damaged_first.fits"), damaged + hcomp.substr(2880));
  const image full = read_program(scratch("whole.fits[1]"));
  const struct {
    const char* name;
    int refused_hdu;  // 0: reads
  } cases[] = {
      {"damaged_second.fits[1][1:8,1:8]", 0}, {"damaged_second.fits[1:8,1:8]", 0},
      {"damaged_second.fits[2][1:8,1:8]", 2}, {"damaged_first.fits[2][1:8,1:8]", 0},
      {"damaged_first.fits[1][1:8,1:8]", 1},  {"damaged_first.fits[1:8,1:8]", 1},
  };
  for (const auto& c : cases) {
    if (c.refused_hdu > 0) {
      EXPECT_EXIT_STATUS(read_program(scratch(c.name)), 255,
                         "HDU \\[" + std::to_string(c.refused_hdu) + "\\] has tile 4: its HCOMPRESS stream")
          << c.name;
      continue;
    }
    const image block = read_program(scratch(c.name));
    ASSERT_EQ(block.nl, 8) << c.name;
    ASSERT_EQ(block.nc, 8) << c.name;
    for (int l = 0; l < 8; l++)
      for (int k = 0; k < 8; k++) ASSERT_EQ(block.at(l, k), full.at(l, k)) << c.name << " " << l << " " << k;
  }
}

// A section of a table is refused as such: the library would take its text
// for a row filter, and fail it as "syntax error in expression", which
// names nothing the user wrote wrong.
TEST(FitsNameGate, ASectionOfATableIsRefusedAsOne) {
  write_filter_targets(scratch("table.fits"));
  for (const char* name : {"table.fits[2][1:2,1:2]", "table.fits[EVENTS][*]", "table.fits[2][-*,1:4:2]"})
    EXPECT_EXIT_STATUS(read_program(scratch(name)), 255,
                       "the name asks for a section of HDU \\[2\\], which is a table: a section cuts an image; name "
                       "an HDU that holds one")
        << name;
  EXPECT_EQ(read_program(scratch("table.fits[1][1:2,1:2]")).pixels.size(), 4u);
}

// A section reads the block of the full image it names: the library's
// first:last (1-based, inclusive), its "-*" reversal and its steps.
TEST(FitsNameGate, SectionsOfValidFilesReadTheirBlockOfTheFullImage) {
  hcompress_file("valid.fits");
  const image full = read_program(scratch("valid.fits[1]"));
  ASSERT_EQ(full.nc, kWidth);
  const struct {
    const char* section;
    int nl, nc, first_line, first_column, line_step, column_step;
  } cases[] = {
      {"[1][9:24,5:12]", 8, 16, 4, 8, 1, 1},
      {"[1][*,*]", kHeight, kWidth, 0, 0, 1, 1},
      {"[1][-*,*]", kHeight, kWidth, 0, kWidth - 1, 1, -1},
      {"[1][1:64:2,*]", kHeight, kWidth / 2, 0, 0, 1, 2},
      {"[1][*,48:1]", kHeight, kWidth, kHeight - 1, 0, -1, 1},
  };
  for (const auto& c : cases) {
    const image block = read_program(scratch("valid.fits") + c.section);
    ASSERT_EQ(block.nl, c.nl) << c.section;
    ASSERT_EQ(block.nc, c.nc) << c.section;
    for (int l = 0; l < c.nl; l++)
      for (int k = 0; k < c.nc; k++)
        ASSERT_EQ(block.at(l, k), full.at(c.first_line + l * c.line_step, c.first_column + k * c.column_step))
            << c.section << " " << l << " " << k;
  }
}

// 1,024 to 1,027 characters passed the parser's limit to a bare open;
// shorter, a long name reads as the short one.
TEST(FitsNameGate, NamesTooLongForTheLibraryAreRefused) {
  hcompress_file("long.fits");
  fits_test::write_bytes(scratch("long_theap.fits"), misplaced_heap());
  for (std::size_t length : {1024, 1025, 1027, 1400}) {
    const std::string name = padded(scratch("long_theap.fits"), "[1]", length);
    ASSERT_EQ(name.size(), length);
    EXPECT_EXIT_STATUS(read_program(name), 255,
                       "the name handed to the FITS library is " + std::to_string(length) +
                           " characters long, and it takes names of at most 1023 characters apart")
        << length;
  }
  const std::string copy = scratch("copy.fits");
  const std::string with_copy = padded(scratch("long.fits"), "(" + copy + ")[1]", 1025);
  EXPECT_EXIT_STATUS(read_program(with_copy), 255, "1025 characters long");
  EXPECT_FALSE(fits_test::file_exists(copy));
  const std::string longest = padded(scratch("long.fits"), "[1]", 1023);
  EXPECT_EQ(read_program(longest).pixels, read_program(scratch("long.fits[1]")).pixels);
  EXPECT_EXIT_STATUS(read_program(padded(scratch("long_theap.fits"), "[1][1:8,1:8]", 1020)), 255,
                     "has THEAP = '16'");
  // A short path behind a long filter: the descriptor's name put in for
  // the path lengthens the name the library is handed.
  fits_test::write_bytes(scratch("l.fits"), fits_test::read_bytes(scratch("long.fits")));
  const std::string short_path = "l.fits", filter = "[1][*,*]" + std::string(1022 - 6 - 8, ' ');
  ASSERT_TRUE(fits_gate_name(short_path + filter, READONLY));
  EXPECT_EXIT_STATUS(read_program_in_scratch(short_path + filter), 255,
                     "the name handed to the FITS library is 10[0-9][0-9] characters long");
}

TEST(FitsNameGate, PrefixesTheChecksCannotSeeBehindAreRefused) {
  hcompress_file("prefixed.fits");
  for (const std::string prefix : {"shmem://", "root://", "memkeep://", "compressfile://", "gsiftp://"})
    EXPECT_EXIT_STATUS(read_program(prefix + "h1"), 255,
                       "a name beginning with " + prefix + " from a place no check can see first: copy the image "
                       "to a file and name that file")
        << prefix;
  // The library has no driver for a local prefix in capitals.
  for (const std::string prefix : {"FILE://", "Compress://", "MEM://"})
    EXPECT_EXIT_STATUS(read_program(prefix + scratch("prefixed.fits[1]")), 255,
                       "reads the prefix " + prefix + " in lower case only")
        << prefix;
  // Network names are read elsewhere, and local prefixes as before.
  EXPECT_TRUE(fits_gate_name("http://127.0.0.1:9/x.fits", READONLY));
  EXPECT_TRUE(fits_gate_name("ftpmem://127.0.0.1:9/x.fits[1][1:8,1:8]", READONLY));
  // A name the parser rejects is the failed open's to report.
  EXPECT_FALSE(fits_gate_name(scratch("prefixed.fits[1"), READONLY));
  EXPECT_EQ(read_program("file://" + scratch("prefixed.fits[1][1:4,1:4]")).pixels.size(), 16u);
}

// The library opens "~/f.fits" under HOME and "~user/f.fits" under that
// user's home folder, and follows a null pointer for a user it does not
// know: the checks read the very file it would, and refuse the unknown user.
TEST(FitsNameGate, NamesUnderAHomeFolderAreCheckedAsTheFileTheyName) {
  const std::string hcomp = hcompress_file("home.fits");
  fits_test::write_bytes(scratch("home_theap.fits"), misplaced_heap());
  fits_test::write_bytes(scratch("home_later.fits"), hcomp + with_card(hcomp, "ZTILE2", "0").substr(2880));
  const struct {
    const char* name;
    const char* message;
  } cases[] = {
      {"~/home_theap.fits[1]", "has THEAP = '16'.*home_theap.fits"},
      {"file://~/home_theap.fits[1]", "has THEAP = '16'.*home_theap.fits"},
      {"~/home_later.fits[1][1:8,1:8]", "HDU \\[2\\] has ZTILE2 = 0.*home_later.fits"},
      {"~/home.fits[b1000,1000]", "the raw array \\[b1000,1000\\] needs 1000000 bytes"},
      {"~qz_no_such_user/home.fits[1]", "begins with ~qz_no_such_user, the home folder of a user this machine "
                                        "does not know: write the file's path out"},
      {"~[1]", "a user this machine does not know"},
      {"~home.fits[1]", "a user this machine does not know"},
  };
  for (const auto& c : cases)
    EXPECT_EXIT_STATUS(
        {
          setenv("HOME", fits_test::scratch_dir().c_str(), 1);
          read_program(c.name);
        },
        255, c.message)
        << c.name;
  const char* home = std::getenv("HOME");
  const std::string kept = home != nullptr ? home : "";
  setenv("HOME", fits_test::scratch_dir().c_str(), 1);
  const image under_home = read_program("~/home.fits[1]");
  if (home != nullptr) setenv("HOME", kept.c_str(), 1); else unsetenv("HOME");
  EXPECT_EQ(under_home.pixels, read_program(scratch("home.fits[1]")).pixels);
}

// The library's open skips the blanks before a name, and reads the prefix
// "file:" as "file://": " f.fits[1]" and "file:f.fits[1]" are f.fits,
// checked as such, and a raw array read from it sized against it.
TEST(FitsNameGate, NamesLedByBlanksOrFileColonAreCheckedAsTheFileTheyName) {
  const std::string hcomp = hcompress_file("blank.fits");
  fits_test::write_bytes(scratch("blank_theap.fits"), misplaced_heap());
  fits_test::write_bytes(scratch("blank_later.fits"), hcomp + with_card(hcomp, "ZTILE2", "0").substr(2880));
  const struct {
    const char* name;
    const char* message;
  } cases[] = {
      {" blank_theap.fits[1]", "has THEAP = '16'.*blank_theap.fits"},
      {"   blank_later.fits[1][1:8,1:8]", "HDU \\[2\\] has ZTILE2 = 0.*blank_later.fits"},
      {" blank.fits[b1000,1000]", "the raw array \\[b1000,1000\\] needs 1000000 bytes"},
      {" rawfile://blank.fits[b1000,1000]", "the raw array \\[b1000,1000\\] needs 1000000 bytes"},
      {"file:blank_theap.fits[1]", "has THEAP = '16'.*blank_theap.fits"},
      {"file:blank_later.fits[1][1:8,1:8]", "HDU \\[2\\] has ZTILE2 = 0.*blank_later.fits"},
      {"file:blank.fits[b1000,1000]", "the raw array \\[b1000,1000\\] needs 1000000 bytes"},
  };
  for (const auto& c : cases)
    EXPECT_EXIT_STATUS(read_program_in_scratch(c.name), 255, c.message) << c.name;
  EXPECT_EXIT_STATUS(read_program(" shmem://h1"), 255, "a name beginning with shmem://");
  const image plain = read_program(scratch("blank.fits[1]"));
  EXPECT_EQ(plain.pixels.size(), static_cast<std::size_t>(kWidth * kHeight));
  for (const std::string& name : {" " + scratch("blank.fits[1]"), "file:" + scratch("blank.fits[1]"),
                                 "file:" + scratch("blank.fits[1][1:64,1:48]")})
    EXPECT_EQ(read_program(name).pixels, plain.pixels) << name;
}

// A section whose item past the second axis is a number asks for a plane
// of a cube, which is no 2D image, or for an axis the image lacks: each is
// refused saying which, with the image's axes, before the library cuts it.
// A text that is no section stays a row filter.
TEST(FitsNameGate, PlanesAndItemsPastTheAxesAreRefusedAsWhatTheyAsk) {
  fits_test::Hdu empty, plain, cube, four;
  plain.naxes = {kWidth, kHeight};
  plain.stored = counts();
  cube.naxes = {kWidth, kHeight, 3};
  cube.stored.assign(kWidth * kHeight * 3, 1.0);
  four.naxes = {8, 6, 2, 2};
  four.stored.assign(8 * 6 * 2 * 2, 1.0);
  fits_test::write_hdus(scratch("planes.fits"), {plain, cube, four});
  fits_test::write_hdus(scratch("planes_mef.fits"), {empty, plain});
  fits_test::write_bytes(scratch("planes.raw"), std::string(kWidth * kHeight * 3, '\1'));
  const std::string plane = ", and only 2D images are read: cut the plane into a file of its own with another tool and "
                            "name that file";
  const struct {
    std::string name, message;
  } cases[] = {
      {"planes.fits[1][*,*,1]",
       "the name asks for plane 1 of HDU \\[1\\], a 3-axis image \\(NAXIS = 3: 64 x 48 x 3\\)" + plane},
      {"planes.fits[1][40:11,5:44,3]", "asks for plane 3 of HDU \\[1\\], a 3-axis image"},
      {"planes.fits[2][*,*,2, 1]", "asks for plane 2,1 of HDU \\[2\\], a 4-axis image \\(NAXIS = 4: 8 x 6 x 2 x 2\\)"},
      {"planes.fits[2][*,*,1:1,2]", "asks for plane 1:1,2 of HDU \\[2\\]"},
      {"planes.fits[40:11,5:44,1]", "the section \\[40:11,5:44,1\\] gives 3 items, but HDU \\[0\\] has 2 axes "
                                    "\\(NAXIS = 2: 64 x 48\\): give one item per axis, as in \\[40:11,5:44\\] "},
      {"planes.fits[*,*,1,1]", "the section \\[\\*,\\*,1,1\\] gives 4 items, but HDU \\[0\\] has 2 axes"},
      {"planes.fits[1][*,*,1,1]", "gives 4 items, but HDU \\[1\\] has 3 axes \\(NAXIS = 3: 64 x 48 x 3\\): give "
                                  "one item per axis \\.\\.\\."},
      {"planes_mef.fits[*,*,1]", "gives 3 items, but HDU \\[1\\] has 2 axes"},  // the HDU the section cuts
      {"planes.raw[b64,48][*,*,1]",
       "gives 3 items, but the raw array \\[b64,48\\] has 2 axes \\(NAXIS = 2: 64 x 48\\)"},
      {"planes.raw[b64,48,3][*,*,2]", "asks for plane 2 of the raw array \\[b64,48,3\\], a 3-axis image"},
      {"planes.fits[1][*,*,a]", "asks the FITS library for a row filter"},
      {"planes.fits[1][*,1,1]", "asks the FITS library for a row filter"},
  };
  for (const auto& c : cases)
    EXPECT_EXIT_STATUS(read_program_in_scratch(c.name), 255, c.message) << c.name;
  // Items past the axes in a section's own form are left unread, as the
  // library leaves them.
  EXPECT_EQ(read_program(scratch("planes.fits[1:64,1:48,1:1]")).pixels, read_program(scratch("planes.fits")).pixels);
}

TEST(FitsNameGate, FiltersOnFilesWrittenInPlaceAreRefused) {
  hcompress_file("update.fits");
  fitsfile* fptr = nullptr;
  int status = 0;
  EXPECT_EXIT_STATUS(fits_open_input(&fptr, scratch("update.fits[1][1:8,1:8]"), READWRITE, &status), 255,
                     "the file is written in place, which a name with a section or a filter would leave as it was");
}

// The library takes the memory of a raw array at once: sized against the
// file first, in the forms the checks read.
TEST(FitsNameGate, RawArraysAreSizedAgainstTheirFile) {
  std::string bytes(3000, '\0');
  for (std::size_t k = 0; k < bytes.size(); k++) bytes[k] = static_cast<char>(k % 251);
  fits_test::write_bytes(scratch("raw.bin"), bytes);
  const image raw = read_program(scratch("raw.bin[b60,50]"));
  ASSERT_EQ(raw.nc, 60);
  ASSERT_EQ(raw.nl, 50);
  for (std::size_t k = 0; k < bytes.size(); k++) ASSERT_EQ(raw.pixels[k], static_cast<float>(k % 251)) << k;
  const image offset = read_program(scratch("raw.bin[b20,10:2800]"));
  EXPECT_EQ(offset.pixels[0], static_cast<float>(2800 % 251));
  const struct {
    const char* spec;
    const char* message;
  } cases[] = {
      {"[b60,51]", "needs 3060 bytes from byte 0, but the file holds 3000 bytes"},
      {"[b60,50:1]", "needs 3000 bytes from byte 1"},
      {"[i30,51]", "needs 3060 bytes from byte 0"},
      {"[d375,2]", "needs 6000 bytes"},
      {"[b99999999999,99999999]", "needs [0-9]+ bytes from byte 0"},
      {"[b60,,50]", "is in a form the checks do not read"},
      {"[b60,50:-5]", "is in a form the checks do not read"},
      {"[b1,1,1,1,60,50]", "is in a form the checks do not read"},
  };
  for (const auto& c : cases)
    EXPECT_EXIT_STATUS(read_program(scratch("raw.bin") + c.spec), 255,
                       std::string("the raw array \\[.*\\] ") + c.message + ".*raw.bin")
        << c.spec;  // The prefix without an array, and an update, which the library refuses
  // a raw array: neither reaches the library's open of the name.
  EXPECT_EXIT_STATUS(read_program("rawfile://" + scratch("raw.bin")), 255,
                     "the name reads a raw array but gives none: add its pixel type, axes and offset");
  fitsfile* fptr = nullptr;
  int status = 0;
  EXPECT_EQ(fits_open_input(&fptr, scratch("raw.bin[b60,50]"), READWRITE, &status), READONLY_FILE);
}

// A raw file tells nothing of its byte order: the type's letter names it,
// the machine's order standing for none.
TEST(FitsNameGate, ARawArraysByteOrderIsTheOneItsTypeNames) {
  constexpr int kColumns = 6, kLines = 4;
  std::string big, little;
  for (int k = 0; k < kColumns * kLines; k++) {
    const int value = 300 * k - 3000;  // both bytes matter, and the sign
    const auto high = static_cast<char>((value >> 8) & 0xff), low = static_cast<char>(value & 0xff);
    big += {high, low};
    little += {low, high};
  }
  fits_test::write_bytes(scratch("big.bin"), big);
  fits_test::write_bytes(scratch("little.bin"), little);
  const bool machine_is_little = [] {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
  }();
  for (const char* name : {"big.bin[ib6,4]", "little.bin[il6,4]", machine_is_little ? "little.bin[i6,4]" : "big.bin[i6,4]"}) {
    const image read = read_program(scratch(name));
    ASSERT_EQ(read.pixels.size(), static_cast<std::size_t>(kColumns * kLines)) << name;
    for (int k = 0; k < kColumns * kLines; k++) ASSERT_EQ(read.pixels[k], 300.0f * k - 3000.0f) << name << " " << k;
  }
}

// A raw array's file that does not open fails the open as a plain name's
// does, with the system's reason for that file, not for the whole name.
TEST(FitsNameGate, ARawArrayWhoseFileDoesNotOpenSaysWhy) {
  ASSERT_EQ(mkdir(scratch("folder.bin").c_str(), 0755), 0);
  const struct {
    std::string name;
    const char* reason;
  } cases[] = {
      {scratch("folder.bin[b4,4]"), "Is a directory"},
      {"rawfile://" + scratch("folder.bin[b4,4]"), "Is a directory"},
      {scratch("absent.bin[b4,4]"), "No such file or directory"},
  };
  for (const auto& c : cases) {
    fitsfile* fptr = nullptr;
    int status = 0;
    EXPECT_EQ(fits_open_input(&fptr, c.name, READONLY, &status), FILE_NOT_OPENED) << c.name;
    EXPECT_EQ(fits_open_failure(c.name.c_str(), c.name, status, nullptr), "(" + c.name + ": " + c.reason + ")");
  }
}

// A section after a raw array reads the block of the array it names, in
// either byte order: pixels computed here from the line and column each
// was written at, with a value no other pixel has, so that a section taken
// from the array's start, with lines for columns, or not taken at all,
// shows.
TEST(FitsNameGate, ASectionOfARawArrayReadsItsBlock) {
  constexpr int kSide = 64;
  auto value = [](int line, int column) { return 1000.f + 100.f * line + column + 0.25f; };
  for (bool big_endian : {true, false}) {
    std::string bytes;
    for (int line = 0; line < kSide; line++)
      for (int column = 0; column < kSide; column++) {
        const float v = value(line, column);
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        for (int b = 0; b < 4; b++) bytes.push_back(static_cast<char>(bits >> (big_endian ? 24 - 8 * b : 8 * b)));
      }
    fits_test::write_bytes(scratch("arr.fits"), bytes);
    const std::string array = big_endian ? "arr.fits[fb64,64]" : "arr.fits[fl64,64]";
    const struct {
      const char* section;
      int nl, nc, first_line, first_column, line_step, column_step;
    } cases[] = {
        {"[1:16,1:16]", 16, 16, 0, 0, 1, 1},
        {"[9:24,5:12]", 8, 16, 4, 8, 1, 1},
        {"[64:61,*]", 64, 4, 0, 63, 1, -1},
        {"[*,1:64:8]", 8, 64, 0, 0, 8, 1},
        {"[64:2:3,*]", 64, 21, 0, 63, 1, -3},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(array + c.section);
      const image block = read_program(scratch(array) + c.section);
      ASSERT_EQ(block.nl, c.nl);
      ASSERT_EQ(block.nc, c.nc);
      for (int l = 0; l < c.nl; l++)
        for (int k = 0; k < c.nc; k++)
          ASSERT_EQ(block.at(l, k), value(c.first_line + l * c.line_step, c.first_column + k * c.column_step))
              << l << " " << k;
    }
  }
}

// A first axis reversed in steps is handed with the last pixel its steps
// reach, which a tile-compressed image begins at; every other item, and
// the blanks around it, as written.
TEST(FitsNameGate, AFirstAxisReversedInStepsIsHandedWithItsLastPixelReached) {
  const struct {
    const char* section;
    long long length;
    const char* handed;
  } cases[] = {
      {"40:11:3,*", 64, "40:13:3,*"},
      {"40:12:3,44:5:2", 64, "40:13:3,44:5:2"},
      {" 40:11:3 ,5:30", 64, "40:13:3,5:30"},
      {"-*:5,*", 64, "64:4:5,*"},
      {"-*:4", 64, "64:4:4"},
      {"40:38:3,*", 64, "40:40,*"},
      {"-*:5,*", 3, "3:3,*"},
      // Forms the library cuts alike stay as they are.
      {"40:13:3,*", 64, "40:13:3,*"},
      {"-*:5,*", 61, "-*:5,*"},
      {"40:11,*", 64, "40:11,*"},
      {"11:40:3,*", 64, "11:40:3,*"},
      {"*:2,*", 64, "*:2,*"},
      {"*,40:11:3", 64, "*,40:11:3"},
      {"40:11:0,*", 64, "40:11:0,*"},
      // "-*" on an axis of unknown length, and no section.
      {"-*:5,*", 0, "-*:5,*"},
      {"#row > 2", 64, "#row > 2"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(fits_section_cut_alike(c.section, c.length), c.handed) << c.section << " of " << c.length;
}
