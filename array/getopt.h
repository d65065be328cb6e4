// The system's scanner of single-letter command-line options. All state is
// global, so it serves one scan of one argument vector at a time; set OptInd
// back to 1 before scanning again.
#pragma once

// Non-zero: unknown options and missing arguments are reported on stderr.
extern int OptErr;
// Index of the argument word being scanned; after the scan, the first
// positional word.
extern int OptInd;
// The option character examined by the last call that reached one.
extern int OptOpt;
// Argument of the last option that takes one; null after one that takes none.
extern char* OptArg;

// Returns the next option letter, '?' for an unknown letter or a missing
// argument, or -1 when the options are over. A letter followed by ':' in
// `opts` takes an argument, attached (-n5) or as the next word (-n 5), even
// when that word begins with '-'. "-" alone ends the options and stays for the
// caller; "--" ends them and is skipped. Never ends the process.
int GetOpt(int argc, char* const argv[], const char* opts);
