// Formats from file names and words, stems, standard-stream names.
#include "io/image_names.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "io/fits_io.h"

// Only the file's own name counts: folders such as "j.doe" or "a.gif.d"
// never choose the format.
TEST(FormatDetection, TheLastExtensionThatNamesAFormatDecides) {
  const std::pair<const char*, type_format> cases[] = {
      {"IMG.GIF", F_GIF},          {"x.FITS", F_FITS},        {"/data.d/img.fits", F_FITS}, {"pgmfile.fits", F_FITS},
      {"a.jpg.fits", F_FITS},      {"x.bdf", F_MIDAS},        {"photo.jpg", F_JPEG},        {"coef.rid", F_FITS},
      {"noise.mr", F_FITS},        {"image", F_UNKNOWN},      {"a.dir/x.fits", F_FITS},     {"img.fts", F_FITS},
      {"m51_f_512_512.d", F_DISP}, {"y.pgm", F_PGM},          {"dir.d/x.fits", F_FITS},     {"j.doe/img.fits", F_FITS},
      {"a.gif.d/b.pgm", F_PGM},    {"x.pgm/y.d", F_DISP},     {"j.doe/img", F_UNKNOWN},     {"run.jpg/", F_UNKNOWN},
      {"dir/sub.d/a.gif", F_GIF}};
  for (const auto& c : cases) {
    EXPECT_EQ(io_which_format(c.first), c.second) << c.first;
    EXPECT_EQ(Format_Imag, c.second) << c.first;
  }
  EXPECT_EQ(io_detect_format("image"), F_FITS);  // no extension names a format: FITS
  EXPECT_EQ(which_format(), F_FITS);
  EXPECT_EQ(io_detect_format("IMG.GIF"), F_GIF);
}

// A word of the name that merely holds a format's text, an extension of no
// format (compressions, ".old", ".dat") and the FITS library's trailing
// groups never decide; the last extension that names a format does.
TEST(FormatDetection, WordsCompressionsAndGroupsDoNotDecide) {
  const std::pair<const char*, type_format> cases[] = {
      {"master.dark.fits", F_FITS},  {"sci.diff.fit", F_FITS},      {"m31.dss.fits", F_FITS},
      {"pgmdata.fits", F_FITS},      {"x.d.fits", F_FITS},          {"x.fits.d", F_DISP},
      {"x.jpg.old", F_JPEG},         {"x.fits.jpg", F_JPEG},        {"x.gif.pgm", F_PGM},
      {"f.dat", F_UNKNOWN},          {"m51.radio", F_UNKNOWN},      {"imagepgm", F_UNKNOWN},
      {"cam.jpeg", F_UNKNOWN},       {"x.fz", F_UNKNOWN},           {"x.fits.fz", F_FITS},
      {"x.fits.gz", F_FITS},         {"x.fits.bz2", F_FITS},        {"x.FITS.Z", F_FITS},
      {"x.fits.z", F_FITS},          {"x.fits.zip", F_FITS},        {"x.fits-gz", F_FITS},
      {"x.fits-z", F_FITS},          {"m51_f_4_4.D", F_DISP},       {"x.Cur", F_FITS},
      {"x.bet", F_FITS},             {"x.rad", F_FITS},             {"m51", F_UNKNOWN},
      {"-", F_UNKNOWN},              {"-b", F_UNKNOWN},             {"-.gif", F_GIF},
      {".fits", F_FITS},             {"file:m51.fits", F_FITS},     {"compress://x.fits.gz", F_FITS},
      {"f.dat[i512,512:2880]", F_UNKNOWN}, {"cube.fits[*,*,1]", F_FITS}, {"x.gif[1]", F_GIF},
      {"x.fits[SCI/1.5]", F_FITS},   {"x.fits(mem://)[1]", F_FITS}, {"x.fits[1][col a=sin(b.c)]", F_FITS},
      {"d.fits/x.dat", F_UNKNOWN},   {"x.fits[1", F_FITS},       {"m51.fits.", F_FITS}};
  for (const auto& c : cases) {
    EXPECT_EQ(io_which_format(c.first), c.second) << c.first;
    EXPECT_EQ(io_name_format(c.first), c.second) << c.first;
  }
}

// The FITS library's HDU number is set aside where the library reads it
// ("+" and at most five digits after the file's name, before any group)
// and nowhere else; a name that no extension gives a format is FITS when
// it holds a FITS word followed by more, as backups and renames make it.
// Each row: the format, the file a FITS read or write opens (".fits"
// added or not), and the results' stem, which only an image extension at
// the end leaves.
TEST(FormatDetection, HduNumbersAndFitsWordsFollowedByMore) {
  const struct {
    const char* name;
    type_format format;
    const char *fits_file, *stem;
  } cases[] = {
      {"x.jpg.fits+1", F_FITS, "x.jpg.fits+1", "x.jpg.fits+1"},
      {"x.fits+1", F_FITS, "x.fits+1", "x.fits+1"},
      {"x.jpg.fits+12345", F_FITS, "x.jpg.fits+12345", "x.jpg.fits+12345"},
      {"x.jpg.fits+", F_FITS, "x.jpg.fits+", "x.jpg.fits+"},  // the primary HDU
      {"x.jpg.fits+1[1:8,1:8]", F_FITS, "x.jpg.fits+1[1:8,1:8]", "x.jpg.fits+1[1:8,1:8]"},
      {"x.jpg.fits(mem://)+1", F_FITS, "x.jpg.fits(mem://)+1", "x.jpg.fits(mem://)+1"},
      {"sub/x.gif.fts+2", F_FITS, "sub/x.gif.fts+2", "sub/x.gif.fts+2"},
      {"x.gif+1", F_GIF, "x.gif+1.fits", "x.gif+1"},
      {"m51+2", F_UNKNOWN, "m51+2.fits", "m51+2"},
      // No HDU number where the library reads none: its root goes on.
      {"x.jpg.fits+1a", F_JPEG, "x.jpg.fits+1a.fits", "x.jpg.fits+1a"},
      {"x.jpg.fits+123456", F_JPEG, "x.jpg.fits+123456.fits", "x.jpg.fits+123456"},
      {"x.jpg.fits[1]+1", F_JPEG, "x.jpg.fits[1]+1.fits", "x.jpg.fits[1]+1"},
      {"a+1/x.jpg", F_JPEG, "a+1/x.jpg.fits", "a+1/x"},
      // A FITS word followed by more, in any case.
      {"x.fits~", F_FITS, "x.fits~", "x.fits~"},
      {"x.fits_old", F_FITS, "x.fits_old", "x.fits_old"},
      {"x.fits-1", F_FITS, "x.fits-1", "x.fits-1"},
      {"x.fitsx", F_FITS, "x.fitsx", "x.fitsx"},
      {"X.FITS~", F_FITS, "X.FITS~", "X.FITS~"},
      {"x.Fts_2", F_FITS, "x.Fts_2", "x.Fts_2"},
      {"x.fit-1.gz", F_FITS, "x.fit-1.gz", "x.fit-1.gz"},
      {"x.fits~[1]", F_FITS, "x.fits~[1]", "x.fits~[1]"},
      {".fits~", F_FITS, ".fits~", ".fits~"},
      // An extension that names a format still decides.
      {"a.fits.d", F_DISP, "a.fits.d.fits", "a.fits.d"},
      {"x.fits~.gif", F_GIF, "x.fits~.gif.fits", "x.fits~"},
      {"x.fits_old.jpg", F_JPEG, "x.fits_old.jpg.fits", "x.fits_old"},
      // Only the FITS words, and only in the file's own name.
      {"x.jpg~", F_UNKNOWN, "x.jpg~.fits", "x.jpg~"},
      {"x.mr~", F_UNKNOWN, "x.mr~.fits", "x.mr~"},
      {"fits~", F_UNKNOWN, "fits~.fits", "fits~"},
      {"dir.fits/x~", F_UNKNOWN, "dir.fits/x~.fits", "dir.fits/x~"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(io_name_format(c.name), c.format);
    EXPECT_EQ(io_detect_format(c.name), c.format == F_UNKNOWN ? F_FITS : c.format);
    char* file = fitsname(c.name);
    EXPECT_STREQ(file, c.fits_file);
    std::free(file);
    EXPECT_EQ(io_result_stem(c.name), c.stem);
  }
  io_set_format(F_UNKNOWN);
}

// The names are read by the FITS library's parser, whose complaints about
// a name it rejects must not stay behind as the reason of a later failure;
// the messages before them stay.
TEST(FormatDetection, LeavesNoMessageOfTheLibraryBehind) {
  ffcmsg();
  ffpmsg("earlier message");
  for (const char* name : {"x.fits[1", "x.jpg.fits[1]+1", "o.gif[", "x.fits+1"}) io_name_format(name);
  char message[FLEN_ERRMSG] = "";
  ASSERT_TRUE(ffgmsg(message));
  EXPECT_STREQ(message, "earlier message");
  EXPECT_FALSE(ffgmsg(message)) << message;
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
}

TEST(FileStem, CutAtLastDotOrFirstUnderscoreInDisp) {
  const struct {
    type_format format;
    const char *name, *stem;
  } cases[] = {{F_FITS, "dir.old/img.fits", "dir.old/img"}, {F_FITS, "img", "img"},
               {F_FITS, "a_b.fits", "a_b"},                {F_DISP, "m51_f_512_512.d", "m51"},
               {F_DISP, "noscore.d", "noscore.d"},  // no '_': the whole name
               {F_FITS, "j.doe/img", "j.doe/img"},         {F_FITS, "j.doe/img.fits", "j.doe/img"},
               {F_DISP, "run_1/m51_f_4_4.d", "run_1/m51"},  {F_DISP, "a.b_c/x.d", "a.b_c/x.d"}};
  char stem[64];
  for (const auto& c : cases) {
    io_set_format(c.format);
    io_strcpy_prefix(stem, c.name);
    EXPECT_STREQ(stem, c.stem) << c.name;
  }
  std::string name = std::string(5000, 'a') + ".fits";  // far beyond any fixed buffer
  std::vector<char> long_stem(name.size() + 1);
  io_set_format(F_FITS);
  io_strcpy_prefix(long_stem.data(), name.c_str());
  EXPECT_EQ(std::string(long_stem.data()), std::string(5000, 'a'));
}

TEST(StandardStreams, DashNamesOnly) {
  io_set_format(F_FITS);
  for (const char* name : {"-", "-b", "-.fits", "-b.gif"}) EXPECT_EQ(std_inout(name), 1) << name;
  for (const char* name : {"-x", "b-", "a-.fits", "--"}) EXPECT_EQ(std_inout(name), 0) << name;
  io_set_format(F_UNKNOWN);
}

// Whatever the run's format, only an image extension at the end of the
// file's own name leaves the stem: other dots, folders with dots and
// unknown or incomplete extensions stay.
TEST(ResultStem, OnlyAnImageExtensionLeaves) {
  const std::pair<const char*, const char*> cases[] = {
      {"o_0.25", "o_0.25"}, {"o_0.25.fits", "o_0.25"}, {"o.fit", "o"}, {"o.fts", "o"}, {"o.FITS", "o"},
      {"o.FIT", "o"}, {"o.fits.gz", "o"}, {"o_0.1.fits.Z", "o_0.1"}, {"o.Fits", "o"},
      {"o.fits.bak", "o.fits.bak"}, {"o.gz", "o.gz"}, {"o.gif", "o"}, {"o.pgm", "o"}, {"o.jpg", "o"},
      {"o.jpeg", "o.jpeg"}, {"a.b/c", "a.b/c"}, {"a.b/c.fits", "a.b/c"}, {"dir.fits/c", "dir.fits/c"},
      {".fits", ".fits"}, {"dir/.fits", "dir/.fits"}, {"my_res_cf_3_5.d", "my_res"}, {"run_1/m_d_4_4.d", "run_1/m"},
      {"x_f_4.d", "x_f_4.d"}, {"x_q_4_4.d", "x_q_4_4.d"}, {"x_f_4_4.dd", "x_f_4_4.dd"}, {"v1.2.d", "v1.2.d"},
      {"-", "-"}, {"O.GIF", "O"}, {"o.Pgm", "o"}, {"o.Fit.gz", "o"}, {"o.FITS.GZ", "o.FITS.GZ"},
      // The other FITS extensions leave too; a word that begins like one stays.
      {"o.rid", "o"}, {"o.Mr", "o"}, {"o.cur.gz", "o"}, {"o.bet", "o"}, {"o.rad", "o"}, {"o.radio", "o.radio"},
      // Only a FITS extension reads compressed: after a GIF, PGM or JPEG one
      // a compression's extension is another dot, and stays.
      {"o.gif.gz", "o.gif.gz"}, {"o.pgm.Z", "o.pgm.Z"}, {"o.jpg.gz", "o.jpg.gz"}};
  for (type_format format : {F_FITS, F_DISP, F_GIF}) {
    io_set_format(format);
    for (const auto& c : cases) EXPECT_EQ(io_result_stem(c.first), c.second) << c.first << " in format " << format;
  }
  io_set_format(F_UNKNOWN);
}

// Only a name whose file part is empty, "." or ".." names no file; a name
// that is all extension (".fits") is a hidden file, but a file.
TEST(NamesNoFile, EmptyOrFolderFileParts) {
  const std::pair<const char*, int> cases[] = {{"", 1},     {"sub/", 1}, {".", 1},   {"sub/..", 1},
                                               {".fits", 0}, {"..o", 0},  {"./o", 0}};
  for (const auto& c : cases) EXPECT_EQ(io_names_no_file(c.first), c.second) << '"' << c.first << '"';
}

// The readers and writers complete a name as the format test reads it:
// the name is typed when its format is the reader's, in any case; folders
// never count.
TEST(NameCompletion, ExtensionAtTheEndInAnyCase) {
  const struct {
    const char *name, *extension, *opened;
  } cases[] = {{"cam.Gif", ".gif", "cam.Gif"},         {"cam", ".gif", "cam.gif"},
               {"a.gif.old", ".gif", "a.gif.old"},     {"a.GIF.old", ".gif", "a.GIF.old"},
               {"d.GIF/x", ".gif", "d.GIF/x.gif"},     {"cam.PGM", ".pgm", "cam.PGM"},
               {"cam.jpeg", ".jpg", "cam.jpeg.jpg"},   {"GIF", ".gif", "GIF.gif"},
               {"pgmdata.fits", ".pgm", "pgmdata.fits.pgm"}, {"x.jpg.old", ".jpg", "x.jpg.old"},
               {"x.gif.jpg", ".gif", "x.gif.jpg.gif"}};
  for (const auto& c : cases) EXPECT_EQ(io_completed_name(c.name, c.extension), c.opened) << c.name;
  const std::pair<const char*, int> fits[] = {{"X.FTS", 1}, {"x.Fits.Z", 1}, {"x.fits.GZ", 1}, {"d.FITS/x", 0}};
  for (const auto& c : fits) EXPECT_EQ(io_name_format(c.first) == F_FITS, c.second == 1) << c.first;
}
