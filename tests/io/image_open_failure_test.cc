// Every reader and writer that cannot open its file says which file and why:
// a folder given where an image was expected, a file that is not there, a
// folder that does not exist. The reason is the system's own text, so a
// reader that opened a folder and failed at its first read (as fopen
// allows), or a message without the file, fails here.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "array/vms.h"
#include "io/fits_glue.h"
#include "io/fits_io.h"
#include "io/gif_io.h"
#include "io/image_file.h"
#include "io/io_dispatch.h"
#include "io/io_image.h"
#include "io/jpeg_io.h"
#include "io/pgm_io.h"
#include "support/death.h"
#include "fits_test_files.h"

using fits_test::scratch;

namespace {

// "(<scratch>/<file>: <reason>)" as a pattern.
std::string named(const std::string& file, int error) {
  return "\\(" + scratch(file) + ": " + std::strerror(error) + "\\)";
}

}  // namespace

TEST(ImageOpenFailure, EveryFormatNamesTheFileAndTheReason) {
  ASSERT_EQ(mkdir(scratch("adir").c_str(), 0755), 0);
  const std::string folder = scratch("adir"), missing = scratch("absent"), nowhere = scratch("nodir/x");
  const std::string disp_folder = scratch("dir_f_4_4.d");
  ASSERT_EQ(mkdir(disp_folder.c_str(), 0755), 0);
  to_array<float, false> ima(4, 4);
  to_array<int, false> ints(4, 4);
  to_array<float, true> array;
  int nl = 0, nc = 0;
  const std::string one_hdu = scratch("one.fits");
  fits_test::write_reference(one_hdu, -32, {4, 4}, std::vector<double>(16, 1.0));
  // A file that is there, with no HDU of the number a name selects.
  const std::string no_hdu = "\\(" + one_hdu + "\\[1\\]: " + one_hdu + " has no such HDU: it holds \\[0\\] only\\)";
  fitsstruct h;
  initfield(&h);
  h.bitpix = -32;  // what the writer needs before it opens
  h.npix = 16;
  const std::pair<std::function<void()>, std::string> cases[] = {
      // FITS: the folder as typed, not with ".fits" added.
      {[&] { fits_read_float(folder.c_str(), ima, &h); }, "Error: cannot open file " + named("adir", EISDIR)},
      {[&] { fits_read_float(missing.c_str(), ima, &h); }, "Error: cannot open file " + named("absent.fits", ENOENT)},
      {[&] { fits_read_int(folder.c_str(), ints, &h, False); }, "Unable to open file: " + named("adir", EISDIR)},
      {[&] { fits_read_header(missing.c_str(), &h); }, "Error reading file " + named("absent.fits", ENOENT)},
      {[&] { fits_read_header(folder.c_str(), &h); }, "Error reading file " + named("adir", EISDIR)},
      {[&] { fits_write_float(nowhere.c_str(), ima, &h); }, "Unable to open file: " + named("nodir/x.fits", ENOENT)},
      {[&] { fits_write_header(nowhere.c_str(), &h); }, "Error writing on file " + named("nodir/x.fits", ENOENT)},
      {[&] { fits_read_fltarr(folder.c_str(), array); }, "Error: cannot open file " + named("adir", EISDIR)},
      {[&] { fits_read_float((one_hdu + "[1]").c_str(), ima, &h); }, "Error: cannot open file " + no_hdu},
      {[&] { fits_read_fltarr((one_hdu + "[1]").c_str(), array); }, "Error: cannot open file " + no_hdu},
      // GIF, PGM, JPEG.
      {[&] { readgif(folder.c_str(), ima); }, "Error: cannot open file " + named("adir", EISDIR)},
      {[&] { writegif(nowhere.c_str(), ima, False); }, "Error: cannot open file " + named("nodir/x.gif", ENOENT)},
      {[&] { readpgm(folder.c_str(), ima); }, "Error: Unable to open file: " + named("adir", EISDIR)},
      {[&] { readhdpgm(folder.c_str(), nl, nc); }, "Unable to open file: " + named("adir", EISDIR)},
      {[&] { writepgm(nowhere.c_str(), ima, False); }, "Unable to open file: " + named("nodir/x.pgm", ENOENT)},
      {[&] { io_read2d_jpeg(folder.c_str(), ima); }, "Error reading file " + named("adir", EISDIR)},
      {[&] { io_read2d_jpeg(missing.c_str(), ima); }, "Error reading file " + named("absent", ENOENT)},
      {[&] { io_write2d_jpeg(nowhere.c_str(), ima, False, 100); }, "can't open " + named("nodir/x.jpg", ENOENT)},
      // The raw format.
      {[&] { IO_DISP.read_ima_float(const_cast<char*>(disp_folder.c_str()), ima); },
       "Unable to open file: " + named("dir_f_4_4.d", EISDIR)},
      {[&] { IO_DISP.write_ima_float(const_cast<char*>(nowhere.c_str()), ima); },
       "Unable to open file: " + named("nodir/x_f_4_4.d", ENOENT)},
  };
  int row = 0;
  for (const auto& [open, message] : cases) {
    SCOPED_TRACE("row " + std::to_string(row++));
    EXPECT_EXIT({ QZ_STDOUT_TO_STDERR(); open(); },
                [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; }, message);
  }
}

// A folder typed by the user is named only when it explains the failure;
// without a system error the library's text is the reason.
TEST(ImageOpenFailure, ReasonOtherThanAFolderOrTheSystems) {
  const std::string folder = scratch("typed");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  EXPECT_EQ(io_open_failure(folder.c_str(), folder + ".fits", EACCES, "library text"),
            "(" + folder + ".fits: " + std::strerror(EACCES) + ")");
  EXPECT_EQ(io_open_failure("x", "x.fits", 0, "library text"), "(x.fits: library text)");
}

// A write that fails names the file it was writing by its whole name, with
// the extension (or the disp type and size) its writer added to the name
// it was given: here past a file size limit of 1 KB, which every format's
// 64 x 64 image of varied pixels exceeds.
TEST(ImageOpenFailure, AFailedWriteNamesTheFileAsWritten) {
  to_array<float, false> ima(64, 64);
  for (int k = 0; k < ima.n_elem(); k++) ima(k) = static_cast<float>((k * 7919) % 251);
  const std::string name = scratch("limited");
  const struct {
    type_format format;
    const char* file;
  } cases[] = {
      {F_FITS, "limited.fits"}, {F_PGM, "limited.pgm"}, {F_GIF, "limited.gif"},
      {F_JPEG, "limited.jpg"},  {F_DISP, "limited_f_64_64.d"},
  };
  const struct rlimit limit = {1024, 1024};
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          QZ_STDOUT_TO_STDERR();
          signal_catch(SIGXFSZ, SIG_IGN);
          setrlimit(RLIMIT_FSIZE, &limit);
          Format_Imag = c.format;
          io_write_ima_float(name.c_str(), ima, nullptr, True);
          _exit(0);
        },
        [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; }, named(c.file, EFBIG))
        << c.file;
  }
}
