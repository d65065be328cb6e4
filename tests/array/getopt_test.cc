// Option scanning: grouped letters, attached and separate arguments, errors,
// and where the positional words start.
#include "array/getopt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The MCA tool's option string.
const char* const kToolOptions = "c:lHMNIWLC:B:Xa:PG:s:S:wu:U:t:KOi:b:g:n:vzZ";

struct Case {
  std::vector<std::string> words;  // after the program name
  std::string events;              // per call: the letter, with "=arg" when OptArg is set
  int end_index;                   // OptInd once -1 is returned
  std::string errors = "";         // standard error
  int last_opt = 0;                // OptOpt at the end, when not 0
  int opt_err = 1;
  const char* opts = kToolOptions;
};

}  // namespace

TEST(GetOpt, ScansLikeTheStatedRules) {
  const Case cases[] = {
      {{"in.fits", "out"}, "", 1},
      {{}, "", 1},
      {{"-v", "-", "out"}, "v ", 2},            // "-" stays a positional word
      {{"-v", "--", "-z", "out"}, "v ", 3},     // "--" is skipped, -z is positional
      {{"-vz", "-Z", "in", "out"}, "v z Z ", 3},
      {{"-n5", "in"}, "n=5 ", 2},
      {{"-n", "5", "in"}, "n=5 ", 3},
      {{"-n", "-5", "in"}, "n=-5 ", 3},
      // A group may end in a letter that takes the rest of the word; a letter
      // without argument clears OptArg.
      {{"-vn12", "-t", "3", "-Oi", "7", "-v", "in", "out"}, "v n=12 t=3 O i=7 v ", 7},
      {{"-qv", "in"}, "? v ", 2, "qz_mca: unknown option, -q\n", 'v'},
      {{"-vq", "in"}, "v ? ", 2, "qz_mca: unknown option, -q\n", 'q'},
      {{"-:", "in"}, "? ", 2, "qz_mca: unknown option, -:\n", ':'},
      {{"-v", "-n"}, "v ? ", 3, "qz_mca: argument missing for -n\n", 'n'},
      {{"-q", "-n"}, "? ? ", 3, "", 'n', 0},  // silenced: the same returns
      {{"-\xe9", "in"}, "? ", 2, "qz_mca: unknown option, -\xe9\n",
       static_cast<signed char>('\xe9'), 1, "v"},  // sign-extended
  };
  for (const Case& c : cases) {
    std::vector<std::string> words = c.words;
    words.insert(words.begin(), "qz_mca");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    OptInd = 1;
    OptErr = c.opt_err;
    OptOpt = 0;
    std::string events;
    testing::internal::CaptureStderr();
    for (int guard = 0; guard < 100; guard++) {
      int letter = GetOpt(static_cast<int>(words.size()), argv.data(), c.opts);
      if (letter == -1) break;
      events += static_cast<char>(letter);
      if (letter != '?' && OptArg != nullptr) events += "=" + std::string(OptArg);
      events += " ";
    }
    std::string errors = testing::internal::GetCapturedStderr();
    std::string what = words.size() > 1 ? words[1] : "(none)";
    EXPECT_EQ(events, c.events) << what;
    EXPECT_EQ(OptInd, c.end_index) << what;
    EXPECT_EQ(errors, c.errors) << what;
    if (c.last_opt != 0) {
      EXPECT_EQ(OptOpt, c.last_opt) << what;
    }
  }
  OptErr = 1;
}
