// Single-letter option scanner: grouped letters, attached and separate
// arguments, "-" and "--".
#include "array/getopt.h"

#include <cstdio>
#include <cstring>

int OptErr = 1;
int OptInd = 1;
int OptOpt = 0;
char* OptArg = nullptr;

namespace {

// Position of the next character within word OptInd; 1 at the start of a word
// (the first letter after the '-').
int sp = 1;

void report(const char* program, const char* text, char c) {
  if (OptErr) std::fprintf(stderr, "%s%s%c\n", program, text, c);
}

// Moves to the next character of the current word, or to the next word when
// this one ends.
void advance_in_word(char* const argv[]) {
  if (argv[OptInd][++sp] == '\0') {
    OptInd++;
    sp = 1;
  }
}

}  // namespace

int GetOpt(int argc, char* const argv[], const char* opts) {
  if (sp == 1) {
    if (OptInd >= argc || argv[OptInd][0] != '-' || argv[OptInd][1] == '\0') return -1;
    if (std::strcmp(argv[OptInd], "--") == 0) {
      OptInd++;
      return -1;
    }
  }
  // Characters are handled as signed chars, sign-extended on return.
  signed char c = static_cast<signed char>(argv[OptInd][sp]);
  OptOpt = c;
  const char* known = c == ':' ? nullptr : std::strchr(opts, c);
  if (known == nullptr) {
    report(argv[0], ": unknown option, -", c);
    advance_in_word(argv);
    return '?';
  }
  if (known[1] != ':') {
    advance_in_word(argv);
    OptArg = nullptr;
    return c;
  }
  if (argv[OptInd][sp + 1] != '\0') {
    OptArg = &argv[OptInd++][sp + 1];
  } else if (++OptInd >= argc) {
    report(argv[0], ": argument missing for -", c);
    sp = 1;
    return '?';
  } else {
    OptArg = argv[OptInd++];
  }
  sp = 1;
  return c;
}
