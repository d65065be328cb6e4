// A section of a tile-compressed image holds the pixels and the coordinate
// cards of the same section of the plain image, and a section written with
// blanks those of the section written without them: the library begins a
// first axis reversed in steps elsewhere on the one than on the other
// ("40:11:3" read columns 38, 35, ... of a compressed image), while the
// cards it writes say where the name begins. The compressed images are
// astropy's (tests/io/data/astropy/make_files.py), and one with square
// tiles CFITSIO's own compressor writes from the plain one; their pixels
// follow the generator's closed form, which is computed here on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fits_card_tools.h"
#include "fits_test_files.h"
#include "io/fits_glue.h"
#include "io/fits_io.h"
#include "support/death.h"

using fits_test::scratch;

namespace {

const std::string kAstropy = std::string(QZ_SOURCE_DIR) + "/tests/io/data/astropy/";
constexpr long kColumns = 56, kLines = 40;

// The generator's pixel at the 1-based input pixel (x, y).
double input_pixel(long long x, long long y) { return static_cast<double>(((x - 1) * 1237 + (y - 1) * 977) % 65536); }

// Coordinate cards given to both twins: a PC matrix beside CDELT, an
// alternate description by a CD matrix; with `physical`, IRAF's physical
// pixels and a DSS plate's place too (which a "-*" in steps is refused on).
std::vector<std::pair<const char*, double>> coordinate_cards(bool physical) {
  std::vector<std::pair<const char*, double>> cards = {
      {"CRVAL1", 150.0},   {"CRVAL2", 2.0},    {"CRPIX1", 20.5},   {"CRPIX2", 13.0},    {"CDELT1", -2e-4},
      {"CDELT2", 3e-4},    {"PC1_2", 0.3},     {"PC2_1", -0.2},    {"CRPIX1A", 5.0},    {"CRPIX2A", 7.0},
      {"CD1_1A", -1.5e-4}, {"CD1_2A", 2e-5},   {"CD2_1A", 3e-5},   {"CD2_2A", 1.25e-4},
  };
  if (physical)
    cards.insert(cards.end(), {{"LTV1", -100.0},
                               {"LTV2", -37.5},
                               {"LTM1_1", 0.5},
                               {"LTM2_2", 0.5},
                               {"PLTRAH", 0.0},
                               {"CNPIX1", 9235.0},
                               {"CNPIX2", 7040.0},
                               {"XPIXELSZ", 25.28445},
                               {"YPIXELSZ", 25.28445}});
  return cards;
}

// The cards compared between the twins, each as a number.
const char* const kCompared[] = {"NAXIS1", "NAXIS2", "CRPIX1",  "CRPIX2",  "CDELT1",   "CDELT2",  "PC1_1",
                                 "PC1_2",  "PC2_1",  "PC2_2",   "CRPIX1A", "CRPIX2A",  "CD1_1A",  "CD1_2A",
                                 "CD2_1A", "CD2_2A", "LTV1",    "LTV2",    "LTM1_1",   "LTM1_2",  "LTM2_1",
                                 "LTM2_2", "CNPIX1", "CNPIX2",  "XPIXELSZ", "YPIXELSZ"};

// A copy of an astropy file, its image in HDU [1] given the cards.
std::string with_cards(const std::string& file, const std::string& copy, bool physical) {
  fits_test::write_bytes(scratch(copy), fits_test::read_bytes(kAstropy + file));
  fitsfile* f = nullptr;
  int status = 0;
  ffopen(&f, (scratch(copy) + "[1]").c_str(), READWRITE, &status);
  ffpky(f, TSTRING, "CTYPE1", const_cast<char*>("RA---TAN"), nullptr, &status);
  ffpky(f, TSTRING, "CTYPE2", const_cast<char*>("DEC--TAN"), nullptr, &status);
  for (auto [key, value] : coordinate_cards(physical)) ffpky(f, TDOUBLE, key, &value, nullptr, &status);
  ffclos(f, &status);
  EXPECT_EQ(status, 0) << copy;
  return copy;
}

// The plain twin compressed by CFITSIO in tiles of 16 x 8 pixels.
std::string square_tiles(const std::string& plain, const std::string& copy) {
  std::remove(scratch(copy).c_str());
  fitsfile *in = nullptr, *out = nullptr;
  int status = 0;
  long tile[2] = {16, 8};
  ffopen(&in, (scratch(plain) + "[1]").c_str(), READONLY, &status);
  ffinit(&out, scratch(copy).c_str(), &status);
  fits_set_compression_type(out, RICE_1, &status);
  fits_set_tile_dim(out, 2, tile, &status);
  fits_img_compress(in, out, &status);
  ffclos(in, &status);
  ffclos(out, &status);
  EXPECT_EQ(status, 0) << copy;
  return copy;
}

struct Read {
  std::vector<float> pixels;
  std::map<std::string, double> cards;
};

// What our array reader reads from a name (an image one pixel wide too):
// its pixels and the compared cards.
Read read_section(const std::string& name) {
  to_array<float, true> image;
  fitsstruct header;
  fits_read_fltarr(name.c_str(), image, &header);
  Read read{std::vector<float>(image.buffer(), image.buffer() + image.n_elem()), {}};
  for (const char* key : kCompared) {
    std::string padded = key;
    padded.resize(8, ' ');
    const std::string card = fits_test::card_of(header, padded.c_str());
    if (!card.empty()) read.cards[key] = fits_test::number_of(card);
  }
  return read;
}

// Result pixel p of an axis is input pixel first + step (p - 1), count of them.
struct Axis {
  long long first, step, count;
};

// The pixels are those the axes cut from the input, by the closed form.
void expect_cut(const std::vector<float>& pixels, const Axis& axis1, const Axis& axis2, const std::string& label) {
  ASSERT_EQ(pixels.size(), static_cast<std::size_t>(axis1.count * axis2.count)) << label;
  for (long long q = 1; q <= axis2.count; q++)
    for (long long p = 1; p <= axis1.count; p++) {
      const long long x = axis1.first + axis1.step * (p - 1), y = axis2.first + axis2.step * (q - 1);
      ASSERT_EQ(pixels[static_cast<std::size_t>((q - 1) * axis1.count + p - 1)], input_pixel(x, y))
          << label << " pixel " << p << "," << q;
    }
}

struct Section {
  const char* text;
  Axis axis1, axis2;
  bool physical;  // read with IRAF's and the plate's cards too
};

const Section kSections[] = {
    // The first axis reversed in steps, where the library's cuts parted.
    {"40:11:3,*", {40, -3, 10}, {1, 1, kLines}, true},
    {"40:12:3,*", {40, -3, 10}, {1, 1, kLines}, true},
    {"40:13:3,*", {40, -3, 10}, {1, 1, kLines}, true},
    {"-*:4,*", {kColumns, -4, 14}, {1, 1, kLines}, false},
    {"-*:5,*", {kColumns, -5, 12}, {1, 1, kLines}, false},
    {"40:11:3,35:4:2", {40, -3, 10}, {35, -2, 16}, true},
    {"-*:4,-*:3", {kColumns, -4, 14}, {kLines, -3, 14}, false},
    {" 40:11:3, 5:30 ", {40, -3, 10}, {5, 1, 26}, true},
    // One pixel of the first axis, which its steps pass.
    {"40:38:3,*", {40, -3, 1}, {1, 1, kLines}, true},
    {"40:39:3,1:30", {40, -3, 1}, {1, 1, 30}, true},
    // Every other form, which the library cuts alike.
    {"*,35:4:3", {1, 1, kColumns}, {35, -3, 11}, true},
    {"*,-*:3", {1, 1, kColumns}, {kLines, -3, 14}, false},
    {"-*,*", {kColumns, -1, kColumns}, {1, 1, kLines}, true},
    {"40:11,5:30", {40, -1, 30}, {5, 1, 26}, true},
    {"1:40:3,*", {1, 3, 14}, {1, 1, kLines}, true},
    {"11:40:3,2:39:5", {11, 3, 10}, {2, 5, 8}, true},
    {"*:2,*:3", {1, 2, 28}, {1, 3, 14}, true},
};

}  // namespace

TEST(TileCompressedSection, HoldsThePixelsAndCardsOfThePlainImagesSection) {
  for (const bool physical : {false, true}) {
    const std::string tag = physical ? "_physical" : "";
    const std::string plain = with_cards("plain_u16.fits", "plain" + tag + ".fits", physical);
    const std::vector<std::string> twins = {
        with_cards("u16_rice_1.fits", "rice" + tag + ".fits", physical),
        with_cards("u16_gzip_1.fits", "gzip1" + tag + ".fits", physical),
        with_cards("u16_gzip_2.fits", "gzip2" + tag + ".fits", physical),
        with_cards("u16_hcompress_1.fits", "hcompress" + tag + ".fits", physical),
        square_tiles(plain, "square_rice" + tag + ".fits"),
    };
    const std::map<std::string, double> in = read_section(scratch(plain) + "[1]").cards;
    ASSERT_EQ(in.at("CRPIX1"), 20.5);
    for (const Section& section : kSections) {
      if (section.physical != physical) continue;
      const Read want = read_section(scratch(plain) + "[1][" + section.text + "]");
      // The plain image's section, from the closed form and the cards.
      expect_cut(want.pixels, section.axis1, section.axis2, section.text);
      // A one-pixel axis is a section without a step to the cards.
      const double step1 = section.axis1.count == 1 ? 1 : static_cast<double>(section.axis1.step);
      EXPECT_DOUBLE_EQ(want.cards.at("CRPIX1"), (20.5 - static_cast<double>(section.axis1.first)) / step1 + 1)
          << section.text;
      if (physical) {
        EXPECT_DOUBLE_EQ(want.cards.at("LTV1"), (-100.0 - static_cast<double>(section.axis1.first)) / step1 + 1)
            << section.text;
        // Result pixel 1 lies on the plate where its input pixel does.
        EXPECT_NEAR((want.cards.at("CNPIX1") + 0.5) * want.cards.at("XPIXELSZ"),
                    (9235.0 + static_cast<double>(section.axis1.first) - 0.5) * 25.28445, 1e-6)
            << section.text;
      }
      for (const std::string& twin : twins) {
        const std::string name = scratch(twin) + "[1][" + section.text + "]";
        const Read got = read_section(name);
        EXPECT_EQ(got.pixels, want.pixels) << name;
        EXPECT_EQ(got.cards, want.cards) << name;
      }
    }
  }
}

namespace {

// A section written with blanks, the same section without them, and the
// pixels it cuts.
struct BlankSection {
  const char* text;
  const char* without;
  Axis axis1, axis2;
  bool physical;
};

// A blank in every place of an item: before and after a comma, a colon or
// the brackets, on either axis, beside "*", "-*" and steps. The library
// itself left the axis after a blank before a comma whole, and dropped a
// step after a blank before its colon.
const BlankSection kBlankSections[] = {
    {" 40:11,5:30", "40:11,5:30", {40, -1, 30}, {5, 1, 26}, true},
    {"40:11,5:30 ", "40:11,5:30", {40, -1, 30}, {5, 1, 26}, true},
    {"40:11 ,5:30", "40:11,5:30", {40, -1, 30}, {5, 1, 26}, true},
    {"40:11, 5:30", "40:11,5:30", {40, -1, 30}, {5, 1, 26}, true},
    {"40:11  ,  5:30", "40:11,5:30", {40, -1, 30}, {5, 1, 26}, true},
    {"40 :11,5:30", "40:11,5:30", {40, -1, 30}, {5, 1, 26}, true},
    {"40: 11,5:30", "40:11,5:30", {40, -1, 30}, {5, 1, 26}, true},
    {"40:11,5 :30", "40:11,5:30", {40, -1, 30}, {5, 1, 26}, true},
    {"40:11,5: 30", "40:11,5:30", {40, -1, 30}, {5, 1, 26}, true},
    {"11:40 :3,5:30", "11:40:3,5:30", {11, 3, 10}, {5, 1, 26}, true},
    {"11:40: 3 ,5:30", "11:40:3,5:30", {11, 3, 10}, {5, 1, 26}, true},
    {"40:11 :3,5:30", "40:11:3,5:30", {40, -3, 10}, {5, 1, 26}, true},
    {" 40 : 11 : 3 , 35 : 4 : 2 ", "40:11:3,35:4:2", {40, -3, 10}, {35, -2, 16}, true},
    {"*,35:4 :2", "*,35:4:2", {1, 1, kColumns}, {35, -2, 16}, true},
    {"*,35:4:2 ", "*,35:4:2", {1, 1, kColumns}, {35, -2, 16}, true},
    {"* ,5:30", "*,5:30", {1, 1, kColumns}, {5, 1, 26}, true},
    {" *, 5:30", "*,5:30", {1, 1, kColumns}, {5, 1, 26}, true},
    {"-* ,5:30", "-*,5:30", {kColumns, -1, kColumns}, {5, 1, 26}, true},
    {"*:2 ,*:3", "*:2,*:3", {1, 2, 28}, {1, 3, 14}, true},
    {"* :2,* : 3", "*:2,*:3", {1, 2, 28}, {1, 3, 14}, true},
    {"40:11,-* ", "40:11,-*", {40, -1, 30}, {kLines, -1, kLines}, true},
    {"-* :4,5:30", "-*:4,5:30", {kColumns, -4, 14}, {5, 1, 26}, false},
    {"-*: 5 , -*:3", "-*:5,-*:3", {kColumns, -5, 12}, {kLines, -3, 14}, false},
};

}  // namespace

TEST(TileCompressedSection, ReadsASectionWithBlanksAsTheSectionWithout) {
  for (const bool physical : {false, true}) {
    const std::string tag = physical ? "_physical" : "";
    const std::string plain = with_cards("plain_u16.fits", "blank_plain" + tag + ".fits", physical);
    const std::string twin = square_tiles(plain, "blank_square_rice" + tag + ".fits");
    for (const BlankSection& section : kBlankSections) {
      if (section.physical != physical) continue;
      const Read want = read_section(scratch(plain) + "[1][" + section.without + "]");
      expect_cut(want.pixels, section.axis1, section.axis2, section.without);
      EXPECT_DOUBLE_EQ(want.cards.at("CRPIX2"), (13.0 - static_cast<double>(section.axis2.first)) /
                                                    static_cast<double>(section.axis2.step) + 1)
          << section.without;
      if (physical) {
        EXPECT_DOUBLE_EQ(want.cards.at("LTV2"), (-37.5 - static_cast<double>(section.axis2.first)) /
                                                    static_cast<double>(section.axis2.step) + 1)
            << section.without;
      }
      for (const std::string& file : {plain, twin}) {
        const std::string name = scratch(file) + "[1][" + section.text + "]";
        const Read got = read_section(name);
        EXPECT_EQ(got.pixels, want.pixels) << name;
        EXPECT_EQ(got.cards, want.cards) << name;
      }
    }
  }
}

// A blank inside a number or "-*" might part one item into two, and blanks
// the library's parser reads the name otherwise for leave it no section: each
// is refused, saying how to write the section, before anything is read.
TEST(TileCompressedSection, RefusesASectionWhoseBlanksLeaveItUnsure) {
  const std::string plain = with_cards("plain_u16.fits", "unsure_plain.fits", false);
  const std::string twin = square_tiles(plain, "unsure_square_rice.fits");
  const struct {
    const char* after_file;
    const char* message;
  } cases[] = {
      {"[1][4 0:11,5:30]", "blank inside \"4 0\".*as \\[40:11,5:30\\]"},
      {"[1][40:11,5:3 0]", "blank inside \"3 0\".*as \\[40:11,5:30\\]"},
      {"[1][40:11:1 0,5:30]", "blank inside \"1 0\".*as \\[40:11:10,5:30\\]"},
      {"[1][40:11,- *]", "blank inside \"- \\*\".*as \\[40:11,-\\*\\]"},
      // The first bracket, which the library's parser takes for an HDU's name.
      {"[40 :11,5:30]", "takes \\[40 :11,5:30\\] for the name of an HDU.*without blanks: \\[40:11,5:30\\]"},
      {"[4 0:11,5:30]", "blank inside \"4 0\""},
      {"[1] [40:11,5:30]", "blanks between its brackets: write it .*\\[1\\]\\[40:11,5:30\\]"},
  };
  // The message ends naming what was typed.
  auto literally = [](const std::string& text) {
    std::string pattern;
    for (char c : text)
      pattern += (std::string("[]().*+?^$|{}\\").find(c) != std::string::npos ? "\\" : "") + std::string(1, c);
    return pattern;
  };
  for (const std::string& file : {plain, twin})
    for (const auto& c : cases) {
      const std::string name = scratch(file) + c.after_file;
      EXPECT_EXIT_STATUS(read_section(name), 255,
                         std::string("Error: .*") + c.message + ".* \\.\\.\\. \\(" + literally(name) + "\\)")
          << name;
    }
}
