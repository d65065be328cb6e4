// Option scanning: grouped letters, attached and separate arguments, errors,
// and where the positional words start.
#include "array/getopt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The MCA tool's option string.
const char* const kToolOptions = "c:lHMNIWLC:B:Xa:PG:s:S:wu:U:t:KOi:b:g:n:vzZ";

struct Scan {
  std::string events;  // one entry per call: the letter, with "=arg" when set
  std::string errors;  // what went to standard error
  int end_index = 0;   // OptInd after -1
};

// Scans the words (the program name is prepended) until -1; the scanner's
// own position is back at the start of a word afterwards.
Scan scan(std::vector<std::string> words, const char* opts = kToolOptions, int opt_err = 1) {
  words.insert(words.begin(), "qz_mca");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  OptInd = 1;
  OptErr = opt_err;
  Scan result;
  testing::internal::CaptureStderr();
  for (int guard = 0; guard < 100; guard++) {
    int c = GetOpt(static_cast<int>(words.size()), argv.data(), opts);
    if (c == -1) break;
    result.events += static_cast<char>(c);
    if (c != '?' && OptArg != nullptr) result.events += "=" + std::string(OptArg);
    result.events += " ";
  }
  result.errors = testing::internal::GetCapturedStderr();
  result.end_index = OptInd;
  OptErr = 1;
  return result;
}

}  // namespace

TEST(GetOpt, NoOptionsLeavesIndexAtTheFirstWord) {
  Scan s = scan({"in.fits", "out"});
  EXPECT_EQ(s.events, "");
  EXPECT_EQ(s.end_index, 1);
  EXPECT_EQ(scan({}).end_index, 1);
}

TEST(GetOpt, DashAloneAndDoubleDashEndTheOptions) {
  Scan dash = scan({"-v", "-", "out"});
  EXPECT_EQ(dash.events, "v ");
  EXPECT_EQ(dash.end_index, 2);  // "-" stays a positional word
  Scan dashes = scan({"-v", "--", "-z", "out"});
  EXPECT_EQ(dashes.events, "v ");
  EXPECT_EQ(dashes.end_index, 3);  // "--" is skipped, -z is positional
}

TEST(GetOpt, GroupedLettersComeBackOneByOne) {
  Scan s = scan({"-vz", "-Z", "in", "out"});
  EXPECT_EQ(s.events, "v z Z ");
  EXPECT_EQ(s.end_index, 3);
}

TEST(GetOpt, AttachedAndSeparateArgumentsAreTheSame) {
  EXPECT_EQ(scan({"-n5", "in"}).events, "n=5 ");
  EXPECT_EQ(scan({"-n", "5", "in"}).events, "n=5 ");
  EXPECT_EQ(scan({"-n", "-5", "in"}).events, "n=-5 ");
  EXPECT_EQ(scan({"-n", "-5", "in"}).end_index, 3);
  // A group may end in a letter that takes the rest of the word; a letter
  // without argument clears OptArg.
  Scan s = scan({"-vn12", "-t", "3", "-Oi", "7", "-v", "in", "out"});
  EXPECT_EQ(s.events, "v n=12 t=3 O i=7 v ");
  EXPECT_EQ(s.end_index, 7);
  EXPECT_EQ(s.errors, "");
}

TEST(GetOpt, UnknownLetterIsReportedAndTheGroupGoesOn) {
  Scan s = scan({"-qv", "in"});
  EXPECT_EQ(s.events, "? v ");
  EXPECT_EQ(s.errors, "qz_mca: unknown option, -q\n");
  EXPECT_EQ(OptOpt, 'v');
  EXPECT_EQ(s.end_index, 2);
  Scan last = scan({"-vq", "in"});
  EXPECT_EQ(last.events, "v ? ");
  EXPECT_EQ(last.end_index, 2);
}

TEST(GetOpt, ColonIsNeverAnOptionLetter) {
  Scan s = scan({"-:", "in"});
  EXPECT_EQ(s.events, "? ");
  EXPECT_EQ(s.errors, "qz_mca: unknown option, -:\n");
}

TEST(GetOpt, MissingArgumentIsReportedAndEndsTheScan) {
  Scan s = scan({"-v", "-n"});
  EXPECT_EQ(s.events, "v ? ");
  EXPECT_EQ(s.errors, "qz_mca: argument missing for -n\n");
  EXPECT_EQ(s.end_index, 3);  // the argument count
  EXPECT_EQ(OptOpt, 'n');
}

TEST(GetOpt, SilencedErrorsGiveTheSameReturns) {
  Scan s = scan({"-q", "-n"}, kToolOptions, 0);
  EXPECT_EQ(s.events, "? ? ");
  EXPECT_EQ(s.errors, "");
}

TEST(GetOpt, SignedCharactersAreSignExtended) {
  Scan s = scan({"-\xe9", "in"}, "v");
  EXPECT_EQ(s.events, "? ");
  EXPECT_EQ(OptOpt, static_cast<int>(static_cast<signed char>('\xe9')));
  EXPECT_LT(OptOpt, 0);
}
