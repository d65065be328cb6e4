// Formats from file names and words, stems, standard-stream names.
#include "io/image_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(FormatDetection, FirstPatternInOrderDecides) {
  struct Case {
    const char* name;
    type_format expected;
  };
  const Case cases[] = {
      {"IMG.GIF", F_GIF},           {"x.FITS", F_FITS},      {"/data.d/img.fits", F_DISP},
      {"pgmfile.fits", F_PGM},      {"a.jpg.fits", F_FITS},  {"x.bdf", F_MIDAS},
      {"photo.jpg", F_JPEG},        {"coef.rid", F_FITS},    {"noise.mr", F_FITS},
      {"image", F_UNKNOWN},         {"a.dir/x.fits", F_DISP}, {"img.fts", F_FITS},
      {"m51_f_512_512.d", F_DISP},  {"y.pgm", F_PGM},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(io_which_format(c.name), c.expected) << c.name;
    EXPECT_EQ(Format_Imag, c.expected) << c.name;
  }
}

TEST(FormatDetection, DetectFallsBackToFits) {
  EXPECT_EQ(io_detect_format("image"), F_FITS);
  EXPECT_EQ(which_format(), F_FITS);
  EXPECT_EQ(io_detect_format("IMG.GIF"), F_GIF);
}

TEST(FormatDetection, FormatWords) {
  const std::pair<const char*, type_format> cases[] = {
      {"DISP", F_DISP}, {"midas", F_MIDAS}, {"Gif", F_GIF}, {"pgm", F_PGM},
      {"fits", F_FITS}, {"jpg", F_JPEG},    {"tiff", F_UNKNOWN}};
  for (const auto& c : cases) {
    io_set_format(F_GIF);
    io_set_format(c.first);
    EXPECT_EQ(Format_Imag, c.second) << c.first;
  }
  io_set_format(F_PGM);
  EXPECT_EQ(which_format(), F_PGM);
}

TEST(FileStem, CutAtLastDotOrFirstUnderscoreInDisp) {
  char stem[64];
  io_set_format(F_FITS);
  io_strcpy_prefix(stem, "dir.old/img.fits");
  EXPECT_STREQ(stem, "dir.old/img");
  io_strcpy_prefix(stem, "img");
  EXPECT_STREQ(stem, "img");
  io_strcpy_prefix(stem, "a_b.fits");
  EXPECT_STREQ(stem, "a_b");
  io_set_format(F_DISP);
  io_strcpy_prefix(stem, "m51_f_512_512.d");
  EXPECT_STREQ(stem, "m51");
  io_strcpy_prefix(stem, "noscore.d");  // no '_': the whole name
  EXPECT_STREQ(stem, "noscore.d");
  io_set_format(F_UNKNOWN);
}

TEST(FileStem, LongNamesAreNotCut) {
  std::string name(5000, 'a');
  name += ".fits";
  std::vector<char> stem(name.size() + 1);
  io_set_format(F_FITS);
  io_strcpy_prefix(stem.data(), name.c_str());
  EXPECT_EQ(std::string(stem.data()), std::string(5000, 'a'));
}

TEST(StandardStreams, DashNamesOnly) {
  io_set_format(F_FITS);
  for (const char* name : {"-", "-b", "-.fits", "-b.gif"}) EXPECT_EQ(std_inout(name), 1) << name;
  for (const char* name : {"-x", "b-", "a-.fits", "--"}) EXPECT_EQ(std_inout(name), 0) << name;
}
