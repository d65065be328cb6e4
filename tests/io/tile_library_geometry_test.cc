// The tiles of the HDU read are walked where the FITS library finds them
// after its open, and the cards that place them are read as the library
// reads them: files whose heap, column formats or column scaling the
// library reads otherwise than they seem to say are refused with a message
// naming the card, never by a signal, or read as the library reads them.
#include "io/tile_compression_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "io/fits_io.h"
#include "tile_table_layouts.h"
#include "support/death.h"
#include "support/qz_mca_program.h"

using fits_test::read_program;
using fits_test::scratch;
using fits_test::value_card;

namespace {

constexpr long kWidth = 64, kHeight = 48;

std::vector<double> counts() {
  std::vector<double> values(kWidth * kHeight);
  for (long k = 0; k < kWidth * kHeight; k++) values[k] = 100 + static_cast<double>(k * 37 % 200);
  return values;
}

std::string compressed(const std::string& name, int bitpix, const std::vector<double>& values,
                       const fits_test::Compression& how) {
  fits_test::write_compressed(scratch(name), bitpix, {kWidth, kHeight}, values, how);
  return fits_test::read_bytes(scratch(name));
}

// The first extension with its card `key` set to `text` as written (or
// added), and `cards` added after the others.
std::string with(const std::string& bytes, const std::vector<std::pair<std::string, std::string>>& set,
                 const std::vector<std::string>& cards = {}) {
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(bytes);
  for (const auto& [key, text] : set) hdu.set(key, text);
  for (const std::string& card : cards) hdu.cards.push_back(fits_test::card(card));
  return tile_layouts::put_together(hdu);
}

// An image of one HCOMPRESS tile whose heap has 8 bytes put before its
// stream, the descriptor left as it was: read from the rows' end, as the
// library reads a heap that no THEAP moves, the decoder meets those bytes
// first, which declare an image of 4096 x 56729 pixels; 8 bytes later, the
// stream the library wrote. `theap` is the THEAP card, or none.
std::string shifted_heap(const std::string& bytes, const std::string& theap) {
  tile_layouts::table_hdu hdu = tile_layouts::take_apart(bytes);
  hdu.heap = std::string("\xDD\x99\x00\x00\x10\x00\x00\x00", 8) + hdu.heap;
  if (!theap.empty()) hdu.cards.push_back(fits_test::card(theap));
  return tile_layouts::put_together(hdu);
}

}  // namespace

// Each file is the library's own but for a card or a few bytes; the
// library would write past its decoder's buffer on most of them.
TEST(TileLibraryGeometry, HeapsAndColumnsTheLibraryReadsOtherwiseAreRefused) {
  const std::vector<double> ints = counts();
  std::vector<double> ramp(kWidth * kHeight);
  for (long k = 0; k < kWidth * kHeight; k++) ramp[k] = 1000 + 0.25 * static_cast<double>(k % kWidth) + k / kWidth;
  const std::string one_tile = compressed("one_tile.fits", SHORT_IMG, ints, {HCOMPRESS_1, 4, 1, {kWidth, kHeight}});
  const std::string hcomp = compressed("hcomp.fits", SHORT_IMG, ints, {HCOMPRESS_1, 4, 1, {16, 8}});
  const std::string rice = compressed("rice.fits", SHORT_IMG, ints, {});
  const std::string ramp_rice = compressed("ramp.fits", FLOAT_IMG, ramp, {});
  const std::string kept = compressed("kept.fits", SHORT_IMG, ints, {NOCOMPRESS});
  ASSERT_EQ(tile_layouts::take_apart(one_tile).integer("NAXIS1"), 8);
  ASSERT_EQ(tile_layouts::take_apart(ramp_rice).value("TTYPE4"), "GZIP_COMPRESSED_DATA");
  ASSERT_EQ(tile_layouts::take_apart(kept).value("TTYPE2"), "UNCOMPRESSED_DATA");
  // ZVAL2=2 in place of the card the library wrote.
  tile_layouts::table_hdu valueless = tile_layouts::take_apart(rice);
  valueless.cards[valueless.find("ZVAL2")] = fits_test::card("ZVAL2=2");
  const char* const kScaled = "tiles in COMPRESSED_DATA that stand under their column's own scaling";
  const char* const kScales = "the FITS library would scale every value it hands the decoder, which no writer scales";
  const struct {
    const char* name;
    std::string bytes;
    std::string message;
  } cases[] = {
      // The library takes no offset from a THEAP in quotes or with a
      // fraction, and none from a card whose value its parser does not
      // find: it would read the 8 bytes first.
      {"theap_quoted.fits", shifted_heap(one_tile, "THEAP   = '16'"),
       "has THEAP = '16': the FITS library reads no integer in it, and would look for the heap right after the rows"},
      {"theap_real.fits", shifted_heap(one_tile, "THEAP   = 16.5"),
       "has THEAP = 16.5: the FITS library reads no integer"},
      {"theap_valueless.fits", shifted_heap(one_tile, "THEAP=16"),
       "has THEAP=16: the FITS library reads no value in it"},
      // Scaled by the library, every byte handed to the decoder differs
      // from the file's: 0x00 becomes 0x01.
      {"scaled.fits", with(hcomp, {}, {"TSCAL1  = 0.997", "TZERO1  = 1.0"}),
       std::string("has ") + kScaled + " \\(TSCAL1 = 0.997, TZERO1 = 1\\): " + kScales + "; remove TSCAL1 and TZERO1"},
      {"scaled_number.fits", with(hcomp, {}, {"TSCAL01 = 0.997"}),
       std::string("has ") + kScaled + " \\(TSCAL1 = 0.997, TZERO1 = 0\\)"},
      {"scaled_hidden.fits", with(hcomp, {}, {"TZERO1 X= 2"}),
       std::string("has ") + kScaled + " \\(TSCAL1 = 1, TZERO1 = 2\\)"},
      // A TSCAL1 of no value for the library's parser is a scale of 0.
      {"scaled_valueless.fits", with(rice, {}, {"TSCAL1=2"}),
       std::string("has ") + kScaled + " \\(TSCAL1 = 0, TZERO1 = 0\\)"},
      {"scaled_gzip.fits", with(ramp_rice, {}, {"TZERO4  = 3"}),
       "has tiles in GZIP_COMPRESSED_DATA that stand under their column's own scaling \\(TSCAL4 = 1, TZERO4 = 3\\)"},
      {"scaled_kept.fits", with(kept, {}, {"TSCAL2  = 2"}),
       "has tiles in UNCOMPRESSED_DATA that stand under their column's own scaling \\(TSCAL2 = 2, TZERO2 = 0\\)"},
      // The library's parser finds no value in a card less its trailing
      // blanks that puts its '=' early: its decoder would read Rice's
      // pixels 4 bytes wide.
      {"bytepix_valueless.fits", tile_layouts::put_together(valueless),
       "has ZVAL2=2: the FITS library reads no value in it"},
      {"tform_lower.fits", with(rice, {{"TFORM1", "'1pb'"}}), "has TFORM1 = '1pb': no column format"},
      {"tform_blank.fits", with(rice, {{"TFORM1", "' 1PB'"}}), "has TFORM1 = ' 1PB': no column format"},
  };
  for (const auto& c : cases) {
    fits_test::write_bytes(scratch(c.name), c.bytes);
    EXPECT_EXIT_STATUS(read_program(scratch(std::string(c.name) + "[1]")), 255,
                       "the tile-compressed image in HDU \\[1\\] " + c.message + ".*" + c.name)
        << c.name;
  }
  // A table's structure is read by the library's strict conversion: a
  // row count in quotes sizes no HDU, and the walk to it refuses it first.
  fits_test::write_bytes(scratch("naxis2_quoted.fits"), with(rice, {{"NAXIS2", "'48'"}}));
  EXPECT_EXIT_STATUS(read_program(scratch("naxis2_quoted.fits[1]")), 255,
                     "the header of HDU \\[1\\] gives NAXIS2 *= *'48' where the FITS library reads NAXIS2 as an "
                     "integer written as one: the HDU cannot be sized.*naxis2_quoted.fits");
}

// The same cards in forms the library reads as the file means them, or
// does not read at all, read as the library reads the file.
TEST(TileLibraryGeometry, FormsTheLibraryReadsAlikeRead) {
  const std::vector<double> ints = counts();
  const std::string one_tile = compressed("one_tile.fits", SHORT_IMG, ints, {HCOMPRESS_1, 4, 1, {kWidth, kHeight}});
  const std::string rice = compressed("rice.fits", SHORT_IMG, ints, {});
  std::vector<double> sky(kWidth * kHeight);
  for (long k = 0; k < kWidth * kHeight; k++) sky[k] = 1000 + static_cast<double>(k * 7919 % 997) / 100.0;
  const std::string f_rice = compressed("f_rice.fits", FLOAT_IMG, sky, {});
  ASSERT_EQ(tile_layouts::take_apart(f_rice).value("TTYPE2"), "ZSCALE");
  const struct {
    const char* name;
    std::string bytes;
    const char* plain;
  } cases[] = {
      // THEAP written as an integer: the heap starts 8 bytes later, where
      // the stream is.
      {"theap.fits", shifted_heap(one_tile, "THEAP   = 16"), "one_tile.fits"},
      // A lower-case keyword or a value in quotes: no scaling for the
      // library.
      {"tscal_lower.fits", with(rice, {}, {"tscal1  = 0.997"}), "rice.fits"},
      {"tscal_quoted.fits", with(rice, {}, {"TSCAL1  = '0.997'"}), "rice.fits"},
      {"tscal_one.fits", with(rice, {}, {"TSCAL1  = 1.0", "TZERO1  = 0"}), "rice.fits"},
      // The type's letters in lower case, blanks before a fixed format.
      {"tform_element.fits", with(rice, {{"TFORM1", "'1Pb'"}}), "rice.fits"},
      {"tform_fixed.fits", with(f_rice, {{"TFORM2", "' 1d'"}, {"TFORM3", "'1D junk'"}}), "f_rice.fits"},
  };
  for (const auto& c : cases) {
    fits_test::write_bytes(scratch(c.name), c.bytes);
    const std::vector<double> library = fits_test::read_reference(scratch(std::string(c.plain) + "[1]")).values;
    ASSERT_EQ(library.size(), ints.size()) << c.name;
    EXPECT_EQ(fits_test::read_reference(scratch(std::string(c.name) + "[1]")).values, library) << c.name;
    EXPECT_EQ(read_program(scratch(std::string(c.name) + "[1]")), std::vector<float>(library.begin(), library.end()))
        << c.name;
  }
}

// Only the decoder reads a data column's scaling: an HDU passed on the way
// to the one read may have one.
TEST(TileLibraryGeometry, AScalingInAnHduPassedIsNoMatter) {
  const std::string rice = compressed("rice.fits", SHORT_IMG, counts(), {});
  fits_test::write_bytes(scratch("passed.fits"),
                         with(rice, {}, {"TSCAL1  = 0.997", "TZERO1  = 1.0"}) + rice.substr(2880));
  const std::vector<double> library = fits_test::read_reference(scratch("rice.fits[1]")).values;
  EXPECT_EQ(read_program(scratch("passed.fits[2]")), std::vector<float>(library.begin(), library.end()));
  EXPECT_EXIT_STATUS(read_program(scratch("passed.fits[1]")), 255, "stand under their column's own scaling");
}

using QzMcaGeometry = QzMcaProgram;

// A format whose second character is no P: the library sizes the column as
// a P column but reads its descriptors 8 bytes wide. The checks read them
// as P's; the comparison after the open refuses the file, naming the card,
// before a tile is decoded, and no result is written.
TEST_F(QzMcaGeometry, AReadingTheLibraryTookOtherwiseIsRefusedAfterItsOpen) {
  fits_test::write_compressed(path("rice.fits"), SHORT_IMG, {kWidth, kHeight}, counts(), {});
  fits_test::write_bytes(path("padded.fits"), with(fits_test::read_bytes(path("rice.fits")), {{"TFORM1", "'01PB'"}}));
  EXPECT_EQ(run("-t 1 -i 1 'padded.fits[1]' o"), 255);
  EXPECT_TRUE(
      printed("Error: the tile-compressed image in HDU [1] has TFORM1 (the COMPRESSED_DATA column's descriptor "
              "bytes) 8 as the FITS library took it, 4 as its tiles were checked: the library read its cards "
              "otherwise than the checks; mend the cards named, or remove their copies ... (padded.fits)\n"))
      << output_;
  EXPECT_FALSE(exists("o_resi.fits"));
}
