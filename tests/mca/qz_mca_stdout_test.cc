// A result named "-" goes to the standard output as exactly the file a
// named result would be, whatever the format and whether the standard output
// is a regular file or a pipe; the run's progress and messages go to the
// standard error; the components keep their files named from the stem "-".
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/image_test_tools.h"
#include "support/fitsverify.h"
#include "support/qz_mca_program.h"

using image_test::read_bytes;
using image_test::write_bytes;

namespace {

const int kSide = 32;

// Values 60..180: a smooth blob on a ramp with a sharp edge, fit for every
// byte format.
std::vector<int> picture() {
  std::vector<int> values;
  for (int i = 0; i < kSide; i++)
    for (int j = 0; j < kSide; j++) {
      const double blob = 80 * std::exp(-((i - 12) * (i - 12) + (j - 18) * (j - 18)) / 30.0);
      values.push_back(60 + static_cast<int>(blob) + (j > 24 ? 40 : 0) + (i * 3 + j * 7) % 5);
    }
  return values;
}

FitsImage picture_image() {
  FitsImage ima(kSide, kSide);
  const std::vector<int> values = picture();
  for (int k = 0; k < kSide * kSide; k++) ima.pixels[k] = static_cast<float>(values[k]);
  return ima;
}

// Bytes of the header and data blocks of a FITS file's primary HDU, from
// its END card and its axes as the standard lays them out: what a file of
// one image and nothing else measures.
std::size_t primary_hdu_bytes(const std::string& bytes, int nl, int nc, int bytepix) {
  std::size_t end = 0;
  while (end + 80 <= bytes.size() && bytes.compare(end, 8, "END     ") != 0) end += 80;
  const std::size_t header = (end / 2880 + 1) * 2880;
  const std::size_t data = static_cast<std::size_t>(nl) * nc * bytepix;
  return header + (data + 2879) / 2880 * 2880;
}

class QzMcaStdout : public QzMcaProgram {
 protected:
  // Runs the shell command in the test's folder; its exit status.
  int shell(const std::string& command) {
    const int status = std::system(("cd '" + dir_ + "' && " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string program() const { return "'" + program_ + "' "; }
  // The program with args, its result "-" sent to `to` (a file of the
  // folder), its standard error kept in err.txt.
  int run_to_file(const std::string& args, const std::string& to) {
    return shell(program() + args + " - > " + to + " 2> err.txt");
  }
  // The same through a pipe, whose reader copies it to `to`; the program's
  // status comes through a file, as the pipe's status is its reader's.
  int run_to_pipe(const std::string& args, const std::string& to) {
    if (shell("(" + program() + args + " - 2> err.txt; echo $? > status.txt) | cat > " + to) != 0) return -1;
    return std::atoi(read_bytes(path("status.txt")).c_str());
  }
  std::string err() const { return read_bytes(path("err.txt")); }
  // The picture as a GIF with a graphic control extension, which the reader
  // notes on the standard error as it reads the file; false, the test
  // failed, without netpbm.
  bool write_noted_gif(const std::string& name) {
    write_bytes(path("in.pgm"), image_test::pgm_bytes(kSide, kSide, picture()));
    if (!image_test::have_tool("pamtogif")) return false;
    if (shell("pamtogif in.pgm > plain.gif 2>/dev/null") != 0) {
      ADD_FAILURE() << "pamtogif failed";
      return false;
    }
    std::string bytes = read_bytes(path("plain.gif"));
    const std::size_t map = (bytes[10] & 0x80) != 0 ? 3u << ((bytes[10] & 7) + 1) : 0;
    bytes.insert(13 + map, std::string("!\xF9\x04\x00\x00\x00\x00\x00", 8));
    write_bytes(path(name), bytes);
    return true;
  }
};

}  // namespace

// The FITS result is one valid image of the named result's pixels and
// nothing else, in a file (where the stream's position once made the
// padding short) and in a pipe; the verbose progress is on the standard
// error; the components are those of a named run, under the stem "-".
TEST_F(QzMcaStdout, FitsResultIsTheFileAloneAndProgressGoesToStderr) {
  write_fits(path("in.fits"), picture_image());
  const std::string args = "-v -i 4 in.fits";
  ASSERT_EQ(run(args + " named.fits"), 0) << output_;
  const FitsImage named = result("named.fits");
  ASSERT_EQ(named.nl, kSide);

  const struct {
    const char* how;
    bool pipe;
  } ways[] = {{"regular file", false}, {"pipe", true}};
  for (const auto& way : ways) {
    const std::string out = way.pipe ? "piped.fits" : "redirected.fits";
    ASSERT_EQ(way.pipe ? run_to_pipe(args, out) : run_to_file(args, out), 0) << way.how << "\n" << err();
    const std::string bytes = read_bytes(path(out));
    EXPECT_EQ(bytes.compare(0, 30, "SIMPLE  =                    T"), 0) << way.how;
    EXPECT_EQ(bytes.size(), primary_hdu_bytes(bytes, kSide, kSide, 4)) << way.how;
    EXPECT_EQ(bytes.find("MOM calculation"), std::string::npos) << way.how;
    if (qz_test::have_fitsverify()) {
      EXPECT_TRUE(qz_test::passes_fitsverify(path(out))) << way.how;
    }
    EXPECT_EQ(result(out).pixels, named.pixels) << way.how;
    const std::string progress = err();
    for (const char* line : {"PARAMETERS", "File Name Out = -", "MOM calculation"})
      EXPECT_NE(progress.find(line), std::string::npos) << way.how << ": " << line << "\n" << progress;
    for (const char* component : {"atrou", "cur", "resi"})
      EXPECT_EQ(result(std::string("-_") + component + ".fits").pixels,
                result(std::string("named_") + component + ".fits").pixels)
          << way.how << " " << component;
  }
  EXPECT_FALSE(exists("-")) << "the result went to a file named -";
  EXPECT_FALSE(exists("-.fits")) << "the result went to a file named -.fits";
}

// Each other format on the standard output is byte for byte the file a
// named run writes (the PGM comment holds the name given), even with -v,
// under which the JPEG writer reports each step; the disp components keep
// their own files.
TEST_F(QzMcaStdout, EveryFormatOnTheStandardOutputIsExactlyItsFile) {
  write_bytes(path("in.pgm"), image_test::pgm_bytes(kSide, kSide, picture()));
  std::string disp;
  for (int v : picture()) disp += static_cast<char>(v);
  write_bytes(path("in_b_32_32.d"), disp);
  const bool gif = image_test::have_tool("pamtogif") &&
                   shell("pamtogif in.pgm > in.gif 2>/dev/null") == 0;
  const bool jpeg = image_test::have_tool("cjpeg") && shell("cjpeg -quality 95 in.pgm > in.jpg") == 0;
  EXPECT_TRUE(gif && jpeg) << "pamtogif or cjpeg made no picture";

  const struct {
    const char* input;
    const char* named_file;      // of the result named "named"
    const char* named_comment;   // the name as the file holds it; "" for none
    const char* dash_component;  // a component of the run writing to "-"
    bool available;
  } cases[] = {
      {"in.pgm", "named.pgm", "#named\n", "-_atrou.pgm", true},
      {"in.gif", "named.gif", "", "-_atrou.gif", gif},
      {"in.jpg", "named.jpg", "", "-_atrou.jpg", jpeg},
      {"in_b_32_32.d", "named_f_32_32.d", "", "-_atrou_f_32_32.d", true},
  };
  for (const auto& c : cases) {
    if (!c.available) continue;
    const std::string args = std::string("-v -t 1 -t 5 -i 2 ") + c.input;
    ASSERT_EQ(run(args + " named"), 0) << c.input << "\n" << output_;
    std::string expected = read_bytes(path(c.named_file));
    ASSERT_FALSE(expected.empty()) << c.named_file;
    const std::string comment = c.named_comment;
    if (!comment.empty()) expected.replace(expected.find(comment), comment.size(), "#-\n");
    for (bool pipe : {false, true}) {
      const std::string out = std::string("dash_") + (pipe ? "piped" : "redirected");
      ASSERT_EQ(pipe ? run_to_pipe(args, out) : run_to_file(args, out), 0) << c.input << "\n" << err();
      EXPECT_TRUE(read_bytes(path(out)) == expected) << c.input << (pipe ? " piped" : " redirected");
      EXPECT_NE(err().find("Number of iteration = 2"), std::string::npos) << c.input << "\n" << err();
      EXPECT_TRUE(exists(c.dash_component)) << c.dash_component;
    }
  }
}

// A run that fails prints its message on the standard error and leaves the
// standard output empty.
TEST_F(QzMcaStdout, AFailedRunLeavesTheStandardOutputEmpty) {
  EXPECT_NE(run_to_file("-v -i 2 missing.fits", "out.fits"), 0);
  EXPECT_EQ(read_bytes(path("out.fits")), "");
  EXPECT_NE(err().find("Error: cannot open file (missing.fits"), std::string::npos) << err();
}

// A standard output redirected to the input itself, by any redirection that
// keeps its bytes for the run to write over (1<>) or after (>>), through a
// link, or with the input on the standard input too: the run is refused
// before the work, and the input keeps its bytes.
TEST_F(QzMcaStdout, AResultOnAStandardOutputThatIsTheInputIsRefused) {
  write_fits(path("in.fits"), picture_image());
  const std::string before = read_bytes(path("in.fits"));
  ASSERT_EQ(shell("ln -s in.fits link.fits"), 0);
  for (const char* redirection : {"in.fits - 1<>in.fits", "in.fits - >>in.fits", "- - <in.fits 1<>in.fits",
                                  "in.fits - 1<>link.fits", "-- -.fits -b.fits <in.fits >>in.fits"}) {
    EXPECT_EQ(shell(program() + "-t 1 -i 2 " + redirection + " 2> err.txt"), 255) << redirection;
    EXPECT_NE(err().find("Error: a result would overwrite the input image; choose another output name ... (-"),
              std::string::npos)
        << redirection << "\n" << err();
    EXPECT_TRUE(read_bytes(path("in.fits")) == before) << redirection;
    EXPECT_FALSE(exists("-_atrou.fits")) << redirection;
  }
  // Another file there is written.
  EXPECT_EQ(shell(program() + "-t 1 -i 2 in.fits - 1<>other.fits 2> err.txt"), 0) << err();
  EXPECT_EQ(result("other.fits").nl, kSide);
  // With the results named, the standard output takes the progress lines,
  // the parameters printed before the input was read among them.
  for (const char* redirection : {"-v in.fits o 1<>in.fits", "-v in.fits o >>in.fits", "in.fits o 1<>link.fits"}) {
    EXPECT_EQ(shell(program() + "-t 1 -i 2 " + redirection + " 2> err.txt"), 255) << redirection;
    EXPECT_EQ(err(), "Error: the standard output is the input image, which what the run prints would overwrite; "
                     "send it elsewhere ... (-)\n")
        << redirection;
    EXPECT_TRUE(read_bytes(path("in.fits")) == before) << redirection;
    EXPECT_FALSE(exists("o.fits")) << redirection;
  }
}

// A standard error that is the input, by any redirection that keeps its
// bytes (2<>, 2>>), through a link, with the input on the standard input,
// or with the results on the standard output (where the parameters of -v
// are printed before the input is read): the run is refused as the input is
// opened, before the reader prints anything of it (a GIF's note on an
// extension), and the message goes to the standard output, the results'
// one included, or nowhere when that is the input too. The input keeps its
// bytes.
TEST_F(QzMcaStdout, AStandardErrorThatIsTheInputIsRefused) {
  write_fits(path("in.fits"), picture_image());
  const std::string before = read_bytes(path("in.fits"));
  ASSERT_EQ(shell("ln -s in.fits link.fits"), 0);
  const bool gif = write_noted_gif("in.gif");
  const std::string gif_before = gif ? read_bytes(path("in.gif")) : "";
  const std::string refusal =
      "Error: the standard error is the input image, which what the run prints would overwrite; send it elsewhere ... (";
  const struct {
    std::string command;
    const char* message_in;  // empty: nowhere
    const char* named;
  } cases[] = {
      {"-i 1 -g 1e9 in.fits o 2<>in.fits > out.txt", "out.txt", "in.fits"},
      {"-v in.fits o 2>>in.fits > out.txt", "out.txt", "in.fits"},
      {"-v in.fits o 2>>link.fits > out.txt", "out.txt", "in.fits"},
      {"- o < in.fits 2<>in.fits > out.txt", "out.txt", "-"},
      {"-v in.fits - 2>>in.fits > out.txt", "out.txt", "in.fits"},
      {"-v in.fits o >>in.fits 2>&1", "", ""},
      {"-v in.fits - 1<>in.fits 2>&1", "", ""},
      {"in.gif o 2<>in.gif > out.txt", "out.txt", "in.gif"},
  };
  for (const auto& c : cases) {
    if (c.command.find("gif") != std::string::npos && !gif) continue;
    SCOPED_TRACE(c.command);
    std::remove(path("out.txt").c_str());
    EXPECT_EQ(shell(program() + "-t 1 -i 2 " + c.command), 255);
    // The message ends what was printed there; a results' standard output
    // holds nothing else, and none of the parameters held back for the input.
    const std::string message = refusal + c.named + ")\n";
    const std::string printed = *c.message_in != '\0' ? read_bytes(path(c.message_in)) : "";
    if (*c.message_in != '\0' && c.command.find(" - ") != std::string::npos) {
      EXPECT_EQ(printed, message);
    } else if (*c.message_in != '\0') {
      EXPECT_EQ(printed.substr(printed.size() - std::min(printed.size(), message.size())), message);
    }
    EXPECT_TRUE(read_bytes(path("in.fits")) == before);
    if (gif) {
      EXPECT_TRUE(read_bytes(path("in.gif")) == gif_before);
    }
    EXPECT_FALSE(exists("o.fits") || exists("o.gif") || exists("-_atrou.fits"));
  }
  // Another file there takes the progress and the notes.
  EXPECT_EQ(shell(program() + "-t 1 -i 2 -v in.fits - 2>>other.txt > out.fits"), 0);
  EXPECT_EQ(read_bytes(path("other.txt")).rfind("\n\nPARAMETERS: \n\n\nFile Name in = in.fits\n", 0), 0u);
  EXPECT_EQ(result("out.fits").nl, kSide);
}

// With the results on the standard output and the standard error a file,
// the parameters of -v wait until the input is known not to be that file,
// then go out whole and in their place: the standard error holds, byte for
// byte, what a run whose standard error is a pipe (where nothing waits)
// prints, the reader's notes and warnings printed straight to it as the
// input is read, and the warning of a noise level above every coefficient,
// among the lines. A file input is known as it is opened, a pipe too.
TEST_F(QzMcaStdout, TheHeldParametersGoOutWholeAndInOrder) {
  write_fits(path("in.fits"), picture_image());
  const bool gif = write_noted_gif("in.gif");
  // 32-bit integers, which the reader warns it converts.
  std::string ints;
  for (int v : picture()) ints += std::string{0, 0, 0, static_cast<char>(v)};
  write_bytes(path("in_i_32_32.d"), ints);
  const struct {
    const char* source;  // what the program's input comes from
    const char* input;
    const char* noted;  // a line printed straight to the standard error
    bool available;
  } cases[] = {
      {"", "in.gif", "in.gif:  Graphic Control Extension in GIF file.  Ignored.\n", gif},
      {"", "in_i_32_32.d", "WARNING: convert to FLOAT reading in_i_32_32.d\n", true},
      {"cat in_i_32_32.d | ", "-- -_i_32_32.d", "WARNING: convert to FLOAT reading -_i_32_32.d\n", true},
      {"cat in.fits | ", "-", "", true},
  };
  for (const auto& c : cases) {
    if (!c.available) continue;
    SCOPED_TRACE(c.input);
    const std::string run = c.source + program() + "-v -t 1 -i 2 -g 1e9 " + c.input + " -";
    ASSERT_EQ(shell(run + " 2>&1 > out_piped | cat > unheld.txt"), 0);
    ASSERT_EQ(shell(run + " > out_held 2> err.txt"), 0);
    const std::string unheld = read_bytes(path("unheld.txt"));
    EXPECT_EQ(unheld.rfind("\n\nPARAMETERS: \n\n\nFile Name in = ", 0), 0u) << unheld;
    EXPECT_NE(unheld.find(std::string("Linear step descent\n") + c.noted + "Selection: A trous algorithm\n"),
              std::string::npos)
        << unheld;
    EXPECT_NE(unheld.find("\nWarning: no coefficient reaches the last threshold"), std::string::npos) << unheld;
    EXPECT_EQ(err(), unheld);
  }
}

// Standard streams the run cannot use are named for what they are: a closed
// standard input, and a standard output open for reading only.
TEST_F(QzMcaStdout, ClosedOrReadOnlyStandardStreamsAreNamedAsSuch) {
  write_fits(path("in.fits"), picture_image());
  const std::string before = read_bytes(path("in.fits"));
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"- o <&-", "Error: the standard input is closed ... (-)\n"},
      {"-- -_f_32_32.d o <&-", "Error: the standard input is closed ... (-_f_32_32.d)\n"},
      {"in.fits - 1<in.fits",
       "Error: cannot write in file (-: the standard output is open for reading only: it cannot be written)\n"},
      {"in.fits - 1</dev/null",
       "Error: cannot write in file (-: the standard output is open for reading only: it cannot be written)\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shell(program() + "-t 1 -i 2 " + c.args + " 2> err.txt"), 255) << c.args;
    EXPECT_EQ(err(), c.message) << c.args;
    EXPECT_FALSE(exists("o.fits")) << c.args;
    EXPECT_FALSE(exists("o_f_32_32.d")) << c.args;
  }
  EXPECT_TRUE(read_bytes(path("in.fits")) == before);
}
