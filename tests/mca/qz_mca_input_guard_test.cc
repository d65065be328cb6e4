// The input of qz_mca is never overwritten, however its name reaches the
// file: a library prefix, an HDU selector, a compressed file behind a
// prefix, the standard input redirected from the file, a link, a format
// whose reader adds its extension, or the sibling the library reads when the
// file named cannot be opened. Each run is refused before any work and the
// input keeps its bytes. Nor does a name make the library write a file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "support/installed_tools.h"
#include "support/qz_mca_program.h"
#include "support/test_images.h"

namespace {

class QzMcaInputGuard : public QzMcaProgram {
 protected:
  void write_bytes(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  // The FITS image gzip-compressed by zlib, an encoder of its own.
  void write_gzip(const std::string& name, const std::string& bytes) const {
    gzFile out = gzopen(path(name).c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(gzwrite(out, bytes.data(), static_cast<unsigned>(bytes.size())), static_cast<int>(bytes.size()));
    ASSERT_EQ(gzclose(out), Z_OK);
  }
};

// A binary PGM of the image's values clamped to bytes.
std::string pgm_bytes(const FitsImage& ima) {
  std::string bytes = "P5\n" + std::to_string(ima.nc) + " " + std::to_string(ima.nl) + "\n255\n";
  for (float p : ima.pixels) bytes.push_back(static_cast<char>(p < 0 ? 0 : p > 255 ? 255 : p));
  return bytes;
}

}  // namespace

TEST_F(QzMcaInputGuard, NoNameOfTheInputLetsAResultReplaceIt) {
  FitsImage image(normal_image(32, 32, 5, 4.f));
  for (float& p : image.pixels) p += 100.f;
  write_fits(path("plain.fits"), image);
  const std::string fits = file_bytes("plain.fits");
  // Not square, so that lines and columns taken for each other name
  // another file.
  FitsImage tall(normal_image(16, 8, 6, 4.f));
  for (float& p : tall.pixels) p += 100.f;
  const struct {
    const char* input;  // the file that must keep its bytes
    const char* args;
  } cases[] = {
      {"m51.fits", "m51.fits m51"},
      {"m51.fits", "file://m51.fits m51"},
      {"m51.fits", "file:m51.fits m51"},  // the library's prefix without "//"
      {"m51.fits", "file:m51 m51"},
      {"m51.fits", "'m51.fits[0]' m51"},
      {"m51.fits", "- m51 < m51.fits"},
      {"k.fits.gz", "compress://k.fits.gz k.fits.gz"},
      {"k.fits.gz", "compressmem://k.fits.gz k.fits.gz"},
      {"k.fits.gz", "k k.fits.gz"},          // k.fits is missing: its sibling k.fits.gz is read
      {"m51.fits", "m51.fits linked"},       // linked.fits leads to the input
      {"picpgm.pgm", "picpgm.pgm picpgm"},   // the result gains ".pgm"
      {"picjpg.jpg", "picjpg.jpg picjpg"},   // the result gains ".jpg"
      {"p.GIF.v1", "p.GIF.v1 p.GIF.v1"},  // ".GIF" gives the format, in any case: both are typed
      // The library would read the standard input, not the file named.
      {"stdin_keep.fits", "stdin_keep.fits stdin_keep < plain.fits"},
      {"m51.fits", "'m51(mem://)' m51"},  // the copy into memory is left out
      {"m51.fits", "'m51.fits[b64,64]' m51"},      // the file's bytes read as a raw array
      {"m51.fits", "'m51.fits[0][1:8,1:8]' m51"},  // a section, read into memory
      // The result "in" is written as in_f_16_8.d, its lines before its
      // columns: an image of 16 lines of 8 columns.
      {"in_f_16_8.d", "in_f_16_8.d in"},
  };
  write_bytes("picpgm.pgm", pgm_bytes(image));
  // Made by other tools than our writers.
  const bool jpeg = std::system(("cd '" + dir_ + "' && cjpeg picpgm.pgm > pic.jpg 2>/dev/null").c_str()) == 0;
  const bool gif = std::system(("cd '" + dir_ + "' && pamtogif picpgm.pgm > pic.gif 2>/dev/null").c_str()) == 0;
  EXPECT_TRUE(jpeg && gif) << "cjpeg or pamtogif failed, which scripts/setup.sh installs";
  const std::string jpeg_bytes = file_bytes("pic.jpg"), gif_bytes = file_bytes("pic.gif");
  std::system(("rm -f '" + dir_ + "'/*").c_str());
  for (const auto& c : cases) {
    const std::string input = c.input;
    if (input == "k.fits.gz") write_gzip(input, fits);
    else if (input == "picpgm.pgm") write_bytes(input, pgm_bytes(image));
    else if (input == "picjpg.jpg") {
      if (!jpeg) continue;
      write_bytes(input, jpeg_bytes);
    } else if (input == "p.GIF.v1") {
      if (!gif) continue;
      write_bytes(input, gif_bytes);
    } else if (input == "in_f_16_8.d") write_disp(path(input), tall);
    else write_bytes(input, fits);
    ASSERT_EQ(symlink("m51.fits", path("linked.fits").c_str()), 0);
    write_bytes("plain.fits", fits);  // a standard input that holds an image too
    const std::string before = file_bytes(input);
    EXPECT_NE(run(std::string("-t 1 -i 2 -g 0 ") + c.args), 0) << c.args;
    EXPECT_TRUE(printed("Error: a result would overwrite the input image; choose another output name ..."))
        << c.args << "\n" << output_;
    EXPECT_EQ(file_bytes(input), before) << c.args;
    std::system(("rm -f '" + dir_ + "'/*").c_str());
  }
}

// The FITS library reads the first of a name's files that it can open: for
// a user who cannot read x.fits, "x.fits" reads its compressed sibling
// x.fits.gz, which a result named x.fits.gz must then not replace, while a
// result beside it is that of the sibling's image. Permissions do not bind the superuser: as
// root the runs are made as nobody.
TEST_F(QzMcaInputGuard, TheSiblingReadInPlaceOfAnUnreadableFileIsTheInput) {
  std::string launcher;
  if (geteuid() == 0) {
    if (!test_support::tool_installed("setpriv")) return;
    launcher = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  }
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  FitsImage image(normal_image(32, 32, 9, 4.f));
  for (float& p : image.pixels) p += 100.f;
  write_fits(path("plain.fits"), image);
  ASSERT_EQ(run("-t 1 -i 2 -g 0 plain.fits ref", launcher), 0) << output_;
  const FitsImage ref = result("ref.fits");
  // The library reads a plain file itself, a compressed one from memory.
  for (bool compressed : {true, false}) {
    if (compressed) write_gzip("x.fits.gz", file_bytes("plain.fits"));
    else write_bytes("x.fits.gz", file_bytes("plain.fits"));
    write_bytes("x.fits", "unreadable");
    ASSERT_EQ(chmod(path("x.fits").c_str(), 0), 0);
    ASSERT_EQ(chmod(path("x.fits.gz").c_str(), 0666), 0);
    const std::string before = file_bytes("x.fits.gz");
    EXPECT_EQ(run("-t 1 -i 2 -g 0 x.fits x.fits.gz", launcher), 255) << compressed << "\n" << output_;
    EXPECT_TRUE(printed("Error: a result would overwrite the input image; choose another output name ... "
                        "(x.fits.gz)"))
        << compressed << "\n" << output_;
    EXPECT_EQ(file_bytes("x.fits.gz"), before) << compressed;
    EXPECT_EQ(run("-t 1 -i 2 -g 0 x.fits beside", launcher), 0) << compressed << "\n" << output_;
    EXPECT_EQ(result("beside.fits").pixels, ref.pixels) << compressed;
    std::system(("rm -f '" + dir_ + "'/x.fits* '" + dir_ + "'/beside*").c_str());
  }
}

// A name with the library's output-file part would have the library write
// that file as it opens the input, before any check: it is refused first,
// and no file is left. A name holding parentheses elsewhere is a file's
// name and reads as one.
TEST_F(QzMcaInputGuard, NamesThatMakeTheLibraryWriteACopyAreRefused) {
  FitsImage image(normal_image(32, 32, 11, 4.f));
  for (float& p : image.pixels) p += 100.f;
  write_fits(path("a.fits"), image);
  write_gzip("k.fits.gz", file_bytes("a.fits"));
  ASSERT_EQ(std::system(("cp '" + path("a.fits") + "' '" + path("m51(1).fits") + "'").c_str()), 0);
  const struct {
    const char* args;
    const char* copy;  // the file the library would write
  } cases[] = {
      {"'a.fits(w.fits)' p1", "w.fits"},
      {"'a.fits(w.fits)' nodir/o", "w.fits"},  // a run refused anyway
      {"'a.fits(w.fits)[0]' p1", "w.fits"},
      {"'k.fits.gz(w.fits)' p1", "w.fits"},
      {"'file://a.fits(w.fits)' p1", "w.fits"},
      {"-- '-(w.fits)' p1 < a.fits", "w.fits"},
      {"'a.fits( w.fits )' p1", " w.fits"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(std::string("-t 1 -i 2 -g 0 ") + c.args), 255) << c.args;
    EXPECT_TRUE(printed(std::string("Error: the name asks the FITS library to copy the file to ") + c.copy))
        << c.args << "\n" << output_;
    EXPECT_FALSE(exists(c.copy)) << c.args;
    EXPECT_FALSE(exists("w.fits")) << c.args;
    EXPECT_FALSE(exists("p1.fits")) << c.args;
  }
  EXPECT_EQ(run("-t 1 -i 2 -g 0 'm51(1).fits' p2"), 0) << output_;
  EXPECT_EQ(result("p2.fits").nl, 32);
}

// Only "-" is the standard input: a name that begins with "stdin", in any
// case, or ends in ".imh" before its selector, which the FITS library would
// read from the standard input or as an IRAF image, reads the file it
// names, whatever the standard input holds.
TEST_F(QzMcaInputGuard, NamesTheLibraryTakesForOtherInputsReadTheFileNamed) {
  FitsImage image(normal_image(32, 32, 13, 4.f)), other(normal_image(32, 32, 14, 4.f));
  for (float& p : image.pixels) p += 100.f;
  for (float& p : other.pixels) p += 300.f;
  write_fits(path("named.fits"), image);
  write_fits(path("other.fits"), other);
  ASSERT_EQ(run("-t 1 -i 2 -g 0 named.fits ref"), 0) << output_;
  const FitsImage ref = result("ref_resi.fits");
  ASSERT_EQ(ref.pixels.size(), 1024u);
  const struct {
    const char* file;  // a copy of named.fits
    const char* name;  // as typed
  } cases[] = {
      {"stdin_obs1.fits", "stdin_obs1.fits"},
      {"STDIN_x.fits", "STDIN_x.fits"},
      {"stdinfile.fits", "stdinfile"},
      {"stdin.fits", "stdin"},
      {"x.imh", "'x.imh[0]'"},
  };
  for (const auto& c : cases) {
    write_bytes(c.file, file_bytes("named.fits"));
    EXPECT_EQ(run(std::string("-t 1 -i 2 -g 0 ") + c.name + " out < other.fits"), 0) << c.name << "\n" << output_;
    EXPECT_EQ(result("out_resi.fits").pixels, ref.pixels) << c.name;
  }
  // With no such file, the standard input is not read in its place.
  EXPECT_EQ(run("-t 1 -i 2 -g 0 stdin_absent.fits none < other.fits"), 104) << output_;
  EXPECT_TRUE(printed("Error: cannot open file (stdin_absent.fits: No such file or directory)")) << output_;
  EXPECT_FALSE(exists("none.fits"));
}

// A result is compared with the input under the name its writer gives it:
// a raw array's file named like a result less its extension ("q.raw",
// "o_atrou", "xx_rec", "xx_atrou_5" beside FITS results that gain ".fits")
// is no result, and the run reads it and writes beside it; the file a
// result does take is still refused, with the remedy of whoever chose its
// name.
TEST_F(QzMcaInputGuard, OnlyTheFileAResultIsWrittenToIsGuarded) {
  // 16-bit big-endian counts around 100, as the raw array [i128,128] reads them.
  std::string raw;
  const to_array<float, false> noise = normal_image(128, 128, 17, 4.f);
  for (int k = 0; k < noise.n_elem(); k++) {
    const int count = 100 + static_cast<int>(std::lround(noise(k)));
    raw.push_back(static_cast<char>(count >> 8));
    raw.push_back(static_cast<char>(count & 0xff));
  }
  const struct {
    const char* input;  // the raw array's file
    const char* args;
    const char* written;  // a result the run leaves, or nullptr when refused
    const char* remedy;   // of the refusal
  } cases[] = {
      {"q.raw", "-t 1 -i 2 'q.raw[i128,128]' q.raw", "q.raw.fits", nullptr},
      {"o_atrou", "-t 1 -i 2 'o_atrou[i128,128]' o", "o_atrou.fits", nullptr},
      {"o", "-t 1 -i 2 'o[i128,128]' o", "o.fits", nullptr},
      {"xx_rec", "-X 'xx_rec[i128,128]' o", "xx_rec.fits", nullptr},
      {"xx_atrou_5", "-t 1 -i 5 -w 'xx_atrou_5[i128,128]' o", "xx_atrou_5.fits", nullptr},
      {"o_atrou.fits", "-t 1 -i 2 'o_atrou.fits[i128,128]' o", nullptr, "choose another output name"},
      {"xx_rec.fits", "-X 'xx_rec.fits[i128,128]' o", nullptr, "rename the input or leave out -X"},
      {"xx_atrou_5.fits", "-t 1 -i 5 -w 'xx_atrou_5.fits[i128,128]' o", nullptr, "rename the input or leave out -w"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    write_bytes(c.input, raw);
    const int status = run(std::string("-g 4 ") + c.args);
    EXPECT_EQ(file_bytes(c.input), raw);
    if (c.written != nullptr) {
      EXPECT_EQ(status, 0) << output_;
      EXPECT_EQ(result(c.written).nl, 128) << output_;
    } else {
      EXPECT_EQ(status, 255);
      EXPECT_TRUE(printed(std::string("Error: a result would overwrite the input image; ") + c.remedy + " ... (" +
                          c.input + ")"))
          << output_;
      EXPECT_FALSE(exists("o.fits"));
    }
    std::system(("rm -f '" + dir_ + "'/*").c_str());
  }
}
