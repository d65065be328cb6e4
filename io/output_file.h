// Result files written whole or not at all. A writer's bytes go to a new
// file beside the file they will replace (at the end of any chain of links)
// and take its place by a rename once complete, so that a failed write, or a
// failed run, leaves every earlier file, link and device as it was. A
// destination that is no regular file (a device, a FIFO) is written
// directly and never removed.
#pragma once

#include <cstdio>
#include <string>

// The file a chain of links at `path` ends at (path itself when it is no
// link); a relative target is taken from its link's folder.
std::string io_link_end(const std::string& path);

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

// For a writer that creates its file by name (the FITS library, given
// "!" + the name, so that it replaces the empty file made for it): the name
// to write instead of `file`, or `file` itself for a device. Empty, with
// errno set, when the file cannot be written. io_end_named_output then puts
// a complete file in place (false, with errno set, when that fails), or
// removes an incomplete one.
std::string io_begin_named_output(const std::string& file);
bool io_end_named_output(const std::string& written, bool complete);

// Between these, completed outputs wait beside their places, so that a
// run's results appear together or not at all; a later output to the same
// place replaces the earlier one. Holds nest: only the outermost commit
// renames. A rename that fails ends the process naming the file.
void io_hold_outputs();
void io_commit_outputs();

// The error that writing `file` through io_open_output_or_exit would meet
// first, or 0, found without touching the file: its folder is asked for a
// new file (created and removed at once). `leads_to` receives the end of
// the link chain when file is a link.
int io_output_error(const std::string& file, std::string& leads_to);
