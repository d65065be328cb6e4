// The files image reads took their bytes from, recorded by each reader as it
// opens one, so that a program tells its input among the files it is about
// to replace by the file actually opened, and never by working out again
// where a name would lead (an added extension, a library prefix or HDU
// selector, a compressed sibling, a file that could not be opened and the
// next one that could).
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

// Records the file behind a stream a reader has just opened for an image's
// bytes (`name` as opened), when it is a regular file: a pipe or a terminal
// is no file that a result could replace. A standard error that is this
// file ends the process before anything is printed about it
// (io/standard_output.h); any other input releases the prints held back.
void io_note_input(std::FILE* stream, const std::string& name);

// The standard input for a read of the image `name`, recorded as above. A
// standard input that was closed when the process started is refused,
// naming `name`: reading it would find nothing, or a file the process
// opened since.
std::FILE* io_standard_input(const char* name);

// True when a regular file of this device and inode was recorded.
bool io_was_read(dev_t device, ino_t inode);
