// Result files written whole or not at all. A writer's bytes go to a new
// file beside the file they will replace (at the end of any chain of links)
// and take its place by a rename once complete, so that a failed write, or a
// failed run, leaves every earlier file, link and device as it was. A
// destination that is no regular file (a device, a FIFO) is written
// directly and never removed. Links are followed only where the kernel's
// rule for shared folders would follow them, so that another user's link
// never redirects a result.
#pragma once

#include <cstdio>
#include <string>

// The rules about who may write where, which callers of these check first.
#include "io/write_permission.h"

// Opens for writing the bytes that will become `file`, or ends the process
// with `status` and `message`, a printf format whose one %s receives
// "(file: reason)" for the name the user typed (io_open_failure). The stream
// must be ended by io_close_output or io_discard_output.
std::FILE* io_open_output_or_exit(const char* typed, const std::string& file, const char* message,
                                  int status = -1);

// Closes an output stream. Its file then takes its place, at once or, while
// outputs are held, at io_commit_outputs. False, with errno set, when the
// close or the rename failed; the new file is then removed.
bool io_close_output(std::FILE* stream);

// Closes an output stream that failed and removes the new file it wrote.
void io_discard_output(std::FILE* stream);

// For a writer that creates its file by name (the FITS library): the name
// to write instead of `file`, inside a folder of its own that no other user
// may enter, or empty, with errno set, when the file cannot be written. The
// name begins with "/" or "./"; the writer must take it as it stands (the
// FITS library's ffdkinit, not ffinit, which reads brackets, parentheses and
// other characters of a name as its own syntax).
// io_end_named_output then puts a complete file in place, or copies it onto
// the device that `file` is (false, with errno set, when that fails), or
// removes an incomplete one; the folder goes with it.
std::string io_begin_named_output(const std::string& file);
bool io_end_named_output(const std::string& written, bool complete);

// Between these, completed outputs wait beside their places, so that a
// run's results appear together or not at all; a later output to the same
// place replaces the earlier one. Holds nest: only the outermost commit
// renames. A rename that fails puts back every file the commit had already
// replaced, then ends the process naming the file (and, for an earlier file
// that could not be put back, the name that keeps it). Stop signals wait
// while the commit runs.
void io_hold_outputs();
void io_commit_outputs();

// While one lives, the outputs this thread completes take their places at
// once even while outputs are held: debug images meant to be watched as a
// run goes on.
class OutputsPlacedAtOnce {
 public:
  OutputsPlacedAtOnce();
  ~OutputsPlacedAtOnce();
  OutputsPlacedAtOnce(const OutputsPlacedAtOnce&) = delete;
  OutputsPlacedAtOnce& operator=(const OutputsPlacedAtOnce&) = delete;
};

// Asks the folder of `place` for a new file, made as an output's would be,
// and removes it at once. 0 when both succeed, else the errno of the
// failure, with `left` naming the new file when it could not be removed.
int io_try_new_file_beside(const std::string& place, std::string& left);
