// The input of qz_mca is never overwritten, however its name reaches the
// file: a library prefix, an HDU selector, a compressed file behind a
// prefix, the standard input redirected from the file, a link, or a format
// whose reader adds its extension. Each run is refused before any work and
// the input keeps its bytes.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

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
  const struct {
    const char* input;  // the file that must keep its bytes
    const char* args;
  } cases[] = {
      {"m51.fits", "m51.fits m51"},
      {"m51.fits", "file://m51.fits m51"},
      {"m51.fits", "'m51.fits[0]' m51"},
      {"m51.fits", "- m51 < m51.fits"},
      {"k.fits.gz", "compress://k.fits.gz k.fits.gz"},
      {"k.fits.gz", "compressmem://k.fits.gz k.fits.gz"},
      {"k.fits.gz", "k k.fits.gz"},          // k.fits is missing: its sibling k.fits.gz is read
      {"m51.fits", "m51.fits linked"},       // linked.fits leads to the input
      {"picpgm.pgm", "picpgm picpgm"},       // both names gain ".pgm"
  };
  for (const auto& c : cases) {
    const std::string input = c.input;
    if (input == "k.fits.gz") write_gzip(input, fits);
    else if (input == "picpgm.pgm") write_bytes(input, pgm_bytes(image));
    else write_bytes(input, fits);
    ASSERT_EQ(symlink("m51.fits", path("linked.fits").c_str()), 0);
    const std::string before = file_bytes(input);
    EXPECT_NE(run(std::string("-t 1 -i 2 -g 0 ") + c.args), 0) << c.args;
    EXPECT_TRUE(printed("Error: a result would overwrite the input image; choose another output name ..."))
        << c.args << "\n" << output_;
    EXPECT_EQ(file_bytes(input), before) << c.args;
    std::system(("rm -f '" + dir_ + "'/*").c_str());
  }
}
